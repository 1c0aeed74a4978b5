#include "settings/settings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "app/application.h"
#include "platform/profile.h"
#include "settings/oauth.h"
#include "settings/pins.h"

namespace {

constexpr uint32_t kPathSize = 300;
// The program's folder (UTF-8) and a file name after it, never cut.
constexpr uint32_t kFilePathSize = sizeof(Kel::moduleDir) + 16;

// What the profile readers strip from a value's ends: blanks, line ends,
// ^Z, and the quotes around it.
bool isEdge(char c) { return platform::profileBlank(c) || c == '"' || c == '\''; }

struct Path {
  char text[kFilePathSize];
};

Path pathOf(const Kel& kel, int file) {
  Path p;
  settingsPath(kel, file, p.text, kFilePathSize);
  return p;
}

// Collects the keys of one file into a new file beside it, then puts that
// in place of the old one, so that no failure leaves a half-written file.
class FileWriter {
 public:
  explicit FileWriter(const char* path) : path_(path) {
    snprintf(temp_, sizeof temp_, "%s.new", path);
    platform::deleteFile(temp_);
  }

  // The profile reader strips blanks and a pair of enclosing quotes; a
  // value that begins or ends with either is written inside quotes of its
  // own, so that it reads back as it was (older readers strip them alike).
  void text(const char* section, const char* key, const char* value) {
    size_t n = strlen(value);
    char quoted[kPathSize + 3];
    if (n > 0 && n <= kPathSize && (isEdge(value[0]) || isEdge(value[n - 1]))) {
      snprintf(quoted, sizeof quoted, "\"%s\"", value);
      value = quoted;
    }
    if (!platform::profileWriteString(section, key, value, temp_)) ok_ = false;
    written_ = true;
  }

  void number(const char* section, const char* key, long long value) {
    char buf[24];
    snprintf(buf, sizeof buf, "%lld", value);
    text(section, key, buf);
  }

  bool commit() {
    if (!ok_) {
      platform::deleteFile(temp_);
      return false;
    }
    if (!written_) return platform::deleteFile(path_);
    return platform::replaceFile(temp_, path_);
  }

