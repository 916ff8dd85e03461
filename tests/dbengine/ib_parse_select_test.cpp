// SELECT analysis and rewriting: relation aliases, FIRST/SKIP, FOR UPDATE OF, count and
// key look-up statements, added WHERE conditions.
#include <gtest/gtest.h>

#include "dbengine/IB_Parse.h"
#include "platform/classes.h"

namespace pelvar {
namespace {

using V = std::vector<AnsiString>;

TEST(IBParseSelect, RelationAliases) {
  struct Case {
    const char* sql;
    V lines;
  } cases[] = {
      {"SELECT * FROM A, B C", {"A=A", "C=B"}},
      {"SELECT * FROM customer c,orders o", {"C=CUSTOMER", "O=ORDERS"}},
      {"SELECT * FROM CUSTOMER C,ORDERS O WHERE 1=1", {"C=CUSTOMER", "O=ORDERS"}},
      {"SELECT * FROM \"Mixed\" m", {"M=\"Mixed\""}},
      {"SELECT * FROM CUSTOMER AS C JOIN ORDERS as O ON O.ID = C.ID", {"C=CUSTOMER", "O=ORDERS"}},
      {"SELECT * FROM T \"q\"", {"\"q\"=T"}},
      {"SELECT * FROM A LEFT OUTER JOIN B ON A.X = B.X AND B.Y = 'JOIN x' JOIN C ON (C.Z=A.Z) WHERE 1=1",
       {"A=A", "B=B", "C=C"}},
      {"SELECT * FROM A /* , Z */ INNER JOIN B BB ON A.X=BB.X", {"A=A", "BB=B"}},
      {"SELECT * FROM PROC('a)', (1+2)) P WHERE X=1", {"P=PROC"}},
      {"SELECT * FROM proc(1)", {"PROC=PROC"}},
      {"SELECT * FROM (SELECT A FROM T) D", {"D=(SELECT A FROM T) "}},
      {"SELECT * FROM (SELECT A FROM T)", {}},
      {"SELECT 1", {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseRelationAliases(c.sql), c.lines) << c.sql;
  }
  TStringList list;
  list.Add("stale");
  ParseRelationAliases("SELECT * FROM T X", &list);
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.Values("X"), "T");
}

TEST(IBParseSelect, SkipBlanksAndReadWord) {
  int32_t pos = 1;
  SkipSQLBlanks("  /* c */ -- d\n  X", pos, 0, false, false, false, false);
  EXPECT_EQ(pos, 18);
  pos = 1;
  SkipSQLBlanks(" (a b) 'x' \"y\" Z", pos, 0, false, false, false, false);
  EXPECT_EQ(pos, 2);
  pos = 1;
  SkipSQLBlanks(" (a b) 'x' \"y\" Z", pos, 0, true, false, true, true);
  EXPECT_EQ(pos, 16);
  pos = 1;
  SkipSQLBlanks(" (a b) 'x' Z", pos, 0, true, false, false, false);
  EXPECT_EQ(pos, 8);

  AnsiString w;
  pos = 1;
  ReadSQLWord("\"a b\".'c d'x,y", pos, 0, w);
  EXPECT_EQ(w, "\"a b\".'c d'x");
  EXPECT_EQ(pos, 13);
  pos = 1;
  ReadSQLWord("abc/*x*/", pos, 0, w);
  EXPECT_EQ(w, "abc");
  pos = 9;
  ReadSQLWord("abc", pos, 0, w);
  EXPECT_EQ(w, "");
}

TEST(IBParseSelect, ValueExpressions) {
  struct Case {
    const char* text;
    bool give_back;
    const char* value;
    int32_t start;
    int32_t end;
  } cases[] = {
      {" 10 DISTINCT A", true, " 10 ", 1, 5},
      {" :N A", true, " :N ", 1, 5},
      {" (:N + 1) * 2 A", true, " (:N + 1) * 2 ", 1, 15},
      {" 10 * ", true, " 10 ", 1, 5},
      {" 10 * ", false, " 10 * ", 1, 7},
      {" ? , X", true, " ? ", 1, 4},
      {" X", true, "", 0, 0},
      {" 'a' B", true, "", 0, 0},
  };
  for (const Case& c : cases) {
    int32_t s = 1, e = 0;
    AnsiString v;
    ReadValueExpr(c.text, s, e, v, c.give_back);
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(s, c.start) << c.text;
    EXPECT_EQ(e, c.end) << c.text;
  }
}

TEST(IBParseSelect, FirstSkip) {
  EXPECT_EQ(GetFirstSkip("SELECT FIRST 10 * FROM T"), "FIRST 10 ");
  EXPECT_EQ(GetFirstSkip("select first 10 skip 5 a from t"), "FIRST 10 SKIP 5 ");
  EXPECT_EQ(GetFirstSkip("SELECT SKIP (:S) A FROM T"), "SKIP (:S) ");
  EXPECT_EQ(GetFirstSkip("SELECT A FROM T"), "");
  EXPECT_EQ(GetFirstSkip("SELECT FIRSTNAME FROM T"), "");
}

TEST(IBParseSelect, ForUpdateColumns) {
  TStringList list;
  list.Add("stale");
  GetForUpdateColumns("SELECT A FROM T /* c */ FOR UPDATE OF A, \"My Col\" ,B WITH LOCK", &list);
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.Get(0), "A");
  EXPECT_EQ(list.Get(1), "My Col");
  EXPECT_EQ(list.Get(2), "B");
  GetForUpdateColumns("SELECT A FROM T FOR UPDATE", &list);
  EXPECT_EQ(list.Count(), 0);
  GetForUpdateColumns("SELECT A FROM T", nullptr);
}

TEST(IBParseSelect, CountSQL) {
  struct Case {
    const char* sql;
    const char* count;
  } cases[] = {
      {"SELECT A, B FROM T WHERE X = 1 PLAN (T NATURAL) ORDER BY A FOR UPDATE",
       "SELECT COUNT( * )\r\nFROM T WHERE X = 1"},
      {"SELECT A FROM T UNION SELECT B FROM U", "SELECT COUNT( * )\r\nFROM T"},
      {"SELECT DISTINCT A, COALESCE(B, 0) FROM T",
       "SELECT COUNT( DISTINCT '.zZz.' || A || '.zZz.' || COALESCE(B, 0) )\r\nFROM T"},
      {"SELECT A FROM UNION_LOG WHERE NOTE = 'DISTINCT, UNION'",
       "SELECT COUNT( * )\r\nFROM UNION_LOG WHERE NOTE = 'DISTINCT, UNION'"},
  };
  for (const Case& c : cases) EXPECT_EQ(MakeCountSQL(c.sql), c.count) << c.sql;
}

TEST(IBParseSelect, KeyLookupSQL) {
  int32_t select_params = -1;
  AnsiString stmt;
  const int32_t from_params = MakeKeyLookupSQL(
      "SELECT A, ? AS X FROM PROC(?) P WHERE B = 1 OR C = 2 ORDER BY A", "SELECT A, B",
      V{"ID", "\"Na=me\"=X"}, select_params, stmt);
  EXPECT_EQ(from_params, 1);
  EXPECT_EQ(select_params, 1);
  EXPECT_EQ(stmt,
            "SELECT A, B\r\nFROM PROC(?) P\r\nWHERE ( ID=?\r\n  AND \"Na=me\"=? ) \r\n  AND  ( B = 1 OR C = 2\r\n)\r\n");

  TStringList keys;
  keys.Add("ID");
  MakeKeyLookupSQL("SELECT * FROM T", "SELECT *", &keys, select_params, stmt);
  EXPECT_EQ(stmt, "SELECT *\r\nFROM T\r\nWHERE ID=?\r\n");
  EXPECT_EQ(select_params, 0);
}

TEST(IBParseSelect, WhereConditions) {
  struct Case {
    const char* where;
    const char* cond;
    const char* added;
    const char* prepended;
  } cases[] = {
      {"", "A=1", "WHERE A=1", "WHERE A=1"},
      {"WHERE X=1", "A=1", "WHERE X=1\r\n  AND A=1", "WHERE A=1\r\n  AND X=1"},
      {"WHERE X=1 OR Y=2", "A=1", " WHERE (\r\n      X=1 OR Y=2\r\n      )\r\n  AND A=1",
       "WHERE ( A=1 ) \r\n  AND  ( X=1 OR Y=2\r\n)"},
      {"WHERE X=1 -- note", "A=1", " WHERE (\r\n      X=1 -- note\r\n      )\r\n  AND A=1",
       "WHERE ( A=1 ) \r\n  AND  ( X=1 -- note\r\n)"},
      {"WHERE ORDER_NO=1", "A=1", " WHERE (\r\n      ORDER_NO=1\r\n      )\r\n  AND A=1",
       "WHERE ( A=1 ) \r\n  AND  ( ORDER_NO=1\r\n)"},
      {" WHERE X=1 ", "  ", " WHERE X=1 ", " WHERE X=1 "},
  };
  for (const Case& c : cases) {
    AnsiString w = c.where;
    AddWhereCondition(w, c.cond);
    EXPECT_EQ(w, c.added) << c.where;
    w = c.where;
    PrependWhereCondition(w, c.cond);
    EXPECT_EQ(w, c.prepended) << c.where;
  }
}

}  // namespace
}  // namespace pelvar
