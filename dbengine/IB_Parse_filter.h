// Filter texts in the style of the generic dataset model (NAME = 'Smith' AND AGE > 30)
// translated into SQL condition lines for a WHERE clause, and single column-equals-value
// conditions.
//
// The translation reads its filter text, its options and its columns from a
// TIB_FilterSource; the buffered dataset is one.
#pragma once

#include <cstdint>

#include "dbengine/IB_Components_rows.h"
#include "platform/db.h"
#include "platform/types.h"

namespace pelvar {

class TStrings;

class TIB_FilterSource {
 public:
  virtual ~TIB_FilterSource() = default;
  virtual AnsiString GetFilter() const = 0;
  virtual TFilterOptions GetFilterOptions() const = 0;
  // The column of that name, or nullptr.
  virtual TIB_Column* FindField(const AnsiString& Name) = 0;
};

// Appends the lines for the source's filter text: "(" first, ")" last, one condition,
// parenthesis or conjunction per line in between; nothing for an empty filter. A text
// that begins with "::SQL::" (any letter case) passes as one line. Raises EIB_Error or
// Exception on bad syntax; lines added before the failure stay in List.
void FilterToSQL(TIB_FilterSource& Source, TStrings* List);

// Removes the next token from the front of Text and trims the rest; Token is left as it
// was when there is none. With Brackets a [name] may hold blanks (the brackets are
// removed) and a name followed by a parenthesised argument list is one token.
void NextFilterToken(AnsiString& Text, bool Brackets, bool Unused, AnsiString& Token);
// Start and End (exclusive, 1-based) of the next token at or after Start, up to End.
bool FilterTokenBounds(const AnsiString& Text, int32_t& Start, int32_t& End, bool Brackets);
// Takes a leading comparison operator, or IS [NOT] NULL, off Text.
void ExtractFilterOperator(AnsiString& Text, AnsiString& Operator);
bool HasCompareChar(const AnsiString& Text);
// 1 to 4: the first of ! < = > within the first four characters; 0 when none.
int32_t CompareCharPos(const AnsiString& Text);
// 'mm/dd/yyyy' or 'mm/dd/yyyy hh:nn:ss', whatever the locale.
AnsiString DateTimeToSQLText(TDateTime Value);
// Every locale decimal separator replaced by a dot.
AnsiString FloatTextToSQL(const AnsiString& Text);
// Name (or the column's full name when Name is blank) compared with the column's current
// value; empty for a nil column.
void ColumnEqualsSQL(const AnsiString& Name, TIB_Column* Column, AnsiString& Condition);

}  // namespace pelvar
