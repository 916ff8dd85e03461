// Scanner, quote-aware searches, quoting, identifiers and small routines of the SQL toolkit.
#include <gtest/gtest.h>

#include <algorithm>

#include "dbengine/IB_Parse.h"
#include "platform/classes.h"

namespace pelvar {
namespace {

// Walks a text and records, for every position, whether it lies in a literal, a quoted
// name or a comment after classification.
std::string Classes(const AnsiString& s) {
  std::string out(s.size(), '.');
  TIB_ScanState st;
  int32_t pos = 1;
  while (pos <= static_cast<int32_t>(s.size())) {
    const int32_t step = ScanSQLChar(s, pos, st);
    const int32_t n = step > 0 ? step : 1;
    char k = st.InComment() ? 'c' : st.InSingleQuotes ? 's' : st.InDoubleQuotes ? 'd' : '.';
    for (int32_t i = 0; i < n && pos + i <= static_cast<int32_t>(s.size()); ++i) out[pos - 1 + i] = k;
    pos += n;
  }
  return out;
}

TEST(IBParseScan, ClassifiesLiteralsNamesAndComments) {
  struct Case {
    const char* text;
    const char* classes;
  } cases[] = {
      {"a'b''c'd", ".ss.ss.."},
      {"a\"b\"c", ".dd.."},
      {"a--x\nb", ".ccc.."},
      {"a/*x*/b", ".ccc.."},
      {"a//x\r\nb", ".ccc..."},
  };
  for (const Case& c : cases) {
    // The closing characters of a comment are classified outside it.
    std::string got = Classes(c.text);
    EXPECT_EQ(got.substr(0, std::string(c.classes).size()), c.classes) << c.text;
  }
}

TEST(IBParseScan, LineCommentFlagsAndLineEndSteps) {
  TIB_ScanState st;
  const AnsiString s = "--x\r\n";
  EXPECT_EQ(ScanSQLChar(s, 1, st), 2);
  EXPECT_TRUE(st.InLineComment);
  EXPECT_TRUE(st.InBlockComment);
  EXPECT_EQ(ScanSQLChar(s, 3, st), 0);
  EXPECT_EQ(ScanSQLChar(s, 4, st), 2);  // CR LF as the last two characters
  EXPECT_FALSE(st.InComment());

  TIB_ScanState st2;
  const AnsiString s2 = "--x\n";
  ScanSQLChar(s2, 1, st2);
  EXPECT_EQ(ScanSQLChar(s2, 4, st2), 1);  // lone LF as the last character
  EXPECT_FALSE(st2.InComment());

  TIB_ScanState st3;
  EXPECT_EQ(ScanSQLChar(s2, 0, st3), 0);
  EXPECT_FALSE(st3.InComment());
}

TEST(IBParseScan, DoubledApostropheLeavesAndReentersLiteral) {
  const AnsiString s = "'a''b'";
  TIB_ScanState st;
  ScanSQLChar(s, 1, st);
  EXPECT_TRUE(st.InSingleQuotes);
  ScanSQLChar(s, 3, st);
  EXPECT_FALSE(st.InSingleQuotes);
  ScanSQLChar(s, 4, st);
  EXPECT_TRUE(st.InSingleQuotes);
}

TEST(IBParseScan, DepthsAreTrackedUnlessUntracked) {
  TIB_ScanState st;
  st.BracketDepth = kScanDepthUntracked;
  const AnsiString s = "(([)";
  EXPECT_EQ(ScanSQLChar(s, 1, st), 1);
  ScanSQLChar(s, 2, st);
  EXPECT_EQ(ScanSQLChar(s, 3, st), 0);
  EXPECT_EQ(st.BracketDepth, kScanDepthUntracked);
  ScanSQLChar(s, 4, st);
  EXPECT_EQ(st.ParenDepth, 1);
}

TEST(IBParseScan, WordBreaksAndTokenDelimiters) {
  for (char c : AnsiString(" \t\r\n();[]")) EXPECT_TRUE(IsWordBreak(c, false)) << c;
  EXPECT_FALSE(IsWordBreak(',', true));
  EXPECT_FALSE(IsWordBreak('-', false));
  EXPECT_TRUE(IsWordBreak('-', true));
  EXPECT_TRUE(IsWordBreak('/', true));
  for (char c : AnsiString("! ()*,/:;<=>?")) EXPECT_TRUE(IsTokenDelimiter(c)) << c;
  for (char c : AnsiString("+-.$_\"'aZ0")) EXPECT_FALSE(IsTokenDelimiter(c)) << c;
}

TEST(IBParseScan, PositionSearches) {
  const AnsiString s = "A=\"x=y\"=B";
  EXPECT_EQ(CharPosOutsideQuotes('=', s, 1), 2);
  EXPECT_EQ(CharPosOutsideQuotes('=', s, 3), 8);
  EXPECT_EQ(CharPosOutsideQuotes('"', s, 1), 7);  // the closing quote
  EXPECT_EQ(CharPosOutsideQuotes('=', s, 0), 2);  // below 1 reads as 1
  EXPECT_EQ(CharPosOutsideQuotes('=', s, 50), 0);

  EXPECT_EQ(StrPosOutsideQuotes("FROM", "select a from t", 1), 0);  // case counts
  EXPECT_EQ(StrPosOutsideQuotes("FROM", "SELECT \"FROM\" FROM T", 1), 15);
  EXPECT_EQ(StrPosOutsideQuotes("", "abc", 1), 0);

  EXPECT_EQ(CharPosAtTopLevel(',', "F(a,b),'x,y',\"p,q\",c", 1), 7);
  EXPECT_EQ(CharPosAtTopLevel(',', "F(a,b),'x,y',\"p,q\",c", 8), 13);
  EXPECT_EQ(CharPosAtTopLevel('(', "ab(c)", 1), 3);
  EXPECT_EQ(CharPosAtTopLevel(')', "a(b)c)", 1), 6);  // only an unbalanced one

  EXPECT_EQ(LastCharPosOutsideQuotes(' ', "A \"B C\" D", 0, false), 8);
  EXPECT_EQ(LastCharPosOutsideQuotes(' ', "A \"B C\"", 0, false), 2);
  EXPECT_EQ(LastCharPosOutsideQuotes('.', "T.X+Y", 0, true), 2);  // + is no delimiter
  EXPECT_EQ(LastCharPosOutsideQuotes('.', "T.X=Y", 0, true), 0);  // = is one
  EXPECT_EQ(LastCharPosOutsideQuotes('.', "T.XY", 0, true), 2);
}

TEST(IBParseScan, FindSQLTextSkipsLiteralsCommentsAndParentheses) {
  struct Case {
    const char* sub;
    const char* text;
    bool whole;
    int32_t expect;
  } cases[] = {
      {"FROM", "SELECT 'FROM' FROM T", false, 15},
      {"FROM", "SELECT \"FROM\" FROM T", false, 15},
      {"FROM", "SELECT /* FROM */ A FROM T", false, 21},
      {"FROM", "SELECT -- FROM\nA FROM T", false, 18},
      {"FROM", "SELECT // FROM\r\nA FROM T", false, 19},
      {"FROM", "SELECT F(A FROM B) FROM T", false, 20},
      {"FROM", "SELECT AFROM FROM T", true, 14},
      {"FROM", "SELECT AFROM FROM T", false, 9},
      {"FROM", "SELECT COUNT(X)FROM T", true, 16},
      {"FROM", "select a from t", false, 0},
      {",", "A,B", true, 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FindSQLText(c.sub, c.text, 1, c.whole), c.expect) << c.text;
  }
}

TEST(IBParseScan, Quoting) {
  EXPECT_TRUE(IsQuoted("  'abc'  ", ' '));
  EXPECT_TRUE(IsQuoted("\"abc\"", ' '));
  EXPECT_FALSE(IsQuoted("'", ' '));
  EXPECT_FALSE(IsQuoted("'abc\"", ' '));
  EXPECT_FALSE(IsQuoted("'abc'", '"'));
  EXPECT_EQ(DoubleChar("it's", '\''), "it''s");
  EXPECT_EQ(QuoteText("it's", '\''), "'it''s'");
  EXPECT_EQ(QuoteText("'done'", '\''), "'done'");
  EXPECT_EQ(StripQuotes("'it''s'"), "it's");
  EXPECT_EQ(StripQuotes("\"A\"\"B\""), "A\"B");
  EXPECT_EQ(StripQuotes("plain"), "plain");
  EXPECT_EQ(StripQuotes(" 'x' "), "x");
}

TEST(IBParseScan, IdentifiersByDialect) {
  struct Case {
    uint16_t dialect;
    const char* name;
    const char* ident;
    const char* stored;
  } cases[] = {
      {3, "MyTable", "MYTABLE", "\"MyTable\""},
      {3, "My Table", "\"My Table\"", "\"My Table\""},
      {3, "\"Quoted\"", "\"Quoted\"", "\"\"\"Quoted\"\"\""},
      {3, "", "\"\"", "\"\""},
      {3, "A1$_B", "A1$_B", "A1$_B"},
      {3, "1ABC", "\"1ABC\"", "\"1ABC\""},
      {3, "a\"b", "\"a\"\"b\"", "\"a\"\"b\""},
      {1, "My Table", "MY TABLE", "MY TABLE"},
      {1, "", "", ""},
      {3, "SELECT", "SELECT", "SELECT"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IdentForDialect(c.dialect, c.name), c.ident) << c.name;
    EXPECT_EQ(StoredIdentForDialect(c.dialect, c.name), c.stored) << c.name;
  }
  // Dialect 1 upper-cases Czech letters as well.
  EXPECT_EQ(IdentForDialect(1, "\xE8\x61s"), "\xC8\x41S");  // čas -> ČAS
}

TEST(IBParseScan, ReservedWords) {
  const auto& words = ReservedWords();
  EXPECT_EQ(words.size(), 300u);
  EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
  EXPECT_FALSE(IsReservedWord("SELECT"));  // the switch is off by default
  SetReservedWordCheck(true);
  for (const AnsiString& w : words) EXPECT_TRUE(IsReservedWord(w)) << w;
  EXPECT_TRUE(IsReservedWord("select"));
  EXPECT_FALSE(IsReservedWord("PELVAR"));
  EXPECT_FALSE(IsReservedWord(""));
  EXPECT_EQ(IdentForDialect(3, "select"), "\"SELECT\"");
  EXPECT_EQ(StoredIdentForDialect(3, "ORDER"), "\"ORDER\"");
  EXPECT_EQ(IdentForDialect(1, "select"), "SELECT");
  SetReservedWordCheck(false);
  EXPECT_EQ(IdentForDialect(3, "select"), "SELECT");
}

TEST(IBParseScan, SplitToStrings) {
  using V = std::vector<AnsiString>;
  EXPECT_EQ(SplitToStrings("a, b;c"), (V{"a", "b", "c"}));
  EXPECT_EQ(SplitToStrings("a,,b,"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitToStrings("a\r\n\r\nb"), (V{"a", "", "b"}));
  EXPECT_EQ(SplitToStrings("\"x;y\",'p,q'"), (V{"\"x;y\"", "'p", "q'"}));
  EXPECT_EQ(SplitToStrings(""), V{});

  TStringList list;
  list.Add("old");
  SplitToStrings("A,B", &list);
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Get(1), "B");
}

TEST(IBParseScan, SmallRoutines) {
  AnsiString r;
  EXPECT_EQ(RemoveChar("a-b-c", '-', r), 3);
  EXPECT_EQ(r, "abc");
  AnsiString t = "a,b;c";
  ReplaceChars(t, ",;", ' ');
  EXPECT_EQ(t, "a b c");
  t = "aXbX";
  ReplaceText(t, "X", "XX");
  EXPECT_EQ(t, "aXXbXX");
  EXPECT_EQ(MakeCharString('*', 3), "***");
  EXPECT_EQ(MakeCharString('*', -1), "");
  EXPECT_EQ(PadText("abc", '.', 5, false), "abc..");
  EXPECT_EQ(PadText("abcdef", '.', 3, true), "abc");
  EXPECT_EQ(PadText("abcdef", '.', 3, false), "abcdef");
  EXPECT_EQ(SkipLeadingBelow("  \tx", 33), "x");
  EXPECT_EQ(SkipLeadingBelow("   ", 33), " ");
  EXPECT_EQ(StripLiteralsAndParens("A = 'x(y)' AND F(B, \"C\") \"D\"", true), "A =  AND F \"D\"");
  EXPECT_EQ(StripLiteralsAndParens("A \"D\" (x)", false), "A  ");
}

}  // namespace
}  // namespace pelvar
