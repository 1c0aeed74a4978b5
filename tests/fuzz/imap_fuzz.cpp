// libFuzzer target: a whole server side of an IMAP conversation, fed to the
// session (and its response reader) over a socket pair. The first byte
// picks the rules and whether the server's key is pinned.
#include "tests/fuzz/session_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 100000) return 0;
  KelPtr kel = session_feed::kelFor(data[0], [&](Account& a) {
    a.protocol = kProtocolImap;
    if (data[0] & 1) strcpy(a.pin, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
  });
  session_feed::converseTwice(*kel, data, size);
  return 0;
}
