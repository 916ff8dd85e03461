// A dataset's master and key links: following a master's current row through the detail's
// MLNK_ parameters, new detail rows taking the master's key, and a look-up following its
// key source; the column lists the links map their entries to.
#include <algorithm>

#include "dbclient/IB_Constants.h"
#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Components_datasource.h"
#include "dbengine/IB_Components_keymasterlinks.h"
#include "platform/application.h"
#include "platform/checked.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

struct Counter {
  int32_t& n;
  explicit Counter(int32_t& N) : n(N) { CheckedInc(n); }
  ~Counter() { --n; }
};

// Whether Target can be reached from Start by following master (or key) sources.
bool Reaches(TIB_Dataset* Start, TIB_Dataset* Target, bool Master) {
  for (int32_t guard = 0; Start != nullptr && guard < 1000; ++guard) {
    if (Start == Target) return true;
    Start = Master ? Start->GetMasterDataset() : Start->GetKeyDataset();
  }
  return false;
}

void AssignFromMaster(TIB_Column* To, TIB_Column* From, TIB_Dataset* Master) {
  if (To == nullptr) return;
  try {
    if (From == nullptr || Master == nullptr || Master->Fields()->RowState() == rsEmpty || From->GetIsNull()) {
      To->Clear();
    } else {
      To->Assign(From);
    }
  } catch (const Exception&) {
    To->Clear();
  }
}

}  // namespace

TIB_DataSource* TIB_Dataset::MasterSource() const { return master_link_ ? master_link_->DataSource() : nullptr; }
TIB_DataSource* TIB_Dataset::KeySource() const { return key_link_ ? key_link_->DataSource() : nullptr; }

TIB_Dataset* TIB_Dataset::GetMasterDataset() const {
  TIB_DataSource* s = MasterSource();
  return s != nullptr ? s->Dataset() : nullptr;
}

TIB_Dataset* TIB_Dataset::GetKeyDataset() const {
  TIB_DataSource* s = KeySource();
  return s != nullptr ? s->Dataset() : nullptr;
}

void TIB_Dataset::SetMasterSource(TIB_DataSource* Value) {
  if (Value == MasterSource()) return;
  if (Value != nullptr && Reaches(Value->Dataset(), this, true)) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CircularReference));
  }
  UnbindMasterLinks();
  master_link_->SetDataSource(Value);
}

void TIB_Dataset::SetKeySource(TIB_DataSource* Value) {
  if (Value == KeySource()) return;
  if (Value != nullptr && Reaches(Value->Dataset(), this, false)) {
    throw EIB_DatasetError(this, IB_Message(TIB_Msg::CircularReference));
  }
  UnbindKeyLinks();
  key_link_->SetDataSource(Value);
}

void TIB_Dataset::SetKeySeeking(bool Value) {
  if (Value == key_seeking_) return;
  key_seeking_ = Value;
  if (Value && KeySource() != nullptr) KeySourceDataChange();
}

void TIB_Dataset::DisableKeySourceSync() { CheckedInc(key_source_disabled_); }

void TIB_Dataset::EnableKeySourceSync() {
  if (key_source_disabled_ > 0) --key_source_disabled_;
}

// --- Column lists ----------------------------------------------------------------------------

void TIB_Dataset::BindMasterLinks() {
  if (master_links_bound_) return;
  master_cols_.clear();
  master_param_cols_.clear();
  if (!Prepared() || OwningStatement() != nullptr) return;
  TIB_Dataset* master = GetMasterDataset();
  const bool master_ready = master != nullptr && master->Prepared();
  for (int32_t i = 0; i < MasterLinks()->Count(); ++i) {
    MasterLinkColumns c{FindField(Trim(MasterLinks()->GetItemName(i))), nullptr,
                        FindParam(GetMasterLinkParamName(i))};
    const AnsiString value = Trim(MasterLinks()->GetItemValue(i));
    if (master_ready && !value.empty()) c.Master = master->FindField(value);
    master_cols_.push_back(c);
  }
  for (int32_t i = 0; i < MasterParamLinks()->Count(); ++i) {
    const AnsiString name = Trim(MasterParamLinks()->GetItemName(i));
    MasterLinkColumns c{FindField(name), nullptr, FindParam(name)};
    const AnsiString value = Trim(MasterParamLinks()->GetItemValue(i));
    if (master_ready && !value.empty()) c.Master = master->FindField(value);
    master_param_cols_.push_back(c);
  }
  master_links_bound_ = true;
}

