// The command line both executables take.
#pragma once

#include <cstdio>
#include <cstring>
#include <optional>

namespace quorvin {

inline constexpr const char* kUsage =
    "usage: quorvin [--headless]\n"
    "  (no option)  show the agent's window with the page of config.json\n"
    "  --headless   run without a window: connect the links of config.json's \"param\"\n"
    "               and write every notification to stderr; SIGTERM or SIGINT ends it\n"
    "  --help       show this text\n"
    "  --version    show the version\n"
    "The agent's files (config.json, seqno.txt, temp/, ...) are beside the executable,\n"
    "or in the folder named by the environment variable QUORVIN_HOME.\n";

// Reads the options. The exit status when the program ends here (after
// --help, --version or an unknown option); nothing when it runs, with
// headless set for --headless.
inline std::optional<int> ReadOptions(int argc, char** argv, const char* version, bool& headless) {
    headless = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0) {
            headless = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("quorvin %s\n", version);
            return 0;
        } else {
            std::fprintf(stderr, "quorvin: unknown option %s\n%s", argv[i], kUsage);
            return 2;
        }
    }
    return std::nullopt;
}

}  // namespace quorvin
