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

 private:
  ISC_STATUS_ARRAY status_{};
  ISC_STATUS last_result_ = 0;
  int32_t sqlcode_ = 0;
  TIB_ErrorEvent on_error_;
};

}  // namespace pelvar
