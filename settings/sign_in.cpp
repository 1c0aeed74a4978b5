#include "settings/sign_in.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstring>

#include "platform/hex.h"
#include "platform/http.h"

namespace {

bool isAscii(const char* text) {
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
    if (*p < 0x20 || *p > 0x7E) return false;
  }
  return true;
}

// A query value as the form encoding writes it: '+' a blank, %XX a byte.
std::string formDecode(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    int hi, lo;
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && (hi = platform::hexDigitValue(text[i + 1])) >= 0 &&
               (lo = platform::hexDigitValue(text[i + 2])) >= 0) {
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// What the server said, for a message box: printable ASCII, bounded.
std::string printable(const std::string& text, size_t limit) {
  std::string out;
  for (char c : text) {
    if (out.size() == limit) break;
    out += (c >= 0x20 && c <= 0x7E) ? c : '?';
  }
  return out;
}

struct Query {
  std::string code, state, error, description;
  bool hasCode = false, hasState = false, hasError = false;
};

Query readQuery(const std::string& query) {
  Query q;
  size_t start = 0;
  while (start <= query.size()) {
    size_t end = query.find('&', start);
    if (end == std::string::npos) end = query.size();
    std::string pair = query.substr(start, end - start);
    size_t eq = pair.find('=');
    std::string name = formDecode(pair.substr(0, eq));
    std::string value = eq == std::string::npos ? std::string() : formDecode(pair.substr(eq + 1));
    if (name == "code") q.code = value, q.hasCode = true;
    else if (name == "state") q.state = value, q.hasState = true;
    else if (name == "error") q.error = value, q.hasError = true;
    else if (name == "error_description") q.description = value;
    start = end + 1;
  }
  return q;
}

}  // namespace

std::string base64Url(const unsigned char* data, size_t size) {
  static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  for (size_t i = 0; i < size; i += 3) {
    uint32_t n = uint32_t(data[i]) << 16;
    if (i + 1 < size) n |= uint32_t(data[i + 1]) << 8;
    if (i + 2 < size) n |= data[i + 2];
    out += digits[n >> 18 & 63];
    out += digits[n >> 12 & 63];
    if (i + 1 < size) out += digits[n >> 6 & 63];
    if (i + 2 < size) out += digits[n & 63];
  }
  return out;
}

std::string s256Challenge(const std::string& verifier) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned size = 0;
  if (EVP_Digest(verifier.data(), verifier.size(), digest, &size, EVP_sha256(), nullptr) != 1 || size != 32)
    return std::string();
  return base64Url(digest, size);
}

bool makePkce(Pkce* out) {
  unsigned char verifier[32], state[16];
  if (RAND_bytes(verifier, sizeof verifier) != 1 || RAND_bytes(state, sizeof state) != 1) return false;
  out->verifier = base64Url(verifier, sizeof verifier);
  out->state = base64Url(state, sizeof state);
  out->challenge = s256Challenge(out->verifier);
  return !out->challenge.empty();
}

std::string redirectUri(int32_t method, uint16_t port) {
  return std::string(method == kSignInGoogle ? "http://127.0.0.1:" : "http://localhost:") + std::to_string(port) +
         "/";
}

std::string authorizationUrl(const AuthorizationRequest& r) {
  std::string query;
  platform::addFormField(query, "response_type", "code");
  platform::addFormField(query, "client_id", r.clientId);
  platform::addFormField(query, "redirect_uri", *r.redirect);
  platform::addFormField(query, "scope", r.scope);
  platform::addFormField(query, "state", r.pkce->state);
  platform::addFormField(query, "code_challenge", r.pkce->challenge);
  platform::addFormField(query, "code_challenge_method", "S256");
  if (r.loginHint[0] && isAscii(r.loginHint)) platform::addFormField(query, "login_hint", r.loginHint);
  if (r.extra && r.extra[0]) query += std::string("&") + r.extra;
  std::string url = r.endpoint;
  return url + (url.find('?') == std::string::npos ? '?' : '&') + query;
}

std::string codeExchangeForm(const std::string& code, const std::string& redirect, const std::string& clientId,
                             const std::string& verifier, const std::string& secret) {
  std::string form;
  platform::addFormField(form, "grant_type", "authorization_code");
  platform::addFormField(form, "code", code);
  platform::addFormField(form, "redirect_uri", redirect);
  platform::addFormField(form, "client_id", clientId);
  platform::addFormField(form, "code_verifier", verifier);
  if (!secret.empty()) platform::addFormField(form, "client_secret", secret);
  return form;
}

RedirectAnswer readRedirect(const std::string& request, const std::string& state) {
  RedirectAnswer a;
  // "GET /?query HTTP/1.1": only the root, where the redirect points.
  size_t lineEnd = request.find("\r\n");
  std::string line = request.substr(0, lineEnd);
  if (line.compare(0, 5, "GET /") != 0) return a;
  size_t targetEnd = line.find(' ', 4);
  if (targetEnd == std::string::npos) return a;
  std::string target = line.substr(4, targetEnd - 4);
  if (target.compare(0, 2, "/?") != 0) return a;
  Query q = readQuery(target.substr(2));
  if (!q.hasCode && !q.hasError) return a;
  if (!q.hasState || q.state != state) {
    a.kind = RedirectKind::kWrongState;
  } else if (q.hasError || q.code.empty()) {
    a.kind = RedirectKind::kRefused;
    a.error = printable(q.hasError ? q.error : "invalid_request", 64);
    a.description = printable(q.description, 200);
  } else {
    a.kind = RedirectKind::kCode;
    a.code = q.code;
  }
  return a;
}

std::string redirectReply(RedirectKind kind) {
  const char* status = "200 OK";
  const char* text = "サインインしました。このウィンドウを閉じて Kel に戻ってください。";
  if (kind == RedirectKind::kNotOurs) {
    status = "404 Not Found";
    text = "Not Found";
  } else if (kind == RedirectKind::kRefused) {
    text = "サインインは完了しませんでした。このウィンドウを閉じて Kel に戻ってください。";
  } else if (kind == RedirectKind::kWrongState) {
    status = "400 Bad Request";
    text = "この応答は Kel が待っていたサインインのものではありません。このウィンドウを閉じて、"
           "Kel からもう一度サインインしてください。";
  }
  std::string page = std::string("<!DOCTYPE html>\r\n<html><head><meta charset=\"Shift_JIS\"><title>Kel</title>"
                                 "</head><body><p>") +
                     text + "</p></body></html>\r\n";
  return std::string("HTTP/1.1 ") + status +
         "\r\nContent-Type: text/html; charset=Shift_JIS\r\nCache-Control: no-store\r\nConnection: close\r\n"
         "Content-Length: " +
         std::to_string(page.size()) + "\r\n\r\n" + page;
}
