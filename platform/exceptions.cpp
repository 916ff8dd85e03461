#include "platform/exceptions.h"

namespace pelvar {

[[noreturn]] void Abort() { throw EAbort("Operation aborted"); }

}  // namespace pelvar
