// Milliseconds on a clock that only goes forward and counts sleep too
// (GetTickCount64 on Windows): for waits that must not move when the wall
// clock is set.
#pragma once

#include <cstdint>

namespace platform {
uint64_t monotonicMs();
}  // namespace platform
