// Windows-1250 text <-> QString, at the edge between the system and the GUI.
#pragma once

#include <QString>

#include "platform/types.h"

namespace pelvar {

QString AnsiToQString(const AnsiString& s);
// Characters Windows-1250 lacks become '?'.
AnsiString QStringToAnsi(const QString& s);

}  // namespace pelvar
