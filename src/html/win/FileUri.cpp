#include "html/win/FileUri.h"

// clang-format off
#include <windows.h>
#include <shlwapi.h>
// clang-format on

#include <cwctype>

namespace quorvin::win {
namespace {

constexpr DWORD kMax = 4096;

bool HasScheme(const std::wstring& address) {
    const std::size_t colon = address.find(L':');
    // "C:\..." is a drive, not a scheme.
    return colon != std::wstring::npos && colon > 1 && address.find_first_of(L"/\\?#") > colon;
}

std::wstring PathToUri(const std::wstring& path) {
    wchar_t full[kMax];
    const DWORD n = GetFullPathNameW(path.c_str(), kMax, full, nullptr);
    if (n == 0 || n >= kMax) return {};
    wchar_t uri[kMax * 3];
    DWORD size = kMax * 3;
    if (FAILED(UrlCreateFromPathW(full, uri, &size, 0))) return {};
    return uri;
}

}  // namespace

std::wstring ToBrowserUri(const std::wstring& address) {
    if (HasScheme(address)) return address;
    const std::size_t q = address.find_first_of(L"?#");
    const std::wstring path = address.substr(0, q);
    if (path.empty()) return L"about:blank";
    std::wstring uri = PathToUri(path);
    if (uri.empty()) return L"about:blank";
    if (q != std::wstring::npos) uri += address.substr(q);
    return uri;
}

std::wstring CanonicalUri(const std::wstring& uri) {
    if (uri.size() < 5 || _wcsnicmp(uri.c_str(), L"file:", 5) != 0) return uri;
    const std::size_t q = uri.find_first_of(L"?#");
    const std::wstring bare = uri.substr(0, q);
    wchar_t path[kMax];
    DWORD size = kMax;
    if (FAILED(PathCreateFromUrlW(bare.c_str(), path, &size, 0))) return {};
    const bool folder = bare.back() == L'/' || bare.back() == L'\\';
    std::wstring out = PathToUri(path);
    if (out.empty()) return {};
    if (folder && out.back() != L'/') out += L'/';
    for (wchar_t& ch : out) ch = static_cast<wchar_t>(std::towlower(ch));
    if (q != std::wstring::npos) out += uri.substr(q);
    return out;
}

}  // namespace quorvin::win
