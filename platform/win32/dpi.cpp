#include "platform/win32/dpi.h"

namespace platform {

namespace {

FARPROC user32Function(const char* name) {
  HMODULE user32 = GetModuleHandleW(L"user32");
  return user32 ? GetProcAddress(user32, name) : nullptr;
}

template <typename F>
F lookUp(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(user32Function(name)));
}

int screenDpi() {
  HDC screen = GetDC(nullptr);
  int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

}  // namespace

int windowDpi(HWND window) {
  static auto forWindow = lookUp<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
  if (window && forWindow) {
    UINT dpi = forWindow(window);
    if (dpi > 0) return static_cast<int>(dpi);
  }
  return screenDpi();
}

int smallIconSize(int dpi) {
  static auto forDpi = lookUp<int(WINAPI*)(int, UINT)>("GetSystemMetricsForDpi");
  int size = forDpi ? forDpi(SM_CXSMICON, static_cast<UINT>(dpi)) : GetSystemMetrics(SM_CXSMICON);
  return size > 0 ? size : 16;
}

bool perMonitorV2() {
  static auto current = lookUp<DPI_AWARENESS_CONTEXT(WINAPI*)()>("GetThreadDpiAwarenessContext");
  static auto equal = lookUp<BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT)>(
      "AreDpiAwarenessContextsEqual");
  return current && equal && equal(current(), DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
}

bool highContrastOn() {
  HIGHCONTRASTW hc{};
  hc.cbSize = sizeof hc;
  return SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof hc, &hc, 0) && (hc.dwFlags & HCF_HIGHCONTRASTON);
}

}  // namespace platform
