// Database creation through the server on localhost, with the user and password
// checked by the server.
#include <gtest/gtest.h>

#include "transfer_calls.h"

namespace pelvar::test {
namespace {

TEST(CreateDatabaseThroughServer, MakesTheDatabaseWithPageSizeCharacterSetAndAQuotedPath) {
  PELVAR_REQUIRE_SERVER();
  TempDir dir("pelvar-create");
  CheckCreateDatabase("localhost:", dir.Path(), kSysdbaUser, kSysdbaPassword);
}

TEST(CreateDatabaseThroughServer, WrongPasswordIsRefusedAndNothingIsMade) {
  PELVAR_REQUIRE_SERVER();
  TempDir dir("pelvar-create");
  InstallClientLibraryNameProvider();
  TIB_Session session(nullptr);
  const std::string file = dir.File("refused.fdb");
  try {
    // An apostrophe in the password is part of the password, not of the statement.
    session.CreateDatabase("localhost:" + file, kSysdbaUser, "x' PASSWORD 'masterkey", 8192,
                           "WIN1250", 3);
    ADD_FAILURE() << "the server accepted a wrong password";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), isc_login) << e.Message();
  }
  EXPECT_FALSE(std::filesystem::exists(file));
  ClientLibraryNameHook = nullptr;
}

}  // namespace
}  // namespace pelvar::test
