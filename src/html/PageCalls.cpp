#include "html/PageCalls.h"

#include <utility>

#include "common/Json.h"

namespace quorvin {

void PageCalls::Call(std::unique_ptr<Request> request, CallArgs args) {
    if (m_parked) {
        request->Refuse("a call is already pending");
        return;
    }
    // Without a parked request the page is running script: none at all,
    // or OnDlgNotify for a notice that came through its pending call.
    const std::uint64_t id = ++m_callId;
    m_calls.push_back({id, std::nullopt});
    Park(std::move(request));
    m_window.StartCommand(id, std::move(args));
    Pump();
}

void PageCalls::Resume(std::optional<std::uint64_t> seq, std::unique_ptr<Request> request) {
    if (seq && m_queue.Acknowledge(*seq)) m_inFlight = false;
    if (m_calls.empty() || m_parked) {
        request->Refuse("no call is pending");
        return;
    }
    Park(std::move(request));
    Pump();
}

void PageCalls::CommandDone(std::uint64_t id, std::string text, std::string error) {
    for (Pending& call : m_calls) {
        if (call.id != id) continue;
        call.result = Result{std::move(text), std::move(error)};
        Pump();
        return;
    }
    // The call was forgotten meanwhile: nobody waits for it.
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
    const Result result = std::move(*m_calls.back().result);
    m_calls.pop_back();
    Answer(result.error.empty() ? "{\"k\":\"r\",\"x\":\"" + JsonEscape(result.text) + "\"}"
                                : "{\"k\":\"e\",\"x\":\"" + JsonEscape(result.error) + "\"}");
    if (m_calls.empty() && m_window.CallEnded()) return;
    Pump();
}

void PageCalls::Pump() {
    const std::optional<NoticeQueue::Notice> head = m_queue.Head();
    if (m_parked) {
        // A finished call is answered first, so a busy link cannot hold the
        // page inside its call; the notices then go the ordinary route. An
        // outer call's result waits until the page resumes it.
        if (m_calls.back().result) {
            FinishCall();
        } else if (head) {
            // A page blocked in a call runs no script: the notice rides on
            // the pending call's answer, and the page asks again.
            Answer("{\"k\":\"n\",\"s\":" + std::to_string(head->seq) + ",\"x\":\"" + JsonEscape(head->text) + "\"}");
        }
        return;
    }
    if (!m_calls.empty() || m_inFlight || !head) return;
    m_inFlight = true;
    m_window.Deliver(*head);
}

void PageCalls::Reset(const std::string& why) {
    if (m_parked) std::exchange(m_parked, nullptr)->Refuse(why);
    m_calls.clear();
    m_inFlight = false;
}

}  // namespace quorvin
