#pragma once

#include "serial/marked_input.h"
#include "serial/serial_port.h"

#include <QSerialPort>
#include <QString>

// SerialPort on Qt SerialPort: 8 data bits, 1 stop bit, no flow control, modem lines untouched;
// the line is claimed by Qt's lock file and, on Unix, by flock() as terminal programs do, and by
// the terminal's exclusive mode (TIOCEXCL) against programs that take no lock, root excepted.
// With odd or even parity a byte received with a parity or framing error is taken as '?'.
class QtSerialPort final : public SerialPort
{
public:
    QtSerialPort();
    ~QtSerialPort() override;

    bool Open(const std::string& device, const LineSettings& settings) override;
    void Close() override;
    bool IsOpen() const override;
    bool Send(std::span<const std::uint8_t> bytes) override;
    std::optional<std::size_t> BytesWaiting() override;
    std::optional<Bytes> TakeAll() override;
    bool Discard() override;
    // Dated by Qt's ready-read, which wakes the wait anyway.
    std::vector<Arrival> Arrivals() const override;
    void ForgetArrivals(std::size_t total) override;
    PortError Error() const override;

private:
    bool Fail(PortFault fault, const QString& system = {});
    void OnError(QSerialPort::SerialPortError error);
    // Moves what Qt has read into m_received, marks decoded.
    void Fetch();

    QSerialPort m_port;
    QString m_device;
    PortError m_error;
    bool m_broken = false;
    bool m_marked = false; // receive errors come marked (parity odd or even, on Unix)
    MarkedInput m_marks;
    // Received bytes as they will be taken: counted by BytesWaiting, handed over by TakeAll.
    Bytes m_received;
    std::size_t m_taken = 0; // bytes TakeAll handed over since the open
    std::vector<Arrival> m_arrivals;
};
