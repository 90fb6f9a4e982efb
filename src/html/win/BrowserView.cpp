#include "html/win/BrowserView.h"

#include <exdispid.h>

#include <cstdio>

#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

std::string Failure(const char* what, HRESULT hr) {
    char text[96];
    std::snprintf(text, sizeof text, "%s failed (0x%08lx)", what, static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

std::unique_ptr<BrowserView> BrowserView::Create(HWND parent, IDispatch* external, BrowserEvents::Handlers events,
                                                 std::string& error) {
    std::unique_ptr<BrowserView> view(new BrowserView());
    view->m_parent = parent;
    HRESULT hr = CoCreateInstance(CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                  reinterpret_cast<void**>(view->m_object.Out()));
    if (FAILED(hr) || !view->m_object) {
        error = Failure("creating the WebBrowser control", hr);
        return nullptr;
    }
    view->m_site = ComPtr<BrowserSite>::Adopt(BrowserSite::Create(parent, external));
    hr = view->m_object->SetClientSite(static_cast<IOleClientSite*>(view->m_site.Get()));
    if (FAILED(hr)) {
        error = Failure("giving the WebBrowser control its site", hr);
        return nullptr;
    }
    OleSetContainedObject(view->m_object.Get(), TRUE);
    RECT rc;
    GetClientRect(parent, &rc);
    hr = view->m_object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(view->m_site.Get()), 0,
                                parent, &rc);
    if (FAILED(hr)) {
        error = Failure("activating the WebBrowser control", hr);
        return nullptr;
    }
    view->m_browser = view->m_object.As<IWebBrowser2>();
    if (!view->m_browser) {
        error = "the WebBrowser control has no IWebBrowser2";
        return nullptr;
    }
    // Script errors and security prompts are not the user's business.
    view->m_browser->put_Silent(VARIANT_TRUE);
    view->m_browser->put_RegisterAsDropTarget(VARIANT_FALSE);

    view->m_events = ComPtr<BrowserEvents>::Adopt(BrowserEvents::Create(view->m_browser.Get(), std::move(events)));
    ComPtr<IConnectionPointContainer> points = view->m_browser.As<IConnectionPointContainer>();
    if (!points || FAILED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, view->m_connection.Out())) ||
        FAILED(view->m_connection->Advise(static_cast<IDispatch*>(view->m_events.Get()), &view->m_cookie))) {
        // Without its events the window could not keep navigation in check.
        error = "the WebBrowser control gives no navigation events";
        view->m_connection.Reset();
        return nullptr;
    }
    return view;
}

BrowserView::~BrowserView() {
    if (m_connection) m_connection->Unadvise(m_cookie);
    if (m_events) m_events->Detach();
    if (m_browser) m_browser->Stop();
    if (m_object) {
        if (ComPtr<IOleInPlaceObject> inPlace = m_object.As<IOleInPlaceObject>()) inPlace->InPlaceDeactivate();
        m_object->Close(OLECLOSE_NOSAVE);
        m_object->SetClientSite(nullptr);
    }
    if (m_site) m_site->Detach();
}

void BrowserView::Navigate(const std::wstring& address) {
    Bstr url = MakeBstr(address);
    VARIANT empty;
    VariantInit(&empty);
    m_browser->Navigate(url.get(), &empty, &empty, &empty, &empty);
}

void BrowserView::Reload() {
    VARIANT level;
    VariantInit(&level);
    level.vt = VT_I4;
    level.lVal = REFRESH_COMPLETELY;
    m_browser->Refresh2(&level);
}

void BrowserView::FitToParent() {
    RECT rc;
    GetClientRect(m_parent, &rc);
    if (ComPtr<IOleInPlaceObject> inPlace = m_object.As<IOleInPlaceObject>()) inPlace->SetObjectRects(&rc, &rc);
}

void BrowserView::Focus() {
    RECT rc;
    GetClientRect(m_parent, &rc);
    m_object->DoVerb(OLEIVERB_UIACTIVATE, nullptr, static_cast<IOleClientSite*>(m_site.Get()), 0, m_parent, &rc);
}

bool BrowserView::TranslateKey(MSG& msg) {
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.hwnd != m_parent && !IsChild(m_parent, msg.hwnd)) return false;
    IOleInPlaceActiveObject* active = m_site->ActiveObject();
    return active != nullptr && active->TranslateAccelerator(&msg) == S_OK;
}

std::wstring BrowserView::LocationUrl() const {
    BSTR raw = nullptr;
    if (FAILED(m_browser->get_LocationURL(&raw))) return {};
    const Bstr url(raw);
    return std::wstring(BstrText(url.get()));
}

ComPtr<IDispatch> BrowserView::Document() const {
    ComPtr<IDispatch> document;
    if (FAILED(m_browser->get_Document(document.Out()))) return {};
    return document;
}

}  // namespace quorvin::win
