#include "html/gtk/GtkPageHost.h"

#include <gdk/gdkx.h>
#include <libsoup/soup.h>

#include <cjson/cJSON.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "common/CodePage.h"
#include "common/CommonTool.h"
#include "common/Json.h"
#include "common/Platform.h"
#include "html/HtmlBaseDlg.h"
#include "html/gtk/GtkConfirmPrompt.h"
#include "html/gtk/PageScript.h"

namespace quorvin {

std::unique_ptr<PageHost> MakePlatformPageHost(CHtmlBaseDlg& dlg) { return std::make_unique<gtk::GtkPageHost>(dlg); }

namespace gtk {
namespace {

struct GObjectUnref {
    void operator()(gpointer p) const {
        if (p != nullptr) g_object_unref(p);
    }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GFree {
    void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

// Requests larger than this are refused rather than read into memory.
constexpr gsize kMaxRequestBytes = 256u * 1024u * 1024u;

std::vector<GtkPageHost*> g_running;

GtkWindow* InnermostWindow() { return g_running.empty() ? nullptr : g_running.back()->Window(); }

// The one web context: every view of the agent, and the scheme its calls
// use (registered once, with the window's handler).
WebKitWebContext* Context(WebKitURISchemeRequestCallback handler) {
    static GObjectPtr<WebKitWebContext> context = [handler] {
        GObjectPtr<WebKitWebContext> ctx(webkit_web_context_new());
        webkit_web_context_set_cache_model(ctx.get(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        webkit_web_context_register_uri_scheme(ctx.get(), kBridgeScheme, handler, nullptr, nullptr);
        return ctx;
    }();
    return context.get();
}

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

void FinishError(WebKitURISchemeRequest* request, const char* why) {
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, why);
    webkit_uri_scheme_request_finish_error(request, error);
    g_error_free(error);
}

void FinishJson(WebKitURISchemeRequest* request, const std::string& json) {
    GBytes* bytes = g_bytes_new(json.data(), json.size());
    GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes));
    g_bytes_unref(bytes);
    GObjectPtr<WebKitURISchemeResponse> response(
        webkit_uri_scheme_response_new(stream.get(), static_cast<gint64>(json.size())));
    webkit_uri_scheme_response_set_content_type(response.get(), "application/json; charset=utf-8");
    webkit_uri_scheme_response_set_status(response.get(), 200, "OK");
    webkit_uri_scheme_request_finish_with_response(request, response.get());
}

// The whole request body; nothing when it is missing or too large.
std::optional<std::string> ReadBody(WebKitURISchemeRequest* request) {
    GObjectPtr<GInputStream> body(webkit_uri_scheme_request_get_http_body(request));
    if (!body) return std::nullopt;
    std::string out;
    char buf[64 * 1024];
    for (;;) {
        gsize got = 0;
        if (!g_input_stream_read_all(body.get(), buf, sizeof buf, &got, nullptr, nullptr)) return std::nullopt;
        out.append(buf, got);
        if (out.size() > kMaxRequestBytes) return std::nullopt;
        if (got < sizeof buf) return out;
    }
}

std::string OriginOf(const std::string& uri) {
    if (uri.rfind("file:", 0) == 0) return "file://";
    const std::size_t scheme = uri.find("://");
    if (scheme == std::string::npos) return {};
    const std::size_t end = uri.find_first_of("/?#", scheme + 3);
    return uri.substr(0, end);
}

std::string WithoutQuery(const std::string& uri) { return uri.substr(0, uri.find_first_of("?#")); }

GtkPageHost* HostOf(WebKitWebView* view) {
    for (GtkPageHost* host : g_running) {
        if (host->View() == view) return host;
    }
    return nullptr;
}

}  // namespace

bool EnsureGtk() {
    static const bool ok = [] {
        if (!gtk_init_check(nullptr, nullptr)) {
            const char* display = std::getenv("DISPLAY");
            std::fprintf(stderr,
                         "quorvin: no display to show the window on (%s); start it on a desktop session or "
                         "under xvfb-run\n",
                         display && *display ? "cannot open DISPLAY" : "DISPLAY is not set");
            return false;
        }
        static GtkConfirmPrompt prompt(InnermostWindow);
        SetConfirmPrompt(&prompt);
        return true;
    }();
    return ok;
}

const std::vector<GtkPageHost*>& GtkPageHost::RunningWindows() { return g_running; }

GtkPageHost* GtkPageHost::Alive(const std::weak_ptr<Shared>& weak) {
    auto shared = weak.lock();
    if (!shared) return nullptr;
    std::lock_guard<std::mutex> lock(shared->mutex);
    return shared->host;
}

GtkPageHost::GtkPageHost(CHtmlBaseDlg& dlg) : m_dlg(dlg), m_shared(std::make_shared<Shared>()) {
    m_shared->host = this;
}

GtkPageHost::~GtkPageHost() {
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->open = false;
        m_shared->host = nullptr;
        m_shared->queue.clear();
    }
    m_shared->cv.notify_all();
    DestroyWindow();
}

WorkArea GtkPageHost::GetWorkArea() {
    if (!EnsureGtk()) return {0, 0, 1024, 768};
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
    if (monitor == nullptr) return {0, 0, 1024, 768};
    GdkRectangle area;
    gdk_monitor_get_workarea(monitor, &area);
    return {area.x, area.y, area.x + area.width, area.y + area.height};
}

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

void GtkPageHost::AllowAddress(const std::string& uri) {
    m_allowedPrefixes.push_back(WithoutQuery(uri));
    const std::string origin = OriginOf(uri);
    if (!origin.empty()) m_allowedOrigins.push_back(origin);
    // WebKit sends "null" as the Origin of a local page: for local pages the
    // view's token (known only to the top documents it loaded) and the
    // navigation allow-list are what keep other documents out.
    if (origin == "file://") m_allowedOrigins.push_back("null");
}

bool GtkPageHost::AddressAllowed(const std::string& uri) const {
    if (uri == "about:blank" || uri == "about:srcdoc") return true;
    const std::string bare = WithoutQuery(uri);
    for (const std::string& prefix : m_allowedPrefixes) {
        if (prefix.empty()) continue;
        if (bare == prefix) return true;
        // A folder prefix (the pages' root) admits every page below it.
        if (prefix.back() == '/' && bare.rfind(prefix, 0) == 0) return true;
    }
    return false;
}

void GtkPageHost::CreateWindow() {
    m_token = RandomToken();
    m_allowedPrefixes.clear();
    m_allowedOrigins.clear();
    const std::string root = m_dlg.m_pParamMap ? m_dlg.m_pParamMap->Lookup("root") : std::string();
    if (!root.empty()) {
        std::string rootUri = ToUri(root);
        if (rootUri.back() != '/') rootUri += '/';
        AllowAddress(rootUri);
    }
    const std::string uri = ToUri(m_dlg.m_strUrl);
    AllowAddress(uri);

    m_window = GTK_WINDOW(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    g_object_ref_sink(m_window);
    gtk_window_set_title(m_window, LocalToUtf8(m_dlg.m_strTitle).c_str());
    const PixelRect r = m_dlg.WindowRect();
    gtk_window_set_default_size(m_window, std::max(1, r.width), std::max(1, r.height));
    gtk_window_move(m_window, r.x, r.y);
    if (GtkWindow* parent = InnermostWindow()) {
        gtk_window_set_transient_for(m_window, parent);
        gtk_window_set_modal(m_window, TRUE);
    }

    GObjectPtr<WebKitUserContentManager> content(webkit_user_content_manager_new());
    const std::string script = PageBootstrapScript(m_token);
    WebKitUserScript* user = webkit_user_script_new(script.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
                                                    WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr);
    webkit_user_content_manager_add_script(content.get(), user);
    webkit_user_script_unref(user);
    GObjectPtr<WebKitSettings> settings(webkit_settings_new());
    webkit_settings_set_hardware_acceleration_policy(settings.get(), WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_javascript_can_open_windows_automatically(settings.get(), FALSE);
    webkit_settings_set_enable_developer_extras(settings.get(), FALSE);
    webkit_settings_set_default_charset(settings.get(), "utf-8");
    // The page's console on stdout, for finding faults in a page.
    if (std::getenv("QUORVIN_PAGE_CONSOLE") != nullptr) {
        webkit_settings_set_enable_write_console_messages_to_stdout(settings.get(), TRUE);
    }
    // A child has its own view, never related to the parent's: the parent's
    // web process is blocked in its call while the child runs.
    m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", Context(OnSchemeRequest),
                                          "user-content-manager", content.get(), "settings", settings.get(), nullptr));
    g_object_ref_sink(m_view);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(
        m_view, "context-menu",
        G_CALLBACK(+[](WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) -> gboolean {
            return TRUE;  // no context menu, ever
        }),
        nullptr);
    g_signal_connect(
        m_view, "create",
        G_CALLBACK(+[](WebKitWebView*, WebKitNavigationAction*, gpointer) -> GtkWidget* { return nullptr; }), nullptr);
    gtk_drag_dest_unset(GTK_WIDGET(m_view));  // nothing can be dropped onto the page
    gtk_container_add(GTK_CONTAINER(m_window), GTK_WIDGET(m_view));

    g_signal_connect(m_window, "key-press-event", G_CALLBACK(OnKeyPress), nullptr);
    g_signal_connect(m_window, "delete-event", G_CALLBACK(OnDeleteEvent), this);
    g_signal_connect(m_window, "destroy", G_CALLBACK(OnDestroy), this);

    // Frame as far as the window manager allows: caption (with its boxes),
    // a border without caption, or nothing.
    gtk_widget_realize(GTK_WIDGET(m_window));
    const std::uint32_t style = m_dlg.Template().style;
    int decor = 0;
    int functions = GDK_FUNC_MOVE | GDK_FUNC_RESIZE;
    if (m_dlg.HasCaption()) {
        decor |= GDK_DECOR_TITLE | GDK_DECOR_BORDER;
        if (style & kWsSysMenu) decor |= GDK_DECOR_MENU;
        if (style & kWsMinimizeBox) decor |= GDK_DECOR_MINIMIZE;
        if (style & kWsMaximizeBox) decor |= GDK_DECOR_MAXIMIZE;
    } else if (style & (kWsBorder | kWsDlgFrame)) {
        decor |= GDK_DECOR_BORDER;
    }
    if (style & kWsSysMenu) functions |= GDK_FUNC_CLOSE;
    if (style & kWsMinimizeBox) functions |= GDK_FUNC_MINIMIZE;
    if (style & kWsMaximizeBox) functions |= GDK_FUNC_MAXIMIZE;
    GdkWindow* gdkWindow = gtk_widget_get_window(GTK_WIDGET(m_window));
    if (decor == 0) gtk_window_set_decorated(m_window, FALSE);
    gdk_window_set_decorations(gdkWindow, static_cast<GdkWMDecoration>(decor));
    gdk_window_set_functions(gdkWindow, static_cast<GdkWMFunction>(functions));
    if (m_dlg.Maximize()) gtk_window_maximize(m_window);

    gtk_widget_show_all(GTK_WIDGET(m_window));
    gtk_widget_grab_focus(GTK_WIDGET(m_view));
    webkit_web_view_load_uri(m_view, uri.c_str());
}

void GtkPageHost::DestroyWindow() {
    if (m_parked != nullptr) {
        FinishError(m_parked, "the window has closed");
        g_object_unref(m_parked);
        m_parked = nullptr;
    }
    if (m_view != nullptr) {
        g_signal_handlers_disconnect_by_data(m_view, this);
        g_object_unref(m_view);
        m_view = nullptr;
    }
    if (m_window != nullptr) {
        g_signal_handlers_disconnect_by_data(m_window, this);
        gtk_widget_destroy(GTK_WIDGET(m_window));
        g_object_unref(m_window);
        m_window = nullptr;
    }
}

int GtkPageHost::RunModal() {
    if (!EnsureGtk()) return CHtmlBaseDlg::IDCANCEL;
    m_windowThread = std::this_thread::get_id();
    m_endRequested = false;
    m_closing = false;
    m_endResult = CHtmlBaseDlg::IDCANCEL;
    m_callActive = false;
    m_callResult.reset();
    m_inFlight = false;
    CreateWindow();
    g_running.push_back(this);
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->open = true;
    }
    m_loop = g_main_loop_new(nullptr, FALSE);
    g_main_loop_run(m_loop);
    g_main_loop_unref(m_loop);
    m_loop = nullptr;
    {
        // Workers waiting for this page are let go: it is gone.
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        m_shared->open = false;
        m_shared->queue.clear();
    }
    m_shared->cv.notify_all();
    std::erase(g_running, this);
    DestroyWindow();
    return m_endResult;
}

void GtkPageHost::QuitLoop() {
    if (m_loop != nullptr) g_main_loop_quit(m_loop);
}

void GtkPageHost::EndDialog(int result) {
    m_endResult = result;
    m_endRequested = true;
    // The dialog ends once the page's current call has returned.
    if (!m_callActive) QuitLoop();
}

void GtkPageHost::Navigate(const std::string& address, const std::string& title) {
    if (m_view == nullptr) return;
    const std::string uri = ToUri(address);
    AllowAddress(uri);
    gtk_window_set_title(m_window, LocalToUtf8(title).c_str());
    webkit_web_view_load_uri(m_view, uri.c_str());
}

void GtkPageHost::ShowMaximized() {
    if (m_window != nullptr) gtk_window_maximize(m_window);
}

void GtkPageHost::CallScript(const std::string& name, const std::string& text) {
    if (m_view == nullptr) return;
    GVariantDict dict;
    g_variant_dict_init(&dict, nullptr);
    g_variant_dict_insert(&dict, "n", "s", LocalToUtf8(name).c_str());
    g_variant_dict_insert(&dict, "x", "s", LocalToUtf8(text).c_str());
    webkit_web_view_call_async_javascript_function(m_view, kCallPageFunction, -1, g_variant_dict_end(&dict), nullptr,
                                                   nullptr, nullptr, nullptr, nullptr);
}

void GtkPageHost::EvaluateScript(const std::string& script, std::function<void(std::optional<std::string>)> done) {
    if (m_view == nullptr) {
        done(std::nullopt);
        return;
    }
    using Done = std::function<void(std::optional<std::string>)>;
    webkit_web_view_evaluate_javascript(
        m_view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Done> callback(static_cast<Done*>(data));
            GError* error = nullptr;
            JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(source), result, &error);
            std::optional<std::string> json;
            if (value != nullptr) {
                GCharPtr text(jsc_value_to_json(value, 0));
                json = text ? std::string(text.get()) : std::string("undefined");
                g_object_unref(value);
            }
            if (error != nullptr) g_error_free(error);
            (*callback)(std::move(json));
        },
        new Done(std::move(done)));
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
    const std::string utf8 = LocalToUtf8(text);
    // The waiter holds the shared state itself: it outlives this host.
    const std::shared_ptr<Shared> shared = m_shared;
    const bool onWindowThread = std::this_thread::get_id() == m_windowThread.load();
    std::unique_lock<std::mutex> lock(shared->mutex);
    if (!shared->open) return;  // no page to hand it to
    const std::uint64_t seq = shared->nextSeq++;
    shared->queue.push_back({seq, utf8});
    if (!shared->pumpPosted) {
        shared->pumpPosted = true;
        g_idle_add_full(
            G_PRIORITY_DEFAULT,
            [](gpointer data) -> gboolean {
                const std::shared_ptr<Shared>& s = *static_cast<std::shared_ptr<Shared>*>(data);
                GtkPageHost* host = nullptr;
                {
                    std::lock_guard<std::mutex> l(s->mutex);
                    s->pumpPosted = false;
                    host = s->host;
                }
                if (host != nullptr) host->Pump();
                return G_SOURCE_REMOVE;
            },
            new std::shared_ptr<Shared>(shared),
            [](gpointer data) { delete static_cast<std::shared_ptr<Shared>*>(data); });
    }
    if (onWindowThread) return;  // never wait for ourselves
    shared->cv.wait(lock, [&] { return shared->delivered >= seq || !shared->open; });
}

