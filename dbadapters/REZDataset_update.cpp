// Update objects and the blob stream of the adapter datasets.
#include <algorithm>
#include <cstring>

#include "dbadapters/REZDataset.h"
#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Header.h"
#include "dbengine/IB_Components_columns.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {
constexpr int32_t kStoredProcedure = 8;
}

// ---------------------------------------------------------------------------------------------
// Update objects

TREZUpdateSQL::TREZUpdateSQL(TComponent* Owner) : TIB_Component(Owner) {
  for (int32_t k = 0; k < 3; ++k) {
    texts_[k] = std::make_unique<TStringList>();
    texts_[k]->OnChange = [this, k](TObject*) { SQLChanged(k); };
  }
}

TREZUpdateSQL::~TREZUpdateSQL() {
  try {
    UnprepareAll();
  } catch (...) {
  }
  if (dataset_ != nullptr && dataset_->UpdateObject() == this) dataset_->SetUpdateObject(nullptr);
  for (auto& s : statements_) s.reset();
}

void TREZUpdateSQL::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_Component::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == dataset_) dataset_ = nullptr;
}

void TREZUpdateSQL::SetSQLText(int32_t Kind, const TStrings* Value) {
  texts_[Kind]->SetText(Value != nullptr ? Value->Text() : AnsiString());
}

void TREZUpdateSQL::SQLChanged(int32_t Kind) {
  if (!statements_[Kind]) return;
  statements_[Kind]->Params().Clear();
  statements_[Kind]->Unprepare();
  statements_[Kind]->InternalDataset()->SQL()->SetText(texts_[Kind]->Text());
}

TREZDataset* TREZUpdateSQL::GetStatement(int32_t Kind) {
  if (!statements_[Kind]) {
    statements_[Kind] = std::make_unique<TREZDataset>(nullptr);
    statements_[Kind]->InternalDataset()->SQL()->SetText(texts_[Kind]->Text());
  }
  if (dataset_ != nullptr) {
    statements_[Kind]->SetIB_Connection(dataset_->IB_Connection());
    statements_[Kind]->SetIB_Transaction(dataset_->IB_Transaction());
  }
  return statements_[Kind].get();
}

void TREZUpdateSQL::Apply(int32_t Kind) {
  SetParams(Kind);
  ExecSQL(Kind);
}

void TREZUpdateSQL::SetParams(int32_t Kind) {
  if (dataset_ == nullptr) return;
  TREZDataset* st = GetStatement(Kind);
  st->Prepare();
  for (int32_t i = 0; i < st->Params().Count(); ++i) {
    TParam* p = st->Params().Items(i);
    AnsiString name = p->Name();
    const bool old = AnsiSameText(name.substr(0, 4), "OLD_");
    if (old) name = name.substr(4);
    TField* f = dataset_->FindField(name);
    if (f == nullptr) continue;
    if (old) {
      p->AssignFieldValue(f, f->OldValue());
    } else {
      Variant v = f->NewValue();
      if (VarIsEmpty(v)) v = f->OldValue();
      p->AssignFieldValue(f, v);
    }
    p->SetBound(true);
  }
}

void TREZUpdateSQL::ExecSQL(int32_t Kind) {
  TREZDataset* st = GetStatement(Kind);
  st->Prepare();
  st->ExecSQL();
  const int32_t type = st->GetStatementType();
  if (type == kStoredProcedure) return;
  const int32_t rows = st->GetRowsAffected();
  TIB_Msg none = TIB_Msg::RecordNotFoundForUpdate, many = TIB_Msg::MultipleRowsUpdated;
  if (type == isc_info_sql_stmt_insert) {
    none = TIB_Msg::RecordNotInserted;
    many = TIB_Msg::MultipleRowsInserted;
  } else if (type == isc_info_sql_stmt_delete) {
    none = TIB_Msg::RecordNotFoundForDelete;
    many = TIB_Msg::MultipleRowsDeleted;
  }
  if (rows == 0) DatabaseError(IB_Message(none));
  if (rows > 1) DatabaseError(IB_Message(many));
}

