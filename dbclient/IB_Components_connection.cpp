// The connection component: parameters and the database parameter block, connecting
// with and without login, disconnecting, creating and dropping a database, events to
// the handlers and to the connection links; and the connection link.
#include <algorithm>
#include <cstring>
#include <exception>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_Schema.h"
#include "dbclient/IB_SchemaCache.h"
#include "dbclient/IB_Utils.h"
#include "platform/codepage.h"
#include "platform/registry.h"
#include "platform/sysutils.h"

namespace pelvar {

TIB_LoginDialogHook LoginDialogHook;

namespace {

// The statement handle of statements without a server statement; never an attachment.
constexpr isc_db_handle kPlaceholderHandle = 0xFFFFFFFFu;

// The Params keys of the indexed parameters 1..10 (2, the password, is chosen by the
// protocol, see PasswordKey).
const char* const kIndexedKeys[11] = {
    nullptr,        "USER NAME", "PASSWORD", "SERVER",        "ROLE NAME",   "PATH",
    "LICENSE",      "SYSDBA",    "ENCRYPT KEY", "CHARACTER SET", "MESSAGE FILE"};

const char* const kLoginSection = "Settings";
const char* const kNoDatabase = "<empty>";

[[noreturn]] void RaiseConnectionError(TComponent* Sender, TIB_Msg Msg) {
  throw EIB_ConnectionError(Sender, IB_Message(Msg));
}

bool HoldsNumber(const AnsiString& Text, int32_t Value) {
  int32_t n = 0;
  return TryStrToInt(Trim(Text), n) && n == Value;
}

// Switches the scrambling's registry root for the lifetime of the guard, inside the
// process-wide lock; the previous root comes back also when an exception passes.
class TJumbleRootGuard {
 public:
  explicit TJumbleRootGuard(HKEY Root) : lock_(ProcessCriticalSection()), old_(JumbleRootKey) {
    JumbleRootKey = Root;
  }
  ~TJumbleRootGuard() { JumbleRootKey = old_; }
  TJumbleRootGuard(const TJumbleRootGuard&) = delete;
  TJumbleRootGuard& operator=(const TJumbleRootGuard&) = delete;

 private:
  TCriticalSectionGuard lock_;
  HKEY old_;
};

AnsiString EnvironmentKey() {
  const AnsiString key = GetEnvironmentValue("REZ_PASSKEY");
  return key.empty() ? JumbleMarker : key;
}

}  // namespace

// --- Construction ----------------------------------------------------------------------------

TIB_Connection::TIB_Connection(TComponent* Owner)
    : TIB_Component(Owner), params_(std::make_unique<TIB_StringList>()) {
  for (auto* list : {&ColumnAttributes_, &DefaultValues_, &FieldsAlignment_, &FieldsCharCase_,
                     &FieldsDisplayLabel_, &FieldsGridLabel_, &FieldsGridTitleHint_,
                     &FieldsDisplayFormat_, &FieldsDisplayWidth_, &FieldsEditMask_,
                     &FieldsReadOnly_, &FieldsTrimming_, &FieldsVisible_, &GeneratorLinks_}) {
    *list = std::make_unique<TIB_StringProperty>();
    (*list)->SetSorted(true);
  }
  schema_cache_ = std::make_unique<TIB_SchemaCache>(this);
}

TIB_Connection::~TIB_Connection() {
  try {
    EndTransactions();
  } catch (const std::exception&) {
    // Going anyway.
  }
  Destroying();
  try {
    SysDisconnect();
  } catch (const std::exception&) {
    // Going anyway.
  }
  schema_cache_.reset();
  while (!transactions_.empty()) {
    const size_t before = transactions_.size();
    try {
      transactions_.back()->RemoveConnection(this);
    } catch (const std::exception&) {
      // Going anyway.
    }
    if (transactions_.size() == before) {
      transactions_.pop_back();
    }
  }
  while (!links_.empty()) {
    const size_t before = links_.size();
    links_.front()->SetIB_Connection(nullptr);
    if (links_.size() == before) {
      links_.erase(links_.begin());
    }
  }
  if (default_transaction_ != nullptr) {
    default_transaction_->RemoveFreeNotification(this);
    default_transaction_ = nullptr;
  }
  // Handles still cached belong to an attachment that is gone (or was pooled); only
  // the block is given back.
  ResizeHandleCache(0);
  handle_fill_ = 0;
  SetIB_Session(nullptr);
}

void TIB_Connection::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) {
    return;
  }
  if (session_ != nullptr && !internal_) {
    if (session_->FocusedConnection() == this) {
      session_->SetFocusedConnection(nullptr);
    }
    if (session_->DefaultConnection() == this) {
      session_->SetDefaultConnection(nullptr);
    }
    RemoveFromComponentList(session_->ConnectionList(), this);
  }
  TIB_Component::SetIB_Session(Value);
  if (session_ != nullptr && !internal_) {
    session_->ConnectionList().push_back(this);
    if (session_->DefaultConnection() == nullptr) {
      session_->SetDefaultConnection(this);
    }
  }
}

void TIB_Connection::Loaded() {
  TIB_Component::Loaded();
  CheckPendingConnect();
}

void TIB_Connection::CheckPendingConnect() {
  if (!connect_after_load_) {
    return;
  }
  try {
    if (Connect(false)) {
      connect_after_load_ = false;
      RunDeferredStatementWork();
    }
  } catch (const std::exception&) {
    // A connection made while loading that fails stays disconnected.
  }
}

void TIB_Connection::RunDeferredStatementWork() {
  // A statement may leave the list (or join it) while its work runs: each one still
  // listed when its turn comes runs once.
  const std::vector<TIB_Component*> statements(statements_);
  auto listed = [this](TIB_Component* c) {
    return std::find(statements_.begin(), statements_.end(), c) != statements_.end();
  };
  for (TIB_Component* c : statements) {
    if (!listed(c)) continue;
    if (auto* w = dynamic_cast<IB_DeferredStatementWork*>(c)) {
      try {
        w->CheckPendingPrepare();
      } catch (const std::exception&) {
        // The prepare stays pending.
      }
    }
  }
  for (TIB_Component* c : statements) {
    if (!listed(c)) continue;
    if (auto* w = dynamic_cast<IB_DeferredStatementWork*>(c)) {
      try {
        w->CheckPendingOpen();
      } catch (const std::exception&) {
        // The open stays pending.
      }
    }
  }
}

