// Bounded waits: the milliseconds left until a deadline on the steady
// clock, in the form the waiting calls take.
#pragma once

#include <chrono>

namespace quorvin {

// Milliseconds left until deadline, 0 once it has passed.
int RemainingMs(std::chrono::steady_clock::time_point deadline);

}  // namespace quorvin
