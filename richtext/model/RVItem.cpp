#include "richtext/model/RVItem.h"

#include <algorithm>
#include <cstdlib>
#include <mutex>

#include "platform/checked.h"
#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVStyle_list.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

// ---- Tags -------------------------------------------------------------------------------------
TRVTag RV_CopyTag(const TRVTag& tag, bool tags_are_pchars) {
  if (tags_are_pchars) return tag.IsNil() ? TRVTag() : TRVTag::FromStr(*tag.Str);
  return TRVTag::FromInt(tag.Int);
}

bool RV_CompareTags(const TRVTag& tag1, const TRVTag& tag2, bool tags_are_pchars) {
  if (tags_are_pchars) {
    if (tag1.IsNil() || tag2.IsNil()) return tag1.IsNil() && tag2.IsNil();
    return *tag1.Str == *tag2.Str;
  }
  return tag1.Int == tag2.Int;
}

// ---- Checkpoints ---------------------------------------------------------------------------------
void TRVCPInfo::Assign(const TRVCPInfo& source, bool tags_are_pchars) {
  Name = source.Name;
  RaiseEvent = source.RaiseEvent;
  Persistent = source.Persistent;
  Tag = RV_CopyTag(source.Tag, tags_are_pchars);
}

std::unique_ptr<TRVCPInfo> TRVCPInfo::CreateCopy(bool tags_are_pchars) const {
  auto cp = std::make_unique<TRVCPInfo>();
  cp->Assign(*this, tags_are_pchars);
  return cp;
}

// ---- Styles in use ----------------------------------------------------------------------------------
int32_t TRVDeleteUnusedStylesData::Renumber(const TRVIntegerList& shift, bool converted, int32_t no) {
  if (!converted || no < 0 || no >= shift.Count()) return no;
  return no - shift.GetItem(no);
}

void InitStylesInUse(TRVDeleteUnusedStylesData& data, TRVStyle* style) {
  if (data.Initialized) return;
  auto init = [](TRVIntegerList& list, int32_t count, bool deleting) { list.InitWith(deleting ? 0 : 1, count); };
  init(data.UsedTextStyles, style->TextStyles()->Count(), data.ConvertedTextStyles);
  init(data.UsedParaStyles, style->ParaStyles()->Count(), data.ConvertedParaStyles);
  init(data.UsedListStyles, style->ListStyles()->Count(), data.ConvertedListStyles);
  if (data.ConvertedTextStyles && style->DefUnicodeStyle >= 0) {
    if (style->DefUnicodeStyle < data.UsedTextStyles.Count())
      data.UsedTextStyles.SetItem(style->DefUnicodeStyle, 1);
    else
      style->DefUnicodeStyle = -1;
  }
  if (data.ConvertedTextStyles)
    for (int32_t i = 0; i < style->TextStyles()->Count(); ++i)
      if (style->TextStyles()->Items(i)->Standard) data.UsedTextStyles.SetItem(i, 1);
  if (data.ConvertedParaStyles)
    for (int32_t i = 0; i < style->ParaStyles()->Count(); ++i)
      if (style->ParaStyles()->Items(i)->Standard) data.UsedParaStyles.SetItem(i, 1);
  if (data.ConvertedListStyles)
    for (int32_t i = 0; i < style->ListStyles()->Count(); ++i)
      if (style->ListStyles()->Items(i)->Standard) data.UsedListStyles.SetItem(i, 1);
  data.Initialized = true;
}

namespace {
void Mark(TRVIntegerList& list, int32_t no) {
  if (no >= 0 && no < list.Count()) list.SetItem(no, 1);
}
bool TagsStrings(TCustomRVData* rvdata) { return rvdata && rvdata->GetOptions().Contains(rvoTagsArePChars); }
}  // namespace

// ---- Item base ---------------------------------------------------------------------------------
TCustomRVItemInfo::TCustomRVItemInfo(TCustomRVData*) {}

TCustomRVItemInfo::~TCustomRVItemInfo() { delete Checkpoint; }

std::unique_ptr<TCustomRVItemInfo> TCustomRVItemInfo::NewInstance(TCustomRVData* rvdata) const {
  return std::make_unique<TCustomRVItemInfo>(rvdata);
}

void TCustomRVItemInfo::SetSameAsPrev(bool value) {
  ItemOptions.Set(rvioSameAsPrev, value);
  if (value) ItemOptions.Exclude(rvioPageBreakBefore).Exclude(rvioBR);
}

void TCustomRVItemInfo::SetBR(bool value) {
  if (value && GetBoolValue(0)) {
    ItemOptions.Exclude(rvioBR);
    return;
  }
  ItemOptions.Set(rvioBR, value);
  if (value) ItemOptions.Exclude(rvioSameAsPrev);
}

