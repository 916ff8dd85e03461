// The connection component against a real database, shared by the embedded and the
// server tests: the event order of connect and disconnect, the attachment's character
// set, creating and dropping, the refused detach, the page buffers item.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "transfer_calls.h"

namespace pelvar::test {

// A form with a session, a connection and a link that log what happens, in order.
struct ConnectionRig {
  std::vector<std::string> log;  // first: the form's components log while they go
  TComponent form{nullptr};
  TIB_Session* session = new TIB_Session(&form);
  TIB_Connection* conn = new TIB_Connection(&form);
  TIB_ConnectionLink* link = new TIB_ConnectionLink(&form);

  explicit ConnectionRig(const std::string& database = {}) {
    InstallClientLibraryNameProvider();
    if (!database.empty()) conn->SetDatabaseName(CZ(database));
    conn->SetUsername(kSysdbaUser);
    conn->SetPassword(kSysdbaPassword);
    conn->SetCharSet("WIN1250");
    conn->SetSQLDialect(3);
    auto handler = [this](const char* name) {
      return [this, name](TIB_Connection* c) {
        log.push_back(std::string(name) + (c->GetConnected() ? "+" : "-"));
      };
    };
    conn->BeforeConnect = handler("BeforeConnect");
    conn->AfterConnect = handler("AfterConnect");
    conn->BeforeDisconnect = handler("BeforeDisconnect");
    conn->AfterDisconnect = handler("AfterDisconnect");
    conn->OnConnectedChanged = handler("ConnectedChanged");
    conn->BeforeCreateDatabase = handler("BeforeCreateDatabase");
    conn->AfterCreateDatabase = handler("AfterCreateDatabase");
    conn->BeforeDropDatabase = handler("BeforeDropDatabase");
    conn->AfterDropDatabase = handler("AfterDropDatabase");
    link->OnProcessEvent = [this](TIB_ConnectionLink*, TIB_ConnectionEventType e) {
      log.push_back("cet" + std::to_string(static_cast<int>(e)));
    };
    link->SetIB_Connection(conn);
    log.clear();
  }
  ~ConnectionRig() { ClientLibraryNameHook = nullptr; }
  TIB_Session& Session() { return *conn->IB_Session(); }
};

// The text of a CHAR or VARCHAR output column, trailing blanks removed.
inline std::string ColumnText(XSQLVAR& v) {
  std::string s;
  if ((v.sqltype & ~1) == SQL_VARYING) {
    const auto len = *reinterpret_cast<const uint16_t*>(v.sqldata);
    s.assign(v.sqldata + 2, len);
  } else {
    s.assign(v.sqldata, static_cast<size_t>(v.sqllen));
  }
  while (!s.empty() && s.back() == ' ') s.pop_back();
  return s;
}

// One row of one text or integer column, read through the connection's own attachment.
inline std::string QueryOne(TIB_Connection& conn, const std::string& sql) {
  TIB_Session& session = *conn.IB_Session();
  isc_tr_handle tr = StartTransaction(session, *conn.GetDbHandlePtr());
  std::string result = "<no row>";
  {
    TestStatement st(session, *conn.GetDbHandlePtr(), tr, sql);
    st.Execute();
    if (st.Fetch()) {
      XSQLVAR& v = st.Column(0);
      if ((v.sqltype & ~1) == SQL_LONG) {
        result = std::to_string(st.Int(0));
      } else if ((v.sqltype & ~1) == SQL_INT64) {
        result = std::to_string(*reinterpret_cast<const int64_t*>(v.sqldata));
      } else {
        result = ColumnText(v);
      }
    }
  }
  CallClient(ClientCallTable.isc_commit_transaction, session.StatusVector(), &tr);
  return result;
}

inline const std::vector<std::string> kConnectLog = {
    "BeforeConnect-", "cet7", "cet4", "cet8", "ConnectedChanged+", "AfterConnect+"};
inline const std::vector<std::string> kDisconnectLog = {
    "BeforeDisconnect+", "cet9", "cet4", "cet10", "ConnectedChanged-", "AfterDisconnect-"};

// Open and Close with SYSDBA, WIN1250 and dialect 3.
inline void CheckOpenAndClose(FbTestDb::Mode mode) {
  auto fb = FbTestDb::Create(mode);
  ConnectionRig rig(fb->ConnectString());
  TIB_Connection& conn = *rig.conn;
  EXPECT_EQ(conn.Status(), cstDisconnected);

  conn.Open();
  ASSERT_TRUE(conn.GetConnected());
  EXPECT_EQ(conn.Status(), cstConnected);
  EXPECT_EQ(rig.log, kConnectLog);
  EXPECT_TRUE(rig.link->GetConnected());
  EXPECT_EQ(QueryOne(conn,
                     "select c.rdb$character_set_name from mon$attachments a"
                     " join rdb$character_sets c on c.rdb$character_set_id = a.mon$character_set_id"
                     " where a.mon$attachment_id = current_connection"),
            "WIN1250");
  // While connected the server's values are reported, and Params stays untouched.
  EXPECT_EQ(conn.SQLDialect(), 3);
  EXPECT_EQ(conn.PageSize(), 8192);
  EXPECT_EQ(conn.Params()->Values("PAGE SIZE"), "");
  EXPECT_EQ(conn.AttachDatabase(), CZ(fb->ConnectString()));
  EXPECT_EQ(conn.AttachUsername(), kSysdbaUser);
  // While attached the connection is served by the session timer (when there is one).
  EXPECT_TRUE(conn.WantsSessionTimer());

  // Open on an open connection only tells the links.
  rig.log.clear();
  conn.Open();
  EXPECT_EQ(rig.log, std::vector<std::string>{"cet4"});

  // Parameters cannot change under an attachment.
  try {
    conn.SetCharSet("UTF8");
    ADD_FAILURE() << "changed while connected";
  } catch (const EIB_ConnectionError& e) {
    EXPECT_EQ(e.Message(), CZ("Nemohu změnit během připojení"));
  }
  EXPECT_EQ(conn.CharSet(), "WIN1250");

  rig.log.clear();
  conn.Close();
  EXPECT_FALSE(conn.GetConnected());
  EXPECT_EQ(conn.Status(), cstDisconnected);
  EXPECT_EQ(rig.log, kDisconnectLog);
  EXPECT_FALSE(conn.WantsSessionTimer());
  rig.log.clear();
  conn.Close();
  EXPECT_EQ(rig.log, std::vector<std::string>{"cet4"});
}

// A detach that the server refuses because a transaction is still open: Firebird 3
// shuts the attachment (the transaction is gone), so the connection ends disconnected,
// with all its events, and the refusal is reported rather than dropped.
inline void CheckRefusedDetachIsReported(FbTestDb::Mode mode) {
  auto fb = FbTestDb::Create(mode);
  fb->RunSql("create table T (N integer);\ncommit;\n");
  ConnectionRig rig(fb->ConnectString());
  TIB_Connection& conn = *rig.conn;
  conn.Open();
  ASSERT_TRUE(conn.GetConnected());
  TIB_Session& session = rig.Session();
  isc_tr_handle tr = StartTransaction(session, *conn.GetDbHandlePtr());
  ExecuteImmediate(session, *conn.GetDbHandlePtr(), tr, "insert into T values (7)");
  rig.log.clear();
  try {
    conn.Close();
    ADD_FAILURE() << "the refused detach was not reported";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.ERRCODE(), 335544357);  // open transactions
    EXPECT_EQ(e.Sender(), &conn);
  }
  EXPECT_FALSE(conn.GetConnected());
  EXPECT_EQ(conn.Status(), cstDisconnected);
  EXPECT_EQ(rig.log, kDisconnectLog);
  // The transaction went with the attachment.
  EXPECT_NE(CallClient(ClientCallTable.isc_commit_transaction, session.StatusVector(), &tr), 0);
  CallClient(ClientCallTable.isc_rollback_transaction, session.StatusVector(), &tr);
  conn.Open();
  EXPECT_EQ(QueryOne(conn, "select count(*) from T"), "0");
  conn.Close();
}

