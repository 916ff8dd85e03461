// Filter texts to SQL lines: tokens, operators, value conversions by column type and
// filter options, IN/BETWEEN/LIKE/STARTING forms, pass-through and syntax errors; and
// single column-equals-value conditions.
#include <gtest/gtest.h>

#include <cstring>

#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Parse_filter.h"
#include "platform/classes.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {
namespace {

XSQLVAR MakeVar(int16_t type, int16_t len, const char* alias, const char* rel, int16_t scale = 0) {
  XSQLVAR v{};
  v.sqltype = type;
  v.sqllen = len;
  v.sqlscale = scale;
  auto put = [](char* buf, int16_t& n, const char* s) {
    n = static_cast<int16_t>(std::strlen(s));
    std::memcpy(buf, s, static_cast<size_t>(n));
  };
  put(v.aliasname, v.aliasname_length, alias);
  put(v.relname, v.relname_length, rel);
  put(v.sqlname, v.sqlname_length, alias);
  return v;
}

// A statement with a text, an integer, a scaled numeric, a timestamp and a text column
// carrying a NOCASE attribute; it is its own filter source.
class FilterStatement : public TIB_RowOwner, public TIB_FilterSource {
 public:
  FilterStatement() : TIB_RowOwner(nullptr), fields(this, rtFields) {
    vars = {MakeVar(SQL_VARYING + 1, 20, "NAME", "PEOPLE"), MakeVar(SQL_LONG + 1, 4, "AGE", "PEOPLE"),
            MakeVar(SQL_INT64 + 1, 8, "AMOUNT", "PEOPLE", -2),
            MakeVar(SQL_TIMESTAMP + 1, 8, "ORDER DATE", "PEOPLE"),
            MakeVar(SQL_VARYING + 1, 20, "CITY", "PEOPLE")};
    fields.SetColumnCount(static_cast<int16_t>(vars.size()));
    fields.ClearRow(rsLoaded);
  }
  ~FilterStatement() override { fields.ClearColumns(); }
  void SysDescribeRow(TIB_Row* row) override {
    for (size_t i = 0; i < vars.size(); ++i) *row->Var(static_cast<int32_t>(i)) = vars[i];
  }
  bool GetColumnAttribute(const TIB_Column* column, const AnsiString& keyword, AnsiString& value) const override {
    if (keyword == "NOCASE" && column->GetFieldName() == "CITY") {
      value = "CITY_UPPER";
      return true;
    }
    return false;
  }
  AnsiString GetFilter() const override { return filter; }
  TFilterOptions GetFilterOptions() const override { return options; }
  TIB_Column* FindField(const AnsiString& name) override {
    TIB_Column* c = nullptr;
    return fields.FindColumn(name, c) ? c : nullptr;
  }

