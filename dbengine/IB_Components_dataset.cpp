// The dataset's state machine, events and link-event suspension, and how it opens,
// closes, refreshes and moves through its named server cursor.
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_datasource.h"
#include "dbengine/IB_Components_keymasterlinks.h"
#include "dbengine/ib_dataset_edit_internal.h"

#include <chrono>
#include <cstring>
#include <exception>
#include <limits>
#include <string>
#include <vector>

#include "dbclient/IB_Constants.h"
#include "platform/application.h"
#include "platform/checked.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

bool IsRealHandle(isc_stmt_handle Handle) { return Handle != 0 && Handle != PlaceholderHandle; }

class FlagGuard {
 public:
  explicit FlagGuard(bool& Flag) : flag_(Flag) { flag_ = true; }
  ~FlagGuard() { flag_ = false; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;

 private:
  bool& flag_;
};

// Runs EnableLinkEvents when the bracket ends, also on an exception.
class LinkEventsBracket {
 public:
  explicit LinkEventsBracket(TIB_Dataset& D) : d_(D) { d_.DisableLinkEvents(); }
  ~LinkEventsBracket() noexcept(false) {
    if (std::uncaught_exceptions() > 0) {
      try {
        d_.EnableLinkEvents();
      } catch (...) {
        // The first exception is the one that counts.
      }
    } else {
      d_.EnableLinkEvents();
    }
  }
  LinkEventsBracket(const LinkEventsBracket&) = delete;
  LinkEventsBracket& operator=(const LinkEventsBracket&) = delete;

 private:
  TIB_Dataset& d_;
};

// The session's cursor counter: sessions are per thread, so is the counter.
thread_local uint32_t cursor_counter = 0;

}  // namespace

// --- The dataset as its transaction sees it ------------------------------------------------------

class TIB_Dataset::TransactionSide : public IB_TransactionDataset {
 public:
  explicit TransactionSide(TIB_Dataset& D) : d_(D) {}
  TIB_Component* DatasetComponent() override { return &d_; }
  TIB_Transaction* DatasetTransaction() override { return d_.IB_Transaction(); }
  TIB_Connection* DatasetConnection() override { return d_.IB_Connection(); }
  bool IsEditing() override { return d_.GetIsEditing(); }
  bool IsInserting() override { return d_.state_ == dstInsert; }
  bool CachedUpdates() override { return d_.CachedUpdates; }
  bool IsBuffered() override { return d_.IsBufferedDataset(); }
  TIB_CommitAction CommitAction() override { return d_.commit_action_; }
  TIB_RefreshAction RefreshAction() override { return d_.refresh_action_; }
  bool CursorIsOpen() override { return d_.cursor_declared_; }
  bool GetIsOpen() override { return d_.GetIsOpen(); }
  bool GetActive() override { return d_.Active(); }
  bool GetUnidirectional() override { return d_.GetUnidirectional(); }
  bool GetReadOnly() override { return false; }
  uint8_t WorkFlags() override { return d_.work_flags_; }
  void SetWorkFlags(uint8_t Value) override { d_.work_flags_ = Value; }
  bool RowLocked() override { return d_.row_lock_held_; }
  void ClearRowLock() override { d_.row_lock_held_ = false; }
  IB_TransactionDataset* MasterDataset() override {
    TIB_Dataset* m = d_.GetMasterDataset();
    return m != nullptr ? m->transaction_side_.get() : nullptr;
  }
  void SysPost() override { d_.SysPost(true, false); }
  void SysCancel() override { d_.SysCancel(); }
  void Close() override { d_.Close(); }
  void Refresh() override { d_.Refresh(); }
  void RefreshAll() override { d_.RefreshAll(); }
  void FetchAll() override { d_.FetchAll(); }
  void ApplyUpdates() override { d_.ApplyUpdates(); }
  void CommitUpdates() override { d_.CommitUpdates(); }
  void CancelUpdates() override { d_.CancelUpdates(); }
  uint8_t DMLCacheFlags() override { return d_.dml_cache_flags_; }
  void DoDMLCacheReceivedItem(const TIB_DMLCacheItem& Item) override {
    d_.DoDMLCacheReceivedItem(Item);
  }
  bool ServesAnotherDataset() override { return d_.OwningStatement() != nullptr; }
  void SysFetchAll(uint32_t Ticks) override { d_.SysFetchAll(Ticks); }
  int32_t BufferRowCount() override { return d_.GetBufferRowCount(); }
  bool FetchingWithCallbacks() override { return d_.fetching_; }

 private:
  TIB_Dataset& d_;
};

IB_TransactionDataset* TIB_Dataset::TransactionFace() { return transaction_side_.get(); }

// --- Construction and destruction -----------------------------------------------------------------

