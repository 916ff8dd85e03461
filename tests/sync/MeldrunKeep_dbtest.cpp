// What a station changed is never lost without a trace: against Firebird 3 on the
// practice of tools/practice (one station at the current schema, played with every
// option into a working copy of main), with the rows that show each case added by SQL:
// - a row main refuses (a trigger raises) stays marked at the station, in every kind of
//   step (a table of steps: code lists, details, reports, laboratory items keyed by two
//   columns, a code list read without its key);
// - a marked row whose parent is gone on the station (a patient without its partner, a
//   coprology row without its patient, a daily record without its patient, an item
//   without its document) is counted, logged with the parent it misses, stays marked;
// - a patient or a partner without a code is not written, is logged and stays marked;
// - a document without a number is refused with its item, listed, and stays marked;
// - bank-statement items arrive in main like the other document items;
// - main keeps no station's change mark;
// - every line of "Import.txt" is one event, whatever bytes a logged row holds.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
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
  const CommandResult r = RunIsql("set term ^ ;\n" + script + "\nset term ; ^\ncommit;\n", db);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(r.output.find("Statement failed"), std::string::npos) << r.output;
}

// A station patient whose code main has (the row every added child hangs on).
const char* const kPatient = "(select min(ID_PACIENT) from PACIENT where PACIENT > '' and ID_PACIENT > 0)";

// A row main refuses: the station row added, the main trigger's condition on the new row.
struct RefusedCase {
  const char* table;
  const char* station_insert;  // adds the marked station row
  const char* refused_when;    // condition on NEW in main's trigger
  const char* station_row;     // selects the added row at the station
};

const RefusedCase kRefused[] = {
    {"DIAGNOZA",
     "insert into DIAGNOZA (ID_DIAGNOZA, DIAGNOZA, DIAGNOZA_NAZEV, ST) values (990001, 'ODM-D', 'ODMITNOUT', 'I')",
     "new.DIAGNOZA_NAZEV = 'ODMITNOUT'", "ID_DIAGNOZA = 990001"},
    // A code list read without its key: the row is told apart by its values.
    {"PSC", "insert into PSC (ID_PSC, PSC, PSC_NAZEV, ST) values (990001, '99901', 'ODMITNOUT', 'I')",
     "new.PSC_NAZEV = 'ODMITNOUT'", "ID_PSC = 990001"},
    {"KOPROLOGIE",
     "insert into KOPROLOGIE (ID_KOPROLOGIE, ID_PACIENT, VYSLEDEK, ZALOZENI_ZAZNAMU, ST) values (990001, {P}, "
     "'ODMITNOUT', '2026-06-14', 'I')",
     "new.VYSLEDEK = 'ODMITNOUT'", "ID_KOPROLOGIE = 990001"},
    {"VAKCINACE_ODCERVENI",
     "insert into VAKCINACE_ODCERVENI (ID_VAKCINACE_ODCERVENI, ID_PACIENT, VARIANTA, DATUM, SARZE, ST) values "
     "(990001, {P}, 'ODM-V', '2026-06-14', 'ODMITNOUT', 'I')",
     "new.SARZE = 'ODMITNOUT'", "ID_VAKCINACE_ODCERVENI = 990001"},
    {"ZPRAVA",
     "insert into ZPRAVA (ID_ZPRAVA, ID_PACIENT, DATUM, HLAVICKA, ST) values (990001, {P}, '2026-06-14', "
     "'ODMITNOUT', 'I')",
     "new.HLAVICKA = 'ODMITNOUT'", "ID_ZPRAVA = 990001"},
    // Laboratory items are keyed by their head and their own number.
    {"LABVD",
     "insert into LABVH (ID_LABVH, ID_PACIENT, NAZEV, DATUM, ST) values (990001, {P}, 'Hlava', '2026-06-14', 'I');\n"
     "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK, ST) values (990001, 1, 'K1', 'ODMITNOUT', 'I');\n"
     "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK, ST) values (990001, 2, 'K2', 'v poradku', 'I')",
     "new.VYSLEDEK = 'ODMITNOUT'", "ID_LABVH = 990001 and ID_LABVD = 1"},
};

// A marked row whose parent is gone on the station.
struct OrphanCase {
  const char* table;
  const char* station_insert;
  const char* station_row;
  const char* missing;  // the parent the log line names
};

