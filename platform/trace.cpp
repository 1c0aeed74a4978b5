#include "platform/trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace platform {
namespace {
std::atomic<TraceSink> sink{nullptr};
}

void setTraceSink(TraceSink s) { sink.store(s); }

void trace(const char* line) {
  TraceSink s = sink.load();
  if (s)
    s(line);
  else
    debugOutput(line);
}

void tracef(const char* format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  vsnprintf(line, sizeof line, format, args);
  va_end(args);
  trace(line);
}

}  // namespace platform