 private:
  const char* path_;
  char temp_[kFilePathSize + 8];
  bool ok_ = true;
  bool written_ = false;
};

// Read with room to spare, then cut: a full-length value in quotes then
// keeps its last byte under every reader.
void readText(const char* section, const char* key, const char* def, char* buf, uint32_t size,
              const char* path) {
  char wide[kPathSize + 8];
  uint32_t n = platform::profileGetString(section, key, def, wide, sizeof wide, path);
  if (n > size - 1) n = size - 1;
  memcpy(buf, wide, n);
  buf[n] = '\0';
}

int32_t readInt(const char* section, const char* key, int32_t def, const char* path) {
  return platform::profileGetInt(section, key, def, path);
}

void loadOptions(Kel& k, const char* path) {
  k.mailcbt = readInt("mail", "mailcbt", 4, path);
  if (k.mailcbt < 0 || k.mailcbt >= kMailIntervals) k.mailcbt = 4;
  k.nmp = readInt("mail", "nmp", 1, path);
  k.nmsnd = readInt("mail", "nmsnd", 0, path);
  k.nmbeep = readInt("mail", "nmbeep", 0, path);
  k.msmail = readInt("mail", "msmail", 1, path);
  readText("mail", "filename", "", k.filename, sizeof k.filename, path);
  readText("mail", "mailer", kDefaultMailer, k.mailer, sizeof k.mailer, path);
  k.hantoumei = readInt("mail", "hantoumei", 0, path);
  k.shac = readInt("mail", "shac", 0, path);
  k.tcbt = readInt("sntp", "tcbt", 6, path);
  if (k.tcbt < 0 || k.tcbt >= kClockIntervals) k.tcbt = 6;
  readText("sntp", "server", kDefaultTimeServer, k.server, sizeof k.server, path);
  k.iconani = readInt("tasktray", "iconani", 0, path);
  k.dicon = 0;  // the desktop extra stays off: written, never read back
  k.sicon = readInt("desktop", "sicon", 0, path);
  k.text = readInt("desktop", "text", 0, path);
  k.textcolor = readInt("desktop", "textcolor", 16777215, path);
  k.btext = readInt("desktop", "btext", 0, path);
  k.btextcolor = readInt("desktop", "btextcolor", 0, path);
}

// Anything but 64 hexadecimal digits is no pin: the account then trusts
// the key its next check meets, as one without a pin does.
void readPin(const char* section, char* pin, const char* path) {
  char text[kPinSize + 8];
  readText(section, "pin", "", text, sizeof text, path);
  if (isPinText(text))
    copyPin(pin, text);
  else
    pin[0] = '\0';
}

// A refresh token sealed and in base64 runs to kilobytes.
std::string readLongText(const char* section, const char* key, const char* path) {
  std::string value(16384, '\0');
  uint32_t n = platform::profileGetString(section, key, "", &value[0], static_cast<uint32_t>(value.size()), path);
  value.resize(n);
  return value;
}

void readOAuth(const char* section, OAuthSettings& o, const char* path) {
  o = OAuthSettings{};
  o.oauth = oauthProviderFor(readInt(section, "oauth", kOAuthNone, path));
  if (o.oauth == kOAuthNone) return;
  o.client = readLongText(section, "oauthclient", path);
  o.secret = readLongText(section, "oauthsecret", path);
  if (o.oauth == kOAuthOther) {
    o.authorize = readLongText(section, "oauthauthorize", path);
    o.token = readLongText(section, "oauthtoken", path);
    o.scope = readLongText(section, "oauthscope", path);
  }
  o.refresh = readLongText(section, "oauthrefresh", path);
}

// Sections left out by hand-editing are closed up, so that list position
// and slot number stay the same thing.
void loadAccounts(Kel& k, const char* path) {
  memset(k.accounts, 0, sizeof k.accounts);
  for (OAuthSettings& o : k.oauth) o = OAuthSettings{};
  int used = 0;
  for (int i = 0; i < kAccountSlots; ++i) {
    char section[16];
    snprintf(section, sizeof section, "account%02d", i);
    Account a{};
    readText(section, "mailaddr", "", a.mailaddr, sizeof a.mailaddr, path);
    readText(section, "pop3server", "", a.pop3server, sizeof a.pop3server, path);
    readText(section, "user", "", a.user, sizeof a.user, path);
    char stored[128];
    readText(section, "pass", "", stored, sizeof stored, path);
    unscramblePassword(stored, a.pass, sizeof a.pass);
    a.apop = readInt(section, "apop", 0, path);
    a.port = static_cast<uint16_t>(readInt(section, "port", 110, path));
    a.ssl = readInt(section, "ssl", 0, path);
    a.ipver = static_cast<int8_t>(readInt(section, "ipver", 4, path));
    a.protocol = static_cast<int8_t>(readInt(section, "protocol", 0, path));
    // An older version's editor gave an IMAP account a POP3 port.
    if (a.protocol == kProtocolImap && (a.port == 110 || a.port == 995)) a.port = a.port == 110 ? 143 : 993;
    readPin(section, a.pin, path);
    if (a.mailaddr[0] == '\0') continue;
    readOAuth(section, k.oauth[used], path);
    k.accounts[used++] = a;
  }
  for (int i = used; i < kAccountSlots; ++i) {
    k.accounts[i].port = 110;
    k.accounts[i].ipver = 4;
  }
}

void loadRules(FilterRule* (&list)[kRuleSlots], const char* section, const char* path) {
  int used = 0;
  for (int i = 0; i < kRuleSlots; ++i) {
    if (list[i]) ++used;
  }
  for (int i = 0; i < kRuleSlots && used < kRuleSlots; ++i) {
    char key[16];
    snprintf(key, sizeof key, "key%02d-2", i);
    int32_t kind = readInt(section, key, -1, path);
    if (kind < 0) continue;
    FilterRule* rule = new (std::nothrow) FilterRule{};
    if (!rule) break;
    snprintf(key, sizeof key, "key%02d-1", i);
    readText(section, key, "", rule->keyword, sizeof rule->keyword, path);
    // A kind past what the byte holds stays an unknown kind (one that
    // matches nothing) instead of wrapping to a negative one, which the
    // next save would write and the next load drop.
    rule->kind = static_cast<int8_t>(kind > INT8_MAX ? INT8_MAX : kind);
    list[used++] = rule;
  }
}

void saveOptions(const Kel& k, FileWriter& w) {
  w.number("mail", "mailcbt", k.mailcbt);
  w.number("mail", "nmp", k.nmp);
  w.number("mail", "nmsnd", k.nmsnd);
  w.number("mail", "nmbeep", k.nmbeep);
  w.number("mail", "msmail", k.msmail);
  w.text("mail", "filename", k.filename);
  w.text("mail", "mailer", k.mailer);
  w.number("mail", "hantoumei", k.hantoumei);
  w.number("mail", "shac", k.shac);
  w.number("sntp", "tcbt", k.tcbt);
  w.text("sntp", "server", k.server);
  w.number("tasktray", "iconani", k.iconani);
  w.number("desktop", "dicon", k.dicon);
  w.number("desktop", "sicon", k.sicon);
  w.number("desktop", "text", k.text);
  w.number("desktop", "textcolor", k.textcolor);
  w.number("desktop", "btext", k.btext);
  w.number("desktop", "btextcolor", k.btextcolor);
}

// After the designed keys, and only for an account that signs in so: an
// older version reads the file as before (and drops them when it saves).
void saveOAuth(const char* section, const OAuthSettings& o, FileWriter& w) {
  const int32_t provider = oauthProviderFor(o.oauth);
  if (provider == kOAuthNone) return;
  w.number(section, "oauth", provider);
  w.text(section, "oauthclient", o.client.c_str());
  if (!o.secret.empty()) w.text(section, "oauthsecret", o.secret.c_str());
  if (provider == kOAuthOther) {
    w.text(section, "oauthauthorize", o.authorize.c_str());
    w.text(section, "oauthtoken", o.token.c_str());
    w.text(section, "oauthscope", o.scope.c_str());
  }
  if (!o.refresh.empty()) w.text(section, "oauthrefresh", o.refresh.c_str());
}

void saveAccounts(const Kel& k, FileWriter& w) {
  for (int i = 0; i < kAccountSlots; ++i) {
    const Account& a = k.accounts[i];
    if (a.mailaddr[0] == '\0') continue;
    char section[16];
    snprintf(section, sizeof section, "account%02d", i);
    char scrambled[2 * sizeof a.pass + 1];
    char plain[sizeof a.pass];
    memcpy(plain, a.pass, sizeof plain);
    plain[sizeof plain - 1] = '\0';
    scramblePassword(plain, scrambled);
    w.text(section, "mailaddr", a.mailaddr);
    w.text(section, "pop3server", a.pop3server);
    w.text(section, "user", a.user);
    w.text(section, "pass", scrambled);
    w.number(section, "apop", a.apop);
    w.number(section, "port", a.port);
    w.number(section, "ssl", a.ssl);
    w.number(section, "ipver", a.ipver);
    w.number(section, "protocol", a.protocol);
    // Last, and only when set: older versions read such a file as before.
    char pin[kPinSize];
    memcpy(pin, a.pin, sizeof pin);
    pin[kPinSize - 1] = '\0';
    if (isPinText(pin)) w.text(section, "pin", pin);
    saveOAuth(section, k.oauth[i], w);
  }
}

void saveRules(FilterRule* const (&list)[kRuleSlots], const char* section, FileWriter& w) {
  for (int i = 0; i < kRuleSlots; ++i) {
    if (!list[i]) continue;
    char key[16];
    snprintf(key, sizeof key, "key%02d-1", i);
    w.text(section, key, list[i]->keyword);
    snprintf(key, sizeof key, "key%02d-2", i);
    w.number(section, key, list[i]->kind);
  }
}

}  // namespace

