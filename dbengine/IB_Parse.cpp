// SQL text scanning and quoting: the character scanner, quote-aware searches, identifier
// quoting by dialect, the reserved-word table and small text routines.
#include "dbengine/IB_Parse.h"

#include <algorithm>
#include <atomic>

#include "dbengine/ib_parse_internal.h"
#include "platform/classes.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace ib_parse_detail;

// ---------------------------------------------------------------------------------------
// Scanner

int32_t ScanSQLChar(const AnsiString& text, int32_t pos, TIB_ScanState& st) {
  if (pos < 1) return 0;
  const int32_t len = Len(text);
  const char c = CharAt(text, pos);
  const char n = CharAt(text, pos + 1);
  auto is_eol = [](char x) { return x == '\r' || x == '\n'; };

  if (st.InLineComment) {
    if (!is_eol(c)) return 0;
    st.InLineComment = false;
    st.InBlockComment = false;
    int32_t step = is_eol(n) ? 2 : 1;
    if (pos > len) --step;
    if (pos + 1 > len) --step;
    return std::max(step, 0);
  }
  if (st.InBlockComment) {
    if (c == '*' && n == '/') {
      st.InBlockComment = false;
      return 2;
    }
    return 0;
  }
  if (st.InSingleQuotes) {
    if (c == '\'') {
      st.InSingleQuotes = false;
      return 1;
    }
    return 0;
  }
  if (st.InDoubleQuotes) {
    if (c == '"') {
      st.InDoubleQuotes = false;
      return 1;
    }
    return 0;
  }
  switch (c) {
    case '-':
      if (n == '-') {
        st.InLineComment = true;
        st.InBlockComment = true;
        return 2;
      }
      return 0;
    case '"':
      st.InDoubleQuotes = true;
      return 1;
    case '\'':
      st.InSingleQuotes = true;
      return 1;
    case '(':
      if (st.ParenDepth == kScanDepthUntracked) return 0;
      ++st.ParenDepth;
      return 1;
    case ')':
      if (st.ParenDepth == kScanDepthUntracked) return 0;
      --st.ParenDepth;
      return 1;
    case '/':
      if (n == '/') {
        st.InLineComment = true;
        return 2;
      }
      if (n == '*') {
        st.InBlockComment = true;
        return 2;
      }
      return 0;
    case '[':
      if (st.BracketDepth == kScanDepthUntracked) return 0;
      ++st.BracketDepth;
      return 1;
    case ']':
      if (st.BracketDepth == kScanDepthUntracked) return 0;
      --st.BracketDepth;
      return 1;
    default:
      return 0;
  }
}

bool IsWordBreak(char c, bool include_comment_starts) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 32) return true;
  switch (c) {
    case '(': case ')': case ';': case '[': case ']':
      return true;
    case '-': case '/':
      return include_comment_starts;
    default:
      return false;
  }
}

