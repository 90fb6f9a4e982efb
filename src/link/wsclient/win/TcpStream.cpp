// Owns every Winsock call of the WebSocket client. The socket is tied to an
// event with WSAEventSelect (which also makes it non-blocking); a second,
// manual-reset event lets another thread cut a Wait short. Name look-ups
// run on a helper thread so the opening's deadline bounds them too.
// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

#include "common/win/SystemError.h"
#include "link/wsclient/Handshake.h"
#include "link/wsclient/Stream.h"
#include "link/wsclient/win/Winsock.h"

namespace quorvin::wsclient {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// A socket closed with its owner.
class Socket {
public:
    explicit Socket(SOCKET s = INVALID_SOCKET) : m_s(s) {}
    ~Socket() { Reset(); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return m_s; }
    SOCKET release() { return std::exchange(m_s, INVALID_SOCKET); }
    void Reset() {
        if (m_s != INVALID_SOCKET) closesocket(m_s);
        m_s = INVALID_SOCKET;
    }

private:
    SOCKET m_s;
};

// An event handle closed with its owner.
class Event {
public:
    explicit Event(HANDLE h = nullptr) : m_h(h) {}
    ~Event() {
        if (m_h != nullptr) CloseHandle(m_h);
    }
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;
    HANDLE get() const { return m_h; }
    HANDLE release() { return std::exchange(m_h, nullptr); }

private:
    HANDLE m_h;
};

// getaddrinfo cannot be cancelled, so a look-up that outlasts the deadline
// is left to finish on its own thread, which then frees what it found; one
// that ends in time is joined. The wait is on an event of its own: a timed
// wait of the thread library would leave a handle with the calling thread.
struct Lookup {
    Event done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::atomic<bool> finished{false};
    int rc = EAI_AGAIN;
    AddrInfoPtr list;
};

int Resolve(const std::string& host, const std::string& service, Clock::time_point deadline, AddrInfoPtr& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* raw = nullptr;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, &raw) == 0) {  // an address: no look-up to wait for
        out.reset(raw);
        return 0;
    }
    hints.ai_flags = 0;
    auto lookup = std::make_shared<Lookup>();
    if (lookup->done.get() == nullptr) return EAI_AGAIN;
    std::thread worker;
    try {
        worker = std::thread([lookup, host, service, hints] {
            addrinfo* found = nullptr;
            lookup->rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            lookup->list.reset(lookup->rc == 0 ? found : nullptr);
            lookup->finished.store(true, std::memory_order_release);
            SetEvent(lookup->done.get());
        });
    } catch (const std::system_error&) {
        return EAI_AGAIN;  // no thread to be had: as if the resolver were busy
    }
    WaitForSingleObject(lookup->done.get(), static_cast<DWORD>(RemainingMs(deadline)));
    if (!lookup->finished.load(std::memory_order_acquire)) {
        worker.detach();
        return EAI_AGAIN;
    }
    worker.join();
    out = std::move(lookup->list);
    return lookup->rc;
}

