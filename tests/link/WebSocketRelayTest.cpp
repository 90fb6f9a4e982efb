// The WebSocket client against real servers (python3-websockets and node's
// ws) over ws:// and wss://: messages of every length form both ways,
// fragments, pings, both ends' closes, the 1009 refusal, and the
// certificate checks of a wss:// opening.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <future>
#include <tuple>

#include "fixtures/WsRelay.h"
#include "link/wsclient/WebSocket.h"

namespace quorvin::wsclient {
namespace {

using testing::WsRelayServer;
using testing::WsServerKind;
using testing::WsServerOptions;
using Clock = std::chrono::steady_clock;

int OpenFds() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// Opens url trusting caFile (none: the system's store).
std::unique_ptr<WebSocket> OpenTrusting(const std::string& url, const std::string& caFile) {
    if (caFile.empty())
        ::unsetenv("QUORVIN_CA_FILE");
    else
        ::setenv("QUORVIN_CA_FILE", caFile.c_str(), 1);
    auto ws = fromUrl(url, "", 20000);
    ::unsetenv("QUORVIN_CA_FILE");
    return ws;
}

// Polls ws until done() holds, the server's side of the work running
// meanwhile in work (it may block until the client reads).
template <class Work, class Done>
bool PollWhile(WebSocket& ws, std::vector<std::string>& got, Work work, Done done) {
    auto result = std::async(std::launch::async, work);
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    for (int i = 0; i < 100000 && Clock::now() < deadline; ++i) {
        if (result.wait_for(std::chrono::seconds(0)) == std::future_status::ready && done()) break;
        ws.poll(5);
        ws.dispatch([&](const std::string& m) { got.push_back(m); });
    }
    return result.get() && done();
}

class WebSocketRelayTest : public ::testing::TestWithParam<std::tuple<WsServerKind, bool>> {};

TEST_P(WebSocketRelayTest, MessagesControlFramesAndClosesBothWays) {
    const auto [kind, tls] = GetParam();
    WsServerOptions options;
    options.tls = tls;
    WsRelayServer server(kind, options);
    ASSERT_TRUE(server.Ready()) << server.Error();
    auto ws = OpenTrusting(server.Url("/relay?x=1"), server.CaFile());
    ASSERT_NE(ws, nullptr);
    const auto request = server.WaitOpen();
    ASSERT_TRUE(request.has_value()) << server.Error();
    EXPECT_EQ(request->path, "/relay?x=1");

    std::vector<std::string> got;
    for (const std::size_t n : {0ul, 125ul, 126ul, 65535ul, 65536ul, 1ul << 20}) {
        std::string text(n, '\0'), bytes(n, '\0');
        for (std::size_t i = 0; i < n; ++i) {
            text[i] = static_cast<char>('a' + i % 26);
            bytes[i] = static_cast<char>(i * 13 % 256);
        }
        ws->send(text);
        ws->sendBinary(bytes);
        std::optional<testing::WsMessage> first, second;
        ASSERT_TRUE(PollWhile(*ws, got, [&] {
            first = server.ReadMessage(20000);
            second = server.ReadMessage(20000);
            return first && second;
        }, [] { return true; })) << n << " " << server.Error();
        EXPECT_FALSE(first->binary);
        EXPECT_TRUE(first->data == text) << n;
        EXPECT_TRUE(second->binary);
        EXPECT_TRUE(second->data == bytes) << n;
        ASSERT_TRUE(PollWhile(*ws, got, [&] { return server.SendBinary(bytes); }, [&] { return !got.empty(); }))
            << n << " " << server.Error();
        EXPECT_TRUE(got.back() == bytes) << n;
        got.clear();
    }

    ASSERT_TRUE(PollWhile(*ws, got, [&] {
        return server.SendFragments({"Hel", "lo"}) && server.Ping("are you there?") &&
               server.WaitPong(10000).value_or("") == "are you there?";
    }, [&] { return !got.empty(); })) << server.Error();
    EXPECT_EQ(got, std::vector<std::string>{"Hello"});

    ws->close();
    ASSERT_TRUE(PollWhile(*ws, got, [&] { return server.WaitClosed(10000).value_or(0) == 1005; },
                          [&] { return ws->getReadyState() == WebSocket::CLOSED; }))
        << server.Error();

    // The server's own close, and a message over the limit refused with 1009.
    int code = 0;
    for (const bool tooBig : {false, true}) {
        ws = OpenTrusting(server.Url("/again"), server.CaFile());
        ASSERT_NE(ws, nullptr);
        ASSERT_TRUE(server.WaitOpen().has_value()) << server.Error();
        ASSERT_TRUE(PollWhile(*ws, got, [&] {
            if (tooBig) server.SendBinary(std::string(kMaxMessageBytes + 1, 'x'));  // may fail: the client leaves
            else if (!server.Close(1000, "bye")) return false;
            // The client answers a close with an empty one, which the server sees as 1005.
            code = server.WaitClosed(20000).value_or(0);
            return code == (tooBig ? 1009 : 1005);
        }, [&] { return ws->getReadyState() == WebSocket::CLOSED; })) << tooBig << " " << code << " " << server.Error();
        EXPECT_EQ(ws->messageTooBig(), tooBig);
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, WebSocketRelayTest,
                         ::testing::Combine(::testing::Values(WsServerKind::Python, WsServerKind::Node),
                                            ::testing::Bool()),
                         [](const auto& info) {
                             return std::string(WsRelayServer::Name(std::get<0>(info.param))) +
                                    (std::get<1>(info.param) ? "_wss" : "_ws");
                         });

TEST(WebSocketTlsTest, TheServerMustBeVerified) {
    struct Case {
        std::string certName, urlHost;
        bool trustIt;
        std::string error;  // "": opens
    } cases[] = {
        {"127.0.0.1", "127.0.0.1", true, ""},
        {"localhost", "localhost", true, ""},
        {"127.0.0.1", "127.0.0.1", false, "ERROR: Could not verify 127.0.0.1: "},
        {"elsewhere.example", "127.0.0.1", true, "ERROR: Could not verify 127.0.0.1: IP address mismatch\n"},
        {"elsewhere.example", "localhost", true, "ERROR: Could not verify localhost: hostname mismatch\n"},
    };
    for (const Case& c : cases) {
        const int fds = OpenFds();
        {
            WsServerOptions options;
            options.tls = true;
            options.tlsName = c.certName;
            WsRelayServer server(WsServerKind::Python, options);
            ASSERT_TRUE(server.Ready()) << server.Error();
            const int serverFds = OpenFds();
            ::testing::internal::CaptureStderr();
            auto ws = OpenTrusting("wss://" + c.urlHost + ":" + std::to_string(server.Port()) + "/",
                                   c.trustIt ? server.CaFile() : "");
            const std::string error = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(ws != nullptr, c.error.empty()) << c.certName << " " << c.urlHost;
            EXPECT_EQ(error.substr(0, c.error.size()), c.error);
            EXPECT_EQ(error.empty(), c.error.empty()) << error;
            ws.reset();
            EXPECT_EQ(OpenFds(), serverFds);
        }
        EXPECT_EQ(OpenFds(), fds);
    }
}

}  // namespace
}  // namespace quorvin::wsclient
