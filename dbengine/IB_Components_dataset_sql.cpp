// What a dataset adds to the SQL its statement sends: the editable SQL sections, the
// WHERE criteria (join links, the three criteria lists, master links), the ORDER BY of
// the chosen ordering with its PLAN, FOR UPDATE for a live dataset, and the key links
// with their automatic definition and the key-field row.
#include <algorithm>
#include <cctype>
#include <cstring>

#include "dbclient/IB_Constants.h"
#include "dbclient/IB_SchemaCache.h"
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_updatesql.h"
#include "dbengine/IB_Parse.h"
#include "platform/checked.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

// Link events of the ordering.
constexpr uint8_t kOrderingItemChanged = 28;
constexpr uint8_t kOrderingLinkChanged = 29;
constexpr uint8_t kSearchingLinkChanged = 30;

// The statement type of SELECT ... FOR UPDATE.
constexpr int32_t kSelectForUpdate = 12;

class Nesting {
 public:
  explicit Nesting(int32_t& Counter) : counter_(Counter) { CheckedInc(counter_); }
  ~Nesting() { --counter_; }
  Nesting(const Nesting&) = delete;
  Nesting& operator=(const Nesting&) = delete;

 private:
  int32_t& counter_;
};

using ClauseWriter = void (*)(AnsiString&, const AnsiString&);
constexpr ClauseWriter kWriters[10] = {nullptr,          SetSelectClause, SetFromClause,
                                       SetWhereClause,   SetGroupByClause, SetHavingClause,
                                       SetUnionClause,   SetPlanClause,    SetOrderByClause,
                                       SetForUpdateClause};

AnsiString ControlsToBlanks(AnsiString Text) {
  for (char& c : Text) {
    if (static_cast<unsigned char>(c) < 32) c = ' ';
  }
  return Text;
}

// The position (0-based) of Word (upper case, with its leading blank) in Item outside
// double and single quotes, searched from the end; npos when absent or at the start.
size_t FindTrailingWord(const AnsiString& Upper, const AnsiString& Word) {
  size_t at = AnsiString::npos;
  char quote = 0;
  for (size_t i = 0; i < Upper.size(); ++i) {
    const char c = Upper[i];
    if (quote != 0) {
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '"' || c == '\'') {
      quote = c;
      continue;
    }
    if (i > 0 && Upper.compare(i, Word.size(), Word) == 0) {
      const size_t end = i + Word.size();
      if (end == Upper.size() || Upper[end] == ' ') at = i;
    }
  }
  return at;
}

// Whether Name occurs in Text as a whole word.
bool HoldsWord(const AnsiString& Text, const AnsiString& Name) {
  auto is_name_char = [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '$' ||
           static_cast<unsigned char>(c) >= 128;
  };
  size_t from = 0;
  while ((from = Text.find(Name, from)) != AnsiString::npos) {
    const bool left = from == 0 || !is_name_char(Text[from - 1]);
    const size_t end = from + Name.size();
    const bool right = end >= Text.size() || !is_name_char(Text[end]);
    if (left && right) return true;
    ++from;
  }
  return false;
}

// The items of Text separated by commas outside quotes and parentheses.
std::vector<AnsiString> SplitTopLevel(const AnsiString& Text) {
  std::vector<AnsiString> items;
  int32_t start = 1;
  while (true) {
    const int32_t comma = CharPosAtTopLevel(',', Text, start);
    if (comma == 0) {
      items.push_back(Text.substr(static_cast<size_t>(start - 1)));
      break;
    }
    items.push_back(Text.substr(static_cast<size_t>(start - 1), static_cast<size_t>(comma - start)));
    start = comma + 1;
  }
  return items;
}

}  // namespace

// --- Lists ---------------------------------------------------------------------------------------

void TIB_Dataset::InitSQLLists() {
  for (auto* list : {&where_first_, &where_mid_, &where_last_}) {
    *list = std::make_unique<TIB_StringProperty>();
  }
  for (auto* list : {&key_links_, &key_desc_links_, &master_links_, &master_param_links_,
                     &ordering_items_, &ordering_links_, &searching_links_}) {
    *list = std::make_unique<TIB_StringProperty>();
    (*list)->OnChange = [this](TObject* Sender) { SQLChanged(Sender); };
  }
  ordering_keys_ = std::make_unique<TIB_StringList>();
}

void TIB_Dataset::SetKeyLinks(const TStrings* Value) {
  key_links_->BeginUpdate();
  try {
    key_links_->Assign(const_cast<TStrings*>(Value));
    for (int32_t i = key_links_->Count() - 1; i >= 0; --i) {
      if (Trim(key_links_->Strings(i)).empty()) key_links_->Delete(i);
    }
  } catch (...) {
    key_links_->EndUpdate();
    throw;
  }
  key_links_->EndUpdate();
  key_links_auto_defined_ = false;
  key_links_by_db_key_ = false;
}

