#include "sync/DmMeld.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <filesystem>
#include <map>
#include <optional>
#include <system_error>
#include <utility>

#include "dbengine/IB_Components_dataset.h"
#include "platform/application.h"
#include "platform/codepage.h"
#include "platform/dateutils.h"
#include "platform/dialogs.h"
#include "platform/exceptions.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

TDMMeldrun*& Instance() {
  static TDMMeldrun* instance = nullptr;
  return instance;
}

bool Contains(const AnsiString& text, const char* word) {
  return AnsiPos(AnsiUpperCase(word), AnsiUpperCase(text)) > 0;
}

namespace fs = std::filesystem;

// Runs a query of one value on a database of its own attachment; read gives it.
template <typename Read>
auto QueryValue(const AnsiString& connect_string, const AnsiString& sql, Read read) {
  TComponent owner(nullptr);
  auto* connection = new TIB_Connection(&owner);
  connection->SetDatabaseName(connect_string);
  connection->SetUsername(AdministratorUser);
  connection->SetPassword(AdministratorPassword);
  connection->SetSQLDialect(3);
  connection->SetLoginPrompt(false);
  connection->Open();
  auto* transaction = new TIB_Transaction(&owner);
  transaction->SetIB_Connection(connection);
  auto* cursor = new TIB_Cursor(&owner);
  cursor->SetIB_Connection(connection);
  cursor->SetIB_Transaction(transaction);
  cursor->SQL()->SetText(sql);
  cursor->Open();
  cursor->First();
  const auto value = read(cursor->Fields()->GetColumn(0));
  cursor->Close();
  transaction->Commit();
  connection->Close();
  return value;
}

int32_t QueryInteger(const AnsiString& connect_string, const AnsiString& sql) {
  return QueryValue(connect_string, sql, [](TIB_Column* c) { return c->GetAsInteger(); });
}

// A restore whose backup ends early can end without an error from the server, leaving
// a database that was never brought online (the server keeps it shut down while it
// restores). A finished restore is online.
void CheckRestoredDatabaseOnline(const AnsiString& connect_string, const AnsiString& shown_name) {
  if (QueryInteger(connect_string, "select MON$SHUTDOWN_MODE from MON$DATABASE") != 0) {
    throw EDatabaseError(Format(
        CZ("Obnova databáze %s nebyla dokončena: záloha je neúplná nebo poškozená."), {shown_name}));
  }
}

// A database that somebody (this program included) is attached to must not be
// replaced; a file that cannot be opened as a database is not replaced either.
void CheckNotInUse(const AnsiString& connect_string, const AnsiString& database_file) {
  const int32_t others = QueryInteger(
      connect_string,
      "select count(*) from MON$ATTACHMENTS where MON$ATTACHMENT_ID <> current_connection "
      "and MON$SYSTEM_FLAG = 0");
  if (others > 0) {
    throw EDatabaseError(
        Format(CZ("Databázi %s nelze nahradit: je právě používána."), {database_file}));
  }
}

// The file a local restore is made in before it replaces its target.
AnsiString WorkFileFor(const AnsiString& target) {
  for (int i = 0;; ++i) {
    const AnsiString work = target + ".restoring" + (i ? IntToStr(i) : AnsiString());
    std::error_code ec;
    if (!fs::exists(SysFileName(work), ec)) return work;
  }
}

}  // namespace

TDMMeldrun* DMMeldrun() { return Instance(); }

TDMMeldrun::TDMMeldrun(TComponent* owner, TMainFormLink& main_form)
    : TComponent(owner), main_form_(main_form) {
  SetName("DMMeldrun");
  src_ = new TREZDatabase(this);
  src_->SetName("Src");
  src_->SetSQLDialect(3);
  src_->SetIsolation(tiCommitted);
  dst_ = new TREZDatabase(this);
  dst_->SetName("Dst");
  dst_->SetSQLDialect(3);
  dst_->SetIsolation(tiCommitted);
  auto transaction = [this](const char* name, TREZDatabase* database) {
    auto* t = new TREZTransaction(this);
    t->SetName(name);
    t->SetIB_Connection(database);
    t->SetIsolation(tiCommitted);
    return t;
  };
  rez_transaction_dst_ = transaction("REZTransactionDst", dst_);
  rez_transaction_src_ = transaction("REZTransactionSrc", src_);
  rez_transaction_tmp_src_ = transaction("REZTransactionTmpSrc", src_);
  ib_query_dst_ = NewQuery("IBQueryDst", dst_, rez_transaction_dst_);
  ib_query_src_ = NewQuery("IBQuerySrc", src_, rez_transaction_src_);
  ib_query_tmp_src_ = NewQuery("IBQueryTmpSrc", src_, rez_transaction_tmp_src_);
  ib_query_dsearch_ = NewQuery("IBQueryDSearch", dst_, rez_transaction_dst_);
  ib_dataset_dsearch_ = new TREZTable(this);
  ib_dataset_dsearch_->SetName("IBDataSetDSearch");
  ib_dataset_dsearch_->SetIB_Connection(dst_);
  ib_dataset_dsearch_->SetIB_Transaction(rez_transaction_dst_);
  ib_query_dst_other_ = NewQuery("IBQueryDstOther", dst_, rez_transaction_dst_);
  ib_query_ssearch_ = NewQuery("IBQuerySSearch", src_, rez_transaction_src_);
  ib_query_src_other_ = NewQuery("IBQuerySrcOther", src_, rez_transaction_src_);
  ib_table_orig_save_ = new TREZTable(this);
  ib_table_orig_save_->SetName("IBTableOrigSave");
  ib_table_orig_save_->SetIB_Connection(dst_);
  ib_table_orig_save_->SetIB_Transaction(rez_transaction_dst_);
  memory_doklad_ = new TMemoryData(this);
  memory_doklad_->SetName("MemoryDoklad");
  memory_den_zaznam_ = new TMemoryData(this);
  memory_den_zaznam_->SetName("MemoryDenZaznam");
  memory_doklad_polozka_ = new TMemoryData(this);
  memory_doklad_polozka_->SetName("MemoryDokladPolozka");
  ib_backup_service_ = new TIBBackupService(this);
  ib_backup_service_->SetName("IBBackupService");
  ib_backup_service_->SetLoginPrompt(false);
  ib_restore_service_ = new TIBRestoreService(this);
  ib_restore_service_->SetName("IBRestoreService");
  ib_restore_service_->SetLoginPrompt(false);
  ib_backup_service1_ = new TIBBackupService(this);
  ib_backup_service1_->SetName("IBBackupService1");
  ib_backup_service1_->SetLoginPrompt(false);
  ib_restore_service1_ = new TIBRestoreService(this);
  ib_restore_service1_->SetName("IBRestoreService1");
  ib_restore_service1_->SetLoginPrompt(false);

  // DataModuleCreate
  progress_window_ = new TfrmPracuji(this);
  memo_progress_window_ = new TfrmPracujiMemo(this);
  backup_settings_ = std::make_unique<TBackUpDatabaseSetings>();
  restore_settings_ = std::make_unique<TRestoreDatabaseSettings>();
  main_server_name_ = main_form_.ReadIniString("SERVER", "ServerName", "localhost");
  main_server_protocol_ =
      ServiceProtocolFromText(main_form_.ReadIniString("SERVER", "ServerProtocol", "local"));
  connect_protocol_ =
      ConnectProtocolFromText(main_form_.ReadIniString("WORKSTATION", "MyProtocol", "local"));
  ResetChunking();
  IsLastCycle = false;
  LowestVersion = 999999;
  error_list_ = std::make_unique<TStringList>();
  document_statuses_ = std::make_unique<TStringList>();

  if (Instance() == nullptr) Instance() = this;
}

