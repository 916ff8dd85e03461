// The reasons the wizard shows an administrator in Czech: the database engine's, the zip
// kit's and the system's own texts (English) get a Czech sentence that says what
// happened and, where there is something to do, what; the original text follows in
// parentheses for support.
#pragma once

#include <cstdint>

#include "platform/types.h"

namespace pelvar {

// The Czech sentence for a reason text, with the text itself in parentheses after it; a
// text the table does not know, or one given a sentence already, comes back as it is.
AnsiString ReasonForAdministrator(const AnsiString& text);

// Why the zip kit could not process the entry of an archive (the kit's error code).
AnsiString ZipFailureReason(int32_t code, const AnsiString& entry);

}  // namespace pelvar
