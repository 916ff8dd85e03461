// System-table queries of the schema cache, the schema version read, the generator read
// and the BDE alias look-up.
#include "dbclient/IB_Schema.h"

#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <vector>

#include "dbclient/IB_SchemaCache.h"
#include "dbengine/IB_Parse.h"
#include "platform/registry.h"
#include "platform/streams.h"
#include "platform/sysutils.h"

namespace pelvar {

const char* const SchemaByTable = "<BY TABLE>";
const char* const SchemaByKeys = "<BY KEYS>";

// --- Schema cursor ------------------------------------------------------------------------------

TIB_SchemaCursor::TIB_SchemaCursor(TComponent* Owner) : TIB_Dataset(Owner) {
  // The cursor never asks the schema cache itself.
  SetAllowDomainLookups(false);
}

bool TIB_SchemaCursor::CheckTransaction(bool Start) {
  SetKeyLinksAutoDefine(false);
  if (IB_Transaction() == nullptr && IB_Connection() != nullptr) {
    SetIB_Transaction(IB_Connection()->SchemaCache()->Transaction());
  }
  return TIB_Dataset::CheckTransaction(Start);
}

namespace {

using RowFn = std::function<void(TIB_SchemaCursor& C)>;

struct CursorOptions {
  bool ParamCheck = true;
};

// Runs the SQL lines on a fresh schema cursor of the connection's session and calls Row
// for every row; the cursor goes whatever happens.
void RunSchemaQuery(TIB_Connection* Conn, TIB_Transaction* Tr,
                    const std::vector<AnsiString>& Lines, const RowFn& Row,
                    CursorOptions Options = {}) {
  TIB_SchemaCursor cursor(nullptr);
  cursor.SetIB_Session(Conn->GetIB_Session());
  cursor.SetParamCheck(Options.ParamCheck);
  cursor.SetIB_Connection(Conn);
  if (Tr != nullptr) cursor.SetIB_Transaction(Tr);
  AnsiString text;
  for (const AnsiString& line : Lines) text += line + "\r\n";
  cursor.SQL()->SetText(text);
  try {
    cursor.Prepare();
    cursor.Open();
    while (!cursor.Eof()) {
      Row(cursor);
      cursor.Next();
    }
    cursor.Close();
  } catch (...) {
    try {
      cursor.Close();
    } catch (...) {
    }
    cursor.SetIB_Transaction(nullptr);
    throw;
  }
  cursor.SetIB_Transaction(nullptr);
}

AnsiString Col(TIB_SchemaCursor& C, int32_t Index) {
  return TrimRight(C.Fields()->GetColumn(Index)->GetAsString());
}

AnsiString ColByName(TIB_SchemaCursor& C, const char* Name) {
  TIB_Column* c = C.FindField(Name);
  return c == nullptr ? AnsiString() : TrimRight(c->GetAsString());
}

AnsiString Stored(TIB_Connection* Conn, const AnsiString& Name) {
  return Conn->MakeStoredIdent(TrimRight(Name));
}

int16_t Dialect(TIB_Connection* Conn) { return Conn->SQLDialect(); }

// The table as a string literal: upper-cased below dialect 3, quotes stripped.
AnsiString TableLiteral(TIB_Connection* Conn, AnsiString Table) {
  if (Dialect(Conn) < 3) Table = AnsiUpperCase(Table);
  return QuoteText(StripQuotes(Table), '\'');
}

bool Prepare(TIB_Connection* Conn, TStrings* List) {
  if (List == nullptr) return false;
  List->Clear();
  return Conn != nullptr;
}

// Fills a sorted list unsorted (rows come in their order) and sorts it afterwards.
class FillUnsorted {
 public:
  explicit FillUnsorted(TStrings* List) : list_(dynamic_cast<TStringList*>(List)) {
    List->BeginUpdate();
    outer_ = List;
    if (list_ != nullptr && list_->Sorted()) {
      list_->SetSorted(false);
      resort_ = true;
    }
  }
  ~FillUnsorted() {
    if (resort_) list_->SetSorted(true);
    outer_->EndUpdate();
  }
  FillUnsorted(const FillUnsorted&) = delete;
  FillUnsorted& operator=(const FillUnsorted&) = delete;

