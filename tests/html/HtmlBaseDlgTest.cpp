// The window's rules without a screen: template geometry in dialog units,
// frame style bits, the first-load rule and the close rules.
#include <gtest/gtest.h>

#include <filesystem>

#include "TempDir.h"
#include "common/CodePage.h"
#include "html/FakePageHost.h"
#include "html/HtmlBaseDlg.h"

namespace quorvin {
namespace {

using testing::FakeContext;
using testing::FakeHostLog;
using testing::TempDir;

class RecordingPrompt : public ConfirmPrompt {
public:
    bool Ask(const std::string& question, bool noIsDefault) override {
        questions.push_back(question);
        noDefault = noIsDefault;
        return answer;
    }
    std::vector<std::string> questions;
    bool noDefault = false;
    bool answer = true;
};

class HtmlBaseDlgTest : public ::testing::Test {
protected:
    TempDir dir;
    std::shared_ptr<FakeHostLog> log = std::make_shared<FakeHostLog>();
};

TEST_F(HtmlBaseDlgTest, GeometryIsKeptInDialogUnitsOfTheWorkArea) {
    {
        CHtmlBaseDlg dlg(FakeContext(dir.path(), log));
        // 1280x1024 work area: 1280*4/8 = 640, 1024*8/17 = 481.
        EXPECT_EQ(dlg.Template().style, 0x90000040u);
        EXPECT_EQ(dlg.Template().x, 0);
        EXPECT_EQ(dlg.Template().cx, 640);
        EXPECT_EQ(dlg.Template().cy, 481);
        dlg.SetPosition(0, 0, 0, 0);
        EXPECT_EQ(dlg.Template().cx, 640);
        EXPECT_EQ(dlg.Template().cy, 481);
        dlg.SetPosition(0, 0, 800, 0);
        EXPECT_EQ(dlg.Template().cx, 400);
        EXPECT_EQ(dlg.Template().cy, 481);
        dlg.SetSize(10, 34, 801, 600);  // no work-area defaults, truncation toward zero
        EXPECT_EQ(dlg.Template().x, 5);
        EXPECT_EQ(dlg.Template().y, 16);
        EXPECT_EQ(dlg.Template().cx, 400);
        EXPECT_EQ(dlg.Template().cy, 282);
        const PixelRect px = dlg.WindowRect();
        EXPECT_EQ(px.width, 800);
        EXPECT_EQ(px.height, 282 * 17 / 8);
        EXPECT_EQ(px.x, 10);
        dlg.SetSize(0, 0, 100000, -34);  // saturates instead of wrapping
        EXPECT_EQ(dlg.Template().cx, 32767);
        EXPECT_EQ(dlg.Template().cy, -16);
    }
    log->area = {20, 34, 1300, 1058};  // a work area that does not start at 0
    CHtmlBaseDlg offset(FakeContext(dir.path(), log));
    EXPECT_EQ(offset.Template().x, 10);
    EXPECT_EQ(offset.Template().y, 16);
    EXPECT_EQ(offset.Template().cx, 640);
    EXPECT_EQ(offset.Template().cy, 481);
}

TEST_F(HtmlBaseDlgTest, AlignKeywordsPlaceTheWindowInTheWorkAreaSize) {
    CHtmlBaseDlg dlg(FakeContext(dir.path(), log));
    dlg.SetPosition(0, 0, 800, 600);  // cx 400, cy 282; W 640, H 481
    struct Case {
        const char* keyword;
        int x, y;
    };
    const Case cases[] = {{"center", 120, 99},    {"LEFT", 0, 99},    {"left-top", 0, 1},         {"top", 120, 0},
                          {"right-top", 240, 0},  {"Right", 240, 99}, {"right-bottom", 240, 199}, {"bottom", 120, 199},
                          {"left-bottom", 0, 199}};
    for (const Case& c : cases) {
        dlg.SetAlign(c.keyword);
        EXPECT_EQ(dlg.Template().x, c.x) << c.keyword;
        EXPECT_EQ(dlg.Template().y, c.y) << c.keyword;
    }
    dlg.SetAlign("middle");
    dlg.SetAlign("");
    EXPECT_EQ(dlg.Template().x, 0);
    EXPECT_EQ(dlg.Template().y, 199);
    dlg.SetSize(0, 0, 801, 601);  // odd sizes: each half truncates
    dlg.CenterOnWorkArea();
    EXPECT_EQ(dlg.Template().x, 320 - 200);
    EXPECT_EQ(dlg.Template().y, 240 - 141);
}

TEST_F(HtmlBaseDlgTest, StyleSettersFollowTheirOrderRules) {
    CHtmlBaseDlg dlg(FakeContext(dir.path(), log));
    dlg.SetCaption(1);
    EXPECT_TRUE(dlg.HasCaption());
    dlg.SetBorder(0);  // removes both caption bits again
    EXPECT_FALSE(dlg.HasCaption());
    EXPECT_EQ(dlg.Template().style & 0x00C00000u, 0u);
    dlg.SetBorder(1);
    EXPECT_EQ(dlg.Template().style & 0x00C00000u, kWsBorder);
    dlg.SetBorder(2);
    EXPECT_TRUE(dlg.HasCaption());  // both frame bits make the caption
    dlg.SetCaption(2);              // only 1 turns it on
    EXPECT_EQ(dlg.Template().style & 0x00C00000u, 0u);
    const std::uint32_t before = dlg.Template().style;
    dlg.SetBorder(5);
    EXPECT_EQ(dlg.Template().style, before);
    dlg.SetSysMenu(1);
    dlg.SetMinBox(1);
    dlg.SetMaxBox(0);
    EXPECT_EQ(dlg.Template().style & 0x000B0000u, kWsSysMenu | kWsMinimizeBox);
    dlg.SetStatus("MaX");
    EXPECT_TRUE(dlg.Maximize());
    dlg.SetStatus("maximised");
    EXPECT_FALSE(dlg.Maximize());
}

TEST_F(HtmlBaseDlgTest, MainPageAddressesByTheirLastPiece) {
    EXPECT_TRUE(IsMainPageAddress("C:\\agent\\main.htm"));
    EXPECT_TRUE(IsMainPageAddress("/opt/agent/pages/MAIN.HTM?stamp=00ab00cd"));
    EXPECT_TRUE(IsMainPageAddress("http://server/a/LocalServer.htm#top"));
    EXPECT_TRUE(IsMainPageAddress("main.htm"));
    EXPECT_FALSE(IsMainPageAddress("/pages/main.html"));
    EXPECT_FALSE(IsMainPageAddress("/pages/notmain.htm"));
    EXPECT_FALSE(IsMainPageAddress("/pages/main.htm/child.htm"));
    EXPECT_FALSE(IsMainPageAddress(""));
}

TEST_F(HtmlBaseDlgTest, FirstDocumentCompleteOnly) {
    CHtmlBaseDlg dlg(FakeContext(dir.path(), log));
    EXPECT_TRUE(dlg.OnDocumentComplete());
    EXPECT_FALSE(dlg.OnDocumentComplete());
    EXPECT_FALSE(dlg.OnDocumentComplete());
    dlg.OnPageLost();  // the renderer died: the page is loaded afresh
    EXPECT_TRUE(dlg.OnDocumentComplete());
    EXPECT_FALSE(dlg.OnDocumentComplete());
}

TEST_F(HtmlBaseDlgTest, CloseAsksOnMainPagesAndEmptiesTemp) {
    RecordingPrompt prompt;
    SetConfirmPrompt(&prompt);
    std::filesystem::create_directories(dir / "temp/keep");
    testing::WriteBytes(dir / "temp/a.jpg", "a");
    testing::WriteBytes(dir / "temp/keep/b.jpg", "b");
    CHtmlBaseDlg dlg(FakeContext(dir.path(), log));

    dlg.SetUrl("/x/child.htm");
    EXPECT_TRUE(dlg.OnSysClose());
    EXPECT_TRUE(prompt.questions.empty());
    EXPECT_TRUE(std::filesystem::exists(dir / "temp/a.jpg"));

    dlg.SetUrl("/x/main.htm?stamp=0001");
    prompt.answer = false;
    EXPECT_FALSE(dlg.OnSysClose());
    ASSERT_EQ(prompt.questions.size(), 1u);
    // In the local code page, as far as it can hold it (a Western Windows
    // code page cannot).
    EXPECT_EQ(prompt.questions[0], Utf8ToLocal("您确定要退出系统吗？"));
    EXPECT_TRUE(prompt.noDefault);
    EXPECT_TRUE(std::filesystem::exists(dir / "temp/a.jpg"));

    prompt.answer = true;
    EXPECT_TRUE(dlg.OnSysClose());
    EXPECT_FALSE(std::filesystem::exists(dir / "temp/a.jpg"));
    EXPECT_TRUE(std::filesystem::exists(dir / "temp/keep/b.jpg"));
    SetConfirmPrompt(nullptr);
}

}  // namespace
}  // namespace quorvin
