// The session against a scripted server: the replies and faults a real
// server won't produce.
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "mailcheck/pop3/pop3_session.h"
#include "mailcheck/transport.h"
#include "platform/net.h"
#include "tests/mail/mail_test_support.h"
#include "tests/mail/script_server.h"

namespace {

using Script = ScriptServer::Script;

const char* kGreeting = "+OK ready\r\n";

struct Outcome {
  int rc;
  int code;
  int state;
  std::vector<std::string> trace;
  std::string reason;
};

Outcome check(const Script& script, void (*prepare)(Kel&) = nullptr) {
  ScriptServer server(script);
  auto kel = kelWithAccount("127.0.0.1", server.port(), "user", "secret");
  if (prepare) prepare(*kel);
  TraceCapture trace;
  int rc = checkAccount(*kel);
  return {rc, kel->results[0].errorCode, kel->sessionState.load(), trace.lines(), kel->results[0].reason};
}

bool traced(const Outcome& o, const std::string& line) {
  return std::find(o.trace.begin(), o.trace.end(), line) != o.trace.end();
}

}  // namespace

TEST(Pop3Script, NegativeRepliesAtEachStepGiveSeven) {
  Outcome greeting = check([](ScriptConnection& c) { c.send("-ERR busy\r\n"); });
  EXPECT_EQ(7, greeting.code);
  EXPECT_EQ(kSessionFailed, greeting.state);
  EXPECT_TRUE(traced(greeting, "エラー\n"));
  EXPECT_TRUE(traced(greeting, "エラ～発生！\n"));

  Outcome user = check([](ScriptConnection& c) {
    c.greet(kGreeting);
    c.expect("USER");
    c.send("-ERR no such user\r\n");
  });
  EXPECT_EQ(7, user.code);

  Outcome passOther = check([](ScriptConnection& c) {
    c.greet(kGreeting);
    c.expect("USER");
    c.send("+OK\r\n");
    c.expect("PASS");
    c.send("* what\r\n");
  });
  EXPECT_EQ(7, passOther.code);
  EXPECT_FALSE(traced(passOther, "PASSが違う～♪\n"));

  Outcome stat = check([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("-ERR\r\n");
  });
  EXPECT_EQ(7, stat.code);

  Outcome top = check([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK 1 100\r\n");
    c.expect("TOP 1 4");
    c.send("-ERR no such message\r\n");
  });
  EXPECT_EQ(7, top.code);
  EXPECT_FALSE(traced(top, "-ERR no such message\r\n"));  // TOP replies are not traced

  Outcome dele = check(
      [](ScriptConnection& c) {
        c.login();
        c.expect("STAT");
        c.send("+OK 1 100\r\n");
        c.expect("TOP 1 4");
        c.send(topReply("spam@example.com", "x"));
        c.expect("DELE 1");
        c.send("-ERR\r\n");
      },
      [](Kel& k) { addRule(k.deleteList, "spam@example.com", kSenderAddressEquals); });
  EXPECT_EQ(7, dele.code);
}

TEST(Pop3Script, RefusedQuitStillCompletes) {
  Outcome o = check([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK 0 0\r\n");
    c.expect("QUIT");
    c.send("-ERR not now\r\n");
  });
  EXPECT_EQ(0, o.rc);
  EXPECT_EQ(kSessionDone, o.state);
  EXPECT_EQ(0, o.code);
}

TEST(Pop3Script, StatWithTwoSpacesCountsNothing) {
  Outcome o = check([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK  3 300\r\n");
    c.expect("QUIT");
    c.send("+OK\r\n");
  });
  EXPECT_EQ(kSessionDone, o.state);
  for (const std::string& line : o.trace) EXPECT_NE(0u, line.rfind("TOP", 0));
}

TEST(Pop3Script, StatCountStopsAtTheFirstNonDigit) {
  ScriptServer server([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK 2x 300\r\n");
    for (int n = 1; n <= 2; ++n) {
      c.expect("TOP");
      c.send(topReply("a@example.jp", "s" + std::to_string(n)));
    }
    c.expect("QUIT");
    c.send("+OK\r\n");
  });
  auto kel = kelWithAccount("127.0.0.1", server.port(), "user", "secret");
  EXPECT_EQ(0, checkAccount(*kel));
  EXPECT_EQ(2, kel->results[0].count);
  EXPECT_EQ("s2", lineSubject(kel->results[0].lines[1]));
}

