// The adapter database and transactions against real Firebird 3, shared by the embedded
// and the server tests: opening as the data module opens, the transactions with the
// data module's isolation and the way it starts, commits and rolls back, failing opens,
// and a form that goes while its work is still open.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dbadapters/REZDatabase.h"
#include "dbclient/ClientLibraryName.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Components_statement.h"
#include "platform/codepage.h"
#include "support/firebird.h"

namespace pelvar::test {

inline TIB_Protocol ProtocolFor(FbTestDb::Mode mode) {
  return mode == FbTestDb::Mode::Server ? cpTCP_IP : cpLocal;
}

// The data module's form: Src and Dst with their stored settings, the three
// transactions bound to them.
struct DataModuleForm {
  TComponent form{nullptr};
  TREZDatabase* Src = new TREZDatabase(&form);
  TREZDatabase* Dst = new TREZDatabase(&form);
  TREZTransaction* REZTransactionSrc = new TREZTransaction(&form);
  TREZTransaction* REZTransactionTmpSrc = new TREZTransaction(&form);
  TREZTransaction* REZTransactionDst = new TREZTransaction(&form);

  DataModuleForm() {
    InstallClientLibraryNameProvider();
    Src->SetName("Src");
    Dst->SetName("Dst");
    REZTransactionSrc->SetName("REZTransactionSrc");
    REZTransactionTmpSrc->SetName("REZTransactionTmpSrc");
    REZTransactionDst->SetName("REZTransactionDst");
    Src->SetSQLDialect(3);
    Src->Params()->SetText("SQL DIALECT=3");
    Src->SetIsolation(tiCommitted);
    Dst->SetSQLDialect(3);
    Dst->Params()->SetText(
        "CHARACTER SET=WIN1250\r\nUSER NAME=SYSDBA\r\nSQL DIALECT=3\r\nPROTOCOL=TCP/IP\r\n"
        "SERVER=localhost\r\n");
    Dst->SetIsolation(tiCommitted);
    for (TREZTransaction* tr : {REZTransactionSrc, REZTransactionTmpSrc}) {
      tr->SetIB_Connection(Src);
      tr->SetIsolation(tiCommitted);
    }
    REZTransactionDst->SetIB_Connection(Dst);
    REZTransactionDst->SetIsolation(tiCommitted);
  }
  ~DataModuleForm() { ClientLibraryNameHook = nullptr; }
};

// The data module's open: parameters cleared, then set one by one, then connected.
inline void OpenLikeDataModule(TREZDatabase& db, const std::string& path, TIB_Protocol protocol,
                               const std::string& password = kSysdbaPassword) {
  db.Params()->Clear();
  db.SetDatabaseName(CZ(path));
  db.SetUsername(kSysdbaUser);
  db.SetPassword(password);
  db.SetCharSet("WIN1250");
  if (protocol != cpLocal) {
    db.SetProtocol(protocol);
    db.SetServer("localhost");
  } else {
    db.SetProtocol(cpLocal);
    db.SetServer("");
  }
  db.SetSQLDialect(3);
  db.SetLoginPrompt(false);
  db.Open();
}

// A statement as the data module's queries use one: on a connection and a transaction.
inline std::unique_ptr<TIB_DSQL> Query(TIB_Connection* db, TIB_Transaction* tr) {
  auto q = std::make_unique<TIB_DSQL>(nullptr);
  q->SetIB_Connection(db);
  if (tr != nullptr) q->SetIB_Transaction(tr);
  return q;
}

// Runs one statement in the query's transaction.
inline void RunStatement(TIB_DSQL& q, const std::string& sql) {
  q.SQL()->SetText(CZ(sql));
  q.Prepare();
  q.ExecSQL();
}

// The single column R of a singleton SELECT run in tr; "<null>" for null.
inline std::string One(TIB_Connection* db, TIB_Transaction* tr, const std::string& sql) {
  auto q = Query(db, tr);
  RunStatement(*q, sql);
  TIB_Column* r = q->FieldByName("R");
  return r->GetIsNull() ? "<null>" : r->GetAsString();
}

// What another attachment sees once the work is committed.
inline std::string Seen(const FbTestDb& fb, const std::string& sql) {
  TComponent form(nullptr);
  auto* db = new TREZDatabase(&form);
  OpenLikeDataModule(*db, fb.Path(), ProtocolFor(fb.GetMode()));
  const std::string r = One(db, db->DefaultTransaction(), sql);
  db->DefaultTransaction()->Commit();
  db->Close();
  return r;
}

// The data module's ExecDst/ExecSrc: an explicit transaction unless one is in progress,
// commit retaining after the statement, roll back retaining and raise again on failure.
inline void ExecLikeDataModule(TIB_DSQL& q, const std::string& sql) {
  TIB_Transaction* tr = q.IB_Transaction();
  if (!IsTransactionStarted(tr)) tr->StartTransaction();
  try {
    RunStatement(q, sql);
    tr->CommitRetaining();
  } catch (...) {
    tr->RollbackRetaining();
    throw;
  }
}

inline std::unique_ptr<FbTestDb> MakeAdapterDb(FbTestDb::Mode mode) {
  auto fb = FbTestDb::Create(mode);
  fb->RunSql("create table T (N integer not null primary key);\ncommit;\n");
  return fb;
}

// Dst opened with the module's open after its stored settings: whatever the form held
// (another protocol and server, no password) is replaced, the attachment has the
// administrator, WIN1250, dialect 3 and the protocol asked for.
inline void CheckOpenLikeDataModule(FbTestDb::Mode mode) {
  auto fb = MakeAdapterDb(mode);
  DataModuleForm dm;
  OpenLikeDataModule(*dm.Dst, fb->Path(), ProtocolFor(mode));
  ASSERT_TRUE(dm.Dst->Connected());
  EXPECT_EQ(dm.Dst->DatabaseName(),
            CZ((mode == FbTestDb::Mode::Server ? "localhost:" : "") + fb->Path()));
  EXPECT_EQ(dm.Dst->SQLDialect(), 3);
  TIB_Transaction* tr = dm.REZTransactionDst;
  EXPECT_EQ(One(dm.Dst, tr, "select current_user as R from rdb$database"), "SYSDBA");
  EXPECT_EQ(One(dm.Dst, tr,
                "select c.rdb$character_set_name as R from mon$attachments a"
                " join rdb$character_sets c on c.rdb$character_set_id = a.mon$character_set_id"
                " where a.mon$attachment_id = current_connection"),
            "WIN1250");
  const std::string remote =
      One(dm.Dst, tr,
          "select mon$remote_protocol as R from mon$attachments"
          " where mon$attachment_id = current_connection");
  if (mode == FbTestDb::Mode::Server) {
    EXPECT_EQ(remote.substr(0, 3), "TCP") << remote;
  } else {
    EXPECT_EQ(remote, "<null>");
  }
  // Czech text travels as Windows-1250 both ways.
  auto q = Query(dm.Dst, tr);
  RunStatement(*q, "create table CZ (S varchar(20))");
  tr->Commit();
  ExecLikeDataModule(*q, "insert into CZ values ('Žluťoučký kůň')");
  EXPECT_EQ(One(dm.Dst, tr, "select S as R from CZ"), CZ("Žluťoučký kůň"));
  tr->Commit();
  q.reset();
  dm.Dst->Close();
  EXPECT_FALSE(dm.Dst->Connected());
  EXPECT_FALSE(IsTransactionStarted(tr));
}

// The three transactions with the module's read-committed isolation: statements run in
// the transaction they name, Src's two transactions are independent, and commit and
// rollback in both forms do what the module's helpers rely on.
inline void CheckTransactionsLikeDataModule(FbTestDb::Mode mode) {
  auto fb = MakeAdapterDb(mode);
  DataModuleForm dm;
  OpenLikeDataModule(*dm.Src, fb->Path(), ProtocolFor(mode));
  ASSERT_TRUE(dm.Src->Connected());

  // Read committed with record versions (mode 2) on the server, for the module's
  // transactions and for the database's own default transaction.
  for (TIB_Transaction* tr : std::vector<TIB_Transaction*>{
           dm.REZTransactionSrc, dm.REZTransactionTmpSrc, dm.Src->DefaultTransaction()}) {
    EXPECT_EQ(One(dm.Src, tr,
                  "select mon$isolation_mode as R from mon$transactions"
                  " where mon$transaction_id = current_transaction"),
              "2")
        << tr->Name();
    tr->Commit();
  }

  auto q = Query(dm.Src, dm.REZTransactionSrc);
  // One statement, committed retaining: others see it, the server transaction goes on.
  ExecLikeDataModule(*q, "insert into T values (1)");
  EXPECT_TRUE(dm.REZTransactionSrc->GetStarted());
  // Commit retaining ends the explicit transaction but not the started state: a caller
  // that commits "when a transaction is started" (the module's CommitBoth) still commits
  // what runs afterwards in the retained context.
  EXPECT_FALSE(dm.REZTransactionSrc->InTransaction());
  EXPECT_TRUE(IsTransactionStarted(dm.REZTransactionSrc));
  EXPECT_EQ(Seen(*fb, "select count(*) as R from T"), "1");

  // The second transaction on the same database reads committed rows only, within one
  // and the same server transaction.
  const std::string tmp_id =
      One(dm.Src, dm.REZTransactionTmpSrc, "select current_transaction as R from rdb$database");
  auto other = Query(dm.Src, dm.REZTransactionSrc);
  RunStatement(*other, "insert into T values (2)");
  EXPECT_EQ(One(dm.Src, dm.REZTransactionTmpSrc, "select count(*) as R from T"), "1");
  EXPECT_EQ(One(dm.Src, dm.REZTransactionSrc, "select count(*) as R from T"), "2");

  // A failing statement rolls back retaining: the uncommitted row 2 goes, the
  // transaction stays usable, and the server's error reaches the caller.
  try {
    ExecLikeDataModule(*q, "insert into T values (1)");
    ADD_FAILURE() << "a duplicate key was accepted";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.SQLCODE(), -803) << e.Message();
  }
  EXPECT_TRUE(dm.REZTransactionSrc->GetStarted());
  EXPECT_EQ(One(dm.Src, dm.REZTransactionSrc, "select count(*) as R from T"), "1");
  ExecLikeDataModule(*q, "insert into T values (3)");
  EXPECT_EQ(One(dm.Src, dm.REZTransactionTmpSrc,
                "select list(N) as R from (select N from T order by N)"),
            "1,3");
  EXPECT_EQ(One(dm.Src, dm.REZTransactionTmpSrc,
                "select current_transaction as R from rdb$database"),
            tmp_id);

