// TDataSet: states, the record-buffer ring, navigation, editing, bookmarks, events.
#include <algorithm>
#include <cstring>

#include "platform/db.h"
#include "platform/sysutils.h"

namespace pelvar {

TDataSet::TDataSet(TComponent* owner)
    : TComponent(owner), field_defs_(std::make_unique<TFieldDefs>(this)) {}

TDataSet::~TDataSet() {
  // A concrete dataset closes itself in its own destructor (its buffers and cursor are its
  // own); here only the links and fields are let go.
  destroying_ = true;
  // Detach the data sources first (they keep a reference to this dataset).
  while (!data_sources_.empty()) data_sources_.back()->SetDataSet(nullptr);
  // Field objects: those the dataset made are freed; others only let go of it.
  std::vector<TField*> fields = fields_;
  fields_.clear();
  for (TField* f : fields) {
    f->dataset_ = nullptr;
    if (f->Owner() == this) delete f;
  }
  if (!buffers_.empty()) std::fill(buffers_.begin(), buffers_.end(), nullptr);
}

// ---------------------------------------------------------------------------------------------
// Open and close

void TDataSet::CheckActive() const {
  if (state_ == dsInactive) DatabaseError(dbmsg::DataSetClosed(), this);
}

void TDataSet::CheckInactive() const {
  if (state_ != dsInactive && state_ != dsOpening) DatabaseError(dbmsg::DataSetOpen(), this);
}

void TDataSet::SetActive(bool value) {
  if (ComponentState().Contains(csLoading)) {
    // Opened once loading is complete (Loaded).
    streamed_active_ = value;
    return;
  }
  if (value == (state_ != dsInactive)) return;
  if (value) {
    DoBeforeOpen();
    SetState(dsOpening);
    internal_open_complete_ = false;
    try {
      OpenCursor(false);
    } catch (...) {
      state_ = dsInactive;
      try {
        CloseCursor();
      } catch (...) {
      }
      DataEvent(deUpdateState, 0);
      throw;
    }
    SetState(dsBrowse);
    DoAfterOpen();
    if (!IsEmpty()) DoAfterScroll();
  } else {
    bool events = !destroying_ && !ComponentState().Contains(csDestroying);
    if (events) DoBeforeClose();
    SetState(dsInactive);
    CloseCursor();
    if (events) DoAfterClose();
  }
}

void TDataSet::Loaded() {
  TComponent::Loaded();
  if (streamed_active_) {
    streamed_active_ = false;
    SetActive(true);
  }
}

void TDataSet::OpenCursor(bool info_query) {
  if (info_query)
    InternalInitFieldDefs();
  else
    DoInternalOpen();
}

void TDataSet::DoInternalOpen() {
  default_fields_ = fields_.empty();
  InternalOpen();
  internal_open_complete_ = true;
  UpdateBufferCount();
  bof_ = true;
}

void TDataSet::CloseCursor() {
  SetBufListSize(0);
  buffer_count_ = 0;
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = eof_ = true;
  if (internal_open_complete_ || IsCursorOpen()) {
    internal_open_complete_ = false;
    InternalClose();
  }
}

void TDataSet::InitFieldDefs() {
  if (IsCursorOpen()) {
    InternalInitFieldDefs();
  } else {
    SetTempState(dsInactive);
    try {
      OpenCursor(true);
    } catch (...) {
      RestoreState(dsInactive);
      CloseCursor();
      throw;
    }
    RestoreState(dsInactive);
    CloseCursor();
  }
}

void TDataSet::CreateFields() {
  for (int32_t i = 0; i < field_defs_->Count(); ++i) {
    TFieldDef* def = field_defs_->Items(i);
    if (def->DataType() == ftUnknown) continue;
    if (def->Attributes().Contains(faHiddenCol) && !field_defs_->HiddenFields()) continue;
    if (FindField(def->Name()) == nullptr) def->CreateField(this);
  }
}

void TDataSet::DestroyFields() {
  std::vector<TField*> fields = fields_;
  for (TField* f : fields) {
    if (f->Owner() == this || f->Owner() == nullptr) {
      RemoveField(f);
      f->dataset_ = nullptr;
      delete f;
    }
  }
}

void TDataSet::BindFields(bool binding) {
  calc_fields_size_ = 0;
  blob_field_count_ = 0;
  for (TField* f : fields_) {
    if (binding) {
      if (f->field_kind_ == fkCalculated || f->field_kind_ == fkLookup) {
        f->field_no_ = -1;
        f->offset_ = calc_fields_size_;
        calc_fields_size_ += f->DataSize() + 1;
      } else {
        const TFieldDef* def = field_defs_->FindDef(f->FieldName());
        if (def == nullptr) DatabaseErrorFmt(dbmsg::FieldNotFound(), {f->DisplayName()}, this);
        f->field_no_ = def->FieldNo();
        CheckFieldCompatibility(f, def);
        if (f->IsBlob()) {
          f->size_ = def->Size();
          f->offset_ = blob_field_count_++;
        }
      }
      f->Bind(true);
    } else {
      f->Bind(false);
    }
  }
}

void TDataSet::CheckFieldCompatibility(TField* field, const TFieldDef* def) {
  auto base = [](TFieldType t) {
    switch (t) {
      case ftAutoInc: return ftInteger;
      case ftFixedChar: return ftString;
      case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
      case ftTypedBinary: case ftOraBlob: case ftOraClob: return ftBlob;
      default: return t;
    }
  };
  if (base(field->DataType()) != base(def->DataType()))
    DatabaseErrorFmt(dbmsg::FieldTypeMismatch(),
                     {field->DisplayName(), FieldTypeName(field->DataType()),
                      FieldTypeName(def->DataType())},
                     this);
  switch (def->DataType()) {
    case ftString: case ftFixedChar: case ftWideString: case ftBytes: case ftVarBytes:
    case ftGuid:
      if (field->Size() != def->Size())
        DatabaseErrorFmt(dbmsg::FieldSizeMismatch(),
                         {field->DisplayName(), IntToStr(field->Size()), IntToStr(def->Size())},
                         this);
      break;
    default: break;
  }
}

// ---------------------------------------------------------------------------------------------
// Fields

void TDataSet::AddField(TField* field) {
  if (!field->FieldName().empty() && FindField(field->FieldName()) != nullptr)
    DatabaseErrorFmt(dbmsg::DuplicateFieldName(), {field->DisplayName()}, this);
  fields_.push_back(field);
  field_index_valid_ = false;
  DataEvent(deFieldListChange, 0);
}

void TDataSet::RemoveField(TField* field) {
  auto it = std::find(fields_.begin(), fields_.end(), field);
  if (it != fields_.end()) {
    fields_.erase(it);
    field_index_valid_ = false;
    if (!destroying_) DataEvent(deFieldListChange, 0);
  }
}

TField* TDataSet::Fields(int32_t index) const {
  if (index < 0 || index >= FieldCount()) DatabaseError(dbmsg::FieldIndexError(), this);
  return fields_[static_cast<size_t>(index)];
}

TField* TDataSet::FindField(const AnsiString& name) const {
  if (!field_index_valid_) {
    field_index_.clear();
    for (TField* f : fields_) field_index_.emplace(AnsiUpperCase(f->FieldName()), f);
    field_index_valid_ = true;
  }
  auto it = field_index_.find(AnsiUpperCase(name));
  return it == field_index_.end() ? nullptr : it->second;
}

TField* TDataSet::FieldByName(const AnsiString& name) const {
  TField* f = FindField(name);
  if (f == nullptr) DatabaseErrorFmt(dbmsg::FieldNotFound(), {name}, this);
  return f;
}

TField* TDataSet::FieldByNumber(int32_t field_no) const {
  for (TField* f : fields_)
    if (f->FieldNo() == field_no) return f;
  return nullptr;
}

void TDataSet::GetFieldList(std::vector<TField*>& list, const AnsiString& field_names) const {
  for (const AnsiString& name : SplitFieldNames(field_names)) list.push_back(FieldByName(name));
}

void TDataSet::GetFieldNames(TStrings* list) const {
  list->BeginUpdate();
  list->Clear();
  if (!fields_.empty()) {
    for (TField* f : fields_) list->Add(f->FieldName());
  } else {
    for (int32_t i = 0; i < field_defs_->Count(); ++i) list->Add(field_defs_->Items(i)->Name());
  }
  list->EndUpdate();
}

Variant TDataSet::FieldValues(const AnsiString& field_names) const {
  std::vector<TField*> list;
  GetFieldList(list, field_names);
  if (list.size() == 1) return list[0]->AsVariant();
  Variant result = VarArrayCreate({0, static_cast<int32_t>(list.size()) - 1}, varVariant);
  for (size_t i = 0; i < list.size(); ++i)
    result.PutElement({static_cast<int32_t>(i)}, list[i]->AsVariant());
  return result;
}

void TDataSet::SetFieldValues(const AnsiString& field_names, const Variant& value) {
  std::vector<TField*> list;
  GetFieldList(list, field_names);
  if (list.size() == 1 && !VarIsArray(value)) {
    list[0]->SetAsVariant(value);
    return;
  }
  for (size_t i = 0; i < list.size(); ++i)
    list[i]->SetAsVariant(value.GetElement({static_cast<int32_t>(i)}));
}

TFieldFactory TDataSet::GetFieldClass(TFieldType type) { return DefaultFieldClass(type); }

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField*, TBlobStreamMode) { return nullptr; }

