#include "options.h"

#include "modbus/numbers.h"
#include "serial/device.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

const char* const kHelp =
    R"(usage: vek-cli read PORT REF [--station N] [--speed 9600|19200|38400]
                    [--parity none|odd|even] [--wait SECONDS] [--whole-wait]
                    [--retries N] [-v] [--json]
       vek-cli write PORT REF VALUE [the same options]
       vek-cli scan PORT [--stations FIRST-LAST] [--speeds LIST]
                    [--parities LIST] [--ref REF] [--all] [--wait SECONDS]
                    [--whole-wait] [--retries N] [--json]

One Modbus RTU read or write as the VEK Sample program's panel does it, or a
scan for the station, speed and parity a device answers at. A command ends as
soon as its reply is whole, or when --wait has passed without one.

  PORT         COM1..COM5 as the panel maps them (VEK_COM1..VEK_COM5), or a
               device: /dev/ttyUSB0, ttyUSB0; on Windows COM12
  REF          30001.. input register, 40001.. holding register
  VALUE        the value to write, modulo 65536 (-1 is 65535)
  --station    0 to 255 (1)              --speed     bit/s (19200)
  --parity     (none)                    --retries   0 to 10 (0)
  --wait       the longest wait for a reply, up to 60 s (0.2; scan 0.05)
  --whole-wait wait the whole --wait, as the panel does, then read what came
  -v           the line detail too       --json      one JSON object a result
  --stations   (1-247)                   --ref       (40001)
  --speeds     (19200,9600,38400)        --parities  (none,even,odd)
  --all        go on after the first device found

Numbers are read as the panel reads them: &H hexadecimal, &O octal, halves
rounded to even. --retries tries again after no answer or a wrong CRC. Exit
status: 0 a value read, a write confirmed, a device found; 1 no answer; 2
wrong CRC; 3 exception; 4 port failure; 5 a write answered with another reply;
64 usage error; 130 interrupted.
)";

namespace {

constexpr double kLongestWait = 60;
constexpr int kMostRetries = 10;
// A scan's tries mostly go unanswered, so its wait sets its pace: 0.05 s covers a device that
// answers within 30 ms and a whole scan (2223 tries) in about two minutes.
constexpr double kScanWait = 0.05;
constexpr std::array<std::pair<const char*, Parity>, 3> kParities{
    {{"none", Parity::None}, {"odd", Parity::Odd}, {"even", Parity::Even}}};

struct Refused
{
    std::string why;
};

// The panel reads a text without a number as 0; on a command line that is a slip, not a
// station or a register.
void RequireNumber(const std::string& text, const std::string& what)
{
    const std::size_t at = text.find_first_not_of(" \t\n");
    if (at == std::string::npos ||
        std::string_view("+-.0123456789&").find(text[at]) == std::string_view::npos)
        throw Refused{what + " is not a number: '" + text + "'"};
}

std::uint8_t Station(const std::string& text, const std::string& what)
{
    RequireNumber(text, what);
    const std::optional<std::uint8_t> station = StationFromText(text);
    if (!station)
        throw Refused{what + " names no station (0 to 255): " + text};
    return *station;
}

RegisterRef Reference(const std::string& text, CommandKind kind)
{
    RequireNumber(text, "REF");
    const std::optional<RegisterRef> ref = DecodeReference(text);
    if (!ref)
        throw Refused{"REF is too large a number: " + text};
    Command command;
    command.kind = kind;
    command.ref = *ref;
    const std::variant<Request, std::string> request = RequestOf(command);
    if (const auto* why = std::get_if<std::string>(&request))
        throw Refused{"REF is " + *why + ": " + text};
    return *ref;
}

std::uint16_t Value(const std::string& text)
{
    RequireNumber(text, "VALUE");
    const std::optional<std::array<std::uint8_t, 2>> value = EncodeValue(text);
    if (!value)
        throw Refused{"VALUE is too large a number: " + text};
    return static_cast<std::uint16_t>((*value)[0] << 8 | (*value)[1]);
}

double Wait(const std::string& text)
{
    RequireNumber(text, "--wait");
    const std::optional<double> seconds = NumberFromText(text);
    if (!seconds || !(*seconds > 0 && *seconds <= kLongestWait))
        throw Refused{"--wait takes seconds above 0, up to 60: " + text};
    return *seconds;
}

int Retries(const std::string& text)
{
    for (int n = 0; n <= kMostRetries; ++n)
        if (text == std::to_string(n))
            return n;
    throw Refused{"--retries takes 0 to " + std::to_string(kMostRetries) + ", not '" + text + "'"};
}

int Speed(const std::string& text)
{
    for (const int speed : {9600, 19200, 38400})
        if (text == std::to_string(speed))
            return speed;
    throw Refused{"the speed is 9600, 19200 or 38400, not '" + text + "'"};
}

Parity ParityNamed(const std::string& text)
{
    for (const auto& [name, parity] : kParities)
        if (text == name)
            return parity;
    throw Refused{"the parity is none, odd or even, not '" + text + "'"};
}

template <typename Item>
std::vector<Item> List(const std::string& text, Item (*item)(const std::string&))
{
    std::vector<Item> items;
    for (std::size_t from = 0;;) {
        const std::size_t comma = text.find(',', from);
        items.push_back(item(text.substr(from, comma - from)));
        if (comma == std::string::npos)
            return items;
        from = comma + 1;
    }
}

void Stations(const std::string& text, Options& options)
{
    const std::size_t dash = text.find('-', 1);
    options.firstStation = Station(text.substr(0, dash), "--stations");
    options.lastStation = dash == std::string::npos ? options.firstStation
                                                    : Station(text.substr(dash + 1), "--stations");
    if (options.firstStation > options.lastStation)
        throw Refused{"--stations goes from the first station to the last: " + text};
}

std::string Device(const std::string& port)
{
    if (port.empty())
        throw Refused{"PORT is empty"};
    if (port.size() == 4 && port.starts_with("COM") && port[3] >= '1' && port[3] <= '5')
        return DeviceForPort(port[3] - '0').path;
    return DeviceFromName(port);
}

// "-v", "--all", "--wait=1": an option. "-1", "-.5": a number, such as a negative VALUE.
bool IsOption(const std::string& arg)
{
    return arg.size() > 1 && arg[0] == '-' &&
           (arg[1] == '-' || std::isalpha(static_cast<unsigned char>(arg[1])));
}

Options Parse(const std::vector<std::string>& args)
{
    Options options;
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h")
            return options;
        if (arg == "--version") {
            options.verb = Verb::Version;
            return options;
        }
    }
    if (args.empty())
        throw Refused{"a command is needed: read, write or scan"};
    const std::string& verb = args[0];
    if (verb == "read")
        options.verb = Verb::Read;
    else if (verb == "write")
        options.verb = Verb::Write;
    else if (verb == "scan")
        options.verb = Verb::Scan;
    else
        throw Refused{"unknown command " + verb + " (read, write or scan)"};
    const bool scan = options.verb == Verb::Scan;
    Command& command = options.command;
    command.kind = options.verb == Verb::Write ? CommandKind::Write : CommandKind::Read;
    command.ref = *DecodeReference("40001");
    command.mode = WaitMode::UntilReply;
    if (scan)
        command.wait = kScanWait;

