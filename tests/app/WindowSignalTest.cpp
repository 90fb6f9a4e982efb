// The real agent binary with its window, showing the shipped page, which
// starts its links by itself ("autoConnect"). It registers under the
// machine's identity from the first start, and ends in order on SIGTERM: a
// print task waits for its image when the signal comes, and still answers
// before the agent exits 0. Runs under a display.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>

#include "TempDir.h"
#include "common/Json.h"
#include "fixtures/AgentProcess.h"
#include "fixtures/CupsFixture.h"
#include "fixtures/LoopbackHttpServer.h"
#include "fixtures/TestImages.h"
#include "fixtures/WsRelay.h"
#include "link/LoopbackServer.h"

namespace quorvin::testing {
namespace {

TEST(WindowSignalTest, SigtermLetsTheRunningPrintTaskAnswerThenClosesTheWindow) {
    CupsFixture cups;
    ASSERT_TRUE(UseCupsFixture(cups)) << cups.error;
    const std::string jpeg = MakeJpeg(64, 48);
    std::atomic<bool> asked{false}, release{false};
    LoopbackHttpServer images{[&](const SeenRequest&, HttpConnection& c) {
        asked.store(true);
        for (int i = 0; i < 300 && !release.load() && !c.Stopping(); ++i) c.Hold(100);
        c.Respond(200, jpeg, "image/jpeg");
    }};
    LoopbackServer server;
    TempDir bin, home;
    std::filesystem::copy_file(QUORVIN_AGENT, bin / "quorvin");
    WriteBytes(home / "config.json", R"({"startup":{"root":")" + std::string(QUORVIN_SHIPPED_PAGES) +
                                         R"(","url":"main.htm","main":"main.htm","param":{"server":"127.0.0.1",)" +
                                         R"("port":")" + std::to_string(server.Port()) +
                                         R"(","autoConnect":"tcp"}}})");
    AgentProcess run({bin / "quorvin"}, {"QUORVIN_HOME=" + home.path()});
    ASSERT_TRUE(server.Accept(60000)) << run.Output();
    ASSERT_TRUE(server.ReadMessage(10000)) << run.Output();
    const std::string body = R"({"szRemoteURI":")" + images.origin() + R"(/a.jpg","szLocalPath":"temp^a.jpg",)" +
                             R"("printerName":")" + cups.pdfQueue + "\"}";
    ASSERT_TRUE(server.SendMessage(R"({"type":"cmd","from":"s","to":"a","name":"PrintWebJpegImage","body":)" + body +
                                   R"(,"seq":1})"));
    for (int i = 0; i < 300 && !asked.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(asked.load()) << run.Output();

    run.Signal(SIGTERM);
    ASSERT_TRUE(run.WaitFor("quorvin: agent: signal 15: ending after the running print tasks", 10000))
        << run.Output();
    release.store(true);
    std::optional<std::string> reply;
    for (int i = 0; i < 30 && !(reply && reply->find("PrintWebJpegImage>res") != std::string::npos); ++i)
        reply = server.ReadMessage(1000);
    ASSERT_TRUE(reply) << run.Output();
    EXPECT_NE(reply->find(R"("errorNo":"0")"), std::string::npos) << *reply;
    ASSERT_TRUE(run.WaitExit(60000)) << run.Output();
    EXPECT_EQ(run.ExitCode(), 0) << run.Output();
}

// A fresh configuration holds no identity: the page must get the one
// filled in at this start, or both links register with an empty "from"
// and "clientName" until the agent is started again.
TEST(WindowSignalTest, AFreshInstallRegistersUnderTheMachinesNameOnBothLinksAtOnce) {
    LoopbackServer tcp;
    WsRelayServer ws(WsServerKind::Node);
    ASSERT_TRUE(ws.Ready()) << ws.Error();
    TempDir bin, home;
    std::filesystem::copy_file(QUORVIN_AGENT, bin / "quorvin");
    WriteBytes(home / "config.json", R"({"startup":{"root":")" + std::string(QUORVIN_SHIPPED_PAGES) +
                                         R"(","url":"main.htm","main":"main.htm","param":{"server":"127.0.0.1",)" +
                                         R"("port":")" + std::to_string(tcp.Port()) + R"(","wsUrl":")" + ws.Url() +
                                         R"(","gsdm":"g","rydm":"r","autoConnect":"tcp,ws"}}})");
    AgentProcess run({bin / "quorvin"}, {"QUORVIN_HOME=" + home.path()});
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    const auto expectIdentity = [&](const std::string& registration) {
        JsonPtr doc = ParseJson(registration);
        const std::string from = GetJsonString(doc.get(), "from");
        EXPECT_EQ(from.substr(0, 1), "_") << registration;
        EXPECT_GT(from.size(), 1u) << registration;
        EXPECT_EQ(GetJsonString(GetJsonMember(doc.get(), "body"), "clientName"), host) << registration;
    };
    ASSERT_TRUE(tcp.Accept(60000)) << run.Output();
    const std::optional<std::string> viaTcp = tcp.ReadMessage(10000);
    ASSERT_TRUE(viaTcp) << run.Output();
    expectIdentity(*viaTcp);
    ASSERT_TRUE(ws.WaitOpen(30000)) << run.Output();
    const std::optional<WsMessage> viaWs = ws.ReadMessage(10000);
    ASSERT_TRUE(viaWs) << run.Output();
    expectIdentity(viaWs->data);
    run.Signal(SIGTERM);
    ASSERT_TRUE(run.WaitExit(60000)) << run.Output();
    EXPECT_EQ(run.ExitCode(), 0) << run.Output();
}

}  // namespace
}  // namespace quorvin::testing
