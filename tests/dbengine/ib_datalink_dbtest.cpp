// Data links against real Firebird 3 (embedded), through buffered datasets: the
// query-by-example criteria a link adds to the search and keeps, recalls, writes and
// reads back; a look-up's row as the criteria of its searching key dataset; a detail's
// criteria carried to its searching master; the colour that shows the state; Append;
// the session's focus; the buffer-row flag; the hook of a changed link; calculated
// fields after the links wrote their values; the focus on a required column left empty
// and a new master posted before its new detail (the server's foreign key checks it);
// an executed search reading no further than its first row; a row count outside search
// mode that leaves the browsed or edited row as it is.
// One database serves the suite; tests that write roll back.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_bdataset.h"
#include "dbengine/IB_Components_datasource.h"
#include "dbengine/IB_Components_keymasterlinks.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

// A link as a control would be: it has a name for its criteria, holds a value to
// search for, and records the criteria events and its link hook.
class CriteriaLink : public TIB_DataLink {
 public:
  CriteriaLink(TComponent* Owner, const char* id) : TIB_DataLink(Owner), id_(id) {}
  AnsiString GetLinkIdentifier() const override { return id_; }
  void ProcessEvent(uint8_t Code, intptr_t Argument) override {
    if (Code == dlnkSearchCriteria) criteria_events.push_back(static_cast<int>(Argument));
    TIB_DataLink::ProcessEvent(Code, Argument);
  }
  void SysLinkHook3(intptr_t Argument) override { hooks.push_back(Argument); }
  void FocusColumn(TIB_Column* Column) override { focused.push_back(Column); }
  std::vector<int> criteria_events;
  std::vector<intptr_t> hooks;
  std::vector<TIB_Column*> focused;

 private:
  AnsiString id_;
};

class DataLinkDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded, "datalink.fdb").release();
    db_->RunSql(
        "create table KLIENT (ID integer not null primary key, PRIJMENI varchar(30));\n"
        "commit;\n"
        "insert into KLIENT values (1, 'Novák');\n"
        "insert into KLIENT values (2, 'Dvořák');\n"
        "insert into KLIENT values (3, 'Černá');\n"
        "insert into KLIENT values (4, 'Nováková');\n"
        "commit;\n"
        "create table ZVIRE (ID integer not null primary key,\n"
        "  ID_KLIENT integer not null references KLIENT (ID), JMENO varchar(30));\n"
        "commit;\n"
        "insert into ZVIRE values (10, 1, 'Rex');\n"
        "insert into ZVIRE values (11, 1, 'Micka');\n"
        "insert into ZVIRE values (20, 2, 'Alík');\n"
        "insert into ZVIRE values (30, 3, 'Rex');\n"
        "commit;\n");
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  void SetUp() override {
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
    conn_ = new TIB_Connection(&form_);
    conn_->SetDatabaseName(CZ(db_->ConnectString()));
    conn_->SetUsername(kSysdbaUser);
    conn_->SetPassword(kSysdbaPassword);
    conn_->SetCharSet("WIN1250");
    conn_->SetSQLDialect(3);
    conn_->Open();
    tr_ = new TIB_Transaction(&form_);
    tr_->SetIB_Connection(conn_);
    d_ = new TIB_BDataset(&form_);
    d_->SetIB_Connection(conn_);
    d_->SetIB_Transaction(tr_);
    d_->SQL()->SetText("select ID, PRIJMENI from KLIENT order by ID");
    TIB_StringList keys;
    keys.SetText("KLIENT.ID");
    d_->SetKeyLinks(&keys);
    src_ = new TIB_DataSource(&form_);
    src_->SetDataset(d_);
  }
  void TearDown() override {
    if (tr_->GetStarted()) tr_->Rollback();
    for (int i = 0; i < form_.ComponentCount(); ++i) {
      if (auto* l = dynamic_cast<TIB_DataLink*>(form_.Components(i))) {
        l->OnUpdateData = nullptr;
        l->OnReceiveFocus = nullptr;
      }
    }
    session_->OnGetDataLinkColor = nullptr;
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    ClientLibraryNameHook = nullptr;
  }

  CriteriaLink* NewLink(const char* id = "L1") {
    auto* link = new CriteriaLink(&form_, id);
    link->SetDataSource(src_);
    return link;
  }
  std::vector<int> Ids(TIB_Dataset* d = nullptr) {
    if (d == nullptr) d = d_;
    std::vector<int> ids;
    for (d->First(); !d->GetEof(); d->Next()) ids.push_back(d->FieldByName("ID")->GetAsInteger());
    return ids;
  }
  // The animals, a dataset named ZVIRE with a source of its own.
  TIB_BDataset* NewAnimals(TIB_DataSource** Source) {
    auto* z = new TIB_BDataset(&form_);
    z->SetName("ZVIRE");
    z->SetIB_Connection(conn_);
    z->SetIB_Transaction(tr_);
    z->SQL()->SetText("select ID, ID_KLIENT, JMENO from ZVIRE order by ID");
    TIB_StringList keys;
    keys.SetText("ZVIRE.ID");
    z->SetKeyLinks(&keys);
    *Source = new TIB_DataSource(&form_);
    (*Source)->SetDataset(z);
    return z;
  }
  // The animals as details of the clients.
  TIB_BDataset* NewDetail(TIB_DataSource** Source) {
    TIB_BDataset* z = NewAnimals(Source);
    TIB_StringList links;
    links.SetText("ZVIRE.ID_KLIENT=KLIENT.ID");
    z->SetMasterLinks(&links);
    z->SetMasterSource(src_);
    return z;
  }
  std::string Read(const char* Sql) {
    TIB_Cursor c(nullptr);
    c.SetIB_Connection(conn_);
    c.SetIB_Transaction(tr_);
    c.SQL()->SetText(Sql);
    c.Open();
    const std::string v = AnsiToUtf8(c.Fields()->GetColumn(0)->GetAsString());
    c.Close();
    return v;
  }

  static FbTestDb* db_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
  TIB_BDataset* d_ = nullptr;
  TIB_DataSource* src_ = nullptr;
};