 private:
  TStringList* list_;
  TStrings* outer_ = nullptr;
  bool resort_ = false;
};

void LoadNames(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List,
               const std::vector<AnsiString>& Lines) {
  if (!Prepare(Conn, List)) return;
  RunSchemaQuery(Conn, Tr, Lines, [&](TIB_SchemaCursor& c) { List->Add(Stored(Conn, Col(c, 0))); });
}

// FIELD, or FIELD,RELATION without a table.
void LoadFieldRelation(TIB_Connection* Conn, TIB_Transaction* Tr, const AnsiString& Table,
                       TStrings* List, const std::vector<AnsiString>& Lines) {
  if (!Prepare(Conn, List)) return;
  RunSchemaQuery(Conn, Tr, Lines, [&](TIB_SchemaCursor& c) {
    if (Table.empty()) {
      List->Add(Stored(Conn, Col(c, 0)) + "," + Stored(Conn, Col(c, 1)));
    } else {
      List->Add(Stored(Conn, Col(c, 0)));
    }
  });
}

const char* const kNotSystemFlag = "WHERE ( RDB$SYSTEM_FLAG <> 1 OR RDB$SYSTEM_FLAG IS NULL )";

}  // namespace

// --- Loaders ------------------------------------------------------------------------------------

void LoadDomainNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, TStrings* List) {
  std::vector<AnsiString> sql{"SELECT RDB$FIELD_NAME", "FROM RDB$FIELDS"};
  if (!WithSystem) sql.push_back(kNotSystemFlag);
  sql.push_back("ORDER BY 1");
  LoadNames(Conn, Tr, List, sql);
}

void LoadFieldDomains(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List) {
  if (!Prepare(Conn, List)) return;
  RunSchemaQuery(Conn, Tr,
                 {"SELECT R.RDB$RELATION_NAME", "     , R.RDB$FIELD_NAME",
                  "     , R.RDB$FIELD_SOURCE", "FROM RDB$RELATION_FIELDS R",
                  "WHERE ( R.RDB$SYSTEM_FLAG <> 1 OR R.RDB$SYSTEM_FLAG IS NULL )",
                  "  AND NOT R.RDB$RELATION_NAME STARTING 'RDB$'",
                  "  AND NOT R.RDB$FIELD_NAME STARTING 'RDB$'",
                  "  AND NOT R.RDB$FIELD_SOURCE STARTING 'RDB$'", "ORDER BY 1, 2"},
                 [&](TIB_SchemaCursor& c) {
                   List->Add(Stored(Conn, Col(c, 0)) + "." + Stored(Conn, Col(c, 1)) + "=" +
                             Stored(Conn, Col(c, 2)));
                 });
}

void LoadGeneratorNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                        TStrings* List) {
  std::vector<AnsiString> sql{"SELECT RDB$GENERATOR_NAME", "FROM RDB$GENERATORS"};
  if (!WithSystem) sql.push_back(kNotSystemFlag);
  sql.push_back("ORDER BY 1");
  LoadNames(Conn, Tr, List, sql);
}

void LoadTableNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, bool Tables,
                    bool Views, TStrings* List) {
  std::vector<AnsiString> sql{"SELECT R.RDB$RELATION_NAME", "FROM RDB$RELATIONS R"};
  if (!Views && !Tables) {
    sql.push_back("WHERE 0 = 1");
  } else if (WithSystem) {
    sql.push_back("WHERE 1 = 1");
  } else {
    sql.push_back("WHERE ( R.RDB$SYSTEM_FLAG <> 1 OR  R.RDB$SYSTEM_FLAG IS NULL )");
  }
  if (Views && !Tables) {
    sql.insert(sql.end(), {" AND EXISTS ( SELECT V.RDB$VIEW_CONTEXT",
                           "              FROM RDB$VIEW_RELATIONS V",
                           "              WHERE R.RDB$RELATION_NAME = V.RDB$VIEW_NAME )"});
  } else if (Tables && !Views) {
    sql.insert(sql.end(), {" AND NOT EXISTS ( SELECT V.RDB$VIEW_CONTEXT",
                           "                  FROM RDB$VIEW_RELATIONS V",
                           "                  WHERE R.RDB$RELATION_NAME = V.RDB$VIEW_NAME )"});
  }
  sql.push_back("ORDER BY 1");
  LoadNames(Conn, Tr, List, sql);
}

void LoadProcedureNames(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List) {
  LoadNames(Conn, Tr, List,
            {"SELECT RDB$PROCEDURE_NAME", "FROM RDB$PROCEDURES", "ORDER BY RDB$PROCEDURE_NAME"});
}

void LoadConstraintNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                         TStrings* List, const AnsiString& Table) {
  if (List == nullptr || Conn == nullptr) return LoadNames(Conn, Tr, List, {});
  std::vector<AnsiString> sql{"SELECT RDB$CONSTRAINT_NAME", "FROM RDB$RELATION_CONSTRAINTS C",
                              "WHERE 1 = 1"};
  if (!Table.empty()) sql.push_back("  AND C.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
  if (!WithSystem) sql.push_back("  AND NOT C.RDB$RELATION_NAME STARTING WITH 'RDB$'");
  sql.push_back("ORDER BY 1");
  LoadNames(Conn, Tr, List, sql);
}

void LoadTriggerNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                      TStrings* List, const AnsiString& Table) {
  if (List == nullptr || Conn == nullptr) return LoadNames(Conn, Tr, List, {});
  std::vector<AnsiString> sql{"SELECT T.RDB$TRIGGER_NAME", "FROM RDB$TRIGGERS T", "WHERE 1=1"};
  if (!Table.empty()) sql.push_back("  AND T.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
  if (!WithSystem) sql.push_back("  AND NOT T.RDB$RELATION_NAME STARTING WITH 'RDB$'");
  sql.push_back("ORDER BY 1");
  LoadNames(Conn, Tr, List, sql);
}

void LoadIndexNames(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, TStrings* List,
                    const AnsiString& Table) {
  if (!Prepare(Conn, List)) return;
  std::vector<AnsiString> sql{"SELECT I.RDB$INDEX_NAME", "     , I.RDB$RELATION_NAME",
                              "FROM RDB$INDICES I", "WHERE 1 = 1"};
  if (!Table.empty()) sql.push_back("  AND I.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
  if (!WithSystem) sql.push_back("  AND NOT I.RDB$RELATION_NAME STARTING WITH 'RDB$'");
  sql.push_back("ORDER BY 1");
  LoadFieldRelation(Conn, Tr, Table, List, sql);
}

void LoadForeignKeys(TIB_Connection* Conn, TIB_Transaction* Tr, const AnsiString& Table,
                     TStrings* List) {
  if (!Prepare(Conn, List)) return;
  std::vector<AnsiString> sql{"SELECT S.RDB$FIELD_NAME",
                              "     , I.RDB$RELATION_NAME",
                              "FROM RDB$RELATION_CONSTRAINTS C",
                              "   , RDB$INDICES I",
                              "   , RDB$INDEX_SEGMENTS S",
                              "WHERE RDB$CONSTRAINT_TYPE = 'FOREIGN KEY'",
                              "  AND C.RDB$RELATION_NAME = I.RDB$RELATION_NAME",
                              "  AND C.RDB$INDEX_NAME = I.RDB$INDEX_NAME",
                              "  AND I.RDB$INDEX_NAME = S.RDB$INDEX_NAME"};
  if (!Table.empty()) sql.push_back("  AND I.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
  sql.push_back("ORDER BY 1, S.RDB$FIELD_POSITION");
  RunSchemaQuery(Conn, Tr, sql, [&](TIB_SchemaCursor& c) {
    List->Add(Stored(Conn, Col(c, 0)) + "," + Stored(Conn, Col(c, 1)));
  });
}

void LoadRequiredFields(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                        const AnsiString& Table, TStrings* List) {
  if (!Prepare(Conn, List)) return;
  std::vector<AnsiString> sql{"SELECT F.RDB$FIELD_NAME", "     , F.RDB$RELATION_NAME",
                              "FROM RDB$RELATION_FIELDS F", "WHERE RDB$NULL_FLAG = 1"};
  if (!Table.empty()) sql.push_back("  AND F.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
  if (!WithSystem) sql.push_back("  AND NOT F.RDB$RELATION_NAME STARTING WITH 'RDB$'");
  sql.push_back("ORDER BY 1");
  LoadFieldRelation(Conn, Tr, Table, List, sql);
}

void LoadComputedFields(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem,
                        const AnsiString& Table, TStrings* List) {
  if (!Prepare(Conn, List)) return;
  std::vector<AnsiString> sql{"SELECT R.RDB$FIELD_NAME",
                              "     , R.RDB$RELATION_NAME",
                              "FROM RDB$RELATION_FIELDS R",
                              "   , RDB$FIELDS F",
                              "WHERE R.RDB$FIELD_SOURCE = F.RDB$FIELD_NAME",
                              "  AND F.RDB$COMPUTED_SOURCE IS NOT NULL"};
  if (!Table.empty()) sql.push_back("  AND R.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
  if (!WithSystem) sql.push_back("  AND NOT R.RDB$RELATION_NAME STARTING WITH 'RDB$'");
  sql.push_back("ORDER BY 1");
  LoadFieldRelation(Conn, Tr, Table, List, sql);
}

void LoadSchemaVersions(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List) {
  if (!Prepare(Conn, List)) return;
  try {
    RunSchemaQuery(
        Conn, Tr,
        {"SELECT cast( SCHEMA_ITEM as varchar( 33 )) || '=' || cast( VERSION_NUMBER as varchar( "
         "33 ))",
         "FROM REZ$SCHEMA_VERSION", "ORDER BY 1"},
        [&](TIB_SchemaCursor& c) { List->Add(Col(c, 0)); }, CursorOptions{false});
  } catch (...) {
    // A database without the table trusts every cache file.
  }
}

void LoadRelationsByID(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithViews, TStrings* List) {
  if (!Prepare(Conn, List)) return;
  std::vector<AnsiString> sql{
      "SELECT cast( R.RDB$RELATION_ID as varchar( 33 )) || '=', R.RDB$RELATION_NAME",
      "FROM RDB$RELATIONS R"};
  if (!WithViews) {
    sql.insert(sql.end(), {"WHERE NOT EXISTS ( SELECT V.RDB$VIEW_CONTEXT",
                           "                   FROM RDB$VIEW_RELATIONS V",
                           "                   WHERE R.RDB$RELATION_NAME=V.RDB$VIEW_NAME )"});
  }
  sql.push_back("ORDER BY 1");
  RunSchemaQuery(
      Conn, Tr, sql,
      [&](TIB_SchemaCursor& c) { List->Add(Col(c, 0) + Stored(Conn, Col(c, 1))); },
      CursorOptions{false});
}

namespace {

// One item per relation: RELATION=F1,F2 (or F1,F2=RELATION with KeysFirst), in row order.
class GroupByRelation {
 public:
  GroupByRelation(TStrings* List, bool KeysFirst) : list_(List), keys_first_(KeysFirst) {}
  void Row(const AnsiString& Relation, const AnsiString& Field) {
    if (Relation != relation_) Flush();
    relation_ = Relation;
    fields_ += fields_.empty() ? Field : "," + Field;
  }
  void Flush() {
    if (!relation_.empty() && !fields_.empty()) {
      list_->Add(keys_first_ ? fields_ + "=" + relation_ : relation_ + "=" + fields_);
    }
    relation_.clear();
    fields_.clear();
  }

 private:
  TStrings* list_;
  bool keys_first_;
  AnsiString relation_, fields_;
};

}  // namespace

void LoadTableFields(TIB_Connection* Conn, TIB_Transaction* Tr, TStrings* List,
                     const AnsiString& Table) {
  if (!Prepare(Conn, List)) return;
  FillUnsorted fill(List);
  const bool by_table = Table == SchemaByTable;
  std::vector<AnsiString> sql{"SELECT R.RDB$RELATION_NAME, RDB$FIELD_NAME",
                              "FROM RDB$RELATION_FIELDS R",
                              "WHERE R.RDB$RELATION_NAME NOT STARTING WITH 'RDB$'"};
  if (!Table.empty() && !by_table) {
    sql.push_back("  AND R.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
    sql.push_back("ORDER BY R.RDB$FIELD_POSITION");
  } else {
    sql.push_back("ORDER BY R.RDB$RELATION_NAME, R.RDB$FIELD_POSITION");
  }
  GroupByRelation group(List, false);
  RunSchemaQuery(Conn, Tr, sql, [&](TIB_SchemaCursor& c) {
    const AnsiString relation = Stored(Conn, Col(c, 0));
    const AnsiString field = Stored(Conn, Col(c, 1));
    if (by_table) {
      group.Row(relation, field);
    } else if (Table.empty()) {
      List->Add(relation + "." + field);
    } else {
      List->Add(field);
    }
  });
  group.Flush();
}

void LoadPrimaryKeys(TIB_Connection* Conn, TIB_Transaction* Tr, const AnsiString& Table,
                     TStrings* List) {
  if (!Prepare(Conn, List)) return;
  FillUnsorted fill(List);
  const bool by_table = Table == SchemaByTable;
  const bool by_keys = Table == SchemaByKeys;
  std::vector<AnsiString> sql{"SELECT S.RDB$FIELD_NAME",
                              "     , I.RDB$RELATION_NAME",
                              "FROM RDB$RELATION_CONSTRAINTS C",
                              "   , RDB$INDICES I",
                              "   , RDB$INDEX_SEGMENTS S",
                              "WHERE C.RDB$CONSTRAINT_TYPE = 'PRIMARY KEY'",
                              "  AND C.RDB$RELATION_NAME = I.RDB$RELATION_NAME",
                              "  AND C.RDB$INDEX_NAME = I.RDB$INDEX_NAME",
                              "  AND I.RDB$INDEX_NAME = S.RDB$INDEX_NAME"};
  if (!Table.empty() && !by_table && !by_keys) {
    AnsiString table = Table;
    if (Dialect(Conn) < 3 || !IsQuoted(table, '"')) table = AnsiUpperCase(table);
    sql.push_back("  AND I.RDB$RELATION_NAME = " + QuoteText(StripQuotes(table), '\''));
    sql.push_back("ORDER BY S.RDB$FIELD_POSITION");
  } else {
    sql.push_back("ORDER BY I.RDB$RELATION_NAME, S.RDB$FIELD_POSITION");
  }
  GroupByRelation group(List, by_keys);
  RunSchemaQuery(Conn, Tr, sql, [&](TIB_SchemaCursor& c) {
    const AnsiString field = Stored(Conn, Col(c, 0));
    const AnsiString relation = Stored(Conn, Col(c, 1));
    if (by_table || by_keys) {
      group.Row(relation, field);
    } else if (Table.empty()) {
      List->Add(field + "," + relation);
    } else {
      List->Add(field);
    }
  });
  group.Flush();
}

AnsiString SchemaDefaultValue(const AnsiString& Source, int32_t FieldType) {
  auto strip_controls = [](AnsiString s) {
    size_t i = 0;
    while (i < s.size() && static_cast<unsigned char>(s[i]) < 33) ++i;
    return Trim(s.substr(i));
  };
  AnsiString text = strip_controls(strip_controls(Trim(Source)));
  if (text.size() < 7 || AnsiUpperCase(text.substr(0, 7)) != "DEFAULT") return {};
  AnsiString value = Trim(text.substr(7));
  if (value == "NULL") return value;
  const bool enclosed = IsQuoted(value, '\'') || IsQuoted(value, '"');
  switch (FieldType) {
    case 12:
    case 13:
    case 35:
      return StripQuotes(value);
    case 14:
    case 15:
    case 37:
    case 38:
    case 40:
    case 41:
      return enclosed ? StripQuotes(value) : AnsiString();
    case 261:
      return {};
    case 10:
    case 11:
    case 27: {
      if (enclosed) value = StripQuotes(value);
      const char sep = FormatSettings().DecimalSeparator;
      if (sep != '.') {
        for (char& ch : value) {
          if (ch == '.') ch = sep;
        }
      }
      if (AnsiUpperCase(value) == "NULL") return value;
      try {
        const long double x = StrToFloat(value);
        if (FieldType == 10) {
          const float f = static_cast<float>(x);
          if (FormatFloat("#.######E-0", f) != FormatFloat("#.######E-0", x)) return {};
          return FloatToStr(x);
        }
        const double d = static_cast<double>(x);
        if (FormatFloat("#.##############E-0", d) != FormatFloat("#.##############E-0", x)) {
          return {};
        }
        return FloatToStr(d);
      } catch (const Exception&) {
        return {};
      }
    }
    default:
      return value;
  }
}

void LoadDefaults(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, bool WithValues,
                  const AnsiString& Table, TStrings* List) {
  if (!Prepare(Conn, List)) return;
  std::vector<AnsiString> sql{"SELECT F.RDB$FIELD_NAME F_FieldName",
                              "     , F.RDB$RELATION_NAME F_RelationName"};
  if (WithValues) {
    sql.insert(sql.end(), {"     , F.RDB$DEFAULT_SOURCE F_DefaultSource",
                           "     , D.RDB$DEFAULT_SOURCE D_DefaultSource",
                           "     , D.RDB$FIELD_TYPE D_FieldType"});
  }
  sql.insert(sql.end(),
             {"FROM RDB$RELATION_FIELDS F", "INNER JOIN RDB$FIELDS D",
              "  ON D.RDB$FIELD_NAME = F.RDB$FIELD_SOURCE",
              "WHERE (( F.RDB$DEFAULT_SOURCE IS NOT NULL ) OR ( D.RDB$DEFAULT_SOURCE IS NOT NULL ))"});
  if (!WithSystem) sql.push_back("  AND NOT F.RDB$RELATION_NAME STARTING WITH 'RDB$'");
  if (!Table.empty()) sql.push_back("  AND F.RDB$RELATION_NAME = " + TableLiteral(Conn, Table));
  sql.push_back("ORDER BY 1");
  RunSchemaQuery(Conn, Tr, sql, [&](TIB_SchemaCursor& c) {
    const AnsiString name = Stored(Conn, ColByName(c, "F_RELATIONNAME")) + "." +
                            Stored(Conn, ColByName(c, "F_FIELDNAME"));
    if (!WithValues) {
      List->Add(name);
      return;
    }
    TIB_Column* own = c.FindField("F_DEFAULTSOURCE");
    const AnsiString source = own != nullptr && !own->GetIsNull()
                                  ? own->GetAsString()
                                  : ColByName(c, "D_DEFAULTSOURCE");
    TIB_Column* type = c.FindField("D_FIELDTYPE");
    const int32_t field_type = type != nullptr && !type->GetIsNull() ? type->GetAsInteger() : 0;
    List->Add(name + "=" + SchemaDefaultValue(source, field_type));
  });
}

void LoadIndexDefs(TIB_Connection* Conn, TIB_Transaction* Tr, bool WithSystem, TStrings* List) {
  if (!Prepare(Conn, List)) return;
  std::vector<AnsiString> sql{"SELECT I.RDB$RELATION_NAME",
                              "     , I.RDB$INDEX_NAME",
                              "     , I.RDB$UNIQUE_FLAG",
                              "     , I.RDB$INDEX_TYPE",
                              "     , I.RDB$FOREIGN_KEY",
                              "     , ( SELECT C.RDB$CONSTRAINT_NAME",
                              "         FROM RDB$RELATION_CONSTRAINTS C",
                              "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME ) AS CNST",
                              "     , ( SELECT R.RDB$UPDATE_RULE",
                              "         FROM RDB$REF_CONSTRAINTS R",
                              "         WHERE R.RDB$CONSTRAINT_NAME = ",
                              "       ( SELECT C.RDB$CONSTRAINT_NAME",
                              "         FROM RDB$RELATION_CONSTRAINTS C",
                              "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME )) AS UR",
                              "     , ( SELECT R.RDB$DELETE_RULE",
                              "         FROM RDB$REF_CONSTRAINTS R",
                              "         WHERE R.RDB$CONSTRAINT_NAME = ",
                              "       ( SELECT C.RDB$CONSTRAINT_NAME",
                              "         FROM RDB$RELATION_CONSTRAINTS C",
                              "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME )) AS DR"};
  const bool with_type = Conn->Characteristics().dbODS_Version >= 10;
  if (with_type) {
    sql.insert(sql.end(), {"     , ( SELECT C.RDB$CONSTRAINT_TYPE",
                           "         FROM RDB$RELATION_CONSTRAINTS C",
                           "         WHERE C.RDB$INDEX_NAME = I.RDB$INDEX_NAME ) AS CT"});
  }
  sql.push_back("FROM RDB$INDICES I");
  if (!WithSystem) sql.push_back("WHERE NOT I.RDB$RELATION_NAME STARTING WITH 'RDB$'");
  // The segments are read for each index while the main cursor is open.
  TIB_SchemaCursor segs(nullptr);
  segs.SetIB_Session(Conn->GetIB_Session());
  segs.SetIB_Connection(Conn);
  if (Tr != nullptr) segs.SetIB_Transaction(Tr);
  segs.SQL()->SetText(
      "SELECT RDB$FIELD_NAME\r\nFROM RDB$INDEX_SEGMENTS\r\nWHERE RDB$INDEX_NAME = ?Name\r\n"
      "ORDER BY RDB$FIELD_POSITION\r\n");
  auto value = [&](const AnsiString& v) { return EncodeAttributeValue(Stored(Conn, v)); };
  try {
    RunSchemaQuery(Conn, Tr, sql, [&](TIB_SchemaCursor& c) {
      const AnsiString index_name = Col(c, 1);
      AnsiString item = Stored(Conn, index_name) + "=";
      const AnsiString cnst = Col(c, 5);
      const AnsiString ur = Col(c, 6);
      const AnsiString dr = Col(c, 7);
      const AnsiString ct = with_type ? Col(c, 8) : AnsiString();
      TIB_Column* unique = c.Fields()->GetColumn(2);
      TIB_Column* type = c.Fields()->GetColumn(3);
      if (ct == "PRIMARY KEY") {
        item += "PK;";
      } else if (index_name.rfind("RDB$PRIMARY", 0) == 0) {
        item += "PK;";
      } else if (!unique->GetIsNull() && unique->GetAsInteger() == 1) {
        item += "UN;";
      }
      if (!type->GetIsNull() && type->GetAsInteger() == 1) item += "DESC;";
      item += "REL=" + value(Col(c, 0)) + ";";
      if (!cnst.empty()) item += "CNST=" + value(cnst) + ";";
      const AnsiString fk = Col(c, 4);
      if (!fk.empty()) {
        item += "FK=" + value(fk) + ";";
        if (!ur.empty() && ur != "RESTRICT") item += "UR=" + value(ur) + ";";
        if (!dr.empty() && dr != "RESTRICT") item += "DR=" + value(dr) + ";";
      }
      segs.Close();
      segs.Prepare();
      segs.Params()->GetColumn(0)->SetAsString(index_name);
      segs.Open();
      bool first = true;
      while (!segs.Eof()) {
        item += (first ? "SEGS=" : ",") + value(TrimRight(segs.Fields()->GetColumn(0)->GetAsString()));
        first = false;
        segs.Next();
      }
      segs.Close();
      List->Add(item);
    });
  } catch (...) {
    segs.SetIB_Transaction(nullptr);
    throw;
  }
  segs.SetIB_Transaction(nullptr);
}

// --- Generator values ---------------------------------------------------------------------------

namespace {

// Letters, digits, "$" and "_", not starting with a digit: what dialect 1 takes unquoted.
bool IsPlainIdentifier(const AnsiString& Name) {
  if (Name.empty() || (Name[0] >= '0' && Name[0] <= '9')) return false;
  for (char ch : Name) {
    const bool ok = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') ||
                    (ch >= '0' && ch <= '9') || ch == '$' || ch == '_';
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool GetGeneratorValue(TIB_Connection* Conn, TIB_Transaction* Tr, const AnsiString& Generator,
                       int32_t Increment, int64_t& Value, AnsiString* Error) {
  Value = -1;
  if (Error != nullptr) Error->clear();
  if (Conn == nullptr) {
    if (Error != nullptr) *Error = "no connection";
    return false;
  }
  TIB_Transaction* used = nullptr;
  bool ok = false;
  try {
    TIB_DSQL st(nullptr);
    st.SetIB_Session(Conn->GetIB_Session());
    st.SetAllowDomainLookups(false);
    st.SetIB_Connection(Conn);
    used = Tr != nullptr ? Tr : Conn->SchemaCache()->Transaction();
    st.SetIB_Transaction(used);
    try {
      // The name always enters the text as one identifier of the dialect: a field
      // property can never inject SQL here.
      const int16_t dialect = Conn->SQLDialect();
      const AnsiString name = Trim(Generator);
      if (name.empty()) throw EIB_Error(&st, "Generator name is empty");
      const AnsiString ident =
          IsQuoted(name, '"') ? QuoteText(StripQuotes(name), '"')
                              : (dialect >= 3 ? QuoteText(AnsiUpperCase(name), '"')
                                              : AnsiUpperCase(name));
      if (dialect < 3 && !IsPlainIdentifier(ident)) {
        throw EIB_Error(&st, "Invalid generator name: " + name);
      }
      st.CheckTransaction(true);
      std::vector<char> bytes(static_cast<size_t>(XSQLDA_LENGTH(1)), '\0');
      auto* da = reinterpret_cast<XSQLDA*>(bytes.data());
      da->version = SQLDA_VERSION1;
      da->sqln = 1;
      da->sqld = 1;
      int64_t buffer = 0;
      int16_t null_ind = 0;
      XSQLVAR& v = da->sqlvar[0];
      v.sqltype = dialect >= 3 ? SQL_INT64 : SQL_LONG;
      v.sqllen = dialect >= 3 ? 8 : 4;
      v.sqlscale = 0;
      v.sqldata = reinterpret_cast<char*>(&buffer);
      v.sqlind = &null_ind;
      std::memcpy(v.aliasname, "GEN_ID", 6);
      v.aliasname_length = 6;
      st.ExecuteImmediate("SELECT GEN_ID ( " + ident + ", " + IntToStr(Increment) + " )\r\n" +
                              "FROM RDB$DATABASE",
                          nullptr, da);
      Value = dialect >= 3 ? buffer : static_cast<int64_t>(static_cast<int32_t>(buffer));
      ok = true;
    } catch (...) {
      st.SetIB_Transaction(nullptr);
      throw;
    }
    st.SetIB_Transaction(nullptr);
  } catch (const std::exception& e) {
    Value = -1;
    ok = false;
    if (Error != nullptr) *Error = e.what();
  } catch (...) {
    Value = -1;
    ok = false;
  }
  if (used != nullptr) used->CheckOAT();
  return ok;
}

// --- BDE alias look-up --------------------------------------------------------------------------

AnsiString GetBDEConfigFileName() {
  try {
    TRegistry reg;
    reg.SetRootKey(HKEY_LOCAL_MACHINE);
    if (!reg.OpenKey("\\SOFTWARE\\Borland\\Database Engine", true)) return {};
    return reg.ReadString("CONFIGFILE01");
  } catch (const Exception&) {
    return {};
  }
}

bool ReadBDEConfigToken(TStream& Stream, AnsiString& Token) {
  Token.clear();
  char ch = 0;
  while (Stream.Read(&ch, 1) == 1) {
    if (ch == 3) {
      Stream.Read(&ch, 1);
      Stream.Read(&ch, 1);
      return true;
    }
    Token += ch;
  }
  return !Token.empty();
}

namespace {

bool Holds(const AnsiString& Token, std::initializer_list<int> Bytes, const char* Text = nullptr,
           std::initializer_list<int> After = {}) {
  AnsiString pattern;
  for (int b : Bytes) pattern += static_cast<char>(b);
  if (Text != nullptr) pattern += Text;
  for (int b : After) pattern += static_cast<char>(b);
  return Token.find(pattern) != AnsiString::npos;
}

}  // namespace

void LoadBDEAliasParams(const AnsiString& Kind, const AnsiString& Name, TStrings* List) {
  const AnsiString file = GetBDEConfigFileName();
  TFileStream stream(file, fmOpenRead | fmShareDenyWrite);
  List->BeginUpdate();
  try {
    List->Clear();
    char skip[2];
    stream.Read(skip, 2);
    AnsiString token;
    bool in_section = false;
    while (ReadBDEConfigToken(stream, token)) {
      if (!in_section) {
        in_section = Holds(token, {0}, "DATABASES", {0, 1, 0});
        continue;
      }
      if (Holds(token, {2, 0, 2, 0, 2, 0})) break;
      const AnsiString alias = Trim(token);
      const bool match = AnsiSameText(Kind, "ALIAS") && AnsiSameText(alias, Name);
      bool in_info = false;
      bool ended = false;
      while (ReadBDEConfigToken(stream, token)) {
        if (Holds(token, {2, 0, 2, 0})) {
          ended = true;
          break;
        }
        if (!in_info) {
          in_info = !token.empty() && token[0] == 0 && Holds(token, {0}, "DB INFO", {0, 1, 0});
          continue;
        }
        if (match) {
          const AnsiString sep{'\0', '\4', '\0'};
          const size_t at = token.find(sep);
          if (at != AnsiString::npos) {
            List->Add(Trim(token.substr(0, at)) + "=" + Trim(token.substr(at + 3)));
          } else {
            List->Add(Trim(token) + "=");
          }
        } else if (Holds(token, {0}, "TYPE", {0, 4, 0})) {
          const AnsiString type = token.size() > 8 ? Trim(token.substr(8)) : AnsiString();
          if (Kind.empty() || AnsiSameText(type, Kind)) List->Add(alias);
        }
      }
      if (!ended) break;
    }
  } catch (...) {
    List->EndUpdate();
    throw;
  }
  List->EndUpdate();
}

}  // namespace pelvar
