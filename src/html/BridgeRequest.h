// BridgeRequest: what a page's script sends to the agent's URI scheme, read
// from the request body: {"t": token, "op": "call", "a", "b", "c"},
// {"t", "op": "resume", "s": seq} or {"t", "op": "cancel"}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quorvin {

struct CallArgs {
    std::string a, b, c;  // UTF-8
};

struct BridgeRequest {
    enum class Op { Call, Resume, Cancel, Unknown };
    Op op = Op::Unknown;
    CallArgs args;                     // Call
    std::optional<std::uint64_t> seq;  // Resume: the notice the page has had
};

// Nothing when body is not a JSON object carrying token as "t" (a document
// the window did not load). A sequence number that is not a whole number
// from 1 to 2^53 is left out.
std::optional<BridgeRequest> ParseBridgeRequest(std::string_view body, const std::string& token);

}  // namespace quorvin
