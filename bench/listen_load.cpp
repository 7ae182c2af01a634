// vek-listen-load: vek-cli listen's resident size and pace under a line that never rests. A
// benchmark, not a test: `make bench-listen` runs it.
//
//   vek-listen-load [--frames N] [--mode conversation|noise|babble]
//
// Starts vek-cli listen on a fresh pseudo-terminal, its output to /dev/null, and writes N frames
// (default 1000000) into it as fast as it reads them, with no silence anywhere:
//   conversation  reads of 1 to 10 registers and their answers at stations 1 to 20, with an
//                 exception, an unanswered request and a stray byte now and then
//   noise         random bytes, as many as the conversation's frames would take
//   babble        the same count of bytes, all FF
// Prints the listener's VmRSS every tenth of the way, the time taken and the counts it printed
// when it ended (Ctrl+C once the line is drained). Linux only.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char** environ;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Ends the frame that begins at `from` with its CRC.
void EndFrame(Bytes& out, std::size_t from)
{
    std::uint16_t crc = 0xFFFF;
    for (std::size_t i = from; i < out.size(); ++i) {
        crc ^= out[i];
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    out.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    out.push_back(static_cast<std::uint8_t>(crc >> 8));
}

void AddFrame(Bytes& out, std::initializer_list<int> bytes)
{
    const std::size_t from = out.size();
    for (const int b : bytes)
        out.push_back(static_cast<std::uint8_t>(b));
    EndFrame(out, from);
}

long RssKb(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// A request, and mostly its answer.
void Conversation(Bytes& out, std::mt19937& random, long& frames)
{
    const int station = 1 + static_cast<int>(random() % 20);
    const int count = 1 + static_cast<int>(random() % 10);
    const int address = static_cast<int>(random() % 1000);
    AddFrame(out, {station, 3, address >> 8, address & 0xFF, 0, count});
    ++frames;
    switch (random() % 50) {
    case 0: // no answer
        return;
    case 1:
        AddFrame(out, {station, 0x83, 2});
        break;
    case 2: // a stray byte before the answer
        out.push_back(0);
        [[fallthrough]];
    default: {
        const std::size_t from = out.size();
        out.insert(out.end(),
                   {static_cast<std::uint8_t>(station), 3, static_cast<std::uint8_t>(2 * count)});
        for (int i = 0; i < 2 * count; ++i)
            out.push_back(static_cast<std::uint8_t>(random()));
        EndFrame(out, from);
        break;
    }
    }
    ++frames;
}

} // namespace

int main(int argc, char** argv)
{
    long want = 1000000;
    std::string mode = "conversation";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--frames") == 0)
            want = std::atol(argv[i + 1]);
        else if (std::strcmp(argv[i], "--mode") == 0)
            mode = argv[i + 1];
    }
    int master = -1, side = -1;
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&master, &side, name, &raw, nullptr) != 0)
        return 1;
    fcntl(master, F_SETFD, FD_CLOEXEC);
    fcntl(side, F_SETFD, FD_CLOEXEC);

    int err[2];
    if (pipe(err) != 0)
        return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, err[0]);
    std::string cli = VEK_CLI, verb = "listen";
    char* args[] = {cli.data(), verb.data(), name, nullptr};
    pid_t pid = -1;
    if (posix_spawn(&pid, cli.c_str(), &actions, nullptr, args, environ) != 0)
        return 1;
    close(err[1]);
    std::string told;
    char c = 0;
    while (told.find("Ctrl+C") == std::string::npos && read(err[0], &c, 1) == 1)
        told += c;

    std::mt19937 random(22);
    const long start = RssKb(pid);
    const auto began = std::chrono::steady_clock::now();
    long frames = 0, bytes = 0, nextSample = want / 10;
    std::printf("mode %s, %ld frames; VmRSS at the start %ld kB\n", mode.c_str(), want, start);
    Bytes out;
    while (frames < want) {
        out.clear();
        while (out.size() < 4096 && frames < want) {
            if (mode == "conversation") {
                Conversation(out, random, frames);
            } else {
                // The bytes that many frames of the conversation take: 13 a frame on average.
                for (int i = 0; i < 13; ++i)
                    out.push_back(mode == "babble" ? 0xFF : static_cast<std::uint8_t>(random()));
                ++frames;
            }
        }
        for (std::size_t put = 0; put < out.size();) {
            const ssize_t n = write(master, out.data() + put, out.size() - put);
            if (n > 0)
                put += static_cast<std::size_t>(n);
        }
        bytes += static_cast<long>(out.size());
        if (frames >= nextSample) {
            std::printf("%8ld frames: VmRSS %ld kB\n", frames, RssKb(pid));
            std::fflush(stdout);
            nextSample += want / 10;
        }
    }
    for (int queued = 1; queued > 0;) {
        ioctl(side, FIONREAD, &queued);
        std::this_thread::sleep_for(std::chrono::milliseconds(queued > 0 ? 10 : 300));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("%ld bytes in %.1f s (%.0f frames a second); VmRSS at the end %ld kB\n", bytes,
                seconds, static_cast<double>(frames) / seconds, RssKb(pid));
    kill(pid, SIGINT);
    std::string summary;
    while (read(err[0], &c, 1) == 1)
        summary += c;
    int status = 0;
    waitpid(pid, &status, 0);
    std::printf("exit %d; the listener said:\n%s", WEXITSTATUS(status), summary.c_str());
    return 0;
}
