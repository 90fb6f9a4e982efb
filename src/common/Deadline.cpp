#include "common/Deadline.h"

#include <climits>

namespace quorvin {

int RemainingMs(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) return 0;
    return left < INT_MAX ? static_cast<int>(left) : INT_MAX;
}

}  // namespace quorvin
