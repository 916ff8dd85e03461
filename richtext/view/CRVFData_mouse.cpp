// Hit tests, mouse handling, hyperlinks and the selection of a formatted document: the
// hovered and pressed hyperlink, jumps on a click, selection by characters, words, lines
// and paragraphs with the mouse, words under a point and the selection queries.
#include <algorithm>

#include "platform/screen.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/CRVFData.h"

namespace pelvar {

namespace {
bool Inside(const TRVJumpInfo& j, int32_t x, int32_t y, int32_t hoffs, int32_t voffs, bool edges) {
  const int32_t l = j.Left - hoffs, t = j.Top - voffs;
  if (edges) return x >= l && x <= l + j.Width && y >= t && y <= t + j.Height;
  return x >= l && x < l + j.Width && y >= t && y < t + j.Height;
}
}  // namespace

// ---- Hit tests ---------------------------------------------------------------------------------

void TCustomRVFormattedData::HitTestDrawItem(int32_t x, int32_t y) {
  if (CaptureMouseItem) return;
  if (MouseDItem >= DrawLines.Count()) MouseDItem = -1;
  const int32_t dx = x + GetHOffs(), dy = y + GetVOffs();
  if (MouseDItem >= 0) {
    TRVDrawLineInfo* d = DrawLines[MouseDItem];
    if (dx >= d->Left && dx < d->Left + d->Width && dy >= d->Top && dy < d->Top + d->Height) return;
  }
  MouseDItem = FindDrawItemAtPoint(dx, dy);
}

bool TCustomRVFormattedData::GetWordAt(int32_t x, int32_t y, AnsiString& word, int32_t& item_no, int32_t& offs,
                                       int32_t& style_no) {
  TCustomRVFormattedData* rvdata = nullptr;
  return GetWordAt(x, y, word, rvdata, item_no, offs, style_no);
}

bool TCustomRVFormattedData::GetWordAt(int32_t x, int32_t y, AnsiString& word, TCustomRVFormattedData*& rvdata,
                                       int32_t& item_no, int32_t& offs, int32_t& style_no) {
  return GetWordAtDocPoint(x + GetHOffs(), y + GetVOffs(), word, rvdata, item_no, offs, style_no);
}

bool TCustomRVFormattedData::GetWordAtDocPoint(int32_t dx, int32_t dy, AnsiString& word,
                                               TCustomRVFormattedData*& rvdata, int32_t& item_no, int32_t& offs,
                                               int32_t& style_no) {
  word.clear();
  offs = 0;
  style_no = 0;
  rvdata = this;
  const int32_t di = FindDrawItemAtPoint(dx, dy);
  if (di < 0) {
    item_no = -1;
    return false;
  }
  TRVDrawLineInfo* d = DrawLines[di];
  item_no = d->ItemNo;
  TCustomRVItemInfo* item = GetItem(item_no);
  style_no = GetActualStyle(item);
  const AnsiString text = GetItemTextRaw(item_no);
  if (style_no < 0) {
    // A table: the word in the cell under the point.
    int32_t sx = 0, sy = 0;
    if (auto* sub = dynamic_cast<TCustomRVFormattedData*>(item->GetSubLayoutAt(dx - d->Left, dy - d->Top, sx, sy)))
      return sub->GetWordAtDocPoint(sx, sy, word, rvdata, item_no, offs, style_no);
    word = text;
    return true;
  }
  int32_t d_offs, found;
  FindDrawItemAtPos(dx, dy, found, d_offs, false);
  if (found != di) d_offs = 1;
  const uint8_t opts = item->ItemOptions.ToBits();
  const int32_t len = RVU_Length(text, opts);
  // The character under the point: the one the caret position lies before.
  offs = std::clamp(d->Offs + d_offs - 1, 1, std::max(len, 1));
  if (len == 0 || IsDelimiter(text, offs, opts)) return true;
  int32_t from = offs;
  while (from > 1 && !IsDelimiter(text, from - 1, opts)) --from;
  int32_t to = offs;
  while (to < len && !IsDelimiter(text, to + 1, opts)) ++to;
  word = RVU_Copy(text, from, to - from + 1, opts);
  offs = from;
  return true;
}

// ---- Words -------------------------------------------------------------------------------------

bool TCustomRVFormattedData::IsInsideWord(int32_t d_item_no, int32_t offs) {
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  if (GetItemStyle(d->ItemNo) < 0) return false;
  if (offs <= GetOffsBeforeDrawItem(d_item_no) || offs >= GetOffsAfterDrawItem(d_item_no)) return false;
  const AnsiString text = GetItemTextRaw(d->ItemNo);
  const uint8_t opts = GetItemOptions(d->ItemNo);
  const int32_t i = d->Offs + offs - 1;  // item offset
  return !IsDelimiter(text, i - 1, opts) && !IsDelimiter(text, i, opts);
}

void TCustomRVFormattedData::GetWordBounds(int32_t d_item_no, int32_t offs, int32_t& from, int32_t& to) {
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  const AnsiString text = GetItemTextRaw(d->ItemNo);
  const uint8_t opts = GetItemOptions(d->ItemNo);
  // Draw-item characters 1..Length are item characters Offs..Offs+Length-1.
  auto delim = [&](int32_t k) { return IsDelimiter(text, d->Offs + k - 1, opts); };
  from = offs - 1;
  while (from >= 2 && !delim(from - 1)) --from;
  to = offs;
  while (to <= d->Length && !delim(to)) ++to;
}

// ---- Queries -----------------------------------------------------------------------------------

bool TCustomRVFormattedData::IsDrawItemParaStart(int32_t d_item_no) {
  if (d_item_no == 0) return true;
  const int32_t item_no = DrawLines[d_item_no]->ItemNo;
  return item_no != DrawLines[d_item_no - 1]->ItemNo && IsParaStart(item_no);
}

bool TCustomRVFormattedData::IsDrawItemItemStart(int32_t d_item_no) {
  return d_item_no == 0 || DrawLines[d_item_no]->ItemNo != DrawLines[d_item_no - 1]->ItemNo;
}

bool TCustomRVFormattedData::IsDrawItemFromNewLine(int32_t d_item_no) {
  return IsDrawItemItemStart(d_item_no) && (d_item_no == 0 || IsFromNewLine(DrawLines[d_item_no]->ItemNo));
}

bool TCustomRVFormattedData::IsDrawItemParaEnd(int32_t d_item_no) {
  return d_item_no == DrawLines.Count() - 1 || IsDrawItemParaStart(d_item_no + 1);
}

bool TCustomRVFormattedData::IsDrawItemLineStart(int32_t d_item_no) {
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  if (d->FromNewLine) return true;
  return d_item_no > 0 && d->ItemNo != DrawLines[d_item_no - 1]->ItemNo &&
         GetItemStyle(DrawLines[d_item_no - 1]->ItemNo) == rvsListMarker;
}

bool TCustomRVFormattedData::IsWrappedLineEnd(int32_t d_item_no) {
  if (d_item_no >= DrawLines.Count() - 1) return false;
  return DrawLines[d_item_no + 1]->FromNewLine && !IsDrawItemFromNewLine(d_item_no + 1);
}

bool TCustomRVFormattedData::HasSwallowedTail(int32_t d_item_no) {
  TRVDrawLineInfo* d = DrawLines[d_item_no];
  if (GetItemStyle(d->ItemNo) < 0) return false;
  const int32_t len = RVU_Length(GetItemTextRaw(d->ItemNo), GetItemOptions(d->ItemNo));
  if (d->Offs + d->Length - 1 >= len) return false;
  if (d_item_no == DrawLines.Count() - 1) return true;
  TRVDrawLineInfo* next = DrawLines[d_item_no + 1];
  return next->ItemNo != d->ItemNo || next->Offs != d->Offs + d->Length;
}

bool TCustomRVFormattedData::GetItemCoords(int32_t item_no, int32_t& left, int32_t& top) {
  left = top = 0;
  if (item_no < 0 || item_no >= ItemCount()) return false;
  const int32_t d = FindDrawItemOfItem(item_no);
  if (d < 0 || d >= DrawLines.Count()) return false;
  left = DrawLines[d]->Left;
  top = DrawLines[d]->Top;
  return true;
}

bool TCustomRVFormattedData::GetItemClientCoords(int32_t item_no, int32_t& left, int32_t& top) {
  if (!GetItemCoords(item_no, left, top)) return false;
  left -= GetHOffs();
  top -= GetVOffs();
  return true;
}

void TCustomRVFormattedData::FindPositionAt(int32_t x, int32_t y, TCustomRVFormattedData*& rvdata, int32_t& item_no,
                                            int32_t& offs, bool& over_control) {
  rvdata = nullptr;
  item_no = -1;
  offs = 0;
  over_control = false;
  int32_t d_item = -1, d_offs = 0;
  FindDrawItemAtPos(x, y, d_item, d_offs, true);
  if (d_item < 0) return;
  TRVDrawLineInfo* d = DrawLines[d_item];
  TCustomRVItemInfo* item = GetItem(d->ItemNo);
  if (GetItemStyle(d->ItemNo) < 0) {
    int32_t sx = 0, sy = 0;
    if (auto* sub = dynamic_cast<TCustomRVFormattedData*>(item->GetSubLayoutAt(x - d->Left, y - d->Top, sx, sy))) {
      sub->FindPositionAt(sx, sy, rvdata, item_no, offs, over_control);
      if (rvdata) return;
    }
  }
  rvdata = this;
  DrawItemPosToItemPos(d_item, d_offs, item_no, offs);
  over_control = item->GetBoolValue(10);  // an inserted control
}

bool TCustomRVFormattedData::IsMultiParaSelection() {
  int32_t sd, ed, so, eo;
  GetSelDrawItemBounds(sd, ed, so, eo, true);
  if (sd < 0) return false;
  for (int32_t i = sd + 1; i <= ed; ++i)
    if (IsDrawItemParaStart(i)) return true;
  return false;
}

bool TCustomRVFormattedData::SelectionExists(bool remove_empty, bool use_partial) {
  // A chosen cell's selection stands for the document's (a cell being edited answers
  // through the control).
  if (GetActiveSubDataItem())
    if (auto* sub = dynamic_cast<TCustomRVFormattedData*>(GetChosenRVData()); sub && sub != this)
      return sub->SelectionExists(remove_empty, use_partial);
  const bool own = FSelStartNo >= 0 && FSelEndNo >= 0 && !(FSelStartNo == FSelEndNo && FSelStartOffs == FSelEndOffs);
  if (use_partial)
    for (int32_t i = 0; i < ItemCount(); ++i)
      if (GetItem(i)->IsPartiallySelected()) return true;
  if (own) return true;
  if (remove_empty && !(State & rvstSelecting) && FSelStartNo >= 0) Deselect(nullptr, true);
  return false;
}

bool TCustomRVFormattedData::SelectionIsForward() {
  return FSelStartNo < FSelEndNo || (FSelStartNo == FSelEndNo && FSelEndOffs >= FSelStartOffs);
}

bool TCustomRVFormattedData::IsInSelectionDItem(int32_t d_item_no, int32_t offs, bool include_edges) {
  int32_t sd, ed, so, eo;
  GetSelDrawItemBounds(sd, ed, so, eo, true);
  if (sd < 0 || ed < 0 || (sd == ed && so == eo)) return false;
  auto less = [](int32_t d1, int32_t o1, int32_t d2, int32_t o2) { return d1 < d2 || (d1 == d2 && o1 < o2); };
  if (include_edges) return !less(d_item_no, offs, sd, so) && !less(ed, eo, d_item_no, offs);
  return less(sd, so, d_item_no, offs) && less(d_item_no, offs, ed, eo);
}

bool TCustomRVFormattedData::IsInSelection(int32_t item_no, int32_t offs, bool include_edges) {
  if (auto* parent = dynamic_cast<TCustomRVFormattedData*>(GetParentData()); parent && parent != this) {
    int32_t parent_item = -1;
    std::unique_ptr<TRVStoreSubRVData> location;
    GetParentInfo(parent_item, location);
    if (parent_item >= 0 && parent->IsInSelection(parent_item, 0, true)) return true;
  }
  int32_t sn, en, so, eo;
  GetSelBounds(sn, en, so, eo, true);
  if (sn < 0 || en < 0 || (sn == en && so == eo)) return false;
  auto less = [](int32_t i1, int32_t o1, int32_t i2, int32_t o2) { return i1 < i2 || (i1 == i2 && o1 < o2); };
  if (include_edges) return !less(item_no, offs, sn, so) && !less(en, eo, item_no, offs);
  return less(sn, so, item_no, offs) && less(item_no, offs, en, eo);
}

void TCustomRVFormattedData::ShowRectangle(int32_t left, int32_t top, int32_t width, int32_t height) {
  const int32_t hoffs = GetHOffs(), area_w = GetAreaWidth();
  if (left < hoffs || left + width > hoffs + area_w) HScrollTo(left - area_w / 4);
  const int32_t v = GetVOffs(), h = GetAreaHeight(), s = GetVSmallStep();
  if (top + height > v + h - 2 * s && top < v + s) return;  // it cannot be shown better
  if (top + height <= v + h) {
    if (top < v) ScrollTo(top, true);
  } else {
    ScrollTo(top + height - h + s, true);
  }
}

void TCustomRVFormattedData::SelectItemRange(int32_t item_no, int32_t offs, int32_t length, bool reverse) {
  if (item_no < 0 || item_no >= ItemCount()) return;
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) GetItem(i)->DeselectPartial();
  if (reverse)
    StoreSelectionBounds(item_no, item_no, offs + length, offs);
  else
    StoreSelectionBounds(item_no, item_no, offs, offs + length);
  if (FSelStartNo >= 0 && FSelStartNo < DrawLines.Count()) {
    TRVDrawLineInfo* d = DrawLines[FSelStartNo];
    ShowRectangle(d->Left, d->Top, d->Width, d->Height);
  }
  InvalidateControl();
  SelectionChanged(true);
  DoSelect();
}

