// List markers in a formatted document: numbered as they are added and removed, sized
// from their text (or their image list) and the level's indents, painted with their text
// or the image their counter picks.
#include <gtest/gtest.h>

#include "richtext/model/RVImageList.h"
#include "richtext/model/RVMarker.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

TEST(MarkerLayoutTest, NumberedSizedAndPainted) {
  TRVStyle style(nullptr);
  TRVListLevel* level = style.ListStyles()->Add()->Levels()->Add();
  level->ListType = rvlstDecimal;
  level->FormatString = "%0:s.";
  level->LeftIndent = 20;
  level->FirstIndent = 10;
  viewtest::TTestDoc doc(&style, 400);
  std::vector<TRVMarkerItemInfo*> markers;
  for (int i = 0; i < 3; ++i) {
    auto* m = new TRVMarkerItemInfo(&doc);
    m->StyleNo = rvsListMarker;
    m->ListNo = 0;
    m->ParaNo = 0;
    doc.AddItem("", m);
    doc.AddMarkerInList(doc.ItemCount() - 1);
    markers.push_back(m);
    doc.AddText("item", 0, -1);
  }
  EXPECT_EQ(markers[2]->DisplayString, "3.");
  doc.Format();
  int32_t d = doc.FindDrawItemOfItem(2);
  ASSERT_GE(d, 0);
  EXPECT_EQ(doc.DrawLines[d]->Width, 30);  // LeftIndent + FirstIndent beyond the 14-pixel text
  EXPECT_EQ(doc.DrawLines[d + 1]->Left, doc.DrawLines[d]->Left + 30);
  doc.PaintTo(doc.Canvas, TRect{0, 0, 400, 400});
  std::u16string texts;
  for (const auto& c : doc.Canvas.Calls("TextOut")) texts += c.Text + u"|";
  EXPECT_NE(texts.find(u"2.|"), std::u16string::npos) << std::string(texts.begin(), texts.end());
  // Removing the first marker renumbers the others.
  doc.RemoveMarkerFromList(markers[0], false);
  EXPECT_EQ(markers[1]->DisplayString, "1.");
  EXPECT_EQ(markers[2]->DisplayString, "2.");
}

TEST(MarkerLayoutTest, ImageListMarkersAreSizedByTheListAndPickTheirImageByCounter) {
  TRVStyle style(nullptr);
  TCustomImageList list(nullptr, 5, 3);
  const uint32_t colours[] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu};
  for (uint32_t c : colours) list.AddPixels(TPixelImage(5, 3, c));
  TRVListLevel* level = style.ListStyles()->Add()->Levels()->Add();
  level->SetImageList(&list);
  level->ImageIndex = 1;
  level->FirstIndent = 0;
  viewtest::TTestDoc doc(&style, 400);
  std::vector<int32_t> marker_items;
  for (int i = 0; i < 3; ++i) {
    auto* m = new TRVMarkerItemInfo(&doc);
    m->StyleNo = rvsListMarker;
    m->ListNo = 0;
    m->ParaNo = 0;
    doc.AddItem("", m);
    marker_items.push_back(doc.ItemCount() - 1);
    doc.AddMarkerInList(doc.ItemCount() - 1);
    doc.AddText("item", 0, -1);
  }
  struct Case {
    TRVListType type;
    uint32_t pixels[3];  // what the three markers show
  } cases[] = {
      {rvlstImageList, {0xFF00FF00u, 0xFF00FF00u, 0xFF00FF00u}},
      // Counters 1, 2, 3 from ImageIndex 1: images 1, 2, then none (past the list).
      {rvlstImageListCounter, {0xFF00FF00u, 0xFF0000FFu, 0xFF000000u}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type);
    level->ListType = c.type;
    doc.RemoveMarkerFromList(doc.GetItem(marker_items[0]), false);
    doc.AddMarkerInList(marker_items[0]);  // renumbered for the new type
    doc.Format();
    TPixelImage surface(400, 60, 0xFF000000u);
    TRVPixelCanvas canvas(surface);
    doc.PaintTo(canvas, TRect{0, 0, 400, 60});
    for (int i = 0; i < 3; ++i) {
      const int32_t d = doc.FindDrawItemOfItem(marker_items[static_cast<size_t>(i)]);
      ASSERT_GE(d, 0);
      EXPECT_EQ(doc.DrawLines[d]->Width, 5);
      EXPECT_EQ(doc.DrawLines[d]->Height, 3);
      EXPECT_EQ(surface.At(doc.DrawLines[d]->Left + 2, doc.DrawLines[d]->Top + 1), c.pixels[i]) << i;
    }
    EXPECT_EQ(doc.GetItem(marker_items[0])->GetImageWidth(&style), 5);
  }
}

}  // namespace
}  // namespace pelvar
