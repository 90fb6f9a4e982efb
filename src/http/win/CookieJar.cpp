#include "http/win/CookieJar.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

#include "http/HeaderText.h"

namespace quorvin::http {
namespace {

// True when the attributes after the first ";" say the cookie is gone.
bool Expired(std::string_view attributes) {
    while (!attributes.empty()) {
        const std::size_t end = attributes.find(';');
        const std::string_view item = TrimHeaderValue(attributes.substr(0, end));
        attributes = end == std::string_view::npos ? std::string_view{} : attributes.substr(end + 1);
        const std::size_t eq = item.find('=');
        if (eq == std::string_view::npos || AsciiLower(TrimHeaderValue(item.substr(0, eq))) != "max-age") continue;
        const std::string number(TrimHeaderValue(item.substr(eq + 1)));
        return number.empty() || std::strtol(number.c_str(), nullptr, 10) <= 0;
    }
    return false;
}

}  // namespace

void CookieJar::Put(const std::string& host, const std::string& name, const std::string& value) {
    const std::string key = AsciiLower(host);
    std::lock_guard<std::mutex> lock(m_mutex);
    for (Cookie& cookie : m_cookies) {
        if (cookie.host == key && cookie.name == name) {
            cookie.value = value;
            return;
        }
    }
    m_cookies.push_back({key, name, value});
}

void CookieJar::Take(const std::string& host, const std::string& setCookie) {
    const std::string_view line(setCookie);
    const std::size_t semi = line.find(';');
    const std::string_view pair = line.substr(0, semi);
    const std::size_t eq = pair.find('=');
    if (eq == std::string_view::npos) return;
    const std::string name(TrimHeaderValue(pair.substr(0, eq)));
    if (name.empty()) return;
    if (semi != std::string_view::npos && Expired(line.substr(semi + 1))) {
        const std::string key = AsciiLower(host);
        std::lock_guard<std::mutex> lock(m_mutex);
        std::erase_if(m_cookies, [&](const Cookie& c) { return c.host == key && c.name == name; });
        return;
    }
    Put(host, name, std::string(TrimHeaderValue(pair.substr(eq + 1))));
}

std::string CookieJar::HeaderFor(const std::string& host) const {
    const std::string key = AsciiLower(host);
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string header;
    for (const Cookie& cookie : m_cookies) {
        if (cookie.host != key) continue;
        if (!header.empty()) header += "; ";
        header += cookie.name + "=" + cookie.value;
    }
    return header;
}

}  // namespace quorvin::http
