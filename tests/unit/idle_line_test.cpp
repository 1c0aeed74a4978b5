#include "mailcheck/imap/idle_link.h"

#include <gtest/gtest.h>

TEST(IdleLines, WhatAServerInIdleSays) {
  const struct {
    const char* line;
    IdleLine want;
  } rows[] = {
      {"+ idling", IdleLine::kContinuation},
      {"+", IdleLine::kContinuation},
      {"* 23 EXISTS", IdleLine::kEvent},
      {"* 4 expunge", IdleLine::kEvent},
      {"* 1 FETCH (FLAGS (\\Seen))", IdleLine::kEvent},
      {"* 2 RECENT", IdleLine::kOther},
      {"* OK Still here", IdleLine::kOther},
      {"* EXISTS 3", IdleLine::kOther},
      {"* 3 EXISTSX", IdleLine::kOther},
      {"* BYE Session invalidated - AccessTokenExpired", IdleLine::kBye},
      {"* BYEBYE", IdleLine::kOther},
      {"i7 OK Idle completed", IdleLine::kTaggedOk},
      {"i7 ok", IdleLine::kTaggedOk},
      {"i7 NO not now", IdleLine::kTaggedRefused},
      {"i7 BAD what", IdleLine::kTaggedRefused},
      {"i70 OK someone else's", IdleLine::kOther},
      {"i6 OK an older one", IdleLine::kOther},
      {"", IdleLine::kOther},
  };
  for (const auto& row : rows) EXPECT_EQ(row.want, classifyIdleLine(row.line, "i7")) << row.line;
  EXPECT_EQ(IdleLine::kOther, classifyIdleLine(" OK", ""));
}

TEST(IdleLines, LiteralsAtTheEndOfALineAndExpiredTokens) {
  const struct {
    const char* line;
    int64_t want;
  } rows[] = {
      {"* 1 FETCH (BODY[] {12}", 12}, {"* 1 FETCH (X {0+}", 0}, {"* 1 FETCH (X {}", -1},
      {"* 1 FETCH (X {1a}", -1},      {"{5} tail", -1},         {"* 1 {9999999999999}", -1},
      {"}", -1},
  };
  for (const auto& row : rows) EXPECT_EQ(row.want, trailingLiteral(row.line)) << row.line;
  EXPECT_TRUE(byeSaysTokenExpired("* BYE Session invalidated - AccessTokenExpired"));
  EXPECT_TRUE(byeSaysTokenExpired("* BYE access token expired"));
  EXPECT_FALSE(byeSaysTokenExpired("* BYE Server shutting down."));
}
