// The window's side of PageCalls without a window: requests record their
// answer, commands and ordinary-route deliveries are recorded and finished
// by the test, so every ordering of the page, the command and the workers
// can be played deterministically.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "html/PageCalls.h"

namespace quorvin::testing {

struct FakeRequest : PageCalls::Request {
    explicit FakeRequest(std::vector<std::string>& log) : answers(log) {}
    void Answer(const std::string& json) override { answers.push_back(json); }
    void Refuse(const std::string& why) override { answers.push_back("refused: " + why); }
    std::vector<std::string>& answers;
};

class FakeCallWindow : public PageCalls::Window {
public:
    void StartCommand(std::uint64_t id, CallArgs args) override { commands.push_back({id, args.b}); }
    void Deliver(const NoticeQueue::Notice& notice) override { delivered.push_back(notice.seq); }
    bool CallEnded() override { return ending; }

    struct Command {
        std::uint64_t id;
        std::string name;
    };
    std::vector<Command> commands;
    std::vector<std::uint64_t> delivered;  // by the ordinary route
    bool ending = false;
};

// One page: its queue, its calls and every answer its requests got.
struct FakePage {
    FakePage() { queue.Open(); }
    std::unique_ptr<PageCalls::Request> Request() { return std::make_unique<FakeRequest>(answers); }
    void Call(const std::string& command) { calls.Call(Request(), {"", command, ""}); }
    void Resume(std::uint64_t seq) { calls.Resume(seq, Request()); }
    std::string LastAnswer() const { return answers.empty() ? "" : answers.back(); }

    NoticeQueue queue;
    FakeCallWindow window;
    PageCalls calls{queue, window};
    std::vector<std::string> answers;
};

}  // namespace quorvin::testing
