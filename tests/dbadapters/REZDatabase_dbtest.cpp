// The adapter database and transactions on the embedded engine.
#include <gtest/gtest.h>

#include "REZDatabase_checks.h"

namespace pelvar::test {
namespace {

constexpr auto kEmbedded = FbTestDb::Mode::Embedded;

TEST(REZDatabaseEmbedded, OpensLikeTheDataModule) { CheckOpenLikeDataModule(kEmbedded); }

TEST(REZDatabaseEmbedded, TransactionsCommitAndRollBackLikeTheDataModule) {
  CheckTransactionsLikeDataModule(kEmbedded);
}

TEST(REZDatabaseEmbedded, DefaultTransactionServesUnboundStatements) {
  CheckDefaultTransactionServesUnboundStatements(kEmbedded);
}

TEST(REZDatabaseEmbedded, FailingOpenLeavesTheDatabaseClosed) { CheckFailingOpens(kEmbedded); }

// Datasets made at run time bind to Src or Dst by the database's name (its connect
// string, as the module sets no symbolic name) and then work in that database.
TEST(REZDatabaseEmbedded, StatementsBindByTheDatabaseName) {
  auto station = FbTestDb::Create(kEmbedded, "station.fdb");
  auto main = FbTestDb::Create(kEmbedded, "Main.fdb");
  station->RunSql("create table ONLY_STATION (N integer);\ncommit;\n");
  main->RunSql("create table ONLY_MAIN (N integer);\ncommit;\n");
  DataModuleForm dm;
  OpenLikeDataModule(*dm.Src, station->Path(), cpLocal);
  OpenLikeDataModule(*dm.Dst, main->Path(), cpLocal);
  EXPECT_EQ(dm.Src->DatabaseName(), CZ(station->Path()));
  struct Case {
    TREZDatabase* db;
    const char* table;
  };
  for (const Case& c : {Case{dm.Src, "ONLY_STATION"}, Case{dm.Dst, "ONLY_MAIN"}}) {
    SCOPED_TRACE(c.table);
    auto q = std::make_unique<TIB_DSQL>(nullptr);
    q->SetDatabaseName(c.db->DatabaseName());
    RunStatement(*q, std::string("insert into ") + c.table + " values (1)");
    EXPECT_EQ(q->IB_Connection(), c.db);
    EXPECT_EQ(q->IB_Transaction(), c.db->DefaultTransaction());
    c.db->DefaultTransaction()->Commit();
  }
  dm.Src->Close();
  dm.Dst->Close();
  EXPECT_EQ(Seen(*station, "select count(*) as R from ONLY_STATION"), "1");
  EXPECT_EQ(Seen(*main, "select count(*) as R from ONLY_MAIN"), "1");
}

// The form goes while Src is attached and its transactions hold work: the work is rolled
// back, nothing is left attached, and the components go without touching each other.
TEST(REZDatabaseEmbedded, FormGoesWithWorkInProgress) {
  auto fb = MakeAdapterDb(kEmbedded);
  {
    DataModuleForm dm;
    OpenLikeDataModule(*dm.Src, fb->Path(), cpLocal);
    auto* q = new TIB_DSQL(&dm.form);
    q->SetIB_Connection(dm.Src);
    q->SetIB_Transaction(dm.REZTransactionSrc);
    dm.REZTransactionSrc->StartTransaction();
    RunStatement(*q, "insert into T values (1)");
    EXPECT_EQ(One(dm.Src, dm.REZTransactionTmpSrc, "select count(*) as R from T"), "0");
    // An owner-less transaction, as the look-up lists make, outlives the database.
    auto lookup = std::make_unique<TREZTransaction>(nullptr);
    lookup->SetIB_Connection(dm.Src);
    EXPECT_EQ(One(dm.Src, lookup.get(), "select count(*) as R from T"), "0");
    delete dm.Src;
    EXPECT_EQ(lookup->IB_Connection(), nullptr);
    EXPECT_EQ(dm.REZTransactionSrc->IB_Connection(), nullptr);
    EXPECT_FALSE(IsTransactionStarted(dm.REZTransactionSrc));
  }
  EXPECT_EQ(Seen(*fb, "select count(*) as R from T"), "0");
}

}  // namespace
}  // namespace pelvar::test
