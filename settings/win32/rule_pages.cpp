// The "削除リスト" and "無視リスト" pages and the condition editor "条件追加".
#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/application.h"
#include "app/dpi.h"
#include "platform/win32/dpi.h"
#include "platform/win32/wide_text.h"
#include "resources/resource_ids.h"
#include "settings/win32/dialog_controls.h"
#include "settings/edits.h"
#include "settings/win32/pages.h"

namespace {

void conditionOk(HWND editor) {
  Kel& kel = dialogKel(editor);
  char keyword[sizeof FilterRule{}.keyword];
  // A keyword left as it was shown keeps its stored bytes.
  const FilterRule* stored = ruleForCode(kel, kel.ruleEditCode);
  if (!readField(editor, IDC_CONDITION_KEYWORD, stored ? stored->keyword : nullptr, keyword, sizeof keyword,
                 "キーワード"))
    return;
  if (saysNothing(keyword)) {
    showError(editor, "キーワードが未記入です！");
    return;
  }
  int kind = dropDownSelection(editor, IDC_CONDITION_KIND, kSenderAddressEquals);
  SaveOutcome saved = SaveOutcome::kSaved;
  int slot = storeRule(kel, kel.ruleEditCode, keyword, kind, &saved);
  if (slot < 0) {
    showError(editor, "これ以上条件を追加できません");
    return;
  }
  if (saved == SaveOutcome::kNotWritten) reportUnsaved(editor);
  kel.ruleEditCode = slot;
  EndDialog(editor, 1);
}

INT_PTR CALLBACK conditionEditorProc(HWND editor, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG: {
      Kel& kel = *reinterpret_cast<Kel*>(lParam);
      keepKel(editor, kel);
      useJapaneseFont(editor);
      // A rule of an unknown kind (a hand-edited file) shows the first kind,
      // so that OK always stores one of the six.
      int32_t kind = kSenderAddressEquals;
      if (const FilterRule* rule = ruleForCode(kel, kel.ruleEditCode)) {
        showText(editor, IDC_CONDITION_KEYWORD, rule->keyword);
        kind = rule->kind;
      }
      fillDropDown(editor, IDC_CONDITION_KIND, matchKindLabels, kMatchKinds, kind);
      return TRUE;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case IDOK: conditionOk(editor); return TRUE;
        case IDCANCEL: EndDialog(editor, 0); return TRUE;
        default: return FALSE;
      }
    default: return FALSE;
  }
}

void setItem(HWND list, int i, const FilterRule& rule, bool insert) {
  std::wstring keyword = platform::widen(rule.keyword), kind = platform::widen(matchKindLabel(rule.kind));
  LVITEMW item{};
  item.mask = LVIF_TEXT;
  item.iItem = i;
  item.pszText = &keyword[0];
  SendMessageW(list, insert ? LVM_INSERTITEMW : LVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&item));
  item.iSubItem = 1;
  item.pszText = &kind[0];
  SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&item));
}

void initRuleList(HWND page, FilterRule* const (&rules)[kRuleSlots], const char* kindTitle) {
  HWND list = GetDlgItem(page, IDC_RULES_LIST);
  SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  const char* titles[2] = {"キーワード", kindTitle};
  for (int c = 0; c < 2; ++c) {
    std::wstring title = platform::widen(titles[c]);
    LVCOLUMNW column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_LEFT;
    column.cx = scaleForDpi(170, platform::windowDpi(list));
    column.pszText = &title[0];
    column.iSubItem = c;
    SendMessageW(list, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
  }
  for (int i = 0; i < kRuleSlots; ++i) {
    if (rules[i]) setItem(list, i, *rules[i], true);
  }
}

int runConditionEditor(HWND page, int32_t code) {
  Kel& kel = dialogKel(page);
  kel.ruleEditCode = code;
  INT_PTR r = DialogBoxParamW(kel.instance, MAKEINTRESOURCEW(IDD_CONDITION_EDITOR), page, conditionEditorProc,
                              reinterpret_cast<LPARAM>(&kel));
  return r > 0 ? 1 : 0;
}

INT_PTR rulePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam, bool deleteList) {
  if (message == WM_INITDIALOG) {
    Kel& kel = keepPageKel(page, lParam);
    initRuleList(page, deleteList ? kel.deleteList : kel.ignoreList, deleteList ? "削除条件" : "無視条件");
    return TRUE;
  }
  if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
  Kel& kel = dialogKel(page);
  FilterRule* const (&rules)[kRuleSlots] = deleteList ? kel.deleteList : kel.ignoreList;
  HWND list = GetDlgItem(page, IDC_RULES_LIST);
  int s = static_cast<int>(SendMessageW(list, LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
  int sign = deleteList ? 1 : -1;
  switch (LOWORD(wParam)) {
    case IDC_RULES_ADD:
      if (runConditionEditor(page, deleteList ? kAddToDeleteList : kAddToIgnoreList))
        setItem(list, kel.ruleEditCode, *rules[kel.ruleEditCode], true);
      return TRUE;
    case IDC_RULES_EDIT:
      if (s >= 0 && runConditionEditor(page, sign * (s + 1)))
        setItem(list, kel.ruleEditCode, *rules[kel.ruleEditCode], false);
      return TRUE;
    case IDC_RULES_DELETE:
      if (s < 0) return TRUE;
      SendMessageW(list, LVM_DELETEITEM, static_cast<WPARAM>(s), 0);
      if (deleteRule(kel, deleteList, s) == SaveOutcome::kNotWritten) reportUnsaved(page);
      return TRUE;
    default: return FALSE;
  }
}

}  // namespace

INT_PTR CALLBACK deleteListPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  return rulePage(page, message, wParam, lParam, true);
}

INT_PTR CALLBACK ignoreListPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
  return rulePage(page, message, wParam, lParam, false);
}