void GtkPageHost::Post(std::function<void()> fn) {
    struct Job {
        std::weak_ptr<Shared> shared;
        std::function<void()> fn;
    };
    auto* job = new Job{m_shared, std::move(fn)};
    g_idle_add_full(
        G_PRIORITY_DEFAULT,
        [](gpointer data) -> gboolean {
            auto* j = static_cast<Job*>(data);
            // Runs only while the window object still exists.
            if (Alive(j->shared) != nullptr) j->fn();
            return G_SOURCE_REMOVE;
        },
        job, [](gpointer data) { delete static_cast<Job*>(data); });
}

void GtkPageHost::PostClose() {
    Post([] {
        // The agent ends: every open window closes, innermost first, without
        // asking (as when the server asks the agent to exit).
        for (auto it = g_running.rbegin(); it != g_running.rend(); ++it) {
            (*it)->m_endRequested = true;
            (*it)->QuitLoop();
        }
    });
}

// --- the page's calls -------------------------------------------------------

void GtkPageHost::OnSchemeRequest(WebKitURISchemeRequest* request, gpointer) {
    GtkPageHost* host = HostOf(webkit_uri_scheme_request_get_web_view(request));
    if (host == nullptr) {
        FinishError(request, "not a page of this agent");
        return;
    }
    host->HandleRequest(request);
}

