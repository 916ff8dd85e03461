// Mouse handling of a formatted document with the test font (7 px glyphs, 4 px spaces,
// 13 px lines): clicks on hyperlinks fire the jump only for a press and release on the same
// link with nothing selected before; selection by characters, words and lines; the word
// under a point.
#include <gtest/gtest.h>

#include "richtext/view/CRVFData.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TMouseDoc : public viewtest::TTestDoc {
 public:
  using TTestDoc::TTestDoc;
  std::vector<int32_t> JumpsFired, Moves;
  std::vector<std::string> DblClicks;
  bool IsAssignedOnJump() override { return true; }
  bool IsAssignedOnRVDblClick() override { return true; }
  void DoJump(int32_t id) override { JumpsFired.push_back(id); }
  void DoRVMouseMove(int32_t id) override { Moves.push_back(id); }
  void DoRVDblClick(const AnsiString& word, int32_t) override { DblClicks.push_back(word); }
  void Click(int32_t x1, int32_t y1, int32_t x2, int32_t y2) {
    MouseDown(rvmbLeft, rvssLeft, x1, y1);
    MouseMove(rvssLeft, x2, y2);
    MouseUp(rvmbLeft, 0, x2, y2);
  }
};

class MouseTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
  void SetUp() override { style.SelectionMode = rvsmChar; }
};

// "ab" (link) " " "cd" (link): link 0 at x 0..14, link 1 at x 18..32.
TEST_F(MouseTest, JumpFiresOnlyForPressAndReleaseOnTheSameLinkWithoutSelection) {
  TMouseDoc doc(&style, 400);
  doc.SetOptions(TRVOptions{rvoAllowSelection});
  doc.FirstJumpNo = 100;
  doc.AddText("ab", 4, 0);
  doc.AddText(" ", 0, -1);
  doc.AddText("cd", 5, -1);
  doc.AddText("plain text", 0, 0);
  doc.Format();
  ASSERT_EQ(doc.Jumps.size(), 2u);

  doc.Click(3, 5, 3, 5);
  EXPECT_EQ(doc.JumpsFired, std::vector<int32_t>{100});
  doc.Click(19, 5, 31, 5);  // a drag inside one link selects characters
  EXPECT_EQ(doc.JumpsFired, std::vector<int32_t>{100});
  doc.Deselect(nullptr, false);
  doc.Click(22, 5, 22, 5);
  EXPECT_EQ(doc.JumpsFired, (std::vector<int32_t>{100, 101}));
  // Press on one link, release on the other: nothing.
  doc.MouseDown(rvmbLeft, 0, 3, 5);
  doc.MouseUp(rvmbLeft, 0, 22, 5);
  EXPECT_EQ(doc.JumpsFired.size(), 2u);
  // Text selected before the click: no jump.
  doc.SetSelectionBounds(3, 1, 3, 6);
  doc.MouseDown(rvmbLeft, 0, 3, 5);
  doc.MouseUp(rvmbLeft, 0, 3, 5);
  EXPECT_EQ(doc.JumpsFired.size(), 2u);
}

TEST_F(MouseTest, HoverMovesFromLinkToLinkAndOff) {
  TMouseDoc doc(&style, 400);
  doc.FirstJumpNo = 10;
  doc.AddText("ab", 4, 0);
  doc.AddText("cd", 5, -1);
  doc.AddText("xyz", 0, -1);
  doc.Format();
  doc.MouseMove(0, 3, 5);
  doc.MouseMove(0, 5, 5);   // the same link: no new event
  doc.MouseMove(0, 17, 5);  // straight onto the next link
  doc.MouseMove(0, 40, 5);  // off the links
  EXPECT_EQ(doc.Moves, (std::vector<int32_t>{10, 11, -1}));
  EXPECT_EQ(doc.LastJumpMovedAbove, -1);
}

