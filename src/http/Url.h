// The URL reader of the HTTP client, in a file of its own: plain text
// work with no transfer behind it.
#pragma once

#include <cstddef>
#include <string>

namespace quorvin {

// The longest URL part ParseUrl hands out.
inline constexpr std::size_t kUrlPartMax = 1023;

// Splits a URL into its parts. No scheme means "http". User information
// ("user:password@") is read only from the authority, the text before the
// first "/", "?" or "#" after the scheme's "//": an at sign in the path or
// the query leaves the host alone. The port follows the atol rules (443 for
// "https", 21 for "ftp", else 80 when absent); the path keeps the query and
// is "/" when absent. Each part holds at most kUrlPartMax bytes; false when
// one had to be cut.
bool ParseUrl(const std::string& url, std::string& scheme, std::string& user, std::string& password, std::string& host,
              long& port, std::string& path);

}  // namespace quorvin
