// The root of the archive kit's components.
#pragma once

#include "platform/classes.h"

namespace pelvar {

class TAbBaseComponent : public TComponent {
 public:
  explicit TAbBaseComponent(TComponent* owner) : TComponent(owner) {}
  // The kit's version stamp; writing it is accepted and ignored.
  AnsiString Version() const { return "3.04"; }
  void SetVersion(const AnsiString&) {}
};

}  // namespace pelvar
