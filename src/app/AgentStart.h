// What both executables do first and last around their run.
#pragma once

#include <cstdio>
#include <string>

#include "commands/PrintTaskRunner.h"
#include "common/CommonTool.h"
#include "link/ChatManager.h"
#include "link/WsChatManager.h"

namespace quorvin {

// False, after one line on stderr, when the program folder cannot be used.
inline bool ProgramDirUsable() {
    const std::string problem = ProgramDirProblem();
    if (problem.empty()) return true;
    std::fprintf(stderr, "quorvin: %s\n", problem.c_str());
    return false;
}

// Print tasks answer on the links: while this lives both links hand their
// tasks to the runner. The links outlive main, so they must not keep a way
// into the runner once it goes: declare this after the runner.
class LinkPrintTasks {
public:
    explicit LinkPrintTasks(CPrintTaskRunner& runner) {
        CChatManager::GetInstance(nullptr).SetPrintTaskStarter(runner.Starter());
        CWsChatManager::GetInstance(nullptr).SetPrintTaskStarter(runner.Starter());
    }
    ~LinkPrintTasks() {
        CChatManager::GetInstance(nullptr).SetPrintTaskStarter(nullptr);
        CWsChatManager::GetInstance(nullptr).SetPrintTaskStarter(nullptr);
    }
    LinkPrintTasks(const LinkPrintTasks&) = delete;
    LinkPrintTasks& operator=(const LinkPrintTasks&) = delete;
};

}  // namespace quorvin
