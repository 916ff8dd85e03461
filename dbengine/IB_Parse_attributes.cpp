// Attribute texts (KEYWORD[=value];... with escaped values), column definition texts and
// the database statements of scripts (CREATE/CONNECT/DISCONNECT/DROP DATABASE).
#include <algorithm>

#include "dbengine/IB_Parse.h"
#include "dbengine/ib_parse_internal.h"
#include "platform/exceptions.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace ib_parse_detail;

// ---------------------------------------------------------------------------------------
// Attribute values

AnsiString EncodeAttributeValue(const AnsiString& text) {
  AnsiString r;
  r.reserve(text.size() + 8);
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 27) {
      // Control codes as backslash + letter (0 = \A ... 26 = \[).
      r += '\\';
      r += static_cast<char>(u + 65);
    } else if (u < 32 || u >= 128 || c == '%' || c == '-') {
      // Codes 27 to 31 would need \ ] ^ _ ` as letters, which read back as themselves;
      // the numeric form keeps them intact.
      r += '#';
      r += std::to_string(u);
    } else if (c == '#' || (c >= '0' && c <= '9') || c == ':' || c == ';' || c == '=' ||
               c == '?' || c == '\\') {
      r += '\\';
      r += c;
    } else {
      r += c;
    }
  }
  return r;
}

char EscapedLetterToChar(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 65 && u <= 91) return static_cast<char>(u - 65);
  return c;
}

namespace {

// Reads # and up to three digits at i (0-based, at the #); returns the character and moves
// i to the last character read. With strict, a # without a digit raises EConvertError.
char ReadCodedChar(const AnsiString& text, size_t& i, bool strict) {
  int value = 0;
  size_t digits = 0;
  while (digits < 3 && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
    value = value * 10 + (text[i + 1] - '0');
    ++i;
    ++digits;
  }
  if (digits == 0 && strict) throw EConvertError("'' is not a valid integer value");
  return static_cast<char>(value % 256);
}

}  // namespace

AnsiString DecodeAttributeValue(const AnsiString& text) {
  AnsiString r;
  r.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\\') {
      if (i + 1 < text.size()) {
        r += EscapedLetterToChar(text[i + 1]);
        ++i;
      }
    } else if (c == '#') {
      r += ReadCodedChar(text, i, false);
    } else {
      r += c;
    }
  }
  return r;
}

// ---------------------------------------------------------------------------------------
// Attribute lists

void FindAttribute(const AnsiString& text, const AnsiString& keyword, int32_t& start,
                   AnsiString& value, int32_t& end) {
  start = 0;
  value.clear();
  const int32_t len = Len(text);
  end = len;
  const AnsiString kw = Trim(keyword);
  if (kw.empty() || Trim(text).empty()) {
    end = len + 1;
    return;
  }
  const int32_t kwlen = Len(kw);
  int32_t pos = 0;
  for (int32_t i = 1; i <= len; ++i) {
    if (i > 1 && !IsBlank(CharAt(text, i - 1)) && CharAt(text, i - 1) != ';') continue;
    if (i + kwlen - 1 > len) break;
    if (!AnsiSameText(std::string_view(text).substr(static_cast<size_t>(i - 1), static_cast<size_t>(kwlen)), kw))
      continue;
    if (i + kwlen <= len) {
      const char after = CharAt(text, i + kwlen);
      if (!IsBlank(after) && after != ';' && after != '=') continue;
    }
    start = i;
    pos = i + kwlen;
    break;
  }
  if (start == 0) {
    end = len + 1;
    return;
  }
  while (pos <= len && IsBlank(CharAt(text, pos))) ++pos;
  if (pos <= len) {
    if (CharAt(text, pos) != '=') {
      end = pos;
      return;
    }
    for (size_t i = static_cast<size_t>(pos); i < text.size(); ++i) {  // after the '='
      const char c = text[i];
      if (c == '\\') {
        if (i + 1 < text.size()) {
          value += EscapedLetterToChar(text[i + 1]);
          ++i;
        }
      } else if (c == '#') {
        value += ReadCodedChar(text, i, true);
      } else if (c == ';') {
        end = static_cast<int32_t>(i) + 1;
        return;
      } else {
        value += c;
      }
    }
  }
  end = len + 1;
}

