// quorvin --headless end to end: the real binary, run from a folder of its
// own with QUORVIN_HOME naming its files' folder, against a loopback TCP
// server, a WebSocket relay server and the private CUPS of the "cups"
// fixture. What is checked is what a server and an operator's journal see:
// registrations, replies, log lines, the exit status.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <signal.h>

#include "TempDir.h"
#include "fixtures/AgentProcess.h"
#include "fixtures/CupsFixture.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/TestImages.h"
#include "fixtures/WsRelay.h"
#include "link/LoopbackServer.h"

namespace quorvin::testing {
namespace {

namespace fs = std::filesystem;

std::string Command(const std::string& name, const std::string& body = "{}", int seq = 1) {
    return R"({"type":"cmd","from":"server","to":"agent","name":")" + name + R"(","body":)" + body +
           R"(,"seq":)" + std::to_string(seq) + "}";
}

std::string Config(const std::string& param) { return R"({"startup":{"url":"main.htm","param":)" + param + "}}"; }

// The agent's two programs copied alone into a folder, its files in
// another (QUORVIN_HOME).
class Headless {
public:
    explicit Headless(const std::string& config) {
        fs::copy_file(QUORVIN_AGENT, m_bin / "quorvin");
        fs::copy_file(QUORVIN_AGENT_HEADLESS, m_bin / "quorvin-headless");
        WriteBytes(Home() + "/config.json", config);
    }
    std::string Home() const { return m_home.path(); }
    AgentProcess& Start() {
        m_process.emplace(std::vector<std::string>{m_bin / "quorvin", "--headless"},
                          std::vector<std::string>{"QUORVIN_HOME=" + Home()});
        return *m_process;
    }

private:
    TempDir m_bin, m_home;
    std::optional<AgentProcess> m_process;
};

std::string TcpParam(const LoopbackServer& server, const std::string& more = {}) {
    return R"({"server":"127.0.0.1","port":")" + std::to_string(server.Port()) +
           R"(","gsdm":"g1","rydm":"r1","clientName":"desk 7")" + more + "}";
}

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
        const std::string out = run.Output();
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
    EXPECT_NE(reply->find(R"("dir":")" + agent.Home() + "\""), std::string::npos) << *reply;

    ASSERT_TRUE(server.SendMessage(Command("ExitQuorvin", "{}", 2)));
    const std::optional<std::string> last = server.ReadMessage(10000);
    ASSERT_TRUE(last) << run.Output();
    EXPECT_NE(last->find("ExitQuorvin>res"), std::string::npos) << *last;
    ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
    EXPECT_EQ(run.ExitCode(), 0);
    // Each message in and out is one line under the link's name: the
    // registration, two commands, two replies.
    EXPECT_EQ(run.Count("quorvin: tcp link: 发送报文 "), 3) << run.Output();
    EXPECT_EQ(run.Count("quorvin: tcp link: 接收报文 "), 2) << run.Output();
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
        EXPECT_NE(reply->data.find(agent.Home()), std::string::npos) << reply->data;
        if (round < 2) {
            ASSERT_TRUE(server.Drop());
        }
    }
    EXPECT_EQ(run.Count("quorvin: ws link: connection ended; starting again in "), 2) << run.Output();
    EXPECT_GE(run.Count("quorvin: ws link: {\"msg_type\":\"ws.recv\""), 3) << run.Output();

    ASSERT_TRUE(server.SendText(Command("ExitQuorvin")));
    const std::optional<WsMessage> last = server.ReadMessage(10000);
    ASSERT_TRUE(last) << run.Output();
    EXPECT_NE(last->data.find("ExitQuorvin>res"), std::string::npos);
    ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
    EXPECT_EQ(run.ExitCode(), 0);
}

