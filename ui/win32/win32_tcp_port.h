#pragma once

#include "serial/serial_port.h"

#include <winsock2.h>

#include <windows.h>

// SerialPort on a TCP connection to a serial device server (tcp://HOST:PORT) that passes the
// RTU frames through unchanged; the line settings are the server's, so they are not used here.
// A command connects as it opens the port: a name is looked up on a thread of its own and the
// connection made while the wait's events run, both within kConnectSeconds. The socket's event
// wakes the wait (win32_wait.h) when bytes come, which dates them.
class Win32TcpPort final : public SerialPort
{
public:
    Win32TcpPort();
    Win32TcpPort(const Win32TcpPort&) = delete;
    Win32TcpPort& operator=(const Win32TcpPort&) = delete;
    ~Win32TcpPort() override;

    // Connects with this thread's message queue as the wait.
    bool Open(const std::string& device, const LineSettings& settings) override;
    bool OpenWithEvents(const std::string& device, const LineSettings& settings,
                        const WaitServices& wait) override;
    void Close() override;
    bool IsOpen() const override { return m_socket != INVALID_SOCKET; }
    bool Send(std::span<const std::uint8_t> bytes) override;
    // Once the server has closed the connection, what came before the close is still handed
    // over; after that these fail.
    std::optional<std::size_t> BytesWaiting() override;
    std::optional<Bytes> TakeAll() override;
    std::vector<Arrival> Arrivals() const override { return m_arrivals; }
    // A listener forgets what it has read: those bytes no longer count towards the bound either.
    void ForgetArrivals(std::size_t total) override;
    PortError Error() const override { return m_error; }

private:
    bool Fail(PortFault fault, std::string system = {});
    bool FailToConnect(int error);
    bool Usable();
    void OnNetworkEvents(const WSANETWORKEVENTS& happened);
    void Drain();
    void ClosedByServer(int error);

    bool m_started = false; // Windows Sockets
    SOCKET m_socket = INVALID_SOCKET;
    HANDLE m_event; // the socket's: connected, bytes received, closed
    bool m_closedByServer = false;
    Bytes m_received;        // not taken yet
    std::size_t m_total = 0; // received since the request (or the connection), taken or not
    std::size_t m_forgotten = 0; // of those, the ones a listener has read and let go
    std::vector<Arrival> m_arrivals;
    PortError m_error;
};
