// The play-in engine against Firebird 3 on practice databases from tools/practice: a
// station played into a working copy of the main database (organisation structure,
// users and code lists), checked by the integrity check of play_integrity.h; the gates
// of the sequence in a real run; merges that keep the parents' main keys; duplicates of
// one natural key inside a table; the access-rights conflict answered through the
// dialogs' scripted runners.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"
#include "support/practice.h"
#include "sync/DlgLineIdSelect.h"
#include "sync/DlgPrava.h"
#include "sync/DmMeld.h"
#include "sync/Meldrun.h"
#include "main_form_double.h"
#include "play_integrity.h"
#include "play_practice.h"

namespace pelvar::test {
namespace {

namespace fs = std::filesystem;

class MeldrunDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { InstallClientLibraryNameProvider(); }

  // The files are copied; isql may read them until Connect.
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
  // Commits and lets the files go, so that isql reads them.
  void Disconnect() {
    dm_.CommitBoth();
    dm_.Src()->SetConnected(false);
    dm_.Dst()->SetConnected(false);
  }
  void TearDown() override { fs::current_path(before_); }
  std::string Main() const { return dir_.File("main.fdb"); }
  std::string Station() const { return dir_.File("st.fdb"); }

  // Runs an engine with the options; the connections stay open.
  std::unique_ptr<TMeldrun> Play(bool org, bool codes, bool basic = true) {
    auto m = std::make_unique<TMeldrun>();
    m->OrgStruktura = org;
    m->Ciselniky = codes;
    m->Zaklad = basic;
    m->Karty = codes;
    m->ExPartner = codes;
    m->Execute();
    return m;
  }
  std::string StationOne(const std::string& sql) { return Q1(Station(), sql); }

