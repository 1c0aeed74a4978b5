#include "app/win32/mailer.h"

#include <shellapi.h>

#include <string>

#include "app/application.h"
#include "platform/win32/wide_text.h"

const MailerEffects kShellMailer = {ShellExecuteW};

void startMailer(const Kel& kel, HWND owner, bool evenIfEmpty, const MailerEffects& shell) {
  if (!evenIfEmpty && kel.mailer[0] == '\0') return;
  std::wstring path = platform::widen(kel.mailer);
  shell.shellExecute(owner, L"open", path.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}
