// CWsChatManager: the WebSocket link. One process-wide instance
// (GetInstance); tests make their own. Start opens one connection,
// registers and runs the link thread, which polls the connection, hands
// each received message to the command dispatcher and cleans up when the
// connection ends. It never reconnects by itself: once the server closes,
// the link stays down until the next Start.
//
// Sends from the link thread and from print tasks go through one lock, so
// frames never interleave; the link thread is woken at once by arriving
// data or by a reply queued on another thread, so replies leave without
// waiting for its idle rhythm.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "commands/CommandDispatcher.h"
#include "common/Event.h"
#include "message/ChatLink.h"
#include "message/OwnerWindow.h"

struct cJSON;

namespace quorvin {

namespace wsclient {
class WebSocket;
}

// Intervals of the WebSocket link; tests shorten them.
struct WsTimings {
    int idleMs = 500;           // the link thread looks at a quiet connection this often
    int openTimeoutMs = 10000;  // connect, TLS and upgrade handshake together
    int flushMs = 2000;         // the most a last reply or the close frame may take to leave
};

class CWsChatManager : public ChatLink {
public:
    // The process-wide instance, made on the first call. The first non-null
    // window to ask becomes its owner window; later windows are not recorded.
    static CWsChatManager& GetInstance(PageWindow* window);

    // moduleDir empty: the executable's directory. Creates "temp" there.
    explicit CWsChatManager(PageWindow* owner, const std::string& moduleDir = {}, const WsTimings& timings = {});
    // Stops the link, then releases the rest.
    ~CWsChatManager() override;
    CWsChatManager(const CWsChatManager&) = delete;
    CWsChatManager& operator=(const CWsChatManager&) = delete;

    // Opens url ("ws://" or "wss://"), sends the registration and starts the
    // link thread. 0: started, or already running (nothing changes then);
    // 1: the socket library could not be started; 2: no connection could be
    // opened (bad URL, unknown host, refused, handshake or certificate
    // failed, or no answer within the open timeout). Blocks for the opening.
    int Start(const std::string& url, const std::string& from, const std::string& clientName, const std::string& gsdm,
              const std::string& rydm);
    // Ends the link thread (after the command it is running) and waits for
    // it; the connection is closed with a close frame. Nothing when stopped.
    void Stop();
    // Ends the link for good and lets go of the owner window: later notices
    // (of print tasks still running) reach no window. The application calls
    // it before the window goes; the destructor calls it too.
    void Close();

    // Traces the text ("ws.send") and queues it as one text message; 1 when
    // there was a connection, else 0 (nothing traced, nothing queued).
    int SendText(const std::string& text) override;
    void NotifyPage(const std::string& text) override;
    void SendRegistration();
    static std::string GetJsonString(const cJSON* obj, const char* name);
    void DispatchCommand(const std::string& text);

    void SetPrintTaskStarter(PrintTaskStarter starter) { m_dispatcher.SetPrintTaskStarter(std::move(starter)); }

    LinkKind Kind() const override { return LinkKind::WebSocket; }
    std::string ReceivedNotice(const std::string& received) const override;
    // Sends what is queued (ExitQuorvin's reply) before the window closes.
    void CloseOwnerWindow() override;
    CPrinterManager& Printers() override;
    CCommonTool& Tool() override { return *m_pTool; }
    std::shared_ptr<Event> TaskCancelEvent() override;

    bool IsStarted() const { return m_bStarted.load() != 0; }

private:
    static int WsThreadProc(CWsChatManager* self);
    // One round: read, dispatch each complete message, write the replies.
    // False once the connection has closed.
    bool PollAndDispatch(wsclient::WebSocket& ws);
    // Writes what is queued until it is out (untilClosed: until the
    // connection has closed) or ms passed.
    void Flush(wsclient::WebSocket& ws, int ms, bool untilClosed);
    bool OnLinkThread() const { return std::this_thread::get_id() == m_linkThread.load(); }
    std::string RegistrationText() const;

    OwnerWindow m_pOwner;  // page notifications and ExitQuorvin's close
    const WsTimings m_timings;

    mutable std::mutex m_valuesMutex;
    std::string m_strServerUrl, m_strFrom, m_strClientName /* UTF-8 */, m_strGsdm, m_strRydm;

    Event m_hStopEvent, m_hWakeEvent, m_hEndedEvent;
    // A fresh event for every run of the link, set when the run ends.
    mutable std::mutex m_cancelMutex;
    std::shared_ptr<Event> m_hTaskCancelEvent;
    std::atomic<int> m_bStarted{0};

    std::unique_ptr<CCommonTool> m_pTool;
    std::unique_ptr<CPrinterManager> m_pPrinterManager;
    const std::string m_strEscape = "^";
    CCommandDispatcher m_dispatcher;

    std::mutex m_startMutex;  // Start, Stop and Close one at a time
    bool m_bClosed = false;
    // Every call on the connection is made under this lock. Only the link
    // thread polls and waits; others only queue and interrupt.
    std::mutex m_sendMutex;
    std::unique_ptr<wsclient::WebSocket> m_pWebSocket;
    std::thread m_thread;
    std::atomic<std::thread::id> m_linkThread{};
};

}  // namespace quorvin
