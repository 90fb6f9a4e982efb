// CPrintTaskRunner: runs each print task on a thread of its own. At most
// kPrintTaskTurns tasks download, decode and submit at once; later ones
// wait their turn in the order they arrived (a task that only follows its
// job holds none). None is refused or lost. The runner keeps the tasks'
// threads, so that none outlives it: its destructor waits for the tasks
// still running or waiting. Make it before the links it serves and give
// them Starter(); it must outlive them.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "commands/PrintTask.h"

namespace quorvin {

inline constexpr int kPrintTaskTurns = 4;

class CPrintTaskRunner {
public:
    explicit CPrintTaskRunner(PrintTaskOptions options = {});
    ~CPrintTaskRunner();
    CPrintTaskRunner(const CPrintTaskRunner&) = delete;
    CPrintTaskRunner& operator=(const CPrintTaskRunner&) = delete;

    // Starts the task's thread; false when no thread could be made.
    bool Start(std::unique_ptr<PRINT_TASK> task);
    // Start as the dispatcher's hook.
    PrintTaskStarter Starter();
    // Tasks started and not yet finished.
    int Running() const;
    // Tasks waiting for their turn to download.
    int Waiting() const { return m_turns.Waiting(); }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void ReapFinished();  // with m_mutex held

    const PrintTaskOptions m_options;
    CTaskTurns m_turns{kPrintTaskTurns};
    mutable std::mutex m_mutex;
    std::list<Worker> m_workers;
};

}  // namespace quorvin