void TCustomRVItemInfo::SetPageBreakBefore(bool value) {
  ItemOptions.Set(rvioPageBreakBefore, value);
  if (value) ItemOptions.Exclude(rvioSameAsPrev).Exclude(rvioBR);
}

int32_t TCustomRVItemInfo::GetActualStyleNo(TRVStyle* rvstyle) const {
  if (StyleNo != rvsDefStyle) return StyleNo;
  int32_t def = rvstyle ? rvstyle->ParaStyles()->Items(ParaNo)->DefStyleNo : -1;
  return def >= 0 ? def : 0;
}

int32_t TCustomRVItemInfo::GetMinWidth(const TRVScreenAndDevice* sad, TCanvas*, TCustomRVData*) {
  return sad ? RV_XToDevice(20, *sad) : 20;
}

bool TCustomRVItemInfo::GetBoolValue(int32_t ordinal) const { return ordinal == 1 || ordinal == 2 || ordinal >= 13; }

bool TCustomRVItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle*) const { return ordinal == 0; }

void TCustomRVItemInfo::Inserting(TCustomRVData* rvdata, AnsiString& text, bool) {
  if (rvdata) rvdata->ItemAction(rviaInserting, this, text, rvdata);
}

void TCustomRVItemInfo::Inserted(TCustomRVData* rvdata, int32_t) {
  if (!rvdata) return;
  UpdateAnimator(rvdata);
  AnsiString empty;
  rvdata->ItemAction(rviaInserted, this, empty, rvdata);
}

AnsiString TCustomRVItemInfo::SaveRVFHeaderTail(TCustomRVData*) { return AnsiString(); }

int32_t TCustomRVItemInfo::GetRVFExtraPropertyCount() const { return Hint.empty() ? 0 : 1; }

void TCustomRVItemInfo::SaveRVFExtraProperties(TStream& stream) {
  if (!Hint.empty()) RVFWriteExtraStrProperty(stream, 1, Hint);
}

void TCustomRVItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TCustomRVItemInfo*>(source)) {
    StyleNo = s->StyleNo;
    ParaNo = s->ParaNo;
    ItemOptions = s->ItemOptions;
    Hint = s->Hint;
    return;
  }
  TPersistent::Assign(source);
}

bool TCustomRVItemInfo::ReadRVFLine(const AnsiString& s, TCustomRVData*, int32_t&, bool&, AnsiString&, int32_t,
                                    int32_t, int32_t) {
  ReadRVFExtraProperty(s);
  return true;
}

void TCustomRVItemInfo::MovingToUndoList(int32_t item_no, TCustomRVData* rvdata) {
  if (rvdata && item_no >= 0 && item_no < rvdata->ItemCount()) {
    AnsiString text = rvdata->GetItemTextRaw(item_no);
    rvdata->ItemAction(rviaMovingToUndoList, this, text, rvdata);
  }
  ClearWordPainters(0);
}

TCursor TCustomRVItemInfo::GetHypertextCursor(TRVStyle* rvstyle) const { return rvstyle ? rvstyle->JumpCursor : crJump; }

void TCustomRVItemInfo::MarkStylesInUse(TRVDeleteUnusedStylesData& data) { Mark(data.UsedParaStyles, ParaNo); }

void TCustomRVItemInfo::UpdateStyles(const TRVDeleteUnusedStylesData& data) { ParaNo = data.RenumberPara(ParaNo); }

bool TCustomRVItemInfo::SetExtraStrProperty(int32_t index, const AnsiString& value) {
  if (index != 1) return false;
  Hint = value;
  return true;
}

bool TCustomRVItemInfo::GetExtraStrProperty(int32_t index, AnsiString& value) const {
  if (index != 1) return false;
  value = Hint;
  return true;
}

void TCustomRVItemInfo::ReadRVFExtraProperty(const AnsiString& line) {
  auto eq = line.find('=');
  if (eq == AnsiString::npos) return;
  AnsiString name = line.substr(0, eq), value = line.substr(eq + 1);
  if (int32_t i = RVGetExtraIntPropertyIndex(name)) {
    SetExtraIntProperty(i, StrToIntDef(value, 0));
  } else if (int32_t j = RVGetExtraStrPropertyIndex(name)) {
    SetExtraStrProperty(j, value);
  } else {
    SetExtraCustomProperty(name, value);
  }
}

// ---- Word painters ------------------------------------------------------------------------------------
namespace {
int32_t EndOf(const TRVWordPainter& p) { return p.StartOffs + p.Length; }
}  // namespace

