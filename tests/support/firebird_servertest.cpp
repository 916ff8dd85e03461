#include "support/firebird_common.h"

namespace pelvar::test {
namespace {

TEST(FirebirdFixture, ServerDatabaseKeepsCzechTextAndIsDropped) {
  PELVAR_REQUIRE_SERVER();
  CheckCzechRoundTrip(FbTestDb::Mode::Server);
}

TEST(FirebirdFixture, ServerChecksThePassword) {
  PELVAR_REQUIRE_SERVER();
  auto db = FbTestDb::Create(FbTestDb::Mode::Server);
  const CommandResult r = RunCommand(
      {"isql-fb", "-q", "-user", "SYSDBA", "-password", "wrong", db->ConnectString()},
      "select 1 from rdb$database;\n");
  EXPECT_NE(r.output.find("password"), std::string::npos) << r.output;
}

}  // namespace
}  // namespace pelvar::test
