// The library's component base, the per-thread session, the connection and the
// transaction. The statement, dataset, data-source and link classes live in the
// statement engine (dbengine/IB_Components.h) and are only named here.
//
// The classes are laid down with the fields and operations the client binding and the
// error handling use; the session services, the connection and the transaction grow
// their full behaviour in place.
#pragma once

#include <cstdint>
#include <functional>

#include "dbclient/IB_Header.h"
#include "dbclient/IB_Session.h"
#include "platform/classes.h"

namespace pelvar {

class TIB_Session;
class TIB_Connection;
class TIB_Transaction;
class TIB_ConnectionLink;
class TIB_TransactionLink;
class TIB_Statement;
class TIB_Dataset;
class TIB_DataSource;
class TIB_DataLink;

// Fired by the session timer for one component (Sender) per tick.
using TIB_SessionTimerEvent =
    std::function<void(TComponent* Sender, bool& IsDone, bool& IsWaiting, bool& Terminate)>;

// --- Component base ---------------------------------------------------------------------

class TIB_Component : public TComponent {
 public:
  explicit TIB_Component(TComponent* Owner);
  ~TIB_Component() override;

  // The session this component belongs to; nullptr while none is assigned.
  virtual TIB_Session* GetIB_Session();
  virtual void SetIB_Session(TIB_Session* Value);
  TIB_Session* IB_Session() { return GetIB_Session(); }

  const TIB_ErrorEvent& OnError() const { return on_error_; }
  virtual void SetOnError(TIB_ErrorEvent Handler);
  // Fires OnError with this component as Sender and the other arguments unchanged.
  virtual void HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                           TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                           TStringList* SQL, bool& RaiseException);
  // True when a session-timer handler is assigned.
  virtual bool WantsSessionTimer();
  // Calls the session-timer handler when assigned.
  virtual void DoSessionTimer(bool& IsDone, bool& IsWaiting, bool& Terminate);
  const TIB_SessionTimerEvent& OnSessionTimer() const { return on_session_timer_; }
  void SetOnSessionTimer(TIB_SessionTimerEvent Handler);

  // Made without an owner, or owned by an internal library component.
  bool Internal() const { return internal_; }
  bool NoTimer() const { return no_timer_; }
  void SetNoTimer(bool Value) { no_timer_ = Value; }
  int32_t BusyLevel() const { return busy_level_; }

  // Always "4.8.7"; not stored.
  AnsiString Version() const { return "4.8.7"; }
  void SetVersion(const AnsiString&) {}

  void Notification(TComponent* AComponent, TOperation Operation) override;

 protected:
  int32_t busy_level_ = 0;
  bool searching_ = false;
  bool internal_ = false;
  bool no_timer_ = false;
  TIB_ErrorEvent on_error_;
  TIB_SessionTimerEvent on_session_timer_;
  TIB_Session* session_ = nullptr;
};

// --- Session ------------------------------------------------------------------------------

class TIB_Session : public TIB_SessionBase {
 public:
  explicit TIB_Session(TComponent* Owner);
  ~TIB_Session() override;

  // A default session made for a thread.
  bool AutoCreated() const { return auto_created_; }

  // The failing component's own handler first (when Sender is a library component);
  // then, while RaiseException is still set, the session's OnError.
  void HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                   TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                   TStringList* SQL, bool& RaiseException) override;

 protected:
  bool auto_created_ = false;
};

// --- Connection -----------------------------------------------------------------------------

enum TIB_ConnectionStatus : uint8_t {
  cstDisconnected = 0,
  cstConnected = 1,
  cstDisconnectPending = 2,
  cstConnectPending = 3,
  cstDropPending = 4,
  cstCreatePending = 5,
  cstConnectPendingNoLogin = 6,
};

// The code passed to every connection link.
enum TIB_ConnectionEventType : uint8_t {
  cetBeforeAssignment = 0,
  cetAfterAssignment = 1,
  cetBeforeExecDDL = 2,
  cetAfterExecDDL = 3,
  cetConnectedChanged = 4,
  cetBeforeCreateDatabase = 5,
  cetAfterCreateDatabase = 6,
  cetBeforeConnect = 7,
  cetAfterConnect = 8,
  cetBeforeDisconnect = 9,
  cetAfterDisconnect = 10,
  cetBeforeDropDatabase = 11,
  cetAfterDropDatabase = 12,
};

class TIB_Connection : public TIB_Component {
 public:
  explicit TIB_Connection(TComponent* Owner);
  ~TIB_Connection() override;

  // Connected while the attachment handle is not 0.
  bool GetConnected() const { return db_handle_ != 0; }
  isc_db_handle* GetDbHandlePtr() { return &db_handle_; }
  TIB_ConnectionStatus Status() const { return status_; }

 protected:
  isc_db_handle db_handle_ = 0;
  TIB_ConnectionStatus status_ = cstDisconnected;
};

// --- Transaction ----------------------------------------------------------------------------

enum TIB_Isolation : uint8_t { tiConcurrency = 0, tiConsistency = 1, tiCommitted = 2 };

enum TIB_TransactionState : uint8_t {
  tsNone = 0,
  tsInactivePending = 1,
  tsInactive = 2,
  tsActivePending = 3,
  tsActive = 4,
  tsSavePointPending = 5,
  tsLosePointPending = 6,
  tsCommitRetainingPending = 7,
  tsCommitPending = 8,
  tsCommitRefreshPending = 9,
  tsRollbackRetainingPending = 10,
  tsRollbackPending = 11,
  tsRollbackRefreshPending = 12,
};

class TIB_Transaction : public TIB_Component {
 public:
  explicit TIB_Transaction(TComponent* Owner);
  ~TIB_Transaction() override;

  // Started while the transaction handle is not 0.
  bool GetStarted() const { return tr_handle_ != 0; }
  isc_tr_handle* GetTrHandlePtr() { return &tr_handle_; }
  TIB_TransactionState State() const { return state_; }

 protected:
  isc_tr_handle tr_handle_ = 0;
  TIB_TransactionState state_ = tsNone;
};

}  // namespace pelvar
