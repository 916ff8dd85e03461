// The forward-only dataset against real Firebird 3 (embedded): opening a SELECT over a
// named cursor, walking it to the end, the order of its Before/After events, its states,
// closing, refreshing by the refresh action, the quick fetch, and the link events.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_dataset.h"
#include "platform/application.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

// Records the link events a statement sends.
class RecordingLink : public TIB_StatementLink {
 public:
  explicit RecordingLink(TComponent* Owner) : TIB_StatementLink(Owner) {}
  void ProcessEvent(uint8_t Code, intptr_t Argument) override {
    codes.push_back(Code);
    arguments.push_back(Argument);
    TIB_StatementLink::ProcessEvent(Code, Argument);
  }
  std::vector<int> codes;
  std::vector<intptr_t> arguments;
};

// A dataset whose state the test sets directly and whose data-source notifications it
// counts; Buffered makes it hold notifications back as a buffered dataset does.
class ProbeDataset : public TIB_Dataset {
 public:
  ProbeDataset(TComponent* Owner, bool Buffered) : TIB_Dataset(Owner), buffered_(Buffered) {}
  bool GetUnidirectional() const override { return !buffered_; }
  using TIB_Dataset::SetState;
  void NotifyDataSourcesStateChanged() override { ++notified; }
  int notified = 0;

 private:
  bool buffered_;
};

class DatasetDb : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded);
    fb_->RunSql(
        "create table KLIENT (ID integer not null primary key, PRIJMENI varchar(30),\n"
        "  MESTO varchar(30));\n"
        "commit;\n"
        "insert into KLIENT values (1, 'Novák', 'Brno');\n"
        "insert into KLIENT values (2, 'Dvořák', 'Praha');\n"
        "insert into KLIENT values (3, 'Černá', 'Tábor');\n"
        "insert into KLIENT values (4, 'Šťastný', 'Plzeň');\n"
        "insert into KLIENT values (5, 'Říha', 'Jihlava');\n"
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
  }
  void TearDown() override {
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    fb_.reset();
    ClientLibraryNameHook = nullptr;
  }

  TIB_Cursor* NewCursor(const std::string& sql = "select ID, PRIJMENI, MESTO from KLIENT "
                                                 "order by ID") {
    auto* c = new TIB_Cursor(&form_);
    c->SetIB_Connection(conn_);
    c->SetIB_Transaction(tr_);
    c->SQL()->SetText(CZ(sql));
    return c;
  }

  // Hooks every dataset and statement event of C into log.
  void Record(TIB_Dataset* c) {
    auto ds = [this](const char* name) { return [this, name](TIB_Dataset*) { log.push_back(name); }; };
    auto st = [this](const char* name) {
      return [this, name](TIB_Statement*) { log.push_back(name); };
    };
    c->BeforeOpen = ds("BeforeOpen");
    c->AfterOpen = ds("AfterOpen");
    c->BeforeClose = ds("BeforeClose");
    c->AfterClose = ds("AfterClose");
    c->BeforeScroll = ds("BeforeScroll");
    c->AfterScroll = ds("AfterScroll");
    c->AfterFetchRow = ds("AfterFetchRow");
    c->AfterFetchEof = ds("AfterFetchEof");
    c->BeforeExecute = st("BeforeExecute");
    c->AfterExecute = st("AfterExecute");
    c->OnActiveChange = st("OnActiveChange");
  }

  static std::string Name(TIB_Dataset* c) {
    return AnsiToUtf8(c->Fields()->GetColumn(1)->GetAsString());
  }
  static int Id(TIB_Dataset* c) { return c->Fields()->GetColumn(0)->GetAsInteger(); }

  std::vector<std::string> log;
  std::unique_ptr<FbTestDb> fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
};

template <typename E>
std::string RaisedMessage(const std::function<void()>& f) {
  try {
    f();
  } catch (const E& e) {
    return AnsiToUtf8(e.Message());
  }
  return "(nothing raised)";
}

