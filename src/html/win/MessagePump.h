// The window thread's message loops: a modal run until a condition holds,
// and a wait for work on another thread that keeps the messages moving.
#pragma once

#include <windows.h>

#include <functional>

namespace quorvin::win {

// Gets first look at each message; true when it has handled it (a key the
// browser took).
using MessageFilter = std::function<bool(MSG& msg)>;

// Dispatches this thread's messages until done() holds (checked after each
// one). False when WM_QUIT came first; it is posted again for the outer loop.
bool PumpUntil(const std::function<bool()>& done, const MessageFilter& filter = {});

// Runs fn on a thread of its own and dispatches this thread's messages
// until it has returned, so fn may wait for work posted to this thread.
void RunPumping(const std::function<void()>& fn);

}  // namespace quorvin::win
