// The framework's generic dataset model: datasets with their states, the ring of record
// buffers and the protected contract a concrete dataset implements; typed field objects;
// field, index and parameter definitions; data sources and data links.
//
// Native field buffers (what GetFieldData / SetFieldData move):
//   ftString, ftFixedChar, ftGuid  zero-terminated bytes, Size + 1
//   ftWideString                   16-bit byte length, then the UTF-16 code units (2 * Size + 2)
//   ftSmallint int16, ftWord uint16, ftBoolean int16 (0 False, else True),
//   ftInteger, ftAutoInc int32, ftLargeint int64, ftFloat, ftCurrency double,
//   ftBCD                          TBcd (34 bytes)
//   ftDate                         int32 day number, day 1 = 1 January of year 1
//   ftTime                         int32 milliseconds since midnight
//   ftDateTime                     double milliseconds: day number * 86,400,000 + milliseconds
//   ftBytes                        Size bytes; ftVarBytes: 16-bit length, then Size bytes
//   ftVariant                      a Variant object
// The non-native form (GetFieldData with NativeFormat false) of the date and time types is a
// TDateTime (double) and that of ftBCD a Currency; DataConvert converts between the two.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/classes.h"
#include "platform/currency.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/types.h"
#include "platform/variant.h"

namespace pelvar {

class TDataSet;
class TField;
class TDataSource;
class TDataLink;
class TFieldDefs;

// ---------------------------------------------------------------------------------------------
// Enumerations

enum TFieldType {
  ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
  ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
  ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
  ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
  ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd
};
// The framework's name of a field type ("String", "Integer", ...).
AnsiString FieldTypeName(TFieldType type);
// Blob types: ftBlob .. ftTypedBinary, ftOraBlob, ftOraClob.
bool IsBlobType(TFieldType type);

enum TDataSetState {
  dsInactive, dsBrowse, dsEdit, dsInsert, dsSetKey, dsCalcFields, dsFilter, dsNewValue,
  dsOldValue, dsCurValue, dsBlockRead, dsInternalCalc, dsOpening
};

enum TDataEvent {
  deFieldChange, deRecordChange, deDataSetChange, deDataSetScroll, deLayoutChange,
  deUpdateRecord, deUpdateState, deCheckBrowseMode, dePropertyChange, deFieldListChange,
  deFocusControl, deParentScroll, deConnectChange, deReconcileError, deDisabledStateChange
};

enum TFieldKind { fkData, fkCalculated, fkLookup, fkInternalCalc, fkAggregate };
enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };
enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
enum TDataAction { daFail, daAbort, daRetry };
enum TUpdateStatus { usUnmodified, usModified, usInserted, usDeleted };

enum TLocateOption { loCaseInsensitive, loPartialKey };
using TLocateOptions = TEnumSet<TLocateOption>;

enum TResyncModeFlag { rmExact, rmCenter };
using TResyncMode = TEnumSet<TResyncModeFlag>;

enum TFilterOption { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = TEnumSet<TFilterOption>;

enum TFieldAttribute { faHiddenCol, faReadonly, faRequired, faLink, faUnNamed, faFixed };
using TFieldAttributes = TEnumSet<TFieldAttribute>;

enum TProviderFlag { pfInUpdate, pfInWhere, pfInKey, pfHidden };
using TProviderFlags = TEnumSet<TProviderFlag>;

enum TIndexOption {
  ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression, ixNonMaintained
};
using TIndexOptions = TEnumSet<TIndexOption>;

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// A record buffer of the ring (the dataset decides its layout).
using TRecordBuffer = uint8_t*;
// A bookmark: the dataset's bookmark bytes; empty means none.
using TBookmark = std::string;
using TBookmarkStr = std::string;

// ---------------------------------------------------------------------------------------------
// Binary-coded decimal, the native form of a BCD field: Precision digits, of which the low six
// bits of SignSpecialPlaces count the decimals; bit 7 is the sign; Fraction holds the digits as
// nibbles, most significant first.
struct TBcd {
  uint8_t Precision = 0;
  uint8_t SignSpecialPlaces = 0;
  uint8_t Fraction[32] = {};
};
static_assert(sizeof(TBcd) == 34);

TBcd CurrToBCD(Currency value, int precision = 32, int decimals = 4);
// Raises EOverflow when the value does not fit a Currency.
Currency BCDToCurr(const TBcd& bcd);

// The framework's time stamp: day 1 = 1 January of year 1, milliseconds of the day.
struct TTimeStamp {
  int32_t Time = 0;
  int32_t Date = 0;
};
TTimeStamp DateTimeToTimeStamp(TDateTime value);
TDateTime TimeStampToDateTime(const TTimeStamp& value);
TTimeStamp MSecsToTimeStamp(double msecs);
double TimeStampToMSecs(const TTimeStamp& value);

// ---------------------------------------------------------------------------------------------
// Errors

// Raises EDatabaseError with message; when component has a name the message starts with
// that name and ": ".
[[noreturn]] void DatabaseError(const AnsiString& message, const TComponent* component = nullptr);
// The same with the message's "%s" and "%d" replaced by args in order.
[[noreturn]] void DatabaseErrorFmt(const AnsiString& message,
                                   std::initializer_list<AnsiString> args,
                                   const TComponent* component = nullptr);
// message with its "%s" / "%d" markers replaced by args in order.
AnsiString FormatDbMessage(const AnsiString& message, std::initializer_list<AnsiString> args);

// The framework's message texts (Windows-1250).
namespace dbmsg {
AnsiString NotEditing();          // "Dataset není v editovacím nebo vkládacím módu"
AnsiString FieldReadOnly();       // "Pole '%s' nelze modifikovat"
AnsiString DataSetClosed();
AnsiString DataSetOpen();
AnsiString DataSetEmpty();
AnsiString DataSetReadOnly();
AnsiString FieldNotFound();       // "Pole '%s' nenalezeno"
AnsiString FieldRequired();
AnsiString RecordNotFound();
AnsiString CircularDataLink();    // "Kruhové datalinky nejsou povoleny"
AnsiString FieldAccessError();
AnsiString InvalidIntegerValue();
AnsiString InvalidFloatValue();
AnsiString InvalidBoolValue();
AnsiString InvalidDateTimeValue();
AnsiString FieldRangeError();
AnsiString FieldTypeMismatch();
AnsiString FieldSizeMismatch();   // "Chybná velikost pro pole '%s', vyžadováno: %d zadáno: %d"
AnsiString DuplicateFieldName();
AnsiString ParameterNotFound();
AnsiString IndexNotFound();
AnsiString FieldIndexError();
AnsiString NotBrowsing();
AnsiString DataSetMissing();
AnsiString FieldDefNotFound();
}  // namespace dbmsg

// ---------------------------------------------------------------------------------------------
// Field definitions

class TFieldDef {
 public:
  TFieldDef(TFieldDefs* owner, const AnsiString& name, TFieldType type, int32_t size,
            bool required, int32_t field_no);