void TIB_Dataset::UnbindMasterLinks() {
  master_cols_.clear();
  master_param_cols_.clear();
  master_links_bound_ = false;
}

void TIB_Dataset::BindKeyLinks() {
  if (key_links_bound_) return;
  key_cols_.clear();
  key_desc_cols_.clear();
  if (!Prepared() || OwningStatement() != nullptr) return;
  TIB_Dataset* key = GetKeyDataset();
  const bool key_ready = key != nullptr && key->Prepared();
  for (int32_t i = 0; i < KeyLinks()->Count(); ++i) {
    const AnsiString value = Trim(KeyLinks()->GetItemValue(i));
    TIB_Column* mine = FindField(Trim(KeyLinks()->GetItemName(i)));
    if (mine == nullptr) mine = FindKeyField(Trim(KeyLinks()->GetItemName(i)));
    key_cols_.emplace_back(mine, key_ready && !value.empty() ? key->FindField(value) : nullptr);
  }
  for (int32_t i = 0; i < KeyDescLinks()->Count(); ++i) {
    const AnsiString value = Trim(KeyDescLinks()->GetItemValue(i));
    key_desc_cols_.emplace_back(FindField(Trim(KeyDescLinks()->GetItemName(i))),
                                key_ready && !value.empty() ? key->FindField(value) : nullptr);
  }
  key_links_bound_ = true;
}

void TIB_Dataset::UnbindKeyLinks() {
  key_cols_.clear();
  key_desc_cols_.clear();
  key_links_bound_ = false;
}

// --- Master links -------------------------------------------------------------------------------

void TIB_Dataset::AssignLinkParams() {
  BindMasterLinks();
  TIB_Dataset* master = GetMasterDataset();
  for (const MasterLinkColumns& c : master_cols_) AssignFromMaster(c.Param, c.Master, master);
  for (const MasterLinkColumns& c : master_param_cols_) AssignFromMaster(c.Param, c.Master, master);
}

bool TIB_Dataset::DetailRowMatchesMaster(TIB_Row* Row) {
  TIB_Dataset* master = GetMasterDataset();
  if (master == nullptr || !master->Prepared() || !Prepared()) return true;
  BindMasterLinks();
  for (const MasterLinkColumns& c : master_cols_) {
    if (c.Detail == nullptr || c.Master == nullptr) continue;
    TIB_Column* d = nullptr;
    if (Row != Fields()) {
      if (!Row->FindColumnByFieldNo(c.Detail->FieldNo(), d) || d == nullptr) continue;
    } else {
      d = c.Detail;
    }
    if (master->Fields()->RowState() == rsEmpty) return false;
    if (d->GetIsNull() != c.Master->GetIsNull()) return false;
    if (!d->GetIsNull() && d->GetAsString() != c.Master->GetAsString()) return false;
  }
  return true;
}

void TIB_Dataset::MasterDataChange(TIB_Column* Column) {
  TIB_Dataset* master = GetMasterDataset();
  if (master == nullptr || !Prepared() || !master->Prepared() || IsDestroying()) return;
  BindMasterLinks();
  CheckedInc(master_update_passes_);
  if (master_update_nesting_ > 0) return;  // the running update goes round again
  for (int32_t round = 0; round < 100 && master_update_passes_ > 0; ++round) {
    master_update_passes_ = 0;
    Counter nesting(master_update_nesting_);
    // A master being inserted hands its link values to the detail's new row and to the
    // detail's cached rows at once.
    if (Active() && master->GetState() == dstInsert) {
      if (GetState() == dstInsert) {
        for (const MasterLinkColumns& c : master_cols_) {
          if (Column == nullptr || c.Master == Column) AssignFromMaster(c.Detail, c.Master, master);
        }
      }
      UpdateCachedDetailRows(1, Column);
    }
    const bool positioned = Active() && !GetBof() && !GetEof();
    Params()->BeginUpdate();
    try {
      AssignLinkParams();
    } catch (...) {
      Params()->EndUpdate(true);
      throw;
    }
    // The changed parameters refresh the detail (a master-link update is running).
    Params()->EndUpdate(true);
    if (positioned && Active() && (GetBof() || GetEof()) && GetBufferRowCount() > 0) {
      Counter keys(key_source_nesting_);
      First();
    }
  }
}

