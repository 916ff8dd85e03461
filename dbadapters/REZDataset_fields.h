// Field data exchange of the adapter datasets: which framework field a server column
// becomes, and the conversions between a column's bytes in a record buffer (the server's
// own representation, laid out by the statement engine: a 16-bit null indicator, -1 for
// null, immediately in front of the data) and the framework's native field buffers.
//
// Inside this layer a BCD field's buffer is a Currency (both forms); every other type
// uses the framework's native buffer (platform/db.h).
//
// The conversions work in place on the record buffer; a write that fails leaves the
// column exactly as it was, null indicator included.
#pragma once

#include <cstdint>

#include "dbengine/IB_Components_rows.h"
#include "platform/db.h"
#include "platform/types.h"

namespace pelvar {

class TIB_Column;

// The server's day 0 (17 November 1858) is the framework's day 678576.
constexpr int32_t REZDayOffset = 678576;

// What the conversions need to know of one column.
struct TREZColumnDesc {
  int16_t SQLType = 0;     // without the nullable bit
  int16_t Scale = 0;       // 0 or negative: the number of decimals, negated
  int16_t SubType = 0;
  uint16_t Length = 0;     // the server's length (VARCHAR: without its length prefix)
  AnsiString Name;         // for messages
  bool Utf8 = false;       // the connection's character set is UTF8
  bool NoTrimming = false; // the connection keeps the blanks of CHAR columns
  // The column's texts for True and False, and whether the dataset reads text booleans
  // through them instead of the fixed "T" and "F".
  AnsiString BoolTrue = "T";
  AnsiString BoolFalse = "F";
  bool CustomBool = false;

  // Bytes of the data behind the null indicator.
  int32_t DataSize() const;
  // The description of a statement column (its connection's settings included).
  static TREZColumnDesc FromColumn(TIB_Column* Column, bool CustomBool);
};

// The field definition a column becomes.
struct TREZFieldMapping {
  TFieldType DataType = ftUnknown;
  int32_t Size = 0;
  int32_t Precision = 0;
};

// The type mapping of one column: IsBoolean is the column's BOOLEAN attribute (or a
// boolean SQL type), KeepsBCD the engine's "keeps scaled values as BCD" flag (at most 4
// decimals, no NOBCD attribute), AttrBCD its BCD attribute. Sets CustomBool when a
// boolean column uses other texts than "T"/"F" of length 1.
TREZFieldMapping REZMapColumnType(int16_t SQLType, int16_t Scale, int16_t SubType,
                                  uint16_t Length, const AnsiString& FieldName, bool IsBoolean,
                                  const AnsiString& BoolTrue, const AnsiString& BoolFalse,
                                  bool KeepsBCD, bool AttrBCD, bool& CustomBool);
// The same for a statement column; a missing column maps to ftUnknown.
TREZFieldMapping REZMapColumn(TIB_Column* Column, bool& CustomBool);

// Reads the column whose data starts at Data (the null indicator in the two bytes before
// it) into Buffer as the native value of a field of type FieldType and size FieldSize.
// Returns False when the column is null (or, for a text boolean, holds neither text).
// Buffer nullptr only answers whether the column is not null. Unsupported pairs raise
// EIB_Error "Nepodporovaná konverze sloupce".
bool REZReadColumn(const TREZColumnDesc& Col, const char* Data, TFieldType FieldType,
                   int32_t FieldSize, void* Buffer);

// Writes the native value in Buffer (nullptr: null) into the column whose data starts at
// Data. On any failure the column's bytes and its null indicator are left untouched.
// A text longer than its column raises EIB_StatementError (the engine's overrun text); a
// number that does not fit its column raises the overflow of its size.
void REZWriteColumn(const TREZColumnDesc& Col, char* Data, TFieldType FieldType,
                    int32_t FieldSize, const void* Buffer);

// The adapter's string field: a text longer than the field is refused (the engine's
// overrun error) instead of being cut.
class TREZStringField : public TStringField {
 public:
  explicit TREZStringField(TComponent* Owner) : TStringField(Owner) {}
  void SetAsString(const AnsiString& Value) override;
};

// The field classes of the adapter for ftFloat and ftLargeint.
class TREZFloatField : public TFloatField {
 public:
  explicit TREZFloatField(TComponent* Owner) : TFloatField(Owner) {}

 protected:
  // The locale's thousands separators are removed before the text is converted.
  void SetTextImpl(const AnsiString& Text) override;
};

class TREZLargeIntField : public TLargeintField {
 public:
  explicit TREZLargeIntField(TComponent* Owner) : TLargeintField(Owner) {}
  // A variant goes through its text.
  void SetAsVariant(const Variant& Value) override;
};

}  // namespace pelvar
