// The script the window puts into its pages: window.external.CallFromHtml
// over a synchronous request to the agent's own URI scheme, the delivery of
// notifications, and the calls of the page's script functions.
#pragma once

#include <string>

namespace quorvin::gtk {

// The URI scheme the page's calls go to (served inside the agent only).
constexpr const char* kBridgeScheme = "quorvin";

// The document-start script for the top frame; token is the view's secret,
// so only documents that got this script can call.
std::string PageBootstrapScript(const std::string& token);

// Bodies for webkit_web_view_call_async_javascript_function.
// Arguments: s (sequence number), x (text).
extern const char* const kDeliverNotification;
// Arguments: n (function name), x (text).
extern const char* const kCallPageFunction;
// Arguments: p (page parameter). Fills "txtPageParam", then "OnDlgInit".
extern const char* const kFirstLoad;

}  // namespace quorvin::gtk
