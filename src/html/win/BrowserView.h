// BrowserView: the WebBrowser control (IWebBrowser2) embedded as an OLE
// in-place object filling a window's client area, with its site, its event
// sink and the page's window.external.
#pragma once

#include <windows.h>
// clang-format off
#include <ole2.h>
#include <exdisp.h>
// clang-format on

#include <memory>
#include <string>

#include "html/win/BrowserEvents.h"
#include "html/win/BrowserSite.h"
#include "html/win/ComPtr.h"

namespace quorvin::win {

class BrowserView {
public:
    // Null, with the reason in error, when the control cannot be made (no
    // browser engine on the system). On a thread where OLE is initialised.
    static std::unique_ptr<BrowserView> Create(HWND parent, IDispatch* external, BrowserEvents::Handlers events,
                                               std::string& error);
    ~BrowserView();
    BrowserView(const BrowserView&) = delete;
    BrowserView& operator=(const BrowserView&) = delete;

    void Navigate(const std::wstring& address);
    void Reload();
    // Fills the parent's client area again (after it was resized).
    void FitToParent();
    void Focus();
    // The control's first look at a keyboard message (Tab between fields,
    // editing keys); true when it has taken it.
    bool TranslateKey(MSG& msg);
    // The address of the shown document.
    std::wstring LocationUrl() const;
    // The shown document's IDispatch (null while there is none).
    ComPtr<IDispatch> Document() const;

private:
    BrowserView() = default;

    HWND m_parent = nullptr;
    ComPtr<IOleObject> m_object;
    ComPtr<IWebBrowser2> m_browser;
    ComPtr<BrowserSite> m_site;
    ComPtr<BrowserEvents> m_events;
    ComPtr<IConnectionPoint> m_connection;
    DWORD m_cookie = 0;
};

}  // namespace quorvin::win
