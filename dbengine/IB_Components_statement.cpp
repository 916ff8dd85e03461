// The statement component: binding to a connection and a transaction, the prepare and
// unprepare sequences with their events, the statement handle, the parameter and field
// rows, kept parameter values and the statement-link events.
#include "dbengine/IB_Components_statement.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Parse.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// Runs Body, then Finally, also when Body raises (the exception then passes on).
template <class Body, class Fin>
void TryFinally(Body body, Fin fin) {
  try {
    body();
  } catch (...) {
    fin();
    throw;
  }
  fin();
}

// Resets a flag when it goes out of scope.
class FlagGuard {
 public:
  explicit FlagGuard(bool& Flag) : flag_(Flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

// Makes the session's scratch descriptor area Index hold at least N entries.
XSQLDA* SizeScratch(TIB_Session* Session, int Index, int32_t N) {
  if (N < 1) N = 1;
  if (N > INT16_MAX) RaiseIntOverflow();
  XSQLDA*& da = Session->ScratchXSQLDA(Index);
  int16_t& count = Session->ScratchXSQLDACount(Index);
  if (da == nullptr || N > count) {
    void* block = da;
    ReallocBuffer(block, da == nullptr ? 0 : XSQLDA_LENGTH(count),
                  XSQLDA_LENGTH(static_cast<int16_t>(N)));
    da = static_cast<XSQLDA*>(block);
    count = static_cast<int16_t>(N);
  }
  da->version = SQLDA_VERSION1;
  da->sqln = count;
  return da;
}

bool IsRealHandle(isc_stmt_handle Handle) { return Handle != 0 && Handle != PlaceholderHandle; }

}  // namespace

// --- Statement link ---------------------------------------------------------------------------

TIB_StatementLink::TIB_StatementLink(TComponent* Owner) : TIB_Component(Owner) {}

TIB_StatementLink::~TIB_StatementLink() {
  SetStatement(nullptr);
  SetIB_Session(nullptr);
}

void TIB_StatementLink::SetStatement(TIB_Statement* Value) {
  if (Value == statement_) {
    return;
  }
  ProcessEvent(setBeforeAssignment, reinterpret_cast<intptr_t>(Value));
  TIB_Statement* previous = statement_;
  if (previous != nullptr) {
    previous->RemoveStatementLink(this);
  }
  statement_ = Value;
  if (Value != nullptr) {
    Value->AddStatementLink(this);
  }
  ProcessEvent(setAfterAssignment, reinterpret_cast<intptr_t>(previous));
}

void TIB_StatementLink::DoPrepareSQL() {
  if (OnPrepareSQL) {
    OnPrepareSQL(this, statement_);
  }
}

void TIB_StatementLink::ProcessEvent(uint8_t Code, intptr_t) {
  if (Code == setPreparedChanged && OnPreparedChanged) {
    OnPreparedChanged(this, statement_);
  }
}

bool TIB_StatementLink::GetPrepared() const {
  return statement_ != nullptr && statement_->Prepared();
}

bool TIB_StatementLink::GetActive() const {
  return statement_ != nullptr && statement_->Active();
}

// --- Construction and destruction -------------------------------------------------------------

TIB_Statement::TIB_Statement(TComponent* Owner) : TIB_RowOwner(Owner) {
  sql_ = std::make_unique<TIB_SQLStrings>(this);
  sql_->OnChange = [this](TObject* List) { SQLChanged(List); };
  join_links_ = std::make_unique<TIB_StringProperty>();
  join_links_->OnChange = [this](TObject* List) { SQLChanged(List); };
  relation_aliases_ = std::make_unique<TIB_StringProperty>();
  relation_aliases_->OnChange = [this](TObject*) { ColumnRulesChanged(); };
  pending_param_values_ = std::make_unique<TIB_StringProperty>();
  param_names_ = std::make_unique<TIB_StringList>();
  select_items_ = std::make_unique<TIB_StringList>();
  third_list_ = std::make_unique<TIB_StringList>();
  saved_param_values_ = std::make_unique<TIB_StringProperty>();
  sql_history_ = std::make_unique<TIB_StringList>();
  params_ = std::make_unique<TIB_Row>(this, rtParams);
  params_->OnRowStateChanged = [this](TIB_Row* Row) { ParamsStateChanged(Row); };
  params_->OnColumnChanging = [this](TIB_Row* Row, TIB_Column* C) { SysBeforeParamChange(Row, C); };
  params_->OnDataChange = [this](TIB_Row* Row, TIB_Column* C) { SysAfterParamChange(Row, C); };
  fields_ = std::make_unique<TIB_Row>(this, rtFields);
  fields_->OnRowStateChanged = [this](TIB_Row* Row) { FieldsStateChanged(Row); };
  fields_->OnColumnChanging = [this](TIB_Row* Row, TIB_Column* C) { SysBeforeFieldChange(Row, C); };
  fields_->OnDataChange = [this](TIB_Row* Row, TIB_Column* C) { DoLinkQuery(Row, C); };
  key_fields_ = std::make_unique<TIB_Row>(this, rtKeyFields);
  key_fields_->SetManaged(true);
  hints_ = std::make_unique<TIB_StringProperty>();
  hints_->OnChange = [this](TObject* List) { HintsChanged(List); };
  column_attributes_ = std::make_unique<TIB_StringProperty>();
  calculated_fields_ = std::make_unique<TIB_StringProperty>();
  calculated_fields_->OnChange = [this](TObject* List) { SQLChanged(List); };
  for (auto& list : fields_lists_) {
    list = std::make_unique<TIB_StringProperty>();
    list->OnChange = [this](TObject* List) { FieldsPropertyChanged(List); };
  }
  connection_link_ = new TIB_ConnectionLink(this);
  connection_link_->OnProcessEvent = [this](TIB_ConnectionLink* L, TIB_ConnectionEventType E) {
    ProcessConnectionEvent(L, E);
  };
  transaction_link_ = new TIB_TransactionLink(this);
  transaction_link_->OnProcessEvent = [this](TIB_TransactionLink* L, uint8_t E) {
    ProcessTransactionEvent(L, E);
  };
}

TIB_Statement::~TIB_Statement() {
  // No Before or After handler fires from here on.
  Destroying();
  try {
    SysFreeHandle(true);
  } catch (...) {
    prepared_ = false;
    TIB_Connection* conn = IB_Connection();
    try {
      if (conn != nullptr && IsRealHandle(stmt_handle_)) {
        conn->ReleaseStatementHandle(stmt_handle_);
      }
    } catch (...) {
      // Going anyway.
    }
  }
  try {
    SetIB_Transaction(nullptr);
  } catch (...) {
    // Going anyway.
  }
  try {
    SetIB_Connection(nullptr);
  } catch (...) {
    // Going anyway.
  }
  while (!links_.empty()) {
    const size_t before = links_.size();
    links_.front()->SetStatement(nullptr);
    if (links_.size() == before) {
      links_.erase(links_.begin());
    }
  }
  sql_->OnChange = nullptr;
  join_links_->OnChange = nullptr;
  calculated_fields_->OnChange = nullptr;
  hints_->OnChange = nullptr;
  for (auto& list : fields_lists_) list->OnChange = nullptr;
  connection_link_->OnProcessEvent = nullptr;
  transaction_link_->OnProcessEvent = nullptr;
  params_->ClearColumns();
  fields_->ClearColumns();
  key_fields_->ClearColumns();
  SetIB_Session(nullptr);
}

void TIB_Statement::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) {
    return;
  }
  if (session_ != nullptr && !internal_) {
    RemoveFromComponentList(session_->StatementList(), this);
  }
  TIB_Component::SetIB_Session(Value);
  if (session_ != nullptr && !internal_) {
    session_->StatementList().push_back(this);
  }
}

