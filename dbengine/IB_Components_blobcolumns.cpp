// Blob columns: content loaded on demand into the row's blob cache nodes, written values
// kept in the column's table node until the row posts them.
#include <algorithm>
#include <cstring>
#include <vector>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/ib_columns_content.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/streams.h"

namespace pelvar {

namespace columns_content {

ISC_QUAD ColumnBlobId(const char* Data) {
  ISC_QUAD id{};
  if (Data) std::memcpy(&id, Data, sizeof id);
  return id;
}

namespace {

TIB_BlobCacheNode* FindById(TIB_BlobCacheNode* Head, const ISC_QUAD& Id) {
  for (TIB_BlobCacheNode* n = Head; n; n = n->Next) {
    if (SameBlobId(n->BlobId, Id)) return n;
  }
  return nullptr;
}

// A new node at the head of the row's chain, filled from the server.
TIB_BlobCacheNode* LoadIntoChain(TIB_Column* Column, const ISC_QUAD& Id, const ISC_ARRAY_DESC* Desc) {
  auto* node = new TIB_BlobCacheNode{};
  node->BlobId = Id;
  node->FieldNo = Column->FieldNo();
  try {
    Column->Row()->Statement()->LoadBlobNode(Column->PSQLVAR(), Desc, node);
  } catch (...) {
    FreeBlobNodeBuffer(node);
    delete node;
    throw;
  }
  node->BlobId = Id;
  node->FieldNo = Column->FieldNo();
  node->Changed = false;
  TIB_BlobCacheNode** head = Column->Row()->GetBlobNodes();
  node->Next = *head;
  *head = node;
  return node;
}

// The table node when it holds the current value: an edit only while the column's id is
// zero (an edit zeroes it; a stored value is the one its id names), else the stored value
// of the same id.
bool TableNodeIsCurrent(const TIB_BlobCacheNode* Node, const ISC_QUAD& Id) {
  if (Node == nullptr) return false;
  if (Node->Changed) return IsNullBlobId(Id);
  return Node->Size > 0 && !IsNullBlobId(Node->BlobId) && SameBlobId(Node->BlobId, Id);
}

}  // namespace

TIB_BlobCacheNode* CurrentNode(TIB_Column* Column, const ISC_ARRAY_DESC* Desc) {
  if (Column->GetIsNull()) return nullptr;
  const ISC_QUAD id = ColumnBlobId(Column->DataPtr());
  TIB_BlobCacheNode* table = Column->Row()->GetBlobNode(Column->FieldNo());
  if (TableNodeIsCurrent(table, id)) return table;
  if (IsNullBlobId(id)) {
    // An edit kept in the row's chain; a value that was never stored has nothing to load.
    TIB_BlobCacheNode probe{};
    return FindBlobNode(*Column->Row()->GetBlobNodes(), &probe, Column->FieldNo(), true);
  }
  // A stored value is found by its id only: an edit of the column is another value.
  if (TIB_BlobCacheNode* cached = FindById(*Column->Row()->GetBlobNodes(), id)) return cached;
  return LoadIntoChain(Column, id, Desc);
}

bool CurrentIsLoaded(TIB_Column* Column) {
  if (Column->GetIsNull()) return true;
  const ISC_QUAD id = ColumnBlobId(Column->DataPtr());
  if (TableNodeIsCurrent(Column->Row()->GetBlobNode(Column->FieldNo()), id)) return true;
  if (IsNullBlobId(id)) {
    TIB_BlobCacheNode probe{};
    return FindBlobNode(*Column->Row()->GetBlobNodes(), &probe, Column->FieldNo(), true) != nullptr;
  }
  return FindById(*Column->Row()->GetBlobNodes(), id) != nullptr;
}

TIB_BlobCacheNode* StoredNode(TIB_Column* Column, const ISC_QUAD& Id, const ISC_ARRAY_DESC* Desc) {
  if (IsNullBlobId(Id)) return nullptr;
  TIB_BlobCacheNode* table = Column->Row()->GetBlobNode(Column->FieldNo());
  if (table && !table->Changed && table->Size > 0 && SameBlobId(table->BlobId, Id)) return table;
  if (TIB_BlobCacheNode* cached = FindById(*Column->Row()->GetBlobNodes(), Id)) return cached;
  return LoadIntoChain(Column, Id, Desc);
}

ContentWriter::ContentWriter(TIB_Column* Column) : column_(Column) {
  node_ = Column->Row()->GetBlobNode(Column->FieldNo());
  if (node_ == nullptr) throw EIB_Error(Column->GetStatement(), IB_Message(TIB_Msg::BlobNodeUnassigned));
  ClearBlobNode(node_);
  node_->FieldNo = Column->FieldNo();
  Column->SysBeforeModify();
  const ISC_QUAD zero{};
  std::memcpy(Column->DataPtr(), &zero, sizeof zero);
  node_->Changed = true;
  const int16_t null_ind = -1;  // the packed row buffer is not aligned: memcpy
  std::memcpy(Column->NullIndPtr(), &null_ind, sizeof null_ind);
}

void ContentWriter::Write(const void* Data, int32_t Count) {
  if (null_) {
    const int16_t not_null = 0;
    std::memcpy(column_->NullIndPtr(), &not_null, sizeof not_null);
    null_ = false;
  }
  if (Count <= 0) return;
  const int32_t end = CheckedAdd(node_->Size, Count);
  if (node_->Capacity < end) {
    ReallocBuffer(node_->Buffer, node_->Capacity, end);
    node_->Capacity = end;
  }
  std::memcpy(static_cast<char*>(node_->Buffer) + node_->Size, Data, static_cast<size_t>(Count));
  node_->Size = end;
}

void ContentWriter::Finish() {
  if (null_) {
    // A parameter sent as null must be nullable.
    XSQLVAR* var = column_->PSQLVAR();
    if (column_->Row()->RowType() == rtParams) var->sqltype = static_cast<int16_t>(var->sqltype | 1);
  }
  column_->SysAfterModify();
}

}  // namespace columns_content

using columns_content::ContentWriter;

// --- TIB_ColumnBlob ------------------------------------------------------------------------------

TIB_ColumnBlob::TIB_ColumnBlob(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo) : TIB_Column(Row, Var, FieldNo) {
  IsBlob = true;
}

TIB_ColumnMemo::TIB_ColumnMemo(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo) : TIB_ColumnBlob(Row, Var, FieldNo) {
  IsText = true;
}

TIB_ColumnBLR::TIB_ColumnBLR(TIB_Row* Row, XSQLVAR* Var, int16_t FieldNo) : TIB_ColumnBlob(Row, Var, FieldNo) {
  IsText = true;
}

namespace {
AnsiString NodeText(const TIB_BlobCacheNode* Node) {
  if (Node == nullptr || Node->Buffer == nullptr || Node->Size <= 0) return {};
  return AnsiString(static_cast<const char*>(Node->Buffer), static_cast<size_t>(Node->Size));
}
}  // namespace

TIB_BlobCacheNode* TIB_ColumnBlob::LoadedNode() { return columns_content::CurrentNode(this, nullptr); }

void TIB_ColumnBlob::WriteContent(const void* Data, int32_t Length) {
  ContentWriter writer(this);
  if (Data != nullptr) writer.Write(Data, Length);
  writer.Finish();
}

AnsiString TIB_ColumnBlob::GetAsString() {
  if (GetIsNull()) return {};
  return NodeText(LoadedNode());
}

void TIB_ColumnBlob::SetAsString(const AnsiString& Value) {
  // An empty text is an empty blob, or null with BLANKISNULL.
  WriteContent(Value.empty() && BlankIsNull ? nullptr : Value.data(), static_cast<int32_t>(Value.size()));
}

void TIB_ColumnBlob::SetAsBuffer(const void* Buffer, int32_t Length) {
  WriteContent(Buffer ? Buffer : "", std::max(Length, 0));
}

void TIB_ColumnBlob::Clear() { WriteContent(nullptr, 0); }

AnsiString TIB_ColumnBlob::GetOldAsString() {
  if (!GetIsModified()) return GetAsString();
  if (GetOldIsNull()) return {};
  return NodeText(columns_content::StoredNode(this, columns_content::ColumnBlobId(old_data_), nullptr));
}

int32_t TIB_ColumnBlob::GetDataSize() {
  if (GetIsNull()) return 0;
  if (GetIsLoaded()) {
    const TIB_BlobCacheNode* node = LoadedNode();
    return node ? node->Size : 0;
  }
  int32_t size = 0;
  return row_->Statement()->ServerBlobSize(var_, size) ? size : 0;
}

bool TIB_ColumnBlob::GetIsLoaded() {
  if (GetIsNull() || GetIsModified()) return true;
  return columns_content::CurrentIsLoaded(this);
}

bool TIB_ColumnBlob::GetIsModified() {
  TIB_BlobCacheNode* node = TableNode();
  return TIB_Column::GetIsModified() || (node && node->Changed);
}

AnsiString TIB_ColumnBlob::GetDisplayText() {
  if (GetIsNull()) return {};
  if (IsText && GetIsLoaded()) return TIB_Column::GetDisplayText();
  return "( " + GetDisplayName() + " )";
}

void TIB_ColumnBlob::SysSetIsNull(bool Null) {
  if (Null) {
    if (TIB_BlobCacheNode* node = TableNode(); node && node->Changed) node->Changed = false;
  }
  TIB_Column::SysSetIsNull(Null);
}

void TIB_ColumnBlob::Assign(TObject* Source) {
  if (auto* src = dynamic_cast<TIB_ColumnBlob*>(Source)) {
    if (src->GetIsNull()) {
      Clear();
      return;
    }
    const AnsiString content = src->GetAsString();  // read before this column changes
    ContentWriter writer(this);
    if (!BlankIsNull || !content.empty()) writer.Write(content.data(), static_cast<int32_t>(content.size()));
    writer.Finish();
    return;
  }
  if (Source == nullptr) {
    Clear();
    return;
  }
  if (auto* strings = dynamic_cast<TStrings*>(Source)) {
    const AnsiString text = strings->Text();
    WriteContent(text.data(), static_cast<int32_t>(text.size()));
    return;
  }
  TIB_Column::Assign(Source);
}

void TIB_ColumnBlob::AssignTo(TObject* Dest) {
  if (auto* dest = dynamic_cast<TIB_ColumnBlob*>(Dest)) {
    dest->Assign(this);
  } else if (auto* strings = dynamic_cast<TStrings*>(Dest)) {
    strings->SetText(GetAsString());
  } else {
    TIB_Column::AssignTo(Dest);
  }
}

void TIB_ColumnBlob::Assign(TStream* Source) {
  if (Source == nullptr) {
    Clear();
    return;
  }
  const int64_t size = Source->Size();
  if (size > INT32_MAX) RaiseIntOverflow();
  std::vector<char> bytes(static_cast<size_t>(size));
  Source->SetPosition(0);
  if (size > 0) Source->ReadBuffer(bytes.data(), size);
  WriteContent(bytes.data(), static_cast<int32_t>(size));
}

void TIB_ColumnBlob::AssignTo(TStream* Dest) {
  const AnsiString content = GetAsString();
  if (Dest && !content.empty()) Dest->WriteBuffer(content.data(), static_cast<int64_t>(content.size()));
}

void TIB_ColumnBlob::LoadFromFile(const AnsiString& FileName) {
  TFileStream file(FileName, fmOpenRead);
  Assign(&file);
}

void TIB_ColumnBlob::SaveToFile(const AnsiString& FileName) {
  const AnsiString content = GetAsString();  // loaded before the file is created
  TFileStream file(FileName, fmCreate);
  if (!content.empty()) file.WriteBuffer(content.data(), static_cast<int64_t>(content.size()));
}

WideString TIB_ColumnMemo::GetAsWideString() { return ToWide(GetAsString()); }
void TIB_ColumnMemo::SetAsWideString(const WideString& Value) { SetAsString(FromWide(Value)); }

}  // namespace pelvar