TEST_F(DatasetDb, OpenWalksToEofWithEventsAndStatesInOrder) {
  TIB_Cursor* c = NewCursor();
  EXPECT_EQ(c->State(), dstInactive);
  c->Prepare();
  EXPECT_EQ(c->State(), dstPrepared);
  Record(c);

  c->Open();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeExecute", "BeforeOpen", "OnActiveChange",
                                           "AfterOpen", "AfterExecute", "BeforeScroll",
                                           "AfterFetchRow", "AfterScroll"}));
  EXPECT_TRUE(c->Active());
  EXPECT_EQ(c->State(), dstBrowse);
  EXPECT_EQ(c->RowNum(), 1);
  EXPECT_FALSE(c->Bof());
  EXPECT_FALSE(c->Eof());
  EXPECT_EQ(Id(c), 1);
  EXPECT_EQ(tr_->OpenCursorCount(), 1);

  std::vector<std::string> names{Name(c)};
  log.clear();
  c->Next();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeScroll", "AfterFetchRow", "AfterScroll"}));
  names.push_back(Name(c));
  while (true) {
    c->Next();
    if (c->Eof()) break;
    names.push_back(Name(c));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Novák", "Dvořák", "Černá", "Šťastný", "Říha"}));
  EXPECT_EQ(c->RowNum(), 5);
  EXPECT_EQ(c->GetEofRowNum(), 6);
  EXPECT_EQ(Id(c), 5);  // the last row stays in the field row
  // The end of data gave the server cursor up at once.
  EXPECT_FALSE(c->CursorDeclared());
  EXPECT_EQ(tr_->OpenCursorCount(), 0);
  EXPECT_TRUE(c->Active());
  EXPECT_EQ(RaisedMessage<EIB_DatasetError>([&] { c->Next(); }), "Na konci datasetu");
  EXPECT_EQ(RaisedMessage<EIB_DatasetError>([&] { c->Last(); }), "Na konci datasetu");

  log.clear();
  c->Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeClose", "OnActiveChange", "AfterClose"}));
  EXPECT_FALSE(c->Active());
  EXPECT_EQ(c->State(), dstPrepared);
  EXPECT_EQ(c->RowNum(), 0);
  EXPECT_EQ(c->Fields()->RowState(), rsEmpty);

  c->Unprepare();
  EXPECT_EQ(c->State(), dstInactive);
}

TEST_F(DatasetDb, FirstReopensAndMoveByCountsTheRowsMoved) {
  TIB_Cursor* c = NewCursor();
  c->First();  // prepares and opens
  EXPECT_EQ(c->RowNum(), 1);
  EXPECT_EQ(c->MoveBy(0), 0);
  EXPECT_EQ(c->RowNum(), 1);
  EXPECT_EQ(c->MoveBy(2), 2);
  EXPECT_EQ(Id(c), 3);
  EXPECT_EQ(RaisedMessage<EIB_StatementError>([&] { c->MoveBy(-1); }), "IB_CURSOR je jednosměrný");
  EXPECT_EQ(RaisedMessage<EIB_StatementError>([&] { c->Prior(); }), "IB_CURSOR je jednosměrný");
  EXPECT_EQ(c->MoveBy(10), 2);  // only two rows were left
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->MoveBy(1), 0);

  Record(c);
  c->First();
  EXPECT_EQ(c->RowNum(), 1);
  EXPECT_FALSE(c->Eof());
  EXPECT_EQ(Id(c), 1);
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeScroll", "BeforeClose", "OnActiveChange",
                                           "AfterClose", "BeforeExecute", "BeforeOpen",
                                           "OnActiveChange", "AfterOpen", "AfterExecute",
                                           "AfterFetchRow", "AfterScroll"}));

  c->Last();
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->RowNum(), 5);
}

TEST_F(DatasetDb, WithoutAutoFetchFirstTheCursorWaitsAtBof) {
  TIB_Cursor* c = NewCursor();
  c->SetAutoFetchFirst(false);
  c->Open();
  EXPECT_TRUE(c->Active());
  EXPECT_TRUE(c->Bof());
  EXPECT_EQ(c->RowNum(), 0);
  EXPECT_EQ(RaisedMessage<EIB_DatasetError>([&] { c->Prior(); }), "Na začátku datasetu");
  c->CursorNext();
  EXPECT_EQ(c->RowNum(), 1);
  EXPECT_EQ(Id(c), 1);
}

