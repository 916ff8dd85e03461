// The caret of the editable document: the stops of the current screen line, the caret as an
// item position, the current styles that follow it, the selection that falls back to it, the
// caret through reformatting, and the movement keys.
#include <algorithm>
#include <climits>

#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

namespace {
constexpr int32_t kMaxCaretHeight = 1000;
constexpr int32_t kNoStop = 100000;

bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsCombining(char16_t c) { return (c >= 0x0300 && c <= 0x036F) || (c >= 0x20D0 && c <= 0x20FF); }
}  // namespace

// ---- Caret position ----------------------------------------------------------------------------

int32_t TRVEditRVData::CurItemNo() {
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) return i;
  if (NotFormatted()) return caret_item_;
  if (CaretOffs < 0 || CaretOffs >= static_cast<int32_t>(CharPositions.size())) return -1;
  return DrawLines[CaretStop().DItemNo]->ItemNo;
}

int32_t TRVEditRVData::OffsetInCurItem() {
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) return 1;
  if (NotFormatted()) return caret_offset_;
  if (CaretOffs < 0 || CaretOffs >= static_cast<int32_t>(CharPositions.size())) return -1;
  const TRVCharPos& p = CaretStop();
  TRVDrawLineInfo* d = DrawLines[p.DItemNo];
  if (GetItem(d->ItemNo)->StyleNo < 0) return p.DOffs;
  return d->Offs + p.DOffs - 1;
}

int32_t TRVEditRVData::CurEffectiveTextStyle() { return GetActualStyle2(CurTextStyleNo, CurParaStyleNo); }

bool TRVEditRVData::IsUnicodeStyle(int32_t style_no) {
  TRVStyle* style = GetRVStyle();
  return style && style_no >= 0 && style_no < style->TextStyles()->Count() &&
         style->TextStyles()->Items(style_no)->Unicode;
}

bool TRVEditRVData::MoveToDrawItemPos(int32_t d_item_no, int32_t d_offs) {
  if (d_item_no < 0 || d_item_no >= DrawLines.Count()) return false;
  CaretDrawItemNo = d_item_no;
  SkipMarkerDrawItem(true, d_offs);
  BuildCaretLine(d_offs - 2);
  return true;
}

void TRVEditRVData::SetCaretAt(int32_t item_no, int32_t offset) {
  caret_item_ = item_no;
  caret_offset_ = offset;
  if (NotFormatted()) return;
  if (item_no < 0 || item_no >= ItemCount()) item_no = 0, offset = GetOffsBeforeItem(0);
  SkipMarkerItem(item_no, offset, true);
  int32_t d = -1, d_offs = 0;
  ItemPosToDrawItemPos(item_no, offset, d, d_offs);
  if (MoveToDrawItemPos(d, d_offs)) ChangeCaret(false, false, false);
}

void TRVEditRVData::PlaceCaret(int32_t item_no, int32_t offs, bool apply_para_style) {
  if (NotFormatted()) {
    caret_item_ = item_no;
    caret_offset_ = offs;
    return;
  }
  item_no = std::clamp(item_no, 0, ItemCount() - 1);
  SkipMarkerItem(item_no, offs, true);
  int32_t d = -1, d_offs = 0;
  ItemPosToDrawItemPos(item_no, offs, d, d_offs);
  if (!MoveToDrawItemPos(d, d_offs)) return;
  ChangeCaret(true, false, true);
  if (apply_para_style) ApplyParaStyle(CurParaStyleNo, 0);
}

void TRVEditRVData::SkipMarkerItem(int32_t& item_no, int32_t& offs, bool forward) {
  if (item_no < 0 || item_no >= ItemCount() || GetItem(item_no)->StyleNo != rvsListMarker) return;
  if (item_no > 0 && !forward && offs != 1) {
    --item_no;
    offs = GetOffsAfterItem(item_no);
  } else if (item_no + 1 < ItemCount()) {
    ++item_no;
    offs = GetOffsBeforeItem(item_no);
  }
}

void TRVEditRVData::SkipMarkerDrawItem(bool forward, int32_t& d_offs) {
  if (CaretDrawItemNo < 0 || GetItem(DrawLines[CaretDrawItemNo]->ItemNo)->StyleNo != rvsListMarker) return;
  if ((forward || CaretDrawItemNo == 0) && CaretDrawItemNo + 1 < DrawLines.Count()) {
    ++CaretDrawItemNo;
    d_offs = GetOffsBeforeDrawItem(CaretDrawItemNo);
  } else if (CaretDrawItemNo > 0) {
    --CaretDrawItemNo;
    d_offs = GetOffsAfterDrawItem(CaretDrawItemNo);
  }
}