TEST(Pop3Script, LinesUpTo8190BytesAreRead) {
  std::string longest = "+OK " + std::string(8190 - 6, 'g') + "\r\n";
  ASSERT_EQ(8190u, longest.size());
  Outcome fits = check([&](ScriptConnection& c) {
    c.greet(longest);
    c.expect("USER");
    c.send("-ERR\r\n");
  });
  EXPECT_EQ(7, fits.code);  // got as far as USER
  EXPECT_TRUE(traced(fits, longest));

  std::string tooLong = "+OK " + std::string(8191 - 6, 'g') + "\r\n";
  Outcome refused = check([&](ScriptConnection& c) {
    c.send(tooLong);
    c.waitForClose();
  });
  EXPECT_EQ(5, refused.code);  // a greeting that cannot be read
  EXPECT_TRUE(traced(refused, "サーバからの受信に失敗しました。\n"));
}

TEST(Pop3Script, PeerClosingMidReplyGivesSix) {
  Outcome o = check([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK 1 100\r\n");
    c.expect("TOP 1 4");
    c.send("+OK\r\nFrom: a@example.jp\r\nSubj");
    c.close();
  });
  EXPECT_EQ(6, o.code);
  EXPECT_EQ(kSessionFailed, o.state);
  EXPECT_EQ("サーバが接続を切りました", o.reason);
}

TEST(Pop3Script, TopRepliesOfAnySizeAreReadAndJudged) {
  ScriptServer server([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK 2 100\r\n");
    c.expect("TOP 1 4");
    c.send("+OK\r\nX-Filler: " + std::string(20000, 'x') + "\r\nFrom: big@example.jp\r\nSubject: big\r\n\r\n" +
           std::string(1 << 20, 'b') + "\r\n.\r\n");
    c.expect("TOP 2 4");
    c.send(topReply("next@example.jp", "after"));
    c.expect("QUIT");
    c.send("+OK\r\n");
  });
  auto kel = kelWithAccount("127.0.0.1", server.port(), "user", "secret");
  EXPECT_EQ(0, checkAccount(*kel));
  EXPECT_EQ(2, kel->results[0].count);
  EXPECT_EQ("big@example.jp", lineSender(kel->results[0].lines[0]));
  EXPECT_EQ("big", lineSubject(kel->results[0].lines[0]));
  EXPECT_EQ("after", lineSubject(kel->results[0].lines[1]));
}

// A To: of 800 recipients (20 KB) is cut to the cap; the headers around it
// are read as ever, whichever comes first.
TEST(Pop3Script, AHeaderPastTheCapHidesNeitherTheSenderNorTheSubject) {
  std::string to = "To: member0@example.jp";
  for (int i = 1; i < 800; ++i) to += ",\r\n member" + std::to_string(i) + "@example.co.jp";
  to += "\r\n";
  ASSERT_GT(to.size(), 20000u);
  const std::string from = "From: Boss <boss@example.com>\r\n", subject = "Subject: quarterly\r\n";
  const std::string replies[] = {"+OK\r\n" + to + from + subject + "\r\n.\r\n",
                                 "+OK\r\n" + from + to + subject + "\r\n.\r\n"};
  ScriptServer server([&](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK 2 100\r\n");
    for (const std::string& r : replies) {
      c.expect("TOP");
      c.send(r);
    }
    c.expect("QUIT");
    c.send("+OK\r\n");
  });
  auto kel = kelWithAccount("127.0.0.1", server.port(), "user", "secret");
  EXPECT_EQ(0, checkAccount(*kel));
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ("Boss", lineSender(kel->results[0].lines[i])) << i;
    EXPECT_EQ("quarterly", lineSubject(kel->results[0].lines[i])) << i;
  }
}

