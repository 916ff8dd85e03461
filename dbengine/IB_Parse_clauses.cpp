// SELECT statement clauses: the keyword and terminator search, one finder, reader and
// writer per clause, and the range routines they share.
#include <algorithm>

#include "dbengine/IB_Parse.h"
#include "dbengine/ib_parse_internal.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace ib_parse_detail;

namespace {

struct Pattern {
  AnsiString word;  // decoded, marks removed
  bool lead_pct = false;
  bool trail_pct = false;
  bool first_half = false;
  bool second_half = false;
  bool stop = false;         // a one-character stop terminator
  bool end_of_text = false;  // the empty terminator
};

Pattern MakePattern(const AnsiString& raw, bool terminator) {
  Pattern p;
  if (terminator && raw.empty()) {
    p.end_of_text = true;
    return p;
  }
  if (terminator && raw.size() == 1) {
    p.stop = true;
    p.word = raw;
    return p;
  }
  AnsiString w = raw;
  if (!w.empty() && w.front() == '%') {
    p.lead_pct = true;
    w.erase(0, 1);
  } else if (!w.empty() && w.front() == '-') {
    p.second_half = true;
    w.erase(0, 1);
  }
  if (!w.empty() && w.back() == '%') {
    p.trail_pct = true;
    w.pop_back();
  } else if (!w.empty() && w.back() == '-') {
    p.first_half = true;
    w.pop_back();
  }
  p.word = DecodeAttributeValue(w);
  return p;
}

// Walks a text with the scanner; a comment that ends is passed over with its closing
// characters, and the position after it is flagged.
struct Walker {
  const AnsiString* s;
  int32_t pos;
  TIB_ScanState st;
  int32_t step = 0;
  bool comment_ended = false;

