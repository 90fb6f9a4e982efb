// A TCP server on 127.0.0.1 for the link's tests and benchmark: it plays the
// agent's server, speaking the link's framing (messages end with 0xFE, a
// lone 0xFF is a heartbeat). Every wait is bounded.
#pragma once

#ifdef __linux__
#include <linux/filter.h>
#endif

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "fixtures/TestSocket.h"

namespace quorvin::testing {

class LoopbackServer {
public:
    // port 0: any free port.
    explicit LoopbackServer(std::uint16_t port = 0) { m_listen = net::Listen(port, 16, m_port); }
    ~LoopbackServer() {
        CloseClient();
        CloseListener();
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    bool Listening() const { return m_listen != net::kNoFd; }
    // A slow peer: a small receive window for the next accepted connection
    // and a pause after every chunk read.
    void ReadSlowly(int receiveBufferBytes, int pauseMs) {
        net::SetOption(m_listen, SOL_SOCKET, SO_RCVBUF, receiveBufferBytes);
        m_pauseMs = pauseMs;
    }
    std::uint16_t Port() const { return m_port; }

    // Accepts the next connection (closing a previous one).
    bool Accept(int timeoutMs = 5000) {
        CloseClient();
        if (!net::WaitReadable(m_listen, timeoutMs)) return false;
        m_client = net::Accept(m_listen);
        if (m_client == net::kNoFd) return false;
        m_buffer.clear();
        m_heartbeats = 0;
        return true;
    }
    // True when another connection is waiting within timeoutMs.
    bool ConnectionPending(int timeoutMs) {
        return net::WaitReadable(m_listen, timeoutMs);
    }

    bool Send(const std::string& bytes) { return net::SendAll(m_client, bytes.data(), bytes.size()); }
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
    // Linux only: false elsewhere.
#ifdef __linux__
    static constexpr bool kCanVanish = true;
#else
    static constexpr bool kCanVanish = false;
#endif
    bool Vanish() {
#ifdef __linux__
        sock_filter dropAll{BPF_RET | BPF_K, 0, 0, 0};
        sock_fprog program{1, &dropAll};
        return m_client >= 0 && ::setsockopt(m_client, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) == 0;
#else
        return false;
#endif
    }

    void CloseClient() {
        net::Close(m_client);
        m_client = net::kNoFd;
        m_peerClosed = false;
    }
    void CloseListener() {
        net::Close(m_listen);
        m_listen = net::kNoFd;
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
        if (m_client == net::kNoFd) return false;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) return false;
        if (!net::WaitReadable(m_client, static_cast<int>(left))) return false;
        char chunk[65536];
        const long n = net::Receive(m_client, chunk, sizeof chunk);
        if (n <= 0) {
            m_peerClosed = true;
            return false;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(n));
        if (m_pauseMs > 0) net::Pause(m_pauseMs);
        return true;
    }

    net::Fd m_listen = net::kNoFd;
    net::Fd m_client = net::kNoFd;
    std::uint16_t m_port = 0;
    std::string m_buffer;
    int m_heartbeats = 0;
    bool m_peerClosed = false;
    int m_pauseMs = 0;
};

}  // namespace quorvin::testing
