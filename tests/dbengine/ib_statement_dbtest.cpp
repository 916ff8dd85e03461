// The statement component against real Firebird 3 (embedded): prepare and unprepare with
// their events, the statement handle from the connection's cache, binding to the
// session's default connection and an internal transaction, error routing, the retry for
// procedure bodies, and parameter values kept over a re-prepare.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Components_statement.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

// Counts the statement allocations made through the call table while it lives.
class AllocateCounter {
 public:
  AllocateCounter() {
    saved_ = ClientCallTable.isc_dsql_allocate_statement;
    ClientCallTable.isc_dsql_allocate_statement = &Allocate;
    count = 0;
  }
  ~AllocateCounter() { ClientCallTable.isc_dsql_allocate_statement = saved_; }
  AllocateCounter(const AllocateCounter&) = delete;
  AllocateCounter& operator=(const AllocateCounter&) = delete;
  static inline int count = 0;

 private:
  static ISC_STATUS Allocate(ISC_STATUS* s, isc_db_handle* db, isc_stmt_handle* h) {
    ++count;
    return saved_(s, db, h);
  }
  static inline Tisc_dsql_allocate_statement saved_ = nullptr;
};

// A link that records its event codes (row-state codes 17 and 21 aside).
class RecordingLink : public TIB_StatementLink {
 public:
  RecordingLink(TComponent* owner, std::vector<std::string>& log) : TIB_StatementLink(owner), log_(log) {}
  void ProcessEvent(uint8_t Code, intptr_t Argument) override {
    if (Code != setParamsStateChanged && Code != setFieldsStateChanged) {
      log_.push_back("e" + std::to_string(static_cast<int>(Code)));
    }
    if (leave_on == Code) SetStatement(nullptr);
    TIB_StatementLink::ProcessEvent(Code, Argument);
  }
  int leave_on = -1;

 private:
  std::vector<std::string>& log_;
};

class StatementDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    fb_->RunSql(
        "create table T (ID integer not null primary key, NAME varchar(20), AMOUNT numeric(9,2),\n"
        "  WHEN_AT timestamp, MEMO blob sub_type 1);\n"
        "commit;\n"
        "insert into T values (1, 'jedna', 1.50, '2024-05-01 10:00:00', 'memo');\n"
        "commit;\n");
  }
  static void TearDownTestSuite() {
    delete fb_;
    fb_ = nullptr;
  }
  void SetUp() override {
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
    conn_ = new TIB_Connection(&form_);
    conn_->SetDatabaseName(CZ(fb_->ConnectString()));
    conn_->SetUsername(kSysdbaUser);
    conn_->SetPassword(kSysdbaPassword);
    conn_->SetCharSet("WIN1250");
    conn_->SetSQLDialect(3);
    conn_->Open();
  }
  void TearDown() override { ClientLibraryNameHook = nullptr; }

  TIB_DSQL* NewStatement(const std::string& name, const std::string& sql) {
    auto* st = new TIB_DSQL(&form_);
    st->SetName(name);
    st->SQL()->SetText(CZ(sql));
    return st;
  }

  static FbTestDb* fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
};
FbTestDb* StatementDb::fb_ = nullptr;

