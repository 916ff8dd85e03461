// The connection's schema cache: lazily loaded lists, their cache files and the single
// look-ups of domains, table keys, table fields and procedure parameter defaults.
#include "dbclient/IB_SchemaCache.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "dbclient/IB_Schema.h"
#include "dbengine/IB_Parse.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

const char* const kListNames[sclCount] = {
    "DomainNames",     "GeneratorNames",  "TableNames",    "ViewNames",       "ProcedureNames",
    "ConstraintNames", "TriggerNames",    "IndexDefs",     "IndexNames",      "PrimaryKeys",
    "ForeignKeys",     "Required",        "Defaults",      "Computed",        "FieldDomains",
    "TableKeys",       "TableFields",     "ProcedureParams", "RelationsByID", "DatabaseSchemaVer",
    "ClientSchemaVer"};

// The error code of a lost network connection: a single look-up that meets it answers
// "nothing" rather than an internal error.
constexpr int32_t kNetworkError = 335544721;

// The check line that ends every cache file: "#REZ <lines> <hash of the text before>".
const char* const kCheckPrefix = "#REZ ";

uint64_t Fnv1a(const AnsiString& Text) {
  uint64_t h = 1469598103934665603ull;
  for (unsigned char ch : Text) {
    h ^= ch;
    h *= 1099511628211ull;
  }
  return h;
}

// The items of a value split at commas outside double quotes, trimmed.
std::vector<AnsiString> SplitNames(const AnsiString& Value) {
  TIB_StringList parts;
  parts.SetCommaList(Value);
  std::vector<AnsiString> r;
  for (int32_t i = 0; i < parts.Count(); ++i) {
    const AnsiString item = Trim(parts.Strings(i));
    if (!item.empty()) r.push_back(item);
  }
  return r;
}

}  // namespace

TIB_SchemaCache::TIB_SchemaCache(TIB_Connection* AConnection) : connection_(AConnection) {
  transaction_ = new TIB_TransactionInternal(AConnection);
}

TIB_SchemaCache::~TIB_SchemaCache() {
  try {
    FreeCursors();
  } catch (...) {
  }
  delete transaction_;
  transaction_ = nullptr;
}

TIB_Transaction* TIB_SchemaCache::Transaction() {
  if (transaction_ != nullptr && transaction_->IB_Connection() == nullptr) {
    transaction_->SetIB_Connection(connection_);
  }
  return transaction_;
}

