// vek-pace: how soon vek-cli ends a read and a scan, against mbpoll and against a device that
// sends its reply at the line's pace. A benchmark, not a test: `make bench-pace` runs it.
//
//   vek-pace [--runs N] [--loop N] [--reads N] [--no-full-scan]
//
// 1. One read as a whole process, vek-cli and mbpoll in turn (--runs each, default 30), against
//    the libmodbus demo slave on a pseudo-terminal: wall time from spawn to exit.
// 2. --loop reads (default 100) from a shell loop, each tool: the loop's total.
// 3. --reads reads (default 200) at 19200 and at 9600 from a device of our own on a
//    pseudo-terminal that answers 1 ms after the request and then writes one byte at a time, a
//    character's time apart (8N1). The device dates its writes from the moment it read the
//    request; vek-cli's --json dates its end from the moment it sent it. The lag from the last
//    byte to the end is ended_ms - (last write - request read), which leaves out process
//    start-up and exit.
// 4. Scans with the default wait of a device at station 20, 9600 even: to the first device
//    (80th try), and with --all every one of the 2223 tries (about two minutes; --no-full-scan
//    leaves it out).
//
// mbpoll comes from the PATH; without it the mbpoll rows are left out.
#include "stats.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;

double Now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void SleepUntil(double when)
{
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(when);
    ts.tv_nsec = static_cast<long>((when - static_cast<double>(ts.tv_sec)) * 1e9);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

std::uint16_t Crc(const Bytes& bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (std::uint8_t b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

// ---- Child processes ----------------------------------------------------------------------

struct Ran
{
    int status = -1; // exit status, -1 when it did not exit normally
    std::string out, err;
    double seconds = 0; // spawn to reaped
    double reaped = 0;  // when, on Now()'s clock
    double cpu = 0;     // user and system seconds
    std::vector<long> rss; // resident kB, sampled every `sample` seconds
};

class PacedDevice;

// Runs argv (looked up on the PATH) to its end, stdin from /dev/null, stdout and stderr kept;
// meanwhile `device`, if any, answers what comes down its line, and with `sample` the child's
// resident size is read every that many seconds.
Ran RunProcess(const std::vector<std::string>& argv, PacedDevice* device = nullptr,
               double sample = 0);

// ---- The paced device ---------------------------------------------------------------------

struct DeviceRule
{
    int station = 1;
    speed_t speed = 0;       // answer only when the port set this speed; 0: at any
    int odd = -1;            // 1: only with PARODD set, 0: only without, -1: either
    int skip = 0;            // let this many matching requests go by unanswered
    double delay = 0.001;    // from the request to the first reply byte
    double gap = 0;          // between reply bytes; 0: the line's 8N1 pace at the port's speed
};

struct Answered
{
    double request = 0; // the request's last byte read
    double first = 0;   // the first reply byte's write(2) returned
    double last = 0;    // the last one's
};

// A Modbus device on a fresh pseudo-terminal that answers a read of 1 to 125 registers (function
// 3 or 4) with 42s, a byte at a time. A pty keeps the speed and PARODD that the opener set but
// drops PARENB, so no parity and even parity look alike here; a scan tries none first, which
// `skip` lets go by.
class PacedDevice
{
public:
    explicit PacedDevice(DeviceRule rule) : m_rule(rule)
    {
        termios raw{};
        cfmakeraw(&raw);
        char name[256] = {};
        if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        m_path = name;
        // vek-cli must not inherit either end. The slave end stays open here, so the master
        // never reads EIO between two commands.
        fcntl(m_master, F_SETFD, FD_CLOEXEC);
        fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    }
    ~PacedDevice()
    {
        close(m_master);
        close(m_slave);
    }
    PacedDevice(const PacedDevice&) = delete;
    PacedDevice& operator=(const PacedDevice&) = delete;

    const std::string& Path() const { return m_path; }
    int Fd() const { return m_master; }
    const std::vector<Answered>& Answers() const { return m_answers; }
    int Requests() const { return m_requests; }

    // Called when the master end is readable: takes whole 8-byte requests and answers them.
    void Serve()
    {
        std::uint8_t buffer[256];
        const ssize_t got = read(m_master, buffer, sizeof buffer);
        if (got <= 0)
            return;
        m_pending.insert(m_pending.end(), buffer, buffer + got);
        while (m_pending.size() >= 8) {
            const Bytes request(m_pending.begin(), m_pending.begin() + 8);
            m_pending.erase(m_pending.begin(), m_pending.begin() + 8);
            ++m_requests;
            Answer(request, Now());
        }
    }

private:
    void Answer(const Bytes& request, double heard)
    {
        termios line{};
        tcgetattr(m_slave, &line);
        const speed_t speed = cfgetispeed(&line);
        const bool odd = (line.c_cflag & PARODD) != 0;
        const int count = request[4] << 8 | request[5];
        const bool valid = Crc(request) == 0 && (request[1] == 3 || request[1] == 4) &&
                           count >= 1 && count <= 125;
        if (!valid || request[0] != m_rule.station ||
            (m_rule.speed != 0 && speed != m_rule.speed) ||
            (m_rule.odd >= 0 && odd != (m_rule.odd == 1)) || m_skipped++ < m_rule.skip)
            return;

        Bytes reply = {request[0], request[1], static_cast<std::uint8_t>(2 * count)};
        for (int i = 0; i < count; ++i)
            reply.insert(reply.end(), {0x00, 0x2A});
        const std::uint16_t crc = Crc(reply);
        reply.push_back(static_cast<std::uint8_t>(crc & 0xFF));
        reply.push_back(static_cast<std::uint8_t>(crc >> 8));

        const double gap = m_rule.gap > 0 ? m_rule.gap : 10.0 / BaudOf(speed);
        Answered a{heard, 0, 0};
        for (std::size_t i = 0; i < reply.size(); ++i) {
            SleepUntil(heard + m_rule.delay + static_cast<double>(i) * gap);
            if (write(m_master, &reply[i], 1) != 1)
                return;
            (i == 0 ? a.first : a.last) = Now();
        }
        m_answers.push_back(a);
    }

    static double BaudOf(speed_t speed)
    {
        return speed == B9600 ? 9600 : speed == B38400 ? 38400 : 19200;
    }

    DeviceRule m_rule;
    int m_master = -1, m_slave = -1;
    std::string m_path;
    Bytes m_pending;
    int m_requests = 0;
    int m_skipped = 0;
    std::vector<Answered> m_answers;
};

long ResidentKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return 0;
}

Ran RunProcess(const std::vector<std::string>& argv, PacedDevice* device, double sample)
{
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    Ran ran;
    const double start = Now();
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    close(err[1]);
    if (rc != 0) {
        close(out[0]);
        close(err[0]);
        ran.err = "cannot start " + argv[0];
        return ran;
    }
    std::string* into[2] = {&ran.out, &ran.err};
    pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {-1, POLLIN, 0}};
    if (device)
        fds[2].fd = device->Fd();
    double nextSample = start + sample;
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (sample > 0 && Now() >= nextSample) {
            ran.rss.push_back(ResidentKb(pid));
            nextSample += sample;
        }
        if (poll(fds, 3, sample > 0 ? 50 : -1) < 0)
            continue;
        for (int i = 0; i < 2; ++i)
            if (fds[i].revents) {
                char buffer[4096];
                const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
                if (got > 0) {
                    into[i]->append(buffer, static_cast<std::size_t>(got));
                } else {
                    close(fds[i].fd);
                    fds[i].fd = -1;
                }
            }
        if (device && (fds[2].revents & POLLIN))
            device->Serve();
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    ran.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
              usage.ru_stime.tv_usec / 1e6;
    ran.reaped = Now();
    ran.seconds = ran.reaped - start;
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

// ---- The demo slave -----------------------------------------------------------------------

// vek-demo-slave on its own pseudo-terminal for as long as the object lives.
class DemoSlave
{
public:
    DemoSlave()
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        char* argv[] = {const_cast<char*>(VEK_DEMO_SLAVE), nullptr};
        const int rc = posix_spawn(&m_pid, VEK_DEMO_SLAVE, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        char c = 0;
        pollfd pfd{out[0], POLLIN, 0};
        while (rc == 0 && poll(&pfd, 1, 5000) > 0 && read(out[0], &c, 1) == 1 && c != '\n')
            m_path += c;
        close(out[0]);
        if (rc != 0 || m_path.empty())
            throw std::runtime_error("the demo slave printed no device");
    }
    ~DemoSlave()
    {
        kill(m_pid, SIGTERM);
        waitpid(m_pid, nullptr, 0);
    }
    DemoSlave(const DemoSlave&) = delete;
    DemoSlave& operator=(const DemoSlave&) = delete;
    const std::string& Path() const { return m_path; }

private:
    pid_t m_pid = -1;
    std::string m_path;
};

// ---- Figures ------------------------------------------------------------------------------

struct Row
{
    std::string measure, value, target;
    int verdict; // 1 PASS, 0 MISS, -1 no target
};

std::string Fixed(double value, int decimals = 1)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::optional<double> JsonNumber(const std::string& json, const std::string& key)
{
    const std::string tag = "\"" + key + "\":";
    const std::size_t at = json.find(tag);
    if (at == std::string::npos)
        return std::nullopt;
    return std::strtod(json.c_str() + at + tag.size(), nullptr);
}

bool OnPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t start = 0; start <= dirs.size();) {
        const std::size_t end = std::min(dirs.find(':', start), dirs.size());
        if (access((dirs.substr(start, end - start) + "/" + program).c_str(), X_OK) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

[[noreturn]] void Fail(const std::string& what, const Ran& ran)
{
    std::fprintf(stderr, "vek-pace: %s (exit %d)\n%s%s", what.c_str(), ran.status,
                 ran.out.c_str(), ran.err.c_str());
    std::exit(1);
}

int Usage()
{
    std::fprintf(stderr, "usage: vek-pace [--runs N] [--loop N] [--reads N] [--no-full-scan]\n");
    return 2;
}

// The shell loop of measure 2: `count` runs of the command that follows, stopping at a failure.
std::vector<std::string> ShellLoop(int count, std::vector<std::string> command)
{
    std::vector<std::string> argv = {
        "sh", "-c",
        "i=0; while [ $i -lt " + std::to_string(count) +
            " ]; do \"$@\" >/dev/null || exit 1; i=$((i+1)); done",
        "sh"};
    argv.insert(argv.end(), command.begin(), command.end());
    return argv;
}

} // namespace

int main(int argc, char** argv)
{
    int runs = 30, loop = 100, reads = 200;
    bool fullScan = true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc)
            runs = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--loop") == 0 && i + 1 < argc)
            loop = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--reads") == 0 && i + 1 < argc)
            reads = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--no-full-scan") == 0)
            fullScan = false;
        else
            return Usage();
    }
    if (runs < 1 || loop < 1 || reads < 1)
        return Usage();
    // The device's byte pacing relies on sleeps that end on time, not up to 50 us late.
    prctl(PR_SET_TIMERSLACK, 1UL);

    const double began = Now();
    const std::string machine = MachineNote();
    const bool mbpoll = OnPath("mbpoll");
    std::vector<Row> rows;

    // 1 and 2: whole processes against the demo slave, 19200 none, station 1, 30002 (42).
    {
        const DemoSlave slave;
        const std::vector<std::string> vek = {VEK_CLI, "read", slave.Path(), "30002"};
        const std::vector<std::string> mb = {"mbpoll", "-m", "rtu", "-P", "none", "-b", "19200",
                                             "-a", "1", "-r", "2", "-t", "3", "-1", "-q",
                                             "-o", "1", slave.Path()};
        std::vector<double> vekWall, mbWall;
        for (int i = -1; i < runs; ++i) { // the first round warms the caches, uncounted
            const Ran v = RunProcess(vek);
            if (v.status != 0 || v.out.find("42") == std::string::npos)
                Fail("vek-cli read", v);
            if (i >= 0)
                vekWall.push_back(v.seconds * 1000);
            if (!mbpoll)
                continue;
            const Ran m = RunProcess(mb);
            if (m.status != 0 || m.out.find("42") == std::string::npos)
                Fail("mbpoll", m);
            if (i >= 0)
                mbWall.push_back(m.seconds * 1000);
        }
        const auto spread = [](const std::vector<double>& ms) {
            return Fixed(Percentile(ms, 0.5)) + " / " + Fixed(Percentile(ms, 0.9)) + " ms";
        };
        rows.push_back({"one read, wall per process, median / p90 (" + std::to_string(runs) +
                            " alternating runs): vek-cli",
                        spread(vekWall), "", -1});
        if (mbpoll) {
            const double ratio = Percentile(vekWall, 0.5) / Percentile(mbWall, 0.5);
            rows.push_back({"the same: mbpoll", spread(mbWall), "", -1});
            rows.push_back({"vek-cli / mbpoll, medians", Fixed(ratio, 2), "<= 0.5",
                            ratio <= 0.5});
        }

        const Ran v = RunProcess(ShellLoop(loop, vek));
        if (v.status != 0)
            Fail("the vek-cli loop", v);
        std::string value = Fixed(v.seconds, 2) + " s";
        std::string measure = std::to_string(loop) + " reads from a shell loop: vek-cli";
        int verdict = -1;
        if (mbpoll) {
            const Ran m = RunProcess(ShellLoop(loop, mb));
            if (m.status != 0)
                Fail("the mbpoll loop", m);
            measure += " / mbpoll";
            value += " / " + Fixed(m.seconds, 2) + " s";
            verdict = v.seconds <= 0.5 * m.seconds;
        }
        rows.push_back({measure, value, mbpoll ? "vek-cli <= half of mbpoll" : "", verdict});
    }

    // 3: a device that paces its reply at the line's speed.
    for (const speed_t speed : {B19200, B9600}) {
        const int baud = speed == B9600 ? 9600 : 19200;
        PacedDevice device({.station = 1, .speed = speed});
        std::vector<double> lag, ownView, align, spanned, exited;
        for (int i = 0; i < reads; ++i) {
            const Ran v = RunProcess({VEK_CLI, "read", device.Path(), "30002", "--speed",
                                      std::to_string(baud), "--json"},
                                     &device);
            const std::optional<double> ended = JsonNumber(v.out, "ended_ms");
            const std::optional<double> first = JsonNumber(v.out, "first_ms");
            const std::optional<double> last = JsonNumber(v.out, "last_ms");
            if (v.status != 0 || JsonNumber(v.out, "value") != 42.0 || !ended || !first || !last ||
                device.Answers().size() != static_cast<std::size_t>(i + 1))
                Fail("vek-cli read of the paced device", v);
            const Answered& a = device.Answers().back();
            lag.push_back(*ended - (a.last - a.request) * 1000);
            ownView.push_back(*ended - *last);
            align.push_back(*first - (a.first - a.request) * 1000);
            spanned.push_back((a.last - a.first) * 1000);
            exited.push_back((v.reaped - a.last) * 1000);
        }
        const auto spread = [](const std::vector<double>& ms) {
            return Fixed(Percentile(ms, 0.5), 2) + " / " + Fixed(Percentile(ms, 0.99), 2) + " / " +
                   Fixed(Percentile(ms, 1.0), 2) + " ms";
        };
        const std::string at = std::to_string(baud) + ", " + std::to_string(reads) + " reads";
        rows.push_back({"paced reply at " + at +
                            ": last byte written to vek-cli's end, median / p99 / max",
                        spread(lag), "median and p99 <= 2 ms",
                        Percentile(lag, 0.5) <= 2 && Percentile(lag, 0.99) <= 2});
        rows.push_back({"the same as vek-cli dates it (ended_ms - last_ms)", spread(ownView), "",
                        -1});
        rows.push_back({"last byte written to the process reaped (its exit, port closed)",
                        spread(exited), "", -1});
        rows.push_back({"first byte: vek-cli's date minus our write (the method's error)",
                        spread(align), "", -1});
        rows.push_back({"the device's pace: first to last byte written (6 characters' time: " +
                            Fixed(6 * 10000.0 / baud, 2) + " ms)",
                        spread(spanned), "", -1});
    }

    // 4: scans with the default wait, of a device at station 20, 9600 even, answering at 20 ms.
    const DeviceRule scanned{.station = 20, .speed = B9600, .odd = 0, .skip = 1, .delay = 0.020};
    const std::string found = "station 20, 9600 even: Value 42";
    {
        PacedDevice device(scanned);
        const Ran s = RunProcess({VEK_CLI, "scan", device.Path()}, &device);
        if (s.status != 0 || s.out.find(found) == std::string::npos)
            Fail("the scan to the first device", s);
        rows.push_back({"scan to the first device, station 20 at 9600 even (" +
                            std::to_string(device.Requests()) + " tries)",
                        Fixed(s.seconds, 2) + " s", "<= 10 s", s.seconds <= 10});
    }
    if (fullScan) {
        PacedDevice device(scanned);
        const Ran s = RunProcess({VEK_CLI, "scan", device.Path(), "--all"}, &device);
        if (s.status != 0 || s.out.find(found) == std::string::npos ||
            s.err.find("1 found") == std::string::npos)
            Fail("the full scan", s);
        const int minutes = static_cast<int>(s.seconds / 60);
        rows.push_back({"scan --all, the same device (" + std::to_string(device.Requests()) +
                            " tries)",
                        std::to_string(minutes) + " min " + Fixed(s.seconds - 60 * minutes) +
                            " s (" + Fixed(s.seconds / device.Requests() * 1000) + " ms a try)",
                        "<= 2 min 30 s", s.seconds <= 150});
    }

    // 5: a watch as fast as the line allows, against a device that takes the time a real line
    // would: the request's 8 characters, the silence that ends it, a turnaround of 1 ms, then the
    // reply a character at a time. The line's limit is those plus the silence before the next
    // request.
    {
        constexpr double baud = 19200, character = 10 / baud, silence = 3.5 * character;
        constexpr int polls = 10000;
        PacedDevice device({.station = 1, .delay = 8 * character + silence + 0.001 + character});
        const Ran w = RunProcess({VEK_CLI, "watch", device.Path(), "30002", "--interval", "0",
                                  "--polls", std::to_string(polls), "--format", "csv"},
                                 &device, 1.0);
        if (w.status != 0 || device.Answers().size() != static_cast<std::size_t>(polls))
            Fail("the watch at the line's pace", w);
        const double limit = 1 / ((8 + 7) * character + 2 * silence + 0.001);
        const double rate = polls / w.seconds;
        rows.push_back({"watch --interval 0 at 19200, " + std::to_string(polls) +
                            " polls: polls a second / the line's limit",
                        Fixed(rate) + " / " + Fixed(limit) + " (" + Fixed(100 * rate / limit) + " %)",
                        ">= 95 %", rate >= 0.95 * limit});
        rows.push_back({"the same: CPU (user + system) per poll", Fixed(w.cpu / polls * 1000, 3) +
                            " ms", "", -1});
        const std::size_t n = w.rss.size();
        if (n >= 4) {
            const long early = w.rss[n / 2], late = w.rss[n - 1];
            rows.push_back({"the same: resident kB halfway / at the end (" +
                                std::to_string(n) + " samples)",
                            std::to_string(early) + " / " + std::to_string(late), "no growth",
                            late <= early + 64});
        }
    }

    std::printf("vek-pace: %s\nmachine: %s\n\n| measure | value | target | result |\n"
                "|---|---|---|---|\n",
                mbpoll ? "vek-cli against mbpoll and a paced device"
                       : "vek-cli against a paced device (mbpoll not installed: left out)",
                machine.c_str());
    int missed = 0;
    for (const Row& r : rows) {
        std::printf("| %s | %s | %s | %s |\n", r.measure.c_str(), r.value.c_str(),
                    r.target.c_str(), r.verdict < 0 ? "" : r.verdict ? "PASS" : "MISS");
        missed += r.verdict == 0;
    }
    std::printf("\n%s; %.0f s in all\n",
                missed ? (std::to_string(missed) + " target(s) missed").c_str() : "all targets met",
                Now() - began);
    return 0;
}
