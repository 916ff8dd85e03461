// The buffered dataset that serves one adapter, and the server errors it raises.
#include <cstring>

#include "dbadapters/REZDataset.h"
#include "platform/application.h"
#include "platform/sysutils.h"

namespace pelvar {

TREZInternalDataset::TREZInternalDataset(TREZDataset* Owner) : TIB_BDataset(Owner), adapter_(Owner) {
  SetAutoFetchFirst(false);
  SetCallbackInc(-1);
  SetFetchWholeRows(true);
  SetRefreshAction(raKeepDataPos);
  SetRefreshOnParamChange(false);
  SetPreparedEdits(true);
  SetPreparedInserts(false);
  SetBufferSynchroFlags({});
  SetCommitAction(caInvalidateCursor);
  SetKeyLinksAutoDefine(true);
  SetOwnerForEvents(Owner);
  OnCallback = [this](TIB_Dataset*, TIB_CallbackStatus Status, int32_t CursorRowNum, bool& Abort) {
    if (adapter_->OnCallback)
      adapter_->OnCallback(adapter_, Status, CursorRowNum, Abort);
    else
      ShowCallbackDialog(Status);
  };
}

void TREZInternalDataset::HandleError(TComponent* Sender, int32_t ERRCODE, TStringList* ErrorMessage,
                                      TStringList* ErrorCodes, int32_t SQLCODE, TStringList* SQLMessage,
                                      TStringList* SQL, bool& RaiseException) {
  TIB_BDataset::HandleError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL,
                            RaiseException);
  if (RaiseException && adapter_->OnError)
    adapter_->OnError(Sender, ERRCODE, ErrorMessage, ErrorCodes, SQLCODE, SQLMessage, SQL, RaiseException);
  if (!RaiseException) return;
  throw EREZ_ISCError(Sender, REZErrorMessage(SQLCODE, ErrorMessage), ERRCODE, ErrorMessage,
                      ErrorCodes, SQLCODE, SQLMessage, SQL);
}

void TREZInternalDataset::DoBeforePrepare() {
  TIB_BDataset::DoBeforePrepare();
  adapter_->DoBeforePrepare();
}

void TREZInternalDataset::DoPrepareSQL() {
  if (!Repreparing()) adapter_->custom_bool_ = false;
  if (adapter_->OnPrepareSQL) adapter_->OnPrepareSQL(adapter_);
  adapter_->SysPrepareSQL();
  TIB_BDataset::DoPrepareSQL();
}

void TREZInternalDataset::DoAfterPrepare() {
  TIB_BDataset::DoAfterPrepare();
  if (!Repreparing()) {
    TIB_Row* keys = GetKeyFields();
    adapter_->SetBookmarkSize(keys != nullptr ? 2 * keys->RowBufferSize() : 0);
    adapter_->record_size_ = static_cast<uint16_t>(Fields()->RowBufferSize());
    adapter_->descs_.clear();
    if (FieldCount() > 0 && adapter_->FieldDefs().Count() == 0) adapter_->InternalInitFieldDefs();
    adapter_->FreeKeyBuffers();
    if (FieldCount() > 0) adapter_->AllocKeyBuffers();
  }
  adapter_->params_synced_ = false;
  adapter_->RefreshParams();
  adapter_->AdjustParamTypes();
  adapter_->DataEvent(dePropertyChange, 0);
  if (FieldCount() == 0) adapter_->DoAfterPrepare();
}

void TREZInternalDataset::DoAfterUnprepare() {
  if (!Repreparing()) adapter_->custom_bool_ = false;
  TIB_BDataset::DoAfterUnprepare();
  if (!Repreparing()) {
    adapter_->FreeKeyBuffers();
    adapter_->executing_ = false;
    adapter_->index_defs_->SetUpdated(false);
    adapter_->descs_.clear();
    if (!adapter_->Active()) adapter_->FieldDefs().Clear();
  }
}

void TREZInternalDataset::DoBeforeExecute() {
  TIB_BDataset::DoBeforeExecute();
  adapter_->BindMasterParams(false);
}

void TREZInternalDataset::SysActivate() {
  // The output values of a singleton execute are taken before the activation clears the
  // field row.
  if (adapter_->output_params_ && OutputRowPresent()) adapter_->FetchOutputParams();
  TIB_BDataset::SysActivate();
}

void TREZInternalDataset::SysStringsChanged(TObject* List, bool& Apply) {
  TIB_BDataset::SysStringsChanged(List, Apply);
  adapter_->SQLChanged(List);
}

bool TREZInternalDataset::GetOrderingPlan() {
  return TIB_BDataset::GetOrderingPlan() || adapter_->IsTable();
}

