// libFuzzer target: one TOP reply through header extraction, decoding and
// the filter rules, into a check result; and the same reply streamed
// through the reader that keeps only what the analysis reads, with a cap
// small enough to be reached: its kept text must be analysed as the whole
// reply with each kept header past the cap cut to the cap.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/application.h"
#include "mailcheck/filter.h"
#include "mailcheck/top_reply.h"
#include "tests/support/kel_fixture.h"
#include "tests/support/kept_headers.h"

namespace {
KelPtr kelWithRules() {
  static const char* const keywords[6] = {"spam@example.com", "example", "山田", "田", "=?", "メルマガ"};
  return kelWithOneRuleOfEachKind(keywords, /*withUnknown=*/true);
}

void compareStreamed(const std::string& input, size_t cap, size_t chunk, const Kel& kel) {
  size_t status = input.find("\r\n");
  std::string reply = status == std::string::npos ? "+OK\r\n" + input : input;
  size_t statusLength = status == std::string::npos ? 5 : status + 2;
  reply += "\r\n.\r\n";  // ends it if nothing before does
  reply.resize(reply.find("\r\n.\r\n", statusLength - 2) + 5);

  TopReplyReader reader(cap);
  reader.start(reply.data(), statusLength);
  size_t at = statusLength;
  while (!reader.complete() && at < reply.size()) {
    size_t n = reply.size() - at < chunk ? reply.size() - at : chunk;
    at += reader.feed(reply.data() + at, n);
  }
  if (!reader.complete() || at != reply.size()) abort();  // stopped anywhere but at the end
  std::string promised = cutKeptHeaders(reply, cap);
  // Nothing cut: the same reply, as far as the analysis reads (its first NUL).
  if (!reader.truncated() && promised.substr(0, promised.find('\0')) != reply.substr(0, reply.find('\0'))) abort();
  Judgement whole = judgeMessage(promised.c_str(), kel);
  Judgement kept = judgeMessage(reader.text(), kel);
  if (whole.list != kept.list || memcmp(whole.line.bytes, kept.line.bytes, sizeof whole.line.bytes) != 0) {
    fprintf(stderr, "streamed reply judged otherwise\n");
    abort();
  }
  MessageHeaders a, b;
  extractHeaders(promised.c_str(), a);
  extractHeaders(reader.text(), b);
  if (strcmp(a.senderAddress, b.senderAddress) || strcmp(a.senderName, b.senderName) ||
      strcmp(a.subject, b.subject) || strcmp(a.to, b.to)) {
    fprintf(stderr, "streamed reply decoded otherwise\n");
    abort();
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static KelPtr kel = kelWithRules();
  if (size < 2) return 0;
  int slot = data[0] % 8;
  std::string reply(reinterpret_cast<const char*>(data) + 2, size - 2);
  MessageHeaders headers;
  extractHeaders(reply.c_str(), headers);
  analyseMessage(reply.c_str(), *kel, data[0] % 9, slot);
  compareStreamed(reply, 24 + data[1] % 200, 1 + data[1] / 16, *kel);
  return 0;
}
