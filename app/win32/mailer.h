// Starting the user's mail program from the tray.
#pragma once

#include <windows.h>

class Kel;

// The shell call; tests pass a recorder in its place.
struct MailerEffects {
  HINSTANCE(WINAPI* shellExecute)(HWND owner, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters,
                                  LPCWSTR directory, INT show);
};
// The program's: ShellExecuteW.
extern const MailerEffects kShellMailer;

// Opens kel.mailer (a Shift-JIS path from the options). With none set it does
// nothing, unless evenIfEmpty: a double click on the icon still asks the shell.
void startMailer(const Kel& kel, HWND owner, bool evenIfEmpty, const MailerEffects& shell);
