// The content of blob and array columns: their XSQLVAR holds only an id, the value lives
// in a blob cache node. Reading finds the node (the row's table node for the column when
// it holds the current value, else a node of the row's chain with the column's id) or
// loads it from the server into a new node at the head of the chain, so that every blob
// is read at most once per row position. Writing replaces the table node's content, marks
// it changed and zeroes the column's id until the row posts it.
#pragma once

#include "dbengine/IB_Components_rows.h"

namespace pelvar::columns_content {

// The id stored in the column's data (current or old buffer).
ISC_QUAD ColumnBlobId(const char* Data);

// The node holding the column's current content, loaded on demand; nullptr when the
// column is null or has no stored value yet (an empty content).
TIB_BlobCacheNode* CurrentNode(TIB_Column* Column, const ISC_ARRAY_DESC* Desc);
// True when the current content is in memory (or the column is null).
bool CurrentIsLoaded(TIB_Column* Column);
// The node holding the content stored under Id (a value before an edit), loaded on
// demand; nullptr for a zero id.
TIB_BlobCacheNode* StoredNode(TIB_Column* Column, const ISC_QUAD& Id, const ISC_ARRAY_DESC* Desc);

// Replaces a column's content inside its modification bracket, as a write blob stream
// does: the column is null and empty from the start, the first Write makes it not null,
// Finish ends the bracket (validation and change notification). A writer dropped
// without Finish (an exception) leaves the partial content without notifying.
class ContentWriter {
 public:
  explicit ContentWriter(TIB_Column* Column);
  ContentWriter(const ContentWriter&) = delete;
  ContentWriter& operator=(const ContentWriter&) = delete;

  // Count 0 only makes the column not null.
  void Write(const void* Data, int32_t Count);
  void Finish();

 private:
  TIB_Column* column_;
  TIB_BlobCacheNode* node_;
  bool null_ = true;
};

}  // namespace pelvar::columns_content