TDMMeldrun::~TDMMeldrun() {
  if (Instance() == this) Instance() = nullptr;
  station_mappings_.clear();
  for (TREZDatabase* db : {src_, dst_}) {
    try {
      if (db->Connected()) db->SetConnected(false);
    } catch (...) {
      // The program is ending; a failing detach has nobody left to tell.
    }
  }
  CycleUpperKeys.clear();
  CycleLowerKeys.clear();
  if (error_list_->Count() > 0) {
    try {
      error_list_->SaveToFile("Errors.txt");
    } catch (...) {
      Application()->HandleException(this);
    }
  }
}

TREZQuery* TDMMeldrun::NewQuery(const char* name, TREZDatabase* database,
                                TREZTransaction* transaction) {
  auto* q = new TREZQuery(this);
  q->SetName(name);
  q->SetIB_Connection(database);
  q->SetIB_Transaction(transaction);
  return q;
}

TProtocol TDMMeldrun::ServiceProtocolFromText(const AnsiString& text) {
  if (Contains(text, "Local")) return TProtocol::Local;
  if (Contains(text, "NamedPipe")) return TProtocol::NamedPipe;
  if (Contains(text, "TCP")) return TProtocol::TCP;
  if (Contains(text, "SPX")) return TProtocol::SPX;
  return TProtocol::Local;
}

TIB_Protocol TDMMeldrun::ConnectProtocolFromText(const AnsiString& text) {
  if (Contains(text, "Local")) return cpLocal;
  if (Contains(text, "NamedPipe")) return cpNetBEUI;
  if (Contains(text, "TCP")) return cpTCP_IP;
  if (Contains(text, "SPX")) return cpNovell;
  return cpLocal;
}

void TDMMeldrun::Open(TREZDatabase* database, const AnsiString& database_path,
                      const AnsiString& user_name, const AnsiString& password,
                      const char* failure_prefix) {
  try {
    database->Params()->Clear();
    database->SetPath(database_path);
    database->SetUsername(user_name);
    database->SetPassword(password);
    database->SetCharSet("WIN1250");
    if (connect_protocol_ != cpLocal) {
      database->SetProtocol(connect_protocol_);
      database->SetServer("localhost");
    } else {
      database->SetProtocol(cpLocal);
      database->SetServer("");
    }
    database->SetSQLDialect(3);
    database->SetLoginPrompt(false);
    database->SetConnected(true);
  } catch (const std::exception& e) {
    const auto* ex = dynamic_cast<const Exception*>(&e);
    throw EDatabaseError(CZ(failure_prefix) + AnsiString(ex ? ex->Message() : AnsiString(e.what())));
  }
}

void TDMMeldrun::OpenSrc(const AnsiString& database_path, const AnsiString& user_name,
                         const AnsiString& password) {
  Open(src_, database_path, user_name, password, "Otevření zdrojové databáze skončilo chybou:");
}

void TDMMeldrun::OpenDst(const AnsiString& database_path, const AnsiString& user_name,
                         const AnsiString& password) {
  Open(dst_, database_path, user_name, password, "Otevření cílové databáze skončilo chybou:");
}

void TDMMeldrun::InitStationLists(int32_t count) {
  station_mappings_.clear();
  for (int32_t i = 0; i < count; ++i) station_mappings_.push_back(std::make_unique<TStringList>());
  station_journal_keys_.assign(static_cast<size_t>(std::max(count, 0)), {});
}

// --- Statements and single values ------------------------------------------------------

