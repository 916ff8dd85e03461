// What a statement knows about its SQL: the select items, relation aliases and the key
// relation, the questions other components ask of the text (aggregates, procedures,
// EXECUTE BLOCK), the server text with its parameter names put back; and the SQL
// strings' clause cache and definition copy.
#include <algorithm>
#include <cctype>

#include "dbengine/IB_Components_statement.h"
#include "dbclient/IB_SchemaCache.h"
#include "dbengine/IB_Parse.h"
#include "dbengine/IB_SchemaFacts.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

AnsiString ControlsToBlanks(AnsiString Text) {
  for (char& c : Text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
  return Text;
}

// The item text without its alias: the part before AS, else before its last blank
// outside double quotes.
AnsiString StripItemAlias(const AnsiString& Item) {
  const AnsiString upper = AnsiUpperCase(Item);
  const int32_t as = FindSQLText("AS", upper, 1, true);
  if (as > 1) return Trim(Item.substr(0, static_cast<size_t>(as - 1)));
  const int32_t blank = LastCharPosOutsideQuotes(' ', Item, 0);
  if (blank > 1) return Trim(Item.substr(0, static_cast<size_t>(blank - 1)));
  return Item;
}

// The position of ".*" outside double quotes (1-based), 0 when none.
int32_t StarSuffixPos(const AnsiString& Item) {
  bool quoted = false;
  for (size_t i = 0; i + 1 < Item.size(); ++i) {
    if (Item[i] == '"') quoted = !quoted;
    if (!quoted && Item[i] == '.' && Item[i + 1] == '*') return static_cast<int32_t>(i) + 1;
  }
  return 0;
}

}  // namespace

// --- Select items ----------------------------------------------------------------------------

TIB_StringList* TIB_Statement::GetSQLSelectItems() {
  if (select_items_stale_) ExpandSelectItems();
  return select_items_.get();
}

void TIB_Statement::ExpandSelectItems() {
  select_items_stale_ = false;
  TIB_StringList* list = select_items_.get();
  list->BeginUpdate();
  try {
    int32_t i = 0;
    while (i < list->Count()) {
      const AnsiString item = Trim(ControlsToBlanks(DecodeAttributeValue(list->Strings(i))));
      if (item != "<*>") {
        const AnsiString plain = EncodeAttributeValue(StripItemAlias(item));
        if (plain != list->Strings(i)) list->Put(i, plain);
        ++i;
        continue;
      }
      list->Delete(i);
      if (i >= list->Count()) break;
      const AnsiString star = Trim(ControlsToBlanks(DecodeAttributeValue(list->Strings(i))));
      AnsiString relation;
      if (star == "*") {
        relation = GetRelationByAlias(GetEffectiveKeyRelation());
      } else if (const int32_t at = StarSuffixPos(star); at > 0) {
        relation = GetRelationByAlias(star.substr(0, static_cast<size_t>(at - 1)));
      }
      std::vector<AnsiString> names;
      TIB_Connection* c = IB_Connection();
      if (!relation.empty() && c != nullptr && SchemaTableFields(c, relation, names) &&
          !names.empty()) {
        list->Delete(i);
        for (const AnsiString& name : names) {
          list->Insert(i, EncodeAttributeValue(name));
          ++i;
        }
      }
      // Otherwise the star stays and the walk treats it as a plain item next.
    }
  } catch (...) {
    list->EndUpdate();
    throw;
  }
  list->EndUpdate();
}

// --- Key relation and aliases ------------------------------------------------------------------

void TIB_Statement::SetKeyRelation(const AnsiString& Value) {
  if (Value == key_relation_) return;
  ColumnRulesChanged();
  SysUnprepare();
  key_relation_ = Value;
}

void TIB_Statement::GetEffectiveKeyRelation(AnsiString& Relation) {
  Relation = key_relation_;
  if (Relation.empty() && fields_->GetRelationCount() == 1) {
    Relation = fields_->GetRelationName(0);
  }
}

void TIB_Statement::GetRelationByAlias(const AnsiString& Alias, AnsiString& Relation) const {
  Relation.clear();
  if (!relation_aliases_->GetLinkValue(Alias, Relation)) Relation.clear();
}