FbTestDb* DataLinkDb::db_ = nullptr;

TEST_F(DataLinkDb, SearchCriteriaOfALinkNarrowTheSearchAndAreKeptRecalledWrittenAndRead) {
  CriteriaLink* link = NewLink();
  d_->BeginSearch();
  ASSERT_EQ(d_->GetState(), dstSearch);
  // The consumer writes what it holds when the search executes.
  link->OnUpdateData = [](TIB_DataLink* l, TIB_DataSource*, TIB_Column*) {
    auto* self = static_cast<TIB_DataLink*>(l);
    if (self->GetSearchWhere().empty()) {
      self->SetDataName("PRIJMENI");
      self->SetSearchWhere("PRIJMENI STARTING WITH 'Nov'");
      self->SetSearchText("Nov");
    }
  };
  d_->ExecuteSearch(true);
  EXPECT_EQ(Ids(), (std::vector<int>{1, 4}));
  // The executed search's criteria were kept as the last ones (code 3).
  EXPECT_EQ(link->criteria_events, (std::vector<int>{3}));

  d_->SaveSearchCriteria();
  d_->ClearSearchCriteria();
  EXPECT_EQ(link->GetDataName(), "");
  EXPECT_EQ(link->GetSearchWhere(), "");
  EXPECT_EQ(link->GetSearchText(), "");
  d_->RecallLastSearchCriteria();
  EXPECT_EQ(link->GetDataName(), "PRIJMENI");
  EXPECT_EQ(link->GetSearchWhere(), "PRIJMENI STARTING WITH 'Nov'");
  EXPECT_EQ(link->GetSearchText(), "Nov");
  link->ClearCriteria(true);
  d_->RecallSearchCriteria();
  EXPECT_EQ(link->GetSearchWhere(), "PRIJMENI STARTING WITH 'Nov'");
  EXPECT_EQ(link->criteria_events, (std::vector<int>{3, 1, 0, 4, 2}));

  // Written as name=value lines under the link's name; the display text only when it
  // was set, not when it falls back to the data name.
  TStringList list;
  list.Add("stale=1");
  link->SetSearchDisplay("");
  d_->WriteSearchCriteria(&list);
  EXPECT_EQ(AnsiToUtf8(list.Text()),
            "L1=PRIJMENI\r\nL1.Where=PRIJMENI STARTING WITH 'Nov'\r\nL1.Data=Nov\r\n");
  EXPECT_EQ(link->GetSearchDisplay(), "PRIJMENI");
  link->SetSearchDisplay(CZ("Příjmení"));
  d_->WriteSearchCriteria(&list);
  EXPECT_EQ(list.Values("L1.Display"), CZ("Příjmení"));
  EXPECT_EQ(d_->CriteriaInTransfer(), nullptr);

  // Read back into a link that holds nothing: the criteria apply to the next search.
  link->ClearCriteria(true);
  link->OnUpdateData = nullptr;
  d_->ReadSearchCriteria(&list);
  EXPECT_EQ(link->GetDataName(), "PRIJMENI");
  EXPECT_EQ(link->GetSearchWhere(), "PRIJMENI STARTING WITH 'Nov'");
  EXPECT_EQ(link->GetSearchText(), "Nov");
  d_->BeginSearch();
  d_->ExecuteSearch(true);
  EXPECT_EQ(Ids(), (std::vector<int>{1, 4}));

  // Leaving search mode clears them.
  d_->BeginSearch();
  d_->Cancel();
  EXPECT_EQ(link->GetSearchWhere(), "");
  EXPECT_EQ(link->GetDataName(), "");
}

