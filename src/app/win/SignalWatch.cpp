// Console control events as the signals of the POSIX build: Ctrl+C is
// SIGINT; Ctrl+Break, closing the console, logoff and shutdown are
// SIGTERM. The system runs the handler on a thread of its own; it only
// queues the event, and Wait does the rest on the loop's thread.
#include "app/SignalWatch.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <deque>
#include <mutex>

namespace quorvin {
namespace {

// Signals and Wakes (0) in the order they came, for Wait.
std::mutex g_mutex;
std::condition_variable g_cv;
std::deque<int> g_queue;
std::atomic<int> g_signals{0};

// How long a close, logoff or shutdown waits for the orderly end: the
// system ends the process when the handler returns.
constexpr DWORD kCloseGraceMs = 5000;

void Push(int value) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_queue.push_back(value);
    }
    g_cv.notify_all();
}

BOOL WINAPI OnControl(DWORD type) {
    const int sig = type == CTRL_C_EVENT ? SIGINT : SIGTERM;
    if (g_signals.fetch_add(1) > 0) ExitProcess(128 + sig);
    Push(sig);
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) Sleep(kCloseGraceMs);
    return TRUE;
}

}  // namespace

SignalWatch::SignalWatch() { m_ok = SetConsoleCtrlHandler(OnControl, TRUE) != 0; }

SignalWatch::~SignalWatch() {
    SetConsoleCtrlHandler(OnControl, FALSE);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_queue.clear();
}

int SignalWatch::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(g_mutex);
    const auto ready = [] { return !g_queue.empty(); };
    if (timeoutMs < 0) {
        g_cv.wait(lock, ready);
    } else if (!g_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
        return -1;
    }
    const int value = g_queue.front();
    g_queue.pop_front();
    return value;
}

void SignalWatch::Wake() { Push(0); }

}  // namespace quorvin
