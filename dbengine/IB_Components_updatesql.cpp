#include "dbengine/IB_Components_updatesql.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "dbclient/IB_Header.h"
#include "dbengine/IB_Parse.h"
#include "platform/codepage.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

const char* const kCRLF = "\r\n";

// A key column's descriptor names the db-key "DB_KEY"; the server knows it as RDB$DB_KEY.
AnsiString KeyColumnName(TIB_Column* Column) {
  AnsiString c = Column->GetFieldName();
  if (c == "DB_KEY" || c == "\"DB_KEY\"") c = "RDB$DB_KEY";
  return c;
}

// Copies Source's current or old value into the parameter P.
void CopyValue(TIB_Column* P, TIB_Column* Source, bool Old) {
  if (Old) {
    const AnsiString bytes = Source->GetOldColData();
    if (bytes.empty()) {
      P->SetIsNull(true);
    } else if (P->GetSQLType() == Source->GetSQLType() && P->GetSQLLen() == Source->GetSQLLen()) {
      P->SetColData(bytes);
    } else {
      P->SetAsString(Source->GetOldAsString());
    }
    return;
  }
  if (Source->GetIsNull()) {
    P->SetIsNull(true);
  } else if ((P->GetSQLType() & ~1) == (Source->GetSQLType() & ~1) &&
             P->GetSQLLen() == Source->GetSQLLen() && P->GetSQLScale() == Source->GetSQLScale() &&
             !Source->IsBlob && !Source->IsArray) {
    P->SetColData(Source->GetColData());
  } else {
    P->Assign(Source);
  }
}

}  // namespace

TIB_UpdateSQL::TIB_UpdateSQL(TComponent* Owner, TIB_UpdateSQLTarget* Dataset)
    : TComponent(Owner), dataset_(Dataset) {
  for (auto* list : {&edit_sql_, &insert_sql_, &delete_sql_, &lock_sql_}) {
    list->reset(new TIB_StringList());
    (*list)->OnChange = [this](TObject* Sender) { SQLChanged(Sender); };
  }
}

TIB_UpdateSQL::~TIB_UpdateSQL() {
  for (auto* list : {&edit_sql_, &insert_sql_, &delete_sql_, &lock_sql_}) (*list)->OnChange = nullptr;
}

void TIB_UpdateSQL::Unprepare(Kept& K) {
  if (K.Statement != nullptr) K.Statement->Unprepare();
  K.Bindings.clear();
}

void TIB_UpdateSQL::SetSearchedEdits(bool Value) {
  if (searched_edits_ == Value) return;
  searched_edits_ = Value;
  Unprepare(edit_);
  Unprepare(lock_);
}

void TIB_UpdateSQL::SetSearchedDeletes(bool Value) {
  if (searched_deletes_ == Value) return;
  searched_deletes_ = Value;
  Unprepare(delete_);
}

void TIB_UpdateSQL::UnprepareStatements() {
  for (Kept* k : {&edit_, &lock_, &insert_, &delete_}) Unprepare(*k);
  insert_texts_.clear();
}

void TIB_UpdateSQL::FreeStatementHandles() {
  insert_texts_.clear();
  for (Kept* k : {&edit_, &lock_, &insert_, &delete_}) {
    if (k->Statement != nullptr) k->Statement->SysFreeHandle(true);
    k->Bindings.clear();
  }
}

void TIB_UpdateSQL::SysUnprepareHandle() {
  for (Kept* k : {&edit_, &lock_, &insert_, &delete_})
    if (k->Statement != nullptr) k->Statement->SysUnprepareHandle();
}

void TIB_UpdateSQL::SQLChanged(TObject* List) {
  if (List == edit_sql_.get()) Unprepare(edit_);
  else if (List == insert_sql_.get()) Unprepare(insert_);
  else if (List == delete_sql_.get()) Unprepare(delete_);
  else if (List == lock_sql_.get()) Unprepare(lock_);
}

