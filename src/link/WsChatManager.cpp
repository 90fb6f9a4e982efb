#include "link/WsChatManager.h"

#include <chrono>
#include <vector>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Deadline.h"
#include "common/Json.h"
#include "link/TcpSocket.h"
#include "link/wsclient/WebSocket.h"
#include "message/Envelope.h"
#include "printing/PrinterManager.h"

namespace quorvin {

CWsChatManager& CWsChatManager::GetInstance(PageWindow* window) {
    static std::mutex mutex;
    static std::unique_ptr<CWsChatManager> instance;
    std::lock_guard<std::mutex> lock(mutex);
    if (!instance) instance = std::make_unique<CWsChatManager>(window);
    instance->m_pOwner.SetIfNone(window);
    return *instance;
}

CWsChatManager::CWsChatManager(PageWindow* owner, const std::string& moduleDir, const WsTimings& timings)
    : m_pOwner(owner),
      m_timings(timings),
      m_hTaskCancelEvent(std::make_shared<Event>()),
      m_pTool(moduleDir.empty() ? std::make_unique<CCommonTool>() : std::make_unique<CCommonTool>(moduleDir)),
      m_pPrinterManager(std::make_unique<CPrinterManager>(m_pTool->GetModuleDir())),
      m_dispatcher(*this) {
    m_pTool->CreatePath(m_pTool->GetModuleDir() + "/temp");
}

CWsChatManager::~CWsChatManager() { Close(); }

int CWsChatManager::Start(const std::string& url, const std::string& from, const std::string& clientName,
                          const std::string& gsdm, const std::string& rydm) {
    std::lock_guard<std::mutex> start(m_startMutex);
    if (m_bStarted.load() != 0) return 0;
    if (m_bClosed) return 2;
    if (m_thread.joinable()) m_thread.join();  // a run that ended by itself
    {
        std::lock_guard<std::mutex> lock(m_valuesMutex);
        m_strServerUrl = url;
        m_strFrom = from;
        m_strClientName = LocalToUtf8(clientName);
        m_strGsdm = gsdm;
        m_strRydm = rydm;
    }
    if (!StartSocketLibrary()) return 1;
    std::unique_ptr<wsclient::WebSocket> ws = wsclient::fromUrl(url, std::string(), m_timings.openTimeoutMs);
    if (!ws) {
        StopSocketLibrary();
        return 2;
    }
    // The registration is queued together with the connection becoming
    // visible, so it is the first message whoever else is sending; the
    // link thread, not yet running, writes it after its trace.
    const std::string registration = RegistrationText();
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        m_pWebSocket = std::move(ws);
        m_pWebSocket->send(registration);
    }
    NotifyPage(WsSentNotice(registration));
    {
        std::lock_guard<std::mutex> lock(m_cancelMutex);
        m_hTaskCancelEvent = std::make_shared<Event>();
    }
    m_hStopEvent.Reset();
    m_hEndedEvent.Reset();
    m_hWakeEvent.Set();
    m_bStarted.store(1);
    m_thread = std::thread(WsThreadProc, this);
    return 0;
}

void CWsChatManager::Stop() {
    std::lock_guard<std::mutex> start(m_startMutex);
    if (m_bStarted.load() != 0) {
        m_hStopEvent.Set();
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            if (m_pWebSocket) m_pWebSocket->interrupt();
        }
        m_hEndedEvent.Wait();
        m_hEndedEvent.Reset();
    }
    if (m_thread.joinable()) m_thread.join();
}

void CWsChatManager::Close() {
    Stop();
    {
        std::lock_guard<std::mutex> start(m_startMutex);
        m_bClosed = true;
    }
    m_pOwner.Release();
}

