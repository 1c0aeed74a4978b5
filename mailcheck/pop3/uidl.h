// The reply to UIDL (RFC 1939), checked line by line as it is read. The ids
// are used only when the listing names every message of the STAT count
// exactly once, each with an id of 1 to 70 bytes of 0x21 to 0x7E, and no
// two messages share an id; anything else leaves the check without ids.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

constexpr size_t kUidlIdMax = 70;

// A listing's ids cost the heap until the check ends: counted per message
// (heap_cost.h) for the lines as read, with room for their array to grow,
// the table by number, the sorting, the cache's table of what it knows and
// the pointers the cache sorts. A listing past its budget is not used.
class UidlListing {
 public:
  explicit UidlListing(int statCount, size_t budget = SIZE_MAX)
      : total_(statCount < 0 ? 0 : static_cast<size_t>(statCount)), budget_(budget) {}
  // A line of the listing as read (CR LF included), before the "." line.
  void take(const char* line, size_t length);
  // After the "." line: the ids by message number (ids[n - 1]), or false
  // when the listing cannot be used.
  bool finish(std::vector<std::string>& ids);
  // It went past its budget (and was not kept).
  bool tooLarge() const { return tooLarge_; }
  // What its ids cost until the check ends, within the budget.
  size_t charged() const { return charged_; }

 private:
  size_t total_;
  size_t budget_;
  size_t charged_ = 0;
  bool broken_ = false;
  bool tooLarge_ = false;
  std::vector<std::pair<size_t, std::string>> lines_;  // never more than total_
};
