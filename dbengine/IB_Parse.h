// The SQL text toolkit of the statement engine: quote- and comment-aware scanning and
// searching, identifier quoting by SQL dialect, the SELECT clause finder and rewriters,
// the parameter parser that produces server SQL, macro expansion, attribute texts,
// column definition texts and the database statements of scripts.
//
// All routines are free functions over Windows-1250 text. Positions count from 1; a
// position of 0 means "not found". A blank is any character with a code of 32 or less.
#pragma once

#include <climits>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <type_traits>
#include <vector>

#include "platform/types.h"

namespace pelvar {

class TStrings;

// ---------------------------------------------------------------------------------------
// Scanning and quoting

// A depth that the scanner leaves alone (not tracked).
constexpr int32_t kScanDepthUntracked = INT32_MIN;

// The state a caller keeps while walking a text with ScanSQLChar.
struct TIB_ScanState {
  bool InSingleQuotes = false;   // inside an apostrophe-quoted literal
  bool InDoubleQuotes = false;   // inside a double-quoted name
  bool InLineComment = false;    // inside a comment running to the end of the line
  bool InBlockComment = false;   // inside /* */ (set together with the line flag by --)
  int32_t ParenDepth = 0;        // nesting of ( ), or kScanDepthUntracked
  int32_t BracketDepth = 0;      // nesting of [ ], or kScanDepthUntracked

  bool InComment() const { return InLineComment || InBlockComment; }
  bool InQuotes() const { return InSingleQuotes || InDoubleQuotes; }
};

// Classifies the character at pos (1-based) and updates the state. Returns the number of
// characters the classified token takes (0, 1 or 2); the caller advances by that step, by
// one when it is 0. Positions below 1 give 0 and change nothing; a position beyond the end
// reads as a carriage return.
int32_t ScanSQLChar(const AnsiString& text, int32_t pos, TIB_ScanState& state);

bool IsWordBreak(char c, bool include_comment_starts);
bool IsTokenDelimiter(char c);

int32_t CharPosOutsideQuotes(char c, const AnsiString& text, int32_t start = 1);
int32_t StrPosOutsideQuotes(const AnsiString& sub, const AnsiString& text, int32_t start = 1);
int32_t CharPosAtTopLevel(char c, const AnsiString& text, int32_t start = 1);
// Scans backwards from start (0 = the last character).
int32_t LastCharPosOutsideQuotes(char c, const AnsiString& text, int32_t start = 0,
                                 bool stop_at_delimiter = false);
// Substring search outside literals, quoted names and comments, at parenthesis depth 0.
int32_t FindSQLText(const AnsiString& sub, const AnsiString& text, int32_t start = 1,
                    bool whole_word = false);

bool IsQuoted(const AnsiString& text, char quote);
AnsiString DoubleChar(const AnsiString& text, char c);
AnsiString QuoteText(const AnsiString& text, char quote);
AnsiString StripQuotes(const AnsiString& text);

AnsiString IdentForDialect(uint16_t dialect, const AnsiString& name);
AnsiString StoredIdentForDialect(uint16_t dialect, const AnsiString& name);

// The program-wide reserved-word switch, off by default.
bool ReservedWordCheck();
void SetReservedWordCheck(bool on);
bool IsReservedWord(const AnsiString& word);
// The reserved-word table, sorted in byte order.
const std::vector<AnsiString>& ReservedWords();

// Items separated by commas, semicolons and line ends outside double quotes, trimmed.
std::vector<AnsiString> SplitToStrings(const AnsiString& text);
void SplitToStrings(const AnsiString& text, TStrings* list);

int32_t RemoveChar(const AnsiString& text, char c, AnsiString& result);
void ReplaceChars(AnsiString& text, const AnsiString& chars, char replacement);
void ReplaceText(AnsiString& text, const AnsiString& sub, const AnsiString& replacement);
AnsiString MakeCharString(char c, int32_t count);
AnsiString PadText(const AnsiString& text, char pad, int32_t length, bool cut);
AnsiString SkipLeadingBelow(const AnsiString& text, uint8_t limit);
AnsiString StripLiteralsAndParens(const AnsiString& text, bool keep_double_quoted);

// ---------------------------------------------------------------------------------------
// SELECT clauses

// Flags of FindSQLKeyword.
enum : uint8_t {
  kSqlKeyFirstWord = 1,     // the keyword must be the first word of the text
  kSqlKeyNextIsTerm = 2,    // the word right after the keyword must be a terminator
  kSqlKeyInParens = 4,      // also look inside parentheses
  kSqlKeySkipBrackets = 8,  // skip positions inside square brackets
  kSqlKeyPsqlBlocks = 16,   // BEGIN/CASE ... END nest; nested positions are skipped
};

// Finds the keyword sequence and the terminator that ends its clause. On entry start_pos
// is where to begin (below 1 reads as 1) and end_pos the last position to look at (0 =
// the end). On return start_pos is the keyword's position (left alone when it is not
// found), end_pos the terminator's position and found the terminator.
bool FindSQLKeyword(const AnsiString& sql, const AnsiString& keywords, uint8_t flags,
                    const std::vector<AnsiString>& terminators, int32_t& start_pos,
                    int32_t& end_pos, AnsiString& found);

void FindSelectClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos,
                      bool statement_select = false);
void FindFromClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);
void FindWhereClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);
void FindGroupByClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);
void FindHavingClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);
void FindUnionClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);
void FindPlanClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);
void FindOrderByClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);
void FindForUpdateClause(const AnsiString& sql, int32_t& start_pos, int32_t& end_pos);

AnsiString GetSelectClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetFromClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetWhereClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetGroupByClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetHavingClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetUnionClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetPlanClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetOrderByClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);
AnsiString GetForUpdateClause(const AnsiString& sql, int32_t* start_pos = nullptr, int32_t* end_pos = nullptr);

void SetSelectClause(AnsiString& sql, const AnsiString& clause);
void SetFromClause(AnsiString& sql, const AnsiString& clause);
void SetWhereClause(AnsiString& sql, const AnsiString& clause);
void SetGroupByClause(AnsiString& sql, const AnsiString& clause);
void SetHavingClause(AnsiString& sql, const AnsiString& clause);
void SetUnionClause(AnsiString& sql, const AnsiString& clause);
void SetPlanClause(AnsiString& sql, const AnsiString& clause);
void SetOrderByClause(AnsiString& sql, const AnsiString& clause);
void SetForUpdateClause(AnsiString& sql, const AnsiString& clause);

AnsiString CopyRange(const AnsiString& text, int32_t start, int32_t end);
void ReplaceRange(AnsiString& sql, const AnsiString& new_text, int32_t start, int32_t end);

bool IsProcedureDDL(const AnsiString& sql);

// ---------------------------------------------------------------------------------------
// Attribute texts, column definitions, script statements

AnsiString EncodeAttributeValue(const AnsiString& text);
AnsiString DecodeAttributeValue(const AnsiString& text);
char EscapedLetterToChar(char c);
// start 0 when the keyword is absent; value decoded.
void FindAttribute(const AnsiString& text, const AnsiString& keyword, int32_t& start,
                   AnsiString& value, int32_t& end);
void RemoveAttribute(AnsiString& text, const AnsiString& keyword);
bool SetAttributeFlag(AnsiString& text, const AnsiString& keyword, bool on);

// SQL type codes of the client library.
enum : int16_t {
  kSqlText = 452, kSqlVarying = 448, kSqlShort = 500, kSqlLong = 496, kSqlFloat = 482,
  kSqlDouble = 480, kSqlDFloat = 530, kSqlTimestamp = 510, kSqlBlob = 520, kSqlArray = 540,
  kSqlQuad = 550, kSqlTypeTime = 560, kSqlTypeDate = 570, kSqlInt64 = 580,
};

// The description a column definition text gives; AssignXSQLVARDef copies it into the
// client library's XSQLVAR (or any struct with the same member names).
struct TIB_XSQLVARDef {
  int16_t sqltype = 0;
  int16_t sqlscale = 0;
  int16_t sqlsubtype = 0;
  int16_t sqllen = 0;
  AnsiString sqlname;    // each name at most 31 characters, trailing blanks removed
  AnsiString relname;
  AnsiString ownname;
  AnsiString aliasname;
};

void ParseXSQLVARDef(const AnsiString& definition, uint16_t dialect, TIB_XSQLVARDef& var);

template <class XSQLVAR_T>
void AssignXSQLVARDef(const TIB_XSQLVARDef& d, XSQLVAR_T& v) {
  v.sqltype = d.sqltype;
  v.sqlscale = d.sqlscale;
  v.sqlsubtype = d.sqlsubtype;
  v.sqllen = d.sqllen;
  auto put = [](const AnsiString& s, char* buf, auto& len) {
    size_t n = s.size() < 31 ? s.size() : 31;
    for (size_t i = 0; i < 32; ++i) buf[i] = i < n ? s[i] : '\0';
    len = static_cast<std::remove_reference_t<decltype(len)>>(n);
  };
  put(d.sqlname, v.sqlname, v.sqlname_length);
  put(d.relname, v.relname, v.relname_length);
  put(d.ownname, v.ownname, v.ownname_length);
  put(d.aliasname, v.aliasname, v.aliasname_length);
}

