#include "tests/unit/test_dir.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

TempDir::TempDir() {
#ifdef _WIN32
  char base[MAX_PATH];
  GetTempPathA(sizeof base, base);
  for (unsigned n = GetTickCount() ^ GetCurrentProcessId();; ++n) {
    char dir[MAX_PATH];
    snprintf(dir, sizeof dir, "%skeltest%08x", base, n);
    if (CreateDirectoryA(dir, nullptr)) {
      path_ = std::string(dir) + "\\";
      break;
    }
    if (GetLastError() != ERROR_ALREADY_EXISTS) throw std::runtime_error("no temp folder");
  }
#else
  char dir[] = "/tmp/keltestXXXXXX";
  if (!mkdtemp(dir)) throw std::runtime_error("no temp folder");
  path_ = std::string(dir) + "/";
#endif
}

TempDir::~TempDir() {
#ifdef _WIN32
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA((path_ + "*").c_str(), &found);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA((path_ + found.cFileName).c_str());
    } while (FindNextFileA(h, &found));
    FindClose(h);
  }
  RemoveDirectoryA(path_.c_str());
#else
  if (DIR* d = opendir(path_.c_str())) {
    while (dirent* e = readdir(d)) unlink((path_ + e->d_name).c_str());
    closedir(d);
  }
  rmdir(path_.c_str());
#endif
}

bool fileExists(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return static_cast<bool>(in);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

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
