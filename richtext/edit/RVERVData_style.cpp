// Applying text and paragraph styles to the selection (or the caret): each piece of text or
// each paragraph gets the style that the conversion callback gives for its old one; text
// items are cut where the selection ends inside them, converted between ANSI and UTF-16
// where the encodings differ, and merged back with neighbours of the same style.
#include <algorithm>

#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

int32_t TRVEditRVData::StyleConvert(int32_t style_no, int32_t para_no, int32_t user_data, bool applied_to_text,
                                    bool whole) {
  int32_t n = style_no;
  if (StyleConversion) StyleConversion(style_no, para_no, user_data, applied_to_text, n, whole);
  return n;
}

void TRVEditRVData::ConvertItemStyle(int32_t item_no, int32_t user_data, bool whole_paragraphs, int32_t mode) {
  TCustomRVItemInfo* item = GetItem(item_no);
  if (item->StyleNo < 0) {
    item->ApplyStyleConversion(this, user_data, mode);
    const int32_t assoc = item->GetAssociatedTextStyleNo();
    if (assoc >= 0) {
      const int32_t s = StyleConvert(assoc, item->ParaNo, user_data, true, whole_paragraphs);
      if (s != assoc) RecSetAssocTextStyleNo(item_no, s);
    }
    return;
  }
  const int32_t old = GetActualStyle(item);
  const int32_t s = StyleConvert(old, item->ParaNo, user_data, true, whole_paragraphs);
  if (s == item->StyleNo) return;
  if (ClearTagOnStyleApp) RecSetTag(item_no, TRVTag());
  ChangeStyleConverting(item_no, old, s);
}

// Gives a text item another style, converting its text where one style is Unicode and the
// other is not. The order keeps every state in between (and while undoing) readable: the
// UTF-16 flag is never set on ANSI text.
void TRVEditRVData::ChangeStyleConverting(int32_t item_no, int32_t old_style, int32_t new_style) {
  const bool old_uni = IsUnicodeStyle(old_style), new_uni = IsUnicodeStyle(new_style);
  if (old_uni && !new_uni) {
    const AnsiString text = RVU_UnicodeToAnsi(GetStyleCodePage(new_style), GetItemTextRaw(item_no));
    RecSetStyleNo(item_no, new_style);
    RecChangeText(item_no, text);
  } else if (!old_uni && new_uni) {
    RecChangeText(item_no, RVU_AnsiToUnicode(GetStyleCodePage(old_style), GetItemTextRaw(item_no)));
    RecSetStyleNo(item_no, new_style);
  } else {
    RecSetStyleNo(item_no, new_style);
  }
}

// Cuts item_no at the selected characters [from, to) and converts that part to new_style.
void TRVEditRVData::SplitConvert(int32_t item_no, int32_t from, int32_t to, int32_t new_style, int32_t& item_count) {
  TCustomRVItemInfo* item = GetItem(item_no);
  const int32_t len = ItemLength(item_no);
  const uint8_t opts = GetItemOptions(item_no);
  const AnsiString text = GetItemTextRaw(item_no);
  bool ff = false;
  const int32_t old_style = GetActualStyle(item);
  // The head and the tail keep the item's style; the item itself keeps the selected part.
  if (to <= len) {
    AnsiString tail = RVU_Copy(text, to, len - to + 1, opts);
    RecDeleteSubstring(item_no, to, -1);
    TCustomRVItemInfo* t = CreateTextItemCopy(item);
    t->SetSameAsPrev(true);
    RecInsertItem(item_no + 1, tail, t, false, ff);
    ++item_count;
  }
  if (from > 1) {
    AnsiString head = RVU_Copy(GetItemTextRaw(item_no), 1, from - 1, opts);
    RecDeleteSubstring(item_no, 1, from - 1);
    TCustomRVItemInfo* h = CreateTextItemCopy(item);
    h->SetSameAsPrev(item->GetSameAsPrev());
    h->SetBR(item->GetBR());
    h->SetPageBreakBefore(item->GetPageBreakBefore());
    RecInsertItem(item_no, head, h, false, ff);
    ++item_count;
    if (GetItem(item_no + 1)->Checkpoint) RecMoveCheckpoint(item_no + 1, item_no);
    RecSetNewLine(item_no + 1, true, -1, ff);
    ++item_no;
  }
  // The item lost characters in front or behind: its misspelling marks no longer fit it.
  if (from > 1 || to <= len) ItemTextChanged(item_no, 0, true);
  if (ClearTagOnStyleApp) RecSetTag(item_no, TRVTag());
  ChangeStyleConverting(item_no, old_style, new_style);
}

// The item whose own inner selection (selected table cells) is the document's selection.
TCustomRVItemInfo* TRVEditRVData::PartiallySelectedItem() {
  for (int32_t i = 0; i < ItemCount(); ++i)
    if (GetItem(i)->IsPartiallySelected()) return GetItem(i);
  return nullptr;
}

