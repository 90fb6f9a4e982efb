#include "html/gtk/GtkPageView.h"

#include <cstdlib>
#include <memory>

#include "html/gtk/BridgeScheme.h"
#include "html/gtk/GObjectPtr.h"

namespace quorvin::gtk {

GtkPageView::GtkPageView(WebKitURISchemeRequestCallback schemeHandler, const std::string& bootstrap, Events events)
    : m_events(std::move(events)) {
    GObjectPtr<WebKitUserContentManager> content(webkit_user_content_manager_new());
    WebKitUserScript* user = webkit_user_script_new(bootstrap.c_str(), WEBKIT_USER_CONTENT_INJECT_TOP_FRAME,
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
    m_view = WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "web-context", SharedWebContext(schemeHandler),
                                          "user-content-manager", content.get(), "settings", settings.get(), nullptr));
    g_object_ref_sink(m_view);
    g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
    g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
    g_signal_connect(m_view, "web-process-terminated", G_CALLBACK(OnRendererGone), this);
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
}

GtkPageView::~GtkPageView() {
    g_signal_handlers_disconnect_by_data(m_view, this);
    g_object_unref(m_view);
}

void GtkPageView::Load(const std::string& uri) { webkit_web_view_load_uri(m_view, uri.c_str()); }

void GtkPageView::Reload() { webkit_web_view_reload(m_view); }

void GtkPageView::CallFunction(const char* body, const Args& args, Done done, const char* seqName, double seq) {
    GVariantDict dict;
    g_variant_dict_init(&dict, nullptr);
    if (seqName != nullptr) g_variant_dict_insert(&dict, seqName, "d", seq);
    for (const auto& [name, value] : args) g_variant_dict_insert(&dict, name, "s", value.c_str());
    // WebKit reads the arguments but never sinks a floating variant: left
    // floating, every argument (every notification's text) would stay in
    // memory for good. Held here, it goes when the call has been sent.
    const GVariantPtr arguments = SinkVariant(g_variant_dict_end(&dict));
    webkit_web_view_call_async_javascript_function(
        m_view, body, -1, arguments.get(), nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<Done> callback(static_cast<Done*>(data));
            GError* error = nullptr;
            JSCValue* value =
                webkit_web_view_call_async_javascript_function_finish(WEBKIT_WEB_VIEW(source), result, &error);
            if (value != nullptr) g_object_unref(value);
            // A page without the function (or none at all) has had it too.
            if (error != nullptr) g_error_free(error);
            if (*callback) (*callback)();
        },
        new Done(std::move(done)));
}

void GtkPageView::Evaluate(const std::string& script, std::function<void(std::optional<std::string>)> done) {
    using EvalDone = std::function<void(std::optional<std::string>)>;
    webkit_web_view_evaluate_javascript(
        m_view, script.c_str(), -1, nullptr, nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
            std::unique_ptr<EvalDone> callback(static_cast<EvalDone*>(data));
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
        new EvalDone(std::move(done)));
}

gboolean GtkPageView::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                     gpointer self) {
    auto* view = static_cast<GtkPageView*>(self);
    switch (type) {
        case WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION: {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            const gchar* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
            if (uri != nullptr && view->m_events.allowAddress && view->m_events.allowAddress(uri)) {
                webkit_policy_decision_use(decision);
            } else {
                webkit_policy_decision_ignore(decision);
            }
            return TRUE;
        }
        case WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION: webkit_policy_decision_ignore(decision); return TRUE;
        default: return FALSE;
    }
}

void GtkPageView::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* view = static_cast<GtkPageView*>(self);
    if (event == WEBKIT_LOAD_FINISHED && view->m_events.loadFinished) view->m_events.loadFinished();
}

void GtkPageView::OnRendererGone(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self) {
    auto* view = static_cast<GtkPageView*>(self);
    if (view->m_events.rendererGone) view->m_events.rendererGone();
}

}  // namespace quorvin::gtk
