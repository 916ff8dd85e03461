// The library's component base, the per-thread session, the connection with its
// connection link and connect characteristics, the transaction with its link, and the
// database component; the library's string lists come with them
// (IB_Components_stringlist.h), the blob stream apart (IB_Components_blobstream.h, as
// it needs the statement engine's rows). The statement, dataset, data-source and data
// link classes live in the statement engine and are only named here; the session keeps
// them in its lists as library components and reaches them through the focus
// operations of TIB_Component. What a transaction's ending asks of a dataset is the
// IB_TransactionDataset interface, which the statement engine's dataset implements.
//
// The connection owns its schema cache (IB_SchemaCache.h) and the transaction its DML
// cache (IB_Components_dmlcache.h); the time-out handling of transactions is in
// IB_Components_timeouts.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

#include "dbclient/IB_Components_stringlist.h"
#include "dbclient/IB_Header.h"
#include "dbclient/IB_Session.h"
#include "dbengine/IB_Parse.h"
#include "platform/application.h"
#include "platform/classes.h"
#include "platform/oslayer.h"
#include "platform/screen.h"
#include "platform/variant.h"

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
class TIB_SchemaCache;
class TIB_DMLCacheItem;
class TIB_TransactionDMLCache;

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
  // A cursor hold keeps the busy cursor from being restored while it lasts.
  void BeginCursorHold() { ++cursor_hold_; }
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

enum TIB_Protocol : uint8_t { cpLocal, cpNetBEUI, cpTCP_IP, cpNovell };
enum TIB_DPBFlag : uint8_t { dpbDefault, dpbTrue, dpbFalse };
enum TIB_PasswordStorage : uint8_t {
  psNone,
  psParams,
  psKeyFromUserReg,
  psKeyFromMachineReg,
  psNotSecure,
  psKeyFromEnviron,
};
enum TIB_ParameterOrderFlag : uint8_t { poAuto, poOld, poNew };
enum TIB_ConnectionFieldEntryTypes : uint8_t { fetDomainName, fetSQLType };
using TIB_ConnectionFieldEntryTypeSet = TEnumSet<TIB_ConnectionFieldEntryTypes>;

class TIB_Column;

// The database parameter block is built in a buffer of this many bytes.
constexpr int32_t IB_DPBBufferSize = 1024;
using TIB_DPBBuffer = std::array<char, IB_DPBBufferSize>;

using TIB_ConnectionEvent = std::function<void(TIB_Connection* Sender)>;
using TIB_LoginEvent = std::function<void(TIB_Connection* Sender, bool& AbortLogin)>;
// May append items with TIB_Connection::AddDPBItem and advance ABufPtr.
using TIB_CustomizeDPBEvent =
    std::function<void(TIB_Connection* Sender, int32_t& ABufPtr, TIB_DPBBuffer& ABuffer)>;
using TIB_ProcessSearchBuffer = std::function<void(
    TObject* Sender, TIB_Column* IB_Field, AnsiString& SearchBuffer, TStrings* WhereClause,
    TStrings* Parameters, TStrings* Macros, bool& DefaultHandling)>;
using TIB_SoundExParse =
    std::function<void(TObject* Sender, const AnsiString& SourceStr, AnsiString& ResultStr)>;
using TIB_CompareTextEvent =
    std::function<int(TIB_Column* IB_Field, const AnsiString& S1, const AnsiString& S2)>;
using TIB_GetHighCollateChar = std::function<void(TIB_Column* IB_Field, char& AChar)>;

// The kinds of change the transaction's DML cache announces.
enum TIB_DMLCacheItemType : uint8_t { ditEdit = 0, ditInsert = 1, ditDelete = 2 };
using TIB_ReceiveDMLCacheEvent =
    std::function<void(TObject* AConnection, AnsiString& AKeyFieldNames,
                       Variant& AKeyFieldValues, TIB_DMLCacheItemType& ADMLCacheItemType,
                       bool& Accept)>;

// The facts the server gives once per attachment about the database and itself.
struct TIB_ConnectCharacteristics {
  int32_t dbAllocation = 0;
  uint8_t dbBase_Level[2] = {0, 0};
  uint8_t dbId_Count = 0;
  AnsiString dbFile_Name;
  AnsiString dbSite_Name;
  uint8_t dbImplementation[3] = {0, 0, 0};
  uint8_t dbNo_Reserve = 0;
  uint8_t dbForced_Writes = 0;
  uint16_t dbODS_Minor_Version = 0;
  uint16_t dbODS_Version = 0;
  uint16_t dbPage_Size = 0;
  uint8_t dbVersion_Count = 0;
  AnsiString dbVersion;
  uint8_t dbServer_Version_Count = 0;
  // Empty when the server does not answer the item.
  AnsiString dbServer_Version;
  // Parsed from the server version text ("LI-V3.0.11.33703 Firebird 3.0": LI, V,
  // Firebird 3.0, 3, 0, 11, 33703).
  AnsiString dbServer_Platform;
  AnsiString dbServer_Kind;
  AnsiString dbServer_Name;
  int32_t dbServer_Major = 0;
  int32_t dbServer_Minor = 0;
  int32_t dbServer_Release = 0;
  int32_t dbServer_Build = 0;
  int32_t dbSweep_Interval = 0;
  int32_t dbPage_Buffers = 0;
  // 0 when the server does not answer these three.
  int32_t dbSQL_Dialect = 0;
  uint8_t dbRead_Only = 0;
  int32_t dbSize_In_Pages = 0;
};

// Fills the parsed server fields of C from C.dbServer_Version.
void ParseServerVersion(TIB_ConnectCharacteristics& C);

// What the login dialog shows and gives back.
struct TIB_LoginDialogValues {
  AnsiString Caption;
  AnsiString Database;
  bool DatabaseReadOnly = false;
  AnsiString Username;
  AnsiString Password;
  AnsiString SQLRole;
  // The role box's items.
  std::vector<AnsiString> SQLRoles;
  int32_t HelpContext = 0;
};
// Shows the login dialog; false when the user cancelled. The dialogs unit installs it;
// while none is installed a login prompt ends as cancelled.
using TIB_LoginDialogHook = std::function<bool(TIB_Connection* Sender, TIB_LoginDialogValues& Values)>;
extern TIB_LoginDialogHook LoginDialogHook;

// One attachment to one database: its parameters (Params, mostly exposed again as
// typed properties), the attachment handle, the components that use it and its links.
//
// The statement-handle cache and connection pool plug in through the virtual seams
// marked below; the schema cache is owned (SchemaCache()).
class TIB_Connection : public TIB_Component, public IB_DatabaseStatementTarget {
 public:
  explicit TIB_Connection(TComponent* Owner);
  ~TIB_Connection() override;

  // --- State
  // Connected while the attachment handle is not 0.
  bool GetConnected() const override { return db_handle_ != 0; }
  bool Connected() const { return GetConnected(); }
  // True connects (with the login prompt when LoginPrompt is set); false disconnects.
  void SetConnected(bool Value);
  isc_db_handle* GetDbHandlePtr() { return &db_handle_; }
  isc_db_handle DbHandle() const { return db_handle_; }
  TIB_ConnectionStatus Status() const { return status_; }
  // The attachment was found dead: the next disconnect attempts no detach.
  bool ConnectionLost() const { return lost_; }
  // Marks the connection and every transaction on its list lost.
  void MarkConnectionLost();
  // True when not connected or when the attachment answers an information call; a
  // lost-connection answer marks the connection lost. Never raises.
  bool CheckConnection();

