// Statement execution: the checks before it, the dispatch by statement type, the
// client-library calls with and without an output row, the active state of a result,
// execute immediate with the script statements, the statement type and the row counts.
#include <algorithm>
#include <cstring>
#include <exception>

#include "dbclient/IB_Utils.h"
#include "dbengine/IB_Components_statement.h"
#include "dbengine/IB_Parse.h"
#include "platform/application.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

bool IsRealHandle(isc_stmt_handle Handle) { return Handle != 0 && Handle != PlaceholderHandle; }

int32_t ReadVax(const char* P, int Length) {
  int32_t value = 0;
  for (int i = 0; i < Length; ++i) {
    value |= static_cast<int32_t>(static_cast<uint8_t>(P[i])) << (8 * i);
  }
  return value;
}

// 335544358: the statement's compiled request is gone on the server.
constexpr ISC_STATUS kRequestLost = 335544358;
// 335544374: attempt to fetch past the last record in a record stream.
constexpr ISC_STATUS kStreamEof = 335544374;

}  // namespace

// --- Active state -------------------------------------------------------------------------------

void TIB_Statement::SetActive(bool Value) {
  if (Value == active_) return;
  if (Value) {
    SysExecute();
  } else {
    SysClose();
  }
}

void TIB_Statement::SysInitFieldBuffers() { fields_->PadBuffers(true); }

void TIB_Statement::SysActivate() {
  if (active_) return;
  active_ = true;
  if (output_row_present_) {
    fields_->SetRowLoaded(true, true, true);
    fields_->DataChanged(nullptr);
  }
  DoActiveChange();
}

void TIB_Statement::SysDeactivate() {
  const bool was_active = active_;
  if (was_active) active_ = false;
  fields_->ClearRow(rsEmpty);
  fields_->DataChanged(nullptr);
  if (was_active) DoActiveChange();
}

void TIB_Statement::DoBeforeExecute() {
  DoStatementEvent(BeforeExecute);
  ProcessLinkEvent(setBeforeExecute, 0);
  if (params_->ColumnCount() > 0) ProcessLinkEvent(setBeforeParamsExecute, 0);
}

void TIB_Statement::DoAfterExecute() {
  ProcessLinkEvent(setAfterExecute, 0);
  DoStatementEvent(AfterExecute);
}

// --- Execution ------------------------------------------------------------------------------------

void TIB_Statement::ExecSQL() {
  TIB_BusyBracket busy(*this, false);
  SysClose();
  SysExecute();
}

void TIB_Statement::SysBeforeExecuteParams() { params_->PostBlobs(); }

void TIB_Statement::SysAfterExecuteParams() { params_->AfterPostBlobs(true); }

void TIB_Statement::SysExecuteFailed() {
  const int32_t t = statement_type_;
  if (params_->ColumnCount() > 0 &&
      (t == isc_info_sql_stmt_insert || t == isc_info_sql_stmt_update ||
       t == isc_info_sql_stmt_exec_procedure)) {
    params_->AfterPostBlobs(false);
  }
}

