// The resources inside kel.exe, read back the way the program loads them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tests/windows/popup_fixture.h"

namespace {

// In Shift-JIS, read through UTF-16 so that the test means the same on any
// ANSI code page.
std::string itemText(HMENU menu, int pos) {
  wchar_t wide[128] = {};
  GetMenuStringW(menu, pos, wide, 128, MF_BYPOSITION);
  char text[256];
  EXPECT_EQ(platform::narrow(wide, text, sizeof text), platform::Narrowed::kOk);
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
  // The popup's size and one more row, all key colour.
  const int width = kPopupWidth, height = kPopupHeight + 1;
  EXPECT_EQ(width, dib.dsBm.bmWidth);
  EXPECT_EQ(height, dib.dsBm.bmHeight);
  EXPECT_EQ(8, dib.dsBmih.biBitCount);

  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;  // top-down for easy indexing
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  std::vector<uint32_t> px(static_cast<size_t>(width * height));
  HDC dc = GetDC(nullptr);
  ASSERT_EQ(height, GetDIBits(dc, bmp, 0, height, px.data(), &bi, DIB_RGB_COLORS));
  ReleaseDC(nullptr, dc);
  const uint32_t key = 0x00FF00FF;
  auto keyRun = [&](int y, bool fromRight) {
    int n = 0;
    while (n < width && px[y * width + (fromRight ? width - 1 - n : n)] == key) ++n;
    return n;
  };
  const int cut[kPopupHeight] = {5, 3, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 5};
  for (int y = 0; y < kPopupHeight; ++y) {
    EXPECT_EQ(cut[y], keyRun(y, false)) << "row " << y;
    EXPECT_EQ(cut[y], keyRun(y, true)) << "row " << y;
  }
  EXPECT_EQ(width, keyRun(kPopupHeight, false));
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

namespace {

struct DialogFacts {
  int cx = 0, cy = 0, points = 0;
  std::string caption, font;
};

std::string narrow(const wchar_t* text) {
  char out[256] = {};
  WideCharToMultiByte(932, 0, text, -1, out, sizeof out - 1, nullptr, nullptr);
  return out;
}

// Skips a name-or-ordinal field of a dialog template.
const WORD* skipField(const WORD* p) {
  if (*p == 0xFFFF) return p + 2;
  while (*p) ++p;
  return p + 1;
}

// The size, caption and font of a DIALOGEX template inside kel.exe.
DialogFacts dialogFacts(int id) {
  DialogFacts f;
  HRSRC found = FindResourceA(kelModule(), MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  if (!found) return f;
  const WORD* p = static_cast<const WORD*>(LockResource(LoadResource(kelModule(), found)));
  if (p[1] != 0xFFFF) return f;  // not the extended form
  const BYTE* bytes = reinterpret_cast<const BYTE*>(p);
  DWORD style = *reinterpret_cast<const DWORD*>(bytes + 12);
  const short* box = reinterpret_cast<const short*>(bytes + 18);
  f.cx = box[2];
  f.cy = box[3];
  const WORD* q = reinterpret_cast<const WORD*>(bytes + 26);
  q = skipField(skipField(q));  // menu, class
  f.caption = narrow(reinterpret_cast<const wchar_t*>(q));
  while (*q) ++q;
  ++q;
  if (style & DS_SETFONT) {
    f.points = q[0];
    f.font = narrow(reinterpret_cast<const wchar_t*>(q + 3));  // after weight, italic and charset
  }
  return f;
}

}  // namespace

TEST(Resources, DialogTemplatesHaveTheirSizesCaptionsAndFonts) {
  struct Want {
    int id, cx, cy, points;
    const char* caption;
    const char* font;
  };
  const Want wants[] = {
      {IDD_VERSION_PAGE, 246, 139, 9, "バージョン情報", "MS UI Gothic"},
      {IDD_ACCOUNTS_PAGE, 214, 109, 11, "アカウント", "MS UI Gothic"},
      {IDD_MAIL_PAGE, 214, 109, 11, "メールチェック", "MS UI Gothic"},
      {IDD_ACCOUNT_EDITOR, 228, 222, 11, "メールアカウント", "MS UI Gothic"},
      {IDD_OAUTH_DETAILS, 282, 85, 11, "OAuth2 の詳細", "MS UI Gothic"},
      {IDD_SIGN_IN_WAIT, 200, 58, 11, "サインイン", "MS UI Gothic"},
      {IDD_SNTP_PAGE, 214, 105, 11, "SNTP", "MS UI Gothic"},
      {IDD_SERVER_STATUS, 294, 159, 11, "メールサーバーの状態", "ＭＳ ゴシック"},
      {IDD_OTHER_PAGE, 209, 109, 11, "その他", "MS UI Gothic"},
      {IDD_DELETE_LIST_PAGE, 214, 109, 11, "削除リスト", "MS UI Gothic"},
      {IDD_IGNORE_LIST_PAGE, 214, 109, 11, "無視リスト", "MS UI Gothic"},
      {IDD_CONDITION_EDITOR, 200, 69, 11, "条件追加", "MS UI Gothic"},
  };
  for (const Want& w : wants) {
    SCOPED_TRACE(w.id);
    DialogFacts f = dialogFacts(w.id);
    EXPECT_EQ(w.cx, f.cx);
    EXPECT_EQ(w.cy, f.cy);
    EXPECT_EQ(w.points, f.points);
    EXPECT_EQ(w.caption, f.caption);
    EXPECT_EQ(w.font, f.font);
  }
}
