#pragma once

#include "panel/layout.h"

#include <windows.h>

#include <commctrl.h>

#include <string>

// The parts of the window's controls that need none of its state: their creation, their font,
// a tooltip's tool, the text in a control, and whether a COM port's device is there.

// Every control of the layout table as a child of `parent`, with the control id
// kFirstControlId + its place in the table; placed and sized later, at the screen's DPI.
void CreateControls(HWND parent, HINSTANCE instance);

// Arial at the control's size and weight for a screen of `dpi`; the caller deletes it.
HFONT CreateArial(const Control& c, int dpi);

// A tooltip tool on `control`, shown over it and owned by `owner`.
TOOLINFOW Tool(HWND owner, HWND control, const wchar_t* text);

// Whether COM<n>'s device is there now, found without opening it.
bool PortPresent(int portNo);

// The control's text in UTF-8, and its width in pixels in `font`.
std::string TextOf(HWND control);
int TextWidth(HWND control, HFONT font);
