// The application's choice of the client library: the program installs it at start-up,
// after which the client library is always loaded by this name, with no fall-back.
// (A unit of the wizard program; it lives here until the wizard's folder exists.)
#pragma once

#include "platform/types.h"

namespace pelvar {

// Sets LibName to "GDS32.dll".
void SupplyClientLibraryName(AnsiString& LibName);
// Installs SupplyClientLibraryName as the client-library name hook. The program's
// start-up calls it once, before the first database is opened.
void InstallClientLibraryNameProvider();

}  // namespace pelvar
