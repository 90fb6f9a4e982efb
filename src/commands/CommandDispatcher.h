// CCommandDispatcher: what a link does with each received message. It
// notifies the page, reads the envelope, runs the command on the calling
// thread (the link's own) and sends one reply on the same link.
#pragma once

#include <mutex>
#include <optional>
#include <string>

#include "commands/PrintTask.h"

namespace quorvin {

class ChatLink;
struct CommandMessage;

class CCommandDispatcher {
public:
    explicit CCommandDispatcher(ChatLink& link);
    CCommandDispatcher(const CCommandDispatcher&) = delete;
    CCommandDispatcher& operator=(const CCommandDispatcher&) = delete;

    // Installs the print task procedure for PrintWebJpegImage. Without one
    // the command is answered "调用失败！" at once.
    void SetPrintTaskStarter(PrintTaskStarter starter);

    // One received message (UTF-8, as received).
    void DispatchCommand(const std::string& text);

private:
    // The result of a command, or nothing when no reply is due here (a name
    // that is not a command, or a print task that answers for itself).
    std::optional<std::string> Execute(const CommandMessage& msg);

    std::string SetDefaultPrn(const CommandMessage& msg);
    std::string AddCustomPaper(const CommandMessage& msg);
    std::string DeleteCustomPaper(const CommandMessage& msg);
    std::string SetPaper(const CommandMessage& msg);
    std::string GetPaperSize(const CommandMessage& msg);
    std::string GetPrinterJobStatus(const CommandMessage& msg);
    std::string PrintAtCmd1(const CommandMessage& msg);
    std::optional<std::string> PrintWebJpegImage(const CommandMessage& msg);
    std::string GetCurrentDir();
    std::string MakeDir(const CommandMessage& msg);

    ChatLink& m_link;
    mutable std::mutex m_starterMutex;
    PrintTaskStarter m_starter;
};

}  // namespace quorvin