TEST_F(StatementDb, PrepareAndUnprepareSendTheirEventsInOrder) {
  TIB_DSQL* st = NewStatement("Q1", "select ID, NAME from T where ID = :ID");
  st->SetIB_Connection(conn_);
  std::vector<std::string> log;
  auto h = [&log](const char* name) { return [&log, name](TIB_Statement*) { log.push_back(name); }; };
  st->BeforePrepare = h("BeforePrepare");
  st->AfterPrepare = h("AfterPrepare");
  st->BeforeUnprepare = h("BeforeUnprepare");
  st->AfterUnprepare = h("AfterUnprepare");
  st->OnPreparedChanged = h("OnPreparedChanged");
  st->OnLayoutChanged = h("OnLayoutChanged");
  auto* link = new RecordingLink(&form_, log);
  link->SetStatement(st);
  log.clear();

  st->Prepare();
  ASSERT_TRUE(st->Prepared());
  EXPECT_EQ(log, (std::vector<std::string>{"BeforePrepare", "e2", "e20", "e24", "e12",
                                           "OnPreparedChanged", "e3", "AfterPrepare"}));
  EXPECT_EQ(st->ParamCount(), 1);
  EXPECT_EQ(st->FieldCount(), 2);
  EXPECT_NE(st->FindField("NAME"), nullptr);
  EXPECT_EQ(st->FindParam("MISSING"), nullptr);
  EXPECT_EQ(st->GetStatementType(), isc_info_sql_stmt_select);
  EXPECT_NE(st->ServerSQL().find("? /* ID */"), AnsiString::npos);

  // Prepared and current: nothing happens.
  log.clear();
  st->Prepare();
  EXPECT_TRUE(log.empty());

  // After InvalidateSQL a re-prepare: no BeforePrepare and no event 12; the field row
  // and its columns stay.
  TIB_Column* name = st->FindField("NAME");
  st->InvalidateSQL();
  st->Prepare();
  EXPECT_EQ(log, (std::vector<std::string>{"e20", "e15", "OnLayoutChanged", "e3", "AfterPrepare"}));
  EXPECT_EQ(st->FindField("NAME"), name);

  log.clear();
  st->Unprepare();
  EXPECT_FALSE(st->Prepared());
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeUnprepare", "e4", "e20", "e24", "e15",
                                           "OnLayoutChanged", "e12", "OnPreparedChanged", "e5",
                                           "AfterUnprepare"}));
  EXPECT_EQ(st->ParamCount(), 0);
  EXPECT_EQ(st->FieldCount(), 0);

  // Without parameters a prepare sends event 24 but not 20; without links neither.
  st->SQL()->SetText("select NAME from T");
  log.clear();
  st->Prepare();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforePrepare", "e2", "e24", "e12",
                                           "OnPreparedChanged", "e3", "AfterPrepare"}));
  link->SetStatement(nullptr);
  st->Unprepare();
  log.clear();
  st->Prepare();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforePrepare", "OnPreparedChanged", "AfterPrepare"}));

  // Changing the SQL of a prepared statement unprepares it and keeps its handle.
  const isc_stmt_handle handle = st->StmtHandle();
  st->SQL()->SetText("select ID from T");
  EXPECT_FALSE(st->Prepared());
  EXPECT_EQ(st->StmtHandle(), handle);
  st->Prepare();
  EXPECT_EQ(st->StmtHandle(), handle);
  EXPECT_EQ(st->FieldCount(), 1);
}

TEST_F(StatementDb, LinkLeavingDuringDeliveryDoesNotBreakIt) {
  TIB_DSQL* st = NewStatement("Q1", "select ID from T");
  st->SetIB_Connection(conn_);
  std::vector<std::string> log;
  auto* first = new RecordingLink(&form_, log);
  auto* second = new RecordingLink(&form_, log);
  auto* third = new RecordingLink(&form_, log);
  first->SetStatement(st);
  second->SetStatement(st);
  third->SetStatement(st);
  first->leave_on = setPreparedChanged;
  log.clear();
  EXPECT_NO_THROW(st->Prepare());
  EXPECT_TRUE(st->Prepared());
  EXPECT_EQ(first->Statement(), nullptr);
  EXPECT_EQ(st->StatementLinkCount(), 2);
  // The link that moved into the leaver's place missed that one event.
  EXPECT_EQ(std::count(log.begin(), log.end(), "e12"), 2);
  EXPECT_EQ(std::count(log.begin(), log.end(), "e3"), 2);
}

