#include "html/BridgeLinks.h"

namespace quorvin {

BridgeLinks GetProcessLinks(PageWindow& /*owner*/) { return {}; }

}  // namespace quorvin
