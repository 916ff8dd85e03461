// SQL parameters and macros: the parser that turns named and unnamed parameters into
// server markers and collects the select items, the way back from markers to names, and
// macro expansion.
#include <algorithm>

#include "dbengine/IB_Parse.h"
#include "dbengine/ib_parse_internal.h"
#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace ib_parse_detail;

namespace {

bool WordAt(const AnsiString& s, int32_t pos, const char* word) {
  const int32_t n = static_cast<int32_t>(std::char_traits<char>::length(word));
  if (pos < 1 || pos + n - 1 > Len(s)) return false;
  for (int32_t i = 0; i < n; ++i) {
    if (AsciiUpperChar(s[static_cast<size_t>(pos - 1 + i)]) != word[i]) return false;
  }
  return pos + n > Len(s) || IsWordBreak(CharAt(s, pos + n), false);
}

// Removes leading blanks and ALL, DISTINCT, FIRST value and SKIP value from a select item.
AnsiString CleanFirstItem(AnsiString item) {
  for (int guard = 0; guard < 16; ++guard) {
    item = TrimLeft(item);
    if (WordAt(item, 1, "ALL")) {
      item.erase(0, 3);
    } else if (WordAt(item, 1, "DISTINCT")) {
      item.erase(0, 8);
    } else if (WordAt(item, 1, "FIRST") || WordAt(item, 1, "SKIP")) {
      const int32_t wl = WordAt(item, 1, "FIRST") ? 5 : 4;
      int32_t s = wl + 1, e = 0;
      AnsiString v;
      ReadValueExpr(item, s, e, v, true);
      if (s == 0 && e == 0) {
        item.erase(0, static_cast<size_t>(wl));
      } else {
        item.erase(0, static_cast<size_t>(std::clamp(e - 1, wl, Len(item))));
      }
    } else {
      break;
    }
  }
  return item;
}

}  // namespace

