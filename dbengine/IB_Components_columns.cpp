// The typed column classes: storage access and the text conversions of each SQL type.
#include "dbengine/IB_Components_columns.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "dbclient/IB_Utils.h"
#include "dbclient/uRounding.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

// --- Numbers -------------------------------------------------------------------------------------------

TIB_ColumnNumBase::TIB_ColumnNumBase(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo)
    : TIB_Column(Row, Var, FieldNo) {
  IsNumeric = true;
}

TIB_ColumnNumeric::TIB_ColumnNumeric(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo)
    : TIB_ColumnNumBase(Row, Var, FieldNo) {
  const int scale = GetSQLScale();
  float_pattern_ = AnsiString(static_cast<size_t>(std::max(0, 17 + scale)), '#') + "0." +
                   AnsiString(static_cast<size_t>(std::max(0, -scale)), '0');
  IsCurrency = IsAttributeSet("CURRENCY");
  UseBCD = scale >= -4 && scale < 0 && !IsAttributeSet("NOBCD");
}

int64_t TIB_ColumnNumeric::StoredInt() const {
  switch (BaseType()) {
    case SQL_SHORT: return ReadData<int16_t>();
    case SQL_LONG: return ReadData<int32_t>();
    case SQL_INT64: return ReadData<int64_t>();
    case SQL_QUAD: {
      const ISC_QUAD q = ReadData<ISC_QUAD>();
      return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(q.gds_quad_high)) << 32) |
                                  q.gds_quad_low);
    }
    default: RaiseUnsupportedType();
  }
}

void TIB_ColumnNumeric::StoreInt(int64_t Value) {
  switch (BaseType()) {
    case SQL_SHORT: WriteData<int16_t>(static_cast<int16_t>(Value)); break;
    case SQL_LONG: WriteData<int32_t>(static_cast<int32_t>(Value)); break;
    case SQL_INT64: WriteData<int64_t>(Value); break;
    case SQL_QUAD: {
      ISC_QUAD q;
      q.gds_quad_high = static_cast<ISC_LONG>(static_cast<uint64_t>(Value) >> 32);
      q.gds_quad_low = static_cast<ISC_ULONG>(static_cast<uint64_t>(Value));
      WriteData(q);
      break;
    }
    default: RaiseUnsupportedType();
  }
}

long double TIB_ColumnNumeric::GetAsExtended() {
  if (GetIsNull()) return 0;
  switch (BaseType()) {
    case SQL_DOUBLE: return ReadData<double>();
    case SQL_FLOAT: return ReadData<float>();
    default: return ScaleFloat(GetSQLScale(), static_cast<long double>(StoredInt()));
  }
}

Currency TIB_ColumnNumeric::GetAsCurrency() {
  if (GetIsNull()) return Currency();
  switch (BaseType()) {
    case SQL_DOUBLE: return Currency(ReadData<double>());
    case SQL_FLOAT: return Currency(static_cast<double>(ReadData<float>()));
    case SQL_SHORT:
    case SQL_LONG: return ScaledIntToCurrency(static_cast<int32_t>(StoredInt()), GetSQLScale());
    default: return ScaledInt64ToCurrency(StoredInt(), GetSQLScale());
  }
}

int64_t TIB_ColumnNumeric::GetAsInt64() {
  if (GetIsNull()) return 0;
  const int16_t t = BaseType();
  if (t == SQL_SHORT || t == SQL_LONG || t == SQL_INT64 || t == SQL_QUAD) {
    // Exact: the stored integer without its decimals, cut toward zero.
    int64_t v = StoredInt();
    for (int i = GetSQLScale(); i < 0; ++i) v /= 10;
    return v;
  }
  const long double v = std::trunc(GetAsExtended());
  if (!(v >= -9223372036854775808.0L && v < 9223372036854775808.0L)) RaiseIntOverflow();
  return static_cast<int64_t>(v);
}

int32_t TIB_ColumnNumeric::GetAsInteger() {
  if (GetIsNull()) return 0;
  if (UseBCD) return CurrencyToScaledInteger(0, GetAsCurrency());
  const int64_t v = GetAsInt64();
  if (v < INT32_MIN || v > INT32_MAX) RaiseIntOverflow();
  return static_cast<int32_t>(v);
}