TIB_Dataset::TIB_Dataset(TComponent* Owner)
    : TIB_Statement(Owner),
      transaction_side_(std::make_unique<TransactionSide>(*this)),
      default_values_(std::make_unique<TIB_StringList>()),
      generator_links_(std::make_unique<TIB_StringList>()),
      confirm_delete_prompt_(std::make_unique<TIB_StringList>()),
      update_side_(std::make_unique<UpdateSide>(*this)),
      update_sql_(std::make_unique<TIB_UpdateSQL>(nullptr, update_side_.get())) {
  InitSQLLists();
  key_link_ = std::make_unique<TIB_KeyDataLink>(this);
  master_link_ = std::make_unique<TIB_MasterDataLink>(this);
}

TIB_Dataset::~TIB_Dataset() {
  Destroying();
  // The links leave their sources first; what they hear meanwhile is ignored.
  try {
    key_link_.reset();
    master_link_.reset();
  } catch (...) {
  }
  AbortFetching();
  try {
    SysClose();
  } catch (...) {
    // Going anyway.
  }
  try {
    SysDeallocate();
  } catch (...) {
    // Going anyway.
  }
  LeaveTransactionList();
  // The statement's destructor leaves the statement list only.
  LeaveSessionDatasetList();
  fetch_aborted_ = true;
}

void TIB_Dataset::LeaveSessionDatasetList() {
  TIB_Session* session = AssignedSession();
  if (session == nullptr || internal_) return;
  if (session->FocusedDataset() == this) session->SetFocusedDataset(nullptr);
  RemoveFromComponentList(session->DatasetList(), this);
}

void TIB_Dataset::SetIB_Session(TIB_Session* Value) {
  if (Value == AssignedSession()) return;
  LeaveSessionDatasetList();
  TIB_Statement::SetIB_Session(Value);
  TIB_Session* session = AssignedSession();
  if (session != nullptr && !internal_) session->DatasetList().push_back(this);
}

void TIB_Dataset::Loaded() {
  TIB_Statement::Loaded();
  CheckPendingOpen();
}

void TIB_Dataset::CheckPendingOpen() {
  if (!pending_open_ || IsLoading()) return;
  try {
    Open();
  } catch (const std::exception& e) {
    Application()->ShowException(e);
  }
  if (Active()) pending_open_ = false;
}

void TIB_Dataset::JoinTransactionList() {
  TIB_Transaction* tr = IB_Transaction();
  if (tr == joined_transaction_) return;
  LeaveTransactionList();
  if (tr != nullptr) {
    tr->AddDataset(transaction_side_.get());
    joined_transaction_ = tr;
  }
}

void TIB_Dataset::LeaveTransactionList() {
  if (joined_transaction_ != nullptr) {
    TIB_Transaction* tr = joined_transaction_;
    joined_transaction_ = nullptr;
    // The post-pending count follows the dataset's membership.
    if (GetIsEditing()) tr->AdjustPostPendingCount(-1);
    tr->RemoveDataset(transaction_side_.get());
  }
}

void TIB_Dataset::SetIB_Transaction(TIB_Transaction* Value) {
  TIB_Statement::SetIB_Transaction(Value);
  JoinTransactionList();
}

void TIB_Dataset::ProcessTransactionEvent(TIB_TransactionLink* Sender, uint8_t Event) {
  if (Event == tetBeforeAssignment) {
    if (Active()) Close();
    LeaveTransactionList();
  }
  TIB_Statement::ProcessTransactionEvent(Sender, Event);
  switch (Event) {
    case tetAfterCommitRetaining:
    case tetAfterSavePoint:
    case tetAfterRollbackRetaining:
    case tetAfterLosePoint:
    case tetAfterEnd:
      if (row_lock_held_) {
        row_lock_held_ = false;
        if (TIB_Transaction* tr = IB_Transaction()) tr->AdjustRowLockCount(-1);
      }
      break;
    default:
      break;
  }
}

// --- State ---------------------------------------------------------------------------------------

int32_t TIB_Dataset::GetBufferRowCount() const { return Fields()->RowState() != rsEmpty ? 1 : 0; }

bool TIB_Dataset::GetIsOpen() const {
  return Active() || (Prepared() && Fields()->RowState() != rsEmpty);
}

void TIB_Dataset::CheckActive() {
  if (!GetIsOpen()) throw EIB_DatasetError(this, IB_Message(TIB_Msg::DatasetInactive));
}

void TIB_Dataset::CheckPrepared() {
  if (!Prepared()) throw EIB_DatasetError(this, IB_Message(TIB_Msg::StatementNotPrepared));
}

void TIB_Dataset::CheckCanScroll() {
  if (Active() && !GetCanScroll()) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::DatasetCannotScroll));
  }
}

bool TIB_Dataset::GetModified() const {
  TIB_Row* row = Fields();
  if (row->RowState() == rsModified) return true;
  const int32_t size = row->RowBufferSize();
  if (size <= 0 || row->RowBuffer() == nullptr || row->OldRowBuffer() == nullptr) return false;
  return std::memcmp(row->RowBuffer(), row->OldRowBuffer(), static_cast<size_t>(size)) != 0;
}

