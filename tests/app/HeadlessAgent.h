// quorvin --headless as a test runs it: the real programs copied alone into
// a folder of their own, QUORVIN_HOME naming their files' folder, and the
// server commands and start-up files the tests send and write.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TempDir.h"
#include "fixtures/AgentProcess.h"
#include "link/LoopbackServer.h"

namespace quorvin::testing {

namespace fs = std::filesystem;

inline std::string Command(const std::string& name, const std::string& body = "{}", int seq = 1) {
    return R"({"type":"cmd","from":"server","to":"agent","name":")" + name + R"(","body":)" + body +
           R"(,"seq":)" + std::to_string(seq) + "}";
}

inline std::string Config(const std::string& param) { return R"({"startup":{"url":"main.htm","param":)" + param + "}}"; }

// The agent's two programs copied alone into a folder, its files in
// another (QUORVIN_HOME).
class Headless {
public:
#ifdef _WIN32
    static constexpr const char* kExe = ".exe";
#else
    static constexpr const char* kExe = "";
#endif
    explicit Headless(const std::string& config) {
        fs::copy_file(QUORVIN_AGENT, m_bin / (std::string("quorvin") + kExe));
        fs::copy_file(QUORVIN_AGENT_HEADLESS, m_bin / (std::string("quorvin-headless") + kExe));
        WriteBytes(Home() + "/config.json", config);
    }
    std::string Home() const { return m_home.path(); }
    // Home() as GetCurrentDir answers it: Windows' backslashes go as carets.
    std::string HomeOnTheWire() const {
        std::string dir = Home();
#ifdef _WIN32
        for (char& c : dir)
            if (c == '/' || c == '\\') c = '^';
#endif
        return dir;
    }
    AgentProcess& Start() {
        m_process.emplace(std::vector<std::string>{m_bin / (std::string("quorvin") + kExe), "--headless"},
                          std::vector<std::string>{"QUORVIN_HOME=" + Home()});
        return *m_process;
    }

private:
    TempDir m_bin, m_home;
    std::optional<AgentProcess> m_process;
};

inline std::string TcpParam(const LoopbackServer& server, const std::string& more = {}) {
    return R"({"server":"127.0.0.1","port":")" + std::to_string(server.Port()) +
           R"(","gsdm":"g1","rydm":"r1","clientName":"desk 7")" + more + "}";
}

}  // namespace quorvin::testing
