#include "commands/CommandDispatcher.h"

#include <strings.h>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "link/ChatLink.h"
#include "link/Envelope.h"

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

std::string InBase(const CCommonTool& tool, const std::string& relative) {
    return tool.GetModuleDir() + "/" + relative;
}

std::string WithCarets(std::string text) {
    for (char& c : text) {
        if (c == '\\') c = '^';
    }
    return text;
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
    bool known = false;
    const std::optional<std::string> result = Execute(msg, known);
    if (!known || !result) return;  // not a command, or a print task answers later
    m_link.SendText(FormatReply(msg, *result));
    if (NameIs(msg.name, "ExitQuorvin")) m_link.CloseOwnerWindow();
}

std::optional<std::string> CCommandDispatcher::Execute(const CommandMessage& msg, bool& known) {
    known = true;
    const std::string& n = msg.name;
    if (NameIs(n, "ExitQuorvin")) return std::string("{}");
    if (NameIs(n, "GetCurrentDir")) return GetCurrentDir();
    if (NameIs(n, "MakeDir")) return MakeDir(msg);
    if (NameIs(n, "PrintWebJpegImage")) return PrintWebJpegImage(msg);
    known = false;
    return std::nullopt;
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
    task->job->strFileName = WithCarets(task->job->strLocalFile);
    // Signalled before the hand-over: once the task runs it owns the record
    // and may already have released it.
    task->job->hJobEvent.Set();
    if (!starter(std::move(task))) return FailureResult(kCallFailed);
    return std::nullopt;
}

}  // namespace quorvin
