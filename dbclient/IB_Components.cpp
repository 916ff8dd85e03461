#include "dbclient/IB_Components.h"

namespace pelvar {

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
}

TIB_Component::~TIB_Component() {
  on_session_timer_ = nullptr;
  SetIB_Session(nullptr);
}

TIB_Session* TIB_Component::GetIB_Session() { return session_; }

void TIB_Component::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) {
    return;
  }
  if (session_ != nullptr) {
    session_->RemoveFreeNotification(this);
  }
  session_ = Value;
  if (session_ != nullptr) {
    session_->FreeNotification(this);
  }
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
}

void TIB_Component::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent != nullptr && AComponent == session_) {
    SetIB_Session(nullptr);
  }
}

// --- Session ------------------------------------------------------------------------------

TIB_Session::TIB_Session(TComponent* Owner) : TIB_SessionBase(Owner) {}

TIB_Session::~TIB_Session() = default;

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

// --- Connection -----------------------------------------------------------------------------

TIB_Connection::TIB_Connection(TComponent* Owner) : TIB_Component(Owner) {}

TIB_Connection::~TIB_Connection() = default;

// --- Transaction ----------------------------------------------------------------------------

TIB_Transaction::TIB_Transaction(TComponent* Owner) : TIB_Component(Owner) {}

TIB_Transaction::~TIB_Transaction() = default;

}  // namespace pelvar