bool TIB_UpdateSQL::EnsureStatement(Kept& K) {
  if (K.Statement == nullptr) {
    K.Statement = new TIB_Statement(this);
    // Errors of the kept statements reach the dataset's own error handling.
    K.Statement->SetOnError([this](TObject* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                                   TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                                   TStringList* SQL, bool& RaiseException) {
      if (!RaiseException || dataset_ == nullptr) return;
      DS()->HandleError(dynamic_cast<TComponent*>(Sender), ERRCODE, ErrorMessage, ErrorCodes,
                        SQLCODE, SQLMessage, SQL, RaiseException);
    });
  }
  TIB_Statement* ds = DS();
  if (ds->Prepared() && !K.Statement->Prepared()) {
    K.Statement->SetIB_Connection(ds->IB_Connection());
    K.Statement->SetIB_Transaction(ds->IB_Transaction());
    K.Statement->SetParamChar(ds->ParamChar());
    K.Bindings.clear();
    return true;
  }
  return false;
}

void TIB_UpdateSQL::CheckKeyRelation() {
  TIB_Statement* ds = DS();
  const AnsiString& key = ds->KeyRelation();
  if (key.empty()) return;
  TIB_Row* fields = ds->Fields();
  for (int32_t i = 0; i < fields->GetRelationCount(); ++i) {
    const AnsiString name = fields->GetRelationName(i);
    if (name == key || AnsiCompareText(name, key) == 0) return;
  }
  throw EIB_DatasetError(this, CZ("Chybná KeyRelation hodnota"));
}

AnsiString TIB_UpdateSQL::KeyRelationK() { return DS()->GetEffectiveKeyRelation(); }

AnsiString TIB_UpdateSQL::InsertTableName() {
  const AnsiString k = KeyRelationK();
  const AnsiString t = DS()->GetRelationByAlias(k);
  return t.empty() ? k : t;
}

AnsiString TIB_UpdateSQL::RelationR() {
  const AnsiString k = KeyRelationK();
  const AnsiString t = DS()->GetRelationByAlias(k);
  return t.empty() ? k : t + " " + k;
}

bool TIB_UpdateSQL::OfKeyRelation(TIB_Column* Column, const AnsiString& K) const {
  return Column->RelAliasIs(K);
}

void TIB_UpdateSQL::PrepareCustomDML(Kept& K, const AnsiString& Text) {
  TIB_Statement* st = K.Statement;
  TIB_Statement* ds = DS();
  st->SetAllowDomainLookups(true);
  st->SQL()->SetText(Text);
  st->Prepare();
  K.Bindings.clear();
  try {
    TIB_Row* keys = dataset_->UpdateKeyRow();
    for (int32_t i = 0; i < st->ParamCount(); ++i) {
      TIB_Column* p = st->Params()->GetColumn(i);
      const AnsiString name = p->GetAliasName();
      if (TIB_Column* f = ds->FindField(name)) {
        K.Bindings.push_back({i, f, false});
        continue;
      }
      const AnsiString up = AnsiUpperCase(name);
      AnsiString rest;
      bool old = false;
      if (up.size() > 5 && up[0] == '"' && (up.compare(1, 4, "OLD_") == 0 || up.compare(1, 4, "OLD.") == 0)) {
        rest = "\"" + name.substr(5);
        old = true;
      } else if (up.size() > 4 && (up.compare(0, 4, "OLD_") == 0 || up.compare(0, 4, "OLD.") == 0)) {
        rest = name.substr(4);
        old = true;
      }
      if (old) {
        if (TIB_Column* f = ds->FindField(rest)) {
          K.Bindings.push_back({i, f, true});
          continue;
        }
      } else if (keys != nullptr) {
        TIB_Column* kc = nullptr;
        if (keys->FindColumn(name, kc) && kc != nullptr) {
          K.Bindings.push_back({i, kc, !dataset_->KeyRowManaged()});
          continue;
        }
      }
      throw EIB_DatasetError(this, Format(CZ("Chybný uživatelský DML odkaz na sloupec: %s"),
                                          {p->GetQualifiedAliasName()}));
    }
  } catch (...) {
    st->Unprepare();
    K.Bindings.clear();
    throw;
  }
}