TEST(HeadlessTest, SignalsEndItInOrderWhereverTheyCome) {
    // A server that takes the connection and never answers the upgrade:
    // the signal comes while the link is still opening.
    LoopbackServer silent;
    // A WebSocket address nobody listens on (any more): the link keeps retrying.
    const std::string refused = "ws://127.0.0.1:" + std::to_string(LoopbackServer().Port()) + "/";
    struct Case {
        const char* what;
        std::string param;
        const char* waitFor;  // the signal is sent once this was said
    };
    const Case cases[] = {
        {"during a connect", R"({"wsUrl":"ws://127.0.0.1:)" + std::to_string(silent.Port()) + R"(/"})", nullptr},
        {"while retrying", R"({"wsUrl":")" + refused + R"("})", "failed (2); next attempt in "},
    };
    for (int sig : {SIGTERM, SIGINT}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (sig == SIGTERM ? " SIGTERM" : " SIGINT"));
            Headless agent(Config(c.param));
            AgentProcess& run = agent.Start();
            if (c.waitFor != nullptr) {
                ASSERT_TRUE(run.WaitFor(c.waitFor, 30000)) << run.Output();
            } else {
                ASSERT_TRUE(silent.Accept(30000)) << run.Output();
            }
            run.Signal(sig);
            ASSERT_TRUE(run.WaitExit(30000)) << run.Output();
            EXPECT_EQ(run.ExitCode(), 0) << run.Output();
        }
    }
}

// The headless agent on the TCP link with print tasks whose images come
// only when the test releases them (or never), printing on the private CUPS.
class HeldPrintTasks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(UseCupsFixture(m_cups)) << m_cups.error;
        m_run = &m_agent.Start();
        ASSERT_TRUE(m_server.Accept(30000)) << m_run->Output();
        ASSERT_TRUE(m_server.ReadMessage(10000)) << m_run->Output();
    }
    void TearDown() override { m_images.Stop(); }

    // Sends count tasks and waits until each is downloading its image.
    void SendTasks(int count) {
        for (int i = 0; i < count; ++i) {
            const std::string body = R"({"szRemoteURI":")" + m_images.origin() + "/" + std::to_string(i) +
                                     R"(.jpg","szLocalPath":"temp^t)" + std::to_string(i) +
                                     R"(.jpg","printerName":")" + m_cups.pdfQueue + "\"}";
            ASSERT_TRUE(m_server.SendMessage(Command("PrintWebJpegImage", body, i)));
        }
        for (int i = 0; i < 300 && m_asked.load() < count; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ASSERT_EQ(m_asked.load(), count) << m_run->Output();
    }

    CupsFixture m_cups;
    const std::string m_jpeg = MakeJpeg(64, 48);
    std::atomic<int> m_asked{0};
    std::atomic<bool> m_release{false};
    LoopbackHttpServer m_images{[this](const SeenRequest&, HttpConnection& c) {
        ++m_asked;
        for (int i = 0; i < 1200 && !m_release.load() && !c.Stopping(); ++i) c.Hold(100);
        c.Respond(200, m_jpeg, "image/jpeg");
    }};
    LoopbackServer m_server;
    Headless m_agent{Config(TcpParam(m_server))};
    AgentProcess* m_run = nullptr;
};

// The images arrive after the signal: the replies still reach the server,
// and the agent then ends with status 0.
TEST_F(HeldPrintTasks, SigtermLetsRunningPrintTasksFinishAndAnswer) {
    constexpr int kTasks = 3;
    SendTasks(kTasks);
    m_run->Signal(SIGTERM);
    ASSERT_TRUE(m_run->WaitFor("quorvin: agent: signal 15: ending after the running print tasks", 10000))
        << m_run->Output();
    m_release.store(true);
    int replies = 0;
    for (int i = 0; i < 50 && replies < kTasks; ++i) {
        const std::optional<std::string> message = m_server.ReadMessage(1000);
        if (!message || message->find("PrintWebJpegImage>res") == std::string::npos) continue;
        ++replies;
        EXPECT_NE(message->find(R"("errorNo":"0")"), std::string::npos) << *message;
    }
    EXPECT_EQ(replies, kTasks) << m_run->Output();
    ASSERT_TRUE(m_run->WaitExit(60000)) << m_run->Output();
    EXPECT_EQ(m_run->ExitCode(), 0);
    EXPECT_TRUE(m_server.WaitPeerClosed(10000));
}

// The image never comes, so the first signal would wait the whole grace
// time; the second ends the agent at once.
TEST_F(HeldPrintTasks, ASecondSignalEndsItAtOnce) {
    SendTasks(1);
    m_run->Signal(SIGTERM);
    ASSERT_TRUE(m_run->WaitFor("quorvin: agent: signal 15", 10000)) << m_run->Output();
    m_run->Signal(SIGTERM);
    ASSERT_TRUE(m_run->WaitExit(20000)) << m_run->Output();
    EXPECT_EQ(m_run->ExitCode(), 128 + SIGTERM);
}

}  // namespace
}  // namespace quorvin::testing
