#include "notify/win32/popup_text.h"

#include <windows.h>

#include <string>

#include "app/application.h"
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
// early when the program is ending.
void typeText(Kel& kel, const char* textBlock, int lineCount, const TypingWaits& waits) {
  WindowDc windowDc(kel.popupWindow);
  BitBlt(kel.offscreenDc, 0, 0, kPopupWidth, kPopupHeight, kel.backgroundDc, 0, 0, SRCCOPY);
  GdiObject<HFONT> font(CreateFontW(12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                                    OUT_TT_ONLY_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                                    DEFAULT_PITCH | FF_DONTCARE, platform::widen("ＭＳ ゴシック").c_str()));
  Selection withFont(kel.offscreenDc, font);
  SetBkMode(kel.offscreenDc, TRANSPARENT);
  SetTextColor(kel.offscreenDc, static_cast<COLORREF>(kel.textColour));

  LineWidths widths;
  for (int start : blockLines(textBlock, lineCount)) {
    SIZE size{};
    const char* line = textBlock + start;
    std::wstring wide = platform::widen(line);
    GetTextExtentPoint32W(kel.offscreenDc, wide.c_str(), static_cast<int>(wide.size()), &size);
    widths.push_back(size.cx);
  }
  TypingLayout layout{kel.textCentreX, kel.textTopSingle, kel.textTopDouble};
  for (const TypingStep& step : planTyping(textBlock, lineCount, widths, layout, 0)) {
    if (step.kind == TypingStep::kChar) {
      // A step never splits a two-byte character, so each converts on its own.
      std::wstring glyph = platform::widen(textBlock + step.offset, static_cast<size_t>(step.length));
      TextOutW(kel.offscreenDc, step.x, step.y, glyph.c_str(), static_cast<int>(glyph.size()));
      BitBlt(windowDc, 0, 0, kel.popupWidth, kel.popupHeight, kel.offscreenDc, 0, 0, SRCCOPY);
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
