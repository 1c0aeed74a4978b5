// The IMAP response reader over responses fed a few bytes at a time.
#include <gtest/gtest.h>

#include <string>

#include "mailcheck/imap/imap_reader.h"

namespace {

class Feed : public ImapSource {
 public:
  Feed(std::string bytes, size_t step) : bytes_(std::move(bytes)), step_(step) {}
  bool more(const char** data, size_t* n) override {
    if (at_ >= bytes_.size()) return false;
    *data = bytes_.data() + at_;
    *n = std::min(step_, bytes_.size() - at_);
    return true;
  }
  void consume(size_t n) override { at_ += n; }
  size_t left() const { return bytes_.size() - at_; }

 private:
  std::string bytes_;
  size_t step_;
  size_t at_ = 0;
};

// The response as one line: kind, tag, status, [code], text, then the
// data with strings in <> and lists in ().
std::string shown(const ImapResponse& r) {
  std::string s = r.kind == ImapResponse::kTagged ? "T:" + r.tag : r.kind == ImapResponse::kUntagged ? "*" : "+";
  if (!r.status.empty()) s += " " + r.status + " [" + r.code + "] " + r.text;
  for (const ImapToken& t : r.data)
    s += t.kind == ImapToken::kOpen ? " (" : t.kind == ImapToken::kClose ? " )" :
         t.kind == ImapToken::kString ? " <" + t.text + ">" : " " + t.text;
  return s;
}

class CountingKeeper : public LiteralKeeper {
 public:
  void begin(uint64_t size) override { size_ = size, taken_ = 0; }
  void take(const char*, size_t n) override { taken_ += n; }
  std::string end() override { return std::to_string(size_) + "/" + std::to_string(taken_); }
  uint64_t size_ = 0, taken_ = 0;
};

}  // namespace

// A literal through a keeper (`kept`) is streamed whatever its size; many
// small tokens still count against what one response may hold.
TEST(ImapReader, ResponsesAndLimits) {
  const std::string big(3 * kImapTextLimit, 'h'), bigSize = std::to_string(big.size());
  std::string many = "* SEARCH";
  while (many.size() < kImapResponseLimit) many += " 1";
  struct Case {
    std::string in;
    ImapRead want;
    std::string shows;  // for kOk
    size_t left;        // bytes of the next response left unread
    bool kept = false;
  } cases[] = {
      {"* OK [CAPABILITY IMAP4rev1 UIDPLUS] hi there\r\nk1", ImapRead::kOk, "* OK [CAPABILITY IMAP4rev1 UIDPLUS] hi there", 2},
      {"k7 no [AUTHENTICATIONFAILED] bad\r\n", ImapRead::kOk, "T:k7 NO [AUTHENTICATIONFAILED] bad", 0},
      {"k2 OK\r\n", ImapRead::kOk, "T:k2 OK [] ", 0},
      {"+ \r\n", ImapRead::kOk, "+", 0},
      {"* SEARCH 2 10 7\r\n", ImapRead::kOk, "* SEARCH 2 10 7", 0},
      {"* 5 EXISTS\n", ImapRead::kOk, "* 5 EXISTS", 0},
      {"* 1 FETCH (UID 4 BODY[HEADER.FIELDS (FROM TO)] {5}\r\na\r\n)b FLAGS (\\Seen (x)))\r\n", ImapRead::kOk,
       "* 1 FETCH ( UID 4 BODY[HEADER.FIELDS (FROM TO)] <a\r\n)b> FLAGS ( \\Seen ( x ) ) )", 0},
      {"* 2 FETCH (BODY[] \"q \\\"x\\\\\" NIL)\r\n", ImapRead::kOk, "* 2 FETCH ( BODY[] <q \"x\\> NIL )", 0},
      {"* 3 FETCH (X {0}\r\n)\r\n", ImapRead::kOk, "* 3 FETCH ( X <> )", 0},
      {"* 1 FETCH (BODY[] {" + bigSize + "}\r\n" + big + ")\r\n", ImapRead::kOk,
       "* 1 FETCH ( BODY[] <" + bigSize + "/" + bigSize + "> )", 0, true},
      {"* 1 FETCH (UID 4\r\n", ImapRead::kMalformed, "", 0},
      {"* 1 FETCH )\r\n", ImapRead::kMalformed, "", 0},
      {"* X {12x}\r\n", ImapRead::kMalformed, "", 0},
      {"* X {9999999999999}\r\n", ImapRead::kMalformed, "", 0},
      {"* X \"open\r\n\"\r\n", ImapRead::kMalformed, "", 0},
      {"k1 FETCH x\r\n", ImapRead::kMalformed, "", 0},
      {"* X " + std::string(40, '(') + "\r\n", ImapRead::kMalformed, "", 0},
      {"* X {10}\r\nshort", ImapRead::kReceiveFailed, "", 0},
      {"* OK never ends", ImapRead::kReceiveFailed, "", 0},
      {"* OK " + std::string(kImapTextLimit + 1, 'x'), ImapRead::kTooLong, "", 0},
      {"* X {" + std::to_string(kImapTextLimit + 1) + "}\r\n", ImapRead::kTooLong, "", 0},
      {many + "\r\n", ImapRead::kTooLong, "", 0},
      {"", ImapRead::kReceiveFailed, "", 0},
  };
  for (const Case& c : cases) {
    for (size_t step : {1u, 7u, 4096u}) {
      Feed feed(c.in, step);
      ImapResponse r;
      CountingKeeper keeper;
      EXPECT_EQ(c.want, readImapResponse(feed, r, c.kept ? &keeper : nullptr)) << c.in.substr(0, 60) << " step " << step;
      if (c.want != ImapRead::kOk) continue;
      EXPECT_EQ(c.shows, shown(r)) << c.in;
      EXPECT_EQ(c.left, feed.left()) << c.in;
    }
  }
}
