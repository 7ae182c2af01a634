#pragma once

#include "serial/serial_port.h"

#include <atomic>
#include <string>
#include <thread>

// A line between a master and a slave as a third station on an RS-485 bus hears it: what the
// master writes to Master() goes to the slave's device, what the slave writes goes back, and
// every byte goes to Listener() as well, in the order it crossed. All of them pseudo-terminals,
// each side held open here too, so that a program closing its end never hangs the line up.
class BusTap
{
public:
    explicit BusTap(const std::string& slaveDevice);
    ~BusTap();
    BusTap(const BusTap&) = delete;
    BusTap& operator=(const BusTap&) = delete;

    const std::string& Master() const { return m_masterName; }
    const std::string& Listener() const { return m_listenerName; }
    // Bytes that the listener's line could not take (it should take every one).
    std::size_t Dropped() const { return m_dropped; }

private:
    void Run();
    void Copy(int from, int to);

    int m_master = -1, m_masterSide = -1;     // the master's pty: our end, and its device held open
    int m_listener = -1, m_listenerSide = -1; // the listener's
    int m_slave = -1;                         // the slave's device, opened as a master would
    std::string m_masterName;
    std::string m_listenerName;
    std::atomic<std::size_t> m_dropped{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
