// The texts that travel between the agent and its server, shared by both
// links: the command message as read, the reply and registration templates,
// result objects, page notifications and the caret convention.
//
// Every value put into a template is JSON-escaped after its conversion to
// UTF-8, so a quote in a name can never break a reply. "srcMsg" carries the
// received message up to the end of its JSON value, byte for byte where that
// is strict JSON (StrictJsonText), so a reply is always JSON.
#pragma once

#include <string>
#include <string_view>

#include "common/Json.h"

namespace quorvin {

// One received command message, read by the message rules: members matched
// without regard to case, absent or non-string values read as "".
struct CommandMessage {
    std::string text;  // up to the end of its JSON value, in strict form: "srcMsg"
    JsonPtr root;
    const cJSON* body = nullptr;  // null when "body" is absent or not an object
    std::string type, from, to, name;
    std::string modelName, taskId, callfor;

    // An argument of "body" (UTF-8 as received; "" when absent or not a string).
    std::string Arg(const char* member) const;
    // An integer argument by the atoi rules (a JSON number reads as 0).
    int IntArg(const char* member) const;
};

// Parses text as one JSON value (whatever follows it is ignored) and reads
// the envelope. False when the text holds no JSON value (text is then kept
// as it is).
bool ReadCommandMessage(std::string_view text, CommandMessage& out);

// The reply to msg with result (a JSON value, inserted as it is).
std::string FormatReply(const CommandMessage& msg, std::string_view result);

// The "wellcome" registration; values in UTF-8.
std::string FormatRegistration(std::string_view from, std::string_view clientName, std::string_view gsdm,
                               std::string_view rydm);

// Result objects. message is a fixed text in UTF-8.
std::string SuccessResult();
std::string FailureResult(std::string_view messageUtf8);

// Fixed failure messages (UTF-8).
inline constexpr const char* kParamError = "参数错误！";
inline constexpr const char* kCallFailed = "调用失败！";
inline constexpr const char* kNoPrinter = "打印机不存在！";
inline constexpr const char* kDownloadFailed = "文件下载失败！";
inline constexpr const char* kPrintNotDone = "文件下载成功，打印未完成！";

// --- the caret convention -------------------------------------------------

// A printer name from the server: every "^" stands for a backslash.
std::string PrinterNameFromWire(std::string_view utf8);
// A text with every backslash written as "^" (the form names travel in).
std::string CaretForm(std::string_view text);
// A path from the server: "^" and "\" both stand for the directory separator.
std::string PathFromWire(std::string_view utf8);
// True when a path (after PathFromWire) climbs out with a ".." segment.
bool PathLeavesBase(std::string_view path);
// A text of ours (local code page) for inside the quotes of a template:
// converted to UTF-8, every backslash written as "^", JSON-escaped.
std::string ValueToWire(std::string_view local);
// A JSON text of ours (local code page, e.g. a printer listing) for a reply:
// converted to UTF-8 and every escaped backslash inside its strings written
// as "^", so the names travel in caret form and the JSON stays valid.
std::string ListingToWire(std::string_view localJson);

// --- page notifications (texts in the local code page) --------------------

// TCP link: "接收报文\r\n" + the message exactly as received.
std::string TcpReceivedTrace(std::string_view received);
// TCP link: "发送报文\r\n" + the sent message converted to the local code page.
std::string TcpSentTrace(std::string_view sentUtf8);
// WebSocket link: {"msg_type":"ws.recv","msg_body":<message>} and "ws.send".
std::string WsReceivedNotice(std::string_view receivedUtf8);
std::string WsSentNotice(std::string_view sentUtf8);
// WebSocket link: the connection ended by itself (the server or the
// network closed it), not through Stop.
std::string WsClosedNotice();
// The message was not JSON.
std::string JsonErrorNotice();
// A message over the size limit was dropped.
std::string OversizeNotice();
// Print task notices: {"msg_type":type,"msg_body":{"printerName":..,"fileName":..[,"reason":..]}}.
// printer and file are local texts; reasonUtf8 may be empty (no member).
std::string PrintTaskNotice(std::string_view msgType, std::string_view printer, std::string_view file,
                            std::string_view reasonUtf8 = {});
// {"msg_type":"printer.status","msg_body":{..,"status":<statusJson>}}; statusJson is
// a job-status JSON text of ours (local code page), inserted as a value.
std::string PrintStatusNotice(std::string_view printer, std::string_view file, std::string_view statusJson);

}  // namespace quorvin
