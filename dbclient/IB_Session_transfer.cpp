// The session's low-level transfers: blob and array values between the server and
// memory, the blob cache node chains, the rows affected by a statement, and CREATE
// DATABASE.
#include <algorithm>
#include <cstring>

#include "dbclient/IB_Session.h"
#include "dbclient/IB_Utils.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

// --- Blob cache nodes --------------------------------------------------------------------

TIB_BlobCacheNode* ClearBlobNode(TIB_BlobCacheNode* Node) {
  if (Node != nullptr) {
    Node->Size = 0;
    Node->BlobId = ISC_QUAD{};
    Node->FieldNo = 0;
    Node->Changed = false;
  }
  return Node;
}

void FreeBlobNodeBuffer(TIB_BlobCacheNode* Node) {
  if (Node == nullptr) {
    return;
  }
  ClearBlobNode(Node);
  std::free(Node->Buffer);
  Node->Buffer = nullptr;
  Node->Capacity = 0;
}

void FreeBlobNodeChain(TIB_BlobCacheNode*& Head) {
  while (Head != nullptr) {
    TIB_BlobCacheNode* node = Head;
    Head = node->Next;
    FreeBlobNodeBuffer(node);
    delete node;
  }
}

TIB_BlobCacheNode* FindBlobNode(TIB_BlobCacheNode* Head, const TIB_BlobCacheNode* Probe,
                                int16_t FieldNo, bool OnlyChanged) {
  if (Head == nullptr) {
    return nullptr;
  }
  if (Probe != nullptr && !IsNullBlobId(Probe->BlobId)) {
    for (TIB_BlobCacheNode* n = Head; n != nullptr; n = n->Next) {
      if (SameBlobId(n->BlobId, Probe->BlobId)) {
        return n;
      }
    }
  }
  for (TIB_BlobCacheNode* n = Head; n != nullptr; n = n->Next) {
    if (n->FieldNo == FieldNo && (!OnlyChanged || n->Changed)) {
      return n;
    }
  }
  return nullptr;
}

void CopyBlobNode(TIB_BlobCacheNode* Source, TIB_BlobCacheNode* Dest, bool Move) {
  if (Source == nullptr || Dest == nullptr || Source == Dest) {
    return;
  }
  FreeBlobNodeBuffer(Dest);
  Dest->BlobId = Source->BlobId;
  Dest->FieldNo = Source->FieldNo;
  Dest->Size = Source->Size;
  Dest->Changed = Source->Changed;
  if (Move) {
    Dest->Buffer = Source->Buffer;
    Dest->Capacity = Source->Capacity;
    Source->Buffer = nullptr;
    Source->Capacity = 0;
    ClearBlobNode(Source);
  } else {
    // The copy holds exactly the data: never more than the source has.
    const int32_t size = std::max(0, std::min(Source->Size, Source->Capacity));
    Dest->Size = size;
    ReallocBuffer(Dest->Buffer, 0, size);
    Dest->Capacity = size;
    if (size > 0) {
      std::memcpy(Dest->Buffer, Source->Buffer, static_cast<size_t>(size));
    }
  }
}

TIB_BlobCacheNode* SaveBlobNode(TIB_BlobCacheNode*& Head, TIB_BlobCacheNode* Source, bool Move) {
  if (Source == nullptr) {
    return nullptr;
  }
  TIB_BlobCacheNode* node = FindBlobNode(Head, Source, Source->FieldNo, false);
  if (node == nullptr) {
    node = new TIB_BlobCacheNode{};
    node->Next = Head;
    Head = node;
  }
  CopyBlobNode(Source, node, Move);
  return node;
}

bool RestoreBlobNode(TIB_BlobCacheNode*& Head, bool OnlyChanged, TIB_BlobCacheNode* Node) {
  if (Node == nullptr) {
    return false;
  }
  TIB_BlobCacheNode* found = FindBlobNode(Head, Node, Node->FieldNo, OnlyChanged);
  if (found == nullptr) {
    return false;
  }
  CopyBlobNode(found, Node, false);
  return true;
}

// --- Blob transfers ----------------------------------------------------------------------

