// Where the play-in puts a station's rows in main, against Firebird 3 on practice
// databases from tools/practice with the rows that show it added by SQL: tables read
// whole change main only through the rows the station marked; new rows two stations keyed
// alike (departments, device accounts, workplaces and their users) both arrive, and the
// device question's Enter keeps main's device; a merge writes main's keys, never the
// station's; the memory import of documents, daily records and items resolves every
// reference or refuses the row (listed, kept marked) and records the documents' key
// mappings; a sales receipt of an unknown store or price list refers to no row.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_integrity.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

struct Expect {
  const char* what;
  const char* sql;  // one value V
  const char* expected;
};

class MeldrunKeysDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }
  void SetUp() override {
    previous_ = SetDialogResponder([](const TDialogRequest& r) { return r.CancelResult; });
    fs::current_path(dir_.Path());
    form_.Auto = true;
    PlayPractice::CopyTo("main.fdb", Main());
    PlayPractice::CopyTo("st.fdb", Station());
    // Only the rows a test adds are marked: the practice's own station changes are played
    // by the tests of their tables, and leaving them out keeps these runs short.
    Exec(Station(),
         "set term ^;\n"
         "execute block as declare t varchar(63); begin\n"
         "  for select trim(RDB$RELATION_NAME) from RDB$RELATION_FIELDS where RDB$FIELD_NAME = 'ST' and\n"
         "      coalesce(RDB$SYSTEM_FLAG, 0) = 0 into :t do\n"
         "    execute statement 'update ' || t || ' set ST = null where ST is not null';\n"
         "end^\n"
         "set term ;^");
  }
  void TearDown() override {
    SetDialogResponder(previous_);
    fs::current_path(before_);
  }

  std::string Main() const { return dir_.File("main.fdb"); }
  std::string Station() const { return dir_.File("st.fdb"); }
  static void Exec(const std::string& db, const std::string& script) {
    const CommandResult r = RunIsql("set autoddl on;\n" + script + "\ncommit;\n", db);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    ASSERT_EQ(r.output.find("Statement failed"), std::string::npos) << r.output;
  }

  // One station played into main with the given options; cycle 0 plays the first-cycle
  // steps, a later cycle only the others (with the new-key columns the first left).
  struct Options {
    bool org = false, zaklad = false, doklady = false, karty = false, ciselniky = false, expacient = false,
         expartner = false;
    int32_t cycle = 0;
    bool last = true;
  };
  void Play(const std::string& station, const Options& o, int32_t index = 0, int32_t stations = 1) {
    dm_.OpenDst(Main(), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(station, AdministratorUser, AdministratorPassword);
    if (dm_.StationMappings().size() != static_cast<size_t>(stations)) dm_.InitStationLists(stations);
    form_.Station = index;
    dm_.CommitAfter = 900;
    dm_.CycleIndex = o.cycle;
    dm_.IsLastCycle = o.last;
    dm_.LowestVersion = 200824;
    {
      TMeldrun m;
      if (o.cycle > 0) {
        for (const char* t : {"ZARIZENI", "ODDELENI", "PRACOVISTE"}) m.AddNewKeyColumns(t, std::string("ID_") + t + "_NEW");
        m.AddNewKeyColumns("UZIVATEL_NEW", "ID_UZIVATEL_NEW");
      }
      m.OrgStruktura = o.org;
      m.Zaklad = o.zaklad;
      m.Doklady = o.doklady;
      m.Karty = o.karty;
      m.Ciselniky = o.ciselniky;
      m.ExPacient = o.expacient;
      m.ExPartner = o.expartner;
      m.Execute();
      EXPECT_EQ(m.GetInitErrorCount(), 0);
      EXPECT_EQ(m.GetSaveErrorCount(), 0);
      EXPECT_EQ(m.GetConvertErrorCount(), 0);
    }
    dm_.CommitBoth();
    dm_.Src()->SetConnected(false);
    dm_.Dst()->SetConnected(false);
  }
  void Check(const std::string& db, const std::vector<Expect>& cases) {
    for (const Expect& c : cases) EXPECT_EQ(Q1(db, c.sql), c.expected) << c.what;
  }

  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-keys"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  TDialogResponder previous_;
};

