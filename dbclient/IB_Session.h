// The binding of the client library (loaded at run time, its entry points kept in a
// call table), the library's exception classes, and the session base class whose
// status vector every client-library call uses and which turns a failed call into an
// EIB_ISCError.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_Header.h"
#include "platform/checked.h"
#include "platform/classes.h"
#include "platform/exceptions.h"
#include "platform/oslayer.h"

namespace pelvar {

// --- Entry-point tables ------------------------------------------------------------------

// One pointer per entry point, mandatory ones first.
struct TIB_ClientEntryPoints {
#define PELVAR_IB_ENTRY_FIELD(name, result, params) T##name name = nullptr;
  PELVAR_IB_MANDATORY_ENTRY_POINTS(PELVAR_IB_ENTRY_FIELD)
  PELVAR_IB_OPTIONAL_ENTRY_POINTS(PELVAR_IB_ENTRY_FIELD)
#undef PELVAR_IB_ENTRY_FIELD
};

constexpr int IB_MandatoryEntryPointCount = 64;
constexpr int IB_OptionalEntryPointCount = 10;

// Receives every monitor text; the empty procedure means no monitor is installed.
using TMonitorOutputHook = void (*)(const AnsiString& Text);
void EmptyMonitorOutput(const AnsiString& Text);

// What all library code calls through: the entry points again, plus the monitor hook.
struct TIB_ClientCallTable : TIB_ClientEntryPoints {
  TMonitorOutputHook MonitorOutputHook = nullptr;
};

// The module handle of the loaded client library; nullptr when none is held.
extern HMODULE ClientLibraryHandle;
// Filled by LoadClientLibrary straight from the library.
extern TIB_ClientEntryPoints ClientEntryPoints;
extern TIB_ClientCallTable ClientCallTable;

// The application's choice of the client library's file name.
using TClientLibraryNameHook = void (*)(AnsiString& LibName);
extern TClientLibraryNameHook ClientLibraryNameHook;

// Loads and binds the library when the call table has no isc_attach_database yet, then
// copies the entry-point table into the call table and resets the monitor hook.
void EnsureClientAPI();
// Loads the library (the provider's name alone, or else "fbclient.dll" and then
// "gds32.dll") and binds its entry points. Returns silently when no library loads;
// raises EIB_Error "Nemohu nalézt DLL import %s" when a mandatory entry point is missing.
void LoadClientLibrary();
// Loads one file, the FPU control word kept; true when a library is now held.
bool LoadClientModule(const AnsiString& Name);
// Binds one mandatory entry point or raises EIB_Error "Nemohu nalézt DLL import %s".
void BindEntryPoint(void*& Entry, const char* Name);
// Frees the library when held and clears both tables.
void UnloadClientLibrary();
void ClearClientTables();
// True while a client library is held.
bool ClientLibraryHeld();
// Puts the substitute of every optional entry point that has one and is missing.
void InstallOptionalEntryStubs(TIB_ClientEntryPoints& Table);

// True when MonitorOutputHook holds anything but the empty procedure.
bool IsMonitorHooked();
// True for the codes of a shut-down database, a network failure or a lost connection.
bool IsLostConnectionCode(int32_t Code);

// Calls a client-library function with the FPU control word saved before and written
// back after.
template <class Fn, class... Args>
auto CallClient(Fn fn, Args&&... args) -> decltype(fn(std::forward<Args>(args)...)) {
  TFpuControlWordGuard guard;
  return fn(std::forward<Args>(args)...);
}

// --- Exceptions -----------------------------------------------------------------------

class EIB_Error : public Exception {
 public:
  // The message is cut to its first 255 characters.
  EIB_Error(TComponent* Sender, const AnsiString& Message);
  // The plain form: no Sender.
  explicit EIB_Error(const AnsiString& Message) : EIB_Error(nullptr, Message) {}
  TComponent* Sender() const { return sender_; }

 protected:
  struct Uncut {};
  EIB_Error(TComponent* Sender, AnsiString Message, Uncut)
      : Exception(std::move(Message)), sender_(Sender) {}

