// WinPageHost: the page window on Windows, a PageFrame around a BrowserView
// (the WebBrowser control), tying them to the window's rules
// (PageAddressPolicy, PageCalls, NoticeQueue, WindowEnd). Runs on the
// thread that made it (the window thread, an OLE apartment); workers reach
// it through NotifyPage and Post only.
//
// The page's window.external.CallFromHtml is a synchronous COM call on the
// window thread: it hands the call to PageCalls and runs the thread's
// messages until the call is answered, so the command may open a child
// window, and notifications that come meanwhile reach the page's
// OnDlgNotify from inside the call, as the control allows.
#pragma once

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
#include "html/win/BrowserView.h"
#include "html/win/CancelButton.h"
#include "html/win/ComPtr.h"
#include "html/win/ExternalObject.h"
#include "html/win/PageFrame.h"
#include "html/win/TaskWindow.h"
#include "html/win/Win32.h"

namespace quorvin {
class CHtmlBaseDlg;
}

namespace quorvin::win {

class WinPageHost : public PageHost, private PageCalls::Window {
public:
    explicit WinPageHost(CHtmlBaseDlg& dlg);
    ~WinPageHost() override;

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

    // The browser's first look at a key of this window.
    bool TranslateKey(MSG& msg);
    // The page window (null while none is shown).
    HWND Window() const { return m_frame ? m_frame->Handle() : nullptr; }
    // The running windows, innermost last.
    static const std::vector<WinPageHost*>& RunningWindows();

private:
    // What outlives the host: workers wait on its queue and post to its
    // thread; scheduled work finds out whether the host is still there.
    struct Shared {
        NoticeQueue queue;
        TaskWindow tasks;
        std::atomic<WinPageHost*> host{nullptr};  // null once the host is gone
    };

    static WinPageHost* Alive(const std::weak_ptr<Shared>& weak);
    // Runs fn on the window thread while the host still exists; false when
    // the thread's window no longer takes work.
    bool PostGuarded(std::function<void(WinPageHost&)> fn);

    // PageCalls::Window
    void StartCommand(std::uint64_t id, CallArgs args) override;
    void Deliver(const NoticeQueue::Notice& notice) override;
    bool CallEnded() override;

    CallAnswer OnPageCall(CallArgs args);
    void HandToPage(std::uint64_t seq, const std::string& utf8);
    bool ShownDocumentAllowed() const;
    bool OpenWindow();
    void DropWindow();
    void OnLoadFinished();
    void OnCloseCommand();
    void AllowAddress(const std::string& address);

    CHtmlBaseDlg& m_dlg;
    std::shared_ptr<Shared> m_shared;
    PageCalls m_calls;
    PageAddressPolicy m_policy;
    WindowEnd m_end;
    std::atomic<std::thread::id> m_windowThread{};
    ComPtr<ExternalObject> m_external;
    ComPtr<CancelButton> m_cancelButton;  // watches the shown document
    std::unique_ptr<PageFrame> m_frame;
    std::unique_ptr<BrowserView> m_view;
    bool m_quit = false;                              // the modal loop ends
    bool m_pageReady = false;                         // the first document has loaded
    std::uint64_t m_lastSeq = 0;                      // the last notice handed to OnDlgNotify
    std::optional<NoticeQueue::Notice> m_heldNotice;  // waits for the page to load
};

}  // namespace quorvin::win
