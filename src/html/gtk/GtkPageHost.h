// GtkPageHost: the page window on Linux, a GTK 3 window around a WebKitGTK
// view. Runs on the GTK main thread (the window thread); workers reach it
// through NotifyPage and Post only.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "html/PageHost.h"

namespace quorvin {
class CHtmlBaseDlg;
}

namespace quorvin::gtk {

// False (and a line on stderr saying why) when there is no display.
bool EnsureGtk();

class GtkPageHost : public PageHost {
public:
    explicit GtkPageHost(CHtmlBaseDlg& dlg);
    ~GtkPageHost() override;

    WorkArea GetWorkArea() override;
    int RunModal() override;
    void EndDialog(int result) override;
    void Navigate(const std::string& address, const std::string& title) override;
    void ShowMaximized() override;
    void CallScript(const std::string& name, const std::string& text) override;
    void RunKeepingQueue(const std::function<void()>& fn) override;
    void NotifyPage(const std::string& text) override;
    void Post(std::function<void()> fn) override;
    void PostClose() override;

    // For tests and benchmarks (window thread only).
    GtkWindow* Window() const { return m_window; }
    WebKitWebView* View() const { return m_view; }
    // Runs script in the page; done gets its result as JSON, or nothing on
    // a script error.
    void EvaluateScript(const std::string& script, std::function<void(std::optional<std::string>)> done);
    // Called once the first load's "OnDlgInit" has run.
    void SetReadyObserver(std::function<void()> fn) { m_onReady = std::move(fn); }
    // Called as each call of the page arrives (benchmarks time round trips).
    void SetCallObserver(std::function<void()> fn) { m_onCall = std::move(fn); }
    // The running windows, innermost last.
    static const std::vector<GtkPageHost*>& RunningWindows();

private:
    struct Notice {
        std::uint64_t seq;
        std::string text;  // UTF-8
    };
    // What workers share with the window thread.
    struct Shared {
        std::mutex mutex;
        std::condition_variable cv;
        std::deque<Notice> queue;
        std::uint64_t nextSeq = 1;
        std::uint64_t delivered = 0;  // every notice up to this one has reached the page
        bool open = false;            // the window is running and takes notices
        bool pumpPosted = false;
        GtkPageHost* host = nullptr;  // window thread only; null once the host is gone
    };
    struct CallResult {
        std::string text;
        std::string error;
    };

    // The host behind weak while it still exists (window thread only).
    static GtkPageHost* Alive(const std::weak_ptr<Shared>& weak);
    static void OnSchemeRequest(WebKitURISchemeRequest* request, gpointer);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static gboolean OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self);
    static void OnDestroy(GtkWidget*, gpointer self);
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer);

    void CreateWindow();
    void DestroyWindow();
    void HandleRequest(WebKitURISchemeRequest* request);
    bool CallerAllowed(WebKitURISchemeRequest* request) const;
    bool AddressAllowed(const std::string& uri) const;
    void AllowAddress(const std::string& uri);
    void RunCommand(std::string a, std::string b, std::string c);
    void Pump();
    void Acknowledge(std::uint64_t seq);
    void Answer(const std::string& json);
    void FinishCall();
    void QuitLoop();
    std::string ToUri(const std::string& address) const;

    CHtmlBaseDlg& m_dlg;
    std::shared_ptr<Shared> m_shared;
    std::atomic<std::thread::id> m_windowThread{};
    GtkWindow* m_window = nullptr;
    WebKitWebView* m_view = nullptr;
    GMainLoop* m_loop = nullptr;
    std::string m_token;
    std::vector<std::string> m_allowedPrefixes;  // addresses a document may come from
    std::vector<std::string> m_allowedOrigins;   // Origin headers a call may carry
    WebKitURISchemeRequest* m_parked = nullptr;  // the page's pending call, waiting for its answer
    bool m_callActive = false;
    std::optional<CallResult> m_callResult;
    bool m_inFlight = false;  // the queue's head is on its way through the ordinary route
    bool m_endRequested = false;
    bool m_closing = false;
    int m_endResult = 2;
    std::function<void()> m_onReady;
    std::function<void()> m_onCall;
};

}  // namespace quorvin::gtk