void TIB_Dataset::AssignMasterLinkValues() {
  TIB_Dataset* master = GetMasterDataset();
  if (master == nullptr || !Prepared() || !master->Prepared()) return;
  // A new detail row needs its master row on the server first. A detail whose rows wait
  // in its cache sends nothing now: its master posts in its own time.
  if (posting_nesting_ > 0 && GetState() == dstInsert && master->GetState() == dstInsert &&
      !CachedUpdates && !master->CachedUpdates && !master->PostedRetaining()) {
    master->PostRetaining();
  }
  BindMasterLinks();
  // A master without a row has no values to give a row that exists already.
  const bool master_row = master->Fields()->RowState() != rsEmpty;
  for (const MasterLinkColumns& c : master_cols_) {
    if (c.Detail == nullptr || c.Master == nullptr) continue;
    if (GetState() != dstInsert && (c.Detail->GetIsModified() || !master_row)) continue;
    // An equal value is left as it is: the row must not look changed by it.
    if (master_row && c.Detail->GetIsNull() == c.Master->GetIsNull() &&
        (c.Detail->GetIsNull() || c.Detail->GetAsString() == c.Master->GetAsString()))
      continue;
    AssignFromMaster(c.Detail, c.Master, master);
  }
  for (const MasterLinkColumns& c : master_param_cols_) {
    if (c.Param == nullptr || c.Master == nullptr) continue;
    AssignFromMaster(c.Param, c.Master, master);
  }
}

// --- Key links --------------------------------------------------------------------------------

void TIB_Dataset::KeySourceDataChange() {
  if (key_source_disabled_ > 0 || IsDestroying()) return;
  Counter nesting(key_source_nesting_);
  try {
    SysKeyDataChange();
  } catch (const EIB_StatementError&) {
    // A key the look-up cannot show leaves it where it is.
  } catch (...) {
    Application()->HandleException(this);
  }
}

void TIB_Dataset::SyncKeySource() {
  TIB_Dataset* key = GetKeyDataset();
  if (key == nullptr || IsDestroying() || !Prepared() || !key->Prepared() || GetRefreshing()) return;
  // A searching key dataset takes this row as a criterion (the key link's WHERE text),
  // not as a value.
  if (key->GetState() == dstSearch) {
    key->InvalidateSQL();
    return;
  }
  if (key_source_nesting_ > 0 || Fields()->RowState() == rsEmpty) return;
  BindKeyLinks();
  DisableKeySourceSync();
  TIB_Row* row = key->Fields();
  row->BeginUpdate();
  try {
    for (const auto& [mine, theirs] : key_cols_) {
      if (mine == nullptr || theirs == nullptr) continue;
      const bool master_column = std::any_of(master_cols_.begin(), master_cols_.end(),
                                             [&mine = mine](const MasterLinkColumns& m) { return m.Detail == mine; });
      if (master_column) continue;
      if (mine->GetIsNull()) {
        if (!theirs->GetIsNull()) theirs->Clear();
      } else if (theirs->GetIsNull() || theirs->GetAsString() != mine->GetAsString()) {
        theirs->Assign(mine);
      }
    }
    if (key->GetIsEditing()) {
      for (const auto& [mine, theirs] : key_desc_cols_) {
        if (mine != nullptr && theirs != nullptr) theirs->Assign(mine);
      }
    }
  } catch (...) {
    row->EndUpdate(true);
    EnableKeySourceSync();
    KeySourceDataChange();
    throw;
  }
  row->EndUpdate(true);
  EnableKeySourceSync();
}

}  // namespace pelvar

