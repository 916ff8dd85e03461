// The transaction: its parameter block and start over one or more connections, its
// states and link events, the connections it spans; its ending by commit, rollback and
// their retaining forms with the pass over its datasets; the preset default and
// internal transactions, the transaction link and the database component.
#include <algorithm>
#include <exception>
#include <vector>

#include "dbclient/IB_Components.h"
#include "platform/application.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// The lost connection to the server's pipe: the start is retried while the library
// answers it, and a failed end with it (or any other lost-connection code) means the
// connection is gone.
constexpr ISC_STATUS kConnLost = 335544648L;
constexpr uint32_t kStartRetryMs = 2000;
// The low five work-flag bits of a dataset: posted inserts, deletes, edits, a refresh.
constexpr uint8_t kWorkBits = 0x1F;

[[noreturn]] void RaiseTransactionError(TComponent* Sender, TIB_Msg Msg) {
  throw EIB_TransactionError(Sender, IB_Message(Msg));
}

template <class T>
bool Contains(const std::vector<T*>& List, const T* Item) {
  return std::find(List.begin(), List.end(), Item) != List.end();
}

template <class T>
T* EntryAt(const std::vector<T*>& List, int32_t Index) {
  return Index >= 0 && Index < static_cast<int32_t>(List.size()) ? List[static_cast<size_t>(Index)]
                                                                 : nullptr;
}

// Shows an error through the application's handler (inside a catch block).
void ShowHandled(TObject* Sender) {
  if (Application() != nullptr) {
    Application()->HandleException(Sender);
  }
}

}  // namespace

AnsiString TransactionStateText(TIB_TransactionState State) {
  switch (State) {
    case tsNone: return "State=None";
    case tsInactivePending: return "State=InactivePending";
    case tsInactive: return "State=Inactive";
    case tsActivePending: return "State=ActivePending";
    case tsActive: return "State=Active";
    case tsCommitRetainingPending: return "State=CommitRetainingPending";
    case tsCommitPending: return "State=CommitPending";
    case tsCommitRefreshPending: return "State=CommitRefreshPending";
    case tsRollbackRetainingPending: return "State=RollbackRetainingPending";
    case tsRollbackPending: return "State=RollbackPending";
    case tsRollbackRefreshPending: return "State=RollbackRefreshPending";
    default: return "State=Unknown";
  }
}

void TIB_TimeoutProps::Assign(TPersistent* Source) {
  auto* s = dynamic_cast<TIB_TimeoutProps*>(Source);
  if (s == nullptr) {
    TPersistent::Assign(Source);
    return;
  }
  AllowCheckOAT = s->AllowCheckOAT;
  Attempt = s->Attempt;
  AttemptTicks = s->AttemptTicks;
  AttemptRetry = s->AttemptRetry;
  NextAttempt = s->NextAttempt;
  AttemptMaxRows = s->AttemptMaxRows;
  PromptUser = s->PromptUser;
  PromptUserDuration = s->PromptUserDuration;
  PromptUserRetry = s->PromptUserRetry;
  NextPromptUser = s->NextPromptUser;
  ForceClosed = s->ForceClosed;
}

// --- Construction --------------------------------------------------------------------------

TIB_Transaction::TIB_Transaction(TComponent* Owner)
    : TIB_Component(Owner),
      confirm_cancel_prompt_(std::make_unique<TIB_StringList>()),
      confirm_close_prompt_(std::make_unique<TIB_StringList>()),
      timeout_props_(std::make_unique<TIB_TimeoutProps>()) {}

TIB_Transaction::~TIB_Transaction() {
  // No Before or After handler fires from here on.
  Destroying();
  if (GetStarted() || explicit_ || HasPendingWork()) {
    try {
      Close();
    } catch (const std::exception&) {
      // Going anyway.
    }
  }
  if (GetStarted()) {
    // A rollback the server refused: the handle is given up with the component.
    tr_handle_ = 0;
  }
  while (!links_.empty()) {
    const size_t before = links_.size();
    links_.front()->SetIB_Transaction(nullptr);
    if (links_.size() == before) {
      links_.erase(links_.begin());
    }
  }
  RemoveAllConnections();
  SetIB_Session(nullptr);
}

void TIB_Transaction::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) {
    return;
  }
  if (session_ != nullptr && !internal_) {
    if (session_->FocusedTransaction() == this) {
      session_->SetFocusedTransaction(nullptr);
    }
    RemoveFromComponentList(session_->TransactionList(), this);
  }
  TIB_Component::SetIB_Session(Value);
  if (session_ != nullptr && !internal_) {
    session_->TransactionList().push_back(this);
  }
}

// --- Focus and properties -------------------------------------------------------------------

void TIB_Transaction::SetAnnounceFocus(bool Value) {
  if (Value == announce_focus_) {
    return;
  }
  announce_focus_ = Value;
  if (Value) {
    SetFocus();
  }
}

void TIB_Transaction::SetFocus() { GetIB_Session()->SetFocusedTransaction(this); }

void TIB_Transaction::DoGainFocus() {
  if (!ComponentState().Contains(csReading)) Fire(OnGainFocus);
}

void TIB_Transaction::DoLoseFocus() {
  if (!ComponentState().Contains(csReading)) Fire(OnLoseFocus);
}

void TIB_Transaction::Fire(const TIB_TransactionEvent& Event) {
  if (Event && !IsDestroying()) {
    Event(this);
  }
}

void TIB_Transaction::SetAutoCommit(bool Value) {
  if (Value == auto_commit_) {
    return;
  }
  auto_commit_ = Value;
  SetState(state_);
}

void TIB_Transaction::SetServerAutoCommit(bool Value) {
  if (Value == server_auto_commit_) {
    return;
  }
  if (GetStarted() && Value) {
    Commit();
  }
  Close();
  server_auto_commit_ = Value;
}

void TIB_Transaction::CheckNotStarted(TIB_Msg Msg) {
  CheckOAT();
  if (GetStarted()) {
    RaiseTransactionError(this, Msg);
  }
}

