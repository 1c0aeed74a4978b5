// The heap behind the header cache and a UIDL listing as glibc's allocator
// tells it (mallinfo2, usable sizes): within the 64 MB the cache counts, for
// real and hostile entries; a listing past what is left, or past what the
// machine has, fails no more than its check. Native only, without TSan.
#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "mailcheck/error_code.h"
#include "mailcheck/header_cache.h"
#include "mailcheck/pop3/pop3_session.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

// Inlined, GCC takes the replaced new and delete below for a mismatched pair.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

size_t heapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

std::atomic<bool> watching{false};
std::atomic<size_t> peak{0};
// The blocks operator new holds (usable size and header), kept per
// allocation: mallinfo2 walks every arena and would cost each one that much.
std::atomic<size_t> live{0};
thread_local size_t failPast = 0;  // this thread's allocations fail past this many live bytes (0: never)

size_t blockBytes(void* p) { return malloc_usable_size(p) + 16; }

}  // namespace

// Every allocation: the peak while watched, a failure past a thread's bound.
void* operator new(size_t n) {
  void* p = malloc(n ? n : 1);
  if (!p) throw std::bad_alloc();
  const size_t now = live += blockBytes(p);
  for (size_t was = peak; watching && now > was && !peak.compare_exchange_weak(was, now);) {
  }
  if (failPast && now > failPast) {
    live -= blockBytes(p);
    free(p);
    throw std::bad_alloc();
  }
  return p;
}
void operator delete(void* p) noexcept {
  if (p) live -= blockBytes(p);
  free(p);
}
void operator delete(void* p, size_t) noexcept { operator delete(p); }

namespace {

// Id n in the bytes an id may have, as short as it can be.
std::string shortId(size_t n) {
  std::string id;
  do {
    id += static_cast<char>(0x21 + n % 94);
    n /= 94;
  } while (n);
  return id;
}

MessageHeaders headersOf(const char* address, const char* name, const char* subject, const char* to) {
  MessageHeaders h{};
  snprintf(h.senderAddress, sizeof h.senderAddress, "%s", address);
  snprintf(h.senderName, sizeof h.senderName, "%s", name);
  snprintf(h.subject, sizeof h.subject, "%s", subject);
  snprintf(h.to, sizeof h.to, "%s", to);
  return h;
}

// `count` messages whose listing is sent in pieces; TOP is refused (the
// check then ends at the first message).
struct HugeListing {
  ScriptMaildrop drop;
  explicit HugeListing(size_t count, size_t idLength) {
    drop.answer("STAT", "+OK " + std::to_string(count) + " 1000\r\n");
    drop.answer("TOP", "-ERR not now\r\n");
    drop.onCommand([count, idLength](ScriptConnection& c, const std::string& command) {
      if (command != "UIDL") return false;
      c.send("+OK\r\n");
      std::string piece;
      for (size_t n = 1; n <= count; ++n) {
        std::string id = std::to_string(n);
        piece += id + " " + std::string(idLength - id.size(), 'x') + id + "\r\n";
        if (piece.size() > 60000 || n == count) {
          c.send(piece);
          piece.clear();
        }
      }
      c.send(".\r\n");
      return true;
    });
  }
};

}  // namespace

TEST(HeapMeasured, TheCacheStaysWithinItsLimitForRealAndHostileEntries) {
  const MailboxKey box{"pop.example.jp", 110, "taro"};
  const struct {
    const char* what;
    std::string (*id)(size_t);
    MessageHeaders headers;
  } cases[] = {
      {"real mail", [](size_t n) { return "1f3c" + std::to_string(1000000000 + n) + "a9b8c7d6"; },
       headersOf("newsletter@shop.example.co.jp", "\x83\x56\x83\x87\x83\x62\x83\x76 Example News",
                 "Weekly offers: 20% off everything in the shop until Sunday", "taro.yamada@example.jp")},
      {"short ids, empty headers", shortId, headersOf("", "", "", "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const size_t before = heapInUse();
    auto cache = std::make_unique<HeaderCache>();
    size_t n = 0;
    while (cache->store(box, c.id(n), c.headers)) ++n;
    const size_t heap = heapInUse() - before;
    printf("%s: %zu entries, heap %zu bytes (%.2f of the limit), counted %zu\n", c.what, n, heap,
           static_cast<double>(heap) / kHeaderCacheLimit, cache->bytes());
    EXPECT_LE(heap, kHeaderCacheLimit);
    EXPECT_LE(heap, cache->bytes());             // the count is on the safe side
    EXPECT_GT(heap, kHeaderCacheLimit / 10 * 7);  // and not far from what it costs
    cache.reset();
    EXPECT_LT(heapInUse(), before + (1u << 20));  // all of it is given back
  }
}

// A listing's peak and the cache stay within the limit together; a listing
// too large for it is read without ids, as the trace says.
TEST(HeapMeasured, AListingSharesTheCachesLimit) {
  const struct {
    size_t messages, idLength;
    bool fits;
  } cases[] = {{100000, 24, true}, {600000, 70, false}, {1000000, 8, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.messages) + " ids of " + std::to_string(c.idLength));
    HugeListing server(c.messages, c.idLength);
    auto kel = kelWithAccount("127.0.0.1", server.drop.port(), "user", "pw");
    for (size_t n = 0; kel->headerCache.store(mailboxOf(kel->accounts[0]), shortId(n), {}) && n < 100000;) ++n;
    const size_t cached = kel->headerCache.bytes();
    TraceCapture trace;
    const size_t before = live;
    peak = before;
    watching = true;
    EXPECT_EQ(1, checkAccount(*kel));  // TOP 1 refused
    watching = false;
    const size_t listing = peak - before;
    printf("%zu ids of %zu bytes: listing peak %zu bytes beside %zu cached\n", c.messages, c.idLength, listing,
           cached);
    EXPECT_LE(listing + cached, kHeaderCacheLimit);
    EXPECT_EQ(!c.fits, trace.contains("UIDLの一覧がメモリに収まらないので、IDなしで読みます\n"));
    const std::string tops = "TOP " + std::to_string(c.messages) + "件\n";  // none listed is cached
    EXPECT_TRUE(trace.contains("ID " + std::to_string(c.fits ? c.messages : 0) + "件、" + tops));
    EXPECT_STREQ("-ERR not now", kel->results[0].reason);
  }
}

// With less memory than the limit a hostile listing runs out: the check
// fails with that reason, and the next one works.
TEST(HeapMeasured, ListingPastTheMemoryThereIsFailsItsCheckOnly) {
  HugeListing hostile(1500000, 70);
  auto kel = kelWithAccount("127.0.0.1", hostile.drop.port(), "user", "pw");
  TraceCapture trace;
  failPast = live + (16u << 20);
  int rc = 0;
  EXPECT_NO_THROW(rc = checkAccount(*kel));
  failPast = 0;
  EXPECT_EQ(1, rc);
  EXPECT_EQ(kErrorNone, kel->results[0].errorCode);
  EXPECT_STREQ("メモリが足りません", kel->results[0].reason);
  EXPECT_EQ(kSessionFailed, kel->sessionState.load());
  EXPECT_TRUE(trace.contains("エラ～発生！ メモリが足りません\n"));

  HugeListing fine(3, 10);
  auto next = kelWithAccount("127.0.0.1", fine.drop.port(), "user", "pw");
  EXPECT_EQ(1, checkAccount(*next));  // to its refused TOP, as any check of it
  EXPECT_STREQ("-ERR not now", next->results[0].reason);
}
