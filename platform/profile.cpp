// The INI reader and writer of both builds. The file is read and written
// whole as bytes, so Shift-JIS stays Shift-JIS whatever the system's code
// page; the layout written is the one WritePrivateProfileStringA writes.
#include "platform/profile.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/shift_jis.h"

namespace platform {

bool profileBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f' || c == '\x1a';
}

namespace {

struct Key {
  std::string name;
  std::string value;
  bool hasValue;  // a line without '=' is kept as a name alone
};

// The first section has no name: the lines before any header.
struct Section {
  std::string name;
  std::vector<Key> keys;
};

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && profileBlank(s[b])) ++b;
  while (e > b && profileBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string skipLeadingBlanks(const char* s) {
  while (*s && profileBlank(*s)) ++s;
  return s;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Letters fold only where they are characters of their own: the second
// byte of a Shift-JIS character may look like a letter.
bool sameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (isLeadByte(static_cast<unsigned char>(a[i])) && i + 1 < a.size()) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
      ++i;
    } else if (lower(a[i]) != lower(b[i])) {
      return false;
    }
  }
  return true;
}

std::vector<Section> parse(const std::string& text) {
  std::vector<Section> out(1);
  const Key* prev = nullptr;
  size_t next = 0;
  while (next < text.size()) {
    size_t nl = text.find('\n', next);
    size_t end = nl == std::string::npos ? text.size() : nl;
    // A line's text ends at a NUL byte, as any string read from it would;
    // trimmed after that cut, a value reads back the same once written.
    std::string line = text.substr(next, end - next);
    line = trim(line.substr(0, line.find('\0')));
    next = nl == std::string::npos ? text.size() : nl + 1;
    if (line.empty()) continue;
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close != std::string::npos) {
        out.push_back(Section{line.substr(1, close - 1), {}});
        prev = nullptr;
        continue;
      }
    }
    Key key{line, "", false};
    size_t eq = line.find('=');
    if (eq != std::string::npos) key = Key{trim(line.substr(0, eq)), trim(line.substr(eq + 1)), true};
    // A run of nameless lines keeps only its first.
    if (key.name.empty() && prev && prev->name.empty()) continue;
    out.back().keys.push_back(key);
    prev = &out.back().keys.back();
  }
  return out;
}

// As the system writes it: one line a header or key, no blank lines.
std::string render(const std::vector<Section>& sections) {
  std::string out;
  for (const Section& s : sections) {
    if (!s.name.empty()) out += '[' + s.name + "]\r\n";
    for (const Key& k : s.keys) {
      out += k.name;
      if (k.hasValue) out += '=' + k.value;
      out += "\r\n";
    }
  }
  return out;
}

// Only the first section of a name counts, for reading and for writing.
Section* findSection(std::vector<Section>& sections, const char* name) {
  std::string wanted = trim(name);
  for (Section& s : sections)
    if (!s.name.empty() && sameName(s.name, wanted)) return &s;
  return nullptr;
}

Key* findKey(Section& section, const char* name) {
  std::string wanted = trim(name);
  for (Key& k : section.keys)
    if (sameName(k.name, wanted)) return &k;
  return nullptr;
}

}  // namespace

uint32_t profileGetString(const char* section, const char* key, const char* def, char* buf,
                          uint32_t size, const char* path) {
  if (size == 0) return 0;
  std::string text;
  readWholeFile(path, text);  // unreadable reads as missing: the default
  std::vector<Section> sections = parse(text);
  Section* s = findSection(sections, section);
  Key* k = s ? findKey(*s, key) : nullptr;
  std::string value = k && k->hasValue ? k->value : trim(def ? def : "");
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
  if (!section || !key || !value) return false;
  std::string text;
  // A file that is there but cannot be read is not written over.
  if (readWholeFile(path, text) == FileRead::kFailed) return false;
  std::vector<Section> sections = parse(text);
  Section* s = findSection(sections, section);
  if (!s) {
    sections.push_back(Section{skipLeadingBlanks(section), {}});
    s = &sections.back();
  }
  std::string v = skipLeadingBlanks(value);
  Key* k = findKey(*s, key);
  if (k && k->hasValue && k->value == v) return true;  // as the system does: no write
  if (!k) {
    s->keys.push_back(Key{skipLeadingBlanks(key), "", false});
    k = &s->keys.back();
  }
  k->value = v;
  k->hasValue = true;
  return writeWholeFile(path, render(sections));
}

}  // namespace platform
