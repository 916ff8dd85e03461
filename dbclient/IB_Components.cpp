#include "dbclient/IB_Components.h"

#include "dbclient/IB_Utils.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// The unit's own reference on the library's shared resources, kept to the end of the
// process like that of the session unit.
struct TIB_ComponentsUnit {
  TIB_ComponentsUnit() { UnitRefAcquire(); }
} components_unit;

}  // namespace

// --- Default sessions --------------------------------------------------------------------

TIB_Session* GetDefaultSession() {
  const uint32_t slot = DefaultSessionSlot();
  TIB_Session* session = nullptr;
  if (slot != TLS_OUT_OF_INDEXES) {
    session = static_cast<TIB_Session*>(TlsGetValue(slot));
  }
  if (session == nullptr) {
    session = new TIB_Session(nullptr);
    session->auto_created_ = true;
    session->SetName("REZ_DefaultSession");
    if (slot != TLS_OUT_OF_INDEXES) {
      TlsSetValue(slot, session);
    }
  }
  return session;
}

void FreeDefaultSession(TIB_Session*& Session) {
  const uint32_t slot = DefaultSessionSlot();
  if (slot != TLS_OUT_OF_INDEXES && Session != nullptr && TlsGetValue(slot) == Session) {
    TlsSetValue(slot, nullptr);
  }
  TIB_Session* session = Session;
  Session = nullptr;
  delete session;
}

// --- Component base ---------------------------------------------------------------------

TIB_Component::TIB_Component(TComponent* Owner) : TComponent(Owner) {
  // Internal and NoTimer are inherited from library components up the ownership chain.
  internal_ = Owner == nullptr;
  for (TComponent* o = Owner; o != nullptr && !(internal_ && no_timer_); o = o->Owner()) {
    if (auto* c = dynamic_cast<TIB_Component*>(o)) {
      internal_ = internal_ || c->internal_;
      no_timer_ = no_timer_ || c->no_timer_;
    }
  }
  UnitRefAcquire();
}

TIB_Component::~TIB_Component() {
  on_session_timer_ = nullptr;
  SetIB_Session(nullptr);
  UnitRefRelease();
}

TIB_Session* TIB_Component::GetIB_Session() {
  if (session_ == nullptr) {
    EnsureSession(true);
  }
  return session_;
}

void TIB_Component::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) {
    return;
  }
  const int32_t busy = busy_level_;
  if (TIB_Session* old = session_; old != nullptr) {
    while (busy_level_ > 0) {
      EndBusy();
    }
    if (!internal_) {
      RemoveFromComponentList(old->all_, this);
    }
    RemoveFromComponentList(old->members_, this);
    old->RemoveFromTimerList(this);
    old->RemoveFreeNotification(this);
    session_ = nullptr;
    if (InterlockedDecrement(old->ref_count_) == 0 && old->AutoCreated() && !old->destroying_) {
      FreeDefaultSession(old);
    }
  }
  session_ = Value;
  if (Value == nullptr) {
    return;
  }
  Value->FreeNotification(this);
  InterlockedIncrement(Value->ref_count_);
  Value->members_.push_back(this);
  if (!internal_) {
    Value->all_.push_back(this);
  }
  for (int32_t i = 0; i < busy; ++i) {
    BeginBusy(true);
  }
  Value->UpdateTimerList(this);
}

bool TIB_Component::EnsureSession(bool AllowDefault) {
  if (session_ != nullptr || searching_) {
    return session_ != nullptr;
  }
  searching_ = true;
  struct Reset {
    bool& flag;
    ~Reset() { flag = false; }
  } reset{searching_};
  TIB_Session* found = nullptr;
  FindSession(found, AllowDefault);
  if (found != nullptr) {
    SetIB_Session(found);
  } else if (AllowDefault) {
    SetIB_Session(GetDefaultSession());
  }
  return session_ != nullptr;
}

void TIB_Component::ExamineForSession(TComponent* C, TIB_Session*& Session, bool AllowDefault) {
  if (auto* session = dynamic_cast<TIB_Session*>(C)) {
    Session = session;
  } else if (auto* component = dynamic_cast<TIB_Component*>(C);
             component != nullptr && component != this) {
    component->EnsureSession(AllowDefault);
    Session = component->session_;
  }
}

void TIB_Component::FindSession(TIB_Session*& Session, bool AllowDefault) {
  TComponent* current = this;
  while (Session == nullptr && current->Owner() != nullptr) {
    TComponent* owner = current->Owner();
    ExamineForSession(owner, Session, AllowDefault);
    for (int32_t i = 0; Session == nullptr && i < owner->ComponentCount(); ++i) {
      TComponent* sibling = owner->Components(i);
      if (sibling != current) {
        ExamineForSession(sibling, Session, AllowDefault);
      }
    }
    current = owner;
  }
}

