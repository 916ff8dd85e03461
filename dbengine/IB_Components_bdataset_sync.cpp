// The buffered dataset's bookmarks, key look-ups, row re-reads, posting into the buffer
// and cached updates.
#include <algorithm>
#include <cstring>

#include "dbclient/IB_Components_dmlcache.h"
#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_bdataset.h"
#include "dbengine/ib_bdataset_internal.h"
#include "platform/application.h"
#include "platform/checked.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace bdataset_detail;

// --- Bookmarks ---------------------------------------------------------------------------------

AnsiString TIB_BDataset::GetBookmark() const {
  if (!Prepared() || node_list_->NodeCount() == 0) return AnsiString();
  TIB_Node* node = node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node)) return AnsiString();
  if (GetIsEditing()) const_cast<TIB_BDataset*>(this)->SysUpdateBufferRow(false);
  return BinaryToHexText(node->Key.data(), static_cast<int32_t>(node->Key.size()));
}

void TIB_BDataset::SetBookmark(const AnsiString& Value) {
  CheckBrowseMode();
  if (IsDestroying() || Value == GetBookmark()) return;
  if (Value.empty()) {
    GotoBof();
    return;
  }
  CheckPrepared();
  if (!Active()) Open();
  TIB_Row* key = KeyFields();
  if (static_cast<int32_t>(Value.size()) != key->RowBufferSize() * 2) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::InvalidBookmark));
  }
  HexTextToBinary(Value, key->RowBuffer(), key->RowBufferSize());
  if (!LookupKey()) GotoBof();
}

AnsiString TIB_BDataset::GetBufferBookmark() {
  TIB_Node* node = node_list_->BufferNode();
  if (!Prepared() || node == nullptr || node_list_->IsSentinel(node)) return AnsiString();
  if (node == node_list_->RowNode() && GetIsEditing()) SysUpdateBufferRow(false);
  return BinaryToHexText(node->Key.data(), static_cast<int32_t>(node->Key.size()));
}

void TIB_BDataset::SetBufferBookmark(const AnsiString& Value) {
  if (!Value.empty()) {
    CheckPrepared();
    TIB_Row* key = KeyFields();
    if (static_cast<int32_t>(Value.size()) == key->RowBufferSize() * 2) {
      HexTextToBinary(Value, key->RowBuffer(), key->RowBufferSize());
      if (LookupBufferKey()) return;
    }
  }
  SyncBufferRow();
}

bool TIB_BDataset::BookmarkValid(const AnsiString& Value) {
  if (Value.empty() || !Prepared()) return false;
  TIB_NodePosition p;
  return node_list_->LocateHexKey(Value, p);
}

void TIB_BDataset::SysRefreshBookmark(const AnsiString& Value) {
  TIB_NodePosition p;
  if (!node_list_->LocateHexKey(Value, p)) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::InvalidBookmark) + " in InvalidateBookmark()");
  }
  if (p.Node == node_list_->RowNode() && !GetIsEditing()) {
    if (!ReadCurrentRow() && KeysReadable()) RemoveRow(true, true);
  }
  if (p.Node == node_list_->BufferNode()) ReadBufferRow();
  ProcessLinkEvent(dsetRowRefreshed, p.RowNum);
}

// --- Key look-up -------------------------------------------------------------------------------

namespace {

// The reported number of Node: the buffer position is put on it for the answer and
// then goes back.
int32_t ReportedNumberOf(TIB_NodeList& List, const void* Key, TIB_Node*& Node) {
  const int32_t saved = List.BufferRowNum();
  TIB_Node* saved_node = List.BufferNode();
  Node = nullptr;
  int32_t n = NodeNoRow;
  if (List.LocateBufferKey(Key)) {
    Node = List.BufferNode();
    n = List.BufferRowNum();
  }
  if (saved_node != nullptr && List.RowNumOfNode(saved_node) != NodeNoRow) {
    List.SetBufferRowNum(saved);
  }
  return n;
}

}  // namespace

