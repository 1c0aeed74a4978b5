#include <cstdio>

#include "platform/trace.h"

namespace platform {
void debugOutput(const char* line) { fputs(line, stderr); }
}  // namespace platform
