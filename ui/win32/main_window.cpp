#include "main_window.h"

#include "panel/layout.h"
#include "panel/option_groups.h"
#include "serial/device.h"
#include "win32_controls.h"
#include "win32_text.h"
#include "win32_wait.h"

#include <commctrl.h>
#include <oleacc.h>

#include <algorithm>
#include <cmath>

namespace {

constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
// Tooltips as wide as the window at most; the line detail breaks at its own line ends.
constexpr int kTipWidth = kClientWidth;

// The row's member of an indexed family: Stno1_0 on the read row.
std::string RowName(const char* family, Row row)
{
    return family + std::string(row == Row::Read ? "0" : "1");
}

} // namespace

MainWindow::MainWindow(HINSTANCE instance) : m_commands(*this, m_port, Win32WaitServices())
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    m_comInitialised = SUCCEEDED(com);
    const INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &MainWindow::Procedure;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = kClassName;
    RegisterClassExW(&wc);
    // Sized once its screen's DPI is known.
    CreateWindowExW(0, kClassName, Wide(kWindowTitle).c_str(), kWindowStyle, CW_USEDEFAULT,
                    CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
    if (!m_window)
        return;
    CreateControls(m_window, instance);
    m_tooltip = CreateTooltips(m_window, instance);
    for (const std::string_view selected : StartSelection())
        OnOption(selected);
    Place(static_cast<int>(GetDpiForWindow(m_window)));
    m_accessibility = CreateAccessibility(m_window);
    for (const std::string_view port : OptionGroups()[0])
        PortTip(Item(port), PortOfOption(port));
    m_lastFocus = Item("Address_0");
    SetKeyboardWindow(m_window);
}

MainWindow::~MainWindow()
{
    if (m_window)
        DestroyWindow(m_window);
    for (const auto& [key, font] : m_fonts)
        DeleteObject(font);
    if (m_accessibility)
        m_accessibility->Release();
    if (m_comInitialised)
        CoUninitialize();
}

void MainWindow::Show(int how)
{
    ShowWindow(m_window, how);
    UpdateWindow(m_window);
    SetFocus(m_lastFocus);
}

