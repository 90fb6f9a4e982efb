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

#include "RoundTrips.h"
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

// One round trip: a command out, its answer back; microseconds, or a
// negative value when no answer came.
double RoundTripUs(LoopbackServer& server) {
    const auto t0 = std::chrono::steady_clock::now();
    server.SendMessage(kCommand);
    if (!server.ReadMessage(5000)) return -1;
    return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
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

// Echo and link round trips taken in turn, so both see the same load on a
// shared machine and their ratio is fair; each starts on an idle link (the
// previous command's sent-message trace has reached the window). Arg 1: the
// link has the headless owner window; 0: none (what the two trace
// hand-overs per command cost).
void BM_RoundTripLinkVsEcho(benchmark::State& state) {
    LoopbackServer echoServer;
    EchoPeer echo(echoServer.Port());
    LoopbackServer linkServer;
    LinkPeer link(linkServer, state.range(0) != 0);
    if (!echoServer.Accept() || !linkServer.Accept() || !linkServer.ReadMessage()) {
        return state.SkipWithError("peers not connected");
    }
    const bool withWindow = state.range(0) != 0;
    if (withWindow) {
        link.window.WaitFor([](const std::vector<std::string>& all) { return !all.empty(); });  // the registration
    }
    bench::EchoVsLink(
        state, [&] { return RoundTripUs(echoServer); }, [&] { return RoundTripUs(linkServer); },
        withWindow ? &link.window : nullptr, 1);
}

void BM_EchoInFlight(benchmark::State& state) {
    LoopbackServer server;
    EchoPeer peer(server.Port());
    if (!server.Accept()) return state.SkipWithError("no echo peer");
    InFlight(state, server);
}

// Arg: commands per burst; second arg 1 with the headless window, 0 without.
void BM_LinkGetCurrentDirInFlight(benchmark::State& state) {
    LoopbackServer server;
    LinkPeer peer(server, state.range(1) != 0);
    if (!server.Accept() || !server.ReadMessage()) return state.SkipWithError("no link");
    InFlight(state, server);
}

BENCHMARK(BM_RoundTripLinkVsEcho)->ArgName("window")->Arg(1)->Arg(0)->Iterations(20000)->UseRealTime();
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
