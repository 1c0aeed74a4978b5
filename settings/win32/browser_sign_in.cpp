#include "settings/win32/browser_sign_in.h"

#include <shellapi.h>

#include <atomic>
#include <thread>

#include "platform/http.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "settings/loopback.h"
#include "settings/sign_in.h"
#include "settings/sign_in_outcome.h"
#include "settings/win32/dialog_controls.h"

namespace {

constexpr UINT kSignInEnded = WM_APP + 1;
// The user has five minutes in the browser; the exchange has its own bound.
constexpr uint64_t kBrowserMs = 5 * 60 * 1000;
constexpr int kExchangeMs = 30 * 1000;

struct Attempt {
  const BrowserSignIn* request;
  LoopbackListener listener;
  Pkce pkce;
  std::string redirect;
  std::atomic<bool> cancel{false};
  SignInOutcome outcome;
  std::thread worker;
};

void run(Attempt& a, HWND modal) {
  SignInOutcome& o = a.outcome;
  o.wait = awaitRedirect(a.listener, a.pkce.state, a.cancel, kBrowserMs, &o.redirect);
  if (o.wait == WaitOutcome::kAnswered && o.redirect.kind == RedirectKind::kCode) {
    std::string form =
        codeExchangeForm(o.redirect.code, a.redirect, a.request->clientId, a.pkce.verifier, a.request->secret);
    o.http = platform::httpPostForm(a.request->token, form, &a.cancel, kExchangeMs, kTokenReplyMaxBytes);
    if (o.http.failure == platform::HttpFailure::kNone) o.token = readTokenReply(o.http.status, o.http.body);
    SecureZeroMemory(&form[0], form.size());
  }
  PostMessageW(modal, kSignInEnded, 0, 0);
}

INT_PTR CALLBACK waitProc(HWND modal, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      useJapaneseFont(modal);
      SetWindowLongPtrW(modal, DWLP_USER, lParam);
      Attempt& a = *reinterpret_cast<Attempt*>(lParam);
      a.worker = std::thread([&a, modal] { run(a, modal); });
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDCANCEL) {  // the button, Esc: ended once the worker has seen it
        reinterpret_cast<Attempt*>(GetWindowLongPtrW(modal, DWLP_USER))->cancel = true;
        EnableWindow(GetDlgItem(modal, IDCANCEL), FALSE);
        return TRUE;
      }
      return FALSE;
    case kSignInEnded: EndDialog(modal, 1); return TRUE;
    default: return FALSE;
  }
}

// The window and those that own it (the sheet, the program's popup window),
// with whether each is topmost. A window owned by a topmost one is made
// topmost too, so the whole chain steps back for the browser. (Wine keeps a
// visible window topmost while its owner is; Windows clears the chain.)
struct OwnerChain {
  HWND w[8];
  bool topmost[8];
  int n = 0;
  explicit OwnerChain(HWND start) {
    for (HWND h = start; h && n < 8; h = GetWindow(h, GW_OWNER), ++n) {
      w[n] = h;
      topmost[n] = (GetWindowLongPtrW(h, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    }
  }
  void place(bool onTop) const {
    for (int k = 0; k < n; ++k) {
      int i = onTop ? n - 1 - k : k;
      if (topmost[i])
        SetWindowPos(w[i], onTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    }
  }
};

}  // namespace

bool signInWithBrowser(HWND owner, HINSTANCE instance, const BrowserSignIn& s, std::string* refresh) {
  if (!platform::httpUrlAllowed(s.authorize) || !platform::httpUrlAllowed(s.token)) {
    showError(owner, "認可エンドポイントとトークンエンドポイントは https で始まる URL でなければなりません。");
    return false;
  }
  Attempt a;
  a.request = &s;
  if (!makePkce(&a.pkce)) {
    showError(owner, "サインインに使う乱数を用意できませんでした。");
    return false;
  }
  if (!openLoopback(&a.listener)) {
    showError(owner, "ブラウザからの応答を受ける待ち受けを開けませんでした。");
    return false;
  }
  a.redirect = redirectUri(s.method, a.listener.port);
  std::string url = authorizationUrl({s.method, s.authorize, s.clientId.c_str(), s.scope, s.loginHint.c_str(),
                                      s.authorizeExtra, &a.redirect, &a.pkce});
  // The browser must be able to come to the front.
  OwnerChain chain(owner);
  chain.place(false);
  std::wstring wideUrl = platform::widen(url.c_str());
  HINSTANCE opened = ShellExecuteW(owner, L"open", wideUrl.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  bool ok = false;
  if (reinterpret_cast<INT_PTR>(opened) <= 32) {
    showError(owner, "ブラウザを開けませんでした。");
  } else {
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SIGN_IN_WAIT), owner, waitProc, reinterpret_cast<LPARAM>(&a));
    if (a.worker.joinable()) a.worker.join();
    std::string why;
    ok = signInSucceeded(a.outcome, &why);
    if (ok) *refresh = a.outcome.token.refreshToken;
    else if (!why.empty()) showError(owner, why.c_str());
  }
  closeLoopback(&a.listener);
  SecureZeroMemory(&a.pkce.verifier[0], a.pkce.verifier.size());
  chain.place(true);
  return ok;
}
