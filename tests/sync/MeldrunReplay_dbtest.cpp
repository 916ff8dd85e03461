// Replays and same-run duplicates of the play-in, against Firebird 3 on the practice of
// tools/practice (the station of the current schema): the same station data played a
// second time into the main database the first play left changes nothing (the dump of
// tools/practice, generators included, stays byte for byte; no save error, no error box,
// nothing in the error list); two results of one kind that the station recorded for one
// patient on one day both arrive, and their replay changes nothing either.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DlgPrava.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_integrity.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

void Exec(const std::string& db, const std::string& script) {
  const CommandResult r = RunIsql(script + "\ncommit;\n", db);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(r.output.find("Statement failed"), std::string::npos) << r.output;
}

class MeldrunReplayDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }
  void SetUp() override {
    fs::current_path(dir_.Path());
    previous_dialogs_ = SetDialogResponder([this](const TDialogRequest& r) {
      dialogs_.push_back(AnsiToUtf8(r.Text));
      return r.DefaultResult != mrNone ? r.DefaultResult : mrOk;
    });
    previous_rights_ = SetDialogPravaRunner([](TFrmDialogPrava&) { ADD_FAILURE() << "access-rights dialog shown"; });
    PlayPractice::CopyTo("main.fdb", Main());
  }
  void TearDown() override {
    SetDialogPravaRunner(previous_rights_);
    SetDialogResponder(previous_dialogs_);
    fs::current_path(before_);
  }
  std::string Main() const { return dir_.File("main.fdb"); }

  // A fresh copy of the station as its medium brings it, with the rows of the test.
  std::string Station(const std::string& name, const std::string& rows = {}) {
    const std::string st = dir_.File(name);
    PlayPractice::CopyTo("st.fdb", st);
    if (!rows.empty()) Exec(st, rows);
    return st;
  }

  struct Outcome {
    int32_t saved = 0, changed = 0, save_errors = 0, convert_errors = 0;
    std::vector<std::string> errors;  // the data module's error list (Errors.txt)
    std::string log;                  // Import.txt
  };
  // One station played into main as the wizard's run does: journal triggers off, the
  // version read, one work-flow cycle with every option on.
  Outcome Play(const std::string& station) {
    Outcome out;
    form_.Auto = true;
    dm_.CommitAfter = 900;
    dm_.LowestVersion = 999999;
    dm_.ErrorList().Clear();
    dm_.OpenDst(Main(), AdministratorUser, AdministratorPassword);
    dm_.SetJournalTriggers(0);
    dm_.InitStationLists(1);
    dm_.OpenSrc(station, AdministratorUser, AdministratorPassword);
    EXPECT_TRUE(dm_.CheckDatabaseVersion("Src", 200824));
    dm_.CycleIndex = 0;
    dm_.IsLastCycle = true;
    {
      auto m = std::make_unique<TMeldrun>();
      m->Zaklad = m->ExPartner = m->ExPacient = m->Karty = m->Doklady = m->Uzaverky = m->Ciselniky =
          m->OrgStruktura = m->AutoChange = true;
      m->Execute();
      out.saved = m->GetSavedCount();
      out.changed = m->GetChangedCount();
      out.save_errors = m->GetSaveErrorCount();
      out.convert_errors = m->GetConvertErrorCount();
    }
    out.log = AnsiToUtf8(ReadFile("Import.txt"));
    for (int32_t i = 0; i < dm_.ErrorList().Count(); ++i) out.errors.push_back(AnsiToUtf8(dm_.ErrorList().Strings(i)));
    dm_.CommitBoth();
    dm_.Src()->SetConnected(false);
    dm_.Dst()->SetConnected(false);
    return out;
  }

  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-replay"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  std::vector<std::string> dialogs_;
  TDialogResponder previous_dialogs_;
  TDialogPravaRunner previous_rights_;
};

// A visit new at the station: a daily record with a prescription, the values of the day
// and the findings of the detail tables on it, all under the station's keys.
const char* const kNewVisit =
    "insert into DENNI_ZAZNAM (ID_DENNI_ZAZNAM, ID_PACIENT, TYP, DATUM, CAS, ZALOZENI_ZAZNAMU, ID_ZADANKA, ST) select "
    "gen_id(GEN_DENNI_ZAZNAM, 1), (select min(ID_PACIENT) from PACIENT where PACIENT is not null), 1, current_date - 5, "
    "'10:11:12', current_date - 5, -1, 'I' from RDB$DATABASE;\n"
    "insert into DENNI_ZAZNAM_RECEPT (ID_DENNI_ZAZNAM_RECEPT, ID_DENNI_ZAZNAM, PORADOVE_CISLO, RECEPT, ST) values "
    "(gen_id(GEN_DENNI_ZAZNAM_RECEPT, 1), gen_id(GEN_DENNI_ZAZNAM, 0), 1, 'Rp. Amoxicilin', 'I');\n"
    "insert into DENNI_ZAZNAM_HODNOTA (ID_DENNI_ZAZNAM_HODNOTA, ID_DENNI_ZAZNAM, CAS, TEPLOTA, ST) values "
    "(gen_id(GEN_DENNI_ZAZNAM_HODNOTA, 1), gen_id(GEN_DENNI_ZAZNAM, 0), '10:15:00', 38.5, 'I');\n"
    "insert into DENNI_ZAZNAM_STOMATO (ID_DENNI_ZAZNAM, ID_PACIENT, CHRUP, ST) select gen_id(GEN_DENNI_ZAZNAM, 0), "
    "ID_PACIENT, 'mléčný', 'I' from DENNI_ZAZNAM where ID_DENNI_ZAZNAM = gen_id(GEN_DENNI_ZAZNAM, 0);\n"
    "insert into DENNI_ZAZNAM_PLAZI (ID_DENNI_ZAZNAM, ID_PACIENT, TEPLOTA_TERARIA, ST) select gen_id(GEN_DENNI_ZAZNAM, "
    "0), ID_PACIENT, 30.5, 'I' from DENNI_ZAZNAM where ID_DENNI_ZAZNAM = gen_id(GEN_DENNI_ZAZNAM, 0);\n"
    "insert into DENNI_ZAZNAM_OFTALMO (ID_DENNI_ZAZNAM, ID_PACIENT, NALEZ_OD, ST) select gen_id(GEN_DENNI_ZAZNAM, 0), "
    "ID_PACIENT, 'klidné', 'I' from DENNI_ZAZNAM where ID_DENNI_ZAZNAM = gen_id(GEN_DENNI_ZAZNAM, 0);";

