// TIB_Column: names, null state, the modification bracket and the text-based
// conversions every typed column falls back to.
#include <cmath>
#include <cstring>
#include <string_view>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Components_rows.h"
#include "dbengine/IB_Parse.h"
#include "platform/checked.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

AnsiString VarName(const char (&Buf)[32], int16_t Length) {
  if (Length <= 0) return {};
  return AnsiString(Buf, ::strnlen(Buf, std::min<size_t>(32, static_cast<size_t>(Length))));
}

std::string_view VarNameView(const char (&Buf)[32], int16_t Length) {
  if (Length <= 0) return {};
  return std::string_view(Buf, ::strnlen(Buf, std::min<size_t>(32, static_cast<size_t>(Length))));
}

bool IsBooleanType(int16_t t) { return t == 590 || t == SQL_BOOLEAN; }

}  // namespace

TIB_Column::TIB_Column(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo) : row_(Row), field_no_(FieldNo), var_(Var) {
  AnsiString value;
  BlankIsNull = GetAttributeValue("BLANKISNULL", value);
  IsBoolean = GetAttributeValue("BOOLEAN", value);
  if (IsBoolean) {
    const size_t comma = value.find(',');
    if (comma != AnsiString::npos && comma > 0) {
      bool_true_ = Trim(value.substr(0, comma));
      bool_false_ = Trim(value.substr(comma + 1));
    }
  } else if (IsBooleanType(BaseType())) {
    IsBoolean = true;
  }
  switch (BaseType()) {
    case SQL_DOUBLE:
    case SQL_FLOAT:
    case SQL_LONG:
    case SQL_SHORT:
    case SQL_QUAD:
    case SQL_INT64:
      Alignment = 1;
      break;
    default:
      Alignment = 0;
  }
  if (IsBoolean) Alignment = 2;
  SysInitAttributes();
}

TIB_Column::~TIB_Column() = default;

TIB_RowOwner* TIB_Column::GetStatement() const { return row_->statement_->ReportingStatement(); }

// --- Names -------------------------------------------------------------------------------------------

AnsiString TIB_Column::StoredIdentOf(StoredName& Memo, std::string_view Raw) const {
  const uint64_t stamp = row_->statement_->IdentStamp();
  if (stamp != 0 && Memo.Stamp == stamp && Memo.Raw == Raw) return Memo.Value;
  AnsiString value = row_->statement_->MakeStoredIdent(AnsiString(Raw));
  if (stamp != 0) {
    Memo.Stamp = stamp;
    Memo.Raw.assign(Raw);
    Memo.Value = value;
  }
  return value;
}

AnsiString TIB_Column::GetFieldName() const {
  const std::string_view name = VarNameView(var_->sqlname, var_->sqlname_length);
  if (name.empty()) return {};
  if (name.size() == 6 && AnsiSameText(AnsiString(name), "DB_KEY")) return "RDB$DB_KEY";
  return StoredIdentOf(field_ident_, name);
}

AnsiString TIB_Column::GetRelName() const {
  const std::string_view name = VarNameView(var_->relname, var_->relname_length);
  return name.empty() ? AnsiString() : StoredIdentOf(rel_ident_, name);
}

bool TIB_Column::RelNameIs(const AnsiString& Name) const {
  const std::string_view raw = VarNameView(var_->relname, var_->relname_length);
  if (raw.empty()) return Name.empty();
  const uint64_t stamp = row_->statement_->IdentStamp();
  if (stamp != 0 && rel_ident_.Stamp == stamp && rel_ident_.Raw == raw) return rel_ident_.Value == Name;
  return GetRelName() == Name;
}

bool TIB_Column::HasRelName() const {
  const std::string_view name = VarNameView(var_->relname, var_->relname_length);
  return !name.empty() && name.find_first_not_of(" \t\r\n") != std::string_view::npos;
}

AnsiString TIB_Column::GetRelAlias() const { return rel_alias_.empty() ? GetRelName() : rel_alias_; }

AnsiString TIB_Column::GetAliasName() const {
  const std::string_view name = VarNameView(var_->aliasname, var_->aliasname_length);
  if (!name.empty()) return StoredIdentOf(alias_ident_, name);
  if (row_->statement_->SQLDialect() < 3) return "COLUMN" + IntToStr(static_cast<int>(field_no_));
  return {};
}

