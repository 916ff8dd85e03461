// Applying text and paragraph styles: the selected part of a word becomes an item of its own
// and one Undo gives the single item back, split protection converts the whole item, ANSI
// and UTF-16 text is converted with the right style's code page, converted neighbours of one
// style merge, and paragraph conversions undo per item.
#include <gtest/gtest.h>

#include "tests/richtext/edit/edit_fixture.h"

namespace pelvar {
namespace {

using edittest::EditDoc;

// Applies style `to` to text (keeping style-protected styles, as the editor does).
void ApplyStyle(EditDoc& doc, int32_t to) {
  doc.data.StyleConversion = [&doc, to](int32_t style_no, int32_t, int32_t, bool applied_to_text, int32_t& new_style,
                                        bool) {
    if (applied_to_text && doc.style.TextStyles()->Items(style_no)->Protection.Contains(rvprStyleProtect)) return;
    new_style = to;
  };
  doc.data.BeginUndoGroup(rvutStyleNo, true);
  doc.data.ApplyTextStyleConversion(to, 1, false);
}

TEST(RVEditStyle, TextStyles) {
  struct Case {
    const char* name;
    const char* items;
    int32_t si, so, ei, eo, to;
    const char* dump;
  };
  const std::vector<Case> cases = {
      {"middle of a word", ":abcde", 0, 2, 0, 4, 1, "[a s0 p0][bc s1 p0 cont][de s0 p0 cont]"},
      {"head of a word", ":abcde", 0, 1, 0, 3, 1, "[ab s1 p0][cde s0 p0 cont]"},
      {"tail of a word", ":abcde", 0, 3, 0, 6, 1, "[ab s0 p0][cde s1 p0 cont]"},
      {"a whole item", ":ab|+s1:cd", 0, 1, 0, 3, 1, "[abcd s1 p0]"},
      {"split protection converts the whole item", "s6:abcde", 0, 2, 0, 4, 1, "[abcde s1 p0]"},
      {"over several items", ":abc|+s1:de|+:fgh", 0, 2, 2, 3, 8,
       "[a s0 p0][bc\xC5\xA1" "defg s8 p0 cont][h s0 p0 cont]"},
      {"ANSI to Unicode with the old style's code page", ":a\x9a" "b", 0, 2, 0, 3, 2,
       "[a s0 p0][\xC5\xA1 s2 p0 cont][b s0 p0 cont]"},
      {"Unicode to ANSI with the new style's code page", "s2:a\xC5\xA1\xE2\x82\xAC", 0, 2, 0, 4, 0,
       "[a s2 p0][\xC5\xA1\xE2\x82\xAC s0 p0 cont]"},
  };
  for (const Case& c : cases) {
    EditDoc doc;
    // "over several items": the middle item is Unicode-converted from bold ANSI with a s-caron.
    std::string items = c.items;
    if (std::string(c.name) == "over several items") items = ":abc|+s1:\x9a" "de|+:fgh";
    doc.Build(items);
    doc.data.SetSelectionBounds(c.si, c.so, c.ei, c.eo);
    const std::string before = doc.Dump();
    ApplyStyle(doc, c.to);
    EXPECT_EQ(doc.Dump(), c.dump) << c.name;
    EXPECT_EQ(doc.data.CurTextStyleNo, c.to) << c.name;
    doc.data.Undo();
    EXPECT_EQ(doc.Dump(), before) << c.name;
  }
}

TEST(RVEditStyle, BoldOnTheMiddleOfAWordIsThreeItemsAndOneUndoGivesOne) {
  EditDoc doc;
  doc.Build(":abcde");
  doc.data.SetSelectionBounds(0, 2, 0, 4);
  ApplyStyle(doc, 1);
  EXPECT_EQ(doc.data.ItemCount(), 3);
  // The selection stays on the converted characters.
  int32_t si, so, ei, eo;
  doc.data.GetSelBoundsEx(si, so, ei, eo, true);
  EXPECT_EQ(doc.data.GetItemTextRaw(si).substr(static_cast<size_t>(so - 1), static_cast<size_t>(eo - so)), "bc");
  doc.data.Undo();
  EXPECT_EQ(doc.data.ItemCount(), 1);
  EXPECT_EQ(doc.data.UndoList->Count(), 0);
}

TEST(RVEditStyle, WithoutSelectionOnlyTheCurrentStyleChangesExceptInAnEmptyItem) {
  EditDoc doc;
  doc.Build(":ab|:");
  doc.At(0, 2);
  ApplyStyle(doc, 1);
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][ s0 p0]");
  EXPECT_EQ(doc.data.CurTextStyleNo, 1);
  doc.At(1, 1);
  ApplyStyle(doc, 1);
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][ s1 p0]");
  // The style-protected style keeps its text, the current style still changes.
  EditDoc p;
  p.style.TextStyles()->Items(6)->Protection.Include(rvprStyleProtect);
  p.Build("s6:abc");
  p.data.SetSelectionBounds(0, 1, 0, 4);
  ApplyStyle(p, 1);
  EXPECT_EQ(p.Dump(), "[abc s6 p0]");
  EXPECT_EQ(p.data.CurTextStyleNo, 1);
}

TEST(RVEditStyle, ParagraphStyles) {
  EditDoc doc;
  doc.data.Area = 60;
  doc.Build(":aaaa bbbb cccc|p3:x");
  doc.At(0, 12);  // on the second line of the wrapped paragraph
  doc.data.BeginUndoGroup(rvutPara, true);
  doc.data.ApplyParaStyle(2, 0);
  EXPECT_EQ(doc.Dump(), "[aaaa bbbb cccc s0 p2][x s0 p3]");
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[aaaa bbbb cccc s0 p0][x s0 p3]");
  // A conversion giving the paragraphs of one range different styles undoes each of them.
  doc.data.SetSelectionBounds(0, 1, 1, 2);
  doc.data.StyleConversion = [](int32_t s, int32_t, int32_t, bool, int32_t& n, bool) { n = s == 0 ? 3 : 0; };
  doc.data.BeginUndoGroup(rvutPara, true);
  doc.data.ApplyParaStyle(0, 2);
  EXPECT_EQ(doc.Dump(), "[aaaa bbbb cccc s0 p3][x s0 p0]");
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[aaaa bbbb cccc s0 p0][x s0 p3]");
}

}  // namespace
}  // namespace pelvar
