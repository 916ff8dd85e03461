// Picture animation on a document without a control, the timer's ticks called by hand:
// frames of a grid bitmap in order with the period from the item's interval, the limit of
// 300 animators, frames out of view not repainted, and the shortest period of two.
#include "richtext/view/RVAnimate.h"

#include <gtest/gtest.h>

#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using viewtest::TTestDoc;

TRVGraphicItemInfo* AddAnimated(TTestDoc& doc, int32_t interval, int32_t cols = 4, int32_t rows = 2) {
  auto* item = new TRVGraphicItemInfo(&doc, std::make_unique<TBitmap>(32 * cols, 32 * rows), 0);
  item->ImageWidth = 32;
  item->ImageHeight = 32;
  item->Interval = interval;
  item->ParaNo = 0;
  doc.AddItem("", item);
  return item;
}

class AnimationTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
};

TEST_F(AnimationTest, GridFramesStepEveryIntervalAndOnlyVisibleFramesRepaint) {
  ASSERT_TRUE(AnimatorFactory);
  TTestDoc doc(&style, 400);
  TRVGraphicItemInfo* item = AddAnimated(doc, 10);
  doc.Format();
  auto* a = dynamic_cast<TRVBitmapAnimator*>(item->Animator.get());
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetFrameCount(), 8);
  ASSERT_NE(doc.AnimatorList, nullptr);
  EXPECT_EQ(doc.AnimatorList->NextDelay, 100);
  std::vector<int32_t> frames;
  for (int i = 0; i < 9; ++i) {
    doc.AnimatorList->Tick();
    EXPECT_EQ(doc.AnimatorList->NextDelay, 100);
    frames.push_back(a->FrameIndex);
  }
  EXPECT_EQ(frames, (std::vector<int32_t>{1, 2, 3, 4, 5, 6, 7, 0, 1}));
  EXPECT_EQ(doc.Invalidated.size(), 9u);
  // Frame 1 is column 1 of row 0; painting copies that square.
  TRecordingCanvas canvas(100, 100);
  item->Paint(0, 0, canvas, 0, &style, nullptr);
  ASSERT_FALSE(canvas.Calls("StretchPixels").empty());
  // Scrolled out of view: the frame changes, nothing is repainted.
  doc.VOffs = 1000;
  doc.Invalidated.clear();
  doc.AnimatorList->Tick();
  EXPECT_TRUE(doc.Invalidated.empty());
  EXPECT_EQ(a->FrameIndex, 2);
  // A width that does not divide the bitmap uses whole columns only.
  item->ImageWidth = 40;
  EXPECT_EQ(a->GetFrameCount(), 3 * 2);
}

TEST_F(AnimationTest, ThreeHundredAnimatorsAtMostAndTheShortestPeriod) {
  TTestDoc doc(&style, 400);
  std::vector<TRVGraphicItemInfo*> items;
  for (int i = 0; i < 301; ++i) items.push_back(AddAnimated(doc, 10));
  EXPECT_EQ(doc.AnimatorList->Count(), 300);
  EXPECT_NE(items[299]->Animator, nullptr);
  EXPECT_EQ(items[300]->Animator, nullptr);
  // Deleting items takes their animators out of the list.
  doc.Clear();
  EXPECT_EQ(doc.AnimatorList->Count(), 0);

  TTestDoc two(&style, 400);
  TRVGraphicItemInfo* fast = AddAnimated(two, 10);
  TRVGraphicItemInfo* slow = AddAnimated(two, 25);
  EXPECT_EQ(two.AnimatorList->NextDelay, 100);
  two.AnimatorList->Tick();
  auto* fa = static_cast<TRVAnimator*>(fast->Animator.get());
  auto* sa = static_cast<TRVAnimator*>(slow->Animator.get());
  EXPECT_EQ(fa->TimeLeft, 100);
  EXPECT_EQ(sa->TimeLeft, 150);
  // A picture with one frame, or without an interval, has no animator.
  EXPECT_EQ(AddAnimated(two, 10, 1, 1)->Animator, nullptr);
  EXPECT_EQ(AddAnimated(two, 0)->Animator, nullptr);
}

}  // namespace
}  // namespace pelvar
