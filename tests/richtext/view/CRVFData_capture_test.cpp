// Mouse capture by an item, the XOR drawing that follows the mouse, the posted drag start of
// a press inside the selection, hotspots in a formatted document (hovered hot image,
// jumps) and the line-selection cursor in the left margin. The test font of view_fixture.h: 7 px glyphs, 4 px spaces, 13 px lines.
#include <gtest/gtest.h>

#include "richtext/model/RVImageList.h"
#include "richtext/view/CRVFData.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

// A 4x2 list: image 0 red, image 1 blue.
std::unique_ptr<TCustomImageList> MakeList() {
  auto list = std::make_unique<TCustomImageList>(nullptr, 4, 2);
  list->AddPixels(TPixelImage(4, 2, 0xFFFF0000u));
  list->AddPixels(TPixelImage(4, 2, 0xFF0000FFu));
  return list;
}

// A bullet that captures the mouse on a press and releases it on the release.
class TCapturingItem : public TRVBulletItemInfo {
 public:
  using TRVBulletItemInfo::TRVBulletItemInfo;
  std::vector<std::string> Log;
  int32_t CapLeft = -1, CapTop = -1;
  bool MouseDown(int32_t, uint32_t, int32_t x, int32_t y, int32_t, TCustomRVData* rvdata) override {
    Log.push_back("down " + std::to_string(x) + "," + std::to_string(y));
    static_cast<TCustomRVFormattedData*>(rvdata)->SetMouseCapture(this, CapLeft, CapTop);
    return true;
  }
  bool MouseMove(uint32_t, int32_t x, int32_t y, int32_t, TCustomRVData*) override {
    Log.push_back("move " + std::to_string(x) + "," + std::to_string(y));
    return true;
  }
  bool MouseUp(int32_t, uint32_t, int32_t x, int32_t y, int32_t, TCustomRVData* rvdata) override {
    Log.push_back("up " + std::to_string(x) + "," + std::to_string(y));
    static_cast<TCustomRVFormattedData*>(rvdata)->ReleaseMouseCapture(this);
    return true;
  }
};

class TMouseDoc : public viewtest::TTestDoc {
 public:
  using TTestDoc::TTestDoc;
  std::vector<int32_t> JumpsFired, Moves;
  int32_t DragPosts = 0;
  bool Dragging = true;
  bool IsAssignedOnJump() override { return true; }
  void DoJump(int32_t id) override { JumpsFired.push_back(id); }
  void DoRVMouseMove(int32_t id) override { Moves.push_back(id); }
  bool CanStartDragging() override { return Dragging; }
  void PostDragStart() override { ++DragPosts; }
  TCursor Shown = 0;
  void SetControlCursor(TCursor cursor) override { Shown = cursor; }
  TCursor GetControlCursor() override { return 1; }
};

class CaptureTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
  std::unique_ptr<TCustomImageList> list = MakeList();
  void SetUp() override { style.SelectionMode = rvsmChar; }
};