TEST_F(StatementDb, SecondPrepareReusesACachedHandle) {
  AllocateCounter counter;
  TIB_DSQL* first = NewStatement("Q1", "select ID from T");
  first->SetIB_Connection(conn_);
  first->Prepare();
  EXPECT_EQ(AllocateCounter::count, 1);
  const isc_stmt_handle handle = first->StmtHandle();
  delete first;  // destruction gives the handle back to the connection
  EXPECT_EQ(conn_->CachedStatementHandleCount(), 1);

  TIB_DSQL* second = NewStatement("Q2", "select NAME from T where ID = :ID");
  second->SetIB_Connection(conn_);
  second->Prepare();
  EXPECT_TRUE(second->Prepared());
  EXPECT_EQ(second->StmtHandle(), handle);
  EXPECT_EQ(AllocateCounter::count, 1);

  // Unprepare drops the handle on the server instead.
  second->Unprepare();
  EXPECT_EQ(second->StmtHandle(), 0u);
  EXPECT_EQ(conn_->CachedStatementHandleCount(), 0);
  second->Prepare();
  EXPECT_EQ(AllocateCounter::count, 2);

  // A disconnect gives up the handles of its statements with the attachment.
  conn_->Close();
  EXPECT_FALSE(second->Prepared());
  EXPECT_EQ(second->StmtHandle(), 0u);
  conn_->Open();
  second->Prepare();
  EXPECT_TRUE(second->Prepared());
}

TEST_F(StatementDb, FailingPrepareRaisesWithTheServerSQL) {
  AllocateCounter counter;
  TIB_DSQL* st = NewStatement("Q1", "select NOPE from T where ID = :ID");
  st->SetIB_Connection(conn_);
  std::vector<std::string> routed;
  conn_->SetOnError([&routed](TObject*, int32_t, TStringList*, TStringList*, int32_t,
                              TStringList*, TStringList*, bool&) { routed.push_back("conn"); });
  try {
    st->Prepare();
    ADD_FAILURE() << "prepared a bad statement";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.Sender(), st);
    EXPECT_EQ(e.ERRCODE(), isc_dsql_error);
    const AnsiString sql = e.SQL()->Text();
    EXPECT_NE(sql.find("select NOPE from T where ID = ? /* ID */"), AnsiString::npos) << sql;
    const AnsiString text = e.ErrorMessage()->Text();
    EXPECT_NE(text.find("STATEMENT:\r\nTIB_DSQL: \"<TComponent>.Q1.\""), AnsiString::npos) << text;
  }
  EXPECT_EQ(routed, std::vector<std::string>{"conn"});
  EXPECT_FALSE(st->Prepared());
  EXPECT_EQ(st->ParamCount(), 0);
  // The handle stays with the statement for the next try.
  const isc_stmt_handle handle = st->StmtHandle();
  EXPECT_NE(handle, 0u);
  st->SQL()->SetText("select NAME from T where ID = :ID");
  st->Prepare();
  EXPECT_TRUE(st->Prepared());
  EXPECT_EQ(st->StmtHandle(), handle);
  EXPECT_EQ(AllocateCounter::count, 1);

  // Empty text is refused before the server is asked.
  st->SQL()->SetText("   ");
  try {
    st->Prepare();
    ADD_FAILURE();
  } catch (const EIB_StatementError& e) {
    EXPECT_EQ(e.Message(), CZ("Nevyplněný SQL příkaz není povolen"));
  }
}

TEST_F(StatementDb, WithoutBindingTheSessionDefaultsServe) {
  ASSERT_EQ(session_->DefaultConnection(), conn_);
  TIB_DSQL* st = NewStatement("Q1", "select ID from T");
  st->Prepare();
  ASSERT_TRUE(st->Prepared());
  EXPECT_EQ(st->IB_Connection(), conn_);
  TIB_Transaction* tr = st->IB_Transaction();
  ASSERT_NE(tr, nullptr);
  EXPECT_EQ(tr, st->InternalTransaction());
  EXPECT_EQ(tr->Name(), "trQ1");
  EXPECT_TRUE(tr->AutoCommit());
  EXPECT_EQ(tr->Isolation(), tiCommitted);
  EXPECT_TRUE(tr->GetStarted());
  EXPECT_EQ(tr->IB_Connection(), conn_);
  EXPECT_FALSE(st->IsIB_TransactionStored());
  // Unprepare ends it (commit) but keeps it.
  st->Unprepare();
  EXPECT_FALSE(tr->GetStarted());
  EXPECT_EQ(st->InternalTransaction(), tr);

  // A transaction that spans the connection keeps the statement prepared; one of
  // another connection unprepares it, and the internal transaction goes.
  st->Prepare();
  auto* mine = new TIB_Transaction(&form_);
  mine->SetIB_Connection(conn_);
  st->SetIB_Transaction(mine);
  EXPECT_TRUE(st->Prepared());
  EXPECT_EQ(st->InternalTransaction(), nullptr);
  EXPECT_TRUE(st->IsIB_TransactionStored());
  auto* other_conn = new TIB_Connection(&form_);
  auto* other = new TIB_Transaction(&form_);
  other->SetIB_Connection(other_conn);
  st->SetIB_Transaction(other);
  EXPECT_FALSE(st->Prepared());

  // Nothing to be found: the message names the statement.
  TComponent bare(nullptr);
  auto* lonely_session = new TIB_Session(&bare);
  auto* lonely = new TIB_DSQL(&bare);
  lonely->SetName("Q1");
  lonely->SetIB_Session(lonely_session);
  EXPECT_FALSE(lonely->CheckConnection(false));
  try {
    lonely->CheckConnection(true);
    ADD_FAILURE();
  } catch (const EIB_StatementError& e) {
    EXPECT_EQ(e.Message(), CZ("Příkaz musí mít přiřazenu IB_Connection: Q1"));
  }
}

