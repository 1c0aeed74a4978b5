// Small helpers shared by the settings pages and editors (window thread).
// The dialogs are Unicode windows; the program's texts are Shift-JIS, so
// every text goes in through platform::widen and comes back through
// platform::narrow, never through the ANSI code page.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

class Kel;

// The Kel a dialog was given; pages and editors keep it in DWLP_USER.
Kel& dialogKel(HWND dialog);
void keepKel(HWND dialog, Kel& kel);

// Gives the window and its controls the Shift-JIS charset of their font.
// Windows takes it from the template; Wine does not, and without it a
// system whose code page is not 932 draws Japanese as boxes. Such a font
// is not rescaled by Windows: the dialog the window belongs to makes it
// anew when it moves to another DPI, with its list views' columns (and its
// layout, where Windows leaves that to the program).
void useJapaneseFont(HWND window);
// The fonts made for that are kept for the next dialog, at most this many.
constexpr int kDialogFontCache = 12;
int dialogFontsMade();

bool isChecked(HWND dialog, int id);
void setChecked(HWND dialog, int id, int32_t state);
void enable(HWND dialog, int id, bool on);
// Shows a Shift-JIS text in a control.
void showText(HWND dialog, int id, const char* text);
// The control's whole text as Shift-JIS into out[0..size). A text that
// Shift-JIS cannot hold, or whose bytes do not fit, is refused with a
// warning naming `field` (the controls themselves take longer input and
// any character): false, and out holds an empty text.
bool readField(HWND dialog, int id, char* out, size_t size, const char* field);
// The same for a field shown from `stored`: while its text is still the one
// shown, the stored bytes come back as they are, so a field the user did not
// touch keeps bytes that do not read back through Shift-JIS (a byte that
// is no character shows as U+30FB and would return as another one).
bool readField(HWND dialog, int id, const char* stored, char* out, size_t size, const char* field);
// Fills a drop-down list in the order given and selects `selected`, kept
// within the list.
void fillDropDown(HWND dialog, int id, const char* const* labels, int count, int32_t selected);
// The selected index, or `fallback` when nothing is selected.
int32_t dropDownSelection(HWND dialog, int id, int32_t fallback);

// A message box with the program's error caption; the caller stays open.
int showMessage(HWND owner, const char* text, UINT type);
void showError(HWND owner, const char* text);
// Told when a settings file could not be written (the change stays live).
void reportUnsaved(HWND owner);

enum class FileKind { kWave, kProgram };
// The system's Open dialog, with no owner: true and the chosen existing
// file's full path as Shift-JIS (out holds 260 bytes), or false when
// cancelled or when the path cannot be kept (told to `owner`, a warning
// naming `field`).
bool chooseFile(HWND owner, FileKind kind, char* out, const char* field);
