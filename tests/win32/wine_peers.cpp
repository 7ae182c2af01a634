// Two devices on fresh pseudo-terminals for the end-to-end run of the Windows build under wine:
// the first answers every request with seven bytes whose CRC is wrong, the second with the value
// 42, its first byte 50 ms after the request and the others 5 ms apart; then three device servers
// on the loopback: a second demo slave behind socat, one that takes the request and closes, one
// that never takes a connection. Prints each device path and server address on a line of its
// own, then serves until SIGTERM, SIGINT or the death of its parent. Linux only.
#include "device_server.h"
#include "pty_peer.h"
#include "slave_process.h"

#include <chrono>
#include <csignal>
#include <cstdio>

#include <sys/prctl.h>

using namespace std::chrono_literals;

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
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    // The answer to a read of 30002 that holds 42, and the same with the last CRC byte off by one.
    const Bytes value{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEF};
    const Bytes garbled{0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE};
    PtyPeer badCrc(std::vector<PtyAnswer>(10000, {.reply = garbled}));
    PtyPeer late(std::vector<PtyAnswer>(10000, {.reply = value, .delay = 50ms, .gap = 5ms}));
    const DeafServer deaf;
    std::printf("%s\n%s\n%s\n%s\n%s\n", badCrc.Device().c_str(), late.Device().c_str(),
                server.Address().c_str(), closing.Address().c_str(), deaf.Address().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
