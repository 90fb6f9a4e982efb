// RelaunchPause: how long to wait before starting a link again that ended
// or could not be started. The pause starts at half a second and doubles
// with every attempt that fails or ends soon, up to 30 seconds; a link that
// stayed up for a minute earns the short pause again, so a server that
// restarts now and then is back within a second, while one that is down for
// long is not dialled twice a second all day.
#pragma once

#include <chrono>

namespace quorvin {

class RelaunchPause {
public:
    static constexpr std::chrono::milliseconds kFirst{500};
    static constexpr std::chrono::milliseconds kLongest{30000};
    static constexpr std::chrono::seconds kSettled{60};

    // The pause before the next start, after a link that was up for upFor
    // (zero when the start failed) has ended.
    std::chrono::milliseconds After(std::chrono::steady_clock::duration upFor);

private:
    std::chrono::milliseconds m_next = kFirst;
};

}  // namespace quorvin
