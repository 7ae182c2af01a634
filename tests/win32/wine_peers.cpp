// Three devices on fresh pseudo-terminals for the end-to-end run of the Windows build under wine:
// the first answers every request with seven bytes whose CRC is wrong, the second with the value
// 42, its first byte 50 ms after the request and the others 5 ms apart; the third carries a
// conversation between other stations every 100 ms, for vek-cli listen to overhear, and hangs up
// at SIGUSR1, as an adapter pulled out; then three device servers on the loopback: a second demo
// slave behind socat, one that takes the request and closes, one that never takes a connection.
// Prints each device path and server address on a line of its own, then serves until SIGTERM,
// SIGINT or the death of its parent. Linux only.
#include "device_server.h"
#include "pty_peer.h"
#include "slave_process.h"

#include "modbus/frame_codec.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>

#include <pty.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

Bytes Frame(Bytes bytes)
{
    const Crc crc = Crc16(bytes);
    bytes.insert(bytes.end(), {crc.CrcLo, crc.CrcHi});
    return bytes;
}

// A read of 30002 answered with 42, one of 30011 answered with exception 02, and a read of
// station 9 that nobody answers, each frame written whole, 20 ms apart.
void CarryConversation(int fd, std::atomic<bool>& stop)
{
    const Bytes frames[] = {Frame({1, 4, 0, 1, 0, 1}),  Frame({1, 4, 2, 0, 42}),
                            Frame({1, 4, 0, 10, 0, 1}), Frame({1, 0x84, 2}),
                            Frame({9, 3, 0, 0, 0, 1})};
    while (!stop)
        for (const Bytes& frame : frames) {
            if (write(fd, frame.data(), frame.size()) < 0) {
                // Nobody has the device open yet; the frame goes nowhere.
            }
            std::this_thread::sleep_for(20ms);
        }
    close(fd);
}

} // namespace

int main()
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Started before the signals are blocked: their processes would inherit the block.
    const SlaveProcess slave;
    const DeviceServer server(Terminal(slave.Device()));
    const DeviceServer closing("SYSTEM:head -c 8 >/dev/null");
    // Blocked before the peer's thread starts, so that only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    // The answer to a read of 30002 that holds 42, and the same with the last CRC byte off by one.
    const Bytes value{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    const Bytes garbled{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE};
    PtyPeer badCrc(std::vector<PtyAnswer>(10000, {.reply = garbled}));
    PtyPeer late(std::vector<PtyAnswer>(10000, {.reply = value, .delay = 50ms, .gap = 5ms}));
    const DeafServer deaf;
    int bus = -1, busSide = -1;
    char busName[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (openpty(&bus, &busSide, busName, &raw, nullptr) != 0)
        return 1;
    std::atomic<bool> done{false};
    std::thread carrier(CarryConversation, bus, std::ref(done));
    std::printf("%s\n%s\n%s\n%s\n%s\n%s\n", badCrc.Device().c_str(), late.Device().c_str(),
                busName, server.Address().c_str(), closing.Address().c_str(),
                deaf.Address().c_str());
    std::fflush(stdout);

    int signal = 0;
    while (sigwait(&stop, &signal) == 0 && signal == SIGUSR1 && !done) {
        done = true;
        carrier.join();
    }
    done = true;
    if (carrier.joinable())
        carrier.join();
    close(busSide);
    return 0;
}
