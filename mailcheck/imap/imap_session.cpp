// An IMAP check up to the mailbox: connection, greeting, STARTTLS,
// login, and LOGOUT at the end.
#include <cstdio>
#include <cstring>
#include <string>

#include "mailcheck/imap/imap_conversation.h"
#include "mailcheck/imap/imap_session.h"
#include "platform/codepage.h"
#include "platform/secret.h"
#include "platform/trace.h"

void noteImapCapabilities(const std::vector<std::string>& words, ImapCapabilities& caps) {
  caps = ImapCapabilities{};
  caps.known = true;
  for (const std::string& w : words) {
    if (imapSameWord(w, "STARTTLS")) caps.starttls = true;
    if (imapSameWord(w, "LOGINDISABLED")) caps.loginDisabled = true;
    if (imapSameWord(w, "AUTH=PLAIN")) caps.authPlain = true;
    if (imapSameWord(w, "SASL-IR")) caps.saslIr = true;
    if (imapSameWord(w, "LITERAL+")) caps.literalPlus = true;
    if (imapSameWord(w, "UIDPLUS")) caps.uidplus = true;
    if (imapSameWord(w, "IDLE")) caps.idle = true;
    if (imapSameWord(w, "AUTH=XOAUTH2")) caps.saslXoauth2 = true;
    if (imapSameWord(w, "AUTH=OAUTHBEARER")) caps.saslOauthbearer = true;
  }
}

namespace {

std::vector<std::string> words(const std::string& s) {
  std::vector<std::string> out;
  size_t p = 0;
  while (p < s.size()) {
    size_t e = s.find(' ', p);
    if (e == std::string::npos) e = s.size();
    if (e > p) out.push_back(s.substr(p, e - p));
    p = e + 1;
  }
  return out;
}

// EXISTS, EXPUNGE, or a FETCH that carries no header section (flags).
bool changesMailbox(const ImapResponse& r) {
  if (r.data.size() < 2) return false;
  const std::string& what = r.data[1].text;
  if (what.size() == 6 && imapSameWord(what, "EXISTS")) return true;
  if (what.size() == 7 && imapSameWord(what, "EXPUNGE")) return true;
  if (what.size() != 5 || !imapSameWord(what, "FETCH")) return false;
  for (const ImapToken& t : r.data)
    if (t.kind == ImapToken::kAtom && t.text.size() > 5 && imapSameWord(t.text.substr(0, 5), "BODY[")) return false;
  return true;
}

// A string for a command: quoted when it can be, else a literal.
bool quotable(const std::string& s) {
  if (s.size() > 1000) return false;
  for (unsigned char c : s)
    if (c == 0 || c == '\r' || c == '\n' || c >= 0x80) return false;
  return true;
}

std::string quoted(const std::string& s) {
  std::string q = "\"";
  for (char c : s) {
    if (c == '"' || c == '\\') q += '\\';
    q += c;
  }
  return q + "\"";
}

}  // namespace

void ImapConversation::noteCode(const std::string& code) {
  if (code.size() > 11 && imapSameWord(code.substr(0, 11), "CAPABILITY ")) {
    noteImapCapabilities(words(code.substr(11)), caps_);
  } else if (code.size() > 12 && imapSameWord(code.substr(0, 12), "UIDVALIDITY ")) {
    ImapToken t{ImapToken::kAtom, code.substr(12)};
    uint32_t v = 0;
    if (imapNumber(t, &v)) uidValidity_ = v;
  }
}

bool ImapConversation::send(const std::string& bytes, const char* traced) {
  platform::trace(traced);
  if (sendAll(t_.connection, bytes.data(), static_cast<int>(bytes.size())) < 0) {
    platform::trace("サーバへの送信に失敗しました。\n");
    linkFailed(kErrorSendFailed, kErrorSendFailed);
    return false;
  }
  return true;
}

// "<tag> <text>" CR LF; `traced` in the trace instead when it holds a secret.
bool ImapConversation::command(const std::string& text, const char* traced) {
  snprintf(tag_, sizeof tag_, "k%u", ++tagNumber_);
  std::string line = std::string(tag_) + " " + text + "\r\n";
  std::string shown = traced ? std::string(tag_) + " " + traced + "\n" : line;
  return send(line, shown.c_str());
}

