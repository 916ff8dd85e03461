// The adapter dataset: open and close, record buffers, navigation, bookmarks, editing,
// field values.
#include "dbadapters/REZDataset.h"

#include <algorithm>
#include <cstring>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Utils.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {
constexpr int32_t kStoredProcedure = 8;

bool IsBcd(const TField* f) { return f->DataType() == ftBCD; }
int32_t CalcValueSize(const TField* f) { return IsBcd(f) ? 8 : f->DataSize(); }
}  // namespace

// ---------------------------------------------------------------------------------------------
// Life cycle

TREZDataset::TREZDataset(TComponent* Owner) : TDataSet(Owner) {
  index_defs_ = std::make_unique<TIndexDefs>(this);
  params_ = std::make_unique<TParams>(this);
  master_link_ = std::make_unique<TREZQueryDataLink>(this);
  internal_ = CreateInternalDataset();
}

// The internal dataset is made by the first call that needs it: a subclass's
// CreateInternalDataset is not reachable from the base constructor.
std::unique_ptr<TREZInternalDataset> TREZDataset::CreateInternalDataset() {
  return std::make_unique<TREZInternalDataset>(this);
}

TREZDataset::~TREZDataset() {
  try {
    Close();
  } catch (...) {
  }
  try {
    if (internal_) internal_->Unprepare();
  } catch (...) {
  }
  try {
    SetDataSource(nullptr);
  } catch (...) {
  }
  SetUpdateObject(nullptr);
  // Fields go before the internal dataset they read.
  DestroyFields();
  internal_.reset();
}

void TREZDataset::Loaded() {
  TDataSet::Loaded();
  internal_->SetName("REZqr" + Name());
  if (prepared_on_load_) {
    prepared_on_load_ = false;
    Prepare();
  }
}

void TREZDataset::Notification(TComponent* AComponent, TOperation Operation) {
  TDataSet::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == update_object_) update_object_ = nullptr;
}

// ---------------------------------------------------------------------------------------------
// Statement

void TREZDataset::Prepare() { internal_->Prepare(); }

void TREZDataset::Unprepare() {
  if (Active()) Close();
  internal_->Unprepare();
}

bool TREZDataset::Prepared() const { return internal_->Prepared(); }

void TREZDataset::SetPrepared(bool Value) {
  if (ComponentState().Contains(csLoading) || ComponentState().Contains(csReading)) {
    prepared_on_load_ = Value;
    return;
  }
  if (Value)
    Prepare();
  else
    Unprepare();
}

void TREZDataset::ExecSQL() {
  CheckInactive();
  executing_ = true;
  try {
    if (!Prepared())
      Prepare();
    else if (!params_synced_)
      RefreshParams();
    if (!internal_->ServerSQLCurrent()) Prepare();
    if (internal_->IsSelectStatement()) {
      Open();
    } else {
      BindMasterParams(false);
      internal_->Execute();
    }
  } catch (...) {
    executing_ = false;
    throw;
  }
}

void TREZDataset::OpenAndFetchAll() {
  Prepare();
  Open();
  internal_->FetchAll();
}

TParam* TREZDataset::ParamByName(const AnsiString& Name) {
  if (!Prepared()) Prepare();
  return params_->ParamByName(Name);
}

int32_t TREZDataset::GetRowsAffected() { return internal_->GetRowsAffected(); }
int32_t TREZDataset::GetStatementType() { return internal_->GetStatementType(); }

void TREZDataset::SetIB_Connection(TIB_Connection* Value) { internal_->SetIB_Connection(Value); }
void TREZDataset::SetIB_Transaction(TIB_Transaction* Value) { internal_->SetIB_Transaction(Value); }

void TREZDataset::SetAutoFetchAll(bool Value) {
  auto_fetch_all_ = Value;
  if (Value && Active()) internal_->FetchAll();
}

void TREZDataset::SetReadOnly(bool Value) {
  read_only_ = Value;
  internal_->SetReadOnly(Value);
}

void TREZDataset::SetRecordCountAccurate(bool Value) {
  if (record_count_accurate_ == Value) return;
  record_count_accurate_ = Value;
  DataEvent(deLayoutChange, 0);
}

void TREZDataset::SetUnidirectional(bool Value) {
  if (Value == Unidirectional()) return;
  Unprepare();
  internal_->SetUnidirectional(Value);
}

void TREZDataset::SetDataSource(TDataSource* Value) {
  if (Value == master_link_->DataSource()) return;
  // A master whose own masters lead back here would be a circle.
  int32_t guard = 0;
  for (TDataSource* s = Value; s != nullptr && guard++ < 1000;) {
    TDataSet* ds = s->DataSet();
    if (ds == nullptr) break;
    if (ds == this) DatabaseError(dbmsg::CircularDataLink(), this);
    s = ds->GetDataSource();
  }
  master_link_->SetDataSource(Value);
}

// ---------------------------------------------------------------------------------------------
// Opening and closing

void TREZDataset::DoBeforeOpen() {
  TDataSet::DoBeforeOpen();
  if (!Prepared()) Prepare();
  if (GetStatementType() == kStoredProcedure) {
    if (!params_synced_) RefreshParams();
    BindMasterParams(false);
    internal_->QuickFetch();
    FetchOutputParams();
  } else {
    internal_->SysOpenCursor();
  }
  current_ = internal_->GetBofRowNum();
  internal_->SetBufferRowNum(current_);
}

