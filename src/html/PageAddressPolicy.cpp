#include "html/PageAddressPolicy.h"

#include <cstring>

namespace quorvin {

std::string OriginOf(const std::string& uri) {
    if (uri.rfind("file:", 0) == 0) return "file://";
    const std::size_t scheme = uri.find("://");
    if (scheme == std::string::npos) return {};
    const std::size_t end = uri.find_first_of("/?#", scheme + 3);
    return uri.substr(0, end);
}

std::string WithoutQuery(const std::string& uri) { return uri.substr(0, uri.find_first_of("?#")); }

void PageAddressPolicy::Clear() {
    m_prefixes.clear();
    m_origins.clear();
}

void PageAddressPolicy::Allow(const std::string& uri) {
    m_prefixes.push_back(WithoutQuery(uri));
    const std::string origin = OriginOf(uri);
    if (!origin.empty()) m_origins.push_back(origin);
    // WebKit sends "null" as the Origin of a local page: for local pages the
    // view's token (known only to the top documents it loaded) and the
    // navigation allow-list are what keep other documents out.
    if (origin == "file://") m_origins.push_back("null");
}

bool PageAddressPolicy::AddressAllowed(const std::string& uri) const {
    if (uri == "about:blank" || uri == "about:srcdoc") return true;
    const std::string bare = WithoutQuery(uri);
    for (const std::string& prefix : m_prefixes) {
        if (prefix.empty()) continue;
        if (bare == prefix) return true;
        // A folder prefix (the pages' root) admits every page below it.
        if (prefix.back() == '/' && bare.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

bool PageAddressPolicy::CallerAllowed(const char* method, const char* origin) const {
    if (method == nullptr || std::strcmp(method, "POST") != 0 || origin == nullptr) return false;
    for (const std::string& allowed : m_origins) {
        if (allowed == origin) return true;
    }
    return false;
}

}  // namespace quorvin