TEST_F(StatementDb, DatabaseNameFindsTheSessionsConnection) {
  session_->SetAllowDefaultConnection(false);
  conn_->SetDatabaseName("MAINDB");
  TIB_DSQL* st = NewStatement("Q1", "select ID from T");
  EXPECT_FALSE(st->CheckConnection(false));
  st->SetDatabaseName("maindb");
  EXPECT_EQ(st->IB_Connection(), conn_);
  EXPECT_EQ(st->GetDatabaseName(), "MAINDB");
}

TEST_F(StatementDb, ProcedureBodyPreparesThroughTheRetry) {
  const std::string ddl =
      "create procedure DOUBLE_IT (A integer) returns (B integer) as\n"
      "begin\n  B = :A * 2;\n  suspend;\nend";
  TIB_DSQL* st = NewStatement("Q1", ddl);
  st->SetIB_Connection(conn_);
  // With ParamCheck off the colons are left alone from the start.
  st->SetParamCheck(false);
  st->Prepare();
  EXPECT_TRUE(st->Prepared());
  EXPECT_NE(st->ServerSQL().find("B = :A * 2"), AnsiString::npos) << st->ServerSQL();
  st->Unprepare();

  // With it, ":A" first becomes a marker; the server describes no such parameter (or
  // refuses the text), and the retry passes the body with its colons. Without the retry
  // the procedure would fail when it is run.
  st->SetParamCheck(true);
  st->Prepare();
  ASSERT_TRUE(st->Prepared());
  EXPECT_EQ(st->ParamCount(), 0);
  EXPECT_NE(st->ServerSQL().find("B = :A * 2"), AnsiString::npos) << st->ServerSQL();
  EXPECT_EQ(st->GetStatementType(), isc_info_sql_stmt_ddl);
  // What was prepared is the procedure the text says: run it and call the procedure.
  TIB_Session& session = *st->IB_Session();
  ASSERT_EQ(CallClient(ClientCallTable.isc_dsql_execute, session.StatusVector(),
                       st->GetTrHandlePtr(), st->GetStmtHandlePtr(),
                       static_cast<unsigned short>(3), static_cast<XSQLDA*>(nullptr)),
            0);
  st->IB_Transaction()->Commit();
  EXPECT_EQ(QueryOne(*conn_, "select B from DOUBLE_IT(21)"), "42");
}

// The parameter row's bytes (null indicator and data) of every parameter.
std::vector<AnsiString> ParamBytes(TIB_Statement* st) {
  std::vector<AnsiString> bytes;
  for (int32_t i = 0; i < st->ParamCount(); ++i) {
    TIB_Column* c = st->Params()->GetColumn(i);
    int16_t ind = 0;
    std::memcpy(&ind, c->NullIndPtr(), sizeof ind);
    bytes.push_back(IntToStr(ind) + ":" +
                    (ind < 0 ? AnsiString() : AnsiString(c->DataPtr(), c->GetBufferDataSize())));
  }
  return bytes;
}