void TREZDataset::InternalOpen() {
  if (!Prepared()) Prepare();
  if (master_binding_depth_ == 0) {
    const bool default_fields = FieldCount() == 0;
    SetDefaultFields(default_fields);
    executing_ = false;
    if (internal_->FieldCount() > 0 && FieldDefs().Count() == 0) InternalInitFieldDefs();
    if (default_fields) CreateFields();
    if (field_options_.Contains(foAutoAppendAllFields)) {
      for (int32_t i = 0; i < FieldDefs().Count(); ++i) {
        TFieldDef* def = FieldDefs().Items(i);
        if (FindField(def->Name()) == nullptr) def->CreateField(this);
      }
    }
    BindFields(true);
    InitFields();
  }
  // The row info block holds a pointer: it starts on an 8-byte boundary.
  row_info_offset_ = static_cast<uint16_t>((record_size_ + CalcFieldsSize() + 7) & ~7);
  rec_buf_size_ = row_info_offset_ + static_cast<int32_t>(sizeof(RowInfo));
  cursor_open_ = true;
  if (internal_->FieldCount() > 0 && AfterPrepare) AfterPrepare(this);
}

void TREZDataset::DoAfterOpen() {
  if (auto_fetch_all_) internal_->FetchAll();
  TDataSet::DoAfterOpen();
}

void TREZDataset::InternalInitFieldDefs() {
  if (!Prepared()) {
    try {
      Prepare();
    } catch (const EDatabaseError&) {
      throw;
    } catch (...) {
      DatabaseError("Unable to prepare statement", this);
    }
    if (!Prepared()) DatabaseError("Unable to prepare statement", this);
  }
  if (!internal_->IsSelectStatement() && GetStatementType() != kStoredProcedure)
    DatabaseError("Error Creating cursor handle", this);
  TIB_Row* row = internal_->Fields();
  row->MakeBDEFieldNames();
  FieldDefs().BeginUpdate();
  try {
    FieldDefs().Clear();
    // The db-key the buffered dataset adds to key its rows is none of the query's fields.
    const TIB_Column* added_key = internal_->AddedDBKeyColumn();
    for (int32_t i = 0; i < row->ColumnCount(); ++i) {
      TIB_Column* col = row->GetColumn(i);
      if (col == added_key) continue;
      const TREZFieldMapping m = REZMapColumn(col, custom_bool_);
      const bool server_default = col->GetHasServerDefault();
      TFieldDef* def = FieldDefs().Add(col->GetBDEFieldName(), m.DataType, m.Size,
                                       col->GetRequired() && !server_default);
      def->SetFieldNo(i + 1);
      if (m.DataType == ftBCD) def->SetPrecision(m.Precision);
      TFieldAttributes attrs;
      if ((col->GetRequired() || !col->GetIsNullable()) && !server_default) attrs.Include(faRequired);
      if (col->GetIsExpression() || col->GetComputed()) attrs.Include(faReadonly);
      def->SetAttributes(attrs);
    }
  } catch (...) {
    FieldDefs().EndUpdate();
    throw;
  }
  FieldDefs().EndUpdate();
  FieldDefs().SetUpdated(true);
  descs_.clear();
}

const TREZColumnDesc& TREZDataset::DescOf(int32_t Index) {
  if (descs_.size() != static_cast<size_t>(internal_->FieldCount())) {
    descs_.clear();
    TIB_Row* row = internal_->Fields();
    for (int32_t i = 0; i < row->ColumnCount(); ++i)
      descs_.push_back(TREZColumnDesc::FromColumn(row->GetColumn(i), custom_bool_));
  }
  return descs_[static_cast<size_t>(Index)];
}

void TREZDataset::InitFields() {
  TIB_Row* row = internal_->Fields();
  TIB_Row* keys = internal_->GetKeyFields();
  int32_t key_matched = 0;
  const bool take_display = DefaultFields() || field_options_.Contains(foDisplayFromREZ);
  for (TField* f : FieldList()) {
    if (f->FieldKind() != fkData) continue;
    int32_t index = f->FieldNo() - 1;
    if (index >= row->ColumnCount()) index = row->ColumnCount() - 1 - (index - row->ColumnCount());
    TIB_Column* col = index >= 0 ? row->GetColumn(index) : nullptr;
    const AnsiString col_name = col != nullptr ? col->GetBDEFieldName() : AnsiString();
    if (col == nullptr || !AnsiSameText(f->FieldName(), col_name)) {
      throw EAssertionFailed("IBDatasetFields.InitFields tmpField.FieldName: " + f->FieldName() +
                             " <> tmpCol.BDEFieldName: " + col_name + " (REZDataset)");
    }
    if (f->FieldName() != col_name) f->SetFieldName(col_name);
    if (take_display) {
      f->SetAlignment(static_cast<TAlignment>(std::min<uint8_t>(col->Alignment, taCenter)));
      f->SetRequired(col->GetRequired() && !col->GetHasServerDefault());
      f->SetDisplayLabel(col->GetDisplayLabel());
      f->SetReadOnly(col->GetReadOnly());
      f->SetEditMask(col->GetEditMask());
      f->SetVisible(col->Visible);
      if (auto* num = dynamic_cast<TNumericField*>(f)) {
        AnsiString fmt = col->DisplayFormat;
        if (fmt.empty() && col->GetSQLScale() < 0)
          fmt = "#0." + AnsiString(static_cast<size_t>(-col->GetSQLScale()), '0');
        else if (fmt.empty() && (col->BaseType() == SQL_LONG || col->BaseType() == SQL_SHORT ||
                                 col->BaseType() == SQL_INT64))
          fmt = "#0";
        num->SetDisplayFormat(fmt);
      } else if (auto* dt = dynamic_cast<TDateTimeField*>(f)) {
        dt->SetDisplayFormat(col->DisplayFormat);
      }
    } else {
      col->SetIsRequired(f->Required());
    }
    if (keys != nullptr && key_matched < keys->ColumnCount()) {
      TIB_Column* k = nullptr;
      if (keys->FindColumn(col->GetFullName(), k) || keys->FindColumn(col->GetFieldName(), k)) {
        f->SetProviderFlags(f->ProviderFlags() + TProviderFlags{pfInKey});
        ++key_matched;
      }
    }
    if (f->Origin().empty() && !col->GetRelName().empty() && !col->GetFieldName().empty())
      f->SetOrigin(col->GetRelName() + "." + col->GetFieldName());
  }
  // The statement's field order (its fields index list) orders the fields too.
  if (internal_->FieldsIndex()->Count() > 0) {
    const int32_t last = static_cast<int32_t>(FieldList().size()) - 1;
    for (int32_t i = 0; i < row->ColumnCount() && last >= 0; ++i) {
      if (TField* f = FindField(row->GetColumn(i)->GetBDEFieldName())) f->SetIndex(std::min(i, last));
    }
  }
  descs_.clear();
}

