// config.json loading over arbitrary file contents: a file that is not a
// start-up configuration is left exactly as it was; one that is gets its
// identity filled in once, so loading the rewritten file again rewrites it
// byte for byte the same and gives the same window values.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "app/StartupConfig.h"

using namespace quorvin;

namespace {

const std::string& Dir() {
    static const std::string dir = [] {
        char templ[] = "/dev/shm/quorvin-fuzz-XXXXXX";
        return std::string(mkdtemp(templ) ? templ : "/tmp");
    }();
    return dir;
}

std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Same(const StartupValues& a, const StartupValues& b) {
    const WindowSettings& x = a.window;
    const WindowSettings& y = b.window;
    return x.title == y.title && x.url == y.url && x.width == y.width && x.height == y.height && x.align == y.align &&
           x.status == y.status && x.caption == y.caption && x.sysmenu == y.sysmenu && x.minbox == y.minbox &&
           x.maxbox == y.maxbox && x.border == y.border && a.params.Lookup("root") == b.params.Lookup("root") &&
           a.params.Lookup("main") == b.params.Lookup("main") && a.params.Lookup("title") == b.params.Lookup("title");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = Dir() + "/config.json";
    const std::string text(reinterpret_cast<const char*>(data), size);
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    const MachineIdentity identity{[] { return std::string("00-1A-2B-3C-4D-5E"); },
                                   [] { return std::string("desk-1"); }};
    const auto first = LoadStartupConfig(Dir(), identity, "7");
    const std::string written = Read(path);
    if (!first) {
        if (written != text) __builtin_trap();
        return 0;
    }
    const auto second = LoadStartupConfig(Dir(), identity, "7");
    if (!second || Read(path) != written || !Same(*first, *second)) __builtin_trap();
    return 0;
}
