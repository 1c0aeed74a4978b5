// The popup window's procedure: every scheduling tick, tray event and menu
// command of the program arrives here, on the window thread.
#include "app/win32/window_proc.h"

#include <memory>
#include <mutex>

#include "app/application.h"
#include "app/win32/mailer.h"
#include "app/win32/object_count.h"
#include "app/dpi.h"
#include "app/win32/popup_dpi.h"
#include "app/win32/popup_shape.h"
#include "app/shutdown.h"
#include "app/ticks.h"
#include "app/wake.h"
#include "app/win32/workers.h"
#include "mailcheck/imap/idle_watch.h"
#include "notify/win32/presence.h"
#include "notify/win32/tray_icon.h"
#include "platform/win32/gdi_guard.h"
#include "resources/resource_ids.h"
#include "settings/win32/property_sheet.h"
#include "settings/pins.h"
#include "settings/settings.h"
#include "settings/win32/status_dialog.h"

extern Kel& kel;

namespace {

// Keeps the window answering the workers while they end: the check thread
// shows and hides the popup, which sends messages to this thread. Posted
// messages (menu commands among them) wait.
void answerWorkers() {
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

void teardown(HWND window) {
  static bool ending = false;
  if (ending) return;  // a second exit while the first one waits
  ending = true;
  saveSettings(kel, kOptionsFile);  // first, whatever happens next
  KillTimer(window, kMailCheckTimer);
  KillTimer(window, kClockSyncTimer);
  KillTimer(window, kTrayTimer);
  KillTimer(window, kWakeTimer);
  stopWatchingSessionChanges(kel);
  {
    std::lock_guard<std::mutex> g(kel.checkLock);
    notifyTray(kel, NIM_DELETE, kShellTray);
  }
  if (!stopWorkers(kel, answerWorkers, 2000)) {
    // A worker still runs: what it uses stays as it is, and the process ends
    // without the exit-time clean-ups (the socket library's, OpenSSL's)
    // that it could meet.
    TerminateProcess(GetCurrentProcess(), 0);
  }
  stopIdleWatch(kel);  // its connections ended within a slice of the stop
  releaseClockSocket(kel);
  if (kel.backgroundBitmap) DeleteObject(kel.backgroundBitmap);
  if (kel.backgroundDc) DeleteDC(kel.backgroundDc);
  kel.backgroundBitmap = nullptr;
  kel.backgroundDc = nullptr;
  if (HANDLE region = GetPropW(window, L"region")) {
    DeleteObject(static_cast<HGDIOBJ>(region));
    RemovePropW(window, L"region");
  }
  PostQuitMessage(0);
}

void paint(HWND window) {
  PaintDc dc(window);
  const RECT& r = dc.dirty();
  BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, kel.offscreenDc, r.left, r.top,
         SRCCOPY);
}

void openMailer(HWND window, bool evenIfEmpty) { startMailer(kel, window, evenIfEmpty, kShellMailer); }

void timer(HWND window, WPARAM id) {
  switch (id) {
    case kWakeTimer:
      KillTimer(window, kWakeTimer);
      afterWake(kel, kWindowsWorkers);
      break;
    case kMailCheckTimer: mailTick(kel, kWindowsWorkers); break;
    case kClockSyncTimer: clockTick(kel, kWindowsWorkers); break;
    case kTrayTimer: {
      {
        std::lock_guard<std::mutex> g(kel.checkLock);  // the check pass replaces the pair
        updateTrayIcon(kel, kShellTray);
      }
      if (kel.announcementHeld) watchSessionChanges(kel);  // should it have failed at start-up
      halfSecondTick(kel, kWindowsWorkers);  // outside the lock: it may ask the shell
      applyPendingDpi(kel);
      break;
    }
    default: break;
  }
}

void command(HWND window, WPARAM id) {
  switch (id) {
    case IDM_START_MAILER: openMailer(window, false); break;
    case IDM_CHECK_NOW:
      kel.checkMinutes = kCountPastEveryInterval;
      SendMessageW(window, WM_TIMER, kMailCheckTimer, 0);
      break;
    case IDM_EXIT: SendMessageW(window, WM_DESTROY, 0, 0); break;
    case IDM_SYNC_CLOCK:
      kel.clockMinutes = kCountPastEveryInterval;
      SendMessageW(window, WM_TIMER, kClockSyncTimer, 0);
      break;
    case IDM_PROPERTIES: runSettingsSheet(kel, window); break;
    case IDM_SERVER_STATUS: {
      ModalScope modal(kel);
      showServerStatus(kel, window);
      break;
    }
    default: break;
  }
}

void trayMenu(HWND window) {
  if (kel.modalOpen == 1 || !kel.trayMenu) return;
  EnableMenuItem(kel.trayMenu, 5, MF_BYPOSITION | MF_GRAYED);
  GetCursorPos(&kel.cursorPos);
  SetForegroundWindow(window);
  TrackPopupMenu(kel.trayMenu, TPM_BOTTOMALIGN | TPM_RIGHTBUTTON, kel.cursorPos.x, kel.cursorPos.y,
                 0, window, nullptr);
}

LRESULT trayEvent(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (lParam) {
    case WM_LBUTTONDBLCLK: openMailer(window, true); return 0;
    case WM_RBUTTONUP: trayMenu(window); return 0;
    case WM_MBUTTONUP: SendMessageW(window, WM_COMMAND, IDM_SERVER_STATUS, 0); return 0;
    default: return DefWindowProcW(window, message, wParam, lParam);
  }
}

// Both resume messages of one wake usually come; the first starts the
// settle time.
void powerEvent(HWND window, WPARAM event) {
  if (event == PBT_APMSUSPEND) suspending(kel);
  if ((event == PBT_APMRESUMEAUTOMATIC || event == PBT_APMRESUMESUSPEND) && resumed(kel))
    SetTimer(window, kWakeTimer, kWakeSettleMs, nullptr);
}

void takePinOffer(LPARAM lParam) {
  std::unique_ptr<PinOffer> offer(reinterpret_cast<PinOffer*>(lParam));
  if (offer) acceptPinOffer(kel, *offer);
}

void takeTokenOffer(LPARAM lParam) {
  std::unique_ptr<TokenOffer> offer(reinterpret_cast<TokenOffer*>(lParam));
  if (offer) acceptTokenOffer(kel, *offer);
}

}  // namespace