bool TDataSet::GetFieldData(TField*, void*) { return false; }

bool TDataSet::GetFieldData(TField* field, void* buffer, bool native_format) {
  if (native_format) return GetFieldData(field, buffer);
  switch (field->DataType()) {
    case ftDate: case ftTime: case ftDateTime: case ftBCD: {
      std::vector<uint8_t> temp(static_cast<size_t>(std::max(field->DataSize(), 1)), 0);
      bool result = GetFieldData(field, temp.data());
      if (result && buffer != nullptr) DataConvert(field, temp.data(), buffer, false);
      return result;
    }
    default:
      return GetFieldData(field, buffer);
  }
}

void TDataSet::SetFieldData(TField*, const void*) {}

void TDataSet::SetFieldData(TField* field, const void* buffer, bool native_format) {
  if (native_format || buffer == nullptr) {
    SetFieldData(field, buffer);
    return;
  }
  switch (field->DataType()) {
    case ftDate: case ftTime: case ftDateTime: case ftBCD: {
      std::vector<uint8_t> temp(static_cast<size_t>(std::max(field->DataSize(), 1)), 0);
      DataConvert(field, buffer, temp.data(), true);
      SetFieldData(field, temp.data());
      break;
    }
    default:
      SetFieldData(field, buffer);
  }
}

