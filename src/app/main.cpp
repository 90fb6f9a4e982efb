// The agent's entry point.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "app/HeadlessRunner.h"
#include "app/QuorvinApp.h"
#include "app/SignalWatch.h"
#include "commands/PrintTaskRunner.h"
#include "common/CommonTool.h"
#include "html/HtmlBaseDlg.h"
#include "http/ConfigDownload.h"
#include "link/ChatManager.h"
#include "link/WsChatManager.h"

namespace {

constexpr const char* kUsage =
    "usage: quorvin [--headless]\n"
    "  (no option)  show the agent's window with the page of config.json\n"
    "  --headless   run without a window: connect the links of config.json's \"param\"\n"
    "               and write every notification to stderr; SIGTERM or SIGINT ends it\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "The agent's files (config.json, seqno.txt, temp/, ...) are beside the executable,\n"
    "or in the folder named by the environment variable QUORVIN_HOME.\n";

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
    dlg.RunModal();
    // The links end while their owner window still exists.
    quorvin::CloseProcessLinks();
}

}  // namespace

int main(int argc, char** argv) {
    bool headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quorvin %s\n", QUORVIN_VERSION);
            return 0;
        } else {
            std::fprintf(stderr, "quorvin: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    std::setlocale(LC_ALL, "");
    // Before anything else: a signal during start-up is then an orderly end.
    std::optional<quorvin::SignalWatch> signals;
    if (headless) signals.emplace();

    const std::string problem = quorvin::ProgramDirProblem();
    if (!problem.empty()) {
        std::fprintf(stderr, "quorvin: %s\n", problem.c_str());
        return 1;
    }
    quorvin::CCommonTool tool;
    // Print tasks answer on the links: the runner is made first and, at the
    // end of main, waits for the tasks still running, after the run has
    // closed the links.
    quorvin::CPrintTaskRunner printTasks;
    quorvin::CChatManager::GetInstance(nullptr).SetPrintTaskStarter(printTasks.Starter());
    quorvin::CWsChatManager::GetInstance(nullptr).SetPrintTaskStarter(printTasks.Starter());

    int rc = 0;
    bool tasksLeft = false;
    quorvin::CQuorvinApp::WindowRunner runner = RunMainWindow;
    if (headless) {
        runner = [&](const quorvin::StartupValues& values) {
            std::string why;
            const std::optional<quorvin::LinkParams> params = quorvin::ReadLinkParams(values.linkParam, why);
            if (!params) {
                std::fprintf(stderr, "quorvin: %s\n", why.c_str());
                rc = 1;
                return;
            }
            tasksLeft = quorvin::RunHeadless(*params, *signals, printTasks) == quorvin::HeadlessEnd::TasksLeft;
        };
    }
    quorvin::CQuorvinApp app(tool.GetModuleDir(), quorvin::MakeConfigFetcher(quorvin::ConfigServerOrigin()), runner);
    app.InitInstance();
    if (!app.WindowShown()) {
        std::fprintf(stderr, "quorvin: no usable config.json in %s\n", tool.GetModuleDir().c_str());
        if (headless) rc = 1;
    }
    const int exitRc = app.ExitInstance();
    if (rc == 0) rc = exitRc;
    // The links outlive this function; they must not keep a way into the
    // runner that is about to go.
    quorvin::CChatManager::GetInstance(nullptr).SetPrintTaskStarter(nullptr);
    quorvin::CWsChatManager::GetInstance(nullptr).SetPrintTaskStarter(nullptr);
    if (tasksLeft) {
        // Waiting for the runner's threads is what the signal's sender was
        // promised not to have to do.
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
