// Undo and redo on a formatted document: the primitives report when a change reaches the
// document's minimal width, and performing a group leaves the layout of the restored items.
#include <gtest/gtest.h>

#include <memory>

#include "richtext/edit/RVERVData.h"
#include "richtext/model/RVStyle.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

using viewtest::DrawItems;
using viewtest::TTestFont;

class TFormattedEditData : public TRVEditRVData {
 public:
  TFormattedEditData() : Canvas(1024, 768, std::make_shared<TTestFont>()) { SetFlags(0x0D03); }
  TRecordingCanvas Canvas;
  TCanvas* GetCanvas() override { return &Canvas; }
  int32_t GetAreaWidth() override { return 60; }
  int32_t GetAreaHeight() override { return 400; }
  void Format() { FormatDocument(false, true, false, 0, &Canvas, false, false, false); }
};

struct Doc {
  TRVStyle style{nullptr};
  TFormattedEditData data;
  Doc() {
    data.SetRVStyle(&style);
    for (const char* t : {"ab", "abcdefghij", "cd"}) {
      auto* item = new TRVTextItemInfo(&data);
      data.AddItemAsIs(t, item);
    }
    data.Format();
  }
};

TEST(RVUndoFormat, DeletingTheWidestItemAsksForAFullFormatAndUndoRestoresTheLayout) {
  Doc doc;
  ASSERT_EQ(doc.data.DocumentWidth, 70);  // the 10-letter word
  const auto layout = DrawItems(doc.data);
  bool ff = false;
  doc.data.BeginUndoGroup(rvutDelete);
  doc.data.RecDeleteItem(2, ff);
  EXPECT_FALSE(ff);
  doc.data.BeginUndoGroup(rvutDelete);
  doc.data.RecDeleteItem(1, ff);
  EXPECT_TRUE(ff);
  doc.data.Format();
  EXPECT_EQ(doc.data.DocumentWidth, 60);
  doc.data.Undo();
  doc.data.Undo();
  EXPECT_EQ(doc.data.DocumentWidth, 70);
  EXPECT_EQ(DrawItems(doc.data), layout);
}

TEST(RVUndoFormat, TypingUndoReformatsTheItem) {
  Doc doc;
  const auto layout = DrawItems(doc.data);
  AnsiString s = doc.data.GetItemTextRaw(0);
  s += "xyz";
  doc.data.SetItemTextRaw(0, s);
  for (int32_t p = 3; p <= 5; ++p) doc.data.UndoList->AddTyping(0, p, false);
  doc.data.Format();
  for (int i = 0; i < 3; ++i) doc.data.Undo();
  EXPECT_EQ(doc.data.GetItemTextRaw(0), "ab");
  EXPECT_EQ(DrawItems(doc.data), layout);
}

}  // namespace
}  // namespace pelvar
