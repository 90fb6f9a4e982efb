// TcpSocket over Winsock 2. The socket stays non-blocking: Winsock has no
// per-call MSG_DONTWAIT, and a receive that waits in select slices sees a
// Shutdown from another thread even where shutdown alone would not wake it.
// The descriptor field holds the SOCKET, which fits in 32 bits here.
#include "link/TcpSocket.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <mstcpip.h>
// clang-format on

#include <chrono>
#include <memory>

#include "common/Deadline.h"
#include "common/win/SystemError.h"
#include "link/wsclient/win/Winsock.h"

namespace quorvin {
namespace {

using Clock = std::chrono::steady_clock;

// ws2ipdef.h's TCP_MAXRT (seconds of retransmission before the connection
// drops), which mingw-w64's headers lack.
constexpr int kTcpMaxRt = 5;

SOCKET Sock(int fd) { return static_cast<SOCKET>(static_cast<unsigned>(fd)); }

void Explain(std::string* why, std::string text) {
    if (why != nullptr) *why = std::move(text);
}

std::string LastError() { return platform::SystemErrorText(static_cast<unsigned long>(WSAGetLastError())); }

// Waits up to ms for the socket to become readable (or writable); its
// error set counts as ready, the next call then reports the error. -1 on a
// failure of the wait itself.
int WaitReady(SOCKET s, bool write, int ms) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv{ms / 1000, (ms % 1000) * 1000};
    const int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, &tv);
    if (n == SOCKET_ERROR) return -1;
    return n;
}

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};

}  // namespace

bool StartSocketLibrary() {
    if (!WinsockReady()) return false;
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void StopSocketLibrary() { WSACleanup(); }

std::string ResolveIpv4(const std::string& host, int /*timeoutMs*/, std::string* why) {
    // Windows' resolver has no per-call limit; its own is a few seconds.
    if (host.empty()) {
        Explain(why, "no server name");
        return {};
    }
    if (!WinsockReady()) {
        Explain(why, "Winsock cannot be started");
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* raw = nullptr;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &raw);
    if (rc != 0 || raw == nullptr) {
        Explain(why, rc != 0 ? platform::SystemErrorText(static_cast<unsigned long>(rc)) : "no IPv4 address");
        return {};
    }
    std::unique_ptr<addrinfo, AddrInfoDeleter> list(raw);
    const auto* sin = reinterpret_cast<const sockaddr_in*>(list->ai_addr);
    char text[INET_ADDRSTRLEN] = {};
    if (inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) == nullptr) {
        Explain(why, LastError());
        return {};
    }
    return text;
}

TcpSocket::~TcpSocket() {
    if (m_fd >= 0) closesocket(Sock(m_fd));
}

bool TcpSocket::Connect(std::uint32_t address, std::uint16_t port, int timeoutMs, const std::atomic<bool>& cancel,
                        std::string* why) {
    if (m_fd >= 0) {
        Explain(why, "already connected");
        return false;
    }
    if (!WinsockReady()) {
        Explain(why, "Winsock cannot be started");
        return false;
    }
    const SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        Explain(why, LastError());
        return false;
    }
    m_fd = static_cast<int>(s);
    u_long nonBlocking = 1;
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_port = htons(port);
    sin.sin_addr.s_addr = htonl(address);
    bool ok = ioctlsocket(s, FIONBIO, &nonBlocking) == 0 &&
              connect(s, reinterpret_cast<const sockaddr*>(&sin), sizeof sin) == 0;
    int err = ok ? 0 : WSAGetLastError();
    if (!ok && err == WSAEWOULDBLOCK) {
        err = WSAETIMEDOUT;
        // Waits in short slices so a superseded or stopped attempt ends soon.
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!cancel.load()) {
            const int left = RemainingMs(deadline);
            if (left == 0) break;
            const int n = WaitReady(s, true, left < 100 ? left : 100);
            if (n < 0) {
                err = WSAGetLastError();
                break;
            }
            if (n > 0) {
                int len = sizeof err;
                if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0)
                    err = WSAGetLastError();
                ok = err == 0;
                break;
            }
        }
    }
    if (!ok || cancel.load()) {
        Explain(why, cancel.load()         ? std::string("cancelled")
                     : err == WSAETIMEDOUT ? "no answer within " + std::to_string(timeoutMs) + " ms"
                                           : platform::SystemErrorText(static_cast<unsigned long>(err)));
        closesocket(s);
        m_fd = -1;
        return false;
    }
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return true;
}

bool TcpSocket::SetLiveness(const TcpLiveness& l) {
    if (m_fd < 0) return false;
    const SOCKET s = Sock(m_fd);
    bool ok = true;
    if (l.unackedMs > 0) {
        const DWORD seconds = l.unackedMs < 1000 ? 1 : static_cast<DWORD>(l.unackedMs / 1000);
        ok &= setsockopt(s, IPPROTO_TCP, kTcpMaxRt, reinterpret_cast<const char*>(&seconds), sizeof seconds) == 0;
    }
    if (l.idleMs > 0) {
        // Windows sends its fixed number of probes (10) at this interval.
        tcp_keepalive values{};
        values.onoff = 1;
        values.keepalivetime = static_cast<ULONG>(l.idleMs);
        values.keepaliveinterval = static_cast<ULONG>(l.intervalMs > 0 ? l.intervalMs : l.idleMs);
        DWORD returned = 0;
        ok &= WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr, nullptr) == 0;
    }
    return ok;
}

bool TcpSocket::SendAll(const void* data, std::size_t size, int timeoutMs, std::string* why) {
    if (m_fd < 0) {
        Explain(why, "not connected");
        return false;
    }
    const SOCKET s = Sock(m_fd);
    const auto* p = static_cast<const char*>(data);
    // The bound is on a stall, not on the whole send.
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (size > 0) {
        const int chunk = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
        const int n = send(s, p, chunk, 0);
        if (n > 0) {
            p += n;
            size -= static_cast<std::size_t>(n);
            deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
            continue;
        }
        const int err = WSAGetLastError();
        if (err == WSAESHUTDOWN) {
            Explain(why, "connection shut down");
            return false;
        }
        if (err != WSAEWOULDBLOCK) {
            Explain(why, platform::SystemErrorText(static_cast<unsigned long>(err)));
            return false;
        }
        const int left = RemainingMs(deadline);
        if (left == 0) {
            Explain(why, "no byte taken for " + std::to_string(timeoutMs) + " ms");
            return false;
        }
        if (WaitReady(s, true, left) < 0) {
            Explain(why, LastError());
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
    const SOCKET s = Sock(m_fd);
    const int want = size > (1u << 30) ? (1 << 30) : static_cast<int>(size);
    for (;;) {
        const int n = recv(s, static_cast<char*>(buffer), want, 0);
        if (n == 0) Explain(why, "closed by the server");
        if (n >= 0) return n;
        const int err = WSAGetLastError();
        if (err == WSAESHUTDOWN) return 0;  // Shutdown was called
        if (err != WSAEWOULDBLOCK) {
            Explain(why, platform::SystemErrorText(static_cast<unsigned long>(err)));
            return -1;
        }
        if (WaitReady(s, false, 250) < 0) {
            Explain(why, LastError());
            return -1;
        }
    }
}

void TcpSocket::Shutdown() {
    if (m_fd >= 0) shutdown(Sock(m_fd), SD_BOTH);
}

}  // namespace quorvin
