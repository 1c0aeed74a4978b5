#include "mailcheck/mailbox_key.h"

#include <cstring>

namespace {
std::string bounded(const char* field, size_t size) { return std::string(field, strnlen(field, size - 1)); }
}  // namespace

MailboxKey mailboxOf(const Account& a) {
  return {bounded(a.pop3server, sizeof a.pop3server), a.port, bounded(a.user, sizeof a.user)};
}

bool mailboxConfigured(const Account (&accounts)[kAccountSlots], const MailboxKey& box) {
  for (const Account& a : accounts)
    if (a.mailaddr[0] != '\0' && mailboxOf(a) == box) return true;
  return false;
}