TIB_Column* TIB_Dataset::FindBufferField(const AnsiString& Name) const {
  TIB_Column* column = nullptr;
  return GetBufferFields()->FindColumn(Name, column) ? column : nullptr;
}

TIB_Column* TIB_Dataset::BufferFieldByName(const AnsiString& Name) const {
  return GetBufferFields()->ColumnByName(Name);
}

void TIB_Dataset::GetBufferFieldList(TList* AList, const AnsiString& Names) const {
  std::vector<TIB_Column*> columns;
  GetBufferFields()->GetColumnList(columns, Names);
  AList->Clear();
  for (TIB_Column* c : columns) AList->Add(c);
}

void TIB_Dataset::SetState(TIB_DatasetState NewState) {
  if (NewState == state_) return;
  const TIB_DatasetState old = state_;
  TIB_Transaction* tr = joined_transaction_;
  if (GetIsEditing() && tr != nullptr) tr->AdjustPostPendingCount(-1);
  state_ = NewState;
  try {
    StateChanged();
  } catch (...) {
    if (GetIsEditing() && tr != nullptr) tr->AdjustPostPendingCount(1);
    Application()->HandleException(this);
    tr = nullptr;  // counted already
  }
  if (tr != nullptr && GetIsEditing()) tr->AdjustPostPendingCount(1);
  const bool designing = ComponentState().Contains(csDesigning);
  if (old == dstSearch || NewState == dstSearch ||
      (designing && (NewState == dstInactive || NewState == dstPrepared))) {
    ProcessLinkEvent(dsetDataChange, 0);
  }
}

void TIB_Dataset::StateChanged() {
  if (IsDestroying()) return;
  if (IsBufferedDataset() && link_events_disabled_ > 0) {
    deferred_state_changed_ = true;
    return;
  }
  CheckedInc(state_changed_nesting_);
  try {
    if (state_ == dstPrepared) last_row_state_ = 0xFF;
    if (!(state_ == dstPrepared && inserting_)) NotifyDataSourcesStateChanged();
  } catch (...) {
    --state_changed_nesting_;
    throw;
  }
  --state_changed_nesting_;
  if (refresh_all_requested_) {
    refresh_all_requested_ = false;
    RefreshAll();
  }
}

void TIB_Dataset::LinkStateChanged() {
  if (state_changed_nesting_ < 2) StateChanged();
}

void TIB_Dataset::SysResetState() {
  if (Active()) {
    SetState(dstBrowse);
  } else if (Prepared()) {
    // A dataset opened out of search mode goes back to its criteria when the user closes
    // it or gives up an insert; not when the close is part of a refresh, an unprepare,
    // the end of its transaction or its destruction.
    TIB_Transaction* tr = IB_Transaction();
    const bool transaction_ending = tr != nullptr && tr->State() >= tsCommitRetainingPending;
    const bool back_to_search = reopen_in_search_ && (closing_ || (cancelling_ && state_before_cancel_ == dstInsert)) &&
                                GetCanSearch() && !GetUnpreparing() && !GetRefreshing() && !IsDestroying() &&
                                !transaction_ending;
    if (!back_to_search) {
      SetState(dstPrepared);
    } else if (state_ != dstSearch) {
      SysBeginSearch();
    }
  } else {
    SetState(dstInactive);
  }
  ReleaseRowLock();
}

void TIB_Dataset::ReleaseRowLock() {
  if (!row_lock_held_) return;
  row_lock_held_ = false;
  TIB_Transaction* tr = IB_Transaction();
  if (tr == nullptr) return;
  tr->AdjustRowLockCount(-1);
  // The lock is an update of the row to itself: while the transaction holds no other
  // work, losing the save point undoes it and other users may change the row again.
  // With work pending the lock stays until the transaction ends.
  if (tr->PostPendingCount() == 0 && tr->State() == tsInactive) {
    try {
      tr->LosePoint();
    } catch (const Exception&) {
      tr->SavePoint();
    }
  }
  tr->CheckOAT();
}

// --- Events ----------------------------------------------------------------------------------------

void TIB_Dataset::FireDatasetEvent(const TIB_DatasetEvent& Handler, bool SuppressWhileRefreshing) {
  if (!Handler || IsLoading() || IsDestroying()) return;
  if (SuppressWhileRefreshing && GetRefreshing()) return;
  Handler(this);
}

void TIB_Dataset::DoBeforeOpen() {
  FireDatasetEvent(BeforeOpen, true);
  // A pending edit or insert is posted first.
  if (GetIsEditing()) SysPost(true, false);
}
void TIB_Dataset::DoAfterOpen() { FireDatasetEvent(AfterOpen, true); }
void TIB_Dataset::DoBeforeClose() { FireDatasetEvent(BeforeClose, true); }
void TIB_Dataset::DoAfterClose() { FireDatasetEvent(AfterClose, true); }
void TIB_Dataset::DoBeforeScroll() { FireDatasetEvent(BeforeScroll, false); }
void TIB_Dataset::DoAfterScroll() { FireDatasetEvent(AfterScroll, false); }
bool TIB_Dataset::DoAfterFetchRow() {
  FireDatasetEvent(AfterFetchRow, false);
  return true;
}
void TIB_Dataset::DoAfterFetchEof() { FireDatasetEvent(AfterFetchEof, false); }

