// The one way tests make a Kel: as the program makes its one instance, on
// the heap and value-initialised, so that every member starts at zero.
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
