// ParseUrl over arbitrary bytes. Parts stay within their bound and say so
// when cut; the path is "/" or starts with one; and text added after a "/"
// at the end lies in the path, so an at sign there never changes who the
// URL names (user, password, host, port).
#include <cstdint>
#include <string>

#include "http/Url.h"

using quorvin::kUrlPartMax;
using quorvin::ParseUrl;

namespace {

struct Parts {
    std::string scheme, user, password, host, path;
    long port = 0;
    bool whole = false;
};

Parts Parse(const std::string& url) {
    Parts p;
    p.whole = ParseUrl(url, p.scheme, p.user, p.password, p.host, p.port, p.path);
    return p;
}

// The authority of url is complete: text added at its end cannot reach
// back into the scheme ("http:" + "/" would make one) or its "//".
bool AuthorityComplete(const std::string& url) {
    const std::size_t colon = url.find(':');
    if (colon == std::string::npos) return true;
    if (colon + 1 == url.size()) return false;
    if (url[colon + 1] != '/') return true;
    return colon + 3 <= url.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    const Parts p = Parse(url);
    for (const std::string* part : {&p.scheme, &p.user, &p.password, &p.host, &p.path})
        if (part->size() > kUrlPartMax) __builtin_trap();
    if (p.path.empty() || p.path[0] != '/') __builtin_trap();
    if (p.host.find('/') != std::string::npos) __builtin_trap();
    if (!p.whole || !AuthorityComplete(url)) return 0;

    const Parts q = Parse(url + "/@evil.example:1/");
    if (q.scheme != p.scheme || q.user != p.user || q.password != p.password || q.host != p.host || q.port != p.port)
        __builtin_trap();
    return 0;
}
