// CancelButton: a click on the page's element named (or with the id)
// "BtnCancel", or inside it, ends the window; one named "BtnOK" does nothing.
// Watches the document's clicks through attachEvent, beside whatever
// handlers the page sets itself.
#pragma once

#include <oaidl.h>

#include <atomic>
#include <functional>

namespace quorvin::win {

class CancelButton final : public IDispatch {
public:
    // Watches document (an IHTMLDocument's IDispatch); null when its clicks
    // cannot be watched. The returned object holds one reference.
    static CancelButton* Watch(IDispatch* document, std::function<void()> onCancel);
    // No more callbacks (the window is going).
    void Detach() { m_onCancel = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IDispatch: the document calls DISPID_VALUE on each click.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override;

private:
    CancelButton(IDispatch* document, std::function<void()> onCancel);
    ~CancelButton();

    std::atomic<ULONG> m_refs{1};
    IDispatch* m_document;  // held while watched
    std::function<void()> m_onCancel;
};

}  // namespace quorvin::win