TEST_F(DataLinkDb, ClearingCriteriaInvalidatesTheSqlOnceAndResetClearsTheDataName) {
  CriteriaLink* link = NewLink();
  d_->Prepare();
  link->SetDataName("PRIJMENI");
  link->SetSearchDisplay(CZ("Příjmení"));
  link->SetSearchWhere("ID > 1");
  int invalidations = 0;
  d_->OnInvalidateSQL = [&invalidations](TIB_Statement*) { ++invalidations; };
  link->ClearCriteria(true);
  EXPECT_EQ(invalidations, 1);
  EXPECT_EQ(link->GetSearchDisplay(), "");
  link->ClearCriteria(true);
  EXPECT_EQ(invalidations, 1);
  d_->OnInvalidateSQL = nullptr;

  // Unpreparing the dataset (a new SQL) takes the criteria and the kept ones along:
  // they were written for the SQL that went.
  link->SetDataName("PRIJMENI");
  link->SetSearchWhere("ID > 1");
  d_->SaveSearchCriteria();
  d_->SQL()->SetText("select ID, PRIJMENI as JMENO from KLIENT order by ID");
  EXPECT_FALSE(d_->Prepared());
  EXPECT_EQ(link->GetDataName(), "");
  EXPECT_EQ(link->GetSearchWhere(), "");
  d_->RecallSearchCriteria();
  EXPECT_EQ(link->GetSearchWhere(), "");

  // A new layout of the dataset's columns resets the link: its data name names a
  // column no more; its WHERE text stays.
  link->SetDataName("PRIJMENI");
  link->SetSearchWhere("ID > 1");
  d_->Prepare();
  EXPECT_EQ(link->GetDataName(), "");
  EXPECT_EQ(link->GetSearchWhere(), "ID > 1");
}

TEST_F(DataLinkDb, StateColourFollowsTheDatasetStateAndCachedChanges) {
  CriteriaLink* link = NewLink();
  session_->SetBrowsingColor(1);
  session_->SetPreparedColor(2);
  session_->SetEditingColor(3);
  session_->SetInsertingColor(4);
  session_->SetDeletingColor(5);
  session_->SetSearchingColor(6);
  session_->SetReadOnlyColor(7);
  session_->SetInvalidColor(8);
  d_->SetRequestLive(true);
  d_->SetCachedUpdates(true);
  tr_->StartTransaction();

  struct Case {
    const char* what;
    std::function<void()> act;
    TColor colour;
  };
  const std::vector<Case> cases = {
      {"inactive", [] {}, 8},
      {"prepared, no row", [this] { d_->Prepare(); }, 2},
      {"browsing a row", [this] { d_->Open(); }, 1},
      {"editing", [this] { d_->Edit(); }, 3},
      {"cached modification", [this] { d_->Post(); }, 3},
      {"inserting", [this] { d_->Insert(); }, 4},
      {"cached insert", [this] { d_->FieldByName("ID")->SetAsInteger(90); d_->Post(); }, 4},
      {"read-only browsing", [this] { d_->Last(); d_->SetPreventEditing(true); d_->SetPreventDeleting(true); d_->SetReadOnly(true); }, 7},
      {"searching", [this] { d_->CancelUpdates(); d_->SetReadOnly(false); d_->BeginSearch(); }, 6},
      {"searching prevented", [this] { d_->PreventSearching = true; }, 7},
  };
  for (const Case& c : cases) {
    c.act();
    EXPECT_EQ(link->GetStateColor(), c.colour) << c.what;
  }
  d_->PreventSearching = false;
  d_->Cancel();
  d_->Open();
  link->SearchingColorFlag = true;
  EXPECT_EQ(link->GetStateColor(), 6);
  link->SearchingColorFlag = false;
  session_->OnGetDataLinkColor = [link](TIB_Session*, TIB_DataLink* l, TColor& c) {
    if (l == link) c = 99;
  };
  EXPECT_EQ(link->GetStateColor(), 99);
}

