// The adapter database and transactions through the server on localhost.
#include <gtest/gtest.h>

#include "REZDatabase_checks.h"

namespace pelvar::test {
namespace {

constexpr auto kServer = FbTestDb::Mode::Server;

TEST(REZDatabaseServer, OpensLikeTheDataModule) {
  PELVAR_REQUIRE_SERVER();
  CheckOpenLikeDataModule(kServer);
}

TEST(REZDatabaseServer, TransactionsCommitAndRollBackLikeTheDataModule) {
  PELVAR_REQUIRE_SERVER();
  CheckTransactionsLikeDataModule(kServer);
}

TEST(REZDatabaseServer, FailingOpenLeavesTheDatabaseClosed) {
  PELVAR_REQUIRE_SERVER();
  CheckFailingOpens(kServer);
}

}  // namespace
}  // namespace pelvar::test
