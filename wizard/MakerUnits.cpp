#include "wizard/MakerUnits.h"

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Session.h"
#include "wizard/ShellUtils.h"

namespace pelvar {

namespace {

int init_count = 0;
TClientLibraryNameHook previous_hook = nullptr;

}  // namespace

TMakerUnits::TMakerUnits() {
  if (init_count++ > 0) return;
  // The client-library name supplier.
  previous_hook = ClientLibraryNameHook;
  InstallClientLibraryNameProvider();
  // The character tables.
  AnsiUpperTable();
  AnsiLowerTable();
  AnsiCollationTable();
}

TMakerUnits::~TMakerUnits() {
  if (--init_count > 0) return;
  ClientLibraryNameHook = previous_hook;
  previous_hook = nullptr;
}

bool TMakerUnits::Initialized() { return init_count > 0; }

}  // namespace pelvar
