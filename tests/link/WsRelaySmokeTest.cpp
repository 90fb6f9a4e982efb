// The WebSocket relay servers the WebSocket client is tested against, driven
// through their harness by a client written here frame by frame, so a fault
// of the harness or of either relay shows before it can pass for the
// client's.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/WsRelay.h"

namespace quorvin::testing {
namespace {

enum Opcode { kCont = 0, kText = 1, kBinary = 2, kClose = 8, kPing = 9, kPong = 10 };

struct Frame {
    int opcode = -1;
    bool fin = false;
    std::string payload;
};

// A minimal client: blocking socket, masked frames, every read bounded.
class RawClient {
public:
    ~RawClient() { Disconnect(); }

    // Connects and does the opening handshake; the server's answer head in response.
    bool Open(std::uint16_t port, const std::string& path, std::string* response) {
        Disconnect();
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0) return false;
        const int one = 1;  // each frame leaves at once, as from a real client
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        // The key and its accept value are the worked example of RFC 6455.
        if (!Write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                   "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                   "Sec-WebSocket-Version: 13\r\nX-Quorvin-Probe: one two\r\n\r\n"))
            return false;
        const auto deadline = Deadline(5000);
        std::size_t end;
        while ((end = m_in.find("\r\n\r\n")) == std::string::npos)
            if (!Fill(deadline)) return false;
        *response = m_in.substr(0, end);
        m_in.erase(0, end + 4);
        return true;
    }

    bool Send(int opcode, const std::string& payload, bool fin = true) {
        std::string frame(1, static_cast<char>((fin ? 0x80 : 0) | opcode));
        const std::size_t n = payload.size();
        if (n < 126) {
            frame += static_cast<char>(0x80 | n);
        } else if (n < 65536) {
            frame += static_cast<char>(0x80 | 126);
            for (int shift = 8; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xFF);
        } else {
            frame += static_cast<char>(0x80 | 127);
            for (int shift = 56; shift >= 0; shift -= 8) frame += static_cast<char>((n >> shift) & 0xFF);
        }
        const char mask[4] = {'\x5a', '\x13', '\xc7', '\x81'};
        frame.append(mask, 4);
        for (std::size_t i = 0; i < n; ++i) frame += static_cast<char>(payload[i] ^ mask[i % 4]);
        return Write(frame);
    }

    // The next frame; nullopt on timeout or when the server ended the connection first.
    std::optional<Frame> Read(int timeoutMs = 5000) {
        const auto deadline = Deadline(timeoutMs);
        while (m_in.size() < 2)
            if (!Fill(deadline)) return std::nullopt;
        std::size_t n = static_cast<unsigned char>(m_in[1]) & 0x7F;
        std::size_t head = 2;
        if (n >= 126) {
            const std::size_t bytes = n == 126 ? 2 : 8;
            while (m_in.size() < 2 + bytes)
                if (!Fill(deadline)) return std::nullopt;
            n = 0;
            for (std::size_t i = 0; i < bytes; ++i) n = n << 8 | static_cast<unsigned char>(m_in[2 + i]);
            head += bytes;
        }
        while (m_in.size() < head + n)
            if (!Fill(deadline)) return std::nullopt;
        Frame f{m_in[0] & 0x0F, (m_in[0] & 0x80) != 0, m_in.substr(head, n)};
        m_in.erase(0, head + n);
        return f;
    }

