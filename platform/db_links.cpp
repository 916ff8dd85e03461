// Parameters, data sources and data links of the dataset model.
#include <algorithm>

#include "platform/codepage.h"
#include "platform/db.h"
#include "platform/sysutils.h"

namespace pelvar {

// ---------------------------------------------------------------------------------------------
// TParam

TParam::TParam(TParams* owner, TParamType type) : owner_(owner), param_type_(type) {}

int32_t TParam::Index() const { return owner_ != nullptr ? owner_->IndexOf(this) : -1; }

void TParam::SetIndex(int32_t index) {
  if (owner_ != nullptr) owner_->Move(Index(), index);
}

static TFieldType FieldTypeOfVariant(const Variant& v) {
  switch (VarType(v) & varTypeMask) {
    case varSmallint: case varShortInt: case varByte: return ftSmallint;
    case varWord: return ftWord;
    case varInteger: case varLongWord: return ftInteger;
    case varInt64: return ftLargeint;
    case varSingle: case varDouble: return ftFloat;
    case varCurrency: return ftBCD;
    case varDate: return ftDateTime;
    case varBoolean: return ftBoolean;
    case varString: return ftString;
    case varOleStr: return ftWideString;
    default: return ftUnknown;
  }
}

void TParam::SetDataType(TFieldType v) {
  if (v == data_type_) return;
  data_type_ = v;
  if (IsNull()) return;
  try {
    switch (v) {
      case ftString: case ftFixedChar: case ftMemo: case ftBlob: case ftGuid:
        value_ = Variant(VarToStr(value_));
        break;
      case ftSmallint: case ftInteger: case ftWord: case ftAutoInc:
        value_ = Variant(value_.AsInteger());
        break;
      case ftLargeint: value_ = Variant(static_cast<long long>(value_.AsInt64())); break;
      case ftFloat: value_ = Variant(value_.AsDouble()); break;
      case ftCurrency: case ftBCD: value_ = Variant(value_.AsCurrency()); break;
      case ftBoolean: value_ = Variant(value_.AsBoolean()); break;
      case ftDate: case ftTime: case ftDateTime:
        value_ = VarFromDateTime(value_.AsDateTime());
        break;
      default: break;
    }
  } catch (const Exception&) {
    value_ = Null();
  }
}

bool TParam::IsNull() const { return VarIsNull(value_) || VarIsEmpty(value_); }

void TParam::Clear() { value_ = Null(); }

void TParam::SetValue(const Variant& v) {
  bound_ = !VarIsEmpty(v);
  if (data_type_ == ftUnknown) data_type_ = FieldTypeOfVariant(v);
  value_ = v;
}

AnsiString TParam::AsString() const {
  if (IsNull()) return AnsiString();
  if (VarType(value_) == varBoolean) return value_.AsBoolean() ? "True" : "False";
  return VarToStr(value_);
}
void TParam::SetAsString(const AnsiString& v) {
  data_type_ = ftString;
  SetValue(Variant(v));
}
int32_t TParam::AsInteger() const { return IsNull() ? 0 : value_.AsInteger(); }
void TParam::SetAsInteger(int32_t v) {
  data_type_ = ftInteger;
  SetValue(Variant(v));
}
void TParam::SetAsSmallInt(int32_t v) {
  data_type_ = ftSmallint;
  SetValue(Variant(v));
}
void TParam::SetAsWord(int32_t v) {
  data_type_ = ftWord;
  SetValue(Variant(v));
}
int64_t TParam::AsLargeInt() const { return IsNull() ? 0 : value_.AsInt64(); }
void TParam::SetAsLargeInt(int64_t v) {
  data_type_ = ftLargeint;
  SetValue(Variant(static_cast<long long>(v)));
}
double TParam::AsFloat() const { return IsNull() ? 0.0 : value_.AsDouble(); }
void TParam::SetAsFloat(double v) {
  data_type_ = ftFloat;
  SetValue(Variant(v));
}
Currency TParam::AsCurrency() const { return IsNull() ? Currency() : value_.AsCurrency(); }
void TParam::SetAsCurrency(Currency v) {
  data_type_ = ftCurrency;
  SetValue(Variant(v));
}
void TParam::SetAsBCD(Currency v) {
  data_type_ = ftBCD;
  SetValue(Variant(v));
}
bool TParam::AsBoolean() const { return IsNull() ? false : value_.AsBoolean(); }
void TParam::SetAsBoolean(bool v) {
  data_type_ = ftBoolean;
  SetValue(Variant(v));
}
TDateTime TParam::AsDateTime() const { return IsNull() ? 0.0 : value_.AsDateTime(); }
void TParam::SetAsDateTime(TDateTime v) {
  data_type_ = ftDateTime;
  SetValue(VarFromDateTime(v));
}
void TParam::SetAsDate(TDateTime v) {
  data_type_ = ftDate;
  SetValue(VarFromDateTime(v));
}
void TParam::SetAsTime(TDateTime v) {
  data_type_ = ftTime;
  SetValue(VarFromDateTime(v));
}
void TParam::SetAsMemo(const AnsiString& v) {
  data_type_ = ftMemo;
  SetValue(Variant(v));
}
void TParam::SetAsBlob(const AnsiString& v) {
  data_type_ = ftBlob;
  SetValue(Variant(v));
}

void TParam::Assign(const TParam& source) {
  if (&source == this) return;
  name_ = source.name_;
  data_type_ = source.data_type_;
  param_type_ = source.param_type_;
  value_ = source.value_;
  bound_ = source.bound_;
  precision_ = source.precision_;
  numeric_scale_ = source.numeric_scale_;
  size_ = source.size_;
}

void TParam::AssignField(const TField* field) {
  if (field == nullptr) return;
  data_type_ = field->DataType() == ftAutoInc ? ftInteger : field->DataType();
  if (name_.empty()) name_ = field->FieldName();
  if (field->IsNull())
    Clear();
  else
    value_ = field->AsVariant();
  bound_ = true;
}

void TParam::AssignFieldValue(const TField* field, const Variant& value) {
  if (field == nullptr) return;
  data_type_ = field->DataType() == ftAutoInc ? ftInteger : field->DataType();
  if (VarIsNull(value) || VarIsEmpty(value))
    Clear();
  else
    value_ = value;
  bound_ = true;
}

// ---------------------------------------------------------------------------------------------
// TParams

TParams::TParams(TPersistent* owner) : owner_(owner) {}
TParams::~TParams() = default;

TParam* TParams::Items(int32_t index) const {
  if (index < 0 || index >= Count()) throw EListError(CZ("Index seznamu mimo rozsah (") + IntToStr(index) + ")");
  return items_[static_cast<size_t>(index)].get();
}

TParam* TParams::Add() {
  items_.push_back(std::make_unique<TParam>(this));
  return items_.back().get();
}

TParam* TParams::CreateParam(TFieldType type, const AnsiString& name, TParamType param_type) {
  TParam* p = Add();
  p->name_ = name;
  p->data_type_ = type;
  p->param_type_ = param_type;
  return p;
}

void TParams::Insert(int32_t index, std::unique_ptr<TParam> param) {
  if (index < 0) index = 0;
  if (index > Count()) index = Count();
  param->owner_ = this;
  items_.insert(items_.begin() + index, std::move(param));
}

std::unique_ptr<TParam> TParams::Extract(int32_t index) {
  Items(index);
  std::unique_ptr<TParam> p = std::move(items_[static_cast<size_t>(index)]);
  items_.erase(items_.begin() + index);
  p->owner_ = nullptr;
  return p;
}

void TParams::Delete(int32_t index) { Extract(index); }

void TParams::Clear() { items_.clear(); }

void TParams::Move(int32_t cur_index, int32_t new_index) {
  if (cur_index == new_index) return;
  std::unique_ptr<TParam> p = Extract(cur_index);
  Insert(new_index, std::move(p));
}

int32_t TParams::IndexOf(const TParam* param) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].get() == param) return static_cast<int32_t>(i);
  return -1;
}

