#include <windows.h>

#include "platform/trace.h"

namespace platform {
void debugOutput(const char* line) { OutputDebugStringA(line); }
}  // namespace platform
