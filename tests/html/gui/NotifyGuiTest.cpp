// Notifications from worker threads into the real page: in order, once,
// byte-identical, also while the page is blocked in a call with a child
// window open; a link's Stop never deadlocks against a notifying worker.
#include <cjson/cJSON.h>

#include <atomic>
#include <vector>

#include "GuiFixture.h"
#include "common/Json.h"
#include "link/ChatManager.h"
#include "link/LoopbackServer.h"
#include "link/WsChatManager.h"
#include "fixtures/WsRelay.h"

namespace quorvin {
namespace {

using testing::DlgProxy;
using testing::GuiTest;
using testing::GuiWindow;
using testing::TestPages;
using testing::Watchdog;

std::vector<std::string> Strings(const std::optional<std::string>& json) {
    std::vector<std::string> out;
    if (!json) return out;
    JsonPtr list = ParseJson(*json);
    for (int i = 0; i < cJSON_GetArraySize(list.get()); ++i) {
        const cJSON* item = cJSON_GetArrayItem(list.get(), i);
        out.push_back(cJSON_IsString(item) ? item->valuestring : "<not a string>");
    }
    return out;
}

// Each worker's texts arrive once each and in the order it sent them.
void ExpectInOrder(const std::vector<std::string>& notes, const std::vector<std::string>& prefixes, int perWorker) {
    for (const std::string& prefix : prefixes) {
        int next = 0;
        for (const std::string& n : notes) {
            if (n.rfind(prefix, 0) != 0) continue;
            EXPECT_EQ(n, prefix + std::to_string(next)) << "out of order or twice";
            ++next;
        }
        EXPECT_EQ(next, perWorker) << prefix;
    }
}

class NotifyGuiTest : public GuiTest {};

// The recording page in a window whose TCP link is a real one, with a
// loopback server at its other end (not yet started).
struct TcpLinkedWindow {
    TcpLinkedWindow() {
        w.links.tcp = &control;
        w.Rebuild();
        w.dlg->SetUrl(TestPages() + "record.htm");
    }