void TIB_Statement::Loaded() {
  TIB_RowOwner::Loaded();
  if (!IsLoading()) {
    CheckPendingPrepare();
  }
}

void TIB_Statement::CheckPendingPrepare() {
  if (!pending_prepare_) {
    return;
  }
  try {
    SysPrepare();
  } catch (...) {
    // A failed deferred prepare stays silent; the request stays pending.
  }
  if (prepared_) {
    pending_prepare_ = false;
  }
}

void TIB_Statement::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent == internal_transaction_) {
    internal_transaction_ = nullptr;
  }
  TIB_RowOwner::Notification(AComponent, Operation);
}

void TIB_Statement::DoStatementEvent(const TIB_StatementEvent& Handler) {
  if (Handler && !IsLoading() && !IsDestroying()) {
    Handler(this);
  }
}

// --- SQL ---------------------------------------------------------------------------------------

void TIB_Statement::SetSQL(const TStrings* Value) {
  if (Value == nullptr) {
    sql_->Clear();
  } else if (auto* other = dynamic_cast<const TIB_SQLStrings*>(Value)) {
    if (other != sql_.get()) sql_->Assign(const_cast<TIB_SQLStrings*>(other));
  } else {
    sql_->SetText(Value->Text());
  }
}

void TIB_Statement::SQLChanged(TObject* List) {
  ColumnRulesChanged();
  bool apply = !(preparing_ || ignore_sql_changes_);
  SysStringsChanged(List, apply);
  if (!apply) {
    return;
  }
  if (prepared_) {
    SysUnprepare();
  } else {
    param_names_->Clear();
    select_items_->Clear();
    third_list_->Clear();
  }
  server_sql_current_ = false;
  statement_type_stale_ = true;
  relation_aliases_stale_ = true;
}

void TIB_Statement::HintsChanged(TObject*) {
  if (prepared_) {
    ProcessLinkEvent(setHintsChanged, 0);
  }
}

void TIB_Statement::InvalidateSQL() {
  ColumnRulesChanged();
  DoStatementEvent(OnInvalidateSQL);
  server_sql_current_ = false;
}

AnsiString TIB_Statement::GetMacroBegin() {
  TIB_Connection* c = IB_Connection();
  return c != nullptr ? c->MacroBegin() : AnsiString();
}

AnsiString TIB_Statement::GetMacroEnd() {
  TIB_Connection* c = IB_Connection();
  return c != nullptr ? c->MacroEnd() : AnsiString();
}

void TIB_Statement::DoMacroSubstitute(const AnsiString& ATextBlock, AnsiString& ATextResult) {
  ATextResult.clear();
  if (OnMacroSubstitute) {
    OnMacroSubstitute(this, ATextBlock, ATextResult);
  }
}

void TIB_Statement::SubstituteMacros(const AnsiString& Text, AnsiString& Result) {
  if (OnMacroSubstitute) {
    AnsiString out;
    ExpandMacros(Text, GetMacroBegin(), GetMacroEnd(),
                 [this](const AnsiString& M, AnsiString& R) { DoMacroSubstitute(M, R); }, out);
    Result = out;
  } else {
    Result = Text;
  }
}

void TIB_Statement::DoPrepareSQL() {
  DoStatementEvent(OnPrepareSQL);
  const std::vector<TIB_StatementLink*> links = links_;
  for (TIB_StatementLink* link : links) {
    if (std::find(links_.begin(), links_.end(), link) != links_.end()) {
      link->DoPrepareSQL();
    }
  }
}

void TIB_Statement::SysPrepareServerSQL() {
  const char param_char = param_check_ ? param_char_ : '\0';
  const bool has_plan = GetOrderingPlan();
  SysApplyForUpdate();
  AnsiString text;
  SubstituteMacros(sql_->Text(), text);
  if (text != sql_->Text()) {
    sql_->SetText(text);
  }
  DoPrepareSQL();
  SysBuildServerSQL();
  AnsiString without_plan;
  if (has_plan) {
    int32_t chars = 0;
    ParseSQLParams(sql_->Text(), static_cast<TStrings*>(nullptr), nullptr, nullptr, without_plan,
                   param_char, true, chars, false);
    try {
      FlagGuard plan_guard(building_plan_variant_);
      SysApplyForUpdate();
      SysApplyOrderingPlan();
      SysBuildServerSQL();
    } catch (...) {
      server_sql_current_ = false;
      throw;
    }
  }
  const bool old_order = IB_Connection() != nullptr && IB_Connection()->OldParameterOrder();
  int32_t comment_chars = 0;
  AnsiString server;
  parser_result_ = ParseSQLParams(sql_->Text(), param_names_.get(), select_items_.get(),
                                  third_list_.get(), server, param_char, true, comment_chars,
                                  old_order);
  select_items_stale_ = true;
  if (OnMacroSubstitute) {
    AnsiString expanded;
    ExpandMacros(server, GetMacroBegin(), GetMacroEnd(),
                 [this](const AnsiString& M, AnsiString& R) { DoMacroSubstitute(M, R); },
                 expanded);
    server = expanded;
    if (has_plan) {
      ExpandMacros(without_plan, GetMacroBegin(), GetMacroEnd(),
                   [this](const AnsiString& M, AnsiString& R) { DoMacroSubstitute(M, R); },
                   expanded);
      without_plan = expanded;
    }
  }
  server_sql_ = server;
  server_sql_no_plan_ = has_plan ? without_plan : server;
}

void TIB_Statement::AddSQLHistory() {
  if (!keep_sql_history_) {
    return;
  }
  const AnsiString text = Trim(sql_->Text());
  if (text.empty()) {
    return;
  }
  const int32_t n = sql_history_->Count();
  if (n > 0 && Trim(sql_history_->Strings(n - 1)) == text) {
    return;
  }
  sql_history_->Add(text);
  sql_history_pos_ = sql_history_->Count();
}

// --- Prepare and unprepare ---------------------------------------------------------------------

void TIB_Statement::Prepare() {
  TIB_BusyBracket busy(*this, false);
  SysPrepare();
}

