// Where a session's worker begins: the account's protocol, its
// conversation, and what it lets out.
#include <cstring>
#include <mutex>

#include "app/application.h"
#include "mailcheck/failure_reason.h"
#include "mailcheck/imap/imap_session.h"
#include "mailcheck/pop3/pop3_conversation.h"
#include "mailcheck/transport.h"
#include "platform/trace.h"

namespace {

// The worker's entry: what the session lets out fails the check with the
// words for it (code 0), as given up, and the program goes on.
int caughtSession(SessionTask& t, bool connected) {
  Reason why;
  int rc = 1;
  if (caughtInto(why, [&] {
        if (t.account.protocol == kProtocolImap) {
          rc = connected ? runImapSessionOnConnection(t) : runImapSession(t);
        } else {
          Pop3Conversation session(t);
          rc = connected ? session.converse() : session.run();
        }
      }))
    return rc;
  platform::tracef("エラ～発生！ %s\n", why);
  closeConnection(t.connection);
  std::lock_guard<std::mutex> g(t.kel.checkLock);
  int slot = t.abandoned ? -1 : accountSlot(t.kel, t.accountId);
  if (slot >= 0) {
    t.kel.results[slot].errorCode = kErrorNone;
    memcpy(t.kel.results[slot].reason, why, sizeof why);
    t.kel.sessionState = kSessionFailed;
  }
  return 1;
}

}  // namespace

int runSession(SessionTask& task) { return caughtSession(task, false); }

int runSessionOnConnection(SessionTask& task) { return caughtSession(task, true); }
