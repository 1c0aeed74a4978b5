#pragma once

#include <cstddef>

// The directory part of an executable's UTF-8 path, ending in its backslash.
// False for a path without any backslash (or one too long for `out`).
bool moduleDirFromPath(const char* exePath, char* out, size_t outSize);
