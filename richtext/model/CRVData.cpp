#include "richtext/model/CRVData.h"

namespace pelvar {

void RV_CheckUnicodeLength(size_t length) {
  if (length % 2 != 0) throw EDocViewError("Can't perform Unicode operation");
}

}  // namespace pelvar