void TIB_Component::BeginBusy(bool Yield) {
  EnsureSession(true);
  if (!internal_ && session_ != nullptr) {
    session_->BeginBusy(Yield);
  }
  busy_level_ = CheckedAdd(busy_level_, int32_t{1});
}

void TIB_Component::EndBusy() {
  // Only a section this component opened is closed: an unmatched call leaves the
  // sections of other components alone.
  if (busy_level_ <= 0) {
    return;
  }
  if (!internal_ && session_ != nullptr) {
    session_->EndBusy();
  }
  --busy_level_;
}

bool TIB_Component::IB_SessionStored() const {
  return session_ != nullptr && !session_->AutoCreated();
}

void TIB_Component::SetOnError(TIB_ErrorEvent Handler) { on_error_ = std::move(Handler); }

void TIB_Component::HandleError(TComponent*, int32_t ERRCODE, TStringList* ErrorMessage,
                                TStringList* ErrorCodes, int32_t SQLCODE,
                                TStringList* SQLMessage, TStringList* SQL,
                                bool& RaiseException) {
  if (on_error_) {
    on_error_(this, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
  }
}

bool TIB_Component::WantsSessionTimer() { return static_cast<bool>(on_session_timer_); }

void TIB_Component::DoSessionTimer(bool& IsDone, bool& IsWaiting, bool& Terminate) {
  if (on_session_timer_) {
    on_session_timer_(this, IsDone, IsWaiting, Terminate);
  }
}

void TIB_Component::SetOnSessionTimer(TIB_SessionTimerEvent Handler) {
  on_session_timer_ = std::move(Handler);
  if (TIB_Session* session = GetIB_Session()) {
    session->UpdateTimerList(this);
  }
}

void TIB_Component::DoReceiveFocus(TIB_Component*) {}

void TIB_Component::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent != nullptr && AComponent == session_) {
    SetIB_Session(nullptr);
  }
}

// --- Session ------------------------------------------------------------------------------

TIB_Session::TIB_Session(TComponent* Owner) : TIB_SessionBase(Owner) {
  InitializeCriticalSection(lock_);
  const int16_t counts[2] = {5, 30};
  for (int i = 0; i < 2; ++i) {
    void* block = nullptr;
    ReallocBuffer(block, 0, XSQLDA_LENGTH(counts[i]));
    scratch_da_[i] = static_cast<XSQLDA*>(block);
    scratch_da_[i]->version = SQLDA_VERSION1;
    scratch_da_[i]->sqln = counts[i];
    scratch_count_[i] = counts[i];
  }
  // Only a session of the main thread shows the busy cursor and runs the timer.
  TCriticalSectionGuard guard(ProcessCriticalSection());
  if (Application() != nullptr && GetCurrentThreadId() == MainThreadID()) {
    use_cursor_ = true;
    SetTimerInterval(DefaultTimerInterval);
  }
}

TIB_Session::~TIB_Session() {
  SetTimerInterval(0);
  destroying_ = true;
  // Every member leaves while the session is still whole.
  while (!members_.empty()) {
    const size_t before = members_.size();
    members_.back()->SetIB_Session(nullptr);
    if (members_.size() == before) {
      members_.pop_back();
    }
  }
  if (auto_created_) {
    const uint32_t slot = DefaultSessionSlot();
    if (slot != TLS_OUT_OF_INDEXES && TlsGetValue(slot) == this) {
      TlsSetValue(slot, nullptr);
    }
  }
  for (XSQLDA*& da : scratch_da_) {
    std::free(da);
    da = nullptr;
  }
  DeleteCriticalSection(lock_);
}

void TIB_Session::HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                              TStringList* ErrorCodes, int32_t SQLCODE,
                              TStringList* SQLMessage, TStringList* SQL, bool& RaiseException) {
  if (auto* component = dynamic_cast<TIB_Component*>(Sender)) {
    component->HandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
                           RaiseException);
  }
  if (RaiseException) {
    TIB_SessionBase::HandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage,
                                 SQL, RaiseException);
  }
}

bool TIB_Session::ProcessMessages() {
  try {
    Application()->ProcessMessages();
    return true;
  } catch (const Exception&) {
    Application()->HandleException(this);
    return false;
  }
}

void TIB_Session::Loaded() {
  TIB_SessionBase::Loaded();
  if (Owner() != nullptr && ComponentIndex() != 0) {
    SetComponentIndex(0);
  }
}

