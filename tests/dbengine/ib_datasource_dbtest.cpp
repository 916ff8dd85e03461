// Data sources and data links over a forward-only cursor against real Firebird 3
// (embedded): the source follows the dataset's state and rows, passes the events to its
// links, holds them back while switched off, and the links keep their modify state.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_datasource.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

// A cursor whose state the tests may set directly.
class SourcedCursor : public TIB_Cursor {
 public:
  explicit SourcedCursor(TComponent* Owner) : TIB_Cursor(Owner) {}
  using TIB_Dataset::SetState;
};

// Records every event a link receives and what it sees.
class RecordingDataLink : public TIB_DataLink {
 public:
  explicit RecordingDataLink(TComponent* Owner) : TIB_DataLink(Owner) {
    OnStateChanged = [this](TIB_DataLink*, TIB_DataSource*) {
      states.push_back(GetState());
    };
    OnDataChange = [this](TIB_DataLink*, TIB_DataSource*, TIB_Column* f) {
      changes.push_back(f);
    };
  }
  void ProcessEvent(uint8_t Code, intptr_t Argument) override {
    codes.push_back(Code);
    TIB_DataLink::ProcessEvent(Code, Argument);
  }
  std::vector<int> codes;
  std::vector<TIB_DatasetState> states;
  std::vector<TIB_Column*> changes;
};

class DataSourceDb : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded);
    fb_->RunSql(
        "create table KLIENT (ID integer not null primary key, PRIJMENI varchar(30));\n"
        "commit;\n"
        "insert into KLIENT values (1, 'Novák');\n"
        "insert into KLIENT values (2, 'Dvořák');\n"
        "insert into KLIENT values (3, 'Černá');\n"
        "commit;\n");
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
    conn_ = new TIB_Connection(&form_);
    conn_->SetDatabaseName(CZ(fb_->ConnectString()));
    conn_->SetUsername(kSysdbaUser);
    conn_->SetPassword(kSysdbaPassword);
    conn_->SetCharSet("WIN1250");
    conn_->SetSQLDialect(3);
    conn_->Open();
    tr_ = new TIB_Transaction(&form_);
    tr_->SetIB_Connection(conn_);
    cur_ = new SourcedCursor(&form_);
    cur_->SetIB_Connection(conn_);
    cur_->SetIB_Transaction(tr_);
    cur_->SQL()->SetText("select ID, PRIJMENI from KLIENT order by ID");
    src_ = new TIB_DataSource(&form_);
  }
  void TearDown() override {
    // The handlers capture the test body's locals: drop them before the components go.
    for (int i = 0; i < form_.ComponentCount(); ++i) {
      if (auto* s = dynamic_cast<TIB_DataSource*>(form_.Components(i))) {
        s->BeforeAssignment = s->AfterAssignment = s->OnStateChanged = nullptr;
        s->OnDataChange = s->OnUpdateData = nullptr;
      }
      if (auto* l = dynamic_cast<TIB_DataLink*>(form_.Components(i))) {
        l->BeforeAssignment = l->AfterAssignment = l->OnStateChanged = nullptr;
        l->OnModifyStateChanged = nullptr;
        l->OnDataChange = l->OnUpdateData = nullptr;
      }
    }
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    fb_.reset();
    ClientLibraryNameHook = nullptr;
  }
  int Id() { return cur_->Fields()->GetColumn(0)->GetAsInteger(); }

  std::unique_ptr<FbTestDb> fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
  SourcedCursor* cur_ = nullptr;
  TIB_DataSource* src_ = nullptr;
};

