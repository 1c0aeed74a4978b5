#include "app/region_runs.h"

namespace {

void resetBlock(RegionBlock& b) {
  b.headerSize = 32;
  b.type = 1;
  b.count = 0;
  b.regionSize = 0;
  b.bound[0] = 2147483647;
  b.bound[1] = 2147483647;
  b.bound[2] = 0;
  b.bound[3] = 0;
}

void addRect(RegionBlock& b, int x0, int y, int x1) {
  int32_t* r = b.rects[b.count];
  r[0] = x0;
  r[1] = y;
  r[2] = x1;
  r[3] = y + 1;
  if (b.bound[0] > x0) b.bound[0] = x0;
  if (b.bound[1] > y) b.bound[1] = y;
  if (b.bound[2] < x1) b.bound[2] = x1;
  if (b.bound[3] < y + 1) b.bound[3] = y + 1;
  ++b.count;
}

}  // namespace

bool buildRegionBatches(const uint32_t* pixels, int width, int height, RegionBatchSink sink,
                        void* context) {
  RegionBlock block;
  resetBlock(block);
  if (width > 0 && height > 0) {
    const uint32_t key = pixels[0];
    for (int y = 0; y < height; ++y) {
      const uint32_t* row = pixels + static_cast<long>(height - 1 - y) * width;
      int x = 0;
      while (x < width) {
        while (x < width && row[x] == key) ++x;
        if (x == width) break;
        int x0 = x;
        while (x < width && row[x] != key) ++x;
        addRect(block, x0, y, x);
        if (block.count == kRegionBatch) {
          if (!sink(block, context)) return false;
          resetBlock(block);
        }
      }
    }
  }
  return sink(block, context);
}
