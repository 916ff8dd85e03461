// TMemoryData: the in-memory dataset.
#include "dbadapters/MemoryData.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/application.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

constexpr int32_t kNotSupported = -1;
constexpr int32_t kBlob = -2;

// Bytes a value of the type takes after its "has value" flag in the record data.
int32_t FieldLength(TFieldType type, int32_t size) {
  switch (type) {
    case ftString: case ftFixedChar: return size + 1;
    case ftSmallint: case ftWord: case ftBoolean: return 2;
    case ftInteger: case ftDate: case ftTime: case ftAutoInc: return 4;
    case ftFloat: case ftCurrency: case ftDateTime: case ftLargeint: return 8;
    case ftBCD: return static_cast<int32_t>(sizeof(TBcd));
    case ftBytes: return size;
    case ftVarBytes: return size + 2;
    case ftWideString: return 2 * size + 2;
    case ftADT: return 0;
    case ftGuid: return 39;
    // A variant keeps only its flag in the record data; the value lives in a slot of its
    // own beside the record (a variant is not a plain block of bytes here).
    case ftVariant: return 0;
    case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
    case ftTypedBinary: case ftOraBlob: case ftOraClob:
      return kBlob;
    default: return kNotSupported;
  }
}

// Keys of Locate's index: a tag, then the value; a null integer never equals a wanted one.
void AppendIntegerKey(std::string& key, bool has_value, int32_t value) {
  key += has_value ? 'I' : 'N';
  if (has_value) key.append(reinterpret_cast<const char*>(&value), sizeof value);
}
void AppendTextKey(std::string& key, const std::string& text) {
  const auto length = static_cast<uint32_t>(text.size());
  key += 'T';
  key.append(reinterpret_cast<const char*>(&length), sizeof length);
  key += text;
}

// Up to this many records Locate compares them one by one; beyond, it keeps an index.
constexpr size_t kScanLimit = 8;

bool IsTextType(TFieldType t) {
  return t == ftString || t == ftFixedChar || t == ftWideString || t == ftGuid;
}

AnsiString UnknownTypeMessage() { return CZ("Pole '%s' je neznámého typu"); }
AnsiString UnexpectedTypeMessage() { return CZ("Pole '%s' není očekávaného typu"); }

bool EditingState(TDataSetState s) {
  return s == dsEdit || s == dsInsert || s == dsSetKey || s == dsCalcFields || s == dsFilter ||
         s == dsNewValue || s == dsInternalCalc;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Records

TMemoryRecord::TMemoryRecord(TMemoryData* table) : table_(table) {
  // IDs never wrap: a wrapped ID would make bookmarks point at the wrong rows.
  id_ = CheckedAdd(table->last_id_, int32_t{1});
  table->last_id_ = id_;
  data_.assign(static_cast<size_t>(table->data_size_), 0);
  blobs_.resize(static_cast<size_t>(table->BlobFieldCount()));
  variants_.resize(static_cast<size_t>(table->variant_count_));
}

TMemoryRecord::~TMemoryRecord() = default;

uint8_t* TMemoryRecord::Data() {
  table_->DropLocateIndexes();
  return data_.data();
}

int32_t TMemoryRecord::Index() const {
  const auto& list = table_->records_;
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].get() == this) return static_cast<int32_t>(i);
  return -1;
}

void TMemoryRecord::SetIndex(int32_t index) {
  auto& list = table_->records_;
  table_->DropLocateIndexes();
  int32_t cur = Index();
  if (cur < 0 || cur == index) return;
  std::unique_ptr<TMemoryRecord> self = std::move(list[static_cast<size_t>(cur)]);
  list.erase(list.begin() + cur);
  index = std::clamp(index, 0, static_cast<int32_t>(list.size()));
  list.insert(list.begin() + index, std::move(self));
}

TMemoryRecord* TMemoryData::AddRecord() {
  records_.push_back(std::make_unique<TMemoryRecord>(this));
  return records_.back().get();
}

TMemoryRecord* TMemoryData::InsertRecord(int32_t index) {
  TMemoryRecord* rec = AddRecord();
  rec->SetIndex(index);
  return rec;
}

void TMemoryData::FreeRecord(int32_t index) {
  DropLocateIndexes();
  records_.erase(records_.begin() + index);
}

void TMemoryData::ClearRecords() {
  DropLocateIndexes();
  records_.clear();
  last_id_ = kLowestID;
  pos_ = -1;
}

int32_t TMemoryData::FindRecordID(int32_t id) const {
  for (size_t i = 0; i < records_.size(); ++i)
    if (records_[i]->id_ == id) return static_cast<int32_t>(i);
  return -1;
}

// ---------------------------------------------------------------------------------------------
// Life

TMemoryData::TMemoryData(TComponent* owner) : TDataSet(owner) {}

TMemoryData::~TMemoryData() {
  Destroying();
  try {
    Close();
  } catch (...) {
  }
  deleted_keys_.clear();
  sort_fields_.clear();
  records_.clear();
}

void TMemoryData::SetApplyMode(TApplyMode v) {
  if (v == apply_mode_) return;
  CheckInactive();
  apply_mode_ = v;
}

void TMemoryData::SetCapacity(int32_t v) {
  if (v > 0) records_.reserve(static_cast<size_t>(v));
}

// ---------------------------------------------------------------------------------------------
// Record buffers

std::string* TMemoryData::BlobTexts(TRecordBuffer buffer) const {
  return std::launder(reinterpret_cast<std::string*>(buffer + blob_offset_));
}

Variant* TMemoryData::VariantSlots(TRecordBuffer buffer) const {
  return std::launder(reinterpret_cast<Variant*>(buffer + variant_offset_));
}

int32_t TMemoryData::VariantSlotOf(const TField* field) const {
  int32_t def = DefIndexOf(field);
  return def < 0 ? -1 : variant_slots_[static_cast<size_t>(def)];
}

TRecordBuffer TMemoryData::AllocRecordBuffer() {
  auto* buffer = new uint8_t[static_cast<size_t>(record_buffer_size_)]();
  std::string* texts = reinterpret_cast<std::string*>(buffer + blob_offset_);
  for (int32_t i = 0; i < BlobFieldCount(); ++i) new (texts + i) std::string();
  Variant* variants = reinterpret_cast<Variant*>(buffer + variant_offset_);
  for (int32_t i = 0; i < variant_count_; ++i) new (variants + i) Variant();
  return buffer;
}