TEST_F(DataSourceDb, FollowsTheDatasetStateAndRowsAndPassesThemToLinks) {
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  std::vector<std::string> log;
  src_->BeforeAssignment = [&](TIB_DataSource*, TIB_Dataset* d) {
    log.push_back(d ? "before:set" : "before:nil");
  };
  src_->AfterAssignment = [&](TIB_DataSource*, TIB_Dataset* d) {
    log.push_back(d ? "after:set" : "after:nil");
  };
  int source_changes = 0;
  src_->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) { ++source_changes; };
  std::vector<TIB_DatasetState> source_states;
  src_->OnStateChanged = [&](TIB_DataSource* s, TIB_Dataset*) {
    source_states.push_back(s->GetState());
  };

  EXPECT_EQ(src_->GetState(), dstInactive);
  EXPECT_TRUE(src_->GetEof());
  EXPECT_TRUE(src_->GetBof());
  EXPECT_FALSE(src_->GetHasRow());
  EXPECT_TRUE(src_->GetReadOnly());

  src_->SetDataset(cur_);
  EXPECT_EQ(log, (std::vector<std::string>{"before:nil", "after:set"}));
  ASSERT_EQ(TIB_DataSource::DataSourcesOf(cur_).size(), 1u);
  EXPECT_EQ(link->GetDataset(), cur_);
  // Assignment: state change and a whole-row data change reach the link.
  EXPECT_EQ(link->codes.front(), setBeforeAssignment);
  EXPECT_FALSE(link->states.empty());
  EXPECT_FALSE(link->changes.empty());
  link->codes.clear();
  link->states.clear();
  link->changes.clear();
  source_states.clear();

  cur_->Open();
  EXPECT_EQ(src_->GetState(), dstBrowse);
  EXPECT_EQ(link->GetState(), dstBrowse);
  EXPECT_TRUE(src_->GetActive());
  EXPECT_TRUE(link->GetActive());
  EXPECT_TRUE(link->GetHasRow());
  EXPECT_FALSE(src_->GetReadOnly());
  EXPECT_FALSE(link->GetEditing());
  EXPECT_FALSE(link->ModifyState());
  ASSERT_FALSE(source_states.empty());
  EXPECT_EQ(source_states.back(), dstBrowse);
  ASSERT_FALSE(link->states.empty());
  EXPECT_EQ(link->states.back(), dstBrowse);
  EXPECT_EQ(Id(), 1);

  const size_t before = link->changes.size();
  const int source_before = source_changes;
  cur_->Next();
  EXPECT_EQ(Id(), 2);
  EXPECT_GT(link->changes.size(), before);
  EXPECT_GT(source_changes, source_before);

  cur_->Next();
  cur_->Next();
  EXPECT_TRUE(src_->GetEof());

  cur_->Close();
  EXPECT_EQ(link->GetState(), cur_->GetState());
  EXPECT_FALSE(link->GetActive());

  log.clear();
  src_->SetDataset(nullptr);
  EXPECT_EQ(log, (std::vector<std::string>{"before:set", "after:nil"}));
  EXPECT_TRUE(TIB_DataSource::DataSourcesOf(cur_).empty());
  EXPECT_EQ(link->GetDataset(), nullptr);
}

TEST_F(DataSourceDb, SwitchedOffSourceHoldsBackRowAndStateChanges) {
  src_->SetDataset(cur_);
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  std::vector<TIB_Column*> source_changes;
  src_->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column* f) {
    source_changes.push_back(f);
  };
  cur_->Open();

  // A row change while switched off: the link hears nothing; switching on fires
  // OnDataChange(nil) once.
  link->codes.clear();
  link->changes.clear();
  source_changes.clear();
  src_->SetEnabled(false);
  src_->SetEnabled(false);  // unchanged: no second disable
  EXPECT_EQ(src_->DisableCount(), 1);
  cur_->Next();
  EXPECT_EQ(Id(), 2);
  EXPECT_TRUE(link->changes.empty());
  EXPECT_TRUE(source_changes.empty());
  src_->SetEnabled(true);
  EXPECT_EQ(source_changes, (std::vector<TIB_Column*>{nullptr}));
  EXPECT_TRUE(link->changes.empty());  // deferred data changes reach only OnDataChange

  // A state change while switched off is delivered once, as SysStateChanged to every link
  // plus OnDataChange(nil).
  link->states.clear();
  source_changes.clear();
  src_->SetEnabled(false);
  cur_->Close();
  EXPECT_TRUE(link->states.empty());
  src_->SetEnabled(true);
  EXPECT_EQ(link->states.size(), 1u);
  EXPECT_EQ(source_changes, (std::vector<TIB_Column*>{nullptr}));
  // Events 0, 1, 20 and 24 pass even while switched off.
  src_->SetEnabled(false);
  link->codes.clear();
  src_->ProcessEvent(setFieldsRefsChanged, 0);
  src_->ProcessEvent(setLayoutChanged, 0);
  EXPECT_EQ(link->codes, (std::vector<int>{setFieldsRefsChanged}));
  src_->SetEnabled(true);
}

