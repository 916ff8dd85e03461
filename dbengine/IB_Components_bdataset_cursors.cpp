// The buffered dataset's internal cursors: the binding cursors that read one row by its
// key, the locate cursor that finds keys on the server, and the filter cursor.
#include <algorithm>
#include <cstring>

#include "dbclient/IB_Constants.h"
#include "dbengine/IB_Components_bdataset.h"
#include "dbengine/IB_Parse.h"
#include "dbengine/ib_bdataset_internal.h"
#include "platform/sysutils.h"

namespace pelvar {

using namespace bdataset_detail;

namespace {

// The qualified name under which the SQL refers to a field column.
AnsiString ColumnExpression(const TIB_Column* C) {
  const AnsiString rel = C->GetRelAlias().empty() ? C->GetRelName() : C->GetRelAlias();
  AnsiString field = C->GetFieldName();
  if (AnsiSameText(field, "DB_KEY")) field = "RDB$DB_KEY";
  return rel.empty() ? field : rel + "." + field;
}

// Copies a value between two columns of the same type byte for byte, else as a Variant.
void CopyColumn(TIB_Column* To, TIB_Column* From) {
  if (To->BaseType() == From->BaseType() && To->GetBufferDataSize() == From->GetBufferDataSize() &&
      To->GetSQLScale() == From->GetSQLScale()) {
    std::memcpy(To->NullIndPtr(), From->NullIndPtr(), 2);
    std::memcpy(To->DataPtr(), From->DataPtr(), static_cast<size_t>(To->GetBufferDataSize()));
    if (ReadShort(From->NullIndPtr()) == -1 && !To->GetIsNullable()) To->SetIsNull(true);
    return;
  }
  if (From->GetIsNull()) {
    To->SetIsNull(true);
  } else {
    To->SetAsVariant(From->GetAsVariant());
  }
}

void CopySameNamedParams(TIB_Statement& To, TIB_Statement& From, bool SkipBind) {
  for (int32_t i = 0; i < To.ParamCount(); ++i) {
    TIB_Column* p = To.Params()->GetColumn(i);
    const AnsiString name = p->GetFullName();
    if (SkipBind && AnsiUpperCase(name).rfind("BIND_", 0) == 0) continue;
    if (AnsiUpperCase(name).rfind("LOC_", 0) == 0) continue;
    if (TIB_Column* src = From.FindParam(name)) CopyColumn(p, src);
  }
}

}  // namespace

// --- Binding cursor -------------------------------------------------------------------------

TIB_BindingCursor::TIB_BindingCursor(TComponent* Owner, TIB_BDataset* Dataset)
    : TIB_Cursor(Owner), served_(Dataset) {
  SetCallbackInc(-1);
}

TIB_BindingCursor::~TIB_BindingCursor() {
  Fields()->SetRowNode(nullptr);
  try {
    if (Active()) Close();
  } catch (...) {
  }
}

TIB_Statement* TIB_BindingCursor::OwningStatement() const { return served_; }

void TIB_BindingCursor::DoCalculateFields(TIB_Row* Row, TIB_Column* Column) {
  served_->DoCalculateFields(Row, Column);
}

void TIB_BindingCursor::SysDescribeRow(TIB_Row* Row) {
  if (own_statement_ || Row != Fields()) {
    TIB_Cursor::SysDescribeRow(Row);
    return;
  }
  XSQLDA* src = served_->Fields()->PSQLDA();
  const int32_t n = std::min<int32_t>(Row->PSQLDA()->sqld, src->sqld);
  for (int32_t i = 0; i < n; ++i) {
    *Row->Var(i) = src->sqlvar[i];
    Row->Var(i)->sqldata = nullptr;
    Row->Var(i)->sqlind = nullptr;
  }
}

void TIB_BindingCursor::LoadBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                                     TIB_BlobCacheNode* Node) {
  served_->LoadBlobNode(PVAR, ArrayDesc, Node);
}

bool TIB_BindingCursor::LookupArrayBounds(const XSQLVAR* PVAR, ISC_ARRAY_DESC& Desc) {
  return served_->LookupArrayBounds(PVAR, Desc);
}

