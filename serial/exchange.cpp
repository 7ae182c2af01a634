#include "exchange.h"

#include <algorithm>
#include <charconv>

int PortFromSelectors(const Selectors& s)
{
    if (s.Com5)
        return 5;
    if (s.Com4)
        return 4;
    if (s.Com3)
        return 3;
    if (s.Com2)
        return 2;
    return 1;
}

std::string SettingsFromSelectors(const Selectors& s)
{
    const char* speed = s.SPD192 ? "19200," : s.SPD96 ? "9600," : "38400,";
    const char* parity = s.Even1 ? "E," : s.Odd1 ? "O," : "N,";
    return std::string(speed) + parity + "8,1";
}

std::optional<LineSettings> ParseSettings(std::string_view text)
{
    LineSettings s;
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return std::nullopt;
    const std::string_view speed = text.substr(0, comma), rest = text.substr(comma + 1);
    const auto [end, error] = std::from_chars(speed.data(), speed.data() + speed.size(), s.baud);
    if (error != std::errc() || end != speed.data() + speed.size() || s.baud <= 0)
        return std::nullopt;
    if (rest != "N,8,1" && rest != "O,8,1" && rest != "E,8,1")
        return std::nullopt;
    s.parity = rest[0];
    return s;
}

bool OpenPort(SerialPort& port, int portNo, const std::string& commSettings)
{
    return port.Open(portNo, commSettings);
}

bool SendFrame(SerialPort& port, std::span<const std::uint8_t> frame)
{
    return port.Send(frame);
}

void ClosePort(SerialPort& port)
{
    port.Close();
}

std::optional<RxBytes> TakeInput(SerialPort& port)
{
    // The count comes first; a byte arriving between the two calls is taken but not counted.
    const std::optional<std::size_t> n = port.BytesWaiting();
    if (!n)
        return std::nullopt;
    std::optional<Bytes> bytes = port.TakeAll();
    if (!bytes)
        return std::nullopt;
    return RxBytes{std::min(*n, bytes->size()), std::move(*bytes)};
}

bool AwaitReply(double replyWait, const WaitServices& services)
{
    double t0 = services.clockSeconds();
    for (;;) {
        const double now = services.clockSeconds();
        if (!(now < t0 + replyWait))
            return true;
        services.runPendingEvents(t0 + replyWait - now);
        if (services.abandoned && services.abandoned())
            return false;
        // The clock went back (midnight, or set back by hand): the whole wait starts again.
        if ((t0 + replyWait) - services.clockSeconds() > replyWait)
            t0 = services.clockSeconds();
    }
}