  const AnsiString& Name() const { return name_; }
  void SetName(const AnsiString& v) { name_ = v; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType v) { data_type_ = v; }
  int32_t Size() const { return size_; }
  void SetSize(int32_t v) { size_ = v; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t v) { precision_ = v; }
  bool Required() const { return attributes_.Contains(faRequired); }
  void SetRequired(bool v);
  TFieldAttributes Attributes() const { return attributes_; }
  void SetAttributes(TFieldAttributes v) { attributes_ = v; }
  int32_t FieldNo() const { return field_no_; }
  void SetFieldNo(int32_t v) { field_no_ = v; }
  int32_t Index() const;
  TFieldDefs* Collection() const { return owner_; }
  // Makes a field object of the dataset's class for this type, owned by owner, bound to
  // the definitions' dataset.
  TField* CreateField(TComponent* owner);
  // Only ADT and array definitions have children; kept for completeness.
  TFieldDefs* ChildDefs();
  bool HasChildDefs() const;

 private:
  TFieldDefs* owner_;
  AnsiString name_;
  TFieldType data_type_;
  int32_t size_;
  int32_t precision_ = 0;
  TFieldAttributes attributes_;
  int32_t field_no_;
  std::unique_ptr<TFieldDefs> child_defs_;
};

class TFieldDefs {
 public:
  explicit TFieldDefs(TDataSet* dataset);
  ~TFieldDefs();
  TFieldDefs(const TFieldDefs&) = delete;
  TFieldDefs& operator=(const TFieldDefs&) = delete;

  TDataSet* DataSet() const { return dataset_; }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TFieldDef* Items(int32_t index) const;
  TFieldDef* operator[](int32_t index) const { return Items(index); }
  // Adds a definition numbered Count + 1.
  TFieldDef* Add(const AnsiString& name, TFieldType type, int32_t size = 0, bool required = false);
  TFieldDef* AddFieldDef();
  void Delete(int32_t index);
  void Clear();
  // Case-insensitive; nullptr when missing / raises "Pole '%s' nenalezeno" for Find.
  int32_t IndexOf(const AnsiString& name) const;
  TFieldDef* FindDef(const AnsiString& name) const;
  TFieldDef* Find(const AnsiString& name) const;
  void Assign(const TFieldDefs& source);
  // Asks the dataset to bring the definitions up to date (unless they are).
  void Update();
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }
  bool HiddenFields() const { return hidden_fields_; }
  void SetHiddenFields(bool v) { hidden_fields_ = v; }
  void BeginUpdate() { ++update_count_; }
  void EndUpdate();

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TFieldDef>> items_;
  bool updated_ = false;
  bool hidden_fields_ = false;
  int update_count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// Index definitions

class TIndexDefs;

class TIndexDef {
 public:
  TIndexDef(TIndexDefs* owner, const AnsiString& name, const AnsiString& fields,
            TIndexOptions options);
  const AnsiString& Name() const { return name_; }
  void SetName(const AnsiString& v) { name_ = v; }
  const AnsiString& Fields() const { return fields_; }
  void SetFields(const AnsiString& v) { fields_ = v; }
  TIndexOptions Options() const { return options_; }
  void SetOptions(TIndexOptions v) { options_ = v; }
  const AnsiString& DescFields() const { return desc_fields_; }
  void SetDescFields(const AnsiString& v) { desc_fields_ = v; }
  const AnsiString& CaseInsFields() const { return case_ins_fields_; }
  void SetCaseInsFields(const AnsiString& v) { case_ins_fields_ = v; }
  const AnsiString& Expression() const { return expression_; }
  void SetExpression(const AnsiString& v) { expression_ = v; }
  const AnsiString& Source() const { return source_; }
  void SetSource(const AnsiString& v) { source_ = v; }
  void Assign(const TIndexDef& source);
  TIndexDefs* Collection() const { return owner_; }

 private:
  TIndexDefs* owner_;
  AnsiString name_, fields_, desc_fields_, case_ins_fields_, expression_, source_;
  TIndexOptions options_;
};

class TIndexDefs {
 public:
  explicit TIndexDefs(TDataSet* dataset);
  ~TIndexDefs();
  TIndexDefs(const TIndexDefs&) = delete;
  TIndexDefs& operator=(const TIndexDefs&) = delete;

  TDataSet* DataSet() const { return dataset_; }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TIndexDef* Items(int32_t index) const;
  TIndexDef* operator[](int32_t index) const { return Items(index); }
  TIndexDef* Add(const AnsiString& name, const AnsiString& fields, TIndexOptions options);
  TIndexDef* AddIndexDef();
  void Delete(int32_t index);
  void Clear();
  int32_t IndexOf(const AnsiString& name) const;
  TIndexDef* FindIndexForFields(const AnsiString& fields) const;
  // Raises "Index '%s' nenalezen" when missing.
  TIndexDef* Find(const AnsiString& name) const;
  void Assign(const TIndexDefs& source);
  // Asks the dataset to bring the definitions up to date.
  void Update();
  bool Updated() const { return updated_; }
  void SetUpdated(bool v) { updated_ = v; }