AnsiString TIB_Column::GetQualifiedAliasName() const {
  const AnsiString rel = GetRelAlias();
  if (!rel.empty()) return rel + "." + GetAliasName();
  return GetAliasName();
}

AnsiString TIB_Column::GetQualifiedFieldName() const {
  const AnsiString rel = GetRelName();
  const AnsiString field = GetFieldName();
  if (!rel.empty() && !field.empty()) return rel + "." + field;
  return field;
}

AnsiString TIB_Column::GetFullName() const {
  return row_->GetRelationCount() < 2 ? GetAliasName() : GetQualifiedAliasName();
}

AnsiString TIB_Column::GetDisplayName() const {
  if (DisplayLabel == "-") return {};
  if (DisplayLabel == "/-") return "-";
  if (!DisplayLabel.empty()) return DisplayLabel;
  return StripQuotes(GetAliasName());
}

AnsiString TIB_Column::GetBDEFieldName() {
  if (!row_->field_names_made_) row_->MakeBDEFieldNames();
  return bde_field_name_;
}

AnsiString TIB_Column::GetBDEShortName() {
  if (!row_->field_names_made_) row_->MakeBDEFieldNames();
  return bde_short_name_;
}

int32_t TIB_Column::GetIndex() const {
  for (int32_t i = 0; i < row_->ColumnCount(); ++i) {
    if (row_->GetColumn(i) == this) return i;
  }
  return -1;
}

// --- Type and rules --------------------------------------------------------------------------------

int32_t TIB_Column::GetBufferDataSize() const {
  const int32_t len = static_cast<uint16_t>(var_->sqllen);
  return BaseType() == SQL_VARYING ? len + 2 : len;
}

int16_t TIB_Column::IndValue() const {
  int16_t v;
  std::memcpy(&v, ind_, sizeof v);
  return v;
}

void TIB_Column::SetIndValue(int16_t Value) { std::memcpy(ind_, &Value, sizeof Value); }

bool TIB_Column::GetIsNull() const { return ind_ == nullptr || IndValue() == -1; }

bool TIB_Column::GetOldIsNull() const {
  if (old_ind_ == nullptr) return true;
  int16_t v;
  std::memcpy(&v, old_ind_, sizeof v);
  return v == -1;
}

bool TIB_Column::RowEmpty() const { return row_->RowState() == rsEmpty && !row_->Managed(); }

bool TIB_Column::GetIsExpression() const {
  if (row_->RowType() != rtFields) return false;
  const std::string_view field = VarNameView(var_->sqlname, var_->sqlname_length);
  if (VarNameView(var_->relname, var_->relname_length).empty() || field.empty()) return true;
  return field == "DB_KEY" || field == "RDB$DB_KEY" || field == "RPL$SYNC_ID";
}

bool TIB_Column::GetComputed() const {
  const TIB_RowOwner::ColumnRuleStamp stamp = row_->statement_->GetColumnRuleStamp();
  const bool keep = RuleMemoFor(stamp);
  if (keep && rule_memo_.Computed >= 0) return rule_memo_.Computed != 0;
  bool computed;
  if (row_->RowType() == rtFields && IsAttributeSet("COMPUTED")) computed = true;
  else if (GetIsExpression()) computed = false;
  else computed = row_->statement_->IsComputedField(this);
  if (keep && RuleMemoStill(stamp)) rule_memo_.Computed = computed ? 1 : 0;
  return computed;
}

bool TIB_Column::GetReadOnly() const {
  if (read_only_list_ || read_only_dataset_) return true;
  return row_->statement_->GetColumnReadOnly(this);
}

bool TIB_Column::GetIsRequired() const { return required_ || row_->statement_->GetColumnRequired(this); }

bool TIB_Column::GetRequired() const {
  if (!GetIsNullable() && !GetIsExpression()) return !IsAttributeSet("NOTREQUIRED");
  return IsAttributeSet("REQUIRED");
}

bool TIB_Column::GetHasServerDefault() const {
  if (GetIsExpression() || GetComputed()) return false;
  return row_->statement_->HasServerDefault(this);
}

bool TIB_Column::GetAttributeValue(const AnsiString& Keyword, AnsiString& Value) const {
  Value.clear();
  return row_->statement_->GetColumnAttribute(this, Keyword, Value);
}

