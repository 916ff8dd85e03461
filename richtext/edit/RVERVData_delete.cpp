// Deleting the selection: whether protection, read-only paragraphs and persistent
// checkpoints allow it, then removing the selected part item by item, keeping the lines and
// paragraphs around it well formed and leaving the caret at the deletion point.
#include <algorithm>

#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVMarker.h"

namespace pelvar {

bool TRVEditRVData::CanDeleteSelection() {
  for (int32_t k = 0; k < ItemCount(); ++k)
    if (GetItem(k)->IsPartiallySelected()) return GetItem(k)->CanDeletePartiallySelected();
  if (!SelectionExists(false)) return true;
  int32_t sn, so, en, eo;
  GetSelBounds(sn, en, so, eo, true);
  if (sn < 0 || en < 0) return true;
  for (int32_t k = sn + 1; k < en; ++k)
    if (IsProtected(k, rvprDeleteProtect)) return false;
  auto edge = [&](int32_t item_no, int32_t from, int32_t to) {
    const int32_t before = GetOffsBeforeItem(item_no), after = GetOffsAfterItem(item_no);
    from = std::max(from, before);
    to = std::min(to, after);
    if (from >= to) return true;
    if (GetItem(item_no)->StyleNo < 0) return !IsProtected(item_no, rvprDeleteProtect);
    const bool whole = from <= before && to >= after;
    if (whole && IsProtected(item_no, rvprDeleteProtect)) return false;
    if (!whole && IsProtected(item_no, rvprModifyProtect)) return false;
    return true;
  };
  if (sn == en) {
    if (!edge(sn, so, eo)) return false;
  } else if (!edge(sn, so, GetOffsAfterItem(sn)) || !edge(en, GetOffsBeforeItem(en), eo)) {
    return false;
  }
  if (IsParaReadOnly(sn) && !(IsParaStart(sn) && so <= GetOffsBeforeItem(sn))) return false;
  if (IsParaReadOnly(en) && !(eo >= GetOffsAfterItem(en) && (en + 1 >= ItemCount() || IsParaStart(en + 1))))
    return false;
  if (ParaHasOption(CurParaStyleNo, rvpaoReadOnly)) return false;
  // A selection across a paragraph start must not take a persistent checkpoint along.
  int32_t cross = -1;
  for (int32_t k = sn + 1; k <= en; ++k)
    if (IsParaStart(k)) {
      cross = k;
      break;
    }
  if (cross >= 0) {
    const int32_t last = GetLastParaItem(en);
    for (int32_t k = cross; k <= last; ++k)
      if (HasPersistentCheckpoint(k)) return false;
  }
  return true;
}

bool TRVEditRVData::DeleteSelection() {
  for (int32_t k = 0; k < ItemCount(); ++k)
    if (GetItem(k)->IsPartiallySelected()) {
      if (!GetItem(k)->CanDeletePartiallySelected()) {
        Beep();
        return false;
      }
      GetItem(k)->DeletePartiallySelected();
      return true;
    }
  if (!SelectionExists(false)) return true;
  if (!CanDeleteSelection()) {
    Beep();
    return false;
  }
  BeginUndoGroup(rvutDelete, true);
  int32_t sd, ed, sdo, edo;
  GetSelDrawItemBounds(sd, ed, sdo, edo, true);
  int32_t first_d = 0, last_d = 0;
  ExpandToParaDrawItems(sd, ed, first_d, last_d);
  int32_t start_no, start_offs, end_no, end_offs;
  GetSelBounds(start_no, end_no, start_offs, end_offs, true);
  // The tag of a replacement item: the moving end's item's, when it has the current style.
  TRVTag tag;
  {
    int32_t mi, mo;
    DrawItemPosToItemPos(FSelEndNo, FSelEndOffs, mi, mo);
    if (mi >= 0 && GetItem(mi)->StyleNo == CurTextStyleNo) tag = RV_CopyTag(GetItem(mi)->Tag, TagsArePChars());
  }
  Deselect(nullptr, false);
  if (start_offs <= GetOffsBeforeItem(start_no) && GetItem(start_no)->GetSameAsPrev() && start_no > 0 &&
      !IsMarker(start_no - 1)) {
    --start_no;
    start_offs = GetOffsAfterItem(start_no);
  }
  SkipMarkerItem(start_no, start_offs, true);
  SkipMarkerItem(end_no, end_offs, true);
  // Nothing selected of a full-line item at the start: the selection starts after it.
  if (start_no < end_no && IsFullLineItem(start_no) && start_offs >= GetOffsAfterItem(start_no)) {
    ++start_no;
    start_offs = GetOffsBeforeItem(start_no);
  }
  bool markers = false;
  for (int32_t k = start_no; k <= end_no; ++k) markers = markers || IsMarker(k);
  // The numbered lists of the deleted markers: their later items are renumbered.
  std::unique_ptr<TRVIntegerList> lists;
  int32_t lists_end = -1, marker_index = -1;
  if (markers) CollectNumberedLists(start_no, end_no, true, lists_end, marker_index, lists);
  bool ff = false, any_ff = false;
  int32_t removed = 0;
  bool follow_starts_line =
      end_offs >= GetOffsAfterItem(end_no) && (end_no + 1 >= ItemCount() || IsFromNewLine(end_no + 1));
  bool tail_kept = false;
  int32_t end_in_first = end_offs;
  if (start_no != end_no) {
    if (end_offs <= GetOffsBeforeItem(end_no)) {
      tail_kept = true;
      follow_starts_line = false;
    } else if (end_offs < GetOffsAfterItem(end_no)) {
      if (GetItem(end_no)->StyleNo >= 0) RecDeleteSubstring(end_no, 1, end_offs - 1);
      tail_kept = true;
      follow_starts_line = false;
    } else {
      follow_starts_line = end_no + 1 >= ItemCount() || IsFromNewLine(end_no + 1);
      RecDeleteItem(end_no, ff);
      any_ff = any_ff || ff;
      ++removed;
    }
    if (end_no - 1 >= start_no + 1) {
      RecDeleteItems(start_no + 1, end_no - 1, ff);
      any_ff = any_ff || ff;
      removed += end_no - 1 - start_no;
    }
    end_in_first = GetOffsAfterItem(start_no);
  }
  int32_t caret_item = start_no, caret_offs = start_offs;
  const bool whole = start_offs <= GetOffsBeforeItem(start_no) && end_in_first >= GetOffsAfterItem(start_no);
  if (whole) {
    TCustomRVItemInfo* item = GetItem(start_no);
    const bool replace = follow_starts_line && (IsFromNewLine(start_no) || IsMarker(start_no - 1));
    const bool br = item->GetBR(), sap = item->GetSameAsPrev();
    const int32_t para = item->ParaNo;
    TRVCPInfo* cp = nullptr;
    if (replace && HasPersistentCheckpoint(start_no))
      cp = item->Checkpoint->CreateCopy(TagsArePChars()).release();
    if (!replace) MovePersistentCheckpoint(start_no, false);
    RecDeleteItem(start_no, ff);
    any_ff = any_ff || ff;
    ++removed;
    if (replace) {
      TCustomRVItemInfo* n = NewTextItem(tag, para, CurTextStyleNo, sap, br);
      tag = TRVTag();
      n->Checkpoint = cp;
      AnsiString empty;
      RecInsertItem(start_no, empty, n, false, ff);
      --removed;
      caret_item = start_no;
      caret_offs = 1;
    } else if (sap || start_no >= ItemCount()) {
      caret_item = start_no - 1;
      caret_offs = caret_item >= 0 ? GetOffsAfterItem(caret_item) : 0;
      if (tail_kept && start_no < ItemCount()) RecSetNewLine(start_no, true, -1, ff);
    } else {
      if (!IsProtected(start_no, rvprParaStartProtect) || start_no == 0) {
        RecSetNewLine(start_no, false, para, ff);
        if (br) RecSetBR(start_no, true, ff);
      }
      caret_item = start_no;
      caret_offs = GetOffsBeforeItem(start_no);
    }
  } else {
    if (GetItem(start_no)->StyleNo >= 0 && end_in_first > start_offs)
      RecDeleteSubstring(start_no, start_offs, end_in_first - start_offs);
    if (tail_kept && start_no + 1 < ItemCount() && !IsFullLineItem(start_no)) RecSetNewLine(start_no + 1, true, -1, ff);
  }
  if (caret_item < 0) {
    caret_item = 0;
    caret_offs = ItemCount() > 0 ? GetOffsBeforeItem(0) : 0;
  }
  if (caret_item + 1 < ItemCount() && GetItem(caret_item)->StyleNo >= 0 &&
      CanMergeItems(caret_item, GetItem(caret_item), false, GetItem(caret_item + 1))) {
    RecConcatenateItems(caret_item);
    ++removed;
  }
  if (ItemCount() > 0) ItemTextChanged(std::min(caret_item, ItemCount() - 1), 0, true);
  if (ItemCount() == 0) {
    EnsureNotEmpty();
    TRVControlData::FormatDocument(false, true, true, 0, GetCanvas(), false, false, false);
    InvalidateControl();
  } else {
    ReformatAfterEdit(any_ff, first_d, -removed, last_d);
  }
  if (ItemCount() > 0) PlaceCaret(std::min(caret_item, ItemCount() - 1), caret_offs, true);
  if (markers) RVRecalcDocumentMarkers(this);
  if (lists && !any_ff) RenumberListsAfterDelete(caret_item, marker_index, lists.get());
  DoChange(true);
  DoSelect();
  return true;
}

}  // namespace pelvar
