// TLS over Schannel against a real wss:// server: Debian's python relay
// (tests/fixtures/ws_relay.py), whose certificate, made for 127.0.0.1, is
// its own CA.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/WsRelay.h"
#include "link/wsclient/Open.h"

namespace quorvin::wsclient {
namespace {

using testing::WsRelayServer;
using testing::WsServerKind;
using Clock = std::chrono::steady_clock;

// The CA file the client trusts: "" for the system's store.
void TrustOnly(const std::string& caFile) { _putenv_s("QUORVIN_CA_FILE", caFile.c_str()); }

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 % 251);
    return s;
}

TEST(TlsStreamTest, MessagesOfEverySizeBothWays) {
    WsRelayServer relay(WsServerKind::Python, {.tls = true});
    ASSERT_TRUE(relay.Ready()) << relay.Error();
    TrustOnly(relay.CaFile());
    std::unique_ptr<WebSocket> ws = fromUrl(relay.Url("/round-trip"));
    ASSERT_NE(ws, nullptr);
    const std::optional<testing::WsRequest> opened = relay.WaitOpen();
    ASSERT_TRUE(opened) << relay.Error();
    EXPECT_EQ(opened->path, "/round-trip");

    // Past one record (16 KiB) and many, so records are split and joined.
    for (const std::size_t n : {5u, 16384u, 70000u, 1u << 20}) {
        const std::string payload = Pattern(n);
        ws->sendBinary(payload);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < 100000 && ws->bufferedAmount() > 0 && Clock::now() < deadline; ++i) ws->poll(5);
        const std::optional<testing::WsMessage> got = relay.ReadMessage(10000);
        ASSERT_TRUE(got) << n << " " << relay.Error();
        EXPECT_TRUE(got->binary && got->data == payload) << n;

        ASSERT_TRUE(relay.SendBinary(payload)) << n << " " << relay.Error();
        std::vector<std::string> received;
        for (int i = 0; i < 100000 && received.empty() && Clock::now() < deadline; ++i) {
            ws->poll(5);
            ws->dispatch([&](const std::string& m) { received.push_back(m); });
        }
        ASSERT_EQ(received.size(), 1u) << n;
        EXPECT_TRUE(received[0] == payload) << n;
    }
    ws->close();
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (int i = 0; i < 10000 && ws->getReadyState() != WebSocket::CLOSED && Clock::now() < deadline; ++i)
        ws->poll(5);
    EXPECT_EQ(ws->getReadyState(), WebSocket::CLOSED);
    // The client's close frame (empty: 1005 to the server) arrived before the end.
    EXPECT_EQ(relay.WaitClosed(10000), 1005);
}

TEST(TlsStreamTest, TheServerMustBeVerified) {
    WsRelayServer relay(WsServerKind::Python, {.tls = true});
    ASSERT_TRUE(relay.Ready()) << relay.Error();
    const std::string notACertificate = QUORVIN_WINE_SERVERS_DIR "/python-tls/port";
    struct Case {
        std::string caFile, host, error;  // error: its start; "": opens
    } cases[] = {
        {relay.CaFile(), "127.0.0.1", ""},
        {"", "127.0.0.1", "ERROR: Could not verify 127.0.0.1: "},  // the system does not know the CA
        {relay.CaFile(), "localhost", "ERROR: Could not verify localhost: "},  // made for another name
        {notACertificate, "127.0.0.1", "ERROR: Could not load CA file " + notACertificate + ": "},
    };
    for (const Case& c : cases) {
        TrustOnly(c.caFile);
        ::testing::internal::CaptureStderr();
        const std::unique_ptr<WebSocket> ws = fromUrl(relay.Url("/", c.host));
        const std::string error = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(ws != nullptr, c.error.empty()) << c.host << " " << error;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        EXPECT_EQ(error.empty(), c.error.empty()) << error;
    }
}

}  // namespace
}  // namespace quorvin::wsclient
