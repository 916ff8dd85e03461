// Schema facts of a connection: from its schema cache, unless a test installed a
// provider of its own.
#include "dbengine/IB_SchemaFacts.h"

#include <utility>

#include "dbclient/IB_Components.h"
#include "dbclient/IB_SchemaCache.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {
TIB_SchemaFactsProvider& Provider() {
  static TIB_SchemaFactsProvider provider;
  return provider;
}

bool Usable(TIB_Connection* Connection) {
  return Connection != nullptr && Connection->GetConnected() &&
         Connection->SchemaCache() != nullptr;
}

// The name as the server stores it, written as a stored identifier.
AnsiString StoredName(TIB_Connection* Connection, const AnsiString& Name) {
  const AnsiString trimmed = Trim(Name);
  AnsiString plain = IsQuoted(trimmed, '"') ? StripQuotes(trimmed) : AnsiUpperCase(trimmed);
  if (Connection->SQLDialect() < 3) plain = AnsiUpperCase(plain);
  return Connection->MakeStoredIdent(plain);
}
}  // namespace

void SetSchemaFactsProvider(TIB_SchemaFactsProvider Value) { Provider() = std::move(Value); }

bool SchemaTableFields(TIB_Connection* Connection, const AnsiString& Table,
                       std::vector<AnsiString>& Fields) {
  Fields.clear();
  if (Connection == nullptr) return false;
  if (Provider().TableFields) return Provider().TableFields(Connection, Table, Fields);
  if (!Usable(Connection)) return false;
  TIB_SchemaCache* cache = Connection->SchemaCache();
  // Only tables are expanded; a view's star stays as written.
  if (cache->TableNames()->IndexOf(StoredName(Connection, Table)) < 0) return false;
  TStringList names;
  cache->GetTableFields(Table, &names);
  for (int32_t i = 0; i < names.Count(); ++i) Fields.push_back(names.Strings(i));
  return !Fields.empty();
}

bool SchemaProcedureNames(TIB_Connection* Connection, std::vector<AnsiString>& Names) {
  Names.clear();
  if (Connection == nullptr) return false;
  if (Provider().ProcedureNames) return Provider().ProcedureNames(Connection, Names);
  if (!Usable(Connection)) return false;
  TIB_StringList* procs = Connection->SchemaCache()->ProcedureNames();
  for (int32_t i = 0; i < procs->Count(); ++i) Names.push_back(procs->Strings(i));
  return true;
}

bool SchemaFieldDomain(TIB_Connection* Connection, const AnsiString& Relation,
                       const AnsiString& Field, AnsiString& Domain) {
  Domain.clear();
  if (Connection == nullptr) return false;
  if (Provider().FieldDomain) return Provider().FieldDomain(Connection, Relation, Field, Domain);
  if (!Usable(Connection)) return false;
  Connection->SchemaCache()->GetFieldDomain(Relation, Field, Domain);
  return true;
}

}  // namespace pelvar
