// BrowserEvents: the WebBrowser control's DWebBrowserEvents2 as plain
// callbacks. Navigation is asked about before it starts; new windows are
// always refused (a page's links and scripts stay in its own window).
#pragma once

#include <oaidl.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>

namespace quorvin::win {

class BrowserEvents final : public IDispatch {
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

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

private:
    BrowserEvents(IDispatch* browser, Handlers handlers) : m_browser(browser), m_handlers(std::move(handlers)) {}
    ~BrowserEvents() = default;

    std::atomic<ULONG> m_refs{1};
    IDispatch* m_browser;  // not owned: the control owns its sink's connection
    Handlers m_handlers;
};

}  // namespace quorvin::win
