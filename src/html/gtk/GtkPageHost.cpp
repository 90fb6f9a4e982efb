#include "html/gtk/GtkPageHost.h"

#include <cstdint>

#include "common/CodePage.h"
#include "common/Platform.h"
#include "html/HtmlBaseDlg.h"
#include "html/gtk/BridgeScheme.h"
#include "html/gtk/GObjectPtr.h"
#include "html/gtk/GtkConfirmPrompt.h"
#include "html/gtk/PageScript.h"

namespace quorvin {

std::unique_ptr<PageHost> MakePlatformPageHost(CHtmlBaseDlg& dlg) { return std::make_unique<gtk::GtkPageHost>(dlg); }

namespace gtk {
namespace {

std::vector<GtkPageHost*> g_running;

GtkWindow* InnermostWindow() { return g_running.empty() ? nullptr : g_running.back()->Window(); }

// The view's secret: 128 random bits in hex (no tool object: making one
// would reload the process-wide sequence counter).
std::string RandomToken() {
    std::uint8_t bytes[16] = {};
    if (!platform::RandomBytes(bytes, sizeof bytes)) {
        for (std::uint8_t& b : bytes) b = static_cast<std::uint8_t>(g_random_int());  // GLib's seeded generator
    }
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += hex[b >> 4];
        out += hex[b & 15];
    }
    return out;
}

GtkPageHost* HostOf(WebKitWebView* view) {
    for (GtkPageHost* host : g_running) {
        if (host->View() == view) return host;
    }
    return nullptr;
}

// Runs fn on the window thread at the next turn of its loop.
void RunOnWindowThread(std::function<void()> fn) {
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            (*static_cast<std::function<void()>*>(data))();
            return G_SOURCE_REMOVE;
        },
        new std::function<void()>(std::move(fn)),
        [](gpointer data) { delete static_cast<std::function<void()>*>(data); });
}

}  // namespace

bool EnsureGtk() {
    static const bool ok = [] {
        if (!OpenDisplay()) return false;
        static GtkConfirmPrompt prompt(InnermostWindow);
        SetConfirmPrompt(&prompt);
        return true;
    }();
    return ok;
}

const std::vector<GtkPageHost*>& GtkPageHost::RunningWindows() { return g_running; }

GtkPageHost* GtkPageHost::Alive(const std::weak_ptr<Shared>& weak) {
    auto shared = weak.lock();
    return shared ? shared->host.load() : nullptr;
}

GtkPageHost::GtkPageHost(CHtmlBaseDlg& dlg)
    : m_dlg(dlg), m_shared(std::make_shared<Shared>()), m_calls(m_shared->queue, *this) {
    m_shared->host = this;
    // A worker's text wakes the window thread once; the look takes every
    // text queued by then.
    std::weak_ptr<Shared> weak = m_shared;
    m_shared->queue.SetWake([weak] {
        RunOnWindowThread([weak] {
            auto shared = weak.lock();
            if (!shared) return;
            shared->queue.WakeTaken();
            if (GtkPageHost* host = shared->host.load()) host->m_calls.Pump();
        });
    });
}

GtkPageHost::~GtkPageHost() {
    m_shared->host = nullptr;
    m_shared->queue.Close();
    DestroyWindow();
}

WorkArea GtkPageHost::GetWorkArea() { return ReadWorkArea(); }

std::string GtkPageHost::ToUri(const std::string& address) const {
    // Addresses with a scheme go as they are; a local path becomes a file
    // URI, its query kept.
    if (address.find("://") != std::string::npos || address.rfind("about:", 0) == 0) return address;
    const std::size_t q = address.find_first_of("?#");
    std::string path = address.substr(0, q);
    for (char& ch : path) {
        if (ch == '\\') ch = '/';
    }
    if (path.empty()) return "about:blank";
    GObjectPtr<GFile> file(g_file_new_for_path(path.c_str()));
    GCharPtr uri(g_file_get_uri(file.get()));
    std::string out = uri ? uri.get() : "about:blank";
    if (q != std::string::npos) out += address.substr(q);
    return out;
}

