// Every bridge command's answers, run through the dialog's CallFromHtml as
// the page would, without a screen (the window itself is in the gui tests).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "TempDir.h"
#include "common/CodePage.h"
#include "html/FakePageHost.h"
#include "html/HtmlBaseDlg.h"

namespace quorvin {
namespace {

using testing::FakeContext;
using testing::FakeHostLog;
using testing::ReadBytes;
using testing::TempDir;
using testing::WriteBytes;

struct RecordingTcp : TcpLinkControl {
    void Start(const std::string& server, int port, const std::string& from, const std::string& clientName,
               const std::string& gsdm, const std::string& rydm) override {
        starts.push_back(server + "|" + std::to_string(port) + "|" + from + "|" + clientName + "|" + gsdm + "|" + rydm);
    }
    void Stop() override { ++stops; }
    std::vector<std::string> starts;
    int stops = 0;
};

struct RecordingWs : WsLinkControl {
    int Start(const std::string& url, const std::string& from, const std::string& clientName, const std::string& gsdm,
              const std::string& rydm) override {
        starts.push_back(url + "|" + from + "|" + clientName + "|" + gsdm + "|" + rydm);
        return 0;
    }
    void Stop() override { ++stops; }
    std::vector<std::string> starts;
    int stops = 0;
};

class ScriptBridgeTest : public ::testing::Test {
protected:
    void SetUp() override {
        params.Set("root", dir.path() + "/pages/");
        dlg = std::make_unique<CHtmlBaseDlg>(FakeContext(dir.path(), log, {&tcp, &ws}));
        dlg->m_pParamMap = &params;
    }
    std::string Call(const std::string& command, const std::string& param) {
        error.clear();
        return dlg->CallFromHtml("", command, param, error);
    }
    static std::string L(const char* utf8) { return Utf8ToLocal(utf8); }

    TempDir dir;
    ParamMap params;
    RecordingTcp tcp;
    RecordingWs ws;
    std::shared_ptr<FakeHostLog> log = std::make_shared<FakeHostLog>();
    std::unique_ptr<CHtmlBaseDlg> dlg;
    std::string error;
};

TEST_F(ScriptBridgeTest, NamesMatchInAnyCaseAndUnknownOnesAnswerEmpty) {
    EXPECT_EQ(Call("getcurrentdir", ""), dir.path());
    EXPECT_EQ(Call("GETCURRENTDIR", "ignored"), dir.path());
    EXPECT_EQ(Call("NoSuchCommand", "x"), "");
    EXPECT_EQ(Call("", ""), "");
    EXPECT_TRUE(error.empty());
    const std::string guid = Call("getguid", "");
    ASSERT_EQ(guid.size(), 32u);
    for (std::size_t i = 0; i < 32; i += 4) EXPECT_EQ(guid.substr(i, 2), "00") << guid;
    for (char c : guid) EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) && !std::isupper(c)) << guid;
    EXPECT_NE(Call("GetGUID", ""), guid);
}

TEST_F(ScriptBridgeTest, FileCommands) {
    const std::string a = dir / "a.txt";
    EXPECT_EQ(Call("SaveTxtFile", a + "$$hello"), "success");
    EXPECT_EQ(ReadBytes(a), "hello");
    EXPECT_EQ(Call("SaveTxtFile", "  " + a + "$$a$$b  "), "error");
    EXPECT_EQ(Call("SaveTxtFile", a), "error");
    EXPECT_EQ(Call("SaveTxtFile", "   "), "error");
    EXPECT_EQ(Call("SaveTxtFile", dir / "no/such/dir/x.txt$$x"), "success");    // reported so, whatever happened
    EXPECT_EQ(Call("SaveTxtFile", "  " + a + "$$ inner blank \t"), "success");  // outer blanks trimmed
    EXPECT_EQ(ReadBytes(a), " inner blank");
    EXPECT_EQ(Call("LoadTxtFile", a), " inner blank");
    EXPECT_EQ(Call("LoadTxtFile", dir / "missing.txt"), "");

    EXPECT_EQ(Call("GetFileLength", a), "12");
    EXPECT_EQ(Call("GetFileLength", dir / "missing.txt"), "0");
    EXPECT_EQ(Call("GetFileLength", dir.path()), "");
    EXPECT_FALSE(error.empty());  // a folder: the call raises a file error

    std::filesystem::create_directories(dir / "sub");
    EXPECT_EQ(Call("FileExist", a), "true");
    EXPECT_EQ(Call("FileExist", dir / "sub"), "true");
    EXPECT_EQ(Call("FileExist", dir / "missing.txt"), "false");
    EXPECT_EQ(Call("FileExist", dir / "*.txt"), "true");
    EXPECT_EQ(Call("FileExist", dir / "s?b"), "true");
    EXPECT_EQ(Call("FileExist", dir / "*.jpg"), "false");
    EXPECT_EQ(Call("FileExist", dir / "sub/*.*"), "false");
    EXPECT_EQ(Call("FileExist", ""), "false");

    const std::string b = dir / "b.txt";
    WriteBytes(b, "old");
    EXPECT_EQ(Call("CopyFile", a + "$$" + b), "success");
    EXPECT_EQ(ReadBytes(b), " inner blank");
    EXPECT_EQ(Call("CopyFile", dir / "missing$$" + b), "error");
    EXPECT_EQ(ReadBytes(b), " inner blank");
    EXPECT_EQ(Call("CopyFile", dir / "sub$$" + b), "error");
    EXPECT_EQ(Call("CopyFile", a), "error");
    EXPECT_EQ(Call("CopyFile", a + "$$" + b + "$$x"), "error");
    EXPECT_EQ(Call("CopyFile", "  "), "error");

    EXPECT_EQ(Call("DeleteFile", b), "success");
    EXPECT_FALSE(std::filesystem::exists(b));
    EXPECT_EQ(Call("DeleteFile", b), "error");
    EXPECT_EQ(Call("DeleteFile", dir / "sub"), "error");
    EXPECT_TRUE(std::filesystem::exists(dir / "sub"));
}

