// TLS over Schannel against a real wss:// server: Debian's python relay
// (tests/fixtures/ws_relay.py), which a CTest fixture starts on the Linux
// side because wine can start a Linux program but not wait for it. Its
// certificate, made for 127.0.0.1, is its own CA.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/TestSocket.h"
#include "link/wsclient/Open.h"

namespace quorvin::wsclient {
namespace {

namespace net = testing::net;
using Clock = std::chrono::steady_clock;

struct Relay {
    unsigned port = 0;
    unsigned control = 0;
    std::string caFile = QUORVIN_WSS_DIR "/cert.pem";

    // The ports the fixture left; false when it did not start the relay.
    bool Load() {
        std::ifstream in(QUORVIN_WSS_DIR "/port");
        std::string word;
        return in >> word >> port >> control && word == "PORT" && port > 0 && port < 65536 && control > 0 &&
               control < 65536;
    }
    std::string Url(const std::string& host, const std::string& path = "/") const {
        return "wss://" + host + ":" + std::to_string(port) + path;
    }
};

// The CA file the client trusts: "" for the system's store.
void TrustOnly(const std::string& caFile) { _putenv_s("QUORVIN_CA_FILE", caFile.c_str()); }

// The relay's control connection: frames of a type byte, a 4-byte
// big-endian length and the payload, both ways.
class Control {
public:
    explicit Control(unsigned port) : m_fd(net::Connect(static_cast<std::uint16_t>(port))) {}
    ~Control() { net::Close(m_fd); }
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    bool Ready() const { return m_fd != net::kNoFd; }

    bool Send(char type, const std::string& payload) {
        std::string frame(1, type);
        for (int i = 3; i >= 0; --i) frame += static_cast<char>(payload.size() >> (8 * i));
        return net::SendAll(m_fd, (frame + payload).data(), frame.size() + payload.size());
    }

    // The next event, within timeoutMs; false when none came.
    bool Next(char& type, std::string& payload, int timeoutMs = 10000) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (int i = 0; i < 100000; ++i) {
            if (m_in.size() >= 5) {
                std::size_t n = 0;
                for (int b = 1; b <= 4; ++b) n = (n << 8) | static_cast<unsigned char>(m_in[b]);
                if (m_in.size() >= 5 + n) {
                    type = m_in[0];
                    payload = m_in.substr(5, n);
                    m_in.erase(0, 5 + n);
                    return true;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || !net::WaitReadable(m_fd, static_cast<int>(left))) return false;
            char buf[65536];
            const long got = net::Receive(m_fd, buf, sizeof buf);
            if (got <= 0) return false;
            m_in.append(buf, static_cast<std::size_t>(got));
        }
        return false;
    }

    // Skips events up to the first of type; its payload, or nothing.
    std::optional<std::string> Await(char wanted) {
        char type = 0;
        std::string payload;
        for (int i = 0; i < 1000 && Next(type, payload); ++i)
            if (type == wanted) return payload;
        return std::nullopt;
    }

private:
    net::Fd m_fd;
    std::string m_in;
};

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 31 % 251);
    return s;
}

TEST(TlsStreamTest, MessagesOfEverySizeBothWays) {
    Relay relay;
    ASSERT_TRUE(relay.Load()) << "the wss relay fixture did not start";
    TrustOnly(relay.caFile);
    Control control(relay.control);
    ASSERT_TRUE(control.Ready());
    std::unique_ptr<WebSocket> ws = fromUrl(relay.Url("127.0.0.1", "/round-trip"));
    ASSERT_NE(ws, nullptr);
    // Events of earlier connections may be queued ahead of this one's.
    std::optional<std::string> opened = control.Await('O');
    for (int i = 0; i < 20 && opened && opened->rfind("/round-trip\n", 0) != 0; ++i) opened = control.Await('O');
    ASSERT_TRUE(opened && opened->rfind("/round-trip\n", 0) == 0);

    // Past one record (16 KiB) and many, so records are split and joined.
    for (const std::size_t n : {5u, 16384u, 70000u, 1u << 20}) {
        const std::string payload = Pattern(n);
        ws->sendBinary(payload);
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        for (int i = 0; i < 100000 && ws->bufferedAmount() > 0 && Clock::now() < deadline; ++i) ws->poll(5);
        const std::optional<std::string> got = control.Await('B');
        ASSERT_TRUE(got) << n;
        EXPECT_TRUE(*got == payload) << n;

        ASSERT_TRUE(control.Send('B', payload));
        ASSERT_TRUE(control.Await('A')) << n;
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
    const std::optional<std::string> closed = control.Await('X');
    ASSERT_TRUE(closed);
    // The client's close frame (empty: 1005 to the server) arrived before the end.
    EXPECT_EQ(closed->substr(0, 2), std::string("\x03\xED", 2));
}

TEST(TlsStreamTest, TheServerMustBeVerified) {
    Relay relay;
    ASSERT_TRUE(relay.Load()) << "the wss relay fixture did not start";
    const std::string notACertificate = QUORVIN_WSS_DIR "/port";
    struct Case {
        std::string caFile, host, error;  // error: its start; "": opens
    } cases[] = {
        {relay.caFile, "127.0.0.1", ""},
        {"", "127.0.0.1", "ERROR: Could not verify 127.0.0.1: "},  // the system does not know the CA
        {relay.caFile, "localhost", "ERROR: Could not verify localhost: "},  // made for another name
        {notACertificate, "127.0.0.1", "ERROR: Could not load CA file " + notACertificate + ": "},
    };
    for (const Case& c : cases) {
        TrustOnly(c.caFile);
        ::testing::internal::CaptureStderr();
        const std::unique_ptr<WebSocket> ws = fromUrl(relay.Url(c.host));
        const std::string error = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(ws != nullptr, c.error.empty()) << c.host << " " << error;
        EXPECT_EQ(error.substr(0, c.error.size()), c.error);
        EXPECT_EQ(error.empty(), c.error.empty()) << error;
    }
}

}  // namespace
}  // namespace quorvin::wsclient
