// Control items: size from the control, a width in percent of the document, extra
// properties, painting, the texts the owner gives for exports and the native format.
#include <utility>

#include "platform/filer.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

namespace {
TRVControlSize* SizeOf(TObject* control) { return dynamic_cast<TRVControlSize*>(control); }

TRVControlWindowing*& Windowing() {
  static TRVControlWindowing* windowing = nullptr;
  return windowing;
}

// The windowing when the control lives in windows, else nullptr.
TRVControlWindowing* WindowingOf(TObject* control) {
  TRVControlWindowing* w = Windowing();
  return control && w && w->IsWindowed(control) ? w : nullptr;
}

}  // namespace

TRVControlWindowing* TRVControlItemInfo::Windowed() {
  TRVControlWindowing* w = WindowingOf(Control);
  if (w && watched_ != Control) {
    watched_ = Control;
    watched_alive_ = w->Watch(Control);
  }
  return w;
}

// Hidden and in the window of rvdata's viewer (none without rvdata or when detached).
void TRVControlItemInfo::HideAndParent(TCustomRVData* rvdata, bool detached) {
  if (TRVControlWindowing* w = Windowed()) {
    w->SetVisible(Control, false);
    w->SetParent(Control, detached || !rvdata ? nullptr : rvdata->GetParentControl());
  }
}

TRVControlWindowing* RVControlWindowing() { return Windowing(); }

TRVControlWindowing* RVSetControlWindowing(TRVControlWindowing* windowing) {
  return std::exchange(Windowing(), windowing);
}

TRVControlItemInfo::~TRVControlItemInfo() { TakeControl(nullptr); }

void TRVControlItemInfo::TakeControl(TObject* control) {
  TObject* old = std::exchange(Control, control);
  if (!old || old == control) return;
  // A widget whose window took it down already (its children go with a window) is gone.
  const bool gone = watched_ == old && watched_alive_ && !*watched_alive_;
  watched_ = nullptr;
  watched_alive_.reset();
  if (!gone) delete old;
}

int32_t TRVControlItemInfo::GetImageWidth(TRVStyle*) const {
  if (const TRVControlSize* c = SizeOf(Control)) return c->ControlWidth();
  int32_t w = 0, h = 0;
  if (TRVControlWindowing* win = WindowingOf(Control)) win->GetSize(Control, w, h);
  return w;
}

int32_t TRVControlItemInfo::GetImageHeight(TRVStyle*) const {
  if (const TRVControlSize* c = SizeOf(Control)) return c->ControlHeight();
  int32_t w = 0, h = 0;
  if (TRVControlWindowing* win = WindowingOf(Control)) win->GetSize(Control, w, h);
  return h;
}

void TRVControlItemInfo::AdjustInserted(int32_t x, int32_t y, bool reformat) {
  TRVControlWindowing* w = Windowed();
  if (!w) return;
  w->Place(Control, x + Spacing, y + Spacing, reformat);
  w->SetVisible(Control, Visible);
}

void TRVControlItemInfo::Inserting(TCustomRVData* rvdata, AnsiString& text, bool detached) {
  HideAndParent(rvdata, detached);
  TRVRectItemInfo::Inserting(rvdata, text, detached);
}

void TRVControlItemInfo::MovingToUndoList(int32_t item_no, TCustomRVData* rvdata) {
  if (TRVControlWindowing* w = Windowed()) w->SetParent(Control, nullptr);
  if (rvdata) rvdata->ItemControlAction(rvcaMoveToUndoList, item_no, this);
  TRVRectItemInfo::MovingToUndoList(item_no, rvdata);
}

void TRVControlItemInfo::MovingFromUndoList(int32_t item_no, TCustomRVData* rvdata) {
  if (rvdata) rvdata->ItemControlAction(rvcaMoveFromUndoList, item_no, this);
  if (TRVControlWindowing* w = Windowed()) w->SetParent(Control, rvdata ? rvdata->GetParentControl() : nullptr);
}

void TRVControlItemInfo::FocusControl() {
  if (TRVControlWindowing* w = WindowingOf(Control)) w->Focus(Control);
}