void TIB_ColumnNumeric::SetAsExtended(long double Value) {
  const int16_t scale = GetSQLScale();
  SysBeforeModify();
  switch (BaseType()) {
    case SQL_SHORT: {
      const int16_t v = FloatToScaledSmallint(static_cast<int16_t>(-scale), Value);
      SysSetIsNull(false);
      StoreInt(v);
      break;
    }
    case SQL_LONG: {
      const int32_t v = FloatToScaledInteger(static_cast<int16_t>(-scale), Value);
      SysSetIsNull(false);
      StoreInt(v);
      break;
    }
    case SQL_INT64:
    case SQL_QUAD: {
      const int64_t v = FloatToScaledInt64(static_cast<int16_t>(-scale), Value);
      SysSetIsNull(false);
      StoreInt(v);
      break;
    }
    case SQL_DOUBLE:
      SysSetIsNull(false);
      WriteData<double>(static_cast<double>(RoundDecimal(-scale, Value)));
      break;
    case SQL_FLOAT:
      SysSetIsNull(false);
      WriteData<float>(static_cast<float>(RoundDecimal(-scale, Value)));
      break;
    default: RaiseUnsupportedType();
  }
  SysAfterModify();
}

void TIB_ColumnNumeric::SetAsCurrency(Currency Value) {
  const int16_t scale = GetSQLScale();
  SysBeforeModify();
  switch (BaseType()) {
    case SQL_SHORT: {
      const int16_t v = CurrencyToScaledSmallint(static_cast<int16_t>(-scale), Value);
      SysSetIsNull(false);
      StoreInt(v);
      break;
    }
    case SQL_LONG: {
      const int32_t v = CurrencyToScaledInteger(static_cast<int16_t>(-scale), Value);
      SysSetIsNull(false);
      StoreInt(v);
      break;
    }
    case SQL_INT64:
    case SQL_QUAD: {
      const int64_t v = CurrencyToScaledInt64(static_cast<int16_t>(-scale), Value);
      SysSetIsNull(false);
      StoreInt(v);
      break;
    }
    case SQL_DOUBLE:
    case SQL_FLOAT: {
      const long double v = RoundDecimal(-scale, Value.ToLongDouble());
      SysSetIsNull(false);
      if (BaseType() == SQL_DOUBLE) {
        WriteData<double>(static_cast<double>(v));
      } else {
        WriteData<float>(static_cast<float>(v));
      }
      break;
    }
    default: RaiseUnsupportedType();
  }
  SysAfterModify();
}

void TIB_ColumnNumeric::SetAsInteger(int32_t Value) {
  if (UseBCD) {
    SetAsCurrency(Currency(Value));
  } else {
    SetAsExtended(Value);
  }
}

