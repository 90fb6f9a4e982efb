// The WebSocket client against a raw peer on loopback: the request on the
// wire, every way an opening fails, messages of every length form both
// ways, control frames, protocol errors, a peer that stalls or vanishes,
// wait() and interrupt() across threads, and no descriptor left behind.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
#include <thread>

#include "fixtures/RawWsPeer.h"
#include "link/wsclient/Open.h"

namespace quorvin::wsclient {
namespace {

using testing::ClientFrame;
using testing::RawWsPeer;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Descriptors open now, counted after one connection (by name) came and
// went: the first sets up what lives as long as the process (Winsock and
// its resolver, for one).
int OpenFds() {
    static const bool warm = [] {
        RawWsPeer peer;
        return fromUrl("ws://localhost:" + std::to_string(peer.Port())) != nullptr;
    }();
    EXPECT_TRUE(warm);
    return testing::net::OpenDescriptors();
}

// The count once it is back at before, or after 2 s: the system's own
// helpers (wine's resolver threads, for one) come and go on their own
// time, while a leak stays.
int OpenFdsBackAt(int before) {
    int n = OpenFds();
    for (int i = 0; i < 40 && n != before; ++i) {
        std::this_thread::sleep_for(milliseconds(50));
        n = OpenFds();
    }
    return n;
}

std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i * 13 % 253);
    return s;
}

// One client connection, polled and dispatched by the test thread.
struct Session {
    std::unique_ptr<WebSocket> ws;
    std::vector<std::string> got;

    explicit Session(std::unique_ptr<WebSocket> w) : ws(std::move(w)) {}
    // Polls until done() holds; false when it does not within timeoutMs.
    template <class Done>
    bool Until(Done done, int timeoutMs = 10000) {
        const auto deadline = Clock::now() + milliseconds(timeoutMs);
        for (int i = 0; i < 100000 && !done(); ++i) {
            if (Clock::now() >= deadline) return false;
            ws->poll(5);
            ws->dispatch([this](const std::string& m) { got.push_back(m); });
        }
        return done();
    }
    bool Closed() const { return ws->getReadyState() == WebSocket::CLOSED; }
};

std::string Replace(std::string text, const std::string& url) {
    const std::size_t at = text.find("%s");
    return at == std::string::npos ? text : text.replace(at, 2, url);
}

TEST(WebSocketTest, RequestLinesOnTheWire) {
    const std::string key = "Sec-WebSocket-Key: q7Fz0LmW2pXc4TbR9sKd1A==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    struct Case {
        std::string host, rest, origin, first;
    } cases[] = {
        {"127.0.0.1", "", "", "GET / HTTP/1.1"},
        {"127.0.0.1", "/", "", "GET / HTTP/1.1"},
        {"127.0.0.1", "/chat/room?id=7", "http://page.example", "GET /chat/room?id=7 HTTP/1.1"},
        {"localhost", "/x", "", "GET /x HTTP/1.1"},
    };
    for (const Case& c : cases) {
        RawWsPeer peer;
        const std::string hostPort = c.host + ":" + std::to_string(peer.Port());
        Session s(fromUrl("ws://" + hostPort + c.rest, c.origin));
        ASSERT_NE(s.ws, nullptr) << c.rest;
        EXPECT_EQ(s.ws->getReadyState(), WebSocket::OPEN);
        EXPECT_EQ(peer.Request(), c.first + "\r\nHost: " + hostPort +
                                      "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n" +
                                      (c.origin.empty() ? "" : "Origin: " + c.origin + "\r\n") + key);
    }
}

TEST(WebSocketTest, FailedOpeningsSayWhyAndLeaveNoDescriptor) {
    struct Case {
        std::string answer;
        bool hangUp;
        int timeoutMs;
        std::string error;  // %s: the URL
    } cases[] = {
        {"HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", false, 10000,
         "ERROR: Got bad status connecting to %s: HTTP/1.1 200 OK\r\n"},
        {std::string(1100, 'A'), false, 10000, "ERROR: Got invalid status line connecting to: %s\n"},
        {"", true, 10000, ""},                                   // closed before the status line
        {"HTTP/1.1 101 Switching\r\nA: b\r\n", true, 10000, ""},  // closed among the headers
        {"", false, 300, "ERROR: Timed out connecting to: %s\n"},   // never answers
    };
    for (const Case& c : cases) {
        const int fds = OpenFds();
        {
            RawWsPeer peer(c.answer, c.hangUp);
            OpenOptions options;
            options.timeoutMs = c.timeoutMs;
            ::testing::internal::CaptureStderr();
            EXPECT_EQ(Open(peer.Url("/p"), "", options), nullptr);
            EXPECT_EQ(::testing::internal::GetCapturedStderr(), Replace(c.error, peer.Url("/p")));
        }
        EXPECT_EQ(OpenFdsBackAt(fds), fds) << c.answer.substr(0, 20);
    }
}

