// GtkPageView: the WebKit view that shows a page: its settings, the
// window's script in every top document, the navigation policy's hooks, and
// the calls into the page's script. Every WebKitWebView call of the window
// lives here.
#pragma once

#include <webkit2/webkit2.h>

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quorvin::gtk {

class GtkPageView {
public:
    struct Events {
        // May the view show this address? (Navigation; new windows are
        // always refused.)
        std::function<bool(const std::string& uri)> allowAddress;
        // A document has finished loading.
        std::function<void()> loadFinished;
        // The page's renderer (web) process has ended: crashed, killed or
        // out of memory. The view shows nothing until it loads again.
        std::function<void()> rendererGone;
    };
    // Named text arguments of a script function.
    using Args = std::vector<std::pair<const char*, std::string>>;
    using Done = std::function<void()>;

    // A view in the agent's web context whose top documents get bootstrap
    // at document start.
    GtkPageView(WebKitURISchemeRequestCallback schemeHandler, const std::string& bootstrap, Events events);
    ~GtkPageView();
    GtkPageView(const GtkPageView&) = delete;
    GtkPageView& operator=(const GtkPageView&) = delete;

    WebKitWebView* View() const { return m_view; }
    GtkWidget* Widget() const { return GTK_WIDGET(m_view); }
    void Load(const std::string& uri);
    // Loads the current address again.
    void Reload();

    // Runs body as an async function with args (and an optional number
    // named seqName); done runs once it has returned or failed.
    void CallFunction(const char* body, const Args& args, Done done, const char* seqName = nullptr, double seq = 0);
    // Runs script; done gets its result as JSON, or nothing on an error.
    void Evaluate(const std::string& script, std::function<void(std::optional<std::string>)> done);

private:
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision*, WebKitPolicyDecisionType, gpointer self);
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self);
    static void OnRendererGone(WebKitWebView*, WebKitWebProcessTerminationReason, gpointer self);

    WebKitWebView* m_view = nullptr;
    Events m_events;
};

}  // namespace quorvin::gtk