  // --- Connect characteristics and identifiers
  // A copy of the server's facts, read once per attachment. Raises EIB_ConnectionError
  // "Nemohu získat charakteristiku spojení" when not connected.
  void GetConnectCharacteristics(TIB_ConnectCharacteristics& C);
  TIB_ConnectCharacteristics Characteristics() {
    TIB_ConnectCharacteristics c;
    GetConnectCharacteristics(c);
    return c;
  }
  // isc_database_info on the attachment with item and buffer lengths High + 1; a
  // failure is raised through the session.
  void API_DatabaseInfo(const char* Items, int16_t ItemsHigh, char* Buffer, int16_t BufferHigh);
  // An identifier as the user wrote it, as the server will compare it; and as stored
  // in the system tables. Both need a connection.
  void MakeIdent(const AnsiString& S, AnsiString& R);
  void MakeStoredIdent(const AnsiString& S, AnsiString& R);
  // While connected: a number that stays the same as long as MakeIdent and
  // MakeStoredIdent give the same answers (one attachment, its facts as read, the
  // reserved-word rule as set); never 0, never the same for two attachments.
  uint64_t IdentStamp();
  AnsiString MakeIdent(const AnsiString& S) {
    AnsiString r;
    MakeIdent(S, r);
    return r;
  }
  AnsiString MakeStoredIdent(const AnsiString& S) {
    AnsiString r;
    MakeStoredIdent(S, r);
    return r;
  }
  // The attachment was handed to the connection pool: the next detach is skipped.
  bool Pooled() const { return pooled_; }

  // Keeps the session's connection list and default connection; a connection that
  // leaves gives up the session's focus.
  void SetIB_Session(TIB_Session* Value) override;
  void Loaded() override;
  void Notification(TComponent* AComponent, TOperation Operation) override;

  // --- Parameters
  TIB_StringList* Params() { return params_.get(); }
  // Copies Value's text. While the component is being read, a "SERVER NAME" item is
  // parsed into Server, Path and Protocol, and the password item goes unless the
  // password is kept in Params.
  void SetParams(const TStrings* Value);

  // Indexed parameters 1..10 (see the table of keys in the .cpp); empty outside.
  AnsiString GetIndexedParam(int32_t Index);
  // Raises EIB_ConnectionError "Nemohu změnit během připojení" while connected; an empty
  // value removes the item.
  void SetIndexedParam(int32_t Index, const AnsiString& Value);
  AnsiString Username() { return GetIndexedParam(1); }
  void SetUsername(const AnsiString& V) { SetIndexedParam(1, V); }
  AnsiString Server() { return GetIndexedParam(3); }
  void SetServer(const AnsiString& V) { SetIndexedParam(3, V); }
  AnsiString SQLRole() { return GetIndexedParam(4); }
  void SetSQLRole(const AnsiString& V) override { SetIndexedParam(4, V); }
  AnsiString Path() { return GetIndexedParam(5); }
  void SetPath(const AnsiString& V) { SetIndexedParam(5, V); }
  AnsiString License() { return GetIndexedParam(6); }
  void SetLicense(const AnsiString& V) { SetIndexedParam(6, V); }
  AnsiString SysDBA() { return GetIndexedParam(7); }
  void SetSysDBA(const AnsiString& V) { SetIndexedParam(7, V); }
  AnsiString CharSet() { return GetIndexedParam(9); }
  void SetCharSet(const AnsiString& V) { SetIndexedParam(9, V); }
  AnsiString MessageFile() { return GetIndexedParam(10); }
  void SetMessageFile(const AnsiString& V) { SetIndexedParam(10, V); }
  void SetUserName(const AnsiString& V) override { SetUsername(V); }

  // The kept password; when it is empty, or kept in Params, the password item.
  AnsiString GetPassword();
  AnsiString Password() { return GetPassword(); }
  // Keeps Value, then writes the password item (Value with psParams, else removes it).
  void SetPassword(const AnsiString& Value) override;
  TIB_PasswordStorage PasswordStorage() const { return password_storage_; }
  void SetPasswordStorage(TIB_PasswordStorage Value) { password_storage_ = Value; }
  // The saved (scrambled) form of the password by PasswordStorage.
  virtual bool HasSavedPassword();
  virtual AnsiString GetSavedPassword();
  virtual void SetSavedPassword(const AnsiString& S);

  TIB_Protocol GetProtocol() const;
  TIB_Protocol Protocol() const { return GetProtocol(); }
  void SetProtocol(TIB_Protocol Value);
  TIB_DPBFlag ForcedWrites() const;
  void SetForcedWrites(TIB_DPBFlag Value);
  TIB_DPBFlag DBKeyScope() const;
  void SetDBKeyScope(TIB_DPBFlag Value);
  TIB_DPBFlag ReservePageSpace() const;
  void SetReservePageSpace(TIB_DPBFlag Value);
  // While connected these three report the server's values.
  uint16_t GetPageSize();
  uint16_t PageSize() { return GetPageSize(); }
  void SetPageSize(uint16_t Value);
  int16_t GetSQLDialect();
  int16_t SQLDialect() { return GetSQLDialect(); }
  void SetSQLDialect(int16_t Value);
  uint16_t GetSweepInterval();
  uint16_t SweepInterval() { return GetSweepInterval(); }
  void SetSweepInterval(uint16_t Value);

  // Server and Path joined by Protocol: \\server\path, server:path, server@path, path.
  AnsiString GetConnectString() const;
  // Splits a connect string into Server, Path and Protocol.
  void SetConnectString(const AnsiString& Value) override;
  // The symbolic name when one is set, else the connect string.
  AnsiString GetDatabaseName() const;
  AnsiString DatabaseName() const { return GetDatabaseName(); }
  // A text with ".", "\", ":" or "@" is a connect string; anything else must be an
  // identifier and becomes the symbolic name, made unique within the session.
  void SetDatabaseName(const AnsiString& Value);
  bool DatabaseNameIsStored() const { return !symbolic_name_.empty(); }
  const AnsiString& AliasName() const { return alias_name_; }
  void SetAliasName(const AnsiString& Value);

  // What the last attach used (the connection pool matches on them).
  const AnsiString& AttachDatabase() const { return attach_database_; }
  const AnsiString& AttachUsername() const { return attach_user_; }
  const AnsiString& AttachPassword() const { return attach_password_; }
  const AnsiString& AttachSQLRole() const { return attach_role_; }

  // Appends Code, the length and Value's bytes at Pos; nothing for an empty Value.
  // Raises EIB_ConnectionError "Chybné DPB: Více něž 255 znaků" for a value longer than
  // 255 bytes or one that would not fit into the buffer.
  void AddDPBItem(int32_t& Pos, TIB_DPBBuffer& Buffer, uint8_t Code, const AnsiString& Value);
  // The parameter block the next attach would send (the attach strings resolved, the
  // pool not asked); for inspection.
  std::string BuildDPB();