namespace {

// Ends the failing work retaining the context; a failure of the rollback itself must not
// hide the error that caused it.
void RollbackRetainingQuietly(TIB_Transaction* transaction) {
  try {
    if (IsTransactionStarted(transaction)) transaction->RollbackRetaining();
  } catch (...) {
  }
}

void CloseQuietly(TDataSet* query) {
  try {
    query->Close();
  } catch (...) {
  }
}

// A key of a mapping line or a station list: an integer, or a clear error naming the
// line it came from. Going through the number keeps any other text out of the SQL.
int32_t KeyOf(const AnsiString& text, const AnsiString& line) {
  int32_t value = 0;
  if (!TryStrToInt(Trim(text), value)) {
    throw EConvertError(Format(CZ("Chybný klíč \"%s\" v záznamu \"%s\"."), {text, line}));
  }
  return value;
}

AnsiString Sql(const char* pattern, std::initializer_list<TVarRec> args) {
  return Format(pattern, args);
}

}  // namespace

void TDMMeldrun::Exec(TREZQuery* query, const AnsiString& sql) {
  TIB_Transaction* transaction = query->IB_Transaction();
  if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
  try {
    if (query->Active()) query->Close();
    query->SQL()->SetText(sql);
    query->Prepare();
    query->ExecSQL();
    transaction->CommitRetaining();
  } catch (...) {
    RollbackRetainingQuietly(transaction);
    CloseQuietly(query);
    throw;
  }
  query->Close();
}

bool TDMMeldrun::ExecDst(const AnsiString& sql) {
  Exec(ib_query_dst_, sql);
  return true;
}

bool TDMMeldrun::ExecSrc(const AnsiString& sql) {
  Exec(ib_query_src_, sql);
  return true;
}

Variant TDMMeldrun::Select(TREZQuery* query, const AnsiString& sql, bool last) {
  Variant result = Variant::MakeNull();
  TIB_Transaction* transaction = query->IB_Transaction();
  if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
  try {
    if (query->Active()) query->Close();
    query->SQL()->SetText(sql);
    query->Prepare();
    query->OpenAndFetchAll();
    if (!query->IsEmpty()) {
      if (last) {
        query->Last();
      } else {
        query->First();
      }
      result = query->Fields(0)->AsVariant();
    }
    if (HoldsWrites(transaction)) transaction->CommitRetaining();
  } catch (...) {
    RollbackRetainingQuietly(transaction);
    CloseQuietly(query);
    throw;
  }
  query->Close();
  return result;
}

Variant TDMMeldrun::SelectSrc(const AnsiString& sql) { return Select(ib_query_src_, sql, false); }
Variant TDMMeldrun::SelectDst(const AnsiString& sql) { return Select(ib_query_dst_, sql, false); }
Variant TDMMeldrun::SelectTmpSrc(const AnsiString& sql) {
  return Select(ib_query_tmp_src_, sql, false);
}
Variant TDMMeldrun::SelectTmpSrcLast(const AnsiString& sql) {
  return Select(ib_query_tmp_src_, sql, true);
}

void TDMMeldrun::CommitBoth() {
  if (IsTransactionStarted(rez_transaction_dst_)) rez_transaction_dst_->CommitRetaining();
  if (IsTransactionStarted(rez_transaction_src_)) rez_transaction_src_->CommitRetaining();
}

bool TDMMeldrun::CheckDatabaseVersion(const AnsiString& which, int32_t expected) {
  const AnsiString w = AnsiLowerCase(which);
  const bool station = w == "src" || w == "source";
  const AnsiString name = station ? CZ("Sehrávané") : CZ("Hlavní");
  const Variant v = station ? SelectSrc("select VERZE from VERZE") : SelectDst("select VERZE from VERZE");
  const int32_t version = v.AsInteger();
  if (version < LowestVersion) LowestVersion = version;
  if (version == expected) return true;
  return MessageDlg(Format(CZ("Verze %s databáze (%d) neodpovídá verzi sehrávacího programu (%d).\r\n"
                              "           Přejete si přesto pokračovat v sehrávání dat?"),
                           {name, version, expected}),
                    mtConfirmation, {mbYes, mbNo}) == mrYes;
}

// --- Texts -----------------------------------------------------------------------------

AnsiString TDMMeldrun::CutToken(AnsiString& text, char separator) {
  const size_t at = text.find(separator);
  if (at == AnsiString::npos) {
    AnsiString token = std::move(text);
    text.clear();
    return token;
  }
  AnsiString token = Trim(text.substr(0, at));
  text.erase(0, at + 1);
  return token;
}

int32_t TDMMeldrun::SplitToList(TStrings* list, AnsiString text, char separator) {
  if (list == nullptr) return 0;
  list->Clear();
  while (!text.empty()) list->Add(CutToken(text, separator));
  return list->Count();
}

int32_t TDMMeldrun::LastCharPos(char ch, const AnsiString& text) {
  const size_t at = text.rfind(ch);
  return at == AnsiString::npos ? 0 : static_cast<int32_t>(at) + 1;
}

// --- Key mappings and the journal ---------------------------------------------------------

namespace {

TStringList& StationList(std::vector<std::unique_ptr<TStringList>>& lists, int32_t index) {
  if (index < 0 || static_cast<size_t>(index) >= lists.size()) {
    throw EListError(Format(CZ("Seznam převodů klíčů stanice %d neexistuje (stanic: %d)."),
                            {index, static_cast<int32_t>(lists.size())}));
  }
  return *lists[static_cast<size_t>(index)];
}

}  // namespace

