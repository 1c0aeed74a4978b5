#include <cstdio>
#include <cstring>
#include <string>

#include "platform/http.h"

namespace platform {

namespace {

bool unreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

void encode(std::string& out, const std::string& text) {
  static const char hex[] = "0123456789ABCDEF";
  for (unsigned char c : text) {
    if (unreserved(c)) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
}

bool startsWith(const char* text, const char* prefix) { return strncmp(text, prefix, strlen(prefix)) == 0; }

// The host of an http URL is loopback: 127.x.y.z, [::1] or localhost.
bool loopbackHost(const char* host) {
  size_t n = strcspn(host, ":/?#");
  std::string h(host, n);
  if (startsWith(host, "[::1]")) return host[5] == '\0' || strchr(":/?#", host[5]);
  if (h == "localhost") return true;
  unsigned a, b, c, d;
  char tail;
  return sscanf(h.c_str(), "%3u.%3u.%3u.%3u%c", &a, &b, &c, &d, &tail) == 4 && a == 127 && b < 256 && c < 256 &&
         d < 256;
}

}  // namespace

bool httpUrlAllowed(const char* url) {
  if (!url) return false;
  for (const char* p = url; *p; ++p)
    if (static_cast<unsigned char>(*p) <= 0x20 || static_cast<unsigned char>(*p) >= 0x7F) return false;
  if (startsWith(url, "https://")) return url[8] != '\0' && !strchr("/?#:@", url[8]);
  if (startsWith(url, "http://")) return !strchr(url + 7, '@') && loopbackHost(url + 7);
  return false;
}

void addFormField(std::string& form, const char* name, const std::string& value) {
  if (!form.empty()) form += '&';
  encode(form, name);
  form += '=';
  encode(form, value);
}

}  // namespace platform