// Parents on both sides under the same codes and other keys (main 990000+, station 880000+).
void AddParents(const std::string& main, const std::string& station) {
  for (const auto& [db, k] : {std::pair{main, 990000}, std::pair{station, 880000}}) {
    const std::string K = std::to_string(k);
    const CommandResult r = RunIsql(
        "insert into PARTNER (ID_PARTNER, PARTNER) values (" + K + "+1, 'TPAR1');\n"
        "insert into PACIENT (ID_PACIENT, ID_PARTNER, PACIENT, DRUH) values (" + K + "+1, " + K + "+1, 'TPAC1', 'TDRUH_A');\n"
        "insert into PACIENT (ID_PACIENT, ID_PARTNER, PACIENT, DRUH) values (" + K + "+2, " + K + "+1, 'TPAC2', 'TDRUH_A');\n"
        "insert into VARIANTA (ID_VARIANTA, VARIANTA, VARIANTA_NAZEV) values (" + K + "+1, 'TVAR1', 'Test');\n"
        "insert into SKLAD (ID_SKLAD, SKLAD) values (" + K + "+1, 'TSK1');\n"
        "insert into CENIK (ID_CENIK, CENIK) values (" + K + "+1, 'TCE1');\n"
        "insert into KATEGORIE_PACIENTA (ID_KATEGORIE_PACIENTA, ID_PREDEK, KATEGORIE_PACIENTA) values (" + K +
            "+1, -1, 'TDRUH_A');\n"
        "commit;\n",
        db);
    ASSERT_EQ(r.exit_code, 0) << r.output;
    ASSERT_EQ(r.output.find("Statement failed"), std::string::npos) << r.output;
  }
}

