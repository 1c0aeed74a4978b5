// The popup, the tray icons and the dialogs at 100 to 200 %, under high
// contrast, and when the DPI changes, read back from GDI under Wine. Run
// once more in a prefix whose system DPI is 144 (KEL_EXPECT_DPI says which).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <atomic>
#include <mutex>
#include <thread>

#include "app/dpi.h"
#include "app/win32/popup_dpi.h"
#include "app/win32/window_proc.h"
#include "mailcheck/check_cycle.h"
#include "notify/win32/popup_text.h"
#include "notify/win32/tray_icon.h"
#include "platform/win32/dpi.h"
#include "resources/resource_ids.h"
#include "settings/win32/dialog_controls.h"
#include "settings/win32/status_dialog.h"
#include "tests/windows/dialog_driver.h"
#include "tests/windows/popup_fixture.h"

// The window procedure's own Kel, as kel.exe's entry makes it.
Kel& kel = *new Kel();

namespace {

void noWait(unsigned, const std::atomic<bool>&) {}
const TypingWaits kNoWaits = {noWait};

int systemDpiExpected() {
  const char* want = getenv("KEL_EXPECT_DPI");
  return want && *want ? atoi(want) : 96;
}

// Where `ink` is on the popup's surface inside `edge` pixels: its box and how many pixels.
struct Ink {
  RECT box;
  int pixels;
};
Ink inkOn(Kel& k, uint32_t ink, int edge = 0) {
  const int w = scaleForDpi(k.popupWidth, k.popupDpi), h = scaleForDpi(k.popupHeight, k.popupDpi);
  std::vector<uint32_t> px = bitmapPixels(k.offscreenBitmap, w, h);
  Ink found{{w, h, -1, -1}, 0};
  RECT& b = found.box;
  for (int y = edge; y < h - edge; ++y)
    for (int x = edge; x < w - edge; ++x)
      if (px[static_cast<size_t>(y * w + x)] == ink) {
        ++found.pixels;
        b = {std::min<LONG>(b.left, x), std::min<LONG>(b.top, y), std::max<LONG>(b.right, x + 1), std::max<LONG>(b.bottom, y + 1)};
      }
  return found;
}

uint32_t bgr(COLORREF c) { return (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c); }

// An icon's width and its colour and mask pixels, `size` square.
int iconPixels(HICON icon, int size = 0, std::vector<uint32_t>* colour = nullptr, std::vector<uint32_t>* mask = nullptr) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return -1;
  BITMAP bm{};
  GetObjectW(info.hbmColor, sizeof bm, &bm);
  if (colour) *colour = bitmapPixels(info.hbmColor, size, size);
  if (mask) *mask = bitmapPixels(info.hbmMask, size, size);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return bm.bmWidth;
}

