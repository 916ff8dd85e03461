// The play-in engine against Firebird 3 on practice databases from tools/practice: a
// station played into a working copy of the main database (organisation structure,
// users and code lists), checked by the integrity check of play_integrity.h; the gates
// of the sequence in a real run; merges that keep the parents' main keys; duplicates of
// one natural key inside a table; the access-rights conflict answered through the
// dialogs' scripted runners.
#include <gtest/gtest.h>

#include <filesystem>
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
  form_.Auto = true;
  ClosingResponder dialogs;
  auto m = Play(true, true);
  EXPECT_EQ(m->GetInitErrorCount(), 0);
  EXPECT_EQ(m->GetConvertErrorCount(), 0);
  EXPECT_EQ(m->GetSaveErrorCount(), 0);
  EXPECT_GT(m->GetSavedCount(), 0);
  EXPECT_NE(m->NotPlayedSteps().size(), 0u);
  m.reset();
  Disconnect();
  for (const std::string& p : integrity.Check()) ADD_FAILURE() << p;

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

}  // namespace
}  // namespace pelvar::test
