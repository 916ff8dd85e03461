// The statement's field property lists: finding a column's entry, turning entries into
// the column's display and editing settings, applying them after a prepare, on a change
// of a list and at the end of a layout bracket; the order of the columns by FieldsIndex;
// attribute keywords with the connection's defaults; and the read-only rule.
#include <string_view>
#include <utility>

#include "dbengine/IB_Components_statement.h"
#include "dbengine/IB_Parse.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// Raises a layout nesting count for a scope; the count goes down again also on failure.
class LayoutLevelGuard {
 public:
  explicit LayoutLevelGuard(int32_t& Level) : level_(Level) { ++level_; }
  ~LayoutLevelGuard() { --level_; }
  LayoutLevelGuard(const LayoutLevelGuard&) = delete;
  LayoutLevelGuard& operator=(const LayoutLevelGuard&) = delete;

 private:
  int32_t& level_;
};

// The SQL type text of a column without its length or precision.
AnsiString TypeEntryName(const TIB_Column* Column) {
  AnsiString type = const_cast<TIB_Column*>(Column)->GetSQLTypeSource(true);
  const int32_t paren = CharPosOutsideQuotes('(', type);
  if (paren > 0) type.resize(static_cast<size_t>(paren - 1));
  return Trim(type);
}

bool LinkValue(const TIB_StringList* List, const AnsiString& Name, AnsiString& Value) {
  return List != nullptr && !Name.empty() && List->GetLinkValue(Name, Value);
}

// Names whose display settings apply to parameters as well.
bool AppliesToParams(int32_t Index) {
  switch (Index) {
    case TIB_Statement::flDisplayFormat:
    case TIB_Statement::flDisplayLabel:
    case TIB_Statement::flGridLabel:
    case TIB_Statement::flGridTitleHint:
    case TIB_Statement::flEditMask:
    case TIB_Statement::flVisible:
      return true;
    default:
      return false;
  }
}

}  // namespace

// --- Look-ups -------------------------------------------------------------------------------

TIB_StringList* TIB_Statement::ConnectionFieldsList(int32_t Index) const {
  TIB_Connection* c = IB_Connection();
  if (c == nullptr) return nullptr;
  switch (Index) {
    case flAlignment: return c->FieldsAlignment();
    case flCharCase: return c->FieldsCharCase();
    case flDisplayFormat: return c->FieldsDisplayFormat();
    case flDisplayLabel: return c->FieldsDisplayLabel();
    case flGridLabel: return c->FieldsGridLabel();
    case flGridTitleHint: return c->FieldsGridTitleHint();
    case flDisplayWidth: return c->FieldsDisplayWidth();
    case flEditMask: return c->FieldsEditMask();
    case flReadOnly: return c->FieldsReadOnly();
    case flTrimming: return c->FieldsTrimming();
    case flVisible: return c->FieldsVisible();
    default: return nullptr;
  }
}

void TIB_Statement::GetColumnPropertyText(const TIB_Column* Column,
                                          const TIB_StringList* StatementList,
                                          const TIB_StringList* ConnectionList,
                                          AnsiString& Value) const {
  Value.clear();
  const AnsiString alias = Column->GetQualifiedAliasName();
  const AnsiString field = Column->GetQualifiedFieldName();
  if (LinkValue(StatementList, alias, Value) || LinkValue(StatementList, field, Value)) return;
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || ConnectionList == nullptr || ConnectionList->Count() == 0) {
    Value.clear();
    return;
  }
  if (LinkValue(ConnectionList, alias, Value) || LinkValue(ConnectionList, field, Value)) return;
  if (c->FieldEntryTypes().Contains(fetDomainName) &&
      LinkValue(ConnectionList, Column->GetDomainName(), Value)) {
    return;
  }
  if (c->FieldEntryTypes().Contains(fetSQLType) &&
      LinkValue(ConnectionList, TypeEntryName(Column), Value)) {
    return;
  }
  Value.clear();
}

