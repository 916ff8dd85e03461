#include "dbclient/IB_Session.h"

#include <langinfo.h>
#include <strings.h>

#include <clocale>
#include <cstring>

#include "platform/sysutils.h"

namespace pelvar {

// --- Library binding ---------------------------------------------------------------------

HMODULE ClientLibraryHandle = nullptr;
TIB_ClientEntryPoints ClientEntryPoints;
TIB_ClientCallTable ClientCallTable;
TClientLibraryNameHook ClientLibraryNameHook = nullptr;

void EmptyMonitorOutput(const AnsiString&) {}

bool IsMonitorHooked() {
  return ClientCallTable.MonitorOutputHook != nullptr &&
         ClientCallTable.MonitorOutputHook != &EmptyMonitorOutput;
}

bool ClientLibraryHeld() { return ClientLibraryHandle != nullptr; }

void ClearClientTables() {
  ClientEntryPoints = TIB_ClientEntryPoints{};
  ClientCallTable = TIB_ClientCallTable{};
}

namespace {

// The client library reads file names in the character set of the process's LC_CTYPE
// and turns them into UTF-8; this library hands it UTF-8 names, so that category must
// be a UTF-8 one before the library first converts a name. A process that never set
// its locale (the C locale) gets the UTF-8 variant of it; another UTF-8 locale stays.
void EnsureUtf8FileNames() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset != nullptr &&
      (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "utf8") == 0)) {
    return;
  }
  if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) {
    std::setlocale(LC_CTYPE, "C.utf8");
  }
}

}  // namespace

bool LoadClientModule(const AnsiString& Name) {
  EnsureUtf8FileNames();
  TFpuControlWordGuard guard;
  ClientLibraryHandle = LoadLibrary(Name);
  return ClientLibraryHandle != nullptr;
}

void BindEntryPoint(void*& Entry, const char* Name) {
  Entry = GetProcAddress(ClientLibraryHandle, Name);
  if (Entry == nullptr) {
    throw EIB_Error(Format(IB_Message(TIB_Msg::DllImportNotFound), {Name}));
  }
}

namespace {

// Substitutes for optional entry points the library lacks: each raises its fixed text.
template <const char* Text, class Entry>
struct NotImplementedStub;
template <const char* Text, class Result, class... Params>
struct NotImplementedStub<Text, Result (*)(Params...)> {
  static Result Call(Params...) { throw EIB_Error(AnsiString(Text)); }
};

constexpr char kServiceAttachText[] = "isc_service_attach() not implemented";
// The detach text is spelled this way on purpose: callers and users know it so.
constexpr char kServiceDetachText[] = "isc_service_dettach() not implemented";
constexpr char kServiceQueryText[] = "isc_service_query() not implemented";
constexpr char kServiceStartText[] = "isc_service_start() not implemented";
constexpr char kAddUserText[] = "isc_add_user() not implemented";
constexpr char kDeleteUserText[] = "isc_delete_user() not implemented";
constexpr char kModifyUserText[] = "isc_modify_user() not implemented";
constexpr char kPortableIntegerText[] = "isc_portable_integer() not implemented";

template <class Entry>
void Optional(Entry& entry, const char* name) {
  entry = reinterpret_cast<Entry>(GetProcAddress(ClientLibraryHandle, name));
}

}  // namespace

void InstallOptionalEntryStubs(TIB_ClientEntryPoints& t) {
  if (!t.isc_service_attach) {
    t.isc_service_attach = &NotImplementedStub<kServiceAttachText, Tisc_service_attach>::Call;
  }
  if (!t.isc_service_detach) {
    t.isc_service_detach = &NotImplementedStub<kServiceDetachText, Tisc_service_detach>::Call;
  }
  if (!t.isc_service_query) {
    t.isc_service_query = &NotImplementedStub<kServiceQueryText, Tisc_service_query>::Call;
  }
  if (!t.isc_service_start) {
    t.isc_service_start = &NotImplementedStub<kServiceStartText, Tisc_service_start>::Call;
  }
  if (!t.isc_add_user) {
    t.isc_add_user = &NotImplementedStub<kAddUserText, Tisc_add_user>::Call;
  }
  if (!t.isc_delete_user) {
    t.isc_delete_user = &NotImplementedStub<kDeleteUserText, Tisc_delete_user>::Call;
  }
  if (!t.isc_modify_user) {
    t.isc_modify_user = &NotImplementedStub<kModifyUserText, Tisc_modify_user>::Call;
  }
  if (!t.isc_portable_integer) {
    t.isc_portable_integer =
        &NotImplementedStub<kPortableIntegerText, Tisc_portable_integer>::Call;
  }
}

