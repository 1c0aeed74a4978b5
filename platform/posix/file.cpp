#include "platform/file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace platform {

FileRead readWholeFile(const char* path, std::string& bytes) {
  bytes.clear();
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? FileRead::kMissing : FileRead::kFailed;
  bool ok = true;
  char chunk[4096];
  for (;;) {
    ssize_t got = read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) ok = false;
    if (got <= 0) break;
    bytes.append(chunk, static_cast<size_t>(got));
  }
  close(fd);
  if (!ok) bytes.clear();
  return ok ? FileRead::kOk : FileRead::kFailed;
}

bool writeWholeFile(const char* path, const std::string& bytes) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t put = write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    ok = put > 0;
    if (ok) done += static_cast<size_t>(put);
  }
  return close(fd) == 0 && ok;
}

bool deleteFile(const char* path) { return unlink(path) == 0 || errno == ENOENT; }

bool replaceFile(const char* from, const char* to) { return rename(from, to) == 0; }

}  // namespace platform