void TRVEditRVData::ApplyTextStyleConversion(int32_t user_data, int32_t mode, bool whole_paragraphs) {
  TRVStyle* style = GetRVStyle();
  if (!style) return;
  // Selected cells: the table repeats the application in them (one undo step of its own).
  if (TCustomRVItemInfo* partial = PartiallySelectedItem()) {
    partial->ApplyStyleConversionToSubRVDatas(user_data, true, mode);
    return;
  }
  auto protect = [&](int32_t s, TRVProtectOption o) {
    return s >= 0 && s < style->TextStyles()->Count() && style->TextStyles()->Items(s)->Protection.Contains(o);
  };
  if (!protect(CurTextStyleNo, rvprDoNotAutoSwitch)) LastAutoTextStyleNo = CurTextStyleNo;
  const int32_t new_cur = StyleConvert(CurTextStyleNo, CurParaStyleNo, user_data, false, whole_paragraphs);
  if (!SelectionExists(false) && !whole_paragraphs) {
    const int32_t ci = CurItemNo();
    if (ci >= 0 && ci < ItemCount() && GetItem(ci)->StyleNo >= 0 && GetItemTextRaw(ci).empty()) {
      BeginUndoGroup(rvutStyleNo, true);
      int32_t first_d, last_d;
      CaretParaRange(first_d, last_d);
      ConvertItemStyle(ci, user_data, false, mode);
      ReformatAfterEdit(false, first_d, 0, last_d);
      SetCurTextStyleNo(new_cur);
      ChangeCaret(false, true, false);
      DoChange(true);
    }
    SetCurTextStyleNo(new_cur);
    return;
  }
  BeginUndoGroup(rvutStyleNo, true);
  const bool forward = SelectionIsForward();
  int32_t sn, so, en, eo;
  if (SelectionExists(false)) {
    GetSelBounds(sn, en, so, eo, true);
  } else {
    sn = en = CurItemNo();
    so = eo = OffsetInCurItem();
  }
  if (whole_paragraphs) {
    int32_t f, l;
    ExpandToPara(sn, en, f, l);
    sn = f;
    en = l;
    so = GetOffsBeforeItem(sn);
    eo = GetOffsAfterItem(en);
  }
  int32_t count = 0;
  auto convert_part = [&](int32_t item_no, int32_t from, int32_t to) {
    TCustomRVItemInfo* item = GetItem(item_no);
    if (item->StyleNo < 0) {
      ConvertItemStyle(item_no, user_data, whole_paragraphs, mode);
      return;
    }
    const int32_t before = 1, after = GetOffsAfterItem(item_no);
    from = std::max(from, before);
    to = std::min(to, after);
    if (from >= to && !(from == before && to == after)) return;
    const int32_t old = GetActualStyle(item);
    const int32_t s = StyleConvert(old, item->ParaNo, user_data, true, whole_paragraphs);
    if (s == item->StyleNo) return;
    if ((from <= before && to >= after) || protect(old, rvprStyleSplitProtect)) {
      ConvertItemStyle(item_no, user_data, whole_paragraphs, mode);
      return;
    }
    SplitConvert(item_no, from, to, s, count);
  };
  if (sn == en) {
    convert_part(sn, so, eo);
  } else {
    convert_part(en, 1, eo);
    for (int32_t k = en - 1; k > sn; --k) convert_part(k, 1, GetOffsAfterItem(k));
    if (GetItem(sn)->StyleNo >= 0 || so < GetOffsAfterItem(sn)) convert_part(sn, so, GetOffsAfterItem(sn));
  }
  // The selected range after the cuts: from the first selected character to the last.
  int32_t first = sn, last = en + count;
  int32_t sel_first = sn, sel_first_offs = so, sel_last = last, sel_last_offs = eo;
  if (sn == en) {
    if (so > 1 && GetItem(sn)->StyleNo >= 0 && count > 0 && !protect(GetActualStyle(GetItem(sn)), rvprStyleSplitProtect)) {
      // A head was cut off: the selected part is the next item.
      sel_first = sn + 1;
    }
    sel_first_offs = GetOffsBeforeItem(sel_first);
    sel_last = sel_first;
    sel_last_offs = GetOffsAfterItem(sel_last);
  } else {
    if (so > 1 && GetItem(sn)->StyleNo >= 0 && sn + 1 < ItemCount() && ItemLength(sn) == so - 1) {
      sel_first = sn + 1;
      sel_first_offs = GetOffsBeforeItem(sel_first);
    }
    sel_last_offs = GetOffsAfterItem(std::min(sel_last, ItemCount() - 1));
    if (eo < GetOffsAfterItem(std::min(last, ItemCount() - 1)) && last - 1 >= sel_first) {
      // A tail was cut off the last item: the selected part is the item before it.
      sel_last = last - 1;
      sel_last_offs = GetOffsAfterItem(sel_last);
    }
  }
  // Merge what ended up in one style.
  int32_t lo = std::max(first - 1, 0), hi = std::min(last + 1, ItemCount() - 1);
  for (int32_t k = hi; k > lo; --k) {
    if (k >= ItemCount()) continue;
    if (GetItem(k - 1)->StyleNo >= 0 && CanMergeItems(k - 1, GetItem(k - 1), false, GetItem(k)) &&
        !GetItemTextRaw(k - 1).empty() && !GetItemTextRaw(k).empty()) {
      const int32_t len = ItemLength(k - 1);
      RecConcatenateItems(k - 1);
      // The joined item's marks go; live spelling checks it again.
      ItemTextChanged(k - 1, 0, true);
      if (sel_first == k) {
        sel_first = k - 1;
        sel_first_offs += len;
      } else if (sel_first > k) {
        --sel_first;
      }
      if (sel_last == k) {
        sel_last = k - 1;
        sel_last_offs += len;
      } else if (sel_last > k) {
        --sel_last;
      }
    }
  }
  if (!NotFormatted()) {
    TRVControlData::FormatDocument(false, true, true, 0, GetCanvas(), false, false, false);
    InvalidateControl();
    sel_first = std::clamp(sel_first, 0, ItemCount() - 1);
    sel_last = std::clamp(sel_last, 0, ItemCount() - 1);
    if (forward)
      StoreSelectionBounds(sel_first, sel_last, sel_first_offs, sel_last_offs);
    else
      StoreSelectionBounds(sel_last, sel_first, sel_last_offs, sel_first_offs);
    int32_t ci, co;
    DrawItemPosToItemPos(FSelEndNo, FSelEndOffs, ci, co);
    if (ci >= 0) {
      CaretDrawItemNo = FSelEndNo;
      BuildCaretLine(FSelEndOffs - 2);
    }
    SetCurTextStyleNo(new_cur);
    ChangeCaret(false, true, false);
  } else {
    SetCurTextStyleNo(new_cur);
  }
  DoChange(true);
}