void TIB_BindingCursor::LayoutFromDataset() {
  Unbind();
  SetCalculatedFields(served_->CalculatedFields());
  own_statement_ = false;
  Fields()->SetRowNode(nullptr);
  Fields()->SetColumnCount(served_->Fields()->PSQLDA()->sqld);
}

void TIB_BindingCursor::Unbind() {
  CloseCursor();
  Fields()->SetRowNode(nullptr);
  if (Prepared()) {
    try {
      Unprepare();
    } catch (...) {
    }
  }
  own_statement_ = false;
  bound_ = false;
  key_problem_reported_ = false;
}

void TIB_BindingCursor::GetPrepare() {
  const auto& map = served_->key_column_map_;
  if (map.empty()) {
    throw EIB_DatasetError(served_, IB_Message(TIB_Msg::CursorWithoutKey));
  }
  CloseCursor();
  Fields()->SetRowNode(nullptr);
  SetIB_Connection(served_->IB_Connection());
  SetIB_Transaction(served_->IB_Transaction());
  SetParamChar(served_->ParamChar());
  SetCalculatedFields(served_->CalculatedFields());
  // The served dataset's SQL as the server got it (criteria, master links, filter and
  // db-key included), restricted to one key.
  AnsiString text = served_->GetServerSQLText();
  AnsiString where = GetWhereClause(text);
  for (size_t i = 0; i < map.size(); ++i) {
    const char pc = served_->ParamChar();
    AddWhereCondition(where, ColumnExpression(map[i].second) + " = " + AnsiString(1, pc) + "BIND_" +
                                 IntToStr(static_cast<int32_t>(i)));
  }
  SetWhereClause(text, where);
  SetForUpdateClause(text, "");
  own_statement_ = true;
  binding_sql_ = text;
  SQL()->SetText(text);
  try {
    Prepare();
  } catch (...) {
    own_statement_ = false;
    bound_ = false;
    throw;
  }
  bound_ = true;
}

void TIB_BindingCursor::BindParams() {
  if (!bound_) return;
  CopySameNamedParams(*this, *served_, true);
}

void TIB_BindingCursor::CloseCursor() {
  if (!Active()) return;
  try {
    Close();
  } catch (...) {
  }
  cursor_open_ = false;
}

bool TIB_BindingCursor::FetchRowByKey(TIB_Node* Node, bool Force, bool KeepOpen) {
  TIB_NodeList* list = served_->NodeList();
  if (Node == nullptr || list->IsSentinel(Node)) {
    if (Force) throw EIB_DatasetError(served_, IB_Message(TIB_Msg::CursorWithoutKey));
    if (Fields()->ColumnCount() > 0) {
      Fields()->SetRowNode(nullptr);
      Fields()->ClearRow(rsEmpty);
    }
    return true;
  }
  const bool can_read = served_->KeysReadable();
  if (Force && !can_read) {
    if (KeepOpen) throw EIB_DatasetError(served_, IB_Message(TIB_Msg::CursorWithoutKey));
    Force = false;
  }
  if (!(Force || Node->Row.empty() || Node->OldRowEdited)) return true;
  if (!can_read) {
    if (!key_problem_reported_) {
      key_problem_reported_ = true;
      throw EIB_DatasetError(served_, "Problem in BindingCursor: Check KeyLinks property");
    }
    return false;
  }
  CloseCursor();
  served_->CheckTransaction(true);
  if (!own_statement_ || !bound_ || !Prepared()) GetPrepare();
  SetIB_Transaction(served_->IB_Transaction());
  BindParams();
  // The key row takes the node's key (its key before an edit of the key columns).
  TIB_Row* key = served_->KeyFields();
  const std::vector<char>& bytes = Node->HasOldKey() ? Node->OldKey : Node->Key;
  std::memcpy(key->RowBuffer(), bytes.data(), std::min<size_t>(bytes.size(), static_cast<size_t>(key->RowBufferSize())));
  for (int32_t i = 0; i < key->ColumnCount(); ++i) {
    TIB_Column* p = FindParam("BIND_" + IntToStr(i));
    if (p != nullptr) CopyColumn(p, key->GetColumn(i));
  }
  ++served_->rows_read_by_key_;
  Open();
  const bool read = Active() && !GetEof() && Fields()->RowState() != rsEmpty;
  if (!read) {
    CloseCursor();
    return false;
  }
  if (Fields()->CalculatedCount() > 0) Fields()->CalculateFields();
  std::vector<char> packed;
  PackColumns(BufferOrderColumns(*Fields()), packed);
  if (!KeepOpen) {
    MoveBy(1);
    const bool more = !GetEof();
    CloseCursor();
    if (more) {
      throw EIB_DatasetError(served_, IB_Message(TIB_Msg::MultipleRowsInSingleton) + "\r\n\r\n" +
                                          "Check KeyLinks and JoinLinks properties" + "\r\n\r\n" +
                                          binding_sql_);
    }
  } else {
    cursor_open_ = true;
  }
  if (Node->OldRowEdited) {
    // The saved row held the edited values: the server's row becomes the saved row
    // and the edit the current row again.
    Node->Row.swap(Node->OldRow);
    Node->OldRow.swap(packed);
    Node->OldRowEdited = false;
  } else {
    Node->Row.swap(packed);
  }
  return true;
}