void TIB_Transaction::SetReadOnly(bool Value) {
  if (Value == read_only_) return;
  CheckNotStarted(TIB_Msg::CannotChangeReadOnly);
  read_only_ = Value;
}

void TIB_Transaction::SetIsolation(TIB_Isolation Value) {
  if (Value == isolation_) return;
  CheckNotStarted(TIB_Msg::CannotChangeIsolation);
  isolation_ = Value;
}

void TIB_Transaction::SetRecVersion(bool Value) {
  if (Value == rec_version_) return;
  CheckNotStarted(TIB_Msg::CannotChangeRecVersion);
  rec_version_ = Value;
}

void TIB_Transaction::SetLockWait(bool Value) {
  if (Value == lock_wait_) return;
  CheckNotStarted(TIB_Msg::CannotChangeLockWait);
  lock_wait_ = Value;
}

void TIB_Transaction::SetConfirmCancelPrompt(const TStrings* Value) {
  confirm_cancel_prompt_->Assign(const_cast<TStrings*>(Value));
}

void TIB_Transaction::SetConfirmClosePrompt(const TStrings* Value) {
  confirm_close_prompt_->Assign(const_cast<TStrings*>(Value));
}

bool TIB_Transaction::WantsSessionTimer() {
  return GetStarted() || TIB_Component::WantsSessionTimer();
}

// --- State -----------------------------------------------------------------------------------

bool TIB_Transaction::HasPendingWork() const {
  if (post_pending_ > 0 || cached_pending_ > 0) {
    return true;
  }
  switch (state_) {
    case tsActivePending:
    case tsActive:
    case tsSavePointPending:
    case tsCommitRetainingPending:
    case tsCommitPending:
    case tsCommitRefreshPending:
    case tsRollbackRetainingPending:
    case tsRollbackPending:
    case tsRollbackRefreshPending:
      return true;
    default:
      return false;
  }
}

double TIB_Transaction::GetTimeActive() const { return GetStarted() ? Now() - start_time_ : 0.0; }

void TIB_Transaction::SetState(TIB_TransactionState NewState) {
  if (GetAutoCommit() && NewState == tsActive && !explicit_) {
    // An implicit AutoCommit transaction commits every change at once.
    if (!server_auto_commit_) {
      SavePoint();
    }
    return;
  }
  if (NewState == state_) {
    return;
  }
  state_ = NewState;
  DoStateChanged();
}

void TIB_Transaction::ResetState(bool AllowNone) {
  TIB_TransactionState s = state_;
  switch (s) {
    case tsSavePointPending:
    case tsLosePointPending:
    case tsCommitRetainingPending:
    case tsRollbackRetainingPending:
      s = GetStarted() ? tsInactive : tsNone;
      break;
    case tsInactivePending:
    case tsCommitPending:
    case tsCommitRefreshPending:
    case tsRollbackPending:
    case tsRollbackRefreshPending:
      s = tsNone;
      break;
    default:
      break;
  }
  if (post_pending_ > 0 || cached_pending_ > 0) {
    if (s == tsNone || s == tsInactive) s = tsActivePending;
  } else if (GetStarted() && s == tsNone) {
    s = tsInactive;
  }
  if (!AllowNone && s == tsNone) {
    s = tsInactive;
  }
  SetState(s);
}

void TIB_Transaction::UpdateStateFromCounts() {
  if ((post_pending_ > 0 || cached_pending_ > 0) && (state_ == tsNone || state_ == tsInactive)) {
    SetState(tsActivePending);
    DoStateChanged();
  } else if (post_pending_ == 0 && cached_pending_ == 0 && state_ == tsActivePending) {
    SetState(tsInactive);
    DoStateChanged();
  }
}

void TIB_Transaction::AdjustPostPendingCount(int32_t Delta) {
  post_pending_ = CheckedAdd(post_pending_, Delta);
  UpdateStateFromCounts();
}

void TIB_Transaction::AdjustCachedUpdatesPendingCount(int32_t Delta) {
  cached_pending_ = CheckedAdd(cached_pending_, Delta);
  UpdateStateFromCounts();
}

void TIB_Transaction::AdjustOpenCursorCount(int32_t Delta) {
  open_cursors_ = CheckedAdd(open_cursors_, Delta);
}

void TIB_Transaction::AdjustRowLockCount(int32_t Delta) {
  row_locks_ = CheckedAdd(row_locks_, Delta);
}

void TIB_Transaction::Activate() {
  switch (state_) {
    case tsNone:
    case tsInactive:
    case tsActivePending:
      SetState(tsActive);
      DoStateChanged();
      break;
    case tsActive:
      SetState(tsActive);
      break;
    case tsSavePointPending:
    case tsCommitRetainingPending:
    case tsCommitPending:
    case tsCommitRefreshPending:
    case tsRollbackRetainingPending:
    case tsRollbackPending:
    case tsRollbackRefreshPending:
      // A statement run while the transaction ends.
      break;
    default:
      RaiseTransactionError(this, TIB_Msg::InvalidTransactionState);
  }
  timeout_props_->DisableCheckOATFromError = false;
}

// --- Public operations -----------------------------------------------------------------------

void TIB_Transaction::StartTransaction() {
  if (explicit_) {
    RaiseTransactionError(this, TIB_Msg::TransactionStarted);
  }
  if (server_auto_commit_) {
    RaiseTransactionError(this, TIB_Msg::ExplicitWithServerAutoCommit);
  }
  explicit_ = true;
  DoStateChanged();
}

void TIB_Transaction::Commit() {
  if (GetStarted() || explicit_ || HasPendingWork()) {
    TIB_BusyBracket busy(*this, false);
    SysCommit(false);
  } else {
    DoStateChanged();
  }
}

void TIB_Transaction::CommitRetaining() {
  if (GetStarted() || explicit_ || HasPendingWork()) {
    TIB_BusyBracket busy(*this, false);
    SysCommitRetaining(false);
  } else {
    DoStateChanged();
  }
}