bool GtkPageHost::CallerAllowed(WebKitURISchemeRequest* request) const {
    const gchar* method = webkit_uri_scheme_request_get_http_method(request);
    if (method == nullptr || g_strcmp0(method, "POST") != 0) return false;
    SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(request);
    const char* origin = headers ? soup_message_headers_get_one(headers, "Origin") : nullptr;
    if (origin == nullptr) return false;
    for (const std::string& allowed : m_allowedOrigins) {
        if (allowed == origin) return true;
    }
    return false;
}

void GtkPageHost::HandleRequest(WebKitURISchemeRequest* request) {
    if (!CallerAllowed(request)) {
        FinishError(request, "this document may not call the agent");
        return;
    }
    const std::optional<std::string> body = ReadBody(request);
    JsonPtr msg = body ? ParseJson(*body) : nullptr;
    // The token is known only to the top documents this window loaded.
    if (!msg || GetJsonString(msg.get(), "t") != m_token) {
        FinishError(request, "this document may not call the agent");
        return;
    }
    const std::string op = GetJsonString(msg.get(), "op");
    if (op == "call") {
        if (m_onCall) m_onCall();
        if (m_callActive) {
            FinishError(request, "a call is already pending");
            return;
        }
        m_callActive = true;
        m_callResult.reset();
        m_parked = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request));
        std::string a = Utf8ToLocal(GetJsonString(msg.get(), "a"));
        std::string b = Utf8ToLocal(GetJsonString(msg.get(), "b"));
        std::string c = Utf8ToLocal(GetJsonString(msg.get(), "c"));
        // The command runs outside the scheme handler: it may open a child
        // window and wait for it.
        Post([this, a = std::move(a), b = std::move(b), c = std::move(c)]() mutable {
            RunCommand(std::move(a), std::move(b), std::move(c));
        });
        Pump();
    } else if (op == "resume") {
        const cJSON* seq = GetJsonMember(msg.get(), "s");
        // Sequence numbers are whole and far below 2^53; anything else the
        // page sends acknowledges nothing (and must not be cast: out of
        // range, the conversion is undefined).
        if (seq != nullptr && cJSON_IsNumber(seq) && seq->valuedouble >= 1 && seq->valuedouble <= 9007199254740992.0)
            Acknowledge(static_cast<std::uint64_t>(seq->valuedouble));
        if (!m_callActive || m_parked != nullptr) {
            FinishError(request, "no call is pending");
            return;
        }
        m_parked = WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request));
        Pump();
    } else if (op == "cancel") {
        FinishJson(request, "{}");
        EndDialog(CHtmlBaseDlg::IDCANCEL);
    } else {
        FinishError(request, "unknown request");
    }
}