void TDataSet::DataConvert(TField* field, const void* source, void* dest, bool to_native) {
  switch (field->DataType()) {
    case ftDate: case ftTime: case ftDateTime: {
      if (to_native) {
        TDateTime dt;
        std::memcpy(&dt, source, sizeof dt);
        TTimeStamp ts = DateTimeToTimeStamp(dt);
        if (field->DataType() == ftDate) {
          std::memcpy(dest, &ts.Date, 4);
        } else if (field->DataType() == ftTime) {
          std::memcpy(dest, &ts.Time, 4);
        } else {
          double ms = TimeStampToMSecs(ts);
          std::memcpy(dest, &ms, 8);
        }
      } else {
        TTimeStamp ts;
        if (field->DataType() == ftDate) {
          std::memcpy(&ts.Date, source, 4);
          ts.Time = 0;
        } else if (field->DataType() == ftTime) {
          std::memcpy(&ts.Time, source, 4);
          ts.Date = 693594;  // 30 December 1899: the time alone
        } else {
          double ms;
          std::memcpy(&ms, source, 8);
          ts = MSecsToTimeStamp(ms);
        }
        TDateTime dt = TimeStampToDateTime(ts);
        std::memcpy(dest, &dt, sizeof dt);
      }
      break;
    }
    case ftBCD: {
      if (to_native) {
        Currency c;
        std::memcpy(&c, source, sizeof c);
        TBcd bcd = CurrToBCD(c, 32, 4);
        std::memcpy(dest, &bcd, sizeof bcd);
      } else {
        TBcd bcd;
        std::memcpy(&bcd, source, sizeof bcd);
        Currency c = BCDToCurr(bcd);
        std::memcpy(dest, &c, sizeof c);
      }
      break;
    }
    default:
      std::memcpy(dest, source, static_cast<size_t>(field->DataSize()));
  }
}