// --- Link events -----------------------------------------------------------------------------------

void TIB_Dataset::DisableLinkEvents() { CheckedInc(link_events_disabled_); }

void TIB_Dataset::EnableLinkEvents() {
  if (link_events_disabled_ > 0) --link_events_disabled_;
  if (link_events_disabled_ != 0) return;
  if (deferred_state_changed_) {
    deferred_state_changed_ = false;
    deferred_data_change_ = false;
    StateChanged();
    ProcessLinkEvent(dsetDataChange, 0);
  }
  if (deferred_data_change_) {
    deferred_data_change_ = false;
    ProcessLinkEvent(dsetDataChange, 0);
  }
  if (deferred_after_scroll_) {
    deferred_after_scroll_ = false;
    SysAfterScroll();
  }
}

void TIB_Dataset::ProcessLinkEvent(uint8_t Code, intptr_t Argument) {
  if (Code == dsetDataChange) {
    // A look-up whose key dataset searches hands its current row to the search.
    if (!IsDestroying() && key_link_ != nullptr) {
      TIB_Dataset* key = GetKeyDataset();
      if (key != nullptr && key->GetSearchActive()) key_link_->SyncSearchCriteria();
    }
    if (IsDestroying()) return;
    if (IsBufferedDataset() && link_events_disabled_ > 0) {
      deferred_data_change_ = true;
      return;
    }
  }
  TIB_Statement::ProcessLinkEvent(Code, Argument);
}

void TIB_Dataset::CheckBrowseMode() {
  if (!(state_ == dstInsert && GetUnidirectional())) CheckActive();
  if (state_ == dstSearch || state_ == dstEdit || state_ == dstInsert) {
    ProcessLinkEvent(dsetUpdateData, 0);
  }
  ProcessLinkEvent(dsetBeforePost, 0);
  if (GetIsEditing()) SysPost(true, false);
}

// --- Opening and closing -----------------------------------------------------------------------------

void TIB_Dataset::Open() {
  TIB_BusyBracket busy(*this, false);
  if (Active()) return;
  LinkEventsBracket links(*this);
  SysOpenCursor();
  if (Active()) SysFetchFirstRow();
}

void TIB_Dataset::Close() {
  TIB_BusyBracket busy(*this, false);
  if (!GetIsOpen()) return;
  if (FetchingWithCallbacks() && !fetch_aborted_ && !GetRefreshing()) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::DatasetFetching));
  }
  SysClose();
}

void TIB_Dataset::SetActive(bool Value) {
  if (Value == Active()) return;
  if (Value) {
    Open();
  } else {
    Close();
  }
}

bool TIB_Dataset::QuickFetch() {
  TIB_BusyBracket busy(*this, false);
  SysQuickFetch();
  return Active();
}

bool TIB_Dataset::SysOpenCursor() {
  if (Active() || opening_) return Active();
  FlagGuard guard(opening_);
  if (IsLoading() || ComponentState().Contains(csFixups)) {
    pending_open_ = true;
    return Active();
  }
  CheckTransaction(true);
  JoinTransactionList();
  // A detail opens on its master's current row.
  if (GetMasterDataset() != nullptr) {
    if (!Prepared()) Prepare();
    AssignLinkParams();
  }
  {
    LinkEventsBracket links(*this);
    reopen_in_search_ = state_ == dstSearch || (reopen_in_search_ && GetRefreshing());
    // A detail searching with its master opens on the master's search result.
    TIB_Dataset* master = GetMasterDataset();
    if (master_search_ && state_ == dstSearch && master != nullptr && master->GetState() == dstSearch &&
        master_search_flags_.Contains(msfOpenMasterOnOpen)) {
      master->ExecuteSearch(true);
    }
    if (!Active()) SysExecute();
  }
  return Active();
}

void TIB_Dataset::SysExecute() {
  if (Active()) throw EIB_Error(this, IB_Message(TIB_Msg::DatasetOpen));
  // Opened out of search mode: the links' criteria enter the SQL first.
  if (state_ == dstSearch) {
    SysPost(false, false);
    if (Active()) return;  // the search opened the dataset itself
  }
  TIB_Statement::SysExecute();
}

void TIB_Dataset::ExecSQL() {
  if (Active() && IsSelectStatement()) {
    throw EIB_StatementError(this, IB_Message(TIB_Msg::StatementOpen));
  }
  TIB_Statement::ExecSQL();
}