TEST_F(DataLinkDb, AppendPostsAnEditFirstThenInsertsAtTheEnd) {
  CriteriaLink* link = NewLink();
  d_->SetRequestLive(true);
  tr_->StartTransaction();
  d_->Open();
  d_->Edit();
  d_->FieldByName("PRIJMENI")->SetAsString(CZ("Nováčková"));
  link->Append();
  EXPECT_EQ(d_->GetState(), dstInsert);
  d_->FieldByName("ID")->SetAsInteger(5);
  d_->Post();
  EXPECT_EQ(Ids(), (std::vector<int>{1, 2, 3, 4, 5}));
  d_->First();
  EXPECT_EQ(d_->FieldByName("PRIJMENI")->GetAsString(), CZ("Nováčková"));

  // A dataset that cannot insert: nothing happens.
  d_->SetPreventInserting(true);
  d_->Edit();
  link->Append();
  EXPECT_EQ(d_->GetState(), dstEdit);
  d_->Cancel();
}

TEST_F(DataLinkDb, FocusGoesThroughTheSourceAndFollowingLinksFollowIt) {
  auto* other = new TIB_DataSource(&form_);
  other->SetDataset(d_);
  src_->SetAllowFocus(true);
  src_->SetAnnounceFocus(true);
  other->SetAllowFocus(true);
  other->SetAnnounceFocus(true);
  CriteriaLink* link = NewLink();
  link->SetFocus();
  EXPECT_EQ(session_->FocusedDataSource(), src_);

  auto* follower = new CriteriaLink(&form_, "F");
  follower->FollowFocusFlag = true;
  follower->SetIB_Session(session_);
  EXPECT_EQ(follower->DataSource(), src_);  // takes the focused source on joining
  other->SetFocus();
  EXPECT_EQ(follower->DataSource(), other);
  EXPECT_EQ(link->DataSource(), src_);  // a link that does not follow stays

  std::vector<TIB_DataSource*> offered;
  follower->OnReceiveFocus = [&offered](TIB_DataLink*, TIB_DataSource* s) { offered.push_back(s); };
  src_->SetFocus();
  EXPECT_EQ(offered, std::vector<TIB_DataSource*>{src_});
  EXPECT_EQ(follower->DataSource(), other);
}

TEST_F(DataLinkDb, AHeldSessionIsReleasedWhenTheLinkLeavesItsDataset) {
  CriteriaLink* link = NewLink();
  d_->Prepare();
  const int32_t busy = session_->BusyLevel();
  const int32_t hold = session_->CursorHold();
  session_->BeginBusy(false);
  session_->BeginCursorHold();
  link->SessionHold = true;
  d_->Open();
  EXPECT_TRUE(link->SessionHold);
  link->SetDataSource(nullptr);
  EXPECT_FALSE(link->SessionHold);
  EXPECT_EQ(session_->BusyLevel(), busy);
  EXPECT_EQ(session_->CursorHold(), hold);
  link->EndSessionFocus();  // nothing more to end
  EXPECT_EQ(session_->BusyLevel(), busy);
}

TEST_F(DataLinkDb, ABufferRowLinkShowsTheBufferRowAsBrowsed) {
  CriteriaLink* link = NewLink();
  link->BufferRow = true;
  session_->SetBrowsingColor(1);
  session_->SetInsertingColor(4);
  d_->SetRequestLive(true);
  tr_->StartTransaction();
  d_->Open();
  d_->SetBufferRowNum(2);
  d_->Insert();
  EXPECT_EQ(d_->GetState(), dstInsert);
  EXPECT_EQ(link->GetState(), dstBrowse);
  EXPECT_TRUE(link->GetHasRow());
  EXPECT_EQ(link->GetStateColor(), 1);
  link->BufferRow = false;
  EXPECT_EQ(link->GetState(), dstInsert);
  EXPECT_EQ(link->GetStateColor(), 4);
  d_->Cancel();
}

TEST_F(DataLinkDb, AChangedLinkCallsItsHookAndWrittenValuesAreCalculatedUpon) {
  CriteriaLink* link = NewLink();
  EXPECT_EQ(link->hooks, std::vector<intptr_t>{0});
  link->SetDataSource(nullptr);
  EXPECT_EQ(link->hooks, (std::vector<intptr_t>{0, 0}));
  link->SetDataSource(src_);

  TStringList calc;
  calc.Add("DELKA=INTEGER");
  d_->SetCalculatedFields(&calc);
  d_->SetCalculateAllFields(true);
  int calculated = 0;
  d_->OnCalculateField = [&calculated](TIB_Statement*, TIB_Row*, TIB_Column*) { ++calculated; };
  d_->SetRequestLive(true);
  tr_->StartTransaction();
  d_->Open();
  d_->Edit();
  int written = 0;
  link->OnUpdateData = [&written](TIB_DataLink*, TIB_DataSource*, TIB_Column*) { ++written; };
  calculated = 0;
  link->UpdateData();
  EXPECT_EQ(written, 1);
  EXPECT_GE(calculated, 1);
  d_->SetCalculateAllFields(false);
  calculated = 0;
  link->UpdateData();
  EXPECT_EQ(written, 2);
  EXPECT_EQ(calculated, 0);
  d_->OnCalculateField = nullptr;
  d_->Cancel();
}

