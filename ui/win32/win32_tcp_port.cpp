#include "win32_tcp_port.h"

#include "serial/device.h"
#include "serial/exchange.h"
#include "win32_text.h"
#include "win32_wait.h"

#include <ws2tcpip.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

// A babbling server is read up to this many bytes a command, as a serial driver's input queue
// bounds a babbling line; TCP's flow control then holds the rest back at the server.
constexpr std::size_t kMostReceived = 65536;
// The connection's wait runs the events in slices: Ctrl+C, which gives up a vek-cli command,
// sets a flag and wakes nothing.
constexpr double kSlice = 0.1;

// The addresses of a device server. getaddrinfo on a name takes as long as the name servers do,
// so it runs on a thread of its own; a lookup given up is left to end by itself, and the last of
// the two to let go of it frees it.
struct Lookup
{
    std::string host;
    std::string port;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    addrinfo* found = nullptr;
    int error = 0;

    void Run(int flags)
    {
        addrinfo hints{};
        hints.ai_flags = flags;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_protocol = IPPROTO_TCP;
        error = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
        SetEvent(done);
    }
    ~Lookup()
    {
        if (found)
            freeaddrinfo(found);
        CloseHandle(done);
    }
};

DWORD WINAPI LookUpOnItsThread(void* parameter)
{
    const std::unique_ptr<std::shared_ptr<Lookup>> lookup(
        static_cast<std::shared_ptr<Lookup>*>(parameter));
    // Its own claim on Windows Sockets, which may outlive the port's.
    WSADATA data;
    const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    (*lookup)->Run(0);
    if (started)
        WSACleanup();
    return 0;
}

// An address is taken as it is, at once; a name goes to the lookup's thread. Nothing when that
// thread cannot start.
std::shared_ptr<Lookup> StartLookup(const NetworkAddress& address)
{
    auto lookup = std::make_shared<Lookup>();
    lookup->host = address.host;
    lookup->port = std::to_string(address.port);
    lookup->Run(AI_NUMERICHOST);
    if (lookup->error == 0)
        return lookup;
    ResetEvent(lookup->done);
    auto* held = new std::shared_ptr<Lookup>(lookup);
    const HANDLE thread = CreateThread(nullptr, 0, &LookUpOnItsThread, held, 0, nullptr);
    if (!thread) {
        delete held;
        return nullptr;
    }
    CloseHandle(thread);
    return lookup;
}

enum class Waited { Set, TimeUp, GivenUp };

