#include "settings/edits.h"

#include <cstring>
#include <mutex>
#include <new>

#include "app/application.h"
#include "settings/oauth.h"
#include "settings/settings.h"

namespace {

using Guard = std::lock_guard<std::mutex>;

SaveOutcome save(const Kel& kel, int file) {
  return saveSettings(kel, file) ? SaveOutcome::kSaved : SaveOutcome::kNotWritten;
}

FilterRule* (&listFor(Kel& kel, bool deleteList))[kRuleSlots] {
  return deleteList ? kel.deleteList : kel.ignoreList;
}

int slotOf(int32_t code) { return (code < 0 ? -code : code) - 1; }

bool editCodeAdds(int32_t code) { return code == kAddToDeleteList || code == kAddToIgnoreList; }

}  // namespace

bool saysNothing(const char* typed) {
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  size_t b = 0, e = strlen(typed);
  while (b < e && blank(typed[b])) ++b;
  while (e > b && blank(typed[e - 1])) --e;
  if (e - b >= 2 && (typed[b] == '"' || typed[b] == '\'') && typed[e - 1] == typed[b]) {
    ++b;
    --e;
    while (b < e && blank(typed[b])) ++b;
  }
  return b == e;
}

int storeAccount(Kel& kel, int editIndex, const AccountFields& f, SaveOutcome* saved) {
  int slot = editIndex;
  {
    Guard g(kel.checkLock);
    if (slot < 0) {
      slot = 0;
      while (slot < kAccountSlots && kel.accounts[slot].mailaddr[0] != '\0') ++slot;
      if (slot == kAccountSlots) return 0;
    }
    if (slot >= kAccountSlots) return 0;
    Account& a = kel.accounts[slot];
    char oldServer[sizeof a.pop3server], oldUser[sizeof a.user];
    memcpy(oldServer, a.pop3server, sizeof oldServer);
    memcpy(oldUser, a.user, sizeof oldUser);
    const uint16_t oldPort = a.port;
    if (editIndex < 0) {
      a = Account{};
      a.ipver = 4;
      a.protocol = 0;
    }
    copyCut(a.mailaddr, f.mailaddr, sizeof a.mailaddr - 1);
    copyCut(a.pop3server, f.pop3server, sizeof a.pop3server - 1);
    copyCut(a.user, f.user, sizeof a.user - 1);
    copyCut(a.pass, f.pass, sizeof a.pass - 1);
    a.apop = f.apop ? 1 : 0;
    a.ssl = f.ssl ? 1 : 0;
    // A stored protocol the list does not name reads as POP3 and is kept
    // while POP3 stays chosen.
    if (f.imap != (a.protocol == kProtocolImap)) a.protocol = f.imap ? kProtocolImap : 0;
    a.port = f.imap ? (f.ssl ? 993 : 143) : (f.ssl ? 995 : 110);
    // The trusted key belongs to the server at that port; another one
    // starts afresh. Nothing else clears it.
    const bool otherServer = strncmp(oldServer, a.pop3server, sizeof oldServer) != 0 || oldPort != a.port;
    if (otherServer) memset(a.pin, 0, sizeof a.pin);
    // Another mailbox: a session still at work on the old one writes
    // nothing, and the pass checks this one afresh.
    // Nothing the old one left (counts, lines, reason, last success)
    // says anything of this one: it starts as if added now.
    if (editIndex < 0 || otherServer || strncmp(oldUser, a.user, sizeof oldUser) != 0) kel.results[slot] = CheckResult{};
    // Tokens were granted for the old server and user (a port is no other mailbox).
    if (editIndex < 0)
      kel.oauth[slot] = OAuthSettings{};
    else if (strncmp(oldServer, a.pop3server, sizeof oldServer) != 0 || strncmp(oldUser, a.user, sizeof oldUser) != 0)
      forgetOAuthTokens(kel.oauth[slot]);
    kel.headerCache.forgetUnconfigured(kel.accounts);  // another mailbox starts afresh
  }
  if (saved) *saved = save(kel, kAccountsFile);
  return slot + 1;
}

SaveOutcome deleteAccount(Kel& kel, int s) {
  if (s < 0 || s >= kAccountSlots) return SaveOutcome::kSaved;
  {
    Guard g(kel.checkLock);
    // The results move with their accounts, and with them the identity a
    // running session writes by: the next check compares each account's
    // count with its own previous one, not its neighbour's.
    for (int i = s; i + 1 < kAccountSlots; ++i) {
      kel.accounts[i] = kel.accounts[i + 1];
      kel.results[i] = kel.results[i + 1];
      kel.oauth[i] = kel.oauth[i + 1];
    }
    kel.accounts[kAccountSlots - 1].mailaddr[0] = '\0';
    kel.oauth[kAccountSlots - 1] = OAuthSettings{};
    kel.results[kAccountSlots - 1] = CheckResult{};
    kel.headerCache.forgetUnconfigured(kel.accounts);
  }
  return save(kel, kAccountsFile);
}

const FilterRule* ruleForCode(const Kel& kel, int32_t code) {
  if (editCodeAdds(code) || code == 0) return nullptr;
  int slot = slotOf(code);
  if (slot < 0 || slot >= kRuleSlots) return nullptr;
  return code > 0 ? kel.deleteList[slot] : kel.ignoreList[slot];
}

int storeRule(Kel& kel, int32_t code, const char* keyword, int kind, SaveOutcome* saved) {
  bool toDelete = code > 0;
  FilterRule* (&list)[kRuleSlots] = listFor(kel, toDelete);
  if (kind < 0 || kind >= kMatchKinds) kind = kSenderAddressEquals;
  int slot;
  {
    Guard g(kel.checkLock);
    if (editCodeAdds(code)) {
      slot = 0;
      while (slot < kRuleSlots && list[slot]) ++slot;
      if (slot == kRuleSlots) return -1;
      list[slot] = new (std::nothrow) FilterRule{};
      if (!list[slot]) return -1;
    } else {
      slot = slotOf(code);
      if (slot < 0 || slot >= kRuleSlots || !list[slot]) return -1;
    }
    copyCut(list[slot]->keyword, keyword, sizeof list[slot]->keyword - 1);
    list[slot]->kind = static_cast<int8_t>(kind);
  }
  if (saved) *saved = save(kel, toDelete ? kDeleteListFile : kIgnoreListFile);
  return slot;
}

SaveOutcome deleteRule(Kel& kel, bool deleteList, int s) {
  FilterRule* (&list)[kRuleSlots] = listFor(kel, deleteList);
  if (s < 0 || s >= kRuleSlots || !list[s]) return SaveOutcome::kSaved;
  {
    Guard g(kel.checkLock);
    delete list[s];
    int i = s;
    for (; i + 1 < kRuleSlots && list[i + 1]; ++i) list[i] = list[i + 1];
    list[i] = nullptr;
  }
  return save(kel, deleteList ? kDeleteListFile : kIgnoreListFile);
}