void TIB_Statement::Unprepare() {
  if (!prepared_) {
    return;
  }
  TIB_BusyBracket busy(*this, false);
  SysFreeHandle(false);
}

void TIB_Statement::SetPrepared(bool Value) {
  if (Value == prepared_) {
    return;
  }
  if (Value) {
    Prepare();
  } else {
    Unprepare();
  }
}

bool TIB_Statement::SysPrepare() {
  if (prepared_) {
    if (!server_sql_current_) {
      SysClose();
      SysPrepareSQL();
    }
    return prepared_;
  }
  if (IsLoading()) {
    pending_prepare_ = true;
    return false;
  }
  if (SysAllocate() && CheckTransaction(true)) {
    SysPrepareSQL();
    if (!server_sql_current_) {
      SysPrepareSQL();
    }
  }
  return prepared_;
}

void TIB_Statement::SysPrepareSQL() {
  if (preparing_) {
    return;
  }
  ColumnRulesChanged();
  if (prepared_) {
    repreparing_ = true;
    SaveParamValues();
  } else {
    try {
      DoBeforePrepare();
    } catch (...) {
      repreparing_ = false;
      throw;
    }
  }
  // Cleared whatever happens.
  struct Guards {
    bool& preparing;
    bool& repreparing;
    ~Guards() {
      preparing = false;
      repreparing = false;
    }
  } guards{preparing_, repreparing_};
  preparing_ = true;
  const AnsiString user_sql = sql_->Text();
  const AnsiString user_join_links = join_links_->Text();
  const bool was_current = server_sql_current_;
  restore_failures_.clear();

  // The builders edit the lists in place; the user's texts are put back afterwards.
  auto restore_texts = [&]() {
    if (sql_->Text() != user_sql) sql_->SetText(user_sql);
    if (join_links_->Text() != user_join_links) join_links_->SetText(user_join_links);
  };
  sql_->BeginUpdate();
  try {
    pending_param_values_->Clear();
    server_sql_current_ = true;
    SysPrepareServerSQL();
  } catch (...) {
    try {
      restore_texts();
      sql_->EndUpdate();
    } catch (...) {
    }
    server_sql_current_ = was_current;
    SysPrepareFailed();
    throw;
  }
  restore_texts();
  sql_->EndUpdate();

  TIB_Session* session = GetIB_Session();
  int32_t param_count = 0;
  int32_t field_count = 0;
  ISC_STATUS result = API_Prepare(server_sql_, param_count, field_count);
  // The server may also accept a procedure or trigger body whose variables became
  // markers (it compiles the body only when the statement runs) and then describe
  // fewer parameters than were named: that text would fail at execution, so it gets
  // the same retry as a refused one.
  const bool body_markers =
      result == 0 && param_shortfall_ && param_check_ && IsProcedureDDL(user_sql);
  if (result == isc_dsql_error || body_markers) {
    // One retry. A procedure or trigger body refers to its variables with a colon:
    // then only "?" marks a parameter. Anything else is parsed once more plainly.
    int32_t comment_chars = 0;
    AnsiString retry;
    if (IsProcedureDDL(user_sql)) {
      if (param_check_) {
        ParseSQLParams(user_sql, param_names_.get(), select_items_.get(), third_list_.get(),
                       retry, '\0', true, comment_chars, false);
        server_sql_ = retry;
        server_sql_no_plan_ = retry;
        result = API_Prepare(server_sql_, param_count, field_count);
      }
    } else {
      ParseSQLParams(server_sql_, static_cast<TStrings*>(nullptr), nullptr, nullptr, retry,
                     param_check_ ? param_char_ : '\0', true, comment_chars, false);
      if (retry != server_sql_) {
        result = API_Prepare(retry, param_count, field_count);
      }
    }
  }
  if (session->LastResult() != 0) {
    SysPrepareFailed();
    session->HandleException(this);
    return;
  }
  prepared_ = true;
  param_count_ = param_count;
  field_count_ = field_count;
  statement_type_stale_ = true;
  try {
    SysLayoutRows();
  } catch (...) {
    server_sql_current_ = was_current;
    SysPrepareFailed();
    throw;
  }
  ColumnRulesChanged();

  const bool reprepare = repreparing_;
  TryFinally(
      [&]() {
        if (!links_.empty() && (param_count_ > 0 || reprepare)) {
          ProcessLinkEvent(setParamsRefsChanged, 0);
        }
        if (reprepare) {
          DoLayoutChanged();
        } else {
          TryFinally(
              [&]() {
                if (!links_.empty()) ProcessLinkEvent(setFieldsRefsChanged, 0);
                ApplyFieldsProperties(true);
                AddSQLHistory();
              },
              [&]() {
                if (field_count_ > 0) fields_->PadBuffers(true);
                DoPreparedChanged();
              });
        }
      },
      [&]() {
        if (param_count_ > 0) RestoreParamValues();
        DoAfterPrepare();
      });

  const ISC_STATUS* status = session->StatusVector();
  if (status[0] == isc_arg_gds && status[1] == 0 && status[2] == isc_arg_warning) {
    session->HandleException(this);
  }
  if (!restore_failures_.empty()) {
    // A kept value that no longer fits its parameter is not dropped in silence.
    const AnsiString message = restore_failures_;
    restore_failures_.clear();
    throw EIB_StatementError(
        this, CZ("Uloženou hodnotu parametru nelze obnovit: ") + message);
  }
}

ISC_STATUS TIB_Statement::API_Prepare(const AnsiString& Text, int32_t& ParamCount,
                                      int32_t& FieldCount) {
  if (Trim(Text).empty()) {
    throw EIB_StatementError(this, IB_Message(TIB_Msg::EmptySQLNotAllowed));
  }
  TIB_Session* session = GetIB_Session();
  if (ClientCallTable.isc_dsql_prepare == nullptr) {
    throw EIB_Error(IB_Message(TIB_Msg::ClientNotInstalled));
  }
  XSQLDA* out = SizeScratch(
      session, 1,
      prepared_ ? fields_->ColumnCount() : static_cast<int32_t>(select_items_->Count()));
  if (stmt_handle_ == PlaceholderHandle) {
    stmt_handle_ = 0;
    if (TIB_Connection* c = IB_Connection()) {
      c->AllocateStatementHandle(stmt_handle_);
    }
  }
  const auto dialect = static_cast<unsigned short>(GetSQLDialect());
  ISC_STATUS result =
      CallClient(ClientCallTable.isc_dsql_prepare, session->StatusVector(), GetTrHandlePtr(),
                 &stmt_handle_, static_cast<unsigned short>(0), Text.c_str(), dialect, out);
  session->SetLastResult(result);
  if (result == 0 && IsMonitorHooked()) {
    AnsiString who = Name();
    if (Owner() != nullptr && !Owner()->Name().empty()) who = Owner()->Name() + "." + who;
    session->WriteToMonitor("//>>> STATEMENT PREPARED <<<//\r\nTIB_Statement.API_Prepare()\r\n" +
                            ClassName() + ": \"" + who + "\" stHandle=" +
                            IntToStr(static_cast<int64_t>(stmt_handle_)));
  }
  FieldCount = out->sqld;
  if (result == 0 && out->sqld > out->sqln) {
    out = SizeScratch(session, 1, out->sqld);
    result = CallClient(ClientCallTable.isc_dsql_describe, session->StatusVector(), &stmt_handle_,
                        dialect, out);
    session->SetLastResult(result);
  }
  extra_param_count_ = 0;
  param_shortfall_ = false;
  ParamCount = 0;
  if (result == 0) {
    ParamCount = param_names_->Count();
    if (ParamCount > 0) {
      XSQLDA* in = SizeScratch(session, 0, ParamCount);
      result = CallClient(ClientCallTable.isc_dsql_describe_bind, session->StatusVector(),
                          &stmt_handle_, dialect, in);
      session->SetLastResult(result);
      if (result == 0) {
        if (in->sqld > ParamCount) {
          extra_param_count_ = in->sqld - ParamCount;
          ParamCount = in->sqld;
        } else if (in->sqld < ParamCount) {
          // Never lay out entries the server did not describe.
          ParamCount = in->sqld;
          param_shortfall_ = true;
        }
        if (in->sqld > in->sqln) {
          in = SizeScratch(session, 0, in->sqld);
          result = CallClient(ClientCallTable.isc_dsql_describe_bind, session->StatusVector(),
                              &stmt_handle_, dialect, in);
          session->SetLastResult(result);
        }
      }
    }
  }
  return session->LastResult();
}

