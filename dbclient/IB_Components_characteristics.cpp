// The connection's server facts (read once per attachment), the check that an
// attachment is alive, the lost mark, the parameter-order probe and the identifiers
// for the connection's dialect.
#include <atomic>
#include <cctype>
#include <cstring>
#include <vector>

#include "dbclient/IB_Components.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

[[noreturn]] void RaiseConnectionError(TComponent* Sender, TIB_Msg Msg) {
  throw EIB_ConnectionError(Sender, IB_Message(Msg));
}

// An integer of Len bytes as the information calls write it.
int32_t VaxInteger(const char* P, int32_t Len) {
  if (Len <= 0) {
    return 0;
  }
  return static_cast<int32_t>(
      CallClient(ClientCallTable.isc_vax_integer, P, static_cast<short>(Len)));
}

// The counted string at Index (0 = the first) of a value that starts with a count byte.
AnsiString CountedString(const char* Value, int32_t Len, int32_t Index) {
  int32_t pos = 1;
  for (int32_t i = 0; pos < Len; ++i) {
    const auto n = static_cast<int32_t>(static_cast<uint8_t>(Value[pos]));
    if (pos + 1 + n > Len) {
      return {};
    }
    if (i == Index) {
      return AnsiString(Value + pos + 1, static_cast<size_t>(n));
    }
    pos += 1 + n;
  }
  return {};
}

bool IsDigit(char C) { return C >= '0' && C <= '9'; }

int32_t ReadNumber(const AnsiString& S, size_t& Pos) {
  int32_t n = 0;
  while (Pos < S.size() && IsDigit(S[Pos])) {
    n = CheckedAdd(CheckedMul(n, int32_t{10}), static_cast<int32_t>(S[Pos] - '0'));
    ++Pos;
  }
  return n;
}

// Rolls back a transaction and drops a statement handle when they go out of scope.
struct TProbeHandles {
  TIB_Session* session;
  isc_tr_handle tr = 0;
  isc_stmt_handle stmt = 0;
  ~TProbeHandles() {
    ISC_STATUS_ARRAY status{};
    if (stmt != 0) {
      CallClient(ClientCallTable.isc_dsql_free_statement, status, &stmt,
                 static_cast<unsigned short>(DSQL_drop));
    }
    if (tr != 0) {
      CallClient(ClientCallTable.isc_rollback_transaction, status, &tr);
    }
  }
};

}  // namespace

void ParseServerVersion(TIB_ConnectCharacteristics& C) {
  C.dbServer_Platform.clear();
  C.dbServer_Kind.clear();
  C.dbServer_Name.clear();
  C.dbServer_Major = C.dbServer_Minor = C.dbServer_Release = C.dbServer_Build = 0;
  const AnsiString& s = C.dbServer_Version;
  const size_t dash = s.find('-');
  C.dbServer_Platform = s.substr(0, dash);
  size_t pos = dash == AnsiString::npos ? s.size() : dash + 1;
  const size_t kind_start = pos;
  while (pos < s.size() && !IsDigit(s[pos])) {
    ++pos;
  }
  C.dbServer_Kind = s.substr(kind_start, pos - kind_start);
  C.dbServer_Major = ReadNumber(s, pos);
  if (pos < s.size() && s[pos] == '.') {
    ++pos;
    C.dbServer_Minor = ReadNumber(s, pos);
    if (pos < s.size() && s[pos] == '.') {
      ++pos;
      C.dbServer_Release = ReadNumber(s, pos);
      if (pos < s.size() && s[pos] == '.') {
        ++pos;
        C.dbServer_Build = ReadNumber(s, pos);
      } else {
        C.dbServer_Build = C.dbServer_Release;
        C.dbServer_Release = 0;
      }
    }
  }
  while (pos < s.size() && s[pos] == ' ') {
    ++pos;
  }
  C.dbServer_Name = s.substr(pos);
}

void TIB_Connection::API_DatabaseInfo(const char* Items, int16_t ItemsHigh, char* Buffer,
                                      int16_t BufferHigh) {
  GetIB_Session()->API_Call(this, ClientCallTable.isc_database_info, &db_handle_,
                            static_cast<short>(ItemsHigh + 1), Items,
                            static_cast<short>(BufferHigh + 1), Buffer);
}

void TIB_Connection::GetConnectCharacteristics(TIB_ConnectCharacteristics& C) {
  C = LoadedCharacteristics();
}

const TIB_ConnectCharacteristics& TIB_Connection::LoadedCharacteristics() {
  if (!GetConnected()) {
    RaiseConnectionError(this, TIB_Msg::CannotGetCharacteristics);
  }
  if (!facts_loaded_) {
    LoadConnectCharacteristics();
  }
  return characteristics_;
}