AnsiString TIB_UpdateSQL::KeyConditions(bool ForDelete, bool& Custom) {
  const char p = DS()->ParamChar();
  const AnsiString key = KeyRelationK();
  AnsiString text;
  auto add = [&](const AnsiString& cond) {
    if (!text.empty()) text += AnsiString(kCRLF) + "  AND ";
    text += cond;
  };
  Custom = dataset_->CachedUpdatesMode();
  if (Custom) {
    TIB_Row* fields = DS()->Fields();
    for (int32_t i = 0; i < fields->ColumnCount(); ++i) {
      TIB_Column* c = fields->GetColumn(i);
      if (c->IsArray || c->IsBlob || c->GetComputed() || !OfKeyRelation(c, key)) continue;
      add(c->GetRelAlias() + "." + c->GetFieldName() + " = " + p + "OLD." + c->GetFieldName());
    }
  } else if (TIB_Row* keys = dataset_->UpdateKeyRow()) {
    for (int32_t i = 0; i < keys->ColumnCount(); ++i) {
      TIB_Column* c = keys->GetColumn(i);
      const AnsiString a = c->GetRelAlias();
      const AnsiString name = KeyColumnName(c);
      AnsiString cond = (ForDelete && a.empty()) ? name : a + "." + name;
      add(cond + " = " + p + "OLD." + c->GetFieldName());
    }
  }
  // Without any key the statement would address every row (or be invalid): refuse.
  if (text.empty()) throw EIB_DatasetError(this, CZ("Chybná KeyRelation hodnota"));
  return text;
}

void TIB_UpdateSQL::BindKeyParams(Kept& K) {
  TIB_Row* keys = dataset_->UpdateKeyRow();
  const int32_t n = keys ? keys->ColumnCount() : 0;
  const int32_t first = K.Statement->ParamCount() - n;
  for (int32_t j = 0; j < n && first >= 0; ++j)
    K.Bindings.push_back({first + j, keys->GetColumn(j), !dataset_->KeyRowManaged()});
}

void TIB_UpdateSQL::PrepareGenerated(Kept& K, const AnsiString& Text) {
  TIB_Statement* st = K.Statement;
  st->SetAllowDomainLookups(false);
  st->SQL()->SetText(Text);
  st->Prepare();
}

void TIB_UpdateSQL::FinishKeyed(Kept& K, const AnsiString& Text, bool Custom) {
  // In cached-updates mode the OLD. parameters are bound by name like custom DML.
  if (Custom) {
    PrepareCustomDML(K, Text);
    return;
  }
  PrepareGenerated(K, Text);
  try {
    BindKeyParams(K);
  } catch (...) {
    K.Statement->Unprepare();
    K.Bindings.clear();
    throw;
  }
}

TIB_Statement* TIB_UpdateSQL::GetEditStatement() {
  if (!EnsureStatement(edit_)) return edit_.Statement;
  if (edit_sql_->Count() > 0) {
    PrepareCustomDML(edit_, edit_sql_->Text());
    return edit_.Statement;
  }
  CheckKeyRelation();
  const AnsiString key = KeyRelationK();
  const char p = DS()->ParamChar();
  AnsiString text = "UPDATE " + RelationR() + kCRLF;
  std::vector<Binding> set;
  TIB_Row* fields = DS()->Fields();
  for (int32_t i = 0; i < fields->ColumnCount(); ++i) {
    TIB_Column* c = fields->GetColumn(i);
    if (c->GetReadOnly() || c->GetComputed() || !OfKeyRelation(c, key)) continue;
    text += set.empty() ? AnsiString("  SET ") : AnsiString(kCRLF) + "    , ";
    text += c->GetRelAlias() + "." + c->GetFieldName() + " = " + p + c->GetFieldName();
    set.push_back({static_cast<int32_t>(set.size()), c, false});
  }
  if (set.empty())
    throw EIB_DatasetError(this, Format(CZ("Nemohu inicializovat defaultní %s"), {AnsiString("EditDSQL")}));
  text += AnsiString(kCRLF) + "WHERE ";
  if (searched_edits_) {
    bool custom = false;
    text += KeyConditions(false, custom);
    if (custom) {
      FinishKeyed(edit_, text, true);
      return edit_.Statement;
    }
    edit_.Bindings = set;
    FinishKeyed(edit_, text, false);
  } else {
    text += "CURRENT OF " + dataset_->UpdateCursorName();
    PrepareGenerated(edit_, text);
    edit_.Bindings = set;
  }
  return edit_.Statement;
}

