#include "html/win/MonitorArea.h"

namespace quorvin::win {

WorkArea MonitorWorkArea(HWND window) {
    const HMONITOR monitor = MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (monitor != nullptr && GetMonitorInfoW(monitor, &info)) {
        return {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom};
    }
    RECT rc{};
    if (SystemParametersInfoW(SPI_GETWORKAREA, 0, &rc, 0)) return {rc.left, rc.top, rc.right, rc.bottom};
    return {0, 0, 1024, 768};
}

}  // namespace quorvin::win
