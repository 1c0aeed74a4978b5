// What the TOP reply reader promises its kept text reads as: the whole reply
// with each kept header (the status line, From, Subject and To, with the
// lines their parsers read on into) that is longer than the cap cut to its
// first `cap` bytes, its line end kept. Built from the whole reply at once,
// to check the streamed reader against.
#pragma once

#include <cstring>
#include <string>

namespace kept_headers {

inline bool blank(char c) { return c == ' ' || c == '\t'; }

// A kept header that begins at `start` runs up to the first line that
// follows a CR LF (its CR not right after an LF) and begins with a byte
// other than a blank, or to the end.
inline size_t headerEnd(const std::string& s, size_t start) {
  for (size_t p = start + 2; p < s.size(); ++p)
    if (s[p - 2] == '\r' && s[p - 1] == '\n' && (p < 3 || s[p - 3] != '\n') && !blank(s[p])) return p;
  return s.size();
}

inline bool keptName(const std::string& s, size_t at) {
  for (const char* name : {"From:", "Subject:", "To:"})
    if (s.compare(at, strlen(name), name) == 0) return true;
  return false;
}

}  // namespace kept_headers

inline std::string cutKeptHeaders(const std::string& s, size_t cap) {
  using namespace kept_headers;
  std::string out;
  bool inHeaders = true;  // no empty line yet: headers still begin
  size_t start = 0;       // a kept header begins here: the status line first
  for (;;) {
    size_t end = headerEnd(s, start);
    size_t kept = end - start > cap ? start + cap : end;
    for (size_t k = start; k < kept; ++k) {  // an empty line within ends the headers
      if (s[k] != '\r') continue;
      size_t line = k + 1 < kept && s[k + 1] == '\n' ? k + 2 : k + 1;
      if (line < kept && s[line] == '\r') inHeaders = false;
    }
    out.append(s, start, kept - start);
    if (kept < end) {  // the line end, never an empty line nor a CR after an LF
      char last = s[kept - 1];
      out += last == '\r' ? "\n \r\n" : last == '\n' ? " \r\n" : "\r\n";
    }
    // The lines up to the next kept header stay as they are.
    size_t line = end;
    for (;;) {
      if (line >= s.size()) return out;
      if (inHeaders && s[line] == '\r') inHeaders = false;
      if (inHeaders && keptName(s, line)) break;
      size_t cr = s.find('\r', line);
      size_t next = cr == std::string::npos ? s.size() : cr + 1 < s.size() && s[cr + 1] == '\n' ? cr + 2 : cr + 1;
      out.append(s, line, next - line);
      line = next;
    }
    start = line;
  }
}