void TDMMeldrun::AddIdMapping(const AnsiString& table, const AnsiString& old_key,
                              const AnsiString& new_key) {
  TStringList& list = StationList(station_mappings_, main_form_.StationIndex());
  const AnsiString line = table + "|" + old_key + "|" + new_key;
  // A row's mapping is met by more than one step of its post (the copy engine's key,
  // the write-back, the engine's own record): one entry is enough.
  if (list.Count() > 0 && list.Strings(list.Count() - 1) == line) return;
  list.Add(line);
}

bool TDMMeldrun::KeepsMappings() const {
  const int32_t index = main_form_.StationIndex();
  return index >= 0 && static_cast<size_t>(index) < station_mappings_.size();
}

namespace {

// The rows of a two-column read on query as text pairs; the query is closed afterwards.
std::vector<std::pair<AnsiString, AnsiString>> ReadPairs(TREZQuery* query, const AnsiString& sql) {
  std::vector<std::pair<AnsiString, AnsiString>> rows;
  TIB_Transaction* transaction = query->IB_Transaction();
  if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
  try {
    if (query->Active()) query->Close();
    query->SQL()->SetText(sql);
    query->Prepare();
    query->Open();
    while (!query->Eof()) {
      rows.emplace_back(Trim(query->Fields(0)->AsString()),
                        query->FieldCount() > 1 ? Trim(query->Fields(1)->AsString()) : AnsiString());
      query->Next();
    }
  } catch (...) {
    CloseQuietly(query);
    throw;
  }
  query->Close();
  return rows;
}

}  // namespace

void TDMMeldrun::ReadJournalKeyColumns() {
  journal_key_columns_.clear();
  marked_tables_.clear();
  for (const auto& [table, column] : ReadPairs(
           ib_query_tmp_src_,
           "select c.RDB$RELATION_NAME, s.RDB$FIELD_NAME from RDB$RELATION_CONSTRAINTS c join "
           "RDB$INDEX_SEGMENTS s on s.RDB$INDEX_NAME = c.RDB$INDEX_NAME where c.RDB$CONSTRAINT_TYPE = "
           "'PRIMARY KEY' and s.RDB$FIELD_POSITION = 0")) {
    journal_key_columns_[table] = column;
  }
  // The journal triggers name a laboratory link by its request item.
  if (journal_key_columns_.count("LAB_VAZBY")) journal_key_columns_["LAB_VAZBY"] = "ID_POLOZKA_ZADANKY";
  for (const auto& [table, unused] :
       ReadPairs(ib_query_tmp_src_, "select RDB$RELATION_NAME, RDB$FIELD_NAME from RDB$RELATION_FIELDS where "
                                    "RDB$FIELD_NAME = 'ST'")) {
    marked_tables_.insert(table);
  }
  journal_key_columns_read_ = true;
}

AnsiString TDMMeldrun::JournalKeyColumn(const AnsiString& table) {
  if (!journal_key_columns_read_) {
    if (!src_->Connected()) return AnsiString();
    ReadJournalKeyColumns();
  }
  const auto it = journal_key_columns_.find(AnsiUpperCase(table));
  return it == journal_key_columns_.end() ? AnsiString() : it->second;
}

void TDMMeldrun::ReadStationJournalKeys() {
  const int32_t index = main_form_.StationIndex();
  if (index < 0 || static_cast<size_t>(index) >= station_journal_keys_.size()) return;
  ReadJournalKeyColumns();
  std::map<AnsiString, std::set<int32_t>>& keys = station_journal_keys_[static_cast<size_t>(index)];
  keys.clear();
  for (const auto& [name, unused] : ReadPairs(ib_query_tmp_src_, "select distinct TABULKA from ZURNAL")) {
    const AnsiString table = AnsiUpperCase(name);
    const auto column = journal_key_columns_.find(table);
    // Only the names of the station's own tables go into the statement.
    if (column == journal_key_columns_.end() || marked_tables_.count(table) == 0) continue;
    for (const auto& [key, none] : ReadPairs(
             ib_query_tmp_src_,
             Sql("select distinct z.ID_ZAZNAM from ZURNAL z where z.TABULKA = %s and z.ID_ZAZNAM is not null and "
                 "not exists (select 1 from %s x where x.%s = z.ID_ZAZNAM and (x.ST is null or x.ST = 'U'))",
                 {QuotedStr(name), table, column->second}))) {
      keys[name].insert(KeyOf(key, name + "|" + key));
    }
  }
}

const std::map<AnsiString, std::set<int32_t>>& TDMMeldrun::StationJournalKeys(int32_t station) const {
  static const std::map<AnsiString, std::set<int32_t>> none;
  return station < 0 || static_cast<size_t>(station) >= station_journal_keys_.size()
             ? none
             : station_journal_keys_[static_cast<size_t>(station)];
}