void GtkPageHost::CreateWindow() {
    m_token = RandomToken();
    m_policy.Clear();
    const std::string root = m_dlg.m_pParamMap ? m_dlg.m_pParamMap->Lookup("root") : std::string();
    if (!root.empty()) {
        std::string rootUri = ToUri(root);
        if (rootUri.back() != '/') rootUri += '/';
        m_policy.Allow(rootUri);
    }
    const std::string uri = ToUri(m_dlg.m_strUrl);
    m_policy.Allow(uri);

    GtkPageView::Events viewEvents;
    viewEvents.allowAddress = [this](const std::string& address) { return m_policy.AddressAllowed(address); };
    viewEvents.loadFinished = [this] { OnLoadFinished(); };
    viewEvents.rendererGone = [this] { OnRendererGone(); };
    m_view = std::make_unique<GtkPageView>(OnSchemeRequest, PageBootstrapScript(m_token), std::move(viewEvents));
    GtkPageFrame::Events frameEvents;
    frameEvents.closeCommand = [this] { OnCloseCommand(); };
    frameEvents.destroyed = [this] {
        m_end.Force();
        QuitLoop();
    };
    m_frame = std::make_unique<GtkPageFrame>(m_dlg, InnermostWindow(), m_view->Widget(), std::move(frameEvents));
    m_frame->Show(m_view->Widget());
    m_view->Load(uri);
}

void GtkPageHost::DestroyWindow() {
    m_calls.Reset("the window has closed");
    m_view.reset();
    m_frame.reset();
}

int GtkPageHost::RunModal() {
    if (!EnsureGtk()) return CHtmlBaseDlg::IDCANCEL;
    m_windowThread = std::this_thread::get_id();
    m_end.Reset(CHtmlBaseDlg::IDCANCEL);
    m_calls.Reset("the window has closed");
    CreateWindow();
    g_running.push_back(this);
    m_shared->queue.Open();
    m_loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(m_loop);
    g_main_loop_unref(m_loop);
    m_loop = nullptr;
    // Workers waiting for this page are let go: it is gone.
    m_shared->queue.Close();
    std::erase(g_running, this);
    DestroyWindow();
    return m_end.Result();
}

void GtkPageHost::QuitLoop() {
    if (m_loop != nullptr) g_main_loop_quit(m_loop);
}

void GtkPageHost::EndDialog(int result) {
    // The dialog ends once the page's current call has returned.
    if (m_end.Request(result, m_calls.Active())) QuitLoop();
}

bool GtkPageHost::CallEnded() {
    if (!m_end.Requested()) return false;
    QuitLoop();
    return true;
}

void GtkPageHost::Navigate(const std::string& address, const std::string& title) {
    if (!m_view) return;
    const std::string uri = ToUri(address);
    m_policy.Allow(uri);
    m_frame->SetTitle(LocalToUtf8(title));
    m_view->Load(uri);
}

void GtkPageHost::ShowMaximized() {
    if (m_frame) m_frame->Maximize();
}

void GtkPageHost::CallScript(const std::string& name, const std::string& text) {
    if (!m_view) return;
    m_view->CallFunction(kCallPageFunction, {{"n", LocalToUtf8(name)}, {"x", LocalToUtf8(text)}}, nullptr);
}

void GtkPageHost::EvaluateScript(const std::string& script, std::function<void(std::optional<std::string>)> done) {
    if (!m_view) {
        done(std::nullopt);
        return;
    }
    m_view->Evaluate(script, std::move(done));
}

void GtkPageHost::RunKeepingQueue(const std::function<void()>& fn) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
        fn();
        done.store(true);
        g_main_context_wakeup(nullptr);
    });
    while (!done.load()) g_main_context_iteration(nullptr, TRUE);
    worker.join();
}

void GtkPageHost::NotifyPage(const std::string& text) {
    // The waiter holds the shared state itself: it outlives this host.
    const std::shared_ptr<Shared> shared = m_shared;
    const std::uint64_t seq = shared->queue.Push(LocalToUtf8(text));
    if (seq == 0) return;                                             // no page to hand it to
    if (std::this_thread::get_id() == m_windowThread.load()) return;  // never wait for ourselves
    shared->queue.WaitHandedOver(seq);
}

void GtkPageHost::Post(std::function<void()> fn) {
    std::weak_ptr<Shared> weak = m_shared;
    RunOnWindowThread([weak, fn = std::move(fn)] {
        // Runs only while the window object still exists.
        if (Alive(weak) != nullptr) fn();
    });
}

void GtkPageHost::PostClose() {
    Post([] {
        // The agent ends: every open window closes, innermost first, without
        // asking (as when the server asks the agent to exit).
        for (auto it = g_running.rbegin(); it != g_running.rend(); ++it) {
            (*it)->m_end.Force();
            (*it)->QuitLoop();
        }
    });
}

// --- the page's calls -------------------------------------------------------

void GtkPageHost::OnSchemeRequest(WebKitURISchemeRequest* raw, gpointer) {
    auto request = std::make_unique<SchemeRequest>(raw);
    GtkPageHost* host = HostOf(request->View());
    if (host == nullptr) {
        request->Refuse("not a page of this agent");
        return;
    }
    host->HandleRequest(std::move(request));
}

