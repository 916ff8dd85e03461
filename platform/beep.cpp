#include "platform/beep.h"

#include <utility>

namespace pelvar {

namespace {
TBeepSink& Sink() {
  static TBeepSink sink;
  return sink;
}
}  // namespace

void MessageBeep(uint32_t type) {
  if (const TBeepSink& sink = Sink()) sink(type);
}

TBeepSink SetBeepSink(TBeepSink sink) { return std::exchange(Sink(), std::move(sink)); }

}  // namespace pelvar