void TIB_Statement::SysPrepareFailed() {
  if (!repreparing_) {
    param_count_ = 0;
    field_count_ = 0;
    prepared_ = false;
    params_->ClearColumns();
    fields_->ClearColumns();
  }
  param_names_->Clear();
  select_items_->Clear();
  third_list_->Clear();
}

void TIB_Statement::SysClose() {
  // A singleton execute closes its server cursor itself; datasets close theirs.
  if (active_) {
    active_ = false;
    DoActiveChange();
  }
}

void TIB_Statement::SysUnprepare() {
  if (!prepared_ || unpreparing_) {
    return;
  }
  ColumnRulesChanged();
  FlagGuard guard(unpreparing_);
  TryFinally(
      [&]() {
        SysClose();
        DoBeforeUnprepare();
        SaveParamValues();
        prepared_ = false;
        server_sql_no_plan_.clear();
        param_names_->Clear();
        select_items_->Clear();
        third_list_->Clear();
        param_count_ = 0;
        field_count_ = 0;
        extra_param_count_ = 0;
        SysLayoutRows();
        ProcessLinkEvent(setParamsRefsChanged, 0);
        ProcessLinkEvent(setFieldsRefsChanged, 0);
        DoLayoutChanged();
      },
      [&]() {
        prepared_ = false;
        ReleaseKeptImmediates();
        DoPreparedChanged();
        DoAfterUnprepare();
      });
}

void TIB_Statement::SysFreeHandle(bool ToCache) {
  TIB_Connection* conn = IB_Connection();
  if (stmt_handle_ != 0) {
    SysUnprepare();
    if (stmt_handle_ != PlaceholderHandle) {
      if (conn != nullptr && ToCache) {
        conn->ReleaseStatementHandle(stmt_handle_);
      } else if (ClientCallTable.isc_dsql_free_statement != nullptr) {
        TIB_Session* session = GetIB_Session();
        session->SetLastResult(CallClient(ClientCallTable.isc_dsql_free_statement,
                                          session->StatusVector(), &stmt_handle_, DSQL_drop));
      }
    }
    stmt_handle_ = 0;
  }
  if (internal_transaction_ != nullptr && internal_transaction_->GetStarted()) {
    if (internal_transaction_->ConnectionLost()) {
      internal_transaction_->Rollback();
    } else {
      internal_transaction_->Commit();
    }
  }
  if (conn != nullptr) {
    sql_dialect_ = conn->SQLDialect();
  }
}

void TIB_Statement::SysDeallocate() {
  if (!IsRealHandle(stmt_handle_)) {
    return;
  }
  if (prepared_) {
    InvalidateSQL();
  }
  if (TIB_Connection* conn = IB_Connection()) {
    conn->ReleaseStatementHandle(stmt_handle_);
  } else if (ClientCallTable.isc_dsql_free_statement != nullptr) {
    TIB_Session* session = GetIB_Session();
    session->SetLastResult(CallClient(ClientCallTable.isc_dsql_free_statement,
                                      session->StatusVector(), &stmt_handle_, DSQL_drop));
  }
  stmt_handle_ = PlaceholderHandle;
}

void TIB_Statement::SysUnprepareHandle() {
  if (!IsRealHandle(stmt_handle_) || ClientCallTable.isc_dsql_free_statement == nullptr) {
    return;
  }
  ISC_STATUS_ARRAY status{};
  const ISC_STATUS result =
      CallClient(ClientCallTable.isc_dsql_free_statement, status, &stmt_handle_, DSQL_unprepare);
  if (result != 0) {
    TIB_Session* session = GetIB_Session();
    std::memcpy(session->StatusVector(), status, sizeof status);
    session->SetLastResult(result);
    session->HandleException(this);
  }
}

// --- Connection and transaction ----------------------------------------------------------------

TIB_Connection* TIB_Statement::GetIB_Connection() const { return connection_link_->IB_Connection(); }

TIB_Transaction* TIB_Statement::GetIB_Transaction() const {
  TIB_Transaction* tr = transaction_link_->IB_Transaction();
  if (tr != nullptr && ComponentState().Contains(csWriting)) {
    TIB_Connection* c = IB_Connection();
    if (tr == internal_transaction_ || (c != nullptr && tr == c->DefaultTransaction())) {
      return nullptr;
    }
  }
  return tr;
}

bool TIB_Statement::IsIB_TransactionStored() const {
  TIB_Transaction* tr = transaction_link_->IB_Transaction();
  TIB_Connection* c = IB_Connection();
  return tr != nullptr && tr != internal_transaction_ &&
         (c == nullptr || tr != c->DefaultTransaction());
}

TIB_Connection* TIB_Statement::GetDefaultConnection() {
  return GetIB_Session()->DefaultConnection();
}

TIB_Transaction* TIB_Statement::GetDefaultTransaction() {
  TIB_Connection* c = IB_Connection();
  return c != nullptr ? c->DefaultTransaction() : nullptr;
}

AnsiString TIB_Statement::GetDatabaseName() {
  if (TIB_Connection* c = IB_Connection()) {
    database_name_ = c->DatabaseName();
  }
  return database_name_;
}

void TIB_Statement::SetDatabaseName(const AnsiString& Value) {
  database_name_ = Value;
  if (TIB_Session* s = AssignedSession()) {
    SetIB_Connection(s->FindConnection(Value));
  }
}

isc_db_handle* TIB_Statement::GetDbHandlePtr() {
  TIB_Connection* c = IB_Connection();
  return c != nullptr ? c->GetDbHandlePtr() : nullptr;
}

