// A device on a fresh pseudo-terminal that answers every request with seven bytes whose CRC is
// wrong, for the end-to-end run of the Windows build under wine. Prints the device path as its
// first line, then serves until SIGTERM, SIGINT or the death of its parent. Linux only.
#include "pty_peer.h"

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>

int main()
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Blocked before the peer's thread starts, so that only sigwait below takes them.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    // The answer to a read of 30002 that holds 42, with the last CRC byte off by one.
    const PtyAnswer garbled{.reply = {0x01, 0x04, 0x02, 0x00, 0x2A, 0x38, 0xEE}};
    PtyPeer peer(std::vector<PtyAnswer>(10000, garbled));
    std::printf("%s\n", peer.Device().c_str());
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stop, &signal);
    return 0;
}