void TIB_Transaction::SavePoint() {
  if (GetStarted()) {
    TIB_BusyBracket busy(*this, false);
    SysCommitRetaining(true);
  } else {
    DoStateChanged();
  }
}

void TIB_Transaction::LosePoint() {
  if (GetStarted()) {
    TIB_BusyBracket busy(*this, false);
    SysRollbackRetaining(true);
  } else {
    DoStateChanged();
  }
}

void TIB_Transaction::Rollback() {
  if (GetStarted() || explicit_ || HasPendingWork()) {
    TIB_BusyBracket busy(*this, false);
    SysRollback(false);
  } else {
    DoStateChanged();
  }
}

void TIB_Transaction::RollbackRetaining() {
  if (GetStarted() || explicit_ || HasPendingWork()) {
    TIB_BusyBracket busy(*this, false);
    SysRollbackRetaining(false);
  } else {
    DoStateChanged();
  }
}

void TIB_Transaction::Close() {
  if (!(GetStarted() || explicit_ || HasPendingWork())) {
    return;
  }
  TIB_BusyBracket busy(*this, false);
  if (!closing_) {
    closing_ = true;
    struct Reset {
      bool& flag;
      ~Reset() { flag = false; }
    } reset{closing_};
    try {
      if (GetAutoCommit() && !connection_lost_ && !explicit_) {
        try {
          SysCommit(false);
        } catch (...) {
          // A commit that fails is reported, and the work stays in the transaction so
          // that it can be committed again or rolled back on purpose. Only a
          // transaction whose connection is gone, or one being destroyed, is rolled
          // back here (on a lost connection without a server call).
          if (connection_lost_ || IsDestroying() || ConnectionGoing()) {
            const std::exception_ptr commit_error = std::current_exception();
            if (GetStarted() || explicit_ || HasPendingWork()) {
              SysRollback(false);
            }
            std::rethrow_exception(commit_error);
          }
          throw;
        }
      } else {
        SysRollback(false);
      }
    } catch (...) {
      // Nobody is left to tell while this transaction or one of its connections is
      // being destroyed.
      if (!IsDestroying() && !ConnectionGoing()) {
        throw;
      }
    }
  }
  explicit_ = false;
}

bool TIB_Transaction::ConnectionGoing() const {
  for (int32_t i = 0; i < Get_ConnectionCount(); ++i) {
    TIB_Connection* c = GetConnection(i);
    if (c != nullptr && c->ComponentState().Contains(csDestroying)) {
      return true;
    }
  }
  return false;
}

void TIB_Transaction::SetStarted(bool Value) {
  if (Value == GetStarted()) {
    return;
  }
  if (Value) {
    EnsureStarted();
  } else {
    Close();
  }
}

// --- Starting -----------------------------------------------------------------------------------

bool TIB_Transaction::EnsureStarted() {
  if (GetStarted()) {
    return true;
  }
  if (ComponentState().Contains(csReading) || ComponentState().Contains(csLoading)) {
    SetState(tsInactivePending);
    return false;
  }
  SysBeforeStart();
  if (!GetStarted() && state_ != tsNone) {
    API_Start();
    SysAfterStart();
    DoStateChanged();
  }
  return GetStarted();
}

void TIB_Transaction::SysBeforeStart() {
  if (state_ == tsNone) {
    SetState(tsInactivePending);
  }
  try {
    Fire(BeforeStart);
    ProcessLinkEvent(tetBeforeStart);
    const std::vector<TIB_ConnectionLink*> links = connection_links_;
    for (TIB_ConnectionLink* link : links) {
      TIB_Connection* c = link->IB_Connection();
      if (c == nullptr || !Contains(connection_links_, link)) {
        continue;
      }
      const bool ending = c->Status() == cstDisconnectPending || c->Status() == cstDropPending;
      if ((ending && !read_only_) || !c->Connect(false)) {
        SysStartAborted();
      }
    }
  } catch (...) {
    SysStartAborted();
    throw;
  }
}

void TIB_Transaction::SysStartAborted() {
  ResetState(true);
  DoStateChanged();
}

void TIB_Transaction::SysAfterStart() {
  SetState(state_ == tsInactivePending ? tsInactive : state_);
  ProcessLinkEvent(tetAfterStart);
  Fire(AfterStart);
}

void TIB_Transaction::DoCustomizeTPB(TIB_Connection* AConnection, int32_t& BufInd, char* Buffer) {
  if (!OnCustomizeTPB) {
    return;
  }
  const int32_t before = BufInd;
  OnCustomizeTPB(this, AConnection, BufInd, Buffer);
  if (BufInd < before || BufInd > tpb_size_) {
    // Items past the buffer's end would have overrun it: refused, not sent.
    throw EIB_TransactionError(this, Format(IB_Message(TIB_Msg::BufferOverrun),
                                            {"TPB", IntToStr(tpb_size_), IntToStr(BufInd)}));
  }
}