void TIB_Statement::SysParseRelationAliases() {
  if (!relation_aliases_stale_) return;
  relation_aliases_->Clear();
  ParseRelationAliases(sql_->Text(), relation_aliases_.get());
  relation_aliases_stale_ = false;
}

void TIB_Statement::SysCompleteRelationAliases() {
  for (int32_t i = 0; i < fields_->ColumnCount(); ++i) {
    TIB_Column* c = fields_->GetColumn(i);
    const AnsiString alias = c->GetRelAlias();
    if (!alias.empty() && relation_aliases_->IndexOfLinkName(alias) < 0) {
      relation_aliases_->Add(alias + "=" + c->GetRelName());
    }
  }
}

// --- Questions about the SQL ----------------------------------------------------------------------

bool TIB_Statement::IsAggregateSelect() {
  AnsiString text = sql_->Text();
  if (OnMacroSubstitute) SubstituteMacros(text, text);
  if (!Trim(GetGroupByClause(text)).empty()) return true;
  const AnsiString select = " " + AnsiUpperCase(ControlsToBlanks(GetSelectClause(text))) + " ";
  if (FindSQLText(" DISTINCT ", select) > 0 || FindSQLText(" DISTINCT(", select) > 0) return true;
  if (select.find('(') == AnsiString::npos) return false;
  if (select_items_->Count() == 0) {
    if (preparing_) {
      int32_t chars = 0;
      AnsiString ignored;
      ParseSQLParams(sql_->Text(), param_names_.get(), select_items_.get(), third_list_.get(),
                     ignored, param_check_ ? param_char_ : '\0', true, chars, false);
    } else {
      // The build edits the SQL list in place (macros, the links' additions); the
      // user's texts come back afterwards, as after a prepare.
      const AnsiString user_sql = sql_->Text();
      const AnsiString user_join_links = join_links_->Text();
      const bool was_ignoring = ignore_sql_changes_;
      ignore_sql_changes_ = true;
      auto restore = [&]() {
        if (sql_->Text() != user_sql) sql_->SetText(user_sql);
        if (join_links_->Text() != user_join_links) join_links_->SetText(user_join_links);
        ignore_sql_changes_ = was_ignoring;
      };
      try {
        SysPrepareServerSQL();
      } catch (...) {
        restore();
        throw;
      }
      restore();
    }
  }
  static const char* const kAggregates[] = {"COUNT(", "MAX(", "MIN(", "AVG(", "SUM("};
  for (int32_t i = 0; i < select_items_->Count(); ++i) {
    AnsiString item = AnsiUpperCase(DecodeAttributeValue(select_items_->Strings(i)));
    if (item.find('(') == AnsiString::npos) continue;
    item = StringReplace(item, " (", "(", TReplaceFlags{rfReplaceAll});
    size_t at = AnsiString::npos;
    for (const char* agg : kAggregates) {
      // A whole word: the name must not continue an identifier on its left.
      size_t from = 0;
      while ((from = item.find(agg, from)) != AnsiString::npos) {
        const char before = from == 0 ? ' ' : item[from - 1];
        if (!(std::isalnum(static_cast<unsigned char>(before)) || before == '_' || before == '$')) {
          break;
        }
        ++from;
      }
      if (from != AnsiString::npos) {
        at = from;
        break;
      }
    }
    if (at == AnsiString::npos) continue;
    // An aggregate inside a sub-select of the item does not count.
    if (item.substr(0, at).find("SELECT ") == AnsiString::npos) return true;
  }
  return false;
}

bool TIB_Statement::IsSelectFromProcedure() {
  int32_t chars = 0;
  AnsiString from;
  ParseSQLParams(GetFromClause(sql_->Text()), static_cast<TStrings*>(nullptr), nullptr, nullptr,
                 from, param_char_, true, chars, false);
  from = AnsiUpperCase(from);
  bool result = from.find('(') != AnsiString::npos && from.find(" ON ") == AnsiString::npos &&
                from.find(" JOIN ") == AnsiString::npos;
  CheckConnection(false);
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || result) return result;
  const AnsiString key = GetEffectiveKeyRelation();
  if (key.empty()) return false;
  std::vector<AnsiString> names;
  if (!SchemaProcedureNames(c, names)) return false;
  return std::any_of(names.begin(), names.end(),
                     [&](const AnsiString& n) { return AnsiSameText(n, key); });
}

