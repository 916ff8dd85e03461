// TIB_Row: layout after a describe, the column factory, parameter naming, relation
// aliases and the look-up of columns.
#include <algorithm>
#include <cstring>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_columns.h"
#include "dbengine/IB_Components_rows.h"
#include "dbengine/IB_Parse.h"
#include "platform/checked.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// Statement-information items of the relation-alias request.
constexpr char kInfoSqlDescribeVars = 7;
constexpr char kInfoSqlDescribeEnd = 8;
constexpr char kInfoSqlSqldaSeq = 9;
constexpr char kInfoSqlRelationAlias = 25;
constexpr int32_t kInfoBufferSize = 32760;

AnsiString NameOf(const char (&Buf)[32], int16_t Length) {
  if (Length <= 0) return {};
  return AnsiString(Buf, ::strnlen(Buf, std::min<size_t>(32, static_cast<size_t>(Length))));
}

// The 32-byte array up to its first zero byte, whatever the length field says.
AnsiString RawName(const char (&Buf)[32]) { return AnsiString(Buf, ::strnlen(Buf, 32)); }

void PutName(char (&Buf)[32], int16_t& Length, const AnsiString& Value) {
  std::memset(Buf, 0, sizeof Buf);
  const size_t n = std::min<size_t>(32, Value.size());
  std::memcpy(Buf, Value.data(), n);
  Length = static_cast<int16_t>(n);
}

bool StartsWith(const AnsiString& S, const char* Prefix) {
  return S.compare(0, std::strlen(Prefix), Prefix) == 0;
}

int32_t VaxInteger(const unsigned char* P, int32_t Length) {
  uint32_t v = 0;
  for (int32_t i = 0; i < Length && i < 4; ++i) v |= static_cast<uint32_t>(P[i]) << (8 * i);
  if (Length == 2) return static_cast<int16_t>(v);
  return static_cast<int32_t>(v);
}

}  // namespace

bool SQLTypesCompatible(int16_t A, int16_t B) {
  auto norm = [](int16_t t) {
    t = BaseSQLType(t);
    if (t == SQL_SHORT) return SQL_LONG;
    if (t == SQL_DOUBLE) return SQL_FLOAT;
    return t;
  };
  return norm(A) == norm(B);
}

AnsiString TIB_RowOwner::MakeStoredIdent(const AnsiString& Name) const {
  return StoredIdentForDialect(SQLDialect(), Name);
}

void TIB_RowOwner::LoadBlobNode(XSQLVAR*, const ISC_ARRAY_DESC*, TIB_BlobCacheNode* Node) {
  if (Node == nullptr) throw EIB_Error(this, IB_Message(TIB_Msg::BlobNodeUnassigned));
  throw EIB_StatementError(this, IB_Message(TIB_Msg::NotImplemented));
}

void TIB_RowOwner::StoreBlobNode(XSQLVAR*, const ISC_ARRAY_DESC*, TIB_BlobCacheNode* Node) {
  if (Node == nullptr) throw EIB_Error(this, IB_Message(TIB_Msg::BlobNodeUnassigned));
  throw EIB_StatementError(this, IB_Message(TIB_Msg::NotImplemented));
}

// --- Construction and layout ---------------------------------------------------------------------

TIB_Row::TIB_Row(TIB_RowOwner* Statement, uint8_t RowType)
    : statement_(Statement), row_type_(RowType), relation_names_(std::make_unique<TIB_StringList>()) {
  relation_names_->SetDuplicates(dupIgnore);
  relation_names_->SetSorted(true);
  row_state_ = RowType == rtParams ? rsLoaded : rsEmpty;
}

TIB_Row::~TIB_Row() {
  FreeBlobNodeChain(own_chain_);
  FreeLayout();
}