void GtkPageHost::RunCommand(std::string a, std::string b, std::string c) {
    if (m_view == nullptr) return;  // the window closed before the command's turn
    std::string error;
    const std::string text = m_dlg.CallFromHtml(a, b, c, error);
    m_callResult = CallResult{LocalToUtf8(text), LocalToUtf8(error)};
    Pump();
}

void GtkPageHost::Answer(const std::string& json) {
    WebKitURISchemeRequest* request = m_parked;
    m_parked = nullptr;
    FinishJson(request, json);
    g_object_unref(request);
}

void GtkPageHost::FinishCall() {
    const CallResult& r = *m_callResult;
    const std::string json = r.error.empty() ? "{\"k\":\"r\",\"x\":\"" + JsonEscape(r.text) + "\"}"
                                             : "{\"k\":\"e\",\"x\":\"" + JsonEscape(r.error) + "\"}";
    m_callResult.reset();
    m_callActive = false;
    Answer(json);
    if (m_endRequested) {
        QuitLoop();
        return;
    }
    Pump();
}

void GtkPageHost::Acknowledge(std::uint64_t seq) {
    bool popped = false;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        if (!m_shared->queue.empty() && m_shared->queue.front().seq == seq) {
            m_shared->queue.pop_front();
            m_shared->delivered = seq;
            popped = true;
        }
    }
    if (popped) {
        m_inFlight = false;
        m_shared->cv.notify_all();
    }
}

