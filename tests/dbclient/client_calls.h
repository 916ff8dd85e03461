// Raw client-library work through our call table, shared by the embedded and the server
// tests: attach with a parameter block, start a transaction, execute a statement,
// and the error checks both modes make.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dbclient/ClientLibraryName.h"
#include "dbclient/IB_Session.h"
#include "platform/codepage.h"
#include "support/firebird.h"

namespace pelvar::test {

// A database parameter block for SYSDBA with the given character set.
inline std::string MakeDpb(const std::string& charset = "WIN1250",
                           const std::string& password = kSysdbaPassword) {
  std::string dpb(1, static_cast<char>(isc_dpb_version1));
  auto add = [&dpb](uint8_t item, const std::string& value) {
    dpb += static_cast<char>(item);
    dpb += static_cast<char>(value.size());
    dpb += value;
  };
  add(isc_dpb_user_name, kSysdbaUser);
  add(isc_dpb_password, password);
  add(isc_dpb_lc_ctype, charset);
  return dpb;
}

// What the connection does to attach: bind the library on first need; with no library
// the call fails with -1 and the error handling reports it.
inline isc_db_handle Attach(TIB_SessionBase& session, const std::string& path,
                            const std::string& dpb = MakeDpb()) {
  if (ClientCallTable.isc_attach_database == nullptr) {
    EnsureClientAPI();
  }
  isc_db_handle db = 0;
  if (ClientCallTable.isc_attach_database == nullptr) {
    session.SetLastResult(-1);
    session.HandleException(&session);
    return 0;
  }
  session.API_Call(&session, ClientCallTable.isc_attach_database,
                   static_cast<short>(path.size()), path.c_str(), &db,
                   static_cast<short>(dpb.size()), dpb.data());
  return db;
}

inline isc_tr_handle StartTransaction(TIB_SessionBase& session, isc_db_handle& db) {
  static const char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_concurrency,
                             isc_tpb_wait};
  ISC_TEB teb{&db, static_cast<ISC_LONG>(sizeof tpb), tpb};
  isc_tr_handle tr = 0;
  session.API_Call(&session, ClientCallTable.isc_start_multiple, &tr, short{1}, &teb);
  return tr;
}

inline ISC_STATUS ExecuteImmediate(TIB_SessionBase& session, isc_db_handle& db,
                                   isc_tr_handle& tr, const std::string& sql) {
  return session.API_Call(&session, ClientCallTable.isc_dsql_execute_immediate, &db, &tr,
                          static_cast<unsigned short>(0), sql.c_str(),
                          static_cast<unsigned short>(SQL_DIALECT_V6),
                          static_cast<const XSQLDA*>(nullptr));
}

// Rolls back and detaches whatever is open, errors ignored.
inline void CleanUp(TIB_SessionBase& session, isc_db_handle& db, isc_tr_handle& tr) {
  if (tr != 0) {
    CallClient(ClientCallTable.isc_rollback_transaction, session.StatusVector(), &tr);
  }
  if (db != 0) {
    CallClient(ClientCallTable.isc_detach_database, session.StatusVector(), &db);
  }
}

// The text a trigger raises, with Czech letters, and the script that sets it up.
inline const std::string kCzechExceptionText = "Příliš žluťoučký kůň úpěl ďábelské ódy";

inline void CreateRaisingTrigger(const FbTestDb& db) {
  db.RunSql("create exception E_CZECH '" + kCzechExceptionText + "';\n"
            "create table T (N integer);\n"
            "set term ^;\n"
            "create trigger T_BI for T before insert as begin\n"
            "  if (new.N = 1) then exception E_CZECH;\n"
            "end^\n"
            "set term ;^\n"
            "commit;\n");
}

// A trigger's user exception: SQLCODE -836 and the user's text, byte-exact in
// Windows-1250, as the exception's message; the lists as HandleException builds them.
inline void CheckUserExceptionFromTrigger(FbTestDb::Mode mode) {
  auto fb = FbTestDb::Create(mode);
  CreateRaisingTrigger(*fb);
  InstallClientLibraryNameProvider();
  TIB_SessionBase session(nullptr);
  isc_db_handle db = Attach(session, fb->ConnectString());
  ASSERT_NE(db, 0u);
  isc_tr_handle tr = StartTransaction(session, db);
  ASSERT_NE(tr, 0u);

  std::vector<std::string> monitored;
  static std::vector<std::string>* sink;
  sink = &monitored;
  ClientCallTable.MonitorOutputHook = [](const AnsiString& text) { sink->push_back(text); };

  EXPECT_EQ(ExecuteImmediate(session, db, tr, "insert into T values (2)"), 0);
  try {
    ExecuteImmediate(session, db, tr, "insert into T values (1)");
    ADD_FAILURE() << "the trigger's exception did not arrive";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), isc_except);
    EXPECT_EQ(e.SQLCODE(), -836);
    EXPECT_EQ(session.SQLCODE(), -836);
    EXPECT_EQ(e.Message(), CZ(kCzechExceptionText));
    EXPECT_EQ(e.Sender(), &session);
    const TStringList& m = *e.ErrorMessage();
    ASSERT_GE(m.Count(), 6);
    EXPECT_EQ(m.Strings(0), "ISC ERROR CODE:335544517");
    EXPECT_EQ(m.Strings(1), "");
    EXPECT_EQ(m.Strings(2), "ISC ERROR MESSAGE:");
    EXPECT_EQ(m.Strings(4), "E_CZECH");
    EXPECT_EQ(m.Strings(5), CZ(kCzechExceptionText));
    // The codes list holds the vector's words 1, 2, 3 …: the first is the error code.
    ASSERT_GE(e.ErrorCodes()->Count(), 1);
    EXPECT_EQ(e.ErrorCodes()->Strings(0), "335544517");
    ASSERT_EQ(e.SQLMessage()->Count(), 4);
    EXPECT_EQ(e.SQLMessage()->Strings(0), "SQL ERROR CODE:-836");
    EXPECT_EQ(e.SQLMessage()->Strings(2), "SQL ERROR MESSAGE:");
    EXPECT_EQ(e.SQL()->Count(), 0);
    ASSERT_EQ(monitored.size(), 1u);
    EXPECT_EQ(monitored[0].rfind("//>>> ERROR <<<//\r\nISC ERROR CODE:335544517\r\n\r\n", 0), 0u)
        << monitored[0];
    EXPECT_NE(monitored[0].find("\r\n\r\n//>>> SQL MESSAGE <<<//\r\nSQL ERROR CODE:-836"),
              std::string::npos);
    EXPECT_EQ(monitored[0].find("//>>> SQL <<<//"), std::string::npos);
  }
  ClientCallTable.MonitorOutputHook = &EmptyMonitorOutput;
  CleanUp(session, db, tr);
}

}  // namespace pelvar::test
