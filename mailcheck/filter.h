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
// arrives and its effects applied later, in the order of the messages: a
// judgement, which stores nothing, and the storing of its outcome.
struct Judgement {
  int list;       // classifyMessage's answer
  MailLine line;  // sender and subject as shown
};

// The judgement's first half reads the reply alone, so a session runs it
// outside the check lock; the second reads the rule lists, which the
// settings sheet edits under that lock.
struct DecodedMessage {
  MessageHeaders headers;  // whole values, for the rules
  MailLine line;           // sender and subject as shown
};
void decodeMessage(const char* response, DecodedMessage& out);
// Sender and subject as shown, cut from the whole values.
MailLine shownLine(const MessageHeaders& headers);
Judgement judgeMessage(const DecodedMessage& message, const Kel& kel);
// Both halves at once.
Judgement judgeMessage(const char* response, const Kel& kel);

// Stores the line (Kept) or puts it in front of recentDeleted (Delete); a
// check holds the lock for it.
MessageVerdict applyJudgement(const Judgement& judgement, Kel& kel, int account, int lineSlot);
// judgeMessage, then applyJudgement.
MessageVerdict analyseMessage(const char* response, Kel& kel, int account, int lineSlot);
