#include "dbclient/ClientLibraryName.h"

#include "dbclient/IB_Session.h"

namespace pelvar {

void SupplyClientLibraryName(AnsiString& LibName) { LibName = "GDS32.dll"; }

void InstallClientLibraryNameProvider() { ClientLibraryNameHook = &SupplyClientLibraryName; }

}  // namespace pelvar
