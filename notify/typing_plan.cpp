#include "notify/typing_plan.h"

#include <cstring>

#include "app/dpi.h"

bool isSingleByteChar(uint8_t b) { return (b >= 0x01 && b <= 0x7F) || (b >= 0xA1 && b <= 0xDF); }

std::vector<int> blockLines(const char* block, int lineCount) {
  std::vector<int> starts{0};
  if (lineCount == 2) starts.push_back(static_cast<int>(strlen(block)) + 1);
  return starts;
}

std::vector<TypingStep> planTyping(const char* block, int lineCount, const LineWidths& widths,
                                   const TypingLayout& layout, int holdMs) {
  std::vector<TypingStep> steps;
  std::vector<int> lines = blockLines(block, lineCount);
  for (size_t k = 0; k < lines.size(); ++k) {
    int top = lines.size() == 1 ? layout.topSingle : layout.topDouble + 16 * static_cast<int>(k);
    int y = scaleForDpi(top, layout.dpi);
    int width = k < widths.size() ? widths[k] : 0;
    int start = scaleForDpi(layout.centreX, layout.dpi) - width / 2;
    const uint8_t* line = reinterpret_cast<const uint8_t*>(block + lines[k]);
    // 6 pixels a byte at 96 DPI, each position scaled from the line's start
    // so that rounding never adds up along the line.
    for (int i = 0; line[i];) {
      int n = isSingleByteChar(line[i]) || line[i + 1] == 0 ? 1 : 2;
      steps.push_back({TypingStep::kChar, lines[k] + i, n, start + scaleForDpi(6 * i, layout.dpi), y, 50 * n});
      i += n;
    }
    steps.push_back({TypingStep::kLineEnd, 0, 0, 0, 0, 150});
  }
  steps.push_back({TypingStep::kHold, 0, 0, 0, 0, holdMs});
  return steps;
}

int typingDurationMs(const std::vector<TypingStep>& steps) {
  int total = 0;
  for (const TypingStep& s : steps) total += s.delayMs;
  return total;
}
