// Filter texts to SQL condition lines.
#include "dbengine/IB_Parse_filter.h"

#include <algorithm>
#include <cstdio>

#include "dbengine/IB_Parse.h"
#include "platform/classes.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

int32_t Len(const AnsiString& s) { return static_cast<int32_t>(s.size()); }

// The character at 1-based Pos; NUL outside the text.
char At(const AnsiString& s, int32_t Pos) {
  return Pos >= 1 && Pos <= Len(s) ? s[static_cast<size_t>(Pos - 1)] : '\0';
}

bool IsCompareChar(char c) { return c == '!' || c == '<' || c == '>' || c == '='; }

[[noreturn]] void SyntaxError(const char* Suffix) {
  throw EIB_Error(AnsiString("Invalid Filter syntax") + Suffix);
}

// The position after the literal or quoted part opened at Pos (quotes doubled inside it
// stand for themselves).
int32_t SkipQuoted(const AnsiString& Text, int32_t Pos) {
  const char q = At(Text, Pos);
  int32_t i = Pos + 1;
  while (i <= Len(Text)) {
    if (At(Text, i) == q) {
      if (At(Text, i + 1) == q) {
        i += 2;
        continue;
      }
      return i + 1;
    }
    ++i;
  }
  SyntaxError("");
}

bool IsDoubleQuoted(const AnsiString& Value) {
  const AnsiString v = Trim(Value);
  return Len(v) >= 2 && v.front() == '"' && v.back() == '"';
}

// An apostrophe literal of Text, whatever Text itself looks like.
AnsiString SqlLiteral(const AnsiString& Text) { return "'" + DoubleChar(Text, '\'') + "'"; }

AnsiString ToApostrophes(const AnsiString& Value) {
  if (!IsDoubleQuoted(Value)) return Value;
  return SqlLiteral(StripQuotes(Trim(Value)));
}

// The case-insensitive search expression of a text column.
AnsiString NoCaseExpression(TIB_Column* Column) {
  AnsiString value;
  if (Column->GetAttributeValue("NOCASE", value) && !Trim(value).empty()) return Trim(value);
  return "UPPER( " + Column->GetFullName() + " )";
}

struct FilterParser {
  TIB_FilterSource& source;
  TStrings* list;
  TFilterOptions options;
  AnsiString text;

  // A value as SQL text for the column; may change the operator and the line's column part.
  AnsiString Convert(const AnsiString& Value, AnsiString& Op, AnsiString& ColumnPart, TIB_Column* Column) {
    if (Column == nullptr) return ToApostrophes(Value);
    const TFormatSettings& fs = FormatSettings();
    if (Column->IsText) {
      AnsiString v = ToApostrophes(Value);
      if (!options.Contains(foNoPartialCompare) && Op == "=") {
        const size_t p = v.find("*'");
        if (p != AnsiString::npos && p + 2 == v.size()) {
          v.erase(p, 1);
          Op = "STARTING";
        }
      }
      if (options.Contains(foCaseInsensitive)) {
        ColumnPart = NoCaseExpression(Column);
        v = "UPPER( " + v + " )";
      }
      return v;
    }
    if (Column->IsDateTime) {
      if (Value.find(fs.DateSeparator) == AnsiString::npos) return Value;
      const AnsiString s = StripQuotes(Trim(Value));
      TDateTime d;
      if (TryStrToDateTime(s, d, fs)) return DateTimeToSQLText(d);
      return SqlLiteral(s);
    }
    if (Column->IsNumeric) {
      if (Value.find(fs.DecimalSeparator) == AnsiString::npos) return Value;
      const AnsiString s = StripQuotes(Trim(Value));
      double f;
      if (TryStrToFloat(s, f, fs)) return FloatTextToSQL(s);
      return SqlLiteral(s);
    }
    return Value;
  }

  AnsiString Next(bool Brackets) {
    AnsiString token;
    NextFilterToken(text, Brackets, false, token);
    return token;
  }

  void Parentheses() {
    text = Trim(text);
    while (!text.empty() && (text[0] == '(' || text[0] == ')')) {
      list->Add(AnsiString(1, text[0]));
      text.erase(0, 1);
      text = Trim(text);
    }
  }

