// WinINet checks certificates against the system's store only: a caller's
// own CA file is refused with a clear word, never quietly dropped.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "fixtures/LoopbackHttpServer.h"
#include "http/AsyncHttpClient.h"
#include "http/HttpClient.h"

namespace quorvin {
namespace {

using testing::HttpConnection;
using testing::LoopbackHttpServer;
using testing::SeenRequest;

TEST(WinCaFile, ARequestNamingACaFileFailsBeforeItIsSent) {
    LoopbackHttpServer server([](const SeenRequest&, HttpConnection& c) { c.Respond(200, "ok"); });
    testing::TempDir dir;
    testing::WriteBytes(dir / "cert.pem", "-----BEGIN CERTIFICATE-----\n");
    HttpClient client;
    client.SetCaFile(dir / "cert.pem");
    ASSERT_TRUE(client.ConnectUrl(server.origin()));
    EXPECT_FALSE(client.Request("/x", HttpClient::kGet));
    EXPECT_NE(client.GetLastErrorDetail().find("CA file"), std::string::npos) << client.GetLastErrorDetail();
    EXPECT_EQ(server.RequestCount(), 0u);
    // Without one, the same client goes on as usual.
    client.SetCaFile("");
    ASSERT_TRUE(client.Request("/x", HttpClient::kGet));
    EXPECT_EQ(client.ReadAll(), "ok");
}

}  // namespace
}  // namespace quorvin