void TMemoryData::FreeRecordBuffer(TRecordBuffer& buffer) {
  if (buffer == nullptr) return;
  std::string* texts = BlobTexts(buffer);
  for (int32_t i = 0; i < BlobFieldCount(); ++i) texts[i].~basic_string();
  Variant* variants = VariantSlots(buffer);
  for (int32_t i = 0; i < variant_count_; ++i) variants[i].~Variant();
  delete[] buffer;
  buffer = nullptr;
}

void TMemoryData::InternalInitRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, static_cast<size_t>(bookmark_offset_ + 8));
  std::string* texts = BlobTexts(buffer);
  for (int32_t i = 0; i < BlobFieldCount(); ++i) texts[i].clear();
  Variant* variants = VariantSlots(buffer);
  for (int32_t i = 0; i < variant_count_; ++i) variants[i] = Variant();
}

void TMemoryData::InitRecord(TRecordBuffer buffer) {
  TDataSet::InitRecord(buffer);
  std::memcpy(buffer + bookmark_offset_, &kLowestID, 4);
  buffer[bookmark_offset_ + 4] = bfInserted;
}

void TMemoryData::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + data_size_, 0, static_cast<size_t>(CalcFieldsSize()));
}

uint16_t TMemoryData::GetRecordSize() { return static_cast<uint16_t>(data_size_); }

void TMemoryData::GetBookmarkData(TRecordBuffer buffer, void* data) {
  std::memcpy(data, buffer + bookmark_offset_, 4);
}

void TMemoryData::SetBookmarkData(TRecordBuffer buffer, const void* data) {
  std::memcpy(buffer + bookmark_offset_, data, 4);
}

TBookmarkFlag TMemoryData::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[bookmark_offset_ + 4]);
}

void TMemoryData::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag value) {
  buffer[bookmark_offset_ + 4] = static_cast<uint8_t>(value);
}

void TMemoryData::CopyRecordToBuffer(int32_t index, TRecordBuffer buffer) {
  const TMemoryRecord* rec = records_[static_cast<size_t>(index)].get();
  if (data_size_ > 0) std::memcpy(buffer, rec->Data(), static_cast<size_t>(data_size_));
  std::memcpy(buffer + bookmark_offset_, &rec->id_, 4);
  buffer[bookmark_offset_ + 4] = bfCurrent;
  std::string* texts = BlobTexts(buffer);
  for (int32_t i = 0; i < BlobFieldCount(); ++i) texts[i] = rec->blobs_[static_cast<size_t>(i)];
  Variant* variants = VariantSlots(buffer);
  for (int32_t i = 0; i < variant_count_; ++i) variants[i] = rec->variants_[static_cast<size_t>(i)];
}

void TMemoryData::SetMemoryRecordData(TRecordBuffer buffer, int32_t index) {
  if (State() == dsFilter) DatabaseError(dbmsg::NotEditing(), this);
  TMemoryRecord* rec = records_[static_cast<size_t>(index)].get();
  // A covered record whose indexed key changes leaves its index stale.
  for (const auto& ix : locate_indexes_) {
    if (static_cast<size_t>(index) < ix->covered && LocateKeyOf(*ix, rec->data_.data()) != LocateKeyOf(*ix, buffer)) {
      DropLocateIndexes();
      break;
    }
  }
  if (data_size_ > 0) std::memcpy(rec->data_.data(), buffer, static_cast<size_t>(data_size_));
  std::string* texts = BlobTexts(buffer);
  for (int32_t i = 0; i < BlobFieldCount(); ++i) rec->blobs_[static_cast<size_t>(i)] = texts[i];
  Variant* variants = VariantSlots(buffer);
  for (int32_t i = 0; i < variant_count_; ++i) rec->variants_[static_cast<size_t>(i)] = variants[i];
}

