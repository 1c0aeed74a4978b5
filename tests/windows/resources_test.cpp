// The resources inside kel.exe, read back the way the program loads them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/windows/popup_fixture.h"

namespace {

std::string itemText(HMENU menu, int pos) {
  char text[128] = {};
  GetMenuStringA(menu, pos, text, sizeof text, MF_BYPOSITION);
  return text;
}

}  // namespace

TEST(Resources, TrayMenuHasItsItemsInOrder) {
  ASSERT_NE(nullptr, kelModule());
  HMENU menu = LoadMenuA(kelModule(), MAKEINTRESOURCEA(IDR_TRAY_MENU));
  ASSERT_NE(nullptr, menu);
  HMENU tray = GetSubMenu(menu, 0);
  ASSERT_NE(nullptr, tray);
  struct Item {
    const char* label;
    int id;  // 0: separator, -1: submenu
  } want[] = {
      {"メールのチェック(&N)", 40003}, {"メーラーを起動(&E)", 40002}, {"時刻合わせ(&T)", 40006},
      {"サーバーの状態(&S)", 40007},   {"", 0},                       {"デスクトップ", -1},
      {"プロパティ...(&P)", 40004},    {"", 0},                       {"終了(&E)", 40005},
  };
  ASSERT_EQ(9, GetMenuItemCount(tray));
  for (int i = 0; i < 9; ++i) {
    MENUITEMINFOA info{};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_ID | MIIM_SUBMENU;
    ASSERT_TRUE(GetMenuItemInfoA(tray, i, TRUE, &info));
    if (want[i].id == 0) {
      EXPECT_TRUE(info.fType & MFT_SEPARATOR) << i;
      continue;
    }
    EXPECT_EQ(want[i].label, itemText(tray, i)) << i;
    if (want[i].id == -1)
      EXPECT_NE(nullptr, info.hSubMenu);
    else
      EXPECT_EQ(static_cast<UINT>(want[i].id), info.wID) << i;
  }
  DestroyMenu(menu);
}

TEST(Resources, PopupBackgroundIsAnEightBitPictureWithRoundedCorners) {
  HBITMAP bmp = static_cast<HBITMAP>(
      LoadImageA(kelModule(), MAKEINTRESOURCEA(IDB_POPUP_BACKGROUND), IMAGE_BITMAP, 0, 0,
                 LR_CREATEDIBSECTION));
  ASSERT_NE(nullptr, bmp);
  DIBSECTION dib{};
  ASSERT_EQ(static_cast<int>(sizeof dib), GetObjectA(bmp, sizeof dib, &dib));
  EXPECT_EQ(204, dib.dsBm.bmWidth);
  EXPECT_EQ(41, dib.dsBm.bmHeight);
  EXPECT_EQ(8, dib.dsBmih.biBitCount);

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 204;
  bi.bmiHeader.biHeight = -41;  // top-down for easy indexing
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> px(204 * 41);
  HDC dc = GetDC(nullptr);
  ASSERT_EQ(41, GetDIBits(dc, bmp, 0, 41, px.data(), &bi, DIB_RGB_COLORS));
  ReleaseDC(nullptr, dc);
  const uint32_t key = 0x00FF00FF;
  auto keyRun = [&](int y, bool fromRight) {
    int n = 0;
    while (n < 204 && px[y * 204 + (fromRight ? 203 - n : n)] == key) ++n;
    return n;
  };
  const int cut[40] = {5, 3, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 5};
  for (int y = 0; y < 40; ++y) {
    EXPECT_EQ(cut[y], keyRun(y, false)) << "row " << y;
    EXPECT_EQ(cut[y], keyRun(y, true)) << "row " << y;
  }
  EXPECT_EQ(204, keyRun(40, false));
  DeleteObject(bmp);
}

TEST(Resources, TrayFramesAreTwoDifferentSixteenPixelIcons) {
  HICON icons[2];
  for (int i = 0; i < 2; ++i) {
    icons[i] = static_cast<HICON>(
        LoadImageA(kelModule(), MAKEINTRESOURCEA(IDI_TRAY_1 + i), IMAGE_ICON, 16, 16, 0));
    ASSERT_NE(nullptr, icons[i]);
  }
  std::vector<uint32_t> frame[2];
  for (int i = 0; i < 2; ++i) {
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icons[i], &info));
    BITMAP bm;
    GetObjectA(info.hbmColor, sizeof bm, &bm);
    EXPECT_EQ(16, bm.bmWidth);
    EXPECT_EQ(16, bm.bmHeight);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = 16;
    bi.bmiHeader.biHeight = 16;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    frame[i].resize(256);
    HDC dc = GetDC(nullptr);
    GetDIBits(dc, info.hbmColor, 0, 16, frame[i].data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icons[i]);
  }
  EXPECT_NE(frame[0], frame[1]);
  HICON program = LoadIconA(kelModule(), MAKEINTRESOURCEA(IDI_PROGRAM));
  EXPECT_NE(nullptr, program);
}

TEST(Resources, BadgePartsAndErrorIconsHaveTheirSizesAndDepths) {
  struct Want {
    int id, width, height, bits;
  } want[] = {{IDB_DIGITS, 50, 8, 8},      {IDB_DIGIT_MASK, 50, 8, 1},
              {IDB_COUNT_1, 16, 16, 8},    {IDB_COUNT_2, 16, 16, 8},
              {IDB_COUNT_MASK_1, 16, 16, 1}, {IDB_COUNT_MASK_2, 16, 16, 1}};
  for (const Want& w : want) {
    HBITMAP bmp = static_cast<HBITMAP>(
        LoadImageA(kelModule(), MAKEINTRESOURCEA(w.id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ASSERT_NE(nullptr, bmp) << w.id;
    DIBSECTION dib{};
    GetObjectA(bmp, sizeof dib, &dib);
    EXPECT_EQ(w.width, dib.dsBm.bmWidth) << w.id;
    EXPECT_EQ(w.height, dib.dsBm.bmHeight) << w.id;
    EXPECT_EQ(w.bits, dib.dsBmih.biBitCount) << w.id;
    DeleteObject(bmp);
  }
  for (int id : {IDI_ERROR_1, IDI_ERROR_2})
    EXPECT_NE(nullptr, LoadImageA(kelModule(), MAKEINTRESOURCEA(id), IMAGE_ICON, 16, 16, 0)) << id;
}