// (With a merged daily-record detail, whose patient must stay main's.)
TEST_F(MeldrunKeysDb, TablesReadWholeChangeMainOnlyThroughTheRowsTheStationMarked) {
  AddParents(Main(), Station());
  // Each table: a row the station left as main gave it (its copy holds an older value,
  // main has changed it since), and a row the station changed.
  Exec(Main(),
       "insert into VARIANTA_PARTNER (ID_VARIANTA_PARTNER, ID_VARIANTA, ID_PARTNER, PARTNER, OBJEDNACI_KOD, PORADI, "
       "CENA) values (990001, 990001, 990001, 'TPAR1', 'K1', 1, 10);\n"
       "insert into VARIANTA_PARTNER (ID_VARIANTA_PARTNER, ID_VARIANTA, ID_PARTNER, PARTNER, OBJEDNACI_KOD, PORADI, "
       "CENA) values (990002, 990001, 990001, 'TPAR1', 'K2', 2, 10);\n"
       "insert into OZNACENI_ZAZNAMU (ID_OZNACENI_ZAZNAMU, OZNACENI_ZAZNAMU_NAZEV, BARVA) values (990001, 'TOZN1', 1);\n"
       "insert into OZNACENI_ZAZNAMU (ID_OZNACENI_ZAZNAMU, OZNACENI_ZAZNAMU_NAZEV, BARVA) values (990002, 'TOZN2', 1);\n"
       "insert into LABHODN (ID_LABHODN, ZKRATKA, HODNOCENI, POPIS) values (990001, 'TZK', 'H1', 'main');\n"
       "insert into LABHODN (ID_LABHODN, ZKRATKA, HODNOCENI, POPIS) values (990002, 'TZK', 'H2', 'main');\n"
       "insert into DENNI_ZAZNAM (ID_DENNI_ZAZNAM, ID_PACIENT, DATUM) values (990100, 990001, current_date);\n"
       "insert into DZS_ZUB (ID_DENNI_ZAZNAM, ID_ZUB, NALEZ) values (990100, 11, 'main');\n"
       "insert into DZS_ZUB (ID_DENNI_ZAZNAM, ID_ZUB, NALEZ) values (990100, 12, 'main');\n"
       "insert into DENNI_ZAZNAM_OFTALMO (ID_DENNI_ZAZNAM, ID_PACIENT, NALEZ_OD) values (990100, 990001, 'main');");
  Exec(Station(),
       "insert into VARIANTA_PARTNER (ID_VARIANTA_PARTNER, ID_VARIANTA, ID_PARTNER, PARTNER, OBJEDNACI_KOD, PORADI, "
       "CENA) values (880001, 880001, 880001, 'TPAR1', 'K1', 1, 20);\n"
       "insert into VARIANTA_PARTNER (ID_VARIANTA_PARTNER, ID_VARIANTA, ID_PARTNER, PARTNER, OBJEDNACI_KOD, PORADI, "
       "CENA, ST) values (880002, 880001, 880001, 'TPAR1', 'K2', 2, 30, 'U');\n"
       "insert into OZNACENI_ZAZNAMU (ID_OZNACENI_ZAZNAMU, OZNACENI_ZAZNAMU_NAZEV, BARVA) values (880001, 'TOZN1', 2);\n"
       "insert into OZNACENI_ZAZNAMU (ID_OZNACENI_ZAZNAMU, OZNACENI_ZAZNAMU_NAZEV, BARVA, ST) values (880002, 'TOZN2', "
       "3, 'U');\n"
       // A mark main has deleted since: the station's untouched copy does not bring it back.
       "insert into OZNACENI_ZAZNAMU (ID_OZNACENI_ZAZNAMU, OZNACENI_ZAZNAMU_NAZEV, BARVA) values (880003, 'TOZN3', 4);\n"
       "insert into LABHODN (ID_LABHODN, ZKRATKA, HODNOCENI, POPIS) values (880001, 'TZK', 'H1', 'station');\n"
       "insert into LABHODN (ID_LABHODN, ZKRATKA, HODNOCENI, POPIS, ST) values (880002, 'TZK', 'H2', 'station', 'U');\n"
       "insert into DZS_ZUB (ID_DENNI_ZAZNAM, ID_ZUB, NALEZ) values (990100, 11, 'station');\n"
       "insert into DZS_ZUB (ID_DENNI_ZAZNAM, ID_ZUB, NALEZ, ST) values (990100, 12, 'station', 'U');\n"
       // A detail merged by its daily record and patient code: main's patient stays.
       "insert into DENNI_ZAZNAM_OFTALMO (ID_DENNI_ZAZNAM, ID_PACIENT, NALEZ_OD, ST) values (990100, 880001, "
       "'station', 'U');");
  Options o;
  o.zaklad = o.karty = o.ciselniky = true;
  o.cycle = 1;
  Play(Station(), o);
  Check(Main(), {
      {"an untouched supplier code keeps main's price", "select cast(CENA as integer) as V from VARIANTA_PARTNER where "
       "ID_VARIANTA_PARTNER = 990001", "10"},
      {"a changed supplier code brings the station's price", "select cast(CENA as integer) as V from VARIANTA_PARTNER "
       "where ID_VARIANTA_PARTNER = 990002", "30"},
      {"an untouched mark keeps main's colour", "select BARVA as V from OZNACENI_ZAZNAMU where ID_OZNACENI_ZAZNAMU = "
       "990001", "1"},
      {"a changed mark brings the station's colour", "select BARVA as V from OZNACENI_ZAZNAMU where "
       "ID_OZNACENI_ZAZNAMU = 990002", "3"},
      {"an untouched mark main lacks is not added", "select count(*) as V from OZNACENI_ZAZNAMU where "
       "OZNACENI_ZAZNAMU_NAZEV = 'TOZN3'", "0"},
      {"an untouched evaluation keeps main's text", "select POPIS as V from LABHODN where ID_LABHODN = 990001", "main"},
      {"a changed evaluation brings the station's text", "select POPIS as V from LABHODN where ID_LABHODN = 990002",
       "station"},
      {"an untouched tooth keeps main's finding", "select NALEZ as V from DZS_ZUB where ID_DENNI_ZAZNAM = 990100 and "
       "ID_ZUB = 11", "main"},
      {"a changed tooth brings the station's finding", "select NALEZ as V from DZS_ZUB where ID_DENNI_ZAZNAM = 990100 "
       "and ID_ZUB = 12", "station"},
      {"a merged detail keeps main's key of its patient", "select NALEZ_OD||'/'||ID_PACIENT as V from "
       "DENNI_ZAZNAM_OFTALMO where ID_DENNI_ZAZNAM = 990100", "station/990001"},
  });
}