void TIB_SchemaCache::SetCacheDir(const AnsiString& Value) {
  AnsiString dir = Trim(Value);
  while (!dir.empty() && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  cache_dir_ = dir;
}

AnsiString TIB_SchemaCache::GetListName(int32_t Index) {
  return Index >= 0 && Index < sclCount ? AnsiString(kListNames[Index]) : AnsiString();
}

TIB_StringList* TIB_SchemaCache::EnsureList(int32_t Index) {
  auto& slot = lists_[static_cast<size_t>(Index)];
  if (!slot) {
    if (Index >= sclFieldDomains && Index <= sclProcedureParams) {
      slot = std::make_unique<TIB_StringList>();
      slot->SetSorted(true);
      slot->SetDuplicates(dupIgnore);
    } else {
      slot = std::make_unique<TIB_StringCache>();
    }
  }
  return slot.get();
}

void TIB_SchemaCache::RunLoader(int32_t Index, TIB_StringList* List) {
  TIB_Connection* c = connection_;
  TIB_Transaction* tr = Transaction();
  switch (Index) {
    case sclDomainNames: LoadDomainNames(c, tr, false, List); break;
    case sclGeneratorNames: LoadGeneratorNames(c, tr, false, List); break;
    case sclTableNames: LoadTableNames(c, tr, false, true, false, List); break;
    case sclViewNames: LoadTableNames(c, tr, false, false, true, List); break;
    case sclProcedureNames: LoadProcedureNames(c, tr, List); break;
    case sclConstraintNames: LoadConstraintNames(c, tr, false, List); break;
    case sclTriggerNames: LoadTriggerNames(c, tr, false, List); break;
    case sclIndexDefs: LoadIndexDefs(c, tr, false, List); break;
    case sclIndexNames: LoadIndexNames(c, tr, false, List); break;
    case sclPrimaryKeys: LoadPrimaryKeys(c, tr, AnsiString(), List); break;
    case sclForeignKeys: LoadForeignKeys(c, tr, AnsiString(), List); break;
    case sclRequired: LoadRequiredFields(c, tr, false, AnsiString(), List); break;
    case sclDefaults: LoadDefaults(c, tr, false, true, AnsiString(), List); break;
    case sclComputed: LoadComputedFields(c, tr, false, AnsiString(), List); break;
    case sclFieldDomains: LoadFieldDomains(c, tr, List); break;
    case sclTableKeys: LoadPrimaryKeys(c, tr, SchemaByTable, List); break;
    case sclTableFields: LoadTableFields(c, tr, List, SchemaByTable); break;
    case sclRelationsByID: LoadRelationsByID(c, tr, true, List); break;
    case sclDatabaseSchemaVer: LoadSchemaVersions(c, tr, List); break;
    default: break;  // ProcedureParams stays empty; ClientSchemaVer comes from its file.
  }
}

TIB_StringList* TIB_SchemaCache::GetSchemaList(int32_t Index) {
  if (Index < 0 || Index >= sclCount) return nullptr;
  TIB_StringList* list = EnsureList(Index);
  if (!loaded_[static_cast<size_t>(Index)] && !loading_[static_cast<size_t>(Index)]) {
    if (Index == sclRelationsByID) loaded_[static_cast<size_t>(Index)] = true;
    list->BeginUpdate();
    loading_[static_cast<size_t>(Index)] = true;
    struct Done {
      bool& flag;
      ~Done() { flag = false; }
    } done{loading_[static_cast<size_t>(Index)]};
    try {
      list->Clear();
      if (connection_->GetConnected()) {
        if (cache_dir_.empty() || !LoadCacheFile(Index)) {
          RunLoader(Index, list);
          if (!cache_dir_.empty()) SaveCacheFile(Index);
        }
        loaded_[static_cast<size_t>(Index)] = true;
      }
    } catch (...) {
      list->EndUpdate();
      throw;
    }
    list->EndUpdate();
  }
  ReleaseTransaction();
  return list;
}

void TIB_SchemaCache::Invalidate() { loaded_.fill(false); }

void TIB_SchemaCache::DeleteCacheFiles() {
  if (!cache_dir_.empty()) {
    for (int32_t i = 0; i < sclCount; ++i) {
      const AnsiString file = GetCacheFileName(i);
      if (!file.empty() && FileExists(file)) DeleteFile(file);
    }
  }
  ReleaseTransaction();
}

bool TIB_SchemaCache::IsProcedureName(const AnsiString& Name) {
  TIB_StringList* procs = ProcedureNames();
  const AnsiString stored = connection_->GetConnected() ? connection_->MakeStoredIdent(
                                                              IsQuoted(Name, '"') ? StripQuotes(Name)
                                                                                  : AnsiUpperCase(Name))
                                                        : Name;
  return procs->IndexOf(stored) >= 0 || procs->IndexOf(Name) >= 0;
}

TIB_SchemaCursor* TIB_SchemaCache::Cursor(std::unique_ptr<TIB_SchemaCursor>& Slot,
                                          const char* SQL, bool) {
  if (!Slot) {
    Slot = std::make_unique<TIB_SchemaCursor>(nullptr);
    Slot->SetIB_Session(connection_->GetIB_Session());
    Slot->SetIB_Connection(connection_);
    Slot->SetIB_Transaction(Transaction());
    Slot->SQL()->SetText(SQL);
  }
  Slot->Prepare();
  return Slot.get();
}

namespace {

// Runs Body; a server error of a look-up answers nothing for the domain look-up and for
// a lost network connection, and is an internal error otherwise.
template <class F>
void SingleLookUp(bool Domain, F&& Body) {
  try {
    Body();
  } catch (const EIB_ISCError& e) {
    if (Domain || e.ERRCODE() == kNetworkError) return;
    throw EAssertionFailed("Internal SchemaCache ERRCODE: " + IntToStr(e.ERRCODE()));
  }
}

// The name as the server stores it (a double-quoted name keeps its case, any other is
// upper-cased), written as a stored identifier of the dialect.
AnsiString ServerName(TIB_Connection* Conn, const AnsiString& Name) {
  const AnsiString trimmed = Trim(Name);
  const bool quoted = IsQuoted(trimmed, '"');
  AnsiString plain = quoted ? StripQuotes(trimmed) : AnsiUpperCase(trimmed);
  if (Conn->SQLDialect() < 3) plain = AnsiUpperCase(plain);
  return Conn->MakeStoredIdent(plain);
}

// The index of the item whose name is exactly Name (quotes and case as stored), -1.
int32_t ExactNameIndex(const TIB_StringList* List, const AnsiString& Name) {
  for (int32_t i = 0; i < List->Count(); ++i) {
    if (List->GetItemName(i) == Name) return i;
  }
  return -1;
}

}  // namespace

void TIB_SchemaCache::GetFieldDomain(const AnsiString& Relation, const AnsiString& Field,
                                     AnsiString& Domain) {
  Domain.clear();
  const AnsiString name = Trim(Relation) + "." + Trim(Field);
  TIB_StringList* domains = FieldDomains();
  const int32_t at = domains->IndexOfName(name);
  if (at >= 0) {
    Domain = domains->GetItemValue(at);
  } else if (cache_dir_.empty() && connection_->GetConnected() && !IsProcedureName(Relation)) {
    SingleLookUp(true, [&]() {
      TIB_SchemaCursor* c = Cursor(domain_cursor_,
                                   "SELECT RDB$FIELD_SOURCE\r\nFROM RDB$RELATION_FIELDS\r\n"
                                   "WHERE RDB$RELATION_NAME = ?RDB$RELATION_NAME\r\n"
                                   "  AND RDB$FIELD_NAME = ?RDB$FIELD_NAME\r\n",
                                   true);
      c->Close();
      c->Params()->GetColumn(0)->SetAsString(StripQuotes(Trim(Relation)));
      c->Params()->GetColumn(1)->SetAsString(StripQuotes(Trim(Field)));
      c->Open();
      if (!c->Eof()) Domain = Trim(c->Fields()->GetColumn(0)->GetAsString());
      c->Close();
      domains->Add(name + "=" + Domain);
    });
  }
  ReleaseTransaction();
}

void TIB_SchemaCache::GetTableKeys(const AnsiString& Table, TStrings* Keys) {
  Keys->Clear();
  if (!connection_->GetConnected()) return;
  const AnsiString key = ServerName(connection_, Table);
  TIB_StringList* table_keys = TableKeys();
  const int32_t at = ExactNameIndex(table_keys, key);
  if (at >= 0) {
    for (const AnsiString& f : SplitNames(table_keys->GetItemValue(at))) {
      Keys->Add(Table + "." + f);
    }
  } else if (!IsProcedureName(Table)) {
    // Also with a cache directory: a table the cached file does not know (made since the
    // file was written) is asked for, never taken as a table without a key.
    SingleLookUp(false, [&]() {
      TIB_SchemaCursor* c = Cursor(keys_cursor_,
                                   "SELECT S.RDB$FIELD_NAME\r\n"
                                   "FROM RDB$RELATION_CONSTRAINTS C\r\n"
                                   "   , RDB$INDICES I\r\n"
                                   "   , RDB$INDEX_SEGMENTS S\r\n"
                                   "WHERE C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'\r\n"
                                   "  AND C.RDB$RELATION_NAME = I.RDB$RELATION_NAME\r\n"
                                   "  AND C.RDB$INDEX_NAME = I.RDB$INDEX_NAME\r\n"
                                   "  AND I.RDB$INDEX_NAME = S.RDB$INDEX_NAME\r\n"
                                   "  AND I.RDB$RELATION_NAME = ?RDB$RELATION_NAME\r\n"
                                   "ORDER BY S.RDB$FIELD_POSITION\r\n",
                                   false);
      c->Close();
      c->Params()->GetColumn(0)->SetAsString(StripQuotes(key));
      c->Open();
      AnsiString joined;
      while (!c->Eof()) {
        const AnsiString f = connection_->MakeIdent(TrimRight(c->Fields()->GetColumn(0)->GetAsString()));
        Keys->Add(Table + "." + f);
        joined += joined.empty() ? f : "," + f;
        c->Next();
      }
      c->Close();
      table_keys->Add(key + "=" + joined);
    });
  }
  ReleaseTransaction();
}

void TIB_SchemaCache::GetTableFields(const AnsiString& Table, TStrings* Fields) {
  Fields->BeginUpdate();
  try {
    Fields->Clear();
    if (connection_->GetConnected()) {
      const AnsiString key = ServerName(connection_, Table);
      TIB_StringList* table_fields = TableFields();
      const int32_t at = ExactNameIndex(table_fields, key);
      if (at >= 0) {
        for (const AnsiString& f : SplitNames(table_fields->GetItemValue(at))) Fields->Add(f);
      } else if (cache_dir_.empty() && !IsProcedureName(Table)) {
        SingleLookUp(false, [&]() {
          TIB_SchemaCursor* c = Cursor(fields_cursor_,
                                       "SELECT RDB$FIELD_NAME\r\nFROM RDB$RELATION_FIELDS\r\n"
                                       "WHERE RDB$RELATION_NAME = ?RDB$RELATION_NAME\r\n"
                                       "ORDER BY RDB$FIELD_POSITION\r\n",
                                       false);
          c->Close();
          c->Params()->GetColumn(0)->SetAsString(StripQuotes(key));
          c->Open();
          AnsiString joined;
          while (!c->Eof()) {
            const AnsiString f =
                connection_->MakeStoredIdent(TrimRight(c->Fields()->GetColumn(0)->GetAsString()));
            Fields->Add(f);
            joined += joined.empty() ? f : "," + f;
            c->Next();
          }
          c->Close();
          if (!joined.empty()) table_fields->Add(key + "=" + joined);
        });
      }
    }
  } catch (...) {
    Fields->EndUpdate();
    throw;
  }
  Fields->EndUpdate();
  ReleaseTransaction();
}

void TIB_SchemaCache::GetProcParamDefault(const AnsiString& Proc, const AnsiString& Param,
                                          TStrings* List) {
  auto name = [](const AnsiString& s) {
    return IsQuoted(s, '"') ? StripQuotes(s) : AnsiUpperCase(s);
  };
  TStringList result;
  if (connection_->GetConnected()) {
    SingleLookUp(false, [&]() {
      TIB_SchemaCursor* c = Cursor(param_default_cursor_,
                                   "select f.rdb$default_source\r\n"
                                   "from rdb$procedure_parameters pp\r\n"
                                   "join rdb$fields f\r\n"
                                   "  on f.rdb$field_name = pp.rdb$field_source\r\n"
                                   "where pp.rdb$procedure_name = ?procedure_name\r\n"
                                   "  and pp.rdb$parameter_name = ?parameter_name\r\n",
                                   false);
      c->Close();
      c->Params()->GetColumn(0)->SetAsString(name(Proc));
      c->Params()->GetColumn(1)->SetAsString(name(Param));
      c->Open();
      result.Add("DEFAULT_SOURCE=" + (c->Eof() ? AnsiString()
                                               : c->Fields()->GetColumn(0)->GetAsString()));
      c->Close();
    });
  }
  List->Assign(&result);
  ReleaseTransaction();
}

void TIB_SchemaCache::ReleaseTransaction() {
  if (transaction_ == nullptr || !transaction_->GetStarted()) return;
  TIB_Session* session = connection_->GetIB_Session();
  if (session != nullptr && session->TimerInterval() != 0) return;
  transaction_->Commit();
}

void TIB_SchemaCache::FreeCursors() {
  domain_cursor_.reset();
  keys_cursor_.reset();
  fields_cursor_.reset();
  param_default_cursor_.reset();
  if (transaction_ != nullptr && transaction_->GetStarted()) transaction_->Rollback();
}

// --- Cache files -------------------------------------------------------------------------------

AnsiString TIB_SchemaCache::GetCacheFileName(int32_t Index) {
  if (cache_dir_.empty() || Index < 0 || Index >= sclCount) return {};
  AnsiString base = connection_->Path();
  const size_t cut = base.find_last_of("/\\:");
  if (cut != AnsiString::npos) base = base.substr(cut + 1);
  const size_t dot = base.find('.');
  if (dot != AnsiString::npos) base = base.substr(0, dot);
  const AnsiString dir = cache_dir_ + "/" + base;
  ForceDirectories(dir);
  return dir + "/" + GetListName(Index) + ".REZ";
}

bool TIB_SchemaCache::ReadListFile(const AnsiString& FileName, TStrings* List) {
  if (FileName.empty() || !FileExists(FileName)) return false;
  AnsiString text;
  try {
    TFileStream stream(FileName, fmOpenRead | fmShareDenyWrite);
    const int64_t size = stream.Size();
    text.resize(static_cast<size_t>(size));
    if (size > 0) stream.ReadBuffer(text.data(), size);
  } catch (const Exception&) {
    return false;
  }
  // The last line is the check line; the text before it must match its count and hash.
  if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) return false;
  const size_t last = text.rfind("\r\n", text.size() - 3);
  const size_t start = last == AnsiString::npos ? 0 : last + 2;
  const AnsiString check = text.substr(start, text.size() - 2 - start);
  const AnsiString body = text.substr(0, start);
  if (check.rfind(kCheckPrefix, 0) != 0) return false;
  TStringList lines;
  lines.SetText(body);
  const AnsiString expected = AnsiString(kCheckPrefix) + IntToStr(lines.Count()) + " " +
                              IntToHex(static_cast<int64_t>(Fnv1a(body)), 16);
  if (check != expected) return false;
  List->BeginUpdate();
  try {
    List->Clear();
    for (int32_t i = 0; i < lines.Count(); ++i) List->Add(lines.Strings(i));
  } catch (...) {
    List->EndUpdate();
    throw;
  }
  List->EndUpdate();
  return true;
}

