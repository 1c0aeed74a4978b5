// From, Subject and To of one TOP reply: found, unfolded, unquoted and
// decoded into Shift-JIS. The reply comes from a server and may be hostile,
// so every read stops at the NUL and every write at the end of its buffer.
#include "mailcheck/headers.h"

#include <cstring>
#include <vector>

#include "mailcheck/charsets.h"
#include "platform/codepage.h"
#include "platform/hex.h"
#include "platform/shift_jis.h"

const char* const kDecodeFailed = "デコード失敗";

namespace {

constexpr size_t kCharsetLimit = 32;  // a charset name must be shorter than this

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// CR LF and a blank: the header goes on in the next line.
bool isFold(const char* p) { return p[0] == '\r' && p[1] == '\n' && isBlank(p[2]); }

bool endsHeader(const char* p) { return *p == '\0' || (*p == '\r' && !isFold(p)); }

void unquote(char* s) {
  size_t n = strlen(s);
  if (n >= 2 && s[0] == '"' && s[n - 1] == '"') {
    memmove(s, s + 1, n - 2);
    s[n - 2] = '\0';
  } else if (n >= 3 && s[0] == '"' && s[n - 2] == '"') {
    memmove(s, s + 1, n - 3);
    s[n - 3] = '\0';
  }
}

void decodeField(const char* raw, char* field, size_t size) {
  char decoded[kHeaderCapacity];
  if (!decodeHeaderText(raw, decoded, sizeof decoded)) strcpy(decoded, kDecodeFailed);
  platform::copyCut(field, decoded, size - 1);
}

// Each From line sets both sender fields, so a later one leaves nothing of
// an earlier one behind.
void parseFrom(const char* line, MessageHeaders& out) {
  out.senderName[0] = '\0';
  out.senderAddress[0] = '\0';
  const char* p = line + strlen("From:");
  for (;;) {
    if (*p == ' ') {
      ++p;
    } else if (isFold(p)) {  // the value may begin on a continuation line
      p += 3;
    } else {
      break;
    }
  }

  char raw[kRawHeaderLimit + 1];
  size_t n = 0;
  while (n < kRawHeaderLimit && *p != '<' && !endsHeader(p)) {
    if (*p == '\r') {
      p += 3;  // a fold: CR, LF and one blank
      continue;
    }
    raw[n++] = *p++;
  }
  raw[n] = '\0';

  if (endsHeader(p)) {  // no '<' at all: the whole value is the address
    platform::copyCut(out.senderAddress, raw, sizeof out.senderAddress - 1, platform::Cut::kAnyByte);
    return;
  }

  if (n > 0 && raw[n - 1] == ' ') raw[--n] = '\0';
  char name[kHeaderCapacity];
  if (!decodeHeaderText(raw, name, sizeof name)) strcpy(name, kDecodeFailed);
  unquote(name);
  platform::copyCut(out.senderName, name, sizeof out.senderName - 1);

  while (*p != '\0' && *p != '\r' && *p != '<') ++p;
  if (*p != '<') return;
  ++p;
  // Without its '>' the address runs to the line end.
  size_t a = 0;
  while (p[a] != '\0' && p[a] != '\r' && p[a] != '>' && a < sizeof out.senderAddress - 1) {
    out.senderAddress[a] = p[a];
    ++a;
  }
  out.senderAddress[a] = '\0';
}

// The value of a Subject or To line, unfolded, into raw (kRawHeaderLimit + 1
// bytes). Returns its length.
size_t collectValue(const char* afterColon, char* raw) {
  const char* p = afterColon;
  // The byte after the colon is skipped, but never the line end, so an
  // empty value cannot take text from the next header.
  if (*p != '\0' && *p != '\r') ++p;
  size_t n = 0;
  while (n < kRawHeaderLimit && *p != '\0') {
    if (*p == '\r') {
      if (p[1] == '\n' && !isBlank(p[2])) break;
      ++p;
    } else if (*p == '\n') {
      ++p;
      if (*p != '\0') ++p;  // the blank that marks the continuation
    } else {
      raw[n++] = *p++;
    }
  }
  raw[n] = '\0';
  return n;
}

void parseSubject(const char* line, MessageHeaders& out) {
  char raw[kRawHeaderLimit + 1];
  out.subject[0] = '\0';
  if (collectValue(line + strlen("Subject:"), raw) == 0) return;
  unquote(raw);
  decodeField(raw, out.subject, sizeof out.subject);
}

void parseTo(const char* line, MessageHeaders& out) {
  char raw[kRawHeaderLimit + 1];
  out.to[0] = '\0';
  if (collectValue(line + strlen("To:"), raw) == 0) return;
  decodeField(raw, out.to, sizeof out.to);
}

int base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Decodes into work[0..size), leaving room for the NUL.
bool decodeBase64(const char* t, char* work, size_t size, size_t* length) {
  size_t n = 0;
  while (*t != '?') {
    int v[4] = {0, 0, 0, 0};
    const char* pad = nullptr;
    for (int i = 0; i < 4; ++i) {
      if (t[i] == '=') {
        pad = t + i;
        break;
      }
      v[i] = base64Value(t[i]);
      if (v[i] < 0) return false;  // the NUL too: an unterminated word
    }
    char bytes[3] = {static_cast<char>((v[0] << 2) | (v[1] >> 4)),
                     static_cast<char>((v[1] << 4) | (v[2] >> 2)),
                     static_cast<char>((v[2] << 6) | v[3])};
    if (!pad) {
      if (n + 3 + 1 > size) return false;
      memcpy(work + n, bytes, 3);
      n += 3;
      t += 4;
      continue;
    }
    // Each '=' of the run takes one byte off, and decoding ends.
    size_t run = 0;
    while (pad[run] == '=') ++run;
    size_t total = n + 3 > run ? n + 3 - run : 0;
    if (total + 1 > size) return false;
    if (total > n) memcpy(work + n, bytes, total - n);
    n = total;
    break;
  }
  *length = n;
  return true;
}

bool decodeQuotedPrintable(const char* t, char* work, size_t size, size_t* length) {
  size_t n = 0;
  for (;;) {
    char c = *t;
    if (c == '\0') return false;
    if (c == '?' && t[1] == '=') break;
    if (c == '=') {
      int hi = platform::hexDigitValue(t[1]);
      if (hi < 0) return false;
      int lo = platform::hexDigitValue(t[2]);
      if (lo < 0) return false;
      c = static_cast<char>(hi * 16 + lo);
      t += 3;
    } else {
      ++t;
    }
    if (n + 1 + 1 > size) return false;
    work[n++] = c;
  }
  *length = n;
  return true;
}

// Where the encoded text of a word that decoded begins.
const char* encodedText(const char* word) { return strchr(word + 2, '?') + 3; }

}  // namespace

