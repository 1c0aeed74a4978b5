#include "settings/win32/account_sign_in.h"

#include <cstring>
#include <string>

#include "app/application.h"
#include "platform/http.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "settings/oauth.h"
#include "settings/win32/browser_sign_in.h"
#include "settings/win32/dialog_controls.h"

namespace {

const char* const kMethods[] = {"パスワード", "OAuth2 (Microsoft)", "OAuth2 (Google)", "OAuth2 (その他)"};
const wchar_t kProperty[] = L"KelSignIn";
constexpr size_t kLongest = 1024;  // a client, a secret, an endpoint or a scope

struct Fields {
  std::string server, user;
  OAuthSettings method;
};

struct EditorSignIn {
  Kel* kel;
  OAuthSettings draft;  // the other provider's details as last set
  Fields stored;        // what the slot held, its refresh token included
  Fields signedFor;     // what the new sign-in was made for
  std::string sealed;   // the new sign-in's refresh token, protected
};

EditorSignIn* state(HWND editor) { return static_cast<EditorSignIn*>(GetPropW(editor, kProperty)); }

// A field as typed; empty when Shift-JIS cannot hold it (told on OK).
std::string typed(HWND editor, int id) {
  char text[kLongest];
  std::wstring wide(static_cast<size_t>(GetWindowTextLengthW(GetDlgItem(editor, id))) + 1, L'\0');
  GetDlgItemTextW(editor, id, &wide[0], static_cast<int>(wide.size()));
  return platform::narrow(wide.c_str(), text, sizeof text) == platform::Narrowed::kOk ? text : std::string();
}

Fields current(HWND editor) {
  EditorSignIn& s = *state(editor);
  Fields f;
  f.server = typed(editor, IDC_ACCOUNT_SERVER);
  f.user = typed(editor, IDC_ACCOUNT_USER);
  f.method = s.draft;
  f.method.oauth = dropDownSelection(editor, IDC_ACCOUNT_AUTH, kOAuthNone);
  f.method.client = typed(editor, IDC_ACCOUNT_CLIENT_ID);
  f.method.secret = f.method.oauth == kOAuthGoogle ? typed(editor, IDC_ACCOUNT_SECRET) : std::string();
  return f;
}

bool sameAccount(const Fields& a, const Fields& b) {
  return a.server == b.server && a.user == b.user && oauthProviderFor(a.method.oauth) != kOAuthNone &&
         sameOAuthMethod(a.method, b.method);
}

bool newSignInHolds(HWND editor, const Fields& now) {
  EditorSignIn& s = *state(editor);
  return !s.sealed.empty() && sameAccount(now, s.signedFor);
}

void showState(HWND editor) {
  EditorSignIn& s = *state(editor);
  Fields now = current(editor);
  bool password = now.method.oauth == kOAuthNone;
  bool signedIn = newSignInHolds(editor, now) || (!s.stored.method.refresh.empty() && sameAccount(now, s.stored));
  showText(editor, IDC_ACCOUNT_SIGNED_IN, signedIn ? "サインイン済み" : "サインインしていません");
  enable(editor, IDC_ACCOUNT_PASSWORD, password);
  enable(editor, IDC_ACCOUNT_APOP, password);
  for (int id : {IDC_ACCOUNT_CLIENT_ID, IDC_ACCOUNT_SIGN_IN, IDC_ACCOUNT_SIGNED_IN}) enable(editor, id, !password);
  enable(editor, IDC_ACCOUNT_SECRET, now.method.oauth == kOAuthGoogle);
  enable(editor, IDC_ACCOUNT_DETAILS, now.method.oauth == kOAuthOther);
}

// What is missing for a sign-in with this method, or nullptr.
const char* missing(const OAuthSettings& m) {
  if (m.client.empty()) return "クライアントIDを入力してください。";
  if (m.oauth == kOAuthGoogle && m.secret.empty()) return "クライアントシークレットを入力してください。";
  if (m.oauth == kOAuthOther && (m.authorize.empty() || m.token.empty() || m.scope.empty()))
    return "「詳細...」で認可エンドポイント、トークンエンドポイントとスコープを入力してください。";
  return nullptr;
}

void signIn(HWND editor) {
  EditorSignIn& s = *state(editor);
  Fields now = current(editor);
  if (const char* lack = missing(now.method)) {
    showError(editor, lack);
    return;
  }
  OAuthEndpoints e = oauthEndpoints(now.method);
  BrowserSignIn request{now.method.oauth, now.method.client, now.method.secret, e.authorize, e.token, e.scope,
                        e.authorizeExtra, now.user};
  std::string refresh, sealed;
  if (signInWithBrowser(editor, s.kel->instance, request, &refresh)) {
    if (sealRefreshToken(refresh, sealed)) {
      s.sealed = sealed;
      s.signedFor = now;
    } else {
      showError(editor, "トークンを保護できなかったため、保存できません。");
    }
  }
  if (!refresh.empty()) SecureZeroMemory(&refresh[0], refresh.size());
  showState(editor);
}

INT_PTR CALLBACK detailsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  const int ids[] = {IDC_DETAILS_AUTHORIZE, IDC_DETAILS_TOKEN, IDC_DETAILS_SCOPE};
  const char* const names[] = {"認可エンドポイント", "トークンエンドポイント", "スコープ"};
  if (message == WM_INITDIALOG) {
    useJapaneseFont(dialog);
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    OAuthSettings& d = *reinterpret_cast<OAuthSettings*>(lParam);
    showText(dialog, ids[0], d.authorize.c_str());
    showText(dialog, ids[1], d.token.c_str());
    showText(dialog, ids[2], d.scope.c_str());
    return TRUE;
  }
  if (message != WM_COMMAND) return FALSE;
  if (LOWORD(wParam) == IDCANCEL) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  if (LOWORD(wParam) != IDOK) return FALSE;
  char read[3][kLongest];
  for (int i = 0; i < 3; ++i) {
    if (!readField(dialog, ids[i], read[i], sizeof read[i], names[i])) return TRUE;
  }
  for (int i = 0; i < 2; ++i) {
    if (read[i][0] && !platform::httpUrlAllowed(read[i])) {
      showError(dialog, "エンドポイントには https で始まる URL を入力してください。");
      return TRUE;
    }
  }
  OAuthSettings& d = *reinterpret_cast<OAuthSettings*>(GetWindowLongPtrW(dialog, DWLP_USER));
  d.authorize = read[0];
  d.token = read[1];
  d.scope = read[2];
  EndDialog(dialog, 1);
  return TRUE;
}

}  // namespace

