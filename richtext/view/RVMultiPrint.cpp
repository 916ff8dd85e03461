#include "richtext/view/RVMultiPrint.h"

#include "richtext/model/RVGraphics.h"

namespace pelvar {

namespace {
int32_t ImageHeightOf(TRVRectItemInfo* item) { return item->GetImageHeight(nullptr); }
}  // namespace

int32_t TRVMultiImagePrintInfo::ToScreen(int32_t y) const {
  return sad_.ppiyDevice ? static_cast<int32_t>(int64_t{y} * sad_.ppiyScreen / sad_.ppiyDevice) : y;
}

bool TRVMultiImagePrintInfo::InitSplit() {
  if (Item->MinHeightOnPage == 0) return false;
  auto part = std::make_unique<TRVImagePrintPart>();
  part->ImgTop = 0;
  part->ImgHeight = ImageHeightOf(Item);
  part->Height = ToDevice(part->ImgHeight);
  PartsList.clear();
  PartsList.push_back(std::move(part));
  return true;
}

bool TRVMultiImagePrintInfo::CanSplitFirst(int32_t y_device) {
  const int32_t y = ToScreen(y_device);
  const int32_t h = ImageHeightOf(Item);
  if (y <= 0 || !Item->GetBoolValueEx(0, nullptr) || Item->MinHeightOnPage <= 0 || y < Item->MinHeightOnPage)
    return false;
  return h - y >= Item->MinHeightOnPage || h < y;
}

bool TRVMultiImagePrintInfo::SplitAt(int32_t y_device) {
  if (Item->MinHeightOnPage < 1) return false;
  if (PartsList.empty()) throw EDocViewError("Internal printing error");
  TRVImagePrintPart* last = Part(static_cast<int32_t>(PartsList.size()) - 1);
  if (Item->MinHeightOnPage >= last->ImgHeight) return false;
  const int32_t y = ToScreen(y_device);
  const int32_t rest = last->ImgHeight - y;
  if (rest < Item->MinHeightOnPage || y < Item->MinHeightOnPage) return false;
  last->ImgHeight = y;
  last->Height = ToDevice(y);
  auto part = std::make_unique<TRVImagePrintPart>();
  part->ImgTop = last->ImgTop + y;
  part->ImgHeight = rest;
  part->Height = ToDevice(rest);
  PartsList.push_back(std::move(part));
  return true;
}

std::unique_ptr<TRVDrawLineInfo> CreatePrintingDrawItem(TRVRectItemInfo* item, const TRVScreenAndDevice& sad) {
  bool plain = !item->GetBoolValueEx(0, nullptr) || item->MinHeightOnPage == 0;
  if (auto* g = dynamic_cast<TRVGraphicItemInfo*>(item))
    if (g->ImageHeight > 0 && g->Image && g->ImageHeight != g->Image->Height()) plain = true;
  if (plain) return std::make_unique<TRVDrawLineInfo>();
  auto* nt = static_cast<TRVNonTextItemInfo*>(item);
  auto r = std::make_unique<TRVMultiImagePrintInfo>(item, sad);
  r->Width = RV_XToDevice(nt->GetWidth(), sad);
  r->Height = RV_YToDevice(nt->GetHeight(), sad);
  return r;
}

}  // namespace pelvar