// ---- Caret stops -------------------------------------------------------------------------------

void TRVEditRVData::BuildCaretLine(int32_t caret_index) {
  CharPositions.clear();
  if (CaretDrawItemNo < 0 || CaretDrawItemNo >= DrawLines.Count()) {
    CaretDrawItemNo = -1;
    CaretOffs = -1;
    return;
  }
  CaretOffs = kNoStop;
  int32_t first, last;
  GetScreenLineBounds(CaretDrawItemNo, first, last);
  if (GetItem(DrawLines[first]->ItemNo)->StyleNo == rvsListMarker && first < last) {
    // The marker of a list item gets no stop; a caret on it goes to the text behind it.
    if (CaretDrawItemNo == first) {
      CaretDrawItemNo = first + 1;
      caret_index = GetOffsBeforeDrawItem(first + 1) - 2;
    }
    ++first;
  }
  TCanvas* canvas = GetCanvas();
  TRVStyle* style = GetRVStyle();
  for (int32_t dn = first; dn <= last; ++dn) {
    TRVDrawLineInfo* d = DrawLines[dn];
    TCustomRVItemInfo* item = GetItem(d->ItemNo);
    const bool text = item->StyleNo >= 0;
    const bool empty = text && d->Length == 0;
    const bool rtl_para = GetParaBiDiMode(item->ParaNo) == rvbdRightToLeft;
    int32_t fit = 0;
    if (dn == first && !empty) {
      TRVCharPos p;
      p.DItemNo = dn;
      p.DOffs = text ? 1 : 0;
      p.Left = d->Left;
      p.CaretShift = 1;
      if (!text && rtl_para) {
        p.Left = d->Left + d->Width;
        p.CaretShift = 2;
      }
      CharPositions.push_back(p);
      if (CaretDrawItemNo == dn && caret_index <= p.DOffs - 2) CaretOffs = static_cast<int32_t>(CharPositions.size()) - 1;
    }
    if (text && !empty && canvas && style) {
      style->ApplyStyle(*canvas, GetActualStyle(item), GetParaBiDiMode(item->ParaNo), (GetFlags() & rvflCustomPPI) != 0);
      const AnsiString piece = DrawLines.GetSubString(dn, this);
      const uint8_t opts = GetItemOptions(d->ItemNo);
      std::vector<int32_t> ext;
      RVU_GetTextExtentExPoint(*canvas, piece, INT32_MAX / 2, fit, &ext, opts);
      if (item->ItemOptions.Contains(rvioUnicodeText)) {
        // One stop after each character cluster: never inside a surrogate pair or in front
        // of a combining mark.
        const WideString w = RVU_RawUnicodeToWideString(piece);
        const int32_t len = static_cast<int32_t>(w.size());
        int32_t pos = 0;
        const size_t first_stop = CharPositions.size();
        while (pos < len) {
          int32_t j = pos + 1;
          if (IsHighSurrogate(w[static_cast<size_t>(pos)]) && j < len && IsLowSurrogate(w[static_cast<size_t>(j)])) ++j;
          while (j < len && IsCombining(w[static_cast<size_t>(j)])) ++j;
          if (CaretDrawItemNo == dn && caret_index >= pos && caret_index < j - 1)
            CaretOffs = static_cast<int32_t>(CharPositions.size()) - 1;  // the stop before the cluster
          TRVCharPos p;
          p.DItemNo = dn;
          p.DOffs = j + 1;
          p.Left = d->Left + d->SpaceBefore + (j - 1 < static_cast<int32_t>(ext.size()) ? ext[static_cast<size_t>(j - 1)] : 0);
          p.CaretShift = 1;
          CharPositions.push_back(p);
          if (CaretDrawItemNo == dn && caret_index == j - 1) CaretOffs = static_cast<int32_t>(CharPositions.size()) - 1;
          pos = j;
        }
        // The last cluster's stop is the end stop below.
        if (CharPositions.size() > first_stop) {
          if (CaretOffs == static_cast<int32_t>(CharPositions.size()) - 1) CaretOffs = kNoStop;
          CharPositions.pop_back();
        }
        fit = len;
      } else {
        for (int32_t i = 0; i <= fit - 2; ++i) {
          TRVCharPos p;
          p.DItemNo = dn;
          p.DOffs = i + 2;
          p.Left = d->Left + d->SpaceBefore + ext[static_cast<size_t>(i)];
          p.CaretShift = 1;
          CharPositions.push_back(p);
          if (CaretDrawItemNo == dn && i == caret_index) CaretOffs = static_cast<int32_t>(CharPositions.size()) - 1;
        }
      }
    }
    TRVCharPos p;
    p.DItemNo = dn;
    p.DOffs = GetOffsAfterDrawItem(dn);
    p.Left = d->Left + d->Width;
    p.CaretShift = text ? 1 : 2;
    if (!text && rtl_para) {
      p.Left = d->Left;
      p.CaretShift = 1;
    }
    CharPositions.push_back(p);
    const int32_t end_index = static_cast<int32_t>(CharPositions.size()) - 1;
    if (CaretDrawItemNo == dn && caret_index > fit - 2 && CaretOffs == kNoStop) CaretOffs = end_index;
    if (CaretDrawItemNo == dn + 1 && dn + 1 <= last && caret_index <= GetOffsBeforeDrawItem(dn + 1) - 2)
      CaretOffs = end_index;
  }
  if (CaretOffs >= 0 && CaretOffs < static_cast<int32_t>(CharPositions.size()))
    CaretDrawItemNo = CaretStop().DItemNo;
}