  void Classify() {
    comment_ended = false;
    const bool was = st.InComment();
    step = ScanSQLChar(*s, pos, st);
    if (was && !st.InComment()) {
      pos += step > 0 ? step : 1;
      comment_ended = true;
      step = ScanSQLChar(*s, pos, st);
    }
  }
  void Next() {
    pos += step > 0 ? step : 1;
    Classify();
  }
  // Moves past count characters, then past blanks and comments.
  void SkipWordAndBlanks(int32_t count) {
    const int32_t target = pos + count;
    while (pos < target) Next();
    const int32_t len = Len(*s);
    while (pos <= len && (st.InComment() || IsBlank(CharAt(*s, pos)))) Next();
  }
};

bool SameTextAt(const AnsiString& s, int32_t pos, const AnsiString& word) {
  const int32_t n = Len(word);
  if (pos < 1 || pos + n - 1 > Len(s)) return false;
  for (int32_t i = 0; i < n; ++i) {
    if (AnsiUpperChar(s[static_cast<size_t>(pos - 1 + i)]) != AnsiUpperChar(word[static_cast<size_t>(i)]))
      return false;
  }
  return true;
}

bool MatchWordAt(const AnsiString& s, int32_t pos, bool word_start, const Pattern& p) {
  const int32_t n = Len(p.word);
  if (n == 0) return false;
  if (!p.lead_pct && !word_start) return false;
  if (!SameTextAt(s, pos, p.word)) return false;
  if (!p.trail_pct && pos + n <= Len(s) && !IsWordBreak(CharAt(s, pos + n), true)) return false;
  return true;
}

bool WordStartAfterSkip(const AnsiString& s, const Walker& w) {
  return w.comment_ended || IsWordBreak(CharAt(s, w.pos - 1), true);
}

const std::vector<AnsiString> kSelectTerms = {"FROM", "WHERE", "GROUP-", "-BY", "HAVING",
                                              "UNION", "PLAN", "ORDER-", "-BY", "ROWS",
                                              "FOR-", "-UPDATE", ";", ""};
const std::vector<AnsiString> kFromTerms = {"WHERE", "GROUP-", "-BY", "HAVING", "UNION",
                                            "PLAN", "ORDER-", "-BY", "ROWS", "FOR-",
                                            "-UPDATE", ";", ""};
// ROWS closes a WHERE clause as it closes the other clauses before it.
const std::vector<AnsiString> kWhereTerms = {"ORDER-", "-BY", "GROUP-", "-BY", "HAVING",
                                             "UNION", "PLAN", "ROWS", "FOR-", "-UPDATE",
                                             ";", ""};
const std::vector<AnsiString> kGroupByTerms = {"HAVING", "UNION", "PLAN", "ORDER-", "-BY",
                                               "ROWS", "FOR-", "-UPDATE", ";", ""};
const std::vector<AnsiString> kHavingTerms = {"UNION", "PLAN", "ORDER-", "-BY", "ROWS",
                                              "FOR-", "-UPDATE", ";", ""};
const std::vector<AnsiString> kUnionTerms = {"PLAN", "ORDER-", "-BY", "ROWS", "FOR-",
                                             "-UPDATE", ";", ""};
const std::vector<AnsiString> kPlanTerms = {"ORDER-", "-BY", "ROWS", "FOR-", "-UPDATE", ";", ""};
const std::vector<AnsiString> kOrderByTerms = {"ROWS", "FOR-", "-UPDATE", ";", ""};
const std::vector<AnsiString> kForUpdateTerms = {"WITH", "LOCK", ";", ""};

void FindClause(const AnsiString& sql, const char* keyword, const std::vector<AnsiString>& terms,
                uint8_t flags, int32_t& start_pos, int32_t& end_pos) {
  start_pos = 0;
  end_pos = 0;
  AnsiString found;
  FindSQLKeyword(sql, keyword, flags, terms, start_pos, end_pos, found);
}

AnsiString ReadClause(const AnsiString& sql, void (*finder)(const AnsiString&, int32_t&, int32_t&),
                      int32_t* start_out, int32_t* end_out) {
  int32_t s = 0, e = 0;
  finder(sql, s, e);
  if (start_out) *start_out = s;
  if (end_out) *end_out = e;
  return s == 0 ? AnsiString() : Trim(CopyRange(sql, s, e));
}

using Finder = void (*)(const AnsiString&, int32_t&, int32_t&);

void OwnSelect(const AnsiString& sql, int32_t& s, int32_t& e) { FindSelectClause(sql, s, e, true); }

// Replaces the clause when present; otherwise inserts it at the end of the nearest
// preceding clause that is present, or in front of the text.
void WriteClause(AnsiString& sql, const AnsiString& clause, Finder own,
                 std::initializer_list<Finder> preceding) {
  int32_t s = 0, e = 0;
  own(sql, s, e);
  if (s != 0) {
    ReplaceRange(sql, clause, s, e);
    return;
  }
  for (Finder f : preceding) {
    int32_t ps = 0, pe = 0;
    f(sql, ps, pe);
    if (ps != 0) {
      ReplaceRange(sql, clause, pe, pe);
      return;
    }
  }
  ReplaceRange(sql, clause, 1, 1);
}

}  // namespace

