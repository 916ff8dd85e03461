// Schema facts of a connection, "unknown" until a provider answers.
#include "dbengine/IB_SchemaFacts.h"

#include <utility>

namespace pelvar {

namespace {
TIB_SchemaFactsProvider& Provider() {
  static TIB_SchemaFactsProvider provider;
  return provider;
}
}  // namespace

void SetSchemaFactsProvider(TIB_SchemaFactsProvider Value) { Provider() = std::move(Value); }

bool SchemaTableFields(TIB_Connection* Connection, const AnsiString& Table,
                       std::vector<AnsiString>& Fields) {
  Fields.clear();
  return Connection != nullptr && Provider().TableFields &&
         Provider().TableFields(Connection, Table, Fields);
}

bool SchemaProcedureNames(TIB_Connection* Connection, std::vector<AnsiString>& Names) {
  Names.clear();
  return Connection != nullptr && Provider().ProcedureNames &&
         Provider().ProcedureNames(Connection, Names);
}

bool SchemaFieldDomain(TIB_Connection* Connection, const AnsiString& Relation,
                       const AnsiString& Field, AnsiString& Domain) {
  Domain.clear();
  return Connection != nullptr && Provider().FieldDomain &&
         Provider().FieldDomain(Connection, Relation, Field, Domain);
}

}  // namespace pelvar
