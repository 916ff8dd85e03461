// One blob column's value, cached in a blob node, presented as a stream. The stream
// does not own its node: the node belongs to the row's chain or to the row's slot; the
// stream fills, reads and changes it, and the row writes changed nodes when it is
// posted.
//
// Part of the IB_Components unit.
#pragma once

#include <cstdint>

#include "dbclient/IB_Session.h"
#include "dbengine/IB_Components_rows.h"
#include "platform/streams.h"

namespace pelvar {

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

class TIB_BlobStream : public TStream {
 public:
  // For a column: its row, its XSQLVAR, its row slot's node and the row's chain.
  TIB_BlobStream(TIB_Column* Column, TBlobStreamMode Mode);
  // For a row slot. PVAR is copied; its data and indicator pointers address the row's
  // buffers, so the stream writes the blob id and the null flag straight into the row.
  // bmWrite starts an empty, null value (EIB_Error "Nepřiřazený BlobNode" without a
  // node); bmRead and bmReadWrite load the value (from the chain when it holds it,
  // else from the server through the row's statement).
  static TIB_BlobStream* CreateForRow(TIB_Row* Row, const XSQLVAR* PVAR, int16_t FieldNo,
                                      TIB_BlobCacheNode* Node, TIB_BlobCacheNode** Head,
                                      TBlobStreamMode Mode);
  // Runs Close, swallowing what it raises (call Close to see a failed validation).
  ~TIB_BlobStream() override;

  // Bytes from the node at the position; 0 at the end or without a node.
  int32_t Read(void* Buffer, int32_t Count) override;
  // Nothing in bmRead; otherwise the bytes go into the node at the position (the node
  // grows), the value becomes not null and, at the first change, new (blob id 0).
  int32_t Write(const void* Buffer, int32_t Count) override;
  // Kept within 0 and the node's size.
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  // For a column that was changed: the column's after-change processing (validation and
  // change notification). Once.
  void Close();

  TIB_BlobCacheNode* Node() const { return node_; }
  bool Modified() const { return modified_; }
  TBlobStreamMode Mode() const { return mode_; }

 private:
  TIB_BlobStream(TIB_Row* Row, TIB_Column* Column, const XSQLVAR* PVAR, int16_t FieldNo,
                 TIB_BlobCacheNode* Node, TIB_BlobCacheNode** Head, TBlobStreamMode Mode);
  void LoadNode();
  void MarkModified();
  // Row buffers are packed without alignment: the null flag is copied, never
  // dereferenced in place.
  void SetNullFlag(int16_t flag);
  bool ColumnIsNull() const { return pvar_.sqlind != nullptr && *pvar_.sqlind == -1; }
  // The row buffer's blob id (copied: the slot need not be aligned for ISC_QUAD).
  ISC_QUAD ColumnBlobId() const;
  void ClearColumnBlobId();
  TComponent* ErrorSender() const;

  TIB_Row* row_;
  TIB_Column* column_;
  XSQLVAR pvar_;
  int16_t field_no_;
  TIB_BlobCacheNode* node_;
  TIB_BlobCacheNode** head_;
  TBlobStreamMode mode_;
  int32_t position_ = 0;
  bool modified_ = false;
  bool closed_ = false;
};

}  // namespace pelvar
