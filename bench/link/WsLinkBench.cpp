// GetCurrentDir over the WebSocket link against a plain WebSocket echo peer,
// in the same run: round trip one command at a time (p50, p99, ratio to the
// echo round trip) and throughput with many commands in flight on one
// connection.
//
// The agent dials out, so this program is the server: one small WebSocket
// server end (written here over blocking sockets, frames from the client's
// own codec) serves both the echo peer (the client library echoing every
// message back) and the link. With the window, the link hands its two
// traces per command to the headless test window
// (tests/fixtures/HeadlessPageWindow.h).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "RoundTrips.h"
#include "TempDir.h"
#include "fixtures/HeadlessPageWindow.h"
#include "link/WsChatManager.h"
#include "link/wsclient/Frame.h"
#include "link/wsclient/WebSocket.h"

namespace quorvin {
namespace {

const std::string kCommand =
    "{\"type\":\"cmd\",\"from\":\"srv\",\"to\":\"agent\",\"name\":\"GetCurrentDir\",\"body\":{\"taskId\":\"1\"}}";

using Clock = std::chrono::steady_clock;

// The server end of one WebSocket connection on 127.0.0.1.
class ServerEnd : private wsclient::FrameSink {
public:
    ServerEnd() {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sin;
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&sin), sizeof sin) == 0 && ::listen(m_listen, 4) == 0 &&
            ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&sin), &len) == 0)
            m_port = ntohs(sin.sin_port);
    }
    ~ServerEnd() {
        for (int fd : {m_client, m_listen})
            if (fd >= 0) ::close(fd);
    }
    std::string Url() const { return "ws://127.0.0.1:" + std::to_string(m_port) + "/"; }

    // Accepts the client and answers its upgrade request.
    bool Accept() {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return false;
        m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (m_client < 0) return false;
        const int one = 1;
        ::setsockopt(m_client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::string request;
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (request.find("\r\n\r\n") == std::string::npos) {
            char c[512];
            if (!Readable(deadline)) return false;
            const ssize_t n = ::recv(m_client, c, sizeof c, 0);
            if (n <= 0) return false;
            request.append(c, static_cast<std::size_t>(n));
        }
        return Write("HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n\r\n");
    }
    // Queues an unmasked text frame; Flush writes what is queued.
    void Queue(const std::string& text) {
        wsclient::AppendFrame(m_out, wsclient::kText, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(),
                              nullptr);
    }
    bool Flush() {
        const bool ok = Write(std::string(m_out.begin(), m_out.end()));
        m_out.clear();
        return ok;
    }
    bool Send(const std::string& text) {
        Queue(text);
        return Flush();
    }
    // The next message from the client; false after 10 s or a close.
    bool Next(std::string& message) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (m_messages.empty()) {
            std::uint8_t chunk[65536];
            if (!Readable(deadline)) return false;
            const ssize_t n = ::recv(m_client, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            m_parser.Feed(chunk, static_cast<std::size_t>(n), *this);
        }
        message = std::move(m_messages.front());
        m_messages.pop_front();
        return true;
    }

private:
    bool Readable(Clock::time_point deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd p{m_client, POLLIN, 0};
        return left > 0 && ::poll(&p, 1, static_cast<int>(left)) > 0;
    }
    bool Write(const std::string& bytes) {
        for (std::size_t off = 0; off < bytes.size();) {
            const ssize_t n = ::send(m_client, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n <= 0) return false;
            off += static_cast<std::size_t>(n);
        }
        return true;
    }
    void OnMessage(std::vector<std::uint8_t>&& message) override {
        m_messages.emplace_back(message.begin(), message.end());
    }
    void OnPing(const std::vector<std::uint8_t>&) override {}
    void OnClose() override {}
    void OnError(wsclient::FrameError) override {}

    int m_listen = -1;
    int m_client = -1;
    std::uint16_t m_port = 0;
    std::vector<std::uint8_t> m_out;
    wsclient::FrameParser m_parser;
    std::deque<std::string> m_messages;
};

