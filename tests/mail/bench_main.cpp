// Seconds for one check of the bench1000 and bench5000 mailboxes
// (tools/bench.sh starts the server).
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "mailcheck/pop3_session.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "tests/mail/mail_test_support.h"

namespace {
void quiet(const char*) {}
}  // namespace

int main() {
  platform::netStartup();
  platform::setTraceSink(quiet);
  int port = envPort("KEL_POP3_PORT");
  if (!port) {
    fprintf(stderr, "KEL_POP3_PORT is not set: run tools/bench.sh\n");
    return 1;
  }
#ifdef _WIN32
  const char* build = "windows (Wine)";
#else
  const char* build = "native";
#endif
  for (int n : {1000, 5000}) {
    char user[32];
    snprintf(user, sizeof user, "bench%d", n);
    auto kel = kelWithAccount("127.0.0.1", port, user, "bench");
    auto start = std::chrono::steady_clock::now();
    int rc = checkAccount(*kel);
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    printf("%s: %d messages: %.2f s per check, %.0f messages/s (rc %d, count %d)\n", build, n, s,
           n / s, rc, kel->results[0].count);
  }
  return 0;
}
