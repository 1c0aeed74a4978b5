#include "tests/unit/test_dir.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>

#include "platform/win32/wide_text.h"
#else
#include <dirent.h>
#include <cerrno>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>
#endif

// The helpers call the system directly, not the program's file functions,
// so that a test of those can fail.
#ifdef _WIN32
namespace {
std::wstring wide(const std::string& utf8) { return platform::widenPath(utf8.c_str()); }
}  // namespace

TempDir::TempDir(const std::string& name) {
  wchar_t base[MAX_PATH + 1];
  GetTempPathW(MAX_PATH + 1, base);
  std::string utf8Base = platform::narrowPath(base);
  for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n) {
    char tag[32];
    snprintf(tag, sizeof tag, "keltest%08x", n);
    std::string dir = utf8Base + tag + name;
    if (CreateDirectoryW(wide(dir).c_str(), nullptr)) {
      path_ = dir + "\\";
      break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("no temp folder");
  }
}

TempDir::~TempDir() {
  WIN32_FIND_DATAW found;
  std::wstring dir = wide(path_);
  HANDLE h = FindFirstFileW((dir + L"*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileW((dir + found.cFileName).c_str());
    } while (FindNextFileW(h, &found));
    FindClose(h);
  }
  RemoveDirectoryW(dir.c_str());
}

bool fileExists(const std::string& path) {
  DWORD attributes = GetFileAttributesW(wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string readFile(const std::string& path) {
  std::string out;
  HANDLE f = CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return out;
  char chunk[4096];
  DWORD got = 0;
  while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) out.append(chunk, got);
  CloseHandle(f);
  return out;
}

void writeFile(const std::string& path, const std::string& text) {
  HANDLE f = CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot write " + path);
  DWORD put = 0;
  WriteFile(f, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
  CloseHandle(f);
}
#else
TempDir::TempDir(const std::string& name) {
  for (unsigned n = static_cast<unsigned>(getpid()) * 7919u;; ++n) {
    char tag[32];
    snprintf(tag, sizeof tag, "/tmp/keltest%08x", n ^ static_cast<unsigned>(time(nullptr)));
    std::string dir = tag + name;
    if (mkdir(dir.c_str(), 0700) == 0) {
      path_ = dir + "/";
      break;
    }
    if (errno != EEXIST) throw std::runtime_error("no temp folder");
  }
}

TempDir::~TempDir() {
  if (DIR* d = opendir(path_.c_str())) {
    while (dirent* e = readdir(d)) unlink((path_ + e->d_name).c_str());
    closedir(d);
  }
  rmdir(path_.c_str());
}

bool fileExists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string readFile(const std::string& path) {
  std::string out;
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return out;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) out.append(chunk, got);
  fclose(f);
  return out;
}

void writeFile(const std::string& path, const std::string& text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}
#endif

std::vector<std::string> fileLines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(readFile(path));
  std::string line;
  while (std::getline(in, line)) {
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}
