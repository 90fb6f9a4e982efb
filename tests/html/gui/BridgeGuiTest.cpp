// The bridge through the real window: a test page calls every command with
// window.external.CallFromHtml and hands back the answers; the page events
// (OnDlgInit, BtnOK/BtnCancel) and pages the agent does not trust.
#include <cjson/cJSON.h>

#include <filesystem>
#include <utility>
#include <vector>

#include "GuiFixture.h"
#include "common/CodePage.h"
#include "common/Json.h"

namespace quorvin {
namespace {

using testing::GuiTest;
using testing::GuiWindow;
using testing::ReadBytes;
using testing::TestPages;
using testing::Watchdog;
using testing::WriteBytes;

struct Answer {
    bool raised = false;
    std::string text;
};

// Runs commands.htm with the calls (UTF-8); one answer per call.
std::vector<Answer> RunCalls(GuiWindow& w, const std::vector<std::pair<std::string, std::string>>& calls) {
    JsonPtr list(cJSON_CreateArray());
    for (const auto& [command, param] : calls) {
        cJSON* pair = cJSON_CreateArray();
        cJSON_AddItemToArray(pair, cJSON_CreateString(command.c_str()));
        cJSON_AddItemToArray(pair, cJSON_CreateString(param.c_str()));
        cJSON_AddItemToArray(list.get(), pair);
    }
    // The window's texts are in the local code page; the answers are read
    // back as UTF-8.
    w.dlg->m_strPageParam = Utf8ToLocal(PrintJson(list.get(), false));
    w.dlg->SetUrl(TestPages() + "commands.htm");
    w.Run(nullptr);
    std::vector<Answer> out;
    JsonPtr result = ParseJson(LocalToUtf8(w.dlg->GetPageResult()));
    const int n = cJSON_GetArraySize(result.get());
    for (int i = 0; i < n; ++i) {
        const cJSON* item = cJSON_GetArrayItem(result.get(), i);
        if (const cJSON* e = cJSON_GetObjectItem(item, "e")) {
            out.push_back({true, e->valuestring ? e->valuestring : ""});
        } else {
            out.push_back({false, GetJsonString(item, "r")});
        }
    }
    return out;
}

class BridgeGuiTest : public GuiTest {};

TEST_F(BridgeGuiTest, EveryCommandAnswersThePage) {
    Watchdog dog(60);
    GuiWindow w;
    const std::string d = w.dir.path();
    std::filesystem::create_directories(d + "/sub");
    WriteBytes(d + "/three.txt", "abc");
    const std::vector<std::pair<std::string, std::string>> calls = {
        {"GetCurrentDir", ""},                             // 0
        {"getguid", ""},                                   // 1
        {"GetFileLength", d + "/three.txt"},               // 2
        {"GetFileLength", d + "/missing"},                 // 3
        {"GetFileLength", d + "/sub"},                     // 4 raises
        {"FileExist", d + "/*.txt"},                       // 5
        {"FileExist", d + "/nothing*"},                    // 6
        {"SaveTxtFile", d + "/s.txt$$hello 中文"},         // 7
        {"SaveTxtFile", d + "/s.txt"},                     // 8
        {"SaveTxtFile", "   "},                            // 9
        {"LoadTxtFile", d + "/s.txt"},                     // 10
        {"CopyFile", d + "/s.txt$$" + d + "/c.txt"},       // 11
        {"CopyFile", d + "/s.txt$$"},                      // 12: an empty destination
        {"CopyFile", d + "/s.txt"},                        // 13
        {"DeleteFile", d + "/c.txt"},                      // 14
        {"DeleteFile", d + "/c.txt"},                      // 15
        {"LockString", "abc"},                             // 16
        {"GB2312ToUTF8", "中文"},                          // 17
        {"GB2312ToUTF8", "中文$$" + d + "/g.txt"},         // 18
        {"GB2312ToUTF8", "  "},                            // 19 raises
        {"UTF8ToGB2312", "中文"},                          // 20
        {"PutPageResult", "x"},                            // 21
        {"StartTcpsocket", "127.0.0.1$$9100$$a$$b$$c"},    // 22
        {"StartTcpsocket", ""},                            // 23
        {"StartWebsocket", "ws://127.0.0.1:1/$$a$$b$$c"},  // 24
        {"Navigate", "record.htm$$t"},                     // 25
        {"Navigate", "record.htm$$t$$p$${bad"},            // 26
        {"Navigate", "a$$b$$c$$d$$e"},                     // 27
        {"ShowPageDlg", "record.htm$$t"},                  // 28
        {"ShowPageDlg", "record.htm$$t$$p$$not json"},     // 29
        {"ShowPageDlg", "a$$b$$c$$d$$e"},                  // 30
        {"ShowPageDlg", "   "},                            // 31
        {"NoSuchCommand", "x"},                            // 32
    };
    const std::vector<Answer> a = RunCalls(w, calls);
    ASSERT_EQ(a.size(), calls.size()) << w.dlg->GetPageResult();
    EXPECT_EQ(a[0].text, d);
    EXPECT_EQ(a[1].text.size(), 32u);
    EXPECT_EQ(a[1].text.substr(0, 2), "00");
    EXPECT_EQ(a[2].text, "3");
    EXPECT_EQ(a[3].text, "0");
    EXPECT_TRUE(a[4].raised);
    EXPECT_EQ(a[5].text, "true");
    EXPECT_EQ(a[6].text, "false");
    EXPECT_EQ(a[7].text, "success");
    EXPECT_EQ(a[8].text, "error");
    EXPECT_EQ(a[9].text, "error");
    EXPECT_EQ(a[10].text, "hello 中文");
    EXPECT_EQ(a[11].text, "success");
    EXPECT_EQ(a[12].text, "error");
    EXPECT_EQ(a[13].text, "error");
    EXPECT_EQ(a[14].text, "success");
    EXPECT_EQ(a[15].text, "error");
    EXPECT_EQ(a[16].text, "_db`");
    EXPECT_EQ(a[17].text, "中文");  // UTF-8 locale: the bytes read back as the same text
    EXPECT_EQ(a[18].text, "success");
    EXPECT_EQ(ReadBytes(d + "/g.txt"), "中文");
    EXPECT_TRUE(a[19].raised);
    EXPECT_FALSE(a[20].raised);
    EXPECT_EQ(a[21].text, "");
    EXPECT_EQ(a[22].text, "-1");
    EXPECT_EQ(a[23].text, "-1");
    EXPECT_EQ(a[24].text, "-1");
    EXPECT_EQ(a[25].text, "");
    EXPECT_EQ(a[26].text, "false:JSON参数错误");
    EXPECT_EQ(a[27].text, "false:参数错误！");
    EXPECT_EQ(a[28].text, "");
    EXPECT_EQ(a[29].text, "JSON参数错误");
    EXPECT_EQ(a[30].text, "false:参数错误！");
    EXPECT_EQ(a[31].text, "");
    EXPECT_EQ(a[32].text, "");
    EXPECT_TRUE(gtk::GtkPageHost::RunningWindows().empty());
}

TEST_F(BridgeGuiTest, AGbkCodePageIsConvertedAtThePage) {
    Watchdog dog(60);
    SetLocalCodePage("GBK");
    GuiWindow w;
    const std::string d = w.dir.path();
    const std::vector<Answer> a = RunCalls(w, {{"SaveTxtFile", d + "/g.txt$$中文"},
                                               {"LoadTxtFile", d + "/g.txt"},
                                               {"GB2312ToUTF8", "中文"},
                                               {"UTF8ToGB2312", "中文"},
                                               {"LockString", "中"}});
    const std::string gbk = ReadBytes(d + "/g.txt");
    SetLocalCodePage("");
    ASSERT_EQ(a.size(), 5u);
    EXPECT_EQ(gbk, "\xD6\xD0\xCE\xC4");  // the page's text, stored in the local code page
    EXPECT_EQ(a[1].text, "中文");
    // The UTF-8 bytes come back read as local text, as they always have.
    SetLocalCodePage("GBK");
    const std::string asLocal = LocalToUtf8("\xE4\xB8\xAD\xE6\x96\x87");
    SetLocalCodePage("");
    EXPECT_EQ(a[2].text, asLocal);
    EXPECT_NE(a[2].text, "中文");
    // The page's text reaches the command as GBK bytes, which are not UTF-8:
    // one "?" per byte.
    EXPECT_EQ(a[3].text, "????");
    EXPECT_EQ(a[4].text.substr(0, 1), "_");
}

TEST_F(BridgeGuiTest, TenMegabyteTextsCrossTheBridge) {
    Watchdog dog(90);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "huge.htm");
    w.dlg->m_strPageParam = w.dir.path();
    w.Run(nullptr);
    JsonPtr r = ParseJson(w.dlg->GetPageResult());
    ASSERT_TRUE(r) << w.dlg->GetPageResult();
    EXPECT_EQ(GetJsonString(r.get(), "save"), "success");
    EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItem(r.get(), "same")));
    EXPECT_GE(cJSON_GetObjectItem(r.get(), "length")->valuedouble, 10.0 * 1024 * 1024);
    EXPECT_EQ(cJSON_GetObjectItem(r.get(), "lockLength")->valuedouble,
              cJSON_GetObjectItem(r.get(), "asciiLength")->valuedouble + 1);
    EXPECT_TRUE(cJSON_IsTrue(cJSON_GetObjectItem(r.get(), "mixedLock")));
    EXPECT_GT(std::stoll(GetJsonString(r.get(), "count")), 10LL * 1024 * 1024);
}