 private:
  TDataSet* dataset_;
  std::vector<std::unique_ptr<TIndexDef>> items_;
  bool updated_ = false;
};

// ---------------------------------------------------------------------------------------------
// Fields

using TFieldNotifyEvent = std::function<void(TField* sender)>;
using TFieldGetTextEvent = std::function<void(TField* sender, AnsiString& text, bool display_text)>;
using TFieldSetTextEvent = std::function<void(TField* sender, const AnsiString& text)>;

class TField : public TComponent {
 public:
  explicit TField(TComponent* owner);
  ~TField() override;

  // Identity and layout.
  TDataSet* DataSet() const { return dataset_; }
  // Adds the field to the dataset's field list (the dataset must be closed).
  void SetDataSet(TDataSet* dataset);
  const AnsiString& FieldName() const { return field_name_; }
  void SetFieldName(const AnsiString& name);
  AnsiString FullName() const { return field_name_; }
  AnsiString DisplayLabel() const { return display_label_.empty() ? field_name_ : display_label_; }
  void SetDisplayLabel(const AnsiString& v) { display_label_ = v; }
  AnsiString DisplayName() const { return DisplayLabel(); }
  TFieldType DataType() const { return data_type_; }
  TFieldKind FieldKind() const { return field_kind_; }
  void SetFieldKind(TFieldKind v);
  bool Calculated() const { return field_kind_ == fkCalculated; }
  bool Lookup() const { return field_kind_ == fkLookup; }
  int32_t FieldNo() const { return field_no_; }
  int32_t Size() const { return size_; }
  virtual void SetSize(int32_t v);
  // Bytes of the native buffer.
  virtual int32_t DataSize() const;
  // Calculated fields: the place of its "has value" byte in the calculated area; blob
  // fields: the number of the blob field among the dataset's blob fields.
  int32_t Offset() const { return offset_; }
  int32_t Index() const;
  void SetIndex(int32_t index);
  bool Required() const { return required_; }
  void SetRequired(bool v) { required_ = v; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool v) { read_only_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  const AnsiString& EditMask() const { return edit_mask_; }
  void SetEditMask(const AnsiString& v) { edit_mask_ = v; }
  const AnsiString& Origin() const { return origin_; }
  void SetOrigin(const AnsiString& v) { origin_ = v; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment v) { alignment_ = v; }
  int32_t DisplayWidth() const { return display_width_ > 0 ? display_width_ : size_; }
  void SetDisplayWidth(int32_t v) { display_width_ = v; }
  TProviderFlags ProviderFlags() const { return provider_flags_; }
  void SetProviderFlags(TProviderFlags v) { provider_flags_ = v; }
  bool IsIndexField() const;
  virtual bool IsBlob() const { return false; }
  bool CanModify() const;
  // Lookup definition (kept for the field's definition; the base dataset does not look up).
  AnsiString KeyFields, LookupKeyFields, LookupResultField;
  TDataSet* LookupDataSet = nullptr;

  // Values. A field without a value (IsNull) reads as an empty text, 0, False and Null.
  virtual bool IsNull() const;
  virtual void Clear();
  virtual AnsiString AsString() const;
  virtual void SetAsString(const AnsiString& v);
  virtual int32_t AsInteger() const;
  virtual void SetAsInteger(int32_t v);
  virtual int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(int64_t v);
  virtual double AsFloat() const;
  virtual void SetAsFloat(double v);
  virtual Currency AsCurrency() const;
  virtual void SetAsCurrency(Currency v);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool v);
  virtual TDateTime AsDateTime() const;
  virtual void SetAsDateTime(TDateTime v);
  virtual Variant AsVariant() const;
  virtual void SetAsVariant(const Variant& v);
  Variant Value() const { return AsVariant(); }
  void SetValue(const Variant& v) { SetAsVariant(v); }
  // The value in the old-value, new-value and current-value states of the dataset.
  Variant OldValue() const;
  Variant NewValue() const;
  void SetNewValue(const Variant& v);
  Variant CurValue() const;
  // Display and edit texts (OnGetText / OnSetText take over when assigned).
  AnsiString DisplayText() const;
  AnsiString Text() const;
  void SetText(const AnsiString& v);
  // Copies another field's value (Null clears).
  void AssignValue(const TField* source);

  // Raw access to the native (or non-native) buffer through the dataset.
  bool GetData(void* buffer, bool native_format = true) const;
  void SetData(const void* buffer, bool native_format = true);
  // Runs OnValidate with buffer as the field's pending value.
  virtual void Validate(const void* buffer);
  // Fires OnChange.
  virtual void Change();
  void FocusControl();

  TFieldNotifyEvent OnChange;
  TFieldNotifyEvent OnValidate;
  TFieldGetTextEvent OnGetText;
  TFieldSetTextEvent OnSetText;

 protected:
  friend class TDataSet;
  friend class TFieldDef;
  void SetDataType(TFieldType t) { data_type_ = t; }
  virtual void GetText(AnsiString& text, bool display_text) const;
  virtual void SetTextImpl(const AnsiString& text);
  // Raises "Nelze zpřístupnit pole '%s' jako typ %s".
  [[noreturn]] void AccessError(const AnsiString& type_name) const;
  void CheckInactive() const;
  virtual void Bind(bool binding) { (void)binding; }
  // The dataset in the temporary state st, then restored.
  Variant ValueInState(TDataSetState st) const;

  TDataSet* dataset_ = nullptr;
  AnsiString field_name_;
  AnsiString display_label_;
  AnsiString edit_mask_;
  AnsiString origin_;
  TFieldType data_type_ = ftUnknown;
  TFieldKind field_kind_ = fkData;
  int32_t field_no_ = 0;
  int32_t size_ = 0;
  int32_t offset_ = 0;
  int32_t display_width_ = 0;
  TAlignment alignment_ = taLeftJustify;
  TProviderFlags provider_flags_{pfInWhere, pfInUpdate};
  bool required_ = false;
  bool read_only_ = false;
  bool visible_ = true;
  // Pending value while OnValidate runs (native form).
  const void* value_buffer_ = nullptr;
  bool validating_ = false;
};

class TStringField : public TField {
 public:
  explicit TStringField(TComponent* owner);
  int32_t DataSize() const override { return size_ + 1; }
  bool FixedChar() const { return fixed_char_; }
  void SetFixedChar(bool v);
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t v) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t v) override;
  double AsFloat() const override;
  void SetAsFloat(double v) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool v) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  // The stored text; false when the field is null.
  virtual bool GetValue(AnsiString& v) const;
  bool fixed_char_ = false;
};

