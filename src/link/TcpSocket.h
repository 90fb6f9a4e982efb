// TcpSocket: one IPv4 TCP client connection, the only place the links touch
// the operating system's sockets (linux/TcpSocket.cpp on POSIX).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvin {

// The system's socket library, started once per WebSocket connection and
// stopped once when it ends (nothing to do on POSIX). False when it cannot
// be started.
bool StartSocketLibrary();
void StopSocketLibrary();

// The first IPv4 address of a host name as dotted decimal text; empty when
// the name does not resolve (why, when given, then says why). The resolver
// waits at most about timeoutMs for its name servers.
std::string ResolveIpv4(const std::string& host, int timeoutMs = 10000, std::string* why = nullptr);

// How a connection notices a peer that vanished without closing (no FIN,
// no reset): data it has not acknowledged after unackedMs drops the
// connection, and a connection quiet for idleMs is probed every intervalMs,
// so the same limit holds with nothing to send. 0 leaves the system's value.
struct TcpLiveness {
    int unackedMs = 0;
    int idleMs = 0;
    int intervalMs = 0;
};

class TcpSocket {
public:
    TcpSocket() = default;
    ~TcpSocket();
    TcpSocket(const TcpSocket&) = delete;
    TcpSocket& operator=(const TcpSocket&) = delete;

    // Connects to address (host byte order) and port. Gives up after
    // timeoutMs, or soon after cancel becomes true. False on failure (why,
    // when given, says why).
    bool Connect(std::uint32_t address, std::uint16_t port, int timeoutMs, const std::atomic<bool>& cancel,
                 std::string* why = nullptr);

    // For a connected socket; false when the system refused a setting.
    bool SetLiveness(const TcpLiveness& liveness);

    // Sends every byte, or fails: after timeoutMs in which no byte went
    // out, on an error, or once Shutdown was called. A failed send may have
    // written part of the bytes.
    bool SendAll(const void* data, std::size_t size, int timeoutMs, std::string* why = nullptr);

    // One blocking receive: bytes read, 0 when the peer closed in order or
    // Shutdown was called, -1 on an error (the connection timed out, was
    // reset, ...: why says which).
    long Receive(void* buffer, std::size_t size, std::string* why = nullptr);

    // Ends the connection both ways and wakes a blocked Receive or SendAll
    // on other threads; the descriptor stays open until destruction, so it
    // cannot be reused under them.
    void Shutdown();

    bool IsOpen() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

}  // namespace quorvin