void TRVEditRVData::ApplyParaStyle(int32_t para_no_or_user_data, int32_t mode) {
  if (ItemCount() == 0) return;
  if (TCustomRVItemInfo* partial = PartiallySelectedItem()) {
    partial->ApplyStyleConversionToSubRVDatas(para_no_or_user_data, true, mode);
    return;
  }
  int32_t sn, so, en, eo;
  GetSelBoundsEx(sn, so, en, eo, true);
  if (sn < 0 || en < 0) return;
  int32_t first, last;
  ExpandToPara(sn, en, first, last);
  bool ff = false, changed = false;
  if (mode == 0) {
    changed = RecSetParaRange(first, last, para_no_or_user_data, ff);
  } else {
    std::vector<int32_t> numbers;
    for (int32_t k = first; k <= last; ++k)
      numbers.push_back(StyleConvert(GetItemPara(k), GetItemPara(k), para_no_or_user_data, false, true));
    changed = RecSetParaList(first, numbers, ff);
  }
  // Items inside the selection repeat the application in their sub-documents (a table in
  // all its cells); an item the selection only touches at its edge is left out.
  if (SelectionExists(false))
    for (int32_t k = sn; k <= en; ++k) {
      TCustomRVItemInfo* item = GetItem(k);
      if (item->StyleNo >= 0 || (k == sn && so >= GetOffsAfterItem(k)) || (k == en && eo <= GetOffsBeforeItem(k)))
        continue;
      const int32_t before = UndoList->Count() > 0 ? UndoList->Last()->Count() : 0;
      const int32_t groups = UndoList->Count();
      item->ApplyStyleConversionToSubRVDatas(para_no_or_user_data, false, mode);
      if (UndoList->Count() != groups || (groups > 0 && UndoList->Last()->Count() != before) ||
          GetUndoLimit() == 0)
        changed = true;
    }
  if (changed && !NotFormatted()) {
    const int32_t ci = CurItemNo(), co = OffsetInCurItem();
    int32_t s1 = -1, e1 = -1, s2 = 0, e2 = 0;
    const bool had_sel = SelectionExists(false);
    if (had_sel) GetSelBounds(s1, e1, s2, e2, false);
    TRVControlData::FormatDocument(false, true, true, 0, GetCanvas(), false, false, false);
    InvalidateControl();
    if (had_sel) StoreSelectionBounds(s1, e1, s2, e2);
    int32_t d, d_offs;
    ItemPosToDrawItemPos(ci, co, d, d_offs);
    MoveToDrawItemPos(d, d_offs);
  }
  if (!NotFormatted()) ChangeCaret(false, false, false);
  if (changed) DoChange(true);
}

}  // namespace pelvar