void TIB_Dataset::SysInitFieldBuffers() {
  // The kept DML statements are bound to the columns of the row about to be rebuilt.
  update_sql_->UnprepareStatements();
  if (IsSelectStatement()) DoBeforeOpen();
  TIB_Statement::SysInitFieldBuffers();
}

void TIB_Dataset::SysExecSelect() {
  API_Execute();
  SysDeclareCursor();
  ++open_generation_;
}

void TIB_Dataset::SysActivate() {
  TIB_Statement::SysActivate();
  const int32_t type = GetStatementType();
  const bool select =
      type == isc_info_sql_stmt_select || type == isc_info_sql_stmt_select_for_upd;
  if (auto_fetch_all_ && select) {
    if (GetUnidirectional()) {
      SysLast();
    } else {
      SysFetchAll();
    }
  }
  if (select) DoAfterOpen();
}

void TIB_Dataset::DoActiveChange() {
  row_num_ = 0;
  eof_ = false;
  Fields()->ClearRow(rsEmpty);
  SysResetState();
  if (!GetRefreshing()) TIB_Statement::DoActiveChange();
}

void TIB_Dataset::DoPreparedChanged() {
  // The link column lists point into rows the preparation rebuilt.
  UnbindMasterLinks();
  UnbindKeyLinks();
  SetState(Prepared() ? dstPrepared : dstInactive);
  TIB_Statement::DoPreparedChanged();
}

void TIB_Dataset::DoAfterPrepare() {
  if (cursor_name_.empty()) MakeCursorName();
  TIB_Statement::DoAfterPrepare();
}

void TIB_Dataset::DoAfterUnprepare() {
  DropAutoKeyLinks();
  TIB_Statement::DoAfterUnprepare();
  cursor_name_.clear();
  update_sql_->FreeStatementHandles();
  update_sql_->UnprepareStatements();
}

void TIB_Dataset::SysDeallocate() {
  if (Active() && Fields()->ColumnCount() > 0) FetchAll();
  if (cursor_declared_) SysCloseCursor();
  cursor_name_.clear();
  TIB_Statement::SysDeallocate();
}

void TIB_Dataset::SysAfterParamChange(TIB_Row* Row, TIB_Column* Column) {
  TIB_Statement::SysAfterParamChange(Row, Column);
  if (param_changing_) return;
  FlagGuard guard(param_changing_);
  TIB_Connection* conn = IB_Connection();
  const bool connection_going =
      conn != nullptr &&
      (conn->Status() == cstDisconnectPending || conn->Status() == cstDropPending);
  if ((refresh_on_param_change_ || master_update_nesting_ > 0) && Active() && !GetIsEditing() &&
      !IsDestroying() && !connection_going) {
    AbortFetching();
    Refresh();
  }
}

bool TIB_Dataset::TransactionRollingBack() const {
  TIB_Transaction* tr = IB_Transaction();
  if (tr == nullptr) return false;
  const TIB_TransactionState s = tr->State();
  return s == tsRollbackRetainingPending || s == tsRollbackPending ||
         s == tsRollbackRefreshPending;
}

void TIB_Dataset::SysClose() {
  if (!GetIsOpen() || closing_) return;
  FlagGuard guard(closing_);
  DoBeforeClose();
  if (TransactionRollingBack() || IsDestroying()) {
    if (GetIsEditing()) SysCancel();
  } else {
    CheckBrowseMode();
  }
  if (GetBufferRowCount() > 0) SysPost(false, false);
  if (!opening_) {
    saved_bof_or_eof_ = GetEof() || GetBof();
    try {
      saved_row_num_ = GetRowNum();
    } catch (...) {
      saved_row_num_ = 0;
    }
    try {
      saved_bookmark_ = GetBookmark();
    } catch (...) {
      saved_bookmark_.clear();
    }
  }
  if (cursor_declared_) {
    SysCloseCursor();
    if (TIB_Transaction* tr = IB_Transaction()) tr->CheckOAT();
  }
  ++open_generation_;
  if (Active()) {
    TIB_Statement::SysClose();
  } else {
    // Prepared with a row (a rejected quick fetch): only the row goes.
    row_num_ = 0;
    eof_ = false;
    Fields()->ClearRow(rsEmpty);
    SysResetState();
  }
  DoAfterClose();
}

