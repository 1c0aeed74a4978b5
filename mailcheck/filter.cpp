// The message analysis: one TOP reply judged against the delete and ignore
// lists, and its display line stored where the popup and the server status
// dialog read it.
#include "mailcheck/filter.h"

#include <cstring>

#include "app/application.h"

namespace {

constexpr size_t kShownBytes = 32;

// The field and test a rule's kind names; null for a kind that no settings
// page writes (a hand-edited file), which then matches nothing.
const char* ruleField(const MessageHeaders& h, int kind, MatchTest* test) {
  switch (kind) {
    case kSenderAddressEquals: *test = kTestEqual; return h.senderAddress;
    case kSenderAddressContains: *test = kTestContains; return h.senderAddress;
    case kSenderNameEquals: *test = kTestEqual; return h.senderName;
    case kSenderNameContains: *test = kTestContains; return h.senderName;
    case kSubjectContains: *test = kTestContains; return h.subject;
    case kToContains: *test = kTestContains; return h.to;
    default: return nullptr;
  }
}

bool listMatches(const MessageHeaders& h, FilterRule* const (&list)[kRuleSlots]) {
  for (const FilterRule* rule : list) {
    if (!rule) break;  // the rules in use fill the slots from 0 on
    MatchTest test;
    const char* field = ruleField(h, rule->kind, &test);
    if (!field) continue;
    // A damaged record may lack its NUL; the keyword ends with the record.
    char keyword[sizeof rule->keyword + 1];
    const void* nul = memchr(rule->keyword, '\0', sizeof rule->keyword);
    size_t n = nul ? static_cast<const char*>(nul) - rule->keyword : sizeof rule->keyword;
    if (n == 0) continue;  // an empty keyword would match every message
    memcpy(keyword, rule->keyword, n);
    keyword[n] = '\0';
    if (keywordMatches(field, keyword, test)) return true;
  }
  return false;
}

}  // namespace

bool keywordMatches(const char* field, const char* keyword, MatchTest test) {
  // Bytes of the Shift-JIS text: no case folding, no character boundaries.
  if (test == kTestEqual) return strcmp(field, keyword) == 0;
  return strstr(field, keyword) != nullptr;
}

int classifyMessage(const MessageHeaders& headers, FilterRule* const (&deleteList)[kRuleSlots],
                    FilterRule* const (&ignoreList)[kRuleSlots]) {
  if (listMatches(headers, deleteList)) return 1;
  if (listMatches(headers, ignoreList)) return 2;
  return 0;
}

void decodeMessage(const char* response, DecodedMessage& out) {
  extractHeaders(response, out.headers);
  out.line = shownLine(out.headers);
}

// The cuts are for display only: the rules see the whole values.
MailLine shownLine(const MessageHeaders& h) {
  MailLine line{};
  const char* sender = h.senderName[0] != '\0' ? h.senderName : h.senderAddress;
  size_t senderLength = strnlen(sender, kShownBytes);
  memcpy(line.bytes, sender, senderLength);
  char* subject = line.bytes + senderLength + 1;
  size_t subjectLength = strlen(h.subject);
  if (subjectLength > kShownBytes) {
    memcpy(subject, h.subject, kShownBytes - 2);
    memcpy(subject + kShownBytes - 2, "..", 2);
  } else {
    memcpy(subject, h.subject, subjectLength);
  }
  return line;
}

Judgement judgeMessage(const DecodedMessage& message, const Kel& kel) {
  return {classifyMessage(message.headers, kel.deleteList, kel.ignoreList), message.line};
}

Judgement judgeMessage(const char* response, const Kel& kel) {
  DecodedMessage message;
  decodeMessage(response, message);
  return judgeMessage(message, kel);
}

MessageVerdict applyJudgement(const Judgement& j, Kel& kel, int account, int lineSlot) {
  if (j.list == 1) {
    memmove(&kel.recentDeleted[1], &kel.recentDeleted[0], sizeof(MailLine) * (kRecentDeleted - 1));
    kel.recentDeleted[0] = j.line;
    memmove(&kel.recentDeletedMarkOnly[1], &kel.recentDeletedMarkOnly[0], kRecentDeleted - 1);
    kel.recentDeletedMarkOnly[0] = false;
    return kVerdictDelete;
  }
  if (j.list == 2) return kVerdictIgnore;

  if (lineSlot < 0 || lineSlot >= kMailLines || account < 0 || account >= kAccountSlots) {
    return kVerdictKeptUnlisted;
  }
  CheckResult& result = kel.results[account];
  result.lines[lineSlot] = j.line;
  if (result.lineState[lineSlot] == kLineEmpty) result.lineState[lineSlot] = kLineNew;
  return kVerdictKept;
}

MessageVerdict analyseMessage(const char* response, Kel& kel, int account, int lineSlot) {
  return applyJudgement(judgeMessage(response, kel), kel, account, lineSlot);
}
