#include "mailcheck/pop3/uidl.h"

#include <algorithm>
#include <memory>

#include "mailcheck/heap_cost.h"

namespace {
bool idByte(char c) { return c >= 0x21 && c <= 0x7E; }

// Each message: its line and room for the array of lines to grow (the old
// array and the new one side by side), its id by number, a bit of the
// numbers seen, a pointer to sort, the cache's pointer to what it knows and
// a pointer the cache sorts; and the few arrays themselves.
constexpr size_t kPerMessage =
    3 * sizeof(std::pair<size_t, std::string>) + sizeof(std::string) + 1 + 3 * sizeof(void*) +
    sizeof(std::shared_ptr<const std::string>);
constexpr size_t kArrays = 8 * heapCost(0);
}  // namespace

// "n SP id CR LF", nothing else. A server may list more lines than it has
// messages; none beyond the count is kept.
void UidlListing::take(const char* line, size_t length) {
  if (broken_) return;
  if (lines_.size() >= total_ || length < 2 || line[length - 2] != '\r' || line[length - 1] != '\n') {
    broken_ = true;
    return;
  }
  size_t end = length - 2, i = 0, n = 0;
  while (i < end && line[i] >= '0' && line[i] <= '9' && n <= total_) n = n * 10 + static_cast<size_t>(line[i++] - '0');
  size_t idStart = i + 1;
  if (i == 0 || n < 1 || n > total_ || i >= end || line[i] != ' ' || idStart >= end || end - idStart > kUidlIdMax ||
      !std::all_of(line + idStart, line + end, idByte)) {
    broken_ = true;
    return;
  }
  std::string id(line + idStart, end - idStart);
  size_t cost = kPerMessage + stringHeap(id) + (lines_.empty() ? kArrays : 0);
  if (cost > budget_ - charged_) {  // charged_ never passes budget_
    broken_ = tooLarge_ = true;
    std::vector<std::pair<size_t, std::string>>().swap(lines_);
    return;
  }
  charged_ += cost;
  lines_.emplace_back(n, std::move(id));
}

bool UidlListing::finish(std::vector<std::string>& ids) {
  ids.clear();
  if (broken_ || lines_.size() != total_) return false;
  std::vector<std::string> byNumber(total_);
  std::vector<bool> seen(total_, false);
  for (auto& l : lines_) {
    if (seen[l.first - 1]) return false;  // a number twice (so another is missing)
    seen[l.first - 1] = true;
    byNumber[l.first - 1] = std::move(l.second);
  }
  std::vector<std::pair<size_t, std::string>>().swap(lines_);
  // Identical messages may share an id (RFC 1939); such a mailbox is read
  // in full, since its ids cannot tell the messages apart.
  std::vector<const std::string*> sorted;
  sorted.reserve(total_);
  for (const std::string& id : byNumber) sorted.push_back(&id);
  std::sort(sorted.begin(), sorted.end(), [](const std::string* a, const std::string* b) { return *a < *b; });
  for (size_t k = 1; k < sorted.size(); ++k)
    if (*sorted[k] == *sorted[k - 1]) return false;
  ids.swap(byNumber);
  return true;
}
