#include "tests/support/kel_fixture.h"

#include <cstdio>

#include "settings/settings.h"

void KelDeleter::operator()(Kel* kel) const {
  for (int i = 0; i < kRuleSlots; ++i) {
    delete kel->deleteList[i];
    delete kel->ignoreList[i];
  }
  delete kel;
}

KelPtr newKel(const std::string& moduleDir) {
  KelPtr kel(new Kel());
  snprintf(kel->moduleDir, sizeof kel->moduleDir, "%s", moduleDir.c_str());
  return kel;
}

KelPtr loadedKel(const std::string& moduleDir) {
  KelPtr kel = newKel(moduleDir);
  loadAllSettings(*kel);
  return kel;
}