void TIB_Dataset::SetKeyDescLinks(const TStrings* Value) {
  key_desc_links_->Assign(const_cast<TStrings*>(Value));
}

namespace {
void AssignTrimmed(TIB_StringList* List, const TStrings* Value) {
  List->SetText(Value != nullptr ? Trim(Value->Text()) : AnsiString());
}
}  // namespace

void TIB_Dataset::SetMasterLinks(const TStrings* Value) { AssignTrimmed(master_links_.get(), Value); }
void TIB_Dataset::SetMasterParamLinks(const TStrings* Value) {
  AssignTrimmed(master_param_links_.get(), Value);
}
void TIB_Dataset::SetOrderingItems(const TStrings* Value) {
  AssignTrimmed(ordering_items_.get(), Value);
}
void TIB_Dataset::SetOrderingLinks(const TStrings* Value) {
  AssignTrimmed(ordering_links_.get(), Value);
}
void TIB_Dataset::SetSearchingLinks(const TStrings* Value) {
  AssignTrimmed(searching_links_.get(), Value);
}

TIB_Row* TIB_Dataset::GetKeyFields() const {
  return KeyFields()->ColumnCount() > 0 ? KeyFields() : Fields();
}

void TIB_Dataset::AssignSQLFrom(TIB_Dataset* Other) {
  if (Other != nullptr) SetSQL(Other->SQL());
}

void TIB_Dataset::AssignDatasetDefinition(TIB_Statement* Source) {
  TIB_Statement::AssignDatasetDefinition(Source);
  if (Source == nullptr) {
    for (TIB_StringList* l : {generator_links_.get(), default_values_.get(),
                              static_cast<TIB_StringList*>(Hints()),
                              static_cast<TIB_StringList*>(JoinLinks()),
                              static_cast<TIB_StringList*>(key_links_.get()),
                              static_cast<TIB_StringList*>(key_desc_links_.get()),
                              static_cast<TIB_StringList*>(master_links_.get()),
                              static_cast<TIB_StringList*>(ordering_items_.get()),
                              static_cast<TIB_StringList*>(searching_links_.get()), EditSQL(),
                              LockSQL(), InsertSQL(), DeleteSQL()}) {
      l->Clear();
    }
    key_links_auto_defined_ = false;
    key_links_by_db_key_ = false;
    get_server_defaults_ = false;
    SetOrderingItemNo(0);
    SetRequestLive(false);
    SetPreparedEdits(true);
    SetSearchedDeletes(true);
    SetSearchedEdits(true);
    return;
  }
  auto* other = dynamic_cast<TIB_Dataset*>(Source);
  if (other == nullptr) return;
  if (!other->SQL()->GetSection(ssForUpdate).empty()) other->request_live_ = true;
  generator_links_->Assign(other->generator_links_.get());
  default_values_->Assign(other->default_values_.get());
  get_server_defaults_ = other->get_server_defaults_;
  Hints()->Assign(other->Hints());
  JoinLinks()->Assign(other->JoinLinks());
  SetKeyLinks(other->key_links_.get());
  key_links_auto_defined_ = other->key_links_auto_defined_;
  key_links_by_db_key_ = other->key_links_by_db_key_;
  key_desc_links_->Assign(other->key_desc_links_.get());
  master_links_->Assign(other->master_links_.get());
  ordering_items_->Assign(other->ordering_items_.get());
  SetOrderingItemNo(other->ordering_item_no_);
  SetRequestLive(other->request_live_);
  where_first_->Assign(other->where_first_.get());
  where_mid_->Assign(other->where_mid_.get());
  where_last_->Assign(other->where_last_.get());
  PendingParamValues()->Assign(other->PendingParamValues());
  SetCallbackInc(other->CallbackInc());
  SetCallbackInitInt(other->CallbackInitInt());
  SetCallbackRefreshInt(other->CallbackRefreshInt());
  OnCallback = other->OnCallback;
  EditSQL()->Assign(other->EditSQL());
  LockSQL()->Assign(other->LockSQL());
  InsertSQL()->Assign(other->InsertSQL());
  DeleteSQL()->Assign(other->DeleteSQL());
  SetPreparedEdits(other->PreparedEdits());
  SetSearchedDeletes(other->SearchedDeletes());
  SetSearchedEdits(other->SearchedEdits());
  if (OwningStatement() != nullptr) {
    SetOrderingItemNo(0);
    WriteSection(ssWhere, AnsiString());
    WriteSection(ssOrderBy, AnsiString());
  }
}

