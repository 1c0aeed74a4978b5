// What memory costs the heap, counted on the safe side wherever the
// allocator cannot be asked: each allocation rounded up to 16 bytes, with
// 16 more for the allocator's own header (glibc and the Windows heap take
// less); a large one, which both map in whole pages, in 4 KB pages and one
// more. The header cache and the UIDL listing share one budget in these.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t heapCost(size_t bytes) {
  return bytes < (64u << 10) ? ((bytes + 15) & ~static_cast<size_t>(15)) + 16
                             : ((bytes + 4095) & ~static_cast<size_t>(4095)) + 4096;
}

// A string's own buffer, when it is too long to live inside the string.
inline size_t stringHeap(const std::string& s) {
  static const size_t inside = std::string().capacity();
  return s.capacity() > inside ? heapCost(s.capacity() + 1) : 0;
}
