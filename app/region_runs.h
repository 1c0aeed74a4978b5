// The popup's shape from its background picture: every run of non-key
// pixels in a row becomes a one-row rectangle, collected in blocks of 200
// laid out as the system's region data.
#pragma once

#include <cstdint>

constexpr int kRegionBatch = 200;

struct RegionBlock {
  uint32_t headerSize;  // 32
  uint32_t type;        // 1: rectangles
  uint32_t count;
  uint32_t regionSize;  // 0
  int32_t bound[4];     // left, top, right, bottom
  int32_t rects[kRegionBatch][4];
};
static_assert(sizeof(RegionBlock) == 3232, "region block is header plus 200 rectangles");

// Called with a block as soon as it holds 200 rectangles, and once more at
// the end (also when empty). Returns false to give up.
using RegionBatchSink = bool (*)(const RegionBlock& block, void* context);

// `pixels` is a bottom-up 32-bit image: its first value is the bottom-left
// pixel, which is the key colour. Returns false when a sink call failed.
bool buildRegionBatches(const uint32_t* pixels, int width, int height, RegionBatchSink sink,
                        void* context);