void TRVEditRVData::ChangeCaret(bool scroll_to_caret, bool keep_styles, bool /*update_first*/, bool /*force*/) {
  if (State & rvstFormatting) return;
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) {
      CaretHeight = 0;
      DoCaretMove();
      return;
    }
  int32_t h = 0, top = 0, x = 0;
  if (CaretDrawItemNo != -1) {
    if (CaretOffs < 0 || CaretOffs >= static_cast<int32_t>(CharPositions.size())) {
      CaretDrawItemNo = 0;
      int32_t d_offs = GetOffsBeforeDrawItem(0);
      SkipMarkerDrawItem(true, d_offs);
      BuildCaretLine(d_offs - 2);
      throw EDocViewError("Invalid caret position. Please contact the developer, if you can reproduce this problem");
    }
    const TRVCharPos& p = CaretStop();
    CaretDrawItemNo = p.DItemNo;
    TRVDrawLineInfo* d = DrawLines[CaretDrawItemNo];
    h = std::min(d->Height + 2, kMaxCaretHeight);
    x = p.Left + p.CaretShift - 1;
    top = d->Top - 1;
  }
  CaretHeight = h;
  if (CaretDrawItemNo >= 0) {
    TCustomRVItemInfo* item = GetItem(DrawLines[CaretDrawItemNo]->ItemNo);
    if (!keep_styles) {
      SetCurParaStyleNo(item->ParaNo);
      int32_t ref = -1;
      if (item->StyleNo >= 0)
        ref = GetActualStyle(item);
      else if (item->GetAssociatedTextStyleNo() >= 0)
        ref = item->GetAssociatedTextStyleNo();
      TRVStyle* style = GetRVStyle();
      if (ref >= 0 && style && ref < style->TextStyles()->Count()) {
        auto no_switch = [&](int32_t s) {
          return s >= 0 && s < style->TextStyles()->Count() &&
                 style->TextStyles()->Items(s)->Protection.Contains(rvprDoNotAutoSwitch);
        };
        if (no_switch(ref)) {
          if (!no_switch(LastAutoTextStyleNo)) SetCurTextStyleNo(LastAutoTextStyleNo);
        } else {
          SetCurTextStyleNo(ref);
          LastAutoTextStyleNo = ref;
        }
      }
    }
  }
  if (scroll_to_caret && h != 0 && CaptureMouseItem == nullptr) {
    // The caret's rectangle comes into view.
    const int32_t voffs = GetVOffs(), area = GetAreaHeight();
    if (area > 0) {
      if (top < voffs)
        ScrollTo(std::max(top, 0), true);
      else if (top + h > voffs + area)
        ScrollTo(top + h - area, true);
    }
    (void)x;
  }
  DoCaretMove();
}

