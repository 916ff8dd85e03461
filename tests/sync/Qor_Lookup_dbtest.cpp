// The look-up list against Firebird 3 on the practice schema: a station row's natural
// key is looked up in the main database exactly (Czech letters, letter case, CHAR padding
// as the adapter reads it and as snvl builds it), the row's values come in query order,
// the query keeps its result until it is closed, and errors are raised.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Qor_Lookup.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class QorLookupDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    schema_ = PracticeSchemaDb("lookup.fdb").release();
  }
  static void TearDownTestSuite() {
    delete schema_;
    schema_ = nullptr;
  }
  void SetUp() override {
    fs::copy_file(schema_->Path(), dir_.File("main.fdb"));
    fs::copy_file(schema_->Path(), dir_.File("st.fdb"));
    dm_.OpenDst(dir_.File("main.fdb"), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(dir_.File("st.fdb"), AdministratorUser, AdministratorPassword);
    const char* rows[] = {
        "insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV, KOD_ZAKAZNIKA) values (%d, '%s', 'x', '%s')"};
    struct Row {
      int id;
      const char* code;
      const char* kod;
    };
    for (const Row& r : {Row{1, "Žluť", "K1"}, Row{2, "kůň", "K2 A"}, Row{3, "P000003", "K3"}})
      dm_.ExecDst(Format(CZ(rows[0]), {r.id, AnsiString(CZ(r.code)), AnsiString(r.kod)}));
    for (const Row& r : {Row{11, "Žluť", "K1"}, Row{12, "KŮŇ", "K2 A"}, Row{13, "NOVY", "K9"},
                         Row{14, "NOVY", "K9"}})
      dm_.ExecSrc(Format(CZ(rows[0]), {r.id, AnsiString(CZ(r.code)), AnsiString(r.kod)}));
  }

  static FbTestDb* schema_;
  TempDir dir_{"pelvar-lookup"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
};

FbTestDb* QorLookupDb::schema_ = nullptr;

TEST_F(QorLookupDb, StationRowsAreLookedUpExactlyInMain) {
  TQorLookupList lookup(dm_.Dst());
  EXPECT_EQ(lookup.CurrentIndex(), -1);
  EXPECT_THROW(lookup.GetValue(0), Exception);
  lookup.SetQuery("PARTNER", "select PARTNER, ID_PARTNER from PARTNER");
  // Every station row in turn, as the play-in reads them.
  TREZQuery* station = dm_.IBQuerySrcOther();
  station->SQL()->SetText("select PARTNER from PARTNER order by ID_PARTNER");
  station->Open();
  std::vector<bool> found;
  for (station->First(); !station->Eof(); station->Next()) found.push_back(lookup.Find(station->Fields(0)->AsString()));
  station->Close();
  // The same code with Czech letters; one differing in letter case only; two station
  // rows of one new code (neither is in main).
  EXPECT_EQ(found, (std::vector<bool>{true, false, false, false}));
  ASSERT_TRUE(lookup.Find(CZ("Žluť")));
  EXPECT_EQ(lookup.GetValue(1).AsInteger(), 1);
  EXPECT_EQ(lookup.GetValue(0).AsString(), CZ("Žluť"));
  EXPECT_EQ(lookup.KeyList().Count(), 1);
  EXPECT_EQ(lookup.ColumnNames().Text(), "PARTNER\r\nID_PARTNER\r\n");
  EXPECT_THROW(lookup.GetValue(2), Exception);
  EXPECT_FALSE(lookup.Find(CZ("žluť")));
  EXPECT_THROW(lookup.GetValue(1), Exception);
  lookup.Close();
  EXPECT_EQ(lookup.Query()->SQL()->Count(), 0);
}

// CHAR(12) keys: the key read from the station's column finds the main row, and a
// natural key built by snvl (no padding) finds it by the unpadded text.
TEST_F(QorLookupDb, PaddedCharKeys) {
  TQorLookupList lookup(dm_.Dst());
  lookup.SetQuery("KOD_ZAKAZNIKA", "select KOD_ZAKAZNIKA, ID_PARTNER from PARTNER");
  const AnsiString station_key = dm_.SelectSrc("select KOD_ZAKAZNIKA from PARTNER where ID_PARTNER = 12").AsString();
  ASSERT_TRUE(lookup.Find(station_key)) << "[" << station_key << "]";
  EXPECT_EQ(lookup.GetValue(1).AsInteger(), 2);
  lookup.Close();
  lookup.SetQuery("K", "select snvl(cast(KOD_ZAKAZNIKA as char(12)), '') as K, ID_PARTNER from PARTNER");
  ASSERT_TRUE(lookup.Find("K2 A"));
  EXPECT_EQ(lookup.GetValue(1).AsInteger(), 2);
  EXPECT_FALSE(lookup.Find("K2 A "));
  EXPECT_FALSE(lookup.Find("K2"));
  lookup.Close();
}

// Once opened the query keeps its result; closed, it sees what was committed meanwhile.
TEST_F(QorLookupDb, ResultKeptUntilCloseThenCommittedRowsSeen) {
  TQorLookupList lookup(dm_.Dst());
  lookup.SetQuery("PARTNER", "select PARTNER, ID_PARTNER from PARTNER");
  EXPECT_FALSE(lookup.Find("NOVY"));
  dm_.ExecDst("insert into PARTNER (ID_PARTNER, PARTNER) values (20, 'NOVY')");
  EXPECT_FALSE(lookup.Find("NOVY"));
  lookup.EndTransaction();
  lookup.Close();
  EXPECT_FALSE(IsTransactionStarted(lookup.QueryTransaction()));
  lookup.SetQuery("PARTNER", "select PARTNER, ID_PARTNER from PARTNER");
  ASSERT_TRUE(lookup.Find("NOVY"));
  EXPECT_EQ(lookup.GetValue(1).AsInteger(), 20);
  lookup.Close();
}

TEST_F(QorLookupDb, FailuresAreRaised) {
  TQorLookupList lookup(dm_.Dst());
  lookup.SetQuery("NENI", "select PARTNER, ID_PARTNER from PARTNER");
  EXPECT_THROW(lookup.Find("x"), Exception);  // no such key column (names compare exactly)
  lookup.Close();
  lookup.SetQuery("partner", "select PARTNER, ID_PARTNER from PARTNER");
  EXPECT_THROW(lookup.Find("x"), Exception);
  lookup.Close();
  EXPECT_THROW(lookup.SetQuery("X", "select X from NEEXISTUJE"), Exception);
  lookup.Close();
}

}  // namespace
}  // namespace pelvar::test
