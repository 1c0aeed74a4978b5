#include "notify/typing_plan.h"

#include <gtest/gtest.h>

#include <string>

namespace {
const TypingLayout kLayout{102, 14, 6};

std::vector<TypingStep> chars(const std::vector<TypingStep>& steps) {
  std::vector<TypingStep> out;
  for (const TypingStep& s : steps)
    if (s.kind == TypingStep::kChar) out.push_back(s);
  return out;
}
}  // namespace

TEST(TypingPlan, OneByteAndTwoByteCharacters) {
  // ｱ (0xB1) is half-width katakana; あ is two bytes.
  std::string line = "A\xB1" "あB";
  std::vector<TypingStep> steps = planTyping(line.c_str(), 1, {30}, kLayout, 4000);
  std::vector<TypingStep> c = chars(steps);
  ASSERT_EQ(4u, c.size());
  int x = 102 - 15;
  int want[4][3] = {{1, 0, 50}, {1, 6, 50}, {2, 12, 100}, {1, 24, 50}};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(want[i][0], c[i].length) << i;
    EXPECT_EQ(x + want[i][1], c[i].x) << i;
    EXPECT_EQ(14, c[i].y);
    EXPECT_EQ(want[i][2], c[i].delayMs) << i;
  }
  EXPECT_EQ(4, c[3].offset);
  ASSERT_EQ(6u, steps.size());
  EXPECT_EQ(TypingStep::kLineEnd, steps[4].kind);
  EXPECT_EQ(150, steps[4].delayMs);
  EXPECT_EQ(TypingStep::kHold, steps[5].kind);
  EXPECT_EQ(4000, steps[5].delayMs);
}

TEST(TypingPlan, LoneLastLeadByteIsDrawnAlone) {
  std::string line = "ab\x82";
  std::vector<TypingStep> c = chars(planTyping(line.c_str(), 1, {18}, kLayout, 0));
  ASSERT_EQ(3u, c.size());
  EXPECT_EQ(1, c[2].length);
  EXPECT_EQ(2, c[2].offset);
  EXPECT_EQ(50, c[2].delayMs);
}

TEST(TypingPlan, TwoLinesAndTheExampleTiming) {
  // 20 one-byte and 20 two-byte characters over two lines, held 4000 ms.
  std::string first = std::string(10, 'a') + "あいうえおかきくけこ";
  std::string second = std::string(10, 'b') + "さしすせそたちつてと";
  std::string block = first + '\0' + second + '\0';
  std::vector<TypingStep> steps = planTyping(block.c_str(), 2, {180, 180}, kLayout, 4000);
  EXPECT_EQ(7300, typingDurationMs(steps));
  std::vector<TypingStep> c = chars(steps);
  ASSERT_EQ(40u, c.size());
  EXPECT_EQ(6, c[0].y);
  EXPECT_EQ(22, c[20].y);
  EXPECT_EQ(static_cast<int>(first.size()) + 1, c[20].offset);
  EXPECT_EQ(12, c[0].x);
}

TEST(TypingPlan, WideLineStartsLeftOfTheWindowAndOddHalvesRoundTowardZero) {
  std::vector<TypingStep> c = chars(planTyping("x", 1, {301}, kLayout, 0));
  EXPECT_EQ(102 - 150, c[0].x);
  std::string wide(40, 'w');
  c = chars(planTyping(wide.c_str(), 1, {240}, kLayout, 0));
  EXPECT_EQ(-18, c[0].x);
  EXPECT_EQ(-18 + 6 * 39, c[39].x);
}

TEST(TypingPlan, EmptyLineCostsOnlyItsPause) {
  std::vector<TypingStep> steps = planTyping("", 1, {0}, kLayout, 0);
  EXPECT_TRUE(chars(steps).empty());
  EXPECT_EQ(150, typingDurationMs(steps));
}
