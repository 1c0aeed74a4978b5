// What typing a text block into the popup does, step by step: which bytes
// are drawn where, and how long each step waits. Kept free of drawing so
// that it can be checked without a screen.
#pragma once

#include <cstdint>
#include <vector>

struct TypingStep {
  enum Kind { kChar, kLineEnd, kHold } kind;
  int offset;   // kChar: first byte of the character in the block
  int length;   // kChar: 1 or 2 bytes
  int x, y;     // kChar: where it is drawn
  int delayMs;  // the wait after the step
};

// Designed at 96 DPI; drawn at `dpi` (0: 96), every length scaled.
struct TypingLayout {
  int centreX;    // 102
  int topSingle;  // 14
  int topDouble;  // 6; the second line is 16 lower
  int dpi = 0;
};

// Widths of lines as the font measures them (at the layout's DPI), one per line.
using LineWidths = std::vector<int>;

// A one-byte character: 0x01-0x7F and half-width katakana 0xA1-0xDF.
bool isSingleByteChar(uint8_t b);
// Offsets of the lines of a block of `lineCount` NUL-ended strings (1 or 2;
// anything else is taken as 1).
std::vector<int> blockLines(const char* block, int lineCount);
std::vector<TypingStep> planTyping(const char* block, int lineCount, const LineWidths& widths,
                                   const TypingLayout& layout, int holdMs);
// The sum of the waits.
int typingDurationMs(const std::vector<TypingStep>& steps);
