// The page window's style and outer rectangle from the dialog's template,
// as the window options set it: the template gives the client area, dialog-
// only bits never reach the window, and it is shown only once it is ready.
#include <gtest/gtest.h>

#include "TempDir.h"
#include "html/FakePageHost.h"
#include "html/HtmlBaseDlg.h"
#include "html/win/PageFrame.h"

namespace quorvin::win {
namespace {

TEST(PageFrameTest, TheTemplateBecomesTheWindowsStyleAndRectangle) {
    testing::TempDir dir;
    auto log = std::make_shared<testing::FakeHostLog>();
    log->area = {0, 0, 1280, 1024};
    struct Case {
        const char* what;
        int caption, border;
        DWORD present, absent;
    };
    const Case cases[] = {
        {"captionless popup", 0, 0, WS_POPUP, WS_CAPTION | WS_BORDER | WS_DLGFRAME},
        {"caption", 1, 2, WS_POPUP | WS_CAPTION, 0},
        {"thin border only", 0, 1, WS_POPUP | WS_BORDER, WS_DLGFRAME},
        {"caption removed by border 0", 1, 0, WS_POPUP, WS_CAPTION},
    };
    for (const Case& c : cases) {
        CHtmlBaseDlg dlg(testing::FakeContext(dir.path(), log));
        dlg.SetPosition(0, 0, 640, 480);
        dlg.SetAlign("center");
        dlg.SetCaption(c.caption);
        dlg.SetBorder(c.border);
        const FrameGeometry g = GeometryOf(dlg);
        EXPECT_EQ(g.style & c.present, c.present) << c.what;
        EXPECT_EQ(g.style & c.absent, 0u) << c.what;
        // Shown once the browser is in it; DS_SETFONT means something else
        // to a window than to a dialog.
        EXPECT_EQ(g.style & WS_VISIBLE, 0u) << c.what;
        EXPECT_EQ(g.style & 0xFFFFu, 0u) << c.what;

        // The client area is the template's rectangle; the frame is added
        // around it.
        const PixelRect client = dlg.WindowRect();
        RECT frame{0, 0, 0, 0};
        AdjustWindowRectEx(&frame, g.style, FALSE, g.exStyle);
        EXPECT_EQ(g.outer.left, client.x + frame.left) << c.what;
        EXPECT_EQ(g.outer.top, client.y + frame.top) << c.what;
        EXPECT_EQ(g.outer.right - g.outer.left, client.width + frame.right - frame.left) << c.what;
        EXPECT_EQ(g.outer.bottom - g.outer.top, client.height + frame.bottom - frame.top) << c.what;
        if (c.caption == 1 && c.border != 0) {
            EXPECT_LT(g.outer.top, client.y) << c.what;
        }
        if (c.caption == 0 && c.border == 0) {
            EXPECT_EQ(g.outer.top, client.y) << c.what;
        }
    }
}

}  // namespace
}  // namespace quorvin::win