 private:
  TComponent* sender_ = nullptr;
};

#define PELVAR_IB_AREA_ERROR(Name)  \
  class Name : public EIB_Error {   \
   public:                          \
    using EIB_Error::EIB_Error;     \
  };
PELVAR_IB_AREA_ERROR(EIB_ConnectionError)
PELVAR_IB_AREA_ERROR(EIB_TransactionError)
PELVAR_IB_AREA_ERROR(EIB_StatementError)
PELVAR_IB_AREA_ERROR(EIB_DatasetError)
PELVAR_IB_AREA_ERROR(EIB_ColumnError)
#undef PELVAR_IB_AREA_ERROR

// One failed client-library call. Copies of the exception share its four lists.
class EIB_ISCError : public EIB_Error {
 public:
  // A message longer than 255 characters is cut to 250 followed by "(...)". The lists
  // are copied; nullptr stands for an empty list.
  EIB_ISCError(TComponent* Sender, const AnsiString& Message, int32_t ERRCODE,
               const TStringList* ErrorMessage, const TStringList* ErrorCodes, int32_t SQLCODE,
               const TStringList* SQLMessage, const TStringList* SQL);

  int32_t ERRCODE() const { return errcode_; }
  int32_t SQLCODE() const { return sqlcode_; }
  TStringList* ErrorMessage() const { return error_message_.get(); }
  TStringList* ErrorCodes() const { return error_codes_.get(); }
  TStringList* SQLMessage() const { return sql_message_.get(); }
  TStringList* SQL() const { return sql_.get(); }