// ---------------------------------------------------------------------------------------------
// Buffers

TRecordBuffer TDataSet::ActiveBuffer() const {
  if (buffers_.empty() || active_record_ >= static_cast<int32_t>(buffers_.size())) return nullptr;
  return buffers_[static_cast<size_t>(active_record_)];
}

TRecordBuffer TDataSet::TempBuffer() const {
  if (buffers_.empty()) return nullptr;
  return buffers_[static_cast<size_t>(record_count_)];
}

void TDataSet::SetBufListSize(int32_t value) {
  // value is the number of ring buffers; one more serves as the spare (temporary) buffer.
  size_t wanted = value < 0 ? 0 : static_cast<size_t>(value) + 1;
  if (value == 0) wanted = 0;
  while (buffers_.size() > wanted) {
    TRecordBuffer b = buffers_.back();
    buffers_.pop_back();
    if (b != nullptr) FreeRecordBuffer(b);
  }
  while (buffers_.size() < wanted) buffers_.push_back(AllocRecordBuffer());
}

void TDataSet::SetBufferCount(int32_t value) {
  if (value < 1) value = 1;
  if (value == buffer_count_) return;
  if (record_count_ > value) {
    // Keep the active record inside the smaller window.
    int32_t drop = std::max(0, active_record_ - (value - 1));
    for (int32_t i = 0; i < drop; ++i) MoveBuffer(0, static_cast<int32_t>(buffers_.size()) - 1);
    active_record_ -= drop;
    record_count_ = std::min(record_count_ - drop, value);
    current_record_ = -1;
  }
  SetBufListSize(value);
  buffer_count_ = value;
  if (state_ == dsOpening) {
    ClearBuffers();
    GetNextRecords();
  } else if (state_ == dsBrowse && record_count_ > 0) {
    GetNextRecords();
    GetPriorRecords();
  }
}

void TDataSet::UpdateBufferCount() {
  if (!IsCursorOpen()) return;
  int32_t count = 1;
  for (TDataSource* ds : data_sources_)
    for (TDataLink* link : ds->links_) count = std::max(count, link->buffer_count_);
  SetBufferCount(count);
}

void TDataSet::ClearBuffers() {
  record_count_ = 0;
  active_record_ = 0;
  current_record_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  record_count_ = 1;
  active_record_ = 0;
  current_record_ = 0;
  bof_ = false;
  eof_ = false;
}

void TDataSet::MoveBuffer(int32_t cur_index, int32_t new_index) {
  if (cur_index == new_index) return;
  TRecordBuffer b = buffers_[static_cast<size_t>(cur_index)];
  buffers_.erase(buffers_.begin() + cur_index);
  buffers_.insert(buffers_.begin() + new_index, b);
}

void TDataSet::SetCurrentRecord(int32_t index) {
  if (current_record_ == index) return;
  TRecordBuffer b = buffers_[static_cast<size_t>(index)];
  switch (GetBookmarkFlag(b)) {
    case bfCurrent:
    case bfInserted: InternalSetToRecord(b); break;
    case bfBOF: InternalFirst(); break;
    case bfEOF: InternalLast(); break;
  }
  current_record_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (record_count_ > 0) SetCurrentRecord(active_record_);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (record_count_ > 0) {
    SetCurrentRecord(record_count_ - 1);
    if (state_ == dsInsert && current_record_ == active_record_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  bool ok = GetRecord(buffers_[static_cast<size_t>(record_count_)], mode, true) == grOK;
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      if (record_count_ < buffer_count_)
        ++record_count_;
      else
        MoveBuffer(0, record_count_);
    }
    current_record_ = record_count_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (record_count_ > 0) SetCurrentRecord(0);
  bool ok = GetRecord(buffers_[static_cast<size_t>(record_count_)], gmPrior, true) == grOK;
  if (ok) {
    if (record_count_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(record_count_, 0);
      if (record_count_ < buffer_count_) {
        ++record_count_;
        ++active_record_;
      }
    }
    current_record_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int32_t TDataSet::GetNextRecords() {
  int32_t n = 0;
  while (record_count_ < buffer_count_ && GetNextRecord()) ++n;
  return n;
}

int32_t TDataSet::GetPriorRecords() {
  int32_t n = 0;
  while (record_count_ < buffer_count_ && GetPriorRecord()) ++n;
  return n;
}

void TDataSet::Resync(TResyncMode mode) {
  if (buffers_.empty()) return;
  TRecordBuffer spare = buffers_[static_cast<size_t>(record_count_)];
  if (mode.Contains(rmExact)) {
    CursorPosChanged();
    if (GetRecord(spare, gmCurrent, true) != grOK) DatabaseError(dbmsg::RecordNotFound(), this);
  } else if (GetRecord(spare, gmCurrent, false) != grOK &&
             GetRecord(spare, gmNext, false) != grOK &&
             GetRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange, 0);
    return;
  }
  int32_t count = mode.Contains(rmCenter) ? (buffer_count_ - 1) / 2 : active_record_;
  MoveBuffer(record_count_, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange, 0);
    throw;
  }
  DataEvent(deDataSetChange, 0);
}

bool TDataSet::GetCurrentRecord(TRecordBuffer) { return false; }

bool TDataSet::IsEmpty() const { return bof_ && eof_; }

// ---------------------------------------------------------------------------------------------
// Navigation

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange, 0);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange, 0);
  DoAfterScroll();
}