int32_t TRVControlItemInfo::GetMinWidth(const TRVScreenAndDevice* sad, TCanvas*, TCustomRVData*) {
  const int32_t w = PercentWidth != 0 ? 20 : GetImageWidth() + 2 * Spacing;
  return sad ? RV_XToDevice(w, *sad) : w;
}

void TRVControlItemInfo::AdjustToDocWidth(int32_t doc_width, TRVDrawLineInfo*, bool printing, TCanvas*,
                                          TCustomRVData*, const TRVScreenAndDevice* sad, int32_t& dx,
                                          int32_t& descent, bool, bool) {
  dx = 0;
  if (PercentWidth >= 1 && PercentWidth <= 100) {
    const int32_t w = static_cast<int32_t>(int64_t{doc_width} * PercentWidth / 100);
    if (!printing) {
      if (TRVControlSize* c = SizeOf(Control))
        c->SetControlWidth(w - 2 * Spacing);
      else if (TRVControlWindowing* win = WindowingOf(Control))
        win->SetWidth(Control, w - 2 * Spacing);
    }
    DrawWidth = w;
    const int32_t h = GetImageHeight() + 2 * Spacing;
    DrawHeight = sad ? RV_YToDevice(h, *sad) : h;
    descent = sad ? RV_YToDevice(Spacing, *sad) : Spacing;
  } else {
    descent = Spacing;
  }
}

bool TRVControlItemInfo::PrintToBitmap(TBitmap& bitmap,
                                       const std::function<std::unique_ptr<TBitmap>(TObject*)>& image_of) {
  if (!Visible || !Control || !image_of) return false;
  std::unique_ptr<TBitmap> image = image_of(Control);
  if (!image) return false;
  const int32_t w = std::max(bitmap.Width(), image->Width()), h = std::max(bitmap.Height(), image->Height());
  if (w != bitmap.Width() || h != bitmap.Height()) {
    TPixelImage grown(w, h);
    for (int32_t y = 0; y < bitmap.Height(); ++y)
      for (int32_t x = 0; x < bitmap.Width(); ++x) grown.Set(x, y, bitmap.Image.At(x, y));
    bitmap.Image = std::move(grown);
  }
  const int32_t dx = (w - image->Width()) / 2, dy = (h - image->Height()) / 2;
  for (int32_t y = 0; y < image->Height(); ++y)
    for (int32_t x = 0; x < image->Width(); ++x) bitmap.Image.Set(dx + x, dy + y, image->Image.At(x, y));
  return true;
}

bool TRVControlItemInfo::GetBoolValue(int32_t ordinal) const {
  switch (ordinal) {
    case 1: return Control != nullptr;
    case 3:
    case 7:
    case 9: return true;
    case 8: return ResizableFlag && PercentWidth == 0;
    default: return TRVRectItemInfo::GetBoolValue(ordinal);
  }
}

bool TRVControlItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const {
  switch (ordinal) {
    case 0: return true;
    case 2: {
      TRVControlWindowing* w = WindowingOf(Control);
      return w && w->CanFocus(Control);
    }
    case 4: return false;
    case 5: return PercentWidth >= 1 && PercentWidth <= 100;
    default: return TRVRectItemInfo::GetBoolValueEx(ordinal, rvstyle);
  }
}

void TRVControlItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVControlItemInfo*>(source)) {
    PercentWidth = s->PercentWidth;
    ResizableFlag = s->ResizableFlag;
    Visible = s->Visible;
  }
  if (auto* r = dynamic_cast<TRVRectItemInfo*>(source)) {
    MinHeightOnPage = r->MinHeightOnPage;
    VAlign = r->VAlign;
    VShift = r->VShift;
    VShiftAbs = r->VShiftAbs;
    Spacing = r->Spacing;
  }
  TRVRectItemInfo::Assign(source);
}