bool TIB_Statement::IsExecuteBlock() {
  int32_t chars = 0;
  AnsiString text;
  ParseSQLParams(Trim(sql_->Text()), static_cast<TStrings*>(nullptr), nullptr, nullptr, text,
                 param_char_, true, chars, false);
  int32_t s = 1, e = 0;
  AnsiString found;
  return FindSQLKeyword(text, "EXECUTE", kSqlKeyFirstWord | kSqlKeyNextIsTerm, {"BLOCK"}, s, e,
                        found);
}

void TIB_Statement::GetServerSQLText(AnsiString& Text) {
  if (!prepared_) {
    Text = sql_->Text();
    return;
  }
  DoBeforeExecute();
  SysPrepare();
  ParamMarkersToNames(server_sql_no_plan_, Text, param_char_);
}

void TIB_Statement::GetFieldDomain(const AnsiString& Relation, const AnsiString& Field,
                                   AnsiString& Domain) {
  Domain.clear();
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || !allow_domain_lookups_ || !IsSelectStatement() || IsSelectFromProcedure()) {
    return;
  }
  SchemaFieldDomain(c, Relation, Field, Domain);
}

bool TIB_Statement::IsComputedField(const TIB_Column* Column) const {
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || !allow_domain_lookups_ || !c->GetConnected()) return false;
  // Most schemas have no computed column: the list is looked at before any name is made.
  if (!Column->HasRelName()) return false;
  TIB_StringList* computed = c->SchemaCache()->Computed();
  if (computed->Count() == 0) return false;
  const AnsiString relation = Column->GetRelName();
  if (relation.empty()) return false;
  return computed->IndexOfLinkName(Column->GetFieldName() + "," + relation) >= 0;
}

bool TIB_Statement::HasServerDefault(const TIB_Column* Column) const {
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || !allow_domain_lookups_ || !c->GetConnected()) return false;
  const AnsiString relation = Column->GetRelName();
  if (relation.empty()) return false;
  return c->SchemaCache()->Defaults()->IndexOfLinkName(relation + "." + Column->GetFieldName()) >= 0;
}

AnsiString TIB_Statement::ProcParamDefault(const TIB_Column* Column) {
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || !c->GetConnected() || !allow_domain_lookups_) return {};
  if (GetStatementType() != isc_info_sql_stmt_exec_procedure) return {};
  if (c->Characteristics().dbODS_Version < 10) return {};
  AnsiString proc = Column->GetRelName();
  if (proc.empty()) {
    // The server names no relation for the parameters of EXECUTE PROCEDURE: the
    // procedure is the one the text names.
    const AnsiString text = SQL()->Text();
    int32_t pos = 1;
    AnsiString word;
    for (int32_t i = 0; i < 3; ++i) {
      SkipSQLBlanks(text, pos, 0, false, false, false, false);
      ReadSQLWord(text, pos, 0, word);
      if (i == 0 && !AnsiSameText(word, "EXECUTE")) return {};
      if (i == 1 && !AnsiSameText(word, "PROCEDURE")) return {};
    }
    proc = word;
  }
  if (proc.empty()) return {};
  TStringList result;
  c->SchemaCache()->GetProcParamDefault(proc, Column->GetAliasName(), &result);
  return Trim(result.Values("DEFAULT_SOURCE"));
}

// --- SQL strings -----------------------------------------------------------------------------------

void TIB_SQLStrings::Changing() {
  TIB_StringList::Changing();
  std::fill(std::begin(clause_start_), std::end(clause_start_), 0);
  std::fill(std::begin(clause_end_), std::end(clause_end_), 0);
}

