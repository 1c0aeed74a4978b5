// INI reader and writer for the native build, held to the behaviour of the
// Windows profile functions that the windows build uses.
#include "platform/profile.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace platform {
namespace {

struct Section {
  std::string name;
  std::vector<std::pair<std::string, std::string>> keys;
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\x1a'; }

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && isBlank(s[b])) ++b;
  while (e > b && isBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::vector<Section> load(const char* path) {
  std::vector<Section> out;
  std::ifstream in(path, std::ios::binary);
  if (!in) return out;
  std::string line;
  while (std::getline(in, line)) {
    std::string t = trim(line);
    if (t.empty()) continue;
    if (t[0] == '[') {
      size_t close = t.find(']');
      std::string name = trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      out.push_back(Section{name, {}});
      continue;
    }
    if (out.empty()) continue;  // keys before any section belong to none
    size_t eq = t.find('=');
    if (eq == std::string::npos) {
      out.back().keys.emplace_back(t, "");
    } else {
      out.back().keys.emplace_back(trim(t.substr(0, eq)), trim(t.substr(eq + 1)));
    }
  }
  return out;
}

bool same(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

const std::string* find(const std::vector<Section>& secs, const char* section, const char* key) {
  for (const Section& s : secs) {
    if (!same(s.name, section)) continue;
    for (const auto& kv : s.keys)
      if (same(kv.first, key)) return &kv.second;
  }
  return nullptr;
}

}  // namespace

uint32_t profileGetString(const char* section, const char* key, const char* def, char* buf,
                          uint32_t size, const char* path) {
  if (size == 0) return 0;
  std::vector<Section> secs = load(path);
  const std::string* found = find(secs, section, key);
  std::string value = found ? *found : trim(def ? def : "");
  if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0])
    value = value.substr(1, value.size() - 2);
  size_t n = value.size() < size - 1 ? value.size() : size - 1;
  memcpy(buf, value.data(), n);
  buf[n] = '\0';
  return static_cast<uint32_t>(n);
}

int32_t profileGetInt(const char* section, const char* key, int32_t def, const char* path) {
  char buf[32];
  if (profileGetString(section, key, "", buf, sizeof buf, path) == 0) return def;
  const char* p = buf;
  bool negative = false;
  if (*p == '-' || *p == '+') negative = *p++ == '-';
  uint32_t v = 0;  // wraps like the system's reader
  for (; *p >= '0' && *p <= '9'; ++p) v = v * 10u + static_cast<uint32_t>(*p - '0');
  return static_cast<int32_t>(negative ? 0u - v : v);
}

bool profileWriteString(const char* section, const char* key, const char* value,
                        const char* path) {
  std::vector<Section> secs = load(path);
  Section* target = nullptr;
  for (Section& s : secs)
    if (same(s.name, section)) { target = &s; break; }
  if (!target) {
    secs.push_back(Section{section, {}});
    target = &secs.back();
  }
  bool replaced = false;
  for (auto& kv : target->keys)
    if (same(kv.first, key)) { kv.second = value; replaced = true; break; }
  if (!replaced) target->keys.emplace_back(key, value);

  std::ostringstream text;
  for (size_t i = 0; i < secs.size(); ++i) {
    if (i) text << "\r\n";
    text << '[' << secs[i].name << "]\r\n";
    for (const auto& kv : secs[i].keys) text << kv.first << '=' << kv.second << "\r\n";
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << text.str();
  return static_cast<bool>(out.flush());
}

bool deleteFile(const char* path) { return unlink(path) == 0 || errno == ENOENT; }

bool replaceFile(const char* from, const char* to) { return rename(from, to) == 0; }

}  // namespace platform
