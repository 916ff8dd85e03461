// The buffered dataset: its keys, fetching into the node list, the current and buffer
// rows and navigation over the buffered rows.
#include "dbengine/IB_Components_bdataset.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Parse.h"
#include "dbengine/ib_bdataset_internal.h"
#include "platform/application.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace bdataset_detail {

int16_t ReadShort(const char* P) {
  int16_t v;
  std::memcpy(&v, P, sizeof v);
  return v;
}

void WriteShort(char* P, int16_t V) { std::memcpy(P, &V, sizeof V); }

std::vector<TIB_Column*> BufferOrderColumns(const TIB_Row& Row) {
  std::vector<TIB_Column*> cols;
  for (int32_t i = 0; i < Row.ColumnCount(); ++i) {
    TIB_Column* c = Row.GetColumn(i);
    if (c != nullptr && c->NullIndPtr() != nullptr) cols.push_back(c);
  }
  std::sort(cols.begin(), cols.end(),
            [](TIB_Column* a, TIB_Column* b) { return a->NullIndPtr() < b->NullIndPtr(); });
  cols.erase(std::unique(cols.begin(), cols.end(),
                         [](TIB_Column* a, TIB_Column* b) { return a->NullIndPtr() == b->NullIndPtr(); }),
             cols.end());
  return cols;
}

void PackColumns(const std::vector<TIB_Column*>& Cols, std::vector<char>& Out) {
  // One pass that sizes, one that copies: the hot loop of every fetch.
  size_t size = 0;
  for (TIB_Column* c : Cols) {
    size += 2;
    const char* ind = c->NullIndPtr();
    if (ReadShort(ind) == -1 && c->GetIsNullable()) continue;
    if (c->BaseType() == SQL_VARYING) {
      const int32_t len = std::clamp<int32_t>(static_cast<uint16_t>(ReadShort(c->DataPtr())), 0, c->GetSQLLen());
      size += 2 + static_cast<size_t>(len);
    } else {
      size += static_cast<size_t>(c->GetBufferDataSize());
    }
  }
  Out.resize(size);
  char* p = Out.data();
  for (TIB_Column* c : Cols) {
    const int16_t ind = ReadShort(c->NullIndPtr());
    WriteShort(p, ind);
    p += 2;
    if (ind == -1 && c->GetIsNullable()) continue;
    if (c->BaseType() == SQL_VARYING) {
      const int16_t len = static_cast<int16_t>(
          std::clamp<int32_t>(static_cast<uint16_t>(ReadShort(c->DataPtr())), 0, c->GetSQLLen()));
      WriteShort(p, len);
      std::memcpy(p + 2, c->DataPtr() + 2, static_cast<size_t>(len));
      p += 2 + len;
    } else {
      const size_t n = static_cast<size_t>(c->GetBufferDataSize());
      std::memcpy(p, c->DataPtr(), n);
      p += n;
    }
  }
}

void CopyKeyValue(TIB_Column* Key, const TIB_Column* Source, bool Old) {
  const char* ind = Old ? Source->OldNullIndPtr() : Source->NullIndPtr();
  const char* data = Old ? Source->OldDataPtr() : Source->DataPtr();
  const int32_t size = Key->GetBufferDataSize();
  char* kdata = Key->DataPtr();
  // Bytes a value does not use are zero, so that equal keys are equal byte for byte.
  std::memset(kdata, 0, static_cast<size_t>(size));
  const int16_t null = ind != nullptr ? ReadShort(ind) : 0;
  WriteShort(Key->NullIndPtr(), null == -1 ? int16_t{-1} : int16_t{0});
  if (null == -1 || data == nullptr) return;
  if (Key->BaseType() == SQL_VARYING) {
    const int32_t len = std::clamp<int32_t>(static_cast<uint16_t>(ReadShort(data)), 0, Key->GetSQLLen());
    WriteShort(kdata, static_cast<int16_t>(len));
    std::memcpy(kdata + 2, data + 2, static_cast<size_t>(len));
  } else {
    std::memcpy(kdata, data, static_cast<size_t>(std::min(size, Source->GetBufferDataSize())));
  }
}

}  // namespace bdataset_detail

using namespace bdataset_detail;

// --- Construction ------------------------------------------------------------------------------

TIB_BDataset::TIB_BDataset(TComponent* Owner) : TIB_Dataset(Owner) {
  node_list_ = std::make_unique<TIB_NodeList>();
  row_cursor_ = std::make_unique<TIB_BindingCursor>(nullptr, this);
  buffer_cursor_ = std::make_unique<TIB_BindingCursor>(nullptr, this);
  buffer_cursor_->SetReadOnly(true);
  InstallHandlers();
  SetRefreshAction(raKeepRowNum);
  SetRefreshOnParamChange(true);
  SetSearchedEdits(true);
  SetSearchedDeletes(true);
  SetPreparedEdits(true);
  SetKeyLinksAutoDefine(true);
}

TIB_BDataset::~TIB_BDataset() {
  try {
    Close();
  } catch (...) {
  }
  try {
    if (CachedUpdates && node_list_->HasPendingUpdates()) ProcessUpdates(npmCancel);
  } catch (...) {
  }
  CachedUpdates = false;
  try {
    Unprepare();
  } catch (...) {
  }
  Fields()->SetRowNode(nullptr);
  try {
    UpdatePendingState();
  } catch (...) {
  }
  locate_cursor_.reset();
  filter_cursor_.reset();
  key_cursor_.reset();
  if (buffer_cursor_) buffer_cursor_->Fields()->SetRowNode(nullptr);
  if (row_cursor_) row_cursor_->Fields()->SetRowNode(nullptr);
  row_cursor_.reset();
  buffer_cursor_.reset();
}

void TIB_BDataset::InstallHandlers() {
  node_list_->OnFetch = [this](TIB_NodeList*, bool Forward, int32_t Count) { FetchRows(Forward, Count); };
  node_list_->OnApplyUpdate = [this](TIB_NodeList*, TIB_Node* Node, int32_t& Action, int32_t Kind) {
    ApplyOneUpdate(Node, Action, Kind);
  };
  node_list_->OnRevert = [this](TIB_NodeList*, TIB_Node* Node) { RevertedNode(Node); };
  node_list_->OnAcceptInsert = [this](TIB_NodeList*, TIB_Node* Node, bool& Accept) {
    SysFilterRow(Node, Accept);
  };
  node_list_->OnFilter = [this](TIB_NodeList*, TIB_Node* Node, bool& Hidden) {
    Hidden = !RowPassesFilter(Node);
  };
}