bool ImapConversation::readFailed(ImapRead why) {
  if (why == ImapRead::kReceiveFailed) {
    if (!bye_.empty()) {  // it said why it went away
      platform::trace("エラー\n");
      Reason reason;
      replyReason(bye_.data(), bye_.size(), reason);
      setFailure(kErrorNotPositive, reason);
      return false;
    }
    platform::trace("サーバからの受信に失敗しました。\n");
    linkFailed(kErrorReceiveFailed, kErrorReceiveFailed);
    return false;
  }
  return failWith(kErrorNotPositive, why == ImapRead::kTooLong ? "IMAP: 応答が長すぎます" : "IMAP: 応答を読めません");
}

// A status response as it came, the data of others being long.
void ImapConversation::traceStatus() {
  std::string line = (r_.kind == ImapResponse::kTagged ? r_.tag : std::string("*")) + " " + r_.status;
  if (!r_.code.empty()) line += " [" + r_.code + "]";
  if (!r_.text.empty()) line += " " + r_.text;
  platform::trace((line + "\n").c_str());
}

// The status line, as the server's words.
bool ImapConversation::refused(ErrorCode code) {
  platform::trace("エラー\n");
  std::string line = r_.status;
  if (!r_.code.empty()) line += " [" + r_.code + "]";
  if (!r_.text.empty()) line += " " + r_.text;
  Reason reason;
  replyReason(line.data(), line.size(), reason);
  setFailure(code, reason);
  return false;
}

// Reads up to the tagged response of the last command; untagged data goes
// to onData. A continuation request ends the wait only when asked for.
ImapConversation::Tagged ImapConversation::await(const std::function<void(const ImapResponse&)>& onData,
                                                 bool continuation, LiteralKeeper* keeper) {
  for (;;) {
    ImapRead rc = readImapResponse(in_, r_, keeper);
    if (rc != ImapRead::kOk) {
      readFailed(rc);
      return kFailed;
    }
    if (r_.kind == ImapResponse::kContinuation) {
      platform::tracef("+ %s\n", r_.text.c_str());
      if (continuation) return kContinue;
      failWith(kErrorNotPositive, "IMAP: 予期しない継続要求です");
      return kFailed;
    }
    if (!r_.status.empty()) {
      traceStatus();
      noteCode(r_.code);
    }
    if (r_.kind == ImapResponse::kUntagged) {
      if (r_.status == "BYE") bye_ = "BYE " + r_.text;
      if (r_.status.empty() && changesMailbox(r_)) t_.mailboxChanged = true;
      if (r_.status.empty() && !r_.data.empty() && imapSameWord(r_.data[0].text, "CAPABILITY")) {
        std::vector<std::string> w;
        for (size_t i = 1; i < r_.data.size(); ++i) w.push_back(r_.data[i].text);
        noteImapCapabilities(w, caps_);
      } else if (r_.status.empty() && onData) {
        onData(r_);
      }
      continue;
    }
    if (r_.tag != tag_) continue;  // not ours: an older command's, or noise
    return r_.status == "OK" ? kOk : r_.status == "NO" ? kNo : kBad;
  }
}

bool ImapConversation::greeting() {
  ImapRead rc = readImapResponse(in_, r_);
  if (rc == ImapRead::kReceiveFailed) {
    platform::trace("サーバからの受信に失敗しました。\n");
    linkFailed(kErrorSendFailed, kErrorReceiveFailed);
    return false;
  }
  if (rc != ImapRead::kOk) return readFailed(rc);
  traceStatus();
  if (r_.kind != ImapResponse::kUntagged || (r_.status != "OK" && r_.status != "PREAUTH"))
    return refused(kErrorNotPositive);
  preauth_ = r_.status == "PREAUTH";
  noteCode(r_.code);
  return true;
}

bool ImapConversation::askCapabilities() {
  caps_ = ImapCapabilities{};
  if (!command("CAPABILITY")) return false;
  return expectOk(await());
}

// As for POP3's STLS: a pinned or OAuth2 account never goes on in clear;
// one without a pin does, on this connection or a new one that asks for no STARTTLS.
ImapConversation::Link ImapConversation::secureLink() {
  return caps_.starttls && !clearOnly_ ? upgrade() : withoutUpgrade("STARTTLS");
}

