// The WebSocket link against two real WebSocket servers on loopback
// (Python's websockets and node's ws): registration on every Start, Start's
// answers, messages of every length and in fragments, close both ways, Stop
// during a command, replies from many threads, oversize messages.
#include <cjson/cJSON.h>

#include <algorithm>
#include <cstdlib>
#include <future>
#include <set>
#include <thread>

#include "common/CodePage.h"
#include "link/LinkRig.h"
#include "link/LoopbackServer.h"

namespace quorvin::testing {
namespace {

const std::string kGetDir = ServerCommand("GetCurrentDir");

class WsLinkTest : public ::testing::TestWithParam<WsServerKind> {
protected:
    void SetUp() override {
        ASSERT_TRUE(Server().Ready()) << Server().Error();
        link = std::make_unique<CWsChatManager>(&window, dir.path(), FastWsTimings());
    }
    void TearDown() override {
        link.reset();
        SetLocalCodePage("");
    }
    WsRelayServer& Server() { return SharedWsServer(GetParam()); }

    // Starts the link and takes its registration; the request it opened with.
    WsRequest Connect(const std::string& from = "agent-1", const std::string& name = "desk") {
        EXPECT_EQ(link->Start(Server().Url("/agents/1?k=v"), from, name, "g01", "r02"), 0);
        WsRequest request = Server().WaitOpen().value_or(WsRequest{});
        registration = Next();
        return request;
    }
    std::string Next(int timeoutMs = 5000) {
        std::optional<WsMessage> m = Server().ReadMessage(timeoutMs);
        return m ? m->data : "<no message>";
    }
    std::string Ask(const std::string& message) {
        EXPECT_TRUE(Server().SendText(message));
        return Next();
    }
    bool Notified(const std::string& text, int timeoutMs = 5000) {
        return window.WaitFor(
            [&](const std::vector<std::string>& all) { return std::find(all.begin(), all.end(), text) != all.end(); },
            timeoutMs);
    }
    std::string DirReply(const std::string& src) const {
        return AgentReply("GetCurrentDir", "{\"dir\":\"" + dir.path() + "\"}", src);
    }

