#include "commands/CommandDispatcher.h"

#include <strings.h>

#include <cstdint>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "message/ChatLink.h"
#include "message/Envelope.h"
#include "printing/PrinterManager.h"

namespace quorvin {

namespace {

bool NameIs(const std::string& name, const char* command) { return strcasecmp(name.c_str(), command) == 0; }

enum class PathArg { Ok, Empty, Escapes };

// A path argument relative to the program directory: separators restored,
// then converted to the local code page. Empty is judged before the
// conversion; a ".." segment would leave the program directory.
PathArg ReadPathArg(const CommandMessage& msg, const char* member, std::string& local) {
    const std::string path = PathFromWire(msg.Arg(member));
    if (path.empty()) return PathArg::Empty;
    if (PathLeavesBase(path)) return PathArg::Escapes;
    local = Utf8ToLocal(path);
    return PathArg::Ok;
}

std::string ReadPrinterArg(const CommandMessage& msg, const char* member) {
    return Utf8ToLocal(PrinterNameFromWire(msg.Arg(member)));
}

std::string ReadLocalArg(const CommandMessage& msg, const char* member) { return Utf8ToLocal(msg.Arg(member)); }

std::string InBase(const CCommonTool& tool, const std::string& relative) {
    return tool.GetModuleDir() + "/" + relative;
}

// A printer listing for the reply; a spooler that could not be asked (an
// empty listing text) is a failed call, not an empty list.
std::string Listing(const std::string& localJson) {
    return localJson.empty() ? FailureResult(kCallFailed) : ListingToWire(localJson);
}

}  // namespace

CCommandDispatcher::CCommandDispatcher(ChatLink& link) : m_link(link) {}

void CCommandDispatcher::SetPrintTaskStarter(PrintTaskStarter starter) {
    std::lock_guard<std::mutex> lock(m_starterMutex);
    m_starter = std::move(starter);
}

void CCommandDispatcher::DispatchCommand(const std::string& text) {
    m_link.NotifyPage(m_link.ReceivedNotice(text));
    CommandMessage msg;
    if (!ReadCommandMessage(text, msg)) {
        m_link.NotifyPage(JsonErrorNotice());
        return;
    }
    const std::optional<std::string> result = Execute(msg);
    if (!result) return;  // not a command, or a print task answers later
    m_link.SendText(FormatReply(msg, *result));
    if (NameIs(msg.name, "ExitQuorvin")) m_link.CloseOwnerWindow();
}

std::optional<std::string> CCommandDispatcher::Execute(const CommandMessage& msg) {
    const std::string& n = msg.name;
    if (NameIs(n, "ExitQuorvin")) return std::string("{}");
    if (NameIs(n, "GetAllPrn")) return Listing(m_link.Printers().GetAllPrinters());
    if (NameIs(n, "GetDefaultPrn")) return Listing(m_link.Printers().GetDefaultPrinter());
    if (NameIs(n, "GetDefaultPrnAndPaper")) return Listing(m_link.Printers().GetDefaultPrinterAndPaper());
    if (NameIs(n, "SetDefaultPrn")) return SetDefaultPrn(msg);
    if (NameIs(n, "AddCustomPaper")) return AddCustomPaper(msg);
    if (NameIs(n, "DeleteCustomPaper")) return DeleteCustomPaper(msg);
    if (NameIs(n, "SetPaper")) return SetPaper(msg);
    if (NameIs(n, "GetPaperSize")) return GetPaperSize(msg);
    if (NameIs(n, "GetPrinterJobStatus")) return GetPrinterJobStatus(msg);
    if (NameIs(n, "PrintAtCmd1")) return PrintAtCmd1(msg);
    if (NameIs(n, "GetCurrentDir")) return GetCurrentDir();
    if (NameIs(n, "MakeDir")) return MakeDir(msg);
    if (NameIs(n, "PrintWebJpegImage")) return PrintWebJpegImage(msg);
    return std::nullopt;
}

std::string CCommandDispatcher::SetDefaultPrn(const CommandMessage& msg) {
    const std::string name = PrinterNameFromWire(msg.Arg("mPrinterName"));
    if (name.empty()) return FailureResult(kParamError);
    return m_link.Printers().SetDefaultPrinter(Utf8ToLocal(name)) ? SuccessResult() : FailureResult(kCallFailed);
}

std::string CCommandDispatcher::AddCustomPaper(const CommandMessage& msg) {
    const int ok = m_link.Printers().AddCustomPaper(
        ReadPrinterArg(msg, "szPrinterName"), ReadLocalArg(msg, "szPaperName"), msg.IntArg("cx"), msg.IntArg("cy"),
        msg.IntArg("left"), msg.IntArg("top"), msg.IntArg("right"), msg.IntArg("bottom"));
    return ok != 0 ? SuccessResult() : FailureResult(kCallFailed);
}

std::string CCommandDispatcher::DeleteCustomPaper(const CommandMessage& msg) {
    const int ok =
        m_link.Printers().DeleteCustomPaper(ReadPrinterArg(msg, "szPrinterName"), ReadLocalArg(msg, "szPaperName"));
    return ok != 0 ? SuccessResult() : FailureResult(kCallFailed);
}

std::string CCommandDispatcher::SetPaper(const CommandMessage& msg) {
    // Only the low 16 bits of the orientation travel (a Windows short).
    const auto orientation = static_cast<std::int16_t>(static_cast<std::uint16_t>(msg.IntArg("nOrientation")));
    const int ok = m_link.Printers().SetPaper(ReadPrinterArg(msg, "szPrinterName"), ReadLocalArg(msg, "szPaperName"),
                                              msg.IntArg("nCopy"), orientation);
    return ok != 0 ? SuccessResult() : FailureResult(kCallFailed);
}

std::string CCommandDispatcher::GetPaperSize(const CommandMessage& msg) {
    const int code = m_link.Printers().GetPaperSize(ReadPrinterArg(msg, "szPrinterName"),
                                                    ReadLocalArg(msg, "szPortName"), ReadLocalArg(msg, "szPaperName"));
    const auto low = static_cast<std::int16_t>(static_cast<std::uint16_t>(code));
    return "{\"paperSize\":\"" + std::to_string(low) + "\"}";
}

std::string CCommandDispatcher::GetPrinterJobStatus(const CommandMessage& msg) {
    return ListingToWire(m_link.Printers().GetPrinterJobStatus(ReadPrinterArg(msg, "szPrinterName")));
}

std::string CCommandDispatcher::PrintAtCmd1(const CommandMessage& msg) {
    std::string relative;
    if (ReadPathArg(msg, "strFullFileName", relative) != PathArg::Ok) return FailureResult(kParamError);
    return m_link.Printers().ShellPrintFile(InBase(m_link.Tool(), relative)) ? SuccessResult()
                                                                             : FailureResult(kCallFailed);
}

std::string CCommandDispatcher::GetCurrentDir() {
    return "{\"dir\":\"" + ValueToWire(m_link.Tool().GetModuleDir()) + "\"}";
}

std::string CCommandDispatcher::MakeDir(const CommandMessage& msg) {
    std::string relative;
    if (ReadPathArg(msg, "mDirName", relative) != PathArg::Ok) return FailureResult(kParamError);
    CCommonTool& tool = m_link.Tool();
    const std::string path = InBase(tool, relative);
    tool.CreatePath(path);
    return tool.IsDirectory(path) ? SuccessResult() : FailureResult(kCallFailed);
}

std::optional<std::string> CCommandDispatcher::PrintWebJpegImage(const CommandMessage& msg) {
    std::string relative;
    // An empty path is the task's to fail on (its download cannot be written);
    // only a path leaving the program directory is refused here.
    if (ReadPathArg(msg, "szLocalPath", relative) == PathArg::Escapes) return FailureResult(kParamError);
    PrintTaskStarter starter;
    {
        std::lock_guard<std::mutex> lock(m_starterMutex);
        starter = m_starter;
    }
    if (!starter) return FailureResult(kCallFailed);

    auto task = std::make_unique<PRINT_TASK>();
    task->link = &m_link;
    task->message = msg.text;
    task->job = std::make_unique<PRINT_JOB_EVT>();
    task->job->strPrinterName = ReadPrinterArg(msg, "printerName");
    task->job->strLocalFile = InBase(m_link.Tool(), relative);
    task->job->strFileName = CaretForm(task->job->strLocalFile);
    // Signalled before the hand-over: once the task runs it owns the record
    // and may already have released it.
    task->job->hJobEvent.Set();
    if (!starter(std::move(task))) return FailureResult(kCallFailed);
    return std::nullopt;
}

}  // namespace quorvin
