#include "commands/TaskTurns.h"

#include <algorithm>
#include <utility>

namespace quorvin {

CTaskTurns::CTaskTurns(int turns) : m_nTurns(std::max(1, turns)) {}

CTaskTurns::Ticket CTaskTurns::Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    Ticket ticket(this, m_nNext++);
    Admit();
    return ticket;
}

int CTaskTurns::Waiting() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_nNext - m_nAdmitted - m_abandoned.size());
}

void CTaskTurns::Admit() {
    bool admitted = false;
    while (m_nBusy < m_nTurns && m_nAdmitted < m_nNext) {
        // A place given back is skipped and takes no turn.
        if (m_abandoned.erase(m_nAdmitted) == 0) {
            ++m_nBusy;
            admitted = true;
        }
        ++m_nAdmitted;
    }
    if (admitted) m_cv.notify_all();
}

CTaskTurns::Ticket::Ticket(Ticket&& other) noexcept
    : m_turns(std::exchange(other.m_turns, nullptr)), m_nNumber(other.m_nNumber) {}

CTaskTurns::Ticket& CTaskTurns::Ticket::operator=(Ticket&& other) noexcept {
    if (this != &other) {
        Release();
        m_turns = std::exchange(other.m_turns, nullptr);
        m_nNumber = other.m_nNumber;
    }
    return *this;
}

void CTaskTurns::Ticket::Wait() {
    if (m_turns == nullptr) return;
    std::unique_lock<std::mutex> lock(m_turns->m_mutex);
    m_turns->m_cv.wait(lock, [this] { return m_nNumber < m_turns->m_nAdmitted; });
}

void CTaskTurns::Ticket::Release() {
    CTaskTurns* turns = std::exchange(m_turns, nullptr);
    if (turns == nullptr) return;
    std::lock_guard<std::mutex> lock(turns->m_mutex);
    if (m_nNumber < turns->m_nAdmitted) {
        --turns->m_nBusy;
    } else {
        turns->m_abandoned.insert(m_nNumber);
    }
    turns->Admit();
}

}  // namespace quorvin
