#include "common/CodePageChoice.h"

#include <cctype>
#include <mutex>

#include "common/CodePage.h"

namespace quorvin {
namespace {

std::mutex g_mutex;
std::string g_override;

}  // namespace

void SetLocalCodePage(const std::string& name) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_override = name;
}

std::string CodePageOverride() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_override;
}

std::string NormalisedCodePageName(const std::string& name) {
    std::string n;
    for (char c : name) {
        if (c != '-' && c != '_') n.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    }
    return n;
}

std::string_view UpToZero(std::string_view text) {
    const std::size_t z = text.find('\0');
    return z == std::string_view::npos ? text : text.substr(0, z);
}

}  // namespace quorvin
