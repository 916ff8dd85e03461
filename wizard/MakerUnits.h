// The start-up and end work of the library units the program links. A static library's
// static initialisers may be dropped by the linker, so the program's main() creates one
// TMakerUnits before anything else and lets it go last:
//   start: the client-library name supplier is installed (the client layer then loads
//          "GDS32.dll", which resolves to the real client library, and nothing else);
//          the character tables are built;
//   end:   in reverse order, the client layer gets back the name hook it had before.
// Nested instances do nothing: each part runs once.
#pragma once

namespace pelvar {

class TMakerUnits {
 public:
  TMakerUnits();
  ~TMakerUnits();
  TMakerUnits(const TMakerUnits&) = delete;
  TMakerUnits& operator=(const TMakerUnits&) = delete;

  // True while an instance is alive.
  static bool Initialized();
};

}  // namespace pelvar
