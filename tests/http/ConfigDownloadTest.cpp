// The start-up's download of a missing config.json, with the real start-up
// sequence and a configuration server on loopback.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "app/QuorvinApp.h"
#include "fixtures/LoopbackHttpServer.h"
#include "http/ConfigDownload.h"

namespace quorvin {
namespace {

using testing::HttpConnection;
using testing::LoopbackHttpServer;
using testing::SeenRequest;

const char kServedConfig[] = R"({"startup":{"url":"main.htm","title":"Served","param":{"shop":"7"}}})";

MachineIdentity FixedIdentity() {
    return {[] { return std::string("00-1A-2B-3C-4D-5E"); }, [] { return std::string("desk-1"); }};
}

class ConfigDownloadTest : public ::testing::Test {
protected:
    // Runs the start-up against the server; true when the window was shown.
    bool Start(const std::string& origin) {
        CQuorvinApp app(dir.path(), MakeConfigFetcher(origin, 5000),
                        [this](const StartupValues& values) { title = values.window.title; }, FixedIdentity());
        app.InitInstance();
        app.ExitInstance();
        return app.WindowShown();
    }

    int status = 200;
    LoopbackHttpServer server{[this](const SeenRequest& request, HttpConnection& c) {
        if (request.target == kConfigServerPath && status == 200) {
            c.Respond(200, kServedConfig, "application/json");
        } else {
            c.Respond(status == 200 ? 404 : status, "<html>error</html>", "text/html");
        }
    }};
    testing::TempDir dir;
    std::string title;
};

TEST_F(ConfigDownloadTest, AMissingFileIsFetchedSavedAndCompleted) {
    EXPECT_TRUE(Start(server.origin()));
    EXPECT_EQ(title, "Served");
    ASSERT_EQ(server.RequestCount(), 1u);
    EXPECT_EQ(server.Requests()[0].target, "/KELDRA/printer/config.json");
    const std::string saved = testing::ReadBytes(dir / "config.json");
    EXPECT_NE(saved.find("\"clientName\":\t\"desk-1\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("\"shop\""), std::string::npos) << saved;
}

TEST_F(ConfigDownloadTest, AnExistingFileMeansNoRequest) {
    testing::WriteBytes(dir / "config.json", R"({"startup":{"title":"Local","param":{}}})");
    EXPECT_TRUE(Start(server.origin()));
    EXPECT_EQ(title, "Local");
    // Even a local file that is no JSON at all keeps the server out of it.
    testing::WriteBytes(dir / "config.json", "not json");
    EXPECT_FALSE(Start(server.origin()));
    EXPECT_EQ(testing::ReadBytes(dir / "config.json"), "not json");
    EXPECT_EQ(server.RequestCount(), 0u);
}

TEST_F(ConfigDownloadTest, AnErrorPageIsNotSavedSoTheNextStartTriesAgain) {
    status = 404;
    EXPECT_FALSE(Start(server.origin()));
    EXPECT_FALSE(std::filesystem::exists(dir / "config.json"));
    status = 500;
    EXPECT_FALSE(Start(server.origin()));
    EXPECT_FALSE(std::filesystem::exists(dir / "config.json"));
    status = 200;
    EXPECT_TRUE(Start(server.origin()));
    EXPECT_EQ(server.RequestCount(), 3u);
}

TEST_F(ConfigDownloadTest, NoOriginMeansNoDownload) {
    EXPECT_FALSE(Start(""));
    EXPECT_FALSE(std::filesystem::exists(dir / "config.json"));
    EXPECT_EQ(server.RequestCount(), 0u);
}

}  // namespace
}  // namespace quorvin
