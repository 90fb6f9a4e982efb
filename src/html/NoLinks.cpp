// The links of a build whose link library has no managers yet: the bridge
// gets none, and answers the link commands as such a build does.
#include "html/BridgeLinks.h"

namespace quorvin {

BridgeLinks GetProcessLinks(PageWindow&) { return {}; }

void CloseProcessLinks() {}

}  // namespace quorvin
