#include "notify/win32/tray_icon.h"

#include "app/application.h"
#include "resources/resource_ids.h"

const TrayEffects kShellTray = {Shell_NotifyIconA};

namespace {

bool send(Kel& kel, const TrayEffects& tray) {
  return tray.notifyIcon(NIM_MODIFY, &kel.trayIconData) || tray.notifyIcon(NIM_ADD, &kel.trayIconData);
}

}  // namespace

void makeCountIcons(Kel& kel, int newCount) {
  if (newCount < 0) newCount = 0;
  if (newCount > 99) newCount = 99;
  // first colour, second colour, first mask, second mask, glyphs, glyph mask
  const int ids[6] = {IDB_COUNT_1, IDB_COUNT_2, IDB_COUNT_MASK_1, IDB_COUNT_MASK_2, IDB_DIGITS,
                      IDB_DIGIT_MASK};
  HDC windowDc = GetDC(kel.popupWindow);
  HBITMAP bmp[6];
  HDC dc[6];
  HGDIOBJ old[6];
  for (int i = 0; i < 6; ++i) {
    bmp[i] = static_cast<HBITMAP>(
        LoadImageA(kel.instance, MAKEINTRESOURCEA(ids[i]), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    dc[i] = CreateCompatibleDC(windowDc);
    old[i] = SelectObject(dc[i], bmp[i]);
  }
  const int digits[2] = {newCount / 10, newCount % 10};
  const int xs[2] = {3, 8};
  for (int k = 0; k < 2; ++k) {
    int sx = 5 * digits[k];
    BitBlt(dc[1], xs[k], 5, 5, 7, dc[5], sx, 0, SRCAND);
    BitBlt(dc[1], xs[k], 5, 5, 7, dc[4], sx, 0, SRCINVERT);
    BitBlt(dc[3], xs[k], 5, 5, 7, dc[5], sx, 0, SRCAND);
  }
  // Bitmaps are taken out of their contexts before icons are made of them.
  for (int i = 0; i < 6; ++i) SelectObject(dc[i], old[i]);
  for (int i = 0; i < 2; ++i) {
    ICONINFO info{};
    info.fIcon = TRUE;
    info.xHotspot = 16;
    info.yHotspot = 16;
    info.hbmColor = bmp[i];
    info.hbmMask = bmp[2 + i];
    kel.trayIcons[i] = CreateIconIndirect(&info);
  }
  for (int i = 0; i < 6; ++i) {
    DeleteDC(dc[i]);
    DeleteObject(bmp[i]);
  }
  ReleaseDC(kel.popupWindow, windowDc);
}

void updateTrayIcon(Kel& kel, const TrayEffects& tray) {
  if (kel.iconani == 0) {
    kel.trayPhase = kel.trayPhase == 0 ? 1 : 0;
    kel.trayIconData.hIcon = kel.trayIcons[kel.trayPhase];
    send(kel, tray);
    return;
  }
  if (kel.trayIconRefreshed != 0) return;
  kel.trayIconData.hIcon = kel.trayIcons[kel.trayPhase & 1];
  if (send(kel, tray)) kel.trayIconRefreshed = 1;
}
