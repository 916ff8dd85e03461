// Editing a dataset: Edit, Insert, Append, Delete, Post, PostRetaining and Cancel with
// their rights, checks, defaults, generator values, retries and events. The DML itself
// is generated and run by the internal update SQL.
#include <algorithm>
#include <exception>
#include <initializer_list>
#include <string>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Schema.h"
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_datasource.h"
#include "dbengine/IB_Components_updatesql.h"
#include "dbengine/IB_Parse.h"
#include "dbengine/ib_dataset_edit_internal.h"
#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// Counts one nesting level for the life of a scope, whatever happens.
class NestingGuard {
 public:
  explicit NestingGuard(int32_t& Counter) : counter_(Counter) { CheckedInc(counter_); }
  ~NestingGuard() { --counter_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  int32_t& counter_;
};

AnsiString Quoted(const AnsiString& Name) {
  if (!Name.empty() && Name.front() == '"') return Name;
  return "\"" + Name + "\"";
}

}  // namespace

// --- Properties --------------------------------------------------------------------------------

void TIB_Dataset::SetReadOnly(bool Value) {
  if (read_only_ == Value) return;
  read_only_ = Value;
  StateChanged();
}

void TIB_Dataset::SetPreventEditing(bool Value) {
  if (prevent_editing_ == Value) return;
  prevent_editing_ = Value;
  StateChanged();
}

void TIB_Dataset::SetPreventInserting(bool Value) {
  if (prevent_inserting_ == Value) return;
  prevent_inserting_ = Value;
  StateChanged();
}

void TIB_Dataset::SetPreventDeleting(bool Value) {
  if (prevent_deleting_ == Value) return;
  prevent_deleting_ = Value;
  StateChanged();
}

void TIB_Dataset::SetRequestLive(bool Value) {
  if (request_live_ == Value) return;
  if (GetActive() && !IsLoading()) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotChangeRequestLive));
  }
  request_live_ = Value;
  ColumnRulesChanged();
  if (Value) {
    if (SQL()->GetSection(ssForUpdate).empty() && !(SearchedEdits() && SearchedDeletes())) {
      InvalidateSQL();
    }
  } else if (!SQL()->GetSection(ssForUpdate).empty()) {
    GetSQLSection(ssForUpdate)->Clear();
  }
  StateChanged();
}

void TIB_Dataset::SetAutoPostDelete(bool Value) {
  auto_post_delete_ = Value;
  if (Value && state_ == dstDelete) Post();
}

void TIB_Dataset::SetDefaultValues(TStrings* Value) { default_values_->Assign(Value); }
void TIB_Dataset::SetConfirmDeletePrompt(TStrings* Value) { confirm_delete_prompt_->Assign(Value); }

void TIB_Dataset::SetGeneratorLinks(TStrings* Value) {
  generator_links_->SetText(Value ? Trim(Value->Text()) : AnsiString());
}

bool TIB_Dataset::PreparedEdits() const { return update_sql_->PreparedEdits(); }
bool TIB_Dataset::PreparedInserts() const { return update_sql_->PreparedInserts(); }
bool TIB_Dataset::SearchedEdits() const { return update_sql_->SearchedEdits(); }
bool TIB_Dataset::SearchedDeletes() const { return update_sql_->SearchedDeletes(); }

void TIB_Dataset::SetPreparedEdits(bool Value) {
  if (update_sql_->PreparedEdits() == Value) return;
  update_sql_->SetPreparedEdits(Value);
  StateChanged();
}

void TIB_Dataset::SetPreparedInserts(bool Value) {
  if (update_sql_->PreparedInserts() == Value) return;
  update_sql_->SetPreparedInserts(Value);
  StateChanged();
}

void TIB_Dataset::SetSearchedEdits(bool Value) {
  if (update_sql_->SearchedEdits() == Value) return;
  update_sql_->SetSearchedEdits(Value);
  StateChanged();
}

void TIB_Dataset::SetSearchedDeletes(bool Value) {
  if (update_sql_->SearchedDeletes() == Value) return;
  update_sql_->SetSearchedDeletes(Value);
  StateChanged();
}

