#include "qt_serial_port.h"

#include "device.h"
#include "exchange.h"

#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>

#include <sys/file.h>
#endif

namespace {

QSerialPort::Parity ParityOf(char letter)
{
    return letter == 'O'   ? QSerialPort::OddParity
           : letter == 'E' ? QSerialPort::EvenParity
                           : QSerialPort::NoParity;
}

} // namespace

QtSerialPort::QtSerialPort()
{
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port,
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
}

QtSerialPort::~QtSerialPort()
{
    Close();
}

bool QtSerialPort::Open(int portNo, const std::string& settings)
{
    Close();
    m_reason.clear();
    m_broken = false;
    m_device = QString::fromStdString(DeviceForPort(portNo).path);

    const std::optional<LineSettings> line = ParseSettings(settings);
    if (!line)
        return Fail(QString("unsupported settings \"%1\"").arg(QString::fromStdString(settings)));

    m_port.setPortName(m_device);
    m_port.setBaudRate(line->baud);
    m_port.setParity(ParityOf(line->parity));
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port.error();
        if (error == QSerialPort::DeviceNotFoundError)
            return Fail("no such device");
        if (error == QSerialPort::PermissionError) {
            // Qt reports a lock held by another program as a permission error too, and it locks
            // before it looks at the device, so a missing one can end up here as well.
            const QFileInfo info(m_device);
            if (!info.exists())
                return Fail("no such device");
            if (info.isReadable() && info.isWritable())
                return Fail("in use by another program");
            return Fail("Permission denied");
        }
        // Qt's terminal calls fail on a plain file or a device that is no terminal (ENOTTY); the
        // standard speeds and 8N1 that we ask for are refused by no real serial port.
        if (error == QSerialPort::UnsupportedOperationError)
            return Fail("not a serial device");
        return Fail(m_port.errorString());
    }
#ifdef Q_OS_UNIX
    // Terminal programs (picocom, pyserial's exclusive mode) claim a line with flock() on their
    // descriptor, not with Qt's lock file; take that claim too, so that neither reads the other's
    // bytes. It goes with the descriptor when the port closes.
    if (::flock(static_cast<int>(m_port.handle()), LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        m_port.close();
        return Fail(error == EWOULDBLOCK ? QString("in use by another program")
                                         : QString::fromLocal8Bit(std::strerror(error)));
    }
#endif
    // A stale byte from before this command must not count towards its reply.
    m_port.clear();
    return true;
}

void QtSerialPort::Close()
{
    if (m_port.isOpen())
        m_port.close();
}

bool QtSerialPort::IsOpen() const
{
    return m_port.isOpen();
}

bool QtSerialPort::Send(std::span<const std::uint8_t> bytes)
{
    if (m_broken || !m_port.isOpen())
        return Fail(m_reason.isEmpty() ? QString("port not open") : m_reason);
    const qint64 size = static_cast<qint64>(bytes.size());
    if (m_port.write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        return Fail(m_port.errorString());
    // Qt would otherwise hold the bytes until the next pass of the event loop, and the wait is
    // timed from the send.
    m_port.flush();
    if (m_port.bytesToWrite() > 0 && !m_port.waitForBytesWritten(100))
        return Fail(m_port.errorString());
    return !m_broken;
}

std::optional<std::size_t> QtSerialPort::BytesWaiting()
{
    if (m_broken || !m_port.isOpen()) {
        Fail(m_reason.isEmpty() ? QString("port not open") : m_reason);
        return std::nullopt;
    }
    // Bytes reach Qt's buffer only when its read notifier runs; fetch what the driver holds now.
    m_port.waitForReadyRead(0);
    if (m_broken)
        return std::nullopt;
    return static_cast<std::size_t>(m_port.bytesAvailable());
}

std::optional<Bytes> QtSerialPort::TakeAll()
{
    if (m_broken || !m_port.isOpen()) {
        Fail(m_reason.isEmpty() ? QString("port not open") : m_reason);
        return std::nullopt;
    }
    const QByteArray data = m_port.readAll();
    return Bytes(data.begin(), data.end());
}

std::string QtSerialPort::Reason() const
{
    return m_reason.toStdString();
}

bool QtSerialPort::Fail(const QString& reason)
{
    if (m_reason.isEmpty())
        m_reason = m_device.isEmpty() ? reason : m_device + ": " + reason;
    return false;
}

void QtSerialPort::OnError(QSerialPort::SerialPortError error)
{
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError)
        return;
    // The device went away or failed under us (adapter unplugged, other end of a pty closed).
    // Closing stops its read notifier, which would otherwise fire without end; it is queued
    // because Qt is still inside that notifier here.
    m_broken = true;
    // A vanished device reads as end of file, and Qt then reports whatever errno an earlier call
    // left behind ("Inappropriate ioctl for device"); say what happened instead.
    Fail(error == QSerialPort::WriteError ? m_port.errorString()
                                          : QString("device disconnected or closed"));
    // A later Open() clears m_broken, so a close still queued then leaves the new command alone.
    QMetaObject::invokeMethod(
        &m_port,
        [this] {
            if (m_broken)
                Close();
        },
        Qt::QueuedConnection);
}