LRESULT CALLBACK popupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return 0;
    case WM_DESTROY: teardown(window); return 0;
    case WM_PAINT: paint(window); return 0;
    case WM_SHOWWINDOW:
      if (wParam)
        placePopup(window, scaleForDpi(kel.popupWidth, kel.popupDpi), scaleForDpi(kel.popupHeight, kel.popupDpi),
                   kel.popupDpi);
      return 0;
    case WM_DPICHANGED: popupDpiChanged(kel, LOWORD(wParam)); return 0;  // it stays in its corner
    case WM_SETTINGCHANGE: readHighContrast(kel); return 0;
    case WM_COMMAND: command(window, wParam); return 0;
    case WM_TIMER: timer(window, wParam); return 0;
    case WM_POWERBROADCAST: powerEvent(window, wParam); return TRUE;
    case kTrayCallbackMessage: return trayEvent(window, message, wParam, lParam);
    case kPinOfferMessage: takePinOffer(lParam); return 0;
    case kTokenOfferMessage: takeTokenOffer(lParam); return 0;
    case WM_WTSSESSION_CHANGE:
      sessionChanged(kel, static_cast<unsigned>(wParam));
      halfSecondTick(kel, kWindowsWorkers);  // an unlock gives what is held at once
      return 0;
    case KEL_COUNT_OBJECTS: return countObjects(wParam);
    default: break;
  }
  if (kel.taskbarCreatedMessage != 0 && message == kel.taskbarCreatedMessage) {
    std::lock_guard<std::mutex> g(kel.checkLock);
    notifyTray(kel, NIM_ADD, kShellTray);
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}