void TREZInternalDataset::SysClose() {
  if (GetRefreshing() || !adapter_->Active() || adapter_->MasterBindingDepth() > 0 ||
      adapter_->ClosingNow() || adapter_->State() == dsOpening) {
    TIB_BDataset::SysClose();
    return;
  }
  adapter_->Close();
}

void TREZInternalDataset::SysPost(bool OnlyIfModified, bool Retaining) {
  if (!GetIsEditing()) return;
  if ((GetState() == dstEdit || GetState() == dstInsert) && !Retaining && !adapter_->PostingNow()) {
    if (adapter_->Active())
      adapter_->Post();
    else
      Cancel();
    return;
  }
  TIB_BDataset::SysPost(OnlyIfModified, Retaining);
}

void TREZInternalDataset::SysCancel() {
  if (!GetIsEditing()) return;
  if ((GetState() == dstEdit || GetState() == dstInsert) && adapter_->Active() &&
      !adapter_->CancellingNow()) {
    adapter_->Cancel();
    return;
  }
  TIB_BDataset::SysCancel();
}

bool TREZInternalDataset::GetColumnReadOnly(const TIB_Column* Column) const {
  bool read_only = TIB_BDataset::GetColumnReadOnly(Column);
  TREZUpdateSQL* u = adapter_->UpdateObject();
  if (read_only || u == nullptr) return read_only;
  auto names_column = [&](TStringList* text) {
    if (text->Count() == 0) return true;  // no own statement: the engine's rule holds
    const std::vector<AnsiString> names = REZParseParamNames(text->Text());
    for (const AnsiString& n : names)
      if (AnsiSameText(n, Column->GetFieldName())) return true;
    return false;
  };
  switch (GetState()) {
    case dstBrowse:
    case dstEdit:
      if (u->ModifySQL()->Count() == 0) return read_only;
      return !names_column(u->ModifySQL());
    case dstPrepared:
    case dstInsert:
      if (u->InsertSQL()->Count() == 0) return read_only;
      return !names_column(u->InsertSQL());
    default:
      return true;
  }
}

void TREZInternalDataset::SysFilterRow(TIB_Node* Node, bool& Accept) {
  Accept = true;
  if (adapter_->OnCheckCachedInsert) {
    TIB_Row* row = GetBufferFields();
    if (RowCursor() != nullptr) RowCursor()->FetchRowByKey(Node, false, false);
    TRecordBuffer temp = adapter_->TempBuffer();
    std::memcpy(temp, Fields()->RowBuffer(), adapter_->record_size_);
    (void)row;
    const TDataSetState st = adapter_->SetTempState(dsFilter);
    adapter_->filter_record_ = temp;
    adapter_->filter_node_ = Node;
    try {
      adapter_->OnCheckCachedInsert(adapter_, Accept);
    } catch (...) {
      adapter_->InternalHandleException();
    }
    adapter_->filter_record_ = nullptr;
    adapter_->filter_node_ = nullptr;
    adapter_->RestoreState(st);
  }
  if (Accept) TIB_BDataset::SysFilterRow(Node, Accept);
}

void TREZInternalDataset::DoUpdateRecord(int32_t UpdateKind, int32_t& UpdateAction) {
  if (adapter_->OnUpdateRecord) {
    adapter_->OnUpdateRecord(adapter_, UpdateKind, UpdateAction);
    return;
  }
  TIB_BDataset::DoUpdateRecord(UpdateKind, UpdateAction);
}

bool TREZInternalDataset::HasCustomDML(int32_t Kind) const {
  if (TIB_BDataset::HasCustomDML(Kind)) return true;
  TREZUpdateSQL* u = adapter_->UpdateObject();
  return u != nullptr && Kind >= 0 && Kind <= 2 && u->SQLText(Kind)->Count() > 0;
}

void TREZInternalDataset::SysApplyUpdate(int32_t UpdateKind, int32_t& UpdateAction,
                                         const TIB_ApplyRoutine& Routine, TIB_BDataset* Data) {
  TREZUpdateSQL* u = adapter_->UpdateObject();
  if (u != nullptr && UpdateKind >= 0 && UpdateKind <= 2 && u->SQLText(UpdateKind)->Count() > 0) {
    u->Apply(UpdateKind);
    return;
  }
  TIB_BDataset::SysApplyUpdate(UpdateKind, UpdateAction, Routine, Data);
}

// ---------------------------------------------------------------------------------------------
// The adapter's side of preparing

void TREZDataset::DoBeforePrepare() {
  if (BeforePrepare) BeforePrepare(this);
}

void TREZDataset::DoAfterPrepare() {
  if (AfterPrepare) AfterPrepare(this);
}

}  // namespace pelvar