namespace {

constexpr int16_t kBlobSubTypeBLR = 2;
constexpr int32_t kMaxSegment = 65535;

bool IsBLR(const XSQLVAR* PVAR) { return PVAR != nullptr && PVAR->sqlsubtype == kBlobSubTypeBLR; }

int32_t VaxInteger(const char* p, int length) {
  return CallClient(ClientCallTable.isc_vax_integer, p, static_cast<short>(length));
}

// An XSQLVAR name as a zero-terminated text.
std::string VarName(const char* name, int16_t length) {
  return std::string(name, static_cast<size_t>(std::clamp<int16_t>(length, 0, 31)));
}

}  // namespace

void TIB_SessionBase::GetBlobInfo(int32_t& MaxSegment, int32_t& TotalLength, int32_t& NumSegments,
                                  isc_blob_handle* BlobHandle, const XSQLVAR* PVAR) {
  BlobInfo(MaxSegment, TotalLength, NumSegments, BlobHandle, PVAR);
}

ISC_STATUS TIB_SessionBase::BlobInfo(int32_t& MaxSegment, int32_t& TotalLength,
                                     int32_t& NumSegments, isc_blob_handle* BlobHandle,
                                     const XSQLVAR* PVAR) {
  MaxSegment = 0;
  TotalLength = 0;
  NumSegments = 0;
  static const char items[] = {isc_info_blob_max_segment, isc_info_blob_total_length,
                               isc_info_blob_num_segments, isc_info_end};
  char answer[32] = {};
  const ISC_STATUS status =
      CallClient(ClientCallTable.isc_blob_info, status_, BlobHandle,
                 static_cast<short>(sizeof items), items, static_cast<short>(sizeof answer), answer);
  if (status != 0) {
    return status;
  }
  // Item code, 2-byte length, value; never read beyond the answer buffer.
  size_t p = 0;
  while (p + 3 <= sizeof answer) {
    const uint8_t code = static_cast<uint8_t>(answer[p]);
    if (code != isc_info_blob_num_segments && code != isc_info_blob_max_segment &&
        code != isc_info_blob_total_length) {
      break;
    }
    const int32_t length = VaxInteger(answer + p + 1, 2);
    if (length < 0 || length > 4 || p + 3 + static_cast<size_t>(length) > sizeof answer) {
      break;
    }
    const int32_t value = VaxInteger(answer + p + 3, length);
    if (code == isc_info_blob_num_segments) {
      NumSegments = value;
    } else if (code == isc_info_blob_max_segment) {
      MaxSegment = value;
    } else {
      TotalLength = value;
    }
    p += 3 + static_cast<size_t>(length);
  }
  if (IsBLR(PVAR) && TotalLength >= 1) {
    // Room for the CR LF added after every segment.
    TotalLength = CheckedAdd(TotalLength, CheckedMul(2, NumSegments));
    MaxSegment = CheckedAdd(MaxSegment, 2);
  }
  return 0;
}

ISC_STATUS TIB_SessionBase::ReadBlobOrArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                            XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                                            TIB_BlobCacheNode* Node,
                                            const TIB_BlobCallbackEvent& Callback) {
  if (PVAR == nullptr) {
    return 0;
  }
  switch (PVAR->sqltype & ~1) {
    case SQL_BLOB: return ReadBlob(DBHandle, TRHandle, PVAR, Node, Callback);
    case SQL_ARRAY: return ReadArray(DBHandle, TRHandle, PVAR, ArrayDesc, Node);
    default: return 0;
  }
}

ISC_STATUS TIB_SessionBase::WriteBlobOrArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                             XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                                             TIB_BlobCacheNode* Node,
                                             const TIB_BlobCallbackEvent& Callback) {
  if (PVAR == nullptr) {
    return 0;
  }
  switch (PVAR->sqltype & ~1) {
    case SQL_BLOB: return WriteBlob(DBHandle, TRHandle, PVAR, Node, Callback);
    case SQL_ARRAY: return WriteArray(DBHandle, TRHandle, PVAR, ArrayDesc, Node);
    default: return 0;
  }
}

