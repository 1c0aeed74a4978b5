#include <time.h>

#include "platform/monotonic.h"

namespace platform {
// CLOCK_BOOTTIME goes on through a suspend, as GetTickCount64 does.
uint64_t monotonicMs() {
  timespec t{};
  clock_gettime(CLOCK_BOOTTIME, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000 + static_cast<uint64_t>(t.tv_nsec) / 1000000;
}
}  // namespace platform
