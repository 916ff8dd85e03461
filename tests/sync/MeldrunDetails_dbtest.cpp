// The last-cycle tables of the play-in (details, laboratory, images, requests, sales,
// code lists II, reports, closing items) against Firebird 3 on practice databases from
// tools/practice: a whole station played into a working copy of main and checked by
// the integrity check; and a small set of rows added to both sides that shows where a
// merge lands: by the whole natural key, keeping the main key and the parents' main
// keys; fixed-length casts and expiry dates that must match the station's text; new
// rows under generator keys; locations that keep the station's key unless it is taken.
// Parents of steps not built here (patients, partners, documents) are set up as their
// steps would leave them: present in main under the same natural key, other keys.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_integrity.h"
#include "play_integrity_details.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

void Exec(const std::string& db, const std::string& script) {
  const CommandResult r = RunIsql(script + "\ncommit;\n", db);
  ASSERT_EQ(r.exit_code, 0) << r.output;
  ASSERT_EQ(r.output.find("Statement failed"), std::string::npos) << r.output;
}

class MeldrunDetailsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }

  void Copy() {
    fs::current_path(dir_.Path());
    PlayPractice::CopyTo("main.fdb", Main());
    PlayPractice::CopyTo("st.fdb", Station());
  }
  // cycle 0 plays the first-cycle steps as well; a later cycle only the last-cycle ones.
  void Connect(int32_t cycle) {
    dm_.OpenDst(Main(), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(Station(), AdministratorUser, AdministratorPassword);
    dm_.InitStationLists(1);
    dm_.CommitAfter = 900;
    dm_.CycleIndex = cycle;
    dm_.IsLastCycle = true;
    dm_.LowestVersion = 200824;
  }
  void Disconnect() {
    dm_.CommitBoth();
    dm_.Src()->SetConnected(false);
    dm_.Dst()->SetConnected(false);
  }
  void TearDown() override { fs::current_path(before_); }
  std::string Main() const { return dir_.File("main.fdb"); }
  std::string Station() const { return dir_.File("st.fdb"); }

  std::unique_ptr<TMeldrun> Play(int32_t cycle) {
    Connect(cycle);
    auto m = std::make_unique<TMeldrun>();
    if (cycle > 0) {
      // As the first cycle leaves them.
      for (const char* t : {"ZARIZENI", "ODDELENI", "PRACOVISTE"})
        m->AddNewKeyColumns(t, std::string("ID_") + t + "_NEW");
      m->AddNewKeyColumns("UZIVATEL_NEW", "ID_UZIVATEL_NEW");
    }
    m->OrgStruktura = m->Zaklad = m->ExPartner = m->ExPacient = m->Karty = m->Doklady = m->Ciselniky = true;
    m->Execute();
    return m;
  }
  std::string MainOne(const std::string& sql) { return Q1(Main(), sql); }
  // The error lines of Import.txt, for failure messages.
  static std::string Log() {
    std::ifstream in("Import.txt", std::ios::binary);
    std::string line, errors;
    while (std::getline(in, line))
      if (line.rfind("Chyba", 0) == 0) errors += line.substr(0, 300) + "\n";
    return errors;
  }
  // Every conversion error of the play ("Chyba konverze" lines of Import.txt).
  static int32_t ConvertErrors() {
    std::ifstream in("Import.txt", std::ios::binary);
    std::string line;
    int32_t n = 0;
    while (std::getline(in, line))
      if (line.rfind("Chyba konverze", 0) == 0) ++n;
    return n;
  }

  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-details"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
};

