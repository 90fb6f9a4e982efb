// The two server links as the script bridge drives them. The links are
// process-wide; the first window to ask becomes the owner of their
// notifications (the main window).
#pragma once

#include <string>

#include "message/PageWindow.h"

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

class CChatManager;
class CWsChatManager;

// The TCP link manager as the bridge drives it.
class ChatManagerControl : public TcpLinkControl {
public:
    explicit ChatManagerControl(CChatManager& manager) : m_manager(manager) {}
    void Start(const std::string& server, int port, const std::string& from, const std::string& clientName,
               const std::string& gsdm, const std::string& rydm) override;
    void Stop() override;

private:
    CChatManager& m_manager;
};

// The WebSocket link manager as the bridge drives it.
class WsChatManagerControl : public WsLinkControl {
public:
    explicit WsChatManagerControl(CWsChatManager& manager) : m_manager(manager) {}
    int Start(const std::string& url, const std::string& from, const std::string& clientName, const std::string& gsdm,
              const std::string& rydm) override;
    void Stop() override;

private:
    CWsChatManager& m_manager;
};

// The process-wide links, made on the first call with owner as the window
// that receives their notifications.
BridgeLinks GetProcessLinks(PageWindow& owner);

// Ends the process-wide links for good; called before their owner window
// goes, so no link thread is left holding it.
void CloseProcessLinks();

}  // namespace quorvin
