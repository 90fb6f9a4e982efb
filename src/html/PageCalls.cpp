#include "html/PageCalls.h"

#include <utility>

#include "common/Json.h"

namespace quorvin {

void PageCalls::Call(std::unique_ptr<Request> request, CallArgs args) {
    if (m_active) {
        request->Refuse("a call is already pending");
        return;
    }
    m_active = true;
    m_result.reset();
    Park(std::move(request));
    m_window.StartCommand(++m_callId, std::move(args));
    Pump();
}

void PageCalls::Resume(std::optional<std::uint64_t> seq, std::unique_ptr<Request> request) {
    if (seq && m_queue.Acknowledge(*seq)) m_inFlight = false;
    if (!m_active || m_parked) {
        request->Refuse("no call is pending");
        return;
    }
    Park(std::move(request));
    Pump();
}

void PageCalls::CommandDone(std::uint64_t id, std::string text, std::string error) {
    if (!m_active || id != m_callId) return;  // the call was forgotten meanwhile
    m_result = Result{std::move(text), std::move(error)};
    Pump();
}

void PageCalls::Delivered(std::uint64_t seq) {
    if (m_queue.Acknowledge(seq)) m_inFlight = false;
    Pump();
}

void PageCalls::Answer(const std::string& json) {
    std::unique_ptr<Request> request = std::move(m_parked);
    request->Answer(json);
}

void PageCalls::FinishCall() {
    const std::string json = m_result->error.empty() ? "{\"k\":\"r\",\"x\":\"" + JsonEscape(m_result->text) + "\"}"
                                                     : "{\"k\":\"e\",\"x\":\"" + JsonEscape(m_result->error) + "\"}";
    m_result.reset();
    m_active = false;
    Answer(json);
    if (m_window.CallEnded()) return;
    Pump();
}

void PageCalls::Pump() {
    const std::optional<NoticeQueue::Notice> head = m_queue.Head();
    if (m_parked) {
        // A finished call is answered first, so a busy link cannot hold the
        // page inside its call; the notices then go the ordinary route.
        if (m_result) {
            FinishCall();
        } else if (head) {
            // A page blocked in a call runs no script: the notice rides on
            // the pending call's answer, and the page asks again.
            Answer("{\"k\":\"n\",\"s\":" + std::to_string(head->seq) + ",\"x\":\"" + JsonEscape(head->text) + "\"}");
        }
        return;
    }
    if (m_active || m_inFlight || !head) return;
    m_inFlight = true;
    m_window.Deliver(*head);
}

void PageCalls::Reset(const std::string& why) {
    if (m_parked) std::exchange(m_parked, nullptr)->Refuse(why);
    m_active = false;
    m_result.reset();
    m_inFlight = false;
}

}  // namespace quorvin