const OrphanCase kOrphans[] = {
    {"PACIENT",
     "insert into PACIENT (ID_PACIENT, ID_PARTNER, PACIENT, JMENO, ST) values (990101, 990999, 'SIROTEK', 'Bez "
     "majitele', 'I')",
     "ID_PACIENT = 990101", "PARTNER, ID_PARTNER = 990999"},
    {"KOPROLOGIE",
     "insert into KOPROLOGIE (ID_KOPROLOGIE, ID_PACIENT, VYSLEDEK, ZALOZENI_ZAZNAMU, ST) values (990101, 990998, "
     "'bez pacienta', '2026-06-14', 'I')",
     "ID_KOPROLOGIE = 990101", "PACIENT, ID_PACIENT = 990998"},
    {"DENNI_ZAZNAM",
     "insert into DENNI_ZAZNAM (ID_DENNI_ZAZNAM, ID_PACIENT, DATUM, ST) values (990101, 990998, '2026-06-14', 'I')",
     "ID_DENNI_ZAZNAM = 990101", "PACIENT, ID_PACIENT = 990998"},
    {"DOKLAD_POLOZKA_UM",
     "insert into DOKLAD_POLOZKA_UM (ID_DOKLAD_POLOZKA, ID_DOKLAD, TEXT, ST) values (990101, 990997, 'bez dokladu', "
     "'I')",
     "ID_DOKLAD_POLOZKA = 990101", "DOKLAD, ID_DOKLAD = 990997"},
};

std::string Replace(std::string text, const std::string& what, const std::string& with) {
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
    text.replace(at, what.size(), with);
  return text;
}

// The lines of a log (UTF-8) that mention the table after a label.
std::vector<std::string> LinesOf(const std::string& log, const std::string& table) {
  std::vector<std::string> out;
  for (size_t from = 0; from < log.size();) {
    size_t end = log.find('\n', from);
    if (end == std::string::npos) end = log.size();
    const std::string line = log.substr(from, end - from);
    if (line.find(": " + table + ",") != std::string::npos || line.find(": " + table + "-") != std::string::npos)
      out.push_back(line);
    from = end + 1;
  }
  return out;
}

class MeldrunKeepDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }
  void SetUp() override {
    fs::current_path(dir_.Path());
    PlayPractice::CopyTo("main.fdb", Main());
    PlayPractice::CopyTo("st.fdb", Station());
    previous_dialogs_ = SetDialogResponder([](const TDialogRequest& r) { return r.CancelResult; });
    previous_rights_ = SetDialogPravaRunner([](TFrmDialogPrava&) {});
  }
  void TearDown() override {
    SetDialogPravaRunner(previous_rights_);
    SetDialogResponder(previous_dialogs_);
    fs::current_path(before_);
  }
  std::string Main() const { return dir_.File("main.fdb"); }
  std::string Station() const { return dir_.File("st.fdb"); }

  struct Outcome {
    int32_t saved = 0, skipped = 0, failed = 0;
    std::string log;  // Import.txt, UTF-8
  };
  // One engine with every option, one work-flow cycle, the current schema.
  Outcome Play() {
    form_.Auto = true;
    dm_.OpenDst(Main(), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(Station(), AdministratorUser, AdministratorPassword);
    dm_.InitStationLists(1);
    dm_.CommitAfter = 900;
    dm_.CycleIndex = 0;
    dm_.IsLastCycle = true;
    dm_.LowestVersion = 200824;
    Outcome out;
    {
      auto m = std::make_unique<TMeldrun>();
      m->Zaklad = m->ExPartner = m->ExPacient = m->Karty = m->Doklady = m->Uzaverky = m->Ciselniky =
          m->OrgStruktura = true;
      m->Execute();
      out.saved = m->GetSavedCount();
      out.skipped = m->GetSkippedCount();
      out.failed = m->GetConvertErrorCount() + m->GetSaveErrorCount();
    }
    out.log = AnsiToUtf8(ReadFile("Import.txt"));
    dm_.CommitBoth();
    dm_.Src()->SetConnected(false);
    dm_.Dst()->SetConnected(false);
    return out;
  }
  std::string StationMark(const std::string& table, const std::string& row) {
    return Q1(Station(), "select coalesce(ST, 'none') as V from " + table + " where " + row);
  }

  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-meldrun-keep"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  TDialogResponder previous_dialogs_;
  TDialogPravaRunner previous_rights_;
};