    TempDir dir;
    HeadlessPageWindow window;
    std::unique_ptr<CWsChatManager> link;
    std::string registration;
};

TEST_P(WsLinkTest, RegistersOnEveryStartAndOnlyThen) {
    const WsRequest request = Connect();
    EXPECT_EQ(request.path, "/agents/1?k=v");
    EXPECT_EQ(request.Header("Host"), "127.0.0.1:" + std::to_string(Server().Port()));
    EXPECT_EQ(request.Header("Sec-WebSocket-Key"), "q7Fz0LmW2pXc4TbR9sKd1A==");
    EXPECT_EQ(request.Header("Sec-WebSocket-Version"), "13");
    EXPECT_EQ(request.Header("Origin"), "");
    EXPECT_EQ(registration, ExpectedRegistration("agent-1", "desk", "g01", "r02"));
    EXPECT_TRUE(Notified("{\"msg_type\":\"ws.send\",\"msg_body\":" + registration + "}"));

    // Running: a second Start changes nothing and registers nothing.
    EXPECT_EQ(link->Start(Server().Url(), "other", "x", "y", "z"), 0);
    EXPECT_EQ(Ask(kGetDir), DirReply(kGetDir));
    EXPECT_TRUE(Notified("{\"msg_type\":\"ws.recv\",\"msg_body\":" + kGetDir + "}"));

    // The server closes: the link ends, says so, and the next Start
    // connects and registers anew with the new values.
    ASSERT_TRUE(Server().Close(1000, "bye"));
    EXPECT_TRUE(Notified("{\"msg_type\":\"ws.closed\",\"msg_body\":{}}"));
    for (int i = 0; i < 200 && link->IsStarted(); ++i) Delay(10);
    EXPECT_FALSE(link->IsStarted());
    EXPECT_EQ(link->SendText("{}"), 0);
    const std::string name = Utf8ToLocal("打印客户端");  // the link takes names in the local code page
    Connect("id\"2", name);
    EXPECT_EQ(registration, ExpectedRegistration("id\\\"2", LocalToUtf8(name), "g01", "r02"));
}

TEST_P(WsLinkTest, MessagesOfEveryLengthAndInFragmentsArriveWhole) {
    Connect();
    for (const std::size_t length : {125u, 126u, 65535u, 65536u, 1u << 20}) {
        std::string msg = ServerCommand("GetCurrentDir", "{\"pad\":\"\"}");
        msg.insert(msg.size() - 3, length - msg.size(), 'x');
        ASSERT_EQ(msg.size(), length);
        EXPECT_TRUE(Ask(msg) == DirReply(msg)) << length;  // too long to print
    }
    // Binary frames carry commands too; fragments join into one message.
    ASSERT_TRUE(Server().SendBinary(kGetDir));
    EXPECT_EQ(Next(), DirReply(kGetDir));
    ASSERT_TRUE(Server().SendFragments({kGetDir.substr(0, 9), kGetDir.substr(9, 40), kGetDir.substr(49)}));
    EXPECT_EQ(Next(), DirReply(kGetDir));
    // An empty message is no JSON: noticed, not answered.
    ASSERT_TRUE(Server().SendText(""));
    EXPECT_EQ(Ask(kGetDir), DirReply(kGetDir));
    EXPECT_TRUE(Notified(Utf8ToLocal("无法解析JSON内容！")));
}

TEST_P(WsLinkTest, StopWaitsForTheCommandInHandThenCloses) {
    Connect();
    // The window thread is busy, so the command's receipt notice waits.
    Event busy, gate;
    window.Post([&] {
        busy.Set();
        gate.Wait(10000);
    });
    ASSERT_TRUE(busy.Wait(5000));
    ASSERT_TRUE(Server().SendText(kGetDir));
    for (int i = 0; i < 500 && window.Queued() == 0; ++i) Delay(10);
    ASSERT_EQ(window.Queued(), 1u) << "the command's notice never came";
    auto stopped = std::async(std::launch::async, [&] { link->Stop(); });
    gate.Set();
    stopped.get();
    // The reply left before the close frame; a stop is not announced.
    EXPECT_EQ(Next(), DirReply(kGetDir));
    EXPECT_TRUE(Server().WaitClosed().has_value());
    EXPECT_FALSE(link->IsStarted());
    const auto all = window.Notifications();
    EXPECT_EQ(std::count(all.begin(), all.end(), "{\"msg_type\":\"ws.closed\",\"msg_body\":{}}"), 0);
}

TEST_P(WsLinkTest, RepliesFromManyThreadsNeverInterleave) {
    Connect();
    constexpr int kThreads = 6, kEach = 40;
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const std::string pad((t * 7919 + i * 104729) % 70000, static_cast<char>('a' + t));
                link->SendText("{\"t\":" + std::to_string(t) + ",\"i\":" + std::to_string(i) + ",\"pad\":\"" + pad + "\"}");
            }
        });
    }
    // The link thread answers commands meanwhile.
    for (int i = 0; i < 20; ++i) ASSERT_TRUE(Server().SendText(kGetDir));
    for (std::thread& s : senders) s.join();
    std::set<std::pair<int, int>> seen;
    int replies = 0;
    for (int n = 0; n < kThreads * kEach + 20; ++n) {
        const std::string m = Next(10000);
        JsonPtr parsed = ParseJson(m);
        ASSERT_NE(parsed, nullptr) << m.substr(0, 200);
        if (GetJsonMember(parsed.get(), "t") == nullptr) {
            EXPECT_EQ(m, DirReply(kGetDir));
            ++replies;
            continue;
        }
        const int t = GetJsonMember(parsed.get(), "t")->valueint;
        const int i = GetJsonMember(parsed.get(), "i")->valueint;
        EXPECT_EQ(GetJsonString(parsed.get(), "pad"),
                  std::string((t * 7919 + i * 104729) % 70000, static_cast<char>('a' + t)));
        seen.insert({t, i});
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kEach));
    EXPECT_EQ(replies, 20);
}