void TIB_Session::Notification(TComponent* AComponent, TOperation Operation) {
  TIB_SessionBase::Notification(AComponent, Operation);
  if (Operation != opRemove || AComponent == nullptr) {
    return;
  }
  if (auto* component = dynamic_cast<TIB_Component*>(AComponent)) {
    RemoveFromTimerList(component);
  }
  // Nothing keeps pointing at a component that is gone.
  if (AComponent == focused_connection_) focused_connection_ = nullptr;
  if (AComponent == focused_transaction_) focused_transaction_ = nullptr;
  if (AComponent == focused_dataset_) focused_dataset_ = nullptr;
  if (AComponent == focused_data_source_) focused_data_source_ = nullptr;
  if (AComponent == default_connection_) default_connection_ = nullptr;
}

TNotifyEvent TIB_Session::OnWakeup() const {
  TCriticalSectionGuard guard(lock_);
  return on_wakeup_;
}

void TIB_Session::SetOnWakeup(TNotifyEvent Handler) {
  TCriticalSectionGuard guard(lock_);
  on_wakeup_ = std::move(Handler);
}

// --- Busy nesting -------------------------------------------------------------------------

void TIB_Session::BeginBusy(bool Yield) {
  if (Yield && yield_level_ == -1) {
    yield_level_ = busy_level_;
  }
  if (busy_level_ == 0) {
    if (OnBeginBusy) OnBeginBusy(this);
    if (Yield && OnBeginYield) OnBeginYield(this);
    if (use_cursor_ && !in_tick_) {
      const TCursor current = Screen()->Cursor();
      saved_cursor_ = current == busy_cursor_ || current == yield_cursor_ ? crDefault : current;
      if (cursor_hold_ == 0) {
        Screen()->SetCursor(Yield ? yield_cursor_ : busy_cursor_);
      }
    } else {
      saved_cursor_ = -1;
    }
  } else if (busy_level_ == yield_level_) {
    // A yielding section begins inside a busy one.
    if (OnBeginYield) OnBeginYield(this);
    if (saved_cursor_ != -1 && cursor_hold_ == 0) {
      Screen()->SetCursor(yield_cursor_);
    }
  }
  busy_level_ = CheckedAdd(busy_level_, int32_t{1});
}

void TIB_Session::EndBusy() {
  if (busy_level_ > 0) {
    --busy_level_;
  }
  if (busy_level_ == yield_level_) {
    yield_level_ = -1;
    if (saved_cursor_ != -1 && busy_level_ > 0 && cursor_hold_ == 0) {
      Screen()->SetCursor(busy_cursor_);
    }
    if (OnEndYield) OnEndYield(this);
  }
  if (busy_level_ == 0) {
    if (saved_cursor_ != -1 && saved_cursor_ != Screen()->Cursor()) {
      Screen()->SetCursor(saved_cursor_);
    }
    if (OnEndBusy) OnEndBusy(this);
  }
}

// --- Focus --------------------------------------------------------------------------------

void TIB_Session::AnnounceConnectionFocus(TIB_Connection* Conn) {
  // A copy: a link may leave or join the session while it follows the focus.
  const std::vector<TIB_Component*> links = connection_links_;
  for (TIB_Component* link : links) {
    link->DoReceiveFocus(Conn);
  }
}

void TIB_Session::AnnounceTransactionFocus(TIB_Transaction* Tr) {
  const std::vector<TIB_Component*> links = transaction_links_;
  for (TIB_Component* link : links) {
    link->DoReceiveFocus(Tr);
  }
}

void TIB_Session::AnnounceDataSourceFocus(TIB_Component* Src) {
  const std::vector<TIB_Component*> links = data_links_;
  for (TIB_Component* link : links) {
    link->DoReceiveFocus(Src);
  }
}

void TIB_Session::SetFocusedConnection(TIB_Connection* Conn) {
  if (Conn != nullptr && Conn->Internal()) {
    return;
  }
  if (Conn == focused_connection_) {
    return;
  }
  if (focused_connection_ != nullptr) {
    focused_connection_->DoLoseFocus();
  }
  focused_connection_ = Conn;
  if (Conn == nullptr || Conn->AnnouncesFocus()) {
    AnnounceConnectionFocus(Conn);
  }
  if (Conn != nullptr) {
    Conn->DoGainFocus();
  }
}

void TIB_Session::SetFocusedTransaction(TIB_Transaction* Tr) {
  if (Tr != nullptr && Tr->Internal()) {
    return;
  }
  if (Tr == focused_transaction_) {
    return;
  }
  if (focused_transaction_ != nullptr) {
    focused_transaction_->DoLoseFocus();
  }
  focused_transaction_ = Tr;
  if (Tr == nullptr || Tr->AnnouncesFocus()) {
    AnnounceTransactionFocus(Tr);
  }
  if (Tr != nullptr) {
    Tr->DoGainFocus();
  }
}

