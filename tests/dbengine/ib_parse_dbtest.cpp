// The SQL the toolkit generates, checked against a real Firebird database: isql-fb prepares
// each statement (SET PLANONLY) and describes its input and output messages, so a statement
// that the server would not accept, or with the wrong number of inputs, fails here.
#include <gtest/gtest.h>

#include <regex>

#include "dbengine/IB_Parse.h"
#include "support/firebird.h"

namespace pelvar {
namespace {

using test::FbTestDb;

class IBParseDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    db_ = FbTestDb::Create(FbTestDb::Mode::Embedded).release();
    db_->RunSql(
        "create table CUSTOMER (ID_CUSTOMER integer not null primary key, NAME varchar(40),\n"
        "  CITY varchar(30), BALANCE numeric(15,2), BORN date);\n"
        "create table ORDERS (ID_ORDERS integer not null primary key, ID_CUSTOMER integer,\n"
        "  TOTAL numeric(15,2), NOTE varchar(100));\n"
        "create table TYPES (C1 numeric(15,2), C2 varchar(40) not null, C3 date, C4 decimal(9,3),\n"
        "  C5 smallint, C6 double precision, C7 timestamp, C8 time, C9 char(10), C10 float,\n"
        "  C11 integer, C12 numeric(4,1), C13 blob sub_type 0);\n"
        "set term ^;\n"
        "create procedure ORDERS_OF (C integer) returns (ID integer, TOTAL numeric(15,2)) as\n"
        "begin for select ID_ORDERS, TOTAL from ORDERS where ID_CUSTOMER = :C into :ID, :TOTAL do\n"
        "suspend; end^\n"
        "set term ;^\n"
        "commit;\n");
  }
  static void TearDownTestSuite() {
    delete db_;
    db_ = nullptr;
  }

  // Prepares the statement and returns isql's description of it.
  static std::string Describe(const std::string& sql) {
    try {
      // A terminator of its own, so that PSQL bodies pass whole.
      return db_->RunSql("set planonly on;\nset sqlda_display on;\nset term ^;\n" + sql + "^\n", "WIN1250");
    } catch (const std::exception& e) {
      ADD_FAILURE() << "the server did not prepare:\n" << sql << "\n" << e.what();
      return {};
    }
  }
  static AnsiString ToServer(const AnsiString& sql) {
    AnsiString server;
    int32_t cc = 0;
    ParseSQLParams(sql, static_cast<std::vector<AnsiString>*>(nullptr), nullptr, server, ':', false, cc, false);
    return server;
  }
  static int InputCount(const std::string& description) {
    std::smatch m;
    if (std::regex_search(description, m, std::regex("INPUT message field count: (\\d+)"))) return std::stoi(m[1]);
    return description.empty() ? -1 : 0;
  }

  static FbTestDb* db_;
};

FbTestDb* IBParseDb::db_ = nullptr;

TEST_F(IBParseDb, ServerSqlWithNamedAndUnnamedParameters) {
  std::vector<AnsiString> names;
  AnsiString server;
  int32_t cc = 0;
  ParseSQLParams("SELECT NAME FROM CUSTOMER WHERE ID_CUSTOMER = :B AND CITY = ?", &names, nullptr, server,
                 ':', false, cc, false);
  EXPECT_EQ(names, (std::vector<AnsiString>{"B", "PRM_1"}));
  EXPECT_EQ(InputCount(Describe(server)), 2);

  // Comments kept (line comments turned into block comments), parameters in the select
  // list moved last, EXECUTE BLOCK headers.
  ParseSQLParams("SELECT CAST(:P AS INTEGER) AS X, NAME -- the name\nFROM CUSTOMER // all of them\nWHERE CITY = :CITY", &names,
                 nullptr, server, ':', true, cc, true);
  EXPECT_EQ(names, (std::vector<AnsiString>{"CITY", "P"}));
  EXPECT_EQ(InputCount(Describe(server)), 2);

  ParseSQLParams("EXECUTE BLOCK (X INTEGER = :X) RETURNS (Y INTEGER) AS\nBEGIN\n  Y = :X + 1;\n  SUSPEND;\nEND",
                 &names, nullptr, server, ':', false, cc, false);
  EXPECT_EQ(InputCount(Describe(server)), 1);
}

