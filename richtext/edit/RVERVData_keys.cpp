// The editing keys at the caret: Enter and Shift+Enter, Backspace (with Ctrl, a word),
// Delete, and typing. Every action changes the document only through the recording
// primitives, reformats the paragraphs of the caret line and places the caret.
#include <algorithm>

#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/DocView.h"

namespace pelvar {

namespace {
bool IsEmptyText(TCustomRVData& d, int32_t item_no) {
  return item_no >= 0 && item_no < d.ItemCount() && d.GetItem(item_no)->StyleNo >= 0 && d.GetItemTextRaw(item_no).empty();
}
}  // namespace

void TRVEditRVData::CaretParaRange(int32_t& first_d_item, int32_t& last_d_item) {
  first_d_item = last_d_item = 0;
  if (NotFormatted()) return;
  int32_t f = CaretDrawItemNo, l = CaretDrawItemNo;
  if (!CharPositions.empty()) {
    f = CharPositions.front().DItemNo;
    l = CharPositions.back().DItemNo;
  }
  f = std::clamp(f, 0, DrawLines.Count() - 1);
  l = std::clamp(l, f, DrawLines.Count() - 1);
  ExpandToParaDrawItems(f, l, first_d_item, last_d_item);
}

void TRVEditRVData::ReformatAfterEdit(bool full_check, int32_t first_d_item, int32_t item_count_change,
                                      int32_t last_d_item) {
  if (NotFormatted() || !GetCanvas() || !GetRVStyle()) return;
  const int32_t n = DrawLines.Count();
  const bool bad_range = first_d_item < 0 || last_d_item >= n || last_d_item < first_d_item ||
                         DrawLines[last_d_item]->ItemNo + item_count_change < DrawLines[first_d_item]->ItemNo ||
                         ItemCount() == 0;
  if (!full_check && !bad_range) {
    // The document is as wide as its widest unbreakable piece: a range that now needs more,
    // or a document that was widened before, is formatted whole.
    const int32_t area = GetAreaWidth() - GetLeftMargin() - GetRightMargin();
    const int32_t first_item = DrawLines[first_d_item]->ItemNo;
    const int32_t last_item = std::clamp(DrawLines[last_d_item]->ItemNo + item_count_change, first_item, ItemCount() - 1);
    full_check = DocumentWidth > area || RangeWidthForUndo(first_item, last_item) > DocumentWidth;
  }
  if (full_check || bad_range) {
    TRVControlData::FormatDocument(false, true, true, 0, GetCanvas(), false, false, false);
    InvalidateControl();
    return;
  }
  FormatParasExact(first_d_item, last_d_item, item_count_change, false, false);
  InvalidateControl();
}

// ---- Enter -------------------------------------------------------------------------------------

bool TRVEditRVData::EnterKey(bool shift, bool recursed) {
  if (CaretOffs < 0 || CharPositions.empty()) return false;
  CaretDrawItemNo = CaretStop().DItemNo;
  const int32_t i = DrawLines[CaretDrawItemNo]->ItemNo;
  TCustomRVItemInfo* item = GetItem(i);
  if (ParaHasOption(item->ParaNo, rvpaoDoNotWantReturns)) {
    Beep();
    return false;
  }
  int32_t first_d, last_d;
  CaretParaRange(first_d, last_d);
  const bool at_start = CaretAtLineStart(), at_end = CaretAtLineEnd();
  bool ff = false, fft = false;
  TRVStyle* style = GetRVStyle();
  if (at_start || at_end) {
    if (IsProtected(i, rvprParaStartProtect)) {
      Beep();
      return false;
    }
    if (!shift && !recursed && IsEmptyText(*this, i) && IsMarker(i - 1)) {
      // Enter in an empty list item takes the paragraph out of the list.
      BackspaceKey(false, false, false);
      return EnterKey(shift, true);
    }
    if (!BeforeChange(false)) return false;
    BeginUndoGroup(rvutNewLine, true);
    if (at_end && item->StyleNo == CurTextStyleNo) {
      const int32_t eff = CurEffectiveTextStyle();
      if (eff >= 0 && eff < style->TextStyles()->Count() && style->TextStyles()->Items(eff)->NextStyleNo != -1)
        SetCurTextStyleNo(style->TextStyles()->Items(eff)->NextStyleNo);
    }
    if (!shift && !(i + 1 < ItemCount() && GetItem(i + 1)->GetBR())) {
      const int32_t next_para = (item->ParaNo >= 0 && item->ParaNo < style->ParaStyles()->Count())
                                    ? style->ParaStyles()->Items(item->ParaNo)->NextParaNo
                                    : -1;
      if (IsParaReadOnly(i) || (at_end && next_para != -1)) SetCurParaStyleNo(std::max(next_para, 0));
    }
    auto* n = new TRVTextItemInfo(this);
    const int32_t eff = CurEffectiveTextStyle();
    const bool cur_modify = eff >= 0 && eff < style->TextStyles()->Count() &&
                            style->TextStyles()->Items(eff)->Protection.Contains(rvprModifyProtect);
    n->StyleNo = cur_modify ? 0 : CurTextStyleNo;
    n->ParaNo = CurParaStyleNo;
    if (IsUnicodeStyle(GetActualStyle(n))) n->ItemOptions.Include(rvioUnicodeText);
    if (shift) n->ParaNo = item->ParaNo;
    if (n->StyleNo == item->StyleNo) {
      n->Tag = RV_CopyTag(item->Tag, TagsArePChars());
      n->Hint = item->Hint;
    }
    AnsiString empty;
    int32_t count = 1, caret_item = -1, caret_offs = 1;
    bool marker_added = false;
    if (at_end) {
      int32_t at = i + 1;
      if (shift) {
        n->SetBR(true);
      } else if (n->ParaNo == item->ParaNo && ReplicateListMarker(i, i + 1, fft, true)) {
        at = i + 2;
        n->SetSameAsPrev(true);
        count = 2;
        marker_added = true;
      }
      RecInsertItem(at, empty, n, false, ff);
      caret_item = at;
    } else {
      const bool after_marker = IsMarker(i - 1) && item->GetSameAsPrev();
      if (shift) {
        if (after_marker) {
          n->SetSameAsPrev(true);
          RecInsertItem(i, empty, n, false, ff);
          RecSetNewLine(i + 1, false, item->ParaNo, fft);
          RecSetBR(i + 1, true, fft);
        } else if (!CaretOnFirstStop() || CharPositions.size() == 1) {
          n->SetBR(true);
          RecInsertItem(i, empty, n, false, ff);
        } else {
          n->SetBR(item->GetBR());
          n->ParaNo = item->ParaNo;
          RecInsertItem(i, empty, n, false, ff);
          RecSetBR(i + 1, true, fft);
        }
        caret_item = i + 1;
      } else if (after_marker) {
        n->SetSameAsPrev(true);
        RecInsertItem(i, empty, n, false, ff);
        if (ReplicateListMarker(i, i + 1, fft, true)) {
          RecSetNewLine(i + 2, true, -1, fft);
          count = 2;
          marker_added = true;
        }
        caret_item = i + count;
      } else {
        RecInsertItem(i, empty, n, false, ff);
        caret_item = i + 1;
      }
      if (GetItem(caret_item)->Checkpoint && !GetItem(i)->Checkpoint) RecMoveCheckpoint(caret_item, i);
      caret_offs = GetOffsBeforeItem(caret_item);
    }
    AnsiString t;
    ItemAction(rviaTextModifying, GetItem(caret_item), t, this);
    ItemTextChanged(at_end ? caret_item : i, 0, true);
    ReformatAfterEdit(false, first_d, count, last_d);
    PlaceCaret(caret_item, caret_offs);
    if (marker_added) {
      RVRecalcDocumentMarkers(this);
      UpdateListNumbering(caret_item, caret_item);
    }
    DoChange(true);
    return true;
  }
  if (IsParaReadOnly(i)) {
    Beep();
    return false;
  }
  const int32_t offs = OffsetInCurItem();
  const bool text = item->StyleNo >= 0;
  int32_t target = -1;
  if ((!text && CaretStop().DOffs == 0) || (text && offs <= 1))
    target = i;
  else if ((!text && CaretStop().DOffs >= 1) || (text && offs >= GetOffsAfterItem(i)))
    target = i + 1;
  int32_t count = 0, caret_item = 0;
  bool marker_added = false;
  if (target >= 0 && target < ItemCount()) {
    if (IsProtected(target, rvprParaStartProtect) || !BeforeChange(false)) {
      if (IsProtected(target, rvprParaStartProtect)) Beep();
      return false;
    }
    BeginUndoGroup(rvutNewLine, true);
    caret_item = target;
    if (shift) {
      RecSetNewLine(target, false, GetItemPara(target), fft);
      RecSetBR(target, true, fft);
    } else if (ReplicateListMarker(target - 1, target, fft, true)) {
      count = 1;
      caret_item = target + 1;
      marker_added = true;
      ItemTextChanged(target + 1, 0, true);
    } else {
      RecSetNewLine(target, false, GetItemPara(target), fft);
    }
    ff = ff || fft;
  } else {
    if (IsProtected(i, rvprParaStartProtect) || IsProtected(i, rvprModifyProtect)) {
      Beep();
      return false;
    }
    if (!BeforeChange(false)) return false;
    BeginUndoGroup(rvutNewLine, true);
    AnsiString tail = RVU_Copy(GetItemTextRaw(i), offs, ItemLength(i) - offs + 1, GetItemOptions(i));
    RecDeleteSubstring(i, offs, -1);
    // The marks of the text that moved on to the new item go with the text.
    ItemTextChanged(i, offs, true);
    TCustomRVItemInfo* n = CreateTextItemCopy(item);
    n->SetSameAsPrev(false);
    n->SetBR(shift);
    n->SetPageBreakBefore(false);
    int32_t at = i + 1;
    count = 1;
    if (!shift && ReplicateListMarker(i, i + 1, fft, true)) {
      at = i + 2;
      n->SetSameAsPrev(true);
      count = 2;
      marker_added = true;
    }
    RecInsertItem(at, tail, n, false, ff);
    ItemTextChanged(at, 0, true);
    caret_item = at;
  }
  ReformatAfterEdit(ff, first_d, count, last_d);
  PlaceCaret(caret_item, GetOffsBeforeItem(caret_item));
  if (marker_added) {
    RVRecalcDocumentMarkers(this);
    UpdateListNumbering(caret_item, caret_item);
  }
  DoChange(true);
  return true;
}

// ---- Backspace ---------------------------------------------------------------------------------

bool TRVEditRVData::DeleteWholeItem(int32_t x, int32_t first_d, int32_t last_d) {
  if (!BeforeChange(false)) return false;
  if (IsParaReadOnly(x) || IsProtected(x, rvprDeleteProtect) || !MovePersistentCheckpoint(x, false)) {
    Beep();
    return false;
  }
  const bool marker = GetItem(x)->StyleNo == rvsListMarker;
  const bool sap = GetItem(x)->GetSameAsPrev(), br = GetItem(x)->GetBR();
  const bool pb = GetItem(x)->GetPageBreakBefore();
  const int32_t para = GetItem(x)->ParaNo;
  std::unique_ptr<TRVIntegerList> lists;
  int32_t lists_end = -1, marker_index = -1;
  if (marker) CollectNumberedLists(x, x, true, lists_end, marker_index, lists);
  bool ff = false, fft = false;
  RecDeleteItem(x, ff);
  int32_t count = -1;
  int32_t caret_item = x - 1, caret_offs = x > 0 ? GetOffsAfterItem(x - 1) : 0;
  if (x < ItemCount() && GetItem(x)->GetSameAsPrev()) {
    if (sap && x > 0 && CanMergeItems(x - 1, GetItem(x - 1), false, GetItem(x))) {
      const int32_t len = ItemLength(x - 1);
      RecConcatenateItems(x - 1);
      ItemTextChanged(x - 1, len + 1, true);
      --count;
      caret_offs = len + 1;
    } else if (!sap) {
      RecSetNewLine(x, false, marker ? GetItem(x)->ParaNo : para, fft);
      if (br) RecSetBR(x, true, fft);
      if (pb) RecSetPageBreak(x, true);
      caret_item = x;
      caret_offs = GetOffsBeforeItem(x);
    }
  }
  if (caret_item < 0) {
    caret_item = 0;
    caret_offs = ItemCount() > 0 ? GetOffsBeforeItem(0) : 0;
  }
  ReformatAfterEdit(ff || fft, first_d, count, last_d);
  if (ItemCount() > 0) PlaceCaret(caret_item, caret_offs);
  if (marker) RVRecalcDocumentMarkers(this);
  if (lists && !(ff || fft)) RenumberListsAfterDelete(caret_item, marker_index, lists.get());
  DoChange(true);
  return true;
}

bool TRVEditRVData::BeforeTypingChange() {
  const uint32_t typing = State & rvstTyping;
  State |= rvstTyping;
  bool allowed = false;
  try {
    allowed = BeforeChange(false);
  } catch (...) {
    State = (State & ~rvstTyping) | typing;
    throw;
  }
  State = (State & ~rvstTyping) | typing;
  return allowed;
}

void TRVEditRVData::DeleteChars(int32_t item_no, int32_t caret_offs, int32_t n, int32_t first_d, int32_t last_d) {
  if (!BeforeTypingChange()) return;
  if (IsProtected(item_no, rvprModifyProtect)) {
    Beep();
    return;
  }
  const bool full = ItemWidthForUndo(item_no) >= DocWidthForUndo() && IsFormattedForUndo();
  RecDeleteSubstring(item_no, caret_offs - n, n);
  if (TCustomDocView* control = SpellingControl())
    control->LiveSpellingTextDeleted(GetSourceRVData(), item_no, caret_offs - n, n);
  ReformatAfterEdit(full, first_d, 0, last_d);
  PlaceCaret(item_no, caret_offs - n);
  DoChange(true);
}

void TRVEditRVData::BackspaceKey(bool ctrl, bool whole_cluster, bool at_prev_line_end) {
  if (CaretOffs < 0 || CharPositions.empty()) return;
  CaretDrawItemNo = CaretStop().DItemNo;
  (void)at_prev_line_end;
  const int32_t i = DrawLines[CaretDrawItemNo]->ItemNo;
  TCustomRVItemInfo* item = GetItem(i);
  if (IsParaReadOnly(i)) {
    Beep();
    return;
  }
  const int32_t offs = OffsetInCurItem();
  const bool at_item_start = offs <= GetOffsBeforeItem(i) || (item->StyleNo >= 0 && offs <= 1);
  if (CaretOnFirstStop() && at_item_start) {
    if (i == 0) return;
    if (IsFullLineItem(i) || (IsFullLineItem(i - 1) && (item->StyleNo < 0 || !GetItemTextRaw(i).empty()))) {
      MoveLeft(false, false);
      return;
    }
    if (item->GetSameAsPrev() && !IsMarker(i - 1) && CaretDrawItemNo > 0) {
      // A wrapped line: the character before it ends the previous screen line.
      CaretDrawItemNo = CharPositions.front().DItemNo - 1;
      BuildCaretLine(GetOffsAfterDrawItem(CaretDrawItemNo) - 2);
      BackspaceKey(ctrl, whole_cluster, true);
      return;
    }
  }
  int32_t first_d, last_d;
  CaretParaRange(first_d, last_d);
  BeginUndoGroup(rvutDelete, true);
  bool ff = false, fft = false;
  if (CaretAtLineStart() && i > 0) {
    if (PageBreaksBeforeItem(i)) {
      // Only the page break goes.
      if (!BeforeChange(false)) return;
      RecSetPageBreak(i, false);
      InvalidateControl();
      DoChange(true);
      return;
    }
    if (IsMarker(i - 1)) {
      DeleteWholeItem(i - 1, first_d, last_d);
      return;
    }
    if (IsEmptyText(*this, i)) {
      if (!BeforeChange(false)) return;
      if (IsProtected(i, rvprDeleteProtect) || HasPersistentCheckpoint(i)) {
        Beep();
        return;
      }
      RecDeleteItem(i, ff);
      ItemTextChanged(i - 1, 0, false);
      ReformatAfterEdit(ff, first_d, -1, last_d);
      PlaceCaret(i - 1, GetOffsAfterItem(i - 1), true);
      DoChange(true);
      return;
    }
    if (IsEmptyText(*this, i - 1)) {
      if (!BeforeChange(false)) return;
      if (IsProtected(i - 1, rvprDeleteProtect) || IsParaReadOnly(i - 1) || ParaHasPersistentCheckpoint(i - 1)) {
        Beep();
        return;
      }
      if (!GetItem(i - 1)->GetBR()) RecSetBR(i, false, fft);
      if (IsMarker(i - 2)) RecSetNewLine(i, true, -1, fft);
      RecDeleteItem(i - 1, ff);
      ReformatAfterEdit(ff || fft, first_d, -1, last_d);
      PlaceCaret(i - 1, GetOffsBeforeItem(i - 1));
      DoChange(true);
      return;
    }
    if (IsProtected(i, rvprParaStartProtect) || IsParaReadOnly(i - 1) || ParaHasPersistentCheckpoint(i)) {
      Beep();
      return;
    }
    if (!BeforeChange(false)) return;
    if (CanMergeItems(i - 1, GetItem(i - 1), true, item)) {
      const int32_t len = ItemLength(i - 1);
      RecConcatenateItems(i - 1);
      ItemTextChanged(i - 1, len + 1, true);
      ReformatAfterEdit(false, first_d, -1, last_d);
      PlaceCaret(i - 1, len + 1, true);
    } else {
      RecSetNewLine(i, true, -1, ff);
      ReformatAfterEdit(ff, first_d, 0, last_d);
      PlaceCaret(i, GetOffsBeforeItem(i), true);
    }
    DoChange(true);
    return;
  }
  // Inside a line.
  if (item->StyleNo >= 0 && offs > 1) {
    const AnsiString s = GetItemTextRaw(i);
    int32_t n = 1;
    if (ctrl) {
      const std::u16string w = item->ItemOptions.Contains(rvioUnicodeText) ? RVU_RawUnicodeToWideString(s)
                                                                           : std::u16string();
      // Backwards to the previous word boundary (see the movement keys).
      int32_t pos = offs - 1;
      auto delim = [&](int32_t k) {
        return item->ItemOptions.Contains(rvioUnicodeText) ? IsDelimiterW(w[static_cast<size_t>(k - 1)])
                                                           : IsDelimiterA(s[static_cast<size_t>(k - 1)]);
      };
      auto ch = [&](int32_t k) {
        return item->ItemOptions.Contains(rvioUnicodeText) ? w[static_cast<size_t>(k - 1)]
                                                           : static_cast<char16_t>(static_cast<uint8_t>(s[static_cast<size_t>(k - 1)]));
      };
      while (pos > 1) {
        const bool dl = delim(pos - 1), dr = delim(pos);
        if ((dl && !dr) || (!dl && dr && ch(pos) != u' ')) break;
        --pos;
      }
      n = std::max(offs - pos, 1);
    } else if (item->ItemOptions.Contains(rvioUnicodeText)) {
      // Never half a surrogate pair; with whole_cluster the combining marks go with it.
      if (whole_cluster) {
        n = offs - PrevCharOffs(s, i, offs);
      } else {
        const std::u16string w = RVU_RawUnicodeToWideString(s);
        const size_t k = static_cast<size_t>(offs - 2);
        if (k >= 1 && w[k] >= 0xDC00 && w[k] <= 0xDFFF && w[k - 1] >= 0xD800 && w[k - 1] <= 0xDBFF) n = 2;
      }
      n = std::max(n, 1);
    }
    if (n < ItemLength(i)) {
      DeleteChars(i, offs, n, first_d, last_d);
      return;
    }
  }
  // The whole item goes.
  if ((item->GetSameAsPrev() && !IsMarker(i - 1)) || (i + 1 < ItemCount() && GetItem(i + 1)->GetSameAsPrev())) {
    DeleteWholeItem(i, first_d, last_d);
    return;
  }
  // Replaced by an empty text item.
  if (!BeforeChange(false)) return;
  if (IsProtected(i, rvprDeleteProtect)) {
    Beep();
    return;
  }
  auto* n = new TRVTextItemInfo(this);
  n->StyleNo = CurTextStyleNo;
  n->ParaNo = CurParaStyleNo;
  if (IsUnicodeStyle(GetActualStyle(n))) n->ItemOptions.Include(rvioUnicodeText);
  n->SetSameAsPrev(item->GetSameAsPrev());
  n->SetBR(item->GetBR());
  if (n->StyleNo == item->StyleNo) n->Tag = RV_CopyTag(item->Tag, TagsArePChars());
  TRVCPInfo* cp = item->Checkpoint ? item->Checkpoint->CreateCopy(TagsArePChars()).release() : nullptr;
  if (item->Checkpoint) RecDeleteCheckpoint(i);
  n->Checkpoint = cp;
  RecDeleteItem(i, ff);
  AnsiString empty;
  RecInsertItem(i, empty, n, false, fft);
  ItemTextChanged(i, 0, true);
  ReformatAfterEdit(ff || fft, first_d, 0, last_d);
  PlaceCaret(i, 1);
  DoChange(true);
}

// ---- Delete ------------------------------------------------------------------------------------

void TRVEditRVData::JoinWithNextLine(int32_t i, int32_t first_d, int32_t last_d) {
  const int32_t j = i + 1;
  if (!BeforeChange(false)) return;
  bool ff = false, fft = false;
  if (IsEmptyText(*this, i) || IsEmptyText(*this, j)) {
    const int32_t x = IsEmptyText(*this, i) ? i : j;
    const bool marker_before = IsMarker(x - 1);
    if (IsProtected(x, rvprDeleteProtect) || IsParaReadOnly(x) || ParaHasPersistentCheckpoint(x) ||
        (marker_before && IsProtected(x - 1, rvprDeleteProtect))) {
      Beep();
      return;
    }
    if (x == i && i + 1 < ItemCount() && !GetItem(i)->GetBR()) RecSetBR(i + 1, false, fft);
    std::unique_ptr<TRVIntegerList> lists;
    int32_t lists_end = -1, marker_index = -1;
    if (marker_before) CollectNumberedLists(x - 1, x - 1, true, lists_end, marker_index, lists);
    int32_t count = -1;
    if (marker_before) {
      RecDeleteItem(x, ff);
      RecDeleteItem(x - 1, fft);
      count = -2;
    } else {
      RecDeleteItem(x, ff);
    }
    if (x == i)
      ItemTextChanged(std::min(marker_before ? x - 1 : x, ItemCount() - 1), 0, false);
    else
      ItemTextChanged(x - 1, 0, false);
    ReformatAfterEdit(ff || fft, first_d, count, last_d);
    if (x == i) {
      const int32_t at = marker_before ? x - 1 : x;
      PlaceCaret(at, GetOffsBeforeItem(std::min(at, ItemCount() - 1)));
    } else {
      PlaceCaret(x - 1, GetOffsAfterItem(x - 1), true);
    }
    if (marker_before) RVRecalcDocumentMarkers(this);
    if (lists && !(ff || fft)) RenumberListsAfterDelete(x - 1, marker_index, lists.get());
    DoChange(true);
    return;
  }
  if (IsParaReadOnly(i) || IsParaReadOnly(j) || IsProtected(j, rvprParaStartProtect) || ParaHasPersistentCheckpoint(j) ||
      (IsMarker(j) && IsProtected(j, rvprDeleteProtect))) {
    Beep();
    return;
  }
  const int32_t old_end = GetOffsAfterItem(i);
  int32_t count = 0;
  std::unique_ptr<TRVIntegerList> lists;
  int32_t lists_end = -1, marker_index = -1;
  if (GetItem(i)->StyleNo >= 0 && CanMergeItems(i, GetItem(i), true, GetItem(j))) {
    RecConcatenateItems(i);
    count = -1;
  } else {
    const bool marker = IsMarker(j);
    if (marker) CollectNumberedLists(j, j, true, lists_end, marker_index, lists);
    RecSetNewLine(j, true, -1, ff);
    if (marker) {
      RecDeleteItem(j, fft);
      count = -1;
      if (j < ItemCount() && CanMergeItems(i, GetItem(i), false, GetItem(j))) {
        RecConcatenateItems(i);
        count = -2;
      }
      RVRecalcDocumentMarkers(this);
    }
  }
  ItemTextChanged(i, old_end, true);
  ReformatAfterEdit(ff || fft, first_d, count, last_d);
  PlaceCaret(i, old_end, true);
  if (lists && !(ff || fft)) RenumberListsAfterDelete(i, marker_index, lists.get());
  DoChange(true);
}

void TRVEditRVData::DeleteKey(bool ctrl, bool recursed) {
  if (CaretOffs < 0 || CharPositions.empty()) return;
  CaretDrawItemNo = CaretStop().DItemNo;
  const int32_t i = DrawLines[CaretDrawItemNo]->ItemNo;
  TCustomRVItemInfo* item = GetItem(i);
  if (IsParaReadOnly(i)) {
    Beep();
    return;
  }
  const bool at_item_end = item->StyleNo < 0 ? CaretStop().DOffs >= 1 : OffsetInCurItem() >= GetOffsAfterItem(i);
  if (CaretOnLastStop() && at_item_end) {
    if (IsFullLineItem(i) ||
        (i + 1 < ItemCount() && IsFullLineItem(i + 1) && (item->StyleNo < 0 || !GetItemTextRaw(i).empty()))) {
      MoveRight(false, false);
      return;
    }
    if (i == ItemCount() - 1) {
      if (IsEmptyText(*this, i) && i > 0) BackspaceKey(false, false, false);
      return;
    }
    if (GetItem(i + 1)->GetSameAsPrev()) {
      // A wrapped line: the next screen line goes on.
      const int32_t d = CharPositions.back().DItemNo + 1;
      CaretDrawItemNo = d;
      BuildCaretLine(GetOffsBeforeDrawItem(d) - 2);
      CaretOffs = 0;
      DeleteKey(ctrl, true);
      return;
    }
  }
  int32_t first_d, last_d;
  CaretParaRange(first_d, last_d);
  BeginUndoGroup(rvutDelete, true);
  if (CaretOnLastStop() && at_item_end) {
    JoinWithNextLine(i, first_d, last_d);
    return;
  }
  if (CaretOnLastStop()) {
    // A text item wrapped to the next line.
    const int32_t d = CharPositions.back().DItemNo + 1;
    if (d >= DrawLines.Count()) return;
    const int32_t end_here = DrawLines[CaretDrawItemNo]->Offs + DrawLines[CaretDrawItemNo]->Length;
    CaretDrawItemNo = d;
    BuildCaretLine(GetOffsBeforeDrawItem(d) - 2);
    if (DrawLines[d]->ItemNo == i && DrawLines[d]->Offs > end_here) {
      BackspaceKey(false, true, false);
    } else {
      DeleteKey(false, true);
    }
    return;
  }
  (void)recursed;
  ++CaretOffs;
  CaretDrawItemNo = CaretStop().DItemNo;
  BackspaceKey(false, true, false);
}

// ---- Typing ------------------------------------------------------------------------------------

void TRVEditRVData::InsertTextAsNewItem(const AnsiString& text) {
  if (!BeforeChange(false)) return;
  BeginUndoGroup(rvutInsert, true);
  AnsiString t = text;
  InsertTextInStyle(t, CurTextStyleNo, true, false);
}

void TRVEditRVData::TypeText(const AnsiString& text, char key_char) {
  bool partial = false;
  for (int32_t k = 0; k < ItemCount(); ++k) partial = partial || GetItem(k)->IsPartiallySelected();
  if (!GetRVStyle() || partial || !CanDeleteSelection()) {
    Beep();
    return;
  }
  if (text.empty() || CaretOffs < 0 || CharPositions.empty()) return;
  const bool uni = IsUnicodeStyle(CurEffectiveTextStyle());
  const int32_t len = static_cast<int32_t>(uni ? text.size() / 2 : text.size());
  CaretDrawItemNo = CaretStop().DItemNo;
  int32_t td = CaretDrawItemNo;
  const int32_t i = DrawLines[td]->ItemNo;
  if (IsParaReadOnly(i)) {
    Beep();
    return;
  }
  int32_t p = CaretStop().DOffs - 1, step = 1;
  int32_t t = -1;
  TCustomRVItemInfo* item = GetItem(i);
  const bool at_end = item->StyleNo < 0 ? CaretStop().DOffs >= 1 : OffsetInCurItem() >= GetOffsAfterItem(i);
  if (item->StyleNo == CurTextStyleNo) {
    t = i;
  } else if (at_end && td + 1 < DrawLines.Count() && DrawLines[td + 1]->ItemNo == i + 1 &&
             GetItem(i + 1)->GetSameAsPrev() && GetItem(i + 1)->StyleNo == CurTextStyleNo) {
    t = i + 1;
    p = 1;
    step = 2;
    ++td;
  }
  if (t < 0) {
    InsertTextAsNewItem(text);
    return;
  }
  const int32_t o = DrawLines[td]->Offs + p;
  const int32_t pos = o - step + 1;
  if (IsProtected(t, rvprConcateProtect)) {
    InsertTextAsNewItem(text);
    return;
  }
  if (IsProtected(t, rvprModifyProtect)) {
    if (pos > 1 && pos < GetOffsAfterItem(t)) {
      Beep();
      return;
    }
    InsertTextAsNewItem(text);
    return;
  }
  if (!BeforeTypingChange()) return;
  int32_t first_d, last_d;
  CaretParaRange(first_d, last_d);
  TCustomRVItemInfo* target = GetItem(t);
  const bool empty = GetItemTextRaw(t).empty();
  bool ff = false;
  if (len < 2 && !(empty && target->ParaNo != CurParaStyleNo)) {
    UndoList->AddTyping(t, pos, target->ItemOptions.Contains(rvioUnicodeText));
    UndoDest = 0;
    AnsiString s = GetItemTextRaw(t);
    RVU_Insert(text, s, pos, GetItemOptions(t));
    if (TCustomDocView* control = SpellingControl()) {
      // The word painters judge word boundaries by the typed character: the UTF-16 unit
      // itself for Unicode text (the one-byte form may be a mere '?').
      char16_t ch = static_cast<uint8_t>(key_char);
      if (target->ItemOptions.Contains(rvioUnicodeText) && text.size() >= 2)
        ch = static_cast<char16_t>(static_cast<uint8_t>(text[0]) | (static_cast<uint8_t>(text[1]) << 8));
      control->LiveSpellingCharInserted(GetSourceRVData(), t, pos, ch);
    }
    ItemAction(rviaTextModifying, target, s, this);
    SetItemTextRaw(t, s);
  } else {
    // A string, or the first character typed into an empty item of another paragraph
    // style: one group, so that Undo also gives back the paragraph style.
    BeginUndoGroup(len < 2 ? rvutTyping : rvutNewLine, true);
    if (empty && target->ParaNo != CurParaStyleNo) RecSetParaRange(t, t, CurParaStyleNo, ff);
    RecInsertSubstring(t, pos, text);
    ItemTextChanged(t, 0, true);
  }
  const bool full = ff || (IsFormattedForUndo() && ItemWidthForUndo(t) > DocWidthForUndo());
  ReformatAfterEdit(full, first_d, 0, last_d);
  // The caret goes behind the typed text.
  PlaceCaret(t, pos + len);
  DoChange(true);
}

void TRVEditRVData::TypeChar(char ch) {
  bool partial = false;
  for (int32_t k = 0; k < ItemCount(); ++k) partial = partial || GetItem(k)->IsPartiallySelected();
  if (!GetRVStyle() || partial || !CanDeleteSelection()) {
    Beep();
    return;
  }
  if (IsUnicodeStyle(CurEffectiveTextStyle())) {
    const AnsiString w = RVU_KeyboardAnsiToUnicode(AnsiString(1, ch));
    if (!w.empty()) TypeText(w, ch);
  } else {
    TypeText(AnsiString(1, ch), ch);
  }
}

}  // namespace pelvar
