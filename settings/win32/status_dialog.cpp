#include "settings/win32/status_dialog.h"

#include <string>

#include "app/application.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "settings/status_lines.h"
#include "settings/win32/dialog_controls.h"

namespace {

// At the client area's top-left corner, as wide as it, keeping its height.
void fitList(HWND dialog) {
  HWND list = GetDlgItem(dialog, IDC_STATUS_LIST);
  RECT client, own;
  GetClientRect(dialog, &client);
  GetWindowRect(list, &own);
  MoveWindow(list, 0, 0, client.right, own.bottom - own.top, TRUE);
}

INT_PTR CALLBACK statusProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      Kel& kel = *reinterpret_cast<Kel*>(lParam);
      useJapaneseFont(dialog);
      HWND list = GetDlgItem(dialog, IDC_STATUS_LIST);
      fitList(dialog);
      for (const std::string& line : serverStatusLines(kel)) {
        std::wstring wide = platform::widen(line.c_str());
        SendMessageW(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
      }
      return TRUE;
    }
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
      }
      return FALSE;
    case WM_CLOSE: EndDialog(dialog, 0); return TRUE;
    case WM_SIZE: fitList(dialog); return FALSE;  // a new DPI resizes the dialog
    default: return FALSE;
  }
}

}  // namespace

void showServerStatus(Kel& kel, HWND owner) {
  DialogBoxParamW(kel.instance, MAKEINTRESOURCEW(IDD_SERVER_STATUS), owner, statusProc,
                  reinterpret_cast<LPARAM>(&kel));
}
