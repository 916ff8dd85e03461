// The copy engine against Firebird 3 on the practice schema: station rows copied into the
// working database with generated keys and their mapping lines, the six counters, the
// per-row outcomes (skipped, merged, a value that does not convert, a failing post, a
// failing after-post write-back), "Import.txt" byte-compared with a golden file, and the
// commit interval.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Qor_Import_New.h"
#include "main_form_double.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

// Records where the copy loop commits.
class RecordingImportTable : public TImportTable {
 public:
  using TImportTable::TImportTable;
  std::vector<int32_t> CommitsAfterSaved;

 protected:
  void CommitTarget() override {
    CommitsAfterSaved.push_back(SavedCount());
    TImportTable::CommitTarget();
  }
};

class ImportDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    InstallClientLibraryNameProvider();
    schema_ = PracticeSchemaDb("import.fdb").release();
  }
  static void TearDownTestSuite() {
    delete schema_;
    schema_ = nullptr;
  }
  void SetUp() override {
    fs::current_path(dir_.Path());
    fs::copy_file(schema_->Path(), dir_.File("main.fdb"));
    fs::copy_file(schema_->Path(), dir_.File("st.fdb"));
    dm_.OpenDst(dir_.File("main.fdb"), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(dir_.File("st.fdb"), AdministratorUser, AdministratorPassword);
    dm_.InitStationLists(1);
    dm_.CommitAfter = 900;
    dm_.ExecDst("alter sequence GEN_PARTNER restart with 50");
    dm_.ExecDst("insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV) values (1, 'M1', 'Hlavní')");
    struct Row {
      int id;
      const char* code;
      const char* name;
      const char* st;
    };
    for (const Row& r : {Row{101, "S1", "  Žluťoučký kůň ", "I"}, Row{102, "S2", "O'Brien", "U"},
                         Row{103, "S3", "Třetí", "I"}, Row{104, "S4", "Čtvrtý", "U"},
                         Row{105, "S5", "Pátý", "I"}, Row{106, "S6", "beze změny", nullptr}})
      dm_.ExecSrc(Format(CZ("insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV, ST) values (%d, '%s', %s, %s)"),
                         {r.id, AnsiString(r.code), QuotedStr(CZ(r.name)),
                          AnsiString(r.st ? QuotedStr(r.st) : AnsiString("null"))}));
  }
  void TearDown() override { fs::current_path(before_); }

  // The engine configured for PARTNER as a play step with generated keys configures it.
  std::unique_ptr<RecordingImportTable> PartnerEngine(const std::string& sql) {
    auto t = std::make_unique<RecordingImportTable>(dm_.Src(), dm_.Dst());
    t->SetTargetTable("PARTNER");
    t->ResetMapping();
    t->SetSource(CZ(sql));
    t->SetKeyGenerator("GEN_PARTNER", "ID_PARTNER", true);
    t->OnField = [](TField* field, TDataSet*, bool& handled) {
      if (field->FieldName() == "ID_PARTNER") handled = true;  // the key comes from the generator
    };
    return t;
  }

  std::vector<std::string> MainPartners() {
    std::vector<std::string> rows;
    TREZQuery* q = dm_.IBQueryDstOther();
    q->SQL()->SetText("select ID_PARTNER, PARTNER, PARTNER_NAZEV from PARTNER where ID_PARTNER > 1 order by 1");
    q->Open();
    for (q->First(); !q->Eof(); q->Next())
      rows.push_back(q->Fields(0)->AsString() + "|" + q->Fields(1)->AsString() + "|" + q->Fields(2)->AsString());
    q->Close();
    return rows;
  }

  static FbTestDb* schema_;
  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-import"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
};

FbTestDb* ImportDb::schema_ = nullptr;

