// TcpSocket over Winsock against a loopback listener.
#include <gtest/gtest.h>
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <atomic>
#include <string>
#include <thread>

#include "link/TcpSocket.h"

namespace quorvin {
namespace {

constexpr std::uint32_t kLoopback = 0x7F000001;

// A listening socket on 127.0.0.1 and an ephemeral port.
class Listener {
public:
    Listener() {
        StartSocketLibrary();
        m_sock = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(kLoopback);
        int len = sizeof sin;
        if (bind(m_sock, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 && listen(m_sock, 4) == 0 &&
            getsockname(m_sock, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
            m_port = ntohs(sin.sin_port);
    }
    ~Listener() {
        Close();
        StopSocketLibrary();
    }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::uint16_t Port() const { return m_port; }
    SOCKET Accept() { return accept(m_sock, nullptr, nullptr); }
    void Close() {
        if (m_sock != INVALID_SOCKET) closesocket(m_sock);
        m_sock = INVALID_SOCKET;
    }

private:
    SOCKET m_sock = INVALID_SOCKET;
    std::uint16_t m_port = 0;
};

std::string ReceiveSome(TcpSocket& socket) {
    char buf[64];
    const long n = socket.Receive(buf, sizeof buf);
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
}

TEST(WinTcpSocket, SendsReceivesAndSeesTheServerClose) {
    Listener server;
    ASSERT_NE(server.Port(), 0);
    TcpSocket client;
    const std::atomic<bool> cancel{false};
    std::string why;
    ASSERT_TRUE(client.Connect(kLoopback, server.Port(), 5000, cancel, &why)) << why;
    EXPECT_TRUE(client.IsOpen());
    // Keepalive only: wine 8 refuses TCP_MAXRT (the unacknowledged-data
    // limit), which Windows has had since Vista.
    EXPECT_TRUE(client.SetLiveness({0, 30000, 10000}));
    const SOCKET peer = server.Accept();
    ASSERT_NE(peer, INVALID_SOCKET);

    ASSERT_TRUE(client.SendAll("hello\n", 6, 5000, &why)) << why;
    char buf[16] = {};
    int got = 0;
    for (int i = 0; i < 6 && got < 6; ++i) got += recv(peer, buf + got, 6 - got, 0);
    EXPECT_EQ(std::string(buf, 6), "hello\n");

    send(peer, "world", 5, 0);
    std::string text;
    for (int i = 0; i < 5 && text.size() < 5; ++i) text += ReceiveSome(client);
    EXPECT_EQ(text, "world");

    closesocket(peer);
    EXPECT_EQ(client.Receive(buf, sizeof buf, &why), 0);
    EXPECT_EQ(why, "closed by the server");
}

TEST(WinTcpSocket, RefusedConnectionsAndCancelledAttemptsFail) {
    Listener server;
    const std::uint16_t port = server.Port();
    server.Close();  // nobody listens there now
    const std::atomic<bool> go{false}, stop{true};
    const struct {
        const std::atomic<bool>& cancel;
        const char* expected;  // empty: any reason
    } cases[] = {{go, ""}, {stop, "cancelled"}};
    for (const auto& c : cases) {
        TcpSocket client;
        std::string why;
        EXPECT_FALSE(client.Connect(kLoopback, port, 5000, c.cancel, &why));
        EXPECT_FALSE(client.IsOpen());
        EXPECT_FALSE(why.empty());
        if (*c.expected != '\0') {
            EXPECT_EQ(why, c.expected);
        }
    }
}

TEST(WinTcpSocket, ShutdownWakesABlockedReceive) {
    Listener server;
    TcpSocket client;
    const std::atomic<bool> cancel{false};
    ASSERT_TRUE(client.Connect(kLoopback, server.Port(), 5000, cancel));
    const SOCKET peer = server.Accept();
    long result = -2;
    std::thread reader([&] {
        char buf[8];
        result = client.Receive(buf, sizeof buf);
    });
    client.Shutdown();
    reader.join();
    EXPECT_EQ(result, 0);
    std::string why;
    EXPECT_FALSE(client.SendAll("x", 1, 1000, &why));
    closesocket(peer);
}

TEST(WinTcpSocket, ResolvesNamesToDottedAddresses) {
    std::string why;
    EXPECT_EQ(ResolveIpv4("127.0.0.1"), "127.0.0.1");
    EXPECT_EQ(ResolveIpv4("", 1000, &why), "");
    EXPECT_EQ(why, "no server name");
}

}  // namespace
}  // namespace quorvin
