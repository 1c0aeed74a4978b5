// The message analysis: headers judged against the delete and ignore
// lists, and the message's display line stored where it belongs.
#pragma once

#include "mailcheck/check_result.h"
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

// The analysis in two steps, so that a reply can be judged as soon as it
// arrives and its effects applied later, in the order of the messages.
struct Judgement {
  int list;      // classifyMessage's answer
  MailLine line; // sender and subject as shown
};
// Reads the rule lists and stores nothing.
Judgement judgeMessage(const char* response, const Kel& kel);
// Stores the line (Kept) or puts it in front of recentDeleted (Delete).
MessageVerdict applyJudgement(const Judgement& judgement, Kel& kel, int account, int lineSlot);
MessageVerdict analyseMessage(const char* response, Kel& kel, int account, int lineSlot);
