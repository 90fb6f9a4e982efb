#include "common/Json.h"

#include <cjson/cJSON.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

#include "common/Utf8.h"

namespace quorvin {

void JsonDeleter::operator()(cJSON* item) const { cJSON_Delete(item); }

JsonPtr ParseJson(std::string_view text, std::size_t* end) {
    if (text.empty()) return nullptr;
    // cJSON would skip a UTF-8 byte-order mark; the agent's texts never carry
    // one, and a file that starts with one is not taken as JSON.
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") return nullptr;
    const char* stop = nullptr;
    JsonPtr doc(cJSON_ParseWithLengthOpts(text.data(), text.size(), &stop, 0));
    if (doc && end != nullptr) *end = static_cast<std::size_t>(stop - text.data());
    return doc;
}

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One number as cJSON took it (strtod's forms over [0-9+-.eE]), in strict form.
std::size_t StrictNumber(std::string_view text, std::size_t at, std::string& out) {
    const auto digitsFrom = [&](std::size_t from) {
        while (from < text.size() && IsDigit(text[from])) ++from;
        return from;
    };
    if (text[at] == '-') out.push_back(text[at++]);
    const std::size_t intEnd = digitsFrom(at);
    const std::string_view whole = text.substr(at, intEnd - at);
    const std::size_t first = whole.find_first_not_of('0');
    if (first == std::string_view::npos) {
        out.push_back('0');  // "00" or no digits at all (".5")
    } else {
        out.append(whole.substr(first));
    }
    at = intEnd;
    if (at < text.size() && text[at] == '.') {
        out.push_back(text[at++]);
        const std::size_t end = digitsFrom(at);
        if (end == at) out.push_back('0');
        out.append(text.substr(at, end - at));
        at = end;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        out.push_back(text[at++]);
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) out.push_back(text[at++]);
        const std::size_t end = digitsFrom(at);
        if (end == at) out.push_back('0');
        out.append(text.substr(at, end - at));
        at = end;
    }
    return at;
}

bool IsHex(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// One string from its opening quote; returns the offset past its closing
// one. cJSON finds the end taking every backslash with the byte after it,
// then reads the bytes before it, where "\u" and four bytes that are not
// all hex digits stand for U+0000, and the bytes after them are read
// afresh (so a quote among them is a quote of the value).
std::size_t StrictString(std::string_view text, std::size_t at, std::string& out) {
    std::size_t end = at + 1;
    while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
    end = end < text.size() ? end : text.size();
    out.push_back('"');
    for (std::size_t i = at + 1; i < end;) {
        const char c = text[i];
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' && i + 1 < end && text[i + 1] == 'u') {
            const std::string_view hex = text.substr(i + 2, std::min<std::size_t>(4, end - i - 2));
            if (hex.size() == 4 && std::all_of(hex.begin(), hex.end(), IsHex)) {
                out.append(text.substr(i, 6));
            } else {
                out += "\\u0000";
            }
            i += std::min<std::size_t>(6, end - i);
        } else if (c == '\\' && i + 1 < end &&
                   std::string_view("\"\\/bfnrt").find(text[i + 1]) != std::string_view::npos) {
            out.append(text.substr(i, 2));
            i += 2;
        } else if (c == '\\' || c == '"') {
            out.push_back('\\');  // a stray backslash, or a quote freed by a short "\u"
            out.push_back(c);
            ++i;
        } else if (u < 0x20) {
            out += JsonEscape(text.substr(i, 1));
            ++i;
        } else {
            const std::size_t len = Utf8SequenceLength(text.substr(0, end), i);
            if (len == 0) {
                out.append(kReplacementCharacter);
                ++i;
            } else {
                out.append(text.substr(i, len));
                i += len;
            }
        }
    }
    out.push_back('"');  // missing only in text the parser refused; closed all the same
    return end + 1;
}

}  // namespace

std::string StrictJsonText(std::string_view value) {
    std::string out;
    out.reserve(value.size() + 16);
    std::size_t at = 0;
    while (at < value.size()) {
        const char c = value[at];
        const auto u = static_cast<unsigned char>(c);
        if (c == '"') {
            at = StrictString(value, at, out);
        } else if (c == '-' || IsDigit(c)) {
            at = StrictNumber(value, at, out);
        } else if (u <= 0x20 && c != ' ' && c != '\t' && c != '\n' && c != '\r') {
            out.push_back(' ');  // the parser's blanks are every byte up to 0x20
            ++at;
        } else if (u >= 0x80) {
            out.append(kReplacementCharacter);  // never outside strings from the parser
            ++at;
        } else {
            out.push_back(c);
            ++at;
        }
    }
    return out;
}

const cJSON* GetJsonMember(const cJSON* obj, const char* name) {
    if (obj == nullptr || !cJSON_IsObject(obj)) return nullptr;
    // cJSON's lookup ignores ASCII letter case and returns the first match.
    return cJSON_GetObjectItem(obj, name);
}

std::string GetJsonString(const cJSON* obj, const char* name) {
    const cJSON* item = GetJsonMember(obj, name);
    if (item == nullptr || !cJSON_IsString(item) || item->valuestring == nullptr) return {};
    return item->valuestring;
}

int AtoI(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::string JsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\b': out += "\\b"; break;
            case '\f': out += "\\f"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (u < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", u);
                    out += buf;
                } else {
                    out.push_back(c);
                }
        }
    }
    return out;
}

std::string PrintJson(const cJSON* item, bool formatted) {
    if (item == nullptr) return {};
    char* printed = formatted ? cJSON_Print(item) : cJSON_PrintUnformatted(item);
    if (printed == nullptr) return {};
    std::string out(printed);
    cJSON_free(printed);
    return out;
}

}  // namespace quorvin
