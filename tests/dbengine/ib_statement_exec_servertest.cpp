// Statement execution through the server on localhost: DML with its row counts seen by
// another attachment (isql) once committed, a procedure's outputs, execute immediate,
// and a CONNECT script statement that moves the connection to another database.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../dbclient/connection_calls.h"
#include "dbengine/IB_Components_statement.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

class ExecServer : public ::testing::Test {
 protected:
  void SetUp() override {
    PELVAR_REQUIRE_SERVER();
    fb_ = FbTestDb::Create(FbTestDb::Mode::Server);
    fb_->RunSql(
        "create table T (ID integer not null primary key, NAME varchar(20));\n"
        "commit;\n"
        "insert into T values (1, 'a');\n"
        "insert into T values (2, 'b');\n"
        "commit;\n"
        "set term ^ ;\n"
        "create procedure NEXT_ID returns (N integer) as\n"
        "begin select max(ID) + 1 from T into :N; end^\n"
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

  std::unique_ptr<FbTestDb> fb_;
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
  TIB_Connection* conn_ = nullptr;
  TIB_Transaction* tr_ = nullptr;
};

TEST_F(ExecServer, ExecutionIsSeenByAnotherAttachmentOnceCommitted) {
  TIB_DSQL* proc = NewStatement("execute procedure NEXT_ID");
  proc->Execute();
  const int32_t next = proc->FieldByName("N")->GetAsInteger();
  EXPECT_EQ(next, 3);

  TIB_DSQL* ins = NewStatement("insert into T (ID, NAME) values (:ID, :NAME)");
  ins->ParamByName("ID")->SetAsInteger(next);
  ins->ParamByName("NAME")->SetAsString("c");
  ins->Execute();
  EXPECT_EQ(ins->GetRowsAffected(), 1);
  ins->ExecuteImmediate("update T set NAME = 'z' where ID < 3");
  EXPECT_EQ(fb_->RunSql("select count(*) from T;").find("3"), std::string::npos);
  tr_->Commit();
  const std::string seen = fb_->RunSql("select count(*) as C, sum(case when NAME = 'z' then 1 else 0 end) as Z from T;");
  EXPECT_NE(seen.find("3"), std::string::npos) << seen;
  EXPECT_NE(seen.find("2"), std::string::npos) << seen;
}

TEST_F(ExecServer, ConnectScriptMovesTheConnection) {
  auto other = FbTestDb::Create(FbTestDb::Mode::Server, "other.fdb");
  other->RunSql("create table ONLY_HERE (A integer);\ncommit;\n");
  TIB_DSQL* st = NewStatement("select 1 from RDB$DATABASE");
  st->ExecuteImmediate(CZ("CONNECT '" + other->ConnectString() + "' USER 'SYSDBA' PASSWORD 'masterkey'"));
  ASSERT_TRUE(conn_->GetConnected());
  TIB_DSQL* probe =
      NewStatement("select count(*) from RDB$RELATIONS where RDB$RELATION_NAME = 'ONLY_HERE'");
  probe->Execute();
  EXPECT_EQ(probe->Fields()->GetColumn(0)->GetAsInteger(), 1);
  // Connecting to the database it is on already changes nothing.
  st->ExecuteImmediate(CZ("CONNECT '" + other->ConnectString() + "'"));
  EXPECT_TRUE(conn_->GetConnected());
  conn_->Close();
  conn_->SetDatabaseName(CZ(fb_->ConnectString()));
}

// A statement that finds its attachment gone (here deleted by an administrator:
// "connection shutdown") marks the connection and its transaction lost at once; the
// disconnect then ends it without a detach.
TEST_F(ExecServer, StatementOnADeadAttachmentMarksTheConnectionLost) {
  TIB_DSQL* id = NewStatement("select current_connection from RDB$DATABASE");
  id->Execute();
  const std::string attachment = id->Fields()->GetColumn(0)->GetAsString();
  ASSERT_TRUE(tr_->GetStarted());
  fb_->RunSql("delete from mon$attachments where mon$attachment_id = " + attachment + ";\ncommit;\n");
  EXPECT_FALSE(conn_->ConnectionLost());

  TIB_DSQL* st = NewStatement("select count(*) from T");
  int32_t code = 0;
  try {
    st->Execute();
  } catch (const EIB_ISCError& e) {
    code = e.ERRCODE();
  }
  EXPECT_EQ(code, 335544856) << "connection shutdown";
  EXPECT_TRUE(conn_->ConnectionLost());
  EXPECT_TRUE(tr_->ConnectionLost());
  EXPECT_TRUE(conn_->GetConnected());
  conn_->Close();
  EXPECT_FALSE(conn_->GetConnected());
  EXPECT_FALSE(tr_->GetStarted());
}

}  // namespace
}  // namespace pelvar::test
