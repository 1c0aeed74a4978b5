// The debug trace: fixed lines on the debugger output, each ending in a
// line feed. Tests may take the lines instead.
#pragma once

namespace platform {

void trace(const char* line);
void tracef(const char* format, ...) __attribute__((format(printf, 1, 2)));

using TraceSink = void (*)(const char* line);
// nullptr sends lines to the debugger output again.
void setTraceSink(TraceSink sink);

// The operating system's debugger output.
void debugOutput(const char* line);

}  // namespace platform
