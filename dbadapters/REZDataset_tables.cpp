// Queries and tables; the adapter's parameters, master links and output values.
#include <cstring>

#include "dbadapters/REZDataset.h"
#include "dbclient/IB_Header.h"
#include "dbclient/IB_SchemaCache.h"
#include "dbengine/IB_Parse.h"
#include "platform/application.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {
constexpr int32_t kStoredProcedure = 8;
// A parameter column's name: its alias (parameters have no relation field).
AnsiString ParamName(const TIB_Column* Column) { return Column->GetAliasName(); }
}

// ---------------------------------------------------------------------------------------------
// Parameters

void TREZDataset::RefreshParams() {
  if (!param_check_) {
    output_params_ = false;
    for (int32_t i = 0; i < params_->Count(); ++i) {
      const TParamType t = params_->Items(i)->ParamType();
      if (t == ptOutput || t == ptInputOutput) output_params_ = true;
    }
    params_synced_ = true;
    return;
  }
  ++master_binding_depth_;
  try {
    // While the SQL changes the statement still holds the old text: the new text counts.
    const bool from_server = Prepared() && !sql_changing_;
    const AnsiString sql = from_server ? internal_->GetServerSQLText() : internal_->SQL()->Text();
    const std::vector<AnsiString> names = REZParseParamNames(sql);
    int32_t count = static_cast<int32_t>(names.size());
    if (from_server) {
      count = internal_->ParamCount();
    } else if (internal_->BindSameNamedParams()) {
      // The statement will bind repeated names to one column.
      std::vector<AnsiString> unique;
      for (const AnsiString& n : names) {
        bool seen = false;
        for (const AnsiString& u : unique) seen = seen || AnsiSameText(u, n);
        if (!seen) unique.push_back(n);
      }
      count = static_cast<int32_t>(unique.size());
    }
    const bool outputs = executing_ || (Prepared() && GetStatementType() == kStoredProcedure);
    std::vector<AnsiString> fields;
    if (outputs && Prepared()) {
      for (int32_t i = 0; i < internal_->FieldCount(); ++i)
        fields.push_back(internal_->Fields()->GetColumn(i)->GetBDEFieldName());
    }
    output_params_ = REZMergeParams(*params_, names, count, outputs, fields);
    if (executing_) params_synced_ = true;
  } catch (...) {
    --master_binding_depth_;
    throw;
  }
  --master_binding_depth_;
}

void TREZDataset::AdjustParamTypes() {
  if (params_->Count() == 0 || !Prepared()) return;
  params_->BeginUpdate();
  try {
    TIB_Row* in_row = internal_->Params();
    bool dummy = false;
    for (int32_t i = 0; i < params_->Count(); ++i) {
      TParam* p = params_->Items(i);
      if (p->ParamType() >= ptResult) continue;
      TIB_Column* in = nullptr;
      TIB_Column* out = nullptr;
      in_row->FindColumn(p->Name(), in);
      internal_->Fields()->FindColumn(p->Name(), out);
      TParamType t = ptUnknown;
      if (in != nullptr && out != nullptr && GetStatementType() == kStoredProcedure)
        t = ptInputOutput;
      else if (in != nullptr)
        t = ptInput;
      else if (out != nullptr)
        t = ptOutput;
      p->SetParamType(t);
      TIB_Column* typed = in != nullptr ? in : out;
      if (typed == nullptr) continue;
      const TREZFieldMapping m = REZMapColumn(typed, dummy);
      if (m.DataType != ftUnknown && (m.DataType != p->DataType() || m.Precision != p->Precision())) {
        const Variant v = p->Value();
        const bool bound = p->Bound();
        p->SetDataType(m.DataType);
        p->SetPrecision(m.Precision);
        try {
          p->SetValue(v);
        } catch (...) {
          p->Clear();
        }
        p->SetBound(bound);
      }
    }
  } catch (...) {
    params_->EndUpdate();
    InternalHandleException();
    return;
  }
  params_->EndUpdate();
}

