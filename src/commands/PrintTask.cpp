#include "commands/PrintTask.h"

#include <cjson/cJSON.h>

#include "commands/PrintJobFollower.h"
#include "common/CodePage.h"
#include "common/Json.h"
#include "common/Log.h"
#include "http/HttpDownloader.h"
#include "message/ChatLink.h"
#include "message/Envelope.h"
#include "printing/PrinterManager.h"

namespace quorvin {
namespace {

std::string FoldAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// True when the spooler lists the printer, letters compared without regard
// to case. Compared in UTF-8: there no byte of a multi-byte character can
// pass for an ASCII letter, as a double-byte code page's trail bytes can.
// A spooler that cannot be asked lists nothing (and has said why).
bool PrinterExists(CPrinterManager& printers, const std::string& localName, const std::string& what) {
    const std::string wanted = FoldAscii(LocalToUtf8(localName));
    const std::string listing = printers.GetAllPrinters();
    if (listing.empty()) return false;
    JsonPtr list = ParseJson(LocalToUtf8(listing));
    if (!list || !cJSON_IsArray(list.get())) return false;
    const cJSON* item = nullptr;
    cJSON_ArrayForEach(item, list.get()) {
        if (cJSON_IsString(item) && item->valuestring != nullptr && FoldAscii(item->valuestring) == wanted) return true;
    }
    LogFailure("print task", what + ": no such printer");
    return false;
}

// "scheme://host[:port]" and "/path?query" of an image address. Without
// "://" the search for the path starts at 2; without a path the server
// part is empty (and the download fails).
void SplitRemoteUri(const std::string& uri, std::string& server, std::string& object) {
    const std::size_t scheme = uri.find("://");
    const std::size_t from = scheme == std::string::npos ? 2 : scheme + 3;
    const std::size_t slash = uri.find('/', std::min(from, uri.size()));
    if (slash == std::string::npos) {
        server.clear();
        object = uri;
        return;
    }
    server = uri.substr(0, slash);
    object = uri.substr(slash);
}

}  // namespace

int PrintTaskProc(std::unique_ptr<PRINT_TASK> task, const PrintTaskOptions& options, CTaskTurns::Ticket turn) {
    if (!task || task->link == nullptr || !task->job) return 0;
    ChatLink& link = *task->link;
    PRINT_JOB_EVT& job = *task->job;
    CommandMessage msg;
    // The dispatcher read this very text before it started the task.
    if (!ReadCommandMessage(task->message, msg)) return 0;
    const std::string remoteUri = msg.Arg("szRemoteURI");

    link.NotifyPage(PrintTaskNotice("printer.task.begin", job.strPrinterName, job.strFileName));

    turn.Wait();
    PrintOutcome outcome = PrintOutcome::Printed;
    const std::string what = remoteUri + " on " + LocalToUtf8(job.strPrinterName);
    if (!PrinterExists(link.Printers(), job.strPrinterName, what)) {
        outcome = PrintOutcome::PrinterMissing;
    } else {
        std::string server, object;
        SplitRemoteUri(remoteUri, server, object);
        CHttpDownloader downloader(options.downloadWaitMs);
        downloader.Open();
        const bool downloaded = downloader.DownloadFile(server, object, job.strLocalFile);
        downloader.Close();
        if (!downloaded) {
            outcome = PrintOutcome::DownloadFailed;
        } else {
            // The name as received, whatever its letter case.
            const int jobId = link.Printers().PrintImageFile(job.strPrinterName, job.strLocalFile);
            // Following a job waits on the printer, not on this machine.
            turn.Release();
            // An image the printer never got is no success.
            if (jobId <= 0) {
                outcome = PrintOutcome::PrintNotCompleted;
            } else if (link.Kind() == LinkKind::WebSocket) {
                outcome = FollowPrintJob(*task, jobId, options, what);
            }
        }
    }
    turn.Release();

    std::string result;
    switch (outcome) {
        case PrintOutcome::Printed:
            link.NotifyPage(PrintTaskNotice("printer.task.success", job.strPrinterName, job.strFileName));
            result = SuccessResult();
            break;
        case PrintOutcome::PrinterMissing:
            link.NotifyPage(PrintTaskNotice("printer.task.fail", job.strPrinterName, job.strFileName, kNoPrinter));
            result = FailureResult(kNoPrinter);
            break;
        case PrintOutcome::DownloadFailed:
            // This notice names the remote address, not the local file.
            link.NotifyPage(
                PrintTaskNotice("printer.task.fail", job.strPrinterName, Utf8ToLocal(remoteUri), kDownloadFailed));
            result = FailureResult(kDownloadFailed);
            break;
        case PrintOutcome::PrintNotCompleted:
            link.NotifyPage(PrintTaskNotice("printer.task.fail", job.strPrinterName, job.strFileName, kPrintNotDone));
            result = FailureResult(kPrintNotDone);
            break;
    }
    link.SendText(FormatReply(msg, result));
    return 0;
}

}  // namespace quorvin
