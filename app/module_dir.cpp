#include "app/module_dir.h"

#include <cstring>

bool moduleDirFromPath(const char* exePath, char* out, size_t outSize) {
  // The path is UTF-8, where no byte of a longer character is a backslash.
  const char* slash = strrchr(exePath, '\\');
  if (!slash) return false;
  size_t n = static_cast<size_t>(slash - exePath) + 1;
  if (n >= outSize) return false;
  memcpy(out, exePath, n);
  out[n] = '\0';
  return true;
}
