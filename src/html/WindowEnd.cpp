#include "html/WindowEnd.h"

namespace quorvin {

void WindowEnd::Reset(int result) {
    m_closing = false;
    m_endRequested = false;
    m_result = result;
}

bool WindowEnd::Request(int result, bool callPending) {
    m_result = result;
    m_endRequested = true;
    return !callPending;
}

}  // namespace quorvin
