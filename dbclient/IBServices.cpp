#include "dbclient/IBServices.h"

#include <langinfo.h>
#include <strings.h>

#include <clocale>
#include <cstring>
#include <mutex>

#include "platform/checked.h"
#include "platform/codepage.h"
#include "platform/oslayer.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// --- The client library's services calls ----------------------------------------------

using TServiceAttach = ISC_STATUS (*)(ISC_STATUS*, unsigned short, const char*, isc_svc_handle*,
                                      unsigned short, const char*);
using TServiceDetach = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*);
using TServiceStart = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*,
                                     unsigned short, const char*);
using TServiceQuery = ISC_STATUS (*)(ISC_STATUS*, isc_svc_handle*, isc_resv_handle*,
                                     unsigned short, const char*, unsigned short, const char*,
                                     unsigned short, char*);
using TSqlCode = ISC_LONG (*)(const ISC_STATUS*);
using TInterpret = ISC_LONG (*)(char*, unsigned int, const ISC_STATUS**);
using TInterpreteOld = ISC_LONG (*)(char*, ISC_STATUS**);

struct TServiceCalls {
  TServiceAttach attach = nullptr;
  TServiceDetach detach = nullptr;
  TServiceStart start = nullptr;
  TServiceQuery query = nullptr;
  TSqlCode sqlcode = nullptr;
  TInterpret interpret = nullptr;         // preferred
  TInterpreteOld interprete = nullptr;    // older libraries only have this one
};

constexpr const char* kClientLibrary = "gds32.dll";

// Parameter block and information items of the services calls.
namespace svc {
constexpr char isc_spb_version = 2;
constexpr char isc_spb_current_version = 2;
constexpr char isc_spb_user_name = 28;
constexpr char isc_spb_password = 29;
constexpr char isc_spb_dbname = 106;
constexpr char isc_spb_verbose = 107;
constexpr char isc_spb_options = 108;
constexpr char isc_spb_bkp_file = 5;
constexpr char isc_spb_res_buffers = 9;
constexpr char isc_spb_res_page_size = 10;
constexpr char isc_action_svc_backup = 1;
constexpr char isc_action_svc_restore = 2;
constexpr int32_t isc_spb_bkp_ignore_limbo = 0x02;
constexpr int32_t isc_spb_res_replace = 0x1000;
constexpr int32_t isc_spb_res_create = 0x2000;
constexpr char isc_info_end = 1;
constexpr char isc_info_truncated = 2;
constexpr char isc_info_data_not_ready = 4;
constexpr char isc_info_svc_line = 62;
constexpr char isc_info_svc_to_eof = 63;
constexpr char isc_info_svc_timeout = 64;
}  // namespace svc

// Room for the server's answer to one query.
constexpr unsigned short kOutputBufferSize = 32000;

// The client library reads file names in the character set of LC_CTYPE; names are
// handed to it as UTF-8, so a process still in the C locale moves to its UTF-8 variant
// (a UTF-8 locale set by the program stays).
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

std::mutex calls_mutex;
HMODULE calls_module = nullptr;
TServiceCalls calls;

template <class Fn>
void Bind(Fn& entry, const char* name, bool mandatory) {
  entry = reinterpret_cast<Fn>(GetProcAddress(calls_module, name));
  if (entry == nullptr && mandatory) {
    throw EIBClientError(Format("The entry point %s is missing from the client library %s",
                                {name, kClientLibrary}));
  }
}

// The services calls, the library loaded and bound on first use and kept for the life
// of the process.
const TServiceCalls& ServiceCalls() {
  std::lock_guard<std::mutex> lock(calls_mutex);
  if (calls_module == nullptr) {
    EnsureUtf8FileNames();
    HMODULE module;
    {
      TFpuControlWordGuard guard;
      module = LoadLibrary(kClientLibrary);
    }
    if (module == nullptr) {
      throw EIBClientError(Format("The client library %s cannot be loaded: %s",
                                  {kClientLibrary, LastLibraryError()}));
    }
    calls_module = module;
    try {
      calls = TServiceCalls{};
      Bind(calls.attach, "isc_service_attach", true);
      Bind(calls.detach, "isc_service_detach", true);
      Bind(calls.start, "isc_service_start", true);
      Bind(calls.query, "isc_service_query", true);
      Bind(calls.sqlcode, "isc_sqlcode", true);
      Bind(calls.interpret, "fb_interpret", false);
      Bind(calls.interprete, "isc_interprete", calls.interpret == nullptr);
    } catch (...) {
      FreeLibrary(calls_module);
      calls_module = nullptr;
      throw;
    }
  }
  return calls;
}

