// The popup's shape and place, the tray's count icons and animation, and
// the typed text, read back from GDI under Wine; what the tray, the sound
// and the mailer start hand to Windows.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "app/win32/mailer.h"
#include "app/win32/popup_shape.h"
#include "app/win32/window_proc.h"
#include "notify/win32/popup_text.h"
#include "notify/win32/sound.h"
#include "notify/win32/tray_icon.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "tests/windows/popup_fixture.h"

namespace {

// The lit pixels of the 5 x 7 digit glyphs, from the strip in kel.exe.
std::vector<uint32_t> digitStrip() {
  HBITMAP strip = static_cast<HBITMAP>(
      LoadImageW(kelModule(), MAKEINTRESOURCEW(IDB_DIGITS), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
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
  NOTIFYICONDATAW data;
  HICON icon;
  std::wstring tip;
};
std::vector<Recorded> recorded;
BOOL refuseModify = FALSE;
BOOL WINAPI recordNotify(DWORD message, PNOTIFYICONDATAW data) {
  recorded.push_back({message, *data, data->hIcon, data->szTip});
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
  EXPECT_EQ(L"\u65B0\u7740:3 \u975E\u901A\u77E5:0", recorded[0].tip);  // 新着:3 非通知:0

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
  HFONT font = CreateFontW(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, SHIFTJIS_CHARSET, OUT_TT_ONLY_PRECIS,
                           0, 0, 0, L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF");  // ＭＳ ゴシック
  HGDIOBJ old = SelectObject(k.offscreenDc, font);
  GetTextExtentPoint32W(k.offscreenDc, L"\u65B0\u7740\u30E1\u30FC\u30EB", 5, &size);  // 新着メール
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

TEST(TrayTip, ShellGetsTheTooltipInUtf16WithTheIconsIdentity) {
  PopupFixture f;
  Kel& k = *f.kel;
  k.trayIconData.hIcon = reinterpret_cast<HICON>(0x1001);
  strcpy(k.trayIconData.szTip, "未読メールなし");
  recorded.clear();
  ASSERT_TRUE(notifyTray(k, NIM_ADD, kTrayRecorder));
  ASSERT_EQ(1u, recorded.size());
  const NOTIFYICONDATAW& d = recorded[0].data;
  EXPECT_EQ(static_cast<DWORD>(NIM_ADD), recorded[0].message);
  EXPECT_EQ(sizeof(NOTIFYICONDATAW), d.cbSize);
  EXPECT_EQ(k.popupWindow, d.hWnd);
  EXPECT_EQ(1u, d.uID);
  EXPECT_EQ(static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP), d.uFlags);
  EXPECT_EQ(kTrayCallbackMessage, d.uCallbackMessage);
  EXPECT_EQ(k.trayIconData.hIcon, d.hIcon);
  EXPECT_EQ(L"\u672A\u8AAD\u30E1\u30FC\u30EB\u306A\u3057", recorded[0].tip);  // 未読メールなし

  // The longest tip the check pass writes (127 bytes) is cut, never overrun.
  memset(k.trayIconData.szTip, 'x', sizeof k.trayIconData.szTip - 1);
  k.trayIconData.szTip[sizeof k.trayIconData.szTip - 1] = '\0';
  recorded.clear();
  notifyTray(k, NIM_MODIFY, kTrayRecorder);
  ASSERT_EQ(1u, recorded.size());
  EXPECT_EQ(std::wstring(127, L'x'), recorded[0].tip);
}

namespace {

// 山田太郎 <taro@ex.jp> / 件名: 会議ﾃｽﾄ～①: kanji, ASCII, half-width katakana,
// the wave dash and a circled digit (code page 932's own rows).
const char kSender[] = "山田太郎 <taro@ex.jp>";
const char kSubject[] = "件名: 会議ﾃｽﾄ～①";
const wchar_t* const kWideLines[2] = {L"\u5C71\u7530\u592A\u90CE <taro@ex.jp>",
                                      L"\u4EF6\u540D: \u4F1A\u8B70\uFF83\uFF7D\uFF84\uFF5E\u2460"};

std::string twoLineBlock() {
  std::string block(kSender, sizeof kSender);  // with its NUL
  block.append(kSubject, sizeof kSubject);
  return block;
}

// The popup as it must look: the background, then each character's UTF-16
// at 6 pixels a byte of its Shift-JIS, the line centred on its measured width.
std::vector<uint32_t> referencePopup(Kel& k) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  HBITMAP surface = CreateCompatibleBitmap(screen, kPopupWidth, kPopupHeight);
  ReleaseDC(nullptr, screen);
  HGDIOBJ oldBitmap = SelectObject(dc, surface);
  BitBlt(dc, 0, 0, kPopupWidth, kPopupHeight, k.backgroundDc, 0, 0, SRCCOPY);
  HFONT font = CreateFontW(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, OUT_TT_ONLY_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                           L"\uFF2D\uFF33 \u30B4\u30B7\u30C3\u30AF");
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, static_cast<COLORREF>(k.textColour));
  for (int line = 0; line < 2; ++line) {
    const wchar_t* text = kWideLines[line];
    SIZE size{};
    GetTextExtentPoint32W(dc, text, static_cast<int>(wcslen(text)), &size);
    int x = k.textCentreX - size.cx / 2;
    int y = k.textTopDouble + 16 * line;
    for (const wchar_t* c = text; *c; ++c) {
      TextOutW(dc, x, y, c, 1);
      bool oneByte = *c < 0x80 || (*c >= 0xFF61 && *c <= 0xFF9F);
      x += oneByte ? 6 : 12;
    }
  }
  SelectObject(dc, oldFont);
  DeleteObject(font);
  SelectObject(dc, oldBitmap);
  DeleteDC(dc);
  std::vector<uint32_t> px = bitmapPixels(surface, kPopupWidth, kPopupHeight);
  DeleteObject(surface);
  return px;
}

uint64_t fnv1a(const std::vector<uint32_t>& px) {
  uint64_t h = 14695981039346656037ull;
  for (uint32_t p : px)
    for (int i = 0; i < 4; ++i) h = (h ^ ((p >> (8 * i)) & 0xFF)) * 1099511628211ull;
  return h;
}

}  // namespace

TEST(PopupText, SenderAndSubjectDrawTheSameGlyphsWhateverTheAnsiCodePage) {
  PopupFixture f;
  Kel& k = *f.kel;
  std::string block = twoLineBlock();
  drawPopupText(k, block.c_str(), 0, 2, kRecordedWaits);
  std::vector<uint32_t> drawn = bitmapPixels(k.offscreenBitmap, kPopupWidth, kPopupHeight);
  std::vector<uint32_t> want = referencePopup(k);

  // Text is there at all: the reference differs from the bare background.
  std::vector<uint32_t> background = bitmapPixels(k.backgroundBitmap, kPopupWidth, kPopupHeight);
  int inked = 0;
  for (size_t i = 0; i < want.size(); ++i) inked += want[i] != background[i];
  EXPECT_GT(inked, 100);

  int differing = 0;
  for (size_t i = 0; i < want.size(); ++i) differing += drawn[i] != want[i];
  EXPECT_EQ(0, differing) << "code page " << GetACP();

  // Across runs under different code pages: the first run writes the
  // picture's hash to the file, the next ones compare with it.
  const char* record = getenv("KEL_POPUP_PIXELS");
  char hash[32];
  snprintf(hash, sizeof hash, "%016llx", static_cast<unsigned long long>(fnv1a(drawn)));
  std::cout << "code page " << GetACP() << ", popup pixels " << hash << "\n";
  if (!record || !*record) return;
  if (FILE* in = fopen(record, "rb")) {
    char earlier[32] = {};
    size_t n = fread(earlier, 1, sizeof earlier - 1, in);
    fclose(in);
    earlier[n] = '\0';
    EXPECT_STREQ(earlier, hash) << "code page " << GetACP();
  } else if (FILE* out = fopen(record, "wb")) {
    fputs(hash, out);
    fclose(out);
  }
}

namespace {

struct WavePlay {
  std::wstring path;
  UINT flags;
};
std::vector<WavePlay> waves;
BOOL WINAPI recordWave(LPCWSTR path, UINT flags) {
  waves.push_back({path ? path : L"", flags});
  return TRUE;
}
const SoundEffects kSoundRecorder = {recordWave};

struct ShellRun {
  HWND owner;
  std::wstring verb, file;
  bool withParameters;
  INT show;
  bool fileExists;
};
std::vector<ShellRun> runs;
HINSTANCE WINAPI recordShell(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR, INT show) {
  runs.push_back({owner, verb, file, parameters != nullptr, show,
                  GetFileAttributesW(file) != INVALID_FILE_ATTRIBUTES});
  return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}
const MailerEffects kShellRecorder = {recordShell};

}  // namespace

TEST(NewMailSound, TheWaveFilesShiftJisPathReachesThePlayerAsUtf16) {
  KelPtr kel = newKel();
  Kel& k = *kel;
  k.nmsnd = 1;
  k.nmbeep = 0;
  // ソ and 表 end in the byte of a backslash.
  strcpy(k.filename, "C:\\音声\\ソース表.wav");
  waves.clear();
  playNewMailSound(k, kSoundRecorder);
  ASSERT_EQ(1u, waves.size());
  EXPECT_EQ(L"C:\\\u97F3\u58F0\\\u30BD\u30FC\u30B9\u8868.wav", waves[0].path);
  EXPECT_EQ(static_cast<UINT>(SND_ASYNC), waves[0].flags);

  waves.clear();
  k.nmsnd = 0;
  playNewMailSound(k, kSoundRecorder);
  EXPECT_TRUE(waves.empty());
}

TEST(Mailer, TheMailersShiftJisPathReachesTheShellAsUtf16) {
  PopupFixture f;
  Kel& k = *f.kel;
  // A real file under a Japanese name: what the shell is given names it.
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  std::wstring folder = std::wstring(temp) + L"\u30E1\u30FC\u30E9\u30FC";  // メーラー
  std::wstring program = folder + L"\\\u8868\u793A.exe";                    // 表示.exe
  CreateDirectoryW(folder.c_str(), nullptr);
  HANDLE file = CreateFileW(program.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(INVALID_HANDLE_VALUE, file);
  CloseHandle(file);
  ASSERT_EQ(platform::Narrowed::kOk, platform::narrow(program.c_str(), k.mailer, sizeof k.mailer));

  runs.clear();
  startMailer(k, k.popupWindow, false, kShellRecorder);
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(k.popupWindow, runs[0].owner);
  EXPECT_EQ(L"open", runs[0].verb);
  EXPECT_EQ(program, runs[0].file);
  EXPECT_TRUE(runs[0].fileExists);
  EXPECT_FALSE(runs[0].withParameters);
  EXPECT_EQ(SW_SHOWNORMAL, runs[0].show);
  DeleteFileW(program.c_str());
  RemoveDirectoryW(folder.c_str());

  // None set: the menu does nothing, a double click still asks the shell.
  k.mailer[0] = '\0';
  runs.clear();
  startMailer(k, k.popupWindow, false, kShellRecorder);
  EXPECT_TRUE(runs.empty());
  startMailer(k, k.popupWindow, true, kShellRecorder);
  ASSERT_EQ(1u, runs.size());
  EXPECT_EQ(L"", runs[0].file);
}
