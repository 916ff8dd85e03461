#include "wizard/MakerUnits.h"

#include <gtest/gtest.h>

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Session.h"
#include "platform/oslayer.h"
#include "wizard/ShellUtils.h"

namespace pelvar {
namespace {

TEST(MakerUnits, TheClientLayerLoadsGds32WhichIsTheRealClientLibrary) {
  UnloadClientLibrary();
  ClientLibraryNameHook = nullptr;
  {
    TMakerUnits units;
    EXPECT_TRUE(TMakerUnits::Initialized());
    ASSERT_EQ(ClientLibraryNameHook, &SupplyClientLibraryName);
    AnsiString name;
    ClientLibraryNameHook(name);
    EXPECT_EQ(name, "GDS32.dll");
    // The character tables are ready.
    EXPECT_EQ(AnsiUpperTable()[0xE8], 0xC8);

    EnsureClientAPI();
    ASSERT_TRUE(ClientLibraryHeld());
    ASSERT_NE(ClientCallTable.isc_attach_database, nullptr);
    // What was loaded is the system's client library.
    HMODULE real = LoadLibrary("libfbclient.so.2");
    ASSERT_NE(real, nullptr);
    EXPECT_EQ(GetProcAddress(ClientLibraryHandle, "isc_attach_database"),
              GetProcAddress(real, "isc_attach_database"));
    FreeLibrary(real);

    // A nested start does nothing, and its end keeps the supplier in place.
    { TMakerUnits nested; }
    EXPECT_EQ(ClientLibraryNameHook, &SupplyClientLibraryName);
    EXPECT_TRUE(TMakerUnits::Initialized());
  }
  // The end gives the client layer back what it had before.
  EXPECT_FALSE(TMakerUnits::Initialized());
  EXPECT_EQ(ClientLibraryNameHook, nullptr);
  UnloadClientLibrary();
}

}  // namespace
}  // namespace pelvar
