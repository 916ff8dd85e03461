// Fetching with a forward-only dataset against real Firebird 3 (embedded): row and time
// limits, progress callbacks on a test tick clock, aborting from a callback and from the
// cancel-query dialog, time-limited fetches without callbacks, fetch errors, and the
// record count.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbclient/IBD_CancelQuery.h"
#include "dbengine/IB_Components_dataset.h"
#include "platform/application.h"
#include "platform/dialogs.h"
#include "platform/oslayer.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

struct CallbackCall {
  TIB_CallbackStatus status;
  int32_t row;
};

// Counts the state-change notices meant for its data sources.
class ProbeCursor : public TIB_Cursor {
 public:
  explicit ProbeCursor(TComponent* Owner) : TIB_Cursor(Owner) {}
  void NotifyDataSourcesStateChanged() override { ++state_changes; }
  int state_changes = 0;
};

class DatasetFetchDb : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded);
    std::string script =
        "create table T (ID integer not null primary key, X integer);\n"
        "commit;\n"
        "set term ^;\n"
        "execute block as declare i integer = 1; begin\n"
        "  while (i <= 100) do begin insert into T values (:i, :i * 2); i = i + 1; end\n"
        "end^\n"
        "set term ;^\n"
        "commit;\n";
    fb_->RunSql(script);
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
    // Every reading of the clock moves it on by step_ milliseconds.
    SetTickCountSource([this] {
      now_ += step_;
      return now_;
    });
  }
  void TearDown() override {
    SetTickCountSource({});
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    fb_.reset();
    ClientLibraryNameHook = nullptr;
  }

  ProbeCursor* NewCursor(const std::string& sql = "select ID, X from T order by ID") {
    auto* c = new ProbeCursor(&form_);
    c->SetIB_Connection(conn_);
    c->SetIB_Transaction(tr_);
    c->SQL()->SetText(CZ(sql));
    return c;
  }

  void RecordCallbacks(TIB_Dataset* c) {
    c->OnCallback = [this](TIB_Dataset*, TIB_CallbackStatus status, int32_t row, bool&) {
      calls.push_back({status, row});
    };
  }

  static int Id(TIB_Dataset* c) { return c->Fields()->GetColumn(0)->GetAsInteger(); }

  std::vector<CallbackCall> calls;
  uint32_t now_ = 1000;
  uint32_t step_ = 0;
  std::unique_ptr<FbTestDb> fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
};

TEST_F(DatasetFetchDb, MaxRowsEndsTheResultSetAfterThatManyRows) {
  struct Case {
    int32_t max_rows;
    int32_t rows;
  };
  for (const Case& k : {Case{0, 100}, Case{10, 10}, Case{1, 1}, Case{100, 100}, Case{150, 100}}) {
    SCOPED_TRACE(k.max_rows);
    TIB_Cursor* c = NewCursor();
    c->SetMaxRows(k.max_rows);
    int eofs = 0;
    c->AfterFetchEof = [&](TIB_Dataset*) { ++eofs; };
    c->Open();
    c->FetchAll();
    EXPECT_EQ(c->RowNum(), k.rows);
    EXPECT_TRUE(c->Eof());
    EXPECT_FALSE(c->CursorDeclared());
    EXPECT_EQ(eofs, 1);
    EXPECT_EQ(Id(c), k.rows);  // the last row stays in the field row
    delete c;
  }
}

TEST_F(DatasetFetchDb, MaxTicksEndsTheResultSetOnceTheTimeHasPassed) {
  TIB_Cursor* c = NewCursor();
  step_ = 10;  // every clock reading: 10 ms later
  c->SetMaxTicks(200);
  c->SetCallbackInc(-1);
  c->Open();
  c->FetchAll();
  EXPECT_TRUE(c->Eof());
  EXPECT_FALSE(c->CursorDeclared());
  EXPECT_GT(c->RowNum(), 0);
  EXPECT_LT(c->RowNum(), 100);
}

TEST_F(DatasetFetchDb, ShortFetchReportsOnlyInitAndFinal) {
  TIB_Cursor* c = NewCursor();
  RecordCallbacks(c);
  TScriptedCancelQueryView view;
  c->Open();
  calls.clear();
  c->FetchAll();  // the clock stands still: never past CallbackInitInt
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].status, csInit);
  EXPECT_EQ(calls[1].status, csFinal);
  EXPECT_EQ(calls[1].row, 100);
  EXPECT_EQ(view.DialogCount(), 0);
  EXPECT_FALSE(c->Fetching());
}