TIB_Statement* TIB_UpdateSQL::GetLockStatement() {
  if (!EnsureStatement(lock_)) return lock_.Statement;
  if (lock_sql_->Count() > 0) {
    PrepareCustomDML(lock_, lock_sql_->Text());
    return lock_.Statement;
  }
  CheckKeyRelation();
  const AnsiString key = KeyRelationK();
  TIB_Row* fields = DS()->Fields();
  TIB_Column* first = nullptr;
  for (int32_t i = 0; i < fields->ColumnCount() && first == nullptr; ++i) {
    TIB_Column* c = fields->GetColumn(i);
    if (!c->GetReadOnly() && !c->GetComputed() && OfKeyRelation(c, key)) first = c;
  }
  if (first == nullptr)
    throw EIB_DatasetError(this, Format(CZ("Nemohu inicializovat defaultní %s"), {AnsiString("LockSQL")}));
  const AnsiString item = first->GetRelAlias() + "." + first->GetFieldName();
  AnsiString text = "UPDATE " + RelationR() + " SET " + item + " = " + item + kCRLF + "WHERE ";
  if (searched_edits_) {
    bool custom = false;
    text += KeyConditions(false, custom);
    FinishKeyed(lock_, text, custom);
  } else {
    text += "CURRENT OF " + dataset_->UpdateCursorName();
    PrepareGenerated(lock_, text);
  }
  return lock_.Statement;
}

TIB_Statement* TIB_UpdateSQL::GetDeleteStatement() {
  if (!EnsureStatement(delete_)) return delete_.Statement;
  if (delete_sql_->Count() > 0) {
    PrepareCustomDML(delete_, delete_sql_->Text());
    return delete_.Statement;
  }
  CheckKeyRelation();
  AnsiString text = "DELETE FROM " + RelationR() + " " + kCRLF + "WHERE ";
  if (searched_deletes_) {
    bool custom = false;
    text += KeyConditions(true, custom);
    FinishKeyed(delete_, text, custom);
  } else {
    text += "CURRENT OF " + dataset_->UpdateCursorName();
    PrepareGenerated(delete_, text);
  }
  return delete_.Statement;
}

TIB_Statement* TIB_UpdateSQL::GetInsertStatement() {
  if (!EnsureStatement(insert_)) return insert_.Statement;
  if (insert_sql_->Count() > 0) {
    PrepareCustomDML(insert_, insert_sql_->Text());
    return insert_.Statement;
  }
  CheckKeyRelation();
  const AnsiString key = KeyRelationK();
  const char p = DS()->ParamChar();
  AnsiString cols, vals;
  std::vector<TIB_Column*> used;
  TIB_Row* fields = DS()->Fields();
  for (int32_t i = 0; i < fields->ColumnCount(); ++i) {
    TIB_Column* c = fields->GetColumn(i);
    if (c->GetReadOnly() || c->GetComputed() || !OfKeyRelation(c, key)) continue;
    const AnsiString sep = AnsiString(kCRLF) + (used.empty() ? "( " : ", ");
    cols += sep + c->GetFieldName();
    vals += sep + p + c->GetAliasName();
    used.push_back(c);
  }
  if (used.empty()) {
    insert_.Statement->SQL()->Clear();
    return insert_.Statement;
  }
  const AnsiString text = "INSERT INTO " + InsertTableName() + cols + " )" + kCRLF + "VALUES " +
                          vals + " )";
  PrepareGenerated(insert_, text);
  try {
    TIB_Statement* st = insert_.Statement;
    if (st->ParamCount() == static_cast<int32_t>(used.size())) {
      for (size_t k = 0; k < used.size(); ++k)
        insert_.Bindings.push_back({static_cast<int32_t>(k), used[k], false});
    } else {
      for (int32_t k = 0; k < st->ParamCount(); ++k)
        insert_.Bindings.push_back(
            {k, DS()->FieldByName(st->Params()->GetColumn(k)->GetAliasName()), false});
    }
  } catch (...) {
    insert_.Statement->Unprepare();
    insert_.Bindings.clear();
    throw;
  }
  return insert_.Statement;
}