TEST_F(MeldrunDetailsDb, AWholeStationPlaysItsLastCycleTablesIntoMainAndKeepsTheReferences) {
  Copy();
  PlayIntegrity integrity(Main(), Station(), DetailTables(), DetailRefs());
  integrity.Snapshot();
  form_.Auto = true;
  auto m = Play(0);
  EXPECT_EQ(m->GetInitErrorCount(), 0) << Log();
  EXPECT_EQ(ConvertErrors(), 0) << Log();
  EXPECT_EQ(m->GetSaveErrorCount(), 0) << Log();
  for (int32_t step = 53; step <= 78; ++step)
    EXPECT_NE(std::find(m->PlayedSteps().begin(), m->PlayedSteps().end(), step), m->PlayedSteps().end()) << step;
  m.reset();
  Disconnect();
  for (const std::string& p : integrity.Check()) ADD_FAILURE() << p;
  // Laboratory items are numbered within their head, never twice.
  EXPECT_EQ(MainOne("select count(*) as V from (select ID_LABVH, ID_LABVD from LABVD group by 1, 2 having count(*) > 1)"),
            "0");
  // The played marks are cleared on both sides, those kept by design stay.
  for (const char* t : {"KOPROLOGIE", "LABVD", "ZADANKA", "DOKLAD_POLOZKA_UZ"}) {
    EXPECT_EQ(Q1(Station(), std::string("select count(*) as V from ") + t + " where ST is not null"), "0") << t;
    EXPECT_EQ(MainOne(std::string("select count(*) as V from ") + t + " where ST is not null"), "0") << t;
  }
}

// Parents on both sides under the same codes and other keys, and rows of the detail
// tables in main and changed on the station.
void AddParents(const std::string& main, const std::string& station) {
  for (const auto& [db, k] : {std::pair{main, 990000}, std::pair{station, 880000}}) {
    const std::string K = std::to_string(k);
    Exec(db,
         "insert into PACIENT (ID_PACIENT, PACIENT) values (" + K + "+1, 'TPAC1');\n"
         "insert into VARIANTA (ID_VARIANTA, VARIANTA, VARIANTA_NAZEV) values (" + K + "+1, 'TVAR1', 'Test');\n"
         "insert into SKLAD (ID_SKLAD, SKLAD) values (" + K + "+1, 'TSK1');\n"
         "insert into CENIK (ID_CENIK, CENIK) values (" + K + "+1, 'TCE1');\n"
         "insert into PARTNER (ID_PARTNER, PARTNER) values (" + K + "+1, 'TPAR1');\n"
         "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU) values (" + K + "+2, 'D1', 'PD');\n"
         "insert into DOKLAD (ID_DOKLAD, DOKLAD, ID_DRUH_DOKLADU) values (" + K + "+3, 'U1', 1040);");
  }
  Exec(main, "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU) values (990001, 'D1', 'FA');");
}

