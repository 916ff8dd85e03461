// List markers in a formatted document: numbered as they are added and removed, sized
// from their text and the level's indents, painted with their text.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace pelvar
