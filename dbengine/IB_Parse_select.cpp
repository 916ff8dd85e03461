// SELECT analysis and rewriting: relation aliases of the FROM clause, FIRST/SKIP, the
// FOR UPDATE OF columns, the counting and key look-up statements and added conditions.
#include <algorithm>

#include "dbengine/IB_Parse.h"
#include "dbengine/ib_parse_internal.h"
#include "platform/classes.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace ib_parse_detail;

void SkipSQLBlanks(const AnsiString& sql, int32_t& pos, int32_t limit, bool skip_parens,
                   bool skip_brackets, bool skip_literals, bool skip_quoted_names) {
  const int32_t len = Len(sql);
  if (limit <= 0 || limit > len) limit = len;
  if (pos < 1) pos = 1;
  TIB_ScanState st;
  while (pos <= limit) {
    const TIB_ScanState was = st;
    const int32_t step = ScanSQLChar(sql, pos, st);
    const char c = CharAt(sql, pos);
    if (!was.InComment() && !was.InQuotes() && was.ParenDepth < 1 && was.BracketDepth < 1) {
      if (c == '(' && !skip_parens) return;
      if (c == '[' && !skip_brackets) return;
      if (st.InSingleQuotes && !skip_literals) return;
      if (st.InDoubleQuotes && !skip_quoted_names) return;
    }
    const bool inside = was.InComment() || st.InComment() || was.InQuotes() || st.InQuotes() ||
                        was.ParenDepth > 0 || st.ParenDepth > 0 || was.BracketDepth > 0 ||
                        st.BracketDepth > 0;
    if (inside) {
      pos += step > 0 ? step : 1;
      continue;
    }
    if (!IsBlank(c)) return;
    ++pos;
  }
}

void ReadSQLWord(const AnsiString& sql, int32_t& pos, int32_t limit, AnsiString& word) {
  word.clear();
  const int32_t len = Len(sql);
  if (limit <= 0 || limit > len) limit = len;
  if (pos < 1) pos = 1;
  bool in_double = false, in_single = false;
  while (pos <= limit) {
    const char c = CharAt(sql, pos);
    const char n = CharAt(sql, pos + 1);
    if (!in_double && !in_single) {
      if (IsBlank(c) || c == '(' || c == ',') break;
      if (c == '/' && (n == '*' || n == '/')) break;
      if (c == '-' && n == '-') break;
    }
    if (c == '"' && !in_single) in_double = !in_double;
    else if (c == '\'' && !in_double) in_single = !in_single;
    word += c;
    ++pos;
  }
}