ISC_STATUS TIB_SessionBase::ReadBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                     const XSQLVAR* PVAR, TIB_BlobCacheNode* Node,
                                     const TIB_BlobCallbackEvent& Callback) {
  const bool blr = IsBLR(PVAR);
  // A BLR blob goes through the server's filter, which turns it into readable text.
  static const ISC_UCHAR blr_bpb[] = {isc_bpb_version1, isc_bpb_target_type, 1, 1,
                                      isc_bpb_source_type, 1, 2};
  isc_blob_handle blob = 0;
  last_result_ = CallClient(ClientCallTable.isc_open_blob2, status_, DBHandle, TRHandle, &blob,
                            &Node->BlobId, static_cast<ISC_USHORT>(blr ? sizeof blr_bpb : 0),
                            blr ? blr_bpb : nullptr);
  if (last_result_ != 0) {
    return last_result_;
  }

  // Only a callback must hear the length before the first read. Otherwise the value is
  // read to its end into a buffer that grows as needed, and its length is what was read:
  // asking the server first would cost a round trip per value.
  if (!Callback) {
    return ReadBlobToEnd(blob, blr, Node);
  }

  int32_t max_seg = 0;
  int32_t total = 0;
  int32_t num_seg = 0;
  if (const ISC_STATUS info = BlobInfo(max_seg, total, num_seg, &blob, PVAR); info != 0) {
    // Without its length the value cannot be read: the failure is reported, never an
    // empty value.
    ISC_STATUS_ARRAY ignored{};
    CallClient(ClientCallTable.isc_close_blob, ignored, &blob);
    last_result_ = info;
    return info;
  }
  Node->Size = total;
  if (total == 0) {
    last_result_ = CallClient(ClientCallTable.isc_close_blob, status_, &blob);
    return last_result_;
  }

  int32_t seg = max_seg;
  Callback(PVAR, bcsInitGet, total, seg);
  if (seg < 1) {
    // The column's declared segment size, or 4096 when it cannot be looked up.
    seg = 4096;
    if (PVAR != nullptr) {
      ISC_STATUS_ARRAY status{};
      ISC_BLOB_DESC desc{};
      const std::string relation = VarName(PVAR->relname, PVAR->relname_length);
      const std::string column = VarName(PVAR->sqlname, PVAR->sqlname_length);
      if (CallClient(ClientCallTable.isc_blob_lookup_desc, status, DBHandle, TRHandle,
                     reinterpret_cast<const ISC_UCHAR*>(relation.c_str()),
                     reinterpret_cast<const ISC_UCHAR*>(column.c_str()), &desc,
                     static_cast<ISC_UCHAR*>(nullptr)) == 0 &&
          desc.blob_desc_segment_size > 0) {
        seg = desc.blob_desc_segment_size;
      }
    }
  }
  // A callback can make the read segments smaller, never larger.
  if (seg > 0 && seg < max_seg) {
    max_seg = seg;
  }
  // One read asks for at most what its 16-bit length can say.
  max_seg = std::clamp(max_seg, 1, kMaxSegment);

  int32_t capacity = total == max_seg ? total : CheckedAdd(total, max_seg);
  if (Node->Capacity < capacity) {
    ReallocBuffer(Node->Buffer, Node->Capacity, capacity);
    Node->Capacity = capacity;
  }
  capacity = Node->Capacity;
  char* const buffer = static_cast<char*>(Node->Buffer);
  int32_t stored = 0;
  ISC_STATUS read_status = 0;
  auto read_one = [&]() {
    // Never past the buffer, whatever the server's answer says.
    const int32_t room = capacity - stored - (blr ? 2 : 0);
    if (room <= 0) {
      read_status = isc_segstr_eof;
      return;
    }
    unsigned short actual = 0;
    read_status = CallClient(ClientCallTable.isc_get_segment, status_, &blob, &actual,
                             static_cast<unsigned short>(std::min(max_seg, room)),
                             buffer + stored);
    stored += actual;
    if (blr && (read_status == 0 || (read_status == isc_segstr_eof && actual != 0))) {
      buffer[stored++] = '\r';
      buffer[stored++] = '\n';
    }
    int32_t ignored = max_seg;
    Callback(PVAR, bcsRefreshGet, stored, ignored);
  };
  if (max_seg == total) {
    read_one();
  } else {
    do {
      read_one();
    } while (read_status == 0 || read_status == isc_segment);
  }

  Callback(PVAR, bcsFinalGet, stored, seg);
  last_result_ = CallClient(ClientCallTable.isc_close_blob, status_, &blob);
  const ISC_STATUS result = read_status == 0 ? last_result_ : read_status;
  if (total < Node->Capacity) {
    ReallocBuffer(Node->Buffer, Node->Capacity, total);
    Node->Capacity = total;
  }
  return result;
}