bool TIB_BDataset::GetUnidirectional() const { return unidirectional_; }

void TIB_BDataset::SetUnidirectional(bool Value) {
  if (Value == unidirectional_) return;
  Unprepare();
  unidirectional_ = Value;
  node_list_->SetUnidirectional(Value);
}

void TIB_BDataset::SetFetchWholeRows(bool Value) {
  if (Value == fetch_whole_rows_) return;
  Unprepare();
  fetch_whole_rows_ = Value;
}

bool TIB_BDataset::HasCustomDML(int32_t Kind) const {
  if (OnUpdateRecord) return true;
  return TIB_Dataset::HasCustomDML(Kind);
}

// --- Preparing -------------------------------------------------------------------------------------

void TIB_BDataset::DoPrepareSQL() {
  locate_cursor_.reset();
  filter_cursor_.reset();
  TIB_Dataset::DoPrepareSQL();
  if (Trim(SQL()->Text()).empty()) {
    throw EIB_StatementError(this, IB_Message(TIB_Msg::CannotPrepareEmpty));
  }
  if (Filtered() && !Trim(filter_).empty() && IsSelectStatement()) {
    // The filter reads its columns' types (text compared by prefix, dates, numbers); the
    // first prepare has none yet and is followed by a second one that has them.
    filter_without_columns_ = Fields()->ColumnCount() == 0;
    FilterToSQL(*this, WhereCriteria());
  }
  BuildRange();
  if (!range_forward_.empty() && GetState() != dstSearch) WhereCriteriaLast()->Add(range_forward_);
}

void TIB_BDataset::BuildRange() {
  range_forward_.clear();
  range_backward_.clear();
  range_param_.clear();
  reverse_.reset();
  if (OrderingItemNo() == 0 || OrderingLink().empty() || !IsSelectStatement()) return;
  const int32_t i = OrderingLinks()->IndexOfName(OrderingLink());
  if (i < 0 || !OrderingLinks()->HasItemAttribute(i, "POS")) return;
  AnsiString column = Trim(OrderingLink());
  AnsiString nocase;
  if (OrderingLinks()->GetItemAttributeValue(i, "NOCASE", nocase)) {
    column = Trim(nocase).empty() ? "UPPER( " + column + " )" : Trim(nocase);
  }
  const int32_t dot = CharPosOutsideQuotes('.', OrderingLink());
  AnsiString name = dot > 0 ? OrderingLink().substr(static_cast<size_t>(dot)) : OrderingLink();
  name = "OLNK_" + StripQuotes(Trim(name));
  if (name.size() > 31) name.resize(31);
  range_param_ = MakeStoredIdent(name);
  const AnsiString p = AnsiString(1, ParamChar()) + range_param_;
  const bool ascending = OrderingItemNo() > 0;
  range_forward_ = "( " + column + (ascending ? " >= " : " <= ") + p + " )";
  range_backward_ = "( " + column + (ascending ? " < " : " > ") + p + " )";
}

void TIB_BDataset::SetRangeBoundary(TIB_Column* Param, bool Lowest) {
  // No position: the boundary is the extreme of the column's type on the side reading
  // starts from.
  switch (Param->BaseType()) {
    case SQL_SHORT: Param->SetAsString(Lowest ? "-32768" : "32767"); break;
    case SQL_LONG: Param->SetAsString(Lowest ? "-2147483648" : "2147483647"); break;
    case SQL_INT64: Param->SetAsString(Lowest ? "-9223372036854775808" : "9223372036854775807"); break;
    case SQL_FLOAT:
    case SQL_DOUBLE: Param->SetAsVariant(Variant(Lowest ? -1.7e308 : 1.7e308)); break;
    case SQL_TYPE_DATE:
    case SQL_TIMESTAMP: Param->SetAsVariant(Variant::FromDateTime(Lowest ? -131070.0 : 131070.0)); break;
    case SQL_TEXT:
    case SQL_VARYING:
      Param->SetAsString(Lowest ? AnsiString() : AnsiString(static_cast<size_t>(Param->GetSQLLen()), 'z'));
      break;
    default:
      throw EIB_DatasetError(this, Format(CZ("Nepodporovaný typ sloupce: %d"), {IntToStr(Param->BaseType())}));
  }
}

void TIB_BDataset::SetOrderingPosition(const AnsiString& Text) {
  CheckPrepared();
  TIB_Column* p = range_param_.empty() ? nullptr : FindParam(range_param_);
  if (p == nullptr) return;
  const bool was_active = Active();
  if (was_active) Close();
  reverse_.reset();
  if (Text.empty()) {
    fetch_direction_ = 0;
    p->Clear();
  } else {
    fetch_direction_ = 1;
    p->SetAsString(Text);
  }
  if (was_active) Open();
}



bool TIB_BDataset::GetOrderingPlan() { return TIB_Dataset::GetOrderingPlan(); }

TIB_Column* TIB_BDataset::AddedDBKeyColumn() const {
  TIB_Row* row = Fields();
  if (!db_key_added_ || !Prepared() || row->ColumnCount() == 0) return nullptr;
  const int32_t last = row->PSQLDA()->sqld - 1;
  for (int32_t i = row->ColumnCount() - 1; i >= 0; --i) {
    TIB_Column* c = row->GetColumn(i);
    if (c->FieldNo() == last) return c;
  }
  return nullptr;
}

namespace {

// The text with line breaks and tabs as blanks, runs of blanks as one, trimmed.
AnsiString CollapseBlanks(const AnsiString& Text) {
  AnsiString r;
  r.reserve(Text.size());
  for (char ch : Text) {
    const char c = ch == '\r' || ch == '\n' || ch == '\t' ? ' ' : ch;
    if (c == ' ' && (r.empty() || r.back() == ' ')) continue;
    r += c;
  }
  while (!r.empty() && r.back() == ' ') r.pop_back();
  return r;
}

}  // namespace

