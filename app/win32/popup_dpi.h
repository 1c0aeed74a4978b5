// The popup and the tray icon at the DPI they are shown at, and the popup
// under high contrast (window thread).
#pragma once

#include <windows.h>

class Kel;

// The popup's picture for `dpi`: the one drawn for it, or the next larger
// one (the largest above 200 %) scaled to the size, pixel for pixel so that
// the key colour stays exact where it cuts the shape. Null when missing.
HBITMAP loadPopupPicture(HINSTANCE instance, int dpi);
// Makes the popup's picture, shape and drawing surface for `dpi` and sizes
// and places the window; what was there before is released. False when
// the picture or surface could not be made (the old ones stay).
bool makePopupSurfaces(Kel& kel, int dpi);
// WM_DPICHANGED of the popup window: the tray icons now, the popup now or,
// while a block is being typed, once it is done (applyPendingDpi).
void popupDpiChanged(Kel& kel, int dpi);
// From the half-second tick.
void applyPendingDpi(Kel& kel);

// Reads high contrast anew (start-up, WM_SETTINGCHANGE); the translucency
// and, when no block is being typed, the surface follow it.
void readHighContrast(Kel& kel);
// hantoumei's alpha, or opaque under high contrast.
void applyPopupTranslucency(Kel& kel);
// The popup's surface without text: its picture, or under high contrast the
// system's window colours (highlight for the summary line).
void clearPopupSurface(Kel& kel, bool summary);
