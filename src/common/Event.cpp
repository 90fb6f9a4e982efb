#include "common/Event.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace quorvin {

struct Event::Waiter {
    std::mutex mutex;
    std::condition_variable cv;
    bool poked = false;
};

void Event::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
    m_cv.notify_all();
    for (Waiter* w : m_waiters) {
        std::lock_guard<std::mutex> wl(w->mutex);
        w->poked = true;
        w->cv.notify_all();
    }
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool Event::IsSet() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_set;
}

bool Event::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs < 0) {
        m_cv.wait(lock, [this] { return m_set; });
        return true;
    }
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; });
}

void Event::Attach(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiters.push_back(waiter);
}

void Event::Detach(Waiter* waiter) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waiters.erase(std::remove(m_waiters.begin(), m_waiters.end(), waiter), m_waiters.end());
}

int WaitAny(std::initializer_list<Event*> events, int timeoutMs) {
    Event::Waiter waiter;
    for (Event* e : events) e->Attach(&waiter);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    int result = -1;
    for (;;) {
        {
            // Clear the poke before looking, so a Set between the look and
            // the wait below is never lost.
            std::lock_guard<std::mutex> wl(waiter.mutex);
            waiter.poked = false;
        }
        int index = 0;
        for (Event* e : events) {
            if (e->IsSet()) {
                result = index;
                break;
            }
            ++index;
        }
        if (result >= 0) break;
        std::unique_lock<std::mutex> wl(waiter.mutex);
        if (timeoutMs < 0) {
            waiter.cv.wait(wl, [&] { return waiter.poked; });
        } else if (!waiter.cv.wait_until(wl, deadline, [&] { return waiter.poked; })) {
            break;
        }
    }
    for (Event* e : events) e->Detach(&waiter);
    return result;
}

void Delay(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace quorvin
