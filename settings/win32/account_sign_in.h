// The OAuth2 part of the account editor (window thread): the method, the
// client, the other provider's details, the sign-in through the browser,
// and the line that says whether the account is signed in. A sign-in's
// token is kept only when the editor is closed with OK.
#pragma once

#include <windows.h>

#include "settings/edits.h"

class Kel;

// WM_INITDIALOG, after the designed fields are shown; slot -1 for a new account.
void initSignIn(HWND editor, Kel& kel, int slot);
// WM_COMMAND of the editor: true when it was one of these controls'.
bool signInCommand(HWND editor, WPARAM wParam);
// WM_DESTROY: what OK did not keep is forgotten.
void endSignIn(HWND editor);
// True while the account logs in with its password (no OAuth2 method).
bool usesPassword(HWND editor);
// OK's check of the OAuth2 fields: false after telling what is missing.
bool signInReady(HWND editor);
// After OK stored the account in `slot`: its method, and the new sign-in's
// token when it was made for what is stored.
SaveOutcome storeSignIn(HWND editor, Kel& kel, int slot);