bool TIB_BDataset::LookupKey() {
  CheckPrepared();
  TIB_Row* key = KeyFields();
  const std::vector<char> wanted(key->RowBuffer(), key->RowBuffer() + key->RowBufferSize());
  last_key_text_ = key->GetRowData();
  TIB_Node* node = nullptr;
  int32_t n = ReportedNumberOf(*node_list_, wanted.data(), node);
  // Not buffered yet: read on in blocks, looking again after each.
  const int32_t aborts = FetchAbortCount();
  while (node == nullptr && Active() && !node_list_->EofFetched() && aborts == FetchAbortCount()) {
    const int32_t before = node_list_->NodeCount();
    FetchRows(true, 500);
    if (node_list_->NodeCount() == before && !node_list_->EofFetched()) break;
    n = ReportedNumberOf(*node_list_, wanted.data(), node);
  }
  if (node == nullptr || node_list_->IsHidden(node) || n == NodeNoRow || n == NodeDetached) return false;
  SetRowNum(n);
  return node_list_->RowNode() == node;
}

bool TIB_BDataset::LookupBufferKey() {
  CheckPrepared();
  TIB_Row* key = KeyFields();
  const std::vector<char> wanted(key->RowBuffer(), key->RowBuffer() + key->RowBufferSize());
  TIB_Node* node = nullptr;
  int32_t n = ReportedNumberOf(*node_list_, wanted.data(), node);
  const int32_t aborts = FetchAbortCount();
  while (node == nullptr && Active() && !node_list_->EofFetched() && aborts == FetchAbortCount()) {
    const int32_t before = node_list_->NodeCount();
    FetchRows(true, 500);
    if (node_list_->NodeCount() == before && !node_list_->EofFetched()) break;
    n = ReportedNumberOf(*node_list_, wanted.data(), node);
  }
  if (node == nullptr || node_list_->IsHidden(node) || n == NodeNoRow || n == NodeDetached) return false;
  SetBufferRowNum(n);
  return node_list_->BufferNode() == node;
}

void TIB_BDataset::SysUpdateBufferRow(bool SaveOldKey) {
  TIB_Node* node = node_list_->Processing() ? node_list_->NodeUnderProcessing() : node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node) || key_column_map_.empty()) return;
  TIB_Row* key = KeyFields();
  const size_t length = static_cast<size_t>(key->RowBufferSize());
  if (SaveOldKey && !node->HasOldKey()) node->OldKey = node->Key;
  std::memcpy(key->RowBuffer(), node->Key.data(), std::min(length, node->Key.size()));
  for (const auto& m : key_column_map_) CopyKeyValue(m.first, m.second, false);
  node->Key.assign(key->RowBuffer(), key->RowBuffer() + length);
  if (node->HasOldKey() && node->OldKey == node->Key) node->OldKey.clear();
}

// --- Editing -----------------------------------------------------------------------------------

void TIB_BDataset::SysEdit() {
  TIB_Dataset::SysEdit();
}

void TIB_BDataset::SysInsert() {
  if (!GetCanInsert()) return;
  // The change in progress goes first; the new row then gets a node of its own at the
  // current position.
  SysPost(false, false);
  if (GetIsEditing()) return;
  TIB_Node* shown = Fields()->RowNode();
  Fields()->SetRowNode(nullptr);
  TIB_Dataset::SysInsert();
  if (GetState() != dstInsert) {
    if (shown != nullptr && node_list_->RowNumOfNode(shown) != NodeNoRow) Fields()->SetRowNode(shown);
    return;
  }
  if (!Prepared()) return;
  TIB_Node* node = node_list_->InsertNode();
  if (key_column_map_.empty()) {
    CheckedInc(synthetic_key_);
    TIB_Row* key = KeyFields();
    TIB_Column* k = key->GetColumn(0);
    WriteShort(k->NullIndPtr(), 0);
    const ISC_LONG v = synthetic_key_;
    std::memcpy(k->DataPtr(), &v, sizeof v);
    node->Key.assign(key->RowBuffer(), key->RowBuffer() + key->RowBufferSize());
  }
  Fields()->SetRowNode(node);
  current_node_shown_ = node;
  PackColumns(pack_columns_, node->Row);
  UpdatePendingState();
}

void TIB_BDataset::SysCancel() {
  const TIB_DatasetState was = GetState();
  TIB_Node* node = node_list_->RowNode();
  TIB_Dataset::SysCancel();
  if (was == dstInsert && node != nullptr && !node_list_->IsSentinel(node) && (node->Flags & nfInserted) == 0 &&
      !PostedRetaining()) {
    // The new row was never posted: its node goes.
    Fields()->SetRowNode(nullptr);
    current_node_shown_ = nullptr;
    try {
      node_list_->DeleteRow();
    } catch (...) {
    }
    node_list_->MoveRowBy(0);
    ReadCurrentRow();
  } else if (was == dstEdit || was == dstDelete) {
    if (node != nullptr && !node_list_->IsSentinel(node) && !node->Row.empty()) LoadNodeIntoFields(node);
  }
  UpdatePendingState();
}

