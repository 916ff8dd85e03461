// The play steps of documents, daily records, document items and the daily records'
// detail tables, run by the engine against Firebird 3 on practice databases of
// tools/practice. The parents that other steps play (partners, patients, cases, item
// variants, code lists) are set up in main as those steps leave them. Proved: documents,
// items and daily records arrive under main keys, every item on its document's main key,
// known documents update under their main key, the detail tables follow their daily
// records, the integrity check holds; failed rows and DOKLAD_POLOZKA_BV stay marked; no
// memory row nor document status of one station carries over to the next; a station of
// version 200624 plays without touching the tables it lacks.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_integrity.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class MeldrunDocsDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }

  void Copy(const std::string& station = "st.fdb") {
    fs::current_path(dir_.Path());
    PlayPractice::CopyTo("main.fdb", Main());
    PlayPractice::CopyTo(station, Station());
  }
  void Connect(int32_t version = 200824) {
    dm_.OpenDst(Main(), AdministratorUser, AdministratorPassword);
    dm_.OpenSrc(Station(), AdministratorUser, AdministratorPassword);
    dm_.InitStationLists(1);
    dm_.CommitAfter = 900;
    dm_.CycleIndex = 0;
    dm_.IsLastCycle = true;
    dm_.LowestVersion = version;
  }
  void Disconnect() {
    dm_.CommitBoth();
    dm_.Src()->SetConnected(false);
    dm_.Dst()->SetConnected(false);
  }
  std::string Main() const { return dir_.File("main.fdb"); }
  std::string Station() const { return dir_.File("st.fdb"); }

  // What the user, partner, patient, case, variant and code-list steps leave: the station's
  // marked rows exist in main under main keys (found by their natural keys). Before
  // Connect (isql reads and writes the files).
  void PlayParents() {
    std::string script;
    for (const char* t : {"PARTNER", "PACIENT", "VARIANTA", "CENIK", "SKLAD", "MERNA_JEDNOTKA"}) {
      const std::string table = t;
      for (const std::string& code : Qn(Station(), "select " + table + " as V from " + table + " where ST is not null"))
        script += "insert into " + table + " (ID_" + table + ", " + table + ") select gen_id(GEN_" + table +
                  ", 1), '" + code + "' from RDB$DATABASE where not exists (select 1 from " + table + " where " +
                  table + " = '" + code + "');\n";
    }
    // Users, by their short names.
    for (const std::string& code : Qn(Station(), "select ZKRATKA as V from UZIVATEL_NEW where ST is not null"))
      script += "insert into UZIVATEL_NEW (ID_UZIVATEL, ZKRATKA) select gen_id(GEN_UZIVATEL, 1), '" + code +
                "' from RDB$DATABASE where not exists (select 1 from UZIVATEL_NEW where ZKRATKA = '" + code + "');\n";
    const auto cases = Qn(Station(), "select PAC.PACIENT||'|'||P.PRIPAD||'|'||coalesce(P.AKTIVNI,'')||'|'||"
                                     "coalesce(cast(P.ZALOZENI_ZAZNAMU as varchar(30)),'') as V from PRIPAD P "
                                     "join PACIENT PAC on P.ID_PACIENT = PAC.ID_PACIENT where P.ST is not null");
    for (const std::string& line : cases) {
      AnsiString rest = line;
      const std::string patient = TDMMeldrun::CutToken(rest, '|');
      const std::string pripad = TDMMeldrun::CutToken(rest, '|');
      const std::string active = TDMMeldrun::CutToken(rest, '|');
      const std::string created = rest;
      const std::string id = "(select ID_PACIENT from PACIENT where PACIENT = '" + patient + "')";
      script += "insert into PRIPAD (ID_PACIENT, PRIPAD, AKTIVNI, ZALOZENI_ZAZNAMU) select " + id + ", '" + pripad +
                "', " + (active.empty() ? std::string("null") : "'" + active + "'") + ", " +
                (created.empty() ? std::string("null") : "'" + created + "'") +
                " from RDB$DATABASE where not exists (select 1 from PRIPAD where ID_PACIENT = " + id +
                " and PRIPAD = '" + pripad + "');\n";
    }
    // Organisation units main lacks got main keys, written into the station's new-key
    // columns.
    std::string station_script;
    for (const char* t : {"ZARIZENI", "ODDELENI", "PRACOVISTE"}) {
      const std::string table = t;
      const std::string key = "ID_" + table;
      station_script += "alter table " + table + " add " + key + "_NEW integer;\ncommit;\n";
      const auto main_keys = Qn(Main(), "select " + key + " as V from " + table);
      for (const std::string& k : Qn(Station(), "select " + key + " as V from " + table)) {
        if (std::find(main_keys.begin(), main_keys.end(), k) != main_keys.end()) continue;
        const std::string main_key = std::to_string(std::stoi(k) + 100000);
        script += "insert into " + table + " (" + key + ") values (" + main_key + ");\n";
        station_script += "update " + table + " set " + key + "_NEW = " + main_key + " where " + key + " = " + k + ";\n";
      }
    }
    const CommandResult r = RunIsql(script + "commit;\n", Main());
    ASSERT_EQ(r.exit_code, 0) << r.output;
    const CommandResult rs = RunIsql(station_script + "commit;\n", Station());
    ASSERT_EQ(rs.exit_code, 0) << rs.output;
  }

  std::unique_ptr<TMeldrun> Play(bool documents, bool basic = true, bool patients = true) {
    auto m = std::make_unique<TMeldrun>();
    m->Doklady = documents;
    m->Zaklad = basic;
    m->ExPacient = patients;
    m->Execute();
    return m;
  }
  std::string Errors() {
    std::string text;
    for (int32_t i = 0; i < dm_.ErrorList().Count(); ++i) text += AnsiToUtf8(dm_.ErrorList().Strings(i)) + "\n";
    return text;
  }

  // Restores the working directory after the data module has written "Errors.txt" into
  // the test's own (it does so when destroyed).
  struct CwdGuard {
    const fs::path before = fs::current_path();
    ~CwdGuard() { fs::current_path(before); }
  };
  TempDir dir_{"pelvar-mldocs"};
  CwdGuard cwd_;
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
  TScriptedResponder dialogs_{[](const std::string& m) { ADD_FAILURE() << m; }};
};

