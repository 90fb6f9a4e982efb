// Following a print task's job through the printer's queue, as the
// WebSocket link's tasks do before they answer.
#pragma once

#include "commands/PrintTask.h"

namespace quorvin {

// Looks at job jobId of the task's printer at once and then every
// options.jobLookMs while it waits or prints; every look first tells the
// page the printer's job status ("printer.status"). Printed once the job
// completed (also when it left the queue before the first look); not
// completed when it was cancelled, aborted or vanished, when the link's
// task-cancel event is set (the link ended), or after options.jobFollowMs;
// each of those leaves one line on stderr about what (the task, named so
// by the caller).
PrintOutcome FollowPrintJob(PRINT_TASK& task, int jobId, const PrintTaskOptions& options,
                            const std::string& what = "print task");

}  // namespace quorvin