// --- Sections ------------------------------------------------------------------------------------

TIB_StringList* TIB_Dataset::GetSQLSection(int32_t Kind) {
  if (Kind < ssSelect || Kind > ssForUpdate) return nullptr;
  auto& slot = sections_[Kind];
  if (!slot) {
    slot = std::make_unique<TIB_StringList>();
    slot->OnChange = [this, Kind](TObject*) { SectionChanged(Kind); };
  }
  filling_section_ = Kind;
  struct Reset {
    int32_t& v;
    ~Reset() { v = 0; }
  } reset{filling_section_};
  slot->SetText(SQL()->GetSection(Kind));
  return slot.get();
}

void TIB_Dataset::SectionChanged(int32_t Kind) {
  if (filling_section_ == Kind) return;
  WriteSection(Kind, sections_[Kind]->Text());
  if (Kind == ssWhere) where_changed_ = true;
  if (Kind == ssOrderBy) order_by_changed_ = true;
}

void TIB_Dataset::WriteSection(int32_t Kind, const AnsiString& Text) {
  AnsiString sql = SQL()->Text();
  kWriters[Kind](sql, Trim(Text));
  if (sql == SQL()->Text()) return;
  const int32_t was = writing_section_;
  writing_section_ = Kind;
  try {
    SQL()->SetText(sql);
  } catch (...) {
    writing_section_ = was;
    throw;
  }
  writing_section_ = was;
}

void TIB_Dataset::SysStringsChanged(TObject* List, bool& Apply) {
  TIB_Statement::SysStringsChanged(List, Apply);
  if (List == ordering_items_.get()) {
    if (ordering_item_no_ != 0) {
      const int32_t no = ordering_item_no_;
      SetOrderingItemNo(0);
      SetOrderingItemNo(no);
    }
    Apply = false;
  } else if (List == ordering_links_.get()) {
    if (ordering_item_no_ != 0) SyncOrderingLink();
    for (int32_t i = 0; i < Fields()->ColumnCount(); ++i) Fields()->GetColumn(i)->OrderingPos = -999;
    Apply = false;
  } else if (List == searching_links_.get()) {
    if (ordering_item_no_ != 0) SyncSearchingLink();
    Apply = false;
  } else if (List == SQL()) {
    if (writing_section_ == ssWhere || writing_section_ == ssOrderBy) {
      Apply = false;
      if (!Preparing()) InvalidateSQL();
    }
    if (!Preparing() && !SQL()->GetSection(ssForUpdate).empty()) request_live_ = true;
  }
}

// --- RequestLive and FOR UPDATE -----------------------------------------------------------------

void TIB_Dataset::SysApplyForUpdate() {
  where_first_->Clear();
  where_mid_->Clear();
  where_last_->Clear();
  if (BuildingPlanVariant()) return;
  where_changed_ = false;
  order_by_changed_ = false;
  if (read_only_ || CachedUpdates || (prevent_editing_ && prevent_deleting_)) {
    if (!SQL()->GetSection(ssForUpdate).empty() && GetStatementType() == kSelectForUpdate) {
      WriteSection(ssForUpdate, AnsiString());
      return;
    }
  }
  if (!request_live_ || (SearchedEdits() && SearchedDeletes()) || !IsSelectStatement()) return;
  if (SQL()->GetSection(ssForUpdate).empty()) WriteSection(ssForUpdate, "FOR UPDATE");
}

// --- WHERE criteria -----------------------------------------------------------------------------

void TIB_Dataset::AddCriteria(TStrings* List, AnsiString& Where, bool Prepend) {
  int32_t depth = 0;
  bool and_pending = false;
  AnsiString current;
  auto flush = [&]() {
    if (Trim(current).empty()) {
      current.clear();
      return;
    }
    if (Prepend) {
      PrependWhereCondition(Where, current);
    } else {
      AddWhereCondition(Where, current);
    }
    current.clear();
    and_pending = false;
  };
  for (int32_t i = 0; i < List->Count(); ++i) {
    const AnsiString line = Trim(List->Strings(i));
    if (line.empty()) continue;
    if (line == "(") {
      if (and_pending) current += " AND ";
      current += "(";
      ++depth;
      and_pending = false;
    } else if (line == ")") {
      current += ")";
      --depth;
      and_pending = true;
    } else if (depth > 0 && (AnsiSameText(line, "AND") || AnsiSameText(line, "OR"))) {
      current += " " + AnsiUpperCase(line) + " ";
      and_pending = false;
    } else {
      if (and_pending) current += " AND ";
      current += line;
      and_pending = true;
    }
    if (depth < 0) break;
    if (depth == 0) flush();
  }
  if (depth != 0) {
    throw EIB_Error(this, IB_Message(TIB_Msg::UnbalancedParentheses) + ":\r\n" + List->Text());
  }
}

