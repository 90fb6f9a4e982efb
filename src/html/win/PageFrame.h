// PageFrame: the top-level window of a page, styled and placed from the
// dialog's template. A window with an owner is modal over it: the owner is
// disabled while it is shown and enabled again (and activated) before it
// goes.
#pragma once

#include <functional>
#include <string>

#include "html/win/Win32.h"

namespace quorvin {
class CHtmlBaseDlg;
}

namespace quorvin::win {

// The template's style and client rectangle as a window's style and outer
// rectangle (the template gives the client area, as a dialog's does).
struct FrameGeometry {
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT outer{};
};
FrameGeometry GeometryOf(const CHtmlBaseDlg& dlg);

class PageFrame {
public:
    struct Events {
        std::function<void()> closeCommand;  // the close button, Alt+F4, the system menu
        std::function<void()> resized;
        std::function<void()> focused;
        std::function<void()> destroyed;  // by anyone but this object
    };

    PageFrame(const CHtmlBaseDlg& dlg, HWND owner, Events events);
    ~PageFrame();
    PageFrame(const PageFrame&) = delete;
    PageFrame& operator=(const PageFrame&) = delete;

    HWND Handle() const { return m_hwnd; }
    void Show(bool maximized);
    void SetTitle(const std::wstring& title);
    void Maximize();

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);

    HWND m_hwnd = nullptr;
    HWND m_owner = nullptr;
    bool m_ownerDisabled = false;
    Events m_events;
};

}  // namespace quorvin::win