void TRVEditRVData::GetCaretClientPos(int32_t& x, int32_t& y) {
  x = y = 0;
  if (CaretOffs < 0 || CaretOffs >= static_cast<int32_t>(CharPositions.size())) return;
  const TRVCharPos& p = CaretStop();
  x = p.Left + p.CaretShift - 1 - GetHOffs();
  y = DrawLines[p.DItemNo]->Top - 1 - GetVOffs();
}

void TRVEditRVData::EnsureNotEmpty() {
  if (ItemCount() > 0 || !GetRVStyle()) return;
  auto* item = new TRVTextItemInfo(this);
  item->StyleNo = CurTextStyleNo;
  item->ParaNo = CurParaStyleNo;
  if (IsUnicodeStyle(GetActualStyle(item))) item->ItemOptions.Include(rvioUnicodeText);
  AddItemAsIs(AnsiString(), item);
}

bool TRVEditRVData::CaretAtLineStart() {
  if (CaretOffs != 0 || CharPositions.empty()) return false;
  const TRVCharPos& p = CaretStop();
  const int32_t item_no = DrawLines[p.DItemNo]->ItemNo;
  if (p.DOffs > GetOffsBeforeDrawItem(p.DItemNo) && !(GetItem(item_no)->StyleNo >= 0 && DrawLines[p.DItemNo]->Length == 0))
    return false;
  if (DrawLines[p.DItemNo]->Offs > 1 && GetItem(item_no)->StyleNo >= 0) return false;
  TCustomRVItemInfo* item = GetItem(item_no);
  return !item->GetSameAsPrev() || (item_no > 0 && GetItem(item_no - 1)->StyleNo == rvsListMarker);
}

bool TRVEditRVData::CaretAtLineEnd() {
  if (!CaretOnLastStop() || CharPositions.empty()) return false;
  const TRVCharPos& p = CaretStop();
  const int32_t item_no = DrawLines[p.DItemNo]->ItemNo;
  if (item_no + 1 < ItemCount() && GetItem(item_no + 1)->GetSameAsPrev()) return false;
  return OffsetInCurItem() >= GetOffsAfterItem(item_no);
}

bool TRVEditRVData::CaretOnLastLine() {
  return !CharPositions.empty() && CharPositions.back().DItemNo == DrawLines.Count() - 1;
}

// ---- Selection ---------------------------------------------------------------------------------

void TRVEditRVData::GetSelBoundsEx(int32_t& start_item_no, int32_t& start_offs, int32_t& end_item_no,
                                   int32_t& end_offs, bool normalize) {
  if (FSelStartNo >= 0 && FSelEndNo >= 0) {
    GetSelBounds(start_item_no, end_item_no, start_offs, end_offs, normalize);
    return;
  }
  start_item_no = end_item_no = CurItemNo();
  start_offs = end_offs = OffsetInCurItem();
}

void TRVEditRVData::SelectItemRange(int32_t item_no, int32_t offs, int32_t length, bool reverse) {
  Deselect(nullptr, false);
  TDocViewRVData::SelectItemRange(item_no, offs, length, reverse);
}

void TRVEditRVData::GetSearchStart(bool down, bool from_doc_start, int32_t& item_no, int32_t& offs) {
  if (from_doc_start) {
    if (down) {
      item_no = 0;
      offs = ItemCount() > 0 ? GetOffsBeforeItem(0) : 0;
    } else {
      item_no = ItemCount() - 1;
      offs = item_no >= 0 ? GetOffsAfterItem(item_no) + 1 : 0;
    }
    return;
  }
  item_no = CurItemNo();
  offs = OffsetInCurItem();
  if (item_no < 0) return;
  if (down && offs >= GetOffsAfterItem(item_no) && item_no + 1 < ItemCount()) {
    ++item_no;
    offs = GetOffsBeforeItem(item_no);
  } else if (!down && offs <= GetOffsBeforeItem(item_no) && item_no > 0) {
    --item_no;
    offs = GetOffsAfterItem(item_no);
  }
}

void TRVEditRVData::UpdateCurTag() {
  CurTag = TRVTag();
  const int32_t i = CurItemNo();
  if (i >= 0 && i < ItemCount() && GetItem(i)->StyleNo == CurTextStyleNo)
    CurTag = RV_CopyTag(GetItem(i)->Tag, TagsArePChars());
}

void TRVEditRVData::AnchorSelectionAtCaret() {
  if (FSelStartNo >= 0 && FSelEndNo >= 0) return;
  if (CaretOffs < 0 || CaretOffs >= static_cast<int32_t>(CharPositions.size())) return;
  FSelStartNo = FSelEndNo = CaretStop().DItemNo;
  FSelStartOffs = FSelEndOffs = CaretStop().DOffs;
}

