// The real Qt serial port over pseudo-terminals: against the libmodbus demo slave, against a
// scripted raw device that misbehaves on purpose, and against ports that cannot be used.
#include "device_server.h"
#include "fake_panel.h"
#include "fake_port.h"
#include "modbus/frame_codec.h"
#include "panel/transactions.h"
#include "pty_peer.h"
#include "qt_serial_port.h"
#include "qt_tcp_port.h"
#include "qt_wait.h"
#include "serial/device_port.h"
#include "slave_process.h"

#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The two requests every raw-line test sends: read 30002 and write 1234 to 41001, station 1.
const Bytes kReadRequest = {0x01, 0x04, 0x00, 0x01, 0x00, 0x01, 0x60, 0x0A};
const Bytes kWriteRequest = {0x01, 0x06, 0x03, 0xE8, 0x04, 0xD2, 0x8B, 0x27};

Bytes WithCrc(Bytes bytes)
{
    const Crc crc = Crc16(bytes);
    bytes.push_back(crc.CrcLo);
    bytes.push_back(crc.CrcHi);
    return bytes;
}

// A well-formed answer to a one-register read of input registers.
Bytes ValueReply(std::uint16_t value)
{
    return WithCrc({0x01, 0x04, 0x02, static_cast<std::uint8_t>(value >> 8),
                    static_cast<std::uint8_t>(value & 0xFF)});
}

Bytes Corrupted(Bytes bytes)
{
    bytes.back() ^= 0x01;
    return bytes;
}

Bytes FirstBytes(const Bytes& bytes, std::size_t n)
{
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
}

// A device that chatters without pause: `size` bytes of noise, or, with `value`, a stream that
// starts like an answer carrying it and ends in the CRC of everything before.
Bytes Babble(std::size_t size, std::optional<std::uint16_t> value = std::nullopt)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
    if (!value)
        return bytes;
    Bytes head = FirstBytes(ValueReply(*value), 5);
    std::copy(head.begin(), head.end(), bytes.begin());
    bytes.resize(size - 2);
    return WithCrc(bytes);
}

std::string Hex(const Bytes& bytes)
{
    return FakePort::Hex(bytes);
}

// COM1 is the device under test for as long as this lives.
struct UseDevice
{
    explicit UseDevice(const std::string& path) { qputenv("VEK_COM1", path.c_str()); }
    ~UseDevice() { qunsetenv("VEK_COM1"); }
};

// The real port, a serial port or a device server's connection, with a record of the calls a
// command made on it.
class RecordingPort final : public SerialPort
{
public:
    QtSerialPort serial;
    QtTcpPort network;
    DevicePort real{serial, network};
    std::vector<std::string> calls;
    std::function<void()> beforeSend;

    bool Open(const std::string& device, const LineSettings& settings) override
    {
        calls.push_back("open");
        return real.Open(device, settings);
    }
    bool OpenWithEvents(const std::string& device, const LineSettings& settings,
                        const WaitServices& wait) override
    {
        calls.push_back("open");
        return real.OpenWithEvents(device, settings, wait);
    }
    void Close() override
    {
        calls.push_back("close");
        real.Close();
    }
    bool IsOpen() const override { return real.IsOpen(); }
    bool Send(std::span<const std::uint8_t> bytes) override
    {
        calls.push_back("send");
        if (beforeSend)
            beforeSend();
        return real.Send(bytes);
    }
    std::optional<std::size_t> BytesWaiting() override
    {
        calls.push_back("count");
        return real.BytesWaiting();
    }
    std::optional<Bytes> TakeAll() override
    {
        calls.push_back("take");
        return real.TakeAll();
    }
    std::vector<Arrival> Arrivals() const override { return real.Arrivals(); }
    PortError Error() const override { return real.Error(); }
};

