// TIB_Row: the buffers' data, the row state, change notifications, values by column
// names and the per-column blob caches around posting.
#include <algorithm>
#include <cstring>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Components_rows.h"
#include "dbengine/IB_Parse.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

int16_t ReadShort(const void* P) {
  int16_t v;
  std::memcpy(&v, P, sizeof v);
  return v;
}

void WriteShort(void* P, int16_t V) { std::memcpy(P, &V, sizeof V); }

}  // namespace

// --- Row data as text --------------------------------------------------------------------------

AnsiString TIB_Row::GetRowData() const {
  if (!managed_ && row_state_ == rsEmpty) return {};
  return BinaryToHexText(row_buffer_.get(), buffer_size_);
}

AnsiString TIB_Row::GetOldRowData() const {
  if (!managed_ && row_state_ == rsEmpty) return {};
  return BinaryToHexText(old_buffer_.get(), buffer_size_);
}

void TIB_Row::DecodeInto(const AnsiString& Text, char* Buffer, const char* Where) {
  if (Text.empty()) return;
  try {
    if (buffer_size_ > 0 && Buffer == nullptr) throw Exception();
    HexTextToBinary(Text, Buffer, buffer_size_);
  } catch (const std::exception&) {
    throw EIB_StatementError(statement_, IB_Message(TIB_Msg::InvalidBookmark) + Where);
  }
}

void TIB_Row::SetRowData(const AnsiString& Text) { DecodeInto(Text, row_buffer_.get(), " in SetRowData()"); }

void TIB_Row::SetOldRowData(const AnsiString& Text) {
  DecodeInto(Text, old_buffer_.get(), " in SetOldRowData()");
}

// --- Buffers and state ---------------------------------------------------------------------------

void TIB_Row::InitBuffers() {
  if (managed_ || buffer_size_ == 0) return;
  std::memset(row_buffer_.get(), 0, static_cast<size_t>(buffer_size_));
  for (int32_t i = 0; i < PSQLDA()->sqln; ++i) {
    if (Var(i)->sqlind) WriteShort(Var(i)->sqlind, -1);
  }
  std::memcpy(old_buffer_.get(), row_buffer_.get(), static_cast<size_t>(buffer_size_));
}

void TIB_Row::ClearRow(uint8_t State) {
  if (row_type_ == rtParams) State = rsLoaded;
  if (managed_) return;
  InitBuffers();
  if (HasBlobsOrArrays()) ResetBlobNodes(false);
  loaded_change_ = State != row_state_;
  SetRowState(State);
  DataChanged(nullptr);
}

void TIB_Row::RevertRow(bool FreeChain) {
  if (managed_) return;
  if (buffer_size_ > 0) std::memcpy(row_buffer_.get(), old_buffer_.get(), static_cast<size_t>(buffer_size_));
  if (HasBlobsOrArrays()) ResetBlobNodes(FreeChain);
  loaded_change_ = false;
  SetRowState(rsLoaded);
  DataChanged(nullptr);
}

void TIB_Row::SetRowLoaded(bool Loaded, bool ResetBlobs, bool Calculate) {
  if (Loaded) PadBuffers(true);
  if (ResetBlobs && HasBlobsOrArrays()) ResetBlobNodes(Loaded);
  if (!managed_) {
    if (buffer_size_ > 0) std::memcpy(old_buffer_.get(), row_buffer_.get(), static_cast<size_t>(buffer_size_));
    loaded_change_ = Loaded;
  }
  SetRowState(rsLoaded);
  if (Calculate && calculated_count_ > 0) CalculateFields();
  DataChanged(nullptr);
}

void TIB_Row::PadBuffers(bool ForceNotNull) {
  for (auto& c : columns_) {
    if (!c->ind_) continue;
    if (ForceNotNull && !c->GetIsNullable()) WriteShort(c->ind_, 0);
    const bool null = ReadShort(c->ind_) == -1;
    const int32_t len = c->GetSQLLen();
    if (c->BaseType() == SQL_VARYING) {
      if (null) {
        WriteShort(c->data_, 0);
        std::memset(c->data_ + 2, c->PadChar, static_cast<size_t>(len));
      } else {
        const int32_t stored = std::clamp<int32_t>(static_cast<uint16_t>(ReadShort(c->data_)), 0, len);
        std::memset(c->data_ + 2 + stored, c->PadChar, static_cast<size_t>(len - stored));
      }
    } else if (null) {
      std::memset(c->data_, c->PadChar, static_cast<size_t>(c->GetBufferDataSize()));
    }
  }
}

