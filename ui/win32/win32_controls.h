#pragma once

#include "panel/layout.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

struct IAccPropServices;

// The parts of the window's controls that need none of its state: their creation, their font,
// their tooltips, their accessible names, the text in a control, whether a COM port's device is
// there, and the result's "Copy details".

// Every control of the layout table as a child of `parent`, with the control id
// kFirstControlId + its place in the table; placed and sized later, at the screen's DPI.
void CreateControls(HWND parent, HINSTANCE instance);

// Arial at the control's size and weight for a screen of `dpi`; the caller deletes it.
HFONT CreateArial(const Control& c, int dpi);

// A tooltip tool on `control`, shown over it and owned by `owner`.
TOOLINFOW Tool(HWND owner, HWND control, const wchar_t* text);
// The tooltip of `parent`'s controls: the result's, empty until a command ends, and each COM
// option's, whose text `parent` gives when asked (TTN_GETDISPINFO).
HWND CreateTooltips(HWND parent, HINSTANCE instance);

// The accessible names that screen readers would guess wrong; nothing without the service.
IAccPropServices* CreateAccessibility(HWND parent);
// A control's accessible description.
void Describe(IAccPropServices* accessibility, HWND control, const std::wstring& text);
// Takes every name and description back: a later window could get these handles.
void ForgetAccessibility(IAccPropServices* accessibility, HWND parent);

// A popup menu at `at` (screen coordinates) with "Copy details", greyed while `detail` is empty,
// which puts `detail` on the clipboard as plain text.
void OfferCopyDetails(HWND owner, POINT at, const std::wstring& detail);

// Whether COM<n>'s device is there now, found without opening it.
bool PortPresent(int portNo);

// The control's text in UTF-8, and its width in pixels in `font`.
std::string TextOf(HWND control);
int TextWidth(HWND control, HFONT font);
