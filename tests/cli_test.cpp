// vek-cli as a script runs it: argument lines against the demo slave and scripted devices on
// pseudo-terminals, with their output and exit status.
#include "device_server.h"
#include "modbus/frame_codec.h"
#include "pty_peer.h"
#include "serial/exchange.h"
#include "slave_process.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QXmlStreamReader>

#include <csignal>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include <pty.h>
#include <unistd.h>

namespace {

struct Ran
{
    int status = -1;
    std::string out;
    std::string err;
};

// Runs vek-cli on an argument line; $NAME words stand for devices.
Ran Cli(const std::string& line, const std::map<std::string, std::string>& devices,
        QProcess& process)
{
    QStringList args;
    std::istringstream words(line);
    for (std::string word; words >> word;)
        args << QString::fromStdString(devices.contains(word) ? devices.at(word) : word);
    if (devices.contains("$S")) {
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert("VEK_COM1", QString::fromStdString(devices.at("$S")));
        process.setProcessEnvironment(env);
    }
    process.start(VEK_CLI, args);
    process.waitForFinished(30000);
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput().toStdString(),
            process.readAllStandardError().toStdString()};
}

Bytes WithCrc(Bytes bytes)
{
    const Crc crc = Crc16(bytes);
    bytes.insert(bytes.end(), {crc.CrcLo, crc.CrcHi});
    return bytes;
}

struct Case
{
    std::string line;
    int status;
    std::string out; // stdout contains it
    std::string err; // stderr contains it
};