void TIB_BDataset::SysPrepareServerSQL() {
  db_key_added_ = false;
  if (db_key_for_sql_ != SQL()->Text()) db_key_relation_.clear();
  if (db_key_relation_.empty() || !fetch_whole_rows_) {
    TIB_Dataset::SysPrepareServerSQL();
    return;
  }
  db_key_added_ = true;
  // Rows keyed by their db-key: the select list carries it, so that every fetched row
  // brings its key.
  const AnsiString written = SQL()->Text();
  AnsiString text = written;
  AnsiString select = GetSelectClause(text);
  // A bare star would stand before the added column ("*, X" is no SQL): it takes the
  // relation's name.
  const AnsiString prefix = GetFirstSkip(select);
  if (AnsiUpperCase(CollapseBlanks(select)) == AnsiUpperCase(CollapseBlanks("SELECT " + prefix + " *"))) {
    select = CollapseBlanks("SELECT " + prefix + " " + db_key_relation_ + ".*");
  }
  select += "\r\n     , " + db_key_relation_ + ".RDB$DB_KEY";
  SetSelectClause(text, select);
  const bool ignoring = IgnoreSQLChanges();
  SetIgnoreSQLChanges(true);
  SQL()->SetText(text);
  try {
    TIB_Dataset::SysPrepareServerSQL();
  } catch (...) {
    db_key_added_ = false;
    SQL()->SetText(written);
    SetIgnoreSQLChanges(ignoring);
    throw;
  }
  SQL()->SetText(written);
  SetIgnoreSQLChanges(ignoring);
}

bool TIB_BDataset::SysPrepare() {
  bool result = TIB_Dataset::SysPrepare();
  if (Prepared() && fetch_whole_rows_ && KeyLinksByDBKey() && key_column_map_.empty() &&
      db_key_relation_.empty() && KeyLinks()->Count() == 1) {
    db_key_relation_ = KeyLinks()->GetItemRelation(0);
    db_key_for_sql_ = SQL()->Text();
    if (!db_key_relation_.empty()) {
      Unprepare();
      result = TIB_Dataset::SysPrepare();
    }
  }
  return result;
}

void TIB_BDataset::DoAfterPrepare() {
  TIB_Dataset::DoAfterPrepare();
  if (filter_without_columns_ && Prepared() && Fields()->ColumnCount() > 0) {
    filter_without_columns_ = false;
    InvalidateSQL();
    SysPrepare();
  }
}

void TIB_BDataset::SysLayoutRows() {
  Fields()->SetRowNode(nullptr);
  current_node_shown_ = nullptr;
  TIB_Dataset::SysLayoutRows();
  if (Repreparing()) return;
  key_column_map_.clear();
  pack_columns_.clear();
  keys_only_ = false;
  key_select_.clear();
  key_cursor_.reset();
  row_cursor_->Unbind();
  buffer_cursor_->Unbind();
  if (!Prepared() || FieldCount() == 0 || !IsSelectStatement()) {
    KeyFields()->ClearColumns();
    return;
  }
  try {
    BuildKeyColumnMap();
    pack_columns_ = BufferOrderColumns(*Fields());
    const int32_t length = KeyFields()->RowBufferSize();
    if (length != node_list_->KeyLength()) node_list_->SetKeyLength(static_cast<uint16_t>(length));
    if (KeysReadable()) {
      AnsiString cols;
      for (const auto& m : key_column_map_) {
        if (!cols.empty()) cols += ", ";
        AnsiString field = m.second->GetFieldName();
        if (AnsiSameText(field, "DB_KEY")) field = "RDB$DB_KEY";
        cols += m.second->GetRelAlias().empty() ? field : m.second->GetRelAlias() + "." + field;
      }
      const AnsiString first_skip = GetFirstSkip(GetSelectClause(SQL()->Text()));
      key_select_ = Trim("SELECT " + first_skip + " " + cols);
      keys_only_ = !fetch_whole_rows_ && !IsAggregateSelect() && !IsExecuteBlock() &&
                   Trim(GetUnionClause(SQL()->Text())).empty();
    }
    buffer_cursor_->LayoutFromDataset();
  } catch (...) {
    key_column_map_.clear();
    key_select_.clear();
    keys_only_ = false;
    throw;
  }
}

void TIB_BDataset::BuildKeyColumnMap() {
  key_column_map_.clear();
  TIB_Row* key = KeyFields();
  if (!HasKeyLinks() || key->ColumnCount() != KeyLinks()->Count()) return;
  std::vector<std::pair<TIB_Column*, TIB_Column*>> map;
  for (int32_t i = 0; i < key->ColumnCount(); ++i) {
    TIB_Column* k = key->GetColumn(i);
    TIB_Column* f = nullptr;
    const AnsiString name = Trim(KeyLinks()->GetItemName(i));
    if (!Fields()->FindColumn(name, f) || f == nullptr) {
      // A db-key the select list carries under its own name.
      if (AnsiUpperCase(KeyLinks()->GetItemField(i)).find("DB_KEY") == AnsiString::npos ||
          !Fields()->FindColumn("DB_KEY", f) || f == nullptr) {
        return;
      }
    }
    k->SetRelAlias(f->GetRelAlias());
    map.emplace_back(k, f);
  }
  key_column_map_ = std::move(map);
}

void TIB_BDataset::CopyKeyFromRow(TIB_Row* Row, bool Old) {
  if (key_column_map_.empty()) return;
  if (Row == Fields()) {
    for (const auto& m : key_column_map_) CopyKeyValue(m.first, m.second, Old);
    return;
  }
  for (const auto& m : key_column_map_) {
    TIB_Column* src = nullptr;
    if (Row->FindColumnByFieldNo(m.second->FieldNo(), src) && src != nullptr) CopyKeyValue(m.first, src, Old);
  }
}

void TIB_BDataset::DoPreparedChanged() {
  if (!Prepared()) {
    Fields()->SetRowNode(nullptr);
    current_node_shown_ = nullptr;
  }
  TIB_Dataset::DoPreparedChanged();
}

