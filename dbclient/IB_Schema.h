// Queries on the server's system tables (RDB$...) that fill the schema cache's lists,
// the read of the schema version table REZ$SCHEMA_VERSION, the generator read, the
// dataset they all run on (TIB_SchemaCursor), and the look-up of a BDE alias's
// parameters.
//
// Every loader clears its list first and adds one item per row; names come out as SQL
// identifiers for the connection's dialect (MakeStoredIdent). A nil transaction means
// the connection's schema-cache transaction. Server errors pass to the caller as
// EIB_ISCError, except in LoadSchemaVersions, which swallows them.
#pragma once

#include <cstdint>

#include "dbclient/IB_Components.h"
#include "dbengine/IB_Components_dataset.h"

namespace pelvar {

// A dataset for system-table queries: no automatic key links, and without a transaction
// of its own it runs in the connection's schema-cache transaction.
class TIB_SchemaCursor : public TIB_Dataset {
 public:
  explicit TIB_SchemaCursor(TComponent* Owner);
  bool CheckTransaction(bool Start) override;
};

// Names a table filter takes instead of a table: no filter, one item per relation.
extern const char* const SchemaByTable;  // "<BY TABLE>"
extern const char* const SchemaByKeys;   // "<BY KEYS>"

void LoadDomainNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, TStrings* List);
void LoadFieldDomains(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List);
void LoadGeneratorNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                        TStrings* List);
void LoadTableNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, bool Tables,
                    bool Views, TStrings* List);
void LoadProcedureNames(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List);
void LoadConstraintNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                         TStrings* List, const AnsiString& Table = {});
void LoadTriggerNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                      TStrings* List, const AnsiString& Table = {});
void LoadIndexNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, TStrings* List,
                    const AnsiString& Table = {});
void LoadForeignKeys(TIB_Connection* Conn, TIB_Transaction* Tr, const AnsiString& Table,
                     TStrings* List);
void LoadRequiredFields(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                        const AnsiString& Table, TStrings* List);
void LoadComputedFields(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                        const AnsiString& Table, TStrings* List);
void LoadSchemaVersions(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List);
void LoadRelationsByID(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithViews, TStrings* List);
// Table empty: RELATION.FIELD items; "<BY TABLE>": RELATION=F1,F2,...; else FIELD items.
void LoadTableFields(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List,
                     const AnsiString& Table);
// "<BY TABLE>": RELATION=F1,F2; "<BY KEYS>": F1,F2=RELATION; a table: FIELD items; empty:
// FIELD,RELATION items.
void LoadPrimaryKeys(TIB_Connection* Conn, TIB_Transaction* Tr, const AnsiString& Table,
                     TStrings* List);
// RELATION.FIELD, with values RELATION.FIELD=default value.
void LoadDefaults(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, bool WithValues,
                  const AnsiString& Table, TStrings* List);
// INDEX=PK;|UN;DESC;REL=..;CNST=..;FK=..;UR=..;DR=..;SEGS=A,B
void LoadIndexDefs(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, TStrings* List);

// The default value a column default source text gives for a domain field type; the
// rules of LoadDefaults.
AnsiString SchemaDefaultValue(const AnsiString& Source, int32_t FieldType);

// Steps Generator by Increment and hands back the new value. False (and -1) when the
// generator could not be read: callers must not use Value then. The generator's name is
// written into the SQL as an identifier for the connection's dialect.
// Error, when given, receives the reason of a failure.
bool GetGeneratorValue(TIB_Connection* Conn, TIB_Transaction* Tr, const AnsiString& Generator,
                       int32_t Increment, int64_t& Value, AnsiString* Error = nullptr);

// --- BDE alias look-up
// The configuration file named in the registry; empty when the key is missing.
AnsiString GetBDEConfigFileName();
// Reads one token ended by byte 3 (and the two bytes after it); false at the end of the
// stream with an empty token.
bool ReadBDEConfigToken(TStream& Stream, AnsiString& Token);
// Kind "ALIAS" and a name: the alias's parameters NAME=value; otherwise the names of
// the aliases of driver type Kind (every alias when Kind is empty).
void LoadBDEAliasParams(const AnsiString& Kind, const AnsiString& Name, TStrings* List);

}  // namespace pelvar