void TIB_Transaction::API_Start() {
  TIB_Session* session = GetIB_Session();
  if (connection_links_.empty() && session->AllowDefaultConnection()) {
    AddConnection(session->DefaultConnection());
  }
  if (connection_links_.empty()) {
    RaiseTransactionError(this, TIB_Msg::TransactionNoConnection);
  }
  bool read_only_database = false;
  for (int32_t i = 0; i < Get_ConnectionCount(); ++i) {
    TIB_Connection* c = GetConnection(i);
    c->SetConnected(true);
    if (!c->GetConnected()) {
      return;
    }
    if (!read_only_database) {
      TIB_ConnectCharacteristics chars;
      c->GetConnectCharacteristics(chars);
      read_only_database = chars.dbRead_Only != 0;
    }
  }
  if (GetStarted()) {
    return;
  }
  const auto size = static_cast<size_t>(std::max<int16_t>(tpb_size_, 16));
  std::vector<char> common(size, '\0');
  int32_t ind = 0;
  common[ind++] = static_cast<char>(isc_tpb_version3);
  common[ind++] =
      static_cast<char>(read_only_ || read_only_database ? isc_tpb_read : isc_tpb_write);
  switch (isolation_) {
    case tiConcurrency:
      common[ind++] = static_cast<char>(isc_tpb_concurrency);
      break;
    case tiConsistency:
      common[ind++] = static_cast<char>(isc_tpb_consistency);
      break;
    case tiCommitted:
      common[ind++] = static_cast<char>(isc_tpb_read_committed);
      common[ind++] =
          static_cast<char>(rec_version_ ? isc_tpb_rec_version : isc_tpb_no_rec_version);
      break;
  }
  common[ind++] = static_cast<char>(lock_wait_ ? isc_tpb_wait : isc_tpb_nowait);
  if (server_auto_commit_) {
    common[ind++] = static_cast<char>(isc_tpb_autocommit);
  }
  const int32_t count = Get_ConnectionCount();
  if (count >= 2) {
    DoCustomizeTPB(nullptr, ind, common.data());
  }
  // One block holds every connection's copy of the parameter block.
  std::vector<ISC_TEB> tebs(static_cast<size_t>(count));
  std::vector<char> block(static_cast<size_t>(count) * size, '\0');
  for (int32_t i = 0; i < count; ++i) {
    char* buffer = block.data() + static_cast<size_t>(i) * size;
    std::copy(common.begin(), common.begin() + ind, buffer);
    int32_t len = ind;
    DoCustomizeTPB(GetConnection(i), len, buffer);
    tebs[static_cast<size_t>(i)].db_ptr = GetConnection(i)->GetDbHandlePtr();
    tebs[static_cast<size_t>(i)].tpb_len = len;
    tebs[static_cast<size_t>(i)].tpb_ptr = buffer;
  }
  session->SetLastResult(kConnLost);
  const uint32_t first = GetTickCount();
  ISC_STATUS result = kConnLost;
  do {
    if (ClientCallTable.isc_start_multiple == nullptr) {
      throw EIB_Error(IB_Message(TIB_Msg::ClientNotInstalled));
    }
    result = CallClient(ClientCallTable.isc_start_multiple, session->StatusVector(), &tr_handle_,
                        static_cast<short>(count), static_cast<void*>(tebs.data()));
    session->SetLastResult(result);
  } while (result == kConnLost && GetTickCount() - first <= kStartRetryMs);
  if (result != 0) {
    session->HandleException(this);
  }
  if (GetStarted()) {
    timeout_props_->DisableCheckOATFromError = false;
    timeout_props_->NextAttempt = timeout_props_->Attempt;
    timeout_props_->NextPromptUser = static_cast<uint16_t>(timeout_props_->PromptUser & 0xFFFF);
    start_time_ = Now();
    connection_lost_ = false;
    session->UpdateTimerList(this);
  }
}

// --- Connections ---------------------------------------------------------------------------------

TIB_Connection* TIB_Transaction::GetConnection(int32_t Index) const {
  TIB_ConnectionLink* link = EntryAt(connection_links_, Index);
  return link != nullptr ? link->IB_Connection() : nullptr;
}