void MainWindow::Place(int dpi)
{
    std::map<std::pair<long, int>, HFONT> fonts;
    const auto layout = Layout();
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const Control& c = layout[i];
        PixelRect r = PixelPlace(c, dpi);
        // Options sit in their frame as far as the table goes, and in the window as children.
        if (c.frame) {
            const PixelRect frame = PixelPlace(*FindControl(c.frame), dpi);
            r.x += frame.x;
            r.y += frame.y;
        }
        const HWND control = GetDlgItem(m_window, kFirstId + static_cast<int>(i));
        if (c.kind != Kind::Line) {
            HFONT& font = fonts[{std::lround(c.points * 100), c.weight}];
            if (!font)
                font = CreateArial(c, dpi);
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
            // Arial draws "Address" in bold two pixels wider than its table width; the caption
            // grows to the right, into the free space before "Data", rather than clip its text.
            if (c.kind == Kind::Label)
                r.width = std::max(r.width, TextWidth(control, font));
        }
        SetWindowPos(control, nullptr, r.x, r.y, r.width, r.height, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    m_fonts.swap(fonts);
    for (const auto& [key, font] : fonts)
        DeleteObject(font);

    RECT frame{0, 0, Px(kClientWidth, dpi), Px(kClientHeight, dpi)};
    AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, 0, static_cast<UINT>(dpi));
    SetWindowPos(m_window, nullptr, 0, 0, frame.right - frame.left, frame.bottom - frame.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(m_tooltip, TTM_SETMAXTIPWIDTH, 0, Px(kTipWidth, dpi));
}

// The z-order is the keyboard order, which moves with the selection of each option group.
void MainWindow::Restack()
{
    HWND after = HWND_TOP;
    for (const Control* c : KeyboardOrder([this](std::string_view o) { return IsOn(o); })) {
        const HWND control = Item(c->name);
        SetWindowPos(control, after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        after = control;
    }
}

LRESULT CALLBACK MainWindow::Procedure(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == WM_NCCREATE) {
        auto* self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(l)->lpCreateParams);
        self->m_window = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    return self ? self->Handle(message, w, l) : DefWindowProcW(window, message, w, l);
}

LRESULT MainWindow::Handle(UINT message, WPARAM w, LPARAM l)
{
    switch (message) {
    case WM_COMMAND: {
        // The dialog manager sends IDOK for Enter and IDCANCEL for Escape, with whatever control
        // has the focus: neither starts anything, and Escape does not close the window.
        const HWND control = reinterpret_cast<HWND>(l);
        if (ControlOf(control) && LOWORD(w) == GetDlgCtrlID(control))
            OnCommand(control, HIWORD(w));
        return 0;
    }
    case WM_NOTIFY: {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(l);
        const Control* c = ControlOf(reinterpret_cast<HWND>(info->hdr.idFrom));
        if (info->hdr.hwndFrom != m_tooltip || info->hdr.code != TTN_GETDISPINFOW || !c)
            return 0;
        if (const int portNo = PortOfOption(c->name))
            info->lpszText = PortTip(reinterpret_cast<HWND>(info->hdr.idFrom), portNo);
        return 0;
    }
    case WM_CONTEXTMENU: {
        // A right-click on the result, or the context-menu key on a control with no menu of its
        // own (the edit boxes keep theirs and never pass it on), offers the detail for a report.
        RECT result{};
        GetWindowRect(Item("Rx_data"), &result);
        POINT at{static_cast<short>(LOWORD(l)), static_cast<short>(HIWORD(l))};
        const bool key = at.x == -1 && at.y == -1;
        // The menu runs a loop of its own, which would hold up a command's wait.
        if ((!key && !PtInRect(&result, at)) || m_commands.Running())
            break;
        OfferCopyDetails(m_window, key ? POINT{result.left, result.bottom} : at, m_rxDetail);
        return 0;
    }
    case WM_CTLCOLORSTATIC: {
        // The header bands look like an active title bar.
        const Control* c = ControlOf(reinterpret_cast<HWND>(l));
        if (!c || c->kind != Kind::Header)
            break;
        const HDC dc = reinterpret_cast<HDC>(w);
        SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
        SetBkColor(dc, GetSysColor(COLOR_ACTIVECAPTION));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_ACTIVECAPTION));
    }
    case WM_ACTIVATE:
        // A plain window keeps no focus of its own across deactivation; a dialog would.
        if (LOWORD(w) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus && IsChild(m_window, focus))
                m_lastFocus = focus;
        } else {
            SetFocus(IsWindowEnabled(m_lastFocus) ? m_lastFocus : Item("Address_0"));
        }
        return 0;
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(l);
        Place(LOWORD(w));
        SetWindowPos(m_window, nullptr, suggested->left, suggested->top, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        // Closing is not held up by a waiting command: it is given up with its port closed.
        m_commands.WindowClosing();
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        ForgetAccessibility(m_accessibility, m_window);
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY:
        SetWindowLongPtrW(m_window, GWLP_USERDATA, 0);
        SetKeyboardWindow(nullptr);
        m_window = nullptr;
        return 0;
    }
    return DefWindowProcW(m_window, message, w, l);
}

void MainWindow::OnCommand(HWND control, int code)
{
    const Control& c = *ControlOf(control);
    if (c.kind == Kind::Button && code == BN_CLICKED) {
        m_commands.Click(c.name == std::string_view("TX1") ? Row::Read : Row::Write);
    } else if (c.kind == Kind::Option) {
        // Windows clicks a radio button that the keyboard (an arrow key) gives the focus to;
        // wine does not, so it is done here for both. A mouse press clicks on release instead.
        const bool keyboardFocus = code == BN_SETFOCUS && GetKeyState(VK_LBUTTON) >= 0;
        if (code == BN_CLICKED || code == BN_DOUBLECLICKED || keyboardFocus)
            OnOption(c.name);
        if (const int portNo = PortOfOption(c.name); portNo && code == BN_SETFOCUS)
            PortTip(control, portNo);
    }
}