void TIB_BDataset::SysLockRow() {
  if (!CachedUpdates && buffer_synchro_flags_.Contains(bsBeforeEdit) && KeysReadable()) {
    TIB_Node* node = node_list_->RowNode();
    if (!row_cursor_->FetchRowByKey(node, true, false)) {
      throw EIB_DatasetError(this, IB_Message(TIB_Msg::UnableToEditRow));
    }
    LoadNodeIntoFields(node);
  }
  TIB_Dataset::SysLockRow();
}

void TIB_BDataset::SysPost(bool OnlyIfModified, bool Retaining) {
  if (CachedUpdates && Retaining && GetIsEditing()) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::PostRetainingCachedUpdates));
  }
  const TIB_DatasetState was = GetState();
  after_post_remove_ = false;
  TIB_Dataset::SysPost(OnlyIfModified, Retaining);
  if (after_post_remove_ && !GetIsEditing()) {
    // The row left the dataset's result with the change: it leaves the buffer too.
    after_post_remove_ = false;
    RemoveRow(true, true);
  } else if (was == dstEdit || was == dstInsert) {
    if (PostSucceeded() && !GetIsEditing()) {
      // A posted row that the client filter now rejects leaves the view.
      if (on_filter_record_ && node_list_->RowNode() != nullptr && !node_list_->IsSentinel(node_list_->RowNode())) {
        const bool hidden = !DoFilterRecord(Fields());
        if (node_list_->SetRowFiltered(hidden)) {
          Fields()->SetRowNode(nullptr);
          current_node_shown_ = nullptr;
          node_list_->MoveRowBy(0);
          ReadCurrentRow();
          ProcessLinkEvent(dsetDataChange, 0);
        }
      }
    }
  }
  UpdatePendingState();
}

void TIB_BDataset::SysExecPostWithRetry() {
  if (!CachedUpdates) {
    TIB_Dataset::SysExecPostWithRetry();
    return;
  }
  TIB_Node* node = node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node)) return;
  switch (GetState()) {
    case dstEdit:
      node_list_->MarkUpdate(node, nmkModify);
      break;
    case dstInsert:
      node_list_->MarkUpdate(node, nmkInsert);
      break;
    case dstDelete:
      if (!ConfirmDelete()) Abort();
      if ((node->Flags & nfInserted) != 0) {
        // A row inserted and deleted before it was applied leaves nothing to send.
        Fields()->RevertRow(false);
        RemoveRow(true, true);
        UpdatePendingState();
        return;
      }
      Fields()->RevertRow(false);
      node_list_->MarkUpdate(node, nmkDelete);
      if (node_list_->HideDeleted()) {
        Fields()->SetRowNode(nullptr);
        current_node_shown_ = nullptr;
        node_list_->MoveRowBy(0);
        ReadCurrentRow();
        ProcessLinkEvent(dsetDataChange, 0);
      }
      UpdatePendingState();
      return;
    default:
      return;
  }
  SysUpdateBufferRow(true);
  Fields()->SetRowNode(node);
  Fields()->SaveToNode();
  UpdatePendingState();
}

void TIB_BDataset::SysPostEdit() {
  TIB_Dataset::SysPostEdit();
  if (CachedUpdates && !applying_) return;
  TIB_Node* node = applying_ ? node_list_->NodeUnderProcessing() : node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node)) return;
  SysUpdateBufferRow(false);
  if (!applying_) {
    Fields()->SetRowNode(node);
    PackColumns(pack_columns_, node->Row);
  }
}

void TIB_BDataset::SysPostInsert() {
  TIB_Dataset::SysPostInsert();
  if (CachedUpdates && !applying_) return;
  TIB_Node* node = applying_ ? node_list_->NodeUnderProcessing() : node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node)) return;
  SysUpdateBufferRow(false);
  if (!applying_) {
    Fields()->SetRowNode(node);
    PackColumns(pack_columns_, node->Row);
  }
}