// Calls into the client library with the floating-point control word kept.
template <class Fn, class... Args>
ISC_STATUS Call(Fn fn, Args... args) {
  TFpuControlWordGuard guard;
  return fn(args...);
}

bool Failed(ISC_STATUS result, const ISC_STATUS* status) {
  return result != 0 || (status[0] == 1 && status[1] != 0);
}

// The library's text for the status vector: one line per entry, joined by CR LF, the
// final full stop dropped.
AnsiString StatusMessage(const TServiceCalls& c, const ISC_STATUS* status) {
  std::string text;
  char buffer[1024];
  const ISC_STATUS* cursor = status;
  ISC_STATUS* old_cursor = const_cast<ISC_STATUS*>(status);
  for (;;) {
    buffer[0] = '\0';
    ISC_LONG n;
    {
      TFpuControlWordGuard guard;
      n = c.interpret != nullptr ? c.interpret(buffer, sizeof buffer, &cursor)
                                 : c.interprete(buffer, &old_cursor);
    }
    if (n <= 0) break;
    if (!text.empty()) text += "\r\n";
    text.append(buffer, strnlen(buffer, sizeof buffer));
  }
  if (!text.empty() && text.back() == '.') text.pop_back();
  return Utf8ToAnsi(text);
}

void AddByte(std::string& block, char value) { block.push_back(value); }

void AddInt(std::string& block, char tag, int32_t value) {
  block.push_back(tag);
  for (int i = 0; i < 4; ++i) block.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A text parameter of a start block: tag, two-byte length, the bytes.
void AddText(std::string& block, char tag, const std::string& text) {
  if (text.size() > 0xFFFF) {
    throw EIBClientError(Format("The service parameter is too long (%d bytes)",
                                {static_cast<int64_t>(text.size())}));
  }
  block.push_back(tag);
  block.push_back(static_cast<char>(text.size() & 0xFF));
  block.push_back(static_cast<char>((text.size() >> 8) & 0xFF));
  block += text;
}

// A file name of the start block: UTF-8, as the Linux file system spells it.
void AddFileName(std::string& block, char tag, const AnsiString& name) {
  AddText(block, tag, AnsiToUtf8(name));
}

void AddFileNames(std::string& block, char tag, const TStrings& names) {
  for (int32_t i = 0; i < names.Count(); ++i) {
    const AnsiString name = names.Strings(i);
    if (Trim(name).empty()) continue;
    AddFileName(block, tag, name);
  }
}

// The attach parameter block from the name=value lines.
std::string AttachParams(const TStrings& params) {
  std::string block;
  AddByte(block, svc::isc_spb_version);
  AddByte(block, svc::isc_spb_current_version);
  for (int32_t i = 0; i < params.Count(); ++i) {
    const AnsiString raw_name = Trim(params.Names(i));
    if (raw_name.empty()) continue;
    AnsiString name = LowerCase(raw_name);
    if (name.rfind("isc_spb_", 0) == 0) name.erase(0, 8);
    const AnsiString value = params.ValueFromIndex(i);
    char tag;
    if (name == "user_name") {
      tag = svc::isc_spb_user_name;
    } else if (name == "password") {
      tag = svc::isc_spb_password;
    } else if (name == "sys_user_name" || name == "password_enc" || name == "command_line" ||
               name == "connect_timeout" || name == "dummy_packet_interval" ||
               name == "sql_role_name") {
      throw EIBClientError(Format("The service parameter %s is not supported", {raw_name}));
    } else {
      throw EIBClientError(Format("The service parameter %s is unknown", {raw_name}));
    }
    if (value.size() > 255) {
      throw EIBClientError(Format("The value of the service parameter %s is too long",
                                  {raw_name}));
    }
    block.push_back(tag);
    block.push_back(static_cast<char>(value.size()));
    block += value;
  }
  return block;
}

// Length of an incomplete UTF-8 sequence at the end of text (0 when it ends whole).
size_t IncompleteUtf8Tail(const std::string& text) {
  const size_t n = text.size();
  for (size_t back = 1; back <= 3 && back <= n; ++back) {
    const auto c = static_cast<unsigned char>(text[n - back]);
    if ((c & 0xC0) == 0x80) continue;  // a continuation byte: look further back
    size_t need = 1;
    if ((c & 0xE0) == 0xC0) need = 2;
    else if ((c & 0xF0) == 0xE0) need = 3;
    else if ((c & 0xF8) == 0xF0) need = 4;
    return need > back ? back : 0;
  }
  return 0;
}

uint16_t ReadLength(const std::string& out, size_t pos) {
  return static_cast<uint16_t>(static_cast<unsigned char>(out[pos]) |
                               (static_cast<unsigned char>(out[pos + 1]) << 8));
}

[[noreturn]] void RaiseOutputError(int tag) {
  throw EIBClientError(
      Format("Unexpected answer of the services manager (item %d)", {static_cast<int64_t>(tag)}));
}

}  // namespace

