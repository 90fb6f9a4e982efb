#include "common/Json.h"

#include <cjson/cJSON.h>

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace quorvin {

void JsonDeleter::operator()(cJSON* item) const { cJSON_Delete(item); }

JsonPtr ParseJson(std::string_view text) {
    if (text.empty()) return nullptr;
    // cJSON would skip a UTF-8 byte-order mark; the agent's texts never carry
    // one, and a file that starts with one is not taken as JSON.
    if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") return nullptr;
    return JsonPtr(cJSON_ParseWithLengthOpts(text.data(), text.size(), nullptr, 0));
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
