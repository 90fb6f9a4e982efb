// PageHost: the platform window behind a CHtmlBaseDlg (GTK + WebKit on
// Linux). The dialog keeps the rules; the host shows the page, runs the
// window thread's queue and carries calls and notifications across.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace quorvin {

class CHtmlBaseDlg;

// A rectangle in pixels (left, top, right, bottom), as the work area is given.
struct WorkArea {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

class PageHost {
public:
    virtual ~PageHost() = default;

    // The work area of the monitor the window opens on, read afresh.
    virtual WorkArea GetWorkArea() = 0;

    // Shows the window as the dialog's template says and returns once it has
    // closed. Nested calls (a child window) run their own loop on top.
    virtual int RunModal() = 0;
    // Ends the modal run once the current page call has returned; no
    // confirmation and no "OnDlgEnd" (ExitPageDlg, BtnCancel).
    virtual void EndDialog(int result) = 0;

    // Shows another address in the running window with a new caption.
    virtual void Navigate(const std::string& address, const std::string& title) = 0;
    virtual void ShowMaximized() = 0;

    // Calls the page's global function name(text) if it has one; returns at
    // once. Texts are in the local code page.
    virtual void CallScript(const std::string& name, const std::string& text) = 0;

    // Runs fn on another thread while the window thread keeps serving its
    // queue (notifications, other windows), and returns when fn has. Link
    // Start/Stop go through here so they can wait for a worker that is
    // itself waiting inside NotifyPage.
    virtual void RunKeepingQueue(const std::function<void()>& fn) = 0;

    // PageWindow, for the dialog that owns this host.
    virtual void NotifyPage(const std::string& text) = 0;
    virtual void Post(std::function<void()> fn) = 0;
    virtual void PostClose() = 0;
};

using PageHostFactory = std::function<std::unique_ptr<PageHost>(CHtmlBaseDlg& dlg)>;

// The platform's host (GTK + WebKit, or one that cannot show anything when
// the agent is built without its window).
std::unique_ptr<PageHost> MakePlatformPageHost(CHtmlBaseDlg& dlg);

}  // namespace quorvin
