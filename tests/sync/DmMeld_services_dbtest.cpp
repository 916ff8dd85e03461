// The data module's database services on practice databases of tools/practice in the
// embedded engine: statements and single values on both sides (failures raised, never
// turned into "no row"), the version question, generators that are only ever raised, the
// journal remap with chains, swaps and quoted names, the journal trim and trigger switch,
// the paging of changed keys with the work-flow-cycle chunks, the active-case fix-up and
// the first-row reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class DmMeldServices : public ::testing::Test {
 protected:
  // A main database and two stations cut from it (200824 and 200701), made once.
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    source_dir_ = new TempDir("pelvar-dmsvc");
    const CommandResult r = GeneratePractice(
        {"--seed", "svc", "--size", "small", "--main", source_dir_->File("main.fdb"), "--station",
         source_dir_->File("st.fdb"), "--station", source_dir_->File("old.fdb"), "--station-version",
         "200824", "--station-version", "200701"});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete source_dir_;
    source_dir_ = nullptr;
  }

  void SetUp() override {
    fs::copy_file(source_dir_->File("main.fdb"), dir_.File("main.fdb"));
    fs::copy_file(source_dir_->File("st.fdb"), dir_.File("st.fdb"));
    dm_.OpenDst(dir_.File("main.fdb"), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(dir_.File("st.fdb"), AdministratorUser, AdministratorPassword);
  }

  void OpenOldStation() {
    dm_.Src()->SetConnected(false);
    fs::copy_file(source_dir_->File("old.fdb"), dir_.File("old.fdb"));
    dm_.OpenSrc(dir_.File("old.fdb"), AdministratorUser, AdministratorPassword);
  }

  int64_t Dst(const std::string& sql) { return dm_.SelectDst(CZ(sql)).AsInt64(); }
  int64_t Src(const std::string& sql) { return dm_.SelectSrc(CZ(sql)).AsInt64(); }
  // The first column of every row, read through one of the module's helper queries.
  static std::vector<std::string> Column(TREZQuery* q, const std::string& sql) {
    std::vector<std::string> values;
    q->SQL()->SetText(CZ(sql));
    q->Open();
    for (q->First(); !q->Eof(); q->Next()) values.push_back(q->Fields(0)->AsString());
    q->Close();
    return values;
  }
  static std::vector<int32_t> Keys(TREZQuery* q, const std::string& sql) {
    std::vector<int32_t> keys;
    for (const std::string& v : Column(q, sql)) keys.push_back(std::stoi(v));
    return keys;
  }

  static TempDir* source_dir_;
  TempDir dir_{"pelvar-dmsvc"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  TScriptedResponder dialogs_{[](const std::string& m) { ADD_FAILURE() << m; }};
};

TempDir* DmMeldServices::source_dir_ = nullptr;

TEST_F(DmMeldServices, StatementsAndSingleValuesOnBothSides) {
  EXPECT_TRUE(dm_.ExecDst(CZ("insert into PSC (ID_PSC, PSC, PSC_NAZEV) values (9001, '11111', 'Dolní')")));
  EXPECT_TRUE(dm_.ExecSrc(CZ("insert into PSC (ID_PSC, PSC, PSC_NAZEV) values (9002, '22222', 'Horní')")));
  EXPECT_EQ(dm_.SelectDst("select PSC_NAZEV from PSC where ID_PSC = 9001").AsString(), CZ("Dolní"));
  EXPECT_TRUE(dm_.SelectDst("select PSC from PSC where ID_PSC = 9002").IsNull());  // no row
  // The independent station transaction sees the committed row; first and last rows.
  EXPECT_EQ(dm_.SelectTmpSrc("select PSC from PSC where ID_PSC = 9002").AsString(), "22222");
  EXPECT_EQ(dm_.SelectTmpSrc("select ID_PSC from PSC order by ID_PSC").AsInteger(),
            Src("select min(ID_PSC) from PSC"));
  EXPECT_EQ(dm_.SelectTmpSrcLast("select ID_PSC from PSC order by ID_PSC").AsInteger(), 9002);
  // Committed retaining: another attachment sees both rows.
  TDMMeldrun other(nullptr, form_);
  other.OpenDst(dir_.File("main.fdb"), AdministratorUser, AdministratorPassword);
  other.OpenSrc(dir_.File("st.fdb"), AdministratorUser, AdministratorPassword);
  EXPECT_EQ(other.SelectDst("select count(*) from PSC where ID_PSC = 9001").AsInteger(), 1);
  EXPECT_EQ(other.SelectSrc("select count(*) from PSC where ID_PSC = 9002").AsInteger(), 1);

  // Failures are raised (not Null, not false) and leave the transactions usable.
  EXPECT_THROW(dm_.SelectDst("select NIC from NEEXISTUJE"), Exception);
  EXPECT_THROW(dm_.SelectSrc("select NIC from NEEXISTUJE"), Exception);
  EXPECT_THROW(dm_.SelectTmpSrcLast("select 1/0 from RDB$DATABASE"), Exception);
  EXPECT_THROW(dm_.ExecDst("insert into PSC (ID_PSC, PSC) values (9001, 'dup')"), Exception);
  EXPECT_FALSE(dm_.IBQueryDst()->Active());
  EXPECT_TRUE(dm_.ExecDst("update PSC set PSC = '33333' where ID_PSC = 9001"));
  dm_.CommitBoth();
  EXPECT_EQ(other.SelectDst("select PSC from PSC where ID_PSC = 9001").AsString(), "33333");
}

TEST_F(DmMeldServices, VersionCheckKeepsTheLowestVersionWhateverTheAnswer) {
  EXPECT_TRUE(dm_.CheckDatabaseVersion("Dst", 200824));
  EXPECT_EQ(dm_.LowestVersion, 200824);
  OpenOldStation();
  const AnsiString question =
      CZ("Verze Sehrávané databáze (200701) neodpovídá verzi sehrávacího programu (200824).\r\n"
         "           Přejete si přesto pokračovat v sehrávání dat?");
  dialogs_.Expect(mtConfirmation, question, mrNo).Expect(mtConfirmation, question, mrYes);
  EXPECT_FALSE(dm_.CheckDatabaseVersion("Source", 200824));
  EXPECT_EQ(dm_.LowestVersion, 200701);
  EXPECT_TRUE(dm_.CheckDatabaseVersion("src", 200824));
  // The working database is "Hlavní"; a higher version leaves the lowest one alone.
  EXPECT_TRUE(dm_.CheckDatabaseVersion("dst", 200824));
  EXPECT_EQ(dm_.LowestVersion, 200701);
  EXPECT_EQ(dialogs_.Pending(), 0u);
}

TEST_F(DmMeldServices, SyncGeneratorOnlyRaises) {
  const int64_t station = Src("select gen_id(GEN_PARTNER, 0) from RDB$DATABASE");
  const int64_t main = Dst("select gen_id(GEN_PARTNER, 0) from RDB$DATABASE");
  ASSERT_GT(station, main);
  // Behind the station: raised to the station's value.
  EXPECT_TRUE(dm_.SyncGenerator("PARTNER", 0));
  EXPECT_EQ(Dst("select gen_id(GEN_PARTNER, 0) from RDB$DATABASE"), station);
  // Ahead of the value asked for: left where it is (lowering would hand out used keys).
  EXPECT_TRUE(dm_.SyncGenerator("PARTNER", static_cast<int32_t>(main)));
  EXPECT_EQ(Dst("select gen_id(GEN_PARTNER, 0) from RDB$DATABASE"), station);
  EXPECT_TRUE(dm_.SyncGenerator("PARTNER", static_cast<int32_t>(station + 100)));
  EXPECT_EQ(Dst("select gen_id(GEN_PARTNER, 0) from RDB$DATABASE"), station + 100);
  // A generator that does not exist is an error, not a quiet false.
  EXPECT_THROW(dm_.SyncGenerator("NEEXISTUJE", 5), Exception);
}

// 2,500 entries of one table in the order the import writes them: long chains (k->k+5),
// a swap, a three-cycle, a chain that ends in a key that moves on, and a repeated old key;
// beside them a table whose name holds an apostrophe, and a table nobody remaps.
TEST_F(DmMeldServices, JournalRemapFollowsChainsAndSwaps) {
  form_.Station = 1;
  dm_.InitStationLists(2);
  std::vector<std::pair<int, int>> entries;
  for (int k = 1; k <= 2490; ++k) entries.emplace_back(k, k + 5);
  for (auto e : {std::pair{2496, 2497}, {2497, 2496}, {2498, 2499}, {2499, 2500}, {2500, 2498},
                 {2501, 2502}, {2502, 2503}, {2503, 2504}, {2504, 1}, {1, 9999}})
    entries.push_back(e);
  ASSERT_EQ(entries.size(), 2500u);
  std::map<int, int> expected;  // the first entry of an old key wins
  for (auto [from, to] : entries) {
    expected.emplace(from, to);
    dm_.AddIdMapping("PACIENT", IntToStr(from), IntToStr(to));
  }
  dm_.AddIdMapping("O'BRIEN", "1", "2");
  dm_.AddIdMapping("O'BRIEN", "2", "1");
  EXPECT_EQ(dm_.StationMappings()[1]->Strings(0), "PACIENT|1|6");
  EXPECT_EQ(dm_.StationMappings()[0]->Count(), 0);

  ASSERT_TRUE(dm_.ExecDst("delete from ZURNAL"));
  const char* numbers =
      "(select a.N * 1000 + b.N * 100 + c.N * 10 + d.N + 1 as K from %s a, %s b, %s c, %s d "
      "where a.N * 1000 + b.N * 100 + c.N * 10 + d.N < 2600)";
  const AnsiString digits =
      "(select 0 as N from RDB$DATABASE union all select 1 from RDB$DATABASE union all select 2 from "
      "RDB$DATABASE union all select 3 from RDB$DATABASE union all select 4 from RDB$DATABASE union all "
      "select 5 from RDB$DATABASE union all select 6 from RDB$DATABASE union all select 7 from "
      "RDB$DATABASE union all select 8 from RDB$DATABASE union all select 9 from RDB$DATABASE)";
  const AnsiString keys = Format(numbers, {digits, digits, digits, digits});
  ASSERT_TRUE(dm_.ExecDst("insert into ZURNAL (ID_ZURNAL, TABULKA, ID_ZAZNAM) select K, 'PACIENT', K from " + keys + " n"));
  ASSERT_TRUE(dm_.ExecDst("insert into ZURNAL (ID_ZURNAL, TABULKA, ID_ZAZNAM) select 10000 + K, 'PARTNER', K from " + keys + " n where mod(K, 25) = 1"));
  ASSERT_TRUE(dm_.ExecDst("insert into ZURNAL (ID_ZURNAL, TABULKA, ID_ZAZNAM) values (20001, 'O''BRIEN', 1)"));
  ASSERT_TRUE(dm_.ExecDst("insert into ZURNAL (ID_ZURNAL, TABULKA, ID_ZAZNAM) values (20002, 'O''BRIEN', 2)"));
  dm_.RemapJournal();
  EXPECT_FALSE(IsTransactionStarted(dm_.REZTransactionDst()));

  const std::vector<int32_t> ids = Keys(dm_.IBQueryDstOther(), "select ID_ZURNAL from ZURNAL order by ID_ZURNAL");
  const std::vector<int32_t> rows = Keys(dm_.IBQueryDstOther(), "select ID_ZAZNAM, ID_ZURNAL from ZURNAL order by ID_ZURNAL");
  ASSERT_EQ(rows.size(), 2600u + 104u + 2u);
  int wrong = 0;
  for (size_t i = 0; i < ids.size(); ++i) {
    const int id = ids[i];
    int want = id > 10000 ? id - 10000 : id;  // unmapped tables keep their keys
    if (id <= 2600) {
      const auto it = expected.find(id);
      if (it != expected.end()) want = it->second;
    }
    if (id == 20001) want = 2;
    if (id == 20002) want = 1;
    if (rows[i] != want && ++wrong < 5) ADD_FAILURE() << "journal row " << id << ": " << rows[i] << ", want " << want;
  }
  EXPECT_EQ(wrong, 0);
  // No row is left under a temporary key.
  EXPECT_EQ(Dst("select count(*) from ZURNAL where ID_ZAZNAM <= 0"), 0);

  // A malformed entry is refused before anything changes.
  form_.Station = 0;
  dm_.AddIdMapping("PACIENT", "6", "7");
  dm_.AddIdMapping("PACIENT", "7) or (1=1", "1");
  EXPECT_THROW(dm_.RemapJournal(), EConvertError);
  EXPECT_EQ(Dst("select ID_ZAZNAM from ZURNAL where ID_ZURNAL = 1"), 6);
  // A station without a list is an error, not a silent no-op.
  form_.Station = 2;
  EXPECT_THROW(dm_.AddIdMapping("PACIENT", "1", "2"), EListError);
}

TEST_F(DmMeldServices, TrimStationJournalDropsThePlayInsRowsAndOptionallyOldOnes) {
  ASSERT_TRUE(dm_.ExecSrc("delete from ZURNAL where ID_ZURNAL > 100"));
  ASSERT_TRUE(dm_.ExecSrc("update ZURNAL set DATUM = current_timestamp"));
  ASSERT_TRUE(dm_.ExecSrc("update ZURNAL set DATUM = '01.01.2000' where ID_ZURNAL <= 10"));
  ASSERT_EQ(Src("select count(*) from ZURNAL"), 100);
  dm_.TrimStationJournal(80, 30);
  EXPECT_EQ(Src("select count(*) from ZURNAL"), 80);
  EXPECT_EQ(Src("select max(ID_ZURNAL) from ZURNAL"), 80);
  form_.RecentOnly = true;
  dm_.TrimStationJournal(80, 30);
  EXPECT_EQ(Src("select count(*) from ZURNAL"), 70);
  EXPECT_EQ(Src("select min(ID_ZURNAL) from ZURNAL"), 11);
}

TEST_F(DmMeldServices, JournalTriggerSwitch) {
  const int64_t before = Dst("select count(*) from ZURNAL");
  // Work left open in the query's transaction is committed before the switch (a read
  // that wrote nothing leaves its transaction open).
  if (!IsTransactionStarted(dm_.REZTransactionDst())) dm_.REZTransactionDst()->StartTransaction();
  ASSERT_TRUE(IsTransactionStarted(dm_.REZTransactionDst()));
  EXPECT_EQ(dm_.SetJournalTriggers(0), 0);
  EXPECT_FALSE(IsTransactionStarted(dm_.REZTransactionDst()));
  ASSERT_TRUE(dm_.ExecDst("insert into PSC (ID_PSC, PSC) values (9101, '1')"));
  EXPECT_EQ(Dst("select count(*) from ZURNAL"), before);
  EXPECT_EQ(dm_.SetJournalTriggers(1), 1);
  ASSERT_TRUE(dm_.ExecDst("insert into PSC (ID_PSC, PSC) values (9102, '2')"));
  EXPECT_EQ(Dst("select count(*) from ZURNAL"), before + 1);
  EXPECT_EQ(Dst("select ID_ZAZNAM from ZURNAL order by ID_ZURNAL desc rows 1"), 9102);
}

// 25 changed documents in 3 cycles: chunks of 9 keys, 9/9/7; CommitAfter and the paging
// state are restored afterwards.
TEST_F(DmMeldServices, DocumentCyclesDivideTheChangedDocuments) {
  ASSERT_TRUE(dm_.ExecSrc("update DOKLAD set ST = null"));
  ASSERT_TRUE(dm_.ExecSrc(
      "update DOKLAD set ST = 'U' where ID_DOKLAD in (select first 25 ID_DOKLAD from DOKLAD order by "
      "ID_DOKLAD desc)"));
  const std::vector<int32_t> keys =
      Keys(dm_.IBQuerySrcOther(), "select ID_DOKLAD from DOKLAD where ST is not null order by 1");
  ASSERT_EQ(keys.size(), 25u);
  dm_.CommitAfter = 900;
  dm_.PrepareDocumentCycles(3);
  EXPECT_TRUE(dm_.CyclesPrepared);
  EXPECT_EQ(dm_.CommitAfter, 900);
  EXPECT_EQ(dm_.PageNo, 1);
  EXPECT_EQ(dm_.SourceRowCount, 0);
  EXPECT_EQ(dm_.PageLastKey, 0);
  EXPECT_EQ(dm_.CycleLowerKeys, (std::vector<int32_t>{keys[0], keys[9], keys[18]}));
  EXPECT_EQ(dm_.CycleUpperKeys, (std::vector<int32_t>{keys[8], keys[17], keys[24]}));

  // More cycles than the chunks fill: the empty chunks stay empty instead of starting
  // over from the lowest key.
  ASSERT_TRUE(dm_.ExecSrc("update DOKLAD set ST = null where ID_DOKLAD > " + IntToStr(keys[1])));
  dm_.PrepareDocumentCycles(4);
  EXPECT_EQ(dm_.CycleLowerKeys, (std::vector<int32_t>{keys[0], keys[1], 0, 0}));
  EXPECT_EQ(dm_.CycleUpperKeys, (std::vector<int32_t>{keys[0], keys[1], 0, 0}));
  EXPECT_EQ(dm_.CommitAfter, 900);
}

// Pages of the station's changed keys cover every key once, in ascending order.
TEST_F(DmMeldServices, PagesCoverEveryChangedKeyOnce) {
  const std::vector<int32_t> changed =
      Keys(dm_.IBQuerySrcOther(), "select ID_PARTNER from PARTNER where ST is not null order by 1");
  ASSERT_GE(changed.size(), 4u);
  dm_.CommitAfter = 3;
  const int32_t pages = dm_.CountPages("PARTNER", true);
  EXPECT_EQ(dm_.SourceRowCount, static_cast<int32_t>(changed.size()));
  EXPECT_EQ(pages, static_cast<int32_t>(changed.size()) / 3 + 1);
  std::vector<int32_t> covered;
  for (int32_t p = 1; p <= pages + 1; ++p) {
    int32_t upper = -7, lower = -7;
    dm_.GetPageBounds("ID_PARTNER", p, upper, lower);
    EXPECT_EQ(dm_.PageNo, p);
    if (upper == 0) continue;
    for (int32_t k : changed)
      if (k >= lower && k <= upper) covered.push_back(k);
  }
  EXPECT_EQ(covered, changed);
  // All rows, not only changed ones.
  EXPECT_EQ(dm_.CountPages("PARTNER", false), static_cast<int32_t>(Src("select count(*) from PARTNER")) / 3 + 1);
  dm_.ResetChunking();
  EXPECT_EQ(dm_.PagedTable, "");
  EXPECT_EQ(dm_.SourceRowCount, 0);

  // A count that fails warns and goes on with one page; a commit interval of 0 is refused.
  dialogs_.Expect(mtWarning, CZ("Nepodařilo se zjistit počet zdrojových záznamů!"), mrOk);
  EXPECT_EQ(dm_.CountPages("NEEXISTUJE", true), 1);
  dm_.CommitAfter = 0;
  EXPECT_THROW(dm_.CountPages("PARTNER", true), EConvertError);
}

TEST_F(DmMeldServices, FixActiveCasesSetsEachPatientsCase) {
  TStringList list;
  dm_.FixActiveCases(&list);  // nothing
  list.Add("1|77");
  list.Add(" 2 |-1");
  dm_.FixActiveCases(&list);
  EXPECT_EQ(Dst("select ID_TABLE_STATUS from PACIENT where ID_PACIENT = 1"), 77);
  EXPECT_EQ(Dst("select ID_TABLE_STATUS from PACIENT where ID_PACIENT = 2"), -1);
  // A station value is never pasted into the statement.
  list.Clear();
  list.Add("1|987654 where 1=1 --");
  EXPECT_THROW(dm_.FixActiveCases(&list), EConvertError);
  EXPECT_EQ(Dst("select count(*) from PACIENT where ID_TABLE_STATUS = 987654"), 0);
}

TEST_F(DmMeldServices, SelectRowValuesGivesTheFirstRowOrNone) {
  TREZQuery* q = dm_.IBQueryDstOther();
  Variant values;
  EXPECT_EQ(dm_.SelectRowValues(q, CZ("select ID_PSC, PSC, 'ž' from PSC order by ID_PSC"), values), 3);
  EXPECT_FALSE(q->Active());
  EXPECT_FALSE(IsTransactionStarted(q->IB_Transaction()));
  ASSERT_TRUE(values.IsArray());
  EXPECT_EQ(values.HighBound(1), 2);
  EXPECT_EQ(values[0].AsInt64(), Dst("select min(ID_PSC) from PSC"));
  EXPECT_EQ(values[2].AsString(), CZ("ž"));

  Variant untouched;
  EXPECT_EQ(dm_.SelectRowValues(q, "select ID_PSC from PSC where ID_PSC < -100", untouched), 0);
  EXPECT_TRUE(untouched.IsEmpty());
  // A failing query gives no row and raises nothing; its transaction is rolled back.
  EXPECT_EQ(dm_.SelectRowValues(q, "select NIC from NEEXISTUJE", untouched), 0);
  EXPECT_TRUE(untouched.IsEmpty());
  EXPECT_FALSE(q->Active());
  EXPECT_FALSE(IsTransactionStarted(q->IB_Transaction()));
  // The key column the dataset adds for its own bookkeeping is not one of the row's.
  EXPECT_EQ(dm_.SelectRowValues(q, "select 1 from RDB$DATABASE", values), 1);
  EXPECT_EQ(dm_.SelectRowValues(q, "select PSC, PSC_NAZEV from PSC where ID_PSC = 9201", values), 0);
  ASSERT_TRUE(dm_.ExecDst("insert into PSC (ID_PSC, PSC, PSC_NAZEV) values (9201, '1', null)"));
  EXPECT_EQ(dm_.SelectRowValues(q, "select PSC, PSC_NAZEV from PSC where ID_PSC = 9201", values), 2);
  EXPECT_EQ(values.HighBound(1), 1);
  EXPECT_TRUE(values[1].IsNull());
}

}  // namespace
}  // namespace pelvar::test