    std::vector<std::string> positional;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!IsOption(arg)) {
            positional.push_back(arg);
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto value = [&]() -> std::string {
            if (equals != std::string::npos)
                return arg.substr(equals + 1);
            if (i + 1 == args.size())
                throw Refused{name + " needs a value"};
            return args[++i];
        };
        const auto flag = [&] {
            if (equals != std::string::npos)
                throw Refused{name + " takes no value"};
            return true;
        };
        if (name == "--wait")
            command.wait = Wait(value());
        else if (name == "--json")
            options.json = flag();
        else if (name == "--whole-wait")
            command.mode = flag() ? WaitMode::Whole : command.mode;
        else if (name == "--retries")
            command.retries = Retries(value());
        else if (!scan && name == "--station")
            command.station = Station(value(), "--station");
        else if (!scan && name == "--speed")
            command.settings.baud = Speed(value());
        else if (!scan && name == "--parity")
            command.settings.parity = ParityNamed(value());
        else if (!scan && name == "-v")
            options.verbose = flag();
        else if (scan && name == "--stations")
            Stations(value(), options);
        else if (scan && name == "--speeds")
            options.speeds = List(value(), Speed);
        else if (scan && name == "--parities")
            options.parities = List(value(), ParityNamed);
        else if (scan && name == "--ref")
            command.ref = Reference(value(), CommandKind::Read);
        else if (scan && name == "--all")
            options.all = flag();
        else
            throw Refused{"unknown option " + name + " for " + verb};
    }

    const std::size_t wanted = scan ? 1 : options.verb == Verb::Read ? 2 : 3;
    if (positional.size() < wanted)
        throw Refused{verb + (scan                         ? " needs PORT"
                              : options.verb == Verb::Read ? " needs PORT and REF"
                                                           : " needs PORT, REF and VALUE")};
    if (positional.size() > wanted)
        throw Refused{"unexpected argument " + positional[wanted]};
    command.device = Device(positional[0]);
    if (!scan)
        command.ref = Reference(positional[1], command.kind);
    if (options.verb == Verb::Write)
        command.value = Value(positional[2]);
    return options;
}

} // namespace

std::variant<Options, std::string> ParseArguments(const std::vector<std::string>& args)
{
    try {
        return Parse(args);
    } catch (Refused& refused) {
        // One line, whatever the arguments quoted in it hold.
        std::replace_if(
            refused.why.begin(), refused.why.end(), [](char c) { return c == '\n' || c == '\r'; },
            ' ');
        return refused.why;
    }
}

const char* ParityName(Parity parity)
{
    for (const auto& [name, p] : kParities)
        if (p == parity)
            return name;
    return "";
}
