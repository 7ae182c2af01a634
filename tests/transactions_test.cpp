// The read and the write command against a scripted port and a window without a display.
#include "fake_panel.h"
#include "fake_port.h"
#include "panel/transactions.h"
#include "serial/device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

// Sets an environment variable, or removes it (nullptr).
void SetVariable(const std::string& name, const char* value)
{
#ifdef _WIN32
    _putenv_s(name.c_str(), value ? value : "");
#else
    if (value)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
#endif
}

// A clock that moves only when events are run, by a fixed step.
struct FakeClock
{
    double now = 1000.0;
    double step = 0.05;
    std::vector<double> sleeps; // what each event run was allowed to sleep
    std::vector<std::string>* journal = nullptr;
    std::function<void()> onStep; // what the line does meanwhile

    WaitServices Services()
    {
        return WaitServices{[this] { return now; },
                            [this](double maxSeconds) {
                                sleeps.push_back(maxSeconds);
                                if (journal && sleeps.size() == 1)
                                    journal->push_back("wait");
                                now += step;
                                if (onStep)
                                    onStep();
                            },
                            {}};
    }
};

// What the fake port logs when the command opens COM<port>.
std::string Opened(int port, const char* settings)
{
    return "open " + DeviceForPort(port).path + " " + settings;
}

struct Rig
{
    FakePanel panel;
    FakePort port;
    FakeClock clock;
    Line line{port, clock.Services()};
    std::vector<std::string> journal;

    Rig()
    {
        panel.journal = port.journal = clock.journal = &journal;
        panel.selectors.SPD192 = true;
    }
    void Read() { ReadTransaction(panel, line); }
    void Write() { WriteTransaction(panel, line); }
    std::string Sent() const { return port.sent.empty() ? "" : FakePort::Hex(port.sent.back()); }
};

