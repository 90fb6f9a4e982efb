// What the window tests share: a watchdog per test, a window on a private
// module folder, a driver thread that acts while the window thread runs the
// window, and the X tools (xprop, xdotool, wmctrl) the checks ask.
#pragma once

#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "TempDir.h"
#include "common/Event.h"
#include "html/HtmlBaseDlg.h"
#include "html/gtk/GtkPageHost.h"

#include <gdk/gdkx.h>

namespace quorvin::testing {

inline std::string TestPages() { return QUORVIN_TEST_PAGES; }

// Ends the whole test process if the test has not finished in time, so a
// hung window can never stall the suite.
class Watchdog {
public:
    explicit Watchdog(int seconds)
        : m_thread([this, seconds] {
              std::unique_lock<std::mutex> lock(m_mutex);
              if (!m_cv.wait_for(lock, std::chrono::seconds(seconds), [this] { return m_done; })) {
                  std::fprintf(stderr, "watchdog: %s did not finish within %d s\n",
                               ::testing::UnitTest::GetInstance()->current_test_info()->name(), seconds);
                  std::fflush(stderr);
                  std::_Exit(3);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_done = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

// The output of a shell command (bounded by `timeout`).
inline std::string Shell(const std::string& command) {
    std::string out;
    FILE* p = popen(("timeout 20 " + command + " 2>/dev/null").c_str(), "r");
    if (p == nullptr) return out;
    char buf[4096];
    std::size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    pclose(p);
    return out;
}

// The name of the window manager running on the display, or empty.
inline std::string RunningWindowManager() {
    const std::string check = Shell("xprop -root _NET_SUPPORTING_WM_CHECK");
    const std::size_t id = check.find("window id # ");
    if (id == std::string::npos) return {};
    const std::string window = check.substr(id + 12, check.find_first_of(" \n", id + 12) - id - 12);
    const std::string name = Shell("xprop -id " + window + " _NET_WM_NAME");
    const std::size_t quote = name.find('"');
    if (quote == std::string::npos) return {};
    return name.substr(quote + 1, name.rfind('"') - quote - 1);
}

// openbox for the tests that need a window manager, started only when the
// display has none (a desktop's own window manager is never replaced); it
// ends with the object, and with this process should it die first.
class WindowManager {
public:
    WindowManager() {
        if (!RunningWindowManager().empty()) return;
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 100 && RunningWindowManager().empty(); ++i) Delay(100);
    }
    ~WindowManager() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // The checks know openbox's frames.
    static bool IsOpenbox() { return RunningWindowManager() == "Openbox"; }

private:
    pid_t m_pid = -1;
};

// One window under test.
class GuiWindow {
public:
    GuiWindow() {
        auto context = std::make_shared<DlgContext>();
        context->tool = std::make_shared<CCommonTool>(dir.path());
        context->hostFactory = MakePlatformPageHost;
        context->links = [this](PageWindow&) { return links; };
        params.Set("root", TestPages());
        m_context = context;
        Rebuild();
    }

    // A fresh dialog (its bridge takes the links as they are now).
    void Rebuild() {
        dlg = std::make_unique<CHtmlBaseDlg>(m_context);
        dlg->m_pParamMap = &params;
        Host().SetReadyObserver([this] { ready.Set(); });
    }

    gtk::GtkPageHost& Host() { return dynamic_cast<gtk::GtkPageHost&>(dlg->Host()); }

    // Runs the window on this (the window) thread while driver runs on its
    // own; returns the dialog's result once both are done.
    int Run(const std::function<void()>& driver) {
        std::thread t([&] {
            if (driver) driver();
        });
        const int result = dlg->RunModal();
        t.join();
        return result;
    }

    // From the driver: runs fn on the window thread and waits for it.
    void OnWindow(const std::function<void()>& fn) {
        auto done = std::make_shared<Event>();
        dlg->Post([fn, done] {
            fn();
            done->Set();
        });
        done->Wait(20000);
    }

    // From the driver: a script's JSON result in the window's page (or in
    // the innermost window when inner is set).
    std::optional<std::string> Eval(const std::string& script, bool inner = false) {
        struct Result {
            Event done;
            std::optional<std::string> json;
        };
        auto result = std::make_shared<Result>();
        OnWindow([&] {
            gtk::GtkPageHost* host = &Host();
            if (inner && !gtk::GtkPageHost::RunningWindows().empty()) host = gtk::GtkPageHost::RunningWindows().back();
            host->EvaluateScript(script, [result](std::optional<std::string> json) {
                result->json = std::move(json);
                result->done.Set();
            });
        });
        // A page blocked in a call runs the script only after the call.
        result->done.Wait(20000);
        return result->json;
    }

    // Polls a script until it gives true (at most timeoutMs).
    bool WaitForScript(const std::string& script, int timeoutMs, bool inner = false) {
        for (int waited = 0; waited <= timeoutMs; waited += 50) {
            if (Eval(script, inner) == std::optional<std::string>("true")) return true;
            Delay(50);
        }
        return false;
    }

    std::size_t RunningCount() {
        std::size_t n = 0;
        OnWindow([&] { n = gtk::GtkPageHost::RunningWindows().size(); });
        return n;
    }

    std::string XWindowId() {
        std::string id;
        OnWindow([&] {
            GdkWindow* w = gtk_widget_get_window(GTK_WIDGET(Host().Window()));
            char buf[32];
            std::snprintf(buf, sizeof buf, "0x%lx", static_cast<unsigned long>(gdk_x11_window_get_xid(w)));
            id = buf;
        });
        return id;
    }

    TempDir dir;
    ParamMap params;
    BridgeLinks links;
    std::unique_ptr<CHtmlBaseDlg> dlg;
    Event ready;  // the first load's OnDlgInit has run

private:
    std::shared_ptr<const DlgContext> m_context;
};

// The owner window of a link made before the dialog it serves: notes go to
// whichever dialog the window holds now.
class DlgProxy : public PageWindow {
public:
    explicit DlgProxy(GuiWindow& w) : m_w(w) {}
    void NotifyPage(const std::string& text) override { m_w.dlg->NotifyPage(text); }
    void Post(std::function<void()> fn) override { m_w.dlg->Post(std::move(fn)); }
    void PostClose() override { m_w.dlg->PostClose(); }

private:
    GuiWindow& m_w;
};

class GuiTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(gtk::EnsureGtk()) << "these tests need an X display (xvfb-run)"; }
};

}  // namespace quorvin::testing