// "abc " then the item (6x4 with its spacing) at x 25, then " text".
TEST_F(CaptureTest, ACapturingItemGetsEveryMoveAndTheReleaseUntilItLetsGo) {
  TMouseDoc doc(&style, 400);
  doc.SetOptions(TRVOptions{rvoAllowSelection});
  doc.AddText("abc ", 0, 0);
  auto* item = new TCapturingItem(&doc);
  item->ImageList = list.get();
  item->ParaNo = -1;
  doc.AddItem("", item);
  doc.AddText(" text", 0, -1);
  doc.Format();
  int32_t d;
  doc.GetFirstDrawItemOfItem(1, d);
  ASSERT_GE(d, 0);
  const int32_t left = doc.DrawLines[d]->Left, top = doc.DrawLines[d]->Top;

  doc.MouseDown(rvmbLeft, rvssLeft, left + 2, top + 1);
  EXPECT_EQ(doc.CaptureMouseItem, item);
  EXPECT_EQ(item->CapLeft, left);
  EXPECT_EQ(item->CapTop, top);
  // Moves over other text still go to the item, and start no selection.
  doc.MouseMove(rvssLeft, 3, 5);
  doc.MouseMove(rvssLeft, 200, 300);
  doc.MouseUp(rvmbLeft, 0, 200, 300);
  EXPECT_EQ(item->Log, (std::vector<std::string>{"down 2,1", "move " + std::to_string(3 - left) + "," + std::to_string(5 - top),
                                                 "move " + std::to_string(200 - left) + "," + std::to_string(300 - top),
                                                 "up " + std::to_string(200 - left) + "," + std::to_string(300 - top)}));
  EXPECT_EQ(doc.CaptureMouseItem, nullptr);
  EXPECT_FALSE(doc.SelectionExists(false));
  // Released: a move over the text no longer reaches it.
  doc.MouseMove(0, 3, 5);
  EXPECT_EQ(item->Log.size(), 4u);

  // An item leaving the document gives the capture up.
  doc.MouseDown(rvmbLeft, rvssLeft, left + 2, top + 1);
  ASSERT_EQ(doc.CaptureMouseItem, item);
  doc.Clear();
  EXPECT_EQ(doc.CaptureMouseItem, nullptr);
  doc.MouseMove(0, 3, 5);  // nothing left to call
}

TEST_F(CaptureTest, XorDrawingFollowsTheMouseAndIsErasedBeforeItChanges) {
  struct Drawer : TRVXorDrawer {
    std::vector<std::pair<int32_t, int32_t>> Calls;
    void XorDraw(TCustomRVFormattedData*, int32_t, int32_t x, int32_t y) override { Calls.emplace_back(x, y); }
  } first, second;
  TMouseDoc doc(&style, 400);
  doc.AddText("abc", 0, 0);
  doc.Format();
  doc.AssignXorDrawing(&first);
  EXPECT_TRUE(doc.UsesXorDrawing(&first));
  doc.MouseMove(0, 10, 10);
  doc.MouseMove(0, 20, 5);
  EXPECT_TRUE(doc.XorDrawingVisible);
  using P = std::vector<std::pair<int32_t, int32_t>>;
  EXPECT_EQ(first.Calls, (P{{10, 10}, {10, 10}, {20, 5}}));
  // Another drawer: the visible line is erased first.
  doc.AssignXorDrawing(&second);
  EXPECT_EQ(first.Calls.size(), 4u);
  doc.MouseMove(0, 7, 7);
  doc.UnassignXorDrawing(&first);  // not the registered one: nothing
  EXPECT_TRUE(doc.UsesXorDrawing(&second));
  doc.UnassignXorDrawing(&second);
  EXPECT_EQ(second.Calls, (P{{7, 7}, {7, 7}}));
  EXPECT_FALSE(doc.ClearXorDrawing());
}

TEST_F(CaptureTest, APressInsideTheSelectionPostsTheDragStartAndLeavesTheSelection) {
  TMouseDoc doc(&style, 400);
  doc.SetOptions(TRVOptions{rvoAllowSelection});
  doc.AddText("abcdef", 0, 0);
  doc.Format();
  doc.SetSelectionBounds(0, 2, 0, 6);  // "bcde": x 7..35
  doc.MouseDown(rvmbLeft, rvssLeft, 20, 5);
  EXPECT_EQ(doc.DragPosts, 1);
  EXPECT_TRUE(doc.State & rvstDragPending);
  int32_t s, e, so, eo;
  doc.GetSelBounds(s, e, so, eo, true);
  EXPECT_EQ((std::vector<int32_t>{s, so, e, eo}), (std::vector<int32_t>{0, 2, 0, 6}));
  // While the drag is pending a press starts nothing.
  doc.MouseDown(rvmbLeft, rvssLeft, 45, 5);
  EXPECT_EQ(doc.DragPosts, 1);
  doc.GetSelBounds(s, e, so, eo, true);
  EXPECT_EQ(eo, 6);
  // The control's answer drops the pending drag; the next press selects again.
  doc.StartOleDrag();
  EXPECT_FALSE(doc.State & rvstDragPending);
  doc.MouseDown(rvmbLeft, rvssLeft, 45, 5);
  doc.MouseUp(rvmbLeft, 0, 45, 5);
  EXPECT_FALSE(doc.SelectionExists(false));
  // A drag that has not started yet, or a document that allows none: a plain selection.
  for (bool not_started : {true, false}) {
    doc.SetSelectionBounds(0, 2, 0, 6);
    doc.Dragging = not_started;
    if (not_started) doc.State |= rvstDragNotStarted;
    doc.MouseDown(rvmbLeft, rvssLeft, 20, 5);
    EXPECT_EQ(doc.DragPosts, 1);
    EXPECT_TRUE(doc.State & rvstSelecting);
    doc.MouseUp(rvmbLeft, 0, 20, 5);
    doc.State &= ~rvstDragNotStarted;
  }
}