std::vector<AnsiString> ParseRelationAliases(const AnsiString& sql) {
  std::vector<AnsiString> lines;
  int32_t fs = 0, fe = 0;
  FindFromClause(sql, fs, fe);
  if (fs == 0) return lines;
  const int32_t clause_end = fe - 1;
  int32_t pos = fs + 4;
  SkipSQLBlanks(sql, pos, clause_end, false, false, false, false);
  const int32_t first = pos;
  static const std::vector<AnsiString> kTerms = {"(", "JOIN", "LEFT", "RIGHT", "OUTER", "INNER", "ON", ",", ""};
  static const std::vector<AnsiString> kAfterArgs = {"JOIN", "LEFT", "RIGHT", "OUTER", "INNER", "ON", ",", ""};
  static const std::vector<AnsiString> kAfterOn = {"JOIN", ","};

  auto add_line = [&](const AnsiString& relation_in, bool parenthesised, const AnsiString& alias_in) {
    if (relation_in.empty()) return;
    AnsiString relation = relation_in;
    if (!parenthesised && !IsQuoted(relation, '"')) relation = AnsiUpperCase(relation);
    AnsiString alias = alias_in;
    if (!alias.empty() && !IsQuoted(alias, '"')) alias = AnsiUpperCase(alias);
    if (alias.empty()) {
      if (parenthesised) return;
      alias = relation;
    }
    lines.push_back(alias + "=" + relation);
  };
  // The alias: the next word between p and the terminator at term_pos.
  auto read_alias = [&](int32_t p, int32_t term_pos) {
    AnsiString alias;
    SkipSQLBlanks(sql, p, term_pos - 1, false, false, false, false);
    if (p < term_pos) ReadSQLWord(sql, p, term_pos - 1, alias);
    // "T AS X" names the alias after the AS.
    if (AnsiSameText(alias, "AS")) {
      alias.clear();
      SkipSQLBlanks(sql, p, term_pos - 1, false, false, false, false);
      if (p < term_pos) ReadSQLWord(sql, p, term_pos - 1, alias);
    }
    return alias;
  };

  while (pos <= clause_end) {
    int32_t s = pos, e = clause_end;
    AnsiString found;
    if (!FindSQLKeyword(sql, "", 0, kTerms, s, e, found)) break;
    int32_t term_pos = e;
    if (found == "(") {
      int32_t p = term_pos;
      if (term_pos == first) {
        // A derived table: the parenthesised part with what follows it up to the alias.
        SkipSQLBlanks(sql, p, clause_end, true, false, false, false);
        const AnsiString relation = CopyRange(sql, term_pos, p);
        int32_t s2 = p, e2 = clause_end;
        AnsiString f2;
        FindSQLKeyword(sql, "", 0, kAfterArgs, s2, e2, f2);
        add_line(relation, true, read_alias(p, e2));
        term_pos = e2;
        found = f2;
      } else {
        // A procedure with input arguments.
        const AnsiString relation = Trim(CopyRange(sql, pos, term_pos));
        SkipSQLBlanks(sql, p, clause_end, true, false, true, true);
        if (p <= term_pos) p = term_pos + 1;
        int32_t s2 = p, e2 = clause_end;
        AnsiString f2;
        FindSQLKeyword(sql, "", 0, kAfterArgs, s2, e2, f2);
        AnsiString word;
        int32_t wp = 1;
        ReadSQLWord(relation, wp, 0, word);
        add_line(word, false, read_alias(p, e2));
        term_pos = e2;
        found = f2;
      }
    } else {
      int32_t p = pos;
      SkipSQLBlanks(sql, p, term_pos - 1, false, false, false, false);
      if (p < term_pos) {
        AnsiString relation;
        ReadSQLWord(sql, p, term_pos - 1, relation);
        add_line(relation, false, read_alias(p, term_pos));
      }
    }
    if (found.empty() || term_pos > clause_end) break;
    int32_t next = term_pos + Len(found);
    if (found == "ON") {
      int32_t s3 = next, e3 = clause_end;
      AnsiString f3;
      if (!FindSQLKeyword(sql, "", 0, kAfterOn, s3, e3, f3)) break;
      next = e3 + Len(f3);
    }
    if (next <= pos) break;
    pos = next;
  }
  return lines;
}

void ParseRelationAliases(const AnsiString& sql, TStrings* list) {
  if (list == nullptr) return;
  list->BeginUpdate();
  try {
    list->Clear();
    for (const AnsiString& s : ParseRelationAliases(sql)) list->Add(s);
  } catch (...) {
    list->EndUpdate();
    throw;
  }
  list->EndUpdate();
}