// The badge of `count` in the second count icon: every lit pixel of the
// glyph strip drawn for the size is white and opaque.
void expectBadgeAt(Kel& k, int size, int count) {
  makeCountIcons(k, count);
  const BadgeGeometry g = badgeGeometry(size);
  int stripId = size == 16 ? IDB_DIGITS : size == 20 ? IDB_BADGE_20 : size == 24 ? IDB_BADGE_24 : IDB_BADGE_32;
  HBITMAP strip = static_cast<HBITMAP>(
      LoadImageW(kelModule(), MAKEINTRESOURCEW(stripId), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  std::vector<uint32_t> glyphs = bitmapPixels(strip, 10 * g.glyphWidth, g.glyphHeight + 1), colour, mask;
  DeleteObject(strip);
  ASSERT_EQ(size, iconPixels(k.trayIcons[1], size, &colour, &mask));
  const int digits[2] = {count / 10, count % 10}, xs[2] = {g.tensX, g.onesX};
  int lit = 0;
  for (int d = 0; d < 2; ++d)
    for (int y = 0; y < g.glyphHeight; ++y)
      for (int x = 0; x < g.glyphWidth; ++x) {
        if (!glyphs[static_cast<size_t>(y * 10 * g.glyphWidth + digits[d] * g.glyphWidth + x)]) continue;
        ++lit;
        size_t at = static_cast<size_t>((g.top + y) * size + xs[d] + x);
        EXPECT_EQ(0xFFFFFFu, colour[at]) << size << " px, digit " << d << " at " << x << "," << y;
        EXPECT_EQ(0u, mask[at]);
      }
  EXPECT_GT(lit, 10 * size / 16);
  for (HICON& icon : k.trayIcons) DestroyIcon(icon);
}

// The popup made at `dpi`: its window, shape and typed text, and the tray
// icons with their badge at the small icon's size. Gives the text's height.
int expectPopupAndTrayAt(Kel& k, int dpi) {
  RECT work, w, box;
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_TRUE(makePopupSurfaces(k, dpi));
  const double scale = dpi / 96.0;
  GetWindowRect(k.popupWindow, &w);
  EXPECT_LE(std::fabs(w.right - w.left - 204 * scale), 1.0);
  EXPECT_LE(std::fabs(w.bottom - w.top - 40 * scale), 1.0);
  EXPECT_LE(std::fabs(work.right - w.right - 16 * scale), 1.0);
  EXPECT_LE(std::fabs(work.bottom - w.bottom - 12 * scale), 1.0);

  // The shape: the whole window but its rounded corners.
  HRGN shape = CreateRectRgn(0, 0, 0, 0);
  EXPECT_NE(ERROR, GetWindowRgn(k.popupWindow, shape));
  GetRgnBox(shape, &box);
  EXPECT_EQ(w.right - w.left, box.right);
  EXPECT_EQ(w.bottom - w.top, box.bottom);
  const int cut = scaleForDpi(5, dpi);  // the key pixels of the top row at each end
  EXPECT_FALSE(PtInRegion(shape, cut - 1, 0));
  EXPECT_TRUE(PtInRegion(shape, cut, 0));
  EXPECT_FALSE(PtInRegion(shape, box.right - cut, 0));
  EXPECT_TRUE(PtInRegion(shape, 0, box.bottom / 2));
  EXPECT_FALSE(PtInRegion(shape, 0, box.bottom - 1));
  DeleteObject(shape);

  // Typed text: five two-byte characters, 60 pixels at 96 DPI.
  drawPopupText(k, "新着メール", 0, 1, kNoWaits);
  RECT ink = inkOn(k, 0).box;
  EXPECT_GT(ink.right, ink.left);
  EXPECT_LE(std::fabs(ink.right - ink.left - 59 * scale), 3 * scale + 1);
  EXPECT_LE(std::fabs((ink.right + ink.left) / 2.0 - 102 * scale), 2 * scale + 1);

  for (int outcome : {kTrayIdle, kTrayError}) {
    makeTrayPair(k, outcome, 0);
    EXPECT_EQ(k.trayIconSize, iconPixels(k.trayIcons[0]));
    EXPECT_EQ(k.trayIconSize, iconPixels(k.trayIcons[1]));
    for (HICON& icon : k.trayIcons) DestroyIcon(icon);
  }
  expectBadgeAt(k, k.trayIconSize, 47);
  return ink.bottom - ink.top;
}

}  // namespace

// One table over 100, 125, 150 and 200 %; the text's line as many times
// higher as the DPI.
TEST(DpiTable, PopupAndTrayIconsAtEachDpi) {
  int inkAt96 = 0;
  for (int dpi : {96, 120, 144, 192}) {
    SCOPED_TRACE(dpi);
    PopupFixture f;
    f.kel->trayIconSize = scaleForDpi(16, dpi);
    const int ink = expectPopupAndTrayAt(*f.kel, dpi);
    if (dpi == 96) inkAt96 = ink;
    EXPECT_LE(std::fabs(ink - inkAt96 * dpi / 96.0), 1.0 + dpi / 96.0);
  }
}

// In a prefix whose LogPixels is 144 this is the 150 % a user sees.
TEST(SystemDpi, PopupAndTrayFollowTheSystemsDpi) {
  PopupFixture f;
  const int dpi = platform::windowDpi(f.kel->popupWindow);
  ASSERT_EQ(systemDpiExpected(), dpi);
  f.kel->trayIconSize = platform::smallIconSize(dpi);
  EXPECT_EQ(scaleForDpi(16, dpi), f.kel->trayIconSize);
  expectPopupAndTrayAt(*f.kel, dpi);
}

namespace {

bool highContrastForTest = false;

bool fakeHighContrast() { return highContrastForTest; }

void pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// The program's own window procedure over the global Kel, set up as
// start-up sets it up.
struct ProgramPopup {
  ProgramPopup() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = popupWindowProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"kel-dpi-test";
    RegisterClassW(&wc);
    loadAllSettings(kel);
    kel.instance = kelModule();
    kel.highContrastQuery = fakeHighContrast;
    kel.popupWindow = CreateWindowExW(WS_EX_NOACTIVATE | WS_EX_TOOLWINDOW, L"kel-dpi-test", L"", WS_POPUP, 0, 0, 1,
                                      1, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    readHighContrast(kel);
    makePopupSurfaces(kel, 96);
    kel.trayIconSize = 16;
    makeTrayPair(kel, kTrayIdle, 0);
  }
  ~ProgramPopup() {
    notifyTray(kel, NIM_DELETE, kShellTray);
    for (HICON& icon : kel.trayIcons) DestroyIcon(icon);
    // Not the program's teardown, which would save and end the message loop.
    SetWindowLongPtrW(kel.popupWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcW));
    DestroyWindow(kel.popupWindow);  // its region goes with it
    DeleteDC(kel.offscreenDc);
    DeleteDC(kel.backgroundDc);
    DeleteObject(kel.offscreenBitmap);
    DeleteObject(kel.backgroundBitmap);
    kel.offscreenDc = kel.backgroundDc = nullptr;
    kel.offscreenBitmap = kel.backgroundBitmap = nullptr;
    kel.popupDpi = 0;
  }
  int width() const {
    RECT w;
    GetWindowRect(kel.popupWindow, &w);
    return w.right - w.left;
  }
};

}  // namespace