void TREZDataset::AssignParams(TParams& Source) {
  if (!Prepared()) Prepare();
  TIB_Row* row = internal_->Params();
  for (int32_t i = 0; i < Source.Count(); ++i) {
    TParam* p = Source.Items(i);
    if (p->ParamType() != ptInput && p->ParamType() != ptInputOutput && p->ParamType() != ptUnknown)
      continue;
    TIB_Column* col = nullptr;
    if (!row->FindColumn(p->Name(), col) && !row->FindColumn("PRM__" + IntToStr(i), col) &&
        i < row->ColumnCount())
      col = row->GetColumn(i);
    if (col == nullptr) continue;
    if (p->Bound()) REZAssignParamToColumn(p, col);
    if (&Source != params_.get()) {
      TParam* own = params_->FindParam(col->GetFullName());
      if (own == nullptr) own = params_->FindParam(col->GetAliasName());
      if (own != nullptr) {
        own->SetValue(p->Value());
        own->SetBound(p->Bound());
      }
    }
  }
}

void TREZDataset::BindMasterParams(bool Refresh) {
  if (master_binding_depth_ > 0 || !Prepared()) return;
  ++master_binding_depth_;
  TDataSet* master = master_link_->DataSet();
  if (master != nullptr && (!master->Active() || master->State() == dsSetKey)) master = nullptr;
  TIB_Row* row = internal_->Params();
  // The parameter row as it was, to tell whether a refresh must reopen; a plain open needs
  // no copy (a row of wide text parameters makes a long one).
  const AnsiString before = Refresh ? row->GetRowData() : AnsiString();
  try {
    row->BeginUpdate();
    if (params_->Count() > 0) AssignParams(*params_);
    for (int32_t i = 0; i < row->ColumnCount(); ++i) AssignParamFromMaster(row->GetColumn(i), master);
    row->EndUpdate(false);
    if (Refresh && Active() && row->GetRowData() != before) {
      DisableControls();
      try {
        Close();
        Open();
      } catch (...) {
        EnableControls();
        throw;
      }
      EnableControls();
    }
  } catch (...) {
    --master_binding_depth_;
    throw;
  }
  --master_binding_depth_;
}

void TREZDataset::AssignParamFromMaster(TIB_Column* Column, TDataSet* Master) {
  if (Column->Bound) return;
  if (Master != nullptr) {
    TField* f = Master->FindField(ParamName(Column));
    if (f == nullptr) f = Master->FindField(StripQuotes(ParamName(Column)));
    if (f != nullptr) {
      if (!Master->IsEmpty())
        REZAssignFieldToColumn(f, Column);
      else if (!Column->GetIsNull())
        Column->SetIsNull(true);
    }
  }
  // Range parameters take the applied range's key values (the key image holds the
  // column's bytes as the field row lays them out).
  const AnsiString name = ParamName(Column);
  const bool begin = AnsiSameText(name.substr(0, 5), "RBEG_");
  if ((begin || AnsiSameText(name.substr(0, 5), "REND_")) && !key_buffers_.empty()) {
    TIB_Column* source = nullptr;
    if (internal_->Fields()->FindColumn(name.substr(5), source) && source->BaseType() == Column->BaseType() &&
        source->GetSQLLen() == Column->GetSQLLen() && source->GetSQLScale() == Column->GetSQLScale()) {
      const uint8_t* image = KeyBuffer(begin ? 3 : 4) + kKeyHeader;
      const ptrdiff_t at = source->NullIndPtr() - internal_->Fields()->RowBuffer();
      const AnsiString bytes(reinterpret_cast<const char*>(image + at),
                             static_cast<size_t>(2 + source->GetBufferDataSize()));
      if (Column->GetColData() != bytes) Column->SetColData(bytes);
    }
  }
  // A value from the master does not bind the parameter: the next record rebinds it.
  Column->Bound = false;
}

