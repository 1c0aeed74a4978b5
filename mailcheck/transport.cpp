#include "mailcheck/transport.h"

#include <openssl/ssl.h>

#include <atomic>
#include <cstdio>

#include "platform/net.h"
#include "platform/trace.h"

namespace {
std::atomic<int> tlsLibraryStarted{0};

int failTls(Connection& c) {
  if (c.tls) SSL_free(c.tls);
  if (c.ctx) SSL_CTX_free(c.ctx);
  c.tls = nullptr;
  c.ctx = nullptr;
  platform::closeSocket(c.sock);
  c.sock = kNoSocket;
  return 4;
}
}  // namespace

int connectServer(Connection& c, const char* host, int port, int useTls) {
  platform::tracef("OPEN %s %d\n", host, port);
  c.useTls = useTls;
  c.sock = kNoSocket;
  c.ctx = nullptr;
  c.tls = nullptr;
  char service[16];
  snprintf(service, sizeof service, "%d", port);
  int rc = platform::tcpConnect(host, service, &c.sock);
  if (rc != 0 || !useTls) return rc;

  platform::trace("OpenSSL\n");
  if (tlsLibraryStarted.exchange(1) == 0) OPENSSL_init_ssl(0, nullptr);
  c.ctx = SSL_CTX_new(TLS_client_method());
  if (!c.ctx) return failTls(c);
  c.tls = SSL_new(c.ctx);
  if (!c.tls) return failTls(c);
  if (SSL_set_fd(c.tls, static_cast<int>(c.sock)) == 0) {
    platform::trace("OpenSSL SSL_set_fd Error\n");
    return failTls(c);
  }
  if (SSL_connect(c.tls) != 1) {
    platform::trace("OpenSSL SSL_connect Error\n");
    return failTls(c);
  }
  return 0;
}

int receiveBytes(Connection& c, char* buf, int capacity) {
  if (c.useTls) {
    int n = SSL_read(c.tls, buf, capacity);
    return n > 0 ? n : -1;
  }
  return platform::socketReceive(c.sock, buf, capacity);
}

int sendBytes(Connection& c, const char* data, int length) {
  if (c.useTls) {
    int n = SSL_write(c.tls, data, length);
    return n > 0 ? n : -1;
  }
  return platform::socketSend(c.sock, data, length);
}

int readLine(Connection& c, char* buf) {
  int budget = kLineBudget;
  int count = 0;
  for (;;) {
    int n = receiveBytes(c, buf + count, 1);
    if (n < 0) return -1;
    budget -= n;
    count += n;
    if (budget <= 0) return -1;
    if (count >= 2 && buf[count - 2] == '\r' && buf[count - 1] == '\n') return count;
  }
}

void closeConnection(Connection& c) {
  if (c.useTls) {
    if (c.tls) {
      SSL_shutdown(c.tls);
      SSL_free(c.tls);
    }
    if (c.ctx) SSL_CTX_free(c.ctx);
    c.tls = nullptr;
    c.ctx = nullptr;
  }
  platform::closeSocket(c.sock);
  c.sock = kNoSocket;
}
