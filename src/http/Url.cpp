#include "http/Url.h"

#include <algorithm>
#include <string_view>

#include "common/Json.h"

namespace quorvin {
namespace {

constexpr long kHttpPort = 80;
constexpr long kHttpsPort = 443;
constexpr long kFtpPort = 21;

// Cuts part to the longest text ParseUrl hands out; true when it had to.
bool Cut(std::string& part) {
    if (part.size() <= kUrlPartMax) return false;
    part.resize(kUrlPartMax);
    return true;
}

}  // namespace

bool ParseUrl(const std::string& url, std::string& scheme, std::string& user, std::string& password, std::string& host,
              long& port, std::string& path) {
    scheme.clear();
    user.clear();
    password.clear();
    host.clear();
    path.clear();
    port = 0;
    const std::size_t length = url.size();
    auto find = [&](char ch, std::size_t from) {
        const std::size_t at = url.find(ch, from);
        return at == std::string::npos ? length : at;
    };

    std::size_t start = 0;
    const std::size_t colon = find(':', 0);
    if (colon + 1 < length && url[colon + 1] == '/') {
        scheme = url.substr(0, colon);
        start = std::min(colon + 3, length);
    } else {
        scheme = "http";
    }

    // An at sign past the authority belongs to the path or the query; taking
    // it for the end of user information would hand the host to whoever
    // wrote the path.
    const std::size_t authorityEnd = std::min(url.find_first_of("/?#", start), length);
    const std::size_t at = find('@', start);
    if (at < authorityEnd) {
        const std::size_t userColon = find(':', start);
        if (userColon < at) {
            user = url.substr(start, userColon - start);
            password = url.substr(userColon + 1, at - userColon - 1);
        }
        start = at + 1;
    }

    const std::size_t slash = find('/', start);
    const std::size_t portColon = find(':', start);
    if (portColon < slash) {
        port = AtoI(std::string_view(url).substr(portColon + 1));
        host = url.substr(start, portColon - start);
    } else {
        host = url.substr(start, slash - start);
        port = scheme == "https" ? kHttpsPort : scheme == "ftp" ? kFtpPort : kHttpPort;
    }
    path = slash < length ? url.substr(slash) : "/";

    bool cut = false;
    for (std::string* part : {&scheme, &user, &password, &host, &path}) cut = Cut(*part) || cut;
    return !cut;
}

}  // namespace quorvin