void RemoveAttribute(AnsiString& text, const AnsiString& keyword) {
  if (Trim(keyword).empty()) return;
  int32_t start = 0, end = 0;
  AnsiString value;
  FindAttribute(text, keyword, start, value, end);
  if (start == 0) return;
  const int32_t len = Len(text);
  int32_t s = start;
  while (s > 1 && IsBlank(CharAt(text, s - 1))) --s;
  bool took_semicolon = false;
  if (s > 1 && CharAt(text, s - 1) == ';') {
    --s;
    took_semicolon = true;
  }
  int32_t e = std::min(end, len + 1);
  if (!took_semicolon) {
    while (e <= len && IsBlank(CharAt(text, e))) ++e;
    if (e <= len && CharAt(text, e) == ';') ++e;
  }
  text.erase(static_cast<size_t>(s - 1), static_cast<size_t>(e - s));
}

bool SetAttributeFlag(AnsiString& text, const AnsiString& keyword, bool on) {
  int32_t start = 0, end = 0;
  AnsiString value;
  FindAttribute(text, keyword, start, value, end);
  if ((start != 0) == on) return false;
  RemoveAttribute(text, keyword);
  if (!on) return true;
  if (text.empty()) {
    text = keyword;
  } else if (text.back() == ';') {
    text += keyword;
  } else {
    text += ";" + keyword;
  }
  return true;
}

// ---------------------------------------------------------------------------------------
// Column definition texts

namespace {

AnsiString ConvertNamePart(const AnsiString& part, uint16_t dialect) {
  if (dialect >= 3 && IsQuoted(part, '"')) {
    const AnsiString t = Trim(part);
    AnsiString r;
    for (size_t i = 1; i + 1 < t.size(); ++i) {
      r += t[i];
      if (t[i] == '"' && i + 2 < t.size() && t[i + 1] == '"') ++i;
    }
    return r;
  }
  return AnsiUpperCase(part);
}

AnsiString CutName(const AnsiString& name) { return TrimRight(name.substr(0, std::min<size_t>(name.size(), 31))); }

// Next word of the upper-cased type text: letters, digits and underscores.
AnsiString NextTypeWord(const AnsiString& s, size_t& i) {
  while (i < s.size() && IsBlank(s[i])) ++i;
  const size_t b = i;
  while (i < s.size() && !IsBlank(s[i]) && s[i] != '(' && s[i] != ')' && s[i] != ',') ++i;
  return s.substr(b, i - b);
}

}  // namespace

