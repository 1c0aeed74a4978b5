#include "app/win32/popup_dpi.h"

#include <mutex>

#include "app/application.h"
#include "app/dpi.h"
#include "app/win32/popup_shape.h"
#include "mailcheck/check_cycle.h"
#include "notify/win32/tray_icon.h"
#include "platform/win32/dpi.h"
#include "platform/win32/gdi_guard.h"
#include "resources/resource_ids.h"

namespace {

int pictureId(int pictureDpi) {
  switch (pictureDpi) {
    case 120: return IDB_POPUP_125;
    case 144: return IDB_POPUP_150;
    case 168: return IDB_POPUP_175;
    case 192: return IDB_POPUP_200;
    default: return IDB_POPUP_BACKGROUND;
  }
}

// The window owns the region; the property lets the teardown find it.
void shapeWindow(HWND window, HRGN region) {
  if (!region) return;
  SetWindowRgn(window, region, TRUE);  // releases the one it had
  SetPropW(window, L"region", region);
}

// Both under popupLock.
void remakePopup(Kel& kel, int dpi) {
  kel.pendingDpi = 0;
  if (dpi != (kel.popupDpi > 0 ? kel.popupDpi : kDesignDpi)) makePopupSurfaces(kel, dpi);
}

}  // namespace

HBITMAP loadPopupPicture(HINSTANCE instance, int dpi) {
  int drawn = popupPictureDpi(dpi);
  HBITMAP picture = static_cast<HBITMAP>(
      LoadImageW(instance, MAKEINTRESOURCEW(pictureId(drawn)), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  const int width = scaleForDpi(kPopupWidth, dpi), height = scaleForDpi(kPopupHeight, dpi) + 1;
  BITMAP info;
  if (!picture || !GetObjectW(picture, sizeof info, &info)) return picture;
  if (info.bmWidth == width && info.bmHeight == height) return picture;
  GdiObject<HBITMAP> drawnPicture(picture);
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP scaled = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!scaled) return nullptr;
  MemoryDc src(nullptr), dst(nullptr);
  Selection from(src, drawnPicture), into(dst, scaled);
  SetStretchBltMode(dst, COLORONCOLOR);
  StretchBlt(dst, 0, 0, width, height, src, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  GdiFlush();
  return scaled;
}

bool makePopupSurfaces(Kel& kel, int dpi) {
  const int width = scaleForDpi(kel.popupWidth, dpi), height = scaleForDpi(kel.popupHeight, dpi);
  GdiObject<HBITMAP> picture(loadPopupPicture(kel.instance, dpi));
  GdiObject<HRGN> region(regionFromBitmap(picture));
  WindowDc windowDc(kel.popupWindow);
  if (!kel.backgroundDc) kel.backgroundDc = CreateCompatibleDC(windowDc);
  if (!kel.offscreenDc) kel.offscreenDc = CreateCompatibleDC(windowDc);
  GdiObject<HBITMAP> surface(CreateCompatibleBitmap(windowDc, width, height));
  if (!surface || !kel.backgroundDc || !kel.offscreenDc) return false;
  // Without a picture the popup is a plain rectangle (the old picture, if
  // any, stays).
  if (picture) {
    SelectObject(kel.backgroundDc, picture);
    if (kel.backgroundBitmap) DeleteObject(kel.backgroundBitmap);
    kel.backgroundBitmap = picture.release();
  }
  SelectObject(kel.offscreenDc, surface);
  if (kel.offscreenBitmap) DeleteObject(kel.offscreenBitmap);
  kel.offscreenBitmap = surface.release();
  kel.popupDpi = dpi;
  placePopup(kel.popupWindow, width, height, dpi);
  shapeWindow(kel.popupWindow, region.release());
  clearPopupSurface(kel, false);
  InvalidateRect(kel.popupWindow, nullptr, FALSE);
  return true;
}

void popupDpiChanged(Kel& kel, int dpi) {
  {
    std::lock_guard<std::mutex> g(kel.checkLock);  // the check pass replaces the pair
    kel.trayIconSize = platform::smallIconSize(dpi);
    remakeTrayPair(kel, kShellTray);
  }
  std::unique_lock<std::mutex> typing(kel.popupLock, std::try_to_lock);
  if (typing.owns_lock())
    remakePopup(kel, dpi);
  else
    kel.pendingDpi = dpi;
}

void applyPendingDpi(Kel& kel) {
  if (kel.pendingDpi <= 0) return;
  std::unique_lock<std::mutex> typing(kel.popupLock, std::try_to_lock);
  if (typing.owns_lock() && kel.pendingDpi > 0) remakePopup(kel, kel.pendingDpi);
}

void readHighContrast(Kel& kel) {
  kel.highContrast = kel.highContrastQuery ? kel.highContrastQuery() : platform::highContrastOn();
  applyPopupTranslucency(kel);
  std::unique_lock<std::mutex> typing(kel.popupLock, std::try_to_lock);
  if (!typing.owns_lock() || !kel.offscreenDc) return;
  clearPopupSurface(kel, false);
  InvalidateRect(kel.popupWindow, nullptr, FALSE);
}

void applyPopupTranslucency(Kel& kel) {
  int32_t hantoumei;
  {
    std::lock_guard<std::mutex> g(kel.checkLock);  // the settings sheet writes it
    hantoumei = kel.hantoumei;
  }
  applyTranslucency(kel.popupWindow, kel.highContrast ? 0 : hantoumei);
}

void clearPopupSurface(Kel& kel, bool summary) {
  const int width = scaleForDpi(kel.popupWidth, kel.popupDpi), height = scaleForDpi(kel.popupHeight, kel.popupDpi);
  if (!kel.highContrast) {
    BitBlt(kel.offscreenDc, 0, 0, width, height, kel.backgroundDc, 0, 0, SRCCOPY);
    return;
  }
  RECT all{0, 0, width, height};
  FillRect(kel.offscreenDc, &all, GetSysColorBrush(summary ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  // An edge in the text's colour, as wide as the picture's outline.
  int edge = scaleForDpi(1, kel.popupDpi);
  HBRUSH ink = GetSysColorBrush(summary ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
  for (int i = 0; i < edge; ++i) {
    RECT r{i, i, width - i, height - i};
    FrameRect(kel.offscreenDc, &r, ink);
  }
}