void TCustomRVItemInfo::AddMisspelling(int32_t start_offs, int32_t length) {
  if (!word_paint_list_) word_paint_list_ = std::make_unique<TRVWordPainterList>();
  word_paint_list_->push_back(std::make_unique<TRVWordMisspellPainter>(start_offs, length));
}

bool TCustomRVItemInfo::IsMisspelled(int32_t offs) const {
  if (!word_paint_list_) return false;
  for (const auto& p : *word_paint_list_)
    if (p->StartOffs <= offs && offs < EndOf(*p)) return true;
  return false;
}

bool TCustomRVItemInfo::GetMisspelling(int32_t offs, int32_t& start_offs, int32_t& length) const {
  if (!word_paint_list_) return false;
  for (auto it = word_paint_list_->rbegin(); it != word_paint_list_->rend(); ++it) {
    const auto& p = **it;
    if (p.StartOffs <= offs && offs < EndOf(p) + 1) {
      start_offs = p.StartOffs;
      length = p.Length;
      return true;
    }
  }
  return false;
}

void TCustomRVItemInfo::ClearLiveSpellingResult() {
  ItemState.Exclude(rvisSpellChecked);
  if (!word_paint_list_) return;
  std::erase_if(*word_paint_list_,
                [](const auto& p) { return dynamic_cast<TRVWordMisspellPainter*>(p.get()) != nullptr; });
  if (word_paint_list_->empty()) word_paint_list_.reset();
}

void TCustomRVItemInfo::ClearWordPainters(int32_t index) {
  ItemState.Exclude(rvisSpellChecked);
  if (!word_paint_list_) return;
  if (index > 1) {
    std::erase_if(*word_paint_list_, [index](const auto& p) { return index < EndOf(*p); });
    if (!word_paint_list_->empty()) return;
  }
  word_paint_list_.reset();
}

bool TCustomRVItemInfo::AdjustWordPaintersOnInsert(int32_t index, char16_t ch, TCustomRVData* rvdata) {
  const bool delim = rvdata && rvdata->IsDelimiterW(ch);
  const int32_t k = delim ? 0 : 1;
  bool removed = false;
  if (word_paint_list_) {
    auto& list = *word_paint_list_;
    for (size_t i = list.size(); i-- > 0;) {
      TRVWordPainter& p = *list[i];
      if (index >= EndOf(p) + k) continue;
      if (index + k > p.StartOffs) {
        list.erase(list.begin() + static_cast<ptrdiff_t>(i));
        removed = true;
      } else {
        ++p.StartOffs;
      }
    }
    if (list.empty()) word_paint_list_.reset();
  }
  return delim || removed;
}

bool TCustomRVItemInfo::AdjustWordPaintersOnDelete(int32_t index, int32_t count) {
  if (!word_paint_list_ || count <= 0) return false;
  bool removed = false;
  auto& list = *word_paint_list_;
  for (size_t i = list.size(); i-- > 0;) {
    TRVWordPainter& p = *list[i];
    if (index >= EndOf(p) + 1) continue;           // wholly before the deletion
    if (p.StartOffs > index + count) {             // after it: moves back
      p.StartOffs -= count;
    } else {                                       // touched by the deleted range
      list.erase(list.begin() + static_cast<ptrdiff_t>(i));
      removed = true;
    }
  }
  if (list.empty()) word_paint_list_.reset();
  return removed;
}

// ---- Extra properties ---------------------------------------------------------------------------------
namespace {
const char* const kIntNames[] = {"vshift",     "vshiftabs", "width",   "height",      "transparent",
                                 "tmode",      "tcolor",    "minheightonpage", "spacing", "resizable",
                                 "unremovable", "nohtmlsize", "ainterval", "visible"};
const char* const kStrNames[] = {"hint", "alt", "filename"};
}  // namespace

int32_t RVGetExtraIntPropertyIndex(const AnsiString& name) {
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(kIntNames)); ++i)
    if (name == kIntNames[i]) return i + 1;
  return 0;
}

int32_t RVGetExtraStrPropertyIndex(const AnsiString& name) {
  for (int32_t i = 0; i < static_cast<int32_t>(std::size(kStrNames)); ++i)
    if (name == kStrNames[i]) return i + 1;
  return 0;
}

AnsiString RVGetExtraIntPropertyName(int32_t index) {
  return index >= 1 && index <= static_cast<int32_t>(std::size(kIntNames)) ? kIntNames[index - 1] : "";
}

AnsiString RVGetExtraStrPropertyName(int32_t index) {
  return index >= 1 && index <= static_cast<int32_t>(std::size(kStrNames)) ? kStrNames[index - 1] : "";
}