void TIB_Connection::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation == opRemove && AComponent != nullptr && AComponent == default_transaction_) {
    default_transaction_ = nullptr;
  }
  TIB_Component::Notification(AComponent, Operation);
}

// --- Parameters ------------------------------------------------------------------------------

AnsiString TIB_Connection::Param(const char* Key) const { return params_->Values(Key); }

void TIB_Connection::SetParam(const char* Key, const AnsiString& Value) {
  params_->SetValue(Key, Value);
}

void TIB_Connection::CheckNotConnected() {
  if (ComponentState().Contains(csDesigning)) {
    SysDisconnect();
  }
  if (GetConnected()) {
    RaiseConnectionError(this, TIB_Msg::CannotChangeWhileConnected);
  }
}

void TIB_Connection::SetParams(const TStrings* Value) {
  params_->SetText(Value != nullptr ? Value->Text() : AnsiString());
  if (ComponentState().Contains(csReading)) {
    const AnsiString server_name = Param("SERVER NAME");
    if (!server_name.empty()) {
      SetConnectString(server_name);
      SetParam("SERVER NAME", "");
    }
    if (password_storage_ != psParams) {
      SetIndexedParam(2, "");
    }
  }
}

AnsiString TIB_Connection::GetIndexedParam(int32_t Index) {
  if (Index < 1 || Index > 10) {
    return {};
  }
  if (Index == 2) {
    if (GetProtocol() == cpLocal) {
      const AnsiString local = Param("LOCAL PASSWORD");
      if (!local.empty()) {
        return local;
      }
    }
    return Param("PASSWORD");
  }
  if (Index == 4) {
    AnsiString role = Param("ROLE NAME");
    if (role.empty()) {
      // The older keys are taken over under the current one.
      for (const char* old_key : {"ROLE", "SQL ROLE NAME"}) {
        role = Param(old_key);
        if (!role.empty()) {
          SetParam("ROLE NAME", role);
          SetParam(old_key, "");
          break;
        }
      }
    }
    return role;
  }
  return Param(kIndexedKeys[Index]);
}

void TIB_Connection::SetIndexedParam(int32_t Index, const AnsiString& Value) {
  CheckNotConnected();
  if (Index < 1 || Index > 10) {
    return;
  }
  if (Index == 2) {
    const bool local = GetProtocol() == cpLocal && !Param("LOCAL PASSWORD").empty();
    SetParam(local ? "LOCAL PASSWORD" : "PASSWORD", Value);
    return;
  }
  SetParam(kIndexedKeys[Index], Value);
  if (Index == 4) {
    SetParam("ROLE", "");
    SetParam("SQL ROLE NAME", "");
  }
}

AnsiString TIB_Connection::GetPassword() {
  if (kept_password_.empty() || password_storage_ == psParams) {
    return GetIndexedParam(2);
  }
  return kept_password_;
}

void TIB_Connection::SetPassword(const AnsiString& Value) {
  kept_password_ = Value;
  SetIndexedParam(2, password_storage_ == psParams ? Value : AnsiString());
}

bool TIB_Connection::HasSavedPassword() {
  return password_storage_ != psNone && password_storage_ != psParams && !GetPassword().empty();
}

AnsiString TIB_Connection::GetSavedPassword() {
  switch (password_storage_) {
    case psNone:
      return {};
    case psParams:
      return GetIndexedParam(2);
    case psKeyFromUserReg:
    case psKeyFromMachineReg: {
      const AnsiString password = GetPassword();
      TJumbleRootGuard root(password_storage_ == psKeyFromUserReg ? HKEY_CURRENT_USER
                                                                  : HKEY_LOCAL_MACHINE);
      return JumblePassword(password, GetJumbleKey());
    }
    case psNotSecure:
      return JumblePassword(GetPassword(), JumbleMarker);
    case psKeyFromEnviron:
      return JumblePassword(GetPassword(), EnvironmentKey());
  }
  return {};
}

void TIB_Connection::SetSavedPassword(const AnsiString& S) {
  switch (password_storage_) {
    case psNone:
      SetPassword(UnjumblePassword(S, AnsiString()));
      return;
    case psParams:
      SetIndexedParam(2, S);
      return;
    case psKeyFromUserReg:
    case psKeyFromMachineReg: {
      AnsiString password;
      {
        TJumbleRootGuard root(password_storage_ == psKeyFromUserReg ? HKEY_CURRENT_USER
                                                                    : HKEY_LOCAL_MACHINE);
        password = UnjumblePassword(S, GetJumbleKey());
      }
      SetPassword(password);
      return;
    }
    case psNotSecure:
      SetPassword(UnjumblePassword(S, JumbleMarker));
      return;
    case psKeyFromEnviron:
      SetPassword(UnjumblePassword(S, EnvironmentKey()));
      return;
  }
}

TIB_Protocol TIB_Connection::GetProtocol() const {
  const AnsiString p = AnsiUpperCase(Param("PROTOCOL"));
  if (p == "NETBEUI") return cpNetBEUI;
  if (p == "TCP/IP") return cpTCP_IP;
  if (p == "NOVELL") return cpNovell;
  return cpLocal;
}

void TIB_Connection::SetProtocol(TIB_Protocol Value) {
  if (Value == GetProtocol()) {
    return;
  }
  CheckNotConnected();
  static const char* const names[] = {"", "NETBEUI", "TCP/IP", "NOVELL"};
  SetParam("PROTOCOL", names[Value <= cpNovell ? Value : cpLocal]);
}

namespace {

TIB_DPBFlag ReadFlag(const AnsiString& Text, const char* True, const char* False) {
  if (Text == True) return dpbTrue;
  if (Text == False) return dpbFalse;
  return dpbDefault;
}

const char* FlagText(TIB_DPBFlag Value, const char* True, const char* False) {
  return Value == dpbTrue ? True : Value == dpbFalse ? False : "";
}

}  // namespace

TIB_DPBFlag TIB_Connection::ForcedWrites() const {
  return ReadFlag(Param("FORCED WRITES"), "TRUE", "FALSE");
}