TEST_F(DatasetDb, RefreshFollowsTheRefreshActionWithoutOpenCloseEvents) {
  struct Case {
    TIB_RefreshAction action;
    int row_after;
    bool exact;
  };
  for (const Case& k : {Case{raOpen, 1, true}, Case{raKeepRowNum, 3, true}}) {
    SCOPED_TRACE(static_cast<int>(k.action));
    TIB_Cursor* c = NewCursor();
    c->SetRefreshAction(k.action);
    c->Open();
    c->MoveBy(2);
    ASSERT_EQ(Id(c), 3);

    // A change made meanwhile in the same transaction shows after the refresh.
    TIB_DSQL upd(nullptr);
    upd.SetIB_Connection(conn_);
    upd.SetIB_Transaction(tr_);
    upd.SQL()->SetText(CZ("update KLIENT set MESTO = 'Znojmo' where ID = 3"));
    upd.Execute();

    Record(c);
    c->SetWorkFlags(0);
    EXPECT_EQ(c->Refresh(), k.exact);
    for (const std::string& e : log) {
      EXPECT_TRUE(e != "BeforeOpen" && e != "AfterOpen" && e != "BeforeClose" &&
                  e != "AfterClose")
          << e;
    }
    EXPECT_TRUE(c->Active());
    EXPECT_EQ(c->RowNum(), k.row_after);
    if (k.action == raKeepRowNum) {
      EXPECT_EQ(AnsiToUtf8(c->Fields()->GetColumn(2)->GetAsString()), "Znojmo");
    }
    EXPECT_EQ(c->WorkFlags() & 16, 16);
    EXPECT_EQ(tr_->OpenCursorCount(), 1);
    delete c;
    log.clear();
    tr_->Rollback();
  }
}

TEST_F(DatasetDb, RefreshOfAClosedDatasetDoesNothing) {
  TIB_Cursor* c = NewCursor();
  EXPECT_FALSE(c->Refresh());
  EXPECT_FALSE(c->RefreshAll());
  EXPECT_FALSE(c->Active());
}

TEST_F(DatasetDb, QuickFetchHoldsOneRowAtEndOfData) {
  TIB_Cursor* c = NewCursor();
  Record(c);
  EXPECT_TRUE(c->QuickFetch());
  EXPECT_TRUE(c->Active());
  EXPECT_EQ(c->State(), dstBrowse);
  EXPECT_EQ(c->RowNum(), 1);
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(Id(c), 1);
  EXPECT_EQ(tr_->OpenCursorCount(), 0);
  EXPECT_EQ(log, (std::vector<std::string>{"AfterFetchRow", "OnActiveChange"}));

  TIB_Cursor* none = NewCursor("select ID from KLIENT where ID < 0");
  log.clear();
  Record(none);
  EXPECT_FALSE(none->QuickFetch());
  EXPECT_FALSE(none->Active());
  EXPECT_EQ(none->State(), dstPrepared);
  EXPECT_EQ(log, (std::vector<std::string>{"AfterFetchEof"}));
}

TEST_F(DatasetDb, CursorNameIsMadeOncePerPrepare) {
  TIB_Cursor* c = NewCursor();
  c->Prepare();
  const AnsiString name = c->CursorName();
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name[0], 'C');
  c->Open();
  c->Close();
  c->Open();
  EXPECT_EQ(c->CursorName(), name);
  c->Unprepare();
  EXPECT_TRUE(c->CursorName().empty());
  c->Prepare();
  EXPECT_FALSE(c->CursorName().empty());
  EXPECT_NE(c->CursorName(), name);

  // Two cursors open at once on one transaction use distinct names.
  TIB_Cursor* other = NewCursor();
  other->Open();
  c->Open();
  EXPECT_NE(other->CursorName(), c->CursorName());
  EXPECT_EQ(tr_->OpenCursorCount(), 2);
  EXPECT_EQ(Id(other), 1);
  EXPECT_EQ(Id(c), 1);
}

