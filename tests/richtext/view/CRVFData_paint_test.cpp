// Painting a formatted document and its backgrounds on the recording canvas: selection
// pieces, paragraph marks, paragraph backgrounds under MaxTextWidth, items whose painter
// is called with its state, and the background styles' tiles, colours and mappings.
#include <gtest/gtest.h>

#include "richtext/view/CRVFData.h"
#include "richtext/view/RVBack.h"
#include "richtext/view/RVCtrlData.h"
#include "richtext/view/RVPopup.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using viewtest::TTestDoc;

std::vector<TCanvasCall> TextCalls(const TRecordingCanvas& c) { return c.Calls("TextOut"); }

TEST(PaintTest, PartlySelectedDrawItemIsDrawnWholeThenTheSelectedPiece) {
  TRVStyle style(nullptr);
  TTestDoc doc(&style, 200);
  doc.AddText("abcdef", 0, 0);
  doc.Format();
  doc.StoreSelectionBounds(0, 0, 3, 5);
  TRecordingCanvas canvas(200, 100, std::make_shared<viewtest::TTestFont>());
  doc.PaintTo(canvas, TRect{0, 0, 200, 100});
  const auto calls = TextCalls(canvas);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Text, u"abcdef");
  EXPECT_EQ(calls[0].Args, (std::vector<int32_t>{0, 0}));
  EXPECT_EQ(calls[1].Text, u"cd");
  EXPECT_EQ(calls[1].Args, (std::vector<int32_t>{14, 0}));
  EXPECT_EQ(calls[1].Font.Color(), style.SelTextColor);
  EXPECT_NE(calls[0].Font.Color(), calls[1].Font.Color());
}

TEST(PaintTest, SelectionBetweenDrawItemsPaintsBothUnselected) {
  TRVStyle style(nullptr);
  TTestDoc doc(&style, 60);
  doc.AddText("aaaa bbbb cccc dddd", 0, 0);
  doc.Format();
  // From after the last character of the first line to before the first of the second.
  doc.FSelStartNo = 0;
  doc.FSelStartOffs = 10;
  doc.FSelEndNo = 1;
  doc.FSelEndOffs = 1;
  TRecordingCanvas canvas(200, 100, std::make_shared<viewtest::TTestFont>());
  doc.PaintTo(canvas, TRect{0, 0, 200, 100});
  const auto calls = TextCalls(canvas);
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].Font.Color(), calls[1].Font.Color());
}

TEST(PaintTest, ParagraphMarkAfterSymbolFontTextIsDrawnInArial) {
  TRVStyle style(nullptr);
  style.TextStyles()->Items(1)->FontName = "Wingdings";
  TTestDoc doc(&style, 200);
  doc.SetOptions(doc.GetOptions().Include(rvoShowSpecialCharacters));
  doc.AddText("ab", 1, 0);
  doc.AddText("cd", 1, 0);
  doc.Format();
  TRecordingCanvas canvas(200, 100, std::make_shared<viewtest::TTestFont>());
  doc.PaintTo(canvas, TRect{0, 0, 200, 100});
  const auto calls = TextCalls(canvas);
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[1].Text, u"\u00B6");
  EXPECT_EQ(calls[1].Font.Name(), "Arial");
  EXPECT_EQ(calls[1].Args, (std::vector<int32_t>{14, 0}));
  // The next text draw item applies its own font again.
  EXPECT_EQ(calls[2].Text, u"cd");
  EXPECT_EQ(calls[2].Font.Name(), "Wingdings");
}

