// What Windows says of DPI and contrast. The calls that came with Windows
// 10 are looked up at run time: where they are missing, the system DPI of
// the screen stands in.
#pragma once

#include <windows.h>

namespace platform {

// The DPI a window is drawn at (the screen's without a window).
int windowDpi(HWND window);
// The small icon's size (the tray's) at `dpi`.
int smallIconSize(int dpi);
// Whether the process runs per-monitor aware in version 2, where the
// dialog manager rescales a dialog's layout itself when its DPI changes.
bool perMonitorV2();
// High contrast is on.
bool highContrastOn();

}  // namespace platform
