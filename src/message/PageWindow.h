// PageWindow: what the links and tasks need from the window that shows the
// page. The window thread owns the page; workers reach it only through here.
#pragma once

#include <functional>
#include <string>

namespace quorvin {

class PageWindow {
public:
    virtual ~PageWindow() = default;

    // Hands text (local code page) to the page's "OnDlgNotify" and returns
    // once the page has had it, so the page sees one thread's notifications
    // in the order they were made. Called on the window thread itself, it
    // queues the text and returns without waiting for itself.
    virtual void NotifyPage(const std::string& text) = 0;

    // Runs fn on the window thread later; returns at once. Work that must
    // happen there (closing the window, opening a child) goes through here.
    virtual void Post(std::function<void()> fn) = 0;

    // Asks the window to close (the agent ends when the main window closes);
    // returns at once.
    virtual void PostClose() = 0;
};

}  // namespace quorvin
