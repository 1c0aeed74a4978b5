#include "mailcheck/transport.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "mailcheck/connect_race.h"
#include "platform/net.h"
#include "platform/server_chain.h"
#include "platform/trace.h"

namespace {
using Clock = std::chrono::steady_clock;

std::atomic<int> lookups{0};

// Waits in slices until the socket is ready, the deadline passes (false)
// or the watch is cancelled (false).
bool waitReady(const Connection& c, SOCKET s, bool forWrite, Clock::time_point deadline = Clock::time_point::max()) {
  for (;;) {
    if (linkCancelled(c)) return false;
    if (Clock::now() >= deadline) return false;
    int r = platform::waitSocket(s, forWrite, kWaitSliceMs);
    if (r != 0) return r > 0;
  }
}

// One name lookup. The resolver cannot be interrupted, so it runs on a
// thread of its own that owns this record with the waiting session; a
// lookup whose session has gone finishes by itself and frees its answer.
struct Lookup {
  std::mutex lock;
  std::condition_variable finished;
  bool done = false;
  int rc = 0;
  addrinfo* list = nullptr;
  std::exception_ptr error;
  std::string host, service;
  ~Lookup() {
    if (list) freeaddrinfo(list);
  }
  void run() {
    addrinfo hints;
    memset(&hints, 0, sizeof hints);
    hints.ai_socktype = SOCK_STREAM;  // with the type open Wine answers type 0
    addrinfo* answer = nullptr;
    int r = getaddrinfo(host.c_str(), service.c_str(), &hints, &answer);
    std::lock_guard<std::mutex> g(lock);
    rc = r;
    list = r == 0 ? answer : nullptr;
    done = true;
    finished.notify_all();
  }
  // What the lookup lets out is the waiting session's, not its thread's.
  void runCaught() {
    try {
      run();
    } catch (...) {
      std::lock_guard<std::mutex> g(lock);
      error = std::current_exception();
      done = true;
      finished.notify_all();
    }
  }
};

// The answer list (the caller frees it), or null when the name did not
// resolve (*rc gets the resolver's error) or the watch was cancelled.
addrinfo* resolve(const Connection& c, const char* host, const char* service, int* rc) {
  auto job = std::make_shared<Lookup>();
  job->host = host;
  job->service = service;
  ++lookups;
  try {
    std::thread([job] {
      job->runCaught();
      --lookups;
    }).detach();
  } catch (...) {
    job->runCaught();  // no thread to be had: resolve here, uninterruptibly
    --lookups;
  }
  std::unique_lock<std::mutex> g(job->lock);
  while (!job->done) {
    if (linkCancelled(c)) return nullptr;
    job->finished.wait_for(g, std::chrono::milliseconds(kWaitSliceMs));
  }
  if (job->error) std::rethrow_exception(job->error);  // for the session's own entry
  addrinfo* list = job->list;
  job->list = nullptr;
  *rc = job->rc;
  return list;
}

// Why a handshake failed: the text given, else OpenSSL's reason for its
// first error (a system error by its number only: its text is in the
// system's language).
void noteTlsFailure(Connection& c, const char* why) {
  unsigned long e = ERR_peek_error();
  const char* reason = e != 0 && ERR_GET_LIB(e) != ERR_LIB_SYS ? ERR_reason_error_string(e) : nullptr;
  char* out = c.failure.tls;
  size_t room = sizeof c.failure.tls;
  if (why)
    snprintf(out, room, "%s", why);
  else if (reason)
    snprintf(out, room, "%s", reason);
  else if (e != 0)
    snprintf(out, room, "通信に失敗 (%d)", ERR_GET_REASON(e));
  else
    snprintf(out, room, "ハンドシェイクに失敗 (%d)", platform::lastSocketError());
}

ErrorCode failTls(Connection& c, const char* why = nullptr) {
  noteTlsFailure(c, why);
  if (c.tls) SSL_free(c.tls);
  if (c.ctx) SSL_CTX_free(c.ctx);
  c.tls = nullptr;
  c.ctx = nullptr;
  platform::closeSocket(c.sock);
  c.sock = kNoSocket;
  return kErrorTlsFailed;
}

// A failed send or receive: the system's error number, or for a receive
// the server's close.
void noteTransferFailure(Connection& c, bool closed, int systemError) {
  c.failure.peerClosed = closed;
  c.failure.systemError = closed ? 0 : systemError;
}

// The same after an SSL call that failed for good, SSL_get_error's kind.
void noteTlsTransferFailure(Connection& c, int kind) {
  unsigned long e = ERR_peek_error();
  bool closed = kind == SSL_ERROR_ZERO_RETURN ||
                (ERR_GET_LIB(e) == ERR_LIB_SSL && ERR_GET_REASON(e) == SSL_R_UNEXPECTED_EOF_WHILE_READING);
  noteTransferFailure(c, closed, kind == SSL_ERROR_SYSCALL ? platform::lastSocketError() : 0);
}

// After an SSL call returned r <= 0: waits for what it asked for. False
// when it failed for good (noted), or the wait ended without readiness.
bool tlsWait(Connection& c, int r) {
  int kind = SSL_get_error(c.tls, r);
  switch (kind) {
    case SSL_ERROR_WANT_READ: return waitReady(c, c.sock, false);
    case SSL_ERROR_WANT_WRITE: return waitReady(c, c.sock, true);
    default: noteTlsTransferFailure(c, kind); return false;
  }
}

// OpenSSL reads no configuration file: its compiled-in paths are the build
// machine's, which on Windows any user could create. What a configuration
// would set (protocols, security level) is set in code instead. Called
// before every handshake: the first call decides, and one that comes at the
// same moment waits for it inside OpenSSL (an SSL_CTX_new that came first
// would load the configuration).
void startTlsLibrary() {
  OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
  OPENSSL_init_ssl(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

bool isAddress(const char* host) {
  ASN1_OCTET_STRING* address = a2i_IPADDRESS(host);
  bool found = address != nullptr;
  ASN1_OCTET_STRING_free(address);
  return found;
}

// The pin: SHA-256 of the key's DER SubjectPublicKeyInfo, lowercase hex.
bool keyPin(X509* leaf, char (&pin)[65]) {
  unsigned char* der = nullptr;
  int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(leaf), &der);
  if (length <= 0) return false;
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  bool ok = EVP_Digest(der, static_cast<size_t>(length), digest, &size, EVP_sha256(), nullptr) == 1 && size == 32;
  OPENSSL_free(der);
  if (!ok) return false;
  static const char kHex[] = "0123456789abcdef";
  for (unsigned int i = 0; i < size; ++i) {
    pin[2 * i] = kHex[digest[i] >> 4];
    pin[2 * i + 1] = kHex[digest[i] & 15];
  }
  pin[64] = 0;
  return true;
}

// Judged after the handshake: whether the chain verifies is for the
// session's trust decision, not a reason to refuse the connection.
void judgeServer(Connection& c, const char* host, ServerKey* key) {
  STACK_OF(X509)* sent = SSL_get_peer_cert_chain(c.tls);  // the leaf first
  int count = sent ? sk_X509_num(sent) : 0;
  if (count < 1 || !keyPin(sk_X509_value(sent, 0), key->pin)) {
    *key = ServerKey{};
    return;
  }
  constexpr int kMostSent = 16;
  if (count > kMostSent) count = kMostSent;
  platform::DerCertificate chain[kMostSent];
  unsigned char* der[kMostSent] = {};
  bool whole = true;
  for (int i = 0; i < count; ++i) {
    int length = i2d_X509(sk_X509_value(sent, i), &der[i]);
    if (length <= 0) whole = false;
    chain[i] = platform::DerCertificate{der[i], length};
  }
  key->verified = whole && platform::serverChainTrusted(chain, count, host);
  for (int i = 0; i < count; ++i) OPENSSL_free(der[i]);
}

// The security level holds for the server's key only when the chain is
// verified by OpenSSL, which it is not here: checked after the handshake.
bool keyStrongEnough(const Connection& c) {
  constexpr int kLeastBits = 112;  // security level 2
  X509* leaf = SSL_get0_peer_certificate(c.tls);
  if (leaf && EVP_PKEY_get_security_bits(X509_get0_pubkey(leaf)) >= kLeastBits) return true;
  platform::trace("OpenSSL weak server key\n");
  return false;
}

const char* weakKeyReason() { return X509_verify_cert_error_string(X509_V_ERR_EE_KEY_TOO_SMALL); }

ErrorCode handshake(Connection& c, const char* host, ServerKey* key) {
  platform::trace("OpenSSL\n");
  startTlsLibrary();
  c.ctx = SSL_CTX_new(TLS_client_method());
  if (!c.ctx) return failTls(c);
  SSL_CTX_set_min_proto_version(c.ctx, TLS1_2_VERSION);
  SSL_CTX_set_security_level(c.ctx, 2);  // 112 bits: RSA and DH of 2048, no SHA-1
  SSL_CTX_set_verify(c.ctx, SSL_VERIFY_NONE, nullptr);
  c.tls = SSL_new(c.ctx);
  if (!c.tls) return failTls(c);
  SSL_set_mode(c.tls, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
  if (SSL_set_fd(c.tls, static_cast<int>(c.sock)) == 0) {
    platform::trace("OpenSSL SSL_set_fd Error\n");
    return failTls(c);
  }
  // A server hosting several names needs to know which one is asked for.
  if (!isAddress(host) && SSL_set_tlsext_host_name(c.tls, host) != 1) return failTls(c);
  for (;;) {
    ERR_clear_error();
    int r = SSL_connect(c.tls);
    if (r == 1) {
      if (keyStrongEnough(c)) {
        if (key) judgeServer(c, host, key);
        return kErrorNone;
      }
      platform::trace("OpenSSL SSL_connect Error\n");
      return failTls(c, weakKeyReason());
    }
    if (!tlsWait(c, r)) break;
  }
  platform::trace("OpenSSL SSL_connect Error\n");
  return failTls(c);
}
}  // namespace

const LinkFailure& linkFailure(const Connection& c) { return c.failure; }

ErrorCode startTls(Connection& c, const char* host, ServerKey* key) {
  if (key) *key = ServerKey{};
  c.useTls = 1;
  return handshake(c, host, key);
}

ErrorCode connectServer(Connection& c, const char* host, int port, int useTls, ServerKey* key) {
  platform::tracef("OPEN %s %d\n", host, port);
  c.useTls = useTls;
  c.sock = kNoSocket;
  c.ctx = nullptr;
  c.tls = nullptr;
  c.inStart = c.inEnd = 0;
  c.failure = LinkFailure{};
  char service[16];
  snprintf(service, sizeof service, "%d", port);
  addrinfo* list = resolve(c, host, service, &c.failure.systemError);
  if (!list) return linkCancelled(c) ? kErrorConnectFailed : kErrorNameNotFound;
  ErrorCode rc = connectFirst(c, list);
  freeaddrinfo(list);
  if (rc != kErrorNone || !useTls) return rc;
  return startTls(c, host, key);
}

int receiveMore(Connection& c) {
  if (c.inStart > 0) {
    memmove(c.inbox, c.inbox + c.inStart, static_cast<size_t>(c.inEnd - c.inStart));
    c.inEnd -= c.inStart;
    c.inStart = 0;
  }
  int room = kInboxSize - c.inEnd;
  if (room <= 0) {
    noteTransferFailure(c, false, 0);
    return -1;
  }
  for (;;) {
    if (linkCancelled(c)) return -1;
    int n;
    if (c.useTls) {
      ERR_clear_error();
      n = SSL_read(c.tls, c.inbox + c.inEnd, room);
      if (n <= 0 && !tlsWait(c, n)) return -1;
    } else {
      n = platform::socketReceive(c.sock, c.inbox + c.inEnd, room);
      if (n == platform::kWouldBlock && !waitReady(c, c.sock, false)) return -1;
      if (n == -1 || n == platform::kPeerClosed) {
        noteTransferFailure(c, n == platform::kPeerClosed, platform::lastSocketError());
        return -1;
      }
    }
    if (n > 0) {
      c.inEnd += n;
      if (c.watch) c.watch->received += static_cast<uint32_t>(n);
      return n;
    }
  }
}

int sendAll(Connection& c, const char* data, int length) {
  int done = 0;
  while (done < length) {
    if (linkCancelled(c)) return -1;
    int n;
    if (c.useTls) {
      ERR_clear_error();
      n = SSL_write(c.tls, data + done, length - done);
      if (n <= 0 && !tlsWait(c, n)) return -1;
    } else {
      n = platform::socketSend(c.sock, data + done, length - done);
      if (n == platform::kWouldBlock && !waitReady(c, c.sock, true)) return -1;
      if (n == -1) {
        noteTransferFailure(c, false, platform::lastSocketError());
        return -1;
      }
    }
    if (n > 0) done += n;
  }
  return length;
}

int readLine(Connection& c, char* buf) {
  int count = 0;
  for (;;) {
    while (c.inStart < c.inEnd) {
      char b = c.inbox[c.inStart++];
      buf[count++] = b;
      if (count >= kLineBudget) {
        noteTransferFailure(c, false, 0);
        return -1;
      }
      if (count >= 2 && b == '\n' && buf[count - 2] == '\r') return count;
    }
    if (receiveMore(c) < 0) return -1;
  }
}

void closeConnection(Connection& c) {
  if (c.tls) {
    SSL_shutdown(c.tls);  // the close notify, without waiting for the peer's
    SSL_free(c.tls);
  }
  if (c.ctx) SSL_CTX_free(c.ctx);
  c.tls = nullptr;
  c.ctx = nullptr;
  platform::closeSocket(c.sock);
  c.sock = kNoSocket;
  c.inStart = c.inEnd = 0;
}

void endNetworkThread() { OPENSSL_thread_stop(); }

int lookupsRunning() { return lookups.load(); }
