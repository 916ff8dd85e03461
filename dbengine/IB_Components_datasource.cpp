#include "dbengine/IB_Components_datasource.h"

#include <algorithm>
#include <map>

#include "dbengine/IB_Components_bdataset.h"
#include "dbengine/IB_NodeList.h"
#include "platform/codepage.h"

namespace pelvar {

namespace {

// The data sources attached to each dataset, in order of attachment.
std::map<const TIB_Dataset*, std::vector<TIB_DataSource*>>& SourceLists() {
  static std::map<const TIB_Dataset*, std::vector<TIB_DataSource*>> lists;
  return lists;
}

void Leave(const TIB_Dataset* Dataset, TIB_DataSource* Source) {
  if (Dataset == nullptr) return;
  auto& lists = SourceLists();
  auto it = lists.find(Dataset);
  if (it == lists.end()) return;
  auto& v = it->second;
  v.erase(std::remove(v.begin(), v.end(), Source), v.end());
  if (v.empty()) lists.erase(it);
}

// Restores a counter whatever happens.
struct CountGuard {
  explicit CountGuard(int32_t& c) : c_(c) { ++c_; }
  ~CountGuard() { --c_; }
  int32_t& c_;
};

}  // namespace

// --- Data source ------------------------------------------------------------------------------

TIB_DataSource::TIB_DataSource(TComponent* Owner) : TIB_StatementLink(Owner) {}

TIB_DataSource::~TIB_DataSource() {
  // Marked first: the detaching below tells the links, but fires none of the source's
  // own handlers into an object that is going away.
  Destroying();
  SetDataset(nullptr);
  while (!links_.empty()) links_.front()->SetDataSource(nullptr);
}

TIB_Dataset* TIB_DataSource::GetDataset() const {
  return dynamic_cast<TIB_Dataset*>(Statement());
}

void TIB_DataSource::SetDataset(TIB_Dataset* Value) {
  if (Value == GetDataset()) return;
  // SetStatement moves the source from the old dataset's list to the new one's.
  SetStatement(Value);
}

void TIB_DataSource::SetStatement(TIB_Statement* Value) {
  if (Value != nullptr && dynamic_cast<TIB_Dataset*>(Value) == nullptr) {
    throw EIB_DatasetError(CZ("Chybný typ třídy"));
  }
  TIB_StatementLink::SetStatement(Value);
  TIB_Dataset* now = Value == nullptr ? nullptr : dynamic_cast<TIB_Dataset*>(Statement());
  if (now != joined_) {
    Leave(joined_, this);
    joined_ = now;
    if (now != nullptr) SourceLists()[now].push_back(this);
  }
}

const std::vector<TIB_DataSource*>& TIB_DataSource::DataSourcesOf(const TIB_Dataset* ADataset) {
  static const std::vector<TIB_DataSource*> none;
  auto& lists = SourceLists();
  auto it = lists.find(ADataset);
  return it == lists.end() ? none : it->second;
}

void TIB_DataSource::NotifyStateChanged(TIB_Dataset* ADataset) {
  // A copy: a handler may attach or detach sources.
  std::vector<TIB_DataSource*> copy = DataSourcesOf(ADataset);
  for (TIB_DataSource* s : copy) {
    const auto& now = DataSourcesOf(ADataset);
    if (std::find(now.begin(), now.end(), s) != now.end()) s->DoStateChanged();
  }
}

bool TIB_DataSource::Quiet() const {
  return ComponentState().Contains(csLoading) || ComponentState().Contains(csDestroying);
}

void TIB_DataSource::DoPrepareSQL() {
  TIB_StatementLink::DoPrepareSQL();
  for (size_t i = 0; i < links_.size(); ++i) links_[i]->SysPrepareSQL();
}

void TIB_DataSource::ProcessEvent(uint8_t Code, intptr_t Argument) {
  if (disable_count_ <= 0 || Code == setBeforeAssignment || Code == setAfterAssignment ||
      Code == setParamsRefsChanged || Code == setFieldsRefsChanged) {
    for (size_t i = 0; i < links_.size(); ++i) links_[i]->ProcessEvent(Code, Argument);
  }
  TIB_StatementLink::ProcessEvent(Code, Argument);
  if (Quiet()) return;
  switch (Code) {
    case setBeforeAssignment:
      if (BeforeAssignment) BeforeAssignment(this, GetDataset());
      break;
    case setAfterAssignment:
      if (AfterAssignment) AfterAssignment(this, GetDataset());
      DoStateChanged();
      ProcessEvent(dsetDataChange, 0);
      break;
    case dsetDataChange:
      if (disable_count_ <= 0) {
        DoDataChange(reinterpret_cast<TIB_Column*>(Argument));
      } else {
        data_change_pending_ = true;
      }
      break;
    case dsetUpdateData:
      DoUpdateData(reinterpret_cast<TIB_Column*>(Argument));
      break;
    default:
      break;
  }
}

void TIB_DataSource::DoDataChange(TIB_Column* Field) {
  if (OnDataChange) OnDataChange(this, GetDataset(), Field);
}

void TIB_DataSource::DoUpdateData(TIB_Column* Field) {
  if (disable_count_ <= 0 && OnUpdateData) OnUpdateData(this, GetDataset(), Field);
}

void TIB_DataSource::DoStateChanged() {
  if (disable_count_ > 0) {
    state_change_pending_ = true;
    return;
  }
  if (OnStateChanged && !Quiet()) OnStateChanged(this, GetDataset());
  const std::vector<TIB_DataLink*> copy = links_;
  auto attached = [this](TIB_DataLink* l) {
    return std::find(links_.begin(), links_.end(), l) != links_.end();
  };
  for (TIB_DataLink* l : copy) {
    if (attached(l)) l->SysStateChanged();
  }
  // Links that joined during the first pass.
  for (size_t i = 0; i < links_.size(); ++i) {
    TIB_DataLink* l = links_[i];
    if (std::find(copy.begin(), copy.end(), l) == copy.end()) l->SysStateChanged();
  }
}

void TIB_DataSource::SetEnabled(bool Value) {
  if (Value == enabled_) return;
  enabled_ = Value;
  if (Value) {
    EnableEvents();
  } else {
    DisableEvents();
  }
}

void TIB_DataSource::DisableEvents() {
  if (disable_count_ == 0) {
    state_change_pending_ = false;
    data_change_pending_ = false;
  }
  ++disable_count_;
}

void TIB_DataSource::EnableEvents() {
  --disable_count_;
  if (disable_count_ != 0) return;
  if (state_change_pending_) {
    state_change_pending_ = false;
    data_change_pending_ = false;
    DoStateChanged();
    DoDataChange(nullptr);
  } else if (data_change_pending_) {
    data_change_pending_ = false;
    DoDataChange(nullptr);
  }
}

// Edit and Insert go through the dataset's own steps, which do nothing where the rights
// refuse, so that a control asking to modify gets an answer rather than an error.
bool TIB_DataSource::Edit() {
  TIB_Dataset* d = GetDataset();
  if (d != nullptr && d->GetState() != dstEdit && d->Prepared() && AutoEdit) d->SysEdit();
  return GetState() == dstEdit;
}

bool TIB_DataSource::Insert() {
  TIB_Dataset* d = GetDataset();
  if (d != nullptr && d->GetState() != dstInsert && d->Prepared() && AutoInsert &&
      !(GetHasRow() && d->GetUnidirectional())) {
    d->SysInsert();
  }
  return GetState() == dstInsert;
}

bool TIB_DataSource::Modify() {
  if (!GetModifying() && GetDataset() != nullptr && !Edit() && !GetHasRow()) Insert();
  return GetModifying();
}

bool TIB_DataSource::GetModifying() const {
  const TIB_DatasetState s = GetState();
  return s == dstSearch || s == dstEdit || s == dstInsert;
}

void TIB_DataSource::SendDataChange() { ProcessEvent(dsetDataChange, 0); }

TIB_DatasetState TIB_DataSource::GetState() const {
  TIB_Dataset* d = GetDataset();
  return d == nullptr ? dstInactive : d->GetState();
}

bool TIB_DataSource::GetEditing() const {
  TIB_Dataset* d = GetDataset();
  return d != nullptr && d->Prepared() && d->GetIsEditing();
}

bool TIB_DataSource::GetEof() const {
  TIB_Dataset* d = GetDataset();
  return d == nullptr || d->GetEof();
}

bool TIB_DataSource::GetBof() const {
  TIB_Dataset* d = GetDataset();
  return d == nullptr || d->GetBof();
}

bool TIB_DataSource::GetHasRow() const {
  TIB_Dataset* d = GetDataset();
  return d != nullptr && d->Fields() != nullptr && d->Fields()->RowState() != 0;
}

bool TIB_DataSource::GetReadOnly() const {
  TIB_Dataset* d = GetDataset();
  if (d == nullptr) return true;
  if (d->GetState() == dstSearch) return false;
  return d->GetReadOnly();
}

void TIB_DataSource::SetAnnounceFocus(bool Value) {
  announce_focus_ = Value;
  if (Value) allow_focus_ = true;
}

void TIB_DataSource::SetAllowFocus(bool Value) {
  allow_focus_ = Value;
  if (!Value) announce_focus_ = false;
}

void TIB_DataSource::SetFocus() {
  if (allow_focus_ && IB_Session() != nullptr) IB_Session()->SetFocusedDataSource(this);
}

void TIB_DataSource::DoGainFocus() {
  if (OnGainFocus && !Quiet()) OnGainFocus(this, GetDataset());
}

void TIB_DataSource::DoLoseFocus() {
  if (OnLoseFocus && !Quiet()) OnLoseFocus(this, GetDataset());
}

void TIB_DataSource::AddDataLink(TIB_DataLink* Link) {
  if (std::find(links_.begin(), links_.end(), Link) == links_.end()) links_.push_back(Link);
}

void TIB_DataSource::MoveDataLinkToFront(TIB_DataLink* Link) {
  auto it = std::find(links_.begin(), links_.end(), Link);
  if (it == links_.end() || it == links_.begin()) return;
  std::rotate(links_.begin(), it, it + 1);
}

void TIB_DataSource::MoveToFrontOfDataset() {
  if (joined_ == nullptr) return;
  auto found = SourceLists().find(joined_);
  if (found == SourceLists().end()) return;
  auto& v = found->second;
  auto it = std::find(v.begin(), v.end(), this);
  if (it == v.end() || it == v.begin()) return;
  std::rotate(v.begin(), it, it + 1);
}

void TIB_DataSource::RemoveDataLink(TIB_DataLink* Link) {
  links_.erase(std::remove(links_.begin(), links_.end(), Link), links_.end());
}

// --- Data link --------------------------------------------------------------------------------

TIB_DataLink::TIB_DataLink(TComponent* Owner) : TIB_Component(Owner) {}

TIB_DataLink::~TIB_DataLink() {
  EndSessionFocus();
  SetDataSource(nullptr);
  SetIB_Session(nullptr);
}

void TIB_DataLink::SetDataSource(TIB_DataSource* Value) {
  if (Value == data_source_) return;
  ProcessEvent(setBeforeAssignment, reinterpret_cast<intptr_t>(Value));
  TIB_DataSource* old = data_source_;
  if (old != nullptr) old->RemoveDataLink(this);
  data_source_ = Value;
  if (Value != nullptr) Value->AddDataLink(this);
  ProcessEvent(setAfterAssignment, reinterpret_cast<intptr_t>(old));
}

void TIB_DataLink::SetIB_Session(TIB_Session* Value) {
  if (Value == session_) return;
  if (session_ != nullptr && !internal_) RemoveFromComponentList(session_->DataLinkList(), this);
  TIB_Component::SetIB_Session(Value);
  if (session_ != nullptr && !internal_) {
    session_->DataLinkList().push_back(this);
    if (!ComponentState().Contains(csReading)) FollowFocus(session_->FocusedDataSource());
  }
}

void TIB_DataLink::Loaded() {
  TIB_Component::Loaded();
  if (AssignedSession() != nullptr) FollowFocus(AssignedSession()->FocusedDataSource());
}

void TIB_DataLink::FollowFocus(TIB_Component* Source) {
  if (!FollowFocusFlag) return;
  auto* source = dynamic_cast<TIB_DataSource*>(Source);
  if (Source != nullptr && source == nullptr) return;
  if (OnReceiveFocus) {
    OnReceiveFocus(this, source);
  } else {
    SetDataSource(source);
  }
}

void TIB_DataLink::EndSessionFocus() {
  if (!SessionHold) return;
  if (TIB_Session* session = IB_Session()) {
    session->EndBusy();
    session->EndCursorHold();
  }
  SessionHold = false;
}

TIB_Dataset* TIB_DataLink::GetDataset() const {
  return data_source_ == nullptr ? nullptr : data_source_->GetDataset();
}

bool TIB_DataLink::GetPrepared() const {
  return data_source_ != nullptr && data_source_->GetPrepared();
}

bool TIB_DataLink::GetActive() const {
  return data_source_ != nullptr && data_source_->GetActive();
}

TIB_DatasetState TIB_DataLink::GetState() const {
  TIB_Dataset* d = GetDataset();
  if (d == nullptr) return dstInactive;
  if (BufferRow && GetActive()) return dstBrowse;
  return d->GetState();
}

bool TIB_DataLink::GetEditing() const {
  return data_source_ != nullptr && data_source_->GetEditing();
}

bool TIB_DataLink::GetHasRow() const {
  TIB_Dataset* d = GetDataset();
  if (d == nullptr) return false;
  TIB_Row* row = BufferRow ? d->GetBufferFields() : d->Fields();
  return row != nullptr && row->RowState() != 0;
}

bool TIB_DataLink::GetReadOnly() const {
  TIB_Dataset* d = GetDataset();
  if (d == nullptr) return false;
  if (d->GetState() != dstSearch && data_source_->GetReadOnly()) return true;
  switch (GetState()) {
    case dstSearch: return GetPreventSearching();
    case dstEdit: return GetPreventEditing();
    case dstInsert: return GetPreventInserting();
    default: return false;
  }
}

bool TIB_DataLink::GetPreventDeleting() const {
  TIB_Dataset* d = GetDataset();
  return d == nullptr || d->PreventDeleting();
}

bool TIB_DataLink::GetPreventEditing() const {
  TIB_Dataset* d = GetDataset();
  return d == nullptr || d->PreventEditing();
}

bool TIB_DataLink::GetPreventInserting() const {
  TIB_Dataset* d = GetDataset();
  return d == nullptr || d->PreventInserting();
}

bool TIB_DataLink::GetPreventSearching() const {
  TIB_Dataset* d = GetDataset();
  return d == nullptr || d->PreventSearching;
}

bool TIB_DataLink::GetSourceDisabled() const {
  TIB_Dataset* d = GetDataset();
  return d != nullptr && !d->GetUnidirectional() && data_source_->DisableCount() > 0;
}

// --- Search criteria

void TIB_DataLink::SetDataName(const AnsiString& Text) {
  if (Text == GetDataName()) return;
  data_name_ = Text;
  if (criteria_lock_ > 0) {
    criteria_changed_ = true;
    return;
  }
  if (TIB_Dataset* d = GetDataset()) d->InvalidateSQL();
  if (GetState() == dstSearch) SysRowDataChange(reinterpret_cast<TIB_Column*>(GetLinkFlags()));
  criteria_changed_ = false;
}

void TIB_DataLink::SetSearchDisplay(const AnsiString& Text) {
  if (Text == display_) return;
  display_ = Text;
  if (criteria_lock_ > 0) {
    criteria_changed_ = true;
    return;
  }
  if (GetState() == dstSearch) SysRowDataChange(reinterpret_cast<TIB_Column*>(GetLinkFlags()));
  criteria_changed_ = false;
}

void TIB_DataLink::SetSearchWhere(const AnsiString& Text) {
  if (Text == where_) return;
  where_ = Text;
  if (criteria_lock_ > 0) {
    criteria_changed_ = true;
    return;
  }
  if (TIB_Dataset* d = GetDataset()) d->InvalidateSQL();
  criteria_changed_ = false;
}

void TIB_DataLink::SetSearchText(const AnsiString& Text) {
  if (Text != search_text_) search_text_ = Text;
}

void TIB_DataLink::SetCriteria(const Criteria& c) {
  SetDataName(c.data_name);
  SetSearchDisplay(c.display);
  SetSearchWhere(c.where);
  SetSearchText(c.search_text);
}

void TIB_DataLink::ApplyCriteriaChange() {
  if (!criteria_changed_) return;
  if (TIB_Dataset* d = GetDataset()) {
    d->InvalidateSQL();
    if (GetState() == dstSearch) SysRowDataChange(reinterpret_cast<TIB_Column*>(GetLinkFlags()));
  }
  criteria_changed_ = false;
}

void TIB_DataLink::ApplyRecalledCriteria() {
  if (!criteria_changed_) return;
  if (TIB_Dataset* d = GetDataset()) d->InvalidateSQL();
  if (GetState() == dstSearch) SysRowDataChange(nullptr);
  criteria_changed_ = false;
}

void TIB_DataLink::ClearCriteria(bool Apply) {
  {
    CountGuard lock(criteria_lock_);
    SetCriteria({});
  }
  if (Apply) ApplyCriteriaChange();
}

void TIB_DataLink::SaveCriteria() { kept_ = {GetDataName(), GetSearchDisplay(), where_, search_text_}; }

void TIB_DataLink::SaveLastCriteria() { last_ = {GetDataName(), GetSearchDisplay(), where_, search_text_}; }

void TIB_DataLink::RecallCriteria() {
  {
    CountGuard lock(criteria_lock_);
    SetCriteria(kept_);
  }
  ApplyRecalledCriteria();
}

void TIB_DataLink::RecallLastCriteria() {
  {
    CountGuard lock(criteria_lock_);
    SetCriteria(last_);
  }
  ApplyRecalledCriteria();
}

void TIB_DataLink::WriteCriteria() {
  const AnsiString id = GetLinkIdentifier();
  TIB_Dataset* d = GetDataset();
  TStrings* list = d == nullptr ? nullptr : d->CriteriaInTransfer();
  if (id.empty() || list == nullptr) return;
  if (!GetDataName().empty()) list->SetValues(id, GetDataName());
  if (!where_.empty()) list->SetValues(id + ".Where", where_);
  if (!search_text_.empty()) list->SetValues(id + ".Data", search_text_);
  if (!display_.empty()) list->SetValues(id + ".Display", GetSearchDisplay());
}

void TIB_DataLink::ReadCriteria() {
  const AnsiString id = GetLinkIdentifier();
  TIB_Dataset* d = GetDataset();
  TStrings* list = d == nullptr ? nullptr : d->CriteriaInTransfer();
  {
    CountGuard lock(criteria_lock_);
    if (id.empty() || list == nullptr) return;
    SetCriteria({list->Values(id), list->Values(id + ".Display"), list->Values(id + ".Where"),
                 list->Values(id + ".Data")});
  }
  ApplyRecalledCriteria();
}

void TIB_DataLink::SearchCriteriaEvent(intptr_t SubCode) {
  if (GetState() == dstSearch) SysUpdateData(nullptr);
  switch (SubCode) {
    case 0: ClearCriteria(true); break;
    case 1: SaveCriteria(); break;
    case 2: RecallCriteria(); break;
    case 3: SaveLastCriteria(); break;
    case 4: RecallLastCriteria(); break;
    case 5: WriteCriteria(); break;
    case 6: ReadCriteria(); break;
    default: break;
  }
}

// --- State colours

TColor TIB_DataLink::GetEditingColor() {
  return GetReadOnly() ? IB_Session()->ReadOnlyColor() : IB_Session()->EditingColor();
}

TColor TIB_DataLink::GetInsertingColor() {
  return GetReadOnly() ? IB_Session()->ReadOnlyColor() : IB_Session()->InsertingColor();
}

TColor TIB_DataLink::GetSearchingColor() {
  return GetReadOnly() ? IB_Session()->ReadOnlyColor() : IB_Session()->SearchingColor();
}

TColor TIB_DataLink::GetDeletingColor() { return IB_Session()->DeletingColor(); }

TColor TIB_DataLink::GetInvalidColor() { return IB_Session()->InvalidColor(); }

TColor TIB_DataLink::GetBrowsingColor() {
  if (!GetHasRow()) return IB_Session()->PreparedColor();
  return GetReadOnly() ? IB_Session()->ReadOnlyColor() : IB_Session()->BrowsingColor();
}

TColor TIB_DataLink::GetStateColor() {
  TColor color;
  if (BufferRow) {
    color = GetBrowsingColor();
  } else if (SearchingColorFlag) {
    color = GetSearchingColor();
  } else {
    switch (GetState()) {
      case dstPrepared:
      case dstBrowse: {
        const uint16_t flags = [this]() -> uint16_t {
          auto* b = dynamic_cast<TIB_BDataset*>(GetDataset());
          return b == nullptr ? 0 : b->RowNodeFlags();
        }();
        if (flags & nfInserted) {
          color = GetInsertingColor();
        } else if (flags & nfDeleted) {
          color = GetDeletingColor();
        } else if (flags & nfModified) {
          color = GetEditingColor();
        } else {
          color = GetBrowsingColor();
        }
        break;
      }
      case dstSearch: color = GetSearchingColor(); break;
      case dstEdit: color = GetEditingColor(); break;
      case dstInsert: color = GetInsertingColor(); break;
      case dstDelete: color = GetDeletingColor(); break;
      default: color = GetInvalidColor(); break;
    }
  }
  IB_Session()->DoGetDataLinkColor(this, color);
  return color;
}

// --- Events

void TIB_DataLink::SysPrepareSQL() {
  DoPrepareSQL();
  TIB_Dataset* d = GetDataset();
  if (d != nullptr && !where_.empty()) d->WhereCriteria()->Add(where_);
}

void TIB_DataLink::SetModifyState(bool Value) {
  if (Value == modify_state_) return;
  modify_state_ = Value;
  SysModifyStateHook();
  if (OnModifyStateChanged) OnModifyStateChanged(this, data_source_);
}

void TIB_DataLink::SysStateChanged() {
  SetModifyState((GetEditing() || GetState() == dstSearch) && !GetReadOnly());
  if (OnStateChanged) OnStateChanged(this, data_source_);
}

void TIB_DataLink::SysRowDataChange(TIB_Column* Field) {
  if (updating_ || reentry_ > 0 || GetSourceDisabled()) return;
  CountGuard guard(reentry_);
  if (OnDataChange) OnDataChange(this, data_source_, Field);
}

void TIB_DataLink::SysUpdateData(TIB_Column* Field) {
  if (updating_) return;
  struct Flag {
    bool& f;
    explicit Flag(bool& b) : f(b) { f = true; }
    ~Flag() { f = false; }
  } flag(updating_);
  if (OnUpdateData) OnUpdateData(this, data_source_, Field);
  TIB_Dataset* d = GetDataset();
  if (d != nullptr && d->CalculateAllFields()) d->DoCalculateFields(d->Fields(), nullptr);
}

void TIB_DataLink::SysRefreshAll() {
  SysStateChanged();
  SysRowDataChange(nullptr);
}

void TIB_DataLink::DoBeforeAssignment() {
  if (BeforeAssignment) BeforeAssignment(this, data_source_);
}

void TIB_DataLink::DoAfterAssignment() {
  SysLinkChanged();
  if (AfterAssignment) AfterAssignment(this, data_source_);
  if (!GetPrepared()) EndSessionFocus();
  SysActiveHook();
}

void TIB_DataLink::DoPreparedChanged() {
  if (OnPreparedChanged) OnPreparedChanged(this, data_source_);
  if (!GetPrepared()) EndSessionFocus();
}

void TIB_DataLink::DoLayoutChanged() {
  if (OnLayoutChanged) OnLayoutChanged(this, data_source_);
}

void TIB_DataLink::ProcessEvent(uint8_t Code, intptr_t Argument) {
  auto fire = [this](const TIB_DataLinkEvent& h) {
    if (h) h(this, data_source_);
  };
  switch (Code) {
    case setBeforeAssignment: DoBeforeAssignment(); break;
    case setAfterAssignment: DoAfterAssignment(); break;
    case setBeforeExecute: fire(BeforeExecute); break;
    case setAfterExecute: fire(AfterExecute); break;
    case setPreparedChanged: DoPreparedChanged(); break;
    case setActiveChange:
      SysActiveHook();
      fire(OnActiveChanged);
      break;
    case dsetBeforePost: SysBeforePost(); break;
    case setLayoutChanged: DoLayoutChanged(); break;
    case dsetDataChange: SysRowDataChange(reinterpret_cast<TIB_Column*>(Argument)); break;
    case dsetUpdateData: SysUpdateData(reinterpret_cast<TIB_Column*>(Argument)); break;
    case setFieldsRefsChanged: SysReset(); break;
    case dsetRowRefreshed: {
      TIB_Dataset* d = GetDataset();
      if (d != nullptr && Argument == d->GetRowNum()) SysRowDataChange(nullptr);
      break;
    }
    case dlnkFocusColumn: FocusColumn(reinterpret_cast<TIB_Column*>(Argument)); break;
    case dlnkOrderingItemChanged: fire(OnOrderingItemChanged); break;
    case dlnkOrderingLinkChanged: fire(OnOrderingLinkChanged); break;
    case dlnkSearchingLinkChanged: fire(OnSearchingLinkChanged); break;
    case dlnkSearchCriteria: SearchCriteriaEvent(Argument); break;
    default: break;
  }
  if (EventHook) SysEventHook(Code, Argument);
}

// --- Operations

void TIB_DataLink::Append() {
  TIB_Dataset* d = GetDataset();
  if (!GetPrepared() || d == nullptr || !d->GetCanInsert()) return;
  d->DisableLinkEvents();
  try {
    if (d->GetIsEditing()) d->Post();
    if (auto* b = dynamic_cast<TIB_BDataset*>(d); b != nullptr && !b->GetUnidirectional()) b->GotoEof();
  } catch (...) {
    d->EnableLinkEvents();
    throw;
  }
  d->EnableLinkEvents();
  Insert();
}

void TIB_DataLink::Insert() {
  if (data_source_ != nullptr) data_source_->Insert();
}

bool TIB_DataLink::Modify() {
  CountGuard guard(reentry_);
  if (GetReadOnly()) return false;
  return data_source_ != nullptr && data_source_->Modify();
}

void TIB_DataLink::RefreshData() {
  if (data_source_ != nullptr) SysRowDataChange(nullptr);
}

void TIB_DataLink::SetFocus() {
  if (data_source_ != nullptr) data_source_->SetFocus();
}

void TIB_DataLink::UpdateData() {
  if (data_source_ != nullptr) SysUpdateData(nullptr);
}

}  // namespace pelvar