TParam* TParams::FindParam(const AnsiString& name) const {
  for (const auto& p : items_)
    if (AnsiSameText(p->Name(), name)) return p.get();
  return nullptr;
}

TParam* TParams::ParamByName(const AnsiString& name) const {
  TParam* p = FindParam(name);
  if (p == nullptr) {
    const auto* component = dynamic_cast<const TComponent*>(owner_);
    DatabaseErrorFmt(dbmsg::ParameterNotFound(), {name}, component);
  }
  return p;
}

void TParams::Assign(const TParams& source) {
  if (&source == this) return;
  Clear();
  for (const auto& p : source.items_) Add()->Assign(*p);
}

void TParams::AssignValues(const TParams& source) {
  for (const auto& src : source.items_) {
    TParam* p = FindParam(src->Name());
    if (p != nullptr) p->Assign(*src);
  }
}

// ---------------------------------------------------------------------------------------------
// TDataSource

TDataSource::TDataSource(TComponent* owner) : TComponent(owner) {}

TDataSource::~TDataSource() {
  SetDataSet(nullptr);
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) link->SetDataSource(nullptr);
}

bool TDataSource::IsLinkedTo(const TDataSet* dataset) const {
  return dataset != nullptr && dataset->IsLinkedTo(this);
}

void TDataSource::SetDataSet(TDataSet* dataset) {
  if (dataset == dataset_) return;
  if (IsLinkedTo(dataset)) DatabaseError(dbmsg::CircularDataLink(), this);
  if (dataset_ != nullptr) dataset_->RemoveDataSource(this);
  dataset_ = dataset;
  if (dataset_ != nullptr) dataset_->AddDataSource(this);
  UpdateState();
}

