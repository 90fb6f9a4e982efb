// ChatLink: what the command dispatcher and the print tasks need from the
// link a command arrived on. The TCP link and the WebSocket link differ
// only in these texts and behaviours; everything else is shared.
#pragma once

#include <memory>
#include <string>

namespace quorvin {

class CCommonTool;
class CPrinterManager;
class Event;

enum class LinkKind { Tcp, WebSocket };

class ChatLink {
public:
    virtual ~ChatLink() = default;

    virtual LinkKind Kind() const = 0;

    // Sends one message (UTF-8) with the link's framing and traces it; does
    // nothing, not even the trace, when the link has no connection object.
    // 1 when there was one, else 0. Safe from any thread: sends on one link
    // never interleave.
    virtual int SendText(const std::string& text) = 0;

    // Hands text (local code page) to the owner window's page and waits
    // until it has it; nothing when the link has no owner window.
    virtual void NotifyPage(const std::string& text) = 0;

    // The notification made for each received message before it is parsed.
    virtual std::string ReceivedNotice(const std::string& received) const = 0;

    // Closes the owner window after ExitQuorvin's reply has been handed over.
    virtual void CloseOwnerWindow() = 0;

    virtual CPrinterManager& Printers() = 0;
    virtual CCommonTool& Tool() = 0;

    // Set when the link run a print task came on has ended: a task still
    // following its job in the printer's queue stops there. Null on a link
    // whose tasks follow no job.
    virtual std::shared_ptr<Event> TaskCancelEvent() { return nullptr; }
};

}  // namespace quorvin
