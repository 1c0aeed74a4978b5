#include "notify/typing_plan.h"

#include <cstring>

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
    int y = lines.size() == 1 ? layout.topSingle : layout.topDouble + 16 * static_cast<int>(k);
    int width = k < widths.size() ? widths[k] : 0;
    int x = layout.centreX - width / 2;
    const uint8_t* line = reinterpret_cast<const uint8_t*>(block + lines[k]);
    for (int i = 0; line[i];) {
      int n = isSingleByteChar(line[i]) || line[i + 1] == 0 ? 1 : 2;
      steps.push_back({TypingStep::kChar, lines[k] + i, n, x, y, 50 * n});
      x += 6 * n;
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