void TDMMeldrun::RemapJournal() {
  TStringList& list = StationList(station_mappings_, main_form_.StationIndex());
  const std::map<AnsiString, std::set<int32_t>>& journal_keys = StationJournalKeys(main_form_.StationIndex());
  if (list.Count() == 0 && journal_keys.empty()) return;

  // Per table: old key -> new key, the first entry of an old key winning (it is the one
  // that matched the rows' key before the remap). Every entry is read before anything
  // changes, so a malformed one changes nothing.
  std::map<AnsiString, std::map<int32_t, int32_t>> next;
  for (int32_t i = 0; i < list.Count(); ++i) {
    const AnsiString line = list.Strings(i);
    AnsiString rest = line;
    const AnsiString table = CutToken(rest, '|');
    const int32_t old_key = KeyOf(CutToken(rest, '|'), line);
    const int32_t new_key = KeyOf(rest, line);
    next[table].emplace(old_key, new_key);
  }

  TREZQuery* q = ib_query_dst_;
  TIB_Transaction* transaction = q->IB_Transaction();
  if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
  try {
    // Each journal row is given its record's key once, from the key it holds now, by
    // its own primary key: chains (a->b, b->c) and swaps (a->b, b->a) need no order,
    // and the journal is read once whatever the number of entries. A row whose record
    // has no key in main that anyone knows loses its key.
    struct Change {
      int32_t id;
      std::optional<int32_t> key;
    };
    std::vector<Change> changes;
    if (q->Active()) q->Close();
    q->SQL()->SetText("select ID_ZURNAL, TABULKA, ID_ZAZNAM from ZURNAL where ID_ZAZNAM is not null");
    q->Prepare();
    q->Open();
    while (!q->Eof()) {
      const AnsiString table = q->Fields(1)->AsString();
      const int32_t key = q->Fields(2)->AsInteger();
      const auto m = next.find(table);
      const auto to = m == next.end() ? std::map<int32_t, int32_t>::const_iterator() : m->second.find(key);
      if (m != next.end() && to != m->second.end()) {
        if (to->second != key) changes.push_back({q->Fields(0)->AsInteger(), to->second});
      } else {
        const auto unknown = journal_keys.find(table);
        if (unknown != journal_keys.end() && unknown->second.count(key) != 0)
          changes.push_back({q->Fields(0)->AsInteger(), std::nullopt});
      }
      q->Next();
    }
    q->Close();
    q->SQL()->SetText("update ZURNAL set ID_ZAZNAM = :NEW_KEY where ID_ZURNAL = :JOURNAL_ID");
    q->Prepare();
    int64_t applied = 0;
    for (const Change& c : changes) {
      if (c.key) {
        q->ParamByName("NEW_KEY")->SetValue(Variant(*c.key));
      } else {
        q->ParamByName("NEW_KEY")->Clear();
      }
      q->ParamByName("JOURNAL_ID")->SetValue(Variant(c.id));
      q->ExecSQL();
      if (++applied % 1000 == 0) transaction->CommitRetaining();
    }
    q->Close();
  } catch (...) {
    CloseQuietly(q);
    try {
      if (IsTransactionStarted(transaction)) transaction->Commit();
    } catch (...) {
    }
    throw;
  }
  if (IsTransactionStarted(transaction)) transaction->Commit();
}

void TDMMeldrun::TrimStationJournal(int32_t mark, int32_t days) {
  ExecSrc(Sql("delete from zurnal where ID_ZURNAL > %d", {mark}));
  if (main_form_.JournalRecentOnly()) {
    const AnsiString date = FormatDateTime("dd.mm.yyyy", Now() - days);
    ExecSrc(Sql("delete from zurnal where DATUM < %s", {QuotedStr(date)}));
  }
}

bool TDMMeldrun::SyncGenerator(const AnsiString& table, int64_t value) {
  const AnsiString generator = "GEN_" + table;
  const AnsiString read = Sql("select gen_id(%s, 0) from RDB$DATABASE", {generator});
  if (value <= 0) {
    const Variant station = SelectSrc(read);
    if (station.IsNull()) return false;
    value = station.AsInt64();
  }
  Variant last = SelectDst(read);
  if (last.IsNull()) return false;
  const int64_t current = last.AsInt64();
  if (value > current) {
    last = SelectDst(Sql("select gen_id(%s, %d) from RDB$DATABASE", {generator, value - current}));
  }
  return !last.IsNull();
}

int32_t TDMMeldrun::SetJournalTriggers(int32_t state) {
  TREZQuery* q = ib_query_dst_;
  TIB_Transaction* transaction = q->IB_Transaction();
  if (q->Active()) q->Close();
  if (IsTransactionStarted(transaction)) transaction->Commit();
  try {
    q->SQL()->SetText(Sql("execute procedure SET_ZURNAL_TRIGGERS(%d)", {state}));
    q->ExecSQL();
  } catch (...) {
    CloseQuietly(q);
    RollbackRetainingQuietly(transaction);
    try {
      if (IsTransactionStarted(transaction)) transaction->Commit();
    } catch (...) {
    }
    throw;
  }
  q->Close();
  if (IsTransactionStarted(transaction)) transaction->Commit();
  return state;
}

// --- Paging, cycle chunks, row values -------------------------------------------------------

void TDMMeldrun::ResetChunking() {
  PagedTable.clear();
  PagedChangedOnly = false;
  PageLastKey = 0;
  SourceRowCount = 0;
  PageNo = 1;
}

int32_t TDMMeldrun::CountPages(const AnsiString& table_name, bool changed_only) {
  if (CommitAfter <= 0) {
    throw EConvertError(Format(
        CZ("Počet záznamů mezi potvrzeními (CommitAfter) musí být kladný, je %d."), {CommitAfter}));
  }
  PagedTable = table_name;
  PagedChangedOnly = changed_only;
  try {
    const Variant n =
        SelectSrc(Sql(changed_only ? "select count(*) from %s where ST is not NULL" : "select count(*) from %s ",
                      {table_name}));
    SourceRowCount = n.AsInteger();
    return SourceRowCount / CommitAfter + 1;
  } catch (const std::exception&) {
    MessageDlg(CZ("Nepodařilo se zjistit počet zdrojových záznamů!"), mtWarning, {mbOK});
    return 1;
  }
}

