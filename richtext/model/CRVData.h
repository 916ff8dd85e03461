// The document-data services the rest of the family stands on. For now: the family's
// error class and the length check of UTF-16 item strings.
#pragma once

#include <cstddef>

#include "platform/exceptions.h"

namespace pelvar {

class EDocViewError : public Exception {
 public:
  using Exception::Exception;
};

// Raises EDocViewError "Can't perform Unicode operation" when a UTF-16 item string (two
// bytes per code unit) has an odd byte length.
void RV_CheckUnicodeLength(size_t length);

}  // namespace pelvar
