// Field objects, field and index definitions, messages and value conversions of the
// dataset model.
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/db.h"
#include "platform/sysutils.h"

namespace pelvar {

// ---------------------------------------------------------------------------------------------
// Messages

namespace dbmsg {
#define PELVAR_DBMSG(Name, Text)           \
  AnsiString Name() {                      \
    static const AnsiString text = CZ(Text); \
    return text;                           \
  }
PELVAR_DBMSG(NotEditing, "Dataset není v editovacím nebo vkládacím módu")
PELVAR_DBMSG(FieldReadOnly, "Pole '%s' nelze modifikovat")
PELVAR_DBMSG(DataSetClosed, "Nelze provést tuto operaci na uzavřeném datasetu")
PELVAR_DBMSG(DataSetOpen, "Nelze provést tuto operaci na otevřeném datasetu")
PELVAR_DBMSG(DataSetEmpty, "Nelze provést tuto operaci na prázdném datasetu")
PELVAR_DBMSG(DataSetReadOnly, "Nelze modifikovat dataset určený pouze pro čtení")
PELVAR_DBMSG(FieldNotFound, "Pole '%s' nenalezeno")
PELVAR_DBMSG(FieldRequired, "Pole '%s' musí mít hodnotu")
PELVAR_DBMSG(RecordNotFound, "Záznam nenalezen")
PELVAR_DBMSG(CircularDataLink, "Kruhové datalinky nejsou povoleny")
PELVAR_DBMSG(FieldAccessError, "Nelze zpřístupnit pole '%s' jako typ %s")
PELVAR_DBMSG(InvalidIntegerValue, "'%s' není platná celočíselná hodnota pro pole '%s'")
PELVAR_DBMSG(InvalidFloatValue, "'%s' není platná hodnota s plovoucí čárkou pro pole '%s'")
PELVAR_DBMSG(InvalidBoolValue, "'%s' není platná logická hodnota pro pole '%s'")
PELVAR_DBMSG(InvalidDateTimeValue, "'%s' není platné datum a čas pro pole '%s'")
PELVAR_DBMSG(FieldRangeError, "%s není platná hodnota pro pole '%s'. Povolený rozsah je %s až %s")
PELVAR_DBMSG(FieldTypeMismatch, "Typ pole '%s' neodpovídá, očekáván: %s, skutečný: %s")
PELVAR_DBMSG(FieldSizeMismatch, "Chybná velikost pro pole '%s', vyžadováno: %d zadáno: %d")
PELVAR_DBMSG(DuplicateFieldName, "Duplicitní jméno pole '%s'")
PELVAR_DBMSG(ParameterNotFound, "Parametr '%s' nenalezen")
PELVAR_DBMSG(IndexNotFound, "Index '%s' nenalezen")
PELVAR_DBMSG(FieldIndexError, "Index pole mimo rozsah")
PELVAR_DBMSG(NotBrowsing, "Dataset není v prohlížecím módu")
PELVAR_DBMSG(DataSetMissing, "Pole '%s' nemá dataset")
PELVAR_DBMSG(FieldDefNotFound, "Definice pole '%s' nenalezena")
#undef PELVAR_DBMSG
}  // namespace dbmsg

AnsiString FormatDbMessage(const AnsiString& message, std::initializer_list<AnsiString> args) {
  AnsiString out;
  auto it = args.begin();
  for (size_t i = 0; i < message.size(); ++i) {
    if (message[i] == '%' && i + 1 < message.size() &&
        (message[i + 1] == 's' || message[i + 1] == 'd') && it != args.end()) {
      out += *it++;
      ++i;
    } else {
      out += message[i];
    }
  }
  return out;
}

void DatabaseError(const AnsiString& message, const TComponent* component) {
  if (component != nullptr && !component->Name().empty())
    throw EDatabaseError(component->Name() + ": " + message);
  throw EDatabaseError(message);
}

void DatabaseErrorFmt(const AnsiString& message, std::initializer_list<AnsiString> args,
                      const TComponent* component) {
  DatabaseError(FormatDbMessage(message, args), component);
}

std::vector<AnsiString> SplitFieldNames(const AnsiString& names) {
  std::vector<AnsiString> out;
  size_t start = 0;
  while (start <= names.size()) {
    size_t end = names.find(';', start);
    if (end == AnsiString::npos) end = names.size();
    AnsiString name = Trim(std::string_view(names).substr(start, end - start));
    if (!name.empty()) out.push_back(name);
    start = end + 1;
  }
  return out;
}

AnsiString FieldTypeName(TFieldType type) {
  static const char* const names[] = {
      "Unknown", "String", "SmallInt", "Integer", "Word", "Boolean", "Float", "Currency", "BCD",
      "Date", "Time", "DateTime", "Bytes", "VarBytes", "AutoInc", "Blob", "Memo", "Graphic",
      "FmtMemo", "ParadoxOle", "DBaseOle", "TypedBinary", "Cursor", "FixedChar", "WideString",
      "Largeint", "ADT", "Array", "Reference", "DataSet", "OraBlob", "OraClob", "Variant",
      "Interface", "IDispatch", "Guid", "TimeStamp", "FMTBcd"};
  size_t i = static_cast<size_t>(type);
  return i < sizeof names / sizeof names[0] ? names[i] : "Unknown";
}

bool IsBlobType(TFieldType type) {
  return (type >= ftBlob && type <= ftTypedBinary) || type == ftOraBlob || type == ftOraClob;
}

// ---------------------------------------------------------------------------------------------
// BCD and time stamps

TBcd CurrToBCD(Currency value, int precision, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 4) decimals = 4;
  int64_t raw = value.Raw();
  bool negative = raw < 0;
  // Magnitude as unsigned to keep INT64_MIN.
  uint64_t mag = negative ? uint64_t(0) - static_cast<uint64_t>(raw) : static_cast<uint64_t>(raw);
  for (int i = decimals; i < 4; ++i) {
    uint64_t rest = mag % 10;
    mag /= 10;
    if (rest > 5 || (rest == 5 && (mag & 1) != 0)) ++mag;
  }
  std::string digits = std::to_string(mag);
  while (static_cast<int>(digits.size()) < decimals + 1) digits.insert(digits.begin(), '0');
  if (static_cast<int>(digits.size()) > precision || digits.size() > 64)
    throw EOverflow("BCD overflow");
  TBcd bcd;
  bcd.Precision = static_cast<uint8_t>(digits.size());
  bcd.SignSpecialPlaces = static_cast<uint8_t>((negative && mag != 0 ? 0x80 : 0) | decimals);
  for (size_t i = 0; i < digits.size(); ++i) {
    uint8_t d = static_cast<uint8_t>(digits[i] - '0');
    if (i % 2 == 0)
      bcd.Fraction[i / 2] = static_cast<uint8_t>(d << 4);
    else
      bcd.Fraction[i / 2] |= d;
  }
  return bcd;
}

