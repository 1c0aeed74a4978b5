#include "mailcheck/pop3/uidl.h"

#include <algorithm>

namespace {
bool idByte(char c) { return c >= 0x21 && c <= 0x7E; }
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
  lines_.emplace_back(n, std::string(line + idStart, end - idStart));
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
  lines_.clear();
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