void TREZDataset::InitMasterLinkFields() {
  TDataSet* master = master_link_->DataSet();
  if (master == nullptr || !master->Active() || master->State() == dsSetKey) return;
  TIB_Row* row = internal_->Params();
  const AnsiString where = internal_->SQL()->GetSection(ssWhere);
  for (int32_t i = 0; i < row->ColumnCount(); ++i) {
    TIB_Column* col = row->GetColumn(i);
    TField* m = master->FindField(ParamName(col));
    if (m == nullptr) continue;
    TField* detail = nullptr;
    const AnsiString marker = AnsiString(1, internal_->ParamChar()) + ParamName(col);
    const size_t at = AnsiUpperCase(where).find(AnsiUpperCase(marker));
    if (at != AnsiString::npos) {
      size_t e = at;
      while (e > 0 && (where[e - 1] == ' ' || where[e - 1] == '=')) --e;
      size_t b = e;
      while (b > 0 && where[b - 1] != ' ' && where[b - 1] != '(' && where[b - 1] != '\n' && where[b - 1] != '\r') --b;
      AnsiString name = where.substr(b, e - b);
      const size_t dot = name.rfind('.');
      if (dot != AnsiString::npos) name = name.substr(dot + 1);
      detail = FindField(StripQuotes(name));
    }
    if (detail == nullptr) detail = FindField(ParamName(col));
    if (detail == nullptr || !detail->IsNull()) continue;
    if (m->DataType() == ftLargeint)
      detail->SetAsString(m->AsString());
    else
      detail->SetAsVariant(m->AsVariant());
  }
}

void TREZDataset::FetchOutputParams() {
  if (!executing_ && GetStatementType() != kStoredProcedure) return;
  // The output values of a singleton execute are in the statement's field row, which
  // holds them before the statement counts as active.
  TIB_Row* out = internal_->TIB_Statement::Fields();
  const uint8_t state = out->RowState();
  const bool singleton = !Active() && internal_->OutputRowPresent() && state == rsEmpty;
  if (singleton) out->SetRowState(rsLoaded);
  struct Restore {
    TIB_Row* row;
    bool on;
    ~Restore() {
      if (on) row->SetRowState(rsEmpty);
    }
  } restore{out, singleton};
  for (int32_t i = 0; i < params_->Count(); ++i) {
    TParam* p = params_->Items(i);
    if (p->ParamType() != ptOutput && p->ParamType() != ptInputOutput) continue;
    const bool bound = p->Bound();
    if (Active()) {
      TField* f = FindField(p->Name());
      p->SetValue(f != nullptr ? f->AsVariant() : Null());
    } else {
      TIB_Column* c = nullptr;
      out->FindColumn(p->Name(), c);
      p->SetValue(c != nullptr && !c->GetIsNull() ? c->GetAsVariant() : Null());
    }
    p->SetBound(bound);
  }
}

// The range predicates of the applied range (of the range being edited while it is).
void TREZDataset::SysPrepareSQL() {
  if (key_buffers_.empty()) return;
  uint8_t* start = KeyBuffer(range_editing_ ? 1 : 3);
  uint8_t* end = KeyBuffer(range_editing_ ? 2 : 4);
  auto add = [&](uint8_t* key, const char* inclusive, const char* exclusive, const char* prefix) {
    const KeyHeader* h = KeyHead(key);
    if (h->Modified == 0) return;
    for (int32_t i = 0; i < h->FieldCount && i < GetIndexFieldCount(); ++i) {
      TIB_Column* c = nullptr;
      if (!internal_->Fields()->FindColumn(index_fields_[static_cast<size_t>(i)], c)) break;
      const AnsiString name = !c->GetFieldName().empty() ? c->GetFieldName() : c->GetAliasName();
      internal_->WhereCriteria()->Add(name + (h->Exclusive ? exclusive : inclusive) + "?" + prefix +
                                      c->GetBDEFieldName());
    }
  };
  add(start, " >= ", " > ", "RBEG_");
  add(end, " <= ", " < ", "REND_");
}

void TREZDataset::SQLChanged(TObject* List) {
  if (List != internal_->SQL()) return;
  params_synced_ = false;
  if (param_check_ && !internal_->Preparing()) {
    sql_changing_ = true;
    try {
      RefreshParams();
    } catch (...) {
      sql_changing_ = false;
      throw;
    }
    sql_changing_ = false;
    if (!ComponentState().Contains(csLoading) && !ComponentState().Contains(csReading))
      DataEvent(dePropertyChange, 0);
  }
}

// ---------------------------------------------------------------------------------------------
// Master link

TDataSet* TREZQueryDataLink::GetDetailDataSet() { return detail_; }

void TREZQueryDataLink::ActiveChanged() {
  if (detail_->Active()) detail_->BindMasterParams(true);
}

