// The UIDL listing's checks and the header cache's bookkeeping.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mailcheck/header_cache.h"
#include "mailcheck/pop3/uidl.h"

namespace {

bool usable(int stat, const std::vector<std::string>& lines, std::vector<std::string>* ids = nullptr) {
  UidlListing listing(stat);
  for (const std::string& l : lines) listing.take(l.data(), l.size());
  std::vector<std::string> out;
  bool ok = listing.finish(out);
  if (ids) *ids = out;
  return ok;
}

MessageHeaders headers(const char* address, const char* name, const char* subject, const char* to) {
  MessageHeaders h;
  memset(&h, 'x', sizeof h);  // bytes past each NUL carry nothing
  snprintf(h.senderAddress, sizeof h.senderAddress, "%s", address);
  snprintf(h.senderName, sizeof h.senderName, "%s", name);
  snprintf(h.subject, sizeof h.subject, "%s", subject);
  snprintf(h.to, sizeof h.to, "%s", to);
  return h;
}

}  // namespace

TEST(UidlListing, OnlyAListingOfEveryMessageOnceWithDistinctIdsIsUsed) {
  const std::string id70(70, '~'), id71(71, '!');
  const struct {
    int stat;
    std::vector<std::string> lines;
    bool usable;
  } cases[] = {
      {2, {"1 a\r\n", "2 b\r\n"}, true},
      {2, {"2 b\r\n", "1 a\r\n"}, true},  // any order
      {0, {}, true},
      {1, {"1 " + id70 + "\r\n"}, true},
      {1, {"01 a\r\n"}, true},
      {2, {"1 a\r\n"}, false},                       // a message missing
      {1, {"1 a\r\n", "2 b\r\n"}, false},            // one too many
      {2, {"1 a\r\n", "1 b\r\n"}, false},            // a number twice
      {2, {"1 a\r\n", "3 b\r\n"}, false},            // beyond STAT
      {1, {"0 a\r\n"}, false},
      {2, {"1 same\r\n", "2 same\r\n"}, false},      // identical messages share an id
      {1, {"1 " + id71 + "\r\n"}, false},
      {1, {"1 \r\n"}, false},
      {1, {"1 a b\r\n"}, false},                     // a space in the id
      {1, {"1 a\x7F\r\n"}, false},
      {1, {"1 \xE3\x81\x82\r\n"}, false},
      {1, {"1  a\r\n"}, false},
      {1, {"1 a\n"}, false},
      {1, {"1a\r\n"}, false},
      {1, {" 1 a\r\n"}, false},
      {1, {"99999999999999999999 a\r\n"}, false},
  };
  for (const auto& c : cases) {
    std::vector<std::string> ids;
    EXPECT_EQ(c.usable, usable(c.stat, c.lines, &ids)) << (c.lines.empty() ? "" : c.lines[0]);
    EXPECT_EQ(c.usable ? static_cast<size_t>(c.stat) : 0u, ids.size());
  }
  std::vector<std::string> ids;
  ASSERT_TRUE(usable(3, {"3 c\r\n", "1 a\r\n", "2 b\r\n"}, &ids));
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), ids);
}

TEST(HeaderCache, KeepsTheFieldsPerMailboxWithinItsBytes) {
  HeaderCache cache(4096);
  MailboxKey box{"pop.example.jp", 110, "taro"}, other{"pop.example.jp", 110, "hanako"};
  MessageHeaders h = headers("a@example.jp", "Taro", "hello", "me@example.jp");
  ASSERT_TRUE(cache.store(box, "id1", h));
  PackedHeaders p = cache.find(box, "id1");
  ASSERT_TRUE(p);
  MessageHeaders back;
  unpackHeaders(*p, back);
  EXPECT_STREQ("a@example.jp", back.senderAddress);
  EXPECT_STREQ("Taro", back.senderName);
  EXPECT_STREQ("hello", back.subject);
  EXPECT_STREQ("me@example.jp", back.to);
  EXPECT_FALSE(cache.find(other, "id1"));  // another user's mailbox

  // Entries are stored until the next would pass the limit, in any mailbox;
  // each costs more than its bytes (its node and blocks).
  int stored = 1;
  while (cache.store(box, "id" + std::to_string(stored + 1), h)) ++stored;
  EXPECT_GT(stored, 5);
  size_t full = cache.bytes();
  EXPECT_LE(full, 4096u);
  EXPECT_GT(full, stored * (3 + strlen("a@example.jp") + 4 + 5 + strlen("me@example.jp") + 4) * 3);
  EXPECT_FALSE(cache.store(other, "id", h));
  EXPECT_FALSE(cache.find(other, "id"));
  EXPECT_TRUE(cache.store(box, "id2", h));  // already there
  EXPECT_EQ(full, cache.bytes());
  cache.hold(cache.room());  // a listing in use takes what is left, and gives it back
  EXPECT_EQ(0u, cache.room());
  cache.hold(0);
  EXPECT_EQ(4096u - full, cache.room());

  cache.keepOnly(box, {"id2", "id-none"});
  EXPECT_FALSE(cache.find(box, "id1"));
  EXPECT_TRUE(cache.find(box, "id2"));
  EXPECT_EQ(1u, cache.entries(box));
  EXPECT_LT(cache.bytes(), full / 2);
  EXPECT_TRUE(p);  // a holder keeps what it took

  Account accounts[kAccountSlots] = {};
  cache.forgetUnconfigured(accounts);
  EXPECT_EQ(0u, cache.bytes());
  EXPECT_EQ(0u, cache.entries(box));
}

// A listing whose ids would pass its budget is not used: the check reads
// without them.
TEST(UidlListing, ListingPastItsBudgetIsNotUsed) {
  for (size_t budget : {size_t{0}, size_t{1000}, size_t{200000}}) {
    UidlListing listing(500, budget);
    for (int n = 1; n <= 500; ++n) {
      std::string line = std::to_string(n) + " id-of-the-message-" + std::to_string(n) + "\r\n";
      listing.take(line.data(), line.size());
    }
    std::vector<std::string> ids;
    bool fits = budget == 200000;
    EXPECT_EQ(fits, listing.finish(ids)) << budget;
    EXPECT_EQ(!fits, listing.tooLarge()) << budget;
    EXPECT_LE(listing.charged(), budget);
    EXPECT_EQ(fits ? 500u : 0u, ids.size());
  }
}
