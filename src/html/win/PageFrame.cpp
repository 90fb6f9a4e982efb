#include "html/win/PageFrame.h"

#include <algorithm>

#include "html/HtmlBaseDlg.h"
#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

constexpr wchar_t kClassName[] = L"QuorvinPageWindow";

bool RegisterOnce(WNDPROC proc) {
    static const bool ok = [proc] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        // The program's own icon when it has one.
        wc.hIcon = LoadIconW(wc.hInstance, MAKEINTRESOURCEW(1));
        if (wc.hIcon == nullptr) wc.hIcon = LoadIconW(nullptr, MAKEINTRESOURCEW(32512));  // IDI_APPLICATION
        wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));                       // IDC_ARROW
        wc.lpszClassName = kClassName;
        return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    }();
    return ok;
}

}  // namespace

FrameGeometry GeometryOf(const CHtmlBaseDlg& dlg) {
    FrameGeometry g;
    // The template's bits are the window style bits; the low word holds
    // dialog-only styles (DS_SETFONT) that mean something else to a window,
    // and visibility comes when the window is shown.
    g.style = (dlg.Template().style & 0xFFFF0000u & ~static_cast<DWORD>(WS_VISIBLE)) | WS_CLIPCHILDREN;
    g.exStyle = dlg.Template().dwExtendedStyle;
    const PixelRect r = dlg.WindowRect();
    g.outer = RECT{r.x, r.y, r.x + std::max(1, r.width), r.y + std::max(1, r.height)};
    AdjustWindowRectEx(&g.outer, g.style, FALSE, g.exStyle);
    return g;
}

PageFrame::PageFrame(const CHtmlBaseDlg& dlg, HWND owner, Events events) : m_owner(owner), m_events(std::move(events)) {
    if (!RegisterOnce(Proc)) return;
    const FrameGeometry g = GeometryOf(dlg);
    m_hwnd = CreateWindowExW(g.exStyle, kClassName, LocalToWide(dlg.m_strTitle).c_str(), g.style, g.outer.left,
                             g.outer.top, g.outer.right - g.outer.left, g.outer.bottom - g.outer.top, owner, nullptr,
                             GetModuleHandleW(nullptr), this);
}

PageFrame::~PageFrame() {
    m_events = {};
    // The owner comes back before this window goes, so it is the one
    // activated next rather than some other program's window.
    if (m_ownerDisabled) EnableWindow(m_owner, TRUE);
    if (m_hwnd != nullptr) {
        SetWindowLongPtrW(m_hwnd, GWLP_USERDATA, 0);
        DestroyWindow(m_hwnd);
    }
}

void PageFrame::Show(bool maximized) {
    if (m_hwnd == nullptr) return;
    if (m_owner != nullptr && IsWindowEnabled(m_owner)) {
        EnableWindow(m_owner, FALSE);
        m_ownerDisabled = true;
    }
    ShowWindow(m_hwnd, maximized ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL);
    UpdateWindow(m_hwnd);
    SetForegroundWindow(m_hwnd);
}

void PageFrame::SetTitle(const std::wstring& title) {
    if (m_hwnd != nullptr) SetWindowTextW(m_hwnd, title.c_str());
}

void PageFrame::Maximize() {
    if (m_hwnd != nullptr) ShowWindow(m_hwnd, SW_SHOWMAXIMIZED);
}

LRESULT CALLBACK PageFrame::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lp);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<PageFrame*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (self == nullptr) return DefWindowProcW(hwnd, msg, wp, lp);
    // Each handler is copied before it runs: it may end this window.
    switch (msg) {
        case WM_CLOSE:
            if (auto fn = self->m_events.closeCommand) fn();
            return 0;  // the window ends by the dialog's rules, not here
        case WM_SIZE:
            if (auto fn = self->m_events.resized) fn();
            return 0;
        case WM_SETFOCUS:
            if (auto fn = self->m_events.focused) fn();
            return 0;
        case WM_ERASEBKGND: return 1;  // the page paints everything
        case WM_DESTROY: {
            self->m_hwnd = nullptr;
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            if (auto fn = self->m_events.destroyed) fn();
            return 0;
        }
        default: return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace quorvin::win