void TIB_Row::SetRowState(uint8_t State) {
  if (State == row_state_) return;
  row_state_ = State;
  if (OnRowStateChanged) OnRowStateChanged(this);
}

void TIB_Row::ColumnModified(TIB_Column* Column) {
  loaded_change_ = false;
  if (!calculating_) SetRowState(rsModified);
  DataChanged(Column);
}

void TIB_Row::DataChanged(TIB_Column* Column) {
  if (update_level_ == 0) {
    if (OnDataChange) OnDataChange(this, Column);
    if (row_type_ == rtParams) SetRowState(rsLoaded);
    return;
  }
  if (Column == nullptr) {
    whole_row_changed_ = true;
    if (loaded_change_) pending_loaded_change_ = true;
  } else if (std::find(changed_columns_.begin(), changed_columns_.end(), Column) == changed_columns_.end()) {
    changed_columns_.push_back(Column);
  }
}

void TIB_Row::EndUpdate(bool WholeRowIfMany) {
  if (update_level_ == 0) return;
  if (--update_level_ == 0) FlushChanges(WholeRowIfMany);
}

void TIB_Row::FlushChanges(bool WholeRowIfMany) {
  if (whole_row_changed_ || (WholeRowIfMany && changed_columns_.size() > 1)) {
    if (whole_row_changed_ && !loaded_change_) {
      loaded_change_ = pending_loaded_change_;
      pending_loaded_change_ = false;
    }
    if (OnDataChange) OnDataChange(this, nullptr);
    loaded_change_ = false;
  } else {
    // A handler may change more columns; deliver the ones collected so far.
    const std::vector<TIB_Column*> changed = changed_columns_;
    for (TIB_Column* c : changed) {
      if (OnDataChange) OnDataChange(this, c);
    }
  }
  changed_columns_.clear();
  whole_row_changed_ = false;
  if (row_type_ == rtParams) SetRowState(rsLoaded);
}

void TIB_Row::CalculateFields() {
  if (calculating_) return;
  calculating_ = true;
  try {
    if (statement_->CalculateAllFields()) {
      statement_->DoCalculateFields(this, nullptr);
    } else {
      for (TIB_Column* c : calculated_columns_) statement_->DoCalculateFields(this, c);
    }
  } catch (...) {
    calculating_ = false;
    throw;
  }
  calculating_ = false;
}

// --- Values by column names -------------------------------------------------------------------

void TIB_Row::GetColumnList(std::vector<TIB_Column*>& List, const AnsiString& Names) {
  List.clear();
  const AnsiString names = Trim(Names);
  if (names.empty() || names == "*") {
    for (auto& c : columns_) List.push_back(c.get());
    return;
  }
  for (const AnsiString& item : SplitToStrings(names)) List.push_back(ColumnByName(item));
}

namespace {
bool IsNameList(const AnsiString& Names) {
  return Trim(Names) == "*" || CharPosOutsideQuotes(';', Names) > 0;
}
}  // namespace

Variant TIB_Row::GetValues(const AnsiString& Names) {
  statement_->EnsurePrepared();
  if (row_state_ == rsEmpty) return Unassigned();
  if (IsNameList(Names)) {
    std::vector<TIB_Column*> list;
    GetColumnList(list, Names);
    std::vector<Variant> values;
    values.reserve(list.size());
    for (TIB_Column* c : list) values.push_back(c->GetIsNull() ? Null() : c->GetAsVariant());
    return VarArrayOf(values);
  }
  TIB_Column* c = ColumnByName(Names);
  return c->GetIsNull() ? Null() : c->GetAsVariant();
}

void TIB_Row::SetValues(const AnsiString& Names, const Variant& Values) {
  statement_->EnsurePrepared();
  if (IsNameList(Names)) {
    std::vector<TIB_Column*> list;
    GetColumnList(list, Names);
    BeginUpdate();
    try {
      const bool is_array = VarIsArray(Values);
      const int32_t low = is_array ? VarArrayLowBound(Values, 1) : 0;
      for (size_t i = 0; i < list.size(); ++i) {
        list[i]->SetAsVariant(is_array ? VarArrayGet(Values, {low + static_cast<int32_t>(i)}) : Values);
      }
    } catch (...) {
      EndUpdate(true);
      throw;
    }
    EndUpdate(true);
    return;
  }
  TIB_Column* c = ColumnByName(Names);
  if (c->IsArray || !VarIsArray(Values)) {
    c->SetAsVariant(Values);
  } else {
    c->SetAsVariant(VarArrayGet(Values, {VarArrayLowBound(Values, 1)}));
  }
}