bool FindSQLKeyword(const AnsiString& sql, const AnsiString& keywords, uint8_t flags,
                    const std::vector<AnsiString>& terminators, int32_t& start_pos,
                    int32_t& end_pos, AnsiString& found) {
  const int32_t len = Len(sql);
  if (len == 0) return false;
  const int32_t limit = end_pos <= 0 || end_pos > len ? len : end_pos;
  const int32_t start = std::max(start_pos, 1);
  if (start > limit) return false;
  found.clear();

  std::vector<AnsiString> raw_words;
  {
    size_t i = 0;
    while (i < keywords.size()) {
      while (i < keywords.size() && IsBlank(keywords[i])) ++i;
      size_t j = i;
      while (j < keywords.size() && !IsBlank(keywords[j])) ++j;
      if (j > i) raw_words.push_back(keywords.substr(i, j - i));
      i = j;
    }
  }
  std::vector<Pattern> kw, terms;
  bool track_parens = (flags & kSqlKeyInParens) == 0;
  const bool skip_brackets = (flags & kSqlKeySkipBrackets) != 0;
  bool track_brackets = skip_brackets;
  bool look_literals = false, look_names = false, any_lead_pct = false, has_end_term = false;
  AnsiString stop_chars;
  auto note_raw = [&](const AnsiString& raw) {
    if (!raw.empty() && raw.front() == '(') track_parens = false;
    if (!raw.empty() && raw.front() == '[') track_brackets = false;
    if (IsQuoted(raw, '\'')) look_literals = true;
    if (IsQuoted(raw, '"')) look_names = true;
  };
  for (const AnsiString& w : raw_words) {
    note_raw(w);
    kw.push_back(MakePattern(w, false));
    any_lead_pct = any_lead_pct || kw.back().lead_pct;
  }
  for (const AnsiString& t : terminators) {
    note_raw(t);
    terms.push_back(MakePattern(t, true));
    const Pattern& p = terms.back();
    any_lead_pct = any_lead_pct || p.lead_pct;
    if (p.end_of_text) has_end_term = true;
    if (p.stop) stop_chars += p.word;
  }

  bool keyword_phase = !kw.empty();
  if (!keyword_phase) start_pos = start;
  int32_t nest = 0;
  const bool psql = (flags & kSqlKeyPsqlBlocks) != 0;

  Walker w{&sql, start, {}};
  w.st.ParenDepth = track_parens ? 0 : kScanDepthUntracked;
  w.st.BracketDepth = track_brackets ? 0 : kScanDepthUntracked;
  w.Classify();

  auto whole_word = [&](int32_t pos, const char* word) {
    const int32_t n = static_cast<int32_t>(std::char_traits<char>::length(word));
    return SameTextAt(sql, pos, word) && (pos + n > len || IsWordBreak(CharAt(sql, pos + n), true));
  };

  while (w.pos <= limit) {
    const char c = CharAt(sql, w.pos);
    const bool eligible = !w.st.InComment() && !IsBlank(c) &&
                          (!w.st.InSingleQuotes || look_literals) &&
                          (!w.st.InDoubleQuotes || look_names) &&
                          (!track_parens || w.st.ParenDepth < 1) &&
                          (!skip_brackets || !track_brackets || w.st.BracketDepth < 1);
    if (!eligible) {
      w.Next();
      continue;
    }
    if (!w.st.InQuotes() && nest == 0 && stop_chars.find(c) != AnsiString::npos) {
      found = AnsiString(1, c);
      end_pos = w.pos;
      if (keyword_phase) {
        start_pos = w.pos;
        return false;
      }
      return true;
    }
    const bool word_start = w.pos == start || w.comment_ended || IsWordBreak(CharAt(sql, w.pos - 1), true);
    if (!word_start && !any_lead_pct) {
      w.Next();
      continue;
    }
    if (psql && word_start && !w.st.InQuotes()) {
      if (whole_word(w.pos, "BEGIN") || whole_word(w.pos, "CASE")) {
        ++nest;
        w.Next();
        continue;
      }
      if (nest > 0 && whole_word(w.pos, "END")) {
        --nest;
        w.Next();
        continue;
      }
    }
    if (nest > 0) {
      w.Next();
      continue;
    }
    if (keyword_phase) {
      Walker m = w;
      bool ok = true;
      bool ws = word_start;
      for (size_t i = 0; i < kw.size() && ok; ++i) {
        if (i > 0) {
          m.SkipWordAndBlanks(Len(kw[i - 1].word));
          ws = WordStartAfterSkip(sql, m);
        }
        ok = m.pos <= len && !m.st.InComment() && MatchWordAt(sql, m.pos, ws, kw[i]);
      }
      if (ok) {
        start_pos = w.pos;
        keyword_phase = false;
        const int32_t target = m.pos + Len(kw.back().word);
        while (m.pos < target) m.Next();
        w = m;
        continue;
      }
      if (flags & kSqlKeyFirstWord) return false;
      w.Next();
      continue;
    }
    // Terminating phase: the terminator list in its order.
    {
      AnsiString prefix;
      Walker cur = w;
      bool cur_ws = word_start;
      for (const Pattern& p : terms) {
        if (p.stop || p.end_of_text) continue;
        if (p.second_half && prefix.empty()) continue;
        const bool ok = cur.pos <= len && !cur.st.InComment() && MatchWordAt(sql, cur.pos, cur_ws, p);
        if (!ok) {
          if (!prefix.empty()) {
            prefix.clear();
            cur = w;
            cur_ws = word_start;
          }
          continue;
        }
        if (p.first_half) {
          prefix = prefix.empty() ? p.word : prefix + " " + p.word;
          cur.SkipWordAndBlanks(Len(p.word));
          cur_ws = WordStartAfterSkip(sql, cur);
          continue;
        }
        if (p.second_half) {
          end_pos = w.pos;
          found = prefix + " " + p.word;
        } else {
          end_pos = cur.pos;
          found = p.word;
        }
        return true;
      }
    }
    if ((flags & kSqlKeyNextIsTerm) == 0) {
      w.Next();
      continue;
    }
    if (flags & kSqlKeyFirstWord) {
      found.clear();
      return false;
    }
    if (kw.empty()) {
      // No keyword to look for again: the search goes on to the terminator.
      w.Next();
      continue;
    }
    keyword_phase = true;  // look for the keyword again at this same position
  }

  end_pos = limit + 1;
  bool result = false;
  if (has_end_term) {
    result = !keyword_phase;
    found.clear();
  }
  return result;
}

void FindSelectClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos,
                      bool statement_select) {
  FindClause(sql, "SELECT", kSelectTerms, statement_select ? kSqlKeyFirstWord : 0, start_pos, end_pos);
}

void FindFromClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos) {
  start_pos = 0;
  end_pos = 0;
  AnsiString found;
  if (!FindSQLKeyword(sql, "FROM", 0, kFromTerms, start_pos, end_pos, found)) {
    start_pos = 0;
    end_pos = 0;
  }
}

void FindWhereClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos) {
  FindClause(sql, "WHERE", kWhereTerms, 0, start_pos, end_pos);
  if (start_pos == 0) return;
  int32_t us = 0, ue = 0;
  FindUnionClause(sql, us, ue);
  if (us != 0 && us < start_pos && ue >= end_pos) start_pos = 0;
}

void FindGroupByClause(const AnsiString& sql, int32_t& s, int32_t& e) {
  FindClause(sql, "GROUP BY", kGroupByTerms, 0, s, e);
}
void FindHavingClause(const AnsiString& sql, int32_t& s, int32_t& e) {
  FindClause(sql, "HAVING", kHavingTerms, 0, s, e);
}
void FindUnionClause(const AnsiString& sql, int32_t& s, int32_t& e) {
  FindClause(sql, "UNION", kUnionTerms, 0, s, e);
}
void FindPlanClause(const AnsiString& sql, int32_t& s, int32_t& e) {
  FindClause(sql, "PLAN", kPlanTerms, 0, s, e);
}
void FindOrderByClause(const AnsiString& sql, int32_t& s, int32_t& e) {
  FindClause(sql, "ORDER BY", kOrderByTerms, 0, s, e);
}
void FindForUpdateClause(const AnsiString& sql, int32_t& s, int32_t& e) {
  FindClause(sql, "FOR UPDATE", kForUpdateTerms, 0, s, e);
}