void TIB_BDataset::DoAfterUnprepare() {
  reverse_.reset();
  key_column_map_.clear();
  pack_columns_.clear();
  key_cursor_.reset();
  TIB_Dataset::DoAfterUnprepare();
  row_cursor_->Unbind();
  buffer_cursor_->Unbind();
}

void TIB_BDataset::SysDeallocate() {
  row_cursor_->Unbind();
  buffer_cursor_->Unbind();
  locate_cursor_.reset();
  filter_cursor_.reset();
  key_cursor_.reset();
  TIB_Dataset::SysDeallocate();
}

// --- Opening and closing -----------------------------------------------------------------------

void TIB_BDataset::DoBeforeOpen() {
  if (range_forward_.empty()) fetch_direction_ = 0;
  if (!range_forward_.empty()) {
    if (TIB_Column* p = FindParam(range_param_)) {
      if (fetch_direction_ == 1 && p->GetIsNull()) fetch_direction_ = 0;
      // From the start: the forward read begins at the lowest end of the order. From the
      // end: the forward read finds nothing, and the backward read begins at the highest.
      if (fetch_direction_ == 0) SetRangeBoundary(p, OrderingItemNo() > 0);
      else if (fetch_direction_ == 2) SetRangeBoundary(p, OrderingItemNo() < 0);
    }
  }
  if (reverse_ && reverse_->Active()) reverse_->Close();
  TIB_Dataset::DoBeforeOpen();
}

void TIB_BDataset::SysInitFieldBuffers() {
  Fields()->SetRowNode(nullptr);
  current_node_shown_ = nullptr;
  TIB_Dataset::SysInitFieldBuffers();
}

void TIB_BDataset::SysExecSelect() {
  if (!keys_only_) {
    TIB_Dataset::SysExecSelect();
    return;
  }
  // Keys only: the keys of the result come through a SELECT of the key columns; the rows
  // are read one by one by key when they are shown.
  if (!key_cursor_) {
    key_cursor_ = std::make_unique<TIB_Cursor>(nullptr);
    key_cursor_->SetIB_Connection(IB_Connection());
    key_cursor_->SetIB_Transaction(IB_Transaction());
    AnsiString text = GetServerSQLText();
    SetSelectClause(text, key_select_);
    key_cursor_->SQL()->SetText(text);
    key_cursor_->SetAutoFetchFirst(false);
    key_cursor_->SetCallbackInc(-1);
    key_cursor_->Prepare();
  }
  key_cursor_->SetIB_Transaction(IB_Transaction());
  if (key_cursor_->Active()) key_cursor_->Close();
  if (!key_cursor_->Prepared()) key_cursor_->Prepare();
  for (int32_t i = 0; i < key_cursor_->ParamCount(); ++i) {
    TIB_Column* p = key_cursor_->Params()->GetColumn(i);
    if (TIB_Column* mine = FindParam(p->GetFullName())) p->SetAsVariant(mine->GetAsVariant());
  }
  key_cursor_->Open();
}

bool TIB_BDataset::FetchKeysOnlyRow() {
  if (!key_cursor_ || !key_cursor_->Active() || key_cursor_->GetEof()) {
    node_list_->SetFetched(true);
    return false;
  }
  key_cursor_->MoveBy(1);
  if (key_cursor_->GetEof()) {
    node_list_->SetFetched(true);
    ProcessLinkEvent(34, 1);
    return false;
  }
  TIB_Row* key = KeyFields();
  for (int32_t i = 0; i < key->ColumnCount() && i < key_cursor_->FieldCount(); ++i) {
    CopyKeyValue(key->GetColumn(i), key_cursor_->Fields()->GetColumn(i), false);
  }
  // The record filter sees the whole row: it is read by its key now (and kept, so that
  // showing it needs no second read).
  bool hidden = false;
  TIB_Node probe;
  if (on_filter_record_) {
    probe.Key.assign(key->RowBuffer(), key->RowBuffer() + key->RowBufferSize());
    hidden = !RowPassesFilter(&probe);
    std::memcpy(key->RowBuffer(), probe.Key.data(), probe.Key.size());
  }
  TIB_Node* node = node_list_->AddKey(key->RowBuffer(), lookup_duplicate_check_, hidden, true);
  if (node != nullptr && node->Row.empty() && !probe.Row.empty() &&
      (node->Flags & (nfModified | nfInserted)) == 0) {
    node->Row.swap(probe.Row);
    std::swap(node->BlobChain, probe.BlobChain);
  }
  return !(hidden && Filtered());
}

void TIB_BDataset::SysActivate() {
  if (!GetRefreshing()) node_list_->Release(keys_only_, fetch_whole_rows_, KeysReadable());
  else node_list_->Release(keys_only_ || Fields()->BlobCount() + Fields()->ArrayCount() > 0,
                           fetch_whole_rows_, KeysReadable());
  node_list_->BeginFetch(fetch_direction_);
  Fields()->SetRowNode(nullptr);
  buffer_cursor_->Fields()->SetRowNode(nullptr);
  current_node_shown_ = nullptr;
  synthetic_key_ = 0;
  reverse_key_ = 1;
  TIB_Dataset::SysActivate();
}

void TIB_BDataset::DoAfterOpen() {
  synthetic_key_ = std::max(synthetic_key_, 0);
  TIB_Dataset::DoAfterOpen();
}

void TIB_BDataset::DoAfterClose() {
  if (reverse_ && reverse_->Active()) {
    try {
      reverse_->Close();
    } catch (...) {
    }
  }
  row_cursor_->CloseCursor();
  buffer_cursor_->CloseCursor();
  if (key_cursor_ && key_cursor_->Active()) {
    try {
      key_cursor_->Close();
    } catch (...) {
    }
  }
  Fields()->SetRowNode(nullptr);
  buffer_cursor_->Fields()->SetRowNode(nullptr);
  current_node_shown_ = nullptr;
  node_list_->Release(GetRefreshing() && (keys_only_ || Fields()->BlobCount() + Fields()->ArrayCount() > 0),
                      fetch_whole_rows_, KeysReadable());
  if (!GetRefreshing()) {
    if (locate_cursor_ && locate_cursor_->Active()) locate_cursor_->Close();
    if (filter_cursor_ && filter_cursor_->Active()) filter_cursor_->Close();
  }
  UpdatePendingState();
  TIB_Dataset::DoAfterClose();
}

