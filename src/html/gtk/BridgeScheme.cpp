#include "html/gtk/BridgeScheme.h"

#include <libsoup/soup.h>

#include "html/gtk/GObjectPtr.h"
#include "html/gtk/PageScript.h"

namespace quorvin::gtk {

namespace {

// Requests larger than this are refused rather than read into memory.
constexpr gsize kMaxRequestBytes = gsize{256} * 1024 * 1024;

}  // namespace

WebKitWebContext* SharedWebContext(WebKitURISchemeRequestCallback handler) {
    static GObjectPtr<WebKitWebContext> context = [handler] {
        GObjectPtr<WebKitWebContext> ctx(webkit_web_context_new());
        webkit_web_context_set_cache_model(ctx.get(), WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        webkit_web_context_register_uri_scheme(ctx.get(), kBridgeScheme, handler, nullptr, nullptr);
        return ctx;
    }();
    return context.get();
}

SchemeRequest::SchemeRequest(WebKitURISchemeRequest* request)
    : m_request(WEBKIT_URI_SCHEME_REQUEST(g_object_ref(request))) {}

SchemeRequest::~SchemeRequest() {
    if (!m_finished) Refuse("the request was dropped");
    g_object_unref(m_request);
}

WebKitWebView* SchemeRequest::View() const { return webkit_uri_scheme_request_get_web_view(m_request); }

const char* SchemeRequest::Method() const { return webkit_uri_scheme_request_get_http_method(m_request); }

const char* SchemeRequest::Origin() const {
    SoupMessageHeaders* headers = webkit_uri_scheme_request_get_http_headers(m_request);
    return headers ? soup_message_headers_get_one(headers, "Origin") : nullptr;
}

std::optional<std::string> SchemeRequest::ReadBody() const {
    GObjectPtr<GInputStream> body(webkit_uri_scheme_request_get_http_body(m_request));
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

void SchemeRequest::Answer(const std::string& json) {
    if (m_finished) return;
    m_finished = true;
    GBytes* bytes = g_bytes_new(json.data(), json.size());
    GObjectPtr<GInputStream> stream(g_memory_input_stream_new_from_bytes(bytes));
    g_bytes_unref(bytes);
    GObjectPtr<WebKitURISchemeResponse> response(
        webkit_uri_scheme_response_new(stream.get(), static_cast<gint64>(json.size())));
    webkit_uri_scheme_response_set_content_type(response.get(), "application/json; charset=utf-8");
    webkit_uri_scheme_response_set_status(response.get(), 200, "OK");
    webkit_uri_scheme_request_finish_with_response(m_request, response.get());
}

void SchemeRequest::Refuse(const std::string& why) {
    if (m_finished) return;
    m_finished = true;
    GError* error = g_error_new_literal(G_IO_ERROR, G_IO_ERROR_PERMISSION_DENIED, why.c_str());
    webkit_uri_scheme_request_finish_error(m_request, error);
    g_error_free(error);
}

}  // namespace quorvin::gtk
