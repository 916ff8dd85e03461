#include "support/firebird_common.h"

namespace pelvar::test {
namespace {

TEST(FirebirdFixture, EmbeddedDatabaseKeepsCzechTextAndIsDropped) {
  CheckCzechRoundTrip(FbTestDb::Mode::Embedded);
}

TEST(FirebirdFixture, FailingScriptReportsIsqlOutput) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded);
  try {
    db->RunSql("select * from NO_SUCH_TABLE;\n");
    FAIL() << "expected an error";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("NO_SUCH_TABLE"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace pelvar::test
