// Winsock's start-up, shared by both links' sockets.
#pragma once

namespace quorvin {

// Starts Winsock once for the process, on first use; false when it could
// not be started (no socket call can then succeed).
bool WinsockReady();

}  // namespace quorvin