TEST_F(DatasetDb, LinksHearTheRowStateChangeAndTheActiveChange) {
  TIB_Cursor* c = NewCursor();
  auto* link = new RecordingLink(&form_);
  link->SetStatement(c);
  link->codes.clear();
  c->Open();
  // The first row changed the field row's state: 18 then 22; the open itself: 13.
  auto find = [&](int code) {
    for (size_t i = 0; i < link->codes.size(); ++i) {
      if (link->codes[i] == code) return static_cast<int>(i);
    }
    return -1;
  };
  const int active = find(setActiveChange);
  const int row_state = find(dsetRowStateChanged);
  ASSERT_GE(active, 0);
  ASSERT_GE(row_state, 0);
  EXPECT_LT(active, row_state);
  ASSERT_LT(row_state + 1, static_cast<int>(link->codes.size()));
  EXPECT_EQ(link->codes[row_state + 1], dsetDataChange);

  link->codes.clear();
  link->arguments.clear();
  c->RefreshCurrentRow();
  ASSERT_FALSE(link->codes.empty());
  EXPECT_EQ(link->codes.back(), dsetRowRefreshed);
  EXPECT_EQ(link->arguments.back(), NoRowNum);
}

TEST_F(DatasetDb, SetRowNumAndSetBookmarkAreRefused) {
  TIB_Cursor* c = NewCursor();
  c->Open();
  EXPECT_EQ(RaisedMessage<EIB_DatasetError>([&] { c->SetRowNum(3); }),
            "Číslo řádku RowNum není dosud implementováno");
  EXPECT_EQ(RaisedMessage<EIB_DatasetError>([&] { c->SetBookmark("00"); }), "Not implemented");
}

TEST_F(DatasetDb, ExecutingAnOpenDatasetIsRefused) {
  TIB_Cursor* c = NewCursor();
  c->Open();
  EXPECT_EQ(RaisedMessage<EIB_StatementError>([&] { c->ExecSQL(); }), "Příkaz již je otevřen");
  EXPECT_TRUE(c->Active());
  EXPECT_EQ(c->RowNum(), 1);
}

TEST_F(DatasetDb, CommitClosesTheCursorAndDestructionFiresNoEvents) {
  TIB_Cursor* c = NewCursor();
  c->Open();
  c->Next();
  tr_->Commit();
  EXPECT_FALSE(c->Active());
  EXPECT_EQ(tr_->OpenCursorCount(), 0);

  c->Open();
  EXPECT_EQ(tr_->OpenCursorCount(), 1);
  Record(c);
  delete c;
  EXPECT_TRUE(log.empty());
  EXPECT_EQ(tr_->OpenCursorCount(), 0);
  tr_->Commit();  // the transaction no longer knows the dataset
}

TEST_F(DatasetDb, AnOpenAskedForWhileLoadingRunsAfterLoaded) {
  TIB_Cursor* c = NewCursor();
  c->BeginLoading();
  c->SetActive(true);
  EXPECT_FALSE(c->Active());
  EXPECT_TRUE(c->PendingOpen());
  c->EndLoading();
  EXPECT_TRUE(c->Active());
  EXPECT_FALSE(c->PendingOpen());
  EXPECT_EQ(Id(c), 1);
}