TIB_StringList* TIB_Dataset::EditSQL() const { return update_sql_->EditSQL(); }
TIB_StringList* TIB_Dataset::InsertSQL() const { return update_sql_->InsertSQL(); }
TIB_StringList* TIB_Dataset::DeleteSQL() const { return update_sql_->DeleteSQL(); }
TIB_StringList* TIB_Dataset::LockSQL() const { return update_sql_->LockSQL(); }
void TIB_Dataset::SetEditSQL(TStrings* Value) { update_sql_->EditSQL()->Assign(Value); }
void TIB_Dataset::SetInsertSQL(TStrings* Value) { update_sql_->InsertSQL()->Assign(Value); }
void TIB_Dataset::SetDeleteSQL(TStrings* Value) { update_sql_->DeleteSQL()->Assign(Value); }
void TIB_Dataset::SetLockSQL(TStrings* Value) { update_sql_->LockSQL()->Assign(Value); }

// --- Rights ------------------------------------------------------------------------------------

bool TIB_Dataset::GetReadOnly() const {
  if (read_only_) return true;
  if (ComponentState().Contains(csDesigning)) return false;
  TIB_Transaction* tr = IB_Transaction();
  return tr == nullptr || tr->ReadOnly();
}

bool TIB_Dataset::HasCustomDML(int32_t Kind) const {
  switch (Kind) {
    case 0: return EditSQL()->Count() > 0;
    case 1: return InsertSQL()->Count() > 0;
    case 2: return DeleteSQL()->Count() > 0;
    default: return false;
  }
}

// --- Column rule --------------------------------------------------------------------------------

void TIB_Dataset::GetColumnReadOnly(const TIB_Column* Column, bool& ReadOnly) {
  if (ReadOnly) return;
  if (Column->Row()->RowType() != rtFields) {
    TIB_Statement::GetColumnReadOnly(Column, ReadOnly);
    return;
  }
  TIB_DatasetState state = state_;
  if (state == dstBrowse && Column->Row()->RowState() == 0) state = dstPrepared;
  switch (state) {
    case dstBrowse:
    case dstEdit:
      if (EditSQL()->Count() > 0) {
        ReadOnly = !update_sql_->EditWritesColumn(Column);
      } else {
        TIB_Statement::GetColumnReadOnly(Column, ReadOnly);
        // The SELECT names the columns it means to update; the server would take the
        // others through the cursor as well, against what the statement says.
        if (!ReadOnly && !Column->GetComputed() && !Column->GetIsExpression())
          ReadOnly = !ForUpdateAllows(Column);
      }
      break;
    case dstPrepared:
    case dstInsert:
      if (InsertSQL()->Count() > 0) {
        ReadOnly = !update_sql_->InsertWritesColumn(Column);
      } else {
        TIB_Statement::GetColumnReadOnly(Column, ReadOnly);
      }
      break;
    default:
      ReadOnly = true;
      break;
  }
}

namespace {

// A column name of the FOR UPDATE OF list as the server stores it: without its relation,
// unquoted, and upper-cased unless it was quoted.
AnsiString ServerColumnName(const AnsiString& Entry) {
  AnsiString name = Trim(Entry);
  bool quoted = false;
  size_t last_dot = AnsiString::npos;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '"') quoted = !quoted;
    else if (name[i] == '.' && !quoted) last_dot = i;
  }
  if (last_dot != AnsiString::npos) name = Trim(name.substr(last_dot + 1));
  if (name.size() >= 2 && name.front() == '"' && name.back() == '"') return StripQuotes(name);
  return AnsiUpperCase(name);
}

}  // namespace

bool TIB_Dataset::ForUpdateAllows(const TIB_Column* Column) {
  const AnsiString sql = SQL()->Text();
  if (sql != for_update_sql_) {
    for_update_sql_ = sql;
    for_update_columns_.clear();
    TStringList list;
    GetForUpdateColumns(sql, &list);
    for (int32_t i = 0; i < list.Count(); ++i) {
      const AnsiString name = ServerColumnName(list.Strings(i));
      if (!name.empty()) for_update_columns_.push_back(name);
    }
  }
  if (for_update_columns_.empty()) return true;
  const XSQLVAR* var = Column->PSQLVAR();
  const AnsiString name(var->sqlname, static_cast<size_t>(std::max<int16_t>(var->sqlname_length, 0)));
  return std::find(for_update_columns_.begin(), for_update_columns_.end(), name) !=
         for_update_columns_.end();
}

