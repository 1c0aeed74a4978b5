#include "tests/mail/test_tls.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#else
#include <unistd.h>
#endif

namespace {


void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX v3;
  X509V3_set_ctx(&v3, issuer, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// issuer null: self-signed.
TestIdentity makeIdentity(const char* commonName, const TestIdentity* issuer, bool ca, const char* altName,
                          long serial, unsigned int bits = 2048, const char* issuerUrl = nullptr) {
  TestIdentity id{X509_new(), EVP_RSA_gen(bits)};
  X509* cert = id.cert;
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
  X509_set_pubkey(cert, id.key);
  X509_name_st* name = X509_get_subject_name(cert);  // wincrypt.h takes the usual name
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Kel tests"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                             0);
  X509* issuerCert = issuer ? issuer->cert : cert;
  X509_set_issuer_name(cert, X509_get_subject_name(issuerCert));
  if (ca) {
    addExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, issuerCert, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else if (issuer) {
    addExtension(cert, issuerCert, NID_basic_constraints, "critical,CA:FALSE");
    addExtension(cert, issuerCert, NID_key_usage, "critical,digitalSignature,keyEncipherment");
    addExtension(cert, issuerCert, NID_ext_key_usage, "serverAuth");
  }
  addExtension(cert, issuerCert, NID_subject_key_identifier, "hash");
  if (issuer) addExtension(cert, issuerCert, NID_authority_key_identifier, "keyid:always");
  if (altName) addExtension(cert, issuerCert, NID_subject_alt_name, altName);
  if (issuerUrl) addExtension(cert, issuerCert, NID_info_access, (std::string("caIssuers;URI:") + issuerUrl).c_str());
  X509_sign(cert, issuer ? issuer->key : id.key, EVP_sha256());
  return id;
}

std::once_flag trustOnce;

#ifdef _WIN32
bool underWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// The ROOT store of the current user, as the chain engine reads it.
HCERTSTORE userRoot() {
  return CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "ROOT");
}

// Every test CA in the ROOT store, whichever run made it. The store is
// written at once: the chain engine holds it open to the end.
void removeTestCas() {
  HCERTSTORE root = userRoot();
  if (!root) return;
  for (;;) {
    PCCERT_CONTEXT found = CertFindCertificateInStore(root, X509_ASN_ENCODING, 0, CERT_FIND_SUBJECT_STR_A,
                                                      "Kel test CA", nullptr);
    if (!found || !CertDeleteCertificateFromStore(found)) break;  // frees found
  }
  CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr);
  CertCloseStore(root, 0);
}

#endif

int onServerName(SSL* tls, int* alert, void* arg) {
  auto* names = static_cast<TlsScript::Names*>(arg);
  const char* name = SSL_get_servername(tls, TLSEXT_NAMETYPE_host_name);
  names->seen = name ? name : "";
  if (!names->required.empty() && names->seen != names->required) {
    *alert = SSL_AD_UNRECOGNIZED_NAME;
    return SSL_TLSEXT_ERR_ALERT_FATAL;
  }
  return SSL_TLSEXT_ERR_OK;
}

}  // namespace

const TestPki& testPki() {
  static const TestPki pki = [] {
    TestPki p;
    p.ca = makeIdentity("Kel test CA", nullptr, true, nullptr, 1);
    p.localhost = makeIdentity("localhost", &p.ca, false, "DNS:localhost", 2);
    p.selfSigned = makeIdentity("localhost", nullptr, false, nullptr, 3);
    p.other = makeIdentity("localhost", nullptr, false, nullptr, 4);
    p.intermediate = makeIdentity("Kel test intermediate", &p.ca, true, nullptr, 5);
    p.viaIntermediate = makeIdentity("localhost", &p.intermediate, false, "DNS:localhost", 6);
    p.stranger = makeIdentity("Kel stranger CA", nullptr, true, nullptr, 7);
    p.strangerLocalhost = makeIdentity("localhost", &p.stranger, false, "DNS:localhost", 8);
    p.weak = makeIdentity("localhost", nullptr, false, nullptr, 9, 1024);
    return p;
  }();
  return pki;
}

TestIdentity leafWithIssuerAt(const std::string& url) {
  return makeIdentity("localhost", &testPki().intermediate, false, "DNS:localhost", 10, 2048, url.c_str());
}

std::string derOf(const TestIdentity& id) {
  unsigned char* der = nullptr;
  int length = i2d_X509(id.cert, &der);
  std::string out(reinterpret_cast<char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return out;
}

void trustTestCa() {
  std::call_once(trustOnce, [] {
#ifdef _WIN32
    // Only in Wine's prefix, which is the tests' own; never a real system.
    if (!underWine()) return;
    removeTestCas();  // also those of a run that was interrupted
    std::string der = derOf(testPki().ca);
    HCERTSTORE root = userRoot();
    if (!root) return;
    CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertControlStore(root, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    CertCloseStore(root, 0);
#else
    const char* tmp = getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/kel-test-ca-" + std::to_string(getpid()) + ".pem";
    FILE* f = fopen(path.c_str(), "w");
    if (!f) return;
    PEM_write_X509(f, testPki().ca.cert);
    fclose(f);
    setenv("SSL_CERT_FILE", path.c_str(), 1);
#endif
  });
}

void untrustTestCa() {
#ifdef _WIN32
  if (underWine()) removeTestCas();
#else
  const char* path = getenv("SSL_CERT_FILE");
  if (path && strstr(path, "kel-test-ca-")) remove(path);
#endif
}

std::string testPin(const TestIdentity& id) {
  unsigned char* der = nullptr;
  int length = i2d_PUBKEY(id.key, &der);
  unsigned char digest[32];
  unsigned int size = 0;
  EVP_Digest(der, static_cast<size_t>(length), digest, &size, EVP_sha256(), nullptr);
  OPENSSL_free(der);
  std::string hex;
  char two[3];
  for (unsigned int i = 0; i < size; ++i) {
    snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

TlsScript::TlsScript(ScriptConnection& conn, const TestIdentity& id, const char* requiredName, bool tls11Only,
                     const TestIdentity* chainCa)
{
  names_.required = requiredName ? requiredName : "";
  ctx_ = SSL_CTX_new(TLS_server_method());
  SSL_CTX_set_security_level(ctx_, 0);
  SSL_CTX_use_certificate(ctx_, id.cert);
  SSL_CTX_use_PrivateKey(ctx_, id.key);
  if (chainCa) SSL_CTX_add1_chain_cert(ctx_, chainCa->cert);
  if (tls11Only) {
    SSL_CTX_set_min_proto_version(ctx_, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(ctx_, TLS1_1_VERSION);
  }
  SSL_CTX_set_tlsext_servername_callback(ctx_, onServerName);
  SSL_CTX_set_tlsext_servername_arg(ctx_, &names_);
  tls_ = SSL_new(ctx_);
  SSL_set_fd(tls_, static_cast<int>(conn.socket()));
  ok_ = SSL_accept(tls_) == 1;
}

TlsScript::~TlsScript() {
  if (ok_) SSL_shutdown(tls_);
  SSL_free(tls_);
  SSL_CTX_free(ctx_);
}

void TlsScript::send(const std::string& bytes) {
  if (ok_) SSL_write(tls_, bytes.data(), static_cast<int>(bytes.size()));
}

std::string TlsScript::readLine() {
  std::string line;
  char c;
  while (ok_ && SSL_read(tls_, &c, 1) == 1) {
    line += c;
    if (line.size() >= 2 && line.compare(line.size() - 2, 2, "\r\n") == 0) {
      line.resize(line.size() - 2);
      return line;
    }
  }
  return "";
}