char TIB_Statement::GetColumnPropertyChar(const TIB_Column* Column,
                                          const TIB_StringList* StatementList,
                                          const TIB_StringList* ConnectionList) const {
  AnsiString value;
  GetColumnPropertyText(Column, StatementList, ConnectionList, value);
  value = Trim(value);
  return value.empty() ? '\0' : AnsiUpperChar(value[0]);
}

void TIB_Statement::LookupColumnAttribute(const TIB_Column* Column, const AnsiString& Keyword,
                                          bool& Present, const TIB_StringList* StatementList,
                                          const TIB_StringList* ConnectionList,
                                          AnsiString& Value) const {
  Present = false;
  Value.clear();
  auto step = [&](const TIB_StringList* list, const AnsiString& name) {
    if (list == nullptr || name.empty()) return false;
    const int32_t index = list->IndexOfLinkName(name);
    if (index < 0) return false;
    int32_t start = 0, end = 0;
    AnsiString value;
    FindAttribute(list->GetItemValue(index), Keyword, start, value, end);
    if (start == 0) return false;
    Present = true;
    Value = value;
    return true;
  };
  const AnsiString alias = Column->GetQualifiedAliasName();
  const AnsiString field = Column->GetQualifiedFieldName();
  if (step(StatementList, alias)) return;
  if (field != alias && step(StatementList, field)) return;
  if (ConnectionList != nullptr) {
    if (step(ConnectionList, alias)) return;
    if (field != alias && step(ConnectionList, field)) return;
  }
  TIB_Connection* c = IB_Connection();
  if (c == nullptr) return;
  if (c->FieldEntryTypes().Contains(fetDomainName)) {
    const AnsiString domain = Column->GetDomainName();
    if (step(StatementList, domain) || step(ConnectionList, domain)) return;
  }
  if (c->FieldEntryTypes().Contains(fetSQLType)) {
    const AnsiString type = TypeEntryName(Column);
    if (step(StatementList, type) || step(ConnectionList, type)) return;
  }
}

void TIB_Statement::GetColumnAttributeValue(const AnsiString& Name, const AnsiString& Attribute,
                                            AnsiString& Value) const {
  Value.clear();
  column_attributes_->GetLinkAttributeValue(Name, Attribute, Value);
  TIB_Connection* c = IB_Connection();
  if (Value.empty() && c != nullptr) {
    c->ColumnAttributes()->GetLinkAttributeValue(Name, Attribute, Value);
  }
}

bool TIB_Statement::HasColumnAttribute(const AnsiString& Name, const AnsiString& Attribute) const {
  if (column_attributes_->HasLinkAttribute(Name, Attribute)) return true;
  TIB_Connection* c = IB_Connection();
  return c != nullptr && c->ColumnAttributes()->Count() > 0 &&
         c->ColumnAttributes()->HasLinkAttribute(Name, Attribute);
}

// --- Attribute keywords with the connection's defaults -------------------------------------------

bool TIB_Statement::ColumnDefaultNoCase() const {
  TIB_Connection* c = IB_Connection();
  return c != nullptr && c->DefaultNoCase();
}

bool TIB_Statement::ColumnDefaultNoTrailing() const {
  TIB_Connection* c = IB_Connection();
  return c != nullptr && c->DefaultNoTrailing();
}