bool TIB_Dataset::SysQuickFetch() {
  if (Active()) {
    SysClose();
  } else if (!Prepared()) {
    SetPrepared(true);
  }
  CheckPrepared();
  if (!CheckTransaction(true)) {
    throw EIB_StatementError(this, IB_Message(TIB_Msg::NoActiveTransaction));
  }
  JoinTransactionList();
  Fields()->ClearRow(rsEmpty);
  eof_ = true;
  row_num_ = 0;
  // The engine refuses a singleton execute of a SELECT that yields more than one row;
  // the quick fetch reads the first row of the result and gives the cursor up at once.
  API_Execute();
  TIB_Session* session = GetIB_Session();
  const ISC_STATUS result =
      CallClient(ClientCallTable.isc_dsql_fetch, session->StatusVector(), GetStmtHandlePtr(),
                 static_cast<unsigned short>(GetSQLDialect()), Fields()->PSQLDA());
  session->SetLastResult(result);
  if (result != 0 && result != 100) {
    ISC_STATUS_ARRAY ignored{};
    CallClient(ClientCallTable.isc_dsql_free_statement, ignored, GetStmtHandlePtr(),
               static_cast<unsigned short>(DSQL_close));
    session->HandleException(this);
    return Active();
  }
  {
    ISC_STATUS_ARRAY ignored{};
    CallClient(ClientCallTable.isc_dsql_free_statement, ignored, GetStmtHandlePtr(),
               static_cast<unsigned short>(DSQL_close));
  }
  if (result == 0) {
    row_num_ = 1;
    active_ = true;
    SetState(dstBrowse);
    Fields()->SetRowLoaded(true, true, true);
    if (DoAfterFetchRow()) {
      TIB_Statement::DoActiveChange();
    } else {
      active_ = false;
      row_num_ = 0;
      SetState(dstPrepared);
      Fields()->ClearRow(rsEmpty);
      DoAfterFetchEof();
    }
  } else {
    DoAfterFetchEof();
  }
  return Active();
}

// --- The cursor ------------------------------------------------------------------------------------

void TIB_Dataset::MakeCursorName() {
  if (!cursor_name_.empty()) return;
  if (cursor_counter == std::numeric_limits<uint32_t>::max()) {
    cursor_counter = 1;
  } else {
    ++cursor_counter;
  }
  const auto now = std::chrono::system_clock::now();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  const int64_t total_ms = ms.count();
  const int64_t msec = total_ms % 1000;
  const int64_t sec = (total_ms / 1000) % 60;
  const int64_t min = (total_ms / 60000) % 60;
  cursor_name_ = "C" + std::to_string(reinterpret_cast<uintptr_t>(this)) + std::to_string(msec) +
                 std::to_string(sec) + std::to_string(min) + std::to_string(cursor_counter);
}

void TIB_Dataset::SysDeclareCursor() {
  if (cursor_declared_) throw EIB_DatasetError(this, IB_Message(TIB_Msg::CursorAlreadyOpen));
  if (cursor_name_.empty()) MakeCursorName();
  TIB_Session* session = GetIB_Session();
  const ISC_STATUS result =
      CallClient(ClientCallTable.isc_dsql_set_cursor_name, session->StatusVector(),
                 GetStmtHandlePtr(), cursor_name_.c_str(), static_cast<unsigned short>(0));
  session->SetLastResult(result);
  if (result != 0) {
    session->HandleException(this);
    return;
  }
  cursor_declared_ = true;
  if (TIB_Transaction* tr = IB_Transaction()) tr->AdjustOpenCursorCount(1);
}

void TIB_Dataset::SysCloseCursor() {
  TIB_Session* session = AssignedSession();
  if (session != nullptr && IsRealHandle(*GetStmtHandlePtr()) &&
      ClientCallTable.isc_dsql_free_statement != nullptr) {
    session->SetLastResult(CallClient(ClientCallTable.isc_dsql_free_statement,
                                      session->StatusVector(), GetStmtHandlePtr(),
                                      static_cast<unsigned short>(DSQL_close)));
  }
  if (cursor_declared_) {
    cursor_declared_ = false;
    if (TIB_Transaction* tr = IB_Transaction()) tr->AdjustOpenCursorCount(-1);
  }
}

// Fetching lives in IB_Components_dataset_fetch.cpp.

// --- Navigation ----------------------------------------------------------------------------------------

int32_t TIB_Dataset::GetEofRowNum() const { return CheckedAdd(row_num_, 1); }

void TIB_Dataset::SetRowNum(int32_t /*Value*/) {
  throw EIB_DatasetError(this, IB_Message(TIB_Msg::RowNumNotImplemented));
}

void TIB_Dataset::SetBookmark(const AnsiString& /*Value*/) {
  throw EIB_DatasetError(this, IB_Message(TIB_Msg::NotImplemented));
}

bool TIB_Dataset::SysRefreshKeys(int32_t /*First*/, int32_t /*Last*/) {
  throw EIB_DatasetError(this, IB_Message(TIB_Msg::NotImplemented));
}

bool TIB_Dataset::GetIsReady() const { return GetIsOpen() || state_ == dstSearch; }

bool TIB_Dataset::GetCanScroll() const {
  if (GetRefreshing()) return true;
  bool can = GetIsReady();
  if (can && OnGetCanScroll) OnGetCanScroll(const_cast<TIB_Dataset*>(this), can);
  return can;
}

void TIB_Dataset::First() {
  TIB_BusyBracket busy(*this, false);
  LinkEventsBracket links(*this);
  if (Active()) {
    CheckBrowseMode();
  } else {
    SetPrepared(true);
  }
  SysFirst();
}