TEST_F(ImportDb, ChangedRowsGetGeneratedKeysAndMappings) {
  WriteFile(dir_.File("Import.txt"), "stale\r\n");
  auto t = PartnerEngine("select ID_PARTNER, PARTNER, PARTNER_NAZEV from PARTNER where ST is not null");
  EXPECT_EQ(ReadFile(dir_.File("Import.txt")), "");  // emptied when the engine is made
  std::vector<std::pair<int32_t, int32_t>> progress;
  t->OnProgress = [&](int32_t current, int32_t count, const AnsiString&) { progress.emplace_back(current, count); };
  t->Execute("");
  EXPECT_EQ(MainPartners(), (std::vector<std::string>{"51|S1|" + CZ("Žluťoučký kůň"), "52|S2|O'Brien",
                                                      "53|S3|" + CZ("Třetí"), "54|S4|" + CZ("Čtvrtý"),
                                                      "55|S5|" + CZ("Pátý")}));
  EXPECT_EQ(dm_.StationMappings()[0]->Text(),
            "PARTNER|101|51\r\nPARTNER|102|52\r\nPARTNER|103|53\r\nPARTNER|104|54\r\nPARTNER|105|55\r\n");
  EXPECT_EQ(t->SavedCount(), 5);
  EXPECT_EQ(t->InitErrorCount() + t->SkippedCount() + t->ConvertErrorCount() + t->SaveErrorCount() +
                t->ChangedCount(),
            0);
  EXPECT_EQ(t->RowTotal(), 5);
  EXPECT_FALSE(t->IsPrepared());
  EXPECT_EQ(progress, (std::vector<std::pair<int32_t, int32_t>>{{0, 5}, {1, 5}, {2, 5}, {3, 5}, {4, 5}, {0, 0}}));
  EXPECT_EQ(ReadFile(dir_.File("Import.txt")), "");

  // The progress count runs the source's condition as it stands (quoted values keep
  // their letter case); the data module's row count of a paged table overrides it.
  EXPECT_EQ(t->CountSourceRows("select * from PARTNER where PARTNER_NAZEV = 'O''Brien'"), 1);
  dm_.SourceRowCount = 40;
  EXPECT_EQ(t->CountSourceRows("select * from PARTNER"), 40);
  dm_.SourceRowCount = 0;
}

// Skipped (logged and not), merged, a value that does not convert, a post that fails and
// an after-post write-back that fails: "Import.txt" as the golden file has it.
TEST_F(ImportDb, RowOutcomesCountersAndTheLog) {
  auto t = PartnerEngine(
      "select ID_PARTNER, PARTNER, PARTNER_NAZEV, iif(ID_PARTNER = 103, 'neni cislo', '2') as SLEVA, "
      "iif(ID_PARTNER = 105, 1, null) as ID from PARTNER");
  t->Defaults().Add("ID", Variant::MakeNull());  // a running number where the source has none
  t->OnField = [&](TField* field, TDataSet* source, bool& handled) {
    const int32_t id = source->FieldByName("ID_PARTNER")->AsInteger();
    if (field->FieldName() == "ID_PARTNER") {
      handled = true;
      if (id == 105) field->SetAsInteger(1);  // a key main already has: the post fails
      if (id == 101) t->SkipRecord(false);
      if (id == 102) t->SkipRecord(true);
      if (id == 104) t->MarkChanged();
    }
  };
  int write_backs = 0;
  t->TargetTable()->AfterPost = [&](TDataSet* d) {
    ++write_backs;
    if (d->FieldByName("PARTNER")->AsString() == "S6") throw EDatabaseError(CZ("Zpětný zápis selhal"));
  };
  std::vector<AnsiString> shown;
  const TDialogResponder old = SetDialogResponder([&](const TDialogRequest& r) {
    shown.push_back(r.Text);
    return mrOk;
  });
  t->Execute("");
  SetDialogResponder(old);

  // 103 (no conversion) and 105 (failed post) are not in main; S6 is, with its write-back
  // failure reported; its running number counts the rows appended and not dropped (105
  // and itself). A key is drawn only for a row about to be written: the dropped 103 took
  // none, so S6 has the generator's first.
  EXPECT_EQ(MainPartners(), (std::vector<std::string>{"51|S6|beze " + CZ("změny")}));
  EXPECT_EQ(dm_.SelectDst("select ID from PARTNER where ID_PARTNER = 51").AsInteger(), 2);
  EXPECT_EQ(dm_.StationMappings()[0]->Text(), "PARTNER|106|51\r\n");
  EXPECT_EQ(t->SkippedCount(), 1);
  EXPECT_EQ(t->ChangedCount(), 1);
  EXPECT_EQ(t->ConvertErrorCount(), 1);
  EXPECT_EQ(t->SaveErrorCount(), 2);
  EXPECT_EQ(t->SavedCount(), 1);
  EXPECT_EQ(t->RowTotal(), 2);
  EXPECT_EQ(write_backs, 1);
  ASSERT_EQ(shown.size(), 1u);  // one box per table: the last save failure
  EXPECT_EQ(shown[0], CZ("Zpětný zápis selhal"));
  const std::string golden = ReadFile(std::string(PELVAR_SOURCE_DIR) + "/tests/sync/golden/Import.txt");
  EXPECT_EQ(ReadFile(dir_.File("Import.txt")), golden);
}