void TDMMeldrun::GetPageBounds(const AnsiString& key_field, int32_t page_no, int32_t& upper_key,
                               int32_t& lower_key) {
  PageNo = page_no;
  Variant lower;
  Variant upper;
  const AnsiString& t = PagedTable;
  if (page_no == 1) {
    lower = SelectSrc(PagedChangedOnly ? Sql("select min(%s) from %s where ST is not NULL", {key_field, t})
                                       : Sql("select min(%s) from %s", {key_field, t}));
    upper = SelectTmpSrcLast(
        PagedChangedOnly
            ? Sql("select first %d %s from %s where ST is not NULL order by 1", {CommitAfter, key_field, t})
            : Sql("select first %d %s from %s order by 1", {CommitAfter, key_field, t}));
  } else {
    lower = SelectSrc(
        PagedChangedOnly
            ? Sql("select min(%s) from %s where (ST is not NULL) and (%s > %d)", {key_field, t, key_field, PageLastKey})
            : Sql("select min(%s) from %s where (%s > %d)", {key_field, t, key_field, PageLastKey}));
    upper = SelectTmpSrcLast(
        PagedChangedOnly
            ? Sql("select first %d %s from %s where (ST is not NULL) and (%s > %d) order by 1",
                  {CommitAfter, key_field, t, key_field, PageLastKey})
            : Sql("select first %d %s from %s where (%s > %d) order by 1",
                  {CommitAfter, key_field, t, key_field, PageLastKey}));
  }
  lower_key = lower.IsNull() ? 0 : lower.AsInteger();
  upper_key = upper.IsNull() ? 0 : upper.AsInteger();
  // An empty page keeps the last key: the pages after it are empty as well, rather than
  // starting again from the lowest key.
  if (!upper.IsNull()) PageLastKey = upper_key;
}

void TDMMeldrun::PrepareDocumentCycles(int32_t cycles) {
  if (cycles < 1) return;
  const Variant n = SelectSrc("select count(id_doklad) from doklad where (st is not null)");
  if (n.IsNull()) return;
  const int32_t kept = CommitAfter;
  try {
    CommitAfter = n.AsInteger() / cycles + 1;
    ResetChunking();
    CountPages("DOKLAD", true);
    CycleUpperKeys.assign(static_cast<size_t>(cycles), 0);
    CycleLowerKeys.assign(static_cast<size_t>(cycles), 0);
    for (int32_t i = 1; i <= cycles; ++i) {
      int32_t upper = 0;
      int32_t lower = 0;
      GetPageBounds("id_doklad", i, upper, lower);
      CycleUpperKeys[static_cast<size_t>(i - 1)] = upper;
      CycleLowerKeys[static_cast<size_t>(i - 1)] = lower;
    }
    CyclesPrepared = true;
  } catch (...) {
    CommitAfter = kept;
    ResetChunking();
    throw;
  }
  CommitAfter = kept;
  ResetChunking();
}

void TDMMeldrun::FixActiveCases(TStrings* list) {
  if (list == nullptr) return;
  for (int32_t i = 0; i < list->Count(); ++i) {
    const AnsiString line = list->Strings(i);
    AnsiString rest = line;
    const int32_t patient = KeyOf(CutToken(rest, '|'), line);
    const int32_t case_key = KeyOf(rest, line);
    ExecDst(Sql("update PACIENT set ID_TABLE_STATUS = %d where ID_PACIENT = %d", {case_key, patient}));
  }
}

int32_t TDMMeldrun::SelectRowValues(TREZQuery* query, const AnsiString& sql, Variant& values) {
  int32_t result = 0;
  if (query->Active()) query->Close();
  TIB_Transaction* transaction = query->IB_Transaction();
  if (!IsTransactionStarted(transaction)) transaction->StartTransaction();
  try {
    query->SQL()->SetText(sql);
    query->Prepare();
    query->OpenAndFetchAll();
    // The dataset adds the relation's DB_KEY to the select list of a query without the
    // primary key and shows it as a field of its own; it is not one of the row's columns.
    std::vector<TField*> columns;
    for (TField* f : query->FieldList()) {
      if (f->DataType() == ftBytes &&
          (AnsiSameText(f->FieldName(), "DB_KEY") || AnsiSameText(f->FieldName(), "RDB$DB_KEY")))
        continue;
      columns.push_back(f);
    }
    if (!query->IsEmpty() && !columns.empty()) {
      query->First();
      const auto n = static_cast<int32_t>(columns.size());
      Variant row = VarArrayCreate({0, n - 1}, varVariant);
      for (int32_t i = 0; i < n; ++i) row.PutElement({i}, columns[static_cast<size_t>(i)]->AsVariant());
      values = row;
      result = n;
    }
  } catch (...) {
    // A failing query reads as no row: the caller asks for optional facts (a station
    // of an older schema has no closing items at all), never for data it writes.
    CloseQuietly(query);
    try {
      if (IsTransactionStarted(transaction)) transaction->Rollback();
    } catch (...) {
    }
    return 0;
  }
  query->Close();
  if (IsTransactionStarted(transaction)) transaction->Commit();
  return result;
}

// --- Backup and restore --------------------------------------------------------------

TIBBackupService* TDMMeldrun::BackupServiceFor(char server_letter) const {
  return server_letter == 'M' ? ib_backup_service_ : ib_backup_service1_;
}

TIBRestoreService* TDMMeldrun::RestoreServiceFor(char server_letter) const {
  return server_letter == 'M' ? ib_restore_service_ : ib_restore_service1_;
}

