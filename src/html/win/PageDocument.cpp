#include "html/win/PageDocument.h"

// clang-format off
#include <windows.h>
#include <mshtml.h>
// clang-format on

#include "html/win/ComPtr.h"
#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

ComPtr<IHTMLElement> FindElement(IDispatch* document, const wchar_t* idOrName) {
    ComPtr<IHTMLDocument3> doc3 = ComPtr<IDispatch>::Share(document).As<IHTMLDocument3>();
    if (!doc3) return {};
    Bstr key = MakeBstr(idOrName);
    ComPtr<IHTMLElement> element;
    if (SUCCEEDED(doc3->getElementById(key.get(), element.Out())) && element) return element;
    ComPtr<IHTMLElementCollection> named;
    if (FAILED(doc3->getElementsByName(key.get(), named.Out())) || !named) return {};
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = 0;
    VARIANT none;
    VariantInit(&none);
    ComPtr<IDispatch> first;
    if (FAILED(named->item(index, none, first.Out())) || !first) return {};
    return first.As<IHTMLElement>();
}

}  // namespace

ScriptCall CallPageFunction(IDispatch* document, const std::wstring& name, const std::vector<std::wstring>& args) {
    ComPtr<IHTMLDocument> doc = ComPtr<IDispatch>::Share(document).As<IHTMLDocument>();
    if (!doc) return ScriptCall::NoFunction;
    ComPtr<IDispatch> script;
    if (FAILED(doc->get_Script(script.Out())) || !script) return ScriptCall::NoFunction;
    Bstr member = MakeBstr(name);
    LPOLESTR names[] = {member.get()};
    DISPID id = DISPID_UNKNOWN;
    if (FAILED(script->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id))) return ScriptCall::NoFunction;
    // Arguments go last first; the page's functions take (text, undefined).
    std::vector<VARIANT> variants(args.size());
    for (std::size_t i = 0; i < args.size(); ++i) {
        VARIANT& v = variants[args.size() - 1 - i];
        VariantInit(&v);
        v.vt = VT_BSTR;
        v.bstrVal = MakeBstr(args[i]).release();
    }
    DISPPARAMS params{variants.data(), nullptr, static_cast<UINT>(variants.size()), 0};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    const HRESULT hr =
        script->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, &exception, nullptr);
    VariantClear(&result);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    for (VARIANT& v : variants) VariantClear(&v);
    if (hr == DISP_E_MEMBERNOTFOUND || hr == DISP_E_UNKNOWNNAME) return ScriptCall::NoFunction;
    return SUCCEEDED(hr) ? ScriptCall::Done : ScriptCall::Failed;
}

bool FillPageParam(IDispatch* document, const std::wstring& text) {
    ComPtr<IHTMLElement> element = FindElement(document, L"txtPageParam");
    if (!element) return false;
    Bstr value = MakeBstr(text);
    if (ComPtr<IHTMLInputElement> input = element.As<IHTMLInputElement>()) {
        return SUCCEEDED(input->put_value(value.get()));
    }
    if (ComPtr<IHTMLTextAreaElement> area = element.As<IHTMLTextAreaElement>()) {
        return SUCCEEDED(area->put_value(value.get()));
    }
    return SUCCEEDED(element->put_innerText(value.get()));
}

}  // namespace quorvin::win
