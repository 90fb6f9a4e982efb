#include "html/NoticeQueue.h"

namespace quorvin {

void NoticeQueue::SetWake(std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wake = std::move(wake);
}

void NoticeQueue::Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open = true;
}

void NoticeQueue::Close() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open = false;
        m_queue.clear();
    }
    m_cv.notify_all();
}

std::uint64_t NoticeQueue::Push(std::string text) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_open) return 0;  // no page to hand it to
    const std::uint64_t seq = m_nextSeq++;
    m_queue.push_back({seq, std::move(text)});
    if (!m_wakePending && m_wake) {
        m_wakePending = true;
        m_wake();
    }
    return seq;
}

void NoticeQueue::WaitHandedOver(std::uint64_t seq) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait(lock, [&] { return m_handedOver >= seq || !m_open; });
}

void NoticeQueue::WakeTaken() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wakePending = false;
}

std::optional<NoticeQueue::Notice> NoticeQueue::Head() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_queue.empty()) return std::nullopt;
    return m_queue.front();
}

bool NoticeQueue::Acknowledge(std::uint64_t seq) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_queue.empty() || m_queue.front().seq != seq) return false;
        m_queue.pop_front();
        m_handedOver = seq;
    }
    m_cv.notify_all();
    return true;
}

void NoticeQueue::DropQueued() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_queue.empty()) m_handedOver = m_queue.back().seq;
        m_queue.clear();
    }
    m_cv.notify_all();
}

}  // namespace quorvin
