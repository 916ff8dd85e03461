// The schema cache and the schema queries against real Firebird 3 (embedded): the lists
// read from the system tables (keys, defaults, computed columns, index definitions,
// quoted names), the single look-ups, the generator read, and the cache files with their
// version table, damaged files and a Czech-named folder. One small database serves the
// suite; tests that change its schema do it on a copy.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "connection_calls.h"
#include "dbclient/IB_Schema.h"
#include "dbclient/IB_SchemaCache.h"
#include "dbengine/IB_Components_dataset.h"
#include "platform/sysutils.h"

namespace pelvar::test {
namespace {

const char* const kSchema =
    "create domain D_NAME varchar(40) default 'abc';\n"
    "create table T (A integer, B integer);\n"
    "create unique descending index IX on T (A, B);\n"
    "create table K2 (A integer not null, B integer not null, NAME D_NAME,\n"
    "  F float default 1.5, V varchar(10) default 'x', W varchar(10) default NULL,\n"
    "  TWICE computed by (A * 2), constraint PK_K2 primary key (A, B));\n"
    "create table K1 (ID integer not null primary key, NAME varchar(20), DT date,\n"
    "  C1 integer, C2 integer);\n"
    "create table \"lower\" (\"id\" integer not null primary key, \"Name\" varchar(10));\n"
    "create view VW as select ID from K1;\n"
    "create generator G1;\n"
    "commit;\n";

class SchemaDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    base_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    base_->RunSql(kSchema);
  }
  static void TearDownTestSuite() {
    delete base_;
    base_ = nullptr;
  }
  void SetUp() override {
    InstallClientLibraryNameProvider();
    session_ = new TIB_Session(&form_);
  }
  void TearDown() override {
    while (form_.ComponentCount() > 0) delete form_.Components(form_.ComponentCount() - 1);
    ClientLibraryNameHook = nullptr;
  }

  // A connection to Path (the suite's database when empty), connected.
  TIB_Connection* Connect(const std::string& path = {}, const std::string& cache_dir = {}) {
    auto* c = new TIB_Connection(&form_);
    c->SetDatabaseName(CZ(path.empty() ? base_->Path() : path));
    c->SetUsername(kSysdbaUser);
    c->SetPassword(kSysdbaPassword);
    c->SetCharSet("WIN1250");
    c->SetSQLDialect(3);
    if (!cache_dir.empty()) c->SetSchemaCacheDir(CZ(cache_dir) + "\\\\");
    c->Open();
    return c;
  }

  // A private copy of the suite's database (for tests that change the schema).
  std::string Copy(const std::string& name) {
    const std::string path = dir_.File(name);
    std::filesystem::copy_file(base_->Path(), path);
    return path;
  }

  static std::string Text(TStrings* l) { return AnsiToUtf8(l->Text()); }

  static FbTestDb* base_;
  TempDir dir_{"pelvar-schema"};
  TComponent form_{nullptr};
  TIB_Session* session_ = nullptr;
};

FbTestDb* SchemaDb::base_ = nullptr;

TEST_F(SchemaDb, ListsFromTheSystemTables) {
  TIB_Connection* c = Connect();
  TIB_SchemaCache* s = c->SchemaCache();
  EXPECT_EQ(Text(s->PrimaryKeys()), "\"id\",\"lower\"\r\nA,K2\r\nB,K2\r\nID,K1\r\n");
  EXPECT_EQ(Text(s->TableKeys()), "\"lower\"=\"id\"\r\nK1=ID\r\nK2=A,B\r\n");
  EXPECT_EQ(Text(s->TableNames()), "\"lower\"\r\nK1\r\nK2\r\nT\r\n");
  EXPECT_EQ(Text(s->ViewNames()), "VW\r\n");
  EXPECT_EQ(Text(s->GeneratorNames()), "G1\r\n");
  EXPECT_EQ(Text(s->Computed()), "TWICE,K2\r\n");
  EXPECT_EQ(s->TableFields()->Values("K1"), "ID,NAME,DT,C1,C2");
  EXPECT_EQ(s->FieldDomains()->Values("K2.NAME"), "D_NAME");
  // Defaults by the domain's type: a quoted text, NULL, and a float with the locale's
  // decimal separator; a domain default reaches the column.
  TIB_StringList* d = s->Defaults();
  EXPECT_EQ(d->Values("K2.V"), "x");
  EXPECT_EQ(d->Values("K2.W"), "NULL");
  EXPECT_EQ(d->Values("K2.F"), "1,5");
  EXPECT_EQ(d->Values("K2.NAME"), "abc");
  EXPECT_EQ(s->IndexDefs()->Values("IX"), "UN;DESC;REL=T;SEGS=A,B");
  EXPECT_EQ(s->ProcedureParams()->Count(), 0);
  EXPECT_NE(s->RelationsByID()->Text().find("=T\r\n"), std::string::npos);
  EXPECT_EQ(s->DatabaseSchemaVer()->Count(), 0) << "no version table: no versions, no error";
  // With the session timer running the read transaction is left to its time-out
  // handling; without one it ends after every look-up.
  EXPECT_TRUE(s->Transaction()->GetStarted());
  session_->SetTimerInterval(0);
  s->TableNames();
  EXPECT_FALSE(s->Transaction()->GetStarted());

  TStringList keys;
  LoadPrimaryKeys(c, nullptr, SchemaByKeys, &keys);
  EXPECT_EQ(Text(&keys), "ID=K1\r\nA,B=K2\r\n\"id\"=\"lower\"\r\n");
  LoadTableNames(c, nullptr, false, false, false, &keys);
  EXPECT_EQ(keys.Count(), 0);
}

