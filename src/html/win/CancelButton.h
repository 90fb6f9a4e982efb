// CancelButton: a click on the page's element named (or with the id)
// "BtnCancel", or inside it, ends the window; one named "BtnOK" does nothing.
// Watches the document's clicks through attachEvent, beside whatever
// handlers the page sets itself.
#pragma once

#include <oaidl.h>

#include <functional>

#include "html/win/DispatchObject.h"

namespace quorvin::win {

class CancelButton final : public DispatchObject {
public:
    // Watches document (an IHTMLDocument's IDispatch); null when its clicks
    // cannot be watched. The returned object holds one reference.
    static CancelButton* Watch(IDispatch* document, std::function<void()> onCancel);
    // No more callbacks (the window is going).
    void Detach() { m_onCancel = nullptr; }

    // IDispatch: the document calls DISPID_VALUE on each click.
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                     UINT*) override;

private:
    CancelButton(IDispatch* document, std::function<void()> onCancel);
    ~CancelButton() override;

    IDispatch* m_document;  // held while watched
    std::function<void()> m_onCancel;
};

}  // namespace quorvin::win