TEST(PaintTest, ParagraphBackgroundEndsAtMaxTextWidthPlusLeftMarginMinusRightIndent) {
  TRVStyle style(nullptr);
  TParaInfo* p = style.ParaStyles()->Items(0);
  p->Background().Color = clYellow;
  p->RightIndent = 10;
  TTestDoc doc(&style, 400);
  doc.LM = 5;
  doc.MaxTW = 200;
  doc.AddText("ab", 0, 0);
  doc.Format();
  TRecordingCanvas canvas(400, 100, std::make_shared<viewtest::TTestFont>());
  doc.PaintTo(canvas, TRect{0, 0, 400, 100});
  // The background rectangle is drawn with a clear pen, one pixel wider and higher.
  const auto rects = canvas.Calls("Rectangle");
  ASSERT_FALSE(rects.empty());
  EXPECT_EQ(rects[0].Args, (std::vector<int32_t>{5, 0, 196, 14}));
  EXPECT_EQ(rects[0].Brush.Color(), clYellow);
}

// A non-text item that records how it was painted, or raises.
class TProbeItem : public TRVRectItemInfo {
 public:
  explicit TProbeItem(TCustomRVData* d) : TRVRectItemInfo(d) { StyleNo = -200; }
  int32_t GetWidth() const override { return 20; }
  int32_t GetHeight() const override { return 10; }
  void Paint(int32_t x, int32_t y, TCanvas&, uint32_t state, TRVStyle*, TRVDrawLineInfo*) override {
    if (Throw) throw Exception("probe failed");
    X = x, Y = y, State = state;
  }
  bool Throw = false;
  int32_t X = -1, Y = -1;
  uint32_t State = 0;
};

TEST(PaintTest, NonTextItemsGetTheirPositionAndSelectionState) {
  TRVStyle style(nullptr);
  TTestDoc doc(&style, 200);
  doc.AddText("ab", 0, 0);
  auto* probe = new TProbeItem(&doc);
  probe->ParaNo = -1;
  doc.AddItem("", probe);
  doc.Format();
  // Baseline-aligned: 10 px high with 1 px below the baseline.
  EXPECT_EQ(doc.DrawLines[1]->Top, 10 - 9);
  struct Case {
    int32_t start_offs, end_offs;
    bool selected;
  };
  // Selection on the item: from before it (0) to after it (1) selects it; a selection
  // starting after it or ending before it does not.
  for (const Case& c : {Case{0, 1, true}, Case{1, 1, false}, Case{0, 0, false}}) {
    doc.FSelStartNo = doc.FSelEndNo = 1;
    doc.FSelStartOffs = c.start_offs;
    doc.FSelEndOffs = c.end_offs;
    TRecordingCanvas canvas(200, 100, std::make_shared<viewtest::TTestFont>());
    doc.PaintTo(canvas, TRect{0, 0, 200, 100});
    EXPECT_EQ(probe->X, 14);
    EXPECT_EQ(probe->Y, 1);
    EXPECT_EQ((probe->State & ipsSelected) != 0, c.selected);
  }
}

// ---- Backgrounds ----------------------------------------------------------------------------------

std::unique_ptr<TRVBitmap> Tile(int32_t w, int32_t h, bool transparent) {
  auto b = std::make_unique<TRVBitmap>(w, h, 0xFF000000u);
  b->TransparentFlag = transparent;
  return b;
}

std::vector<std::vector<int32_t>> TilePositions(const TRecordingCanvas& c) {
  std::vector<std::vector<int32_t>> r;
  for (const auto& call : c.Calls("StretchPixels")) r.push_back({call.Args[0], call.Args[1]});
  return r;
}

