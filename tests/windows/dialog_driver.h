// Drives the program's modal dialogs from a second thread while the test's
// own thread runs them, as a user would: it finds their windows, clicks,
// types and reads them back. Steps that would open another modal window are
// posted; the rest are sent and done when they return. The dialogs are
// Unicode windows: texts go in and come back in UTF-16, given and returned
// here as the program's Shift-JIS unless a wide form is asked for.
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "tests/support/kel_fixture.h"

class Driver {
 public:
  explicit Driver(DWORD uiThread) : uiThread_(uiThread) {}

  // A visible top-level window of the dialog thread with this title, waited
  // for; nullptr (and a failure) when none comes.
  HWND window(const char* title);
  bool gone(HWND w);
  // Clicks a button and waits until the click has been handled.
  void click(HWND dialog, int id);
  // A real mouse click in the middle of the control, through the input
  // queue, as a user makes it (a disabled control does not get it). It
  // returns before the click has been handled; clicks are handled in turn.
  void mouseClick(HWND dialog, int id);
  // Waits for a box to be ticked (by a click on its way).
  bool becomesChecked(HWND dialog, int id);
  // Clicks a button whose handler opens a modal window, and returns at once.
  void post(HWND dialog, int id);
  void setText(HWND dialog, int id, const std::string& text);
  void setWideText(HWND dialog, int id, const std::wstring& text);
  std::string text(HWND dialog, int id);
  std::wstring wideText(HWND dialog, int id);
  bool checked(HWND dialog, int id);
  bool enabled(HWND dialog, int id);
  // The message box that should be up: its text, after closing it.
  std::string dismissMessage();
  // The question that should be up: its text, after pressing its button
  // `id` (IDYES, IDNO) as a user would.
  std::string answerMessage(int id);
  // The sheet's page at tab `index`, made the current one.
  HWND page(HWND sheet, int index);
  void fail(const std::string& what) { failures.push_back(what); }
  DWORD uiThread() const { return uiThread_; }

  std::vector<std::string> failures;

 private:
  DWORD uiThread_;
};

// Runs `modal` here and `script` beside it. Whatever the script leaves open
// is closed afterwards, so a failed step cannot hang the test.
std::vector<std::string> drive(const std::function<void()>& modal, const std::function<void(Driver&)>& script);

// A Kel with this program's resources, a hidden popup window and a fresh
// settings folder of its own.
struct DialogFixture {
  DialogFixture();
  ~DialogFixture();
  std::string file(int n) const;
  std::string read(int n) const;
  void write(int n, const std::string& text) const;
  // Loads the files anew, as start-up does.
  void reload();
  KelPtr kel;
  std::string dir;
};

// UTF-16 read back as Shift-JIS; a text Shift-JIS cannot hold comes back
// as kNotShiftJis, which no control holds.
extern const char kNotShiftJis[];
std::string toShiftJis(const std::wstring& text);
std::wstring windowTitle(HWND w);

// The selected line of a drop-down list ("" for none), and all its lines.
std::string comboSelection(HWND combo);
std::vector<std::string> comboLines(HWND combo);
// The lines of a list box, and of one column of a list view.
std::vector<std::string> listBoxLines(HWND list);
std::vector<std::wstring> listBoxWideLines(HWND list);
// The width of a list box's widest line in its own font, in pixels.
int widestListBoxLine(HWND list);
std::vector<std::string> listViewColumn(HWND list, int column);
