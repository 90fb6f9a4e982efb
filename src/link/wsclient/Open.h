// The opening with every limit spelled out, for tests that cannot wait out
// the agent's own limits. The agent opens through WebSocket.h.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "link/wsclient/WebSocket.h"

namespace quorvin::wsclient {

struct OpenOptions {
    bool mask = true;
    int timeoutMs = kOpenTimeoutMs;
    int sendStallMs = kSendStallMs;
    int closeWaitMs = kCloseWaitMs;
    std::size_t maxQueuedBytes = kMaxQueuedBytes;
};

std::unique_ptr<WebSocket> Open(const std::string& url, const std::string& origin, const OpenOptions& options);

}  // namespace quorvin::wsclient