void ReadValueExpr(const AnsiString& text, int32_t& start, int32_t& end, AnsiString& value,
                   bool give_back_star) {
  value.clear();
  const int32_t len = Len(text);
  if (start < 1) start = 1;
  if (end <= 0 || end > len) end = len;
  bool pending = false, complete = false, numeric = false, operator_seen = false;
  int32_t depth = 0;
  char quote = 0;
  int32_t i = start;
  for (; i <= end; ++i) {
    const char c = CharAt(text, i);
    if (quote != 0) {
      value += c;
      if (c == quote) {
        quote = 0;
        if (depth == 0) complete = true;
      }
      continue;
    }
    if (IsBlank(c)) {
      if (pending && depth == 0) complete = true;
      value += c;
      continue;
    }
    bool stop = false;
    switch (c) {
      case '\'':
      case '"':
        if (complete) {
          stop = true;
        } else {
          quote = c;
          pending = true;
        }
        break;
      case '(':
        if (complete) {
          stop = true;
        } else {
          ++depth;
          pending = true;
        }
        break;
      case ')':
        if (complete) {
          stop = true;
        } else {
          --depth;
          if (depth < 1) complete = true;
        }
        break;
      case '*': case '+': case '-': case '/': case '|': {
        const bool pair = c == '|' && CharAt(text, i + 1) == '|' && i + 1 <= end;
        if (c == '|' && !pair) {
          if (pending && depth == 0 && (numeric || complete)) stop = true;
          else if (!pending) {
            pending = true;
            numeric = false;
          }
          break;
        }
        if (pending || complete) {
          pending = false;
          complete = false;
          operator_seen = true;
          if (pair) {
            value += c;
            ++i;
          }
        } else if (depth == 0) {
          stop = true;
        }
        break;
      }
      case ',':
      case ';':
        if (depth == 0) stop = true;
        break;
      case ':':
      case '?':
        if (complete || (pending && depth == 0)) {
          stop = true;
        } else {
          pending = true;
          numeric = false;
        }
        break;
      default:
        if (c >= '0' && c <= '9') {
          if (complete) {
            stop = true;
          } else if (!pending) {
            pending = true;
            numeric = true;
          }
        } else if (pending) {
          if (depth == 0 && (numeric || complete)) stop = true;
        } else {
          pending = true;
          numeric = false;
        }
    }
    if (stop) break;
    value += c;
  }
  const int32_t stop_pos = i;
  const AnsiString trimmed = Trim(value);
  if (value.find_first_of(":(?") == AnsiString::npos && !trimmed.empty() &&
      !(trimmed[0] >= '0' && trimmed[0] <= '9')) {
    value.clear();
    start = 0;
    end = 0;
    return;
  }
  if (give_back_star && operator_seen && !trimmed.empty() && trimmed.back() == '*') {
    int32_t p = stop_pos - 1;
    while (p > start && IsBlank(CharAt(text, p))) --p;
    end = p;  // on the star
    value = Mid(text, start, p - start);
    return;
  }
  end = stop_pos;
}

AnsiString GetFirstSkip(const AnsiString& select_text) {
  const AnsiString up = AnsiUpperCase(select_text);
  const int32_t fp = FindSQLText("FIRST", up, 1, true);
  const int32_t sp = FindSQLText("SKIP", up, 1, true);
  if (fp == 0 && sp == 0) return {};
  // The values end with the select list at the latest, so that a star item or the FROM
  // of a whole statement is never taken for a part of them.
  int32_t ss = 0, se = 0;
  FindSelectClause(up, ss, se, false);
  const int32_t limit = ss > 0 && se > ss ? se - 1 : 0;
  AnsiString first_value, skip_value;
  if (fp > 0) {
    if (sp > fp) {
      first_value = CopyRange(up, fp + 5, sp);
    } else {
      int32_t s = fp + 5, e = limit;
      ReadValueExpr(up, s, e, first_value, true);
    }
  }
  if (sp > 0) {
    int32_t s = sp + 4, e = limit;
    ReadValueExpr(up, s, e, skip_value, true);
  }
  AnsiString r;
  if (!first_value.empty()) r = "FIRST" + first_value;
  if (!skip_value.empty()) r += "SKIP" + skip_value;
  return r;
}

void GetForUpdateColumns(const AnsiString& sql, TStrings* list) {
  AnsiString server;
  MakeServerSQL(sql, server);
  const AnsiString clause = GetForUpdateClause(server);
  if (list == nullptr) return;
  list->BeginUpdate();
  try {
    list->Clear();
    if (!clause.empty()) {
      int32_t s = 1, e = 0;
      AnsiString f;
      if (FindSQLKeyword(clause, "FOR", kSqlKeyNextIsTerm, {"UPDATE"}, s, e, f)) {
        int32_t os = e + 5, oe = 0;
        AnsiString f2;
        if (FindSQLKeyword(clause, "OF", 0, {";", ""}, os, oe, f2)) {
          AnsiString cols;
          bool inside = false;
          for (char c : From(clause, os + 3)) {
            if (c == '"') inside = !inside;
            if (c == ' ' && !inside) continue;
            cols += c;
          }
          list->SetCommaText(cols);
        }
      }
    }
  } catch (...) {
    list->EndUpdate();
    throw;
  }
  list->EndUpdate();
}

