// libFuzzer target: a whole server side of a POP3 conversation, fed to the
// session over a socket pair. The first byte picks APOP and the rules.
#include "tests/fuzz/session_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 100000) return 0;
  KelPtr kel = session_feed::kelFor(data[0], [&](Account& a) { a.apop = data[0] & 1; });
  session_feed::converseTwice(*kel, data, size);
  return 0;
}
