#include "richtext/view/RVRVData.h"

#include <QCoreApplication>
#include <QCursor>
#include <QToolTip>

#include "platform/codepage.h"
#include "richtext/model/RVImageList.h"
#include "richtext/view/DocView.h"

namespace pelvar {

TDocViewRVData::TDocViewRVData(TCustomDocView* control)
    : Control(control), parent_window_(std::make_unique<TRVWidgetParent>(control)) {
  RVInstallWidgetControlWindowing();
}

TObject* TDocViewRVData::GetParentControl() { return parent_window_.get(); }

TDocViewRVData::~TDocViewRVData() {
  delete FontInfoCache;
  FontInfoCache = nullptr;
}

TRVOptions TDocViewRVData::GetOptions() { return Control->Options; }
void TDocViewRVData::SetOptions(TRVOptions value) { Control->Options = value; }
TRVFOptions TDocViewRVData::GetRVFOptions() { return Control->RVFOptions; }
void TDocViewRVData::SetRVFOptions(TRVFOptions value) { Control->RVFOptions = value; }
TRVRTFOptions TDocViewRVData::GetRTFOptions() { return Control->RTFOptions; }
void TDocViewRVData::SetRTFOptions(TRVRTFOptions value) { Control->RTFOptions = value; }
TRVFReaderStyleMode TDocViewRVData::GetRVFTextStylesReadMode() { return Control->RVFTextStylesReadMode; }
TRVFReaderStyleMode TDocViewRVData::GetRVFParaStylesReadMode() { return Control->RVFParaStylesReadMode; }
TRVPaletteAction TDocViewRVData::GetDoInPaletteMode() { return Control->DoInPaletteMode(); }
TRVStyle* TDocViewRVData::GetRVStyle() { return Control->Style(); }
TRVBiDiMode TDocViewRVData::GetBiDiMode() { return Control->BiDiMode(); }
AnsiString TDocViewRVData::GetDelimiters() { return Control->Delimiters; }
uint16_t TDocViewRVData::GetFlags() { return Control->Flags; }
void TDocViewRVData::SetFlags(uint16_t value) { Control->Flags = value; }
int32_t TDocViewRVData::GetMaxLength() {
  return (Control->Flags & rvflRoot) ? Control->MaxLength : TRVControlData::GetMaxLength();
}
TStringList* TDocViewRVData::GetDocProperties() {
  return (Control->Flags & rvflRoot) ? &Control->DocProperties : nullptr;
}

TCanvas* TDocViewRVData::GetCanvas() { return Control->FormatCanvas(); }
int32_t TDocViewRVData::GetLeftMargin() { return Control->LeftMargin; }
int32_t TDocViewRVData::GetRightMargin() { return Control->RightMargin; }
int32_t TDocViewRVData::GetTopMargin() { return Control->TopMargin; }
int32_t TDocViewRVData::GetBottomMargin() { return Control->BottomMargin; }
int32_t TDocViewRVData::GetMinTextWidth() { return Control->MinTextWidth; }
int32_t TDocViewRVData::GetMaxTextWidth() { return Control->MaxTextWidth; }
int32_t TDocViewRVData::GetAreaWidth() { return Control->ClientWidth(); }
int32_t TDocViewRVData::GetAreaHeight() { return Control->ClientHeight(); }
int32_t TDocViewRVData::GetDocumentAreaWidth() { return Control->XSize; }
int32_t TDocViewRVData::GetHOffs() { return Control->HPos; }
int32_t TDocViewRVData::GetVOffs() { return Control->VPos * Control->VSmallStep - GetVAlignOffset(); }
int32_t TDocViewRVData::GetVSmallStep() { return Control->VSmallStep; }

int32_t TDocViewRVData::GetVAlignOffset() {
  switch (Control->VAlign) {
    case tlCenter: return std::max((GetAreaHeight() - DocumentHeight) / 2, 0);
    case tlBottom: return std::max(GetAreaHeight() - DocumentHeight, 0);
    default: return 0;
  }
}

void TDocViewRVData::GetOrigin(int32_t& x, int32_t& y) {
  x = 0;
  y = GetVAlignOffset();
}

bool TDocViewRVData::SetDocumentAreaSize(int32_t width, int32_t height, bool redraw) {
  const int32_t w = Control->ClientWidth(), h = Control->ClientHeight();
  const int32_t step = std::max(Control->VSmallStep, 1);
  Control->UpdateScrollBars(width, (height + step - 1) / step, true, redraw);
  return w != Control->ClientWidth() || h != Control->ClientHeight();
}

void TDocViewRVData::AdjustVScrollUnits() {
  const int32_t h = DocumentHeight;
  const int32_t step = std::max(Control->VSmallStep, 1);
  if (Control->VScrollVisible() && h / step > 32000) {
    int32_t v = h / 32000;
    if (h / v > 32000) ++v;
    Control->SetVSmallStep(v);
  } else if (step > 10 && h / 10 <= 32000) {
    Control->SetVSmallStep(10);
  }
}

void TDocViewRVData::ScrollTo(int32_t y, bool redraw) {
  if (State & rvstNoScrolling) return;
  if (redraw)
    Control->ScrollToY(y);
  else
    Control->ScrollToYNoRedraw(y);
}

void TDocViewRVData::HScrollTo(int32_t x) {
  if (State & rvstNoScrolling) return;
  Control->SetHPos(x);
}

TColor TDocViewRVData::GetColor() { return Control->GetColor(); }
TRVBackground* TDocViewRVData::GetBackground() { return Control->Background.get(); }
bool TDocViewRVData::IsFocused() { return Control->ChainFocused(); }

void TDocViewRVData::InvalidateRectangle(const TRect& r) {
  if (Control->HandleAllocated()) Control->update(QRect(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top));
}

void TDocViewRVData::UpdateView() {
  if (Control->HandleAllocated()) Control->repaint();
}

void TDocViewRVData::ShowItemHint(TCustomRVData* rvdata, int32_t item_no) {
  if (!GetOptions().Contains(rvoShowItemHints) || !Control->HandleAllocated()) return;
  AnsiString hint;
  DoItemHint(rvdata, item_no, hint);
  const QString text = QString::fromUtf8(AnsiToUtf8(hint));
  if (text == Control->toolTip()) return;
  Control->setToolTip(text);
  if (text.isEmpty())
    QToolTip::hideText();
  else
    QToolTip::showText(QCursor::pos(), text, Control);
}

void TDocViewRVData::RefreshControl() {
  if (Control->HandleAllocated()) Control->repaint();
}

void TDocViewRVData::UpdateControl() {
  // The window's pending repaint request, delivered now rather than from the event loop.
  if (Control->HandleAllocated() && Control->isVisible())
    QCoreApplication::sendPostedEvents(Control->window(), QEvent::UpdateRequest);
}

TRVFontInfoCache* TDocViewRVData::CreateFontInfoCache(TCanvas* canvas) {
  delete FontInfoCache;
  FontInfoCache = nullptr;
  const bool ppi = (Control->Flags & rvflCustomPPI) != 0;
  if (GetOptions().Contains(rvoFastFormatting))
    FontInfoCache = new TRVFontInfoCacheFast(this, ppi, canvas, GetRVStyle());
  else
    FontInfoCache = new TRVFontInfoCacheLowResource(this, ppi, canvas, GetRVStyle());
  return FontInfoCache;
}

TRVFontInfoCache* TDocViewRVData::GetFontInfoCache(TCanvas* canvas, TCustomRVFormattedData* requester) {
  if (!(Control->Flags & rvflRoot)) return TRVControlData::GetFontInfoCache(canvas, requester);
  if (FontInfoCache) return FontInfoCache;
  if (requester == this) return CreateFontInfoCache(canvas);
  return new TRVFontInfoCacheLowResource(requester, (Control->Flags & rvflCustomPPI) != 0, canvas, GetRVStyle());
}

void TDocViewRVData::DestroyFontInfoCache(TRVFontInfoCache*& cache) {
  if (cache == FontInfoCache) FontInfoCache = nullptr;
  if (cache && cache->Owner == this) delete cache;
  cache = nullptr;
}

void TDocViewRVData::Clear() {
  EndActiveSubData(nullptr);
  Control->StopLiveSpelling();
  Control->ResetAnimation();
  SmartPopupButton.reset();
  CurrentCheckpoint = nullptr;
  TRVControlData::Clear();
}

void TDocViewRVData::AdjustSmartPopupPosition() {
  TRVSmartPopupButton* button = SmartPopupButton.get();
  if (!button) return;
  TCustomRVFormattedData* d = button->RVData;
  int32_t d_item = -1, d_offs = 0;
  if (d && button->ItemNo >= 0 && button->ItemNo < d->ItemCount())
    d->ItemPosToDrawItemPos(button->ItemNo, d->GetOffsAfterItem(button->ItemNo), d_item, d_offs);
  if (d_item < 0 || d_item >= d->DrawLines.Count()) {
    SmartPopupButton.reset();
    return;
  }
  int32_t ox = 0, oy = 0;
  d->GetOriginEx(ox, oy);
  const TRVDrawLineInfo* l = d->DrawLines[d_item];
  int32_t x = l->Left + l->Width + ox;
  int32_t y = l->Top + l->Height + oy;
  x = std::min(x, std::max(GetDocumentAreaWidth(), GetAreaWidth()) - button->width());
  y = std::min(y, std::max(Control->YSize * Control->VSmallStep, GetAreaHeight()) - button->height());
  button->move(x - GetHOffs(), button->y());
  SetControlTag(button, y - GetVOffs());
  ApplyControlTopFromTag(button);
}

void TDocViewRVData::AfterControlsRepositioned(TCustomRVData* rvdata) {
  TRVSmartPopupButton* button = SmartPopupButton.get();
  if (!button || button->RVData != rvdata) return;
  TCustomRVFormattedData* d = button->RVData;
  // After edits the item may stand at another index: found again by its object.
  if (button->ItemNo < 0 || button->ItemNo >= d->ItemCount() || d->GetItem(button->ItemNo) != button->Item) {
    button->ItemNo = -1;
    for (int32_t i = 0; i < d->ItemCount(); ++i)
      if (d->GetItem(i) == button->Item) button->ItemNo = i;
  }
  AdjustSmartPopupPosition();
}

uint8_t TDocViewRVData::GetCheckpointEventKind() { return Control->CheckpointEventKind; }
bool TDocViewRVData::IsAssignedCheckpointVisible() { return static_cast<bool>(Control->OnCheckpointVisible); }
void TDocViewRVData::DoCheckpointVisible(TRVCPInfo* cp) {
  if (Control->OnCheckpointVisible) Control->OnCheckpointVisible(Control, cp);
}

bool TDocViewRVData::AllowAnimation() { return Control->AnimationMode() != rvaniDisabled; }
void TDocViewRVData::AfterAnimatorInserted() { Control->AnimatorInserted(); }

void TDocViewRVData::FireOnSelect() {
  if (!Control->Destroying && Control->OnSelect) Control->OnSelect(Control);
}

void TDocViewRVData::DoURLNeeded(int32_t id, AnsiString& url) {
  url.clear();
  if (Control->OnURLNeeded) Control->OnURLNeeded(Control, id, url);
}

void TDocViewRVData::DoJump(int32_t id) {
  if (Control->OnJump) Control->OnJump(Control, id);
}

void TDocViewRVData::PostDragStart() { PostMessage(Control->MessageHandle(), WM_RVDRAGDROP, 0, 0); }

bool TDocViewRVData::CanStartDragging() { return !GetOptions().Contains(rvoDisallowDrag) && !DropSource; }

bool TDocViewRVData::IsAssignedCopy() { return static_cast<bool>(Control->OnCopy); }

void TDocViewRVData::DoCopy() {
  if (Control->OnCopy) Control->OnCopy(Control);
}

bool TDocViewRVData::IsAssignedOnJump() { return static_cast<bool>(Control->OnJump); }
bool TDocViewRVData::IsAssignedOnRVDblClick() { return static_cast<bool>(Control->OnRVDblClick); }
TCustomRVFormattedData* TDocViewRVData::GetActiveSubData() {
  if (!Control) return nullptr;
  auto* editor = dynamic_cast<TCustomDocView*>(Control->GetInplaceEditor());
  if (editor) return !editor->Destroying ? editor->RVData.get() : nullptr;
  return Control->ChosenRVData;
}

void TDocViewRVData::SetActiveSubData(TCustomRVFormattedData* rvdata, TCustomRVItemInfo* item) {
  if (Control) Control->AssignChosenRVData(rvdata, item);
}

void TDocViewRVData::ClearActiveSubData() {
  if (State & rvstSubDataEnding) return;
  State |= rvstSubDataEnding;
  try {
    TRVControlData::ClearActiveSubData();
    if (Control) Control->UnassignChosenRVData(Control->ChosenRVData);
  } catch (...) {
    State &= ~rvstSubDataEnding;
    throw;
  }
  State &= ~rvstSubDataEnding;
}

TCustomRVItemInfo* TDocViewRVData::GetActiveSubDataItem() { return Control ? Control->ChosenItem : nullptr; }

TCustomRVData* TDocViewRVData::GetChosenRVData() { return Control ? Control->GetChosenRVData() : nullptr; }

void TDocViewRVData::SetControlCursor(TCursor cursor) {
  ShownCursor = cursor;
  Control->ApplyCursor(cursor);
}
TCursor TDocViewRVData::GetControlCursor() { return Control->Cursor; }

void TDocViewRVData::DoRVMouseMove(int32_t id) {
  if (Control->OnRVMouseMove) Control->OnRVMouseMove(Control, id);
}

void TDocViewRVData::DoRVMouseDown(int32_t button, uint32_t shift, int32_t item_no, int32_t x, int32_t y) {
  if (Control->OnRVMouseDown) Control->OnRVMouseDown(Control, static_cast<TMouseButton>(button), shift, item_no, x, y);
}

void TDocViewRVData::DoRVMouseUp(int32_t button, uint32_t shift, int32_t item_no, int32_t x, int32_t y) {
  if (Control->OnRVMouseUp) Control->OnRVMouseUp(Control, static_cast<TMouseButton>(button), shift, item_no, x, y);
}

void TDocViewRVData::DoRVDblClick(const AnsiString& word, int32_t style_no) {
  if (Control->OnRVDblClick) Control->OnRVDblClick(Control, word, style_no);
}

void TDocViewRVData::DoRVRightClick(const AnsiString& word, int32_t style_no, int32_t x, int32_t y) {
  if (Control->OnRVRightClick) Control->OnRVRightClick(Control, word, style_no, x, y);
}

void TDocViewRVData::DoItemHint(TCustomRVData* rvdata, int32_t item_no, AnsiString& hint) {
  const AnsiString def = hint;
  if (item_no >= 0) hint = rvdata->GetItem(item_no)->Hint;
  if (Control->OnItemHint) Control->OnItemHint(Control, rvdata, item_no, hint);
  if (hint.empty() || item_no < 0) hint = def;
}

TObject* TDocViewRVData::DoRVFImageListNeeded(int32_t image_list_tag) {
  if (!Control->OnRVFImageListNeeded) return TRVControlData::DoRVFImageListNeeded(image_list_tag);
  TCustomImageList* list = nullptr;
  Control->OnRVFImageListNeeded(Control, image_list_tag, list);
  return list;
}

TObject* TDocViewRVData::DoRVFControlNeeded(const AnsiString& name, const TRVTag& tag) {
  if (!Control->OnRVFControlNeeded) return TRVControlData::DoRVFControlNeeded(name, tag);
  TObject* control = nullptr;
  Control->OnRVFControlNeeded(Control, name, tag, control);
  return control;
}

TGraphic* TDocViewRVData::DoRVFPictureNeeded(const AnsiString& name, const TRVTag& tag) {
  if (!Control->OnRVFPictureNeeded) return TRVControlData::DoRVFPictureNeeded(name, tag);
  TGraphic* graphic = nullptr;
  Control->OnRVFPictureNeeded(Control, name, tag, graphic);
  return graphic;
}

bool TDocViewRVData::SaveComponentToFile(const AnsiString& path, TObject* control, TRVSaveFormat format,
                                         AnsiString& out) {
  if (!Control->OnSaveComponentToFile) return TRVControlData::SaveComponentToFile(path, control, format, out);
  out.clear();
  Control->OnSaveComponentToFile(Control, path, control, format, out);
  return !out.empty();
}

void TDocViewRVData::DoReadHyperlink(const AnsiString& target, const AnsiString& extras, TRVLoadFormat doc_format,
                                     int32_t& style_no, TRVTag& item_tag, AnsiString& item_name) {
  if (!OnReadHyperlink) return;
  if (style_no == rvsPicture)
    style_no = rvsHotPicture;
  else if (style_no == rvsBullet)
    style_no = rvsHotspot;
  OnReadHyperlink(target, extras, doc_format, style_no, item_tag, item_name);
}

void TDocViewRVData::DoWriteHyperlink(int32_t id, TCustomRVData* rvdata, int32_t item_no, TRVSaveFormat format,
                                      AnsiString& target, AnsiString& extras) {
  if (!(Control->Flags & rvflRoot)) {
    TRVControlData::DoWriteHyperlink(id, rvdata, item_no, format, target, extras);
    return;
  }
  extras = RV_GetHintAttribute(format, rvdata->GetItem(item_no)->Hint);
  if (OnWriteHyperlink)
    OnWriteHyperlink(id, rvdata, item_no, format, target, extras);
  else
    DoURLNeeded(id, target);
}

}  // namespace pelvar