AnsiString TIB_Dataset::GetMasterLinkParamName(int32_t Index) {
  const AnsiString name = master_links_->GetItemName(Index);
  const int32_t dot = CharPosOutsideQuotes('.', name);
  AnsiString field = Trim(dot > 0 ? name.substr(static_cast<size_t>(dot)) : name);
  field = IsQuoted(field, '"') ? StripQuotes(field) : AnsiUpperCase(field);
  const AnsiString index = IntToStr(Index);
  const size_t keep = 26 > index.size() ? 26 - index.size() : 0;
  if (field.size() > keep) field.resize(keep);
  const AnsiString param = "MLNK_" + field + "_" + index;
  TIB_Connection* c = IB_Connection();
  return c != nullptr && c->GetConnected() ? c->MakeStoredIdent(param)
                                           : StoredIdentForDialect(3, param);
}

void TIB_Dataset::SysBuildServerSQL() {
  const bool first = !BuildingPlanVariant();
  const AnsiString w = SQL()->GetSection(ssWhere);
  AnsiString w2 = w;
  if (first) {
    link_criteria_ = w;
    if (JoinLinks()->Count() > 0) AddCriteria(JoinLinks(), w2, true);
  }
  // While the master searches, a detail that searches with it leaves its criteria to the
  // master's EXISTS condition; they still make up its link-criteria text.
  TIB_Dataset* master = first && master_search_ ? GetMasterDataset() : nullptr;
  const bool to_master_only = master != nullptr && master->GetState() == dstSearch &&
                              master_search_flags_.Contains(msfSearchAppliesToMasterOnly);
  auto add_list = [&](TIB_StringProperty* list, bool prepend) {
    if (list->Count() == 0) return;
    if (!to_master_only) AddCriteria(list, w2, prepend);
    if (first) {
      AddCriteria(list, link_criteria_, prepend);
      where_changed_ = true;
    }
  };
  add_list(where_first_.get(), true);
  if (first && TakesMasterLinks()) {
    for (int32_t i = master_links_->Count() - 1; i >= 0; --i) {
      const AnsiString name = Trim(master_links_->GetItemName(i));
      if (name.empty()) continue;
      PrependWhereCondition(w2, name + "=" + MasterLinkParamMarker(i));
    }
  }
  add_list(where_mid_.get(), false);
  add_list(where_last_.get(), false);
  if (!first) {
    if (Trim(w2) != Trim(w)) WriteSection(ssWhere, Trim(w2));
    return;
  }
  if (where_changed_) {
    WriteSection(ssWhere, w2);
    const AnsiString criteria = Trim(link_criteria_);
    link_criteria_ = criteria.size() > 6 ? criteria.substr(6) : AnsiString();
  } else {
    if (Trim(w2) != Trim(w)) WriteSection(ssWhere, w2);
    link_criteria_.clear();
    where_changed_ = false;
  }
  if (IsSelectStatement()) {
    BuildOrderBy();
    if ((SearchedEdits() || EditSQL()->Count() > 0) &&
        (SearchedDeletes() || DeleteSQL()->Count() > 0)) {
      WriteSection(ssForUpdate, AnsiString());
    }
  }
}

// --- ORDER BY and PLAN ----------------------------------------------------------------------------

AnsiString TIB_Dataset::BuildOrderByText(int32_t ItemNo) {
  if (ItemNo == 0) return SQL()->GetSection(ssOrderBy);
  const int32_t line = ItemNo < 0 ? -ItemNo : ItemNo;
  if (ordering_items_->Count() < line) return {};
  const AnsiString value = ordering_items_->GetItemValue(line - 1);
  const int32_t semi = CharPosOutsideQuotes(';', value);
  AnsiString text;
  if (ItemNo > 0) {
    text = semi > 0 ? value.substr(0, static_cast<size_t>(semi - 1)) : value;
  } else {
    text = semi > 0 ? value.substr(static_cast<size_t>(semi)) : AnsiString();
  }
  text = Trim(text);
  if (text.empty()) return text;
  // An item may be written with its keywords ("ORDER BY NAME") or without ("NAME"); the
  // keywords are never doubled.
  const AnsiString upper = AnsiUpperCase(ControlsToBlanks(text));
  if (upper.rfind("ORDER ", 0) == 0 && Trim(upper.substr(6)).rfind("BY", 0) == 0) return text;
  return "ORDER BY " + text;
}

