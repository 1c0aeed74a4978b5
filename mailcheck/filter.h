// The message analysis: headers judged against the delete and ignore
// lists, and the message's display line stored where it belongs.
#pragma once

#include "mailcheck/headers.h"
#include "settings/settings.h"

class Kel;

enum MessageVerdict : int {
  kVerdictKeptUnlisted = -1,
  kVerdictKept = 0,
  kVerdictDelete = 1,
  kVerdictIgnore = 2,
};

enum MatchTest { kTestEqual, kTestContains };

// 0 no rule matched, 1 the delete list, 2 the ignore list.
int classifyMessage(const MessageHeaders& headers, FilterRule* const (&deleteList)[kRuleSlots],
                    FilterRule* const (&ignoreList)[kRuleSlots]);
bool keywordMatches(const char* field, const char* keyword, MatchTest test);
MessageVerdict analyseMessage(const char* response, Kel& kel, int account, int lineSlot);
