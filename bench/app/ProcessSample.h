// A running process's resident set, descriptors and threads, read from
// /proc, for the benchmarks that watch the real agent.
#pragma once

#include <sys/types.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace quorvin::bench {

struct Sample {
    long rssKiB = 0;
    int fds = 0;
    int threads = 0;
};

inline Sample Read(pid_t pid) {
    Sample s;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) s.rssKiB = std::atol(line.c_str() + 6);
        if (line.rfind("Threads:", 0) == 0) s.threads = std::atoi(line.c_str() + 8);
    }
    std::error_code ec;
    for ([[maybe_unused]] const auto& e :
         std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        ++s.fds;
    return s;
}

}  // namespace quorvin::bench
