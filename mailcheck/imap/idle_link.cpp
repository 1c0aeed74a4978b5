#include "mailcheck/imap/idle_link.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "mailcheck/imap/imap_reader.h"
#include "mailcheck/transport.h"
#include "platform/net.h"
#include "platform/trace.h"

namespace {

std::string word(const std::string& line, size_t* at) {
  size_t p = *at;
  while (p < line.size() && line[p] == ' ') ++p;
  size_t e = line.find(' ', p);
  if (e == std::string::npos) e = line.size();
  *at = e;
  return line.substr(p, e - p);
}

bool allDigits(const std::string& s) {
  if (s.empty()) return false;
  for (unsigned char c : s)
    if (!isdigit(c)) return false;
  return true;
}

}  // namespace

IdleLine classifyIdleLine(const std::string& line, const char* tag) {
  size_t at = 0;
  std::string first = word(line, &at);
  if (first == "+") return IdleLine::kContinuation;
  if (first == "*") {
    std::string second = word(line, &at);
    if (imapSameWord(second, "BYE") && second.size() == 3) return IdleLine::kBye;
    if (!allDigits(second)) return IdleLine::kOther;
    std::string third = word(line, &at);
    for (const char* w : {"EXISTS", "EXPUNGE", "FETCH"})
      if (third.size() == strlen(w) && imapSameWord(third, w)) return IdleLine::kEvent;
    return IdleLine::kOther;
  }
  if (tag[0] == '\0' || first != tag) return IdleLine::kOther;
  std::string status = word(line, &at);
  if (status.size() == 2 && imapSameWord(status, "OK")) return IdleLine::kTaggedOk;
  return IdleLine::kTaggedRefused;
}

int64_t trailingLiteral(const std::string& line) {
  if (line.empty() || line.back() != '}') return -1;
  size_t open = line.rfind('{');
  if (open == std::string::npos) return -1;
  std::string digits = line.substr(open + 1, line.size() - open - 2);
  if (!digits.empty() && digits.back() == '+') digits.pop_back();
  if (!allDigits(digits) || digits.size() > 12) return -1;
  return std::stoll(digits);
}

bool byeSaysTokenExpired(const std::string& line) {
  std::string upper;
  for (unsigned char c : line) upper += static_cast<char>(toupper(c));
  return upper.find("ACCESSTOKENEXPIRED") != std::string::npos ||
         upper.find("TOKEN EXPIRED") != std::string::npos;
}

IdleLink::~IdleLink() { close(); }

void IdleLink::attach(std::unique_ptr<Connection> c) {
  close();
  conn = std::move(c);
  conn->watch = &watch;
  line_.clear();
  literalLeft_ = 0;
}

bool IdleLink::command(const char* verb) {
  snprintf(tag, sizeof tag, "i%u", ++tagNumber);
  return sendRaw(std::string(tag) + " " + verb + "\r\n");
}

// Commands here are a few bytes: a socket that cannot take them at once
// has a peer that stopped reading, and the link is made again.
bool IdleLink::sendRaw(const std::string& bytes) {
  if (!conn) return false;
  platform::tracef("IDLE> %s", bytes.c_str());
  Connection& c = *conn;
  int n;
  if (c.useTls) {
    ERR_clear_error();
    n = SSL_write(c.tls, bytes.data(), static_cast<int>(bytes.size()));
  } else {
    n = platform::socketSend(c.sock, bytes.data(), static_cast<int>(bytes.size()));
  }
  if (n == static_cast<int>(bytes.size())) return true;
  close();
  return false;
}

int IdleLink::receiveNow() {
  Connection& c = *conn;
  if (c.inStart == c.inEnd) c.inStart = c.inEnd = 0;
  int room = kInboxSize - c.inEnd;
  if (room <= 0) return -1;
  if (c.useTls) {
    ERR_clear_error();
    int n = SSL_read(c.tls, c.inbox + c.inEnd, room);
    if (n <= 0) {
      int kind = SSL_get_error(c.tls, n);
      return kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE ? 0 : -1;
    }
    c.inEnd += n;
    return n;
  }
  int n = platform::socketReceive(c.sock, c.inbox + c.inEnd, room);
  if (n == platform::kWouldBlock) return 0;
  if (n <= 0) return -1;
  c.inEnd += n;
  return n;
}

bool IdleLink::buffered() const { return conn && conn->useTls && conn->tls && SSL_pending(conn->tls) > 0; }

void IdleLink::logoutNow() {
  if (!conn) return;
  std::string bytes = state == kIdling || state == kStarting ? "DONE\r\n" : "";
  snprintf(tag, sizeof tag, "i%u", ++tagNumber);
  bytes += std::string(tag) + " LOGOUT\r\n";
  sendRaw(bytes);
  close();
}

void IdleLink::close() {
  if (!conn) return;
  closeConnection(*conn);
  conn.reset();
}
