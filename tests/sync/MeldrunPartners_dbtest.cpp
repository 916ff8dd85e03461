// The partner, patient, examination, variant, template and case steps of the play-in
// against Firebird 3 on practice databases from tools/practice: two stations that
// created the same client and one that changed a client of main leave one client with
// its patients and cases; a station of schema 200628 plays; the default case, the
// removal of abandoned patients, deposits of 100,000.00 and more, a second work-flow
// cycle and rows whose play failed. Every run is checked by the integrity check of
// play_integrity.h with these tables' references.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/dialogs.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_integrity.h"
#include "play_integrity_partners.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class MeldrunPartnersDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }
  void SetUp() override {
    previous_ = SetDialogResponder([](const TDialogRequest& r) { return r.CancelResult; });
    fs::current_path(dir_.Path());
    form_.Auto = true;
  }
  void TearDown() override {
    SetDialogResponder(previous_);
    fs::current_path(before_);
  }

  std::string Main() const { return dir_.File("main.fdb"); }
  std::string Station() const { return dir_.File("st.fdb"); }
  // Statements on a file that no connection holds.
  static void Exec(const std::string& db, const std::string& script) {
    const CommandResult r = RunIsql("set autoddl on;\n" + script + "\ncommit;\n", db);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    ASSERT_EQ(r.output.find("Statement failed"), std::string::npos) << r.output;
  }

  void Connect(int32_t version, int32_t cycle = 0, bool last = true) {
    dm_.OpenDst(Main(), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(Station(), AdministratorUser, AdministratorPassword);
    dm_.InitStationLists(1);
    dm_.CommitAfter = 900;
    dm_.CycleIndex = cycle;
    dm_.IsLastCycle = last;
    dm_.LowestVersion = version;
  }
  void Disconnect() {
    dm_.CommitBoth();
    dm_.Src()->SetConnected(false);
    dm_.Dst()->SetConnected(false);
  }
  std::unique_ptr<TMeldrun> Play(bool org = true) {
    auto m = std::make_unique<TMeldrun>();
    m->OrgStruktura = org;
    m->Zaklad = m->Ciselniky = m->Karty = m->ExPartner = m->ExPacient = true;
    m->Execute();
    return m;
  }
  // One station played with every option; integrity checked (rows, generators and
  // marks of this group's tables; the references of everything played so far).
  void PlayChecked(int32_t version) {
    PlayIntegrity integrity(Main(), Station(), PartnerAndCaseTables(), {});
    integrity.Snapshot();
    marked_natural_ = Qn(Station(), kMarkedNatural);
    Connect(version);
    auto m = Play();
    EXPECT_EQ(m->GetInitErrorCount(), 0);
    // A row that fails to play, or is refused, is counted and stays marked for the next run.
    size_t failed = 0;
    for (const auto& [table, keys] : m->FailedRows()) failed += keys.size();
    EXPECT_LE(failed, static_cast<size_t>(m->GetConvertErrorCount() + m->GetSaveErrorCount() +
                                          m->GetSkippedCount()))
        << ImportLog();
    for (int32_t n : {22, 23, 24, 25, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 38, 40, 41})
      EXPECT_NE(std::find(m->PlayedSteps().begin(), m->PlayedSteps().end(), n), m->PlayedSteps().end()) << n;
    const auto kept = m->FailedRows();
    m.reset();
    Disconnect();
    for (const std::string& p : integrity.Check())
      if (!MergedOrDeactivated(p)) ADD_FAILURE() << p;
    for (const std::string& p : DanglingRefs(Main(), RefsUpToCases())) ADD_FAILURE() << p;
    for (const std::string& t : PartnerAndCaseTables()) {
      const auto it = kept.find(t);
      EXPECT_EQ(Q1(Station(), "select count(*) as V from " + t + " where ST is not null"),
                std::to_string(it == kept.end() ? 0 : it->second.size()))
          << t;
    }
  }

  // A main row the check finds changed though the station had not marked its key: one
  // that a station row merged into by natural key (under another station key), or a case
  // that a played active case made inactive.
  bool MergedOrDeactivated(const std::string& problem) const {
    const auto row = problem.find(" row ");
    if (row == std::string::npos || problem.find("changed though") == std::string::npos) return false;
    const std::string table = problem.substr(0, row);
    const std::string key = problem.substr(row + 5, problem.find(' ', row + 5) - row - 5);
    if (table == "PRIPAD" && Q1(Main(), "select AKTIVNI as V from PRIPAD where ID_PRIPAD = " + key) == "N") return true;
    if (table != "PRIPAD" && table != "PARTNER" && table != "PACIENT" && table != "VARIANTA") return false;
    const std::string natural =
        table == "PRIPAD"
            ? Q1(Main(), "select 'PRIPAD|' || a.PACIENT || '|' || p.PRIPAD as V from PRIPAD p join PACIENT a on "
                         "a.ID_PACIENT = p.ID_PACIENT where p.ID_PRIPAD = " + key)
            : Q1(Main(), "select '" + table + "|' || " + table + " as V from " + table + " where ID_" + table + " = " + key);
    return std::find(marked_natural_.begin(), marked_natural_.end(), natural) != marked_natural_.end();
  }

  static std::string ImportLog() {
    std::ifstream in("Import.txt");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  // The natural keys of the station's marked partners, patients, variants and cases.
  static constexpr const char* kMarkedNatural =
      "select 'PARTNER|' || PARTNER as V from PARTNER where ST is not null union all select 'PACIENT|' || PACIENT "
      "from PACIENT where ST is not null union all select 'VARIANTA|' || VARIANTA from VARIANTA where ST is not null "
      "union all select 'PRIPAD|' || a.PACIENT || '|' || p.PRIPAD from PRIPAD p join PACIENT a on a.ID_PACIENT = "
      "p.ID_PACIENT where p.ST is not null";
  std::vector<std::string> marked_natural_;
  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-partners"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  TDialogResponder previous_;
};

// The shared client PX900001 owns the shared patient AX900001 at both stations, and
// both gave it the case "Kontrola".
constexpr const char* kSharedClient =
    "update PACIENT set ID_PARTNER = 20 where PACIENT = 'AX900001';\n"
    "insert into PRIPAD (ID_PACIENT, PRIPAD, AKTIVNI, HOSPITALIZACE, POPIS, ST) values (31, 'Kontrola', 'A', 'N', "
    "'%s', 'I');";

std::string Shared(const char* text) {
  std::string s = kSharedClient;
  s.replace(s.find("%s"), 2, text);
  return s;
}

TEST_F(MeldrunPartnersDb, TwoStationsThatCreatedTheSameClientLeaveOneClientWithItsPatientsAndCases) {
  PlayPractice::CopyTo("main.fdb", Main());
  PlayPractice::CopyTo("st.fdb", Station());
  Exec(Station(), Shared("first"));
  const std::string phone = Q1(Station(), "select TELEFON as V from PARTNER where PARTNER = 'P000005'");
  PlayChecked(200824);
  // The station's change of a client main has reached main.
  EXPECT_EQ(Q1(Main(), "select TELEFON as V from PARTNER where PARTNER = 'P000005'"), phone);

  PlayPractice::CopyTo("st624.fdb", Station());
  Exec(Station(), Shared("second"));
  PlayChecked(200624);

  EXPECT_EQ(Q1(Main(), "select count(*) as V from PARTNER where PARTNER = 'PX900001'"), "1");
  const std::string client = Q1(Main(), "select ID_PARTNER as V from PARTNER where PARTNER = 'PX900001'");
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PACIENT where PACIENT = 'AX900001'"), "1");
  EXPECT_EQ(Q1(Main(), "select ID_PARTNER as V from PACIENT where PACIENT = 'AX900001'"), client);
  const std::string patient = Q1(Main(), "select ID_PACIENT as V from PACIENT where PACIENT = 'AX900001'");
  // One default case, the patient points at it; one "Kontrola", merged with the second
  // station's text, and active.
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PRIPAD where AKTIVNI = 'O' and ID_PACIENT = " + patient), "1");
  EXPECT_EQ(Q1(Main(), "select ID_TABLE_STATUS as V from PACIENT where ID_PACIENT = " + patient),
            Q1(Main(), "select ID_PRIPAD as V from PRIPAD where AKTIVNI = 'O' and ID_PACIENT = " + patient));
  EXPECT_EQ(Qn(Main(), "select POPIS || AKTIVNI as V from PRIPAD where PRIPAD = 'Kontrola' and ID_PACIENT = " + patient),
            std::vector<std::string>{"secondA"});
  // The patients each station created with their own codes all belong to main clients.
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PACIENT where PACIENT like 'AS%'"), "10");
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PRIPAD c join PACIENT p on p.ID_PACIENT = c.ID_PACIENT where "
                       "p.PACIENT like 'AS%' and c.AKTIVNI = 'O'"),
            "10");
}

