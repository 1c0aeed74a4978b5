#include "platform/clock.h"

namespace platform {
namespace {
bool refuse(const UtcTime&) { return false; }
}  // namespace
SetClockFn setSystemClock = refuse;
}  // namespace platform
