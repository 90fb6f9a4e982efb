#include "message/Envelope.h"

#include <cjson/cJSON.h>

#include "common/CodePage.h"
#include "common/Utf8.h"

namespace quorvin {

namespace {

// A value from the server echoed back: it arrived as a JSON string, so it is
// escaped again to travel as the same string; bytes that are not UTF-8
// become U+FFFD, so the reply is JSON to any reader.
std::string Echo(const std::string& utf8) { return JsonEscape(SanitizeUtf8(utf8, kReplacementCharacter)); }

std::string Replace(std::string_view text, char from, char to) {
    std::string out(text);
    for (char& c : out) {
        if (c == from) c = to;
    }
    return out;
}

}  // namespace

std::string CommandMessage::Arg(const char* member) const { return GetJsonString(body, member); }

int CommandMessage::IntArg(const char* member) const { return AtoI(Arg(member)); }

bool ReadCommandMessage(std::string_view text, CommandMessage& out) {
    std::size_t end = 0;
    out.root = ParseJson(text, &end);
    if (!out.root) {
        out.text.assign(text);
        return false;
    }
    out.text = StrictJsonText(text.substr(0, end));
    const cJSON* root = out.root.get();
    out.type = GetJsonString(root, "type");
    out.from = GetJsonString(root, "from");
    out.to = GetJsonString(root, "to");
    out.name = GetJsonString(root, "name");
    const cJSON* body = GetJsonMember(root, "body");
    out.body = cJSON_IsObject(body) ? body : nullptr;
    out.modelName = out.Arg("modelName");
    out.taskId = out.Arg("taskId");
    out.callfor = out.Arg("callfor");
    return true;
}

std::string FormatReply(const CommandMessage& msg, std::string_view result) {
    std::string r = "{\"type\":\"cmd\",\"from\":\"" + Echo(msg.to) + "\",\"to\":\"" + Echo(msg.from) +
                    "\",\"name\":\"" + Echo(msg.name) + ">res\",\"body\":{\"result\":";
    r.reserve(r.size() + result.size() + msg.text.size() * 2 + 80);
    r += result;
    r += ",\"modelName\":\"" + Echo(msg.modelName) + "\",\"taskId\":\"" + Echo(msg.taskId) + "\",\"callfor\":\"" +
         Echo(msg.callfor) + "\"},\"srcMsg\":";
    r += msg.text;
    r += "}";
    return r;
}

std::string FormatRegistration(std::string_view from, std::string_view clientName, std::string_view gsdm,
                               std::string_view rydm) {
    return "{\"type\":\"cmd\",\"from\":\"" + JsonEscape(from) +
           "\",\"to\":\"server\",\"name\":\"wellcome\",\"body\":{\t\"clientTag\":\"\",\t\"clientType\":\"printer\",\t"
           "\"clientName\":\"" +
           JsonEscape(clientName) + "\",\t\"gsdm\":\"" + JsonEscape(gsdm) + "\",\t\"rydm\":\"" + JsonEscape(rydm) +
           "\"}\t\t\t\t\t}";
}

std::string SuccessResult() { return "{\"errorNo\":\"0\",\"errorMsg\":\"\"}"; }

std::string FailureResult(std::string_view messageUtf8) {
    return "{\"errorNo\":\"1\",\"errorMsg\":\"" + JsonEscape(messageUtf8) + "\"}";
}

std::string PrinterNameFromWire(std::string_view utf8) { return Replace(utf8, '^', '\\'); }

std::string PathFromWire(std::string_view utf8) {
    std::string out(utf8);
    for (char& c : out) {
        if (c == '^' || c == '\\') c = '/';
    }
    return out;
}

bool PathLeavesBase(std::string_view path) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('/', start);
        const std::string_view segment = path.substr(start, end == std::string_view::npos ? path.npos : end - start);
        if (segment == "..") return true;
        if (end == std::string_view::npos) return false;
        start = end + 1;
    }
}

std::string CaretForm(std::string_view text) { return Replace(text, '\\', '^'); }

std::string ValueToWire(std::string_view local) { return JsonEscape(CaretForm(LocalToUtf8(local))); }

std::string ListingToWire(std::string_view localJson) {
    // Converted first: in a double-byte code page a trail byte can look
    // like a backslash, in UTF-8 never.
    const std::string utf8 = LocalToUtf8(localJson);
    std::string out;
    out.reserve(utf8.size());
    bool inString = false;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const char c = utf8[i];
        if (!inString) {
            if (c == '"') inString = true;
            out.push_back(c);
        } else if (c == '\\' && i + 1 < utf8.size()) {
            const char next = utf8[++i];
            if (next == '\\') {
                out.push_back('^');  // an escaped backslash is a backslash of the value
            } else {
                out.push_back(c);
                out.push_back(next);
            }
        } else if (c == '\\') {
            out.push_back('^');  // a stray backslash at the very end
        } else {
            if (c == '"') inString = false;
            out.push_back(c);
        }
    }
    return out;
}

std::string TcpReceivedTrace(std::string_view received) {
    std::string t = Utf8ToLocal("接收报文\r\n");
    t += received;
    return t;
}

std::string TcpSentTrace(std::string_view sentUtf8) { return Utf8ToLocal("发送报文\r\n") + Utf8ToLocal(sentUtf8); }

std::string WsReceivedNotice(std::string_view receivedUtf8) {
    return "{\"msg_type\":\"ws.recv\",\"msg_body\":" + Utf8ToLocal(receivedUtf8) + "}";
}

std::string WsSentNotice(std::string_view sentUtf8) {
    return "{\"msg_type\":\"ws.send\",\"msg_body\":" + Utf8ToLocal(sentUtf8) + "}";
}

std::string WsClosedNotice() { return "{\"msg_type\":\"ws.closed\",\"msg_body\":{}}"; }

std::string JsonErrorNotice() { return Utf8ToLocal("无法解析JSON内容！"); }

std::string OversizeNotice() { return Utf8ToLocal("接收报文超过16MB，已丢弃！"); }

namespace {

std::string TaskNoticeHead(std::string_view msgType, std::string_view printer, std::string_view file) {
    std::string n = "{\"msg_type\":\"";
    n += JsonEscape(msgType);
    n += "\",\"msg_body\":{\"printerName\":\"";
    n += ValueToWire(printer);
    n += "\",\"fileName\":\"";
    n += ValueToWire(file);
    n += "\"";
    return n;
}

}  // namespace

std::string PrintTaskNotice(std::string_view msgType, std::string_view printer, std::string_view file,
                            std::string_view reasonUtf8) {
    std::string n = TaskNoticeHead(msgType, printer, file);
    if (!reasonUtf8.empty()) {
        n += ",\"reason\":\"";
        n += JsonEscape(reasonUtf8);
        n += "\"";
    }
    n += "}}";
    return Utf8ToLocal(n);
}

std::string PrintStatusNotice(std::string_view printer, std::string_view file, std::string_view statusJson) {
    std::string n = TaskNoticeHead("printer.status", printer, file);
    n += ",\"status\":";
    n += ListingToWire(statusJson);
    n += "}}";
    return Utf8ToLocal(n);
}

}  // namespace quorvin
