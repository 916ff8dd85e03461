#include "richtext/view/DLines.h"

#include "richtext/model/CRVData.h"
#include "richtext/model/RVUni.h"

namespace pelvar {

void TRVDrawLines::Clear() {
  items_.clear();
  HoleStart = -1;
  HoleCount = 0;
}

void TRVDrawLines::ReserveRange(int32_t first, int32_t last) {
  for (int32_t i = first; i <= last; ++i) items_[static_cast<size_t>(i)].reset();
  HoleStart = first;
  HoleCount = last - first + 1;
}

void TRVDrawLines::InsertDrawItem(int32_t index, std::unique_ptr<TRVDrawLineInfo> item) {
  if (HoleCount > 0) {
    // The slot is the hole's first one: the formatter fills it in order.
    items_[static_cast<size_t>(index)] = std::move(item);
    ++HoleStart;
    --HoleCount;
  } else {
    items_.insert(items_.begin() + index, std::move(item));
  }
}

void TRVDrawLines::DeleteDrawItem(int32_t index) {
  if (HoleCount > 0) {
    items_[static_cast<size_t>(index)].reset();
    --HoleStart;
    ++HoleCount;
  } else {
    items_.erase(items_.begin() + index);
  }
}

void TRVDrawLines::DropReserved() {
  if (HoleCount <= 0) return;
  items_.erase(items_.begin() + HoleStart, items_.begin() + HoleStart + HoleCount);
  HoleCount = 0;
}

AnsiString TRVDrawLines::GetSubString(int32_t d_item_no, TCustomRVData* rvdata) const {
  const TRVDrawLineInfo* d = GetItem(d_item_no);
  if (d->Length <= 0) return AnsiString();
  return RVU_Copy(rvdata->GetItemTextRaw(d->ItemNo), d->Offs, d->Length, rvdata->GetItemOptions(d->ItemNo));
}

AnsiString TRVDrawLines::GetSubStringPart(int32_t d_item_no, TCustomRVData* rvdata, int32_t from,
                                          int32_t count) const {
  const TRVDrawLineInfo* d = GetItem(d_item_no);
  if (from < 1) from = 1;
  if (from + count - 1 > d->Length) count = d->Length - from + 1;
  if (count <= 0) return AnsiString();
  return RVU_Copy(rvdata->GetItemTextRaw(d->ItemNo), d->Offs + from - 1, count, rvdata->GetItemOptions(d->ItemNo));
}

void RVDrawMisspelling(TCanvas& canvas, const TRect& rect, TColor color) {
  const int32_t y0 = rect.Bottom + 2;
  std::vector<TPoint> points;
  for (int32_t i = 0; rect.Left + 2 * i < rect.Right && i < 1024; ++i)
    points.push_back({rect.Left + 2 * i, (i % 2 == 0) ? y0 - 4 : y0 - 2});
  if (points.size() < 2) return;
  points.back().X = rect.Right;
  const TColor old_color = canvas.Pen().Color;
  const int32_t old_width = canvas.Pen().Width;
  canvas.Pen().Color = color;
  canvas.Pen().Width = 1;
  canvas.Polyline(points);
  canvas.Pen().Width = old_width;
  canvas.Pen().Color = old_color;
}

}  // namespace pelvar
