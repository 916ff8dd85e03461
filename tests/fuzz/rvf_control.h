// The control class the native-format fuzz target and its seed writer register, so that
// control items with a streamed body make a real control (an integer, a string and a
// boolean property).
#pragma once

#include "platform/filer.h"

namespace pelvar::fuzz {

class TFuzzControl : public TComponent {
 public:
  using TComponent::TComponent;
  int32_t Level = 0;
  AnsiString Caption;
  bool Checked = false;
  void DefinePublished(TPublishedProperties& p) override {
    p.Integer("Level", Level, 0);
    p.String("Caption", Caption);
    p.Boolean("Checked", Checked, false);
  }
};

inline void RegisterFuzzControl() {
  static const bool done = (RegisterClass<TFuzzControl>("TFuzzControl"), true);
  (void)done;
}

}  // namespace pelvar::fuzz
