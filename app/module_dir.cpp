#include "app/module_dir.h"

#include <cstring>

#include "platform/shift_jis.h"

bool moduleDirFromPath(const char* exePath, char* out, size_t outSize) {
  const char* slash = nullptr;
  for (const char* p = exePath; *p; ++p) {
    if (platform::isLeadByte(static_cast<unsigned char>(*p)) && p[1]) {
      ++p;
    } else if (*p == '\\') {
      slash = p;
    }
  }
  if (!slash) return false;
  size_t n = static_cast<size_t>(slash - exePath) + 1;
  if (n >= outSize) return false;
  memcpy(out, exePath, n);
  out[n] = '\0';
  return true;
}