void TIB_Connection::SetForcedWrites(TIB_DPBFlag Value) {
  if (Value == ForcedWrites()) return;
  CheckNotConnected();
  SetParam("FORCED WRITES", FlagText(Value, "TRUE", "FALSE"));
}

TIB_DPBFlag TIB_Connection::DBKeyScope() const {
  return ReadFlag(Param("DB_KEY SCOPE"), "CONNECTION", "TRANSACTION");
}

void TIB_Connection::SetDBKeyScope(TIB_DPBFlag Value) {
  if (Value == DBKeyScope()) return;
  CheckNotConnected();
  SetParam("DB_KEY SCOPE", FlagText(Value, "CONNECTION", "TRANSACTION"));
}

TIB_DPBFlag TIB_Connection::ReservePageSpace() const {
  return ReadFlag(Param("RESERVE PAGE SPACE"), "TRUE", "FALSE");
}

void TIB_Connection::SetReservePageSpace(TIB_DPBFlag Value) {
  if (Value == ReservePageSpace()) return;
  CheckNotConnected();
  SetParam("RESERVE PAGE SPACE", FlagText(Value, "TRUE", "FALSE"));
}

namespace {

// Rounded down to a multiple of 1024, at least 1024, and within 16 bits.
int32_t RoundPageSize(int64_t Size) {
  int64_t r = std::min<int64_t>(Size, 65535) / 1024 * 1024;
  return static_cast<int32_t>(std::max<int64_t>(r, 1024));
}

}  // namespace

uint16_t TIB_Connection::GetPageSize() {
  if (GetConnected()) {
    TIB_ConnectCharacteristics c;
    GetConnectCharacteristics(c);
    return c.dbPage_Size;
  }
  const AnsiString text = Param("PAGE SIZE");
  return static_cast<uint16_t>(RoundPageSize(text.empty() ? 1024 : StrToInt(text)));
}

void TIB_Connection::SetPageSize(uint16_t Value) {
  const int32_t size = RoundPageSize(Value);
  if (HoldsNumber(Param("PAGE SIZE"), size)) {
    return;
  }
  SetParam("PAGE SIZE", size == 1024 ? AnsiString() : IntToStr(size));
}

int16_t TIB_Connection::GetSQLDialect() {
  int32_t dialect;
  if (GetConnected()) {
    dialect = LoadedCharacteristics().dbSQL_Dialect;
  } else {
    const AnsiString text = Param("SQL DIALECT");
    dialect = text.empty() ? 3 : StrToInt(text);
  }
  return static_cast<int16_t>(std::clamp<int32_t>(dialect, 1, 32767));
}

void TIB_Connection::SetSQLDialect(int16_t Value) {
  if (!HoldsNumber(Param("SQL DIALECT"), Value)) {
    SetParam("SQL DIALECT", IntToStr(Value));
  }
}

uint16_t TIB_Connection::GetSweepInterval() {
  if (GetConnected()) {
    TIB_ConnectCharacteristics c;
    GetConnectCharacteristics(c);
    return static_cast<uint16_t>(c.dbSweep_Interval);
  }
  const AnsiString text = Param("SWEEP INTERVAL");
  return static_cast<uint16_t>(text.empty() ? 0 : StrToInt(text));
}

void TIB_Connection::SetSweepInterval(uint16_t Value) {
  if (HoldsNumber(Param("SWEEP INTERVAL"), Value)) {
    return;
  }
  SetParam("SWEEP INTERVAL", Value == 0 ? AnsiString() : IntToStr(Value));
}

AnsiString TIB_Connection::GetConnectString() const {
  const AnsiString server = Param("SERVER");
  const AnsiString path = Param("PATH");
  switch (GetProtocol()) {
    case cpNetBEUI:
      return "\\\\" + server + "\\" + path;
    case cpTCP_IP:
      return server + ":" + path;
    case cpNovell:
      return server + "@" + path;
    case cpLocal:
      break;
  }
  return path;
}

void TIB_Connection::SetConnectString(const AnsiString& Value) {
  auto split = [this](const AnsiString& server, const AnsiString& path, TIB_Protocol protocol) {
    SetServer(server);
    SetPath(path);
    SetProtocol(protocol);
  };
  if (Value.size() > 2 && Value[1] == ':' && Value.find(':', 2) == AnsiString::npos) {
    // A drive-letter path.
    SetPath(Value);
    SetProtocol(cpLocal);
  } else if (Value.find("\\\\") != AnsiString::npos) {
    const AnsiString rest = Value.substr(2);
    const size_t slash = rest.find('\\');
    split(rest.substr(0, slash), slash == AnsiString::npos ? AnsiString() : rest.substr(slash + 1),
          cpNetBEUI);
  } else if (const size_t at = Value.find('@'); at != AnsiString::npos) {
    split(Value.substr(0, at), Value.substr(at + 1), cpNovell);
  } else if (const size_t colon = Value.find(':'); colon != AnsiString::npos) {
    split(Value.substr(0, colon), Value.substr(colon + 1), cpTCP_IP);
  } else {
    SetPath(Value);
    SetProtocol(cpLocal);
  }
}

AnsiString TIB_Connection::GetDatabaseName() const {
  return symbolic_name_.empty() ? GetConnectString() : symbolic_name_;
}

void TIB_Connection::SetDatabaseName(const AnsiString& Value) {
  if (Value.find_first_of(".\\:@") != AnsiString::npos) {
    SetConnectString(Value);
    symbolic_name_.clear();
    return;
  }
  if (Value == symbolic_name_) {
    return;
  }
  if (!IsValidIdent(Value)) {
    RaiseConnectionError(this, TIB_Msg::InvalidDatabaseName);
  }
  AnsiString candidate = Value;
  // The session is joined now (unless the component is being read, when it may not be
  // found yet), so that the names of one session's connections stay apart.
  TIB_Session* session =
      ComponentState().Contains(csReading) ? AssignedSession() : GetIB_Session();
  if (session != nullptr) {
    for (int32_t n = 1;; ++n) {
      TIB_Connection* other = session->FindConnection(candidate);
      if (other == nullptr || other == this) {
        break;
      }
      candidate = Value + "_" + IntToStr(n);
    }
  }
  symbolic_name_ = candidate;
}

void TIB_Connection::SetAliasName(const AnsiString& Value) {
  if (Value == alias_name_) return;
  alias_name_ = Value;
  alias_params_.reset();
}