  // Rollback retaining on its own undoes the work since the last commit and keeps the
  // context; the hard commit ends the server transaction.
  dm.REZTransactionSrc->StartTransaction();
  RunStatement(*other, "insert into T values (4)");
  dm.REZTransactionSrc->RollbackRetaining();
  EXPECT_TRUE(dm.REZTransactionSrc->GetStarted());
  RunStatement(*other, "insert into T values (5)");
  dm.REZTransactionSrc->Commit();
  EXPECT_FALSE(dm.REZTransactionSrc->GetStarted());
  EXPECT_FALSE(dm.REZTransactionSrc->InTransaction());
  EXPECT_EQ(Seen(*fb, "select list(N) as R from (select N from T order by N)"), "1,3,5");

  // A hard rollback throws away everything since the start.
  dm.REZTransactionSrc->StartTransaction();
  RunStatement(*other, "insert into T values (6)");
  dm.REZTransactionSrc->Rollback();
  EXPECT_FALSE(IsTransactionStarted(dm.REZTransactionSrc));
  EXPECT_EQ(One(dm.Src, dm.REZTransactionTmpSrc, "select count(*) as R from T"), "3");

  // A statement run without StartTransaction begins the server transaction itself:
  // the started state covers it, so a caller that tests it commits that work.
  RunStatement(*other, "insert into T values (7)");
  EXPECT_TRUE(dm.REZTransactionSrc->GetStarted());
  EXPECT_FALSE(dm.REZTransactionSrc->InTransaction());
  ASSERT_TRUE(IsTransactionStarted(dm.REZTransactionSrc));
  dm.REZTransactionSrc->Commit();
  EXPECT_EQ(Seen(*fb, "select count(*) as R from T where N = 7"), "1");
  // Left uncommitted, such work is rolled back when the connection closes.
  RunStatement(*other, "insert into T values (8)");
  q.reset();
  other.reset();
  dm.Src->Close();
  EXPECT_FALSE(IsTransactionStarted(dm.REZTransactionSrc));
  EXPECT_FALSE(IsTransactionStarted(dm.REZTransactionTmpSrc));
  EXPECT_EQ(Seen(*fb, "select count(*) as R from T where N = 8"), "0");
}

