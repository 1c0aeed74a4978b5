// The popup's shape and place, the tray's count icons and animation, and
// the typed text, read back from GDI under Wine.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/win32/popup_shape.h"
#include "notify/win32/popup_text.h"
#include "notify/win32/tray_icon.h"
#include "resources/resource_ids.h"
#include "tests/windows/popup_fixture.h"

namespace {

// The lit pixels of the 5 x 7 digit glyphs, from the strip in kel.exe.
std::vector<uint32_t> digitStrip() {
  HBITMAP strip = static_cast<HBITMAP>(
      LoadImageA(kelModule(), MAKEINTRESOURCEA(IDB_DIGITS), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  std::vector<uint32_t> px = bitmapPixels(strip, 50, 8);
  DeleteObject(strip);
  return px;
}

struct IconPixels {
  std::vector<uint32_t> colour, mask;
};

IconPixels iconPixels(HICON icon) {
  ICONINFO info{};
  EXPECT_TRUE(GetIconInfo(icon, &info));
  IconPixels p{bitmapPixels(info.hbmColor, 16, 16), bitmapPixels(info.hbmMask, 16, 16)};
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return p;
}

// Checks that the second icon shows digits `tens` and `ones`: glyph pixels
// white and opaque, the first icon carries none.
void expectBadge(int count, int tens, int ones) {
  PopupFixture f;
  makeCountIcons(*f.kel, count);
  ASSERT_NE(nullptr, f.kel->trayIcons[0]);
  ASSERT_NE(nullptr, f.kel->trayIcons[1]);
  IconPixels plain = iconPixels(f.kel->trayIcons[0]);
  IconPixels badge = iconPixels(f.kel->trayIcons[1]);
  std::vector<uint32_t> strip = digitStrip();
  const int digits[2] = {tens, ones};
  const int xs[2] = {3, 8};
  int lit = 0;
  for (int k = 0; k < 2; ++k) {
    for (int y = 0; y < 7; ++y) {
      for (int x = 0; x < 5; ++x) {
        bool glyph = strip[static_cast<size_t>(y * 50 + 5 * digits[k] + x)] != 0;
        size_t at = static_cast<size_t>((5 + y) * 16 + xs[k] + x);
        if (glyph) {
          ++lit;
          EXPECT_EQ(0xFFFFFFu, badge.colour[at]) << "count " << count << " digit " << k << " at " << x << "," << y;
          EXPECT_EQ(0u, badge.mask[at]);
        } else {
          EXPECT_NE(0xFFFFFFu, badge.colour[at]) << "count " << count << " digit " << k << " at " << x << "," << y;
        }
      }
    }
  }
  EXPECT_GT(lit, 10);
  for (uint32_t p : plain.colour) EXPECT_NE(0xFFFFFFu, p);
  DestroyIcon(f.kel->trayIcons[0]);
  DestroyIcon(f.kel->trayIcons[1]);
}

struct Recorded {
  DWORD message;
  HICON icon;
  std::string tip;
};
std::vector<Recorded> recorded;
BOOL refuseModify = FALSE;
BOOL WINAPI recordNotify(DWORD message, PNOTIFYICONDATAA data) {
  recorded.push_back({message, data->hIcon, data->szTip});
  return !(refuseModify && message == NIM_MODIFY);
}
const TrayEffects kTrayRecorder = {recordNotify};

}  // namespace

TEST(Region, WindowGetsTheRoundedShapeOfItsPicture) {
  PopupFixture f;
  ASSERT_NE(nullptr, f.region);
  ASSERT_TRUE(SetWindowRgn(f.kel->popupWindow, f.region, FALSE));
  f.region = nullptr;  // the window owns it now
  HRGN back = CreateRectRgn(0, 0, 0, 0);
  ASSERT_NE(ERROR, GetWindowRgn(f.kel->popupWindow, back));
  DWORD size = GetRegionData(back, 0, nullptr);
  std::vector<char> data(size);
  ASSERT_EQ(size, GetRegionData(back, size, reinterpret_cast<RGNDATA*>(data.data())));
  auto* rd = reinterpret_cast<RGNDATA*>(data.data());
  EXPECT_EQ(9u, rd->rdh.nCount);  // the system merges rows of equal span
  const int cut[kPopupHeight] = {5, 3, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 5};
  // Every row spans exactly its opaque pixels.
  for (int y = 0; y < kPopupHeight; ++y) {
    EXPECT_TRUE(PtInRegion(back, cut[y], y)) << y;
    EXPECT_FALSE(PtInRegion(back, cut[y] - 1, y)) << y;
    EXPECT_TRUE(PtInRegion(back, kPopupWidth - 1 - cut[y], y)) << y;
    EXPECT_FALSE(PtInRegion(back, kPopupWidth - cut[y], y)) << y;
  }
  EXPECT_FALSE(PtInRegion(back, 100, kPopupHeight));
  DeleteObject(back);
}

TEST(Translucency, AlphaFollowsHantoumei) {
  PopupFixture f;
  BYTE alpha = 0;
  DWORD flags = 0;
  COLORREF key;
  applyTranslucency(f.kel->popupWindow, 1);
  ASSERT_TRUE(GetLayeredWindowAttributes(f.kel->popupWindow, &key, &alpha, &flags));
  EXPECT_EQ(170, alpha);
  EXPECT_TRUE(flags & LWA_ALPHA);
  applyTranslucency(f.kel->popupWindow, 0);
  ASSERT_TRUE(GetLayeredWindowAttributes(f.kel->popupWindow, &key, &alpha, &flags));
  EXPECT_EQ(255, alpha);
  applyTranslucency(f.kel->popupWindow, 2);
  ASSERT_TRUE(GetLayeredWindowAttributes(f.kel->popupWindow, &key, &alpha, &flags));
  EXPECT_EQ(255, alpha);
}

TEST(Placement, FollowsTheWorkAreaWhereverTheTaskbarIs) {
  PopupFixture f;
  RECT saved;
  ASSERT_TRUE(SystemParametersInfoA(SPI_GETWORKAREA, 0, &saved, 0));
  const RECT areas[2] = {{0, 0, 700, 600}, {0, 30, 800, 600}};  // taskbar right, taskbar top
  for (const RECT& area : areas) {
    RECT a = area;
    ASSERT_TRUE(SystemParametersInfoA(SPI_SETWORKAREA, 0, &a, 0));
    placePopup(f.kel->popupWindow, kPopupWidth, kPopupHeight);
    RECT w;
    GetWindowRect(f.kel->popupWindow, &w);
    EXPECT_EQ(area.right - kPopupWidth - 16, w.left);
    EXPECT_EQ(area.bottom - kPopupHeight - 12, w.top);
    EXPECT_EQ(kPopupWidth, w.right - w.left);
    EXPECT_EQ(kPopupHeight, w.bottom - w.top);
  }
  SystemParametersInfoA(SPI_SETWORKAREA, 0, &saved, 0);
}

TEST(CountIcons, BadgeShowsTwoClampedDigits) {
  expectBadge(5, 0, 5);
  expectBadge(0, 0, 0);
  expectBadge(42, 4, 2);
  expectBadge(123, 9, 9);
  expectBadge(-3, 0, 0);
}

TEST(TrayAnimation, AlternatesWithAnimationOnAndSendsOnceWithItOff) {
  PopupFixture f;
  Kel& k = *f.kel;
  k.trayIcons[0] = reinterpret_cast<HICON>(0x1001);
  k.trayIcons[1] = reinterpret_cast<HICON>(0x1002);
  strcpy(k.trayIconData.szTip, "新着:3 非通知:0");
  recorded.clear();
  k.iconani = 0;
  for (int i = 0; i < 3; ++i) updateTrayIcon(k, kTrayRecorder);
  ASSERT_EQ(3u, recorded.size());
  EXPECT_EQ(k.trayIcons[1], recorded[0].icon);
  EXPECT_EQ(k.trayIcons[0], recorded[1].icon);
  EXPECT_EQ(k.trayIcons[1], recorded[2].icon);
  EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), recorded[0].message);
  EXPECT_EQ("新着:3 非通知:0", recorded[0].tip);