TEST_F(MeldrunPartnersDb, AStationOfSchema200628PlaysWithoutTheTablesItLacks) {
  PlayPractice::CopyTo("main.fdb", Main());
  PlayPractice::CopyTo("st.fdb", Station());
  std::ifstream in(Fixture("practice_version_200628.sql"));
  std::stringstream script;
  script << in.rdbuf();
  const CommandResult r = RunIsql(script.str(), Station());
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(Q1(Station(), "select count(*) as V from RDB$RELATIONS where RDB$RELATION_NAME = 'LAB_VAZBY'"), "0");
  PlayChecked(200628);
}

// Deposits of a partner in main and station, keyed apart; the payments use them.
constexpr const char* kFaultsMain =
    "insert into PACIENT (ID_PACIENT, ID_PARTNER, JMENO) values (9000, 5, 'bez kódu');\n"
    "insert into PARTNER_ZALOHA (ID_PARTNER_ZALOHA, ID_PARTNER, CASTKA, DATUM, POZNAMKA) values (9000, 5, 123456.78, "
    "'2026-06-01', 'main');\n"
    "alter table PARTNER_BANKA add constraint CHK_PB_TEST check (BANKA is null or BANKA <> 'ZZZZ');";
constexpr const char* kFaultsStation =
    "insert into PACIENT (ID_PACIENT, ID_PARTNER, JMENO, ST) values (9001, 5, 'bez kódu', 'I');\n"
    "insert into PACIENT (ID_PACIENT, ID_PARTNER, PACIENT, JMENO, ID_ZALOZIL, ZALOZENI_ZAZNAMU, ST) values (9002, 5, "
    "'O''B1', 'Rex', 1, '2026-06-01', 'I');\n"
    "insert into PARTNER_ZALOHA (ID_PARTNER_ZALOHA, ID_PARTNER, CASTKA, DATUM, POZNAMKA, ST) values (9100, 5, "
    "123456.78, '2026-06-01', 'station', 'U');\n"
    "insert into PARTNER_ZALOHA (ID_PARTNER_ZALOHA, ID_PARTNER, CASTKA, DATUM, POZNAMKA, ST) values (9101, 5, "
    "250000.00, '2026-06-02', 'new', 'I');\n"
    "insert into PARTNER_ZALOHA_CERPANI (ID_PARTNER_ZALOHA_CERPANI, ID_PARTNER_ZALOHA, DOKLAD, CASTKA, DATUM, ST) "
    "values (9200, 9100, 'D1', 100, '2026-06-03', 'I');\n"
    "insert into PARTNER_ZALOHA_CERPANI (ID_PARTNER_ZALOHA_CERPANI, ID_PARTNER_ZALOHA, DOKLAD, CASTKA, DATUM, ST) "
    "values (9201, 9101, 'D2', 200, '2026-06-03', 'I');\n"
    "insert into PARTNER_BANKA (ID_PARTNER_BANKA, ID_PARTNER, PARTNER_BANKA, BANKA, ST) values (9300, 5, 'X-9300', "
    "'ZZZZ', 'I');";