void TRVEditRVData::ExtendSelectionToCaret() {
  if (CaretOffs < 0 || CaretOffs >= static_cast<int32_t>(CharPositions.size())) return;
  FSelEndNo = CaretStop().DItemNo;
  FSelEndOffs = CaretStop().DOffs;
  TRVStyle* style = GetRVStyle();
  if (style && style->SelectionMode == rvsmParagraph) ExpandSelectionToParagraphs(false);
  InvalidateControl();
  DoSelect();
}

void TRVEditRVData::SelectionChanged(bool redraw) {
  TDocViewRVData::SelectionChanged(redraw);
  if (FSelEndNo < 0 || FSelEndNo >= DrawLines.Count()) return;
  if (GetItem(DrawLines[FSelEndNo]->ItemNo)->StyleNo == rvsListMarker && FSelEndNo + 1 < DrawLines.Count()) {
    ++FSelEndNo;
    FSelEndOffs = GetOffsBeforeDrawItem(FSelEndNo);
  }
  CaretDrawItemNo = FSelEndNo;
  BuildCaretLine(FSelEndOffs - 2);
  ChangeCaret(redraw, false, false);
  // A single selected picture gets its resize frame.
  UpdateResizer();
}

// ---- Layout ------------------------------------------------------------------------------------

void TRVEditRVData::ClearTemporal() {
  CharPositions.clear();
  CaretDrawItemNo = CaretOffs = -1;
  CaretHeight = 0;
  TRVControlData::ClearTemporal();
}

void TRVEditRVData::FormatDocument(bool keep_position, bool force, bool no_scroll, int32_t depth, TCanvas* canvas,
                                   bool only_tail, bool width_flag1, bool width_flag2) {
  if (depth > 0 || (State & rvstFormatting)) {
    TRVControlData::FormatDocument(keep_position, force, no_scroll, depth, canvas, only_tail, width_flag1,
                                   width_flag2);
    return;
  }
  EnsureNotEmpty();
  const bool keep = keep_position && GetRVStyle() && !NotFormatted() && CaretOffs >= 0;
  const int32_t item_no = keep ? CurItemNo() : -1, offs = keep ? OffsetInCurItem() : 0;
  TRVControlData::FormatDocument(keep_position, force, no_scroll, depth, canvas, only_tail, width_flag1, width_flag2);
  if (NotFormatted()) {
    CaretDrawItemNo = CaretOffs = -1;
    return;
  }
  int32_t d = 0, d_offs = GetOffsBeforeDrawItem(0);
  if (keep && item_no >= 0 && item_no < ItemCount()) {
    ItemPosToDrawItemPos(item_no, offs, d, d_offs);
  } else {
    Deselect(nullptr, false);
  }
  if (!MoveToDrawItemPos(d, d_offs)) MoveToDrawItemPos(0, GetOffsBeforeDrawItem(0));
  ChangeCaret(false, false, false);
}

void TRVEditRVData::AfterDeleteStyles(const TRVDeleteUnusedStylesData& data) {
  UndoList->Clear();
  RedoList->Clear();
  TRVStyle* style = GetRVStyle();
  const int32_t text_count = style ? style->TextStyles()->Count() : 0;
  const int32_t para_count = style ? style->ParaStyles()->Count() : 0;
  auto clamp = [](int32_t v, int32_t count) { return count > 0 ? std::clamp(v, 0, count - 1) : 0; };
  const int32_t text = clamp(data.RenumberText(GetActualStyle2(CurTextStyleNo, CurParaStyleNo)), text_count);
  const int32_t para = clamp(data.RenumberPara(CurParaStyleNo), para_count);
  LastAutoTextStyleNo = LastAutoTextStyleNo > 0 ? clamp(data.RenumberText(LastAutoTextStyleNo), text_count) : 0;
  // Announced even when the number stays: it may name another style now.
  CurTextStyleNo = -1;
  CurParaStyleNo = -1;
  SetCurTextStyleNo(text);
  SetCurParaStyleNo(para);
  TDocViewRVData::AfterDeleteStyles(data);
}

