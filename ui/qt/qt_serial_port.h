#pragma once

#include "serial/serial_port.h"

#include <QSerialPort>
#include <QString>

// SerialPort on Qt SerialPort: 8 data bits, 1 stop bit, no flow control, modem lines untouched;
// the line is claimed both by Qt's lock file and, on Unix, by flock() as terminal programs do.
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
    PortError Error() const override;

private:
    bool Fail(PortFault fault, const QString& system = {});
    void OnError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    QString m_device;
    PortError m_error;
    bool m_broken = false;
};
