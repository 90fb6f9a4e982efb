// Strict UTF-8 decoding helpers (no overlong forms, no surrogates, nothing
// above U+10FFFF), shared by the code page converters.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quorvin {

// Length of the well-formed UTF-8 sequence starting at text[pos], or 0 when
// the byte there does not start one.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t pos);

// Copies well-formed sequences and puts one replacement for every byte that
// is not part of one.
std::string SanitizeUtf8(std::string_view text, std::string_view replacement = "?");

// U+FFFD REPLACEMENT CHARACTER in UTF-8.
inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

}  // namespace quorvin