void TIB_Row::FreeLayout() {
  if (blob_nodes_) {
    for (int32_t i = 0; i < blob_count_ + array_count_; ++i) FreeBlobNodeBuffer(&blob_nodes_[i]);
  }
  blob_nodes_.reset();
  blob_node_index_.clear();
  buffer_order_kept_ = false;
  buffer_order_.clear();
  columns_.clear();
  blob_columns_.clear();
  array_columns_.clear();
  calculated_columns_.clear();
  changed_columns_.clear();
  hidden_param_count_ = 0;
  blob_count_ = 0;
  array_count_ = 0;
  calculated_count_ = 0;
  buffer_size_ = 0;
  last_found_ = -1;
  if (relation_names_) relation_names_->Clear();
  xsqlda_.reset();
  row_buffer_.reset();
  old_buffer_.reset();
}

void TIB_Row::SetColumnCount(int16_t N) {
  FreeLayout();
  try {
    int32_t calc = 0;
    if (N > 0 && row_type_ == rtFields && (!managed_ || calculate_when_managed_)) {
      const TStrings* list = statement_->CalculatedFieldList();
      calc = list ? list->Count() : 0;
    }
    const int32_t total = CheckedAdd(static_cast<int32_t>(N), calc);
    if (total > INT16_MAX) RaiseIntOverflow();
    calculated_count_ = calc;
    const int32_t bytes = XSQLDA_LENGTH(static_cast<int16_t>(total));
    xsqlda_.reset(new char[static_cast<size_t>(bytes)]());
    PSQLDA()->version = SQLDA_VERSION1;
    PSQLDA()->sqln = static_cast<int16_t>(total);
    PSQLDA()->sqld = N;
    if (N > 0) {
      statement_->SysDescribeRow(this);
      if (row_type_ == rtParams) MergeParamDefs();
      AllocBlobNodes();
      CreateColumns();
      field_names_made_ = false;
      AllocRowBuffers();
      LayoutBuffers();
      InitBuffers();
    }
  } catch (...) {
    FreeLayout();
    throw;
  }
  if (row_type_ != rtParams) {
    if (row_state_ != rsEmpty) SetRowState(rsEmpty);
  } else if (row_state_ != rsLoaded) {
    SetRowState(rsLoaded);
  }
}

void TIB_Row::AllocBlobNodes() {
  const int32_t n = PSQLDA()->sqln;
  int32_t blobs = 0, arrays = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int16_t t = BaseSQLType(Var(i)->sqltype);
    if (t == SQL_BLOB) ++blobs;
    if (t == SQL_ARRAY) ++arrays;
  }
  blob_count_ = blobs;
  array_count_ = arrays;
  if (blobs + arrays > 0) blob_nodes_.reset(new TIB_BlobCacheNode[static_cast<size_t>(blobs + arrays)]());
  blob_node_index_.assign(static_cast<size_t>(n), -1);
  int32_t next = 0;
  for (int32_t i = 0; i < n; ++i) {
    const int16_t t = BaseSQLType(Var(i)->sqltype);
    if (t == SQL_BLOB || t == SQL_ARRAY) blob_node_index_[static_cast<size_t>(i)] = next++;
  }
}

void TIB_Row::MergeParamDefs() {
  if (!statement_->BindSameNamedParams()) return;
  const int32_t n = PSQLDA()->sqld;
  for (int32_t i = 0; i < n; ++i) {
    for (int32_t j = i + 1; j < n; ++j) {
      XSQLVAR& a = *Var(i);
      XSQLVAR& b = *Var(j);
      if (!AnsiSameText(RawName(a.relname), RawName(b.relname)) ||
          !AnsiSameText(RawName(a.aliasname), RawName(b.aliasname)) ||
          !SQLTypesCompatible(a.sqltype, b.sqltype)) {
        continue;
      }
      if (a.sqllen < b.sqllen) {
        a = b;
      } else if (b.sqllen < a.sqllen) {
        b = a;
      }
    }
  }
}