void TDataSource::SetEnabled(bool value) {
  enabled_ = value;
  UpdateState();
}

void TDataSource::Edit() {
  if (auto_edit_ && state_ == dsBrowse && dataset_ != nullptr) dataset_->Edit();
}

void TDataSource::UpdateState() {
  TDataSetState next = dsInactive;
  if (enabled_ && dataset_ != nullptr) next = dataset_->State();
  if (next == dsOpening) next = dsInactive;
  if (next == state_) return;
  state_ = next;
  NotifyDataLinks(deUpdateState, 0);
  if (OnStateChange) OnStateChange(this);
}

void TDataSource::NotifyDataLinks(TDataEvent event, intptr_t info) {
  std::vector<TDataLink*> links = links_;
  // Detail links first, so that details follow the master before controls repaint.
  for (TDataLink* link : links)
    if (link->GetDetailDataSet() != nullptr) link->DataEvent(event, info);
  for (TDataLink* link : links)
    if (link->GetDetailDataSet() == nullptr) link->DataEvent(event, info);
}

void TDataSource::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyDataLinks(event, info);
  switch (event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(this, reinterpret_cast<TField*>(info));
      break;
    case deRecordChange: case deDataSetChange: case deDataSetScroll: case deLayoutChange:
      if (OnDataChange) OnDataChange(this, nullptr);
      break;
    case deUpdateRecord:
      if (OnUpdateData) OnUpdateData(this);
      break;
    default: break;
  }
}

void TDataSource::AddDataLink(TDataLink* link) {
  links_.push_back(link);
  link->data_source_ = this;
  if (dataset_ != nullptr) dataset_->UpdateBufferCount();
  link->SetActive(state_ != dsInactive);
  link->SetEditing((state_ == dsEdit || state_ == dsInsert || state_ == dsSetKey) &&
                   !link->read_only_);
}

void TDataSource::RemoveDataLink(TDataLink* link) {
  auto it = std::find(links_.begin(), links_.end(), link);
  if (it != links_.end()) links_.erase(it);
  link->data_source_ = nullptr;
  link->SetActive(false);
  link->SetEditing(false);
  if (dataset_ != nullptr && dataset_->Active()) dataset_->UpdateBufferCount();
}

void TDataSource::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove && component == dataset_) SetDataSet(nullptr);
}

// ---------------------------------------------------------------------------------------------
// TDataLink

TDataLink::TDataLink() = default;

TDataLink::~TDataLink() {
  if (data_source_ != nullptr) data_source_->RemoveDataLink(this);
}

void TDataLink::SetDataSource(TDataSource* value) {
  if (value == data_source_) return;
  if (data_source_fixed_) DatabaseError(CZ("Datový zdroj nelze změnit"));
  if (data_source_ != nullptr) data_source_->RemoveDataLink(this);
  if (value != nullptr) value->AddDataLink(this);
}

TDataSet* TDataLink::DataSet() const {
  return data_source_ != nullptr ? data_source_->DataSet() : nullptr;
}

void TDataLink::SetActive(bool value) {
  if (active_ == value) return;
  active_ = value;
  if (value) UpdateRange();
  ActiveChanged();
}

void TDataLink::SetEditing(bool value) {
  if (editing_ == value) return;
  editing_ = value;
  EditingChanged();
}

void TDataLink::SetReadOnly(bool value) {
  read_only_ = value;
  TDataSetState st = data_source_ != nullptr ? data_source_->State() : dsInactive;
  SetEditing((st == dsEdit || st == dsInsert || st == dsSetKey) && !read_only_);
}