void GtkPageHost::Pump() {
    if (m_view == nullptr) return;
    std::optional<Notice> head;
    {
        std::lock_guard<std::mutex> lock(m_shared->mutex);
        if (!m_shared->queue.empty()) head = m_shared->queue.front();
    }
    if (m_parked != nullptr) {
        // A finished call is answered first, so a busy link cannot hold the
        // page inside its call; the notices then go the ordinary route.
        if (m_callResult) {
            FinishCall();
        } else if (head) {
            // A page blocked in a call runs no script: the notice rides on
            // the pending call's answer, and the page asks again.
            Answer("{\"k\":\"n\",\"s\":" + std::to_string(head->seq) + ",\"x\":\"" + JsonEscape(head->text) + "\"}");
        }
        return;
    }
    if (m_callActive || m_inFlight || !head) return;
    m_inFlight = true;
    GVariantDict dict;
    g_variant_dict_init(&dict, nullptr);
    g_variant_dict_insert(&dict, "s", "d", static_cast<double>(head->seq));
    g_variant_dict_insert(&dict, "x", "s", head->text.c_str());
    struct Pending {
        std::weak_ptr<Shared> shared;
        std::uint64_t seq;
    };
    webkit_web_view_call_async_javascript_function(
        m_view, kDeliverNotification, -1, g_variant_dict_end(&dict), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Pending> p(static_cast<Pending*>(data));
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) g_object_unref(value);
            // A page without the script (or none at all) has had it too:
            // the text is dropped, as for a page without OnDlgNotify.
            if (error != nullptr) g_error_free(error);
            if (GtkPageHost* host = Alive(p->shared)) {
                host->Acknowledge(p->seq);
                host->Pump();
            }
        },
        new Pending{m_shared, head->seq});
}

