// Statement execution against real Firebird 3 (embedded): execution by statement type
// (SELECT, DML with rows affected, EXECUTE PROCEDURE with outputs, DDL, transaction
// control), the active state, the statement type, execute immediate with the database
// script statements, and the events of an execute.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_statement.h"
#include "platform/application.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

class ExecDb : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = FbTestDb::Create(FbTestDb::Mode::Embedded);
    fb_->RunSql(
        "create table T (ID integer not null primary key, NAME varchar(20), AMOUNT integer);\n"
        "commit;\n"
        "insert into T values (1, 'a', 10);\n"
        "insert into T values (2, 'b', 20);\n"
        "insert into T values (3, 'c', 30);\n"
        "insert into T values (4, 'd', 40);\n"
        "commit;\n"
        "set term ^ ;\n"
        "create procedure TWICE (X integer) returns (Y integer, Z varchar(10)) as\n"
        "begin Y = X * 2; Z = 'ok'; end^\n"
        "set term ; ^\n"
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
    // The components go with the form before the database file is dropped.
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    fb_.reset();
    ClientLibraryNameHook = nullptr;
  }

  TIB_DSQL* NewStatement(const std::string& sql) {
    auto* st = new TIB_DSQL(&form_);
    st->SetIB_Connection(conn_);
    st->SetIB_Transaction(tr_);
    st->SQL()->SetText(CZ(sql));
    return st;
  }

  // The first column of the first row that a fresh transaction reads now (committed
  // data only); the embedded engine keeps the file, so isql cannot open it meanwhile.
  std::string Committed(const std::string& sql) {
    TIB_Transaction reader(nullptr);
    reader.SetIB_Connection(conn_);
    TIB_DSQL probe(nullptr);
    probe.SetIB_Connection(conn_);
    probe.SetIB_Transaction(&reader);
    probe.SQL()->SetText(CZ(sql));
    probe.Execute();
    std::string value = probe.Active() ? std::string(probe.Fields()->GetColumn(0)->GetAsString()) : "";
    probe.SetIB_Transaction(nullptr);
    reader.Rollback();
    return value;
  }

  std::unique_ptr<FbTestDb> fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
};

TEST_F(ExecDb, DmlReportsRowsAffectedAndGivesTheTransactionWork) {
  TIB_DSQL* st = NewStatement("update T set AMOUNT = AMOUNT + 1 where ID <= :MAXID");
  st->Prepare();
  EXPECT_EQ(st->GetStatementType(), isc_info_sql_stmt_update);
  st->ParamByName("MAXID")->SetAsInteger(3);
  ASSERT_TRUE(tr_->GetStarted());
  EXPECT_NE(tr_->State(), tsActive);
  st->Execute();
  EXPECT_EQ(st->GetRowsAffected(), 3);
  EXPECT_EQ(tr_->State(), tsActive);
  EXPECT_FALSE(st->Active());  // no field columns: nothing to be active with
  tr_->Commit();
  EXPECT_EQ(Committed("select sum(AMOUNT) from T"), "103");

  // Insert and delete counts go by their own types.
  TIB_DSQL* ins = NewStatement("insert into T (ID, NAME) values (10, 'x')");
  ins->Execute();
  EXPECT_EQ(ins->GetRowsAffected(), 1);
  TIB_DSQL* del = NewStatement("delete from T where ID >= 3");
  del->Execute();
  EXPECT_EQ(del->GetRowsAffected(), 3);
  tr_->Rollback();
  EXPECT_EQ(Committed("select count(*) from T"), "4");
}

TEST_F(ExecDb, SelectDoesNotGiveTheTransactionWork) {
  TIB_DSQL* st = NewStatement("select NAME from T where ID = 2");
  st->Prepare();
  ASSERT_TRUE(tr_->GetStarted());
  st->Execute();
  EXPECT_NE(tr_->State(), tsActive);
  EXPECT_EQ(st->GetRowsAffected(), 1);
}

