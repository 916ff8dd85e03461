// The practice database: the schema scripts of tests/fixtures and the data generator of
// tools/practice, checked against real databases made through the embedded engine.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "support/practice.h"

namespace pelvar::test {
namespace {

// ---------------------------------------------------------------------------------------
// Schema scripts

TEST(PracticeSchema, VersionFunctionsAndKeyTrigger) {
  auto db = PracticeSchemaDb();
  const std::string path = db->Path();
  EXPECT_EQ(QueryOne(path, "select VERZE as V from VERZE;"), "200824");

  struct Case {
    std::string expr, expected;
  } cases[] = {
      {"snvl(null, 'x')", "x"},
      {"snvl('abc', 'x')", "abc"},
      {"snvl('', 'x')", ""},
      // Fixed-length casts lose their padding, so they compare with unpadded text.
      {"'[' || snvl(cast(12 as char(10)), '') || ']'", "[12]"},
      {"snvl(cast('Žluťoučký' as varchar(20)), '')", "Žluťoučký"},
      {"DATETOSTR(date '2024-01-05', '%d.%m.%Y')", "05.01.2024"},
      {"DATETOSTR(date '2024-01-05', '%d.%m.%y')", "05.01.24"},
      {"DATETOSTR(date '2009-11-30', '%Y-%m-%d')", "2009-11-30"},
      {"DATETOSTR(timestamp '2024-12-31 23:59:00', '%d.%m.%Y')", "31.12.2024"},
      {"coalesce(DATETOSTR(null, '%d.%m.%Y'), 'NULL')", "NULL"},
      {"snvl(DATETOSTR(null, '%d.%m.%Y'), '')", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(QueryOne(path, "select " + c.expr + " as V from rdb$database;"), c.expected) << c.expr;

  // PRIPAD takes its key from its generator when the insert gives none; the patient's
  // after-post insert of the play-in relies on it.
  db->RunSql(
      "set generator GEN_PRIPAD to 41;\n"
      "insert into PRIPAD (ID_PACIENT, PRIPAD, AKTIVNI) values (1, 'Nezařazené návštěvy', 'O');\n"
      "insert into PRIPAD (ID_PRIPAD, ID_PACIENT, PRIPAD) values (7, 1, 'Kulhání');\ncommit;\n");
  EXPECT_EQ(Query(path, "select ID_PRIPAD as V from PRIPAD order by 1;"),
            (std::vector<std::string>{"7", "42"}));
  EXPECT_EQ(QueryOne(path, "select PRIPAD as V from PRIPAD where ID_PRIPAD = 42;"), "Nezařazené návštěvy");
}

TEST(PracticeSchema, JournalTriggersFollowTheSwitch) {
  auto db = PracticeSchemaDb();
  const std::string path = db->Path();
  const auto journal = [&] { return QueryOne(path, "select count(*) as V from ZURNAL;"); };

  db->RunSql("execute procedure SET_ZURNAL_TRIGGERS(0);\ncommit;\n"
             "insert into PACIENT (ID_PACIENT, PACIENT) values (1, 'A1');\ncommit;\n");
  EXPECT_EQ(journal(), "0");

  db->RunSql("execute procedure SET_ZURNAL_TRIGGERS(1);\ncommit;\n"
             "insert into PACIENT (ID_PACIENT, PACIENT) values (2, 'A2');\ncommit;\n");
  EXPECT_EQ(journal(), "1");
  EXPECT_EQ(QueryOne(path, "select TABULKA || '/' || ID_ZAZNAM || '/' || AKCE as V from ZURNAL;"), "PACIENT/2/I");

  // Updates and deletes are journalled too, under the row's key; composite keys use their
  // first key column.
  db->RunSql("update PACIENT set JMENO = 'Ťapka' where ID_PACIENT = 2;\n"
             "delete from PACIENT where ID_PACIENT = 1;\n"
             "insert into DZS_ZUB (ID_DENNI_ZAZNAM, ID_ZUB) values (5, 11);\n"
             "insert into DOKLAD_POLOZKA_SK (ID_DOKLAD_POLOZKA) values (9);\ncommit;\n");
  EXPECT_EQ(Query(path, "select TABULKA || '/' || ID_ZAZNAM || '/' || AKCE as V from ZURNAL order by ID_ZURNAL;"),
            (std::vector<std::string>{"PACIENT/2/I", "PACIENT/2/U", "PACIENT/1/D", "DZS_ZUB/5/I",
                                      "DOKLAD_POLOZKA_SK/9/I"}));
  // The journal keys come from GEN_ZURNAL.
  EXPECT_EQ(QueryOne(path, "select gen_id(GEN_ZURNAL, 0) - max(ID_ZURNAL) as V from ZURNAL;"), "0");

  // The switch is stored in the database, so another connection sees it.
  db->RunSql("execute procedure SET_ZURNAL_TRIGGERS(0);\ncommit;\n");
  db->RunSql("update PACIENT set JMENO = 'Rex' where ID_PACIENT = 2;\ncommit;\n");
  EXPECT_EQ(journal(), "5");
}

TEST(PracticeSchema, TablesFollowTheConventions) {
  auto db = PracticeSchemaDb();
  const std::string path = db->Path();
  const std::string user_tables = "rdb$relations r where r.rdb$system_flag = 0 and r.rdb$view_blr is null";

  // 84 played tables carry the change marker; with the 13 tables finishing copies back and
  // the journal switch there are 98.
  EXPECT_EQ(QueryOne(path, "select count(*) as V from " + user_tables + ";"), "98");
  EXPECT_EQ(QueryOne(path, "select count(*) as V from rdb$relation_fields f join rdb$relations r on"
                           " r.rdb$relation_name = f.rdb$relation_name where r.rdb$system_flag = 0 and"
                           " f.rdb$field_name = 'ST';"),
            "84");
  // Every table has a declared primary key and none a foreign key.
  EXPECT_EQ(Query(path, "select trim(r.rdb$relation_name) as V from " + user_tables +
                            " and not exists (select 1 from rdb$relation_constraints c where c.rdb$relation_name ="
                            " r.rdb$relation_name and c.rdb$constraint_type = 'PRIMARY KEY');"),
            std::vector<std::string>{});
  EXPECT_EQ(QueryOne(path, "select count(*) as V from rdb$relation_constraints"
                           " where rdb$constraint_type = 'FOREIGN KEY';"),
            "0");
  // The play-in adds the _NEW columns itself.
  EXPECT_EQ(QueryOne(path, "select count(*) as V from rdb$relation_fields"
                           " where rdb$field_name like '%\\_NEW' escape '\\';"),
            "0");
  // Every played table but those keyed by a parent's key or without a generator of their own
  // has GEN_<table>; the exceptions have the names the play-in uses.
  const auto missing = Query(
      path, "select trim(r.rdb$relation_name) as V from " + user_tables +
                " and exists (select 1 from rdb$relation_fields f where f.rdb$relation_name = r.rdb$relation_name"
                " and f.rdb$field_name = 'ST') and not exists (select 1 from rdb$generators g where"
                " g.rdb$generator_name = 'GEN_' || r.rdb$relation_name) order by 1;");
  const std::vector<std::string> expected_missing = {
      "DENNI_ZAZNAM_DROBNI_SAVCI", "DENNI_ZAZNAM_MEKKE_TKANE", "DENNI_ZAZNAM_OFTALMO", "DENNI_ZAZNAM_ORTOPED",
      "DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_STOMATO", "DOKLAD_POLOZKA_BV", "DOKLAD_POLOZKA_FA", "DOKLAD_POLOZKA_PD",
      "DOKLAD_POLOZKA_SK", "DOKLAD_POLOZKA_UM", "DOKLAD_POLOZKA_UZ", "DZS_ZUB", "HODNOCENI",
      "SKUPINA_OBRAZOVE_DOKUMENTACE", "UZIVATEL_NEW"};
  EXPECT_EQ(missing, expected_missing);
  EXPECT_EQ(Query(path, "select trim(rdb$generator_name) as V from rdb$generators where rdb$generator_name in"
                        " ('GEN_UZIVATEL', 'GEN_SKUPINA_OBR_DOK', 'GEN_DOKLAD_POLOZKA', 'GEN_DOKLAD',"
                        " 'GEN_DENNI_ZAZNAM', 'GEN_LABVD', 'GEN_LAB_VAZBY', 'GEN_ZURNAL') order by 1;"),
            (std::vector<std::string>{"GEN_DENNI_ZAZNAM", "GEN_DOKLAD", "GEN_DOKLAD_POLOZKA", "GEN_LABVD",
                                      "GEN_LAB_VAZBY", "GEN_SKUPINA_OBR_DOK", "GEN_UZIVATEL", "GEN_ZURNAL"}));
  // Finishing copies the journal's first eleven columns by position.
  EXPECT_EQ(Query(path, "select trim(rdb$field_name) as V from rdb$relation_fields where rdb$relation_name ="
                        " 'ZURNAL' and rdb$field_position < 4 order by rdb$field_position;"),
            (std::vector<std::string>{"ID_ZURNAL", "TABULKA", "ID_ZAZNAM", "DATUM"}));
  EXPECT_GE(std::stoi(QueryOne(path, "select count(*) as V from rdb$relation_fields"
                                     " where rdb$relation_name = 'ZURNAL';")),
            11);
}

TEST(PracticeSchema, OlderVersionsLackTheirTables) {
  struct Case {
    int version;
    std::set<std::string> missing;
    int fraze_columns;
  } cases[] = {
      {200701, {}, 12},
      {200628, {"DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_DROBNI_SAVCI", "DOKLAD_POLOZKA_UZ", "LAB_VAZBY"}, 12},
      {200625, {"DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_DROBNI_SAVCI", "DOKLAD_POLOZKA_UZ", "LAB_VAZBY"}, 12},
      {200624,
       {"DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_DROBNI_SAVCI", "DOKLAD_POLOZKA_UZ", "LAB_VAZBY", "DENNI_ZAZNAM_ORTOPED"},
       4},
  };
  const std::string gated =
      "('DENNI_ZAZNAM_PLAZI', 'DENNI_ZAZNAM_DROBNI_SAVCI', 'DOKLAD_POLOZKA_UZ', 'LAB_VAZBY', 'DENNI_ZAZNAM_ORTOPED')";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.version);
    auto db = PracticeSchemaDb();
    db->RunSqlFile(Fixture("practice_version_" + std::to_string(c.version) + ".sql"));
    EXPECT_EQ(QueryOne(db->Path(), "select VERZE as V from VERZE;"), std::to_string(c.version));
    const auto present = Query(db->Path(), "select trim(rdb$relation_name) as V from rdb$relations where"
                                           " rdb$relation_name in " + gated + ";");
    std::set<std::string> missing = {"DENNI_ZAZNAM_PLAZI", "DENNI_ZAZNAM_DROBNI_SAVCI", "DOKLAD_POLOZKA_UZ",
                                     "LAB_VAZBY", "DENNI_ZAZNAM_ORTOPED"};
    for (const auto& t : present) missing.erase(t);
    EXPECT_EQ(missing, c.missing);
    EXPECT_EQ(QueryOne(db->Path(), "select count(*) as V from rdb$relation_fields where rdb$relation_name = 'FRAZE';"),
              std::to_string(c.fraze_columns));
  }
}

// ---------------------------------------------------------------------------------------
// Generator

class PracticeGenerator : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new TempDir("pelvar-practice");
    const CommandResult r = GeneratePractice({"--seed", "1", "--size", "small", "--main", Main(), "--station", Station(1),
                                      "--station", Station(2)});
    ASSERT_EQ(r.exit_code, 0) << r.output;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string Main() { return dir_->File("main.fdb"); }
  static std::string Station(int n) { return dir_->File("st" + std::to_string(n) + ".fdb"); }

