#include "app/RelaunchPause.h"

#include <algorithm>

namespace quorvin {

std::chrono::milliseconds RelaunchPause::After(std::chrono::steady_clock::duration upFor) {
    if (upFor >= kSettled) m_next = kFirst;
    const std::chrono::milliseconds pause = m_next;
    m_next = std::min(m_next * 2, kLongest);
    return pause;
}

}  // namespace quorvin
