#include "mailcheck/failure_reason.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <new>
#include <string>

#include "platform/codepage.h"
#include "platform/shift_jis.h"

const char kReasonKeyChanged[] = "サーバの鍵が登録と違います";
const char kReasonSilent[] = "20.5秒応答がありません";
const char kReasonTooLong[] = "300秒で終わりませんでした";
const char kReasonNoThread[] = "スレッドを作成できません";
const char kReasonNoMemory[] = "メモリが足りません";

namespace {

bool isControl(unsigned char b) { return b < 0x20 || b == 0x7F; }

// The code point of the well-formed UTF-8 sequence at s[0, n), and its
// length in *size; -1 when the bytes there are no such sequence.
long utf8At(const unsigned char* s, size_t n, size_t* size) {
  unsigned char b = s[0];
  if (b < 0x80) {
    *size = 1;
    return b;
  }
  size_t len = b >= 0xC2 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF4 ? 4 : 0;
  if (len == 0 || len > n) return -1;
  long cp = b & (0x7F >> len);
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (s[i] & 0x3F);
  }
  static const long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  *size = len;
  return cp;
}

bool isUtf8(const unsigned char* s, size_t n) {
  for (size_t i = 0, size = 0; i < n; i += size)
    if (utf8At(s + i, n - i, &size) < 0) return false;
  return true;
}

bool isShiftJis(const unsigned char* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    unsigned char b = s[i];
    if (platform::isLeadByte(b)) {
      if (i + 1 == n) return false;
      unsigned char t = s[++i];
      if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
    } else if (b >= 0x80 && (b < 0xA1 || b > 0xDF)) {
      return false;
    }
  }
  return true;
}

// UTF-8 in code page 932. Enough characters are taken for any cut: none
// gives fewer than one byte. A character beyond 16 bits is replaced before
// the conversion, so that it costs one '?' on every system, and so is a C1
// control, which code page 932 would keep as a byte.
std::string fromUtf8(const unsigned char* s, size_t n) {
  std::string kept;
  size_t chars = 0;
  for (size_t i = 0, size = 0; i < n && chars <= kReasonBytes; i += size, ++chars) {
    long cp = utf8At(s + i, n - i, &size);
    if (cp > 0xFFFF || (cp >= 0x80 && cp <= 0x9F))
      kept += '?';
    else
      kept.append(reinterpret_cast<const char*>(s + i), size);
  }
  std::string out(kept.size() + 2, '\0');  // never longer, with its NUL and the room the call keeps
  size_t written = platform::toDisplayCodePage(platform::kUtf8, kept.c_str(), &out[0], out.size());
  out.resize(written > 0 ? written - 1 : 0);
  return out;
}

void formatReason(Reason& out, const char* format, ...) __attribute__((format(printf, 2, 3)));
void formatReason(Reason& out, const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';
  fixedReason(text, out);
}

}  // namespace

void fixedReason(const char* text, Reason& out) { platform::copyCut(out, text, kReasonBytes); }

void replyReason(const char* line, size_t length, Reason& out) {
  if (length >= 2 && line[length - 2] == '\r' && line[length - 1] == '\n') length -= 2;
  std::string bytes(line, length);
  for (char& c : bytes)
    if (isControl(static_cast<unsigned char>(c))) c = '?';
  const unsigned char* s = reinterpret_cast<const unsigned char*>(bytes.data());
  if (isUtf8(s, bytes.size())) {
    bytes = fromUtf8(s, bytes.size());
  } else if (!isShiftJis(s, bytes.size())) {
    for (char& c : bytes)
      if (static_cast<unsigned char>(c) > 0x7E) c = '?';
  }
  fixedReason(bytes.c_str(), out);
}

void linkReason(ErrorCode what, const LinkFailure& f, Reason& out) {
  switch (what) {
    case kErrorNameNotFound: formatReason(out, "名前解決に失敗 (%d)", f.systemError); break;
    case kErrorConnectFailed: formatReason(out, "接続できません %s:%d (%d)", f.address, f.port, f.systemError); break;
    case kErrorTlsFailed: formatReason(out, "TLS: %s", f.tls); break;
    case kErrorSendFailed: formatReason(out, "送信に失敗 (%d)", f.systemError); break;
    case kErrorReceiveFailed:
      if (f.peerClosed)
        fixedReason("サーバが接続を切りました", out);
      else
        formatReason(out, "受信に失敗 (%d)", f.systemError);
      break;
    default: out[0] = '\0';
  }
}

void exceptionReason(Reason& out) noexcept {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    fixedReason(kReasonNoMemory, out);
  } catch (const std::exception& e) {
    formatReason(out, "内部エラー: %s", e.what());
  } catch (...) {
    fixedReason("内部エラー", out);
  }
}
