#include "platform/server_chain.h"

#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace platform {

bool serverChainTrusted(const DerCertificate* chain, int count, const char* host) {
  if (count < 1) return false;
  STACK_OF(X509)* certs = sk_X509_new_null();
  X509_STORE* store = X509_STORE_new();
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  bool ok = certs && store && ctx;
  for (int i = 0; ok && i < count; ++i) {
    const unsigned char* p = chain[i].data;
    X509* x = d2i_X509(nullptr, &p, chain[i].length);
    ok = x && sk_X509_push(certs, x) > 0;
    if (!ok) X509_free(x);
  }
  // The trust paths are read at each check, SSL_CERT_FILE and SSL_CERT_DIR
  // included.
  ok = ok && X509_STORE_set_default_paths(store) == 1;
  ok = ok && X509_STORE_CTX_init(ctx, store, sk_X509_value(certs, 0), certs) == 1;
  if (ok) {
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx);
    ASN1_OCTET_STRING* address = a2i_IPADDRESS(host);
    if (address)
      ok = X509_VERIFY_PARAM_set1_ip_asc(param, host) == 1;
    else
      ok = X509_VERIFY_PARAM_set1_host(param, host, 0) == 1;
    ASN1_OCTET_STRING_free(address);
    ok = ok && X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_SSL_SERVER) == 1;
    ok = ok && X509_verify_cert(ctx) == 1;
  }
  X509_STORE_CTX_free(ctx);
  X509_STORE_free(store);
  sk_X509_pop_free(certs, X509_free);
  return ok;
}

}  // namespace platform
