// The small text rules of HTTP header lines that both transfer layers
// need: header names and host names compare without regard to ASCII case,
// and a value's surrounding blanks and line end are not part of it.
#pragma once

#include <string>
#include <string_view>

namespace quorvin::http {

// text with A-Z lowered; other bytes (UTF-8 included) as they are.
std::string AsciiLower(std::string_view text);
// True when text starts with prefix, which is lower case, in any ASCII case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// text without leading spaces and tabs and without trailing spaces, tabs, CR and LF.
std::string_view TrimHeaderValue(std::string_view text);

}  // namespace quorvin::http
