#pragma once

#include "serial/serial_port.h"

#include <windows.h>

// SerialPort on a Windows COM port: 8 data bits, 1 stop bit, no flow control, DTR and RTS on;
// with odd or even parity a byte received with a parity error is taken as '?'. Opened for
// overlapped I/O: while it is open, a read waits for the next bytes to come, and its end wakes
// the wait (win32_wait.h), which dates them.
class Win32SerialPort final : public SerialPort
{
public:
    Win32SerialPort();
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;
    ~Win32SerialPort() override;

    // CreateFile on the device, which no other program may then open; the DCB that FillDcb
    // makes, both queues emptied.
    bool Open(const std::string& device, const LineSettings& settings) override;
    bool IsOpen() const override;
    // Throws away what was received and not taken.
    void Close() override;
    // WriteFile: the driver has the bytes when it returns.
    bool Send(std::span<const std::uint8_t> bytes) override;
    // What the driver holds is read without waiting, and dated, on top of what came during the
    // wait; then counted, or taken.
    std::optional<std::size_t> BytesWaiting() override;
    std::optional<Bytes> TakeAll() override;
    bool Discard() override;
    std::vector<Arrival> Arrivals() const override { return m_arrivals; }
    void ForgetArrivals(std::size_t total) override
    {
        std::erase_if(m_arrivals, [total](const Arrival& a) { return a.total <= total; });
    }
    PortError Error() const override;

private:
    bool Fail(PortFault fault, std::string system = {});
    bool FailWhileOpen(DWORD error);
    bool Finish(BOOL started, OVERLAPPED& io, DWORD& done);
    bool Drain();
    bool ReadQueue();
    void Received(const std::uint8_t* bytes, DWORD n);
    void StartListening();
    void OnReceiveEvent();
    void StopListening();

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    HANDLE m_ioDone;       // of the reads and writes that are awaited at once
    HANDLE m_receiveEvent; // of the read that waits for the next bytes
    OVERLAPPED m_listenIo{};
    std::uint8_t m_listenByte = 0;
    bool m_listening = false;
    Bytes m_received;                // read from the driver, not taken yet
    std::size_t m_receivedTotal = 0; // since the open
    std::vector<Arrival> m_arrivals;
    PortError m_error;
};

// The DCB of the line settings, every field set: nothing kept of what the port had.
void FillDcb(DCB& dcb, const LineSettings& settings);