void TRVEditRVData::FormatKeepingCaret() {
  const int32_t item_no = CurItemNo(), offs = OffsetInCurItem();
  TRVControlData::FormatDocument(false, true, false, 0, GetCanvas(), false, false, false);
  if (NotFormatted()) return;
  caret_item_ = item_no;
  caret_offset_ = offs;
  InvalidateControl();
}

// ---- Movement ---------------------------------------------------------------------------------

namespace {
// Characters of an item as UTF-16 units (ANSI bytes widened one to one for delimiter tests).
std::u16string ItemChars(TCustomRVData& d, int32_t item_no) {
  const AnsiString s = d.GetItemTextRaw(item_no);
  if (d.GetItem(item_no)->ItemOptions.Contains(rvioUnicodeText)) return RVU_RawUnicodeToWideString(s);
  std::u16string r;
  for (char c : s) r.push_back(static_cast<char16_t>(static_cast<uint8_t>(c)));
  return r;
}

bool Delim(TCustomRVData& d, bool unicode, char16_t c) {
  return unicode ? d.IsDelimiterW(c) : d.IsDelimiterA(static_cast<char>(c));
}
}  // namespace

// Characters from the caret (1-based offset offs) back to the previous word boundary.
static int32_t WordBackCount(TCustomRVData& d, int32_t item_no, int32_t offs) {
  const std::u16string w = ItemChars(d, item_no);
  const bool uni = d.GetItem(item_no)->ItemOptions.Contains(rvioUnicodeText);
  int32_t pos = offs - 1;  // boundary before character pos (1-based)
  auto ch = [&](int32_t i) { return w[static_cast<size_t>(i - 1)]; };
  while (pos > 1) {
    const char16_t left = ch(pos - 1), right = ch(pos);
    const bool dl = Delim(d, uni, left), dr = Delim(d, uni, right);
    if ((dl && !dr) || (!dl && dr && right != u' ')) break;
    --pos;
  }
  return std::max(offs - pos, 1);
}

static int32_t WordForwardOffs(TCustomRVData& d, int32_t item_no, int32_t offs) {
  const std::u16string w = ItemChars(d, item_no);
  const bool uni = d.GetItem(item_no)->ItemOptions.Contains(rvioUnicodeText);
  const int32_t len = static_cast<int32_t>(w.size());
  int32_t p = offs;
  while (p >= 2 && p <= len) {
    const char16_t before = w[static_cast<size_t>(p - 2)], after = w[static_cast<size_t>(p - 1)];
    const bool db = Delim(d, uni, before), da = Delim(d, uni, after);
    if ((before == u' ' && after != u' ') || (db && !da) || (!db && da && after != u' ')) break;
    ++p;
  }
  return p;
}

bool TRVEditRVData::MoveLeft(bool shift, bool ctrl) {
  if (CaretOffs < 0 || CharPositions.empty()) return true;
  TRVStyle* style = GetRVStyle();
  if (shift && style && style->SelectionMode == rvsmParagraph && IsMultiParaSelection()) {
    ParaUp();
    return false;
  }
  const int32_t item_no = CurItemNo(), offs = OffsetInCurItem();
  if (ctrl && GetItem(item_no)->StyleNo >= 0 && offs > 1) {
    int32_t target = offs - WordBackCount(*this, item_no, offs);
    int32_t it = item_no;
    SkipMarkerItem(it, target, false);
    int32_t d = -1, d_offs = 0;
    ItemPosToDrawItemPos(it, target, d, d_offs);
    CaretDrawItemNo = d;
    BuildCaretLine(d_offs - 2);
    ChangeCaret(true, false, false);
    return false;
  }
  if (CaretOffs == 0) {
    if (CaretDrawItemNo <= 0) return true;
    int32_t first, last;
    GetScreenLineBounds(CaretDrawItemNo, first, last);
    int32_t d = CharPositions.front().DItemNo - 1;
    if (d < 0) return true;
    if (GetItem(DrawLines[d]->ItemNo)->StyleNo == rvsListMarker) {
      if (d == 0) return true;
      --d;
    }
    CaretDrawItemNo = d;
    BuildCaretLine(GetOffsAfterDrawItem(d) - 2);
    ChangeCaret(true, false, false);
    return false;
  }
  if (!shift && !ctrl) {
    TCustomRVItemInfo* item = GetItem(DrawLines[CaretStop().DItemNo]->ItemNo);
    if (item->StyleNo < 0 && CaretStop().DOffs == 1 && item->EnterFromKeyboard(1, 0)) return false;
  }
  --CaretOffs;
  CaretDrawItemNo = CaretStop().DItemNo;
  ChangeCaret(true, false, false);
  return false;
}

