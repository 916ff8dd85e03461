// Hooks of the viewer's document that the editable document overrides: the drop caret kept
// by the root document, the drag source that may move, and hyperlinks that are live only
// while they are shown.
#include "richtext/edit/RVERVData.h"

#include "platform/dataobject.h"
#include "richtext/model/RVStyle.h"

namespace pelvar {

namespace {
TRVEditRVData* AbsoluteRoot(TRVEditRVData* d) {
  auto* root = dynamic_cast<TRVEditRVData*>(d->GetAbsoluteRootData());
  return root ? root : d;
}
}  // namespace

// ---- Drop caret ---------------------------------------------------------------------------------

TRVDragDropCaretInfo* TRVEditRVData::GetDragDropCaretInfo() {
  if (GetFlags() & rvflRoot) return DragDropCaret.get();
  TRVEditRVData* root = AbsoluteRoot(this);
  return root != this ? root->GetDragDropCaretInfo() : nullptr;
}

void TRVEditRVData::BeginDragDropCaret() {
  if (!(GetFlags() & rvflRoot)) return;
  if (!DragDropCaret) DragDropCaret = std::make_unique<TRVDragDropCaretInfo>();
  ++DragDropCaret->RefCount;
}

void TRVEditRVData::EndDragDropCaret() {
  if (!(GetFlags() & rvflRoot) || !DragDropCaret) return;
  if (--DragDropCaret->RefCount <= 0) DragDropCaret.reset();
}

// ---- Drag source ---------------------------------------------------------------------------------

bool TRVEditRVData::InitDragDropSource(std::shared_ptr<TRVDropSource>& source, uint32_t& ok_effects) {
  if (!TDocViewRVData::InitDragDropSource(source, ok_effects)) return false;
  if ((GetFlags() & rvflRoot) && !IsReadOnly() && CanDeleteSelection()) ok_effects |= DROPEFFECT_MOVE;
  return true;
}

void TRVEditRVData::DoneDragDropSource(bool moved) {
  TDocViewRVData::DoneDragDropSource(moved);
  if (moved) DeleteMovedSelection();
}

void TRVEditRVData::DeleteMovedSelection() {
  if (!SelectionExists(false) || !BeforeChange(false)) return;
  BeginUndoGroup(rvutDelete, true);
  SetUndoGroupMode(true);
  bool ok = false;
  try {
    ok = DeleteSelection();
  } catch (...) {
    SetUndoGroupMode(false);
    throw;
  }
  SetUndoGroupMode(false);
  UndoList->DropEmptyGroup();
  if (ok) DoChange(true);
}

// ---- Hyperlinks ----------------------------------------------------------------------------------

void TRVEditRVData::BuildJumpList() {
  Jumps.clear();
  LastJumpMovedAbove = -1;
  JumpCount = 0;
  TRVStyle* style = GetRVStyle();
  if (!style) return;
  int32_t previous = -1;
  for (int32_t i = 0; i < DrawLines.Count(); ++i) {
    TRVDrawLineInfo* d = DrawLines[i];
    TCustomRVItemInfo* item = GetItem(d->ItemNo);
    if (!item->GetBoolValueEx(1, style)) continue;
    const bool further = d->ItemNo == previous;
    auto j = std::make_unique<TRVJumpInfo>();
    j->RVData = this;
    j->Width = d->Width;
    j->Height = d->Height;
    j->DrawItemNo = i;
    j->Id = further ? JumpCount - 1 : JumpCount;
    j->Cursor = item->GetHypertextCursor(style);
    item->JumpID = j->Id;
    Jumps.push_back(std::move(j));
    if (!further) {
      ++JumpCount;
      previous = d->ItemNo;
    }
  }
  AdjustJumpsCoords();
}

void TRVEditRVData::ShowJumps(bool force) {
  if ((IsReadOnly() && !force) || CaptureMouseItem) return;
  BuildJumpList();
  SetFlags(static_cast<uint16_t>(GetFlags() | rvflJumps));
  InvalidateControl();
}

void TRVEditRVData::HideJumps() {
  if (IsReadOnly() || CaptureMouseItem || !(GetFlags() & rvflJumps)) return;
  Jumps.clear();
  LastJumpMovedAbove = -1;
  SetFlags(static_cast<uint16_t>(GetFlags() & ~rvflJumps));
  if (!NotFormatted() && CaretOffs >= 0) ChangeCaret(false, true, false);
  InvalidateControl();
}

}  // namespace pelvar
