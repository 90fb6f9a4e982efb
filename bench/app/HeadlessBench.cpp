// The headless agent's memory: the real binary (quorvin --headless), run
// from a copy in a fresh folder with its files in another (QUORVIN_HOME),
// takes 1,000 commands over its TCP link on loopback and then sits idle;
// its RSS (and descriptors and threads) is read once registered, after the
// commands, and after the idle time. The figure that counts is the last
// one, after the full minute (target under 20 MB); IDLE_SECONDS shortens
// the wait for quick runs.
//
// Usage: bench_headless AGENT [IDLE_SECONDS]   (quorvin-headless beside AGENT)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "ProcessSample.h"
#include "TempDir.h"
#include "fixtures/AgentProcess.h"
#include "link/LoopbackServer.h"

namespace {

using namespace quorvin::testing;
using quorvin::bench::Read;
using quorvin::bench::Sample;

// Commands that touch the tool, the dispatcher and the printer manager
// without printing.
const char* const kCommands[] = {"GetCurrentDir", "GetAllPrn", "GetDefaultPrn"};

std::string Command(const char* name, int n) {
    return std::string("{\"type\":\"cmd\",\"from\":\"bench\",\"to\":\"agent\",\"name\":\"") + name +
           "\",\"body\":{},\"seq\":" + std::to_string(n) + "}";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s AGENT [IDLE_SECONDS]\n", argv[0]);
        return 2;
    }
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 60;
    constexpr int kCount = 1000;

    LoopbackServer server;
    TempDir bin, home;
    const std::string built = argv[1];
    std::filesystem::copy_file(built, bin / "quorvin");
    std::filesystem::copy_file(built.substr(0, built.rfind('/') + 1) + "quorvin-headless", bin / "quorvin-headless");
    std::ofstream(home / "config.json") << "{\"startup\":{\"url\":\"main.htm\",\"param\":{\"server\":\"127.0.0.1\","
                                        << "\"port\":\"" << server.Port() << "\",\"gsdm\":\"g\",\"rydm\":\"r\"}}}";
    AgentProcess agent({bin / "quorvin", "--headless"}, {"QUORVIN_HOME=" + home.path()});
    if (!agent.Started() || !server.Accept(30000) || !server.ReadMessage(10000)) {
        std::fprintf(stderr, "headless bench: the agent did not connect\n%s", agent.Output().c_str());
        return 1;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const Sample registered = Read(agent.Pid());

    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < kCount; ++i) {
        if (!server.SendMessage(Command(kCommands[i % 3], i)) || !server.ReadMessage(30000)) {
            std::fprintf(stderr, "headless bench: no reply to command %d\n", i);
            return 1;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const Sample busy = Read(agent.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const Sample idle = Read(agent.Pid());

    std::printf("%d commands answered in %.2f s (%.0f/s)\n", kCount, seconds, kCount / seconds);
    std::printf("%-36s %10s %6s %8s\n", "", "RSS KiB", "fds", "threads");
    const std::pair<std::string, Sample> rows[] = {{"registered", registered},
                                                   {"after 1,000 commands", busy},
                                                   {"then idle " + std::to_string(idleSeconds) + " s", idle}};
    for (const auto& [label, s] : rows) std::printf("%-36s %10ld %6d %8d\n", label.c_str(), s.rssKiB, s.fds, s.threads);
    std::printf("RSS after the commands and %d s idle: %.1f MB (target under 20 MB%s)\n", idleSeconds,
                idle.rssKiB / 1024.0, idleSeconds >= 60 ? "" : "; the figure to report needs the full minute");

    server.SendMessage(Command("ExitQuorvin", kCount));
    server.ReadMessage(5000);
    agent.WaitExit(30000);
    return agent.ExitCode() == 0 ? 0 : 1;
}
