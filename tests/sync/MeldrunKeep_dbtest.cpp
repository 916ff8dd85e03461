// What a station changed is never lost without a trace: against Firebird 3 on the
// practice of tools/practice (one station at the current schema, played with every
// option into a working copy of main), with the rows that show each case added by SQL:
// - a row main refuses (a trigger raises) stays marked at the station, in every kind of
//   step (a table of steps: code lists, details, reports, laboratory items keyed by two
//   columns, a code list read without its key);
// - a marked row whose parent is gone on the station (a patient without its partner, a
//   coprology row without its patient, a daily record without its patient, an item
//   without its document) is counted, logged with the parent it misses, stays marked;
// - a row whose parent main refused, or that refers to a row main refused, is not
//   written without it: logged with the parent, stays marked (a table over every step
//   that finds a parent in main);
// - a diagnosis without a code, a new laboratory link or evaluation: logged, stay marked;
// - the document step counts the rows it writes; two new documents of one number are one;
// - a patient or a partner without a code is not written, is logged and stays marked;
// - a document without a number is refused with its item, listed, and stays marked;
// - bank-statement items arrive in main like the other document items;
// - main keeps no station's change mark;
// - every line of "Import.txt" is one event, whatever bytes a logged row holds, and the
//   file is valid Windows-1250.
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