  // --- Connecting
  // True when connected afterwards; see the .cpp for the steps.
  bool Connect(bool NoLoginPrompt);
  virtual void Open();
  virtual void Close();
  virtual void OpenConnection();
  virtual void CloseConnection();
  // "Spojení již bylo navázáno" when connected; creates the database and attaches.
  virtual void CreateDatabase();
  // "Spojení nebylo navázáno" when not connected; drops the database.
  virtual void DropDatabase();
  // Resolves the attach strings and attaches (or creates, in status cstCreatePending).
  // Does nothing when connected.
  void API_Connect();
  void API_Disconnect();
  void SysDisconnect();

  // --- Login
  virtual void DoLogin();
  virtual void DoLoginFailure(const Exception* E);
  virtual void ExecuteLoginDialog();
  AnsiString GetLoginUsername();
  void SetLoginUsername(const AnsiString& S);
  AnsiString GetLoginSQLRole();
  void SetLoginSQLRole(const AnsiString& S);
  // The registry key of the login defaults ("%DEFAULT%" resolved); empty when none.
  AnsiString LoginRegistryKey() const;
  bool LoginPrompt() const { return login_prompt_; }
  void SetLoginPrompt(bool V) { login_prompt_ = V; }
  uint16_t LoginAttempts() const { return login_attempts_; }
  void SetLoginAttempts(uint16_t V) { login_attempts_ = V; }
  bool LoginAborted() const { return login_aborted_; }
  bool LoginAbortedShowMessage() const { return login_aborted_show_message_; }
  void SetLoginAbortedShowMessage(bool V) { login_aborted_show_message_ = V; }
  bool LoginDBReadOnly() const { return login_db_read_only_; }
  void SetLoginDBReadOnly(bool V) { login_db_read_only_ = V; }
  int32_t LoginHelpContext() const { return login_help_context_; }
  void SetLoginHelpContext(int32_t V) { login_help_context_ = V; }
  const AnsiString& LoginCaption() const { return login_caption_; }
  void SetLoginCaption(const AnsiString& V) { login_caption_ = V; }
  const AnsiString& LoginSQLRoleList() const { return login_sql_role_list_; }
  void SetLoginSQLRoleList(const AnsiString& V) { login_sql_role_list_ = V; }
  const AnsiString& LoginSQLRolePrefix() const { return login_sql_role_prefix_; }
  void SetLoginSQLRolePrefix(const AnsiString& V) { login_sql_role_prefix_ = V; }
  const AnsiString& LoginUsernamePrefix() const { return login_username_prefix_; }
  void SetLoginUsernamePrefix(const AnsiString& V) { login_username_prefix_ = V; }
  const AnsiString& LoginRegKey() const { return login_reg_key_; }
  void SetLoginRegKey(const AnsiString& V) { login_reg_key_ = V; }

  // --- Components that use the connection, and links
  void AddTransaction(TIB_Transaction* Tr);
  void RemoveTransaction(TIB_Transaction* Tr);
  void AddStatement(TIB_Component* Statement);
  void RemoveStatement(TIB_Component* Statement);
  void AddDataset(TIB_Component* Dataset);
  void RemoveDataset(TIB_Component* Dataset);
  TIB_Transaction* GetTransaction(int32_t Index) const;
  TIB_Component* GetStatement(int32_t Index) const;
  TIB_Component* GetDataset(int32_t Index) const;
  int32_t TransactionCount() const { return static_cast<int32_t>(transactions_.size()); }
  int32_t StatementCount() const { return static_cast<int32_t>(statements_.size()); }
  int32_t DatasetCount() const { return static_cast<int32_t>(datasets_.size()); }
  int32_t ConnectionLinkCount() const { return static_cast<int32_t>(links_.size()); }
  TIB_ConnectionLink* ConnectionLink(int32_t Index) const { return links_.at(static_cast<size_t>(Index)); }
  void AddConnectionLink(TIB_ConnectionLink* Link);
  void RemoveConnectionLink(TIB_ConnectionLink* Link);
  // Every link, from the last to the first.
  void ProcessLinkEvent(TIB_ConnectionEventType AEvent);
  // Ends every transaction on the list (Close), restarting when the list changes.
  void EndTransactions();
  // Unprepares every statement (seam, see UnprepareStatement), then trims the
  // statement-handle cache.
  void UnprepareStatements();

  // --- DDL and the schema cache
  void SysBeforeExecDDL();
  void SysAfterExecDDL();
  void FlushSchemaCache();
  // Every list of the schema cache is read again at its next use.
  virtual void InvalidateSchemaCache();
  virtual void DeleteSchemaCacheFiles();
  // The connection's schema cache (dbclient/IB_SchemaCache.h).
  TIB_SchemaCache* SchemaCache() const { return schema_cache_.get(); }

  // --- Statement-handle cache (IB_Components_handlecache.cpp)
  // Gives Handle a statement handle of this attachment unless it holds one already
  // (0 and PlaceholderHandle count as none): the most recently released one, else a new
  // one from the server. A refused allocation raises and leaves the cache unchanged.
  void AllocateStatementHandle(isc_stmt_handle& Handle);
  // Takes Handle back into the cache (or drops it on the server when
  // CacheStatementHandles is off; a refused drop is only recorded as the session's last
  // result); Handle is 0 afterwards. 0 and PlaceholderHandle are only cleared.
  void ReleaseStatementHandle(isc_stmt_handle& Handle);
  // Drops the cached handles above position Keep (negative counts as 0) on the server,
  // ignoring refusals, and shrinks the block to the handles kept.
  virtual void TrimStatementHandles(int32_t Keep);
  int32_t CachedStatementHandleCount() const { return handle_fill_; }
  int32_t CachedStatementHandleCapacity() const { return handle_capacity_; }
  // The cached handle at Index (0 = bottom); 0 outside.
  isc_stmt_handle CachedStatementHandle(int32_t Index) const;
  // Unprepares one statement of the list and gives up any statement handle it holds, so
  // that no handle outlives its attachment (the statement engine defines it).
  virtual void UnprepareStatement(TIB_Component* Statement);

  // --- Connection pool (IB_Components_handlecache.cpp)
  // Hands the attachment to the process-wide pool and disconnects without detaching;
  // like Close when not connected. When the disconnect raises, the connection keeps its
  // attachment (and nothing in the pool refers to it) and the exception passes on.
  virtual void DisconnectToPool();
  // Takes over a pooled attachment whose attach strings equal this connection's and
  // that still answers; false when none does.
  virtual bool TakePooledAttachment();
  // The parameter-order decision for poAuto: true unless connected to a database of
  // on-disk structure 10 or later, where a described test query decides.
  virtual bool ProbeOldParameterOrder();

