#include "win32_text.h"

#include <windows.h>

std::wstring Wide(std::string_view utf8)
{
    const int size = static_cast<int>(utf8.size());
    std::wstring text(MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), static_cast<int>(text.size()));
    return text;
}

std::string Narrow(std::wstring_view utf16)
{
    const int size = static_cast<int>(utf16.size());
    std::string text(
        WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr), '\0');
    WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, text.data(), static_cast<int>(text.size()),
                        nullptr, nullptr);
    return text;
}