void TCustomRVFormattedData::DeleteItems(int32_t first_item_no, int32_t count) {
  Deselect(nullptr, true);
  TCustomRVData::DeleteItems(first_item_no, count);
}

// ---- Setters -----------------------------------------------------------------------------------

void TCustomRVFormattedData::Deselect(TCustomRVItemInfo* new_partially_selected, bool make_event) {
  if (State & rvstDeselecting) return;
  State |= rvstDeselecting;
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

void TCustomRVFormattedData::SetPartiallySelected(TCustomRVItemInfo* item) {
  if (item && item->IsPartiallySelected()) return;
  Deselect(item, true);
  DoSelect();
}

bool TCustomRVFormattedData::TakesFocus(int32_t item_no) {
  if (item_no < 0 || item_no >= ItemCount()) return false;
  TCustomRVItemInfo* item = GetItem(item_no);
  TRVStyle* s = GetRVStyle();
  if (item->StyleNo >= 0) return s && s->TextStyles()->Items(GetActualStyle(item))->Jump;
  return item->GetBoolValueEx(1, s) || item->GetBoolValueEx(2, s) || item->GetBoolValue(7);
}

int32_t TCustomRVFormattedData::FindNextFocusableItem(int32_t item_no, bool go_forward,
                                                      TCustomRVFormattedData*& rvdata, int32_t& inner_item_no) {
  rvdata = nullptr;
  inner_item_no = -1;
  const int32_t n = ItemCount();
  if (FocusedItem >= n) FocusedItem = -1;
  if (item_no >= n) item_no = go_forward ? n : -1;
  int32_t i;
  if (go_forward) {
    i = item_no < 0 ? 0 : (TakesFocus(item_no) ? item_no + 1 : item_no);
  } else {
    if (item_no < 0) item_no = n;
    i = item_no == n || TakesFocus(item_no) ? item_no - 1 : item_no;
  }
  for (; i >= 0 && i < n; i += go_forward ? 1 : -1) {
    if (TakesFocus(i)) {
      rvdata = this;
      inner_item_no = i;
      return i;
    }
    // An item with sub-documents looks inside them and reports the place it found.
    FocusReachedData = nullptr;
    FocusReachedItemNo = -1;
    if (GetItem(i)->EnterItem(!go_forward, 0) && FocusReachedData && FocusReachedItemNo >= 0) {
      rvdata = FocusReachedData;
      inner_item_no = FocusReachedItemNo;
      FocusReachedData = nullptr;
      FocusReachedItemNo = -1;
      return i;
    }
  }
  return -1;
}

void TCustomRVFormattedData::ClearItemFocus() {
  if (FocusedItem >= 0 && FocusedItem < ItemCount()) GetItem(FocusedItem)->LeaveItem();
}

void TCustomRVFormattedData::EndActiveSubData(const TCustomRVItemInfo* except) {
  TCustomRVItemInfo* owner = GetActiveSubDataItem();
  if (owner && owner != except && !(State & rvstDestroying)) ClearActiveSubData();
}

void TCustomRVFormattedData::UpdateParentSelection() {
  int32_t parent_item_no = -1;
  std::unique_ptr<TRVStoreSubRVData> location;
  GetParentInfo(parent_item_no, location);
  TCustomRVData* parent = GetParentData();
  if (parent_item_no < 0 || !location || !parent || parent_item_no >= parent->ItemCount()) return;
  if (GetAbsoluteRootData()->GetFlags() & 0x8000) return;
  if (auto* p = dynamic_cast<TCustomRVFormattedData*>(parent); p && p->GetActiveSubData() == this) return;
  parent->GetItem(parent_item_no)->ChooseSubRVData(location.get());
}

void TCustomRVFormattedData::SetSelectionBounds(int32_t start_item_no, int32_t start_offs, int32_t end_item_no,
                                                int32_t end_offs) {
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) GetItem(i)->DeselectPartial();
  EndActiveSubData(nullptr);
  auto off_marker = [&](int32_t& item_no, int32_t& offs) {
    if (item_no >= 0 && item_no + 1 < ItemCount() && GetItem(item_no)->StyleNo == rvsListMarker) {
      ++item_no;
      offs = GetOffsBeforeItem(item_no);
    }
  };
  off_marker(start_item_no, start_offs);
  off_marker(end_item_no, end_offs);
  StoreSelectionBounds(start_item_no, end_item_no, start_offs, end_offs);
  if (FSelStartNo >= 0 && FSelEndNo >= 0) {
    FSelStartOffs =
        std::clamp(FSelStartOffs, GetOffsBeforeDrawItem(FSelStartNo), GetOffsAfterDrawItem(FSelStartNo));
    FSelEndOffs = std::clamp(FSelEndOffs, GetOffsBeforeDrawItem(FSelEndNo), GetOffsAfterDrawItem(FSelEndNo));
  }
  SelectionChanged(true);
  DoSelect();
}