bool TIB_UpdateSQL::Writes(const Kept& K, const TIB_Column* Column) {
  if (K.Statement == nullptr || !K.Statement->Prepared()) return false;
  for (const Binding& b : K.Bindings)
    if (b.Source == Column && !b.Old) return true;
  return false;
}

bool TIB_UpdateSQL::EditWritesColumn(const TIB_Column* Column) {
  GetEditStatement();
  return Writes(edit_, Column);
}

bool TIB_UpdateSQL::InsertWritesColumn(const TIB_Column* Column) {
  GetInsertStatement();
  return Writes(insert_, Column);
}

void TIB_UpdateSQL::LoadParams(Kept& K) {
  TIB_Row* params = K.Statement->Params();
  for (const Binding& b : K.Bindings) CopyValue(params->GetColumn(b.Param), b.Source, b.Old);
}

void TIB_UpdateSQL::RunKept(Kept& K, int32_t& RowsAffected, int32_t& StmtType) {
  TIB_Statement* st = K.Statement;
  st->CheckTransaction(true);
  LoadParams(K);
  // Blob values go to the server first; the parameters then carry their new ids.
  TIB_Row* params = st->Params();
  params->PostBlobs();
  try {
    if (st->FieldCount() > 0) st->API_Execute2();
    else st->API_Execute();
  } catch (...) {
    params->AfterPostBlobs(false);
    throw;
  }
  params->AfterPostBlobs(true);
  RowsAffected = st->GetRowsAffected();
  StmtType = st->GetStatementType();
}

TIB_RowsAffected TIB_UpdateSQL::RunImmediate(const AnsiString& Text,
                                             const std::vector<ImmediateVar>& Vars, bool Keep) {
  const int16_t n = static_cast<int16_t>(Vars.size());
  // Small descriptor areas live on the stack (one is built for every posted row).
  constexpr int16_t kLocalVars = 32;
  // Only the header is cleared: every entry below is filled whole from its column.
  // Sized as XSQLDA_LENGTH(kLocalVars), written out so that it stays a constant.
  constexpr size_t kLocalBytes = sizeof(XSQLDA) + (kLocalVars - 1) * sizeof(XSQLVAR) + XSQLDA_SPARE;
  alignas(XSQLDA) char local[kLocalBytes];
  std::vector<char> area;
  if (n > kLocalVars) area.assign(static_cast<size_t>(XSQLDA_LENGTH(n)), 0);
  auto* da = reinterpret_cast<XSQLDA*>(n > kLocalVars ? area.data() : local);
  std::memset(da, 0, offsetof(XSQLDA, sqlvar));
  da->version = SQLDA_VERSION1;
  da->sqln = n;
  da->sqld = n;
  for (int16_t i = 0; i < n; ++i) {
    TIB_Column* c = Vars[static_cast<size_t>(i)].Column;
    XSQLVAR& v = da->sqlvar[i];
    v = *c->PSQLVAR();
    const bool old = Vars[static_cast<size_t>(i)].Old;
    v.sqldata = old ? c->OldDataPtr() : c->DataPtr();
    char* ind = old ? c->OldNullIndPtr() : c->NullIndPtr();
    v.sqlind = reinterpret_cast<ISC_SHORT*>(ind);
    if (ind != nullptr) v.sqltype = static_cast<ISC_SHORT>(v.sqltype | 1);
  }
  last_immediate_sql_ = Text;
  TIB_Statement* ds = DS();
  ds->CheckTransaction(true);
  // Changed blobs of the field row are written first so that the row carries their ids.
  TIB_Row* fields = ds->Fields();
  bool blobs = false;
  for (const ImmediateVar& v : Vars) blobs = blobs || (!v.Old && v.Column->IsBlob && v.Column->Row() == fields);
  if (blobs) fields->PostBlobs();
  TIB_RowsAffected counts;
  try {
    if (Keep) {
      ds->ExecuteKeptImmediate(Text, n > 0 ? da : nullptr);
    } else {
      ds->ExecuteImmediate(Text, n > 0 ? da : nullptr, nullptr, counts);
    }
  } catch (...) {
    if (blobs) fields->AfterPostBlobs(false);
    throw;
  }
  if (blobs) fields->AfterPostBlobs(true);
  return counts;
}