int32_t TIB_Transaction::IndexOfConnection(TIB_Connection* AConnection) const {
  for (size_t i = 0; i < connection_links_.size(); ++i) {
    if (connection_links_[i]->IB_Connection() == AConnection) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

void TIB_Transaction::AddConnection(TIB_Connection* AConnection) {
  if (AConnection == nullptr || IndexOfConnection(AConnection) >= 0) {
    return;
  }
  auto* link = new TIB_ConnectionLink(this);
  link->OnProcessEvent = [this](TIB_ConnectionLink* Link, TIB_ConnectionEventType Event) {
    ConnectionLinkEvent(Link, Event);
  };
  link->SetIB_Connection(AConnection);
  connection_links_.push_back(link);
  AConnection->AddTransaction(this);
}

void TIB_Transaction::RemoveConnection(TIB_Connection* AConnection) {
  const int32_t index = AConnection != nullptr ? IndexOfConnection(AConnection) : -1;
  if (index < 0) {
    return;
  }
  TIB_ConnectionLink* link = connection_links_[static_cast<size_t>(index)];
  link->SetIB_Connection(nullptr);
  RemoveFromComponentList(connection_links_, link);
  delete link;
  AConnection->RemoveTransaction(this);
}

void TIB_Transaction::RemoveAllConnections() {
  while (!connection_links_.empty()) {
    const size_t before = connection_links_.size();
    TIB_ConnectionLink* last = connection_links_.back();
    if (last->IB_Connection() != nullptr) {
      RemoveConnection(last->IB_Connection());
    }
    if (connection_links_.size() == before) {
      RemoveFromComponentList(connection_links_, last);
      delete last;
    }
  }
}

void TIB_Transaction::ConnectionLinkEvent(TIB_ConnectionLink*, TIB_ConnectionEventType Event) {
  if (Event == cetBeforeAssignment) {
    Close();
  }
}

void TIB_Transaction::SetConnectionAt(int32_t Position, TIB_Connection* Value) {
  if (Value == nullptr ||
      (Value != GetConnection(0) && Value != GetConnection(1) && Value != GetConnection(2))) {
    RemoveConnection(GetConnection(Position));
    if (Value != nullptr) {
      AddConnection(Value);
    }
  }
}

// --- Statements, datasets and links ---------------------------------------------------------------

void TIB_Transaction::AddStatement(TIB_Component* Statement) {
  if (Statement != nullptr && !Contains(statements_, Statement)) statements_.push_back(Statement);
}

void TIB_Transaction::RemoveStatement(TIB_Component* Statement) {
  RemoveFromComponentList(statements_, Statement);
}

TIB_Component* TIB_Transaction::GetStatement(int32_t Index) const {
  return EntryAt(statements_, Index);
}

void TIB_Transaction::AddDataset(IB_TransactionDataset* Dataset) {
  if (Dataset != nullptr && !Contains(datasets_, Dataset)) datasets_.push_back(Dataset);
}

void TIB_Transaction::RemoveDataset(IB_TransactionDataset* Dataset) {
  RemoveFromComponentList(datasets_, Dataset);
}

IB_TransactionDataset* TIB_Transaction::GetDataset(int32_t Index) const {
  return EntryAt(datasets_, Index);
}

void TIB_Transaction::AddTransactionLink(TIB_TransactionLink* Link) {
  if (Link != nullptr && !Contains(links_, Link)) links_.push_back(Link);
}

void TIB_Transaction::RemoveTransactionLink(TIB_TransactionLink* Link) {
  RemoveFromComponentList(links_, Link);
}

void TIB_Transaction::ProcessLinkEvent(uint8_t Code) {
  // A copy: a link may leave while it handles the event; one that has left is skipped.
  const std::vector<TIB_TransactionLink*> links = links_;
  for (TIB_TransactionLink* link : links) {
    if (Contains(links_, link)) {
      link->ProcessEvent(Code);
    }
  }
}

// --- Ending ------------------------------------------------------------------------------------------

void TIB_Transaction::SysBeforeEnd() {
  Fire(BeforeEnd);
  ProcessLinkEvent(tetBeforeEnd);
}

void TIB_Transaction::SysAfterEnd() {
  ProcessLinkEvent(tetAfterEnd);
  Fire(AfterEnd);
}

void TIB_Transaction::SysCommit(bool Refresh) {
  if (SysCommitBegin(Refresh)) {
    SysCommitEnd(Refresh);
  }
}

void TIB_Transaction::SysRollback(bool Refresh) {
  if (SysRollbackBegin(Refresh)) {
    SysRollbackEnd(Refresh);
  }
}

bool TIB_Transaction::SysCommitBegin(bool Refresh) {
  if (!(GetStarted() || explicit_ || HasPendingWork())) {
    return false;
  }
  if (state_ == tsCommitPending || state_ == tsCommitRefreshPending ||
      state_ == tsRollbackPending || state_ == tsRollbackRefreshPending) {
    return false;
  }
  const TIB_TransactionState old = state_;
  SetState(Refresh ? tsCommitRefreshPending : tsCommitPending);
  try {
    SysBeforeEnd();
    Fire(BeforeCommit);
    ProcessLinkEvent(tetBeforeCommit);
    if (!attempt_commit_) {
      PostAllDatasets();
    }
    DatasetEndPass(true, true, Refresh);
    if (GetStarted()) {
      API_Commit();
    }
    try {
      FlushDMLCache(true);
    } catch (const std::exception&) {
      // Announcing is a courtesy to other datasets; the commit stands.
    }
  } catch (...) {
    SetState(old);
    throw;
  }
  return true;
}

void TIB_Transaction::SysCommitEnd(bool Refresh) { SysEndFinish(true, Refresh); }

void TIB_Transaction::SysRollbackEnd(bool Refresh) { SysEndFinish(false, Refresh); }

// The end of a commit and of a rollback differ only in their events.
void TIB_Transaction::SysEndFinish(bool Commit, bool Refresh) {
  DatasetEndPass(false, Commit, Refresh);
  std::exception_ptr error;
  try {
    ProcessLinkEvent(Commit ? tetAfterCommit : tetAfterRollback);
  } catch (...) {
    error = std::current_exception();
  }
  ResetState(true);
  if (!Refresh) {
    explicit_ = false;
  }
  Fire(Commit ? AfterCommit : AfterRollback);
  SysAfterEnd();
  DoStateChanged();
  if (error) {
    std::rethrow_exception(error);
  }
}

bool TIB_Transaction::SysRollbackBegin(bool Refresh) {
  if (!(GetStarted() || explicit_ || HasPendingWork())) {
    return false;
  }
  if (state_ == tsCommitPending || state_ == tsCommitRefreshPending ||
      state_ == tsRollbackPending || state_ == tsRollbackRefreshPending) {
    return false;
  }
  const TIB_TransactionState old = state_;
  SetState(Refresh ? tsRollbackRefreshPending : tsRollbackPending);
  try {
    SysBeforeEnd();
    Fire(BeforeRollback);
    ProcessLinkEvent(tetBeforeRollback);
    DatasetEndPass(true, false, Refresh);
    if (GetStarted()) {
      API_Rollback();
    }
    try {
      FlushDMLCache(false);
    } catch (const std::exception&) {
    }
  } catch (...) {
    SetState(old);
    throw;
  }
  return true;
}


void TIB_Transaction::SysCommitRetaining(bool IsSavePoint) { SysEndRetaining(true, IsSavePoint); }

void TIB_Transaction::SysRollbackRetaining(bool IsLosePoint) { SysEndRetaining(false, IsLosePoint); }

// Commit retaining and rollback retaining, and the save and lose points made of them,
// differ only in their events, their dataset pass and their client calls.
void TIB_Transaction::SysEndRetaining(bool Commit, bool IsPoint) {
  if (!(GetStarted() || explicit_ || HasPendingWork())) {
    return;
  }
  const TIB_TransactionState point_state = Commit ? tsSavePointPending : tsLosePointPending;
  const TIB_TransactionState retaining_state = Commit ? tsCommitRetainingPending : tsRollbackRetainingPending;
  const TIB_TransactionState old = state_;
  SetState(IsPoint ? point_state : retaining_state);
  bool hard_end = false;
  try {
    if (IsPoint) {
      Fire(Commit ? BeforeSavePoint : BeforeLosePoint);
    } else {
      Fire(Commit ? BeforeCommitRetaining : BeforeRollbackRetaining);
      ProcessLinkEvent(Commit ? tetBeforeCommitRetaining : tetBeforeRollbackRetaining);
      if (Commit) {
        PostAllDatasets();
      } else {
        CancelAllDatasets();
      }
    }
    if (state_ == point_state || state_ == retaining_state) {
      if (GetStarted()) {
        if (open_cursors_ != 0 || isolation_ != tiCommitted || (IsPoint && explicit_) ||
            GetTimeActive() <= timeout_props_->AllowCheckOAT / IB_TimeoutUnitsPerDay) {
          if (Commit) {
            API_CommitRetaining();
          } else {
            API_RollbackRetaining();
          }
        } else {
          // An idle read-committed transaction older than AllowCheckOAT ends on the
          // server, so that the server's oldest active transaction can advance.
          if (Commit) {
            API_Commit();
          } else {
            API_Rollback();
          }
          hard_end = true;
        }
      }
      if (IsPoint && row_locks_ > 0) {
        for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
          if (d->RowLocked()) {
            d->ClearRowLock();
            AdjustRowLockCount(-1);
          }
        }
      }
      try {
        FlushDMLCache(Commit);
      } catch (const std::exception&) {
      }
    }
  } catch (...) {
    state_ = old;
    DoStateChanged();
    throw;
  }
  std::exception_ptr error;
  try {
    ProcessLinkEvent(IsPoint ? (Commit ? tetAfterSavePoint : tetAfterLosePoint)
                             : (Commit ? tetAfterCommitRetaining : tetAfterRollbackRetaining));
  } catch (...) {
    error = std::current_exception();
  }
  ResetState(true);
  if (IsPoint) {
    Fire(Commit ? AfterSavePoint : AfterLosePoint);
  } else {
    explicit_ = false;
    Fire(Commit ? AfterCommitRetaining : AfterRollbackRetaining);
  }
  if (hard_end) {
    SysAfterEnd();
  }
  DoStateChanged();
  if (error) {
    std::rethrow_exception(error);
  }
}

void TIB_Transaction::DatasetEndPass(bool Before, bool IsCommit, bool Refresh) {
  size_t i = 0;
  while (i < datasets_.size()) {
    IB_TransactionDataset* d = datasets_[i];
    if (Before && d->IsEditing() && !d->CachedUpdates()) {
      // A failure here ends the pass and reaches the caller.
      if (IsCommit) {
        if (!attempt_commit_) d->SysPost();
      } else {
        d->SysCancel();
      }
    }
    try {
      TIB_Connection* c = d->DatasetConnection();
      if (closing_ || d->GetUnidirectional() || c == nullptr ||
          c->Status() == cstDisconnectPending || c->Status() == cstDropPending) {
        if (Before) d->Close();
      } else if (Refresh) {
        if (!Before) d->RefreshAll();
      } else {
        switch (d->CommitAction()) {
          case caClose:
            if (d->CursorIsOpen() || (d->GetIsOpen() && !attempt_commit_)) {
              const bool keep = attempt_commit_ && d->RefreshAction() != raOpen;
              if (Before) {
                if (!keep) d->Close();
              } else if (keep && d->CursorIsOpen()) {
                d->Refresh();
              }
            }
            break;
          case caInvalidateCursor:
            if (d->CursorIsOpen() || (!IsCommit && (d->WorkFlags() & kWorkBits) != 0)) {
              if (Before) {
                if (d->CachedUpdates() && d->IsEditing()) d->FetchAll();
              } else if (d->CursorIsOpen()) {
                d->Refresh();
              }
            }
            break;
          case caFetchAll:
            if (Before && d->GetActive()) d->FetchAll();
            break;
          case caRefreshKeys:
            if (!Before && d->GetActive()) d->Refresh();
            break;
          case caRefresh:
            if (!Before && d->GetActive()) d->RefreshAll();
            break;
        }
      }
      if (!Before && Contains(datasets_, d) && d->WorkFlags() != 0) {
        d->SetWorkFlags(static_cast<uint8_t>(d->WorkFlags() & ~kWorkBits));
      }
    } catch (const Exception&) {
      ShowHandled(d->DatasetComponent());
    }
    if (Contains(datasets_, d)) {
      ++i;
    }
  }
}

void TIB_Transaction::PostAllDatasets() {
  const std::vector<IB_TransactionDataset*> list = datasets_;
  for (IB_TransactionDataset* d : list) {
    if (!Contains(datasets_, d) || !d->IsEditing() || d->CachedUpdates()) {
      continue;
    }
    IB_TransactionDataset* master = d->MasterDataset();
    if (master != nullptr && master->DatasetTransaction() == this && master->IsInserting()) {
      master->SysPost();
    }
    d->SysPost();
  }
  int32_t editing_cached = 0;
  for (IB_TransactionDataset* d : datasets_) {
    if (d->IsEditing() && d->CachedUpdates()) ++editing_cached;
  }
  if (post_pending_ > editing_cached) {
    RaiseTransactionError(this, TIB_Msg::PostAllDatasetsFailed);
  }
}

void TIB_Transaction::CancelAllDatasets() {
  const std::vector<IB_TransactionDataset*> list = datasets_;
  for (IB_TransactionDataset* d : list) {
    if (Contains(datasets_, d) && d->IsEditing() && !d->CachedUpdates()) {
      d->SysCancel();
    }
  }
  int32_t editing_cached = 0;
  for (IB_TransactionDataset* d : datasets_) {
    if (d->IsEditing() && d->CachedUpdates()) ++editing_cached;
  }
  if (post_pending_ > editing_cached) {
    RaiseTransactionError(this, TIB_Msg::CancelAllDatasetsFailed);
  }
}

// --- Client-library calls of the ending -------------------------------------------------------------

bool TIB_Transaction::CheckConnectionLost() {
  // Every code of a dead attachment counts, not only the shut-down database, the lost
  // pipe and the general network error: a commit that failed on a connection gone by
  // another network error would otherwise be retried and reported for ever, and the
  // connection could never be closed.
  const ISC_STATUS code = GetIB_Session()->LastResult();
  if (code != kConnLost && !IsLostConnectionCode(static_cast<int32_t>(code))) {
    return false;
  }
  connection_lost_ = true;
  if (Get_ConnectionCount() == 1) {
    GetConnection(0)->MarkConnectionLost();
  } else {
    for (int32_t i = 0; i < Get_ConnectionCount(); ++i) {
      GetConnection(i)->CheckConnection();
    }
  }
  return true;
}

void TIB_Transaction::API_Commit() {
  if (!GetStarted()) {
    return;
  }
  TIB_Session* session = GetIB_Session();
  ISC_STATUS result =
      CallClient(ClientCallTable.isc_commit_transaction, session->StatusVector(), &tr_handle_);
  session->SetLastResult(result);
  if (result != 0 && !CheckConnectionLost()) {
    // Stale metadata or statement handles may stand in the way: once more after the
    // connections dropped what they know.
    for (int32_t i = 0; i < Get_ConnectionCount(); ++i) {
      GetConnection(i)->FlushSchemaCache();
    }
    if (GetStarted()) {
      result = CallClient(ClientCallTable.isc_commit_transaction, session->StatusVector(),
                          &tr_handle_);
      session->SetLastResult(result);
    }
  }
  if (result != 0) {
    timeout_props_->DisableCheckOATFromError = true;
    session->HandleException(this);
  }
  if (!GetStarted()) {
    session->UpdateTimerList(this);
  }
}

void TIB_Transaction::API_CommitRetaining() {
  TIB_Session* session = GetIB_Session();
  ISC_STATUS result =
      CallClient(ClientCallTable.isc_commit_retaining, session->StatusVector(), &tr_handle_);
  session->SetLastResult(result);
  if (result != 0 && !CheckConnectionLost()) {
    for (int32_t i = 0; i < Get_ConnectionCount(); ++i) {
      GetConnection(i)->FlushSchemaCache();
    }
    if (GetStarted()) {
      result = CallClient(ClientCallTable.isc_commit_retaining, session->StatusVector(),
                          &tr_handle_);
      session->SetLastResult(result);
    }
  }
  if (result != 0) {
    session->HandleException(this);
  }
}

void TIB_Transaction::API_Rollback() {
  if (!GetStarted()) {
    return;
  }
  TIB_Session* session = GetIB_Session();
  if (!connection_lost_) {
    const ISC_STATUS result = CallClient(ClientCallTable.isc_rollback_transaction,
                                         session->StatusVector(), &tr_handle_);
    if (result != 0) {
      session->SetLastResult(result);
      if (!CheckConnectionLost()) {
        // The server kept the transaction: the failure is reported and the transaction
        // stays started, so that nothing is taken for rolled back that was not.
        session->HandleException(this);
      }
    }
  }
  // Ended, or its connection is gone with it (or an error handler waved the failure
  // through): nothing is left to end.
  tr_handle_ = 0;
  session->UpdateTimerList(this);
}

void TIB_Transaction::API_RollbackRetaining() {
  TIB_Session* session = GetIB_Session();
  const bool has_entry = ClientCallTable.isc_rollback_retaining != nullptr;
  if (has_entry) {
    session->API_Call(this, ClientCallTable.isc_rollback_retaining, &tr_handle_);
  } else {
    // The substitute: a new server transaction with the same parameters.
    API_Rollback();
    API_Start();
  }
  for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
    if (!Contains(datasets_, d)) continue;
    try {
      if (d->GetUnidirectional()) {
        if (!has_entry) d->Close();
        continue;
      }
      if (d->GetReadOnly() || d->RefreshAction() == raOpen) continue;
      if (has_entry && (d->WorkFlags() & kWorkBits) == 0) continue;
      if (d->GetIsOpen() && !d->IsEditing()) d->RefreshAll();
      d->SetWorkFlags(static_cast<uint8_t>(d->WorkFlags() & ~kWorkBits));
    } catch (const Exception&) {
      ShowHandled(d->DatasetComponent());
    }
  }
  session->UpdateTimerList(this);
}

