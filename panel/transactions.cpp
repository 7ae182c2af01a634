#include "panel/transactions.h"

#include "modbus/numbers.h"
#include "panel/detail.h"
#include "panel/traffic_log.h"
#include "serial/device.h"

#include <cstdlib>

namespace {

constexpr const char* kNoStation = "the station field names no station (0 to 255)";

// A write, or a command that sends nothing, leaves the result as it was: its detail must not
// let an old value pass for its own.
std::string OlderResult(const Panel& panel)
{
    return panel.RxDataText().empty() ? "" : "\nThe result shown is from an earlier command";
}

// The command as the window runs it: its port number, for the log, and the command itself.
struct WindowCommand
{
    Row row = Row::Read;
    int portNo = 1;
    Command command;
};

// The outcome in the log, when one is asked for, and on the panel, with the button back. A command
// given up by the closing window touches the window no more.
void Finish(Panel& panel, const WindowCommand& run, Outcome outcome)
{
    if (const auto error = LogCommand("COM" + std::to_string(run.portNo), run.command, outcome))
        outcome.detail += "\nLog not written: " + *error;
    if (outcome.result == Result::Abandoned)
        return;
    if (outcome.shown)
        panel.SetRxData(*outcome.shown);
    panel.SetRxDetail(outcome.detail + (outcome.shown ? "" : OlderResult(panel)));
    panel.SetCommandEnabled(run.row, true);
}

// How every command begins: its button off, the port of the selectors opened with their line
// settings. Nothing (the failure shown) when the port would not open, or when the window closed
// while a device server was being connected.
std::optional<WindowCommand> Start(Panel& panel, Line& line, Row row)
{
    panel.SetCommandEnabled(row, false);
    const Selectors selectors = panel.SelectorState();
    WindowCommand run;
    run.row = row;
    run.portNo = PortFromSelectors(selectors);
    run.command.kind = row == Row::Read ? CommandKind::Read : CommandKind::Write;
    run.command.device = DeviceForPort(run.portNo).path;
    run.command.settings = SettingsFromSelectors(selectors);
    if (const std::optional<Outcome> failed = OpenFor(line, run.command)) {
        Finish(panel, run, *failed);
        return std::nullopt;
    }
    // The port opens again, so an earlier "PortErr" no longer holds. A write shows nothing of its
    // own, and a read may send nothing: left on screen it would say the port is still broken.
    if (panel.RxDataText() == "PortErr") {
        panel.SetRxData("");
        panel.SetRxDetail("");
    }
    return run;
}

void NothingSent(Panel& panel, Line& line, const WindowCommand& run, const std::string& why)
{
    line.port.Close();
    Outcome outcome;
    outcome.detail = NothingSentDetail(run.command.kind, why);
    Finish(panel, run, outcome);
}

// The station and the register of the row, read once the port is open; false when the command
// sends nothing (shown, the port closed).
bool ReadRow(Panel& panel, Line& line, WindowCommand& run)
{
    Command& command = run.command;
    const std::optional<std::uint8_t> station = NormaliseStation(panel, run.row);
    if (!station) {
        NothingSent(panel, line, run, kNoStation);
        return false;
    }
    command.station = *station;
    // A reference beyond the double range names no register; area 0 is refused like any other.
    command.ref = DecodeReference(panel.AddressText(run.row)).value_or(RegisterRef{});
    return true;
}

} // namespace

std::optional<std::uint8_t> NormaliseStation(Panel& panel, Row row)
{
    const std::optional<std::uint8_t> station = StationFromText(panel.StationText(row));
    if (station)
        panel.SetStationText(row, TextFromNumber(*station));
    return station;
}

void ReadTransaction(Panel& panel, Line& line)
{
    std::optional<WindowCommand> run = Start(panel, line, Row::Read);
    if (!run || !ReadRow(panel, line, *run))
        return;
    Finish(panel, *run, Exchange(line, run->command));
}

void WriteTransaction(Panel& panel, Line& line)
{
    std::optional<WindowCommand> run = Start(panel, line, Row::Write);
    if (!run || !ReadRow(panel, line, *run))
        return;
    // The value is read only for a register that can be written.
    if (run->command.ref.AreaDigit == kHoldingRegisterArea) {
        const std::optional<std::array<std::uint8_t, 2>> value = EncodeValue(panel.WriteDataText());
        if (!value)
            return NothingSent(panel, line, *run,
                               "the value is too large a number (beyond about 1E+308)");
        run->command.value = static_cast<std::uint16_t>((*value)[0] << 8 | (*value)[1]);
    }
    Finish(panel, *run, Exchange(line, run->command));
}
