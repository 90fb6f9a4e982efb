// NoticeQueue: the notifications on their way to one page, in the order
// they were made, each with a sequence number. Workers queue a text and
// wait until the page has had it; the window thread hands the head to the
// page and acknowledges it once the page has it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace quorvin {

class NoticeQueue {
public:
    struct Notice {
        std::uint64_t seq = 0;
        std::string text;
    };

    // wake tells the window thread to look at the queue (it only schedules:
    // it runs under the queue's lock). It is called once per look: again only
    // after WakeTaken.
    explicit NoticeQueue(std::function<void()> wake = {}) : m_wake(std::move(wake)) {}
    NoticeQueue(const NoticeQueue&) = delete;
    NoticeQueue& operator=(const NoticeQueue&) = delete;

    void SetWake(std::function<void()> wake);
    // The page takes notices from now on.
    void Open();
    // The page is gone: queued notices are dropped, waiting workers return
    // and later texts are refused.
    void Close();

    // Queues text; its sequence number, or 0 when the queue is closed.
    std::uint64_t Push(std::string text);
    // Returns once notice seq has reached the page or the queue has closed.
    void WaitHandedOver(std::uint64_t seq);

    // --- window thread ---
    // The look that wake asked for is being taken.
    void WakeTaken();
    std::optional<Notice> Head() const;
    // The page has had notice seq: true when it was the head (now gone).
    bool Acknowledge(std::uint64_t seq);
    // The page that was to have the queued notices is gone (its renderer
    // died): they are dropped and their workers return; later texts wait
    // for the page that replaces it.
    void DropQueued();

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<Notice> m_queue;
    std::uint64_t m_nextSeq = 1;
    std::uint64_t m_handedOver = 0;  // every notice up to this one has reached the page
    bool m_open = false;
    bool m_wakePending = false;
    std::function<void()> m_wake;
};

}  // namespace quorvin