TEST_F(MeldrunKeysDb, NewRowsTwoStationsKeyedAlikeBothArriveAndAReplayAddsNothing) {
  // Both stations came from one delivery, so their generators give the same next key,
  // and main's generator too: main writes the first station's new rows under that key.
  const std::string device = Q1(Station(), "select min(ID_ZARIZENI) as V from ZARIZENI");
  const std::string department =
      Q1(Station(), "select min(ID_ODDELENI) as V from ODDELENI where ID_ZARIZENI = " + device);
  const std::string user = Q1(Station(), "select min(ID_UZIVATEL) as V from UZIVATEL_NEW");
  const std::string second = dir_.File("st2.fdb"), replay = dir_.File("st2b.fdb");
  PlayPractice::CopyTo("st.fdb", second);
  Exec(Main(),
       "set generator GEN_ODDELENI to 880499;\nset generator GEN_ZARIZENI_BANKA to 880499;\n"
       "set generator GEN_PRACOVISTE to 880499;\nset generator GEN_PRACUZIV to 880499;");
  for (const auto& [db, name] : {std::pair{Station(), std::string("A")}, std::pair{second, std::string("B")}}) {
    Exec(db, "insert into ODDELENI (ID_ODDELENI, ID_ZARIZENI, NAZEV, ZKRATKA, ST) values (880500, " + device +
                 ", 'TOdd " + name + "', 'T" + name + "', 'I');\n"
                 "insert into ZARIZENI_BANKA (ID_ZARIZENI_BANKA, ID_ZARIZENI, BANKA, UCET, NAZEV, ST) values (880500, " +
                 device + ", '0100', 'U" + name + "', 'Účet " + name + "', 'I');\n"
                 // A workplace of a department main has, and a user of it.
                 "insert into PRACOVISTE (ID_PRACOVISTE, ID_ZARIZENI, ID_ODDELENI, NAZEV, ST) values (880500, " +
                 device + ", " + department + ", 'TPrac " + name + "', 'I');\n"
                 "insert into PRACUZIV (ID_PRACUZIV, ID_PRACOVISTE, ID_ZARIZENI, ID_UZIVATEL, ST) values (880500, "
                 "880500, " + device + ", " + user + ", 'I');");
  }
  fs::copy_file(second, replay);
  Options o;
  o.org = true;
  Play(Station(), o, 0, 2);
  Play(second, o, 1, 2);
  const std::vector<Expect> both = {
      {"the first station's department", "select count(*) as V from ODDELENI where NAZEV = 'TOdd A'", "1"},
      {"the second station's department", "select count(*) as V from ODDELENI where NAZEV = 'TOdd B'", "1"},
      {"the first station's account", "select count(*) as V from ZARIZENI_BANKA where UCET = 'UA'", "1"},
      {"the second station's account", "select count(*) as V from ZARIZENI_BANKA where UCET = 'UB'", "1"},
      {"the departments' keys differ", "select count(distinct ID_ODDELENI) as V from ODDELENI where NAZEV starting "
       "'TOdd '", "2"},
      {"the first station's workplace", "select count(*) as V from PRACOVISTE where NAZEV = 'TPrac A'", "1"},
      {"the second station's workplace", "select count(*) as V from PRACOVISTE where NAZEV = 'TPrac B'", "1"},
      {"each workplace has its user", "select count(*) as V from PRACUZIV u join PRACOVISTE p on p.ID_PRACOVISTE = "
       "u.ID_PRACOVISTE where p.NAZEV starting 'TPrac '", "2"},
  };
  Check(Main(), both);
  // The second station's department maps to its own row, for the workplaces and finishing.
  EXPECT_EQ(Q1(second, "select ID_ODDELENI_NEW as V from ODDELENI where ID_ODDELENI = 880500"),
            Q1(Main(), "select ID_ODDELENI as V from ODDELENI where NAZEV = 'TOdd B'"));
  const std::string departments = Q1(Main(), "select count(*) as V from ODDELENI");
  const std::string accounts = Q1(Main(), "select count(*) as V from ZARIZENI_BANKA");
  const std::string workplaces = Q1(Main(), "select count(*) as V from PRACOVISTE");
  const std::string users = Q1(Main(), "select count(*) as V from PRACUZIV");
  // The same station data again: found by what they hold, nothing is added.
  Play(replay, o, 1, 2);
  Check(Main(), both);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from ODDELENI"), departments);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from ZARIZENI_BANKA"), accounts);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PRACOVISTE"), workplaces);
  EXPECT_EQ(Q1(Main(), "select count(*) as V from PRACUZIV"), users);
  EXPECT_EQ(Q1(replay, "select ID_ODDELENI_NEW as V from ODDELENI where ID_ODDELENI = 880500"),
            Q1(Main(), "select ID_ODDELENI as V from ODDELENI where NAZEV = 'TOdd B'"));
}

