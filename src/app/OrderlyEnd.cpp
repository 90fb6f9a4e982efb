#include "app/OrderlyEnd.h"

#include <chrono>
#include <string>

#include "app/SignalWatch.h"
#include "commands/PrintTaskRunner.h"
#include "common/Log.h"

namespace quorvin {

int FinishPrintTasks(int signal, SignalWatch& signals, CPrintTaskRunner& tasks, int graceMs) {
    LogFailure("agent", "signal " + std::to_string(signal) + ": ending after the running print tasks (at most " +
                            std::to_string(graceMs / 1000) + " s)");
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(graceMs);
    // The runner has no completion event; a tenth of a second is quick
    // enough for an end and costs nothing while tasks run.
    while (tasks.Running() > 0 && std::chrono::steady_clock::now() < deadline) signals.Wait(100);
    const int left = tasks.Running();
    if (left > 0) LogFailure("agent", std::to_string(left) + " print task(s) still running; ending without them");
    return left;
}

}  // namespace quorvin
