// Control items in a formatted document: a width in percent of the document sets the
// control's width and its draw item's, and printing leaves the control alone.
#include <gtest/gtest.h>

#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TFakeControl : public TObject, public TRVControlSize {
 public:
  int32_t W = 100, H = 20;
  int32_t ControlWidth() const override { return W; }
  int32_t ControlHeight() const override { return H; }
  void SetControlWidth(int32_t value) override { W = value; }
};

TEST(ControlItemTest, PercentWidthFollowsTheDocument) {
  TRVStyle style(nullptr);
  viewtest::TTestDoc doc(&style, 800);
  auto* control = new TFakeControl;  // the item's from now on
  auto* item = new TRVControlItemInfo(&doc);
  item->StyleNo = rvsComponent;
  item->ParaNo = 0;
  item->Control = control;
  item->PercentWidth = 50;
  doc.AddItem("", item);
  doc.Format();
  ASSERT_EQ(doc.DrawLines.Count(), 1);
  EXPECT_EQ(doc.DrawLines[0]->Width, 400);
  EXPECT_EQ(doc.DrawLines[0]->Height, 22);
  EXPECT_EQ(control->W, 398);
  EXPECT_EQ(item->GetMinWidth(nullptr, nullptr, nullptr), 20);
  EXPECT_FALSE(item->GetBoolValue(8));  // not resizable with a width in percent

  // While printing the control keeps its width.
  control->W = 77;
  int32_t dx = 5, descent = 0;
  item->AdjustToDocWidth(600, nullptr, true, nullptr, &doc, nullptr, dx, descent, false, false);
  EXPECT_EQ(control->W, 77);
  EXPECT_EQ(item->DrawWidth, 300);
  EXPECT_EQ(dx, 0);
  EXPECT_EQ(descent, 1);

  item->PercentWidth = 0;
  EXPECT_EQ(item->GetMinWidth(nullptr, nullptr, nullptr), 79);
}

}  // namespace
}  // namespace pelvar