// One window's worth of state driving the real port on COM1.
struct Bench
{
    UseDevice use;
    RecordingPort port;
    int passes = 0; // event loop passes during waits
    Line line{port, WaitServices{&SteadySeconds,
                                 [this](double maxSeconds) {
                                     ++passes;
                                     RunPendingEvents(maxSeconds);
                                 },
                                 {}}};
    FakePanel panel;

    explicit Bench(const std::string& device) : use(device) {}

    void Read(const std::string& station, const std::string& address)
    {
        panel.station[0] = station;
        panel.address[0] = address;
        ReadTransaction(panel, line);
    }
    void Write(const std::string& station, const std::string& address, const std::string& value)
    {
        panel.station[1] = station;
        panel.address[1] = address;
        panel.writeData = value;
        WriteTransaction(panel, line);
    }
};

// ---------------------------------------------------------------------------------------------
// Against the libmodbus slave

TEST(SlaveLine, ReadsShowTheSlavesAnswers)
{
    SlaveProcess slave;
    Bench b(slave.Device());
    const struct
    {
        const char* station;
        const char* address;
        const char* shown;
        const char* detail; // a piece of the tooltip
    } cases[] = {
        {"1", "30002", " 42", "Received 7 bytes: 01 04 02 00 2A"},
        {"1", "40002", " 4660", "Sent 8 bytes: 01 03 00 01 00 01"},
        {"1", "30003", "-2", "02 FF FE"},
        {"1", "30005", "-32768", "02 80 00"},
        {"1", "30100", "CMDErr", "Exception 02: Illegal data address"},
        {"9", "30002", "Noans", "Received 0 bytes"},
    };
    for (const auto& c : cases) {
        b.Read(c.station, c.address);
        EXPECT_EQ(b.panel.rxData, c.shown) << c.address;
        EXPECT_NE(b.panel.rxDetail.find(c.detail), std::string::npos) << c.address << "\n"
                                                                      << b.panel.rxDetail;
        EXPECT_FALSE(b.port.IsOpen());
        EXPECT_TRUE(b.panel.enabled[0]);
    }
}

TEST(SlaveLine, TheRequestLeavesAtTheSendAndTheLastBytesAreCounted)
{
    // Every other test runs the event loop during the wait, which would hide a request left in
    // Qt's buffer until the loop runs, or a reply not fetched from the driver before the count.
    SlaveProcess slave;
    Bench b(slave.Device());
    b.line.wait.runPendingEvents = [](double s) {
        std::this_thread::sleep_for(std::chrono::duration<double>(s));
    };
    b.Read("1", "30002");
    EXPECT_EQ(b.panel.rxData, " 42") << b.panel.rxDetail;
}

TEST(SlaveLine, WrittenValuesReadBack)
{
    SlaveProcess slave;
    Bench b(slave.Device());
    const struct
    {
        const char* address;
        const char* value;
        const char* readBack;
    } cases[] = {
        {"41001", "1234", " 1234"},
        {"41002", "-1234", "-1234"},
        {"42000", "40000", "-25536"}, // the last holding register; the value wraps at 16 bits
    };
    for (const auto& c : cases) {
        b.panel.rxData = "before";
        b.port.calls.clear();
        b.Write("1", c.address, c.value);
        EXPECT_EQ(b.panel.rxData, "before") << c.address;
        EXPECT_NE(b.panel.rxDetail.find("The slave confirmed the write"), std::string::npos)
            << b.panel.rxDetail;
        EXPECT_TRUE(b.panel.enabled[1]);

        b.Read("1", c.address);
        EXPECT_EQ(b.panel.rxData, c.readBack) << c.address << "\n" << b.panel.rxDetail;
    }
}

// ---------------------------------------------------------------------------------------------
// Against a raw scripted device