Currency BCDToCurr(const TBcd& bcd) {
  int places = bcd.SignSpecialPlaces & 0x3F;
  bool negative = (bcd.SignSpecialPlaces & 0x80) != 0;
  int precision = bcd.Precision > 64 ? 64 : bcd.Precision;
  __int128 value = 0;
  const __int128 limit = static_cast<__int128>(std::numeric_limits<int64_t>::max()) * 100000;
  int kept = precision - (places > 4 ? places - 4 : 0);
  int last_dropped = 0;
  bool rest_nonzero = false;
  for (int i = 0; i < precision; ++i) {
    uint8_t byte = bcd.Fraction[i / 2];
    int d = (i % 2 == 0) ? byte >> 4 : byte & 0x0F;
    if (i < kept) {
      value = value * 10 + d;
      if (value > limit) throw EOverflow("BCD overflow");
    } else if (i == kept) {
      last_dropped = d;
    } else if (d != 0) {
      rest_nonzero = true;
    }
  }
  if (places > 4) {
    if (last_dropped > 5 || (last_dropped == 5 && (rest_nonzero || (value & 1) != 0))) ++value;
  } else {
    for (int i = places; i < 4; ++i) value *= 10;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int64_t>::max() || value < std::numeric_limits<int64_t>::min())
    throw EOverflow("BCD overflow");
  return Currency::FromRaw(static_cast<int64_t>(value));
}

TTimeStamp DateTimeToTimeStamp(TDateTime value) {
  TTimeStamp ts;
  double whole = std::trunc(value);
  double frac = std::fabs(value - whole);
  int64_t ms = std::llround(frac * kMSecsPerDay);
  int64_t date = static_cast<int64_t>(whole) + kDateDelta;
  if (ms >= kMSecsPerDay) {
    ms -= kMSecsPerDay;
    ++date;
  }
  if (date > std::numeric_limits<int32_t>::max() || date < std::numeric_limits<int32_t>::min())
    throw EConvertError("Date out of range");
  ts.Time = static_cast<int32_t>(ms);
  ts.Date = static_cast<int32_t>(date);
  return ts;
}

TDateTime TimeStampToDateTime(const TTimeStamp& value) {
  double days = static_cast<double>(value.Date) - kDateDelta;
  double frac = static_cast<double>(value.Time) / kMSecsPerDay;
  return days < 0 ? days - frac : days + frac;
}

TTimeStamp MSecsToTimeStamp(double msecs) {
  TTimeStamp ts;
  double days = std::floor(msecs / kMSecsPerDay);
  double rest = std::round(msecs - days * kMSecsPerDay);
  if (rest >= kMSecsPerDay) {
    rest -= kMSecsPerDay;
    days += 1;
  }
  if (days > std::numeric_limits<int32_t>::max() || days < std::numeric_limits<int32_t>::min())
    throw EConvertError("Date out of range");
  ts.Date = static_cast<int32_t>(days);
  ts.Time = static_cast<int32_t>(rest);
  return ts;
}

double TimeStampToMSecs(const TTimeStamp& value) {
  return static_cast<double>(value.Date) * kMSecsPerDay + value.Time;
}

// ---------------------------------------------------------------------------------------------
// Field definitions

TFieldDef::TFieldDef(TFieldDefs* owner, const AnsiString& name, TFieldType type, int32_t size,
                     bool required, int32_t field_no)
    : owner_(owner), name_(name), data_type_(type), size_(size), field_no_(field_no) {
  SetRequired(required);
}

void TFieldDef::SetRequired(bool v) {
  if (v)
    attributes_.Include(faRequired);
  else
    attributes_.Exclude(faRequired);
}

int32_t TFieldDef::Index() const {
  for (int32_t i = 0; i < owner_->Count(); ++i)
    if (owner_->Items(i) == this) return i;
  return -1;
}

TFieldDefs* TFieldDef::ChildDefs() {
  if (!child_defs_) child_defs_ = std::make_unique<TFieldDefs>(owner_->DataSet());
  return child_defs_.get();
}

bool TFieldDef::HasChildDefs() const { return child_defs_ && child_defs_->Count() > 0; }

TField* TFieldDef::CreateField(TComponent* owner) {
  TDataSet* ds = owner_->DataSet();
  TFieldFactory factory = ds != nullptr ? ds->GetFieldClass(data_type_) : DefaultFieldClass(data_type_);
  if (!factory) DatabaseErrorFmt(CZ("Pole '%s' je neznámého typu"), {name_}, ds);
  TField* f = factory(owner);
  try {
    f->data_type_ = data_type_ == ftUnknown ? f->data_type_ : data_type_;
    switch (data_type_) {
      case ftString: case ftFixedChar: case ftWideString: case ftBytes: case ftVarBytes:
      case ftGuid: case ftBCD:
        f->size_ = size_;
        break;
      default:
        if (IsBlobType(data_type_)) f->size_ = size_;
    }
    if (data_type_ == ftFixedChar) static_cast<TStringField*>(f)->SetFixedChar(true);
    if (auto* bcd = dynamic_cast<TBCDField*>(f)) bcd->SetPrecision(precision_);
    f->field_name_ = name_;
    f->required_ = attributes_.Contains(faRequired);
    f->read_only_ = attributes_.Contains(faReadonly);
    f->visible_ = !attributes_.Contains(faHiddenCol);
    f->SetDataSet(ds);
  } catch (...) {
    delete f;
    throw;
  }
  return f;
}

TFieldDefs::TFieldDefs(TDataSet* dataset) : dataset_(dataset) {}
TFieldDefs::~TFieldDefs() = default;

TFieldDef* TFieldDefs::Items(int32_t index) const {
  if (index < 0 || index >= Count()) DatabaseError(dbmsg::FieldIndexError(), dataset_);
  return items_[static_cast<size_t>(index)].get();
}

TFieldDef* TFieldDefs::Add(const AnsiString& name, TFieldType type, int32_t size, bool required) {
  if (name.empty()) DatabaseError(CZ("Pole musí mít jméno"), dataset_);
  if (IndexOf(name) >= 0) DatabaseErrorFmt(dbmsg::DuplicateFieldName(), {name}, dataset_);
  items_.push_back(std::make_unique<TFieldDef>(this, name, type, size, required, Count() + 1));
  updated_ = false;
  return items_.back().get();
}

TFieldDef* TFieldDefs::AddFieldDef() {
  items_.push_back(std::make_unique<TFieldDef>(this, AnsiString(), ftUnknown, 0, false, Count() + 1));
  updated_ = false;
  return items_.back().get();
}

void TFieldDefs::Delete(int32_t index) {
  Items(index);
  items_.erase(items_.begin() + index);
  updated_ = false;
}

void TFieldDefs::Clear() {
  items_.clear();
  updated_ = false;
}

int32_t TFieldDefs::IndexOf(const AnsiString& name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (AnsiSameText(items_[static_cast<size_t>(i)]->Name(), name)) return i;
  return -1;
}

TFieldDef* TFieldDefs::FindDef(const AnsiString& name) const {
  int32_t i = IndexOf(name);
  return i < 0 ? nullptr : items_[static_cast<size_t>(i)].get();
}