  // --- Other published properties
  bool AnnouncesFocus() const override { return announce_focus_; }
  bool AnnounceFocus() const { return announce_focus_; }
  virtual void SetAnnounceFocus(bool Value);
  // Makes this the session's focused connection.
  virtual void SetFocus();
  void DoGainFocus() override;
  void DoLoseFocus() override;
  TIB_Transaction* DefaultTransaction() const { return default_transaction_; }
  virtual void SetDefaultTransaction(TIB_Transaction* Value);
  bool KeepConnection() const { return true; }
  void SetKeepConnection(bool) {}
  bool CacheStatementHandles() const { return cache_statement_handles_; }
  void SetCacheStatementHandles(bool Value);
  char EscapeCharacter() const { return escape_character_; }
  void SetEscapeCharacter(char V) { escape_character_ = V; }
  TIB_ConnectionFieldEntryTypeSet FieldEntryTypes() const { return field_entry_types_; }
  void SetFieldEntryTypes(TIB_ConnectionFieldEntryTypeSet V) { field_entry_types_ = V; }
  bool DefaultNoCase() const { return default_no_case_; }
  void SetDefaultNoCase(bool V) { default_no_case_ = V; }
  bool DefaultNoTrailing() const { return default_no_trailing_; }
  void SetDefaultNoTrailing(bool V) { default_no_trailing_ = V; }
  bool DefaultNoTrimming() const { return default_no_trimming_; }
  void SetDefaultNoTrimming(bool V) { default_no_trimming_ = V; }
  bool DefaultNoLengthCheck() const { return default_no_length_check_; }
  void SetDefaultNoLengthCheck(bool V) { default_no_length_check_ = V; }
  const AnsiString& MacroBegin() const { return macro_begin_; }
  // A blank value restores the default ("<" and ">").
  void SetMacroBegin(const AnsiString& V);
  const AnsiString& MacroEnd() const { return macro_end_; }
  void SetMacroEnd(const AnsiString& V);
  TIB_ParameterOrderFlag ParameterOrder() const { return parameter_order_; }
  void SetParameterOrder(TIB_ParameterOrderFlag V) { parameter_order_ = V; }
  bool OldParameterOrder() const { return old_parameter_order_; }
  const AnsiString& SchemaCacheDir() const { return schema_cache_dir_; }
  // Also the schema cache's directory (trimmed, without trailing delimiters).
  void SetSchemaCacheDir(const AnsiString& V);

  // The field-attribute lists read by statements and datasets (each sorted); each
  // setter assigns into the owned list.
#define PELVAR_IB_FIELD_LIST(Name)                                   \
  TIB_StringProperty* Name() const { return Name##_.get(); }         \
  void Set##Name(const TStrings* Value) { Name##_->Assign(const_cast<TStrings*>(Value)); }
  PELVAR_IB_FIELD_LIST(ColumnAttributes)
  PELVAR_IB_FIELD_LIST(DefaultValues)
  PELVAR_IB_FIELD_LIST(FieldsAlignment)
  PELVAR_IB_FIELD_LIST(FieldsCharCase)
  PELVAR_IB_FIELD_LIST(FieldsDisplayLabel)
  PELVAR_IB_FIELD_LIST(FieldsGridLabel)
  PELVAR_IB_FIELD_LIST(FieldsGridTitleHint)
  PELVAR_IB_FIELD_LIST(FieldsDisplayFormat)
  PELVAR_IB_FIELD_LIST(FieldsDisplayWidth)
  PELVAR_IB_FIELD_LIST(FieldsEditMask)
  PELVAR_IB_FIELD_LIST(FieldsReadOnly)
  PELVAR_IB_FIELD_LIST(FieldsTrimming)
  PELVAR_IB_FIELD_LIST(FieldsVisible)
  PELVAR_IB_FIELD_LIST(GeneratorLinks)
#undef PELVAR_IB_FIELD_LIST

  // --- Session timer: wanted while attached.
  bool WantsSessionTimer() override;
  void DoSessionTimer(bool& IsDone, bool& IsWaiting, bool& Terminate) override;

  // --- Hooks called by the statement engine.
  virtual void DoProcessSearchBuffer(TIB_Column* IB_Field, AnsiString& SearchBuffer,
                                     TStrings* WhereClause, TStrings* Parameters,
                                     TStrings* Macros, bool& DefaultHandling);
  virtual void DoSoundExParse(const AnsiString& SourceStr, AnsiString& ResultStr);
  virtual void DoSoundExMaxParse(const AnsiString& SourceStr, AnsiString& ResultStr);

  // --- Events
  TIB_ConnectionEvent BeforeExecDDL, AfterExecDDL, BeforeConnect, AfterConnect,
      BeforeDisconnect, AfterDisconnect, BeforeCreateDatabase, AfterCreateDatabase,
      BeforeDropDatabase, AfterDropDatabase, OnConnectedChanged;
  TIB_LoginEvent OnLogin;
  TIB_ConnectionEvent OnLoginFailure, OnGainFocus, OnLoseFocus;
  // Published for the application; the library itself never fires it.
  TIB_ReceiveDMLCacheEvent OnReceiveDMLCache;
  TIB_CustomizeDPBEvent OnCustomizeDPB;
  TIB_ProcessSearchBuffer OnProcessSearchBuffer;
  TIB_SoundExParse OnSoundExParse, OnSoundExMaxParse;
  TIB_CompareTextEvent OnCustomCompareText, OnCustomCompareStr;
  TIB_GetHighCollateChar OnGetHighCollateChar;

 protected:
  virtual void DoBeforeConnect();
  virtual void DoAfterConnect();
  virtual void DoBeforeDisconnect();
  virtual void DoAfterDisconnect();
  void DoConnectedChanged();
  void DoBeforeExecDDL();
  void DoAfterExecDDL();
  void DoBeforeCreateDatabase();
  void DoAfterCreateDatabase();
  void DoBeforeDropDatabase();
  void DoAfterDropDatabase();
  void DoCustomizeDPB(int32_t& Pos, TIB_DPBBuffer& Buffer);

  void SysBeforeConnect();
  void SysAfterConnect();
  void SysBeforeDisconnect();
  void SysAfterDisconnect();
  void SysCreateDatabase();
  void SysDropDatabase();
  void LoginLoop();
  // Connects when Connected was set while reading; every failure is swallowed.
  void CheckPendingConnect();
  void RunDeferredStatementWork();
  // The status after a failed before-step: connected or disconnected by the handle.
  void ResetStatus() { status_ = GetConnected() ? cstConnected : cstDisconnected; }
  bool IsDestroying() const { return ComponentState().Contains(csDestroying); }

  isc_db_handle db_handle_ = 0;
  TIB_ConnectionStatus status_ = cstDisconnected;
  bool announce_focus_ = false;
  bool pooled_ = false;
  bool lost_ = false;

 private:
  AnsiString Param(const char* Key) const;
  void SetParam(const char* Key, const AnsiString& Value);
  // Disconnects at design time; raises while connected.
  void CheckNotConnected();
  // The attach strings and the first DPB items; Pos is the fill position after them.
  void ResolveAttachStrings();
  void StartDPB(int32_t& Pos, TIB_DPBBuffer& Buffer);
  void FinishDPB(int32_t& Pos, TIB_DPBBuffer& Buffer);
  void WriteLoginRegistry();
  // A parameter of the BDE alias AliasName (trimmed), read once per attach.
  AnsiString AliasParam(const char* Name);
  std::unique_ptr<TIB_StringList> alias_params_;
  // Reads the server's facts into the kept record.
  void LoadConnectCharacteristics();
  // The kept record, read first when needed (raises as GetConnectCharacteristics does);
  // for the frequent callers that need one fact, without copying the record.
  const TIB_ConnectCharacteristics& LoadedCharacteristics();
  // MakeIdent (Stored false) or MakeStoredIdent of S for the attachment's dialect, kept
  // in ident_memo_ while the characteristics stand.
  const AnsiString& DialectIdent(bool Stored, const AnsiString& S);
  static constexpr size_t kIdentMemoSize = 4096;
  std::unordered_map<AnsiString, AnsiString> ident_memo_[2];
  bool ident_memo_check_ = false;
  uint64_t ident_generation_ = 0;  // new with every reading of the facts
  // True when an information call on the attachment succeeds.
  bool AttachmentAnswers();

  std::unique_ptr<TIB_StringList> params_;
  AnsiString kept_password_;
  TIB_PasswordStorage password_storage_ = psNone;
  AnsiString symbolic_name_;
  AnsiString alias_name_;
  AnsiString attach_database_, attach_user_, attach_password_, attach_role_;

  std::vector<TIB_Transaction*> transactions_;
  std::vector<TIB_Component*> statements_;
  std::vector<TIB_Component*> datasets_;
  std::vector<TIB_ConnectionLink*> links_;

  bool connect_after_load_ = false;
  bool login_registry_flag_ = false;
  AnsiString login_caption_, login_sql_role_list_, login_sql_role_prefix_,
      login_username_prefix_, login_reg_key_;
  bool login_prompt_ = false;
  uint16_t login_attempts_ = 3;
  uint16_t login_attempt_ = 0;
  bool login_aborted_ = false;
  bool login_aborted_show_message_ = false;
  bool login_db_read_only_ = false;
  int32_t login_help_context_ = 0;

  TIB_Transaction* default_transaction_ = nullptr;
  bool cache_statement_handles_ = true;
  // The statement-handle cache: a heap block (ReallocBuffer) of handle_capacity_
  // entries, the first handle_fill_ of them cached handles (the last one on top).
  isc_stmt_handle* handle_cache_ = nullptr;
  int32_t handle_fill_ = 0;
  int32_t handle_capacity_ = 0;
  // Resizes the cache block to NewCapacity entries.
  void ResizeHandleCache(int32_t NewCapacity);
  char escape_character_ = '\\';
  TIB_ConnectionFieldEntryTypeSet field_entry_types_;
  bool default_no_case_ = false;
  bool default_no_trailing_ = false;
  bool default_no_trimming_ = false;
  bool default_no_length_check_ = true;
  AnsiString macro_begin_ = "<";
  AnsiString macro_end_ = ">";
  TIB_ParameterOrderFlag parameter_order_ = poAuto;
  bool old_parameter_order_ = false;
  AnsiString schema_cache_dir_;
  std::unique_ptr<TIB_SchemaCache> schema_cache_;

  // A refused detach of an attachment the server has shut; raised by SysDisconnect
  // once the disconnect is complete.
  std::exception_ptr pending_detach_error_;
  bool facts_loaded_ = false;
  TIB_ConnectCharacteristics characteristics_;

  std::unique_ptr<TIB_StringProperty> ColumnAttributes_, DefaultValues_, FieldsAlignment_,
      FieldsCharCase_, FieldsDisplayLabel_, FieldsGridLabel_, FieldsGridTitleHint_,
      FieldsDisplayFormat_, FieldsDisplayWidth_, FieldsEditMask_, FieldsReadOnly_,
      FieldsTrimming_, FieldsVisible_, GeneratorLinks_;
};

// The statement handle of a statement that has no server statement of its own; the
// handle cache neither frees, caches nor hands it out.
constexpr isc_stmt_handle PlaceholderHandle = ~isc_stmt_handle{0};

// One attachment given up to the pool, with the strings it was attached with.
class TIB_ConnectionPoolItem : public TObject {
 public:
  TIB_ConnectionPoolItem(isc_db_handle Handle, AnsiString Database, AnsiString User,
                         AnsiString Password, AnsiString Role);
  // Detaches the attachment when the item still holds it; a refusal is ignored.
  ~TIB_ConnectionPoolItem() override;
  isc_db_handle Handle = 0;
  AnsiString Database, User, Password, Role;
};

// The process-wide pool of detached attachments; every change of its list happens
// under its own lock.
class TIB_ConnectionPool : public TObject {
 public:
  TIB_ConnectionPool();
  // Clears (swallowing failures) and gives up its unit reference.
  ~TIB_ConnectionPool() override;
  // Frees (detaches) every item.
  void Clear();
  void Append(std::unique_ptr<TIB_ConnectionPoolItem> Item);
  // The first item matching the four strings exactly is handed to Take, which answers
  // whether it keeps the attachment; a declined item's attachment is abandoned and the
  // scan goes on. True when one was kept.
  bool TakeOver(const AnsiString& Database, const AnsiString& User, const AnsiString& Password,
                const AnsiString& Role, const std::function<bool(isc_db_handle)>& Take);
  int32_t Count();

