// Start-up and clean-up of the application object (window thread only).
#include <cstring>

#include "app/application.h"
#include "app/module_dir.h"
#include "app/socket_library.h"
#include "app/win32/popup_shape.h"
#include "app/win32/window_proc.h"
#include "resources/resource_ids.h"

int Kel::startup() {
  char exePath[260] = {};
  GetModuleFileNameA(nullptr, exePath, 256);
  if (!moduleDirFromPath(exePath, moduleDir, sizeof moduleDir)) return 1;

  totalNew = 0;
  totalIgnored = 0;
  memset(results, 0, sizeof results);
  backgroundBitmap = nullptr;
  offscreenBitmap = nullptr;
  backgroundDc = nullptr;
  offscreenDc = nullptr;
  checkThreadHandle = nullptr;
  clockThreadHandle = nullptr;
  checkState = kIdle;
  clockState = kIdle;
  checkThreadId = 0;
  clockThreadId = 0;
  ruleEditCode = 0;
  memset(deleteList, 0, sizeof deleteList);
  memset(ignoreList, 0, sizeof ignoreList);
  checkMinutes = 0;
  clockMinutes = 0;
  clockSocket = kNoSocket;

  loadAllSettings(*this);

  WNDCLASSA wc{};
  wc.lpfnWndProc = popupWindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = "kel";
  if (!RegisterClassA(&wc)) return 1;

  popupWindow = CreateWindowExA(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, "kel",
                                "Kel Ver. 1.xx", WS_POPUP | WS_VISIBLE, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                instance, nullptr);
  if (!popupWindow) return 1;

  applyTranslucency(popupWindow, hantoumei);
  placePopup(popupWindow, popupWidth, popupHeight);

  backgroundBitmap = static_cast<HBITMAP>(LoadImageA(
      instance, MAKEINTRESOURCEA(IDB_POPUP_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  HRGN region = regionFromBitmap(backgroundBitmap);

  HDC windowDc = GetDC(popupWindow);
  backgroundDc = CreateCompatibleDC(windowDc);
  offscreenDc = CreateCompatibleDC(windowDc);
  offscreenBitmap = CreateCompatibleBitmap(windowDc, 204, 40);
  SelectObject(offscreenDc, offscreenBitmap);
  if (backgroundBitmap) SelectObject(backgroundDc, backgroundBitmap);
  ReleaseDC(popupWindow, windowDc);

  if (region) {
    SetWindowRgn(popupWindow, region, TRUE);
    SetPropA(popupWindow, "region", region);
  }

  ShowWindow(popupWindow, SW_HIDE);
  UpdateWindow(popupWindow);

  trayPhase = 0;
  for (int i = 0; i < 2; ++i)
    trayIcons[i] = static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_TRAY_1 + i),
                                                 IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));

  menu = LoadMenuA(instance, MAKEINTRESOURCEA(IDR_TRAY_MENU));
  trayMenu = menu ? GetSubMenu(menu, 0) : nullptr;

  memset(&trayIconData, 0, sizeof trayIconData);
  trayIconData.cbSize = sizeof trayIconData;
  trayIconData.hWnd = popupWindow;
  trayIconData.uID = 1;
  trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  trayIconData.uCallbackMessage = KEL_TRAY_CALLBACK;
  trayIconData.hIcon = trayIcons[0];
  strncpy(trayIconData.szTip, "未読メールなし", sizeof trayIconData.szTip - 1);
  Shell_NotifyIconA(NIM_ADD, &trayIconData);

  SetTimer(popupWindow, KEL_TIMER_MAIL, 60000, nullptr);
  SetTimer(popupWindow, KEL_TIMER_CLOCK, 60000, nullptr);
  SetTimer(popupWindow, KEL_TIMER_TRAY, 500, nullptr);

  taskbarCreatedMessage = RegisterWindowMessageA("TaskbarCreated");

  startSocketLibrary(*this);

  checkMinutes = 0xFFFFFF;
  clockMinutes = 0xFFFFFF;
  SendMessageA(popupWindow, WM_TIMER, KEL_TIMER_MAIL, 0);
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
