// Lengths designed in pixels at 96 DPI, drawn at another DPI: the popup,
// its pictures, the tray icon's badge and the dialogs' fonts.
#pragma once

#include <cstdint>

constexpr int kDesignDpi = 96;

// A 96-DPI length at `dpi`, rounded half up (0 or less stands for 96), so
// that at 150 % everything is exactly 1.5 times its designed size.
int scaleForDpi(int length, int dpi);

// The DPI the popup's picture was drawn for that serves `dpi`: the next
// larger of 96, 120, 144, 168 and 192 (100 to 200 %), scaled down to fit,
// or the largest, scaled up.
int popupPictureDpi(int dpi);

// The count badge in a tray icon `size` pixels square: each digit's glyph,
// where the tens and the ones go, and the row they start on (5 x 7 at x 3
// and 8, y 5 in a 16-pixel icon).
struct BadgeGeometry {
  int glyphWidth, glyphHeight;
  int tensX, onesX, top;
};
BadgeGeometry badgeGeometry(int iconSize);
// The icon size the badge pictures were drawn for that serve `iconSize`:
// 16, 20, 24 or 32, the largest not above it (16 below 16).
int badgePictureSize(int iconSize);

// A dialog font made `height` high (a LOGFONT's lfHeight; negative: the
// character height, as dialog templates give it in points) at `fromDpi`,
// made at `toDpi`. Through the points for a negative height, so that a
// round trip over several DPIs comes back to the same font.
int32_t fontHeightAtDpi(int32_t height, int fromDpi, int toDpi);