void TIB_Dataset::BuildOrderBy() {
  AnsiString text =
      ordering_item_no_ != 0 ? BuildOrderByText(ordering_item_no_) : Trim(SQL()->GetSection(ssOrderBy));
  text = Trim(text.size() > 5 ? text.substr(5) : AnsiString());
  text = Trim(text.size() > 2 ? text.substr(2) : AnsiString());
  const char param_char = ParamCheck() ? ParamChar() : '\0';
  auto server_form = [&](const AnsiString& t) {
    int32_t chars = 0;
    AnsiString out;
    ParseSQLParams(t, static_cast<TStrings*>(nullptr), nullptr, nullptr, out, param_char, true,
                   chars, false);
    return out;
  };
  text = ControlsToBlanks(server_form(text));
  while (!text.empty() && (text.back() == ';' || text.back() == ' ')) text.pop_back();
  ordering_keys_->Clear();
  if (Trim(text).empty()) return;
  AnsiString order = "ORDER BY ";
  bool first = true;
  for (AnsiString item : SplitTopLevel(text)) {
    item = Trim(item);
    AnsiString nulls;
    AnsiString upper = AnsiUpperCase(item);
    const size_t at_nulls = FindTrailingWord(upper, " NULLS");
    if (at_nulls != AnsiString::npos) {
      const AnsiString rest = Trim(upper.substr(at_nulls + 6));
      if (rest == "FIRST" || rest == "LAST") nulls = rest;
      item = Trim(item.substr(0, at_nulls));
      upper = AnsiUpperCase(item);
    }
    bool descending = false;
    const size_t at_desc = FindTrailingWord(upper, " DESC");
    const size_t at_asc = FindTrailingWord(upper, " ASC");
    if (at_desc != AnsiString::npos && at_desc + 5 == upper.size()) {
      descending = true;
      item = Trim(item.substr(0, at_desc));
    } else if (at_asc != AnsiString::npos && at_asc + 4 == upper.size()) {
      item = Trim(item.substr(0, at_asc));
    }
    item = Trim(server_form(item));
    const AnsiString written = item;
    if (HasColumnAttribute(item, "NOCASE")) {
      AnsiString value;
      GetColumnAttributeValue(item, "NOCASE", value);
      if (!Trim(value).empty()) item = Trim(value);
    }
    order += first ? item : "\r\n       , " + item;
    order += descending ? " DESC" : " ASC";
    if (!nulls.empty()) order += " NULLS " + nulls;
    ordering_keys_->Add(written + (descending ? "=DESC" : "=ASC"));
    first = false;
  }
  WriteSection(ssOrderBy, order);
}

int32_t TIB_Dataset::OrderingLinkItemNo(int32_t Index) const {
  AnsiString value;
  if (!ordering_links_->GetItemAttributeValue(Index, "ITEM", value)) {
    value = ordering_links_->GetItemValue(Index);
  }
  return StrToIntDef(Trim(value), 0);
}

bool TIB_Dataset::GetOrderingPlan() {
  if (TIB_Statement::GetOrderingPlan()) return true;
  if (ordering_item_no_ == 0 || ordering_link_.empty()) return false;
  const int32_t i = ordering_links_->IndexOfName(ordering_link_);
  if (i < 0) return false;
  return ordering_links_->HasItemAttribute(i, ordering_item_no_ > 0 ? "PLANASC" : "PLANDESC");
}

void TIB_Dataset::SysApplyOrderingPlan() {
  if (ordering_item_no_ == 0 || ordering_link_.empty()) return;
  const int32_t i = ordering_links_->IndexOfName(ordering_link_);
  AnsiString plan;
  if (i >= 0 && ordering_links_->GetItemAttributeValue(
                    i, ordering_item_no_ > 0 ? "PLANASC" : "PLANDESC", plan)) {
    WriteSection(ssPlan, "PLAN " + plan);
  }
}

// --- Ordering and searching links ------------------------------------------------------------------

void TIB_Dataset::DoOrderingChanged() {
  if (OnOrderingChanged && !IsLoading() && !IsDestroying()) OnOrderingChanged(this);
}

void TIB_Dataset::SetOrderingItemNo(int32_t Value) {
  if (Value == ordering_item_no_) return;
  ordering_item_no_ = Value;
  {
    Nesting nest(ordering_item_nesting_);
    if (!Preparing()) InvalidateSQL();
    ProcessLinkEvent(kOrderingItemChanged, 0);
    SyncOrderingLink();
    if (GetActive() && ordering_link_nesting_ == 0 && searching_link_nesting_ == 0) Refresh();
  }
  if (ordering_item_nesting_ == 0) DoOrderingChanged();
}