namespace {

// Every key column belongs to the key relation, by name or by alias.
bool SingleRelationKey(TIB_Statement& S) {
  const AnsiString relation = S.GetEffectiveKeyRelation();
  TIB_Row* keys = S.KeyFields();
  if (relation.empty() || keys == nullptr || keys->ColumnCount() == 0) return false;
  const AnsiString wanted = Quoted(relation);
  for (int32_t i = 0; i < keys->ColumnCount(); ++i) {
    TIB_Column* c = keys->GetColumn(i);
    if (!AnsiSameText(Quoted(c->GetRelName()), wanted)) return false;
  }
  return true;
}

}  // namespace

bool TIB_Dataset::GetCanEdit() {
  bool result = Prepared() && !GetReadOnly() && !prevent_editing_ && IsSelectStatement() &&
                Fields()->RowState() != 0 && state_ != dstInsert;
  if (result && EditSQL()->Count() == 0) {
    result = request_live_ && (!SearchedEdits() || SingleRelationKey(*this));
  }
  if (result && OnGetCanModify) OnGetCanModify(this, cmEdit, result);
  return result;
}

bool TIB_Dataset::GetCanInsert() {
  bool result = Prepared() && !GetReadOnly() && !prevent_inserting_ && IsSelectStatement();
  if (result && InsertSQL()->Count() == 0) result = !GetEffectiveKeyRelation().empty();
  if (result && OnGetCanModify) OnGetCanModify(this, cmInsert, result);
  return result;
}

bool TIB_Dataset::GetCanDelete() {
  bool result = Prepared() && !GetReadOnly() && !prevent_deleting_ && IsSelectStatement() &&
                state_ != dstInsert && Fields()->RowState() != 0;
  if (result && DeleteSQL()->Count() == 0) {
    result = request_live_ && !GetEffectiveKeyRelation().empty() &&
             (!SearchedDeletes() || SingleRelationKey(*this));
  }
  if (result && OnGetCanModify) OnGetCanModify(this, cmDelete, result);
  return result;
}

// --- Public operations -------------------------------------------------------------------------

void TIB_Dataset::Edit() {
  if (!Prepared()) Prepare();
  if (Fields()->RowState() != 0 || !GetCanInsert()) {
    if (!GetCanEdit()) {
      StateChanged();
      throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotEditRow));
    }
    SysEdit();
  } else {
    SysInsert();
  }
}

void TIB_Dataset::Insert() {
  if (!Prepared()) Prepare();
  if (!GetCanInsert()) {
    StateChanged();
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotInsertRow));
  }
  SysInsert();
}

void TIB_Dataset::Append() {
  if (!Prepared()) Prepare();
  if (!GetCanInsert()) {
    StateChanged();
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotInsertRow));
  }
  if (!GetUnidirectional()) {
    const int32_t aborts = FetchAbortCount();
    FetchAll();
    if (FetchAbortCount() != aborts) return;
    SetRowNum(GetBufferRowCount() + 1);
  }
  SysInsert();
}

void TIB_Dataset::Delete() {
  if (!GetCanDelete()) {
    StateChanged();
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotDeleteRow));
  }
  SysDelete();
}

void TIB_Dataset::Post() {
  if (!GetIsEditing() && state_ != dstSearch) {
    StateChanged();
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotPostRecord));
  }
  SysPost(false, false);
}

void TIB_Dataset::PostRetaining() {
  if (GetIsEditing() || state_ == dstSearch) SysPost(false, true);
}

void TIB_Dataset::Cancel() {
  if (!GetIsEditing() && state_ != dstSearch) {
    StateChanged();
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CannotCancelRecord));
  }
  SysCancel();
}

