// Times checks of the bench mailboxes over loopback and over slow links
// (tools/bench.sh starts Dovecot and the delaying proxies). Each run also
// prints a "RESULT ..." line that bench.sh gathers into its table.
//
//   kel_bench [--baseline] [--cycle] [--cache]
//   --baseline  also fetch one command at a time, as the comparison
//   --cycle     a 1,500-message check through the whole check pass, with its
//               real timing, on a link whose server lists no PIPELINING
//   --cache     what checks cost with the header cache: 5,000 messages with
//               header blocks of 2-16 KB, the first check, one with nothing
//               new and one with 10 new messages, by one Kel, beside reading
//               every message (a link that hides UIDL); only this with
//               --cache-only
#include <atomic>
#include <chrono>
#include <filesystem>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/application.h"
#include "mailcheck/check_cycle.h"
#include "mailcheck/pop3/pop3_session.h"
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
  uint32_t bytes;  // received
  int tops;        // sent
};

// One session of account 0 of kel, which may have checked before.
Outcome checkWith(Kel& kel, bool oneAtATime = false) {
  SessionTask task(kel, 0);
  if (oneAtATime) task.maxInFlight = 1;
  kel.sessionState = kSessionStarting;
  auto start = std::chrono::steady_clock::now();
  int rc = runSession(task);
  return {since(start), rc, kel.results[0].count, task.watch.received.load(), task.topsSent.load()};
}

Outcome checkOnce(int port, int n, bool oneAtATime = false) {
  char user[32];
  snprintf(user, sizeof user, "bench%d", n);
  auto kel = kelWithAccount("127.0.0.1", port, user, "bench");
  return checkWith(*kel, oneAtATime);
}

void report(const char* link, int rtt, int n, const char* mode, const Outcome& o) {
  printf("%s: %s, %d messages, %s: %.2f s, %.0f messages/s, %.1f MB, %d TOP (rc %d, count %d)\n", kBuild, link,
         n, mode, o.seconds, n / o.seconds, o.bytes / 1e6, o.tops, o.rc, o.count);
  printf("RESULT build=%s rtt=%d n=%d mode=%s seconds=%.3f rc=%d count=%d bytes=%u tops=%d\n", kBuild, rtt, n,
         mode, o.seconds, o.rc, o.count, o.bytes, o.tops);
  fflush(stdout);
}

// Ten messages delivered into the bench mailbox, and taken out again.
const char kDropped[] = ".M77P7.kel";
void deliverTen(const std::string& user) {
  for (int i = 0; i < 10; ++i) {
    char name[64];
    snprintf(name, sizeof name, "%d%s", 1900000000 + i, kDropped);
    FILE* f = fopen((std::filesystem::path(maildirOf(user)) / "new" / name).string().c_str(), "wb");
    if (!f) continue;
    fprintf(f, "From: new%d@example.jp\nTo: %s@example.jp\nSubject: new %d\n\nbody\n", i, user.c_str(), i);
    fclose(f);
  }
}
void takeOutTen(const std::string& user) {
  for (const char* sub : {"new", "cur"}) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::path(maildirOf(user)) / sub, ec))
      if (e.path().filename().string().find(kDropped) != std::string::npos) std::filesystem::remove(e.path(), ec);
  }
}

// The cost of checks with the cache (one Kel throughout) and of reading
// every message (a link whose server hides UIDL), at the same link.
void cacheCost(int rtt, int cachedPort, int fullPort, int imapPort) {
  const std::string user = "real5000";
  const int n = 5000;
  char link[48];
  snprintf(link, sizeof link, "%d ms and 10 Mbit/s", rtt);
  takeOutTen(user);
  auto kel = kelWithAccount("127.0.0.1", cachedPort, user, "bench");
  auto full = [&] {
    auto k = kelWithAccount("127.0.0.1", fullPort, user, "bench");
    return checkWith(*k);
  };
  report(link, rtt, n, "full-first", full());
  report(link, rtt, n, "cache-first", checkWith(*kel));
  report(link, rtt, n, "cache-unchanged", checkWith(*kel));
  report(link, rtt, n, "full-unchanged", full());
  // The same mailbox over IMAP (FETCH counted as TOP).
  auto imap = kelWithAccount("127.0.0.1", imapPort, user, "bench");
  imap->accounts[0].protocol = kProtocolImap;
  if (imapPort) {
    report(link, rtt, n, "imap-first", checkWith(*imap));
    report(link, rtt, n, "imap-unchanged", checkWith(*imap));
  }
  deliverTen(user);
  report(link, rtt, n, "cache-new10", checkWith(*kel));
  report(link, rtt, n, "full-new10", full());
  if (imapPort) report(link, rtt, n, "imap-new10", checkWith(*imap));
  takeOutTen(user);
}

void noSound(Kel&) {}
void noPopup(Kel&, bool) {}
void noText(Kel&, const char*, int, int) {}
void noTray(Kel&, TrayOutcome, int) {}
void noDestroy(HICON*) {}
void noPin(Kel&, const PinOffer&) {}
void noToken(Kel&, const TokenOffer&) {}
int present(Kel&) { return kUserAccepts; }
const CheckEffects kNoEffects = {noSound, noPopup, noText, noTray, noDestroy, noPin, noToken, present};

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
  bool baseline = false, cycle = false, cache = false, cacheOnly = false;
  for (int i = 1; i < argc; ++i) {
    baseline = baseline || strcmp(argv[i], "--baseline") == 0;
    cycle = cycle || strcmp(argv[i], "--cycle") == 0;
    cache = cache || strcmp(argv[i], "--cache") == 0;
    cacheOnly = cacheOnly || strcmp(argv[i], "--cache-only") == 0;
  }
  platform::netStartup();
  platform::setTraceSink(quiet);
  int port = envPort("KEL_POP3_PORT");
  if (!port) {
    fprintf(stderr, "KEL_POP3_PORT is not set: run tools/bench.sh\n");
    return 1;
  }
  auto cacheLinks = links("KEL_BENCH_CACHE_LINK"), fullLinks = links("KEL_BENCH_FULL_LINK");
  auto imapLinks = links("KEL_BENCH_IMAP_LINK");
  if (cache || cacheOnly) {
    {
      auto kel = kelWithAccount("127.0.0.1", port, "real5000", "bench");  // Dovecot's index, as below
      checkWith(*kel);
    }
    if (!cacheLinks.empty() && !fullLinks.empty())
      cacheCost(cacheLinks[0].first, cacheLinks[0].second, fullLinks[0].second,
                imapLinks.empty() ? 0 : imapLinks[0].second);
    if (cacheOnly) return 0;
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
