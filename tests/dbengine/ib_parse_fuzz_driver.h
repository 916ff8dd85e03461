// Feeds one arbitrary input through the scanners, the clause search and the parameter
// parser of the SQL toolkit; shared by the randomized robustness test and the libFuzzer
// target. Checks a few invariants on the way and aborts (via the callback) when one fails.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbengine/IB_Parse.h"
#include "platform/exceptions.h"

namespace pelvar::fuzz {

inline void RunSqlToolkit(const std::string& in, const std::function<void(const char*)>& fail) {
  const AnsiString s = in;
  const int32_t len = static_cast<int32_t>(s.size());

  // The scanner, walked as its callers walk it.
  TIB_ScanState st;
  for (int32_t pos = 1; pos <= len;) {
    const int32_t step = ScanSQLChar(s, pos, st);
    if (step < 0 || step > 2) fail("scanner step out of range");
    pos += step > 0 ? step : 1;
  }
  ScanSQLChar(s, len + 1, st);

  auto in_range = [&](int32_t p) { return p >= 0 && p <= len; };
  const char probe = len > 0 ? s[0] : '=';
  if (!in_range(CharPosOutsideQuotes(probe, s, 1))) fail("CharPosOutsideQuotes");
  if (!in_range(CharPosAtTopLevel(',', s, 1))) fail("CharPosAtTopLevel");
  if (!in_range(LastCharPosOutsideQuotes(probe, s, 0, true))) fail("LastCharPosOutsideQuotes");
  if (!in_range(StrPosOutsideQuotes("FROM", s, 1))) fail("StrPosOutsideQuotes");
  if (!in_range(FindSQLText("WHERE", s, 1, true))) fail("FindSQLText");
  (void)StripQuotes(s);
  (void)IdentForDialect(3, s);
  (void)StoredIdentForDialect(3, s);
  (void)SplitToStrings(s);
  (void)StripLiteralsAndParens(s, true);
  if (DecodeAttributeValue(EncodeAttributeValue(s)) != s) fail("attribute value round trip");
  (void)DecodeAttributeValue(s);

  int32_t ps = 1;
  SkipSQLBlanks(s, ps, 0, true, true, true, true);
  AnsiString word;
  ReadSQLWord(s, ps, 0, word);

  // Keyword search with every flag combination.
  for (uint8_t flags = 0; flags < 32; ++flags) {
    int32_t a = 1, b = 0;
    AnsiString found;
    FindSQLKeyword(s, "ORDER BY", flags, {"%X", "GROUP-", "-BY", "(", ";", "'q'", ""}, a, b, found);
    if (a < 0 || a > len + 1 || b < 0 || b > len + 1) fail("FindSQLKeyword positions");
  }
  const std::vector<void (*)(const AnsiString&, int32_t&, int32_t&)> finders = {
      FindFromClause, FindWhereClause, FindGroupByClause, FindHavingClause, FindUnionClause,
      FindPlanClause, FindOrderByClause, FindForUpdateClause};
  for (auto f : finders) {
    int32_t a = 0, b = 0;
    f(s, a, b);
    if (a < 0 || a > len + 1 || b < 0 || b > len + 1) fail("clause positions");
  }
  AnsiString rewritten = s;
  SetWhereClause(rewritten, "WHERE 1=1");
  SetOrderByClause(rewritten, "");
  (void)MakeCountSQL(s);
  (void)ParseRelationAliases(s);
  (void)GetFirstSkip(s);
  (void)IsProcedureDDL(s);
  int32_t vs = 1, ve = 0;
  AnsiString value;
  ReadValueExpr(s, vs, ve, value, true);

  // The parameter parser in all its modes, and the way back.
  for (int mode = 0; mode < 4; ++mode) {
    std::vector<AnsiString> names, items;
    AnsiString server, back;
    int32_t comment_chars = 0;
    const int32_t moved = ParseSQLParams(s, &names, &items, server, mode & 1 ? ':' : '\0',
                                         (mode & 2) != 0, comment_chars, mode == 3);
    if (moved < 0 || moved > static_cast<int32_t>(names.size())) fail("ParseSQLParams result");
    if (comment_chars < 0) fail("comment count");
    ParamMarkersToNames(server, back, ':');
  }

  // Macros: the input's own macro references, each replaced by a fixed text.
  AnsiString expanded;
  try {
    ExpandMacros(s, "<<", ">>", [](const AnsiString& m, AnsiString& r) { r = m.size() % 2 ? "<<Z>>" : "y"; },
                 expanded);
  } catch (const Exception&) {
    // A self-referring macro is reported, never followed without end.
  }

  // Attribute texts and column definitions.
  int32_t as = 0, ae = 0;
  try {
    FindAttribute(s, "REQUIRED", as, value, ae);
  } catch (const EConvertError&) {
  }
  AnsiString attrs = s;
  try {
    SetAttributeFlag(attrs, "NOCASE", true);
    SetAttributeFlag(attrs, "NOCASE", false);
  } catch (const EConvertError&) {
  }
  TIB_XSQLVARDef def;
  try {
    ParseXSQLVARDef(s, 3, def);
  } catch (const Exception&) {
  }
  AnsiString verb;
  int32_t qs = 1, qe = 0;
  ReadQuotedValue(s, qs, qe, value, false);
  FindScriptValue(s, "USER", {"CREATE", "CONNECT"}, value, verb);
}

}  // namespace pelvar::fuzz