AnsiString TIB_ColumnNumeric::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s;
  const int16_t t = BaseType();
  if (t == SQL_INT64 || t == SQL_QUAD) {
    s = ScaledInt64ToStr(static_cast<int16_t>(-GetSQLScale()), StoredInt());
  } else if (UseBCD) {
    s = CurrToStrF(GetAsCurrency(), ffGeneral, -GetSQLScale());
  } else {
    s = FormatFloat(float_pattern_, GetAsExtended());
  }
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnNumeric::SetAsString(const AnsiString& Value) {
  AnsiString text = Trim(Value);
  RunSetTextHandlers(text);
  if (text.empty()) {
    if (GetIsNullable() || (row_->RowType() == rtFields && BlankIsNull)) {
      SetIsNull(true);
    } else if (UseBCD) {
      SetAsCurrency(Currency());
    } else {
      SetAsExtended(0);
    }
    return;
  }
  const TFormatSettings& fs = FormatSettings();
  // The retry's text: without thousand separators (where that is the no-break space,
  // users type an ordinary blank for it: both go) and without the currency symbol.
  auto clean = [&] {
    const bool nbsp = fs.ThousandSeparator == '\xA0';
    AnsiString cleaned;
    for (char c : text) {
      if (c != fs.ThousandSeparator && !(nbsp && c == ' ')) cleaned += c;
    }
    AnsiString symbol;
    for (char c : fs.CurrencyString) {
      if (c != fs.ThousandSeparator && c != fs.DecimalSeparator) symbol += c;
    }
    if (!symbol.empty()) {
      const size_t at = cleaned.find(symbol);
      if (at != AnsiString::npos) cleaned.erase(at, symbol.size());
    }
    return Trim(cleaned);
  };
  const int16_t type = BaseType();
  if (type == SQL_DOUBLE || type == SQL_FLOAT) {
    auto store = [&](const AnsiString& s) {
      if (UseBCD) {
        SetAsCurrency(StrToCurr(s));
      } else {
        SetAsExtended(StrToFloat(s));
      }
    };
    try {
      store(text);
    } catch (const EConvertError&) {
      store(clean());
    }
    return;
  }
  // A scaled integer takes the decimal text's exact value, rounded as the server's own
  // conversion rounds (half away from zero): through a binary floating value or the
  // currency's four decimals, 1,005 would become 1,00.
  const int16_t scale = static_cast<int16_t>(-GetSQLScale());
  int64_t v = 0;
  bool overflow = false;
  if (!TryDecimalTextToScaledInt64(text, scale, fs.DecimalSeparator, v, overflow) && !overflow &&
      !TryDecimalTextToScaledInt64(clean(), scale, fs.DecimalSeparator, v, overflow) && !overflow) {
    throw EConvertError(Format("'%s' is not a valid numeric value for %s: expected a number with '%s' as the "
                               "decimal separator",
                               {text, GetFullName(), AnsiString(1, fs.DecimalSeparator)}));
  }
  if (overflow || (type == SQL_SHORT && (v < -32768 || v > 32767)) ||
      (type == SQL_LONG && (v < INT32_MIN || v > INT32_MAX))) {
    throw Exception(IB_Message(type == SQL_SHORT  ? TIB_Msg::SmallintOverflow
                               : type == SQL_LONG ? TIB_Msg::IntegerOverflow
                                                  : TIB_Msg::Int64Overflow));
  }
  SysBeforeModify();
  SysSetIsNull(false);
  StoreInt(v);
  SysAfterModify();
}

namespace {
// "INF", "+INF" and "-INF" (any case, the whole text) are the infinities, as FloatToStr
// writes them, so that what a column shows it reads back; any other text containing
// INF is no number.
bool InfinityText(const AnsiString& Text, double& Value) {
  const AnsiString upper = UpperCase(Text);
  if (upper != "INF" && upper != "+INF" && upper != "-INF") return false;
  Value = upper[0] == '-' ? -HUGE_VAL : HUGE_VAL;
  return true;
}
}  // namespace

AnsiString TIB_ColumnFloat::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s = FloatToStr(ReadData<float>());
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnFloat::SetAsString(const AnsiString& Value) {
  AnsiString text = Value;
  RunSetTextHandlers(text);
  if (text.empty()) {
    if (GetIsNullable() || (row_->RowType() == rtFields && BlankIsNull)) {
      SetIsNull(true);
    } else {
      SetAsFloat(0);
    }
    return;
  }
  double inf;
  if (InfinityText(text, inf)) {
    SetAsFloat(inf);
    return;
  }
  SetAsFloat(static_cast<double>(StrToFloat(text)));
}

double TIB_ColumnFloat::GetAsFloat() { return GetIsNull() ? 0 : ReadData<float>(); }

void TIB_ColumnFloat::SetAsFloat(double Value) {
  SysBeforeModify();
  SysSetIsNull(false);
  WriteData<float>(static_cast<float>(Value));
  SysAfterModify();
}

AnsiString TIB_ColumnDouble::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s = FloatToStr(ReadData<double>());
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnDouble::SetAsString(const AnsiString& Value) {
  AnsiString text = Trim(Value);
  RunSetTextHandlers(text);
  if (text.empty()) {
    if (GetIsNullable() || (row_->RowType() == rtFields && BlankIsNull)) {
      SetIsNull(true);
    } else {
      SetAsDouble(0);
    }
    return;
  }
  double inf;
  if (InfinityText(text, inf)) {
    SetAsDouble(inf);
    return;
  }
  SetAsDouble(static_cast<double>(StrToFloat(text)));
}