// Wine never changes the DPI: the message is posted as Windows would send it.
TEST(DpiChange, PopupAndTrayAreMadeAnewAndWaitForTheTyping) {
  ProgramPopup p;
  RECT suggested{0, 0, 408, 80};
  PostMessageW(kel.popupWindow, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
  pump();
  EXPECT_EQ(408, p.width());
  EXPECT_EQ(192, kel.popupDpi);
  EXPECT_EQ(platform::smallIconSize(192), iconPixels(kel.trayIcons[0]));
  EXPECT_EQ(kel.trayIcons[kel.trayPhase & 1], kel.trayIconData.hIcon);

  // While a block is typed (another thread holds the surface) the popup
  // waits; the tray does not.
  std::atomic<int> step{0};
  std::thread typing([&] {
    std::lock_guard<std::mutex> g(kel.popupLock);
    step = 1;
    while (step == 1) Sleep(10);
  });
  while (step == 0) Sleep(10);
  PostMessageW(kel.popupWindow, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
  pump();
  EXPECT_EQ(408, p.width());
  EXPECT_EQ(144, kel.pendingDpi);
  EXPECT_EQ(platform::smallIconSize(144), iconPixels(kel.trayIcons[0]));
  step = 2;
  typing.join();
  applyPendingDpi(kel);  // the next half-second tick
  EXPECT_EQ(306, p.width());
  EXPECT_EQ(0, kel.pendingDpi);
}

TEST(HighContrast, PopupTakesTheSystemsColoursOpaqueAndGivesThemBack) {
  ProgramPopup p;
  kel.hantoumei = 1;
  for (bool on : {true, false}) {
    SCOPED_TRACE(on);
    highContrastForTest = on;
    // Sent, as the system sends it: it carries a pointer, which a post refuses.
    SendMessageW(kel.popupWindow, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    BYTE alpha = 0;
    DWORD flags = 0;
    ASSERT_TRUE(GetLayeredWindowAttributes(kel.popupWindow, nullptr, &alpha, &flags));
    EXPECT_EQ(on ? 255 : 170, alpha);
    std::string block = std::string("山田") + '\0' + "件名" + '\0';
    drawPopupText(kel, block.c_str(), 0, 2, kNoWaits);
    std::vector<uint32_t> picture = bitmapPixels(kel.backgroundBitmap, 204, 40);
    const size_t middle = 20 * 204 + 10;  // left of the text
    EXPECT_EQ(on ? bgr(GetSysColor(COLOR_WINDOW)) : picture[middle], bitmapPixels(kel.offscreenBitmap, 204, 40)[middle]);
    EXPECT_GT(inkOn(kel, on ? bgr(GetSysColor(COLOR_WINDOWTEXT)) : 0, 3).pixels, 20);
    // The summary line on the highlight.
    drawPopupText(kel, "新着:1", 0, 1, kNoWaits);
    EXPECT_EQ(on ? bgr(GetSysColor(COLOR_HIGHLIGHT)) : picture[middle], bitmapPixels(kel.offscreenBitmap, 204, 40)[middle]);
    EXPECT_GT(inkOn(kel, on ? bgr(GetSysColor(COLOR_HIGHLIGHTTEXT)) : 0, 3).pixels, 10);
  }
  kel.hantoumei = 0;
}

// A dialog moved to another DPI: its Japanese font made for it, the list as
// wide as the dialog and its lines within it; the fonts kept stay bounded
// however many DPIs come.
TEST(DpiChange, StatusDialogFollowsAndTheFontCacheStaysBounded) {
  DialogFixture f;
  strcpy(f.kel->accounts[0].mailaddr, "taro@example.jp");
  const char mail[] = "山田太郎山田太郎山田太郎山田太郎\0会議の件会議の件会議の件会議の件";
  memcpy(f.kel->results[0].lines[0].bytes, mail, sizeof mail);
  const int start = platform::windowDpi(nullptr);
  LONG height[2] = {}, width[2] = {};  // at the start and after
  int room = 0, widest = 0, fonts = 0;
  auto failures = drive([&] { showServerStatus(*f.kel, f.kel->popupWindow); }, [&](Driver& d) {
    HWND status = d.window("メールサーバーの状態");
    if (!status) return;
    HWND list = GetDlgItem(status, IDC_STATUS_LIST);
    RECT r, client, listBox;
    auto measure = [&](int at) {
      LOGFONTW lf{};
      GetObjectW(reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)), sizeof lf, &lf);
      GetWindowRect(status, &r);
      height[at] = lf.lfHeight;
      width[at] = r.right - r.left;
    };
    measure(0);
    int from = start;
    for (int dpi : {2 * start, 120, 168, 216, 240, 288, 336, 2 * start}) {
      RECT s{r.left, r.top, r.left + MulDiv(r.right - r.left, dpi, from), r.top + MulDiv(r.bottom - r.top, dpi, from)};
      SendMessageW(status, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&s));
      GetWindowRect(status, &r);
      from = dpi;
      fonts = std::max(fonts, dialogFontsMade());
    }
    measure(1);
    GetClientRect(status, &client);
    GetWindowRect(list, &listBox);
    EXPECT_EQ(client.right, listBox.right - listBox.left);
    GetClientRect(list, &client);
    room = client.right;
    widest = widestListBoxLine(list);
    d.post(status, IDOK);
    d.gone(status);
  });
  EXPECT_EQ(std::vector<std::string>{}, failures);
  EXPECT_EQ(fontHeightAtDpi(height[0], start, 2 * start), height[1]);
  EXPECT_LE(std::abs(width[1] - 2 * width[0]), 8);
  EXPECT_GT(widest, 0);
  EXPECT_LE(widest, room);
  EXPECT_LE(fonts, kDialogFontCache);
}