isc_tr_handle* TIB_Statement::GetTrHandlePtr() {
  TIB_Transaction* tr = transaction_link_->IB_Transaction();
  return tr != nullptr ? tr->GetTrHandlePtr() : nullptr;
}

bool TIB_Statement::CheckConnection(bool Connect) {
  TIB_Session* session = GetIB_Session();
  if (IB_Connection() == nullptr && !database_name_.empty()) {
    SetIB_Connection(session->FindConnection(database_name_));
  }
  if (IB_Connection() == nullptr && session->AllowDefaultConnection()) {
    SetIB_Connection(GetDefaultConnection());
  }
  if (Connect && IB_Connection() == nullptr) {
    if (IsDestroying() || ComponentState().Contains(csReading)) {
      return false;
    }
    AnsiString who = Name().empty() ? AnsiString("<no name>") : Name();
    if (Owner() != nullptr && !Owner()->Name().empty()) who = Owner()->Name() + "." + who;
    throw EIB_StatementError(this, IB_Message(TIB_Msg::StatementNeedsConnection) + ": " + who);
  }
  if (Connect && !connection_link_->GetConnected()) {
    IB_Connection()->Open();
  }
  return connection_link_->GetConnected();
}

bool TIB_Statement::CheckTransaction(bool Start) {
  if (transaction_link_->IB_Transaction() == nullptr) {
    CheckConnection(false);
  }
  if (transaction_link_->IB_Transaction() == nullptr) {
    if (TIB_Transaction* d = GetDefaultTransaction()) {
      SetIB_Transaction(d);
    }
  }
  if (transaction_link_->IB_Transaction() == nullptr &&
      (GetIB_Session()->AllowDefaultTransaction() || ComponentState().Contains(csDesigning))) {
    if (internal_transaction_ == nullptr) {
      auto* tr = new TIB_TransactionDefault(this);
      internal_transaction_ = tr;
      tr->SetName("tr" + Name());
      tr->SetAutoCommit(true);
      tr->SetIsolation(tiCommitted);
    } else if (internal_transaction_->GetAutoCommit() && internal_transaction_->GetStarted()) {
      internal_transaction_->Commit();
    }
    SetIB_Transaction(internal_transaction_);
  }
  if (internal_transaction_ != nullptr) {
    internal_transaction_->SetIB_Connection(IB_Connection());
  }
  if (Start && !transaction_link_->GetStarted()) {
    TIB_Transaction* tr = transaction_link_->IB_Transaction();
    if (tr == nullptr) {
      throw EIB_Error(this, IB_Message(TIB_Msg::InvalidInternalTransaction));
    }
    if (tr->IB_Connection() == nullptr) {
      CheckConnection(false);
    }
    TIB_Connection* c = tr->IB_Connection();
    if (c != nullptr && !c->GetConnected() && c->Status() != cstDisconnected &&
        c->Status() != cstConnected) {
      c->API_Connect();
    }
    tr->EnsureStarted();
    if (!transaction_link_->GetStarted() && transaction_link_->IB_Transaction() != nullptr) {
      transaction_link_->IB_Transaction()->EnsureStarted();
    }
  }
  return transaction_link_->GetStarted();
}

bool TIB_Statement::SysAllocate() {
  if (stmt_handle_ == 0 && CheckConnection(true)) {
    TIB_Connection* c = IB_Connection();
    c->AllocateStatementHandle(stmt_handle_);
    sql_dialect_ = c->SQLDialect();
  }
  return stmt_handle_ != 0;
}

int32_t TIB_Statement::GetSQLDialect() {
  if (sql_dialect_ >= 3) {
    return sql_dialect_;
  }
  if (IB_Connection() == nullptr) {
    CheckConnection(false);
  }
  TIB_Connection* c = IB_Connection();
  if (c != nullptr && c->SQLDialect() > 0) {
    return c->SQLDialect();
  }
  return sql_dialect_;
}

uint16_t TIB_Statement::SQLDialect() const {
  return static_cast<uint16_t>(const_cast<TIB_Statement*>(this)->GetSQLDialect());
}

void TIB_Statement::SetIB_Connection(TIB_Connection* Value) {
  TIB_Connection* old = IB_Connection();
  if (Value == old) {
    return;
  }
  if (old != nullptr) {
    TIB_Transaction* tr = transaction_link_->IB_Transaction();
    if (tr != nullptr && tr == old->DefaultTransaction()) {
      SetIB_Transaction(nullptr);
    }
    old->RemoveStatement(this);
  }
  connection_link_->SetIB_Connection(Value);
  try {
    if (internal_transaction_ != nullptr &&
        internal_transaction_ == transaction_link_->IB_Transaction()) {
      internal_transaction_->SetIB_Connection(Value);
    }
    if (Value != nullptr) {
      Value->AddStatement(this);
    }
  } catch (...) {
    connection_link_->SetIB_Connection(nullptr);
  }
}

void TIB_Statement::SetIB_Transaction(TIB_Transaction* Value) {
  TIB_Transaction* old = transaction_link_->IB_Transaction();
  if (Value == old) {
    return;
  }
  if (old != nullptr) {
    if (Value == nullptr || Value->IndexOfConnection(IB_Connection()) < 0) {
      Unprepare();
    }
    old->RemoveStatement(this);
  }
  transaction_link_->SetIB_Transaction(Value);
  try {
    if (internal_transaction_ != nullptr && internal_transaction_ != Value) {
      TIB_Transaction* going = internal_transaction_;
      internal_transaction_ = nullptr;
      delete going;
    }
    if (Value != nullptr) {
      Value->AddStatement(this);
    }
  } catch (...) {
    transaction_link_->SetIB_Transaction(nullptr);
  }
}

void TIB_Statement::ProcessConnectionEvent(TIB_ConnectionLink* Sender,
                                           TIB_ConnectionEventType Event) {
  // Connecting, disconnecting and DDL renew the schema facts the column rules read.
  ColumnRulesChanged();
  if (Event == cetBeforeAssignment) {
    if (prepared_) {
      Unprepare();
    }
    // A handle belongs to its attachment: one kept without a prepared statement (after
    // a change of SQL or a failed prepare) must not go on to another connection.
    if (IsRealHandle(stmt_handle_)) {
      SysFreeHandle(false);
    }
  } else if (Event == cetAfterAssignment) {
    TIB_Connection* c = Sender != nullptr ? Sender->IB_Connection() : nullptr;
    sql_dialect_ = c != nullptr ? c->SQLDialect() : 3;
  }
}

void TIB_Statement::ProcessTransactionEvent(TIB_TransactionLink* Sender, uint8_t Event) {
  if (Event == tetBeforeAssignment && prepared_) {
    TIB_Transaction* incoming = Sender != nullptr ? Sender->IncomingTransaction() : nullptr;
    if (incoming == nullptr || incoming->IndexOfConnection(IB_Connection()) == -1) {
      Unprepare();
    }
  }
}