void TREZQueryDataLink::RecordChanged(TField* Field) {
  if (!detail_->Active() || DataSet() == nullptr) return;
  TIB_Row* row = detail_->InternalDataset()->Params();
  if (Field != nullptr) {
    TIB_Column* col = nullptr;
    if (row->FindColumn(Field->FieldName(), col) && col->GetAsString() != Field->AsString())
      detail_->BindMasterParams(true);
    return;
  }
  for (int32_t i = 0; i < row->ColumnCount(); ++i) {
    TIB_Column* col = row->GetColumn(i);
    TField* f = DataSet()->FindField(ParamName(col));
    if (f != nullptr && f->AsString() != col->GetAsString()) {
      detail_->BindMasterParams(true);
      break;
    }
  }
}

void TREZQueryDataLink::CheckBrowseMode() {
  if (DataSet() != nullptr && DataSet()->State() != dsInsert && detail_->Active())
    detail_->CheckBrowseMode();
}

// ---------------------------------------------------------------------------------------------
// Queries

void TREZQuery::SetSQL(const TStrings* Value) { internal_->SQL()->SetText(Value != nullptr ? Value->Text() : AnsiString()); }

// ---------------------------------------------------------------------------------------------
// Tables

AnsiString REZOrderingItems(const std::vector<AnsiString>& Fields, bool& FirstDescending) {
  AnsiString a = "TABLE ORDER=", b = ";";
  FirstDescending = false;
  for (size_t i = 0; i < Fields.size(); ++i) {
    AnsiString f = Trim(Fields[i]);
    bool desc = false;
    if (f.size() > 5 && AnsiSameText(f.substr(f.size() - 5), " DESC")) {
      f = TrimRight(f.substr(0, f.size() - 5));
      desc = true;
    }
    if (i == 0) FirstDescending = desc;
    if (i > 0) {
      a += ", ";
      b += ", ";
    }
    if (desc && !FirstDescending) {
      a += f + " DESC";
      b += f;
    } else if (desc) {
      a += f;
      b += f + " DESC";
    } else {
      a += f;
      b += f + " DESC";
    }
  }
  return a + b;
}

TREZBaseTable::TREZBaseTable(TComponent* Owner)
    : TREZDataset(Owner), master_fields_(std::make_unique<TIB_StringList>()) {
  SetRequestLive(true);
}

TREZBaseTable::~TREZBaseTable() = default;

void TREZBaseTable::SetTableName(const AnsiString& Value) {
  CheckInactive();
  Unprepare();
  internal_->CheckConnection(false);
  table_name_ = Trim(Value);
  building_sql_ = true;
  try {
    if (Trim(internal_->SQL()->Text()).empty()) {
      internal_->SQL()->SetText("SELECT ALL " + table_name_ + ".*\r\nFROM " + table_name_);
    } else {
      internal_->GetSQLSection(ssSelect)->SetText("SELECT ALL " + table_name_ + ".*");
      internal_->GetSQLSection(ssFrom)->SetText("FROM " + table_name_);
    }
  } catch (...) {
    building_sql_ = false;
    throw;
  }
  building_sql_ = false;
  internal_->SetKeyRelation(table_name_);
  index_defs_->SetUpdated(false);
}

const std::vector<AnsiString>& TREZDataset::PrimaryKeyFields() {
  const AnsiString rel = AnsiUpperCase(internal_->KeyRelation());
  if (rel == keys_for_ || rel.empty()) return key_fields_;
  key_fields_.clear();
  TIB_Connection* c = internal_->IB_Connection();
  if (c == nullptr || !c->Connected() || c->SchemaCache() == nullptr) return key_fields_;
  keys_for_ = rel;
  TStringList keys;
  c->SchemaCache()->GetTableKeys(internal_->KeyRelation(), &keys);
  for (int32_t i = 0; i < keys.Count(); ++i) {
    AnsiString k = keys.Strings(i);
    const size_t dot = k.rfind('.');
    if (dot != AnsiString::npos) k = k.substr(dot + 1);
    key_fields_.push_back(Trim(k));
  }
  return key_fields_;
}