TEST(RawLine, ReadOutcomes)
{
    const Bytes value = ValueReply(0x1234);
    const Bytes exception = WithCrc({0x01, 0x84, 0x02});
    const struct
    {
        const char* what;
        PtyAnswer answer;
        const char* shown;
        std::size_t received; // bytes counted at the end of the wait
        Parity parity = Parity::None;
    } cases[] = {
        {"whole reply at once", {.reply = value}, " 4660", 7},
        {"bad CRC", {.reply = Corrupted(value)}, "CRCErr", 7},
        {"first bytes only", {.reply = FirstBytes(value, 4)}, "CRCErr", 4},
        {"reply begins 100 ms into the wait", {.reply = value, .delay = 100ms}, " 4660", 7},
        {"single bytes 15 ms apart", {.reply = value, .gap = 15ms}, " 4660", 7},
        {"echo alone", {.echo = true}, "Noans", 8},
        {"echo then reply", {.echo = true, .reply = value}, " 4660", 15},
        {"echo then exception", {.echo = true, .reply = exception}, "CMDErr", 13},
        // A count kept in 16 bits would read 64 KiB as nothing and 100 KiB as 36864 bytes.
        {"64 KiB of noise", {.reply = Babble(65536)}, "CRCErr", 65536},
        {"100 KiB ending in its CRC", {.reply = Babble(102400, 0x0BAD)}, " 2989", 102400},
        // With odd or even parity the system marks receive errors and so doubles every FF.
        {"FF FF, odd", {.reply = ValueReply(0xFFFF)}, "-1", 7, Parity::Odd},
        {"100 KiB, 400 FF, even", {.reply = Babble(102400, 0x0BAD)}, " 2989", 102400, Parity::Even},
    };
    for (const auto& c : cases) {
        PtyPeer peer({c.answer});
        Bench b(peer.Device());
        b.panel.selectors.Odd1 = c.parity == Parity::Odd;
        b.panel.selectors.Even1 = c.parity == Parity::Even;
        b.Read("1", "30002");
        // Errors marked, not dropped (IGNPAR, IGNBRK) nor signalled (BRKINT); none: as Qt left it.
        const std::optional<termios> t = peer.LineAtLastRequest();
        ASSERT_TRUE(t) << c.what;
        const tcflag_t marked = c.parity == Parity::None ? 0 : INPCK | PARMRK;
        const tcflag_t flags = INPCK | PARMRK | IGNBRK | BRKINT | ISTRIP | (marked ? IGNPAR : 0);
        EXPECT_EQ(t->c_iflag & flags, marked) << c.what;
        EXPECT_EQ(b.panel.rxData, c.shown) << c.what << "\n" << b.panel.rxDetail;
        EXPECT_NE(b.panel.rxDetail.find("Received " + std::to_string(c.received) + " bytes"),
                  std::string::npos)
            << c.what;
        EXPECT_EQ(Hex(peer.Heard()), Hex(kReadRequest)) << c.what;
        EXPECT_FALSE(b.port.IsOpen()) << c.what;
        EXPECT_TRUE(b.panel.enabled[0]) << c.what;
    }
}

TEST(RawLine, TheDetailTimesTheReply)
{
    // A reply 60 ms after the request, then one whose bytes come 10 ms apart. The bounds leave
    // room for a busy machine; the accuracy itself is measured in the benchmark.
    const struct
    {
        PtyAnswer answer;
        double first, last; // ms after the request
    } cases[] = {{{.reply = ValueReply(7), .delay = 60ms}, 60, 60},
                 {{.reply = ValueReply(7), .gap = 10ms}, 0, 60}};
    for (const auto& c : cases) {
        PtyPeer peer({c.answer});
        Bench b(peer.Device());
        b.Read("1", "30002");
        const std::string& detail = b.panel.rxDetail;
        double first = -1, last = -1;
        const std::size_t at = detail.find("Reply 7 bytes, from ");
        std::sscanf(detail.c_str() + std::min(at, detail.size()), "Reply 7 bytes, from %lf to %lf",
                    &first, &last);
        EXPECT_TRUE(first >= c.first - 1 && first < c.first + 15) << detail;
        EXPECT_TRUE(last >= c.last - 1 && last < c.last + 15) << detail;
    }
}