class TWideStringField : public TStringField {
 public:
  explicit TWideStringField(TComponent* owner);
  int32_t DataSize() const override { return 2 * size_ + 2; }
  WideString AsWideString() const;
  void SetAsWideString(const WideString& v);
  void SetAsString(const AnsiString& v) override;
  Variant AsVariant() const override;

 protected:
  bool GetValue(AnsiString& v) const override;
  bool GetWide(WideString& v) const;
};

class TGuidField : public TStringField {
 public:
  explicit TGuidField(TComponent* owner);
  void SetSize(int32_t v) override;
};

class TNumericField : public TField {
 public:
  explicit TNumericField(TComponent* owner);
  const AnsiString& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(const AnsiString& v) { display_format_ = v; }
  const AnsiString& EditFormat() const { return edit_format_; }
  void SetEditFormat(const AnsiString& v) { edit_format_ = v; }

 protected:
  AnsiString display_format_;
  AnsiString edit_format_;
};

class TIntegerField : public TNumericField {
 public:
  explicit TIntegerField(TComponent* owner);
  int32_t DataSize() const override { return 4; }
  int32_t MinValue() const { return min_value_; }
  void SetMinValue(int32_t v) { min_value_ = v; }
  int32_t MaxValue() const { return max_value_; }
  void SetMaxValue(int32_t v) { max_value_ = v; }
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t v) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t v) override;
  double AsFloat() const override;
  void SetAsFloat(double v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  TIntegerField(TComponent* owner, TFieldType type, int32_t min, int32_t max);
  void GetText(AnsiString& text, bool display_text) const override;
  bool GetValue(int32_t& v) const;
  // Checks the range (when MinValue or MaxValue is set, or the type's own) and stores.
  void StoreValue(int64_t v);
  int32_t min_value_ = 0;
  int32_t max_value_ = 0;
  int64_t type_min_;
  int64_t type_max_;
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(TComponent* owner);
  int32_t DataSize() const override { return 2; }
};

class TWordField : public TIntegerField {
 public:
  explicit TWordField(TComponent* owner);
  int32_t DataSize() const override { return 2; }
};

class TAutoIncField : public TIntegerField {
 public:
  explicit TAutoIncField(TComponent* owner);
};

class TLargeintField : public TNumericField {
 public:
  explicit TLargeintField(TComponent* owner);
  int32_t DataSize() const override { return 8; }
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t v) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t v) override;
  double AsFloat() const override;
  void SetAsFloat(double v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  void GetText(AnsiString& text, bool display_text) const override;
  bool GetValue(int64_t& v) const;
};

class TFloatField : public TNumericField {
 public:
  explicit TFloatField(TComponent* owner);
  int32_t DataSize() const override { return 8; }
  bool IsCurrency() const { return currency_; }
  void SetCurrency(bool v) { currency_ = v; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t v) { precision_ = v < 2 ? 2 : (v > 15 ? 15 : v); }
  double MinValue() const { return min_value_; }
  void SetMinValue(double v) { min_value_ = v; }
  double MaxValue() const { return max_value_; }
  void SetMaxValue(double v) { max_value_ = v; }
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t v) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t v) override;
  double AsFloat() const override;
  void SetAsFloat(double v) override;
  Currency AsCurrency() const override;
  void SetAsCurrency(Currency v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  void GetText(AnsiString& text, bool display_text) const override;
  bool GetValue(double& v) const;
  bool currency_ = false;
  int32_t precision_ = 15;
  double min_value_ = 0;
  double max_value_ = 0;
};

class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(TComponent* owner);
};

class TBCDField : public TNumericField {
 public:
  explicit TBCDField(TComponent* owner);
  int32_t DataSize() const override { return sizeof(TBcd); }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t v) { precision_ = v; }
  bool IsCurrency() const { return currency_; }
  void SetCurrency(bool v) { currency_ = v; }
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t v) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t v) override;
  double AsFloat() const override;
  void SetAsFloat(double v) override;
  Currency AsCurrency() const override;
  void SetAsCurrency(Currency v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  void GetText(AnsiString& text, bool display_text) const override;
  bool GetValue(Currency& v) const;
  int32_t precision_ = 0;
  bool currency_ = false;
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(TComponent* owner);
  int32_t DataSize() const override { return 2; }
  // "True text;False text".
  const AnsiString& DisplayValues() const { return display_values_; }
  void SetDisplayValues(const AnsiString& v);
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool v) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  void GetText(AnsiString& text, bool display_text) const override;
  bool GetValue(bool& v) const;
  AnsiString display_values_;
  AnsiString true_text_ = "True";
  AnsiString false_text_ = "False";
};

class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(TComponent* owner);
  int32_t DataSize() const override { return 8; }
  const AnsiString& DisplayFormat() const { return display_format_; }
  void SetDisplayFormat(const AnsiString& v) { display_format_ = v; }
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  double AsFloat() const override;
  void SetAsFloat(double v) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  TDateTimeField(TComponent* owner, TFieldType type);
  void GetText(AnsiString& text, bool display_text) const override;
  bool GetValue(TDateTime& v) const;
  AnsiString display_format_;
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(TComponent* owner);
  int32_t DataSize() const override { return 4; }
};

class TTimeField : public TDateTimeField {
 public:
  explicit TTimeField(TComponent* owner);
  int32_t DataSize() const override { return 4; }
};

class TBinaryField : public TField {
 public:
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;

 protected:
  TBinaryField(TComponent* owner, TFieldType type);
  // The bytes of the value; false when null.
  virtual bool GetBytes(std::string& bytes) const;
  virtual void SetBytes(const std::string& bytes);
};

class TBytesField : public TBinaryField {
 public:
  explicit TBytesField(TComponent* owner);
  int32_t DataSize() const override { return size_; }
};

