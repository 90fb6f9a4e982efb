// The script bridge's parameters over arbitrary text: the "$$" splitting as
// the bridge does it, and every command that reads its parameter, on a
// window without a screen (FakePageHost) whose files live in a scratch
// folder. The first byte picks the command, the rest is the parameter.
// Every answer must be one the command's contract allows for the number of
// fields the parameter has. The same text, as a request body the page's
// script might send, must be read or refused without harm.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/CodePage.h"
#include "html/BridgeRequest.h"
#include "html/FakePageHost.h"
#include "html/HtmlBaseDlg.h"

namespace {

using namespace quorvin;

void Check(bool ok) {
    if (!ok) __builtin_trap();
}

// One scratch folder for the whole run, the current directory while a
// command runs (libFuzzer's own relative paths hold in between): file
// commands may only name files in it (a parameter holding "/" is skipped).
struct Scratch {
    Scratch() {
        char pattern[] = "/tmp/quorvin-bridge-fuzz-XXXXXX";
        if (mkdtemp(pattern) == nullptr) __builtin_trap();
        dir = pattern;
        home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        context = testing::FakeContext(dir, std::make_shared<testing::FakeHostLog>());
        params.Set("root", dir + "/");
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
        if (home >= 0) close(home);
    }
    void Enter() const { Check(chdir(dir.c_str()) == 0); }
    void Leave() const { Check(fchdir(home) == 0); }
    void Empty() const {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(dir, ec)) std::filesystem::remove_all(e.path(), ec);
    }
    std::string dir;
    int home = -1;
    std::shared_ptr<const DlgContext> context;
    ParamMap params;
};

std::string Trimmed(const std::string& text) {
    std::size_t b = 0, e = text.size();
    while (b < e && std::isspace(static_cast<unsigned char>(text[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(text[e - 1]))) --e;
    return text.substr(b, e - b);
}

struct Command {
    const char* name;
    bool files;  // reads or writes the files its parameter names
};
const Command kCommands[] = {
    {"SaveTxtFile", true},     {"CopyFile", true},      {"GB2312ToUTF8", true}, {"StartTcpsocket", false},
    {"StartWebsocket", false}, {"Navigate", false},     {"ShowPageDlg", false}, {"PutPageResult", false},
    {"LockString", false},     {"UTF8ToGB2312", false}, {"FileExist", true},    {"GetFileLength", true},
    {"LoadTxtFile", true},     {"DeleteFile", true},
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Scratch scratch;
    if (size == 0) return 0;
    const Command& command = kCommands[data[0] % (sizeof kCommands / sizeof kCommands[0])];
    const std::string param(reinterpret_cast<const char*>(data) + 1, size - 1);

    // The splitting: the trimmed parameter is the fields joined again.
    CCommonTool& tool = *scratch.context->tool;
    std::vector<std::string> f;
    const int n = tool.SplitString(param, "$$", f);
    Check(n == static_cast<int>(f.size()));
    std::string joined;
    for (int i = 0; i < n; ++i) joined += (i ? "$$" : "") + f[i];
    Check(joined == Trimmed(param));

    if (const auto request = ParseBridgeRequest(param, "token")) {
        if (request->seq) Check(*request->seq >= 1 && *request->seq <= (std::uint64_t{1} << 53));
    }

    if (command.files && param.find('/') != std::string::npos) return 0;
    CHtmlBaseDlg dlg(scratch.context);
    dlg.m_pParamMap = &scratch.params;
    std::string error;
    scratch.Enter();
    const std::string r = dlg.CallFromHtml("", command.name, param, error);
    if (command.files) scratch.Empty();
    scratch.Leave();
    const std::string name = command.name;
    const std::string badParam = Utf8ToLocal("false:参数错误！");
    if (name == "SaveTxtFile") Check(r == (n == 2 ? "success" : "error") && error.empty());
    if (name == "CopyFile") Check((r == "error" || (n == 2 && r == "success")) && error.empty());
    if (name == "GB2312ToUTF8") Check(n == 0 ? !error.empty() : (error.empty() && (n == 1 || r == "success")));
    if (name == "StartTcpsocket") Check(r == (n == 6 ? "" : "-1"));
    if (name == "StartWebsocket") Check(r == (n == 5 ? "2" : "-1"));  // no WebSocket link here
    if (name == "Navigate") {
        Check(n < 3   ? r.empty()
              : n > 4 ? r == badParam
                      : r == "true" || (n == 4 && r == Utf8ToLocal("false:JSON参数错误")));
    }
    if (name == "ShowPageDlg") {
        // The child's page sets no result here.
        Check(n < 3 ? r.empty() : n > 4 ? r == badParam : r.empty() || (n == 4 && r == Utf8ToLocal("JSON参数错误")));
    }
    if (name == "PutPageResult") Check(r.empty() && dlg.GetPageResult() == param);
    return 0;
}
