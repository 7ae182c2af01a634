#include "pty_peer.h"

#include <algorithm>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kRequestSize = 8;
constexpr int kPollMs = 10; // how soon the thread notices that it should stop

} // namespace

PtyPeer::PtyPeer(std::vector<PtyAnswer> script, PtyResponder responder)
    : m_script(std::move(script)), m_responder(std::move(responder))
{
    termios raw{};
    cfmakeraw(&raw);
    char name[256] = {};
    if (openpty(&m_master, &m_slave, name, &raw, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    m_device = name;
    // A program the test starts must not hold the far end open: its close would not hang up.
    fcntl(m_master, F_SETFD, FD_CLOEXEC);
    fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    // Never block the thread on a full line: a babbling answer waits for room in poll().
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_thread = std::thread([this] { Run(); });
}

PtyPeer::~PtyPeer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_thread.join();
    if (m_master >= 0)
        close(m_master);
    close(m_slave);
}

Bytes PtyPeer::Heard() const
{
    std::lock_guard lock(m_mutex);
    return m_heard;
}

bool PtyPeer::WaitUntilAnswered(std::chrono::milliseconds limit) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, limit, [this] { return m_pending.empty(); });
}

int PtyPeer::QueuedAtDevice() const
{
    int n = -1;
    ioctl(m_slave, FIONREAD, &n);
    return n;
}

std::optional<termios> PtyPeer::LineAtLastRequest() const
{
    std::lock_guard lock(m_mutex);
    return m_line;
}

void PtyPeer::Schedule(const Bytes& request)
{
    termios line{};
    if (tcgetattr(m_slave, &line) == 0)
        m_line = line;
    const std::size_t index = m_requests++;
    if (!m_responder && index >= m_script.size())
        return;
    const PtyAnswer a = m_responder ? m_responder(request, line) : m_script[index];
    auto due = std::chrono::steady_clock::now() + a.delay;
    if (a.hangUp) {
        m_pending.push_back({due, {}, true});
        return;
    }
    if (a.echo)
        m_pending.push_back({due, request});
    if (a.gap.count() == 0) {
        if (!a.reply.empty())
            m_pending.push_back({due, a.reply});
        return;
    }
    for (std::uint8_t b : a.reply) {
        m_pending.push_back({due, {b}});
        due += a.gap;
    }
}

void PtyPeer::Run()
{
    using namespace std::chrono;
    Bytes partial;
    std::size_t written = 0; // of the front chunk
    for (;;) {
        std::unique_lock lock(m_mutex);
        if (m_stop)
            return;
        const auto now = steady_clock::now();
        const bool due = !m_pending.empty() && m_pending.front().due <= now;
        if (due && m_pending.front().hangUp) {
            close(m_master);
            m_master = -1;
            m_pending.clear();
            m_changed.notify_all();
        }
        int timeout = kPollMs;
        if (!m_pending.empty() && !due) {
            const auto left = ceil<milliseconds>(m_pending.front().due - now).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, kPollMs));
        }
        const int fd = m_master;
        lock.unlock();

        if (fd < 0) {
            std::this_thread::sleep_for(milliseconds(kPollMs));
            continue;
        }
        pollfd p{fd, static_cast<short>(POLLIN | (due ? POLLOUT : 0)), 0};
        if (poll(&p, 1, timeout) <= 0)
            continue;

        if (p.revents & POLLIN) {
            std::uint8_t buffer[4096];
            const ssize_t got = read(fd, buffer, sizeof buffer);
            if (got > 0) {
                lock.lock();
                m_heard.insert(m_heard.end(), buffer, buffer + got);
                partial.insert(partial.end(), buffer, buffer + got);
                while (partial.size() >= kRequestSize) {
                    Schedule(Bytes(partial.begin(), partial.begin() + kRequestSize));
                    partial.erase(partial.begin(), partial.begin() + kRequestSize);
                }
                lock.unlock();
            }
        }
        if (due && (p.revents & POLLOUT)) {
            lock.lock();
            const Bytes& bytes = m_pending.front().bytes;
            const ssize_t put = write(fd, bytes.data() + written, bytes.size() - written);
            if (put > 0)
                written += static_cast<std::size_t>(put);
            if (written == bytes.size()) {
                m_pending.pop_front();
                written = 0;
                m_changed.notify_all();
            }
            lock.unlock();
        }
        // Nobody holds the other side open any more; keep this loop from spinning on it.
        if ((p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLIN))
            std::this_thread::sleep_for(milliseconds(kPollMs));
    }
}
