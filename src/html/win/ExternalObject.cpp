#include "html/win/ExternalObject.h"

#include <oleauto.h>

#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

constexpr UINT kArgCount = 3;

// One argument as text: a missing or empty one (undefined, null) is "",
// anything else goes through the automation conversion, as script text
// would (numbers, booleans, objects with a default value). False when it has
// no text form.
bool ArgumentText(const VARIANT& arg, std::string& out) {
    out.clear();
    VARIANT value;
    VariantInit(&value);
    if (FAILED(VariantCopyInd(&value, const_cast<VARIANT*>(&arg)))) return false;  // only read
    const bool absent =
        value.vt == VT_EMPTY || value.vt == VT_NULL || (value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND);
    bool ok = true;
    if (!absent) {
        ok = value.vt == VT_BSTR || SUCCEEDED(VariantChangeType(&value, &value, VARIANT_ALPHABOOL, VT_BSTR));
        if (ok) out = WideToUtf8(BstrText(value.bstrVal));
    }
    VariantClear(&value);
    return ok;
}

void RaiseInScript(EXCEPINFO* exception, const std::string& message) {
    if (exception == nullptr) return;
    *exception = EXCEPINFO{};
    exception->scode = E_FAIL;
    exception->bstrSource = SysAllocString(L"window.external");
    exception->bstrDescription = MakeBstr(Utf8ToWide(message)).release();
}

}  // namespace

ExternalObject* ExternalObject::Create(Handler handler) { return new ExternalObject(std::move(handler)); }

HRESULT ExternalObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
    // Script names are matched without regard to case, as the browser's
    // own objects are.
    HRESULT hr = S_OK;
    ids[0] = names[0] != nullptr && lstrcmpiW(names[0], L"CallFromHtml") == 0 ? kCallFromHtml : DISPID_UNKNOWN;
    if (ids[0] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    // The method has no named parameters.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT ExternalObject::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                               EXCEPINFO* exception, UINT* argError) {
    if (id != kCallFromHtml) return DISP_E_MEMBERNOTFOUND;
    if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
    if (params == nullptr) return E_INVALIDARG;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    if (params->cArgs > kArgCount) return DISP_E_BADPARAMCOUNT;
    // Arguments come last first; missing trailing ones are empty.
    std::string texts[kArgCount];
    for (UINT i = 0; i < params->cArgs; ++i) {
        const UINT position = params->cArgs - 1 - i;
        if (!ArgumentText(params->rgvarg[i], texts[position])) {
            if (argError != nullptr) *argError = i;
            return DISP_E_TYPEMISMATCH;
        }
    }
    if (!m_handler) return E_UNEXPECTED;
    // The handler may run a nested loop (a child window): keep this object
    // and its handler alive whatever the page does meanwhile.
    AddRef();
    const Handler handler = m_handler;
    const CallAnswer answer = handler(CallArgs{std::move(texts[0]), std::move(texts[1]), std::move(texts[2])});
    Release();
    if (!answer.error.empty()) {
        RaiseInScript(exception, answer.error);
        return DISP_E_EXCEPTION;
    }
    if (result != nullptr) {
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = MakeBstr(Utf8ToWide(answer.text)).release();
        // A null BSTR is the empty string, which an empty answer is anyway.
    }
    return S_OK;
}

}  // namespace quorvin::win