TEST_F(DataLinkDb, ADetailsCriteriaFindTheMastersWhenItSearchesWithItsMaster) {
  TIB_DataSource* zsrc = nullptr;
  TIB_BDataset* z = NewDetail(&zsrc);
  z->SetMasterSearch(true);
  CriteriaLink* link = new CriteriaLink(&form_, "Z");
  link->SetDataSource(zsrc);
  link->OnUpdateData = [](TIB_DataLink* l, TIB_DataSource*, TIB_Column*) {
    if (l->GetState() == dstSearch && l->GetSearchWhere().empty()) l->SetSearchWhere("ZVIRE.JMENO = 'Rex'");
  };
  d_->Open();
  z->Open();
  EXPECT_EQ(Ids(z), (std::vector<int>{10, 11}));

  // The open detail enters search mode with its master, and remembers it was open.
  d_->BeginSearch();
  EXPECT_EQ(z->GetState(), dstSearch);
  // Counting while both search counts the master's rows with the detail's criteria.
  EXPECT_EQ(z->GetRecordCount(), 2);
  d_->Post();  // executes the search
  EXPECT_NE(std::string(d_->ServerSQL()).find("EXISTS ( \r\n\r\nSELECT * from ZVIRE\r\n"
                                               "WHERE ZVIRE.ID_KLIENT=KLIENT.ID\r\n  AND ZVIRE.JMENO = 'Rex')"),
            std::string::npos)
      << d_->ServerSQL();
  EXPECT_EQ(Ids(), (std::vector<int>{1, 3}));
  // The detail's search ran with it and the detail is open again on the master's row;
  // its criteria applied to the master only.
  EXPECT_EQ(z->GetState(), dstBrowse);
  d_->First();
  EXPECT_EQ(Ids(z), (std::vector<int>{10, 11}));
  d_->Next();
  EXPECT_EQ(Ids(z), (std::vector<int>{30}));

  // With msfSearchMasterOnSearch the detail's BeginSearch takes the master along.
  d_->BeginSearch();
  d_->Cancel();
  EXPECT_EQ(z->GetState(), dstSearch);  // a cancelled master leaves its detail searching
  z->Cancel();
  z->SetMasterSearchFlags({msfOpenMasterOnOpen, msfSearchAppliesToMasterOnly, msfSearchMasterOnSearch});
  z->BeginSearch();
  EXPECT_EQ(d_->GetState(), dstSearch);
  // Opening the searching detail executes the master's search first.
  link->SetSearchWhere(CZ("ZVIRE.JMENO = 'Alík'"));
  z->Open();
  EXPECT_EQ(d_->GetState(), dstBrowse);
  EXPECT_EQ(Ids(), (std::vector<int>{2}));
  EXPECT_TRUE(z->Active());
}