void TIB_Dataset::SyncOrderingLink() {
  if (ordering_link_nesting_ != 0) return;
  const int32_t wanted = ordering_item_no_ < 0 ? -ordering_item_no_ : ordering_item_no_;
  AnsiString link;
  for (int32_t i = 0; i < ordering_links_->Count() && wanted != 0; ++i) {
    if (OrderingLinkItemNo(i) == wanted) {
      link = ordering_links_->GetItemName(i);
      break;
    }
  }
  if (link != ordering_link_) {
    ordering_link_ = link;
    ordering_field_ = link.empty() ? nullptr : FindField(link);
  }
  SyncSearchingLink();
}

void TIB_Dataset::SetOrderingLink(const AnsiString& Name) {
  if (Name == ordering_link_ || ordering_link_nesting_ != 0) return;
  const AnsiString old = ordering_link_;
  {
    Nesting nest(ordering_link_nesting_);
    const int32_t i = ordering_links_->IndexOfName(Name);
    const int32_t no = i >= 0 ? OrderingLinkItemNo(i) : 0;
    ordering_link_ = i >= 0 ? ordering_links_->GetItemName(i) : AnsiString();
    const int32_t current = ordering_item_no_ < 0 ? -ordering_item_no_ : ordering_item_no_;
    if (no != current && ordering_item_nesting_ == 0) SetOrderingItemNo(no);
    if (ordering_link_ != old) ProcessLinkEvent(kOrderingLinkChanged, 0);
    ordering_field_ = ordering_link_.empty() ? nullptr : FindField(ordering_link_);
    SyncSearchingLink();
    if (GetActive() && !ServerSQLCurrent() && ordering_item_nesting_ == 0) Refresh();
  }
}

void TIB_Dataset::SyncSearchingLink() {
  if (searching_link_nesting_ != 0) return;
  AnsiString link, param;
  for (int32_t i = 0; i < searching_links_->Count(); ++i) {
    if (AnsiSameText(searching_links_->GetItemName(i), ordering_link_) && !ordering_link_.empty()) {
      link = searching_links_->GetItemName(i);
      param = Trim(searching_links_->GetItemValue(i));
      break;
    }
  }
  searching_link_ = link;
  searching_param_name_ = param;
  searching_param_ = param.empty() ? nullptr : FindParam(param);
}

void TIB_Dataset::SetSearchingLink(const AnsiString& Name) {
  if (Name == searching_link_ || searching_link_nesting_ != 0) return;
  const AnsiString old = searching_link_;
  {
    Nesting nest(searching_link_nesting_);
    const int32_t i = searching_links_->IndexOfName(Name);
    const AnsiString value = i >= 0 ? Trim(searching_links_->GetItemValue(i)) : AnsiString();
    searching_param_name_ = value;
    searching_link_ = value.empty() ? AnsiString() : Name;
    searching_param_ = value.empty() ? nullptr : FindParam(value);
    if (!value.empty()) {
      if (ordering_link_nesting_ == 0) SetOrderingLink(Name);
      if (ordering_link_.empty()) {
        searching_link_.clear();
        searching_param_name_.clear();
        searching_param_ = nullptr;
      }
    }
    if (searching_link_ != old) ProcessLinkEvent(kSearchingLinkChanged, 0);
    if (GetActive() && !ServerSQLCurrent() && ordering_item_nesting_ == 0 &&
        ordering_link_nesting_ == 0) {
      Refresh();
    }
  }
}

void TIB_Dataset::ClearSearchingLinkParams() {
  for (int32_t i = 0; i < searching_links_->Count(); ++i) {
    const AnsiString name = Trim(searching_links_->GetItemValue(i));
    if (name.empty()) continue;
    if (TIB_Column* p = FindParam(name)) p->SetAsString(AnsiString());
  }
}

// --- Key relation and key links ---------------------------------------------------------------------

void TIB_Dataset::GetEffectiveKeyRelation(AnsiString& Relation) {
  const ColumnRuleStamp stamp = GetColumnRuleStamp();
  auto same = [](const ColumnRuleStamp& a, const ColumnRuleStamp& b) {
    return a.Generation == b.Generation && a.Ident == b.Ident;
  };
  if (stamp.Generation != 0 && same(stamp, key_relation_stamp_)) {
    Relation = key_relation_kept_;
    return;
  }
  WorkOutKeyRelation(Relation);
  if (stamp.Generation != 0 && same(stamp, GetColumnRuleStamp())) {
    key_relation_stamp_ = stamp;
    key_relation_kept_ = Relation;
  }
}

