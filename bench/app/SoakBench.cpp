// Soak: the real agent binary, with its real window and the shipped
// operator page, takes COMMANDS commands and TASKS print tasks over its TCP
// link on loopback; the agent process's RSS, descriptors and threads are
// read at the start (registered, warmed up with 1,000 commands, idle),
// after the first tenth of the commands, at their peak and at the end
// (everything answered, idle again).
//
// The agent runs from a copy in a fresh folder with its own config.json
// (the page starts the TCP link itself: "autoConnect":"tcp"); print tasks
// download a small JPEG from a loopback HTTP server and print it on the
// cups-pdf queue of a private scheduler. Run under a display (bench/app/run).
//
// Usage: bench_soak AGENT PAGES [COMMANDS [TASKS]]
#include <dirent.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ProcessSample.h"
#include "TempDir.h"
#include "fixtures/ChildProcess.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/PrivateScheduler.h"
#include "fixtures/TestImages.h"
#include "link/LoopbackServer.h"

namespace {

using namespace quorvin::testing;
using quorvin::bench::Read;
using quorvin::bench::Sample;
using Clock = std::chrono::steady_clock;

// What each descriptor of the process refers to.
std::vector<std::string> Descriptors(pid_t pid) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
        std::error_code lec;
        out.push_back(e.path().filename().string() + " -> " + std::filesystem::read_symlink(e.path(), lec).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::string Command(const std::string& name, const std::string& body, int n) {
    return "{\"type\":\"cmd\",\"from\":\"soak\",\"to\":\"agent\",\"name\":\"" + name + "\",\"body\":" + body +
           ",\"seq\":" + std::to_string(n) + "}";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s AGENT PAGES [COMMANDS [TASKS]]\n", argv[0]);
        return 2;
    }
    const std::string agent = argv[1];
    const std::string pages = argv[2];
    const int commands = argc > 3 ? std::atoi(argv[3]) : 100000;
    const int tasks = argc > 4 ? std::atoi(argv[4]) : 200;

    PrivateScheduler scheduler(QUORVIN_CUPS_SCRIPT);
    if (!scheduler.ok()) {
        std::fprintf(stderr, "soak: no private scheduler\n");
        return 1;
    }
    const std::string jpeg = MakeJpeg(320, 240);
    LoopbackHttpServer images{[&](const SeenRequest&, HttpConnection& c) { c.Respond(200, jpeg, "image/jpeg"); }};
    LoopbackServer server;
    TempDir home;
    std::filesystem::copy_file(agent, home / "quorvin");
    std::filesystem::permissions(home / "quorvin", std::filesystem::perms::owner_all);
    std::ofstream(home / "config.json")
        << "{\"startup\":{\"root\":\"" << pages << "\",\"url\":\"main.htm\",\"main\":\"main.htm\","
        << "\"title\":\"soak\",\"width\":\"1024\",\"height\":\"720\",\"param\":{\"server\":\"127.0.0.1\","
        << "\"port\":\"" << server.Port() << "\",\"autoConnect\":\"tcp\",\"gsdm\":\"g\",\"rydm\":\"r\"}}}";

    ChildProcess process({home / "quorvin"});
    if (!process.Started() || !server.Accept(60000) || !server.ReadMessage(10000)) {
        std::fprintf(stderr, "soak: the agent did not connect\n");
        return 1;
    }
    const pid_t pid = process.Pid();
    // A warm-up first: what is made once and kept for good (WebKit's
    // memory-pressure monitor opens /proc and cgroup files a few seconds
    // in, caches fill) belongs to the start, not to growth.
    for (int i = 0; i < 1000; ++i) {
        if (!server.SendMessage(Command("GetCurrentDir", "{}", -1)) || !server.ReadMessage(10000)) {
            std::fprintf(stderr, "soak: no reply during the warm-up\n");
            return 1;
        }
    }
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const Sample start = Read(pid);
    const std::vector<std::string> startFds = Descriptors(pid);
    Sample early, peak = start;

    constexpr int kBurst = 64;
    const int taskEvery = tasks > 0 ? std::max(1, commands / tasks) : commands + 1;
    int sent = 0, tasksSent = 0, answered = 0, taskReplies = 0;
    const auto t0 = Clock::now();
    while (sent < commands) {
        std::string burst;
        int inBurst = 0;
        for (; inBurst < kBurst && sent < commands; ++inBurst, ++sent) {
            if (sent % taskEvery == 0 && tasksSent < tasks) {
                burst += Command("PrintWebJpegImage",
                                 "{\"szRemoteURI\":\"" + images.origin() + "/img.jpg\",\"szLocalPath\":\"temp^soak" +
                                     std::to_string(tasksSent % 8) + ".jpg\",\"printerName\":\"" +
                                     scheduler.fixture().pdfQueue + "\"}",
                                 sent) +
                         '\xFE';
                ++tasksSent;
            }
            burst += Command("GetCurrentDir", "{}", sent) + '\xFE';
        }
        if (!server.Send(burst)) break;
        for (int i = 0; i < inBurst; ++i) {
            const std::optional<std::string> reply = server.ReadMessage(60000);
            if (!reply) {
                std::fprintf(stderr, "soak: no reply after %d answers\n", answered);
                return 1;
            }
            if (reply->find("PrintWebJpegImage>res") != std::string::npos) {
                ++taskReplies;
                --i;  // not one of this burst's commands
                continue;
            }
            ++answered;
        }
        if (answered % 1024 < kBurst) {
            const Sample now = Read(pid);
            peak.rssKiB = std::max(peak.rssKiB, now.rssKiB);
            peak.fds = std::max(peak.fds, now.fds);
            peak.threads = std::max(peak.threads, now.threads);
        }
        if (early.rssKiB == 0 && answered >= commands / 10) early = Read(pid);
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    for (int waited = 0; taskReplies < tasksSent && waited < 600; ++waited) {
        if (server.ReadMessage(1000)) ++taskReplies;
    }
    std::this_thread::sleep_for(std::chrono::seconds(3));
    const Sample end = Read(pid);
    for (const std::string& fd : Descriptors(pid)) {
        if (std::find(startFds.begin(), startFds.end(), fd) == startFds.end())
            std::printf("descriptor not there at the start: %s\n", fd.c_str());
    }
    peak.rssKiB = std::max(peak.rssKiB, end.rssKiB);

    std::printf("commands %d answered %d in %.1f s: %.0f commands/s; print tasks %d answered %d\n", commands, answered,
                seconds, answered / seconds, tasksSent, taskReplies);
    std::printf("%-28s %10s %6s %8s\n", "", "RSS KiB", "fds", "threads");
    const std::pair<const char*, Sample> rows[] = {
        {"start (warmed up, idle)", start}, {"after the first tenth", early}, {"peak", peak}, {"end (idle)", end}};
    for (const auto& [label, s] : rows) std::printf("%-28s %10ld %6d %8d\n", label, s.rssKiB, s.fds, s.threads);
    const double growth = early.rssKiB > 0 ? 100.0 * (end.rssKiB - early.rssKiB) / early.rssKiB : 0;
    std::printf("end RSS vs after the first tenth: %+.1f%% (target within 10%%)\n", growth);

    server.SendMessage(Command("ExitQuorvin", "{}", sent));
    server.ReadMessage(5000);
    return answered == commands && taskReplies == tasksSent ? 0 : 1;
}
