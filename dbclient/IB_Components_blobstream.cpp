#include "dbclient/IB_Components_blobstream.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Utils.h"
#include "platform/checked.h"

namespace pelvar {

TIB_BlobStream::TIB_BlobStream(TIB_Row* Row, TIB_Column* Column, const XSQLVAR* PVAR,
                               int16_t FieldNo, TIB_BlobCacheNode* Node,
                               TIB_BlobCacheNode** Head, TBlobStreamMode Mode)
    : row_(Row), column_(Column), pvar_(*PVAR), field_no_(FieldNo), node_(Node), head_(Head),
      mode_(Mode) {
  LoadNode();
}

TIB_BlobStream::TIB_BlobStream(TIB_Column* Column, TBlobStreamMode Mode)
    : TIB_BlobStream(Column->Row(), Column, Column->PSQLVAR(), Column->FieldNo(),
                     Column->Row()->GetBlobNode(Column->FieldNo()),
                     Column->Row()->GetBlobNodes(), Mode) {}

TIB_BlobStream* TIB_BlobStream::CreateForRow(TIB_Row* Row, const XSQLVAR* PVAR, int16_t FieldNo,
                                             TIB_BlobCacheNode* Node, TIB_BlobCacheNode** Head,
                                             TBlobStreamMode Mode) {
  return new TIB_BlobStream(Row, nullptr, PVAR, FieldNo, Node, Head, Mode);
}

TIB_BlobStream::~TIB_BlobStream() {
  try {
    Close();
  } catch (const std::exception&) {
    // A destructor cannot pass it on; Close() reports it to a caller that asks.
  }
}

void TIB_BlobStream::Close() {
  if (closed_) {
    return;
  }
  closed_ = true;
  if (column_ != nullptr && modified_) {
    column_->SysAfterModify();
  }
}

ISC_QUAD TIB_BlobStream::ColumnBlobId() const {
  ISC_QUAD id{};
  if (pvar_.sqldata != nullptr) {
    std::memcpy(&id, pvar_.sqldata, sizeof id);
  }
  return id;
}

void TIB_BlobStream::ClearColumnBlobId() {
  if (pvar_.sqldata != nullptr) {
    std::memset(pvar_.sqldata, 0, sizeof(ISC_QUAD));
  }
}

TComponent* TIB_BlobStream::ErrorSender() const {
  return row_ != nullptr ? row_->Statement() : nullptr;
}

void TIB_BlobStream::LoadNode() {
  if (mode_ == bmWrite) {
    if (node_ == nullptr) {
      throw EIB_Error(ErrorSender(), IB_Message(TIB_Msg::BlobNodeUnassigned));
    }
    ClearBlobNode(node_);
    MarkModified();
    // The value starts empty and null until written.
    SetNullFlag(-1);
    return;
  }
  if (!ColumnIsNull() && head_ != nullptr) {
    const ISC_QUAD id = ColumnBlobId();
    // An edit is the value only while the column's id is zero (an edit zeroes it); a
    // stored value is the one its id names, never an edit of the column.
    const bool stale = node_ == nullptr ||
                       (node_->Changed ? !IsNullBlobId(id)
                                       : (node_->Size <= 0 || IsNullBlobId(node_->BlobId) ||
                                          !SameBlobId(node_->BlobId, id)));
    if (!stale) {
      return;
    }
    TIB_BlobCacheNode* cached = nullptr;
    if (IsNullBlobId(id)) {
      TIB_BlobCacheNode probe{};
      cached = FindBlobNode(*head_, &probe, field_no_, true);
    } else {
      for (TIB_BlobCacheNode* n = *head_; n != nullptr && cached == nullptr; n = n->Next) {
        if (SameBlobId(n->BlobId, id)) cached = n;
      }
    }
    if (mode_ == bmRead) {
      if (cached != nullptr || IsNullBlobId(id)) {
        // Nothing stored and no edit kept: an empty value.
        node_ = cached;
        return;
      }
      // A node of the chain's own: loaded, then put at the head.
      auto fresh = std::make_unique<TIB_BlobCacheNode>();
      fresh->BlobId = id;
      fresh->FieldNo = field_no_;
      const ISC_ARRAY_DESC* desc = nullptr;
      if ((pvar_.sqltype & ~1) == SQL_ARRAY && column_ != nullptr) {
        desc = column_->GetArrayDesc();
      }
      try {
        row_->Statement()->LoadBlobNode(&pvar_, desc, fresh.get());
      } catch (...) {
        FreeBlobNodeBuffer(fresh.get());
        throw;
      }
      fresh->Next = *head_;
      node_ = fresh.release();
      *head_ = node_;
      return;
    }
    // bmReadWrite: a changed copy of the same value in the chain, else the server's.
    if (node_ == nullptr) {
      throw EIB_Error(ErrorSender(), IB_Message(TIB_Msg::BlobNodeUnassigned));
    }
    if (cached != nullptr && cached != node_) {
      CopyBlobNode(cached, node_, false);
    } else {
      ClearBlobNode(node_);
      node_->BlobId = id;
      node_->FieldNo = field_no_;
      // A value that was never stored has nothing to load: it is empty.
      if (!IsNullBlobId(id)) row_->Statement()->LoadBlobNode(&pvar_, nullptr, node_);
    }
    return;
  }
  if (node_ != nullptr) {
    ClearBlobNode(node_);
  } else if (mode_ == bmReadWrite) {
    throw EIB_Error(ErrorSender(), IB_Message(TIB_Msg::BlobNodeUnassigned));
  }
}

void TIB_BlobStream::SetNullFlag(int16_t flag) {
  if (pvar_.sqlind != nullptr) std::memcpy(pvar_.sqlind, &flag, sizeof flag);
}

void TIB_BlobStream::MarkModified() {
  if (modified_) {
    return;
  }
  if (column_ != nullptr) {
    column_->SysBeforeModify();
  }
  // The value is new and not yet stored.
  ClearColumnBlobId();
  node_->Changed = true;
  modified_ = true;
}

int32_t TIB_BlobStream::Read(void* Buffer, int32_t Count) {
  if (node_ == nullptr) {
    return 0;
  }
  const int32_t count = std::min(Count, node_->Size - position_);
  if (count <= 0) {
    return 0;
  }
  std::memcpy(Buffer, static_cast<const char*>(node_->Buffer) + position_,
              static_cast<size_t>(count));
  position_ += count;
  return count;
}

int32_t TIB_BlobStream::Write(const void* Buffer, int32_t Count) {
  if (mode_ == bmRead || node_ == nullptr) {
    return 0;
  }
  MarkModified();
  SetNullFlag(0);
  if (Count <= 0) {
    return 0;
  }
  const int32_t end = CheckedAdd(position_, Count);
  if (node_->Capacity < end) {
    void* block = node_->Buffer;
    ReallocBuffer(block, node_->Capacity, end);
    node_->Buffer = block;
    node_->Capacity = end;
  }
  std::memcpy(static_cast<char*>(node_->Buffer) + position_, Buffer, static_cast<size_t>(Count));
  position_ = end;
  node_->Size = std::max(node_->Size, position_);
  return Count;
}

int64_t TIB_BlobStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t position = position_;
  if (node_ != nullptr) {
    switch (Origin) {
      case TSeekOrigin::soBeginning:
        position = Offset;
        break;
      case TSeekOrigin::soCurrent:
        position = position_ + Offset;
        break;
      case TSeekOrigin::soEnd:
        position = node_->Size + Offset;
        break;
    }
    position = std::min<int64_t>(position, node_->Size);
  }
  position_ = static_cast<int32_t>(std::max<int64_t>(position, 0));
  return position_;
}

}  // namespace pelvar
