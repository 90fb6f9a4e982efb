// Text between the agent's narrow strings and the UTF-16 of COM (BSTR,
// VARIANT): UTF-8 or the local code page on one side, wide on the other.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

namespace quorvin::win {

std::wstring Utf8ToWide(std::string_view utf8);
// Unpaired surrogates become U+FFFD.
std::string WideToUtf8(std::wstring_view wide);
std::wstring LocalToWide(std::string_view local);
std::string WideToLocal(std::wstring_view wide);

struct BstrFree {
    void operator()(wchar_t* s) const { SysFreeString(s); }
};
// An owned BSTR (null is the empty string, as COM treats it).
using Bstr = std::unique_ptr<wchar_t, BstrFree>;

Bstr MakeBstr(std::wstring_view wide);
// The text of a BSTR, embedded zeros included.
std::wstring_view BstrText(const wchar_t* bstr);

}  // namespace quorvin::win