// One answer to a query for output: the text cluster of the asked item and the markers
// after it. The services manager ends a complete answer with isc_info_end, says
// isc_info_truncated when more text follows, and isc_info_data_not_ready or
// isc_info_svc_timeout when the service has produced nothing new yet (not the end).
TServiceOutputAnswer ParseServiceOutput(const std::string& out, char item) {
  TServiceOutputAnswer answer;
  bool have_text = false;
  size_t pos = 0;
  while (pos < out.size()) {
    const char tag = out[pos];
    if (tag == item && !have_text) {
      if (pos + 3 > out.size()) RaiseOutputError(tag);
      const uint16_t length = ReadLength(out, pos + 1);
      if (pos + 3 + length > out.size()) RaiseOutputError(tag);
      answer.text = std::string_view(out.data() + pos + 3, length);
      have_text = true;
      pos += 3 + length;
    } else if (tag == svc::isc_info_end) {
      answer.end = true;
      break;
    } else if (tag == svc::isc_info_truncated) {
      answer.truncated = true;
      ++pos;
    } else if (tag == svc::isc_info_data_not_ready || tag == svc::isc_info_svc_timeout) {
      answer.not_ready = true;
      ++pos;
    } else {
      RaiseOutputError(tag);
    }
  }
  if (!have_text && !answer.not_ready) RaiseOutputError(out.empty() ? 0 : out[0]);
  return answer;
}

bool GatherServiceLine(std::string& line, const TServiceOutputAnswer& answer) {
  line += answer.text;
  if (answer.not_ready || answer.truncated) return false;
  return answer.text.empty() || answer.text.back() == ' ';
}


// --- TIBCustomService ----------------------------------------------------------------------

TIBCustomService::TIBCustomService(TComponent* owner)
    : TComponent(owner), params_(std::make_unique<TStringList>()) {}

TIBCustomService::~TIBCustomService() {
  if (handle_ != 0) {
    try {
      Detach();
    } catch (...) {
      // Going away: the handle is given up either way.
    }
  }
}

void TIBCustomService::SetServerName(const AnsiString& value) {
  if (server_name_ == value) return;
  CheckInactive();
  server_name_ = value;
  if (protocol_ == TProtocol::Local && !server_name_.empty()) {
    protocol_ = TProtocol::TCP;
  } else if (protocol_ != TProtocol::Local && server_name_.empty()) {
    protocol_ = TProtocol::Local;
  }
}

void TIBCustomService::SetProtocol(TProtocol value) {
  if (protocol_ == value) return;
  CheckInactive();
  protocol_ = value;
  if (value == TProtocol::Local) server_name_.clear();
}

void TIBCustomService::SetParams(const TStrings* value) {
  if (value == nullptr) {
    params_->Clear();
  } else {
    params_->Assign(const_cast<TStrings*>(value));
  }
}

void TIBCustomService::SetActive(bool value) {
  if (value == Active()) return;
  if (value) {
    Attach();
  } else {
    Detach();
  }
}

void TIBCustomService::CheckActive() const {
  if (handle_ == 0) {
    throw EIBClientError("Cannot perform the operation: the service is not attached");
  }
}

