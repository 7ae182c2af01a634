#pragma once

#include "serial/serial_port.h"

#include <QTcpSocket>

// SerialPort on a TCP connection to a serial device server (tcp://HOST:PORT) that passes the
// RTU frames through unchanged; the line settings are the server's, so they are not used here.
// A command connects as it opens the port, with the wait's events running (the lookup of a name
// runs on Qt's own thread), and gives up after kConnectSeconds.
class QtTcpPort final : public SerialPort
{
public:
    QtTcpPort();
    ~QtTcpPort() override;

    // Connects with Qt's event loop as the wait.
    bool Open(const std::string& device, const LineSettings& settings) override;
    bool OpenWithEvents(const std::string& device, const LineSettings& settings,
                        const WaitServices& wait) override;
    void Close() override;
    bool IsOpen() const override { return m_open; }
    bool Send(std::span<const std::uint8_t> bytes) override;
    // Once the server has closed the connection, what came before the close is still handed
    // over; after that these fail.
    std::optional<std::size_t> BytesWaiting() override;
    std::optional<Bytes> TakeAll() override;
    // Dated by Qt's ready-read, which wakes the wait anyway.
    std::vector<Arrival> Arrivals() const override { return m_arrivals; }
    // A listener forgets what it has read: those bytes no longer count towards the bound either.
    void ForgetArrivals(std::size_t total) override;
    PortError Error() const override { return m_error; }

private:
    bool Fail(PortFault fault, const QString& system = {});
    bool FailToConnect();
    bool Usable();
    void Fetch();

    QTcpSocket m_socket;
    PortError m_error;
    bool m_open = false;
    bool m_connected = false;
    bool m_closedByServer = false;
    Bytes m_received;        // not taken yet
    std::size_t m_total = 0; // received since the request (or the connection), taken or not
    std::size_t m_forgotten = 0; // of those, the ones a listener has read and let go
    std::vector<Arrival> m_arrivals;
};