// STARTTLS (RFC 9051 section 6.2.1).
ImapConversation::Link ImapConversation::upgrade() {
  if (!command("STARTTLS")) return kLinkFailed;
  Tagged r = await();
  if (r == kFailed) return kLinkFailed;
  if (r != kOk) {
    Reason why;
    fixedReason(("TLS: STARTTLS " + r_.status + " " + r_.text).c_str(), why);
    return upgradeFailed("STARTTLSに失敗しました。\n", why, true);
  }
  return finishUpgrade("STARTTLS");
}

bool ImapConversation::reconnectInClear() {
  bye_.clear();
  return Conversation::reconnectInClear();
}

// AUTHENTICATE PLAIN when listed (RFC 4616, as UTF-8), else LOGIN with
// quoted strings, or literals where they must be. kContinue: all of it has
// gone out and the tagged reply is to come; else the reply already read.
ImapConversation::Tagged ImapConversation::loginCommand() {
  const Account& a = t_.account;
  std::string user = platform::toUtf8(a.user), pass = platform::toUtf8(a.pass);
  std::vector<std::string> pieces;  // each after the first follows a "+"
  std::string shown;
  if (caps_.authPlain) {
    std::string response = platform::base64Encode(std::string(1, '\0') + user + std::string(1, '\0') + pass);
    if (caps_.saslIr) {
      pieces.push_back("AUTHENTICATE PLAIN " + response);
      shown = "AUTHENTICATE PLAIN xxxxxx";
    } else {
      pieces.push_back("AUTHENTICATE PLAIN");
      pieces.push_back(response);
      shown = "AUTHENTICATE PLAIN";
    }
    response.assign(response.size(), '\0');
  } else {
    pieces.push_back("LOGIN ");
    auto add = [&](const std::string& s) {
      if (quotable(s)) {
        pieces.back() += quoted(s);
      } else if (caps_.literalPlus) {
        pieces.back() += "{" + std::to_string(s.size()) + "+}\r\n" + s;
      } else {
        pieces.back() += "{" + std::to_string(s.size()) + "}";
        pieces.push_back(s);
      }
    };
    add(user);
    pieces.back() += " ";
    add(pass);
    shown = "LOGIN " + (quotable(user) ? quoted(user) : std::string("{...}")) + " xxxxxx";
  }
  pass.assign(pass.size(), '\0');
  bool sent = command(pieces[0], shown.c_str());
  for (size_t i = 1; sent && i < pieces.size(); ++i) {
    Tagged r = await(nullptr, true);
    if (r != kContinue) return r;
    sent = send(pieces[i] + (i + 1 == pieces.size() ? "\r\n" : ""), "xxxxxx\n");
  }
  for (std::string& p : pieces) p.assign(p.size(), '\0');
  if (sent) publish([&] { result().passwordInClear = t_.connection.tls == nullptr; });
  return sent ? kContinue : kFailed;
}

// NO is a refused login (code 8) unless the server says it could not judge
// it (RFC 5530); BAD and the rest are code 7. LOGOUT follows, whatever
// becomes of it.
bool ImapConversation::refusedLogin() {
  bool temporary = false;
  for (const char* code : {"UNAVAILABLE", "INUSE", "SERVERBUG"})
    temporary = temporary || imapSameWord(r_.code.substr(0, strlen(code)), code);
  if (r_.status == "NO" && !temporary) {
    platform::trace("PASSが違う～♪\n");
    std::string line = r_.status + (r_.code.empty() ? "" : " [" + r_.code + "]") + " " + r_.text;
    Reason reason;
    replyReason(line.data(), line.size(), reason);
    setFailure(kErrorPasswordRefused, reason);
  } else {
    refused(kErrorNotPositive);
  }
  if (command("LOGOUT")) await();
  return false;
}

bool ImapConversation::login() {
  if (preauth_) return true;
  if (usesOAuth()) {
    caps_.known = false;  // what a login changes is listed again, or asked when needed
    return oauthLogin();
  }
  if (t_.connection.useTls == 0 && caps_.loginDisabled) {
    platform::trace("LOGINDISABLED\n");
    Reason why;
    fixedReason("TLS: 暗号化しないログインをサーバが受け付けません (LOGINDISABLED)", why);
    setFailure(kErrorTlsFailed, why);
    return false;
  }
  Tagged r = loginCommand();
  if (r == kContinue) {
    caps_.known = false;  // what a login changes is listed again, or asked when needed
    r = await();
  }
  if (r == kFailed) return false;
  if (r != kOk) return refusedLogin();
  return true;
}