void TIB_Session::SetFocusedDataset(TIB_Component* DS) {
  if ((DS != nullptr && DS->Internal()) || DS == focused_dataset_) {
    return;
  }
  focused_dataset_ = DS;
  SetFocusedConnection(DS != nullptr ? DS->FocusConnection() : nullptr);
  SetFocusedTransaction(DS != nullptr ? DS->FocusTransaction() : nullptr);
}

void TIB_Session::SetFocusedDataSource(TIB_Component* Src) {
  if (Src != nullptr && Src->Internal()) {
    return;
  }
  if (Src == focused_data_source_) {
    return;
  }
  if (focused_data_source_ != nullptr) {
    focused_data_source_->DoLoseFocus();
  }
  focused_data_source_ = Src;
  if (Src == nullptr) {
    AnnounceDataSourceFocus(nullptr);
    return;
  }
  SetFocusedDataset(Src->FocusDataset());
  if (Src->AnnouncesFocus()) {
    AnnounceDataSourceFocus(Src);
  }
  Src->DoGainFocus();
}

TIB_Connection* TIB_Session::FindConnection(const AnsiString& Name) const {
  for (TIB_Connection* c : connections_) {
    if (AnsiSameText(c->DatabaseName(), Name)) {
      return c;
    }
  }
  return nullptr;
}

void TIB_Session::DoGetDataLinkColor(TIB_DataLink* DataLink, TColor& StateColor) {
  if (OnGetDataLinkColor) {
    OnGetDataLinkColor(this, DataLink, StateColor);
  }
}

// --- Timer --------------------------------------------------------------------------------

void TIB_Session::SetTimerInterval(uint32_t Value) {
  if (Value == timer_interval_) {
    return;
  }
  timer_.reset();
  timer_interval_ = 0;
  if (Value != 0) {
    auto timer = std::make_unique<TTimer>(nullptr);
    timer->SetInterval(Value);
    timer->SetOnTimer([this](TObject*) { TimerTick(); });
    timer_ = std::move(timer);
    timer_interval_ = Value;
  }
}

void TIB_Session::TimerTick() {
  bool done = true;
  bool waiting = false;
  bool terminate = false;
  ProcessSessionTimer(done, waiting, terminate);
}

void TIB_Session::ProcessSessionTimer(bool& IsDone, bool& IsWaiting, bool& Terminate) {
  IsDone = true;
  IsWaiting = false;
  Terminate = false;
  if (Application() == nullptr || Application()->Terminated()) {
    SetTimerInterval(0);
    return;
  }
  if (in_tick_) {
    return;
  }
  in_tick_ = true;
  try {
    if (timer_next_ == 0) {
      round_done_ = true;
      round_waiting_ = false;
      round_terminate_ = false;
    }
    bool done = round_done_;
    bool waiting = round_waiting_;
    bool terminate = round_terminate_;
    if (timer_next_ < static_cast<int32_t>(timer_list_.size())) {
      timer_list_[static_cast<size_t>(timer_next_)]->DoSessionTimer(done, waiting, terminate);
      ++timer_next_;
    } else {
      if (OnSessionTimer) {
        OnSessionTimer(this, done, waiting, terminate);
      }
      timer_next_ = 0;
    }
    round_done_ = round_done_ && done;
    round_waiting_ = round_waiting_ || waiting;
    round_terminate_ = round_terminate_ || terminate;
    IsDone = round_done_ && timer_next_ == 0;
    IsWaiting = round_waiting_;
    Terminate = round_terminate_;
  } catch (const Exception&) {
    // The same component is served again at the next tick.
    Application()->HandleException(this);
  }
  in_tick_ = false;
}

void TIB_Session::UpdateTimerList(TIB_Component* Comp) {
  if (Comp == nullptr) {
    return;
  }
  const bool wanted = !Comp->NoTimer() && Comp->WantsSessionTimer();
  bool listed = false;
  for (TIB_Component* c : timer_list_) {
    listed = listed || c == Comp;
  }
  if (listed && !wanted) {
    RemoveFromTimerList(Comp);
  } else if (!listed && wanted) {
    timer_list_.push_back(Comp);
  }
}

void TIB_Session::RemoveFromTimerList(TIB_Component* Comp) {
  for (size_t i = 0; i < timer_list_.size(); ++i) {
    if (timer_list_[i] == Comp) {
      timer_list_.erase(timer_list_.begin() + static_cast<std::ptrdiff_t>(i));
      // An entry already served this round moves the next position back, so the
      // component that was to be served next still is.
      if (static_cast<int32_t>(i) < timer_next_ && timer_next_ > 0) {
        --timer_next_;
      }
      return;
    }
  }
}

}  // namespace pelvar
