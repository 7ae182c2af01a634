#pragma once

#include "panel/panel.h"

#include <string>
#include <vector>

// A window without a display: fields as plain strings, and a log of what the commands changed
// so that tests can check the order of visible effects.
class FakePanel : public Panel
{
public:
    Selectors selectors;
    std::string station[2] = {"1", "1"};
    std::string address[2] = {"30002", "41001"};
    std::string writeData = "0";
    std::string rxData;
    std::string rxDetail;
    bool enabled[2] = {true, true};
    std::vector<std::string> log;
    std::vector<std::string>* journal = nullptr; // a log shared with other fakes, when set
    mutable int writeDataReads = 0;

    static int Index(Row row) { return row == Row::Read ? 0 : 1; }

    Selectors SelectorState() const override { return selectors; }
    std::string StationText(Row row) const override { return station[Index(row)]; }
    void SetStationText(Row row, const std::string& text) override
    {
        station[Index(row)] = text;
        Note("station " + std::to_string(Index(row)) + " '" + text + "'");
    }
    std::string AddressText(Row row) const override { return address[Index(row)]; }
    std::string WriteDataText() const override
    {
        ++writeDataReads;
        return writeData;
    }
    std::string RxDataText() const override { return rxData; }
    void SetRxData(const std::string& text) override
    {
        rxData = text;
        Note("rx '" + text + "'");
    }
    void SetRxDetail(const std::string& detail) override { rxDetail = detail; }
    void SetCommandEnabled(Row row, bool on) override
    {
        enabled[Index(row)] = on;
        Note(std::string(on ? "enable " : "disable ") + std::to_string(Index(row)));
    }

private:
    void Note(const std::string& entry)
    {
        log.push_back(entry);
        if (journal)
            journal->push_back(entry);
    }
};
