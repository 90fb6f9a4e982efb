// Conversions between the local code page and UTF-8 / UTF-16LE.
//
// The local code page is the process locale's codeset (UTF-8 on most Linux
// systems, GBK under a zh_CN.GBK locale); the C/POSIX locale counts as UTF-8.
// Every converter stops at the first zero byte of its input, puts one "?" for
// each byte that cannot be decoded (the byte after it is never swallowed) and
// one "?" for each character the target cannot represent.
#pragma once

#include <string>
#include <string_view>

namespace quorvin {

// Overrides the local code page (an iconv name such as "GBK"); an empty name
// goes back to the locale's codeset.
void SetLocalCodePage(const std::string& name);
std::string GetLocalCodePage();

std::string LocalToUtf8(std::string_view text);
std::string Utf8ToLocal(std::string_view text);
// UTF-16LE bytes (no byte-order mark) up to the first zero unit.
std::string Utf16LeToLocal(std::string_view bytes);

}  // namespace quorvin
