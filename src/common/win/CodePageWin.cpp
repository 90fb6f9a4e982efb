// The code page converters over MultiByteToWideChar and WideCharToMultiByte.
// The local code page is the system's ANSI code page (GetACP), as for every
// narrow Win32 call. Text is converted one character at a time, so a byte
// that cannot be decoded or a character the target lacks costs exactly one
// "?" and never the character after it.
#include <windows.h>

#include <cctype>
#include <string>

#include "common/CodePage.h"
#include "common/CodePageChoice.h"
#include "common/Utf8.h"

namespace quorvin {
namespace {

// A code page name as iconv spells it ("GBK", "UTF-8", "CP1252") or a
// number; 0 when the system has no such code page.
UINT CodePageNumber(const std::string& name) {
    struct Named {
        const char* name;
        UINT number;
    };
    static constexpr Named kNames[] = {{"UTF8", CP_UTF8}, {"GBK", 936},  {"GB2312", 936}, {"BIG5", 950},
                                       {"SHIFTJIS", 932}, {"SJIS", 932}, {"UHC", 949},    {"ASCII", 20127}};
    const std::string n = NormalisedCodePageName(name);
    for (const Named& entry : kNames) {
        if (n == entry.name) return entry.number;
    }
    const std::string digits = n.rfind("CP", 0) == 0 ? n.substr(2) : n;
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    const UINT number = static_cast<UINT>(std::stoul(digits));
    return IsValidCodePage(number) ? number : 0;
}

std::string CodePageName(UINT number) {
    if (number == CP_UTF8) return "UTF-8";
    if (number == 936) return "GBK";
    return "CP" + std::to_string(number);
}

UINT LocalCodePage() {
    const std::string chosen = CodePageOverride();
    return chosen.empty() ? GetACP() : CodePageNumber(chosen);
}

// One character of code page cp to UTF-16; false when the bytes are not one.
bool Decode(UINT cp, std::string_view bytes, std::wstring& out) {
    wchar_t units[4];
    const int n = MultiByteToWideChar(cp, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), units, 4);
    if (n <= 0) return false;
    out.assign(units, static_cast<std::size_t>(n));
    return true;
}

// One character (one or two UTF-16 units) appended in code page cp; false
// when the code page has no form for it (a best-fit look-alike is no form).
bool Encode(UINT cp, const std::wstring& units, std::string& out) {
    char bytes[8];
    BOOL usedDefault = FALSE;
    const bool utf8 = cp == CP_UTF8;
    const int n = WideCharToMultiByte(cp, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, units.data(), static_cast<int>(units.size()),
                                      bytes, sizeof bytes, nullptr, utf8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out.append(bytes, static_cast<std::size_t>(n));
    return true;
}

}  // namespace

std::string GetLocalCodePage() {
    std::string chosen = CodePageOverride();
    if (!chosen.empty()) return chosen;
    return CodePageName(GetACP());
}

std::string LocalToUtf8(std::string_view text) {
    text = UpToZero(text);
    if (text.empty()) return {};
    const UINT cp = LocalCodePage();
    if (cp == CP_UTF8) return SanitizeUtf8(text);
    if (cp == 0) return std::string(text.size(), '?');
    std::string out;
    out.reserve(text.size() * 3 / 2);
    std::wstring units;
    for (std::size_t pos = 0; pos < text.size();) {
        const auto byte = static_cast<unsigned char>(text[pos]);
        if (byte < 0x80) {
            out.push_back(static_cast<char>(byte));
            ++pos;
            continue;
        }
        const std::size_t len = IsDBCSLeadByteEx(cp, byte) ? 2 : 1;
        if (pos + len <= text.size() && Decode(cp, text.substr(pos, len), units) && Encode(CP_UTF8, units, out)) {
            pos += len;
        } else {
            out.push_back('?');
            ++pos;
        }
    }
    return out;
}

std::string Utf8ToLocal(std::string_view text) {
    text = UpToZero(text);
    if (text.empty()) return {};
    const UINT cp = LocalCodePage();
    if (cp == CP_UTF8) return SanitizeUtf8(text);
    std::string out;
    out.reserve(text.size());
    std::wstring units;
    for (std::size_t pos = 0; pos < text.size();) {
        // A well-formed character the local code page lacks is one "?";
        // a malformed byte is one "?" too.
        const std::size_t len = Utf8SequenceLength(text, pos);
        if (len == 1) {
            out.push_back(text[pos]);
        } else if (len == 0 || cp == 0 || !Decode(CP_UTF8, text.substr(pos, len), units) || !Encode(cp, units, out)) {
            out.push_back('?');
        }
        pos += len == 0 ? 1 : len;
    }
    return out;
}

std::string Utf16LeToLocal(std::string_view bytes) {
    const auto unitAt = [&](std::size_t i) {
        return static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                    static_cast<unsigned char>(bytes[2 * i + 1]) << 8);
    };
    std::size_t count = bytes.size() / 2;
    for (std::size_t i = 0; i < count; ++i) {
        if (unitAt(i) == 0) {
            count = i;
            break;
        }
    }
    const UINT cp = LocalCodePage();
    std::string out;
    std::wstring units;
    for (std::size_t i = 0; i < count;) {
        const wchar_t unit = unitAt(i);
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        const bool pair = high && i + 1 < count && unitAt(i + 1) >= 0xDC00 && unitAt(i + 1) <= 0xDFFF;
        // A surrogate pair stands for one character; a lone surrogate is none.
        units.assign(1, unit);
        if (pair) units.push_back(unitAt(i + 1));
        if (unit < 0x80) {
            out.push_back(static_cast<char>(unit));
        } else if ((high && !pair) || low || cp == 0 || !Encode(cp, units, out)) {
            out.push_back('?');
        }
        i += pair ? 2 : 1;
    }
    return out;
}

}  // namespace quorvin