void TCustomRVFormattedData::ExpandSelectionToLines(bool collapse) {
  if (FSelStartNo < 0 || FSelEndNo < 0) return;
  if (collapse) {
    FSelEndNo = FSelStartNo;
    FSelEndOffs = FSelStartOffs;
  }
  int32_t sf, sl, ef, el;
  GetScreenLineBounds(FSelStartNo, sf, sl);
  GetScreenLineBounds(FSelEndNo, ef, el);
  if (SelectionIsForward()) {
    FSelStartNo = sf, FSelStartOffs = GetOffsBeforeDrawItem(sf);
    FSelEndNo = el, FSelEndOffs = GetOffsAfterDrawItem(el);
  } else {
    FSelStartNo = sl, FSelStartOffs = GetOffsAfterDrawItem(sl);
    FSelEndNo = ef, FSelEndOffs = GetOffsBeforeDrawItem(ef);
  }
}

bool TCustomRVFormattedData::ExpandSelectionToParagraphs(bool only_if_multi_para) {
  if (!SelectionExists(false)) return false;
  if (only_if_multi_para && !IsMultiParaSelection()) return false;
  auto para_first = [&](int32_t d) {
    while (!IsDrawItemParaStart(d)) --d;
    return d;
  };
  auto para_last = [&](int32_t d) {
    ++d;
    while (d < DrawLines.Count() && !IsDrawItemParaStart(d)) ++d;
    return d - 1;
  };
  if (SelectionIsForward()) {
    const int32_t s = para_first(FSelStartNo), e = para_last(FSelEndNo);
    FSelStartNo = s, FSelStartOffs = GetOffsBeforeDrawItem(s);
    FSelEndNo = e, FSelEndOffs = GetOffsAfterDrawItem(e);
  } else {
    const int32_t s = para_last(FSelStartNo), e = para_first(FSelEndNo);
    FSelStartNo = s, FSelStartOffs = GetOffsAfterDrawItem(s);
    FSelEndNo = e, FSelEndOffs = GetOffsBeforeDrawItem(e);
  }
  return true;
}

