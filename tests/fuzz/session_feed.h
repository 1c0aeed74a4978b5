// The session fuzz targets' set-up: the input after its first byte is the
// server's side of a conversation, fed to a session over a socket pair.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "app/application.h"
#include "mailcheck/pop3/pop3_session.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "tests/support/kel_fixture.h"

namespace session_feed {

// The server's side, written ahead into one end of a socket pair; the
// other end for the session, or -1.
inline int replies(const uint8_t* data, size_t size, int* server) {
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

// One account, set further by `account`; bits 1 and 2 of the first byte
// add a delete and an ignore rule.
template <class F>
KelPtr kelFor(uint8_t first, F account) {
  platform::setTraceSink([](const char*) {});
  platform::netStartup();
  KelPtr kel = newKel();
  Account& a = kel->accounts[0];
  strcpy(a.mailaddr, "taro@example.jp");
  strcpy(a.user, "taro");
  strcpy(a.pass, "tanstaaf");
  account(a);
  FilterRule del{}, ign{};
  strcpy(del.keyword, "spam");
  del.kind = 1;
  strcpy(ign.keyword, "news");
  ign.kind = 4;
  if (first & 2) kel->deleteList[0] = new FilterRule(del);
  if (first & 4) kel->ignoreList[0] = new FilterRule(ign);
  return kel;
}

// Twice: the second session meets what the first left in the header cache.
inline void converseTwice(Kel& kel, const uint8_t* data, size_t size) {
  for (int pass = 0; pass < 2; ++pass) {
    int server;
    int sock = replies(data, size, &server);
    if (sock < 0) return;
    SessionTask task(kel, 0);
    task.connection.sock = sock;
    runSessionOnConnection(task);  // closes sock
    close(server);
  }
}

}  // namespace session_feed
