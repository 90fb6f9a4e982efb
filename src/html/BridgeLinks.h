// The two server links as the script bridge drives them. The links are
// process-wide; the first window to ask becomes the owner of their
// notifications (the main window).
#pragma once

#include <string>

#include "html/PageWindow.h"

namespace quorvin {

class TcpLinkControl {
public:
    virtual ~TcpLinkControl() = default;
    virtual void Start(const std::string& server, int port, const std::string& from, const std::string& clientName,
                       const std::string& gsdm, const std::string& rydm) = 0;
    virtual void Stop() = 0;
};

class WsLinkControl {
public:
    virtual ~WsLinkControl() = default;
    // 0 started or already running, 1 the socket library failed, 2 no connection.
    virtual int Start(const std::string& url, const std::string& from, const std::string& clientName,
                      const std::string& gsdm, const std::string& rydm) = 0;
    virtual void Stop() = 0;
};

// Null members: that link is not part of this build.
struct BridgeLinks {
    TcpLinkControl* tcp = nullptr;
    WsLinkControl* ws = nullptr;
};

// The process-wide links, made on the first call with owner as the window
// that receives their notifications.
BridgeLinks GetProcessLinks(PageWindow& owner);

}  // namespace quorvin
