#pragma once

#include "panel/option_groups.h"

#include <string>

// The panel's two rows of fields, each with its command: the read row (Stno1_0, Address_0, TX1)
// and the write row (Stno1_1, Address_1, Write_data, Write_command).
enum class Row { Read, Write };

// The window as the commands see it: the selector groups, the two rows, the result label and the
// two command buttons. Implemented by each front-end's window, and by fakes in tests.
class Panel
{
public:
    virtual ~Panel() = default;

    virtual Selectors SelectorState() const = 0;
    virtual std::string StationText(Row row) const = 0;
    virtual void SetStationText(Row row, const std::string& text) = 0;
    virtual std::string AddressText(Row row) const = 0;
    virtual std::string WriteDataText() const = 0;
    // The result label: its visible text, and the line detail behind it (its tooltip).
    virtual std::string RxDataText() const = 0;
    virtual void SetRxData(const std::string& text) = 0;
    virtual void SetRxDetail(const std::string& detail) = 0;
    virtual void SetCommandEnabled(Row row, bool enabled) = 0;
};