TFieldDef* TFieldDefs::Find(const AnsiString& name) const {
  TFieldDef* d = FindDef(name);
  if (d == nullptr) DatabaseErrorFmt(dbmsg::FieldDefNotFound(), {name}, dataset_);
  return d;
}

void TFieldDefs::Assign(const TFieldDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& d : source.items_) {
    auto copy = std::make_unique<TFieldDef>(this, d->Name(), d->DataType(), d->Size(),
                                            d->Required(), d->FieldNo());
    copy->SetPrecision(d->Precision());
    copy->SetAttributes(d->Attributes());
    items_.push_back(std::move(copy));
  }
}

void TFieldDefs::Update() {
  if (!updated_ && dataset_ != nullptr) {
    dataset_->UpdateFieldDefs();
    updated_ = true;
  }
}

void TFieldDefs::EndUpdate() {
  if (update_count_ > 0) --update_count_;
}

// ---------------------------------------------------------------------------------------------
// Index definitions

TIndexDef::TIndexDef(TIndexDefs* owner, const AnsiString& name, const AnsiString& fields,
                     TIndexOptions options)
    : owner_(owner), name_(name), fields_(fields), options_(options) {}

void TIndexDef::Assign(const TIndexDef& source) {
  name_ = source.name_;
  fields_ = source.fields_;
  desc_fields_ = source.desc_fields_;
  case_ins_fields_ = source.case_ins_fields_;
  expression_ = source.expression_;
  source_ = source.source_;
  options_ = source.options_;
}

TIndexDefs::TIndexDefs(TDataSet* dataset) : dataset_(dataset) {}
TIndexDefs::~TIndexDefs() = default;

TIndexDef* TIndexDefs::Items(int32_t index) const {
  if (index < 0 || index >= Count()) DatabaseError(dbmsg::FieldIndexError(), dataset_);
  return items_[static_cast<size_t>(index)].get();
}

TIndexDef* TIndexDefs::Add(const AnsiString& name, const AnsiString& fields,
                           TIndexOptions options) {
  items_.push_back(std::make_unique<TIndexDef>(this, name, fields, options));
  return items_.back().get();
}

TIndexDef* TIndexDefs::AddIndexDef() { return Add(AnsiString(), AnsiString(), {}); }

void TIndexDefs::Delete(int32_t index) {
  Items(index);
  items_.erase(items_.begin() + index);
}

void TIndexDefs::Clear() { items_.clear(); }

int32_t TIndexDefs::IndexOf(const AnsiString& name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (AnsiSameText(items_[static_cast<size_t>(i)]->Name(), name)) return i;
  return -1;
}

TIndexDef* TIndexDefs::FindIndexForFields(const AnsiString& fields) const {
  for (const auto& d : items_)
    if (AnsiSameText(d->Fields(), fields)) return d.get();
  DatabaseErrorFmt(dbmsg::IndexNotFound(), {fields}, dataset_);
}

TIndexDef* TIndexDefs::Find(const AnsiString& name) const {
  int32_t i = IndexOf(name);
  if (i < 0) DatabaseErrorFmt(dbmsg::IndexNotFound(), {name}, dataset_);
  return items_[static_cast<size_t>(i)].get();
}

void TIndexDefs::Assign(const TIndexDefs& source) {
  if (&source == this) return;
  Clear();
  for (const auto& d : source.items_) {
    TIndexDef* copy = AddIndexDef();
    copy->Assign(*d);
  }
}

void TIndexDefs::Update() {
  if (dataset_ != nullptr) dataset_->UpdateIndexDefs();
}

// ---------------------------------------------------------------------------------------------
// TField

TField::TField(TComponent* owner) : TComponent(owner) {}

TField::~TField() {
  if (dataset_ != nullptr) {
    TDataSet* ds = dataset_;
    dataset_ = nullptr;
    ds->RemoveField(this);
  }
}

void TField::CheckInactive() const {
  if (dataset_ != nullptr) dataset_->CheckInactive();
}

void TField::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (dataset_ != nullptr) dataset_->CheckInactive();
  if (dataset != nullptr) {
    dataset->CheckInactive();
    dataset->AddField(this);
  }
  if (dataset_ != nullptr) dataset_->RemoveField(this);
  dataset_ = dataset;
}

void TField::SetFieldName(const AnsiString& name) {
  if (dataset_ != nullptr && !AnsiSameText(name, field_name_)) {
    dataset_->CheckInactive();
    if (dataset_->FindField(name) != nullptr)
      DatabaseErrorFmt(dbmsg::DuplicateFieldName(), {name}, dataset_);
  }
  field_name_ = name;
  if (dataset_ != nullptr) dataset_->field_index_valid_ = false;
}

void TField::SetFieldKind(TFieldKind v) {
  CheckInactive();
  field_kind_ = v;
}

void TField::SetSize(int32_t v) {
  CheckInactive();
  size_ = v;
}

int32_t TField::DataSize() const { return 0; }

int32_t TField::Index() const {
  if (dataset_ == nullptr) return -1;
  const auto& list = dataset_->fields_;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i] == this) return static_cast<int32_t>(i);
  return -1;
}

void TField::SetIndex(int32_t index) {
  if (dataset_ == nullptr) return;
  auto& list = dataset_->fields_;
  int32_t cur = Index();
  if (cur < 0) return;
  if (index < 0) index = 0;
  if (index >= static_cast<int32_t>(list.size())) index = static_cast<int32_t>(list.size()) - 1;
  list.erase(list.begin() + cur);
  list.insert(list.begin() + index, this);
  dataset_->DataEvent(deFieldListChange, 0);
}

bool TField::IsIndexField() const {
  return dataset_ != nullptr && dataset_->GetIsIndexField(const_cast<TField*>(this));
}

bool TField::CanModify() const {
  if (read_only_ || dataset_ == nullptr) return false;
  if (field_kind_ != fkData && field_kind_ != fkInternalCalc) return dataset_->State() == dsCalcFields;
  return dataset_->CanModify();
}

void TField::AccessError(const AnsiString& type_name) const {
  DatabaseErrorFmt(dbmsg::FieldAccessError(), {DisplayName(), type_name});
}

bool TField::GetData(void* buffer, bool native_format) const {
  if (dataset_ == nullptr) DatabaseErrorFmt(dbmsg::DataSetMissing(), {DisplayName()});
  if (validating_) {
    if (value_buffer_ == nullptr) return false;
    if (buffer != nullptr) {
      if (data_type_ == ftVariant) {
        *static_cast<Variant*>(buffer) = *static_cast<const Variant*>(value_buffer_);
      } else if (!native_format && (data_type_ == ftDate || data_type_ == ftTime ||
                                    data_type_ == ftDateTime || data_type_ == ftBCD)) {
        dataset_->DataConvert(const_cast<TField*>(this), value_buffer_, buffer, false);
      } else {
        std::memcpy(buffer, value_buffer_, static_cast<size_t>(DataSize()));
      }
    }
    return true;
  }
  return dataset_->GetFieldData(const_cast<TField*>(this), buffer, native_format);
}