TEST_F(MeldrunKeysDb, TheDeviceQuestionsEnterKeepsMainsDevice) {
  const std::string device = Q1(Main(), "select min(ID_ZARIZENI) as V from ZARIZENI");
  const std::string name = Q1(Main(), "select NAZEV as V from ZARIZENI where ID_ZARIZENI = " + device);
  Exec(Station(), "update ZARIZENI set NAZEV = 'Jiné zařízení', ST = 'U' where ID_ZARIZENI = " + device + ";");
  // Every question answered as Enter answers it.
  int32_t asked = 0;
  SetDialogResponder([&asked](const TDialogRequest& r) {
    if (r.Text.find(CZ("Jiné zařízení")) != AnsiString::npos) ++asked;
    return r.DefaultResult;
  });
  Options o;
  o.org = true;
  Play(Station(), o);
  EXPECT_EQ(asked, 1);
  Check(Main(), {
      {"main's device keeps its name", ("select NAZEV as V from ZARIZENI where ID_ZARIZENI = " + device).c_str(),
       name.c_str()},
      {"the station's device is added beside it", "select count(*) as V from ZARIZENI where NAZEV = 'Jiné zařízení'",
       "1"},
  });
}

TEST_F(MeldrunKeysDb, AMergedPatientTakesMainsSpeciesNeverTheStationsKey) {
  AddParents(Main(), Station());
  Exec(Main(), "update PACIENT set ID_DRUH = 990001 where ID_PACIENT in (990001, 990002);");
  Exec(Station(),
       // A species new at the station, played into main under a key of main's.
       "insert into KATEGORIE_PACIENTA (ID_KATEGORIE_PACIENTA, ID_PREDEK, KATEGORIE_PACIENTA, ST) values (880002, -1, "
       "'TDRUH_B', 'I');\n"
       "update PACIENT set DRUH = 'TDRUH_B', ID_DRUH = 880002, JMENO = 'Rex', ST = 'U' where ID_PACIENT = 880001;\n"
       // A species name main does not know: main's species stays.
       "update PACIENT set DRUH = 'TDRUH_X', ID_DRUH = 880009, JMENO = 'Max', ST = 'U' where ID_PACIENT = 880002;");
  Options o;
  o.zaklad = true;
  o.last = false;
  Play(Station(), o);
  Check(Main(), {
      {"the merge happened", "select JMENO as V from PACIENT where ID_PACIENT = 990001", "Rex"},
      {"the species is main's key of the station's species",
       "select iif(p.ID_DRUH = k.ID_KATEGORIE_PACIENTA, 'main key', p.ID_DRUH) as V from PACIENT p, "
       "KATEGORIE_PACIENTA k where p.ID_PACIENT = 990001 and k.KATEGORIE_PACIENTA = 'TDRUH_B'",
       "main key"},
      {"an unknown species keeps main's", "select JMENO||'/'||ID_DRUH as V from PACIENT where ID_PACIENT = 990002",
       "Max/990001"},
  });
}