void TIB_UpdateSQL::ChangeMade(TIB_UpdateKind Kind) {
  dataset_->SetPostSucceeded();
  try {
    if ((dataset_->DMLCacheFlags() & Kind) != 0) dataset_->AnnounceDMLCacheItem(Kind);
  } catch (...) {
    if (TIB_Transaction* tr = DS()->IB_Transaction()) tr->Activate();
    throw;
  }
  if (TIB_Transaction* tr = DS()->IB_Transaction()) tr->Activate();
}

void TIB_UpdateSQL::ReturnOutputValues(TIB_Statement* Statement) {
  TIB_Row* out = Statement->Fields();
  out->PadBuffers(true);
  out->SetRowLoaded(true, false, false);
  bool keyChanged = false;
  TIB_Row* keys = dataset_->UpdateKeyRow();
  for (int32_t i = 0; i < out->ColumnCount(); ++i) {
    TIB_Column* o = out->GetColumn(i);
    const AnsiString name = o->GetAliasName();
    if (TIB_Column* f = DS()->FindField(name)) f->SetColData(o->GetColData());
    TIB_Column* kc = nullptr;
    if (keys != nullptr && keys->FindColumn(name, kc) && kc != nullptr) {
      kc->SetColData(o->GetColData());
      keyChanged = true;
    }
  }
  if (keyChanged) dataset_->SysUpdateBufferRow(false);
}

AnsiString TIB_UpdateSQL::ImmediateKeyConditions(std::vector<ImmediateVar>& Vars) {
  const AnsiString key = KeyRelationK();
  AnsiString text;
  auto add = [&](const AnsiString& cond) {
    if (!text.empty()) text += AnsiString(kCRLF) + "  AND ";
    text += cond;
  };
  if (dataset_->CachedUpdatesMode()) {
    TIB_Row* fields = DS()->Fields();
    for (int32_t i = 0; i < fields->ColumnCount(); ++i) {
      TIB_Column* c = fields->GetColumn(i);
      if (c->IsBlob || c->IsArray || !OfKeyRelation(c, key)) continue;
      if (c->GetOldIsNull()) {
        add(c->GetRelAlias() + "." + c->GetFieldName() + " IS NULL");
      } else {
        add(c->GetRelAlias() + "." + c->GetFieldName() + " = ?");
        Vars.push_back({c, true});
      }
    }
  } else if (TIB_Row* keys = dataset_->UpdateKeyRow()) {
    for (int32_t i = 0; i < keys->ColumnCount(); ++i) {
      TIB_Column* c = keys->GetColumn(i);
      const AnsiString a = c->GetRelAlias();
      add((a.empty() ? AnsiString() : a + ".") + KeyColumnName(c) + " = ?");
      Vars.push_back({c, !dataset_->KeyRowManaged()});
    }
  }
  // Without any key the statement would change every row of the relation: refuse.
  if (text.empty()) throw EIB_DatasetError(this, CZ("Chybná KeyRelation hodnota"));
  return text;
}

