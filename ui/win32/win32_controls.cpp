#include "win32_controls.h"

#include "panel/option_groups.h"
#include "serial/device.h"
#include "win32_ids.h"
#include "win32_text.h"

#include <oleacc.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string_view>

namespace {

constexpr int kTipShowMs = 30000;

HWND Item(HWND parent, std::string_view name)
{
    return GetDlgItem(parent, kFirstControlId + ControlIndex(name));
}

// Plain text with Windows' line ends, for any program it is pasted into.
void CopyText(HWND owner, const std::wstring& text)
{
    std::wstring lines;
    for (const wchar_t c : text)
        lines += c == L'\n' ? L"\r\n" : std::wstring(1, c);
    const std::size_t bytes = (lines.size() + 1) * sizeof(wchar_t);
    const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!memory)
        return;
    std::memcpy(GlobalLock(memory), lines.c_str(), bytes);
    GlobalUnlock(memory);
    // The clipboard owns the memory once it has taken it.
    if (!OpenClipboard(owner)) {
        GlobalFree(memory);
        return;
    }
    EmptyClipboard();
    if (!SetClipboardData(CF_UNICODETEXT, memory))
        GlobalFree(memory);
    CloseClipboard();
}

// The window class, styles and extended styles of each kind of control. The dialog manager
// walks the controls in z-order: Tab to the next WS_TABSTOP, the arrow keys within a run that
// starts at a WS_GROUP, so every control that is not an option ends a run.
struct ControlClass
{
    const wchar_t* name;
    DWORD style;
    DWORD exStyle;
};

ControlClass ClassOf(const Control& c)
{
    constexpr DWORD label = SS_LEFT | SS_NOPREFIX | SS_CENTERIMAGE | WS_GROUP;
    switch (c.kind) {
    case Kind::Frame:
        return {L"BUTTON", BS_GROUPBOX | WS_GROUP, 0};
    case Kind::Option: {
        // Not BS_AUTORADIOBUTTON: a click runs the panel's option-group rule. BS_NOTIFY reports
        // the focus, which the arrow keys move.
        const auto groups = OptionGroups();
        const bool first = std::any_of(groups.begin(), groups.end(),
                                       [&](const auto group) { return group.front() == c.name; });
        return {L"BUTTON", BS_RADIOBUTTON | BS_NOTIFY | (first ? WS_GROUP : 0u), 0};
    }
    case Kind::Label:
    case Kind::Header:
        return {L"STATIC", label, 0};
    case Kind::Result:
        // SS_NOTIFY: a static is transparent to the mouse otherwise, and the tooltip never shows.
        return {L"STATIC", label | SS_NOTIFY, WS_EX_STATICEDGE};
    case Kind::Button:
        return {L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0};
    case Kind::TextBox:
        return {L"EDIT", ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, WS_EX_CLIENTEDGE};
    case Kind::Line:
        return {L"STATIC", SS_BLACKRECT | WS_GROUP, 0};
    }
    return {L"STATIC", 0, 0};
}

} // namespace

void CreateControls(HWND parent, HINSTANCE instance)
{
    const auto layout = Layout();
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const ControlClass cls = ClassOf(layout[i]);
        const HWND control = CreateWindowExW(
            cls.exStyle, cls.name, Wide(layout[i].text).c_str(),
            WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | cls.style, 0, 0, 0, 0, parent,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstControlId + i)), instance, nullptr);
        if (layout[i].kind == Kind::TextBox)
            SendMessageW(control, EM_SETLIMITTEXT, 0, 0); // 0: as long as the system allows
    }
}

HFONT CreateArial(const Control& c, int dpi)
{
    const int height = -static_cast<int>(std::lround(c.points * dpi / 72.0));
    return CreateFontW(height, 0, 0, 0, c.weight, FALSE, FALSE, FALSE, ANSI_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"Arial");
}

TOOLINFOW Tool(HWND owner, HWND control, const wchar_t* text)
{
    TOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = owner;
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    tool.lpszText = const_cast<wchar_t*>(text);
    return tool;
}

HWND CreateTooltips(HWND parent, HINSTANCE instance)
{
    const HWND tooltip =
        CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                        WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                        CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, instance, nullptr);
    SendMessageW(tooltip, TTM_SETDELAYTIME, TTDT_AUTOPOP, kTipShowMs);
    // The result's tool comes first; its text is empty, and so hidden, until a command ends.
    TOOLINFOW result = Tool(parent, Item(parent, "Rx_data"), L"");
    SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&result));
    // A COM option looks its device up when its tooltip opens: adapters come and go.
    for (const std::string_view port : OptionGroups()[0]) {
        TOOLINFOW tool = Tool(parent, Item(parent, port), LPSTR_TEXTCALLBACKW);
        SendMessageW(tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    }
    return tooltip;
}

// Screen readers name an edit box after the label just before it in z-order, which here is
// the keyboard order instead; so the names are set on the boxes themselves.
IAccPropServices* CreateAccessibility(HWND parent)
{
    IAccPropServices* accessibility = nullptr;
    if (FAILED(CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IAccPropServices, reinterpret_cast<void**>(&accessibility))))
        return nullptr;
    for (const Control& c : Layout())
        if (const char* name = AccessibleName(c.name))
            accessibility->SetHwndPropStr(Item(parent, c.name), OBJID_CLIENT, CHILDID_SELF,
                                          PROPID_ACC_NAME, Wide(name).c_str());
    return accessibility;
}

void Describe(IAccPropServices* accessibility, HWND control, const std::wstring& text)
{
    if (accessibility)
        accessibility->SetHwndPropStr(control, OBJID_CLIENT, CHILDID_SELF, PROPID_ACC_DESCRIPTION,
                                      text.c_str());
}

void ForgetAccessibility(IAccPropServices* accessibility, HWND parent)
{
    if (!accessibility)
        return;
    const MSAAPROPID props[] = {PROPID_ACC_NAME, PROPID_ACC_DESCRIPTION};
    for (const Control& c : Layout())
        accessibility->ClearHwndProps(Item(parent, c.name), OBJID_CLIENT, CHILDID_SELF, props,
                                      std::size(props));
}

void OfferCopyDetails(HWND owner, POINT at, const std::wstring& detail)
{
    constexpr UINT kCopy = 1;
    const HMENU menu = CreatePopupMenu();
    AppendMenuW(menu, MF_STRING | (detail.empty() ? MF_GRAYED : 0u), kCopy, L"&Copy details");
    const UINT picked = static_cast<UINT>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, owner, nullptr));
    DestroyMenu(menu);
    if (picked == kCopy)
        CopyText(owner, detail);
}

// Asked without opening the port: an open can pulse the modem lines, and fails anyway while
// another program holds the port.
bool PortPresent(int portNo)
{
    const std::wstring path = Wide(DeviceForPort(portNo).path);
    constexpr std::wstring_view kDosDevice = L"\\\\.\\";
    if (!path.starts_with(kDosDevice))
        return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
    wchar_t target[1024];
    return QueryDosDeviceW(path.c_str() + kDosDevice.size(), target, std::size(target)) != 0 ||
           GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

std::string TextOf(HWND control)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

int TextWidth(HWND control, HFONT font)
{
    const std::wstring text = Wide(TextOf(control));
    const HDC dc = GetDC(control);
    const HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return static_cast<int>(size.cx);
}
