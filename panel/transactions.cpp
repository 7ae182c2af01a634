#include "panel/transactions.h"

#include "modbus/numbers.h"
#include "panel/detail.h"
#include "serial/device.h"

namespace {

constexpr const char* kNoStation = "the station field names no station (0 to 255)";

// A write, or a command that sends nothing, leaves the result as it was: its detail must not
// let an old value pass for its own.
std::string OlderResult(const Panel& panel)
{
    return panel.RxDataText().empty() ? "" : "\nThe result shown is from an earlier command";
}

// The outcome on the panel, and the button back. A command given up by the closing window
// touches nothing.
void Show(Panel& panel, Row row, const Outcome& outcome)
{
    if (outcome.result == Result::Abandoned)
        return;
    if (outcome.shown)
        panel.SetRxData(*outcome.shown);
    panel.SetRxDetail(outcome.detail + (outcome.shown ? "" : OlderResult(panel)));
    panel.SetCommandEnabled(row, true);
}

// How every command begins: its button off, the port of the selectors opened with their line
// settings. The command with the port and settings when it opened; nothing (the failure shown)
// when it would not.
std::optional<Command> Start(Panel& panel, Line& line, Row row)
{
    panel.SetCommandEnabled(row, false);
    const Selectors selectors = panel.SelectorState();
    Command command;
    command.kind = row;
    command.device = DeviceForPort(PortFromSelectors(selectors)).path;
    command.settings = SettingsFromSelectors(selectors);
    if (!line.port.Open(command.device, command.settings)) {
        const PortError error = line.port.Error();
        line.port.Close();
        Show(panel, row, PortFailure(row, error));
        return std::nullopt;
    }
    // The port opens again, so an earlier "PortErr" no longer holds. A write shows nothing of its
    // own, and a read may send nothing: left on screen it would say the port is still broken.
    if (panel.RxDataText() == "PortErr") {
        panel.SetRxData("");
        panel.SetRxDetail("");
    }
    return command;
}

void NothingSent(Panel& panel, Line& line, Row row, const std::string& why)
{
    line.port.Close();
    Outcome outcome;
    outcome.detail = NothingSentDetail(row, why);
    Show(panel, row, outcome);
}

// The station and the register of the row, read once the port is open; false when the command
// sends nothing (shown, the port closed).
bool ReadRow(Panel& panel, Line& line, Command& command)
{
    const std::optional<std::uint8_t> station = NormaliseStation(panel, command.kind);
    if (!station) {
        NothingSent(panel, line, command.kind, kNoStation);
        return false;
    }
    command.station = *station;
    // A reference beyond the double range names no register; area 0 is refused like any other.
    command.ref = DecodeReference(panel.AddressText(command.kind)).value_or(RegisterRef{});
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
    std::optional<Command> command = Start(panel, line, Row::Read);
    if (!command || !ReadRow(panel, line, *command))
        return;
    Show(panel, Row::Read, Exchange(line, *command));
}

void WriteTransaction(Panel& panel, Line& line)
{
    std::optional<Command> command = Start(panel, line, Row::Write);
    if (!command || !ReadRow(panel, line, *command))
        return;
    // The value is read only for a register that can be written.
    if (command->ref.AreaDigit == 4) {
        const std::optional<std::array<std::uint8_t, 2>> value = EncodeValue(panel.WriteDataText());
        if (!value)
            return NothingSent(panel, line, Row::Write,
                               "the value is too large a number (beyond about 1E+308)");
        command->value = static_cast<std::uint16_t>((*value)[0] << 8 | (*value)[1]);
    }
    Show(panel, Row::Write, Exchange(line, *command));
}
