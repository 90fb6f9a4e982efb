// OwnerWindow: the window a link hands its page notifications to, and the
// one it closes for ExitQuorvin. Both links keep one.
//
// The first non-null window to ask becomes the owner; later windows are not
// recorded. Release() lets go of it for good: print tasks outlive the links
// and the window, and a late notice must then go nowhere instead of to a
// window that is gone.
#pragma once

#include <atomic>
#include <shared_mutex>
#include <string>

namespace quorvin {

class PageWindow;

class OwnerWindow {
public:
    explicit OwnerWindow(PageWindow* window = nullptr) : m_window(window) {}
    OwnerWindow(const OwnerWindow&) = delete;
    OwnerWindow& operator=(const OwnerWindow&) = delete;

    // Records window when there is no owner yet (and none was released).
    void SetIfNone(PageWindow* window);
    // Hands text (local code page) to the owner's page and waits until it
    // has it; nothing without an owner.
    void Notify(const std::string& text);
    // Asks the owner to close; nothing without an owner.
    void PostClose();
    // Lets go of the owner; waits for notifications in progress to end.
    void Release();
    PageWindow* Get() const { return m_window.load(); }

private:
    std::atomic<PageWindow*> m_window;
    // Held shared while the window is in use, exclusively to let go of it.
    std::shared_mutex m_mutex;
    bool m_released = false;
};

}  // namespace quorvin
