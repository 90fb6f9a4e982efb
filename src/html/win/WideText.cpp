#include "html/win/WideText.h"

#include <climits>

#include "common/CodePage.h"

namespace quorvin::win {

std::wstring Utf8ToWide(std::string_view utf8) {
    if (utf8.empty() || utf8.size() > INT_MAX) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
    return wide;
}

std::string WideToUtf8(std::wstring_view wide) {
    // Lone surrogates are mended first: not every system's converter
    // replaces them rather than dropping the whole text.
    std::wstring clean(wide);
    for (std::size_t i = 0; i < clean.size(); ++i) {
        const wchar_t ch = clean[i];
        if (ch >= 0xD800 && ch <= 0xDBFF && i + 1 < clean.size() && clean[i + 1] >= 0xDC00 && clean[i + 1] <= 0xDFFF) {
            ++i;
        } else if (ch >= 0xD800 && ch <= 0xDFFF) {
            clean[i] = 0xFFFD;
        }
    }
    if (clean.empty() || clean.size() > INT_MAX / 4) return {};
    const int size = static_cast<int>(clean.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, clean.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, clean.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

std::wstring LocalToWide(std::string_view local) { return Utf8ToWide(LocalToUtf8(local)); }

std::string WideToLocal(std::wstring_view wide) { return Utf8ToLocal(WideToUtf8(wide)); }

Bstr MakeBstr(std::wstring_view wide) {
    if (wide.size() > UINT_MAX / 4) return nullptr;
    return Bstr(SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
}

std::wstring_view BstrText(const wchar_t* bstr) {
    if (bstr == nullptr) return {};
    return {bstr, SysStringLen(const_cast<wchar_t*>(bstr))};
}

}  // namespace quorvin::win