void ParseXSQLVARDef(const AnsiString& definition, uint16_t dialect, TIB_XSQLVARDef& var) {
  var = TIB_XSQLVARDef{};
  AnsiString def = Trim(definition);
  if (const int32_t eq = CharPosOutsideQuotes('=', def, 1); eq > 0) def[static_cast<size_t>(eq - 1)] = ' ';

  // The name: up to the first blank or opening parenthesis outside double quotes.
  size_t name_end = 0;
  {
    bool inside = false;
    for (; name_end < def.size(); ++name_end) {
      const char c = def[name_end];
      if (c == '"') inside = !inside;
      if (!inside && (IsBlank(c) || c == '(')) break;
    }
  }
  const AnsiString name = def.substr(0, name_end);
  const AnsiString rest = AnsiUpperCase(def.substr(name_end));

  if (const int32_t dot = CharPosOutsideQuotes('.', name, 1); dot > 0) {
    const AnsiString rel = name.substr(0, static_cast<size_t>(dot - 1));
    const AnsiString field = name.substr(static_cast<size_t>(dot));
    var.relname = CutName(ConvertNamePart(rel, dialect));
    var.sqlname = CutName(ConvertNamePart(field, dialect));
    var.aliasname = CutName(field);
  } else {
    var.aliasname = CutName(ConvertNamePart(name, dialect));
  }

  auto fail = [&]() -> void { throw Exception("Invalid XSQLVAR Def string: " + definition); };

  size_t i = 0;
  AnsiString word = NextTypeWord(rest, i);
  if (word == "DOUBLE") {
    if (NextTypeWord(rest, i) != "PRECISION") fail();
  } else if (word == "CHAR" || word == "CHARACTER") {
    size_t j = i;
    if (NextTypeWord(rest, j) == "VARYING") {
      word = "VARCHAR";
      i = j;
    }
  }
  // Numbers in parentheses: (first[,second]).
  bool has_parens = false;
  AnsiString first, second;
  {
    size_t j = i;
    while (j < rest.size() && IsBlank(rest[j])) ++j;
    if (j < rest.size() && rest[j] == '(') {
      has_parens = true;
      const size_t close = rest.find(')', j);
      const size_t stop = close == AnsiString::npos ? rest.size() : close;
      const size_t comma = rest.find(',', j);
      if (comma != AnsiString::npos && comma < stop) {
        first = rest.substr(j + 1, comma - j - 1);
        second = rest.substr(comma + 1, stop - comma - 1);
      } else {
        first = rest.substr(j + 1, stop - j - 1);
      }
    }
  }
  auto number = [](const AnsiString& s) { return StrToInt(Trim(s)); };

  if (word == "FLOAT") {
    var.sqltype = kSqlFloat, var.sqllen = 4;
  } else if (word == "DOUBLE") {
    var.sqltype = kSqlDouble, var.sqllen = 8;
  } else if (word == "SMALLINT") {
    var.sqltype = kSqlShort, var.sqllen = 2;
  } else if (word == "INTEGER") {
    var.sqltype = kSqlLong, var.sqllen = 4;
  } else if (word == "DATE") {
    if (dialect < 3) {
      var.sqltype = kSqlTimestamp, var.sqllen = 8;
    } else {
      var.sqltype = kSqlTypeDate, var.sqllen = 4;
    }
  } else if (word == "TIME") {
    var.sqltype = kSqlTypeTime, var.sqllen = 4;
  } else if (word == "TIMESTAMP") {
    var.sqltype = kSqlTimestamp, var.sqllen = 8;
  } else if (word == "CHAR" || word == "CHARACTER" || word == "VARCHAR") {
    var.sqltype = word == "VARCHAR" ? kSqlVarying : kSqlText;
    const int32_t n = has_parens ? number(first) : 256;
    var.sqllen = static_cast<int16_t>(std::clamp<int32_t>(n, 0, INT16_MAX));
  } else if (word == "DECIMAL" || word == "NUMERIC") {
    if (!has_parens) {
      var.sqltype = kSqlLong, var.sqllen = 4, var.sqlscale = -2;
    } else {
      const int32_t precision = number(first);
      const int32_t scale = second.empty() ? 2 : number(second);
      if (precision < 5) {
        var.sqltype = kSqlShort, var.sqllen = 2;
      } else if (precision <= 9) {
        var.sqltype = kSqlLong, var.sqllen = 4;
      } else {
        var.sqltype = dialect < 3 ? kSqlDouble : kSqlInt64;
        var.sqllen = 8;
      }
      var.sqlscale = static_cast<int16_t>(-std::clamp<int32_t>(scale, 0, 18));
    }
  } else if (word == "QUAD") {
    var.sqltype = kSqlQuad, var.sqllen = 8;
  } else if (word == "MEMO") {
    var.sqltype = kSqlBlob, var.sqllen = 8, var.sqlsubtype = 1;
  } else if (word == "BLOB") {
    var.sqltype = kSqlBlob, var.sqllen = 8, var.sqlsubtype = 0;
  } else {
    fail();
  }
  const bool not_null = rest.find("NOT ") != AnsiString::npos && rest.find(" NULL") != AnsiString::npos;
  if (!not_null) ++var.sqltype;
}

bool SQLTypesMatch(int16_t a, int16_t b) {
  auto norm = [](int16_t t) -> int16_t {
    t = static_cast<int16_t>(t & ~1);
    if (t == kSqlShort) return kSqlLong;
    if (t == kSqlDouble) return kSqlFloat;
    return t;
  };
  return norm(a) == norm(b);
}