TEST_F(ImportDb, CommitEveryCommitAfterRows) {
  dm_.ExecSrc("update PARTNER set ST = 'U'");
  dm_.ExecSrc("insert into PARTNER (ID_PARTNER, PARTNER, ST) values (107, 'S7', 'I')");
  auto t = PartnerEngine("select ID_PARTNER, PARTNER from PARTNER where ST is not null");
  dm_.CommitAfter = 3;
  t->Execute("PARTNER_NAZEV");
  EXPECT_EQ(t->SavedCount(), 7);
  EXPECT_EQ(t->CommitsAfterSaved, (std::vector<int32_t>{3, 6}));
  dm_.CommitAfter = 0;
  EXPECT_THROW(t->Execute(""), EConvertError);
  EXPECT_EQ(t->SavedCount(), 7);
}

TEST_F(ImportDb, JobRelaysStepsAndProgressAndStopsOnCancel) {
  TImport job(dm_.Src(), dm_.Dst());
  std::vector<std::string> events;
  job.OnStep = [&](int32_t step, int32_t total, const AnsiString& caption) {
    events.push_back("step " + std::to_string(step) + "/" + std::to_string(total) + " " + caption);
  };
  job.OnProgress = [&](int32_t current, int32_t count, const AnsiString&) {
    events.push_back("row " + std::to_string(current) + "/" + std::to_string(count));
  };
  job.Execute();
  EXPECT_EQ(job.PlannedUnits(), 0);
  job.StartStep("PARTNER", 0);
  TImportTable& t = job.ImportTable();
  t.SetTargetTable("PARTNER");
  t.ResetMapping();
  t.SetSource("select ID_PARTNER, PARTNER from PARTNER where ID_PARTNER > 104");
  t.SetKeyGenerator("GEN_PARTNER", "ID_PARTNER", false);
  t.OnField = [](TField* field, TDataSet*, bool& handled) { handled = field->FieldName() == "ID_PARTNER"; };
  t.Execute("");
  EXPECT_EQ(job.GetSavedCount(), 2);
  EXPECT_EQ(job.DoneUnits(), 3);
  EXPECT_EQ(events, (std::vector<std::string>{"step 1/0 PARTNER", "row 0/2", "row 1/2", "row 0/0"}));
  EXPECT_EQ(dm_.StationMappings()[0]->Count(), 0);

  events.clear();
  job.CancelRequested = true;
  try {
    job.RecordProgress(4, 9, "x");
    ADD_FAILURE() << "not cancelled";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), CZ("Import byl přerušen uživatelem"));
  }
  EXPECT_FALSE(job.CancelRequested);
  EXPECT_EQ(events, (std::vector<std::string>{"row 4/9", "step 1/0 " + CZ("Import byl přerušen uživatelem")}));
}