    // True once the server has ended the TCP connection (and sent nothing more).
    bool Ended(int timeoutMs = 5000) {
        const auto deadline = Deadline(timeoutMs);
        while (m_in.empty() && Fill(deadline)) {}
        return m_in.empty() && m_ended;
    }

private:
    static std::chrono::steady_clock::time_point Deadline(int ms) {
        return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    }
    void Disconnect() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
        m_in.clear();
        m_ended = false;
    }
    bool Write(const std::string& bytes) {
        for (std::size_t at = 0; at < bytes.size();) {
            const ssize_t n = ::send(m_fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
            if (n <= 0) return false;
            at += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool Fill(std::chrono::steady_clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{m_fd, POLLIN, 0};
        if (m_ended || left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char buf[65536];
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n <= 0) {  // the server ended the connection: close our end, as a client does
            ::close(m_fd);
            m_fd = -1;
            m_ended = true;
            return false;
        }
        m_in.append(buf, static_cast<std::size_t>(n));
        return true;
    }

    int m_fd = -1;
    std::string m_in;
    bool m_ended = false;
};

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

class WsRelaySmokeTest : public ::testing::TestWithParam<WsServerKind> {
protected:
    void SetUp() override { ASSERT_TRUE(server.Ready()) << server.Error(); }

    // A new client connection, seen by the server as the current one.
    void Connect(const std::string& path = "/") {
        std::string response;
        ASSERT_TRUE(client.Open(server.Port(), path, &response));
        ASSERT_EQ(response.rfind("HTTP/1.1 101", 0), 0u) << response;
        ASSERT_NE(response.find("s3pPLMBiTxaQ9kYGzzhZRbK+xOo="), std::string::npos) << response;
        request = server.WaitOpen();
        ASSERT_TRUE(request) << server.Error();
    }

    WsRelayServer server{GetParam()};
    RawClient client;
    std::optional<WsRequest> request;
};

TEST_P(WsRelaySmokeTest, ReportsTheHandshakeAndCarriesMessagesBothWays) {
    ASSERT_NO_FATAL_FAILURE(Connect("/a/b?x=1&y=%20"));
    EXPECT_EQ(request->path, "/a/b?x=1&y=%20");
    ASSERT_EQ(request->headers.size(), 6u);
    EXPECT_EQ(request->headers[0].first, "Host");
    EXPECT_EQ(request->headers[5], (std::pair<std::string, std::string>{"X-Quorvin-Probe", "one two"}));
    EXPECT_EQ(request->Header("sec-websocket-version"), "13");
    EXPECT_EQ(request->Header("Origin"), "");

    for (const std::size_t size : {0u, 125u, 126u, 65535u, 65536u, 1u << 20}) {
        for (const bool binary : {false, true}) {
            SCOPED_TRACE(std::to_string(size) + (binary ? " binary" : " text"));
            const std::string up = Pattern(size);
            ASSERT_TRUE(client.Send(binary ? kBinary : kText, up));
            const auto got = server.ReadMessage();
            ASSERT_TRUE(got) << server.Error();
            EXPECT_EQ(got->binary, binary);
            EXPECT_TRUE(got->data == up);

            const std::string down = Pattern(size + 1).substr(1);
            ASSERT_TRUE(binary ? server.SendBinary(down) : server.SendText(down));
            const auto frame = client.Read();
            ASSERT_TRUE(frame);
            EXPECT_EQ(frame->opcode, binary ? kBinary : kText);
            EXPECT_TRUE(frame->fin);
            EXPECT_TRUE(frame->payload == down);
        }
    }

    // Reads again after a pause, in order.
    ASSERT_TRUE(server.PauseReading());
    ASSERT_TRUE(client.Send(kText, "held"));
    ASSERT_TRUE(client.Send(kBinary, "back"));
    ASSERT_TRUE(server.ResumeReading());
    const auto first = server.ReadMessage();
    const auto second = server.ReadMessage();
    ASSERT_TRUE(first && second) << server.Error();
    EXPECT_EQ(first->data, "held");
    EXPECT_EQ(second->data, "back");
}

TEST_P(WsRelaySmokeTest, FragmentsPingsAndPongsKeepTheirBytesAndOrder) {
    ASSERT_NO_FATAL_FAILURE(Connect());
    // 中 split between frames, and the characters JSON escapes.
    const std::vector<std::string> parts = {"ab", "", "\"\\\n\x01 \xE4\xB8", "\xAD"};
    ASSERT_TRUE(server.SendFragments(parts));
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const auto frame = client.Read();
        ASSERT_TRUE(frame) << i;
        EXPECT_EQ(frame->opcode, i == 0 ? kText : kCont) << i;
        EXPECT_EQ(frame->fin, i + 1 == parts.size()) << i;
        EXPECT_EQ(frame->payload, parts[i]) << i;
    }
    ASSERT_TRUE(server.Ping("p1"));
    const auto ping = client.Read();
    ASSERT_TRUE(ping);
    EXPECT_EQ(ping->opcode, kPing);
    EXPECT_EQ(ping->payload, "p1");

    ASSERT_TRUE(client.Send(kText, "he", false));
    ASSERT_TRUE(client.Send(kPong, "p1"));
    ASSERT_TRUE(client.Send(kCont, "llo"));
    ASSERT_TRUE(client.Send(kBinary, "after"));
    EXPECT_EQ(server.WaitPong(), "p1");
    const auto joined = server.ReadMessage();
    ASSERT_TRUE(joined) << server.Error();
    EXPECT_EQ(joined->data, "hello");
    EXPECT_FALSE(joined->binary);
    const auto after = server.ReadMessage();
    ASSERT_TRUE(after);
    EXPECT_EQ(after->data, "after");
}

TEST_P(WsRelaySmokeTest, EachReconnectionEndsAsItsCloseSays) {
    struct Case {
        const char* name;
        int serverCode;              // the server closes with it; 0: the client closes, -1: the server drops
        std::string clientClose;     // the client's close frame payload
        int seenCode;                // what the server reports
        std::string seenReason;
    };
    const Case cases[] = {
        {"server closes", 4001, std::string("\x0f\xa1", 2), 4001, ""},
        {"client closes", 0, std::string("\x03\xe9gone", 6), 1001, "gone"},
        {"client closes without a code", 0, "", 1005, ""},
        {"server drops", -1, "", 1006, ""},
    };
    int round = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(Connect("/round" + std::to_string(++round)));
        EXPECT_EQ(request->path, "/round" + std::to_string(round));
        if (c.serverCode > 0) {
            ASSERT_TRUE(server.Close(c.serverCode, "bye"));
            const auto frame = client.Read();
            ASSERT_TRUE(frame);
            EXPECT_EQ(frame->opcode, kClose);
            EXPECT_EQ(frame->payload, std::string("\x0f\xa1", 2) + "bye");
            ASSERT_TRUE(client.Send(kClose, c.clientClose));
        } else if (c.serverCode == 0) {
            ASSERT_TRUE(client.Send(kClose, c.clientClose));
            const auto echo = client.Read();
            ASSERT_TRUE(echo);
            EXPECT_EQ(echo->opcode, kClose);
        } else {
            ASSERT_TRUE(server.SendText("last"));
            ASSERT_TRUE(server.Drop());
            const auto last = client.Read();
            ASSERT_TRUE(last);
            EXPECT_EQ(last->payload, "last");
        }
        EXPECT_TRUE(client.Ended());
        EXPECT_EQ(server.WaitClosed(), c.seenCode) << server.Error();
        EXPECT_EQ(server.CloseReason(), c.seenReason);
        EXPECT_FALSE(server.ReadMessage(0));
    }
}

TEST_P(WsRelaySmokeTest, ACommandTheServerCannotCarryOutFailsWithItsReason) {
    EXPECT_FALSE(server.SendText("nobody"));
    EXPECT_NE(server.Error().find("no client connection"), std::string::npos) << server.Error();

    ASSERT_NO_FATAL_FAILURE(Connect());
    EXPECT_FALSE(server.Close(1005));  // a code no close frame may carry
    EXPECT_NE(server.Error().find("C: "), std::string::npos) << server.Error();
    // The connection stays open.
    ASSERT_TRUE(client.Send(kText, "still here"));
    const auto message = server.ReadMessage();
    ASSERT_TRUE(message) << server.Error();
    EXPECT_EQ(message->data, "still here");
}

INSTANTIATE_TEST_SUITE_P(Servers, WsRelaySmokeTest, ::testing::Values(WsServerKind::Python, WsServerKind::Node),
                         [](const auto& info) { return std::string(WsRelayServer::Name(info.param)); });

}  // namespace
}  // namespace quorvin::testing
