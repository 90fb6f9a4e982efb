// The TCP link's framer over arbitrary bytes. The first byte picks a small
// message limit (so drops are reached) and a piece size. Fed whole and in
// pieces, the framer must give exactly what a plain split at 0xFE gives:
// each part up to the limit as a message cut at its first zero byte, each
// longer part dropped once, the unfinished tail pending.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "link/MessageFramer.h"

namespace {

using quorvin::MessageFramer;

struct Result {
    std::vector<std::string> messages;
    int dropped = 0;
    std::size_t pending = 0;
    bool operator==(const Result& o) const {
        return messages == o.messages && dropped == o.dropped && pending == o.pending;
    }
};

Result Expected(const char* bytes, std::size_t n, std::size_t max) {
    Result r;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= n; ++i) {
        if (i < n && static_cast<unsigned char>(bytes[i]) != MessageFramer::kDelimiter) continue;
        const std::string part(bytes + start, i - start);
        if (part.size() > max) {
            ++r.dropped;
        } else if (i < n) {
            r.messages.push_back(part.substr(0, part.find('\0')));
        } else {
            r.pending = part.size();
        }
        start = i + 1;
    }
    return r;
}

// Fed at once (piece 0) or in pieces of 1 to 3 * piece bytes, varying.
Result Framed(const char* bytes, std::size_t n, std::size_t max, std::size_t piece) {
    MessageFramer framer(max);
    Result r;
    for (std::size_t at = 0, k = 0; at < n; ++k) {
        const std::size_t len = piece == 0 ? n : std::min(n - at, 1 + (k * 7 + piece) % (3 * piece));
        framer.Feed(
            bytes + at, len, [&](const std::string& m) { r.messages.push_back(m); }, [&] { ++r.dropped; });
        at += len;
    }
    r.pending = framer.PendingSize();
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t max = 1 + data[0] % 48;
    const std::size_t piece = 1 + data[0] / 48;
    const char* bytes = reinterpret_cast<const char*>(data + 1);
    const std::size_t n = size - 1;

    const Result expected = Expected(bytes, n, max);
    if (!(Framed(bytes, n, max, 0) == expected)) __builtin_trap();
    if (!(Framed(bytes, n, max, piece) == expected)) __builtin_trap();
    return 0;
}
