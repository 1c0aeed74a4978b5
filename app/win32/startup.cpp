// Start-up and clean-up of the application object (window thread only).
#include <cstring>
#include <string>

#include "app/application.h"
#include "app/module_dir.h"
#include "app/socket_library.h"
#include "app/ticks.h"
#include "app/win32/popup_shape.h"
#include "notify/win32/presence.h"
#include "notify/win32/tray_icon.h"
#include "app/win32/window_proc.h"
#include "app/win32/workers.h"
#include "platform/trace.h"
#include "platform/win32/gdi_guard.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"

namespace {

// The directory of kel.exe, ending in its backslash: the settings files sit
// there. In UTF-8, since its name need not fit the ANSI code page; a path
// cut short by any buffer fails rather than naming another folder.
bool findModuleDir(Kel& kel) {
  wchar_t exePath[1024] = {};
  DWORD n = GetModuleFileNameW(nullptr, exePath, 1024);
  if (n == 0 || n >= 1024 - 1) return false;
  std::string utf8 = platform::narrowPath(exePath);
  return !utf8.empty() && moduleDirFromPath(utf8.c_str(), kel.moduleDir, sizeof kel.moduleDir);
}

// No results, drawing surfaces, threads or rules yet, whatever the object
// held; the minute counters at zero.
void clearRunState(Kel& kel) {
  kel.totalNew = 0;
  kel.totalIgnored = 0;
  memset(kel.results, 0, sizeof kel.results);
  kel.backgroundBitmap = nullptr;
  kel.offscreenBitmap = nullptr;
  kel.backgroundDc = nullptr;
  kel.offscreenDc = nullptr;
  kel.checkThreadHandle = nullptr;
  kel.clockThreadHandle = nullptr;
  kel.checkState = kIdle;
  kel.clockState = kIdle;
  kel.checkThreadId = 0;
  kel.clockThreadId = 0;
  kel.ruleEditCode = 0;
  memset(kel.deleteList, 0, sizeof kel.deleteList);
  memset(kel.ignoreList, 0, sizeof kel.ignoreList);
  kel.checkMinutes = 0;
  kel.clockMinutes = 0;
  kel.clockSocket = kNoSocket;
}

bool registerWindowClass(HINSTANCE instance) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = popupWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = L"kel";
  return RegisterClassW(&wc) != 0;
}

bool createPopupWindow(Kel& kel) {
  kel.popupWindow = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"kel",
                                    L"Kel Ver. 1.xx", WS_POPUP | WS_VISIBLE, CW_USEDEFAULT,
                                    CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                    kel.instance, nullptr);
  return kel.popupWindow != nullptr;
}

// The popup's background, and the window's shape cut out of it (or none).
HRGN loadBackground(Kel& kel) {
  kel.backgroundBitmap = static_cast<HBITMAP>(LoadImageW(
      kel.instance, MAKEINTRESOURCEW(IDB_POPUP_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  return regionFromBitmap(kel.backgroundBitmap);
}

// They live until the program ends, with their bitmaps selected.
void makeDrawingSurfaces(Kel& kel) {
  WindowDc windowDc(kel.popupWindow);
  kel.backgroundDc = CreateCompatibleDC(windowDc);
  kel.offscreenDc = CreateCompatibleDC(windowDc);
  kel.offscreenBitmap = CreateCompatibleBitmap(windowDc, kPopupWidth, kPopupHeight);
  SelectObject(kel.offscreenDc, kel.offscreenBitmap);
  if (kel.backgroundBitmap) SelectObject(kel.backgroundDc, kel.backgroundBitmap);
}

// The window owns the region from here on; the property lets the teardown
// find it again to release it.
void shapeWindow(HWND window, HRGN region) {
  if (!region) return;
  SetWindowRgn(window, region, TRUE);
  SetPropW(window, L"region", region);
}

// The check pass shows it when there is mail to announce.
void hidePopup(HWND window) {
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
}

void loadTrayIcons(Kel& kel) {
  kel.trayPhase = 0;
  for (int i = 0; i < 2; ++i)
    kel.trayIcons[i] = static_cast<HICON>(LoadImageW(kel.instance, MAKEINTRESOURCEW(IDI_TRAY_1 + i),
                                                     IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
}

void loadTrayMenu(Kel& kel) {
  kel.menu = LoadMenuW(kel.instance, MAKEINTRESOURCEW(IDR_TRAY_MENU));
  kel.trayMenu = kel.menu ? GetSubMenu(kel.menu, 0) : nullptr;
}

void addTrayIcon(Kel& kel) {
  TrayIconData& tray = kel.trayIconData;
  memset(&tray, 0, sizeof tray);
  tray.hIcon = kel.trayIcons[0];
  strncpy(tray.szTip, "未読メールなし", sizeof tray.szTip - 1);
  notifyTray(kel, NIM_ADD, kShellTray);
}

void startTimers(HWND window) {
  SetTimer(window, kMailCheckTimer, 60000, nullptr);
  SetTimer(window, kClockSyncTimer, 60000, nullptr);
  SetTimer(window, kTrayTimer, 500, nullptr);
}

// A restarted taskbar announces itself with this message; the tray icon is
// added again then.
void watchForTaskbarRestart(Kel& kel) {
  kel.taskbarCreatedMessage = RegisterWindowMessageW(L"TaskbarCreated");
}

// So that the first mail check starts at once, and the first clock sync at
// the first minute's tick.
void countPastEveryInterval(Kel& kel) {
  kel.checkMinutes = kCountPastEveryInterval;
  kel.clockMinutes = kCountPastEveryInterval;
}

void startFirstCheck(HWND window) { SendMessageW(window, WM_TIMER, kMailCheckTimer, 0); }

}  // namespace

int Kel::startup() {
  if (!findModuleDir(*this)) return 1;
  clearRunState(*this);
  loadAllSettings(*this);
  if (!registerWindowClass(instance)) return 1;
  if (!createPopupWindow(*this)) return 1;
  applyTranslucency(popupWindow, hantoumei);
  placePopup(popupWindow, popupWidth, popupHeight);
  HRGN region = loadBackground(*this);
  makeDrawingSurfaces(*this);
  shapeWindow(popupWindow, region);
  hidePopup(popupWindow);
  loadTrayIcons(*this);
  loadTrayMenu(*this);
  addTrayIcon(*this);
  startTimers(popupWindow);
  watchForTaskbarRestart(*this);
  watchSessionChanges(*this);
  startSocketLibrary(*this);
  // Without it IMAP accounts are checked at their interval only.
  if (!startIdleWatcher(*this)) platform::trace("IDLE: スレッドを作れません。\n");
  countPastEveryInterval(*this);
  startFirstCheck(popupWindow);
  return 0;
}

// After the window's teardown, which saved the options and saw every
// worker end.
void Kel::cleanup() {
  if (offscreenDc) DeleteDC(offscreenDc);
  if (offscreenBitmap) DeleteObject(offscreenBitmap);
  if (backgroundDc) DeleteDC(backgroundDc);
  if (backgroundBitmap) DeleteObject(backgroundBitmap);
  offscreenDc = backgroundDc = nullptr;
  offscreenBitmap = backgroundBitmap = nullptr;
  // trayMenu is part of menu; destroying menu frees both.
  if (menu) DestroyMenu(menu);
  menu = trayMenu = nullptr;
  freeRuleList(deleteList);
  freeRuleList(ignoreList);
}