TEST(RawLine, LateBytesDoNotReachTheNextCommand)
{
    const Bytes late = ValueReply(1111);
    PtyPeer peer({{.reply = late, .delay = 500ms}, {.reply = ValueReply(2)}});
    Bench b(peer.Device());

    b.Read("1", "30002");
    EXPECT_EQ(b.panel.rxData, "Noans");

    // The late answer now sits in the driver, waiting for whoever opens the port next.
    ASSERT_TRUE(peer.WaitUntilAnswered(5s));
    for (int i = 0; i < 500 && peer.QueuedAtDevice() < static_cast<int>(late.size()); ++i)
        std::this_thread::sleep_for(2ms);
    ASSERT_EQ(peer.QueuedAtDevice(), static_cast<int>(late.size()));

    b.Read("1", "30002");
    EXPECT_EQ(b.panel.rxData, " 2") << b.panel.rxDetail;
    EXPECT_NE(b.panel.rxDetail.find("Received 7 bytes"), std::string::npos);
}

TEST(RawLine, AWritesAnswerGoesToItsDetailOnly)
{
    // The device answers the write as a slave would (with the request itself) and the read
    // after it with a value; the write's answer must neither show nor reach the read.
    PtyPeer peer({{.reply = kWriteRequest}, {.reply = ValueReply(7)}});
    Bench b(peer.Device());
    b.panel.rxData = "before";

    b.Write("1", "41001", "1234");
    EXPECT_EQ(Hex(peer.Heard()), Hex(kWriteRequest));
    EXPECT_EQ(b.panel.rxData, "before");
    EXPECT_NE(b.panel.rxDetail.find("The slave confirmed the write"), std::string::npos);
    EXPECT_TRUE(b.panel.enabled[1]);

    b.Read("1", "30002");
    EXPECT_EQ(Hex(peer.Heard()), Hex(kWriteRequest) + " " + Hex(kReadRequest));
    EXPECT_EQ(b.panel.rxData, " 7") << b.panel.rxDetail;
}

TEST(RawLine, FarEndClosedDuringTheWait)
{
    for (const bool read : {true, false}) {
        PtyPeer peer({{.delay = 50ms, .hangUp = true}});
        Bench b(peer.Device());
        b.panel.rxData = "before";
        if (read)
            b.Read("1", "30002");
        else
            b.Write("1", "41001", "1234");
        EXPECT_EQ(Hex(peer.Heard()), Hex(read ? kReadRequest : kWriteRequest));
        if (read) {
            EXPECT_EQ(b.panel.rxData, "PortErr");
            EXPECT_EQ(b.panel.rxDetail,
                      "Last command: read\n" + peer.Device() + ": device disconnected or closed");
        } else {
            // The frame had gone out whole, and a write reads nothing after it.
            EXPECT_EQ(b.panel.rxData, "before");
        }
        EXPECT_FALSE(b.port.IsOpen()) << read;
        EXPECT_TRUE(b.panel.enabled[read ? 0 : 1]);
        // A hung-up device stays readable for ever; a port left watching it would turn the
        // wait into thousands of empty event loop passes.
        EXPECT_LT(b.passes, 100) << read;
    }

    // Gone before the request left: Qt reports the refused write as a vanished device
    // (ResourceError), not as the read error of a hang-up.
    std::optional<PtyPeer> gone(std::in_place);
    const std::string device = gone->Device();
    Bench b(device);
    b.port.beforeSend = [&] { gone.reset(); };
    b.Read("1", "30002");
    EXPECT_EQ(b.panel.rxDetail,
              "Last command: read\n" + device + ": device disconnected or closed");
    EXPECT_FALSE(b.port.IsOpen());
}

// ---------------------------------------------------------------------------------------------
// Through a serial device server: socat on the loopback in front of a pseudo-terminal