void TMemoryData::SetAutoIncFields(TRecordBuffer buffer) {
  int32_t count = 0;
  for (TField* f : fields_) {
    if (f->FieldKind() != fkData || f->DataType() != ftAutoInc) continue;
    uint8_t* p = FieldPtr(buffer, f);
    if (p == nullptr) continue;
    p[0] = 1;
    std::memcpy(p + 1, &auto_inc_, 4);
    ++count;
  }
  if (count > 0) ++auto_inc_;
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TMemoryData::InitFieldDefsFromFields() {
  FieldDefs().Clear();
  for (TField* f : fields_) {
    if (f->FieldKind() != fkData) continue;
    if (FieldLength(f->DataType(), f->Size()) == kNotSupported)
      DatabaseErrorFmt(UnknownTypeMessage(), {f->DisplayName()}, this);
    TFieldDef* def = FieldDefs().Add(f->FieldName(), f->DataType(), f->Size(), f->Required());
    if (auto* bcd = dynamic_cast<TBCDField*>(f)) def->SetPrecision(bcd->Precision());
    if (f->ReadOnly()) def->SetAttributes(def->Attributes().Include(faReadonly));
  }
}

void TMemoryData::CalcRecordSizes() {
  const TFieldDefs& defs = FieldDefs();
  offsets_.assign(static_cast<size_t>(defs.Count()), -1);
  variant_slots_.assign(static_cast<size_t>(defs.Count()), -1);
  variant_count_ = 0;
  def_by_field_no_.clear();
  int32_t offset = 0;
  for (int32_t i = 0; i < defs.Count(); ++i) {
    const TFieldDef* def = defs.Items(i);
    int32_t no = def->FieldNo();
    if (no >= 0) {
      if (static_cast<size_t>(no) >= def_by_field_no_.size())
        def_by_field_no_.resize(static_cast<size_t>(no) + 1, -1);
      def_by_field_no_[static_cast<size_t>(no)] = i;
    }
    int32_t len = FieldLength(def->DataType(), def->Size());
    if (len < 0) continue;  // blobs live outside the record data
    offsets_[static_cast<size_t>(i)] = offset;
    offset += len + 1;
    if (def->DataType() == ftVariant) variant_slots_[static_cast<size_t>(i)] = variant_count_++;
  }
  data_size_ = offset;
}

void TMemoryData::EnsureStatusField() {
  TField* f = FindField(status_name_);
  if (f == nullptr) {
    f = new TSmallintField(this);
    try {
      f->SetFieldName(status_name_);
      f->SetDataSet(this);
    } catch (...) {
      delete f;
      throw;
    }
  }
  f->SetVisible(false);
}

void TMemoryData::OpenCursor(bool info_query) {
  try {
    if (source_ != nullptr && load_structure_)
      AssignStructure(source_, auto_inc_as_integer_);
    else if (apply_mode_ != amNone)
      EnsureStatusField();
  } catch (const EAbort&) {
    throw;
  } catch (...) {
    Abort();
  }
  if (!info_query) {
    if (FieldCount() > 0) FieldDefs().Clear();
    if (FieldDefs().Count() == 0) InitFieldDefsFromFields();
    sort_fields_.clear();
    CalcRecordSizes();
    open_ = true;
  }
  TDataSet::OpenCursor(info_query);
}

void TMemoryData::InternalInitFieldDefs() {
  if (FieldCount() > 0) InitFieldDefsFromFields();
}

void TMemoryData::InternalOpen() {
  DropLocateIndexes();
  SetBookmarkSize(4);
  if (DefaultFields()) CreateFields();
  BindFields(true);
  CalcRecordSizes();
  bookmark_offset_ = data_size_ + CalcFieldsSize();
  constexpr int32_t align = alignof(std::string);
  blob_offset_ = (bookmark_offset_ + 8 + align - 1) / align * align;
  int32_t after_blobs = blob_offset_ + static_cast<int32_t>(sizeof(std::string)) * BlobFieldCount();
  constexpr int32_t valign = alignof(Variant);
  variant_offset_ = (after_blobs + valign - 1) / valign * valign;
  record_buffer_size_ = variant_offset_ + static_cast<int32_t>(sizeof(Variant)) * variant_count_;
  pos_ = -1;
}

void TMemoryData::DoAfterOpen() {
  if (source_ != nullptr && load_records_) {
    bool was_active = source_->Active();
    if (!was_active) source_->Open();
    int32_t copied = CopyRows();
    if (copied > 0) {
      SortRecords(key_field_names_, true, false);
      if (apply_mode_ == amAppend)
        Last();
      else
        First();
    }
    if (!was_active && data_set_closed_ && source_->Active()) source_->Close();
  } else if (!records_.empty()) {
    SortRecords(key_field_names_, true, false);
  }
  TDataSet::DoAfterOpen();
}

void TMemoryData::InternalClose() {
  DropLocateIndexes();
  ClearRecords();
  auto_inc_ = 1;
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  sort_fields_.clear();
  open_ = false;
}

void TMemoryData::InternalHandleException() {
  Application()->HandleException(this);
}

// ---------------------------------------------------------------------------------------------
// Navigation

bool TMemoryData::RecordFilter() {
  if (!on_filter_record_) return true;
  if (pos_ < 0 || pos_ >= static_cast<int32_t>(records_.size())) return false;
  filter_buffer_ = TempBuffer();
  CopyRecordToBuffer(pos_, filter_buffer_);
  bool accept = true;
  TDataSetState saved = SetTempState(dsFilter);
  try {
    on_filter_record_(this, accept);
  } catch (...) {
    InternalHandleException();
  }
  RestoreState(saved);
  return accept;
}

TGetResult TMemoryData::GetRecord(TRecordBuffer buffer, TGetMode mode, bool do_check) {
  const int32_t last = static_cast<int32_t>(records_.size()) - 1;
  TGetResult result = grOK;
  bool accepted = false;
  switch (mode) {
    case gmCurrent:
      if (pos_ < 0 || pos_ > last || (Filtered() && !RecordFilter())) result = grError;
      break;
    case gmNext:
      if (pos_ < last) {
        while (!accepted && pos_ < last) {
          ++pos_;
          accepted = !Filtered() || RecordFilter();
        }
        if (!accepted) {
          pos_ = last;
          result = grEOF;
        }
      } else {
        result = grEOF;
      }
      break;
    case gmPrior:
      if (pos_ > 0) {
        while (!accepted && pos_ > 0) {
          --pos_;
          accepted = !Filtered() || RecordFilter();
        }
        if (!accepted) {
          pos_ = -1;
          result = grBOF;
        }
      } else {
        pos_ = -1;
        result = grBOF;
      }
      break;
  }
  if (result == grOK) {
    CopyRecordToBuffer(pos_, buffer);
    GetCalcFields(buffer);
  } else if (result == grError && do_check) {
    DatabaseError("No data found", this);
  }
  return result;
}

void TMemoryData::InternalFirst() { pos_ = -1; }
void TMemoryData::InternalLast() { pos_ = static_cast<int32_t>(records_.size()); }

int32_t TMemoryData::RecordCount() { return static_cast<int32_t>(records_.size()); }

int32_t TMemoryData::RecNo() {
  CheckActive();
  UpdateCursorPos();
  if (pos_ == -1 && !records_.empty()) return 1;
  return pos_ + 1;
}

void TMemoryData::SetRecNo(int32_t value) {
  // A pending edit is posted (or an unmodified one cancelled) before the cursor moves, as
  // every other move does; re-reading the buffers would silently drop it.
  CheckBrowseMode();
  if (value >= 1 && value <= static_cast<int32_t>(records_.size())) {
    pos_ = value - 1;
    Resync({});
  }
}

bool TMemoryData::IsSequenced() { return !Filtered(); }

bool TMemoryData::GetCurrentRecord(TRecordBuffer buffer) {
  if (IsEmpty() || GetBookmarkFlag(ActiveBuffer()) != bfCurrent) return false;
  UpdateCursorPos();
  if (pos_ < 0 || pos_ >= static_cast<int32_t>(records_.size())) return false;
  const TMemoryRecord* rec = records_[static_cast<size_t>(pos_)].get();
  if (data_size_ > 0) std::memcpy(buffer, rec->Data(), static_cast<size_t>(data_size_));
  return true;
}

void TMemoryData::SetFiltered(bool value) {
  if (Active()) {
    CheckBrowseMode();
    if (Filtered() != value) {
      TDataSet::SetFiltered(value);
      First();
    }
  } else {
    TDataSet::SetFiltered(value);
  }
}

void TMemoryData::SetOnFilterRecord(const TFilterRecordEvent& value) {
  if (Active()) {
    CheckBrowseMode();
    TDataSet::SetOnFilterRecord(value);
    if (Filtered()) First();
  } else {
    TDataSet::SetOnFilterRecord(value);
  }
}

// ---------------------------------------------------------------------------------------------
// Bookmarks

bool TMemoryData::BookmarkValid(const TBookmark& bookmark) {
  if (bookmark.size() < 4 || !open_) return false;
  int32_t id;
  std::memcpy(&id, bookmark.data(), 4);
  return id != kLowestID && id <= last_id_;
}

int32_t TMemoryData::CompareBookmarks(const TBookmark& b1, const TBookmark& b2) {
  if (b1.empty() && b2.empty()) return 0;
  if (b1.empty()) return -1;
  if (b2.empty()) return 1;
  int32_t id1, id2;
  std::memcpy(&id1, b1.data(), 4);
  std::memcpy(&id2, b2.data(), 4);
  return id1 < id2 ? -1 : (id1 > id2 ? 1 : 0);
}

void TMemoryData::InternalGotoBookmark(const void* bookmark) {
  int32_t id;
  std::memcpy(&id, bookmark, 4);
  int32_t index = FindRecordID(id);
  if (index < 0) return;
  int32_t old = pos_;
  pos_ = index;
  if (Filtered() && !RecordFilter()) pos_ = old;
}

void TMemoryData::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(buffer + bookmark_offset_);
}