// $S is the demo slave (also COM1); $Q a device that stays silent: the lines refused hand it
// nothing.
TEST(Cli, ArgumentLines)
{
    const SlaveProcess slave;
    const PtyPeer quiet;
    // $W answers a write with another correct frame, a holding register read with one register
    // whatever the count, an input register read with a wrong CRC; $N never.
    const PtyPeer wrong({}, [](const Bytes& request, const termios&) {
        return PtyAnswer{.reply = request[1] == 0x06   ? WithCrc({0x01, 0x06, 0x00, 0x09, 0x00, 0x01})
                                  : request[1] == 0x03 ? WithCrc({0x01, 0x03, 0x02, 0x00, 0x2A})
                                                       : Bytes{0x01, 0x04, 0x02, 0x00, 0x2A, 0, 0}};
    });
    const PtyPeer none;
    // $T is the demo slave behind a device server.
    const DeviceServer server(Terminal(slave.Device()));
    const std::map<std::string, std::string> devices{{"$S", slave.Device()},
                                                     {"$Q", quiet.Device()},
                                                     {"$W", wrong.Device()},
                                                     {"$N", none.Device()},
                                                     {"$T", server.Address()}};
    const std::string json =
        R"j({"command":"read","outcome":"value","port":")j" + slave.Device() +
        R"j(","speed":19200,"parity":"none","station":1,"ref":30002,"wait":0.2,"shown":" 42",)j"
        R"j("value":42,"unsigned":42,"sent":"01 04 00 01 00 01 60 0A",)j"
        R"j("received":"01 04 02 00 2A 38 EF","received_count":7,)j";
    const Case cases[] = {
        {"read $S 30002", 0, " 42\n", ""},
        {"read COM1 &H7532 --station &H1", 0, " 42\n", ""},
        {"read $S 30003 --speed 9600 --parity even --wait 0.3", 0, "-2\n", ""},
        {"read $S 30100", 3, "CMDErr\n", ""},
        {"read $S 30002 --station 2", 1, "Noans\n", ""},
        {"read $S 30002 -v", 0, "Received 7 bytes: 01 04 02 00 2A 38 EF\nValue 42 (unsigned 42",
         ""},
        {"read $S 30002 --json", 0, json, ""},
        {"read $S 30003 --json", 0, R"("shown":"-2","value":-2,"unsigned":65534)", ""},
        {"read $S 30002 --wait 60", 0, " 42\n", ""},
        {"read $S 30002 --whole-wait -v", 0, "\nWaited the whole 0.2 s", ""},
        {"read $S 30002 -v", 0, "\nWhole reply after ", ""},
        {"write $W 40010 0", 5, "The reply is not the request sent back", ""},
        {"read $W 30002", 2, "CRCErr\n", ""},
        {"read $W 40001 --count 2", 5, "WrongReply\n", ""},
        {"read $N 30002 --wait 0.05 --retries 2 -v", 1, "No answer within 0.05 s\nTried 3 times", ""},
        {R"(read ./vek\none 30002 --json)", 4, R"("port":"./vek\\none")", ""},
        {"write $S 40010 70000", 0, "Sent 01 06 00 09 11 70 54 7C\nThe slave confirmed the write\n",
         ""},
        {"read $S 40010", 0, " 4464\n", ""},
        {"write $S 49999 -1", 3, "The slave refused the write: exception 02 Illegal data address",
         ""},
        {"read /dev/vek-none 30002", 4, "PortErr\n", "vek-cli: /dev/vek-none: no such device\n"},
        {"scan /dev/vek-none", 4, "", "stopped, the port failed: /dev/vek-none: no such device"},
        {"read $T 30002 -v", 0, " 42\nLast command: read\nStation 1, input register 30002 "
         "(function 4)\nLine settings are the device server's\nSent", ""},
        {"write $T 40011 7 --speed 9600", 0, "The slave confirmed the write", ""},
        {"read $T 40011 --json", 0, R"("speed":null,"parity":null,"station":1,"ref":40011,)"
         R"("wait":0.2,"shown":" 7")", ""},
        {"scan $T --stations 1-3", 0, "station 1: Value 100 (unsigned 100", "tried 1 of 3 in"},
        {"read tcp://127.0.0.1:1 30002", 4, "PortErr\n",
         "vek-cli: tcp://127.0.0.1:1: connection refused\n"},
        {"--help", 0, "usage: vek-cli read PORT REF", ""},
        {"", 64, "", "a command is needed"},
        {"frob $Q", 64, "", "unknown command frob"},
        {"read $Q", 64, "", "read needs PORT and REF"},
        {"write $Q 40001", 64, "", "write needs PORT, REF and VALUE"},
        {"read $Q 30002 extra", 64, "", "unexpected argument extra"},
        {"read $Q 30002 --frob", 64, "", "unknown option --frob for read"},
        {"read $Q 30002 --all", 64, "", "unknown option --all for read"},
        {"read $Q abc", 64, "", "REF is not a number"},
        {"read $Q 50001", 64, "", "is not a coil (0xxxx), discrete input (1xxxx), input"},
        {"read $Q 465537", 64, "", "six-digit REF is 000001-065536, 100001-165536"},
        {"read $Q 465536 --count 2", 64, "", "past the end of its table"},
        {"read $Q 40001 --count 126", 64, "", "1 to 125 of these, not 126"},
        {"read $Q 00001 --count 2001", 64, "", "--count takes a whole number from 1 to 2000"},
        {"read $Q 40001 --count 3 --type float32", 64, "", "does not hold whole float32 values"},
        {"read $Q 00001 --type int32", 64, "", "are for registers, not bits"},
        {"read $Q --address 7", 64, "", "--address and --table go together"},
        {"write $Q 40001 70000 --type int16", 64, "", "70000 is not int16 (-32768 to 32767)"},
        {"write $Q 40001 1e40 --type float32", 64, "", "1e40 is not float32"},
        {"write $Q 00001 300", 64, "", "a coil is on, off, 1 or 0, not '300'"},
        {"read $Q 1E400", 64, "", "REF is too large a number"},
        {"write $Q 30002 1", 64, "", "neither a coil (0xxxx) nor a holding register"},
        {"write $Q 40001 1E400", 64, "", "VALUE is too large a number"},
        {"read $Q 30002 --station 3E10", 64, "", "--station names no station"},
        {"read $Q 30002 --station x", 64, "", "--station is not a number"},
        {"read $Q 30002 --speed 1200", 64, "", "9600, 19200 or 38400, not '1200'"},
        {"read $Q 30002 --parity=mark", 64, "", "none, odd or even, not 'mark'"},
        {"read $Q 30002 -v=1", 64, "", "-v takes no value"},
        {"read $Q 30002 --wait", 64, "", "--wait needs a value"},
        {"read $Q 30002 --wait 0", 64, "", "--wait takes seconds above 0"},
        {"read $Q 30002 --wait 60.01", 64, "", "--wait takes seconds above 0, up to 60"},
        {"read $Q 30002 --retries -1", 64, "", "--retries takes 0 to 10, not '-1'"},
        {"read $Q 30002 --retries 100", 64, "", "--retries takes 0 to 10, not '100'"},
        {"scan $Q --stations 9-3", 64, "", "from the first station to the last"},
        {"scan $Q --speeds 9600,", 64, "", "not ''"},
        {"scan $Q --ref 20001", 64, "", "is not a coil"},
        {"read tcp://::1:502 30002", 64, "", "PORT is tcp://HOST:PORT, PORT 1 to 65535, an IPv6"},
        {"listen", 64, "", "listen needs PORT"},
        {"listen $Q --station 2", 64, "", "unknown option --station for listen"},
        {"listen $Q --speed 1200", 64, "", "not '1200'"},
        {"listen $Q $Q", 64, "", "unexpected argument"},
        {"listen /dev/vek-none", 4, "", "vek-cli: /dev/vek-none: no such device\n"},
    };
    for (const Case& c : cases) {
        QProcess process;
        const Ran ran = Cli(c.line, devices, process);
        EXPECT_EQ(ran.status, c.status) << c.line << "\n" << ran.out << ran.err;
        EXPECT_NE(ran.out.find(c.out), std::string::npos) << c.line << "\n" << ran.out;
        EXPECT_NE(ran.err.find(c.err), std::string::npos) << c.line << "\n" << ran.err;
        if (c.status == 64) {
            EXPECT_TRUE(ran.out.empty() && std::count(ran.err.begin(), ran.err.end(), '\n') == 1)
                << c.line << "\n"
                << ran.out << ran.err;
        }
    }
    EXPECT_TRUE(quiet.Heard().empty());
}