namespace pelvar {

// --- Search mode ------------------------------------------------------------------------------

void TIB_Dataset::BeginSearch() {
  if (PreventSearching) throw EIB_DatasetError(this, IB_Message(TIB_Msg::SearchNotAllowed));
  TIB_BusyBracket busy(*this, false);
  AbortFetching();
  SysBeginSearch();
}

void TIB_Dataset::SysBeginSearch() {
  if (GetState() == dstSearch) return;
  CheckTransaction(false);
  DisableLinkEvents();
  try {
    SysClose();
    if (GetState() != dstSearch) {
      SysPrepare();
      FireDatasetEvent(BeforeSearch, false);
      SetState(dstSearch);
      TIB_Dataset* master = GetMasterDataset();
      if (master_search_ && master != nullptr && master->GetState() != dstSearch &&
          master_search_flags_.Contains(msfSearchMasterOnSearch)) {
        master->SysBeginSearch();
      }
      CascadeSearchStateToDetails();
      FireDatasetEvent(AfterSearch, false);
    }
  } catch (...) {
    EnableLinkEvents();
    throw;
  }
  EnableLinkEvents();
}

void TIB_Dataset::ExecuteSearch(bool OpenIt) {
  if (posting_nesting_ > 0) return;
  {
    // Counted as a post: a searching detail's GetSearchActive answers False meanwhile.
    Counter posting(posting_nesting_);
    ProcessLinkEvent(dsetUpdateData, 0);
    TIB_Transaction* tr = IB_Transaction();
    if (tr != nullptr && tr->GetStarted()) SysPrepare();
    if (!OpenIt) return;
    if (IsSelectStatement() && HasGeneratedCriteria()) ProcessLinkEvent(dlnkSearchCriteria, 3);
    if (Opening() || inserting_) {
      SetState(dstPrepared);
      return;
    }
    DisableLinkEvents();
    try {
      SetState(dstPrepared);
      Open();
      if (IsBufferedDataset()) {
        // The first row is read (with its data) however the dataset opens; a search that
        // matched more is not read to its end here. With all rows read and none found,
        // the user is back at the criteria.
        SysRefreshKeys(1, 1);
        if (GetMasterDataset() == nullptr && GetBofFetched() && GetEofFetched() && GetBufferRowCount() == 0) {
          SysBeginSearch();
          throw EIB_DatasetError(this, IB_Message(TIB_Msg::NoRecordFound));
        }
      }
    } catch (...) {
      EnableLinkEvents();
      throw;
    }
    EnableLinkEvents();
  }
  CascadeSearchStateToDetails();
}

void TIB_Dataset::ForEachDetail(bool searching_only, const std::function<void(TIB_Dataset*)>& fn) {
  if (GetIB_Session() == nullptr) return;
  // A copy: a detail's reaction may change the session's list.
  const std::vector<TIB_Component*> datasets = GetIB_Session()->DatasetList();
  for (TIB_Component* c : datasets) {
    auto* detail = dynamic_cast<TIB_Dataset*>(c);
    if (detail == nullptr || detail == this || detail->GetMasterDataset() != this) continue;
    if (searching_only && !detail->MasterSearch()) continue;
    const auto& now = GetIB_Session()->DatasetList();
    if (std::find(now.begin(), now.end(), c) != now.end()) fn(detail);
  }
}

void TIB_Dataset::PostDetails() {
  ForEachDetail(false, [](TIB_Dataset* detail) { detail->SysPost(false, false); });
}

void TIB_Dataset::CancelDetailInserts() {
  ForEachDetail(false, [](TIB_Dataset* detail) {
    if (detail->GetState() == dstInsert) detail->SysCancel();
  });
}

void TIB_Dataset::CascadeSearchStateToDetails() {
  ForEachDetail(true, [](TIB_Dataset* detail) { detail->MasterSearchStateChanged(); });
}

void TIB_Dataset::MasterSearchStateChanged() {
  TIB_Dataset* master = GetMasterDataset();
  if (!master_search_ || master == nullptr) return;
  if (master->GetState() == dstSearch) {
    if (GetState() != dstSearch) {
      reopen_after_master_search_ = Active();
      if (GetCanSearch()) BeginSearch();
    }
    return;
  }
  if (GetState() == dstSearch) ExecuteSearch(true);
  if (reopen_after_master_search_ && master->Active() && !master->GetBof() && !master->GetEof()) {
    Open();
    reopen_after_master_search_ = false;
  }
}

void TIB_Dataset::SysEndSearch() {
  if (GetState() != dstSearch) return;
  ClearSearchCriteria();
  TIB_Transaction* tr = IB_Transaction();
  if (tr != nullptr && tr->GetStarted()) SysPrepare();
  SetState(Prepared() ? dstPrepared : dstInactive);
}

bool TIB_Dataset::SysPrepare() {
  if (Prepared() && GetState() == dstSearch) {
    ProcessLinkEvent(dsetUpdateData, 0);
    // The details that search with this dataset build their criteria first: this
    // dataset's SQL takes them as EXISTS conditions.
    ForEachDetail(true, [](TIB_Dataset* detail) { detail->SysPrepare(); });
  }
  return TIB_Statement::SysPrepare();
}

void TIB_Dataset::SysUnprepare() {
  TIB_Statement::SysUnprepare();
  if (IsDestroying()) return;
  // The criteria were written for the SQL that went; nothing of them is kept either.
  ClearSearchCriteria();
  SaveSearchCriteria();
}

void TIB_Dataset::InvalidateSQL() {
  TIB_Dataset* master = master_search_ ? GetMasterDataset() : nullptr;
  if (master != nullptr && master->GetState() == dstSearch) master->InvalidateSQL();
  TIB_Statement::InvalidateSQL();
}

void TIB_Dataset::BeginKeyFollowingGuard() { CheckedInc(key_following_guard_); }

void TIB_Dataset::EndKeyFollowingGuard() {
  if (key_following_guard_ > 0) --key_following_guard_;
}

bool TIB_Dataset::GetSearchActive() const {
  if (GetState() != dstSearch || posting_nesting_ > 0) return false;
  TIB_Dataset* master = GetMasterDataset();
  if (master_search_ && master != nullptr) return master->GetSearchActive();
  return true;
}

// --- Search criteria ---------------------------------------------------------------------------

void TIB_Dataset::SearchCriteriaOperation(intptr_t Code, int Operation) {
  ProcessLinkEvent(dlnkSearchCriteria, Code);
  ForEachDetail(true, [&](TIB_Dataset* detail) {
    switch (Operation) {
      case 0: detail->SaveSearchCriteria(); break;
      case 1: detail->ClearSearchCriteria(); break;
      case 2: detail->RecallSearchCriteria(); break;
      case 3: detail->RecallLastSearchCriteria(); break;
      case 4: detail->WriteSearchCriteria(criteria_in_transfer_); break;
      case 5: detail->ReadSearchCriteria(criteria_in_transfer_); break;
      default: break;
    }
  });
}

void TIB_Dataset::ClearSearchCriteria() { SearchCriteriaOperation(0, 1); }
void TIB_Dataset::SaveSearchCriteria() { SearchCriteriaOperation(1, 0); }
void TIB_Dataset::RecallSearchCriteria() { SearchCriteriaOperation(2, 2); }
void TIB_Dataset::RecallLastSearchCriteria() { SearchCriteriaOperation(4, 3); }

void TIB_Dataset::WriteSearchCriteria(TStrings* Strings) {
  TIB_Dataset* master = GetMasterDataset();
  const bool masters_list =
      Strings != nullptr && master_search_ && master != nullptr && master->criteria_in_transfer_ == Strings;
  TStrings* const saved = criteria_in_transfer_;
  criteria_in_transfer_ = Strings;
  if (Strings != nullptr) Strings->BeginUpdate();
  try {
    if (Strings != nullptr && !masters_list) Strings->Clear();
    SearchCriteriaOperation(5, 4);
  } catch (...) {
    if (Strings != nullptr) Strings->EndUpdate();
    criteria_in_transfer_ = saved;
    throw;
  }
  if (Strings != nullptr) Strings->EndUpdate();
  criteria_in_transfer_ = saved;
}

void TIB_Dataset::ReadSearchCriteria(TStrings* Strings) {
  TStrings* const saved = criteria_in_transfer_;
  criteria_in_transfer_ = Strings;
  try {
    SearchCriteriaOperation(6, 5);
  } catch (...) {
    criteria_in_transfer_ = saved;
    throw;
  }
  criteria_in_transfer_ = saved;
}

}  // namespace pelvar
