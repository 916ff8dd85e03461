// The library's component base, the per-thread session, the connection and the
// transaction. The statement, dataset, data-source and link classes live in the
// statement engine (dbengine/IB_Components.h) and are only named here; the session
// keeps them in its lists as library components and reaches them through the focus
// operations of TIB_Component.
//
// The connection and the transaction carry what the session needs of them so far
// (session membership, focus, the handles); they grow their full behaviour in place.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "dbclient/IB_Header.h"
#include "dbclient/IB_Session.h"
#include "platform/application.h"
#include "platform/classes.h"
#include "platform/oslayer.h"
#include "platform/screen.h"

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

// A colour as the framework keeps it: $00BBGGRR, or a system colour with the top byte set.
using TColor = int32_t;

// Fired by the session timer for one component (Sender) per tick, and for the session
// at the end of each round.
using TIB_SessionTimerEvent =
    std::function<void(TComponent* Sender, bool& IsDone, bool& IsWaiting, bool& Terminate)>;
using TIB_GetDataLinkColorEvent =
    std::function<void(TIB_Session* Sender, TIB_DataLink* DataLink, TColor& StateColor)>;

// --- Component base ---------------------------------------------------------------------

// Every library component belongs to one session: the one assigned, or one found among
// its owners and their components, or the calling thread's default session.
//
// A subclass that overrides SetIB_Session must call SetIB_Session(nullptr) in its own
// destructor, so that its list work is done while it is still whole.
class TIB_Component : public TComponent {
 public:
  explicit TIB_Component(TComponent* Owner);
  ~TIB_Component() override;

  // The session; when none is assigned yet it is searched for first, so this never
  // yields nullptr.
  virtual TIB_Session* GetIB_Session();
  // Leaves the current session (ending this component's busy sections there) and joins
  // Value (re-opening them there); nullptr only leaves.
  virtual void SetIB_Session(TIB_Session* Value);
  TIB_Session* IB_Session() { return GetIB_Session(); }
  // The session when one is assigned, without searching.
  TIB_Session* AssignedSession() const { return session_; }
  // True when the component has a session afterwards.
  bool EnsureSession(bool AllowDefault);
  // Walks up the ownership chain for a session: an owner that is a session, or the
  // session of a library component among an owner's components.
  virtual void FindSession(TIB_Session*& Session, bool AllowDefault);

  // Busy sections; an internal component does not move the session's busy level.
  void BeginBusy(bool Yield);
  void EndBusy();

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
  // Stores the handler and lets the session update its timer list.
  void SetOnSessionTimer(TIB_SessionTimerEvent Handler);

  // Made without an owner, or owned by an internal library component.
  bool Internal() const { return internal_; }
  bool NoTimer() const { return no_timer_; }
  void SetNoTimer(bool Value) { no_timer_ = Value; }
  int32_t BusyLevel() const { return busy_level_; }

  // Always "4.8.7"; not stored.
  AnsiString Version() const { return "4.8.7"; }
  void SetVersion(const AnsiString&) {}
  // The session is stored with the form only when assigned and not a default session.
  bool IB_SessionStored() const;

  void Notification(TComponent* AComponent, TOperation Operation) override;

  // What the session's focus handling asks of its members. A connection, transaction
  // or data source that announces its focus, is told when it gains and loses it; a
  // link is handed the newly focused component (and decides itself whether to follow);
  // a data source names its dataset and a dataset its connection and transaction.
  virtual bool AnnouncesFocus() const { return false; }
  virtual void DoGainFocus() {}
  virtual void DoLoseFocus() {}
  virtual void DoReceiveFocus(TIB_Component* Focused);
  virtual TIB_Component* FocusDataset() { return nullptr; }
  virtual TIB_Connection* FocusConnection() { return nullptr; }
  virtual TIB_Transaction* FocusTransaction() { return nullptr; }

 protected:
  int32_t busy_level_ = 0;
  bool searching_ = false;
  bool internal_ = false;
  bool no_timer_ = false;
  TIB_ErrorEvent on_error_;
  TIB_SessionTimerEvent on_session_timer_;
  TIB_Session* session_ = nullptr;

 private:
  // Examines one component of the search: a session, or a library component's session.
  void ExamineForSession(TComponent* C, TIB_Session*& Session, bool AllowDefault);
};