TEST_F(MeldrunKeepDb, ARowMainRefusesStaysMarkedInEveryStep) {
  std::string main_script = "create exception E_ODMITNUTO 'refused by main'^\n";
  std::string station_script;
  for (const RefusedCase& c : kRefused) {
    main_script += std::string("create trigger T_ODMITNI_") + c.table + " for " + c.table +
                   " before insert or update as begin if (" + c.refused_when +
                   ") then exception E_ODMITNUTO; end^\n";
    station_script += Replace(c.station_insert, "{P}", kPatient) + "^\n";
  }
  Exec(Main(), main_script);
  Exec(Station(), Replace(station_script, ";\n", "^\n"));

  const Outcome run = Play();
  for (const RefusedCase& c : kRefused) {
    SCOPED_TRACE(c.table);
    // Still marked at the station, so that the next run plays it again...
    EXPECT_EQ(StationMark(c.table, c.station_row), "I");
    // ...the only mark of its table left, and reported as a failure.
    EXPECT_EQ(Q1(Station(), std::string("select count(*) as V from ") + c.table + " where ST is not null"), "1");
    const auto lines = LinesOf(run.log, c.table);
    bool failure = false;
    for (const std::string& l : lines) failure = failure || l.rfind("Chyba", 0) == 0;
    EXPECT_TRUE(failure) << run.log;
  }
  // The laboratory item beside the refused one arrived.
  EXPECT_EQ(Q1(Main(), "select count(*) as V from LABVD where VYSLEDEK = 'v poradku'"), "1");
  EXPECT_GE(run.failed, static_cast<int32_t>(std::size(kRefused)));
}

TEST_F(MeldrunKeepDb, RowsWhoseParentIsGoneOnTheStationAreCountedLoggedAndStayMarked) {
  std::string script;
  for (const OrphanCase& c : kOrphans) script += std::string(c.station_insert) + "^\n";
  Exec(Station(), script);

  const Outcome run = Play();
  for (const OrphanCase& c : kOrphans) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(StationMark(c.table, c.station_row), "I");
    bool logged = false;
    for (const std::string& l : LinesOf(run.log, c.table))
      logged = logged || (l.rfind("Přeskočeno", 0) == 0 && l.find(c.missing) != std::string::npos &&
                          l.find("990101 | ") != std::string::npos);
    EXPECT_TRUE(logged) << run.log;
  }
  EXPECT_GE(run.skipped, static_cast<int32_t>(std::size(kOrphans)));
}

TEST_F(MeldrunKeepDb, PatientsAndPartnersWithoutACodeAreNotWrittenButLoggedAndStayMarked) {
  // Main holds a partner without a code of its own.
  Exec(Main(), "insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV) values (990200, null, 'Hlavni bez kodu')^");
  Exec(Station(),
       "insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV, ST) values (990201, '', 'Stanice bez kodu', 'I')^\n"
       "insert into PACIENT (ID_PACIENT, ID_PARTNER, PACIENT, JMENO, ST) values (990202, (select min(ID_PARTNER) from "
       "PARTNER where PARTNER > ''), null, 'Bez kodu', 'I')^");
  const int32_t main_patients = std::stoi(Q1(Main(), "select count(*) as V from PACIENT"));

  const Outcome run = Play();
  EXPECT_EQ(StationMark("PARTNER", "ID_PARTNER = 990201"), "I");
  EXPECT_EQ(StationMark("PACIENT", "ID_PACIENT = 990202"), "I");
  // Neither is in main; main's own partner kept its values.
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PARTNER where PARTNER_NAZEV = 'Stanice bez kodu'"), "0");
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PACIENT where JMENO = 'Bez kodu'"), "0");
  EXPECT_EQ(Q1(Main(), "select PARTNER_NAZEV as V from PARTNER where ID_PARTNER = 990200"), "Hlavni bez kodu");
  // Logged with the reason, and the patient was not counted as written: the main
  // patients grew by no more than the saved rows of the patient step.
  bool partner_logged = false, patient_logged = false;
  for (const std::string& l : LinesOf(run.log, "PARTNER"))
    partner_logged = partner_logged || (l.rfind("Přeskočeno", 0) == 0 && l.find("Stanice bez kodu") != std::string::npos &&
                                        l.find("partner nemá kód") != std::string::npos);
  for (const std::string& l : LinesOf(run.log, "PACIENT"))
    patient_logged = patient_logged || (l.rfind("Přeskočeno", 0) == 0 && l.find("Bez kodu") != std::string::npos &&
                                        l.find("pacient nemá kód") != std::string::npos);
  EXPECT_TRUE(partner_logged) << run.log;
  EXPECT_TRUE(patient_logged) << run.log;
  EXPECT_GE(std::stoi(Q1(Main(), "select count(*) as V from PACIENT")), main_patients);
}

