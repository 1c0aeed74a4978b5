#include <openssl/evp.h>

#include <string>

#include "platform/secret.h"

namespace platform {

std::string base64Encode(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(n < 0 ? 0 : static_cast<size_t>(n));
  return out;
}

namespace {
bool isBase64Char(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}
}  // namespace

bool base64Decode(const std::string& text, std::string& bytes) {
  bytes.clear();
  const size_t n = text.size();
  if (n % 4 != 0) return false;
  size_t pad = 0;
  while (pad < 2 && pad < n && text[n - 1 - pad] == '=') ++pad;
  for (size_t i = 0; i < n - pad; ++i)
    if (!isBase64Char(text[i])) return false;
  if (n == 0) return true;
  // EVP_DecodeBlock gives whole groups of three: the padding is taken off after.
  std::string out(n / 4 * 3, '\0');
  int got = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(&out[0]),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(n));
  if (got < 0 || static_cast<size_t>(got) != out.size()) return false;
  out.resize(out.size() - pad);
  bytes.swap(out);
  return true;
}

}  // namespace platform