void TIB_Row::NameParams() {
  if (!PSQLDA()) return;
  const TStrings* names = statement_->ParamNameList();
  const int32_t count = names ? names->Count() : 0;
  const int32_t extra = statement_->ExtraParamCount();
  const uint16_t dialect = statement_->SQLDialect();
  for (int32_t i = 0; i < PSQLDA()->sqld; ++i) {
    XSQLVAR& v = *Var(i);
    std::memset(v.relname, 0, sizeof v.relname);
    v.relname_length = -1;
    std::memset(v.sqlname, 0, sizeof v.sqlname);
    v.sqlname_length = -1;
    v.aliasname_length = 0;
    AnsiString name;
    if (i < count) {
      name = Trim(names->Strings(i));
    } else if (extra > 0 && i - extra >= 0 && i - extra < count) {
      name = Trim(names->Strings(i - extra));
    } else {
      name = "PRM__" + IntToStr(i);
    }
    const int32_t dot = CharPosOutsideQuotes('.', name);
    if (dot > 0) {
      AnsiString rel = Trim(name.substr(0, static_cast<size_t>(dot - 1)));
      if (dialect < 3 || rel.find('"') == AnsiString::npos) rel = AnsiUpperCase(rel);
      rel = StripQuotes(rel);
      PutName(v.relname, v.relname_length, rel);
      name = Trim(name.substr(static_cast<size_t>(dot)));
    }
    const AnsiString head = AnsiUpperCase(name.substr(0, 5));
    if (head == "OLD_\"" || head == "OLD.\"") {
      name = "\"" + name.substr(0, 4) + name.substr(5);
    } else if (dialect <= 2 || name.find('"') == AnsiString::npos) {
      name = AnsiUpperCase(name);
    }
    name = StripQuotes(name);
    if (AnsiSameText(name, "DB_KEY")) name = "RDB$DB_KEY";
    PutName(v.aliasname, v.aliasname_length, name);
  }
}

AnsiString TIB_Row::ParamLookupName(const XSQLVAR& V) const {
  AnsiString name;
  const AnsiString rel = NameOf(V.relname, V.relname_length);
  if (!rel.empty()) name = statement_->MakeStoredIdent(rel) + ".";
  return name + statement_->MakeStoredIdent(NameOf(V.aliasname, V.aliasname_length));
}

void TIB_Row::CreateColumns() {
  const int32_t sqld = PSQLDA()->sqld;
  const bool bind = row_type_ == rtParams && statement_->BindSameNamedParams();
  for (int32_t i = 0; i < sqld; ++i) {
    XSQLVAR* v = Var(i);
    if (bind && NameOf(v->relname, v->relname_length) != "OLD") {
      last_found_ = -1;
      TIB_Column* found = nullptr;
      if (FindColumn(ParamLookupName(*v), found) && SQLTypesCompatible(found->var_->sqltype, v->sqltype)) {
        continue;
      }
    }
    AddColumn(static_cast<int16_t>(i), v);
  }
  const TStrings* calc = statement_->CalculatedFieldList();
  for (int32_t k = sqld; k < PSQLDA()->sqln; ++k) {
    ParseXSQLVARDef(calc->Strings(k - sqld), statement_->SQLDialect(), *Var(k));
    AddColumn(static_cast<int16_t>(-(k - sqld) - 1), Var(k));
  }
  RebuildRelationNames();
}

void TIB_Row::RebuildRelationNames() {
  relation_names_->Clear();
  for (auto& c : columns_) {
    AnsiString rel = c->GetRelAlias();
    if (!rel.empty()) relation_names_->Add(rel);
  }
}