int CWsChatManager::WsThreadProc(CWsChatManager* self) {
    self->m_linkThread.store(std::this_thread::get_id());
    // Only this thread replaces or drops the connection, so it may use it
    // between locked calls.
    wsclient::WebSocket* ws;
    {
        std::lock_guard<std::mutex> lock(self->m_sendMutex);
        ws = self->m_pWebSocket.get();
    }
    bool stopped = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(self->m_sendMutex);
            if (ws->getReadyState() == wsclient::WebSocket::CLOSED) break;
        }
        if (WaitAny({&self->m_hStopEvent, &self->m_hWakeEvent}) == 0) {
            self->m_hStopEvent.Reset();
            stopped = true;
            break;
        }
        self->m_hWakeEvent.Reset();
        // The idle pause ends early for arriving data, a reply queued by
        // another thread, or Stop.
        if (self->PollAndDispatch(*ws) && !self->m_hStopEvent.IsSet()) ws->wait(self->m_timings.idleMs);
        self->m_hWakeEvent.Set();
    }

    {
        std::lock_guard<std::mutex> lock(self->m_sendMutex);
        ws->close();
    }
    // The close frame leaves, and the server's answer ends the connection.
    self->Flush(*ws, self->m_timings.flushMs, true);
    {
        std::lock_guard<std::mutex> lock(self->m_sendMutex);
        self->m_pWebSocket.reset();
    }
    StopSocketLibrary();
    if (!stopped) self->NotifyPage(WsClosedNotice());
    self->TaskCancelEvent()->Set();
    self->m_linkThread.store(std::thread::id());
    self->m_bStarted.store(0);
    self->m_hEndedEvent.Set();
    return 0;
}

bool CWsChatManager::PollAndDispatch(wsclient::WebSocket& ws) {
    std::vector<std::string> messages;
    bool tooBig;
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        const bool wasTooBig = ws.messageTooBig();
        ws.poll(0);
        ws.dispatch([&messages](const std::string& message) { messages.push_back(message); });
        tooBig = ws.messageTooBig() && !wasTooBig;
        ws.poll(0);  // pongs and a close answer leave at once
    }
    if (tooBig) NotifyPage(OversizeNotice());
    // Commands run without the lock: a long one must not hold up the
    // replies of print tasks.
    for (const std::string& message : messages) DispatchCommand(message);
    std::lock_guard<std::mutex> lock(m_sendMutex);
    if (!messages.empty()) ws.poll(0);
    return ws.getReadyState() != wsclient::WebSocket::CLOSED;
}

void CWsChatManager::Flush(wsclient::WebSocket& ws, int ms, bool untilClosed) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            ws.poll(0);
            if (ws.getReadyState() == wsclient::WebSocket::CLOSED) return;
            if (!untilClosed && ws.bufferedAmount() == 0) return;
        }
        const int left = RemainingMs(deadline);
        if (left == 0) return;
        ws.wait(left);
    }
}

int CWsChatManager::SendText(const std::string& text) {
    {
        std::lock_guard<std::mutex> lock(m_sendMutex);
        if (!m_pWebSocket) return 0;
    }
    NotifyPage(WsSentNotice(text));
    std::lock_guard<std::mutex> lock(m_sendMutex);
    // Gone meanwhile: lost like any reply without a connection.
    if (!m_pWebSocket) return 1;
    m_pWebSocket->send(text);
    // The link thread writes it; from elsewhere it is woken to do so now.
    if (!OnLinkThread()) m_pWebSocket->interrupt();
    return 1;
}

void CWsChatManager::NotifyPage(const std::string& text) { m_pOwner.Notify(text); }

std::string CWsChatManager::RegistrationText() const {
    std::lock_guard<std::mutex> lock(m_valuesMutex);
    // Every value travels in UTF-8 (the client name was converted when
    // stored): a text frame may carry nothing else.
    return FormatRegistration(LocalToUtf8(m_strFrom), m_strClientName, LocalToUtf8(m_strGsdm), LocalToUtf8(m_strRydm));
}

void CWsChatManager::SendRegistration() { SendText(RegistrationText()); }

std::string CWsChatManager::GetJsonString(const cJSON* obj, const char* name) {
    return quorvin::GetJsonString(obj, name);
}

void CWsChatManager::DispatchCommand(const std::string& text) { m_dispatcher.DispatchCommand(text); }

std::string CWsChatManager::ReceivedNotice(const std::string& received) const { return WsReceivedNotice(received); }

void CWsChatManager::CloseOwnerWindow() {
    // Called by the dispatcher on the link thread right after the reply
    // was queued: the reply leaves before the window is asked to close.
    if (OnLinkThread()) {
        wsclient::WebSocket* ws;
        {
            std::lock_guard<std::mutex> lock(m_sendMutex);
            ws = m_pWebSocket.get();
        }
        if (ws != nullptr) Flush(*ws, m_timings.flushMs, false);
    }
    m_pOwner.PostClose();
}

CPrinterManager& CWsChatManager::Printers() { return *m_pPrinterManager; }

std::shared_ptr<Event> CWsChatManager::TaskCancelEvent() {
    std::lock_guard<std::mutex> lock(m_cancelMutex);
    return m_hTaskCancelEvent;
}

}  // namespace quorvin
