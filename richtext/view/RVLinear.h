// Linear character positions: the whole document, the documents inside items (table cells)
// included, as one flat string. Every item that starts a line is preceded by one break
// (the document's first item excepted); a text item counts its characters (UTF-16 units
// for Unicode items), any other item one character; an item with sub-documents counts a
// break and the sub-document's length for each sub-document, then one break more.
#pragma once

#include <cstdint>

#include "platform/types.h"
#include "richtext/view/CRVFData.h"

namespace pelvar {

// Characters a break counts for (1: CR; otherwise CR LF), and the character standing for
// a non-text item other than a tab in extracted text.
extern int32_t LinearParaBreakLength;
extern char LinearNonTextChar;

// Length of one item with its leading break (the first-item exception not applied).
int32_t ItemLinearLength(TCustomRVData* rvdata, int32_t item_no);
int32_t RVDataLinearLength(TCustomRVData* rvdata);
// The position of (item_no, offs) of target counted from the start of rvdata (target
// itself or a document inside it), the first item's break included; False when target
// was not found.
bool ItemPosToLinear(TCustomRVData* rvdata, TCustomRVData* target, int32_t item_no, int32_t offs, int32_t& pos);
// The document, item and offset of a linear position (the first break not counted);
// False when pos lies beyond the document.
bool LinearToItemPos(TCustomRVData* rvdata, int32_t& pos, TCustomRVData*& out_rvdata, int32_t& item_no,
                     int32_t& offs);

// On the root document of a control: the selection as start and signed length; selecting
// a linear range (nothing when an end is outside the document or the ends lie in
// different documents); the text of a range (a negative length: to the end); the length.
void GetSelection(TCustomRVFormattedData& root, int32_t& sel_start, int32_t& sel_length);
void SetSelection(TCustomRVFormattedData& root, int32_t sel_start, int32_t sel_length);
WideString GetTextRange(TCustomRVData& root, int32_t range_start, int32_t range_length);
int32_t GetTextLength(TCustomRVData& root);

}  // namespace pelvar
