#pragma once

#include "serial_port.h"

#include <functional>
#include <string>
#include <string_view>

// What the port, speed and parity groups of the window say; only the members that decide
// anything are here (COM1, 38400bps and NONE are what a group means when none of these is on).
struct Selectors
{
    bool Com2 = false, Com3 = false, Com4 = false, Com5 = false;
    bool SPD192 = false, SPD96 = false;
    bool Odd1 = false, Even1 = false;
};

int PortFromSelectors(const Selectors& s);
std::string SettingsFromSelectors(const Selectors& s);

// What a settings text such as "19200,N,8,1" asks of the line. Nothing for a text that
// SettingsFromSelectors never makes: another parity letter, other data or stop bits, no speed.
struct LineSettings
{
    int baud = 0;
    char parity = 'N'; // 'N' none, 'O' odd, 'E' even; always 8 data bits and 1 stop bit
};
std::optional<LineSettings> ParseSettings(std::string_view text);

bool OpenPort(SerialPort& port, int portNo, const std::string& commSettings);
bool SendFrame(SerialPort& port, std::span<const std::uint8_t> frame);
void ClosePort(SerialPort& port);

// The bytes of one reply with the count taken before them; n never exceeds bytes.size().
struct RxBytes
{
    std::size_t n = 0;
    Bytes bytes;
};
std::optional<RxBytes> TakeInput(SerialPort& port);

// The clock and the event pump of the wait, replaceable so that tests can drive time.
struct WaitServices
{
    // Local time of day in seconds since midnight; falls back to about 0 at midnight.
    std::function<double()> clockSeconds;
    // Runs pending window events; may sleep for an event, but never longer than the given
    // number of seconds.
    std::function<void(double maxSeconds)> runPendingEvents;
    // True once the command has been given up (its window closed); ends the wait at once.
    std::function<bool()> abandoned;
};

// Waits replyWait seconds from now while window events run. Returns false when abandoned.
bool AwaitReply(double replyWait, const WaitServices& services);