  static TempDir* dir_;
};
TempDir* PracticeGenerator::dir_ = nullptr;

TEST_F(PracticeGenerator, SameSeedGivesTheSameDatabases) {
  // A run of its own, not a copy of the shared practice.
  TempDir again("pelvar-practice");
  const CommandResult r = RunPracticeGenerator({"--seed", "1", "--size", "small", "--main", again.File("main.fdb"), "--station",
                                    again.File("st1.fdb"), "--station", again.File("st2.fdb")});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(PracticeChecksum(again.File("main.fdb")), PracticeChecksum(Main()));
  EXPECT_EQ(PracticeChecksum(again.File("st1.fdb")), PracticeChecksum(Station(1)));
  EXPECT_EQ(PracticeChecksum(again.File("st2.fdb")), PracticeChecksum(Station(2)));
  // The two stations differ from each other and from the main database.
  EXPECT_NE(PracticeChecksum(Station(1)), PracticeChecksum(Station(2)));
  EXPECT_NE(PracticeChecksum(Station(1)), PracticeChecksum(Main()));

  TempDir other("pelvar-practice");
  ASSERT_EQ(GeneratePractice({"--seed", "2", "--size", "small", "--main", other.File("main.fdb")}).exit_code, 0);
  EXPECT_NE(PracticeChecksum(other.File("main.fdb")), PracticeChecksum(Main()));
}

TEST_F(PracticeGenerator, MainDatabaseHoldsAPracticeWithoutMarks) {
  const std::string main = Main();
  EXPECT_EQ(QueryOne(main, "select VERZE as V from VERZE;"), "200824");
  // Every table the play-in reads has rows.
  const auto empty = QueryBlock(main, "execute block returns (V varchar(31)) as declare n integer; begin"
                                 " for select trim(rdb$relation_name) from rdb$relations where rdb$system_flag = 0"
                                 " and rdb$view_blr is null and rdb$relation_name <> 'ZURNAL_STAV' into :V do begin"
                                 " execute statement 'select count(*) from ' || V into :n; if (n = 0) then suspend;"
                                 " end end");
  EXPECT_EQ(empty, std::vector<std::string>{});
  EXPECT_EQ(QueryOne(main, "select count(*) as V from PACIENT where ST is not null;"), "0");
  // Czech texts arrive intact; the invented CHAR column keeps its padding.
  EXPECT_EQ(QueryOne(main, "select count(*) as V from PRIPAD"
                           " where PRIPAD = 'Nezařazené návštěvy' and AKTIVNI = 'O';"),
            QueryOne(main, "select count(*) as V from PACIENT where ID_PACIENT > 0;"));
  EXPECT_EQ(QueryOne(main, "select min(octet_length(CIP)) as V from PACIENT;"), "15");
  EXPECT_EQ(QueryOne(main, "select count(*) as V from PACIENT where ID_TABLE_STATUS not in"
                           " (select ID_PRIPAD from PRIPAD where AKTIVNI = 'O');"),
            "0");
  // Document items of all kinds refer to existing documents of their kind.
  for (const std::string kind : {"FA", "PD", "UM", "SK", "BV", "UZ"}) {
    EXPECT_EQ(QueryOne(main, "select count(*) as V from DOKLAD_POLOZKA_" + kind +
                                 " p left join DOKLAD d on d.ID_DOKLAD = p.ID_DOKLAD where d.ID_DOKLAD is null;"),
              "0")
        << kind;
  }
  // The journal triggers are on, as in a working practice.
  EXPECT_EQ(QueryOne(main, "select AKTIVNI as V from ZURNAL_STAV;"), "1");
}

// References and the copies of a parent's codes agree, in the main database and at the
// stations, so that the play-in's natural keys find what the rows refer to.
TEST_F(PracticeGenerator, ReferencesAndCopiedCodesAgree) {
  const std::vector<std::string> inconsistent = {
      "select count(*) as V from DENNI_ZAZNAM z join PRIPAD p on p.ID_PRIPAD = z.ID_PRIPAD"
      " where p.ID_PACIENT <> z.ID_PACIENT or p.PRIPAD <> z.PRIPAD;",
      "select count(*) as V from DENNI_ZAZNAM z where not exists (select 1 from PACIENT p where"
      " p.ID_PACIENT = z.ID_PACIENT);",
      "select count(*) as V from (select ID_PACIENT from PRIPAD where AKTIVNI = 'A' group by 1 having count(*) > 1);",
      "select count(*) as V from (select ID_PACIENT from PRIPAD where AKTIVNI = 'O' group by 1 having count(*) <> 1);",
      "select count(*) as V from DOKLAD d join PARTNER p on p.ID_PARTNER = d.ID_PARTNER where d.PARTNER <> p.PARTNER;",
      "select count(*) as V from DOKLAD d join DOKLAD v on v.ID_DOKLAD = d.ID_PREDEK"
      " where d.DOKLAD_PUVODNI <> v.DOKLAD;",
      "select count(*) as V from (select DOKLAD, TYP_DOKLADU from DOKLAD group by 1, 2 having count(*) > 1);",
      "select count(*) as V from DOKLAD_POLOZKA_UM i join VARIANTA v on v.ID_VARIANTA = i.ID_VARIANTA"
      " where i.VARIANTA <> v.VARIANTA;",
      "select count(*) as V from VARIANTA_SKLAD vs join SKLAD s on s.ID_SKLAD = vs.ID_SKLAD where vs.SKLAD <> s.SKLAD;",
      "select count(*) as V from VARIANTA_CENIK vc join CENIK c on c.ID_CENIK = vc.ID_CENIK where vc.CENIK <> c.CENIK;",
      "select count(*) as V from PACIENT p join KATEGORIE_PACIENTA k on k.ID_KATEGORIE_PACIENTA = p.ID_DRUH"
      " where k.KATEGORIE_PACIENTA <> p.DRUH or k.ID_PREDEK <> -1;",
      "select count(*) as V from KATEGORIE_PACIENTA k join KATEGORIE_PACIENTA r on r.ID_KATEGORIE_PACIENTA ="
      " k.ID_PREDEK where k.PREDEK <> r.KATEGORIE_PACIENTA;",
      "select count(*) as V from RECEPTAR r join RECEPTAR g on g.ID_RECEPTAR = r.ID_PREDEK where r.OBLAST <> g.OBLAST;",
      "select count(*) as V from DENNI_ZAZNAM_OFTALMO o join DENNI_ZAZNAM z on z.ID_DENNI_ZAZNAM = o.ID_DENNI_ZAZNAM"
      " where z.ID_PACIENT <> o.ID_PACIENT;",
      "select count(*) as V from LABVD d where not exists (select 1 from LABVH h where h.ID_LABVH = d.ID_LABVH);",
      "select count(*) as V from PRACOVISTE p join ODDELENI o on o.ID_ODDELENI = p.ID_ODDELENI"
      " where o.ID_ZARIZENI <> p.ID_ZARIZENI;",
      "select count(*) as V from (select PACIENT from PACIENT group by 1 having count(*) > 1);",
      "select count(*) as V from (select PARTNER from PARTNER group by 1 having count(*) > 1);",
  };
  for (const auto& database : {Main(), Station(1), Station(2)}) {
    for (const auto& sql : inconsistent) EXPECT_EQ(QueryOne(database, sql), "0") << database << ": " << sql;
  }
}

TEST_F(PracticeGenerator, StationsMarkTheirChangesAndCollide) {
  const std::string st1 = Station(1), st2 = Station(2), main = Main();
  // Every played table has marked rows at each station.
  const std::string unmarked =
      "execute block returns (V varchar(31)) as declare n integer; begin"
      " for select trim(f.rdb$relation_name) from rdb$relation_fields f join rdb$relations r on"
      " r.rdb$relation_name = f.rdb$relation_name where f.rdb$field_name = 'ST' and r.rdb$system_flag = 0 into :V do"
      " begin execute statement 'select count(*) from ' || V || ' where ST is not null' into :n;"
      " if (n = 0) then suspend; end end";
  EXPECT_EQ(QueryBlock(st1, unmarked), std::vector<std::string>{});
  EXPECT_EQ(QueryBlock(st2, unmarked), std::vector<std::string>{});
  for (const auto& st : {st1, st2}) {
    EXPECT_EQ(Query(st, "select distinct ST as V from PACIENT where ST is not null order by 1;"),
              (std::vector<std::string>{"I", "U"}));
    // The rows a station added start above the keys it took over from the main database...
    EXPECT_GT(std::stoi(QueryOne(st, "select min(ID_PACIENT) as V from PACIENT where ST = 'I';")),
              std::stoi(QueryOne(main, "select max(ID_PACIENT) as V from PACIENT"
                                       " where PACIENT not starting with 'AM';")));
    // ... and its generators stand at its highest keys.
    EXPECT_EQ(QueryOne(st, "select gen_id(GEN_PACIENT, 0) - max(ID_PACIENT) as V from PACIENT;"), "0");
    EXPECT_EQ(QueryOne(st, "select AKTIVNI as V from ZURNAL_STAV;"), "1");
    // Each change has its journal row.
    EXPECT_EQ(QueryOne(st, "select count(*) as V from PACIENT p where p.ST is not null and not exists (select 1"
                           " from ZURNAL z where z.TABULKA = 'PACIENT' and z.ID_ZAZNAM = p.ID_PACIENT);"),
              "0");
  }
  // The same key stands for different patients at the two stations and in the main database.
  const std::string key = QueryOne(st1, "select max(ID_PACIENT) as V from PACIENT;");
  const std::string by_key = "select PACIENT as V from PACIENT where ID_PACIENT = " + key + ";";
  EXPECT_NE(QueryOne(st1, by_key), QueryOne(st2, by_key));
  const std::string main_new =
      QueryOne(main, "select min(ID_PACIENT) as V from PACIENT where PACIENT starting with 'AM';");
  EXPECT_EQ(QueryOne(st1, "select min(ID_PACIENT) as V from PACIENT where ST = 'I';"), main_new);
  // Both stations created the same natural keys, with contents of their own.
  const std::vector<std::string> shared = {
      "select PARTNER as V from PARTNER where ST = 'I' and PARTNER like '%X%';",
      "select PACIENT as V from PACIENT where ST = 'I' and PACIENT like '%X%';",
      "select DIAGNOZA as V from DIAGNOZA where ST = 'I' and DIAGNOZA like '%X%';"};
  for (const auto& sql : shared) {
    const auto a = Query(st1, sql);
    ASSERT_EQ(a.size(), 1u) << sql;
    EXPECT_EQ(a, Query(st2, sql)) << sql;
  }
  EXPECT_NE(QueryOne(st1, "select SLEVA as V from PARTNER where PARTNER like '%X%';"),
            QueryOne(st2, "select SLEVA as V from PARTNER where PARTNER like '%X%';"));
}

TEST_F(PracticeGenerator, StationBackupRestores) {
  TempDir dir("pelvar-practice");
  const std::string backup = dir.File("st1.fbk"), restored = dir.File("st1.fdb");
  CommandResult r = RunCommand({"gbak", "-b", "-user", kSysdbaUser, "-password", kSysdbaPassword, Station(1), backup});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  r = RunCommand({"gbak", "-c", "-user", kSysdbaUser, "-password", kSysdbaPassword, backup, restored});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(PracticeChecksum(restored), PracticeChecksum(Station(1)));
}

// A practice is generated once and handed out as copies: each test gets files of its
// own, without forced writes, which it may change without touching the next copy.
TEST_F(PracticeGenerator, SharedPracticesAreCopiesATestMayChange) {
  TempDir dir("pelvar-practice");
  const std::string checksum = PracticeChecksum(Station(2));
  ASSERT_EQ(GeneratePractice({"--seed", "1", "--size", "small", "--main", dir.File("m.fdb"), "--station",
                              dir.File("a.fdb"), "--station", dir.File("b.fdb")})
                .exit_code,
            0);
  EXPECT_EQ(PracticeChecksum(dir.File("b.fdb")), checksum);
  const CommandResult header = RunCommand({"fbstat", "-h", dir.File("b.fdb")});
  ASSERT_EQ(header.exit_code, 0) << header.output;
  ASSERT_NE(header.output.find("Attributes"), std::string::npos) << header.output;
  EXPECT_EQ(header.output.find("force write"), std::string::npos) << header.output;

  RunIsql("delete from PACIENT;\ncommit;\n", dir.File("b.fdb"));
  EXPECT_EQ(QueryOne(dir.File("b.fdb"), "select count(*) as V from PACIENT;"), "0");
  ASSERT_EQ(GeneratePractice({"--seed", "1", "--size", "small", "--main", dir.File("m2.fdb"), "--station",
                              dir.File("a2.fdb"), "--station", dir.File("b2.fdb")})
                .exit_code,
            0);
  EXPECT_EQ(PracticeChecksum(dir.File("b2.fdb")), checksum);
  EXPECT_EQ(PracticeChecksum(Station(2)), checksum);
}

TEST(PracticeGeneratorVersions, OlderStationsLackTheGatedTables) {
  TempDir dir("pelvar-practice");
  const CommandResult r = GeneratePractice({"--seed", "5", "--main", dir.File("main.fdb"), "--station", dir.File("old.fdb"),
                                    "--station-version", "200624", "--station", dir.File("new.fdb"),
                                    "--no-main-changes"});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  const std::string old_station = dir.File("old.fdb");
  EXPECT_EQ(QueryOne(old_station, "select VERZE as V from VERZE;"), "200624");
  EXPECT_EQ(QueryOne(dir.File("new.fdb"), "select VERZE as V from VERZE;"), "200824");
  EXPECT_EQ(QueryOne(old_station, "select count(*) as V from rdb$relations where rdb$relation_name in"
                                  " ('DOKLAD_POLOZKA_UZ', 'LAB_VAZBY', 'DENNI_ZAZNAM_ORTOPED');"),
            "0");
  // The station still changed what it has, and its item keys go on from the shared generator.
  EXPECT_GT(std::stoi(QueryOne(old_station, "select count(*) as V from FRAZE where ST is not null;")), 0);
  EXPECT_EQ(QueryOne(old_station, "select gen_id(GEN_DOKLAD_POLOZKA, 0) - max(K) as V from ("
                                  " select max(ID_DOKLAD_POLOZKA) as K from DOKLAD_POLOZKA_FA union all"
                                  " select max(ID_DOKLAD_POLOZKA) from DOKLAD_POLOZKA_PD union all"
                                  " select max(ID_DOKLAD_POLOZKA) from DOKLAD_POLOZKA_UM union all"
                                  " select max(ID_DOKLAD_POLOZKA) from DOKLAD_POLOZKA_SK union all"
                                  " select max(ID_DOKLAD_POLOZKA) from DOKLAD_POLOZKA_BV);"),
            "0");
}

TEST(PracticeGeneratorVersions, RefusesBadArguments) {
  TempDir dir("pelvar-practice");
  const std::vector<std::vector<std::string>> cases = {
      {"--seed", "1"},  // no main database
      {"--main", dir.File("m.fdb"), "--station-version", "200624"},  // version without a station
      {"--main", dir.File("m.fdb"), "--station", dir.File("s.fdb"), "--station-version", "200700"},
      {"--main", dir.File("m.fdb"), "--size", "huge"},
      {"--main", dir.File("m.fdb"), "--station", dir.File("m.fdb")},  // a station over the main database
      {"--main", "localhost:" + dir.File("m.fdb")},                    // plain paths only
  };
  for (const auto& args : cases) {
    const CommandResult r = GeneratePractice(args);
    EXPECT_NE(r.exit_code, 0) << r.output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("m.fdb")));
}

}  // namespace
}  // namespace pelvar::test