// ---- Extending the selection with the mouse ----------------------------------------------------

bool TCustomRVFormattedData::ExtendSelection(int32_t x, int32_t y) {
  const int32_t old[4] = {FSelStartNo, FSelStartOffs, FSelEndNo, FSelEndOffs};
  int32_t d, o;
  FindDrawItemAtPos(x, y, d, o, false);
  if (d < 0) return false;
  TRVSelectingInfo* si = SelectingInfo.get();
  if (!si) {
    FSelEndNo = d, FSelEndOffs = o;
  } else if (si->StartWordState == wsParagraphs) {
    si->EndDItem = d, si->EndOffs = o;
    FSelStartNo = si->StartDItem, FSelStartOffs = si->StartOffs;
    FSelEndNo = d, FSelEndOffs = o;
    ExpandSelectionToParagraphs(true);
  } else {
    const bool before = d < si->StartDItem || (d == si->StartDItem && o < si->StartWordFrom);
    const bool after = d > si->StartDItem || (d == si->StartDItem && o > si->StartWordTo);
    bool snap = false;
    switch (si->StartWordState) {
      case wsOutsideWord:
      case wsFree:
        snap = true;
        if (si->StartWordState == wsOutsideWord && d == si->StartDItem && si->StartWordFrom <= o &&
            o <= si->StartWordTo) {
          FSelStartOffs = si->StartOffs;
          si->StartWordState = wsFree;
          snap = false;
        }
        break;
      case wsInWord:
        if (before) {
          si->StartWordState = wsOutsideWord;
          FSelStartOffs = si->StartWordTo;
          snap = true;
        } else if (after) {
          si->StartWordState = wsOutsideWord;
          FSelStartOffs = si->StartWordFrom;
          snap = true;
        }
        break;
      default: break;
    }
    if (snap) {
      if (IsInsideWord(d, o)) {
        int32_t from, to;
        GetWordBounds(d, o, from, to);
        if (d == si->EndDItem && from == si->EndWordFrom && to == si->EndWordTo) {
          if (si->EndWordState == wsFree) {
            snap = false;
          } else if ((before && o > si->EndOffs) || (after && o < si->EndOffs)) {
            si->EndWordState = wsFree;
            snap = false;
          } else {
            si->EndOffs = o;
          }
        } else {
          si->EndWordState = wsInWord;
          si->EndWordFrom = from, si->EndWordTo = to;
          si->EndOffs = o;
        }
        if (snap) o = before ? from : (after ? to : o);
      } else {
        si->EndWordState = wsInWord;
        si->EndWordFrom = si->EndWordTo = -1;
      }
    }
    si->EndDItem = d;
    FSelEndNo = d, FSelEndOffs = o;
  }
  return old[0] != FSelStartNo || old[1] != FSelStartOffs || old[2] != FSelEndNo || old[3] != FSelEndOffs;
}