AnsiString GetSelectClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, OwnSelect, s, e); }
AnsiString GetFromClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindFromClause, s, e); }
AnsiString GetWhereClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindWhereClause, s, e); }
AnsiString GetGroupByClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindGroupByClause, s, e); }
AnsiString GetHavingClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindHavingClause, s, e); }
AnsiString GetUnionClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindUnionClause, s, e); }
AnsiString GetPlanClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindPlanClause, s, e); }
AnsiString GetOrderByClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindOrderByClause, s, e); }
AnsiString GetForUpdateClause(const AnsiString& sql, int32_t* s, int32_t* e) { return ReadClause(sql, FindForUpdateClause, s, e); }

void SetSelectClause(AnsiString& sql, const AnsiString& clause) {
  int32_t s = 0, e = 0;
  OwnSelect(sql, s, e);
  if (s != 0) {
    ReplaceRange(sql, clause, s, e);
    return;
  }
  int32_t fs = 0, fe = 0;
  FindFromClause(sql, fs, fe);
  ReplaceRange(sql, clause, 1, fs != 0 ? fs : 1);
}

void SetFromClause(AnsiString& sql, const AnsiString& clause) {
  WriteClause(sql, clause, FindFromClause, {OwnSelect});
}
void SetWhereClause(AnsiString& sql, const AnsiString& clause) {
  WriteClause(sql, clause, FindWhereClause, {FindFromClause, OwnSelect});
}
void SetGroupByClause(AnsiString& sql, const AnsiString& clause) {
  WriteClause(sql, clause, FindGroupByClause, {FindWhereClause, FindFromClause, OwnSelect});
}
void SetHavingClause(AnsiString& sql, const AnsiString& clause) {
  WriteClause(sql, clause, FindHavingClause,
              {FindGroupByClause, FindWhereClause, FindFromClause, OwnSelect});
}
void SetUnionClause(AnsiString& sql, const AnsiString& clause) {
  WriteClause(sql, clause, FindUnionClause,
              {FindHavingClause, FindGroupByClause, FindWhereClause, FindFromClause, OwnSelect});
}
void SetPlanClause(AnsiString& sql, const AnsiString& clause) {
  WriteClause(sql, clause, FindPlanClause,
              {FindUnionClause, FindHavingClause, FindGroupByClause, FindWhereClause,
               FindFromClause, OwnSelect});
}
void SetOrderByClause(AnsiString& sql, const AnsiString& clause) {
  WriteClause(sql, clause, FindOrderByClause,
              {FindPlanClause, FindUnionClause, FindHavingClause, FindGroupByClause,
               FindWhereClause, FindFromClause, OwnSelect});
}
void SetForUpdateClause(AnsiString& sql, const AnsiString& clause) {
  int32_t s = 0, e = 0;
  FindForUpdateClause(sql, s, e);
  if (s != 0) {
    ReplaceRange(sql, clause, s, e);
    return;
  }
  sql = sql + "\r\n" + clause;
}

AnsiString CopyRange(const AnsiString& text, int32_t start, int32_t end) {
  if (start < 1) return {};
  if (end == 0) return From(text, start);
  if (start >= end) return {};
  return Mid(text, start, end - start);
}

void ReplaceRange(AnsiString& sql, const AnsiString& new_text, int32_t start, int32_t end) {
  AnsiString r;
  if (start != 0) r = Trim(Mid(sql, 1, start - 1)) + "\r\n";
  r += Trim(new_text);
  r += "\r\n";
  if (end != 0) r += Trim(From(sql, end));
  sql = std::move(r);
}

bool IsProcedureDDL(const AnsiString& sql) {
  static const std::vector<AnsiString> terms = {"TRIGGER", "PROCEDURE"};
  for (const char* head : {"CREATE", "CREATE OR REPLACE", "CREATE OR ALTER", "ALTER", "DROP", "RECREATE"}) {
    int32_t s = 1, e = 0;
    AnsiString found;
    if (FindSQLKeyword(sql, head, kSqlKeyFirstWord | kSqlKeyNextIsTerm, terms, s, e, found)) return true;
  }
  return false;
}

}  // namespace pelvar