void TREZDataset::InternalClose() {
  if (internal_->Fetching()) internal_->AbortFetching();
  if (master_binding_depth_ == 0 && Prepared() && !closing_for_range_) ResetRange();
  internal_->Close();
  cursor_open_ = false;
  current_ = internal_->GetBofRowNum();
  if (master_binding_depth_ == 0 && Prepared()) {
    BindFields(false);
    if (DefaultFields()) DestroyFields();
  }
}

void TREZDataset::CloseCursor() {
  if (closing_) return;
  closing_ = true;
  try {
    TDataSet::CloseCursor();
  } catch (...) {
    closing_ = false;
    throw;
  }
  closing_ = false;
  if (master_binding_depth_ == 0) SetDefaultFields(false);
}

// ---------------------------------------------------------------------------------------------
// Record buffers

TRecordBuffer TREZDataset::AllocRecordBuffer() {
  auto* b = new uint8_t[static_cast<size_t>(rec_buf_size_)];
  std::memset(b, 0, static_cast<size_t>(rec_buf_size_));
  return b;
}

void TREZDataset::FreeRecordBuffer(TRecordBuffer& Buffer) {
  delete[] Buffer;
  Buffer = nullptr;
}

void TREZDataset::InternalInitRecord(TRecordBuffer Buffer) {
  std::memset(Buffer, 0, static_cast<size_t>(rec_buf_size_));
}

void TREZDataset::ClearCalcFields(TRecordBuffer Buffer) {
  std::memset(Buffer + record_size_, 0, static_cast<size_t>(CalcFieldsSize()));
}

bool TREZDataset::GetCurrentRecord(TRecordBuffer Buffer) {
  if (Buffer == nullptr || IsEmpty() || State() == dsInactive) return false;
  std::memcpy(Buffer, ActiveBuffer(), record_size_);
  return true;
}

TBookmarkFlag TREZDataset::GetBookmarkFlag(TRecordBuffer Buffer) {
  return static_cast<TBookmarkFlag>(Info(Buffer)->Flag);
}

void TREZDataset::SetBookmarkFlag(TRecordBuffer Buffer, TBookmarkFlag Value) {
  Info(Buffer)->Flag = static_cast<uint8_t>(Value);
}

TGetResult TREZDataset::GetRecord(TRecordBuffer Buffer, TGetMode Mode, bool) {
  TGetResult result = grOK;
  switch (Mode) {
    case gmCurrent:
      internal_->SetBufferRowNum(current_);
      if (internal_->GetBufferBof() || internal_->GetBufferEof()) result = grError;
      break;
    case gmNext:
      internal_->SetBufferRowNum(current_ + 1);
      if (!internal_->GetBufferEof()) {
        if (appending_ && internal_->GetEofRowNum() == internal_->GetBufferRowNum() + 1) {
          internal_->SetBufferRowNum(current_);
          result = grEOF;
        } else {
          ++current_;
        }
      } else {
        internal_->SetBufferRowNum(current_);
        result = grEOF;
      }
      break;
    case gmPrior:
      if (!internal_->GetBofFetched()) internal_->SysRefreshKeys(current_ - 2, current_ - 1);
      internal_->SetBufferRowNum(current_ - 1);
      if (internal_->GetBufferBof()) {
        internal_->SetBufferRowNum(current_);
        result = grBOF;
      } else {
        --current_;
      }
      break;
  }
  if (result == grOK) {
    TIB_Row* row = internal_->GetBufferFields();
    std::memcpy(Buffer, row->RowBuffer(), record_size_);
    RowInfo* info = Info(Buffer);
    info->RowNum = internal_->GetBufferRowNum();
    info->Node = row->RowNode();
    info->Flag = bfCurrent;
    GetCalcFields(Buffer);
  } else if (result == grBOF) {
    Info(Buffer)->Flag = bfBOF;
  } else if (result == grEOF) {
    Info(Buffer)->Flag = bfEOF;
  }
  return result;
}

// ---------------------------------------------------------------------------------------------
// Navigation

void TREZDataset::MoveInternalToBuffer() {
  if (internal_->GetRowNum() != internal_->GetBufferRowNum())
    internal_->SetRowNum(internal_->GetBufferRowNum());
}

namespace {

// The internal dataset may close and open itself again (reading from another end of an
// ordering): that is no close of the adapter's.
struct InternalChange {
  explicit InternalChange(int32_t& Count) : count(Count) { ++count; }
  ~InternalChange() { --count; }
  InternalChange(const InternalChange&) = delete;
  InternalChange& operator=(const InternalChange&) = delete;
  int32_t& count;
};

}  // namespace

void TREZDataset::InternalFirst() {
  if (!internal_->GetIsEditing()) {
    InternalChange change(internal_change_);
    const int32_t before = internal_->GetBufferRowCount();
    internal_->GotoBof();
    if (!internal_->GetBofFetched() && internal_->GetBufferRowCount() == before) internal_->FetchAll();
  }
  current_ = internal_->GetBofRowNum();
}

void TREZDataset::InternalLast() {
  if (!internal_->GetIsEditing()) {
    InternalChange change(internal_change_);
    const int32_t before = internal_->GetBufferRowCount();
    internal_->GotoEof();
    if (!internal_->GetEofFetched() && internal_->GetBufferRowCount() == before) internal_->FetchAll();
  }
  current_ = internal_->GetEofRowNum() - (appending_ ? 1 : 0);
}