TEST_F(ScriptBridgeTest, EncodingCommandsInAGbkCodePage) {
    SetLocalCodePage("GBK");
    const std::string gb = L("中文");  // 4 GBK bytes
    EXPECT_EQ(gb.size(), 4u);
    EXPECT_EQ(Call("GB2312ToUTF8", gb), "中文");
    EXPECT_EQ(Call("GB2312ToUTF8", " " + gb + " "), " 中文 ");  // one field: the whole parameter, untrimmed
    EXPECT_EQ(Call("UTF8ToGB2312", "中文"), gb);
    EXPECT_EQ(Call("UTF8ToGB2312", "\xE4\xB8"), "??");  // one "?" per bad byte
    const std::string out = dir / "u.txt";
    EXPECT_EQ(Call("GB2312ToUTF8", gb + "$$" + out + "$$ignored"), "success");
    EXPECT_EQ(ReadBytes(out), "中文");
    EXPECT_EQ(Call("GB2312ToUTF8", " \t "), "");
    EXPECT_FALSE(error.empty());  // zero fields: invalid argument raised to the script
    EXPECT_EQ(Call("LockString", "00-1A-2B-3C-4D-5E"), dlg->Tool().LockString("00-1A-2B-3C-4D-5E"));
    EXPECT_EQ(Call("LockString", "abc"), "_db`");
    SetLocalCodePage("");
}

TEST_F(ScriptBridgeTest, WindowCommands) {
    EXPECT_EQ(Call("PutPageResult", " first "), "");
    EXPECT_EQ(dlg->GetPageResult(), " first ");  // whole, untrimmed
    Call("PutPageResult", "second$$x");
    EXPECT_EQ(dlg->GetPageResult(), "second$$x");
    EXPECT_EQ(Call("ExitPageDlg", ""), "");
    EXPECT_EQ(log->endDialogs, 1);
}

TEST_F(ScriptBridgeTest, NavigateAnswersAndEffects) {
    dlg->SetUrl("/pages/main.htm");
    dlg->m_strPageParam = "p0";
    EXPECT_EQ(Call("Navigate", "a.htm$$title"), "");
    EXPECT_EQ(Call("Navigate", "   "), "");
    EXPECT_EQ(Call("Navigate", "a.htm$$t$$p$${}$$x"), L("false:参数错误！"));
    EXPECT_EQ(Call("Navigate", "a.htm$$t$$p$${oops"), L("false:JSON参数错误"));
    EXPECT_TRUE(log->navigations.empty());
    EXPECT_EQ(dlg->m_strPageParam, "p0");

    const DlgTemplate before = dlg->Template();
    EXPECT_EQ(Call("Navigate", "a.htm$$标题$$p1$${}"), "true");
    ASSERT_EQ(log->navigations.size(), 1u);
    EXPECT_EQ(log->navigations[0], dir.path() + "/pages/a.htm | 标题");
    EXPECT_EQ(dlg->m_strPageParam, "p1");
    EXPECT_EQ(dlg->m_strTitle, "标题");
    EXPECT_EQ(dlg->m_strUrl, "/pages/main.htm");
    EXPECT_EQ(dlg->Template().cx, before.cx);
    EXPECT_EQ(log->maximized, 0);

    EXPECT_EQ(Call("Navigate", R"(b.htm$$t$$p2$${"x":"9","width":"800","height":"600","status":"MAX"})"), "true");
    EXPECT_EQ(dlg->Template().cx, 400);
    EXPECT_EQ(dlg->Template().x, 120);  // centred: x is not kept
    EXPECT_EQ(dlg->Template().y, 99);
    EXPECT_EQ(log->maximized, 1);
    EXPECT_EQ(Call("Navigate", R"(c.htm$$t$$p3$${"width":800,"height":"0"})"), "true");
    EXPECT_EQ(dlg->Template().x, 120);  // a zero height leaves the template alone
    EXPECT_EQ(log->navigations.size(), 3u);
}