double TIB_ColumnDouble::GetAsDouble() { return GetIsNull() ? 0 : ReadData<double>(); }

void TIB_ColumnDouble::SetAsDouble(double Value) {
  SysBeforeModify();
  SysSetIsNull(false);
  WriteData<double>(Value);
  SysAfterModify();
}

namespace {
// The common empty-text rule of the integer columns: true when handled.
template <class C, class Zero>
bool EmptyNumberText(C* Column, bool FieldRow, const AnsiString& Text, Zero StoreZero) {
  if (!Text.empty()) return false;
  if (Column->GetIsNullable() || (FieldRow && Column->BlankIsNull)) {
    Column->SetIsNull(true);
  } else {
    StoreZero();
  }
  return true;
}
}  // namespace

AnsiString TIB_ColumnSmallInt::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s = IntToStr(static_cast<int>(ReadData<int16_t>()));
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnSmallInt::SetAsString(const AnsiString& Value) {
  AnsiString text = Value;
  RunSetTextHandlers(text);
  text = Trim(text);
  if (EmptyNumberText(this, row_->RowType() == rtFields, text, [&] { SetAsSmallint(0); })) return;
  const int32_t v = StrToInt(text);
  if (v < -32768 || v > 32767) throw EIB_ColumnError(GetStatement(), IB_Message(TIB_Msg::ValueOutOfRange));
  SetAsSmallint(static_cast<int16_t>(v));
}

int16_t TIB_ColumnSmallInt::GetAsSmallint() { return GetIsNull() ? 0 : ReadData<int16_t>(); }

void TIB_ColumnSmallInt::SetAsSmallint(int16_t Value) {
  SysBeforeModify();
  SysSetIsNull(false);
  WriteData<int16_t>(Value);
  SysAfterModify();
}

AnsiString TIB_ColumnInteger::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s = IntToStr(ReadData<int32_t>());
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnInteger::SetAsString(const AnsiString& Value) {
  AnsiString text = Value;
  RunSetTextHandlers(text);
  text = Trim(text);
  if (EmptyNumberText(this, row_->RowType() == rtFields, text, [&] { SetAsInteger(0); })) return;
  SetAsInteger(StrToInt(text));
}

int32_t TIB_ColumnInteger::GetAsInteger() { return GetIsNull() ? 0 : ReadData<int32_t>(); }

void TIB_ColumnInteger::SetAsInteger(int32_t Value) {
  SysBeforeModify();
  SysSetIsNull(false);
  WriteData<int32_t>(Value);
  SysAfterModify();
}

int64_t TIB_ColumnInt64::Stored() const { return ReadData<int64_t>(); }
void TIB_ColumnInt64::Store(int64_t Value) { WriteData<int64_t>(Value); }

int64_t TIB_ColumnQuad::Stored() const {
  const ISC_QUAD q = ReadData<ISC_QUAD>();
  return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(q.gds_quad_high)) << 32) |
                              q.gds_quad_low);
}

void TIB_ColumnQuad::Store(int64_t Value) {
  ISC_QUAD q;
  q.gds_quad_high = static_cast<ISC_LONG>(static_cast<uint64_t>(Value) >> 32);
  q.gds_quad_low = static_cast<ISC_ULONG>(static_cast<uint64_t>(Value));
  WriteData(q);
}

AnsiString TIB_ColumnInt64::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s = IntToStr(Stored());
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnInt64::SetAsString(const AnsiString& Value) {
  AnsiString text = Value;
  RunSetTextHandlers(text);
  text = Trim(text);
  if (EmptyNumberText(this, row_->RowType() == rtFields, text, [&] { SetAsInt64(0); })) return;
  SetAsInt64(StrToInt64(text));
}

