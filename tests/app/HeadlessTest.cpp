// quorvin --headless end to end: the real programs against a loopback TCP
// server and a WebSocket relay server, on Linux and under wine. What is
// checked is what a server and an operator's journal see: registrations,
// replies, log lines, the exit status.
#include <gtest/gtest.h>

#include <algorithm>

#include "app/HeadlessAgent.h"
#include "common/CodePage.h"
#include "fixtures/WsRelay.h"

namespace quorvin::testing {
namespace {

TEST(HeadlessTest, AConfigurationThatCannotBeUsedEndsWithOneLine) {
    struct Case {
        const char* what;
        std::string config;  // empty: config.json is a folder
        const char* said;
    };
    const Case cases[] = {
        {"not JSON", "{\"startup\":", "no usable config.json in "},
        {"no param", R"({"startup":{"url":"main.htm"}})", "has no \"param\" object"},
        {"param not an object", Config("\"x\""), "has no \"param\" object"},
        {"a port that is no number", Config(R"({"server":"127.0.0.1","port":"91x"})"), "\"port\" is not a port"},
        {"a port out of range", Config(R"({"server":"127.0.0.1","port":70000})"), "is not a port number: 70000\n"},
        {"a WebSocket address that is none", Config(R"({"wsUrl":"http://h/"})"), "\"wsUrl\" http://h/: "},
        {"no link set up", Config(R"({"gsdm":"g"})"), "sets up no link"},
        {"a folder", "", "no usable config.json in "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Headless agent(c.config);
        if (c.config.empty()) {
            fs::remove(agent.Home() + "/config.json");
            fs::create_directory(agent.Home() + "/config.json");
        }
        AgentProcess& run = agent.Start();
        ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
        EXPECT_EQ(run.ExitCode(), 1);
        std::string out = run.Output();
        std::erase(out, '\r');  // Windows ends its lines with CR LF
        EXPECT_NE(out.find(c.said), std::string::npos) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
}

TEST(HeadlessTest, TcpLinkRegistersAnswersLogsEveryMessageAndEndsOnExitQuorvin) {
    LoopbackServer server;
    Headless agent(Config(TcpParam(server, R"(,"clientId":"id-42")")));
    AgentProcess& run = agent.Start();
    ASSERT_TRUE(server.Accept(30000)) << run.Output();
    const std::optional<std::string> registration = server.ReadMessage(10000);
    ASSERT_TRUE(registration) << run.Output();
    for (const char* value : {"wellcome", "id-42", "desk 7", "g1", "r1"})
        EXPECT_NE(registration->find(value), std::string::npos) << *registration;

    ASSERT_TRUE(server.SendMessage(Command("GetCurrentDir")));
    const std::optional<std::string> reply = server.ReadMessage(10000);
    ASSERT_TRUE(reply) << run.Output();
    EXPECT_NE(reply->find(R"("dir":")" + agent.HomeOnTheWire() + "\""), std::string::npos) << *reply;

    ASSERT_TRUE(server.SendMessage(Command("ExitQuorvin", "{}", 2)));
    const std::optional<std::string> last = server.ReadMessage(10000);
    ASSERT_TRUE(last) << run.Output();
    EXPECT_NE(last->find("ExitQuorvin>res"), std::string::npos) << *last;
    ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
    EXPECT_EQ(run.ExitCode(), 0);
    // Each message in and out is one line under the link's name: the
    // registration, two commands, two replies. The traces' words pass
    // through the local code page, which may not hold them (both are then
    // question marks).
    const auto trace = [](const char* word) { return "quorvin: tcp link: " + LocalToUtf8(Utf8ToLocal(word)) + " "; };
    const std::string sent = trace("发送报文"), received = trace("接收报文");
    if (sent != received) {
        EXPECT_EQ(run.Count(sent), 3) << run.Output();
        EXPECT_EQ(run.Count(received), 2) << run.Output();
    } else {
        EXPECT_EQ(run.Count(sent), 5) << run.Output();
    }
    EXPECT_NE(run.Output().find("GetCurrentDir>res"), std::string::npos);
}

TEST(HeadlessTest, WebSocketLinkStartsAgainAfterTheServerDropsIt) {
    WsRelayServer server(WsServerKind::Python);
    ASSERT_TRUE(server.Ready()) << server.Error();
    Headless agent(Config(R"({"wsUrl":")" + server.Url("/agent") + R"(","clientId":"ws-9","gsdm":"g2"})"));
    AgentProcess& run = agent.Start();
    // Three connections: the first, and one after each drop.
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(server.WaitOpen(30000)) << run.Output();
        const std::optional<WsMessage> registration = server.ReadMessage(10000);
        ASSERT_TRUE(registration) << run.Output();
        EXPECT_NE(registration->data.find("ws-9"), std::string::npos) << registration->data;
        ASSERT_TRUE(server.SendText(Command("GetCurrentDir", "{}", round)));
        const std::optional<WsMessage> reply = server.ReadMessage(10000);
        ASSERT_TRUE(reply) << run.Output();
        EXPECT_NE(reply->data.find(agent.HomeOnTheWire()), std::string::npos) << reply->data;
        if (round < 2) {
            ASSERT_TRUE(server.Drop());
        }
    }
    EXPECT_EQ(run.Count("quorvin: ws link: connection ended; starting again in "), 2) << run.Output();
    // The notice of a message comes through the agent's main loop, the reply
    // straight from the link: the last notice may follow its reply.
    EXPECT_TRUE(run.WaitFor("quorvin: ws link: {\"msg_type\":\"ws.recv\"", 10000, 3)) << run.Output();

    ASSERT_TRUE(server.SendText(Command("ExitQuorvin")));
    const std::optional<WsMessage> last = server.ReadMessage(10000);
    ASSERT_TRUE(last) << run.Output();
    EXPECT_NE(last->data.find("ExitQuorvin>res"), std::string::npos);
    ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
    EXPECT_EQ(run.ExitCode(), 0);
}

}  // namespace
}  // namespace quorvin::testing