void TIB_Connection::UnprepareStatement(TIB_Component* Statement) {
  auto* st = dynamic_cast<TIB_Statement*>(Statement);
  if (st == nullptr) {
    return;
  }
  st->Unprepare();
  // The attachment is about to go: a handle the statement still holds goes with it.
  if (IsRealHandle(*st->GetStmtHandlePtr())) {
    st->SysFreeHandle(false);
  }
}

AnsiString TIB_Statement::GetComponentPath() const {
  AnsiString path;
  for (const TComponent* c = this; c != nullptr; c = c->Owner()) {
    const AnsiString part = c->Name().empty() ? "<" + c->ClassName() + ">." : c->Name() + ".";
    path = part + path;
  }
  return path;
}

void TIB_Statement::HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                                TStringList* ErrorCodes, int32_t SQLCODE,
                                TStringList* SQLMessage, TStringList* SQL,
                                bool& RaiseException) {
  // A dead attachment is known from this failure already: the connection and its
  // transactions are marked lost now, not at the next commit or liveness check, so
  // that the disconnect does not try to detach.
  if (IsLostConnectionCode(ERRCODE)) {
    if (TIB_Connection* c = IB_Connection()) c->MarkConnectionLost();
  }
  if (preparing_ && SQL != nullptr) {
    SQL->Add("");
    SQL->Add(server_sql_);
    SQL->Add("");
  }
  if (ErrorMessage != nullptr) {
    AnsiString line = ClassName() + ": " + AnsiQuotedStr(GetComponentPath(), '"');
    if (IsMonitorHooked()) {
      line += " stHandle=" + IntToStr(static_cast<int64_t>(stmt_handle_)) + " (ERROR)";
    }
    ErrorMessage->Add("");
    ErrorMessage->Add("STATEMENT:");
    ErrorMessage->Add(line);
    ErrorMessage->Add("");
  }
  TIB_Component::HandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
                             RaiseException);
  if (RaiseException) {
    if (TIB_Transaction* tr = transaction_link_->IB_Transaction()) {
      tr->HandleError(this, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
                      RaiseException);
    }
  }
  if (RaiseException) {
    if (TIB_Connection* c = IB_Connection()) {
      c->HandleError(this, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
                     RaiseException);
    }
  }
}

// --- Parameters and fields ---------------------------------------------------------------------

TIB_Column* TIB_Statement::ParamByName(const AnsiString& Name) {
  SetPrepared(true);
  return params_->ColumnByName(Name);
}

TIB_Column* TIB_Statement::FieldByName(const AnsiString& Name) {
  SetPrepared(true);
  return fields_->ColumnByName(Name);
}

TIB_Column* TIB_Statement::FindParam(const AnsiString& Name) {
  TIB_Column* c = nullptr;
  return params_->FindColumn(Name, c) ? c : nullptr;
}

TIB_Column* TIB_Statement::FindField(const AnsiString& Name) {
  TIB_Column* c = nullptr;
  return fields_->FindColumn(Name, c) ? c : nullptr;
}

TIB_Column* TIB_Statement::FindKeyField(const AnsiString& Name) {
  TIB_Column* c = nullptr;
  return key_fields_->FindColumn(Name, c) ? c : nullptr;
}

void TIB_Statement::SetCalculatedFields(const TStrings* Value) {
  calculated_fields_->Assign(const_cast<TStrings*>(Value));
}

void TIB_Statement::SetColumnAttributes(const TStrings* Value) {
  column_attributes_->Assign(const_cast<TStrings*>(Value));
}

void TIB_Statement::SysLayoutRows() {
  params_->SetColumnCount(static_cast<int16_t>(param_count_));
  if (repreparing_) {
    return;
  }
  SysParseRelationAliases();
  fields_->SetColumnCount(static_cast<int16_t>(field_count_));
  if (prepared_ && IsSelectStatement()) {
    fields_->LoadRelationAliases();
    if (ServerMajorVersion() >= 2) {
      SysCompleteRelationAliases();
    }
  }
}

void TIB_Statement::SysDescribeRow(TIB_Row* Row) {
  TIB_Session* session = GetIB_Session();
  const int32_t n = Row->PSQLDA()->sqld;
  if (Row == params_.get()) {
    XSQLDA* in = session->ScratchXSQLDA(0);
    param_describe_.assign(in->sqlvar, in->sqlvar + std::min<int32_t>(n, in->sqld));
    for (int32_t i = 0; i < n && i < in->sqld; ++i) *Row->Var(i) = in->sqlvar[i];
    Row->NameParams();
  } else if (Row == fields_.get()) {
    XSQLDA* out = session->ScratchXSQLDA(1);
    for (int32_t i = 0; i < n && i < out->sqld; ++i) *Row->Var(i) = out->sqlvar[i];
  }
}

void TIB_Statement::SaveParamValues() {
  if (params_->ColumnCount() == 0 && !prepared_) {
    return;
  }
  saved_param_values_->BeginUpdate();
  TryFinally(
      [&]() {
        saved_param_values_->Clear();
        kept_values_.clear();
        for (int32_t i = 0; i < params_->ColumnCount(); ++i) {
          TIB_Column* c = params_->GetColumn(i);
          if (c->IsBlob || c->IsArray) continue;
          AnsiString value;
          if (!c->GetIsNull()) {
            value = BinaryToHexText(c->DataPtr(), c->GetBufferDataSize());
            KeptParamValue kept;
            kept.Hex = value;
            kept.IsDateTime = c->IsDateTime;
            if (kept.IsDateTime) {
              kept.DateTime = c->GetAsDateTime();
            } else {
              kept.Text = c->GetAsString();
            }
            kept_values_.emplace_back(c->GetFullName(), std::move(kept));
          }
          saved_param_values_->Add(c->GetFullName() + "=" + value);
        }
      },
      [&]() { saved_param_values_->EndUpdate(); });
}