TEST_F(SchemaDb, DefaultValueRules) {
  struct Case {
    const char* source;
    int type;
    const char* value;
  } cases[] = {
      {"DEFAULT 'abc'", 37, "abc"}, {"DEFAULT abc", 37, ""},    {" \n default 'a b' ", 14, "a b"},
      {"DEFAULT NULL", 37, "NULL"}, {"DEFAULT 1.5", 10, "1,5"}, {"DEFAULT 1.5x", 10, ""},
      {"DEFAULT 0.1", 27, "0,1"},   {"DEFAULT x", 27, ""},      {"DEFAULT 'NOW'", 35, "NOW"},
      {"DEFAULT 7", 8, "7"},        {"DEFAULT 'b'", 261, ""},   {"7", 8, ""},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(SchemaDefaultValue(k.source, k.type), k.value) << k.source << " type " << k.type;
  }
}

TEST_F(SchemaDb, TableKeysAndFieldsByName) {
  TIB_Connection* c = Connect();
  TIB_SchemaCache* s = c->SchemaCache();
  TStringList keys;
  s->GetTableKeys("K2", &keys);
  EXPECT_EQ(Text(&keys), "K2.A\r\nK2.B\r\n");
  s->GetTableKeys("k1", &keys);
  EXPECT_EQ(Text(&keys), "k1.ID\r\n") << "an unquoted name is the upper-case table";
  s->GetTableKeys("\"lower\"", &keys);
  EXPECT_EQ(Text(&keys), "\"lower\".\"id\"\r\n");
  s->GetTableKeys("T", &keys);
  EXPECT_EQ(keys.Count(), 0);
  s->GetTableKeys("lower", &keys);
  EXPECT_EQ(keys.Count(), 0) << "LOWER is not the table \"lower\"";
  s->GetTableFields("\"lower\"", &keys);
  EXPECT_EQ(Text(&keys), "\"id\"\r\n\"Name\"\r\n");
  AnsiString domain;
  s->GetFieldDomain("K2", "NAME", domain);
  EXPECT_EQ(domain, "D_NAME");
  s->GetFieldDomain("K2", "NOSUCH", domain);
  EXPECT_EQ(domain, "");
}

TEST_F(SchemaDb, GeneratorValues) {
  TIB_Connection* c = Connect(Copy("gen.fdb"));
  int64_t first = 0, second = 0, third = 0;
  ASSERT_TRUE(GetGeneratorValue(c, nullptr, "G1", 1, first));
  ASSERT_TRUE(GetGeneratorValue(c, nullptr, "g1", 5, second));
  ASSERT_TRUE(GetGeneratorValue(c, nullptr, "\"G1\"", 1, third));
  EXPECT_EQ(second, first + 5);
  EXPECT_EQ(third, second + 1);
  int64_t v = 0;
  EXPECT_FALSE(GetGeneratorValue(c, nullptr, "NOSUCH", 1, v));
  EXPECT_EQ(v, -1);
  // Text that would close the identifier and the call is one (unknown) name.
  EXPECT_FALSE(GetGeneratorValue(c, nullptr, "G1, 100) FROM RDB$DATABASE --", 1, v));
  EXPECT_EQ(v, -1);
  ASSERT_TRUE(GetGeneratorValue(c, nullptr, "G1", 0, v));
  EXPECT_EQ(v, third) << "nothing stepped the generator in between";
}

