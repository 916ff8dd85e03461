// The resize frame of a picture: handle positions inside and outside the frame, hit tests
// and cursors, and the rubber frame of a drag with and without Shift (proportions) and
// Ctrl (around the centre), drawn on the recording canvas.
#include <gtest/gtest.h>

#include "platform/canvas.h"
#include "richtext/model/RVItem.h"
#include "richtext/view/DLines.h"
#include "richtext/view/RVItemResizer.h"

namespace pelvar {
namespace {

struct Picture {
  TRVGraphicItemInfo item{nullptr};
  TRVDrawLineInfo draw;
  TRVItemResizer resizer;
  Picture(int32_t w, int32_t h, int32_t left = 40, int32_t top = 30)
      : draw(left, top, w, h, 3, true), resizer(&draw, &item, 7) {
    item.Spacing = 0;
  }
  // A drag of a handle by (dx, dy) with the scroll offsets (5, 100); the press is 1 pixel
  // off the handle.
  TRect DragBy(int32_t handle, int32_t dx, int32_t dy, uint32_t shift) {
    int32_t hx, hy;
    resizer.GetHandlePos(handle, true, hx, hy);
    const int32_t x = draw.Left + hx - 5 + 1, y = draw.Top + hy - 100 + 1;
    EXPECT_TRUE(resizer.StartDrag(x, y, 5, 100));
    EXPECT_EQ(resizer.DraggedHandle(), handle);
    resizer.Drag(shift, x + dx, y + dy, 5, 100);
    return resizer.Frame();
  }
};

TEST(ItemResizer, HandlesLieInsideALargeFrameAndOutsideASmallOne) {
  Picture p(100, 50);
  EXPECT_EQ(p.resizer.Width, 100);
  EXPECT_EQ(p.resizer.ItemNo, 3);
  EXPECT_EQ(p.resizer.DrawItemNo(), 7);
  const TPoint inside[8] = {{3, 3}, {97, 3}, {97, 47}, {3, 47}, {50, 3}, {97, 25}, {50, 47}, {3, 25}};
  const TCursor cursors[8] = {crSizeNWSE, crSizeNESW, crSizeNWSE, crSizeNESW, crSizeNS, crSizeWE, crSizeNS, crSizeWE};
  for (int32_t h = 0; h < 8; ++h) {
    int32_t x, y;
    p.resizer.GetHandlePos(h, true, x, y);
    EXPECT_EQ((TPoint{x, y}), inside[h]) << h;
    EXPECT_EQ(TRVItemResizer::GetHandleCursor(h), cursors[h]);
    int32_t hit = -1;
    ASSERT_TRUE(p.resizer.HitTestHandle(40 + x - 5 + 3, 30 + y - 100 - 3, 5, 100, hit)) << h;
    EXPECT_EQ(hit, h);
  }
  int32_t hit = -1;
  EXPECT_FALSE(p.resizer.HitTestHandle(40 + 20 - 5, 30 + 20 - 100, 5, 100, hit));
  EXPECT_FALSE(p.resizer.StartDrag(40 + 20 - 5, 30 + 20 - 100, 5, 100));

  Picture small(10, 10);
  int32_t x, y;
  small.resizer.GetHandlePos(0, true, x, y);
  EXPECT_EQ((TPoint{x, y}), (TPoint{-3, -3}));
  small.resizer.GetHandlePos(2, true, x, y);
  EXPECT_EQ((TPoint{x, y}), (TPoint{13, 13}));
  p.resizer.HandlesOutside = true;
  p.resizer.GetHandlePos(5, true, x, y);
  EXPECT_EQ((TPoint{x, y}), (TPoint{103, 25}));
}

TEST(ItemResizer, DragsGiveTheirFrames) {
  struct Case {
    const char* name;
    int32_t handle, dx, dy;
    uint32_t shift;
    TRect frame;
  } cases[] = {
      {"corner keeps proportions, the width ratio wins", 2, 50, 10, 0, {0, 0, 150, 75}},
      {"corner with Shift", 2, 50, 10, rvrsShift, {0, 0, 150, 75}},
      {"right middle", 5, 50, 0, 0, {0, 0, 150, 50}},
      {"right middle with Shift", 5, 50, 0, rvrsShift, {0, 0, 150, 75}},
      {"top-left corner, the height ratio wins", 0, -10, -50, 0, {-100, -50, 100, 50}},
      {"right middle with Ctrl grows on both sides", 5, 20, 0, rvrsCtrl, {-20, 0, 120, 50}},
      {"right middle with Ctrl to 30 inverts the frame", 5, -70, 0, rvrsCtrl, {70, 0, 30, 50}},
      {"bottom middle with Ctrl and Shift", 6, 0, 10, rvrsCtrl | rvrsShift, {-20, -10, 120, 60}},
      {"left middle cannot pass the right edge", 7, 150, 0, 0, {98, 0, 100, 50}},
      {"top middle cannot pass the bottom edge", 4, 0, 80, 0, {0, 48, 100, 50}},
  };
  for (const Case& c : cases) {
    Picture p(100, 50);
    EXPECT_EQ(p.DragBy(c.handle, c.dx, c.dy, c.shift), c.frame) << c.name;
  }
}

TEST(ItemResizer, ProportionsUseThePictureWithoutItsSpacing) {
  // A 100x50 picture with 1 pixel of spacing has a 102x52 draw item.
  Picture p(102, 52);
  p.item.Spacing = 1;
  EXPECT_EQ(p.DragBy(5, 50, 0, rvrsShift), (TRect{0, 0, 152, 76}));
  // Without the corner switch a corner moves freely.
  RVProportionalCornerResize = false;
  Picture q(100, 50);
  EXPECT_EQ(q.DragBy(2, 50, 10, 0), (TRect{0, 0, 150, 60}));
  RVProportionalCornerResize = true;
}

TEST(ItemResizer, FinishTakesTheFrameAndCancelKeepsTheSize) {
  Picture p(100, 50);
  p.DragBy(5, 50, 0, 0);
  EXPECT_TRUE(p.resizer.Dragging());
  p.resizer.FinishDrag();
  EXPECT_FALSE(p.resizer.Dragging());
  EXPECT_EQ(p.resizer.Width, 150);
  EXPECT_EQ(p.resizer.Height, 50);

  Picture q(100, 50);
  q.DragBy(5, 50, 0, 0);
  q.resizer.Cancel();
  EXPECT_TRUE(q.resizer.Cancelled());
  q.resizer.FinishDrag();
  EXPECT_EQ(q.resizer.Width, 100);
  EXPECT_FALSE(q.resizer.Cancelled());
}

TEST(ItemResizer, DrawsHandlesAndAnInvertingRubberFrame) {
  Picture p(100, 50);
  TRecordingCanvas canvas(400, 300);
  p.resizer.DrawHandles(canvas, 5, 100);
  p.DragBy(2, 50, 10, 0);
  p.resizer.DrawRubberFrame(canvas, 5, 100);
  EXPECT_EQ(canvas.Pen().Mode, pmCopy);
  EXPECT_EQ(canvas.Pen().Style, psSolid);
  const std::vector<TCanvasCall> rects = canvas.Calls("Rectangle");
  // Eight handles of three squares each, then the frame.
  ASSERT_EQ(rects.size(), 8u * 3 + 1);
  // The first handle: a 6x6 square in copy mode around (40+3-5, 30+3-100), then the
  // inner squares inverted.
  EXPECT_EQ(rects[0].Args, (std::vector<int32_t>{35, -70, 41, -64}));
  EXPECT_EQ(rects[0].Pen.Mode, pmCopy);
  EXPECT_EQ(rects[1].Args, (std::vector<int32_t>{36, -69, 40, -65}));
  EXPECT_EQ(rects[1].Pen.Mode, pmNot);
  // The rubber frame of 150x75, dotted and inverting.
  EXPECT_EQ(rects[24].Args, (std::vector<int32_t>{35, -70, 185, 5}));
  EXPECT_EQ(rects[24].Pen.Mode, pmNot);
  EXPECT_EQ(rects[24].Pen.Style, psDot);
}

}  // namespace
}  // namespace pelvar