TEST_F(IBParseDb, CountStatementsPrepare) {
  for (const char* sql : {
           "SELECT ID_CUSTOMER, NAME FROM CUSTOMER WHERE BALANCE > 1 PLAN (CUSTOMER NATURAL) ORDER BY NAME",
           "SELECT DISTINCT NAME, COALESCE(CITY, 'x') FROM CUSTOMER",
           "SELECT DISTINCT CITY FROM CUSTOMER",
           "SELECT C.NAME, O.TOTAL FROM CUSTOMER C JOIN ORDERS O ON O.ID_CUSTOMER = C.ID_CUSTOMER "
           "WHERE O.NOTE = 'DISTINCT, UNION' ORDER BY 2",
           "SELECT NAME FROM CUSTOMER UNION SELECT NOTE FROM ORDERS",
           "SELECT ID_CUSTOMER FROM CUSTOMER WHERE CITY = :CITY FOR UPDATE",
           "SELECT FIRST 5 * FROM CUSTOMER ROWS 3",
       }) {
    const AnsiString server = ToServer(MakeCountSQL(sql));
    const std::string d = Describe(server);
    EXPECT_NE(d.find("OUTPUT message field count: 1"), std::string::npos) << server;
  }
}

TEST_F(IBParseDb, KeyLookupStatementsPrepare) {
  struct Case {
    const char* sql;
    const char* select;
    std::vector<AnsiString> keys;
    int from_params;
    int inputs;
  } cases[] = {
      {"SELECT * FROM CUSTOMER WHERE CITY = 'Brno' OR BALANCE > 0 ORDER BY NAME", "SELECT CUSTOMER.*",
       {"ID_CUSTOMER"}, 0, 1},
      {"SELECT C.NAME, O.TOTAL FROM CUSTOMER C JOIN ORDERS O ON O.ID_CUSTOMER = C.ID_CUSTOMER",
       "SELECT C.NAME, O.TOTAL", {"C.ID_CUSTOMER=", "O.ID_ORDERS=X"}, 0, 2},
      {"SELECT P.ID, P.TOTAL FROM ORDERS_OF(?) P -- procedure\nWHERE P.TOTAL > ?", "SELECT P.ID", {"P.ID"}, 1, 3},
  };
  for (const Case& c : cases) {
    int32_t select_params = -1;
    AnsiString stmt;
    const int32_t from_params = MakeKeyLookupSQL(c.sql, c.select, c.keys, select_params, stmt);
    EXPECT_EQ(from_params, c.from_params) << c.sql;
    EXPECT_EQ(select_params, 0) << c.sql;
    AnsiString server;
    MakeServerSQL(stmt, server);
    EXPECT_EQ(InputCount(Describe(server)), c.inputs) << stmt;
  }
}

TEST_F(IBParseDb, RewrittenWhereClausesPrepare) {
  AnsiString sql = "SELECT NAME FROM CUSTOMER WHERE CITY = 'A' OR CITY = 'B' -- either\nORDER BY NAME";
  AnsiString where = GetWhereClause(sql);
  AddWhereCondition(where, "BALANCE > ?");
  SetWhereClause(sql, where);
  AnsiString server;
  MakeServerSQL(sql, server);
  EXPECT_EQ(InputCount(Describe(server)), 1) << sql;

  sql = "SELECT NAME FROM CUSTOMER ROWS 2";
  SetWhereClause(sql, "WHERE ID_CUSTOMER > 0");
  EXPECT_EQ(InputCount(Describe(sql)), 0) << sql;
}

TEST_F(IBParseDb, ColumnDefinitionsMatchTheServersDescription) {
  // Each definition text against the server's description of a column declared the same way.
  struct Case {
    const char* column;
    const char* def;
  } cases[] = {
      {"C1", "TOTAL=NUMERIC(15,2)"}, {"C2", "X=VARCHAR(40) NOT NULL"}, {"C3", "X=DATE"},
      {"C4", "X=DECIMAL(9,3)"},      {"C5", "X=SMALLINT"},            {"C6", "X=DOUBLE PRECISION"},
      {"C7", "X=TIMESTAMP"},         {"C8", "X=TIME"},                {"C9", "X=CHAR(10)"},
      {"C10", "X=FLOAT"},            {"C11", "X=INTEGER"},            {"C12", "X=NUMERIC(4,1)"},
      {"C13", "X=BLOB"},
  };
  for (const Case& c : cases) {
    const std::string d = Describe(std::string("SELECT ") + c.column + " FROM TYPES");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        d, m, std::regex("OUTPUT message field count: 1\\s+01: sqltype: (\\d+) [A-Z0-9 ]*?(Nullable )?scale: (-?\\d+) .*len: (\\d+)")))
        << d;
    TIB_XSQLVARDef v;
    ParseXSQLVARDef(c.def, 3, v);
    // isql shows the type without its null bit and says "Nullable" instead.
    EXPECT_EQ(v.sqltype, std::stoi(m[1]) + (m[2].matched ? 1 : 0)) << c.def;
    EXPECT_EQ(v.sqlscale, std::stoi(m[3])) << c.def;
    // Character lengths are in bytes of the connection's character set, WIN1250 here.
    EXPECT_EQ(v.sqllen, std::stoi(m[4])) << c.def;
  }
}

}  // namespace
}  // namespace pelvar
