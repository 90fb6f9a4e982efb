#include "link/TcpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <resolv.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>

#include "common/Deadline.h"

namespace quorvin {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};

using Clock = std::chrono::steady_clock;

void Explain(std::string* why, std::string text) {
    if (why != nullptr) *why = std::move(text);
}

std::string ErrnoText(int err) {
    char buf[256];
    return strerror_r(err, buf, sizeof buf);  // the GNU form: returns the text
}

int Seconds(int ms) { return ms < 1000 ? 1 : ms / 1000; }

}  // namespace

bool StartSocketLibrary() { return true; }

void StopSocketLibrary() {}

std::string ResolveIpv4(const std::string& host, int timeoutMs, std::string* why) {
    if (host.empty()) {
        Explain(why, "no server name");
        return {};
    }
    // This thread's resolver: one query per name server, each waiting a
    // share of timeoutMs, so an unreachable name server holds the attempt
    // for about that long, not for the system's minutes of retries.
    if ((_res.options & RES_INIT) == 0) res_init();
    _res.retry = 1;
    _res.retrans = Seconds(timeoutMs / (_res.nscount > 0 ? _res.nscount : 1));
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &raw);
    if (rc != 0 || raw == nullptr) {
        Explain(why, rc == EAI_SYSTEM ? ErrnoText(errno) : rc != 0 ? gai_strerror(rc) : "no IPv4 address");
        return {};
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
    const auto* sin = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) {
        Explain(why, ErrnoText(errno));
        return {};
    }
    return text;
}

TcpSocket::~TcpSocket() {
    if (m_fd >= 0) ::close(m_fd);
}

bool TcpSocket::Connect(std::uint32_t address, std::uint16_t port, int timeoutMs, const std::atomic<bool>& cancel,
                        std::string* why) {
    if (m_fd >= 0) {
        Explain(why, "already connected");
        return false;
    }
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0) {
        Explain(why, ErrnoText(errno));
        return false;
    }
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(address);
    bool ok = ::connect(m_fd, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
    int err = ok ? 0 : errno;
    if (!ok && err == EINPROGRESS) {
        err = ETIMEDOUT;
        // Waits in short slices so a superseded or stopped attempt ends soon.
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!cancel.load()) {
            const int left = RemainingMs(deadline);
            if (left == 0) break;
            pollfd p{m_fd, POLLOUT, 0};
            const int n = ::poll(&p, 1, left < 100 ? left : 100);
            if (n < 0 && errno != EINTR) {
                err = errno;
                break;
            }
            if (n > 0) {
                socklen_t len = sizeof err;
                if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
                ok = err == 0;
                break;
            }
        }
    }
    if (!ok || cancel.load()) {
        Explain(why, cancel.load()      ? std::string("cancelled")
                     : err == ETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                        : ErrnoText(err));
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

bool TcpSocket::SetLiveness(const TcpLiveness& l) {
    if (m_fd < 0) return false;
    bool ok = true;
    if (l.unackedMs > 0) {
        const unsigned ms = static_cast<unsigned>(l.unackedMs);
        ok &= ::setsockopt(m_fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms) == 0;
    }
    if (l.idleMs > 0) {
        const int one = 1, idle = Seconds(l.idleMs), interval = Seconds(l.intervalMs > 0 ? l.intervalMs : l.idleMs);
        // Probes that go unanswered for unackedMs end it (the user timeout
        // takes precedence); the count is for a system that ignores that.
        const int count = l.unackedMs > 0 ? (Seconds(l.unackedMs) + interval - 1) / interval : 9;
        ok &= ::setsockopt(m_fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one) == 0;
        ok &= ::setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle) == 0;
        ok &= ::setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) == 0;
        ok &= ::setsockopt(m_fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count) == 0;
    }
    return ok;
}

bool TcpSocket::SendAll(const void* data, std::size_t size, int timeoutMs, std::string* why) {
    if (m_fd < 0) {
        Explain(why, "not connected");
        return false;
    }
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
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            Explain(why, ErrnoText(errno));
            return false;
        }
        const int left = RemainingMs(deadline);
        if (left == 0) {
            Explain(why, "no byte taken for " + std::to_string(timeoutMs) + " ms");
            return false;
        }
        pollfd pf{m_fd, POLLOUT, 0};
        if (::poll(&pf, 1, left) < 0 && errno != EINTR) {
            Explain(why, ErrnoText(errno));
            return false;
        }
        // The next send reports the error itself; a hang-up has none to give.
        if ((pf.revents & (POLLERR | POLLNVAL)) != 0) continue;
        if ((pf.revents & POLLHUP) != 0) {
            Explain(why, "connection shut down");
            return false;
        }
    }
    return true;
}

long TcpSocket::Receive(void* buffer, std::size_t size, std::string* why) {
    if (m_fd < 0) {
        Explain(why, "not connected");
        return -1;
    }
    for (;;) {
        const ssize_t n = ::recv(m_fd, buffer, size, 0);
        if (n == 0) Explain(why, "closed by the server");
        if (n >= 0) return static_cast<long>(n);
        if (errno != EINTR) {
            Explain(why, ErrnoText(errno));
            return -1;
        }
    }
}

void TcpSocket::Shutdown() {
    if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
}

}  // namespace quorvin