 private:
  std::vector<std::unique_ptr<TIB_ConnectionPoolItem>> items_;
  TRTLCriticalSection lock_;
};

// nullptr until the first DisconnectToPool.
extern TIB_ConnectionPool* ConnectionPool;
// Clears and frees the pool (also run when the program ends).
void FreeConnectionPool();

// --- Connection link --------------------------------------------------------------------------

using TIB_ConnectionLinkEvent =
    std::function<void(TIB_ConnectionLink* Sender, TIB_ConnectionEventType AEvent)>;
using TIB_ConnectionLinkFocusEvent =
    std::function<void(TIB_ConnectionLink* Sender, TIB_Connection* IB_Connection)>;

// Through a link another component follows a connection: it holds the reference,
// registers with the connection and passes every state change to OnProcessEvent.
class TIB_ConnectionLink : public TIB_Component {
 public:
  explicit TIB_ConnectionLink(TComponent* Owner);
  ~TIB_ConnectionLink() override;

  TIB_Connection* IB_Connection() const { return connection_; }
  // Sends cetBeforeAssignment while still on the old connection and
  // cetAfterAssignment on the new one; nothing when unchanged.
  virtual void SetIB_Connection(TIB_Connection* AConnection);
  virtual void ProcessEvent(TIB_ConnectionEventType AEvent);
  void DoReceiveFocus(TIB_Component* Focused) override;
  bool GetConnected() const { return connection_ != nullptr && connection_->GetConnected(); }
  bool ReceiveFocus() const { return receive_focus_; }
  // True joins the session (when not yet joined) and takes its focused connection.
  void SetReceiveFocus(bool V);
  void SetIB_Session(TIB_Session* Value) override;
  void Loaded() override;

  TIB_ConnectionLinkEvent OnProcessEvent;
  TIB_ConnectionLinkFocusEvent OnReceiveFocus;