void RVFWriteExtraIntProperty(TStream& stream, int32_t index, int32_t value) {
  RVFWriteLine(stream, Format("%s=%d", {RVGetExtraIntPropertyName(index), value}));
}

void RVFWriteExtraStrProperty(TStream& stream, int32_t index, const AnsiString& value) {
  RVFWriteLine(stream, Format("%s=%s", {RVGetExtraStrPropertyName(index), value}));
}

// ---- Text items ------------------------------------------------------------------------------------------
bool TRVTextItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const {
  switch (ordinal) {
    case 1:
    case 2:
    case 4:
      return rvstyle && rvstyle->TextStyles()->Items(GetActualStyleNo(rvstyle))->Jump;
    case 3: {
      if (!rvstyle) return false;
      int32_t s = GetActualStyleNo(rvstyle);
      return rvstyle->TextStyles()->Items(s)->Jump && rvstyle->IsStyleHoverSensitive(s);
    }
    default:
      return TCustomRVItemInfo::GetBoolValueEx(ordinal, rvstyle);
  }
}

bool TRVTextItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  if (*p != 0 && *p != '\r' && *p != '\n') {
    AnsiString hint;
    RVFReadQuotedString(p, hint);
    Hint = hint;
  }
  return true;
}

void TRVTextItemInfo::MarkStylesInUse(TRVDeleteUnusedStylesData& data) {
  TCustomRVItemInfo::MarkStylesInUse(data);
  if (StyleNo != rvsDefStyle) Mark(data.UsedTextStyles, StyleNo);
}

void TRVTextItemInfo::UpdateStyles(const TRVDeleteUnusedStylesData& data) {
  TCustomRVItemInfo::UpdateStyles(data);
  if (StyleNo != rvsDefStyle) StyleNo = data.RenumberText(StyleNo);
}

// ---- Non-text items --------------------------------------------------------------------------------------
void TRVNonTextItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVNonTextItemInfo*>(source)) Unremovable = s->Unremovable;
  TCustomRVItemInfo::Assign(source);
}

bool TRVNonTextItemInfo::SetExtraIntProperty(int32_t index, int32_t value) {
  if (index == 11) {
    Unremovable = value != 0;
    return true;
  }
  return TCustomRVItemInfo::SetExtraIntProperty(index, value);
}

bool TRVNonTextItemInfo::GetExtraIntProperty(int32_t index, int32_t& value) const {
  if (index == 11) {
    value = Unremovable ? 1 : 0;
    return true;
  }
  return TCustomRVItemInfo::GetExtraIntProperty(index, value);
}

int32_t TRVNonTextItemInfo::GetRVFExtraPropertyCount() const {
  return TCustomRVItemInfo::GetRVFExtraPropertyCount() + (Unremovable ? 1 : 0);
}

void TRVNonTextItemInfo::SaveRVFExtraProperties(TStream& stream) {
  TCustomRVItemInfo::SaveRVFExtraProperties(stream);
  if (Unremovable) RVFWriteExtraIntProperty(stream, 11, 1);
}

bool TRVFullLineItemInfo::GetBoolValue(int32_t ordinal) const {
  return ordinal == 0 ? true : TRVNonTextItemInfo::GetBoolValue(ordinal);
}

// ---- Breaks --------------------------------------------------------------------------------------------------
void TRVBreakItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVBreakItemInfo*>(source)) {
    LineWidth = s->LineWidth;
    Style = s->Style;
    Color = s->Color;
  }
  TRVFullLineItemInfo::Assign(source);
}

bool TRVBreakItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const {
  return ordinal == 0 ? false : TRVFullLineItemInfo::GetBoolValueEx(ordinal, rvstyle);
}

namespace {
// A 3-D frame of width lines: top and left in one colour, bottom and right in the other.
void Frame3D(TCanvas& canvas, TRect r, TColor top_left, int32_t width, TColor bottom_right) {
  if (width <= 0) width = 1;
  const bool tall = r.Bottom - r.Top >= width;
  for (int32_t i = 0; i < width; ++i) {
    canvas.Pen().Color = top_left;
    canvas.Polyline({{r.Left, r.Bottom}, {r.Left, r.Top}, {r.Right, r.Top}});
    if (tall) {
      canvas.Pen().Color = bottom_right;
      canvas.Polyline({{r.Right, r.Top}, {r.Right, r.Bottom}, {r.Left, r.Bottom}});
      r = TRect{r.Left + 1, r.Top + 1, r.Right - 1, r.Bottom - 1};
    } else {
      r = TRect{r.Left, r.Top + 1, r.Right, r.Bottom - 1};
    }
  }
}
}  // namespace

