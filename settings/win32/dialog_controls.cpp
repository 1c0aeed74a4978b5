#include "settings/win32/dialog_controls.h"

#include <windows.h>

#include <commdlg.h>

#include <cstring>
#include <string>

#include "settings/edits.h"

Kel& dialogKel(HWND dialog) { return *reinterpret_cast<Kel*>(GetWindowLongPtrA(dialog, DWLP_USER)); }

void keepKel(HWND dialog, Kel& kel) { SetWindowLongPtrA(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(&kel)); }

bool isChecked(HWND dialog, int id) { return IsDlgButtonChecked(dialog, id) == BST_CHECKED; }

void setChecked(HWND dialog, int id, int32_t state) {
  CheckDlgButton(dialog, id, state != 0 ? BST_CHECKED : BST_UNCHECKED);
}

void enable(HWND dialog, int id, bool on) { EnableWindow(GetDlgItem(dialog, id), on ? TRUE : FALSE); }

void readText(HWND dialog, int id, char* out, size_t limit) {
  HWND control = GetDlgItem(dialog, id);
  int length = GetWindowTextLengthA(control);
  std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
  GetWindowTextA(control, &text[0], static_cast<int>(text.size()));
  copyCut(out, text.c_str(), limit);
}

void fillDropDown(HWND dialog, int id, const char* const* labels, int count, int32_t selected) {
  HWND list = GetDlgItem(dialog, id);
  for (int i = 0; i < count; ++i)
    SendMessageA(list, CB_INSERTSTRING, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(labels[i]));
  if (selected < 0 || selected >= count) selected = 0;
  SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int32_t dropDownSelection(HWND dialog, int id, int32_t fallback) {
  LRESULT i = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
  return i == CB_ERR ? fallback : static_cast<int32_t>(i);
}

void showError(HWND owner, const char* text) { MessageBoxA(owner, text, "エラ～！", MB_ICONWARNING | MB_OK); }

void reportUnsaved(HWND owner) { showError(owner, "設定ファイルに書き込めませんでした"); }

bool chooseFile(FileKind kind, char* out) {
  // Label and pattern pairs, each ending in a NUL, the whole in two.
  static const char kWaves[] = "wav(*.wav)\0*.wav\0all(*.*)\0*.*\0";
  static const char kPrograms[] = "exe(*.exe)\0*.exe\0all(*.*)\0*.*\0";
  char path[260] = "";
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = nullptr;
  ofn.lpstrFilter = kind == FileKind::kWave ? kWaves : kPrograms;
  ofn.lpstrFile = path;
  ofn.nMaxFile = sizeof path;
  ofn.lpstrTitle = "開く";
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameA(&ofn)) return false;
  memcpy(out, path, sizeof path);
  return true;
}
