// Whether a TLS server's certificates are trusted for the name it was
// reached by, judged by the system: on Windows its own chain engine (from
// the certificates sent and those it holds, fetching nothing), elsewhere
// OpenSSL's default trust paths.
#pragma once

namespace platform {

struct DerCertificate {
  const unsigned char* data;
  int length;
};

// chain: as the server sent it, its own certificate first. host: the name
// or the address (IPv4 or IPv6) the connection was made to.
bool serverChainTrusted(const DerCertificate* chain, int count, const char* host);

}  // namespace platform