TEST(DeviceServerLine, ReadsWritesAndFailuresInWords)
{
    const SlaveProcess slave;
    const PtyPeer silent, hangsUp({{.delay = 20ms, .hangUp = true}}),
        babbles({{.reply = Babble(102400)}});
    const DeviceServer bridge(Terminal(slave.Device())), quiet(Terminal(silent.Device())),
        closing(Terminal(hangsUp.Device())), babbling(Terminal(babbles.Device()));
    const DeafServer deaf;
    const struct
    {
        std::string device;
        const char* shown;
        const char* detail;
        double seconds = 0.2; // the command's time, within 0.5 s
    } cases[] = {
        {bridge.Address(), " 42", "\nLine settings are the device server's\nSent 8 bytes"},
        {quiet.Address(), "Noans", "\nReceived 0 bytes\n"},
        {closing.Address(), "PortErr", ": connection closed by the device server"},
        // Read up to a bound, as a serial driver's queue bounds a babbling line.
        {babbling.Address(), "CRCErr", "\nReceived 65536 bytes: "},
        {"tcp://127.0.0.1:1", "PortErr", "tcp://127.0.0.1:1: connection refused", 0},
        {deaf.Address(), "PortErr", ": no answer to the connection within 3 s", 3},
    };
    for (const auto& c : cases) {
        Bench b(c.device);
        const double start = SteadySeconds();
        b.Read("1", "30002");
        const double seconds = SteadySeconds() - start;
        EXPECT_EQ(b.panel.rxData, c.shown) << c.device << "\n" << b.panel.rxDetail;
        EXPECT_NE(b.panel.rxDetail.find(c.detail), std::string::npos) << b.panel.rxDetail;
        EXPECT_FALSE(b.port.IsOpen()) << c.device;
        EXPECT_TRUE(b.panel.enabled[0]) << c.device;
        EXPECT_GE(seconds, c.seconds) << c.device;
        EXPECT_LT(seconds, c.seconds + 0.5) << c.device;
        // The window's events run while the server is waited for, ten times a second at least.
        EXPECT_GE(b.passes, c.seconds >= 3 ? 30 : 0) << c.device;
    }
    Bench b(bridge.Address());
    b.Write("1", "41001", "1234");
    b.Read("1", "41001");
    EXPECT_EQ(b.panel.rxData, " 1234");
}

// ---------------------------------------------------------------------------------------------
// Ports that cannot be used

void ExpectPortError(Bench& b, const std::string& device, const std::string& reason)
{
    for (const bool read : {true, false}) {
        const int row = read ? 0 : 1;
        b.panel.rxData = "before";
        b.panel.rxDetail.clear();
        b.port.calls.clear();
        if (read)
            b.Read("1", "30002");
        else
            b.Write("1", "41001", "1234");
        EXPECT_EQ(b.panel.rxData, "PortErr") << device;
        EXPECT_EQ(b.panel.rxDetail,
                  std::string(read ? "Last command: read\n" : "Last command: write\n") + device +
                      ": " + reason)
            << device;
        EXPECT_EQ(b.port.calls, (std::vector<std::string>{"open", "close"})) << device;
        EXPECT_FALSE(b.port.IsOpen()) << device;
        EXPECT_TRUE(b.panel.enabled[row]) << device;
    }
}

TEST(PortFailure, DevicesThatAreNotSerialPorts)
{
    QTemporaryFile regular;
    ASSERT_TRUE(regular.open());
    // /dev/null itself would share Qt's lock file with every other test run at the same time;
    // a link of our own reaches the same device under a name (and lock) of its own.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string null = dir.filePath("null").toStdString();
    ASSERT_EQ(symlink("/dev/null", null.c_str()), 0);
    const struct
    {
        std::string device;
        const char* reason;
    } cases[] = {
        {"/nonexistent/ttyUSB9", "no such device"},
        {regular.fileName().toStdString(), "not a serial device"},
        {null, "not a serial device"},
    };
    for (const auto& c : cases) {
        Bench b(c.device);
        ExpectPortError(b, c.device, c.reason);
    }
}