bool TIB_Column::IsAttributeSet(const AnsiString& Keyword) const {
  return row_->statement_->ColumnIsAttributeSet(this, Keyword);
}

AnsiString TIB_Column::GetBoolTrue() const {
  if (!bool_true_.empty()) return bool_true_;
  if (!bool_false_.empty()) return {};
  if (IsBooleanType(BaseType())) return "TRUE";
  if (IsNumeric) return "1";
  if (IsText) return "T";
  return {};
}

AnsiString TIB_Column::GetBoolFalse() const {
  if (!bool_false_.empty()) return bool_false_;
  if (!bool_true_.empty()) return {};
  if (IsBooleanType(BaseType())) return "FALSE";
  if (IsNumeric) return "0";
  if (IsText) return "F";
  return {};
}

void TIB_Column::SysInitAttributes() {
  AnsiString value;
  if (GetAttributeValue("DOMAIN", value)) domain_name_ = value;
  if (BaseType() == SQL_TYPE_DATE) {
    date_format_.clear();
    if (GetAttributeValue("NOTIME", value)) date_format_ = value;
    if (date_format_.empty()) date_format_ = DisplayFormat.empty() ? FormatSettings().ShortDateFormat : DisplayFormat;
  } else if (GetAttributeValue("NOTIME", value)) {
    date_format_ = value;
    if (date_format_.empty()) date_format_ = DisplayFormat.empty() ? FormatSettings().ShortDateFormat : DisplayFormat;
  }
  if (GetAttributeValue("NODATE", value)) {
    time_format_ = value;
    if (time_format_.empty()) time_format_ = DisplayFormat.empty() ? FormatSettings().ShortTimeFormat : DisplayFormat;
  }
}

void TIB_Column::RaiseUnsupportedType() const {
  throw EIB_Error(GetStatement(), Format(IB_Message(TIB_Msg::UnsupportedColumnType), {static_cast<int>(BaseType())}));
}

bool TIB_Column::IsDateTimeColumn() const { return IsDateTime; }

// --- Null state and the modification bracket ------------------------------------------------------

void TIB_Column::SysSetIsNull(bool Null) {
  if (Null) {
    if (row_->RowType() == rtParams && !GetIsNullable()) var_->sqltype = static_cast<int16_t>(var_->sqltype | 1);
    SetIndValue(-1);
    if (BaseType() == SQL_VARYING) {
      std::memset(data_, 0, 2);
      std::memset(data_ + 2, PadChar, GetSQLLen());
    } else {
      std::memset(data_, PadChar, static_cast<size_t>(GetBufferDataSize()));
    }
    return;
  }
  if (IndValue() == 0) return;
  SetIndValue(0);
  if (IsBoolean) {
    if (GetAsBoolean()) {
      if (GetAsString() != GetBoolTrue()) SetAsString(GetBoolTrue());
    } else if (GetAsString() != GetBoolFalse()) {
      SetAsString(GetBoolFalse());
    }
  }
}

void TIB_Column::SetIsNull(bool Null) {
  if (Null == GetIsNull() && !(Null && row_->RowType() == rtParams && !GetIsNullable())) return;
  SysBeforeModify();
  SysSetIsNull(Null);
  SysAfterModify();
}

void TIB_Column::SysBeforeModify() {
  const size_t size = static_cast<size_t>(GetBufferDataSize()) + 2;
  if (before_copy_.size() != size) before_copy_.assign(size, 0);
  if (!in_validation_) std::memcpy(before_copy_.data(), ind_, size);
}

void TIB_Column::SysAfterModify() {
  const size_t size = static_cast<size_t>(GetBufferDataSize()) + 2;
  auto restore = [&] {
    if (before_copy_.size() == size) std::memcpy(ind_, before_copy_.data(), size);
  };
  if (!in_validation_) {
    in_validation_ = true;
    try {
      if (OnValidate) OnValidate(this);
      TIB_RowOwner* st = GetStatement();
      if (st->OnValidateField) st->OnValidateField(st, row_, this);
    } catch (...) {
      restore();
      in_validation_ = false;
      throw;
    }
    in_validation_ = false;
  }
  const bool changed = SysValueChanged();
  if (changed || row_->AssignLevel() == 0) {
    TIB_RowOwner* st = GetStatement();
    const bool calculated = field_no_ < 0;
    const bool in_pass = st->GetCalculatingFields();
    bool kept = false;
    try {
      if ((!calculated || !in_pass) && st->IsBrowsingDataset()) {
        new_copy_.assign(ind_, ind_ + size);
        kept = true;
      }
      if (OnAfterModify) OnAfterModify(this);
      if ((!calculated || !in_pass) && row_->OnColumnChanging) row_->OnColumnChanging(row_, this);
      if (kept) {
        std::memcpy(ind_, new_copy_.data(), size);
        new_copy_.clear();
      }
    } catch (...) {
      new_copy_.clear();
      restore();
      throw;
    }
    if (!IsArray) row_->ColumnModified(this);
  }
  Bound = !GetIsNull();
  if (changed && OnChange) OnChange(this);
}