TEST_F(BridgeGuiTest, OnDlgInitOnceWithTheParameter) {
    Watchdog dog(60);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm?stamp=0001");
    w.dlg->m_strPageParam = "{\"server\":\"127.0.0.1\",\"名\":\"值\"}";
    std::optional<std::string> first, afterReload, afterNavigate, title;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        first = w.Eval("window.inits");
        // A reload and a Navigate command load new documents: no second OnDlgInit.
        const std::string id = w.Eval("window.loadId").value_or("0");
        w.Eval("location.reload(); true");
        w.WaitForScript("document.readyState === 'complete' && window.loadId !== " + id, 10000);
        afterReload = w.Eval("[window.inits, document.getElementById('txtPageParam').value]");
        w.Eval("window.external.CallFromHtml('', 'Navigate', 'record.htm$$新标题$$p2') === 'true'");
        w.WaitForScript(
            "document.readyState === 'complete' && window.inits !== undefined && document.title === 'record'", 10000);
        Delay(300);
        afterNavigate = w.Eval("window.inits");
        w.OnWindow([&] { title = gtk_window_get_title(w.Host().Window()); });
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    ASSERT_TRUE(first);
    JsonPtr inits = ParseJson(*first);
    ASSERT_EQ(cJSON_GetArraySize(inits.get()), 1) << *first;
    const cJSON* init = cJSON_GetArrayItem(inits.get(), 0);
    EXPECT_EQ(GetJsonString(init, "p"), "{\"server\":\"127.0.0.1\",\"名\":\"值\"}");
    EXPECT_EQ(GetJsonString(init, "second"), "undefined");
    EXPECT_EQ(GetJsonString(init, "box"), "{\"server\":\"127.0.0.1\",\"名\":\"值\"}");
    EXPECT_EQ(afterReload, "[[],\"\"]");
    EXPECT_EQ(afterNavigate, "[]");
    EXPECT_EQ(title, "新标题");
    EXPECT_EQ(w.dlg->m_strPageParam, "p2");
}