// Waits for `event` with the wait's events running.
Waited WaitFor(HANDLE event, const WaitServices& wait, double deadline)
{
    SetReceiveEvent(event, [] {});
    Waited waited = Waited::TimeUp;
    for (double now = wait.clock(); now < deadline && waited == Waited::TimeUp;
         now = wait.clock()) {
        if (WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
            waited = Waited::Set;
        else
            wait.runPendingEvents(std::min(deadline - now, kSlice));
        if (wait.abandoned && wait.abandoned())
            waited = Waited::GivenUp;
    }
    if (waited == Waited::TimeUp && WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
        waited = Waited::Set;
    SetReceiveEvent(nullptr, {});
    return waited;
}

bool LostConnection(int error)
{
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
}

} // namespace

Win32TcpPort::Win32TcpPort() : m_event(WSACreateEvent())
{
    WSADATA data;
    m_started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Win32TcpPort::~Win32TcpPort()
{
    Close();
    WSACloseEvent(m_event);
    if (m_started)
        WSACleanup();
}

bool Win32TcpPort::Open(const std::string& device, const LineSettings& settings)
{
    return OpenWithEvents(device, settings, Win32WaitServices());
}

bool Win32TcpPort::OpenWithEvents(const std::string& device, const LineSettings&,
                                  const WaitServices& wait)
{
    Close();
    m_error = PortError{PortFault::None, device, {}};
    m_closedByServer = false;
    const std::optional<NetworkAddress> address = NetworkAddressOf(device);
    if (!address)
        return Fail(PortFault::BadAddress);
    if (!m_started)
        return Fail(PortFault::System, "Windows Sockets did not start");
    const double deadline = wait.clock() + kConnectSeconds;
    const std::shared_ptr<Lookup> lookup = StartLookup(*address);
    if (!lookup)
        return Fail(PortFault::System, SystemText(GetLastError()));
    const Waited looked = WaitFor(lookup->done, wait, deadline);
    if (looked != Waited::Set)
        return Fail(looked == Waited::TimeUp ? PortFault::TimedOut : PortFault::NotOpen);
    if (lookup->error != 0)
        return lookup->error == WSAHOST_NOT_FOUND || lookup->error == WSANO_DATA ||
                       lookup->error == WSATRY_AGAIN
                   ? Fail(PortFault::NameNotFound)
                   : Fail(PortFault::System, SystemText(lookup->error));

    // Each address of the name in turn, as long as the time lasts: "localhost" may be ::1 first,
    // and the server may listen on 127.0.0.1 only.
    int error = WSAHOST_NOT_FOUND;
    for (const addrinfo* a = lookup->found; a; a = a->ai_next) {
        m_socket = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (m_socket == INVALID_SOCKET) {
            error = WSAGetLastError();
            continue;
        }
        // Non-blocking from here on, each event of the socket setting m_event.
        WSAResetEvent(m_event);
        if (WSAEventSelect(m_socket, m_event, FD_CONNECT | FD_READ | FD_CLOSE) != 0 ||
            (connect(m_socket, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 &&
             WSAGetLastError() != WSAEWOULDBLOCK)) {
            error = WSAGetLastError();
            Close();
            continue;
        }
        const Waited connected = WaitFor(m_event, wait, deadline);
        if (connected != Waited::Set) {
            Close();
            return Fail(connected == Waited::TimeUp ? PortFault::TimedOut : PortFault::NotOpen);
        }
        WSANETWORKEVENTS happened{};
        if (WSAEnumNetworkEvents(m_socket, m_event, &happened) != 0)
            error = WSAGetLastError();
        else
            error = happened.lNetworkEvents & FD_CONNECT ? happened.iErrorCode[FD_CONNECT_BIT]
                                                         : WSAENOTCONN;
        if (error == 0) {
            // A request is one small write that must leave at once.
            const BOOL noDelay = TRUE;
            setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                       sizeof noDelay);
            SetReceiveEvent(m_event, [this] {
                WSANETWORKEVENTS later{};
                if (WSAEnumNetworkEvents(m_socket, m_event, &later) == 0)
                    OnNetworkEvents(later);
                else
                    ClosedByServer(WSAGetLastError());
            });
            // The server may have sent, or closed, with the connection.
            OnNetworkEvents(happened);
            return true;
        }
        Close();
    }
    return FailToConnect(error);
}

bool Win32TcpPort::FailToConnect(int error)
{
    switch (error) {
    case WSAHOST_NOT_FOUND:
        return Fail(PortFault::NameNotFound);
    case WSAECONNREFUSED:
        return Fail(PortFault::Refused);
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
        return Fail(PortFault::NoRoute);
    case WSAETIMEDOUT:
        return Fail(PortFault::TimedOut);
    default:
        return Fail(PortFault::System, SystemText(static_cast<unsigned long>(error)));
    }
}

void Win32TcpPort::Close()
{
    if (m_socket != INVALID_SOCKET) {
        SetReceiveEvent(nullptr, {});
        closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }
    WSAResetEvent(m_event);
    m_received.clear();
    m_total = 0;
    m_forgotten = 0;
    m_arrivals.clear();
}

bool Win32TcpPort::Send(std::span<const std::uint8_t> bytes)
{
    if (!IsOpen() || m_closedByServer)
        return Fail(PortFault::NotOpen);
    // What came before the request is no reply to it: a device server may pass on what its line
    // heard before the connection, as a serial port's driver would hold it until the open.
    Drain();
    m_received.clear();
    m_total = 0;
    m_forgotten = 0;
    m_arrivals.clear();
    const int size = static_cast<int>(bytes.size());
    const int sent = send(m_socket, reinterpret_cast<const char*>(bytes.data()), size, 0);
    if (sent == size)
        return true;
    const int error = WSAGetLastError();
    if (sent < 0 && LostConnection(error))
        return Fail(PortFault::ClosedByServer);
    return Fail(PortFault::System, sent < 0 ? SystemText(static_cast<unsigned long>(error))
                                            : "the connection took " + std::to_string(sent) +
                                                  " of " + std::to_string(size) + " bytes");
}

bool Win32TcpPort::Usable()
{
    if (!IsOpen())
        return Fail(PortFault::NotOpen);
    Drain();
    return !m_closedByServer || !m_received.empty();
}

std::optional<std::size_t> Win32TcpPort::BytesWaiting()
{
    if (!Usable())
        return std::nullopt;
    return m_received.size();
}

std::optional<Bytes> Win32TcpPort::TakeAll()
{
    if (!Usable())
        return std::nullopt;
    return std::exchange(m_received, {});
}

void Win32TcpPort::OnNetworkEvents(const WSANETWORKEVENTS& happened)
{
    if (happened.lNetworkEvents & (FD_READ | FD_CLOSE))
        Drain();
    if ((happened.lNetworkEvents & FD_CLOSE) && !m_closedByServer)
        ClosedByServer(happened.iErrorCode[FD_CLOSE_BIT]);
}

// Takes what the system holds, dated now, up to kMostReceived since the request.
// Past that nothing is read, and the socket signals no more bytes.
void Win32TcpPort::Drain()
{
    const std::size_t before = m_total;
    char chunk[4096];
    while (!m_closedByServer && m_total - m_forgotten < kMostReceived) {
        const int room =
            static_cast<int>(std::min(sizeof chunk, kMostReceived - (m_total - m_forgotten)));
        const int got = recv(m_socket, chunk, room, 0);
        if (got > 0) {
            m_received.insert(m_received.end(), chunk, chunk + got);
            m_total += static_cast<std::size_t>(got);
            continue;
        }
        if (got == 0)
            ClosedByServer(0);
        else if (WSAGetLastError() != WSAEWOULDBLOCK)
            ClosedByServer(WSAGetLastError());
        break;
    }
    if (m_total > before)
        m_arrivals.push_back(Arrival{SteadySeconds(), m_total});
}

// The server closed the connection, or it broke: nothing more comes, and the socket's event
// would only wake the wait for nothing.
void Win32TcpPort::ClosedByServer(int error)
{
    m_closedByServer = true;
    SetReceiveEvent(nullptr, {});
    if (error == 0 || LostConnection(error))
        Fail(PortFault::ClosedByServer);
    else
        Fail(PortFault::System, SystemText(static_cast<unsigned long>(error)));
}

// Only the first failure since Open is kept: the calls after it fail because of it.
bool Win32TcpPort::Fail(PortFault fault, std::string system)
{
    if (m_error.fault == PortFault::None)
        m_error = PortError{fault, m_error.device, std::move(system)};
    return false;
}

void Win32TcpPort::ForgetArrivals(std::size_t total)
{
    std::erase_if(m_arrivals, [total](const Arrival& a) { return a.total <= total; });
    m_forgotten = std::max(m_forgotten, std::min(total, m_total));
}
