// The practice database for the adapter tests: the schema (with a few adapter test
// tables beside it) is made once per test binary and each test works on its own copy.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "dbadapters/REZDatabase.h"
#include "dbclient/ClientLibraryName.h"
#include "platform/codepage.h"
#include "support/firebird.h"
#include "support/practice.h"

namespace pelvar::test {

// Tables the practice schema lacks: the column types the adapters must also carry, a
// table without a primary key, a table with a server default and a trigger that raises a
// user exception.
inline const char* kAdapterExtras =
    "create table ADAPTER_TYPES (ID integer not null primary key,\n"
    "  V255 varchar(255), V300 varchar(300), N182 numeric(18,2), N152 numeric(15,2),\n"
    "  N94 numeric(9,4), S smallint, B bigint, F float, C10 char(10), TS timestamp,\n"
    "  D date, T time, M blob sub_type text, BIN blob sub_type binary, BOOL boolean);\n"
    "create table ADAPTER_DEFAULTS (ID integer not null primary key,\n"
    "  NAZEV varchar(20) default 'výchozí', POCET integer default 5);\n"
    "create table ADAPTER_NOPK (A integer, B varchar(10));\n"
    "create exception E_ADAPTER 'Záznam nelze uložit';\n"
    "commit;\n"
    "set term ^;\n"
    "create trigger ADAPTER_DEFAULTS_BI for ADAPTER_DEFAULTS before insert as\n"
    "begin\n"
    "  if (new.ID < 0) then exception E_ADAPTER 'Záporný klíč není dovolen';\n"
    "end^\n"
    "create procedure ADAPTER_SUM (A integer, B integer) returns (S integer, T varchar(10)) as\n"
    "begin\n"
    "  S = A + B;\n"
    "  T = 'součet';\n"
    "end^\n"
    "set term ;^\n"
    "commit;\n";

// The copy one test works on; the directory goes with it.
struct PracticeCopy {
  std::unique_ptr<TempDir> dir = std::make_unique<TempDir>("pelvar-adapters");
  std::string path;
};

inline PracticeCopy CopyPracticeDb() {
  static std::unique_ptr<FbTestDb> master = [] {
    auto db = PracticeSchemaDb("adapters.fdb");
    db->RunSql(kAdapterExtras);
    return db;
  }();
  PracticeCopy copy;
  copy.path = copy.dir->File("practice.fdb");
  std::filesystem::copy_file(master->Path(), copy.path);
  return copy;
}

// A connection as the data module opens its databases (WIN1250, dialect 3, SYSDBA) and
// a transaction on it, owned by a form.
struct AdapterDb {
  PracticeCopy copy = CopyPracticeDb();
  TComponent form{nullptr};
  TREZDatabase* db = nullptr;
  TREZTransaction* tr = nullptr;

  AdapterDb() {
    InstallClientLibraryNameProvider();
    db = new TREZDatabase(&form);
    db->SetName("Dst");
    db->Params()->Clear();
    db->SetDatabaseName(CZ(copy.path));
    db->SetUsername(kSysdbaUser);
    db->SetPassword(kSysdbaPassword);
    db->SetCharSet("WIN1250");
    db->SetSQLDialect(3);
    db->SetLoginPrompt(false);
    db->Open();
    tr = new TREZTransaction(&form);
    tr->SetName("REZTransactionDst");
    tr->SetIB_Connection(db);
    tr->SetIsolation(tiCommitted);
  }
  ~AdapterDb() {
    while (form.ComponentCount() > 0) delete form.Components(form.ComponentCount() - 1);
    ClientLibraryNameHook = nullptr;
  }
  // The single value of column V of a query, read by isql-fb once the connection is
  // closed (the embedded engine holds the file while it is open).
  std::string Seen(const std::string& sql) {
    if (db->Connected()) db->Close();
    return QueryOne(copy.path, sql + ";");
  }
};

}  // namespace pelvar::test
