// The key and master data links of a dataset.
#include "dbengine/IB_Components_keymasterlinks.h"

#include "dbengine/IB_Components_dataset.h"
#include "dbengine/IB_Parse.h"
#include "dbengine/IB_Parse_filter.h"
#include "platform/checked.h"
#include "platform/sysutils.h"

namespace pelvar {

namespace {

bool Going(TIB_Dataset* D) {
  return D == nullptr || D->ComponentState().Contains(csDestroying);
}

}  // namespace

// --- Key data link ------------------------------------------------------------------------------

TIB_KeyDataLink::TIB_KeyDataLink(TIB_Dataset* Owner) : TIB_DataLink(nullptr), owner_(Owner) {}

bool TIB_KeyDataLink::Quiet() const { return Going(owner_); }

AnsiString TIB_KeyDataLink::GetLinkIdentifier() const {
  TIB_Dataset* key = GetDataset();
  if (key == nullptr) return AnsiString();
  if (key->Owner() != nullptr && !key->Owner()->Name().empty()) {
    return "KLNK." + key->Owner()->Name() + "." + key->Name();
  }
  return "KLNK." + key->Name();
}

void TIB_KeyDataLink::ProcessEvent(uint8_t Code, intptr_t Argument) {
  TIB_DataLink::ProcessEvent(Code, Argument);
  if (Quiet()) return;
  switch (Code) {
    case setAfterAssignment:
      owner_->UnbindKeyLinks();
      owner_->LinkStateChanged();
      owner_->KeySourceDataChange();
      break;
    case setPreparedChanged:
    case setLayoutChanged:
      owner_->UnbindKeyLinks();
      break;
    default:
      break;
  }
}

void TIB_KeyDataLink::SysStateChanged() {
  TIB_DataLink::SysStateChanged();
  if (Quiet() || !owner_->Prepared()) return;
  owner_->LinkStateChanged();
  TIB_Dataset* key = GetDataset();
  if (key == nullptr || key->GetState() != dstSearch) return;
  // The key dataset searches: the look-up shows the row its criteria were taken from.
  LockCriteria();
  try {
    FollowSearchText();
  } catch (...) {
    UnlockCriteria();
    throw;
  }
  UnlockCriteria();
}

void TIB_KeyDataLink::FollowSearchText() {
  if (owner_->Active()) {
    owner_->SetBookmark(GetSearchText());
  } else if (!GetSearchText().empty()) {
    owner_->Open();
    owner_->SetBookmark(GetSearchText());
  }
}

void TIB_KeyDataLink::SetSearchText(const AnsiString& Text) {
  TIB_DataLink::SetSearchText(Text);
  if (Quiet() || !owner_->Active() || syncing_ || owner_->KeyFollowingHeld()) return;
  LockCriteria();
  try {
    if (owner_->GetBookmark() != GetSearchText()) {
      if (GetState() == dstSearch) {
        owner_->SetBookmark(GetSearchText());
      } else if (GetPrepared()) {
        GetDataset()->InvalidateSQL();
      }
    }
  } catch (...) {
    UnlockCriteria();
    throw;
  }
  UnlockCriteria();
}

void TIB_KeyDataLink::SyncSearchCriteria() {
  if (Quiet() || CriteriaLockCount() > 0 || syncing_) return;
  syncing_ = true;
  try {
    if (owner_->Active()) {
      SetSearchText(owner_->GetBookmark());
      AnsiString condition;
      if (owner_->Fields()->RowState() != rsEmpty) {
        TIB_StringProperty* links = owner_->KeyLinks();
        for (int32_t i = 0; i < links->Count(); ++i) {
          AnsiString one;
          const AnsiString name = Trim(links->GetItemName(i));
          TIB_Column* mine = owner_->FindField(name);
          if (mine == nullptr) mine = owner_->FindKeyField(name);
          ColumnEqualsSQL(Trim(links->GetItemValue(i)), mine, one);
          if (one.empty()) continue;
          condition += condition.empty() ? "(" : " AND ";
          condition += one;
        }
        if (!condition.empty()) condition += ")";
      }
      SetSearchWhere(condition);
    } else {
      ClearCriteria(false);
    }
  } catch (...) {
    syncing_ = false;
    throw;
  }
  syncing_ = false;
}

void TIB_KeyDataLink::DoBeforeAssignment() {
  TIB_DataLink::DoBeforeAssignment();
  if (Quiet()) return;
  owner_->BeginKeyFollowingGuard();
  try {
    ClearCriteria(false);
  } catch (...) {
    owner_->EndKeyFollowingGuard();
    throw;
  }
  owner_->EndKeyFollowingGuard();
  if (GetDataset() != nullptr && CriteriaChanged()) GetDataset()->InvalidateSQL();
}

void TIB_KeyDataLink::DoPreparedChanged() {
  if (!Quiet()) owner_->UnbindKeyLinks();
  TIB_DataLink::DoPreparedChanged();
  if (GetDataset() != nullptr && !GetDataset()->Prepared()) ClearCriteria(false);
}

void TIB_KeyDataLink::SysRowDataChange(TIB_Column* Field) {
  TIB_DataLink::SysRowDataChange(Field);
  if (Quiet() || Field != nullptr) return;
  owner_->KeySourceDataChange();
}

void TIB_KeyDataLink::SysBeforePost() {
  if (!Quiet() && owner_->Active()) owner_->CheckBrowseMode();
  TIB_DataLink::SysBeforePost();
}

bool TIB_KeyDataLink::Modify() {
  if (Quiet() || !owner_->Active() || GetReadOnly()) return false;
  TIB_Dataset* key = GetDataset();
  if (key == nullptr || !key->Prepared()) return false;
  owner_->BindKeyLinks();
  for (int32_t i = 0; i < owner_->KeyLinks()->Count(); ++i) {
    const AnsiString value = Trim(owner_->KeyLinks()->GetItemValue(i));
    TIB_Column* c = value.empty() ? nullptr : key->FindField(value);
    if (c == nullptr || c->GetIsRequired()) return false;
  }
  return TIB_DataLink::Modify();
}

// --- Master data link --------------------------------------------------------------------------

TIB_MasterDataLink::TIB_MasterDataLink(TIB_Dataset* Owner) : TIB_DataLink(nullptr), owner_(Owner) {}

bool TIB_MasterDataLink::Quiet() const { return Going(owner_); }

void TIB_MasterDataLink::ProcessEvent(uint8_t Code, intptr_t Argument) {
  TIB_DataLink::ProcessEvent(Code, Argument);
  if (Quiet()) return;
  switch (Code) {
    case setAfterAssignment:
      owner_->UnbindMasterLinks();
      // The detail hears of its master's changes before the master's other listeners,
      // which may read the detail's rows.
      if (GetDataset() != nullptr && DataSource() != nullptr) {
        DataSource()->MoveToFrontOfDataset();
        DataSource()->MoveDataLinkToFront(this);
      }
      owner_->MasterDataChange(nullptr);
      break;
    case setPreparedChanged:
    case setLayoutChanged:
      owner_->UnbindMasterLinks();
      break;
    default:
      break;
  }
}

void TIB_MasterDataLink::SysStateChanged() {
  TIB_DataLink::SysStateChanged();
  if (!Quiet()) owner_->LinkStateChanged();
}

void TIB_MasterDataLink::SysRowDataChange(TIB_Column* Field) {
  TIB_DataLink::SysRowDataChange(Field);
  if (Quiet()) return;
  owner_->MasterDataChange(Field);
}

void TIB_MasterDataLink::SysBeforePost() {
  TIB_DataLink::SysBeforePost();
  if (Quiet() || !owner_->Active() || nesting_ >= 2) return;
  CheckedInc(nesting_);
  struct Back {
    int32_t& n;
    ~Back() { --n; }
  } back{nesting_};
  TIB_Dataset* master = GetDataset();
  if (master == nullptr) return;
  if (!(master->GetState() == dstInsert && master->Posting() && owner_->GetState() == dstInsert)) {
    owner_->CheckBrowseMode();
  }
  // The master row goes: the detail's cached changes made for it go too, before anything
  // could send them under another master.
  if (master->Posting() && master->GetState() == dstDelete) owner_->UpdateCachedDetailRows(0, nullptr);
}

void TIB_MasterDataLink::SysPrepareSQL() {
  if (Quiet()) return;
  TIB_Dataset* master = GetDataset();
  if (master == nullptr || !owner_->MasterSearch() || !owner_->Prepared()) return;
  if (!owner_->Active() && !owner_->ServerSQLCurrent()) owner_->Prepare();
  // Only criteria make the detail a condition of its master; its own WHERE alone does not.
  if (!owner_->HasGeneratedCriteria()) return;
  const AnsiString criteria = Trim(owner_->LinkCriteriaText());
  AnsiString where;
  auto add_line = [&](const AnsiString& line) {
    if (Trim(line).empty()) return;
    where += where.empty() ? "WHERE " : "\r\n  AND ";
    where += Trim(line);
  };
  for (int32_t i = 0; i < owner_->MasterLinks()->Count(); ++i) add_line(owner_->MasterLinks()->Strings(i));
  for (int32_t i = 0; i < owner_->JoinLinks()->Count(); ++i) add_line(owner_->JoinLinks()->Strings(i));
  if (where.empty()) return;
  AddWhereCondition(where, criteria);
  const AnsiString from = Trim(owner_->SQL()->GetSection(ssFrom));
  master->WhereCriteriaLast()->Add("EXISTS ( \r\n\r\nSELECT * " + from + "\r\n" + Trim(where) + ")\r\n\r\n");
  // The parameters the detail's criteria use get their values in the master's statement.
  TIB_StringProperty* pending = owner_->PendingParamValues();
  for (int32_t i = 0; i < pending->Count(); ++i) master->PendingParamValues()->Add(pending->Strings(i));
}

}  // namespace pelvar
