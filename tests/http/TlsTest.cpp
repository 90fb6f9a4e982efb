// CHttpDownloader and AsyncHttpClient over TLS against a loopback HTTPS
// server (Python's, started as a child process) whose certificate nobody
// vouches for.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "fixtures/ChildProcess.h"
#include "http/AsyncHttpClient.h"
#include "http/HttpDownloader.h"

namespace quorvin {
namespace {

class TlsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(child.Started());
        std::string said;
        const int port = child.ReadPort(20000, &said);
        ASSERT_NE(port, 0) << "https_server.py said: " << said;
        origin = "https://127.0.0.1:" + std::to_string(port);
    }

    testing::TempDir dir;
    testing::ChildProcess child{{QUORVIN_TEST_PYTHON, QUORVIN_TEST_FIXTURES "/https_server.py", dir.path()}};
    std::string origin;
};

TEST_F(TlsTest, AnUnknownCertificateIsRefused) {
    CHttpDownloader downloader(10000);
    downloader.Open();
    EXPECT_FALSE(downloader.DownloadFile(origin, "/x", dir / "x.txt"));
    EXPECT_FALSE(std::filesystem::exists(dir / "x.txt"));
}

TEST_F(TlsTest, ACertificateTrustedByTheCallerIsAccepted) {
    AsyncHttpClient client;
    client.SetCaFile(dir / "cert.pem");
    ASSERT_TRUE(client.ConnectUrlAsync(origin, nullptr));
    ASSERT_TRUE(client.Request("/x", HttpClient::kGet));
    ASSERT_TRUE(client.WaitForCompletion(10000));
    EXPECT_TRUE(client.IsResponseComplete());
    EXPECT_EQ(client.GetStatusCode(), 200);
    EXPECT_EQ(client.ReadAll(), "secure");
}

}  // namespace
}  // namespace quorvin
