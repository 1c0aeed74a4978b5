// The maildrop's unique ids (UIDL) and what the header cache knows of
// them: a check with ids reads with TOP only the messages the cache lacks.
// A listing that cannot be used leaves the check without ids, reading
// every message as a server without UIDL would have it.
#include <cstring>

#include "mailcheck/pop3/pop3_conversation.h"
#include "mailcheck/transport.h"
#include "mailcheck/pop3/uidl.h"
#include "platform/trace.h"

// The listing, read to its "." line whatever it holds; its lines are not
// traced. False for a failure of the session.
bool Pop3Conversation::readIdListing(int total) {
  size_t budget = 0;
  if (!publish([&] {
        t_.kel.headerCache.hold(0);  // what a session given up may have left
        budget = t_.kel.headerCache.room();
      }))
    return false;
  UidlListing listing(total, budget);
  for (;;) {
    int n = readLine(t_.connection, buf_);
    if (n < 0) return receiveFailed(kErrorReceiveFailed);
    if (n == 3 && memcmp(buf_, ".\r\n", 3) == 0) break;
    listing.take(buf_, static_cast<size_t>(n));
  }
  withIds_ = listing.finish(ids_);
  if (listing.tooLarge()) platform::trace("UIDLの一覧がメモリに収まらないので、IDなしで読みます\n");
  return !withIds_ || publish([&] { t_.kel.headerCache.hold(listing.charged()); });
}

bool Pop3Conversation::learnIds(int total, bool ask, bool sent) {
  withIds_ = false;
  std::vector<std::string>().swap(ids_);
  std::vector<PackedHeaders>().swap(known_);
  if (ask) {
    if (!sent && !sendCommand("UIDL\r\n")) return false;
    if (!readReply()) return false;
    if (replyClass() == kPositive && !readIdListing(total)) return false;
  }
  int toRead = total > 0 ? total : 0;
  if (withIds_ && !lookUpKnown(toRead)) return false;
  platform::tracef("ID %d件、TOP %d件\n", static_cast<int>(ids_.size()), toRead);
  return true;
}