// Every function against a slave nobody here wrote: pymodbus's RTU server, with known 32- and
// 64-bit values in each order (support/pymodbus_slave.py).
TEST(Cli, EveryFunctionAgainstPymodbus)
{
    const SlaveProcess slave({PYMODBUS_SLAVE}, "/usr/bin/python3");
    const Case cases[] = {
        {"read $P 00001 --count 3", 0, "00001  1\n00002  0\n00003  1\n", ""},
        {"read $P 10001 --count 4 --json", 0,
         R"("values":[{"ref":"10001","value":1},{"ref":"10002","value":0},{"ref":"10003","value":0},)"
         R"({"ref":"10004","value":1}])", ""},
        {"read $P 30002 --count 2", 0, "30002  002A  42\n30003  FFFE  -2\n", ""},
        {"read $P 40001 --type float32", 0, "40001  3F80 0000  1\n", ""},
        {"read $P 400003 --type int32", 0, "40003  FFFF FFFE  -2\n", ""},
        {"read $P --address 4 --table holding --count 4 --type uint32 --order all", 0,
         "40005  CD15 075B  ABCD 3440707419  CDAB 123456789  BADC 365779719  DCBA 1527190989\n"
         "40007  5B07 15CD  ABCD 1527190989  CDAB 365779719  BADC 123456789", ""},
        {"read $P 40011 --type float64", 0, "40011  3FF8 0000 0000 0000  1.5\n", ""},
        {"read $P 40015 --count 2 --type string", 0, "40015  5055 4D50  PUMP\n", ""},
        {"write $P 40021 -1.25 --type float32 --order CDAB", 0, "The slave confirmed the write", ""},
        {"read $P 40021 --count 2 --type hex", 0, "40021  0000  0000\n40022  BFA0  BFA0\n", ""},
        {"write $P 40031 1 2 3", 0, "Sent 01 10 00 1E 00 03 06 00 01 00 02 00 03", ""},
        {"read $P 40031 --count 3 --type uint16", 0, "40031  0001  1\n40032  0002  2\n40033  0003", ""},
        {"write $P 00033 on", 0, "Sent 01 05 00 20 FF 00", ""},
        {"write $P 00034 1 1 0 1", 0, "Sent 01 0F 00 21 00 04 01 0B", ""},
        {"read $P 00033 --count 5", 0, "00033  1\n00034  1\n00035  1\n00036  0\n00037  1\n", ""},
        {"read $P 40100 --count 2", 3, "CMDErr", ""},
    };
    for (const Case& c : cases) {
        QProcess process;
        const Ran ran = Cli(c.line, {{"$P", slave.Device()}}, process);
        EXPECT_EQ(ran.status, c.status) << c.line << "\n" << ran.out << ran.err;
        EXPECT_NE(ran.out.find(c.out), std::string::npos) << c.line << "\n" << ran.out;
    }
}

// Lines of a text.
std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