void LoadClientLibrary() {
  if (!ClientLibraryHeld()) {
    AnsiString name;
    if (ClientLibraryNameHook != nullptr) {
      ClientLibraryNameHook(name);
    }
    if (!name.empty()) {
      // The application's choice is final: no other file is tried.
      if (!LoadClientModule(name)) {
        return;
      }
    } else if (!LoadClientModule(IB_DefaultClientLibrary1) &&
               !LoadClientModule(IB_DefaultClientLibrary2)) {
      return;
    }
  }

  // The guard also restores the control word when a missing entry point raises.
  TFpuControlWordGuard guard;
#define PELVAR_IB_BIND(name, result, params)             \
  {                                                      \
    void* address = nullptr;                             \
    BindEntryPoint(address, #name);                      \
    ClientEntryPoints.name = reinterpret_cast<T##name>(address); \
  }
  PELVAR_IB_MANDATORY_ENTRY_POINTS(PELVAR_IB_BIND)
#undef PELVAR_IB_BIND
#define PELVAR_IB_BIND_OPTIONAL(name, result, params) Optional(ClientEntryPoints.name, #name);
  PELVAR_IB_OPTIONAL_ENTRY_POINTS(PELVAR_IB_BIND_OPTIONAL)
#undef PELVAR_IB_BIND_OPTIONAL
  InstallOptionalEntryStubs(ClientEntryPoints);
}

void EnsureClientAPI() {
  if (ClientCallTable.isc_attach_database == nullptr) {
    LoadClientLibrary();
  }
  static_cast<TIB_ClientEntryPoints&>(ClientCallTable) = ClientEntryPoints;
  ClientCallTable.MonitorOutputHook = &EmptyMonitorOutput;
}

void UnloadClientLibrary() {
  if (ClientLibraryHeld()) {
    FreeLibrary(ClientLibraryHandle);
  }
  ClientLibraryHandle = nullptr;
  ClearClientTables();
}

// --- Unit state ------------------------------------------------------------------------------

namespace {

int32_t unit_ref_count = 0;
uint32_t default_session_slot = TLS_OUT_OF_INDEXES;

}  // namespace

TRTLCriticalSection& ProcessCriticalSection() {
  // Made on first use, so that it exists whichever unit takes the first reference.
  static TRTLCriticalSection section;
  return section;
}

void UnitRefAcquire() {
  if (InterlockedIncrement(unit_ref_count) == 1) {
    default_session_slot = TlsAlloc();
    InitializeCriticalSection(ProcessCriticalSection());
  }
}

void UnitRefRelease() {
  if (InterlockedDecrement(unit_ref_count) == 0) {
    DeleteCriticalSection(ProcessCriticalSection());
    UnloadClientLibrary();
    if (default_session_slot != TLS_OUT_OF_INDEXES) {
      TlsFree(default_session_slot);
      default_session_slot = TLS_OUT_OF_INDEXES;
    }
  }
}

int32_t UnitRefCount() { return unit_ref_count; }

uint32_t DefaultSessionSlot() { return default_session_slot; }

namespace {

// The unit's own reference, taken at start-up and kept to the end of the process: the
// client library stays loaded while the program runs, and the process's end releases
// it. (Unloading it from a static destructor would run its tear-down after parts of
// the program are gone.)
struct TIB_SessionUnit {
  TIB_SessionUnit() { UnitRefAcquire(); }
} session_unit;

}  // namespace

bool IsLostConnectionCode(int32_t Code) {
  // An attachment the server has shut (deleted by an administrator, or its database
  // shut down) is as dead as one whose network went away.
  return Code == isc_shutdown || (Code >= isc_network_error && Code <= isc_net_write_err) ||
         Code == isc_lost_db_connection || Code == isc_att_shutdown;
}

// --- Exceptions -----------------------------------------------------------------------

EIB_Error::EIB_Error(TComponent* Sender, const AnsiString& Message)
    : Exception(Message.substr(0, 255)), sender_(Sender) {}

namespace {

AnsiString CutISCMessage(const AnsiString& m) {
  return m.size() <= 255 ? m : m.substr(0, 250) + "(...)";
}

std::shared_ptr<TStringList> CopyList(const TStringList* source) {
  auto list = std::make_shared<TStringList>();
  if (source != nullptr) {
    list->AddStrings(source);
  }
  return list;
}

}  // namespace

EIB_ISCError::EIB_ISCError(TComponent* Sender, const AnsiString& Message, int32_t ERRCODE,
                           const TStringList* ErrorMessage, const TStringList* ErrorCodes,
                           int32_t SQLCODE, const TStringList* SQLMessage, const TStringList* SQL)
    : EIB_Error(Sender, CutISCMessage(Message), Uncut{}),
      errcode_(ERRCODE),
      sqlcode_(SQLCODE),
      error_message_(CopyList(ErrorMessage)),
      error_codes_(CopyList(ErrorCodes)),
      sql_message_(CopyList(SQLMessage)),
      sql_(CopyList(SQL)) {}

// --- Session base -------------------------------------------------------------------------

TIB_SessionBase::TIB_SessionBase(TComponent* Owner) : TComponent(Owner) {}

TIB_SessionBase::~TIB_SessionBase() = default;

void TIB_SessionBase::HandleError(TComponent* Sender, int32_t ERRCODE,
                                  TStringList* ErrorMessage, TStringList* ErrorCodes,
                                  int32_t SQLCODE, TStringList* SQLMessage, TStringList* SQL,
                                  bool& RaiseException) {
  if (on_error_) {
    on_error_(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
              RaiseException);
  }
}

bool TIB_SessionBase::ProcessMessages() { return true; }

void TIB_SessionBase::WriteToMonitor(const AnsiString& Text) {
  if (ClientCallTable.MonitorOutputHook != nullptr) {
    ClientCallTable.MonitorOutputHook(Text);
  }
}

namespace {

constexpr size_t kMessageBufferSize = 4096;

// A list's lines joined by CR LF, every line break inside a line made CR LF too, trimmed.
AnsiString MonitorBlock(const TStringList& list) {
  const AnsiString text = list.Text();
  AnsiString adjusted;
  adjusted.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      adjusted += "\r\n";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
    } else {
      adjusted += c;
    }
  }
  return Trim(adjusted);
}

}  // namespace