void TIB_Transaction::CheckOAT() {
  if (!GetStarted() || isolation_ != tiCommitted || open_cursors_ != 0 || row_locks_ != 0) {
    return;
  }
  if (state_ != tsNone && state_ != tsInactive && state_ != tsActivePending) {
    return;
  }
  if (!(GetTimeActive() > timeout_props_->AllowCheckOAT / IB_TimeoutUnitsPerDay) ||
      timeout_props_->DisableCheckOATFromError) {
    return;
  }
  try {
    API_Commit();
    ResetState(false);
    SysAfterEnd();
    DoStateChanged();
  } catch (const std::exception&) {
    // Never raised: a failed commit blocks further attempts (DisableCheckOATFromError).
  }
}

// --- Cached updates and the close prompt ------------------------------------------------------------

void TIB_Transaction::ApplyUpdates(const std::vector<IB_TransactionDataset*>& ADatasets) {
  if (state_ == tsActive) {
    RaiseTransactionError(this, TIB_Msg::TransactionPendingChanges);
  }
  TIB_BusyBracket busy(*this, true);
  StartTransaction();
  const bool all = ADatasets.empty() || ADatasets.front() == nullptr;
  try {
    if (all) {
      for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
        if (d->IsBuffered() && d->MasterDataset() != nullptr) d->ApplyUpdates();
      }
      for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
        if (d->IsBuffered() && d->MasterDataset() == nullptr) d->ApplyUpdates();
      }
    } else {
      for (IB_TransactionDataset* d : ADatasets) {
        if (d->DatasetTransaction() != this) {
          throw EIB_TransactionError(this, Format(IB_Message(TIB_Msg::NotOwnedBy),
                                                  {d->DatasetComponent()->Name(), Name()}));
        }
        d->ApplyUpdates();
      }
    }
    Commit();
  } catch (...) {
    Rollback();
    throw;
  }
  if (all) {
    for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
      if (d->IsBuffered()) d->CommitUpdates();
    }
  } else {
    for (IB_TransactionDataset* d : ADatasets) d->CommitUpdates();
  }
}