ISC_STATUS TIB_SessionBase::ReadBlobToEnd(isc_blob_handle& blob, bool blr, TIB_BlobCacheNode* Node) {
  // The node's buffer as it is, grown by doubling when a read finds it full.
  const int32_t original = Node->Capacity;
  int32_t capacity = Node->Capacity;
  int32_t stored = 0;
  ISC_STATUS read_status = 0;
  do {
    const int32_t reserve = blr ? 2 : 0;  // CR LF after every segment
    if (capacity - stored - reserve < 1) {
      const int32_t grown = std::max(CheckedAdd(capacity, capacity), 8192);
      ReallocBuffer(Node->Buffer, Node->Capacity, grown);
      Node->Capacity = capacity = grown;
    }
    char* const buffer = static_cast<char*>(Node->Buffer);
    const int32_t room = std::min(capacity - stored - reserve, kMaxSegment);
    unsigned short actual = 0;
    read_status = CallClient(ClientCallTable.isc_get_segment, status_, &blob, &actual,
                             static_cast<unsigned short>(room), buffer + stored);
    stored += std::min<int32_t>(actual, room);
    if (blr && (read_status == 0 || (read_status == isc_segstr_eof && actual != 0))) {
      buffer[stored++] = '\r';
      buffer[stored++] = '\n';
    }
  } while (read_status == 0 || read_status == isc_segment);

  last_result_ = CallClient(ClientCallTable.isc_close_blob, status_, &blob);
  // Normally isc_segstr_eof, the end of the value; otherwise the failed read's status.
  Node->Size = stored;
  // Trimmed to the value; an empty value leaves the buffer as it was.
  const int32_t keep = stored > 0 ? stored : original;
  if (keep < Node->Capacity) {
    ReallocBuffer(Node->Buffer, Node->Capacity, keep);
    Node->Capacity = keep;
  }
  return read_status;
}

ISC_STATUS TIB_SessionBase::WriteBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                      const XSQLVAR* PVAR, TIB_BlobCacheNode* Node,
                                      const TIB_BlobCallbackEvent& Callback) {
  isc_blob_handle blob = 0;
  last_result_ = CallClient(ClientCallTable.isc_create_blob2, status_, DBHandle, TRHandle, &blob,
                            &Node->BlobId, short{0}, static_cast<const ISC_SCHAR*>(nullptr));
  if (last_result_ != 0) {
    return last_result_;
  }
  const int32_t size = std::max(0, std::min(Node->Size, Node->Capacity));
  const char* const buffer = static_cast<const char*>(Node->Buffer);
  int32_t seg = std::min(size, kMaxSegment);
  // A handler's segment size is kept within what one write can carry.
  auto call = [&](TIB_BlobCallbackStatus status, int32_t bytes) {
    if (Callback) {
      Callback(PVAR, status, bytes, seg);
      seg = std::clamp(seg, 1, kMaxSegment);
    }
  };
  ISC_STATUS write_status = 0;
  if (seg != 0) {
    call(bcsInitPut, size);
    int32_t sent = 0;
    while (size - sent >= seg) {
      write_status = CallClient(ClientCallTable.isc_put_segment, status_, &blob,
                                static_cast<unsigned short>(seg), buffer + sent);
      if (write_status != 0) {
        break;
      }
      sent += seg;
      call(bcsRefreshPut, sent);
    }
    if (write_status == 0 && sent < size) {
      write_status = CallClient(ClientCallTable.isc_put_segment, status_, &blob,
                                static_cast<unsigned short>(size - sent), buffer + sent);
      if (write_status == 0) {
        call(bcsRefreshPut, size);
      }
    }
    if (Callback) {
      int32_t final_seg = seg;
      Callback(PVAR, bcsFinalPut, size, final_seg);
    }
  }
  last_result_ = CallClient(ClientCallTable.isc_close_blob, status_, &blob);
  return write_status != 0 ? write_status : last_result_;
}

