// The editor's caret on formatted documents with the test font: its stops (never inside a
// surrogate pair, none on a list marker), the movement keys (words, lines keeping x,
// paragraphs, document ends) and the protection questions asked before an insertion.
#include <gtest/gtest.h>

#include "tests/richtext/edit/edit_fixture.h"

namespace pelvar {
namespace {

using edittest::EditDoc;

TEST(RVEditCaret, StopsAreWholeClustersAndACaretInsideAPairLandsBeforeIt) {
  EditDoc doc;
  doc.Build("s2:a\xF0\x9F\x98\x80" "b");  // a, U+1F600 (a surrogate pair), b
  doc.At(0, 3);                            // between the two halves of the pair
  EXPECT_EQ(doc.Caret(), "0:2");
  std::vector<int32_t> lefts, offs;
  for (auto& p : doc.data.CharPositions) {
    lefts.push_back(p.Left);
    offs.push_back(p.DOffs);
  }
  EXPECT_EQ(offs, (std::vector<int32_t>{1, 2, 4, 5}));
  EXPECT_EQ(lefts, (std::vector<int32_t>{0, 7, 21, 28}));
  // Moving right passes the pair as one character.
  doc.data.MoveRight(false, false);
  EXPECT_EQ(doc.Caret(), "0:4");
}

TEST(RVEditCaret, ALineStartingWithAMarkerHasNoStopOnIt) {
  EditDoc doc;
  doc.Build("M:|+:one|two");
  doc.At(0, 0);
  EXPECT_EQ(doc.Caret(), "1:1");
  for (auto& p : doc.data.CharPositions) EXPECT_NE(doc.data.DrawLines[p.DItemNo]->ItemNo, 0);
  // Left at the start of the list item's text: the marker at draw item 0 ends the document.
  EXPECT_TRUE(doc.data.MoveLeft(false, false));
  EXPECT_EQ(doc.Caret(), "1:1");
  // Up from the next paragraph lands on the text, not on the marker.
  doc.At(2, 1);
  doc.data.MoveUp(false, false);
  EXPECT_EQ(doc.data.CurItemNo(), 1);
}

TEST(RVEditCaret, MovementKeys) {
  struct Case {
    const char* name;
    const char* items;
    int32_t area, item, offs;
    std::function<bool(TRVEditRVData&)> key;
    const char* caret;
    bool at_edge;
  };
  const std::vector<Case> cases = {
      {"ctrl+right stops after the spaces", ":one  two", 200, 0, 2,
       [](TRVEditRVData& d) { return d.MoveRight(false, true); }, "0:6", false},
      {"ctrl+right before a punctuation mark", ":one, two", 200, 0, 1,
       [](TRVEditRVData& d) { return d.MoveRight(false, true); }, "0:4", false},
      {"ctrl+left to the word start", ":one two", 200, 0, 8,
       [](TRVEditRVData& d) { return d.MoveLeft(false, true); }, "0:5", false},
      {"left at the document start", ":ab", 200, 0, 1, [](TRVEditRVData& d) { return d.MoveLeft(false, false); },
       "0:1", true},
      {"right at the document end", ":ab|cd", 200, 1, 3, [](TRVEditRVData& d) { return d.MoveRight(false, false); },
       "1:3", true},
      {"right at a line end goes to the next line", ":ab|cd", 200, 0, 3,
       [](TRVEditRVData& d) { return d.MoveRight(false, false); }, "1:1", false},
      {"left at a line start goes to the previous line end", ":ab|cd", 200, 1, 1,
       [](TRVEditRVData& d) { return d.MoveLeft(false, false); }, "0:3", false},
      {"down keeps x", ":abcdefghij|abcdefghij", 200, 0, 5, [](TRVEditRVData& d) { return d.MoveDown(false, false); },
       "1:5", false},
      {"up keeps x", ":abcdefghij|abcdefghij", 200, 1, 8, [](TRVEditRVData& d) { return d.MoveUp(false, false); },
       "0:8", false},
      {"down onto a shorter line ends it", ":abcdefghij|abc", 200, 0, 8,
       [](TRVEditRVData& d) { return d.MoveDown(false, false); }, "1:4", false},
      {"up on the first line", ":ab|cd", 200, 0, 2, [](TRVEditRVData& d) { return d.MoveUp(false, false); }, "0:2",
       true},
      {"down on the last line", ":ab|cd", 200, 1, 2, [](TRVEditRVData& d) { return d.MoveDown(false, false); }, "1:2",
       true},
      {"shift+down on the last line goes to its end", ":ab|cd", 200, 1, 2,
       [](TRVEditRVData& d) { return d.MoveDown(true, false); }, "1:3", true},
      {"home and end of a wrapped line", ":aaaa bbbb cccc", 60, 0, 7,
       [](TRVEditRVData& d) { return d.MoveEnd(false); }, "0:10", false},
      {"ctrl+end", ":ab|cd|ef", 200, 0, 1, [](TRVEditRVData& d) { return !d.MoveEnd(true); }, "2:3", false},
      {"ctrl+home", ":ab|cd|ef", 200, 2, 2, [](TRVEditRVData& d) { return !d.MoveHome(true); }, "0:1", false},
      // The last paragraph is reached whole, its last draw item included.
      {"para down into a wrapped last paragraph", ":x|aaaa bbbb cccc", 60, 0, 1,
       [](TRVEditRVData& d) {
         d.ParaDown();
         return false;
       },
       "1:15", false},
      {"para up", ":ab|cd|ef", 200, 2, 2,
       [](TRVEditRVData& d) {
         d.ParaUp();
         return false;
       },
       "1:1", false},
      {"shift+up on the first line goes to its start", ":abcd|ef", 200, 0, 3,
       [](TRVEditRVData& d) { return d.MoveUp(true, false); }, "0:1", true},
      {"page up near the top ends at the document start", ":ab|cd", 200, 1, 2,
       [](TRVEditRVData& d) { return d.PageUp(); }, "0:1", false},
      {"page down near the end ends at the document end", ":ab|cd", 200, 0, 1,
       [](TRVEditRVData& d) { return d.PageDown(); }, "1:3", false},
  };
  for (const Case& c : cases) {
    EditDoc doc;
    doc.data.Area = c.area;
    doc.Build(c.items);
    doc.At(c.item, c.offs);
    EXPECT_EQ(c.key(doc.data), c.at_edge) << c.name;
    EXPECT_EQ(doc.Caret(), c.caret) << c.name;
    EXPECT_EQ(doc.beeps, 0) << c.name;
  }
}

TEST(RVEditCaret, ShiftMovesExtendTheSelectionFromTheCaret) {
  EditDoc doc;
  doc.Build(":abcd");
  doc.At(0, 2);
  doc.data.AnchorSelectionAtCaret();
  doc.data.MoveRight(true, false);
  doc.data.MoveRight(true, false);
  doc.data.ExtendSelectionToCaret();
  int32_t si, so, ei, eo;
  doc.data.GetSelBoundsEx(si, so, ei, eo, true);
  EXPECT_EQ(std::to_string(si) + ":" + std::to_string(so) + "-" + std::to_string(ei) + ":" + std::to_string(eo),
            "0:2-0:4");
}

TEST(RVEditCaret, SelectItemRangeSearchStartAndCurrentTag) {
  EditDoc doc;
  doc.Build(":abcd|ef");
  doc.data.SelectItemRange(0, 2, 2, true);
  int32_t si, so, ei, eo;
  doc.data.GetSelBoundsEx(si, so, ei, eo, false);
  EXPECT_EQ(std::to_string(si) + ":" + std::to_string(so) + "-" + std::to_string(ei) + ":" + std::to_string(eo),
            "0:4-0:2");
  EXPECT_EQ(doc.Caret(), "0:2");  // at the selection's moving end
  doc.data.Deselect(nullptr, false);
  doc.At(0, 5);
  int32_t i, o;
  doc.data.GetSearchStart(true, false, i, o);
  EXPECT_EQ(std::to_string(i) + ":" + std::to_string(o), "1:1");
  doc.At(1, 1);
  doc.data.GetSearchStart(false, false, i, o);
  EXPECT_EQ(std::to_string(i) + ":" + std::to_string(o), "0:5");
  doc.data.GetSearchStart(false, true, i, o);
  EXPECT_EQ(std::to_string(i) + ":" + std::to_string(o), "1:4");
  doc.data.GetItem(1)->Tag = TRVTag::FromInt(9);
  doc.data.UpdateCurTag();
  EXPECT_EQ(doc.data.CurTag.Int, 9);
  // Typed text in a new item of the current style takes the current tag.
  doc.data.SetCurTextStyleNo(1);
  doc.data.UpdateCurTag();
  EXPECT_EQ(doc.data.CurTag.Int, 0);
}

TEST(RVEditCaret, StylesFollowTheCaretAndDoNotAutoSwitchKeepsThePreviousOne) {
  EditDoc doc;
  doc.style.TextStyles()->Add()->Protection.Include(rvprDoNotAutoSwitch);  // style 9
  doc.Build("s1:ab|+s9:cd|p3:ef");
  doc.At(0, 2);
  EXPECT_EQ(doc.data.CurTextStyleNo, 1);
  doc.At(1, 2);
  EXPECT_EQ(doc.data.CurTextStyleNo, 1);  // kept
  doc.At(2, 1);
  EXPECT_EQ(doc.data.CurTextStyleNo, 0);
  EXPECT_EQ(doc.data.CurParaStyleNo, 3);
}

TEST(RVEditCaret, AnInvalidCaretIsResetAndReported) {
  EditDoc doc;
  doc.Build(":ab|cd");
  doc.At(1, 2);
  doc.data.CaretOffs = 40;
  EXPECT_THROW(doc.data.ChangeCaret(false, false, false), EDocViewError);
  doc.data.ChangeCaret(false, false, false);
  EXPECT_EQ(doc.Caret(), "0:1");
}

TEST(RVEditProtection, InsertionTests) {
  EditDoc doc;
  doc.style.TextStyles()->Add()->Protection.Include(rvprStickToTop);     // 9
  doc.style.TextStyles()->Add()->Protection.Include(rvprStickToBottom);  // 10
  doc.Build("s9:top|s7:ab|+s7:cd|s4:mod|p1:ro|s10:end");
  struct Case {
    int32_t item, offs;
    bool can;
  };
  const std::vector<Case> cases = {
      {0, 1, false},  // before an item sticking to the top
      {0, 2, true},   // inside it
      {1, 3, false},  // between two sticking items
      {2, 2, true},   // inside a sticking item
      {3, 2, false},  // inside a modify-protected item
      {3, 1, true},   // at its start
      {4, 1, false},  // a read-only paragraph refuses everywhere
      {4, 3, false},
      {5, 4, false},  // after an item sticking to the bottom
  };
  for (const Case& c : cases)
    EXPECT_EQ(doc.data.CanInsertHere(c.item, c.offs), c.can) << c.item << ":" << c.offs;
  EXPECT_EQ(doc.beeps, 0);  // asked silently
  EXPECT_TRUE(doc.data.IsSticking(1, false));
  EXPECT_EQ(doc.beeps, 1);
  // A picture is protected through its associated style or its own delete protection.
  auto* tab = new TRVTabItemInfo(&doc.data);
  tab->StyleNo = rvsTab;
  tab->TextStyleNo = 5;
  doc.data.AddItemAsIs("", tab);
  EXPECT_TRUE(doc.data.IsProtected(doc.data.ItemCount() - 1, rvprDeleteProtect));
  auto* pic = new TRVGraphicItemInfo(&doc.data);
  doc.data.AddItemAsIs("", pic);
  EXPECT_FALSE(doc.data.IsProtected(doc.data.ItemCount() - 1, rvprDeleteProtect));
  pic->Unremovable = true;
  EXPECT_TRUE(doc.data.IsProtected(doc.data.ItemCount() - 1, rvprDeleteProtect));
  EXPECT_FALSE(doc.data.IsProtected(doc.data.ItemCount() - 1, rvprModifyProtect));
}

}  // namespace
}  // namespace pelvar