// ---------------------------------------------------------------------------------------------
// Field data

TRecordBuffer TMemoryData::GetActiveRecBuf() {
  switch (State()) {
    case dsBrowse: return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit: case dsInsert: return ActiveBuffer();
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return filter_buffer_;
    default: return nullptr;
  }
}

int32_t TMemoryData::DefIndexOf(const TField* field) const {
  int32_t no = field->FieldNo();
  if (no <= 0 || static_cast<size_t>(no) >= def_by_field_no_.size()) return -1;
  return def_by_field_no_[static_cast<size_t>(no)];
}

uint8_t* TMemoryData::FieldPtr(TRecordBuffer buffer, const TField* field) const {
  int32_t def = DefIndexOf(field);
  if (def < 0 || offsets_[static_cast<size_t>(def)] < 0) return nullptr;
  return buffer + offsets_[static_cast<size_t>(def)];
}

bool TMemoryData::FieldHasValue(const uint8_t* p, TFieldType type) const {
  if (p[0] == 0) return false;
  if (type == ftWideString) {
    uint16_t len;
    std::memcpy(&len, p + 1, 2);
    return len != 0;
  }
  if (IsTextType(type)) return p[1] != 0;  // an empty text reads as null
  return true;
}

bool TMemoryData::GetFieldData(TField* field, void* buffer) {
  TRecordBuffer rec = GetActiveRecBuf();
  if (rec == nullptr) return false;
  if (field->FieldNo() <= 0) {
    TDataSetState st = State();
    if (st != dsBrowse && st != dsEdit && st != dsInsert && st != dsCalcFields) return false;
    const uint8_t* p = rec + data_size_ + field->Offset();
    bool result = p[0] != 0;
    if (result && buffer != nullptr)
      std::memcpy(buffer, p + 1, static_cast<size_t>(field->DataSize()));
    return result;
  }
  if (field->IsBlob()) {
    int32_t n = field->Offset();
    if (n < 0 || n >= BlobFieldCount()) return false;
    return !BlobTexts(rec)[n].empty();
  }
  const uint8_t* p = FieldPtr(rec, field);
  if (p == nullptr) return false;
  bool result = FieldHasValue(p, field->DataType());
  int32_t slot = VariantSlotOf(field);
  if (slot >= 0) {
    if (result && buffer != nullptr) *static_cast<Variant*>(buffer) = VariantSlots(rec)[slot];
    return result;
  }
  if (result && buffer != nullptr) {
    int32_t def = DefIndexOf(field);
    const TFieldDef* fd = FieldDefs().Items(def);
    std::memcpy(buffer, p + 1, static_cast<size_t>(FieldLength(fd->DataType(), fd->Size())));
  }
  return result;
}

void TMemoryData::SetFieldData(TField* field, const void* buffer) {
  TDataSetState st = State();
  if (!EditingState(st)) DatabaseError(dbmsg::NotEditing(), this);
  TRecordBuffer rec = GetActiveRecBuf();
  if (rec != nullptr) {
    if (field->FieldNo() <= 0) {
      uint8_t* p = rec + data_size_ + field->Offset();
      p[0] = buffer != nullptr ? 1 : 0;
      if (buffer != nullptr)
        std::memcpy(p + 1, buffer, static_cast<size_t>(field->DataSize()));
      else
        std::memset(p + 1, 0, static_cast<size_t>(field->DataSize()));
    } else {
      if (st == dsCalcFields || st == dsFilter) DatabaseError(dbmsg::NotEditing(), this);
      if (field->ReadOnly() && st != dsSetKey && st != dsFilter)
        DatabaseErrorFmt(dbmsg::FieldReadOnly(), {field->DisplayName()}, this);
      field->Validate(buffer);
      int32_t slot = field->FieldKind() != fkInternalCalc ? VariantSlotOf(field) : -1;
      if (slot >= 0) {
        uint8_t* p = FieldPtr(rec, field);
        const Variant v = buffer != nullptr ? *static_cast<const Variant*>(buffer) : Null();
        bool has = !VarIsNull(v) && !VarIsEmpty(v);
        p[0] = has ? 1 : 0;
        VariantSlots(rec)[slot] = has ? v : Variant();
      } else if (field->FieldKind() != fkInternalCalc) {
        uint8_t* p = FieldPtr(rec, field);
        if (p != nullptr) {
          int32_t def = DefIndexOf(field);
          const TFieldDef* fd = FieldDefs().Items(def);
          size_t len = static_cast<size_t>(FieldLength(fd->DataType(), fd->Size()));
          p[0] = buffer != nullptr ? 1 : 0;
          if (buffer != nullptr)
            std::memcpy(p + 1, buffer, len);
          else
            std::memset(p + 1, 0, len);
        }
      }
    }
  }
  if (st != dsCalcFields && st != dsFilter && st != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field));
}