void TREZDataset::InternalSetToRecord(TRecordBuffer Buffer) {
  const RowInfo* info = Info(Buffer);
  internal_->SetBufferRowNum(info->RowNum);
  TIB_Node* node = internal_->GetBufferFields()->RowNode();
  if (node != nullptr && node == info->Node) {
    current_ = info->RowNum;
    return;
  }
  if (info->Node == nullptr) return;
  const AnsiString bm = BinaryToHexText(info->Node->Key.data(), static_cast<int32_t>(info->Node->Key.size()));
  InternalGotoBookmark(bm.data());
}

void TREZDataset::InternalGotoBookmark(const void* Bookmark) {
  if (Bookmark == nullptr) {
    internal_->SyncBufferRow();
    return;
  }
  const AnsiString bm(static_cast<const char*>(Bookmark), static_cast<size_t>(BookmarkSize()));
  auto found = [&] {
    if (internal_->GetBufferBookmark() != bm) internal_->SetBufferBookmark(bm);
    const int32_t n = internal_->GetBufferRowNum();
    return n != internal_->GetBofRowNum() && n != internal_->GetEofRowNum() &&
           internal_->GetBufferBookmark() == bm;
  };
  bool ok = found();
  // Widen the search: a few rows on either side first (the row is most often near the
  // rows already read), then through the server and in larger steps each way.
  if (!ok && !internal_->GetEofFetched()) {
    internal_->SetBufferRowNum(internal_->GetEofRowNum() + 20);
    ok = found();
  }
  if (!ok && !internal_->GetBofFetched()) {
    internal_->SetBufferRowNum(internal_->GetBofRowNum() - 20);
    ok = found();
  }
  if (!ok && State() == dsBrowse) {
    InternalChange change(internal_change_);
    internal_->SetBookmark(bm);
    ok = found();
    while (!ok && internal_->GetBufferRowNum() == internal_->GetEofRowNum() && !internal_->GetEofFetched()) {
      internal_->SetBufferRowNum(internal_->GetEofRowNum() + 200);
      ok = found();
    }
    while (!ok && internal_->GetBufferRowNum() == internal_->GetBofRowNum() && !internal_->GetBofFetched()) {
      internal_->SetBufferRowNum(internal_->GetBofRowNum() - 200);
      ok = found();
    }
  }
  if (!ok) internal_->SyncBufferRow();
  if (internal_->GetBufferRowNum() != current_) {
    current_ = internal_->GetBufferRowNum();
    CursorPosChanged();
  }
}

TBookmarkStr TREZDataset::GetBookmarkStr() {
  if (!(State() == dsBrowse || State() == dsEdit || State() == dsInsert) || IsEmpty() ||
      BufferCount() == 0)
    return {};
  TRecordBuffer b = ActiveBuffer();
  const RowInfo* info = Info(b);
  if (info->Flag != bfCurrent && info->Flag != bfInserted) return {};
  if (internal_->GetIsEditing()) internal_->UpdateBufferRowKey();
  if (info->Node == nullptr) return {};
  return BinaryToHexText(info->Node->Key.data(), static_cast<int32_t>(info->Node->Key.size()));
}

TBookmark TREZDataset::GetBookmark() { return GetBookmarkStr(); }

void TREZDataset::GetBookmarkData(TRecordBuffer Buffer, void* Data) {
  const RowInfo* info = Info(Buffer);
  if (IsEmpty() || info->Node == nullptr) return;
  const AnsiString hex = BinaryToHexText(info->Node->Key.data(), static_cast<int32_t>(info->Node->Key.size()));
  std::memcpy(Data, hex.data(), std::min<size_t>(hex.size(), static_cast<size_t>(BookmarkSize())));
}

void TREZDataset::SetBookmarkData(TRecordBuffer Buffer, const void* Data) {
  RowInfo* info = Info(Buffer);
  if (info->Node == nullptr || Data == nullptr) return;
  const AnsiString hex(static_cast<const char*>(Data), static_cast<size_t>(BookmarkSize()));
  HexTextToBinary(hex, info->Node->Key.data(), static_cast<int32_t>(info->Node->Key.size()));
}

int32_t TREZDataset::CompareBookmarks(const TBookmark& Bookmark1, const TBookmark& Bookmark2) {
  if (Bookmark1.empty() || Bookmark2.empty()) return 0;
  const int32_t saved = internal_->GetBufferRowNum();
  internal_->SetBufferBookmark(Bookmark1);
  const int32_t r1 = internal_->GetBufferRowNum();
  internal_->SetBufferBookmark(Bookmark2);
  const int32_t r2 = internal_->GetBufferRowNum();
  internal_->SetBufferRowNum(saved);
  if (r1 == r2) return 0;
  return r2 < r1 ? 1 : -1;
}

bool TREZDataset::BookmarkValid(const TBookmark& Bookmark) {
  if (Bookmark.empty()) return false;
  return internal_->BookmarkValid(Bookmark);
}

void TREZDataset::Resync(TResyncMode Mode) {
  if (!Active()) return;
  internal_->BeginTimedFetch();
  try {
    TDataSet::Resync(Mode);
  } catch (...) {
    internal_->EndTimedFetch();
    throw;
  }
  internal_->EndTimedFetch();
}

bool TREZDataset::IsSequenced() {
  // Read from an ordering position, the buffered rows say nothing of the whole count.
  if (internal_->Prepared() && internal_->OrderingRange()) return false;
  if (record_count_accurate_ && !auto_fetch_all_) return false;
  return true;
}

int32_t TREZDataset::RecordCount() {
  if (!Active()) return 0;
  if (!IsSequenced()) return internal_->GetRecordCountBusy();
  if (!internal_->GetEofFetched() && internal_->GetBufferRowCount() < 2) internal_->SysRefreshKeys(1, 2);
  int32_t n = internal_->GetBufferRowCount();
  if (!internal_->GetEofFetched()) n += BufferCount() / 2 + 1;
  return n;
}