bool TDMMeldrun::RunBackupService(const AnsiString& database_file, const AnsiString& backup_file,
                                  bool login_prompt, bool active, bool verbose,
                                  TBackupOptions options, char server_letter) {
  TBackUpDatabaseSetings& s = *backup_settings_;
  if (server_letter == 'M') {
    s.ServerName = main_server_name_;
    s.Protocol = main_server_protocol_;
  } else {
    s.ServerName = "localhost";
    s.Protocol = LocalServerProtocol();
  }
  s.LoginPrompt = login_prompt;
  s.Active = active;
  s.Verbose = verbose;
  s.Options = options;
  s.DatabaseName = database_file;
  s.BackupFile = backup_file;
  return RunBackup(*BackupServiceFor(server_letter), s);
}

bool TDMMeldrun::RunRestoreService(const AnsiString& database_file, const AnsiString& backup_file,
                                   bool login_prompt, bool active, bool verbose,
                                   TRestoreOptions options, int32_t page_size,
                                   int32_t page_buffers, char server_letter) {
  TRestoreDatabaseSettings& s = *restore_settings_;
  if (server_letter == 'M') {
    s.ServerName = main_server_name_;
    s.Protocol = main_server_protocol_;
  } else {
    s.ServerName = "localhost";
    s.Protocol = LocalServerProtocol();
  }
  s.LoginPrompt = login_prompt;
  s.Active = active;
  s.Verbose = verbose;
  s.Options = options;
  s.PageSize = page_size;
  s.PageBuffers = page_buffers;
  s.DatabaseName = database_file;
  s.BackupFile = backup_file;
  return RunRestore(*RestoreServiceFor(server_letter), s);
}

TProtocol TDMMeldrun::LocalServerProtocol() const {
  switch (connect_protocol_) {
    case cpTCP_IP: return TProtocol::TCP;
    case cpNetBEUI: return TProtocol::NamedPipe;
    case cpNovell: return TProtocol::SPX;
    default: return TProtocol::Local;
  }
}

AnsiString TDMMeldrun::ServerPrefixFor(char server_letter) const {
  if (server_letter != 'M') return WorkingDatabasesOnServer() ? AnsiString("localhost:") : AnsiString();
  if (main_server_protocol_ == TProtocol::Local) return AnsiString();
  return (Trim(main_server_name_).empty() ? AnsiString("localhost") : Trim(main_server_name_)) + ":";
}

AnsiString TDMMeldrun::ConnectStringFor(const AnsiString& database_file, char server_letter) const {
  return ServerPrefixFor(server_letter) + database_file;
}

void TDMMeldrun::WriteHarmonisedMark(const AnsiString& mark) {
  ExecDst("comment on database is " + QuotedStr(mark));
}

AnsiString TDMMeldrun::ReadDatabaseMark(const AnsiString& database_file, char server_letter) const {
  return QueryValue(ConnectStringFor(database_file, server_letter),
                    "select cast(substring(RDB$DESCRIPTION from 1 for 250) as varchar(250)) from RDB$DATABASE",
                    [](TIB_Column* c) { return c->GetIsNull() ? AnsiString() : c->GetAsString(); });
}

bool TDMMeldrun::WorkingForcedWrites(const AnsiString& database_file) const {
  return QueryInteger(ConnectStringFor(database_file, 'L'), "select MON$FORCED_WRITES from MON$DATABASE") != 0;
}

void TDMMeldrun::SetWorkingForcedWrites(const AnsiString& database_file, bool on) {
  // The attachment's parameter block sets the database's write mode as it attaches.
  TComponent owner(nullptr);
  auto* connection = new TIB_Connection(&owner);
  connection->SetDatabaseName(ConnectStringFor(database_file, 'L'));
  connection->SetUsername(AdministratorUser);
  connection->SetPassword(AdministratorPassword);
  connection->SetSQLDialect(3);
  connection->SetLoginPrompt(false);
  connection->SetForcedWrites(on ? dpbTrue : dpbFalse);
  connection->Open();
  connection->Close();
}

template <typename Loop>
bool TDMMeldrun::RunWindowed(int32_t mode, const AnsiString& caption, int32_t left, int32_t top,
                             Loop loop) {
  TPracujiForm* window = mode == 2 ? static_cast<TPracujiForm*>(memo_progress_window_)
                                   : static_cast<TPracujiForm*>(progress_window_);
  try {
    window->SetLeft(left);
    window->SetTop(top);
    window->LabelInfo().SetCaption(caption);
    window->Show();
    if (mode == 0) window->Repaint();
    const bool ok = loop();
    window->Hide();
    return ok;
  } catch (...) {
    window->Hide();
    throw;
  }
}

bool TDMMeldrun::BackupDatabase(const AnsiString& database_file, const AnsiString& backup_file,
                                int32_t mode, const AnsiString& caption, char server_letter,
                                int32_t left, int32_t top) {
  if (mode < 0 || mode > 3) return false;
  // A server on this machine writes the backup as its own OS user: it cannot overwrite a
  // file that another user (this process's) owns, so the file it replaces goes first (the
  // backup would have overwritten it all the same).
  const AnsiString prefix = ServerPrefixFor(server_letter);
  if (SameText(prefix, "localhost:")) {
    std::error_code ec;
    const fs::path target = SysFileName(backup_file);
    if (fs::is_regular_file(target, ec)) fs::remove(target, ec);
  }
  if (!RunBackupService(database_file, backup_file, false, true, mode != 0,
                        TBackupOptions{TBackupOption::IgnoreLimbo}, server_letter))
    return false;
  TIBBackupService& service = *BackupServiceFor(server_letter);
  return RunWindowed(mode, caption, left, top, [&] {
    switch (mode) {
      case 0: return BackupMode0(service);
      case 1: return BackupMode1(service, progress_window_->StatusBarPracuji());
      case 2: return BackupMode2(service, memo_progress_window_->MemoPracuji());
      default: return BackupMode3(service, progress_window_->ProgressBarPracuji(), BackupTotal);
    }
  });
}