void TIB_Connection::LoadConnectCharacteristics() {
  static const uint8_t kItems[] = {
      isc_info_allocation,       isc_info_base_level,        isc_info_db_id,
      isc_info_implementation,   isc_info_no_reserve,        isc_info_forced_writes,
      isc_info_ods_minor_version, isc_info_ods_version,      isc_info_page_size,
      isc_info_isc_version,      isc_info_firebird_version,  isc_info_sweep_interval,
      isc_info_set_page_buffers, isc_info_db_sql_dialect,    isc_info_db_read_only,
      isc_info_db_size_in_pages, isc_info_end};
  char items[256] = {};
  std::memcpy(items, kItems, sizeof kItems);
  TIB_ConnectCharacteristics& c = characteristics_;
  // Identifiers made for the former attachment may follow another dialect.
  for (auto& memo : ident_memo_) memo.clear();
  static std::atomic<uint64_t> generations{0};
  ident_generation_ = ++generations;
  c.dbSQL_Dialect = 0;
  c.dbRead_Only = 0;
  c.dbSize_In_Pages = 0;
  std::vector<char> buffer(4096, '\0');
  API_DatabaseInfo(items, static_cast<int16_t>(sizeof items - 1), buffer.data(),
                   static_cast<int16_t>(buffer.size() - 1));
  c.dbServer_Version_Count = 0;
  c.dbServer_Version.clear();
  const auto size = static_cast<int32_t>(buffer.size());
  bool truncated = false;
  for (int32_t pos = 0; pos < size;) {
    const auto item = static_cast<uint8_t>(buffer[static_cast<size_t>(pos)]);
    if (item == isc_info_end) {
      break;
    }
    if (item == isc_info_truncated || pos + 3 > size) {
      truncated = true;
      break;
    }
    const int32_t len = VaxInteger(buffer.data() + pos + 1, 2);
    if (len < 0 || pos + 3 + len > size) {
      truncated = true;
      break;
    }
    const char* v = buffer.data() + pos + 3;
    auto byte = [v, len](int32_t i) {
      return i < len ? static_cast<uint8_t>(v[i]) : uint8_t{0};
    };
    switch (item) {
      case isc_info_allocation:
        c.dbAllocation = VaxInteger(v, len);
        break;
      case isc_info_base_level:
        c.dbBase_Level[0] = byte(0);
        c.dbBase_Level[1] = byte(1);
        break;
      case isc_info_db_id:
        c.dbId_Count = byte(0);
        c.dbFile_Name = CountedString(v, len, 0);
        c.dbSite_Name = CountedString(v, len, 1);
        break;
      case isc_info_implementation:
        for (int32_t i = 0; i < 3; ++i) c.dbImplementation[i] = byte(i);
        break;
      case isc_info_no_reserve:
        c.dbNo_Reserve = static_cast<uint8_t>(VaxInteger(v, len));
        break;
      case isc_info_forced_writes:
        c.dbForced_Writes = static_cast<uint8_t>(VaxInteger(v, len));
        break;
      case isc_info_ods_minor_version:
        c.dbODS_Minor_Version = static_cast<uint16_t>(VaxInteger(v, len));
        break;
      case isc_info_ods_version:
        c.dbODS_Version = static_cast<uint16_t>(VaxInteger(v, len));
        break;
      case isc_info_page_size:
        c.dbPage_Size = static_cast<uint16_t>(VaxInteger(v, len));
        break;
      case isc_info_isc_version:
        c.dbVersion_Count = byte(0);
        c.dbVersion = CountedString(v, len, 0);
        break;
      case isc_info_firebird_version:
        c.dbServer_Version_Count = byte(0);
        c.dbServer_Version = CountedString(v, len, 0);
        break;
      case isc_info_sweep_interval:
        c.dbSweep_Interval = VaxInteger(v, len);
        break;
      case isc_info_set_page_buffers:
        c.dbPage_Buffers = VaxInteger(v, len);
        break;
      case isc_info_db_sql_dialect:
        c.dbSQL_Dialect = VaxInteger(v, len);
        break;
      case isc_info_db_read_only:
        c.dbRead_Only = static_cast<uint8_t>(VaxInteger(v, len));
        break;
      case isc_info_db_size_in_pages:
        c.dbSize_In_Pages = VaxInteger(v, len);
        break;
      default:
        break;
    }
    pos += 3 + len;
  }
  ParseServerVersion(c);
  if (truncated) {
    throw EIB_ConnectionError(this, IB_Message(TIB_Msg::DbInfoTruncated));
  }
  facts_loaded_ = true;
}

