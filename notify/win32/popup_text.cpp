#include "notify/win32/popup_text.h"

#include <windows.h>

#include <mutex>
#include <string>

#include "app/application.h"
#include "app/dpi.h"
#include "app/win32/popup_dpi.h"
#include "notify/typing_plan.h"
#include "platform/win32/gdi_guard.h"
#include "platform/win32/wide_text.h"

namespace {
// In short steps, so that a program that ends is not held up.
void sleepFor(unsigned ms, const std::atomic<bool>& stop) {
  for (; ms > 0 && !stop; ms -= ms < 100 ? ms : 100) Sleep(ms < 100 ? ms : 100);
}

// False when the program is ending.
bool pause(Kel& kel, const TypingWaits& waits, int ms) {
  if (ms > 0 && !kel.stopping) waits.sleep(static_cast<unsigned>(ms), kel.stopping);
  return !kel.stopping;
}

// Types the block over the background, one character at a time; stops
// early when the program is ending. Holds popupLock throughout: the window
// thread makes the surfaces anew for a new DPI only between blocks.
void typeText(Kel& kel, const char* textBlock, int lineCount, const TypingWaits& waits) {
  std::lock_guard<std::mutex> typing(kel.popupLock);
  const int dpi = kel.popupDpi;
  const int width = scaleForDpi(kel.popupWidth, dpi), height = scaleForDpi(kel.popupHeight, dpi);
  const bool summary = lineCount == 1;
  WindowDc windowDc(kel.popupWindow);
  clearPopupSurface(kel, summary);
  GdiObject<HFONT> font(CreateFontW(scaleForDpi(12, dpi), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                                    OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, platform::widen("ＭＳ ゴシック").c_str()));
  Selection withFont(kel.offscreenDc, font);
  SetBkMode(kel.offscreenDc, TRANSPARENT);
  COLORREF ink = static_cast<COLORREF>(kel.textColour);
  if (kel.highContrast) ink = GetSysColor(summary ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT);
  SetTextColor(kel.offscreenDc, ink);

  LineWidths widths;
  for (int start : blockLines(textBlock, lineCount)) {
    SIZE size{};
    const char* line = textBlock + start;
    std::wstring wide = platform::widen(line);
    GetTextExtentPoint32W(kel.offscreenDc, wide.c_str(), static_cast<int>(wide.size()), &size);
    widths.push_back(size.cx);
  }
  TypingLayout layout{kel.textCentreX, kel.textTopSingle, kel.textTopDouble, dpi};
  for (const TypingStep& step : planTyping(textBlock, lineCount, widths, layout, 0)) {
    if (step.kind == TypingStep::kChar) {
      // A step never splits a two-byte character, so each converts on its own.
      std::wstring glyph = platform::widen(textBlock + step.offset, static_cast<size_t>(step.length));
      TextOutW(kel.offscreenDc, step.x, step.y, glyph.c_str(), static_cast<int>(glyph.size()));
      BitBlt(windowDc, 0, 0, width, height, kel.offscreenDc, 0, 0, SRCCOPY);
    }
    if (step.delayMs > 0 && !pause(kel, waits, step.delayMs)) break;
  }
}
}  // namespace

const TypingWaits kTypingWaits = {sleepFor};

void drawPopupText(Kel& kel, const char* textBlock, int holdMs, int lineCount, const TypingWaits& waits) {
  typeText(kel, textBlock, lineCount, waits);
  pause(kel, waits, holdMs);
}