class TVarBytesField : public TBinaryField {
 public:
  explicit TVarBytesField(TComponent* owner);
  int32_t DataSize() const override { return size_ + 2; }

 protected:
  bool GetBytes(std::string& bytes) const override;
  void SetBytes(const std::string& bytes) override;
};

class TBlobField : public TField {
 public:
  explicit TBlobField(TComponent* owner);
  int32_t DataSize() const override { return 0; }
  bool IsBlob() const override { return true; }
  TFieldType BlobType() const { return data_type_; }
  void SetBlobType(TFieldType t) { data_type_ = t; }
  // Set by blob streams that wrote the field.
  bool Modified() const { return modified_; }
  void SetModified(bool v) { modified_ = v; }
  int32_t BlobSize() const;
  void Clear() override;
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const AnsiString& file_name);
  void SaveToFile(const AnsiString& file_name) const;

 protected:
  TBlobField(TComponent* owner, TFieldType type);
  void GetText(AnsiString& text, bool display_text) const override;
  bool modified_ = false;
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(TComponent* owner);
};

class TGraphicField : public TBlobField {
 public:
  explicit TGraphicField(TComponent* owner);
};

class TVariantField : public TField {
 public:
  explicit TVariantField(TComponent* owner);
  int32_t DataSize() const override { return static_cast<int32_t>(sizeof(Variant)); }
  AnsiString AsString() const override;
  void SetAsString(const AnsiString& v) override;
  int32_t AsInteger() const override;
  void SetAsInteger(int32_t v) override;
  double AsFloat() const override;
  void SetAsFloat(double v) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool v) override;
  TDateTime AsDateTime() const override;
  void SetAsDateTime(TDateTime v) override;
  Variant AsVariant() const override;
  void SetAsVariant(const Variant& v) override;
};

// The field class the framework makes for a type (nullptr for types without one).
using TFieldFactory = std::function<TField*(TComponent* owner)>;
TFieldFactory DefaultFieldClass(TFieldType type);

// ---------------------------------------------------------------------------------------------
// Parameters

class TParams;

class TParam {
 public:
  explicit TParam(TParams* owner = nullptr, TParamType type = ptUnknown);

  const AnsiString& Name() const { return name_; }
  void SetName(const AnsiString& v) { name_ = v; }
  TFieldType DataType() const { return data_type_; }
  void SetDataType(TFieldType v);
  TParamType ParamType() const { return param_type_; }
  void SetParamType(TParamType v) { param_type_ = v; }
  bool Bound() const { return bound_; }
  void SetBound(bool v) { bound_ = v; }
  int32_t Precision() const { return precision_; }
  void SetPrecision(int32_t v) { precision_ = v; }
  int32_t NumericScale() const { return numeric_scale_; }
  void SetNumericScale(int32_t v) { numeric_scale_ = v; }
  int32_t Size() const { return size_; }
  void SetSize(int32_t v) { size_ = v; }
  int32_t Index() const;
  TParams* Collection() const { return owner_; }
  // Moves the parameter within its collection.
  void SetIndex(int32_t index);

  bool IsNull() const;
  void Clear();
  // Sets the value; a parameter of type ftUnknown takes its type from the value.
  Variant Value() const { return value_; }
  void SetValue(const Variant& v);
  AnsiString AsString() const;
  void SetAsString(const AnsiString& v);
  int32_t AsInteger() const;
  void SetAsInteger(int32_t v);
  int16_t AsSmallInt() const { return static_cast<int16_t>(AsInteger()); }
  void SetAsSmallInt(int32_t v);
  uint16_t AsWord() const { return static_cast<uint16_t>(AsInteger()); }
  void SetAsWord(int32_t v);
  int64_t AsLargeInt() const;
  void SetAsLargeInt(int64_t v);
  double AsFloat() const;
  void SetAsFloat(double v);
  Currency AsCurrency() const;
  void SetAsCurrency(Currency v);
  Currency AsBCD() const { return AsCurrency(); }
  void SetAsBCD(Currency v);
  bool AsBoolean() const;
  void SetAsBoolean(bool v);
  TDateTime AsDateTime() const;
  void SetAsDateTime(TDateTime v);
  TDateTime AsDate() const { return AsDateTime(); }
  void SetAsDate(TDateTime v);
  TDateTime AsTime() const { return AsDateTime(); }
  void SetAsTime(TDateTime v);
  AnsiString AsMemo() const { return AsString(); }
  void SetAsMemo(const AnsiString& v);
  AnsiString AsBlob() const { return AsString(); }
  void SetAsBlob(const AnsiString& v);
  AnsiString Text() const { return AsString(); }
  void SetText(const AnsiString& v) { SetValue(Variant(v)); }

  void Assign(const TParam& source);
  // Takes the field's type, name (unless named) and value.
  void AssignField(const TField* field);
  // Takes the field's type and the given value.
  void AssignFieldValue(const TField* field, const Variant& value);

 private:
  friend class TParams;
  TParams* owner_;
  AnsiString name_;
  TFieldType data_type_ = ftUnknown;
  TParamType param_type_;
  Variant value_;
  bool bound_ = false;
  int32_t precision_ = 0;
  int32_t numeric_scale_ = 0;
  int32_t size_ = 0;
};

class TParams {
 public:
  explicit TParams(TPersistent* owner = nullptr);
  ~TParams();
  TParams(const TParams&) = delete;
  TParams& operator=(const TParams&) = delete;

  TPersistent* Owner() const { return owner_; }
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  TParam* Items(int32_t index) const;
  TParam* operator[](int32_t index) const { return Items(index); }
  TParam* Add();
  TParam* CreateParam(TFieldType type, const AnsiString& name, TParamType param_type);
  // Takes ownership of param (removed from any other collection first) at index.
  void Insert(int32_t index, std::unique_ptr<TParam> param);
  // Removes and returns the parameter at index.
  std::unique_ptr<TParam> Extract(int32_t index);
  void Delete(int32_t index);
  void Clear();
  void Move(int32_t cur_index, int32_t new_index);
  int32_t IndexOf(const TParam* param) const;
  // Case-insensitive; nullptr when missing.
  TParam* FindParam(const AnsiString& name) const;
  // Raises "Parametr '%s' nenalezen" when missing.
  TParam* ParamByName(const AnsiString& name) const;
  void Assign(const TParams& source);
  // Copies the values of the parameters of the same name.
  void AssignValues(const TParams& source);
  void BeginUpdate() { ++update_count_; }
  void EndUpdate() {
    if (update_count_ > 0) --update_count_;
  }
  int32_t UpdateCount() const { return update_count_; }

