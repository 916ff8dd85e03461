// The schema facts the statement engine asks of a connection: the fields of a table,
// the stored procedures and the domain of a field. They come from the connection's
// schema cache; a test may install a provider of its own instead (an empty one restores
// the schema cache).
#pragma once

#include <functional>
#include <vector>

#include "platform/types.h"

namespace pelvar {

class TIB_Connection;

struct TIB_SchemaFactsProvider {
  std::function<bool(TIB_Connection*, const AnsiString& Table, std::vector<AnsiString>& Fields)>
      TableFields;
  std::function<bool(TIB_Connection*, std::vector<AnsiString>& Names)> ProcedureNames;
  std::function<bool(TIB_Connection*, const AnsiString& Relation, const AnsiString& Field,
                     AnsiString& Domain)>
      FieldDomain;
};

// Installs the provider (an empty one restores the schema cache's answers).
void SetSchemaFactsProvider(TIB_SchemaFactsProvider Provider);

// The fields of Table in their order; false when unknown.
bool SchemaTableFields(TIB_Connection* Connection, const AnsiString& Table,
                       std::vector<AnsiString>& Fields);
bool SchemaProcedureNames(TIB_Connection* Connection, std::vector<AnsiString>& Names);
bool SchemaFieldDomain(TIB_Connection* Connection, const AnsiString& Relation,
                       const AnsiString& Field, AnsiString& Domain);

}  // namespace pelvar