bool TDMMeldrun::RestoreDatabase(const AnsiString& database_file, const AnsiString& backup_file,
                                 int32_t mode, const AnsiString& caption, char server_letter,
                                 int32_t left, int32_t top) {
  if (mode < 0 || mode > 3) return false;
  // A target on this machine is restored beside itself first and replaces the target
  // only once the restore is complete; the main server may be another machine, whose
  // paths are its own: there the server restores in place.
  const fs::path target = SysFileName(database_file);
  std::error_code ec;
  const bool remote = server_letter == 'M' && main_server_protocol_ != TProtocol::Local &&
                      !SameText(Trim(main_server_name_), "localhost") &&
                      !Trim(main_server_name_).empty();
  const bool local = !remote && fs::is_directory(target.parent_path(), ec);
  const AnsiString work_name = local ? WorkFileFor(database_file) : database_file;
  const fs::path work = SysFileName(work_name);
  // Through the server that restores when it is reached over the network: a file the
  // server holds cannot be opened in this process at the same time.
  const AnsiString server_prefix = ServerPrefixFor(server_letter);
  const AnsiString connect = server_prefix + work_name;
  try {
    if (OnRestoreWorkFile && local) OnRestoreWorkFile(work_name);
    bool ok;
    if (server_letter == 'M' && server_prefix.empty()) {
      // The main database through the in-process engine: in a process of its own, since
      // the engine ends the process it runs in at some failures (a full disk among them).
      TRestoreProcess child(work_name, backup_file, 4096);
      ok = RunWindowed(mode, caption, left, top, [&] {
        switch (mode) {
          case 0: return RestoreMode0(child);
          case 1: return RestoreMode1(child, progress_window_->StatusBarPracuji());
          case 2: return RestoreMode2(child, memo_progress_window_->MemoPracuji());
          default: return RestoreMode3(child, progress_window_->ProgressBarPracuji(), RestoreTotal);
        }
      });
    } else {
      if (!RunRestoreService(work_name, backup_file, false, true, mode != 0,
                             TRestoreOptions{TRestoreOption::Replace}, 0, 0, server_letter))
        return false;
      TIBRestoreService& service = *RestoreServiceFor(server_letter);
      ok = RunWindowed(mode, caption, left, top, [&] {
        switch (mode) {
          case 0: return RestoreMode0(service);
          case 1: return RestoreMode1(service, progress_window_->StatusBarPracuji());
          case 2: return RestoreMode2(service, memo_progress_window_->MemoPracuji());
          default: return RestoreMode3(service, progress_window_->ProgressBarPracuji(), RestoreTotal);
        }
      });
    }
    CheckRestoredDatabaseOnline(connect, database_file);
    if (local) {
      if (fs::exists(target, ec)) CheckNotInUse(server_prefix + database_file, database_file);
      fs::rename(work, target, ec);
      if (ec) {
        throw EInOutError(Format(CZ("Obnovenou databázi nelze přejmenovat na %s: %s"),
                                 {database_file, AnsiString(ec.message())}));
      }
    }
    return ok;
  } catch (...) {
    if (local) fs::remove(work, ec);
    throw;
  }
}

// --- The progress window ----------------------------------------------------------------

void TDMMeldrun::ShowProgress(const AnsiString& caption, const AnsiString& status_text,
                              int32_t top, int32_t left) {
  try {
    TfrmPracuji& w = *progress_window_;
    w.SetLeft(left);
    w.SetTop(top);
    w.LabelInfo().SetCaption(caption);
    w.StatusBarPracuji().SetEnabled(true);
    w.StatusBarPracuji().SetVisible(true);
    w.StatusBarPracuji().SetSimpleText(status_text);
    w.Show();
    w.Repaint();
  } catch (...) {
    // Only a display: the step goes on without it.
  }
}

void TDMMeldrun::HideProgress() {
  TfrmPracuji& w = *progress_window_;
  w.StatusBarPracuji().SetEnabled(false);
  w.StatusBarPracuji().SetVisible(false);
  w.Hide();
}

void TDMMeldrun::ShowProgressBar(int32_t maximum) {
  TfrmPracuji& w = *progress_window_;
  w.LabelInfo().SetTop(115);
  w.PanelStatus().SetHeight(30);
  TPracujiProgressBar& bar = w.ProgressBarPracuji();
  bar.SetHeight(10);
  bar.SetVisible(true);
  bar.SetMax(maximum);
  bar.SetStep(static_cast<int32_t>(std::lround(maximum / 100.0)));
  bar.SetPosition(0);
  w.Refresh();
  Application()->ProcessMessages();
}

void TDMMeldrun::HideProgressBar() {
  TfrmPracuji& w = *progress_window_;
  TPracujiProgressBar& bar = w.ProgressBarPracuji();
  bar.SetVisible(false);
  bar.SetHeight(0);
  w.PanelStatus().SetHeight(19);
  bar.SetPosition(0);
  w.LabelInfo().SetTop(125);
  w.Refresh();
}

void TDMMeldrun::SetProgressPosition(int32_t position) {
  TPracujiProgressBar& bar = progress_window_->ProgressBarPracuji();
  bar.SetPosition(position);
  bar.Refresh();
  Application()->ProcessMessages();
}

void TDMMeldrun::SetProgressText(const AnsiString& text) {
  progress_window_->StatusBarPracuji().SetSimpleText(text);
  progress_window_->Repaint();
}

}  // namespace pelvar
