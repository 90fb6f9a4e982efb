// GtkPageHost: the page window on Linux, a GtkPageFrame around a
// GtkPageView, tying them to the window's rules (PageAddressPolicy,
// PageCalls, NoticeQueue, WindowEnd). Runs on the GTK main thread (the
// window thread); workers reach it through NotifyPage and Post only.
#pragma once

#include <webkit2/webkit2.h>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "html/NoticeQueue.h"
#include "html/PageAddressPolicy.h"
#include "html/PageCalls.h"
#include "html/PageHost.h"
#include "html/WindowEnd.h"
#include "html/gtk/GtkPageFrame.h"
#include "html/gtk/GtkPageView.h"

namespace quorvin {
class CHtmlBaseDlg;
}

namespace quorvin::gtk {

class SchemeRequest;

// False (and a line on stderr saying why) when there is no display; sets
// the close confirmation's box up.
bool EnsureGtk();

class GtkPageHost : public PageHost, private PageCalls::Window {
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
    GtkWindow* Window() const { return m_frame ? m_frame->Window() : nullptr; }
    WebKitWebView* View() const { return m_view ? m_view->View() : nullptr; }
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
    // What outlives the host: workers wait on its queue, scheduled work
    // finds out whether the host is still there.
    struct Shared {
        NoticeQueue queue;
        std::atomic<GtkPageHost*> host{nullptr};  // null once the host is gone
    };

    // The host behind weak while it still exists (window thread only).
    static GtkPageHost* Alive(const std::weak_ptr<Shared>& weak);
    static void OnSchemeRequest(WebKitURISchemeRequest* request, gpointer);

    // PageCalls::Window
    void StartCommand(std::uint64_t id, CallArgs args) override;
    void Deliver(const NoticeQueue::Notice& notice) override;
    bool CallEnded() override;

    void CreateWindow();
    void DestroyWindow();
    void HandleRequest(std::unique_ptr<SchemeRequest> request);
    void OnLoadFinished();
    void OnRendererGone();
    void OnCloseCommand();
    void QuitLoop();
    std::string ToUri(const std::string& address) const;

    CHtmlBaseDlg& m_dlg;
    std::shared_ptr<Shared> m_shared;
    PageCalls m_calls;
    PageAddressPolicy m_policy;
    WindowEnd m_end;
    std::atomic<std::thread::id> m_windowThread{};
    std::unique_ptr<GtkPageView> m_view;
    std::unique_ptr<GtkPageFrame> m_frame;
    GMainLoop* m_loop = nullptr;
    std::string m_token;
    std::function<void()> m_onReady;
    std::function<void()> m_onCall;
};

}  // namespace quorvin::gtk
