// Servers that misbehave, against the real TCP link on loopback. For each
// fault: what the link answers (a page notice, a dropped connection and a
// new one, one diagnostic line), that it keeps serving (a later command is
// answered as sent, on the new connection when there is one), and that
// nothing is left half-done (no partial or glued message handed on, no
// reply of an old connection on a new one).
#include <algorithm>
#include <functional>
#include <thread>

#include "fixtures/StderrCapture.h"
#include "link/TcpLinkFixture.h"

namespace quorvin::testing {
namespace {

const std::string kGetDir = ServerCommand("GetCurrentDir");

struct FaultRig {
    TempDir dir;
    HeadlessPageWindow window;
    LoopbackServer server;
    std::unique_ptr<CChatManager> link;
    std::vector<std::string> sent;  // whole messages the server sent

    ~FaultRig() { link.reset(); }
    std::string DirReply(const std::string& command) const {
        return AgentReply("GetCurrentDir", "{\"dir\":\"" + dir.path() + "\"}", command);
    }
    // The next connection and its registration. The old one stays open
    // until then: closing it would tell the link.
    bool Reconnected(int timeoutMs = 15000) {
        return server.ConnectionPending(timeoutMs) && server.Accept(0) &&
               server.ReadMessage() == ExpectedRegistration("agent-1", "desk", "g01", "r02");
    }
};

struct Fault {
    const char* name;
    int heartbeatMs;
    int keepaliveIdleMs;
    std::function<void(FaultRig&)> harm;
    int losses;                        // connections the link drops for it (and dials anew)
    std::vector<std::string> notices;  // page notices it shows
    std::string line;                  // its diagnostic line (a part of it; "{peer}": the server's address)
    int lines;                         // how many times that line is written
};

const std::vector<Fault>& Faults() {
    static const std::vector<Fault> faults = {
        {"junk with delimiters", 60000, 60000,
         [](FaultRig& r) {
             r.sent = {"\x01\x02 garbage", "[1,2", "\xFF\xFF{}}", "{\"name\":"};
             std::string bytes;
             for (const std::string& m : r.sent) bytes += m + '\xFE';
             ASSERT_TRUE(r.server.Send(bytes));
         },
         0, std::vector<std::string>(4, JsonErrorNotice()), "", 0},
        {"junk without a delimiter, then a close", 60000, 60000,
         [](FaultRig& r) {
             std::string junk(256 * 1024, '\0');
             for (std::size_t i = 0; i < junk.size(); ++i) junk[i] = static_cast<char>((i * 7919) % 0xFE);
             ASSERT_TRUE(r.server.Send(junk));
             r.server.CloseClient();
         },
         1, {}, "", 0},  // closed, or reset for the heartbeats it did not read
        {"a 20 MiB message", 60000, 60000,
         [](FaultRig& r) {
             ASSERT_TRUE(r.server.SendMessage(ServerCommand("GetCurrentDir", "{\"pad\":\"" + std::string(20u << 20, 'x') + "\"}")));
         },
         0, {OversizeNotice()}, "message from {peer} over 16 MiB dropped", 1},
        {"bytes one at a time", 60000, 60000,
         [](FaultRig& r) {
             const std::string command = ServerCommand("GetCurrentDir", "{\"taskId\":\"bytewise\"}");
             r.sent = {command};
             for (char c : command + '\xFE') ASSERT_TRUE(r.server.Send(std::string(1, c)));
             const std::string reply = r.server.ReadMessage().value_or("<no reply>");
             EXPECT_NE(reply.find("\"taskId\":\"bytewise\""), std::string::npos) << reply;
             EXPECT_NE(reply.find("\"srcMsg\":" + command + "}"), std::string::npos) << reply;
         },
         0, {}, "", 0},
        {"a server that stops reading", 60000, 60000,
         [](FaultRig& r) {
             // Replies repeat their command, so these fill the socket buffers.
             const std::string big = ServerCommand("GetCurrentDir", "{\"pad\":\"" + std::string(1u << 20, 'z') + "\"}");
             r.sent = {big};
             std::string burst;
             for (int i = 0; i < 24; ++i) burst += big + '\xFE';
             // Returns once the link has dropped the connection under it.
             std::thread writer([&] { r.server.Send(burst); });
             writer.join();
         },
         1, {}, "connection to {peer} lost: send failed: ", 1},
        {"closes mid-frame over and over", 60000, 60000,
         [](FaultRig& r) {
             for (int i = 0; i < 5; ++i) {
                 if (i > 0) {
                     ASSERT_TRUE(r.Reconnected());
                 }
                 ASSERT_TRUE(r.server.Send(kGetDir.substr(0, 10 + 3 * i)));
                 r.server.CloseClient();
             }
         },
         5, {}, "", 0},
    };
    return faults;
}

// A server that vanishes without a word needs the loopback server's
// socket filter, which Linux alone has.
const std::vector<Fault>& VanishingFaults() {
    static const std::vector<Fault> faults = {
        {"vanishes without a FIN, a heartbeat due", 200, 600000,
         [](FaultRig& r) { ASSERT_TRUE(r.server.Vanish()); },
         1, {}, "Connection timed out", 1},
        {"vanishes without a FIN from a quiet link", 600000, 1000,
         [](FaultRig& r) { ASSERT_TRUE(r.server.Vanish()); },
         1, {}, "Connection timed out", 1},
    };
    return faults;
}

// One fault from connection to checks; a fatal failure ends only its row.
// unackedTimeoutMs: how long sent bytes may go unacknowledged before the
// kernel drops the connection (short only where the server vanishes, so it
// cannot race the link's own stall check where a server stops reading).
void RunFault(const Fault& f, int unackedTimeoutMs) {
    StderrCapture err;
    FaultRig r;
    ASSERT_TRUE(r.server.Listening());
    ChatTimings t = FastTimings();
    t.heartbeatMs = f.heartbeatMs;
    t.keepaliveIdleMs = f.keepaliveIdleMs;
    t.keepaliveIntervalMs = 500;
    t.unackedTimeoutMs = unackedTimeoutMs;
    r.link = std::make_unique<CChatManager>(&r.window, r.dir.path(), t);
    r.link->Start("127.0.0.1", r.server.Port(), "agent-1", "desk", "g01", "r02");
    ASSERT_TRUE(r.Reconnected(5000));

    f.harm(r);
    if (f.losses > 0) {
        ASSERT_TRUE(r.Reconnected()) << "no new connection";
    }

    // Still serving: the next command is answered, and the first thing on
    // the connection is its reply.
    ASSERT_TRUE(r.server.SendMessage(kGetDir));
    r.sent.push_back(kGetDir);
    EXPECT_EQ(r.server.ReadMessage(10000).value_or("<no reply>"), r.DirReply(kGetDir));
    EXPECT_TRUE(r.link->IsConnected());

    // Only whole messages were handed on, and the notices are the fault's.
    const std::vector<std::string> notices = r.window.Notifications();
    const std::string received = TcpReceivedTrace("");
    // A code page without these characters (Windows' 1252) spells both
    // trace headings alike; the agent's own messages are then left out here.
    const bool alike = received == TcpSentTrace("");
    for (const std::string& n : notices) {
        if (n.rfind(received, 0) != 0) continue;
        const std::string m = n.substr(received.size());
        if (alike && m.rfind("{\"type\":\"cmd\",\"from\":\"agent-1\"", 0) == 0) continue;
        EXPECT_NE(std::find(r.sent.begin(), r.sent.end(), m), r.sent.end())
            << "handed on: " << m.substr(0, 80) << (m.size() > 80 ? "..." : "");
    }
    for (const std::string& expected : f.notices) {
        EXPECT_EQ(std::count(notices.begin(), notices.end(), expected),
                  std::count(f.notices.begin(), f.notices.end(), expected))
            << expected;
    }
    // One line for each failure, naming the server.
    const std::string peer = "127.0.0.1:" + std::to_string(r.server.Port());
    EXPECT_EQ(err.Count("connection to " + peer + " lost"), f.losses) << err.Text();
    if (!f.line.empty()) {
        std::string line = f.line;
        if (const std::size_t at = line.find("{peer}"); at != std::string::npos) line.replace(at, 6, peer);
        EXPECT_EQ(err.Count(line), f.lines) << err.Text();
    }
}

TEST(TcpFaultTest, EachFaultIsAnsweredAndTheLinkKeepsServing) {
    for (const Fault& f : Faults()) {
        SCOPED_TRACE(f.name);
        RunFault(f, 60000);
    }
}

TEST(TcpFaultTest, AVanishedServerIsNoticedAndRedialled) {
    if (!LoopbackServer::kCanVanish) GTEST_SKIP() << "the loopback server cannot vanish on this system";
    for (const Fault& f : VanishingFaults()) {
        SCOPED_TRACE(f.name);
        RunFault(f, 1500);
    }
}

}  // namespace
}  // namespace quorvin::testing