// --- Fetching --------------------------------------------------------------------------------------

// While rows are fetched into the field row, the row the user sees (and a change in it)
// is kept aside and put back afterwards.
class TIB_BDataset::RowSide {
 public:
  explicit RowSide(TIB_BDataset& D) : d_(D) {
    TIB_Row* row = d_.Fields();
    node_ = row->RowNode();
    editing_ = d_.GetIsEditing();
    if (editing_) {
      const size_t n = static_cast<size_t>(row->RowBufferSize());
      saved_.assign(row->RowBuffer(), row->RowBuffer() + n);
      saved_old_.assign(row->OldRowBuffer(), row->OldRowBuffer() + n);
      state_ = row->RowState();
    }
    row->SetRowNode(nullptr);
    row->BeginUpdate();
  }
  ~RowSide() {
    TIB_Row* row = d_.Fields();
    try {
      if (editing_) {
        std::memcpy(row->RowBuffer(), saved_.data(), saved_.size());
        std::memcpy(row->OldRowBuffer(), saved_old_.data(), saved_old_.size());
        row->SetRowNode(node_);
        row->SetRowState(state_);
      } else {
        row->SetRowNode(nullptr);
        d_.current_node_shown_ = nullptr;
        TIB_Node* cur = d_.node_list_->RowNode();
        if (cur != nullptr && !d_.node_list_->IsSentinel(cur) && !cur->Row.empty() && cur == node_) {
          row->SetRowNode(cur);
          row->LoadFromNode(false, false);
          if (row->CalculatedCount() > 0) row->CalculateFields();
          d_.current_node_shown_ = cur;
        } else if (node_ == nullptr) {
          row->ClearRow(rsEmpty);
        }
      }
      row->EndUpdate(false);
    } catch (...) {
      // Putting the row back cannot fail on buffers of the same layout.
    }
  }
  RowSide(const RowSide&) = delete;
  RowSide& operator=(const RowSide&) = delete;

 private:
  TIB_BDataset& d_;
  TIB_Node* node_ = nullptr;
  bool editing_ = false;
  std::vector<char> saved_, saved_old_;
  uint8_t state_ = rsEmpty;
};

void TIB_BDataset::FetchRows(bool Forward, int32_t Count) {
  if (!Forward) {
    // Rows before the first one exist only when reading started at an ordering position.
    if (fetch_direction_ != 0 && !node_list_->BofFetched()) {
      FetchBackward(Count);
    } else {
      node_list_->SetFetched(false);
    }
    return;
  }
  if (node_list_->EofFetched() || !Active() || Count <= 0) return;
  CheckedInc(fetch_rows_nesting_);
  struct Back {
    int32_t& n;
    ~Back() { --n; }
  } back{fetch_rows_nesting_};
  if (keys_only_) {
    // A row the filter hides does not count.
    for (int32_t i = 0; i < Count && !node_list_->EofFetched();) {
      if (FetchKeysOnlyRow()) ++i;
    }
    return;
  }
  RowSide side(*this);
  const int32_t aborts = FetchAbortCount();
  for (int32_t i = 0; i < Count && CursorDeclared() && !node_list_->EofFetched() && aborts == FetchAbortCount(); ++i) {
    TIB_Dataset::SysFetchRow();
  }
  if (!CursorDeclared() && !node_list_->EofFetched()) node_list_->SetFetched(true);
}

void TIB_BDataset::SysFetchRow() { FetchRows(true, 1); }

void TIB_BDataset::SysFetchAll(uint32_t Ticks) {
  if (!Active()) return;
  const int32_t aborts = FetchAbortCount();
  const uint32_t start = GetTickCount();
  if (Ticks == 0) BeginCallbackFetch();
  else BeginTimedFetch();
  try {
    while (Active() && !node_list_->EofFetched() && aborts == FetchAbortCount()) {
      if (Ticks > 0 && GetTickCount() - start >= Ticks) break;
      FetchRows(true, Ticks > 0 ? 1 : 1000);
    }
  } catch (...) {
    try {
      if (Ticks == 0) EndCallbackFetch();
      else EndTimedFetch();
    } catch (...) {
    }
    throw;
  }
  if (Ticks == 0) EndCallbackFetch();
  else EndTimedFetch();
}

bool TIB_BDataset::DoAfterFetchRow() {
  TIB_Row* key = KeyFields();
  if (key_column_map_.empty()) {
    CheckedInc(synthetic_key_);
    TIB_Column* k = key->GetColumn(0);
    WriteShort(k->NullIndPtr(), 0);
    const ISC_LONG v = synthetic_key_;
    std::memcpy(k->DataPtr(), &v, sizeof v);
  } else {
    for (const auto& m : key_column_map_) CopyKeyValue(m.first, m.second, false);
  }
  bool hidden = false;
  if (on_filter_record_) hidden = !DoFilterRecord(Fields());
  TIB_Node* node = node_list_->AddKey(key->RowBuffer(), lookup_duplicate_check_, hidden, true);
  if (node == nullptr) return !lookup_duplicate_check_;
  if ((node->Flags & nfModified) == 0 && (node->Flags & nfInserted) == 0) {
    PackColumns(pack_columns_, node->Row);
    node->OldRowEdited = false;
  }
  if (AfterFetchRow) TIB_Dataset::DoAfterFetchRow();
  return !(hidden && Filtered());
}

void TIB_BDataset::DoAfterFetchEof() {
  node_list_->SetFetched(true);
  ProcessLinkEvent(34, 1);
  TIB_Dataset::DoAfterFetchEof();
}

