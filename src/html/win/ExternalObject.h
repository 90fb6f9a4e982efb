// ExternalObject: the page's window.external, an IDispatch whose one method
// is CallFromHtml(a, b, c). Arguments arrive as VARIANTs and leave as UTF-8
// text; the answer goes back as a BSTR or, for an error, as an exception in
// the calling script.
#pragma once

#include <oaidl.h>

#include <functional>
#include <string>

#include "html/BridgeRequest.h"
#include "html/win/DispatchObject.h"

namespace quorvin::win {

// What a call gave: the result text, or an error to raise in the script
// (UTF-8).
struct CallAnswer {
    std::string text;
    std::string error;
};

class ExternalObject final : public DispatchObject {
public:
    static constexpr DISPID kCallFromHtml = 1;
    using Handler = std::function<CallAnswer(CallArgs args)>;

    // A new object holding one reference (the caller's).
    static ExternalObject* Create(Handler handler);
    // Calls that come after this (from a page holding on to the object)
    // fail instead of reaching a window that is gone.
    void Detach() { m_handler = nullptr; }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* exception, UINT* argError) override;

private:
    explicit ExternalObject(Handler handler) : m_handler(std::move(handler)) {}
    ~ExternalObject() override = default;

    Handler m_handler;
};

}  // namespace quorvin::win