int32_t TREZDataset::RecNo() {
  if (!Active()) return 0;
  TRecordBuffer b = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  return b != nullptr ? Info(b)->RowNum : 0;
}

void TREZDataset::SetRecNo(int32_t Value) {
  if (Value == RecNo()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  internal_->SetBufferRowNum(Value);
  current_ = internal_->GetBufferRowNum();
  Resync({rmCenter});
  DoAfterScroll();
}

// ---------------------------------------------------------------------------------------------
// Editing

bool TREZDataset::GetCanModify() {
  if (internal_->EditSQL()->Count() > 0 || internal_->InsertSQL()->Count() > 0 ||
      internal_->DeleteSQL()->Count() > 0)
    return !read_only_;
  if (!RequestLive() && !CachedUpdates()) return false;
  if (!RequestLive() && CachedUpdates() && !OnUpdateRecord && update_object_ == nullptr) return false;
  if (IB_Transaction() != nullptr && IB_Transaction()->ReadOnly()) return false;
  if (internal_->GetIsEditing()) return true;
  return !read_only_;
}

void TREZDataset::DoBeforeInsert() {
  UpdateCursorPos();
  MoveInternalToBuffer();
  if (!internal_->GetCanInsert()) internal_->Insert();
  TDataSet::DoBeforeInsert();
  UpdateCursorPos();
  MoveInternalToBuffer();
}

void TREZDataset::InternalInsert() {
  TRecordBuffer b = ActiveBuffer();
  if (Info(b)->Flag == bfInserted) {
    internal_->Insert();
  } else {
    internal_->Append();
    appending_ = true;
  }
  RowInfo* info = Info(b);
  info->RowNum = internal_->GetRowNum();
  info->Node = internal_->Fields()->RowNode();
}

void TREZDataset::DoOnNewRecord() {
  try {
    InitMasterLinkFields();
    TDataSet::DoOnNewRecord();
  } catch (...) {
    appending_ = false;
    internal_->Cancel();
    throw;
  }
}

void TREZDataset::InternalEdit() {
  MoveInternalToBuffer();
  internal_->Edit();
  if (internal_->GetRowNum() != current_) {
    current_ = internal_->GetRowNum();
    CursorPosChanged();
  }
}

void TREZDataset::UpdateRecordInfo(bool Moved) {
  if (Moved) {
    current_ = internal_->GetRowNum();
    CursorPosChanged();
  }
  if (BufferCount() == 0) return;
  RowInfo* info = Info(ActiveBuffer());
  info->RowNum = internal_->GetRowNum();
  info->Node = internal_->Fields()->RowNode();
  info->Flag = internal_->GetBof() ? bfBOF : internal_->GetEof() ? bfEOF : bfCurrent;
}

void TREZDataset::InternalPost() {
  TDataSet::InternalPost();
  internal_->Post();
  UpdateRecordInfo(internal_->GetRowNum() != current_);
  appending_ = false;
}

void TREZDataset::InternalCancel() {
  if (internal_->GetIsEditing()) internal_->Cancel();
  UpdateRecordInfo(internal_->GetRowNum() != current_);
  appending_ = false;
}

void TREZDataset::InternalDelete() {
  MoveInternalToBuffer();
  const int32_t r = internal_->GetRowNum();
  internal_->SysRefreshKeys(r + 1, r + 1);
  internal_->Delete();
  if (internal_->GetRowNum() != current_) {
    current_ = internal_->GetRowNum();
    CursorPosChanged();
  }
}

void TREZDataset::InternalAddRecord(const void* Buffer, bool Append) {
  if (Append)
    internal_->Append();
  else
    internal_->Insert();
  std::memcpy(internal_->Fields()->RowBuffer(), Buffer, record_size_);
  internal_->Post();
  std::memcpy(const_cast<void*>(Buffer), internal_->Fields()->RowBuffer(), record_size_);
  UpdateRecordInfo(true);
  CursorPosChanged();
}

void TREZDataset::Post() {
  if (posting_) return;
  if (State() == dsSetKey) {
    PostKeyBuffer(true);
    return;
  }
  posting_ = true;
  try {
    TDataSet::Post();
  } catch (...) {
    posting_ = false;
    throw;
  }
  posting_ = false;
}

void TREZDataset::Cancel() {
  if (cancelling_) return;
  if (State() == dsSetKey) {
    PostKeyBuffer(false);
    return;
  }
  cancelling_ = true;
  try {
    TDataSet::Cancel();
  } catch (...) {
    cancelling_ = false;
    throw;
  }
  cancelling_ = false;
}

void TREZDataset::InternalRefresh() {
  if (refreshing_) return;
  refreshing_ = true;
  try {
    MoveInternalToBuffer();
    internal_->RefreshAll();
    current_ = internal_->GetRowNum();
    CursorPosChanged();
  } catch (...) {
    refreshing_ = false;
    throw;
  }
  refreshing_ = false;
}

void TREZDataset::InternalHandleException() {
  if (Application() != nullptr) Application()->HandleException(this);
}

// ---------------------------------------------------------------------------------------------
// Key ranges

void TREZDataset::ClearKey(uint8_t* Key) {
  std::memset(Key, 0, static_cast<size_t>(kKeyHeader + record_size_));
  // Key fields start empty (null), not as zeros.
  TIB_Row* row = internal_->Fields();
  for (int32_t i = 0; i < row->ColumnCount(); ++i) {
    const ptrdiff_t at = row->GetColumn(i)->NullIndPtr() - row->RowBuffer();
    const int16_t null = -1;
    std::memcpy(Key + kKeyHeader + at, &null, 2);
  }
}

void TREZDataset::AllocKeyBuffers() {
  key_buffers_.assign(6, std::vector<uint8_t>(static_cast<size_t>(kKeyHeader + record_size_), 0));
  for (auto& k : key_buffers_) ClearKey(k.data());
  current_key_ = nullptr;
}

TField* TREZDataset::GetIndexField(int32_t Index) {
  if (Index < 0 || Index >= GetIndexFieldCount()) DatabaseError(CZ("Index pole mimo rozsah"), this);
  AnsiString name = index_fields_[static_cast<size_t>(Index)];
  const size_t dot = name.rfind('.');
  if (dot != AnsiString::npos) name = name.substr(dot + 1);
  name = StripQuotes(name);
  TField* f = FindField(name);
  if (f == nullptr) {
    TIB_Column* c = internal_->FindField(name);
    if (c != nullptr) f = FindField(c->GetBDEFieldName());
  }
  if (f == nullptr) DatabaseErrorFmt(CZ("Nelze zpřístupnit pole indexu '%s'"), {name}, this);
  return f;
}

void TREZDataset::SetKeyBuffer(int32_t Index, bool Clear) {
  CheckBrowseMode();
  if (key_buffers_.empty()) AllocKeyBuffers();
  if (Clear) ClearKey(KeyBuffer(Index));
  current_key_ = KeyBuffer(Index);
  std::memcpy(KeyBuffer(5), current_key_, static_cast<size_t>(kKeyHeader + record_size_));
  range_editing_ = Index == 1 || Index == 2;
  SetState(dsSetKey);
  SetModified(KeyHead(current_key_)->Modified != 0);
  DataEvent(deDataSetChange, 0);
}

void TREZDataset::PostKeyBuffer(bool Commit) {
  DataEvent(deCheckBrowseMode, 0);
  if (Commit) {
    KeyHeader* h = KeyHead(current_key_);
    h->Modified = Modified() ? 1 : 0;
    // The leading index fields that hold a value count.
    int32_t n = 0;
    TIB_Row* row = internal_->Fields();
    for (int32_t i = 0; i < GetIndexFieldCount(); ++i) {
      TIB_Column* c = ColumnOf(GetIndexField(i));
      if (c == nullptr) break;
      int16_t ind;
      std::memcpy(&ind, current_key_ + kKeyHeader + (c->NullIndPtr() - row->RowBuffer()), 2);
      if (ind == -1) break;
      ++n;
    }
    h->FieldCount = n;
  } else {
    std::memcpy(current_key_, KeyBuffer(5), static_cast<size_t>(kKeyHeader + record_size_));
  }
  SetState(dsBrowse);
  DataEvent(deDataSetChange, 0);
}

void TREZDataset::ApplyKeyRange() {
  CheckBrowseMode();
  if (key_buffers_.empty()) return;
  const size_t size = static_cast<size_t>(kKeyHeader + record_size_);
  std::memcpy(KeyBuffer(3), KeyBuffer(1), size);
  std::memcpy(KeyBuffer(4), KeyBuffer(2), size);
  range_editing_ = false;
  internal_->InvalidateSQL();
  if (Active()) {
    closing_for_range_ = true;
    try {
      Close();
      Open();
    } catch (...) {
      closing_for_range_ = false;
      throw;
    }
    closing_for_range_ = false;
  }
}

bool TREZDataset::ResetRange() {
  if (key_buffers_.empty()) return false;
  if (KeyHead(KeyBuffer(3))->Modified == 0 && KeyHead(KeyBuffer(4))->Modified == 0) return false;
  KeyHead(KeyBuffer(3))->Modified = 0;
  KeyHead(KeyBuffer(4))->Modified = 0;
  internal_->InvalidateSQL();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Searching and filtering

bool TREZDataset::Locate(const AnsiString& KeyFields, const Variant& KeyValues, TLocateOptions Options) {
  CheckBrowseMode();
  uint8_t opts = 0;
  if (Options.Contains(loCaseInsensitive)) opts |= lopCaseInsensitive;
  if (Options.Contains(loPartialKey)) opts |= lopPartialKey;
  const int32_t before = internal_->GetRowNum();
  if (!internal_->LocateRecord(KeyFields, KeyValues, opts, true, false)) {
    if (internal_->GetRowNum() != before) internal_->SetRowNum(before);
    return false;
  }
  DoBeforeScroll();
  internal_->SetBufferRowNum(internal_->GetRowNum());
  current_ = internal_->GetRowNum();
  Resync({rmExact, rmCenter});
  DoAfterScroll();
  return true;
}

Variant TREZDataset::Lookup(const AnsiString& KeyFields, const Variant& KeyValues,
                            const AnsiString& ResultFields) {
  Variant result = Null();
  CheckBrowseMode();
  const int32_t saved_row = internal_->GetRowNum();
  if (!internal_->LocateRecord(KeyFields, KeyValues, 0, true, false)) {
    if (internal_->GetRowNum() != saved_row) internal_->SetRowNum(saved_row);
    return result;
  }
  internal_->SetBufferRowNum(internal_->GetRowNum());
  TRecordBuffer temp = TempBuffer();
  std::memcpy(temp, internal_->GetBufferFields()->RowBuffer(), record_size_);
  RowInfo* info = Info(temp);
  info->RowNum = internal_->GetBufferRowNum();
  info->Node = internal_->GetBufferFields()->RowNode();
  info->Flag = bfCurrent;
  try {
    CalculateFields(temp);
  } catch (...) {
    internal_->SetRowNum(saved_row);
    throw;
  }
  const TDataSetState st = SetTempState(dsCalcFields);
  try {
    result = FieldValues(ResultFields);
  } catch (...) {
    RestoreState(st);
    internal_->SetRowNum(saved_row);
    throw;
  }
  RestoreState(st);
  internal_->SetRowNum(saved_row);
  return result;
}

bool TREZDataset::FindRecord(bool Restart, bool GoForward) {
  CheckBrowseMode();
  DoBeforeScroll();
  SetFound(false);
  UpdateCursorPos();
  MoveInternalToBuffer();
  if (!internal_->FindRecord(Restart, GoForward)) return false;
  current_ = internal_->GetRowNum();
  Resync({rmExact, rmCenter});
  SetFound(true);
  DoAfterScroll();
  return true;
}

void TREZDataset::FilterChanging(const std::function<void()>& Change) {
  if (!Active()) {
    Change();
    return;
  }
  CheckBrowseMode();
  UpdateCursorPos();
  const AnsiString before = internal_->GetBufferBookmark();
  DoBeforeScroll();
  MoveInternalToBuffer();
  // The internal dataset may reopen itself for the change: that is no close of ours.
  ++internal_change_;
  try {
    Change();
  } catch (...) {
    --internal_change_;
    throw;
  }
  --internal_change_;
  current_ = internal_->GetRowNum();
  if (internal_->GetBof() || internal_->GetEof()) {
    InternalFirst();
    internal_->SetBufferRowNum(current_);
  }
  Resync({});
  if (internal_->GetBookmark() != before) DoAfterScroll();
}

void TREZDataset::SetFiltered(bool Value) {
  FilterChanging([&] {
    internal_->SetFiltered(Value);
    TDataSet::SetFiltered(Value);
  });
}

void TREZDataset::SetFilterText(const AnsiString& Value) {
  auto change = [&] {
    internal_->SetFilter(Value);
    TDataSet::SetFilterText(Value);
  };
  if (Filtered())
    FilterChanging(change);
  else
    change();
}

void TREZDataset::SetFilterOptions(TFilterOptions Value) {
  auto change = [&] {
    internal_->SetFilterOptions(Value);
    TDataSet::SetFilterOptions(Value);
  };
  if (Filtered())
    FilterChanging(change);
  else
    change();
}

void TREZDataset::SetOnFilterRecord(const TFilterRecordEvent& Value) {
  TDataSet::SetOnFilterRecord(Value);
  auto install = [&] {
    if (!Value) {
      internal_->SetOnFilterRecord(nullptr);
      return;
    }
    internal_->SetOnFilterRecord([this](TIB_Row* Row, bool& Accept) {
      TRecordBuffer temp = TempBuffer();
      std::memcpy(temp, Row->RowBuffer(), record_size_);
      RowInfo* info = Info(temp);
      info->Node = Row->RowNode();
      info->Flag = bfCurrent;
      try {
        GetCalcFields(temp);
      } catch (...) {
        InternalHandleException();
      }
      const TDataSetState st = SetTempState(dsFilter);
      filter_record_ = temp;
      filter_node_ = Row->RowNode();
      Accept = true;
      try {
        if (on_filter_record_) on_filter_record_(this, Accept);
      } catch (...) {
        InternalHandleException();
      }
      filter_record_ = nullptr;
      filter_node_ = nullptr;
      RestoreState(st);
    });
  };
  if (Active())
    FilterChanging([&] {
      install();
      internal_->RefilterRows();
    });
  else
    install();
}

bool TREZDataset::GetIsIndexField(TField* Field) {
  TIB_Column* col = ColumnOf(Field);
  if (col == nullptr) return false;
  for (const AnsiString& f : index_fields_)
    if (AnsiSameText(f, col->GetFieldName()) || AnsiSameText(f, col->GetBDEFieldName())) return true;
  return false;
}

void TREZDataset::GetDetailLinkFields(std::vector<TField*>& MasterFields, std::vector<TField*>& DetailFields) {
  MasterFields.clear();
  DetailFields.clear();
  TDataSet* master = master_link_->DataSet();
  if (master == nullptr) return;
  for (int32_t i = 0; i < params_->Count(); ++i) {
    TField* m = master->FindField(params_->Items(i)->Name());
    TField* d = FindField(params_->Items(i)->Name());
    if (m != nullptr && d != nullptr) {
      MasterFields.push_back(m);
      DetailFields.push_back(d);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Fields

TFieldFactory TREZDataset::GetFieldClass(TFieldType Type) {
  if (Type == ftString) return [](TComponent* o) -> TField* { return new TREZStringField(o); };
  if (Type == ftFloat) return [](TComponent* o) -> TField* { return new TREZFloatField(o); };
  if (Type == ftLargeint) return [](TComponent* o) -> TField* { return new TREZLargeIntField(o); };
  return TDataSet::GetFieldClass(Type);
}

void TREZDataset::CheckFieldCompatibility(TField* Field, const TFieldDef* FieldDef) {
  const TFieldType f = Field->DataType();
  const TFieldType d = FieldDef->DataType();
  if (f == ftBCD) {
    Field->SetSize(FieldDef->Size());
    if (auto* bcd = dynamic_cast<TBCDField*>(Field)) bcd->SetPrecision(FieldDef->Precision());
  }
  struct Pair {
    TFieldType field, def;
  };
  static constexpr Pair kAccepted[] = {
      {ftLargeint, ftInteger}, {ftInteger, ftLargeint}, {ftString, ftLargeint},
      {ftBCD, ftLargeint},     {ftBCD, ftInteger},      {ftBCD, ftFloat},
      {ftFloat, ftLargeint},   {ftFloat, ftInteger},    {ftFloat, ftBCD}};
  for (const Pair& p : kAccepted)
    if (p.field == f && p.def == d) return;
  if (f == ftString && d == ftMemo) {
    if (Field->DataSize() > 65534)
      DatabaseErrorFmt(dbmsg::FieldSizeMismatch(),
                       {Field->DisplayName(), IntToStr(Field->Size()), IntToStr(FieldDef->Size())}, this);
    return;
  }
  TDataSet::CheckFieldCompatibility(Field, FieldDef);
}

TIB_Column* TREZDataset::ColumnOf(const TField* Field) const {
  if (Field->FieldNo() < 1) return nullptr;
  return internal_->Fields()->GetColumn(Field->FieldNo() - 1);
}

bool TREZDataset::RecordFor(TRecordBuffer& Record, char*& Data, bool& Live) {
  Record = nullptr;
  Data = nullptr;
  Live = false;
  if (internal_->Applying()) {
    // Cached updates are being applied: the row being applied is the internal live row,
    // the framework's temporary buffer holds the calculated fields.
    TIB_Row* row = internal_->Fields();
    Record = TempBuffer();
    Data = State() == dsOldValue ? row->OldRowBuffer() : row->RowBuffer();
    Live = State() != dsOldValue;
    return Data != nullptr && Record != nullptr;
  }
  bool may_be_live = false;
  switch (State()) {
    case dsBrowse:
      if (IsEmpty()) return false;
      [[fallthrough]];
    case dsEdit:
    case dsInsert:
    case dsBlockRead:
      Record = ActiveBuffer();
      may_be_live = true;
      break;
    case dsCalcFields:
      Record = CalcBuffer();
      may_be_live = true;
      break;
    case dsSetKey:
      if (current_key_ == nullptr) return false;
      Record = current_key_ + kKeyHeader;
      Data = reinterpret_cast<char*>(Record);
      return true;
    case dsFilter:
      Record = filter_record_;
      break;
    case dsNewValue:
    case dsOldValue: {
      TRecordBuffer active = ActiveBuffer();
      if (active != nullptr && Info(active)->Node != internal_->Fields()->RowNode())
        internal_->SetRowNum(Info(active)->RowNum);
      TIB_Row* row = internal_->Fields();
      Record = active;
      Data = State() == dsOldValue ? row->OldRowBuffer() : row->RowBuffer();
      return Data != nullptr;
    }
    default:
      return false;
  }
  if (Record == nullptr) return false;
  Data = reinterpret_cast<char*>(Record);
  if (may_be_live) {
    const RowInfo* info = Info(Record);
    TIB_Row* row = internal_->Fields();
    if (info->Node != nullptr && info->Node == row->RowNode() && info->RowNum == internal_->GetRowNum() &&
        row->RowBuffer() != nullptr) {
      Data = row->RowBuffer();
      Live = true;
    }
  }
  return true;
}

bool TREZDataset::GetFieldData(TField* Field, void* Buffer) {
  TRecordBuffer rec;
  char* data;
  bool live;
  if (!RecordFor(rec, data, live)) return false;
  if (Field->FieldNo() < 1) {
    switch (State()) {
      case dsBrowse: case dsEdit: case dsInsert: case dsCalcFields: case dsFilter: case dsBlockRead:
        break;
      default:
        return false;
    }
    const uint8_t* at = rec + record_size_ + Field->Offset();
    if (at[0] == 0) return false;
    if (Buffer != nullptr) std::memcpy(Buffer, at + 1, static_cast<size_t>(CalcValueSize(Field)));
    return true;
  }
  TIB_Column* col = ColumnOf(Field);
  if (col == nullptr) return false;
  TIB_Row* row = internal_->Fields();
  const ptrdiff_t offset = col->DataPtr() - row->RowBuffer();
  return REZReadColumn(DescOf(Field->FieldNo() - 1), data + offset, Field->DataType(), Field->Size(), Buffer);
}

bool TREZDataset::GetFieldData(TField* Field, void* Buffer, bool NativeFormat) {
  // A BCD field's value is a Currency in both forms.
  if (IsBcd(Field)) return GetFieldData(Field, Buffer);
  return TDataSet::GetFieldData(Field, Buffer, NativeFormat);
}

void TREZDataset::SetFieldData(TField* Field, const void* Buffer, bool NativeFormat) {
  if (IsBcd(Field)) {
    SetFieldData(Field, Buffer);
    return;
  }
  TDataSet::SetFieldData(Field, Buffer, NativeFormat);
}

void TREZDataset::SetFieldData(TField* Field, const void* Buffer) {
  const TDataSetState st = State();
  switch (st) {
    case dsEdit: case dsInsert: case dsSetKey: case dsCalcFields: case dsFilter: case dsNewValue:
    case dsInternalCalc:
      break;
    default:
      DatabaseError(dbmsg::NotEditing(), this);
  }
  if (st == dsSetKey && (Field->FieldNo() < 0 || (GetIndexFieldCount() > 0 && !GetIsIndexField(Field))))
    DatabaseErrorFmt(CZ("Pole '%s' není indexováno a nelze jej modifikovat"), {Field->DisplayName()}, this);
  TRecordBuffer rec;
  char* data;
  bool live;
  if (RecordFor(rec, data, live)) {
    if (Field->FieldNo() < 1) {
      uint8_t* at = rec + record_size_ + Field->Offset();
      at[0] = Buffer != nullptr ? 1 : 0;
      if (Buffer != nullptr) std::memcpy(at + 1, Buffer, static_cast<size_t>(CalcValueSize(Field)));
    } else {
      if (st == dsCalcFields) DatabaseError(dbmsg::NotEditing(), this);
      if (Field->ReadOnly() && st != dsSetKey && st != dsFilter)
        DatabaseErrorFmt(dbmsg::FieldReadOnly(), {Field->DisplayName()}, this);
      Field->Validate(Buffer);
      TIB_Column* col = ColumnOf(Field);
      if (col != nullptr) {
        const ptrdiff_t offset = col->DataPtr() - internal_->Fields()->RowBuffer();
        const TREZColumnDesc& desc = DescOf(Field->FieldNo() - 1);
        if (live) {
          // The live row of the internal dataset: its columns hear of the change.
          col->SysBeforeModify();
          REZWriteColumn(desc, data + offset, Field->DataType(), Field->Size(), Buffer);
          col->SysAfterModify();
        } else {
          REZWriteColumn(desc, data + offset, Field->DataType(), Field->Size(), Buffer);
        }
        SetModified(true);
      }
    }
  }
  if (st != dsCalcFields && st != dsFilter && st != dsNewValue)
    DataEvent(deFieldChange, reinterpret_cast<intptr_t>(Field));
}

std::unique_ptr<TStream> TREZDataset::CreateBlobStream(TField* Field, TBlobStreamMode Mode) {
  return std::make_unique<TREZBlobStream>(Field, Mode);
}

}  // namespace pelvar
