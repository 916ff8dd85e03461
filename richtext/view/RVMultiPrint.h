// Print records of tall pictures and controls that may continue over pages: the record
// keeps the printed pieces, each with its place inside the picture (screen pixels) and its
// height on the page (device pixels).
#pragma once

#include <memory>
#include <vector>

#include "richtext/model/RVFuncs.h"
#include "richtext/model/RVItem.h"
#include "richtext/view/DLines.h"

namespace pelvar {

class TRVMultiDrawItemPart {
 public:
  virtual ~TRVMultiDrawItemPart() = default;
  int32_t Height = 0;
  virtual int32_t GetSplitInfo() const { return -1; }
};

class TRVImagePrintPart : public TRVMultiDrawItemPart {
 public:
  int32_t ImgTop = 0;
  int32_t ImgHeight = 0;
  int32_t GetSplitInfo() const override { return ImgTop; }
};

class TRVMultiDrawItemInfo : public TRVDrawLineInfo {
 public:
  std::vector<std::unique_ptr<TRVMultiDrawItemPart>> PartsList;
};

class TRVMultiImagePrintInfo : public TRVMultiDrawItemInfo {
 public:
  TRVMultiImagePrintInfo(TRVRectItemInfo* item, const TRVScreenAndDevice& sad) : sad_(sad), Item(item) {}
  // The size given at creation stays.
  void SetSize(int32_t, int32_t) override {}
  bool InitSplit() override;
  // y: device pixels left on the page.
  bool CanSplitFirst(int32_t y) override;
  bool SplitAt(int32_t y) override;
  TRVImagePrintPart* Part(int32_t i) const { return static_cast<TRVImagePrintPart*>(PartsList[static_cast<size_t>(i)].get()); }

 private:
  int32_t ToScreen(int32_t y) const;
  int32_t ToDevice(int32_t y) const { return RV_YToDevice(y, sad_); }
  TRVScreenAndDevice sad_;

 public:
  TRVRectItemInfo* Item;
};

// The print record of a picture or control: a splittable one when the item may be split
// (MinHeightOnPage > 0, printed through a bitmap, no stretched height), else a plain one.
std::unique_ptr<TRVDrawLineInfo> CreatePrintingDrawItem(TRVRectItemInfo* item, const TRVScreenAndDevice& sad);

}  // namespace pelvar
