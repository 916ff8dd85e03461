// Linear character positions over documents of text, pictures, tabs and an item with two
// sub-documents (a stand-in for a two-cell table): lengths, text ranges in UTF-16 with
// Czech and non-BMP characters kept, positions both ways and the selection as start and
// signed length.
#include "richtext/view/RVLinear.h"

#include <gtest/gtest.h>

#include "richtext/model/RVUni.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using viewtest::TTestDoc;

// An item with two sub-documents enumerated in order.
class TTwoCells : public TRVRectItemInfo {
 public:
  explicit TTwoCells(TCustomRVData* owner) : TRVRectItemInfo(owner) { StyleNo = -60; }
  struct Pos : TRVStoreSubRVData {
    int32_t Index = 0;
  };
  TCustomRVData Cells[2];
  TCustomRVData* GetSubRVData(std::unique_ptr<TRVStoreSubRVData>& state, TRVSubRVDataPos position) override {
    if (position == rvdFirst) {
      state = std::make_unique<Pos>();
      return &Cells[0];
    }
    auto* p = static_cast<Pos*>(state.get());
    if (!p || ++p->Index > 1) {
      state.reset();
      return nullptr;
    }
    return &Cells[p->Index];
  }
};

class LinearTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
};

TEST_F(LinearTest, TwoParagraphsRangesAndPositions) {
  TTestDoc doc(&style, 400);
  EXPECT_EQ(GetTextLength(doc), 0);
  EXPECT_EQ(GetTextRange(doc, 0, -1), u"");
  doc.AddText("abc", 0, 0);
  doc.AddText("de", 0, 0);
  EXPECT_EQ(GetTextLength(doc), 6);
  EXPECT_EQ(GetTextRange(doc, 2, 3), u"c\rd");
  EXPECT_EQ(GetTextRange(doc, 1, -1), u"bc\rde");
  EXPECT_EQ(GetTextRange(doc, 0, 0), u"");
  TCustomRVData* d = nullptr;
  int32_t pos = 4, item_no, offs;
  ASSERT_TRUE(LinearToItemPos(&doc, pos, d, item_no, offs));
  EXPECT_EQ(item_no, 1);
  EXPECT_EQ(offs, 1);
  pos = 7;  // one past the end
  EXPECT_FALSE(LinearToItemPos(&doc, pos, d, item_no, offs));
  int32_t lin = 0;
  ASSERT_TRUE(ItemPosToLinear(&doc, &doc, 1, 2, lin));
  EXPECT_EQ(lin - LinearParaBreakLength, 5);
}

TEST_F(LinearTest, NonTextItemsAndSubDocuments) {
  TTestDoc doc(&style, 400);
  doc.AddText("ab", 0, 0);
  auto* tab = new TRVTabItemInfo(&doc);
  tab->StyleNo = rvsTab;
  tab->ParaNo = -1;
  doc.AddItem("", tab);
  doc.AddText("cd", 0, -1);
  EXPECT_EQ(GetTextRange(doc, 0, -1), u"ab\tcd");

  TTestDoc t(&style, 400);
  t.AddText("x", 0, 0);
  auto* table = new TTwoCells(&t);
  table->Cells[0].AddTextItem("a", 0, 0);
  table->Cells[1].AddTextItem("b", 0, 0);
  t.AddItem("", table);
  EXPECT_EQ(GetTextLength(t), 7);
  EXPECT_EQ(GetTextRange(t, 0, -1), u"x\r\ra\rb\r");
  // Position 3 is before "a" inside the first cell; 5 before "b".
  TCustomRVData* d = nullptr;
  int32_t pos = 3, item_no, offs;
  ASSERT_TRUE(LinearToItemPos(&t, pos, d, item_no, offs));
  EXPECT_EQ(d, &table->Cells[0]);
  EXPECT_EQ(offs, 1);
  pos = 6;
  ASSERT_TRUE(LinearToItemPos(&t, pos, d, item_no, offs));
  EXPECT_EQ(d, &table->Cells[1]);
  EXPECT_EQ(offs, 2);
  int32_t lin = 0;
  ASSERT_TRUE(ItemPosToLinear(&t, &table->Cells[1], 0, 2, lin));
  EXPECT_EQ(lin - LinearParaBreakLength, 6);
  // A range across the cell boundary selects nothing.
  t.Format();
  SetSelection(t, 4, 3);
  int32_t s, l;
  GetSelection(t, s, l);
  EXPECT_EQ(l, 0);
}

TEST_F(LinearTest, UnicodeTextKeepsItsCharactersAndCountsUtf16Units) {
  TTestDoc doc(&style, 400);
  doc.AddTextW(u"\u017Elu\u0165ou\u010Dk\u00FD", 0, 0);  // Czech
  doc.AddTextW(u"a\U0001F600b", 0, 0);                    // a surrogate pair
  doc.AddText("\x9A\xE8", 0, 0);                           // Windows-1250 bytes
  EXPECT_EQ(GetTextLength(doc), 9 + 1 + 4 + 1 + 2);
  EXPECT_EQ(GetTextRange(doc, 0, -1), u"\u017Elu\u0165ou\u010Dk\u00FD\ra\U0001F600b\r\u0161\u010D");
  EXPECT_EQ(GetTextRange(doc, 11, 2), u"\U0001F600");
}

TEST_F(LinearTest, SelectionAsStartAndSignedLength) {
  TTestDoc doc(&style, 400);
  doc.AddText("abcdefgh", 0, 0);
  doc.AddText("ijklmnop", 0, 0);
  doc.Format();
  int32_t s, l;
  GetSelection(doc, s, l);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(l, 0);
  SetSelection(doc, 10, -6);  // made backwards from 10 to 4
  GetSelection(doc, s, l);
  EXPECT_EQ(s, 10);
  EXPECT_EQ(l, -6);
  int32_t si, ei, so, eo;
  doc.GetSelBounds(si, ei, so, eo, false);
  EXPECT_EQ((std::vector<int32_t>{si, so, ei, eo}), (std::vector<int32_t>{1, 2, 0, 5}));
  SetSelection(doc, 30, 2);  // beyond the end: nothing changes
  GetSelection(doc, s, l);
  EXPECT_EQ(s, 10);
}

}  // namespace
}  // namespace pelvar
