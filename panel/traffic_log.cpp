#include "panel/traffic_log.h"

#include "panel/detail.h"
#include "serial/device.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// A log keeps the bytes whole, up to a bound that only a babbling line reaches.
constexpr std::size_t kLogBytes = 4096;

std::string ResultWord(const Outcome& outcome)
{
    switch (outcome.result) {
    case Result::Value:
        return std::to_string(outcome.value);
    case Result::Confirmed:
        return "confirmed";
    case Result::NoAnswer:
        return "Noans";
    case Result::CrcError:
        return "CRCErr";
    case Result::Exception:
        return "CMDErr";
    case Result::OtherReply:
        return "other reply";
    case Result::PortError:
        return "PortErr";
    case Result::NotSent:
        return "not sent";
    case Result::Abandoned:
        return "given up";
    }
    return {};
}

} // namespace

std::string LogHeader()
{
    return "time\tport\tdevice\tsettings\tcommand\tstation\tregister\tvalue\tsent\treceived\tresult"
           "\treply_ms";
}

std::string LogLine(const std::string& time, const std::string& port, const Command& command,
                    const Outcome& outcome)
{
    const bool read = command.kind == CommandKind::Read;
    std::string station, reference, value, sent;
    if (outcome.sent) {
        const Bytes& frame = *outcome.sent;
        station = std::to_string(StationOf(frame));
        reference = std::to_string(ReferenceNumber(command.ref));
        if (!read)
            value = std::to_string(command.value);
        sent = Hex(frame, kLogBytes);
    }
    std::string timing;
    if (outcome.timing) {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f-%.1f", outcome.timing->first * 1000,
                      outcome.timing->last * 1000);
        timing = text;
    }
    const std::span<const std::uint8_t> received(outcome.received.bytes.data(),
                                                 outcome.received.n);
    const std::string fields[] = {time,
                                  port,
                                  command.device,
                                  IsNetworkDevice(command.device) ? "device server's"
                                                                  : SettingsText(command.settings),
                                  read ? "read" : "write",
                                  station,
                                  reference,
                                  value,
                                  sent,
                                  Hex(received, kLogBytes),
                                  ResultWord(outcome),
                                  timing};
    std::string line = fields[0];
    for (std::size_t i = 1; i < std::size(fields); ++i)
        line += "\t" + fields[i];
    return line;
}

std::optional<std::string> AppendLog(const std::string& path, const std::string& line)
{
    std::FILE* file = std::fopen(path.c_str(), "ab");
    if (!file)
        return path + ": " + std::strerror(errno);
    std::fseek(file, 0, SEEK_END);
    const bool fresh = std::ftell(file) == 0;
    const std::string text = (fresh ? LogHeader() + "\n" : "") + line + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const int error = errno;
    if (std::fclose(file) != 0 || !written)
        return path + ": " + std::strerror(written ? errno : error);
    return std::nullopt;
}

std::optional<std::string> LogCommand(const std::string& port, const Command& command,
                                      const Outcome& outcome)
{
    const char* path = std::getenv("VEK_LOG");
    if (!path || !*path)
        return std::nullopt;
    return AppendLog(path, LogLine(LocalTimestamp(), port, command, outcome));
}

namespace {

// Now, in local time, with its milliseconds and its offset from UTC in seconds.
std::tm LocalNow(int& ms, long& offset)
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    ms = static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
    offset = static_cast<long>(_mkgmtime(&local) - seconds);
#else
    localtime_r(&seconds, &local);
    offset = local.tm_gmtoff;
#endif
    return local;
}

} // namespace

namespace {

// Now as local time with milliseconds, the date and time parted by `between`; with `offset`, the
// offset from UTC after it.
std::string Timestamp(char between, bool withOffset)
{
    int ms = 0;
    long offset = 0;
    const std::tm local = LocalNow(ms, offset);
    const std::string format = std::string("%Y-%m-%d") + between + "%H:%M:%S";
    char text[32];
    std::strftime(text, sizeof text, format.c_str(), &local);
    const long minutes = std::labs(offset) / 60;
    char stamp[64];
    if (withOffset)
        std::snprintf(stamp, sizeof stamp, "%s.%03d%c%02ld:%02ld", text, ms,
                      offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
    else
        std::snprintf(stamp, sizeof stamp, "%s.%03d", text, ms);
    return stamp;
}

} // namespace

std::string LocalTimestamp()
{
    return Timestamp(' ', false);
}

std::string IsoTimestamp()
{
    return Timestamp('T', true);
}