TEST_F(MeldrunPartnersDb, PatientsDepositsCyclesAndFailedRowsKeepWhatTheyMust) {
  PlayPractice::CopyTo("main.fdb", Main());
  PlayPractice::CopyTo("st.fdb", Station());
  Exec(Main(), kFaultsMain);
  Exec(Station(), kFaultsStation);
  const std::string gen = Q1(Main(), "select gen_id(GEN_PARTNER_ZALOHA, 0) as V from RDB$DATABASE");

  // Two work-flow cycles: the deposits' new-key column exists in the second already.
  Connect(200824, 0, false);
  auto first = Play(false);
  EXPECT_GE(first->GetSaveErrorCount(), 1);
  EXPECT_EQ(first->FailedRows().at("PARTNER_BANKA"), std::vector<AnsiString>{"9300"});
  first.reset();
  dm_.CycleIndex = 1;
  dm_.IsLastCycle = true;
  auto second = std::make_unique<TMeldrun>();
  second->ExPartner = true;
  EXPECT_NO_THROW(second->Execute());
  EXPECT_NE(std::find(second->PlayedSteps().begin(), second->PlayedSteps().end(), 40), second->PlayedSteps().end());
  second.reset();
  Disconnect();

  // Only the patient without a code that this run wrote is gone; the user's stays.
  EXPECT_EQ(Qn(Main(), "select ID_PACIENT as V from PACIENT where PACIENT is null and ID_PACIENT > -1"),
            std::vector<std::string>{"9000"});
  // A code with an apostrophe gets its one default case, and points at it.
  const std::string patient = Q1(Main(), "select ID_PACIENT as V from PACIENT where PACIENT = 'O''B1'");
  ASSERT_NE(patient.find_first_not_of("0123456789"), 0u) << patient;
  EXPECT_EQ(Qn(Main(), "select PRIPAD || '|' || AKTIVNI || HOSPITALIZACE || '|' || ID_ZALOZIL || '|' || "
                       "ZALOZENI_ZAZNAMU as V from PRIPAD where ID_PACIENT = " + patient),
            std::vector<std::string>{"Nezařazené návštěvy|ON|1|2026-06-01"});
  EXPECT_EQ(Q1(Main(), "select ID_TABLE_STATUS as V from PACIENT where ID_PACIENT = " + patient),
            Q1(Main(), "select ID_PRIPAD as V from PRIPAD where ID_PACIENT = " + patient));

  // The deposit of 123,456.78 is found in main by partner, amount and day, and merged.
  EXPECT_EQ(Qn(Main(), "select ID_PARTNER_ZALOHA || POZNAMKA as V from PARTNER_ZALOHA where CASTKA = 123456.78"),
            std::vector<std::string>{"9000station"});
  EXPECT_EQ(Q1(Station(), "select ID_PARTNER_ZALOHA_NEW as V from PARTNER_ZALOHA where ID_PARTNER_ZALOHA = 9100"),
            "9000");
  const std::string fresh = Q1(Main(), "select ID_PARTNER_ZALOHA as V from PARTNER_ZALOHA where CASTKA = 250000");
  EXPECT_GT(std::stoll(fresh), std::stoll(gen));
  EXPECT_EQ(Q1(Station(), "select ID_PARTNER_ZALOHA_NEW as V from PARTNER_ZALOHA where ID_PARTNER_ZALOHA = 9101"),
            fresh);
  // Payments take the deposits' main keys.
  EXPECT_EQ(Q1(Main(), "select ID_PARTNER_ZALOHA as V from PARTNER_ZALOHA_CERPANI where DOKLAD = 'D1'"), "9000");
  EXPECT_EQ(Q1(Main(), "select ID_PARTNER_ZALOHA as V from PARTNER_ZALOHA_CERPANI where DOKLAD = 'D2'"), fresh);

  // The account main refused stays marked for the next run; the others are cleared.
  EXPECT_EQ(Qn(Station(), "select ID_PARTNER_BANKA as V from PARTNER_BANKA where ST is not null"),
            std::vector<std::string>{"9300"});
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PARTNER_BANKA where PARTNER_BANKA = 'X-9300'"), "0");
}

}  // namespace
}  // namespace pelvar::test