void TIB_UpdateSQL::ExecuteEdit() {
  if (edit_sql_->Count() > 0 || (prepared_edits_ && !dataset_->CachedUpdatesMode())) {
    Kept& k = edit_;
    GetEditStatement();
    int32_t rows = 0, type = 0;
    RunKept(k, rows, type);
    if (rows == 0 && type == isc_info_sql_stmt_update)
      throw EIB_DatasetError(this, CZ("Záznam nebyl nalezen, aby mohl být změněn"));
    ChangeMade(ukEdit);
    if (rows > 1) throw EIB_DatasetError(this, CZ("Několik záznamů opraveno"));
    if (k.Statement->FieldCount() > 0) ReturnOutputValues(k.Statement);
    return;
  }
  TIB_Row* fields = DS()->Fields();
  if (searched_edits_) {
    CheckKeyRelation();
    AnsiString text = "UPDATE " + RelationR() + kCRLF;
    std::vector<ImmediateVar> vars;
    for (int32_t i = 0; i < fields->ColumnCount(); ++i) {
      TIB_Column* c = fields->GetColumn(i);
      if (!c->GetIsModified() || c->GetReadOnly() || c->GetComputed()) continue;
      text += vars.empty() ? AnsiString(" SET ") : AnsiString(kCRLF) + "   , ";
      text += c->GetFieldName() + " = ?";
      vars.push_back({c, false});
    }
    if (vars.empty()) return;
    text += AnsiString(kCRLF) + "WHERE " + ImmediateKeyConditions(vars);
    // The row may have gone (or changed, in cached updates) since it was read: a
    // statement that matched nothing changed nothing.
    const int32_t rows = RunImmediate(text, vars).UpdateCount;
    if (rows == 0) throw EIB_DatasetError(this, CZ("Záznam nebyl nalezen, aby mohl být změněn"));
    ChangeMade(ukEdit);
    if (rows > 1) throw EIB_DatasetError(this, CZ("Několik záznamů opraveno"));
    return;
  }
  bool changed = false;
  try {
    for (int32_t r = 0; r < fields->GetRelationCount(); ++r) {
      // The row lists its relations by the names the statement uses for them (aliases).
      const AnsiString entry = fields->GetRelationName(r);
      AnsiString rel = DS()->GetRelationByAlias(entry);
      if (rel.empty()) rel = entry;
      AnsiString text = "UPDATE " + rel + kCRLF;
      std::vector<ImmediateVar> vars;
      for (int32_t i = 0; i < fields->ColumnCount(); ++i) {
        TIB_Column* c = fields->GetColumn(i);
        if (!c->GetIsModified() || c->GetReadOnly() || c->GetComputed()) continue;
        if (c->GetRelName() != rel || c->GetRelAlias() != entry) continue;
        text += vars.empty() ? AnsiString("  SET ") : AnsiString("    , ");
        text += c->GetFieldName() + " = ?";
        vars.push_back({c, false});
      }
      if (vars.empty()) continue;
      text += AnsiString(kCRLF) + "WHERE CURRENT OF " + dataset_->UpdateCursorName();
      if (RunImmediate(text, vars).UpdateCount == 0)
        throw EIB_DatasetError(this, CZ("Záznam nebyl nalezen, aby mohl být změněn"));
      changed = true;
    }
  } catch (...) {
    if (changed) ChangeMade(ukEdit);
    throw;
  }
  if (changed) ChangeMade(ukEdit);
}

bool TIB_UpdateSQL::ExecuteLock() {
  GetLockStatement();
  int32_t rows = 0, type = 0;
  RunKept(lock_, rows, type);
  const bool locked = rows == 1 || type != isc_info_sql_stmt_update;
  if (locked && lock_.Statement->FieldCount() > 0) ReturnOutputValues(lock_.Statement);
  return locked;
}

