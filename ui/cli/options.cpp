#include "options.h"

#include "modbus/numbers.h"
#include "serial/device.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <utility>

const char* const kHelp =
    R"(usage: vek-cli read PORT REF [--count N] [--type TYPE] [--order ORDER]
                    [--station N] [--speed 9600|19200|38400]
                    [--parity none|odd|even] [--wait SECONDS] [--whole-wait]
                    [--retries N] [-v] [--json]
       vek-cli write PORT REF VALUE... [--type TYPE] [--order ORDER] [the
                    same line options]
       vek-cli scan PORT [--stations FIRST-LAST] [--speeds LIST]
                    [--parities LIST] [--ref REF] [--all] [--wait SECONDS]
                    [--whole-wait] [--retries N] [--json]
       vek-cli watch PORT REF [the read's options] [--interval SECONDS]
                    [--polls N] [--format table|csv|tsv|json] [--plot FILE.svg]
       vek-cli listen PORT [--speed 9600|19200|38400] [--parity none|odd|even]
                    [--json] [--raw]
       vek-cli --help | --version
       --address N --table coil|discrete|input|holding may stand for REF.

Modbus RTU reads and writes of every table, one as the VEK Sample program's
panel does it, a watch that polls a read on a port it keeps open, and a scan
for the station, speed and parity a device answers at. A command ends as soon
as its reply is whole, or when --wait has passed. listen sends nothing: it
prints each request another master sends on the line with the reply that
follows, a line each (time, station, what was asked, what came back, the reply
time), and what makes no frame in hex with the reason.

  PORT         COM1..COM5 as the panel maps them (VEK_COM1..VEK_COM5), or a
               device: /dev/ttyUSB0, ttyUSB0; on Windows COM12; or a serial
               device server: tcp://HOST:PORT (HOST a name, IPv4, [IPv6]),
               connected for each command, given up after 3 s; its line
               settings are the server's: --speed and --parity change nothing
  REF          five digits as the panel has them, or six for a whole table:
               00001 / 000001..065536  coil, function 1 (write 5, several 15)
               10001 / 100001..165536  discrete input, function 2
               30001 / 300001..365536  input register, function 4
               40001 / 400001..465536  holding register, function 3 (write 6,
                                       several or typed 16)
               40001 is address 0 on the wire, 410001 address 10000; or
               --address 10000 --table holding (addresses count from 0)
  VALUE        one register modulo 65536 (-1 is 65535), as the panel writes
               it; with --type, values of that type; a coil: on, off, 1, 0
  --count      registers (1-125) or bits (1-2000) in one request (1, or the
               registers of --type)
  --type       int16 uint16 hex bin int32 uint32 float32 (2 registers)
               int64 uint64 float64 (4) string (2 characters a register)
  --order      ABCD (the protocol's: first register's high byte first),
               CDAB (registers swapped), BADC (bytes swapped), DCBA (both),
               or for a read: all, the four side by side, * marks plausible
  --station    0 to 255 (1)              --speed     bit/s (19200)
  --parity     (none)                    --retries   0 to 10 (0)
  --wait       the longest wait for a reply, up to 60 s (0.2; scan 0.05)
  --whole-wait wait the whole --wait, as the panel does, then read what came
  -v           the line detail too       --json      one JSON object a result
  --stations   (1-247)                   --ref       (40001)
  --speeds     (19200,9600,38400)        --parities  (none,even,odd)
  --all        go on after the first device found
  --interval   a watch's seconds between polls, 0 as fast as the line goes (1)
  --polls      a watch's number of polls (until Ctrl+C)
  --format     a watch's output: table (on a terminal), csv (elsewhere), tsv or
               json (--json); statistics and the wait it needs on stderr
  --plot       a watch's values and reply times drawn into an SVG file
  --raw        listen: each chunk as received too, with its time

Numbers are read as the panel reads them: &H hexadecimal, &O octal, halves
rounded to even. --retries tries again after no answer or a wrong CRC. Exit
status: 0 a value read, a write confirmed, a device found, a watch or a listen
ended; 1 no answer; 2 wrong CRC; 3 exception; 4 port failure; 5 a correct reply
that does not answer the request; 64 usage error; 74 a watch's output not
written; 130 interrupted. A watch and a listen run until Ctrl+C (exit 0) or
their port fails (exit 4), and then print their counts on stderr. VEK_LOG names
a traffic log that every command appends to.
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

std::uint16_t Value(const std::string& text)
{
    RequireNumber(text, "VALUE");
    const std::optional<std::array<std::uint8_t, 2>> value = EncodeValue(text);
    if (!value)
        throw Refused{"VALUE is too large a number: " + text};
    return static_cast<std::uint16_t>((*value)[0] << 8 | (*value)[1]);
}

// Six digits reach a whole table; any other reference decodes as the panel decodes it.
RegisterRef Reference(const std::string& text)
{
    RequireNumber(text, "REF");
    if (IsSixDigitReference(text)) {
        if (const std::optional<RegisterRef> ref = SixDigitReference(text))
            return *ref;
        throw Refused{"a six-digit REF is 000001-065536, 100001-165536, 300001-365536 or "
                      "400001-465536, not " + text};
    }
    const std::optional<RegisterRef> ref = DecodeReference(text);
    if (!ref)
        throw Refused{"REF is too large a number: " + text};
    return *ref;
}

// Whether the command can be sent: its table, its count; else why not, quoting `what`.
void RequireRequest(const Command& command, const std::string& what)
{
    const std::variant<Request, std::string> request = RequestOf(command);
    if (const auto* why = std::get_if<std::string>(&request))
        throw Refused{*why + ": " + what};
}

int Table(const std::string& text)
{
    constexpr std::pair<const char*, int> tables[] = {{"coil", kCoilArea},
                                                     {"discrete", kDiscreteInputArea},
                                                     {"input", kInputRegisterArea},
                                                     {"holding", kHoldingRegisterArea}};
    for (const auto& [name, area] : tables)
        if (text == name)
            return area;
    throw Refused{"--table is coil, discrete, input or holding, not '" + text + "'"};
}

// A whole number from `least` to `most`, as the panel reads numbers.
int Whole(const std::string& text, const std::string& what, int least, int most)
{
    RequireNumber(text, what);
    const std::optional<double> x = NumberFromText(text);
    if (!x || *x != std::floor(*x) || *x < least || *x > most)
        throw Refused{what + " takes a whole number from " + std::to_string(least) + " to " +
                      std::to_string(most) + ", not " + text};
    return static_cast<int>(*x);
}

bool IsBitTable(const RegisterRef& ref)
{
    return ref.AreaDigit == kCoilArea || ref.AreaDigit == kDiscreteInputArea;
}

std::uint16_t Coil(const std::string& text)
{
    if (text == "on" || text == "1")
        return kCoilOn;
    if (text == "off" || text == "0")
        return kCoilOff;
    throw Refused{"a coil is on, off, 1 or 0, not '" + text + "'"};
}

// The registers of the VALUEs of a typed write, in the order asked for.
std::vector<std::uint16_t> TypedWords(const Options& options, const std::vector<std::string>& texts)
{
    std::vector<std::uint16_t> words;
    for (const std::string& text : texts) {
        const TypedValue typed = ValueBytes(options.type, text);
        if (!typed.refused.empty())
            throw Refused{"VALUE " + typed.refused};
        const std::vector<std::uint8_t> bytes = Reordered(typed.bytes, options.order);
        for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
            words.push_back(static_cast<std::uint16_t>(bytes[i] << 8 | bytes[i + 1]));
    }
    return words;
}

// The values of a write: coils on or off, one register by the panel's rule, or typed registers.
void WriteValues(Options& options, const std::vector<std::string>& texts)
{
    Command& command = options.command;
    if (IsBitTable(command.ref)) {
        if (options.typed)
            throw Refused{"--type and --order are for registers, not coils"};
        if (texts.size() == 1)
            command.value = Coil(texts[0]);
        else
            for (const std::string& text : texts)
                command.values.push_back(Coil(text) == kCoilOn ? 1 : 0);
        return;
    }
    if (!options.typed && texts.size() == 1) {
        command.value = Value(texts[0]);
        return;
    }
    const std::vector<std::uint16_t> words =
        options.typed ? TypedWords(options, texts) : std::vector<std::uint16_t>{};
    if (!options.typed)
        for (const std::string& text : texts)
            command.values.push_back(Value(text));
    else if (words.size() == 1)
        command.value = words[0];
    else
        command.values = words;
}

// A read's count and type: bits take no type; registers hold whole values of theirs.
void CheckReadType(Options& options, bool counted)
{
    Command& command = options.command;
    if (IsBitTable(command.ref)) {
        if (options.typed)
            throw Refused{"--type and --order are for registers, not bits"};
        return;
    }
    const std::size_t each = RegistersFor(options.type);
    if (!counted)
        command.count = static_cast<std::uint16_t>(each);
    if (command.count % each != 0)
        throw Refused{"--count " + std::to_string(command.count) + " does not hold whole " +
                      NameOf(options.type) + " values (" + std::to_string(each) + " registers each)"};
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

ValueType TypeNamed(const std::string& text)
{
    if (const std::optional<ValueType> type = ValueTypeNamed(text))
        return *type;
    throw Refused{"--type is int16, uint16, hex, bin, int32, uint32, float32, int64, uint64, "
                  "float64 or string, not '" + text + "'"};
}

void Order(const std::string& text, Options& options)
{
    options.allOrders = text == "all";
    if (const std::optional<WordOrder> order = WordOrderNamed(text))
        options.order = *order;
    else if (!options.allOrders)
        throw Refused{"--order is ABCD, CDAB, BADC, DCBA or all, not '" + text + "'"};
}

double Interval(const std::string& text)
{
    RequireNumber(text, "--interval");
    const std::optional<double> seconds = NumberFromText(text);
    if (!seconds || !(*seconds >= 0 && *seconds <= 86400))
        throw Refused{"--interval takes seconds from 0 to 86400: " + text};
    return *seconds;
}

Format FormatNamed(const std::string& text)
{
    constexpr std::pair<const char*, Format> formats[] = {
        {"table", Format::Table}, {"csv", Format::Csv}, {"tsv", Format::Tsv}, {"json", Format::Json}};
    for (const auto& [name, format] : formats)
        if (text == name)
            return format;
    throw Refused{"--format is table, csv, tsv or json, not '" + text + "'"};
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
    if (IsNetworkDevice(port) && !NetworkAddressOf(port))
        throw Refused{"PORT is tcp://HOST:PORT, PORT 1 to 65535, an IPv6 HOST in brackets, not " +
                      port};
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
        throw Refused{"a command is needed: read, write, scan, watch or listen"};
    const std::string& verb = args[0];
    if (verb == "read")
        options.verb = Verb::Read;
    else if (verb == "write")
        options.verb = Verb::Write;
    else if (verb == "scan")
        options.verb = Verb::Scan;
    else if (verb == "watch")
        options.verb = Verb::Watch;
    else if (verb == "listen")
        options.verb = Verb::Listen;
    else
        throw Refused{"unknown command " + verb + " (read, write, scan, watch or listen)"};
    const bool listen = options.verb == Verb::Listen;
    const bool scan = options.verb == Verb::Scan;
    const bool watch = options.verb == Verb::Watch;
    const bool read = options.verb == Verb::Read || watch;
    Command& command = options.command;
    command.kind = options.verb == Verb::Write ? CommandKind::Write : CommandKind::Read;
    command.reach = Reach::AllTables;
    std::optional<int> address;
    std::optional<int> table;
    bool counted = false;
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
        // Listening sends nothing: only the line's settings and the output's form.
        if (listen && name != "--speed" && name != "--parity" && name != "--json" && name != "--raw")
            throw Refused{"unknown option " + name + " for " + verb};
        if (listen && name == "--raw")
            options.raw = flag();
        else if (name == "--wait")
            command.wait = Wait(value());
        else if (name == "--json")
            options.json = flag(), options.format = Format::Json, options.formatGiven = true;
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
        else if (!scan && name == "--address")
            address = Whole(value(), "--address", 0, 65535);
        else if (!scan && name == "--table")
            table = Table(value());
        else if (watch && name == "--interval")
            options.interval = Interval(value());
        else if (watch && name == "--polls")
            options.polls = static_cast<std::size_t>(Whole(value(), "--polls", 1, 1000000000));
        else if (watch && name == "--format")
            options.format = FormatNamed(value()), options.formatGiven = true;
        else if (watch && name == "--plot")
            options.plot = value();
        else if (read && name == "--count")
            command.count = static_cast<std::uint16_t>(Whole(value(), "--count", 1, kMostBitsRead)),
            counted = true;
        else if (!scan && name == "--type")
            options.type = TypeNamed(value()), options.typed = true;
        else if (!scan && name == "--order")
            Order(value(), options), options.typed = true;
        else if (scan && name == "--stations")
            Stations(value(), options);
        else if (scan && name == "--speeds")
            options.speeds = List(value(), Speed);
        else if (scan && name == "--parities")
            options.parities = List(value(), ParityNamed);
        else if (scan && name == "--ref")
            command.ref = Reference(value());
        else if (scan && name == "--all")
            options.all = flag();
        else
            throw Refused{"unknown option " + name + " for " + verb};
    }

    if (listen) {
        if (positional.size() != 1)
            throw Refused{positional.empty() ? "listen needs PORT"
                                             : "unexpected argument " + positional[1]};
        command.device = Device(positional[0]);
        return options;
    }
    if (address.has_value() != table.has_value())
        throw Refused{"--address and --table go together"};
    // PORT, then REF unless --address names the register, then a write's VALUEs.
    const std::size_t named = scan || address ? 1 : 2;
    const std::size_t wanted = named + (options.verb == Verb::Write ? 1 : 0);
    if (positional.size() < wanted)
        throw Refused{verb + (scan    ? " needs PORT"
                              : read    ? (address ? " needs PORT" : " needs PORT and REF")
                              : address ? " needs PORT and VALUE"
                                        : " needs PORT, REF and VALUE")};
    if (options.verb != Verb::Write && positional.size() > wanted)
        throw Refused{"unexpected argument " + positional[wanted]};
    command.device = Device(positional[0]);
    if (address)
        command.ref = ReferenceAt(*table, static_cast<std::uint16_t>(*address));
    else if (!scan)
        command.ref = Reference(positional[1]);
    const std::string what = address ? "--address " + std::to_string(*address)
                             : scan  ? ReferenceText(command.ref)
                                     : positional[1];
    if (options.verb != Verb::Read && options.allOrders)
        throw Refused{"--order all is for a read; " + verb + " takes one order"};
    options.portName = positional[0];
    if (options.verb == Verb::Write)
        WriteValues(options, {positional.begin() + named, positional.end()});
    else
        CheckReadType(options, counted);
    RequireRequest(command, what);
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
