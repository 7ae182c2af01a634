#pragma once

#include "exchange.h"
#include "serial_port.h"

#include <windows.h>

// SerialPort on a Windows COM port: 8 data bits, 1 stop bit, no flow control, DTR and RTS on.
class Win32SerialPort final : public SerialPort
{
public:
    Win32SerialPort() = default;
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;
    ~Win32SerialPort() override;

    // CreateFile on the device of COM<portNo>, which no other program may then open; the DCB as
    // FillDcb makes it, both queues emptied.
    bool Open(int portNo, const std::string& settings) override;
    bool IsOpen() const override;
    // Throws away what was received and not taken.
    void Close() override;
    // WriteFile: the driver has the bytes when it returns.
    bool Send(std::span<const std::uint8_t> bytes) override;
    // The driver's input queue (ClearCommError), and every byte in it, read without waiting.
    std::optional<std::size_t> BytesWaiting() override;
    std::optional<Bytes> TakeAll() override;
    std::string Reason() const override;

private:
    bool Fail(const std::string& reason);
    bool FailWhileOpen(DWORD error);

    HANDLE m_handle = INVALID_HANDLE_VALUE;
    std::string m_device;
    std::string m_reason;
};

// The line settings written over a port's current DCB.
void FillDcb(DCB& dcb, const LineSettings& line);