TEST_F(MeldrunDetailsDb, MergesFindTheirRowByTheWholeNaturalKeyAndKeepTheParentsMainKeys) {
  Copy();
  AddParents(Main(), Station());
  Exec(Main(),
       // Two files of one patient and day, told apart by their description.
       "insert into SOUBOR (ID_SOUBOR, ID_PACIENT, POPIS, DATUM, NAZEV_SOUBORU) values (990001, 990001, 'A', "
       "'2026-01-05', 'a.txt');\n"
       "insert into SOUBOR (ID_SOUBOR, ID_PACIENT, POPIS, DATUM, NAZEV_SOUBORU) values (990002, 990001, 'B', "
       "'2026-01-05', 'b.txt');\n"
       "insert into VARIANTA_CENIK (ID_VARIANTA_CENIK, ID_VARIANTA, ID_SKLAD, SKLAD, ID_CENIK, CENIK, CENA) values "
       "(990001, 990001, 990001, 'TSK1', 990001, 'TCE1', 10);\n"
       "insert into KOPROLOGIE (ID_KOPROLOGIE, ID_PACIENT, VYSLEDEK, ZALOZENI_ZAZNAMU) values (990001, 990001, 'neg', "
       "'2026-02-01');\n"
       // One receivable number under two documents of one number and different types.
       "insert into POHLEDAVKA (ID_POHLEDAVKA, ID_PARTNER, ID_DOKLAD, POHLEDAVKA, CASTKA) values (990001, 990001, "
       "990001, 'P1', 1);\n"
       "insert into POHLEDAVKA (ID_POHLEDAVKA, ID_PARTNER, ID_DOKLAD, POHLEDAVKA, CASTKA) values (990002, 990001, "
       "990002, 'P1', 2);\n"
       "insert into PRODEJKA (ID_PRODEJKA, PRODEJKA, VLASTNI_ZASTUPCE, ZALOZENI_ZAZNAMU, CENA, ID_PARTNER) values "
       "(990001, 'PR1', 'X', current_date - 10, 1, -1);\n"
       // Laboratory heads with a time, and items numbered per head.
       "insert into LABVH (ID_LABVH, ID_PACIENT, NAZEV, DATUM, CAS) values (990001, 990001, 'KO', '2026-03-01', "
       "'08:05:03.1200');\n"
       "insert into LABVH (ID_LABVH, ID_PACIENT, NAZEV, DATUM, CAS) values (990002, 990001, 'BIO', '2026-03-01', "
       "'08:05:03.1200');\n"
       "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK) values (990001, 1, 'K1', '1');\n"
       "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK) values (990001, 2, 'K2', '2');\n"
       "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK) values (990002, 1, 'K1', 'x');\n"
       // A closing item with an expiry date.
       "insert into DOKLAD_POLOZKA_UZ (ID_DOKLAD_POLOZKA, ID_DOKLAD, VARIANTA, ID_SKLAD, VYROBNI_CISLO, DATUM_EXPIRACE, "
       "MNOZSTVI) values (990001, 990003, 'TVAR1', 5, 'S1', '2027-05-31', 1);\n"
       "insert into UMISTENI (ID_UMISTENI, UMISTENI) values (990050, 'Jiné místo');\n"
       // A stock item of movement G written in this run under the station key 880010.
       "insert into DOKLAD (ID_DOKLAD, DOKLAD, DOKLAD_PUVODNI) values (990004, 'S1', 'U1');\n"
       "insert into DOKLAD_POLOZKA_SK (ID_DOKLAD_POLOZKA, ID_DOKLAD, TYP_POHYBU, ID, VARIANTA, ID_SKLAD, VYROBNI_CISLO) "
       "values (990010, 990004, 'G', 880010, 'TVAR1', 5, 'S3');\n"
       // A daily record written in this run under the station key 880001.
       "insert into DENNI_ZAZNAM (ID_DENNI_ZAZNAM, ID_PACIENT, ID) values (990001, 990001, 880001);");
  Exec(Station(),
       "insert into SOUBOR (ID_SOUBOR, ID_PACIENT, POPIS, DATUM, NAZEV_SOUBORU, ST) values (880002, 880001, 'B', "
       "'2026-01-05', 'b2.txt', 'U');\n"
       "insert into VARIANTA_CENIK (ID_VARIANTA_CENIK, ID_VARIANTA, ID_SKLAD, SKLAD, ID_CENIK, CENIK, CENA, ST) values "
       "(880001, 880001, 880001, 'TSK1', 880001, 'TCE1', 12, 'U');\n"
       "insert into KOPROLOGIE (ID_KOPROLOGIE, ID_PACIENT, VYSLEDEK, ZALOZENI_ZAZNAMU, ST) values (880001, 880001, "
       "'poz', '2026-02-01', 'U');\n"
       "insert into POHLEDAVKA (ID_POHLEDAVKA, ID_PARTNER, ID_DOKLAD, POHLEDAVKA, CASTKA, ST) values (880001, 880001, "
       "880002, 'P1', 5, 'U');\n"
       "insert into PRODEJKA (ID_PRODEJKA, PRODEJKA, VLASTNI_ZASTUPCE, ZALOZENI_ZAZNAMU, CENA, ID_PARTNER, ST) values "
       "(880001, 'PR1', 'Y', current_date - 10, 7, -1, 'U');\n"
       "insert into LABVH (ID_LABVH, ID_PACIENT, NAZEV, DATUM, CAS, LABORATOR, ST) values (880001, 880001, 'KO', "
       "'2026-03-01', '08:05:03.1200', 'Lab', 'U');\n"
       "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK, ST) values (880001, 1, 'K1', '1.5', 'U');\n"
       "insert into LABVD (ID_LABVH, ID_LABVD, KOD, VYSLEDEK, ST) values (880001, 5, 'K9', '9', 'I');\n"
       "insert into DOKLAD_POLOZKA_UZ (ID_DOKLAD_POLOZKA, ID_DOKLAD, VARIANTA, ID_SKLAD, VYROBNI_CISLO, DATUM_EXPIRACE, "
       "MNOZSTVI, ST) values (880001, 880003, 'TVAR1', 5, 'S1', '2027-05-31', 3, 'U');\n"
       "insert into DOKLAD_POLOZKA_UZ (ID_DOKLAD_POLOZKA, ID_DOKLAD, VARIANTA, ID_SKLAD, VYROBNI_CISLO, MNOZSTVI, ST) "
       "values (880002, 880003, 'NEZNAMA', 5, 'S2', 4, 'I');\n"
       // A vaccination with a variant main does not know, new to main.
       "insert into VAKCINACE_ODCERVENI (ID_VAKCINACE_ODCERVENI, ID_PACIENT, VARIANTA, VARIANTA_NAZEV, ID_VARIANTA, "
       "DATUM, ST) values (880001, 880001, 'NEZNAMA', 'Vakcína X', 880001, '2026-04-01', 'I');\n"
       // Locations keep the station's key unless main has it for another location.
       "insert into UMISTENI (ID_UMISTENI, UMISTENI) values (990050, 'Nové místo');\n"
       "insert into UMISTENI (ID_UMISTENI, UMISTENI) values (990060, 'Třetí místo');\n"
       "insert into DOKLAD_POLOZKA_UZ (ID_DOKLAD_POLOZKA, ID_DOKLAD, VARIANTA, ID_SKLAD, VYROBNI_CISLO, ST) values "
       "(880010, 880003, 'TVAR1', 5, 'S3', 'I');\n"
       "insert into PRODEJKA (ID_PRODEJKA, PRODEJKA, PARTNER, ZALOZENI_ZAZNAMU, ID_PARTNER, ST) values (880002, 'PR2', "
       "'NEZNAMY', current_date, 880001, 'I');\n"
       "insert into ZADANKA (ID_ZADANKA, ID_PACIENT, ZADANKA, ID_DENNI_ZAZNAM, ST) values (880001, 880001, 'Z1', 880001, "
       "'I');");
  form_.Auto = true;
  auto m = Play(1);
  EXPECT_EQ(m->GetSaveErrorCount(), 0) << Log();
  EXPECT_EQ(ConvertErrors(), 0) << Log();
  m.reset();
  Disconnect();

  struct Case {
    const char* what;
    const char* sql;
    const char* expected;
  };
  const Case cases[] = {
      {"the file with the same description is merged", "select NAZEV_SOUBORU as V from SOUBOR where ID_SOUBOR = 990002",
       "b2.txt"},
      {"the other file stays", "select NAZEV_SOUBORU as V from SOUBOR where ID_SOUBOR = 990001", "a.txt"},
      {"no file is added", "select count(*) as V from SOUBOR where ID_PACIENT = 990001", "2"},
      {"the price is merged", "select cast(CENA as integer) as V from VARIANTA_CENIK where ID_VARIANTA_CENIK = 990001",
       "12"},
      {"the price keeps the main keys of its parents",
       "select ID_VARIANTA||'/'||ID_SKLAD||'/'||ID_CENIK as V from VARIANTA_CENIK where ID_VARIANTA_CENIK = 990001",
       "990001/990001/990001"},
      {"no price is added", "select count(*) as V from VARIANTA_CENIK where CENIK = 'TCE1'", "1"},
      {"coprology merged under its main key and patient",
       "select VYSLEDEK||'/'||ID_PACIENT as V from KOPROLOGIE where ID_KOPROLOGIE = 990001", "poz/990001"},
      {"no coprology under the station key", "select count(*) as V from KOPROLOGIE where ID_KOPROLOGIE = 880001", "0"},
      {"the receivable of the document of the same type is merged",
       "select cast(CASTKA as integer) as V from POHLEDAVKA where ID_POHLEDAVKA = 990002", "5"},
      {"the receivable of the other type stays",
       "select cast(CASTKA as integer) as V from POHLEDAVKA where ID_POHLEDAVKA = 990001", "1"},
      {"the sales receipt is merged though its representative changed",
       "select cast(CENA as integer)||VLASTNI_ZASTUPCE as V from PRODEJKA where PRODEJKA = 'PR1'", "7Y"},
      {"the laboratory head found by its time is merged",
       "select LABORATOR as V from LABVH where ID_LABVH = 990001", "Lab"},
      {"no laboratory head is added", "select count(*) as V from LABVH where ID_PACIENT = 990001", "2"},
      {"the item of its head is merged", "select VYSLEDEK as V from LABVD where ID_LABVH = 990001 and ID_LABVD = 1",
       "1.5"},
      {"the item of the same code under another head stays",
       "select VYSLEDEK as V from LABVD where ID_LABVH = 990002 and ID_LABVD = 1", "x"},
      {"a new item gets its head's next number", "select ID_LABVD as V from LABVD where ID_LABVH = 990001 and KOD = 'K9'",
       "3"},
      {"the closing item with an expiry date is found, not added",
       "select count(*) as V from DOKLAD_POLOZKA_UZ where VYROBNI_CISLO = 'S1'", "1"},
      {"a new closing item gets a generator key, its document's main key, the manual variant",
       "select iif(ID_DOKLAD_POLOZKA = 880002, 'station key', ID_DOKLAD||'/'||VARIANTA||'/'||ID_VARIANTA) as V from "
       "DOKLAD_POLOZKA_UZ where VYROBNI_CISLO = 'S2'",
       "990003/Ručně/-1"},
      {"a new vaccination gets a generator key, the patient's main key and the manual variant",
       "select iif(ID_VAKCINACE_ODCERVENI = 880001, 'station key', ID_PACIENT||'/'||VARIANTA||'/'||ID_VARIANTA||'/'||"
       "VARIANTA_NAZEV) as V from VAKCINACE_ODCERVENI where DATUM = '2026-04-01' and ID_PACIENT = 990001",
       "990001/Ručně/-1/Vakcína X"},
      {"the closing item of a stock item written in this run takes that item's key",
       "select ID_DOKLAD_POLOZKA as V from DOKLAD_POLOZKA_UZ where VYROBNI_CISLO = 'S3'", "990010"},
      {"a sales receipt without a known partner", "select ID_PARTNER||PARTNER||PARTNER_NAZEV as V from PRODEJKA where "
       "PRODEJKA = 'PR2'", "-1……"},
      {"a request takes the daily record's main key, and the daily record points back to it",
       "select iif(z.ID_ZADANKA = 880001, 'station key', iif(d.ID_ZADANKA = z.ID_ZADANKA, 'linked', 'not linked')) as V "
       "from ZADANKA z join DENNI_ZAZNAM d on d.ID_DENNI_ZAZNAM = z.ID_DENNI_ZAZNAM where z.ZADANKA = 'Z1'",
       "linked"},
      {"a location whose key is free keeps it", "select UMISTENI as V from UMISTENI where ID_UMISTENI = 990060",
       "Třetí místo"},
      {"a location whose key is taken gets the next free one",
       "select iif(ID_UMISTENI = 990050, 'taken', 'free') as V from UMISTENI where UMISTENI = 'Nové místo'", "free"},
      {"the main location stays", "select UMISTENI as V from UMISTENI where ID_UMISTENI = 990050", "Jiné místo"},
      {"the locations' generator is not behind",
       "select iif(gen_id(GEN_UMISTENI, 0) >= (select max(ID_UMISTENI) from UMISTENI), 'ok', 'behind') as V from "
       "RDB$DATABASE",
       "ok"},
  };
  for (const Case& c : cases) EXPECT_EQ(MainOne(c.sql), c.expected) << c.what;
}

}  // namespace
}  // namespace pelvar::test
