// The records a PrintWebJpegImage command hands to its print task, and the
// hook through which the dispatcher starts one. The task itself (download,
// print, notify, reply) lives elsewhere and is installed as a starter.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "commands/TaskTurns.h"
#include "common/Event.h"

namespace quorvin {

class ChatLink;

struct PRINT_JOB_EVT {
    std::string strPrinterName;  // local code page, backslashes restored
    std::string strFileName;     // the local file with every backslash written as "^"
    std::string strLocalFile;    // the local file as the file system knows it
    Event hJobEvent;             // paces the job-status polling; signalled before the task starts
};

struct PRINT_TASK {
    ChatLink* link = nullptr;  // the link the command came on; outlives the task
    std::string message;       // the command message as received
    std::unique_ptr<PRINT_JOB_EVT> job;
};

// Starts a print task on a thread of its own and takes the task over.
// False when no task could be started (the dispatcher then answers).
using PrintTaskStarter = std::function<bool(std::unique_ptr<PRINT_TASK> task)>;

}  // namespace quorvin

namespace quorvin {

// How a task ends, as the page and the server are told.
enum class PrintOutcome { Printed, PrinterMissing, DownloadFailed, PrintNotCompleted };

struct PrintTaskOptions {
    int downloadWaitMs = 30000;  // the download's bound
    // A task on a link that follows its jobs (the WebSocket link) looks at
    // the job this often while it waits or prints, and gives up after
    // jobFollowMs. Tests shorten them.
    int jobLookMs = 15000;
    int jobFollowMs = 10 * 60 * 1000;
};

// One PrintWebJpegImage task from start to reply, on the calling thread:
// printer check, download, printing, page notices, reply on the task's
// link. The begin notice goes out at once; the check, download, decode and
// submit wait for turn's turn and give it back before the job is followed.
// Returns 0.
int PrintTaskProc(std::unique_ptr<PRINT_TASK> task, const PrintTaskOptions& options = {}, CTaskTurns::Ticket turn = {});

}  // namespace quorvin