// A COM option's tooltip, looked up now: adapters come and go. Its accessible description says
// the same, for a screen reader that comes to it.
wchar_t* MainWindow::PortTip(HWND option, int portNo)
{
    m_tipText = Wide(PortTooltip(portNo, PortPresent(portNo)));
    Describe(m_accessibility, option, m_tipText);
    return m_tipText.data();
}

void MainWindow::OnOption(std::string_view name)
{
    ClickOption(name, [this](std::string_view member, bool on) {
        const HWND option = Item(member);
        SendMessageW(option, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
        // A group is one Tab stop: its selected member.
        const LONG_PTR style = GetWindowLongPtrW(option, GWL_STYLE);
        SetWindowLongPtrW(option, GWL_STYLE, on ? style | WS_TABSTOP : style & ~WS_TABSTOP);
    });
    Restack();
}

const Control* MainWindow::ControlOf(HWND control) const
{
    const auto layout = Layout();
    const int index = GetDlgCtrlID(control) - kFirstId;
    if (!control || GetParent(control) != m_window || index < 0 ||
        index >= static_cast<int>(layout.size()))
        return nullptr;
    return &layout[static_cast<std::size_t>(index)];
}

HWND MainWindow::Item(std::string_view name) const
{
    return GetDlgItem(m_window, kFirstId + ControlIndex(name));
}

bool MainWindow::IsOn(std::string_view option) const
{
    return SendMessageW(Item(option), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

Selectors MainWindow::SelectorState() const
{
    return SelectorsFrom([this](std::string_view option) { return IsOn(option); });
}

std::string MainWindow::StationText(Row row) const
{
    return TextOf(Item(RowName("Stno1_", row)));
}

void MainWindow::SetStationText(Row row, const std::string& text)
{
    SetWindowTextW(Item(RowName("Stno1_", row)), Wide(text).c_str());
}

std::string MainWindow::AddressText(Row row) const
{
    return TextOf(Item(RowName("Address_", row)));
}

std::string MainWindow::WriteDataText() const
{
    return TextOf(Item("Write_data"));
}

std::string MainWindow::RxDataText() const
{
    return TextOf(Item("Rx_data"));
}

void MainWindow::SetRxData(const std::string& text)
{
    SetWindowTextW(Item("Rx_data"), Wide(text).c_str());
}

void MainWindow::SetRxDetail(const std::string& detail)
{
    m_rxDetail = Wide(detail);
    TOOLINFOW tool = Tool(m_window, Item("Rx_data"), m_rxDetail.c_str());
    SendMessageW(m_tooltip, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    Describe(m_accessibility, Item("Rx_data"), m_rxDetail);
}

void MainWindow::SetCommandEnabled(Row row, bool enabled)
{
    const HWND button = Item(row == Row::Read ? "TX1" : "Write_command");
    if (enabled) {
        EnableWindow(button, TRUE);
        // The focus comes back to the button when the command ends, so that the space bar
        // repeats the command, unless the operator moved it meanwhile.
        if (m_focusMovedTo && GetFocus() == m_focusMovedTo)
            SetFocus(button);
        m_focusMovedTo = nullptr;
        return;
    }
    // Windows leaves the focus with nobody when its control is greyed; it goes on as Tab would.
    m_focusMovedTo = nullptr;
    if (GetFocus() == button) {
        m_focusMovedTo = GetNextDlgTabItem(m_window, button, FALSE);
        SetFocus(m_focusMovedTo);
    }
    EnableWindow(button, FALSE);
}