bool TIB_Column::SysValueChanged() {
  const size_t size = static_cast<size_t>(GetBufferDataSize()) + 2;
  if (before_copy_.size() != size) return true;
  int16_t before_ind;
  std::memcpy(&before_ind, before_copy_.data(), 2);
  if (GetIsNull() || before_ind == -1) return std::memcmp(before_copy_.data(), ind_, 2) != 0;
  if (BaseType() == SQL_VARYING) {
    uint16_t len;
    std::memcpy(&len, data_, 2);
    const size_t n = 4 + std::min<size_t>(len, GetSQLLen());
    return std::memcmp(before_copy_.data(), ind_, n) != 0;
  }
  return std::memcmp(before_copy_.data(), ind_, size) != 0;
}

bool TIB_Column::GetIsModified() {
  if (!ind_ || !old_ind_) return false;
  return std::memcmp(ind_, old_ind_, 2) != 0 ||
         std::memcmp(data_, old_data_, static_cast<size_t>(GetBufferDataSize())) != 0;
}

// --- Old values ----------------------------------------------------------------------------------

namespace {
// Points a column at its old buffers for the lifetime of the guard.
class OldValueView {
 public:
  OldValueView(char*& Ind, char*& Data, char* OldInd, char* OldData) : ind_(Ind), data_(Data), saved_ind_(Ind), saved_data_(Data) {
    Ind = OldInd;
    Data = OldData;
  }
  ~OldValueView() {
    ind_ = saved_ind_;
    data_ = saved_data_;
  }

 private:
  char*& ind_;
  char*& data_;
  char* saved_ind_;
  char* saved_data_;
};
}  // namespace

AnsiString TIB_Column::GetOldAsString() {
  if (GetOldIsNull()) return {};
  OldValueView view(ind_, data_, old_ind_, old_data_);
  return GetAsString();
}

Variant TIB_Column::GetOldAsVariant() {
  if (GetOldIsNull()) return Unassigned();
  OldValueView view(ind_, data_, old_ind_, old_data_);
  return GetAsVariant();
}

// --- Text-based conversions ------------------------------------------------------------------------

AnsiString TIB_Column::GetAsRawString() {
  if (GetIsNull()) return {};
  if (BaseType() == SQL_VARYING) {
    const uint16_t len = std::min<uint16_t>(ReadData<uint16_t>(), GetSQLLen());
    return AnsiString(data_ + 2, len);
  }
  if (BaseType() == SQL_TEXT) return AnsiString(data_, ::strnlen(data_, GetSQLLen()));
  return GetAsString();
}

void TIB_Column::SetAsRawString(const AnsiString& Value) {
  const int16_t t = BaseType();
  if (t != SQL_VARYING && t != SQL_TEXT) {
    SetAsString(Value);
    return;
  }
  if (Value.size() > GetSQLLen()) {
    throw Exception(IB_Message(TIB_Msg::StringTruncation) + " " + GetFullName());
  }
  SysBeforeModify();
  const bool null = Value.empty() && BlankIsNull;
  if (t == SQL_VARYING) {
    std::memset(data_ + 2, PadChar, GetSQLLen());
    SysSetIsNull(null);
    if (!null) {
      WriteData<uint16_t>(static_cast<uint16_t>(Value.size()));
      std::memcpy(data_ + 2, Value.data(), Value.size());
    }
  } else {
    std::memset(data_, PadChar, GetSQLLen());
    SysSetIsNull(null);
    if (!null) std::memcpy(data_, Value.data(), Value.size());
  }
  SysAfterModify();
}

