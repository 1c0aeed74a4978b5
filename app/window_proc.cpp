// The popup window's procedure: every scheduling tick, tray event and menu
// command of the program arrives here, on the window thread.
#include "app/window_proc.h"

#include "app/application.h"
#include "platform/net.h"
#include "resources/resource_ids.h"

extern Kel kel;

namespace {

void teardown(HWND window) {
  platform::closeSocket(kel.clockSocket);
  kel.clockSocket = kNoSocket;
  if (kel.backgroundBitmap) DeleteObject(kel.backgroundBitmap);
  if (kel.backgroundDc) DeleteDC(kel.backgroundDc);
  kel.backgroundBitmap = nullptr;
  kel.backgroundDc = nullptr;
  if (HANDLE region = GetPropA(window, "region")) {
    DeleteObject(static_cast<HGDIOBJ>(region));
    RemovePropA(window, "region");
  }
  KillTimer(window, KEL_TIMER_MAIL);
  KillTimer(window, KEL_TIMER_CLOCK);
  KillTimer(window, KEL_TIMER_TRAY);
  Shell_NotifyIconA(NIM_DELETE, &kel.trayIconData);
  PostQuitMessage(0);
}

void paint(HWND window) {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(window, &ps);
  const RECT& r = ps.rcPaint;
  BitBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, kel.offscreenDc, r.left, r.top,
         SRCCOPY);
  EndPaint(window, &ps);
}

void command(HWND window, WPARAM id) {
  switch (id) {
    case IDM_EXIT: SendMessageA(window, WM_DESTROY, 0, 0); break;
    default: break;
  }
}

}  // namespace

LRESULT CALLBACK popupWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE: return 0;
    case WM_DESTROY: teardown(window); return 0;
    case WM_PAINT: paint(window); return 0;
    case WM_COMMAND: command(window, wParam); return 0;
    case WM_TIMER: return 0;
    default: break;
  }
  if (kel.taskbarCreatedMessage != 0 && message == kel.taskbarCreatedMessage) {
    Shell_NotifyIconA(NIM_ADD, &kel.trayIconData);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}