void TMemoryData::CloseBlob(TField* field) {
  TRecordBuffer active = ActiveBuffer();
  if (active == nullptr || field->Offset() < 0 || field->Offset() >= BlobFieldCount()) return;
  std::string& text = BlobTexts(active)[field->Offset()];
  if (State() == dsEdit && pos_ >= 0 && pos_ < static_cast<int32_t>(records_.size()))
    text = records_[static_cast<size_t>(pos_)]->blobs_[static_cast<size_t>(field->Offset())];
  else
    text.clear();
}

std::unique_ptr<TStream> TMemoryData::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<TMemBlobStream>(field, mode);
}

// ---------------------------------------------------------------------------------------------
// Change status

int32_t TMemoryData::StatusOf(TRecordBuffer buffer) const {
  TField* f = FindField(status_name_);
  if (f == nullptr) return 0;
  const uint8_t* p = FieldPtr(buffer, f);
  if (p == nullptr || p[0] == 0) return 0;
  int16_t v;
  std::memcpy(&v, p + 1, 2);
  return v;
}

void TMemoryData::SetStatus(TRecordBuffer buffer, int32_t status) {
  TField* f = FindField(status_name_);
  if (f == nullptr) return;
  uint8_t* p = FieldPtr(buffer, f);
  if (p == nullptr) return;
  int16_t v = static_cast<int16_t>(status);
  p[0] = 1;
  std::memcpy(p + 1, &v, 2);
}

Variant TMemoryData::GetKeyValues() {
  std::vector<AnsiString> names;
  size_t start = 0;
  for (;;) {
    size_t end = key_field_names_.find(';', start);
    if (end == AnsiString::npos) {
      names.push_back(Trim(std::string_view(key_field_names_).substr(start)));
      break;
    }
    names.push_back(Trim(std::string_view(key_field_names_).substr(start, end - start)));
    start = end + 1;
  }
  const int32_t n = static_cast<int32_t>(names.size());
  Variant result = VarArrayCreate({0, n}, varVariant);
  for (int32_t i = 0; i < n; ++i) {
    TField* f = FindField(names[static_cast<size_t>(i)]);
    if (f != nullptr) result.PutElement({i}, f->AsVariant());
  }
  return result;
}

