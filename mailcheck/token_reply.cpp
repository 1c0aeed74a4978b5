#include "mailcheck/token_reply.h"

#include <nlohmann/json.hpp>

namespace {

using Json = nlohmann::json;

// A token travels in SASL and HTTP fields: printable ASCII without blanks,
// of a sane length.
bool tokenText(const Json& v, size_t maxBytes) {
  if (!v.is_string()) return false;
  const std::string& s = v.get_ref<const std::string&>();
  if (s.empty() || s.size() > maxBytes) return false;
  for (unsigned char c : s)
    if (c <= 0x20 || c >= 0x7F) return false;
  return true;
}

// Printable ASCII, cut: it may reach a trace or a reason.
std::string printable(const Json& v, size_t maxBytes) {
  std::string out;
  if (!v.is_string()) return out;
  for (unsigned char c : v.get_ref<const std::string&>()) {
    if (out.size() == maxBytes) break;
    out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
  }
  return out;
}

// A number, or a number in a string (some endpoints send one); absent: an
// hour, the usual lifetime. Kept within a day: a clock is no place for
// a server's absurd value.
int64_t lifetime(const Json& object) {
  auto it = object.find("expires_in");
  if (it == object.end()) return 3600;
  int64_t s = -1;
  if (it->is_number_integer()) {
    s = it->get<int64_t>();
  } else if (it->is_number_float()) {
    s = static_cast<int64_t>(it->get<double>());
  } else if (it->is_string()) {
    const std::string& t = it->get_ref<const std::string&>();
    if (!t.empty() && t.size() < 10 && t.find_first_not_of("0123456789") == std::string::npos) s = std::stoll(t);
  }
  if (s < 0) return -1;
  return s > 86400 ? 86400 : s;
}

bool isBearer(const Json& v) {
  if (!v.is_string()) return false;
  std::string t = v.get<std::string>();
  for (char& c : t) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
  return t == "bearer";
}

}  // namespace

TokenReply readTokenReply(int status, const std::string& body) {
  TokenReply r;
  if (body.size() > kTokenReplyMaxBytes) return r;
  Json json = Json::parse(body, nullptr, false);
  if (json.is_discarded() || !json.is_object()) return r;
  if (status == 200) {
    auto access = json.find("access_token");
    auto type = json.find("token_type");
    const bool bearer = type == json.end() || isBearer(*type);
    if (access == json.end() || !tokenText(*access, 16384) || !bearer) return r;
    const int64_t expiresIn = lifetime(json);
    auto refresh = json.find("refresh_token");
    const bool noRefresh = refresh == json.end() || refresh->is_null();
    if (expiresIn < 0 || (!noRefresh && !tokenText(*refresh, 8192))) return r;
    r.expiresIn = expiresIn;
    if (!noRefresh) r.refreshToken = refresh->get<std::string>();
    r.accessToken = access->get<std::string>();
    r.outcome = TokenReply::kGranted;
    return r;
  }
  auto error = json.find("error");
  if (status >= 400 && status < 500 && error != json.end() && error->is_string()) {
    r.outcome = TokenReply::kRefused;
    r.error = printable(*error, 64);
    auto said = json.find("error_description");
    if (said != json.end()) r.description = printable(*said, 160);
  }
  return r;
}
