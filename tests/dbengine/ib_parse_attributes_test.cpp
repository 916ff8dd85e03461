// Attribute texts, column definition texts and database script statements.
#include <gtest/gtest.h>

#include "dbengine/IB_Parse.h"
#include "platform/codepage.h"
#include "platform/exceptions.h"

namespace pelvar {
namespace {

TEST(IBParseAttributes, EncodeAndDecodeValues) {
  const AnsiString text = "a\nb;c%d" + CZ("č");
  const AnsiString enc = EncodeAttributeValue(text);
  EXPECT_EQ(enc, "a\\Kb\\;c#37d#232");
  EXPECT_EQ(DecodeAttributeValue(enc), text);
  EXPECT_EQ(EncodeAttributeValue(AnsiString("\0\t\r", 3)), "\\A\\J\\N");
  EXPECT_EQ(EncodeAttributeValue("#1:=?\\-x"), "\\#\\1\\:\\=\\?\\\\#45x");
  EXPECT_EQ(DecodeAttributeValue("#"), AnsiString(1, '\0'));
  EXPECT_EQ(DecodeAttributeValue("#321x"), "Ax");  // 321 mod 256 = 65
  EXPECT_EQ(DecodeAttributeValue("ab\\"), "ab");
  EXPECT_EQ(EscapedLetterToChar('A'), '\0');
  EXPECT_EQ(EscapedLetterToChar('['), '\x1A');
  EXPECT_EQ(EscapedLetterToChar('a'), 'a');
}

TEST(IBParseAttributes, EveryByteSurvivesTheRoundTrip) {
  AnsiString all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  const AnsiString enc = EncodeAttributeValue(all);
  EXPECT_EQ(DecodeAttributeValue(enc), all);
  // Inside an attribute list the encoded value reads back whole.
  int32_t start = 0, end = 0;
  AnsiString value;
  FindAttribute("X;K=" + enc + ";Z", "K", start, value, end);
  EXPECT_EQ(start, 3);
  EXPECT_EQ(value, all);
  for (char c : enc) EXPECT_GE(static_cast<unsigned char>(c), 32);
}

TEST(IBParseAttributes, FindAttribute) {
  struct Case {
    const char* text;
    const char* keyword;
    int32_t start;
    const char* value;
    int32_t end;
  } cases[] = {
      {"REQUIRED;NOCASE=UPPER_NAME", "NOCASE", 10, "UPPER_NAME", 27},
      {"REQUIRED;NOCASE=UPPER_NAME", "nocase", 10, "UPPER_NAME", 27},
      {"NOCASEX=1", "NOCASE", 0, "", 10},
      {"A=1; B", "B", 6, "", 7},
      {"A = x\\;y ;B", "A", 1, " x;y ", 10},
      {"A=#37x", "A", 1, "%x", 7},
      {"A;B=2", "A", 1, "", 2},
      {"XA=1", "A", 0, "", 5},
      {"", "A", 0, "", 1},
      {"A=1", " ", 0, "", 4},
  };
  for (const Case& c : cases) {
    int32_t start = -1, end = -1;
    AnsiString value = "junk";
    FindAttribute(c.text, c.keyword, start, value, end);
    EXPECT_EQ(start, c.start) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
    EXPECT_EQ(end, c.end) << c.text;
  }
  int32_t s, e;
  AnsiString v;
  EXPECT_THROW(FindAttribute("A=#x", "A", s, v, e), EConvertError);
}

TEST(IBParseAttributes, RemoveAndSetFlags) {
  struct Case {
    const char* text;
    const char* keyword;
    const char* after;
  } cases[] = {
      {"REQUIRED;X", "REQUIRED", "X"},
      {"X;REQUIRED", "REQUIRED", "X"},
      {"X; REQUIRED=1 ;Y", "REQUIRED", "X;Y"},
      {"X;Y", "REQUIRED", "X;Y"},
      {"REQUIRED", "REQUIRED", ""},
  };
  for (const Case& c : cases) {
    AnsiString t = c.text;
    RemoveAttribute(t, c.keyword);
    EXPECT_EQ(t, c.after) << c.text;
  }
  AnsiString t = "REQUIRED;X";
  EXPECT_FALSE(SetAttributeFlag(t, "REQUIRED", true));
  EXPECT_EQ(t, "REQUIRED;X");
  EXPECT_TRUE(SetAttributeFlag(t, "REQUIRED", false));
  EXPECT_EQ(t, "X");
  EXPECT_TRUE(SetAttributeFlag(t, "NOCASE", true));
  EXPECT_EQ(t, "X;NOCASE");
  t = "X;";
  EXPECT_TRUE(SetAttributeFlag(t, "A", true));
  EXPECT_EQ(t, "X;A");
  t = "";
  EXPECT_TRUE(SetAttributeFlag(t, "A", true));
  EXPECT_EQ(t, "A");
  EXPECT_FALSE(SetAttributeFlag(t, "B", false));
}

// A stand-in with the client library's XSQLVAR member names.
struct FakeXSQLVAR {
  int16_t sqltype, sqlscale, sqlsubtype, sqllen;
  int16_t sqlname_length;
  char sqlname[32];
  int16_t relname_length;
  char relname[32];
  int16_t ownname_length;
  char ownname[32];
  int16_t aliasname_length;
  char aliasname[32];
};

TEST(IBParseAttributes, ColumnDefinitions) {
  struct Case {
    const char* def;
    uint16_t dialect;
    int16_t type, len, scale, subtype;
    const char* rel;
    const char* name;
    const char* alias;
  } cases[] = {
      {"TOTAL=NUMERIC(15,2)", 3, 581, 8, -2, 0, "", "", "TOTAL"},
      {"T.NAME=VARCHAR(40) NOT NULL", 3, 448, 40, 0, 0, "T", "NAME", "NAME"},
      {"X=DATE", 1, 511, 8, 0, 0, "", "", "X"},
      {"X DATE", 3, 571, 4, 0, 0, "", "", "X"},
      {"x=numeric(4)", 3, 501, 2, -2, 0, "", "", "X"},
      {"X=DECIMAL(9,3)", 3, 497, 4, -3, 0, "", "", "X"},
      {"X=DECIMAL(12,1)", 1, 481, 8, -1, 0, "", "", "X"},
      {"X=NUMERIC", 3, 497, 4, -2, 0, "", "", "X"},
      {"X=CHAR", 3, 453, 256, 0, 0, "", "", "X"},
      {"X=CHARACTER VARYING(10)", 3, 449, 10, 0, 0, "", "", "X"},
      {"X=CHAR VARYING (5)", 3, 449, 5, 0, 0, "", "", "X"},
      {"X=DOUBLE PRECISION", 3, 481, 8, 0, 0, "", "", "X"},
      {"X=FLOAT", 3, 483, 4, 0, 0, "", "", "X"},
      {"X=SMALLINT", 3, 501, 2, 0, 0, "", "", "X"},
      {"X=INTEGER NOT NULL", 3, 496, 4, 0, 0, "", "", "X"},
      {"X=TIME", 3, 561, 4, 0, 0, "", "", "X"},
      {"X=TIMESTAMP", 3, 511, 8, 0, 0, "", "", "X"},
      {"X=QUAD", 3, 551, 8, 0, 0, "", "", "X"},
      {"X=MEMO", 3, 521, 8, 0, 1, "", "", "X"},
      {"X=BLOB", 3, 521, 8, 0, 0, "", "", "X"},
      {"\"My\".\"Col=1\"=INTEGER", 3, 497, 4, 0, 0, "My", "Col=1", "\"Col=1\""},
      {"\"My\".\"Col\"=INTEGER", 1, 497, 4, 0, 0, "\"MY\"", "\"COL\"", "\"Col\""},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789=INTEGER", 3, 497, 4, 0, 0, "", "",
       "ABCDEFGHIJKLMNOPQRSTUVWXYZ01234"},
  };
  for (const Case& c : cases) {
    TIB_XSQLVARDef d;
    ParseXSQLVARDef(c.def, c.dialect, d);
    EXPECT_EQ(d.sqltype, c.type) << c.def;
    EXPECT_EQ(d.sqllen, c.len) << c.def;
    EXPECT_EQ(d.sqlscale, c.scale) << c.def;
    EXPECT_EQ(d.sqlsubtype, c.subtype) << c.def;
    EXPECT_EQ(d.relname, c.rel) << c.def;
    EXPECT_EQ(d.sqlname, c.name) << c.def;
    EXPECT_EQ(d.aliasname, c.alias) << c.def;
  }
  FakeXSQLVAR v{};
  ParseXSQLVARDef("T.NAME=VARCHAR(40)", 3, v);
  EXPECT_EQ(v.sqltype, 449);
  EXPECT_EQ(v.relname_length, 1);
  EXPECT_STREQ(v.sqlname, "NAME");
  EXPECT_EQ(v.ownname_length, 0);
}

TEST(IBParseAttributes, BadColumnDefinitionsRaise) {
  TIB_XSQLVARDef d;
  for (const char* def : {"X=DOUBLE", "X=BIGINT", "X", "", "X=VARCHAR(abc)", "X=NUMERIC(15,x)"}) {
    EXPECT_THROW(ParseXSQLVARDef(def, 3, d), Exception) << def;
  }
  try {
    ParseXSQLVARDef("X=WHAT", 3, d);
  } catch (const EConvertError&) {
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Invalid XSQLVAR Def string: X=WHAT");
  }
  EXPECT_THROW(ParseXSQLVARDef("X=CHAR(x)", 3, d), EConvertError);
}

TEST(IBParseAttributes, SQLTypesMatch) {
  EXPECT_TRUE(SQLTypesMatch(500, 497));
  EXPECT_TRUE(SQLTypesMatch(481, 482));
  EXPECT_TRUE(SQLTypesMatch(448, 449));
  EXPECT_FALSE(SQLTypesMatch(448, 452));
  EXPECT_FALSE(SQLTypesMatch(496, 580));
}

TEST(IBParseAttributes, ReadQuotedValue) {
  int32_t s = 1, e = 0;
  AnsiString v;
  EXPECT_TRUE(ReadQuotedValue("  /* x */ 'it''s' rest", s, e, v, true));
  EXPECT_EQ(v, "'it''s'");
  EXPECT_EQ(s, 11);
  EXPECT_EQ(e, 17);
  s = 1;
  e = 0;
  EXPECT_FALSE(ReadQuotedValue("  word 'x'", s, e, v, true));
  s = 1;
  e = 0;
  EXPECT_TRUE(ReadQuotedValue("  word \"x\"", s, e, v, false));
  EXPECT_EQ(v, "\"x\"");
  s = 1;
  e = 0;
  EXPECT_FALSE(ReadQuotedValue("", s, e, v, false));
  s = 1;
  e = 0;
  EXPECT_FALSE(ReadQuotedValue(" 'open", s, e, v, false));
}

class FakeConnection : public IB_DatabaseStatementTarget {
 public:
  bool connected = false;
  AnsiString connect_string = "old.fdb", user = "olduser", password = "oldpw", role = "oldrole";
  bool GetConnected() const override { return connected; }
  void SetConnectString(const AnsiString& v) override { connect_string = v; }
  void SetUserName(const AnsiString& v) override { user = v; }
  void SetPassword(const AnsiString& v) override { password = v; }
  void SetSQLRole(const AnsiString& v) override { role = v; }
};

TEST(IBParseAttributes, DatabaseStatements) {
  FakeConnection c;
  AnsiString verb;
  EXPECT_TRUE(ApplyDatabaseStatement(
      c, "CONNECT 'localhost:/data/x.fdb' USER 'SYSDBA' PASSWORD \"master'key\"", verb));
  EXPECT_EQ(verb, "CONNECT");
  EXPECT_EQ(c.connect_string, "localhost:/data/x.fdb");
  EXPECT_EQ(c.user, "SYSDBA");
  EXPECT_EQ(c.password, "master'key");
  EXPECT_EQ(c.role, "");  // no ROLE: cleared

  FakeConnection c2;
  EXPECT_TRUE(ApplyDatabaseStatement(c2, "create database '/tmp/n.fdb' user 'u' password 'p' role 'r'", verb));
  EXPECT_EQ(verb, "CREATE");
  EXPECT_EQ(c2.connect_string, "/tmp/n.fdb");
  EXPECT_EQ(c2.role, "r");

  FakeConnection c3;
  EXPECT_TRUE(ApplyDatabaseStatement(c3, "DISCONNECT", verb));
  EXPECT_EQ(verb, "DISCONNECT");
  EXPECT_EQ(c3.connect_string, "old.fdb");
  EXPECT_EQ(c3.user, "olduser");

  FakeConnection c4;
  c4.connected = true;
  EXPECT_TRUE(ApplyDatabaseStatement(c4, "DROP DATABASE", verb));
  EXPECT_EQ(c4.connect_string, "old.fdb");
  c4.connected = false;
  EXPECT_TRUE(ApplyDatabaseStatement(c4, "DROP DATABASE", verb));
  EXPECT_EQ(c4.user, "olduser");  // DROP keeps what it does not give

  FakeConnection c5;
  EXPECT_FALSE(ApplyDatabaseStatement(c5, "CREATE TABLE T (A INT)", verb));
  EXPECT_FALSE(ApplyDatabaseStatement(c5, "SELECT * FROM T", verb));
  EXPECT_EQ(c5.connect_string, "old.fdb");

  AnsiString value;
  EXPECT_TRUE(FindScriptValue("CREATE SCHEMA 'a.fdb' USER 'x'", "DATABASE", {"CREATE"}, value, verb));
  EXPECT_EQ(value, "a.fdb");
  EXPECT_TRUE(FindScriptValue("CONNECT 'a.fdb'", "USER", {"CONNECT"}, value, verb));
  EXPECT_EQ(value, "");
}

}  // namespace
}  // namespace pelvar
