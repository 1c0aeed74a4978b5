// Start-up and clean-up of the application object (window thread only).
#include <cstring>
#include <string>

#include "app/application.h"
#include "app/module_dir.h"
#include "app/socket_library.h"
#include "app/ticks.h"
#include "app/win32/popup_dpi.h"
#include "app/win32/popup_shape.h"
#include "mailcheck/check_cycle.h"
#include "notify/win32/presence.h"
#include "notify/win32/tray_icon.h"
#include "app/win32/window_proc.h"
#include "platform/win32/dpi.h"
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

// The check pass shows it when there is mail to announce.
void hidePopup(HWND window) {
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
}

// At the size the tray asks for at the window's DPI.
void loadTrayIcons(Kel& kel, int dpi) {
  kel.trayPhase = 0;
  kel.trayIconSize = platform::smallIconSize(dpi);
  makeTrayPair(kel, kTrayIdle, 0);
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
  readHighContrast(*this);  // and the translucency with it
  const int dpi = platform::windowDpi(popupWindow);
  makePopupSurfaces(*this, dpi);  // sized, placed and shaped for the DPI
  hidePopup(popupWindow);
  loadTrayIcons(*this, dpi);
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