void TIB_Row::AddColumn(int16_t FieldNo, XSQLVAR* V) {
  buffer_order_kept_ = false;
  if (columns_.size() >= static_cast<size_t>(INT16_MAX)) RaiseIntOverflow();
  std::unique_ptr<TIB_Column> col;
  if (statement_->OnCreateColumn) {
    statement_->OnCreateColumn(statement_, this, col, V, FieldNo);
  } else {
    col = CreateColumnForVar(FieldNo, V);
  }
  if (!col) throw EIB_Error(statement_, IB_Message(TIB_Msg::MustCreateColumn));
  TIB_Column* raw = col.get();
  const AnsiString alias = StripQuotes(raw->GetAliasName());
  if (row_type_ == rtParams && (StartsWith(alias, "MLNK_") || StartsWith(alias, "QBE_"))) {
    columns_.push_back(std::move(col));
    ++hidden_param_count_;
  } else {
    columns_.insert(columns_.end() - hidden_param_count_, std::move(col));
  }
  if (FieldNo < 0) calculated_columns_.push_back(raw);
  const int16_t t = BaseSQLType(V->sqltype);
  if (t == SQL_BLOB) blob_columns_.push_back(raw);
  if (t == SQL_ARRAY) array_columns_.push_back(raw);
}

std::unique_ptr<TIB_Column> TIB_Row::CreateColumnForVar(int16_t FieldNo, XSQLVAR* V) {
  const int16_t t = BaseSQLType(V->sqltype);
  switch (t) {
    case SQL_DOUBLE:
    case SQL_LONG:
    case SQL_SHORT:
    case SQL_QUAD:
    case SQL_INT64:
      if (V->sqlscale != 0) return std::make_unique<TIB_ColumnNumeric>(this, V, FieldNo);
      break;
    default:
      break;
  }
  switch (t) {
    case SQL_TYPE_TIME: return std::make_unique<TIB_ColumnTime>(this, V, FieldNo);
    case SQL_TYPE_DATE: return std::make_unique<TIB_ColumnDate>(this, V, FieldNo);
    case SQL_INT64: return std::make_unique<TIB_ColumnInt64>(this, V, FieldNo);
    case 590:
    case SQL_BOOLEAN: return std::make_unique<TIB_ColumnBoolean>(this, V, FieldNo);
    case SQL_BLOB:
      if (V->sqlsubtype == 1) return std::make_unique<TIB_ColumnMemo>(this, V, FieldNo);
      if (V->sqlsubtype == 2) return std::make_unique<TIB_ColumnBLR>(this, V, FieldNo);
      return std::make_unique<TIB_ColumnBinary>(this, V, FieldNo);
    case SQL_ARRAY: return std::make_unique<TIB_ColumnArray>(this, V, FieldNo);
    case SQL_QUAD: return std::make_unique<TIB_ColumnQuad>(this, V, FieldNo);
    case SQL_FLOAT: return std::make_unique<TIB_ColumnFloat>(this, V, FieldNo);
    case SQL_LONG: return std::make_unique<TIB_ColumnInteger>(this, V, FieldNo);
    case SQL_SHORT: return std::make_unique<TIB_ColumnSmallInt>(this, V, FieldNo);
    case SQL_TIMESTAMP: return std::make_unique<TIB_ColumnTimeStamp>(this, V, FieldNo);
    case SQL_VARYING: return std::make_unique<TIB_ColumnVarText>(this, V, FieldNo);
    case SQL_TEXT: {
      const AnsiString own = RawName(V->sqlname);
      const AnsiString alias = RawName(V->aliasname);
      if (own == "DB_KEY" || own == "RDB$DB_KEY" ||
          ((alias == "DB_KEY" || alias == "RDB$DB_KEY") && V->sqllen % 8 == 0)) {
        return std::make_unique<TIB_ColumnDB_KEY>(this, V, FieldNo);
      }
      return std::make_unique<TIB_ColumnText>(this, V, FieldNo);
    }
    case SQL_NULL: return std::make_unique<TIB_ColumnText>(this, V, FieldNo);
    case SQL_DOUBLE: return std::make_unique<TIB_ColumnDouble>(this, V, FieldNo);
    default:
      throw EIB_StatementError(statement_,
                               Format(IB_Message(TIB_Msg::UnsupportedColumnType), {static_cast<int>(t)}));
  }
}

