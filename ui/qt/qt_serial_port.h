#pragma once

#include "serial_port.h"

#include <QSerialPort>
#include <QString>

// SerialPort on Qt SerialPort: 8 data bits, 1 stop bit, no flow control, modem lines untouched;
// the line is claimed both by Qt's lock file and, on Unix, by flock() as terminal programs do.
class QtSerialPort final : public SerialPort
{
public:
    QtSerialPort();
    ~QtSerialPort() override;

    bool Open(int portNo, const std::string& settings) override;
    void Close() override;
    bool IsOpen() const override;
    bool Send(std::span<const std::uint8_t> bytes) override;
    std::optional<std::size_t> BytesWaiting() override;
    std::optional<Bytes> TakeAll() override;
    std::string Reason() const override;

private:
    bool Fail(const QString& reason);
    void OnError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    QString m_device;
    QString m_reason;
    bool m_broken = false;
};
