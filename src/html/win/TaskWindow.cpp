#include "html/win/TaskWindow.h"

namespace quorvin::win {
namespace {

constexpr UINT kRunTask = WM_APP + 1;
constexpr wchar_t kClassName[] = L"QuorvinTaskWindow";

bool RegisterOnce(WNDPROC proc) {
    static const bool ok = [proc] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return ok;
}

}  // namespace

TaskWindow::TaskWindow() {
    if (!RegisterOnce(Proc)) return;
    m_hwnd =
        CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (m_hwnd != nullptr) SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void TaskWindow::Close() {
    HWND hwnd = nullptr;
    std::deque<std::function<void()>> dropped;
    {
        std::lock_guard lock(m_mutex);
        hwnd = m_hwnd;
        m_hwnd = nullptr;
        dropped.swap(m_tasks);
    }
    if (hwnd == nullptr) return;
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
    DestroyWindow(hwnd);
}

bool TaskWindow::Post(std::function<void()> fn) {
    std::lock_guard lock(m_mutex);
    if (m_hwnd == nullptr) return false;
    m_tasks.push_back(std::move(fn));
    if (m_messagePending) return true;
    if (!PostMessageW(m_hwnd, kRunTask, 0, 0)) {
        m_tasks.pop_back();  // the queue is full: say so rather than keep it for a message that never comes
        return false;
    }
    m_messagePending = true;
    return true;
}

void TaskWindow::RunOne() {
    std::function<void()> fn;
    {
        std::lock_guard lock(m_mutex);
        m_messagePending = false;
        if (m_tasks.empty()) return;
        fn = std::move(m_tasks.front());
        m_tasks.pop_front();
        // The next one gets its own message before this one runs, so a
        // nested loop inside fn still reaches it.
        if (!m_tasks.empty() && m_hwnd != nullptr && PostMessageW(m_hwnd, kRunTask, 0, 0)) m_messagePending = true;
    }
    fn();  // may destroy this window: nothing of it is touched afterwards
}

LRESULT CALLBACK TaskWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == kRunTask) {
        auto* self = reinterpret_cast<TaskWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self != nullptr) self->RunOne();
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

}  // namespace quorvin::win