bool TIB_Statement::ColumnIsAttributeSet(const TIB_Column* Column,
                                         const AnsiString& Keyword) const {
  // Without any entry only a keyword the connection sets by default can be set; this
  // is asked for every column often (COMPUTED in the read-only rule).
  {
    TIB_Connection* c = IB_Connection();
    if ((column_attributes_ == nullptr || column_attributes_->Count() == 0) &&
        (c == nullptr || c->ColumnAttributes() == nullptr || c->ColumnAttributes()->Count() == 0) &&
        !ColumnDefaultNoCase() && !ColumnDefaultNoTrailing()) {
      return false;
    }
  }
  const AnsiString key = AnsiUpperCase(Keyword);
  AnsiString opposite;
  if (key != "BOOLEAN" && !Column->IsBoolean) {
    if (key == "NOCASE" && ColumnDefaultNoCase()) opposite = "YESCASE";
    if (key == "NOTRAILING" && ColumnDefaultNoTrailing()) opposite = "YESTRAILING";
  }
  if (opposite.empty()) return TIB_RowOwner::ColumnIsAttributeSet(Column, Keyword);
  // The connection sets the keyword by default: the first entry that names the keyword
  // or its opposite decides; without one the keyword is set.
  const AnsiString alias = Column->GetQualifiedAliasName();
  const AnsiString field = Column->GetQualifiedFieldName();
  auto decide = [&](const TIB_StringList* list, bool& result) {
    if (list->HasLinkAttribute(alias, key)) return result = true, true;
    if (field != alias && list->HasLinkAttribute(field, key)) return result = true, true;
    if (list->HasLinkAttribute(alias, opposite)) return result = false, true;
    if (field != alias && list->HasLinkAttribute(field, opposite)) return result = false, true;
    return false;
  };
  bool result = true;
  if (decide(column_attributes_.get(), result)) return result;
  TIB_Connection* c = IB_Connection();
  if (c != nullptr && c->ColumnAttributes()->Count() > 0) {
    if (decide(c->ColumnAttributes(), result)) return result;
    const AnsiString domain = Column->GetDomainName();
    if (c->FieldEntryTypes().Contains(fetDomainName) && !domain.empty()) {
      if (c->ColumnAttributes()->HasLinkAttribute(domain, key)) return true;
      if (c->ColumnAttributes()->HasLinkAttribute(domain, opposite)) return false;
    }
  }
  return true;
}

// --- Applying the lists -----------------------------------------------------------------------

bool TIB_Statement::ColumnNoInsert(const TIB_Column* Column) const {
  bool present = false;
  AnsiString value;
  LookupColumnAttribute(Column, "NOINSERT", present, FieldsReadOnly(),
                        ConnectionFieldsList(flReadOnly), value);
  return present;
}

bool TIB_Statement::ColumnNoEdit(const TIB_Column* Column) const {
  bool present = false;
  AnsiString value;
  LookupColumnAttribute(Column, "NOEDIT", present, FieldsReadOnly(),
                        ConnectionFieldsList(flReadOnly), value);
  return present;
}

bool TIB_Statement::ColumnNoSearch(const TIB_Column* Column) const {
  bool present = false;
  AnsiString value;
  LookupColumnAttribute(Column, "NOSEARCH", present, FieldsReadOnly(),
                        ConnectionFieldsList(flReadOnly), value);
  return present;
}