// --- Array transfers ---------------------------------------------------------------------

int32_t ArraySliceSize(const ISC_ARRAY_DESC* Desc) {
  if (Desc == nullptr) {
    return 0;
  }
  int32_t element = Desc->array_desc_length;
  if (Desc->array_desc_dtype == blr_varying || Desc->array_desc_dtype == blr_varying2) {
    element = CheckedAdd(element, 2);
  }
  int32_t size = 1;
  const int dims = std::clamp<int>(Desc->array_desc_dimensions, 0, 16);
  for (int i = 0; i < dims; ++i) {
    const ISC_ARRAY_BOUND& b = Desc->array_desc_bounds[i];
    const int32_t extent =
        CheckedAdd(CheckedSub(int32_t{b.array_bound_upper}, int32_t{b.array_bound_lower}), 1);
    size = CheckedMul(size, extent);
  }
  return CheckedMul(size, element);
}

ISC_STATUS TIB_SessionBase::ReadArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                      const XSQLVAR*, const ISC_ARRAY_DESC* Desc,
                                      TIB_BlobCacheNode* Node) {
  Node->Size = ArraySliceSize(Desc);
  if (Node->Capacity < Node->Size) {
    ReallocBuffer(Node->Buffer, Node->Capacity, Node->Size);
    Node->Capacity = Node->Size;
  }
  last_result_ = CallClient(ClientCallTable.isc_array_get_slice, status_, DBHandle, TRHandle,
                            &Node->BlobId, Desc, Node->Buffer, &Node->Size);
  return last_result_;
}

ISC_STATUS TIB_SessionBase::WriteArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle,
                                       XSQLVAR* PVAR, const ISC_ARRAY_DESC* Desc,
                                       TIB_BlobCacheNode* Node) {
  if (Node->Size != 0) {
    // The slice the server reads is the node's data, never more than the buffer holds.
    ISC_LONG length = std::min(Node->Size, Node->Capacity);
    last_result_ = CallClient(ClientCallTable.isc_array_put_slice, status_, DBHandle, TRHandle,
                              &Node->BlobId, Desc, Node->Buffer, &length);
    return last_result_;
  }
  // An empty array is stored as NULL.
  if (PVAR != nullptr) {
    if (PVAR->sqldata != nullptr && PVAR->sqllen > 0) {
      std::memset(PVAR->sqldata, 0, static_cast<size_t>(PVAR->sqllen));
    }
    if (PVAR->sqlind != nullptr) {
      *PVAR->sqlind = -1;
    }
  }
  return 0;
}

// --- Rows affected -----------------------------------------------------------------------

void GetRowsAffected(isc_stmt_handle* StatementHandle, TIB_RowsAffected& Counts) {
  Counts = TIB_RowsAffected{};
  if (StatementHandle == nullptr || *StatementHandle == 0 ||
      ClientCallTable.isc_dsql_sql_info == nullptr) {
    return;
  }
  char items[11] = {};
  items[0] = static_cast<char>(isc_info_sql_records);
  char answer[256] = {};
  ISC_STATUS_ARRAY status{};
  if (CallClient(ClientCallTable.isc_dsql_sql_info, status, StatementHandle,
                 static_cast<short>(sizeof items), items, static_cast<short>(sizeof answer),
                 answer) != 0 ||
      static_cast<uint8_t>(answer[0]) != isc_info_sql_records) {
    return;
  }
  const int32_t length = VaxInteger(answer + 1, 2);
  if (length < 0 || length > 255) {
    throw EIB_Error(IB_Message(TIB_Msg::RowsAffectedBuffer));
  }
  // The items lie between the fourth byte and the end the length gives (and never
  // beyond the answer buffer).
  const size_t end = std::min<size_t>(3 + static_cast<size_t>(length), sizeof answer);
  size_t p = 3;
  while (true) {
    if (p >= end) {
      throw EIB_Error(IB_Message(TIB_Msg::RowsAffectedBuffer2));
    }
    const uint8_t code = static_cast<uint8_t>(answer[p]);
    if (code == isc_info_end) {
      break;
    }
    if (p + 3 > end) {
      throw EIB_Error(IB_Message(TIB_Msg::RowsAffectedBuffer2));
    }
    const int32_t n = VaxInteger(answer + p + 1, 2);
    if (n < 0 || n > 4 || p + 3 + static_cast<size_t>(n) > end) {
      throw EIB_Error(IB_Message(TIB_Msg::RowsAffectedBuffer2));
    }
    const int32_t value = VaxInteger(answer + p + 3, n);
    switch (code) {
      case isc_info_req_select_count: Counts.SelectCount = value; break;
      case isc_info_req_insert_count: Counts.InsertCount = value; break;
      case isc_info_req_update_count: Counts.UpdateCount = value; break;
      case isc_info_req_delete_count: Counts.DeleteCount = value; break;
      default: throw EIB_Error(IB_Message(TIB_Msg::RowsAffectedBuffer2));
    }
    p += 3 + static_cast<size_t>(n);
  }
}