AnsiString TIB_Connection::AliasParam(const char* Name) {
  if (alias_name_.empty()) return {};
  if (!alias_params_) {
    auto params = std::make_unique<TIB_StringList>();
    LoadBDEAliasParams("ALIAS", alias_name_, params.get());
    alias_params_ = std::move(params);
  }
  return Trim(alias_params_->Values(Name));
}

// --- The database parameter block -------------------------------------------------------------

void TIB_Connection::AddDPBItem(int32_t& Pos, TIB_DPBBuffer& Buffer, uint8_t Code,
                                const AnsiString& Value) {
  if (Value.empty()) {
    return;
  }
  const auto len = static_cast<int32_t>(Value.size());
  // A value over 255 bytes has no length byte; one that does not fit the buffer would
  // overrun it. Both are refused before anything is written.
  if (len > 255 || Pos < 0 || Pos + 2 + len > IB_DPBBufferSize) {
    RaiseConnectionError(this, TIB_Msg::DPBTooLong);
  }
  Buffer[static_cast<size_t>(Pos)] = static_cast<char>(Code);
  Buffer[static_cast<size_t>(Pos) + 1] = static_cast<char>(len);
  std::memcpy(Buffer.data() + Pos + 2, Value.data(), Value.size());
  Pos += len + 2;
}

void TIB_Connection::DoCustomizeDPB(int32_t& Pos, TIB_DPBBuffer& Buffer) {
  if (!OnCustomizeDPB) {
    return;
  }
  const int32_t before = Pos;
  OnCustomizeDPB(this, Pos, Buffer);
  if (Pos < before || Pos > IB_DPBBufferSize) {
    RaiseConnectionError(this, TIB_Msg::DPBTooLong);
  }
}

void TIB_Connection::ResolveAttachStrings() {
  AnsiString database = Param("FORCED_DATABASE");
  if (database.empty()) {
    database = GetConnectString();
  }
  alias_params_.reset();
  struct DropAlias {
    std::unique_ptr<TIB_StringList>& params;
    ~DropAlias() { params.reset(); }
  } drop_alias{alias_params_};
  if (Trim(database).empty()) {
    const AnsiString server_name = Param("SERVER NAME");
    if (!server_name.empty()) {
      database = server_name;
      SetConnectString(server_name);
      SetParam("SERVER NAME", "");
    } else {
      database = AliasParam("SERVER NAME");
    }
  }
  AnsiString user = Trim(Username());
  AnsiString password = GetPassword();
  AnsiString role = SQLRole();
  if (user.empty()) user = AliasParam("USER NAME");
  if (password.empty()) password = AliasParam("PASSWORD");
  if (role.empty()) role = AliasParam("ROLE NAME");
  if (user.empty()) user = GetEnvironmentValue("ISC_USER");
  if (password.empty()) password = GetEnvironmentValue("ISC_PASSWORD");
  if (role.empty()) role = GetEnvironmentValue("ISC_ROLE");
  if (database.empty()) database = GetEnvironmentValue("ISC_DATABASE");
  if (database.empty()) {
    RaiseConnectionError(this, TIB_Msg::DatabaseNameEmpty);
  }
  // A server name belongs in Server, not in Path.
  const AnsiString path = Path();
  const int32_t colon = CharPosOutsideQuotes(':', path);
  if (colon > 0 && colon < static_cast<int32_t>(path.size())) {
    const char next = path[static_cast<size_t>(colon)];
    if (next != '/' && next != '\\') {
      RaiseConnectionError(this, TIB_Msg::InvalidConnectPath);
    }
  }
  attach_database_ = database;
  attach_user_ = user;
  attach_password_ = password;
  attach_role_ = role;
}

void TIB_Connection::StartDPB(int32_t& Pos, TIB_DPBBuffer& Buffer) {
  TIB_Connection* self = this;
  Buffer.fill('\0');
  Buffer[0] = static_cast<char>(isc_dpb_version1);
  Pos = 1;
  self->AddDPBItem(Pos, Buffer, isc_dpb_user_name, attach_user_);
  self->AddDPBItem(Pos, Buffer, isc_dpb_password, attach_password_);
  self->AddDPBItem(Pos, Buffer, isc_dpb_sql_role_name, attach_role_);
  const AnsiString buffers = Param("BUFFERS");
  if (!buffers.empty()) {
    // The server reads the value as a little-endian integer of the given length.
    const auto count = static_cast<uint32_t>(StrToInt(Trim(buffers)));
    AnsiString value(4, '\0');
    for (int i = 0; i < 4; ++i) {
      value[static_cast<size_t>(i)] = static_cast<char>((count >> (8 * i)) & 0xFF);
    }
    self->AddDPBItem(Pos, Buffer, isc_dpb_num_buffers, value);
  }
}

void TIB_Connection::FinishDPB(int32_t& Pos, TIB_DPBBuffer& Buffer) {
  auto flag = [](TIB_DPBFlag f, bool inverted) {
    const bool on = (f == dpbTrue) != inverted;
    return AnsiString(1, on ? '\1' : '\0');
  };
  if (DBKeyScope() != dpbDefault) {
    AddDPBItem(Pos, Buffer, isc_dpb_dbkey_scope, flag(DBKeyScope(), false));
  }
  if (ForcedWrites() != dpbDefault) {
    AddDPBItem(Pos, Buffer, isc_dpb_force_write, flag(ForcedWrites(), false));
  }
  if (ReservePageSpace() != dpbDefault) {
    // Reserving space means "no reserve" off.
    AddDPBItem(Pos, Buffer, isc_dpb_no_reserve, flag(ReservePageSpace(), true));
  }
  AddDPBItem(Pos, Buffer, isc_dpb_lc_ctype, CharSet());
  AddDPBItem(Pos, Buffer, isc_dpb_sys_user_name, SysDBA());
  AddDPBItem(Pos, Buffer, isc_dpb_license, License());
  AddDPBItem(Pos, Buffer, isc_dpb_lc_messages, MessageFile());
  DoCustomizeDPB(Pos, Buffer);
}

std::string TIB_Connection::BuildDPB() {
  ResolveAttachStrings();
  TIB_DPBBuffer buffer;
  int32_t pos = 0;
  StartDPB(pos, buffer);
  FinishDPB(pos, buffer);
  return std::string(buffer.data(), static_cast<size_t>(pos));
}