  void Condition() {
    const AnsiString name = Next(true);
    TIB_Column* column = name.empty() ? nullptr : source.FindField(name);
    AnsiString op;
    ExtractFilterOperator(text, op);
    text = Trim(text);
    bool negate = false;
    if (op.empty()) {
      op = Next(false);
      if (UpperCase(op) == "NOT") {
        negate = true;
        op = Next(false);
      }
    }
    AnsiString value;
    if (AnsiUpperCase(op).substr(0, 3) != "IS ") value = Next(false);
    const AnsiString uop = AnsiUpperCase(op);
    AnsiString column_part = name;
    AnsiString value_part;
    if (uop == "BETWEEN") {
      value_part = Convert(value, op, column_part, column);
      if (UpperCase(Next(false)) != "AND") SyntaxError(": BETWEEN");
      value_part += " AND " + Convert(Next(false), op, column_part, column);
    } else if (uop == "IN") {
      if (value != "(") SyntaxError(": IN()");
      value_part = "( ";
      bool first = true;
      AnsiString last;
      while (!text.empty()) {
        const AnsiString token = Next(false);
        if (token.empty()) break;
        last = token;
        if (token == ")") break;
        if (token == ",") continue;
        if (!first) value_part += ", ";
        value_part += Convert(token, op, column_part, column);
        first = false;
      }
      if (last != ")") SyntaxError(": IN()");
      value_part += " )";
    } else if (uop == "STARTING" || uop == "STARTS") {
      if (AnsiUpperCase(Trim(value)) == "WITH") {
        op += " WITH";
        value = Next(false);
      }
      value_part = Convert(value, op, column_part, column);
    } else if (uop == "LIKE") {
      value_part = Convert(value, op, column_part, column);
      if (text.compare(0, 6, "ESCAPE") == 0) {
        text = Trim(text.substr(6));
        value_part += " ESCAPE " + Next(false);
      }
    } else if (!value.empty()) {
      value_part = Convert(value, op, column_part, column);
    }
    if (negate) op = "NOT " + op;
    list->Add(Trim(column_part + " " + op + " " + value_part));
  }

  void Run() {
    while (!text.empty()) {
      const AnsiString remembered = text;
      Parentheses();
      if (text.empty()) break;
      Condition();
      if (text.empty()) break;
      Parentheses();
      if (text.empty()) break;
      text = Trim(text);
      const AnsiString head = UpperCase(text.substr(0, 4));
      if (head.compare(0, 3, "AND") == 0 && (Len(text) == 3 || IsTokenDelimiter(At(text, 4)))) {
        list->Add("AND");
        text.erase(0, 3);
      } else if (head.compare(0, 2, "OR") == 0 && (Len(text) == 2 || IsTokenDelimiter(At(text, 3)))) {
        list->Add("OR");
        text.erase(0, 2);
      }
      text = Trim(text);
      if (text == remembered) throw Exception("Invalid Filter Syntax: " + text);
    }
  }
};

// The translated lines go between "(" and ")" into a WHERE clause next to the statement's
// own conditions: a parenthesis closed before it is opened, or one left open, would let
// the filter step out of its parentheses (A) OR (B) and overrule those conditions; a
// literal, quoted name or comment left open would swallow the clauses after it.
void CheckTranslationClosed(const TStrings& List, int32_t First) {
  AnsiString sql;
  for (int32_t i = First; i < List.Count(); ++i) sql += List.Strings(i) + "\n";
  TIB_ScanState st;
  int32_t lowest = 0;
  for (int32_t pos = 1; pos <= Len(sql);) {
    pos += std::max(ScanSQLChar(sql, pos, st), 1);
    if (!st.InQuotes() && !st.InComment()) lowest = std::min(lowest, st.ParenDepth);
  }
  if (lowest < 0 || st.ParenDepth != 0) SyntaxError(": ( )");
  if (st.InQuotes() || st.InComment()) SyntaxError("");
}

}  // namespace

bool HasCompareChar(const AnsiString& Text) {
  for (char c : Text) {
    if (IsCompareChar(c)) return true;
  }
  return false;
}

int32_t CompareCharPos(const AnsiString& Text) {
  for (int32_t i = 1; i <= 4 && i <= Len(Text); ++i) {
    if (IsCompareChar(At(Text, i))) return i;
  }
  return 0;
}

bool FilterTokenBounds(const AnsiString& Text, int32_t& Start, int32_t& End, bool Brackets) {
  const int32_t len = Len(Text);
  if (len == 0) return false;
  if (Start < 1) Start = 1;
  const int32_t limit = (End < 1 || End > len) ? len : End;
  int32_t i = Start;
  // Blanks before a bracketed name are passed over like those before any token.
  while (i <= limit && static_cast<unsigned char>(At(Text, i)) <= ' ') ++i;
  if (Brackets && At(Text, i) == '[') {
    Start = i;
    int32_t j = i + 1;
    bool in_double = false;
    while (j <= len && (in_double || At(Text, j) != ']')) {
      if (At(Text, j) == '"') in_double = !in_double;
      ++j;
    }
    if (j > len) SyntaxError("");
    End = j + 1;
    return true;
  }
  while (i <= limit && static_cast<unsigned char>(At(Text, i)) <= ' ') ++i;
  Start = i;
  if (i > limit) {
    End = i;
    return false;
  }
  if (IsTokenDelimiter(At(Text, i))) {
    ++i;
  } else {
    while (i <= limit) {
      const char c = At(Text, i);
      if (c == '\'' || c == '"') {
        i = SkipQuoted(Text, i);
        continue;
      }
      if (IsTokenDelimiter(c)) break;
      ++i;
    }
  }
  End = i;
  if (Brackets) {
    int32_t k = End;
    while (k <= len && At(Text, k) == ' ') ++k;
    if (At(Text, k) == '(') {
      const int32_t close = CharPosAtTopLevel(')', Text, k + 1);
      if (close == 0) SyntaxError("");
      End = close + 1;
    }
  }
  return Start < End;
}

