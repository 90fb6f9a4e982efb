// A TCP server on 127.0.0.1 for the link's tests and benchmark: it plays the
// agent's server, speaking the link's framing (messages end with 0xFE, a
// lone 0xFF is a heartbeat). Every wait is bounded.
#pragma once

#include <arpa/inet.h>
#include <linux/filter.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvin::testing {

class LoopbackServer {
public:
    // port 0: any free port.
    explicit LoopbackServer(std::uint16_t port = 0) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(port);
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&sin), sizeof sin) != 0 || ::listen(m_listen, 16) != 0) {
            ::close(m_listen);
            m_listen = -1;
            return;
        }
        socklen_t len = sizeof sin;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&sin), &len);
        m_port = ntohs(sin.sin_port);
    }
    ~LoopbackServer() {
        CloseClient();
        if (m_listen >= 0) ::close(m_listen);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Listening() const { return m_listen >= 0; }
    // A slow peer: a small receive window for the next accepted connection
    // and a pause after every chunk read.
    void ReadSlowly(int receiveBufferBytes, int pauseMs) {
        ::setsockopt(m_listen, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes, sizeof receiveBufferBytes);
        m_pauseMs = pauseMs;
    }
    std::uint16_t Port() const { return m_port; }

    // Accepts the next connection (closing a previous one).
    bool Accept(int timeoutMs = 5000) {
        CloseClient();
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) <= 0) return false;
        m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_client < 0) return false;
        const int one = 1;
        ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        m_buffer.clear();
        m_heartbeats = 0;
        return true;
    }
    // True when another connection is waiting within timeoutMs.
    bool ConnectionPending(int timeoutMs) {
        pollfd p{m_listen, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0;
    }

    bool Send(const std::string& bytes) {
        std::size_t off = 0;
        while (off < bytes.size()) {
            const ssize_t n = ::send(m_client, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) {
                if (n < 0 && errno == EINTR) continue;
                return false;
            }
            off += static_cast<std::size_t>(n);
        }
        return true;
    }
    bool SendMessage(const std::string& text) { return Send(text + '\xFE'); }

    // The next message (without its delimiter); heartbeat bytes before it
    // are counted and skipped. Nothing after timeoutMs or a close.
    std::optional<std::string> ReadMessage(int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            SkipHeartbeats();
            const std::size_t end = m_buffer.find('\xFE');
            if (end != std::string::npos) {
                std::string message = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return message;
            }
            if (!Fill(deadline)) return std::nullopt;
        }
    }
    // Reads until a heartbeat byte has been seen (outside messages).
    bool WaitHeartbeats(int count, int timeoutMs = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            SkipHeartbeats();
            const std::size_t end = m_buffer.find('\xFE');
            if (end != std::string::npos && m_heartbeats < count) {
                m_buffer.erase(0, end + 1);  // a message; keep looking
                continue;
            }
            if (m_heartbeats >= count) return true;
            if (!Fill(deadline)) return false;
        }
    }
    int Heartbeats() const { return m_heartbeats; }
    // The raw bytes read so far and not yet consumed.
    const std::string& Buffered() const { return m_buffer; }
    // Reads whatever arrives until timeoutMs passes or the peer closes.
    void Drain(int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Fill(deadline)) {
        }
    }
    // True when the peer closed the connection within timeoutMs.
    bool WaitPeerClosed(int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Fill(deadline)) {
        }
        return m_peerClosed;
    }

    // The peer vanishes without a word, as when its host loses power or its
    // network: from now on the kernel discards every segment of this
    // connection before TCP sees it (a socket filter that keeps nothing), so
    // nothing the agent sends is acknowledged and no FIN or reset comes.
    bool Vanish() {
        sock_filter dropAll{BPF_RET | BPF_K, 0, 0, 0};
        sock_fprog program{1, &dropAll};
        return m_client >= 0 && ::setsockopt(m_client, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
    }

    void CloseClient() {
        if (m_client >= 0) ::close(m_client);
        m_client = -1;
        m_peerClosed = false;
    }
    void CloseListener() {
        if (m_listen >= 0) ::close(m_listen);
        m_listen = -1;
    }

private:
    // Heartbeat bytes stand between messages only.
    void SkipHeartbeats() {
        while (!m_buffer.empty() && m_buffer[0] == '\xFF') {
            ++m_heartbeats;
            m_buffer.erase(0, 1);
        }
    }
    bool Fill(std::chrono::steady_clock::time_point deadline) {
        if (m_client < 0) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        pollfd p{m_client, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) return false;
        char chunk[65536];
        const ssize_t n = ::recv(m_client, chunk, sizeof chunk, 0);
        if (n <= 0) {
            m_peerClosed = true;
            return false;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        if (m_pauseMs > 0) ::poll(nullptr, 0, m_pauseMs);
        return true;
    }

    int m_listen = -1;
    int m_client = -1;
    std::uint16_t m_port = 0;
    std::string m_buffer;
    int m_heartbeats = 0;
    bool m_peerClosed = false;
    int m_pauseMs = 0;
};

}  // namespace quorvin::testing
