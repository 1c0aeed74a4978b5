// What the rules see of each message a server has named by its unique id:
// the four decoded header fields of its TOP reply, kept in memory so that
// a check reads only the messages it has not seen. Per mailbox (server,
// port and user); a mailbox no account names any more is forgotten.
// Guarded by the check lock: every member is called with it held.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "mailcheck/headers.h"
#include "mailcheck/mailbox_key.h"
#include "settings/settings.h"


// senderAddress, senderName, subject and to, each ended by a NUL.
using PackedHeaders = std::shared_ptr<const std::string>;
void unpackHeaders(const std::string& packed, MessageHeaders& out);

// What the cache may take of the heap, in all: its entries, the maps'
// nodes and buckets, as heap_cost.h counts them.
constexpr size_t kHeaderCacheLimit = 64u << 20;

class HeaderCache {
 public:
  explicit HeaderCache(size_t limit = kHeaderCacheLimit) : limit_(limit) {}
  // Null when the mailbox holds no entry for the id. The entry stays
  // valid for its holder whatever the cache does later.
  PackedHeaders find(const MailboxKey& box, const std::string& id) const;
  // False when the entry would take the cache past its limit (nothing is
  // stored then); an id already there keeps its entry.
  bool store(const MailboxKey& box, const std::string& id, const MessageHeaders& h);
  // After a usable listing: drops the mailbox's entries whose ids it lacks.
  void keepOnly(const MailboxKey& box, const std::vector<std::string>& ids);
  // Drops every mailbox that no configured account names.
  void forgetUnconfigured(const Account (&accounts)[kAccountSlots]);
  size_t bytes() const { return bytes_; }
  // What is left of the limit for a UIDL listing now.
  size_t room() const { return limit_ - bytes_ - held_; }
  // The bytes a listing in use holds of the limit (0 once its check ends):
  // entries stored meanwhile fit beside it.
  void hold(size_t bytes) { held_ = bytes <= limit_ - bytes_ ? bytes : limit_ - bytes_; }
  size_t entries(const MailboxKey& box) const;

 private:
  using Map = std::unordered_map<std::string, PackedHeaders>;
  struct Box {
    MailboxKey key;
    Map entries;
    size_t buckets = 0;  // what its bucket array costs, as counted in bytes_
  };
  static size_t cost(const std::string& id, const std::string& packed);
  static size_t boxCost(const Box& b);
  void countBuckets(Box& b);
  const Box* boxOf(const MailboxKey& key) const;
  Box* boxOf(const MailboxKey& key);

  size_t limit_;
  size_t bytes_ = 0;
  size_t held_ = 0;
  std::vector<Box> boxes_;
};