void TIB_BDataset::SysExecuteEdit() {
  // A positioned UPDATE needs a server cursor standing on the row; the buffered rows have
  // none. Refuse rather than report a change that never reached the server.
  if (!SearchedEdits() && EditSQL()->Count() == 0 && !OnUpdateRecord) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::UnableToEditRow));
  }
  CopyKeyFromRow(Fields(), true);
  TIB_Dataset::SysExecuteEdit();
  if (CachedUpdates || applying_) return;
  if (buffer_synchro_flags_.Contains(bsAfterEdit) && KeysReadable()) {
    TIB_Node* node = node_list_->RowNode();
    SysUpdateBufferRow(false);
    Fields()->SetRowNode(node);
    PackColumns(pack_columns_, node->Row);
    if (!row_cursor_->FetchRowByKey(node, true, false)) {
      after_post_remove_ = true;
    } else {
      LoadNodeIntoFields(node);
    }
  }
}

void TIB_BDataset::SysExecuteInsert() {
  TIB_Dataset::SysExecuteInsert();
  if (CachedUpdates || applying_) return;
  if (buffer_synchro_flags_.Contains(bsAfterInsert) && KeysReadable()) {
    TIB_Node* node = node_list_->RowNode();
    SysUpdateBufferRow(false);
    if (!row_cursor_->FetchRowByKey(node, true, false)) {
      after_post_remove_ = true;
    } else {
      LoadNodeIntoFields(node);
    }
  }
}

void TIB_BDataset::SysExecuteDelete() {
  if (!SearchedDeletes() && DeleteSQL()->Count() == 0 && !OnUpdateRecord) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::UnableToEditRow));
  }
  CopyKeyFromRow(Fields(), true);
  TIB_Dataset::SysExecuteDelete();
  if (CachedUpdates || applying_) return;
  RemoveRow(true, true);
}

void TIB_BDataset::SysRefreshRow() {
  if (Prepared()) node_list_->DropAllRowData();
  TIB_Dataset::SysRefreshRow();
}

void TIB_BDataset::SysRefreshRowNum(int32_t ARowNum) {
  if (Prepared()) {
    const int32_t saved = node_list_->BufferRowNum();
    node_list_->SetBufferRowNum(ARowNum);
    if (node_list_->BufferRowNum() == ARowNum) node_list_->DropRowData(node_list_->BufferNode());
    node_list_->SetBufferRowNum(saved);
  }
  TIB_Dataset::SysRefreshRowNum(ARowNum);
}

// --- Pending state -------------------------------------------------------------------------------

bool TIB_BDataset::GetUpdatesPending() const {
  return node_list_->ModifiedCount() > 0 || node_list_->InsertedCount() > 0 || node_list_->DeletedCount() > 0;
}

int32_t TIB_BDataset::GetUpdateStatus() const {
  TIB_Node* node = node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node)) return 0;
  if (node->Flags & nfDeleted) return 3;
  if (node->Flags & nfInserted) return 2;
  if (node->Flags & nfModified) return 1;
  return 0;
}

uint16_t TIB_BDataset::RowNodeFlags() const {
  TIB_Node* node = node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node)) return 0;
  return node->Flags;
}

void TIB_BDataset::UpdatePendingState() {
  const bool pending = GetUpdatesPending() || (CachedUpdates && GetIsEditing());
  if (pending == updates_pending_reported_) return;
  TIB_Transaction* tr = IB_Transaction();
  if (tr == nullptr) {
    if (!pending) updates_pending_reported_ = false;
    return;
  }
  updates_pending_reported_ = pending;
  tr->AdjustCachedUpdatesPendingCount(pending ? 1 : -1);
}

// --- Cached updates ------------------------------------------------------------------------------

void TIB_BDataset::SetCachedUpdates(bool Value) {
  if (Value == CachedUpdates) return;
  if (!Value) CancelUpdates();
  CachedUpdates = Value;
  UpdatePendingState();
}

void TIB_BDataset::ApplyUpdates() {
  if (!CachedUpdates) return;
  if (GetIsEditing()) SysPost(false, false);
  if (!node_list_->HasPendingUpdates() || applying_) return;
  struct Applying {
    bool& flag;
    ~Applying() { flag = false; }
  } guard{applying_};
  applying_ = true;
  ProcessUpdates(npmApply);
}

void TIB_BDataset::CancelUpdates() {
  if (!CachedUpdates) return;
  if (GetIsEditing()) SysCancel();
  if (!node_list_->HasPendingUpdates()) return;
  ProcessUpdates(npmCancel);
}