void TREZBaseTable::SysPrepareSQL() {
  if (!table_name_.empty()) internal_->SetKeyRelation(table_name_);
  // A statement other than a SELECT (an INSERT run through ExecSQL) is left as it is.
  if (internal_->KeyRelation().empty() || internal_->SQL()->GetSection(ssSelect).empty()) return;
  std::vector<AnsiString> fields;
  bool index_desc = false;
  if (!index_field_names_.empty()) {
    fields = SplitToStrings(index_field_names_);
  } else if (!index_name_.empty()) {
    TIB_StringList* list = nullptr;
    const int32_t at = FindIndexEntry(index_name_, list);
    if (at < 0) throw EIB_Error("Index: " + index_name_ + " not found");
    AnsiString rel, segs;
    list->GetItemAttributeValue(at, "REL", rel);
    if (!AnsiSameText(StripQuotes(rel), StripQuotes(internal_->KeyRelation())))
      throw EIB_Error("Index: " + index_name_ + " is on the wrong table");
    list->GetItemAttributeValue(at, "SEGS", segs);
    fields = SplitToStrings(segs);
    index_desc = list->HasItemAttribute(at, "DESC");
  } else {
    fields = PrimaryKeyFields();
  }
  for (AnsiString& f : fields) f = Trim(f);
  index_fields_.clear();
  for (const AnsiString& f : fields) {
    AnsiString n = f;
    if (n.size() > 5 && AnsiSameText(n.substr(n.size() - 5), " DESC")) n = TrimRight(n.substr(0, n.size() - 5));
    index_fields_.push_back(n);
  }
  if (fields.empty()) {
    ordering_items_.clear();
    ordering_item_no_ = 0;
    internal_->SetOrderingItemNo(0);
    internal_->OrderingItems()->Clear();
    internal_->OrderingLinks()->Clear();
  } else {
    bool first_desc = false;
    ordering_items_ = REZOrderingItems(fields, first_desc);
    ordering_item_no_ = first_desc || index_desc ? -1 : 1;
    AnsiString first = fields[0];
    if (first.size() > 5 && AnsiSameText(first.substr(first.size() - 5), " DESC"))
      first = TrimRight(first.substr(0, first.size() - 5));
    if (internal_->OrderingItems()->Text() != ordering_items_ + "\r\n")
      internal_->OrderingItems()->SetText(ordering_items_);
    AnsiString link = first + "=ITEM=1";
    const bool has_keys = internal_->KeyLinks()->Count() > 0 || !PrimaryKeyFields().empty();
    if (has_keys && allow_horizontal_refinement_ && !AutoFetchAll() && DataSource() == nullptr &&
        BothWayIndexes(first))
      link += ";POS=0";
    if (internal_->OrderingLinks()->Text() != link + "\r\n") internal_->OrderingLinks()->SetText(link);
    internal_->SetOrderingItemNo(ordering_item_no_);
  }
  // Master fields become conditions bound from the master.
  if (DataSource() != nullptr) {
    for (int32_t i = 0; i < master_fields_->Count(); ++i) {
      const AnsiString line = Trim(master_fields_->Strings(i));
      AnsiString detail, master;
      const size_t eq = line.find('=');
      if (eq != AnsiString::npos) {
        detail = Trim(line.substr(0, eq));
        master = Trim(line.substr(eq + 1));
      } else {
        master = line;
        detail = i < static_cast<int32_t>(fields.size()) ? fields[static_cast<size_t>(i)] : master;
        if (detail.size() > 5 && AnsiSameText(detail.substr(detail.size() - 5), " DESC"))
          detail = TrimRight(detail.substr(0, detail.size() - 5));
      }
      internal_->WhereCriteria()->Add(detail + " = ?" + master);
    }
  }
  TREZDataset::SysPrepareSQL();
}

bool TREZBaseTable::BothWayIndexes(const AnsiString& Field) {
  TIB_StringList* list = nullptr;
  FindIndexEntry(AnsiString(), list);
  if (list == nullptr) return false;
  const AnsiString field = AnsiUpperCase(StripQuotes(Trim(Field)));
  bool ascending = false, descending = false;
  for (int32_t i = 0; i < list->Count(); ++i) {
    AnsiString rel, segs;
    list->GetItemAttributeValue(i, "REL", rel);
    if (!AnsiSameText(StripQuotes(rel), StripQuotes(internal_->KeyRelation()))) continue;
    list->GetItemAttributeValue(i, "SEGS", segs);
    segs = AnsiUpperCase(Trim(segs));
    if (segs.rfind(field, 0) != 0) {
      // The segments may be quoted.
      segs = StripQuotes(segs.substr(0, segs.find(',')));
      if (segs != field) continue;
    } else if (segs.size() > field.size() && !IsTokenDelimiter(segs[field.size()])) {
      continue;
    }
    (list->HasItemAttribute(i, "DESC") ? descending : ascending) = true;
  }
  return ascending && descending;
}

