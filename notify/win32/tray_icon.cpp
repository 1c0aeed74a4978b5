#include "notify/win32/tray_icon.h"

#include <cwchar>
#include <optional>
#include <string>

#include "app/application.h"
#include "app/dpi.h"
#include "app/win32/window_proc.h"
#include "mailcheck/check_cycle.h"
#include "platform/win32/gdi_guard.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

const TrayEffects kShellTray = {Shell_NotifyIconW};

BOOL notifyTray(const Kel& kel, DWORD message, const TrayEffects& tray) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof data;
  data.hWnd = kel.popupWindow;
  data.uID = 1;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallbackMessage;
  data.hIcon = kel.trayIconData.hIcon;
  // Code page 932 itself: the ANSI code page may be any.
  std::wstring tip = platform::widen(kel.trayIconData.szTip);
  wcsncpy(data.szTip, tip.c_str(), sizeof data.szTip / sizeof data.szTip[0] - 1);
  return tray.notifyIcon(message, &data);
}

namespace {

bool send(Kel& kel, const TrayEffects& tray) {
  return notifyTray(kel, NIM_MODIFY, tray) || notifyTray(kel, NIM_ADD, tray);
}

// A bitmap resource of the count badge, selected into a context of its own
// to be drawn on.
class Picture {
 public:
  Picture(HINSTANCE instance, int id, HDC like)
      : bitmap_(static_cast<HBITMAP>(
            LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION))),
        dc_(like),
        selection_(dc_, bitmap_) {}
  HDC dc() const { return dc_; }
  HBITMAP bitmap() const { return bitmap_; }
  void deselect() { selection_.restore(); }

 private:
  GdiObject<HBITMAP> bitmap_;
  MemoryDc dc_;
  Selection selection_;
};

}  // namespace

void makeCountIcons(Kel& kel, int newCount) {
  if (newCount < 0) newCount = 0;
  if (newCount > 99) newCount = 99;
  const int size = badgePictureSize(kel.trayIconSize);
  const BadgeGeometry g = badgeGeometry(size);
  // first colour, second colour, first mask, second mask, glyphs, glyph mask
  int ids[6] = {IDB_COUNT_1, IDB_COUNT_2, IDB_COUNT_MASK_1, IDB_COUNT_MASK_2, IDB_DIGITS, IDB_DIGIT_MASK};
  if (size != 16) {
    const int base = size == 20 ? IDB_BADGE_20 : size == 24 ? IDB_BADGE_24 : IDB_BADGE_32;
    const int order[6] = {2, 3, 4, 5, 0, 1};  // the drawn sets list the digits first
    for (int i = 0; i < 6; ++i) ids[i] = base + order[i];
  }
  WindowDc windowDc(kel.popupWindow);
  std::optional<Picture> pic[6];
  for (int i = 0; i < 6; ++i) pic[i].emplace(kel.instance, ids[i], windowDc);
  const int digits[2] = {newCount / 10, newCount % 10};
  const int xs[2] = {g.tensX, g.onesX};
  const int w = g.glyphWidth, h = g.glyphHeight;
  for (int k = 0; k < 2; ++k) {
    int sx = w * digits[k];
    BitBlt(pic[1]->dc(), xs[k], g.top, w, h, pic[5]->dc(), sx, 0, SRCAND);
    BitBlt(pic[1]->dc(), xs[k], g.top, w, h, pic[4]->dc(), sx, 0, SRCINVERT);
    BitBlt(pic[3]->dc(), xs[k], g.top, w, h, pic[5]->dc(), sx, 0, SRCAND);
  }
  // Bitmaps are taken out of their contexts before icons are made of them.
  for (int i = 0; i < 6; ++i) pic[i]->deselect();
  for (int i = 0; i < 2; ++i) {
    ICONINFO info{};
    info.fIcon = TRUE;
    info.xHotspot = static_cast<DWORD>(size);
    info.yHotspot = static_cast<DWORD>(size);
    info.hbmColor = pic[i]->bitmap();
    info.hbmMask = pic[2 + i]->bitmap();
    kel.trayIcons[i] = CreateIconIndirect(&info);
  }
}

namespace {
HICON loadTrayIcon(const Kel& kel, int id) {
  int size = kel.trayIconSize > 0 ? kel.trayIconSize : 16;
  return static_cast<HICON>(LoadImageW(kel.instance, MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}
}  // namespace

void makeTrayPair(Kel& kel, int outcome, int newCount) {
  kel.trayOutcome = outcome;
  kel.trayCount = newCount;
  switch (outcome) {
    case kTrayError:
      kel.trayIcons[0] = loadTrayIcon(kel, IDI_ERROR_1);
      kel.trayIcons[1] = loadTrayIcon(kel, IDI_ERROR_2);
      break;
    case kTrayCount: makeCountIcons(kel, newCount); break;
    default:
      kel.trayIcons[0] = loadTrayIcon(kel, IDI_TRAY_1);
      kel.trayIcons[1] = loadTrayIcon(kel, IDI_TRAY_2);
      break;
  }
}

void remakeTrayPair(Kel& kel, const TrayEffects& tray) {
  HICON old[2] = {kel.trayIcons[0], kel.trayIcons[1]};
  makeTrayPair(kel, kel.trayOutcome, kel.trayCount);
  kel.trayIconData.hIcon = kel.trayIcons[kel.trayPhase & 1];
  send(kel, tray);  // the shell keeps its own copy of the icon
  for (HICON icon : old)
    if (icon) DestroyIcon(icon);
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
