// The Windows page host as far as wine can take it (it has no browser
// engine, so no page ever loads): the host links and runs, the agent's exit
// ends a running window from another thread, and workers waiting for a page
// that never had their text are let go when the window ends.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TempDir.h"
#include "html/HtmlBaseDlg.h"
#include "html/win/WinPageHost.h"

namespace quorvin::win {
namespace {

class WinPageHostTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing::WriteBytes(dir.path() + "/main.htm", "<html><body>main</body></html>");
        auto context = std::make_shared<DlgContext>();
        context->tool = std::make_shared<CCommonTool>(dir.path());
        context->hostFactory = MakePlatformPageHost;  // the real host
        context->links = [](PageWindow&) { return BridgeLinks{}; };
        m_context = context;
    }

    testing::TempDir dir;
    std::shared_ptr<const DlgContext> m_context;
};

TEST_F(WinPageHostTest, TheAgentsExitEndsARunningWindowFromAnotherThread) {
    CHtmlBaseDlg dlg(m_context);
    dlg.SetUrl(dir.path() + "/main.htm");
    std::thread worker([&dlg] { dlg.PostClose(); });
    EXPECT_EQ(dlg.RunModal(), CHtmlBaseDlg::IDCANCEL);
    worker.join();
    EXPECT_TRUE(WinPageHost::RunningWindows().empty());
    EXPECT_EQ(static_cast<WinPageHost&>(dlg.Host()).Window(), nullptr);
}

TEST_F(WinPageHostTest, WorkersWaitingForThePageAreLetGoWhenTheWindowEnds) {
    CHtmlBaseDlg dlg(m_context);
    dlg.SetUrl(dir.path() + "/main.htm");
    std::atomic<int> returned{0};
    std::vector<std::thread> workers;
    // The page never loads here, so nothing hands these texts over: only
    // the window's end may release them.
    for (int i = 0; i < 3; ++i) {
        workers.emplace_back([&dlg, &returned, i] {
            if (i == 2) dlg.PostClose();
            dlg.NotifyPage("{\"n\":" + std::to_string(i) + "}");
            ++returned;
        });
    }
    EXPECT_EQ(dlg.RunModal(), CHtmlBaseDlg::IDCANCEL);
    for (std::thread& w : workers) w.join();
    EXPECT_EQ(returned.load(), 3);
}

// Dispatches what is already in this thread's queue (bounded).
void DispatchQueued() {
    MSG msg;
    for (int i = 0; i < 1000 && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) DispatchMessageW(&msg);
}

TEST_F(WinPageHostTest, WorkPostedToTheWindowRunsOnItsThreadOnlyWhileTheHostLives) {
    const DWORD windowThread = GetCurrentThreadId();
    DWORD ranOn = 0;
    auto dlg = std::make_unique<CHtmlBaseDlg>(m_context);
    std::thread worker([&] { dlg->Post([&] { ranOn = GetCurrentThreadId(); }); });
    worker.join();
    DispatchQueued();
    EXPECT_EQ(ranOn, windowThread);

    bool late = false;
    std::thread lateWorker([&] { dlg->Post([&] { late = true; }); });
    lateWorker.join();
    dlg.reset();
    DispatchQueued();
    EXPECT_FALSE(late);
}

TEST_F(WinPageHostTest, TheWorkAreaIsTheScreensUsablePart) {
    CHtmlBaseDlg dlg(m_context);
    RECT expected{};
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETWORKAREA, 0, &expected, 0));
    const WorkArea area = dlg.Host().GetWorkArea();
    EXPECT_EQ(area.left, expected.left);
    EXPECT_EQ(area.top, expected.top);
    EXPECT_EQ(area.right, expected.right);
    EXPECT_EQ(area.bottom, expected.bottom);
}

}  // namespace
}  // namespace quorvin::win