void TIB_BDataset::CommitUpdates() {
  if (!node_list_->HasPendingUpdates()) return;
  ProcessUpdates(npmCommit);
}

void TIB_BDataset::ProcessUpdates(int32_t Mode) {
  TIB_BusyBracket busy(*this, false);
  const TIB_DatasetState state = GetState();
  // The state the pass found comes back, the current row is shown again.
  auto finish = [&]() {
    SetState(state);
    Fields()->SetRowNode(nullptr);
    current_node_shown_ = nullptr;
    if (Active()) {
      node_list_->MoveRowBy(0);
      ReadCurrentRow();
      ReadBufferRow();
      ProcessLinkEvent(dsetDataChange, 0);
    }
    UpdatePendingState();
  };
  try {
    node_list_->ProcessUpdates(Mode);
  } catch (...) {
    try {
      finish();
    } catch (...) {
    }
    throw;
  }
  finish();
}

void TIB_BDataset::ApplyOneUpdate(TIB_Node* Node, int32_t& Action, int32_t Kind) {
  TIB_Row* row = Fields();
  row->SetRowNode(Node);
  current_node_shown_ = nullptr;
  row->LoadFromNode(false, true);
  // The row holds the node's values now, whatever it showed before (a detail whose
  // master moved on may show no row at all).
  row->SetRowState(rsLoaded);
  struct ResetRow {
    TIB_Row* row;
    ~ResetRow() {
      try {
        row->SetRowState(rsLoaded);
      } catch (...) {
      }
    }
  } reset{row};
  SetState(Kind == nukModify ? dstEdit : Kind == nukInsert ? dstInsert : dstDelete);
  RunUpdateWithRetry(Kind, Action);
  if (Action == nuaApplied) {
    row->SetRowLoaded(false, false, false);
    SysUpdateBufferRow(false);
    if (Kind != nukDelete) PackColumns(pack_columns_, Node->Row);
  }
}

void TIB_BDataset::RunUpdateWithRetry(int32_t Kind, int32_t& Action) {
  TIB_ApplyRoutine routine;
  switch (Kind) {
    case nukModify:
      routine = [this] { TIB_Dataset::SysPostEdit(); };
      break;
    case nukInsert:
      routine = [this] { TIB_Dataset::SysPostInsert(); };
      break;
    default:
      routine = [this] {
        CopyKeyFromRow(Fields(), true);
        TIB_Dataset::SysExecuteDelete();
      };
      break;
  }
  do {
    Action = nuaFail;
    try {
      if (OnUpdateRecord) {
        DoUpdateRecord(Kind, Action);
      } else {
        SysApplyUpdate(Kind, Action, routine, this);
        Action = nuaApplied;
      }
    } catch (EAbort&) {
      throw;
    } catch (Exception& e) {
      SysHandleUpdateError(e, Kind, Action);
      if (Action == nuaFail) throw;
      if (Action == nuaAbort) Abort();
    }
  } while (Action == nuaRetry);
}

void TIB_BDataset::SysApplyUpdate(int32_t /*UpdateKind*/, int32_t& /*UpdateAction*/,
                                  const TIB_ApplyRoutine& Routine, TIB_BDataset* /*Data*/) {
  if (Routine) Routine();
}

void TIB_BDataset::DoUpdateRecord(int32_t UpdateKind, int32_t& UpdateAction) {
  if (OnUpdateRecord) OnUpdateRecord(this, UpdateKind, UpdateAction);
}

void TIB_BDataset::SysHandleUpdateError(std::exception& E, int32_t UpdateKind, int32_t& UpdateAction) {
  if (OnUpdateError) {
    OnUpdateError(owner_for_events_ != nullptr ? owner_for_events_ : this, E, UpdateKind, UpdateAction);
    return;
  }
  Application()->HandleException(this);
  UpdateAction = nuaAbort;
}

void TIB_BDataset::RevertedNode(TIB_Node* Node) {
  if (Node == nullptr || Node->Row.empty()) return;
  TIB_Row* row = Fields();
  row->SetRowNode(Node);
  current_node_shown_ = nullptr;
  row->LoadFromNode(false, false);
  // The key of the row as the server has it goes back into the node.
  if (!key_column_map_.empty()) {
    TIB_Row* key = KeyFields();
    for (const auto& m : key_column_map_) CopyKeyValue(m.first, m.second, false);
    Node->Key.assign(key->RowBuffer(), key->RowBuffer() + key->RowBufferSize());
    Node->OldKey.clear();
  }
}

