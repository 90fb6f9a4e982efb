// The orderly end after SIGTERM or SIGINT, the same with and without the
// window: the running print tasks may finish (their links still up, so
// their replies are sent) for a bounded time before the links close.
#pragma once

namespace quorvin {

class CPrintTaskRunner;
class SignalWatch;

inline constexpr int kPrintTaskGraceMs = 30000;

// Says that signal arrived, then waits until no print task runs or graceMs
// passed (a second signal ends the process meanwhile). The number of
// tasks still running, said in a line when it is not 0.
int FinishPrintTasks(int signal, SignalWatch& signals, CPrintTaskRunner& tasks, int graceMs);

}  // namespace quorvin
