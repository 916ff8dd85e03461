// Keyword and clause search, clause readers and writers.
#include <gtest/gtest.h>

#include "dbengine/IB_Parse.h"

namespace pelvar {
namespace {

struct Found {
  bool ok;
  int32_t start;
  int32_t end;
  AnsiString found;
};

Found Find(const AnsiString& sql, const AnsiString& kw, uint8_t flags, std::vector<AnsiString> terms,
           int32_t start = 1, int32_t end = 0) {
  Found f{};
  f.start = start;
  f.end = end;
  f.ok = FindSQLKeyword(sql, kw, flags, terms, f.start, f.end, f.found);
  return f;
}

TEST(IBParseClauses, FindSQLKeywordCases) {
  const std::vector<AnsiString> sel_terms = {"FROM", "WHERE", "ORDER-", "-BY", ";", ""};
  struct Case {
    const char* sql;
    const char* kw;
    uint8_t flags;
    bool ok;
    int32_t start;
    int32_t end;
    const char* found;
  } cases[] = {
      // FROM inside the parentheses of a function call is not the statement's FROM.
      {"SELECT SUBSTRING(A FROM 2) FROM T", "SELECT", 0, true, 1, 28, "FROM"},
      // Keywords in literals, quoted names and comments are never found.
      {"SELECT 'FROM' /* FROM */ -- FROM\n\"FROM\" FROM T", "SELECT", 0, true, 1, 41, "FROM"},
      // ORDER in lower case, split from BY by a line break and a comment.
      {"SELECT A FROM T where x=1 order\n/* c */ by A", "WHERE", 0, true, 17, 27, "ORDER BY"},
      // The end of the text closes the clause through the empty terminator.
      {"SELECT A", "SELECT", 0, true, 1, 9, ""},
      // A stop character before the keyword.
      {"SELECT A;", "WHERE", 0, false, 9, 9, ";"},
      // Statement's own SELECT: INSERT ... SELECT is not.
      {"INSERT INTO T SELECT A FROM U", "SELECT", kSqlKeyFirstWord, false, 1, 0, ""},
      {"INSERT INTO T SELECT A FROM U", "SELECT", 0, true, 15, 24, "FROM"},
      {"/* lead */ SELECT A FROM U", "SELECT", kSqlKeyFirstWord, true, 12, 21, "FROM"},
      // A word glued to the keyword does not match.
      {"SELECTX FROM T", "SELECT", 0, false, 1, 15, ""},
  };
  for (const Case& c : cases) {
    Found f = Find(c.sql, c.kw, c.flags, sel_terms);
    EXPECT_EQ(f.ok, c.ok) << c.sql;
    EXPECT_EQ(f.start, c.start) << c.sql;
    if (c.end != 0) {
      EXPECT_EQ(f.end, c.end) << c.sql;
    }
    if (f.ok) {
      EXPECT_EQ(f.found, c.found) << c.sql;
    }
  }
}

TEST(IBParseClauses, FlagsNextWordAndPsqlBlocks) {
  // Flag 2: the word right after the keyword must be a terminator.
  Found f = Find("CREATE TABLE X; CREATE DATABASE 'a'", "CREATE", kSqlKeyNextIsTerm, {"DATABASE", ""});
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.start, 17);
  EXPECT_EQ(f.found, "DATABASE");
  f = Find("CREATE TABLE X", "CREATE", kSqlKeyFirstWord | kSqlKeyNextIsTerm, {"DATABASE", ""});
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.found, "");

