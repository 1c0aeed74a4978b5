// libFuzzer target: one TOP reply through header extraction, decoding and
// the filter rules, into a check result.
#include <cstdint>
#include <cstring>
#include <string>

#include "app/application.h"
#include "mailcheck/filter.h"

namespace {
Kel* kelWithRules() {
  Kel* k = new Kel();
  const char* keywords[] = {"spam@example.com", "example", "山田", "田", "=?", "メルマガ"};
  for (int kind = 0; kind < 6; ++kind) {
    FilterRule* r = new FilterRule{};
    strcpy(r->keyword, keywords[kind]);
    r->kind = static_cast<int8_t>(kind);
    (kind % 2 ? k->ignoreList : k->deleteList)[kind / 2] = r;
  }
  FilterRule* odd = new FilterRule{};
  strcpy(odd->keyword, "x");
  odd->kind = 42;  // an unknown kind from a hand-edited file
  k->ignoreList[3] = odd;
  return k;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Kel* kel = kelWithRules();
  if (size == 0) return 0;
  int slot = data[0] % 8;
  std::string reply(reinterpret_cast<const char*>(data) + 1, size - 1);
  MessageHeaders headers;
  extractHeaders(reply.c_str(), headers);
  analyseMessage(reply.c_str(), *kel, data[0] % 9, slot);
  return 0;
}