// --- Attaching and detaching -----------------------------------------------------------------

void TIB_Connection::API_Connect() {
  if (GetConnected()) {
    return;
  }
  ResolveAttachStrings();
  TIB_DPBBuffer buffer;
  int32_t pos = 0;
  StartDPB(pos, buffer);
  TIB_Session* session = GetIB_Session();
  bool attach = true;
  if (status_ == cstCreatePending) {
    // The session creates the database and leaves it detached; it is attached below
    // like any other.
    session->CreateDatabase(attach_database_, attach_user_, attach_password_, GetPageSize(),
                            CharSet(), static_cast<uint16_t>(GetSQLDialect()));
  } else if (TakePooledAttachment()) {
    attach = false;
  }
  if (attach) {
    FinishDPB(pos, buffer);
    if (ClientCallTable.isc_attach_database == nullptr) {
      EnsureClientAPI();
    }
    ISC_STATUS result = -1;
    if (ClientCallTable.isc_attach_database != nullptr) {
      // The file name as Linux spells it.
      const std::string name = AnsiToUtf8(attach_database_);
      TCriticalSectionGuard lock(ProcessCriticalSection());
      result = CallClient(ClientCallTable.isc_attach_database, session->StatusVector(),
                          short{0}, name.c_str(), &db_handle_, static_cast<short>(pos),
                          buffer.data());
    }
    session->SetLastResult(result);
    if (result != 0) {
      session->HandleException(this);
    }
  }
  pooled_ = false;
  lost_ = false;
  facts_loaded_ = false;
  session->UpdateTimerList(this);
}

void TIB_Connection::API_Disconnect() {
  TIB_Session* session = GetIB_Session();
  if (!pooled_ && !lost_ && db_handle_ != 0) {
    if (status_ == cstDropPending) {
      session->API_Call(this, ClientCallTable.isc_drop_database, &db_handle_);
    } else if (ClientCallTable.isc_detach_database != nullptr) {
      const ISC_STATUS result =
          CallClient(ClientCallTable.isc_detach_database, session->StatusVector(), &db_handle_);
      if (result != 0) {
        const ISC_STATUS code = session->StatusVector()[1];
        if (IsLostConnectionCode(static_cast<int32_t>(code)) || code == isc_bad_db_handle) {
          // The attachment is gone already: nothing is left on the server to lose.
          lost_ = true;
        } else {
          // Anything else (a transaction still open, for one) may have cost work: it is
          // reported once the disconnect is complete (see SysDisconnect). An attachment
          // that still answers stays attached, so that its work can be finished.
          std::exception_ptr error;
          session->SetLastResult(result);
          try {
            session->HandleException(this);
          } catch (...) {
            error = std::current_exception();
          }
          if (error != nullptr && AttachmentAnswers()) {
            std::rethrow_exception(error);
          }
          // The server has shut the attachment: its client handle is released.
          ISC_STATUS_ARRAY ignored{};
          CallClient(ClientCallTable.isc_detach_database, ignored, &db_handle_);
          pending_detach_error_ = error;
        }
      }
    }
    session->SetLastResult(0);
  }
  db_handle_ = 0;
  pooled_ = false;
  facts_loaded_ = false;
  session->UpdateTimerList(this);
}

// --- Connecting -------------------------------------------------------------------------------

void TIB_Connection::SetConnected(bool Value) {
  if (Value == GetConnected()) {
    return;
  }
  if (Value) {
    Connect(false);
  } else {
    SysDisconnect();
  }
}

bool TIB_Connection::Connect(bool NoLoginPrompt) {
  if (GetConnected()) {
    return true;
  }
  login_registry_flag_ = false;
  if (ComponentState().Contains(csReading)) {
    status_ = cstConnectPending;
    connect_after_load_ = true;
    return false;
  }
  if (NoLoginPrompt) {
    status_ = cstConnectPendingNoLogin;
  }
  if (NoLoginPrompt || !login_prompt_) {
    SysBeforeConnect();
    API_Connect();
  } else {
    LoginLoop();
  }
  if (GetConnected()) {
    SysAfterConnect();
  }
  return GetConnected();
}

void TIB_Connection::LoginLoop() {
  login_attempt_ = 0;
  login_aborted_ = false;
  while (!GetConnected() && !login_aborted_) {
    if (login_attempts_ > 0 && login_attempts_ <= login_attempt_) {
      break;
    }
    ++login_attempt_;
    DoLogin();
    if (!login_aborted_) {
      try {
        SysBeforeConnect();
        API_Connect();
      } catch (const Exception& e) {
        DoLoginFailure(&e);
      }
    }
  }
  if (GetConnected()) {
    login_aborted_ = false;
  } else {
    DoLoginFailure(nullptr);
  }
}

void TIB_Connection::SysBeforeConnect() {
  if (status_ != cstConnectPendingNoLogin) {
    status_ = cstConnectPending;
  }
  try {
    DoBeforeConnect();
    ProcessLinkEvent(cetBeforeConnect);
  } catch (...) {
    ResetStatus();
    throw;
  }
}

void TIB_Connection::SysAfterConnect() {
  if (login_registry_flag_) {
    login_registry_flag_ = false;
    WriteLoginRegistry();
  }
  status_ = cstConnected;
  facts_loaded_ = false;
  switch (parameter_order_) {
    case poOld:
      old_parameter_order_ = true;
      break;
    case poNew:
      old_parameter_order_ = false;
      break;
    case poAuto:
      old_parameter_order_ = ProbeOldParameterOrder();
      break;
  }
  InvalidateSchemaCache();
  ProcessLinkEvent(cetConnectedChanged);
  ProcessLinkEvent(cetAfterConnect);
  DoConnectedChanged();
  DoAfterConnect();
}

void TIB_Connection::SysDisconnect() {
  if (!GetConnected()) {
    return;
  }
  SysBeforeDisconnect();
  pending_detach_error_ = nullptr;
  try {
    API_Disconnect();
  } catch (...) {
    ResetStatus();
    throw;
  }
  SysAfterDisconnect();
  // A detach the server refused after shutting the attachment: the connection is
  // disconnected, and the failure is reported, not dropped.
  if (pending_detach_error_ != nullptr) {
    std::exception_ptr error = pending_detach_error_;
    pending_detach_error_ = nullptr;
    std::rethrow_exception(error);
  }
}