Variant TIB_Row::GetOldValues(const AnsiString& Names) {
  statement_->EnsurePrepared();
  if (IsNameList(Names)) {
    std::vector<TIB_Column*> list;
    GetColumnList(list, Names);
    std::vector<Variant> values;
    values.reserve(list.size());
    for (TIB_Column* c : list) values.push_back(c->GetOldAsVariant());
    return VarArrayOf(values);
  }
  return ColumnByName(Names)->GetOldAsVariant();
}

// --- Blob caches ---------------------------------------------------------------------------------

TIB_BlobCacheNode* TIB_Row::GetBlobNode(int32_t Index) const {
  if (!blob_nodes_ || Index < 0 || static_cast<size_t>(Index) >= blob_node_index_.size()) return nullptr;
  const int32_t n = blob_node_index_[static_cast<size_t>(Index)];
  return n < 0 ? nullptr : &blob_nodes_[static_cast<size_t>(n)];
}

void TIB_Row::ResetBlobNodes(bool FreeChain) {
  for (int32_t i = 0; blob_nodes_ && i < blob_count_ + array_count_; ++i) {
    if (row_type_ == rtParams) {
      blob_nodes_[static_cast<size_t>(i)].BlobId = ISC_QUAD{};
    } else {
      ClearBlobNode(&blob_nodes_[static_cast<size_t>(i)]);
    }
  }
  if (FreeChain) FreeBlobNodeChain(*GetBlobNodes());
}

void TIB_Row::PostBlobs() {
  new_blob_id_count_ = 0;
  if (!HasBlobsOrArrays() || managed_) return;
  for (int32_t i = 0; i < PSQLDA()->sqld; ++i) {
    TIB_BlobCacheNode* node = GetBlobNode(i);
    TIB_Column* col = nullptr;
    if (!node || !node->Changed || !FindColumnByFieldNo(static_cast<int16_t>(i), col)) continue;
    ISC_QUAD id;
    std::memcpy(&id, col->data_, sizeof id);
    if (IsNullBlobId(id) && !col->GetIsNull()) {
      statement_->StoreBlobNode(col->var_, col->GetArrayDesc(), node);
      std::memcpy(col->data_, &node->BlobId, sizeof node->BlobId);
      std::memcpy(&id, col->data_, sizeof id);
    }
    if (id.gds_quad_high == 0 && id.gds_quad_low != 0) ++new_blob_id_count_;
  }
}

void TIB_Row::AfterPostBlobs(bool Success) {
  if (!HasBlobsOrArrays() || managed_) return;
  for (int32_t i = 0; i < PSQLDA()->sqln; ++i) {
    TIB_BlobCacheNode* node = GetBlobNode(i);
    TIB_Column* col = nullptr;
    if (!node || !node->Changed || !FindColumnByFieldNo(static_cast<int16_t>(i), col)) continue;
    ISC_QUAD id;
    std::memcpy(&id, col->data_, sizeof id);
    if (Success && row_type_ == rtFields) {
      node->Changed = false;
      // The edit kept for the row in its node is stored now.
      DropNodeEdit(static_cast<int16_t>(i));
      if (!IsNullBlobId(id) && !col->GetIsNull()) {
        node->BlobId = id;
        node->FieldNo = static_cast<int16_t>(i);
        SaveBlobNode(*GetBlobNodes(), node, true);
      }
    } else {
      const ISC_QUAD zero{};
      std::memcpy(col->data_, &zero, sizeof zero);
      node->BlobId = zero;
    }
  }
  if (Success) PurgeBlobCache();
}

void TIB_Row::CancelBlobs() {
  if (!HasBlobsOrArrays() || managed_) return;
  for (int32_t i = 0; i < blob_count_ + array_count_; ++i) {
    if (blob_nodes_[static_cast<size_t>(i)].Changed) ClearBlobNode(&blob_nodes_[static_cast<size_t>(i)]);
  }
  // Edited values kept in the chain of the row's node go the same way.
  CancelNodeBlobs();
}

void TIB_Row::PurgeBlobCache() {
  TIB_BlobCacheNode** link = GetBlobNodes();
  while (*link) {
    TIB_BlobCacheNode* node = *link;
    bool used = false;
    for (TIB_Column* c : blob_columns_) {
      ISC_QUAD id;
      std::memcpy(&id, c->data_, sizeof id);
      if (SameBlobId(id, node->BlobId)) {
        used = true;
        break;
      }
    }
    if (used) {
      link = &node->Next;
    } else {
      *link = node->Next;
      FreeBlobNodeBuffer(node);
      delete node;
    }
  }
}

}  // namespace pelvar