const char* const kDetails[] = {"DENNI_ZAZNAM_HODNOTA", "DENNI_ZAZNAM_RECEPT", "DENNI_ZAZNAM_OFTALMO",
                                 "DENNI_ZAZNAM_PLAZI", "DZS_ZUB"};
const char* const kItems[] = {"DOKLAD_POLOZKA_FA", "DOKLAD_POLOZKA_PD", "DOKLAD_POLOZKA_UM", "DOKLAD_POLOZKA_SK"};

TEST_F(MeldrunDocsDb, DocumentsItemsDailyRecordsAndDetailsArriveUnderMainKeys) {
  Copy();
  // One item refers to a variant no step has played: it cannot be written and must stay
  // marked; its code also holds an apostrophe.
  const std::string refused =
      Q1(Station(), "select first 1 ID_DOKLAD_POLOZKA as V from DOKLAD_POLOZKA_UM where ST is not null "
                    "and VARIANTA is not null order by ID_DOKLAD_POLOZKA");
  RunIsql("update DOKLAD_POLOZKA_UM set VARIANTA = 'NE''ZN', ID_VARIANTA = 999999 where ID_DOKLAD_POLOZKA = " +
              refused + ";\ncommit;\n",
          Station());
  PlayIntegrity check(Main(), Station(), DocumentTables(), DocumentRefs());
  check.Snapshot();
  const auto bv_marked = Q1(Station(), "select count(*) as V from DOKLAD_POLOZKA_BV where ST is not null");
  // Documents main knows already (number and type), with their main keys.
  const auto known = Qn(Main(), "select m.DOKLAD||'|'||m.TYP_DOKLADU||'|'||m.ID_DOKLAD as V from DOKLAD m");
  const auto marked_docs =
      Qn(Station(), "select DOKLAD||'|'||TYP_DOKLADU||'|'||cast(CENA as numeric(18,2)) as V from DOKLAD where ST is not null");
  std::vector<std::string> details_before;
  for (const char* t : kDetails) details_before.push_back(Q1(Main(), std::string("select count(*) as V from ") + t));
  const int32_t doc_gen = std::stoi(Q1(Main(), "select gen_id(GEN_DOKLAD, 0) as V from RDB$DATABASE"));

  // Station detail rows that main has under the same key: their notes (blobs) merge.
  const std::string notes_sql =
      "select cast(ID_DENNI_ZAZNAM as varchar(10))||'|'||coalesce(cast(substring(POZNAMKA from 1 for 200) as "
      "varchar(200)),'') as V from DENNI_ZAZNAM_PLAZI";
  const auto station_notes = Qn(Station(), notes_sql + " where ST is not null");
  const auto main_keys = Qn(Main(), "select cast(ID_DENNI_ZAZNAM as varchar(10)) as V from DENNI_ZAZNAM_PLAZI");
  PlayParents();
  Connect();
  auto m = Play(true);
  for (int32_t n : {39, 42, 43, 44, 45, 46, 47, 48, 49, 50, 51, 52})
    EXPECT_NE(std::find(m->PlayedSteps().begin(), m->PlayedSteps().end(), n), m->PlayedSteps().end()) << n;
  EXPECT_EQ(m->GetConvertErrorCount() + m->GetSaveErrorCount() + m->GetInitErrorCount(), 0);
  m.reset();
  const std::string log = AnsiToUtf8(ReadFile(dir_.File("Import.txt")));
  if (HasFailure()) ADD_FAILURE() << log;
  const std::string errors = Errors();
  Disconnect();

  EXPECT_NE(errors.find("NE'ZN"), std::string::npos) << errors;
  for (const std::string& line : marked_docs) {
    AnsiString rest = line;
    const std::string number = TDMMeldrun::CutToken(rest, '|');
    const std::string type = TDMMeldrun::CutToken(rest, '|');
    const std::string price = rest;
    const std::string where = " from DOKLAD where DOKLAD = '" + number + "' and TYP_DOKLADU = '" + type + "'";
    ASSERT_EQ(Q1(Main(), "select count(*) as V" + where), "1") << line;
    const int32_t key = std::stoi(Q1(Main(), "select ID_DOKLAD as V" + where));
    bool was_known = false;
    for (const std::string& k : known)
      if (k.rfind(number + "|" + type + "|", 0) == 0) {
        was_known = true;
        EXPECT_EQ(k, number + "|" + type + "|" + std::to_string(key)) << "updated under the main key";
      }
    if (!was_known) {
      EXPECT_GT(key, doc_gen) << line;
    }
    EXPECT_EQ(Q1(Main(), "select cast(CENA as numeric(18,2)) as V" + where), price) << line;
  }
  // Every marked item but the refused one sits on the main document with its number.
  for (const char* t : kItems) {
    const std::string table = t;
    const auto items = Qn(Station(), "select d.DOKLAD||'|'||d.TYP_DOKLADU||'|'||coalesce(i.VARIANTA,'')||'|'||"
                                     "coalesce(cast(i.CAS as varchar(20)),'') as V from " + table +
                                         " i join DOKLAD d on d.ID_DOKLAD = i.ID_DOKLAD where i.ST is not null");
    for (const std::string& line : items) {
      if (line.find('\'') != std::string::npos) continue;  // the refused item
      AnsiString rest = line;
      const std::string number = TDMMeldrun::CutToken(rest, '|');
      const std::string type = TDMMeldrun::CutToken(rest, '|');
      const std::string variant = TDMMeldrun::CutToken(rest, '|');
      EXPECT_NE(Q1(Main(), "select count(*) as V from " + table + " i join DOKLAD d on d.ID_DOKLAD = i.ID_DOKLAD "
                           "where d.DOKLAD = '" + number + "' and d.TYP_DOKLADU = '" + type +
                               "' and coalesce(i.VARIANTA,'') = '" + variant + "' and coalesce(cast(i.CAS as varchar(20)),'') = '" +
                               std::string(rest) + "'"),
                "0")
          << table << " " << line;
    }
  }
  // Daily records: each marked one of a station patient arrived; the details with them.
  EXPECT_EQ(Q1(Station(), "select count(*) as V from DENNI_ZAZNAM DZ join PACIENT PAC on DZ.ID_PACIENT = "
                          "PAC.ID_PACIENT where DZ.ST is not null"),
            "0");
  for (size_t i = 0; i < std::size(kDetails); ++i) {
    // A detail stays marked only when it did not arrive, and then it is logged with
    // the reason (its daily record or patient main lacks).
    int32_t refused_details = 0;
    const std::string head = std::string("Přeskočeno        : ") + kDetails[i] + ", ";
    for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1))
      if (log.find(" není v hlavní databázi)", at) < log.find('\n', at)) ++refused_details;
    EXPECT_EQ(Q1(Station(), std::string("select count(*) as V from ") + kDetails[i] + " where ST is not null"),
              std::to_string(refused_details))
        << kDetails[i] << "\n" << log;
    // The station's new detail rows arrived, on main daily records (the integrity check).
    EXPECT_GT(std::stoi(Q1(Main(), std::string("select count(*) as V from ") + kDetails[i])),
              std::stoi(details_before[i]))
        << kDetails[i];
  }
  // Marks: the refused item stays marked, nothing else of the items; the bank-statement
  // items play like the others.
  EXPECT_EQ(Q1(Station(), "select count(*) as V from DOKLAD_POLOZKA_BV where ST is not null"), "0");
  EXPECT_NE(bv_marked, "0");
  EXPECT_EQ(Q1(Station(), "select cast(list(ID_DOKLAD_POLOZKA) as varchar(100)) as V from DOKLAD_POLOZKA_UM where ST is not null"), refused);
  EXPECT_EQ(Q1(Station(), "select count(*) as V from DOKLAD where ST is not null"), "0");
  EXPECT_EQ(Q1(Main(), "select count(*) as V from DOKLAD where ID is not null"), "0");
  const auto after_notes = Qn(Main(), notes_sql);
  int merged = 0;
  for (const std::string& n : station_notes) {
    const std::string key = n.substr(0, n.find('|'));
    if (std::find(main_keys.begin(), main_keys.end(), key) == main_keys.end()) continue;
    ++merged;
    EXPECT_NE(std::find(after_notes.begin(), after_notes.end(), n), after_notes.end()) << n;
  }
  EXPECT_GT(merged, 0);
  for (const std::string& p : check.Check()) ADD_FAILURE() << p;
}