// A station document without a number (a new one, and one whose number the station
// emptied) cannot be told from main's documents: it is refused with its item, listed in
// the error list, and stays marked; main gets no numberless duplicate.
TEST_F(MeldrunKeepDb, ADocumentWithoutANumberIsRefusedListedAndStaysMarked) {
  const std::string emptied =
      Q1(Station(), "select min(ID_DOKLAD) as V from DOKLAD where ST is null and DOKLAD > '' and not exists (select 1 "
                    "from DENNI_ZAZNAM z where z.ID_DOKLAD = DOKLAD.ID_DOKLAD)");
  const std::string emptied_number = Q1(Station(), "select DOKLAD as V from DOKLAD where ID_DOKLAD = " + emptied);
  Exec(Station(),
       "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_DRUH_DOKLADU, ZALOZENI_ZAZNAMU, ST) values (990401, "
       "null, 'FA', 1110, '2026-06-14', 'I')^\n"
       "insert into DOKLAD_POLOZKA_FA (ID_DOKLAD_POLOZKA, ID_DOKLAD, TEXT, ZALOZENI_ZAZNAMU, ST) values (990402, "
       "990401, 'Polozka bez cisla', '2026-06-14', 'I')^\n"
       "update DOKLAD set DOKLAD = '', ST = 'U' where ID_DOKLAD = " + emptied + "^");
  const std::string numberless = "select count(*) as V from DOKLAD where coalesce(DOKLAD, '') = ''";
  const std::string main_numberless = Q1(Main(), numberless);

  Play();
  EXPECT_EQ(StationMark("DOKLAD", "ID_DOKLAD = 990401"), "I");
  EXPECT_EQ(StationMark("DOKLAD", "ID_DOKLAD = " + emptied), "U");
  EXPECT_EQ(StationMark("DOKLAD_POLOZKA_FA", "ID_DOKLAD_POLOZKA = 990402"), "I");
  EXPECT_EQ(Q1(Main(), numberless), main_numberless);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD_POLOZKA_FA where TEXT = 'Polozka bez cisla'"), "0");
  // Main's document of the number the station emptied is still main's.
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD where DOKLAD = '" + emptied_number + "'"), "1");
  int32_t listed = 0;
  for (int32_t i = 0; i < dm_.ErrorList().Count(); ++i)
    if (AnsiToUtf8(dm_.ErrorList().Strings(i)).rfind("doklad nemá číslo zdrojová data: ", 0) == 0) ++listed;
  EXPECT_EQ(listed, 2) << AnsiToUtf8(dm_.ErrorList().Text());
}

