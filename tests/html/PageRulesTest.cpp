// The window's decisions without a screen: the address and caller
// allow-lists, the requests a page sends, the notification queue, the call
// protocol and the end rules.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "html/BridgeRequest.h"
#include "html/PageAddressPolicy.h"
#include "html/PageCallsFake.h"
#include "html/WindowEnd.h"

namespace quorvin {
namespace {

using testing::FakePage;

TEST(PageAddressPolicyTest, OnlyThePagesAndTheirRootMayBeShownAndCall) {
    PageAddressPolicy policy;
    policy.Allow("file:///opt/q/pages/");
    policy.Allow("http://10.0.0.5:8080/app/main.htm?stamp=1");
    struct Case {
        const char* uri;
        bool allowed;
    } cases[] = {
        {"file:///opt/q/pages/main.htm", true},     {"file:///opt/q/pages/sub/a.htm?x#y", true},
        {"file:///opt/q/pagesX/a.htm", false},      {"file:///etc/passwd", false},
        {"http://10.0.0.5:8080/app/main.htm", true}, {"http://10.0.0.5:8080/app/main.htm#top", true},
        {"http://10.0.0.5:8080/app/other.htm", false}, {"http://evil/app/main.htm", false},
        {"about:blank", true},                      {"about:srcdoc", true},
        {"about:config", false},                    {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(policy.AddressAllowed(c.uri), c.allowed) << c.uri;
    EXPECT_TRUE(policy.CallerAllowed("POST", "null"));  // local pages
    EXPECT_TRUE(policy.CallerAllowed("POST", "file://"));
    EXPECT_TRUE(policy.CallerAllowed("POST", "http://10.0.0.5:8080"));
    EXPECT_FALSE(policy.CallerAllowed("GET", "null"));
    EXPECT_FALSE(policy.CallerAllowed("POST", nullptr));
    EXPECT_FALSE(policy.CallerAllowed("POST", "http://10.0.0.5"));
    EXPECT_FALSE(policy.CallerAllowed(nullptr, "null"));
    policy.Clear();
    EXPECT_FALSE(policy.AddressAllowed("file:///opt/q/pages/main.htm"));
    EXPECT_EQ(OriginOf("https://h:1/a?b"), "https://h:1");
    EXPECT_EQ(OriginOf("no scheme"), "");
}

TEST(BridgeRequestTest, ReadsWhatThePageSendsAndRefusesTheRest) {
    const std::string t = "0123abcd";
    struct Case {
        std::string body;
        bool read;
        BridgeRequest::Op op;
        std::optional<std::uint64_t> seq;
    } cases[] = {
        {R"({"t":"0123abcd","op":"call","a":"1","b":"GetGUID","c":"x"})", true, BridgeRequest::Op::Call, {}},
        {R"({"t":"0123abcd","op":"resume","s":7})", true, BridgeRequest::Op::Resume, 7},
        {R"({"t":"0123abcd","op":"resume","s":1e16})", true, BridgeRequest::Op::Resume, {}},
        {R"({"t":"0123abcd","op":"resume","s":-1})", true, BridgeRequest::Op::Resume, {}},
        {R"({"t":"0123abcd","op":"resume","s":"7"})", true, BridgeRequest::Op::Resume, {}},
        {R"({"t":"0123abcd","op":"resume","s":1e400})", true, BridgeRequest::Op::Resume, {}},
        {R"({"t":"0123abcd","op":"cancel"})", true, BridgeRequest::Op::Cancel, {}},
        {R"({"t":"0123abcd","op":"other"})", true, BridgeRequest::Op::Unknown, {}},
        {R"({"t":"guess","op":"call"})", false, {}, {}},
        {R"({"op":"call"})", false, {}, {}},
        {R"(["0123abcd"])", false, {}, {}},
        {"not json", false, {}, {}},
        {"", false, {}, {}},
    };
    for (const Case& c : cases) {
        const auto r = ParseBridgeRequest(c.body, t);
        ASSERT_EQ(r.has_value(), c.read) << c.body;
        if (!r) continue;
        EXPECT_EQ(r->op, c.op) << c.body;
        EXPECT_EQ(r->seq, c.seq) << c.body;
    }
    EXPECT_EQ(ParseBridgeRequest(R"({"t":"0123abcd","op":"call","b":"GetGUID","c":"x"})", t)->args.b, "GetGUID");
    EXPECT_FALSE(ParseBridgeRequest(R"({"t":"","op":"call"})", ""));  // a window without a token takes nothing
}

TEST(NoticeQueueTest, WakesOncePerLookAndLetsWaitersGoOnAcknowledgeOrClose) {
    int wakes = 0;
    NoticeQueue queue([&] { ++wakes; });
    EXPECT_EQ(queue.Push("before open"), 0u);
    queue.Open();
    const std::uint64_t a = queue.Push("a");
    const std::uint64_t b = queue.Push("b");
    EXPECT_EQ(wakes, 1);
    queue.WakeTaken();
    queue.Push("c");
    EXPECT_EQ(wakes, 2);
    EXPECT_FALSE(queue.Acknowledge(b));  // only the head
    EXPECT_TRUE(queue.Acknowledge(a));
    EXPECT_EQ(queue.Head()->text, "b");
    std::atomic<bool> returned{false};
    std::thread waiter([&] {
        queue.WaitHandedOver(b + 1);
        returned = true;
    });
    EXPECT_TRUE(queue.Acknowledge(b));
    queue.DropQueued();  // c's page died: its worker goes all the same
    waiter.join();
    EXPECT_TRUE(returned);
    EXPECT_FALSE(queue.Head());
    const std::uint64_t d = queue.Push("d");  // for the reloaded page
    EXPECT_EQ(queue.Head()->seq, d);
    std::thread last([&] { queue.WaitHandedOver(d); });
    queue.Close();
    last.join();
    EXPECT_FALSE(queue.Head());
}

TEST(PageCallsTest, ResultsFirstNoticesRideOnThePendingCallThenTheOrdinaryRoute) {
    FakePage page;
    page.Call("LockString");
    ASSERT_EQ(page.window.commands.size(), 1u);
    const std::uint64_t n1 = page.queue.Push("one \"quoted\"");
    page.calls.Pump();  // the worker's wake
    EXPECT_EQ(page.LastAnswer(), R"({"k":"n","s":1,"x":"one \"quoted\""})");
    page.calls.Pump();  // nothing is parked: nothing more goes
    EXPECT_EQ(page.answers.size(), 1u);
    page.Resume(n1);
    page.queue.Push("two");
    page.calls.CommandDone(page.window.commands[0].id, "result", "");
    EXPECT_EQ(page.LastAnswer(), R"({"k":"r","x":"result"})");  // before the queued notice
    EXPECT_FALSE(page.calls.Active());
    EXPECT_EQ(page.window.delivered, std::vector<std::uint64_t>{2});  // then the ordinary route
    page.queue.Push("three");
    page.calls.Pump();
    EXPECT_EQ(page.window.delivered.size(), 1u);  // one at a time
    page.calls.Delivered(2);
    EXPECT_EQ(page.window.delivered, (std::vector<std::uint64_t>{2, 3}));
    page.calls.CommandDone(99, "late", "");  // a call that is not pending changes nothing
    EXPECT_EQ(page.answers.size(), 2u);
}

// OnDlgNotify may call the agent also when its notice came through a
// pending call (a link's Start that registers while the page waits for it):
// the inner call is served, and the outer one goes on when the page
// resumes it.
TEST(PageCallsTest, ACallFromANoticeThatCameThroughAPendingCallIsServed) {
    FakePage page;
    page.Call("StartWebsocket");
    const std::uint64_t registration = page.queue.Push("ws.send registration");
    page.calls.Pump();
    ASSERT_EQ(page.LastAnswer(), R"({"k":"n","s":1,"x":"ws.send registration"})");
    page.Call("SaveTxtFile");  // inside OnDlgNotify
    ASSERT_EQ(page.window.commands.size(), 2u) << page.LastAnswer();
    // The notice the page is handling is still the head: it comes again, the
    // page skips it and resumes, and its worker goes on (a worker that the
    // inner command waits for must never be stuck behind it).
    EXPECT_EQ(page.LastAnswer(), R"({"k":"n","s":1,"x":"ws.send registration"})");
    page.Resume(registration);
    const std::uint64_t outer = page.window.commands[0].id, inner = page.window.commands[1].id;
    page.calls.CommandDone(outer, "0", "");  // Start returns first: its answer waits for the page
    const std::uint64_t next = page.queue.Push("ws.recv");
    page.calls.Pump();
    EXPECT_EQ(page.LastAnswer(), R"({"k":"n","s":2,"x":"ws.recv"})");  // rides on the inner call
    page.Resume(next);
    page.calls.CommandDone(inner, "success", "");
    EXPECT_EQ(page.LastAnswer(), R"({"k":"r","x":"success"})");
    EXPECT_TRUE(page.calls.Active());
    page.Resume(registration);  // back in the outer call
    EXPECT_EQ(page.LastAnswer(), R"({"k":"r","x":"0"})");
    EXPECT_FALSE(page.calls.Active());
    EXPECT_EQ(page.answers.size(), 5u);  // nothing refused
    page.Call("GetGUID");
    page.Call("GetGUID");  // a second request while the page is blocked in one
    EXPECT_EQ(page.LastAnswer(), "refused: a call is already pending");
}

TEST(PageCallsTest, ErrorsAndRefusals) {
    FakePage page;
    page.Resume(1);
    EXPECT_EQ(page.LastAnswer(), "refused: no call is pending");
    page.Call("GetFileLength");
    page.calls.CommandDone(page.window.commands[0].id, "", "not a file");
    EXPECT_EQ(page.LastAnswer(), R"({"k":"e","x":"not a file"})");
    page.Call("ShowPageDlg");
    page.window.ending = true;  // ExitPageDlg came meanwhile
    const std::uint64_t left = page.queue.Push("left");
    page.calls.CommandDone(page.window.commands[1].id, "", "");
    EXPECT_TRUE(page.window.delivered.empty());  // the window ends: nothing more goes
    page.queue.Acknowledge(left);
    page.Call("GetGUID");
    page.calls.Reset("the window has closed");
    EXPECT_EQ(page.LastAnswer(), "refused: the window has closed");
    EXPECT_FALSE(page.calls.Active());
}

TEST(WindowEndTest, TheCloseCommandAndOtherEnds) {
    WindowEnd end;
    end.Reset(2);
    EXPECT_FALSE(end.MayClose(false, false));  // under a child
    EXPECT_FALSE(end.MayClose(true, true));    // inside a call
    EXPECT_TRUE(end.MayClose(true, false));
    end.SetClosing(true);
    EXPECT_FALSE(end.MayClose(true, false));  // once at a time
    EXPECT_TRUE(end.EndAfterOnDlgEnd(false));
    EXPECT_TRUE(end.EndAfterOnDlgEnd(true));
    EXPECT_FALSE(end.Request(1, true));  // waits for the call
    EXPECT_TRUE(end.Requested());
    EXPECT_EQ(end.Result(), 1);
    EXPECT_FALSE(end.EndAfterOnDlgEnd(false));
    end.Reset(2);
    EXPECT_FALSE(end.EndAfterOnDlgEnd(true));  // a time-out with no close running
    EXPECT_TRUE(end.Request(2, false));
}

}  // namespace
}  // namespace quorvin