TEST(Cli, Watches)
{
    const SlaveProcess slave;
    const DeviceServer server(Terminal(slave.Device()));
    const std::string iso = R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d)";
    const struct
    {
        std::string line;
        int status;
        std::vector<std::string> out; // each line of stdout matches its pattern, in order
        std::string err;
    } cases[] = {
        {"watch $S 30001 --count 2 --polls 2 --interval 0.05 --format csv", 0,
         {"time,outcome,reply_ms,30001,30002", iso + ",ok,[0-9.]+,7,42", iso + ",ok,[0-9.]+,7,42"},
         "vek-cli: 2 polls in"},
        {"watch $S 30003 --polls 1 --interval 0 --format tsv", 0,
         {"time\toutcome\treply_ms\t30003", iso + "\tok\t[0-9.]+\t-2"}, "a --wait of 0.02 s"},
        {"watch $S 30002 --polls 2 --json", 0,
         {R"(\{"time":")" + iso + R"(","outcome":"ok","reply_ms":[0-9.]+,"values":\[42\]\})",
          R"(\{"time":.*\})",
          R"(\{"summary":\{"polls":2,.*"answered":2,.*"value":\{"min":42,"mean":42,"max":42\},"advice":"every reply.*\}\})"},
         ""},
        {"watch $S 30002 --station 9 --polls 2 --interval 0 --wait 0.02 --format csv", 0,
         {"time,outcome,reply_ms,30002", iso + ",Noans,,", iso + ",Noans,,"}, "0 answered, 2 no answer"},
        {"watch $S 30002 --polls 1 --format csv --plot /nonexistent/p.svg", 0,
         {"time,outcome,reply_ms,30002", iso + ",ok,[0-9.]+,42"}, "the plot could not be written"},
        // Through a device server, connected for the whole watch.
        {"watch $T 30002 --polls 2 --interval 0 --format csv", 0,
         {"time,outcome,reply_ms,30002", iso + ",ok,[0-9.]+,42", iso + ",ok,[0-9.]+,42"},
         "2 answered"},
        {"watch $S 30002 --interval -1", 64, {}, "--interval takes seconds from 0"},
        {"watch $S 30002 --interval abc", 64, {}, "--interval is not a number"},
        {"watch $S 30002 --polls 0", 64, {}, "--polls takes a whole number from 1"},
        {"watch $S 30002 --format xml", 64, {}, "--format is table, csv, tsv or json"},
        {"watch $S 40001 --type float32 --order all", 64, {}, "--order all is for a read"},
    };
    for (const auto& c : cases) {
        QProcess process;
        const Ran ran = Cli(c.line, {{"$S", slave.Device()}, {"$T", server.Address()}}, process);
        EXPECT_EQ(ran.status, c.status) << c.line << "\n" << ran.out << ran.err;
        const std::vector<std::string> lines = Lines(ran.out);
        ASSERT_EQ(lines.size(), c.out.size()) << c.line << "\n" << ran.out;
        for (std::size_t i = 0; i < lines.size(); ++i)
            EXPECT_TRUE(std::regex_match(lines[i], std::regex(c.out[i]))) << c.line << "\n" << lines[i];
        EXPECT_NE(ran.err.find(c.err), std::string::npos) << c.line << "\n" << ran.err;
    }
}

