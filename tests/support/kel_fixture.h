// The one way tests make a Kel: as the program makes its one instance, on
// the heap and value-initialised, so that every member starts at zero; and
// the one way they give it filter rules.
#pragma once

#include <memory>
#include <string>

#include "app/application.h"

// Frees the rule records the lists own, slot by slot (a list may have
// gaps), then the Kel.
struct KelDeleter {
  void operator()(Kel* kel) const;
};
using KelPtr = std::unique_ptr<Kel, KelDeleter>;

// A zero-filled Kel; with a folder (ending in its separator) as its
// moduleDir, where its settings files go.
KelPtr newKel(const std::string& moduleDir = "");
// The same, with its settings read from that folder as start-up reads them.
KelPtr loadedKel(const std::string& moduleDir);

// Puts a rule into one slot of a delete or ignore list, in place of any
// there; the list owns the record (KelDeleter frees it). The keyword is cut
// to what a record holds. Returns the record, for a test that then writes
// what no keyword could hold.
FilterRule* putRule(FilterRule* (&list)[kRuleSlots], int slot, const std::string& keyword, int kind);
// The same in the list's first empty slot; nullptr when it is full.
FilterRule* addRule(FilterRule* (&list)[kRuleSlots], const std::string& keyword, int kind);
// One rule of each kind (0..5), spread over both lists, and one of an
// unknown kind (42, as only a hand-edited file holds) when `withUnknown`.
// keywords[kind] is the keyword of that kind's rule.
KelPtr kelWithOneRuleOfEachKind(const char* const (&keywords)[6], bool withUnknown = false);
