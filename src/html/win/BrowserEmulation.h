// The WebBrowser control shows pages as Internet Explorer 7 unless the
// program is listed under FEATURE_BROWSER_EMULATION. This lists the running
// program (by its file name, for the current user only: nothing machine-wide)
// with the newest standards mode, IE 11 edge mode (11001).
#pragma once

#include <string>

namespace quorvin::win {

constexpr unsigned long kEmulateIe11Edge = 11001;

// False, with the reason in error, when the value could not be written
// (the pages then show in the old mode). Leaves a value that is already
// there alone, so an administrator's choice stands.
bool EnsureBrowserEmulation(std::string& error);

// The key it is kept under, below HKEY_CURRENT_USER.
extern const wchar_t kBrowserEmulationKey[];

}  // namespace quorvin::win