TEST_F(BridgeGuiTest, BtnOkDoesNothingBtnCancelEndsWithoutOnDlgEnd) {
    Watchdog dog(60);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "record.htm");
    w.dlg->m_strPageParam = "p";
    std::size_t openAfterOk = 0;
    const int result = w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.Eval("document.getElementById('BtnOK').click(); true");
        Delay(300);
        openAfterOk = w.RunningCount();
        w.Eval("setTimeout(function () { document.getElementById('cancelInner').click(); }, 0); true");
    });
    EXPECT_EQ(openAfterOk, 1u);
    EXPECT_EQ(result, CHtmlBaseDlg::IDCANCEL);
    EXPECT_EQ(w.dlg->GetPageResult(), "");  // OnDlgEnd would have put "end:p"
}

TEST_F(BridgeGuiTest, APageWithoutScriptFunctionsStillWorks) {
    Watchdog dog(60);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "bare.htm");
    bool notified = false;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.dlg->NotifyPage("nobody listens");  // returns: the text is dropped
        notified = true;
        w.OnWindow([&] { gtk_window_close(w.Host().Window()); });  // not a main page: no question
    });
    EXPECT_TRUE(notified);
    EXPECT_TRUE(gtk::GtkPageHost::RunningWindows().empty());
}

TEST_F(BridgeGuiTest, DocumentsTheAgentDidNotLoadCannotCall) {
    Watchdog dog(60);
    GuiWindow w;
    w.dlg->SetUrl(TestPages() + "frames.htm");
    std::optional<std::string> forged, tokenless, viaParent, opened, afterForeign;
    w.Run([&] {
        ASSERT_TRUE(w.ready.Wait(20000));
        w.WaitForScript("document.getElementById('inner').contentDocument.readyState === 'complete'", 5000);
        // The frame has no window.external and does not know the view's token.
        forged = w.Eval(
            "rawCall(document.getElementById('inner').contentWindow, "
            "JSON.stringify({t: 'guess', op: 'call', a: '', b: 'SaveTxtFile', c: '" +
            w.dir.path() + "/forged.txt$$x'}))");
        tokenless = w.Eval("String(document.getElementById('inner').contentWindow.external === window.external)");
        viaParent = w.Eval("rawCall(window, '{\"op\":\"call\",\"b\":\"GetCurrentDir\"}')");
        opened = w.Eval("String(window.open('record.htm') === null)");
        // A foreign address is not navigated to: the page stays.
        w.Eval("location.href = 'http://127.0.0.1:9/'; true");
        Delay(500);
        afterForeign = w.Eval("location.protocol + ':' + (typeof window.external.CallFromHtml)");
        w.dlg->Post([&] { w.dlg->Host().EndDialog(CHtmlBaseDlg::IDCANCEL); });
    });
    EXPECT_EQ(forged, "\"refused\"");
    EXPECT_FALSE(std::filesystem::exists(w.dir / "forged.txt"));
    EXPECT_EQ(tokenless, "\"false\"");
    EXPECT_EQ(viaParent, "\"refused\"");
    EXPECT_EQ(opened, "\"true\"");
    EXPECT_EQ(afterForeign, "\"file::function\"");
}

}  // namespace
}  // namespace quorvin
