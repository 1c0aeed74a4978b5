#include "app/region_runs.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr uint32_t kKey = 0x00FF00FF;
constexpr uint32_t kInk = 0x00336699;

// A bottom-up image from rows given top first.
struct Image {
  int width, height;
  std::vector<uint32_t> pixels;
  Image(int w, int h) : width(w), height(h), pixels(static_cast<size_t>(w) * h, kInk) {}
  uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(height - 1 - y) * width + x]; }
};

struct Batches {
  std::vector<RegionBlock> blocks;
};

bool collect(const RegionBlock& b, void* c) {
  static_cast<Batches*>(c)->blocks.push_back(b);
  return true;
}

Batches run(Image& img) {
  Batches out;
  EXPECT_TRUE(buildRegionBatches(img.pixels.data(), img.width, img.height, collect, &out));
  return out;
}

}  // namespace

TEST(RegionRuns, RoundedPopupGivesOneRectanglePerRow) {
  Image img(204, 41);
  const int cut[40] = {5, 3, 2, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                       0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 2, 3, 5};
  for (int y = 0; y < 41; ++y)
    for (int x = 0; x < 204; ++x)
      if (y == 40 || x < cut[y] || x >= 204 - cut[y]) img.at(x, y) = kKey;
  Batches b = run(img);
  ASSERT_EQ(1u, b.blocks.size());
  const RegionBlock& r = b.blocks[0];
  EXPECT_EQ(32u, r.headerSize);
  EXPECT_EQ(1u, r.type);
  ASSERT_EQ(40u, r.count);
  for (int y = 0; y < 40; ++y) {
    EXPECT_EQ(cut[y], r.rects[y][0]);
    EXPECT_EQ(y, r.rects[y][1]);
    EXPECT_EQ(204 - cut[y], r.rects[y][2]);
    EXPECT_EQ(y + 1, r.rects[y][3]);
  }
  EXPECT_EQ(0, r.bound[0]);
  EXPECT_EQ(0, r.bound[1]);
  EXPECT_EQ(204, r.bound[2]);
  EXPECT_EQ(40, r.bound[3]);
}

TEST(RegionRuns, AllKeyGivesNothingAndNoKeyGivesFullRows) {
  Image key(10, 3);
  for (uint32_t& p : key.pixels) p = kKey;
  Batches none = run(key);
  ASSERT_EQ(1u, none.blocks.size());
  EXPECT_EQ(0u, none.blocks[0].count);

  // Without a key pixel the bottom-left pixel is the key all the same.
  Image full(10, 3);
  full.at(0, 2) = kKey;
  Batches b = run(full);
  ASSERT_EQ(3u, b.blocks[0].count);
  EXPECT_EQ(0, b.blocks[0].rects[0][0]);
  EXPECT_EQ(10, b.blocks[0].rects[0][2]);
  EXPECT_EQ(1, b.blocks[0].rects[2][0]);
}

TEST(RegionRuns, BatchesOf200CutMidRow) {
  // 15 runs per row, 15 rows: 225 runs.
  Image img(30, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 30; ++x)
      if (y == 15 || x % 2 == 1) img.at(x, y) = kKey;
  Batches b = run(img);
  ASSERT_EQ(2u, b.blocks.size());
  EXPECT_EQ(200u, b.blocks[0].count);
  EXPECT_EQ(25u, b.blocks[1].count);
  // The 200th run is the 5th of row 13.
  EXPECT_EQ(13, b.blocks[0].rects[199][1]);
  EXPECT_EQ(8, b.blocks[0].rects[199][0]);
  EXPECT_EQ(13, b.blocks[1].rects[0][1]);
  EXPECT_EQ(10, b.blocks[1].rects[0][0]);
  EXPECT_EQ(13, b.blocks[1].bound[1]);
}
