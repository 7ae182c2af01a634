#include "win32_serial_port.h"

#include "serial/exchange.h"
#include "win32_text.h"
#include "win32_wait.h"

#include <utility>

namespace {

// A driver's input queue much larger than a reply, so that a babbling line within the 0.2 s
// is counted rather than overrun; only a wish, which the driver may round or ignore.
constexpr DWORD kInQueue = 65536;
constexpr DWORD kOutQueue = 4096;
// Eight bytes leave in under 10 ms at 9600 bit/s; a driver that takes longer has gone wrong.
constexpr DWORD kWriteTimeoutMs = 1000;
// How long a read waits for a first byte: far longer than a command's wait.
constexpr DWORD kFirstByteMs = 60000;

// SetCommState with the settings' DCB. Under wine, a pseudo-terminal already set to odd or even
// parity refuses it again (error 87): the pty drops PARENB, and glibc's tcsetattr reports a
// request for PARENB that changed nothing as refused. Through no parity first, the request
// changes INPCK (and PARODD) and goes through; a DCB that Windows refuses is refused again.
bool SetLine(HANDLE port, const LineSettings& settings)
{
    DCB dcb;
    FillDcb(dcb, settings);
    if (SetCommState(port, &dcb))
        return true;
    if (settings.parity == Parity::None || GetLastError() != ERROR_INVALID_PARAMETER)
        return false;
    DCB none;
    FillDcb(none, LineSettings{settings.baud, Parity::None});
    return SetCommState(port, &none) && SetCommState(port, &dcb);
}

} // namespace

