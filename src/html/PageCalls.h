// PageCalls: the page's synchronous calls and the notifications that reach
// it, on the window thread. The page's script is blocked in a request while
// its call runs; the answers it can get:
//   {"k":"r","x":result}      the call's result;
//   {"k":"e","x":error}       an exception to raise in the script;
//   {"k":"n","s":seq,"x":text} a notification that came while it waited: the
//                             page hands it to OnDlgNotify, then resumes
//                             with {"op":"resume","s":seq}.
// OnDlgNotify may call again while the page waits: such a call nests in
// the pending one (as calls did in the original re-entrant browser) and
// is answered before the page resumes the outer one. A page that is in no
// call gets notifications by the ordinary route (the window runs them in
// the page), one at a time. Sequence numbers keep a notice that went both
// ways from reaching OnDlgNotify twice.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "html/BridgeRequest.h"
#include "html/NoticeQueue.h"

namespace quorvin {

class PageCalls {
public:
    // A request the page's script is blocked in, until it is answered.
    class Request {
    public:
        virtual ~Request() = default;
        virtual void Answer(const std::string& json) = 0;
        virtual void Refuse(const std::string& why) = 0;
    };

    // What the calls need from the window.
    class Window {
    public:
        virtual ~Window() = default;
        // Runs the call's command later on the window thread, outside the
        // request's handler (a command may open a child window and wait),
        // then reports CommandDone(id, ...).
        virtual void StartCommand(std::uint64_t id, CallArgs args) = 0;
        // Hands notice to the page by the ordinary route; reports
        // Delivered(seq) once the page has run it (or cannot).
        virtual void Deliver(const NoticeQueue::Notice& notice) = 0;
        // The page's last pending call has been answered. True when the
        // window is ending: nothing more is handed over.
        virtual bool CallEnded() = 0;
    };

    PageCalls(NoticeQueue& queue, Window& window) : m_queue(queue), m_window(window) {}

    // The page calls (b names the command, c its parameter); refused while
    // the page waits in another request (no script of it can be running).
    void Call(std::unique_ptr<Request> request, CallArgs args);
    // The page has handed notice seq (if any) to OnDlgNotify and waits again.
    void Resume(std::optional<std::uint64_t> seq, std::unique_ptr<Request> request);
    // A call's command has finished; error non-empty raises it in the script.
    void CommandDone(std::uint64_t id, std::string text, std::string error);
    // The ordinary route has run notice seq in the page.
    void Delivered(std::uint64_t seq);
    // Moves whatever can move: a finished call is answered first, then the
    // queue's head goes to the page by whichever route it can take.
    void Pump();

    // A call is pending (the page waits for its answer).
    bool Active() const { return !m_calls.empty(); }
    // Forgets every call and delivery; a waiting request is refused with why.
    void Reset(const std::string& why);

private:
    struct Result {
        std::string text;
        std::string error;
    };
    struct Pending {
        std::uint64_t id;
        std::optional<Result> result;
    };
    void Park(std::unique_ptr<Request> request) { m_parked = std::move(request); }
    void Answer(const std::string& json);
    void FinishCall();

    NoticeQueue& m_queue;
    Window& m_window;
    std::vector<Pending> m_calls;       // the pending calls, innermost last
    std::unique_ptr<Request> m_parked;  // the request the page waits in, for the innermost call
    std::uint64_t m_callId = 0;
    bool m_inFlight = false;  // the queue's head is on its way through the ordinary route
};

}  // namespace quorvin