bool TIB_Dataset::ConfirmDelete() {
  if (OnConfirmDelete) {
    bool confirmed = true;
    OnConfirmDelete(this, confirmed);
    return confirmed;
  }
  if (confirm_delete_prompt_->Count() > 0) {
    return MessageDlg(confirm_delete_prompt_->Text(), mtWarning, TMsgDlgButtons{mbOK, mbCancel}) == mrOk;
  }
  return true;
}

// --- Retries -----------------------------------------------------------------------------------

void TIB_Dataset::ExecuteWithRetry(const TIB_DataSetErrorEvent& ErrorEvent,
                                   const std::function<void()>& Step) {
  for (;;) {
    try {
      Step();
      return;
    } catch (EIB_Error& E) {
      TIB_DataAction action = dacFail;
      if (ErrorEvent) ErrorEvent(this, E, action);
      if (action == dacFail) throw;
      if (action == dacAbort) Abort();
    }
  }
}

// --- Edit, insert, delete ----------------------------------------------------------------------

void TIB_Dataset::SysEdit() {
  if (!GetCanEdit() || state_ == dstEdit || state_ == dstInsert) return;
  FireDatasetEvent(BeforeEdit, false);
  SysPost(false, false);
  ExecuteWithRetry(OnEditError, [this] { SysLockRow(); });
  try {
    SetState(dstEdit);
    {
      NestingGuard own(own_assignments_);
      AssignMasterLinkValues();
    }
    FireDatasetEvent(AfterEdit, false);
  } catch (...) {
    SysCancel();
    throw;
  }
}

void TIB_Dataset::SysInsert() {
  if (!GetCanInsert() || inserting_) return;
  FireDatasetEvent(BeforeInsert, false);
  inserting_ = true;
  try {
    reopen_in_search_ = state_ == dstSearch || (Active() && reopen_in_search_);
    SysPost(false, false);
    PostDetails();
  } catch (...) {
    inserting_ = false;
    throw;
  }
  try {
    TIB_Row* row = Fields();
    row->BeginUpdate();
    try {
      // The forward-only cursor has no place for a new row: it closes.
      if (GetUnidirectional() && Active()) SysClose();
      row->ClearRow(0);
      SetState(dstInsert);
      DoNewRecord();
      row->SetRowLoaded(false, false, false);
    } catch (...) {
      row->EndUpdate(true);
      throw;
    }
    row->EndUpdate(true);
    FireDatasetEvent(AfterInsert, false);
    inserting_ = false;
  } catch (...) {
    inserting_ = false;
    SysCancel();
    throw;
  }
}

void TIB_Dataset::DoNewRecord() {
  {
    NestingGuard own(own_assignments_);
    AssignMasterLinkValues();
    ApplyDefaultValues();
    ApplyGeneratorLinks();
    if (get_server_defaults_) ApplyServerDefaults(false);
  }
  FireDatasetEvent(OnNewRecord, false);
}

namespace {

// The value of the first of the names that List has an entry for.
bool FindEntry(const TStrings* List, std::initializer_list<AnsiString> Names, AnsiString& Value) {
  if (List == nullptr || List->Count() == 0) return false;
  for (const AnsiString& name : Names) {
    if (name.empty()) continue;
    const int index = List->IndexOfName(name);
    if (index >= 0) {
      Value = List->ValueFromIndex(index);
      return true;
    }
  }
  return false;
}

}  // namespace

void TIB_Dataset::ApplyDefaultValues() {
  TIB_Connection* conn = IB_Connection();
  // Without entries there is nothing to look up (nor names to build for every column).
  if ((default_values_ == nullptr || default_values_->Count() == 0) &&
      (conn == nullptr || conn->DefaultValues() == nullptr || conn->DefaultValues()->Count() == 0))
    return;
  TIB_Row* row = Fields();
  for (int32_t i = 0; i < row->ColumnCount(); ++i) {
    TIB_Column* c = row->GetColumn(i);
    if (!c->GetIsNull()) continue;
    // By relation (or alias) and alias name, by relation and field name, and by the
    // name the column shows, which is its bare alias name in a single-relation SELECT.
    const std::initializer_list<AnsiString> names{c->GetQualifiedAliasName(),
                                                  c->GetQualifiedFieldName(), c->GetFullName()};
    AnsiString value;
    bool found = FindEntry(default_values_.get(), names, value);
    if (!found && conn != nullptr) {
      found = FindEntry(conn->DefaultValues(), names, value);
      if (!found && conn->FieldEntryTypes().Contains(fetDomainName))
        found = FindEntry(conn->DefaultValues(), {c->GetDomainName()}, value);
    }
    if (!found) continue;
    SubstituteMacros(value, value);
    c->SetAsString(value);
  }
}