void TIB_Statement::SysExecute() {
  if (!CheckTransaction(true)) {
    if (IsLoading() || IsDestroying() || ComponentState().Contains(csFixups)) return;
    throw EIB_StatementError(this, IB_Message(TIB_Msg::NoActiveTransaction));
  }
  SysPrepare();
  if (!prepared_) throw EIB_StatementError(this, IB_Message(TIB_Msg::CannotPrepare));
  DoBeforeExecute();
  const bool has_fields = fields_->ColumnCount() > 0;
  const bool has_params = params_->ColumnCount() > 0;
  if (has_fields) SysInitFieldBuffers();
  if (has_params) SysBeforeExecuteParams();
  output_row_present_ = false;
  // The type decides the dispatch and the settling of the blob nodes on failure.
  GetStatementType();
  try {
    SysExecStatement();
  } catch (...) {
    SysExecuteFailed();
    throw;
  }
  rows_affected_stale_ = true;
  TIB_Session* session = GetIB_Session();
  auto finish = [&]() {
    if (has_params) SysAfterExecuteParams();
    if (has_fields) {
      if (session->LastResult() == 100) {
        SysDeactivate();
      } else {
        SysActivate();
      }
    }
    DoAfterExecute();
  };
  try {
    const int32_t t = statement_type_;
    TIB_Transaction* tr = IB_Transaction();
    if (tr != nullptr && ((t >= isc_info_sql_stmt_insert && t <= isc_info_sql_stmt_ddl) ||
                          t == isc_info_sql_stmt_exec_procedure) &&
        tr->GetStarted()) {
      tr->Activate();
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
}

void TIB_Statement::SysExecStatement() {
  const int32_t type = GetStatementType() & 0x7F;
  switch (type) {
    case isc_info_sql_stmt_start_trans:
    case isc_info_sql_stmt_commit:
    case isc_info_sql_stmt_rollback:
    case isc_info_sql_stmt_set_generator:
    case isc_info_sql_stmt_savepoint:
      break;
    default:
      CheckTransaction(true);
  }
  TIB_Session* session = GetIB_Session();
  switch (type) {
    case isc_info_sql_stmt_select:
    case isc_info_sql_stmt_select_for_upd:
      SysExecSelect();
      break;
    case isc_info_sql_stmt_insert:
    case isc_info_sql_stmt_update:
    case isc_info_sql_stmt_delete:
      DoStatementEvent(BeforeExecDML);
      ProcessLinkEvent(setBeforeExecDML, 0);
      API_Execute();
      ProcessLinkEvent(setAfterExecDML, 0);
      DoStatementEvent(AfterExecDML);
      break;
    case isc_info_sql_stmt_ddl: {
      DoStatementEvent(BeforeExecDDL);
      ProcessLinkEvent(setBeforeExecDDL, 0);
      TIB_Connection* c = IB_Connection();
      TIB_Transaction* tr = IB_Transaction();
      if (c != nullptr) c->SysBeforeExecDDL();
      if (tr != nullptr) tr->SysBeforeExecDDL();
      API_Execute();
      if (tr != nullptr) tr->SysAfterExecDDL();
      if (c != nullptr) c->SysAfterExecDDL();
      ProcessLinkEvent(setAfterExecDDL, 0);
      DoStatementEvent(AfterExecDDL);
      break;
    }
    case isc_info_sql_stmt_get_segment:
    case isc_info_sql_stmt_put_segment:
    case isc_info_sql_stmt_set_generator:
    case isc_info_sql_stmt_savepoint:
      API_Execute();
      break;
    case isc_info_sql_stmt_exec_procedure:
      API_Execute2();
      break;
    case isc_info_sql_stmt_start_trans:
    case isc_info_sql_stmt_commit:
    case isc_info_sql_stmt_rollback: {
      TIB_Transaction* tr = IB_Transaction();
      if (tr == nullptr) throw EIB_StatementError(this, IB_Message(TIB_Msg::TransactionUnassigned));
      // The text itself never reaches the server: the transaction component acts.
      session->SetLastResult(0);
      if (type == isc_info_sql_stmt_start_trans) {
        tr->SetStarted(true);
        tr->StartTransaction();
      } else if (type == isc_info_sql_stmt_commit) {
        tr->SysCommit(false);
      } else {
        tr->SysRollback(false);
      }
      break;
    }
    default:
      throw EIB_StatementError(this, IB_Message(TIB_Msg::ExecuteUnknownStatement) + ": " +
                                         IntToStr(static_cast<int64_t>(type)));
  }
}

void TIB_Statement::SysExecSelect() {
  API_Execute2();
}

ISC_STATUS TIB_Statement::API_Execute() {
  TIB_Session* session = GetIB_Session();
  XSQLDA* in = params_->ColumnCount() > 0 ? params_->PSQLDA() : nullptr;
  const ISC_STATUS result =
      CallClient(ClientCallTable.isc_dsql_execute, session->StatusVector(), GetTrHandlePtr(),
                 &stmt_handle_, static_cast<unsigned short>(GetSQLDialect()), in);
  session->SetLastResult(result);
  if (result != 0) session->HandleException(this);
  rows_affected_stale_ = true;
  output_row_present_ = false;
  return result;
}

ISC_STATUS TIB_Statement::API_Execute2() {
  ISC_STATUS result = API_QuickFetch(true);
  // A singleton SELECT without a row is the end of data, not a failure: the server
  // reports it as 100 or as the end of the record stream.
  if (result == kStreamEof) {
    result = 100;
    GetIB_Session()->SetLastResult(result);
  }
  if (result != 0 && result != 100) GetIB_Session()->HandleException(this);
  return result;
}

ISC_STATUS TIB_Statement::API_QuickFetch(bool /*WithOutput*/) {
  TIB_Session* session = GetIB_Session();
  rows_affected_stale_ = true;
  XSQLDA* in = params_->ColumnCount() > 0 ? params_->PSQLDA() : nullptr;
  XSQLDA* out = fields_->ColumnCount() > 0 ? fields_->PSQLDA() : nullptr;
  const ISC_STATUS result =
      CallClient(ClientCallTable.isc_dsql_execute2, session->StatusVector(), GetTrHandlePtr(),
                 &stmt_handle_, static_cast<unsigned short>(GetSQLDialect()), in, out);
  session->SetLastResult(result);
  if (result == 0 && out != nullptr) {
    // A singleton result leaves no cursor to read from; the server's one is closed.
    ISC_STATUS_ARRAY ignored{};
    CallClient(ClientCallTable.isc_dsql_free_statement, ignored, &stmt_handle_, DSQL_close);
  }
  if (out != nullptr && (result == isc_dsql_error || result == kRequestLost) && IsMonitorHooked()) {
    AnsiString who = Name();
    if (Owner() != nullptr && !Owner()->Name().empty()) who = Owner()->Name() + "." + who;
    session->WriteToMonitor(
        "//>>> STATEMENT PREPARED <<<//\r\nTIB_Statement.API_QuickFetch()\r\n"
        "Recovery from lost server compile needed.\r\n" +
        ClassName() + ": \"" + who + "\" stHandle=" +
        IntToStr(static_cast<int64_t>(stmt_handle_)) + " #QF");
  }
  output_row_present_ = true;
  return result;
}

// --- Execute immediate ---------------------------------------------------------------------------

void TIB_Statement::ExecuteImmediate(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA) {
  TIB_BusyBracket busy(*this, false);
  SysExecuteImmediate(SQL, InDA, OutDA);
}

void TIB_Statement::ExecuteImmediate(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA,
                                     TIB_RowsAffected& Counts) {
  Counts = TIB_RowsAffected{};
  immediate_counts_ = &Counts;
  try {
    ExecuteImmediate(SQL, InDA, OutDA);
  } catch (...) {
    immediate_counts_ = nullptr;
    throw;
  }
  immediate_counts_ = nullptr;
}

void TIB_Statement::SysExecuteImmediate(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA) {
  if (CheckConnection(true) && CheckTransaction(true)) {
    SysExecImmediate(SQL, InDA, OutDA);
  }
}

namespace {

// How many texts a statement keeps prepared for ExecuteKeptImmediate.
constexpr size_t kKeptImmediates = 16;

}  // namespace

void TIB_Statement::ExecuteKeptImmediate(const AnsiString& SQL, XSQLDA* InDA) {
  TIB_Connection* c = IB_Connection();
  if (!prepared_ || c == nullptr) {
    ExecuteImmediate(SQL, InDA, nullptr);
    return;
  }
  TIB_BusyBracket busy(*this, false);
  if (!CheckConnection(true) || !CheckTransaction(true)) return;
  TIB_Session* session = GetIB_Session();
  const auto dialect = static_cast<unsigned short>(c->SQLDialect());
  auto it = std::find_if(kept_immediates_.begin(), kept_immediates_.end(),
                         [&](const KeptImmediate& k) { return k.SQL == SQL; });
  ISC_STATUS result = 0;
  if (it == kept_immediates_.end()) {
    isc_stmt_handle handle = 0;
    c->AllocateStatementHandle(handle);
    result = CallClient(ClientCallTable.isc_dsql_prepare, session->StatusVector(), GetTrHandlePtr(),
                        &handle, static_cast<unsigned short>(0), SQL.c_str(), dialect,
                        static_cast<XSQLDA*>(nullptr));
    if (result == 0) {
      if (IsMonitorHooked()) {
        AnsiString who = Name();
        if (Owner() != nullptr && !Owner()->Name().empty()) who = Owner()->Name() + "." + who;
        session->WriteToMonitor("//>>> STATEMENT PREPARED <<<//\r\nTIB_Statement.ExecuteKeptImmediate()\r\n" +
                                ClassName() + ": \"" + who + "\" stHandle=" +
                                IntToStr(static_cast<int64_t>(handle)) + " #KI");
      }
      if (kept_immediates_.size() >= kKeptImmediates) {
        c->ReleaseStatementHandle(kept_immediates_.back().Handle);
        kept_immediates_.pop_back();
      }
      kept_immediates_.insert(kept_immediates_.begin(), KeptImmediate{SQL, handle});
    } else {
      // The handle goes back; its own status must not hide ours.
      ISC_STATUS_ARRAY kept{};
      std::memcpy(kept, session->StatusVector(), sizeof kept);
      c->ReleaseStatementHandle(handle);
      std::memcpy(session->StatusVector(), kept, sizeof kept);
    }
  } else if (it != kept_immediates_.begin()) {
    std::rotate(kept_immediates_.begin(), it, it + 1);
  }
  if (result == 0) {
    result = CallClient(ClientCallTable.isc_dsql_execute2, session->StatusVector(), GetTrHandlePtr(),
                        &kept_immediates_.front().Handle, dialect, InDA, static_cast<XSQLDA*>(nullptr));
  }
  session->SetLastResult(result);
  if (result != 0) {
    SysHandleScriptStatement(SQL, result);
    session->SetLastResult(result);
  }
  if (result != 0) session->HandleException(this);
}

void TIB_Statement::ReleaseKeptImmediates() {
  if (kept_immediates_.empty()) return;
  std::vector<KeptImmediate> kept;
  kept.swap(kept_immediates_);
  TIB_Connection* c = IB_Connection();
  for (KeptImmediate& k : kept) {
    if (c != nullptr) {
      c->ReleaseStatementHandle(k.Handle);
    } else if (IsRealHandle(k.Handle) && ClientCallTable.isc_dsql_free_statement != nullptr) {
      ISC_STATUS_ARRAY ignored{};
      CallClient(ClientCallTable.isc_dsql_free_statement, ignored, &k.Handle, DSQL_drop);
    }
  }
}

void TIB_Statement::SysExecImmediate(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA) {
  TIB_Session* session = GetIB_Session();
  ISC_STATUS result = ISC_ExecImmed2(SQL, InDA, OutDA);
  session->SetLastResult(result);
  if (result != 0) {
    SysHandleScriptStatement(SQL, result);
    session->SetLastResult(result);
  }
  if (result != 0) session->HandleException(this);
}

ISC_STATUS TIB_Statement::ISC_ExecImmed2(const AnsiString& SQL, XSQLDA* InDA, XSQLDA* OutDA) {
  TIB_Session* session = GetIB_Session();
  TIB_Connection* c = IB_Connection();
  isc_stmt_handle handle = 0;
  if (c != nullptr) {
    c->AllocateStatementHandle(handle);
  } else if (ClientCallTable.isc_dsql_allocate_statement != nullptr) {
    session->SetLastResult(CallClient(ClientCallTable.isc_dsql_allocate_statement,
                                      session->StatusVector(), GetDbHandlePtr(), &handle));
  }
  const auto dialect = static_cast<unsigned short>(c != nullptr ? c->SQLDialect() : 1);
  ISC_STATUS result = CallClient(ClientCallTable.isc_dsql_prepare, session->StatusVector(),
                                 GetTrHandlePtr(), &handle, static_cast<unsigned short>(0),
                                 SQL.c_str(), dialect, OutDA);
  if (result == 0 && IsMonitorHooked()) {
    AnsiString who = Name();
    if (Owner() != nullptr && !Owner()->Name().empty()) who = Owner()->Name() + "." + who;
    session->WriteToMonitor("//>>> STATEMENT PREPARED <<<//\r\nTIB_Statement.ISC_ExecImmed2()\r\n" +
                            ClassName() + ": \"" + who + "\" stHandle=" +
                            IntToStr(static_cast<int64_t>(handle)) + " #EI");
  }
  if (result == 0) {
    result = CallClient(ClientCallTable.isc_dsql_execute2, session->StatusVector(),
                        GetTrHandlePtr(), &handle, dialect, InDA, OutDA);
  }
  if (result == 0 && immediate_counts_ != nullptr) {
    // Read while the handle still holds the execution; an unreadable answer counts as
    // not reported.
    try {
      pelvar::GetRowsAffected(&handle, *immediate_counts_);
    } catch (const EIB_Error&) {
      *immediate_counts_ = TIB_RowsAffected{};
    }
  }
  session->SetLastResult(result);
  // The handle goes back also after a failure; its own status must not hide ours.
  ISC_STATUS_ARRAY kept{};
  std::memcpy(kept, session->StatusVector(), sizeof kept);
  if (c != nullptr) {
    c->ReleaseStatementHandle(handle);
  } else if (handle != 0 && ClientCallTable.isc_dsql_free_statement != nullptr) {
    ISC_STATUS_ARRAY ignored{};
    CallClient(ClientCallTable.isc_dsql_free_statement, ignored, &handle, DSQL_drop);
  }
  if (result != 0) {
    std::memcpy(session->StatusVector(), kept, sizeof kept);
    session->SetLastResult(result);
  } else if (session->LastResult() != 0) {
    result = session->LastResult();
  }
  return result;
}

void TIB_Statement::SysHandleScriptStatement(const AnsiString& SQL, ISC_STATUS& Status) {
  TIB_Connection* c = IB_Connection();
  if (Status != isc_dsql_error || c == nullptr) return;
  AnsiString value, verb;
  if (!FindScriptValue(SQL, "DATABASE", {"CONNECT", "DISCONNECT", "DROP"}, value, verb)) return;
  Status = 0;
  if (AnsiSameText(verb, "CONNECT")) {
    if (!AnsiSameText(value, c->GetConnectString())) {
      c->CloseConnection();
      AnsiString applied;
      if (ApplyDatabaseStatement(*c, SQL, applied)) c->Connect(true);
    }
  } else if (AnsiSameText(verb, "DISCONNECT")) {
    c->CloseConnection();
  } else if (AnsiSameText(verb, "DROP")) {
    c->DropDatabase();
  }
}

// --- Statement type and information ---------------------------------------------------------------

void TIB_Statement::API_SQLInfo(const char* Items, int16_t ItemsLength, char* Buffer,
                                int16_t BufferLength) {
  GetIB_Session()->API_Call(this, ClientCallTable.isc_dsql_sql_info, &stmt_handle_,
                            static_cast<short>(ItemsLength + 1), Items,
                            static_cast<short>(BufferLength + 1), Buffer);
}

int32_t TIB_Statement::GetStatementType() {
  if (statement_type_stale_) {
    try {
      SysGetStatementType();
    } catch (const Exception&) {
      statement_type_ = 0;
      Application()->HandleException(this);
    }
  }
  return statement_type_;
}

void TIB_Statement::SysGetStatementType() {
  const AnsiString text = sql_->Text();
  int32_t s = 0, e = 0;
  GetSelectClause(text, &s, &e);
  if (s > 0) {
    int32_t fs = 0, fe = 0;
    GetForUpdateClause(text, &fs, &fe);
    statement_type_ = fs > 0 ? isc_info_sql_stmt_select_for_upd : isc_info_sql_stmt_select;
    statement_type_stale_ = false;
    return;
  }
  statement_type_ = 0;
  if (!prepared_ || !IsRealHandle(stmt_handle_)) return;
  char items[11] = {};
  items[0] = static_cast<char>(isc_info_sql_stmt_type);
  char buffer[51] = {};
  API_SQLInfo(items, 10, buffer, 50);
  if (static_cast<uint8_t>(buffer[0]) != isc_info_sql_stmt_type) {
    throw EIB_StatementError(this, IB_Message(TIB_Msg::BadSqlInfoData));
  }
  const int32_t length = ReadVax(buffer + 1, 2);
  if (length > 255) throw EIB_StatementError(this, IB_Message(TIB_Msg::UnexpectedSqlInfoLength));
  statement_type_ = static_cast<uint8_t>(buffer[3]);
  statement_type_stale_ = false;
}

int32_t TIB_Statement::StatementType() const { return statement_type_; }

bool TIB_Statement::IsSelectStatement() {
  const int32_t t = GetStatementType();
  return t == isc_info_sql_stmt_select || t == isc_info_sql_stmt_select_for_upd;
}

int32_t TIB_Statement::GetRowsAffected() {
  if (rows_affected_stale_) {
    try {
      TIB_RowsAffected counts;
      pelvar::GetRowsAffected(IsRealHandle(stmt_handle_) ? &stmt_handle_ : nullptr, counts);
      rows_affected_ = counts;
      rows_affected_stale_ = false;
    } catch (const Exception&) {
      rows_affected_ = TIB_RowsAffected{};
      Application()->HandleException(this);
    }
  }
  switch (GetStatementType()) {
    case isc_info_sql_stmt_select:
    case isc_info_sql_stmt_select_for_upd:
      return rows_affected_.SelectCount;
    case isc_info_sql_stmt_insert:
      return rows_affected_.InsertCount;
    case isc_info_sql_stmt_update:
      return rows_affected_.UpdateCount;
    case isc_info_sql_stmt_delete:
      return rows_affected_.DeleteCount;
    default:
      return -1;
  }
}

}  // namespace pelvar