void TIB_SQLStrings::GetSection(int32_t Number, AnsiString& Text) {
  Text.clear();
  if (Number < 1 || Number > 9) return;
  const AnsiString text = this->Text();
  if (clause_start_[Number] != 0) {
    if (clause_start_[Number] > 0) {
      Text = Trim(CopyRange(text, clause_start_[Number], clause_end_[Number]));
    }
    return;
  }
  using Getter = AnsiString (*)(const AnsiString&, int32_t*, int32_t*);
  static const Getter getters[10] = {nullptr,          GetSelectClause, GetFromClause,
                                     GetWhereClause,   GetGroupByClause, GetHavingClause,
                                     GetUnionClause,   GetPlanClause,    GetOrderByClause,
                                     GetForUpdateClause};
  int32_t start = 0, end = 0;
  ++section_searches_;
  Text = Trim(getters[Number](text, &start, &end));
  if (start > 0) {
    clause_start_[Number] = start;
    clause_end_[Number] = end;
  } else {
    clause_start_[Number] = -1;
    clause_end_[Number] = -1;
  }
}

void TIB_SQLStrings::AssignTo(TPersistent* Dest) {
  // Only a string list can take the lines; anything else would hand the copy straight
  // back here.
  if (dynamic_cast<TStrings*>(Dest) != nullptr) {
    Dest->Assign(this);
  } else {
    TIB_StringList::AssignTo(Dest);
  }
}

void TIB_SQLStrings::Assign(TPersistent* Source) {
  TIB_Statement* own = statement_;
  if (own != nullptr) own->SetPrepared(false);
  auto* other = dynamic_cast<TIB_SQLStrings*>(Source);
  TIB_Statement* source_statement = other != nullptr ? other->Statement() : nullptr;
  if (own != nullptr && source_statement != nullptr && source_statement != own) {
    if (source_statement->Prepared()) source_statement->SaveParamValues();
    own->SavedParamValues()->Assign(source_statement->SavedParamValues());
  }
  if (Source == nullptr) {
    Clear();
  } else {
    TIB_StringList::Assign(Source);
  }
  if (own == nullptr) return;
  if (source_statement != nullptr && source_statement != own) {
    own->CalculatedFields()->Assign(source_statement->CalculatedFields());
    own->ColumnAttributes()->Assign(source_statement->ColumnAttributes());
    own->FieldsAlignment()->Assign(source_statement->FieldsAlignment());
    own->FieldsCharCase()->Assign(source_statement->FieldsCharCase());
    own->FieldsDisplayFormat()->Assign(source_statement->FieldsDisplayFormat());
    own->FieldsDisplayLabel()->Assign(source_statement->FieldsDisplayLabel());
    own->FieldsGridLabel()->Assign(source_statement->FieldsGridLabel());
    own->FieldsGridTitleHint()->Assign(source_statement->FieldsGridTitleHint());
    own->FieldsDisplayWidth()->Assign(source_statement->FieldsDisplayWidth());
    own->FieldsEditMask()->Assign(source_statement->FieldsEditMask());
    own->FieldsIndex()->Assign(source_statement->FieldsIndex());
    own->FieldsReadOnly()->Assign(source_statement->FieldsReadOnly());
    own->FieldsTrimming()->Assign(source_statement->FieldsTrimming());
    own->FieldsVisible()->Assign(source_statement->FieldsVisible());
    own->OnMacroSubstitute = source_statement->OnMacroSubstitute;
    own->OnCalculateField = source_statement->OnCalculateField;
  } else if (other == nullptr) {
    own->CalculatedFields()->Clear();
    own->ColumnAttributes()->Clear();
    own->FieldsAlignment()->Clear();
    own->FieldsCharCase()->Clear();
    own->FieldsDisplayFormat()->Clear();
    own->FieldsDisplayLabel()->Clear();
    own->FieldsGridLabel()->Clear();
    own->FieldsGridTitleHint()->Clear();
    own->FieldsDisplayWidth()->Clear();
    own->FieldsEditMask()->Clear();
    own->FieldsIndex()->Clear();
    own->FieldsReadOnly()->Clear();
    own->FieldsTrimming()->Clear();
    own->FieldsVisible()->Clear();
  }
  if (source_statement != nullptr && source_statement != own) {
    own->AssignDatasetDefinition(source_statement);
  } else if (Source == nullptr) {
    own->AssignDatasetDefinition(nullptr);
  }
}

}  // namespace pelvar
