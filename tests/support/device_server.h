#pragma once

#include <string>

#include <sys/types.h>

// socat as a serial device server on the loopback for as long as the object lives: each
// connection to Address() (tcp://127.0.0.1:PORT) is passed to `far`, a socat address such as
// FILE:/dev/pts/3,raw,echo=0, and ends when the connection does (-t0: socat would otherwise go on
// reading the line for half a second, and take the next connection's reply).
class DeviceServer
{
public:
    explicit DeviceServer(const std::string& far);
    ~DeviceServer();
    DeviceServer(const DeviceServer&) = delete;
    DeviceServer& operator=(const DeviceServer&) = delete;

    const std::string& Address() const { return m_address; }

private:
    pid_t m_pid = -1;
    std::string m_log;
    std::string m_address;
};

// The socat address of a terminal device, raw.
inline std::string Terminal(const std::string& device)
{
    return "FILE:" + device + ",raw,echo=0";
}

// A device server that never takes a connection: its one place in the queue of connections not
// yet taken is filled, so the system drops every further request to connect.
class DeafServer
{
public:
    DeafServer();
    ~DeafServer();
    DeafServer(const DeafServer&) = delete;
    DeafServer& operator=(const DeafServer&) = delete;

    const std::string& Address() const { return m_address; }

private:
    int m_listener = -1;
    int m_queued = -1;
    std::string m_address;
};