 private:
  int32_t errcode_;
  int32_t sqlcode_;
  std::shared_ptr<TStringList> error_message_;
  std::shared_ptr<TStringList> error_codes_;
  std::shared_ptr<TStringList> sql_message_;
  std::shared_ptr<TStringList> sql_;
};

// --- Unit state ------------------------------------------------------------------------------

// The shared resources of the library (the thread-local slot of the default sessions and
// the process-wide lock) exist while at least one reference is held. The first
// reference creates them; the last one deletes the lock, unloads the client library and
// frees the slot. References are held by the library's units for the program's
// lifetime and by every library component for its own.
void UnitRefAcquire();
void UnitRefRelease();
// The number of references held.
int32_t UnitRefCount();
// The thread-local slot that holds each thread's default session; TLS_OUT_OF_INDEXES
// while the shared resources do not exist. Slot 0 is a valid slot.
uint32_t DefaultSessionSlot();
// The process-wide lock: held while a new session tests whether it runs on the main
// thread, during every attach call and while the password-scrambling registry root is
// switched. Valid while a reference is held.
TRTLCriticalSection& ProcessCriticalSection();

// --- Blob cache nodes --------------------------------------------------------------------

// One blob's or array's value held in memory. A row keeps a singly linked chain of
// them, new nodes at the head. Nodes are made value-initialised (`new
// TIB_BlobCacheNode{}`) and freed with FreeBlobNodeChain (or FreeBlobNodeBuffer and
// delete); buffers are heap blocks of ReallocBuffer (IB_Utils).
struct TIB_BlobCacheNode {
  ISC_QUAD BlobId{};             // the server's id; all zero: no stored value
  void* Buffer = nullptr;        // the data, or nullptr
  int32_t Capacity = 0;          // bytes allocated at Buffer
  int32_t Size = 0;              // bytes of data in Buffer
  bool Changed = false;          // edited in memory and not yet stored
  int16_t FieldNo = 0;           // the column's index within its row
  TIB_BlobCacheNode* Next = nullptr;
};
using PIB_BlobCacheNode = TIB_BlobCacheNode*;

// Size, BlobId, FieldNo and Changed cleared; Buffer and Capacity kept. Returns Node.
TIB_BlobCacheNode* ClearBlobNode(TIB_BlobCacheNode* Node);
// Clears the node and frees its buffer (Capacity 0).
void FreeBlobNodeBuffer(TIB_BlobCacheNode* Node);
// Frees every node of the chain with its buffer; Head ends nullptr.
void FreeBlobNodeChain(TIB_BlobCacheNode*& Head);
// The first node with Probe's blob id (when that is not zero); failing that, the first
// node with FieldNo that is also Changed when OnlyChanged. nullptr when none.
TIB_BlobCacheNode* FindBlobNode(TIB_BlobCacheNode* Head, const TIB_BlobCacheNode* Probe,
                                int16_t FieldNo, bool OnlyChanged);
// Copies (or, with Move, hands over) Source into the chain's node for it, putting a new
// node at the head when the chain has none. Returns that node.
TIB_BlobCacheNode* SaveBlobNode(TIB_BlobCacheNode*& Head, TIB_BlobCacheNode* Source, bool Move);
// Copies the chain's node for Node (same blob id or field number) into Node; false when
// the chain has none.
bool RestoreBlobNode(TIB_BlobCacheNode*& Head, bool OnlyChanged, TIB_BlobCacheNode* Node);
// Dest takes Source's id, field number, size and changed flag, and a copy of its data;
// with Move, Source's buffer itself, Source being cleared and left without a buffer.
void CopyBlobNode(TIB_BlobCacheNode* Source, TIB_BlobCacheNode* Dest, bool Move);

// --- Transfers ---------------------------------------------------------------------------

enum TIB_BlobCallbackStatus : uint8_t {
  bcsInitGet,
  bcsInitPut,
  bcsRefreshGet,
  bcsRefreshPut,
  bcsFinalGet,
  bcsFinalPut,
};

// Progress of one blob transfer: ABytes is the total at the Init calls and the bytes
// transferred so far afterwards. At bcsInitGet the handler may make the read segments
// smaller (below 1: the column's declared segment size); during a write it may change
// the segment size at every call (kept within 1 to 65535).
using TIB_BlobCallbackEvent = std::function<void(const XSQLVAR* PVAR, TIB_BlobCallbackStatus AStatus,
                                                 int32_t ABytes, int32_t& MaxSegmentSize)>;

// The row counts of the last execution of a statement; -1: not reported.
struct TIB_RowsAffected {
  int32_t SelectCount = -1;
  int32_t InsertCount = -1;
  int32_t UpdateCount = -1;
  int32_t DeleteCount = -1;
};

// Bytes of an array slice: the product of the dimensions' extents times the element
// length (two more for a varying element). Raises EIntOverflow when it does not fit.
int32_t ArraySliceSize(const ISC_ARRAY_DESC* Desc);
// The row counts of the statement's last execution (all -1 for no statement, a failed
// information call or an answer without the records item). A malformed answer raises
// EIB_Error "Chybný buffer pro RowsAffected".
void GetRowsAffected(isc_stmt_handle* StatementHandle, TIB_RowsAffected& Counts);
// The CREATE DATABASE statement: path, user and password as quoted literals; the page
// size (when at least 1024) rounded to the nearest multiple of 1024, halves upwards;
// the default character set when given. A character-set name that is not an
// identifier raises EIB_Error.
AnsiString CreateDatabaseSQL(const AnsiString& Path, const AnsiString& User,
                             const AnsiString& Password, uint16_t PageSize,
                             const AnsiString& CharSet);

// --- Session base -----------------------------------------------------------------------

// The error event: the handler may add lines to the lists and may clear RaiseException.
using TIB_ErrorEvent = std::function<void(
    TObject* Sender, int32_t ERRCODE, TStringList* ErrorMessage, TStringList* ErrorCodes,
    int32_t SQLCODE, TStringList* SQLMessage, TStringList* SQL, bool& RaiseException)>;

class TIB_SessionBase : public TComponent {
 public:
  explicit TIB_SessionBase(TComponent* Owner);
  ~TIB_SessionBase() override;

  // The status vector every client-library call of this session's components uses.
  ISC_STATUS* StatusVector() { return status_; }
  const ISC_STATUS* StatusVector() const { return status_; }
  // The return value of the most recent client-library call.
  ISC_STATUS LastResult() const { return last_result_; }
  void SetLastResult(ISC_STATUS Value) { last_result_ = Value; }
  // The SQL code of the last error handled.
  int32_t SQLCODE() const { return sqlcode_; }

  const TIB_ErrorEvent& OnError() const { return on_error_; }
  void SetOnError(TIB_ErrorEvent Handler) { on_error_ = std::move(Handler); }

  // Calls a client-library entry with this session's status vector as its first
  // argument and the FPU control word kept; stores the result as the last result and,
  // when it is not 0, hands it to HandleException with Sender. Returns the result
  // (when an error handler suppressed the exception).
  // An entry that is not bound raises "InterBase klient GDS32.DLL není nainstalován".
  template <class Fn, class... Args>
  ISC_STATUS API_Call(TComponent* Sender, Fn fn, Args&&... args) {
    if constexpr (std::is_pointer_v<Fn>) {
      if (fn == nullptr) {
        throw EIB_Error(IB_Message(TIB_Msg::ClientNotInstalled));
      }
    }
    last_result_ = CallClient(fn, status_, std::forward<Args>(args)...);
    if (last_result_ != 0) {
      HandleException(Sender);
    }
    return last_result_;
  }