 private:
  TPersistent* owner_;
  std::vector<std::unique_ptr<TParam>> items_;
  int32_t update_count_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The dataset

using TDataSetNotifyEvent = std::function<void(TDataSet* dataset)>;
using TDataSetErrorEvent =
    std::function<void(TDataSet* dataset, EDatabaseError& e, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataset, bool& accept)>;

class TDataSet : public TComponent {
 public:
  explicit TDataSet(TComponent* owner);
  ~TDataSet() override;

  // Opening and closing.
  void Open() { SetActive(true); }
  void Close() { SetActive(false); }
  bool Active() const { return state_ != dsInactive && state_ != dsOpening; }
  // While the component is loading, the value is kept and applied by Loaded.
  virtual void SetActive(bool value);
  void Loaded() override;
  TDataSetState State() const { return state_; }
  bool DefaultFields() const { return default_fields_; }

  // Navigation.
  void First();
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  int32_t MoveBy(int32_t distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  bool IsEmpty() const;
  bool FindFirst();
  bool FindLast();
  bool FindNext();
  bool FindPrior();
  bool Found() const { return found_; }
  virtual int32_t RecordCount();
  virtual int32_t RecNo();
  virtual void SetRecNo(int32_t value);
  virtual bool IsSequenced();

  // Editing.
  void Append();
  void Insert();
  void Edit();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  void Refresh();
  void CheckBrowseMode();
  // Asks the data links to write pending control values (deUpdateRecord).
  void UpdateRecord();
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }
  void ClearFields();

  // Searching.
  virtual bool Locate(const AnsiString& key_fields, const Variant& key_values,
                      TLocateOptions options);
  virtual Variant Lookup(const AnsiString& key_fields, const Variant& key_values,
                         const AnsiString& result_fields);

  // Bookmarks.
  TBookmarkStr Bookmark() { return GetBookmarkStr(); }
  void SetBookmark(const TBookmarkStr& value);
  virtual TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  void FreeBookmark(TBookmark& bookmark) { bookmark.clear(); }
  virtual bool BookmarkValid(const TBookmark& bookmark);
  // < 0, 0, > 0: bookmark1 before, at, after bookmark2.
  virtual int32_t CompareBookmarks(const TBookmark& bookmark1, const TBookmark& bookmark2);
  int32_t BookmarkSize() const { return bookmark_size_; }

  // Buffers and controls.
  virtual void Resync(TResyncMode mode);
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disable_count_ != 0; }
  void UpdateCursorPos();
  void CursorPosChanged() { current_record_ = -1; }
  virtual bool GetCurrentRecord(TRecordBuffer buffer);

  // Fields.
  TFieldDefs& FieldDefs() { return *field_defs_; }
  const TFieldDefs& FieldDefs() const { return *field_defs_; }
  int32_t FieldCount() const { return static_cast<int32_t>(fields_.size()); }
  TField* Fields(int32_t index) const;
  const std::vector<TField*>& FieldList() const { return fields_; }
  TField* FindField(const AnsiString& name) const;
  // Raises "Pole '%s' nenalezeno" when missing.
  TField* FieldByName(const AnsiString& name) const;
  TField* FieldByNumber(int32_t field_no) const;
  // The fields named in a ";"-separated list, each required to exist.
  void GetFieldList(std::vector<TField*>& list, const AnsiString& field_names) const;
  void GetFieldNames(TStrings* list) const;
  // Values of the ";"-separated fields: one value, or a variant array of them.
  Variant FieldValues(const AnsiString& field_names) const;
  void SetFieldValues(const AnsiString& field_names, const Variant& value);
  int32_t CalcFieldsSize() const { return calc_fields_size_; }
  int32_t BlobFieldCount() const { return blob_field_count_; }
  bool AutoCalcFields() const { return auto_calc_fields_; }
  void SetAutoCalcFields(bool v) { auto_calc_fields_ = v; }
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  // The field class for a type (default: the framework's).
  virtual TFieldFactory GetFieldClass(TFieldType type);

  // The dataset's record data (native or non-native form).
  virtual bool GetFieldData(TField* field, void* buffer);
  virtual bool GetFieldData(TField* field, void* buffer, bool native_format);
  virtual void SetFieldData(TField* field, const void* buffer);
  virtual void SetFieldData(TField* field, const void* buffer, bool native_format);