void TIB_Row::AllocRowBuffers() {
  int32_t size = 0;
  for (auto& c : columns_) size = CheckedAdd(size, CheckedAdd(c->GetBufferDataSize(), 2));
  buffer_size_ = size;
  if (size > 0) {
    row_buffer_.reset(new char[static_cast<size_t>(size)]());
    old_buffer_.reset(new char[static_cast<size_t>(size)]());
  }
}

void TIB_Row::LayoutBuffers() {
  buffer_order_kept_ = false;
  char* old_cursor = old_buffer_.get();
  char* cursor = row_buffer_.get();
  std::vector<TIB_Column*> by_field(static_cast<size_t>(PSQLDA()->sqld), nullptr);
  for (auto& c : columns_) {
    if (c->field_no_ >= 0 && c->field_no_ < PSQLDA()->sqld) by_field[static_cast<size_t>(c->field_no_)] = c.get();
  }
  auto place = [&](TIB_Column* c) {
    const int32_t size = c->GetBufferDataSize();
    c->SetBufferPointers(cursor, cursor + 2, old_cursor, old_cursor + 2);
    c->var_->sqlind = reinterpret_cast<ISC_SHORT*>(cursor);
    c->var_->sqldata = cursor + 2;
    cursor += 2 + size;
    old_cursor += 2 + size;
  };
  for (TIB_Column* c : by_field) {
    if (c) place(c);
  }
  for (TIB_Column* c : calculated_columns_) place(c);
  BindSameNamedParams();
}

void TIB_Row::BindSameNamedParams() {
  if (row_type_ != rtParams || !statement_->BindSameNamedParams()) return;
  for (int32_t i = 0; i < PSQLDA()->sqld; ++i) {
    XSQLVAR* v = Var(i);
    TIB_Column* c = nullptr;
    if (FindColumn(ParamLookupName(*v), c) && c->var_ != v && SQLTypesCompatible(c->var_->sqltype, v->sqltype)) {
      v->sqlind = c->var_->sqlind;
      v->sqldata = c->var_->sqldata;
    }
  }
}

void TIB_Row::LoadRelationAliases() {
  if (!PSQLDA() || columns_.empty()) return;
  bool done = false;
  isc_stmt_handle* handle = statement_->StatementHandlePtr();
  if (statement_->ServerMajorVersion() >= 2 && handle && *handle != 0 &&
      ClientCallTable.isc_dsql_sql_info != nullptr) {
    static const char items[] = {static_cast<char>(isc_info_sql_select), kInfoSqlDescribeVars,
                                 kInfoSqlSqldaSeq, kInfoSqlRelationAlias, kInfoSqlDescribeEnd};
    std::vector<unsigned char> buf(kInfoBufferSize, 0);
    TIB_SessionBase* session = statement_->CallSession();
    const ISC_STATUS r = CallClient(ClientCallTable.isc_dsql_sql_info, session->StatusVector(), handle,
                                    static_cast<short>(sizeof items), items,
                                    static_cast<short>(kInfoBufferSize), reinterpret_cast<char*>(buf.data()));
    if (r == 0 && buf[0] == isc_info_sql_select && buf[1] == kInfoSqlDescribeVars) {
      const int32_t end = kInfoBufferSize;
      int32_t p = 2;
      auto fits = [&](int32_t n) { return p + n <= end; };
      if (fits(2)) {
        const int32_t len = VaxInteger(&buf[static_cast<size_t>(p)], 2);
        p += 2 + len;
      }
      int32_t seq = 0;
      while (fits(1)) {
        const char item = static_cast<char>(buf[static_cast<size_t>(p++)]);
        if (item == static_cast<char>(isc_info_end)) {
          done = true;
          break;
        }
        if (item == kInfoSqlDescribeEnd) continue;
        if ((item != kInfoSqlSqldaSeq && item != kInfoSqlRelationAlias) || !fits(2)) break;
        const int32_t len = VaxInteger(&buf[static_cast<size_t>(p)], 2);
        p += 2;
        if (len < 0 || !fits(len)) break;
        if (item == kInfoSqlSqldaSeq) {
          seq = VaxInteger(&buf[static_cast<size_t>(p)], len);
        } else {
          TIB_Column* c = nullptr;
          if (FindColumnByFieldNo(static_cast<int16_t>(seq - 1), c)) {
            c->SetRelAlias(AnsiString(reinterpret_cast<const char*>(&buf[static_cast<size_t>(p)]),
                                      static_cast<size_t>(std::min(len, 67))));
          }
        }
        p += len;
      }
    }
  }
  if (!done) {
    for (auto& c : columns_) {
      const AnsiString rel = c->GetRelName();
      c->SetRelAlias(rel.empty() ? AnsiString() : statement_->GetAliasOfRelation(rel));
    }
  }
  RebuildRelationNames();
}