TEST_F(CaptureTest, AHotspotShowsItsHotImageWhileHoveredAndJumpsOnAClick) {
  TMouseDoc doc(&style, 400);
  doc.FirstJumpNo = 20;
  doc.AddText("ab ", 0, 0);
  auto* hot = new TRVHotspotItemInfo(&doc);
  hot->ImageList = list.get();
  hot->ImageIndex = 0;
  hot->HotImageIndex = 1;
  hot->ParaNo = -1;
  doc.AddItem("", hot);
  auto* plain = new TRVBulletItemInfo(&doc);
  plain->ImageList = list.get();
  plain->ParaNo = -1;
  doc.AddItem("", plain);
  doc.Format();
  ASSERT_EQ(doc.Jumps.size(), 1u) << "a plain bullet is no hyperlink";
  const TRVJumpInfo& j = *doc.Jumps[0];
  EXPECT_EQ(j.Width, 6);
  auto pixel = [&] {
    TPixelImage surface(400, 40, 0xFF000000u);
    TRVPixelCanvas canvas(surface);
    doc.PaintTo(canvas, TRect{0, 0, 400, 40});
    return surface.At(j.Left + 2, j.Top + 1);
  };
  EXPECT_EQ(pixel(), 0xFFFF0000u);
  doc.MouseMove(0, j.Left + 2, j.Top + 1);
  EXPECT_EQ(doc.Moves, std::vector<int32_t>{20});
  EXPECT_TRUE(doc.State & rvstHoverDrawn);
  EXPECT_EQ(pixel(), 0xFF0000FFu);
  doc.MouseDown(rvmbLeft, rvssLeft, j.Left + 2, j.Top + 1);
  doc.MouseUp(rvmbLeft, 0, j.Left + 2, j.Top + 1);
  EXPECT_EQ(doc.JumpsFired, std::vector<int32_t>{20});
  doc.MouseMove(0, 300, 30);
  EXPECT_EQ(doc.Moves, (std::vector<int32_t>{20, -1}));
  EXPECT_EQ(pixel(), 0xFFFF0000u);
  // Enter on a focused hotspot executes it.
  hot->Execute(&doc);
  EXPECT_EQ(doc.JumpsFired, (std::vector<int32_t>{20, 20}));
}

TEST_F(CaptureTest, TheLeftMarginShowsTheLineSelectionCursorUnlessItIsOff) {
  TMouseDoc doc(&style, 400);
  doc.SetOptions(TRVOptions{rvoAllowSelection});
  doc.LM = 10;
  doc.AddText("abc", 0, 0);
  doc.Format();
  struct Case {
    TCursor line_cursor;
    int32_t x;
    TCursor shown;
  } cases[] = {{106, 3, 106}, {106, 15, 1}, {-1, 3, 1}};
  for (const Case& c : cases) {
    style.LineSelectCursor = c.line_cursor;
    doc.MouseMove(0, c.x, 5);
    EXPECT_EQ(doc.Shown, c.shown) << c.line_cursor << " at " << c.x;
  }
}

}  // namespace
}  // namespace pelvar
