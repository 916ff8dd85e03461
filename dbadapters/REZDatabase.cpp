// The adapter database and transaction components.
#include "dbadapters/REZDatabase.h"

namespace pelvar {

TREZDatabase::TREZDatabase(TComponent* Owner) : TIB_Database(Owner) {
  // The saved password of a form is scrambled with the library's fixed key.
  SetPasswordStorage(psNotSecure);
}

TREZDatabase::~TREZDatabase() = default;

TREZTransaction::TREZTransaction(TComponent* Owner) : TIB_Transaction(Owner) {}

TREZTransaction::~TREZTransaction() = default;

}  // namespace pelvar
