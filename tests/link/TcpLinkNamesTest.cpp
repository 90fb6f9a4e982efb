// The TCP link and name resolution: a name that does not resolve yet is
// looked up again at each attempt. Linux only: the test gives itself a
// hosts file of its own in a private mount namespace.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "fixtures/StderrCapture.h"
#include "link/TcpLinkFixture.h"

extern char** environ;

namespace quorvin::testing {
namespace {

// Runs the calling test again in a child process with /etc/hosts and
// /etc/nsswitch.conf of its own (files only), in a private mount namespace,
// so the test can make a name resolve or not. The child finds its hosts
// file in QUORVIN_TEST_HOSTS. Returns the child's exit status; 77 when no
// private mount namespace can be had (it needs root).
int RunInPrivateHosts(const TempDir& dir) {
    WriteBytes(dir / "hosts", "127.0.0.1 localhost\n");
    WriteBytes(dir / "nsswitch.conf", "hosts: files\n");
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::vector<std::string> argv = {
        "/bin/sh", "-c",
        "unshare -m true 2>/dev/null || exit 77; exec unshare -m --propagation private /bin/sh -c "
        "'mount --bind \"$1\" /etc/hosts && mount --bind \"$2\" /etc/nsswitch.conf || exit 77; shift 2; exec \"$@\"' "
        "sh \"$@\"",
        "sh", dir / "hosts", dir / "nsswitch.conf", self,
        std::string("--gtest_filter=") + test->test_suite_name() + "." + test->name()};
    std::vector<std::string> env = {"QUORVIN_TEST_HOSTS=" + (dir / "hosts")};
    for (char** e = environ; *e != nullptr; ++e) env.emplace_back(*e);
    std::vector<char*> args, envp;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    args.push_back(nullptr);
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) return -1;
    int status = 0;
    for (int i = 0; i < 1200 && ::waitpid(pid, &status, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A name that does not resolve when the link starts is looked up again at
// each attempt, so the link connects once it does, with no further Start.
TEST_F(TcpLinkTest, NameThatDoesNotResolveYetIsLookedUpAgainAtEachAttempt) {
    const char* hosts = std::getenv("QUORVIN_TEST_HOSTS");
    if (hosts == nullptr) {
        const int status = RunInPrivateHosts(dir);
        if (status == 77) GTEST_SKIP() << "needs a private mount namespace (root) for a hosts file of its own";
        EXPECT_EQ(status, 0) << "the test failed in its private mount namespace (its output is above)";
        return;
    }
    StderrCapture err;
    link->Start("quorvin-server.test", server.Port(), "a", "b", "c", "d");
    ASSERT_TRUE(err.WaitFor("cannot resolve \"quorvin-server.test\""));
    EXPECT_FALSE(link->IsConnected());
    WriteBytes(hosts, "127.0.0.1 localhost\n127.0.0.1 quorvin-server.test\n");
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(server.ReadMessage().value_or(""), ExpectedRegistration("a", "b", "c", "d"));
    EXPECT_EQ(link->GetServer(), "quorvin-server.test");
    ASSERT_TRUE(err.WaitFor("connected to 127.0.0.1:" + std::to_string(server.Port()) + " (quorvin-server.test)\n"));
    EXPECT_EQ(err.Count("cannot resolve"), 1) << err.Text();  // tried every 50 ms, said once
}

}  // namespace
}  // namespace quorvin::testing