// --- Locate cursor -------------------------------------------------------------------------

TIB_LocateCursor::TIB_LocateCursor(TComponent* Owner, TIB_BDataset* Dataset)
    : TIB_Cursor(Owner), served_(Dataset), locate_links_(std::make_unique<TIB_StringList>()) {
  SetReadOnly(true);
  SetCallbackInc(-1);
}

TIB_LocateCursor::~TIB_LocateCursor() {
  try {
    if (Active()) Close();
  } catch (...) {
  }
}

TIB_Statement* TIB_LocateCursor::OwningStatement() const { return served_; }

void TIB_LocateCursor::SetLocateLinks(const AnsiString& Text) {
  if (locate_links_->Text() == Text) return;
  locate_links_->SetText(Text);
  sql_stale_ = true;
}

void TIB_LocateCursor::SetOptions(uint8_t Value) {
  if (Value == options_) return;
  options_ = Value;
  sql_stale_ = true;
}

void TIB_LocateCursor::SetNearest(bool Value) {
  if (Value == nearest_) return;
  nearest_ = Value;
  sql_stale_ = true;
}

AnsiString TIB_LocateCursor::ParamName(const AnsiString& FieldName) {
  TIB_Column* c = served_->FindField(FieldName);
  const int32_t index = c != nullptr ? c->GetIndex() : 0;
  return "LOC_" + IntToStr(index);
}

void TIB_LocateCursor::BuildCondition(std::vector<AnsiString>& Lines, AnsiString& OrderBy) {
  Lines.clear();
  OrderBy = nearest_ ? "ORDER BY " : "";
  const std::vector<AnsiString> names = SplitToStrings(locate_links_->Text());
  std::vector<AnsiString> fields;
  for (const AnsiString& n : names) {
    if (!Trim(n).empty()) fields.push_back(Trim(n));
  }
  const bool many = fields.size() > 1 || values_.IsArray();
  const char pc = served_->ParamChar();
  Lines.push_back("(");
  for (size_t i = 0; i < fields.size(); ++i) {
    TIB_Column* c = served_->FieldByName(fields[i]);
    AnsiString param = AnsiString(1, pc) + ParamName(fields[i]);
    AnsiString expr = ColumnExpression(c);
    Variant value = many ? values_.GetElement({VarArrayLowBound(values_, 1) + static_cast<int32_t>(i)}) : values_;
    AnsiString op;
    bool has_param = true;
    if (VarIsNull(value) || VarIsEmpty(value)) {
      if (nearest_) throw EIB_DatasetError(served_, IB_Message(TIB_Msg::LocateNearestNull));
      op = " IS NULL ";
      has_param = false;
      param.clear();
    } else if (nearest_) {
      if (i > 0) OrderBy += "\r\n       , ";
      OrderBy += expr + " ASC";
      op = " >= ";
    } else {
      op = " = ";
    }
    if (has_param && c->IsText) {
      if ((options_ & lopPartialKey) != 0 && !nearest_) {
        op = VarToStr(value).empty() ? " >= " : " STARTING WITH ";
      }
      if ((options_ & lopCaseInsensitive) != 0) {
        expr = "UPPER( " + expr + " )";
        param = "UPPER( " + param + " )";
      }
    }
    Lines.push_back("(");
    if (nearest_ && i + 1 < fields.size()) {
      Lines.push_back("(");
      Lines.push_back(expr + " > " + param);
      Lines.push_back(")");
      Lines.push_back("OR");
      Lines.push_back("(");
      Lines.push_back("(");
      Lines.push_back(expr + " = " + param);
      Lines.push_back(")");
      Lines.push_back("AND");
    } else {
      Lines.push_back("(");
      Lines.push_back(expr + op + param);
      Lines.push_back(")");
    }
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    Lines.push_back(")");
    if (nearest_ && i + 1 < fields.size()) Lines.push_back(")");
  }
  Lines.push_back(")");
}

