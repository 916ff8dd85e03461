// Hooks of the viewer's document that the editable document overrides: the drop caret kept
// by the root document, the drag source that may move, and hyperlinks that are live only
// while they are shown.
#include "richtext/edit/RVERVData.h"

#include "platform/dataobject.h"
#include <algorithm>

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
    if (!item->GetBoolValueEx(1, style)) {
      // Items holding documents (tables) number the links inside them.
      item->BuildJumps(this, i, JumpCount, &Jumps);
      continue;
    }
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


// ---- Resize frame ----------------------------------------------------------------------------------

int32_t TRVEditRVData::SingleSelectedItem() {
  if (NotFormatted()) return -1;
  int32_t si, ei, so, eo;
  GetSelBounds(si, ei, so, eo, true);
  if (si < 0 || ei < 0 || si >= ItemCount() || ei >= ItemCount()) return -1;
  if (si < ei && so >= GetOffsAfterItem(si)) {
    ++si;
    so = GetOffsBeforeItem(si);
  }
  if (ei > si && eo <= GetOffsBeforeItem(ei)) {
    --ei;
    eo = GetOffsAfterItem(ei);
  }
  if (si != ei || so != GetOffsBeforeItem(si) || eo != GetOffsAfterItem(si) || so == eo) return -1;
  return si;
}

int32_t TRVEditRVData::ResizableSelectedDrawItem() {
  const int32_t item_no = SingleSelectedItem();
  if (item_no < 0) return -1;
  // Pictures only: controls keep the size their own bounds give.
  auto* pic = dynamic_cast<TRVGraphicItemInfo*>(GetItem(item_no));
  if (!pic || !pic->GetBoolValue(8)) return -1;
  int32_t d = -1;
  GetFirstDrawItemOfItem(item_no, d);
  return d;
}

void TRVEditRVData::UpdateResizer() {
  Resizer.reset();
  if ((IsReadOnly() && !(GetFlags() & 0x0200)) || NoImageResize()) return;
  const int32_t d = ResizableSelectedDrawItem();
  if (d < 0 || d >= DrawLines.Count() || IsParaReadOnly(DrawLines[d]->ItemNo)) return;
  TCustomRVItemInfo* item = GetItem(DrawLines[d]->ItemNo);
  Resizer = std::make_unique<TRVItemResizer>(DrawLines[d], item, d);
  Resizer->HandlesOutside = item->GetBoolValue(9);
}

void TRVEditRVData::CheckResizer() {
  if (!Resizer) return;
  const int32_t d = Resizer->DrawItemNo();
  if (d < 0 || d >= DrawLines.Count() || DrawLines[d] != Resizer->DrawItem() ||
      GetItem(DrawLines[d]->ItemNo) != Resizer->Item())
    UpdateResizer();
}

bool TRVEditRVData::ResizerHitTest(int32_t x, int32_t y, int32_t& handle) {
  CheckResizer();
  return Resizer && Resizer->HitTestHandle(x, y, GetHOffs(), GetVOffs(), handle);
}

bool TRVEditRVData::ResizerMouseDown(int32_t x, int32_t y) {
  int32_t handle = 0;
  if (!ResizerHitTest(x, y, handle)) return false;
  Resizer->StartDrag(x, y, GetHOffs(), GetVOffs());
  SetControlCursor(crCross);
  InvalidateControl();
  return true;
}

bool TRVEditRVData::ResizerMouseMove(uint32_t shift, int32_t x, int32_t y) {
  if (Resizer && Resizer->Dragging()) {
    Resizer->Drag(shift, x, y, GetHOffs(), GetVOffs());
    InvalidateControl();
    return true;
  }
  int32_t handle = 0;
  if (!ResizerHitTest(x, y, handle)) return false;
  SetControlCursor(TRVItemResizer::GetHandleCursor(handle));
  return true;
}

bool TRVEditRVData::ResizerMouseUp() {
  if (!Resizer || !Resizer->Dragging()) return false;
  Resizer->FinishDrag();
  SetControlCursor(crDefault);
  ResizeItem(Resizer->ItemNo, Resizer->Width, Resizer->Height);
  InvalidateControl();
  return true;
}

void TRVEditRVData::DoSelectClickedItem() {
  if (ClickedDItem < 0 || ClickedDItem != MouseDItem || ClickedDItem >= DrawLines.Count()) return;
  TCustomRVItemInfo* item = GetItem(DrawLines[ClickedDItem]->ItemNo);
  if (!item->GetBoolValue(8) && !item->GetBoolValue(11)) return;
  if (SelectionExists(false)) return;
  FSelStartNo = FSelEndNo = ClickedDItem;
  FSelStartOffs = 0;
  FSelEndOffs = 1;
}

bool TRVEditRVData::CancelResize() {
  if (!Resizer || !Resizer->Dragging()) return false;
  Resizer->Cancel();
  Resizer->FinishDrag();
  SetControlCursor(crDefault);
  InvalidateControl();
  return true;
}

void TRVEditRVData::ResizeItem(int32_t item_no, int32_t width, int32_t height) {
  if (item_no < 0 || item_no >= ItemCount()) return;
  auto* rect = dynamic_cast<TRVRectItemInfo*>(GetItem(item_no));
  if (!rect) return;
  width = std::max(width - 2 * rect->GetSpacing(), 1);
  height = std::max(height - 2 * rect->GetSpacing(), 1);
  if (!BeforeChange(false)) return;
  BeginUndoGroup(rvutModifyItem, true);
  SetUndoGroupMode(true);
  try {
    RecSetExtraIntProperty(item_no, 4, height);
    RecSetExtraIntProperty(item_no, 3, width);
    if (!NotFormatted()) {
      FormatKeepingCaret();
      SetSelectionBounds(item_no, GetOffsBeforeItem(item_no), item_no, GetOffsAfterItem(item_no));
    }
  } catch (...) {
    SetUndoGroupMode(false);
    throw;
  }
  SetUndoGroupMode(false);
  UndoList->DropEmptyGroup();
  DoChange(true);
  UpdateResizer();
}

void TRVEditRVData::AfterPaint(TCanvas& canvas, int32_t, int32_t, int32_t, int32_t) {
  CheckResizer();
  if (!Resizer) return;
  Resizer->DrawHandles(canvas, GetHOffs(), GetVOffs());
  if (Resizer->Dragging()) Resizer->DrawRubberFrame(canvas, GetHOffs(), GetVOffs());
}

}  // namespace pelvar