TEST_F(MeldrunDocsDb, NothingOfOneStationCarriesOverToTheNext) {
  Copy();
  PlayParents();
  Connect();
  // A status line an earlier station left behind.
  const Variant doc = dm_.SelectDst("select first 1 ID_DOKLAD from DOKLAD order by ID_DOKLAD");
  const Variant status = dm_.SelectDst("select coalesce(TABLE_STATUS, '') from DOKLAD where ID_DOKLAD = " + doc.AsString());
  dm_.DocumentStatuses().Add(doc.AsString() + "|1|X'Y|");
  // Daily records without the documents group: the memory table is emptied after them.
  Play(false, true, false);
  EXPECT_FALSE(dm_.MemoryDenZaznam()->Active() && dm_.MemoryDenZaznam()->RecordCount() > 0);
  const int32_t days = dm_.SelectDst("select count(*) from DENNI_ZAZNAM").AsInteger();
  // The next station (the same file again, its marks cleared) writes no daily record.
  dm_.ExecSrc("update DENNI_ZAZNAM set ST = null");
  Play(false, true, false);
  EXPECT_EQ(dm_.SelectDst("select count(*) from DENNI_ZAZNAM").AsInteger(), days);
  // The documents' step begins without the earlier station's statuses.
  dm_.DocumentStatuses().Add(doc.AsString() + "|1|X'Y|");
  Play(true, false, false);
  EXPECT_EQ(dm_.DocumentStatuses().Count(), 0);
  EXPECT_EQ(dm_.SelectDst("select coalesce(TABLE_STATUS, '') from DOKLAD where ID_DOKLAD = " + doc.AsString()).AsString(),
            status.AsString());
  EXPECT_FALSE(dm_.MemoryDoklad()->Active());
  EXPECT_FALSE(dm_.MemoryDokladPolozka()->Active());
  EXPECT_EQ(Errors(), "");
  Disconnect();
}

TEST_F(MeldrunDocsDb, AnOldStationPlaysWithoutTheTablesItLacks) {
  Copy("st624.fdb");
  PlayIntegrity check(Main(), Station(), DocumentTables(), DocumentRefs());
  check.Snapshot();
  PlayParents();
  Connect(200624);
  auto m = Play(true);
  for (int32_t n : {47, 51, 52})
    EXPECT_EQ(std::find(m->PlayedSteps().begin(), m->PlayedSteps().end(), n), m->PlayedSteps().end()) << n;
  for (int32_t n : {39, 42, 43, 46, 50})
    EXPECT_NE(std::find(m->PlayedSteps().begin(), m->PlayedSteps().end(), n), m->PlayedSteps().end()) << n;
  m.reset();
  Disconnect();
  EXPECT_EQ(Q1(Station(), "select count(*) as V from DOKLAD where ST is not null"), "0");
  for (const std::string& p : check.Check()) ADD_FAILURE() << p;
}

}  // namespace
}  // namespace pelvar::test