void TIB_Dataset::WorkOutKeyRelation(AnsiString& Relation) {
  Relation = KeyRelation();
  if (Relation.empty()) {
    // The single relation of the FROM clause under its alias, so that generated DML and
    // key links name the relation as the SELECT does.
    SysParseRelationAliases();
    if (RelationAliases()->Count() == 1) Relation = RelationAliases()->GetItemName(0);
  }
  if (Relation.empty()) TIB_Statement::GetEffectiveKeyRelation(Relation);
  if (Relation.empty()) return;
  if (OnMacroSubstitute) SubstituteMacros(Relation, Relation);
  TIB_Connection* c = IB_Connection();
  if (c != nullptr && c->GetConnected()) Relation = c->MakeIdent(Relation);
}

void TIB_Dataset::DropAutoKeyLinks() {
  if (key_links_auto_defined_) {
    auto handler = std::move(key_links_->OnChange);
    key_links_->OnChange = nullptr;
    key_links_->Clear();
    key_links_->OnChange = std::move(handler);
  }
  key_links_auto_defined_ = false;
  key_links_by_db_key_ = false;
  key_links_unbuildable_ = false;
}

TIB_StringProperty* TIB_Dataset::GetKeyLinks() {
  if (key_links_nesting_ != 0 || !Preparing() || !key_links_auto_define_ || key_links_unbuildable_ ||
      key_links_->Count() > 0 || OwningStatement() != nullptr) {
    return key_links_.get();
  }
  Nesting nest(key_links_nesting_);
  if (!IsSelectStatement() || IsAggregateSelect() || IsExecuteBlock() || IsSelectFromProcedure() ||
      !SQL()->GetSection(ssUnion).empty()) {
    return key_links_.get();
  }
  const AnsiString effective = GetEffectiveKeyRelation();
  AnsiString relation = GetRelationByAlias(effective);
  if (relation.empty()) relation = effective;
  if (relation.empty() || relation[0] == '(') return key_links_.get();
  auto handler = std::move(key_links_->OnChange);
  key_links_->OnChange = nullptr;
  struct Restore {
    TIB_StringProperty* list;
    std::function<void(TObject*)>& handler;
    ~Restore() { list->OnChange = std::move(handler); }
  } restore{key_links_.get(), handler};
  TIB_Connection* c = IB_Connection();
  if (c != nullptr && c->GetConnected()) {
    c->SchemaCache()->GetTableKeys(relation, key_links_.get());
    if (key_links_->Count() == 0 && IsQuoted(relation, '"') &&
        StripQuotes(relation) == AnsiUpperCase(StripQuotes(relation))) {
      c->SchemaCache()->GetTableKeys(StripQuotes(relation), key_links_.get());
    }
  }
  if (key_links_->Count() > 0) {
    int32_t chars = 0;
    AnsiString select;
    ParseSQLParams(GetSelectClause(SQL()->Text()), static_cast<TStrings*>(nullptr), nullptr,
                   nullptr, select, ParamCheck() ? ParamChar() : '\0', true, chars, false);
    select = AnsiUpperCase(ControlsToBlanks(StripLiteralsAndParens(select, SQLDialect() >= 3)));
    if (select.find('*') == AnsiString::npos) {
      for (int32_t i = 0; i < key_links_->Count(); ++i) {
        const AnsiString field = AnsiUpperCase(key_links_->GetItemField(i));
        if (!HoldsWord(select, field)) {
          key_links_->Clear();
          break;
        }
      }
    }
    if (!AnsiSameText(relation, effective)) {
      for (int32_t i = 0; i < key_links_->Count(); ++i) {
        if (AnsiSameText(key_links_->GetItemRelation(i), relation)) {
          key_links_->Put(i, effective + "." + key_links_->GetItemField(i));
        }
      }
    }
  }
  if (key_links_->Count() == 0) {
    key_links_->Add(effective + ".RDB$DB_KEY");
    key_links_by_db_key_ = true;
  }
  key_links_auto_defined_ = key_links_->Count() > 0;
  return key_links_.get();
}

// --- Rows -------------------------------------------------------------------------------------------