void TIB_Dataset::Last() {
  TIB_BusyBracket busy(*this, false);
  if (GetUnidirectional() && Active() && eof_) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::AtEndOfDataset));
  }
  LinkEventsBracket links(*this);
  if (Active()) {
    CheckBrowseMode();
  } else {
    SetPrepared(true);
  }
  SysLast();
}

int32_t TIB_Dataset::MoveBy(int32_t Distance) {
  TIB_BusyBracket busy(*this, false);
  LinkEventsBracket links(*this);
  if (!Prepared()) SetPrepared(true);
  return SysMoveBy(Distance);
}

void TIB_Dataset::Next() {
  if (GetEof()) throw EIB_DatasetError(this, IB_Message(TIB_Msg::AtEndOfDataset));
  MoveBy(1);
}

void TIB_Dataset::Prior() {
  if (GetBof()) throw EIB_DatasetError(this, IB_Message(TIB_Msg::AtBeginningOfDataset));
  MoveBy(-1);
}

void TIB_Dataset::CursorNext() {
  TIB_BusyBracket busy(*this, false);
  if (!cursor_declared_ && !SysOpenCursor()) return;
  if (eof_) throw EIB_DatasetError(this, IB_Message(TIB_Msg::AtEndOfDataset));
  SysBeforeScroll();
  SysFetchRow();
  SysAfterScroll();
}

void TIB_Dataset::SysFetchFirstRow() {
  if (auto_fetch_first_ && GetBof()) SysMoveBy(1);
}

void TIB_Dataset::SysFirst() {
  SysBeforeScroll();
  if (Active()) SysClose();
  SysOpenCursor();
  if (GetBof() && !GetEof()) SysFetchRow();
  SysAfterScroll();
}

void TIB_Dataset::SysLast() {
  SysBeforeScroll();
  SysOpenCursor();
  SysFetchAll();
  SysAfterScroll();
}

int32_t TIB_Dataset::SysMoveBy(int32_t Distance) {
  SysBeforeScroll();
  if (Distance < 0 && GetUnidirectional()) {
    throw EIB_StatementError(this, IB_Message(TIB_Msg::CursorUnidirectional));
  }
  int32_t moved = 0;
  if (Distance == 0) {
    Fields()->DataChanged(nullptr);
  } else if (Distance > 0 && SysOpenCursor() && !eof_) {
    const int32_t abort_count = fetch_abort_count_;
    const uint32_t generation = open_generation_;
    if (Distance == 1) {
      const int32_t before = row_num_;
      SysFetchRow();
      moved = CheckedSub(row_num_, before);
    } else {
      LinkEventsBracket links(*this);
      BeginCallbackFetch();
      try {
        while (!eof_ && moved < Distance && abort_count == fetch_abort_count_) {
          const int32_t before = row_num_;
          SysFetchRow();
          moved = CheckedAdd(moved, CheckedSub(row_num_, before));
        }
      } catch (...) {
        try {
          EndCallbackFetch();
        } catch (...) {
          // The fetch error is the one to report.
        }
        throw;
      }
      EndCallbackFetch();
    }
    if (abort_count != fetch_abort_count_ || generation != open_generation_) moved = 0;
  }
  if (moved > 0) SysAfterScroll();
  return moved;
}

void TIB_Dataset::SysBeforeScroll() {
  if (!Prepared()) return;
  DoBeforeScroll();
  CheckCanScroll();
  if (Active()) {
    CheckBrowseMode();
  } else if (GetIsEditing()) {
    SysPost(true, false);
  }
}

void TIB_Dataset::SysAfterScroll() {
  if (IsBufferedDataset()) {
    if (link_events_disabled_ > 0) {
      deferred_after_scroll_ = true;
      return;
    }
    if (GetRefreshing()) return;
  }
  ReleaseRowLock();
  const uint8_t row_state = Fields()->RowState();
  if (row_state != last_row_state_ && !FetchingWithCallbacks()) {
    last_row_state_ = row_state;
    StateChanged();
    if (GetUnidirectional()) {
      ProcessLinkEvent(dsetRowStateChanged, 0);
      ProcessLinkEvent(dsetDataChange, 0);
    }
  }
  DoAfterScroll();
  if (GetKeyDataset() != nullptr) SyncKeySource();
}

// --- Refreshing ----------------------------------------------------------------------------------------

bool TIB_Dataset::Refresh() {
  TIB_BusyBracket busy(*this, false);
  if (!Active()) return false;
  return SysRefresh(false, true);
}

bool TIB_Dataset::RefreshAll() {
  TIB_BusyBracket busy(*this, false);
  if (Active()) return SysRefresh(true, true);
  if (GetIsOpen()) return RefreshCurrentRow();
  return false;
}

bool TIB_Dataset::RefreshCurrentRow() {
  TIB_BusyBracket busy(*this, false);
  if (!GetIsOpen()) return false;
  return SysRefresh(true, false);
}