bool TCustomRVFormattedData::ExtendSelectionByLines(int32_t x, int32_t y) {
  const int32_t old[4] = {FSelStartNo, FSelStartOffs, FSelEndNo, FSelEndOffs};
  int32_t d, o;
  FindDrawItemAtPos(x, y, d, o, false);
  if (d < 0) return false;
  FSelEndNo = d, FSelEndOffs = o;
  ExpandSelectionToLines(false);
  if (GetRVStyle()->SelectionMode == rvsmParagraph) ExpandSelectionToParagraphs(true);
  return old[0] != FSelStartNo || old[1] != FSelStartOffs || old[2] != FSelEndNo || old[3] != FSelEndOffs;
}

// ---- Mouse events ------------------------------------------------------------------------------

void TCustomRVFormattedData::MouseDown(int32_t button, uint32_t shift, int32_t x, int32_t y) {
  TRVStyle* style = GetRVStyle();
  if (!style) return;
  HitTestDrawItem(x, y);
  ClickedDItem = MouseDItem;
  const int32_t hoffs = GetHOffs(), voffs = GetVOffs();
  int32_t item_no = -1;
  if (MouseDItem >= 0) {
    TRVDrawLineInfo* d = DrawLines[MouseDItem];
    item_no = d->ItemNo;
    TCustomRVItemInfo* item = GetItem(item_no);
    if (!item->IsPartiallySelected())
      for (int32_t i = 0; i < ItemCount(); ++i)
        if (GetItem(i)->IsPartiallySelected()) GetItem(i)->DeselectPartial();
    EndActiveSubData(item);
    item->MouseDown(button, shift, x - (d->Left - hoffs), y - (d->Top - voffs), item_no, this);
  }
  DoRVMouseDown(button, shift, item_no, x, y);
  if (button == rvmbLeft) {
    PressedJumpId = -1;
    for (const auto& j : Jumps)
      if (Inside(*j, x, y, hoffs, voffs, true)) {
        PressedJumpId = j->Id;
        break;
      }
  }
  if (CaptureMouseItem) {
    if (MouseDItem >= 0) {
      FSelStartNo = FSelEndNo = MouseDItem;
      FSelStartOffs = FSelEndOffs = 1;
      SelectionChanged(true);
    }
    return;
  }
  TCustomRVData* root = GetRootData();
  if (button != rvmbLeft || (State & rvstWordSelectedByDblClick) || (root->State & rvstDragPending)) return;
  const TRVOptions options = GetOptions();
  if (options.Contains(rvoSingleClick) && IsAssignedOnRVDblClick()) {
    AnsiString word;
    int32_t w_item, w_offs, w_style;
    if (GetWordAt(x, y, word, w_item, w_offs, w_style)) DoRVDblClick(word, w_style);
  }
  if (!options.Contains(rvoAllowSelection) || !(shift & rvssLeft)) return;
  // Starting a mouse selection, or a drag of the selection when pressed inside it.
  State &= ~rvstLineSelecting;
  EndActiveSubData(nullptr);
  const int32_t dx = x + hoffs, dy = y + voffs;
  int32_t pd, po;
  FindDrawItemAtPos(dx, dy, pd, po, false);
  if (pd >= 0 && !(shift & rvssShift) && IsInSelectionDItem(pd, po, true) && dx >= GetLeftMargin() &&
      !(root->State & rvstDragNotStarted) && CanStartDragging()) {
    int32_t sd, so;
    FindDrawItemAtPos(dx, dy, sd, so, true);
    if (sd >= 0 && IsInSelectionDItem(sd, so, true)) {
      root->State |= rvstDragPending;
      if (auto* r = dynamic_cast<TCustomRVFormattedData*>(root)) {
        // The point in the client area of the root document's control (a cell's document
        // has its own coordinates).
        int32_t cx = x, cy = y;
        if (r != this) {
          int32_t ix = 0, iy = 0, ox = 0, oy = 0;
          GetOrigin(ix, iy);
          r->GetOrigin(ox, oy);
          cx = x + hoffs + ix - ox - r->GetHOffs();
          cy = y + voffs + iy - oy - r->GetVOffs();
        }
        r->DragStartX = cx;
        r->DragStartY = cy;
        r->PostDragStart();
      }
      return;
    }
  }
  const bool extend = (shift & rvssShift) && FSelStartNo >= 0;
  FSelEndNo = pd, FSelEndOffs = po;
  if (!extend) FSelStartNo = pd, FSelStartOffs = po;
  SelectingInfo.reset();
  if (pd < 0) {
    State &= ~rvstSelecting;
  } else {
    State |= rvstSelecting;
    if (style->LineSelectCursor != -1 && GetBiDiMode() != rvbdRightToLeft && dx < GetLeftMargin() &&
        !(shift & rvssShift)) {
      State |= rvstLineSelecting;
      ExpandSelectionToLines(true);
    } else if (style->SelectionMode == rvsmWord || style->SelectionMode == rvsmParagraph) {
      SelectingInfo = std::make_unique<TRVSelectingInfo>();
      TRVSelectingInfo& si = *SelectingInfo;
      si.StartDItem = si.EndDItem = FSelStartNo;
      si.StartOffs = si.EndOffs = FSelStartOffs;
      if (style->SelectionMode == rvsmParagraph) {
        si.StartWordState = si.EndWordState = wsParagraphs;
        if (shift & rvssShift) ExtendSelection(dx, dy);
      } else if (IsInsideWord(si.StartDItem, si.StartOffs)) {
        si.StartWordState = si.EndWordState = wsInWord;
        GetWordBounds(si.StartDItem, si.StartOffs, si.StartWordFrom, si.StartWordTo);
      } else {
        si.StartWordState = wsFree;
        si.EndWordState = wsInWord;
      }
    }
  }
  SelectionChanged(true);
  InvalidateControl();
}

