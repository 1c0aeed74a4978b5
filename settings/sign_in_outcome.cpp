#include "settings/sign_in_outcome.h"

namespace {

std::string detail(const std::string& error, const std::string& description) {
  std::string text = "（" + error + "）";
  if (!description.empty()) text += "\n" + description;
  return text;
}

std::string httpFailure(const platform::HttpReply& r) {
  using platform::HttpFailure;
  std::string why = r.reason.empty() ? std::string() : "\n" + r.reason;
  switch (r.failure) {
    case HttpFailure::kUrlRefused:
      return "トークンエンドポイントは https で始まる URL でなければなりません。";
    case HttpFailure::kTimedOut: return "トークンエンドポイントから応答がありませんでした。" + why;
    case HttpFailure::kTooLarge: return "トークンエンドポイントの応答が大きすぎます。";
    case HttpFailure::kNameNotFound:
    case HttpFailure::kConnectFailed:
    case HttpFailure::kTlsFailed:
    case HttpFailure::kOther:
    default: return "トークンエンドポイントに接続できませんでした。" + why;
  }
}

}  // namespace

bool signInSucceeded(const SignInOutcome& o, std::string* text) {
  text->clear();
  switch (o.wait) {
    case WaitOutcome::kCancelled: return false;
    case WaitOutcome::kTimedOut:
      *text = "5分以内にサインインが終わらなかったため、中止しました。";
      return false;
    case WaitOutcome::kFailed:
      *text = "ブラウザからの応答を待つことができませんでした。";
      return false;
    case WaitOutcome::kAnswered: break;
  }
  switch (o.redirect.kind) {
    case RedirectKind::kWrongState:
      *text = "ブラウザからの応答がこのサインインのものではありません（state が一致しません）。\n"
              "もう一度サインインしてください。";
      return false;
    case RedirectKind::kRefused:
      if (o.redirect.error == "access_denied")
        *text = "サインインが拒否されました（access_denied）。";
      else
        *text = "サインインできませんでした" + detail(o.redirect.error, o.redirect.description);
      return false;
    case RedirectKind::kNotOurs: *text = "ブラウザからの応答を待つことができませんでした。"; return false;
    case RedirectKind::kCode: break;
  }
  if (o.http.failure == platform::HttpFailure::kCancelled) return false;
  if (o.http.failure != platform::HttpFailure::kNone) {
    *text = httpFailure(o.http);
    return false;
  }
  switch (o.token.outcome) {
    case TokenReply::kRefused:
      if (o.token.error == "invalid_grant")
        *text = "認可コードが受け付けられませんでした（invalid_grant）。\nもう一度サインインしてください。" +
                (o.token.description.empty() ? std::string() : "\n" + o.token.description);
      else
        *text = "トークンエンドポイントが拒否しました" + detail(o.token.error, o.token.description);
      return false;
    case TokenReply::kUnreadable:
      *text = "トークンエンドポイントの応答を読めませんでした（HTTP " + std::to_string(o.http.status) + "）。";
      return false;
    case TokenReply::kGranted: break;
  }
  if (o.token.refreshToken.empty()) {
    *text = "応答にリフレッシュトークンがありません。\nスコープに offline_access があるか確かめてください。";
    return false;
  }
  return true;
}
