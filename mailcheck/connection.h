// The one transport record: a socket, and over it optionally a TLS session.
#pragma once

#include <cstdint>

#include "platform/os_types.h"

struct ssl_ctx_st;
struct ssl_st;

struct Connection {
  int32_t useTls;
  SOCKET sock;
  ssl_ctx_st* ctx;
  ssl_st* tls;
};