// Holds one busy section of a component for its lifetime.
class TIB_BusyBracket {
 public:
  TIB_BusyBracket(TIB_Component& Component, bool Yield) : component_(Component) {
    component_.BeginBusy(Yield);
  }
  ~TIB_BusyBracket() { component_.EndBusy(); }
  TIB_BusyBracket(const TIB_BusyBracket&) = delete;
  TIB_BusyBracket& operator=(const TIB_BusyBracket&) = delete;

 private:
  TIB_Component& component_;
};

// --- Session ------------------------------------------------------------------------------

// The per-thread hub of the library components: their lists, the focus, busy nesting
// with the busy cursor, and on the main thread the service timer that serves one
// registered component per tick. A session and its components are used by one thread.
class TIB_Session : public TIB_SessionBase {
 public:
  // Start colours of the data-link states.
  static constexpr TColor clSilver = 0x00C0C0C0;
  static constexpr TColor clBlue = 0x00FF0000;
  static constexpr TColor clNone = 0x1FFFFFFF;
  static constexpr TColor clGrayText = static_cast<TColor>(0xFF000011u);
  static constexpr TColor clWindow = static_cast<TColor>(0xFF000005u);
  // Milliseconds between the ticks of the service timer of the main thread's sessions.
  static constexpr uint32_t DefaultTimerInterval = 5000;

  // A session made on the main thread changes the screen cursor while busy and runs
  // the service timer; one made on any other thread does neither.
  explicit TIB_Session(TComponent* Owner);
  ~TIB_Session() override;

  // A default session made for a thread.
  bool AutoCreated() const { return auto_created_; }