TEST_F(DataLinkDb, ALookUpsRowBecomesTheCriterionOfItsSearchingKeyDataset) {
  TIB_DataSource* zsrc = nullptr;
  TIB_BDataset* z = NewAnimals(&zsrc);
  TIB_StringList keys;
  keys.SetText("KLIENT.ID=ID_KLIENT");
  d_->SetKeyLinks(&keys);
  d_->SetKeySource(zsrc);
  TIB_KeyDataLink* key_link = d_->KeyDataLink();
  EXPECT_EQ(key_link->GetLinkIdentifier(), "KLNK.ZVIRE");
  // (Opened first, the look-up would write its key into the key dataset's new row.)
  z->BeginSearch();
  d_->Open();
  EXPECT_EQ(key_link->GetSearchWhere(), "(ID_KLIENT = 1)");
  // Scrolling the look-up gives the search its key, not the key dataset's row a value.
  d_->First();
  d_->Next();
  ASSERT_EQ(d_->FieldByName("ID")->GetAsInteger(), 2);
  EXPECT_EQ(key_link->GetSearchWhere(), "(ID_KLIENT = 2)");
  const AnsiString client2 = d_->GetBookmark();
  EXPECT_EQ(key_link->GetSearchText(), client2);
  EXPECT_NE(z->FieldByName("ID_KLIENT")->GetAsInteger(), 2);
  EXPECT_EQ(z->GetState(), dstSearch);
  EXPECT_EQ(z->GetRecordCount(), 1);
  z->ExecuteSearch(true);
  EXPECT_EQ(Ids(z), (std::vector<int>{20}));

  // Written under the link's identifier, read back after the look-up moved away: the
  // look-up returns to the row and the search finds the same.
  TStringList list;
  z->WriteSearchCriteria(&list);
  EXPECT_EQ(list.Values("KLNK.ZVIRE.Where"), "(ID_KLIENT = 2)");
  EXPECT_EQ(list.Values("KLNK.ZVIRE.Data"), client2);
  z->BeginSearch();
  z->Cancel();  // clears the criteria; the look-up leaves its row
  EXPECT_EQ(key_link->GetSearchWhere(), "");
  EXPECT_NE(d_->GetRowNum(), 2);
  z->BeginSearch();
  z->ReadSearchCriteria(&list);
  EXPECT_EQ(d_->FieldByName("ID")->GetAsInteger(), 2);
  EXPECT_EQ(key_link->GetSearchWhere(), "(ID_KLIENT = 2)");
  z->ExecuteSearch(true);
  EXPECT_EQ(Ids(z), (std::vector<int>{20}));

  // A look-up that is closed gives no criteria; leaving the key source clears them.
  z->BeginSearch();
  EXPECT_EQ(d_->FieldByName("ID")->GetAsInteger(), 2);  // shown again on entering search
  d_->SetKeySource(nullptr);
  EXPECT_EQ(key_link->GetSearchWhere(), "");
  EXPECT_EQ(key_link->GetSearchText(), "");
  z->Cancel();
}

TEST_F(DataLinkDb, ARequiredColumnLeftEmptyTakesTheFocusBeforeThePostFails) {
  CriteriaLink* link = NewLink();
  d_->SetRequestLive(true);
  tr_->StartTransaction();
  d_->Open();
  d_->Insert();
  d_->FieldByName("PRIJMENI")->SetAsString(CZ("Veselá"));
  std::string error;
  try {
    d_->Post();
  } catch (const EIB_DatasetError& e) {
    error = AnsiToUtf8(e.Message());
  }
  EXPECT_EQ(error, "ID je povinná položka");
  EXPECT_EQ(link->focused, std::vector<TIB_Column*>{d_->FieldByName("ID")});
  EXPECT_EQ(d_->GetState(), dstInsert);
  d_->Cancel();
}

TEST_F(DataLinkDb, ANewDetailRowPostsItsNewMasterFirst) {
  TIB_DataSource* zsrc = nullptr;
  TIB_BDataset* z = NewDetail(&zsrc);
  d_->SetRequestLive(true);
  z->SetRequestLive(true);
  tr_->StartTransaction();
  d_->Open();
  z->Open();
  d_->Insert();
  d_->FieldByName("ID")->SetAsInteger(5);
  d_->FieldByName("PRIJMENI")->SetAsString(CZ("Nový"));
  z->Insert();
  EXPECT_EQ(z->FieldByName("ID_KLIENT")->GetAsInteger(), 5);
  z->FieldByName("ID")->SetAsInteger(50);
  z->FieldByName("JMENO")->SetAsString("Bety");
  z->Post();  // the server's foreign key needs client 5 now
  EXPECT_EQ(Read("select count(*) from KLIENT where ID = 5"), "1");
  EXPECT_EQ(Read("select ID_KLIENT from ZVIRE where ID = 50"), "5");
  EXPECT_EQ(d_->GetState(), dstInsert);
  d_->FieldByName("PRIJMENI")->SetAsString(CZ("Nováček"));
  d_->Post();
  EXPECT_EQ(d_->GetState(), dstBrowse);
  EXPECT_EQ(Read("select PRIJMENI from KLIENT where ID = 5"), "Nováček");
  EXPECT_EQ(Read("select count(*) from KLIENT"), "5");
}