  const fs::path before_ = fs::current_path();
  TempDir dir_{"pelvar-meldrun"};
  MainFormDouble form_;
  TDMMeldrun dm_{nullptr, form_};
};

// The rows that did not arrive (they keep their change marks).
int32_t FailedCount(const TMeldrun& m) {
  int32_t n = 0;
  for (const auto& [table, keys] : m.FailedRows()) n += static_cast<int32_t>(keys.size());
  return n;
}

// The rows a run failed to play or refused: its failures, and the skipped lines that
// give a reason (they end in ")" behind the dump).
int32_t NotArrived(const TMeldrun& m, const std::string& log) {
  int32_t n = m.GetConvertErrorCount() + m.GetSaveErrorCount();
  const std::string head = CZ(TImportTable::kLogSkipped);
  for (size_t at = log.find(head); at != std::string::npos; at = log.find(head, at + 1)) {
    const size_t end = log.find("\r\n", at);
    if (end == std::string::npos || end == at || log[end - 1] != ')') continue;
    const size_t reason = log.rfind(" |  (", end);
    if (reason != std::string::npos && reason > at) ++n;
  }
  return n;
}

// Answers every dialog by closing it and keeps what was asked.
struct ClosingResponder {
  std::vector<TDialogRequest> shown;
  TDialogResponder previous;
  ClosingResponder() {
    previous = SetDialogResponder([this](const TDialogRequest& r) {
      shown.push_back(r);
      return r.CancelResult;
    });
  }
  ~ClosingResponder() { SetDialogResponder(previous); }
};

TEST_F(MeldrunDb, AStationPlaysItsOrganisationUsersAndCodeListsIntoMain) {
  Copy();
  PlayIntegrity integrity(Main(), Station(), OrgAndCodeTables(), OrgAndCodeRefs());
  integrity.Snapshot();
  const std::string gen_before = Q1(Main(), "select gen_id(GEN_CENIK, 0) as V from RDB$DATABASE");
  Connect();
  // Automatic continuation: the access-rights conflicts overwrite without a dialog.
  form_.Auto = true;
  const auto previous = SetDialogPravaRunner([](TFrmDialogPrava&) { ADD_FAILURE() << "dialog shown"; });
  ClosingResponder dialogs;
  auto m = Play(true, true);
  SetDialogPravaRunner(previous);
  EXPECT_EQ(m->GetInitErrorCount(), 0);
  // Any row that failed or was refused keeps its mark.
  EXPECT_EQ(NotArrived(*m, ReadFile(dir_.File("Import.txt"))), FailedCount(*m));
  EXPECT_GT(m->GetSavedCount(), 0);
  EXPECT_TRUE(m->NotPlayedSteps().empty());
  m.reset();
  Disconnect();
  for (const std::string& p : integrity.Check()) ADD_FAILURE() << p;
  EXPECT_NE(ReadFile(dir_.File("Import.txt")).find(CZ("Změněno           : PRISTUPOVA_PRAVA")), std::string::npos);

  // New price lists got generator keys, and the station's new-key column holds them.
  const auto fresh = Qn(Main(), "select cast(count(*) as varchar(9)) as V from CENIK where ID_CENIK > " + gen_before);
  EXPECT_NE(fresh, (std::vector<std::string>{"0"}));
  const auto station_new =
      Qn(Station(), "select cast(ID_CENIK_NEW as varchar(9)) as V from CENIK where ID_CENIK_NEW is not null");
  for (const std::string& k : station_new)
    EXPECT_EQ(Q1(Main(), "select count(*) as V from CENIK where ID_CENIK = " + k), "1") << k;
  // Every user of the station maps to a main user: the new ones to their new keys, the
  // others (merged or equal) to the main user with the same short code.
  EXPECT_EQ(Qn(Station(), "select ZKRATKA as V from UZIVATEL_NEW where ID_UZIVATEL_NEW is null"),
            std::vector<std::string>{});
  const auto pairs = Qn(Station(), "select ZKRATKA || '=' || ID_UZIVATEL_NEW as V from UZIVATEL_NEW");
  for (const std::string& p : pairs) {
    const auto eq = p.find('=');
    EXPECT_EQ(Q1(Main(), "select count(*) as V from UZIVATEL_NEW where ZKRATKA = '" + p.substr(0, eq) +
                                   "' and ID_UZIVATEL = " + p.substr(eq + 1)),
              "1")
        << p;
  }
  // Every played step's marks are cleared in both databases.
  for (const char* t : {"ZARIZENI_BANKA", "CENIK", "DIAGNOZA", "PRISTUP", "KATEGORIE_PACIENTA"}) {
    EXPECT_EQ(Q1(Station(), std::string("select count(*) as V from ") + t + " where ST is not null"), "0") << t;
    EXPECT_EQ(Q1(Main(), std::string("select count(*) as V from ") + t + " where ST is not null"), "0") << t;
  }
  // The steps the options leave out are not played, and their marks stay.
  EXPECT_NE(Q1(Station(), "select count(*) as V from DENNI_ZAZNAM_HODNOTA where ST is not null"), "0");
}

TEST_F(MeldrunDb, WithAllOptionsOffOnlyTheAlwaysClearingsRunAndTheNewKeyColumnsAreAdded) {
  Copy();
  Connect();
  auto m = Play(false, false, false);
  EXPECT_EQ(m->PlayedSteps(), std::vector<int32_t>{});
  EXPECT_EQ(m->GetSavedCount(), 0);
  m.reset();
  Disconnect();
  for (const char* t : {"ZARIZENI_BANKA", "PRISTUPOVA_PRAVA", "PRISTUP", "PRISTUP_ORG_JEDNOTKA"})
    EXPECT_EQ(StationOne(std::string("select count(*) as V from ") + t + " where ST is not null"), "0") << t;
  EXPECT_NE(StationOne("select count(*) as V from CENIK where ST is not null"), "0");
  // Later steps and finishing join these columns whatever the options were.
  for (const char* c : {"ID_ZARIZENI_NEW", "ID_ODDELENI_NEW", "ID_PRACOVISTE_NEW", "ID_UZIVATEL_NEW",
                        "ID_PRISTUPOVA_PRAVA_NEW", "ID_CENIK_NEW"})
    EXPECT_EQ(StationOne(std::string("select count(*) as V from RDB$RELATION_FIELDS where RDB$FIELD_NAME = '") + c +
                         "'"),
              "1")
        << c;
}


// Runs an isql script on a database file (while no connection of the test holds it).
void Sql(const std::string& db, const std::string& script) {
  const CommandResult r = RunIsql(script, db);
  ASSERT_EQ(r.exit_code, 0) << r.output;
}

TEST_F(MeldrunDb, MergesKeepTheParentsMainKeysAndDuplicatesInOneTableFindTheFirst) {
  Copy();
  // The main database has a right of its own under the key the station's first new right
  // has, so the station's new rights get other keys in main. A user with an apostrophe
  // in its short code exists on both sides.
  Sql(Main(),
      "insert into PRISTUPOVA_PRAVA (ID_PRISTUPOVA_PRAVA, NAZEV) values (4, 'Hlavní čtyři');\n"
      "alter sequence GEN_PRISTUPOVA_PRAVA restart with 4;\n"
      "update UZIVATEL_NEW set ZKRATKA = 'O''Neil' where ID_UZIVATEL = 3;\ncommit;\n");
  Sql(Station(),
      "update UZIVATEL_NEW set ZKRATKA = 'O''Neil', ID_PRISTUPOVA_PRAVA = 4, JMENO = 'Nové' where ID_UZIVATEL = 3;\n"
      "update UZIVATEL_NEW set ID_PRISTUPOVA_PRAVA = 5 where ID_UZIVATEL = 8;\n"
      "insert into PSC (ID_PSC, PSC, PSC_NAZEV, ST) values (901, 'DUP01', 'První', 'I');\n"
      "insert into PSC (ID_PSC, PSC, PSC_NAZEV, ST) values (902, 'DUP01', 'Druhé', 'I');\n"
      "insert into DIAGNOZA (ID_DIAGNOZA, DIAGNOZA, DIAGNOZA_NAZEV, ST) values (901, 'DDUP', 'První', 'I');\n"
      "insert into DIAGNOZA (ID_DIAGNOZA, DIAGNOZA, DIAGNOZA_NAZEV, ST) values (902, 'DDUP', 'Druhá', 'I');\n"
      "commit;\n");
  PlayIntegrity integrity(Main(), Station(), OrgAndCodeTables(), OrgAndCodeRefs());
  integrity.Snapshot();
  Connect();
  form_.Auto = true;
  ClosingResponder dialogs;
  auto m = Play(true, true);
  EXPECT_EQ(NotArrived(*m, ReadFile(dir_.File("Import.txt"))), FailedCount(*m));
  m.reset();
  Disconnect();
  for (const std::string& p : integrity.Check()) ADD_FAILURE() << p;

  const std::string right4 = Q1(Station(), "select ID_PRISTUPOVA_PRAVA_NEW as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 4");
  const std::string right5 = Q1(Station(), "select ID_PRISTUPOVA_PRAVA_NEW as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 5");
  EXPECT_EQ(right4, "5");
  EXPECT_EQ(right5, "6");
  // The merged user points at the right as main has it, took the station's change and
  // kept main's change mark; the new user too points at the main key.
  EXPECT_EQ(Q1(Main(), "select ID_PRISTUPOVA_PRAVA || '/' || JMENO || '/' || coalesce(ST, '-') as V from UZIVATEL_NEW where ZKRATKA = 'O''Neil'"),
            "5/Nové/-");
  EXPECT_EQ(Q1(Main(), "select ID_PRISTUPOVA_PRAVA as V from UZIVATEL_NEW where ZKRATKA = 'US1000007'"), "6");
  EXPECT_EQ(Q1(Main(), "select NAZEV as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 4"), "Hlavní čtyři");
  // Two station rows with one natural key: one main row; the diagnosis merged the second.
  EXPECT_EQ(Qn(Main(), "select PSC_NAZEV as V from PSC where PSC = 'DUP01'"), std::vector<std::string>{"První"});
  EXPECT_EQ(Qn(Main(), "select DIAGNOZA_NAZEV as V from DIAGNOZA where DIAGNOZA = 'DDUP'"),
            std::vector<std::string>{"Druhá"});
  // New codes keep their codes.
  for (const char* t : {"BANKA", "POHLAVI", "KATASTR"}) {
    const auto codes = Qn(Station(), std::string("select ") + t + " as V from " + t + " where ID_" + t + " > 3 order by 1");
    for (const std::string& code : codes)
      EXPECT_EQ(Q1(Main(), std::string("select count(*) as V from ") + t + " where " + t + " = '" + code + "'"), "1")
          << t << " " << code;
  }
}

// Plays only the organisation steps, with the access-rights conflicts decided by a
// script: each entry drives one dialog.
class MeldrunRights : public MeldrunDb {
 protected:
  using Script = std::function<void(TFrmDialogPrava&)>;
  void PlayOrg(std::vector<Script> scripts, TScriptedResponder& responder) {
    Connect();
    size_t next = 0;
    const auto previous = SetDialogPravaRunner([&](TFrmDialogPrava& d) {
      shown_.push_back(d.StationRight().Nazev + " / " + d.MainRight().Nazev);
      ASSERT_LT(next, scripts.size()) << "an unexpected access-rights dialog";
      scripts[next++](d);
    });
    auto m = Play(true, false, false);
    changed_ = m->GetChangedCount();
    converted_ = m->GetConvertErrorCount();
    SetDialogPravaRunner(previous);
    m.reset();
    Disconnect();
    EXPECT_EQ(next, scripts.size());
    EXPECT_EQ(responder.Pending(), 0u);
  }
  std::string RightNew(int id) {
    return Q1(Station(), "select ID_PRISTUPOVA_PRAVA_NEW as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = " +
                             std::to_string(id));
  }
  std::vector<AnsiString> shown_;
  int32_t changed_ = 0;
  int32_t converted_ = 0;
};

TEST_F(MeldrunRights, TheCloseBoxCancelsAndAnotherNameAddsARight) {
  Copy();
  Sql(Main(), "update ZARIZENI set NAZEV = 'Jiná klinika' where ID_ZARIZENI = 1;\ncommit;\n");
  const std::string main_rights_before = Q1(Main(), "select list(NAZEV || ADMINISTRATOR, ',') as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 1");
  PlayIntegrity integrity(Main(), Station(), OrgAndCodeTables(), OrgAndCodeRefs());
  integrity.Snapshot();
  TScriptedResponder responder([](const std::string& m) { ADD_FAILURE() << m; });
  // The device with the main code but another name: added as a new device.
  responder.Expect(mtConfirmation,
                   Format(CZ("POZOR! Zařízení \"%s\" ze sehrávané databáze má stejný kód jako zařízení \"%s\" z hlavní "
                             "databáze. Pokud se má záznam v hlavní databázi NAHRADIT záznamem ze sehrávané databáze, "
                             "stikněte tlačítko [Yes]. Pokud se má zařízení PŘIDAT do organizační struktury, stikněte "
                             "tlačítko [No]!"),
                          {CZ("Veterinární klinika MVDr. Petra Kolářová  Ičo: 34876995"), CZ("Jiná klinika  Ičo: 34876995")}),
                   mrNo);
  responder.Expect(CZ("Nelze přidat právo se stejným jménem!"), mrOk);
  PlayOrg({[](TFrmDialogPrava& d) {
             EXPECT_EQ(d.ItemIndex(), 0);
             d.RadioGroupRozhodniClick(3);
             d.CloseBox();
           },
           [](TFrmDialogPrava& d) {
             d.RadioGroupRozhodniClick(1);
             EXPECT_TRUE(d.BtnPridejVisible());
             EXPECT_FALSE(RunDialogAction([&] { d.BtnPridejClick(); }));
             EXPECT_FALSE(d.Closed());
             d.SetStationName(CZ("Laborant nový"));
             EXPECT_TRUE(RunDialogAction([&] { d.BtnPridejClick(); }));
           }},
          responder);
  EXPECT_EQ(shown_, (std::vector<AnsiString>{CZ("Recepce 000001 / Recepce 000001"),
                                             CZ("Laborant 000003 / Laborant 000003")}));
  EXPECT_EQ(converted_, 0);
  for (const std::string& p : integrity.Check()) ADD_FAILURE() << p;
  // Closed by its close box: main keeps its right, the station's maps to it.
  EXPECT_EQ(Q1(Main(), "select list(NAZEV || ADMINISTRATOR, ',') as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 1"),
            main_rights_before);
  EXPECT_EQ(RightNew(1), "1");
  // Added under the new name, and the station's right maps to it.
  const std::string added = Q1(Main(), "select ID_PRISTUPOVA_PRAVA as V from PRISTUPOVA_PRAVA where NAZEV = 'Laborant nový'");
  EXPECT_EQ(RightNew(3), added);
  // The device became a new one; its departments followed it.
  const std::string device = Q1(Station(), "select ID_ZARIZENI_NEW as V from ZARIZENI where ID_ZARIZENI = 1");
  EXPECT_NE(device, "1");
  EXPECT_EQ(Q1(Main(), "select NAZEV as V from ZARIZENI where ID_ZARIZENI = " + device),
            "Veterinární klinika MVDr. Petra Kolářová");
  EXPECT_EQ(Q1(Main(), "select NAZEV as V from ZARIZENI where ID_ZARIZENI = 1"), "Jiná klinika");
  EXPECT_EQ(Q1(Station(), "select count(*) as V from ODDELENI o where o.ID_ZARIZENI = 1 and not exists (select 1 from "
                          "ODDELENI x where x.ID_ODDELENI = o.ID_ODDELENI_NEW)"),
            "0");
}

TEST_F(MeldrunRights, AssigningToAnotherRightNeedsAChoiceAndOverwritingCountsOnlyAChange) {
  Copy();
  // The station's right 3 is marked but keeps main's values: overwriting it changes
  // nothing and is not counted.
  auto literal = [](const char* c) {
    return std::string("coalesce('''' || ") + c + " || '''', 'null')";
  };
  const std::string set = Q1(Main(), "select 'ADMINISTRATOR = ' || " + literal("ADMINISTRATOR") + " || ', POZNAMKA = ' || " +
                                         literal("POZNAMKA") + " || ', NASTAVENI = ' || " + literal("NASTAVENI") +
                                         " || ', DATABAZE = ' || " + literal("DATABAZE") +
                                         " as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 3");
  Sql(Station(), "update PRISTUPOVA_PRAVA set " + set + " where ID_PRISTUPOVA_PRAVA = 3;\ncommit;\n");
  const std::string row3 = Q1(Main(), "select NAZEV || coalesce(ADMINISTRATOR, '') || coalesce(POZNAMKA, '') as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 3");
  TScriptedResponder responder([](const std::string& m) { ADD_FAILURE() << m; });
  responder.Expect(CZ("Nebylo vybráno žádné přístupové právo pro přiřazení!"), mrOk);
  int selections = 0;
  const auto previous = SetVyberIdRunner([&](TFrmVyberId& v) {
    EXPECT_EQ(v.Caption(), CZ("Přiřazení práva z hlavní databáze"));
    EXPECT_EQ(v.InfoText(), CZ("Vyberte jaké právo se má dále používat místo: Recepce 000001"));
    if (selections++ == 0) {
      v.ButtonCancelClick();
      return;
    }
    ASSERT_TRUE(v.Lines()->Locate("ID_PRISTUPOVA_PRAVA", Variant(2), {}));
    v.ButtonOKClick();
  });
  PlayOrg({[](TFrmDialogPrava& d) {
             d.RadioGroupRozhodniClick(2);
             EXPECT_FALSE(RunDialogAction([&] { d.BtnVyberClick(); }));
             EXPECT_TRUE(RunDialogAction([&] { d.BtnVyberClick(); }));
           },
           [](TFrmDialogPrava& d) { d.BtnOKClick(); }},
          responder);
  SetVyberIdRunner(previous);
  EXPECT_EQ(RightNew(1), "2");
  EXPECT_EQ(RightNew(3), "3");
  EXPECT_EQ(Q1(Main(), "select NAZEV || coalesce(ADMINISTRATOR, '') || coalesce(POZNAMKA, '') as V from PRISTUPOVA_PRAVA where ID_PRISTUPOVA_PRAVA = 3"),
            row3);
  EXPECT_EQ(ReadFile(dir_.File("Import.txt")).find(CZ("Změněno           : PRISTUPOVA_PRAVA")), std::string::npos);
}

TEST_F(MeldrunDb, PhrasesTakeTheUsersMainKeysFromVersion200625On) {
  struct Case {
    int32_t version;
    const char* author;  // the main key the new phrase's author gets
  };
  for (const Case& c : {Case{200624, "7"}, Case{200625, "8"}}) {
    Copy();
    // Main has a user of its own under the key of the station's first new user.
    Sql(Main(),
        "insert into UZIVATEL_NEW (ID_UZIVATEL, ZKRATKA) values (7, 'HLAVNI7');\n"
        "alter sequence GEN_UZIVATEL restart with 7;\ncommit;\n");
    Sql(Station(),
        "insert into FRAZE (ID_FRAZE, FRAZE, ID_ZALOZIL, ID_MODIFIKOVAL, ST) values (990, 'Nová fráze', 7, 1, 'I');\n"
        "commit;\n");
    Connect(c.version);
    form_.Auto = true;
    Play(true, true).reset();
    Disconnect();
    EXPECT_EQ(Q1(Station(), "select ID_UZIVATEL_NEW as V from UZIVATEL_NEW where ID_UZIVATEL = 7"), "8");
    EXPECT_EQ(Q1(Main(), "select ID_ZALOZIL || '/' || ID_MODIFIKOVAL as V from FRAZE where FRAZE = 'Nová fráze'"),
              std::string(c.author) + "/1")
        << c.version;
  }
}
}  // namespace
}  // namespace pelvar::test
