#include "mailcheck/header_cache.h"

#include <algorithm>
#include <cstring>

#include "mailcheck/heap_cost.h"

namespace {

std::string bounded(const char* field, size_t size) { return std::string(field, strnlen(field, size - 1)); }

template <size_t N>
const char* unpackField(const char* p, const char* end, char (&field)[N]) {
  size_t n = strnlen(p, static_cast<size_t>(end - p));
  size_t kept = n < N - 1 ? n : N - 1;
  memcpy(field, p, kept);
  field[kept] = '\0';
  return p + n < end ? p + n + 1 : end;
}

// A bucket array of n heads.
size_t bucketCost(size_t n) { return n > 1 ? heapCost(n * sizeof(void*)) : 0; }

}  // namespace

// The map's node (its link, the id, the shared pointer and the id's
// hash), the id's buffer, the block make_shared makes (two counts and a
// table pointer beside the string) and the text's buffer.
size_t HeaderCache::cost(const std::string& id, const std::string& packed) {
  return heapCost(sizeof(void*) + sizeof(Map::value_type) + sizeof(size_t)) + stringHeap(id) +
         heapCost(2 * sizeof(void*) + sizeof(std::string)) + stringHeap(packed);
}

size_t HeaderCache::boxCost(const Box& b) {
  return heapCost(sizeof(Box)) + stringHeap(b.key.server) + stringHeap(b.key.user);
}

void HeaderCache::countBuckets(Box& b) {
  bytes_ -= b.buckets;
  b.buckets = bucketCost(b.entries.bucket_count());
  bytes_ += b.buckets;
}

void unpackHeaders(const std::string& packed, MessageHeaders& out) {
  const char* p = packed.data();
  const char* end = p + packed.size();
  p = unpackField(p, end, out.senderAddress);
  p = unpackField(p, end, out.senderName);
  p = unpackField(p, end, out.subject);
  unpackField(p, end, out.to);
}

const HeaderCache::Box* HeaderCache::boxOf(const MailboxKey& key) const {
  for (const Box& b : boxes_)
    if (b.key == key) return &b;
  return nullptr;
}

HeaderCache::Box* HeaderCache::boxOf(const MailboxKey& key) {
  return const_cast<Box*>(static_cast<const HeaderCache*>(this)->boxOf(key));
}

PackedHeaders HeaderCache::find(const MailboxKey& box, const std::string& id) const {
  const Box* b = boxOf(box);
  if (!b) return nullptr;
  auto it = b->entries.find(id);
  return it == b->entries.end() ? nullptr : it->second;
}

size_t HeaderCache::entries(const MailboxKey& box) const {
  const Box* b = boxOf(box);
  return b ? b->entries.size() : 0;
}

bool HeaderCache::store(const MailboxKey& box, const std::string& id, const MessageHeaders& h) {
  const std::string fields[] = {bounded(h.senderAddress, sizeof h.senderAddress),
                                bounded(h.senderName, sizeof h.senderName), bounded(h.subject, sizeof h.subject),
                                bounded(h.to, sizeof h.to)};
  std::string packed;
  packed.reserve(fields[0].size() + fields[1].size() + fields[2].size() + fields[3].size() + 4);
  for (const std::string& field : fields) {
    packed += field;
    packed += '\0';
  }
  Box* b = boxOf(box);
  if (b && b->entries.count(id)) return true;
  // The map's key is a copy of the id, as long as it.
  size_t c = cost(std::string(id), packed) + (b ? 0 : boxCost(Box{box, {}, 0}));
  const Map* map = b ? &b->entries : nullptr;
  size_t size = map ? map->size() : 0, count = map ? map->bucket_count() : 1;
  // A map that grows holds its old buckets and its new ones (the next prime
  // past twice as many) for a moment.
  if (static_cast<float>(size + 1) > static_cast<float>(count) * (map ? map->max_load_factor() : 1.0f))
    c += bucketCost(count * 9 / 4 + 16);
  if (c > limit_ - bytes_ - held_) return false;  // bytes_ + held_ never pass limit_
  if (!b) {
    boxes_.push_back(Box{box, {}, 0});
    b = &boxes_.back();
    bytes_ += boxCost(*b);
  }
  auto stored = b->entries.emplace(id, std::make_shared<const std::string>(std::move(packed))).first;
  bytes_ += cost(stored->first, *stored->second);
  countBuckets(*b);
  return true;
}

// The listed ids are looked up through pointers in order, not copied.
void HeaderCache::keepOnly(const MailboxKey& box, const std::vector<std::string>& ids) {
  Box* b = boxOf(box);
  if (!b) return;
  std::vector<const std::string*> listed;
  listed.reserve(ids.size());
  for (const std::string& id : ids) listed.push_back(&id);
  auto less = [](const std::string* x, const std::string* y) { return *x < *y; };
  std::sort(listed.begin(), listed.end(), less);
  for (auto it = b->entries.begin(); it != b->entries.end();) {
    if (std::binary_search(listed.begin(), listed.end(), &it->first, less)) {
      ++it;
    } else {
      bytes_ -= cost(it->first, *it->second);
      it = b->entries.erase(it);
    }
  }
}

void HeaderCache::forgetUnconfigured(const Account (&accounts)[kAccountSlots]) {
  for (size_t i = boxes_.size(); i-- > 0;) {
    Box& b = boxes_[i];
    if (mailboxConfigured(accounts, b.key)) continue;
    for (const auto& e : b.entries) bytes_ -= cost(e.first, *e.second);
    bytes_ -= b.buckets + boxCost(b);
    boxes_.erase(boxes_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}
