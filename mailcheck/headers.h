// From, Subject and To of one TOP reply, decoded from MIME encoded words and
// ISO-2022-JP into Shift-JIS.
#pragma once

#include <cstddef>

constexpr size_t kHeaderCapacity = 1024;
constexpr size_t kRawHeaderLimit = 1001;
extern const char* const kDecodeFailed;  // "デコード失敗"

struct MessageHeaders {
  char senderAddress[512];
  char senderName[512];
  char subject[1024];
  char to[1024];
};

// `response` is the whole NUL-terminated TOP reply, status line first.
void extractHeaders(const char* response, MessageHeaders& out);
// Writes at most `capacity` bytes, the NUL included. False when an encoded
// word could not be decoded.
bool decodeHeaderText(const char* raw, char* out, size_t capacity);
// `word` points at the "=?" of one encoded word.
bool decodeEncodedWord(const char* word, char* out, size_t capacity);
// Output holds at most strlen(in) + 2 bytes, the NUL included; `capacity`
// bounds it further.
void jisToShiftJis(const char* in, char* out, size_t capacity);
bool lineStartsWith(const char* name, const char* line);