// The same station data a second time: main stays as the first play left it.
TEST_F(MeldrunReplayDb, TheSameStationDataPlayedTwiceChangesNothing) {
  const Outcome first = Play(Station("first.fdb", kNewVisit));
  EXPECT_EQ(dialogs_, std::vector<std::string>{});
  // The visit arrived whole.
  for (const char* t : {"DENNI_ZAZNAM_RECEPT", "DENNI_ZAZNAM_HODNOTA", "DENNI_ZAZNAM_STOMATO", "DENNI_ZAZNAM_PLAZI",
                        "DENNI_ZAZNAM_OFTALMO"})
    EXPECT_EQ(Q1(Main(), std::string("select count(*) as V from ") + t + " x join DENNI_ZAZNAM d on "
                         "d.ID_DENNI_ZAZNAM = x.ID_DENNI_ZAZNAM where d.CAS = '10:11:12' and d.DATUM = current_date - 5"),
              "1") << t;
  EXPECT_EQ(first.save_errors, 0) << first.log;
  EXPECT_GT(first.saved, 0);
  const std::string after_first = PracticeDump(Main());
  dialogs_.clear();

  const Outcome again = Play(Station("again.fdb", kNewVisit));
  EXPECT_EQ(again.save_errors, 0) << again.log;
  EXPECT_EQ(again.convert_errors, 0) << again.log;
  EXPECT_EQ(again.saved, 0) << again.log;
  EXPECT_EQ(dialogs_, std::vector<std::string>{});
  EXPECT_EQ(again.errors, std::vector<std::string>{});
  const std::string after_again = PracticeDump(Main());
  EXPECT_TRUE(after_again == after_first) << PracticeDumpDiff(after_first, after_again);
}

// Two coprology results of one patient on one day, both new at the station: two rows in
// main with their own results. Played again, they stay two rows as they were.
TEST_F(MeldrunReplayDb, TwoResultsOfOnePatientOnOneDayBothArrive) {
  const std::string patient = Q1(PlayPractice::Source() + "/st.fdb",
                                 "select first 1 PACIENT as V from PACIENT where PACIENT is not null order by ID_PACIENT");
  const std::string id = Q1(PlayPractice::Source() + "/st.fdb",
                            "select ID_PACIENT as V from PACIENT where PACIENT = '" + patient + "'");
  const std::string rows =
      "insert into KOPROLOGIE (ID_KOPROLOGIE, ID_PACIENT, VYSLEDEK, ZALOZENI_ZAZNAMU, ID_DOKLAD_POLOZKA, ST) values "
      "(gen_id(GEN_KOPROLOGIE, 1), " + id + ", 'negativní', '2026-05-20', -1, 'I');\n"
      "insert into KOPROLOGIE (ID_KOPROLOGIE, ID_PACIENT, VYSLEDEK, ZALOZENI_ZAZNAMU, ID_DOKLAD_POLOZKA, ST) values "
      "(gen_id(GEN_KOPROLOGIE, 1), " + id + ", 'pozitivní: Toxocara', '2026-05-20', -1, 'I');";
  const std::string results =
      "select cast(list(K.VYSLEDEK, ';') as varchar(300)) as V from (select K.VYSLEDEK from KOPROLOGIE K join PACIENT P on "
      "K.ID_PACIENT = P.ID_PACIENT where P.PACIENT = '" + patient + "' and K.ZALOZENI_ZAZNAMU = '2026-05-20' order by "
      "K.VYSLEDEK) K";
  ASSERT_EQ(Q1(Main(), results), "<null>");

  // The coprology table whole, and its generator.
  const auto table = [this] {
    std::vector<std::string> v = Qn(Main(),
                                    "select ID_KOPROLOGIE||'|'||coalesce(ID_PACIENT, '')||'|'||coalesce(VYSLEDEK, '')||'|'||"
                                    "coalesce(ZALOZENI_ZAZNAMU, '')||'|'||coalesce(ID_DOKLAD_POLOZKA, '') as V from "
                                    "KOPROLOGIE order by ID_KOPROLOGIE");
    v.push_back(Q1(Main(), "select gen_id(GEN_KOPROLOGIE, 0) as V from RDB$DATABASE"));
    return v;
  };

  const Outcome first = Play(Station("first.fdb", rows));
  EXPECT_EQ(first.save_errors, 0) << first.log;
  EXPECT_EQ(Q1(Main(), results), "negativní;pozitivní: Toxocara");
  const std::vector<std::string> after_first = table();

  const Outcome again = Play(Station("again.fdb", rows));
  EXPECT_EQ(again.save_errors, 0) << again.log;
  EXPECT_EQ(Q1(Main(), results), "negativní;pozitivní: Toxocara");
  EXPECT_EQ(table(), after_first);
}

}  // namespace
}  // namespace pelvar::test
