// The system's message beep (a refused edit, a wrong key). Linux has no beep that reliably
// reaches the user, so the beep goes to a replaceable sink: the default one does nothing,
// a GUI may install one that sounds, and tests install one that counts.
#pragma once

#include <cstdint>
#include <functional>

namespace pelvar {

using TBeepSink = std::function<void(uint32_t type)>;

// Sounds the beep of that type (0: the default beep) through the current sink.
void MessageBeep(uint32_t type = 0);
// Installs a sink (an empty one restores the silent default) and hands back the previous.
TBeepSink SetBeepSink(TBeepSink sink);

}  // namespace pelvar