    testing::LoopbackServer server;
    GuiWindow w;
    DlgProxy owner{w};
    CChatManager link{&owner, w.dir.path()};
    ChatManagerControl control{link};
};

// The child's page has loaded and had its OnDlgInit (a new view first
// shows an empty document that is "complete" too).
constexpr const char* kChildReady = "window.inits !== undefined && window.inits.length === 1";

TEST_F(NotifyGuiTest, WorkersNotesArriveInOrderOnceAndIntact) {
    Watchdog dog(90);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    const std::vector<std::string> odd = {
        "quote \" backslash \\ tab \t", "line\r\nbreak", "\xE2\x80\xA8 u2028", "中文 报文 </script>", "",
        "emoji \xF0\x9F\x98\x80"};
    constexpr int kPerWorker = 300;
    std::optional<std::string> notes;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        for (const std::string& t : odd) w.dlg->NotifyPage(t);
        std::vector<std::thread> workers;
        for (const char* prefix : {"a-", "b-"}) {
            workers.emplace_back([&, prefix] {
                for (int i = 0; i < kPerWorker; ++i) w.dlg->NotifyPage(prefix + std::to_string(i));
            });
        }
        for (auto& t : workers) t.join();
        // NotifyPage returned for every text, so the page has them all now.
        notes = w.Eval("window.notes");
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    const std::vector<std::string> got = Strings(notes);
    ASSERT_EQ(got.size(), odd.size() + 2 * kPerWorker);
    for (std::size_t i = 0; i < odd.size(); ++i) EXPECT_EQ(got[i], odd[i]);
    ExpectInOrder(got, {"a-", "b-"}, kPerWorker);
}

TEST_F(NotifyGuiTest, ParentGetsNotesWhileItsChildIsOpenAndGetsTheChildsResult) {
    Watchdog dog(90);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    constexpr int kNotes = 200;
    std::optional<std::string> parentNotes, childNotes, childResult;
    std::size_t openWithChild = 0, openAfterParentClose = 0;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.Eval(R"(showChild('record.htm$$child$$cp$${"width":"400","height":"300","align":"center"}'))");
        for (int i = 0; i < 200 && w.RunningCount() < 2; ++i) Delay(50);
        openWithChild = w.RunningCount();
        ASSERT_TRUE(w.WaitForScript(kChildReady, 10000, true));
        // The parent page is blocked in ShowPageDlg; every text still reaches
        // it before NotifyPage returns.
        for (int i = 0; i < kNotes; ++i) w.dlg->NotifyPage("n-" + std::to_string(i));
        // The parent cannot be closed from under its child.
        w.OnWindow([&] { gtk_window_close(w.Host().Window()); });
        Delay(200);
        openAfterParentClose = w.RunningCount();
        childNotes = w.Eval("window.notes", true);
        w.Eval(
            "window.external.CallFromHtml('', 'PutPageResult', '子窗口 result'); "
            "window.external.CallFromHtml('', 'ExitPageDlg', ''); true",
            true);
        w.WaitForScript("window.childResult !== null", 10000);
        childResult = w.Eval("window.childResult");
        parentNotes = w.Eval("window.notes");
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    EXPECT_EQ(openWithChild, 2u);
    EXPECT_EQ(openAfterParentClose, 2u);
    EXPECT_EQ(childResult, "\"子窗口 result\"");
    EXPECT_EQ(childNotes, "[]");  // the links' notes are the main window's
    const std::vector<std::string> got = Strings(parentNotes);
    EXPECT_EQ(got.size(), static_cast<std::size_t>(kNotes));
    ExpectInOrder(got, {"n-"}, kNotes);
}

TEST_F(NotifyGuiTest, ClosingAChildWhileTheParentIsFloodedWithNotes) {
    Watchdog dog(90);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::optional<std::string> childResult, notes;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.Eval("showChild('record.htm$$child$$cp')");
        for (int i = 0; i < 200 && w.RunningCount() < 2; ++i) Delay(50);
        ASSERT_TRUE(w.WaitForScript(kChildReady, 10000, true));
        std::thread flood([&] {
            while (!stop.load() && sent.load() < 5000) w.dlg->NotifyPage("f-" + std::to_string(sent++));
        });
        Delay(200);
        // The child closes through its close command: not a main page, so
        // no question; its OnDlgEnd puts the result the parent gets.
        w.OnWindow([&] { gtk_window_close(gtk::GtkPageHost::RunningWindows().back()->Window()); });
        w.WaitForScript("window.childResult !== null", 10000);
        childResult = w.Eval("window.childResult");
        Delay(200);
        stop = true;
        flood.join();
        notes = w.Eval("window.notes");
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    EXPECT_EQ(childResult, "\"end:cp\"");
    const std::vector<std::string> got = Strings(notes);
    EXPECT_GT(sent.load(), 0);
    ExpectInOrder(got, {"f-"}, sent.load());
}

// A link whose worker notifies the page all the time and whose Stop waits
// for that worker, as a link's Stop joins its threads.
class BusyLink : public TcpLinkControl {
public:
    explicit BusyLink(PageWindow& owner) : m_owner(owner) {}
    ~BusyLink() override { Stop(); }
    void Start(const std::string&, int, const std::string&, const std::string&, const std::string&,
               const std::string&) override {
        Stop();
        m_stop = false;
        m_worker = std::thread([this] {
            for (int i = 0; !m_stop.load() && i < 100000; ++i) m_owner.NotifyPage("busy-" + std::to_string(i));
        });
    }
    void Stop() override {
        m_stop = true;
        if (m_worker.joinable()) m_worker.join();
    }

private:
    PageWindow& m_owner;
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};

TEST_F(NotifyGuiTest, StopOnTheWindowThreadNeverDeadlocksAgainstANotifyingWorker) {
    Watchdog dog(90);
    GuiWindow w;
    DlgProxy owner(w);
    BusyLink link(owner);
    w.links.tcp = &link;
    w.Rebuild();
    w.dlg->SetUrl(TestPages() + "record.htm");
    std::optional<std::string> answers, notes;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        answers = w.Eval(
            "var x = window.external; var r = [];"
            "for (var i = 0; i < 5; i++) {"
            "  r.push(x.CallFromHtml('', 'StartTcpsocket', '127.0.0.1$$9$$a$$b$$c$$d'));"
            "  var until = Date.now() + 50; while (Date.now() < until) {}"
            "  r.push(x.CallFromHtml('', 'StopTcpsocket', ''));"
            "}"
            "r.join(',')");
        notes = w.Eval("window.notes");
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    EXPECT_EQ(answers, "\",,,,,,,,,\"");
    // Each run's notes reached the page in order, also those made while the
    // page was inside StopTcpsocket.
    const std::vector<std::string> got = Strings(notes);
    EXPECT_FALSE(got.empty());
    int last = -1;
    for (const std::string& n : got) {
        const int i = std::stoi(n.substr(5));
        EXPECT_TRUE(i == 0 || i == last + 1) << n;
        last = i;
    }
}

TEST_F(NotifyGuiTest, TcpLinkToALoopbackServerTracesInOrderAndStopsFromThePage) {
    Watchdog dog(120);
    TcpLinkedWindow t;
    ASSERT_TRUE(t.server.Listening());
    testing::LoopbackServer& server = t.server;
    GuiWindow& w = t.w;
    CChatManager& link = t.link;
    constexpr int kMessages = 300;
    std::optional<std::string> started, stopped, notes;
    std::optional<std::string> registration;
    bool closedByStop = false;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        started = w.Eval("window.external.CallFromHtml('', 'StartTcpsocket', '127.0.0.1$$" +
                         std::to_string(server.Port()) + "$$_from$$工作站$$gs$$ry')");
        ASSERT_TRUE(server.Accept(10000));
        registration = server.ReadMessage(10000);
        // The server talks while a child window is open over the page.
        w.Eval("showChild('record.htm$$child$$cp')");
        for (int i = 0; i < 200 && w.RunningCount() < 2; ++i) Delay(50);
        ASSERT_EQ(w.RunningCount(), 2u);
        ASSERT_TRUE(w.WaitForScript(kChildReady, 10000, true));
        for (int i = 0; i < kMessages; ++i) {
            server.SendMessage("{\"name\":\"note\",\"seq\":\"" + std::to_string(i) + "\"}");
        }
        w.Eval("window.external.CallFromHtml('', 'ExitPageDlg', ''); true", true);
        // Every message is traced to the main page (one note each).
        w.WaitForScript("window.notes.filter(function (n) { return n.indexOf('接收报文') === 0; }).length >= " +
                            std::to_string(kMessages),
                        20000);
        notes = w.Eval("window.notes");
        stopped = w.Eval("window.external.CallFromHtml('', 'StopTcpsocket', '')");
        closedByStop = server.WaitPeerClosed(5000);
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    link.Close();
    EXPECT_EQ(started, "\"\"");
    EXPECT_EQ(stopped, "\"\"");
    EXPECT_TRUE(closedByStop);
    ASSERT_TRUE(registration);
    EXPECT_NE(registration->find("工作站"), std::string::npos);
    const std::vector<std::string> got = Strings(notes);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0].rfind("发送报文\r\n", 0), 0u) << got[0];  // the registration went out first
    int next = 0;
    for (const std::string& n : got) {
        if (n.rfind("接收报文\r\n", 0) != 0) continue;
        EXPECT_EQ(n, "接收报文\r\n{\"name\":\"note\",\"seq\":\"" + std::to_string(next) + "\"}");
        ++next;
    }
    EXPECT_EQ(next, kMessages);
}

