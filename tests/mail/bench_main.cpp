// Times checks of the bench mailboxes over loopback and over slow links
// (tools/bench.sh starts Dovecot and the delaying proxies). Each run also
// prints a "RESULT ..." line that bench.sh gathers into its table.
//
//   kel_bench [--baseline] [--cycle]
//   --baseline  also fetch one command at a time, as the comparison
//   --cycle     a 1,500-message check through the whole check pass, with its
//               real timing, on a link whose server lists no PIPELINING
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/application.h"
#include "mailcheck/check_cycle.h"
#include "mailcheck/pop3_session.h"
#include "notify/presence.h"
#include "platform/net.h"
#include "platform/trace.h"
#include "tests/mail/mail_test_support.h"

namespace {

#ifdef _WIN32
const char* const kBuild = "wine";
#else
const char* const kBuild = "native";
#endif

std::atomic<int> givenUp{0};
void quiet(const char* line) {
  if (strcmp(line, "スレッド強制終了！\n") == 0) ++givenUp;
}

double since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// "20=PORT,50=PORT" -> {(20, PORT), (50, PORT)}
std::vector<std::pair<int, int>> links(const char* name) {
  std::vector<std::pair<int, int>> out;
  const char* v = getenv(name);
  while (v && *v) {
    int rtt = 0, port = 0, used = 0;
    if (sscanf(v, "%d=%d%n", &rtt, &port, &used) != 2) break;
    out.emplace_back(rtt, port);
    v += used;
    if (*v == ',') ++v;
  }
  return out;
}

struct Outcome {
  double seconds;
  int rc;
  int count;
};

Outcome checkOnce(int port, int n, bool oneAtATime = false) {
  char user[32];
  snprintf(user, sizeof user, "bench%d", n);
  auto kel = kelWithAccount("127.0.0.1", port, user, "bench");
  SessionTask task(*kel, 0);
  if (oneAtATime) task.maxInFlight = 1;
  kel->sessionState = kSessionStarting;
  auto start = std::chrono::steady_clock::now();
  int rc = runSession(task);
  return {since(start), rc, kel->results[0].count};
}

void report(const char* link, int rtt, int n, const char* mode, const Outcome& o) {
  printf("%s: %s, %d messages, %s: %.2f s, %.0f messages/s (rc %d, count %d)\n", kBuild, link, n, mode,
         o.seconds, n / o.seconds, o.rc, o.count);
  printf("RESULT build=%s rtt=%d n=%d mode=%s seconds=%.3f rc=%d count=%d\n", kBuild, rtt, n, mode, o.seconds,
         o.rc, o.count);
  fflush(stdout);
}

void noSound(Kel&) {}
void noPopup(Kel&, bool) {}
void noText(Kel&, const char*, int, int) {}
void noTray(Kel&, TrayOutcome, int) {}
void noDestroy(HICON*) {}
void noPin(Kel&, const PinOffer&) {}
int present(Kel&) { return kUserAccepts; }
const CheckEffects kNoEffects = {noSound, noPopup, noText, noTray, noDestroy, noPin, present};

// One whole check pass on account 0, with the program's own timing.
void cyclePass(int rtt, int port, int n) {
  char user[32];
  snprintf(user, sizeof user, "bench%d", n);
  auto kel = kelWithAccount("127.0.0.1", port, user, "bench");
  kel->checkState = kRunning;
  givenUp = 0;
  auto start = std::chrono::steady_clock::now();
  runCheckCycle(*kel, kNoEffects, kCheckTiming);
  double s = since(start);
  int failed = kel->results[0].failed, count = kel->results[0].count;
  printf("%s: check pass, %d ms without PIPELINING, %d messages: %.1f s, %s (count %d)\n", kBuild, rtt, n, s,
         givenUp ? "given up" : failed ? "failed" : "completed", count);
  printf("RESULT build=%s rtt=%d n=%d mode=cycle seconds=%.3f rc=%d count=%d givenup=%d\n", kBuild, rtt, n, s,
         failed, count, givenUp.load());
  fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  bool baseline = false, cycle = false;
  for (int i = 1; i < argc; ++i) {
    baseline = baseline || strcmp(argv[i], "--baseline") == 0;
    cycle = cycle || strcmp(argv[i], "--cycle") == 0;
  }
  platform::netStartup();
  platform::setTraceSink(quiet);
  int port = envPort("KEL_POP3_PORT");
  if (!port) {
    fprintf(stderr, "KEL_POP3_PORT is not set: run tools/bench.sh\n");
    return 1;
  }
  // Dovecot builds its index of a mailbox on first use: not part of a check.
  for (int n : {1000, 1500, 5000}) checkOnce(port, n);

  for (int n : {1000, 5000}) {
    report("loopback", 0, n, "pipelined", checkOnce(port, n));
    if (baseline) report("loopback", 0, n, "one-at-a-time", checkOnce(port, n, true));
  }
  for (auto [rtt, linkPort] : links("KEL_BENCH_LINKS")) {
    char link[32];
    snprintf(link, sizeof link, "%d ms round trip", rtt);
    for (int n : {1000, 5000}) {
      report(link, rtt, n, "pipelined", checkOnce(linkPort, n));
      if (baseline) report(link, rtt, n, "one-at-a-time", checkOnce(linkPort, n, true));
    }
  }
  if (cycle)
    for (auto [rtt, linkPort] : links("KEL_BENCH_NO_PIPELINING")) cyclePass(rtt, linkPort, 1500);
  return 0;
}
