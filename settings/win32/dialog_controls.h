// Small helpers shared by the settings pages and editors (window thread).
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

class Kel;

// The Kel a dialog was given; pages and editors keep it in DWLP_USER.
Kel& dialogKel(HWND dialog);
void keepKel(HWND dialog, Kel& kel);

bool isChecked(HWND dialog, int id);
void setChecked(HWND dialog, int id, int32_t state);
void enable(HWND dialog, int id, bool on);
// The control's whole text cut to `limit` bytes (out holds limit + 1);
// the controls themselves take longer input.
void readText(HWND dialog, int id, char* out, size_t limit);
// Fills a drop-down list in the order given and selects `selected`, kept
// within the list.
void fillDropDown(HWND dialog, int id, const char* const* labels, int count, int32_t selected);
// The selected index, or `fallback` when nothing is selected.
int32_t dropDownSelection(HWND dialog, int id, int32_t fallback);

// A warning with the program's error caption; the caller stays open.
void showError(HWND owner, const char* text);
// Told when a settings file could not be written (the change stays live).
void reportUnsaved(HWND owner);

enum class FileKind { kWave, kProgram };
// The system's Open dialog, with no owner: true and the chosen existing
// file's full path (out holds 260 bytes), or false when cancelled.
bool chooseFile(FileKind kind, char* out);