int64_t TIB_Dataset::GetGeneratorValue(const AnsiString& Generator) {
  // A failed read raises: a row must never be posted with a made-up key.
  int64_t value = -1;
  AnsiString reason;
  if (!pelvar::GetGeneratorValue(IB_Connection(), IB_Transaction(), Generator, 1, value, &reason)) {
    throw EIB_DatasetError(this, Format(CZ("Nemohu získat hodnotu generátoru %s"), {Generator}) +
                                     (reason.empty() ? AnsiString() : ":\r\n" + reason));
  }
  return value;
}

void TIB_Dataset::ApplyGeneratorLinks() {
  TIB_Connection* conn = IB_Connection();
  auto assign = [&](TIB_Column* c, const AnsiString& generator) {
    const AnsiString ident = conn ? conn->MakeIdent(generator) : generator;
    const AnsiString value = IntToStr(GetGeneratorValue(ident));
    c->SetAsString(value);
    if (c->GetIsNull()) {
      c->SetIsNull(false);
      c->SetAsString(value);
    }
  };
  for (int32_t i = 0; i < generator_links_->Count(); ++i) {
    const AnsiString name = Trim(generator_links_->Names(i));
    const AnsiString generator = Trim(generator_links_->ValueFromIndex(i));
    if (name.empty() || generator.empty()) continue;
    TIB_Column* c = FieldByName(name);
    if (c->GetIsNull()) assign(c, generator);
  }
  // The connection's links serve every dataset: each null column that has an entry there.
  if (conn == nullptr || conn->GeneratorLinks()->Count() == 0) return;
  TIB_Row* row = Fields();
  for (int32_t i = 0; i < row->ColumnCount(); ++i) {
    TIB_Column* c = row->GetColumn(i);
    if (!c->GetIsNull()) continue;
    AnsiString generator;
    if (!FindEntry(conn->GeneratorLinks(),
                   {c->GetQualifiedAliasName(), c->GetQualifiedFieldName(), c->GetFullName()},
                   generator)) {
      continue;
    }
    generator = Trim(generator);
    if (!generator.empty()) assign(c, generator);
  }
}

void TIB_Dataset::SysDelete() {
  if (!GetCanDelete()) return;
  FireDatasetEvent(BeforeDelete, false);
  SysCancel();
  CancelDetailInserts();
  SetState(dstDelete);
  if (auto_post_delete_) {
    try {
      Post();
    } catch (...) {
      SysResetState();
      throw;
    }
    FireDatasetEvent(AfterDelete, false);
  } else {
    try {
      FireDatasetEvent(AfterDelete, false);
    } catch (...) {
      SysCancel();
      throw;
    }
  }
}

// --- Post --------------------------------------------------------------------------------------