TEST(WebSocketTest, UnreachableTargetsSayWhy) {
    std::uint16_t port = 0;
    testing::net::Close(testing::net::Listen(0, 1, port));  // nothing listens there now
    const std::string refused = "127.0.0.1:" + std::to_string(port);
    struct Case {
        std::string url, errorStart, errorEnd;
    } cases[] = {
        {"ws://no-such-host.invalid/", "getaddrinfo: ", "\nUnable to connect to no-such-host.invalid:80\n"},
        {"ws://" + refused + "/", "", "Unable to connect to " + refused + "\n"},
        // The reason is the system's own text, which differs between systems.
        {"ws://127.0.0.1:70000/", "getaddrinfo: ", "\nUnable to connect to 127.0.0.1:70000\n"},
        {"wss:/127.0.0.1/", "", "ERROR: Could not parse WebSocket url: wss:/127.0.0.1/\n"},
    };
    for (const Case& c : cases) {
        const int fds = OpenFds();
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(fromUrl(c.url, "", 2000), nullptr);
        const std::string error = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(error.substr(0, c.errorStart.size()), c.errorStart) << error;
        EXPECT_TRUE(error.size() >= c.errorEnd.size() + c.errorStart.size() &&
                    error.compare(error.size() - c.errorEnd.size(), std::string::npos, c.errorEnd) == 0)
            << error;
        EXPECT_EQ(OpenFdsBackAt(fds), fds) << c.url;
    }
}

