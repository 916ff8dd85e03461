// Deleting the selection: a scenario table of document and selection with the resulting
// document, caret and beep count, the protection rules that refuse a deletion, and one
// Undo that restores text and list numbers.
#include <gtest/gtest.h>

#include "tests/richtext/edit/edit_fixture.h"

namespace pelvar {
namespace {

using edittest::EditDoc;

TEST(RVEditDelete, Scenarios) {
  struct Case {
    const char* name;
    const char* items;
    int32_t si, so, ei, eo;
    const char* dump;
    const char* caret;
    int beeps;
  };
  const std::vector<Case> cases = {
      {"inside a word", ":abcd", 0, 2, 0, 4, "[ad s0 p0]", "0:2", 0},
      {"a whole paragraph before another", ":ab|cd", 0, 1, 0, 3, "[ s0 p0][cd s0 p0]", "0:1", 0},
      {"from the middle of one paragraph to the middle of the next", ":abc|p3:def", 0, 2, 1, 3,
       "[af s0 p0]", "0:2", 0},
      {"across items of a line", ":ab|+s1:cd|+:ef", 0, 2, 2, 2, "[af s0 p0]", "0:2", 0},
      {"a whole item in a line", ":ab|+s1:cd|+:ef", 1, 1, 1, 3, "[abef s0 p0]", "0:3", 0},
      {"a whole delete-protected item", ":ab|+s5:cd|+:ef", 1, 1, 1, 3, "[ab s0 p0][cd s5 p0 cont][ef s0 p0 cont]",
       "0:1", 1},
      {"part of a delete-protected item", ":ab|+s5:cde", 1, 1, 1, 2, "[ab s0 p0][de s5 p0 cont]", "0:3", 0},
      {"part of a modify-protected item", ":ab|+s4:cde", 1, 1, 1, 2, "[ab s0 p0][cde s4 p0 cont]", "0:1", 1},
      {"a whole modify-protected item", ":ab|+s4:cd", 1, 1, 1, 3, "[ab s0 p0]", "0:3", 0},
      {"part of a read-only paragraph", "p1:abc|:def", 0, 2, 1, 2, "[abc s0 p1][def s0 p0]", "0:1", 1},
      {"a break alone in its paragraph", ":ab|=:|:cd", 1, 0, 1, 1, "[ab s0 p0][ s0 p0][cd s0 p0]", "1:1", 0},
  };
  for (const Case& c : cases) {
    EditDoc doc;
    doc.Build(c.items);
    doc.data.SetSelectionBounds(c.si, c.so, c.ei, c.eo);
    const bool ok = doc.data.DeleteSelection();
    EXPECT_EQ(ok, c.beeps == 0) << c.name;
    if (c.beeps) doc.data.Deselect(nullptr, false), doc.At(0, 1);
    EXPECT_EQ(doc.Dump(), c.dump) << c.name;
    EXPECT_EQ(doc.Caret(), c.caret) << c.name;
    EXPECT_EQ(doc.beeps, c.beeps) << c.name;
    if (c.beeps == 0) {
      EXPECT_FALSE(doc.data.SelectionExists(false)) << c.name;
      doc.data.Undo();
      EditDoc fresh;
      fresh.Build(c.items);
      EXPECT_EQ(doc.Dump(), fresh.Dump()) << c.name;
    } else {
      EXPECT_EQ(doc.data.UndoList->Count(), 0) << c.name;
    }
  }
}

TEST(RVEditDelete, AcrossListItemsRenumbersAndOneUndoRestores) {
  EditDoc doc;
  doc.Build("M:|+:one|M:|+:two|M:|+:three");
  doc.data.SetSelectionBounds(1, 2, 3, 2);
  ASSERT_TRUE(doc.data.DeleteSelection());
  EXPECT_EQ(doc.Dump(), "[M 1. p0][owo s0 p0 cont][M 2. p0][three s0 p0 cont]");
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[M 1. p0][one s0 p0 cont][M 2. p0][two s0 p0 cont][M 3. p0][three s0 p0 cont]");
}

TEST(RVEditDelete, TypingOverASelectionThatCannotBeDeletedBeeps) {
  EditDoc doc;
  doc.Build(":ab|+s5:cd");
  doc.data.SetSelectionBounds(1, 1, 1, 3);
  doc.data.TypeChar('x');
  EXPECT_EQ(doc.beeps, 1);
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][cd s5 p0 cont]");
}

}  // namespace
}  // namespace pelvar
