#include "dbclient/IB_Header.h"

#include "platform/exceptions.h"

namespace pelvar {

int32_t XSQLDA_LENGTH(int16_t N) {
  if (N < 0) {
    throw ERangeError("XSQLDA_LENGTH: negative number of entries");
  }
  // The header with its first entry, N - 1 further entries, and the spare room. With a
  // 16-bit N the result stays far inside 32 bits.
  const int64_t bytes = static_cast<int64_t>(sizeof(XSQLDA)) +
                        (static_cast<int64_t>(N) - 1) * static_cast<int64_t>(sizeof(XSQLVAR)) +
                        XSQLDA_SPARE;
  return static_cast<int32_t>(bytes);
}

}  // namespace pelvar