void TREZUpdateSQL::UnprepareAll() {
  for (auto& s : statements_)
    if (s && s->Prepared()) s->Unprepare();
}

void TREZDataset::SetUpdateObject(TREZUpdateSQL* Value) {
  if (Value != update_object_) {
    if (update_object_ != nullptr && update_object_->dataset_ == this) {
      update_object_->UnprepareAll();
      update_object_->dataset_ = nullptr;
    }
    if (Value != nullptr) {
      if (Value->dataset_ != nullptr && Value->dataset_ != this) Value->dataset_->SetUpdateObject(nullptr);
      Value->dataset_ = this;
      Value->FreeNotification(this);
      FreeNotification(Value);
    }
    update_object_ = Value;
  }
  if (internal_) internal_->CheckRequired = update_object_ == nullptr;
}

// ---------------------------------------------------------------------------------------------
// Cached updates

namespace {
template <class Fn>
void WithResync(TREZDataset* d, TREZInternalDataset* in, int32_t& current, Fn fn) {
  const bool open = d->Active();
  fn();
  if (open) {
    current = in->GetRowNum();
    d->Resync({});
  }
}
}  // namespace

void TREZDataset::ApplyUpdates() {
  if (Active()) CheckBrowseMode();
  if (Active() && internal_->UpdatesPending()) {
    UpdateCursorPos();
    MoveInternalToBuffer();
  }
  WithResync(this, internal_.get(), current_, [&] { internal_->ApplyUpdates(); });
}

void TREZDataset::CancelUpdates() {
  if (Active()) Cancel();
  WithResync(this, internal_.get(), current_, [&] { internal_->CancelUpdates(); });
}

void TREZDataset::CommitUpdates() {
  WithResync(this, internal_.get(), current_, [&] { internal_->CommitUpdates(); });
}

// ---------------------------------------------------------------------------------------------
// Blob stream

TREZBlobStream::TREZBlobStream(TField* Field, TBlobStreamMode Mode)
    : dataset_(static_cast<TREZDataset*>(Field->DataSet())), field_(Field), mode_(Mode) {
  TRecordBuffer rec;
  char* data;
  bool live = false;
  if (!dataset_->RecordFor(rec, data, live)) return;
  live_ = live;
  if (Mode == bmWrite || Mode == bmReadWrite) {
    switch (dataset_->State()) {
      case dsEdit: case dsInsert: case dsSetKey: case dsCalcFields: case dsFilter: case dsNewValue:
      case dsInternalCalc:
        break;
      default:
        DatabaseError(dbmsg::NotEditing(), dataset_);
    }
  }
  column_ = dataset_->ColumnOf(Field);
  if (column_ == nullptr) return;
  const int16_t t = column_->BaseType();
  is_blob_ = t == SQL_BLOB;
  is_text_ = t == SQL_VARYING || t == SQL_TEXT;
  data_ = data + (column_->DataPtr() - dataset_->internal_->Fields()->RowBuffer());
  utf8_ = is_text_ && AnsiSameText(column_->Row()->Statement()->ConnectionCharSet(), "UTF8");
  if (Mode == bmWrite) {
    content_.clear();
    modified_ = true;
    return;
  }
  int16_t ind;
  std::memcpy(&ind, data_ - 2, 2);
  if (ind == -1) return;
  if (is_blob_) {
    // The blob's content: the live column reads its node or the server; another record
    // is read through the buffer row placed on it.
    TIB_Column* src = column_;
    if (!live_) {
      dataset_->internal_->SetBufferRowNum(dataset_->Info(rec)->RowNum);
      src = dataset_->internal_->GetBufferFields()->GetColumn(column_->GetIndex());
    }
    content_ = src->GetAsString();
  } else if (is_text_) {
    if (t == SQL_VARYING) {
      uint16_t n;
      std::memcpy(&n, data_, 2);
      content_.assign(data_ + 2, std::min<size_t>(n, column_->GetSQLLen()));
    } else {
      content_.assign(data_, column_->GetSQLLen());
    }
    if (utf8_) content_ = Utf8ToAnsi(content_);
  } else {
    content_.assign(data_, static_cast<size_t>(column_->GetSQLLen()));
  }
}