void TRVBreakItemInfo::DrawFigure(TCanvas& canvas, int32_t x1, int32_t x2, int32_t y, int32_t w, TColor color,
                                  int32_t frame_width, TColor top_left, TColor bottom_right, int32_t pen_width1) {
  canvas.Pen().Color = color;
  canvas.Pen().Style = psInsideFrame;
  const int32_t y0 = y - w / 2;
  switch (Style) {
    case 1:
      canvas.Pen().Width = pen_width1;
      canvas.Brush().SetStyle(bsClear);
      canvas.Rectangle(x1, y0, x2, y0 + w);
      break;
    case 2:
      canvas.Pen().Width = 1;
      Frame3D(canvas, TRect{x1, y0, x2 - 1, y0 + w - 1}, top_left, frame_width, bottom_right);
      break;
    case 3:
      canvas.Brush().SetColor(color);
      canvas.Brush().SetStyle(bsSolid);
      canvas.Pen().Style = psClear;
      if (w > 0)
        for (int32_t x = x1; x + w < x2; x += 2 * w) {
          if (w > 2)
            canvas.Ellipse(x, y0, x + w + 1, y0 + w + 1);
          else
            canvas.FillRect(TRect{x, y0, x + w, y0 + w});
        }
      break;
    case 4:
      canvas.Brush().SetColor(color);
      canvas.Brush().SetStyle(bsSolid);
      canvas.Pen().Style = psClear;
      if (w > 0)
        for (int32_t x = x1; x < x2; x += 3 * w) canvas.FillRect(TRect{x, y0, std::min(x + 2 * w, x2), y0 + w});
      break;
    default:
      canvas.Pen().Width = w;
      canvas.MoveTo(x1, y);
      canvas.LineTo(x2, y);
      break;
  }
  canvas.Pen().Style = psSolid;
  canvas.Pen().Width = 1;
  canvas.Brush().SetStyle(bsClear);
}

void TRVBreakItemInfo::PaintFullWidth(int32_t left, int32_t right, int32_t top, TCanvas& canvas, uint32_t state,
                                      TRVStyle* style, const TRect&) {
  const int32_t x1 = left + 5, x2 = right - 5, y = top + 5, w = LineWidth;
  TColor color = Color == clNone && style ? style->TextStyles()->Items(0)->Color : Color;
  DrawFigure(canvas, x1, x2, y, w, color, 1, clBtnShadow, clBtnFace, 1);
  if ((state & ipsSelected) && style) {
    TColor sel = (state & ipsControlFocused) ? style->SelColor : style->InactiveSelColor;
    if (sel != clNone) {
      canvas.Pen().Color = sel;
      canvas.Rectangle(x1, y - w / 2 - 1, x2, y - w / 2 + w + 1);
    }
  }
}

void TRVBreakItemInfo::Print(TCanvas& canvas, int32_t left, int32_t right, int32_t top, const TRVScreenAndDevice& sad,
                             TRVStyle* style, int32_t color_mode) {
  canvas.Pen().Mode = pmCopy;
  const int32_t x1 = left + RV_XToDevice(5, sad), x2 = right - RV_XToDevice(5, sad);
  const int32_t y = top + RV_YToDevice(5, sad), w = RV_YToDevice(LineWidth, sad);
  const int32_t one = static_cast<int32_t>(RoundHalfEven(static_cast<long double>(sad.ppiyDevice) / sad.ppiyScreen));
  TColor color = Color == clNone && style ? style->TextStyles()->Items(0)->Color : Color;
  DrawFigure(canvas, x1, x2, y, w, RV_ColorForPrintMode(color, color_mode), one,
             RV_ColorForPrintMode(clBtnShadow, color_mode), RV_ColorForPrintMode(clBtnFace, color_mode), one);
}

AnsiString TRVBreakItemInfo::SaveRVFHeaderTail(TCustomRVData*) {
  return Format("%d %d %d", {Color, static_cast<int32_t>(Style), static_cast<int32_t>(LineWidth)});
}

bool TRVBreakItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  if (*p == 0 || *p == '\r' || *p == '\n') {
    Color = clNone;
    Style = 0;
    LineWidth = 1;
    return true;
  }
  int32_t c = 0, s = 0, w = 0;
  if (!RVFReadInteger(p, c) || !RVFReadInteger(p, s) || !RVFReadInteger(p, w)) return false;
  Color = c;
  Style = static_cast<uint8_t>(s);
  LineWidth = static_cast<uint8_t>(w);
  return true;
}

void TRVBreakItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no, const AnsiString&,
                               int32_t, bool) {
  RVFWriteItemHeader(stream, StyleNo, GetRVFExtraPropertyCount(), RVFSaveParaNo(para_no, rvdata, false),
                     ItemOptions.ToBits() & 0x0F, 0, RVFSaveTag(TagsStrings(rvdata), Tag), SaveRVFHeaderTail(rvdata));
  SaveRVFExtraProperties(stream);
}

