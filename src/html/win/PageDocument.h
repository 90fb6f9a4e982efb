// PageDocument: what the window does inside the shown document through
// MSHTML: call one of the page's global functions through the document's
// script object, and fill the page's "txtPageParam" element.
#pragma once

#include <oaidl.h>

#include <string>
#include <vector>

namespace quorvin::win {

enum class ScriptCall {
    Done,        // the function ran
    NoFunction,  // the page has no such function (or no script at all)
    Failed,      // it ran and raised an error
};

// Calls name(args...) in the document (an IHTMLDocument's IDispatch).
ScriptCall CallPageFunction(IDispatch* document, const std::wstring& name, const std::vector<std::wstring>& args);

// Puts text into the element with id or name "txtPageParam": the value of
// an input, the text of anything else. False when there is none.
bool FillPageParam(IDispatch* document, const std::wstring& text);

}  // namespace quorvin::win
