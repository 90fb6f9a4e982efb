// Owns every POSIX socket call of the WebSocket client. The socket is
// non-blocking from the start; an eventfd beside it lets another thread cut
// a Wait short. Name look-ups run on a helper thread so the opening's
// deadline bounds them too.
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "link/wsclient/Handshake.h"
#include "link/wsclient/Stream.h"

namespace quorvin::wsclient {

namespace {

struct AddrInfoDeleter {
    void operator()(addrinfo* ai) const { freeaddrinfo(ai); }
};
using AddrInfoPtr = std::unique_ptr<addrinfo, AddrInfoDeleter>;

// A descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }
    void Reset() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// getaddrinfo cannot be cancelled, so a look-up that outlasts the deadline
// is left to finish on its own thread, which then frees what it found.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = EAI_AGAIN;
    AddrInfoPtr list;
};

int Resolve(const std::string& host, const std::string& service, Clock::time_point deadline, AddrInfoPtr& out) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST;
    addrinfo* raw = nullptr;
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &raw) == 0) {  // an address: no look-up to wait for
        out.reset(raw);
        return 0;
    }
    hints.ai_flags = 0;
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service, hints] {
            addrinfo* found = nullptr;
            const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
            std::lock_guard<std::mutex> lock(lookup->mutex);
            lookup->rc = rc;
            lookup->list.reset(rc == 0 ? found : nullptr);
            lookup->finished = true;
            lookup->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        return EAI_AGAIN;  // no thread to be had: as if the resolver were busy
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) return EAI_AGAIN;
    out = std::move(lookup->list);
    return lookup->rc;
}

// One address, connected within deadline, or -1.
int ConnectOne(const addrinfo& ai, Clock::time_point deadline) {
    Fd fd(::socket(ai.ai_family, ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai.ai_protocol));
    if (fd.get() < 0) return -1;
    if (::connect(fd.get(), ai.ai_addr, ai.ai_addrlen) != 0) {
        if (errno != EINPROGRESS) return -1;
        pollfd p{fd.get(), POLLOUT, 0};
        for (;;) {
            const int n = ::poll(&p, 1, RemainingMs(deadline));
            if (n > 0) break;
            if (n == 0 || errno != EINTR) return -1;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) return -1;
    }
    const int one = 1;
    ::setsockopt(fd.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd.release();
}

class TcpStream final : public Stream {
public:
    TcpStream(int fd, int wake) : m_fd(fd), m_wake(wake) {}

    Io Read(std::uint8_t* buf, std::size_t size, std::size_t& n) override {
        n = 0;
        for (;;) {
            const ssize_t r = ::recv(m_fd.get(), buf, size, 0);
            if (r > 0) {
                n = static_cast<std::size_t>(r);
                return Io::Ok;
            }
            if (r == 0) return Io::Closed;
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? Io::WouldBlock : Io::Failed;
        }
    }

    Io Write(const std::uint8_t* data, std::size_t size, std::size_t& n) override {
        n = 0;
        for (;;) {
            // MSG_NOSIGNAL: a vanished peer is an error to report, not SIGPIPE.
            const ssize_t r = ::send(m_fd.get(), data, size, MSG_NOSIGNAL);
            if (r > 0) {
                n = static_cast<std::size_t>(r);
                return Io::Ok;
            }
            if (r == 0) return Io::WouldBlock;
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? Io::WouldBlock : Io::Failed;
        }
    }

    void Wait(bool read, bool write, int timeoutMs) override {
        pollfd p[2] = {{m_wake.get(), POLLIN, 0}, {m_fd.get(), 0, 0}};
        if (read) p[1].events |= POLLIN;
        if (write) p[1].events |= POLLOUT;
        // Nothing wanted: a hung-up socket must not make every wait return at once.
        const nfds_t count = m_fd.get() >= 0 && (read || write) ? 2 : 1;
        if (::poll(p, count, timeoutMs < 0 ? -1 : timeoutMs) > 0 && (p[0].revents & POLLIN)) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t r = ::read(m_wake.get(), &value, sizeof value);
        }
    }

    void Interrupt() override {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t r = ::write(m_wake.get(), &one, sizeof one);
    }

    // Closing with unread input would make the kernel reset the connection
    // and drop output not yet sent (the close frame): the output is ended
    // first and the input read away, within a bound.
    void Close() override {
        if (m_fd.get() < 0) return;
        ::shutdown(m_fd.get(), SHUT_WR);
        char sink[65536];
        for (int i = 0; i < 64 && ::recv(m_fd.get(), sink, sizeof sink, MSG_DONTWAIT) > 0; ++i) {
        }
        m_fd.Reset();
    }

private:
    Fd m_fd;
    Fd m_wake;
};

}  // namespace

std::unique_ptr<Stream> OpenTcp(const std::string& host, int port, Clock::time_point deadline, std::string& error) {
    AddrInfoPtr list;
    // getaddrinfo takes any number as a port and wraps it; only real ports pass.
    const int rc = port < 1 || port > 65535 ? EAI_SERVICE : Resolve(host, std::to_string(port), deadline, list);
    if (rc != 0) {
        error = Format("getaddrinfo: %s\n", ::gai_strerror(rc));
        return nullptr;
    }
    Fd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (wake.get() < 0) return nullptr;
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        const int fd = ConnectOne(*ai, deadline);
        if (fd >= 0) return std::make_unique<TcpStream>(fd, wake.release());
        if (RemainingMs(deadline) == 0) break;
    }
    return nullptr;
}

}  // namespace quorvin::wsclient