AnsiString TRVBreakItemInfo::AsText(int32_t line_width, TCustomRVData*, const AnsiString&, const AnsiString&, bool,
                                    bool) {
  return AnsiString(static_cast<size_t>(std::max(line_width, 1)), LineWidth < 2 ? '-' : '=');
}

void TRVBreakItemInfo::FillRTFTables(TRVColorList& color_list, TCustomRVData*) { color_list.AddUnique(Color); }

void TRVBreakItemInfo::SaveRTF(TStream& stream, TCustomRVData*, int32_t, const AnsiString&, double twips_per_pixel,
                               int32_t level, TRVColorList& color_list) {
  AnsiString lvl = level == 0 ? AnsiString() : level == 1 ? AnsiString("\\intbl\\itap1") : Format("\\itap%d", {level});
  int32_t color_index = Color == clNone ? 0 : color_list.IndexOf(reinterpret_cast<void*>(static_cast<intptr_t>(Color)));
  if (color_index < 0) color_index = 0;
  int32_t width = static_cast<int32_t>(RoundHalfEven(static_cast<long double>(LineWidth) * twips_per_pixel));
  RVFWrite(stream, Format("\\pard%s\\plain\\fs6\\brdrb\\brdrs\\brdrw%d\\brdrcf%d\\par\\pard%s",
                          {lvl, width, color_index, lvl}));
}

void TRVBreakItemInfo::SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&,
                                  const AnsiString&, const AnsiString&, int32_t&, TColor, uint32_t save_options,
                                  bool use_css) {
  AnsiString title;
  if (!Hint.empty()) {
    title = RV_GetHintAttribute(1, Hint) + " ";
    if (save_options & rvsoUTF8) title = RVU_AnsiToUTF8(rvdata ? rvdata->GetDefaultCodePage() : 0, title);
  }
  AnsiString css;
  if ((save_options & 0x80) || use_css) {
    if (Color != clNone) css = "color : " + RV_GetHTMLColor(Color, false);
    if (Style == 3) RV_AddStrEx(css, "border-style: dotted", "; ");
    if (Style == 4) RV_AddStrEx(css, "border-style: dashed", "; ");
  }
  AnsiString noshade = (save_options & rvsoXHTML) ? "noshade=\"noshade\"" : "noshade";
  AnsiString size = RV_HTMLIntAttrValue(LineWidth, save_options);
  AnsiString end = RV_HTMLEmptyTagEnd(save_options);
  AnsiString out;
  if (!css.empty())
    out = "<hr " + noshade + " size=" + size + " " + title + "style=\"" + css + "\"" + end + ">";
  else if (Color == clNone)
    out = "<hr " + noshade + " " + title + "size=" + size + end + ">";
  else
    out = "<hr " + noshade + " size=" + size + " " + title + "color=" + RV_GetHTMLColor(Color, true) + end + ">";
  RVFWrite(stream, out);
}

// ---- Tabs -----------------------------------------------------------------------------------------------------
int32_t TRVTabItemInfo::GetActualTextStyleNo(TRVStyle* rvstyle) const {
  if (TextStyleNo != rvsDefStyle) return TextStyleNo;
  int32_t def = rvstyle ? rvstyle->ParaStyles()->Items(ParaNo)->DefStyleNo : -1;
  return def >= 0 ? def : 0;
}

void TRVTabItemInfo::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TRVTabItemInfo*>(source)) {
    TextStyleNo = s->TextStyleNo;
    Leader = s->Leader;
  }
  TRVRectItemInfo::Assign(source);
}

bool TRVTabItemInfo::GetBoolValue(int32_t ordinal) const {
  return ordinal == 4 || ordinal == 6 || ordinal == 13 || TRVRectItemInfo::GetBoolValue(ordinal);
}

bool TRVTabItemInfo::GetBoolValueEx(int32_t ordinal, TRVStyle* rvstyle) const {
  if (ordinal == 0) return false;
  if (ordinal == 5) return true;
  return TRVRectItemInfo::GetBoolValueEx(ordinal, rvstyle);
}

void TRVTabItemInfo::MarkStylesInUse(TRVDeleteUnusedStylesData& data) {
  TRVRectItemInfo::MarkStylesInUse(data);
  if (TextStyleNo != rvsDefStyle) Mark(data.UsedTextStyles, TextStyleNo);
}

void TRVTabItemInfo::UpdateStyles(const TRVDeleteUnusedStylesData& data) {
  TRVRectItemInfo::UpdateStyles(data);
  if (TextStyleNo != rvsDefStyle) TextStyleNo = data.RenumberText(TextStyleNo);
}