// --- Column access ---------------------------------------------------------------------------------

TIB_Column* TIB_Row::ColumnByIndex(int16_t FieldNo) const {
  for (auto& c : columns_) {
    if (c->field_no_ == FieldNo) return c.get();
  }
  throw EIB_Error(statement_, Format(IB_Message(TIB_Msg::FieldNoNotFound), {static_cast<int>(FieldNo)}));
}

TIB_Column* TIB_Row::GetColumn(int32_t Index) const {
  if (static_cast<uint32_t>(Index) >= columns_.size()) return nullptr;
  return columns_[static_cast<size_t>(Index)].get();
}

TIB_Column* TIB_Row::ColumnByName(const AnsiString& Name) {
  TIB_Column* c = nullptr;
  if (!FindColumn(Name, c)) {
    throw EIB_StatementError(statement_, Format(IB_Message(TIB_Msg::FieldNameNotFound), {Name}));
  }
  return c;
}

bool TIB_Row::FindColumnByFieldNo(int16_t FieldNo, TIB_Column*& Column) const {
  for (auto& c : columns_) {
    if (c->field_no_ == FieldNo) {
      Column = c.get();
      return true;
    }
  }
  Column = nullptr;
  return false;
}

AnsiString TIB_Row::GetRelationName(int32_t Index) const {
  if (Index < 0 || Index >= GetRelationCount()) return {};
  return relation_names_->Strings(Index);
}

bool TIB_Row::NameEquals(const AnsiString& A, const AnsiString& B) const {
  if (statement_->SQLDialect() >= 3) return AnsiCompareStr(A, B) == 0;
  return AnsiCompareText(A, B) == 0;
}

template <class Pred>
bool TIB_Row::ScanColumns(Pred Match, TIB_Column*& Column) {
  const int32_t n = static_cast<int32_t>(columns_.size());
  const int32_t hint = last_found_ + 1;
  if (hint >= 0 && hint < n && Match(columns_[static_cast<size_t>(hint)].get())) {
    last_found_ = hint;
    Column = columns_[static_cast<size_t>(hint)].get();
    return true;
  }
  for (int32_t i = 0; i < n; ++i) {
    if (Match(columns_[static_cast<size_t>(i)].get())) {
      last_found_ = i;
      Column = columns_[static_cast<size_t>(i)].get();
      return true;
    }
  }
  return false;
}

bool TIB_Row::FindColumn(const AnsiString& Name, TIB_Column*& Column) {
  Column = nullptr;
  if (columns_.empty()) return false;
  const AnsiString name = Trim(Name);
  if (name.empty()) return false;
  return FindColumnStep(name, Column, false);
}