void TIB_LocateCursor::FillParams() {
  CopySameNamedParams(*this, *served_, false);
  const std::vector<AnsiString> names = SplitToStrings(locate_links_->Text());
  std::vector<AnsiString> fields;
  for (const AnsiString& n : names) {
    if (!Trim(n).empty()) fields.push_back(Trim(n));
  }
  if (fields.empty()) throw EIB_DatasetError(served_, IB_Message(TIB_Msg::NoLocateLinks));
  const bool many = fields.size() > 1 || values_.IsArray();
  for (size_t i = 0; i < fields.size(); ++i) {
    TIB_Column* p = FindParam(ParamName(fields[i]));
    if (p == nullptr) continue;
    Variant value = many ? values_.GetElement({VarArrayLowBound(values_, 1) + static_cast<int32_t>(i)}) : values_;
    if (VarIsNull(value) || VarIsEmpty(value)) {
      p->SetIsNull(true);
    } else {
      p->SetAsVariant(value);
    }
  }
}

bool TIB_LocateCursor::OpenAndFetch() {
  if (Active()) Close();
  if (sql_stale_ || !Prepared()) {
    std::vector<AnsiString> lines;
    AnsiString order_by;
    BuildCondition(lines, order_by);
    AnsiString condition;
    for (const AnsiString& l : lines) {
      if (!condition.empty()) condition += " ";
      condition += l;
    }
    AnsiString text = served_->GetServerSQLText();
    SetSelectClause(text, served_->KeySQLSelect());
    AnsiString where = GetWhereClause(text);
    AddWhereCondition(where, condition);
    SetWhereClause(text, where);
    SetForUpdateClause(text, "");
    if (nearest_) SetOrderByClause(text, order_by);
    SetIB_Connection(served_->IB_Connection());
    SetIB_Transaction(served_->IB_Transaction());
    SetParamChar(served_->ParamChar());
    SQL()->SetText(text);
    try {
      Prepare();
    } catch (...) {
      Unprepare();
      throw;
    }
    sql_stale_ = false;
  }
  SetIB_Transaction(served_->IB_Transaction());
  FillParams();
  Open();
  if (!Active() || GetEof()) return false;
  TIB_Row* key = served_->KeyFields();
  for (int32_t i = 0; i < key->ColumnCount() && i < FieldCount(); ++i) {
    CopyKeyValue(key->GetColumn(i), Fields()->GetColumn(i), false);
  }
  return true;
}

bool TIB_LocateCursor::NextRow() {
  if (!Active() || GetEof()) return false;
  MoveBy(1);
  if (GetEof()) return false;
  TIB_Row* key = served_->KeyFields();
  for (int32_t i = 0; i < key->ColumnCount() && i < FieldCount(); ++i) {
    CopyKeyValue(key->GetColumn(i), Fields()->GetColumn(i), false);
  }
  return true;
}

// --- Filter cursor ---------------------------------------------------------------------------

TIB_FilterCursor::TIB_FilterCursor(TComponent* Owner, TIB_BDataset* Dataset)
    : TIB_BDataset(Owner), owner_dataset_(Dataset) {
  SetReadOnly(true);
  SetCallbackInc(-1);
}

void TIB_FilterCursor::DoBeforeOpen() {
  TIB_BDataset::DoBeforeOpen();
  if (Params()->RowBufferSize() != owner_dataset_->Params()->RowBufferSize()) {
    throw EIB_StatementError(this, "Params buffer size mismatch");
  }
  if (Params()->RowBufferSize() > 0) {
    std::memcpy(Params()->RowBuffer(), owner_dataset_->Params()->RowBuffer(),
                static_cast<size_t>(Params()->RowBufferSize()));
  }
}

}  // namespace pelvar
