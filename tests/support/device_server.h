#pragma once

#include "slave_process.h"

#include <string>

// socat as a serial device server on 127.0.0.1 while the object lives: each connection is passed
// to `far`, a socat address such as Terminal("/dev/pts/3"). -t0 ends each connection's socat at
// once; it would otherwise read on for 0.5 s and take the next connection's reply. Its first log
// line names the port; socat ignores SIGPIPE, so the rest of its log goes nowhere.
struct DeviceServer
{
    explicit DeviceServer(const std::string& far)
        : socat({"-t0", "-d", "-d", "-lf", "/dev/stdout",
                 "TCP-LISTEN:0,bind=127.0.0.1,reuseaddr,fork", far},
                "/usr/bin/socat")
    {
    }
    std::string Address() const
    {
        return "tcp://127.0.0.1:" + socat.Device().substr(socat.Device().rfind(':') + 1);
    }

    SlaveProcess socat;
};

inline std::string Terminal(const std::string& device)
{
    return "FILE:" + device + ",raw,echo=0";
}

// A server that never takes a connection: the one place in its queue of connections not yet
// taken is filled, so the system drops every further request to connect.
class DeafServer
{
public:
    DeafServer();
    ~DeafServer();
    const std::string& Address() const { return m_address; }

private:
    int m_listener = -1;
    int m_queued = -1;
    std::string m_address;
};
