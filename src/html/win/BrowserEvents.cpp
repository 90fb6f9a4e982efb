#include "html/win/BrowserEvents.h"

// clang-format off
#include <exdisp.h>
#include <exdispid.h>
// clang-format on

#include "html/win/ComPtr.h"
#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

// The event's arguments come last first.
const VARIANT* Arg(const DISPPARAMS* params, UINT index) {
    if (params == nullptr || index >= params->cArgs) return nullptr;
    return &params->rgvarg[params->cArgs - 1 - index];
}

void SetCancel(const VARIANT* cancel, bool value) {
    if (cancel != nullptr && cancel->vt == (VT_BYREF | VT_BOOL) && cancel->pboolVal != nullptr) {
        *cancel->pboolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }
}

std::wstring TextOf(const VARIANT* v) {
    if (v == nullptr) return {};
    if (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) return TextOf(v->pvarVal);
    if (v->vt == VT_BSTR) return std::wstring(BstrText(v->bstrVal));
    if (v->vt == (VT_BYREF | VT_BSTR) && v->pbstrVal != nullptr) return std::wstring(BstrText(*v->pbstrVal));
    return {};
}

IUnknown* IdentityOf(IDispatch* object) {
    // COM identity: the same object answers IUnknown with the same pointer.
    if (object == nullptr) return nullptr;
    IUnknown* unknown = nullptr;
    if (FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)))) return nullptr;
    unknown->Release();  // only compared, never used
    return unknown;
}

bool IsTopFrame(const VARIANT* frame, IDispatch* browser) {
    if (frame == nullptr || frame->vt != VT_DISPATCH) return false;
    return IdentityOf(frame->pdispVal) == IdentityOf(browser);
}

}  // namespace

BrowserEvents* BrowserEvents::Create(IDispatch* browser, Handlers handlers) {
    return new BrowserEvents(browser, std::move(handlers));
}

BrowserEvents::BrowserEvents(IDispatch* browser, Handlers handlers)
    : DispatchObject(&DIID_DWebBrowserEvents2), m_browser(browser), m_handlers(std::move(handlers)) {}

HRESULT BrowserEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    switch (id) {
        case DISPID_BEFORENAVIGATE2: {
            // (pDisp, URL, Flags, TargetFrameName, PostData, Headers, Cancel)
            const bool top = IsTopFrame(Arg(params, 0), m_browser);
            const auto allowAddress = m_handlers.allowAddress;  // a callback may detach this sink
            const bool allow = allowAddress && allowAddress(TextOf(Arg(params, 1)), top);
            SetCancel(Arg(params, 6), !allow);
            break;
        }
        case DISPID_NEWWINDOW2:  // (ppDisp, Cancel)
        case DISPID_NEWWINDOW3:  // (ppDisp, Cancel, dwFlags, bstrUrlContext, bstrUrl)
            SetCancel(Arg(params, 1), true);
            break;
        case DISPID_DOCUMENTCOMPLETE:  // (pDisp, URL)
            if (IsTopFrame(Arg(params, 0), m_browser)) {
                const auto loadFinished = m_handlers.loadFinished;
                if (loadFinished) loadFinished();
            }
            break;
        default: break;
    }
    return S_OK;
}

}  // namespace quorvin::win
