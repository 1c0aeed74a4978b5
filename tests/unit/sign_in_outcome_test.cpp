#include "settings/sign_in_outcome.h"

#include <gtest/gtest.h>

#include <string>

// Every way a sign-in ends, and what the user is told.
TEST(SignIn, EveryEndingIsSaidAndOnlyARefreshTokenIsASuccess) {
  using platform::HttpFailure;
  const auto A = WaitOutcome::kAnswered;
  const auto N = RedirectKind::kNotOurs, C = RedirectKind::kCode;
  const auto G = TokenReply::kGranted, R = TokenReply::kRefused, U = TokenReply::kUnreadable;
  const auto H0 = HttpFailure::kNone;
  struct Row {
    bool ok;
    const char* text;
    WaitOutcome wait;
    RedirectKind kind;
    HttpFailure http = HttpFailure::kNone;
    TokenReply::Outcome token = TokenReply::kUnreadable;
    const char* redirectError = "";
    const char* tokenError = "";
    const char* refresh = "";
  };
  const Row rows[] = {
      {true, "", A, C, H0, G, "", "", "r1"},
      {false, "", WaitOutcome::kCancelled, N},
      {false, "", A, C, HttpFailure::kCancelled},  // cancelled during the exchange
      {false, "5分以内にサインインが終わらなかったため、中止しました。", WaitOutcome::kTimedOut, N},
      {false, "ブラウザからの応答を待つことができませんでした。", WaitOutcome::kFailed, N},
      {false, "ブラウザからの応答がこのサインインのものではありません（state が一致しません）。\n"
              "もう一度サインインしてください。", A, RedirectKind::kWrongState},
      {false, "サインインが拒否されました（access_denied）。", A, RedirectKind::kRefused, H0, U, "access_denied"},
      {false, "サインインできませんでした（invalid_scope）\nbad scope", A, RedirectKind::kRefused, H0, U, "invalid_scope"},
      {false, "トークンエンドポイントに接続できませんでした。\nrefused", A, C, HttpFailure::kConnectFailed},
      {false, "トークンエンドポイントに接続できませんでした。\nrefused", A, C, HttpFailure::kNameNotFound},
      {false, "トークンエンドポイントから応答がありませんでした。\nrefused", A, C, HttpFailure::kTimedOut},
      {false, "トークンエンドポイントは https で始まる URL でなければなりません。", A, C, HttpFailure::kUrlRefused},
      {false, "認可コードが受け付けられませんでした（invalid_grant）。\nもう一度サインインしてください。\nbad scope", A, C,
       H0, R, "", "invalid_grant"},
      {false, "トークンエンドポイントが拒否しました（invalid_client）\nbad scope", A, C, H0, R, "", "invalid_client"},
      {false, "トークンエンドポイントの応答を読めませんでした（HTTP 502）。", A, C},
      {false, "応答にリフレッシュトークンがありません。\nスコープに offline_access があるか確かめてください。", A, C, H0, G},
  };
  for (const Row& r : rows) {
    SignInOutcome o;
    o.wait = r.wait;
    o.redirect.kind = r.kind;
    o.redirect.error = r.redirectError;
    o.redirect.description = "bad scope";
    o.http.failure = r.http;
    o.http.status = 502;
    o.http.reason = "refused";
    o.token.outcome = r.token;
    o.token.error = r.tokenError;
    o.token.description = "bad scope";
    o.token.refreshToken = r.refresh;
    std::string text = "left over";
    EXPECT_EQ(r.ok, signInSucceeded(o, &text)) << r.text;
    EXPECT_EQ(r.text, text);
  }
}
