#include "platform/profile.h"

#include <windows.h>

namespace platform {

uint32_t profileGetString(const char* section, const char* key, const char* def, char* buf,
                          uint32_t size, const char* path) {
  return GetPrivateProfileStringA(section, key, def, buf, size, path);
}

int32_t profileGetInt(const char* section, const char* key, int32_t def, const char* path) {
  return static_cast<int32_t>(GetPrivateProfileIntA(section, key, def, path));
}

bool profileWriteString(const char* section, const char* key, const char* value,
                        const char* path) {
  return WritePrivateProfileStringA(section, key, value, path) != 0;
}

bool deleteFile(const char* path) {
  if (DeleteFileA(path)) return true;
  DWORD err = GetLastError();
  return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

bool replaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