void TIB_Dataset::SysLayoutRows() {
  UnbindMasterLinks();
  UnbindKeyLinks();
  TIB_Statement::SysLayoutRows();
  if (!Prepared()) {
    searching_param_ = nullptr;
    ordering_param_ = nullptr;
    ordering_field_ = nullptr;
  }
  // A re-prepare in place keeps the field and key rows; the parameter row is laid out
  // anew every time, so the parameter columns are looked up again below.
  if (!Repreparing()) {
    const bool keyed =
        Prepared() && IsSelectStatement() && FieldCount() > 0 && OwningStatement() == nullptr;
    int32_t n = 0;
    if (keyed) {
      TIB_StringProperty* links = GetKeyLinks();
      // Key columns found from the schema that the select list names only inside an
      // expression cannot key the rows: the dataset goes without a key (row numbers).
      if (key_links_auto_defined_ && !key_links_by_db_key_) {
        for (int32_t i = 0; i < links->Count(); ++i) {
          TIB_Column* f = nullptr;
          if (Fields()->FindColumn(Trim(links->GetItemName(i)), f) && f != nullptr) continue;
          auto handler = std::move(links->OnChange);
          links->OnChange = nullptr;
          links->Clear();
          links->OnChange = std::move(handler);
          key_links_auto_defined_ = false;
          key_links_unbuildable_ = true;
          break;
        }
      }
      n = std::max<int32_t>(1, links->Count());
    }
    KeyFields()->SetColumnCount(static_cast<int16_t>(n));
  }
  if (!Prepared()) return;
  searching_param_ = searching_param_name_.empty() ? nullptr : FindParam(searching_param_name_);
  if (!Repreparing()) ordering_field_ = ordering_link_.empty() ? nullptr : FindField(ordering_link_);
  ordering_param_ = nullptr;
  if (!ordering_link_.empty()) {
    const int32_t dot = CharPosOutsideQuotes('.', ordering_link_);
    AnsiString name = dot > 0 ? ordering_link_.substr(static_cast<size_t>(dot)) : ordering_link_;
    name = "OLNK_" + StripQuotes(Trim(name));
    if (name.size() > 31) name.resize(31);
    ordering_param_ = FindParam(MakeStoredIdent(name));
  }
}

void TIB_Dataset::SysDescribeRow(TIB_Row* Row) {
  if (Row != KeyFields()) {
    TIB_Statement::SysDescribeRow(Row);
    return;
  }
  const int32_t n = Row->PSQLDA()->sqld;
  if (key_links_->Count() == 0) {
    if (n != 1) {
      throw EIB_Error(this, Format(IB_Message(TIB_Msg::InvalidKeyLinks), {AnsiString("<BLANK>")}));
    }
    XSQLVAR& v = *Row->Var(0);
    v = XSQLVAR{};
    v.sqltype = SQL_LONG;
    v.sqllen = 4;
    v.sqlname_length = -1;
    v.relname_length = -1;
    v.ownname_length = -1;
    std::memcpy(v.aliasname, "KEYROWNUM", 9);
    v.aliasname_length = 9;
    return;
  }
  for (int32_t i = 0; i < n && i < key_links_->Count(); ++i) {
    const AnsiString name = Trim(key_links_->GetItemName(i));
    XSQLVAR& v = *Row->Var(i);
    TIB_Column* f = nullptr;
    if (Fields()->FindColumn(name, f) && f != nullptr) {
      v = *f->PSQLVAR();
    } else if (key_links_by_db_key_) {
      // The db-key of the key relation, which the select list need not carry: a buffered
      // dataset reads it through its own key SELECT.
      v = XSQLVAR{};
      v.sqltype = SQL_TEXT;
      v.sqllen = 8;
      std::memcpy(v.sqlname, "DB_KEY", 6);
      v.sqlname_length = 6;
      const AnsiString rel = StripQuotes(GetRelationByAlias(key_links_->GetItemRelation(i)).empty()
                                             ? key_links_->GetItemRelation(i)
                                             : GetRelationByAlias(key_links_->GetItemRelation(i)));
      const size_t len = std::min<size_t>(rel.size(), sizeof v.relname);
      std::memcpy(v.relname, rel.data(), len);
      v.relname_length = static_cast<ISC_SHORT>(len);
      std::memcpy(v.aliasname, "DB_KEY", 6);
      v.aliasname_length = 6;
    } else {
      throw EIB_Error(this, Format(IB_Message(TIB_Msg::InvalidKeyLinks), {key_links_->Strings(i)}));
    }
    v.sqldata = nullptr;
    v.sqlind = nullptr;
    if (v.sqlname_length == 6 && std::memcmp(v.sqlname, "DB_KEY", 6) == 0) {
      std::memcpy(v.sqlname, "RDB$DB_KEY", 10);
      v.sqlname_length = 10;
    }
  }
}

void TIB_Dataset::SysPrepareFailed() {
  const bool reprepare = Repreparing();
  TIB_Statement::SysPrepareFailed();
  where_first_->Clear();
  where_mid_->Clear();
  where_last_->Clear();
  searching_param_ = nullptr;
  ordering_param_ = nullptr;
  if (!reprepare) {
    ordering_field_ = nullptr;
    DropAutoKeyLinks();
    KeyFields()->SetColumnCount(0);
  }
}

}  // namespace pelvar