void TField::SetData(const void* buffer, bool native_format) {
  if (dataset_ == nullptr) DatabaseErrorFmt(dbmsg::DataSetMissing(), {DisplayName()});
  dataset_->SetFieldData(this, buffer, native_format);
}

void TField::Validate(const void* buffer) {
  if (!OnValidate) return;
  value_buffer_ = buffer;
  validating_ = true;
  try {
    OnValidate(this);
  } catch (...) {
    validating_ = false;
    value_buffer_ = nullptr;
    throw;
  }
  validating_ = false;
  value_buffer_ = nullptr;
}

void TField::Change() {
  if (OnChange) OnChange(this);
}

void TField::FocusControl() {
  if (dataset_ != nullptr && dataset_->Active())
    dataset_->DataEvent(deFocusControl, reinterpret_cast<intptr_t>(this));
}

bool TField::IsNull() const { return !GetData(nullptr); }

void TField::Clear() { SetData(nullptr); }

AnsiString TField::AsString() const { AccessError("String"); }
void TField::SetAsString(const AnsiString&) { AccessError("String"); }
int32_t TField::AsInteger() const { AccessError("Integer"); }
void TField::SetAsInteger(int32_t) { AccessError("Integer"); }
int64_t TField::AsLargeInt() const { return AsInteger(); }
void TField::SetAsLargeInt(int64_t v) {
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    AccessError("Largeint");
  SetAsInteger(static_cast<int32_t>(v));
}
double TField::AsFloat() const { AccessError("Float"); }
void TField::SetAsFloat(double) { AccessError("Float"); }
Currency TField::AsCurrency() const { return Currency(AsFloat()); }
void TField::SetAsCurrency(Currency v) { SetAsFloat(v.ToDouble()); }
bool TField::AsBoolean() const { AccessError("Boolean"); }
void TField::SetAsBoolean(bool) { AccessError("Boolean"); }
TDateTime TField::AsDateTime() const { AccessError("DateTime"); }
void TField::SetAsDateTime(TDateTime) { AccessError("DateTime"); }
Variant TField::AsVariant() const { AccessError("Variant"); }
void TField::SetAsVariant(const Variant&) { AccessError("Variant"); }

Variant TField::ValueInState(TDataSetState st) const {
  if (dataset_ == nullptr) DatabaseErrorFmt(dbmsg::DataSetMissing(), {DisplayName()});
  TDataSetState saved = dataset_->SetTempState(st);
  Variant v;
  try {
    v = AsVariant();
  } catch (...) {
    dataset_->RestoreState(saved);
    throw;
  }
  dataset_->RestoreState(saved);
  return v;
}

Variant TField::OldValue() const { return ValueInState(dsOldValue); }
Variant TField::NewValue() const { return ValueInState(dsNewValue); }
Variant TField::CurValue() const { return ValueInState(dsCurValue); }

void TField::SetNewValue(const Variant& v) {
  if (dataset_ == nullptr) DatabaseErrorFmt(dbmsg::DataSetMissing(), {DisplayName()});
  TDataSetState saved = dataset_->SetTempState(dsNewValue);
  try {
    SetAsVariant(v);
  } catch (...) {
    dataset_->RestoreState(saved);
    throw;
  }
  dataset_->RestoreState(saved);
}

void TField::GetText(AnsiString& text, bool) const { text = AsString(); }
void TField::SetTextImpl(const AnsiString& text) { SetAsString(text); }

AnsiString TField::DisplayText() const {
  AnsiString text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, true);
  else
    GetText(text, true);
  return text;
}

AnsiString TField::Text() const {
  AnsiString text;
  if (OnGetText)
    OnGetText(const_cast<TField*>(this), text, false);
  else
    GetText(text, false);
  return text;
}

void TField::SetText(const AnsiString& v) {
  if (OnSetText)
    OnSetText(this, v);
  else
    SetTextImpl(v);
}

void TField::AssignValue(const TField* source) {
  if (source == nullptr || source->IsNull()) {
    Clear();
    return;
  }
  if (source->DataType() == ftLargeint)
    SetAsString(source->AsString());
  else
    SetAsVariant(source->AsVariant());
}

// ---------------------------------------------------------------------------------------------
// String fields

TStringField::TStringField(TComponent* owner) : TField(owner) {
  data_type_ = ftString;
  size_ = 20;
}

void TStringField::SetFixedChar(bool v) {
  fixed_char_ = v;
  data_type_ = v ? ftFixedChar : ftString;
}

bool TStringField::GetValue(AnsiString& v) const {
  std::vector<char> buf(static_cast<size_t>(DataSize()) + 1, '\0');
  if (!GetData(buf.data())) return false;
  v.assign(buf.data(), strnlen(buf.data(), static_cast<size_t>(size_)));
  return true;
}

AnsiString TStringField::AsString() const {
  AnsiString v;
  return GetValue(v) ? v : AnsiString();
}

void TStringField::SetAsString(const AnsiString& v) {
  std::vector<char> buf(static_cast<size_t>(DataSize()), '\0');
  std::memcpy(buf.data(), v.data(), std::min(v.size(), static_cast<size_t>(size_)));
  SetData(buf.data());
}

int32_t TStringField::AsInteger() const {
  AnsiString s = AsString();
  int32_t v;
  if (!TryStrToInt(Trim(s), v)) DatabaseErrorFmt(dbmsg::InvalidIntegerValue(), {s, DisplayName()});
  return v;
}
void TStringField::SetAsInteger(int32_t v) { SetAsString(IntToStr(v)); }

int64_t TStringField::AsLargeInt() const {
  AnsiString s = AsString();
  int64_t v;
  if (!TryStrToInt64(Trim(s), v)) DatabaseErrorFmt(dbmsg::InvalidIntegerValue(), {s, DisplayName()});
  return v;
}
void TStringField::SetAsLargeInt(int64_t v) { SetAsString(IntToStr(v)); }

double TStringField::AsFloat() const {
  AnsiString s = AsString();
  double v;
  if (!TryStrToFloat(s, v)) DatabaseErrorFmt(dbmsg::InvalidFloatValue(), {s, DisplayName()});
  return v;
}
void TStringField::SetAsFloat(double v) { SetAsString(FloatToStr(v)); }

bool TStringField::AsBoolean() const {
  AnsiString s = AsString();
  char c = s.empty() ? '\0' : s[0];
  if (c == 'T' || c == 't' || c == 'Y' || c == 'y') return true;
  if (c == 'F' || c == 'f' || c == 'N' || c == 'n') return false;
  DatabaseErrorFmt(dbmsg::InvalidBoolValue(), {s, DisplayName()});
}
void TStringField::SetAsBoolean(bool v) { SetAsString(v ? "T" : "F"); }

TDateTime TStringField::AsDateTime() const { return StrToDateTime(AsString()); }
void TStringField::SetAsDateTime(TDateTime v) { SetAsString(DateTimeToStr(v)); }

