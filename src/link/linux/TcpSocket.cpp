#include "link/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <memory>

namespace quorvin {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

bool StartSocketLibrary() { return true; }

void StopSocketLibrary() {}

std::string ResolveIpv4(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &raw) != 0 || raw == nullptr) return {};
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
    const auto* sin = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) return {};
    return text;
}

TcpSocket::~TcpSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

bool TcpSocket::Connect(std::uint32_t address, std::uint16_t port, int timeoutMs, const std::atomic<bool>& cancel) {
    if (m_fd >= 0) return false;
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) return false;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(address);
    bool ok = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
    if (!ok && errno == EINPROGRESS) {
        // Waits in short slices so a superseded or stopped attempt ends soon.
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!cancel.load()) {
            const int left = RemainingMs(deadline);
            if (left == 0) break;
            pollfd p{m_fd, POLLOUT, 0};
            const int n = ::poll(&p, 1, left < 100 ? left : 100);
            if (n < 0 && errno != EINTR) break;
            if (n > 0) {
                int err = 0;
                socklen_t len = sizeof err;
                ok = ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
                break;
            }
        }
    }
    if (!ok || cancel.load()) {
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    // Back to blocking for Receive; SendAll polls for itself.
    const int flags = ::fcntl(m_fd, F_GETFL);
    ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK);
    const int one = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
}

bool TcpSocket::SendAll(const void* data, std::size_t size, int timeoutMs) {
    if (m_fd < 0) return false;
    const auto* p = static_cast<const char*>(data);
    // The bound is on a stall, not on the whole send: a large message to a
    // slow but steady reader is not cut off halfway.
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        const ssize_t n = ::send(m_fd, p, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            size -= static_cast<std::size_t>(n);
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        const int left = RemainingMs(deadline);
        if (left == 0) return false;
        pollfd pf{m_fd, POLLOUT, 0};
        if (::poll(&pf, 1, left) < 0 && errno != EINTR) return false;
        if (pf.revents & (POLLERR | POLLHUP | POLLNVAL)) return false;
    }
    return true;
}

long TcpSocket::Receive(void* buffer, std::size_t size) {
    if (m_fd < 0) return -1;
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, size, 0);
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) return -1;
    }
}

void TcpSocket::Shutdown() {
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

}  // namespace quorvin