int32_t TRVControlItemInfo::GetRVFExtraPropertyCount() const {
  return TRVRectItemInfo::GetRVFExtraPropertyCount() + (VShift != 0) + VShiftAbs + (Spacing != 1) +
         (MinHeightOnPage > 0) + ResizableFlag + !Visible;
}

void TRVControlItemInfo::SaveRVFExtraProperties(TStream& stream) {
  TRVRectItemInfo::SaveRVFExtraProperties(stream);
  if (VShift != 0) RVFWriteExtraIntProperty(stream, 1, VShift);
  if (VShiftAbs) RVFWriteExtraIntProperty(stream, 2, 1);
  if (Spacing != 1) RVFWriteExtraIntProperty(stream, 9, Spacing);
  if (MinHeightOnPage > 0) RVFWriteExtraIntProperty(stream, 8, MinHeightOnPage);
  if (ResizableFlag) RVFWriteExtraIntProperty(stream, 10, 1);
  if (!Visible) RVFWriteExtraIntProperty(stream, 14, 0);
}

bool TRVControlItemInfo::SetExtraIntProperty(int32_t index, int32_t v) {
  switch (index) {
    case 1: VShift = v; return true;
    case 2: VShiftAbs = v != 0; return true;
    case 9: Spacing = v < 0 ? 0 : v; return true;
    case 8: MinHeightOnPage = v; return true;
    case 10: ResizableFlag = v != 0; return true;
    case 14:
      Visible = v != 0;
      if (TRVControlWindowing* w = WindowingOf(Control); w && w->HasParent(Control)) w->SetVisible(Control, Visible);
      return true;
    default: return TRVRectItemInfo::SetExtraIntProperty(index, v);
  }
}

bool TRVControlItemInfo::GetExtraIntProperty(int32_t index, int32_t& v) const {
  switch (index) {
    case 1: v = VShift; return true;
    case 2: v = VShiftAbs; return true;
    case 9: v = Spacing; return true;
    case 8: v = MinHeightOnPage; return true;
    case 10: v = ResizableFlag; return true;
    case 14: v = Visible; return true;
    default: return TRVRectItemInfo::GetExtraIntProperty(index, v);
  }
}

void TRVControlItemInfo::Paint(int32_t x, int32_t y, TCanvas& canvas, uint32_t state, TRVStyle* style,
                               TRVDrawLineInfo*) {
  if (!Visible || !style) return;
  const int32_t s = Spacing, w = GetImageWidth(), h = GetImageHeight();
  canvas.Brush().SetStyle(bsClear);
  canvas.Pen().Width = 1;
  canvas.Pen().Style = psSolid;
  if ((state & ipsCurrent) && style->CurrentItemColor != clNone) {
    canvas.Pen().Color = style->CurrentItemColor;
    canvas.Rectangle(x - 1, y - 1, x + w + 2 * s + 1, y + h + 2 * s + 1);
  }
  if (state & ipsSelected) {
    const TColor c = (state & ipsControlFocused) ? style->SelColor : style->InactiveSelColor;
    if (c != clNone) {
      canvas.Pen().Color = c;
      canvas.Rectangle(x, y, x + w + 2 * s, y + h + 2 * s);
    }
  }
}

// ---- Exports -------------------------------------------------------------------------------------

AnsiString TRVControlItemInfo::AsText(int32_t, TCustomRVData* rvdata, const AnsiString&, const AnsiString& path, bool,
                                      bool) {
  AnsiString out;
  if (rvdata && Control) rvdata->SaveComponentToFile(path, Control, rvsfText, out);
  return out;
}

void TRVControlItemInfo::SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&,
                                    const AnsiString& path, const AnsiString&, int32_t&, TColor, uint32_t, bool) {
  AnsiString out;
  if (rvdata && Control && rvdata->SaveComponentToFile(path, Control, rvsfHTML, out) && !out.empty())
    RV_StreamWrite(stream, out);
}

void TRVControlItemInfo::SaveRTF(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&, double, int32_t,
                                 TRVColorList&) {
  AnsiString out;
  const AnsiString path = RVCurrentRTFTables() ? RVCurrentRTFTables()->Path : AnsiString();
  if (rvdata && Control && rvdata->SaveComponentToFile(path, Control, rvsfRTF, out) && !out.empty())
    RV_StreamWrite(stream, out);
}