TEST_F(ExecDb, SingletonSelectFillsTheFieldRowAndStaysActive) {
  TIB_DSQL* st = NewStatement("select NAME, AMOUNT from T where ID = :ID");
  int active_changes = 0;
  st->OnActiveChange = [&](TIB_Statement*) { ++active_changes; };
  st->ParamByName("ID")->SetAsInteger(2);
  st->Execute();
  EXPECT_TRUE(st->Active());
  EXPECT_TRUE(st->OutputRowPresent());
  EXPECT_EQ(st->FieldByName("NAME")->GetAsString(), "b");
  EXPECT_EQ(st->FieldByName("AMOUNT")->GetAsInteger(), 20);
  EXPECT_EQ(active_changes, 1);

  // A second execute closes first, then becomes active again with the new row.
  st->ParamByName("ID")->SetAsInteger(3);
  st->Execute();
  EXPECT_TRUE(st->Active());
  EXPECT_EQ(st->FieldByName("NAME")->GetAsString(), "c");
  EXPECT_EQ(active_changes, 3);

  // No row: end of data, no error; the row is emptied and the statement inactive.
  st->ParamByName("ID")->SetAsInteger(99);
  st->Execute();
  EXPECT_FALSE(st->Active());
  EXPECT_TRUE(st->FieldByName("NAME")->GetIsNull());

  // SetActive(True) executes, SetActive(False) only clears the flag.
  st->ParamByName("ID")->SetAsInteger(1);
  st->SetActive(true);
  EXPECT_TRUE(st->Active());
  EXPECT_EQ(st->FieldByName("NAME")->GetAsString(), "a");
  st->SetActive(false);
  EXPECT_FALSE(st->Active());
  EXPECT_EQ(st->FieldByName("NAME")->GetAsString(), "a");
  EXPECT_TRUE(st->Prepared());
}

TEST_F(ExecDb, ExecuteProcedureFillsOutputsAndCountsAsWork) {
  TIB_DSQL* st = NewStatement("execute procedure TWICE :X");
  st->Prepare();
  EXPECT_EQ(st->GetStatementType(), isc_info_sql_stmt_exec_procedure);
  st->ParamByName("X")->SetAsInteger(21);
  st->Execute();
  EXPECT_TRUE(st->Active());
  EXPECT_EQ(st->FieldByName("Y")->GetAsInteger(), 42);
  EXPECT_EQ(st->FieldByName("Z")->GetAsString(), "ok");
  EXPECT_EQ(tr_->State(), tsActive);
}

TEST_F(ExecDb, DdlRunsWithItsEventsAndHasNoRowCount) {
  std::vector<std::string> log;
  TIB_DSQL* st = NewStatement("create table U (A integer)");
  st->BeforeExecDDL = [&](TIB_Statement*) { log.push_back("BeforeExecDDL"); };
  st->AfterExecDDL = [&](TIB_Statement*) { log.push_back("AfterExecDDL"); };
  st->BeforeExecute = [&](TIB_Statement*) { log.push_back("BeforeExecute"); };
  st->AfterExecute = [&](TIB_Statement*) { log.push_back("AfterExecute"); };
  st->Execute();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeExecute", "BeforeExecDDL", "AfterExecDDL",
                                           "AfterExecute"}));
  EXPECT_EQ(st->GetStatementType(), isc_info_sql_stmt_ddl);
  EXPECT_EQ(st->GetRowsAffected(), -1);
  tr_->Commit();
  EXPECT_EQ(Committed("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'U'"), "1");
}

// Records the link event codes of an execute.
class ExecLink : public TIB_StatementLink {
 public:
  ExecLink(TComponent* owner, std::vector<std::string>& log) : TIB_StatementLink(owner), log_(log) {}
  void ProcessEvent(uint8_t Code, intptr_t Argument) override {
    if (Code != setParamsStateChanged && Code != setFieldsStateChanged && Code != setParamChanged &&
        Code != setFieldsDataChange) {
      log_.push_back("e" + std::to_string(static_cast<int>(Code)));
    }
    TIB_StatementLink::ProcessEvent(Code, Argument);
  }

 private:
  std::vector<std::string>& log_;
};