bool TRVEditRVData::MoveRight(bool shift, bool ctrl) {
  if (CaretOffs < 0 || CharPositions.empty()) return true;
  TRVStyle* style = GetRVStyle();
  if (shift && style && style->SelectionMode == rvsmParagraph && IsMultiParaSelection()) {
    ParaDown();
    return false;
  }
  auto next_line = [&]() {
    const int32_t d_last = CharPositions.back().DItemNo;
    if (d_last >= DrawLines.Count() - 1) return false;
    CaretDrawItemNo = d_last + 1;
    int32_t d_offs = GetOffsBeforeDrawItem(CaretDrawItemNo);
    SkipMarkerDrawItem(true, d_offs);
    BuildCaretLine(d_offs - 2);
    return true;
  };
  if (ctrl) {
    if (CaretOnLastStop()) {
      if (!next_line()) return true;
    } else {
      ++CaretOffs;
      CaretDrawItemNo = CaretStop().DItemNo;
    }
    const int32_t item_no = CurItemNo(), offs = OffsetInCurItem();
    if (GetItem(item_no)->StyleNo >= 0 && offs > 1) {
      const int32_t target = WordForwardOffs(*this, item_no, offs);
      if (target != offs) {
        int32_t d = -1, d_offs = 0;
        ItemPosToDrawItemPos(item_no, target, d, d_offs);
        CaretDrawItemNo = d;
        BuildCaretLine(d_offs - 2);
      }
    }
    ChangeCaret(true, false, false);
    return false;
  }
  if (CaretOnLastStop()) {
    if (!next_line()) return true;
    ChangeCaret(true, false, false);
    return false;
  }
  if (!shift && !ctrl) {
    const TRVCharPos& next = CharPositions[static_cast<size_t>(CaretOffs + 1)];
    TCustomRVItemInfo* item = GetItem(DrawLines[next.DItemNo]->ItemNo);
    if (item->StyleNo < 0 && next.DOffs == 1 && item->EnterFromKeyboard(0, 0)) return false;
  }
  ++CaretOffs;
  CaretDrawItemNo = CaretStop().DItemNo;
  ChangeCaret(true, false, false);
  return false;
}

bool TRVEditRVData::MoveUp(bool shift, bool ctrl) {
  if (CaretOffs < 0 || CharPositions.empty()) return true;
  const int32_t first_d = CharPositions.front().DItemNo;
  if (first_d == 0 || (first_d == 1 && GetItem(DrawLines[0]->ItemNo)->StyleNo == rvsListMarker)) {
    if (!shift || CaretOffs == 0) {
      ScrollTo(0, true);
    } else {
      CaretOffs = 0;
      CaretDrawItemNo = CaretStop().DItemNo;
      ChangeCaret(true, false, false);
    }
    return true;
  }
  TRVStyle* style = GetRVStyle();
  if (shift && style && style->SelectionMode == rvsmParagraph) {
    ParaUp();
    return false;
  }
  const int32_t x = CaretStop().Left;
  int32_t d = first_d - 1;
  if (GetItem(DrawLines[d]->ItemNo)->StyleNo == rvsListMarker && d > 0) --d;
  int32_t dn = -1, d_offs = -1;
  FindDrawItemAtPos(x, DrawLines[d]->Top + 1, dn, d_offs, false);
  if (dn < 0) return true;
  TRVDrawLineInfo* found = DrawLines[dn];
  if (!shift && !ctrl && x >= found->Left && x < found->Left + found->Width &&
      GetItem(found->ItemNo)->EnterFromKeyboard(3, x))
    return false;
  MoveToDrawItemPos(dn, d_offs);
  ChangeCaret(true, false, false);
  return false;
}

