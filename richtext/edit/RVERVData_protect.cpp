// Protection questions the editing code asks before it changes anything: protected text
// styles, paragraph options, read-only paragraphs, items that stick together and whether
// text may be inserted at a position.
#include "richtext/edit/RVERVData.h"

namespace pelvar {

bool TRVEditRVData::IsProtected(int32_t item_no, TRVProtectOption option) {
  TCustomRVItemInfo* item = GetItem(item_no);
  TRVStyle* style = GetRVStyle();
  int32_t style_no = item->StyleNo >= 0 ? GetActualStyle(item) : item->GetAssociatedTextStyleNo();
  if (item->StyleNo < 0 && option == rvprDeleteProtect) {
    auto* non_text = dynamic_cast<TRVNonTextItemInfo*>(item);
    if (non_text && non_text->Unremovable) return true;
  }
  if (!style || style_no < 0 || style_no >= style->TextStyles()->Count()) return false;
  return style->TextStyles()->Items(style_no)->Protection.Contains(option);
}

bool TRVEditRVData::ParaHasOption(int32_t para_no, TRVParaOption option) {
  TRVStyle* style = GetRVStyle();
  if (!style || para_no < 0 || para_no >= style->ParaStyles()->Count()) return false;
  return style->ParaStyles()->Items(para_no)->Options.Contains(option);
}

bool TRVEditRVData::IsSticking(int32_t item_no, bool silent) {
  bool r = false;
  if (ItemCount() == 0) return false;
  if (item_no == -1)
    r = IsProtected(0, rvprStickToTop);
  else if (item_no == ItemCount() - 1)
    r = IsProtected(item_no, rvprStickToBottom);
  else if (item_no >= 0 && item_no < ItemCount() - 1)
    r = IsProtected(item_no, rvprSticking) && IsProtected(item_no + 1, rvprSticking);
  if (r && !silent) Beep();
  return r;
}

bool TRVEditRVData::CanInsertHere(int32_t item_no, int32_t offs) {
  if (IsParaReadOnly(item_no)) return false;
  if (offs <= GetOffsBeforeItem(item_no)) return !IsSticking(item_no - 1, true);
  if (offs < GetOffsAfterItem(item_no)) return !IsProtected(item_no, rvprModifyProtect);
  return !IsSticking(item_no, true);
}

}  // namespace pelvar