bool TIB_BDataset::FetchToRowNum(int32_t& N) {
  const int32_t aborts = FetchAbortCount();
  while (!node_list_->BofFetched() && N <= node_list_->BofRowNum() && Active() && aborts == FetchAbortCount()) {
    const int32_t before = node_list_->BofRowNum();
    FetchRows(false, std::max<int32_t>(1, std::min<int64_t>(int64_t{before} - N + 1, 1000)));
    if (node_list_->BofRowNum() == before && !node_list_->BofFetched()) break;
  }
  if (!node_list_->EofFetched() && N >= node_list_->EofRowNum() && Active()) {
    const bool many = N - node_list_->EofRowNum() > 1;
    if (many) BeginCallbackFetch();
    try {
      while (!node_list_->EofFetched() && node_list_->EofRowNum() <= N && aborts == FetchAbortCount() && Active()) {
        const int32_t step = std::min<int64_t>(int64_t{N} - node_list_->EofRowNum() + 1, 1000);
        FetchRows(true, std::max(step, 1));
      }
    } catch (...) {
      if (many) {
        try {
          EndCallbackFetch();
        } catch (...) {
        }
      }
      throw;
    }
    if (many) EndCallbackFetch();
  }
  if (aborts != FetchAbortCount()) return false;
  N = std::clamp(N, node_list_->BofRowNum(), node_list_->EofRowNum());
  return true;
}

// --- Rows shown --------------------------------------------------------------------------------

void TIB_BDataset::ClearFields() {
  Fields()->SetRowNode(nullptr);
  Fields()->ClearRow(rsEmpty);
  current_node_shown_ = nullptr;
}

void TIB_BDataset::LoadNodeIntoFields(TIB_Node* Node) {
  TIB_Row* row = Fields();
  row->SetRowNode(Node);
  row->LoadFromNode(true, true);
  if (row->CalculatedCount() > 0) row->CalculateFields();
  current_node_shown_ = Node;
}

bool TIB_BDataset::ReadCurrentRow() {
  TIB_Node* node = node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node) || !Prepared()) {
    ClearFields();
    return true;
  }
  if (node->Row.empty() || node->OldRowEdited) {
    if (!row_cursor_->FetchRowByKey(node, false, false)) {
      ClearFields();
      return false;
    }
  }
  LoadNodeIntoFields(node);
  if (buffer_cursor_->Fields()->RowNode() == node) ReadBufferRow();
  return true;
}

bool TIB_BDataset::ReadBufferRow() {
  TIB_Row* row = buffer_cursor_->Fields();
  TIB_Node* node = node_list_->BufferNode();
  if (node == nullptr || node_list_->IsSentinel(node) || row->ColumnCount() == 0) {
    row->SetRowNode(nullptr);
    if (row->ColumnCount() > 0) row->ClearRow(rsEmpty);
    return true;
  }
  if (node->Row.empty() || node->OldRowEdited) {
    if (!buffer_cursor_->FetchRowByKey(node, false, false)) {
      row->SetRowNode(nullptr);
      row->ClearRow(rsEmpty);
      return false;
    }
  }
  row->SetRowNode(node);
  row->LoadFromNode(true, false);
  if (row->CalculatedCount() > 0) row->CalculateFields();
  return true;
}

TIB_Row* TIB_BDataset::GetBufferFields() const {
  return buffer_cursor_->Fields()->ColumnCount() > 0 ? buffer_cursor_->Fields() : Fields();
}

// --- Numbers and ends ---------------------------------------------------------------------------

int32_t TIB_BDataset::GetRowNum() const {
  if (applying_) return node_list_->ProcessedCount();
  return node_list_->RowNum();
}
int32_t TIB_BDataset::GetBofRowNum() const { return node_list_->BofRowNum(); }
int32_t TIB_BDataset::GetEofRowNum() const { return node_list_->EofRowNum(); }
int32_t TIB_BDataset::GetBufferRowNum() const { return node_list_->BufferRowNum(); }
bool TIB_BDataset::GetBof() const { return node_list_->BofFetched() && node_list_->IsRowBof(); }
bool TIB_BDataset::GetEof() const { return node_list_->EofFetched() && node_list_->IsRowEof(); }
bool TIB_BDataset::GetBufferBof() const { return node_list_->BofFetched() && node_list_->IsBufferBof(); }
bool TIB_BDataset::GetBufferEof() const { return node_list_->EofFetched() && node_list_->IsBufferEof(); }
int32_t TIB_BDataset::GetBufferRowCount() const { return node_list_ ? node_list_->VisibleCount() : 0; }

// --- Navigation ------------------------------------------------------------------------------------

void TIB_BDataset::SetRowNum(int32_t Value) {
  if (!Prepared()) return;
  int32_t n = Value;
  if (!FetchToRowNum(n)) return;
  bool scroll = n != GetRowNum();
  if (scroll) {
    if (GetState() == dstSearch) {
      Open();
      scroll = false;
    } else {
      SysBeforeScroll();
    }
  }
  node_list_->SetRowNum(n);
  if (!ReadCurrentRow() && KeysReadable()) {
    RemoveRow(true, true);
    StateChanged();
    return;
  }
  if (scroll) SysAfterScroll();
}

void TIB_BDataset::SetBufferRowNum(int32_t Value) {
  if (!Prepared()) return;
  int32_t n = Value;
  if (!FetchToRowNum(n)) return;
  TIB_Row* row = buffer_cursor_->Fields();
  if (n == GetRowNum() && GetIsEditing() && row->RowBufferSize() == Fields()->RowBufferSize()) {
    node_list_->SetBufferRowNum(n);
    const size_t size = static_cast<size_t>(row->RowBufferSize());
    std::memcpy(row->RowBuffer(), Fields()->RowBuffer(), size);
    std::memcpy(row->OldRowBuffer(), Fields()->OldRowBuffer(), size);
    row->SetRowState(Fields()->RowState());
    return;
  }
  bool deleted = false;
  for (int32_t tries = 0; tries < 1000; ++tries) {
    node_list_->SetBufferRowNum(n);
    if (ReadBufferRow() || !KeysReadable()) break;
    // The row is gone on the server: it leaves the buffer, the next one takes its place.
    node_list_->DeleteBufferRow();
    deleted = true;
    n = std::clamp(n, node_list_->BofRowNum(), node_list_->EofRowNum());
  }
  if (deleted) {
    if (node_list_->RowNode() != current_node_shown_) ReadCurrentRow();
    ProcessLinkEvent(dsetDataChange, 0);
  }
}