int32_t TDataSet::MoveBy(int32_t distance) {
  CheckBrowseMode();
  int32_t result = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    int32_t old_record_count = record_count_;
    int32_t i = 0;
    int32_t scrolled = 0;
    auto finish = [&] {
      if (record_count_ != old_record_count)
        DataEvent(deDataSetChange, 0);
      else
        DataEvent(deDataSetScroll, scrolled);
    };
    try {
      while (i != distance) {
        if (i < distance) {
          if (active_record_ < record_count_ - 1) {
            ++active_record_;
          } else {
            bool full = record_count_ >= buffer_count_;
            if (GetNextRecord()) {
              if (full)
                --scrolled;
              else
                active_record_ = record_count_ - 1;
            } else {
              eof_ = true;
              break;
            }
          }
          ++i;
        } else {
          if (active_record_ > 0) {
            --active_record_;
          } else {
            bool full = record_count_ >= buffer_count_;
            if (GetPriorRecord()) {
              if (full) ++scrolled;
              else active_record_ = 0;
            } else {
              bof_ = true;
              break;
            }
          }
          --i;
        }
      }
    } catch (...) {
      finish();
      throw;
    }
    finish();
    result = i;
  }
  DoAfterScroll();
  return result;
}

void TDataSet::DoFind(bool restart, bool go_forward) {
  found_ = FindRecord(restart, go_forward);
}

bool TDataSet::FindFirst() {
  DoFind(true, true);
  return found_;
}
bool TDataSet::FindLast() {
  DoFind(true, false);
  return found_;
}
bool TDataSet::FindNext() {
  DoFind(false, true);
  return found_;
}
bool TDataSet::FindPrior() {
  DoFind(false, false);
  return found_;
}

int32_t TDataSet::RecordCount() { return -1; }
int32_t TDataSet::RecNo() { return -1; }
void TDataSet::SetRecNo(int32_t) {}
bool TDataSet::IsSequenced() { return false; }

// ---------------------------------------------------------------------------------------------
// States

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState, 0);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState old = state_;
  state_ = value;
  ++disable_count_;
  return old;
}

void TDataSet::RestoreState(TDataSetState value) {
  state_ = value;
  if (disable_count_ > 0) --disable_count_;
}

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError(dbmsg::DataSetReadOnly(), this);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(deCheckBrowseMode, 0);
  switch (state_) {
    case dsEdit:
    case dsInsert:
      UpdateRecord();
      if (modified_)
        Post();
      else
        Cancel();
      break;
    case dsSetKey: Post(); break;
    default: break;
  }
}

void TDataSet::UpdateRecord() {
  if (state_ != dsEdit && state_ != dsInsert && state_ != dsSetKey)
    DatabaseError(dbmsg::NotEditing(), this);
  DataEvent(deUpdateRecord, 0);
}

