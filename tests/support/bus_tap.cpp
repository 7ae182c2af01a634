#include "bus_tap.h"

#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

std::string OpenPty(int& ours, int& side)
{
    termios raw{};
    cfmakeraw(&raw);
    char name[256] = {};
    if (openpty(&ours, &side, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    // Programs the test starts must not inherit them: their close would not hang up.
    fcntl(ours, F_SETFD, FD_CLOEXEC);
    fcntl(side, F_SETFD, FD_CLOEXEC);
    return name;
}

} // namespace

BusTap::BusTap(const std::string& slaveDevice)
{
    m_masterName = OpenPty(m_master, m_masterSide);
    m_listenerName = OpenPty(m_listener, m_listenerSide);
    // A listener that does not read must not hold up the bus: its bytes are dropped and counted.
    fcntl(m_listener, F_SETFL, fcntl(m_listener, F_GETFL) | O_NONBLOCK);
    m_slave = open(slaveDevice.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_slave < 0)
        throw std::runtime_error("cannot open " + slaveDevice);
    termios raw{};
    tcgetattr(m_slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(m_slave, TCSANOW, &raw);
    m_thread = std::thread([this] { Run(); });
}

BusTap::~BusTap()
{
    m_stop = true;
    m_thread.join();
    for (const int fd : {m_master, m_masterSide, m_listener, m_listenerSide, m_slave})
        close(fd);
}

void BusTap::Copy(int from, int to)
{
    std::uint8_t buffer[4096];
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got <= 0)
        return;
    for (ssize_t put = 0; put < got;) {
        const ssize_t n = write(to, buffer + put, static_cast<std::size_t>(got - put));
        if (n <= 0)
            break;
        put += n;
    }
    const ssize_t copied = write(m_listener, buffer, static_cast<std::size_t>(got));
    m_dropped += static_cast<std::size_t>(got - std::max<ssize_t>(copied, 0));
}

void BusTap::Run()
{
    while (!m_stop) {
        pollfd fds[2] = {{m_master, POLLIN, 0}, {m_slave, POLLIN, 0}};
        if (poll(fds, 2, 10) <= 0)
            continue;
        if (fds[0].revents & POLLIN)
            Copy(m_master, m_slave);
        if (fds[1].revents & POLLIN)
            Copy(m_slave, m_master);
    }
}
