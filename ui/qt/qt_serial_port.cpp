#include "qt_serial_port.h"

#include "serial/exchange.h"

#include <QFileInfo>

#include <utility>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <cstring>

#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#endif

namespace {

QSerialPort::Parity ParityOf(Parity parity)
{
    return parity == Parity::Odd    ? QSerialPort::OddParity
           : parity == Parity::Even ? QSerialPort::EvenParity
                                    : QSerialPort::NoParity;
}

#ifdef Q_OS_UNIX
// Qt leaves the parity of received bytes unchecked. Check it, and have each byte with a parity or
// framing error marked in the input (PARMRK) rather than dropped (IGNPAR), for MarkedInput to
// make it '?'; a break likewise, neither dropped (IGNBRK) nor turned into a signal (BRKINT).
bool MarkReceiveErrors(int fd)
{
    termios line{};
    if (::tcgetattr(fd, &line) != 0)
        return false;
    line.c_iflag |= INPCK | PARMRK;
    line.c_iflag &= ~static_cast<tcflag_t>(IGNPAR | IGNBRK | BRKINT | ISTRIP);
    return ::tcsetattr(fd, TCSANOW, &line) == 0;
}
#endif

} // namespace

QtSerialPort::QtSerialPort()
{
    QObject::connect(&m_port, &QSerialPort::errorOccurred, &m_port,
                     [this](QSerialPort::SerialPortError error) { OnError(error); });
    // Bytes are dated when they reach Qt, which is when they wake the wait's event loop.
    QObject::connect(&m_port, &QSerialPort::readyRead, &m_port, [this] {
        const std::size_t before = m_received.size();
        Fetch();
        if (m_received.size() > before)
            m_arrivals.push_back({SteadySeconds(), m_taken + m_received.size()});
    });
}

QtSerialPort::~QtSerialPort()
{
    Close();
}

bool QtSerialPort::Open(const std::string& device, const LineSettings& settings)
{
    Close();
    m_error = PortError{PortFault::None, device, {}};
    m_broken = false;
    m_device = QString::fromStdString(device);

    m_port.setPortName(m_device);
    m_port.setBaudRate(settings.baud);
    m_port.setParity(ParityOf(settings.parity));
    m_port.setDataBits(QSerialPort::Data8);
    m_port.setStopBits(QSerialPort::OneStop);
    m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!m_port.open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = m_port.error();
        if (error == QSerialPort::DeviceNotFoundError)
            return Fail(PortFault::NoSuchDevice);
        if (error == QSerialPort::PermissionError) {
            // Qt reports a lock held by another program as a permission error too, and it locks
            // before it looks at the device, so a missing one can end up here as well.
            const QFileInfo info(m_device);
            if (!info.exists())
                return Fail(PortFault::NoSuchDevice);
            if (info.isReadable() && info.isWritable())
                return Fail(PortFault::InUse);
            return Fail(PortFault::PermissionDenied);
        }
        // Qt's terminal calls fail on a plain file or a device that is no terminal (ENOTTY); the
        // standard speeds and 8N1 that we ask for are refused by no real serial port.
        if (error == QSerialPort::UnsupportedOperationError)
            return Fail(PortFault::NotSerial);
        return Fail(PortFault::System, m_port.errorString());
    }
#ifdef Q_OS_UNIX
    // Terminal programs (picocom, pyserial's exclusive mode) claim a line with flock() on their
    // descriptor, not with Qt's lock file; take that claim too, so that neither reads the other's
    // bytes. It goes with the descriptor when the port closes.
    const int fd = static_cast<int>(m_port.handle());
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        m_port.close();
        return error == EWOULDBLOCK
                   ? Fail(PortFault::InUse)
                   : Fail(PortFault::System, QString::fromLocal8Bit(std::strerror(error)));
    }
    // Programs that take neither lock (mbpoll, a plain open()) are refused with EBUSY while the
    // terminal is in exclusive mode; root is exempt. Qt sets it too, but does not promise to.
    ::ioctl(fd, TIOCEXCL);
    m_marked = settings.parity != Parity::None;
    if (m_marked && !MarkReceiveErrors(fd)) {
        const int error = errno;
        m_port.close();
        return Fail(PortFault::System, QString::fromLocal8Bit(std::strerror(error)));
    }
