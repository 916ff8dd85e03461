// libFuzzer target for the filter-expression parser: arbitrary text as a dataset's
// filter over columns of every kind, translated into SQL lines; plus the token and
// operator helpers the translation is built from. Bad syntax may raise the project's
// exceptions; nothing else may happen.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Parse.h"
#include "dbengine/IB_Parse_filter.h"
#include "fuzz_support.h"
#include "platform/classes.h"
#include "platform/sysutils.h"

namespace pelvar {
namespace {

XSQLVAR MakeVar(int16_t type, int16_t len, const char* name, int16_t scale = 0, int16_t subtype = 0) {
  XSQLVAR v{};
  v.sqltype = static_cast<int16_t>(type + 1);
  v.sqllen = len;
  v.sqlscale = scale;
  v.sqlsubtype = subtype;
  auto put = [](char* buf, int16_t& n, const char* s) {
    n = static_cast<int16_t>(std::strlen(s));
    std::memcpy(buf, s, static_cast<size_t>(n));
  };
  put(v.aliasname, v.aliasname_length, name);
  put(v.relname, v.relname_length, "PEOPLE");
  put(v.sqlname, v.sqlname_length, name);
  return v;
}

// A statement with a column of each kind the translation tells apart; a text column
// carries a NOCASE attribute. It is its own filter source.
class FilterStatement : public TIB_RowOwner, public TIB_FilterSource {
 public:
  FilterStatement() : TIB_RowOwner(nullptr), fields(this, rtFields) {
    vars = {MakeVar(SQL_VARYING, 20, "NAME"),       MakeVar(SQL_TEXT, 10, "CODE"),
            MakeVar(SQL_LONG, 4, "AGE"),            MakeVar(SQL_SHORT, 2, "KIND"),
            MakeVar(SQL_INT64, 8, "AMOUNT", -2),    MakeVar(SQL_DOUBLE, 8, "WEIGHT"),
            MakeVar(SQL_FLOAT, 4, "RATIO"),         MakeVar(SQL_TIMESTAMP, 8, "ORDER DATE"),
            MakeVar(SQL_TYPE_DATE, 4, "BORN"),      MakeVar(SQL_TYPE_TIME, 4, "AT"),
            MakeVar(SQL_BLOB, 8, "NOTE", 0, 1),     MakeVar(SQL_BOOLEAN, 1, "ACTIVE"),
            MakeVar(SQL_VARYING, 20, "CITY")};
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

}  // namespace
}  // namespace pelvar

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace pelvar;
  if (size < 1 || size > 4096) return 0;
  static FilterStatement st;
  st.options = {};
  if (data[0] & 1) st.options.Include(foCaseInsensitive);
  if (data[0] & 2) st.options.Include(foNoPartialCompare);
  st.filter = AnsiString(reinterpret_cast<const char*>(data) + 1, size - 1);
  TStringList lines;
  bool translated = false;
  try {
    FilterToSQL(st, &lines);
    translated = true;
  } catch (const Exception&) {
  }
  // A translated filter (not passed through with ::SQL::) is whole SQL between its "("
  // and ")": every literal, quoted name, comment and parenthesis it opens is closed again
  // and it closes none it did not open, so that it cannot step out of its parentheses
  // or swallow the clauses after it in the statement.
  const AnsiString trimmed = Trim(st.filter);
  if (translated && lines.Count() > 0 && UpperCase(trimmed.substr(0, 7)) != "::SQL::") {
    AnsiString sql;
    for (int32_t i = 1; i + 1 < lines.Count(); ++i) sql += lines.Strings(i) + "\n";
    TIB_ScanState scan;
    int32_t lowest = 0;
    const int32_t len = static_cast<int32_t>(sql.size());
    for (int32_t pos = 1; pos <= len;) {
      pos += std::max(ScanSQLChar(sql, pos, scan), 1);
      lowest = std::min(lowest, scan.ParenDepth);
    }
    if (lines.Count() < 2 || lines.Strings(0) != "(" || lines.Strings(lines.Count() - 1) != ")" ||
        scan.InQuotes() || scan.InComment() || scan.ParenDepth != 0 || lowest < 0) {
      std::fprintf(stderr, "translated filter is not closed SQL:\n%s\n", sql.c_str());
      std::abort();
    }
  }
  // The helpers on their own, walked to the end of the text as the translation walks
  // them; bad syntax raises as in the translation.
  try {
    AnsiString text = st.filter, token;
    for (size_t guard = 0; !text.empty(); ++guard) {
      if (guard > st.filter.size()) {
        std::fprintf(stderr, "NextFilterToken does not advance\n");
        std::abort();
      }
      const size_t before = text.size();
      NextFilterToken(text, (data[0] & 4) != 0, false, token);
      if (text.size() >= before) break;  // no further token
    }
  } catch (const Exception&) {
  }
  try {
    int32_t start = 1, end = static_cast<int32_t>(st.filter.size()) + 1;
    (void)FilterTokenBounds(st.filter, start, end, (data[0] & 4) != 0);
  } catch (const Exception&) {
  }
  AnsiString rest = st.filter, op;
  try {
    ExtractFilterOperator(rest, op);
  } catch (const Exception&) {
  }
  (void)CompareCharPos(st.filter);
  (void)FloatTextToSQL(st.filter);
  return 0;
}
