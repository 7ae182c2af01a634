#pragma once

#include <string>
#include <string_view>

// The core speaks UTF-8, the W functions of Windows UTF-16.
std::wstring Wide(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// The system's own text for an error code (GetLastError, WSAGetLastError), as the operator would
// see it in a Windows dialog: "Access is denied (error 5)".
std::string SystemText(unsigned long error);