// --- window events ------------------------------------------------------------

gboolean GtkPageHost::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer self) {
    auto* host = static_cast<GtkPageHost*>(self);
    switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
            if (uri != nullptr && host->AddressAllowed(uri)) {
                webkit_policy_decision_use(decision);
            } else {
                webkit_policy_decision_ignore(decision);
            }
            return TRUE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION:
            webkit_policy_decision_ignore(decision);
            return TRUE;
        default:
            return FALSE;
    }
}

void GtkPageHost::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
    auto* host = static_cast<GtkPageHost*>(self);
    if (event != WEBKIT_LOAD_FINISHED) return;
    if (host->m_dlg.OnDocumentComplete()) {
        GVariantDict dict;
        g_variant_dict_init(&dict, nullptr);
        g_variant_dict_insert(&dict, "p", "s", LocalToUtf8(host->m_dlg.m_strPageParam).c_str());
        webkit_web_view_call_async_javascript_function(
            view, kFirstLoad, -1, g_variant_dict_end(&dict), nullptr, nullptr, nullptr,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                std::unique_ptr<std::weak_ptr<Shared>> weak(static_cast<std::weak_ptr<Shared>*>(data));
                GError* error = nullptr;
                JSCValue* value =
                    webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
                if (value != nullptr) g_object_unref(value);
                if (error != nullptr) g_error_free(error);
                GtkPageHost* h = Alive(*weak);
                if (h != nullptr && h->m_onReady) h->m_onReady();
            },
            new std::weak_ptr<Shared>(host->m_shared));
    }
    host->Pump();
}