void TIB_SessionBase::HandleException(TComponent* Sender) {
  if (ClientCallTable.isc_interprete == nullptr) {
    throw EIB_Error(IB_Message(TIB_Msg::ClientNotInstalled));
  }
  bool raise = last_result_ != 0;
  TStringList error_message;
  TStringList error_codes;
  TStringList sql_message;
  TStringList sql;

  error_message.Add(IB_Message(TIB_Msg::IscErrorCode) + IntToStr(last_result_));
  error_message.Add("");
  error_message.Add(IB_Message(TIB_Msg::IscErrorMessage));

  // One message line per pass; the codes list gets the vector's words 1, 2, 3 …, one
  // per pass, and never a word beyond the vector.
  // The buffer is not cleared between passes: the last pass, which finds the end of
  // the vector, leaves it as it was, so its line equals the previous one.
  char buffer[kMessageBufferSize];
  buffer[0] = '\0';
  const ISC_STATUS* read = status_;
  AnsiString previous;
  int k = 0;
  ISC_LONG more = 0;
  do {
    if (ClientCallTable.fb_interpret != nullptr) {
      more = CallClient(ClientCallTable.fb_interpret, buffer,
                        static_cast<unsigned int>(sizeof buffer), &read);
    } else {
      ISC_STATUS* writable = const_cast<ISC_STATUS*>(read);
      more = CallClient(ClientCallTable.isc_interprete, buffer, &writable);
      read = writable;
    }
    buffer[sizeof buffer - 1] = '\0';
    ++k;
    const AnsiString line = Trim(buffer);
    if (line != previous) {
      previous = line;
      error_message.Add(line);
    }
    if (k < ISC_STATUS_LENGTH) {
      error_codes.Add(IntToStr(static_cast<int64_t>(status_[k])));
    }
  } while (more != 0 && k < ISC_STATUS_LENGTH);

  sqlcode_ = CallClient(ClientCallTable.isc_sqlcode, status_);
  if (sqlcode_ != 0 && sqlcode_ != -999) {
    buffer[0] = '\0';
    CallClient(ClientCallTable.isc_sql_interprete, static_cast<short>(sqlcode_), buffer,
               static_cast<short>(sizeof buffer));
    buffer[sizeof buffer - 1] = '\0';
    const AnsiString text = Trim(buffer);
    if (!text.empty()) {
      sql_message.Add(IB_Message(TIB_Msg::SqlErrorCode) + IntToStr(sqlcode_));
      sql_message.Add("");
      sql_message.Add(IB_Message(TIB_Msg::SqlErrorMessage));
      sql_message.Add(text);
    }
  }

  // An exception raised by a stored procedure or trigger shows the user's own text,
  // which follows the lines with the exception's number and name.
  AnsiString text;
  if (sqlcode_ == -836 && error_message.Count() >= 5) {
    text = error_message.Count() >= 6 ? error_message.Strings(5) : error_message.Strings(4);
  }
  if (text.empty()) {
    text = error_message.Text();
  }

  const int32_t errcode = static_cast<int32_t>(last_result_);
  HandleError(Sender, errcode, &error_message, &error_codes, sqlcode_, &sql_message, &sql,
              raise);

  if (IsMonitorHooked()) {
    AnsiString monitor = "//>>> ERROR <<<//\r\n" + MonitorBlock(error_message);
    if (sql_message.Count() > 0) {
      monitor += "\r\n\r\n//>>> SQL MESSAGE <<<//\r\n" + MonitorBlock(sql_message);
    }
    if (sql.Count() > 0) {
      monitor += "\r\n\r\n//>>> SQL <<<//\r\n" + MonitorBlock(sql);
    }
    WriteToMonitor(monitor);
  }

  if (raise) {
    throw EIB_ISCError(Sender, text, errcode, &error_message, &error_codes, sqlcode_,
                       &sql_message, &sql);
  }
}

}  // namespace pelvar