void TIBCustomService::CheckInactive() const {
  if (handle_ != 0) {
    throw EIBClientError("Cannot perform the operation: the service is attached");
  }
}

void TIBCustomService::Attach() {
  CheckInactive();
  if (login_prompt_) {
    throw EIBClientError("Operation cancelled: there is no login dialog for services; "
                         "switch LoginPrompt off and give the login in Params");
  }
  std::string service;
  switch (protocol_) {
    case TProtocol::Local:
      service = "service_mgr";
      break;
    case TProtocol::TCP:
      service = server_name_ + ":service_mgr";
      break;
    case TProtocol::SPX:
      service = server_name_ + "@service_mgr";
      break;
    case TProtocol::NamedPipe:
      service = "\\\\" + server_name_ + "\\service_mgr";
      break;
  }
  if (protocol_ != TProtocol::Local && Trim(server_name_).empty()) {
    throw EIBClientError("The server name is missing");
  }
  const std::string spb = AttachParams(*params_);
  if (spb.size() > 0xFFFF) throw EIBClientError("The service parameters are too long");
  const std::string name = AnsiToUtf8(service);

  const TServiceCalls& c = ServiceCalls();
  ISC_STATUS_ARRAY status{};
  isc_svc_handle handle = 0;
  const ISC_STATUS result = Call(c.attach, status, static_cast<unsigned short>(0), name.c_str(),
                                 &handle, static_cast<unsigned short>(spb.size()), spb.data());
  if (Failed(result, status)) {
    if (handle != 0) {
      ISC_STATUS_ARRAY ignored{};
      Call(c.detach, ignored, &handle);
    }
    RaiseServiceError(status);
  }
  handle_ = handle;
}

void TIBCustomService::Detach() {
  CheckActive();
  const TServiceCalls& c = ServiceCalls();
  ISC_STATUS_ARRAY status{};
  const ISC_STATUS result = Call(c.detach, status, &handle_);
  // Whatever the library says, this handle is finished with.
  handle_ = 0;
  if (Failed(result, status)) RaiseServiceError(status);
}

void TIBCustomService::RaiseServiceError(const ISC_STATUS* status) {
  const TServiceCalls& c = ServiceCalls();
  // The code and the text are taken before the quiet detach below talks to the library.
  ISC_STATUS_ARRAY copy;
  std::memcpy(copy, status, sizeof copy);
  ISC_LONG sql_code;
  {
    TFpuControlWordGuard guard;
    sql_code = c.sqlcode(copy);
  }
  const AnsiString message = StatusMessage(c, copy);
  const auto code = static_cast<int32_t>(copy[1]);
  if (handle_ != 0) {
    ISC_STATUS_ARRAY ignored{};
    Call(c.detach, ignored, &handle_);
    handle_ = 0;
  }
  throw EIBInterBaseError(sql_code, code, message);
}

void TIBCustomService::ServiceQuery(const std::string& items) {
  CheckActive();
  const TServiceCalls& c = ServiceCalls();
  ISC_STATUS_ARRAY status{};
  output_.assign(kOutputBufferSize, '\0');
  const ISC_STATUS result =
      Call(c.query, status, &handle_, static_cast<isc_resv_handle*>(nullptr),
           static_cast<unsigned short>(0), static_cast<const char*>(nullptr),
           static_cast<unsigned short>(items.size()), items.data(), kOutputBufferSize,
           output_.data());
  if (Failed(result, status)) RaiseServiceError(status);
}

// --- TIBControlService ---------------------------------------------------------------------

void TIBControlService::ServiceStart() {
  CheckActive();
  const std::string spb = StartParams();
  if (spb.size() > 0xFFFF) throw EIBClientError("The service parameters are too long");
  const TServiceCalls& c = ServiceCalls();
  ISC_STATUS_ARRAY status{};
  const ISC_STATUS result =
      Call(c.start, status, &handle_, static_cast<isc_resv_handle*>(nullptr),
           static_cast<unsigned short>(spb.size()), spb.data());
  if (Failed(result, status)) RaiseServiceError(status);
  ServiceStarted();
}

// --- TIBControlAndQueryService -------------------------------------------------------------

void TIBControlAndQueryService::ServiceStarted() {
  started_ = true;
  eof_ = false;
  chunk_carry_.clear();
}

