#pragma once

#include "serial/serial_port.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <termios.h>

// What the far end does with one 8-byte request.
struct PtyAnswer
{
    bool echo = false;                  // first hand the request back, as half-duplex adapters do
    Bytes reply{};                      // then these bytes
    std::chrono::milliseconds delay{0}; // before the first byte, counted from the request
    std::chrono::milliseconds gap{0};   // between single reply bytes; 0 sends them in one piece
    bool hangUp = false;                // after the delay, close the far end instead of answering
};

// Answers a request by its bytes and the line settings the opener set, in place of a script.
using PtyResponder = std::function<PtyAnswer(const Bytes& request, const termios& line)>;

// A raw scripted device on a fresh pseudo-terminal: answer i goes to request i, requests past
// the script get no answer. Device() is the path the program under test opens. The peer holds
// that side open too, so its own end never reads EIO while the program has the port closed.
class PtyPeer
{
public:
    explicit PtyPeer(std::vector<PtyAnswer> script = {}, PtyResponder responder = {});
    ~PtyPeer();
    PtyPeer(const PtyPeer&) = delete;
    PtyPeer& operator=(const PtyPeer&) = delete;

    const std::string& Device() const { return m_device; }
    // Every byte that came down the line so far, in order.
    Bytes Heard() const;
    // True once every scheduled byte is written (or the far end is closed); false on time out.
    bool WaitUntilAnswered(std::chrono::milliseconds limit) const;
    // Bytes sitting in the device's receive queue, not yet read by anyone.
    int QueuedAtDevice() const;
    // The line settings when the last request was heard, if any was. A pty keeps the speed, odd
    // or even and the stop bits, but always clears the parity enable.
    std::optional<termios> LineAtLastRequest() const;

private:
    struct Chunk
    {
        std::chrono::steady_clock::time_point due;
        Bytes bytes;
        bool hangUp = false;
    };

    void Run();
    void Schedule(const Bytes& request);

    int m_master = -1;
    int m_slave = -1;
    std::string m_device;
    std::vector<PtyAnswer> m_script;
    PtyResponder m_responder;

    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    Bytes m_heard;
    std::size_t m_requests = 0;
    std::optional<termios> m_line;
    std::deque<Chunk> m_pending;
    bool m_stop = false;
    std::thread m_thread;
};
