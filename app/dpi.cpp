#include "app/dpi.h"

namespace {
int valid(int dpi) { return dpi > 0 ? dpi : kDesignDpi; }

// a * b / c rounded half away from zero, as Windows' MulDiv.
int32_t mulDiv(int32_t a, int32_t b, int32_t c) {
  int64_t p = static_cast<int64_t>(a) * b;
  int64_t q = (p < 0 ? p - c / 2 : p + c / 2) / c;
  return static_cast<int32_t>(q);
}
}  // namespace

int scaleForDpi(int length, int dpi) {
  int64_t scaled = (static_cast<int64_t>(length) * valid(dpi) + kDesignDpi / 2) / kDesignDpi;
  return static_cast<int>(scaled);
}

int popupPictureDpi(int dpi) {
  static const int drawn[] = {96, 120, 144, 168, 192};
  for (int d : drawn)
    if (valid(dpi) <= d) return d;
  return 192;
}

BadgeGeometry badgeGeometry(int iconSize) {
  int dpi = kDesignDpi * (iconSize > 0 ? iconSize : 16) / 16;
  BadgeGeometry g;
  g.glyphWidth = scaleForDpi(5, dpi);
  g.glyphHeight = scaleForDpi(7, dpi);
  g.tensX = scaleForDpi(3, dpi);
  g.onesX = g.tensX + g.glyphWidth;  // side by side, as at 16 pixels
  g.top = scaleForDpi(5, dpi);
  return g;
}

int badgePictureSize(int iconSize) {
  static const int drawn[] = {32, 24, 20};
  for (int s : drawn)
    if (iconSize >= s) return s;
  return 16;
}

int32_t fontHeightAtDpi(int32_t height, int fromDpi, int toDpi) {
  fromDpi = valid(fromDpi);
  toDpi = valid(toDpi);
  if (fromDpi == toDpi || height == 0) return height;
  if (height > 0) return mulDiv(height, toDpi, fromDpi);
  int32_t points = mulDiv(-height, 72, fromDpi);
  return -mulDiv(points, toDpi, 72);
}