void TCustomRVFormattedData::MouseMove(uint32_t shift, int32_t x, int32_t y) {
  TRVStyle* style = GetRVStyle();
  if (!style) return;
  if ((State & rvstSelecting) && !(shift & rvssLeft)) {
    State &= ~(rvstSelecting | rvstLineSelecting);
    SelectingInfo.reset();
  }
  ClearXorDrawing();
  const int32_t hoffs = GetHOffs(), voffs = GetVOffs();
  if (CaptureMouseItem) {
    ForwardMouseMove(shift, x, y);
    SetXorDrawingPos(x, y);
    return;
  }
  if (State & rvstSelecting) {
    if (MouseCoordsClamped()) {
      x = std::clamp(x, 0, GetAreaWidth());
      y = std::clamp(y, 0, GetAreaHeight());
    }
    const int32_t dx = x + hoffs, dy = y + voffs;
    if (State & rvstLineSelecting) {
      if (ExtendSelectionByLines(dx, dy)) {
        ExpandSelectionToLines(false);
        SelectionChanged(false);
        RefreshControl();
      }
    } else if (ExtendSelection(dx, dy)) {
      SelectionChanged(true);
      RefreshControl();
    }
  }
  if (style->LineSelectCursor != -1 && !(State & rvstSelecting) && GetBiDiMode() != rvbdRightToLeft &&
      x + hoffs < GetLeftMargin() && GetOptions().Contains(rvoAllowSelection)) {
    SetControlCursor(style->LineSelectCursor);
    SetXorDrawingPos(x, y);
    return;
  }
  if (GetFlags() & rvflJumps) {
    const TRVJumpInfo* found = nullptr;
    for (const auto& j : Jumps)
      if (Inside(*j, x, y, hoffs, voffs, false)) {
        found = j.get();
        break;
      }
    if (found) {
      SetControlCursor(found->Cursor);
      if (LastJumpMovedAbove != found->Id) DoRVMouseMove(FirstJumpNo + found->Id);
      if ((State & rvstHoverDrawn) && LastJumpMovedAbove != found->Id) {
        State &= ~rvstHoverDrawn;
        InvalidateJump(LastJumpMovedAbove);
      }
      LastJumpMovedAbove = found->Id;
      TRVDrawLineInfo* d = DrawLines[found->DrawItemNo];
      ShowItemHint(this, d->ItemNo);
      GetItem(d->ItemNo)->MouseMove(shift, x - (d->Left - hoffs), y - (d->Top - voffs), d->ItemNo, this);
      if (!(State & rvstHoverDrawn) && GetItem(d->ItemNo)->GetBoolValueEx(3, style)) {
        State |= rvstHoverDrawn;
        InvalidateJump(found->Id);
      }
      SetXorDrawingPos(x, y);
      return;
    }
    if (LastJumpMovedAbove >= 0) {
      const int32_t old = LastJumpMovedAbove;
      State &= ~rvstHoverDrawn;
      InvalidateJump(old);
      LastJumpMovedAbove = -1;
      DoRVMouseMove(-1);
    }
  }
  ForwardMouseMove(shift, x, y);
  SetXorDrawingPos(x, y);
}