// A terminal program's claim on the line, as picocom and pyserial's exclusive mode make it:
// flock() on its descriptor, here by util-linux's flock(1). 0 when granted.
int TryFlock(const std::string& device)
{
    return QProcess::execute("flock",
                             {"--exclusive", "--nonblock", QString::fromStdString(device), "true"});
}

TEST(PortFailure, HeldByAnotherProgram)
{
    // A second copy of this program holds Qt's lock file; a terminal program holds flock().
    for (const bool terminal : {false, true}) {
        PtyPeer peer({{.reply = ValueReply(5)}});
        Bench b(peer.Device());
        QtSerialPort copy;
        QProcess holder;
        if (terminal) {
            holder.start("flock", {"--exclusive", QString::fromStdString(peer.Device()), "sh", "-c",
                                   "echo held; exec cat"});
            ASSERT_TRUE(holder.waitForReadyRead(5000));
        } else {
            ASSERT_TRUE(copy.Open(peer.Device(), LineSettings{})) << PortErrorText(copy.Error());
        }

        ExpectPortError(b, peer.Device(), "in use by another program");
        EXPECT_TRUE(peer.Heard().empty()) << terminal;

        // Once the other program lets go, the port works again.
        copy.Close();
        holder.closeWriteChannel();
        holder.waitForFinished(5000);
        b.Read("1", "30002");
        EXPECT_EQ(b.panel.rxData, " 5") << terminal << "\n" << b.panel.rxDetail;
    }
}

