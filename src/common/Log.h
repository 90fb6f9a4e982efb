// One line on stderr for each failure or change of state an operator may
// need to see ("connect to 10.0.0.5:9100 failed: Connection refused"), never
// one per message:
//   2025-01-31 14:05:09.123 quorvin: tcp link: connect to 10.0.0.5:9100 failed: Connection refused
#pragma once

#include <string_view>

namespace quorvin {

// area names the part that failed ("tcp link", "http"), text what failed
// and why. The line is written whole in one call, so lines from different
// threads never mix; control characters in text (a name from a server, say)
// become spaces, so it stays one line.
void LogFailure(const char* area, std::string_view text);

}  // namespace quorvin