Variant TStringField::AsVariant() const {
  AnsiString v;
  return GetValue(v) ? Variant(v) : Null();
}

void TStringField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else
    SetAsString(VarToStr(v));
}

TWideStringField::TWideStringField(TComponent* owner) : TStringField(owner) {
  data_type_ = ftWideString;
}

bool TWideStringField::GetWide(WideString& v) const {
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  if (!GetData(buf.data())) return false;
  uint16_t len;
  std::memcpy(&len, buf.data(), 2);
  size_t units = std::min<size_t>(len / 2, static_cast<size_t>(size_));
  v.resize(units);
  if (units > 0) std::memcpy(v.data(), buf.data() + 2, units * 2);
  return true;
}

bool TWideStringField::GetValue(AnsiString& v) const {
  WideString w;
  if (!GetWide(w)) return false;
  v = FromWide(w);
  return true;
}

WideString TWideStringField::AsWideString() const {
  WideString w;
  return GetWide(w) ? w : WideString();
}

void TWideStringField::SetAsWideString(const WideString& v) {
  std::vector<uint8_t> buf(static_cast<size_t>(DataSize()), 0);
  size_t units = std::min(v.size(), static_cast<size_t>(size_));
  uint16_t len = static_cast<uint16_t>(units * 2);
  std::memcpy(buf.data(), &len, 2);
  if (units > 0) std::memcpy(buf.data() + 2, v.data(), units * 2);
  SetData(buf.data());
}

void TWideStringField::SetAsString(const AnsiString& v) { SetAsWideString(ToWide(v)); }

Variant TWideStringField::AsVariant() const {
  WideString w;
  return GetWide(w) ? Variant(w) : Null();
}

TGuidField::TGuidField(TComponent* owner) : TStringField(owner) {
  data_type_ = ftGuid;
  size_ = 38;
}

void TGuidField::SetSize(int32_t v) {
  if (v != 38) DatabaseErrorFmt(CZ("Chybná velikost pro pole '%s', vyžadováno: %d zadáno: %d"),
                                {DisplayName(), "38", IntToStr(v)});
  TField::SetSize(v);
}

// ---------------------------------------------------------------------------------------------
// Numeric fields

TNumericField::TNumericField(TComponent* owner) : TField(owner) { alignment_ = taRightJustify; }

TIntegerField::TIntegerField(TComponent* owner)
    : TIntegerField(owner, ftInteger, std::numeric_limits<int32_t>::min(),
                    std::numeric_limits<int32_t>::max()) {}

TIntegerField::TIntegerField(TComponent* owner, TFieldType type, int32_t min, int32_t max)
    : TNumericField(owner), type_min_(min), type_max_(max) {
  data_type_ = type;
}

TSmallintField::TSmallintField(TComponent* owner)
    : TIntegerField(owner, ftSmallint, -32768, 32767) {}
TWordField::TWordField(TComponent* owner) : TIntegerField(owner, ftWord, 0, 65535) {}
TAutoIncField::TAutoIncField(TComponent* owner)
    : TIntegerField(owner, ftAutoInc, std::numeric_limits<int32_t>::min(),
                    std::numeric_limits<int32_t>::max()) {}

bool TIntegerField::GetValue(int32_t& v) const {
  switch (data_type_) {
    case ftSmallint: {
      int16_t s;
      if (!GetData(&s)) return false;
      v = s;
      return true;
    }
    case ftWord: {
      uint16_t w;
      if (!GetData(&w)) return false;
      v = w;
      return true;
    }
    default:
      return GetData(&v);
  }
}

void TIntegerField::StoreValue(int64_t v) {
  int64_t lo = type_min_, hi = type_max_;
  if (min_value_ != 0 || max_value_ != 0) {
    lo = std::max<int64_t>(lo, min_value_);
    hi = std::min<int64_t>(hi, max_value_);
  }
  if (v < lo || v > hi)
    DatabaseErrorFmt(dbmsg::FieldRangeError(),
                     {IntToStr(v), DisplayName(), IntToStr(lo), IntToStr(hi)});
  switch (data_type_) {
    case ftSmallint: {
      int16_t s = static_cast<int16_t>(v);
      SetData(&s);
      break;
    }
    case ftWord: {
      uint16_t w = static_cast<uint16_t>(v);
      SetData(&w);
      break;
    }
    default: {
      int32_t i = static_cast<int32_t>(v);
      SetData(&i);
    }
  }
}

AnsiString TIntegerField::AsString() const {
  int32_t v;
  return GetValue(v) ? IntToStr(v) : AnsiString();
}

void TIntegerField::GetText(AnsiString& text, bool display_text) const {
  int32_t v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const AnsiString& fmt = display_text || edit_format_.empty() ? display_format_ : edit_format_;
  text = fmt.empty() ? IntToStr(v) : FormatFloat(fmt, v);
}

void TIntegerField::SetAsString(const AnsiString& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  int64_t i;
  if (!TryStrToInt64(Trim(v), i)) DatabaseErrorFmt(dbmsg::InvalidIntegerValue(), {v, DisplayName()});
  StoreValue(i);
}

int32_t TIntegerField::AsInteger() const {
  int32_t v;
  return GetValue(v) ? v : 0;
}
void TIntegerField::SetAsInteger(int32_t v) { StoreValue(v); }
int64_t TIntegerField::AsLargeInt() const { return AsInteger(); }
void TIntegerField::SetAsLargeInt(int64_t v) { StoreValue(v); }
double TIntegerField::AsFloat() const { return AsInteger(); }

void TIntegerField::SetAsFloat(double v) {
  double r = std::nearbyint(v);
  if (!(r >= -9.2e18 && r <= 9.2e18))
    DatabaseErrorFmt(dbmsg::FieldRangeError(),
                     {FloatToStr(v), DisplayName(), IntToStr(type_min_), IntToStr(type_max_)});
  StoreValue(static_cast<int64_t>(r));
}

Variant TIntegerField::AsVariant() const {
  int32_t v;
  return GetValue(v) ? Variant(v) : Null();
}

void TIntegerField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else if (VarIsStr(v))
    SetAsString(VarToStr(v));
  else
    StoreValue(v.AsInt64());
}

TLargeintField::TLargeintField(TComponent* owner) : TNumericField(owner) { data_type_ = ftLargeint; }

bool TLargeintField::GetValue(int64_t& v) const { return GetData(&v); }

AnsiString TLargeintField::AsString() const {
  int64_t v;
  return GetValue(v) ? IntToStr(v) : AnsiString();
}

void TLargeintField::GetText(AnsiString& text, bool display_text) const {
  int64_t v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const AnsiString& fmt = display_text || edit_format_.empty() ? display_format_ : edit_format_;
  text = fmt.empty() ? IntToStr(v) : FormatFloat(fmt, static_cast<long double>(v));
}

void TLargeintField::SetAsString(const AnsiString& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  int64_t i;
  if (!TryStrToInt64(Trim(v), i)) DatabaseErrorFmt(dbmsg::InvalidIntegerValue(), {v, DisplayName()});
  SetData(&i);
}

