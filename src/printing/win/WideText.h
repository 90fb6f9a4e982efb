// UTF-8 and ANSI text <-> UTF-16 at the Win32 boundary of the printing
// subsystem (winspool, GDI and the shell take wide text).
#pragma once

#include <windows.h>

#include <string>

namespace quorvin::wintext {

inline std::wstring Widen(const std::string& text, UINT codePage = CP_UTF8) {
    if (text.empty()) return {};
    const int n = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
    return wide;
}

inline std::string Narrow(const wchar_t* text, UINT codePage = CP_UTF8) {
    if (text == nullptr || *text == L'\0') return {};
    const int n = WideCharToMultiByte(codePage, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string narrow(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text, -1, narrow.data(), n, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(n) - 1);
    return narrow;
}

}  // namespace quorvin::wintext