void TCustomRVFormattedData::ForwardMouseMove(uint32_t shift, int32_t x, int32_t y) {
  const int32_t hoffs = GetHOffs(), voffs = GetVOffs();
  HitTestDrawItem(x, y);
  if (MouseDItem >= DrawLines.Count()) MouseDItem = -1;
  if (MouseDItem < 0) {
    ShowItemHint(this, -1);
    SetControlCursor(GetControlCursor());
    return;
  }
  TRVDrawLineInfo* d = DrawLines[MouseDItem];
  ShowItemHint(this, d->ItemNo);
  if (GetItem(d->ItemNo)->MouseMove(shift, x - (d->Left - hoffs), y - (d->Top - voffs), d->ItemNo, this)) return;
  if (!(shift & rvssShift) && CanStartDragging()) {
    int32_t sd, so;
    FindDrawItemAtPos(x + hoffs, y + voffs, sd, so, true);
    if (sd >= 0 && IsInSelectionDItem(sd, so, true)) {
      SetControlCursor(crArrow);
      return;
    }
  }
  SetControlCursor(GetControlCursor());
}

// ---- Mouse capture and XOR drawing ---------------------------------------------------------------

void TCustomRVFormattedData::SetMouseCapture(TCustomRVItemInfo* item, int32_t& left, int32_t& top) {
  CaptureMouseItem = item;
  left = top = 0;
  const int32_t item_no = GetItemNo(item);
  if (item_no < 0) return;
  if (MouseDItem < 0 || MouseDItem >= DrawLines.Count() || DrawLines[MouseDItem]->ItemNo != item_no)
    GetFirstDrawItemOfItem(item_no, MouseDItem);
  if (MouseDItem < 0 || MouseDItem >= DrawLines.Count()) {
    MouseDItem = -1;
    return;
  }
  left = DrawLines[MouseDItem]->Left;
  top = DrawLines[MouseDItem]->Top;
}

void TCustomRVFormattedData::ReleaseMouseCapture(TCustomRVItemInfo* item) {
  if (item && item == CaptureMouseItem) CaptureMouseItem = nullptr;
}

void TCustomRVFormattedData::FreeItem(TCustomRVItemInfo* item, bool clearing) {
  ReleaseMouseCapture(item);
  // A chosen cell of an item that goes is no longer chosen.
  if (item && item == GetActiveSubDataItem() && !(State & rvstDestroying)) ClearActiveSubData();
  TCustomRVData::FreeItem(item, clearing);
}

void TCustomRVFormattedData::XorDrawing() {
  if (!XorDrawingCallback) return;
  XorDrawingCallback->XorDraw(this, 0, XorDrawingX, XorDrawingY);
  XorDrawingVisible = !XorDrawingVisible;
}

void TCustomRVFormattedData::AssignXorDrawing(TRVXorDrawer* drawer) {
  if (XorDrawingVisible) XorDrawing();
  XorDrawingVisible = false;
  XorDrawingCallback = drawer;
}

void TCustomRVFormattedData::UnassignXorDrawing(TRVXorDrawer* drawer) {
  if (!UsesXorDrawing(drawer)) return;
  if (XorDrawingVisible && !(State & rvstDestroying)) XorDrawing();
  XorDrawingVisible = false;
  XorDrawingCallback = nullptr;
}

void TCustomRVFormattedData::SetXorDrawingPos(int32_t x, int32_t y) {
  XorDrawingX = x;
  XorDrawingY = y;
  XorDrawing();
}

bool TCustomRVFormattedData::ClearXorDrawing() {
  if (!XorDrawingVisible) return false;
  XorDrawing();
  return true;
}

