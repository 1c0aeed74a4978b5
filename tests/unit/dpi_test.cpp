// The designed 96-DPI sizes at 100, 125, 150 and 200 %: the popup, its
// picture, the typing positions, the tray badge and the dialogs' fonts.
#include "app/dpi.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "notify/typing_plan.h"

namespace {

const int kDesigned[] = {204, 40, 16, 12, 12};  // the popup, its margins right and below, its font
std::vector<int> fields(const BadgeGeometry& g) { return {g.glyphWidth, g.glyphHeight, g.tensX, g.onesX, g.top}; }

const struct {
  int dpi;
  std::vector<int> sizes;  // kDesigned at the DPI
  int picture;             // the DPI its picture was drawn for
  int iconSize;            // the tray's small icon at this DPI
  BadgeGeometry badge;
  int dialogFont;  // an 11-point template font, made at 96 (-15)
} kTable[] = {
    {96, {204, 40, 16, 12, 12}, 96, 16, {5, 7, 3, 8, 5}, -15},
    {120, {255, 50, 20, 15, 15}, 120, 20, {6, 9, 4, 10, 6}, -18},
    {144, {306, 60, 24, 18, 18}, 144, 24, {8, 11, 5, 13, 8}, -22},
    {192, {408, 80, 32, 24, 24}, 192, 32, {10, 14, 6, 16, 10}, -29},
};

}  // namespace

TEST(Dpi, DesignedSizesScaleWithTheDpi) {
  for (const auto& row : kTable) {
    SCOPED_TRACE(row.dpi);
    for (size_t i = 0; i < row.sizes.size(); ++i) EXPECT_EQ(row.sizes[i], scaleForDpi(kDesigned[i], row.dpi));
    EXPECT_EQ(row.picture, popupPictureDpi(row.dpi));
    const BadgeGeometry g = badgeGeometry(row.iconSize);
    EXPECT_EQ(fields(row.badge), fields(g));
    // Both digits and their plate (a pixel round them) inside the icon.
    EXPECT_LE(g.onesX + g.glyphWidth + 1, row.iconSize);
    EXPECT_LE(g.top + g.glyphHeight + 1, row.iconSize);
    EXPECT_EQ(row.iconSize, badgePictureSize(row.iconSize));
    EXPECT_EQ(row.dialogFont, fontHeightAtDpi(-15, 96, row.dpi));
    // and back, whichever DPI it went through
    EXPECT_EQ(-15, fontHeightAtDpi(fontHeightAtDpi(-15, 96, row.dpi), row.dpi, 96));

    // Typing: "Aあ" centred on the scaled centre line, 6 pixels a byte at
    // 96 DPI, the second line 16 lower.
    const int font = row.sizes[4];
    std::string block = std::string("A\x82\xA0") + '\0' + "B" + '\0';
    std::vector<TypingStep> steps = planTyping(block.c_str(), 2, {3 * font / 2, font / 2}, {102, 14, 6, row.dpi}, 0);
    ASSERT_EQ(6u, steps.size());
    const int start = scaleForDpi(102, row.dpi) - 3 * font / 4;
    EXPECT_EQ(std::vector<int>({start, start + scaleForDpi(6, row.dpi), scaleForDpi(6, row.dpi), scaleForDpi(22, row.dpi)}),
              std::vector<int>({steps[0].x, steps[1].x, steps[0].y, steps[3].y}));
    EXPECT_EQ(100, steps[1].delayMs);  // the waits do not scale
  }
}

TEST(Dpi, BetweenAndBeyondTheDrawnScalesTheNextLargerPictureServes) {
  EXPECT_EQ(120, popupPictureDpi(97));   // 101 %: 125 scaled down
  EXPECT_EQ(168, popupPictureDpi(168));  // 175 % as drawn
  EXPECT_EQ(192, popupPictureDpi(240));  // 250 %: the largest, scaled up
  EXPECT_EQ(96, popupPictureDpi(0));     // no DPI known: as designed
  EXPECT_EQ(204, scaleForDpi(204, 0));
  EXPECT_EQ(24, badgePictureSize(28));  // 175 %'s 28 pixels: the 24-pixel badge
  EXPECT_EQ(16, badgePictureSize(0));
  EXPECT_EQ(21, fontHeightAtDpi(14, 96, 144));  // a cell height scales as it is
}