 private:
  TIB_Connection* connection_ = nullptr;
  bool receive_focus_ = false;
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

// The diagnostic text of a state ("State=Inactive" ...).
AnsiString TransactionStateText(TIB_TransactionState State);

// What a dataset does with its rows when its transaction ends.
enum TIB_CommitAction : uint8_t {
  caClose = 0,
  caInvalidateCursor = 1,
  caFetchAll = 2,
  caRefreshKeys = 3,
  caRefresh = 4,
};
enum TIB_RefreshAction : uint8_t {
  raOpen = 0,
  raKeepRowNum = 1,
  raKeepDataPos = 2,
  raKeepDataPosOrRowNum = 3,
};

// The transaction event codes sent to the transaction links.
enum : uint8_t {
  tetBeforeAssignment = 0,
  tetAfterAssignment = 1,
  tetBeforeStart = 2,
  tetAfterStart = 3,
  tetBeforeCommit = 4,
  tetAfterCommit = 5,
  tetBeforeCommitRetaining = 6,
  tetAfterCommitRetaining = 7,
  tetAfterSavePoint = 9,
  tetBeforeRollback = 10,
  tetAfterRollback = 11,
  tetBeforeRollbackRetaining = 12,
  tetAfterRollbackRetaining = 13,
  tetAfterLosePoint = 15,
  tetBeforeEnd = 16,
  tetAfterEnd = 17,
  tetStateChanged = 20,
};

// What a statement (and a dataset) put off while its components were loading: a prepare
// and an open that wait for the connection. The statement engine implements it; a
// connection made after loading runs every statement's pending prepare, then every
// dataset's pending open.
class IB_DeferredStatementWork {
 public:
  virtual ~IB_DeferredStatementWork() = default;
  virtual void CheckPendingPrepare() = 0;
  virtual void CheckPendingOpen() {}
};

// What a transaction's ending asks of each dataset of its list. The statement engine's
// dataset implements it and joins the list through TIB_Transaction::AddDataset.
class IB_TransactionDataset {
 public:
  virtual ~IB_TransactionDataset() = default;
  virtual TIB_Component* DatasetComponent() = 0;
  virtual TIB_Transaction* DatasetTransaction() = 0;
  virtual TIB_Connection* DatasetConnection() = 0;
  // In dstEdit, dstInsert or dstDelete; and in dstInsert alone.
  virtual bool IsEditing() = 0;
  virtual bool IsInserting() = 0;
  virtual bool CachedUpdates() = 0;
  // A buffered dataset (it can apply, commit and cancel cached updates).
  virtual bool IsBuffered() = 0;
  virtual TIB_CommitAction CommitAction() = 0;
  virtual TIB_RefreshAction RefreshAction() = 0;
  // Its server cursor is open.
  virtual bool CursorIsOpen() = 0;
  virtual bool GetIsOpen() = 0;
  virtual bool GetActive() = 0;
  virtual bool GetUnidirectional() = 0;
  virtual bool GetReadOnly() = 0;
  // The low five bits record posted inserts, deletes, edits and a refresh.
  virtual uint8_t WorkFlags() = 0;
  virtual void SetWorkFlags(uint8_t Value) = 0;
  virtual bool RowLocked() = 0;
  // Clears the row-lock flag (the transaction lowers its count itself).
  virtual void ClearRowLock() = 0;
  // The dataset of its MasterSource; nullptr when none.
  virtual IB_TransactionDataset* MasterDataset() = 0;
  virtual void SysPost() = 0;
  virtual void SysCancel() = 0;
  virtual void Close() = 0;
  virtual void Refresh() = 0;
  virtual void RefreshAll() = 0;
  virtual void FetchAll() = 0;
  virtual void ApplyUpdates() = 0;
  virtual void CommitUpdates() = 0;
  virtual void CancelUpdates() = 0;
  // The DML cache: what the dataset takes part in (its DMLCacheFlags), its handling of
  // a change another dataset announced, and whether it is an internal statement that
  // serves another dataset (which never receives).
  virtual uint8_t DMLCacheFlags() { return 0; }
  virtual void DoDMLCacheReceivedItem(const TIB_DMLCacheItem& /*Item*/) {}
  virtual bool ServesAnotherDataset() { return false; }
  // What the time-out handling asks: fetch for at most Ticks milliseconds, the rows the
  // dataset's buffer holds, and whether a fetch with progress callbacks runs.
  virtual void SysFetchAll(uint32_t /*Ticks*/) { FetchAll(); }
  virtual int32_t BufferRowCount() { return 0; }
  virtual bool FetchingWithCallbacks() { return false; }
};

// The limits of the time-out handling, in time-out units of 1/88400 of a day.
class TIB_TimeoutProps : public TPersistent {
 public:
  uint16_t AllowCheckOAT = 120;
  uint16_t Attempt = 1200;
  int32_t AttemptMaxRows = 5000;
  uint16_t AttemptTicks = 150;
  uint16_t AttemptRetry = 5;
  uint16_t NextAttempt = 900;
  uint32_t PromptUser = 0;
  uint16_t PromptUserDuration = 15;
  uint16_t PromptUserRetry = 60;
  uint16_t NextPromptUser = 0;
  uint32_t ForceClosed = 0;
  bool DisableCheckOATFromError = false;

  // Copies every limit and both "next" values, not DisableCheckOATFromError.
  void Assign(TPersistent* Source) override;
};

constexpr double IB_TimeoutUnitsPerDay = 88400.0;

using TIB_TransactionEvent = std::function<void(TIB_Transaction* Sender)>;
// May append items to Buffer (TPBSize bytes) from BufInd on and advance BufInd.
using TIB_CustomizeTPBEvent = std::function<void(TIB_Transaction* Sender,
                                                 TIB_Connection* AConnection,
                                                 int32_t& BufInd, char* Buffer)>;
using TIB_TransactionCanPauseEvent =
    std::function<void(TIB_Transaction* Sender, bool& AllowPause)>;

// One server transaction over one or more connections, started on demand with
// isc_start_multiple and ended by commit or rollback or their retaining forms.
class TIB_Transaction : public TIB_Component {
 public:
  explicit TIB_Transaction(TComponent* Owner);
  ~TIB_Transaction() override;

  // --- State
  // Started while the transaction handle is not 0.
  bool GetStarted() const { return tr_handle_ != 0; }
  isc_tr_handle* GetTrHandlePtr() { return &tr_handle_; }
  TIB_TransactionState State() const { return state_; }
  // The explicit flag.
  bool InTransaction() const { return explicit_; }
  bool ConnectionLost() const { return connection_lost_; }
  // Set by a connection found dead.
  void MarkConnectionLost() { connection_lost_ = true; }
  bool Closing() const { return closing_; }
  bool AttemptCommit() const { return attempt_commit_; }
  int32_t PostPendingCount() const { return post_pending_; }
  int32_t CachedUpdatesPendingCount() const { return cached_pending_; }
  int32_t OpenCursorCount() const { return open_cursors_; }
  int32_t RowLockCount() const { return row_locks_; }
  void AdjustOpenCursorCount(int32_t Delta);
  void AdjustRowLockCount(int32_t Delta);
  bool HasPendingWork() const;
  // Now − start time while started, else 0 (days).
  double GetTimeActive() const;

  // --- Public operations
  void StartTransaction();
  void Commit();
  void CommitRetaining();
  void SavePoint();
  void LosePoint();
  void Rollback();
  void RollbackRetaining();
  // Ends whatever the transaction holds: an implicit AutoCommit transaction is
  // committed, anything else rolled back.
  virtual void Close();
  void SetStarted(bool Value);
  // Starts the server transaction when needed; returns GetStarted.
  bool EnsureStarted();
  // A statement changed data in the started transaction.
  void Activate();
  void AdjustPostPendingCount(int32_t Delta);
  void AdjustCachedUpdatesPendingCount(int32_t Delta);
  void SysBeforeExecDDL() {}
  void SysAfterExecDDL() {}
  // Ends an idle read-committed transaction older than AllowCheckOAT on the server;
  // never raises.
  void CheckOAT();

  // --- Ending (also used by COMMIT and ROLLBACK statements)
  void SysCommit(bool Refresh);
  void SysRollback(bool Refresh);
  void SysCommitRetaining(bool IsSavePoint);
  void SysRollbackRetaining(bool IsLosePoint);
  void SysEndRetaining(bool Commit, bool IsPoint);
  void PostAllDatasets();
  void CancelAllDatasets();
  // Applies the cached updates of ADatasets (all buffered datasets of the transaction,
  // details first, when empty) in an explicit transaction and commits; any failure
  // rolls back and is raised again.
  void ApplyUpdates(const std::vector<IB_TransactionDataset*>& ADatasets);
  void CancelUpdates(const std::vector<IB_TransactionDataset*>& ADatasets);
  // Asks whether pending work is kept (1), the user cancelled (2) or it failed (3).
  uint8_t ConfirmClose();