  // Filtering (the concrete dataset applies it).
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value);
  const AnsiString& Filter() const { return filter_text_; }
  virtual void SetFilterText(const AnsiString& value);
  TFilterOptions FilterOptions() const { return filter_options_; }
  virtual void SetFilterOptions(TFilterOptions value);
  const TFilterRecordEvent& OnFilterRecord() const { return on_filter_record_; }
  virtual void SetOnFilterRecord(const TFilterRecordEvent& value);

  // Data sources and master-detail.
  virtual TDataSource* GetDataSource() const { return nullptr; }
  bool IsLinkedTo(const TDataSource* data_source) const;
  virtual void GetDetailDataSets(std::vector<TDataSet*>& list);
  virtual void GetDetailLinkFields(std::vector<TField*>& master_fields,
                                   std::vector<TField*>& detail_fields);

  // Buffer ring state (for data links).
  int32_t BufferCount() const { return buffer_count_; }
  TRecordBuffer ActiveBuffer() const;
  int32_t ActiveRecordIndex() const { return active_record_; }
  int32_t BufferedRecordCount() const { return record_count_; }

  // Events.
  TDataSetNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TDataSetNotifyEvent BeforeInsert, AfterInsert, BeforeEdit, AfterEdit;
  TDataSetNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TDataSetNotifyEvent BeforeDelete, AfterDelete, BeforeScroll, AfterScroll;
  TDataSetNotifyEvent BeforeRefresh, AfterRefresh;
  TDataSetNotifyEvent OnNewRecord, OnCalcFields;
  TDataSetErrorEvent OnPostError, OnEditError, OnDeleteError;

  // Raises unless the dataset is open / closed.
  void CheckActive() const;
  void CheckInactive() const;

  // Enters a temporary state (controls disabled) and returns the old one.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState value);
  // Tells the data sources (and through them the links) of an event.
  virtual void DataEvent(TDataEvent event, intptr_t info);

 protected:
  friend class TField;
  friend class TFieldDefs;
  friend class TIndexDefs;
  friend class TDataSource;
  friend class TDataLink;

  // The contract of a concrete dataset.
  virtual TRecordBuffer AllocRecordBuffer() { return nullptr; }
  virtual void FreeRecordBuffer(TRecordBuffer& buffer) { buffer = nullptr; }
  virtual void GetBookmarkData(TRecordBuffer buffer, void* data) { (void)buffer, (void)data; }
  virtual void SetBookmarkData(TRecordBuffer buffer, const void* data) { (void)buffer, (void)data; }
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) { (void)buffer; return bfCurrent; }
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) { (void)buffer, (void)value; }
  virtual TGetResult GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) = 0;
  virtual uint16_t GetRecordSize() { return 0; }
  virtual void InternalAddRecord(const void* buffer, bool append) = 0;
  virtual void InternalCancel() {}
  virtual void InternalClose() = 0;
  virtual void InternalDelete() = 0;
  virtual void InternalEdit() {}
  virtual void InternalFirst() = 0;
  virtual void InternalGotoBookmark(const void* bookmark) = 0;
  virtual void InternalHandleException();
  virtual void InternalInitFieldDefs() = 0;
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  virtual void InternalInsert() {}
  virtual void InternalLast() = 0;
  virtual void InternalOpen() = 0;
  // Default: the required-field check.
  virtual void InternalPost();
  virtual void InternalRefresh() {}
  virtual void InternalSetToRecord(TRecordBuffer buffer) = 0;
  virtual bool IsCursorOpen() = 0;
  virtual bool GetCanModify() { return true; }
  virtual TBookmarkStr GetBookmarkStr();
  virtual bool FindRecord(bool restart, bool go_forward) { (void)restart, (void)go_forward; return false; }
  virtual bool GetIsIndexField(TField* field) { (void)field; return false; }
  // Called when a modified blob field's pending value is dropped (post, cancel, delete).
  virtual void CloseBlob(TField* field) { (void)field; }

  // Steps of open and close, overridable.
  virtual void OpenCursor(bool info_query);
  virtual void CloseCursor();
  virtual void DoInternalOpen();
  virtual void InitFieldDefs();
  virtual void UpdateFieldDefs() { InitFieldDefs(); }
  virtual void UpdateIndexDefs() {}
  virtual void CreateFields();
  virtual void DestroyFields();
  virtual void BindFields(bool binding);
  virtual void CheckFieldCompatibility(TField* field, const TFieldDef* field_def);
  // Converts between the native and the non-native form of a field's value.
  virtual void DataConvert(TField* field, const void* source, void* dest, bool to_native);

  // Records.
  virtual void InitRecord(TRecordBuffer buffer);
  virtual void ClearCalcFields(TRecordBuffer buffer) { (void)buffer; }
  virtual void CalculateFields(TRecordBuffer buffer);
  void GetCalcFields(TRecordBuffer buffer);
  TRecordBuffer CalcBuffer() const { return calc_buffer_; }
  TRecordBuffer TempBuffer() const;
  TRecordBuffer Buffers(int32_t index) const { return buffers_[static_cast<size_t>(index)]; }
  void SetModified(bool value) { modified_ = value; }
  void SetState(TDataSetState value);
  void SetBookmarkSize(int32_t v) { bookmark_size_ = v; }
  void SetDefaultFields(bool v) { default_fields_ = v; }
  void CheckRequiredFields();
  void CheckCanModify();
  bool GetNextRecord();
  bool GetPriorRecord();
  int32_t GetNextRecords();
  int32_t GetPriorRecords();
  void ClearBuffers();
  void ActivateBuffers();
  void SetCurrentRecord(int32_t index);
  void MoveBuffer(int32_t cur_index, int32_t new_index);
  virtual void SetBufferCount(int32_t value);
  void UpdateBufferCount();
  int32_t CurrentRecordIndex() const { return current_record_; }
  // Runs operation, the cursor first brought to the active record; an EDatabaseError goes
  // to error_event, which may ask for a retry or a silent abort.
  void CheckOperation(const std::function<void()>& operation, const TDataSetErrorEvent& error_event);
  // Does the record under the cursor match the key values (Locate's rule)?
  bool RecordMatches(const std::vector<TField*>& fields, const Variant& key_values,
                     TLocateOptions options) const;
  void SetFound(bool v) { found_ = v; }

  virtual void DoAfterOpen();
  virtual void DoBeforeOpen();
  virtual void DoAfterClose();
  virtual void DoBeforeClose();
  virtual void DoBeforeInsert();
  virtual void DoAfterInsert();
  virtual void DoBeforeEdit();
  virtual void DoAfterEdit();
  virtual void DoBeforePost();
  virtual void DoAfterPost();
  virtual void DoBeforeCancel();
  virtual void DoAfterCancel();
  virtual void DoBeforeDelete();
  virtual void DoAfterDelete();
  virtual void DoBeforeScroll();
  virtual void DoAfterScroll();
  virtual void DoBeforeRefresh();
  virtual void DoAfterRefresh();
  virtual void DoOnNewRecord();
  virtual void DoOnCalcFields();

  std::unique_ptr<TFieldDefs> field_defs_;
  std::vector<TField*> fields_;
  TFilterRecordEvent on_filter_record_;

 private:
  void AddField(TField* field);
  void RemoveField(TField* field);
  void AddDataSource(TDataSource* ds);
  void RemoveDataSource(TDataSource* ds);
  void BeginInsertAppend();
  void EndInsertAppend();
  void SetBufListSize(int32_t value);
  void FreeFieldBuffers();
  void UpdateCalcFields();
  void DoFind(bool restart, bool go_forward);

  std::vector<TRecordBuffer> buffers_;
  std::vector<TDataSource*> data_sources_;
  // Upper-cased field name -> field, rebuilt after the field list changes.
  mutable std::unordered_map<AnsiString, TField*> field_index_;
  mutable bool field_index_valid_ = false;
  TDataSetState state_ = dsInactive;
  TDataSetState disable_state_ = dsInactive;
  TDataEvent enable_event_ = deDataSetChange;
  TRecordBuffer calc_buffer_ = nullptr;
  int32_t buffer_count_ = 0;
  int32_t record_count_ = 0;
  int32_t active_record_ = 0;
  int32_t current_record_ = -1;
  int32_t disable_count_ = 0;
  int32_t calc_fields_size_ = 0;
  int32_t blob_field_count_ = 0;
  int32_t bookmark_size_ = 0;
  TFilterOptions filter_options_;
  AnsiString filter_text_;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  bool found_ = false;
  bool filtered_ = false;
  bool default_fields_ = false;
  bool auto_calc_fields_ = true;
  bool internal_open_complete_ = false;
  bool destroying_ = false;
  bool streamed_active_ = false;
};