bool TIB_Connection::AttachmentAnswers() {
  if (db_handle_ == 0 || ClientCallTable.isc_database_info == nullptr) {
    return false;
  }
  static const char items[] = {static_cast<char>(isc_info_forced_writes),
                               static_cast<char>(isc_info_end)};
  char buffer[32] = {};
  ISC_STATUS_ARRAY status{};
  return CallClient(ClientCallTable.isc_database_info, status, &db_handle_,
                    static_cast<short>(sizeof items), items, static_cast<short>(sizeof buffer),
                    buffer) == 0;
}

void TIB_Connection::SysBeforeDisconnect() {
  status_ = cstDisconnectPending;
  try {
    DoBeforeDisconnect();
    EndTransactions();
    UnprepareStatements();
    ProcessLinkEvent(cetBeforeDisconnect);
  } catch (...) {
    ResetStatus();
    throw;
  }
}

void TIB_Connection::SysAfterDisconnect() {
  status_ = cstDisconnected;
  InvalidateSchemaCache();
  ProcessLinkEvent(cetConnectedChanged);
  ProcessLinkEvent(cetAfterDisconnect);
  DoConnectedChanged();
  DoAfterDisconnect();
}

void TIB_Connection::SysCreateDatabase() {
  if (GetConnected()) {
    return;
  }
  SysBeforeConnect();
  status_ = cstCreatePending;
  try {
    DoBeforeCreateDatabase();
    ProcessLinkEvent(cetBeforeCreateDatabase);
    API_Connect();
  } catch (...) {
    // Not left pending: a later attach must not create the database.
    ResetStatus();
    throw;
  }
  status_ = cstConnected;
  ProcessLinkEvent(cetAfterCreateDatabase);
  DoAfterCreateDatabase();
  SysAfterConnect();
}

void TIB_Connection::SysDropDatabase() {
  if (!GetConnected()) {
    return;
  }
  SysBeforeDisconnect();
  status_ = cstDropPending;
  try {
    DoBeforeDropDatabase();
    ProcessLinkEvent(cetBeforeDropDatabase);
    API_Disconnect();
  } catch (...) {
    ResetStatus();
    throw;
  }
  SysAfterDisconnect();
  ProcessLinkEvent(cetAfterDropDatabase);
  DoAfterDropDatabase();
}

void TIB_Connection::Open() { OpenConnection(); }

void TIB_Connection::Close() { CloseConnection(); }

void TIB_Connection::OpenConnection() {
  if (GetConnected()) {
    ProcessLinkEvent(cetConnectedChanged);
    return;
  }
  TIB_BusyBracket busy(*this, false);
  Connect(false);
}

void TIB_Connection::CloseConnection() {
  if (!GetConnected()) {
    ProcessLinkEvent(cetConnectedChanged);
    return;
  }
  TIB_BusyBracket busy(*this, false);
  SysDisconnect();
}

void TIB_Connection::CreateDatabase() {
  if (GetConnected()) {
    RaiseConnectionError(this, TIB_Msg::AlreadyConnected);
  }
  TIB_BusyBracket busy(*this, false);
  SysCreateDatabase();
}

void TIB_Connection::DropDatabase() {
  if (!GetConnected()) {
    RaiseConnectionError(this, TIB_Msg::NotConnected);
  }
  TIB_BusyBracket busy(*this, false);
  SysDropDatabase();
}

// --- Login --------------------------------------------------------------------------------------

AnsiString TIB_Connection::LoginRegistryKey() const {
  if (login_reg_key_.empty()) {
    return {};
  }
  if (login_reg_key_ == "%DEFAULT%") {
    AnsiString program = Application() != nullptr ? Application()->ExeName() : AnsiString();
    program = ChangeFileExt(ExtractFileName(program), "");
    return "Software\\Apps\\" + program;
  }
  return login_reg_key_;
}

void TIB_Connection::DoLogin() {
  const AnsiString key = LoginRegistryKey();
  if (!key.empty()) {
    TRegIniFile ini(key);
    const AnsiString last_user = ini.ReadString(kLoginSection, "LastUser", "");
    const AnsiString last_role = ini.ReadString(kLoginSection, "LastRole", "");
    const AnsiString database = ini.ReadString(kLoginSection, "Database", kNoDatabase);
    if (database != kNoDatabase) {
      SetConnectString(database);
    } else {
      ini.WriteString(kLoginSection, "Database", GetConnectString());
    }
    if (!last_user.empty()) SetUsername(last_user);
    if (!last_role.empty()) SetSQLRole(last_role);
    login_registry_flag_ = true;
  }
  if (OnLogin) {
    OnLogin(this, login_aborted_);
  } else {
    ExecuteLoginDialog();
  }
}

void TIB_Connection::WriteLoginRegistry() {
  const AnsiString key = LoginRegistryKey();
  if (key.empty()) {
    return;
  }
  TRegIniFile ini(key);
  ini.WriteString(kLoginSection, "Database", GetConnectString());
  ini.WriteString(kLoginSection, "LastUser", Username());
  ini.WriteString(kLoginSection, "LastRole", SQLRole());
}

void TIB_Connection::ExecuteLoginDialog() {
  if (!LoginDialogHook) {
    // No dialog in this program: the prompt ends as cancelled.
    login_aborted_ = true;
    return;
  }
  TIB_LoginDialogValues values;
  values.Caption = login_caption_;
  values.Database = GetConnectString();
  values.DatabaseReadOnly = login_db_read_only_;
  values.Username = GetLoginUsername();
  values.Password = GetPassword();
  values.SQLRole = GetLoginSQLRole();
  values.SQLRoles = SplitToStrings(login_sql_role_list_);
  values.HelpContext = login_help_context_;
  if (!LoginDialogHook(this, values)) {
    login_aborted_ = true;
    return;
  }
  SetConnectString(values.Database);
  SetLoginUsername(values.Username);
  SetPassword(values.Password);
  SetLoginSQLRole(values.SQLRole);
}