void TRVTabItemInfo::Paint(int32_t x, int32_t y, int32_t width, int32_t height, TCanvas& canvas, uint32_t state,
                           TRVStyle* style, bool printing, int32_t color_mode) {
  if (!style) return;
  const int32_t s = GetActualTextStyleNo(style);
  TRVTextDrawStates ds;
  if (state & ipsSelected) ds.Include(rvtsSelected);
  if (state & ipsHover) ds.Include(rvtsHover);
  if (state & ipsControlFocused) ds.Include(rvtsControlFocused);
  style->ApplyStyleColor(canvas, s, ds, printing, color_mode);
  style->ApplyStyle(canvas, s, rvbdUnspecified, (state & ipsControlFlag) != 0);
  if (canvas.Brush().Style() != bsClear && canvas.Brush().Color() != clNone)
    canvas.FillRect(TRect{x, y, x + width, y + height});
  if (canvas.Font().Style().Contains(fsUnderline)) {
    TOutlineTextMetric otm;
    if (canvas.GetOutlineTextMetrics(otm)) {
      canvas.Pen().Color = canvas.Font().Color();
      canvas.Pen().Width = otm.otmsUnderscoreSize;
      canvas.Pen().Style = psInsideFrame;
      int32_t yu = y + otm.otmTextMetrics.tmAscent - otm.otmsUnderscorePosition + otm.otmsUnderscoreSize / 2;
      canvas.MoveTo(x - 1, yu);
      canvas.LineTo(x + width + 1, yu);
      canvas.Pen().Style = psSolid;
    }
  }
  if ((state & ipsSpecialCharacters) && !printing) {
    canvas.Pen().Color = canvas.Font().Color();
    canvas.Pen().Width = 1;
    canvas.Pen().Style = psSolid;
    const int32_t l = x, r = x + width, t = y, b = y + height;
    const int32_t c = std::clamp(r - l, 5, 10);
    const int32_t tip = (l + r + c) / 2, yy = (t + b) / 2;
    canvas.MoveTo(tip - c, yy);
    canvas.LineTo(tip + 1, yy);
    auto stroke = [&](int32_t xs, int32_t half) {
      canvas.MoveTo(xs, yy - half);
      canvas.LineTo(xs, yy + half + 1);
    };
    if (state & ipsRightToLeft) {
      stroke(tip - c + 1, 1);
      stroke(tip - c + 2, 2);
      stroke(tip - c + 3, 2);
    } else {
      stroke(tip - 1, 1);
      stroke(tip - 2, 2);
      stroke(tip - 3, 2);
    }
  }
  if (!Leader.empty()) {
    style->ApplyStyle(canvas, s, rvbdUnspecified, (state & ipsControlFlag) != 0);
    const int32_t lw = canvas.TextWidth(Leader);
    if (lw > 0) {
      canvas.Brush().SetStyle(bsClear);
      for (int32_t xl = x + lw; xl + lw <= x + width - lw; xl += lw) canvas.TextOut(xl, y, Leader);
    }
  }
}

AnsiString TRVTabItemInfo::SaveRVFHeaderTail(TCustomRVData*) { return IntToStr(TextStyleNo); }

bool TRVTabItemInfo::ReadRVFHeaderTail(const char*& p, TCustomRVData*) {
  if (*p == 0 || *p == '\r' || *p == '\n') return true;
  int32_t v = 0;
  if (!RVFReadInteger(p, v)) return false;
  TextStyleNo = v;
  return true;
}

void TRVTabItemInfo::SaveRVF(TStream& stream, TCustomRVData* rvdata, int32_t, int32_t para_no, const AnsiString&,
                             int32_t, bool) {
  // The leader and the hint are kept as extra property lines after the header.
  int32_t count = GetRVFExtraPropertyCount() + (Leader.empty() ? 0 : 1);
  RVFWriteItemHeader(stream, StyleNo, count, RVFSaveParaNo(para_no, rvdata, false), ItemOptions.ToBits() & 0x0F, 0,
                     RVFSaveTag(TagsStrings(rvdata), Tag), SaveRVFHeaderTail(rvdata));
  SaveRVFExtraProperties(stream);
  if (!Leader.empty()) RVFWriteLine(stream, "leader=" + RVFEncodeLineBreaks(Leader));
}

bool TRVTabItemInfo::SetExtraCustomProperty(const AnsiString& name, const AnsiString& value) {
  if (name != "leader") return TRVRectItemInfo::SetExtraCustomProperty(name, value);
  Leader = RVFDecodeLineBreaks(value);
  return true;
}