  // The failing component's own handler first (when Sender is a library component);
  // then, while RaiseException is still set, the session's OnError.
  void HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                   TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                   TStringList* SQL, bool& RaiseException) override;
  // Runs the application's message loop once; an exception there is shown by the
  // application's handler and gives false.
  bool ProcessMessages() override;
  // Moves itself to the first place among its owner's components.
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // --- Busy nesting
  void BeginBusy(bool Yield);
  void EndBusy();
  void EndCursorHold() { --cursor_hold_; }
  // True while a busy section is open or a timer tick runs.
  bool IsBusy() const { return busy_level_ > 0 || in_tick_; }
  int32_t BusyLevel() const { return busy_level_; }
  int32_t YieldLevel() const { return yield_level_; }
  int32_t CursorHold() const { return cursor_hold_; }
  TCursor BusyCursor() const { return busy_cursor_; }
  void SetBusyCursor(TCursor Value) { busy_cursor_ = Value; }
  TCursor YieldCursor() const { return yield_cursor_; }
  void SetYieldCursor(TCursor Value) { yield_cursor_ = Value; }
  void BeginTimedFetch() { ++timed_fetch_; }
  void EndTimedFetch() {
    if (timed_fetch_ > 0) --timed_fetch_;
  }
  int32_t TimedFetchCount() const { return timed_fetch_; }
  // Joining components count here.
  int32_t RefCount() const { return ref_count_; }

  // --- Focus
  TIB_Connection* FocusedConnection() const { return focused_connection_; }
  TIB_Transaction* FocusedTransaction() const { return focused_transaction_; }
  TIB_Component* FocusedDataset() const { return focused_dataset_; }
  TIB_Component* FocusedDataSource() const { return focused_data_source_; }
  void SetFocusedConnection(TIB_Connection* Conn);
  void SetFocusedTransaction(TIB_Transaction* Tr);
  void SetFocusedDataset(TIB_Component* DS);
  void SetFocusedDataSource(TIB_Component* Src);
  void AnnounceConnectionFocus(TIB_Connection* Conn);
  void AnnounceTransactionFocus(TIB_Transaction* Tr);
  void AnnounceDataSourceFocus(TIB_Component* Src);

  // The first connection whose DatabaseName equals Name, case aside; nullptr when none.
  TIB_Connection* FindConnection(const AnsiString& Name) const;
  void DoGetDataLinkColor(TIB_DataLink* DataLink, TColor& StateColor);

  // --- Timer
  uint32_t TimerInterval() const { return timer_interval_; }
  void SetTimerInterval(uint32_t Value);
  // Serves the next component of the timer list, or ends the round with OnSessionTimer.
  void ProcessSessionTimer(bool& IsDone, bool& IsWaiting, bool& Terminate);
  // Puts Comp into the timer list or takes it out, as it now wishes.
  void UpdateTimerList(TIB_Component* Comp);
  const std::vector<TIB_Component*>& TimerList() const { return timer_list_; }
  int32_t TimerNext() const { return timer_next_; }

  // --- Component lists; the components keep them through SetIB_Session. Internal
  // components are in none of them.
  std::vector<TIB_Component*>& AllComponentList() { return all_; }
  std::vector<TIB_Connection*>& ConnectionList() { return connections_; }
  std::vector<TIB_Component*>& ConnectionLinkList() { return connection_links_; }
  std::vector<TIB_Transaction*>& TransactionList() { return transactions_; }
  std::vector<TIB_Component*>& TransactionLinkList() { return transaction_links_; }
  std::vector<TIB_Component*>& StatementList() { return statements_; }
  std::vector<TIB_Component*>& DatasetList() { return datasets_; }
  std::vector<TIB_Component*>& DataSourceList() { return data_sources_; }
  std::vector<TIB_Component*>& DataLinkList() { return data_links_; }

  // Two scratch XSQLDA buffers (5 and 30 entries at start, version 1, sqln set) that
  // statements grow (ReallocBuffer) and use while they prepare. Index 0 or 1.
  XSQLDA*& ScratchXSQLDA(int Index) { return scratch_da_[Index]; }
  int16_t& ScratchXSQLDACount(int Index) { return scratch_count_[Index]; }

  // --- Published properties
  bool AllowDefaultConnection() const { return allow_default_connection_; }
  void SetAllowDefaultConnection(bool Value) { allow_default_connection_ = Value; }
  bool AllowDefaultTransaction() const { return allow_default_transaction_; }
  void SetAllowDefaultTransaction(bool Value) { allow_default_transaction_ = Value; }
  TIB_Connection* DefaultConnection() const { return default_connection_; }
  void SetDefaultConnection(TIB_Connection* Value) { default_connection_ = Value; }
  TColor EditingColor() const { return editing_color_; }
  void SetEditingColor(TColor Value) { editing_color_ = Value; }
  TColor InsertingColor() const { return inserting_color_; }
  void SetInsertingColor(TColor Value) { inserting_color_ = Value; }
  TColor DeletingColor() const { return deleting_color_; }
  void SetDeletingColor(TColor Value) { deleting_color_ = Value; }
  TColor SearchingColor() const { return searching_color_; }
  void SetSearchingColor(TColor Value) { searching_color_ = Value; }
  TColor ReadOnlyColor() const { return read_only_color_; }
  void SetReadOnlyColor(TColor Value) { read_only_color_ = Value; }
  TColor SelectedColor() const { return selected_color_; }
  void SetSelectedColor(TColor Value) { selected_color_ = Value; }
  TColor InvalidColor() const { return invalid_color_; }
  void SetInvalidColor(TColor Value) { invalid_color_ = Value; }
  TColor PreparedColor() const { return prepared_color_; }
  void SetPreparedColor(TColor Value) { prepared_color_ = Value; }
  TColor BrowsingColor() const { return browsing_color_; }
  void SetBrowsingColor(TColor Value) { browsing_color_ = Value; }
  bool StoreActive() const { return store_active_; }
  void SetStoreActive(bool Value) { store_active_ = Value; }
  bool UseCursor() const { return use_cursor_; }
  void SetUseCursor(bool Value) { use_cursor_ = Value; }

  TNotifyEvent OnBeginBusy;
  TNotifyEvent OnEndBusy;
  TNotifyEvent OnBeginYield;
  TNotifyEvent OnEndYield;
  TIB_GetDataLinkColorEvent OnGetDataLinkColor;
  TIB_SessionTimerEvent OnSessionTimer;
  // Kept under the session's own lock; the session never fires it.
  TNotifyEvent OnWakeup() const;
  void SetOnWakeup(TNotifyEvent Handler);

 private:
  friend class TIB_Component;
  friend TIB_Session* GetDefaultSession();
  void RemoveFromTimerList(TIB_Component* Comp);
  void TimerTick();

  bool auto_created_ = false;
  bool destroying_ = false;
  TIB_Connection* focused_connection_ = nullptr;
  TIB_Transaction* focused_transaction_ = nullptr;
  TIB_Component* focused_dataset_ = nullptr;
  TIB_Component* focused_data_source_ = nullptr;
  int32_t busy_level_ = 0;
  int32_t yield_level_ = -1;
  int32_t cursor_hold_ = 0;
  TCursor busy_cursor_ = crSQLWait;
  TCursor yield_cursor_ = crAppStart;
  TCursor saved_cursor_ = -1;
  int32_t ref_count_ = 0;
  int32_t timed_fetch_ = 0;
  mutable TRTLCriticalSection lock_;
  TNotifyEvent on_wakeup_;

  std::vector<TIB_Component*> timer_list_;
  int32_t timer_next_ = 0;
  uint32_t timer_interval_ = 0;
  std::unique_ptr<TTimer> timer_;
  bool in_tick_ = false;
  bool round_done_ = true;
  bool round_waiting_ = false;
  bool round_terminate_ = false;

  XSQLDA* scratch_da_[2] = {nullptr, nullptr};
  int16_t scratch_count_[2] = {0, 0};

  // Every component that has joined, internal ones included: each is detached when
  // the session goes.
  std::vector<TIB_Component*> members_;
  std::vector<TIB_Component*> all_;
  std::vector<TIB_Connection*> connections_;
  std::vector<TIB_Component*> connection_links_;
  std::vector<TIB_Transaction*> transactions_;
  std::vector<TIB_Component*> transaction_links_;
  std::vector<TIB_Component*> statements_;
  std::vector<TIB_Component*> datasets_;
  std::vector<TIB_Component*> data_sources_;
  std::vector<TIB_Component*> data_links_;

  bool allow_default_connection_ = true;
  bool allow_default_transaction_ = true;
  TIB_Connection* default_connection_ = nullptr;
  TColor editing_color_ = 0x00AAFFFF;
  TColor inserting_color_ = 0x00C0FFC0;
  TColor deleting_color_ = 0x00C8C8FF;
  TColor searching_color_ = 0x00F0F0C8;
  TColor read_only_color_ = clSilver;
  TColor selected_color_ = clBlue;
  TColor invalid_color_ = clNone;
  TColor prepared_color_ = clGrayText;
  TColor browsing_color_ = clWindow;
  bool store_active_ = false;
  bool use_cursor_ = false;
};