void settingsPath(const Kel& kel, int file, char* out, uint32_t size) {
  snprintf(out, size, "%s%s%d.ini", kel.moduleDir, "mail", file);
}

void loadSettings(Kel& kel, int file) {
  Path p = pathOf(kel, file);
  switch (file) {
    case kOptionsFile: loadOptions(kel, p.text); break;
    case kAccountsFile: loadAccounts(kel, p.text); break;
    case kDeleteListFile: loadRules(kel.deleteList, "kill", p.text); break;
    case kIgnoreListFile: loadRules(kel.ignoreList, "mushi", p.text); break;
    default: break;
  }
}

bool saveSettings(const Kel& kel, int file) {
  Path p = pathOf(kel, file);
  FileWriter w(p.text);
  switch (file) {
    case kOptionsFile: saveOptions(kel, w); break;
    case kAccountsFile: saveAccounts(kel, w); break;
    case kDeleteListFile: saveRules(kel.deleteList, "kill", w); break;
    case kIgnoreListFile: saveRules(kel.ignoreList, "mushi", w); break;
    default: return false;
  }
  return w.commit();
}

void loadAllSettings(Kel& kel) {
  for (int file = kOptionsFile; file <= kIgnoreListFile; ++file) loadSettings(kel, file);
  kel.popupWidth = kPopupWidth;
  kel.popupHeight = kPopupHeight;
  kel.textCentreX = 102;
  kel.textTopSingle = 14;
  kel.textTopDouble = 6;
  kel.textColour = 0;
}

void freeRuleList(FilterRule* (&list)[kRuleSlots]) {
  for (int i = 0; i < kRuleSlots && list[i]; ++i) {
    delete list[i];
    list[i] = nullptr;
  }
}