void TRVTabItemInfo::SaveRTF(TStream& stream, TCustomRVData*, int32_t, const AnsiString&, double, int32_t,
                             TRVColorList&) {
  RVFWrite(stream, "\\tab ");
}

void TRVTabItemInfo::SaveToHTML(TStream& stream, TCustomRVData* rvdata, int32_t, const AnsiString&, const AnsiString&,
                                const AnsiString&, int32_t&, TColor, uint32_t, bool) {
  TRVStyle* style = rvdata ? rvdata->GetRVStyle() : nullptr;
  int32_t n = style ? style->SpacesInTab : 0;
  if (n < 1) n = 8;
  AnsiString piece = Leader.empty() ? AnsiString(" &nbsp;") : RV_MakeHTMLStr(Leader, false);
  int32_t len = Leader.empty() ? 2 : static_cast<int32_t>(Leader.size());
  AnsiString out;
  for (int32_t i = 0; i < (n + len - 1) / len; ++i) out += piece;
  RVFWrite(stream, out);
}

AnsiString TRVTabItemInfo::AsText(int32_t, TCustomRVData*, const AnsiString&, const AnsiString&, bool, bool) {
  return AnsiString(1, '\t');
}

// ---- Registry ---------------------------------------------------------------------------------------------------
TCustomRVItemInfoClass RVTextItemFactory = [](TCustomRVData* d) -> TCustomRVItemInfo* {
  return new TRVTextItemInfo(d);
};

namespace {
struct TDocViewItemTypeInfo {
  int32_t StyleNo;
  AnsiString ClassId;
  TCustomRVItemInfoClass ItemClass;
};
std::mutex& RegistryLock() {
  static std::mutex m;
  return m;
}
std::vector<TDocViewItemTypeInfo>& Registry() {
  static std::vector<TDocViewItemTypeInfo> r;
  return r;
}
}  // namespace

void RegisterRVItemClass(int32_t style_no, const AnsiString& class_id, TCustomRVItemInfoClass factory) {
  std::lock_guard<std::mutex> g(RegistryLock());
  if (style_no >= -9) throw EDocViewError("Can't register DocView item type - this StyleNo is already registered");
  for (const auto& e : Registry())
    if (e.StyleNo == style_no) {
      if (e.ClassId == class_id) return;
      throw EDocViewError("Can't register DocView item type - this StyleNo is already registered");
    }
  Registry().push_back({style_no, class_id, std::move(factory)});
}

std::unique_ptr<TCustomRVItemInfo> CreateRVItem(int32_t style_no, TCustomRVData* rvdata) {
  std::unique_ptr<TCustomRVItemInfo> item;
  if (style_no >= 0) {
    item.reset(RVTextItemFactory(rvdata));
  } else {
    switch (style_no) {
      case rvsBreak: item = std::make_unique<TRVBreakItemInfo>(rvdata); break;
      case rvsPicture: item = std::make_unique<TRVGraphicItemInfo>(rvdata); break;
      case rvsHotspot: item = std::make_unique<TRVHotspotItemInfo>(rvdata); break;
      case rvsComponent: item = std::make_unique<TRVControlItemInfo>(rvdata); break;
      case rvsBullet: item = std::make_unique<TRVBulletItemInfo>(rvdata); break;
      case rvsHotPicture: item = std::make_unique<TRVHotGraphicItemInfo>(rvdata); break;
      case rvsListMarker: item = std::make_unique<TRVMarkerItemInfo>(rvdata); break;
      case rvsTab: item = std::make_unique<TRVTabItemInfo>(rvdata); break;
      default: {
        TCustomRVItemInfoClass factory;
        {
          std::lock_guard<std::mutex> g(RegistryLock());
          for (const auto& e : Registry())
            if (e.StyleNo == style_no) {
              factory = e.ItemClass;
              break;
            }
        }
        if (!factory) return nullptr;
        item.reset(factory(rvdata));
      }
    }
  }
  item->StyleNo = style_no;
  return item;
}

std::unique_ptr<TCustomRVItemInfo> CreateRVItemCopy(const TCustomRVItemInfo* source, TCustomRVData* rvdata,
                                                    bool copy_checkpoint) {
  std::unique_ptr<TCustomRVItemInfo> item = source->NewInstance(rvdata);
  item->StyleNo = source->StyleNo;
  item->Assign(const_cast<TCustomRVItemInfo*>(source));
  const bool pchars = TagsStrings(rvdata);
  if (copy_checkpoint && source->Checkpoint) item->Checkpoint = source->Checkpoint->CreateCopy(pchars).release();
  item->Tag = RV_CopyTag(source->Tag, pchars);
  return item;
}

}  // namespace pelvar