TEST_F(DataSourceDb, LinkModifyStateAndReadOnlyFollowSearchAndEditing) {
  src_->SetDataset(cur_);
  auto* link = new RecordingDataLink(&form_);
  int modify_changes = 0;
  link->OnModifyStateChanged = [&](TIB_DataLink*, TIB_DataSource*) { ++modify_changes; };
  link->SetDataSource(src_);
  cur_->Prepare();

  // In search state the link is read-only exactly when the dataset prevents searching.
  struct Case {
    bool prevent;
    bool read_only;
    bool modify;
  } cases[] = {{false, false, true}, {true, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.prevent);
    cur_->PreventSearching = c.prevent;
    cur_->SetState(dstSearch);
    EXPECT_TRUE(src_->GetModifying());
    EXPECT_FALSE(src_->GetReadOnly());
    EXPECT_EQ(link->GetReadOnly(), c.read_only);
    EXPECT_EQ(link->ModifyState(), c.modify);
    cur_->SetState(dstPrepared);
    EXPECT_FALSE(link->ModifyState());
  }
  EXPECT_EQ(modify_changes, 2);

  // Editing makes the link editable.
  cur_->SetState(dstEdit);
  EXPECT_TRUE(link->GetEditing());
  EXPECT_TRUE(link->ModifyState());
  cur_->SetState(dstPrepared);
  EXPECT_FALSE(link->ModifyState());
}

TEST_F(DataSourceDb, LinkReadOnlyFollowsTheDatasetsPreventRules) {
  src_->SetDataset(cur_);
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  cur_->Prepare();
  struct Case {
    TIB_DatasetState state;
    bool dataset_read_only, prevent_edit, prevent_insert, prevent_search;
    bool link_read_only;
  } cases[] = {
      {dstEdit, false, false, false, false, false},
      {dstEdit, false, true, false, false, true},
      {dstInsert, false, true, false, false, false},
      {dstInsert, false, false, true, false, true},
      {dstBrowse, false, true, true, true, false},
      {dstBrowse, true, false, false, false, true},
      // Searching ignores the dataset's read-only answer.
      {dstSearch, true, true, true, false, false},
      {dstSearch, false, false, false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(&c - cases));
    cur_->SetReadOnly(c.dataset_read_only);
    cur_->SetPreventEditing(c.prevent_edit);
    cur_->SetPreventInserting(c.prevent_insert);
    cur_->PreventSearching = c.prevent_search;
    cur_->SetState(c.state);
    EXPECT_EQ(link->GetReadOnly(), c.link_read_only);
    EXPECT_EQ(src_->GetReadOnly(), c.state != dstSearch && c.dataset_read_only);
    cur_->SetState(dstPrepared);
  }
  cur_->SetReadOnly(false);
  cur_->SetPreventEditing(false);
  cur_->SetPreventInserting(false);
  cur_->PreventSearching = false;

  // Modify in search state does nothing and answers True; a read-only link refuses.
  cur_->SetState(dstSearch);
  EXPECT_TRUE(link->Modify());
  EXPECT_EQ(cur_->GetState(), dstSearch);
  cur_->PreventSearching = true;
  EXPECT_FALSE(link->Modify());
  cur_->SetState(dstPrepared);
}

TEST_F(DataSourceDb, ModifyEditsARowAndInsertSkipsAForwardOnlyRow) {
  src_->SetDataset(cur_);
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  cur_->SetRequestLive(true);
  cur_->Open();
  ASSERT_TRUE(src_->GetHasRow());
  // A forward-only dataset that holds a row does not insert.
  EXPECT_FALSE(src_->Insert());
  EXPECT_EQ(cur_->GetState(), dstBrowse);
  // AutoEdit off: nothing starts.
  src_->AutoEdit = false;
  EXPECT_FALSE(src_->Edit());
  EXPECT_EQ(cur_->GetState(), dstBrowse);
  src_->AutoEdit = true;
  EXPECT_TRUE(link->Modify());
  EXPECT_EQ(cur_->GetState(), dstEdit);
  EXPECT_TRUE(link->ModifyState());
  cur_->Cancel();
  EXPECT_EQ(cur_->GetState(), dstBrowse);
  EXPECT_FALSE(link->ModifyState());
}

