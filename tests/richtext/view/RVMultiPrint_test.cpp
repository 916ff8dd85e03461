// Tall pictures over pages: where a 300-pixel picture with a smallest piece of 100 pixels
// may be cut, at screen and at printer resolution, and which pictures get a splittable
// print record.
#include "richtext/view/RVMultiPrint.h"

#include <gtest/gtest.h>

#include "richtext/model/CRVData.h"
#include "richtext/model/RVGraphics.h"

namespace pelvar {
namespace {

TEST(ImagePrintTest, SplitsOnlyWhereBothPiecesKeepTheirMinimum) {
  TCustomRVData doc;
  TRVGraphicItemInfo item(&doc, std::make_unique<TBitmap>(50, 300), 0);
  item.MinHeightOnPage = 100;
  TRVScreenAndDevice sad;
  auto d = CreatePrintingDrawItem(&item, sad);
  auto* info = dynamic_cast<TRVMultiImagePrintInfo*>(d.get());
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->Height, 302);  // with the spacing
  ASSERT_TRUE(info->InitSplit());
  EXPECT_FALSE(info->CanSplitFirst(250));  // 50 would be left
  EXPECT_FALSE(info->SplitAt(250));
  EXPECT_FALSE(info->CanSplitFirst(60));
  EXPECT_TRUE(info->CanSplitFirst(150));
  ASSERT_TRUE(info->SplitAt(150));
  ASSERT_EQ(info->PartsList.size(), 2u);
  EXPECT_EQ(info->Part(0)->ImgHeight, 150);
  EXPECT_EQ(info->Part(1)->ImgTop, 150);
  EXPECT_EQ(info->Part(1)->ImgHeight, 150);
  EXPECT_EQ(info->Part(1)->GetSplitInfo(), 150);
  EXPECT_FALSE(info->SplitAt(100));  // 150 cannot give two pieces of 100

  // A 600-dpi printer: device values are converted to screen pixels.
  TRVScreenAndDevice printer;
  printer.ppixDevice = printer.ppiyDevice = 600;
  auto p = CreatePrintingDrawItem(&item, printer);
  auto* pi = static_cast<TRVMultiImagePrintInfo*>(p.get());
  ASSERT_TRUE(pi->InitSplit());
  EXPECT_EQ(pi->Part(0)->Height, 1875);
  ASSERT_TRUE(pi->SplitAt(1200));  // 192 screen pixels
  EXPECT_EQ(pi->Part(0)->ImgHeight, 192);
  EXPECT_EQ(pi->Part(1)->ImgHeight, 108);
  EXPECT_EQ(pi->Part(1)->Height, 675);
}

TEST(ImagePrintTest, PlainRecordsForMetafilesStretchedHeightsAndNoMinimum) {
  TCustomRVData doc;
  TRVScreenAndDevice sad;
  TRVGraphicItemInfo none(&doc, std::make_unique<TBitmap>(10, 300), 0);
  EXPECT_EQ(dynamic_cast<TRVMultiImagePrintInfo*>(CreatePrintingDrawItem(&none, sad).get()), nullptr);
  auto meta = std::make_unique<TMetafile>();
  meta->SetEmpty(10, 300);
  TRVGraphicItemInfo m(&doc, std::move(meta), 0);
  m.MinHeightOnPage = 100;
  EXPECT_EQ(dynamic_cast<TRVMultiImagePrintInfo*>(CreatePrintingDrawItem(&m, sad).get()), nullptr);
  TRVGraphicItemInfo stretched(&doc, std::make_unique<TBitmap>(10, 300), 0);
  stretched.MinHeightOnPage = 100;
  stretched.ImageHeight = 200;
  EXPECT_EQ(dynamic_cast<TRVMultiImagePrintInfo*>(CreatePrintingDrawItem(&stretched, sad).get()), nullptr);
  TRVMultiImagePrintInfo empty(&stretched, sad);
  EXPECT_THROW(empty.SplitAt(150), EDocViewError);
}

}  // namespace
}  // namespace pelvar