// ---- Native format -------------------------------------------------------------------------------

AnsiString TRVControlItemInfo::SaveRVFHeaderTail(TCustomRVData*) { return IntToStr(VAlign); }

bool TRVControlItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  while (*p == ' ') ++p;
  if (*p == 0 || *p == '\r' || *p == '\n') {
    VAlign = 0;
    return true;
  }
  int32_t v = 0;
  if (!RVFReadInteger(p, v)) return false;
  VAlign = static_cast<uint8_t>(v);
  return true;
}

void TRVControlItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t item_no, int32_t para_no,
                                 const AnsiString& name, int32_t, bool force_same_as_prev) {
  const TRVFOptions options = rvdata ? rvdata->GetRVFOptions() : TRVFOptions();
  // Only a component can be written in the component streaming.
  auto* component = dynamic_cast<TComponent*>(Control);
  const bool body = options.Contains(rvfoSaveControlsBody) && component;
  const int32_t read_mode = body ? (options.Contains(rvfoSaveBinary) ? 2 : 0) : 1;
  const bool tags_strings = rvdata && rvdata->GetOptions().Contains(rvoTagsArePChars);
  RVFWriteItemHeader(stream, StyleNo, GetRVFExtraPropertyCount() + (body ? 3 : 1),
                     RVFSaveParaNo(para_no, rvdata, force_same_as_prev),
                     RVFGetItemOptions(ItemOptions, force_same_as_prev) & 0x0F, read_mode, RVFSaveTag(tags_strings, Tag),
                     SaveRVFHeaderTail(rvdata));
  RVFWriteLine(stream, name);
  if (!body) {
    SaveRVFExtraProperties(stream);
    return;
  }
  RVFWriteLine(stream, component->ClassName());
  SaveRVFExtraProperties(stream);
  if (rvdata) rvdata->ItemControlAction(rvcaBeforeRVFSave, item_no, this);
  if (read_mode == 2)
    RVFSaveControlBinary(stream, component);
  else
    RVFWriteLine(stream, RVFSaveControl(component));
  if (rvdata) rvdata->ItemControlAction(rvcaAfterRVFSave, item_no, this);
}

bool TRVControlItemInfo::ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t& read_state,
                                     bool& next_binary, AnsiString& name, int32_t line_no, int32_t line_count,
                                     int32_t read_mode) {
  if (read_mode == 1) {
    if (line_no == 0) {
      name = s;
      if (rvdata) TakeControl(rvdata->DoRVFControlNeeded(s, Tag));
      HideAndParent(rvdata, false);
      return true;
    }
    ReadRVFExtraProperty(s);
    return true;
  }
  if (line_no == 0) {
    name = s;
    if (read_mode == 2 && line_count == 2) next_binary = true;
    return true;
  }
  if (line_no == 1 && line_count > 2) {
    // An unknown class is only known to be a problem once the body has been read.
    read_class_name_ = s;
    if (read_mode == 2 && line_no == line_count - 2) next_binary = true;
    return true;
  }
  if (line_no == line_count - 1) {
    read_state = 2;
    if (!read_class_name_.empty() && FindClassFactory(read_class_name_)) {
      std::unique_ptr<TComponent> control;
      const bool ok = read_mode == 2 ? RVFLoadControlBinary(s, control, read_class_name_)
                                     : RVFLoadControl(s, control, read_class_name_);
      if (!ok) return false;
      TakeControl(control.release());
      HideAndParent(rvdata, false);
    }
    if (Control) return true;
    if (rvdata) rvdata->SetRVFWarnings(rvdata->GetRVFWarnings() | 2);
    return rvdata && rvdata->GetRVFOptions().Contains(rvfoIgnoreUnknownCtrls);
  }
  ReadRVFExtraProperty(s);
  if (read_mode == 2 && line_no == line_count - 2) next_binary = true;
  return true;
}

}  // namespace pelvar