bool TRVEditRVData::MoveDown(bool shift, bool ctrl) {
  if (CaretOffs < 0 || CharPositions.empty()) return true;
  if (CaretOnLastLine()) {
    if (shift && !CaretOnLastStop()) {
      CaretOffs = static_cast<int32_t>(CharPositions.size()) - 1;
      CaretDrawItemNo = CaretStop().DItemNo;
      ChangeCaret(true, false, false);
    } else {
      ScrollTo(DocumentHeight, true);
    }
    return true;
  }
  TRVStyle* style = GetRVStyle();
  if (shift && style && style->SelectionMode == rvsmParagraph) {
    ParaDown();
    return false;
  }
  const int32_t x = CaretStop().Left;
  const int32_t d = CharPositions.back().DItemNo + 1;
  int32_t dn = -1, d_offs = -1;
  FindDrawItemAtPos(x, DrawLines[d]->Top + 1, dn, d_offs, false);
  if (dn < 0) return true;
  TRVDrawLineInfo* found = DrawLines[dn];
  if (!shift && !ctrl && x >= found->Left && x < found->Left + found->Width &&
      GetItem(found->ItemNo)->EnterFromKeyboard(2, x))
    return false;
  MoveToDrawItemPos(dn, d_offs);
  ChangeCaret(true, false, false);
  return false;
}

bool TRVEditRVData::MoveHome(bool ctrl) {
  if (CaretOffs < 0 || NotFormatted()) return ctrl;
  if (ctrl) {
    MoveToDrawItemPos(0, GetOffsBeforeDrawItem(0));
    CaretOffs = 0;
    CaretDrawItemNo = CaretStop().DItemNo;
  } else {
    CaretOffs = 0;
    CaretDrawItemNo = CaretStop().DItemNo;
  }
  ChangeCaret(true, false, false);
  return ctrl;
}

bool TRVEditRVData::MoveEnd(bool ctrl) {
  if (CaretOffs < 0 || NotFormatted()) return ctrl;
  if (ctrl) {
    const int32_t d = DrawLines.Count() - 1;
    MoveToDrawItemPos(d, GetOffsAfterDrawItem(d));
  }
  CaretOffs = static_cast<int32_t>(CharPositions.size()) - 1;
  CaretDrawItemNo = CaretStop().DItemNo;
  ChangeCaret(true, false, false);
  return ctrl;
}

bool TRVEditRVData::PageUp() {
  if (CaretOffs < 0) return false;
  const int32_t x = CaretStop().Left;
  const int32_t area = std::max(GetAreaHeight(), 1);
  int32_t y = GetVOffs() - area * 3 / 4;
  while (y > 0) {
    int32_t dn = -1, d_offs = -1;
    FindDrawItemAtPos(x, y, dn, d_offs, false);
    if (dn >= 0 && dn < CaretDrawItemNo) {
      MoveToDrawItemPos(dn, d_offs);
      ChangeCaret(true, false, false);
      return false;
    }
    y -= std::max(area / 2, 1);
  }
  MoveHome(true);
  return false;
}

bool TRVEditRVData::PageDown() {
  if (CaretOffs < 0) return false;
  const int32_t x = CaretStop().Left;
  const int32_t area = std::max(GetAreaHeight(), 1);
  int32_t y = GetVOffs() + area * 3 / 4;
  while (y < DocumentHeight) {
    int32_t dn = -1, d_offs = -1;
    FindDrawItemAtPos(x, y, dn, d_offs, false);
    if (dn > CaretDrawItemNo) {
      MoveToDrawItemPos(dn, d_offs);
      ChangeCaret(false, false, false);
      ScrollTo(DrawLines[CaretDrawItemNo]->Top, true);
      return false;
    }
    y += std::max(area / 2, 1);
  }
  MoveEnd(true);
  return false;
}

void TRVEditRVData::ParaUp() {
  if (CaretDrawItemNo < 0) return;
  int32_t d = CaretDrawItemNo;
  while (d > 0 && !IsDrawItemParaStart(d)) --d;
  if (d > 0) --d;
  while (d > 0 && !IsDrawItemParaStart(d)) --d;
  MoveToDrawItemPos(d, GetOffsBeforeDrawItem(d));
  ChangeCaret(true, false, false);
}

void TRVEditRVData::ParaDown() {
  if (CaretDrawItemNo < 0) return;
  const int32_t n = DrawLines.Count();
  int32_t d = CaretDrawItemNo;
  // The searches run to the very last draw item, so that the last paragraph is reached
  // whole.
  while (d + 1 < n && !IsDrawItemParaStart(d + 1)) ++d;
  if (d + 1 < n) ++d;
  while (d + 1 < n && !IsDrawItemParaStart(d + 1)) ++d;
  CaretDrawItemNo = d;
  BuildCaretLine(GetOffsAfterDrawItem(d) - 2);
  ChangeCaret(true, false, false);
}

}  // namespace pelvar
