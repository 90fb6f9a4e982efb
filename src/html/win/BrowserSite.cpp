#include "html/win/BrowserSite.h"

namespace quorvin::win {

BrowserSite* BrowserSite::Create(HWND window, IDispatch* external) { return new BrowserSite(window, external); }

BrowserSite::BrowserSite(HWND window, IDispatch* external)
    : m_window(window), m_external(ComPtr<IDispatch>::Share(external)) {}

void BrowserSite::Detach() {
    m_window = nullptr;
    m_external.Reset();
    m_active.Reset();
}

HRESULT BrowserSite::QueryInterface(REFIID riid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite)) {
        *out = static_cast<IOleClientSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite)) {
        *out = static_cast<IOleInPlaceSite*>(this);
    } else if (IsEqualIID(riid, IID_IOleInPlaceUIWindow) || IsEqualIID(riid, IID_IOleInPlaceFrame)) {
        *out = static_cast<IOleInPlaceFrame*>(this);
    } else if (IsEqualIID(riid, IID_IDocHostUIHandler)) {
        *out = static_cast<IDocHostUIHandler*>(this);
    } else {
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG BrowserSite::AddRef() { return ++m_refs; }

ULONG BrowserSite::Release() {
    const ULONG left = --m_refs;
    if (left == 0) delete this;
    return left;
}

// --- IOleClientSite: nothing is saved or linked -----------------------------

HRESULT BrowserSite::SaveObject() { return E_NOTIMPL; }
HRESULT BrowserSite::GetMoniker(DWORD, DWORD, IMoniker** out) {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
}
HRESULT BrowserSite::GetContainer(IOleContainer** out) {
    if (out != nullptr) *out = nullptr;
    return E_NOINTERFACE;
}
HRESULT BrowserSite::ShowObject() { return S_OK; }
HRESULT BrowserSite::OnShowWindow(WINBOOL) { return S_OK; }
HRESULT BrowserSite::RequestNewObjectLayout() { return E_NOTIMPL; }

// --- IOleWindow / IOleInPlaceSite: the control fills our window -------------

HRESULT BrowserSite::GetWindow(HWND* out) {
    if (out == nullptr) return E_POINTER;
    *out = m_window;
    return m_window != nullptr ? S_OK : E_FAIL;
}
HRESULT BrowserSite::ContextSensitiveHelp(WINBOOL) { return E_NOTIMPL; }
HRESULT BrowserSite::CanInPlaceActivate() { return m_window != nullptr ? S_OK : S_FALSE; }
HRESULT BrowserSite::OnInPlaceActivate() { return S_OK; }
HRESULT BrowserSite::OnUIActivate() { return S_OK; }

HRESULT BrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc, LPRECT pos, LPRECT clip,
                                      LPOLEINPLACEFRAMEINFO info) {
    if (frame == nullptr || doc == nullptr || pos == nullptr || clip == nullptr || info == nullptr) return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *doc = nullptr;
    GetClientRect(m_window, pos);
    *clip = *pos;
    info->fMDIApp = FALSE;
    info->hwndFrame = m_window;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

HRESULT BrowserSite::Scroll(SIZE) { return S_OK; }
HRESULT BrowserSite::OnUIDeactivate(WINBOOL) { return S_OK; }
HRESULT BrowserSite::OnInPlaceDeactivate() {
    m_active.Reset();
    return S_OK;
}
HRESULT BrowserSite::DiscardUndoState() { return S_OK; }
HRESULT BrowserSite::DeactivateAndUndo() { return S_OK; }
HRESULT BrowserSite::OnPosRectChange(LPCRECT) { return S_OK; }

// --- IOleInPlaceUIWindow / IOleInPlaceFrame: no menus, toolbars or status ---

HRESULT BrowserSite::GetBorder(LPRECT) { return INPLACE_E_NOTOOLSPACE; }
HRESULT BrowserSite::RequestBorderSpace(LPCBORDERWIDTHS) { return INPLACE_E_NOTOOLSPACE; }
HRESULT BrowserSite::SetBorderSpace(LPCBORDERWIDTHS) { return S_OK; }
HRESULT BrowserSite::SetActiveObject(IOleInPlaceActiveObject* active, LPCOLESTR) {
    m_active = ComPtr<IOleInPlaceActiveObject>::Share(active);
    return S_OK;
}
HRESULT BrowserSite::InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) { return S_OK; }
HRESULT BrowserSite::SetMenu(HMENU, HOLEMENU, HWND) { return S_OK; }
HRESULT BrowserSite::RemoveMenus(HMENU) { return S_OK; }
HRESULT BrowserSite::SetStatusText(LPCOLESTR) { return S_OK; }
HRESULT BrowserSite::EnableModeless(WINBOOL) { return S_OK; }
HRESULT BrowserSite::TranslateAccelerator(LPMSG, WORD) { return S_FALSE; }

// --- IDocHostUIHandler ------------------------------------------------------

HRESULT BrowserSite::ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) {
    return S_OK;  // handled: no browser menu over the agent's pages
}

HRESULT BrowserSite::GetHostInfo(DOCHOSTUIINFO* info) {
    if (info == nullptr) return E_POINTER;
    // Flat (no inner or outer 3-D border) and themed, as the agent's
    // window always was.
    info->dwFlags = DOCHOSTUIFLAG_NO3DBORDER | DOCHOSTUIFLAG_THEME | DOCHOSTUIFLAG_NO3DOUTERBORDER;
    info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
    return S_OK;
}

HRESULT BrowserSite::ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                            IOleInPlaceUIWindow*) {
    return S_OK;  // we show no UI of the browser's
}
HRESULT BrowserSite::HideUI() { return S_OK; }
HRESULT BrowserSite::UpdateUI() { return S_OK; }
HRESULT BrowserSite::OnDocWindowActivate(WINBOOL) { return S_OK; }
HRESULT BrowserSite::OnFrameWindowActivate(WINBOOL) { return S_OK; }
HRESULT BrowserSite::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, WINBOOL) { return S_OK; }

HRESULT BrowserSite::TranslateAccelerator(LPMSG msg, const GUID*, DWORD) {
    // S_OK swallows the key; S_FALSE lets the browser have it.
    return msg != nullptr && IsBrowserCommandKey(*msg) ? S_OK : S_FALSE;
}

HRESULT BrowserSite::GetOptionKeyPath(LPOLESTR* key, DWORD) {
    if (key != nullptr) *key = nullptr;
    return S_FALSE;
}

HRESULT BrowserSite::GetDropTarget(IDropTarget*, IDropTarget** out) {
    if (out != nullptr) *out = nullptr;
    return E_NOTIMPL;
}

HRESULT BrowserSite::GetExternal(IDispatch** out) {
    if (out == nullptr) return E_POINTER;
    *out = m_external.Get();
    if (*out == nullptr) return E_NOTIMPL;
    (*out)->AddRef();
    return S_OK;
}

HRESULT BrowserSite::TranslateUrl(DWORD, LPWSTR, LPWSTR* out) {
    if (out != nullptr) *out = nullptr;
    return S_FALSE;
}

HRESULT BrowserSite::FilterDataObject(IDataObject*, IDataObject** out) {
    if (out != nullptr) *out = nullptr;
    return S_FALSE;
}

bool IsBrowserCommandKey(const MSG& msg) {
    if (msg.message != WM_KEYDOWN) return false;
    const WPARAM key = msg.wParam;
    if (key == VK_F5 || key == VK_ESCAPE) return true;
    const bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    return ctrl && (key == 'N' || key == 'F');
}

}  // namespace quorvin::win
