#include "link/ChatManager.h"

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Json.h"
#include "message/Envelope.h"
#include "printing/PrinterManager.h"

namespace quorvin {

CChatManager& CChatManager::GetInstance(PageWindow* window) {
    static std::mutex mutex;
    static std::unique_ptr<CChatManager> instance;
    std::lock_guard<std::mutex> lock(mutex);
    if (!instance) instance = std::make_unique<CChatManager>(window);
    instance->m_pOwner.SetIfNone(window);
    return *instance;
}

CChatManager::CChatManager(PageWindow* owner, const std::string& moduleDir, const ChatTimings& timings)
    : m_pOwner(owner),
      m_timings(timings),
      m_pTool(moduleDir.empty() ? std::make_unique<CCommonTool>() : std::make_unique<CCommonTool>(moduleDir)),
      m_pPrinterManager(std::make_unique<CPrinterManager>(m_pTool->GetModuleDir())),
      m_dispatcher(*this) {
    m_pTool->CreatePath(m_pTool->GetModuleDir() + "/temp");
}

CChatManager::~CChatManager() {
    // The threads still use this object (dispatch, replies, traces) until
    // they have ended, so they end first.
    Close();
}

void CChatManager::Close() {
    if (CChatSocket* socket = m_socket.load()) socket->Close();
    m_pOwner.Release();
}

void CChatManager::Start(const std::string& server, int port, const std::string& from, const std::string& clientName,
                         const std::string& gsdm, const std::string& rydm) {
    {
        std::lock_guard<std::mutex> lock(m_valuesMutex);
        m_strServer = server;
        m_nPort = port;
        m_strFrom = from;
        m_strClientName = clientName;
        m_strGsdm = gsdm;
        m_strRydm = rydm;
    }
    CChatSocket* socket;
    {
        std::lock_guard<std::mutex> lock(m_socketMutex);
        if (!m_pSocket) {
            m_pSocket = std::make_unique<CChatSocket>(*this, m_timings);
            m_socket.store(m_pSocket.get());
        }
        socket = m_pSocket.get();
    }
    socket->StartAttempt();
}

void CChatManager::Stop() {
    if (CChatSocket* socket = m_socket.load()) socket->Disconnect();
}

bool CChatManager::IsConnected() const {
    CChatSocket* socket = m_socket.load();
    return socket != nullptr && socket->IsConnected();
}

std::string CChatManager::GetServer() const {
    std::lock_guard<std::mutex> lock(m_valuesMutex);
    return m_strServer;
}

void CChatManager::CurrentTarget(std::string& server, int& port) const {
    std::lock_guard<std::mutex> lock(m_valuesMutex);
    server = m_strServer;
    port = m_nPort;
}

int CChatManager::SendText(const std::string& text) {
    CChatSocket* socket = m_socket.load();
    if (socket == nullptr) return 0;
    std::string frame;
    frame.reserve(text.size() + 1);
    frame = text;
    frame.push_back(static_cast<char>(MessageFramer::kDelimiter));
    socket->Send(frame);  // the outcome is not reported; the trace is made either way
    NotifyPage(TcpSentTrace(text));
    return 1;
}

void CChatManager::NotifyPage(const std::string& text) { m_pOwner.Notify(text); }

std::string CChatManager::RegistrationText() const {
    std::lock_guard<std::mutex> lock(m_valuesMutex);
    return FormatRegistration(LocalToUtf8(m_strFrom), LocalToUtf8(m_strClientName), LocalToUtf8(m_strGsdm),
                              LocalToUtf8(m_strRydm));
}

void CChatManager::SendRegistration() { SendText(RegistrationText()); }

std::string CChatManager::GetJsonString(const cJSON* obj, const char* name) {
    return quorvin::GetJsonString(obj, name);
}

void CChatManager::DispatchCommand(const std::string& text) { m_dispatcher.DispatchCommand(text); }

std::string CChatManager::ReceivedNotice(const std::string& received) const { return TcpReceivedTrace(received); }

void CChatManager::CloseOwnerWindow() { m_pOwner.PostClose(); }

CPrinterManager& CChatManager::Printers() { return *m_pPrinterManager; }

}  // namespace quorvin
