#pragma once

#include "serial/serial_port.h"

#include <windows.h>

// SerialPort on a Windows COM port: 8 data bits, 1 stop bit, no flow control, DTR and RTS on;
// with odd or even parity a byte received with a parity error is taken as '?'.
class Win32SerialPort final : public SerialPort
{
public:
    Win32SerialPort() = default;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;
    ~Win32SerialPort() override;

    // CreateFile on the device, which no other program may then open; the DCB as FillDcb makes
    // it, both queues emptied.
    bool Open(const std::string& device, const LineSettings& settings) override;
    bool IsOpen() const override;
    // Throws away what was received and not taken.
    void Close() override;
    // WriteFile: the driver has the bytes when it returns.
    bool Send(std::span<const std::uint8_t> bytes) override;
    // The driver's input queue (ClearCommError), and every byte in it, read without waiting.
    std::optional<std::size_t> BytesWaiting() override;
    std::optional<Bytes> TakeAll() override;
    PortError Error() const override;

private:
    bool Fail(PortFault fault, std::string system = {});
    bool FailWhileOpen(DWORD error);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    PortError m_error;
};

// The line settings written over a port's current DCB.
void FillDcb(DCB& dcb, const LineSettings& settings);
