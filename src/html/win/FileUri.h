// Local page addresses as the browser sees them. The agent forms addresses
// as paths ("C:\agent\main.htm?x"); the browser navigates to file URIs and
// reports them in its own spelling (escapes, separators, case). Both sides
// are brought to one canonical form before the window's allow-list compares
// them.
#pragma once

#include <string>

namespace quorvin::win {

// The address to navigate to: addresses with a scheme as they are, a local
// path as a file URI, its query kept.
std::wstring ToBrowserUri(const std::wstring& address);

// For comparison only: a file URI with its path made absolute (no "." or
// ".." pieces), escaped one way and lower-cased (Windows paths ignore case);
// any other address as it is. The query and fragment are kept as they are.
// Empty for a file URI that names no path.
std::wstring CanonicalUri(const std::wstring& uri);

}  // namespace quorvin::win
