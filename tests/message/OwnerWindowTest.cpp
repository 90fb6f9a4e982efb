// The owner window both links notify: first owner sticks, and once let go
// no notice reaches a window that may be gone.
#include "message/OwnerWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "common/Event.h"
#include "message/PageWindow.h"

namespace quorvin::testing {
namespace {

// Records notices; can hold a notice until the test lets it go.
class RecordingWindow : public PageWindow {
public:
    void NotifyPage(const std::string& text) override {
        entered.Set();
        proceed.Wait(5000);
        texts.push_back(text);
    }
    void Post(std::function<void()>) override {}
    void PostClose() override { ++closes; }

    std::vector<std::string> texts;
    std::atomic<int> closes{0};
    Event entered, proceed{true};
};

TEST(OwnerWindowTest, FirstWindowSticksAndReleaseIsFinal) {
    RecordingWindow first, second;
    OwnerWindow owner;
    owner.SetIfNone(nullptr);
    owner.SetIfNone(&first);
    owner.SetIfNone(&second);
    owner.Notify("a");
    owner.PostClose();
    owner.Release();
    owner.SetIfNone(&second);
    owner.Notify("b");
    owner.PostClose();
    EXPECT_EQ(first.texts, std::vector<std::string>{"a"});
    EXPECT_EQ(first.closes.load(), 1);
    EXPECT_TRUE(second.texts.empty());
    EXPECT_EQ(second.closes.load(), 0);
    EXPECT_EQ(owner.Get(), nullptr);
}

TEST(OwnerWindowTest, ReleaseWaitsForANoticeInProgress) {
    RecordingWindow window;
    window.proceed.Reset();
    OwnerWindow owner(&window);
    std::thread notifier([&] { owner.Notify("late"); });
    ASSERT_TRUE(window.entered.Wait(5000));
    // Release returns only once the window is no longer in use, so the
    // notice is complete by then.
    auto released = std::async(std::launch::async, [&] {
        owner.Release();
        return window.texts.size();
    });
    std::thread([&] {
        Delay(50);
        window.proceed.Set();
    }).join();
    EXPECT_EQ(released.get(), 1u);
    notifier.join();
    EXPECT_EQ(window.texts, std::vector<std::string>{"late"});
}

}  // namespace
}  // namespace quorvin::testing