// Components loaded before their connection: the connection made at the end of loading
// runs the prepares and opens they had to put off.
TEST_F(DatasetDb, AConnectionMadeAfterLoadingRunsDeferredPreparesAndOpens) {
  auto* c = new TIB_Connection(&form_);
  c->SetDatabaseName(CZ(fb_->ConnectString()));
  c->SetUsername(kSysdbaUser);
  c->SetPassword(kSysdbaPassword);
  c->SetCharSet("WIN1250");
  c->SetSQLDialect(3);
  auto* tr = new TIB_Transaction(&form_);
  tr->SetIB_Connection(c);
  auto* st = new TIB_DSQL(&form_);
  st->SetIB_Connection(c);
  st->SetIB_Transaction(tr);
  st->SQL()->SetText("update KLIENT set MESTO = MESTO where ID = 1");
  // On the connection's default transaction, which comes with the connection.
  auto* d = new TIB_Cursor(&form_);
  d->SetIB_Connection(c);
  d->SQL()->SetText("select ID from KLIENT order by ID");
  c->BeginLoading();
  st->BeginLoading();
  d->BeginLoading();
  c->SetConnected(true);
  st->Prepare();
  d->SetActive(true);
  EXPECT_TRUE(st->PendingPrepare());
  EXPECT_TRUE(d->PendingOpen());
  // Loaded in the order of a form whose connection comes last.
  st->EndLoading();
  d->EndLoading();
  c->EndLoading();
  ASSERT_TRUE(c->GetConnected());
  EXPECT_TRUE(st->Prepared());
  EXPECT_FALSE(st->PendingPrepare());
  EXPECT_TRUE(d->Active());
  EXPECT_FALSE(d->PendingOpen());
  EXPECT_EQ(Id(d), 1);
  if (tr->GetStarted()) tr->Rollback();
}

TEST_F(DatasetDb, StateChangesReachLinksAndCountAsPendingPosts) {
  auto* d = new ProbeDataset(&form_, false);
  d->SetIB_Connection(conn_);
  d->SetIB_Transaction(tr_);
  auto* link = new RecordingLink(&form_);
  link->SetStatement(d);
  struct Step {
    TIB_DatasetState to;
    bool event22;
    int post_pending;
  };
  // Browse to edit tells the data sources only; entering or leaving search sends 22.
  const Step steps[] = {{dstBrowse, false, 0}, {dstEdit, false, 1},   {dstInsert, false, 1},
                        {dstBrowse, false, 0}, {dstSearch, true, 0},  {dstPrepared, true, 0},
                        {dstPrepared, false, 0}};
  int notified = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(static_cast<int>(s.to));
    link->codes.clear();
    const bool changes = d->State() != s.to;
    d->SetState(s.to);
    if (changes) ++notified;
    EXPECT_EQ(d->notified, notified);
    EXPECT_EQ(link->codes == std::vector<int>{dsetDataChange}, s.event22);
    if (!s.event22) {
      EXPECT_TRUE(link->codes.empty());
    }
    EXPECT_EQ(tr_->PostPendingCount(), s.post_pending);
  }
  // An editing dataset that goes away leaves the transaction's count behind it.
  d->SetState(dstEdit);
  EXPECT_EQ(tr_->PostPendingCount(), 1);
  delete d;
  EXPECT_EQ(tr_->PostPendingCount(), 0);
}

TEST_F(DatasetDb, OnlyABufferedDatasetHoldsNotificationsBackUntilTheBracketEnds) {
  for (bool buffered : {false, true}) {
    SCOPED_TRACE(buffered);
    auto* d = new ProbeDataset(&form_, buffered);
    d->SetIB_Connection(conn_);
    d->SetIB_Transaction(tr_);
    auto* link = new RecordingLink(&form_);
    link->SetStatement(d);
    link->codes.clear();
    d->DisableLinkEvents();
    d->DisableLinkEvents();
    d->SetState(dstSearch);
    d->SetState(dstPrepared);
    EXPECT_EQ(d->notified, buffered ? 0 : 2);
    EXPECT_EQ(link->codes.size(), buffered ? 0u : 2u);
    d->EnableLinkEvents();
    EXPECT_EQ(d->notified, buffered ? 0 : 2);
    d->EnableLinkEvents();
    EXPECT_EQ(d->notified, buffered ? 1 : 2);
    const std::vector<int> expected =
        buffered ? std::vector<int>{dsetDataChange} : std::vector<int>{dsetDataChange, dsetDataChange};
    EXPECT_EQ(link->codes, expected);
    delete link;
    delete d;
  }
}