TEST_F(ExecDb, DmlEventsComeInOrder) {
  std::vector<std::string> log;
  TIB_DSQL* st = NewStatement("update T set NAME = :N where ID = 1");
  auto* link = new ExecLink(&form_, log);
  link->SetStatement(st);
  auto h = [&log](const char* n) { return [&log, n](TIB_Statement*) { log.push_back(n); }; };
  st->BeforeExecute = h("BeforeExecute");
  st->AfterExecute = h("AfterExecute");
  st->BeforeExecDML = h("BeforeExecDML");
  st->AfterExecDML = h("AfterExecDML");
  st->Prepare();
  st->ParamByName("N")->SetAsString("z");
  log.clear();
  st->Execute();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeExecute", "e6", "e19", "BeforeExecDML", "e8",
                                           "e9", "AfterExecDML", "e7", "AfterExecute"}));

  // A singleton SELECT adds the active change before the after-execute events.
  TIB_DSQL* sel = NewStatement("select NAME from T where ID = 1");
  link->SetStatement(sel);
  sel->Prepare();
  log.clear();
  sel->Execute();
  EXPECT_EQ(log, (std::vector<std::string>{"e6", "e13", "e7"}));
  delete link;  // it records into this test's log
}

TEST_F(ExecDb, TransactionControlTextsActOnTheTransaction) {
  TIB_DSQL* upd = NewStatement("update T set AMOUNT = 0 where ID = 1");
  upd->Execute();
  ASSERT_TRUE(tr_->GetStarted());

  TIB_DSQL* commit = NewStatement("commit");
  commit->Execute();
  EXPECT_EQ(commit->GetStatementType(), isc_info_sql_stmt_commit);
  EXPECT_FALSE(tr_->GetStarted());
  EXPECT_EQ(Committed("select AMOUNT from T where ID = 1"), "0");

  upd->SQL()->SetText("update T set AMOUNT = 555 where ID = 2");
  upd->Execute();
  TIB_DSQL* rollback = NewStatement("rollback");
  rollback->Execute();
  EXPECT_FALSE(tr_->GetStarted());
  EXPECT_EQ(Committed("select AMOUNT from T where ID = 2"), "20");

  TIB_DSQL* start = NewStatement("set transaction");
  start->Execute();
  EXPECT_TRUE(tr_->GetStarted());
  EXPECT_TRUE(tr_->InTransaction());
}

TEST_F(ExecDb, SavepointsAndBlocksExecute) {
  TIB_DSQL* upd = NewStatement("update T set NAME = 'sp' where ID = 1");
  upd->Execute();
  TIB_DSQL* sp = NewStatement("savepoint S1");
  sp->Execute();
  EXPECT_EQ(sp->GetStatementType(), isc_info_sql_stmt_savepoint);
  upd->SQL()->SetText("update T set NAME = 'lost' where ID = 1");
  upd->Execute();
  NewStatement("rollback to savepoint S1")->Execute();
  TIB_DSQL* read = NewStatement("select NAME from T where ID = 1");
  read->Execute();
  EXPECT_EQ(read->FieldByName("NAME")->GetAsString(), "sp");

  // A block with outputs is a SELECT for the server: its first suspended row lands in
  // the field row.
  TIB_DSQL* block = NewStatement("execute block returns (A integer) as begin A = 5; suspend; end");
  EXPECT_TRUE(block->IsExecuteBlock());
  block->Execute();
  EXPECT_EQ(block->GetStatementType(), isc_info_sql_stmt_select);
  EXPECT_TRUE(block->Active());
  EXPECT_EQ(block->FieldByName("A")->GetAsInteger(), 5);
  // Without outputs it is a procedure call.
  TIB_DSQL* plain = NewStatement("execute block as begin update T set NAME = 'eb' where ID = 2; end");
  plain->Execute();
  EXPECT_EQ(plain->GetStatementType(), isc_info_sql_stmt_exec_procedure);
  EXPECT_EQ(tr_->State(), tsActive);
}

