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
#include <map>
#include <memory>
#include <random>
#include <sstream>

namespace {

// One run of mbpoll: a table (-t 0 coils, 1 discrete inputs, 3 input, 4 holding registers), a
// station, a reference counting from 1, a read's count or a write's values.
struct Poll
{
    int table, station, ref, count;
    std::vector<int> write;
};

// An exchange as both sides tell it: "1 fn 3 40001 x3 reply 100,4660,0".
std::string Said(int station, int function, const std::string& ref, int count,
                 const std::string& outcome, const std::string& what)
{
    return std::to_string(station) + " fn " + std::to_string(function) + " " + ref + " x" +
           std::to_string(count) + " " + outcome + " " + what;
}

std::string MbpollSays(const Poll& p, const std::string& device)
{
    QStringList args{"-m", "rtu", "-P", "none", "-b", "19200", "-1", "-q", "-a",
                     QString::number(p.station), "-r", QString::number(p.ref), "-t",
                     QString::number(p.table), "-o", p.station == 1 ? "1" : "0.1"};
    if (p.write.empty())
        args << "-c" << QString::number(p.count);
    args << QString::fromStdString(device);
    for (const int v : p.write)
        args << QString::number(v);
    QProcess mbpoll;
    mbpoll.start("mbpoll", args);
    if (!mbpoll.waitForFinished(10000))
        return "mbpoll did not end";
    const QString out = mbpoll.readAllStandardOutput(), err = mbpoll.readAllStandardError();
    const bool write = !p.write.empty();
    const int function = p.table == 0   ? (!write ? 1 : p.write.size() == 1 ? 5 : 15)
                         : p.table == 1 ? 2
                         : p.table == 3 ? 4
                                        : (!write ? 3 : p.write.size() == 1 ? 6 : 16);
    const std::string ref = QString::asprintf("%d%04d", p.table, p.ref).toStdString();
    const int count = write ? static_cast<int>(p.write.size()) : p.count;
    std::string values;
    if (mbpoll.exitCode() != 0) {
        if (err.contains("Connection timed out"))
            return Said(p.station, function, ref, count, "no_answer", "");
        return Said(p.station, function, ref, count, "exception",
                    err.section("failed: ", 1).trimmed().toStdString());
    }
    // "[2]: \t65534 (-2)": the signed value in brackets where mbpoll gives one.
    for (const QString& line : out.split('\n')) {
        if (!line.startsWith('['))
            continue;
        const QString value = line.section('\t', 1);
        values += (values.empty() ? "" : ",") +
                  (value.contains('(') ? value.section('(', 1).section(')', 0, 0) : value).toStdString();
    }
    for (const int v : p.write)
        values += (values.empty() ? "" : ",") + std::to_string(v);
    return Said(p.station, function, ref, count, "reply", values);
}

// A field of one JSON line, as printed: a number, a quoted text without its quotes, an array's
// insides.
std::string Field(const std::string& json, const std::string& name)
{
    const std::size_t at = json.find("\"" + name + "\":");
    if (at == std::string::npos)
        return "";
    std::size_t from = at + name.size() + 3;
    const char open = json[from];
    const char close = open == '"' ? '"' : open == '[' ? ']' : ',';
    from += open == '"' || open == '[' ? 1 : 0;
    const std::size_t to = std::min(json.find(close, from), json.find('}', from));
    return json.substr(from, to - from);
}

std::string ListenerSays(const std::string& json)
{
    const std::string outcome = Field(json, "outcome");
    return Said(std::stoi(Field(json, "station")), std::stoi(Field(json, "function")),
                Field(json, "ref"), std::stoi(Field(json, "count")), outcome,
                outcome == "exception" ? Field(json, "exception_name") : Field(json, "values"));
}

// Polls `slave` through the tap while vek-cli listens, and compares both accounts.
void Oracle(const std::string& slave, const std::vector<Poll>& polls)
{
    const BusTap tap(slave);
    QProcess listener;
    listener.setReadChannel(QProcess::StandardError);
    listener.start(VEK_CLI, {"listen", QString::fromStdString(tap.Listener()), "--json"});
    std::string err;
    while (err.find("listening on") == std::string::npos && listener.waitForReadyRead(10000))
        err += listener.readAllStandardError().toStdString();
    ASSERT_NE(err.find("listening on"), std::string::npos) << err;

    std::vector<std::string> asked;
    std::map<std::string, int> outcomes;
    for (const Poll& poll : polls) {
        asked.push_back(MbpollSays(poll, tap.Master()));
        std::istringstream words(asked.back());
        std::string word;
        for (int i = 0; i < 6; ++i)
            words >> word;
        ++outcomes[word];
    }
    // A request unanswered at the end is told apart from one cut off by the end after a second.
    QThread::msleep(1200);
    ::kill(static_cast<pid_t>(listener.processId()), SIGINT);
    ASSERT_TRUE(listener.waitForFinished(10000));
    EXPECT_EQ(listener.exitCode(), 0);
    std::vector<std::string> heard;
    for (const QByteArray& line : listener.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            heard.push_back(ListenerSays(line.toStdString()));
    err += listener.readAllStandardError().toStdString();
    EXPECT_EQ(heard, asked);
    EXPECT_NE(err.find("replies with no request: 0; bytes that make no frame: 0"), std::string::npos) << err;
    EXPECT_EQ(tap.Dropped(), 0u);
    std::string counts;
    for (const auto& [outcome, n] : outcomes)
        counts += " " + outcome + " " + std::to_string(n);
    std::printf("%zu polls:%s\n", polls.size(), counts.c_str());
}

TEST(ListenLine, HearsMbpollAndTheDemoSlaveOneForOne)
{
    std::mt19937 random(22);
    const auto pick = [&](int least, int most) {
        return least + static_cast<int>(random() % static_cast<unsigned>(most - least + 1));
    };
    // Holding registers 40001..42000 keep what is written, 30001..30010 hold fixed values, every
    // other address answers exception 02; only station 1 answers.
    std::vector<Poll> polls;
    for (int i = 0; i < 200; ++i) {
        switch (pick(0, 7)) {
        case 0:
        case 1:
            polls.push_back({4, 1, pick(1, 1990), pick(1, 10), {}});
            break;
        case 2: {
            const int ref = pick(1, 10);
            polls.push_back({3, 1, ref, pick(1, 11 - ref), {}});
            break;
        }
        case 3:
            polls.push_back({4, 1, pick(1, 1990), 1, {pick(0, 30000)}});
            break;
        case 4:
            polls.push_back({4, 1, pick(1, 1990), 3, {pick(0, 30000), pick(0, 9), pick(0, 30000)}});
            break;
        case 5:
            polls.push_back({pick(0, 1) ? 3 : 0, 1, pick(11, 99), pick(1, 3), {}});
            break;
        case 6:
            polls.push_back({4, pick(2, 9), 1, 1, {}});
            break;
        default:
            polls.push_back({4, 1, 1, 125, {}});
            break;
        }
    }
    const SlaveProcess slave;
    Oracle(slave.Device(), polls);
}

TEST(ListenLine, HearsMbpollAndPymodbusOneForOne)
{
    std::mt19937 random(43);
    const auto pick = [&](int least, int most) {
        return least + static_cast<int>(random() % static_cast<unsigned>(most - least + 1));
    };
    // 64 of each table at station 1; beyond them exception 02.
    std::vector<Poll> polls;
    for (int i = 0; i < 100; ++i) {
        const int table = std::vector<int>{0, 1, 3, 4}[pick(0, 3)];
        const bool writable = table == 0 || table == 4;
        switch (pick(0, 5)) {
        case 0:
        case 1:
            polls.push_back({table, 1, pick(1, 60), pick(1, 4), {}});
            break;
        case 2:
            polls.push_back({writable ? table : 4, 1, pick(1, 60), 1, {pick(0, 1)}});
            break;
        case 3:
            polls.push_back({writable ? table : 0, 1, pick(1, 60), 3, {pick(0, 1), pick(0, 1), 1}});
            break;
        case 4:
            polls.push_back({table, 1, pick(66, 200), 1, {}});
            break;
        default:
            polls.push_back({table, 2, 1, 1, {}});
            break;
        }
    }
    const SlaveProcess slave({PYMODBUS_SLAVE}, "/usr/bin/python3");
    Oracle(slave.Device(), polls);
}

// The far end gone, as an adapter pulled out: exit 4 with what was heard and the counts so far.
TEST(ListenLine, AnUnpluggedLineEndsItWithTheCountsSoFar)
{
    const SlaveProcess slave;
    auto tap = std::make_unique<BusTap>(slave.Device());
    QProcess listener;
    listener.start(VEK_CLI, {"listen", QString::fromStdString(tap->Listener())});
    listener.setReadChannel(QProcess::StandardError);
    ASSERT_TRUE(listener.waitForReadyRead(10000));
    EXPECT_EQ(MbpollSays({4, 1, 1, 2, {}}, tap->Master()), "1 fn 3 40001 x2 reply 100,4660");
    tap.reset();
    ASSERT_TRUE(listener.waitForFinished(10000));
    EXPECT_EQ(listener.exitCode(), 4);
    EXPECT_NE(listener.readAllStandardOutput().indexOf("station 1  read 40001-40002  ->  100 4660"), -1);
    const QString err = listener.readAllStandardError();
    EXPECT_TRUE(err.contains("device disconnected or closed") && err.contains(QRegularExpression(
                    "\\n +1 +1 +1 +0 +0 +0 "))) << err.toStdString();
}

} // namespace
