// Filter texts translated to WHERE conditions and run by a real Firebird server (isql-fb
// on an embedded database): the conditions must parse and select exactly the expected
// rows, the month/day/year date literals and the dotted decimals included.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Parse_filter.h"
#include "platform/classes.h"
#include "platform/sysutils.h"
#include "support/firebird.h"

namespace pelvar {
namespace {

using test::FbTestDb;

XSQLVAR MakeVar(int16_t type, int16_t len, const char* alias, int16_t scale = 0) {
  XSQLVAR v{};
  v.sqltype = type;
  v.sqllen = len;
  v.sqlscale = scale;
  auto put = [](char* buf, int16_t& n, const char* s) {
    n = static_cast<int16_t>(std::strlen(s));
    std::memcpy(buf, s, static_cast<size_t>(n));
  };
  put(v.aliasname, v.aliasname_length, alias);
  put(v.relname, v.relname_length, "PEOPLE");
  put(v.sqlname, v.sqlname_length, alias);
  return v;
}

// The columns of table PEOPLE as a statement over it would describe them.
class PeopleStatement : public TIB_RowOwner, public TIB_FilterSource {
 public:
  PeopleStatement() : TIB_RowOwner(nullptr), fields(this, rtFields) {
    vars = {MakeVar(SQL_VARYING + 1, 20, "NAME"), MakeVar(SQL_LONG + 1, 4, "AGE"),
            MakeVar(SQL_INT64 + 1, 8, "AMOUNT", -2), MakeVar(SQL_TIMESTAMP + 1, 8, "ORDERED")};
    fields.SetColumnCount(static_cast<int16_t>(vars.size()));
  }
  ~PeopleStatement() override { fields.ClearColumns(); }
  void SysDescribeRow(TIB_Row* row) override {
    for (size_t i = 0; i < vars.size(); ++i) *row->Var(static_cast<int32_t>(i)) = vars[i];
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

TEST(FilterToSQLDb, ConditionsSelectTheExpectedRows) {
  auto db = FbTestDb::Create(FbTestDb::Mode::Embedded);
  db->RunSql(
      "create table PEOPLE (NAME varchar(20), AGE integer, AMOUNT numeric(15,2), ORDERED timestamp);\n"
      "insert into PEOPLE values ('Smith', 35, 1.25, '2008-02-01 10:00:00');\n"
      "insert into PEOPLE values ('smithson', 20, 1.75, '2008-01-02');\n"
      "insert into PEOPLE values ('Brown', 41, 10.00, '2007-12-24');\n"
      "insert into PEOPLE values ('O''Neil', null, null, null);\n"
      "commit;\n");
  PeopleStatement st;
  struct Case {
    AnsiString filter;
    TFilterOptions options;
    const char* names;  // expected NAME values, ordered, separated by blanks
  };
  const Case cases[] = {
      {"NAME = 'Smith' AND AGE > 30", {}, "Smith"},
      {"NAME = 'Sm*'", {}, "Smith"},
      {"NAME = 'sm*'", TFilterOptions{foCaseInsensitive}, "Smith smithson"},
      {"AGE IS NULL OR AGE BETWEEN 30 AND 40", {}, "O'Neil Smith"},
      {"AGE IN (20, 41)", {}, "Brown smithson"},
      {"NAME NOT LIKE 'S%' AND (AMOUNT > '1,5' OR AMOUNT IS NULL)", {}, "Brown O'Neil smithson"},
      {"AMOUNT > '1,5'", {}, "Brown smithson"},
      {"ORDERED >= '1.1.2008'", {}, "Smith smithson"},
      {"ORDERED = '1.2.2008 10:00:00'", {}, "Smith"},
      {"NAME = \"O'Neil\"", {}, "O'Neil"},
      {"::SQL:: AGE + 1 = 21", {}, "smithson"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.filter);
    st.filter = c.filter;
    st.options = c.options;
    TStringList lines;
    FilterToSQL(st, &lines);
    AnsiString where;
    for (int32_t i = 0; i < lines.Count(); ++i) where += lines.Strings(i) + "\n";
    const std::string out =
        db->RunSql("set heading off;\nselect NAME from PEOPLE where " + where + " order by NAME;\n");
    std::istringstream in(out);
    std::string line, names;
    while (std::getline(in, line)) {
      const AnsiString t = Trim(line);
      if (t.empty()) continue;
      if (!names.empty()) names += " ";
      names += t;
    }
    EXPECT_EQ(names, c.names) << where;
  }
}

}  // namespace
}  // namespace pelvar
