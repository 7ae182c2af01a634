#pragma once

// What a tool outside the program finds the window by (tests/win32/driver.cpp does): the main
// window's class, and the control id of each control, kFirstControlId + its place in the layout
// table.
inline constexpr const wchar_t* kMainClassName = L"VekSampleMain";
inline constexpr int kFirstControlId = 1000;