void TIB_Statement::RestoreParamValues() {
  for (int32_t i = 0; i < params_->ColumnCount(); ++i) {
    TIB_Column* c = params_->GetColumn(i);
    if (c->IsBlob || c->IsArray) continue;
    const int32_t index = saved_param_values_->IndexOfLinkName(c->GetFullName());
    if (index < 0) continue;
    const AnsiString value = saved_param_values_->GetItemValue(index);
    bool fitted = true;
    try {
      if (value.empty()) {
        const int16_t null_ind = -1;
        std::memcpy(c->NullIndPtr(), &null_ind, sizeof null_ind);
      } else if (static_cast<int32_t>(value.size()) == 2 * c->GetBufferDataSize()) {
        const int16_t not_null = 0;
        HexTextToBinary(value, c->DataPtr(), c->GetBufferDataSize());
        std::memcpy(c->NullIndPtr(), &not_null, sizeof not_null);
      } else if (const KeptParamValue* kept = FindKeptValue(saved_param_values_->GetItemName(index),
                                                            value)) {
        // Kept from a parameter of another size: put back as the value it was.
        if (kept->IsDateTime) {
          c->SetAsDateTime(kept->DateTime);
        } else {
          c->SetAsString(kept->Text);
        }
      } else if (c->IsDateTime) {
        c->SetAsDateTime(TimestampStrToDateTime(value));
      } else if (c->IsNumeric && c->GetSQLScale() < 0) {
        AnsiString text = value;
        const int64_t pos = static_cast<int64_t>(text.size()) + c->GetSQLScale() - 1;
        if (pos >= 0 && pos < static_cast<int64_t>(text.size())) {
          text[static_cast<size_t>(pos)] = FormatSettings().DecimalSeparator;
        }
        c->SetAsString(text);
      } else {
        c->SetAsString(value);
      }
    } catch (const std::exception& e) {
      fitted = false;
      try {
        c->Clear();
      } catch (...) {
      }
      if (!restore_failures_.empty()) restore_failures_ += "; ";
      const auto* ex = dynamic_cast<const Exception*>(&e);
      restore_failures_ += c->GetFullName() + " (" + (ex ? ex->Message() : AnsiString(e.what())) + ")";
    }
    // A value that did not fit stays in the list, so that it is not lost.
    if (fitted) saved_param_values_->Delete(index);
  }
  for (int32_t i = 0; i < pending_param_values_->Count(); ++i) {
    TIB_Column* c = FindParam(pending_param_values_->GetItemName(i));
    if (c == nullptr) continue;
    try {
      const AnsiString value = pending_param_values_->GetItemValue(i);
      if (c->IsDateTime) {
        c->SetAsDateTime(StrToDateTime(value));
      } else {
        c->SetAsString(value);
      }
    } catch (...) {
      // A generated value the parameter does not take is left out.
    }
  }
  params_->SetRowState(rsLoaded);
}

void TIB_Statement::WriteParamValues(TStrings* List) {
  List->Clear();
  if (params_->ColumnCount() == 0) {
    List->AddStrings(saved_param_values_.get());
    return;
  }
  for (int32_t i = 0; i < params_->ColumnCount(); ++i) {
    TIB_Column* c = params_->GetColumn(i);
    if (c->IsBlob || c->IsArray) continue;
    AnsiString value;
    if (!c->GetIsNull()) value = BinaryToHexText(c->DataPtr(), c->GetBufferDataSize());
    List->Add(c->GetQualifiedAliasName() + "=" + value);
  }
}

const TIB_Statement::KeptParamValue* TIB_Statement::FindKeptValue(const AnsiString& Name,
                                                                  const AnsiString& Hex) const {
  for (const auto& entry : kept_values_) {
    if (entry.first == Name && entry.second.Hex == Hex) return &entry.second;
  }
  return nullptr;
}

void TIB_Statement::ReadParamValues(const TStrings* List) {
  kept_values_.clear();
  saved_param_values_->Clear();
  if (List != nullptr) {
    for (int32_t i = 0; i < List->Count(); ++i) saved_param_values_->Add(List->Strings(i));
  }
}

bool TIB_Statement::ParamValuesStored() const {
  return params_->ColumnCount() > 0 || saved_param_values_->Count() > 0;
}

void TIB_Statement::DoCalculateFields(TIB_Row* Row, TIB_Column* Column) {
  if (!prepared_) {
    return;
  }
  if (OnCalculateField) {
    OnCalculateField(this, Row, Column);
  }
}

void TIB_Statement::RecalculateFields() {
  if (!prepared_) {
    return;
  }
  fields_->BeginUpdate();
  TryFinally([&]() { fields_->CalculateFields(); }, [&]() { fields_->EndUpdate(false); });
}

// --- Statement links and events ----------------------------------------------------------------

void TIB_Statement::AddStatementLink(TIB_StatementLink* Link) {
  if (Link != nullptr && std::find(links_.begin(), links_.end(), Link) == links_.end()) {
    links_.push_back(Link);
  }
}

void TIB_Statement::RemoveStatementLink(TIB_StatementLink* Link) {
  RemoveFromComponentList(links_, Link);
}

void TIB_Statement::ProcessLinkEvent(uint8_t Code, intptr_t Argument) {
  // (Code 11 would first mark the field columns' schema facts stale; they keep none yet.)
  const size_t count = links_.size();
  for (size_t i = 0; i < count; ++i) {
    if (i < links_.size()) {
      links_[i]->ProcessEvent(Code, Argument);
    }
  }
}

void TIB_Statement::DoBeforePrepare() {
  DoStatementEvent(BeforePrepare);
  ProcessLinkEvent(setBeforePrepare, 0);
}

void TIB_Statement::DoAfterPrepare() {
  ProcessLinkEvent(setAfterPrepare, 0);
  DoStatementEvent(AfterPrepare);
}

void TIB_Statement::DoBeforeUnprepare() {
  DoStatementEvent(BeforeUnprepare);
  ProcessLinkEvent(setBeforeUnprepare, 0);
}

void TIB_Statement::DoAfterUnprepare() {
  ProcessLinkEvent(setAfterUnprepare, 0);
  DoStatementEvent(AfterUnprepare);
}

void TIB_Statement::DoPreparedChanged() {
  ProcessLinkEvent(setPreparedChanged, 0);
  DoStatementEvent(OnPreparedChanged);
}

void TIB_Statement::DoActiveChange() {
  ProcessLinkEvent(setActiveChange, 0);
  DoStatementEvent(OnActiveChange);
}

void TIB_Statement::DoLayoutChanged() {
  ProcessLinkEvent(setLayoutChanged, 0);
  DoStatementEvent(OnLayoutChanged);
}

void TIB_Statement::ParamsStateChanged(TIB_Row*) { ProcessLinkEvent(setParamsStateChanged, 0); }

void TIB_Statement::FieldsStateChanged(TIB_Row*) { ProcessLinkEvent(setFieldsStateChanged, 0); }

void TIB_Statement::SysBeforeParamChange(TIB_Row*, TIB_Column*) {}

void TIB_Statement::SysAfterParamChange(TIB_Row*, TIB_Column* Column) {
  ProcessLinkEvent(setParamChanged, reinterpret_cast<intptr_t>(Column));
}

void TIB_Statement::SysBeforeFieldChange(TIB_Row*, TIB_Column*) {}

void TIB_Statement::DoLinkQuery(TIB_Row*, TIB_Column* Column) {
  ProcessLinkEvent(setFieldsDataChange, reinterpret_cast<intptr_t>(Column));
}

// --- What the rows ask -------------------------------------------------------------------------

AnsiString TIB_Statement::GetAliasOfRelation(const AnsiString& Relation) const {
  for (int32_t i = 0; i < relation_aliases_->Count(); ++i) {
    if (relation_aliases_->GetItemValue(i) == Relation) {
      return relation_aliases_->GetItemName(i);
    }
  }
  return Relation;
}

