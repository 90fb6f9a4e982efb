// CTaskTurns: a line in which print tasks wait for a turn at their heavy
// part (download, decode, submit), so that a burst of tasks cannot take
// every connection, core and megabyte at once. At most N hold a turn; the
// others are let in one by one in the order they took their tickets.
// Nobody is turned away.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

namespace quorvin {

class CTaskTurns {
public:
    explicit CTaskTurns(int turns);
    CTaskTurns(const CTaskTurns&) = delete;
    CTaskTurns& operator=(const CTaskTurns&) = delete;

    // A place in the line. A default one stands in no line: Wait returns at
    // once. Whatever happens to its holder, its destruction gives the turn
    // (or the place) back.
    class Ticket {
    public:
        Ticket() = default;
        Ticket(Ticket&& other) noexcept;
        Ticket& operator=(Ticket&& other) noexcept;
        ~Ticket() { Release(); }

        // Until it is this ticket's turn.
        void Wait();
        // Gives the turn back (or the place, before the turn came); a second
        // call does nothing.
        void Release();

    private:
        friend class CTaskTurns;
        Ticket(CTaskTurns* turns, std::uint64_t number) : m_turns(turns), m_nNumber(number) {}
        CTaskTurns* m_turns = nullptr;  // must outlive the ticket
        std::uint64_t m_nNumber = 0;
    };

    // The next place in the line.
    Ticket Take();
    // Tickets taken whose turn has not come yet.
    int Waiting() const;

private:
    void Admit();  // with m_mutex held

    const int m_nTurns;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_nBusy = 0;
    std::uint64_t m_nNext = 0;            // number of the next ticket
    std::uint64_t m_nAdmitted = 0;        // tickets below this number have had their turn
    std::set<std::uint64_t> m_abandoned;  // given back before their turn
};

}  // namespace quorvin
