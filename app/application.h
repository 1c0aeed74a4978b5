// Kel, the application object: one instance for the life of the process,
// zero-filled before start-up, holding all of the program's state.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "clock/clock_report.h"
#include "mailcheck/check_result.h"
#include "mailcheck/header_cache.h"
#include "mailcheck/login_delay.h"
#include "mailcheck/pop3/pop3_session.h"
#include "platform/os_types.h"
#include "settings/oauth.h"
#include "settings/settings.h"

class IdleWatch;

// The popup window's size in pixels.
constexpr int32_t kPopupWidth = 204;
constexpr int32_t kPopupHeight = 40;

// What the tray icon shows, as the check pass sets it: the picture, and the
// tooltip in the program's Shift-JIS. The windows build widens the tooltip
// each time it hands the icon to the shell.
struct TrayIconData {
  HICON hIcon;
  char szTip[128];
};

class Kel {
 public:
  virtual ~Kel() = default;

  // Returns 0, or 1 when nothing of the program could be set up.
  int startup();
  void cleanup();

  // The program, its window and where it lives.
  HINSTANCE instance;
  HWND popupWindow;
  uint32_t taskbarCreatedMessage;
  char moduleDir[3 * 260];  // UTF-8: up to three bytes for each of MAX_PATH UTF-16 units

  // Scheduling and dialogs: the minute counters, the account being edited,
  // whether a dialog is open, and the check and clock threads.
  int32_t checkMinutes;
  int32_t clockMinutes;
  int32_t accountEditIndex;
  int32_t modalOpen;
  HANDLE checkThreadHandle;
  HANDLE clockThreadHandle;
  StateWord checkState;
  StateWord clockState;
  uint32_t checkThreadId;
  uint32_t clockThreadId;

  // The popup's drawing surfaces: its background and the picture it is
  // painted from.
  HBITMAP backgroundBitmap;
  HBITMAP offscreenBitmap;
  HDC backgroundDc;
  HDC offscreenDc;

  // The tray icon, its animation and its menu.
  int32_t trayPhase;
  int32_t trayIconRefreshed;
  TrayIconData trayIconData;
  HICON trayIcons[2];
  POINT cursorPos;
  HMENU menu;
  HMENU trayMenu;

  // Options (mail1.ini).
  int32_t mailcbt;
  int32_t nmp;
  int32_t nmsnd;
  int32_t nmbeep;
  int32_t msmail;
  char filename[260];
  char mailer[260];
  int32_t hantoumei;
  int32_t shac;
  int32_t tcbt;
  char server[128];
  int32_t iconani;
  int32_t dicon;
  int32_t sicon;
  int32_t text;
  int32_t textcolor;
  int32_t btext;
  int32_t btextcolor;

  // Accounts (mail2.ini).
  Account accounts[kAccountSlots];
  // Beside them, slot for slot: what an account that signs in with OAuth2
  // keeps, and its access token (under checkLock).
  OAuthSettings oauth[kAccountSlots];

  // What the last check left behind, for the tray, the popup and the status
  // dialog.
  int32_t totalNew;
  int32_t totalIgnored;
  CheckResult results[kAccountSlots];
  uint32_t lastAccountId;  // the last identity stamped into results
  MailLine recentDeleted[kRecentDeleted];
  // The entry was only marked deleted: its IMAP server could not expunge
  // it alone.
  bool recentDeletedMarkOnly[kRecentDeleted];
  // The decoded headers of the messages the servers named by their ids,
  // so that a check reads only what is new; under checkLock.
  HeaderCache headerCache;

  // Filter rules (mail3.ini, mail4.ini) and the one the condition editor
  // works on; each slot owns its record.
  int32_t ruleEditCode;
  FilterRule* deleteList[kRuleSlots];
  FilterRule* ignoreList[kRuleSlots];

  // The DPI the popup and the tray icons are drawn at (0 before start-up:
  // 96). The popup's surfaces are made anew under popupLock, which the
  // typing holds for each block: a new DPI that comes while a block is
  // typed waits in pendingDpi.
  int32_t popupDpi;
  int32_t pendingDpi;
  std::mutex popupLock;
  // High contrast: the popup then draws in the system's colours, opaque.
  // Read at start-up and at each change of the system's settings, through
  // highContrastQuery (null: the system's; tests hand in their own).
  std::atomic<bool> highContrast;
  bool (*highContrastQuery)();
  // The tray icon's size in pixels (0: 16), and what its pair shows (the
  // check pass's outcome and count), so that a new DPI makes it again.
  int32_t trayIconSize;
  int32_t trayOutcome;
  int32_t trayCount;

  // The popup's size and where its text goes, fixed at load time, in
  // pixels at 96 DPI.
  int32_t popupWidth;
  int32_t popupHeight;
  int32_t textCentreX;
  int32_t textTopSingle;
  int32_t textTopDouble;
  int32_t textColour;

  // The running mail session and the clock's socket. The session owns its
  // connection, so that one given up can close it by itself.
  StateWord sessionState;
  std::shared_ptr<SessionTask> session;
  SOCKET clockSocket;
  // The last clock synchronisation's outcome, under checkLock.
  ClockReport clockReport;

  // The IDLE watcher (mailcheck/imap/idle_watch.h), null when none runs,
  // and what it shows of each account's link; both under checkLock.
  IdleWatch* idle;
  IdleShown idleShown[kAccountSlots];

  // The LOGIN-DELAY of each server that asked for one, kept by the check
  // cycle under checkLock, and the clock it counts on (null: the system's
  // monotonic clock; tests hand in their own).
  LoginDelayTable loginDelays;
  uint64_t (*monotonicClock)();
  // The check the minute tick starts is one of only the accounts whose
  // LOGIN-DELAY has ended since a pass found them waiting.
  std::atomic<bool> checkEndedWaits;

  // Guards the check results and the session's writes to them against the
  // check cycle and the dialogs.
  std::mutex checkLock;

  // The program is ending: every worker ends its waits (the session's, the
  // announcement's holds and melody, the clock's) and stops.
  std::atomic<bool> stopping;

  // An announcement held while nobody can see it: its lines are those still
  // New, its summary (under checkLock) that of the last pass with an account
  // to speak for. The session's lock is as WM_WTSSESSION_CHANGE last told it.
  std::atomic<bool> announcementHeld;
  char heldSummary[128];
  std::atomic<bool> sessionLocked;
  int32_t sessionWatched;  // registered for session changes

  // After waking from sleep (window thread): a resume acted on since the
  // last suspend, and the check and clock sync due once their running
  // worker ends. The workers read whether they are the ones after waking.
  int32_t wakeSeen;
  int32_t checkAfterWakeDue;
  int32_t clockAfterWakeDue;
  std::atomic<bool> checkAfterWake;
  std::atomic<bool> clockAfterWake;
};

// Keeps the tray menu shut while a dialog runs. Dialogs may open over one
// another (the status dialog over the settings sheet), so each puts back
// what it found.
class ModalScope {
 public:
  explicit ModalScope(Kel& kel) : kel_(kel), outer_(kel.modalOpen) { kel.modalOpen = 1; }
  ~ModalScope() { kel_.modalOpen = outer_; }
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  Kel& kel_;
  int32_t outer_;
};

// Everything a Kel holds starts at zero; value-initialise it: new Kel().