AnsiString TIB_Column::GetAsXML() {
  const AnsiString tag = AnsiLowerCase(GetAliasName());
  return "<" + tag + ">\r\n" + GetAsString() + "\r\n</" + tag + ">\r\n";
}

WideString TIB_Column::GetAsWideString() { throw Exception(IB_Message(TIB_Msg::NotImplemented)); }
void TIB_Column::SetAsWideString(const WideString&) { throw Exception(IB_Message(TIB_Msg::NotImplemented)); }

TDateTime TIB_Column::GetAsDate() {
  const AnsiString s = GetAsString();
  return s.empty() ? 0 : std::trunc(StrToDateTime(s));
}

TDateTime TIB_Column::GetAsDateTime() {
  const AnsiString s = GetAsString();
  return s.empty() ? 0 : StrToDateTime(s);
}

AnsiString TIB_Column::GetAsDateTimeText() {
  const AnsiString s = GetAsString();
  TimestampStrToDateTime(s);
  return s;
}

int32_t TIB_Column::GetAsInteger() {
  const AnsiString s = Trim(GetAsString());
  if (s.empty()) return 0;
  int32_t v;
  if (TryStrToInt(s, v)) return v;
  const long double f = std::trunc(StrToFloat(s));
  if (f < INT32_MIN || f > INT32_MAX) RaiseIntOverflow();
  return static_cast<int32_t>(f);
}

double TIB_Column::GetAsFloat() {
  const AnsiString s = GetAsString();
  return s.empty() ? 0 : static_cast<double>(StrToFloat(s));
}

int16_t TIB_Column::GetAsSmallint() {
  const AnsiString s = Trim(GetAsString());
  if (s.empty()) return 0;
  const int32_t v = StrToInt(s);
  if (v < INT16_MIN || v > INT16_MAX) RaiseIntOverflow();
  return static_cast<int16_t>(v);
}

double TIB_Column::GetAsDouble() { return GetAsFloat(); }

Currency TIB_Column::GetAsCurrency() {
  const AnsiString s = GetAsString();
  return s.empty() ? Currency() : StrToCurr(s);
}

int64_t TIB_Column::GetAsComp() {
  const AnsiString s = GetAsString();
  if (s.empty()) return 0;
  const long double v = StrToFloat(s);
  if (!(v > -9.3e18L && v < 9.3e18L)) RaiseIntOverflow();
  return static_cast<int64_t>(std::nearbyint(v));
}

long double TIB_Column::GetAsExtended() {
  const AnsiString s = GetAsString();
  if (s.empty()) return 0;
  switch (BaseType()) {
    case SQL_DOUBLE: return GetAsDouble();
    case SQL_FLOAT: return GetAsFloat();
    default: break;
  }
  if (GetSQLScale() == 0 && BaseType() == SQL_INT64) return static_cast<long double>(GetAsInt64());
  return StrToFloat(s);
}

int64_t TIB_Column::GetAsInt64() {
  const AnsiString s = Trim(GetAsString());
  return s.empty() ? 0 : StrToInt64(s);
}

void TIB_Column::SetAsInt64(int64_t Value) { SetAsString(IntToStr(Value)); }
void TIB_Column::SetAsDate(TDateTime Value) { SetAsString(DateTimeToStr(std::trunc(Value))); }
void TIB_Column::SetAsDateTime(TDateTime Value) { SetAsString(DateTimeToStr(Value)); }
void TIB_Column::SetAsDateTimeText(const AnsiString& Value) {
  TimestampStrToDateTime(Value);
  SetAsString(Value);
}
void TIB_Column::SetAsInteger(int32_t Value) { SetAsString(IntToStr(Value)); }
void TIB_Column::SetAsFloat(double Value) { SetAsString(FloatToStr(Value)); }
void TIB_Column::SetAsSmallint(int16_t Value) { SetAsString(IntToStr(Value)); }
void TIB_Column::SetAsDouble(double Value) { SetAsString(FloatToStr(Value)); }
void TIB_Column::SetAsCurrency(Currency Value) { SetAsString(CurrToStr(Value)); }
void TIB_Column::SetAsComp(int64_t Value) { SetAsString(FloatToStr(static_cast<long double>(Value))); }
void TIB_Column::SetAsExtended(long double Value) { SetAsString(FloatToStr(Value)); }
void TIB_Column::SetAsBuffer(const void* Buffer, int32_t Length) {
  SetAsString(AnsiString(static_cast<const char*>(Buffer), static_cast<size_t>(std::max(Length, 0))));
}