void TIB_Dataset::SysPost(bool OnlyIfModified, bool Retaining) {
  if (state_ == dstSearch) {
    // Posting a search runs it.
    ExecuteSearch(true);
    return;
  }
  if (!GetIsEditing()) return;
  if (posting_nesting_ > 0 && (!Retaining || retaining_nesting_ > 0)) return;
  NestingGuard posting(posting_nesting_);
  std::unique_ptr<NestingGuard> retaining;
  if (Retaining) retaining = std::make_unique<NestingGuard>(retaining_nesting_);
  const bool changing = state_ == dstEdit || state_ == dstInsert;
  if (changing) ProcessLinkEvent(dsetUpdateData, 0);
  DisableLinkEvents();
  try {
    if (changing) {
      NestingGuard own(own_assignments_);
      AssignMasterLinkValues();
    }
    TIB_Connection* conn = IB_Connection();
    const bool leaving = conn != nullptr && (conn->Status() == cstDisconnectPending ||
                                             conn->Status() == cstDropPending);
    const bool post = (!OnlyIfModified && !leaving) || Retaining || GetModified() || state_ == dstDelete;
    if (!post) {
      if (changing) SysCancel();
    } else {
      FireDatasetEvent(BeforePost, false);
      if (changing && CheckRequired) SysCheckRequired();
      if (!Retaining) ProcessLinkEvent(dsetBeforePost, 0);
      state_before_post_ = state_;
      post_succeeded_ = false;
      SysExecPostWithRetry();
      post_succeeded_ = true;
      std::exception_ptr failure;
      try {
        if (!Retaining) SysResetState();
      } catch (...) {
        failure = std::current_exception();
      }
      posted_retaining_ = Retaining;
      if (Retaining) Fields()->SetRowState(rsModified);
      if (Fields()->CalculatedCount() > 0) RecalculateFields();
      if (!CachedUpdates) {
        const uint8_t flag = state_before_post_ == dstEdit ? 4 : state_before_post_ == dstInsert ? 1 : 2;
        work_flags_ |= flag;
      }
      FireDatasetEvent(AfterPost, false);
      if (failure) std::rethrow_exception(failure);
    }
  } catch (...) {
    EnableLinkEvents();
    throw;
  }
  EnableLinkEvents();
}

void TIB_Dataset::SysExecPostWithRetry() {
  switch (state_) {
    case dstEdit:
      ExecuteWithRetry(OnPostError, [this] { SysPostEdit(); });
      break;
    case dstInsert:
      if (posted_retaining_) {
        ExecuteWithRetry(OnPostError, [this] { SysPostEdit(); });
      } else {
        ExecuteWithRetry(OnPostError, [this] { SysPostInsert(); });
      }
      break;
    case dstDelete:
      if (!ConfirmDelete()) Abort();
      CancelDetailInserts();
      ExecuteWithRetry(OnDeleteError, [this] {
        Fields()->RevertRow(false);
        SysExecuteDelete();
        if (GetUnidirectional()) Fields()->ClearRow(0);
      });
      break;
    default:
      break;
  }
}

void TIB_Dataset::SysPostEdit() {
  TIB_Row* row = Fields();
  try {
    row->PostBlobs();
    SysExecuteEdit();
  } catch (...) {
    row->AfterPostBlobs(false);
    throw;
  }
  row->AfterPostBlobs(true);
  row->SetRowLoaded(false, false, false);
}

void TIB_Dataset::SysPostInsert() {
  TIB_Row* row = Fields();
  try {
    row->PostBlobs();
    SysExecuteInsert();
  } catch (...) {
    row->AfterPostBlobs(false);
    throw;
  }
  row->AfterPostBlobs(true);
  // A retaining post keeps the inserted row: later posts update it and Cancel deletes it.
  if (GetUnidirectional() && retaining_nesting_ == 0) {
    row->ClearRow(0);
  } else {
    row->SetRowLoaded(false, false, false);
  }
}

void TIB_Dataset::SysExecuteEdit() {
  if (!(state_ == dstEdit || (state_ == dstInsert && (retaining_nesting_ > 0 || posted_retaining_)))) Abort();
  update_sql_->ExecuteEdit();
}

void TIB_Dataset::SysExecuteInsert() {
  if (state_ != dstInsert) Abort();
  update_sql_->ExecuteInsert();
}

void TIB_Dataset::SysExecuteDelete() {
  if (state_ == dstInsert && posted_retaining_) {
    TIB_Transaction* tr = IB_Transaction();
    if (tr != nullptr && tr->State() >= tsRollbackRetainingPending && tr->State() <= tsRollbackRefreshPending) {
      return;
    }
  } else if (state_ != dstDelete) {
    Abort();
  }
  update_sql_->ExecuteDelete();
}