void TIB_Statement::ApplyListToColumn(int32_t Index, TIB_Column* Column) {
  const TIB_StringList* own = fields_lists_[Index].get();
  const TIB_StringList* conn = ConnectionFieldsList(Index);
  AnsiString text;
  switch (Index) {
    case flAlignment:
      switch (GetColumnPropertyChar(Column, own, conn)) {
        case 'C': Column->Alignment = 2; break;
        case 'L': Column->Alignment = 0; break;
        case 'R': Column->Alignment = 1; break;
        default: Column->Alignment = Column->IsBoolean ? 2 : Column->IsNumeric ? 1 : 0;
      }
      break;
    case flCharCase:
      switch (GetColumnPropertyChar(Column, own, conn)) {
        case 'U': Column->CharCase = ccUpper; break;
        case 'L': Column->CharCase = ccLower; break;
        case 'P': Column->CharCase = ccProper; break;
        default: Column->CharCase = ccNormal;
      }
      break;
    case flDisplayFormat:
      GetColumnPropertyText(Column, own, conn, Column->DisplayFormat);
      break;
    case flDisplayLabel:
      GetColumnPropertyText(Column, own, conn, Column->DisplayLabel);
      break;
    case flGridLabel:
      GetColumnPropertyText(Column, own, conn, Column->GridLabel);
      break;
    case flGridTitleHint:
      GetColumnPropertyText(Column, own, conn, Column->GridTitleHint);
      break;
    case flDisplayWidth:
      GetColumnPropertyText(Column, own, conn, text);
      text = Trim(text);
      Column->DisplayWidth = text.empty() ? -1 : StrToInt(text);
      break;
    case flEditMask:
      GetColumnPropertyText(Column, own, conn, Column->EditMask);
      break;
    case flReadOnly:
      Column->SetReadOnlyFlags(GetColumnPropertyChar(Column, own, conn) == 'T',
                               Column->ReadOnlyFromDataset());
      Column->NoInsert = ColumnNoInsert(Column);
      Column->NoEdit = ColumnNoEdit(Column);
      Column->NoSearch = ColumnNoSearch(Column);
      break;
    case flTrimming: {
      GetColumnPropertyText(Column, own, conn, text);
      text = AnsiUpperCase(Trim(text));
      const char first = text.empty() ? ' ' : text[0];
      const AnsiString two = text.substr(0, 2);
      TIB_ColumnTrimming mode;
      switch (first) {
        case 'A': mode = ctAll; break;
        case 'B': mode = ctBoth; break;
        case 'L': mode = ctLeft; break;
        case 'N': mode = ctNone; break;
        case 'R': mode = ctRight; break;
        case 'S': mode = ctSentence; break;
        default:
          if (two == "CN") mode = ctNoneCheckLen;
          else if (two == "CA") mode = ctAllCheckLen;
          else if (two == "CB") mode = ctBothCheckLen;
          else if (two == "CL") mode = ctLeftCheckLen;
          else if (two == "CR") mode = ctRightCheckLen;
          else if (two == "CS") mode = ctSentenceCheckLen;
          else if (Column->IsText) {
            mode = DefaultNoTrimming() ? ctNone : ctRight;
            // The statement's length-check rule, as the text columns take it at creation.
            if (!DefaultNoLengthCheck()) mode = static_cast<TIB_ColumnTrimming>(mode + 1);
          } else {
            mode = ctNone;
          }
      }
      Column->Trimming = mode;
      break;
    }
    case flVisible:
      Column->Visible = GetColumnPropertyChar(Column, own, conn) != 'F';
      break;
    case flIndex:
      break;
    default:
      break;
  }
}

void TIB_Statement::ApplyColumnAlignment(TIB_Column* C) { ApplyListToColumn(flAlignment, C); }
void TIB_Statement::ApplyColumnCharCase(TIB_Column* C) { ApplyListToColumn(flCharCase, C); }
void TIB_Statement::ApplyColumnDisplayFormat(TIB_Column* C) { ApplyListToColumn(flDisplayFormat, C); }
void TIB_Statement::ApplyColumnDisplayLabel(TIB_Column* C) { ApplyListToColumn(flDisplayLabel, C); }
void TIB_Statement::ApplyColumnGridLabel(TIB_Column* C) { ApplyListToColumn(flGridLabel, C); }
void TIB_Statement::ApplyColumnGridTitleHint(TIB_Column* C) { ApplyListToColumn(flGridTitleHint, C); }
void TIB_Statement::ApplyColumnDisplayWidth(TIB_Column* C) { ApplyListToColumn(flDisplayWidth, C); }
void TIB_Statement::ApplyColumnEditMask(TIB_Column* C) { ApplyListToColumn(flEditMask, C); }
void TIB_Statement::ApplyColumnReadOnly(TIB_Column* C) { ApplyListToColumn(flReadOnly, C); }
void TIB_Statement::ApplyColumnTrimming(TIB_Column* C) { ApplyListToColumn(flTrimming, C); }
void TIB_Statement::ApplyColumnVisible(TIB_Column* C) { ApplyListToColumn(flVisible, C); }

void TIB_Statement::ApplyFieldsIndex() {
  LayoutLevelGuard level(layout_level_);
  const int32_t n = fields_->ColumnCount();
  for (int32_t no = 0; no < n; ++no) {
    TIB_Column* c = nullptr;
    if (fields_->FindColumnByFieldNo(static_cast<int16_t>(no), c) && c->GetIndex() != no) {
      c->SetIndex(no);
    }
  }
  int32_t position = 0;
  TIB_StringList* index = FieldsIndex();
  for (int32_t i = 0; i < index->Count(); ++i) {
    const AnsiString name = Trim(index->Strings(i));
    TIB_Column* c = nullptr;
    if (name.empty() || !fields_->FindColumn(name, c)) continue;
    c->SetIndex(position++);
  }
}