// How a watch ends: on a port that fails, on a full disk, on a reader that goes away; and what it
// leaves: the plot and the traffic log.
TEST(Cli, AWatchEndsCleanlyAndLeavesItsRecords)
{
    int requests = 0;
    const PtyPeer goes({}, [&](const Bytes& request, const termios&) {
        return ++requests <= 2 ? PtyAnswer{.reply = WithCrc({request[0], 0x04, 0x02, 0x00, 0x2A})}
                               : PtyAnswer{.delay = std::chrono::milliseconds(20), .hangUp = true};
    });
    QProcess gone;
    Ran ran = Cli("watch $G 30002 --interval 0.05 --format csv", {{"$G", goes.Device()}}, gone);
    EXPECT_EQ(ran.status, 4) << ran.err;
    EXPECT_NE(ran.err.find("the port failed"), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find("3 polls"), std::string::npos) << ran.err;

    const SlaveProcess slave;
    const QString device = QString::fromStdString(slave.Device());
    QProcess full;
    full.setStandardOutputFile("/dev/full");
    full.start(VEK_CLI, {"watch", device, "30002", "--polls", "3", "--interval", "0"});
    ASSERT_TRUE(full.waitForFinished(10000));
    EXPECT_EQ(full.exitCode(), 74);
    EXPECT_NE(full.readAllStandardError().toStdString().find("No space left on device"),
              std::string::npos);

    // `| head -2`: the watch ends at the next line it cannot write, quietly.
    QProcess head;
    head.start("bash", {"-c", "\"$0\" watch \"$1\" 30002 --interval 0.02 --format csv | head -2 "
                              ">/dev/null; exit ${PIPESTATUS[0]}",
                        VEK_CLI, device});
    ASSERT_TRUE(head.waitForFinished(10000));
    EXPECT_EQ(head.exitCode(), 0);
    EXPECT_EQ(head.readAllStandardError().toStdString(), "");

    // Ctrl+C ends a watch at once, even in a long interval, with its statistics.
    QProcess stopped;
    stopped.start(VEK_CLI, {"watch", device, "30002", "--interval", "60", "--format", "csv"});
    ASSERT_TRUE(stopped.waitForReadyRead(5000));
    kill(static_cast<pid_t>(stopped.processId()), SIGINT);
    ASSERT_TRUE(stopped.waitForFinished(2000));
    EXPECT_EQ(stopped.exitCode(), 0);
    EXPECT_NE(stopped.readAllStandardError().toStdString().find(" polls in "), std::string::npos);

    // The plot, as XML, with a point for every poll; the traffic log, a line for every poll.
    const std::string svg = testing::TempDir() + "vek-watch.svg";
    const std::string log = testing::TempDir() + "vek-watch.log";
    std::remove(log.c_str());
    QProcess plotted;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("VEK_LOG", QString::fromStdString(log));
    plotted.setProcessEnvironment(env);
    plotted.start(VEK_CLI, {"watch", device, "30001", "--count", "3", "--polls", "5", "--interval",
                            "0", "--format", "csv", "--plot", QString::fromStdString(svg)});
    ASSERT_TRUE(plotted.waitForFinished(10000));
    EXPECT_EQ(plotted.exitCode(), 0);
    QFile file(QString::fromStdString(svg));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&file);
    int lines = 0;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"polyline" &&
            xml.attributes().value("class") == u"value") {
            ++lines;
            EXPECT_EQ(xml.attributes().value("points").trimmed().split(u' ').size(), 5);
        }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(lines, 3);
    std::ifstream in(log);
    EXPECT_EQ(std::count(std::istreambuf_iterator<char>(in), {}, '\n'), 6); // the header and 5
}