// A refusal of PASS that says the password was not judged is no
// authentication failure: the user's password may well be right.
TEST(Pop3Script, PassRefusedForAnotherReasonGivesSeven) {
  const std::pair<const char*, int> cases[] = {
      {"-ERR [IN-USE] Mailbox in use\r\n", 7},
      {"-ERR [LOGIN-DELAY] Logins must be at least 1 minute apart\r\n", 7},
      {"-ERR [SYS/TEMP] Try again later\r\n", 7},
      {"-ERR [AUTH] Application-specific password required: https://support.example.com/apppass\r\n", 8},
      {"-ERR [in-use] lower case\r\n", 7},
  };
  for (const auto& c : cases) {
    std::string refusal = c.first;
    Outcome o = check([&](ScriptConnection& s) {
      s.greet(kGreeting);
      s.expect("USER");
      s.send("+OK\r\n");
      s.expect("PASS");
      s.send(refusal);
      s.expect("QUIT");
      s.send("+OK bye\r\n");
    });
    EXPECT_EQ(c.second, o.code) << refusal;
    EXPECT_EQ(refusal.substr(0, refusal.size() - 2), o.reason);  // not the reply to QUIT
    EXPECT_EQ(c.second == 8, traced(o, "PASSが違う～♪\n")) << refusal;
    EXPECT_TRUE(traced(o, "QUIT\r\n")) << refusal;
    EXPECT_TRUE(traced(o, "+OK bye\r\n")) << refusal;
  }
}

// APOP falls back to USER and PASS only when the greeting holds no
// timestamp; a timestamp of any length is used, and PASS never sent.
TEST(Pop3Script, ApopFallsBackOnlyWithoutATimestamp) {
  int clear = -1;
  auto run = [&clear](const std::string& greeting, bool apop) {
    ScriptServer server([&](ScriptConnection& c) {
      if (apop) {
        c.greet(greeting);
        c.expect("APOP");
        c.send("+OK\r\n");
      } else {
        c.login();
      }
      c.expect("STAT");
      c.send("+OK 0 0\r\n");
      c.expect("QUIT");
      c.send("+OK\r\n");
    });
    auto kel = kelWithAccount("127.0.0.1", server.port(), "user", "secret", /*apop=*/true);
    TraceCapture trace;
    kel->results[0].passwordInClear = apop;  // the opposite of what this check leaves
    EXPECT_EQ(0, checkAccount(*kel));
    clear = kel->results[0].passwordInClear;
    return Outcome{0, 0, 0, trace.lines(), ""};
  };
  Outcome plain = run(kGreeting, false);
  EXPECT_TRUE(traced(plain, "USER user\r\n"));
  EXPECT_TRUE(traced(plain, "PASS xxxxxx\n"));
  EXPECT_EQ(1, clear);  // the password itself, in clear
  Outcome stamped = run("+OK <" + std::string(300, 's') + "@example.jp>\r\n", true);
  EXPECT_FALSE(traced(stamped, "PASS xxxxxx\n"));
  EXPECT_EQ(0, clear);
}

// A failure before any reply says what the connection met: the step, the
// address tried and the system's own error number.
TEST(Pop3Script, FailuresBeforeAnyReplyNameTheirStep) {
  int port = refusedPort();
  auto refused = kelWithAccount("127.0.0.1", port, "user", "secret");
  EXPECT_EQ(1, checkAccount(*refused));
  EXPECT_EQ(3, refused->results[0].errorCode);
#ifdef _WIN32
  const int kRefused = WSAECONNREFUSED;
#else
  const int kRefused = ECONNREFUSED;
#endif
  EXPECT_EQ("接続できません 127.0.0.1:" + std::to_string(port) + " (" + std::to_string(kRefused) + ")",
            std::string(refused->results[0].reason));

  auto unknown = kelWithAccount("nosuchhost.invalid", 110, "user", "secret");
  EXPECT_EQ(1, checkAccount(*unknown));
  EXPECT_EQ(2, unknown->results[0].errorCode);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = getaddrinfo("nosuchhost.invalid", "110", &hints, &list);
  ASSERT_NE(0, rc);
  EXPECT_EQ("名前解決に失敗 (" + std::to_string(rc) + ")", std::string(unknown->results[0].reason));

  // The next session starts without the last one's reason.
  unknown->accounts[0] = refused->accounts[0];
  ScriptServer fine([](ScriptConnection& c) {
    c.login();
    c.expect("STAT");
    c.send("+OK 0 0\r\n");
    c.expect("QUIT");
    c.send("+OK\r\n");
  });
  unknown->accounts[0].port = static_cast<uint16_t>(fine.port());
  EXPECT_EQ(0, checkAccount(*unknown));
  EXPECT_STREQ("", unknown->results[0].reason);
}
