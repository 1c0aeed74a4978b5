// The changes the editors make to accounts and rules. Each takes the check
// lock while it changes the members (a check may be reading them) and saves
// the affected file before it returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/shift_jis.h"

class Kel;

// The editors cut what is typed to its field by whole characters.
using platform::copyCut;

// True for a typed text that says nothing: only blanks, or a pair of double
// or single quotes with or without blanks around or inside it.
bool saysNothing(const char* typed);

struct AccountFields {
  const char* mailaddr;
  const char* pop3server;
  const char* user;
  const char* pass;
  bool apop;
  bool ssl;
  bool imap;  // the protocol chosen
};

enum class SaveOutcome { kSaved, kNotWritten };

// Writes an account: a new one (editIndex -1) into the first free slot, or
// slot editIndex. Returns the slot number plus 1, or 0 when all nine slots
// are taken (nothing changed).
int storeAccount(Kel& kel, int editIndex, const AccountFields& f, SaveOutcome* saved);
// Removes slot s, moving the following accounts down one slot.
SaveOutcome deleteAccount(Kel& kel, int s);

// The rule lists as the condition editor names them: 9999 adds to the
// delete list, -9999 to the ignore list, n (or -n) edits slot n - 1.
constexpr int32_t kAddToDeleteList = 9999;
constexpr int32_t kAddToIgnoreList = -9999;
// The rule that an editing code designates, or nullptr.
const struct FilterRule* ruleForCode(const Kel& kel, int32_t code);
// Writes the rule the code designates (a new one in the first free slot
// when adding). Returns its slot number, or -1 when the list is full.
int storeRule(Kel& kel, int32_t code, const char* keyword, int kind, SaveOutcome* saved);
// Removes slot s of one list, moving the following rules down one slot.
SaveOutcome deleteRule(Kel& kel, bool deleteList, int s);
