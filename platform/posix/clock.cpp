#include "platform/clock.h"

namespace platform {
bool setSystemClock(const UtcTime&) { return false; }
}  // namespace platform
