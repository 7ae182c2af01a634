#pragma once

#include "exchange.h"
#include "frame_codec.h"

#include <cstdint>
#include <string>

// The window as the commands see it: the selector groups, the read row (0) and the write row
// (1), the result label and the two command buttons. Implemented by the window, and by fakes in
// tests.
class Panel
{
public:
    virtual ~Panel() = default;

    virtual Selectors SelectorState() const = 0;
    virtual std::string StationText(int row) const = 0;
    virtual void SetStationText(int row, const std::string& text) = 0;
    virtual std::string AddressText(int row) const = 0;
    virtual std::string WriteDataText() const = 0;
    // The result label: its visible text, and the line detail behind it (its tooltip).
    virtual std::string RxDataText() const = 0;
    virtual void SetRxData(const std::string& text) = 0;
    virtual void SetRxDetail(const std::string& detail) = 0;
    // Row 0 is the read button, row 1 the write button.
    virtual void SetCommandEnabled(int row, bool enabled) = 0;
};

// The values the commands share for the life of the window; each command sets the first three
// before it uses them.
struct SharedValues
{
    std::uint8_t StationNo = 0;
    std::int16_t RowIndex = 0;
    double ReplyWait = 0;
    RxBytes Rx; // the last read's reply; a write leaves it alone
};

// Everything a command runs on besides the window.
struct Line
{
    SerialPort& port;
    WaitServices wait;
};

// Reads the station field of `row` into StationNo and writes the normalised number back.
// Returns false, leaving the field as typed, when its text names no station.
bool NormaliseStation(Panel& panel, SharedValues& values, int row);

// Reads one register and shows its value, "Noans", "CRCErr", "CMDErr" or "PortErr".
void ReadTransaction(Panel& panel, Line& line, SharedValues& values);
// Writes one holding register; the reply is not read and nothing is shown but "PortErr".
void WriteTransaction(Panel& panel, Line& line, SharedValues& values);
