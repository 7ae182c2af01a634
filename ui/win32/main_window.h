#pragma once

#include "panel/commands.h"
#include "panel/layout.h"
#include "serial/device_port.h"
#include "win32_ids.h"
#include "win32_serial_port.h"
#include "win32_tcp_port.h"

#include <windows.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>

struct IAccPropServices;

// The operator's panel on Win32. Every control, the option buttons included, is a child of the
// main window with the control id kFirstId + its place in the layout table, placed and sized at
// the screen's real DPI; the commands and the option groups follow the panel's rules.
class MainWindow final : public Panel
{
public:
    static constexpr const wchar_t* kClassName = kMainClassName;
    static constexpr int kFirstId = kFirstControlId;

    explicit MainWindow(HINSTANCE instance);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;
    ~MainWindow() override;

    HWND Window() const { return m_window; }
    void Show(int how);

    // Panel: the selectors and the text boxes that the commands read, and the station boxes
    // they write back.
    Selectors SelectorState() const override;
    std::string StationText(Row row) const override;
    std::string AddressText(Row row) const override;
    std::string WriteDataText() const override;
    void SetStationText(Row row, const std::string& text) override;
    // The result: its text, and the line detail in its tooltip and accessible description.
    std::string RxDataText() const override;
    void SetRxData(const std::string& text) override;
    void SetRxDetail(const std::string& detail) override;
    void SetCommandEnabled(Row row, bool enabled) override;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM w, LPARAM l);
    LRESULT Handle(UINT message, WPARAM w, LPARAM l);
    void Place(int dpi);
    void Restack();
    void OnCommand(HWND control, int code);
    void OnOption(std::string_view name);
    wchar_t* PortTip(HWND option, int portNo);
    const Control* ControlOf(HWND control) const;
    HWND Item(std::string_view name) const;
    bool IsOn(std::string_view option) const;

    Win32SerialPort m_serialPort;
    Win32TcpPort m_networkPort;
    DevicePort m_port{m_serialPort, m_networkPort};
    Commands m_commands;
    HWND m_window = nullptr;
    HWND m_tooltip = nullptr;
    HWND m_lastFocus = nullptr;    // given back when the window is activated again
    HWND m_focusMovedTo = nullptr; // where the focus went when the running command's button greyed
    std::map<std::pair<long, int>, HFONT> m_fonts; // by hundredths of a point and weight
    std::wstring m_tipText;                        // the COM option tooltip on show
    std::wstring m_rxDetail;                       // the result's, for "Copy details"
    IAccPropServices* m_accessibility = nullptr;
    bool m_comInitialised = false;
};