int32_t ParseSQLParams(const AnsiString& sql, std::vector<AnsiString>* param_names,
                       std::vector<AnsiString>* select_items, AnsiString& server_sql,
                       char param_char, bool keep_comments, int32_t& comment_chars,
                       bool select_params_last) {
  if (param_names) param_names->clear();
  if (select_items) select_items->clear();
  server_sql.clear();
  comment_chars = 0;
  const int32_t len = Len(sql);
  if (len == 0) return 0;
  server_sql.reserve(sql.size() + 32);

  int32_t limit = len;
  bool is_block = false;
  int32_t block_begin = 0;
  int32_t sel_start = 0, sel_end = 0;  // the select region [sel_start, sel_end)
  {
    int32_t s = 1, e = 0;
    AnsiString f;
    if (FindSQLKeyword(sql, "EXECUTE", kSqlKeyFirstWord | kSqlKeyNextIsTerm, {"BLOCK"}, s, e, f)) {
      is_block = true;
      int32_t bs = 0, be = 0;
      FindSQLKeyword(sql, "BEGIN", 0, {"END"}, bs, be, f);
      if (bs > 0) {
        block_begin = bs;
        limit = bs - 1;
      }
    } else {
      int32_t ss = 0, se = 0;
      FindSelectClause(sql, ss, se, false);
      if (ss > 0 && WordAt(sql, ss, "SELECT")) {
        sel_start = ss + 6;
        sel_end = se;
      }
    }
  }

  std::vector<AnsiString> names, select_names;
  int32_t index = 0;
  bool collecting = false;
  AnsiString name;
  int32_t param_pos = 0;

  const bool want_items = select_items != nullptr && sel_start > 0;
  int32_t item_start = sel_start;
  bool first_item = true;
  bool items_done = false;
  AnsiString saved;

  int32_t comment_start = 0;
  bool comment_is_line = false;
  bool prev_is_delim = false;
  int32_t last_comment_end = -1;

  TIB_ScanState st;
  auto in_region = [&](int32_t p) { return sel_start > 0 && p >= sel_start && p < sel_end; };
  auto add_param = [&]() {
    if (name.empty()) name = "PRM_" + IntToStr(index);
    server_sql += " /* ";
    server_sql += name;
    server_sql += " */ ";
    if (select_params_last && in_region(param_pos)) {
      select_names.push_back(name);
    } else {
      names.push_back(name);
    }
    ++index;
    collecting = false;
    name.clear();
  };
  auto add_item = [&](int32_t upto) {
    AnsiString text = saved + Mid(sql, item_start, upto - item_start);
    select_items->push_back(EncodeAttributeValue(text));
    saved.clear();
  };
  auto skip_prefix = [&](int32_t pos) {
    const char c = CharAt(sql, pos);
    // A leading star is the first select item, not a prefix.
    if (IsTokenDelimiter(c) && c != '(' && c != '*') {
      sel_start = pos + 1;
    } else if (WordAt(sql, pos, "ALL")) {
      sel_start = pos + 3;
    } else if (WordAt(sql, pos, "DISTINCT")) {
      sel_start = pos + 8;
    } else if (WordAt(sql, pos, "FIRST") || WordAt(sql, pos, "SKIP")) {
      const int32_t wl = WordAt(sql, pos, "FIRST") ? 5 : 4;
      int32_t s = pos + wl, e = sel_end - 1;
      AnsiString v;
      ReadValueExpr(sql, s, e, v, true);
      sel_start = (s == 0 && e == 0) ? pos + wl : std::max(e, pos + wl);
    }
    if (first_item) item_start = sel_start;
  };

  int32_t pos = 1;
  while (pos <= limit) {
    if (want_items && !items_done && pos >= sel_end) {
      add_item(sel_end);
      items_done = true;
    }
    const bool was_comment = st.InComment();
    const int32_t step = ScanSQLChar(sql, pos, st);
    const int32_t n = step > 0 ? step : 1;

    if (!was_comment && st.InComment()) {  // a comment begins
      if (collecting) add_param();
      comment_start = pos;
      comment_is_line = st.InLineComment;
      prev_is_delim = pos == 1 || (last_comment_end != pos && IsTokenDelimiter(CharAt(sql, pos - 1)));
      if (want_items && !items_done && in_region(pos) && pos >= item_start) {
        saved += Mid(sql, item_start, pos - item_start);
        item_start = pos;
      }
      if (keep_comments) {
        server_sql += "/*";
        comment_chars += 2;
      }
      pos += n;
      continue;
    }
    if (was_comment && st.InComment()) {  // inside a comment
      if (keep_comments) {
        const char c = CharAt(sql, pos);
        if (comment_is_line && c == '/' && CharAt(sql, pos - 1) == '*' && pos - 1 > comment_start + 1) {
          server_sql += ' ';
          ++comment_chars;
        }
        server_sql += c;
        ++comment_chars;
      }
      pos += n;
      continue;
    }
    if (was_comment) {  // the comment ends with the characters at pos
      const AnsiString closing = Mid(sql, pos, step);
      if (comment_is_line) {
        if (keep_comments) {
          server_sql += " */";
          comment_chars += 3;
        }
        server_sql += closing;
      } else if (keep_comments) {
        server_sql += closing;
        comment_chars += Len(closing);
      }
      const int32_t after = pos + n;
      if (!comment_is_line && !prev_is_delim && !IsWordBreak(CharAt(sql, after), false)) {
        if (!keep_comments) server_sql += ' ';
        if (!saved.empty() && !IsWordBreak(saved.back(), false)) saved += ' ';
      }
      if (item_start == comment_start) item_start = after;
      if (sel_start == comment_start) sel_start = after;
      last_comment_end = after;
      pos = after;
      continue;
    }

    // An ordinary character.
    const char c = CharAt(sql, pos);
    bool again = true;
    while (again) {
      again = false;
      if (!collecting) {
        if (!st.InQuotes() && st.BracketDepth < 1 && (c == '?' || (param_char != 0 && c == param_char))) {
          server_sql += '?';
          collecting = true;
          name.clear();
          param_pos = pos;
          break;
        }
        if (!is_block && pos == sel_start) skip_prefix(pos);
        if (want_items && !items_done && in_region(pos) && pos >= item_start && st.ParenDepth < 1 &&
            st.BracketDepth < 1 && !st.InQuotes()) {
          // Commas and stars inside literals, quoted names and brackets belong to the item.
          if (c == ',') {
            add_item(pos);
            item_start = pos + 1;
            first_item = false;
          } else if (c == '*' && pos < sel_end - 1) {
            select_items->push_back("<*>");
          }
        }
        server_sql += c;
        break;
      }
      if (!st.InDoubleQuotes) {
        if (c == '"') {  // closes a quoted part of the name
          name += c;
          if (pos + 1 <= limit && CharAt(sql, pos + 1) == '.') {
            name += '.';
            ++pos;
          } else {
            add_param();
          }
          break;
        }
        if (IsTokenDelimiter(c)) {
          add_param();
          again = true;
          continue;
        }
      }
      name += c;
    }
    ++pos;
  }

  if (collecting) add_param();
  if (st.InLineComment && keep_comments && limit == len) {
    // A line comment that runs to the end of the text is closed as well.
    server_sql += " */";
    comment_chars += 3;
  }
  if (want_items && !items_done) {
    if (st.InComment() && item_start == comment_start) {
      select_items->push_back(EncodeAttributeValue(saved));
    } else {
      add_item(std::min(sel_end, limit + 1));
    }
  }
  if (is_block && block_begin > 0) server_sql += From(sql, block_begin);

  const int32_t moved = static_cast<int32_t>(select_names.size());
  names.insert(names.end(), select_names.begin(), select_names.end());
  if (param_names) *param_names = std::move(names);

  if (select_items && !select_items->empty()) {
    (*select_items)[0] = EncodeAttributeValue(CleanFirstItem(DecodeAttributeValue((*select_items)[0])));
  }
  return moved;
}