void TIB_Connection::DoLoginFailure(const Exception* E) {
  if (E != nullptr) {
    // Called inside the handler of the failed attempt: the application shows it.
    if (Application() != nullptr) {
      Application()->HandleException(this);
    }
    return;
  }
  if (login_aborted_ && !login_aborted_show_message_) {
    Abort();
  }
  if (OnLoginFailure) {
    OnLoginFailure(this);
  }
  RaiseConnectionError(this, TIB_Msg::LoginFailed);
}

namespace {

AnsiString StripPrefix(const AnsiString& Value, const AnsiString& Prefix) {
  if (Prefix.empty()) return Value;
  const size_t at = Value.find(Prefix);
  return at == AnsiString::npos ? Value : Value.substr(at + Prefix.size());
}

bool IsBuiltInUser(const AnsiString& User) { return User == "SYSDBA" || User == "PUBLIC"; }

}  // namespace

AnsiString TIB_Connection::GetLoginUsername() {
  const AnsiString user = Username();
  if (user.empty() || IsBuiltInUser(user)) return user;
  return StripPrefix(user, login_username_prefix_);
}

void TIB_Connection::SetLoginUsername(const AnsiString& S) {
  SetUsername(!S.empty() && !IsBuiltInUser(S) ? login_username_prefix_ + S : S);
}

AnsiString TIB_Connection::GetLoginSQLRole() {
  const AnsiString role = SQLRole();
  return role.empty() ? role : StripPrefix(role, login_sql_role_prefix_);
}

void TIB_Connection::SetLoginSQLRole(const AnsiString& S) {
  SetSQLRole(S.empty() ? S : login_sql_role_prefix_ + S);
}

// --- Components and links ------------------------------------------------------------------------

namespace {

template <class T>
void AddOnce(std::vector<T*>& List, T* Item) {
  if (Item != nullptr && std::find(List.begin(), List.end(), Item) == List.end()) {
    List.push_back(Item);
  }
}

template <class T>
T* EntryAt(const std::vector<T*>& List, int32_t Index) {
  return Index >= 0 && Index < static_cast<int32_t>(List.size()) ? List[static_cast<size_t>(Index)]
                                                                 : nullptr;
}

}  // namespace

void TIB_Connection::AddTransaction(TIB_Transaction* Tr) {
  // The schema cache's read transaction is the cache's own: it ends with the cache's
  // cursors (FreeCursors), not among the application's transactions.
  if (schema_cache_ != nullptr && schema_cache_->IsOwnTransaction(Tr)) return;
  AddOnce(transactions_, Tr);
}
void TIB_Connection::RemoveTransaction(TIB_Transaction* Tr) {
  RemoveFromComponentList(transactions_, Tr);
}
void TIB_Connection::AddStatement(TIB_Component* Statement) { AddOnce(statements_, Statement); }
void TIB_Connection::RemoveStatement(TIB_Component* Statement) {
  RemoveFromComponentList(statements_, Statement);
}
void TIB_Connection::AddDataset(TIB_Component* Dataset) { AddOnce(datasets_, Dataset); }
void TIB_Connection::RemoveDataset(TIB_Component* Dataset) {
  RemoveFromComponentList(datasets_, Dataset);
}
TIB_Transaction* TIB_Connection::GetTransaction(int32_t Index) const {
  return EntryAt(transactions_, Index);
}
TIB_Component* TIB_Connection::GetStatement(int32_t Index) const {
  return EntryAt(statements_, Index);
}
TIB_Component* TIB_Connection::GetDataset(int32_t Index) const { return EntryAt(datasets_, Index); }

void TIB_Connection::AddConnectionLink(TIB_ConnectionLink* Link) { AddOnce(links_, Link); }

void TIB_Connection::RemoveConnectionLink(TIB_ConnectionLink* Link) {
  RemoveFromComponentList(links_, Link);
}

void TIB_Connection::ProcessLinkEvent(TIB_ConnectionEventType AEvent) {
  // A copy: a link may leave while it handles the event; one that has left is skipped.
  const std::vector<TIB_ConnectionLink*> links = links_;
  for (auto it = links.rbegin(); it != links.rend(); ++it) {
    if (std::find(links_.begin(), links_.end(), *it) != links_.end()) {
      (*it)->ProcessEvent(AEvent);
    }
  }
}

void TIB_Connection::EndTransactions() {
  size_t i = 0;
  while (i < transactions_.size()) {
    const std::vector<TIB_Transaction*> before = transactions_;
    transactions_[i]->Close();
    i = transactions_ == before ? i + 1 : 0;
  }
}

void TIB_Connection::UnprepareStatements() {
  size_t i = 0;
  while (i < statements_.size()) {
    const std::vector<TIB_Component*> before = statements_;
    UnprepareStatement(statements_[i]);
    i = statements_ == before ? i + 1 : 0;
  }
  TrimStatementHandles(0);
}

void TIB_Connection::SysBeforeExecDDL() {
  DoBeforeExecDDL();
  ProcessLinkEvent(cetBeforeExecDDL);
}

void TIB_Connection::SysAfterExecDDL() {
  DeleteSchemaCacheFiles();
  InvalidateSchemaCache();
  ProcessLinkEvent(cetAfterExecDDL);
  DoAfterExecDDL();
}

void TIB_Connection::InvalidateSchemaCache() {
  if (schema_cache_ != nullptr) schema_cache_->Invalidate();
}

void TIB_Connection::DeleteSchemaCacheFiles() {
  if (schema_cache_ != nullptr) schema_cache_->DeleteCacheFiles();
}

void TIB_Connection::SetSchemaCacheDir(const AnsiString& V) {
  schema_cache_dir_ = V;
  if (schema_cache_ != nullptr) schema_cache_->SetCacheDir(V);
}

void TIB_Connection::FlushSchemaCache() {
  SysAfterExecDDL();
  TrimStatementHandles(0);
}

// --- Other properties -----------------------------------------------------------------------------

void TIB_Connection::SetAnnounceFocus(bool Value) {
  if (Value == announce_focus_) {
    return;
  }
  announce_focus_ = Value;
  if (Value) {
    SetFocus();
  }
}

void TIB_Connection::SetFocus() { GetIB_Session()->SetFocusedConnection(this); }

void TIB_Connection::DoGainFocus() {
  if (OnGainFocus && !ComponentState().Contains(csReading) && !IsDestroying()) {
    OnGainFocus(this);
  }
}

