// Received messages of any bytes through the envelope reader and the command
// dispatcher, behind a link that checks every reply as it is sent: each must
// be strict JSON (tests/fixtures/StrictJson.h, written apart from the code
// under test), answer a command ("...>res") and carry "srcMsg". The message
// as read must be a fixed point of the strict form and, where its strings
// were UTF-8, the same JSON value as received. Commands run on a stand-in
// spooler (no CUPS here) in a scratch directory.
#include <cjson/cJSON.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "commands/CommandDispatcher.h"
#include "commands/RecordingLink.h"
#include "common/Json.h"
#include "common/Utf8.h"
#include "fixtures/StrictJson.h"
#include "message/Envelope.h"

namespace {

using namespace quorvin;

class CheckingLink : public ChatLink {
public:
    explicit CheckingLink(const std::string& dir)
        : m_tool(dir),
          m_printers(dir, std::make_shared<testing::ListedSpooler>(std::vector<std::string>{"PDF", "\\\\srv\\HP"})) {}

    LinkKind Kind() const override { return LinkKind::Tcp; }
    int SendText(const std::string& reply) override {
        if (!testing::StrictJson::Valid(reply)) __builtin_trap();
        JsonPtr root = ParseJson(reply);
        const std::string name = GetJsonString(root.get(), "name");
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ">res") != 0) __builtin_trap();
        if (GetJsonMember(root.get(), "srcMsg") == nullptr) __builtin_trap();
        return 1;
    }
    void NotifyPage(const std::string&) override {}
    std::string ReceivedNotice(const std::string& received) const override { return received; }
    void CloseOwnerWindow() override {}
    CPrinterManager& Printers() override { return m_printers; }
    CCommonTool& Tool() override { return m_tool; }

private:
    CCommonTool m_tool;
    CPrinterManager m_printers;
};

// Made on first use and removed at exit, after the link has gone.
const std::string& ScratchDir() {
    static const std::string* dir = [] {
        std::string t = (std::filesystem::temp_directory_path() / "quorvin-dispatch-fuzz-XXXXXX").string();
        auto* made = new std::string(mkdtemp(t.data()) != nullptr ? t : std::string());
        std::atexit([] {
            std::error_code ec;
            if (!ScratchDir().empty()) std::filesystem::remove_all(ScratchDir(), ec);
        });
        return made;
    }();
    return *dir;
}

bool ValidUtf8(std::string_view text) { return SanitizeUtf8(text, kReplacementCharacter) == text; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static CheckingLink link(ScratchDir());
    static CCommandDispatcher dispatcher(link);
    static unsigned runs = 0;
    const std::string text(reinterpret_cast<const char*>(data), size);

    CommandMessage msg;
    if (ReadCommandMessage(text, msg)) {
        if (StrictJsonText(msg.text) != msg.text || !testing::StrictJson::Valid(msg.text)) __builtin_trap();
        CommandMessage again;
        if (!ReadCommandMessage(msg.text, again)) __builtin_trap();
        std::size_t end = 0;
        ParseJson(text, &end);
        if (ValidUtf8(text.substr(0, end)) && PrintJson(msg.root.get(), false) != PrintJson(again.root.get(), false))
            __builtin_trap();
    }
    dispatcher.DispatchCommand(text);

    // MakeDir and friends write below the scratch directory: start afresh now and then.
    if (++runs % 4096 == 0) {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), ec))
            std::filesystem::remove_all(entry.path(), ec);
    }
    return 0;
}