TEST_F(DataSourceDb, ModifyOnAnEmptyDatasetInserts) {
  cur_->SQL()->SetText("select ID, PRIJMENI from KLIENT where ID < 0");
  cur_->SetRequestLive(true);
  src_->SetDataset(cur_);
  cur_->Open();
  ASSERT_FALSE(src_->GetHasRow());
  EXPECT_TRUE(src_->Modify());
  EXPECT_EQ(cur_->GetState(), dstInsert);
  cur_->Cancel();
}

TEST_F(DataSourceDb, LinkEventTableAndReentry) {
  src_->SetDataset(cur_);
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  cur_->Open();
  cur_->Next();
  ASSERT_EQ(cur_->GetRowNum(), 2);

  // Event 25 for another row does nothing; for the current row it is a whole-row change.
  link->changes.clear();
  src_->ProcessEvent(dsetRowRefreshed, 1);
  EXPECT_TRUE(link->changes.empty());
  src_->ProcessEvent(dsetRowRefreshed, 2);
  EXPECT_EQ(link->changes, (std::vector<TIB_Column*>{nullptr}));

  // A data change arriving while the data-change handler runs is dropped.
  link->changes.clear();
  int depth = 0;
  link->OnDataChange = [&](TIB_DataLink* l, TIB_DataSource*, TIB_Column*) {
    ++depth;
    l->RefreshData();
  };
  link->RefreshData();
  EXPECT_EQ(depth, 1);

  // The update-data handler is not re-entered and its flag is cleared after a throw.
  int updates = 0;
  link->OnUpdateData = [&](TIB_DataLink* l, TIB_DataSource*, TIB_Column*) {
    ++updates;
    l->UpdateData();
    throw EAbort("x");
  };
  EXPECT_THROW(src_->ProcessEvent(dsetUpdateData, 0), EAbort);
  EXPECT_THROW(link->UpdateRecord(), EAbort);
  EXPECT_EQ(updates, 2);

  // Handlers of the other codes, and the event hook after each.
  std::vector<std::string> fired;
  auto rec = [&](const char* n) { return [&fired, n](TIB_DataLink*, TIB_DataSource*) { fired.push_back(n); }; };
  link->BeforeExecute = rec("6");
  link->AfterExecute = rec("7");
  link->OnLayoutChanged = rec("15");
  link->OnOrderingItemChanged = rec("28");
  link->OnOrderingLinkChanged = rec("29");
  link->OnSearchingLinkChanged = rec("30");
  for (uint8_t code : {6, 7, 15, 28, 29, 30, 99}) src_->ProcessEvent(code, 0);
  EXPECT_EQ(fired, (std::vector<std::string>{"6", "7", "15", "28", "29", "30"}));
}

TEST_F(DataSourceDb, LinkAttachedDuringStateChangeGetsSecondPass) {
  src_->SetDataset(cur_);
  auto* first = new RecordingDataLink(&form_);
  auto* late = new RecordingDataLink(&form_);
  first->SetDataSource(src_);
  first->OnStateChanged = [&](TIB_DataLink*, TIB_DataSource* s) { late->SetDataSource(s); };
  late->states.clear();
  src_->DoStateChanged();
  EXPECT_EQ(late->states.size(), 1u);
}

TEST_F(DataSourceDb, OnlyDatasetsAttachAndDestroyDetachesEverything) {
  auto* plain = new TIB_Statement(&form_);
  try {
    src_->SetStatement(plain);
    FAIL() << "nothing raised";
  } catch (const EIB_DatasetError& e) {
    EXPECT_EQ(AnsiToUtf8(e.Message()), "Chybný typ třídy");
  }
  EXPECT_EQ(src_->GetDataset(), nullptr);

  src_->SetDataset(cur_);
  auto* a = new RecordingDataLink(&form_);
  auto* b = new RecordingDataLink(&form_);
  a->SetDataSource(src_);
  b->SetDataSource(src_);
  EXPECT_EQ(src_->Get_DataLinkCount(), 2);
  delete a;
  EXPECT_EQ(src_->Get_DataLinkCount(), 1);
  delete src_;
  src_ = nullptr;
  EXPECT_EQ(b->DataSource(), nullptr);
  EXPECT_TRUE(TIB_DataSource::DataSourcesOf(cur_).empty());
  cur_->Open();  // nothing dangling
  EXPECT_EQ(Id(), 1);
}

