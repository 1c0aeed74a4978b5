#include "settings/sign_in_outcome.h"

#include <gtest/gtest.h>

#include <string>

// Every way a sign-in ends, and what the user is told.
TEST(SignIn, EveryEndingIsSaidAndOnlyARefreshTokenIsASuccess) {
  using platform::HttpFailure;
  struct Row {
    WaitOutcome wait;
    RedirectKind kind;
    const char* redirectError;
    HttpFailure http;
    TokenReply::Outcome token;
    const char* tokenError;
    const char* refresh;
    bool ok;
    const char* text;
  };
  const auto G = TokenReply::kGranted, R = TokenReply::kRefused, U = TokenReply::kUnreadable;
  const auto A = WaitOutcome::kAnswered;
  const auto C = RedirectKind::kCode;
  const Row rows[] = {
      {A, C, "", HttpFailure::kNone, G, "", "r1", true, ""},
      {WaitOutcome::kCancelled, RedirectKind::kNotOurs, "", HttpFailure::kNone, U, "", "", false, ""},
      {A, C, "", HttpFailure::kCancelled, U, "", "", false, ""},  // cancelled during the exchange
      {WaitOutcome::kTimedOut, RedirectKind::kNotOurs, "", HttpFailure::kNone, U, "", "", false,
       "5分以内にサインインが終わらなかったため、中止しました。"},
      {WaitOutcome::kFailed, RedirectKind::kNotOurs, "", HttpFailure::kNone, U, "", "", false,
       "ブラウザからの応答を待つことができませんでした。"},
      {A, RedirectKind::kWrongState, "", HttpFailure::kNone, U, "", "", false,
       "ブラウザからの応答がこのサインインのものではありません（state が一致しません）。\n"
       "もう一度サインインしてください。"},
      {A, RedirectKind::kRefused, "access_denied", HttpFailure::kNone, U, "", "", false,
       "サインインが拒否されました（access_denied）。"},
      {A, RedirectKind::kRefused, "invalid_scope", HttpFailure::kNone, U, "", "", false,
       "サインインできませんでした（invalid_scope）\nbad scope"},
      {A, C, "", HttpFailure::kConnectFailed, U, "", "", false,
       "トークンエンドポイントに接続できませんでした。\nrefused"},
      {A, C, "", HttpFailure::kNameNotFound, U, "", "", false,
       "トークンエンドポイントに接続できませんでした。\nrefused"},
      {A, C, "", HttpFailure::kTimedOut, U, "", "", false, "トークンエンドポイントから応答がありませんでした。\nrefused"},
      {A, C, "", HttpFailure::kUrlRefused, U, "", "", false,
       "トークンエンドポイントは https で始まる URL でなければなりません。"},
      {A, C, "", HttpFailure::kNone, R, "invalid_grant", "", false,
       "認可コードが受け付けられませんでした（invalid_grant）。\nもう一度サインインしてください。\nbad scope"},
      {A, C, "", HttpFailure::kNone, R, "invalid_client", "", false,
       "トークンエンドポイントが拒否しました（invalid_client）\nbad scope"},
      {A, C, "", HttpFailure::kNone, U, "", "", false, "トークンエンドポイントの応答を読めませんでした（HTTP 502）。"},
      {A, C, "", HttpFailure::kNone, G, "", "", false,
       "応答にリフレッシュトークンがありません。\nスコープに offline_access があるか確かめてください。"},
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