bool IsTokenDelimiter(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u <= 33) return true;
  switch (c) {
    case '(': case ')': case '*': case ',': case '/':
    case ':': case ';': case '<': case '=': case '>': case '?':
      return true;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------------------
// Searches

int32_t CharPosOutsideQuotes(char c, const AnsiString& text, int32_t start) {
  const int32_t len = Len(text);
  bool inside = false;
  for (int32_t i = std::max(start, 1); i <= len; ++i) {
    const char x = CharAt(text, i);
    if (x == '"') inside = !inside;
    if (!inside && x == c) return i;
  }
  return 0;
}

int32_t StrPosOutsideQuotes(const AnsiString& sub, const AnsiString& text, int32_t start) {
  if (sub.empty()) return 0;
  if (sub.size() == 1) return CharPosOutsideQuotes(sub[0], text, start);
  const int32_t last = Len(text) - Len(sub) + 1;
  bool inside = false;
  for (int32_t i = std::max(start, 1); i <= last; ++i) {
    if (CharAt(text, i) == '"') inside = !inside;
    if (!inside && text.compare(static_cast<size_t>(i - 1), sub.size(), sub) == 0) return i;
  }
  return 0;
}

int32_t CharPosAtTopLevel(char c, const AnsiString& text, int32_t start) {
  const int32_t len = Len(text);
  bool in_double = false, in_single = false;
  int32_t depth = 0;
  for (int32_t i = std::max(start, 1); i <= len; ++i) {
    const char x = CharAt(text, i);
    if (x == '"' && !in_single) {
      in_double = !in_double;
    } else if (x == '\'' && !in_double) {
      in_single = !in_single;
    }
    if (in_double || in_single) continue;
    // A quote that just closed is compared as well; a ( or ) after the comparison.
    if (x == c && depth <= 0) return i;
    if (x == '(') ++depth;
    else if (x == ')') --depth;
  }
  return 0;
}

int32_t LastCharPosOutsideQuotes(char c, const AnsiString& text, int32_t start,
                                 bool stop_at_delimiter) {
  const int32_t len = Len(text);
  if (start <= 0 || start > len) start = len;
  bool inside = false;
  for (int32_t i = start; i >= 1; --i) {
    const char x = CharAt(text, i);
    if (x == '"') inside = !inside;
    if (inside) continue;
    if (x == c) return i;
    if (stop_at_delimiter && IsTokenDelimiter(x)) return 0;
  }
  return 0;
}

int32_t FindSQLText(const AnsiString& sub, const AnsiString& text, int32_t start, bool whole_word) {
  if (sub.empty()) return 0;
  const int32_t len = Len(text);
  const int32_t sublen = Len(sub);
  const int32_t last = len - sublen + 1;
  bool in_line = false, in_block = false, in_double = false, in_single = false;
  int32_t depth = 0;
  auto is_eol = [](char x) { return x == '\r' || x == '\n'; };
  int32_t i = std::max(start, 1);
  while (i <= last) {
    const char c = CharAt(text, i);
    const char n = CharAt(text, i + 1);
    if (in_line) {
      if (is_eol(c)) {
        in_line = false;
        if (is_eol(n)) ++i;
      }
      ++i;
      continue;
    }
    if (in_block) {
      if (c == '*' && n == '/') {
        in_block = false;
        i += 2;
      } else {
        ++i;
      }
      continue;
    }
    if (!in_double && !in_single) {
      if (c == '/' && n == '*') {
        in_block = true;
        i += 2;
        continue;
      }
      if ((c == '/' && n == '/') || (c == '-' && n == '-')) {
        in_line = true;
        i += 2;
        continue;
      }
    }
    if (c == '"' && !in_single) {
      in_double = !in_double;
    } else if (c == '\'' && !in_double) {
      in_single = !in_single;
    }
    if (!in_double && !in_single && depth <= 0 &&
        text.compare(static_cast<size_t>(i - 1), sub.size(), sub) == 0) {
      if (sublen == 1 || !whole_word) return i;
      const bool before_ok = i == 1 || IsTokenDelimiter(CharAt(text, i - 1));
      const bool after_ok = i + sublen > len || IsTokenDelimiter(CharAt(text, i + sublen));
      if (before_ok && after_ok) return i;
    }
    if (!in_double && !in_single) {
      if (c == '(') ++depth;
      else if (c == ')') --depth;
    }
    ++i;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------
// Quoting

bool IsQuoted(const AnsiString& text, char quote) {
  const AnsiString t = Trim(text);
  if (t.size() < 2) return false;
  const char first = t.front(), last = t.back();
  if (quote == '"' || quote == '\'') return first == quote && last == quote;
  return (first == '\'' && last == '\'') || (first == '"' && last == '"');
}

AnsiString DoubleChar(const AnsiString& text, char c) {
  AnsiString r;
  r.reserve(text.size() + 2);
  for (char x : text) {
    r += x;
    if (x == c) r += x;
  }
  return r;
}

AnsiString QuoteText(const AnsiString& text, char quote) {
  if (IsQuoted(text, quote)) return text;
  return quote + DoubleChar(text, quote) + quote;
}

AnsiString StripQuotes(const AnsiString& text) {
  if (!IsQuoted(text, ' ')) return text;
  const char q = text.front();
  // IsQuoted trims; the text itself may still carry blanks around its quotes.
  if ((q != '\'' && q != '"') || text.back() != q) {
    return StripQuotes(Trim(text));
  }
  const AnsiString inner = text.substr(1, text.size() - 2);
  AnsiString r;
  r.reserve(inner.size());
  for (size_t i = 0; i < inner.size(); ++i) {
    r += inner[i];
    if (inner[i] == q && i + 1 < inner.size() && inner[i + 1] == q) ++i;
  }
  return r;
}

namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

AnsiString IdentForDialect(uint16_t dialect, const AnsiString& name) {
  const AnsiString t = Trim(name);
  if (t.empty()) return dialect >= 3 ? AnsiString("\"\"") : AnsiString();
  if (dialect < 3) return AnsiUpperCase(t);
  if (IsQuoted(t, '"')) return t;
  bool regular = IsAsciiLetter(t[0]);
  for (size_t i = 1; regular && i < t.size(); ++i) {
    const char c = t[i];
    regular = IsAsciiLetter(c) || IsAsciiDigit(c) || c == '$' || c == '_';
  }
  if (!regular) return '"' + DoubleChar(t, '"') + '"';
  const AnsiString up = UpperCase(t);
  if (IsReservedWord(up)) return '"' + up + '"';
  return up;
}

AnsiString StoredIdentForDialect(uint16_t dialect, const AnsiString& name) {
  const AnsiString t = Trim(name);
  if (t.empty()) return dialect >= 3 ? AnsiString("\"\"") : AnsiString();
  if (dialect < 3) return AnsiUpperCase(t);
  bool regular = !name.empty() && name[0] >= 'A' && name[0] <= 'Z';
  for (size_t i = 1; regular && i < name.size(); ++i) {
    const char c = name[i];
    regular = (c >= 'A' && c <= 'Z') || IsAsciiDigit(c) || c == '$' || c == '_';
  }
  if (!regular) return '"' + DoubleChar(name, '"') + '"';
  if (IsReservedWord(name)) return '"' + name + '"';
  return name;
}

// ---------------------------------------------------------------------------------------
// Reserved words

namespace {

std::atomic<bool> g_reserved_word_check{false};

const char* const kReservedWords[] = {
    "ACTION", "ACTIVE", "ADD", "ADMIN", "AFTER", "ALL", "ALTER", "AND", "ANY", "AS", "ASC",
    "ASCENDING", "AT", "AUTO", "AUTODDL", "AVG", "BASED", "BASENAME", "BASE_NAME", "BEFORE",
    "BEGIN", "BETWEEN", "BIGINT", "BIT_LENGTH", "BLOB", "BLOBEDIT", "BOOLEAN", "BOTH", "BREAK",
    "BUFFER", "BY", "CACHE", "CASCADE", "CASE", "CAST", "CHAR", "CHARACTER", "CHARACTER_LENGTH",
    "CHAR_LENGTH", "CHECK", "CHECK_POINT_LEN", "CHECK_POINT_LENGTH", "CLOSE", "COLLATE",
    "COLLATION", "COLUMN", "COMMIT", "COMMITTED", "COMPILETIME", "COMPUTED", "CONDITIONAL",
    "CONNECT", "CONSTRAINT", "CONTAINING", "CONTINUE", "COUNT", "CREATE", "CROSS", "CSTRING",
    "CURRENT", "CURRENT_CONNECTION", "CURRENT_ROLE", "CURRENT_TRANSACTION", "CURRENT_USER",
    "CURSOR", "DATABASE", "DATE", "DAY", "DEBUG", "DEC", "DECIMAL", "DECLARE", "DEFAULT",
    "DELETE", "DESC", "DESCENDING", "DESCRIBE", "DESCRIPTOR", "DISCONNECT", "DISPLAY",
    "DISTINCT", "DO", "DOMAIN", "DOUBLE", "DROP", "ECHO", "EDIT", "ELSE", "END", "ENTRY_POINT",
    "ESCAPE", "EVENT", "EXCEPTION", "EXECUTE", "EXISTS", "EXIT", "EXTERN", "EXTERNAL",
    "EXTRACT", "FALSE", "FETCH", "FILE", "FILTER", "FIRST", "FLOAT", "FOR", "FOREIGN", "FOUND",
    "FREE_IT", "FROM", "FULL", "FUNCTION", "GDSCODE", "GENERATOR", "GEN_ID", "GLOBAL", "GOTO",
    "GRANT", "GROUP", "GROUP_COMMIT_", "GROUP_COMMIT_WAIT", "HAVING", "HELP", "IF", "IMMEDIATE",
    "IN", "INACTIVE", "INDEX", "INDICATOR", "INIT", "INNER", "INPUT", "INPUT_TYPE", "INSERT",
    "INT", "INTEGER", "INTO", "IS", "ISOLATION", "ISQL", "JOIN", "KEY", "LC_MESSAGES",
    "LC_TYPE", "LEADING", "LEFT", "LENGTH", "LENGTH", "LEV", "LEVEL", "LIKE", "LOGFILE",
    "LOG_BUFFER_SIZE", "LOG_BUF_SIZE", "LONG", "LOWER", "MANUAL", "MAX", "MAXIMUM",
    "MAXIMUM_SEGMENT", "MAX_SEGMENT", "MENT", "MERGE", "MESSAGE", "MIN", "MINIMUM",
    "MODULE_NAME", "MONTH", "NAMES", "NATIONAL", "NATURAL", "NCHAR", "NO", "NOAUTO", "NOT",
    "NULL", "NUMERIC", "NUM_LOG_BUFFERS", "NUM_LOG_BUFS", "OCTET_LENGTH", "OF", "ON", "ONLY",
    "OPEN", "OPTION", "OR", "ORDER", "OUTER", "OUTPUT", "OUTPUT_TYPE", "OVERFLOW", "PAGE",
    "PAGES", "PAGE_SIZE", "PARAMETER", "PASSWORD", "PERCENT", "PLAN", "POSITION", "POST_EVENT",
    "PRECISION", "PREPARE", "PRIMARY", "PRIVILEGES", "PROCEDURE", "PROTECTED", "PUBLIC", "QUIT",
    "RAW_PARTITIONS", "READ", "REAL", "RECORD_VERSION", "RECREATE", "REFERENCES", "RELEASE",
    "RESERV", "RESERVING", "RESTRICT", "RETAIN", "RETURN", "RETURNING_VALUES", "RETURNS",
    "REVOKE", "RIGHT", "ROLE", "ROLLBACK", "ROWS", "ROW_COUNT", "RUNTIME", "SAVEPOINT",
    "SCHEMA", "SEGMENT", "SELECT", "SET", "SHADOW", "SHARED", "SHELL", "SHOW", "SINGULAR",
    "SIZE", "SKIP", "SMALLINT", "SNAPSHOT", "SOME", "SORT", "SQL", "SQLCODE", "SQLERROR",
    "SQLWARNING", "STABILITY", "STARTING", "STARTS", "STATE", "STATIC", "STATISTICS",
    "SUBSTRING", "SUB_TYPE", "SUM", "SUSPEND", "TABLE", "TEMPORARY", "TERMINATOR", "THEN",
    "TIES", "TIME", "TIMESTAMP", "TO", "TRAILING", "TRANSACTION", "TRANSLATE", "TRANSLATION",
    "TRIGGER", "TRIM", "TRUE", "TYPE", "UNCOMMITTED", "UNION", "UNIQUE", "UNKNOWN", "UPDATE",
    "UPPER", "USER", "USING", "VALUE", "VALUES", "VARCHAR", "VARIABLE", "VARYING", "VERSION",
    "VIEW", "WAIT", "WAIT_TIME", "WHEN", "WHENEVER", "WHERE", "WHILE", "WITH", "WORK", "WRITE",
    "YEAR",
};

}  // namespace

bool ReservedWordCheck() { return g_reserved_word_check.load(); }
void SetReservedWordCheck(bool on) { g_reserved_word_check.store(on); }

const std::vector<AnsiString>& ReservedWords() {
  static const std::vector<AnsiString> words(std::begin(kReservedWords), std::end(kReservedWords));
  return words;
}

bool IsReservedWord(const AnsiString& word) {
  if (!ReservedWordCheck() || word.empty()) return false;
  const AnsiString up = AsciiUpper(word);
  const auto& words = ReservedWords();
  return std::binary_search(words.begin(), words.end(), up);
}

// ---------------------------------------------------------------------------------------
// Lists and small routines

std::vector<AnsiString> SplitToStrings(const AnsiString& text) {
  std::vector<AnsiString> items;
  const int32_t len = Len(text);
  int32_t pos = 1;
  auto skip_spaces = [&] {
    while (pos <= len && CharAt(text, pos) == ' ') ++pos;
  };
  while (pos <= len) {
    bool inside = false;
    int32_t end = pos;
    for (; end <= len; ++end) {
      const char c = CharAt(text, end);
      if (c == '"') inside = !inside;
      if (!inside && (c == ',' || c == ';' || c == '\r' || c == '\n')) break;
    }
    items.push_back(Trim(text.substr(static_cast<size_t>(pos - 1), static_cast<size_t>(end - pos))));
    pos = end;
    if (pos <= len && (CharAt(text, pos) == ',' || CharAt(text, pos) == ';')) {
      ++pos;
      skip_spaces();
    }
    if (pos <= len && CharAt(text, pos) == '\r') {
      ++pos;
      skip_spaces();
    }
    if (pos <= len && CharAt(text, pos) == '\n') {
      ++pos;
      skip_spaces();
    }
  }
  return items;
}

void SplitToStrings(const AnsiString& text, TStrings* list) {
  if (list == nullptr) return;
  list->BeginUpdate();
  try {
    list->Clear();
    for (const AnsiString& item : SplitToStrings(text)) list->Add(item);
  } catch (...) {
    list->EndUpdate();
    throw;
  }
  list->EndUpdate();
}

int32_t RemoveChar(const AnsiString& text, char c, AnsiString& result) {
  AnsiString r;
  r.reserve(text.size());
  for (char x : text) {
    if (x != c) r += x;
  }
  result = std::move(r);
  return Len(result);
}

void ReplaceChars(AnsiString& text, const AnsiString& chars, char replacement) {
  for (char& x : text) {
    if (chars.find(x) != AnsiString::npos) x = replacement;
  }
}

void ReplaceText(AnsiString& text, const AnsiString& sub, const AnsiString& replacement) {
  if (sub.empty()) return;
  size_t pos = 0;
  while ((pos = text.find(sub, pos)) != AnsiString::npos) {
    text.replace(pos, sub.size(), replacement);
    pos += replacement.size();
  }
}

AnsiString MakeCharString(char c, int32_t count) {
  return count > 0 ? AnsiString(static_cast<size_t>(count), c) : AnsiString();
}

AnsiString PadText(const AnsiString& text, char pad, int32_t length, bool cut) {
  AnsiString r = text;
  const size_t want = length > 0 ? static_cast<size_t>(length) : 0;
  if (cut && r.size() > want) r.resize(want);
  if (r.size() < want) r.append(want - r.size(), pad);
  return r;
}

AnsiString SkipLeadingBelow(const AnsiString& text, uint8_t limit) {
  size_t i = 0;
  while (i + 1 < text.size() && static_cast<unsigned char>(text[i]) < limit) ++i;
  return text.substr(i);
}

AnsiString StripLiteralsAndParens(const AnsiString& text, bool keep_double_quoted) {
  AnsiString r;
  r.reserve(text.size());
  bool in_single = false, in_double = false;
  int32_t depth = 0;
  for (char c : text) {
    if (in_single) {
      if (c == '\'') in_single = false;
      continue;
    }
    if (in_double) {
      if (c == '"') in_double = false;
      if (keep_double_quoted && depth == 0) r += c;
      continue;
    }
    switch (c) {
      case '\'':
        in_single = true;
        break;
      case '"':
        in_double = true;
        if (keep_double_quoted && depth == 0) r += c;
        break;
      case '(':
        ++depth;
        break;
      case ')':
        if (depth > 0) --depth;
        break;
      default:
        if (depth == 0) r += c;
    }
  }
  return r;
}

}  // namespace pelvar
