// The code page converters over glibc's iconv.
#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <memory>

#include "common/CodePage.h"
#include "common/CodePageChoice.h"
#include "common/Utf8.h"

namespace quorvin {
namespace {

bool IsUtf8Name(const std::string& name) { return NormalisedCodePageName(name) == "UTF8"; }

std::string LocaleCodeset() {
    const char* cs = nl_langinfo(CODESET);
    std::string name = cs ? cs : "";
    // The C/POSIX locale reports plain ASCII; treat it as UTF-8.
    if (name.empty() || name == "ANSI_X3.4-1968" || name == "ASCII" || name == "646") return "UTF-8";
    return name;
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};
using IconvPtr = std::unique_ptr<void, IconvCloser>;

IconvPtr OpenIconv(const std::string& to, const std::string& from) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
    return IconvPtr(cd);
}

// Runs iconv over src. On a byte it cannot take, badLength(pos) tells how many
// source bytes to skip for the one "?" written in their place.
template <typename BadLength>
std::string Convert(const std::string& to, const std::string& from, std::string_view src, BadLength badLength) {
    IconvPtr cd = OpenIconv(to, from);
    if (!cd) return std::string(src.size(), '?');
    std::string out;
    out.resize(src.size() * 2 + 16);
    std::size_t written = 0;
    std::size_t pos = 0;
    while (pos < src.size()) {
        char* in = const_cast<char*>(src.data() + pos);
        std::size_t inLeft = src.size() - pos;
        char* outPtr = out.data() + written;
        std::size_t outLeft = out.size() - written;
        const std::size_t rc = iconv(static_cast<iconv_t>(cd.get()), &in, &inLeft, &outPtr, &outLeft);
        const int err = errno;
        written = out.size() - outLeft;
        pos = src.size() - inLeft;
        if (rc != static_cast<std::size_t>(-1)) break;
        if (err == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ (undecodable or unrepresentable) or EINVAL (cut short at the end).
        if (out.size() - written < 1) out.resize(out.size() * 2);
        out[written++] = '?';
        pos += badLength(pos);
        iconv(static_cast<iconv_t>(cd.get()), nullptr, nullptr, nullptr, nullptr);
    }
    out.resize(written);
    return out;
}

}  // namespace

std::string GetLocalCodePage() {
    std::string chosen = CodePageOverride();
    if (!chosen.empty()) return chosen;
    return LocaleCodeset();
}

std::string LocalToUtf8(std::string_view text) {
    text = UpToZero(text);
    if (text.empty()) return {};
    const std::string local = GetLocalCodePage();
    if (IsUtf8Name(local)) return SanitizeUtf8(text);
    return Convert("UTF-8", local, text, [](std::size_t) { return std::size_t{1}; });
}

std::string Utf8ToLocal(std::string_view text) {
    text = UpToZero(text);
    if (text.empty()) return {};
    const std::string local = GetLocalCodePage();
    if (IsUtf8Name(local)) return SanitizeUtf8(text);
    // A well-formed character the local code page lacks is skipped whole;
    // a malformed byte is skipped alone.
    return Convert(local, "UTF-8", text, [text](std::size_t pos) {
        const std::size_t len = Utf8SequenceLength(text, pos);
        return len == 0 ? std::size_t{1} : len;
    });
}

std::string Utf16LeToLocal(std::string_view bytes) {
    std::size_t units = bytes.size() / 2;
    for (std::size_t i = 0; i < units; ++i) {
        if (bytes[2 * i] == 0 && bytes[2 * i + 1] == 0) {
            units = i;
            break;
        }
    }
    const std::string_view src = bytes.substr(0, units * 2);
    if (src.empty()) return {};
    return Convert(GetLocalCodePage(), "UTF-16LE", src, [src](std::size_t pos) {
        // A surrogate pair stands for one character: skip both units.
        if (pos + 3 < src.size()) {
            const unsigned hi = static_cast<unsigned char>(src[pos + 1]);
            const unsigned hi2 = static_cast<unsigned char>(src[pos + 3]);
            if (hi >= 0xD8 && hi <= 0xDB && hi2 >= 0xDC && hi2 <= 0xDF) return std::size_t{4};
        }
        return std::min<std::size_t>(2, src.size() - pos);
    });
}

}  // namespace quorvin
