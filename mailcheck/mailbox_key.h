// Which mailbox an account reads: its server, port and user. What is kept
// in memory of a mailbox (its headers, its login delay) belongs to this,
// and is forgotten once no account names it.
#pragma once

#include <cstdint>
#include <string>

#include "settings/settings.h"

struct MailboxKey {
  std::string server;
  uint16_t port = 0;
  std::string user;
  bool operator==(const MailboxKey& o) const { return port == o.port && server == o.server && user == o.user; }
};
MailboxKey mailboxOf(const Account& a);

// The mailbox is that of a configured account.
bool mailboxConfigured(const Account (&accounts)[kAccountSlots], const MailboxKey& box);