bool TIB_Connection::CheckConnection() {
  if (!GetConnected()) {
    return true;
  }
  static const char items[] = {static_cast<char>(isc_info_forced_writes),
                               static_cast<char>(isc_info_end)};
  std::vector<char> buffer(1024, '\0');
  TIB_Session* session = GetIB_Session();
  ISC_STATUS result = -1;
  if (ClientCallTable.isc_database_info != nullptr) {
    result = CallClient(ClientCallTable.isc_database_info, session->StatusVector(), &db_handle_,
                        static_cast<short>(sizeof items), items,
                        static_cast<short>(buffer.size()), buffer.data());
  }
  session->SetLastResult(result);
  if (result == 0) {
    return true;
  }
  if (IsLostConnectionCode(static_cast<int32_t>(session->StatusVector()[1]))) {
    MarkConnectionLost();
  }
  return false;
}

void TIB_Connection::MarkConnectionLost() {
  lost_ = true;
  for (TIB_Transaction* tr : transactions_) {
    tr->MarkConnectionLost();
  }
}

void TIB_Connection::MakeIdent(const AnsiString& S, AnsiString& R) { R = DialectIdent(false, S); }

void TIB_Connection::MakeStoredIdent(const AnsiString& S, AnsiString& R) { R = DialectIdent(true, S); }

uint64_t TIB_Connection::IdentStamp() {
  LoadedCharacteristics();
  return ident_generation_ * 2 + (ReservedWordCheck() ? 1 : 0);
}

const AnsiString& TIB_Connection::DialectIdent(bool Stored, const AnsiString& S) {
  LoadedCharacteristics();
  // The columns of every row ask for the same few names over and over: the answers
  // are kept for the attachment's dialect and the reserved-word rule they were made under.
  const bool check = ReservedWordCheck();
  if (check != ident_memo_check_) {
    for (auto& memo : ident_memo_) memo.clear();
    ident_memo_check_ = check;
  }
  auto& memo = ident_memo_[Stored ? 1 : 0];
  auto it = memo.find(S);
  if (it != memo.end()) return it->second;
  const auto dialect = static_cast<uint16_t>(GetSQLDialect());
  AnsiString r = Stored ? StoredIdentForDialect(dialect, S) : IdentForDialect(dialect, S);
  if (memo.size() >= kIdentMemoSize) memo.clear();
  return memo.emplace(S, std::move(r)).first->second;
}

bool TIB_Connection::ProbeOldParameterOrder() {
  if (!GetConnected()) {
    return true;
  }
  TIB_ConnectCharacteristics c;
  GetConnectCharacteristics(c);
  if (c.dbODS_Version <= 9) {
    return true;
  }
  // The sub-select's parameter comes first in the text: a server that describes the
  // outer query's parameters first answers the relation name (text) first.
  static const char kSQL[] =
      "/* OldParameterOrder test query */\r\n"
      "SELECT R.RDB$RELATION_NAME,\r\n"
      " (SELECT F.RDB$FIELD_NAME\r\n"
      "  FROM RDB$RELATION_FIELDS F\r\n"
      "  WHERE F.RDB$RELATION_NAME = R.RDB$RELATION_NAME\r\n"
      "    AND F.RDB$FIELD_POSITION = ? ) AS TESTFIELD\r\n"
      "FROM RDB$RELATIONS R\r\n"
      "WHERE R.RDB$RELATION_NAME = ? ";
  TIB_Session* session = GetIB_Session();
  // A short read-only transaction of its own, rolled back afterwards: the probe only
  // prepares, and leaves nothing open on the attachment.
  TProbeHandles h{session};
  static const char tpb[] = {static_cast<char>(isc_tpb_version3),
                             static_cast<char>(isc_tpb_read),
                             static_cast<char>(isc_tpb_read_committed),
                             static_cast<char>(isc_tpb_rec_version),
                             static_cast<char>(isc_tpb_nowait)};
  ISC_TEB teb{&db_handle_, static_cast<ISC_LONG>(sizeof tpb), tpb};
  session->API_Call(this, ClientCallTable.isc_start_multiple, &h.tr, short{1}, &teb);
  session->API_Call(this, ClientCallTable.isc_dsql_allocate_statement, &db_handle_, &h.stmt);
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  session->API_Call(this, ClientCallTable.isc_dsql_prepare, &h.tr, &h.stmt,
                    static_cast<unsigned short>(0), kSQL, dialect,
                    static_cast<XSQLDA*>(nullptr));
  std::vector<char> da_bytes(static_cast<size_t>(XSQLDA_LENGTH(2)), '\0');
  auto* da = reinterpret_cast<XSQLDA*>(da_bytes.data());
  da->version = SQLDA_VERSION1;
  da->sqln = 2;
  session->API_Call(this, ClientCallTable.isc_dsql_describe_bind, &h.stmt,
                    static_cast<unsigned short>(SQLDA_VERSION1), da);
  const int16_t type = da->sqld > 0 ? static_cast<int16_t>(da->sqlvar[0].sqltype & ~1) : 0;
  return type == SQL_TEXT;
}

}  // namespace pelvar
