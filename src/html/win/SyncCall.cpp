#include "html/win/SyncCall.h"

#include <cjson/cJSON.h>

#include <memory>

#include "common/Json.h"

namespace quorvin::win {
namespace {

struct CallWait {
    bool answered = false;
    bool refused = false;
    std::string text;  // the answer's JSON, or why it was refused
};

std::unique_ptr<PageCalls::Request> WaitFor(PageCalls& calls, std::shared_ptr<CallWait> wait,
                                            std::shared_ptr<const SyncCallHooks> hooks);

// The request the page's call waits in: a notice is passed on, only the
// call's own answer (or a refusal) ends the wait.
class WaitingRequest : public PageCalls::Request {
public:
    WaitingRequest(PageCalls& calls, std::shared_ptr<CallWait> wait, std::shared_ptr<const SyncCallHooks> hooks)
        : m_calls(calls), m_wait(std::move(wait)), m_hooks(std::move(hooks)) {}

    void Answer(const std::string& json) override {
        JsonPtr answer = ParseJson(json);
        if (GetJsonString(answer.get(), "k") != "n") {
            m_wait->answered = true;
            m_wait->text = json;
            return;
        }
        const cJSON* seqItem = GetJsonMember(answer.get(), "s");
        const std::uint64_t seq =
            seqItem != nullptr && cJSON_IsNumber(seqItem) ? static_cast<std::uint64_t>(seqItem->valuedouble) : 0;
        // Not from here: PageCalls is in the middle of answering.
        PageCalls& calls = m_calls;
        const bool posted =
            m_hooks->post([&calls, wait = m_wait, hooks = m_hooks, seq, text = GetJsonString(answer.get(), "x")] {
                hooks->handToPage(seq, text);
                calls.Resume(seq, WaitFor(calls, wait, hooks));
            });
        if (!posted) Refuse("the window has closed");
    }

    void Refuse(const std::string& why) override {
        m_wait->answered = true;
        m_wait->refused = true;
        m_wait->text = why;
    }

private:
    PageCalls& m_calls;
    std::shared_ptr<CallWait> m_wait;
    std::shared_ptr<const SyncCallHooks> m_hooks;
};

std::unique_ptr<PageCalls::Request> WaitFor(PageCalls& calls, std::shared_ptr<CallWait> wait,
                                            std::shared_ptr<const SyncCallHooks> hooks) {
    return std::make_unique<WaitingRequest>(calls, std::move(wait), std::move(hooks));
}

}  // namespace

CallAnswer RunSyncCall(PageCalls& calls, CallArgs args, const SyncCallHooks& hooks, const MessageFilter& filter) {
    auto wait = std::make_shared<CallWait>();
    calls.Call(WaitFor(calls, wait, std::make_shared<const SyncCallHooks>(hooks)), std::move(args));
    if (!PumpUntil([&wait] { return wait->answered; }, filter)) return {{}, "the program is ending"};
    if (wait->refused) return {{}, wait->text};
    JsonPtr answer = ParseJson(wait->text);
    const std::string text = GetJsonString(answer.get(), "x");
    if (GetJsonString(answer.get(), "k") == "r") return {text, {}};
    return {{}, text.empty() ? "the call failed" : text};
}

}  // namespace quorvin::win
