// The window thread's queue on real windows under wine: functions posted
// from any thread run on the window's thread in order, nested loops keep
// it moving, and a wait on a worker keeps the thread's messages flowing.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "html/win/MessagePump.h"
#include "html/win/TaskWindow.h"

namespace quorvin::win {
namespace {

constexpr UINT kWatchdogMs = 20000;

// Pumps until done() holds or the watchdog fires; false on the watchdog, so
// a lost message fails the test instead of hanging it.
std::atomic<int> g_watchdogs{0};
void CALLBACK OnWatchdog(HWND, UINT, UINT_PTR, DWORD) { ++g_watchdogs; }

bool PumpFor(const std::function<bool()>& done) {
    const int before = g_watchdogs.load();
    const UINT_PTR timer = SetTimer(nullptr, 0, kWatchdogMs, OnWatchdog);
    PumpUntil([&] { return done() || g_watchdogs.load() != before; });
    KillTimer(nullptr, timer);
    return done();
}

class TaskWindowTest : public ::testing::Test {
protected:
    DWORD m_windowThread = GetCurrentThreadId();
    std::unique_ptr<TaskWindow> m_tasks = std::make_unique<TaskWindow>();
};

TEST_F(TaskWindowTest, PostsFromManyThreadsAllRunOnTheWindowThreadInOrder) {
    ASSERT_TRUE(m_tasks->Valid());
    constexpr int kThreads = 4;
    constexpr int kEach = 100;
    std::map<int, std::vector<int>> seen;  // window thread only
    int ran = 0;
    bool wrongThread = false;
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                ASSERT_TRUE(m_tasks->Post([&, t, i] {
                    if (GetCurrentThreadId() != m_windowThread) wrongThread = true;
                    seen[t].push_back(i);
                    ++ran;
                }));
            }
        });
    }
    const bool finished = PumpFor([&] { return ran == kThreads * kEach; });
    for (std::thread& w : workers) w.join();
    ASSERT_TRUE(finished) << ran << " of " << kThreads * kEach << " ran";
    EXPECT_FALSE(wrongThread);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(kEach));
        for (int i = 0; i < kEach; ++i) EXPECT_EQ(seen[t][i], i) << "thread " << t;
    }
}

TEST_F(TaskWindowTest, AFunctionRunningANestedLoopDoesNotHoldBackTheNextOnes) {
    // As a command that opens a modal child window does: the functions
    // posted after it must run inside its loop.
    bool innerRan = false;
    bool outerDone = false;
    bool nestedFinished = false;
    m_tasks->Post([&] {
        nestedFinished = PumpFor([&] { return innerRan; });
        outerDone = true;
    });
    m_tasks->Post([&] { innerRan = true; });
    ASSERT_TRUE(PumpFor([&] { return outerDone; }));
    EXPECT_TRUE(nestedFinished);
}

TEST_F(TaskWindowTest, AFunctionPostedByAFunctionRunsLater) {
    std::vector<int> order;
    m_tasks->Post([&] {
        m_tasks->Post([&] { order.push_back(2); });
        order.push_back(1);
    });
    ASSERT_TRUE(PumpFor([&] { return order.size() == 2; }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

TEST_F(TaskWindowTest, AClosedWindowDropsWhatWaitsAndRefusesMore) {
    bool ran = false;
    ASSERT_TRUE(m_tasks->Post([&] { ran = true; }));
    m_tasks->Close();
    EXPECT_FALSE(m_tasks->Post([&] { ran = true; }));
    // Whatever is still in the thread's queue for it is dispatched to nobody.
    bool marker = false;
    TaskWindow other;
    other.Post([&] { marker = true; });
    ASSERT_TRUE(PumpFor([&] { return marker; }));
    EXPECT_FALSE(ran);
}

TEST_F(TaskWindowTest, AFunctionMayDestroyItsOwnWindow) {
    bool laterRan = false;
    bool destroyed = false;
    m_tasks->Post([&] {
        m_tasks.reset();
        destroyed = true;
    });
    m_tasks->Post([&] { laterRan = true; });
    ASSERT_TRUE(PumpFor([&] { return destroyed; }));
    TaskWindow other;
    bool marker = false;
    other.Post([&] { marker = true; });
    ASSERT_TRUE(PumpFor([&] { return marker; }));
    EXPECT_FALSE(laterRan);
}

TEST_F(TaskWindowTest, RunPumpingServesTheWindowThreadWhileTheWorkerWaitsForIt) {
    // The worker needs the window thread (as a link's Stop waits for a
    // thread that waits in NotifyPage): without the pump this deadlocks,
    // and the bounded wait reports it.
    std::mutex mutex;
    std::condition_variable cv;
    bool served = false;
    bool workerSawIt = false;
    DWORD servedOn = 0;
    DWORD workerOn = 0;
    RunPumping([&] {
        workerOn = GetCurrentThreadId();
        m_tasks->Post([&] {
            std::lock_guard lock(mutex);
            servedOn = GetCurrentThreadId();
            served = true;
            cv.notify_all();
        });
        std::unique_lock lock(mutex);
        workerSawIt = cv.wait_for(lock, std::chrono::seconds(20), [&] { return served; });
    });
    EXPECT_TRUE(workerSawIt);
    EXPECT_EQ(servedOn, m_windowThread);
    EXPECT_NE(workerOn, m_windowThread);
}

TEST_F(TaskWindowTest, RunPumpingKeepsAQuitForTheOuterLoop) {
    RunPumping([&] { PostThreadMessageW(m_windowThread, WM_QUIT, 7, 0); });
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 7u);
}

TEST_F(TaskWindowTest, PumpUntilStopsAtAQuitAndKeepsIt) {
    PostQuitMessage(3);
    EXPECT_FALSE(PumpUntil([] { return false; }));
    MSG msg;
    ASSERT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 3u);
}

}  // namespace
}  // namespace quorvin::win