int32_t TLargeintField::AsInteger() const {
  int64_t v = AsLargeInt();
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    DatabaseErrorFmt(dbmsg::FieldRangeError(),
                     {IntToStr(v), DisplayName(), IntToStr(std::numeric_limits<int32_t>::min()),
                      IntToStr(std::numeric_limits<int32_t>::max())});
  return static_cast<int32_t>(v);
}
void TLargeintField::SetAsInteger(int32_t v) { SetAsLargeInt(v); }
int64_t TLargeintField::AsLargeInt() const {
  int64_t v;
  return GetValue(v) ? v : 0;
}
void TLargeintField::SetAsLargeInt(int64_t v) { SetData(&v); }
double TLargeintField::AsFloat() const { return static_cast<double>(AsLargeInt()); }
void TLargeintField::SetAsFloat(double v) {
  double r = std::nearbyint(v);
  if (!(r >= -9.2e18 && r <= 9.2e18))
    DatabaseErrorFmt(dbmsg::InvalidFloatValue(), {FloatToStr(v), DisplayName()});
  SetAsLargeInt(static_cast<int64_t>(r));
}
Variant TLargeintField::AsVariant() const {
  int64_t v;
  return GetValue(v) ? Variant(static_cast<long long>(v)) : Null();
}
void TLargeintField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else if (VarIsStr(v))
    SetAsString(VarToStr(v));
  else
    SetAsLargeInt(v.AsInt64());
}

TFloatField::TFloatField(TComponent* owner) : TNumericField(owner) { data_type_ = ftFloat; }
TCurrencyField::TCurrencyField(TComponent* owner) : TFloatField(owner) {
  data_type_ = ftCurrency;
  currency_ = true;
}

bool TFloatField::GetValue(double& v) const { return GetData(&v); }

AnsiString TFloatField::AsString() const {
  double v;
  return GetValue(v) ? FloatToStr(v) : AnsiString();
}

void TFloatField::GetText(AnsiString& text, bool display_text) const {
  double v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const AnsiString& fmt = display_text || edit_format_.empty() ? display_format_ : edit_format_;
  if (!fmt.empty())
    text = FormatFloat(fmt, v);
  else if (currency_ && display_text)
    text = FloatToStrF(v, ffCurrency, precision_, FormatSettings().CurrencyDecimals);
  else if (currency_)
    text = FloatToStrF(v, ffFixed, precision_, FormatSettings().CurrencyDecimals);
  else
    text = FloatToStrF(v, ffGeneral, precision_, 0);
}

void TFloatField::SetAsString(const AnsiString& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  double d;
  if (!TryStrToFloat(v, d)) DatabaseErrorFmt(dbmsg::InvalidFloatValue(), {v, DisplayName()});
  SetAsFloat(d);
}

int32_t TFloatField::AsInteger() const {
  double r = std::nearbyint(AsFloat());
  if (!(r >= std::numeric_limits<int32_t>::min() && r <= std::numeric_limits<int32_t>::max()))
    throw EIntOverflow("Integer overflow");
  return static_cast<int32_t>(r);
}
void TFloatField::SetAsInteger(int32_t v) { SetAsFloat(v); }
int64_t TFloatField::AsLargeInt() const {
  double r = std::nearbyint(AsFloat());
  if (!(r >= -9.2e18 && r <= 9.2e18)) throw EIntOverflow("Integer overflow");
  return static_cast<int64_t>(r);
}
void TFloatField::SetAsLargeInt(int64_t v) { SetAsFloat(static_cast<double>(v)); }
double TFloatField::AsFloat() const {
  double v;
  return GetValue(v) ? v : 0.0;
}

void TFloatField::SetAsFloat(double v) {
  if ((min_value_ != 0 || max_value_ != 0) && (v < min_value_ || v > max_value_))
    DatabaseErrorFmt(dbmsg::FieldRangeError(),
                     {FloatToStr(v), DisplayName(), FloatToStr(min_value_), FloatToStr(max_value_)});
  SetData(&v);
}

Currency TFloatField::AsCurrency() const { return Currency(AsFloat()); }
void TFloatField::SetAsCurrency(Currency v) { SetAsFloat(v.ToDouble()); }
Variant TFloatField::AsVariant() const {
  double v;
  return GetValue(v) ? Variant(v) : Null();
}
void TFloatField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else if (VarIsStr(v))
    SetAsString(VarToStr(v));
  else
    SetAsFloat(v.AsDouble());
}

TBCDField::TBCDField(TComponent* owner) : TNumericField(owner) {
  data_type_ = ftBCD;
  size_ = 4;
}

bool TBCDField::GetValue(Currency& v) const { return GetData(&v, false); }

AnsiString TBCDField::AsString() const {
  Currency v;
  return GetValue(v) ? CurrToStr(v) : AnsiString();
}

void TBCDField::GetText(AnsiString& text, bool display_text) const {
  Currency v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const AnsiString& fmt = display_text || edit_format_.empty() ? display_format_ : edit_format_;
  if (!fmt.empty())
    text = FormatCurr(fmt, v);
  else if (currency_ && display_text)
    text = CurrToStrF(v, ffCurrency, FormatSettings().CurrencyDecimals);
  else
    text = CurrToStr(v);
}

void TBCDField::SetAsString(const AnsiString& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  Currency c;
  if (!TryStrToCurr(v, c)) DatabaseErrorFmt(dbmsg::InvalidFloatValue(), {v, DisplayName()});
  SetAsCurrency(c);
}

int32_t TBCDField::AsInteger() const {
  int64_t r = AsCurrency().Round();
  if (r < std::numeric_limits<int32_t>::min() || r > std::numeric_limits<int32_t>::max())
    throw EIntOverflow("Integer overflow");
  return static_cast<int32_t>(r);
}
void TBCDField::SetAsInteger(int32_t v) { SetAsCurrency(Currency(v)); }
int64_t TBCDField::AsLargeInt() const { return AsCurrency().Round(); }
void TBCDField::SetAsLargeInt(int64_t v) { SetAsCurrency(Currency(static_cast<long long>(v))); }
double TBCDField::AsFloat() const { return AsCurrency().ToDouble(); }
void TBCDField::SetAsFloat(double v) { SetAsCurrency(Currency(v)); }
Currency TBCDField::AsCurrency() const {
  Currency v;
  return GetValue(v) ? v : Currency();
}
void TBCDField::SetAsCurrency(Currency v) { SetData(&v, false); }
Variant TBCDField::AsVariant() const {
  Currency v;
  return GetValue(v) ? Variant(v) : Null();
}
void TBCDField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else if (VarIsStr(v))
    SetAsString(VarToStr(v));
  else
    SetAsCurrency(v.AsCurrency());
}

// ---------------------------------------------------------------------------------------------
// Boolean

TBooleanField::TBooleanField(TComponent* owner) : TField(owner) {
  data_type_ = ftBoolean;
  SetDisplayValues("True;False");
}

