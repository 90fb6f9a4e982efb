// Manual-reset events and timed waits shared by every worker thread.
#pragma once

#include <condition_variable>
#include <initializer_list>
#include <mutex>
#include <vector>

namespace quorvin {

// A manual-reset event: once Set it stays signalled until Reset, and every
// waiter sees it.
class Event {
public:
    explicit Event(bool initiallySet = false) : m_set(initiallySet) {}
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();
    bool IsSet() const;
    // Waits until signalled or timeoutMs passed (negative: no limit).
    // Returns true when the event is signalled.
    bool Wait(int timeoutMs = -1);

private:
    friend int WaitAny(std::initializer_list<Event*> events, int timeoutMs);
    struct Waiter;
    void Attach(Waiter* waiter);
    void Detach(Waiter* waiter);

    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_set;
    std::vector<Waiter*> m_waiters;
};

// Waits until one of the events is signalled and returns the index of the
// first signalled one in list order (so a stop event listed first wins over
// a go event signalled at the same time). Returns -1 when timeoutMs passed.
int WaitAny(std::initializer_list<Event*> events, int timeoutMs = -1);

// Blocks the calling thread for ms milliseconds (nothing for ms <= 0).
void Delay(int ms);

}  // namespace quorvin