void TREZBaseTable::SetAllowHorizontalRefinement(bool Value) {
  if (Value == allow_horizontal_refinement_) return;
  allow_horizontal_refinement_ = Value;
  if (Prepared()) internal_->InvalidateSQL();
}

void TREZBaseTable::SQLChanged(TObject* List) {
  TREZDataset::SQLChanged(List);
  if (List != internal_->SQL() || building_sql_ || internal_->Preparing()) return;
  const AnsiString from = internal_->SQL()->GetSection(ssFrom);
  AnsiString rel = Trim(from.size() > 5 ? from.substr(5) : AnsiString());
  const size_t blank = rel.find_first_of(" \t\r\n,");
  if (blank != AnsiString::npos) rel = rel.substr(0, blank);
  internal_->SetKeyRelation(rel);
  if (!AnsiSameText(rel, table_name_)) table_name_.clear();
  index_defs_->SetUpdated(false);
}

void TREZBaseTable::ApplyIndexChange(const std::function<void()>& Change) {
  const AnsiString old_names = index_field_names_;
  const AnsiString old_index = index_name_;
  try {
    Change();
    if (Prepared()) {
      internal_->InvalidateSQL();
      if (Active()) {
        // Read again in the new order, staying on the current row.
        CheckBrowseMode();
        UpdateCursorPos();
        ResetRange();
        InternalRefresh();
        Resync({});
      } else {
        Prepare();
      }
    }
  } catch (...) {
    index_field_names_ = old_names;
    index_name_ = old_index;
    throw;
  }
}

void TREZBaseTable::SetIndexFieldNames(const AnsiString& Value) {
  AnsiString joined;
  for (const AnsiString& f : SplitToStrings(Value)) {
    const AnsiString t = Trim(f);
    if (t.empty()) continue;
    joined += (joined.empty() ? "" : ";") + t;
  }
  if (joined == index_field_names_) return;
  ApplyIndexChange([&] {
    index_name_.clear();
    index_field_names_ = joined;
  });
}

void TREZBaseTable::SetIndexName(const AnsiString& Value) {
  const AnsiString name = Trim(Value);
  if (name == index_name_) return;
  const AnsiString old_name = index_name_;
  try {
    ApplyIndexChange([&] {
      index_field_names_.clear();
      index_name_ = name;
    });
  } catch (...) {
    index_name_ = old_name;
    throw;
  }
}

int32_t TREZBaseTable::FindIndexEntry(const AnsiString& Name, TIB_StringList*& List) {
  List = nullptr;
  TIB_Connection* c = internal_->IB_Connection();
  if (c == nullptr || !c->Connected() || c->SchemaCache() == nullptr) return -1;
  List = c->SchemaCache()->IndexDefs();
  if (List == nullptr) return -1;
  for (int32_t i = 0; i < List->Count(); ++i)
    if (AnsiSameText(StripQuotes(List->GetItemName(i)), StripQuotes(Name))) return i;
  return -1;
}

void TREZBaseTable::UpdateIndexDefs() {
  if (ComponentState().Contains(csLoading) || ComponentState().Contains(csReading)) return;
  TIB_Connection* c = internal_->IB_Connection();
  if (c == nullptr) throw Exception("IB_Connection must be assigned");
  FieldDefs().Update();
  index_defs_->Clear();
  if (c->Connected() && c->SchemaCache() != nullptr) {
    TIB_StringList* list = c->SchemaCache()->IndexDefs();
    AnsiString rel = internal_->GetRelationByAlias(internal_->KeyRelation());
    if (rel.empty()) rel = internal_->KeyRelation();
    for (int32_t i = 0; list != nullptr && i < list->Count(); ++i) {
      AnsiString r, segs;
      list->GetItemAttributeValue(i, "REL", r);
      if (!AnsiSameText(StripQuotes(r), StripQuotes(rel))) continue;
      TIndexOptions options;
      if (list->HasItemAttribute(i, "PK")) options = options + TIndexOptions{ixPrimary, ixUnique};
      if (list->HasItemAttribute(i, "UN")) options.Include(ixUnique);
      const bool desc = list->HasItemAttribute(i, "DESC");
      if (desc) options.Include(ixDescending);
      list->GetItemAttributeValue(i, "SEGS", segs);
      AnsiString fields;
      for (const AnsiString& f : SplitToStrings(segs)) fields += (fields.empty() ? "" : ";") + StripQuotes(Trim(f));
      TIndexDef* def = index_defs_->Add(StripQuotes(list->GetItemName(i)), fields, options);
      if (desc) def->SetDescFields(fields);
    }
  }
  index_defs_->SetUpdated(true);
}