// A plain WebSocket peer: the client library, sending every message back.
class EchoPeer {
public:
    explicit EchoPeer(const std::string& url) : m_thread([this, url] { Run(url); }) {}
    ~EchoPeer() {
        m_stop.store(true);
        if (wsclient::WebSocket* ws = m_ws.load()) ws->interrupt();
        m_thread.join();
    }

private:
    void Run(const std::string& url) {
        std::unique_ptr<wsclient::WebSocket> ws = wsclient::fromUrl(url);
        if (!ws) return;
        m_ws.store(ws.get());
        while (!m_stop.load() && ws->getReadyState() != wsclient::WebSocket::CLOSED) {
            ws->poll(100);
            ws->dispatch([&](const std::string& m) { ws->send(m); });
            ws->poll(0);
        }
        m_ws.store(nullptr);
    }
    std::atomic<bool> m_stop{false};
    std::atomic<wsclient::WebSocket*> m_ws{nullptr};
    std::thread m_thread;
};

struct LinkPeer {
    testing::TempDir dir;
    testing::HeadlessPageWindow window;
    std::unique_ptr<CWsChatManager> link;
    LinkPeer(const std::string& url, bool withWindow)
        : link(std::make_unique<CWsChatManager>(withWindow ? &window : nullptr, dir.path())) {
        started = link->Start(url, "agent", "bench", "g", "r") == 0;
    }
    ~LinkPeer() { link.reset(); }
    bool started = false;
};

// One round trip in microseconds, or a negative value when no answer came.
double RoundTripUs(ServerEnd& server) {
    const auto t0 = Clock::now();
    std::string reply;
    if (!server.Send(kCommand) || !server.Next(reply)) return -1;
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

void InFlight(benchmark::State& state, ServerEnd& server) {
    const int batch = static_cast<int>(state.range(0));
    std::int64_t done = 0;
    std::string reply;
    for (auto _ : state) {
        for (int i = 0; i < batch; ++i) server.Queue(kCommand);
        if (!server.Flush()) return state.SkipWithError("send failed");
        for (int i = 0; i < batch; ++i) {
            if (!server.Next(reply)) return state.SkipWithError("reply missing");
        }
        done += batch;
    }
    state.SetItemsProcessed(done);
}

// Echo and link round trips taken in turn, so both see the same load and
// their ratio is fair; each starts on an idle link (the previous command's
// traces have reached the window). Arg 1: with the headless window; 0: none.
void BM_RoundTripLinkVsEcho(benchmark::State& state) {
    const bool withWindow = state.range(0) != 0;
    ServerEnd echoServer, linkServer;
    EchoPeer echo(echoServer.Url());
    if (!echoServer.Accept()) return state.SkipWithError("no echo peer");
    std::thread accept([&] { linkServer.Accept(); });
    LinkPeer link(linkServer.Url(), withWindow);
    accept.join();
    std::string registration;
    if (!link.started || !linkServer.Next(registration)) return state.SkipWithError("link not connected");
    bench::EchoVsLink(
        state, [&] { return RoundTripUs(echoServer); }, [&] { return RoundTripUs(linkServer); },
        withWindow ? &link.window : nullptr, 1);  // the registration's trace
}

void BM_EchoInFlight(benchmark::State& state) {
    ServerEnd server;
    EchoPeer peer(server.Url());
    if (!server.Accept()) return state.SkipWithError("no echo peer");
    InFlight(state, server);
}

// Args: commands per burst; 1 with the headless window, 0 without.
void BM_LinkGetCurrentDirInFlight(benchmark::State& state) {
    ServerEnd server;
    std::thread accept([&] { server.Accept(); });
    LinkPeer peer(server.Url(), state.range(1) != 0);
    accept.join();
    std::string registration;
    if (!peer.started || !server.Next(registration)) return state.SkipWithError("no link");
    InFlight(state, server);
}

BENCHMARK(BM_RoundTripLinkVsEcho)->ArgName("window")->Arg(1)->Arg(0)->Iterations(5000)->UseRealTime();
BENCHMARK(BM_EchoInFlight)->Arg(256)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LinkGetCurrentDirInFlight)
    ->ArgNames({"burst", "window"})
    ->Args({256, 1})
    ->Args({256, 0})
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace
}  // namespace quorvin

BENCHMARK_MAIN();