TEST_F(MeldrunKeepDb, BankStatementItemsArriveLikeTheOtherItems) {
  // A bank-statement item of a document that also has an account item, made from it.
  Exec(Station(),
       "insert into DOKLAD_POLOZKA_BV select * from DOKLAD_POLOZKA_UM where ID_DOKLAD_POLOZKA = (select "
       "min(ID_DOKLAD_POLOZKA) from DOKLAD_POLOZKA_UM where ST is not null)^\n"
       "update DOKLAD_POLOZKA_BV set ID_DOKLAD_POLOZKA = 990301, TEXT = 'Vypis 1', ST = 'I' where ID_DOKLAD_POLOZKA = "
       "(select min(ID_DOKLAD_POLOZKA) from DOKLAD_POLOZKA_UM where ST is not null)^");
  const std::string document =
      Q1(Station(), "select D.DOKLAD || '/' || D.TYP_DOKLADU as V from DOKLAD_POLOZKA_BV B join DOKLAD D on "
                    "D.ID_DOKLAD = B.ID_DOKLAD where B.ID_DOKLAD_POLOZKA = 990301");
  const std::string marked = Q1(Station(), "select count(*) as V from DOKLAD_POLOZKA_BV where ST is not null");
  ASSERT_NE(marked, "1");  // the practice's own marked items play as well

  Play();
  // In main under a key of its own, on main's document of the same number and kind.
  EXPECT_EQ(Qn(Main(), "select D.DOKLAD || '/' || D.TYP_DOKLADU as V from DOKLAD_POLOZKA_BV B join DOKLAD D on "
                       "D.ID_DOKLAD = B.ID_DOKLAD where B.TEXT = 'Vypis 1'"),
            std::vector<std::string>{document});
  EXPECT_EQ(StationMark("DOKLAD_POLOZKA_BV", "ID_DOKLAD_POLOZKA = 990301"), "none");
  EXPECT_EQ(Q1(Station(), "select count(*) as V from DOKLAD_POLOZKA_BV where ST is not null"), "0");
  EXPECT_GE(std::stoi(Q1(Main(), "select count(*) as V from DOKLAD_POLOZKA_BV")), std::stoi(marked));
}

TEST_F(MeldrunKeepDb, MainKeepsNoStationsChangeMark) {
  // The main rows marked before the play (main's own) and after it, table by table.
  const auto marked = [](const std::string& db) {
    std::string script = "set list on;\n";
    const PlaySchema schema = PlaySchema::Read(db);
    for (const auto& [table, t] : schema.tables) {
      if (!schema.HasColumn(table, "ST") || t.key.empty()) continue;
      script += "select '" + table + ":' || " + t.key + " as V from " + table + " where ST is not null;\n";
    }
    const CommandResult r = RunIsql(script, db);
    EXPECT_EQ(r.exit_code, 0) << r.output;
    const auto values = ListValues(r.output, "V");
    return std::set<std::string>(values.begin(), values.end());
  };
  const auto before = marked(Main());
  Play();
  std::vector<std::string> new_marks;
  for (const std::string& m : marked(Main()))
    if (!before.count(m)) new_marks.push_back(m);
  EXPECT_EQ(new_marks, std::vector<std::string>{});
}

TEST_F(MeldrunKeepDb, EveryLineOfTheLogIsOneEvent) {
  // A file with bytes that would break a line, and a note with a line break, on a row
  // whose patient is gone: the row is logged whole.
  Exec(Station(),
       "insert into SOUBOR (ID_SOUBOR, ID_PACIENT, POPIS, DATUM, SOUBOR, ST) values (990401, 990998, 'priloha', "
       "'2026-06-14', x'0D0A000D0AFF41', 'I')^\n"
       "insert into ZPRAVA (ID_ZPRAVA, ID_PACIENT, DATUM, HLAVICKA, TEXT, ST) values (990401, 990998, '2026-06-14', "
       "'hlavicka', 'radek 1' || ascii_char(13) || ascii_char(10) || 'radek 2', 'I')^");
  const Outcome run = Play();
  const std::string raw = ReadFile("Import.txt");
  // Each line ends in CR LF and starts with a label.
  size_t lines = 0;
  for (size_t from = 0; from < raw.size(); ++lines) {
    const size_t end = raw.find("\r\n", from);
    ASSERT_NE(end, std::string::npos);
    const std::string line = AnsiToUtf8(raw.substr(from, end - from));
    EXPECT_EQ(line.find('\r'), std::string::npos) << line;
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    EXPECT_TRUE(line.rfind("Chyba", 0) == 0 || line.rfind("Změněno", 0) == 0 || line.rfind("Přeskočeno", 0) == 0)
        << line;
    from = end + 2;
  }
  EXPECT_GE(lines, 2u);
  // The two rows, each on its line.
  const auto line_of = [&run](const char* table, const char* text) {
    for (const std::string& l : LinesOf(run.log, table))
      if (l.find(text) != std::string::npos) return l;
    return std::string();
  };
  EXPECT_NE(line_of("SOUBOR", "priloha").find("[blob 7 B]"), std::string::npos) << run.log;
  EXPECT_NE(line_of("ZPRAVA", "hlavicka").find("radek 1  radek 2"), std::string::npos) << run.log;
}

}  // namespace
}  // namespace pelvar::test
