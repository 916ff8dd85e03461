// Field data exchange: type mapping, column -> field buffer, field buffer -> column.
#include "dbadapters/REZDataset_fields.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Session.h"
#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_columns.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

constexpr int64_t kMSecsPerDay = 86400000;

[[noreturn]] void Unsupported() { throw EIB_Error(IB_Message(TIB_Msg::UnsupportedColumnConversion)); }
[[noreturn]] void InvalidBufferValue() { throw Exception("Invalid buffer value"); }
[[noreturn]] void Overflow(TIB_Msg Msg) { throw Exception(IB_Message(Msg)); }

template <class T>
T Load(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class T>
void Store(void* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

// Whole part of a float towards zero; beyond 64 bits (or NaN) the 64-bit overflow.
int64_t TruncFloat(long double v) {
  if (!(v > -9223372036854775809.0L && v < 9223372036854775808.0L)) Overflow(TIB_Msg::Int64Overflow);
  return static_cast<int64_t>(v);
}

// A whole number that must fit 16 or 32 bits: the overflow of that size otherwise.
int16_t To16(int64_t v) {
  if (v < std::numeric_limits<int16_t>::min() || v > std::numeric_limits<int16_t>::max())
    Overflow(TIB_Msg::SmallintOverflow);
  return static_cast<int16_t>(v);
}
int32_t To32(int64_t v) {
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    Overflow(TIB_Msg::IntegerOverflow);
  return static_cast<int32_t>(v);
}

int32_t AddDays(int64_t a, int64_t b) {
  const int64_t r = a + b;
  if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
    throw EIntOverflow("Integer overflow");
  return static_cast<int32_t>(r);
}

bool IsIntType(int16_t t) { return t == SQL_LONG || t == SQL_SHORT || t == SQL_QUAD || t == SQL_INT64; }
bool IsBoolType(int16_t t) { return t == 590 || t == SQL_BOOLEAN; }

// Writes a whole number into the 16-bit native buffer of the small integer types.
void Put16(void* Buffer, int64_t v) { Store<int16_t>(Buffer, static_cast<int16_t>(v)); }

// The framework's field value of the small integer types, read from its buffer. A
// boolean's True (any non-zero value) counts as 1.
int64_t SmallFieldValue(TFieldType ft, const void* Buffer) {
  switch (ft) {
    case ftSmallint: return Load<int16_t>(Buffer);
    case ftWord: return Load<uint16_t>(Buffer);
    case ftBoolean: return Load<int16_t>(Buffer) != 0 ? 1 : 0;
    case ftInteger: case ftAutoInc: case ftDate: case ftTime: return Load<int32_t>(Buffer);
    case ftLargeint: return Load<int64_t>(Buffer);
    default: Unsupported();
  }
}

bool IsWholeFieldType(TFieldType ft) {
  switch (ft) {
    case ftSmallint: case ftWord: case ftBoolean: case ftInteger: case ftAutoInc: case ftLargeint:
      return true;
    default:
      return false;
  }
}

// The text of a string field's buffer: zero-terminated within its size + 1 bytes.
AnsiString FieldText(const void* Buffer, int32_t FieldSize) {
  const char* s = static_cast<const char*>(Buffer);
  return AnsiString(s, ::strnlen(s, static_cast<size_t>(FieldSize > 0 ? FieldSize : 0)));
}

void PutFieldText(void* Buffer, int32_t FieldSize, const AnsiString& Text) {
  const size_t n = std::min<size_t>(Text.size(), static_cast<size_t>(FieldSize > 0 ? FieldSize : 0));
  std::memcpy(Buffer, Text.data(), n);
  static_cast<char*>(Buffer)[n] = '\0';
}

[[noreturn]] void TextTooLong(const TREZColumnDesc& Col, size_t Size) {
  throw EIB_StatementError(nullptr, Format(IB_Message(TIB_Msg::BufferOverrun),
                                           {Col.Name, IntToStr(static_cast<int>(Col.Length)),
                                            IntToStr(static_cast<int64_t>(Size))}));
}

// Reads a text boolean's first byte (the only one when the fixed texts apply).
bool ReadTextBool(const TREZColumnDesc& Col, const AnsiString& Text, void* Buffer) {
  const AnsiString t = Col.CustomBool ? TrimRight(Text) : Text.substr(0, 1);
  const AnsiString& yes = Col.CustomBool ? Col.BoolTrue : AnsiString("T");
  const AnsiString& no = Col.CustomBool ? Col.BoolFalse : AnsiString("F");
  int16_t v;
  if (t == yes)
    v = -1;
  else if (t == no)
    v = 0;
  else
    return false;
  if (Buffer != nullptr) Store<int16_t>(Buffer, v);
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Column description

int32_t TREZColumnDesc::DataSize() const {
  switch (SQLType) {
    case SQL_VARYING: return Length + 2;
    default: return Length;
  }
}

TREZColumnDesc TREZColumnDesc::FromColumn(TIB_Column* Column, bool CustomBool) {
  TREZColumnDesc d;
  d.SQLType = Column->BaseType();
  d.Scale = Column->GetSQLScale();
  d.SubType = Column->GetSQLSubType();
  d.Length = Column->GetSQLLen();
  d.Name = Column->GetFullName();
  TIB_RowOwner* owner = Column->Row()->Statement();
  d.Utf8 = AnsiSameText(owner->ConnectionCharSet(), "UTF8");
  d.NoTrimming = owner->DefaultNoTrimming();
  d.CustomBool = CustomBool;
  if (Column->IsBoolean) {
    d.BoolTrue = Column->GetBoolTrue();
    d.BoolFalse = Column->GetBoolFalse();
  }
  return d;
}

// ---------------------------------------------------------------------------------------------
// Type mapping

TREZFieldMapping REZMapColumnType(int16_t SQLType, int16_t Scale, int16_t SubType,
                                  uint16_t Length, const AnsiString& FieldName, bool IsBoolean,
                                  const AnsiString& BoolTrue, const AnsiString& BoolFalse,
                                  bool KeepsBCD, bool AttrBCD, bool& CustomBool) {
  const int16_t t = static_cast<int16_t>(SQLType & ~1);
  TREZFieldMapping m;
  auto text_boolean = [&] {
    m.DataType = ftBoolean;
    m.Size = 0;
    if (!CustomBool && !(BoolTrue == "T" && BoolFalse == "F" && Length == 1)) CustomBool = true;
  };
  if (IsBoolType(t)) {
    m.DataType = ftBoolean;
    return m;
  }
  if (IsBoolean) {
    const bool number = IsIntType(t) || t == SQL_DOUBLE || t == SQL_FLOAT;
    if (number && BoolTrue == "1" && BoolFalse == "0" && Scale == 0) {
      text_boolean();
      return m;
    }
    if (t == SQL_VARYING || t == SQL_TEXT) {
      text_boolean();
      return m;
    }
  }
  switch (t) {
    case SQL_VARYING:
    case SQL_TEXT:
      if (AnsiSameText(FieldName, "DB_KEY") || AnsiSameText(FieldName, "RDB$DB_KEY")) {
        m.DataType = ftBytes;
        m.Size = Length;
      } else if (Length > 255) {
        m.DataType = ftMemo;
        m.Size = Length;
      } else {
        m.DataType = ftString;
        m.Size = Length < 1 ? 1 : Length;
      }
      break;
    case SQL_DOUBLE:
    case SQL_FLOAT:
      m.DataType = ftFloat;
      break;
    case SQL_LONG:
    case SQL_SHORT:
    case SQL_QUAD:
    case SQL_INT64:
      if (Scale == 0) {
        m.DataType = t == SQL_LONG ? ftInteger : t == SQL_SHORT ? ftSmallint : ftLargeint;
      } else if (KeepsBCD) {
        m.DataType = ftBCD;
        m.Size = -Scale;
      } else {
        m.DataType = ftFloat;
      }
      break;
    case SQL_TIMESTAMP: m.DataType = ftDateTime; break;
    case SQL_BLOB:
      m.DataType = SubType == 1 ? ftMemo : ftBlob;
      m.Size = 8;
      break;
    case SQL_ARRAY:
      m.DataType = ftBytes;
      m.Size = 8;
      break;
    case SQL_TYPE_TIME: m.DataType = ftTime; break;
    case SQL_TYPE_DATE: m.DataType = ftDate; break;
    default: m.DataType = ftUnknown; break;
  }
  if (m.DataType == ftFloat && AttrBCD) {
    m.DataType = ftBCD;
    m.Size = -Scale;
  }
  if (m.DataType == ftBCD) {
    switch (t) {
      case SQL_DOUBLE: m.Precision = 15; break;
      case SQL_FLOAT: case SQL_LONG: m.Precision = 9; break;
      case SQL_SHORT: m.Precision = 4; break;
      case SQL_QUAD: case SQL_INT64: m.Precision = 18; break;
      default: m.Precision = 0;
    }
  }
  return m;
}

TREZFieldMapping REZMapColumn(TIB_Column* Column, bool& CustomBool) {
  if (Column == nullptr) return {};
  const bool keeps_bcd = Column->GetSQLScale() < 0 && Column->GetSQLScale() >= -4 &&
                         !Column->IsAttributeSet("NOBCD");
  return REZMapColumnType(Column->BaseType(), Column->GetSQLScale(), Column->GetSQLSubType(),
                          Column->GetSQLLen(), Column->GetFieldName(), Column->IsBoolean,
                          Column->GetBoolTrue(), Column->GetBoolFalse(), keeps_bcd,
                          Column->IsAttributeSet("BCD"), CustomBool);
}

// ---------------------------------------------------------------------------------------------
// Column -> field buffer

bool REZReadColumn(const TREZColumnDesc& Col, const char* Data, TFieldType ft, int32_t FieldSize,
                   void* Buffer) {
  const int16_t ind = Load<int16_t>(Data - 2);
  if (Buffer == nullptr) return ind != -1;
  if (ft == ftBoolean && Col.Scale != 0) Unsupported();
  if (ind == -1) return false;
  const int16_t t = Col.SQLType;
  switch (t) {
    case SQL_VARYING:
    case SQL_TEXT: {
      AnsiString text;
      if (t == SQL_VARYING) {
        const size_t n = std::min<size_t>(Load<uint16_t>(Data), Col.Length);
        text.assign(Data + 2, n);
      } else {
        text.assign(Data, Col.Length);
      }
      switch (ft) {
        case ftString: {
          if (t == SQL_TEXT) text.resize(::strnlen(text.data(), text.size()));
          if (Col.Utf8) text = Utf8ToAnsi(text);
          if (t == SQL_TEXT && !Col.NoTrimming) {
            const size_t e = text.find_last_not_of(' ');
            text.resize(e == AnsiString::npos ? 0 : e + 1);
          }
          if (Buffer != nullptr) PutFieldText(Buffer, FieldSize, text);
          return true;
        }
        case ftBoolean:
          return ReadTextBool(Col, text, Buffer);
        case ftVarBytes:
          if (t != SQL_VARYING) Unsupported();
          if (Buffer != nullptr) {
            const uint16_t n = static_cast<uint16_t>(std::min<size_t>(text.size(), FieldSize > 0 ? FieldSize : 0));
            Store<uint16_t>(Buffer, n);
            std::memcpy(static_cast<char*>(Buffer) + 2, text.data(), n);
          }
          return true;
        case ftBytes:
          if (t != SQL_TEXT) Unsupported();
          if (Buffer != nullptr)
            std::memcpy(Buffer, Data, std::min<size_t>(Col.Length, FieldSize > 0 ? FieldSize : 0));
          return true;
        default:
          Unsupported();
      }
    }
    case SQL_DOUBLE:
    case SQL_FLOAT: {
      const double v = t == SQL_DOUBLE ? Load<double>(Data) : Load<float>(Data);
      switch (ft) {
        case ftSmallint: case ftWord: case ftBoolean: Put16(Buffer, To16(TruncFloat(v))); return true;
        case ftInteger: case ftAutoInc: Store<int32_t>(Buffer, To32(TruncFloat(v))); return true;
        case ftDate: case ftTime:
          if (t != SQL_DOUBLE) Unsupported();
          Store<int32_t>(Buffer, To32(TruncFloat(v)));
          return true;
        case ftLargeint: Store<int64_t>(Buffer, TruncFloat(v)); return true;
        case ftFloat: case ftCurrency: Store<double>(Buffer, v); return true;
        case ftDateTime:
          if (t != SQL_DOUBLE) Unsupported();
          Store<double>(Buffer, v);
          return true;
        case ftBCD: Store<Currency>(Buffer, Currency(v)); return true;
        default: Unsupported();
      }
    }
    case SQL_LONG:
    case SQL_SHORT:
    case SQL_QUAD:
    case SQL_INT64: {
      const int64_t v = t == SQL_LONG    ? Load<int32_t>(Data)
                        : t == SQL_SHORT ? Load<int16_t>(Data)
                                         : Load<int64_t>(Data);
      const bool wide = t == SQL_QUAD || t == SQL_INT64;
      if (Col.Scale != 0) {
        switch (ft) {
          case ftInteger: case ftAutoInc:
            Store<int32_t>(Buffer, To32(TruncFloat(ScaleFloat(Col.Scale, static_cast<long double>(v)))));
            return true;
          case ftLargeint:
            Store<int64_t>(Buffer, TruncFloat(ScaleFloat(Col.Scale, static_cast<long double>(v))));
            return true;
          case ftFloat: case ftCurrency:
            Store<double>(Buffer, static_cast<double>(ScaleFloat(Col.Scale, static_cast<long double>(v))));
            return true;
          case ftBCD:
            Store<Currency>(Buffer, wide ? ScaledInt64ToCurrency(v, Col.Scale)
                                         : ScaledIntToCurrency(static_cast<int32_t>(v), Col.Scale));
            return true;
          default: Unsupported();
        }
      }
      switch (ft) {
        case ftString: {
          if (t == SQL_SHORT) Unsupported();
          if (Buffer != nullptr) PutFieldText(Buffer, FieldSize, IntToStr(v));
          return true;
        }
        case ftSmallint: case ftWord: case ftBoolean:
          Put16(Buffer, ft == ftWord && v >= 0 && v <= 0xFFFF ? v : To16(v));
          return true;
        case ftInteger: case ftAutoInc: Store<int32_t>(Buffer, To32(v)); return true;
        case ftDate: case ftTime:
          if (t == SQL_SHORT) Unsupported();
          Store<int32_t>(Buffer, To32(v));
          return true;
        case ftFloat: case ftCurrency: Store<double>(Buffer, static_cast<double>(v)); return true;
        case ftBCD: Store<Currency>(Buffer, Currency(static_cast<long long>(v))); return true;
        case ftLargeint: Store<int64_t>(Buffer, v); return true;
        default: Unsupported();
      }
    }
    case SQL_TIMESTAMP: {
      const int32_t day = Load<int32_t>(Data);
      const uint32_t time = Load<uint32_t>(Data + 4);
      switch (ft) {
        case ftDate: Store<int32_t>(Buffer, AddDays(day, REZDayOffset)); return true;
        case ftTime: Store<int32_t>(Buffer, static_cast<int32_t>(time / 10)); return true;
        case ftDateTime:
          Store<double>(Buffer, static_cast<double>(AddDays(day, REZDayOffset)) * kMSecsPerDay + time / 10);
          return true;
        default: Unsupported();
      }
    }
    case SQL_BLOB:
    case SQL_ARRAY:
      if (Buffer != nullptr) std::memcpy(Buffer, Data, 8);
      return true;
    case SQL_TYPE_TIME: {
      const uint32_t time = Load<uint32_t>(Data);
      switch (ft) {
        case ftTime: Store<int32_t>(Buffer, static_cast<int32_t>(time / 10)); return true;
        case ftDateTime: Store<double>(Buffer, static_cast<double>(time / 10)); return true;
        default: Unsupported();
      }
    }
    case SQL_TYPE_DATE: {
      const int32_t day = Load<int32_t>(Data);
      switch (ft) {
        case ftDate: Store<int32_t>(Buffer, AddDays(day, REZDayOffset)); return true;
        case ftDateTime:
          Store<double>(Buffer, static_cast<double>(AddDays(day, REZDayOffset)) * kMSecsPerDay);
          return true;
        default: Unsupported();
      }
    }
    case 590:
    case SQL_BOOLEAN: {
      if (ft != ftBoolean) Unsupported();
      const int v = t == 590 ? Load<int16_t>(Data) : static_cast<uint8_t>(*Data);
      if (v != 0 && v != 1) InvalidBufferValue();
      if (Buffer != nullptr) Store<int16_t>(Buffer, v == 1 ? -1 : 0);
      return true;
    }
    default:
      Unsupported();
  }
}

// ---------------------------------------------------------------------------------------------
// Field buffer -> column

namespace {

// The text of a text column: Text must fit, blanks pad a CHAR column, zeros a VARCHAR's.
void PutColumnText(const TREZColumnDesc& Col, char* Out, const AnsiString& Text) {
  if (Text.size() > Col.Length) TextTooLong(Col, Text.size());
  if (Col.SQLType == SQL_VARYING) {
    std::memset(Out + 2, 0, Col.Length);
    std::memcpy(Out + 2, Text.data(), Text.size());
    Store<uint16_t>(Out, static_cast<uint16_t>(Text.size()));
  } else {
    std::memset(Out, ' ', Col.Length);
    std::memcpy(Out, Text.data(), Text.size());
  }
}

// A scaled column's stored integer for a float value: more than 4 decimals scale the
// float itself, otherwise the value goes through a Currency.
int64_t ScaledFromFloat(int16_t Decimals, double v, bool Wide, bool Short) {
  if (Decimals > 4) {
    if (Wide) return FloatToScaledInt64(Decimals, v);
    return Short ? FloatToScaledSmallint(Decimals, v) : FloatToScaledInteger(Decimals, v);
  }
  const Currency c(v);
  if (Wide) return CurrencyToScaledInt64(Decimals, c);
  return Short ? CurrencyToScaledSmallint(Decimals, c) : CurrencyToScaledInteger(Decimals, c);
}

void WriteInto(const TREZColumnDesc& Col, char* Out, TFieldType ft, int32_t FieldSize, const void* Buffer) {
  const int16_t t = Col.SQLType;
  switch (t) {
    case SQL_VARYING:
    case SQL_TEXT:
      switch (ft) {
        case ftString: {
          AnsiString text = FieldText(Buffer, FieldSize);
          if (Col.Utf8) text = AnsiToUtf8(text);
          PutColumnText(Col, Out, text);
          return;
        }
        case ftBoolean: {
          const bool v = Load<int16_t>(Buffer) != 0;
          if (Col.CustomBool) {
            PutColumnText(Col, Out, v ? Col.BoolTrue : Col.BoolFalse);
          } else {
            if (Col.Length != 1) Unsupported();
            PutColumnText(Col, Out, v ? "T" : "F");
          }
          return;
        }
        case ftVarBytes: {
          if (t != SQL_VARYING) Unsupported();
          const uint16_t n = Load<uint16_t>(Buffer);
          if (n > Col.Length) TextTooLong(Col, n);
          std::memset(Out + 2, 0, Col.Length);
          std::memcpy(Out, Buffer, n + 2u);
          return;
        }
        case ftBytes:
          if (t != SQL_TEXT) Unsupported();
          std::memset(Out, 0, Col.Length);
          std::memcpy(Out, Buffer, std::min<size_t>(Col.Length, FieldSize > 0 ? FieldSize : 0));
          return;
        default:
          Unsupported();
      }
    case SQL_DOUBLE:
    case SQL_FLOAT: {
      double v;
      switch (ft) {
        case ftBCD: v = Load<Currency>(Buffer).ToDouble(); break;
        case ftFloat: case ftCurrency: v = Load<double>(Buffer); break;
        case ftDateTime:
          if (t != SQL_DOUBLE) Unsupported();
          v = Load<double>(Buffer);
          break;
        case ftDate: case ftTime:
          if (t != SQL_DOUBLE) Unsupported();
          v = static_cast<double>(Load<int32_t>(Buffer));
          break;
        default:
          if (!IsWholeFieldType(ft)) Unsupported();
          v = static_cast<double>(SmallFieldValue(ft, Buffer));
      }
      if (t == SQL_DOUBLE)
        Store<double>(Out, v);
      else
        Store<float>(Out, static_cast<float>(v));
      return;
    }
    case SQL_LONG:
    case SQL_SHORT: {
      const bool Short = t == SQL_SHORT;
      int64_t v;
      if (Col.Scale != 0) {
        const int16_t dec = static_cast<int16_t>(-Col.Scale);
        if (ft == ftBCD)
          v = Short ? CurrencyToScaledSmallint(dec, Load<Currency>(Buffer))
                    : CurrencyToScaledInteger(dec, Load<Currency>(Buffer));
        else if (ft == ftFloat || ft == ftCurrency)
          v = ScaledFromFloat(dec, Load<double>(Buffer), false, Short);
        else
          Unsupported();
      } else if (ft == ftBCD) {
        v = Load<Currency>(Buffer).Trunc();
      } else if (ft == ftFloat || ft == ftCurrency) {
        v = Short ? TruncFloat(Load<double>(Buffer)) : CurrencyToScaledInteger(0, Currency(Load<double>(Buffer)));
      } else if (IsWholeFieldType(ft)) {
        v = SmallFieldValue(ft, Buffer);
      } else {
        Unsupported();
      }
      if (Short)
        Store<int16_t>(Out, To16(v));
      else
        Store<int32_t>(Out, To32(v));
      return;
    }
    case SQL_QUAD:
    case SQL_INT64: {
      int64_t v;
      if (Col.Scale != 0) {
        const int16_t dec = static_cast<int16_t>(-Col.Scale);
        if (ft == ftBCD)
          v = CurrencyToScaledInt64(dec, Load<Currency>(Buffer));
        else if (ft == ftFloat || ft == ftCurrency)
          v = ScaledFromFloat(dec, Load<double>(Buffer), true, false);
        else
          Unsupported();
      } else {
        switch (ft) {
          case ftString: v = StrToInt64(Trim(FieldText(Buffer, FieldSize))); break;
          case ftBCD: v = Load<Currency>(Buffer).Trunc(); break;
          case ftFloat: case ftCurrency: v = TruncFloat(Load<double>(Buffer)); break;
          default:
            if (!IsWholeFieldType(ft)) Unsupported();
            v = SmallFieldValue(ft, Buffer);
        }
      }
      Store<int64_t>(Out, v);
      return;
    }
    case SQL_TIMESTAMP:
      switch (ft) {
        case ftDate:
          Store<int32_t>(Out, AddDays(Load<int32_t>(Buffer), -REZDayOffset));
          Store<uint32_t>(Out + 4, 0);
          return;
        case ftTime:
          Store<int32_t>(Out, -REZDayOffset);
          Store<uint32_t>(Out + 4, static_cast<uint32_t>(Load<int32_t>(Buffer)) * 10u);
          return;
        case ftDateTime: {
          const TTimeStamp ts = MSecsToTimeStamp(std::nearbyint(Load<double>(Buffer)));
          Store<int32_t>(Out, AddDays(ts.Date, -REZDayOffset));
          Store<uint32_t>(Out + 4, static_cast<uint32_t>(ts.Time) * 10u);
          return;
        }
        default: Unsupported();
      }
    case SQL_BLOB:
    case SQL_ARRAY:
      std::memcpy(Out, Buffer, 8);
      return;
    case SQL_TYPE_TIME:
      switch (ft) {
        case ftTime: Store<uint32_t>(Out, static_cast<uint32_t>(Load<int32_t>(Buffer)) * 10u); return;
        case ftDateTime: {
          const TTimeStamp ts = MSecsToTimeStamp(std::nearbyint(Load<double>(Buffer)));
          Store<uint32_t>(Out, static_cast<uint32_t>(ts.Time) * 10u);
          return;
        }
        default: Unsupported();
      }
    case SQL_TYPE_DATE:
      switch (ft) {
        case ftDate: Store<int32_t>(Out, AddDays(Load<int32_t>(Buffer), -REZDayOffset)); return;
        case ftDateTime: {
          const TTimeStamp ts = MSecsToTimeStamp(std::nearbyint(Load<double>(Buffer)));
          Store<int32_t>(Out, AddDays(ts.Date, -REZDayOffset));
          return;
        }
        default: Unsupported();
      }
    case 590:
    case SQL_BOOLEAN: {
      if (ft != ftBoolean) Unsupported();
      const int16_t v = Load<int16_t>(Buffer);
      const int16_t b = v == 0 ? 0 : 1;
      if (t == 590)
        Store<int16_t>(Out, b);
      else
        *Out = static_cast<char>(b);
      return;
    }
    default:
      // A column of a type without conversions keeps its bytes.
      return;
  }
}

}  // namespace

void REZWriteColumn(const TREZColumnDesc& Col, char* Data, TFieldType ft, int32_t FieldSize,
                    const void* Buffer) {
  if (Buffer == nullptr) {
    Store<int16_t>(Data - 2, -1);
    return;
  }
  if (ft == ftBoolean && Col.Scale != 0) Unsupported();
  // Converted into a copy first: a failure leaves the column as it was. The copy of a
  // short column lives on the stack (every field write of every row comes here).
  const size_t size = static_cast<size_t>(Col.DataSize());
  const size_t n = std::max<size_t>(size, 8);
  char local[128];
  std::vector<char> heap;
  char* copy = local;
  if (n > sizeof local) {
    heap.resize(n);
    copy = heap.data();
  }
  std::memcpy(copy, Data, size);
  std::memset(copy + size, 0, n - size);
  WriteInto(Col, copy, ft, FieldSize, Buffer);
  std::memcpy(Data, copy, size);
  Store<int16_t>(Data - 2, 0);
}

// ---------------------------------------------------------------------------------------------
// Field classes

void TREZStringField::SetAsString(const AnsiString& Value) {
  if (static_cast<int64_t>(Value.size()) > Size()) {
    const AnsiString name = Origin().empty() ? FieldName() : Origin();
    throw EIB_StatementError(nullptr, Format(IB_Message(TIB_Msg::BufferOverrun),
                                             {name, IntToStr(Size()), IntToStr(static_cast<int64_t>(Value.size()))}));
  }
  TStringField::SetAsString(Value);
}

void TREZFloatField::SetTextImpl(const AnsiString& Text) {
  AnsiString s;
  s.reserve(Text.size());
  const char sep = FormatSettings().ThousandSeparator;
  for (char c : Text)
    if (c != sep) s += c;
  TFloatField::SetTextImpl(s);
}

void TREZLargeIntField::SetAsVariant(const Variant& Value) {
  if (VarIsNullOrEmpty(Value)) {
    Clear();
    return;
  }
  SetAsLargeInt(StrToInt64(Trim(VarToStr(Value))));
}

}  // namespace pelvar