// A job that plans its units gets the time display: elapsed and remaining time, the
// remaining one unknown until a unit is done; it stops once all units are done.
TEST_F(ImportDb, PlannedJobReportsItsTime) {
  struct PlannedJob : TImport {
    using TImport::TImport;
    int32_t GetStepCount() override { return 2; }
  } job(dm_.Src(), dm_.Dst());
  std::vector<std::string> times;
  job.OnTime = [&](const AnsiString& elapsed, const AnsiString& remaining, int32_t planned, int32_t done) {
    times.push_back(elapsed + " " + remaining + " " + std::to_string(planned) + "/" + std::to_string(done));
  };
  job.Execute();
  job.RecordProgress(1, 2, "");
  job.RecordProgress(2, 2, "");
  job.TimerTick();
  ASSERT_EQ(times.size(), 2u);
  EXPECT_EQ(times[0], "00:00:00 99:59:59 2/0");
  EXPECT_EQ(times[1].substr(0, 2), "00");
  EXPECT_EQ(times[1].substr(times[1].size() - 3), "2/2");
}

// Texts lose their surrounding blanks on the way; binary data (a photo whose bytes start
// with a blank and end with a control byte) arrives byte for byte.
TEST_F(ImportDb, BinaryDataIsCopiedWholeAndTextsTrimmed) {
  dm_.ExecSrc("insert into PACIENT (ID_PACIENT, PACIENT, POZNAMKA, FOTO, ST) values (201, 'B1', '  note  ', "
              "x'20DC0F', 'I')");
  dm_.ExecDst("alter sequence GEN_PACIENT restart with 70");
  auto t = std::make_unique<TImportTable>(dm_.Src(), dm_.Dst());
  t->SetTargetTable("PACIENT");
  t->ResetMapping();
  t->SetSource("select ID_PACIENT, PACIENT, POZNAMKA, FOTO from PACIENT where ST is not null");
  t->SetKeyGenerator("GEN_PACIENT", "ID_PACIENT", true);
  t->OnField = [](TField* field, TDataSet*, bool& handled) { handled = field->FieldName() == "ID_PACIENT"; };
  t->Execute("");
  EXPECT_EQ(t->SavedCount(), 1);
  dm_.CommitBoth();
  EXPECT_EQ(dm_.SelectDst("select iif(FOTO = x'20DC0F', 'whole', 'cut') || '/' || POZNAMKA from PACIENT where "
                          "ID_PACIENT = 71").AsString(),
            "whole/note");
}

// A logged row is one line of "Import.txt" whatever its values hold: a photo's bytes
// (with CR LF and a zero byte) are written as their length, a note's line break as
// blanks.
TEST_F(ImportDb, ALoggedRowIsOneLineWhateverItsValuesHold) {
  dm_.ExecSrc("insert into PACIENT (ID_PACIENT, PACIENT, POZNAMKA, FOTO, ST) values (202, 'B2', 'radek 1' || "
              "ascii_char(13) || ascii_char(10) || 'radek 2', x'0D0A000D0AFF41', 'I')");
  auto t = std::make_unique<TImportTable>(dm_.Src(), dm_.Dst());
  t->SetTargetTable("PACIENT");
  t->ResetMapping();
  t->SetSource("select ID_PACIENT, PACIENT, POZNAMKA, FOTO from PACIENT where ST is not null");
  t->OnField = [&t](TField*, TDataSet*, bool&) { t->SkipRecord(true); };
  t->Execute("");
  t.reset();
  EXPECT_EQ(ReadFile(dir_.File("Import.txt")),
            CZ("Přeskočeno        : PACIENT, 202 | B2 | radek 1  radek 2 | [blob 7 B] | \r\n"));
}

}  // namespace
}  // namespace pelvar::test