void TIB_Dataset::SysCheckRequired() {
  const bool skip_server_defaults =
      state_ == dstInsert && !PreparedInserts() && InsertSQL()->Count() == 0;
  TIB_Row* row = Fields();
  for (int32_t i = 0; i < row->ColumnCount(); ++i) {
    TIB_Column* c = row->GetColumn(i);
    if (!c->GetIsNull() || c->GetReadOnly() || c->GetComputed() || !c->GetRequired()) continue;
    if (skip_server_defaults && c->GetHasServerDefault()) continue;
    // The link that shows the column takes the focus, so the user lands where to type.
    ProcessLinkEvent(dlnkFocusColumn, reinterpret_cast<intptr_t>(c));
    throw EIB_DatasetError(this, Format(IB_Message(TIB_Msg::FieldRequired), {c->GetDisplayLabel()}));
  }
}

void TIB_Dataset::SysLockRow() {
  if (!PessimisticLocking || CachedUpdates) return;
  TIB_Transaction* tr = IB_Transaction();
  if (tr != nullptr && (tr->LockWait() || tr->ServerAutoCommit())) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::PessimisticLockWait));
  }
  if (row_lock_held_) return;
  if (!update_sql_->ExecuteLock()) {
    throw EIB_DatasetError(this, "[" + Name() + "] " + IB_Message(TIB_Msg::RecordLocked));
  }
  row_lock_held_ = true;
  if (tr != nullptr) tr->AdjustRowLockCount(1);
}

void TIB_Dataset::SysBeforeFieldChange(TIB_Row* Row, TIB_Column* Column) {
  TIB_Statement::SysBeforeFieldChange(Row, Column);
  if (Row != Fields()) return;
  if (state_ == dstInactive) throw EIB_DatasetError(this, IB_Message(TIB_Msg::DatasetInactive));
  auto refuse_read_only = [&] {
    throw EIB_DatasetError(this, Format(IB_Message(TIB_Msg::FieldReadOnly),
                                        {Column->GetQualifiedAliasName()}));
  };
  if (state_ == dstEdit || state_ == dstInsert || state_ == dstDelete) {
    // A value the post would not write must not look changed: the column refuses it,
    // as it does in browse state. Computed and expression columns are the
    // application's to fill and are never written.
    if (own_assignments_ == 0 && Column != nullptr && Column->GetReadOnly() &&
        !Column->GetComputed() && !Column->GetIsExpression()) {
      refuse_read_only();
    }
    return;
  }
  if (state_ != dstPrepared && state_ != dstBrowse) return;
  if (GetReadOnly()) throw EIB_DatasetError(this, IB_Message(TIB_Msg::DatasetReadOnly));
  if (Column != nullptr && Column->GetReadOnly()) {
    if (Column->GetComputed() || Column->GetIsExpression()) return;
    refuse_read_only();
  }
  if (Row->RowState() != 0) {
    SysEdit();
  } else {
    SysInsert();
  }
}

// --- Cancel ------------------------------------------------------------------------------------

void TIB_Dataset::SysCancel() {
  if (state_ == dstSearch) {
    SysEndSearch();
    return;
  }
  if (!GetIsEditing() || cancelling_) return;
  cancelling_ = true;
  try {
    FireDatasetEvent(BeforeCancel, false);
    state_before_cancel_ = state_;
    TIB_Row* row = Fields();
    switch (state_) {
      case dstEdit:
      case dstDelete:
        row->CancelBlobs();
        row->RevertRow(true);
        break;
      case dstInsert:
        CancelDetailInserts();
        if (posted_retaining_) {
          SysExecuteDelete();
          if (GetUnidirectional()) row->ClearRow(0);
        } else {
          row->CancelBlobs();
          row->RevertRow(true);
          if (GetUnidirectional()) row->ClearRow(0);
        }
        break;
      default:
        break;
    }
  } catch (...) {
    cancelling_ = false;
    throw;
  }
  std::exception_ptr failure;
  try {
    SysResetState();
  } catch (...) {
    failure = std::current_exception();
  }
  posted_retaining_ = false;
  cancelling_ = false;
  FireDatasetEvent(AfterCancel, false);
  if (failure) std::rethrow_exception(failure);
}

}  // namespace pelvar
