// The frame parser over arbitrary bytes. The first byte picks a small
// message limit (so refusals are reached) and a piece size: the bytes fed
// whole and in pieces must give the same events, no message may pass the
// limit, and a frame made by the encoder must parse back to its payload.
#include <cstdint>
#include <string>
#include <vector>

#include "link/wsclient/Frame.h"

namespace {

using namespace quorvin::wsclient;

struct Log : FrameSink {
    explicit Log(std::size_t m) : max(m) {}
    std::size_t max;
    std::vector<std::string> events;
    void OnMessage(std::vector<std::uint8_t>&& m) override {
        if (m.size() > max) __builtin_trap();
        events.push_back("m" + std::string(m.begin(), m.end()));
    }
    void OnPing(const std::vector<std::uint8_t>& p) override {
        if (p.size() > 125) __builtin_trap();
        events.push_back("p" + std::string(p.begin(), p.end()));
    }
    void OnClose() override { events.push_back("c"); }
    void OnError(FrameError e) override { events.push_back("e" + std::to_string(static_cast<int>(e))); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t max = 1 + data[0] * 8u;
    const std::size_t step = 1 + data[0] % 7;
    const std::uint8_t* bytes = data + 1;
    const std::size_t n = size - 1;

    FrameParser whole(max), pieces(max);
    Log a(max), b(max);
    whole.Feed(bytes, n, a);
    for (std::size_t at = 0; at < n; at += step) pieces.Feed(bytes + at, n - at < step ? n - at : step, b);
    if (a.events != b.events || whole.Held() != pieces.Held() || whole.Broken() != pieces.Broken()) __builtin_trap();
    if (whole.Held() > max + 14 + 125) __builtin_trap();

    std::vector<std::uint8_t> frame;
    AppendFrame(frame, kBinary, bytes, n, n >= 4 ? bytes : nullptr);
    FrameParser back(n);
    Log c(n);
    back.Feed(frame.data(), frame.size(), c);
    if (c.events.size() != 1 || c.events[0] != "m" + std::string(bytes, bytes + n)) __builtin_trap();
    return 0;
}