void FillDcb(DCB& dcb, const LineSettings& settings)
{
    // Every field from the settings, none from the driver: what GetCommState hands back is not
    // always what SetCommState takes (wine gives the terminal's Xon, Xoff and end-of-file
    // characters, and no known parity for a pseudo-terminal set to odd).
    dcb = DCB{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = 8;
    dcb.StopBits = ONESTOPBIT;
    dcb.Parity = settings.parity == Parity::Odd    ? ODDPARITY
                 : settings.parity == Parity::Even ? EVENPARITY
                                                   : NOPARITY;
    dcb.fParity = dcb.Parity != NOPARITY;
    dcb.fBinary = TRUE;
    // A byte received with a parity error becomes '?', so that a reply through a wrong parity
    // fails its CRC instead of passing as a value.
    dcb.fErrorChar = dcb.fParity;
    dcb.ErrorChar = '?';
    // No flow control of either kind, and every other byte handed over as it came: none dropped
    // (NUL), and a line error never stops the reads.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // Unused without Xon/Xoff, but checked all the same: distinct characters, and limits well
    // within an input queue of 4096 bytes.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    // DTR and RTS on while the port is open, as Linux raises them at every open: port-powered
    // RS-232/RS-485 converters draw their power from them.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
}

Win32SerialPort::Win32SerialPort()
    : m_ioDone(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_receiveEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
}

Win32SerialPort::~Win32SerialPort()
{
    Close();
    CloseHandle(m_ioDone);
    CloseHandle(m_receiveEvent);
}

bool Win32SerialPort::Open(const std::string& device, const LineSettings& settings)
{
    Close();
    m_error = PortError{PortFault::None, device, {}};
    m_receivedTotal = 0;
    m_arrivals.clear();
    m_handle = CreateFileW(Wide(device).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (m_handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return Fail(PortFault::NoSuchDevice);
        // COM ports are exclusive: the one that is held elsewhere refuses every other opener.
        // Windows says access denied, wine (and a file held open) sharing violation.
        if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION)
            return Fail(PortFault::InUse);
        return Fail(PortFault::System, SystemText(error));
    }

    // Asked only whether the device is a serial port: its DCB is not built upon (FillDcb).
    DCB current{};
    current.DCBlength = sizeof current;
    if (!GetCommState(m_handle, &current)) {
        Fail(PortFault::NotSerial);
        Close();
        return false;
    }
    // A read returns at once with what is there, or waits for the first byte to come: one is
    // kept pending, and its event wakes the wait. A write may block only as long as eight bytes
    // need.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = kFirstByteMs;
    timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
    SetupComm(m_handle, kInQueue, kOutQueue);
    DWORD errors = 0;
    if (!SetLine(m_handle, settings) || !SetCommTimeouts(m_handle, &timeouts) ||
        // A stale byte from before this command must not count towards its reply.
        !PurgeComm(m_handle, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR) ||
        !ClearCommError(m_handle, &errors, nullptr)) {
        Fail(PortFault::System, SystemText(GetLastError()));
        Close();
        return false;
    }
    StartListening();
    return true;
}

void Win32SerialPort::Close()
{
    if (m_handle == INVALID_HANDLE_VALUE)
        return;
    StopListening();
    // What was received and not taken goes with the port; a request still on its way out is
    // left to finish.
    PurgeComm(m_handle, PURGE_RXABORT | PURGE_RXCLEAR);
    CloseHandle(m_handle);
    m_handle = INVALID_HANDLE_VALUE;
    m_received.clear();
}

bool Win32SerialPort::IsOpen() const
{
    return m_handle != INVALID_HANDLE_VALUE;
}

bool Win32SerialPort::Send(std::span<const std::uint8_t> bytes)
{
    if (!IsOpen())
        return Fail(PortFault::NotOpen);
    OVERLAPPED io{};
    io.hEvent = m_ioDone;
    DWORD written = 0;
    if (!Finish(WriteFile(m_handle, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &io),
                io, written))
        return FailWhileOpen(GetLastError());
    if (written != bytes.size())
        return Fail(PortFault::System, "the driver took " + std::to_string(written) + " of " +
                                           std::to_string(bytes.size()) + " bytes");
    return true;
}

std::optional<std::size_t> Win32SerialPort::BytesWaiting()
{
    if (!IsOpen())
        Fail(PortFault::NotOpen);
    else if (Drain())
        return m_received.size();
    return std::nullopt;
}

std::optional<Bytes> Win32SerialPort::TakeAll()
{
    if (!IsOpen())
        Fail(PortFault::NotOpen);
    else if (Drain())
        return std::exchange(m_received, {});
    return std::nullopt;
}

// An overlapped read or write to its end: a read of bytes that are there returns at once, a write
// within its timeout.
bool Win32SerialPort::Finish(BOOL started, OVERLAPPED& io, DWORD& done)
{
    return (started || GetLastError() == ERROR_IO_PENDING) &&
           GetOverlappedResult(m_handle, &io, &done, TRUE);
}

// Takes what the listening read got, then every byte of the driver's queue.
bool Win32SerialPort::Drain()
{
    StopListening();
    if (!ReadQueue())
        return false;
    StartListening();
    return true;
}

// As many bytes as the driver counts, which it hands over at once.
bool Win32SerialPort::ReadQueue()
{
    COMSTAT status{};
    DWORD errors = 0;
    if (!ClearCommError(m_handle, &errors, &status))
        return FailWhileOpen(GetLastError());
    if (status.cbInQue == 0)
        return true;
    Bytes chunk(status.cbInQue);
    OVERLAPPED io{};
    io.hEvent = m_ioDone;
    DWORD got = 0;
    if (!Finish(ReadFile(m_handle, chunk.data(), status.cbInQue, nullptr, &io), io, got))
        return FailWhileOpen(GetLastError());
    Received(chunk.data(), got);
    return true;
}

void Win32SerialPort::Received(const std::uint8_t* bytes, DWORD n)
{
    if (n == 0)
        return;
    m_received.insert(m_received.end(), bytes, bytes + n);
    m_receivedTotal += n;
    m_arrivals.push_back(Arrival{SteadySeconds(), m_receivedTotal});
}

// A read of one byte kept pending until it comes (see the timeouts): its event wakes the wait,
// which dates it and what came with it (OnReceiveEvent). One byte, as wine ends a longer read
// only once it is full. Without it the bytes are dated when they are taken.
void Win32SerialPort::StartListening()
{
    m_listenIo = OVERLAPPED{};
    m_listenIo.hEvent = m_receiveEvent;
    m_listening = ReadFile(m_handle, &m_listenByte, 1, nullptr, &m_listenIo) ||
                  GetLastError() == ERROR_IO_PENDING;
    if (m_listening)
        SetReceiveEvent(m_receiveEvent, [this] { OnReceiveEvent(); });
}

void Win32SerialPort::OnReceiveEvent()
{
    DWORD got = 0;
    if (!GetOverlappedResult(m_handle, &m_listenIo, &got, FALSE) &&
        GetLastError() == ERROR_IO_INCOMPLETE)
        return;
    m_listening = false;
    SetReceiveEvent(nullptr, {});
    Received(&m_listenByte, got);
    // A read that failed, or ended without its byte, is not repeated: the next BytesWaiting reads
    // the driver's queue and says what went wrong.
    if (got > 0 && ReadQueue())
        StartListening();
}

// Ends the listening read, keeping its byte if it came.
void Win32SerialPort::StopListening()
{
    SetReceiveEvent(nullptr, {});
    if (!m_listening)
        return;
    m_listening = false;
    CancelIoEx(m_handle, &m_listenIo);
    DWORD got = 0;
    GetOverlappedResult(m_handle, &m_listenIo, &got, TRUE);
    Received(&m_listenByte, got);
}

bool Win32SerialPort::Discard()
{
    // Counting fetches what the driver holds, so that it goes too.
    if (!BytesWaiting())
        return false;
    m_received.clear();
    m_receivedTotal = 0;
    m_arrivals.clear();
    return true;
}

PortError Win32SerialPort::Error() const
{
    return m_error;
}

// Only the first failure since Open is kept: the calls after it fail because of it.
bool Win32SerialPort::Fail(PortFault fault, std::string system)
{
    if (m_error.fault == PortFault::None)
        m_error = PortError{fault, m_error.device, std::move(system)};
    return false;
}

// A failure of an open port: an adapter pulled out shows as one of these, by driver.
bool Win32SerialPort::FailWhileOpen(DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_NOT_READY: // wine's word for a line hung up under it
    case ERROR_OPERATION_ABORTED:
        return Fail(PortFault::Disconnected);
    default:
        return Fail(PortFault::System, SystemText(error));
    }
}