void initSignIn(HWND editor, Kel& kel, int slot) {
  auto* s = new EditorSignIn{};
  s->kel = &kel;
  SetPropW(editor, kProperty, s);
  if (slot >= 0 && slot < kAccountSlots) {
    std::lock_guard<std::mutex> g(kel.checkLock);
    s->stored.server = kel.accounts[slot].pop3server;
    s->stored.user = kel.accounts[slot].user;
    s->stored.method = kel.oauth[slot];
    s->stored.method.accessToken.clear();
  }
  s->draft = s->stored.method;
  s->draft.refresh.clear();
  fillDropDown(editor, IDC_ACCOUNT_AUTH, kMethods, 4, oauthProviderFor(s->draft.oauth));
  showText(editor, IDC_ACCOUNT_CLIENT_ID, s->draft.client.c_str());
  showText(editor, IDC_ACCOUNT_SECRET, s->draft.secret.c_str());
  showState(editor);
}

bool signInCommand(HWND editor, WPARAM wParam) {
  int id = LOWORD(wParam), code = HIWORD(wParam);
  if (!state(editor)) return false;
  switch (id) {
    case IDC_ACCOUNT_SIGN_IN:
      if (code == BN_CLICKED) signIn(editor);
      return true;
    case IDC_ACCOUNT_DETAILS:
      if (code == BN_CLICKED) {
        Kel& kel = *state(editor)->kel;
        DialogBoxParamW(kel.instance, MAKEINTRESOURCEW(IDD_OAUTH_DETAILS), editor, detailsProc,
                        reinterpret_cast<LPARAM>(&state(editor)->draft));
        showState(editor);
      }
      return true;
    case IDC_ACCOUNT_AUTH:
      if (code == CBN_SELCHANGE) showState(editor);
      return true;
    case IDC_ACCOUNT_SERVER:
    case IDC_ACCOUNT_USER:
    case IDC_ACCOUNT_CLIENT_ID:
    case IDC_ACCOUNT_SECRET:
      if (code == EN_CHANGE) showState(editor);
      return code == EN_CHANGE;
    default: return false;
  }
}

void endSignIn(HWND editor) {
  EditorSignIn* s = state(editor);
  if (!s) return;
  RemovePropW(editor, kProperty);
  delete s;
}

bool usesPassword(HWND editor) { return dropDownSelection(editor, IDC_ACCOUNT_AUTH, kOAuthNone) == kOAuthNone; }

bool signInReady(HWND editor) {
  char text[kLongest];
  for (int id : {IDC_ACCOUNT_CLIENT_ID, IDC_ACCOUNT_SECRET}) {
    if (!readField(editor, id, text, sizeof text, id == IDC_ACCOUNT_SECRET ? "シークレット" : "クライアントID"))
      return false;
  }
  if (usesPassword(editor)) return true;
  if (const char* lack = missing(current(editor).method)) {
    showError(editor, lack);
    return false;
  }
  return true;
}

SaveOutcome storeSignIn(HWND editor, Kel& kel, int slot) {
  EditorSignIn& s = *state(editor);
  Fields now = current(editor);
  SaveOutcome saved = storeOAuthSettings(kel, slot, now.method);
  if (!newSignInHolds(editor, now)) return saved;
  TokenOffer offer{};
  offer.slot = slot;
  {
    std::lock_guard<std::mutex> g(kel.checkLock);
    strncpy(offer.server, kel.accounts[slot].pop3server, sizeof offer.server - 1);
    strncpy(offer.user, kel.accounts[slot].user, sizeof offer.user - 1);
    offer.port = kel.accounts[slot].port;
  }
  offer.client = now.method.client;
  offer.refresh = s.sealed;
  if (acceptTokenOffer(kel, offer) == TokenStored::kNotWritten) saved = SaveOutcome::kNotWritten;
  return saved;
}