void TIB_BDataset::SyncBufferRow() {
  if (node_list_->BofFetched()) {
    SetBufferRowNum(node_list_->BofRowNum());
  } else if (node_list_->EofFetched()) {
    SetBufferRowNum(node_list_->EofRowNum());
  } else {
    SetBufferRowNum(node_list_->BofRowNum() + 1);
    SetBufferRowNum(node_list_->BofRowNum());
  }
}

void TIB_BDataset::SysFetchFirstRow() {
  // Read from an ordering position, rows before the first one may exist still unread:
  // the first row shown is the first at or after the position.
  if (AutoFetchFirst() && node_list_->IsRowBof()) SysMoveBy(1);
}

void TIB_BDataset::SysFirst() {
  if (Fetching() && fetch_rows_nesting_ > 0) return;
  if (Active()) CheckBrowseMode();
  if (!Active()) {
    SysOpenCursor();
    if (!Active()) return;
  }
  if (OrderingRange() && !GotoBof()) return;
  SetRowNum(node_list_->BofRowNum() + 1);
}

void TIB_BDataset::SysLast() {
  if (Fetching() && fetch_rows_nesting_ > 0) return;
  if (Active()) CheckBrowseMode();
  if (!Active()) {
    SysOpenCursor();
    if (!Active()) return;
  }
  if (OrderingRange()) {
    if (GotoEof()) SetRowNum(node_list_->EofRowNum() - 1);
    return;
  }
  const int32_t aborts = FetchAbortCount();
  SysFetchAll(0);
  if (aborts != FetchAbortCount()) return;
  SetRowNum(node_list_->EofRowNum() - 1);
}

int32_t TIB_BDataset::SysMoveBy(int32_t Distance) {
  if (!Active()) {
    if (!Prepared()) return 0;
    SysOpenCursor();
    if (!Active()) return 0;
  }
  const int32_t before = GetRowNum();
  if (Distance == 0) {
    // Shows the current row again; a row whose key is gone on the server leaves.
    if (!ReadCurrentRow() && KeysReadable()) RemoveRow(true, true);
    return 0;
  }
  SetRowNum(static_cast<int32_t>(std::clamp<int64_t>(int64_t{before} + Distance, INT32_MIN + 2, INT32_MAX)));
  if (Distance == 1) return GetEof() ? 0 : 1;
  return CheckedSub(GetRowNum(), before);
}

void TIB_BDataset::SysAfterScroll() {
  row_cursor_->CloseCursor();
  TIB_Dataset::SysAfterScroll();
}

bool TIB_BDataset::ReopenFrom(uint8_t Direction) {
  // Read from an ordering position, the rows before it are not all there: reading starts
  // over from that end.
  if (Active()) Close();
  fetch_direction_ = Direction;
  Open();
  return Active();
}

bool TIB_BDataset::GotoBof() {
  if (OrderingRange() && Prepared()) {
    if (!ReopenFrom(0)) return false;
  }
  SetRowNum(node_list_->BofRowNum());
  return true;
}

bool TIB_BDataset::GotoEof() {
  if (OrderingRange() && Prepared()) {
    if (!ReopenFrom(2)) return false;
    SetRowNum(node_list_->EofRowNum());
    return true;
  }
  if (!node_list_->EofFetched()) SysFetchAll(0);
  SetRowNum(node_list_->EofFetched() ? node_list_->EofRowNum() : node_list_->EofRowNum() - 1);
  return node_list_->EofFetched() && GetRowNum() == node_list_->EofRowNum();
}

bool TIB_BDataset::ProbeIsEmpty() {
  if (!Prepared() || !IsSelectStatement()) return true;
  if (node_list_->VisibleCount() == 0 && !node_list_->EofFetched()) {
    SysRefreshKeys(node_list_->EofRowNum(), node_list_->EofRowNum());
  }
  // Read from an ordering position, rows may lie before it: one row backwards.
  if (node_list_->VisibleCount() == 0 && !node_list_->BofFetched()) {
    SysRefreshKeys(node_list_->BofRowNum(), node_list_->BofRowNum());
  }
  return node_list_->VisibleCount() == 0;
}

bool TIB_BDataset::SysRefreshKeys(int32_t First, int32_t Last) {
  if (unidirectional_ || !Prepared()) return false;
  int32_t hi = std::max(First, Last);
  int32_t lo = std::min(First, Last);
  if (!FetchToRowNum(hi)) return false;
  lo = std::clamp(lo, node_list_->BofRowNum(), node_list_->EofRowNum());
  const int32_t saved = node_list_->BufferRowNum();
  bool whole = true;
  for (int32_t n = std::max(lo, node_list_->BofRowNum() + 1); n <= std::min(hi, node_list_->EofRowNum() - 1); ++n) {
    node_list_->SetBufferRowNum(n);
    TIB_Node* node = node_list_->BufferNode();
    if (node == nullptr || node_list_->IsSentinel(node)) continue;
    if (node->Row.empty() && (node->Flags & nfInserted) == 0 && !node_list_->IsHidden(node)) {
      if (!buffer_cursor_->FetchRowByKey(node, false, false)) whole = false;
    }
  }
  node_list_->SetBufferRowNum(saved);
  return whole;
}

// --- Removing rows from the buffer ----------------------------------------------------------------

void TIB_BDataset::RemoveRow(bool MoveAway, bool Notify) {
  try {
    TIB_Node* before = node_list_->RowNode();
    if (MoveAway && before != nullptr && !node_list_->IsSentinel(before)) {
      if (buffer_cursor_->Fields()->RowNode() == before) buffer_cursor_->Fields()->SetRowNode(nullptr);
      Fields()->SetRowNode(nullptr);
      current_node_shown_ = nullptr;
      node_list_->DeleteRow();
    }
    node_list_->MoveRowBy(0);
    if (Notify || node_list_->RowNode() != before) {
      if (!ReadCurrentRow() && KeysReadable()) {
        // The next row is gone as well: the recursion walks until a live row.
        RemoveRow(true, Notify);
        return;
      }
      ProcessLinkEvent(dsetDataChange, 0);
      SysAfterScroll();
    }
  } catch (...) {
    Application()->HandleException(this);
  }
}

