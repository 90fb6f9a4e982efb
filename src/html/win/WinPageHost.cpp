#include "html/win/WinPageHost.h"

#include <cjson/cJSON.h>
#include <ole2.h>

#include <cstdio>

#include "common/CodePage.h"
#include "common/Json.h"
#include "html/HtmlBaseDlg.h"
#include "html/win/BrowserEmulation.h"
#include "html/win/ConfirmBox.h"
#include "html/win/FileUri.h"
#include "html/win/MessagePump.h"
#include "html/win/MonitorArea.h"
#include "html/win/PageDocument.h"
#include "html/win/SyncCall.h"
#include "html/win/WideText.h"

namespace quorvin {

std::unique_ptr<PageHost> MakePlatformPageHost(CHtmlBaseDlg& dlg) { return std::make_unique<win::WinPageHost>(dlg); }

namespace win {
namespace {

std::vector<WinPageHost*> g_running;

HWND InnermostWindow() { return g_running.empty() ? nullptr : g_running.back()->Window(); }

// Once per process: the close confirmation's box, and the browser's
// standards mode (before the first control is made).
void PrepareProcess() {
    static const bool done = [] {
        static ConfirmBox box(InnermostWindow);
        SetConfirmPrompt(&box);
        std::string error;
        if (!EnsureBrowserEmulation(error)) {
            std::fprintf(stderr, "quorvin: pages may show in an old browser mode: %s\n", error.c_str());
        }
        return true;
    }();
    (void)done;
}

// The innermost window's browser gets first look at keys.
bool FilterKeys(MSG& msg) {
    for (auto it = g_running.rbegin(); it != g_running.rend(); ++it) {
        if ((*it)->Window() != nullptr && (msg.hwnd == (*it)->Window() || IsChild((*it)->Window(), msg.hwnd))) {
            return (*it)->TranslateKey(msg);
        }
    }
    return false;
}

std::string AddressUtf8(const std::string& localAddress) {
    return WideToUtf8(CanonicalUri(ToBrowserUri(LocalToWide(localAddress))));
}

}  // namespace

const std::vector<WinPageHost*>& WinPageHost::RunningWindows() { return g_running; }

WinPageHost* WinPageHost::Alive(const std::weak_ptr<Shared>& weak) {
    auto shared = weak.lock();
    return shared ? shared->host.load() : nullptr;
}

WinPageHost::WinPageHost(CHtmlBaseDlg& dlg)
    : m_dlg(dlg), m_shared(std::make_shared<Shared>()), m_calls(m_shared->queue, *this) {
    m_shared->host = this;
    m_windowThread = std::this_thread::get_id();
    // A worker's text wakes the window thread once; the look takes every
    // text queued by then.
    std::weak_ptr<Shared> weak = m_shared;
    m_shared->queue.SetWake([weak] {
        auto shared = weak.lock();
        if (!shared) return;
        shared->tasks.Post([weak] {
            auto s = weak.lock();
            if (!s) return;
            s->queue.WakeTaken();
            if (WinPageHost* host = s->host.load()) host->m_calls.Pump();
        });
    });
}

WinPageHost::~WinPageHost() {
    m_shared->host = nullptr;
    m_shared->queue.Close();
    DropWindow();
    // Work still posted to this window thread is dropped with its window.
    m_shared->tasks.Close();
}

WorkArea WinPageHost::GetWorkArea() { return MonitorWorkArea(InnermostWindow()); }

void WinPageHost::AllowAddress(const std::string& address) { m_policy.Allow(AddressUtf8(address)); }

bool WinPageHost::OpenWindow() {
    m_policy.Clear();
    const std::string root = m_dlg.m_pParamMap ? m_dlg.m_pParamMap->Lookup("root") : std::string();
    if (!root.empty()) {
        std::string rootUri = AddressUtf8(root);
        if (!rootUri.empty() && rootUri.back() != '/') rootUri += '/';
        m_policy.Allow(rootUri);
    }
    AllowAddress(m_dlg.m_strUrl);

    m_external = ComPtr<ExternalObject>::Adopt(
        ExternalObject::Create([this](CallArgs args) { return OnPageCall(std::move(args)); }));
    PageFrame::Events frameEvents;
    frameEvents.closeCommand = [this] { OnCloseCommand(); };
    frameEvents.resized = [this] {
        if (m_view) m_view->FitToParent();
    };
    frameEvents.focused = [this] {
        if (m_view) m_view->Focus();
    };
    frameEvents.destroyed = [this] {
        m_end.Force();
        m_quit = true;
    };
    m_frame = std::make_unique<PageFrame>(m_dlg, InnermostWindow(), std::move(frameEvents));
    if (m_frame->Handle() == nullptr) {
        std::fprintf(stderr, "quorvin: cannot make the page window (%lu)\n", GetLastError());
        return false;
    }
    BrowserEvents::Handlers viewEvents;
    viewEvents.allowAddress = [this](const std::wstring& address, bool) {
        // Frames inside the page obey the same list as the page itself.
        return m_policy.AddressAllowed(WideToUtf8(CanonicalUri(address)));
    };
    viewEvents.loadFinished = [this] { OnLoadFinished(); };
    std::string error;
    m_view = BrowserView::Create(m_frame->Handle(), m_external.Get(), std::move(viewEvents), error);
    if (!m_view) {
        std::fprintf(stderr, "quorvin: cannot show the page: %s\n", error.c_str());
        return false;
    }
    m_frame->Show(m_dlg.Maximize());
    m_view->FitToParent();
    m_view->Navigate(ToBrowserUri(LocalToWide(m_dlg.m_strUrl)));
    return true;
}

void WinPageHost::DropWindow() {
    m_calls.Reset("the window has closed");
    if (m_external) m_external->Detach();
    if (m_cancelButton) m_cancelButton->Detach();
    m_cancelButton.Reset();
    m_view.reset();
    m_frame.reset();
    m_external.Reset();
    m_heldNotice.reset();
    m_pageReady = false;
}

int WinPageHost::RunModal() {
    const HRESULT ole = OleInitialize(nullptr);
    if (FAILED(ole)) {
        std::fprintf(stderr, "quorvin: cannot start OLE on the window thread (0x%08lx)\n",
                     static_cast<unsigned long>(ole));
        return CHtmlBaseDlg::IDCANCEL;
    }
    PrepareProcess();
    m_windowThread = std::this_thread::get_id();
    m_end.Reset(CHtmlBaseDlg::IDCANCEL);
    m_calls.Reset("the window has closed");
    m_quit = false;
    m_lastSeq = 0;
    if (OpenWindow()) {
        g_running.push_back(this);
        m_shared->queue.Open();
        PumpUntil([this] { return m_quit; }, FilterKeys);
        // Workers waiting for this page are let go: it is gone.
        m_shared->queue.Close();
        std::erase(g_running, this);
    }
    DropWindow();
    OleUninitialize();
    return m_end.Result();
}

bool WinPageHost::TranslateKey(MSG& msg) { return m_view && m_view->TranslateKey(msg); }

void WinPageHost::EndDialog(int result) {
    // The dialog ends once the page's current call has returned.
    if (m_end.Request(result, m_calls.Active())) m_quit = true;
}

bool WinPageHost::CallEnded() {
    if (!m_end.Requested()) return false;
    m_quit = true;
    return true;
}

void WinPageHost::Navigate(const std::string& address, const std::string& title) {
    if (!m_view) return;
    AllowAddress(address);
    m_frame->SetTitle(LocalToWide(title));
    m_view->Navigate(ToBrowserUri(LocalToWide(address)));
}

void WinPageHost::ShowMaximized() {
    if (m_frame) m_frame->Maximize();
}

void WinPageHost::CallScript(const std::string& name, const std::string& text) {
    if (!m_view) return;
    if (ComPtr<IDispatch> document = m_view->Document()) {
        CallPageFunction(document.Get(), LocalToWide(name), {LocalToWide(text)});
    }
}

void WinPageHost::RunKeepingQueue(const std::function<void()>& fn) { RunPumping(fn); }

void WinPageHost::NotifyPage(const std::string& text) {
    // The waiter holds the shared state itself: it outlives this host.
    const std::shared_ptr<Shared> shared = m_shared;
    const std::uint64_t seq = shared->queue.Push(LocalToUtf8(text));
    if (seq == 0) return;                                             // no page to hand it to
    if (std::this_thread::get_id() == m_windowThread.load()) return;  // never wait for ourselves
    shared->queue.WaitHandedOver(seq);
}

bool WinPageHost::PostGuarded(std::function<void(WinPageHost&)> fn) {
    std::weak_ptr<Shared> weak = m_shared;
    return m_shared->tasks.Post([weak, fn = std::move(fn)] {
        if (WinPageHost* host = Alive(weak)) fn(*host);
    });
}

void WinPageHost::Post(std::function<void()> fn) {
    PostGuarded([fn = std::move(fn)](WinPageHost&) { fn(); });
}

void WinPageHost::PostClose() {
    PostGuarded([](WinPageHost&) {
        // The agent ends: every open window closes, innermost first, without
        // asking (as when the server asks the agent to exit).
        for (auto it = g_running.rbegin(); it != g_running.rend(); ++it) {
            (*it)->m_end.Force();
            (*it)->m_quit = true;
        }
    });
}

// --- the page's calls -------------------------------------------------------

bool WinPageHost::ShownDocumentAllowed() const {
    if (!m_view) return false;
    return m_policy.AddressAllowed(WideToUtf8(CanonicalUri(m_view->LocationUrl())));
}

CallAnswer WinPageHost::OnPageCall(CallArgs args) {
    if (!ShownDocumentAllowed()) return {{}, "this document may not call the agent"};
    SyncCallHooks hooks;
    // The host outlives the call (its dialog is below it on the stack);
    // work posted for it runs only while it exists.
    hooks.post = [this](std::function<void()> fn) { return PostGuarded([fn = std::move(fn)](WinPageHost&) { fn(); }); };
    hooks.handToPage = [this](std::uint64_t seq, const std::string& text) { HandToPage(seq, text); };
    return RunSyncCall(m_calls, std::move(args), hooks, FilterKeys);
}

void WinPageHost::HandToPage(std::uint64_t seq, const std::string& utf8) {
    // A notice that went both ways reaches OnDlgNotify once.
    if (seq <= m_lastSeq || !m_view) return;
    m_lastSeq = seq;
    if (ComPtr<IDispatch> document = m_view->Document()) {
        CallPageFunction(document.Get(), L"OnDlgNotify", {Utf8ToWide(utf8)});
    }
}

void WinPageHost::StartCommand(std::uint64_t id, CallArgs args) {
    // The command runs at the next turn of the loop the call waits in: it
    // may open a child window and wait for it.
    PostGuarded([id, args = std::move(args)](WinPageHost& host) {
        if (!host.m_view) return;  // the window closed before the command's turn
        std::string error;
        const std::string text =
            host.m_dlg.CallFromHtml(Utf8ToLocal(args.a), Utf8ToLocal(args.b), Utf8ToLocal(args.c), error);
        host.m_calls.CommandDone(id, LocalToUtf8(text), LocalToUtf8(error));
    });
}

void WinPageHost::Deliver(const NoticeQueue::Notice& notice) {
    // Out of the queue's pump: OnDlgNotify may call the agent, which pumps.
    PostGuarded([notice](WinPageHost& host) {
        if (!host.m_pageReady) {
            host.m_heldNotice = notice;  // handed over once the page has loaded
            return;
        }
        host.HandToPage(notice.seq, notice.text);
        host.m_calls.Delivered(notice.seq);
    });
}

// --- window events ------------------------------------------------------------

void WinPageHost::OnLoadFinished() {
    if (!m_view) return;
    m_pageReady = true;
    // Each new document gets its BtnCancel watched; the old one's watcher
    // goes with it.
    if (m_cancelButton) m_cancelButton->Detach();
    m_cancelButton.Reset();
    if (ComPtr<IDispatch> document = m_view->Document()) {
        m_cancelButton = ComPtr<CancelButton>::Adopt(
            CancelButton::Watch(document.Get(), [this] { EndDialog(CHtmlBaseDlg::IDCANCEL); }));
    }
    if (m_dlg.OnDocumentComplete()) {
        if (ComPtr<IDispatch> document = m_view->Document()) {
            const std::wstring param = LocalToWide(m_dlg.m_strPageParam);
            FillPageParam(document.Get(), param);
            CallPageFunction(document.Get(), L"OnDlgInit", {param});
        }
    }
    if (m_heldNotice) {
        const NoticeQueue::Notice notice = *std::exchange(m_heldNotice, std::nullopt);
        HandToPage(notice.seq, notice.text);
        m_calls.Delivered(notice.seq);
    }
    m_calls.Pump();
}

void WinPageHost::OnCloseCommand() {
    // Like a window disabled under its modal child or busy in a call: the
    // close command waits for the page to be free again.
    if (!m_end.MayClose(!g_running.empty() && g_running.back() == this, m_calls.Active())) return;
    m_end.SetClosing(true);
    if (!m_dlg.OnSysClose()) {
        m_end.SetClosing(false);
        return;
    }
    // "OnDlgEnd" runs to its end inside this call (the control runs page
    // script synchronously), then the window ends.
    if (m_view) {
        if (ComPtr<IDispatch> document = m_view->Document()) {
            CallPageFunction(document.Get(), L"OnDlgEnd", {LocalToWide(m_dlg.m_strPageParam)});
        }
    }
    if (m_end.EndAfterOnDlgEnd(false)) EndDialog(CHtmlBaseDlg::IDCANCEL);
}

}  // namespace win
}  // namespace quorvin
