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

FilterRule* putRule(FilterRule* (&list)[kRuleSlots], int slot, const std::string& keyword, int kind) {
  delete list[slot];
  FilterRule* rule = new FilterRule{};
  snprintf(rule->keyword, sizeof rule->keyword, "%s", keyword.c_str());
  rule->kind = static_cast<int8_t>(kind);
  list[slot] = rule;
  return rule;
}

FilterRule* addRule(FilterRule* (&list)[kRuleSlots], const std::string& keyword, int kind) {
  for (int slot = 0; slot < kRuleSlots; ++slot)
    if (!list[slot]) return putRule(list, slot, keyword, kind);
  return nullptr;
}

KelPtr kelWithOneRuleOfEachKind(const char* const (&keywords)[6], bool withUnknown) {
  KelPtr k = newKel();
  for (int kind = 0; kind < 6; ++kind) putRule(kind % 2 ? k->ignoreList : k->deleteList, kind / 2, keywords[kind], kind);
  if (withUnknown) putRule(k->ignoreList, 3, "x", 42);
  return k;
}