TEST(WebSocketTest, EveryLengthFormBothWays) {
    const std::uint8_t key[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    RawWsPeer peer(RawWsPeer::kUpgrade + RawWsPeer::Frame(0x81, "right behind the answer"));
    Session s(fromUrl(peer.Url()));
    ASSERT_NE(s.ws, nullptr);
    ASSERT_TRUE(s.Until([&] { return s.got.size() == 1; }));
    EXPECT_EQ(s.got[0], "right behind the answer");
    std::size_t round = 0;
    for (const std::size_t n : {0ul, 125ul, 126ul, 65535ul, 65536ul, 1ul << 20}) {
        const std::string payload = Pattern(n);
        if (round % 2) s.ws->sendBinary(payload); else s.ws->send(payload);
        ASSERT_TRUE(s.Until([&] { return peer.Frames().size() == round + 1; })) << n;
        const ClientFrame f = peer.Frames().back();
        EXPECT_EQ(f.b0, round % 2 ? 0x82 : 0x81);
        EXPECT_TRUE(f.masked);
        EXPECT_EQ(f.lengthCode, n < 126 ? n : n < 65536 ? 126u : 127u);
        EXPECT_TRUE(f.payload == payload) << n;
        peer.Write(RawWsPeer::Frame(0x82, payload, round % 2 ? key : nullptr));
        ASSERT_TRUE(s.Until([&] { return s.got.size() == round + 2; })) << n;
        EXPECT_TRUE(s.got.back() == payload) << n;
        ++round;
    }
}

TEST(WebSocketTest, PacedFragmentsJoinAndAPingBetweenThemIsAnswered) {
    const std::uint8_t key[4] = {1, 2, 3, 4};
    RawWsPeer peer;
    Session s(fromUrl(peer.Url()));
    ASSERT_NE(s.ws, nullptr);
    peer.Write(RawWsPeer::Frame(0x01, "Hel") + RawWsPeer::Frame(0x89, "are you there?", key) +
                   RawWsPeer::Frame(0x00, "l", key) + RawWsPeer::Frame(0x8A, "ignored") +
                   RawWsPeer::Frame(0x80, "o") + RawWsPeer::Frame(0x81, "second"),
               1, 1);
    ASSERT_TRUE(s.Until([&] { return s.got.size() == 2; }));
    EXPECT_EQ(s.got, (std::vector<std::string>{"Hello", "second"}));
    ASSERT_TRUE(s.Until([&] { return peer.Frames().size() == 1; }));
    EXPECT_EQ(peer.Frames()[0].opcode(), 10);
    EXPECT_EQ(peer.Frames()[0].payload, "are you there?");
    EXPECT_TRUE(peer.Frames()[0].masked);
}

TEST(WebSocketTest, ProtocolErrorsCloseTheConnection) {
    struct Case {
        std::string bytes, error, closePayload;
        bool tooBig;
    } cases[] = {
        {std::string("\x81\x7F\x80\0\0\0\0\0\0\x02hi", 12) + RawWsPeer::Frame(0x81, "after"),
         "ERROR: Frame has invalid frame length. Closing.\n", "", false},
        {std::string("\x82\x7F\0\0\0\0\x01\0\0\x01", 10) + "only the start", "ERROR: Message too big. Closing.\n",
         "\x03\xF1", true},
        {RawWsPeer::Frame(0x83, "x"), "ERROR: Got unexpected WebSocket message.\n", "", false},
        {RawWsPeer::Frame(0x89, std::string(126, 'p')), "ERROR: Got unexpected WebSocket message.\n", "", false},
        {RawWsPeer::Frame(0x88, "\x03\xE8" "going away"), "", "", false},
    };
    for (const Case& c : cases) {
        RawWsPeer peer;
        Session s(fromUrl(peer.Url()));
        ASSERT_NE(s.ws, nullptr);
        ::testing::internal::CaptureStderr();
        peer.Write(c.bytes);
        const bool done = s.Until([&] { return s.Closed() && !peer.Frames().empty(); });
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.error);
        ASSERT_TRUE(done) << c.error;
        const std::vector<ClientFrame> frames = peer.Frames();
        ASSERT_EQ(frames.size(), 1u) << c.error;
        EXPECT_EQ(frames[0].opcode(), 8);
        EXPECT_TRUE(frames[0].masked);
        EXPECT_EQ(frames[0].payload, c.closePayload);
        EXPECT_TRUE(s.got.empty());
        EXPECT_EQ(s.ws->messageTooBig(), c.tooBig);
    }
}

TEST(WebSocketTest, CloseOnceNothingAfterItAndFreshKeys) {
    RawWsPeer peer;
    Session s(fromUrl(peer.Url()));
    ASSERT_NE(s.ws, nullptr);
    for (int i = 0; i < 16; ++i) s.ws->send("m");
    s.ws->sendPing();
    s.ws->close();
    EXPECT_EQ(s.ws->getReadyState(), WebSocket::CLOSING);
    s.ws->close();
    s.ws->send("late");
    s.ws->sendPing();
    ASSERT_TRUE(s.Until([&] { return s.Closed() && peer.Frames().size() == 18; }));
    const std::vector<ClientFrame> frames = peer.Frames();
    ASSERT_EQ(frames.size(), 18u);
    EXPECT_EQ(peer.BytesRead(), 16 * 7 + 6 + 6u);  // the ping and the close: 2 header bytes and the key
    EXPECT_EQ(frames[16].opcode(), 9);
    EXPECT_EQ(frames[17].opcode(), 8);
    std::set<std::array<std::uint8_t, 4>> keys;
    for (const ClientFrame& f : frames) {
        EXPECT_TRUE(f.masked);
        keys.insert(f.key);
    }
    EXPECT_EQ(keys.size(), frames.size());

    // Unmasked, and a peer that never answers the close: it ends after the close wait.
    RawWsPeer plain;
    plain.IgnoreClose();
    OpenOptions options;
    options.mask = false;
    options.closeWaitMs = 200;
    Session u(Open(plain.Url(), "", options));
    ASSERT_NE(u.ws, nullptr);
    u.ws->send("m");
    u.ws->close();
    ASSERT_TRUE(u.Until([&] { return u.Closed() && plain.ClientGone(); }));
    ASSERT_EQ(plain.Frames().size(), 2u);
    EXPECT_FALSE(plain.Frames()[0].masked);
    EXPECT_FALSE(plain.Frames()[1].masked);
}