  // To be called right after a call with this session's status vector failed and its
  // result was stored as the last result: builds the error lists, offers them to the
  // error events, writes the monitor text and raises EIB_ISCError unless an event
  // cleared RaiseException.
  void HandleException(TComponent* Sender);
  // Fires OnError when assigned.
  virtual void HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                           TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                           TStringList* SQL, bool& RaiseException);
  // Keeps the application responsive during long operations; true here.
  virtual bool ProcessMessages();
  // Passes Text to the monitor hook.
  void WriteToMonitor(const AnsiString& Text);

  // --- Blob and array transfers. Each returns the client library's status (0 success;
  // a blob read normally ends with isc_segstr_eof) for the caller to store and hand to
  // HandleException; none raises by itself.

  // Maximum segment, total length and number of segments of an open blob; zeros when
  // the information call fails. For a BLR column (sub-type 2) the total and the maximum
  // segment leave room for the line ends added while reading.
  void GetBlobInfo(int32_t& MaxSegment, int32_t& TotalLength, int32_t& NumSegments,
                   isc_blob_handle* BlobHandle, const XSQLVAR* PVAR);
  // By PVAR's type: a blob or an array is read into Node; any other type gives 0.
  ISC_STATUS ReadBlobOrArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, XSQLVAR* PVAR,
                             const ISC_ARRAY_DESC* ArrayDesc, TIB_BlobCacheNode* Node,
                             const TIB_BlobCallbackEvent& Callback);
  // By PVAR's type: Node is written as a new blob or array (its id goes to Node.BlobId).
  ISC_STATUS WriteBlobOrArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, XSQLVAR* PVAR,
                              const ISC_ARRAY_DESC* ArrayDesc, TIB_BlobCacheNode* Node,
                              const TIB_BlobCallbackEvent& Callback);
  // Reads the blob Node.BlobId into Node's buffer; a BLR blob (sub-type 2) is read as
  // text, each segment followed by CR LF.
  ISC_STATUS ReadBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const XSQLVAR* PVAR,
                      TIB_BlobCacheNode* Node, const TIB_BlobCallbackEvent& Callback);
  // Writes Node's data as a new blob in segments of up to 65535 bytes.
  ISC_STATUS WriteBlob(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const XSQLVAR* PVAR,
                       TIB_BlobCacheNode* Node, const TIB_BlobCallbackEvent& Callback);
  ISC_STATUS ReadArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, const XSQLVAR* PVAR,
                       const ISC_ARRAY_DESC* Desc, TIB_BlobCacheNode* Node);
  // An empty node stores NULL: PVAR's data is zeroed and its indicator set to -1.
  ISC_STATUS WriteArray(isc_db_handle* DBHandle, isc_tr_handle* TRHandle, XSQLVAR* PVAR,
                        const ISC_ARRAY_DESC* Desc, TIB_BlobCacheNode* Node);

  // Creates the database and leaves it detached; a failure is raised through
  // HandleException with the session as Sender.
  void CreateDatabase(const AnsiString& Path, const AnsiString& User, const AnsiString& Password,
                      uint16_t PageSize, const AnsiString& CharSet, uint16_t Dialect);

 protected:
  // ReadBlob of a value nobody must hear the length of first: reads the open blob to its
  // end, closes it and gives the last read's status (isc_segstr_eof when all is read).
  ISC_STATUS ReadBlobToEnd(isc_blob_handle& blob, bool blr, TIB_BlobCacheNode* Node);
  // GetBlobInfo with the status of the information call.
  ISC_STATUS BlobInfo(int32_t& MaxSegment, int32_t& TotalLength, int32_t& NumSegments,
                      isc_blob_handle* BlobHandle, const XSQLVAR* PVAR);

 public:

 private:
  ISC_STATUS_ARRAY status_{};
  ISC_STATUS last_result_ = 0;
  int32_t sqlcode_ = 0;
  TIB_ErrorEvent on_error_;
};

}  // namespace pelvar