void TIB_Column::LoadFromFile(const AnsiString&) { throw Exception(IB_Message(TIB_Msg::NotImplementedAtLevel)); }
void TIB_Column::SaveToFile(const AnsiString&) { throw Exception(IB_Message(TIB_Msg::NotImplementedAtLevel)); }

bool TIB_Column::GetAsBoolean() {
  if (GetIsNull()) return false;
  const int16_t t = BaseType();
  if (IsBooleanType(t)) {
    const int v = t == SQL_BOOLEAN ? ReadData<uint8_t>() : ReadData<int16_t>();
    if (v == 1) return true;
    if (v == 0) return false;
    throw Exception(IB_Message(TIB_Msg::UnexpectedBoolean));
  }
  return AnsiSameText(Trim(GetAsString()), GetBoolTrue());
}

void TIB_Column::SetAsBoolean(bool Value) { SetAsString(Value ? GetBoolTrue() : GetBoolFalse()); }

AnsiString TIB_Column::GetColData() const {
  if (GetIsNull() || RowEmpty()) return {};
  return AnsiString(data_, static_cast<size_t>(GetBufferDataSize()));
}

AnsiString TIB_Column::GetOldColData() const {
  if (GetOldIsNull() || RowEmpty()) return {};
  return AnsiString(old_data_, static_cast<size_t>(GetBufferDataSize()));
}

void TIB_Column::SetColData(const AnsiString& Bytes) {
  const size_t size = static_cast<size_t>(GetBufferDataSize());
  if (Bytes.empty()) {
    SetIndValue(-1);
  } else if (Bytes.size() == size) {
    SetIndValue(0);
    std::memcpy(data_, Bytes.data(), size);
  } else if (Bytes.size() == size + 2) {
    std::memcpy(ind_, Bytes.data(), size + 2);
  } else {
    throw EIB_ColumnError(GetStatement(), IB_Message(TIB_Msg::InvalidColData));
  }
}

// --- Variants ------------------------------------------------------------------------------------

Variant TIB_Column::GetAsVariant() {
  if (row_->RowState() == rsEmpty && !row_->Managed()) return Unassigned();
  if (GetIsNull()) return Null();
  const int16_t scale = GetSQLScale();
  switch (BaseType()) {
    case SQL_TEXT:
    case SQL_VARYING:
    case SQL_NULL:
    case SQL_BLOB: return Variant(GetAsString());
    case SQL_DOUBLE: return Variant(GetAsDouble());
    case SQL_FLOAT: return Variant(GetAsFloat());
    case SQL_LONG:
      if (scale == 0) return Variant(GetAsInteger());
      return UseBCD ? Variant(GetAsString()) : Variant(static_cast<double>(GetAsExtended()));
    case SQL_SHORT:
      if (scale == 0) return Variant(GetAsSmallint());
      return UseBCD ? Variant(GetAsString()) : Variant(static_cast<double>(GetAsExtended()));
    case SQL_QUAD:
    case SQL_INT64:
      if (scale == 0) return Variant(GetAsString());
      return UseBCD ? Variant(GetAsString()) : Variant(static_cast<double>(GetAsExtended()));
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIME: return Variant::FromDateTime(GetAsDateTime());
    case SQL_TYPE_DATE: return Variant::FromDateTime(GetAsDate());
    case 590:
    case SQL_BOOLEAN: return Variant(GetAsBoolean());
    default: RaiseUnsupportedType();
  }
}

