// BrowserEvents: the WebBrowser control's DWebBrowserEvents2 as plain
// callbacks. Navigation is asked about before it starts; new windows are
// always refused (a page's links and scripts stay in its own window).
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <functional>
#include <string>

#include "html/win/DispatchObject.h"

namespace quorvin::win {

class BrowserEvents final : public DispatchObject {
public:
    struct Handlers {
        // May the control show address (in its top frame when topLevel)?
        std::function<bool(const std::wstring& address, bool topLevel)> allowAddress;
        // The top document has loaded.
        std::function<void()> loadFinished;
    };

    static BrowserEvents* Create(IDispatch* browser, Handlers handlers);
    // No more callbacks after this.
    void Detach() { m_handlers = {}; }

    // IDispatch
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

private:
    BrowserEvents(IDispatch* browser, Handlers handlers);
    ~BrowserEvents() override = default;

    IDispatch* m_browser;  // not owned: the control owns its sink's connection
    Handlers m_handlers;
};

}  // namespace quorvin::win