void TIB_Transaction::CancelUpdates(const std::vector<IB_TransactionDataset*>& ADatasets) {
  if (ADatasets.empty() || ADatasets.front() == nullptr) {
    for (IB_TransactionDataset* d : std::vector<IB_TransactionDataset*>(datasets_)) {
      if (d->IsBuffered()) d->CancelUpdates();
    }
    return;
  }
  for (IB_TransactionDataset* d : ADatasets) {
    if (d->DatasetTransaction() != this) {
      throw EIB_TransactionError(this, Format(IB_Message(TIB_Msg::NotOwnedBy),
                                              {d->DatasetComponent()->Name(), Name()}));
    }
    d->CancelUpdates();
  }
}

uint8_t TIB_Transaction::ConfirmClose() {
  try {
    if (HasPendingWork()) {
      AnsiString text = confirm_close_prompt_->Count() > 0 ? confirm_close_prompt_->Text()
                                                           : IB_Message(TIB_Msg::SaveChanges);
      while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
      switch (MessageDlg(text, mtConfirmation, mbYesNoCancel, 0)) {
        case mrYes:
          if (cached_pending_ == 0) {
            CommitRetaining();
          } else {
            ApplyUpdates({});
          }
          return 1;
        case mrNo:
          if (cached_pending_ == 0) {
            RollbackRetaining();
          } else {
            CancelUpdates({});
          }
          return 1;
        default:
          return 2;
      }
    }
    if (explicit_) {
      CommitRetaining();
    }
    return 1;
  } catch (const Exception&) {
    ShowHandled(this);
    return 3;
  }
}