AnsiString TIB_Statement::MakeStoredIdent(const AnsiString& Name) const {
  TIB_Connection* c = IB_Connection();
  if (c != nullptr && c->GetConnected()) {
    return c->MakeStoredIdent(Name);
  }
  return TIB_RowOwner::MakeStoredIdent(Name);
}

uint64_t TIB_Statement::IdentStamp() const {
  TIB_Connection* c = IB_Connection();
  return c != nullptr && c->GetConnected() ? c->IdentStamp() : 0;
}

int32_t TIB_Statement::ServerMajorVersion() const {
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || !c->GetConnected()) {
    return 0;
  }
  TIB_ConnectCharacteristics facts;
  c->GetConnectCharacteristics(facts);
  return facts.dbServer_Version.empty() ? 0 : facts.dbServer_Major;
}

isc_stmt_handle* TIB_Statement::StatementHandlePtr() {
  return IsRealHandle(stmt_handle_) ? &stmt_handle_ : nullptr;
}

void TIB_Statement::LoadBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                                 TIB_BlobCacheNode* Node) {
  if (Node == nullptr) {
    throw EIB_Error(this, IB_Message(TIB_Msg::BlobNodeUnassigned));
  }
  if (CheckTransaction(true)) {
    TIB_Session* session = GetIB_Session();
    const ISC_STATUS r = session->ReadBlobOrArray(GetDbHandlePtr(), GetTrHandlePtr(), PVAR,
                                                  ArrayDesc, Node, OnBlobCallback);
    session->SetLastResult(r);
    if (r != 0 && r != isc_segstr_eof) {
      session->HandleException(this);
    }
  }
}

void TIB_Statement::StoreBlobNode(XSQLVAR* PVAR, const ISC_ARRAY_DESC* ArrayDesc,
                                  TIB_BlobCacheNode* Node) {
  if (Node == nullptr) {
    throw EIB_Error(this, IB_Message(TIB_Msg::BlobNodeUnassigned));
  }
  CheckTransaction(true);
  TIB_Session* session = GetIB_Session();
  const ISC_STATUS r = session->WriteBlobOrArray(GetDbHandlePtr(), GetTrHandlePtr(), PVAR,
                                                 ArrayDesc, Node, OnBlobCallback);
  session->SetLastResult(r);
  if (r != 0) {
    session->HandleException(this);
  }
}

bool TIB_Statement::LookupArrayBounds(const XSQLVAR* PVAR, ISC_ARRAY_DESC& Desc) {
  if (ClientCallTable.isc_array_lookup_bounds == nullptr || !CheckTransaction(true)) {
    return false;
  }
  const XSQLVAR* names = PVAR;
  XSQLDA* row_da = params_->PSQLDA();
  if (row_da != nullptr && PVAR >= row_da->sqlvar && PVAR < row_da->sqlvar + row_da->sqln) {
    // A parameter: its names as the server described them, before the row named it.
    const auto index = static_cast<size_t>(PVAR - row_da->sqlvar);
    if (index >= param_describe_.size()) return false;
    names = &param_describe_[index];
  }
  const std::string rel(names->relname,
                        static_cast<size_t>(std::max<int16_t>(0, names->relname_length)));
  const std::string field(names->sqlname,
                          static_cast<size_t>(std::max<int16_t>(0, names->sqlname_length)));
  ISC_STATUS_ARRAY status{};
  return CallClient(ClientCallTable.isc_array_lookup_bounds, status, GetDbHandlePtr(),
                    GetTrHandlePtr(), rel.c_str(), field.c_str(), &Desc) == 0;
}

bool TIB_Statement::GetColumnAttribute(const TIB_Column* Column, const AnsiString& Keyword,
                                       AnsiString& Value) const {
  TIB_Connection* c = IB_Connection();
  // Every entry is looked for in these two lists: without entries there is no answer
  // (and the names need not be built, which this is asked for every column often).
  if ((column_attributes_ == nullptr || column_attributes_->Count() == 0) &&
      (c == nullptr || c->ColumnAttributes() == nullptr || c->ColumnAttributes()->Count() == 0)) {
    return false;
  }
  const AnsiString alias_name = Column->GetQualifiedAliasName();
  const AnsiString field_name = Column->GetQualifiedFieldName();
  auto look = [&](const TIB_StringList* list) {
    if (list == nullptr || list->Count() == 0) return false;
    if (list->GetLinkAttributeValue(alias_name, Keyword, Value)) return true;
    return field_name != alias_name && list->GetLinkAttributeValue(field_name, Keyword, Value);
  };
  if (look(column_attributes_.get())) return true;
  if (c != nullptr && look(c->ColumnAttributes())) return true;
  if (c != nullptr && c->FieldEntryTypes().Contains(fetDomainName) &&
      !Column->GetDomainName().empty()) {
    const AnsiString domain = Column->GetDomainName();
    if (column_attributes_->GetLinkAttributeValue(domain, Keyword, Value)) return true;
    if (c->ColumnAttributes()->GetLinkAttributeValue(domain, Keyword, Value)) return true;
  }
  if (c != nullptr && c->FieldEntryTypes().Contains(fetSQLType)) {
    AnsiString type = const_cast<TIB_Column*>(Column)->GetSQLTypeSource(true);
    const size_t paren = type.find('(');
    if (paren != AnsiString::npos) type.resize(paren);
    type = Trim(type);
    if (column_attributes_->GetLinkAttributeValue(type, Keyword, Value)) return true;
    if (c->ColumnAttributes()->GetLinkAttributeValue(type, Keyword, Value)) return true;
  }
  return false;
}

AnsiString TIB_Statement::ConnectionCharSet() const {
  TIB_Connection* c = IB_Connection();
  return c != nullptr ? AnsiUpperCase(Trim(c->CharSet())) : AnsiString();
}

bool TIB_Statement::DefaultNoTrimming() const {
  TIB_Connection* c = IB_Connection();
  return c != nullptr && c->DefaultNoTrimming();
}

bool TIB_Statement::ServerBlobSize(XSQLVAR* PVAR, int32_t& Size) {
  if (PVAR == nullptr || PVAR->sqldata == nullptr || ClientCallTable.isc_open_blob2 == nullptr ||
      !CheckTransaction(true)) {
    return false;
  }
  ISC_QUAD id{};
  std::memcpy(&id, PVAR->sqldata, sizeof id);
  isc_blob_handle blob = 0;
  ISC_STATUS_ARRAY status{};
  if (CallClient(ClientCallTable.isc_open_blob2, status, GetDbHandlePtr(), GetTrHandlePtr(), &blob,
                 &id, static_cast<ISC_USHORT>(0), static_cast<const ISC_UCHAR*>(nullptr)) != 0) {
    return false;
  }
  int32_t max_segment = 0, total = 0, segments = 0;
  GetIB_Session()->GetBlobInfo(max_segment, total, segments, &blob, PVAR);
  CallClient(ClientCallTable.isc_close_blob, status, &blob);
  Size = total;
  return true;
}

}  // namespace pelvar
