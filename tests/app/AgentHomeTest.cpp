// QUORVIN_HOME: the real binary, run from a folder of its own, keeps its
// files in the folder the variable names, and refuses one it cannot use.
// It runs without a display here, so it goes no further than start-up.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "TempDir.h"
#include "fixtures/AgentProcess.h"

namespace quorvin::testing {
namespace {

namespace fs = std::filesystem;

// A copy of the agent alone in its folder, so a file it writes beside
// itself shows.
struct AgentCopy {
    TempDir dir;
    std::string exe = dir / "quorvin";
    AgentCopy() { fs::copy_file(QUORVIN_AGENT, exe); }
};

TEST(AgentHomeTest, FilesGoToTheNamedFolderWhichIsMadeWhenMissing) {
    AgentCopy agent;
    TempDir base;
    const std::string home = base / "a/b/home";
    fs::create_directories(base / "a");
    // config.json is read there and written back completed.
    ASSERT_TRUE(fs::create_directories(home));
    WriteBytes(home + "/config.json", R"({"startup":{"url":"main.htm","param":{"clientName":"desk"}}})");
    {
        AgentProcess run({agent.exe}, {"QUORVIN_HOME=" + home + "/", "DISPLAY=", "WAYLAND_DISPLAY="});
        ASSERT_TRUE(run.Started());
        ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
    }
    EXPECT_NE(ReadBytes(home + "/config.json").find("\"clientId\""), std::string::npos);
    EXPECT_TRUE(fs::exists(home + "/seqno.txt"));
    EXPECT_FALSE(fs::exists(agent.dir / "config.json"));
    EXPECT_FALSE(fs::exists(agent.dir / "seqno.txt"));

    const std::string fresh = base / "a/new/home";
    AgentProcess run({agent.exe}, {"QUORVIN_HOME=" + fresh, "DISPLAY=", "WAYLAND_DISPLAY="});
    ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
    EXPECT_TRUE(fs::is_directory(fresh)) << run.Output();
    EXPECT_FALSE(fs::exists(agent.dir / "seqno.txt"));
}

TEST(AgentHomeTest, AFolderThatCannotBeUsedEndsTheAgentWithOneLine) {
    AgentCopy agent;
    TempDir base;
    WriteBytes(base / "file", "x");
    struct Case {
        const char* what;
        std::string home;
    };
    const Case cases[] = {
        {"a file", base / "file"},
        {"below a file", base / "file/home"},
        // /proc refuses new folders even to root.
        {"a folder that cannot be made", "/proc/quorvin-home"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AgentProcess run({agent.exe}, {"QUORVIN_HOME=" + c.home, "DISPLAY=", "WAYLAND_DISPLAY="});
        ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
        EXPECT_NE(run.ExitCode(), 0);
        const std::string out = run.Output();
        EXPECT_NE(out.find("QUORVIN_HOME " + c.home + ": "), std::string::npos) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
        EXPECT_FALSE(fs::exists(agent.dir / "seqno.txt"));
    }
}

}  // namespace
}  // namespace quorvin::testing