void TIB_Column::SetAsVariant(const Variant& Value) {
  if (VarIsNullOrEmpty(Value)) {
    if (!GetIsNull()) SetIsNull(true);
    return;
  }
  const bool was_null = GetIsNull();
  if (was_null) SysSetIsNull(false);
  bool set = false;
  try {
    if (VarType(Value) == varString) {
      if (GetAsString() != Value.AsString()) {
        SetAsString(Value.AsString());
        set = true;
      }
    } else {
      const int16_t scale = GetSQLScale();
      switch (BaseType()) {
        case SQL_TEXT:
        case SQL_VARYING:
        case SQL_NULL:
        case SQL_BLOB: {
          const AnsiString s = VarToStr(Value);
          if (GetAsString() != s) {
            SetAsString(s);
            set = true;
          }
          break;
        }
        case SQL_DOUBLE: {
          const double v = Value.AsDouble();
          if (GetAsDouble() != v) {
            SetAsDouble(v);
            set = true;
          }
          break;
        }
        case SQL_FLOAT: {
          const double v = Value.AsDouble();
          if (GetAsFloat() != static_cast<double>(static_cast<float>(v))) {
            SetAsFloat(v);
            set = true;
          }
          break;
        }
        case SQL_LONG:
        case SQL_SHORT:
          if (scale == 0) {
            const int32_t v = Value.AsInteger();
            if (BaseType() == SQL_LONG) {
              if (GetAsInteger() != v) {
                SetAsInteger(v);
                set = true;
              }
            } else if (GetAsSmallint() != v) {
              if (v < INT16_MIN || v > INT16_MAX) RaiseIntOverflow();
              SetAsSmallint(static_cast<int16_t>(v));
              set = true;
            }
            break;
          }
          [[fallthrough]];
        case SQL_QUAD:
        case SQL_INT64: {
          if (scale == 0) {
            const int64_t v = Value.AsInt64();
            if (GetAsInt64() != v) {
              SetAsInt64(v);
              set = true;
            }
          } else {
            const long double v = Value.AsDouble();
            if (GetAsExtended() != v) {
              SetAsExtended(v);
              set = true;
            }
          }
          break;
        }
        case SQL_TIMESTAMP: {
          const TDateTime v = Value.AsDateTime();
          if (GetAsDateTime() != v) {
            SetAsDateTime(v);
            set = true;
          }
          break;
        }
        case SQL_TYPE_TIME: {
          const TDateTime v = Value.AsDateTime();
          const TDateTime frac = v - std::trunc(v);
          if (GetAsDateTime() != frac) {
            SetAsDateTime(frac);
            set = true;
          }
          break;
        }
        case SQL_TYPE_DATE: {
          const TDateTime v = std::trunc(Value.AsDateTime());
          if (GetAsDate() != v) {
            SetAsDate(v);
            set = true;
          }
          break;
        }
        case 590:
        case SQL_BOOLEAN: {
          const bool v = Value.AsBoolean();
          if (GetAsBoolean() != v) {
            SetAsBoolean(v);
            set = true;
          }
          break;
        }
        default:
          RaiseUnsupportedType();
      }
    }
  } catch (...) {
    if (was_null && !set) SysSetIsNull(true);
    throw;
  }
  if (!set && was_null) {
    SysSetIsNull(true);
    SetIsNull(false);
  }
}

// --- Assign ----------------------------------------------------------------------------------------

void TIB_Column::Assign(TObject* Source) {
  auto* src = dynamic_cast<TIB_Column*>(Source);
  if (src == nullptr) {
    throw EIB_ColumnError(GetStatement(), Format(IB_Message(TIB_Msg::CannotAssignTo),
                                                 {Source ? Source->ClassName() : AnsiString("nil")}));
  }
  row_->IncAssignLevel();
  try {
    if (src->GetIsNull()) {
      if (!GetIsNull()) Clear();
    } else {
      if (GetIsNull()) SetIsNull(false);
      if (IsBoolean && src->IsBoolean) {
        SetAsBoolean(src->GetAsBoolean());
      } else if (IsDateTime || GetDateOnly() || GetTimeOnly()) {
        SetAsDateTime(src->GetAsDateTime());
      } else if (IsArray || src->IsArray) {
        SetAsVariant(src->GetAsVariant());
      } else {
        assign_source_handler_ = src->OnSetText;
        assign_source_ = src;
        try {
          SetAsString(src->GetAsString());
        } catch (...) {
          assign_source_handler_ = nullptr;
          assign_source_ = nullptr;
          throw;
        }
        assign_source_handler_ = nullptr;
        assign_source_ = nullptr;
      }
    }
  } catch (...) {
    row_->DecAssignLevel();
    throw;
  }
  row_->DecAssignLevel();
}

