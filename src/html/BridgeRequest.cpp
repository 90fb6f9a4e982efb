#include "html/BridgeRequest.h"

#include <cjson/cJSON.h>

#include "common/Json.h"

namespace quorvin {

std::optional<BridgeRequest> ParseBridgeRequest(std::string_view body, const std::string& token) {
    JsonPtr msg = ParseJson(body);
    // The token is known only to the top documents the window loaded.
    if (!msg || !cJSON_IsObject(msg.get()) || token.empty() || GetJsonString(msg.get(), "t") != token)
        return std::nullopt;
    BridgeRequest request;
    const std::string op = GetJsonString(msg.get(), "op");
    if (op == "call") {
        request.op = BridgeRequest::Op::Call;
        request.args = {GetJsonString(msg.get(), "a"), GetJsonString(msg.get(), "b"), GetJsonString(msg.get(), "c")};
    } else if (op == "resume") {
        request.op = BridgeRequest::Op::Resume;
        // Sequence numbers are whole and far below 2^53; anything else
        // acknowledges nothing (and must not be cast: out of range, the
        // conversion is undefined).
        const cJSON* seq = GetJsonMember(msg.get(), "s");
        if (seq != nullptr && cJSON_IsNumber(seq) && seq->valuedouble >= 1 && seq->valuedouble <= 9007199254740992.0)
            request.seq = static_cast<std::uint64_t>(seq->valuedouble);
    } else if (op == "cancel") {
        request.op = BridgeRequest::Op::Cancel;
    }
    return request;
}

}  // namespace quorvin