  // Flag 16: nothing is found inside BEGIN ... END; after it the search goes on.
  const AnsiString psql = "EXECUTE BLOCK AS BEGIN IF (1=1) THEN BEGIN X = 1; END SUSPEND; END ; X";
  f = Find(psql, "", kSqlKeyPsqlBlocks, {";", ""});
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.end, 68);
  f = Find("SELECT CASE WHEN A=1 THEN 'x' END FROM T", "SELECT", kSqlKeyPsqlBlocks, {"FROM", "THEN"});
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.found, "FROM");

  // Flag 4 looks inside parentheses.
  f = Find("SELECT (SELECT 1 FROM X) FROM T", "FROM", kSqlKeyInParens, {""});
  EXPECT_EQ(f.start, 18);
  // Flag 8 skips bracketed parts.
  f = Find("SELECT [WHERE] WHERE A", "WHERE", kSqlKeySkipBrackets, {""});
  EXPECT_EQ(f.start, 16);
  f = Find("SELECT [WHERE] WHERE A", "WHERE", 0, {""});
  EXPECT_EQ(f.start, 9);
  // A leading % lets the word begin inside a longer word.
  f = Find("SELECT XFROM", "%FROM", 0, {""});
  EXPECT_TRUE(f.ok);
  EXPECT_EQ(f.start, 9);
  // Limits: a start after the limit changes nothing.
  f = Find("SELECT A FROM T", "FROM", 0, {""}, 12, 5);
  EXPECT_FALSE(f.ok);
  EXPECT_EQ(f.start, 12);
}

// Without a keyword (empty or blanks only) there is nothing to go back to when the next
// word is not a terminator: the search goes on to the terminator from the start.
TEST(IBParseClauses, NextIsTermWithoutKeywordSearchesOn) {
  for (const char* kw : {"", "   ", " \t "}) {
    Found f = Find("SELECT A FROM T WHERE B", kw, kSqlKeyNextIsTerm, {"WHERE", ""});
    EXPECT_TRUE(f.ok) << "[" << kw << "]";
    EXPECT_EQ(f.start, 1);
    EXPECT_EQ(f.end, 17);
    EXPECT_EQ(f.found, "WHERE");
    f = Find("SELECT A FROM T", kw, kSqlKeyNextIsTerm, {"WHERE"});
    EXPECT_FALSE(f.ok);
    f = Find("SELECT A FROM T", kw, kSqlKeyNextIsTerm, {"WHERE", ""});
    EXPECT_TRUE(f.ok);
    EXPECT_EQ(f.end, 16);
    // With flag 1 too, the first word must be the terminator.
    f = Find("SELECT A WHERE B", kw, kSqlKeyFirstWord | kSqlKeyNextIsTerm, {"WHERE", ""});
    EXPECT_FALSE(f.ok);
    f = Find("WHERE B", kw, kSqlKeyFirstWord | kSqlKeyNextIsTerm, {"WHERE", ""});
    EXPECT_TRUE(f.ok);
    EXPECT_EQ(f.found, "WHERE");
  }
}

TEST(IBParseClauses, ReadersGiveTheClausesWithTheirKeywords) {
  const AnsiString sql =
      "SELECT A, (SELECT MAX(X) FROM U WHERE U.K = T.K) AS M\r\n"
      "FROM T\r\nWHERE A > 1\r\nGROUP BY A\r\nHAVING COUNT(*) > 1\r\n"
      "PLAN (T NATURAL)\r\nORDER BY A\r\nROWS 10\r\nFOR UPDATE OF A WITH LOCK";
  EXPECT_EQ(GetSelectClause(sql), "SELECT A, (SELECT MAX(X) FROM U WHERE U.K = T.K) AS M");
  EXPECT_EQ(GetFromClause(sql), "FROM T");
  EXPECT_EQ(GetWhereClause(sql), "WHERE A > 1");
  EXPECT_EQ(GetGroupByClause(sql), "GROUP BY A");
  EXPECT_EQ(GetHavingClause(sql), "HAVING COUNT(*) > 1");
  EXPECT_EQ(GetPlanClause(sql), "PLAN (T NATURAL)");
  EXPECT_EQ(GetOrderByClause(sql), "ORDER BY A");
  EXPECT_EQ(GetForUpdateClause(sql), "FOR UPDATE OF A");
  EXPECT_EQ(GetUnionClause(sql), "");
}

TEST(IBParseClauses, WhereStopsAtRows) {
  EXPECT_EQ(GetWhereClause("SELECT A FROM T WHERE A = 1 ROWS 5"), "WHERE A = 1");
  AnsiString sql = "SELECT A FROM T WHERE A = 1 ROWS 5";
  SetWhereClause(sql, "WHERE B = 2");
  EXPECT_EQ(sql, "SELECT A FROM T\r\nWHERE B = 2\r\nROWS 5");
}

