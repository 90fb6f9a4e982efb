// The agent's entry point.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "app/AgentOptions.h"
#include "app/AgentStart.h"
#include "app/OrderlyEnd.h"
#include "app/QuorvinApp.h"
#include "app/SignalWatch.h"
#include "commands/PrintTaskRunner.h"
#include "common/CommonTool.h"
#include "common/Platform.h"
#include "html/HtmlBaseDlg.h"
#include "http/ConfigDownload.h"
#include "link/ChatManager.h"
#include "link/WsChatManager.h"

namespace {

// The main window while it runs, for the signal watcher to close.
std::mutex g_windowMutex;
quorvin::PageWindow* g_window = nullptr;
bool g_ending = false;  // a signal came: the window is not to be shown

// Hands the start-up values to the main window in the order it takes them,
// then shows it until it closes.
void RunMainWindow(const quorvin::StartupValues& values) {
    const quorvin::WindowSettings& w = values.window;
    quorvin::CHtmlBaseDlg dlg;
    dlg.m_pParamMap = &values.params;
    dlg.m_strPageParam = w.pageParam;
    dlg.m_strTitle = w.title;
    dlg.SetUrl(w.url);
    dlg.SetPosition(w.x, w.y, w.width, w.height);
    dlg.SetAlign(w.align);
    dlg.SetStatus(w.status);
    dlg.SetCaption(w.caption);
    dlg.SetSysMenu(w.sysmenu);
    dlg.SetMinBox(w.minbox);
    dlg.SetMaxBox(w.maxbox);
    dlg.SetBorder(w.border);
    bool show = true;
    {
        std::lock_guard<std::mutex> lock(g_windowMutex);
        show = !g_ending;
        if (show) g_window = &dlg;
    }
    if (show) dlg.RunModal();
    {
        std::lock_guard<std::mutex> lock(g_windowMutex);
        g_window = nullptr;
    }
    // The links end while their owner window still exists.
    quorvin::CloseProcessLinks();
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    if (const std::optional<int> rc = quorvin::ReadOptions(argc, argv, QUORVIN_VERSION, headless)) return *rc;
    if (headless) {
        // The windowless agent is a program of its own beside this one, so
        // it never maps the window's libraries.
        const std::string exe = quorvin::platform::ExecutablePath();
        const std::string path = exe.substr(0, exe.rfind('/') + 1) + "quorvin-headless";
        const std::string why = quorvin::platform::RunInstead(path, argv);
        std::fprintf(stderr, "quorvin: cannot run %s: %s\n", path.c_str(), why.c_str());
        return 127;
    }
    // Before anything else: a signal during start-up is then an orderly end.
    quorvin::SignalWatch signals;
    std::setlocale(LC_ALL, "");
    if (!quorvin::ProgramDirUsable()) return 1;
    quorvin::CCommonTool tool;
    // Print tasks answer on the links: the runner is made first and, at the
    // end of main, waits for the tasks still running, after RunMainWindow
    // has closed the links.
    quorvin::CPrintTaskRunner printTasks;
    const quorvin::LinkPrintTasks linked(printTasks);
    // SIGTERM and SIGINT: the print tasks finish, then the window closes
    // as for ExitQuorvin.
    bool tasksLeft = false;
    std::thread watcher([&] {
        const int signal = signals.Wait(-1);
        if (signal <= 0) return;  // the window closed first
        tasksLeft = quorvin::FinishPrintTasks(signal, signals, printTasks, quorvin::kPrintTaskGraceMs) > 0;
        std::lock_guard<std::mutex> lock(g_windowMutex);
        g_ending = true;
        if (g_window != nullptr) g_window->PostClose();
    });
    quorvin::CQuorvinApp app(tool.GetModuleDir(), quorvin::MakeConfigFetcher(quorvin::ConfigServerOrigin()),
                             RunMainWindow);
    app.InitInstance();
    if (!app.WindowShown()) {
        std::fprintf(stderr, "quorvin: no usable config.json beside %s\n", tool.GetModuleDir().c_str());
    }
    signals.Wake();
    watcher.join();
    const int rc = app.ExitInstance();
    if (tasksLeft) {
        // The signal's sender was promised an end within the grace time:
        // the runner's threads are not waited for.
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
