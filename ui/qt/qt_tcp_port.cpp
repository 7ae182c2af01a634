#include "qt_tcp_port.h"

#include "qt_wait.h"
#include "serial/device.h"
#include "serial/exchange.h"

#include <algorithm>
#include <utility>

namespace {

// A babbling server is read up to this many bytes a command, as a serial driver's input queue
// bounds a babbling line; TCP's flow control then holds the rest back at the server.
constexpr std::size_t kMostReceived = 65536;
// The connection's wait runs the events in slices: Ctrl+C, which gives up a vek-cli command,
// does not wake Qt's event loop.
constexpr double kSlice = 0.1;

} // namespace

QtTcpPort::QtTcpPort()
{
    // Qt reads no further ahead than this: a server that floods stops waking the event loop.
    m_socket.setReadBufferSize(static_cast<qint64>(kMostReceived));
    QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket, [this] {
        const std::size_t before = m_total;
        Fetch();
        if (m_total > before)
            m_arrivals.push_back({SteadySeconds(), m_total});
    });
    QObject::connect(&m_socket, &QTcpSocket::errorOccurred, &m_socket,
                     [this](QAbstractSocket::SocketError error) {
                         // The connection's own wait reads its errors; a look for bytes that
                         // finds none reports a time out.
                         if (!m_connected || error == QAbstractSocket::SocketTimeoutError)
                             return;
                         m_closedByServer = true;
                         if (error == QAbstractSocket::RemoteHostClosedError)
                             Fail(PortFault::ClosedByServer);
                         else
                             Fail(PortFault::System, m_socket.errorString());
                     });
}

QtTcpPort::~QtTcpPort()
{
    Close();
}

bool QtTcpPort::Open(const std::string& device, const LineSettings& settings)
{
    return OpenWithEvents(device, settings, QtWaitServices());
}

bool QtTcpPort::OpenWithEvents(const std::string& device, const LineSettings&,
                               const WaitServices& wait)
{
    Close();
    m_error = PortError{PortFault::None, device, {}};
    m_closedByServer = false;
    const std::optional<NetworkAddress> address = NetworkAddressOf(device);
    if (!address)
        return Fail(PortFault::BadAddress);
    m_open = true;
    m_socket.connectToHost(QString::fromStdString(address->host), address->port);
    const double deadline = wait.clock() + kConnectSeconds;
    for (double now = wait.clock(); m_socket.state() != QAbstractSocket::ConnectedState;
         now = wait.clock()) {
        if (m_socket.state() == QAbstractSocket::UnconnectedState)
            return FailToConnect();
        if (now >= deadline) {
            Close();
            return Fail(PortFault::TimedOut);
        }
        wait.runPendingEvents(std::min(deadline - now, kSlice));
        // The window closing closes the port; Ctrl+C only says so.
        if (!m_open || (wait.abandoned && wait.abandoned())) {
            Close();
            return Fail(PortFault::NotOpen);
        }
    }
    m_connected = true;
    // A request is one small write that must leave at once.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool QtTcpPort::FailToConnect()
{
    const QAbstractSocket::SocketError error = m_socket.error();
    const QString text = m_socket.errorString();
    Close();
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return Fail(PortFault::NameNotFound);
    case QAbstractSocket::ConnectionRefusedError:
        return Fail(PortFault::Refused);
    case QAbstractSocket::NetworkError:
        return Fail(PortFault::NoRoute);
    case QAbstractSocket::SocketTimeoutError:
        return Fail(PortFault::TimedOut);
    default:
        return Fail(PortFault::System, text);
    }
}

void QtTcpPort::Close()
{
    m_open = false;
    m_connected = false;
    m_socket.abort();
    m_received.clear();
    m_total = 0;
    m_forgotten = 0;
    m_arrivals.clear();
}

bool QtTcpPort::Send(std::span<const std::uint8_t> bytes)
{
    if (!m_open || m_closedByServer)
        return Fail(PortFault::NotOpen);
    // What came before the request is no reply to it: a device server may pass on what its line
    // heard before the connection, as a serial port's driver would hold it until the open.
    Fetch();
    m_received.clear();
    m_total = 0;
    m_forgotten = 0;
    m_arrivals.clear();
    const qint64 size = static_cast<qint64>(bytes.size());
    if (m_socket.write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        return Fail(PortFault::System, m_socket.errorString());
    // Qt would otherwise hold the bytes until the next pass of the event loop, and the wait is
    // timed from the send.
    m_socket.flush();
    if (m_socket.bytesToWrite() > 0 && !m_socket.waitForBytesWritten(100))
        return Fail(PortFault::System, m_socket.errorString());
    return !m_closedByServer;
}

bool QtTcpPort::Usable()
{
    if (!m_open)
        return Fail(PortFault::NotOpen);
    // Bytes reach Qt only when its notifier runs; take what the system holds now.
    if (!m_closedByServer)
        m_socket.waitForReadyRead(0);
    Fetch();
    return !m_closedByServer || !m_received.empty();
}

std::optional<std::size_t> QtTcpPort::BytesWaiting()
{
    if (!Usable())
        return std::nullopt;
    return m_received.size();
}

std::optional<Bytes> QtTcpPort::TakeAll()
{
    if (!Usable())
        return std::nullopt;
    return std::exchange(m_received, {});
}

void QtTcpPort::Fetch()
{
    const std::size_t room = kMostReceived - std::min(m_total - m_forgotten, kMostReceived);
    if (room == 0 || m_socket.bytesAvailable() <= 0)
        return;
    const QByteArray data = m_socket.read(static_cast<qint64>(room));
    m_received.insert(m_received.end(), data.begin(), data.end());
    m_total += static_cast<std::size_t>(data.size());
}

// The first failure since the open is the one that explains the rest.
bool QtTcpPort::Fail(PortFault fault, const QString& system)
{
    if (m_error.fault == PortFault::None) {
        m_error.fault = fault;
        m_error.system = system.toStdString();
    }
    return false;
}

void QtTcpPort::ForgetArrivals(std::size_t total)
{
    std::erase_if(m_arrivals, [total](const Arrival& a) { return a.total <= total; });
    m_forgotten = std::max(m_forgotten, std::min(total, m_total));
}
