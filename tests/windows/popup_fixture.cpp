#include "tests/windows/popup_fixture.h"

#include <string>
#include <vector>

#include "app/win32/popup_shape.h"
#include "resources/resource_ids.h"

HMODULE kelModule() {
  static HMODULE module = [] {
    wchar_t path[MAX_PATH];
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring p(path);
    p = p.substr(0, p.rfind(L'\\') + 1) + L"kel.exe";
    return LoadLibraryExW(p.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  }();
  return module;
}

PopupFixture::PopupFixture() : kel(newKel()) {
  Kel& k = *kel;
  loadAllSettings(k);  // no files in a fresh moduleDir: the defaults
  k.instance = kelModule();
  k.popupWindow = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW | WS_EX_TOPMOST, L"STATIC",
                                  L"Kel Ver. 1.xx", WS_POPUP, 0, 0, kPopupWidth, kPopupHeight, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
  k.backgroundBitmap = static_cast<HBITMAP>(LoadImageW(
      k.instance, MAKEINTRESOURCEW(IDB_POPUP_BACKGROUND), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
  region = regionFromBitmap(k.backgroundBitmap);
  HDC dc = GetDC(k.popupWindow);
  k.backgroundDc = CreateCompatibleDC(dc);
  k.offscreenDc = CreateCompatibleDC(dc);
  k.offscreenBitmap = CreateCompatibleBitmap(dc, kPopupWidth, kPopupHeight);
  SelectObject(k.offscreenDc, k.offscreenBitmap);
  SelectObject(k.backgroundDc, k.backgroundBitmap);
  ReleaseDC(k.popupWindow, dc);
}

PopupFixture::~PopupFixture() {
  Kel& k = *kel;
  DeleteDC(k.offscreenDc);
  DeleteDC(k.backgroundDc);
  DeleteObject(k.offscreenBitmap);
  DeleteObject(k.backgroundBitmap);
  DestroyWindow(k.popupWindow);
  if (region) DeleteObject(region);
}

std::vector<uint32_t> bitmapPixels(HBITMAP bmp, int width, int height) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> px(static_cast<size_t>(width) * height);
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, bmp, 0, height, px.data(), &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  for (uint32_t& p : px) p &= 0x00FFFFFF;
  return px;
}