  // Refused modify falls back to add.
  recorded.clear();
  refuseModify = TRUE;
  updateTrayIcon(k, kTrayRecorder);
  ASSERT_EQ(2u, recorded.size());
  EXPECT_EQ(static_cast<DWORD>(NIM_ADD), recorded[1].message);
  refuseModify = FALSE;

  // Animation off: the icon at the unchanged phase, once per new pair.
  recorded.clear();
  k.iconani = 1;
  k.trayPhase = 0;
  k.trayIconRefreshed = 0;
  for (int i = 0; i < 4; ++i) updateTrayIcon(k, kTrayRecorder);
  ASSERT_EQ(1u, recorded.size());
  EXPECT_EQ(k.trayIcons[0], recorded[0].icon);
  EXPECT_EQ(1, k.trayIconRefreshed);
  EXPECT_EQ(0, k.trayPhase);
}

namespace {
std::vector<unsigned> sleeps;
void recordSleep(unsigned ms, const std::atomic<bool>&) { sleeps.push_back(ms); }
const TypingWaits kRecordedWaits = {recordSleep};

// Columns of the popup's surface that hold text-coloured (black) pixels.
std::vector<int> inkColumns(HDC dc, HBITMAP surface, int y0, int y1) {
  (void)dc;
  std::vector<uint32_t> px = bitmapPixels(surface, kPopupWidth, kPopupHeight);
  std::vector<int> cols;
  for (int x = 0; x < kPopupWidth; ++x)
    for (int y = y0; y < y1; ++y)
      if (px[static_cast<size_t>(y * kPopupWidth + x)] == 0) {
        cols.push_back(x);
        break;
      }
  return cols;
}
}  // namespace