// ---------------------------------------------------------------------------------------------
// Data sources and links

using TDataChangeEvent = std::function<void(TObject* sender, TField* field)>;

class TDataSource : public TComponent {
 public:
  explicit TDataSource(TComponent* owner);
  ~TDataSource() override;

  TDataSet* DataSet() const { return dataset_; }
  // Raises "Kruhové datalinky nejsou povoleny" when the dataset is linked to this source.
  void SetDataSet(TDataSet* dataset);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  bool AutoEdit() const { return auto_edit_; }
  void SetAutoEdit(bool v) { auto_edit_ = v; }
  TDataSetState State() const { return state_; }
  // Edits the dataset when AutoEdit and it is browsing.
  void Edit();
  bool IsLinkedTo(const TDataSet* dataset) const;
  const std::vector<TDataLink*>& DataLinks() const { return links_; }

  TNotifyEvent OnStateChange;
  TDataChangeEvent OnDataChange;
  TNotifyEvent OnUpdateData;

  void Notification(TComponent* component, TOperation operation) override;

 protected:
  friend class TDataSet;
  friend class TDataLink;
  virtual void DataEvent(TDataEvent event, intptr_t info);
  void UpdateState();
  void NotifyDataLinks(TDataEvent event, intptr_t info);

 private:
  void AddDataLink(TDataLink* link);
  void RemoveDataLink(TDataLink* link);
  TDataSet* dataset_ = nullptr;
  std::vector<TDataLink*> links_;
  TDataSetState state_ = dsInactive;
  bool enabled_ = true;
  bool auto_edit_ = true;
};

class TDataLink : public TPersistent {
 public:
  TDataLink();
  ~TDataLink() override;

  TDataSource* DataSource() const { return data_source_; }
  void SetDataSource(TDataSource* value);
  TDataSet* DataSet() const;
  bool DataSourceFixed() const { return data_source_fixed_; }
  void SetDataSourceFixed(bool v) { data_source_fixed_ = v; }
  bool Active() const { return active_; }
  // The active record's place within the link's window of BufferCount records.
  int32_t ActiveRecord() const;
  void SetActiveRecord(int32_t value);
  int32_t BufferCount() const { return buffer_count_; }
  void SetBufferCount(int32_t value);
  bool Editing() const { return editing_; }
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool value);
  int32_t RecordCount() const;
  // Puts the dataset into edit mode (through the data source); false when it cannot.
  bool Edit();
  // Writes pending control values (UpdateData), guarded against re-entry.
  void UpdateRecord();
  virtual TDataSet* GetDetailDataSet() { return nullptr; }

 protected:
  friend class TDataSource;
  friend class TDataSet;
  virtual void ActiveChanged() {}
  virtual void CheckBrowseMode() {}
  virtual void DataEvent(TDataEvent event, intptr_t info);
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  virtual void DataSetScrolled(int32_t distance) { (void)distance; DataSetChanged(); }
  virtual void EditingChanged() {}
  virtual void FocusControl(TField* field) { (void)field; }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* field) { (void)field; }
  virtual void UpdateData() {}

 private:
  void SetActive(bool value);
  void SetEditing(bool value);
  void UpdateRange();
  TDataSource* data_source_ = nullptr;
  int32_t buffer_count_ = 1;
  int32_t first_record_ = 0;
  bool active_ = false;
  bool editing_ = false;
  bool read_only_ = false;
  bool updating_ = false;
  bool data_source_fixed_ = false;
};

// A link through which a detail dataset follows its master.
class TDetailDataLink : public TDataLink {
 public:
  TDataSet* GetDetailDataSet() override { return nullptr; }
};

// The master link of a detail dataset: the master fields by name, and events when the
// master moves or closes.
class TMasterDataLink : public TDetailDataLink {
 public:
  explicit TMasterDataLink(TDataSet* detail);
  const AnsiString& FieldNames() const { return field_names_; }
  void SetFieldNames(const AnsiString& v);
  const std::vector<TField*>& Fields() const { return fields_; }
  TDataSet* GetDetailDataSet() override { return detail_; }
  TNotifyEvent OnMasterChange;
  TNotifyEvent OnMasterDisable;

 protected:
  void ActiveChanged() override;
  void CheckBrowseMode() override;
  void LayoutChanged() override;
  void RecordChanged(TField* field) override;

 private:
  void UpdateFields();
  TDataSet* detail_;
  AnsiString field_names_;
  std::vector<TField*> fields_;
};

// Splits a ";"-separated list of names (blanks around each name removed, empty ones dropped).
std::vector<AnsiString> SplitFieldNames(const AnsiString& names);

}  // namespace pelvar
