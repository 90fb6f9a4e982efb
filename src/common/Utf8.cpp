#include "common/Utf8.h"

namespace quorvin {

std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos) {
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const std::size_t left = text.size() - pos;
    const unsigned char b0 = at(pos);
    if (b0 < 0x80) return 1;
    std::size_t len;
    unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        if (b0 == 0xE0)
            lo = 0xA0;  // overlong
        else if (b0 == 0xED)
            hi = 0x9F;  // surrogates
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        if (b0 == 0xF0)
            lo = 0x90;  // overlong
        else if (b0 == 0xF4)
            hi = 0x8F;  // above U+10FFFF
    } else {
        return 0;
    }
    if (left < len) return 0;
    if (at(pos + 1) < lo || at(pos + 1) > hi) return 0;
    for (std::size_t i = 2; i < len; ++i) {
        if ((at(pos + i) & 0xC0) != 0x80) return 0;
    }
    return len;
}

std::string SanitizeUtf8(std::string_view text, std::string_view replacement) {
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t len = Utf8SequenceLength(text, pos);
        if (len == 0) {
            out.append(replacement);
            ++pos;
        } else {
            out.append(text.substr(pos, len));
            pos += len;
        }
    }
    return out;
}

}  // namespace quorvin
