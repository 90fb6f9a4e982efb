// The cookies of one transfer session, kept by host. WinINet's own jar is
// shared by the whole process (and keeps lasting cookies on disk), so the
// session keeps its own and WinINet is told to leave cookies alone.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quorvin::http {

class CookieJar {
public:
    // Sets (or replaces) a cookie for host.
    void Put(const std::string& host, const std::string& name, const std::string& value);
    // Takes a response's Set-Cookie value ("name=value; Path=/; ..."): a
    // Max-Age of 0 or less removes the cookie, a line without "=" is ignored.
    void Take(const std::string& host, const std::string& setCookie);
    // "a=1; b=2" for a Cookie header; empty when host has none.
    std::string HeaderFor(const std::string& host) const;

private:
    struct Cookie {
        std::string host;  // lower case
        std::string name;
        std::string value;
    };
    mutable std::mutex m_mutex;
    std::vector<Cookie> m_cookies;
};

}  // namespace quorvin::http
