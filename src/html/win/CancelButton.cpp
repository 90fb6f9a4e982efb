#include "html/win/CancelButton.h"

// clang-format off
#include <windows.h>
#include <mshtml.h>
// clang-format on

#include <string>

#include "html/win/ComPtr.h"
#include "html/win/WideText.h"

namespace quorvin::win {
namespace {

enum class Button { None, Ok, Cancel };

std::wstring NameOf(IHTMLElement* element) {
    BSTR raw = nullptr;
    if (SUCCEEDED(element->get_id(&raw)) && raw != nullptr) {
        const Bstr id(raw);
        if (SysStringLen(id.get()) > 0) return std::wstring(BstrText(id.get()));
    }
    Bstr attribute = MakeBstr(L"name");
    VARIANT value;
    VariantInit(&value);
    std::wstring name;
    if (SUCCEEDED(element->getAttribute(attribute.get(), 0, &value)) && value.vt == VT_BSTR) {
        name = BstrText(value.bstrVal);
    }
    VariantClear(&value);
    return name;
}

// The first of the clicked element and its ancestors that is one of the
// two buttons.
Button ClickedButton(IDispatch* document) {
    ComPtr<IHTMLDocument2> doc = ComPtr<IDispatch>::Share(document).As<IHTMLDocument2>();
    ComPtr<IHTMLWindow2> window;
    if (!doc || FAILED(doc->get_parentWindow(window.Out())) || !window) return Button::None;
    ComPtr<IHTMLEventObj> event;
    if (FAILED(window->get_event(event.Out())) || !event) return Button::None;
    ComPtr<IHTMLElement> element;
    if (FAILED(event->get_srcElement(element.Out()))) return Button::None;
    for (int depth = 0; element && depth < 256; ++depth) {
        const std::wstring name = NameOf(element.Get());
        if (name == L"BtnCancel") return Button::Cancel;
        if (name == L"BtnOK") return Button::Ok;
        ComPtr<IHTMLElement> parent;
        if (FAILED(element->get_parentElement(parent.Out()))) break;
        element = parent;
    }
    return Button::None;
}

}  // namespace

CancelButton* CancelButton::Watch(IDispatch* document, std::function<void()> onCancel) {
    ComPtr<IHTMLDocument3> doc3 = ComPtr<IDispatch>::Share(document).As<IHTMLDocument3>();
    if (!doc3) return nullptr;
    auto* watcher = new CancelButton(document, std::move(onCancel));
    Bstr event = MakeBstr(L"onclick");
    VARIANT_BOOL attached = VARIANT_FALSE;
    if (FAILED(doc3->attachEvent(event.get(), watcher, &attached)) || attached == VARIANT_FALSE) {
        watcher->Release();
        return nullptr;
    }
    return watcher;
}

CancelButton::CancelButton(IDispatch* document, std::function<void()> onCancel)
    : m_document(document), m_onCancel(std::move(onCancel)) {
    m_document->AddRef();
}

CancelButton::~CancelButton() { m_document->Release(); }

HRESULT CancelButton::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*, UINT*) {
    if (id != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    if (result != nullptr) VariantInit(result);
    if (!m_onCancel || ClickedButton(m_document) != Button::Cancel) return S_OK;
    const std::function<void()> onCancel = m_onCancel;  // it may end the window and detach this
    onCancel();
    return S_OK;
}

}  // namespace quorvin::win