// One address, connected within deadline, or INVALID_SOCKET. A failed
// connection shows in select's error set, its cause in SO_ERROR.
SOCKET ConnectOne(const addrinfo& ai, Clock::time_point deadline) {
    Socket s(WSASocketW(ai.ai_family, ai.ai_socktype, ai.ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
    u_long nonBlocking = 1;
    if (s.get() == INVALID_SOCKET || ioctlsocket(s.get(), FIONBIO, &nonBlocking) != 0) return INVALID_SOCKET;
    if (connect(s.get(), ai.ai_addr, static_cast<int>(ai.ai_addrlen)) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) return INVALID_SOCKET;
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(s.get(), &writable);
        FD_SET(s.get(), &failed);
        const int ms = RemainingMs(deadline);
        timeval tv{ms / 1000, (ms % 1000) * 1000};
        if (select(0, nullptr, &writable, &failed, &tv) <= 0) return INVALID_SOCKET;
        int err = 0;
        int len = sizeof err;
        if (getsockopt(s.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0 ||
            FD_ISSET(s.get(), &failed))
            return INVALID_SOCKET;
    }
    const BOOL one = TRUE;
    setsockopt(s.get(), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    return s.release();
}

int Clamp(std::size_t size) { return size > (1u << 30) ? (1 << 30) : static_cast<int>(size); }

class TcpStream final : public Stream {
public:
    TcpStream(SOCKET s, HANDLE socketEvent, HANDLE wake) : m_socket(s), m_socketEvent(socketEvent), m_wake(wake) {}

    // Ties the socket to its event; false when Winsock refuses.
    bool Watch() { return WSAEventSelect(m_socket.get(), m_socketEvent.get(), FD_READ | FD_WRITE | FD_CLOSE) == 0; }

    Io Read(std::uint8_t* buf, std::size_t size, std::size_t& n) override {
        n = 0;
        const int r = recv(m_socket.get(), reinterpret_cast<char*>(buf), Clamp(size), 0);
        if (r > 0) {
            n = static_cast<std::size_t>(r);
            return Io::Ok;
        }
        if (r == 0) return Io::Closed;
        return WSAGetLastError() == WSAEWOULDBLOCK ? Io::WouldBlock : Io::Failed;
    }

    Io Write(const std::uint8_t* data, std::size_t size, std::size_t& n) override {
        n = 0;
        const int r = send(m_socket.get(), reinterpret_cast<const char*>(data), Clamp(size), 0);
        if (r > 0) {
            n = static_cast<std::size_t>(r);
            return Io::Ok;
        }
        if (r == 0) return Io::WouldBlock;
        if (WSAGetLastError() != WSAEWOULDBLOCK) return Io::Failed;
        m_writable = false;  // FD_WRITE comes again once the send buffer drains
        return Io::WouldBlock;
    }

    // The events are edges: FD_WRITE comes only after a send was refused,
    // FD_READ once per recv, FD_CLOSE once. Bytes waiting are asked for
    // directly, the other two are kept as flags, so no wait sleeps through
    // a ready socket.
    void Wait(bool read, bool write, int timeoutMs) override {
        const bool open = m_socket.get() != INVALID_SOCKET;
        const bool wanted = open && (read || write);
        u_long waiting = 0;
        if (wanted && read && (m_peerClosed || (ioctlsocket(m_socket.get(), FIONREAD, &waiting) == 0 && waiting > 0)))
            return;
        if (wanted && write && m_writable) return;
        const HANDLE handles[2] = {m_wake.get(), m_socketEvent.get()};
        const DWORD rc = WaitForMultipleObjects(wanted ? 2 : 1, handles, FALSE,
                                                timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        if (rc == WAIT_OBJECT_0) ResetEvent(m_wake.get());
        if (!open) return;
        WSANETWORKEVENTS events{};
        if (WSAEnumNetworkEvents(m_socket.get(), m_socketEvent.get(), &events) != 0) return;
        if (events.lNetworkEvents & FD_CLOSE) m_peerClosed = true;
        if (events.lNetworkEvents & (FD_WRITE | FD_CLOSE)) m_writable = true;
    }

    void Interrupt() override { SetEvent(m_wake.get()); }

    // Closing with unread input would make the stack reset the connection
    // and drop output not yet sent (the close frame): the output is ended
    // first and the input read away, within a bound.
    void Close() override {
        if (m_socket.get() == INVALID_SOCKET) return;
        shutdown(m_socket.get(), SD_SEND);
        char sink[65536];
        for (int i = 0; i < 64 && recv(m_socket.get(), sink, sizeof sink, 0) > 0; ++i) {
        }
        m_socket.Reset();
    }

private:
    Socket m_socket;
    Event m_socketEvent;
    Event m_wake;
    std::atomic<bool> m_peerClosed{false};  // or reset
    std::atomic<bool> m_writable{true};
};

}  // namespace

std::unique_ptr<Stream> OpenTcp(const std::string& host, int port, Clock::time_point deadline, std::string& error) {
    if (!WinsockReady()) {
        error = "Winsock cannot be started\n";
        return nullptr;
    }
    AddrInfoPtr list;
    // Only real ports pass; the resolver's own answer for the rest varies.
    const int rc = port < 1 || port > 65535 ? EAI_SERVICE : Resolve(host, std::to_string(port), deadline, list);
    if (rc != 0) {
        error = Format("getaddrinfo: %s\n", platform::SystemErrorText(static_cast<unsigned long>(rc)).c_str());
        return nullptr;
    }
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        Socket s(ConnectOne(*ai, deadline));
        if (s.get() != INVALID_SOCKET) {
            Event socketEvent(WSACreateEvent());
            Event wake(CreateEventW(nullptr, TRUE, FALSE, nullptr));
            if (socketEvent.get() == nullptr || wake.get() == nullptr) return nullptr;
            auto stream = std::make_unique<TcpStream>(s.release(), socketEvent.release(), wake.release());
            return stream->Watch() ? std::move(stream) : nullptr;
        }
        if (RemainingMs(deadline) == 0) break;
    }
    return nullptr;
}

}  // namespace quorvin::wsclient