// --- Preset transactions ----------------------------------------------------------------------------

TIB_TransactionDefault::TIB_TransactionDefault(TComponent* Owner, bool AnnounceFocus)
    : TIB_Transaction(Owner) {
  SetAutoCommit(true);
  SetIsolation(tiCommitted);
  SetAnnounceFocus(AnnounceFocus);
}

TIB_TransactionInternal::TIB_TransactionInternal(TComponent* Owner)
    : TIB_TransactionDefault(Owner, false) {
  SetReadOnly(true);
}

// --- Transaction link -------------------------------------------------------------------------------

TIB_TransactionLink::TIB_TransactionLink(TComponent* Owner) : TIB_Component(Owner) {}

TIB_TransactionLink::~TIB_TransactionLink() {
  SetIB_Transaction(nullptr);
  SetIB_Session(nullptr);
}

void TIB_TransactionLink::SetIB_Transaction(TIB_Transaction* Value) {
  if (Value == transaction_) {
    return;
  }
  incoming_ = Value;
  ProcessEvent(tetBeforeAssignment);
  if (transaction_ != nullptr) {
    transaction_->RemoveTransactionLink(this);
  }
  transaction_ = Value;
  if (Value != nullptr) {
    Value->AddTransactionLink(this);
  }
  ProcessEvent(tetAfterAssignment);
}

void TIB_TransactionLink::ProcessEvent(uint8_t Event) {
  if (OnProcessEvent) {
    OnProcessEvent(this, Event);
  }
}

void TIB_TransactionLink::SetReceiveFocus(bool Value) {
  if (Value == receive_focus_) {
    return;
  }
  receive_focus_ = Value;
  DoReceiveFocus(GetIB_Session()->FocusedTransaction());
}

void TIB_TransactionLink::DoReceiveFocus(TIB_Component* Focused) {
  auto* transaction = dynamic_cast<TIB_Transaction*>(Focused);
  if (!receive_focus_ || transaction == transaction_) {
    return;
  }
  if (OnReceiveFocus) {
    OnReceiveFocus(this, transaction);
  } else {
    SetIB_Transaction(transaction);
  }
}

void TIB_TransactionLink::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) {
    return;
  }
  if (session_ != nullptr && !internal_) {
    RemoveFromComponentList(session_->TransactionLinkList(), this);
  }
  TIB_Component::SetIB_Session(Value);
  if (session_ != nullptr && !internal_) {
    session_->TransactionLinkList().push_back(this);
    if (!ComponentState().Contains(csReading)) {
      DoReceiveFocus(session_->FocusedTransaction());
    }
  }
}

void TIB_TransactionLink::Loaded() {
  TIB_Component::Loaded();
  if (AssignedSession() != nullptr) {
    DoReceiveFocus(AssignedSession()->FocusedTransaction());
  }
}

// --- Database component -----------------------------------------------------------------------------

TIB_Database::TIB_Database(TComponent* Owner) : TIB_Connection(Owner) {
  TIB_Transaction* tr = CreateDefaultTransaction(this);
  tr->SetIB_Connection(this);
  TIB_Connection::SetDefaultTransaction(tr);
}

TIB_Database::~TIB_Database() = default;

TIB_Transaction* TIB_Database::CreateDefaultTransaction(TComponent* AOwner) {
  return new TIB_TransactionDefault(AOwner);
}

void TIB_Database::RecreateDefaultTransaction() {
  TIB_Transaction* old = DefaultTransaction();
  TIB_Connection::SetDefaultTransaction(nullptr);
  delete old;
  TIB_Transaction* tr = CreateDefaultTransaction(this);
  tr->SetIB_Connection(this);
  TIB_Connection::SetDefaultTransaction(tr);
  if (!Name().empty()) {
    tr->SetName("tr" + Name());
  }
}

void TIB_Database::SetName(const AnsiString& Value) {
  TIB_Connection::SetName(Value);
  if (DefaultTransaction() != nullptr) {
    DefaultTransaction()->SetName("tr" + Value);
  }
}

void TIB_Database::SetAnnounceFocus(bool Value) {
  if (DefaultTransaction() != nullptr) DefaultTransaction()->SetAnnounceFocus(Value);
  TIB_Connection::SetAnnounceFocus(Value);
}

void TIB_Database::SetFocus() {
  if (DefaultTransaction() != nullptr) DefaultTransaction()->SetFocus();
  TIB_Connection::SetFocus();
}

void TIB_Database::SetDefaultTransaction(TIB_Transaction* Value) {
  if (Value != nullptr && Value != DefaultTransaction()) {
    throw EIB_ConnectionError(this, IB_Message(TIB_Msg::CannotReplaceInternalTransaction));
  }
}

void TIB_Database::ReadTransIsolation(const AnsiString& Identifier) {
  if (Identifier == "tiDirtyRead") {
    SetIsolation(tiCommitted);
    SetRecVersion(false);
  } else if (Identifier == "tiReadCommitted") {
    SetIsolation(tiCommitted);
    SetRecVersion(true);
  } else if (Identifier == "tiRepeatableRead") {
    SetIsolation(tiConcurrency);
  }
}

}  // namespace pelvar
