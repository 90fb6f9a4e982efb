// GetCurrentDir over the TCP link against a plain echo peer of the same
// framing, in the same run: round trip one command at a time (p50, p99,
// ratio to the echo round trip) and throughput with many commands in
// flight on one connection.
//
// The link traces every received and sent message to its window and waits
// until the window thread has taken each trace; here the window is the
// headless test window (tests/fixtures/HeadlessPageWindow.h), whose thread
// records the texts, so the figures include those two hand-overs per
// command but no page rendering.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "TempDir.h"
#include "fixtures/HeadlessPageWindow.h"
#include "link/ChatManager.h"
#include "link/LoopbackServer.h"
#include "link/MessageFramer.h"
#include "link/TcpSocket.h"

namespace quorvin {
namespace {

using testing::LoopbackServer;

const std::string kCommand =
    "{\"type\":\"cmd\",\"from\":\"srv\",\"to\":\"agent\",\"name\":\"GetCurrentDir\",\"body\":{\"taskId\":\"1\"}}";

// A peer that sends every message back as it came, cut and framed like the link.
class EchoPeer {
public:
    explicit EchoPeer(std::uint16_t port) : m_thread([this, port] { Run(port); }) {}
    ~EchoPeer() {
        m_stop.store(true);
        m_socket.Shutdown();
        m_thread.join();
    }

private:
    void Run(std::uint16_t port) {
        if (!m_socket.Connect(0x7F000001u, port, 2000, m_stop)) return;
        MessageFramer framer;
        std::vector<char> buffer(64 * 1024);
        std::string frame;
        while (!m_stop.load()) {
            const long n = m_socket.Receive(buffer.data(), buffer.size());
            if (n <= 0) return;
            framer.Feed(
                buffer.data(), static_cast<std::size_t>(n),
                [&](const std::string& m) {
                    frame = m;
                    frame.push_back('\xFE');
                    m_socket.SendAll(frame.data(), frame.size(), 5000);
                },
                [] {});
        }
    }
    std::atomic<bool> m_stop{false};
    TcpSocket m_socket;
    std::thread m_thread;
};

struct LinkPeer {
    testing::TempDir dir;
    testing::HeadlessPageWindow window;
    std::unique_ptr<CChatManager> link;
    explicit LinkPeer(LoopbackServer& server, bool withWindow = true)
        : link(std::make_unique<CChatManager>(withWindow ? &window : nullptr, dir.path())) {
        link->Start("127.0.0.1", server.Port(), "agent", "bench", "g", "r");
    }
    ~LinkPeer() { link.reset(); }
};

double g_echoP50Us = 0;

void RoundTrips(benchmark::State& state, LoopbackServer& server, bool isEcho) {
    std::vector<double> us;
    us.reserve(100000);
    for (auto _ : state) {
        const auto t0 = std::chrono::steady_clock::now();
        server.SendMessage(kCommand);
        if (!server.ReadMessage(5000)) {
            state.SkipWithError("no reply");
            return;
        }
        us.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    std::sort(us.begin(), us.end());
    const double p50 = us[us.size() / 2];
    const double p99 = us[std::min(us.size() - 1, us.size() * 99 / 100)];
    state.counters["p50_us"] = p50;
    state.counters["p99_us"] = p99;
    if (isEcho) {
        g_echoP50Us = p50;
    } else if (g_echoP50Us > 0) {
        state.counters["p50_ratio_to_echo"] = p50 / g_echoP50Us;
    }
}

void InFlight(benchmark::State& state, LoopbackServer& server) {
    const int batch = static_cast<int>(state.range(0));
    std::string burst;
    for (int i = 0; i < batch; ++i) burst += kCommand + '\xFE';
    std::int64_t done = 0;
    for (auto _ : state) {
        server.Send(burst);
        for (int i = 0; i < batch; ++i) {
            if (!server.ReadMessage(10000)) {
                state.SkipWithError("reply missing");
                return;
            }
        }
        done += batch;
    }
    state.SetItemsProcessed(done);
}

void BM_EchoRoundTrip(benchmark::State& state) {
    LoopbackServer server;
    EchoPeer peer(server.Port());
    if (!server.Accept()) return state.SkipWithError("no echo peer");
    RoundTrips(state, server, true);
}

void BM_LinkGetCurrentDirRoundTrip(benchmark::State& state) {
    LoopbackServer server;
    LinkPeer peer(server);
    if (!server.Accept() || !server.ReadMessage()) return state.SkipWithError("no link");
    RoundTrips(state, server, false);
}

// The same without an owner window: what the two trace hand-overs cost.
void BM_LinkNoWindowRoundTrip(benchmark::State& state) {
    LoopbackServer server;
    LinkPeer peer(server, false);
    if (!server.Accept() || !server.ReadMessage()) return state.SkipWithError("no link");
    RoundTrips(state, server, false);
}

void BM_EchoInFlight(benchmark::State& state) {
    LoopbackServer server;
    EchoPeer peer(server.Port());
    if (!server.Accept()) return state.SkipWithError("no echo peer");
    InFlight(state, server);
}

void BM_LinkGetCurrentDirInFlight(benchmark::State& state) {
    LoopbackServer server;
    LinkPeer peer(server);
    if (!server.Accept() || !server.ReadMessage()) return state.SkipWithError("no link");
    InFlight(state, server);
}

BENCHMARK(BM_EchoRoundTrip)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_LinkGetCurrentDirRoundTrip)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_LinkNoWindowRoundTrip)->Iterations(20000)->UseRealTime();
BENCHMARK(BM_EchoInFlight)->Arg(256)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_LinkGetCurrentDirInFlight)->Arg(256)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace quorvin

BENCHMARK_MAIN();
