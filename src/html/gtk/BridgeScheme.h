// BridgeScheme: the agent's own URI scheme, which carries the page's
// synchronous calls. Every libsoup and WebKit scheme-request call of the
// window lives here.
#pragma once

#include <webkit2/webkit2.h>

#include <optional>
#include <string>

#include "html/PageCalls.h"

namespace quorvin::gtk {

// The one web context of the agent's views; its scheme's requests go to
// handler (the first caller's; every view shares it).
WebKitWebContext* SharedWebContext(WebKitURISchemeRequestCallback handler);

// One request to the scheme, held until it is answered; a request dropped
// unanswered is refused, so the page is never left blocked.
class SchemeRequest : public PageCalls::Request {
public:
    explicit SchemeRequest(WebKitURISchemeRequest* request);
    ~SchemeRequest() override;
    SchemeRequest(const SchemeRequest&) = delete;
    SchemeRequest& operator=(const SchemeRequest&) = delete;

    WebKitWebView* View() const;
    const char* Method() const;
    // The Origin header; null without one.
    const char* Origin() const;
    // The whole body; nothing when it is missing or too large.
    std::optional<std::string> ReadBody() const;

    void Answer(const std::string& json) override;
    void Refuse(const std::string& why) override;

private:
    WebKitURISchemeRequest* m_request;
    bool m_finished = false;
};

}  // namespace quorvin::gtk
