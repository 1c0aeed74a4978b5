// libFuzzer target: a whole server side of an IMAP conversation, fed to the
// session (and its response reader) over a socket pair. The first byte
// picks the rules and whether the server's key is pinned.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "app/application.h"
#include "mailcheck/pop3_session.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "tests/support/kel_fixture.h"

namespace {
void quiet(const char*) {}

// The server's side, written ahead into one end of a socket pair; the
// other end for the session, or -1.
int replies(const uint8_t* data, size_t size, int* server) {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return -1;
  int big = 1 << 20;
  setsockopt(fds[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
  size_t done = 1;
  while (done < size) {
    ssize_t n = write(fds[0], data + done, size - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  shutdown(fds[0], SHUT_WR);
  *server = fds[0];
  return fds[1];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 100000) return 0;
  platform::setTraceSink(quiet);
  platform::netStartup();

  KelPtr kel = newKel();
  Account& a = kel->accounts[0];
  strcpy(a.mailaddr, "taro@example.jp");
  strcpy(a.user, "taro");
  strcpy(a.pass, "tanstaaf");
  a.protocol = kProtocolImap;
  if (data[0] & 1) strcpy(a.pin, "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
  FilterRule del{}, ign{};
  strcpy(del.keyword, "spam");
  del.kind = 1;
  strcpy(ign.keyword, "news");
  ign.kind = 4;
  if (data[0] & 2) kel->deleteList[0] = new FilterRule(del);
  if (data[0] & 4) kel->ignoreList[0] = new FilterRule(ign);
  // Twice: the second session meets what the first left in the header cache.
  for (int pass = 0; pass < 2; ++pass) {
    int server;
    int sock = replies(data, size, &server);
    if (sock < 0) return 0;
    SessionTask task(*kel, 0);
    task.connection.sock = sock;
    runSessionOnConnection(task);  // closes sock
    close(server);
  }
  return 0;
}