bool TMemoryData::KeyIsDeleted(const Variant& key, bool remove) {
  for (size_t k = 0; k < deleted_keys_.size(); ++k) {
    const Variant& entry = deleted_keys_[k];
    int32_t high = VarArrayHighBound(entry, 1);
    bool same = true;
    for (int32_t i = 0; i < high && same; ++i)
      same = VarCompareValue(entry.GetElement({i}), key.GetElement({i})) == vrEqual;
    if (same) {
      if (remove) deleted_keys_.erase(deleted_keys_.begin() + static_cast<ptrdiff_t>(k));
      return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------------------------------------
// Editing

void TMemoryData::InternalPost() {
  TDataSet::InternalPost();
  TRecordBuffer buffer = ActiveBuffer();
  if (apply_mode_ != amNone && !loading_) {
    if (State() == dsEdit) {
      if (StatusOf(buffer) == 0) {
        if (apply_mode_ == amAppend) {
          Cancel();
          return;
        }
        SetStatus(buffer, 1);
        ++changed_count_;
      }
    } else if (State() == dsInsert) {
      Variant key = GetKeyValues();
      if (KeyIsDeleted(key, true)) {
        SetStatus(buffer, apply_mode_ == amAppend ? 2 : 1);
      } else {
        SetStatus(buffer, 2);
        ++changed_count_;
      }
    }
  }
  if (State() == dsEdit) {
    SetMemoryRecordData(buffer, pos_);
    return;
  }
  SetAutoIncFields(buffer);
  const int32_t count = static_cast<int32_t>(records_.size());
  if (count > 0 && pos_ < count) {
    int32_t index = std::max(pos_, 0);
    InsertRecord(index);
    SetMemoryRecordData(buffer, index);
    pos_ = index;
  } else {
    AddRecord();
    pos_ = static_cast<int32_t>(records_.size()) - 1;
    SetMemoryRecordData(buffer, pos_);
  }
}

void TMemoryData::InternalAddRecord(const void* buffer, bool append) {
  auto* buf = static_cast<TRecordBuffer>(const_cast<void*>(buffer));
  if (append || records_.empty()) {
    AddRecord();
    pos_ = static_cast<int32_t>(records_.size()) - 1;
  } else {
    pos_ = std::max(pos_, 0);
    InsertRecord(pos_);
  }
  SetAutoIncFields(buf);
  SetMemoryRecordData(buf, pos_);
}

void TMemoryData::InternalDelete() {
  if (pos_ < 0 || pos_ >= static_cast<int32_t>(records_.size())) return;
  if (apply_mode_ != amNone) {
    TRecordBuffer buffer = ActiveBuffer();
    int32_t status = StatusOf(buffer);
    if (status == 2) {
      --changed_count_;
    } else {
      if (apply_mode_ == amAppend) {
        Cancel();
        return;
      }
      deleted_keys_.push_back(GetKeyValues());
      if (status == 0) ++changed_count_;
    }
  }
  FreeRecord(pos_);
  const int32_t count = static_cast<int32_t>(records_.size());
  if (pos_ >= count) pos_ = count - 1;
  if (Filtered())
    while (pos_ >= 0 && !RecordFilter()) --pos_;
  if (count == 0) last_id_ = kLowestID;
}

void TMemoryData::EmptyTable() {
  if (!Active()) return;
  CheckBrowseMode();
  ClearRecords();
  ClearBuffers();
  DataEvent(deDataSetChange, 0);
}

// ---------------------------------------------------------------------------------------------
// Locate

bool TMemoryData::MatchesLocate(const std::vector<TField*>& fields, const Variant& key_values,
                                TLocateOptions options) {
  for (size_t i = 0; i < fields.size(); ++i) {
    TField* f = fields[i];
    Variant v = fields.size() == 1 ? key_values : key_values.GetElement({static_cast<int32_t>(i)});
    if (f->DataType() != ftString) {
      if (!(f->AsVariant() == v)) return false;
    } else if (VarIsNull(v)) {
      if (!f->IsNull()) return false;
    } else {
      AnsiString text = f->AsString();
      AnsiString key = VarToStr(v);
      if (options.Contains(loPartialKey) && text.size() > key.size()) text.resize(key.size());
      bool same = options.Contains(loCaseInsensitive) ? AnsiCompareText(text, key) == 0
                                                      : AnsiCompareStr(text, key) == 0;
      if (!same) return false;
    }
  }
  return true;
}

int32_t TMemoryData::FindStoredMatch(const std::vector<TField*>& fields, const Variant& key_values,
                                     TLocateOptions options) {
  // The walk from First visits the stored records in order and runs no handler when nothing
  // filters the rows, computes fields or watches the scrolling; plain integer and text keys
  // can then be compared in the stored records themselves, without a copy of each record.
  if (Filtered() || options.Contains(loPartialKey) || BeforeScroll || AfterScroll || OnCalcFields) return -2;
  struct Key {
    const TField* field;
    bool text;
    int32_t number;
    AnsiString chars;
  };
  std::vector<Key> keys;
  for (size_t i = 0; i < fields.size(); ++i) {
    TField* f = fields[i];
    const Variant v = fields.size() == 1 ? key_values : key_values.GetElement({static_cast<int32_t>(i)});
    if (f->FieldKind() != fkData || f->FieldNo() <= 0 || f->IsBlob() || VariantSlotOf(f) >= 0 || DefIndexOf(f) < 0)
      return -2;
    const TFieldType type = f->DataType();
    if ((type == ftInteger || type == ftAutoInc) && v.VarType() == varInteger) {
      keys.push_back({f, false, v.AsInteger(), {}});
    } else if ((type == ftString || type == ftFixedChar) && (v.VarType() == varString || v.VarType() == varOleStr)) {
      keys.push_back({f, true, 0, VarToStr(v)});
    } else {
      return -2;
    }
  }
  const bool ignore_case = options.Contains(loCaseInsensitive);
  for (const Key& k : keys)
    if (FieldPtr(const_cast<uint8_t*>(StoredData(0)), k.field) == nullptr) return -2;
  // A table of more than a few records is searched through the index of these fields.
  if (records_.size() > kScanLimit) {
    std::vector<const TField*> index_fields;
    for (const Key& k : keys) index_fields.push_back(k.field);
    TLocateIndex& index = LocateIndexFor(index_fields, ignore_case);
    std::string wanted;
    for (const Key& k : keys) {
      if (k.text) {
        AppendTextKey(wanted, ignore_case ? AnsiUpperCase(k.chars) : k.chars);
      } else {
        AppendIntegerKey(wanted, true, k.number);
      }
    }
    const auto hit = index.first.find(wanted);
    return hit == index.first.end() ? -1 : hit->second;
  }
  for (size_t r = 0; r < records_.size(); ++r) {
    uint8_t* data = const_cast<uint8_t*>(StoredData(r));
    bool all = true;
    for (const Key& k : keys) {
      const uint8_t* p = FieldPtr(data, k.field);
      if (p == nullptr) return -2;
      if (!k.text) {
        int32_t value;
        std::memcpy(&value, p + 1, 4);
        all = p[0] != 0 && value == k.number;
      } else {
        // A null text reads as an empty one.
        const char* chars = reinterpret_cast<const char*>(p + 1);
        const std::string_view text(chars, p[0] != 0 ? strnlen(chars, static_cast<size_t>(k.field->Size())) : 0);
        all = ignore_case ? SameText(text, k.chars) : text == k.chars;
      }
      if (!all) break;
    }
    if (all) return static_cast<int32_t>(r);
  }
  return -1;
}

std::string TMemoryData::LocateKeyOf(const TLocateIndex& index, const uint8_t* data) const {
  std::string key;
  for (const TField* f : index.fields) {
    const uint8_t* p = FieldPtr(const_cast<uint8_t*>(data), f);
    if (f->DataType() == ftInteger || f->DataType() == ftAutoInc) {
      int32_t value;
      std::memcpy(&value, p + 1, 4);
      AppendIntegerKey(key, p[0] != 0, value);
    } else {
      // A null text reads as an empty one, as in the scan.
      const char* chars = reinterpret_cast<const char*>(p + 1);
      const std::string_view text(chars, p[0] != 0 ? strnlen(chars, static_cast<size_t>(f->Size())) : 0);
      AppendTextKey(key, index.ignore_case ? AnsiUpperCase(text) : std::string(text));
    }
  }
  return key;
}

TMemoryData::TLocateIndex& TMemoryData::LocateIndexFor(const std::vector<const TField*>& fields, bool ignore_case) {
  TLocateIndex* index = nullptr;
  for (const auto& ix : locate_indexes_)
    if (ix->fields == fields && ix->ignore_case == ignore_case) index = ix.get();
  if (index == nullptr) {
    locate_indexes_.push_back(std::make_unique<TLocateIndex>());
    index = locate_indexes_.back().get();
    index->fields = fields;
    index->ignore_case = ignore_case;
  }
  // Records appended since the last look-up; the first record of a key keeps it.
  for (; index->covered < records_.size(); ++index->covered)
    index->first.emplace(LocateKeyOf(*index, StoredData(index->covered)),
                         static_cast<int32_t>(index->covered));
  return *index;
}

bool TMemoryData::Locate(const AnsiString& key_fields, const Variant& key_values,
                         TLocateOptions options) {
  DoBeforeScroll();
  CheckBrowseMode();
  if (IsEmpty()) return false;
  std::vector<TField*> fields;
  GetFieldList(fields, key_fields);
  bool found = MatchesLocate(fields, key_values, options);
  const int32_t stored = found ? -1 : FindStoredMatch(fields, key_values, options);
  if (stored >= 0) {
    pos_ = stored;
    Resync({});
    found = true;
  } else if (!found && stored == -2) {
    DisableControls();
    try {
      TBookmark saved = GetBookmark();
      First();
      while (!Eof()) {
        if (MatchesLocate(fields, key_values, options)) {
          found = true;
          break;
        }
        Next();
      }
      if (!found && BookmarkValid(saved)) GotoBookmark(saved);
    } catch (...) {
      EnableControls();
      throw;
    }
    EnableControls();
  }
  if (found) {
    DataEvent(deDataSetChange, 0);
    DoAfterScroll();
  }
  return found;
}

// ---------------------------------------------------------------------------------------------
// Sorting

void TMemoryData::BuildSortList(const AnsiString& field_names) {
  sort_fields_.clear();
  for (const AnsiString& name : SplitFieldNames(field_names)) {
    TField* f = FindField(name);
    if (f == nullptr || f->FieldKind() != fkData || f->IsBlob() ||
        FieldLength(f->DataType(), f->Size()) < 0)
      DatabaseErrorFmt(UnexpectedTypeMessage(), {f != nullptr ? f->DisplayName() : name}, this);
    sort_fields_.push_back(f);
  }
}

void TMemoryData::SortRecords(const AnsiString& field_names, bool case_insensitive,
                              bool descending) {
  AnsiString names = field_names.empty() ? key_field_names_ : field_names;
  if (names.empty()) return;
  try {
    BuildSortList(names);
    case_insensitive_sort_ = case_insensitive;
    descending_sort_ = descending;
    Sort();
  } catch (...) {
    sort_fields_.clear();
    throw;
  }
}

void TMemoryData::Sort() {
  if (!Active() || records_.empty()) return;
  DropLocateIndexes();
  // Sorting re-reads the buffers: a pending edit is posted first rather than lost.
  CheckBrowseMode();
  TBookmark saved = GetBookmark();
  QuickSort(0, static_cast<int32_t>(records_.size()) - 1);
  if (!saved.empty()) InternalGotoBookmark(saved.data());
  Resync({});
}

void TMemoryData::QuickSort(int32_t l, int32_t r) {
  while (l < r) {
    int32_t i = l, j = r;
    TMemoryRecord* pivot = records_[static_cast<size_t>((l + r) / 2)].get();
    do {
      while (CompareRecords(records_[static_cast<size_t>(i)].get(), pivot) < 0) ++i;
      while (CompareRecords(records_[static_cast<size_t>(j)].get(), pivot) > 0) --j;
      if (i <= j) {
        std::swap(records_[static_cast<size_t>(i)], records_[static_cast<size_t>(j)]);
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) QuickSort(l, j);
    l = i;
  }
}

int TMemoryData::CompareRecords(const TMemoryRecord* r1, const TMemoryRecord* r2) {
  for (TField* f : sort_fields_) {
    const uint8_t* p1 = FieldPtr(const_cast<uint8_t*>(r1->Data()), f);
    const uint8_t* p2 = FieldPtr(const_cast<uint8_t*>(r2->Data()), f);
    if (p1 == nullptr || p2 == nullptr) continue;
    bool has1 = FieldHasValue(p1, f->DataType());
    bool has2 = FieldHasValue(p2, f->DataType());
    int result;
    if (has1 && has2)
      result = CompareFields(p1 + 1, p2 + 1, case_insensitive_sort_, f->DataType());
    else if (has1)
      result = 1;
    else if (has2)
      result = -1;
    else
      result = 0;
    if (descending_sort_) result = -result;
    if (result != 0) return result;
  }
  int result = r1->ID() > r2->ID() ? 1 : (r1->ID() < r2->ID() ? -1 : 0);
  return descending_sort_ ? -result : result;
}

int TMemoryData::CompareFields(const uint8_t* d1, const uint8_t* d2, bool case_insensitive,
                               TFieldType type) {
  auto sign = [](auto a, auto b) { return a < b ? -1 : (a > b ? 1 : 0); };
  auto texts = [&](AnsiString a, AnsiString b) {
    int c = case_insensitive ? AnsiCompareText(a, b) : AnsiCompareStr(a, b);
    return c < 0 ? -1 : (c > 0 ? 1 : 0);
  };
  switch (type) {
    case ftString: case ftFixedChar:
      return texts(reinterpret_cast<const char*>(d1), reinterpret_cast<const char*>(d2));
    case ftWideString: {
      auto wide = [](const uint8_t* d) {
        uint16_t len;
        std::memcpy(&len, d, 2);
        std::u16string w(len / 2, u'\0');
        if (!w.empty()) std::memcpy(w.data(), d + 2, w.size() * 2);
        return FromWide(w);
      };
      return texts(wide(d1), wide(d2));
    }
    case ftGuid: {
      int c = CompareText(reinterpret_cast<const char*>(d1), reinterpret_cast<const char*>(d2));
      return c < 0 ? -1 : (c > 0 ? 1 : 0);
    }
    case ftSmallint: {
      int16_t a, b;
      std::memcpy(&a, d1, 2);
      std::memcpy(&b, d2, 2);
      return sign(a, b);
    }
    case ftInteger: case ftDate: case ftTime: case ftAutoInc: {
      int32_t a, b;
      std::memcpy(&a, d1, 4);
      std::memcpy(&b, d2, 4);
      return sign(a, b);
    }
    case ftLargeint: {
      int64_t a, b;
      std::memcpy(&a, d1, 8);
      std::memcpy(&b, d2, 8);
      return sign(a, b);
    }
    case ftWord: {
      uint16_t a, b;
      std::memcpy(&a, d1, 2);
      std::memcpy(&b, d2, 2);
      return sign(a, b);
    }
    case ftBoolean: {
      int16_t a, b;
      std::memcpy(&a, d1, 2);
      std::memcpy(&b, d2, 2);
      return sign(a != 0, b != 0);
    }
    case ftFloat: case ftCurrency: case ftDateTime: {
      double a, b;
      std::memcpy(&a, d1, 8);
      std::memcpy(&b, d2, 8);
      return sign(a, b);
    }
    default: return 0;
  }
}

bool TMemoryData::GetIsIndexField(TField* field) {
  return std::find(sort_fields_.begin(), sort_fields_.end(), field) != sort_fields_.end();
}

// ---------------------------------------------------------------------------------------------
// Copying from a dataset

void TMemoryData::CreateFieldObjects(bool auto_inc_as_integer) {
  TFieldDefs& defs = FieldDefs();
  for (int32_t i = defs.Count() - 1; i >= 0; --i) {
    TFieldDef* def = defs.Items(i);
    if (auto_inc_as_integer && def->DataType() == ftAutoInc) def->SetDataType(ftInteger);
    if (FieldLength(def->DataType(), def->Size()) == kNotSupported) defs.Delete(i);
  }
  TComponent* owner =
      ComponentState().Contains(csDesigning) && Owner() != nullptr ? Owner() : this;
  for (int32_t i = 0; i < defs.Count(); ++i)
    if (FindField(defs.Items(i)->Name()) == nullptr) defs.Items(i)->CreateField(owner);
}

void TMemoryData::AssignStructure(TDataSet* source, bool auto_inc_as_integer) {
  if (source == nullptr) return;
  CheckInactive();
  std::vector<TField*> fields = fields_;
  for (TField* f : fields) delete f;
  source->FieldDefs().Update();
  FieldDefs().Assign(source->FieldDefs());
  for (int32_t i = 0; i < FieldDefs().Count(); ++i) FieldDefs().Items(i)->SetFieldNo(i + 1);
  if (apply_mode_ != amNone) {
    TFieldDef* def = FieldDefs().Add(status_name_, ftSmallint, 0, false);
    def->SetAttributes(def->Attributes().Include(faHiddenCol));
  }
  FieldDefs().SetHiddenFields(true);
  CreateFieldObjects(auto_inc_as_integer);
  FieldDefs().SetHiddenFields(false);
  if (apply_mode_ != amNone) EnsureStatusField();
}

int32_t TMemoryData::CopyRows() {
  if (source_ == nullptr) return 0;
  int32_t high = FieldDefs().Count() - 1;
  if (apply_mode_ != amNone) --high;
  if (high <= 0) return 0;
  bool was_active = source_->Active();
  if (!was_active) {
    try {
      source_->Open();
    } catch (const Exception&) {
      return 0;
    }
  }
  if (source_->IsEmpty()) {
    if (!was_active && data_set_closed_) source_->Close();
    return 0;
  }
  int32_t copied = 0;
  source_->DisableControls();
  DisableControls();
  loading_ = true;
  try {
    source_->First();
    while (!source_->Eof()) {
      Append();
      for (int32_t i = 0; i <= high && i < FieldCount(); ++i) {
        TField* own = Fields(i);
        TField* from = source_->FindField(own->FieldName());
        if (from == nullptr) continue;
        if (from->IsNull())
          own->Clear();
        else
          own->AssignValue(from);
      }
      if (apply_mode_ != amNone) SetStatus(ActiveBuffer(), 0);
      Post();
      ++copied;
      source_->Next();
    }
  } catch (...) {
    loading_ = false;
    EnableControls();
    source_->EnableControls();
    throw;
  }
  loading_ = false;
  EnableControls();
  source_->EnableControls();
  if (!was_active && data_set_closed_) source_->Close();
  loaded_count_ = copied;
  return copied;
}

// ---------------------------------------------------------------------------------------------
// Blob stream

TMemBlobStream::TMemBlobStream(TField* field, TBlobStreamMode mode)
    : field_(field), dataset_(static_cast<TMemoryData*>(field->DataSet())), mode_(mode) {
  buffer_ = dataset_->GetActiveRecBuf();
  if (buffer_ == nullptr) return;
  auto* blob = dynamic_cast<TBlobField*>(field);
  bool field_modified = blob != nullptr && blob->Modified();
  if (mode != bmRead && !field_modified) {
    if (field->ReadOnly())
      DatabaseErrorFmt(dbmsg::FieldReadOnly(), {field->DisplayName()}, dataset_);
    if (dataset_->State() != dsEdit && dataset_->State() != dsInsert)
      DatabaseError(dbmsg::NotEditing(), dataset_);
    cached_ = true;
  } else {
    cached_ = buffer_ == dataset_->ActiveBuffer();
  }
  opened_ = true;
  if (mode == bmWrite) {
    if (dataset_->State() == dsFilter) DatabaseError(dbmsg::NotEditing(), dataset_);
    if (std::string* text = Text()) text->clear();
    modified_ = true;
  }
}

TMemBlobStream::~TMemBlobStream() {
  if (opened_ && modified_) {
    if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
  }
  if (modified_) {
    try {
      dataset_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
    } catch (...) {
      Application()->HandleException(dataset_);
    }
  }
}

std::string* TMemBlobStream::Text() {
  int32_t n = field_->Offset();
  if (n < 0 || n >= dataset_->BlobFieldCount()) return nullptr;
  if (cached_) return &dataset_->BlobTexts(buffer_)[n];
  if (dataset_->records_.empty()) return nullptr;
  int32_t pos = std::clamp(dataset_->pos_, 0, static_cast<int32_t>(dataset_->records_.size()) - 1);
  return &dataset_->records_[static_cast<size_t>(pos)]->blobs_[static_cast<size_t>(n)];
}

int64_t TMemBlobStream::BlobSize() {
  std::string* text = opened_ ? Text() : nullptr;
  return text != nullptr ? static_cast<int64_t>(text->size()) : 0;
}

int32_t TMemBlobStream::Read(void* buffer, int32_t count) {
  // Seek does not clamp; a position before the start reads nothing.
  if (!opened_ || position_ < 0) return 0;
  std::string* text = Text();
  if (text == nullptr) return 0;
  int64_t available = static_cast<int64_t>(text->size()) - position_;
  if (available <= 0 || count <= 0) return 0;
  int32_t n = static_cast<int32_t>(std::min<int64_t>(count, available));
  std::memcpy(buffer, text->data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int32_t TMemBlobStream::Write(const void* buffer, int32_t count) {
  if (!opened_ || !cached_ || mode_ == bmRead || count <= 0 || position_ < 0) return 0;
  if (dataset_->State() == dsFilter) DatabaseError(dbmsg::NotEditing(), dataset_);
  std::string* text = Text();
  if (text == nullptr) return 0;
  if (static_cast<int64_t>(text->size()) < position_ + count)
    text->resize(static_cast<size_t>(position_ + count), '\0');
  std::memcpy(text->data() + position_, buffer, static_cast<size_t>(count));
  position_ += count;
  modified_ = true;
  return count;
}

int64_t TMemBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent: position_ += offset; break;
    case TSeekOrigin::soEnd: position_ = BlobSize() + offset; break;
  }
  return position_;
}

}  // namespace pelvar
