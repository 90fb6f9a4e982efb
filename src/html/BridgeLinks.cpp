#include "html/BridgeLinks.h"

#include "link/ChatManager.h"
#include "link/WsChatManager.h"

namespace quorvin {

void ChatManagerControl::Start(const std::string& server, int port, const std::string& from,
                               const std::string& clientName, const std::string& gsdm, const std::string& rydm) {
    m_manager.Start(server, port, from, clientName, gsdm, rydm);
}

void ChatManagerControl::Stop() { m_manager.Stop(); }

int WsChatManagerControl::Start(const std::string& url, const std::string& from, const std::string& clientName,
                                const std::string& gsdm, const std::string& rydm) {
    return m_manager.Start(url, from, clientName, gsdm, rydm);
}

void WsChatManagerControl::Stop() { m_manager.Stop(); }

BridgeLinks GetProcessLinks(PageWindow& owner) {
    // The first window to ask (the main window) becomes the links' owner.
    static WsChatManagerControl ws(CWsChatManager::GetInstance(&owner));
    static ChatManagerControl tcp(CChatManager::GetInstance(&owner));
    return {&tcp, &ws};
}

void CloseProcessLinks() {
    CWsChatManager::GetInstance(nullptr).Close();
    CChatManager::GetInstance(nullptr).Close();
}

}  // namespace quorvin
