// TIB_Row and the buffered dataset's nodes: packing a row into a node, unpacking it
// again, and the edited blobs that travel in the node's blob chain.
//
// Node format: for each column in buffer order, the 2-byte null indicator, then, unless
// the indicator is -1 on a nullable column, the data: for VARCHAR the 2-byte length and
// that many bytes, for every other type the column's declared length.
//
// An edited blob waits in the node's chain with a zero blob id, its column's index and
// its changed flag set. The changed flag (not a non-zero index) marks it, so that an
// edited blob of the row's first column is kept like any other.
#include <algorithm>
#include <cstring>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_rows.h"
#include "dbengine/IB_NodeList.h"
#include "dbengine/ib_bdataset_internal.h"

namespace pelvar {

namespace {

// The node row format is the buffered dataset's: one packer serves both.
using bdataset_detail::ReadShort;
using bdataset_detail::WriteShort;
void PackRow(const std::vector<TIB_Column*>& Cols, std::vector<char>& Out) {
  bdataset_detail::PackColumns(Cols, Out);
}

// A null column with blank data.
void BlankColumn(TIB_Column* C) {
  WriteShort(C->NullIndPtr(), -1);
  const int32_t len = C->GetSQLLen();
  switch (C->BaseType()) {
    case SQL_VARYING:
      WriteShort(C->DataPtr(), 0);
      std::memset(C->DataPtr() + 2, ' ', static_cast<size_t>(len));
      break;
    case SQL_TEXT:
      std::memset(C->DataPtr(), ' ', static_cast<size_t>(len));
      break;
    default:
      std::memset(C->DataPtr(), 0, static_cast<size_t>(C->GetBufferDataSize()));
      break;
  }
}

// Unpacks Data into the row buffer. Columns the data does not reach (an empty or short
// buffer) are left null and blank instead of being read past its end.
void UnpackRow(const std::vector<TIB_Column*>& Cols, const std::vector<char>& Data) {
  const char* p = Data.data();
  const char* end = p + Data.size();
  bool short_data = false;
  for (TIB_Column* c : Cols) {
    if (short_data || end - p < 2) {
      short_data = true;
      BlankColumn(c);
      continue;
    }
    const int16_t ind = ReadShort(p);
    p += 2;
    if (ind == -1 && c->GetIsNullable()) {
      BlankColumn(c);
      continue;
    }
    const int32_t declared = c->GetSQLLen();
    if (c->BaseType() == SQL_VARYING) {
      if (end - p < 2) {
        short_data = true;
        BlankColumn(c);
        continue;
      }
      const int32_t stored = static_cast<uint16_t>(ReadShort(p));
      if (end - p - 2 < stored) {
        short_data = true;
        BlankColumn(c);
        continue;
      }
      const int32_t len = std::min(stored, declared);
      WriteShort(c->NullIndPtr(), ind);
      WriteShort(c->DataPtr(), static_cast<int16_t>(len));
      std::memcpy(c->DataPtr() + 2, p + 2, static_cast<size_t>(len));
      std::memset(c->DataPtr() + 2 + len, c->PadChar, static_cast<size_t>(declared - len));
      p += 2 + stored;
    } else {
      const int32_t n = c->GetBufferDataSize();
      if (end - p < n) {
        short_data = true;
        BlankColumn(c);
        continue;
      }
      WriteShort(c->NullIndPtr(), ind);
      std::memcpy(c->DataPtr(), p, static_cast<size_t>(n));
      p += n;
    }
  }
}

bool IsEditedChainNode(const TIB_BlobCacheNode* N) { return IsNullBlobId(N->BlobId) && N->Changed; }

}  // namespace

TIB_BlobCacheNode** TIB_Row::GetBlobNodes() { return row_node_ != nullptr ? &row_node_->BlobChain : &own_chain_; }

void TIB_Row::LoadFromNode(bool Notify, bool WithBlobs) {
  if (row_node_ == nullptr || row_node_->Row.empty()) {
    throw EIB_StatementError(statement_, "No record data to load");
  }
  const std::vector<TIB_Column*>& cols = BufferOrder();
  const size_t size = static_cast<size_t>(buffer_size_);
  if (!row_node_->OldRow.empty()) {
    UnpackRow(cols, row_node_->OldRow);
    if (size > 0) std::memcpy(old_buffer_.get(), row_buffer_.get(), size);
  }
  UnpackRow(cols, row_node_->Row);
  if (row_node_->OldRow.empty() && size > 0) std::memcpy(old_buffer_.get(), row_buffer_.get(), size);
  if (WithBlobs && !managed_ && row_type_ == rtFields && blob_nodes_) {
    // The table nodes hold this row's edits and nothing else: an edit of the row shown
    // before must not pass for this row's value. The node keeps its own edits (a copy is
    // handed over) until they are posted or cancelled, however often the row is shown.
    for (int32_t i = 0; i < blob_count_ + array_count_; ++i) ClearBlobNode(&blob_nodes_[static_cast<size_t>(i)]);
    for (TIB_BlobCacheNode* n = row_node_->BlobChain; n != nullptr; n = n->Next) {
      if (!IsEditedChainNode(n)) continue;
      TIB_BlobCacheNode* table = GetBlobNode(n->FieldNo);
      if (table == nullptr) continue;
      CopyBlobNode(n, table, false);
    }
  }
  if (Notify) {
    loaded_change_ = true;
    SetRowState(rsLoaded);
    DataChanged(nullptr);
  }
}

const std::vector<TIB_Column*>& TIB_Row::BufferOrder() {
  if (!buffer_order_kept_) {
    buffer_order_ = bdataset_detail::BufferOrderColumns(*this);
    buffer_order_kept_ = true;
  }
  return buffer_order_;
}

void TIB_Row::SaveToNode() {
  if (row_node_ == nullptr) return;
  PackRow(BufferOrder(), row_node_->Row);
  if (managed_ || row_type_ != rtFields || !blob_nodes_) return;
  for (int32_t i = 0; i < PSQLDA()->sqln; ++i) {
    TIB_BlobCacheNode* table = GetBlobNode(i);
    if (table == nullptr || !table->Changed) continue;
    // Every edit goes with its row, an empty value included: left in the table node it
    // would be lost to this row and show on the next one.
    table->BlobId = ISC_QUAD{};
    table->FieldNo = static_cast<int16_t>(i);
    // The chain's node for this column takes the buffer (the table node is left empty).
    TIB_BlobCacheNode* kept = nullptr;
    for (TIB_BlobCacheNode* n = row_node_->BlobChain; n != nullptr; n = n->Next) {
      if (IsEditedChainNode(n) && n->FieldNo == i) {
        kept = n;
        break;
      }
    }
    if (kept == nullptr) {
      kept = new TIB_BlobCacheNode{};
      kept->Next = row_node_->BlobChain;
      row_node_->BlobChain = kept;
    }
    CopyBlobNode(table, kept, true);
    kept->Changed = true;
  }
}

void TIB_Row::PurgeNodeBlobs() {
  if (row_node_ == nullptr) return;
  TIB_BlobCacheNode** link = &row_node_->BlobChain;
  while (*link != nullptr) {
    TIB_BlobCacheNode* n = *link;
    if (IsNullBlobId(n->BlobId) && n->FieldNo == 0 && !n->Changed) {
      *link = n->Next;
      FreeBlobNodeBuffer(n);
      delete n;
    } else {
      link = &n->Next;
    }
  }
}

void TIB_Row::DropNodeEdit(int16_t FieldNo) {
  if (row_node_ == nullptr) return;
  TIB_BlobCacheNode** link = &row_node_->BlobChain;
  while (*link != nullptr) {
    TIB_BlobCacheNode* n = *link;
    if (IsEditedChainNode(n) && n->FieldNo == FieldNo) {
      *link = n->Next;
      FreeBlobNodeBuffer(n);
      delete n;
    } else {
      link = &n->Next;
    }
  }
}

void TIB_Row::CancelNodeBlobs() {
  if (blob_count_ + array_count_ == 0 || managed_ || row_type_ != rtFields || row_node_ == nullptr) return;
  bool cleared = false;
  for (TIB_BlobCacheNode* n = row_node_->BlobChain; n != nullptr; n = n->Next) {
    if (IsEditedChainNode(n)) {
      ClearBlobNode(n);
      cleared = true;
    }
  }
  if (cleared) PurgeNodeBlobs();
}

}  // namespace pelvar