TREZBlobStream::~TREZBlobStream() {
  if (!modified_ || column_ == nullptr) return;
  try {
    if (auto* blob = dynamic_cast<TBlobField*>(field_)) blob->SetModified(true);
    const TDataSetState st = dataset_->State();
    if (st == dsCalcFields || st == dsFilter || st == dsNewValue) return;
    if (is_blob_) {
      if (!live_) DatabaseError(dbmsg::NotEditing(), dataset_);
      // A value opened for writing stays null until something is written; a write of no
      // bytes makes it an empty value.
      if (mode_ == bmWrite && !written_)
        column_->Clear();
      else
        column_->SetAsString(content_);
    } else if (is_text_) {
      const AnsiString text = utf8_ ? AnsiToUtf8(content_) : content_;
      TREZColumnDesc desc = TREZColumnDesc::FromColumn(column_, false);
      desc.Utf8 = false;
      std::vector<char> buf(text.begin(), text.end());
      buf.push_back('\0');
      if (live_) column_->SysBeforeModify();
      REZWriteColumn(desc, data_, ftString, static_cast<int32_t>(text.size()), buf.data());
      if (live_) column_->SysAfterModify();
    } else {
      if (live_) column_->SysBeforeModify();
      const int16_t zero = 0;
      std::memcpy(data_ - 2, &zero, 2);
      std::memcpy(data_, content_.data(), std::min<size_t>(content_.size(), column_->GetSQLLen()));
      if (live_) column_->SysAfterModify();
    }
    dataset_->SetModified(true);
    dataset_->DataEvent(deFieldChange, reinterpret_cast<intptr_t>(field_));
  } catch (...) {
    if (Application() != nullptr) Application()->HandleException(dataset_);
  }
}

int32_t TREZBlobStream::Read(void* Buffer, int32_t Count) {
  const int64_t left = static_cast<int64_t>(content_.size()) - position_;
  const int32_t n = static_cast<int32_t>(std::max<int64_t>(0, std::min<int64_t>(Count, left)));
  if (n > 0) std::memcpy(Buffer, content_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int32_t TREZBlobStream::Write(const void* Buffer, int32_t Count) {
  if (mode_ == bmRead) return 0;
  written_ = true;
  if (Count <= 0) return 0;
  if (is_text_ && static_cast<int64_t>(position_) + Count > column_->GetSQLLen()) {
    // A text column takes no more than its length: refused, not cut.
    throw EIB_StatementError(nullptr, Format(IB_Message(TIB_Msg::BufferOverrun),
                                             {column_->GetFullName(), IntToStr(static_cast<int>(column_->GetSQLLen())),
                                              IntToStr(static_cast<int64_t>(position_ + Count))}));
  }
  if (!is_blob_ && column_ != nullptr && !is_text_) {
    // Columns of a fixed size take what fits.
    Count = static_cast<int32_t>(std::min<int64_t>(Count, column_->GetSQLLen() - position_));
    if (Count <= 0) return 0;
  }
  const size_t end = static_cast<size_t>(position_) + static_cast<size_t>(Count);
  if (content_.size() < end) content_.resize(end);
  std::memcpy(content_.data() + position_, Buffer, static_cast<size_t>(Count));
  position_ += Count;
  modified_ = true;
  return Count;
}

int64_t TREZBlobStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t p = Offset;
  if (Origin == TSeekOrigin::soCurrent) p = position_ + Offset;
  if (Origin == TSeekOrigin::soEnd) p = static_cast<int64_t>(content_.size()) + Offset;
  position_ = std::clamp<int64_t>(p, 0, static_cast<int64_t>(content_.size()));
  return position_;
}

}  // namespace pelvar
