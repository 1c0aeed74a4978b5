// Text typed into the popup one character at a time.
#pragma once

#include <atomic>

class Kel;

// Where the waits go; tests pass their own to run without them. A wait ends
// early once stop is set (the program is ending).
struct TypingWaits {
  void (*sleep)(unsigned ms, const std::atomic<bool>& stop);
};
// The program's: Sleep, in short steps.
extern const TypingWaits kTypingWaits;

// Draws the block (lineCount NUL-ended strings, 1 or 2) onto the popup's
// surface and the window, with the typing delays, then waits holdMs.
void drawPopupText(Kel& kel, const char* textBlock, int holdMs, int lineCount, const TypingWaits& waits);