bool lineStartsWith(const char* name, const char* line) {
  for (; *name != '\0'; ++name, ++line) {
    if (*line == '\r' || *line == '\0' || *line != *name) return false;
  }
  return true;
}

void jisToShiftJis(const char* in, char* out, size_t capacity) {
  if (capacity == 0) return;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(in);
  size_t room = capacity - 1;
  size_t n = 0;
  bool kanji = false;
  while (*p != 0) {
    if (*p == 0x1B) {
      if (p[1] == 0 || p[2] == 0) break;
      if (p[1] == '$') {
        kanji = true;
      } else if (p[1] == '(') {
        kanji = false;
      }
      p += 3;
      continue;
    }
    if (kanji) {
      unsigned j1 = p[0], j2 = p[1];
      if (n + 2 > room) break;  // never half a character
      out[n++] = static_cast<char>(((j1 + 1) >> 1) + (j1 < 0x5F ? 0x70 : 0xB0));
      out[n++] = static_cast<char>(j1 & 1 ? j2 + 0x1F + (j2 >= 0x60 ? 1 : 0) : j2 + 0x7E);
      if (j2 == 0) break;
      p += 2;
      continue;
    }
    if (n + 1 > room) break;
    out[n++] = static_cast<char>(*p++);
  }
  out[n] = '\0';
}

bool decodeEncodedWord(const char* word, char* out, size_t capacity) {
  if (capacity == 0) return false;
  out[0] = '\0';
  if (word[0] != '=' || word[1] != '?') return false;
  const char* name = word + 2;
  size_t nameLength = 0;
  for (;; ++nameLength) {
    if (name[nameLength] == '?') break;
    if (name[nameLength] == '\0' || nameLength == kCharsetLimit - 1) return false;
  }
  char charset[kCharsetLimit];
  memcpy(charset, name, nameLength);
  charset[nameLength] = '\0';

  const char* q = name + nameLength;
  bool base64 = q[1] == 'B' || q[1] == 'b';
  if (!base64 && q[1] != 'Q' && q[1] != 'q') return false;
  if (q[2] == '\0') return false;  // the word ends before its text
  const char* text = q + 3;

  std::vector<char> work(capacity);
  size_t length = 0;
  bool decoded = base64 ? decodeBase64(text, work.data(), capacity, &length)
                        : decodeQuotedPrintable(text, work.data(), capacity, &length);
  if (!decoded) return false;
  work[length] = '\0';

  if (sameCharsetName(charset, "iso-2022-jp")) {
    jisToShiftJis(work.data(), out, capacity);
    return true;
  }
  return platform::toDisplayCodePage(codePageOfCharset(charset), work.data(), out, capacity) != 0;
}

bool decodeHeaderText(const char* raw, char* out, size_t capacity) {
  if (capacity == 0) return false;
  size_t used = 0;
  const char* s = raw;
  out[0] = '\0';
  while (*s != '\0') {
    const char* word = strstr(s, "=?");
    if (!word || !strstr(word + 1, "?=")) {
      jisToShiftJis(s, out + used, capacity - used);
      return true;
    }
    // The bytes before a word, the blanks between two words among them,
    // are copied as they are; a text too long for out is cut.
    size_t before = static_cast<size_t>(word - s);
    size_t room = capacity - 1 - used;
    if (before > room) {
      memcpy(out + used, s, room);
      out[used + room] = '\0';
      return true;
    }
    memcpy(out + used, s, before);
    used += before;
    out[used] = '\0';
    if (!decodeEncodedWord(word, out + used, capacity - used)) return false;
    used += strlen(out + used);
    // The end is searched from the encoded text on: "?Q?=E3" holds a "?=".
    const char* end = strstr(encodedText(word), "?=");
    if (!end) return true;
    s = end + 2;
  }
  out[used] = '\0';
  return true;
}

void extractHeaders(const char* response, MessageHeaders& out) {
  out.senderAddress[0] = '\0';
  out.senderName[0] = '\0';
  out.subject[0] = '\0';
  out.to[0] = '\0';
  if (!response || response[0] == '\r') return;
  const char* p = response;
  for (;;) {
    p = strchr(p, '\r');
    if (!p) return;
    ++p;
    if (*p == '\n') ++p;
    if (*p == '\r' || *p == '\0') return;  // the header block is over
    if (lineStartsWith("From:", p)) {
      parseFrom(p, out);
    } else if (lineStartsWith("Subject:", p)) {
      parseSubject(p, out);
    } else if (lineStartsWith("To:", p)) {
      parseTo(p, out);
    }
  }
}