TEST_F(DataSourceDb, EditInsertAndModifyAnswerFalseWhenTheDatasetRefuses) {
  src_->SetDataset(cur_);
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  cur_->SetRequestLive(true);
  cur_->Open();
  cur_->SetPreventEditing(true);
  EXPECT_FALSE(src_->Edit());
  EXPECT_FALSE(src_->Modify());
  EXPECT_FALSE(link->Modify());
  EXPECT_EQ(cur_->GetState(), dstBrowse);

  cur_->SQL()->SetText("select ID, PRIJMENI from KLIENT where ID < 0");
  cur_->Open();
  ASSERT_FALSE(src_->GetHasRow());
  cur_->SetPreventInserting(true);
  EXPECT_FALSE(src_->Insert());
  EXPECT_FALSE(src_->Modify());
  EXPECT_EQ(cur_->GetState(), dstBrowse);
}

TEST_F(DataSourceDb, DestroyingASourceFiresNothingIntoItsHandlers) {
  src_->SetDataset(cur_);
  cur_->Open();
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  std::vector<std::string> fired;
  src_->BeforeAssignment = [&](TIB_DataSource*, TIB_Dataset*) { fired.push_back("before"); };
  src_->AfterAssignment = [&](TIB_DataSource*, TIB_Dataset*) { fired.push_back("after"); };
  src_->OnStateChanged = [&](TIB_DataSource*, TIB_Dataset*) { fired.push_back("state"); };
  src_->OnDataChange = [&](TIB_StatementLink*, TIB_Statement*, TIB_Column*) { fired.push_back("data"); };
  delete src_;
  src_ = nullptr;
  EXPECT_TRUE(fired.empty()) << fired.front();
  // The links are still told that their source went away.
  EXPECT_EQ(link->DataSource(), nullptr);
  EXPECT_EQ(link->GetState(), dstInactive);
  EXPECT_TRUE(TIB_DataSource::DataSourcesOf(cur_).empty());
}

TEST_F(DataSourceDb, DestroyingTheDatasetDetachesItsSources) {
  src_->SetDataset(cur_);
  auto* link = new RecordingDataLink(&form_);
  link->SetDataSource(src_);
  const TIB_Dataset* gone = cur_;
  delete cur_;
  cur_ = nullptr;
  EXPECT_EQ(src_->GetDataset(), nullptr);
  EXPECT_TRUE(TIB_DataSource::DataSourcesOf(gone).empty());
  EXPECT_EQ(link->GetState(), dstInactive);
  EXPECT_TRUE(link->GetReadOnly() == false);
}

TEST_F(DataSourceDb, FocusMovesBetweenSourcesOnlyWhenAllowed) {
  auto* other = new TIB_DataSource(&form_);
  src_->SetDataset(cur_);
  std::vector<std::string> log;
  auto rec = [&log](const char* n) {
    return [&log, n](TIB_DataSource*, TIB_Dataset*) { log.push_back(n); };
  };
  src_->OnGainFocus = rec("src+");
  src_->OnLoseFocus = rec("src-");
  other->OnGainFocus = rec("other+");
  src_->SetFocus();  // AllowFocus is off
  EXPECT_TRUE(log.empty());
  src_->SetAnnounceFocus(true);
  EXPECT_TRUE(src_->AllowFocus());
  src_->SetFocus();
  EXPECT_EQ(src_->IB_Session()->FocusedDataSource(), src_);
  EXPECT_EQ(src_->IB_Session()->FocusedDataset(), cur_);
  other->SetAllowFocus(true);
  other->SetFocus();
  EXPECT_EQ(log, (std::vector<std::string>{"src+", "src-", "other+"}));
  src_->SetAllowFocus(false);
  EXPECT_FALSE(src_->AnnounceFocus());
  src_->OnGainFocus = src_->OnLoseFocus = other->OnGainFocus = nullptr;
  delete other;  // the session forgets a focused source that goes away
  EXPECT_EQ(src_->IB_Session()->FocusedDataSource(), nullptr);
}

}  // namespace
}  // namespace pelvar::test