void Exec(const std::string& db, const std::string& script, const std::string& charset = "UTF8") {
  const CommandResult r = RunIsql("set term ^ ;\n" + script + "\nset term ; ^\ncommit;\n", db, charset);
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

// Station rows main refuses (its triggers raise on them), each a parent the cases below
// refer to: a new patient, partner, deposit, transfer, store, variant, unit, template,
// laboratory head, recipe area and patient category; a document without a number.
const char* const kRefusedParentsMain =
    "create exception E_ODMITNUTO 'refused by main'^\n"
    "create trigger T_ODM_PACIENT for PACIENT before insert as begin if (new.JMENO = 'ODMITNOUT') then exception "
    "E_ODMITNUTO; end^\n"
    "create trigger T_ODM_PARTNER for PARTNER before insert as begin if (new.PARTNER_NAZEV = 'ODMITNOUT') then "
    "exception E_ODMITNUTO; end^\n"
    "create trigger T_ODM_ZALOHA for PARTNER_ZALOHA before insert as begin if (new.POZNAMKA = 'ODMITNOUT') then "
    "exception E_ODMITNUTO; end^\n"
    "create trigger T_ODM_PREMISTENI for PREMISTENI_ZVIRETE before insert as begin if (new.MISTO_URCENI = "
    "'ODMITNOUT') then exception E_ODMITNUTO; end^\n"
    "create trigger T_ODM_SKLAD for SKLAD before insert as begin if (new.SKLAD_NAZEV = 'ODMITNOUT') then exception "
    "E_ODMITNUTO; end^\n"
    "create trigger T_ODM_VARIANTA for VARIANTA before insert as begin if (new.VARIANTA_NAZEV = 'ODMITNOUT') then "
    "exception E_ODMITNUTO; end^\n"
    "create trigger T_ODM_MJ for MERNA_JEDNOTKA before insert as begin if (new.MERNA_JEDNOTKA_NAZEV = 'ODMITNOUT') "
    "then exception E_ODMITNUTO; end^\n"
    "create trigger T_ODM_SABLONA for SABLONA_VYKONU before insert as begin if (new.POZNAMKA = 'ODMITNOUT') then "
    "exception E_ODMITNUTO; end^\n"
    "create trigger T_ODM_LABVH for LABVH before insert as begin if (new.NAZEV = 'ODMITNOUT') then exception "
    "E_ODMITNUTO; end^\n"
    "create trigger T_ODM_RECEPTAR for RECEPTAR before insert as begin if (new.OBLAST = 'ODM-OBL' and new.SKUPINA "
    "is null) then exception E_ODMITNUTO; end^\n"
    "create trigger T_ODM_KATEGORIE for KATEGORIE_PACIENTA before insert as begin if (new.KATEGORIE_PACIENTA = "
    "'ODM-KAT') then exception E_ODMITNUTO; end^\n";

const char* const kRefusedParentsStation =
    "insert into PACIENT (ID_PACIENT, ID_PARTNER, PACIENT, JMENO, ST) values (990501, {R}, 'ODM-PAC', 'ODMITNOUT', "
    "'I')^\n"
    "insert into PARTNER (ID_PARTNER, PARTNER, PARTNER_NAZEV, ST) values (990502, 'ODM-PAR', 'ODMITNOUT', 'I')^\n"
    "insert into PARTNER_ZALOHA (ID_PARTNER_ZALOHA, ID_PARTNER, CASTKA, DATUM, DOKLAD, POZNAMKA, ST) values (990503, "
    "{R}, 100, '2026-06-14', 'ZAL-ODM', 'ODMITNOUT', 'I')^\n"
    "insert into PREMISTENI_ZVIRETE (ID_PREMISTENI_ZVIRETE, ID_PARTNER, PORADOVE_CISLO, DATUM, MISTO_URCENI, ST) "
    "values (990504, {R}, 'ODM-1', '2026-06-14', 'ODMITNOUT', 'I')^\n"
    "insert into SKLAD (ID_SKLAD, SKLAD, SKLAD_NAZEV, ST) values (990505, 'ODM-S', 'ODMITNOUT', 'I')^\n"
    "insert into VARIANTA (ID_VARIANTA, VARIANTA, VARIANTA_NAZEV, ST) values (990506, 'ODM-V', 'ODMITNOUT', 'I')^\n"
    "insert into MERNA_JEDNOTKA (ID_MERNA_JEDNOTKA, MERNA_JEDNOTKA, MERNA_JEDNOTKA_NAZEV, ST) values (990507, "
    "'ODM-MJ', 'ODMITNOUT', 'I')^\n"
    "insert into SABLONA_VYKONU (ID_SABLONA_VYKONU, SABLONA_VYKONU_NAZEV, POZNAMKA, ST) values (990508, 'ODM-SAB', "
    "'ODMITNOUT', 'I')^\n"
    "insert into LABVH (ID_LABVH, ID_PACIENT, NAZEV, DATUM, ST) values (990509, {P}, 'ODMITNOUT', '2026-06-14', "
    "'I')^\n"
    "insert into RECEPTAR (ID_RECEPTAR, ID_PREDEK, OBLAST, IS_RECEPT, ST) values (990510, -1, 'ODM-OBL', 'N', 'I')^\n"
    "insert into KATEGORIE_PACIENTA (ID_KATEGORIE_PACIENTA, ID_PREDEK, KATEGORIE_PACIENTA, ST) values (990511, -1, "
    "'ODM-KAT', 'I')^\n"
    "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_DRUH_DOKLADU, ZALOZENI_ZAZNAMU, ST) values (990512, null, "
    "'UZ', 1110, '2026-06-14', 'I')^\n";

// A station row whose parent, or a row it refers to, main refused.
struct MissingParentCase {
  const char* table;
  const char* station_insert;
  const char* station_row;  // selects it at the station
  const char* in_main;      // a condition that finds it in main
  const char* parent;       // the parent the log line names
};

const MissingParentCase kMissingParents[] = {
    {"PRIPAD",
     "insert into PRIPAD (ID_PRIPAD, ID_PACIENT, PRIPAD, AKTIVNI, ZALOZENI_ZAZNAMU, ST) values (990601, 990501, "
     "'Pripad sirotka', 'A', '2026-06-14', 'I')",
     "ID_PRIPAD = 990601", "PRIPAD = 'Pripad sirotka'", "PACIENT 'ODM-PAC'"},
    {"VYSETRENI_NOVOTVARU_MZ",
     "insert into VYSETRENI_NOVOTVARU_MZ (ID_VYSETRENI_NOVOTVARU_MZ, ID_PACIENT, LOKALIZACE, ZALOZENI_ZAZNAMU, ST) "
     "values (990602, 990501, 'ODM-LOK', '2026-06-14', 'I')",
     "ID_VYSETRENI_NOVOTVARU_MZ = 990602", "LOKALIZACE = 'ODM-LOK'", "PACIENT 'ODM-PAC'"},
    // The examination's partner was refused: no examination without it.
    {"VYSETRENI_NOVOTVARU_MZ",
     "insert into VYSETRENI_NOVOTVARU_MZ (ID_VYSETRENI_NOVOTVARU_MZ, ID_PACIENT, PARTNER, ID_PARTNER, LOKALIZACE, "
     "ZALOZENI_ZAZNAMU, ST) values (990603, {P}, 'ODM-PAR', 990502, 'ODM-PARLOK', '2026-06-13', 'I')",
     "ID_VYSETRENI_NOVOTVARU_MZ = 990603", "LOKALIZACE = 'ODM-PARLOK'", "PARTNER 'ODM-PAR'"},
    {"ZPRAVA",
     "insert into ZPRAVA (ID_ZPRAVA, ID_PACIENT, DATUM, HLAVICKA, ST) values (990604, 990501, '2026-06-14', "
     "'ODM-ZPRAVA', 'I')",
     "ID_ZPRAVA = 990604", "HLAVICKA = 'ODM-ZPRAVA'", "PACIENT 'ODM-PAC'"},
    {"PARTNER_ZALOHA",
     "insert into PARTNER_ZALOHA (ID_PARTNER_ZALOHA, ID_PARTNER, CASTKA, DATUM, DOKLAD, ST) values (990605, 990502, "
     "50, '2026-06-14', 'ZAL-SIROTEK', 'I')",
     "ID_PARTNER_ZALOHA = 990605", "DOKLAD = 'ZAL-SIROTEK'", "PARTNER 'ODM-PAR'"},
    {"PARTNER_ZALOHA_CERPANI",
     "insert into PARTNER_ZALOHA_CERPANI (ID_PARTNER_ZALOHA_CERPANI, ID_PARTNER_ZALOHA, DOKLAD, CASTKA, DATUM, ST) "
     "values (990606, 990503, 'CERP-ODM', 20, '2026-06-14', 'I')",
     "ID_PARTNER_ZALOHA_CERPANI = 990606", "DOKLAD = 'CERP-ODM'", "PARTNER_ZALOHA '990503'"},
    {"PREMISTENI_ZVIRETE_ZVI",
     "insert into PREMISTENI_ZVIRETE_ZVI (ID_PREMISTENI_ZVIRETE_ZVI, ID_PREMISTENI_ZVIRETE, IDENTIFIKACNI_CISLO, ST) "
     "values (990607, 990504, 'ODM-ZVIRE', 'I')",
     "ID_PREMISTENI_ZVIRETE_ZVI = 990607", "IDENTIFIKACNI_CISLO = 'ODM-ZVIRE'", "PREMISTENI_ZVIRETE"},
    {"VARIANTA_SKLAD",
     "insert into VARIANTA_SKLAD (ID_VARIANTA_SKLAD, ID_VARIANTA, ID_SKLAD, SKLAD, ST) values (990608, {V}, 990505, "
     "'ODM-S', 'I')",
     "ID_VARIANTA_SKLAD = 990608", "SKLAD = 'ODM-S'", "SKLAD 'ODM-S'"},
    {"VARIANTA_CENIK",
     "insert into VARIANTA_CENIK (ID_VARIANTA_CENIK, ID_VARIANTA, ID_SKLAD, SKLAD, ID_CENIK, CENA, ST) values "
     "(990609, {V}, 990505, 'ODM-S', -1, 10, 'I')",
     "ID_VARIANTA_CENIK = 990609", "SKLAD = 'ODM-S'", "SKLAD 'ODM-S'"},
    {"VARIANTA_CENIK",
     "insert into VARIANTA_CENIK (ID_VARIANTA_CENIK, ID_VARIANTA, ID_CENIK, CENA, ST) values (990610, 990506, -1, 11, "
     "'I')",
     "ID_VARIANTA_CENIK = 990610", "CENA = 11", "VARIANTA 'ODM-V'"},
    {"SABLONA_VYKONU_POLOZKA",
     "insert into SABLONA_VYKONU_POLOZKA (ID_SABLONA_VYKONU_POLOZKA, ID_SABLONA_VYKONU, SABLONA_VYKONU_NAZEV, "
     "VARIANTA, ST) values (990611, 990508, 'ODM-SAB', (select VARIANTA from VARIANTA where ID_VARIANTA = {V}), 'I')",
     "ID_SABLONA_VYKONU_POLOZKA = 990611", "SABLONA_VYKONU_NAZEV = 'ODM-SAB'", "SABLONA_VYKONU 'ODM-SAB'"},
    {"LABVD",
     "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK, ST) values (990509, 1, 'K1', 'ODM-VYSLEDEK', 'I')",
     "ID_LABVH = 990509 and ID_LABVD = 1", "VYSLEDEK = 'ODM-VYSLEDEK'", "LABVH"},
    {"RECEPTAR",
     "insert into RECEPTAR (ID_RECEPTAR, ID_PREDEK, OBLAST, SKUPINA, IS_RECEPT, ST) values (990612, 990510, "
     "'ODM-OBL', 'ODM-SKUP', 'N', 'I')",
     "ID_RECEPTAR = 990612", "SKUPINA = 'ODM-SKUP'", "RECEPTAR 'ODM-OBL'"},
    {"KATEGORIE_PACIENTA",
     "insert into KATEGORIE_PACIENTA (ID_KATEGORIE_PACIENTA, ID_PREDEK, KATEGORIE_PACIENTA, PREDEK, ST) values "
     "(990613, 990511, 'ODM-PODKAT', 'ODM-KAT', 'I')",
     "ID_KATEGORIE_PACIENTA = 990613", "KATEGORIE_PACIENTA = 'ODM-PODKAT'", "KATEGORIE_PACIENTA 'ODM-KAT'"},
    {"POHLEDAVKA",
     "insert into POHLEDAVKA (ID_POHLEDAVKA, ID_PARTNER, ID_DOKLAD, POHLEDAVKA, CASTKA, ST) values (990614, {R}, "
     "990512, 'ODM-POHL', 5, 'I')",
     "ID_POHLEDAVKA = 990614", "POHLEDAVKA = 'ODM-POHL'", "DOKLAD"},
    {"DOKLAD_POLOZKA_UZ",
     "insert into DOKLAD_POLOZKA_UZ (ID_DOKLAD_POLOZKA, ID_DOKLAD, VARIANTA, VYROBNI_CISLO, ST) values (990615, "
     "990512, 'X', 'ODM-UZ1', 'I')",
     "ID_DOKLAD_POLOZKA = 990615", "VYROBNI_CISLO = 'ODM-UZ1'", "DOKLAD"},
    // References a row main refused: kept back rather than written without the link.
    {"VAKCINACE_ODCERVENI",
     "insert into VAKCINACE_ODCERVENI (ID_VAKCINACE_ODCERVENI, ID_PACIENT, ID_VARIANTA, VARIANTA, DATUM, SARZE, ST) "
     "values (990616, {P}, 990506, 'ODM-V', '2026-06-14', 'ODM-SARZE', 'I')",
     "ID_VAKCINACE_ODCERVENI = 990616", "SARZE = 'ODM-SARZE'", "VARIANTA 'ODM-V'"},
    {"PRODEJKA",
     "insert into PRODEJKA (ID_PRODEJKA, PRODEJKA, ID_SKLAD, SKLAD, ZALOZENI_ZAZNAMU, ST) values (990617, "
     "'ODM-PROD', 990505, 'ODM-S', '2026-06-14', 'I')",
     "ID_PRODEJKA = 990617", "PRODEJKA = 'ODM-PROD'", "SKLAD 'ODM-S'"},
    {"DOKLAD_POLOZKA_UZ",
     "insert into DOKLAD_POLOZKA_UZ (ID_DOKLAD_POLOZKA, ID_DOKLAD, MERNA_JEDNOTKA, ID_MERNA_JEDNOTKA, VYROBNI_CISLO, "
     "ST) values (990618, {D}, 'ODM-MJ', 990507, 'ODM-UZ2', 'I')",
     "ID_DOKLAD_POLOZKA = 990618", "VYROBNI_CISLO = 'ODM-UZ2'", "MERNA_JEDNOTKA 'ODM-MJ'"},
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
  // One engine with every option (or the documents' alone), one work-flow cycle, the
  // current schema.
  Outcome Play(bool documents_only = false) {
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
      if (documents_only) m->Zaklad = m->ExPartner = m->ExPacient = m->Karty = m->Ciselniky = m->OrgStruktura = false;
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

// A row whose parent main refused, or that refers to a row main refused, does not arrive
// without it: it stays marked at the station, is logged with the parent it misses, and
// main has no trace of it.
TEST_F(MeldrunKeepDb, ARowWhoseParentDidNotArriveStaysMarkedAndIsLogged) {
  Exec(Main(), kRefusedParentsMain);
  std::string script = kRefusedParentsStation;
  for (const MissingParentCase& c : kMissingParents) script += std::string(c.station_insert) + "^\n";
  script = Replace(script, "{P}", kPatient);
  script = Replace(script, "{R}", "(select min(ID_PARTNER) from PARTNER where PARTNER > '' and ID_PARTNER > 0)");
  script = Replace(script, "{V}", "(select min(ID_VARIANTA) from VARIANTA where VARIANTA > '' and ID_VARIANTA > 0)");
  script = Replace(script, "{D}",
                   "(select min(ID_DOKLAD) from DOKLAD where ID_DRUH_DOKLADU = 1040 and DOKLAD > '' and ST is null)");
  Exec(Station(), script);

  const Outcome run = Play();
  for (const MissingParentCase& c : kMissingParents) {
    SCOPED_TRACE(std::string(c.table) + " " + c.station_row);
    EXPECT_EQ(StationMark(c.table, c.station_row), "I");
    EXPECT_EQ(Q1(Main(), std::string("select count(*) as V from ") + c.table + " where " + c.in_main), "0");
    bool logged = false;
    for (const std::string& l : LinesOf(run.log, c.table))
      logged = logged || (l.rfind("Přeskočeno", 0) == 0 && l.find(std::string("nadřazený záznam ") + c.parent) !=
                                                               std::string::npos);
    EXPECT_TRUE(logged) << run.log;
  }
}

// Rows main does not take from a station (a diagnosis without a code, a new laboratory
// link or evaluation) are logged with the reason and stay marked.
TEST_F(MeldrunKeepDb, RowsMainDoesNotTakeAreLoggedAndStayMarked) {
  struct Case {
    const char* table;
    const char* station_insert;
    const char* station_row;
    const char* reason;
  };
  const Case cases[] = {
      {"DIAGNOZA",
       "insert into DIAGNOZA (ID_DIAGNOZA, DIAGNOZA, DIAGNOZA_NAZEV, ST) values (990701, null, 'Bez kodu', 'I')",
       "ID_DIAGNOZA = 990701", "diagnóza nemá kód"},
      {"LAB_VAZBY",
       "insert into LAB_VAZBY (ID_TYP_ZADANKY, ID_POLOZKA_ZADANKY, ID_TYP_VZORKU, POZNAMKA, ST) values (990701, "
       "990702, 990703, 'nova vazba', 'I')",
       "ID_TYP_ZADANKY = 990701", "novou vazbu"},
      {"LABHODN",
       "insert into LABHODN (ID_LABHODN, ZKRATKA, HODNOCENI, POPIS, ST) values (990701, 'NOV', 'nove', 'nove "
       "hodnoceni', 'I')",
       "ID_LABHODN = 990701", "nové hodnocení"},
  };
  std::string script;
  for (const Case& c : cases) script += std::string(c.station_insert) + "^\n";
  Exec(Station(), script);

  const Outcome run = Play();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    EXPECT_EQ(StationMark(c.table, c.station_row), "I");
    EXPECT_EQ(Q1(Main(), std::string("select count(*) as V from ") + c.table + " where " + c.station_row), "0");
    bool logged = false;
    for (const std::string& l : LinesOf(run.log, c.table))
      logged = logged || (l.rfind("Přeskočeno", 0) == 0 && l.find(c.reason) != std::string::npos &&
                          l.find("990701 | ") != std::string::npos);
    EXPECT_TRUE(logged) << run.log;
  }
}

// The document step counts what it writes like every other step: each row new to main
// is a saved row. Two new documents of one number are one document in main.
TEST_F(MeldrunKeepDb, DocumentsWrittenAreCountedAndOneNumberIsOneDocument) {
  Exec(Station(),
       "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_DRUH_DOKLADU, ZALOZENI_ZAZNAMU, ST) values (990801, "
       "'DUP-0001', 'FA', 1110, '2026-06-14', 'I')^\n"
       "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_DRUH_DOKLADU, ZALOZENI_ZAZNAMU, ST) values (990802, "
       "'DUP-0001', 'FA', 1110, '2026-06-15', 'I')^\n"
       "insert into DOKLAD_POLOZKA_FA (ID_DOKLAD_POLOZKA, ID_DOKLAD, TEXT, ZALOZENI_ZAZNAMU, ST) values (990803, "
       "990801, 'Prvni', '2026-06-14', 'I')^\n"
       "insert into DOKLAD_POLOZKA_FA (ID_DOKLAD_POLOZKA, ID_DOKLAD, TEXT, ZALOZENI_ZAZNAMU, ST) values (990804, "
       "990802, 'Druha', '2026-06-15', 'I')^");
  // Every main table's rows, added up (the journal's own rows aside).
  const auto rows = [](const std::string& db) {
    std::string sql = "select 0";
    const PlaySchema schema = PlaySchema::Read(db);
    for (const auto& [table, t] : schema.tables)
      if (table != "ZURNAL") sql += " + (select count(*) from " + table + ")";
    return std::stol(Q1(db, sql + " as V from RDB$DATABASE"));
  };
  const long before = rows(Main());

  const Outcome run = Play(true);
  EXPECT_EQ(run.saved, rows(Main()) - before);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD where DOKLAD = 'DUP-0001'"), "1");
  // Both items, under the one document.
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD_POLOZKA_FA P join DOKLAD D on D.ID_DOKLAD = P.ID_DOKLAD "
                       "where D.DOKLAD = 'DUP-0001'"),
            "2");
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
  // Bytes Windows-1250 leaves undefined, in a text that is logged.
  Exec(Station(),
       "insert into ZPRAVA (ID_ZPRAVA, ID_PACIENT, DATUM, HLAVICKA, ST) values (990402, 990998, '2026-06-14', "
       "'nedef' || ascii_char(129) || ascii_char(131) || ascii_char(136) || ascii_char(144) || ascii_char(152) || "
       "'konec', 'I')^",
       "WIN1250");
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
  // The file is valid Windows-1250: the undefined bytes are written as "?".
  for (const unsigned char undefined : {0x81, 0x83, 0x88, 0x90, 0x98})
    EXPECT_EQ(raw.find(static_cast<char>(undefined)), std::string::npos) << static_cast<int>(undefined);
  EXPECT_NE(line_of("ZPRAVA", "nedef").find("nedef?????konec"), std::string::npos) << run.log;
}

}  // namespace
}  // namespace pelvar::test