// --- Database creation -------------------------------------------------------------------

namespace {

// A string literal: the text between apostrophes, each apostrophe in it doubled.
AnsiString Literal(const AnsiString& text) {
  AnsiString quoted = "'";
  for (char c : text) {
    quoted += c;
    if (c == '\'') {
      quoted += '\'';
    }
  }
  return quoted + "'";
}

bool IsCharSetName(const AnsiString& name) {
  if (name.empty() || name.size() > 63) {
    return false;
  }
  return std::all_of(name.begin(), name.end(), [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
           c == '_' || c == '$';
  });
}

}  // namespace

AnsiString CreateDatabaseSQL(const AnsiString& Path, const AnsiString& User,
                             const AnsiString& Password, uint16_t PageSize,
                             const AnsiString& CharSet) {
  // The file name goes to the library as the file system spells it (UTF-8).
  AnsiString text = "CREATE DATABASE " + Literal(AnsiToUtf8(Path));
  if (!User.empty()) {
    text += " USER " + Literal(User);
  }
  if (!Password.empty()) {
    text += " PASSWORD " + Literal(Password);
  }
  if (PageSize >= 1024) {
    // Computed in 32 bits: sizes from 65024 up round to 65536.
    const int32_t rounded = (int32_t{PageSize} + 512) / 1024 * 1024;
    text += " PAGE_SIZE = " + IntToStr(rounded);
  }
  if (!CharSet.empty()) {
    if (!IsCharSetName(CharSet)) {
      // Goes into the statement unquoted, so it must be a plain name.
      throw EIB_Error(Format(CZ("Chybná znaková sada: %s"), {CharSet}));
    }
    text += " DEFAULT CHARACTER SET " + CharSet;
  }
  return text;
}

void TIB_SessionBase::CreateDatabase(const AnsiString& Path, const AnsiString& User,
                                     const AnsiString& Password, uint16_t PageSize,
                                     const AnsiString& CharSet, uint16_t Dialect) {
  AnsiString text;
  try {
    text = CreateDatabaseSQL(Path, User, Password, PageSize, CharSet);
  } catch (const EIB_Error& e) {
    throw EIB_Error(this, e.Message());
  }
  isc_db_handle db = 0;
  isc_tr_handle tr = 0;
  if (ClientCallTable.isc_dsql_execute_immediate == nullptr) {
    EnsureClientAPI();
  }
  if (ClientCallTable.isc_dsql_execute_immediate == nullptr) {
    // No client library: the error handling says so.
    last_result_ = -1;
    HandleException(this);
    return;
  }
  last_result_ = CallClient(ClientCallTable.isc_dsql_execute_immediate, status_, &db, &tr,
                            static_cast<unsigned short>(text.size()), text.c_str(), Dialect,
                            static_cast<const XSQLDA*>(nullptr));
  if (last_result_ == 0) {
    // The new database is left detached.
    last_result_ = CallClient(ClientCallTable.isc_detach_database, status_, &db);
  }
  if (last_result_ != 0) {
    HandleException(this);
  }
}

}  // namespace pelvar