TEST_F(StatementDb, ParameterValuesSurviveUnprepareAndPrepare) {
  TIB_DSQL* st = NewStatement(
      "Q1",
      "select ID from T where ID = :ID and NAME = :NAME and AMOUNT = :AMOUNT"
      " and WHEN_AT = :WHEN_AT and (MEMO = :MEMO or 1 = 1) and (cast(:EMPTY as varchar(5)) is null)"
      " and NAME <> :NAME");
  st->SetIB_Connection(conn_);
  st->Prepare();
  st->ParamByName("ID")->SetAsInteger(-77);
  st->ParamByName("NAME")->SetAsString(CZ("žluťoučký kůň"));
  st->ParamByName("AMOUNT")->SetAsString(CZ("12,5"));
  st->ParamByName("WHEN_AT")->SetAsDateTime(45000.25);
  st->ParamByName("MEMO")->SetAsString("blob text");
  st->ParamByName("EMPTY")->SetAsString("x");
  st->ParamByName("EMPTY")->Clear();
  const std::vector<AnsiString> before = ParamBytes(st);

  st->Unprepare();
  EXPECT_EQ(st->SavedParamValues()->Values("ID"), "B3FFFFFF");
  st->Prepare();
  std::vector<AnsiString> after = ParamBytes(st);
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (st->Params()->GetColumn(static_cast<int32_t>(i))->IsBlob) {
      continue;
    }
    EXPECT_EQ(after[i], before[i]) << "parameter " << i;
  }
  EXPECT_TRUE(st->ParamByName("EMPTY")->GetIsNull());
  // A blob parameter loses its value.
  EXPECT_TRUE(st->ParamByName("MEMO")->GetIsNull());
  EXPECT_EQ(st->ParamByName("NAME")->GetAsString(), CZ("žluťoučký kůň"));

  // A re-prepare keeps them too.
  st->InvalidateSQL();
  st->Prepare();
  EXPECT_EQ(st->ParamByName("ID")->GetAsInteger(), -77);
}

TEST_F(StatementDb, KeptValuesReachTheirParametersByNameOrAsText) {
  TIB_DSQL* st = NewStatement("Q1", "select ID from T where ID = :ID and AMOUNT = :AMOUNT");
  st->SetIB_Connection(conn_);
  // Streamed lines: a qualified name reaches an unqualified parameter, and a text in the
  // decimal point form is read with the locale's separator.
  TStringList lines;
  lines.Add("T.ID=05000000");
  lines.Add("AMOUNT=12.50");
  lines.Add("GONE=01");
  st->ReadParamValues(&lines);
  st->Prepare();
  EXPECT_EQ(st->ParamByName("ID")->GetAsInteger(), 5);
  EXPECT_EQ(st->ParamByName("AMOUNT")->GetAsCurrency(), Currency::FromRaw(125000));
  EXPECT_EQ(st->SavedParamValues()->Count(), 1);  // the unmatched line stays

  TStringList written;
  st->WriteParamValues(&written);
  EXPECT_EQ(written.Count(), 2);
  EXPECT_EQ(written.Values("ID"), "05000000");
}

TEST_F(StatementDb, KeptValueOfAnotherTypeIsPutBackAsItsValueOrReported) {
  TIB_DSQL* st = NewStatement("Q1", "select ID from T where ID = cast(:P as integer)");
  st->SetIB_Connection(conn_);
  st->Prepare();
  st->ParamByName("P")->SetAsInteger(5);
  // Now the parameter is wider: the value is 5, not its buffer's text read as digits.
  st->SQL()->SetText("select ID from T where ID = cast(:P as bigint)");
  st->Prepare();
  EXPECT_EQ(st->ParamByName("P")->GetAsInt64(), 5);

  st->ParamByName("P")->SetAsInt64(100000);
  st->SQL()->SetText("select ID from T where ID = cast(:P as smallint)");
  try {
    st->Prepare();
    ADD_FAILURE() << "a value that does not fit was dropped in silence";
  } catch (const EIB_StatementError& e) {
    EXPECT_NE(e.Message().find("P"), AnsiString::npos) << e.Message();
  }
  // Prepared all the same, the parameter cleared, and the kept value not lost.
  EXPECT_TRUE(st->Prepared());
  EXPECT_TRUE(st->ParamByName("P")->GetIsNull());
  EXPECT_EQ(st->SavedParamValues()->IndexOfName("P"), 0);
}

