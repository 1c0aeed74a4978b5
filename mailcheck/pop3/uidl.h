// The reply to UIDL (RFC 1939), checked line by line as it is read. The ids
// are used only when the listing names every message of the STAT count
// exactly once, each with an id of 1 to 70 bytes of 0x21 to 0x7E, and no
// two messages share an id; anything else leaves the check without ids.
#pragma once

#include <string>
#include <utility>
#include <vector>

constexpr size_t kUidlIdMax = 70;

class UidlListing {
 public:
  explicit UidlListing(int statCount) : total_(statCount < 0 ? 0 : statCount) {}
  // A line of the listing as read (CR LF included), before the "." line.
  void take(const char* line, size_t length);
  // After the "." line: the ids by message number (ids[n - 1]), or false
  // when the listing cannot be used.
  bool finish(std::vector<std::string>& ids);

 private:
  size_t total_;
  bool broken_ = false;
  std::vector<std::pair<size_t, std::string>> lines_;  // never more than total_
};
