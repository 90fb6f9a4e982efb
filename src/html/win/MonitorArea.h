// The work area (the screen without the task bar) of the monitor a window
// is on, or of the primary monitor.
#pragma once

#include <windows.h>

#include "html/PageHost.h"

namespace quorvin::win {

WorkArea MonitorWorkArea(HWND window);

}  // namespace quorvin::win