template <class XSQLVAR_T>
void ParseXSQLVARDef(const AnsiString& definition, uint16_t dialect, XSQLVAR_T& var) {
  TIB_XSQLVARDef d;
  ParseXSQLVARDef(definition, dialect, d);
  AssignXSQLVARDef(d, var);
}

bool SQLTypesMatch(int16_t a, int16_t b);

bool ReadQuotedValue(const AnsiString& sql, int32_t& start, int32_t& end, AnsiString& value,
                     bool stop_at_word);
bool FindScriptValue(const AnsiString& sql, const AnsiString& keyword,
                     const std::vector<AnsiString>& verbs, AnsiString& value, AnsiString& verb);

// What ApplyDatabaseStatement needs of a connection. The connection component implements
// it (connect string, user name = parameter 1, password, SQL role = parameter 4).
class IB_DatabaseStatementTarget {
 public:
  virtual ~IB_DatabaseStatementTarget() = default;
  virtual bool GetConnected() const = 0;
  virtual void SetConnectString(const AnsiString& value) = 0;
  virtual void SetUserName(const AnsiString& value) = 0;
  virtual void SetPassword(const AnsiString& value) = 0;
  virtual void SetSQLRole(const AnsiString& value) = 0;
};

bool ApplyDatabaseStatement(IB_DatabaseStatementTarget& connection, const AnsiString& sql,
                            AnsiString& verb);

// ---------------------------------------------------------------------------------------
// Parameters and macros

// Turns named and unnamed parameters into "?" markers followed by a comment naming them,
// collects the parameter names and the select items. param_char 0 means none.
int32_t ParseSQLParams(const AnsiString& sql, std::vector<AnsiString>* param_names,
                       std::vector<AnsiString>* select_items, AnsiString& server_sql,
                       char param_char, bool keep_comments, int32_t& comment_chars,
                       bool select_params_last);
int32_t ParseSQLParams(const AnsiString& sql, TStrings* param_names, TStrings* select_items,
                       TStrings* ignored, AnsiString& server_sql, char param_char,
                       bool keep_comments, int32_t& comment_chars, bool select_params_last);

void MakeServerSQL(const AnsiString& sql, AnsiString& server_sql);
void ParamMarkersToNames(const AnsiString& server_sql, AnsiString& sql, char param_char);

using TIB_MacroCallback = std::function<void(const AnsiString& macro_text, AnsiString& replacement)>;

// Macro references nest at most this deep; a macro that refers to itself raises.
constexpr int kMaxMacroDepth = 32;

void ExpandMacros(const AnsiString& sql, const AnsiString& begin_mark, const AnsiString& end_mark,
                  const TIB_MacroCallback& callback, AnsiString& result);

// ---------------------------------------------------------------------------------------
// SELECT analysis and rewriting

void SkipSQLBlanks(const AnsiString& sql, int32_t& pos, int32_t limit, bool skip_parens,
                   bool skip_brackets, bool skip_literals, bool skip_quoted_names);
void ReadSQLWord(const AnsiString& sql, int32_t& pos, int32_t limit, AnsiString& word);
// Lines ALIAS=RELATION, one per relation of the FROM clause.
std::vector<AnsiString> ParseRelationAliases(const AnsiString& sql);
void ParseRelationAliases(const AnsiString& sql, TStrings* list);
AnsiString GetFirstSkip(const AnsiString& select_text);
void ReadValueExpr(const AnsiString& text, int32_t& start, int32_t& end, AnsiString& value,
                   bool give_back_star);
void GetForUpdateColumns(const AnsiString& sql, TStrings* list);
AnsiString MakeCountSQL(const AnsiString& select_text);
// Returns the number of FROM-clause parameters; keys are names or NAME=... lines.
int32_t MakeKeyLookupSQL(const AnsiString& select_text, const AnsiString& new_select,
                         const std::vector<AnsiString>& keys, int32_t& select_params,
                         AnsiString& statement);
int32_t MakeKeyLookupSQL(const AnsiString& select_text, const AnsiString& new_select,
                         const TStrings* keys, int32_t& select_params, AnsiString& statement);
void AddWhereCondition(AnsiString& where, const AnsiString& condition);
void PrependWhereCondition(AnsiString& where, const AnsiString& condition);

}  // namespace pelvar