namespace {

void FillList(TStrings* list, const std::vector<AnsiString>& items) {
  if (list == nullptr) return;
  list->BeginUpdate();
  try {
    list->Clear();
    for (const AnsiString& s : items) list->Add(s);
  } catch (...) {
    list->EndUpdate();
    throw;
  }
  list->EndUpdate();
}

}  // namespace

int32_t ParseSQLParams(const AnsiString& sql, TStrings* param_names, TStrings* select_items,
                       TStrings* /*ignored*/, AnsiString& server_sql, char param_char,
                       bool keep_comments, int32_t& comment_chars, bool select_params_last) {
  std::vector<AnsiString> names, items;
  if (param_names) param_names->Clear();
  if (select_items) select_items->Clear();
  const int32_t r = ParseSQLParams(sql, param_names ? &names : nullptr, select_items ? &items : nullptr,
                                   server_sql, param_char, keep_comments, comment_chars,
                                   select_params_last);
  FillList(param_names, names);
  FillList(select_items, items);
  return r;
}

void MakeServerSQL(const AnsiString& sql, AnsiString& server_sql) {
  int32_t comment_chars = 0;
  ParseSQLParams(sql, static_cast<std::vector<AnsiString>*>(nullptr), nullptr, server_sql, '\0',
                 false, comment_chars, false);
}