TEST_F(ExecDb, StatementTypeComesFromTheTextForSelectsOnly) {
  TIB_DSQL* sel = NewStatement("select * from T for update");
  EXPECT_EQ(sel->GetStatementType(), isc_info_sql_stmt_select_for_upd);
  EXPECT_FALSE(sel->Prepared());
  TIB_DSQL* plain = NewStatement("select * from T");
  EXPECT_EQ(plain->GetStatementType(), isc_info_sql_stmt_select);
  EXPECT_TRUE(plain->IsSelectStatement());
  TIB_DSQL* ins = NewStatement("insert into T (ID) values (7)");
  EXPECT_EQ(ins->GetStatementType(), 0);
  EXPECT_FALSE(ins->IsSelectStatement());
  ins->Prepare();
  EXPECT_EQ(ins->GetStatementType(), isc_info_sql_stmt_insert);
  // A change of the SQL makes the type stale again.
  ins->SQL()->SetText("delete from T where ID = 7");
  EXPECT_EQ(ins->GetStatementType(), 0);
  ins->Prepare();
  EXPECT_EQ(ins->GetStatementType(), isc_info_sql_stmt_delete);
}

TEST_F(ExecDb, ServerErrorsPassOutAndLeaveTheStatementUsable) {
  TIB_DSQL* st = NewStatement("insert into T (ID, NAME) values (:ID, 'dup')");
  st->ParamByName("ID")->SetAsInteger(1);
  EXPECT_THROW(st->Execute(), EIB_ISCError);
  st->ParamByName("ID")->SetAsInteger(50);
  st->Execute();
  EXPECT_EQ(st->GetRowsAffected(), 1);
}

TEST_F(ExecDb, ExecuteImmediateUsesASecondHandle) {
  TIB_DSQL* st = NewStatement("select NAME from T where ID = 1");
  st->Prepare();
  const isc_stmt_handle handle = st->StmtHandle();
  st->ExecuteImmediate("insert into T (ID, NAME) values (20, 'imm')");
  EXPECT_TRUE(st->Prepared());
  EXPECT_EQ(st->StmtHandle(), handle);
  st->Execute();
  EXPECT_EQ(st->FieldByName("NAME")->GetAsString(), "a");
  tr_->Commit();
  EXPECT_EQ(Committed("select NAME from T where ID = 20"), "imm");

  EXPECT_THROW(st->ExecuteImmediate("insert into NOSUCH values (1)"), EIB_ISCError);
}

TEST_F(ExecDb, ExecuteImmediateCommitEndsTheTransactionOnTheServer) {
  TIB_DSQL* st = NewStatement("select NAME from T");
  st->ExecuteImmediate("update T set NAME = 'cm' where ID = 4");
  st->ExecuteImmediate("commit");
  EXPECT_FALSE(tr_->GetStarted());
  EXPECT_EQ(Committed("select NAME from T where ID = 4"), "cm");
}

TEST_F(ExecDb, ScriptStatementsActOnTheConnection) {
  auto other = FbTestDb::Create(FbTestDb::Mode::Embedded, "other.fdb");
  other->RunSql("create table OTHER_T (A integer);\ncommit;\n");
  TIB_DSQL* st = NewStatement("select 1 from RDB$DATABASE");
  const std::string script = "CONNECT '" + other->ConnectString() + "' USER '" +
                             std::string(kSysdbaUser) + "' PASSWORD '" +
                             std::string(kSysdbaPassword) + "'";
  st->ExecuteImmediate(CZ(script));
  EXPECT_TRUE(conn_->GetConnected());
  EXPECT_EQ(conn_->DatabaseName(), CZ(other->ConnectString()));
  TIB_DSQL* probe = NewStatement("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'OTHER_T'");
  probe->Execute();
  EXPECT_EQ(probe->Fields()->GetColumn(0)->GetAsInteger(), 1);

  st->ExecuteImmediate("DISCONNECT DATABASE");
  EXPECT_FALSE(conn_->GetConnected());
  // Leave the original database for the fixture's teardown.
  conn_->SetDatabaseName(CZ(fb_->ConnectString()));
}

}  // namespace
}  // namespace pelvar::test