void TREZBaseTable::SetKeyExclusive(bool Value) {
  if (State() != dsSetKey || current_key_ == nullptr) DatabaseError(dbmsg::NotEditing(), this);
  KeyHead(current_key_)->Exclusive = Value ? 1 : 0;
}

void TREZBaseTable::ApplyRange() { ApplyKeyRange(); }

void TREZBaseTable::CancelRange() {
  CheckBrowseMode();
  if (ResetRange() && Active()) {
    closing_for_range_ = true;
    try {
      Close();
      Open();
    } catch (...) {
      closing_for_range_ = false;
      throw;
    }
    closing_for_range_ = false;
  }
}

AnsiString TREZBaseTable::MasterFields() const {
  AnsiString s;
  for (int32_t i = 0; i < master_fields_->Count(); ++i) s += (i > 0 ? ";" : "") + master_fields_->Strings(i);
  return s;
}

void TREZBaseTable::SetMasterFields(const AnsiString& Value) {
  if (Trim(Value) == Trim(MasterFields())) return;
  if (DataSource() != nullptr) CheckInactive();
  master_fields_->Clear();
  for (const AnsiString& f : SplitToStrings(Value))
    if (!Trim(f).empty()) master_fields_->Add(Trim(f));
  internal_->InvalidateSQL();
}

void TREZBaseTable::SetMasterSource(TDataSource* Value) {
  if (Value == DataSource()) return;
  const bool was_active = Active();
  Close();
  SetDataSource(Value);
  internal_->InvalidateSQL();
  if (was_active) Open();
}

void TREZBaseTable::AssignParamFromMaster(TIB_Column* Column, TDataSet* Master) {
  if (Master != nullptr) {
    const AnsiString name = ParamName(Column);
    for (int32_t i = 0; i < master_fields_->Count(); ++i) {
      const AnsiString line = master_fields_->Strings(i);
      const size_t eq = line.find('=');
      const AnsiString m = Trim(eq == AnsiString::npos ? line : line.substr(eq + 1));
      if (!AnsiSameText(m, name)) continue;
      if (TField* f = Master->FindField(m)) {
        REZAssignFieldToColumn(f, Column);
        return;
      }
    }
  }
  TREZDataset::AssignParamFromMaster(Column, Master);
}

void TREZBaseTable::InitMasterLinkFields() {
  TDataSet* master = master_link_->DataSet();
  if (master == nullptr || !master->Active() || master->State() == dsSetKey) return;
  const std::vector<AnsiString> index_names = SplitToStrings(index_field_names_);
  for (int32_t i = 0; i < master_fields_->Count(); ++i) {
    const AnsiString line = master_fields_->Strings(i);
    const size_t eq = line.find('=');
    const AnsiString m = Trim(eq == AnsiString::npos ? line : line.substr(eq + 1));
    AnsiString d = eq != AnsiString::npos                          ? Trim(line.substr(0, eq))
                   : i < static_cast<int32_t>(index_names.size()) ? Trim(index_names[static_cast<size_t>(i)])
                                                                  : m;
    TField* mf = master->FindField(m);
    if (mf == nullptr && m.find('.') != AnsiString::npos) mf = master->FindField(m.substr(m.rfind('.') + 1));
    TField* df = FindField(d);
    if (df == nullptr && d.find('.') != AnsiString::npos) df = FindField(d.substr(d.rfind('.') + 1));
    if (mf != nullptr && df != nullptr && df->IsNull()) df->AssignValue(mf);
  }
}

}  // namespace pelvar
