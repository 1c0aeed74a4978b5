// The settings model: accounts, filter rules, the option members of Kel, and
// the four INI files beside the program that hold them.
#pragma once

#include <cstdint>

class Kel;

constexpr int kAccountSlots = 9;
constexpr int kRuleSlots = 64;

// 64 hexadecimal digits and a NUL.
constexpr int kPinSize = 65;

struct Account {
  char mailaddr[128];
  char pop3server[64];
  char user[64];
  char pass[32];
  int32_t apop;
  uint16_t port;
  int32_t ssl;
  int8_t ipver;
  int8_t protocol;  // kProtocolImap for IMAP; any other value is POP3
  // The SHA-256 of the server's public key, trusted for this account: 64
  // hexadecimal digits, or empty.
  char pin[kPinSize];
};

constexpr int8_t kProtocolImap = 1;

enum MatchKind : int8_t {
  kSenderAddressEquals = 0,
  kSenderAddressContains = 1,
  kSenderNameEquals = 2,
  kSenderNameContains = 3,
  kSubjectContains = 4,
  kToContains = 5,
};
constexpr int kMatchKinds = 6;

struct FilterRule {
  char keyword[62];
  int8_t kind;
};

enum SettingsFile {
  kOptionsFile = 1,
  kAccountsFile = 2,
  kDeleteListFile = 3,
  kIgnoreListFile = 4,
};

constexpr int kMailIntervals = 9;
constexpr int kClockIntervals = 10;
extern const int32_t mailIntervalMinutes[kMailIntervals];
extern const int32_t clockIntervalMinutes[kClockIntervals];
extern const char* const mailIntervalLabels[kMailIntervals];
extern const char* const clockIntervalLabels[kClockIntervals];
extern const char* const matchKindLabels[kMatchKinds];
extern const uint8_t passwordKeyTable[256];

constexpr const char* kDefaultMailer = "C:\\Program Files\\Outlook Express\\msimn.exe";
constexpr const char* kDefaultTimeServer = "ntp.nict.jp";

// Stored indexes outside their tables are no valid settings; these keep
// every use of them inside the tables.
int32_t mailIntervalFor(int32_t mailcbt);
int32_t clockIntervalFor(int32_t tcbt);
const char* matchKindLabel(int32_t kind);  // "" for an unknown kind

void settingsPath(const Kel& kel, int file, char* out, uint32_t size);
void loadSettings(Kel& kel, int file);
// Writes the file anew beside the old one and replaces it in one step; a
// file that would hold no key is removed. Returns false when it could not
// be written (the old file is then left as it was).
bool saveSettings(const Kel& kel, int file);
void loadAllSettings(Kel& kel);
void freeRuleList(FilterRule* (&list)[kRuleSlots]);

// out must hold 2 * strlen(plain) + 1 bytes.
void scramblePassword(const char* plain, char* out);
// Returns false (and an empty password) for text that is not an even number
// of hexadecimal digits or decodes to more than outSize - 1 bytes.
bool unscramblePassword(const char* stored, char* out, uint32_t outSize);