  // --- DML cache (IB_Components_dmlcache.h)
  TIB_TransactionDMLCache* DMLCache() const { return dml_cache_.get(); }
  // A dataset announces its posted change (ADataset nullptr: an announcement on behalf
  // of the connection, delivered at once to its read-committed transactions).
  void AddDMLCacheItem(TIB_Connection* AConnection, IB_TransactionDataset* ADataset,
                       const AnsiString& AKeyFieldNames, const Variant& AKeyFieldValues,
                       TIB_DMLCacheItemType AItemType);

  // --- Connections
  int32_t Get_ConnectionCount() const { return static_cast<int32_t>(connection_links_.size()); }
  TIB_Connection* GetConnection(int32_t Index) const;
  int32_t IndexOfConnection(TIB_Connection* AConnection) const;
  void AddConnection(TIB_Connection* AConnection);
  virtual void RemoveConnection(TIB_Connection* AConnection);
  void RemoveAllConnections();
  virtual TIB_Connection* GetIB_Connection() const { return GetConnection(0); }
  TIB_Connection* GetIB_Connection1() const { return GetConnection(1); }
  TIB_Connection* GetIB_Connection2() const { return GetConnection(2); }
  TIB_Connection* IB_Connection() const { return GetIB_Connection(); }
  virtual void SetIB_Connection(TIB_Connection* Value) { SetConnectionAt(0, Value); }
  void SetIB_Connection1(TIB_Connection* Value) { SetConnectionAt(1, Value); }
  void SetIB_Connection2(TIB_Connection* Value) { SetConnectionAt(2, Value); }

  // --- Statements, datasets, links (kept by them)
  void AddStatement(TIB_Component* Statement);
  void RemoveStatement(TIB_Component* Statement);
  int32_t Get_StatementCount() const { return static_cast<int32_t>(statements_.size()); }
  TIB_Component* GetStatement(int32_t Index) const;
  void AddDataset(IB_TransactionDataset* Dataset);
  void RemoveDataset(IB_TransactionDataset* Dataset);
  int32_t Get_DatasetCount() const { return static_cast<int32_t>(datasets_.size()); }
  IB_TransactionDataset* GetDataset(int32_t Index) const;
  void AddTransactionLink(TIB_TransactionLink* Link);
  void RemoveTransactionLink(TIB_TransactionLink* Link);
  int32_t Get_TransactionLinkCount() const { return static_cast<int32_t>(links_.size()); }
  // Every transaction link, in list order.
  void ProcessLinkEvent(uint8_t Code);

  // --- Properties
  void SetIB_Session(TIB_Session* Value) override;
  bool AnnouncesFocus() const override { return announce_focus_; }
  bool AnnounceFocus() const { return announce_focus_; }
  virtual void SetAnnounceFocus(bool Value);
  // Makes this the session's focused transaction.
  virtual void SetFocus();
  void DoGainFocus() override;
  void DoLoseFocus() override;
  virtual bool GetAutoCommit() const { return auto_commit_ || server_auto_commit_; }
  bool AutoCommit() const { return GetAutoCommit(); }
  virtual bool IsAutoCommitStored() const { return GetAutoCommit() && !server_auto_commit_; }
  virtual void SetAutoCommit(bool Value);
  bool ServerAutoCommit() const { return server_auto_commit_; }
  virtual void SetServerAutoCommit(bool Value);
  bool ReadOnly() const { return read_only_; }
  void SetReadOnly(bool Value);
  TIB_Isolation Isolation() const { return isolation_; }
  void SetIsolation(TIB_Isolation Value);
  bool RecVersion() const { return rec_version_; }
  void SetRecVersion(bool Value);
  bool LockWait() const { return lock_wait_; }
  void SetLockWait(bool Value);
  int16_t TPBSize() const { return tpb_size_; }
  TIB_StringList* ConfirmCancelPrompt() const { return confirm_cancel_prompt_.get(); }
  void SetConfirmCancelPrompt(const TStrings* Value);
  TIB_StringList* ConfirmClosePrompt() const { return confirm_close_prompt_.get(); }
  void SetConfirmClosePrompt(const TStrings* Value);
  TIB_TimeoutProps* TimeoutProps() const { return timeout_props_.get(); }
  void SetTimeoutProps(TIB_TimeoutProps* Value) {
    if (Value != nullptr) timeout_props_->Assign(Value);
  }

  // --- Session timer: wanted while started. Each visit checks the transaction's age
  // against its TimeoutProps (IB_Components_timeouts.cpp).
  bool WantsSessionTimer() override;
  void DoSessionTimer(bool& IsDone, bool& IsWaiting, bool& Terminate) override;
  // Fetches the open cursors of an idle read-committed transaction so that it can end.
  void SysTimeoutAttempt(bool& IsDone);
  void SysTimeoutPromptUser();

  // --- Events
  TIB_TransactionEvent BeforeStart, AfterStart, BeforeCommit, AfterCommit,
      BeforeCommitRetaining, AfterCommitRetaining, BeforeSavePoint, AfterSavePoint,
      BeforeLosePoint, AfterLosePoint, BeforeRollbackRetaining, AfterRollbackRetaining,
      BeforeRollback, AfterRollback, BeforeEnd, AfterEnd, OnGainFocus, OnLoseFocus,
      OnPauseChanged, OnTimeoutPromptUser;
  TIB_CustomizeTPBEvent OnCustomizeTPB;
  TIB_TransactionCanPauseEvent OnGetCanPause;

 protected:
  void SetState(TIB_TransactionState NewState);
  void ResetState(bool AllowNone);
  void UpdateStateFromCounts();
  void DoStateChanged() { ProcessLinkEvent(tetStateChanged); }
  void SysBeforeStart();
  void SysAfterStart();
  void SysStartAborted();
  void SysBeforeEnd();
  void SysAfterEnd();
  bool SysCommitBegin(bool Refresh);
  void SysCommitEnd(bool Refresh);
  bool SysRollbackBegin(bool Refresh);
  void SysRollbackEnd(bool Refresh);
  void SysEndFinish(bool Commit, bool Refresh);
  void DatasetEndPass(bool Before, bool IsCommit, bool Refresh);
  void API_Start();
  void API_Commit();
  void API_CommitRetaining();
  void API_Rollback();
  void API_RollbackRetaining();
  bool CheckConnectionLost();
  void DoCustomizeTPB(TIB_Connection* AConnection, int32_t& BufInd, char* Buffer);
  // The DML cache of posted changes: announced after a commit, dropped after a rollback.
  virtual void FlushDMLCache(bool Announce);
  void ConnectionLinkEvent(TIB_ConnectionLink* Link, TIB_ConnectionEventType Event);
  void SetConnectionAt(int32_t Position, TIB_Connection* Value);
  bool IsDestroying() const { return ComponentState().Contains(csDestroying); }
  // One of the connections is being destroyed.
  bool ConnectionGoing() const;
  void Fire(const TIB_TransactionEvent& Event);
  // Raises "Nemohu změnit hodnotu ... po nastartování" while started (after CheckOAT).
  void CheckNotStarted(TIB_Msg Msg);