void TCustomRVFormattedData::MouseUp(int32_t button, uint32_t shift, int32_t x, int32_t y) {
  const bool selection_existed = SelectionExists(true);
  const int32_t hoffs = GetHOffs(), voffs = GetVOffs();
  if (!CaptureMouseItem) State &= ~rvstWordSelectedByDblClick;
  if ((State & rvstSelecting) && button == rvmbLeft) {
    if (MouseCoordsClamped()) {
      x = std::clamp(x, 0, GetAreaWidth());
      y = std::clamp(y, 0, GetAreaHeight());
    }
    if (State & rvstLineSelecting)
      ExtendSelectionByLines(x + hoffs, y + voffs);
    else
      ExtendSelection(x + hoffs, y + voffs);
    State &= ~(rvstSelecting | rvstLineSelecting);
    SelectingInfo.reset();
    HitTestDrawItem(x, y);
    DoSelectClickedItem();
    SelectionChanged(true);
    if (SelectionExists(false, false)) UpdateParentSelection();
    InvalidateControl();
    DoSelect();
  }
  if (GetOptions().Contains(rvoRClickDeselects) && button == rvmbRight) {
    int32_t d, o;
    FindDrawItemAtPos(x + hoffs, y + voffs, d, o, true);
    if (d >= 0 && !IsInSelectionDItem(d, o, true)) {
      FSelStartNo = FSelEndNo = d;
      FSelStartOffs = FSelEndOffs = o;
      SelectionChanged(true);
      RefreshControl();
      DoSelect();
    }
  }
  HitTestDrawItem(x, y);
  int32_t item_no = -1;
  if (MouseDItem >= 0) {
    TRVDrawLineInfo* d = DrawLines[MouseDItem];
    item_no = d->ItemNo;
    GetItem(item_no)->MouseUp(button, shift, x - (d->Left - hoffs), y - (d->Top - voffs), item_no, this);
  }
  if (CaptureMouseItem) return;
  DoRVMouseUp(button, shift, item_no, x, y);
  if (button == rvmbRight) {
    AnsiString word;
    int32_t w_item, w_offs, w_style;
    if (GetWordAt(x, y, word, w_item, w_offs, w_style)) DoRVRightClick(word, w_style, x, y);
  }
  if (button == rvmbLeft && PressedJumpId != -1 && IsAssignedOnJump() && !selection_existed) {
    const int32_t id = PressedJumpId;
    PressedJumpId = -1;
    for (const auto& j : Jumps)
      if (j->Id == id && Inside(*j, x, y, hoffs, voffs, true)) {
        DoJump(FirstJumpNo + id);
        return;
      }
    ClickedDItem = -1;
  }
  if (button == rvmbLeft) PressedJumpId = -1;
}

void TCustomRVFormattedData::DblClickAt(int32_t x, int32_t y) {
  const TRVOptions options = GetOptions();
  if (!options.Contains(rvoDblClickSelectsWord) && !(IsAssignedOnRVDblClick() && !options.Contains(rvoSingleClick)))
    return;
  AnsiString word;
  TCustomRVFormattedData* doc = this;
  int32_t item_no, offs, style_no;
  if (!GetWordAt(x, y, word, doc, item_no, offs, style_no)) return;
  if (options.Contains(rvoDblClickSelectsWord) && options.Contains(rvoAllowSelection)) {
    if (style_no < 0)
      doc->SetSelectionBounds(item_no, 0, item_no, 1);
    else
      doc->SetSelectionBounds(item_no, offs, item_no, offs + RVU_Length(word, doc->GetItemOptions(item_no)));
    // A word in a cell: the table makes the cell the chosen one.
    if (doc != this) {
      doc->UpdateParentSelection();
      doc->State |= rvstWordSelectedByDblClick;
      doc->State &= ~rvstSelecting;
    }
    InvalidateControl();
    State &= ~rvstSelecting;
    DoRVDblClick(word, style_no);
    State |= rvstWordSelectedByDblClick;
  } else if (IsAssignedOnRVDblClick()) {
    DoRVDblClick(word, style_no);
  }
}

// ---- Checkpoint visibility -----------------------------------------------------------------------

void TCustomRVFormattedData::UpdateCheckpointVisibility() {
  const uint8_t kind = GetCheckpointEventKind();
  if ((kind != 1 && kind != 2) || !IsAssignedCheckpointVisible()) return;
  const int32_t top = GetVOffs(), bottom = top + GetAreaHeight();
  UpdateCheckpointItemNumbers();
  // The first checkpoint that raises events at or below the top of the view, and the one
  // before it.
  TRVCPInfo* first_below = nullptr;
  TRVCPInfo* before = nullptr;
  int32_t first_y = 0;
  for (TRVCPInfo* cp = FirstCP(); cp; cp = cp->Next) {
    if (!cp->RaiseEvent) continue;
    int32_t d = -1;
    if (cp->ItemNo >= 0 && cp->ItemNo < ItemCount()) GetFirstDrawItemOfItem(cp->ItemNo, d);
    if (d < 0 || d >= DrawLines.Count()) break;
    const int32_t y = DrawLines[d]->Top;
    if (y >= top) {
      first_below = cp;
      first_y = y;
      break;
    }
    before = cp;
  }
  TRVCPInfo* end_cp = NotAddedCP();
  const bool end_counts = end_cp && end_cp->RaiseEvent && DocumentHeight < bottom;
  TRVCPInfo* current = nullptr;
  if (first_below)
    current = first_y <= bottom ? first_below : (kind == 1 ? before : nullptr);
  else if (end_counts)
    current = end_cp;
  else if (kind == 1)
    current = before;
  if (current == CurrentCheckpoint) return;
  CurrentCheckpoint = current;
  DoCheckpointVisible(current);
}

}  // namespace pelvar