AnsiString TIBControlAndQueryService::GetNextLine() {
  if (eof_) return {};
  if (!started_) throw EIBClientError("No service has been started");
  // Nothing yet, or part of a line, while the service still works: ask again.
  std::string line;
  for (;;) {
    ServiceQuery(std::string(1, svc::isc_info_svc_line));
    if (GatherServiceLine(line, ParseServiceOutput(Output(), svc::isc_info_svc_line))) break;
  }
  if (line.empty()) eof_ = true;
  return Utf8ToAnsi(line);
}

AnsiString TIBControlAndQueryService::GetNextChunk() {
  if (eof_) return {};
  if (!started_) throw EIBClientError("No service has been started");
  ServiceQuery(std::string(1, svc::isc_info_svc_to_eof));
  const TServiceOutputAnswer answer = ParseServiceOutput(Output(), svc::isc_info_svc_to_eof);
  if (answer.end && !answer.truncated && !answer.not_ready) eof_ = true;
  std::string text = chunk_carry_ + std::string(answer.text);
  chunk_carry_.clear();
  if (!eof_) {
    // A character cut in two by the buffer's end is finished by the next block.
    const size_t tail = IncompleteUtf8Tail(text);
    chunk_carry_ = text.substr(text.size() - tail);
    text.resize(text.size() - tail);
  }
  return Utf8ToAnsi(text);
}

// --- TIBBackupService ----------------------------------------------------------------------

TIBBackupService::TIBBackupService(TComponent* owner)
    : TIBBackupRestoreService(owner), backup_file_(std::make_unique<TStringList>()) {}

TIBBackupService::~TIBBackupService() = default;

void TIBBackupService::SetBackupFile(const TStrings* value) {
  if (value == nullptr) {
    backup_file_->Clear();
  } else {
    backup_file_->Assign(const_cast<TStrings*>(value));
  }
}

std::string TIBBackupService::StartParams() const {
  std::string spb;
  AddByte(spb, svc::isc_action_svc_backup);
  AddFileName(spb, svc::isc_spb_dbname, database_name_);
  AddFileNames(spb, svc::isc_spb_bkp_file, *backup_file_);
  int32_t options = 0;
  if (options_.Contains(TBackupOption::IgnoreLimbo)) options |= svc::isc_spb_bkp_ignore_limbo;
  AddInt(spb, svc::isc_spb_options, options);
  if (Verbose()) AddByte(spb, svc::isc_spb_verbose);
  return spb;
}

// --- TIBRestoreService ---------------------------------------------------------------------

TIBRestoreService::TIBRestoreService(TComponent* owner)
    : TIBBackupRestoreService(owner),
      database_name_(std::make_unique<TStringList>()),
      backup_file_(std::make_unique<TStringList>()) {}

TIBRestoreService::~TIBRestoreService() = default;

void TIBRestoreService::SetDatabaseName(const TStrings* value) {
  if (value == nullptr) {
    database_name_->Clear();
  } else {
    database_name_->Assign(const_cast<TStrings*>(value));
  }
}

void TIBRestoreService::SetBackupFile(const TStrings* value) {
  if (value == nullptr) {
    backup_file_->Clear();
  } else {
    backup_file_->Assign(const_cast<TStrings*>(value));
  }
}

std::string TIBRestoreService::StartParams() const {
  std::string spb;
  AddByte(spb, svc::isc_action_svc_restore);
  int32_t options = 0;
  if (options_.Contains(TRestoreOption::Replace)) options |= svc::isc_spb_res_replace;
  if (options_.Contains(TRestoreOption::CreateNewDB)) options |= svc::isc_spb_res_create;
  AddInt(spb, svc::isc_spb_options, options);
  if (page_size_ > 0) AddInt(spb, svc::isc_spb_res_page_size, page_size_);
  if (page_buffers_ > 0) AddInt(spb, svc::isc_spb_res_buffers, page_buffers_);
  if (Verbose()) AddByte(spb, svc::isc_spb_verbose);
  AddFileNames(spb, svc::isc_spb_dbname, *database_name_);
  AddFileNames(spb, svc::isc_spb_bkp_file, *backup_file_);
  return spb;
}

}  // namespace pelvar