  std::vector<XSQLVAR> vars;
  TIB_Row fields;
  AnsiString filter;
  TFilterOptions options;
};

std::vector<AnsiString> Lines(FilterStatement& st, const AnsiString& filter, TFilterOptions options = {}) {
  st.filter = filter;
  st.options = options;
  TStringList list;
  FilterToSQL(st, &list);
  std::vector<AnsiString> out;
  for (int32_t i = 0; i < list.Count(); ++i) out.push_back(list.Strings(i));
  return out;
}

using L = std::vector<AnsiString>;

TEST(FilterToSQL, Translations) {
  FilterStatement st;
  const AnsiString full = st.fields.ColumnByName("NAME")->GetFullName();
  struct Case {
    AnsiString filter;
    TFilterOptions options;
    L lines;
  };
  const Case cases[] = {
      {"NAME = 'Smith' AND AGE > 30", {}, {"(", "NAME = 'Smith'", "AND", "AGE > 30", ")"}},
      {"NAME = \"Smith\"", {}, {"(", "NAME = 'Smith'", ")"}},
      {"NAME = 'Sm*'", {}, {"(", "NAME STARTING 'Sm'", ")"}},
      {"NAME = 'Sm*'", TFilterOptions{foNoPartialCompare}, {"(", "NAME = 'Sm*'", ")"}},
      {"NAME = 'x'", TFilterOptions{foCaseInsensitive}, {"(", "UPPER( " + full + " ) = UPPER( 'x' )", ")"}},
      {"CITY = 'x'", TFilterOptions{foCaseInsensitive}, {"(", "CITY_UPPER = UPPER( 'x' )", ")"}},
      {"NAME IS NULL or name is not null", {}, {"(", "NAME IS NULL", "OR", "name IS NOT NULL", ")"}},
      {"NAME NOT LIKE 'A%'", {}, {"(", "NAME NOT LIKE 'A%'", ")"}},
      {"NAME LIKE 'A!%%' ESCAPE '!'", {}, {"(", "NAME LIKE 'A!%%' ESCAPE '!'", ")"}},
      {"ID IN (1, 2, 3)", {}, {"(", "ID IN ( 1, 2, 3 )", ")"}},
      {"AGE BETWEEN 1 and 5", {}, {"(", "AGE BETWEEN 1 AND 5", ")"}},
      {"NAME STARTING WITH 'Jo'", {}, {"(", "NAME STARTING WITH 'Jo'", ")"}},
      {"((AGE >= 1) OR (AGE <> 2)) AND AGE != 3", {},
       {"(", "(", "(", "AGE >= 1", ")", "OR", "(", "AGE <> 2", ")", ")", "AND", "AGE != 3", ")"}},
      {"AGE == 4", {}, {"(", "AGE = 4", ")"}},
      {"AMOUNT > '1,5'", {}, {"(", "AMOUNT > 1.5", ")"}},
      {"AMOUNT > 'x,y'", {}, {"(", "AMOUNT > 'x,y'", ")"}},
      {"[ORDER DATE] >= '1.2.2008'", {}, {"(", "ORDER DATE >= '02/01/2008'", ")"}},
      {"[ORDER DATE] >= '1.2.2008 13:05:09'", {}, {"(", "ORDER DATE >= '02/01/2008 13:05:09'", ")"}},
      {"UPPER(NAME) = 'X'", {}, {"(", "UPPER(NAME) = 'X'", ")"}},
      {"UPPER (NAME) = \"X\"", {}, {"(", "UPPER (NAME) = 'X'", ")"}},
      {"  ::sql:: A.B = 1 OR [x ", {}, {"(", " A.B = 1 OR [x", ")"}},
      {"   ", {}, {}},
      {"NAME = \"it's\"", {}, {"(", "NAME = 'it''s'", ")"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Lines(st, c.filter, c.options), c.lines) << c.filter;
  }
}

TEST(FilterToSQL, DateLiteralFollowsLocaleSeparator) {
  FilterStatement st;
  TFormatSettings& fs = FormatSettings();
  const TFormatSettings saved = fs;
  fs.DateSeparator = '/';
  fs.ShortDateFormat = "m/d/yyyy";
  const L lines = Lines(st, "[ORDER DATE] >= '1/2/2008'");
  const L not_a_date = Lines(st, "[ORDER DATE] >= 'a/b'");
  fs = saved;
  EXPECT_EQ(lines, (L{"(", "ORDER DATE >= '01/02/2008'", ")"}));
  EXPECT_EQ(not_a_date, (L{"(", "ORDER DATE >= 'a/b'", ")"}));
  // Without the separator the value passes as written.
  EXPECT_EQ(Lines(st, "[ORDER DATE] >= '1/2/2008'"), (L{"(", "ORDER DATE >= '1/2/2008'", ")"}));
}

TEST(FilterToSQL, SyntaxErrors) {
  FilterStatement st;
  struct Case {
    AnsiString filter;
    AnsiString message;
  };
  const Case cases[] = {
      {"NAME = 'Smith", "Invalid Filter syntax"},
      {"NAME = \"Smith", "Invalid Filter syntax"},
      {"ID IN 1", "Invalid Filter syntax: IN()"},
      {"ID IN (1, 2", "Invalid Filter syntax: IN()"},
      {"AGE BETWEEN 1 OR 5", "Invalid Filter syntax: BETWEEN"},
      {"[NAME = 1", "Invalid Filter syntax"},
      {"UPPER(NAME = 1", "Invalid Filter syntax"},
      // Parentheses must pair within the filter: it cannot step out of the "( )" it is
      // placed in and overrule the statement's own conditions.
      {")", "Invalid Filter syntax: ( )"},
      {"NAME = 'x') OR (AGE > 0", "Invalid Filter syntax: ( )"},
      {"(NAME = 'x'", "Invalid Filter syntax: ( )"},
      // A bracketed name may hold anything, but it cannot open a comment that swallows
      // the rest of the statement.
      {"[A/*B] = 1", "Invalid Filter syntax"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    st.filter = c.filter;
    TStringList list;
    try {
      FilterToSQL(st, &list);
      ADD_FAILURE() << "no exception";
    } catch (const EIB_Error& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

TEST(FilterToSQL, TokensAndOperators) {
  AnsiString text = "  [ORDER DATE]  >= 5";
  AnsiString token = "unchanged";
  NextFilterToken(text, true, false, token);
  EXPECT_EQ(token, "ORDER DATE");
  EXPECT_EQ(text, ">= 5");
  AnsiString op;
  ExtractFilterOperator(text, op);
  EXPECT_EQ(op, ">=");
  EXPECT_EQ(text, "5");
  text = "   ";
  token = "unchanged";
  NextFilterToken(text, false, false, token);
  EXPECT_EQ(token, "unchanged");
  text = "LIKE 'IS NULL'";
  ExtractFilterOperator(text, op);
  EXPECT_EQ(op, "");
  EXPECT_EQ(text, "LIKE 'IS NULL'");
  EXPECT_EQ(CompareCharPos("ab <"), 4);
  EXPECT_EQ(CompareCharPos("abcd<"), 0);
  EXPECT_TRUE(HasCompareChar("a!b"));
  EXPECT_FALSE(HasCompareChar("abc"));
  EXPECT_EQ(FloatTextToSQL("1,5,7"), "1.5.7");
}

TEST(ColumnEqualsSQL, ByColumnKind) {
  FilterStatement st;
  TIB_Row& r = st.fields;
  AnsiString cond;
  ColumnEqualsSQL("X", nullptr, cond);
  EXPECT_EQ(cond, "");
  TIB_Column* name = r.ColumnByName("NAME");
  ColumnEqualsSQL("", name, cond);
  EXPECT_EQ(cond, name->GetFullName() + " IS NULL");
  name->SetAsString("O'Brien");
  ColumnEqualsSQL(" N ", name, cond);
  EXPECT_EQ(cond, "N = 'O''Brien'");
  name->SetAsString("'x'");
  ColumnEqualsSQL("N", name, cond);
  EXPECT_EQ(cond, "N = '''x'''");
  r.ColumnByName("AGE")->SetAsInteger(42);
  ColumnEqualsSQL("AGE", r.ColumnByName("AGE"), cond);
  EXPECT_EQ(cond, "AGE = 42");
  r.ColumnByName("ORDER DATE")->SetAsDateTime(EncodeDate(2008, 12, 24) + EncodeTime(7, 8, 9, 0));
  ColumnEqualsSQL("D", r.ColumnByName("ORDER DATE"), cond);
  EXPECT_EQ(cond, "D = '12/24/2008 07:08:09'");
  EXPECT_EQ(DateTimeToSQLText(EncodeDate(2008, 1, 2)), "'01/02/2008'");
}

}  // namespace
}  // namespace pelvar