gboolean GtkPageHost::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    auto* host = static_cast<GtkPageHost*>(self);
    // Like a window disabled under its modal child or busy in a call: the
    // close command waits for the page to be free again.
    if (host->m_closing || host->m_callActive || host->m_endRequested) return TRUE;
    if (g_running.empty() || g_running.back() != host) return TRUE;
    host->m_closing = true;
    if (!host->m_dlg.OnSysClose()) {
        host->m_closing = false;
        return TRUE;
    }
    // "OnDlgEnd" runs, then the window ends; a page that never returns from
    // it cannot keep the window open for more than a few seconds.
    GVariantDict dict;
    g_variant_dict_init(&dict, nullptr);
    g_variant_dict_insert(&dict, "n", "s", "OnDlgEnd");
    g_variant_dict_insert(&dict, "x", "s", LocalToUtf8(host->m_dlg.m_strPageParam).c_str());
    g_timeout_add_full(
        G_PRIORITY_DEFAULT, 5000,
        [](gpointer data) -> gboolean {
            GtkPageHost* h = Alive(*static_cast<std::weak_ptr<Shared>*>(data));
            if (h != nullptr && h->m_closing && !h->m_endRequested) h->EndDialog(CHtmlBaseDlg::IDCANCEL);
            return G_SOURCE_REMOVE;
        },
        new std::weak_ptr<Shared>(host->m_shared),
        [](gpointer data) { delete static_cast<std::weak_ptr<Shared>*>(data); });
    webkit_web_view_call_async_javascript_function(
        host->m_view, kCallPageFunction, -1, g_variant_dict_end(&dict), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) g_object_unref(value);
            if (error != nullptr) g_error_free(error);
            std::unique_ptr<std::weak_ptr<Shared>> weak(static_cast<std::weak_ptr<Shared>*>(data));
            GtkPageHost* h = Alive(*weak);
            if (h != nullptr && !h->m_endRequested) h->EndDialog(CHtmlBaseDlg::IDCANCEL);
        },
        new std::weak_ptr<Shared>(host->m_shared));
    return TRUE;
}

void GtkPageHost::OnDestroy(GtkWidget*, gpointer self) {
    auto* host = static_cast<GtkPageHost*>(self);
    host->m_endRequested = true;
    host->QuitLoop();
}

gboolean GtkPageHost::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer) {
    // Stateless: GTK hands a key the page did not use back here a second time.
    const guint key = gdk_keyval_to_lower(event->keyval);
    const bool ctrl = (event->state & GDK_CONTROL_MASK) != 0;
    if (ctrl && (key == GDK_KEY_n || key == GDK_KEY_f)) return TRUE;  // no new window, no find box
    if (key == GDK_KEY_F5 || key == GDK_KEY_Escape) return TRUE;      // no reload, no Esc
    return FALSE;
}

}  // namespace gtk
}  // namespace quorvin