TEST_F(DatasetFetchDb, RefreshCallbacksComeOnEveryIncThRowAfterTheInitialInterval) {
  TIB_Cursor* c = NewCursor();
  RecordCallbacks(c);
  c->SetCallbackInc(5);
  c->SetCallbackInitInt(100);
  c->SetCallbackRefreshInt(0);
  c->Open();
  calls.clear();
  step_ = 5;
  c->FetchAll();
  ASSERT_GE(calls.size(), 3u);
  EXPECT_EQ(calls.front().status, csInit);
  EXPECT_EQ(calls.back().status, csFinal);
  int refreshes = 0;
  for (size_t i = 1; i + 1 < calls.size(); ++i) {
    EXPECT_EQ(calls[i].status, csRefresh);
    EXPECT_EQ(calls[i].row % 5, 0) << calls[i].row;
    // The end of data reports once more on the last row.
    if (i > 1) {
      EXPECT_GE(calls[i].row, calls[i - 1].row);
    }
    ++refreshes;
  }
  EXPECT_GT(refreshes, 5);
  EXPECT_LE(refreshes, 20);
}

TEST_F(DatasetFetchDb, EndOfDataOfAShortFetchReportsNoProgress) {
  // A clock well past its start, as after days of uptime; the whole fetch takes far
  // less than the initial interval.
  now_ = 500000000;
  step_ = 1;
  TIB_Cursor* c = NewCursor();
  RecordCallbacks(c);
  c->SetCallbackInc(5);
  c->SetCallbackRefreshInt(0);
  TScriptedCancelQueryView view;
  c->Open();
  calls.clear();
  c->FetchAll();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].status, csInit);
  EXPECT_EQ(calls[1].status, csFinal);

  c->OnCallback = nullptr;
  c->Close();
  c->Open();
  c->FetchAll();
  EXPECT_EQ(view.DialogCount(), 0);
}

TEST_F(DatasetFetchDb, RefreshIntervalLimitsHowOftenTheCallbackRuns) {
  TIB_Cursor* c = NewCursor();
  RecordCallbacks(c);
  c->SetCallbackInc(1);
  c->SetCallbackInitInt(0);
  c->SetCallbackRefreshInt(1000000);  // far longer than the whole fetch
  c->Open();
  calls.clear();
  step_ = 1;
  c->FetchAll();
  ASSERT_EQ(calls.size(), 2u);  // never a refresh: the interval was never reached
  EXPECT_EQ(calls[0].status, csInit);
  EXPECT_EQ(calls[1].status, csFinal);
}

TEST_F(DatasetFetchDb, NegativeCallbackIncSwitchesCallbacksAndAbortsOff) {
  TIB_Cursor* c = NewCursor();
  RecordCallbacks(c);
  c->SetCallbackInc(-1);
  c->SetCallbackInitInt(0);
  c->SetCallbackRefreshInt(0);
  TScriptedCancelQueryView view;
  c->Open();
  calls.clear();
  step_ = 100;
  c->FetchAll();
  EXPECT_TRUE(calls.empty());
  EXPECT_EQ(view.DialogCount(), 0);
  EXPECT_EQ(c->RowNum(), 100);
}

TEST_F(DatasetFetchDb, AbortFromTheCallbackStopsFetchAllAndKeepsTheRows) {
  ProbeCursor* c = NewCursor();
  c->SetCallbackInc(1);
  c->SetCallbackInitInt(0);
  c->SetCallbackRefreshInt(0);
  std::vector<TIB_CallbackStatus> seen;
  c->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus status, int32_t row, bool& abort) {
    seen.push_back(status);
    if (status == csRefresh && row >= 20) abort = true;
  };
  c->Open();
  const int state_changes_before = c->state_changes;
  const int32_t before = c->FetchAbortCount();
  step_ = 1;
  c->FetchAll();
  EXPECT_TRUE(c->Active());
  EXPECT_FALSE(c->Eof());
  EXPECT_TRUE(c->CursorDeclared());
  EXPECT_EQ(c->RowNum(), 20);
  EXPECT_EQ(Id(c), 20);
  EXPECT_NE(c->FetchAbortCount(), before);
  EXPECT_EQ(seen.back(), csFinal);
  EXPECT_FALSE(c->Fetching());
  EXPECT_GT(c->state_changes, state_changes_before);

  // The abort ended with the fetch: the next fetch reads on to the end.
  c->OnCallback = nullptr;
  c->SetCallbackInc(-1);
  c->FetchAll();
  EXPECT_TRUE(c->Eof());
  EXPECT_EQ(c->RowNum(), 100);
}

