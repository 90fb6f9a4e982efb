// SyncCall: the page's window.external call as the window thread runs it.
// The page's script is blocked in the call until it returns, so the call is
// handed to PageCalls and the thread's messages are dispatched until its
// answer comes. A notice that comes meanwhile is handed to the page at the
// thread's next message, also inside a loop the running command keeps (a
// command may wait for a worker that waits for its notice), and the call
// then waits again.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "html/PageCalls.h"
#include "html/win/ExternalObject.h"
#include "html/win/MessagePump.h"

namespace quorvin::win {

struct SyncCallHooks {
    // Runs fn on this thread at its next message; false when it cannot.
    std::function<bool(std::function<void()> fn)> post;
    // Hands notice seq (UTF-8) to the page's OnDlgNotify.
    std::function<void(std::uint64_t seq, const std::string& text)> handToPage;
};

// The call's result or error; an error too when PageCalls refused it or
// the thread's loop was told to quit.
CallAnswer RunSyncCall(PageCalls& calls, CallArgs args, const SyncCallHooks& hooks, const MessageFilter& filter = {});

}  // namespace quorvin::win
