// The wide functions, so that a path outside the ANSI code page (a folder
// named José or 你) is still found.
#include "platform/file.h"

#include <windows.h>

#include "platform/win32/wide_text.h"

namespace platform {
namespace {

bool isMissing(DWORD err) { return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND; }

}  // namespace

FileRead readWholeFile(const char* path, std::string& bytes) {
  bytes.clear();
  HANDLE file = CreateFileW(widenPath(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return isMissing(GetLastError()) ? FileRead::kMissing : FileRead::kFailed;
  bool ok = true;
  char chunk[4096];
  for (;;) {
    DWORD got = 0;
    if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes.append(chunk, got);
  }
  CloseHandle(file);
  if (!ok) bytes.clear();
  return ok ? FileRead::kOk : FileRead::kFailed;
}

bool writeWholeFile(const char* path, const std::string& bytes) {
  HANDLE file = CreateFileW(widenPath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    DWORD put = 0;
    DWORD want = static_cast<DWORD>(bytes.size() - done > 65536 ? 65536 : bytes.size() - done);
    ok = WriteFile(file, bytes.data() + done, want, &put, nullptr) && put > 0;
    done += put;
  }
  return CloseHandle(file) && ok;
}

bool deleteFile(const char* path) {
  if (DeleteFileW(widenPath(path).c_str())) return true;
  return isMissing(GetLastError());
}

bool replaceFile(const char* from, const char* to) {
  return MoveFileExW(widenPath(from).c_str(), widenPath(to).c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

}  // namespace platform