TEST(PopupText, TypedGlyphsLandInTheirColumns) {
  PopupFixture f;
  Kel& k = *f.kel;
  sleeps.clear();
  const char* block = "新着メール";  // five two-byte characters, 60 pixels
  drawPopupText(k, block, 4000, 1, kRecordedWaits);
  std::vector<unsigned> want = {100, 100, 100, 100, 100, 150, 4000};
  EXPECT_EQ(want, sleeps);
  // Centred at 102: from x 72 to 132, on the line at y 14 to 26.
  SIZE size{};
  HFONT font = CreateFontA(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, OUT_TT_ONLY_PRECIS,
                           0, 0, 0, "ＭＳ ゴシック");
  HGDIOBJ old = SelectObject(k.offscreenDc, font);
  GetTextExtentPoint32A(k.offscreenDc, block, 10, &size);
  SelectObject(k.offscreenDc, old);
  DeleteObject(font);
  int start = 102 - size.cx / 2;
  std::vector<int> cols = inkColumns(k.offscreenDc, k.offscreenBitmap, 14, 27);
  ASSERT_FALSE(cols.empty());
  EXPECT_GE(cols.front(), start);
  EXPECT_LE(cols.back(), start + 60);
  // Ink in each of the five 12-pixel cells, and none above or below the line.
  for (int c = 0; c < 5; ++c) {
    bool any = false;
    for (int x : cols) any = any || (x >= start + 12 * c && x < start + 12 * (c + 1));
    EXPECT_TRUE(any) << "cell " << c;
  }
  EXPECT_TRUE(inkColumns(k.offscreenDc, k.offscreenBitmap, 2, 13).empty() ||
              inkColumns(k.offscreenDc, k.offscreenBitmap, 2, 13).size() < 3);
}
