// CChatManager: the TCP link the rest of the agent talks to. One process-wide
// instance (GetInstance); tests make their own. It keeps the registration
// values, owns the connection object, a printer manager, a tool and the
// command dispatcher, and traces every sent and received message to the
// owner window's page.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "commands/CommandDispatcher.h"
#include "link/ChatSocket.h"
#include "message/ChatLink.h"
#include "message/OwnerWindow.h"

struct cJSON;

namespace quorvin {

class CChatManager : public ChatLink {
public:
    // The process-wide instance, made on the first call. The first non-null
    // window to ask becomes its owner window; later windows are not recorded.
    static CChatManager& GetInstance(PageWindow* window);

    // moduleDir empty: the executable's directory. Creates "temp" there.
    explicit CChatManager(PageWindow* owner, const std::string& moduleDir = {}, const ChatTimings& timings = {});
    // Disconnects and ends every thread of the link, then releases the rest.
    ~CChatManager() override;
    CChatManager(const CChatManager&) = delete;
    CChatManager& operator=(const CChatManager&) = delete;

    // Stores the values, makes the connection object on the first call and
    // starts a connection attempt (a current connection is closed first).
    // Every attempt dials the server and port of the latest Start; a server
    // that is not dotted decimal is looked up at each attempt, on the
    // attempt's own thread, so this never waits for a name server and a
    // name that does not resolve yet is tried again.
    void Start(const std::string& server, int port, const std::string& from, const std::string& clientName,
               const std::string& gsdm, const std::string& rydm);
    // Disconnects a connected link; on a link that is retrying it changes nothing.
    void Stop();
    // Ends the link for good: disconnects and joins every thread (waiting
    // for a command being answered). The process-wide instance lives until
    // exit, after its owner window; the application calls this while the
    // window still takes notifications, never from a link thread. Then it
    // lets go of the owner window: later traces (of print tasks still
    // running) reach no window. The destructor calls it too.
    void Close();

    int SendText(const std::string& text) override;
    void NotifyPage(const std::string& text) override;
    void SendRegistration();
    static std::string GetJsonString(const cJSON* obj, const char* name);
    void DispatchCommand(const std::string& text);
    void OnDisconnected() {}

    void SetPrintTaskStarter(PrintTaskStarter starter) { m_dispatcher.SetPrintTaskStarter(std::move(starter)); }

    LinkKind Kind() const override { return LinkKind::Tcp; }
    std::string ReceivedNotice(const std::string& received) const override;
    void CloseOwnerWindow() override;
    CPrinterManager& Printers() override;
    CCommonTool& Tool() override { return *m_pTool; }

    PageWindow* Owner() const { return m_pOwner.Get(); }
    bool IsConnected() const;
    // The server text as the latest Start gave it (a name stays a name).
    std::string GetServer() const;

private:
    friend class CChatSocket;
    // What the next attempt dials: the stored server text and port.
    void CurrentTarget(std::string& server, int& port) const;
    // The registration message from the stored values, in UTF-8.
    std::string RegistrationText() const;

    OwnerWindow m_pOwner;  // page notifications and ExitQuorvin's close
    const ChatTimings m_timings;

    mutable std::mutex m_valuesMutex;
    std::string m_strServer, m_strFrom, m_strClientName, m_strGsdm, m_strRydm;
    int m_nPort = 0;

    std::unique_ptr<CCommonTool> m_pTool;
    std::unique_ptr<CPrinterManager> m_pPrinterManager;
    const std::string m_strEscape = "^";
    CCommandDispatcher m_dispatcher;

    std::mutex m_socketMutex;  // makes the connection object once
    std::unique_ptr<CChatSocket> m_pSocket;
    std::atomic<CChatSocket*> m_socket{nullptr};  // read by senders on any thread
};

}  // namespace quorvin
