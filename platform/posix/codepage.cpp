// Code-page conversion for the native build, held to what the windows build
// gets from MultiByteToWideChar and WideCharToMultiByte: iconv's CP932
// (Microsoft's table) for the double-byte codes, and the system's rules for
// what it cannot map. Invalid UTF-8 is replaced as Wine does it, one U+FFFD
// per broken sequence. The other code pages are read through iconv's table
// of the same name.
#include "platform/codepage.h"

#include <iconv.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/bytes.h"
#include "platform/shift_jis.h"

namespace platform {
namespace {

constexpr uint16_t kUnmappedPair = 0x30FB;  // what the system reads for a double-byte code it lacks
constexpr uint16_t kReplacement = 0xFFFD;
constexpr char kDefaultChar = '?';

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // The whole of in[0..n), or false; *written gets the bytes made.
  bool convert(const char* in, size_t n, char* out, size_t room, size_t* written) const {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char* ip = const_cast<char*>(in);
    char* op = out;
    size_t il = n, ol = room;
    if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return false;
    *written = room - ol;
    return true;
  }

 private:
  iconv_t cd_;
};

// The single bytes of code page 932 that are no lead byte. glibc lacks the
// five that Windows maps into U+0080 and the private use area.
uint16_t singleByte(uint8_t b) {
  if (b <= 0x80) return b;
  if (b == 0xA0) return 0xF8F0;
  if (b >= 0xFD) return static_cast<uint16_t>(0xF8F1 + (b - 0xFD));
  return static_cast<uint16_t>(0xFF61 + (b - 0xA1));  // half-width katakana
}

uint16_t pairToUnit(const Converter& toWide, uint8_t lead, uint8_t trail) {
  char in[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  unsigned char w[8];
  size_t n = 0;
  if (!toWide.convert(in, 2, reinterpret_cast<char*>(w), sizeof w, &n) || n != 2) {
    return kUnmappedPair;
  }
  return readLe16(w);
}

// Code page 932 as the system reads it: a lead byte takes the next byte as
// its trail whatever it is, except the NUL.
void decodeCp932(const Converter& toWide, const uint8_t* s, std::vector<uint16_t>& wide) {
  for (;; ++s) {
    if (isLeadByte(*s)) {
      if (s[1] == 0) {
        wide.push_back(kUnmappedPair);
        continue;
      }
      wide.push_back(pairToUnit(toWide, s[0], s[1]));
      ++s;
      continue;
    }
    wide.push_back(singleByte(*s));
    if (*s == 0) return;
  }
}

// One sequence from its lead byte `ch` on (already consumed); *s moves over
// the bytes that belong to it. Returns the code point, or ~0u when broken.
uint32_t decodeUtf8Char(uint8_t ch, const uint8_t** s, const uint8_t* end) {
  unsigned len = ch < 0xC2 ? 0 : ch < 0xE0 ? 1 : ch < 0xF0 ? 2 : ch < 0xF5 ? 3 : 0;
  static const uint8_t mask[4] = {0x7F, 0x1F, 0x0F, 0x07};
  uint32_t res = ch & mask[len];
  const uint8_t* last = *s + len;
  if (last > end) {  // cut short by the end: the rest belongs to it
    *s = end;
    return ~0u;
  }
  uint8_t c;
  switch (len) {
    case 3:
      if ((c = last[-3] ^ 0x80) >= 0x40) break;
      res = (res << 6) | c;
      ++*s;
      if (res < 0x10) break;  // overlong
      [[fallthrough]];
    case 2:
      if ((c = last[-2] ^ 0x80) >= 0x40) break;
      res = (res << 6) | c;
      if (res >= (0x110000 >> 6)) break;
      ++*s;
      if (res < 0x20) break;                                    // overlong
      if (res >= (0xD800 >> 6) && res <= (0xDFFF >> 6)) break;  // surrogate
      [[fallthrough]];
    case 1:
      if ((c = last[-1] ^ 0x80) >= 0x40) break;
      res = (res << 6) | c;
      ++*s;
      if (res < 0x80) break;  // overlong
      return res;
    default:
      break;
  }
  return ~0u;
}

// iconv's name for a code page of the charset table, or null.
const char* iconvName(CodePage cp) {
  switch (cp) {
    case 20932: return "EUC-JP";
    case 28591: return "ISO-8859-1";
    case 28592: return "ISO-8859-2";
    case 28593: return "ISO-8859-3";
    case 28594: return "ISO-8859-4";
    case 28595: return "ISO-8859-5";
    case 28596: return "ISO-8859-6";
    case 28597: return "ISO-8859-7";
    case 28598: return "ISO-8859-8";
    case 28599: return "ISO-8859-9";
    case 28603: return "ISO-8859-13";
    case 28605: return "ISO-8859-15";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 20127: return "ASCII";
    case 936: return "CP936";
    case 54936: return "GB18030";
    case 950: return "CP950";
    case 949: return "CP949";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    default: return nullptr;
  }
}

// bytes[0..n) through `toWide`. A byte iconv cannot read becomes U+FFFD,
// which code page 932 lacks, so it shows as the default char.
void decodeWith(const Converter& toWide, const uint8_t* s, size_t n, std::vector<uint16_t>& wide) {
  size_t i = 0;
  while (i < n) {
    // One character at a time, so that a bad byte costs only itself.
    unsigned char w[8];
    size_t made = 0;
    size_t len = 1;
    while (len <= 4 && i + len <= n &&
           !toWide.convert(reinterpret_cast<const char*>(s + i), len, reinterpret_cast<char*>(w), sizeof w,
                           &made)) {
      ++len;
    }
    if (len > 4 || i + len > n) {
      wide.push_back(kReplacement);
      ++i;
      continue;
    }
    for (size_t k = 0; k + 1 < made; k += 2) wide.push_back(readLe16(w + k));
    i += len;
  }
}

void decodeUtf8(const uint8_t* s, size_t n, std::vector<uint16_t>& wide) {
  const uint8_t* end = s + n;
  while (s < end) {
    uint8_t ch = *s++;
    if (ch < 0x80) {
      wide.push_back(ch);
      continue;
    }
    uint32_t cp = decodeUtf8Char(ch, &s, end);
    if (cp <= 0xFFFF) {
      wide.push_back(static_cast<uint16_t>(cp));
    } else if (cp <= 0x10FFFF) {
      cp -= 0x10000;
      wide.push_back(static_cast<uint16_t>(0xD800 | (cp >> 10)));
      wide.push_back(static_cast<uint16_t>(0xDC00 | (cp & 0x3FF)));
    } else {
      wide.push_back(kReplacement);
    }
  }
}

// What code page 932 reads back for bytes[0..n).
uint16_t readBack(const Converter& toWide, const unsigned char* bytes, size_t n) {
  if (n == 1) return isLeadByte(bytes[0]) ? kUnmappedPair : singleByte(bytes[0]);
  return pairToUnit(toWide, bytes[0], bytes[1]);
}

// One UTF-16 unit in code page 932. Only a mapping that reads back as the
// same unit counts (WC_NO_BEST_FIT_CHARS); anything else is the default char.
size_t encodeUnit(const Converter& toWide, const Converter& fromWide, uint16_t u,
                  unsigned char* out) {
  if (u <= 0x80) {
    out[0] = static_cast<unsigned char>(u);
    return 1;
  }
  if (u >= 0xD800 && u <= 0xDFFF) {  // each half of a pair on its own
    out[0] = kDefaultChar;
    return 1;
  }
  char in[2] = {static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
  size_t n = 0;
  if (u >= 0xF8F0 && u <= 0xF8F3) {
    out[0] = u == 0xF8F0 ? 0xA0 : static_cast<unsigned char>(0xFD + (u - 0xF8F1));
    n = 1;
  } else if (!fromWide.convert(in, 2, reinterpret_cast<char*>(out), 2, &n) || n == 0) {
    n = 0;
  }
  if (n == 0 || readBack(toWide, out, n) != u) {
    out[0] = kDefaultChar;
    return 1;
  }
  return n;
}

void appendUtf8(uint32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

}  // namespace

std::string toUtf8(const char* shiftJis) {
  Converter toWide("UTF-16LE", "CP932");
  std::string out;
  if (!toWide.ok()) return shiftJis;
  std::vector<uint16_t> wide;
  decodeCp932(toWide, reinterpret_cast<const uint8_t*>(shiftJis), wide);
  for (uint16_t u : wide)
    if (u != 0) appendUtf8(u, out);  // code page 932 has no pairs
  return out;
}

size_t toDisplayCodePage(CodePage from, const char* in, char* out, size_t capacity) {
  if (capacity == 0) return 0;
  out[0] = '\0';
  if (capacity < 2) return 0;
  size_t limit = capacity - 1;
  Converter toWide("UTF-16LE", "CP932");
  Converter fromWide("CP932", "UTF-16LE");
  if (!toWide.ok() || !fromWide.ok()) return 0;

  std::vector<uint16_t> wide;
  const uint8_t* s = reinterpret_cast<const uint8_t*>(in);
  size_t n = 0;
  while (s[n]) ++n;
  const char* name = iconvName(from);
  std::unique_ptr<Converter> other;
  if (name) other = std::make_unique<Converter>("UTF-16LE", name);
  if (from == kUtf8) {
    decodeUtf8(s, n + 1, wide);
  } else if (other && other->ok()) {
    decodeWith(*other, s, n, wide);
  } else {  // Shift-JIS, or a code page iconv cannot open
    decodeCp932(toWide, s, wide);
  }
  if (wide.empty() || wide.back() != 0) wide.push_back(0);
  if (wide.size() > limit) return 0;

  size_t written = 0;
  for (uint16_t u : wide) {
    unsigned char bytes[2];
    size_t n = encodeUnit(toWide, fromWide, u, bytes);
    if (written + n > limit) {
      out[0] = '\0';
      return 0;
    }
    for (size_t i = 0; i < n; ++i) out[written++] = static_cast<char>(bytes[i]);
  }
  return written;
}

}  // namespace platform