TEST_F(DataLinkDb, AMasterRowThatComesOrGoesEndsItsDetailsPendingChanges) {
  TIB_DataSource* zsrc = nullptr;
  TIB_BDataset* z = NewDetail(&zsrc);
  d_->SetRequestLive(true);
  z->SetRequestLive(true);
  tr_->StartTransaction();
  d_->Open();
  z->Open();
  // A new master row: the detail's edit is posted first.
  z->Edit();
  z->FieldByName("JMENO")->SetAsString(CZ("Rexík"));
  d_->Insert();
  EXPECT_EQ(z->GetState(), dstBrowse);
  EXPECT_EQ(Read("select JMENO from ZVIRE where ID = 10"), "Rexík");
  // The new master row is cancelled: the detail's new row for it goes too.
  d_->FieldByName("ID")->SetAsInteger(6);
  z->Insert();
  z->FieldByName("ID")->SetAsInteger(60);
  d_->Cancel();
  EXPECT_EQ(z->GetState(), dstBrowse);
  EXPECT_EQ(Read("select count(*) from ZVIRE where ID = 60"), "0");
  // A master row deleted: the detail's new row is cancelled, not posted (its foreign
  // key would keep the client).
  d_->Last();
  ASSERT_EQ(d_->FieldByName("ID")->GetAsInteger(), 4);
  z->Insert();
  z->FieldByName("ID")->SetAsInteger(40);
  z->FieldByName("JMENO")->SetAsString("Kos");
  d_->Delete();
  EXPECT_EQ(Read("select count(*) from KLIENT where ID = 4"), "0");
  EXPECT_EQ(Read("select count(*) from ZVIRE where ID = 40"), "0");
}

TEST_F(DataLinkDb, OpeningASearchingDatasetRunsItsSearch) {
  CriteriaLink* link = NewLink();
  d_->BeginSearch();
  link->OnUpdateData = [](TIB_DataLink* l, TIB_DataSource*, TIB_Column*) {
    if (l->GetState() == dstSearch) l->SetSearchWhere("ID >= 3");
  };
  d_->Open();
  EXPECT_EQ(d_->GetState(), dstBrowse);
  EXPECT_EQ(Ids(), (std::vector<int>{3, 4}));
}

// An executed search reads its first row, not the whole result: the rest is read as the
// user moves on. Only a search whose rows are all read and none found takes the user
// back to the criteria, also when opening itself reads no row.
TEST_F(DataLinkDb, AnExecutedSearchReadsItsFirstRowAndFindsNothingOnlyWhenAllIsRead) {
  struct Case {
    const char* where;
    bool auto_fetch_first;
    bool found;
    int32_t row_num;  // the current row after the search
  };
  const Case cases[] = {
      {"PRIJMENI STARTING WITH 'Nov'", true, true, 1},
      {"PRIJMENI STARTING WITH 'Nov'", false, true, 0},
      {"ID < 0", true, false, 0},
      {"ID < 0", false, false, 0},
  };
  CriteriaLink* link = NewLink();
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.where) + (c.auto_fetch_first ? " / first row fetched" : " / nothing fetched"));
    d_->SetAutoFetchFirst(c.auto_fetch_first);
    d_->BeginSearch();
    link->SetDataName("PRIJMENI");
    link->SetSearchWhere(c.where);
    if (!c.found) {
      try {
        d_->ExecuteSearch(true);
        ADD_FAILURE() << "the search found a row";
      } catch (const EIB_DatasetError& e) {
        EXPECT_EQ(std::string(e.Message()), std::string(IB_Message(TIB_Msg::NoRecordFound)));
      }
      EXPECT_EQ(d_->GetState(), dstSearch);
      continue;
    }
    d_->ExecuteSearch(true);
    EXPECT_EQ(d_->GetState(), dstBrowse);
    EXPECT_EQ(d_->RowNum(), c.row_num);
    EXPECT_EQ(d_->BufferRowCount(), 1);
    EXPECT_FALSE(d_->GetEofFetched());
    d_->SetBufferRowNum(1);
    EXPECT_EQ(d_->GetBufferFields()->ColumnByName("ID")->GetAsInteger(), 1);
    EXPECT_EQ(Ids(), (std::vector<int>{1, 4}));
  }
}

// Counting rows is a read: outside search mode the links are not asked to write what
// they hold (which would start an edit of the browsed row) and the SQL is not prepared
// anew (which would close the dataset and drop the pending edit).
TEST_F(DataLinkDb, CountingRowsOutsideSearchLeavesTheRowAndItsEditAsTheyAre) {
  CriteriaLink* link = NewLink();
  link->OnUpdateData = [](TIB_DataLink* l, TIB_DataSource*, TIB_Column*) {
    l->GetDataset()->FieldByName("PRIJMENI")->SetAsString("Held");
  };
  d_->SetRequestLive(true);
  tr_->StartTransaction();
  d_->Open();
  EXPECT_EQ(d_->GetRecordCount(), 4);
  EXPECT_EQ(d_->GetState(), dstBrowse);
  EXPECT_EQ(d_->FieldByName("PRIJMENI")->GetAsString(), CZ("Novák"));

  link->OnUpdateData = nullptr;
  d_->Edit();
  d_->FieldByName("PRIJMENI")->SetAsString("Edited");
  d_->InvalidateSQL();
  EXPECT_EQ(d_->GetRecordCount(), 4);
  EXPECT_EQ(d_->GetState(), dstEdit);
  EXPECT_EQ(d_->FieldByName("PRIJMENI")->GetAsString(), "Edited");
}

