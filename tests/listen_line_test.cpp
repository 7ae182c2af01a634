// vek-cli listen against a real master and real slaves, none of them written here: mbpoll polls
// the demo slave (libmodbus) and pymodbus's RTU server through a tap that copies every byte to the
// listener's line, as a third station on a bus hears them. What the listener prints must be what
// mbpoll asked and got, one for one.
#include "bus_tap.h"
#include "slave_process.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <csignal>
#include <functional>
#include <map>
#include <memory>
#include <random>

namespace {

// One run of mbpoll: a table (-t 0 coils, 1 discrete inputs, 3 input, 4 holding registers), a
// station, a reference counting from 1, a read's count or a write's values.
struct Poll
{
    int table, station, ref, count;
    std::vector<int> write;
};
using Pick = std::function<int(int, int)>;

// An exchange as either side tells it: "1 fn 3 40001 x3 reply 100,4660,0".
std::string Said(int station, int function, const std::string& ref, int count,
                 const std::string& outcome, const std::string& what)
{
    return std::to_string(station) + " fn " + std::to_string(function) + " " + ref + " x" +
           std::to_string(count) + " " + outcome + " " + what;
}

std::string MbpollSays(const Poll& p, const std::string& device)
{
    QStringList args{"-m", "rtu",
                     "-P", "none",
                     "-b", "19200",
                     "-1", "-q",
                     "-a", QString::number(p.station),
                     "-r", QString::number(p.ref),
                     "-t", QString::number(p.table),
                     "-o", p.station == 1 ? "1" : "0.1"};
    if (p.write.empty())
        args << "-c" << QString::number(p.count);
    args << QString::fromStdString(device);
    for (const int v : p.write)
        args << QString::number(v);
    QProcess mbpoll;
    mbpoll.start("mbpoll", args);
    mbpoll.waitForFinished(10000);
    const QString out = mbpoll.readAllStandardOutput(), err = mbpoll.readAllStandardError();
    const int n = static_cast<int>(p.write.size());
    const int function = p.table == 0   ? (n == 0   ? 1
                                           : n == 1 ? 5
                                                    : 15)
                         : p.table == 4 ? (n == 0   ? 3
                                           : n == 1 ? 6
                                                    : 16)
                                        : p.table + 1;
    const std::string ref = QString::asprintf("%d%04d", p.table, p.ref).toStdString();
    const auto said = [&](const std::string& outcome, const std::string& what) {
        return Said(p.station, function, ref, n ? n : p.count, outcome, what);
    };
    if (mbpoll.exitCode() != 0)
        return err.contains("timed out")
                   ? said("no_answer", "")
                   : said("exception", err.section("failed: ", 1).trimmed().toStdString());
    // "[2]: \t65534 (-2)": the signed value in brackets where mbpoll gives one.
    QStringList values;
    for (const QString& line : out.split('\n'))
        if (line.startsWith('['))
            values << line.section('\t', 1).section('(', -1).remove(')');
    for (const int v : p.write)
        values << QString::number(v);
    return said("reply", values.join(',').toStdString());
}

// A field of one JSON line as printed: a number, a text without its quotes, an array's insides.
std::string Field(const std::string& json, const std::string& name)
{
    std::size_t from = json.find("\"" + name + "\":") + name.size() + 3;
    const char open = json[from];
    from += open == '"' || open == '[' ? 1 : 0;
    const std::size_t to = std::min(json.find(open == '"'   ? '"'
                                              : open == '[' ? ']'
                                                            : ',',
                                              from),
                                    json.find('}', from));
    return json.substr(from, to - from);
}

std::string ListenerSays(const std::string& json)
{
    const std::string outcome = Field(json, "outcome");
    return Said(std::stoi(Field(json, "station")), std::stoi(Field(json, "function")),
                Field(json, "ref"), std::stoi(Field(json, "count")), outcome,
                outcome == "exception"                         ? Field(json, "exception_name")
                : json.find("\"values\"") == std::string::npos ? ""
                                                               : Field(json, "values"));
}

// Starts vek-cli listen on the tap and waits until it listens.
void Start(QProcess& listener, const BusTap& tap, QStringList more = {})
{
    listener.setReadChannel(QProcess::StandardError);
    listener.start(VEK_CLI, QStringList{"listen", QString::fromStdString(tap.Listener())} + more);
    ASSERT_TRUE(listener.waitForReadyRead(10000));
}

// `count` polls of `slave`, each of a kind drawn at random, through the tap while vek-cli listens;
// both accounts must agree.
void Oracle(const std::string& slave, int count, unsigned seed,
            const std::vector<std::function<Poll(const Pick&)>>& kinds)
{
    std::mt19937 random(seed);
    const Pick pick = [&](int least, int most) {
        return least + static_cast<int>(random() % (most - least + 1));
    };
    const BusTap tap(slave);
    QProcess listener;
    Start(listener, tap, {"--json"});
    std::vector<std::string> asked;
    std::map<std::string, int> outcomes;
    for (int i = 0; i < count; ++i) {
        asked.push_back(MbpollSays(
            kinds[static_cast<std::size_t>(pick(0, static_cast<int>(kinds.size()) - 1))](pick),
            tap.Master()));
        ++outcomes[QString::fromStdString(asked.back()).section(' ', 5, 5).toStdString()];
    }
    // After a second an unanswered request is told as such, not as cut off by the end.
    QThread::msleep(1200);
    ::kill(static_cast<pid_t>(listener.processId()), SIGINT);
    ASSERT_TRUE(listener.waitForFinished(10000));
    EXPECT_EQ(listener.exitCode(), 0);
    std::vector<std::string> heard;
    for (const QByteArray& line : listener.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            heard.push_back(ListenerSays(line.toStdString()));
    EXPECT_EQ(heard, asked);
    EXPECT_TRUE(listener.readAllStandardError().contains(
        "replies with no request: 0; bytes that make no frame: 0"));
    EXPECT_EQ(tap.Dropped(), 0u);
    std::printf("%d polls:", count);
    for (const auto& [outcome, n] : outcomes)
        std::printf(" %s %d", outcome.c_str(), n);
    std::printf("\n");
}

// Holding registers 40001..42000 keep what is written, 30001..30010 hold fixed values, every other
// address answers exception 02, and only station 1 answers.
TEST(ListenLine, HearsMbpollAndTheDemoSlaveOneForOne)
{
    const SlaveProcess slave;
    // clang-format off
    Oracle(slave.Device(), 200, 22, {
        [](const Pick& p) { return Poll{4, 1, p(1, 1990), p(1, 10), {}}; },
        [](const Pick& p) { const int ref = p(1, 10); return Poll{3, 1, ref, p(1, 11 - ref), {}}; },
        [](const Pick& p) { return Poll{4, 1, p(1, 1990), 1, {p(0, 30000)}}; },
        [](const Pick& p) { return Poll{4, 1, p(1, 1990), 3, {p(0, 30000), p(0, 9), p(0, 30000)}}; },
        [](const Pick& p) { return Poll{p(0, 1) ? 3 : 0, 1, p(11, 99), p(1, 3), {}}; },
        [](const Pick& p) { return Poll{4, p(2, 9), 1, 1, {}}; },
        [](const Pick&) { return Poll{4, 1, 1, 125, {}}; },
    });
    // clang-format on
}

// 64 of each table at station 1, exception 02 beyond them.
TEST(ListenLine, HearsMbpollAndPymodbusOneForOne)
{
    const SlaveProcess slave({PYMODBUS_SLAVE}, "/usr/bin/python3");
    // clang-format off
    const auto table = [](const Pick& p) { return std::vector<int>{0, 1, 3, 4}[static_cast<std::size_t>(p(0, 3))]; };
    Oracle(slave.Device(), 100, 43, {
        [&](const Pick& p) { return Poll{table(p), 1, p(1, 60), p(1, 4), {}}; },
        [](const Pick& p) { return Poll{p(0, 1) ? 0 : 4, 1, p(1, 60), 1, {p(0, 1)}}; },
        [](const Pick& p) { return Poll{p(0, 1) ? 0 : 4, 1, p(1, 60), 3, {p(0, 1), p(0, 1), 1}}; },
        [&](const Pick& p) { return Poll{table(p), 1, p(66, 200), 1, {}}; },
        [&](const Pick& p) { return Poll{table(p), 2, 1, 1, {}}; },
    });
    // clang-format on
}

// The far end gone, as an adapter pulled out: exit 4 with what was heard and the counts so far.
TEST(ListenLine, AnUnpluggedLineEndsItWithTheCountsSoFar)
{
    const SlaveProcess slave;
    auto tap = std::make_unique<BusTap>(slave.Device());
    QProcess listener;
    Start(listener, *tap);
    EXPECT_EQ(MbpollSays({4, 1, 1, 2, {}}, tap->Master()), "1 fn 3 40001 x2 reply 100,4660");
    tap.reset();
    ASSERT_TRUE(listener.waitForFinished(10000));
    EXPECT_EQ(listener.exitCode(), 4);
    EXPECT_NE(listener.readAllStandardOutput().indexOf("station 1  read 40001-40002  ->  100 4660"),
              -1);
    const QString err = listener.readAllStandardError();
    EXPECT_TRUE(err.contains("device disconnected or closed") &&
                err.contains(QRegularExpression("\\n +1 +1 +1 +0 +0 +0 ")))
        << err.toStdString();
}

} // namespace
