// IMAP responses (RFC 9051) read one whole response at a time from a
// connection: the tagged or untagged status line with its response code,
// untagged data as tokens (atoms, quoted strings, literals, nested lists),
// and continuation requests. Only what a mail check uses is understood, and
// nothing past a limit is held: a literal is kept only up to a bound, or
// streamed through a keeper that holds its own bounded part of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Connection;

constexpr size_t kImapTextLimit = 65536;          // a status text, an atom, a quoted string, a kept literal
constexpr size_t kImapResponseLimit = 4u << 20;   // what one response may hold in memory
constexpr int kImapDepthLimit = 32;               // nested lists

struct ImapToken {
  enum Kind : uint8_t { kAtom, kString, kOpen, kClose };
  Kind kind;
  std::string text;  // the atom or the string; empty for the parentheses
};

struct ImapResponse {
  enum Kind { kUntagged, kTagged, kContinuation };
  Kind kind = kUntagged;
  std::string tag;
  // A status response: "OK", "NO", "BAD", "PREAUTH" or "BYE", in capitals;
  // empty for data.
  std::string status;
  std::string code;  // inside the "[...]" that begins its text, as sent
  std::string text;  // the rest of the status line, or the continuation's
  std::vector<ImapToken> data;  // untagged data after "*"
  void clear();
};

// Takes a literal's bytes as they arrive and makes the token's text of
// them, holding only what it chooses to.
class LiteralKeeper {
 public:
  virtual ~LiteralKeeper() = default;
  virtual void begin(uint64_t size) = 0;
  virtual void take(const char* bytes, size_t n) = 0;
  virtual std::string end() = 0;
};

enum class ImapRead {
  kOk,
  kReceiveFailed,  // the connection failed or closed
  kMalformed,      // not IMAP as this reader knows it
  kTooLong,        // past a limit of what is held
};

// The response's next bytes, and ones to come (the connection, or a test's
// feed). Returns false when nothing more can come.
class ImapSource {
 public:
  virtual ~ImapSource() = default;
  // At least one more byte in [*data, *data + *n), or false.
  virtual bool more(const char** data, size_t* n) = 0;
  // The first n bytes offered by more are used up.
  virtual void consume(size_t n) = 0;
};

// The connection's inbox as a source.
class ConnectionSource : public ImapSource {
 public:
  explicit ConnectionSource(Connection& c) : c_(c) {}
  bool more(const char** data, size_t* n) override;
  void consume(size_t n) override;

 private:
  Connection& c_;
};

// Reads the next whole response. Strings of untagged data go through
// keeper when one is given; else a literal is kept up to kImapTextLimit.
ImapRead readImapResponse(ImapSource& in, ImapResponse& out, LiteralKeeper* keeper = nullptr);

// Helpers over untagged data.
// The atom at i is a number of at most 32 bits: true and *value.
bool imapNumber(const ImapToken& t, uint32_t* value);
// The first n bytes of a are b's, in any letter case (b in capitals).
bool imapSameWord(const std::string& a, const char* b);
