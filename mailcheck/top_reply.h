// A TOP reply read as it streams in, of any size, keeping only what the
// header scan reads: the status line, the From, Subject and To headers with
// everything their parsers can reach, and the end of the header block. The
// analysis of the kept text is that of the whole reply with each kept header
// longer than the cap cut to its first `cap` bytes, its line end kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr size_t kHeaderKeep = 16384;  // at most this much of each kept header

class TopReplyReader {
 public:
  explicit TopReplyReader(size_t cap = kHeaderKeep);

  // The status line as read, CR LF included.
  void start(const char* statusLine, size_t length);
  // Takes the reply's bytes that follow; returns how many it took. It stops
  // right after the terminating "." line, leaving the rest to the next reply.
  size_t feed(const char* data, size_t length);
  bool complete() const { return complete_; }
  // A kept header was longer than the cap and lost its rest.
  bool truncated() const { return truncated_; }
  // The kept reply, NUL-terminated, once complete.
  const char* text() const { return text_.c_str(); }

 private:
  enum Name : uint8_t { kNoName = 0, kFrom = 1, kSubject = 2, kTo = 4 };
  // A run of kept lines: from a line that begins with a kept header's name
  // to the end of what that header's parser can read.
  struct Region {
    std::string bytes;
    uint8_t names = 0;  // the kept headers that begin inside it
    bool pinned = false;
  };

  void scan(char b);
  void beginLine(char b);
  void classify(char b);
  bool closesRegion(char b) const;
  void keep(char b);
  void cut(char b);
  void skip(char b);
  void openRegion(Name name);
  void closeRegion();
  void finish();

  size_t cap_;
  std::vector<Region> regions_;
  bool open_ = false;        // the last region takes the next lines
  bool inHeaders_ = true;    // the scan goes on (no empty line met yet)
  bool lineStart_ = false;   // the next byte begins a line of the scan
  bool afterCr_ = false;     // the last byte was a CR
  bool crAfterLf_ = false;   // ... and the byte before it an LF
  bool mayClose_ = false;    // the last line ended in a CR LF that can end a header
  bool keeping_ = false;     // this line's bytes go into the open region
  bool classifying_ = false; // this line's name is still being compared
  Name candidate_ = kNoName;
  size_t matched_ = 0;       // bytes of the candidate's name matched so far
  std::string head_;         // the undecided start of a line outside any region
  bool needEmptyLine_ = false;
  bool frozen_ = false;      // a NUL byte: the analysis reads nothing after it
  char prev_ = '\0';
  char last_ = '\0';        // the byte before, for the scan
  bool crlfStart_ = true;    // the next byte begins a CR LF line (the framing)
  int dots_ = 0;             // bytes of ". CR LF" matched at such a line's start
  bool complete_ = false;
  bool truncated_ = false;
  bool ending_ = false;      // the line end of a cut region is being scanned
  bool skipping_ = false;    // the rest of a cut region goes by unread
  char skipped_[3] = {};     // its last three bytes, to find where it ends
  std::string text_;
};