TEST_F(DatasetFetchDb, CloseDuringAFetchIsRefusedUnlessTheFetchWasAborted) {
  TIB_Cursor* c = NewCursor();
  c->SetCallbackInc(-1);
  c->Open();
  std::string message;
  c->AfterFetchRow = [&](TIB_Dataset* d) {
    if (d->RowNum() != 5) return;
    try {
      d->Close();
    } catch (const Exception& e) {
      message = AnsiToUtf8(e.Message());
    }
  };
  c->FetchAll();
  EXPECT_NE(message.find("Dataset načítá data"), std::string::npos) << message;
  EXPECT_EQ(c->RowNum(), 100);

  TIB_Cursor* d = NewCursor();
  d->SetCallbackInc(-1);
  d->Open();
  d->AfterFetchRow = [](TIB_Dataset* x) {
    if (x->RowNum() != 5) return;
    x->AbortFetching();
    x->Close();
  };
  d->FetchAll();
  EXPECT_FALSE(d->Active());
  EXPECT_FALSE(d->Fetching());
}

TEST_F(DatasetFetchDb, AbortFetchingOutsideAFetchDoesNothing) {
  TIB_Cursor* c = NewCursor();
  c->Open();
  const int32_t before = c->FetchAbortCount();
  c->AbortFetching();
  EXPECT_EQ(c->FetchAbortCount(), before);
  c->FetchAll();
  EXPECT_EQ(c->RowNum(), 100);
}

TEST_F(DatasetFetchDb, DialogShowsTheRowAndItsButtonAbortsTheFetch) {
  Application()->SetTitle(CZ("Ordinace"));
  TIB_Cursor* c = NewCursor();
  c->SetCallbackInc(10);
  c->SetCallbackInitInt(50);
  c->SetCallbackRefreshInt(0);
  TScriptedCancelQueryView view;
  TScriptedResponder responder([](const std::string& m) { ADD_FAILURE() << m; });
  responder.Expect(CZ("Skutečně chcete skončit?"), mrOk);
  view.PressWhenShown();
  c->Open();
  step_ = 2;
  c->FetchAll();
  EXPECT_EQ(view.DialogCount(), 1);
  ASSERT_NE(c->CallbackDialog(), nullptr);
  EXPECT_FALSE(c->CallbackDialog()->Visible());
  EXPECT_EQ(AnsiToUtf8(c->CallbackDialog()->Caption()), "Ordinace");
  bool shown_with_row = false;
  for (const TCancelQueryForm& f : view.Updates()) {
    if (f.Visible && AnsiToUtf8(f.RowNum).rfind("Řádek# ", 0) == 0) shown_with_row = true;
  }
  EXPECT_TRUE(shown_with_row);
  EXPECT_TRUE(c->Active());
  EXPECT_FALSE(c->Eof());
  EXPECT_LT(c->RowNum(), 100);
  EXPECT_EQ(responder.Pending(), 0u);

  // The caption follows the property, falling back to the application's title.
  c->SetCallbackCaption(CZ("Načítám klienty"));
  EXPECT_EQ(AnsiToUtf8(c->CallbackDialog()->Caption()), "Načítám klienty");
  c->SetCallbackCaption("");
  EXPECT_EQ(AnsiToUtf8(c->CallbackDialog()->Caption()), "Ordinace");
}

TEST_F(DatasetFetchDb, TimedFetchRunsNoCallbacksInAnyDatasetOfTheSession) {
  TIB_Cursor* c = NewCursor();
  TIB_Cursor* other = NewCursor();
  RecordCallbacks(c);
  RecordCallbacks(other);
  c->SetCallbackInitInt(0);
  c->SetCallbackRefreshInt(0);
  c->Open();
  other->Open();
  calls.clear();
  step_ = 1;
  other->OnCallback = [&](TIB_Dataset*, TIB_CallbackStatus status, int32_t row, bool&) {
    calls.push_back({status, row});
  };
  // A fetch of the other dataset inside the timed fetch: no callbacks either.
  c->AfterFetchRow = [&](TIB_Dataset*) {
    if (c->RowNum() == 3) other->FetchAll();
  };
  c->SysFetchAll(1000000);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(c->Eof());
  EXPECT_TRUE(other->Eof());
  EXPECT_EQ(session_->TimedFetchCount(), 0);

  // The time limit stops the loop with the cursor still open.
  TIB_Cursor* d = NewCursor();
  d->Open();
  step_ = 10;
  d->SysFetchAll(100);
  EXPECT_FALSE(d->Eof());
  EXPECT_TRUE(d->CursorDeclared());
  EXPECT_LT(d->RowNum(), 100);
  EXPECT_EQ(session_->TimedFetchCount(), 0);
}