TEST(BackgroundTest, ColourUnderPicturesAndTiles) {
  struct Case {
    const char* name;
    TBackgroundStyle style;
    bool transparent;
    int32_t vscroll;
    bool color_painted;
    std::vector<std::vector<int32_t>> tiles;
  };
  const Case cases[] = {
      {"opaque tiled: no colour", bsTiled, false, 0, false, {{0, 0}, {16, 0}, {0, 16}, {16, 16}}},
      {"transparent tiled: colour first", bsTiled, true, 0, true, {{0, 0}, {16, 0}, {0, 16}, {16, 16}}},
      {"tiled does not scroll", bsTiled, false, 7, false, {{0, 0}, {16, 0}, {0, 16}, {16, 16}}},
      {"tiled and scrolled moves by 7", bsTiledAndScrolled, false, 7, false,
       {{0, -7}, {16, -7}, {0, 9}, {16, 9}, {0, 25}, {16, 25}}},
      // Far down a long document the tile rows stay exact (no 16-bit wrap).
      {"scrolled 70000 px", bsTiledAndScrolled, false, 70000, false, {{0, 0}, {16, 0}, {0, 16}, {16, 16}}},
      {"centered: colour under it", bsCentered, false, 0, true, {{8, 8}}},
      {"bottom right", bsBottomRight, false, 0, true, {{16, 16}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TRVBackground back(false);
    back.SetImage(Tile(16, 16, c.transparent));
    back.Style = c.style;
    TRecordingCanvas canvas(32, 32);
    back.Draw(canvas, TRect{0, 0, 31, 31}, false, clRed, 32, 32, 0, 0, c.vscroll, 0);
    EXPECT_EQ(!canvas.Calls("FillRect").empty(), c.color_painted);
    EXPECT_EQ(TilePositions(canvas), c.tiles);
  }
}

TEST(BackgroundTest, StyleMappingsAndQueries) {
  TRVBackground back(true);
  EXPECT_TRUE(back.IsEmpty());
  back.Style = bsCentered;
  EXPECT_FALSE(back.IsEmpty());
  EXPECT_FALSE(back.HasVisibleImage());
  back.SetItemBackStyle(rvbsTiled);
  EXPECT_EQ(back.Style, bsTiled);
  EXPECT_EQ(back.GetItemBackStyle(), rvbsTiled);
  back.Style = bsBottomRight;
  EXPECT_EQ(back.GetItemBackStyle(), rvbsCentered);
  back.SetImage(Tile(4, 4, false));
  back.Style = bsTiled;
  EXPECT_TRUE(back.ScrollNeedsFullRedraw());
  back.Style = bsTiledAndScrolled;
  EXPECT_FALSE(back.ScrollNeedsFullRedraw());
}

TEST(BackgroundTest, ClipMovesTheOriginAndRestoresIt) {
  TRVBackground back(false);
  TRecordingCanvas canvas(100, 100);
  back.Draw(canvas, TRect{10, 20, 30, 40}, true, clRed, 100, 100, 0, 0, 0, 0);
  const auto fills = canvas.Calls("FillRect");
  ASSERT_EQ(fills.size(), 1u);
  EXPECT_EQ(fills[0].WindowOrg.X, -10);
  EXPECT_EQ(fills[0].WindowOrg.Y, -20);
  EXPECT_EQ(canvas.WindowOrg().X, 0);
  EXPECT_EQ(canvas.ClipRect(), (TRect{0, 0, 100, 100}));
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST(ItemDataTest, CellDocumentsReportTheirListsFlagsAndRefuseNewOnes) {
  TRVDataList row;
  row.Items.push_back(std::make_unique<TRVItemFormattedData>(&row));
  TRVItemFormattedData& cell = *row.Items[0];
  EXPECT_EQ(cell.GetFlags(), 0x0412);
  try {
    cell.SetFlags(0);
    FAIL() << "no error";
  } catch (const EDocViewError& e) {
    EXPECT_EQ(e.Message(), "This method is not supported for TRVItemFormattedData");
  }
  EXPECT_EQ(cell.GetRootData(), &cell);
  EXPECT_EQ(cell.GetLastVisibleItem(), -1);
}

TEST(SmartPopupTest, DefaultsAssignAndRepaintOfTheShownButton) {
  TRVSmartPopupProperties p;
  EXPECT_EQ(p.Color(), clWindow);
  EXPECT_EQ(p.HoverColor(), clInfoBk);
  EXPECT_EQ(p.ShortCut, 24616);
  EXPECT_EQ(p.ButtonType, rvsptDropDown);
  EXPECT_FALSE(p.IsHintStored());
  int32_t repaints = 0;
  AnsiString hint;
  TRVSmartPopupProperties::Button button{[&] { ++repaints; }, [&](const AnsiString& h) { hint = h; }};
  p.SetButton(&button);
  p.SetColor(clRed);
  p.SetLineColor(clBlue);
  p.SetHint("More options");
  p.ShortCut = 0;  // plain field: no repaint
  EXPECT_EQ(repaints, 2);
  EXPECT_EQ(hint, "More options");
  TRVSmartPopupProperties q;
  q.Assign(p);
  EXPECT_EQ(q.Color(), clRed);
  EXPECT_EQ(q.Hint(), "More options");
  EXPECT_EQ(q.ShortCut, 0);
  EXPECT_EQ(q.GetButton(), nullptr);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST(ItemBackgroundTest, ParagraphColourDocumentColourOrTheBackgroundUnderTheItem) {
  TRVStyle style(nullptr);
  viewtest::TTestDoc doc(&style, 200);
  doc.AddText("abc", 0, 0);
  auto* probe = new TProbeItem(&doc);
  probe->ParaNo = -1;
  doc.AddItem("", probe);
  doc.Format();
  TRect r{};
  TColor color = 0;
  std::unique_ptr<TRVBitmap> bitmap;
  bool use_bitmap = true;
  doc.GetItemBackground(1, r, true, color, bitmap, use_bitmap);
  EXPECT_EQ(color, style.Color);
  EXPECT_FALSE(use_bitmap);
  // A tiled background: the bitmap shows the tiles as they lie under the item.
  TRVBackground back(false);
  auto tile = std::make_unique<TRVBitmap>(16, 16, 0xFFFFFFFFu);
  tile->Image.Set(0, 0, 0xFF000000u);
  back.SetImage(std::move(tile));
  back.Style = bsTiled;
  doc.Back = &back;
  doc.GetItemBackground(1, r, true, color, bitmap, use_bitmap);
  ASSERT_TRUE(use_bitmap);
  ASSERT_TRUE(bitmap);
  TRVDrawLineInfo* d = doc.DrawLines[1];
  EXPECT_EQ(r, (TRect{d->Left, d->Top, d->Left + 20, d->Top + 10}));
  ASSERT_EQ(bitmap->Width(), 20);
  for (int32_t y = 0; y < 10; ++y)
    for (int32_t x = 0; x < 20; ++x) {
      const bool dark = (d->Left + x) % 16 == 0 && (d->Top + y) % 16 == 0;
      EXPECT_EQ(bitmap->Image.At(x, y) == 0xFF000000u, dark) << x << "," << y;
    }
  // A paragraph colour wins.
  style.ParaStyles()->Items(0)->Background().Color = clYellow;
  doc.GetItemBackground(1, r, true, color, bitmap, use_bitmap);
  EXPECT_EQ(color, clYellow);
  EXPECT_FALSE(use_bitmap);
}

TEST(ItemBackgroundTest, SelectAllAndHyperlinkAreas) {
  TRVStyle style(nullptr);
  viewtest::TTestDoc doc(&style, 200);
  doc.AddText("abc", 0, 0);
  doc.AddText("link", 4, -1);
  doc.Format();
  doc.SelectAll();
  int32_t si, ei, so, eo;
  doc.GetSelBounds(si, ei, so, eo, true);
  EXPECT_EQ(si, 0);
  EXPECT_EQ(so, 1);
  EXPECT_EQ(ei, 1);
  EXPECT_EQ(eo, 5);
  ASSERT_EQ(doc.Jumps.size(), 1u);
  EXPECT_EQ(doc.Jumps[0]->Left, 21);
  EXPECT_EQ(doc.GetItem(1)->JumpID, 0);
  doc.InvalidateJump(0);
  ASSERT_EQ(doc.Invalidated.size(), 1u);
  EXPECT_EQ(doc.Invalidated[0], (TRect{16, -5, 21 + 28 + 5, 13 + 5}));
}

}  // namespace
}  // namespace pelvar