TEST_F(NotifyGuiTest, ServersExitQuorvinRepliesThenClosesEveryWindow) {
    Watchdog dog(90);
    TcpLinkedWindow t;
    ASSERT_TRUE(t.server.Listening());
    testing::LoopbackServer& server = t.server;
    GuiWindow& w = t.w;
    CChatManager& link = t.link;
    std::optional<std::string> reply;
    std::size_t open = 0;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.Eval("window.external.CallFromHtml('', 'StartTcpsocket', '127.0.0.1$$" + std::to_string(server.Port()) +
               "$$c$$n$$g$$r')");
        ASSERT_TRUE(server.Accept(10000));
        server.ReadMessage(10000);  // the registration
        w.Eval("showChild('record.htm$$child$$cp')");
        for (int i = 0; i < 200 && w.RunningCount() < 2; ++i) Delay(50);
        open = w.RunningCount();
        server.SendMessage(R"({"name":"ExitQuorvin","from":"server","to":"c"})");
        reply = server.ReadMessage(10000);
    });
    link.Close();
    EXPECT_EQ(open, 2u);
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->find("ExitQuorvin>res"), std::string::npos) << *reply;
    EXPECT_TRUE(gtk::GtkPageHost::RunningWindows().empty());
}

// The page drives a real WebSocket link: Start's answers, the traces of a
// stream of messages, Stop, a new Start, and the server's ExitQuorvin.
TEST_F(NotifyGuiTest, WebSocketLinkFromThePage) {
    Watchdog dog(120);
    testing::WsRelayServer server(testing::WsServerKind::Node);
    ASSERT_TRUE(server.Ready()) << server.Error();
    GuiWindow w;
    DlgProxy owner{w};
    CWsChatManager link{&owner, w.dir.path()};
    WsChatManagerControl control{link};
    w.links.ws = &control;
    w.Rebuild();
    w.dlg->SetUrl(TestPages() + "record.htm");
    constexpr int kMessages = 200;
    std::optional<std::string> refused, started, again, stopped, notes, reply;
    std::optional<testing::WsMessage> registration, second;
    std::optional<int> closedByStop;
    auto start = [&] { return w.Eval("window.external.CallFromHtml('', 'StartWebsocket', '" + server.Url() + "$$_from$$工作站$$gs$$ry')"); };
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        refused = w.Eval("window.external.CallFromHtml('', 'StartWebsocket', 'ws://127.0.0.1:1/$$a$$b$$c$$d')");
        started = start();
        ASSERT_TRUE(server.WaitOpen(10000));
        registration = server.ReadMessage(10000);
        for (int i = 0; i < kMessages; ++i) server.SendText("{\"name\":\"note\",\"seq\":\"" + std::to_string(i) + "\"}");
        w.WaitForScript("window.notes.filter(function (n) { return n.indexOf('{\"msg_type\":\"ws.recv\"') === 0; }).length >= " +
                            std::to_string(kMessages),
                        20000);
        notes = w.Eval("window.notes");
        stopped = w.Eval("window.external.CallFromHtml('', 'StopWebsocket', '')");
        closedByStop = server.WaitClosed(5000);
        again = start();
        ASSERT_TRUE(server.WaitOpen(10000));
        second = server.ReadMessage(10000);
        server.SendText(R"({"name":"ExitQuorvin","from":"server","to":"c"})");
        if (auto m = server.ReadMessage(10000)) reply = m->data;
    });
    link.Close();
    EXPECT_EQ(refused, "\"2\"");
    EXPECT_EQ(started, "\"0\"");
    EXPECT_EQ(again, "\"0\"");
    EXPECT_EQ(stopped, "\"\"");
    EXPECT_TRUE(closedByStop.has_value());
    ASSERT_TRUE(registration && second);
    EXPECT_NE(registration->data.find("工作站"), std::string::npos);
    EXPECT_EQ(second->data, registration->data);
    ASSERT_TRUE(reply);
    EXPECT_NE(reply->find("ExitQuorvin>res"), std::string::npos) << *reply;
    EXPECT_TRUE(gtk::GtkPageHost::RunningWindows().empty());
    const std::vector<std::string> got = Strings(notes);
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got[0], "{\"msg_type\":\"ws.send\",\"msg_body\":" + registration->data + "}");
    int next = 0;
    for (const std::string& n : got) {
        if (n.rfind("{\"msg_type\":\"ws.recv\"", 0) != 0) continue;
        EXPECT_EQ(n, "{\"msg_type\":\"ws.recv\",\"msg_body\":{\"name\":\"note\",\"seq\":\"" + std::to_string(next) + "\"}}");
        ++next;
    }
    EXPECT_EQ(next, kMessages);
}

