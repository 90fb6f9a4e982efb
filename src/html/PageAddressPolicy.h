// PageAddressPolicy: which addresses a page window may show and which
// documents may call the agent. A window allows its page, the pages' root
// folder and the addresses it is told to navigate to; everything else is
// refused, so a foreign document never gets to call the agent.
#pragma once

#include <string>
#include <vector>

namespace quorvin {

// The origin of an address as a browser sends it: "scheme://host[:port]",
// "file://" for any file address, empty when there is none.
std::string OriginOf(const std::string& uri);
// The address without its query or fragment.
std::string WithoutQuery(const std::string& uri);

class PageAddressPolicy {
public:
    void Clear();
    // Allows uri (its query left off); a uri ending in "/" allows every
    // address below it. Its origin may then call.
    void Allow(const std::string& uri);
    // May the view show uri? about:blank and about:srcdoc always may.
    bool AddressAllowed(const std::string& uri) const;
    // May a request with this method and Origin header (null: none) call?
    bool CallerAllowed(const char* method, const char* origin) const;

private:
    std::vector<std::string> m_prefixes;  // addresses a document may come from
    std::vector<std::string> m_origins;   // Origin headers a call may carry
};

}  // namespace quorvin
