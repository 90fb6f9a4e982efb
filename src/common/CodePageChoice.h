// What both code page backends share: the code page a test or the page
// chose in place of the system's, name matching, and text up to a NUL.
#pragma once

#include <string>
#include <string_view>

namespace quorvin {

// The name given to SetLocalCodePage; empty: the system's code page.
std::string CodePageOverride();

// A code page name upper-cased without '-' and '_' ("utf_8" -> "UTF8").
std::string NormalisedCodePageName(const std::string& name);

// The text up to its first NUL, as the C strings it stands for end there.
std::string_view UpToZero(std::string_view text);

}  // namespace quorvin