void GtkPageHost::HandleRequest(std::unique_ptr<SchemeRequest> request) {
    if (!m_policy.CallerAllowed(request->Method(), request->Origin())) {
        request->Refuse("this document may not call the agent");
        return;
    }
    const std::optional<std::string> body = request->ReadBody();
    const std::optional<BridgeRequest> msg = body ? ParseBridgeRequest(*body, m_token) : std::nullopt;
    if (!msg) {
        request->Refuse("this document may not call the agent");
        return;
    }
    switch (msg->op) {
        case BridgeRequest::Op::Call:
            if (m_onCall) m_onCall();
            m_calls.Call(std::move(request), msg->args);
            break;
        case BridgeRequest::Op::Resume: m_calls.Resume(msg->seq, std::move(request)); break;
        case BridgeRequest::Op::Cancel:
            request->Answer("{}");
            EndDialog(CHtmlBaseDlg::IDCANCEL);
            break;
        case BridgeRequest::Op::Unknown: request->Refuse("unknown request"); break;
    }
}

void GtkPageHost::StartCommand(std::uint64_t id, CallArgs args) {
    // The command runs outside the scheme handler: it may open a child
    // window and wait for it.
    Post([this, id, args = std::move(args)] {
        if (!m_view) return;  // the window closed before the command's turn
        std::string error;
        const std::string text =
            m_dlg.CallFromHtml(Utf8ToLocal(args.a), Utf8ToLocal(args.b), Utf8ToLocal(args.c), error);
        m_calls.CommandDone(id, LocalToUtf8(text), LocalToUtf8(error));
    });
}

void GtkPageHost::Deliver(const NoticeQueue::Notice& notice) {
    const std::weak_ptr<Shared> weak = m_shared;
    const std::uint64_t seq = notice.seq;
    m_view->CallFunction(
        kDeliverNotification, {{"x", notice.text}},
        [weak, seq] {
            // A page without the script (or none at all) has had it too: the
            // text is dropped, as for a page without OnDlgNotify.
            if (GtkPageHost* host = Alive(weak)) host->m_calls.Delivered(seq);
        },
        "s", static_cast<double>(seq));
}

// --- window events ------------------------------------------------------------

void GtkPageHost::OnLoadFinished() {
    if (m_dlg.OnDocumentComplete()) {
        const std::weak_ptr<Shared> weak = m_shared;
        m_view->CallFunction(kFirstLoad, {{"p", LocalToUtf8(m_dlg.m_strPageParam)}}, [weak] {
            GtkPageHost* h = Alive(weak);
            if (h != nullptr && h->m_onReady) h->m_onReady();
        });
    }
    m_calls.Pump();
}

void GtkPageHost::OnRendererGone() {
    // Nothing waits on a page that is gone: its pending calls are forgotten
    // (a command still running finishes for nobody), its queued notices are
    // dropped and their workers go on. The page is shown again and gets its
    // "OnDlgInit" as on the first load; later notices wait for it.
    m_calls.Reset("the page's renderer has ended");
    m_shared->queue.DropQueued();
    if (m_end.Requested()) {
        QuitLoop();  // it waited for a call that will not return
        return;
    }
    m_dlg.OnPageLost();
    m_view->Reload();
}

void GtkPageHost::OnCloseCommand() {
    // Like a window disabled under its modal child or busy in a call: the
    // close command waits for the page to be free again.
    if (!m_end.MayClose(!g_running.empty() && g_running.back() == this, m_calls.Active())) return;
    m_end.SetClosing(true);
    if (!m_dlg.OnSysClose()) {
        m_end.SetClosing(false);
        return;
    }
    // "OnDlgEnd" runs, then the window ends; a page that never returns from
    // it cannot keep the window open for more than a few seconds.
    const std::weak_ptr<Shared> weak = m_shared;
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, WindowEnd::kOnDlgEndMs,
        [](gpointer data) -> gboolean {
            GtkPageHost* h = Alive(*static_cast<std::weak_ptr<Shared>*>(data));
            if (h != nullptr && h->m_end.EndAfterOnDlgEnd(true)) h->EndDialog(CHtmlBaseDlg::IDCANCEL);
            return G_SOURCE_REMOVE;
        },
        new std::weak_ptr<Shared>(weak), [](gpointer data) { delete static_cast<std::weak_ptr<Shared>*>(data); });
    m_view->CallFunction(kCallPageFunction, {{"n", "OnDlgEnd"}, {"x", LocalToUtf8(m_dlg.m_strPageParam)}}, [weak] {
        GtkPageHost* h = Alive(weak);
        if (h != nullptr && h->m_end.EndAfterOnDlgEnd(false)) h->EndDialog(CHtmlBaseDlg::IDCANCEL);
    });
}

}  // namespace gtk
}  // namespace quorvin