// The calling thread's default session ("REZ_DefaultSession"), made at its first need
// and kept in the thread-local slot; it is freed when its last component leaves it.
TIB_Session* GetDefaultSession();
// Clears the thread's slot when it holds Session, then frees Session and sets it nullptr.
void FreeDefaultSession(TIB_Session*& Session);

// Removes the first occurrence of Item from List; true when it was there.
template <class T, class U>
bool RemoveFromComponentList(std::vector<T*>& List, U* Item) {
  for (auto it = List.begin(); it != List.end(); ++it) {
    if (*it == Item) {
      List.erase(it);
      return true;
    }
  }
  return false;
}

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

  // Keeps the session's connection list and default connection; a connection that
  // leaves gives up the session's focus.
  void SetIB_Session(TIB_Session* Value) override;

  const AnsiString& DatabaseName() const { return database_name_; }
  void SetDatabaseName(const AnsiString& Value) { database_name_ = Value; }

  // When set, the connection announces itself to the session's connection links when
  // it becomes the focused connection.
  bool AnnouncesFocus() const override { return announce_focus_; }
  bool AnnounceFocus() const { return announce_focus_; }
  virtual void SetAnnounceFocus(bool Value);
  // Makes this the session's focused connection.
  virtual void SetFocus();

 protected:
  isc_db_handle db_handle_ = 0;
  TIB_ConnectionStatus status_ = cstDisconnected;
  AnsiString database_name_;
  bool announce_focus_ = false;
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

  // Keeps the session's transaction list; a transaction that leaves gives up the
  // session's focus.
  void SetIB_Session(TIB_Session* Value) override;

  bool AnnouncesFocus() const override { return announce_focus_; }
  bool AnnounceFocus() const { return announce_focus_; }
  virtual void SetAnnounceFocus(bool Value);
  // Makes this the session's focused transaction.
  virtual void SetFocus();

 protected:
  isc_tr_handle tr_handle_ = 0;
  TIB_TransactionState state_ = tsNone;
  bool announce_focus_ = false;
};

}  // namespace pelvar