void TIB_Connection::DoLoseFocus() {
  if (OnLoseFocus && !ComponentState().Contains(csReading) && !IsDestroying()) {
    OnLoseFocus(this);
  }
}

void TIB_Connection::SetDefaultTransaction(TIB_Transaction* Value) {
  if (Value == default_transaction_) {
    return;
  }
  if (default_transaction_ != nullptr) {
    default_transaction_->RemoveFreeNotification(this);
  }
  default_transaction_ = Value;
  if (Value != nullptr) {
    Value->FreeNotification(this);
  }
}

void TIB_Connection::SetCacheStatementHandles(bool Value) {
  cache_statement_handles_ = Value;
  if (!Value) {
    TrimStatementHandles(0);
  }
}

void TIB_Connection::SetMacroBegin(const AnsiString& V) {
  macro_begin_ = Trim(V).empty() ? AnsiString("<") : V;
}

void TIB_Connection::SetMacroEnd(const AnsiString& V) {
  macro_end_ = Trim(V).empty() ? AnsiString(">") : V;
}

bool TIB_Connection::WantsSessionTimer() {
  return (db_handle_ != 0 && db_handle_ != kPlaceholderHandle) ||
         TIB_Component::WantsSessionTimer();
}

void TIB_Connection::DoSessionTimer(bool& IsDone, bool&, bool&) { IsDone = true; }

void TIB_Connection::DoProcessSearchBuffer(TIB_Column* IB_Field, AnsiString& SearchBuffer,
                                           TStrings* WhereClause, TStrings* Parameters,
                                           TStrings* Macros, bool& DefaultHandling) {
  if (OnProcessSearchBuffer) {
    OnProcessSearchBuffer(this, IB_Field, SearchBuffer, WhereClause, Parameters, Macros,
                          DefaultHandling);
  }
}

void TIB_Connection::DoSoundExParse(const AnsiString& SourceStr, AnsiString& ResultStr) {
  if (OnSoundExParse) {
    OnSoundExParse(this, SourceStr, ResultStr);
  } else {
    ResultStr = IntToStr(SoundExKey(SourceStr));
  }
}

void TIB_Connection::DoSoundExMaxParse(const AnsiString& SourceStr, AnsiString& ResultStr) {
  if (OnSoundExMaxParse) {
    OnSoundExMaxParse(this, SourceStr, ResultStr);
  } else if (OnSoundExParse) {
    OnSoundExParse(this, SourceStr, ResultStr);
  } else {
    ResultStr = IntToStr(SoundExMaxKey(SourceStr));
  }
}

// --- Events ---------------------------------------------------------------------------------------

namespace {

void Fire(const TIB_ConnectionEvent& Event, TIB_Connection* Sender, bool Destroying) {
  if (Event && !Destroying) {
    Event(Sender);
  }
}

}  // namespace

void TIB_Connection::DoBeforeConnect() { Fire(BeforeConnect, this, IsDestroying()); }
void TIB_Connection::DoAfterConnect() { Fire(AfterConnect, this, IsDestroying()); }
void TIB_Connection::DoBeforeDisconnect() { Fire(BeforeDisconnect, this, IsDestroying()); }
void TIB_Connection::DoAfterDisconnect() { Fire(AfterDisconnect, this, IsDestroying()); }
void TIB_Connection::DoConnectedChanged() { Fire(OnConnectedChanged, this, IsDestroying()); }
void TIB_Connection::DoBeforeExecDDL() { Fire(BeforeExecDDL, this, IsDestroying()); }
void TIB_Connection::DoAfterExecDDL() { Fire(AfterExecDDL, this, IsDestroying()); }
void TIB_Connection::DoBeforeCreateDatabase() { Fire(BeforeCreateDatabase, this, IsDestroying()); }
void TIB_Connection::DoAfterCreateDatabase() { Fire(AfterCreateDatabase, this, IsDestroying()); }
void TIB_Connection::DoBeforeDropDatabase() { Fire(BeforeDropDatabase, this, IsDestroying()); }
void TIB_Connection::DoAfterDropDatabase() { Fire(AfterDropDatabase, this, IsDestroying()); }

// --- Connection link ------------------------------------------------------------------------------

TIB_ConnectionLink::TIB_ConnectionLink(TComponent* Owner) : TIB_Component(Owner) {}

TIB_ConnectionLink::~TIB_ConnectionLink() {
  SetIB_Connection(nullptr);
  SetIB_Session(nullptr);
}

void TIB_ConnectionLink::SetIB_Connection(TIB_Connection* AConnection) {
  if (AConnection == connection_) {
    return;
  }
  ProcessEvent(cetBeforeAssignment);
  if (connection_ != nullptr) {
    connection_->RemoveConnectionLink(this);
  }
  connection_ = AConnection;
  if (AConnection != nullptr) {
    AConnection->AddConnectionLink(this);
  }
  ProcessEvent(cetAfterAssignment);
}

void TIB_ConnectionLink::ProcessEvent(TIB_ConnectionEventType AEvent) {
  if (OnProcessEvent) {
    OnProcessEvent(this, AEvent);
  }
}

void TIB_ConnectionLink::DoReceiveFocus(TIB_Component* Focused) {
  auto* connection = dynamic_cast<TIB_Connection*>(Focused);
  if (!receive_focus_ || connection == connection_) {
    return;
  }
  if (OnReceiveFocus) {
    OnReceiveFocus(this, connection);
  } else {
    SetIB_Connection(connection);
  }
}

void TIB_ConnectionLink::SetReceiveFocus(bool V) {
  receive_focus_ = V;
  if (V && !ComponentState().Contains(csReading)) {
    DoReceiveFocus(GetIB_Session()->FocusedConnection());
  }
}

void TIB_ConnectionLink::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) {
    return;
  }
  if (session_ != nullptr && !internal_) {
    RemoveFromComponentList(session_->ConnectionLinkList(), this);
  }
  TIB_Component::SetIB_Session(Value);
  if (session_ != nullptr && !internal_) {
    session_->ConnectionLinkList().push_back(this);
    if (!ComponentState().Contains(csReading)) {
      DoReceiveFocus(session_->FocusedConnection());
    }
  }
}

void TIB_ConnectionLink::Loaded() {
  TIB_Component::Loaded();
  DoReceiveFocus(GetIB_Session()->FocusedConnection());
}

}  // namespace pelvar
