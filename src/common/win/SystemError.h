// The system's text for a Win32 error code, for failure messages.
#pragma once

#include <string>

namespace quorvin::platform {

// "Access denied" for ERROR_ACCESS_DENIED: no trailing period or line end;
// "error 1234" when the system has no text for the code.
std::string SystemErrorText(unsigned long code);

}  // namespace quorvin::platform
