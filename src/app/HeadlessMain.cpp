// The agent without its window (quorvin-headless, which "quorvin
// --headless" runs): start-up as usual, then the links of config.json's
// "param" until ExitQuorvin or SIGTERM/SIGINT.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/AgentOptions.h"
#include "app/AgentStart.h"
#include "app/HeadlessRunner.h"
#include "app/QuorvinApp.h"
#include "app/SignalWatch.h"
#include "commands/PrintTaskRunner.h"
#include "common/CommonTool.h"
#include "http/ConfigDownload.h"
#include "link/ChatManager.h"
#include "link/WsChatManager.h"

int main(int argc, char** argv) {
    bool headless = true;
    if (const std::optional<int> rc = quorvin::ReadOptions(argc, argv, QUORVIN_VERSION, headless)) return *rc;
    // Before anything else: a signal during start-up is then an orderly end.
    quorvin::SignalWatch signals;
    std::setlocale(LC_ALL, "");

    if (!quorvin::ProgramDirUsable()) return 1;
    quorvin::CCommonTool tool;
    // Print tasks answer on the links: the runner is made first and, at the
    // end of main, waits for the tasks still running, after the run has
    // closed the links.
    quorvin::CPrintTaskRunner printTasks;
    const quorvin::LinkPrintTasks linked(printTasks);

    int rc = 1;
    bool tasksLeft = false;
    quorvin::CQuorvinApp app(
        tool.GetModuleDir(), quorvin::MakeConfigFetcher(quorvin::ConfigServerOrigin()),
        [&](const quorvin::StartupValues& values) {
            std::string why;
            const std::optional<quorvin::LinkParams> params = quorvin::ReadLinkParams(values.linkParam, why);
            if (!params) {
                std::fprintf(stderr, "quorvin: %s\n", why.c_str());
                return;
            }
            rc = 0;
            tasksLeft = quorvin::RunHeadless(*params, signals, printTasks) == quorvin::HeadlessEnd::TasksLeft;
        });
    app.InitInstance();
    if (!app.WindowShown()) std::fprintf(stderr, "quorvin: no usable config.json in %s\n", tool.GetModuleDir().c_str());
    app.ExitInstance();
    if (tasksLeft) {
        // The signal's sender was promised an end within the grace time:
        // the runner's threads are not waited for.
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