void TDataLink::UpdateRange() {
  TDataSet* ds = DataSet();
  if (ds == nullptr) {
    first_record_ = 0;
    return;
  }
  int32_t active = ds->active_record_;
  int32_t max_first = std::max(0, ds->record_count_ - buffer_count_);
  if (first_record_ > active) first_record_ = active;
  if (first_record_ < active - buffer_count_ + 1) first_record_ = active - buffer_count_ + 1;
  first_record_ = std::clamp(first_record_, 0, max_first);
}

int32_t TDataLink::ActiveRecord() const {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !active_) return 0;
  return ds->active_record_ - first_record_;
}

void TDataLink::SetActiveRecord(int32_t value) {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !active_) return;
  int32_t target = value + first_record_;
  if (target >= 0 && target < ds->record_count_) ds->active_record_ = target;
}

void TDataLink::SetBufferCount(int32_t value) {
  if (value < 1) value = 1;
  if (value == buffer_count_) return;
  buffer_count_ = value;
  TDataSet* ds = DataSet();
  if (ds != nullptr && ds->Active()) {
    ds->UpdateBufferCount();
    UpdateRange();
  }
}

int32_t TDataLink::RecordCount() const {
  TDataSet* ds = DataSet();
  if (ds == nullptr || !active_) return 0;
  return std::min(buffer_count_, ds->record_count_ - first_record_);
}

bool TDataLink::Edit() {
  if (!read_only_ && data_source_ != nullptr) data_source_->Edit();
  return editing_;
}

void TDataLink::UpdateRecord() {
  updating_ = true;
  try {
    UpdateData();
  } catch (...) {
    updating_ = false;
    throw;
  }
  updating_ = false;
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
  if (event == deUpdateState) {
    TDataSetState st = data_source_ != nullptr ? data_source_->State() : dsInactive;
    SetActive(data_source_ != nullptr && data_source_->Enabled() && st != dsInactive);
    SetEditing((st == dsEdit || st == dsInsert || st == dsSetKey) && !read_only_);
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange: case deRecordChange:
      if (!updating_) RecordChanged(reinterpret_cast<TField*>(info));
      break;
    case deDataSetChange: case deDataSetScroll: case deLayoutChange: {
      int32_t old_first = first_record_;
      UpdateRange();
      if (event == deDataSetScroll)
        DataSetScrolled(static_cast<int32_t>(info) + (old_first - first_record_));
      else if (event == deLayoutChange)
        LayoutChanged();
      else
        DataSetChanged();
      break;
    }
    case deUpdateRecord: UpdateRecord(); break;
    case deCheckBrowseMode: CheckBrowseMode(); break;
    case deFocusControl: FocusControl(reinterpret_cast<TField*>(info)); break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------
// TMasterDataLink

TMasterDataLink::TMasterDataLink(TDataSet* detail) : detail_(detail) {}

void TMasterDataLink::SetFieldNames(const AnsiString& v) {
  if (v == field_names_) return;
  field_names_ = v;
  ActiveChanged();
}

void TMasterDataLink::UpdateFields() {
  fields_.clear();
  if (Active() && DataSet() != nullptr) {
    try {
      DataSet()->GetFieldList(fields_, field_names_);
    } catch (...) {
      fields_.clear();
      throw;
    }
  }
}

void TMasterDataLink::ActiveChanged() {
  UpdateFields();
  if (detail_ != nullptr && detail_->Active() &&
      !detail_->ComponentState().Contains(csDestroying)) {
    if (Active() && !fields_.empty()) {
      if (OnMasterChange) OnMasterChange(this);
    } else if (OnMasterDisable) {
      OnMasterDisable(this);
    }
  }
}

void TMasterDataLink::CheckBrowseMode() {
  if (detail_ != nullptr && detail_->Active()) detail_->CheckBrowseMode();
}

void TMasterDataLink::LayoutChanged() { ActiveChanged(); }

void TMasterDataLink::RecordChanged(TField* field) {
  if (DataSource() == nullptr || DataSource()->State() == dsSetKey) return;
  if (detail_ == nullptr || !detail_->Active() || fields_.empty()) return;
  if (field != nullptr && std::find(fields_.begin(), fields_.end(), field) == fields_.end())
    return;
  if (OnMasterChange) OnMasterChange(this);
}

}  // namespace pelvar