TEST_P(WsLinkTest, AMessageOverTheLimitClosesWith1009) {
    Connect();
    ASSERT_TRUE(Server().SendText(std::string((16u << 20) + 1, 'x')));
    EXPECT_EQ(Server().WaitClosed(10000).value_or(0), 1009);
    EXPECT_TRUE(Notified(OversizeNotice()));
    EXPECT_TRUE(Notified("{\"msg_type\":\"ws.closed\",\"msg_body\":{}}"));
}

INSTANTIATE_TEST_SUITE_P(Servers, WsLinkTest, ::testing::Values(WsServerKind::Python, WsServerKind::Node),
                         [](const ::testing::TestParamInfo<WsServerKind>& info) {
                             return std::string(WsRelayServer::Name(info.param));
                         });

// What makes Start answer 2, and that a failed Start leaves the link ready
// for the next one.
class WsStartTest : public ::testing::Test {
protected:
    void TearDown() override {
        link.reset();
        SetLocalCodePage("");
    }
    TempDir dir;
    HeadlessPageWindow window;
    std::unique_ptr<CWsChatManager> link = std::make_unique<CWsChatManager>(&window, dir.path(), FastWsTimings());
};

TEST_F(WsStartTest, NoConnectionAnswersTwoAndTheNextStartWorks) {
    WsRelayServer& server = SharedWsServer(WsServerKind::Node);
    ASSERT_TRUE(server.Ready()) << server.Error();
    LoopbackServer closed;  // listens, then stops: its port refuses
    const std::uint16_t refused = closed.Port();
    closed.CloseListener();
    LoopbackServer plain;  // answers the upgrade with 200
    std::thread answer([&] {
        if (plain.Accept()) {
            plain.Drain(300);
            plain.Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
        }
    });
    // A secure server whose certificate nothing here trusts.
    WsRelayServer untrusted(WsServerKind::Python, WsServerOptions{true, "127.0.0.1"});
    ASSERT_TRUE(untrusted.Ready()) << untrusted.Error();
    const std::string port = std::to_string(server.Port());
    for (const std::string& url : {"ws://127.0.0.1:" + std::to_string(refused) + "/", std::string("ws://no-such-host.invalid/"),
                                   "http://127.0.0.1:" + port + "/", "ws://127.0.0.1:" + std::to_string(plain.Port()) + "/",
                                   untrusted.Url(), std::string("")}) {
        EXPECT_EQ(link->Start(url, "a", "b", "c", "d"), 2) << url;
        EXPECT_FALSE(link->IsStarted()) << url;
    }
    answer.join();
    EXPECT_EQ(window.Notifications().size(), 0u);  // nothing sent, nothing traced
    EXPECT_EQ(link->Start(server.Url(), "a", "b", "c", "d"), 0);
    ASSERT_TRUE(server.WaitOpen().has_value());
    EXPECT_EQ(server.ReadMessage().value_or(WsMessage{}).data, ExpectedRegistration("a", "b", "c", "d"));
}

// Under a GBK locale the registration still travels in UTF-8, every value.
TEST_F(WsStartTest, TheRegistrationIsUtf8InAnyLocalCodePage) {
    WsRelayServer& server = SharedWsServer(WsServerKind::Python);
    ASSERT_TRUE(server.Ready()) << server.Error();
    SetLocalCodePage("GBK");
    ASSERT_EQ(link->Start(server.Url(), Utf8ToLocal("编号"), Utf8ToLocal("打印客户端"), Utf8ToLocal("单位"), "r"),
              0);
    ASSERT_TRUE(server.WaitOpen().has_value());
    EXPECT_EQ(server.ReadMessage().value_or(WsMessage{}).data, ExpectedRegistration("编号", "打印客户端", "单位", "r"));
}

}  // namespace
}  // namespace quorvin::testing
