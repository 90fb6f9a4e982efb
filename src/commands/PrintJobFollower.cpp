#include "commands/PrintJobFollower.h"

#include <chrono>

#include "common/Deadline.h"
#include "common/Log.h"
#include "message/ChatLink.h"
#include "message/Envelope.h"
#include "printing/PrinterManager.h"

namespace quorvin {

PrintOutcome FollowPrintJob(PRINT_TASK& task, int jobId, const PrintTaskOptions& options, const std::string& what) {
    ChatLink& link = *task.link;
    PRINT_JOB_EVT& job = *task.job;
    // A link that never ends its tasks gets an event nobody sets.
    std::shared_ptr<Event> cancel = link.TaskCancelEvent();
    if (!cancel) cancel = std::make_shared<Event>();
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(options.jobFollowMs);
    auto leftMs = [&] { return RemainingMs(deadline); };

    const std::string jobText = "job " + std::to_string(jobId);
    auto notCompleted = [&](const std::string& why) {
        LogFailure("print task", what + ": " + jobText + " " + why);
        return PrintOutcome::PrintNotCompleted;
    };
    for (;;) {
        // The job event is set again after every pause, so the bound is
        // checked on its own.
        const int left = leftMs();
        const std::string late = "not done after " + std::to_string(options.jobFollowMs) + " ms";
        if (left == 0) return notCompleted(late);
        const int woken = WaitAny({cancel.get(), &job.hJobEvent}, left);
        if (woken == 0) return notCompleted("left unfollowed: the link ended");
        if (woken != 1) return notCompleted(late);
        job.hJobEvent.Reset();
        // The job's state is read before the listing, so the listing that
        // precedes a success is one the finished job has already left.
        const JobState state = link.Printers().GetJobState(job.strPrinterName, jobId);
        link.NotifyPage(PrintStatusNotice(job.strPrinterName, job.strFileName,
                                          link.Printers().GetPrinterJobStatus(job.strPrinterName)));
        switch (state) {
            case JobState::Completed: return PrintOutcome::Printed;
            case JobState::Failed: return notCompleted("was cancelled or aborted");
            case JobState::Unknown: return notCompleted("is unknown to the spooler");
            case JobState::Active:
            case JobState::Unreachable: break;
        }
        // The pause between looks ends early only for a cancel, which the
        // next wait then reports.
        WaitAny({cancel.get()}, std::min(options.jobLookMs, leftMs()));
        job.hJobEvent.Set();
    }
}

}  // namespace quorvin