// A value beyond 32 bits raises the overflow error rather than giving its low word.
int32_t TIB_ColumnInt64::GetAsInteger() {
  const int64_t v = GetAsInt64();
  if (v < INT32_MIN || v > INT32_MAX) RaiseIntOverflow();
  return static_cast<int32_t>(v);
}

void TIB_ColumnInt64::SetAsInteger(int32_t Value) { SetAsInt64(Value); }

int64_t TIB_ColumnInt64::GetAsInt64() { return GetIsNull() ? 0 : Stored(); }

void TIB_ColumnInt64::SetAsInt64(int64_t Value) {
  SysBeforeModify();
  SysSetIsNull(false);
  Store(Value);
  SysAfterModify();
}

// One byte 0/1 for the server's BOOLEAN (32764), 16 bits for the older type 590.
AnsiString TIB_ColumnBoolean::GetAsString() {
  if (GetIsNull()) return "UNKNOWN";
  AnsiString s = GetAsBoolean() ? GetBoolTrue() : GetBoolFalse();
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnBoolean::SetAsString(const AnsiString& Value) {
  AnsiString text = Trim(AnsiUpperCase(Value));
  RunSetTextHandlers(text);
  text = Trim(AnsiUpperCase(text));
  int state;  // 1 true, 0 false, -1 null
  if (text.empty()) {
    state = (GetIsNullable() || (row_->RowType() == rtFields && BlankIsNull)) ? -1 : 0;
  } else if (text == AnsiUpperCase(GetBoolTrue()) || text == "1" || text == "T" || text == "TRUE" ||
             text == "Y" || text == "YES") {
    state = 1;
  } else if (text == AnsiUpperCase(GetBoolFalse()) || text == "0" || text == "F" || text == "FALSE" ||
             text == "N" || text == "NO") {
    state = 0;
  } else if (text == "UNKNOWN" || text == "NULL") {
    state = -1;
  } else {
    throw Exception(IB_Message(TIB_Msg::InvalidBooleanString) + " " + text);
  }
  if (state < 0) {
    SetIsNull(true);
    return;
  }
  SysBeforeModify();
  SetIndValue(0);  // not SysSetIsNull: that would normalise through this setter again
  if (BaseType() == SQL_BOOLEAN) {
    WriteData<uint8_t>(static_cast<uint8_t>(state));
  } else {
    WriteData<int16_t>(static_cast<int16_t>(state));
  }
  SysAfterModify();
}

// --- Dates and times -----------------------------------------------------------------------------------

namespace {
// Letters, digits and "_", not starting with a digit.
bool IsDateWordCandidate(const AnsiString& Text) {
  if (Text.empty() || (Text[0] >= '0' && Text[0] <= '9')) return false;
  for (char c : Text) {
    const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}
}  // namespace

TIB_ColumnDateTime::TIB_ColumnDateTime(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo)
    : TIB_Column(Row, Var, FieldNo) {
  IsDateTime = true;
}

TDateTime TIB_ColumnDateTime::ReadValue() const {
  if (GetIsNull()) return 0;
  switch (BaseType()) {
    case SQL_TIMESTAMP: return ISCTimestampToDateTime(ReadData<ISC_TIMESTAMP>());
    case SQL_TYPE_TIME: {
      const uint32_t n = ReadData<uint32_t>();
      return EncodeTime(static_cast<uint16_t>(n / 36000000), static_cast<uint16_t>((n / 600000) % 60),
                        static_cast<uint16_t>((n / 10000) % 60), static_cast<uint16_t>((n % 10000) / 10));
    }
    case SQL_TYPE_DATE: return static_cast<TDateTime>(ReadData<int32_t>() - IB_DateOffset);
    default: RaiseUnsupportedType();
  }
}

void TIB_ColumnDateTime::WriteValue(TDateTime Value) {
  SysBeforeModify();
  switch (BaseType()) {
    case SQL_TIMESTAMP: {
      ISC_TIMESTAMP ts;
      DateTimeToISCTimestamp(ts, GetDateOnly() ? std::trunc(Value) : Value);
      SysSetIsNull(false);
      WriteData(ts);
      break;
    }
    case SQL_TYPE_TIME: {
      uint16_t h, m, s, ms;
      DecodeTime(Value, h, m, s, ms);
      SysSetIsNull(false);
      WriteData<uint32_t>(h * 36000000u + m * 600000u + s * 10000u + ms * 10u);
      break;
    }
    case SQL_TYPE_DATE: {
      const long double day = std::trunc(static_cast<long double>(Value)) + IB_DateOffset;
      if (day < INT32_MIN || day > INT32_MAX) RaiseIntOverflow();
      SysSetIsNull(false);
      WriteData<int32_t>(static_cast<int32_t>(day));
      break;
    }
    default: RaiseUnsupportedType();
  }
  SysAfterModify();
}

TDateTime TIB_ColumnDateTime::GetAsDateTime() { return ReadValue(); }
void TIB_ColumnDateTime::SetAsDateTime(TDateTime Value) { WriteValue(Value); }
TDateTime TIB_ColumnDateTime::GetAsDate() { return std::trunc(ReadValue()); }
void TIB_ColumnDateTime::SetAsDate(TDateTime Value) { WriteValue(std::trunc(Value)); }
AnsiString TIB_ColumnDateTime::GetAsDateTimeText() {
  return GetIsNull() ? AnsiString() : DateTimeToTimestampStr(ReadValue());
}
void TIB_ColumnDateTime::SetAsDateTimeText(const AnsiString& Value) { WriteValue(TimestampStrToDateTime(Value)); }

AnsiString TIB_ColumnDateTime::GetAsString() {
  if (GetIsNull()) return {};
  const TDateTime v = ReadValue();
  AnsiString s;
  if (BaseType() == SQL_TYPE_DATE) {
    s = DateToStr(v);
  } else if (GetDateOnly()) {
    s = FormatDateTime(date_format_, v);
  } else if (BaseType() == SQL_TYPE_TIME) {
    s = TimeToStr(v);
  } else if (GetTimeOnly()) {
    s = FormatDateTime(time_format_, v);
  } else {
    s = DateTimeToStr(v);
  }
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnDateTime::SetAsString(const AnsiString& Value) {
  AnsiString text = Trim(Value);
  RunSetTextHandlers(text);
  if (text.empty()) {
    SetIsNull(true);
    return;
  }
  if (IsDateWordCandidate(text)) {
    // Date words, tested as prefixes in this order: TODAY, TOMORROW and YESTERDAY work,
    // and CURRENT_TIMESTAMP is tested before CURRENT_TIME.
    const AnsiString word = UpperCase(text);
    const TDateTime now = Now();
    const TDateTime today = std::trunc(now);
    auto starts = [&](const char* prefix) { return word.rfind(prefix, 0) == 0; };
    if (starts("NOW")) {
      WriteValue(now);
    } else if (starts("TOD")) {
      WriteValue(today);
    } else if (starts("TOM")) {
      WriteValue(today + 1);
    } else if (starts("YES")) {
      WriteValue(today - 1);
    } else if (starts("LASTW")) {
      WriteValue(today - 7);
    } else if (starts("NEXTW")) {
      WriteValue(today + 7);
    } else if (starts("CURRENT_DATE")) {
      WriteValue(Date());
    } else if (starts("CURRENT_TIMESTAMP")) {
      WriteValue(now);
    } else if (starts("CURRENT_TIME")) {
      WriteValue(Time());
    } else if (starts("NULL")) {
      SetIsNull(true);
    }
    return;  // an identifier that is no date word changes nothing
  }
  TDateTime v;
  if (BaseType() == SQL_TYPE_TIME) {
    v = StrToTime(text);
  } else if (GetTimeOnly()) {
    v = std::trunc(ReadValue()) + StrToTime(text);
  } else {
    v = StrToDateTime(text);
  }
  WriteValue(v);
}

// --- Text ---------------------------------------------------------------------------------------------

TIB_ColumnText::TIB_ColumnText(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo) : TIB_Column(Row, Var, FieldNo) {
  IsText = true;
  const TIB_RowOwner* st = Row->Statement();
  Trimming = st->DefaultNoTrimming() ? ctNone : ctRight;
  if (!st->DefaultNoLengthCheck()) Trimming = static_cast<TIB_ColumnTrimming>(Trimming + 1);
  PadChar = IsAttributeSet("BINARY") ? 0 : ' ';
  AnsiString nocase;
  if (GetAttributeValue("NOCASE", nocase)) {
    NoCaseFieldName = nocase.empty() ? "UPPER( " + GetQualifiedAliasName() + " )" : nocase;
  }
}

bool TIB_ColumnText::UsesUtf8() const { return row_->Statement()->ConnectionCharSet() == "UTF8"; }

AnsiString TIB_ColumnText::ApplyCase(const AnsiString& Text) const {
  if (CharCase != ccUpper && CharCase != ccLower) return Text;
  auto convert = [&](const AnsiString& t) { return CharCase == ccUpper ? AnsiUpperCase(t) : AnsiLowerCase(t); };
  // The case rules are the code page's: UTF-8 bytes go through it and back.
  if (UsesUtf8()) return AnsiToUtf8(convert(Utf8ToAnsi(Text)));
  return convert(Text);
}

namespace {
bool IsBlankOrControl(char c) { return static_cast<unsigned char>(c) <= 32; }

// Leading and trailing blanks go; inside, a run of blanks keeps one blank, or two
// after a full stop.
AnsiString SentenceTrim(const AnsiString& Text) {
  size_t b = Text.find_first_not_of(' ');
  if (b == AnsiString::npos) return {};
  const size_t e = Text.find_last_not_of(' ');
  AnsiString out;
  out.reserve(e - b + 1);
  for (size_t i = b; i <= e;) {
    if (Text[i] != ' ') {
      out += Text[i++];
      continue;
    }
    size_t run = 0;
    while (Text[i] == ' ') ++run, ++i;
    const size_t keep = (!out.empty() && out.back() == '.') ? std::min<size_t>(run, 2) : 1;
    out.append(keep, ' ');
  }
  return out;
}
}  // namespace

AnsiString TIB_ColumnText::ApplyTrimming(const AnsiString& Text) const {
  if (Text.empty()) return Text;
  AnsiString s = Text;
  switch (Trimming) {
    case ctBoth:
    case ctBothCheckLen:
      if (IsBlankOrControl(s.front()) || IsBlankOrControl(s.back())) s = Trim(s);
      break;
    case ctLeft:
    case ctLeftCheckLen:
      if (IsBlankOrControl(s.front())) s = TrimLeft(s);
      break;
    case ctRight:
    case ctRightCheckLen:
      if (IsBlankOrControl(s.back())) s = TrimRight(s);
      break;
    case ctAll:
    case ctAllCheckLen:
      s.erase(std::remove(s.begin(), s.end(), ' '), s.end());
      break;
    case ctSentence:
    case ctSentenceCheckLen:
      s = SentenceTrim(s);
      break;
    default:
      break;
  }
  if ((Trimming % 2) == 1 && s.size() > GetSQLLen()) {
    throw EIB_StatementError(GetStatement(),
                             Format(IB_Message(TIB_Msg::BufferOverrun),
                                    {GetFullName(), IntToStr(static_cast<int>(GetSQLLen())),
                                     IntToStr(static_cast<int64_t>(s.size()))}));
  }
  return s;
}

AnsiString TIB_ColumnText::SysGetText() {
  AnsiString s(data_, ::strnlen(data_, GetSQLLen()));
  s = ApplyCase(s);
  return row_->Managed() ? s : ApplyTrimming(s);
}

void TIB_ColumnText::SysSetText(const AnsiString& Value) {
  AnsiString text = ApplyCase(Value);
  if (!row_->Managed()) text = ApplyTrimming(text);  // may raise before anything changes
  SysBeforeModify();
  std::memset(data_, PadChar, GetSQLLen());
  if (text.empty() && BlankIsNull) {
    SysSetIsNull(true);
  } else {
    SysSetIsNull(false);
    std::memcpy(data_, text.data(), std::min<size_t>(text.size(), GetSQLLen()));
  }
  SysAfterModify();
}

AnsiString TIB_ColumnText::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s = SysGetText();
  if (UsesUtf8()) s = Utf8ToAnsi(s);
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnText::SetAsString(const AnsiString& Value) {
  AnsiString text = Value;
  RunSetTextHandlers(text);
  if (UsesUtf8()) text = AnsiToUtf8(text);
  SysSetText(text);
}

WideString TIB_ColumnText::GetAsWideString() {
  if (GetIsNull()) return {};
  WideString w(static_cast<size_t>(GetBufferDataSize() / 2), u'\0');
  std::memcpy(w.data(), data_, w.size() * 2);
  return w;
}

void TIB_ColumnText::SetAsWideString(const WideString& Value) {
  SysBeforeModify();
  SysSetIsNull(false);
  std::memset(data_, PadChar, static_cast<size_t>(GetBufferDataSize()));
  std::memcpy(data_, Value.data(), std::min<size_t>(Value.size() * 2, static_cast<size_t>(GetBufferDataSize())));
  SysAfterModify();
}

AnsiString TIB_ColumnVarText::SysGetText() {
  const size_t len = std::min<size_t>(ReadData<uint16_t>(), GetSQLLen());
  AnsiString s(data_ + 2, ::strnlen(data_ + 2, len));
  if (!row_->Managed()) s = ApplyTrimming(s);
  return ApplyCase(s);
}

void TIB_ColumnVarText::SysSetText(const AnsiString& Value) {
  AnsiString text = row_->Managed() ? Value : ApplyTrimming(Value);  // may raise first
  text = ApplyCase(text);
  SysBeforeModify();
  std::memset(data_ + 2, PadChar, GetSQLLen());
  if (text.empty() && BlankIsNull) {
    SysSetIsNull(true);
  } else {
    SysSetIsNull(false);
    const size_t n = std::min<size_t>(text.size(), GetSQLLen());
    WriteData<uint16_t>(static_cast<uint16_t>(n));
    std::memcpy(data_ + 2, text.data(), n);
  }
  SysAfterModify();
}

WideString TIB_ColumnVarText::GetAsWideString() {
  if (GetIsNull()) return {};
  const size_t len = std::min<size_t>(ReadData<uint16_t>(), GetSQLLen());
  WideString w(len / 2, u'\0');
  std::memcpy(w.data(), data_ + 2, w.size() * 2);
  return w;
}

void TIB_ColumnVarText::SetAsWideString(const WideString& Value) {
  SysBeforeModify();
  SysSetIsNull(false);
  std::memset(data_ + 2, PadChar, GetSQLLen());
  const size_t n = std::min<size_t>(Value.size() * 2, GetSQLLen());
  WriteData<uint16_t>(static_cast<uint16_t>(n));
  std::memcpy(data_ + 2, Value.data(), n);
  SysAfterModify();
}

TIB_ColumnDB_KEY::TIB_ColumnDB_KEY(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo) : TIB_Column(Row, Var, FieldNo) {
  PadChar = 0;
}

AnsiString TIB_ColumnDB_KEY::GetAsString() {
  if (GetIsNull()) return {};
  AnsiString s = BinaryToHexText(data_, GetSQLLen());
  RunGetTextHandler(s);
  return s;
}

void TIB_ColumnDB_KEY::SetAsString(const AnsiString& Value) {
  AnsiString text = Value;
  RunSetTextHandlers(text);
  if (text.empty()) {
    SysBeforeModify();
    SysSetIsNull(true);
    std::memset(data_, 0, GetSQLLen());
    SysAfterModify();
    return;
  }
  std::vector<char> bytes(GetSQLLen());
  HexTextToBinary(text, bytes.data(), static_cast<int32_t>(bytes.size()));
  SysBeforeModify();
  SysSetIsNull(false);
  std::memcpy(data_, bytes.data(), bytes.size());
  SysAfterModify();
}

int32_t TIB_ColumnDB_KEY::GetDefaultWidth() {
  const int32_t n = static_cast<int32_t>(Trim(GetDisplayName()).size());
  const int32_t w = n > 2 * GetSQLLen() ? 8 * n : 16 * GetSQLLen();
  return std::clamp(w, 70, 200);
}

}  // namespace pelvar
