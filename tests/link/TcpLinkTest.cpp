// The TCP link against a real server on loopback: registration and
// heartbeat, framing, reconnection, Stop and Start, concurrent senders,
// traces.
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <thread>
#include <vector>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Event.h"
#include "fixtures/StderrCapture.h"
#include "link/TcpLinkFixture.h"

namespace quorvin::testing {
namespace {

const std::string kGetDir = "{\"name\":\"GetCurrentDir\"}";

std::string DirReply(const std::string& moduleDir, const std::string& src) {
    return "{\"type\":\"cmd\",\"from\":\"\",\"to\":\"\",\"name\":\"GetCurrentDir>res\",\"body\":{\"result\":"
           "{\"dir\":\"" + moduleDir + "\"},\"modelName\":\"\",\"taskId\":\"\",\"callfor\":\"\"},\"srcMsg\":" + src +
           "}";
}

// --- registration and heartbeat ------------------------------------------

TEST_F(TcpLinkTest, RegistersAfterEveryConnectAndTracesIt) {
    EXPECT_TRUE(std::filesystem::is_directory(dir / "temp"));
    Connect(server);
    EXPECT_TRUE(NotifiedWith(Utf8ToLocal("发送报文\r\n") + ExpectedRegistration("agent-1", "desk", "g01", "r02")));
    EXPECT_TRUE(server.WaitHeartbeats(1));

    // The server drops the connection: the link comes back and registers again.
    server.CloseClient();
    ASSERT_TRUE(server.Accept(3000));
    EXPECT_EQ(server.ReadMessage().value_or(""), ExpectedRegistration("agent-1", "desk", "g01", "r02"));
    EXPECT_TRUE(server.WaitHeartbeats(1));
}

TEST_F(TcpLinkTest, RegistrationCarriesUtf8AndEscapesQuotes) {
    // The name as the page gives it, in the local code page.
    const std::string name = Utf8ToLocal("打印客户端");
    link->Start("127.0.0.1", server.Port(), "id\"1", name, "g\\1", "r");
    ASSERT_TRUE(server.Accept());
    const std::string reg = server.ReadMessage().value_or("");
    EXPECT_EQ(reg, ExpectedRegistration("id\\\"1", LocalToUtf8(name), "g\\\\1", "r"));
    EXPECT_NE(ParseJson(reg), nullptr);
}

template <int HeartbeatMs>
class HeartbeatEveryTest : public TcpLinkTest {
    ChatTimings Timings() const override {
        ChatTimings t = FastTimings();
        t.heartbeatMs = HeartbeatMs;
        return t;
    }
};
using FastHeartbeatTest = HeartbeatEveryTest<20>;
using BusyHeartbeatTest = HeartbeatEveryTest<1>;

TEST_F(FastHeartbeatTest, HeartbeatByteRepeatsAtItsInterval) {
    Connect(server);
    EXPECT_TRUE(server.WaitHeartbeats(5, 5000));
}

// --- framing ---------------------------------------------------------------

TEST_F(TcpLinkTest, CutsMessagesAtTheDelimiterWhateverTheChunks) {
    Connect(server);
    const std::string a = "{\"name\":\"GetCurrentDir\",\"from\":\"A\"}";
    const std::string b = "{\"name\":\"GetCurrentDir\",\"from\":\"B\"}";
    // Two messages in one chunk: two replies, in order.
    ASSERT_TRUE(server.Send(a + '\xFE' + b + '\xFE'));
    EXPECT_NE(server.ReadMessage().value_or("").find("\"to\":\"A\""), std::string::npos);
    EXPECT_NE(server.ReadMessage().value_or("").find("\"to\":\"B\""), std::string::npos);

    // One message over three chunks, the middle one without a delimiter.
    ASSERT_TRUE(server.Send(kGetDir.substr(0, 5)));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(server.Send(kGetDir.substr(5, 10)));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(server.Send(kGetDir.substr(15) + '\xFE'));
    EXPECT_EQ(server.ReadMessage().value_or(""), DirReply(dir.path(), kGetDir));

    // The delimiter alone in the next chunk.
    ASSERT_TRUE(server.Send(kGetDir));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ASSERT_TRUE(server.Send("\xFE"));
    EXPECT_EQ(server.ReadMessage().value_or(""), DirReply(dir.path(), kGetDir));

    // One byte at a time.
    for (char c : kGetDir + '\xFE') ASSERT_TRUE(server.Send(std::string(1, c)));
    EXPECT_EQ(server.ReadMessage().value_or(""), DirReply(dir.path(), kGetDir));
}

TEST_F(TcpLinkTest, EmptyMessagesAndZeroBytes) {
    Connect(server);
    // Two delimiters in a row hand over an empty message: not JSON.
    ASSERT_TRUE(server.Send(std::string("\xFE\xFE", 2)));
    EXPECT_TRUE(window.WaitFor([](const std::vector<std::string>& all) {
        return std::count(all.begin(), all.end(), JsonErrorNotice()) == 2;
    }));
    // A zero byte ends the text handed over.
    ASSERT_TRUE(server.Send(kGetDir + std::string("\0trailing", 9) + '\xFE'));
    EXPECT_EQ(server.ReadMessage().value_or(""), DirReply(dir.path(), kGetDir));
    EXPECT_TRUE(NotifiedWith(Utf8ToLocal("接收报文\r\n") + kGetDir));
}

TEST_F(TcpLinkTest, MessageOverTheLimitIsDroppedAndTheStreamStaysInStep) {
    Connect(server);
    std::string huge = "{\"name\":\"GetCurrentDir\",\"pad\":\"" + std::string(20u << 20, 'x') + "\"}";
    ASSERT_TRUE(server.Send(huge + '\xFE' + kGetDir + '\xFE'));
    EXPECT_EQ(server.ReadMessage(20000).value_or(""), DirReply(dir.path(), kGetDir));
    EXPECT_TRUE(NotifiedWith(OversizeNotice()));
    // Exactly at the limit is still a message.
    const std::string head = "{\"name\":\"GetCurrentDir\",\"pad\":\"";
    std::string fits = head + std::string(MessageFramer::kMaxMessage - head.size() - 2, 'y') + "\"}";
    ASSERT_EQ(fits.size(), MessageFramer::kMaxMessage);
    ASSERT_TRUE(server.SendMessage(fits));
    const std::string reply = server.ReadMessage(20000).value_or("");
    EXPECT_EQ(reply.size(), DirReply(dir.path(), fits).size());
}

// The unfinished message of a dropped connection is discarded: the next
// connection's first message arrives as sent, never glued onto it.
TEST_F(TcpLinkTest, ServerClosingMidMessageLeavesNothingForTheNextConnection) {
    Connect(server);
    ASSERT_TRUE(server.Send(kGetDir.substr(0, 12)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.CloseClient();
    ASSERT_TRUE(server.Accept(3000));
    ASSERT_TRUE(server.ReadMessage().has_value());  // registration
    EXPECT_EQ(Ask(kGetDir), DirReply(dir.path(), kGetDir));
    EXPECT_TRUE(NotifiedWith(Utf8ToLocal("接收报文\r\n") + kGetDir));
}

// --- reconnection, Stop and Start -------------------------------------------

TEST_F(TcpLinkTest, ReconnectsAfterTheServerRestartsAndForgetsPendingBytes) {
    Connect(server);
    const std::uint16_t port = server.Port();
    ASSERT_TRUE(server.Send(kGetDir.substr(0, 7)));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server.CloseClient();
    server.CloseListener();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // a few refused attempts
    EXPECT_FALSE(link->IsConnected());

    LoopbackServer again(port);
    ASSERT_TRUE(again.Listening());
    ASSERT_TRUE(again.Accept(3000));
    EXPECT_EQ(again.ReadMessage().value_or(""), ExpectedRegistration("agent-1", "desk", "g01", "r02"));
    ASSERT_TRUE(again.SendMessage(kGetDir));
    EXPECT_EQ(again.ReadMessage().value_or(""), DirReply(dir.path(), kGetDir));
    link.reset();  // before `again` goes
}

TEST_F(TcpLinkTest, StopWhileConnectedEndsTheLinkUntilTheNextStart) {
    Connect(server);
    link->Stop();
    EXPECT_TRUE(server.WaitPeerClosed(3000));
    EXPECT_FALSE(link->IsConnected());
    EXPECT_FALSE(server.ConnectionPending(300));  // no further attempts

    link->Start("127.0.0.1", server.Port(), "agent-2", "desk2", "g2", "r2");
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(server.ReadMessage().value_or(""), ExpectedRegistration("agent-2", "desk2", "g2", "r2"));
}

TEST_F(TcpLinkTest, StopWhileRetryingLetsTheRetriesGoOn) {
    StderrCapture err;
    const std::uint16_t port = server.Port();
    const std::string peer = "127.0.0.1:" + std::to_string(port);
    server.CloseListener();
    link->Start("127.0.0.1", port, "agent-1", "desk", "g01", "r02");
    // The reason is the system's own words (Windows says them in its language).
    ASSERT_TRUE(err.WaitFor("connect to " + peer + " failed: "));
    link->Stop();
    LoopbackServer later(port);
    ASSERT_TRUE(later.Listening());
    ASSERT_TRUE(later.Accept(3000));
    EXPECT_EQ(later.ReadMessage().value_or(""), ExpectedRegistration("agent-1", "desk", "g01", "r02"));
    ASSERT_TRUE(err.WaitFor("connected to " + peer + "\n"));
    // Refused every 50 ms, said once.
    EXPECT_EQ(err.Count("connect to " + peer + " failed: "), 1) << err.Text();
    link.reset();
}

TEST_F(TcpLinkTest, SecondStartRetargetsTheLink) {
    Connect(server);
    LoopbackServer other;
    link->Start("127.0.0.1", other.Port(), "agent-9", "desk9", "g9", "r9");
    EXPECT_TRUE(server.WaitPeerClosed(3000));
    ASSERT_TRUE(other.Accept());
    EXPECT_EQ(other.ReadMessage().value_or(""), ExpectedRegistration("agent-9", "desk9", "g9", "r9"));
    // A loss later redials the new server too.
    other.CloseClient();
    ASSERT_TRUE(other.Accept(3000));
    EXPECT_EQ(other.ReadMessage().value_or(""), ExpectedRegistration("agent-9", "desk9", "g9", "r9"));
    ASSERT_TRUE(other.SendMessage(kGetDir));
    EXPECT_EQ(other.ReadMessage().value_or(""), DirReply(dir.path(), kGetDir));
    link.reset();
}

TEST_F(TcpLinkTest, StartsInARowLeaveOneConnection) {
    for (int i = 0; i < 5; ++i) link->Start("127.0.0.1", server.Port(), "agent-" + std::to_string(i), "d", "g", "r");
    // Accept whatever was dialled; superseded attempts close their sockets.
    std::vector<std::unique_ptr<LoopbackServer>> unused;
    int open = 0;
    std::string lastRegistration;
    for (int i = 0; i < 5 && server.ConnectionPending(500); ++i) {
        ASSERT_TRUE(server.Accept(500));
        const std::optional<std::string> reg = server.ReadMessage(300);
        if (!server.WaitPeerClosed(300)) {
            ++open;
            if (reg) lastRegistration = *reg;
            break;  // the live one; keep it
        }
    }
    EXPECT_EQ(open, 1);
    EXPECT_EQ(lastRegistration, ExpectedRegistration("agent-4", "d", "g", "r"));
    EXPECT_EQ(Ask(kGetDir), DirReply(dir.path(), kGetDir));
}

TEST_F(TcpLinkTest, ServerTextIsKeptAsGivenAndNamesAreLookedUpWhenDialled) {
    link->Start(" 127.0.0.1 ", server.Port(), "a", "b", "c", "d");
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(link->GetServer(), " 127.0.0.1 ");
    link.reset();

    // "127.1" is not four fields, so it is looked up as a name.
    CChatManager byName(&window, dir.path(), FastTimings());
    byName.Start("127.1", server.Port(), "a", "b", "c", "d");
    EXPECT_EQ(byName.GetServer(), "127.1");
    ASSERT_TRUE(server.Accept());
    EXPECT_EQ(server.ReadMessage().value_or(""), ExpectedRegistration("a", "b", "c", "d"));
}

TEST_F(TcpLinkTest, NeverStartedLinkNeitherSendsNorTraces) {
    link->SendText("{\"x\":1}");
    link->SendRegistration();
    EXPECT_TRUE(window.Notifications().empty());
}

TEST_F(TcpLinkTest, ProcessWideInstanceTakesTheFirstWindowThatAsks) {
    HeadlessPageWindow other;
    CChatManager& first = CChatManager::GetInstance(nullptr);
    EXPECT_EQ(first.Owner(), nullptr);
    CChatManager& second = CChatManager::GetInstance(&window);
    CChatManager& third = CChatManager::GetInstance(&other);
    EXPECT_EQ(&first, &second);
    EXPECT_EQ(&first, &third);
    EXPECT_EQ(first.Owner(), &window);
    EXPECT_TRUE(std::filesystem::is_directory(first.Tool().GetModuleDir() + "/temp"));
}

TEST_F(TcpLinkTest, DestructionEndsEveryThreadInAnyState) {
    // Retrying against a closed port.
    const std::uint16_t closedPort = server.Port();
    {
        CChatManager retrying(&window, dir.path(), FastTimings());
        retrying.Start("127.0.0.1", closedPort + 0, "a", "b", "c", "d");
        server.CloseListener();
        std::this_thread::sleep_for(std::chrono::milliseconds(120));
    }
    // Connected, with a command being answered while it goes.
    LoopbackServer live;
    {
        CChatManager connected(&window, dir.path(), FastTimings());
        connected.Start("127.0.0.1", live.Port(), "a", "b", "c", "d");
        ASSERT_TRUE(live.Accept());
        ASSERT_TRUE(live.ReadMessage().has_value());
        for (int i = 0; i < 50; ++i) live.SendMessage(kGetDir);
        connected.Close();
        EXPECT_FALSE(connected.IsConnected());
        EXPECT_TRUE(live.WaitPeerClosed(3000));
        connected.Start("127.0.0.1", live.Port(), "a", "b", "c", "d");  // closed for good
        EXPECT_FALSE(live.ConnectionPending(200));
    }
}

// --- misbehaving servers ----------------------------------------------------

TEST_F(TcpLinkTest, ServerThatNeverReadsGetsDroppedAndRedialled) {
    Connect(server);
    // Replies repeat the command, so these fill the socket buffers quickly;
    // the server reads nothing.
    const std::string big = "{\"name\":\"GetCurrentDir\",\"pad\":\"" + std::string(1u << 20, 'z') + "\"}";
    std::string burst;
    for (int i = 0; i < 24; ++i) burst += big + '\xFE';
    std::thread writer([&] { server.Send(burst); });
    // The blocked send gives up, the connection is dropped and remade.
    LoopbackServer* s = &server;
    writer.join();
    ASSERT_TRUE(s->ConnectionPending(10000));
    ASSERT_TRUE(s->Accept());
    EXPECT_EQ(s->ReadMessage().value_or(""), ExpectedRegistration("agent-1", "desk", "g01", "r02"));
}

// A command's reply goes back on the connection it came on or nowhere:
// after a Start to another server, the first server's reply never reaches
// the second.
TEST_F(TcpLinkTest, ReplyOfAnEndedConnectionIsNotSentOnTheNextOne) {
    Event entered, release;
    link->SetPrintTaskStarter([&](std::unique_ptr<PRINT_TASK>) {
        entered.Set();
        release.Wait(10000);
        return false;  // refused: the dispatcher answers at once
    });
    StderrCapture err;
    Connect(server);
    ASSERT_TRUE(server.SendMessage(Command("PrintWebJpegImage", R"({"szLocalPath":"temp^a.jpg","printerName":"P"})")));
    ASSERT_TRUE(entered.Wait(5000));
    LoopbackServer other;
    link->Start("127.0.0.1", other.Port(), "agent-1", "desk", "g01", "r02");
    ASSERT_TRUE(other.Accept());
    ASSERT_EQ(other.ReadMessage().value_or(""), ExpectedRegistration("agent-1", "desk", "g01", "r02"));
    release.Set();
    ASSERT_TRUE(other.SendMessage(kGetDir));
    EXPECT_EQ(other.ReadMessage().value_or(""), DirReply(dir.path(), kGetDir));
    EXPECT_TRUE(err.WaitFor("not sent: its connection to 127.0.0.1:" + std::to_string(server.Port()) + " has ended"));
    link.reset();
}

// --- senders ----------------------------------------------------------------

TEST_F(BusyHeartbeatTest, ConcurrentSendsNeverInterleave) {
    Connect(server);
    constexpr int kThreads = 8;
    constexpr int kEach = 50;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([this, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string tag = std::to_string(t) + "-" + std::to_string(i);
                link->SendText("{\"tag\":\"" + tag + "\",\"pad\":\"" + std::string(20000, char('a' + t)) + "\"}");
            }
        });
    }
    std::set<std::string> seen;
    int torn = 0;
    for (int i = 0; i < kThreads * kEach; ++i) {
        const std::optional<std::string> m = server.ReadMessage(10000);
        if (!m) break;
        JsonPtr parsed = ParseJson(*m);
        const std::string tag = GetJsonString(parsed.get(), "tag");
        const std::string pad = GetJsonString(parsed.get(), "pad");
        if (tag.empty() || pad != std::string(20000, char('a' + (tag[0] - '0'))) || !seen.insert(tag).second) ++torn;
    }
    for (auto& s : senders) s.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(seen.size(), std::size_t{kThreads * kEach});
}

// --- traces -------------------------------------------------------------------

TEST_F(TcpLinkTest, TracesReceivedAsIsAndSentInTheLocalCodePage) {
    SetLocalCodePage("GBK");
    Connect(server);
    const std::string msg = "{\"name\":\"GetCurrentDir\",\"from\":\"服务器\"}";
    const std::string reply = Ask(msg);
    ASSERT_NE(reply.find("\"to\":\"服务器\""), std::string::npos);
    const std::vector<std::string> expected = {
        Utf8ToLocal("接收报文\r\n") + msg,  // as received: UTF-8
        Utf8ToLocal("发送报文\r\n") + Utf8ToLocal(reply),
    };
    EXPECT_TRUE(window.WaitFor([&](const std::vector<std::string>& all) {
        return all.size() >= 3 && std::vector<std::string>(all.end() - 2, all.end()) == expected;
    }));
    // The registration's trace came first.
    EXPECT_EQ(window.Notifications().front().rfind(Utf8ToLocal("发送报文\r\n"), 0), 0u);
    link.reset();
    SetLocalCodePage("");
}

// --- after Close ------------------------------------------------------------

// Print tasks outlive the links: the agent closes the links, its window goes,
// and a task still running then traces and replies on the closed link.
TEST_F(TcpLinkTest, ClosedLinkNoLongerReachesItsOwnerWindow) {
    Connect(server);
    link->Close();
    const std::size_t before = window.Notifications().size();
    std::thread task([&] {
        link->NotifyPage("late notice");
        link->SendText("{\"late\":1}");
    });
    task.join();
    EXPECT_EQ(window.Notifications().size(), before);

    // The same with the window already destroyed (ASan sees any use of it).
    auto gone = std::make_unique<HeadlessPageWindow>();
    CChatManager other(gone.get(), dir.path(), FastTimings());
    other.Close();
    gone.reset();
    std::thread late([&] { other.NotifyPage("late notice"); });
    late.join();
    EXPECT_EQ(other.Owner(), nullptr);
}

// A large message to a slow reader takes longer than the send timeout in all,
// yet every wait sees progress: the connection stays and the message arrives whole.
TEST_F(TcpLinkTest, SlowButSteadyReaderGetsALargeMessageWhole) {
    server.ReadSlowly(64 * 1024, 25);
    Connect(server);
    const std::string big = "{\"pad\":\"" + std::string(10u << 20, 'q') + "\"}";
    std::thread sender([&] { link->SendText(big); });
    const std::optional<std::string> got = server.ReadMessage(30000);
    sender.join();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->size(), big.size());
    EXPECT_TRUE(*got == big);
    EXPECT_TRUE(link->IsConnected());
}

}  // namespace
}  // namespace quorvin::testing