// A program that takes no lock (mbpoll) opening the line, without root's exemption from the
// terminal's exclusive mode: 0, or the errno of its open().
int TryPlainOpen(const std::string& device)
{
    const pid_t child = fork();
    if (child == 0) {
        if (getuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(255);
        _exit(open(device.c_str(), O_RDWR | O_NOCTTY) >= 0 ? 0 : errno);
    }
    int status = -1;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(PortFailure, TerminalProgramsAreRefusedDuringACommand)
{
    PtyPeer peer({{.reply = ValueReply(5)}});
    ASSERT_EQ(chmod(peer.Device().c_str(), 0666), 0);
    Bench b(peer.Device());
    int during = -1, plain = -1;
    b.line.wait.runPendingEvents = [&](double maxSeconds) {
        if (during < 0) {
            during = TryFlock(peer.Device());
            plain = TryPlainOpen(peer.Device());
        }
        RunPendingEvents(maxSeconds);
    };
    b.Read("1", "30002");
    EXPECT_EQ(b.panel.rxData, " 5") << b.panel.rxDetail;
    // Root passes TIOCEXCL, so only the lock keeps a terminal program off then.
    EXPECT_NE(during, 0) << "a terminal program got the line in the middle of a command";
    EXPECT_EQ(plain, EBUSY) << "a program that takes no lock got the line";
    EXPECT_EQ(TryFlock(peer.Device()), 0) << "the lock outlived the command";
    EXPECT_EQ(TryPlainOpen(peer.Device()), 0) << "exclusive mode outlived the command";
}

// The device is closed to everyone but root, and root opens every device whatever its mode, so
// the command runs in a child that has given root up first; it reports what the panel showed
// through a pipe.
TEST(PortFailure, WithoutPermission)
{
    PtyPeer peer;
    ASSERT_EQ(chmod(peer.Device().c_str(), 0), 0);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(pipeFds[0]);
        if (getuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(2);
        UseDevice use(peer.Device());
        QtSerialPort port;
        // No event loop in a forked child: the wait, if it ever came to that, only sleeps.
        Line line{port,
                  WaitServices{&SteadySeconds,
                               [](double s) {
                                   std::this_thread::sleep_for(std::chrono::duration<double>(s));
                               },
                               {}}};
        FakePanel panel;
        ReadTransaction(panel, line);
        const std::string report = panel.rxData + "\n" + panel.rxDetail + "\n" +
                                   (panel.enabled[0] ? "enabled" : "disabled") + "\n" +
                                   (port.IsOpen() ? "open" : "closed");
        const bool ok =
            write(pipeFds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
        _exit(ok ? 0 : 3);
    }
    close(pipeFds[1]);
    std::string report;
    pollfd p{pipeFds[0], POLLIN, 0};
    char buffer[256];
    ssize_t got = 0;
    while (poll(&p, 1, 10000) > 0 && (got = read(pipeFds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, static_cast<std::size_t>(got));
    close(pipeFds[0]);
    int status = 0;
    if (waitpid(child, &status, WNOHANG) != child) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(report, "PortErr\nLast command: read\n" + peer.Device() +
                          ": Permission denied\nenabled\nclosed");
    EXPECT_TRUE(peer.Heard().empty());
}

// ---------------------------------------------------------------------------------------------
// Many commands

int OpenFds()
{
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

#if defined(__SANITIZE_ADDRESS__)
#define VEK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEK_ASAN 1
#endif
#endif

#ifdef VEK_ASAN
// From the sanitizer runtime; not every compiler ships the header that declares it.
extern "C" std::size_t __sanitizer_get_current_allocated_bytes();
#endif

// Memory in use, in KiB: the resident size, except under AddressSanitizer, whose quarantine of
// freed blocks makes the resident size grow on purpose; there the live heap counts instead.
long MemoryKiB()
{
#ifdef VEK_ASAN
    return static_cast<long>(__sanitizer_get_current_allocated_bytes() / 1024);
#else
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
#endif
}

TEST(SlaveLine, ThousandCommandsLeaveNoTrace)
{
    SlaveProcess slave;
    Bench b(slave.Device());
    // The commands always wait 0.2 s, which would make 1000 of them last over three minutes.
    // This clock lets the real event loop run until the slave's answer is in (2 s at most),
    // then says that 0.2 s went by: every wait ends on its second reading, after the answer.
    std::size_t expected = 0;
    double fakeNow = 0;
    b.line.wait.clock = [&] {
        const auto giveUp = std::chrono::steady_clock::now() + 2s;
        for (;;) {
            const std::optional<std::size_t> n = b.port.real.BytesWaiting();
            if (!n || *n >= expected || std::chrono::steady_clock::now() > giveUp)
                break;
            RunPendingEvents(0.005);
        }
        return fakeNow += 0.2;
    };
    // Each pair writes a value and reads it back, so a wrong answer would show as well.
    auto pair = [&](int i) {
        const int value = i % 2 ? i : -i - 1;
        b.port.calls.clear(); // the logs would grow by themselves
        b.panel.log.clear();
        expected = 8; // a write's answer echoes the request
        b.Write("1", "41001", std::to_string(value));
        expected = 7;
        b.Read("1", "41001");
        return b.panel.rxData == (value < 0 ? "" : " ") + std::to_string(value);
    };
    for (int i = 0; i < 50; ++i)
        ASSERT_TRUE(pair(i)) << i << ": " << b.panel.rxData;

    const int fdsBefore = OpenFds();
    const long memoryBefore = MemoryKiB();
    int wrong = 0;
    for (int i = 0; i < 500; ++i)
        wrong += pair(i) ? 0 : 1;
    const int fdsAfter = OpenFds();
    const long memoryAfter = MemoryKiB();
    std::printf("fds %d -> %d, memory %ld -> %ld KiB\n", fdsBefore, fdsAfter, memoryBefore,
                memoryAfter);

    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(fdsAfter, fdsBefore);
    ASSERT_GT(memoryBefore, 0);
    EXPECT_LT(memoryAfter - memoryBefore, 256) << "KiB";
}

} // namespace