AnsiString MakeCountSQL(const AnsiString& select_text) {
  AnsiString count_list = "SELECT COUNT( * )";
  AnsiString result = select_text;
  const AnsiString sel = GetSelectClause(select_text);
  // DISTINCT and UNION count only as whole words outside literals, quoted names, comments
  // and parentheses; names that merely contain them are left alone.
  const int32_t dp = FindSQLText("DISTINCT", AnsiUpperCase(sel), 1, true);
  if (dp > 1) {
    AnsiString list = Trim(From(sel, dp + 9));
    AnsiString rewritten;
    int32_t last = 1;
    for (int32_t p = CharPosAtTopLevel(',', list, 1); p > 0; p = CharPosAtTopLevel(',', list, p + 1)) {
      rewritten += Mid(list, last, p - last) + " || '.zZz.' ||";
      last = p + 1;
    }
    rewritten += From(list, last);
    count_list = "SELECT COUNT( DISTINCT '.zZz.' || " + Trim(rewritten) + " )";
  }
  SetSelectClause(result, count_list);
  SetPlanClause(result, "");
  SetOrderByClause(result, "");
  SetForUpdateClause(result, "");
  const int32_t up = FindSQLText("UNION", AnsiUpperCase(result), 1, true);
  if (up > 1) result.resize(static_cast<size_t>(up - 1));
  return Trim(result);
}

int32_t MakeKeyLookupSQL(const AnsiString& select_text, const AnsiString& new_select,
                         const std::vector<AnsiString>& keys, int32_t& select_params,
                         AnsiString& statement) {
  AnsiString result = select_text;
  const AnsiString kept_select = GetSelectClause(select_text);
  SetSelectClause(result, new_select);
  SetPlanClause(result, "");
  SetOrderByClause(result, "");
  SetForUpdateClause(result, "");

  AnsiString condition;
  for (size_t i = 0; i < keys.size(); ++i) {
    const AnsiString& k = keys[i];
    const int32_t eq = CharPosOutsideQuotes('=', k, 1);
    const AnsiString name = eq > 0 ? k.substr(0, static_cast<size_t>(eq - 1)) : k;
    if (i > 0) condition += "\r\n  AND ";
    condition += name + "=?";
  }
  AnsiString where = GetWhereClause(result);
  PrependWhereCondition(where, condition);
  SetWhereClause(result, where);

  std::vector<AnsiString> params;
  AnsiString server;
  int32_t comment_chars = 0;
  ParseSQLParams(GetFromClause(result), &params, nullptr, server, '\0', true, comment_chars, false);
  const int32_t from_params = static_cast<int32_t>(params.size());
  ParseSQLParams(kept_select, &params, nullptr, server, '\0', true, comment_chars, false);
  select_params = static_cast<int32_t>(params.size());
  statement = result;
  return from_params;
}

int32_t MakeKeyLookupSQL(const AnsiString& select_text, const AnsiString& new_select,
                         const TStrings* keys, int32_t& select_params, AnsiString& statement) {
  std::vector<AnsiString> k;
  if (keys) {
    for (int32_t i = 0; i < keys->Count(); ++i) k.push_back(keys->Get(i));
  }
  return MakeKeyLookupSQL(select_text, new_select, k, select_params, statement);
}

namespace {

bool HoldsOrOrComment(const AnsiString& text) {
  return text.find("//") != AnsiString::npos || text.find("--") != AnsiString::npos ||
         AnsiUpperCase(text).find("OR") != AnsiString::npos;
}

}  // namespace

void AddWhereCondition(AnsiString& where, const AnsiString& condition) {
  const AnsiString w = Trim(where);
  const AnsiString c = Trim(condition);
  if (c.empty()) return;
  if (w.empty()) {
    where = "WHERE " + c;
    return;
  }
  const AnsiString old = From(w, 7);
  if (!HoldsOrOrComment(old) && !HoldsOrOrComment(c)) {
    where = w + "\r\n  AND " + c;
  } else {
    where = " WHERE (\r\n      " + old + "\r\n      )\r\n  AND " + c;
  }
}

void PrependWhereCondition(AnsiString& where, const AnsiString& condition) {
  const AnsiString w = Trim(where);
  const AnsiString c = Trim(condition);
  if (c.empty()) return;
  if (w.empty()) {
    where = "WHERE " + c;
    return;
  }
  const AnsiString old = Trim(From(w, 7));
  if (!HoldsOrOrComment(old) && !HoldsOrOrComment(c)) {
    where = "WHERE " + c + "\r\n  AND " + old;
  } else {
    where = "WHERE ( " + c + " ) \r\n  AND  ( " + old + "\r\n)";
  }
}

}  // namespace pelvar
