#include "mailcheck/header_cache.h"

#include <cstring>
#include <unordered_set>

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

}  // namespace

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
  std::string packed;
  for (const std::string& field : {bounded(h.senderAddress, sizeof h.senderAddress),
                                   bounded(h.senderName, sizeof h.senderName), bounded(h.subject, sizeof h.subject),
                                   bounded(h.to, sizeof h.to)}) {
    packed += field;
    packed += '\0';
  }
  size_t c = cost(id, packed);
  if (c > limit_ - bytes_) return false;  // bytes_ never passes limit_
  Box* b = boxOf(box);
  if (!b) {
    boxes_.push_back(Box{box, {}});
    b = &boxes_.back();
  }
  if (b->entries.count(id)) return true;
  b->entries.emplace(id, std::make_shared<const std::string>(std::move(packed)));
  bytes_ += c;
  return true;
}

void HeaderCache::keepOnly(const MailboxKey& box, const std::vector<std::string>& ids) {
  Box* b = boxOf(box);
  if (!b) return;
  std::unordered_set<std::string> listed(ids.begin(), ids.end());
  for (auto it = b->entries.begin(); it != b->entries.end();) {
    if (listed.count(it->first)) {
      ++it;
    } else {
      bytes_ -= cost(it->first, *it->second);
      it = b->entries.erase(it);
    }
  }
}

void HeaderCache::forgetUnconfigured(const Account (&accounts)[kAccountSlots]) {
  for (size_t i = boxes_.size(); i-- > 0;) {
    if (mailboxConfigured(accounts, boxes_[i].key)) continue;
    for (const auto& e : boxes_[i].entries) bytes_ -= cost(e.first, *e.second);
    boxes_.erase(boxes_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}