// A statement bound to the database alone runs in the database's default transaction.
inline void CheckDefaultTransactionServesUnboundStatements(FbTestDb::Mode mode) {
  auto fb = MakeAdapterDb(mode);
  DataModuleForm dm;
  OpenLikeDataModule(*dm.Dst, fb->Path(), ProtocolFor(mode));
  auto q = Query(dm.Dst, nullptr);
  RunStatement(*q, "insert into T values (1)");
  EXPECT_EQ(q->IB_Transaction(), dm.Dst->DefaultTransaction());
  EXPECT_TRUE(dm.Dst->DefaultTransaction()->GetAutoCommit());
  dm.Dst->DefaultTransaction()->Commit();
  EXPECT_EQ(Seen(*fb, "select count(*) as R from T"), "1");
  q.reset();
  dm.Dst->Close();
}

struct FailingOpen {
  const char* what;
  std::string suffix;  // appended to the database path
  std::string password;
  bool server_only;
};

// An open that fails raises the client layer's server error and leaves the database
// disconnected; the next open, with its parameters set again, succeeds.
inline void CheckFailingOpens(FbTestDb::Mode mode) {
  auto fb = MakeAdapterDb(mode);
  const std::vector<FailingOpen> cases = {
      {"missing file", ".missing", kSysdbaPassword, false},
      // The embedded engine trusts the local user; only the server checks passwords.
      {"wrong password", "", "wrongpass", true},
  };
  DataModuleForm dm;
  for (const FailingOpen& c : cases) {
    if (c.server_only && mode != FbTestDb::Mode::Server) continue;
    SCOPED_TRACE(c.what);
    EXPECT_THROW(OpenLikeDataModule(*dm.Dst, fb->Path() + c.suffix, ProtocolFor(mode), c.password),
                 EIB_ISCError);
    EXPECT_FALSE(dm.Dst->Connected());
    OpenLikeDataModule(*dm.Dst, fb->Path(), ProtocolFor(mode));
    EXPECT_TRUE(dm.Dst->Connected());
    dm.Dst->Close();
  }
}

}  // namespace pelvar::test