void TIB_BDataset::RemoveBufferRow(int32_t ARowNum) {
  try {
    node_list_->SetBufferRowNum(ARowNum);
    TIB_Node* node = node_list_->BufferNode();
    if (node != nullptr && !node_list_->IsSentinel(node) && node_list_->BufferRowNum() == ARowNum) {
      const bool current = node == node_list_->RowNode();
      if (current) SysBeforeScroll();
      if (buffer_cursor_->Fields()->RowNode() == node) buffer_cursor_->Fields()->SetRowNode(nullptr);
      if (Fields()->RowNode() == node) {
        Fields()->SetRowNode(nullptr);
        current_node_shown_ = nullptr;
      }
      node_list_->DeleteBufferRow();
      ReadBufferRow();
      if (current) {
        node_list_->MoveRowBy(0);
        ReadCurrentRow();
        ProcessLinkEvent(dsetDataChange, 0);
        SysAfterScroll();
      }
    }
  } catch (...) {
    StateChanged();
    UpdatePendingState();
    throw;
  }
  StateChanged();
  UpdatePendingState();
}

// --- Record counts -------------------------------------------------------------------------------

int32_t TIB_BDataset::SysGetRecordCount() {
  if (OnGetRecordCount) return TIB_Dataset::SysGetRecordCount();
  if (Active() && node_list_->BofFetched() && node_list_->EofFetched()) return node_list_->VisibleCount();
  const bool complex = IsAggregateSelect() || IsSelectFromProcedure() || IsExecuteBlock() ||
                       !Trim(GetUnionClause(SQL()->Text())).empty();
  if (complex || Filtered() || on_filter_record_) {
    if (!Active()) {
      if (complex) throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotGetRecordCount));
    } else {
      // Counting what the client filter hides needs every row; the count is then exact.
      SysFetchAll(0);
      if (node_list_->EofFetched()) return node_list_->VisibleCount();
    }
  } else if (Active() && !ServerSQLCurrent()) {
    // The SQL changed since the cursor opened: a count statement would count another
    // result than the rows shown, so the rows shown are read to the end and counted.
    SysFetchAll(0);
    if (node_list_->EofFetched()) return node_list_->VisibleCount();
  }
  int32_t count = TIB_Dataset::SysGetRecordCount();
  if (count < 0) return count;
  count = CheckedAdd(count, CheckedSub(node_list_->InsertedCount(), node_list_->DeletedCount()));
  return std::max(count, node_list_->VisibleCount());
}

int32_t TIB_BDataset::GetRecordCountExact() {
  if (Active()) SysFetchAll(0);
  return GetRecordCount();
}

// --- Links ---------------------------------------------------------------------------------------

void TIB_BDataset::DoLinkQuery(TIB_Row* Row, TIB_Column* Column) {
  TIB_Row* buffer = buffer_cursor_->Fields();
  if (Row == Fields() && buffer->RowNode() != nullptr && buffer->RowNode() == Fields()->RowNode() &&
      buffer->RowBufferSize() == Fields()->RowBufferSize()) {
    const size_t size = static_cast<size_t>(buffer->RowBufferSize());
    std::memcpy(buffer->RowBuffer(), Fields()->RowBuffer(), size);
    std::memcpy(buffer->OldRowBuffer(), Fields()->OldRowBuffer(), size);
  }
  TIB_Dataset::DoLinkQuery(Row, Column);
}

void TIB_BDataset::FetchBackward(int32_t Count) {
  TIB_Column* mine = range_param_.empty() ? nullptr : FindParam(range_param_);
  if (range_backward_.empty() || mine == nullptr || !Active()) {
    node_list_->SetFetched(false);
    return;
  }
  if (!reverse_) {
    // The same SELECT with the range turned round and the ordering reversed.
    AnsiString text = GetServerSQLText();
    const size_t at = text.find(range_forward_);
    if (at == AnsiString::npos) {
      node_list_->SetFetched(false);
      return;
    }
    text.replace(at, range_forward_.size(), range_backward_);
    AnsiString order;
    for (int32_t i = 0; i < OrderingKeys()->Count(); ++i) {
      const AnsiString item = OrderingKeys()->GetItemName(i);
      const bool desc = AnsiSameText(Trim(OrderingKeys()->GetItemValue(i)), "DESC");
      order += (order.empty() ? "ORDER BY " : "\r\n       , ") + item + (desc ? " ASC" : " DESC");
    }
    if (!order.empty()) SetOrderByClause(text, order);
    reverse_ = std::make_unique<TIB_Cursor>(nullptr);
    reverse_->SetIB_Connection(IB_Connection());
    reverse_->SetIB_Transaction(IB_Transaction());
    reverse_->SetParamChar(ParamChar());
    reverse_->SetAutoFetchFirst(false);
    reverse_->SetCallbackInc(-1);
    reverse_->SQL()->SetText(text);
    reverse_->Prepare();
  }
  if (!reverse_->Active()) {
    for (int32_t i = 0; i < reverse_->ParamCount(); ++i) {
      TIB_Column* p = reverse_->Params()->GetColumn(i);
      if (TIB_Column* src = FindParam(p->GetFullName())) {
        if (src->GetIsNull()) p->Clear(); else p->Assign(src);
      }
    }
    reverse_->Open();
  }
  RowSide side(*this);
  for (int32_t i = 0; i < Count && reverse_->Active() && !node_list_->BofFetched(); ++i) {
    reverse_->MoveBy(1);
    if (reverse_->GetEof()) {
      node_list_->SetFetched(false);
      ProcessLinkEvent(34, 0);
      break;
    }
    TIB_Row* row = reverse_->Fields();
    TIB_Row* key = KeyFields();
    if (key_column_map_.empty()) {
      CheckedDec(reverse_key_);
      TIB_Column* k = key->GetColumn(0);
      WriteShort(k->NullIndPtr(), 0);
      const ISC_LONG v = reverse_key_;
      std::memcpy(k->DataPtr(), &v, sizeof v);
    } else {
      CopyKeyFromRow(row, false);
    }
    TIB_Node* node = node_list_->AddKey(key->RowBuffer(), lookup_duplicate_check_, false, false);
    if (node != nullptr && (node->Flags & (nfModified | nfInserted)) == 0) PackColumns(BufferOrderColumns(*row), node->Row);
  }
}

}  // namespace pelvar