// CreateDatabase makes the file (its name UTF-8 on the disk) and leaves the connection
// attached; DropDatabase removes it.
inline void CheckCreateAndDrop(FbTestDb::Mode mode) {
  TempDir dir("pelvar-conn");
  std::filesystem::permissions(dir.Path(), std::filesystem::perms::all,
                               std::filesystem::perm_options::add);
  const std::string file = dir.File("Hlavní žluť.fdb");
  const std::string prefix = mode == FbTestDb::Mode::Server ? "localhost:" : "";
  ConnectionRig rig(prefix + file);
  TIB_Connection& conn = *rig.conn;
  conn.SetPageSize(8192);

  conn.CreateDatabase();
  ASSERT_TRUE(conn.GetConnected());
  EXPECT_EQ(conn.Status(), cstConnected);
  EXPECT_TRUE(std::filesystem::exists(file));
  EXPECT_EQ(rig.log, (std::vector<std::string>{"BeforeConnect-", "cet7", "BeforeCreateDatabase-",
                                               "cet5", "cet6", "AfterCreateDatabase+", "cet4",
                                               "cet8", "ConnectedChanged+", "AfterConnect+"}));
  EXPECT_EQ(conn.PageSize(), 8192);
  EXPECT_EQ(QueryOne(conn, "select rdb$character_set_name from rdb$database"), "WIN1250");
  try {
    conn.CreateDatabase();
    ADD_FAILURE() << "created while connected";
  } catch (const EIB_ConnectionError& e) {
    EXPECT_EQ(e.Message(), CZ("Spojení již bylo navázáno"));
  }

  // Attaching again by the Windows-1250 name finds the same file.
  conn.Close();
  conn.Open();
  ASSERT_TRUE(conn.GetConnected());

  rig.log.clear();
  conn.DropDatabase();
  EXPECT_FALSE(conn.GetConnected());
  EXPECT_EQ(conn.Status(), cstDisconnected);
  EXPECT_FALSE(std::filesystem::exists(file));
  EXPECT_EQ(rig.log, (std::vector<std::string>{"BeforeDisconnect+", "cet9", "BeforeDropDatabase+",
                                               "cet11", "cet4", "cet10", "ConnectedChanged-",
                                               "AfterDisconnect-", "cet12", "AfterDropDatabase-"}));
  try {
    conn.DropDatabase();
    ADD_FAILURE() << "dropped while not connected";
  } catch (const EIB_ConnectionError& e) {
    EXPECT_EQ(e.Message(), CZ("Spojení nebylo navázáno"));
  }
}

}  // namespace pelvar::test
