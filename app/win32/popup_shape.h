// The popup window's shape, translucency and place on the screen.
#pragma once

#include <windows.h>

#include <cstdint>

// Alpha 170 when hantoumei is 1, else 255. The layered style is added on the
// first call (start-up) and stays.
void applyTranslucency(HWND window, int32_t hantoumei);
// 16 pixels left of the work area's right edge, 12 above its bottom edge,
// at 96 DPI; the margins scale with `dpi`.
void placePopup(HWND window, int width, int height, int dpi = 96);
// The region of the picture's non-key pixels, or nullptr.
HRGN regionFromBitmap(HBITMAP picture);