#endif
    // A stale byte from before this command must not count towards its reply; this also drops
    // bytes that came in before the marking was on.
    m_port.clear();
    return true;
}

void QtSerialPort::Close()
{
    if (m_port.isOpen()) {
#ifdef Q_OS_UNIX
        // Exclusive mode outlives this descriptor while another holds the terminal open.
        ::ioctl(static_cast<int>(m_port.handle()), TIOCNXCL);
#endif
        m_port.close();
    }
    m_received.clear();
    m_marks.Reset();
    m_marked = false;
    m_taken = 0;
    m_arrivals.clear();
}

bool QtSerialPort::IsOpen() const
{
    return m_port.isOpen();
}

bool QtSerialPort::Send(std::span<const std::uint8_t> bytes)
{
    if (m_broken || !m_port.isOpen())
        return Fail(PortFault::NotOpen);
    const qint64 size = static_cast<qint64>(bytes.size());
    if (m_port.write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        return Fail(PortFault::System, m_port.errorString());
    // Qt would otherwise hold the bytes until the next pass of the event loop, and the wait is
    // timed from the send.
    m_port.flush();
    if (m_port.bytesToWrite() > 0 && !m_port.waitForBytesWritten(100))
        return Fail(PortFault::System, m_port.errorString());
    return !m_broken;
}

std::optional<std::size_t> QtSerialPort::BytesWaiting()
{
    if (m_broken || !m_port.isOpen()) {
        Fail(PortFault::NotOpen);
        return std::nullopt;
    }
    // Bytes reach Qt's buffer only when its read notifier runs; fetch what the driver holds now.
    m_port.waitForReadyRead(0);
    if (m_broken)
        return std::nullopt;
    // Counted as they will be taken: a marked byte is one byte, not the three that mark it.
    Fetch();
    if (m_marks.InsideMark()) {
        // The system queues a mark whole, so a read that cut one off left its rest waiting.
        m_port.waitForReadyRead(0);
        if (m_broken)
            return std::nullopt;
        Fetch();
    }
    return m_received.size();
}

std::optional<Bytes> QtSerialPort::TakeAll()
{
    if (m_broken || !m_port.isOpen()) {
        Fail(PortFault::NotOpen);
        return std::nullopt;
    }
    Fetch();
    m_taken += m_received.size();
    return std::exchange(m_received, {});
}

std::vector<Arrival> QtSerialPort::Arrivals() const
{
    return m_arrivals;
}

void QtSerialPort::ForgetArrivals(std::size_t total)
{
    std::erase_if(m_arrivals, [total](const Arrival& a) { return a.total <= total; });
}

void QtSerialPort::Fetch()
{
    const QByteArray data = m_port.readAll();
    const std::span raw(reinterpret_cast<const std::uint8_t*>(data.constData()),
                        static_cast<std::size_t>(data.size()));
    if (m_marked)
        m_marks.Decode(raw, m_received);
    else
        m_received.insert(m_received.end(), raw.begin(), raw.end());
}

bool QtSerialPort::Discard()
{
    // Counting fetches what the driver holds, so that it goes too.
    if (!BytesWaiting())
        return false;
    m_received.clear();
    m_taken = 0;
    m_arrivals.clear();
    return true;
}

PortError QtSerialPort::Error() const
{
    return m_error;
}

// The first failure since the open is the one that explains the rest.
bool QtSerialPort::Fail(PortFault fault, const QString& system)
{
    if (m_error.fault == PortFault::None) {
        m_error.fault = fault;
        m_error.system = system.toStdString();
    }
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
    if (error == QSerialPort::WriteError)
        Fail(PortFault::System, m_port.errorString());
    else
        Fail(PortFault::Disconnected);
    // A later Open() clears m_broken, so a close still queued then leaves the new command alone.
    QMetaObject::invokeMethod(
        &m_port,
        [this] {
            if (m_broken)
                Close();
        },
        Qt::QueuedConnection);
}