void TBooleanField::SetDisplayValues(const AnsiString& v) {
  display_values_ = v;
  size_t p = v.find(';');
  if (p == AnsiString::npos) {
    true_text_ = v;
    false_text_.clear();
  } else {
    true_text_ = v.substr(0, p);
    false_text_ = v.substr(p + 1);
  }
}

bool TBooleanField::GetValue(bool& v) const {
  int16_t w;
  if (!GetData(&w)) return false;
  v = w != 0;
  return true;
}

AnsiString TBooleanField::AsString() const {
  bool v;
  return GetValue(v) ? (v ? true_text_ : false_text_) : AnsiString();
}

void TBooleanField::GetText(AnsiString& text, bool) const { text = AsString(); }

void TBooleanField::SetAsString(const AnsiString& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  auto prefix_of = [&](const AnsiString& whole) {
    return v.size() <= whole.size() && AnsiSameText(v, whole.substr(0, v.size()));
  };
  if (prefix_of(false_text_))
    SetAsBoolean(false);
  else if (prefix_of(true_text_))
    SetAsBoolean(true);
  else
    DatabaseErrorFmt(dbmsg::InvalidBoolValue(), {v, DisplayName()});
}

bool TBooleanField::AsBoolean() const {
  bool v;
  return GetValue(v) ? v : false;
}

void TBooleanField::SetAsBoolean(bool v) {
  int16_t w = v ? -1 : 0;
  SetData(&w);
}

int32_t TBooleanField::AsInteger() const { return AsBoolean() ? 1 : 0; }
void TBooleanField::SetAsInteger(int32_t v) { SetAsBoolean(v != 0); }

Variant TBooleanField::AsVariant() const {
  bool v;
  return GetValue(v) ? Variant(v) : Null();
}

void TBooleanField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else if (VarIsStr(v))
    SetAsString(VarToStr(v));
  else
    SetAsBoolean(v.AsBoolean());
}

// ---------------------------------------------------------------------------------------------
// Dates and times

TDateTimeField::TDateTimeField(TComponent* owner) : TDateTimeField(owner, ftDateTime) {}
TDateTimeField::TDateTimeField(TComponent* owner, TFieldType type) : TField(owner) {
  data_type_ = type;
}
TDateField::TDateField(TComponent* owner) : TDateTimeField(owner, ftDate) {}
TTimeField::TTimeField(TComponent* owner) : TDateTimeField(owner, ftTime) {}

bool TDateTimeField::GetValue(TDateTime& v) const { return GetData(&v, false); }

void TDateTimeField::GetText(AnsiString& text, bool display_text) const {
  TDateTime v;
  if (!GetValue(v)) {
    text.clear();
    return;
  }
  const TFormatSettings& fs = FormatSettings();
  if (display_text && !display_format_.empty()) {
    text = FormatDateTime(display_format_, v);
    return;
  }
  switch (data_type_) {
    case ftDate: text = FormatDateTime(fs.ShortDateFormat, v); break;
    case ftTime: text = FormatDateTime(fs.LongTimeFormat, v); break;
    default: {
      text = FormatDateTime(fs.ShortDateFormat, v);
      TDateTime t = std::fabs(v - std::trunc(v));
      if (t != 0) text += " " + FormatDateTime(fs.LongTimeFormat, v);
    }
  }
}

AnsiString TDateTimeField::AsString() const {
  AnsiString text;
  GetText(text, false);
  return text;
}

void TDateTimeField::SetAsString(const AnsiString& v) {
  if (v.empty()) {
    Clear();
    return;
  }
  TDateTime dt;
  bool ok = data_type_ == ftDate   ? TryStrToDate(v, dt)
            : data_type_ == ftTime ? TryStrToTime(v, dt)
                                   : TryStrToDateTime(v, dt);
  if (!ok) DatabaseErrorFmt(dbmsg::InvalidDateTimeValue(), {v, DisplayName()});
  SetAsDateTime(dt);
}

double TDateTimeField::AsFloat() const { return AsDateTime(); }
void TDateTimeField::SetAsFloat(double v) { SetAsDateTime(v); }
TDateTime TDateTimeField::AsDateTime() const {
  TDateTime v;
  return GetValue(v) ? v : 0.0;
}
void TDateTimeField::SetAsDateTime(TDateTime v) { SetData(&v, false); }
Variant TDateTimeField::AsVariant() const {
  TDateTime v;
  return GetValue(v) ? VarFromDateTime(v) : Null();
}
void TDateTimeField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else if (VarIsStr(v))
    SetAsString(VarToStr(v));
  else
    SetAsDateTime(VarToDateTime(v));
}

// ---------------------------------------------------------------------------------------------
// Binary fields

TBinaryField::TBinaryField(TComponent* owner, TFieldType type) : TField(owner) {
  data_type_ = type;
  size_ = 16;
}
TBytesField::TBytesField(TComponent* owner) : TBinaryField(owner, ftBytes) {}
TVarBytesField::TVarBytesField(TComponent* owner) : TBinaryField(owner, ftVarBytes) {}

bool TBinaryField::GetBytes(std::string& bytes) const {
  bytes.assign(static_cast<size_t>(DataSize()), '\0');
  return GetData(bytes.data());
}

void TBinaryField::SetBytes(const std::string& bytes) {
  std::string buf(static_cast<size_t>(DataSize()), '\0');
  std::memcpy(buf.data(), bytes.data(), std::min(bytes.size(), buf.size()));
  SetData(buf.data());
}

bool TVarBytesField::GetBytes(std::string& bytes) const {
  std::string buf(static_cast<size_t>(DataSize()), '\0');
  if (!GetData(buf.data())) return false;
  uint16_t len;
  std::memcpy(&len, buf.data(), 2);
  len = static_cast<uint16_t>(std::min<int32_t>(len, size_));
  bytes.assign(buf.data() + 2, len);
  return true;
}

void TVarBytesField::SetBytes(const std::string& bytes) {
  std::string buf(static_cast<size_t>(DataSize()), '\0');
  uint16_t len = static_cast<uint16_t>(std::min(bytes.size(), static_cast<size_t>(size_)));
  std::memcpy(buf.data(), &len, 2);
  std::memcpy(buf.data() + 2, bytes.data(), len);
  SetData(buf.data());
}

AnsiString TBinaryField::AsString() const {
  std::string b;
  return GetBytes(b) ? b : AnsiString();
}
void TBinaryField::SetAsString(const AnsiString& v) { SetBytes(v); }
Variant TBinaryField::AsVariant() const {
  std::string b;
  return GetBytes(b) ? Variant(b) : Null();
}
void TBinaryField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else
    SetBytes(VarToStr(v));
}

// ---------------------------------------------------------------------------------------------
// Blob fields

TBlobField::TBlobField(TComponent* owner) : TBlobField(owner, ftBlob) {}
TBlobField::TBlobField(TComponent* owner, TFieldType type) : TField(owner) { data_type_ = type; }
TMemoField::TMemoField(TComponent* owner) : TBlobField(owner, ftMemo) {}
TGraphicField::TGraphicField(TComponent* owner) : TBlobField(owner, ftGraphic) {}

