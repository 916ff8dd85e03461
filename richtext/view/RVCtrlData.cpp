#include "richtext/view/RVCtrlData.h"

#include <QWidget>

#include "platform/qt/qt_canvas.h"
#include "richtext/view/RVScroll.h"

namespace pelvar {

void TRVControlData::ClearTemporal() {
  if (DrawLines.Count() > 0) {
    TabNavItemNo = -1;
    TabNavRVData = nullptr;
  }
  TCustomRVFormattedData::ClearTemporal();
}

void TRVControlData::SetFocusedItem(int32_t item_no, TCustomRVFormattedData* inner_rvdata, int32_t inner_item_no) {
  if (TabNavRVData && TabNavItemNo >= 0 && TabNavItemNo < TabNavRVData->ItemCount())
    TabNavRVData->GetItem(TabNavItemNo)->LeaveItem();
  // When the focus moves to another item (a click into a control of another table), the item
  // that had it leaves too: a table forgets its focus cell, so that the next Tab into it starts
  // at its first place (its last going back), not at the cell it had before.
  if (FocusedItem != item_no && FocusedItem >= 0 && FocusedItem < ItemCount())
    GetItem(FocusedItem)->LeaveItem();
  FocusedItem = item_no;
  TabNavItemNo = inner_item_no;
  TabNavRVData = inner_rvdata;
}

void TRVControlData::Deselect(TCustomRVItemInfo* new_partially_selected, bool make_event) {
  if (State & rvstDeselecting) return;
  State |= rvstDeselecting;
  const bool had_focus = TabNavItemNo >= 0;
  TabNavItemNo = -1;
  TabNavRVData = nullptr;
  if (had_focus) InvalidateRectangle(TRect{0, 0, GetAreaWidth(), GetAreaHeight()});
  State &= ~(rvstSelecting | rvstLineSelecting);
  FSelStartNo = FSelEndNo = -1;
  FSelStartOffs = FSelEndOffs = 0;
  if (FocusedItem >= 0 && FocusedItem < ItemCount()) GetItem(FocusedItem)->LeaveItem();
  FocusedItem = -1;
  for (int32_t i = 0; i < ItemCount(); ++i) {
    TCustomRVItemInfo* item = GetItem(i);
    if (item != new_partially_selected && item->IsPartiallySelected()) item->DeselectPartial();
  }
  EndActiveSubData(new_partially_selected);
  if (make_event) FireOnSelect();
  State &= ~rvstDeselecting;
}

bool TRVControlData::IsFocusableItem(int32_t item_no) { return TakesFocus(item_no); }

void TRVControlData::DrawTabFocus(TCanvas& canvas) {
  if (TabNavItemNo < 0 || !TabNavRVData) return;
  TCustomRVFormattedData* d = TabNavRVData;
  if (TabNavItemNo >= d->ItemCount()) return;
  int32_t first = -1;
  d->GetFirstDrawItemOfItem(TabNavItemNo, first);
  if (first < 0) return;
  int32_t ix, iy, ox, oy;
  d->GetOrigin(ix, iy);
  GetOrigin(ox, oy);
  canvas.Font().SetColor(clBlack);
  canvas.Brush().SetStyle(bsSolid);
  for (int32_t i = first; i < d->DrawLines.Count() && d->DrawLines[i]->ItemNo == TabNavItemNo; ++i) {
    TRVDrawLineInfo* dl = d->DrawLines[i];
    const int32_t left = ix + dl->Left - GetHOffs() - 1 - ox;
    const int32_t top = iy + dl->Top - GetVOffs() - 1 - oy;
    canvas.DrawFocusRect(TRect{left, top, left + dl->Width + 2, top + dl->Height + 2});
  }
}

void TRVControlData::ExecuteTabFocused() {
  if (TabNavRVData && TabNavItemNo >= 0 && TabNavItemNo < TabNavRVData->ItemCount())
    TabNavRVData->GetItem(TabNavItemNo)->Execute(TabNavRVData);
}

bool TRVControlData::DoTabNavigation(bool backward) {
  if (State & rvstFocusByMouse) {
    State &= ~rvstFocusByMouse;
    return true;
  }
  // From the focused item on (into the cells of a focused table); with none focused, from the
  // start (or the end going back).
  TCustomRVFormattedData* inner_data = nullptr;
  int32_t inner_item_no = -1;
  const int32_t found = FindNextFocusableItem(FocusedItem, !backward, inner_data, inner_item_no);
  if (found < 0 || !inner_data) {
    SetFocusedItem(-1, nullptr, -1);
    return false;
  }
  SetFocusedItem(found, inner_data, inner_item_no);
  TCustomRVItemInfo* item = inner_data->GetItem(inner_item_no);
  item->FocusControl();
  // An inserted control takes the window focus.
  if (auto* c = dynamic_cast<TRVControlItemInfo*>(item))
    if (auto* w = dynamic_cast<QWidget*>(c->Control)) FocusControlInForm(w);
  // Its first draw item is scrolled into view (a cell's moved by the cell's place).
  int32_t d = -1;
  inner_data->GetFirstDrawItemOfItem(inner_item_no, d);
  if (d >= 0) {
    int32_t ix = 0, iy = 0, ox = 0, oy = 0;
    inner_data->GetOrigin(ix, iy);
    GetOrigin(ox, oy);
    TRVDrawLineInfo* dl = inner_data->DrawLines[d];
    ShowRectangle(dl->Left + ix - ox, dl->Top + iy - oy, dl->Width, dl->Height);
  }
  InvalidateRectangle(TRect{0, 0, GetAreaWidth(), GetAreaHeight()});
  return true;
}

std::unique_ptr<TCanvas> TRVControlData::CreateBufferCanvas(int32_t width, int32_t height) {
  return std::make_unique<TQtImageCanvas>(std::max(width, 1), std::max(height, 1));
}

void TRVControlData::PaintBuffered(TCanvas& canvas, const TRect& clip) {
  DrawTabFocus(canvas);
  const int32_t w = clip.Right - clip.Left, h = clip.Bottom - clip.Top;
  std::unique_ptr<TCanvas> buffer = CreateBufferCanvas(w, h);
  AnsiString error;
  bool failed = false;
  try {
    DrawBackground(*buffer, clip);
    PaintTo(*buffer, clip);
  } catch (const Exception& e) {
    failed = true;
    error = e.Message();
  }
  auto* image = dynamic_cast<TQtImageCanvas*>(buffer.get());
  auto* painter_canvas = dynamic_cast<TQtPainterCanvas*>(&canvas);
  if (image && painter_canvas && painter_canvas->WindowOrg().X == 0 && painter_canvas->WindowOrg().Y == 0) {
    painter_canvas->Painter()->drawImage(clip.Left, clip.Top, image->Image());
  } else if (image) {
    const QImage& q = image->Image();
    TPixelImage pixels(q.width(), q.height());
    for (int32_t y = 0; y < q.height(); ++y)
      for (int32_t x = 0; x < q.width(); ++x) pixels.Set(x, y, q.pixel(x, y) | 0xFF000000u);
    canvas.StretchPixels(TRect{clip.Left, clip.Top, clip.Left + w, clip.Top + h}, pixels, TRect{0, 0, w, h});
  }
  if (failed) {
    TFont& f = canvas.Font();
    f.SetName("Arial");
    f.SetSize(10);
    f.SetColor(255);
    f.SetStyle(TFontStyles());
    canvas.Brush().SetColor(0xFFFFFF);
    canvas.Brush().SetStyle(bsSolid);
    canvas.TextOut(0, 0, "Error:" + error);
  }
  DrawTabFocus(canvas);
}

// ---- Item-owned documents ----------------------------------------------------------------------

TCustomRVData* TRVItemFormattedData::GetParentData() { return Owner ? Owner->GetParentRVData() : nullptr; }

TCustomRVData* TRVItemFormattedData::GetRootData() {
  TCustomRVData* p = GetParentData();
  return p ? p->GetRootData() : this;
}

TCustomRVData* TRVItemFormattedData::GetAbsoluteRootData() {
  TCustomRVData* p = GetParentData();
  return p ? p->GetAbsoluteRootData() : this;
}

uint16_t TRVItemFormattedData::GetFlags() { return Owner ? Owner->Flags : 0; }

void TRVItemFormattedData::SetFlags(uint16_t /*value*/) {
  throw EDocViewError("This method is not supported for TRVItemFormattedData");
}

void TRVItemFormattedData::DoURLNeeded(int32_t id, AnsiString& url) {
  TCustomRVData* root = GetAbsoluteRootData();
  if (root && root != this) root->DoURLNeeded(id, url);
}

}  // namespace pelvar