void ParamMarkersToNames(const AnsiString& server_sql, AnsiString& sql, char param_char) {
  sql.clear();
  const int32_t len = Len(server_sql);
  if (len == 0) return;
  sql.reserve(server_sql.size());
  TIB_ScanState st;
  bool slash_comment = false;
  int32_t pos = 1;
  while (pos <= len) {
    const bool was_comment = st.InComment();
    const int32_t step = ScanSQLChar(server_sql, pos, st);
    const int32_t n = step > 0 ? step : 1;
    const char c = CharAt(server_sql, pos);
    // Only a "?" with the marker comment after it carries a name; any other "?" stays.
    if (!was_comment && !st.InComment() && !st.InQuotes() && c == '?' &&
        server_sql.compare(static_cast<size_t>(pos), 4, " /* ") == 0) {
      sql += param_char;
      pos += 5;  // "?" and " /* "
      bool quoted = false;
      while (pos <= len) {
        const char x = CharAt(server_sql, pos);
        if (x == '"') {
          sql += x;
          ++pos;
          if (!quoted) {
            quoted = true;
            continue;
          }
          quoted = false;
          if (CharAt(server_sql, pos) == '.' && pos <= len) {
            sql += '.';
            ++pos;
            continue;
          }
          pos += 3;  // " */"; the blank after the marker stays
          break;
        }
        if (!quoted && IsTokenDelimiter(x)) {
          pos += 4;  // " */ "
          break;
        }
        sql += x;
        ++pos;
      }
      continue;
    }
    if (was_comment || st.InComment()) {
      if (!was_comment) slash_comment = c == '/' && CharAt(server_sql, pos + 1) == '/';
      if (!slash_comment) {
        sql += Mid(server_sql, pos, n);
      } else if (was_comment && !st.InComment()) {
        sql += Mid(server_sql, pos, step);  // the line end after a // comment stays
      }
      pos += n;
      continue;
    }
    sql += Mid(server_sql, pos, n);
    pos += n;
  }
}

namespace {

void ExpandMacrosImpl(const AnsiString& sql, const AnsiString& bm, const AnsiString& em,
                      const TIB_MacroCallback& callback, AnsiString& result,
                      std::vector<AnsiString>& active) {
  const size_t len = sql.size();
  bool in_dq = false;
  size_t pos = 0;
  while (pos < len) {
    if (!in_dq && !bm.empty() && pos + bm.size() < len && sql.compare(pos, bm.size(), bm) == 0) {
      size_t p = pos + bm.size();
      AnsiString macro;
      bool closed = false;
      while (p < len) {
        const char c = sql[p];
        if (c == '"') {
          const size_t close = sql.find('"', p + 1);
          const size_t stop = close == AnsiString::npos ? len : close + 1;
          macro += sql.substr(p, stop - p);
          p = stop;
          continue;
        }
        if (!em.empty() && sql.compare(p, em.size(), em) == 0) {
          closed = true;
          p += em.size();
          break;
        }
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '.') {
          macro += c;
          ++p;
          continue;
        }
        break;
      }
      if (closed) {
        if (std::find(active.begin(), active.end(), macro) != active.end()) {
          throw Exception("Macro expansion does not end: " + bm + macro + em + " refers to itself");
        }
        if (static_cast<int>(active.size()) >= kMaxMacroDepth) {
          throw Exception("Macro expansion does not end: more than " + IntToStr(kMaxMacroDepth) +
                          " nested macros at " + bm + macro + em);
        }
        AnsiString replacement;
        callback(macro, replacement);
        active.push_back(macro);
        ExpandMacrosImpl(replacement, bm, em, callback, result, active);
        active.pop_back();
        pos = p;
        continue;
      }
      // Not a macro after all: the mark and the name go back as text.
      result += sql.substr(pos, p - pos);
      pos = p;
      continue;
    }
    if (sql[pos] == '"') in_dq = !in_dq;
    result += sql[pos];
    ++pos;
  }
}

}  // namespace

void ExpandMacros(const AnsiString& sql, const AnsiString& begin_mark, const AnsiString& end_mark,
                  const TIB_MacroCallback& callback, AnsiString& result) {
  result.clear();
  if (!callback) return;
  const AnsiString bm = begin_mark.size() == 1 ? begin_mark + begin_mark : begin_mark;
  const AnsiString em = end_mark.size() == 1 ? end_mark + end_mark : end_mark;
  std::vector<AnsiString> active;
  AnsiString out;
  ExpandMacrosImpl(sql, bm, em, callback, out, active);
  result = std::move(out);
}

}  // namespace pelvar