void TIB_BDataset::RevertRecord() {
  if (GetState() == dstInsert || GetState() == dstEdit) SysCancel();
  if (in_revert_) return;
  TIB_Node* node = node_list_->RowNode();
  if (node == nullptr || node_list_->IsSentinel(node)) return;
  struct Flag {
    bool& f;
    ~Flag() { f = false; }
  } flag{in_revert_};
  in_revert_ = true;
  if ((node->Flags & nfInserted) != 0) {
    ProcessLinkEvent(dsetBeforePost, 0);
    RemoveRow(true, true);
    UpdatePendingState();
    return;
  }
  if ((node->Flags & (nfModified | nfDeleted)) == 0) return;
  ProcessLinkEvent(dsetBeforePost, 0);
  node_list_->RevertNode(node, true);
  RevertedNode(node);
  Fields()->SetRowNode(nullptr);
  node_list_->MoveRowBy(0);
  ReadCurrentRow();
  UpdatePendingState();
  ProcessLinkEvent(dsetDataChange, 0);
}

void TIB_BDataset::ProcessTransactionEvent(TIB_TransactionLink* Sender, uint8_t Event) {
  TIB_Dataset::ProcessTransactionEvent(Sender, Event);
  if ((Event == tetAfterRollback || Event == tetAfterRollbackRetaining || Event == tetAfterLosePoint) &&
      node_list_->HasPendingUpdates()) {
    // Changes the server lost count as pending again; nothing is discarded.
    node_list_->ProcessUpdates(npmReset);
    UpdatePendingState();
  }
}

}  // namespace pelvar

namespace pelvar {

// --- Changes other datasets announce ----------------------------------------------------------

void TIB_BDataset::SysDMLCacheReceivedItem(const TIB_DMLCacheItem& Item) {
  if (!Active() || !KeysReadable()) return;
  TIB_Row* key = KeyFields();
  AnsiString names;
  for (int32_t i = 0; i < key->ColumnCount(); ++i) {
    names += (i == 0 ? "" : ";") + key->GetColumn(i)->GetAliasName();
  }
  if (!AnsiSameText(names, Item.KeyFieldNames)) return;
  const bool many = key->ColumnCount() > 1;
  std::memset(key->RowBuffer(), 0, static_cast<size_t>(key->RowBufferSize()));
  for (int32_t i = 0; i < key->ColumnCount(); ++i) {
    TIB_Column* k = key->GetColumn(i);
    const Variant v = many ? Item.KeyFieldValues.GetElement({VarArrayLowBound(Item.KeyFieldValues, 1) + i})
                           : Item.KeyFieldValues;
    if (VarIsNull(v) || VarIsEmpty(v)) {
      k->SetIsNull(true);
      std::memset(k->DataPtr(), 0, static_cast<size_t>(k->GetBufferDataSize()));
      continue;
    }
    k->SetAsVariant(v);
    if (k->BaseType() == SQL_VARYING) {
      const int32_t len = std::clamp<int32_t>(static_cast<uint16_t>(ReadShort(k->DataPtr())), 0, k->GetSQLLen());
      std::memset(k->DataPtr() + 2 + len, 0, static_cast<size_t>(k->GetSQLLen() - len));
    }
  }
  const AnsiString mark = BinaryToHexText(key->RowBuffer(), key->RowBufferSize());
  // The row being edited here keeps the user's values.
  if (GetIsEditing() && GetBookmark() == mark) return;
  switch (Item.DMLCacheItemType) {
    case ditEdit:
      if (BookmarkValid(mark)) SysRefreshBookmark(mark);
      break;
    case ditInsert:
      AbortFetching();
      Refresh();
      break;
    case ditDelete: {
      TIB_NodePosition p;
      if (!node_list_->LocateKey(key->RowBuffer(), false, p) || p.Node == nullptr) break;
      const int32_t saved = node_list_->BufferRowNum();
      if (!LookupBufferKey()) break;
      const int32_t n = node_list_->BufferRowNum();
      if (n > node_list_->BofRowNum()) {
        RemoveBufferRow(n);
      } else {
        node_list_->SetBufferRowNum(saved);
      }
      break;
    }
  }
}

}  // namespace pelvar