AnsiString TBlobField::AsString() const {
  if (dataset_ == nullptr) DatabaseErrorFmt(dbmsg::DataSetMissing(), {DisplayName()});
  std::unique_ptr<TStream> s = dataset_->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  if (!s) return AnsiString();
  int64_t size = s->Size();
  AnsiString out(static_cast<size_t>(size), '\0');
  if (size > 0) s->ReadBuffer(out.data(), size);
  return out;
}

void TBlobField::SetAsString(const AnsiString& v) {
  if (dataset_ == nullptr) DatabaseErrorFmt(dbmsg::DataSetMissing(), {DisplayName()});
  std::unique_ptr<TStream> s = dataset_->CreateBlobStream(this, bmWrite);
  if (!s) return;
  // A write of no bytes tells the stream that the value is empty rather than null.
  if (v.empty())
    s->Write(v.data(), 0);
  else
    s->WriteBuffer(v.data(), static_cast<int64_t>(v.size()));
}

void TBlobField::Clear() {
  if (dataset_ == nullptr) DatabaseErrorFmt(dbmsg::DataSetMissing(), {DisplayName()});
  dataset_->CreateBlobStream(this, bmWrite);
}

int32_t TBlobField::BlobSize() const {
  if (dataset_ == nullptr) return 0;
  std::unique_ptr<TStream> s = dataset_->CreateBlobStream(const_cast<TBlobField*>(this), bmRead);
  return s ? static_cast<int32_t>(s->Size()) : 0;
}

Variant TBlobField::AsVariant() const {
  if (IsNull()) return Null();
  return Variant(AsString());
}

void TBlobField::SetAsVariant(const Variant& v) {
  if (VarIsNullOrEmpty(v))
    Clear();
  else
    SetAsString(VarToStr(v));
}

void TBlobField::LoadFromStream(TStream& stream) {
  std::unique_ptr<TStream> s = dataset_->CreateBlobStream(this, bmWrite);
  if (s) {
    stream.SetPosition(0);
    s->CopyFrom(stream, 0);
  }
}

void TBlobField::SaveToStream(TStream& stream) const {
  AnsiString data = AsString();
  if (!data.empty()) stream.WriteBuffer(data.data(), static_cast<int64_t>(data.size()));
}

void TBlobField::LoadFromFile(const AnsiString& file_name) {
  TFileStream f(file_name, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TBlobField::SaveToFile(const AnsiString& file_name) const {
  TFileStream f(file_name, fmCreate);
  SaveToStream(f);
}

void TBlobField::GetText(AnsiString& text, bool display_text) const {
  if (data_type_ == ftMemo && !display_text) {
    text = AsString();
    return;
  }
  text = "(" + FieldTypeName(data_type_) + ")";
  if (!IsNull()) text = UpperCase(text);
}

// ---------------------------------------------------------------------------------------------
// Variant fields

TVariantField::TVariantField(TComponent* owner) : TField(owner) { data_type_ = ftVariant; }

Variant TVariantField::AsVariant() const {
  Variant v;
  if (!GetData(&v)) return Null();
  return v;
}
void TVariantField::SetAsVariant(const Variant& v) {
  if (VarIsNull(v) || VarIsEmpty(v))
    SetData(nullptr);
  else
    SetData(&v);
}
AnsiString TVariantField::AsString() const { return VarToStr(AsVariant()); }
void TVariantField::SetAsString(const AnsiString& v) { SetAsVariant(Variant(v)); }
int32_t TVariantField::AsInteger() const {
  Variant v = AsVariant();
  return VarIsNull(v) ? 0 : v.AsInteger();
}
void TVariantField::SetAsInteger(int32_t v) { SetAsVariant(Variant(v)); }
double TVariantField::AsFloat() const {
  Variant v = AsVariant();
  return VarIsNull(v) ? 0.0 : v.AsDouble();
}
void TVariantField::SetAsFloat(double v) { SetAsVariant(Variant(v)); }
bool TVariantField::AsBoolean() const {
  Variant v = AsVariant();
  return VarIsNull(v) ? false : v.AsBoolean();
}
void TVariantField::SetAsBoolean(bool v) { SetAsVariant(Variant(v)); }
TDateTime TVariantField::AsDateTime() const {
  Variant v = AsVariant();
  return VarIsNull(v) ? 0.0 : v.AsDateTime();
}
void TVariantField::SetAsDateTime(TDateTime v) { SetAsVariant(VarFromDateTime(v)); }

// ---------------------------------------------------------------------------------------------
// Field classes

TFieldFactory DefaultFieldClass(TFieldType type) {
  switch (type) {
    case ftString: return [](TComponent* o) -> TField* { return new TStringField(o); };
    case ftFixedChar:
      return [](TComponent* o) -> TField* {
        auto* f = new TStringField(o);
        f->SetFixedChar(true);
        return f;
      };
    case ftWideString: return [](TComponent* o) -> TField* { return new TWideStringField(o); };
    case ftGuid: return [](TComponent* o) -> TField* { return new TGuidField(o); };
    case ftSmallint: return [](TComponent* o) -> TField* { return new TSmallintField(o); };
    case ftInteger: return [](TComponent* o) -> TField* { return new TIntegerField(o); };
    case ftWord: return [](TComponent* o) -> TField* { return new TWordField(o); };
    case ftAutoInc: return [](TComponent* o) -> TField* { return new TAutoIncField(o); };
    case ftLargeint: return [](TComponent* o) -> TField* { return new TLargeintField(o); };
    case ftBoolean: return [](TComponent* o) -> TField* { return new TBooleanField(o); };
    case ftFloat: return [](TComponent* o) -> TField* { return new TFloatField(o); };
    case ftCurrency: return [](TComponent* o) -> TField* { return new TCurrencyField(o); };
    case ftBCD: return [](TComponent* o) -> TField* { return new TBCDField(o); };
    case ftDate: return [](TComponent* o) -> TField* { return new TDateField(o); };
    case ftTime: return [](TComponent* o) -> TField* { return new TTimeField(o); };
    case ftDateTime: return [](TComponent* o) -> TField* { return new TDateTimeField(o); };
    case ftBytes: return [](TComponent* o) -> TField* { return new TBytesField(o); };
    case ftVarBytes: return [](TComponent* o) -> TField* { return new TVarBytesField(o); };
    case ftBlob: case ftTypedBinary: case ftParadoxOle: case ftDBaseOle: case ftOraBlob:
      return [type](TComponent* o) -> TField* {
        auto* f = new TBlobField(o);
        f->SetBlobType(type);
        return f;
      };
    case ftMemo: case ftFmtMemo: case ftOraClob:
      return [type](TComponent* o) -> TField* {
        auto* f = new TMemoField(o);
        f->SetBlobType(type);
        return f;
      };
    case ftGraphic: return [](TComponent* o) -> TField* { return new TGraphicField(o); };
    case ftVariant: return [](TComponent* o) -> TField* { return new TVariantField(o); };
    default: return nullptr;
  }
}

}  // namespace pelvar
