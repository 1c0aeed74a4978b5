#include <windows.h>

#include "platform/monotonic.h"

namespace platform {
uint64_t monotonicMs() { return GetTickCount64(); }
}  // namespace platform
