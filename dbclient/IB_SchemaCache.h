// The schema cache of a connection: 21 sorted name lists read from the system tables
// once per connection (and after DDL), optionally kept as files "<list name>.REZ" in a
// folder per database so that the next run can skip the queries. Whether a file is
// trusted is decided by the table REZ$SCHEMA_VERSION: a list whose version there differs
// from the version its file was written for is read from the server again and its file
// rewritten.
//
// Cache files are written to a temporary file and renamed into place, and carry a
// check line; a file that is missing its check line or fails it is treated as absent.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "dbclient/IB_Components.h"

namespace pelvar {

class TIB_Dataset;
class TIB_SchemaCursor;

// The indexes of the lists (GetSchemaList).
enum : int32_t {
  sclDomainNames = 0,
  sclGeneratorNames = 1,
  sclTableNames = 2,
  sclViewNames = 3,
  sclProcedureNames = 4,
  sclConstraintNames = 5,
  sclTriggerNames = 6,
  sclIndexDefs = 7,
  sclIndexNames = 8,
  sclPrimaryKeys = 9,
  sclForeignKeys = 10,
  sclRequired = 11,
  sclDefaults = 12,
  sclComputed = 13,
  sclFieldDomains = 14,
  sclTableKeys = 15,
  sclTableFields = 16,
  sclProcedureParams = 17,
  sclRelationsByID = 18,
  sclDatabaseSchemaVer = 19,
  sclClientSchemaVer = 20,
  sclCount = 21,
};

class TIB_SchemaCache : public TPersistent {
 public:
  explicit TIB_SchemaCache(TIB_Connection* AConnection);
  ~TIB_SchemaCache() override;

  TIB_Connection* GetConnection() const { return connection_; }
  // The read transaction of every schema query; bound to the connection at its first
  // use, so that a connection that never asks costs nothing on the server's side.
  TIB_Transaction* Transaction();
  bool IsOwnTransaction(const TIB_Transaction* Tr) const { return Tr == transaction_; }

  const AnsiString& CacheDir() const { return cache_dir_; }
  // Trimmed, without trailing path delimiters.
  void SetCacheDir(const AnsiString& Value);

  // The list of Index, loaded on its first use while connected (from its file when one
  // is trusted); nullptr for an index outside 0..20.
  TIB_StringList* GetSchemaList(int32_t Index);
  static AnsiString GetListName(int32_t Index);

  TIB_StringList* DomainNames() { return GetSchemaList(sclDomainNames); }
  TIB_StringList* GeneratorNames() { return GetSchemaList(sclGeneratorNames); }
  TIB_StringList* TableNames() { return GetSchemaList(sclTableNames); }
  TIB_StringList* ViewNames() { return GetSchemaList(sclViewNames); }
  TIB_StringList* ProcedureNames() { return GetSchemaList(sclProcedureNames); }
  TIB_StringList* ConstraintNames() { return GetSchemaList(sclConstraintNames); }
  TIB_StringList* TriggerNames() { return GetSchemaList(sclTriggerNames); }
  TIB_StringList* IndexDefs() { return GetSchemaList(sclIndexDefs); }
  TIB_StringList* IndexNames() { return GetSchemaList(sclIndexNames); }
  TIB_StringList* PrimaryKeys() { return GetSchemaList(sclPrimaryKeys); }
  TIB_StringList* ForeignKeys() { return GetSchemaList(sclForeignKeys); }
  TIB_StringList* Required() { return GetSchemaList(sclRequired); }
  TIB_StringList* Defaults() { return GetSchemaList(sclDefaults); }
  TIB_StringList* Computed() { return GetSchemaList(sclComputed); }
  TIB_StringList* FieldDomains() { return GetSchemaList(sclFieldDomains); }
  TIB_StringList* TableKeys() { return GetSchemaList(sclTableKeys); }
  TIB_StringList* TableFields() { return GetSchemaList(sclTableFields); }
  TIB_StringList* ProcedureParams() { return GetSchemaList(sclProcedureParams); }
  TIB_StringList* RelationsByID() { return GetSchemaList(sclRelationsByID); }
  TIB_StringList* DatabaseSchemaVer() { return GetSchemaList(sclDatabaseSchemaVer); }
  TIB_StringList* ClientSchemaVer() { return GetSchemaList(sclClientSchemaVer); }

  // Every list is filled again on its next use.
  void Invalidate();
  bool IsLoaded(int32_t Index) const { return Index >= 0 && Index < sclCount && loaded_[Index]; }
  // Deletes the cache files of the database (with a cache directory), then ends the
  // read transaction.
  void DeleteCacheFiles();

  // The domain of Relation.Field; empty when it has none.
  void GetFieldDomain(const AnsiString& Relation, const AnsiString& Field, AnsiString& Domain);
  // The primary-key columns of Table; read from TableKeys qualified as Table.FIELD, by a
  // look-up of the one table (unqualified) otherwise.
  void GetTableKeys(const AnsiString& Table, TStrings* Keys);
  // The fields of Table in their order (empty for an unknown table).
  void GetTableFields(const AnsiString& Table, TStrings* Fields);
  // The procedure parameter's default source under the name DEFAULT_SOURCE.
  void GetProcParamDefault(const AnsiString& Proc, const AnsiString& Param, TStrings* List);

  // Commits the read transaction unless a session timer looks after it.
  void ReleaseTransaction();
  // Frees the look-up cursors and rolls the read transaction back.
  void FreeCursors();

  // The file of list Index ("<dir>/<database base name>/<list name>.REZ"); creates the
  // folder. Empty without a cache directory.
  AnsiString GetCacheFileName(int32_t Index);
  bool IsCacheFileValid(int32_t Index);
  bool LoadCacheFile(int32_t Index);
  void SaveCacheFile(int32_t Index);

 private:
  TIB_StringList* EnsureList(int32_t Index);
  void RunLoader(int32_t Index, TIB_StringList* List);
  TIB_SchemaCursor* Cursor(std::unique_ptr<TIB_SchemaCursor>& Slot, const char* SQL,
                           bool Domain);
  bool IsProcedureName(const AnsiString& Name);
  // Reads a cache file; false when it is missing or damaged.
  bool ReadListFile(const AnsiString& FileName, TStrings* List);
  void WriteListFile(const AnsiString& FileName, const TStrings* List);

  TIB_Connection* connection_;
  TIB_Transaction* transaction_ = nullptr;
  AnsiString cache_dir_;
  std::array<bool, sclCount> loaded_{};
  std::array<std::unique_ptr<TIB_StringList>, sclCount> lists_;
  std::unique_ptr<TIB_SchemaCursor> domain_cursor_, keys_cursor_, fields_cursor_,
      param_default_cursor_;
  // Lists being filled: a query of their loader that asks for them again gets the
  // list as it stands instead of loading it once more.
  std::array<bool, sclCount> loading_{};
};

}  // namespace pelvar