void TDataSet::CheckOperation(const std::function<void()>& operation,
                              const TDataSetErrorEvent& error_event) {
  for (;;) {
    try {
      UpdateCursorPos();
      operation();
      return;
    } catch (EDatabaseError& e) {
      TDataAction action = daFail;
      if (error_event) error_event(this, e, action);
      if (action == daFail) throw;
      if (action == daAbort) Abort();
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Editing

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeInsert();
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    DoOnNewRecord();
  } catch (...) {
    UpdateCursorPos();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange, 0);
  DoAfterInsert();
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmarkStr old_current = Bookmark();
  MoveBuffer(record_count_, active_record_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (record_count_ == 0)
    SetBookmarkFlag(buffer, bfBOF);
  else
    SetBookmarkData(buffer, old_current.data());
  if (record_count_ < buffer_count_) ++record_count_;
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0];
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  record_count_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Edit() {
  if (state_ == dsEdit || state_ == dsInsert) return;
  if (record_count_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoBeforeEdit();
  CheckOperation([this] { InternalEdit(); }, OnEditError);
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange, 0);
  DoAfterEdit();
}

void TDataSet::Post() {
  UpdateRecord();
  if (state_ == dsEdit || state_ == dsInsert) {
    DataEvent(deCheckBrowseMode, 0);
    DoBeforePost();
    CheckOperation([this] { InternalPost(); }, OnPostError);
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterPost();
  }
}

void TDataSet::Cancel() {
  if (state_ == dsEdit || state_ == dsInsert) {
    DataEvent(deCheckBrowseMode, 0);
    DoBeforeCancel();
    UpdateCursorPos();
    InternalCancel();
    FreeFieldBuffers();
    SetState(dsBrowse);
    Resync({});
    DoAfterCancel();
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (record_count_ == 0) DatabaseError(dbmsg::DataSetEmpty(), this);
  DataEvent(deCheckBrowseMode, 0);
  DoBeforeDelete();
  DoBeforeScroll();
  CheckOperation([this] { InternalDelete(); }, OnDeleteError);
  FreeFieldBuffers();
  SetState(dsBrowse);
  Resync({});
  DoAfterDelete();
  DoAfterScroll();
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  DoBeforeRefresh();
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
  DoAfterRefresh();
}

void TDataSet::ClearFields() {
  if (state_ != dsEdit && state_ != dsInsert) DatabaseError(dbmsg::NotEditing(), this);
  DataEvent(deCheckBrowseMode, 0);
  InternalInitRecord(ActiveBuffer());
  if (state_ != dsSetKey) GetCalcFields(ActiveBuffer());
  DataEvent(deRecordChange, 0);
}

void TDataSet::InternalPost() { CheckRequiredFields(); }

void TDataSet::CheckRequiredFields() {
  for (TField* f : fields_) {
    if (f->Required() && !f->ReadOnly() && f->FieldKind() == fkData &&
        f->DataType() != ftAutoInc && f->IsNull()) {
      f->FocusControl();
      DatabaseErrorFmt(dbmsg::FieldRequired(), {f->DisplayName()}, this);
    }
  }
}

void TDataSet::InternalHandleException() {}

void TDataSet::FreeFieldBuffers() {
  for (TField* f : fields_) {
    // Posting asks this for every row: the cheap virtual check spares the cast for most fields.
    if (!f->IsBlob()) continue;
    auto* blob = dynamic_cast<TBlobField*>(f);
    if (blob != nullptr && blob->Modified()) {
      CloseBlob(blob);
      blob->SetModified(false);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Calculated fields

void TDataSet::CalculateFields(TRecordBuffer buffer) {
  calc_buffer_ = buffer;
  TDataSetState saved = SetTempState(dsCalcFields);
  try {
    ClearCalcFields(calc_buffer_);
    DoOnCalcFields();
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
}

void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  if (calc_fields_size_ > 0 && buffer != nullptr) CalculateFields(buffer);
}

void TDataSet::UpdateCalcFields() {
  if (state_ != dsSetKey && calc_fields_size_ > 0 && auto_calc_fields_) {
    UpdateCursorPos();
    CalculateFields(ActiveBuffer());
  }
}

// ---------------------------------------------------------------------------------------------
// Bookmarks

TBookmarkStr TDataSet::GetBookmarkStr() {
  TBookmarkStr result;
  if ((state_ == dsBrowse || state_ == dsEdit || state_ == dsInsert) && !IsEmpty() &&
      bookmark_size_ > 0) {
    TRecordBuffer b = ActiveBuffer();
    TBookmarkFlag flag = GetBookmarkFlag(b);
    if (flag == bfCurrent || flag == bfInserted) {
      result.assign(static_cast<size_t>(bookmark_size_), '\0');
      GetBookmarkData(b, result.data());
    }
  }
  return result;
}

TBookmark TDataSet::GetBookmark() { return GetBookmarkStr(); }

void TDataSet::SetBookmark(const TBookmarkStr& value) { GotoBookmark(value); }

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark.data());
  Resync({rmExact, rmCenter});
  DoAfterScroll();
}

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

int32_t TDataSet::CompareBookmarks(const TBookmark&, const TBookmark&) { return 0; }

// ---------------------------------------------------------------------------------------------
// Searching

bool TDataSet::RecordMatches(const std::vector<TField*>& fields, const Variant& key_values,
                             TLocateOptions options) const {
  for (size_t i = 0; i < fields.size(); ++i) {
    TField* f = fields[i];
    Variant v = fields.size() == 1 && !VarIsArray(key_values)
                    ? key_values
                    : key_values.GetElement({static_cast<int32_t>(i)});
    if (VarIsNull(v) || VarIsEmpty(v)) {
      if (!f->IsNull()) return false;
      continue;
    }
    if (f->DataType() == ftString || f->DataType() == ftFixedChar ||
        f->DataType() == ftWideString || f->DataType() == ftGuid) {
      if (f->IsNull()) return false;
      AnsiString text = f->AsString();
      AnsiString key = VarToStr(v);
      if (options.Contains(loPartialKey) && text.size() > key.size()) text.resize(key.size());
      bool same = options.Contains(loCaseInsensitive) ? AnsiSameText(text, key) : text == key;
      if (!same) return false;
    } else {
      if (f->IsNull()) return false;
      if (!(f->AsVariant() == v)) return false;
    }
  }
  return true;
}

bool TDataSet::Locate(const AnsiString& key_fields, const Variant& key_values,
                      TLocateOptions options) {
  CheckBrowseMode();
  if (IsEmpty()) return false;
  std::vector<TField*> fields;
  GetFieldList(fields, key_fields);
  TBookmark saved = GetBookmark();
  bool found = false;
  DisableControls();
  try {
    First();
    while (!Eof()) {
      if (RecordMatches(fields, key_values, options)) {
        found = true;
        break;
      }
      Next();
    }
    if (!found && !saved.empty() && BookmarkValid(saved)) GotoBookmark(saved);
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
  return found;
}

Variant TDataSet::Lookup(const AnsiString& key_fields, const Variant& key_values,
                         const AnsiString& result_fields) {
  Variant result = Null();
  CheckBrowseMode();
  if (IsEmpty()) return result;
  std::vector<TField*> fields;
  GetFieldList(fields, key_fields);
  TBookmark saved = GetBookmark();
  DisableControls();
  try {
    First();
    while (!Eof()) {
      if (RecordMatches(fields, key_values, {})) {
        result = FieldValues(result_fields);
        break;
      }
      Next();
    }
    if (!saved.empty() && BookmarkValid(saved)) GotoBookmark(saved);
  } catch (...) {
    EnableControls();
    throw;
  }
  EnableControls();
  return result;
}

// ---------------------------------------------------------------------------------------------
// Filters

void TDataSet::SetFiltered(bool value) { filtered_ = value; }
void TDataSet::SetFilterText(const AnsiString& value) { filter_text_ = value; }
void TDataSet::SetFilterOptions(TFilterOptions value) { filter_options_ = value; }
void TDataSet::SetOnFilterRecord(const TFilterRecordEvent& value) { on_filter_record_ = value; }

// ---------------------------------------------------------------------------------------------
// Controls and events

void TDataSet::DisableControls() {
  if (disable_count_ == 0) {
    disable_state_ = state_;
    enable_event_ = deDataSetChange;
  }
  ++disable_count_;
}

void TDataSet::EnableControls() {
  if (disable_count_ == 0) return;
  --disable_count_;
  if (disable_count_ == 0) {
    if (disable_state_ != state_) DataEvent(deUpdateState, 0);
    if (disable_state_ != dsInactive && state_ != dsInactive) DataEvent(enable_event_, 0);
  }
}

void TDataSet::DataEvent(TDataEvent event, intptr_t info) {
  switch (event) {
    case deFieldChange: {
      auto* f = reinterpret_cast<TField*>(info);
      if (f->FieldKind() == fkData || f->FieldKind() == fkInternalCalc) modified_ = true;
      if (state_ != dsSetKey) UpdateCalcFields();
      f->Change();
      break;
    }
    case dePropertyChange: field_defs_->SetUpdated(false); break;
    default: break;
  }
  if (disable_count_ == 0) {
    std::vector<TDataSource*> sources = data_sources_;
    for (TDataSource* ds : sources) ds->DataEvent(event, info);
  } else if ((event == deUpdateState && state_ == dsInactive) || event == deLayoutChange) {
    enable_event_ = deLayoutChange;
  }
}

void TDataSet::AddDataSource(TDataSource* ds) {
  data_sources_.push_back(ds);
  UpdateBufferCount();
}

void TDataSet::RemoveDataSource(TDataSource* ds) {
  auto it = std::find(data_sources_.begin(), data_sources_.end(), ds);
  if (it != data_sources_.end()) data_sources_.erase(it);
  if (!destroying_ && state_ != dsInactive) UpdateBufferCount();
}

bool TDataSet::IsLinkedTo(const TDataSource* data_source) const {
  const TDataSet* ds = this;
  int guard = 0;
  while (ds != nullptr && guard++ < 1000) {
    TDataSource* src = ds->GetDataSource();
    if (src == nullptr) return false;
    if (src == data_source) return true;
    ds = src->DataSet();
  }
  return false;
}

void TDataSet::GetDetailDataSets(std::vector<TDataSet*>& list) {
  for (TDataSource* ds : data_sources_)
    for (TDataLink* link : ds->links_) {
      TDataSet* detail = link->GetDetailDataSet();
      if (detail != nullptr) list.push_back(detail);
    }
}

void TDataSet::GetDetailLinkFields(std::vector<TField*>&, std::vector<TField*>&) {}

void TDataSet::DoAfterOpen() { if (AfterOpen) AfterOpen(this); }
void TDataSet::DoBeforeOpen() { if (BeforeOpen) BeforeOpen(this); }
void TDataSet::DoAfterClose() { if (AfterClose) AfterClose(this); }
void TDataSet::DoBeforeClose() { if (BeforeClose) BeforeClose(this); }
void TDataSet::DoBeforeInsert() { if (BeforeInsert) BeforeInsert(this); }
void TDataSet::DoAfterInsert() { if (AfterInsert) AfterInsert(this); }
void TDataSet::DoBeforeEdit() { if (BeforeEdit) BeforeEdit(this); }
void TDataSet::DoAfterEdit() { if (AfterEdit) AfterEdit(this); }
void TDataSet::DoBeforePost() { if (BeforePost) BeforePost(this); }
void TDataSet::DoAfterPost() { if (AfterPost) AfterPost(this); }
void TDataSet::DoBeforeCancel() { if (BeforeCancel) BeforeCancel(this); }
void TDataSet::DoAfterCancel() { if (AfterCancel) AfterCancel(this); }
void TDataSet::DoBeforeDelete() { if (BeforeDelete) BeforeDelete(this); }
void TDataSet::DoAfterDelete() { if (AfterDelete) AfterDelete(this); }
void TDataSet::DoBeforeScroll() { if (BeforeScroll) BeforeScroll(this); }
void TDataSet::DoAfterScroll() { if (AfterScroll) AfterScroll(this); }
void TDataSet::DoBeforeRefresh() { if (BeforeRefresh) BeforeRefresh(this); }
void TDataSet::DoAfterRefresh() { if (AfterRefresh) AfterRefresh(this); }
void TDataSet::DoOnNewRecord() { if (OnNewRecord) OnNewRecord(this); }
void TDataSet::DoOnCalcFields() { if (OnCalcFields) OnCalcFields(this); }

}  // namespace pelvar