TEST_F(DatasetDb, ARefreshInterruptedByANestedOneStopsRepositioning) {
  TIB_Cursor* c = NewCursor();
  c->SetRefreshAction(raKeepRowNum);
  c->Open();
  c->MoveBy(2);
  bool nested_done = false;
  bool nested_result = false;
  c->AfterScroll = [&](TIB_Dataset* d) {
    if (d->GetRefreshing() && !nested_done) {
      nested_done = true;
      nested_result = d->Refresh();
    }
  };
  EXPECT_FALSE(c->Refresh());
  EXPECT_TRUE(nested_done);
  EXPECT_TRUE(nested_result);
  EXPECT_FALSE(c->GetRefreshing());
  EXPECT_TRUE(c->Active());
  EXPECT_EQ(c->RowNum(), 3);
  // Undisturbed, the same refresh lands exactly.
  c->AfterScroll = nullptr;
  EXPECT_TRUE(c->Refresh());
}

TEST_F(DatasetDb, ScrollingCanBeRefused) {
  TIB_Cursor* c = NewCursor();
  c->Open();
  c->OnGetCanScroll = [](TIB_Dataset*, bool& can) { can = false; };
  EXPECT_EQ(RaisedMessage<EIB_DatasetError>([&] { c->Next(); }),
            "Dataset nemůže listovat (scroll)");
  EXPECT_EQ(c->RowNum(), 1);
  // A refresh may always scroll.
  EXPECT_TRUE(c->Refresh());
}

TEST_F(DatasetDb, AParameterChangeRefreshesWhenAskedTo) {
  for (bool refresh : {false, true}) {
    SCOPED_TRACE(refresh);
    TIB_Cursor* c = NewCursor("select ID, PRIJMENI from KLIENT where ID >= :FROMID order by ID");
    c->SetRefreshOnParamChange(refresh);
    c->Prepare();
    c->ParamByName("FROMID")->SetAsInteger(2);
    c->Open();
    ASSERT_EQ(Id(c), 2);
    c->ParamByName("FROMID")->SetAsInteger(4);
    EXPECT_TRUE(c->Active());
    EXPECT_EQ(Id(c), refresh ? 4 : 2);
    EXPECT_EQ(c->RowNum(), 1);
    delete c;
  }
}

TEST_F(DatasetDb, AutoFetchAllReadsToTheEndBeforeAfterOpen) {
  TIB_Cursor* c = NewCursor();
  c->SetAutoFetchAll(true);
  int rows_at_after_open = -1;
  c->AfterOpen = [&](TIB_Dataset* d) { rows_at_after_open = d->RowNum(); };
  c->Open();
  EXPECT_EQ(rows_at_after_open, 5);
  EXPECT_TRUE(c->Active());
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->RowNum(), 5);
  EXPECT_EQ(tr_->OpenCursorCount(), 0);
}

TEST_F(DatasetDb, RollbackClosesAnOpenCursor) {
  TIB_Cursor* c = NewCursor();
  c->Open();
  ASSERT_EQ(tr_->OpenCursorCount(), 1);
  tr_->Rollback();
  EXPECT_FALSE(c->Active());
  EXPECT_EQ(c->State(), dstPrepared);
  EXPECT_EQ(tr_->OpenCursorCount(), 0);
  c->Open();  // and opens again in a new transaction
  EXPECT_EQ(Id(c), 1);
}

TEST_F(DatasetDb, BufferFieldsAreTheFieldRowOfAForwardOnlyCursor) {
  TIB_Cursor* c = NewCursor();
  c->Open();
  TIB_Column* name = c->FindBufferField("PRIJMENI");
  ASSERT_NE(name, nullptr);
  EXPECT_EQ(name, c->Fields()->GetColumn(1));
  EXPECT_EQ(c->FindBufferField("NOSUCH"), nullptr);
  EXPECT_THROW(c->BufferFieldByName("NOSUCH"), EIB_Error);
  TList list;
  c->GetBufferFieldList(&list, "MESTO;ID");
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0), c->Fields()->GetColumn(2));
  EXPECT_EQ(list.Items(1), c->Fields()->GetColumn(0));
  c->GetBufferFieldList(&list, "*");
  EXPECT_EQ(list.Count(), 3);
}

}  // namespace
}  // namespace pelvar::test