// A detail hears of its master's changes before the master's other listeners: a link
// that was on the master's source first reads the detail already on the new master row,
// and a link on another source of the master hears a state change after the detail.
TEST_F(DataLinkDb, ADetailHearsOfItsMastersChangesBeforeTheMastersOtherLinks) {
  CriteriaLink* early = NewLink();
  std::vector<std::string> log;
  auto* detail_link = new CriteriaLink(&form_, "Z");
  // The handlers read this test's locals: they go before the fixture closes anything.
  struct Quiet {
    std::vector<TIB_DataLink*> links;
    ~Quiet() {
      for (TIB_DataLink* l : links) {
        l->OnStateChanged = nullptr;
        l->OnDataChange = nullptr;
      }
    }
  } quiet{{early, detail_link}};
  early->OnStateChanged = [&log](TIB_DataLink*, TIB_DataSource*) { log.push_back("master link"); };
  TIB_DataSource* zs = nullptr;
  TIB_BDataset* z = NewDetail(&zs);
  int seen_client = -1;
  early->OnDataChange = [&](TIB_DataLink*, TIB_DataSource*, TIB_Column*) {
    seen_client = z->Active() && z->Fields()->RowState() != rsEmpty ? z->FieldByName("ID_KLIENT")->GetAsInteger() : 0;
  };
  d_->SetRequestLive(true);
  d_->Open();
  z->Open();
  d_->First();
  d_->Next();
  EXPECT_EQ(d_->FieldByName("ID")->GetAsInteger(), 2);
  EXPECT_EQ(seen_client, 2);

  // The detail follows a second source of the master, attached after the first.
  auto* other = new TIB_DataSource(&form_);
  other->SetDataset(d_);
  z->SetMasterSource(other);
  detail_link->SetDataSource(zs);
  detail_link->OnStateChanged = [&log](TIB_DataLink*, TIB_DataSource*) { log.push_back("detail link"); };
  log.clear();
  d_->Edit();
  ASSERT_EQ(d_->GetState(), dstEdit);
  const auto detail_at = std::find(log.begin(), log.end(), "detail link");
  const auto master_at = std::find(log.begin(), log.end(), "master link");
  ASSERT_NE(detail_at, log.end());
  ASSERT_NE(master_at, log.end());
  EXPECT_LT(detail_at - log.begin(), master_at - log.begin());
  d_->Cancel();
}

// A dataset opened out of search mode goes back to its criteria when it is closed; one
// opened otherwise, or closed by a refresh, does not.
TEST_F(DataLinkDb, ADatasetOpenedOutOfSearchReturnsToSearchWhenClosed) {
  d_->SetRequestLive(true);
  d_->Prepare();
  d_->Open();
  d_->Close();
  EXPECT_EQ(d_->GetState(), dstPrepared);

  d_->BeginSearch();
  d_->Open();
  ASSERT_EQ(d_->GetState(), dstBrowse);
  d_->Refresh();
  EXPECT_EQ(d_->GetState(), dstBrowse);
  d_->Close();
  EXPECT_EQ(d_->GetState(), dstSearch);

  d_->Unprepare();
  EXPECT_EQ(d_->GetState(), dstInactive);
}

// After its SQL went stale, an open dataset counts the rows it shows, not what a count
// statement finds now: a row another transaction committed since the sorted result was
// read is not among them.
TEST_F(DataLinkDb, AnOpenDatasetWithStaleSqlCountsTheRowsItShows) {
  d_->SQL()->SetText("select ID, PRIJMENI from KLIENT order by PRIJMENI");
  tr_->StartTransaction();
  d_->Open();
  ASSERT_FALSE(d_->GetEofFetched());

  auto* tr2 = new TIB_Transaction(&form_);
  tr2->SetIB_Connection(conn_);
  auto* ins = new TIB_Statement(&form_);
  ins->SetIB_Connection(conn_);
  ins->SetIB_Transaction(tr2);
  ins->SQL()->SetText("insert into KLIENT values (99, 'Zeman')");
  tr2->StartTransaction();
  ins->ExecSQL();
  tr2->Commit();

  d_->InvalidateSQL();
  EXPECT_EQ(d_->GetRecordCount(), 4);
  EXPECT_EQ(Ids().size(), 4u);

  tr2->StartTransaction();
  ins->SQL()->SetText("delete from KLIENT where ID = 99");
  ins->ExecSQL();
  tr2->Commit();
}

}  // namespace
}  // namespace pelvar::test