TEST_F(DatasetFetchDb, FetchErrorClosesTheCursorAndReportsTheServerMessage) {
  TIB_Cursor* c = NewCursor("select ID, 1000 / (ID - 50) from T order by ID");
  c->SetCallbackInc(-1);
  c->Open();
  std::string message;
  try {
    c->FetchAll();
  } catch (const Exception& e) {
    message = AnsiToUtf8(e.Message());
  }
  EXPECT_NE(message.find("divide by zero"), std::string::npos) << message;
  EXPECT_TRUE(c->Eof());
  EXPECT_FALSE(c->CursorDeclared());
  EXPECT_EQ(c->RowNum(), 49);
  EXPECT_FALSE(c->Fetching());
}

TEST_F(DatasetFetchDb, SuppressedFetchErrorEndsAsAtEndOfData) {
  TIB_Cursor* c = NewCursor("select ID, 1000 / (ID - 50) from T order by ID");
  c->SetCallbackInc(-1);
  int errors = 0;
  session_->SetOnError([&](TObject*, int32_t, TStringList*, TStringList*, int32_t,
                           TStringList*, TStringList*, bool& raise) {
    ++errors;
    raise = false;
  });
  c->Open();
  c->FetchAll();
  EXPECT_EQ(errors, 1);
  EXPECT_TRUE(c->Eof());
  EXPECT_FALSE(c->CursorDeclared());
  EXPECT_EQ(c->RowNum(), 49);
}

// A row locked by a concurrent change committed after this snapshot began: the fetch
// meets an update conflict, reported as a deadlock.
TEST_F(DatasetFetchDb, DeadlockIsRetriedWhileTheHandlerLetsItPass) {
  tr_->SetIsolation(tiConcurrency);
  NewCursor("select ID, X from T where ID = 1")->Open();  // the snapshot begins here
  {
    TIB_Transaction other(nullptr);
    other.SetIB_Connection(conn_);
    TIB_DSQL upd(nullptr);
    upd.SetIB_Connection(conn_);
    upd.SetIB_Transaction(&other);
    upd.SQL()->SetText("update T set X = 0 where ID = 3");
    upd.Execute();
    other.Commit();
  }
  std::vector<int32_t> codes;
  session_->SetOnError([&](TObject*, int32_t code, TStringList*, TStringList*, int32_t,
                           TStringList*, TStringList*, bool& raise) {
    codes.push_back(code);
    raise = codes.size() >= 2;  // lets the first one pass: the fetch is tried again
  });
  TIB_Cursor* c = NewCursor("select ID, X from T where ID <= 10 with lock");
  c->SetCallbackInc(-1);
  c->Open();
  EXPECT_THROW(c->FetchAll(), Exception);
  ASSERT_EQ(codes.size(), 2u);
  EXPECT_EQ(codes[0], 335544336);
  EXPECT_TRUE(c->Eof());
  EXPECT_FALSE(c->CursorDeclared());
  tr_->Rollback();
}

TEST_F(DatasetFetchDb, RecordCountCountsTheQuery) {
  // An unprepared dataset is prepared for it.
  TIB_Cursor* c = NewCursor("select ID, X from T where ID > 30 order by ID");
  EXPECT_EQ(c->GetRecordCount(), 70);
  EXPECT_TRUE(c->Prepared());

  // With parameters: the dataset's parameter values are the input.
  TIB_Cursor* p = NewCursor("select ID, X from T where ID <= :N");
  p->Prepare();
  p->Params()->GetColumn(0)->SetAsInteger(12);
  EXPECT_EQ(p->GetRecordCountBusy(), 12);
  p->Params()->GetColumn(0)->SetAsInteger(0);
  EXPECT_EQ(p->GetRecordCount(), 0);

  // The handler's answer wins; its start value is -1.
  TIB_Cursor* h = NewCursor();
  int32_t start = 0;
  h->OnGetRecordCount = [&](TIB_Dataset*, int32_t& count) {
    start = count;
    count = 7;
  };
  EXPECT_EQ(h->GetRecordCount(), 7);
  EXPECT_EQ(start, -1);
  h->OnGetRecordCount = [](TIB_Dataset*, int32_t&) {};
  EXPECT_EQ(h->GetRecordCount(), -1);
}

}  // namespace
}  // namespace pelvar::test
