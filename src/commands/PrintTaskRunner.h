// CPrintTaskRunner: runs each print task on a thread of its own. Tasks do
// not wait for one another or for the link; the runner only keeps their
// threads, so that none outlives it: its destructor waits for the tasks
// still running. Make it before the links it serves and give them
// Starter(); it must outlive them.
#pragma once

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "commands/PrintTask.h"

namespace quorvin {

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

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void ReapFinished();  // with m_mutex held

    const PrintTaskOptions m_options;
    mutable std::mutex m_mutex;
    std::list<Worker> m_workers;
};

}  // namespace quorvin