TEST(IBParseClauses, SemicolonAndUnion) {
  AnsiString sql = "SELECT A FROM T;";
  EXPECT_EQ(GetWhereClause(sql), "");
  SetWhereClause(sql, "WHERE A = 1");
  EXPECT_EQ(sql, "SELECT A FROM T\r\nWHERE A = 1\r\n;");

  sql = "SELECT A FROM T UNION SELECT B FROM U WHERE B = 2";
  int32_t s = 0, e = 0;
  FindWhereClause(sql, s, e);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(GetWhereClause(sql), "");
  SetWhereClause(sql, "WHERE A = 1");
  EXPECT_EQ(sql, "SELECT A FROM T\r\nWHERE A = 1\r\nUNION SELECT B FROM U WHERE B = 2");
}

TEST(IBParseClauses, WritersReplaceInsertAndRemove) {
  AnsiString sql = "SELECT A FROM T ORDER BY A";
  SetOrderByClause(sql, "");
  EXPECT_EQ(sql, "SELECT A FROM T\r\n\r\n");
  sql = "SELECT A FROM T WHERE X = 1";
  SetOrderByClause(sql, "");
  EXPECT_EQ(sql, "SELECT A FROM T WHERE X = 1\r\n\r\n");
  sql = "SELECT A FROM T WHERE X = 1";
  SetOrderByClause(sql, "ORDER BY B");
  EXPECT_EQ(sql, "SELECT A FROM T WHERE X = 1\r\nORDER BY B\r\n");
  sql = "SELECT A FROM T";
  SetSelectClause(sql, "SELECT B");
  EXPECT_EQ(sql, "\r\nSELECT B\r\nFROM T");
  sql = "FROM T";
  SetSelectClause(sql, "SELECT B");
  EXPECT_EQ(sql, "\r\nSELECT B\r\nFROM T");
  sql = "SELECT A FROM T";
  SetForUpdateClause(sql, "FOR UPDATE");
  EXPECT_EQ(sql, "SELECT A FROM T\r\nFOR UPDATE");
  sql = "SELECT A FROM T WHERE X=1 ORDER BY A";
  SetGroupByClause(sql, "GROUP BY A");
  EXPECT_EQ(sql, "SELECT A FROM T WHERE X=1\r\nGROUP BY A\r\nORDER BY A");
  sql = "SELECT A FROM T WHERE X=1";
  SetFromClause(sql, "FROM U");
  EXPECT_EQ(sql, "SELECT A\r\nFROM U\r\nWHERE X=1");
  sql = "SELECT A FROM T ORDER BY A";
  SetPlanClause(sql, "PLAN (T NATURAL)");
  EXPECT_EQ(sql, "SELECT A FROM T\r\nPLAN (T NATURAL)\r\nORDER BY A");
}

TEST(IBParseClauses, Ranges) {
  EXPECT_EQ(CopyRange("abcdef", 2, 4), "bc");
  EXPECT_EQ(CopyRange("abcdef", 2, 0), "bcdef");
  EXPECT_EQ(CopyRange("abcdef", 0, 4), "");
  EXPECT_EQ(CopyRange("abcdef", -1, 4), "");
  EXPECT_EQ(CopyRange("abcdef", 4, 4), "");
  EXPECT_EQ(CopyRange("abc", 2, 99), "bc");
  AnsiString s = " a  b ";
  ReplaceRange(s, " X ", 3, 4);
  EXPECT_EQ(s, "a\r\nX\r\nb");
  s = "ab";
  ReplaceRange(s, "X", 0, 0);
  EXPECT_EQ(s, "X\r\n");
}

TEST(IBParseClauses, ProcedureDDL) {
  struct Case {
    const char* sql;
    bool ddl;
  } cases[] = {
      {"CREATE PROCEDURE P AS BEGIN END", true},
      {"create or alter trigger T for X", true},
      {"CREATE OR REPLACE PROCEDURE P", true},
      {"RECREATE TRIGGER T", true},
      {"/* c */ ALTER PROCEDURE P", true},
      {"DROP TRIGGER T", true},
      {"CREATE TABLE PROCEDURE_LOG (A INT)", false},
      {"SELECT * FROM T", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsProcedureDDL(c.sql), c.ddl) << c.sql;
}

}  // namespace
}  // namespace pelvar