bool TIB_Row::FindColumnStep(const AnsiString& Name, TIB_Column*& Column, bool Retried) {
  const int32_t dot = CharPosOutsideQuotes('.', Name);
  if (dot == 0) {
    const bool quoted = IsQuoted(Name, '"');
    const AnsiString key = quoted ? Name : AnsiUpperCase(Name);
    if (key == "\"\"") return false;
    if (ScanColumns([&](TIB_Column* c) { return NameEquals(c->GetAliasName(), key); }, Column)) return true;
    if (ScanColumns([&](TIB_Column* c) { return NameEquals(c->GetFieldName(), key); }, Column)) return true;
    if (!quoted && !Retried) return FindColumnStep(QuoteText(Name, '"'), Column, true);
    return false;
  }
  const AnsiString a_raw = Trim(Name.substr(0, static_cast<size_t>(dot - 1)));
  const AnsiString b_raw = Trim(Name.substr(static_cast<size_t>(dot)));
  const bool a_quoted = IsQuoted(a_raw, '"');
  const bool b_quoted = IsQuoted(b_raw, '"');
  auto ident = [&](const AnsiString& part, bool quoted) -> AnsiString {
    if (part == "\"\"") return {};
    return statement_->MakeStoredIdent(quoted ? StripQuotes(part) : AnsiUpperCase(part));
  };
  if (FindQualified(ident(a_raw, a_quoted), ident(b_raw, b_quoted), Column)) return true;
  if ((!a_quoted || !b_quoted) && !Retried) {
    const AnsiString a = a_quoted ? a_raw : QuoteText(a_raw, '"');
    const AnsiString b = b_quoted ? b_raw : QuoteText(b_raw, '"');
    return FindColumnStep(a + "." + b, Column, true);
  }
  return false;
}

bool TIB_Row::FindQualified(const AnsiString& A, const AnsiString& B, TIB_Column*& Column) {
  auto rel_matches = [&](TIB_Column* c) {
    return NameEquals(c->GetRelName(), A) || NameEquals(c->GetRelAlias(), A);
  };
  if (ScanColumns([&](TIB_Column* c) { return rel_matches(c) && NameEquals(c->GetAliasName(), B); }, Column)) {
    return true;
  }
  if (ScanColumns([&](TIB_Column* c) { return rel_matches(c) && NameEquals(c->GetFieldName(), B); }, Column)) {
    return true;
  }
  return ScanColumns(
      [&](TIB_Column* c) { return c->GetRelName().empty() && NameEquals(c->GetAliasName(), B); }, Column);
}

void TIB_Row::MakeBDEFieldNames() {
  const size_t n = columns_.size();
  for (size_t i = 0; i < n; ++i) {
    TIB_Column* c = columns_[i].get();
    AnsiString name = StripQuotes(c->GetAliasName());
    if (name.empty()) name = "COLUMN" + IntToStr(static_cast<int64_t>(i));
    c->bde_field_name_ = name;
    c->bde_short_name_ = name.substr(0, 10);
  }
  auto numbered = [](const AnsiString& base, int32_t counter, size_t limit) {
    const AnsiString suffix = "_" + IntToStr(counter);
    AnsiString s = base + suffix;
    if (s.size() > limit) s = base.substr(0, limit > suffix.size() ? limit - suffix.size() : 0) + suffix;
    return s;
  };
  for (size_t i = 0; i < n; ++i) {
    int32_t counter = 1, short_counter = 1;
    TIB_Column* ci = columns_[i].get();
    for (size_t j = i + 1; j < n; ++j) {
      TIB_Column* cj = columns_[j].get();
      if (AnsiSameText(cj->bde_field_name_, ci->bde_field_name_)) {
        cj->bde_field_name_ = numbered(cj->GetAliasName(), counter++, 31);
      }
      if (AnsiSameText(cj->bde_short_name_, ci->bde_short_name_)) {
        cj->bde_short_name_ = numbered(cj->GetAliasName(), short_counter++, 10);
      }
    }
  }
  field_names_made_ = true;
}

}  // namespace pelvar