TEST_F(ScriptBridgeTest, ShowPageDlgRunsAChildAndReturnsItsResult) {
    CHtmlBaseDlg* seen = nullptr;
    std::string childUrl, childParam, childTitle;
    DlgTemplate childTemplate;
    bool childMax = false;
    log->onRun = [&](CHtmlBaseDlg& child) {
        seen = &child;
        childUrl = child.m_strUrl;
        childParam = child.m_strPageParam;
        childTitle = child.m_strTitle;
        childTemplate = child.Template();
        childMax = child.Maximize();
        std::string e;
        child.CallFromHtml("", "PutPageResult", "one", e);
        child.CallFromHtml("", "PutPageResult", "child result", e);
    };
    EXPECT_EQ(Call("ShowPageDlg", "c.htm$$t"), "");
    EXPECT_EQ(Call("ShowPageDlg", "c.htm$$t$$p$${}$$x"), L("false:参数错误！"));
    EXPECT_EQ(Call("ShowPageDlg", "c.htm$$t$$p$$[1,"), L("JSON参数错误"));
    EXPECT_EQ(seen, nullptr);

    EXPECT_EQ(Call("ShowPageDlg", "c.htm$$child$$param"), "child result");
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(childUrl, dir.path() + "/pages/c.htm");
    EXPECT_EQ(childParam, "param");
    EXPECT_EQ(childTitle, "child");
    // No options: a captionless, borderless popup over the whole work area.
    EXPECT_EQ(childTemplate.style, 0x90000040u);
    EXPECT_EQ(childTemplate.cx, 640);
    EXPECT_EQ(childTemplate.cy, 481);
    EXPECT_EQ(dlg->GetPageResult(), "");

    EXPECT_EQ(
        Call(
            "ShowPageDlg",
            R"(c.htm$$child$$param$${"width":"800","height":"600","align":"right-bottom","status":"max","border":"0","x":"50"})"),
        "child result");
    EXPECT_EQ(childTemplate.cx, 400);
    EXPECT_EQ(childTemplate.x, 240);
    EXPECT_EQ(childTemplate.y, 199);
    EXPECT_TRUE(childMax);
    EXPECT_EQ(childTemplate.style,
              0x90000040u | kWsSysMenu | kWsMinimizeBox | kWsMaximizeBox);  // border 0 took the caption
    EXPECT_EQ(Call("ShowPageDlg", R"(c.htm$$child$$param$${"caption":"1","border":"7","sysmenu":0,"minbox":"x"})"),
              "child result");
    EXPECT_EQ(childTemplate.style, 0x90000040u | kWsCaption | kWsMaximizeBox);
    EXPECT_EQ(childTemplate.cy, 481);
}

TEST_F(ScriptBridgeTest, LinkCommandsCheckTheirFieldsAndKeepTheQueueMoving) {
    EXPECT_EQ(Call("StartTcpsocket", "127.0.0.1$$9100$$from$$name$$gs"), "-1");
    EXPECT_EQ(Call("StartTcpsocket", "  "), "-1");
    EXPECT_TRUE(tcp.starts.empty());
    EXPECT_EQ(Call("StartTcpsocket", " 127.0.0.1$$abc$$from$$name$$$$rydm "), "");
    ASSERT_EQ(tcp.starts.size(), 1u);
    EXPECT_EQ(tcp.starts[0], "127.0.0.1|0|from|name||rydm");
    EXPECT_EQ(Call("StopTcpsocket", ""), "");
    EXPECT_EQ(tcp.stops, 1);

    EXPECT_EQ(Call("StartWebsocket", "ws://x$$from$$name$$gs"), "-1");
    EXPECT_EQ(Call("StartWebsocket", "ws://x$$from$$name$$gs$$ry"), "0");
    EXPECT_EQ(ws.starts.at(0), "ws://x|from|name|gs|ry");
    EXPECT_EQ(Call("StopWebsocket", ""), "");
    EXPECT_EQ(ws.stops, 1);
    EXPECT_EQ(log->keepingQueue, 4);  // every Start and Stop ran with the window's queue moving
}

TEST_F(ScriptBridgeTest, WithoutLinksTheLinkCommandsStillAnswer) {
    CHtmlBaseDlg bare(FakeContext(dir.path(), log));
    std::string e;
    EXPECT_EQ(bare.CallFromHtml("", "StartTcpsocket", "h$$1$$f$$n$$g$$r", e), "");
    EXPECT_EQ(bare.CallFromHtml("", "StartTcpsocket", "h$$1", e), "-1");
    EXPECT_EQ(bare.CallFromHtml("", "StartWebsocket", "ws://h$$f$$n$$g$$r", e), "2");
    EXPECT_EQ(bare.CallFromHtml("", "StopWebsocket", "", e), "");
    EXPECT_EQ(bare.CallFromHtml("", "StopTcpsocket", "", e), "");
}

}  // namespace
}  // namespace quorvin
