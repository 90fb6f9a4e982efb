// The code page converters (CCommonTool's GbToUtf8/Utf8ToGb and their
// buffer forms) over arbitrary bytes, with GBK or UTF-8 as the local code
// page. Whatever comes in: the UTF-8 side is well-formed and has no zero
// byte, and a converted text converts back and forth unchanged (nothing
// invalid is left to lose).
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Utf8.h"

using namespace quorvin;

namespace {

const CCommonTool& Tool() {
    // Made once: each tool reads and writes its counter file.
    static const CCommonTool* tool = [] {
        char dir[] = "/dev/shm/quorvin-fuzz-XXXXXX";
        return new CCommonTool(mkdtemp(dir) ? dir : "/tmp");
    }();
    return *tool;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static std::string current;
    const std::string codePage = data[0] & 1 ? "GBK" : "UTF-8";
    if (codePage != current) {
        SetLocalCodePage(codePage);
        current = codePage;
    }
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const CCommonTool& tool = Tool();

    const std::string utf8 = tool.GbToUtf8(text);
    if (SanitizeUtf8(utf8) != utf8 || utf8.find('\0') != std::string::npos) __builtin_trap();
    std::string buffered;
    tool.GbToUtf8Buffer(buffered, text.data(), text.size());
    if (buffered != utf8) __builtin_trap();
    // Everything in utf8 came from the local code page: the way back and
    // forth again changes nothing.
    const std::string local = tool.Utf8ToGb(utf8);
    if (tool.GbToUtf8(local) != utf8) __builtin_trap();

    const std::string fromUtf8 = tool.Utf8ToGb(text);
    if (fromUtf8.find('\0') != std::string::npos) __builtin_trap();
    if (tool.Utf8ToGbBuffer(text.data(), text.size()) != fromUtf8) __builtin_trap();
    if (tool.Utf8ToGb(tool.GbToUtf8(fromUtf8)) != fromUtf8) __builtin_trap();
    return 0;
}