bool TIB_Dataset::SysRefresh(bool RefreshRow, bool Reopen) {
  if (RefreshRow && !Reopen) {
    SysRefreshRow();
    return true;
  }
  struct MarkRefreshed {
    uint8_t& flags;
    ~MarkRefreshed() { flags |= 16; }
  } mark{work_flags_};
  if (!Active()) return false;
  if (TIB_Transaction* tr = IB_Transaction()) {
    const TIB_TransactionState s = tr->State();
    if (s == tsCommitPending || s == tsRollbackPending) {
      if (commit_action_ == caClose || tr->Closing()) {
        AbortFetching();
        Close();
        return false;
      }
    }
  }
  if (refresh_nesting_ == 0) {
    refresh_generation_ = 0;
    reposition_needed_ = false;
  }
  CheckedInc(refresh_nesting_);
  CheckedInc(refresh_generation_);
  struct NestingBack {
    int32_t& nesting;
    ~NestingBack() { --nesting; }
  };
  bool after_scroll = false;
  {
    NestingBack back{refresh_nesting_};
    LinkEventsBracket links(*this);
    if (!FetchingWithCallbacks()) {
      SysBeforeScroll();
    } else {
      AbortFetching();
    }
    if (refresh_nesting_ == 1) {
      SysClose();
      positioned_exactly_ = false;
    }
    const bool saved_bof_or_eof = saved_bof_or_eof_;
    const int32_t saved_row_num = saved_row_num_;
    const AnsiString saved_bookmark = saved_bookmark_;
    if (RefreshRow) SysRefreshRow();
    auto no_nested = [&]() { return refresh_nesting_ == refresh_generation_; };
    if (param_changing_) {
      Open();
      if (no_nested()) {
        positioned_exactly_ = Active() && !GetEof() && !GetBof();
        if (GetBookmark() != saved_bookmark) reposition_needed_ = true;
      }
    } else if (GetUnidirectional() || saved_bookmark.empty() ||
        refresh_action_ == raOpen || refresh_action_ == raKeepRowNum) {
      if (refresh_action_ == raKeepRowNum) {
        SysOpenCursor();
        if (no_nested()) {
          if (GetUnidirectional()) {
            // A forward-only cursor cannot be placed on a row number; it reads its way
            // back to the saved one.
            if (saved_row_num > row_num_) SysMoveBy(CheckedSub(saved_row_num, row_num_));
          } else {
            SetRowNum(saved_row_num);
          }
        }
        if (no_nested()) {
          positioned_exactly_ = row_num_ == saved_row_num && !GetEof() && !GetBof();
          if (GetBookmark() != saved_bookmark) reposition_needed_ = true;
        }
      } else {
        Open();
        if (no_nested()) positioned_exactly_ = Active() && !GetEof() && !GetBof();
      }
    } else {
      // A dataset that keeps bookmarks returns to the row it stood on, else near it.
      SysOpenCursor();
      if (no_nested() && Active()) {
        SetBookmark(saved_bookmark);
        positioned_exactly_ = GetBookmark() == saved_bookmark && !GetEof() && !GetBof();
        if (!positioned_exactly_ && !saved_bof_or_eof && no_nested()) {
          SetRowNum(saved_row_num);
          if (GetBookmark() == saved_bookmark) {
            positioned_exactly_ = true;
            reposition_needed_ = false;
          }
        }
        if (!positioned_exactly_ && !saved_bof_or_eof && no_nested()) {
          SysFirst();
          if (GetBookmark() == saved_bookmark) {
            positioned_exactly_ = true;
            reposition_needed_ = false;
          } else if (refresh_action_ == raKeepDataPosOrRowNum) {
            SetRowNum(saved_row_num);
            if (GetEof()) SetRowNum(CheckedSub(GetEofRowNum(), 1));
            positioned_exactly_ = false;
            reposition_needed_ = true;
          }
        }
        if (GetBookmark() != saved_bookmark) reposition_needed_ = true;
      }
    }
    if (!no_nested()) positioned_exactly_ = false;
    after_scroll = refresh_nesting_ == 1 && !FetchingWithCallbacks() && reposition_needed_;
  }
  if (after_scroll) SysAfterScroll();
  return positioned_exactly_;
}

void TIB_Dataset::SysRefreshRow() {
  if (GetRefreshing()) return;
  if (!GetIsEditing()) SysMoveBy(0);
  ProcessLinkEvent(dsetRowRefreshed, NoRowNum);
}

void TIB_Dataset::SysRefreshRowNum(int32_t ARowNum) {
  if (ARowNum == GetRowNum() && !GetIsEditing()) SysMoveBy(0);
  ProcessLinkEvent(dsetRowRefreshed, ARowNum);
}

void TIB_Dataset::NotifyDataSourcesStateChanged() { TIB_DataSource::NotifyStateChanged(this); }

}  // namespace pelvar
