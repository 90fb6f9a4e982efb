// The window as a window manager (openbox) sees it: frame and geometry from
// the options, maximised status, the close confirmation, the suppressed
// keys, no context menu; and a screenshot of the shipped main page.
#include <cjson/cJSON.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "GuiFixture.h"
#include "common/Json.h"

namespace quorvin {
namespace {

using testing::GuiTest;
using testing::GuiWindow;
using testing::Shell;
using testing::TestPages;
using testing::Watchdog;
using testing::WindowManager;
using testing::WriteBytes;

// One integer after "label" in text, or -1.
int Number(const std::string& text, const std::string& label) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(label + R"(\s*(-?\d+))"))) return -1;
    return std::stoi(m[1]);
}

struct Seen {
    int left = -1, right = -1, top = -1, bottom = -1;  // frame extents
    int x = -1, y = -1, width = -1, height = -1;       // client area on screen
    std::string state;
    int functions = -1;    // Motif hints: what the window asks the window manager for
    int decorations = -1;
};

// Waits until the window manager has framed the window, then reads it back.
Seen Observe(const std::string& xid, bool waitForMaximised = false) {
    Seen s;
    for (int i = 0; i < 100; ++i) {
        const std::string extents = Shell("xprop -id " + xid + " _NET_FRAME_EXTENTS");
        s.state = Shell("xprop -id " + xid + " _NET_WM_STATE");
        const bool framed = extents.find(" = ") != std::string::npos;
        if (framed && (!waitForMaximised || s.state.find("MAXIMIZED_HORZ") != std::string::npos)) {
            std::smatch m;
            if (std::regex_search(extents, m, std::regex(R"((\d+), (\d+), (\d+), (\d+))"))) {
                s.left = std::stoi(m[1]);
                s.right = std::stoi(m[2]);
                s.top = std::stoi(m[3]);
                s.bottom = std::stoi(m[4]);
            }
            break;
        }
        Delay(100);
    }
    Delay(300);  // let a move or resize settle
    const std::string motif = Shell("xprop -id " + xid + " _MOTIF_WM_HINTS");
    std::smatch m;
    if (std::regex_search(motif, m, std::regex(R"(= (0x[0-9a-f]+), (0x[0-9a-f]+), (0x[0-9a-f]+))"))) {
        s.functions = std::stoi(m[2], nullptr, 16);
        s.decorations = std::stoi(m[3], nullptr, 16);
    }
    const std::string info = Shell("xwininfo -id " + xid);
    s.x = Number(info, "Absolute upper-left X:");
    s.y = Number(info, "Absolute upper-left Y:");
    s.width = Number(info, "Width:");
    s.height = Number(info, "Height:");
    return s;
}

struct Options {
    int width = 0, height = 0;
    std::string align, status;
    int caption = 1, border = 2, sysmenu = 1, minbox = 1, maxbox = 1;
};

