// libFuzzer target: a hand-edited settings file of any bytes, read by the
// settings loader through the native INI reader. The first byte picks which
// of the four files it is. Whatever was read must keep its fields in their
// bounds, and must read back the same after it is saved.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/application.h"
#include "platform/profile.h"
#include "settings/settings.h"
#include "tests/support/kel_fixture.h"

namespace {

std::string folder;

void removeFolder() {
  for (int file = kOptionsFile; file <= kIgnoreListFile; ++file) {
    std::string p = folder + "mail" + std::to_string(file) + ".ini";
    unlink(p.c_str());
    unlink((p + ".new").c_str());
  }
  rmdir(folder.c_str());
}

// One folder per process, in memory where there is such a place.
const std::string& settingsFolder() {
  if (folder.empty()) {
    char shm[] = "/dev/shm/kelfuzzXXXXXX";
    char tmp[] = "/tmp/kelfuzzXXXXXX";
    const char* made = mkdtemp(shm);
    if (!made) made = mkdtemp(tmp);
    if (!made) abort();
    folder = std::string(made) + "/";
    atexit(removeFolder);
  }
  return folder;
}

void fail(const char* what) {
  fprintf(stderr, "settings: %s\n", what);
  abort();
}

template <size_t N>
void expectTerminated(const char (&text)[N], const char* what) {
  if (!memchr(text, '\0', N)) fail(what);
}

void expectBounded(const Kel& k) {
  if (k.mailcbt < 0 || k.mailcbt >= kMailIntervals) fail("mailcbt out of its table");
  if (k.tcbt < 0 || k.tcbt >= kClockIntervals) fail("tcbt out of its table");
  expectTerminated(k.filename, "filename");
  expectTerminated(k.mailer, "mailer");
  expectTerminated(k.server, "server");
  bool free = false;
  for (const Account& a : k.accounts) {
    expectTerminated(a.mailaddr, "mailaddr");
    expectTerminated(a.pop3server, "pop3server");
    expectTerminated(a.user, "user");
    expectTerminated(a.pass, "pass");
    if (a.mailaddr[0] == '\0') free = true;
    else if (free) fail("a used account slot after a free one");
  }
  for (auto* list : {&k.deleteList, &k.ignoreList}) {
    bool end = false;
    for (FilterRule* r : *list) {
      if (!r) {
        end = true;
        continue;
      }
      if (end) fail("a rule after an empty slot");
      expectTerminated(r->keyword, "keyword");
    }
  }
}

bool sameRules(FilterRule* const (&a)[kRuleSlots], FilterRule* const (&b)[kRuleSlots]) {
  for (int i = 0; i < kRuleSlots; ++i) {
    if (!a[i] && !b[i]) continue;
    if (a[i] && b[i] && strcmp(a[i]->keyword, b[i]->keyword) == 0 && a[i]->kind == b[i]->kind) continue;
    fprintf(stderr, "settings: rule %d was kind %d \"%s\", is %s%d \"%s\"\n", i, a[i] ? a[i]->kind : -1,
            a[i] ? a[i]->keyword : "", b[i] ? "kind " : "gone ", b[i] ? b[i]->kind : -1,
            b[i] ? b[i]->keyword : "");
    return false;
  }
  return true;
}

void expectSame(const Kel& a, const Kel& b, int file) {
  switch (file) {
    case kOptionsFile:
      if (a.mailcbt != b.mailcbt || a.nmp != b.nmp || a.nmsnd != b.nmsnd || a.nmbeep != b.nmbeep ||
          a.msmail != b.msmail || strcmp(a.filename, b.filename) || strcmp(a.mailer, b.mailer) ||
          a.hantoumei != b.hantoumei || a.shac != b.shac || a.tcbt != b.tcbt ||
          strcmp(a.server, b.server) || a.iconani != b.iconani || a.dicon != b.dicon ||
          a.sicon != b.sicon || a.text != b.text || a.textcolor != b.textcolor || a.btext != b.btext ||
          a.btextcolor != b.btextcolor)
        fail("options read back otherwise");
      break;
    case kAccountsFile:
      for (int i = 0; i < kAccountSlots; ++i) {
        const Account& x = a.accounts[i];
        const Account& y = b.accounts[i];
        if (strcmp(x.mailaddr, y.mailaddr) || strcmp(x.pop3server, y.pop3server) ||
            strcmp(x.user, y.user) || strcmp(x.pass, y.pass) || x.apop != y.apop || x.port != y.port ||
            x.ssl != y.ssl || x.ipver != y.ipver || x.protocol != y.protocol)
          fail("an account read back otherwise");
      }
      break;
    case kDeleteListFile:
      if (!sameRules(a.deleteList, b.deleteList)) fail("the delete list read back otherwise");
      break;
    default:
      if (!sameRules(a.ignoreList, b.ignoreList)) fail("the ignore list read back otherwise");
      break;
  }
}

KelPtr loaded(int file) {
  KelPtr k = newKel(settingsFolder());
  loadSettings(*k, file);
  return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0 || size > 20000) return 0;
  int file = kOptionsFile + data[0] % 4;
  static KelPtr where = loaded(kOptionsFile);  // no file yet: only its folder
  char path[300];
  settingsPath(*where, file, path, sizeof path);
  FILE* f = fopen(path, "wb");
  if (!f) abort();
  fwrite(data + 1, 1, size - 1, f);
  fclose(f);

  // The reader's own edges: the smallest buffers, and the number reader.
  char small[3] = {'x', 'x', 'x'};
  if (platform::profileGetString("mail", "server", "def", small, 1, path) != 0 || small[0] != '\0')
    fail("a one-byte buffer holds more than its terminator");
  uint32_t n = platform::profileGetString("kill", "key00-1", "", small, 2, path);
  if (n > 1 || small[n] != '\0' || small[2] != 'x') fail("a two-byte buffer holds more than one byte");
  platform::profileGetInt("account00", "port", 110, path);

  KelPtr first = loaded(file);
  expectBounded(*first);
  if (!saveSettings(*first, file)) fail("could not be saved");
  KelPtr second = loaded(file);
  expectBounded(*second);
  expectSame(*first, *second, file);
  return 0;
}