void NextFilterToken(AnsiString& Text, bool Brackets, bool /*Unused*/, AnsiString& Token) {
  int32_t start = 1;
  int32_t end = Len(Text);
  if (!FilterTokenBounds(Text, start, end, Brackets)) return;
  Token = Text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(end - start));
  Text.erase(static_cast<size_t>(start - 1), static_cast<size_t>(end - start));
  Text = Trim(Text);
  if (Brackets && Len(Token) >= 2 && Token.front() == '[' && Token.back() == ']') {
    Token = Token.substr(1, Token.size() - 2);
  }
}

void ExtractFilterOperator(AnsiString& Text, AnsiString& Operator) {
  Operator.clear();
  Text = Trim(Text);
  if (HasCompareChar(Text.substr(0, 3))) {
    const int32_t p = CompareCharPos(Text);
    if (p == 0 || !Trim(Text.substr(0, static_cast<size_t>(p - 1))).empty()) return;
    do {
      const char c = At(Text, p);
      if (!(Operator.size() == 1 && Operator[0] == c)) Operator += c;
      Text.erase(static_cast<size_t>(p - 1), 1);
    } while (IsCompareChar(At(Text, p)) && Operator.size() < 2);
    Text = Trim(Text);
    return;
  }
  const AnsiString upper = AnsiUpperCase(Text);
  const int32_t is = StrPosOutsideQuotes("IS ", upper);
  if (is == 0) return;
  const int32_t null = StrPosOutsideQuotes(" NULL", upper, is);
  if (null == 0 || null < is) return;
  // Only blanks may stand before IS, and NULL must end a word.
  const int32_t after = null + 5;
  if (!Trim(upper.substr(0, static_cast<size_t>(is - 1))).empty() ||
      (after <= Len(upper) && !IsTokenDelimiter(At(upper, after)))) {
    return;
  }
  const AnsiString between = upper.substr(static_cast<size_t>(is - 1), static_cast<size_t>(null - is + 1));
  Operator = between.find(" NOT ") != AnsiString::npos ? "IS NOT NULL" : "IS NULL";
  Text.erase(static_cast<size_t>(is - 1), static_cast<size_t>(after - is));
  Text = Trim(Text);
}

AnsiString DateTimeToSQLText(TDateTime Value) {
  uint16_t y, m, d, h, n, s, ms;
  DecodeDate(Value, y, m, d);
  DecodeTime(Value, h, n, s, ms);
  char buf[40];
  if (h != 0 || n != 0 || s != 0 || ms != 0) {
    std::snprintf(buf, sizeof buf, "'%02u/%02u/%04u %02u:%02u:%02u'", m, d, y, h, n, s);
  } else {
    std::snprintf(buf, sizeof buf, "'%02u/%02u/%04u'", m, d, y);
  }
  return buf;
}

AnsiString FloatTextToSQL(const AnsiString& Text) {
  const char sep = FormatSettings().DecimalSeparator;
  if (sep == '.') return Text;
  AnsiString r = Text;
  for (char& c : r) {
    if (c == sep) c = '.';
  }
  return r;
}

void FilterToSQL(TIB_FilterSource& Source, TStrings* List) {
  const AnsiString text = Trim(Source.GetFilter());
  if (text.empty()) return;
  List->Add("(");
  if (UpperCase(text.substr(0, 7)) == "::SQL::") {
    List->Add(text.substr(7));
  } else {
    const int32_t first = List->Count();
    FilterParser parser{Source, List, Source.GetFilterOptions(), text};
    parser.Run();
    CheckTranslationClosed(*List, first);
  }
  List->Add(")");
}

void ColumnEqualsSQL(const AnsiString& Name, TIB_Column* Column, AnsiString& Condition) {
  if (Column == nullptr) return;
  AnsiString name = Trim(Name);
  if (name.empty()) name = Column->GetFullName();
  if (Column->GetIsNull()) {
    Condition = name + " IS NULL";
  } else if (Column->IsText) {
    Condition = name + " = " + SqlLiteral(Column->GetAsString());
  } else if (Column->IsDateTime) {
    Condition = name + " = " + DateTimeToSQLText(Column->GetAsDateTime());
  } else {
    Condition = name + " = " + Column->GetAsString();
  }
}

}  // namespace pelvar
