#include "html/BridgeLinks.h"

#include "link/ChatManager.h"

namespace quorvin {

void ChatManagerControl::Start(const std::string& server, int port, const std::string& from,
                               const std::string& clientName, const std::string& gsdm, const std::string& rydm) {
    m_manager.Start(server, port, from, clientName, gsdm, rydm);
}

void ChatManagerControl::Stop() { m_manager.Stop(); }

BridgeLinks GetProcessLinks(PageWindow& owner) {
    // The first window to ask (the main window) becomes the link's owner.
    static ChatManagerControl tcp(CChatManager::GetInstance(&owner));
    return {&tcp, nullptr};
}

void CloseProcessLinks() { CChatManager::GetInstance(nullptr).Close(); }

}  // namespace quorvin
