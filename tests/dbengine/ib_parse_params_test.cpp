// Parameter parsing into server SQL, select items, markers back to names, macros.
#include <gtest/gtest.h>

#include "dbengine/IB_Parse.h"
#include "platform/classes.h"
#include "platform/exceptions.h"

namespace pelvar {
namespace {

using V = std::vector<AnsiString>;

struct Parsed {
  AnsiString server;
  V names;
  V items;
  int32_t comment_chars = 0;
  int32_t result = 0;
};

Parsed Parse(const AnsiString& sql, char param_char = ':', bool keep = false, bool select_last = false) {
  Parsed p;
  p.result = ParseSQLParams(sql, &p.names, &p.items, p.server, param_char, keep, p.comment_chars, select_last);
  return p;
}

TEST(IBParseParams, NamedAndPositionalParameters) {
  Parsed p = Parse("SELECT A FROM T WHERE B = :B AND C = ?");
  EXPECT_EQ(p.server, "SELECT A FROM T WHERE B = ? /* B */  AND C = ? /* PRM_1 */ ");
  EXPECT_EQ(p.names, (V{"B", "PRM_1"}));
  EXPECT_EQ(p.result, 0);

  AnsiString back;
  ParamMarkersToNames(p.server, back, ':');
  EXPECT_EQ(back, "SELECT A FROM T WHERE B = :B AND C = :PRM_1");

  // Without a parameter character only "?" marks a parameter (and may carry a name).
  p = Parse("SELECT :A FROM T WHERE B = ?X", '\0');
  EXPECT_EQ(p.names, (V{"X"}));
  EXPECT_EQ(p.server, "SELECT :A FROM T WHERE B = ? /* X */ ");
}

TEST(IBParseParams, PlacesThatDoNotHoldParameters) {
  struct Case {
    const char* sql;
    V names;
  } cases[] = {
      {"SELECT ':X' FROM T WHERE A = :A", {"A"}},
      {"SELECT \":X\" FROM T WHERE A = :A", {"A"}},
      {"SELECT A /* :X */ FROM T -- :Y\nWHERE A = :A", {"A"}},
      {"SELECT A FROM T // :Y\r\nWHERE A=:A", {"A"}},
      {"SELECT [:X] FROM T WHERE A=:A", {"A"}},
      {"UPDATE T SET A=:A,B=:B WHERE C=:\"c\".\"D\"", {"A", "B", "\"c\".\"D\""}},
      {"SELECT A FROM T WHERE A=:A--c\n", {"A"}},
      {"SELECT A FROM T WHERE A=:A AND B IN (:B1,:B2)", {"A", "B1", "B2"}},
      {"SELECT A FROM T WHERE A=:\"My Name\"", {"\"My Name\""}},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(c.sql);
    EXPECT_EQ(p.names, c.names) << c.sql;
  }
}

TEST(IBParseParams, ExecuteBlockScansOnlyTheHeader) {
  const AnsiString sql =
      "EXECUTE BLOCK (X INT = :X) RETURNS (Y INT) AS\nBEGIN\n  Y = :X + 1;\n  SUSPEND;\nEND";
  Parsed p = Parse(sql);
  EXPECT_EQ(p.names, (V{"X"}));
  EXPECT_EQ(p.server,
            "EXECUTE BLOCK (X INT = ? /* X */ ) RETURNS (Y INT) AS\nBEGIN\n  Y = :X + 1;\n  SUSPEND;\nEND");
  EXPECT_TRUE(p.items.empty());
}

TEST(IBParseParams, SelectParametersLast) {
  Parsed p = Parse("SELECT FIRST :N :P AS X, A FROM T WHERE B = :B", ':', false, true);
  EXPECT_EQ(p.names, (V{"N", "B", "P"}));
  EXPECT_EQ(p.result, 1);
  p = Parse("SELECT FIRST :N :P AS X, A FROM T WHERE B = :B", ':', false, false);
  EXPECT_EQ(p.names, (V{"N", "P", "B"}));
  EXPECT_EQ(p.result, 0);
}

TEST(IBParseParams, CommentsDroppedOrKept) {
  Parsed p = Parse("SELECT A/*x*/B, A /*x*/ B FROM T");
  EXPECT_EQ(p.server, "SELECT A B, A  B FROM T");
  EXPECT_EQ(p.comment_chars, 0);

  p = Parse("SELECT A -- note */\nFROM T", ':', true);
  EXPECT_EQ(p.server, "SELECT A /* note * / */\nFROM T");
  EXPECT_EQ(p.comment_chars, 2 + 9 + 3);

  p = Parse("SELECT A /* c */ FROM T", ':', true);
  EXPECT_EQ(p.server, "SELECT A /* c */ FROM T");
  EXPECT_EQ(p.comment_chars, 7);

  // A line comment that ends the text is closed too, so the server text stays valid.
  p = Parse("SELECT A FROM T -- end", ':', true);
  EXPECT_EQ(p.server, "SELECT A FROM T /* end */");
}

TEST(IBParseParams, SelectItems) {
  struct Case {
    const char* sql;
    V items;
  } cases[] = {
      {"SELECT FIRST 10 DISTINCT A, B /* b */ , C FROM T", {"A", " B  ", " C "}},
      {"SELECT * FROM T", {"<*>", "* "}},
      {"SELECT FIRST 10 * FROM T", {"<*>", "* "}},
      {"SELECT T.*, 'a,b' AS X, \"c,d\", F(1, 2) FROM T", {"<*>", "T.*", " 'a,b' AS X", " \"c,d\"", " F(\\1, \\2) "}},
      {"SELECT A AS \"x;y\" FROM T", {"A AS \"x\\;y\" "}},
      {"SELECT A", {"A"}},
      {"SELECT ALL A, B FROM T WHERE C = 1", {"A", " B "}},
      {"UPDATE T SET A = 1", {}},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(c.sql);
    EXPECT_EQ(p.items, c.items) << c.sql;
  }
}

TEST(IBParseParams, TStringsOverloadClearsAndFills) {
  TStringList names, items;
  names.Add("stale");
  AnsiString server;
  int32_t cc = 0;
  ParseSQLParams("SELECT A, B FROM T WHERE X=:X", &names, &items, nullptr, server, ':', false, cc, false);
  ASSERT_EQ(names.Count(), 1);
  EXPECT_EQ(names.Get(0), "X");
  EXPECT_EQ(items.Count(), 2);
  MakeServerSQL("SELECT A FROM T WHERE X=:X /* c */", server);
  EXPECT_EQ(server, "SELECT A FROM T WHERE X=:X ");
}

TEST(IBParseParams, MarkersBackToNames) {
  struct Case {
    const char* sql;
    const char* back;
  } cases[] = {
      {"UPDATE T SET A=:A, B = :B WHERE ID=:ID", "UPDATE T SET A=:A, B = :B WHERE ID=:ID"},
      {"SELECT '?' FROM T WHERE A=?", "SELECT '?' FROM T WHERE A=:PRM_0"},
      {"SELECT A FROM T WHERE A=:\"Q\".\"R\" AND B=1", "SELECT A FROM T WHERE A=:\"Q\".\"R\"  AND B=1"},
  };
  for (const Case& c : cases) {
    Parsed p = Parse(c.sql);
    AnsiString back;
    ParamMarkersToNames(p.server, back, ':');
    EXPECT_EQ(back, c.back) << c.sql;
  }
  AnsiString back = "x";
  ParamMarkersToNames("", back, ':');
  EXPECT_EQ(back, "");
  // A "?" without a marker comment is no marker and stays.
  ParamMarkersToNames("SELECT A FROM T WHERE B = ? AND C = ?", back, ':');
  EXPECT_EQ(back, "SELECT A FROM T WHERE B = ? AND C = ?");
  // Block comments stay, // comments go.
  ParamMarkersToNames("A /* k */ B // x\nC", back, ':');
  EXPECT_EQ(back, "A /* k */ B \nC");
}

TEST(IBParseParams, MacroExpansion) {
  auto cb = [](const AnsiString& m, AnsiString& r) {
    if (m == "COLS") r = "A, B";
    else if (m == "TAB") r = "<<INNER>>";
    else if (m == "INNER") r = "T";
    else r = "?" + m;
  };
  AnsiString out;
  ExpandMacros("SELECT <<COLS>> FROM <<TAB>>", "<<", ">>", cb, out);
  EXPECT_EQ(out, "SELECT A, B FROM T");
  // One-character marks count doubled.
  ExpandMacros("SELECT <<COLS>> FROM <TAB>", "<", ">", cb, out);
  EXPECT_EQ(out, "SELECT A, B FROM <TAB>");
  ExpandMacros("SELECT <<COLS FROM T", "<<", ">>", cb, out);
  EXPECT_EQ(out, "SELECT <<COLS FROM T");
  ExpandMacros("SELECT \"<<COLS>>\", A<<B FROM T<<", "<<", ">>", cb, out);
  EXPECT_EQ(out, "SELECT \"<<COLS>>\", A<<B FROM T<<");
  ExpandMacros("X <<\"a b\">>", "<<", ">>", cb, out);
  EXPECT_EQ(out, "X ?\"a b\"");
  ExpandMacros("X <<A>>", "<<", ">>", nullptr, out);
  EXPECT_EQ(out, "");
}

TEST(IBParseParams, MacroThatNeverEndsRaises) {
  AnsiString out;
  auto self = [](const AnsiString&, AnsiString& r) { r = "x <<SELF>>"; };
  EXPECT_THROW(ExpandMacros("<<SELF>>", "<<", ">>", self, out), Exception);
  auto pair = [](const AnsiString& m, AnsiString& r) { r = m == "A" ? "<<B>>" : "<<A>>"; };
  EXPECT_THROW(ExpandMacros("<<A>>", "<<", ">>", pair, out), Exception);
  // A chain of ever new names stops at the depth limit.
  auto chain = [](const AnsiString& m, AnsiString& r) { r = "<<" + m + "X>>"; };
  try {
    ExpandMacros("<<M>>", "<<", ">>", chain, out);
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find("Macro expansion does not end"), AnsiString::npos);
  }
  // A macro used twice side by side is no recursion.
  auto twice = [](const AnsiString&, AnsiString& r) { r = "1"; };
  ExpandMacros("<<A>>+<<A>>", "<<", ">>", twice, out);
  EXPECT_EQ(out, "1+1");
}

}  // namespace
}  // namespace pelvar
