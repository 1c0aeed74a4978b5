#include "mailcheck/top_reply.h"

#include <cstring>

// The header scan and its parsers work on the NUL-terminated reply: a line
// for the scan begins after every CR (and the LF after it); a header's
// parser reads on across folds, bare CRs and bare LFs, but never past a
// CR LF that is followed by a byte other than a blank unless that CR comes
// right after an LF (the Subject and To collector steps over the byte after
// each LF). Such a CR LF closes a region; lines outside every region can be
// dropped without changing what any parser or the scan reads, and of the
// regions only the last one that holds each name matters (each From,
// Subject or To line replaces what the one before it set).

namespace {
const char* nameText(uint8_t name) {
  switch (name) {
    case 1: return "From:";
    case 2: return "Subject:";
    default: return "To:";
  }
}
bool isBlank(char c) { return c == ' ' || c == '\t'; }
}  // namespace

TopReplyReader::TopReplyReader(size_t cap) : cap_(cap) {}

void TopReplyReader::start(const char* statusLine, size_t length) {
  // The status line is never examined by the scan, but a bare CR in it
  // begins a line that is.
  regions_.push_back(Region());
  regions_.back().pinned = true;
  open_ = true;
  keeping_ = true;
  for (size_t i = 0; i < length && !frozen_; ++i) scan(statusLine[i]);
  crlfStart_ = true;
  prev_ = '\n';
}

size_t TopReplyReader::feed(const char* data, size_t length) {
  size_t i = 0;
  while (i < length && !complete_) {
    char b = data[i++];
    if (crlfStart_) {
      dots_ = b == '.' ? 1 : 0;
    } else if (dots_ == 1) {
      dots_ = b == '\r' ? 2 : 0;
    } else if (dots_ == 2) {
      dots_ = 0;
      if (b == '\n') complete_ = true;
    }
    crlfStart_ = prev_ == '\r' && b == '\n';
    prev_ = b;
    if (!frozen_) scan(b);
  }
  if (complete_) finish();
  return i;
}

// True when b begins a line that ends the open region.
bool TopReplyReader::closesRegion(char b) const { return !afterCr_ && lineStart_ && mayClose_ && !isBlank(b); }

void TopReplyReader::scan(char b) {
  if (skipping_) {
    skip(b);
    return;
  }
  if (open_ && !ending_ && regions_.back().bytes.size() >= cap_ && !closesRegion(b)) {
    cut(b);
    return;
  }
  if (b == '\0') {
    frozen_ = true;  // the analysis reads the reply as a C string
    return;
  }
  char before = last_;
  last_ = b;
  if (afterCr_) {
    afterCr_ = false;
    if (b == '\n') {  // the end of the line the CR ended
      if (keeping_) keep(b);
      mayClose_ = !crAfterLf_;
      return;
    }
    mayClose_ = false;
  }
  if (lineStart_) {
    lineStart_ = false;
    beginLine(b);
  } else if (classifying_) {
    classify(b);
  } else if (keeping_) {
    keep(b);
  }
  if (b == '\r') {
    if (classifying_ && !keeping_) head_.clear();  // no name before the line's end
    classifying_ = false;
    afterCr_ = true;
    crAfterLf_ = before == '\n';
    lineStart_ = true;
  }
}

void TopReplyReader::beginLine(char b) {
  if (open_ && mayClose_ && !isBlank(b)) closeRegion();
  mayClose_ = false;
  keeping_ = open_;
  classifying_ = false;
  if (inHeaders_ && b == '\r') {
    inHeaders_ = false;  // the empty line: the scan stops here
    if (!open_) needEmptyLine_ = true;
  } else if (inHeaders_) {
    candidate_ = b == 'F' ? kFrom : b == 'S' ? kSubject : b == 'T' ? kTo : kNoName;
    if (candidate_ != kNoName) {
      classifying_ = true;
      matched_ = 0;
      head_.clear();
    }
  }
  if (classifying_) {
    classify(b);
  } else if (keeping_) {
    keep(b);
  }
}

void TopReplyReader::classify(char b) {
  if (keeping_) {
    keep(b);
  } else {
    head_ += b;
  }
  const char* name = nameText(candidate_);
  if (b != name[matched_]) {
    classifying_ = false;
    if (!keeping_) head_.clear();  // another header: dropped
    return;
  }
  if (name[++matched_] != '\0') return;
  classifying_ = false;
  if (!keeping_) {
    openRegion(candidate_);
  } else {
    regions_.back().names |= candidate_;  // the whole name was kept
  }
}

void TopReplyReader::keep(char b) { regions_.back().bytes += b; }

// The open region is full and b would go on with it. It ends here as if
// the reply said so: its line end follows at once (after a blank
// continuation when the cut falls within a line end, so that neither an
// empty line nor a CR after an LF comes of it), and the rest of the
// region, up to the line that would have ended it, is passed over unread.
void TopReplyReader::cut(char b) {
  truncated_ = true;
  const std::string& bytes = regions_.back().bytes;
  for (size_t i = 0; i < 3; ++i) skipped_[i] = bytes.size() + i >= 3 ? bytes[bytes.size() + i - 3] : '\0';
  const char* lineEnd = bytes.back() == '\r' ? "\n \r\n" : bytes.back() == '\n' ? " \r\n" : "\r\n";
  ending_ = true;
  for (const char* p = lineEnd; *p; ++p) scan(*p);
  ending_ = false;
  skipping_ = true;
  skip(b);
}

// The rest of a cut region: only its end is looked for, where a CR LF
// (its CR not right after an LF) is followed by a byte other than a blank.
void TopReplyReader::skip(char b) {
  bool ends = skipped_[1] == '\r' && skipped_[2] == '\n' && skipped_[0] != '\n' && !isBlank(b);
  if (ends) {
    skipping_ = false;
    scan(b);
    return;
  }
  skipped_[0] = skipped_[1];
  skipped_[1] = skipped_[2];
  skipped_[2] = b;
}

void TopReplyReader::openRegion(Name name) {
  regions_.push_back(Region());
  Region& r = regions_.back();
  if (head_.size() > cap_) {
    head_.resize(cap_);
    truncated_ = true;
  }
  r.bytes.swap(head_);
  r.names = name;
  open_ = true;
  keeping_ = true;
}

void TopReplyReader::closeRegion() {
  open_ = false;
  uint8_t later = 0;  // names that begin in a later region
  for (size_t i = regions_.size(); i-- > 0;) {
    Region& r = regions_[i];
    bool needed = r.pinned || (r.names & ~later) != 0;
    later |= r.names;
    if (!needed) regions_.erase(regions_.begin() + static_cast<std::ptrdiff_t>(i));
  }
}

void TopReplyReader::finish() {
  text_.clear();
  for (const Region& r : regions_) text_ += r.bytes;
  if (frozen_) return;  // nothing after a NUL was ever read
  if (needEmptyLine_) text_ += "\r\n";
  if (!open_) text_ += ".\r\n";  // else the open region holds it already
}