TEST(WebSocketTest, APeerThatStopsReadingFailsTheConnection) {
    struct Case {
        int stallMs;
        std::size_t maxQueued;
    } cases[] = {{300, kMaxQueuedBytes}, {kSendStallMs, 200000}};
    for (const Case& c : cases) {
        RawWsPeer peer(RawWsPeer::kUpgrade, false, 4096);
        peer.StopReading();
        OpenOptions options;
        options.sendStallMs = c.stallMs;
        options.maxQueuedBytes = c.maxQueued;
        Session s(Open(peer.Url(), "", options));
        ASSERT_NE(s.ws, nullptr);
        const std::string chunk(150000, 'x');
        ::testing::internal::CaptureStderr();
        const bool closed = s.Until([&] {
            if (s.ws->bufferedAmount() < (4u << 20)) s.ws->sendBinary(chunk);
            return s.Closed();
        }, 30000);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Connection error!\n");
        EXPECT_TRUE(closed);
        EXPECT_EQ(s.ws->bufferedAmount(), 0u);
    }
}

TEST(WebSocketTest, APeerVanishingMidFrameClosesIt) {
    RawWsPeer peer;
    Session s(fromUrl(peer.Url()));
    ASSERT_NE(s.ws, nullptr);
    peer.Write(RawWsPeer::Frame(0x81, "last words") + RawWsPeer::Frame(0x81, std::string(1000, 'v')).substr(0, 500));
    peer.HangUp();
    ::testing::internal::CaptureStderr();
    const bool closed = s.Until([&] { return s.Closed(); });
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Connection closed!\n");
    EXPECT_TRUE(closed);
    s.ws->dispatch([&](const std::string& m) { s.got.push_back(m); });
    EXPECT_EQ(s.got, std::vector<std::string>{"last words"});
    s.ws->wait(-1);  // nothing more can come: returns at once
}

// Runs wait(-1) on a thread of its own, then wake(); true when the wait
// returned within 20 s. A plain thread: std::async keeps handles in mingw's
// runtime, which the descriptor count would take for a leak.
template <class Wake>
bool WaitEndsAfter(WebSocket& ws, Wake wake) {
    std::atomic<bool> done{false};
    std::thread waiter([&] {
        ws.wait(-1);
        done = true;
    });
    wake();
    for (int i = 0; i < 2000 && !done; ++i) std::this_thread::sleep_for(milliseconds(10));
    const bool ended = done;
    if (!ended) ws.interrupt();  // so the thread can be joined
    waiter.join();
    return ended;
}

TEST(WebSocketTest, WaitEndsOnInterruptOrInputAcrossThreads) {
    const int fds = OpenFds();
    {
        RawWsPeer peer;
        Session s(fromUrl(peer.Url()));
        ASSERT_NE(s.ws, nullptr);
        s.ws->interrupt();
        s.ws->wait(-1);  // the interrupt came first: this wait ends at once

        EXPECT_TRUE(WaitEndsAfter(*s.ws, [&] { s.ws->interrupt(); }));
        EXPECT_TRUE(WaitEndsAfter(*s.ws, [&] { peer.Write(RawWsPeer::Frame(0x81, "wake")); }));

        // The link's pattern: one thread waits and polls, others send under its lock.
        std::mutex owner;
        std::thread sender([&] {
            for (int i = 0; i < 100; ++i) {
                std::lock_guard<std::mutex> lock(owner);
                s.ws->send("m" + std::to_string(i));
                s.ws->interrupt();
            }
        });
        const auto deadline = Clock::now() + std::chrono::seconds(20);
        while (peer.Frames().size() < 100 && Clock::now() < deadline) {
            s.ws->wait(50);
            std::lock_guard<std::mutex> lock(owner);
            s.ws->poll(0);
            s.ws->dispatch([&](const std::string& m) { s.got.push_back(m); });
        }
        sender.join();
        ASSERT_EQ(peer.Frames().size(), 100u);
        for (int i = 0; i < 100; ++i) EXPECT_EQ(peer.Frames()[i].payload, "m" + std::to_string(i));
        EXPECT_EQ(s.got, std::vector<std::string>{"wake"});
    }
    EXPECT_EQ(OpenFdsBackAt(fds), fds);
}

}  // namespace
}  // namespace quorvin::wsclient
