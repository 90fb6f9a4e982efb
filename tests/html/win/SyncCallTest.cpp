// The page's synchronous call on a real window thread under wine: real
// PageCalls, NoticeQueue, task window and message loops, with the page
// itself played by the test (wine has no browser engine). The notices a
// command's worker waits for must reach the page inside the call.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "html/NoticeQueue.h"
#include "html/PageCalls.h"
#include "html/win/MessagePump.h"
#include "html/win/SyncCall.h"
#include "html/win/TaskWindow.h"

namespace quorvin::win {
namespace {

using Command = std::function<void(std::uint64_t id, const CallArgs& args)>;

class SyncCallTest : public ::testing::Test, private PageCalls::Window {
protected:
    SyncCallTest() : m_calls(m_queue, *this) {
        m_queue.SetWake([this] {
            m_tasks.Post([this] {
                m_queue.WakeTaken();
                m_calls.Pump();
            });
        });
        m_queue.Open();
        m_hooks.post = [this](std::function<void()> fn) { return m_tasks.Post(std::move(fn)); };
        m_hooks.handToPage = [this](std::uint64_t seq, const std::string& text) {
            // As the page does: a notice that went both ways counts once.
            if (seq <= m_lastSeq) return;
            m_lastSeq = seq;
            m_page.push_back(text);
            if (m_onNotice) m_onNotice(seq, text);
        };
        // Nothing may wait for ever: a stuck test lets its workers go and
        // fails instead of hanging.
        m_watchdog = std::thread([this] {
            std::unique_lock lock(m_mutex);
            if (!m_cv.wait_for(lock, std::chrono::seconds(20), [this] { return m_finished; })) {
                m_timedOut = true;
                m_queue.Close();
            }
        });
    }

    ~SyncCallTest() override {
        {
            std::lock_guard lock(m_mutex);
            m_finished = true;
        }
        m_cv.notify_all();
        m_watchdog.join();
    }

    CallAnswer Call(const std::string& b, const std::string& c = {}) {
        return RunSyncCall(m_calls, CallArgs{"", b, c}, m_hooks);
    }

    // PageCalls::Window: commands and ordinary deliveries run at the
    // thread's next message, as the host runs them.
    void StartCommand(std::uint64_t id, CallArgs args) override {
        m_tasks.Post([this, id, args] { m_command(id, args); });
    }
    void Deliver(const NoticeQueue::Notice& notice) override {
        m_tasks.Post([this, notice] {
            m_page.push_back("ordinary:" + notice.text);
            m_calls.Delivered(notice.seq);
        });
    }
    bool CallEnded() override { return false; }

    NoticeQueue m_queue;
    TaskWindow m_tasks;
    PageCalls m_calls;
    SyncCallHooks m_hooks;
    Command m_command;
    std::vector<std::string> m_page;  // what reached OnDlgNotify, in order
    std::uint64_t m_lastSeq = 0;
    std::function<void(std::uint64_t, const std::string&)> m_onNotice;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_finished = false;
    bool m_timedOut = false;
    std::thread m_watchdog;
};

TEST_F(SyncCallTest, TheCommandsAnswerComesBackWhole) {
    m_command = [this](std::uint64_t id, const CallArgs& args) {
        m_calls.CommandDone(id, "[" + args.b + "|" + args.c + "]", "");
    };
    const std::string tricky = "\"q\" \\ \n \xE4\xB8\xAD {\"k\":\"n\"}";
    const CallAnswer answer = Call("Echo", tricky);
    EXPECT_EQ(answer.text, "[Echo|" + tricky + "]");
    EXPECT_EQ(answer.error, "");
}

TEST_F(SyncCallTest, AnErrorComesBackAsAnError) {
    m_command = [this](std::uint64_t id, const CallArgs&) { m_calls.CommandDone(id, "", "GetFileLength: not a file"); };
    const CallAnswer answer = Call("GetFileLength");
    EXPECT_EQ(answer.error, "GetFileLength: not a file");
    EXPECT_EQ(answer.text, "");
}

TEST_F(SyncCallTest, NoticesAWorkerWaitsForReachThePageInsideTheCall) {
    // As a link's Start does: the command waits (keeping the window's
    // messages moving) for a worker that waits until the page has each of
    // its notices.
    int workerDone = 0;
    m_command = [this, &workerDone](std::uint64_t id, const CallArgs&) {
        RunPumping([this, &workerDone] {
            for (int i = 1; i <= 3; ++i) {
                const std::uint64_t seq = m_queue.Push("n" + std::to_string(i));
                m_queue.WaitHandedOver(seq);
            }
            workerDone = 3;
        });
        m_calls.CommandDone(id, "started", "");
    };
    const CallAnswer answer = Call("StartWsChat");
    EXPECT_FALSE(m_timedOut);
    EXPECT_EQ(workerDone, 3);
    EXPECT_EQ(answer.text, "started");
    EXPECT_EQ(m_page, (std::vector<std::string>{"n1", "n2", "n3"}));
}

TEST_F(SyncCallTest, OnDlgNotifyMayCallAgainInsideTheCall) {
    m_command = [this](std::uint64_t id, const CallArgs& args) {
        if (args.b == "Outer") {
            RunPumping([this] { m_queue.WaitHandedOver(m_queue.Push("tick")); });
        }
        m_calls.CommandDone(id, args.b + " done", "");
    };
    std::string inner;
    m_onNotice = [this, &inner](std::uint64_t, const std::string&) { inner = Call("Inner").text; };
    const CallAnswer answer = Call("Outer");
    EXPECT_FALSE(m_timedOut);
    EXPECT_EQ(inner, "Inner done");
    EXPECT_EQ(answer.text, "Outer done");
    EXPECT_EQ(m_page, (std::vector<std::string>{"tick"}));
}

TEST_F(SyncCallTest, NoticesAfterTheCallTakeTheOrdinaryRoute) {
    m_command = [this](std::uint64_t id, const CallArgs&) { m_calls.CommandDone(id, "ok", ""); };
    ASSERT_EQ(Call("GetGUID").text, "ok");
    std::thread worker([this] { m_queue.WaitHandedOver(m_queue.Push("later")); });
    PumpUntil([this] { return !m_page.empty() || m_timedOut; });
    worker.join();
    EXPECT_EQ(m_page, (std::vector<std::string>{"ordinary:later"}));
}

TEST_F(SyncCallTest, AWindowThatTakesNoMoreWorkEndsTheCallWithAnError) {
    m_hooks.post = [](std::function<void()>) { return false; };
    bool commandRan = false;
    m_command = [this, &commandRan](std::uint64_t, const CallArgs&) {
        commandRan = true;
        m_queue.Push("lost");  // the call is answered with a notice it cannot pass on
    };
    const CallAnswer answer = Call("Anything");
    EXPECT_TRUE(commandRan);
    EXPECT_EQ(answer.error, "the window has closed");
    EXPECT_TRUE(m_page.empty());
}

}  // namespace
}  // namespace quorvin::win
