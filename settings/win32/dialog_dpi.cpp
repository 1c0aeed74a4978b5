// The dialogs at the DPI they are shown at: the Japanese font each window
// is given, made per DPI, and, when a dialog moves to another DPI, its
// fonts, its list views' columns and (where Windows does not) its layout.
#include <windows.h>

#include <commctrl.h>

#include <cstring>
#include <cwchar>

#include "app/dpi.h"
#include "platform/win32/dpi.h"
#include "settings/win32/dialog_controls.h"

namespace {

// The fonts made so far, each with the number of open dialogs using it.
// One no dialog uses is kept for the next dialog and deleted when room is
// needed, so however many DPIs the dialogs meet there are never more than
// this many.
constexpr int kCachedFonts = kDialogFontCache;
struct CachedFont {
  LOGFONTW key;
  HFONT font;
  int users;
};
CachedFont cache[kCachedFonts];
int cached = 0;

HFONT acquireFont(const LOGFONTW& want) {
  for (int i = 0; i < cached; ++i) {
    if (memcmp(&cache[i].key, &want, sizeof want) != 0) continue;
    ++cache[i].users;
    return cache[i].font;
  }
  if (cached == kCachedFonts) {
    int unused = 0;
    while (unused < cached && cache[unused].users > 0) ++unused;
    if (unused == cached) return nullptr;  // all in use: the control keeps its font
    DeleteObject(cache[unused].font);
    cache[unused] = cache[--cached];
  }
  HFONT font = CreateFontIndirectW(&want);
  if (font) cache[cached++] = {want, font, 1};
  return font;
}

void releaseFont(HFONT font) {
  for (int i = 0; i < cached; ++i)
    if (cache[i].font == font && cache[i].users > 0) --cache[i].users;
}

const LOGFONTW* keyOf(HFONT font) {
  for (int i = 0; i < cached; ++i)
    if (cache[i].font == font) return &cache[i].key;
  return nullptr;
}

// What a top-level dialog (an editor, or the sheet with its pages) holds:
// the fonts its windows were given and the DPI they were made for.
struct Holder {
  HFONT fonts[8];
  int count;
  int dpi;
};

bool holds(const Holder& h, HFONT font) {
  for (int i = 0; i < h.count; ++i)
    if (h.fonts[i] == font) return true;
  return false;
}

HFONT hold(Holder& h, const LOGFONTW& want) {
  HFONT font = acquireFont(want);
  if (!font || holds(h, font) || h.count == 8) {
    if (font) releaseFont(font);
    return holds(h, font) ? font : nullptr;
  }
  h.fonts[h.count++] = font;
  return font;
}

// The window's font with the Shift-JIS charset, when it has another.
bool japaneseFor(HFONT current, LOGFONTW* want) {
  if (!current || !GetObjectW(current, sizeof *want, want) || want->lfCharSet == SHIFTJIS_CHARSET) return false;
  want->lfCharSet = SHIFTJIS_CHARSET;
  // The face name's tail past its NUL is whatever the font's maker left
  // there (a new dialog's font differs in it each time): cleared, so that
  // the same font is found again rather than made anew.
  size_t face = wcsnlen(want->lfFaceName, LF_FACESIZE);
  memset(want->lfFaceName + face, 0, (LF_FACESIZE - face) * sizeof(wchar_t));
  return true;
}

HFONT fontOf(HWND window) { return reinterpret_cast<HFONT>(SendMessageW(window, WM_GETFONT, 0, 0)); }
void setFont(HWND window, HFONT font) { SendMessageW(window, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE); }

BOOL CALLBACK giveJapaneseFont(HWND window, LPARAM holder) {
  LOGFONTW want;
  if (japaneseFor(fontOf(window), &want))
    if (HFONT font = hold(*reinterpret_cast<Holder*>(holder), want)) setFont(window, font);
  return TRUE;
}

struct Rescale {
  Holder* from;
  Holder* to;
};

// A font of the old DPI gives way to the same font at the new one.
BOOL CALLBACK refont(HWND window, LPARAM context) {
  Rescale& r = *reinterpret_cast<Rescale*>(context);
  HFONT font = fontOf(window);
  const LOGFONTW* key = holds(*r.from, font) ? keyOf(font) : nullptr;
  if (!key) return TRUE;
  LOGFONTW want = *key;
  want.lfHeight = fontHeightAtDpi(want.lfHeight, r.from->dpi, r.to->dpi);
  HFONT scaled = hold(*r.to, want);
  if (!scaled) scaled = hold(*r.to, *key);  // no room: it keeps the one it has
  if (scaled && scaled != font) setFont(window, scaled);
  return TRUE;
}

int scaled(int length, const Rescale& r) { return MulDiv(length, r.to->dpi, r.from->dpi); }

// Pixel widths that no one else scales.
BOOL CALLBACK rescaleColumns(HWND window, LPARAM context) {
  const Rescale& r = *reinterpret_cast<const Rescale*>(context);
  wchar_t cls[32] = L"";
  GetClassNameW(window, cls, 32);
  if (lstrcmpiW(cls, WC_LISTVIEWW) != 0) return TRUE;
  int columns = Header_GetItemCount(ListView_GetHeader(window));
  for (int i = 0; i < columns; ++i) ListView_SetColumnWidth(window, i, scaled(ListView_GetColumnWidth(window, i), r));
  return TRUE;
}

// Each control's place and size in its parent, scaled.
BOOL CALLBACK relayout(HWND window, LPARAM context) {
  const Rescale& r = *reinterpret_cast<const Rescale*>(context);
  RECT box;
  GetWindowRect(window, &box);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&box), 2);
  SetWindowPos(window, nullptr, scaled(box.left, r), scaled(box.top, r), scaled(box.right - box.left, r),
               scaled(box.bottom - box.top, r), SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

void rescale(HWND root, Holder& holder, int dpi, const RECT* suggested) {
  if (dpi <= 0 || dpi == holder.dpi) return;
  Holder next{{}, 0, dpi};
  Rescale r{&holder, &next};
  // Per-monitor version 2 has the dialog manager lay the dialog out anew;
  // version 1 (and Wine) leave it to the program.
  if (!platform::perMonitorV2()) {
    EnumChildWindows(root, relayout, reinterpret_cast<LPARAM>(&r));
    if (suggested)
      SetWindowPos(root, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                   suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  refont(root, reinterpret_cast<LPARAM>(&r));
  EnumChildWindows(root, refont, reinterpret_cast<LPARAM>(&r));
  EnumChildWindows(root, rescaleColumns, reinterpret_cast<LPARAM>(&r));
  for (int i = 0; i < holder.count; ++i) releaseFont(holder.fonts[i]);
  holder = next;
}

constexpr UINT_PTR kScaledDialog = 0x4B656C;
// The holder is the dialog's property; the subclass is its keeper.
const wchar_t kHolderProperty[] = L"KelDialogFonts";

LRESULT CALLBACK scaledDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data) {
  Holder* holder = reinterpret_cast<Holder*>(data);
  if (message == WM_DPICHANGED) {
    LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    rescale(window, *holder, LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
    return result;
  }
  if (message == WM_NCDESTROY) {
    for (int i = 0; i < holder->count; ++i) releaseFont(holder->fonts[i]);
    RemoveWindowSubclass(window, scaledDialogProc, kScaledDialog);
    RemovePropW(window, kHolderProperty);
    delete holder;
  }
  return DefSubclassProc(window, message, wParam, lParam);
}

Holder* holderOf(HWND root) {
  if (HANDLE held = GetPropW(root, kHolderProperty)) return static_cast<Holder*>(held);
  Holder* holder = new Holder{{}, 0, platform::windowDpi(root)};
  if (SetPropW(root, kHolderProperty, holder) &&
      SetWindowSubclass(root, scaledDialogProc, kScaledDialog, reinterpret_cast<DWORD_PTR>(holder)))
    return holder;
  RemovePropW(root, kHolderProperty);
  delete holder;
  return nullptr;
}

}  // namespace

void useJapaneseFont(HWND window) {
  HWND root = GetAncestor(window, GA_ROOT);
  Holder* holder = holderOf(root ? root : window);
  if (!holder) return;
  giveJapaneseFont(window, reinterpret_cast<LPARAM>(holder));
  EnumChildWindows(window, giveJapaneseFont, reinterpret_cast<LPARAM>(holder));
}

int dialogFontsMade() { return cached; }