TEST_F(MouseTest, WordModeDragOntoNextWordSelectsBothWordsWhole) {
  style.SelectionMode = rvsmWord;
  TMouseDoc doc(&style, 400);
  doc.SetOptions(TRVOptions{rvoAllowSelection});
  // "hello world again": hello 0..35, space 35..39, world 39..74, space, again 78..
  doc.AddText("hello world again", 0, 0);
  doc.Format();
  int32_t si, ei, so, eo;
  // Press inside "hello" (after "he"), drag into "world" (after "wo").
  doc.MouseDown(rvmbLeft, rvssLeft, 14, 5);
  doc.MouseMove(rvssLeft, 53, 5);
  doc.MouseUp(rvmbLeft, 0, 53, 5);
  doc.GetSelBounds(si, ei, so, eo, false);
  EXPECT_EQ(so, 1);
  EXPECT_EQ(eo, 12);  // after "world"
  // Dragging back into the pressed word returns to a character selection from the press.
  doc.MouseDown(rvmbLeft, rvssLeft, 14, 5);
  doc.MouseMove(rvssLeft, 53, 5);
  doc.MouseMove(rvssLeft, 28, 5);
  doc.GetSelBounds(si, ei, so, eo, false);
  EXPECT_EQ(so, 3);
  EXPECT_EQ(eo, 5);
  doc.MouseUp(rvmbLeft, 0, 28, 5);
  // Dragging left from inside "world" onto "hello" keeps all of "world" and snaps to the
  // start of "hello".
  doc.MouseDown(rvmbLeft, rvssLeft, 53, 5);
  doc.MouseMove(rvssLeft, 14, 5);
  doc.MouseUp(rvmbLeft, 0, 14, 5);
  doc.GetSelBounds(si, ei, so, eo, false);
  EXPECT_EQ(so, 12);
  EXPECT_EQ(eo, 1);
}

TEST_F(MouseTest, CharacterDragLineSelectionAndWordUnderPoint) {
  TMouseDoc doc(&style, 400);
  doc.SetOptions(TRVOptions{rvoAllowSelection, rvoDblClickSelectsWord});
  doc.LM = 10;
  doc.AddText("one two", 0, 0);
  doc.AddText("three", 0, 0);
  doc.Format();
  int32_t si, ei, so, eo;
  doc.Click(10 + 7, 5, 10 + 14, 18);  // from after "o" to after "th"
  doc.GetSelBounds(si, ei, so, eo, false);
  EXPECT_EQ((std::vector<int32_t>{si, so, ei, eo}), (std::vector<int32_t>{0, 2, 1, 3}));
  // A press in the left margin selects the whole line (line selection cursor set).
  doc.MouseDown(rvmbLeft, rvssLeft, 2, 18);
  doc.MouseUp(rvmbLeft, 0, 2, 18);
  doc.GetSelBounds(si, ei, so, eo, true);
  EXPECT_EQ((std::vector<int32_t>{si, so, ei, eo}), (std::vector<int32_t>{1, 1, 1, 6}));

  AnsiString word;
  int32_t item_no, offs, style_no;
  ASSERT_TRUE(doc.GetWordAt(10 + 36, 5, word, item_no, offs, style_no));  // inside "two"
  EXPECT_EQ(word, "two");
  EXPECT_EQ(offs, 5);
  ASSERT_TRUE(doc.GetWordAt(10 + 22, 5, word, item_no, offs, style_no));  // on the space
  EXPECT_EQ(word, "");
  EXPECT_FALSE(doc.GetWordAt(300, 100, word, item_no, offs, style_no));
  // A double click selects the word; the release after it leaves it selected.
  doc.DblClickAt(10 + 36, 5);
  doc.MouseUp(rvmbLeft, 0, 10 + 36, 5);
  doc.GetSelBounds(si, ei, so, eo, true);
  EXPECT_EQ((std::vector<int32_t>{si, so, ei, eo}), (std::vector<int32_t>{0, 5, 0, 8}));
  EXPECT_EQ(doc.DblClicks, std::vector<std::string>{"two"});
}

}  // namespace
}  // namespace pelvar
