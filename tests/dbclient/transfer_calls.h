// Raw statement work for the transfer tests: a statement with one parameter, a
// prepared statement that fetches one row into buffers of its own, and the CREATE
// DATABASE checks shared by the embedded and the server tests.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "client_calls.h"
#include "dbclient/IB_Components.h"
#include "dbclient/IB_Utils.h"

namespace pelvar::test {

// An XSQLDA buffer of n entries, zero-filled, version 1, sqln set.
class TestDA {
 public:
  explicit TestDA(int16_t n) : bytes_(static_cast<size_t>(XSQLDA_LENGTH(n)), 0) {
    da()->version = SQLDA_VERSION1;
    da()->sqln = n;
  }
  XSQLDA* da() { return reinterpret_cast<XSQLDA*>(bytes_.data()); }
  XSQLVAR& var(int i) { return da()->sqlvar[i]; }

 private:
  std::vector<char> bytes_;
};

// Executes sql with one blob or array id as its parameter.
inline void ExecuteWithId(TIB_SessionBase& session, isc_db_handle& db, isc_tr_handle& tr,
                          const std::string& sql, int16_t sqltype, ISC_QUAD id) {
  TestDA in(1);
  in.da()->sqld = 1;
  short ind = 0;
  in.var(0).sqltype = static_cast<int16_t>(sqltype | 1);
  in.var(0).sqllen = sizeof(ISC_QUAD);
  in.var(0).sqldata = reinterpret_cast<char*>(&id);
  in.var(0).sqlind = &ind;
  session.API_Call(&session, ClientCallTable.isc_dsql_execute_immediate, &db, &tr,
                   static_cast<unsigned short>(0), sql.c_str(),
                   static_cast<unsigned short>(SQL_DIALECT_V6), in.da());
}

// A prepared statement; Fetch fills the described output columns.
class TestStatement {
 public:
  TestStatement(TIB_SessionBase& session, isc_db_handle& db, isc_tr_handle& tr,
                const std::string& sql)
      : session_(session), tr_(tr), out_(10) {
    session_.API_Call(&session_, ClientCallTable.isc_dsql_allocate_statement, &db, &stmt_);
    session_.API_Call(&session_, ClientCallTable.isc_dsql_prepare, &tr_, &stmt_,
                      static_cast<unsigned short>(0), sql.c_str(),
                      static_cast<unsigned short>(SQL_DIALECT_V6), out_.da());
    EXPECT_LE(out_.da()->sqld, out_.da()->sqln);
    data_.resize(static_cast<size_t>(out_.da()->sqld));
    inds_.resize(data_.size());
    for (size_t i = 0; i < data_.size(); ++i) {
      XSQLVAR& v = out_.var(static_cast<int>(i));
      data_[i].assign(static_cast<size_t>(v.sqllen) + 2, 0);
      v.sqldata = data_[i].data();
      v.sqlind = &inds_[i];
    }
  }
  ~TestStatement() {
    CallClient(ClientCallTable.isc_dsql_free_statement, session_.StatusVector(), &stmt_,
               static_cast<unsigned short>(DSQL_drop));
  }
  void Execute() {
    session_.API_Call(&session_, ClientCallTable.isc_dsql_execute, &tr_, &stmt_,
                      static_cast<unsigned short>(SQL_DIALECT_V6),
                      static_cast<const XSQLDA*>(nullptr));
  }
  // True when a row came.
  bool Fetch() {
    const ISC_STATUS r = CallClient(ClientCallTable.isc_dsql_fetch, session_.StatusVector(),
                                    &stmt_, static_cast<unsigned short>(SQL_DIALECT_V6), out_.da());
    EXPECT_TRUE(r == 0 || r == 100) << r;
    return r == 0;
  }
  XSQLVAR& Column(int i) { return out_.var(i); }
  ISC_QUAD Id(int i) { return *reinterpret_cast<ISC_QUAD*>(Column(i).sqldata); }
  int32_t Int(int i) { return *reinterpret_cast<int32_t*>(Column(i).sqldata); }
  isc_stmt_handle* Handle() { return &stmt_; }

 private:
  TIB_SessionBase& session_;
  isc_tr_handle& tr_;
  isc_stmt_handle stmt_ = 0;
  TestDA out_;
  std::vector<std::vector<char>> data_;
  std::vector<short> inds_;
};

inline void Commit(TIB_SessionBase& session, isc_tr_handle& tr) {
  session.API_Call(&session, ClientCallTable.isc_commit_transaction, &tr);
}

// What isql reports about a database: "<page size> <character set>".
inline std::string PageSizeAndCharset(const std::string& connect) {
  const CommandResult r = RunIsql(
      "set list on;\n"
      "select mon$page_size as PS from mon$database;\n"
      "select rdb$character_set_name as CS from rdb$database;\n",
      connect, {});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  std::smatch page, charset;
  std::regex_search(r.output, page, std::regex(R"((?:^|\n)PS +(\d+))"));
  std::regex_search(r.output, charset, std::regex(R"((?:^|\n)CS +(\S+))"));
  return (page.size() > 1 ? page[1].str() : "?") + " " +
         (charset.size() > 1 ? charset[1].str() : "?");
}

inline void DropDatabase(const std::string& connect) {
  const CommandResult r = RunIsql("drop database;\n", connect, {});
  EXPECT_EQ(r.exit_code, 0) << r.output;
}

// CREATE DATABASE through the session in dir: a name with an apostrophe and Czech
// letters, WIN1250, page size 8192, dialect 3. prefix is "" or "localhost:".
inline void CheckCreateDatabase(const std::string& prefix, const std::string& dir,
                                const std::string& user, const std::string& password) {
  InstallClientLibraryNameProvider();
  TIB_Session session(nullptr);
  const std::string file = dir + "/žluť it's.fdb";
  session.CreateDatabase(CZ(prefix + file), user, password, 8192, "WIN1250", 3);
  EXPECT_TRUE(std::filesystem::exists(file)) << "the file name is UTF-8 on the disk";
  EXPECT_EQ(PageSizeAndCharset(prefix + file), "8192 WIN1250");

  // The database exists now: a second creation fails through the error handling.
  try {
    session.CreateDatabase(CZ(prefix + file), user, password, 8192, "WIN1250", 3);
    ADD_FAILURE() << "creating an existing database succeeded";
  } catch (const EIB_ISCError& e) {
    EXPECT_EQ(e.Sender(), &session);
    EXPECT_NE(session.LastResult(), 0);
  }
  DropDatabase(prefix + file);
  ClientLibraryNameHook = nullptr;
}

}  // namespace pelvar::test
