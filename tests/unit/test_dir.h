// A fresh folder per test, in the form the program uses for moduleDir (a
// UTF-8 path ending in its separator), and small file helpers over such paths.
#pragma once

#include <string>
#include <vector>

class TempDir {
 public:
  // `name` (UTF-8) goes into the folder's name, e.g. letters Shift-JIS lacks.
  explicit TempDir(const std::string& name = "");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

bool fileExists(const std::string& path);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);
// The file's non-blank lines, without line ends.
std::vector<std::string> fileLines(const std::string& path);