TEST_F(StatementDb, CalculatedFieldsRun) {
  TIB_DSQL* st = NewStatement("Q1", "select ID, NAME from T");
  st->SetIB_Connection(conn_);
  TStringList calc;
  calc.Add("TWICE=INTEGER");
  st->SetCalculatedFields(&calc);
  std::vector<TIB_Column*> seen;
  st->OnCalculateField = [&seen](TIB_Statement*, TIB_Row*, TIB_Column* f) { seen.push_back(f); };
  st->Prepare();
  TIB_Column* twice = st->FindField("TWICE");
  ASSERT_NE(twice, nullptr);
  st->RecalculateFields();
  EXPECT_EQ(seen, std::vector<TIB_Column*>{twice});
  // A change of the definitions unprepares.
  calc.Add("THRICE=INTEGER");
  st->SetCalculatedFields(&calc);
  EXPECT_FALSE(st->Prepared());
}

TEST_F(StatementDb, ConnectionChangeTakesTheHandleAlong) {
  TIB_DSQL* st = NewStatement("Q1", "select ID from T");
  st->SetIB_Connection(conn_);
  st->Prepare();
  st->SQL()->SetText("select NAME from T");  // unprepared, handle kept
  ASSERT_NE(st->StmtHandle(), 0u);
  auto* other = new TIB_Connection(&form_);
  other->SetDatabaseName(CZ(fb_->ConnectString()));
  other->SetUsername(kSysdbaUser);
  other->SetPassword(kSysdbaPassword);
  other->SetCharSet("WIN1250");
  st->SetIB_Connection(other);
  EXPECT_EQ(st->StmtHandle(), 0u);
  st->Prepare();
  EXPECT_TRUE(st->Prepared());
  EXPECT_TRUE(other->GetConnected());
}

}  // namespace
}  // namespace pelvar::test

namespace pelvar::test {
namespace {

TEST_F(StatementDb, PrepareAskedForWhileLoadingRunsAfterwardsAndFailsSilently) {
  for (const bool good : {true, false}) {
    TIB_DSQL* st = NewStatement(good ? "QGood" : "QBad",
                                good ? "select ID from T" : "select NOPE from T");
    st->SetIB_Connection(conn_);
    st->BeginLoading();
    st->SetPrepared(true);
    EXPECT_FALSE(st->Prepared());
    EXPECT_NO_THROW(st->EndLoading());
    EXPECT_EQ(st->Prepared(), good);
  }
}

TEST_F(StatementDb, ValueChangesReachTheLinksAndLongTextIsRefused) {
  TIB_DSQL* st = NewStatement("Q1", "select ID from T where NAME = :NAME");
  st->SetIB_Connection(conn_);
  ASSERT_TRUE(conn_->DefaultNoLengthCheck());
  st->Prepare();
  std::vector<std::pair<int, intptr_t>> events;
  struct Link : TIB_StatementLink {
    Link(TComponent* o, std::vector<std::pair<int, intptr_t>>& e) : TIB_StatementLink(o), ev(e) {}
    void ProcessEvent(uint8_t Code, intptr_t Argument) override { ev.emplace_back(Code, Argument); }
    std::vector<std::pair<int, intptr_t>>& ev;
  };
  auto* link = new Link(&form_, events);
  link->SetStatement(st);
  events.clear();
  TIB_Column* name = st->ParamByName("NAME");
  name->SetAsString("abc");
  const auto changed = std::make_pair(static_cast<int>(setParamChanged),
                                      reinterpret_cast<intptr_t>(name));
  EXPECT_EQ(std::count(events.begin(), events.end(), changed), 1);
  // The connection's DefaultNoLengthCheck does not bring back silent cutting: a text
  // longer than VARCHAR(20) is refused and the value stays.
  EXPECT_THROW(name->SetAsString("abcdefghijklmnopqrstuvwxyz"), Exception);
  EXPECT_EQ(name->GetAsString(), "abc");
  // Hints sent while prepared.
  events.clear();
  st->Hints()->Add("hint");
  EXPECT_EQ(events, (std::vector<std::pair<int, intptr_t>>{{setHintsChanged, 0}}));
}

}  // namespace
}  // namespace pelvar::test