void TIB_UpdateSQL::ExecuteInsert() {
  refresh_after_insert_ = false;
  if (insert_sql_->Count() > 0 || prepared_inserts_) {
    GetInsertStatement();
    if (insert_.Statement->SQL()->Count() == 0) {
      throw EIB_DatasetError(DS(), "Invalid INSERT statement: No columns");
    }
    int32_t rows = 0, type = 0;
    RunKept(insert_, rows, type);
    if (rows == 0 && type == isc_info_sql_stmt_insert)
      throw EIB_DatasetError(this, CZ("Záznam nebyl vložen"));
    ChangeMade(ukInsert);
    if (rows > 1 && type == isc_info_sql_stmt_insert)
      throw EIB_DatasetError(this, CZ("Několik záznamů vloženo"));
    if (insert_.Statement->FieldCount() > 0) ReturnOutputValues(insert_.Statement);
    return;
  }
  CheckKeyRelation();
  const AnsiString key = KeyRelationK();
  TIB_Row* fields = DS()->Fields();
  std::vector<ImmediateVar> vars;
  vars.reserve(static_cast<size_t>(fields->ColumnCount()));
  for (int32_t i = 0; i < fields->ColumnCount(); ++i) {
    TIB_Column* c = fields->GetColumn(i);
    if (c->GetReadOnly() || c->GetComputed() || !OfKeyRelation(c, key)) continue;
    // A column left null is omitted so that the server's default applies; one the user
    // set to null after the new row was made is named, or the default would replace it.
    if (c->GetIsNull() && !c->GetIsModified()) {
      if (c->GetHasServerDefault()) refresh_after_insert_ = true;
      continue;
    }
    vars.push_back({c, false});
  }
  if (vars.empty()) throw EIB_DatasetError(DS(), "Invalid INSERT statement: No columns");
  // The text differs only by the columns it names: the dataset keeps each one prepared.
  RunImmediate(InsertText(key, vars), vars, true);
  ChangeMade(ukInsert);
}

const AnsiString& TIB_UpdateSQL::InsertText(const AnsiString& Key, const std::vector<ImmediateVar>& Vars) {
  // The names of the columns and of the table stand while the dataset stays prepared;
  // identifiers are made under the reserved-word rule of the moment.
  const bool check = ReservedWordCheck();
  for (size_t i = 0; i < insert_texts_.size(); ++i) {
    const InsertTextEntry& t = insert_texts_[i];
    if (t.Check != check || t.Key != Key || t.Columns.size() != Vars.size()) continue;
    bool same = true;
    for (size_t j = 0; same && j < Vars.size(); ++j) same = t.Columns[j] == Vars[j].Column;
    if (!same) continue;
    if (i > 0) std::rotate(insert_texts_.begin(), insert_texts_.begin() + static_cast<std::ptrdiff_t>(i),
                           insert_texts_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
    return insert_texts_.front().Text;
  }
  AnsiString cols, vals;
  InsertTextEntry t{Key, check, {}, {}};
  for (const ImmediateVar& v : Vars) {
    const AnsiString sep = AnsiString(kCRLF) + (t.Columns.empty() ? "( " : ", ");
    cols += sep + v.Column->GetFieldName();
    vals += sep + "? /* " + v.Column->GetAliasName() + " */";
    t.Columns.push_back(v.Column);
  }
  t.Text = "INSERT INTO " + InsertTableName() + cols + " )" + kCRLF + "VALUES " + vals + " )";
  if (insert_texts_.size() >= kInsertTexts) insert_texts_.pop_back();
  insert_texts_.insert(insert_texts_.begin(), std::move(t));
  return insert_texts_.front().Text;
}

void TIB_UpdateSQL::ExecuteDelete() {
  if (delete_sql_->Count() == 0 && dataset_->CachedUpdatesMode()) {
    if (!searched_deletes_) throw EIB_DatasetError(this, "Not ready yet");
    CheckKeyRelation();
    std::vector<ImmediateVar> vars;
    const AnsiString text = "DELETE FROM " + RelationR() + kCRLF + kCRLF + "WHERE " +
                            ImmediateKeyConditions(vars);
    const int32_t rows = RunImmediate(text, vars).DeleteCount;
    if (rows == 0) throw EIB_DatasetError(this, CZ("Záznam nebyl nalezen, aby mohl být smazán"));
    ChangeMade(ukDelete);
    if (rows > 1) throw EIB_DatasetError(this, CZ("Několik záznamů smazáno"));
    return;
  }
  GetDeleteStatement();
  int32_t rows = 0, type = 0;
  RunKept(delete_, rows, type);
  if (rows == 0 && type == isc_info_sql_stmt_delete)
    throw EIB_DatasetError(this, CZ("Záznam nebyl nalezen, aby mohl být smazán"));
  ChangeMade(ukDelete);
  if (rows > 1) throw EIB_DatasetError(this, CZ("Několik záznamů smazáno"));
}

}  // namespace pelvar
