// JSON helpers over cJSON: parsing that keeps the message rules, lenient
// member reading, and the one escaper every text template uses.
#pragma once

#include <memory>
#include <string>
#include <string_view>

struct cJSON;

namespace quorvin {

struct JsonDeleter {
    void operator()(cJSON* item) const;
};
using JsonPtr = std::unique_ptr<cJSON, JsonDeleter>;

// Parses the first complete JSON value of text; whatever follows it is
// ignored. Null when there is no valid value at the start (a UTF-8
// byte-order mark included). end, when given, gets the offset just past the
// value.
JsonPtr ParseJson(std::string_view text, std::size_t* end = nullptr);

// The text of a value ParseJson took (up to its end), in the strict form any
// JSON reader takes, changed only where the parser was lenient: bytes that
// are not UTF-8 become U+FFFD, control characters in strings are escaped,
// other control characters between tokens become blanks, and numbers lose
// leading zeros and gain a digit after a bare decimal point ("01." is
// "1.0"). Strict JSON comes back unchanged.
std::string StrictJsonText(std::string_view value);

// The member of an object whose name matches without regard to ASCII case
// (the first one wins); null when obj is not an object or has no such member.
const cJSON* GetJsonMember(const cJSON* obj, const char* name);

// The member's string value; empty when obj or the member is absent or the
// value is not a JSON string.
std::string GetJsonString(const cJSON* obj, const char* name);

// C atoi rules (leading white space, a sign, then digits; 0 when there are
// none), saturated to the int range instead of overflowing.
int AtoI(std::string_view text);

// Text for inside the quotes of a JSON string: quote, backslash and control
// characters escaped, every other byte kept. Escape UTF-8 text (after any
// code page conversion): in a double-byte code page a trail byte may look
// like a backslash.
std::string JsonEscape(std::string_view text);

// cJSON's printing of a tree (formatted: tabs and new lines); empty for null.
std::string PrintJson(const cJSON* item, bool formatted);

}  // namespace quorvin