Seen OpenWith(const Options& o, bool waitForMaximised = false) {
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    w.dlg->SetPosition(0, 0, o.width, o.height);
    w.dlg->SetAlign(o.align);
    w.dlg->SetStatus(o.status);
    w.dlg->SetCaption(o.caption);
    w.dlg->SetSysMenu(o.sysmenu);
    w.dlg->SetMinBox(o.minbox);
    w.dlg->SetMaxBox(o.maxbox);
    w.dlg->SetBorder(o.border);
    Seen seen;
    w.Run([&] {
        EXPECT_TRUE(w.ready.Wait(20000));
        seen = Observe(w.XWindowId(), waitForMaximised);
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    return seen;
}

class WindowGuiTest : public GuiTest {
protected:
    // One window manager for every test of the process.
    static void SetUpTestSuite() {
        GuiTest::SetUpTestSuite();
        wm = new WindowManager;
    }
    static void TearDownTestSuite() {
        delete wm;
        wm = nullptr;
    }
    void SetUp() override {
        if (!WindowManager::IsOpenbox()) GTEST_SKIP() << "needs openbox; another window manager runs on this display";
    }
    static WindowManager* wm;
};
WindowManager* WindowGuiTest::wm = nullptr;

TEST_F(WindowGuiTest, FrameAndGeometryFollowTheOptions) {
    Watchdog dog(120);
    // Caption with its boxes, 800x600 centred: 400x282 dialog units, at
    // (120, 99) units of the 1280x1024 work area = (240, 210) pixels.
    const Seen captioned = OpenWith({800, 600, "center", "", 1, 2, 1, 1, 1});
    EXPECT_GT(captioned.top, captioned.left);  // a title bar
    EXPECT_EQ(captioned.width, 800);
    EXPECT_EQ(captioned.height, 282 * 17 / 8);
    EXPECT_EQ(captioned.x, 240 + captioned.left);
    EXPECT_EQ(captioned.y, 210 + captioned.top);
    // Motif hints: move, resize, minimise, maximise, close; border, title,
    // menu, minimise and maximise buttons.
    EXPECT_EQ(captioned.functions, 0x02 | 0x04 | 0x08 | 0x10 | 0x20);
    EXPECT_EQ(captioned.decorations, 0x02 | 0x08 | 0x10 | 0x20 | 0x40);

    // A caption without the system menu and the boxes asks for no such
    // buttons and no close, minimise or maximise (openbox still offers those
    // three actions itself: it ignores those function hints).
    const Seen plain = OpenWith({800, 600, "center", "", 1, 2, 0, 0, 0});
    EXPECT_GT(plain.top, plain.left);
    EXPECT_EQ(plain.functions, 0x02 | 0x04);
    EXPECT_EQ(plain.decorations, 0x02 | 0x08);

    // No caption, no border, "left-top": y is one dialog unit (2 pixels).
    const Seen bare = OpenWith({640, 480, "left-top", "", 0, 0, 1, 1, 1});
    EXPECT_EQ(bare.left + bare.right + bare.top + bare.bottom, 0);
    EXPECT_EQ(bare.x, 0);
    EXPECT_EQ(bare.y, 1 * 17 / 8);
    EXPECT_EQ(bare.width, 640);
    EXPECT_EQ(bare.height, 225 * 17 / 8);

    // "right-bottom" without a frame: exactly at the work area's far corner.
    const Seen corner = OpenWith({640, 480, "right-bottom", "", 0, 0, 1, 1, 1});
    EXPECT_EQ(corner.x, (640 - 320) * 8 / 4);
    EXPECT_EQ(corner.y, (481 - 225) * 17 / 8);

    // A thin border without a caption, centred: (160, 128) dialog units.
    const Seen bordered = OpenWith({640, 480, "center", "", 0, 1, 1, 1, 1});
    EXPECT_GT(bordered.left, 0);
    EXPECT_EQ(bordered.top, bordered.left);  // no title bar
    EXPECT_EQ(bordered.x - bordered.left, 160 * 8 / 4);
    EXPECT_EQ(bordered.y - bordered.top, 128 * 17 / 8);

    // "max" in any case: maximised by the window manager.
    const Seen maximised = OpenWith({640, 480, "center", "MAX", 1, 2, 1, 1, 1}, true);
    EXPECT_NE(maximised.state.find("_NET_WM_STATE_MAXIMIZED_VERT"), std::string::npos) << maximised.state;
    EXPECT_NE(maximised.state.find("_NET_WM_STATE_MAXIMIZED_HORZ"), std::string::npos) << maximised.state;
    EXPECT_GT(maximised.width, 1000);

    // No options at all (a three-field ShowPageDlg): a captionless popup over
    // the whole work area.
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    Seen popup;
    w.Run([&] {
        EXPECT_TRUE(w.ready.Wait(20000));
        popup = Observe(w.XWindowId());
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    EXPECT_EQ(popup.top, 0);
    EXPECT_EQ(popup.x, 0);
    EXPECT_EQ(popup.y, 0);
    EXPECT_EQ(popup.width, 1280);
    EXPECT_EQ(popup.height, 481 * 17 / 8);
}

// Finds the confirmation box and answers it with keys.
bool Answer(const std::string& keys) {
    for (int i = 0; i < 100; ++i) {
        const std::string id = Shell("xdotool search --onlyvisible --name '^系统提示信息$'");
        if (!id.empty()) {
            const std::string first = id.substr(0, id.find('\n'));
            Shell("xdotool windowactivate --sync " + first);
            Delay(200);
            Shell("xdotool key --clearmodifiers " + keys);
            return true;
        }
        Delay(100);
    }
    return false;
}

TEST_F(WindowGuiTest, CloseAsksOnTheMainPageNoKeepsItYesEmptiesTemp) {
    Watchdog dog(90);
    GuiWindow w;
    std::filesystem::create_directories(w.dir / "temp/sub");
    WriteBytes(w.dir / "temp/a.jpg", "a");
    WriteBytes(w.dir / "temp/sub/b.jpg", "b");
    w.dlg->SetUrl(TestPages() + "close/main.htm?stamp=00ab00cd");
    w.dlg->m_strPageParam = "param";
    w.dlg->SetPosition(0, 0, 640, 480);
    w.dlg->SetCaption(1);
    bool askedNo = false, askedYes = false, stillOpen = false, keptTemp = false;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        const std::string xid = w.XWindowId();
        Observe(xid);
        Shell("wmctrl -i -c " + xid);  // the close button, through the window manager
        askedNo = Answer("Return");    // No is the default button
        Delay(500);
        stillOpen = w.RunningCount() == 1;
        keptTemp = std::filesystem::exists(w.dir / "temp/a.jpg");
        Shell("wmctrl -i -c " + xid);
        askedYes = Answer("alt+y");
    });
    EXPECT_TRUE(askedNo);
    EXPECT_TRUE(stillOpen);
    EXPECT_TRUE(keptTemp);
    EXPECT_TRUE(askedYes);
    EXPECT_FALSE(std::filesystem::exists(w.dir / "temp/a.jpg"));
    EXPECT_TRUE(std::filesystem::exists(w.dir / "temp/sub/b.jpg"));
    EXPECT_EQ(w.dlg->GetPageResult(), "end:param");  // OnDlgEnd ran after the clean-up
}

TEST_F(WindowGuiTest, SuppressedKeysNeverReachThePageAndNoContextMenu) {
    Watchdog dog(90);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    w.dlg->SetPosition(0, 0, 640, 480);
    w.dlg->SetCaption(1);
    std::optional<std::string> keys, sameDocument;
    std::size_t open = 0;
    int popups = -1;
    bool dropTarget = true;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        const std::string xid = w.XWindowId();
        Observe(xid);
        const std::string loadId = w.Eval("window.loadId").value_or("0");
        Shell("xdotool windowactivate --sync " + xid);
        Shell("xdotool mousemove --window " + xid + " 300 300 click 1");
        Delay(200);
        Shell("xdotool key --clearmodifiers n ctrl+n f ctrl+f F5 Escape Return x");
        Delay(500);
        keys = w.Eval("window.keys");
        sameDocument = w.Eval("String(window.loadId === " + loadId + ")");
        Shell("xdotool mousemove --window " + xid + " 300 300 click 3");
        Delay(500);
        w.OnWindow([&] {
            popups = 0;
            GList* all = gtk_window_list_toplevels();
            for (GList* l = all; l != nullptr; l = l->next) {
                GtkWindow* win = GTK_WINDOW(l->data);
                if (gtk_widget_get_visible(GTK_WIDGET(win)) && gtk_window_get_window_type(win) == GTK_WINDOW_POPUP) {
                    ++popups;
                }
            }
            g_list_free(all);
        });
        open = w.RunningCount();
        // Nothing can be dropped onto the page: the view takes no drops.
        w.OnWindow([&] { dropTarget = gtk_drag_dest_get_target_list(GTK_WIDGET(w.Host().View())) != nullptr; });
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    EXPECT_FALSE(dropTarget);
    EXPECT_EQ(keys, "[\"n\",\"f\",\"Enter\",\"x\"]");
    EXPECT_EQ(sameDocument, "\"true\"");  // F5 did not reload
    EXPECT_EQ(open, 1u);                  // Enter and Esc did not close it
    EXPECT_EQ(popups, 0);
}

struct RecordingTcp : TcpLinkControl {
    void Start(const std::string& server, int port, const std::string& from, const std::string& clientName,
               const std::string& gsdm, const std::string& rydm) override {
        started = server + "|" + std::to_string(port) + "|" + from + "|" + clientName + "|" + gsdm + "|" + rydm;
    }
    void Stop() override { ++stops; }
    std::string started;
    int stops = 0;
};

struct RecordingWs : WsLinkControl {
    int Start(const std::string& url, const std::string& from, const std::string& clientName, const std::string& gsdm,
              const std::string& rydm) override {
        started = url + "|" + from + "|" + clientName + "|" + gsdm + "|" + rydm;
        return 0;
    }
    void Stop() override {}
    std::string started;
};

TEST_F(WindowGuiTest, ShippedMainPageScreenshot) {
    Watchdog dog(90);
    ASSERT_NE(Shell("fc-match 'WenQuanYi Micro Hei'").find("wqy"), std::string::npos) << "no CJK font";
    RecordingTcp tcp;
    RecordingWs ws;
    GuiWindow w;
    w.links.tcp = &tcp;
    w.links.ws = &ws;
    w.dlg = std::make_unique<CHtmlBaseDlg>(w.dlg->Context());
    w.Host().SetReadyObserver([&] { w.ready.Set(); });
    const std::string pages = QUORVIN_SHIPPED_PAGES;
    w.params.Set("root", pages);
    w.dlg->m_pParamMap = &w.params;
    // The param of the default configuration, as a second start hands it.
    std::ifstream in(std::string(QUORVIN_SOURCE_DIR) + "/tools/config.default.json");
    const std::string config((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    JsonPtr root = ParseJson(config);
    cJSON* param = cJSON_GetObjectItem(cJSON_GetObjectItem(root.get(), "startup"), "param");
    ASSERT_NE(param, nullptr);
    cJSON_AddStringToObject(param, "clientId", "_FD5B4-2B3A-1.");
    cJSON_AddStringToObject(param, "clientName", "workstation-7");
    w.dlg->m_strPageParam = PrintJson(param, true);
    w.dlg->m_strTitle = "Quorvin 打印助手";
    w.dlg->SetUrl(pages + "main.htm?stamp=00ab00cd00ef0012");
    w.dlg->SetPosition(0, 0, 1024, 720);
    w.dlg->SetAlign("center");
    w.dlg->SetCaption(1);
    const std::string shot = std::string(QUORVIN_ARTIFACTS) + "/main-page.png";
    std::filesystem::create_directories(QUORVIN_ARTIFACTS);
    std::filesystem::remove(shot);
    std::optional<std::string> fields, wsState;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        Observe(w.XWindowId());
        fields = w.Eval("[server.value, port.value, wsUrl.value, document.getElementById('ws').disabled]");
        w.Eval("document.getElementById('tcpStart').click(); true");
        w.Eval("document.getElementById('wsStart').click(); true");
        wsState = w.Eval("wsState.textContent");
        w.dlg->NotifyPage("发送报文\r\n{\"name\":\"wellcome\",\"type\":\"printer\"}");
        w.dlg->NotifyPage("接收报文\r\n{\"name\":\"GetAllPrn\",\"from\":\"server\",\"to\":\"_FD5B4-2B3A-1.\"}");
        w.dlg->NotifyPage(
            "{\"msg_type\":\"printer.task.begin\",\"msg_body\":{\"printerName\":\"办公室打印机\",\"fileName\":\"temp^a."
            "jpg\"}}");
        w.dlg->NotifyPage(
            "{\"msg_type\":\"printer.task.success\",\"msg_body\":{\"printerName\":\"办公室打印机\",\"fileName\":\"temp^"
            "a.jpg\"}}");
        w.dlg->NotifyPage(
            "{\"msg_type\":\"printer.task.fail\",\"msg_body\":{\"printerName\":\"前台\",\"fileName\":\"temp^b.jpg\","
            "\"reason\":\"打印机不存在！\"}}");
        Delay(500);
        Shell("import -window root " + shot);
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    EXPECT_EQ(fields, "[\"127.0.0.1\",\"9100\",\"ws://127.0.0.1:9101/\",false]");
    EXPECT_EQ(tcp.started, "127.0.0.1|9100|_FD5B4-2B3A-1.|workstation-7||");
    EXPECT_EQ(ws.started, "ws://127.0.0.1:9101/|_FD5B4-2B3A-1.|workstation-7||");
    EXPECT_EQ(wsState, "\"已连接\"");
    ASSERT_TRUE(std::filesystem::exists(shot));
    EXPECT_EQ(Shell("identify -format '%w %h' " + shot), "1280 1024");
    // Something was drawn: a blank or failed page has only a few colours.
    EXPECT_GT(std::stoi("0" + Shell("identify -format '%k' " + shot)), 200);
}

}  // namespace
}  // namespace quorvin
