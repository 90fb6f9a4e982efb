// TaskWindow: work handed to one thread's message loop. A message-only
// window of the thread that made it; any thread posts a function, the
// window's thread runs it at its next message, in posting order. Each
// message runs one function, so a function that runs a nested loop (a
// modal child window) does not hold back the ones posted after it.
#pragma once

#include <windows.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace quorvin::win {

class TaskWindow {
public:
    TaskWindow();
    ~TaskWindow() { Close(); }
    // Destroys the window; functions not yet run are dropped and later ones
    // refused. On the window's thread.
    void Close();
    TaskWindow(const TaskWindow&) = delete;
    TaskWindow& operator=(const TaskWindow&) = delete;

    // False when the window could not be made.
    bool Valid() const { return m_hwnd != nullptr; }
    // Any thread. False (fn dropped) when the window is gone or could not
    // take the message.
    bool Post(std::function<void()> fn);

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void RunOne();

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_messagePending = false;
    HWND m_hwnd = nullptr;  // null once destroyed (under m_mutex)
};

}  // namespace quorvin::win