// ---------------------------------------------------------------------------------------
// Script statements

bool ReadQuotedValue(const AnsiString& sql, int32_t& start, int32_t& end, AnsiString& value,
                     bool stop_at_word) {
  value.clear();
  if (sql.empty()) return false;
  const int32_t len = Len(sql);
  int32_t limit = end <= 0 || end > len ? len : end;
  int32_t pos = start < 1 ? 1 : start;
  TIB_ScanState st;
  st.ParenDepth = kScanDepthUntracked;
  st.BracketDepth = kScanDepthUntracked;
  while (pos <= limit) {
    const bool was_comment = st.InComment();
    const int32_t step = ScanSQLChar(sql, pos, st);
    if (was_comment || st.InComment()) {
      pos += step > 0 ? step : 1;
      continue;
    }
    if (st.InQuotes()) {
      // An opening quote: collect up to and including the closing one.
      const char q = CharAt(sql, pos);
      start = pos;
      value += q;
      int32_t i = pos + 1;
      while (i <= len) {
        const char c = CharAt(sql, i);
        value += c;
        if (c == q) {
          if (i + 1 <= len && CharAt(sql, i + 1) == q) {
            value += q;
            i += 2;
            continue;
          }
          end = i;
          return true;
        }
        ++i;
      }
      return false;  // unclosed quote
    }
    if (stop_at_word && !IsBlank(CharAt(sql, pos))) return false;
    pos += step > 0 ? step : 1;
  }
  return false;
}

bool FindScriptValue(const AnsiString& sql, const AnsiString& keyword,
                     const std::vector<AnsiString>& verbs, AnsiString& value, AnsiString& verb) {
  value.clear();
  verb.clear();
  static const std::vector<AnsiString> terms = {"DATABASE", "SCHEMA", "USER", "PASSWORD", ""};
  int32_t vs = 0, ve = 0;
  AnsiString term;
  bool found = false;
  for (const AnsiString& v : verbs) {
    vs = 1;
    ve = 0;
    if (FindSQLKeyword(sql, v, kSqlKeyFirstWord | kSqlKeyNextIsTerm, terms, vs, ve, term)) {
      verb = v;
      found = true;
      break;
    }
  }
  if (!found) return false;
  if (term != "DATABASE" && term != "SCHEMA") term.clear();

  int32_t from = 0;
  if (AnsiSameText(keyword, "DATABASE")) {
    from = term.empty() ? vs + Len(verb) : ve + Len(term);
  } else {
    int32_t ks = 1, ke = 0;
    AnsiString f;
    if (!FindSQLKeyword(sql, verb, kSqlKeyFirstWord, {keyword}, ks, ke, f)) return true;
    from = ke + Len(keyword);
  }
  int32_t end = 0;
  AnsiString quoted;
  if (ReadQuotedValue(sql, from, end, quoted, true)) value = StripQuotes(quoted);
  return true;
}

bool ApplyDatabaseStatement(IB_DatabaseStatementTarget& connection, const AnsiString& sql,
                            AnsiString& verb) {
  AnsiString path;
  if (!FindScriptValue(sql, "DATABASE", {"CREATE", "CONNECT", "DISCONNECT", "DROP"}, path, verb))
    return false;
  if (verb == "DISCONNECT") return true;
  if (verb == "DROP" && connection.GetConnected()) return true;
  if (!path.empty()) connection.SetConnectString(path);
  const std::vector<AnsiString> verbs = {"CREATE", "CONNECT", "DROP"};
  AnsiString value, v;
  FindScriptValue(sql, "USER", verbs, value, v);
  if (!value.empty() || v != "DROP") connection.SetUserName(value);
  FindScriptValue(sql, "PASSWORD", verbs, value, v);
  if (!value.empty() || v != "DROP") connection.SetPassword(value);
  FindScriptValue(sql, "ROLE", verbs, value, v);
  if (!value.empty() || v != "DROP") connection.SetSQLRole(value);
  return true;
}

}  // namespace pelvar