// The WebSocket link registers inside Start, so its trace reaches the page
// while the page waits for StartWebsocket; the page's save of it inside
// OnDlgNotify is served like any call.
TEST_F(NotifyGuiTest, APageSavesTheRegistrationTraceThatCameDuringItsStartCall) {
    Watchdog dog(60);
    testing::WsRelayServer server(testing::WsServerKind::Node);
    ASSERT_TRUE(server.Ready()) << server.Error();
    GuiWindow w;
    DlgProxy owner{w};
    CWsChatManager link{&owner, w.dir.path()};
    WsChatManagerControl control{link};
    w.links.ws = &control;
    w.Rebuild();
    w.dlg->SetUrl(TestPages() + "saver.htm");
    w.dlg->m_strPageParam = w.dir.path() + "|StartWebsocket|" + server.Url() + "$$_from$$n$$gs$$ry";
    std::optional<std::string> started, refused;
    std::optional<testing::WsMessage> registration;
    w.Run([&] {
        // OnDlgInit has returned, so Start has, so the trace's OnDlgNotify has.
        ASSERT_TRUE(w.ready.Wait(20000));
        started = w.Eval("window.started");
        refused = w.Eval("window.refused");
        if (server.WaitOpen(10000)) registration = server.ReadMessage(10000);
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    link.Close();
    EXPECT_EQ(started, "\"0\"");
    EXPECT_EQ(refused, "0");
    ASSERT_TRUE(registration);
    EXPECT_EQ(testing::ReadBytes(w.dir.path() + "/note0.txt"),
              "{\"msg_type\":\"ws.send\",\"msg_body\":" + registration->data + "}");
}

// The page's renderer dies while the page is inside a call (a child window
// open) and a worker waits for a notice it will never run: the worker goes
// on, the page is loaded again with its OnDlgInit, and later calls and
// notices work.
TEST_F(NotifyGuiTest, WhenThePagesRendererDiesWaitersGoAndThePageComesBack) {
    Watchdog dog(90);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    w.dlg->m_strPageParam = "again";
    Event workerBack;
    std::thread worker;
    bool returned = false, reloaded = false;
    std::optional<std::string> inits, dir, notes;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.Eval("showChild('record.htm$$child$$cp')");
        for (int i = 0; i < 200 && w.RunningCount() < 2; ++i) Delay(50);
        ASSERT_TRUE(w.WaitForScript(kChildReady, 10000, true));
        worker = std::thread([&] {
            w.dlg->NotifyPage("spin");  // the page spins in OnDlgNotify for good
            workerBack.Set();
        });
        w.ready.Reset();
        w.OnWindow([&] { webkit_web_view_terminate_web_process(w.Host().View()); });
        returned = workerBack.Wait(10000);
        reloaded = w.ready.Wait(20000);
        if (!returned || !reloaded) {
            w.dlg->PostClose();  // ends the window even with the dead page's call pending
            return;
        }
        inits = w.Eval("window.inits.map(function (i) { return i.p + '/' + i.box; })");
        // The child was not the one that died; closing it ends the old call,
        // whose answer has nobody left to go to.
        w.Eval("window.external.CallFromHtml('', 'ExitPageDlg', ''); true", true);
        for (int i = 0; i < 200 && w.RunningCount() > 1; ++i) Delay(50);
        dir = w.Eval("window.external.CallFromHtml('', 'GetCurrentDir', '')");
        w.dlg->NotifyPage("after");
        notes = w.Eval("window.notes");
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    if (worker.joinable()) worker.join();
    EXPECT_TRUE(returned);
    EXPECT_TRUE(reloaded);
    EXPECT_EQ(inits, "[\"again/again\"]");
    EXPECT_EQ(dir, "\"" + w.dir.path() + "\"");
    EXPECT_EQ(notes, "[\"after\"]");
}

TEST_F(NotifyGuiTest, PostCloseEndsEveryWindow) {
    Watchdog dog(60);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    std::size_t open = 0;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.Eval("showChild('record.htm$$child$$cp')");
        for (int i = 0; i < 200 && w.RunningCount() < 2; ++i) Delay(50);
        open = w.RunningCount();
        w.dlg->PostClose();  // as the server's ExitQuorvin does, from a worker
    });
    EXPECT_EQ(open, 2u);
    EXPECT_TRUE(gtk::GtkPageHost::RunningWindows().empty());
    w.dlg->NotifyPage("after the end");  // returns at once: no window any more
}

}  // namespace
}  // namespace quorvin