  isc_tr_handle tr_handle_ = 0;
  TIB_TransactionState state_ = tsNone;
  bool announce_focus_ = false;
  bool auto_commit_ = false;
  bool server_auto_commit_ = false;
  bool read_only_ = false;
  TIB_Isolation isolation_ = tiCommitted;
  bool rec_version_ = true;
  bool lock_wait_ = false;
  int16_t tpb_size_ = 1024;
  bool explicit_ = false;
  bool closing_ = false;
  bool attempt_commit_ = false;
  bool connection_lost_ = false;
  int32_t post_pending_ = 0;
  int32_t cached_pending_ = 0;
  int32_t open_cursors_ = 0;
  int32_t row_locks_ = 0;
  double start_time_ = 0;

 private:
  std::vector<TIB_ConnectionLink*> connection_links_;
  std::vector<TIB_Component*> statements_;
  std::vector<IB_TransactionDataset*> datasets_;
  std::vector<TIB_TransactionLink*> links_;
  std::unique_ptr<TIB_StringList> confirm_cancel_prompt_;
  std::unique_ptr<TIB_StringList> confirm_close_prompt_;
  std::unique_ptr<TIB_TimeoutProps> timeout_props_;
  std::unique_ptr<TIB_TransactionDMLCache> dml_cache_;
};

// A transaction preset for automatic use: AutoCommit, read committed, announcing its
// focus.
class TIB_TransactionDefault : public TIB_Transaction {
 public:
  explicit TIB_TransactionDefault(TComponent* Owner) : TIB_TransactionDefault(Owner, true) {}

 protected:
  TIB_TransactionDefault(TComponent* Owner, bool AnnounceFocus);
};

// A read-only default transaction (the schema cache's). It never takes the session's
// focus: a connection's metadata reads must not steal it from the application's
// transaction.
class TIB_TransactionInternal : public TIB_TransactionDefault {
 public:
  explicit TIB_TransactionInternal(TComponent* Owner);
};

// --- Transaction link -------------------------------------------------------------------------

using TIB_TransactionLinkEvent =
    std::function<void(TIB_TransactionLink* Sender, TIB_Transaction* ATransaction)>;
using TIB_TransactionLinkProcessEvent =
    std::function<void(TIB_TransactionLink* Sender, uint8_t Event)>;

// Through a link a component follows one transaction and hears every event code of it.
class TIB_TransactionLink : public TIB_Component {
 public:
  explicit TIB_TransactionLink(TComponent* Owner);
  ~TIB_TransactionLink() override;

  TIB_Transaction* IB_Transaction() const { return transaction_; }
  // The transaction being assigned (kept after the change).
  TIB_Transaction* IncomingTransaction() const { return incoming_; }
  // Event 0 while still on the old transaction, 1 on the new one; nothing when unchanged.
  void SetIB_Transaction(TIB_Transaction* Value);
  virtual void ProcessEvent(uint8_t Event);
  bool GetStarted() const { return transaction_ != nullptr && transaction_->GetStarted(); }
  bool ReceiveFocus() const { return receive_focus_; }
  void SetReceiveFocus(bool Value);
  void DoReceiveFocus(TIB_Component* Focused) override;
  void SetIB_Session(TIB_Session* Value) override;
  void Loaded() override;

  TIB_TransactionLinkProcessEvent OnProcessEvent;
  TIB_TransactionLinkEvent OnReceiveFocus;

 private:
  TIB_Transaction* transaction_ = nullptr;
  TIB_Transaction* incoming_ = nullptr;
  bool receive_focus_ = false;
};

// --- Database component -----------------------------------------------------------------------

// A connection with its own default transaction (named "tr" + its name), whose
// transaction properties and events it forwards.
class TIB_Database : public TIB_Connection {
 public:
  explicit TIB_Database(TComponent* Owner);
  ~TIB_Database() override;

  void SetName(const AnsiString& Value) override;
  void SetAnnounceFocus(bool Value) override;
  void SetFocus() override;
  // Only nil or the default transaction itself; anything else raises.
  void SetDefaultTransaction(TIB_Transaction* Value) override;
  // The streamed "TransIsolation" of older descriptions (an identifier).
  void ReadTransIsolation(const AnsiString& Identifier);
  // Makes a TIB_TransactionDefault owned by AOwner; descendants may make another kind.
  virtual TIB_Transaction* CreateDefaultTransaction(TComponent* AOwner);

 protected:
  // Frees the default transaction and makes it again through CreateDefaultTransaction.
  // The constructor makes the first one with this class's CreateDefaultTransaction; a
  // descendant that overrides it calls this from its own constructor.
  void RecreateDefaultTransaction();

 public:

  TIB_Transaction* Transaction() const { return DefaultTransaction(); }
  bool GetAutoCommit() const { return Transaction()->GetAutoCommit(); }
  void SetAutoCommit(bool V) { Transaction()->SetAutoCommit(V); }
  bool ReadOnly() const { return Transaction()->ReadOnly(); }
  void SetReadOnly(bool V) { Transaction()->SetReadOnly(V); }
  TIB_Isolation Isolation() const { return Transaction()->Isolation(); }
  void SetIsolation(TIB_Isolation V) { Transaction()->SetIsolation(V); }
  bool RecVersion() const { return Transaction()->RecVersion(); }
  void SetRecVersion(bool V) { Transaction()->SetRecVersion(V); }
  bool LockWait() const { return Transaction()->LockWait(); }
  void SetLockWait(bool V) { Transaction()->SetLockWait(V); }
  TIB_TimeoutProps* TimeoutProps() const { return Transaction()->TimeoutProps(); }
  void SetTimeoutProps(TIB_TimeoutProps* V) { Transaction()->SetTimeoutProps(V); }
  int32_t _TransactionLinkCount() const { return Transaction()->Get_TransactionLinkCount(); }
  // The default transaction's session-timer handler (called with the transaction).
  void SetOnSessionTimer(TIB_SessionTimerEvent Handler) {
    Transaction()->SetOnSessionTimer(std::move(Handler));
  }

  // The forwarded events, read and written whole.
#define PELVAR_IB_DB_EVENT(Name)                                                         \
  const TIB_TransactionEvent& Name() const { return Transaction()->Name; }              \
  void Set##Name(TIB_TransactionEvent V) { Transaction()->Name = std::move(V); }
  PELVAR_IB_DB_EVENT(BeforeStart)
  PELVAR_IB_DB_EVENT(AfterStart)
  PELVAR_IB_DB_EVENT(BeforeCommit)
  PELVAR_IB_DB_EVENT(AfterCommit)
  PELVAR_IB_DB_EVENT(BeforeCommitRetaining)
  PELVAR_IB_DB_EVENT(AfterCommitRetaining)
  PELVAR_IB_DB_EVENT(BeforeRollbackRetaining)
  PELVAR_IB_DB_EVENT(AfterRollbackRetaining)
  PELVAR_IB_DB_EVENT(BeforeRollback)
  PELVAR_IB_DB_EVENT(AfterRollback)
  PELVAR_IB_DB_EVENT(BeforeEnd)
  PELVAR_IB_DB_EVENT(AfterEnd)
#undef PELVAR_IB_DB_EVENT

};

}  // namespace pelvar
