#include "app/win32/popup_shape.h"

#include <cstdlib>

#include "app/dpi.h"
#include "app/region_runs.h"
#include "platform/win32/gdi_guard.h"

void applyTranslucency(HWND window, int32_t hantoumei) {
  LONG_PTR ex = GetWindowLongPtrW(window, GWL_EXSTYLE);
  if (!(ex & WS_EX_LAYERED)) SetWindowLongPtrW(window, GWL_EXSTYLE, ex | WS_EX_LAYERED);
  HMODULE user32 = LoadLibraryW(L"user32");
  if (!user32) return;
  using SetLayered = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
  auto setLayered =
      reinterpret_cast<SetLayered>(reinterpret_cast<void*>(GetProcAddress(user32, "SetLayeredWindowAttributes")));
  if (setLayered) setLayered(window, 0, hantoumei == 1 ? 170 : 255, LWA_ALPHA);
  FreeLibrary(user32);
}

void placePopup(HWND window, int width, int height, int dpi) {
  RECT work;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0)) return;
  MoveWindow(window, work.right - width - scaleForDpi(16, dpi), work.bottom - height - scaleForDpi(12, dpi), width,
             height, TRUE);
}

namespace {

struct Merge {
  HRGN accumulated = nullptr;
};

bool mergeBlock(const RegionBlock& block, void* context) {
  Merge& m = *static_cast<Merge*>(context);
  GdiObject<HRGN> part(ExtCreateRegion(nullptr, sizeof block, reinterpret_cast<const RGNDATA*>(&block)));
  if (!part) {
    if (m.accumulated) DeleteObject(m.accumulated);
    m.accumulated = nullptr;
    return false;
  }
  if (!m.accumulated)
    m.accumulated = part.release();
  else
    CombineRgn(m.accumulated, m.accumulated, part, RGN_OR);
  return true;
}

}  // namespace

HRGN regionFromBitmap(HBITMAP picture) {
  BITMAP info;
  if (!picture || !GetObjectW(picture, sizeof info, &info)) return nullptr;
  const int width = info.bmWidth, height = info.bmHeight;
  if (width <= 0 || height <= 0) return nullptr;

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = height;  // bottom-up
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  GdiObject<HBITMAP> copy(CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!copy) return nullptr;

  {
    MemoryDc src(nullptr), dst(nullptr);
    Selection fromPicture(src, picture), intoCopy(dst, copy);
    BitBlt(dst, 0, 0, width, height, src, 0, 0, SRCCOPY);
    GdiFlush();
  }

  Merge m;
  buildRegionBatches(static_cast<const uint32_t*>(bits), width, height, mergeBlock, &m);
  return m.accumulated;
}