void TIB_SchemaCache::WriteListFile(const AnsiString& FileName, const TStrings* List) {
  if (FileName.empty()) return;
  AnsiString body;
  for (int32_t i = 0; i < List->Count(); ++i) body += List->Strings(i) + "\r\n";
  const AnsiString text = body + kCheckPrefix + IntToStr(List->Count()) + " " +
                          IntToHex(static_cast<int64_t>(Fnv1a(body)), 16) + "\r\n";
  // Written beside the target and renamed over it: a reader sees the old file or the
  // new one, never a part.
  const std::string target = SysFileName(FileName);
  const std::string temp = target + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw EFCreateError("Cannot create " + FileName);
  size_t done = 0;
  bool ok = true;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    done += static_cast<size_t>(n);
  }
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  if (!ok || std::rename(temp.c_str(), target.c_str()) != 0) {
    ::unlink(temp.c_str());
    throw EWriteError("Cannot write " + FileName);
  }
}

bool TIB_SchemaCache::IsCacheFileValid(int32_t Index) {
  if (!((Index >= 0 && Index <= sclTableFields) || Index == sclClientSchemaVer)) return false;
  const AnsiString file = GetCacheFileName(Index);
  if (file.empty() || !FileExists(file)) return false;
  if (Index == sclClientSchemaVer) return true;
  TIB_StringList* db = DatabaseSchemaVer();
  if (db->Count() == 0) return true;
  const AnsiString name = GetListName(Index);
  const int32_t d = db->IndexOfName(name);
  TIB_StringList* client = ClientSchemaVer();
  const int32_t c = client->IndexOfName(name);
  if (d < 0 || c < 0) return false;
  return db->GetItemValue(d) == client->GetItemValue(c);
}

bool TIB_SchemaCache::LoadCacheFile(int32_t Index) {
  if (!IsCacheFileValid(Index)) return false;
  TIB_StringList* list = EnsureList(Index);
  if (ReadListFile(GetCacheFileName(Index), list)) return true;
  // A damaged file counts as absent: the list is read from the server and rewritten.
  list->Clear();
  return false;
}

void TIB_SchemaCache::SaveCacheFile(int32_t Index) {
  if (Index < 0 || Index > sclTableFields) return;
  try {
    WriteListFile(GetCacheFileName(Index), EnsureList(Index));
    const AnsiString name = GetListName(Index);
    AnsiString version;
    TIB_StringList* db = DatabaseSchemaVer();
    const int32_t d = db->IndexOfName(name);
    if (d >= 0) version = db->GetItemValue(d);
    TIB_StringList* client = ClientSchemaVer();
    const int32_t c = client->IndexOfName(name);
    if (c >= 0) {
      client->Delete(c);
    }
    client->Add(name + "=" + version);
    WriteListFile(GetCacheFileName(sclClientSchemaVer), client);
  } catch (...) {
    // The list in memory is complete; the file is written another time.
  }
}

}  // namespace pelvar