void TIB_Column::AssignTo(TObject* Dest) {
  if (auto* col = dynamic_cast<TIB_Column*>(Dest)) {
    col->Assign(this);
  } else if (auto* strings = dynamic_cast<TStrings*>(Dest)) {
    strings->SetText(GetAsString());
  } else {
    throw EIB_ColumnError(GetStatement(), Format(IB_Message(TIB_Msg::CannotAssignFrom),
                                                 {Dest ? Dest->ClassName() : AnsiString("nil")}));
  }
}

void TIB_Column::RunSetTextHandlers(AnsiString& Text) {
  if (assign_source_handler_) assign_source_handler_(assign_source_, Text);
  if (OnSetText) OnSetText(this, Text);
}

void TIB_Column::RunGetTextHandler(AnsiString& Text) {
  if (OnGetText) OnGetText(this, Text);
}

// --- Type source, display ----------------------------------------------------------------------------

AnsiString TIB_Column::GetSQLTypeSource(bool WithoutExtras) {
  const AnsiString len = IntToStr(static_cast<int>(GetSQLLen()));
  const AnsiString scale = IntToStr(-static_cast<int>(GetSQLScale()));
  AnsiString s;
  switch (BaseType()) {
    case SQL_VARYING: s = "VARCHAR( " + len + " )"; break;
    case SQL_TEXT: s = "CHAR( " + len + " )"; break;
    case SQL_DOUBLE: s = GetSQLScale() == 0 ? AnsiString("DOUBLE PRECISION") : "NUMERIC ( 15, " + scale + " )"; break;
    case SQL_FLOAT: s = GetSQLScale() == 0 ? AnsiString("FLOAT") : "NUMERIC ( 9, " + scale + " )"; break;
    case SQL_LONG: s = GetSQLScale() == 0 ? AnsiString("INTEGER") : "DECIMAL ( 9, " + scale + " )"; break;
    case SQL_SHORT: s = GetSQLScale() == 0 ? AnsiString("SMALLINT") : "DECIMAL ( 4, " + scale + " )"; break;
    case SQL_TIMESTAMP: s = row_->statement_->SQLDialect() < 3 ? "DATE" : "TIMESTAMP"; break;
    case SQL_BLOB: s = "BLOB( 65535, " + IntToStr(static_cast<int>(GetSQLSubType())) + " )"; break;
    case SQL_QUAD:
    case SQL_INT64: s = "DECIMAL ( 18, " + scale + " )"; break;
    case SQL_TYPE_TIME: s = "TIME"; break;
    case SQL_TYPE_DATE: s = "DATE"; break;
    case 590:
    case SQL_BOOLEAN: s = "BOOLEAN"; break;
    default: break;
  }
  if (!WithoutExtras && field_no_ < 0) s += " /* CLIENT CALCULATED */";
  if (!WithoutExtras && row_->RowType() == rtParams) {
    if (!param_default_loaded_) {
      param_default_ = row_->statement_->ProcParamDefault(this);
      param_default_loaded_ = true;
    }
    if (!param_default_.empty()) s += " " + param_default_;
  }
  return s;
}

AnsiString TIB_Column::GetDisplayText() {
  if (GetIsNull()) return IsBooleanType(BaseType()) ? "UNKNOWN" : "";
  if (!DisplayFormat.empty()) {
    if (IsNumeric) {
      return UseBCD ? FormatCurr(DisplayFormat, GetAsCurrency()) : FormatFloat(DisplayFormat, GetAsExtended());
    }
    if (IsDateTime) return FormatDateTime(DisplayFormat, GetAsDateTime());
    return GetAsString();
  }
  if (IsDateTime) {
    const TFormatSettings& fs = FormatSettings();
    if (BaseType() == SQL_TYPE_DATE || GetDateOnly()) return FormatDateTime(fs.ShortDateFormat, GetAsDateTime());
    if (BaseType() == SQL_TYPE_TIME || GetTimeOnly()) return FormatDateTime(fs.ShortTimeFormat, GetAsDateTime());
    return DateTimeToStr(GetAsDateTime());
  }
  if (IsCurrency) {
    const int digits = FormatSettings().CurrencyDecimals;
    return UseBCD ? CurrToStrF(GetAsCurrency(), ffCurrency, digits) : FloatToStrF(GetAsExtended(), ffCurrency, 18, digits);
  }
  return GetAsString();
}

int32_t TIB_Column::GetDefaultWidth() { return CalcWidth(false); }

}  // namespace pelvar