// A listener connected to a device server hears what the server's line carries.
TEST(Cli, ListensThroughADeviceServer)
{
    int bus = -1, line = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    ASSERT_EQ(openpty(&bus, &line, name, &raw, nullptr), 0);
    const DeviceServer server(Terminal(name));
    QProcess listener;
    listener.setProcessChannelMode(QProcess::MergedChannels);
    listener.start(VEK_CLI, {"listen", QString::fromStdString(server.Address())});
    ASSERT_TRUE(listener.waitForReadyRead(5000)); // "listening on ..." once connected
    std::string heard = listener.readAll().toStdString();
    const Bytes conversation = {0x01, 0x04, 0x00, 0x01, 0x00, 0x01, 0x60, 0x0A,
                                0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    ASSERT_EQ(write(bus, conversation.data(), conversation.size()),
              static_cast<ssize_t>(conversation.size()));
    for (int i = 0; i < 50 && heard.find("->") == std::string::npos; ++i)
        if (listener.waitForReadyRead(100))
            heard += listener.readAll().toStdString();
    kill(static_cast<pid_t>(listener.processId()), SIGINT);
    ASSERT_TRUE(listener.waitForFinished(5000));
    EXPECT_EQ(listener.exitCode(), 0);
    heard += listener.readAll().toStdString();
    EXPECT_NE(heard.find("station 1  read 30002  ->  42"), std::string::npos) << heard;
    close(line);
    close(bus);
}

// A device that answers 42 to station 7 at 9600 bit/s with odd parity only (a pseudo-terminal
// keeps the speed and PARODD its opener set), garbles every answer at 38400, and is silent else.
PtyAnswer Picky(const Bytes& request, const termios& line)
{
    if (cfgetispeed(&line) == B38400)
        return {.reply = {0x07, 0x04, 0x02}};
    if (request[0] == 7 && cfgetispeed(&line) == B9600 && (line.c_cflag & PARODD))
        return {.reply = WithCrc({0x07, 0x04, 0x02, 0x00, 0x2A})};
    return {};
}

TEST(Cli, Scans)
{
    const std::string garbled = ", but not correctly (station 6: The last two bytes are not the "
                                "CRC of the rest)\n";
    const std::string found = "station 7, 9600 odd: Value 42 (unsigned 42, hex 002A)\n";
    const struct
    {
        std::string line;
        int status;
        std::string out; // all of stdout
        std::string err;
        std::size_t tries;
    } cases[] = {
        // The most common settings first, the first device ends it.
        {"scan $R --stations 6-7 --ref 30002 --wait 0.05", 0,
         "something answers at 38400 none" + garbled + "something answers at 38400 even" + garbled +
             found,
         "tried 16 of 18", 16},
        {"scan $R --stations 6-8 --speeds 38400,9600 --parities odd --ref 30002 --all --wait 0.05",
         0, "something answers at 38400 odd" + garbled + found, ": 1 found", 6},
        {"scan $R --stations 6 --speeds 38400 --parities none --wait 0.05", 2,
         "something answers at 38400 none" + garbled, "never correctly", 1},
        {"scan $R --stations 1-2 --speeds 9600 --parities none,even --wait 0.05", 1, "",
         "tried 4 of 4", 4},
    };
    for (const auto& c : cases) {
        const PtyPeer picky({}, Picky);
        QProcess process;
        const Ran ran = Cli(c.line, {{"$R", picky.Device()}}, process);
        EXPECT_EQ(ran.status, c.status) << c.line << "\n" << ran.err;
        EXPECT_EQ(ran.out, c.out) << c.line;
        EXPECT_NE(ran.err.find(c.err), std::string::npos) << c.line << "\n" << ran.err;
        EXPECT_EQ(picky.Heard().size(), 8 * c.tries) << c.line;
    }
}

// Names and routes only in a network namespace of the test's own, where a lookup cannot leave the
// machine and fails at once (root, as CI runs; skipped elsewhere). 127.0.0.2 is routed nowhere.
TEST(Cli, NamesAndRoutesInANamespaceOfItsOwn)
{
    QProcess run;
    const double start = SteadySeconds();
    run.start("unshare", {"-n", "sh", "-c",
                          "ip link set lo up && ip route del local 127.0.0.0/8 dev lo table local "
                          "&& for d in vek-none.invalid:502 localhost:1 127.0.0.2:502; do " VEK_CLI
                          " read tcp://$d 30002; done"});
    ASSERT_TRUE(run.waitForFinished(10000));
    const std::string err = run.readAllStandardError().toStdString();
    if (err.starts_with("unshare"))
        GTEST_SKIP() << err;
    EXPECT_LT(SteadySeconds() - start, 2);
    EXPECT_EQ(err, "vek-cli: tcp://vek-none.invalid:502: name not found\n"
                   "vek-cli: tcp://localhost:1: connection refused\n"
                   "vek-cli: tcp://127.0.0.2:502: no route to the device server\n");
}

TEST(Cli, AScanEndsWithWhatItFoundWhenThePortFailsOrOnCtrlC)
{
    // The far end goes at the second request: the port fails during that wait.
    int requests = 0;
    const PtyPeer goes({}, [&](const Bytes& request, const termios&) {
        return ++requests == 1 ? PtyAnswer{.reply = WithCrc({request[0], 0x83, 0x02})}
                               : PtyAnswer{.delay = std::chrono::milliseconds(20), .hangUp = true};
    });
    QProcess process;
    Ran ran = Cli("scan $G --all", {{"$G", goes.Device()}}, process);
    EXPECT_EQ(ran.status, 4);
    EXPECT_EQ(ran.out, "station 1, 19200 none: Exception 02: Illegal data address\n");
    EXPECT_NE(ran.err.find("tried 2 of 2223"), std::string::npos) << ran.err;
    EXPECT_NE(ran.err.find("stopped, the port failed"), std::string::npos) << ran.err;

    const SlaveProcess slave;
    QProcess scan;
    scan.start(VEK_CLI, {"scan", QString::fromStdString(slave.Device()), "--all"});
    ASSERT_TRUE(scan.waitForReadyRead(5000));
    kill(static_cast<pid_t>(scan.processId()), SIGINT);
    ASSERT_TRUE(scan.waitForFinished(1000));
    EXPECT_EQ(scan.exitCode(), 130);
    EXPECT_EQ(scan.readAllStandardOutput().toStdString(),
              "station 1, 19200 none: Value 100 (unsigned 100, hex 0064)\n");
    EXPECT_NE(scan.readAllStandardError().toStdString().find("interrupted"), std::string::npos);
}

} // namespace