bool TIB_Statement::AllFieldsListsEmpty() const {
  for (const auto& list : fields_lists_) {
    if (list->Count() > 0) return false;
  }
  if (column_attributes_->Count() > 0) return false;
  TIB_Connection* c = IB_Connection();
  if (c == nullptr) return true;
  if (c->ColumnAttributes()->Count() > 0) return false;
  for (int32_t i = 0; i < flCount; ++i) {
    const TIB_StringList* list = ConnectionFieldsList(i);
    if (list != nullptr && list->Count() > 0) return false;
  }
  return true;
}

void TIB_Statement::ApplyFieldsProperties(bool Initial) {
  TIB_Statement* owner = OwningStatement();
  ++layout_level_;
  if (owner != nullptr) ++owner->layout_level_;
  auto lower = [&]() {
    if (owner != nullptr) --owner->layout_level_;
    --layout_level_;
  };
  // A first prepare with nothing to apply leaves the layout as the columns made it: no
  // layout-changed notification then.
  bool changed = !Initial;
  try {
    const bool skip_columns = Initial && AllFieldsListsEmpty();
    auto apply_all = [&](TIB_Column* c) {
      for (int32_t i = 0; i < flCount; ++i) {
        if (i != flIndex) ApplyListToColumn(i, c);
      }
      c->SysInitAttributes();
    };
    if (fields_->ColumnCount() > 0) {
      if (!Initial || FieldsIndex()->Count() > 0) {
        ApplyFieldsIndex();
        changed = true;
      }
      if (!skip_columns) {
        changed = true;
        for (int32_t i = 0; i < fields_->ColumnCount(); ++i) apply_all(fields_->GetColumn(i));
      }
    }
    if (set_param_attribs_ && params_->ColumnCount() > 0 && !skip_columns) {
      changed = true;
      for (int32_t i = 0; i < params_->ColumnCount(); ++i) apply_all(params_->GetColumn(i));
    }
  } catch (...) {
    lower();
    throw;
  }
  lower();
  if (layout_level_ == 0 && changed) DoLayoutChanged();
}

void TIB_Statement::BeginLayout() { ++layout_level_; }

void TIB_Statement::EndLayout() {
  if (layout_level_ > 0) --layout_level_;
  if (layout_level_ == 0) ApplyAllFieldsProperties();
}

void TIB_Statement::ApplyFieldsProperty(TObject* List) {
  if (layout_level_ > 0) return;
  int32_t index = -1;
  for (int32_t i = 0; i < flCount; ++i) {
    if (fields_lists_[i].get() == List) index = i;
  }
  if (index < 0) return;
  {
    LayoutLevelGuard level(layout_level_);
    if (index == flIndex) {
      ApplyFieldsIndex();
    } else {
      for (int32_t i = 0; i < fields_->ColumnCount(); ++i) {
        ApplyListToColumn(index, fields_->GetColumn(i));
      }
      if (set_param_attribs_ && AppliesToParams(index)) {
        for (int32_t i = 0; i < params_->ColumnCount(); ++i) {
          ApplyListToColumn(index, params_->GetColumn(i));
        }
      }
    }
  }
  TIB_Statement* owner = OwningStatement();
  if (owner != nullptr && owner->layout_level_ == 0) {
    LayoutLevelGuard level(owner->layout_level_);
    owner->fields_lists_[index]->Assign(fields_lists_[index].get());
  }
}

void TIB_Statement::FieldsPropertyChanged(TObject* List) {
  if (prepared_) ApplyFieldsProperty(List);
  if (layout_level_ == 0) DoLayoutChanged();
}

// --- Column setters write back into the lists --------------------------------------------------------

TIB_StringList* TIB_Statement::ColumnPropertyList(int32_t Which) {
  return Which >= 0 && Which < flCount ? fields_lists_[Which].get() : nullptr;
}

