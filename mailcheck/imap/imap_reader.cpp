#include "mailcheck/imap/imap_reader.h"

#include <cstring>

#include "mailcheck/connection.h"
#include "mailcheck/transport.h"

void ImapResponse::clear() {
  kind = kUntagged;
  tag.clear();
  status.clear();
  code.clear();
  text.clear();
  data.clear();
}

bool ConnectionSource::more(const char** data, size_t* n) {
  if (c_.inStart == c_.inEnd && receiveMore(c_) <= 0) return false;
  *data = c_.inbox + c_.inStart;
  *n = static_cast<size_t>(c_.inEnd - c_.inStart);
  return true;
}

void ConnectionSource::consume(size_t n) { c_.inStart += static_cast<int>(n); }

bool imapSameWord(const std::string& a, const char* b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    char c = a[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != b[i]) return false;
  }
  return true;
}

bool imapNumber(const ImapToken& t, uint32_t* value) {
  if (t.kind != ImapToken::kAtom || t.text.empty() || t.text.size() > 10) return false;
  uint64_t v = 0;
  for (char c : t.text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  if (v > 0xFFFFFFFFu) return false;
  *value = static_cast<uint32_t>(v);
  return true;
}

namespace {

class Parser {
 public:
  Parser(ImapSource& in, ImapResponse& out, LiteralKeeper* keeper) : in_(in), out_(out), keeper_(keeper) {}

  ImapRead run() {
    out_.clear();
    int c;
    if ((c = get()) < 0) return fail_;
    if (c == '+') return continuation();
    std::string first;
    if (c == '*') {
      if (!space()) return failed();
    } else {
      first.push_back(static_cast<char>(c));
      if (!word(first) || !space()) return failed();
      out_.kind = ImapResponse::kTagged;
      out_.tag = first;
    }
    std::string next;
    if (!word(next)) return failed();
    for (const char* s : {"OK", "NO", "BAD", "PREAUTH", "BYE"})
      if (imapSameWord(next, s)) return status(s);
    if (out_.kind == ImapResponse::kTagged) return ImapRead::kMalformed;
    if (!hold(next.size())) return failed();
    out_.data.push_back({ImapToken::kAtom, next});
    return tokens();
  }

 private:
  // -1 with fail_ set when no byte comes.
  int peek() {
    if (n_ == 0 && !in_.more(&p_, &n_)) {
      fail_ = ImapRead::kReceiveFailed;
      return -1;
    }
    return static_cast<unsigned char>(*p_);
  }
  int get() {
    int c = peek();
    if (c >= 0) {
      ++p_;
      --n_;
      in_.consume(1);
    }
    return c;
  }
  ImapRead failed() { return fail_; }
  bool bad(ImapRead why) {
    fail_ = why;
    return false;
  }
  bool hold(size_t bytes) {
    held_ += bytes + 16;
    return held_ <= kImapResponseLimit || bad(ImapRead::kTooLong);
  }
  bool space() {
    int c = get();
    return c == ' ' || (c >= 0 && bad(ImapRead::kMalformed));
  }
  // The rest of the line up to its LF, CR LF removed.
  bool restOfLine(std::string& s) {
    for (;;) {
      int c = get();
      if (c < 0) return false;
      if (c == '\n') break;
      if (s.size() >= kImapTextLimit) return bad(ImapRead::kTooLong);
      s.push_back(static_cast<char>(c));
    }
    if (!s.empty() && s.back() == '\r') s.pop_back();
    return hold(s.size());
  }
  static bool special(int c) { return c == ' ' || c == '(' || c == ')' || c == '\r' || c == '\n' || c == '"' || c == '{'; }
  // An atom; "[" opens a section that runs to its "]" whatever it holds.
  bool word(std::string& s, int depth = 0) {
    for (;;) {
      int c = peek();
      if (c < 0) return false;
      if (depth == 0 && special(c)) break;
      if (c == '\r' || c == '\n') break;
      if (c == '[') ++depth;
      if (c == ']' && depth > 0) --depth;
      if (s.size() >= kImapTextLimit) return bad(ImapRead::kTooLong);
      s.push_back(static_cast<char>(get()));
    }
    return !s.empty() || bad(ImapRead::kMalformed);
  }
  ImapRead continuation() {
    out_.kind = ImapResponse::kContinuation;
    if (peek() == ' ') get();
    if (fail_ != ImapRead::kOk || !restOfLine(out_.text)) return failed();
    return ImapRead::kOk;
  }
  ImapRead status(const char* s) {
    out_.status = s;
    std::string text;
    int c = peek();
    if (c < 0) return failed();
    if (c == ' ') get();
    if (!restOfLine(text)) return failed();
    if (!text.empty() && text[0] == '[') {
      size_t end = text.find(']');
      if (end != std::string::npos) {
        out_.code = text.substr(1, end - 1);
        size_t from = end + 1 < text.size() && text[end + 1] == ' ' ? end + 2 : end + 1;
        text.erase(0, from);
      }
    }
    out_.text = text;
    return ImapRead::kOk;
  }
  bool quoted(std::string& s) {
    for (;;) {
      int c = get();
      if (c < 0) return false;
      if (c == '"') return hold(s.size());
      if (c == '\r' || c == '\n') return bad(ImapRead::kMalformed);
      if (c == '\\' && (c = get()) < 0) return false;
      if (s.size() >= kImapTextLimit) return bad(ImapRead::kTooLong);
      s.push_back(static_cast<char>(c));
    }
  }
  bool literal(std::string& s) {
    uint64_t size = 0;
    int digits = 0, c;
    while ((c = get()) >= '0' && c <= '9') {
      if (++digits > 12) return bad(ImapRead::kMalformed);
      size = size * 10 + static_cast<uint64_t>(c - '0');
    }
    if (c == '+') c = get();
    if (c < 0) return false;
    if (c != '}' || digits == 0) return bad(ImapRead::kMalformed);
    if ((c = get()) == '\r') c = get();
    if (c < 0) return false;
    if (c != '\n') return bad(ImapRead::kMalformed);
    if (!keeper_ && size > kImapTextLimit) return bad(ImapRead::kTooLong);
    if (keeper_) keeper_->begin(size);
    while (size > 0) {
      if (peek() < 0) return false;
      size_t take = n_ < size ? n_ : static_cast<size_t>(size);
      if (keeper_)
        keeper_->take(p_, take);
      else
        s.append(p_, take);
      p_ += take;
      n_ -= take;
      size -= take;
      in_.consume(take);
    }
    if (keeper_) s = keeper_->end();
    return hold(s.size());
  }
  ImapRead tokens() {
    int depth = 0;
    for (;;) {
      int c = get();
      if (c < 0) return failed();
      if (c == ' ' || c == '\r') continue;
      if (c == '\n') return depth == 0 ? ImapRead::kOk : ImapRead::kMalformed;
      ImapToken t{ImapToken::kAtom, {}};
      if (c == '(') {
        if (++depth > kImapDepthLimit) return ImapRead::kMalformed;
        t.kind = ImapToken::kOpen;
      } else if (c == ')') {
        if (--depth < 0) return ImapRead::kMalformed;
        t.kind = ImapToken::kClose;
      } else if (c == '"') {
        t.kind = ImapToken::kString;
        if (!quoted(t.text)) return failed();
        if (keeper_) {  // a string is a string, however it came
          keeper_->begin(t.text.size());
          keeper_->take(t.text.data(), t.text.size());
          t.text = keeper_->end();
        }
      } else if (c == '{') {
        t.kind = ImapToken::kString;
        if (!literal(t.text)) return failed();
      } else {
        t.text.push_back(static_cast<char>(c));
        if (peek() >= 0 && !special(peek()) && !word(t.text, c == '[')) return failed();
        if (fail_ != ImapRead::kOk) return failed();
      }
      if (!hold(t.text.size())) return failed();
      out_.data.push_back(std::move(t));
    }
  }

  ImapSource& in_;
  ImapResponse& out_;
  LiteralKeeper* keeper_;
  const char* p_ = nullptr;
  size_t n_ = 0;
  size_t held_ = 0;
  ImapRead fail_ = ImapRead::kOk;
};

}  // namespace

ImapRead readImapResponse(ImapSource& in, ImapResponse& out, LiteralKeeper* keeper) {
  Parser p(in, out, keeper);
  return p.run();
}