TEST(ReadTransaction, RunsItsStepsInOrder)
{
    Rig rig;
    rig.port.reply = {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    rig.Read();
    const std::vector<std::string> expected = {"disable 0",      Opened(1, "19200,N,8,1"),
                                               "station 0 ' 1'", "send 01 04 00 01 00 01 60 0A",
                                               "wait",           "count",
                                               "take",           "close",
                                               "rx ' 42'",       "enable 0"};
    EXPECT_EQ(rig.journal, expected);
}

TEST(ReadTransaction, SendsTheRequestOfTheReadRow)
{
    struct Case
    {
        const char* station;
        const char* address;
        const char* frame; // empty: refused, nothing sent
        const char* stationAfter;
    } cases[] = {
        {"1", "30002", "01 04 00 01 00 01 60 0A", " 1"},
        {"1", "30001", "01 04 00 00 00 01 31 CA", " 1"},
        {"1", "40002", "01 03 00 01 00 01 D5 CA", " 1"},
        {"1", "40001", "01 03 00 00 00 01 84 0A", " 1"},
        {"1", "41001", "01 03 03 E8 00 01 04 7A", " 1"},
        {"17", "30002", "11 04 00 01 00 01 62 9A", " 17"},
        {"0", "30002", "00 04 00 01 00 01 61 DB", " 0"},
        {"256", "30002", "00 04 00 01 00 01 61 DB", " 0"},
        {"1", "50001", "", " 1"},
        {"1", "20001", "", " 1"},
        {"1", "", "", " 1"},
        {"1", "1E400", "", " 1"},
        {"257", "abc", "", " 1"},
        // Texts that name no station are refused before the reference is looked at.
        {"-1", "30002", "", "-1"},
        {"3E10", "30002", "", "3E10"},
        {"1E400", "30002", "", "1E400"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.panel.rxData = "earlier";
        rig.panel.station[0] = c.station;
        rig.panel.address[0] = c.address;
        rig.Read();
        EXPECT_EQ(rig.Sent(), c.frame) << c.station << " / " << c.address;
        EXPECT_EQ(rig.panel.station[0], c.stationAfter) << c.station << " / " << c.address;
        EXPECT_EQ(rig.port.log.front(), Opened(1, "19200,N,8,1"));
        EXPECT_EQ(rig.port.log.back(), "close");
        EXPECT_FALSE(rig.port.IsOpen());
        EXPECT_TRUE(rig.panel.enabled[0]);
        if (*c.frame == '\0') {
            EXPECT_EQ(rig.panel.rxData, "earlier") << c.address;
            EXPECT_TRUE(rig.clock.sleeps.empty()) << "a refused read does not wait";
        }
    }
}

TEST(ReadTransaction, ShowsWhatTheReplySays)
{
    struct Case
    {
        Bytes reply;
        const char* shown;
    } cases[] = {
        {{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF}, " 42"},
        {{0x01, 0x04, 0x02, 0x00, 0x00, 0xB9, 0x30}, " 0"},
        {{0x01, 0x04, 0x02, 0x7F, 0xFF, 0xD9, 0x40}, " 32767"},
        {{0x01, 0x04, 0x02, 0x80, 0x00, 0xD8, 0xF0}, "-32768"},
        {{0x01, 0x04, 0x02, 0x80, 0xFF, 0x98, 0xB0}, "-32513"},
        {{0x01, 0x04, 0x02, 0xFF, 0xFE, 0x79, 0x40}, "-2"},
        {{0x01, 0x84, 0x02, 0xC2, 0xC1}, "CMDErr"},
        {{}, "Noans"},
        {{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE}, "CRCErr"},
        {{0x02, 0x04, 0x02, 0x00, 0x2A, 0x7C, 0xEF}, " 42"},
        {{0x01, 0x03, 0x02, 0x00, 0x2A, 0x39, 0x9B}, " 42"},
        {{0x01, 0x04, 0x04, 0x00, 0x2A, 0x00, 0x00, 0xDA, 0x4C}, " 42"},
        {{0xFF, 0xFF}, "CMDErr"},
        {{0x12, 0x34}, "CRCErr"},
        {{0x01, 0x04, 0x02, 0xA3, 0x01}, "-23807"},
        {{0x01}, "CRCErr"},
        {{0x01, 0x7E, 0x80}, "CRCErr"},
        // A half-duplex adapter's echo of the request, alone and before the answer.
        {{0x01, 0x04, 0x00, 0x01, 0x00, 0x01, 0x60, 0x0A}, "Noans"},
        {{0x01, 0x04, 0x00, 0x01, 0x00, 0x01, 0x60, 0x0A, 0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF},
         " 42"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.port.reply = c.reply;
        rig.Read();
        EXPECT_EQ(rig.panel.rxData, c.shown) << FakePort::Hex(c.reply);
    }

    // A byte that arrives between the count and the take is taken, not counted (55 would break
    // the CRC if it were).
    Rig rig;
    rig.port.reply = {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    rig.port.late = {0x55};
    rig.Read();
    EXPECT_EQ(rig.panel.rxData, " 42");
}

TEST(Commands, ExplainWhatTheyDidInTheDetail)
{
    struct Case
    {
        bool write;
        const char* address;
        const char* value; // of the write
        Bytes reply;
        const char* lines; // found after the heading
        const char* absent = nullptr;
        const char* station = "1";
        std::vector<std::pair<double, std::size_t>> arrivals = {}; // ms after the request, total
    } cases[] = {
        // clang-format off
        {false, "30002", "", {0x01, 0x04, 0x02, 0x9C, 0x40, 0xD1, 0xC0},
         "\nStation 1, input register 30002 (function 4)\nSent 8 bytes: 01 04 00 01 00 01 60 0A\n"
         "Received 7 bytes: 01 04 02 9C 40 D1 C0\nValue -25536 (unsigned 40000, hex 9C40)", "Reply"},
        // The checks do not compare station and function; the detail does.
        {false, "30002", "", {0x02, 0x03, 0x02, 0x00, 0x2A, 0x7D, 0x9B},
         "Value 42 (unsigned 42, hex 002A)\nReply from station 2, not 1\nReply for function 3, not 4"},
        {false, "40002", "", {0x01, 0x84, 0x02, 0xC2, 0xC1},
         "Exception 02: Illegal data address\nReply for function 4, not 3"},
        // An exception answers the function it names with bit 7 set: no "function 132" note.
        {false, "30002", "", {0x01, 0x84, 0x0A, 0xC3, 0x07}, "Exception 0A: Gateway path unavailable"},
        {false, "30002", "", {0x01, 0x84, 0x0B, 0x02, 0xC7},
         "Exception 0B: Gateway target device failed to respond"},
        {false, "30002", "", {0x01, 0x84, 0x03, 0x03, 0x01}, "Exception 03: Illegal data value",
         "Reply for"},
        {false, "30002", "", {0x01, 0x80, 0x01, 0x80, 0x00},
         "Exception 01: Illegal function\nReply for function 0, not 4"},
        {false, "30002", "", {0x01, 0x04, 0x00, 0x01, 0x00, 0x01, 0x60, 0x0A, 0x01, 0x04, 0x02,
         0x00, 0x2A, 0x38, 0xEF}, "(the first 8 are the adapter's echo of the request)\nValue 42"},
        // Behind the echo, the reply's own times.
        {false, "30002", "", {0x01, 0x04, 0x00, 0x01, 0x00, 0x01, 0x60, 0x0A, 0x01, 0x04, 0x02,
         0x00, 0x2A, 0x38, 0xEF}, "Reply 7 bytes, from 12.0 to 14.0 ms", nullptr, "1",
         {{1, 8}, {12, 11}, {14, 15}}},
        {false, "30002", "", {}, "Received 0 bytes\nNo reply within 0.2 s"},
        {true, "41001", "70000", {},
         "\nStation 1, holding register 41001 (function 6)\nValue sent 4464 (signed 4464, hex 1170)"
         "\nSent 8 bytes: 01 06 03 E8 11 70 04 0E\nReceived 0 bytes\n"
         "No reply within 0.2 s: the write may not have arrived\nWaited the whole 0.2 s\n"
         "The result shown is from an earlier command"},
        // What the line did: a write's answer, stray bytes, a reply cut short, the timing.
        {true, "41001", "0", {0x01, 0x06, 0x03, 0xE8, 0x00, 0x00, 0x09, 0xBA},
         "Received 8 bytes: 01 06 03 E8 00 00 09 BA\nThe slave confirmed the write\n"
         "Reply 8 bytes, from 11.8 to 14.2 ms after the request", "close to", "1", {{11.8, 3}, {14.2, 8}}},
        {true, "41001", "0", {0x01, 0x86, 0x02, 0xC3, 0xA1},
         "The slave refused the write: exception 02 Illegal data address"},
        {true, "41001", "0", {0x01, 0x06, 0x03, 0xE8, 0x00, 0x00, 0x09, 0xBB},
         "The last two bytes are not the CRC of the rest", "cut short"},
        {false, "30002", "", {0x00, 0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF},
         "A correct reply (value 42) follows 1 stray byte 00; stray bytes before a reply often "
         "mean an unbiased or unterminated RS-485 line"},
        {false, "30002", "", {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF, 0xFF, 0x12},
         "A correct reply (value 42) is followed by 2 stray bytes FF 12", "unbiased"},
        {false, "30002", "", {0x01, 0x04, 0x02, 0x00}, "The reply is cut short: 4 of its 7 bytes came"},
        {false, "30002", "", {0x01, 0x84, 0x02}, "The reply is cut short: 3 of its 5 bytes came"},
        {false, "30002", "", {0x00, 0x01, 0x84, 0x02, 0xC2, 0xC1},
         "A correct reply (exception 02) follows 1 stray byte 00"},
        {true, "41001", "0", {0x01, 0x06, 0x03, 0xE8, 0x00, 0x01, 0xC8, 0x7A},
         "The reply is not the request sent back"},
        {false, "30002", "", {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE},
         "The last two bytes are not the CRC of the rest", "A correct reply"},
        {false, "30002", "", {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF},
         "Reply 7 bytes, from 170.0 to 185.0 ms after the request\nThe slave answers close to the "
         "0.2 s this tool waits", nullptr, "1", {{170, 2}, {185, 7}}},
        {false, "30002", "", {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF}, "The slave answers close",
         nullptr, "1", {{100, 2}, {170, 7}}},
        {true, "41001", "12,7", {}, "Value sent 12 ("},
        {true, "41001", "no number", {}, "Value sent 0 ("},
        // Nothing sent: the reason, and that the result on screen is older.
        {false, "50001", "", {}, "Nothing sent: the address is neither an input register (3xxxx) "
         "nor a holding register (4xxxx)\nThe result shown is from an earlier command"},
        {true, "30002", "5", {}, "Nothing sent: the address is not a holding register (4xxxx)"},
        {false, "30002", "", {}, "Nothing sent: the station field names no station", nullptr, "-1"},
        {true, "41001", "1E400", {}, "Nothing sent: the value is too large"},
        // clang-format on
    };
    for (const Case& c : cases) {
        Rig rig;
        const int row = c.write ? 1 : 0;
        rig.panel.station[row] = c.station;
        rig.panel.address[row] = c.address;
        rig.panel.writeData = c.value;
        rig.panel.rxData = " 7";
        rig.port.reply = c.reply;
        for (const auto& [ms, total] : c.arrivals)
            rig.port.arrivals.push_back({rig.clock.now + ms / 1000, total});
        c.write ? rig.Write() : rig.Read();
        const std::string& detail = rig.panel.rxDetail;
        EXPECT_EQ(detail.rfind(c.write ? "Last command: write\n" : "Last command: read\n", 0), 0u)
            << detail;
        EXPECT_NE(detail.find(c.lines), std::string::npos) << c.lines << "\n---\n" << detail;
        if (c.absent) {
            EXPECT_EQ(detail.find(c.absent), std::string::npos) << detail;
        }
    }

    // A babbling line must not flood the tooltip.
    Rig rig;
    rig.port.reply = Bytes(70000, 0x55);
    rig.Read();
    const std::string shown = "Received 70000 bytes: " + FakePort::Hex(Bytes(64, 0x55)) + " ...";
    EXPECT_NE(rig.panel.rxDetail.find(shown), std::string::npos) << rig.panel.rxDetail;
    EXPECT_LT(rig.panel.rxDetail.size(), 400u);
}

TEST(Commands, ReportPortFailuresAndEndIdle)
{
    enum Failure { Open, Send, Take };
    struct Case
    {
        bool write;
        Failure failure;
        bool sends;
    } cases[] = {{false, Open, false},
                 {false, Send, true},
                 {false, Take, true},
                 {true, Open, false},
                 {true, Send, true}};
    for (const Case& c : cases) {
        Rig rig;
        rig.port.failOpen = c.failure == Open;
        rig.port.failSend = c.failure == Send;
        rig.port.failTake = c.failure == Take;
        rig.panel.rxDetail = "before";
        c.write ? rig.Write() : rig.Read();
        const int row = c.write ? 1 : 0;
        EXPECT_EQ(rig.panel.rxData, "PortErr");
        EXPECT_EQ(rig.panel.rxDetail,
                  std::string(c.write ? "Last command: write" : "Last command: read") +
                      "\n/dev/fake: Permission denied");
        EXPECT_EQ(rig.port.sent.size(), c.sends ? 1u : 0u);
        EXPECT_FALSE(rig.port.IsOpen());
        EXPECT_TRUE(rig.panel.enabled[row]);
        EXPECT_EQ(rig.journal.front(), "disable " + std::to_string(row));
        EXPECT_EQ(rig.journal.back(), "enable " + std::to_string(row));
        if (c.failure == Open) {
            EXPECT_TRUE(rig.clock.sleeps.empty());
        }

        // The next command that opens the port takes "PortErr" off the screen, even a write,
        // which otherwise leaves the result alone, and one that sends nothing.
        rig.port.failOpen = rig.port.failSend = rig.port.failTake = false;
        rig.panel.address[1] = c.sends ? "41001" : "30002";
        c.write ? rig.Write() : rig.Read();
        EXPECT_EQ(rig.panel.rxData, c.write ? "" : "Noans");
    }
}

TEST(WriteTransaction, RunsItsStepsInOrderAndShowsNothing)
{
    Rig rig;
    rig.panel.rxData = " 42";
    rig.port.reply = {0x01, 0x06, 0x03, 0xE8, 0x00, 0x00, 0x09, 0xBA};
    rig.Write();
    const std::vector<std::string> expected = {"disable 1",      Opened(1, "19200,N,8,1"),
                                               "station 1 ' 1'", "send 01 06 03 E8 00 00 09 BA",
                                               "wait",           "count",
                                               "take",           "close",
                                               "enable 1"};
    EXPECT_EQ(rig.journal, expected);
    EXPECT_EQ(rig.panel.rxData, " 42");
}

TEST(WriteTransaction, SendsTheRequestOfTheWriteRow)
{
    struct Case
    {
        const char* station;
        const char* address;
        const char* value;
        const char* frame; // empty: nothing sent
    } cases[] = {
        {"1", "41001", "0", "01 06 03 E8 00 00 09 BA"},
        {"1", "41001", "1234", "01 06 03 E8 04 D2 8B 27"},
        {"1", "41001", "-1", "01 06 03 E8 FF FF 08 0A"},
        {"1", "41001", "65535", "01 06 03 E8 FF FF 08 0A"},
        {"1", "41001", "-65537", "01 06 03 E8 FF FF 08 0A"},
        {"1", "41001", "65536", "01 06 03 E8 00 00 09 BA"},
        {"1", "41001", "70000", "01 06 03 E8 11 70 04 0E"},
        {"1", "41001", "-32768", "01 06 03 E8 80 00 68 7A"},
        {"1", "41001", "1.5", "01 06 03 E8 00 02 88 7B"},
        {"1", "41001", "2.5", "01 06 03 E8 00 02 88 7B"},
        {"1", "41001", "-2.5", "01 06 03 E8 FF FE C9 CA"},
        {"1", "41001", "", "01 06 03 E8 00 00 09 BA"},
        {"1", "41001", "xyz", "01 06 03 E8 00 00 09 BA"},
        {"17", "40002", "3", "11 06 00 01 00 03 9A 9B"},
        {"1", "30002", "5", ""},
        {"1", "50001", "5", ""},
        {"1", "", "5", ""},
        {"1", "41001", "1E400", ""},
        {"-300", "41001", "5", ""},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.panel.station[1] = c.station;
        rig.panel.address[1] = c.address;
        rig.panel.writeData = c.value;
        rig.Write();
        EXPECT_EQ(rig.Sent(), c.frame) << c.station << " / " << c.address << " / " << c.value;
        EXPECT_FALSE(rig.port.IsOpen());
        EXPECT_TRUE(rig.panel.enabled[1]);
        EXPECT_TRUE(rig.panel.rxData.empty());
    }
}

TEST(WriteTransaction, ReadsTheValueOnlyForAHoldingRegister)
{
    Rig rig;
    rig.panel.station[1] = "2.5";
    rig.panel.address[1] = "30002";
    rig.Write();
    EXPECT_EQ(rig.panel.writeDataReads, 0);
    EXPECT_EQ(rig.panel.station[1], " 2");
    EXPECT_TRUE(rig.port.sent.empty());
}

TEST(Selectors, ChooseThePortAndTheSettings)
{
    struct Case
    {
        Selectors s;
        int port;
        const char* settings;
    } cases[] = {
        // Selections no click makes; those that clicks make: OptionGroups in panel_test.cpp.
        {{}, 1, "38400,N,8,1"},
        {{.Com2 = true, .Com4 = true}, 4, "38400,N,8,1"},
        {{.Com5 = true, .SPD192 = true, .SPD96 = true, .Odd1 = true, .Even1 = true},
         5, "19200,E,8,1"},
    };
    for (const Case& c : cases) {
        Rig rig;
        rig.panel.selectors = c.s;
        rig.Read();
        EXPECT_EQ(rig.port.log.front(), Opened(c.port, c.settings));
    }
}

TEST(TrafficLog, OneLinePerCommandUnderAHeaderAndNeverInTheWay)
{
    const std::string path = testing::TempDir() + "vek-traffic.log";
    std::remove(path.c_str());
    SetVariable("VEK_LOG", path.c_str());
    Rig rig;
    rig.port.reply = {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    rig.port.arrivals = {{rig.clock.now + 0.0118, 7}};
    rig.Read();
    rig.Write();
    rig.panel.address[0] = "50001";
    rig.Read();
    rig.line.wait.abandoned = [] { return true; }; // the window closed during the wait
    rig.panel.address[0] = "30002";
    rig.Read();
    rig.line.wait.abandoned = {};
    std::ifstream file(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line.substr(line.find('\t') + 1)); // the time varies
    const std::string port = "COM1\t" + DeviceForPort(1).path + "\t19200,N,8,1\t";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "port\tdevice\tsettings\tcommand\tstation\tregister\tvalue\tsent\treceived"
                         "\tresult\treply_ms",
                         port + "read\t1\t30002\t\t01 04 00 01 00 01 60 0A\t01 04 02 00 2A 38 EF\t42"
                                "\t11.8-11.8",
                         port + "write\t1\t41001\t0\t01 06 03 E8 00 00 09 BA\t\tNoans\t",
                         port + "read\t\t\t\t\t\tnot sent\t",
                         port + "read\t1\t30002\t\t01 04 00 01 00 01 60 0A\t\tgiven up\t"}));

    // A log that cannot be written changes nothing but the detail.
    SetVariable("VEK_LOG", testing::TempDir().c_str()); // a directory
    rig.port.reply = {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    rig.panel.address[0] = "30002";
    rig.Read();
    SetVariable("VEK_LOG", nullptr);
    EXPECT_EQ(rig.panel.rxData, " 42");
    EXPECT_NE(rig.panel.rxDetail.find("\nLog not written: " + testing::TempDir()),
              std::string::npos)
        << rig.panel.rxDetail;
}

TEST(DeviceForPort, IsThePathThatTheOpeningUses)
{
    // Qt opens a bare name under /dev, and Windows finds COM10 and up only under \\.\; the
    // reason for a failure must be looked up there too.
    struct Case
    {
        int port;
        const char* variable; // nullptr: not set
        const char* path;
    } cases[] = {
#ifdef _WIN32
        {2, nullptr, "\\\\.\\COM2"},         {4, "", "\\\\.\\COM4"},
        {2, "COM12", "\\\\.\\COM12"},        {3, "\\\\.\\COM7", "\\\\.\\COM7"},
        {3, "C:\\ports\\x", "C:\\ports\\x"},
#else
        {2, nullptr, "/dev/ttyS1"}, {5, nullptr, "/dev/ttyS4"},      {4, "", "/dev/ttyS3"},
        {2, "ttyS0", "/dev/ttyS0"}, {3, "/dev/pts/7", "/dev/pts/7"}, {3, "./ttyX", "./ttyX"},
        {3, "../ttyX", "../ttyX"},
#endif
        {1, "tcp://gw:502", "tcp://gw:502"},
    };
    for (const Case& c : cases) {
        const std::string name = "VEK_COM" + std::to_string(c.port);
        SetVariable(name, c.variable);
        EXPECT_EQ(DeviceForPort(c.port).path, c.path)
            << name << "=" << (c.variable ? c.variable : "");
        SetVariable(name, nullptr);
    }
}

// The same replies through both ways of waiting: the window's, which waits the whole 0.2 s and
// then reads what came, and the command line's, which stops at the whole reply.
TEST(Engine, EndsAtTheWholeReplyOrAfterTheWholeWait)
{
    const Bytes echo{0x01, 0x04, 0x00, 0x01, 0x00, 0x01, 0x60, 0x0A}; // the read of 30002
    const Bytes value{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    const Bytes exception{0x01, 0x84, 0x02, 0xC2, 0xC1};
    using Chunks = std::vector<std::pair<int, Bytes>>; // ms after the request, bytes
    const struct
    {
        const char* name;
        Chunks chunks;
        Result whole;      // the window's result, after 200 ms
        Result untilReply; // the command line's
        int endsMs;        // when the command line's wait ends
        const char* ending;
    } cases[] = {
        {"value", {{10, value}}, Result::Value, Result::Value, 10, "Whole reply after 10.0 ms"},
        {"split", {{10, {0x01, 0x04, 0x02}}, {30, {0x00, 0x2A, 0x38, 0xEF}}}, Result::Value,
         Result::Value, 30, "Whole reply after 30.0 ms"},
        {"echo, value", {{2, echo}, {20, value}}, Result::Value, Result::Value, 20, "after 20.0"},
        {"exception", {{15, exception}}, Result::Exception, Result::Exception, 15, "after 15.0"},
        {"echo, exception", {{2, echo}, {9, exception}}, Result::Exception, Result::Exception, 9,
         "after 9.0"},
        {"echo alone", {{2, echo}}, Result::NoAnswer, Result::NoAnswer, 200, "No answer within"},
        {"nothing", {}, Result::NoAnswer, Result::NoAnswer, 200, "No answer within 0.2 s"},
        {"cut short", {{10, {0x01, 0x04, 0x02, 0x00}}}, Result::CrcError, Result::CrcError, 200,
         "No whole reply within 0.2 s"},
        {"wrong CRC", {{10, {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE}}}, Result::CrcError,
         Result::CrcError, 200, "No whole reply"},
        {"stray before", {{5, {0x00}}, {10, value}}, Result::CrcError, Result::CrcError, 200,
         "No whole reply"},
        // The command line reads no further than the whole reply.
        {"stray after", {{10, value}, {12, {0xFF}}}, Result::CrcError, Result::Value, 10,
         "after 10.0"},
        // A correct frame from another station is no reply to this request.
        {"other station", {{10, {0x02, 0x04, 0x02, 0x00, 0x2A, 0x7C, 0xEF}}}, Result::Value,
         Result::Value, 200, "No whole reply"},
        {"babble", {{10, Bytes(5000, 0x55)}}, Result::CrcError, Result::CrcError, 200,
         "No whole reply"},
    };
    for (const auto& c : cases)
        for (const WaitMode mode : {WaitMode::Whole, WaitMode::UntilReply}) {
            Rig rig;
            rig.clock.step = 0.001;
            double sentAt = 0;
            rig.port.onSend = [&] { sentAt = rig.clock.now; };
            std::size_t next = 0;
            rig.clock.onStep = [&] {
                for (; next < c.chunks.size() &&
                       rig.clock.now - sentAt >= c.chunks[next].first / 1000.0 - 1e-9;
                     ++next) {
                    const Bytes& chunk = c.chunks[next].second;
                    rig.port.reply.insert(rig.port.reply.end(), chunk.begin(), chunk.end());
                }
            };
            Command command;
            command.device = "/dev/fake";
            command.ref = *DecodeReference("30002");
            command.mode = mode;
            const Outcome outcome = ::Run(rig.line, command);
            const bool whole = mode == WaitMode::Whole;
            const std::string name = std::string(c.name) + (whole ? ", whole wait" : "");
            EXPECT_EQ(outcome.result, whole ? c.whole : c.untilReply) << name;
            if (outcome.result == Result::Value) {
                EXPECT_EQ(outcome.value, 42) << name;
            }
            EXPECT_NEAR(outcome.ended * 1000, whole ? 200 : c.endsMs, 1.5) << name;
            const std::string ending = whole ? "Waited the whole 0.2 s" : c.ending;
            EXPECT_NE(outcome.detail.find(ending), std::string::npos) << name << outcome.detail;
            EXPECT_FALSE(rig.port.IsOpen()) << name;
        }
}

// A command tries again after no answer or a wrong CRC, each time a whole command, and only then.
TEST(Engine, RetriesAfterNoAnswerOrAWrongCrc)
{
    const Bytes value{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    const Bytes garbled{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE};
    const Bytes exception{0x01, 0x84, 0x02, 0xC2, 0xC1};
    const struct
    {
        std::vector<Bytes> replies; // one a try; past them the port fails at the open
        int retries;
        Result result;
        int tries;
    } cases[] = {
        {{Bytes{}, garbled, value}, 2, Result::Value, 3},
        {{Bytes{}, Bytes{}, Bytes{}}, 2, Result::NoAnswer, 3},
        {{garbled, value}, 0, Result::CrcError, 1},
        {{exception, value}, 3, Result::Exception, 1},
        {{Bytes{}}, 3, Result::PortError, 2},
    };
    for (const auto& c : cases) {
        Rig rig;
        std::size_t sends = 0;
        rig.port.onSend = [&] {
            rig.port.reply = c.replies[sends];
            // Past the script, the port is gone.
            rig.port.failOpen = ++sends == c.replies.size();
        };
        Command command;
        command.ref = *DecodeReference("30002");
        command.mode = WaitMode::UntilReply;
        command.retries = c.retries;
        const Outcome outcome = ::Run(rig.line, command);
        EXPECT_EQ(outcome.result, c.result) << c.tries;
        EXPECT_EQ(outcome.tries, c.tries);
        // Each try is a whole command.
        EXPECT_EQ(std::count_if(rig.port.log.begin(), rig.port.log.end(),
                                [](const std::string& e) { return e.starts_with("open"); }),
                  c.tries);
        if (c.tries > 1) {
            EXPECT_NE(outcome.detail.find("Tried " + std::to_string(c.tries) + " times"),
                      std::string::npos);
        }
    }
}

TEST(AwaitReply, WaitsTheWholeTimeWhateverArrives)
{
    // Steps are binary fractions so that the sums are exact.
    for (const double step : {0.0625, 0.125}) {
        double now = 1000.0;
        std::vector<double> sleeps;
        const WaitServices services{[&] { return now; },
                                    [&](double maxSeconds) {
                                        sleeps.push_back(maxSeconds);
                                        now += step;
                                    },
                                    {}};
        EXPECT_EQ(AwaitReply(0.2, services), WaitEnd::Elapsed);
        EXPECT_NEAR(now, 1000.25, 1e-9) << step;
        for (double s : sleeps)
            EXPECT_LE(s, 0.2 + 1e-9) << "an event run may not sleep past the deadline";
    }
}

TEST(AwaitReply, EndsTheReplyWaitAfterTheSendReturns)
{
    // The send takes 0.125 s and one window event comes 0.0625 s into the wait; each event run
    // otherwise sleeps as long as it is allowed to. Timed from the open, the wait would end
    // early; sleeping 0.2 s a pass, late.
    for (const bool read : {true, false}) {
        Rig rig;
        const double sent = rig.clock.now + 0.125;
        const double event = sent + 0.0625;
        rig.port.onSend = [&] { rig.clock.now = sent; };
        rig.line.wait.runPendingEvents = [&](double maxSeconds) {
            const double woken = rig.clock.now + maxSeconds;
            rig.clock.now = rig.clock.now < event ? std::min(event, woken) : woken;
        };
        read ? rig.Read() : rig.Write();
        EXPECT_NEAR(rig.clock.now, sent + 0.2, 1e-9) << read;
    }
}

TEST(AwaitReply, EndsAtOnceWhenAbandoned)
{
    double now = 10.0;
    int runs = 0;
    const WaitServices services{[&] { return now; }, [&](double) { ++runs, now += 0.01; },
                                [&] { return runs == 3; }};
    EXPECT_EQ(AwaitReply(0.2, services), WaitEnd::Abandoned);
    EXPECT_EQ(runs, 3);
}

} // namespace