void TIB_Statement::SetColumnListValue(const TIB_Column* Column, TIB_StringList* List,
                                       const AnsiString& Value) {
  const AnsiString name = Column->GetFullName();
  // Writing a trimming entry does not apply the lists again: the column already holds
  // the new mode.
  const bool silent = List == FieldsTrimming();
  auto handler = List->OnChange;
  if (silent) List->OnChange = nullptr;
  try {
    if (Value.empty()) {
      int32_t index;
      while ((index = List->IndexOfLinkName(name)) >= 0) List->Delete(index);
    } else {
      List->SetLinkValue(name, Value);
    }
  } catch (...) {
    if (silent) List->OnChange = handler;
    throw;
  }
  if (silent) List->OnChange = handler;
}

void TIB_Statement::ColumnIndexChanged() {
  {
    LayoutLevelGuard level(layout_level_);
    TIB_StringList* index = FieldsIndex();
    index->BeginUpdate();
    try {
      index->Clear();
      for (int32_t i = 0; i < fields_->ColumnCount(); ++i) {
        index->Add(fields_->GetColumn(i)->GetFullName());
      }
    } catch (...) {
      index->EndUpdate();
      throw;
    }
    index->EndUpdate();
  }
  DoLayoutChanged();
}

// --- Read-only rule ------------------------------------------------------------------------------------

bool TIB_Statement::GetColumnReadOnly(const TIB_Column* Column) const {
  bool read_only = false;
  const_cast<TIB_Statement*>(this)->GetColumnReadOnly(Column, read_only);
  return read_only;
}

void TIB_Statement::GetColumnReadOnly(const TIB_Column* Column, bool& ReadOnly) {
  // Parameters are the caller's to fill: the rule is one of the statement's fields.
  if (Column->Row()->RowType() != rtFields) return;
  const ColumnRuleStamp stamp = GetColumnRuleStamp();
  const bool keep = Column->RuleMemoFor(stamp);
  TIB_Column::RuleVerdict verdict = keep ? Column->rule_memo_.ReadOnly : TIB_Column::rvUnknown;
  if (verdict == TIB_Column::rvUnknown) {
    verdict = TIB_Column::rvLeave;
    if (Column->GetIsExpression()) {
      verdict = Column->IsAttributeSet("MODIFIABLE") ? TIB_Column::rvWritable : TIB_Column::rvReadOnly;
    } else if (!Column->GetComputed()) {
      const AnsiString key = GetEffectiveKeyRelation();
      if (!key.empty()) {
        // Names compare in their quoted forms (one without any quote is taken quoted).
        auto same = [](std::string_view a, std::string_view b) {
          const bool qa = a.find('"') != std::string_view::npos;
          const bool qb = b.find('"') != std::string_view::npos;
          if (qa == qb) return a == b;
          if (qb) std::swap(a, b);
          return a.size() == b.size() + 2 && a.front() == '"' && a.back() == '"' &&
                 a.substr(1, b.size()) == b;
        };
        verdict = same(Column->GetRelName(), key) || same(Column->GetRelAlias(), key)
                      ? TIB_Column::rvWritable
                      : TIB_Column::rvReadOnly;
      } else if (IsCursorWithoutRequestLive()) {
        verdict = TIB_Column::rvReadOnly;
      }
    }
    if (keep && Column->RuleMemoStill(stamp)) Column->rule_memo_.ReadOnly = verdict;
  }
  if (verdict != TIB_Column::rvLeave) ReadOnly = verdict == TIB_Column::rvReadOnly;
}

TIB_RowOwner::ColumnRuleStamp TIB_Statement::GetColumnRuleStamp() const {
  // The key relation goes through the application's macro handler; attribute entries
  // may name a column in many ways: then every verdict is worked out afresh.
  if (OnMacroSubstitute || column_attributes_->Count() > 0) return {};
  TIB_Connection* c = IB_Connection();
  if (c == nullptr || !c->GetConnected()) return {};
  if (c->ColumnAttributes() != nullptr && c->ColumnAttributes()->Count() > 0) return {};
  return {column_rule_generation_, c->IdentStamp()};
}

}  // namespace pelvar