TEST_F(MeldrunKeysDb, TheMemoryImportResolvesEveryReferenceOrRefusesTheRow) {
  AddParents(Main(), Station());
  Exec(Main(), "insert into ZADANKA (ID_ZADANKA, ID_PACIENT, ZADANKA) values (990005, 990001, 'TZ1');");
  Exec(Station(),
       // A user new at the station: main gives it a key of its own.
       "insert into UZIVATEL_NEW (ID_UZIVATEL, ZKRATKA, JMENO, ST) values (880001, 'TUSR', 'Test', 'I');\n"
       "insert into ZADANKA (ID_ZADANKA, ID_PACIENT, ZADANKA) values (880005, 880001, 'TZ1');\n"
       "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_PREDEK, ID_PARTNER, ID_ZALOZIL, ID_MODIFIKOVAL, "
       "ID_VLASTNI_ZASTUPCE, ID_SKLAD_CIL, SKLAD_CIL, ID_CENIK, ST) values (880001, 'TD1', 'PD', -1, -1, 880001, "
       "880001, 880001, 880001, 'TSK1', 880001, 'I');\n"
       // Made by a user neither database knows.
       "insert into DOKLAD (ID_DOKLAD, DOKLAD, TYP_DOKLADU, ID_PREDEK, ID_PARTNER, ID_ZALOZIL, ST) values (880002, "
       "'TD2', 'PD', -1, -1, 870000, 'I');\n"
       "insert into DOKLAD_POLOZKA_PD (ID_DOKLAD_POLOZKA, ID_DOKLAD, VARIANTA, ZALOZENI_ZAZNAMU, CAS, ID_ZALOZIL, "
       "ID_MODIFIKOVAL, ST) values (880001, 880001, 'TVAR1', '2026-05-01', '10:00:00', 880001, 880001, 'I');\n"
       "insert into DENNI_ZAZNAM (ID_DENNI_ZAZNAM, ID_PACIENT, DATUM, CAS, ID_DOKLAD, ID_PRIPAD, ID_SKLAD, "
       "ID_ORG_JEDNOTKA, ID_ZALOZIL, ID_MODIFIKOVAL, ID_ZADANKA, ST) values (880001, 880001, '2026-05-01', "
       "'10:00:00', -1, -1, 880001, 880001, 880001, 880001, 880005, 'I');");
  Options o;
  o.org = o.zaklad = o.doklady = true;
  Play(Station(), o);
  const char* user = "(select ID_UZIVATEL from UZIVATEL_NEW where ZKRATKA = 'TUSR')";
  // (The source-key columns are cleared at the end of the run.)
  static const char* const kDay = "ID_PACIENT = 990001 and DATUM = '2026-05-01'";
  static const char* const kItem = "ID_DOKLAD = (select ID_DOKLAD from DOKLAD where DOKLAD = 'TD1')";
  auto same = [user](const std::string& column, const std::string& table, const std::string& where) {
    return "select iif(" + column + " = " + user + ", 'main key', " + column + ") as V from " + table + " where " +
           where;
  };
  std::vector<std::string> sql;
  for (const char* c : {"ID_ZALOZIL", "ID_MODIFIKOVAL", "ID_VLASTNI_ZASTUPCE"}) sql.push_back(same(c, "DOKLAD", "DOKLAD = 'TD1'"));
  for (const char* c : {"ID_ZALOZIL", "ID_MODIFIKOVAL", "ID_ORG_JEDNOTKA"})
    sql.push_back(same(c, "DENNI_ZAZNAM", kDay));
  for (const char* c : {"ID_ZALOZIL", "ID_MODIFIKOVAL"}) sql.push_back(same(c, "DOKLAD_POLOZKA_PD", kItem));
  for (const std::string& s : sql) EXPECT_EQ(Q1(Main(), s), "main key") << s;
  Check(Main(), {
      {"the document's target store by its code", "select ID_SKLAD_CIL as V from DOKLAD where DOKLAD = 'TD1'",
       "990001"},
      {"the document's price list, without a code of its own, by the station's code",
       "select ID_CENIK as V from DOKLAD where DOKLAD = 'TD1'", "990001"},
      {"the daily record's store by the station store's code",
       "select ID_SKLAD as V from DENNI_ZAZNAM where ID_PACIENT = 990001 and DATUM = '2026-05-01'", "990001"},
      {"the daily record's request by its patient and number",
       "select ID_ZADANKA as V from DENNI_ZAZNAM where ID_PACIENT = 990001 and DATUM = '2026-05-01'", "990005"},
      {"a document of an unknown user is not written", "select count(*) as V from DOKLAD where DOKLAD = 'TD2'", "0"},
  });
  EXPECT_EQ(Q1(Station(), "select ST as V from DOKLAD where ID_DOKLAD = 880002"), "I");
  EXPECT_EQ(Q1(Station(), "select count(*) as V from DOKLAD where ID_DOKLAD = 880001 and ST is not null"), "0");
  bool listed = false;
  for (int32_t i = 0; i < dm_.ErrorList().Count(); ++i)
    if (dm_.ErrorList().Strings(i).find("TD2") != std::string::npos) listed = true;
  EXPECT_TRUE(listed) << "the refused document is listed for Errors.txt";
  dm_.ErrorList().Clear();  // written at the module's end, after the test's directory is gone
  const std::string mapping = "DOKLAD|880001|" + Q1(Main(), "select ID_DOKLAD as V from DOKLAD where DOKLAD = 'TD1'");
  bool mapped = false;
  const TStringList& list = *dm_.StationMappings()[0];
  for (int32_t i = 0; i < list.Count(); ++i)
    if (list.Strings(i) == mapping) mapped = true;
  EXPECT_TRUE(mapped) << mapping;
}

TEST_F(MeldrunKeysDb, ASalesReceiptOfAnUnknownStoreOrPriceListRefersToNoRow) {
  Exec(Station(),
       "insert into PRODEJKA (ID_PRODEJKA, PRODEJKA, SKLAD, ID_SKLAD, CENIK, ID_CENIK, ZALOZENI_ZAZNAMU, ID_PARTNER, "
       "ST) values (880001, 'TPR1', 'NEZNAMY', 880001, 'NEZNAMY', 880001, current_date, -1, 'I');");
  Options o;
  o.karty = true;
  o.cycle = 1;
  Play(Station(), o);
  Check(Main(), {{"no station key, the codes kept",
                  "select ID_SKLAD||'/'||ID_CENIK||'/'||SKLAD||'/'||CENIK as V from PRODEJKA where PRODEJKA = 'TPR1'",
                  "-1/-1/NEZNAMY/NEZNAMY"}});
}

}  // namespace
}  // namespace pelvar::test
