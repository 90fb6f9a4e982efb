#include "commands/PrintTaskRunner.h"

#include <system_error>

namespace quorvin {

CPrintTaskRunner::CPrintTaskRunner(PrintTaskOptions options) : m_options(options) {}

CPrintTaskRunner::~CPrintTaskRunner() {
    std::list<Worker> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        workers.swap(m_workers);
    }
    for (Worker& w : workers) w.thread.join();
}

void CPrintTaskRunner::ReapFinished() {
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = m_workers.erase(it);
        } else {
            ++it;
        }
    }
}

bool CPrintTaskRunner::Start(std::unique_ptr<PRINT_TASK> task) {
    if (!task) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    ReapFinished();
    auto done = std::make_shared<std::atomic<bool>>(false);
    // The thread takes the task only once it runs; if no thread can be
    // made the task is dropped here and the dispatcher answers.
    auto shared = std::make_shared<std::unique_ptr<PRINT_TASK>>(std::move(task));
    // The place in line is taken here, in the order the commands arrived,
    // not when the thread happens to run.
    auto turn = std::make_shared<CTaskTurns::Ticket>(m_turns.Take());
    try {
        std::thread thread([this, shared, done, turn] {
            PrintTaskProc(std::move(*shared), m_options, std::move(*turn));
            done->store(true);
        });
        m_workers.push_back(Worker{std::move(thread), done});
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

PrintTaskStarter CPrintTaskRunner::Starter() {
    return [this](std::unique_ptr<PRINT_TASK> task) { return Start(std::move(task)); };
}

int CPrintTaskRunner::Running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    int running = 0;
    for (const Worker& w : m_workers) running += w.done->load() ? 0 : 1;
    return running;
}

}  // namespace quorvin