TEST_F(SchemaDb, CacheFilesInACzechFolder) {
  const std::string db = Copy("main.fdb");
  const std::string cache = dir_.Path() + "/Schéma žluťoučká";
  const std::string files = cache + "/main";
  {
    TIB_Connection* c = Connect(db, cache);
    EXPECT_EQ(c->SchemaCache()->CacheDir(), CZ(cache));
    EXPECT_EQ(c->SchemaCache()->TableNames()->Count(), 4);
    c->SchemaCache()->TableKeys();
    delete c;
  }
  ASSERT_TRUE(std::filesystem::exists(files + "/TableNames.REZ"));
  ASSERT_TRUE(std::filesystem::exists(files + "/ClientSchemaVer.REZ"));
  // A table made behind the cache's back: the file is trusted (no version table), but a
  // table missing from the cached keys is asked for.
  RunIsql("create table NEWK (ID integer not null primary key);\ncommit;\n", db);
  {
    TIB_Connection* c = Connect(db, cache);
    EXPECT_EQ(c->SchemaCache()->TableNames()->IndexOf("NEWK"), -1) << "read from the file";
    TStringList keys;
    c->SchemaCache()->GetTableKeys("NEWK", &keys);
    EXPECT_EQ(Text(&keys), "NEWK.ID\r\n");
    delete c;
  }
  // A damaged file is treated as absent: read from the server and written again.
  {
    std::string text = ReadFile(files + "/TableNames.REZ");
    text.replace(0, 1, "X");
    WriteFile(files + "/TableNames.REZ", text);
    TIB_Connection* c = Connect(db, cache);
    EXPECT_NE(c->SchemaCache()->TableNames()->IndexOf("NEWK"), -1);
    delete c;
    EXPECT_NE(ReadFile(files + "/TableNames.REZ").find("NEWK\r\n"), std::string::npos);
  }
  // The version table governs the files: a raised version reloads the list and
  // rewrites its file and the client's version record.
  RunIsql(
      "create table REZ$SCHEMA_VERSION (SCHEMA_ITEM varchar(31), VERSION_NUMBER integer);\n"
      "insert into REZ$SCHEMA_VERSION values ('TableNames', 5);\n"
      "create table LATER (X integer);\ncommit;\n",
      db);
  {
    TIB_Connection* c = Connect(db, cache);
    TIB_SchemaCache* s = c->SchemaCache();
    EXPECT_EQ(s->DatabaseSchemaVer()->Values("TableNames"), "5");
    EXPECT_NE(s->TableNames()->IndexOf("LATER"), -1);
    EXPECT_EQ(s->ClientSchemaVer()->Values("TableNames"), "5");
    delete c;
  }
  EXPECT_NE(ReadFile(files + "/ClientSchemaVer.REZ").find("TableNames=5\r\n"), std::string::npos);
  RunIsql("create table LATEST (X integer);\ncommit;\n", db);
  {
    TIB_Connection* c = Connect(db, cache);
    EXPECT_EQ(c->SchemaCache()->TableNames()->IndexOf("LATEST"), -1) << "same version: the file";
    delete c;
  }
  RunIsql("update REZ$SCHEMA_VERSION set VERSION_NUMBER = 6;\ncommit;\n", db);
  {
    TIB_Connection* c = Connect(db, cache);
    EXPECT_NE(c->SchemaCache()->TableNames()->IndexOf("LATEST"), -1);
    // DDL through a statement deletes the files and reloads every list.
    TIB_DSQL ddl(nullptr);
    ddl.SetIB_Session(session_);
    ddl.SetIB_Connection(c);
    ddl.SQL()->SetText("create table BYDDL (X integer)");
    ddl.ExecSQL();
    EXPECT_FALSE(c->SchemaCache()->IsLoaded(sclTableNames));
    EXPECT_FALSE(std::filesystem::exists(files + "/TableNames.REZ"));
    ddl.SetIB_Transaction(nullptr);
    EXPECT_NE(c->SchemaCache()->TableNames()->IndexOf("BYDDL"), -1);
    delete c;
  }
}

TEST_F(SchemaDb, WithoutCacheDirListsLastUntilReconnect) {
  const std::string db = Copy("plain.fdb");
  TIB_Connection* c = Connect(db);
  EXPECT_EQ(c->SchemaCache()->TableNames()->IndexOf("AFTER"), -1);
  c->Close();
  EXPECT_EQ(c->SchemaCache()->TableNames()->Count(), 0) << "disconnected: empty";
  RunIsql("create table AFTER (X integer);\ncommit;\n", db);
  c->Open();
  EXPECT_NE(c->SchemaCache()->TableNames()->IndexOf("AFTER"), -1);
}

}  // namespace
}  // namespace pelvar::test
