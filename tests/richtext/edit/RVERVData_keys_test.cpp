// The editing keys on formatted documents: a scenario table of document, caret and key with
// the resulting document, caret and beep count; typing and its undo groups; Enter in list
// items; refusals that change nothing.
#include <gtest/gtest.h>

#include "richtext/edit/RVTable.h"
#include "tests/richtext/edit/edit_fixture.h"

namespace pelvar {
namespace {

using edittest::EditDoc;

std::function<void(TRVEditRVData&)> Type(const std::string& s) {
  return [s](TRVEditRVData& d) {
    for (char c : s) d.TypeChar(c);
  };
}
void Enter(TRVEditRVData& d) { d.EnterKey(false); }
void ShiftEnter(TRVEditRVData& d) { d.EnterKey(true); }
void Back(TRVEditRVData& d) { d.BackspaceKey(false, false, false); }
void CtrlBack(TRVEditRVData& d) { d.BackspaceKey(true, false, false); }
void Del(TRVEditRVData& d) { d.DeleteKey(false); }

TEST(RVEditKeys, Scenarios) {
  struct Case {
    const char* name;
    const char* items;
    int32_t item, offs;
    std::function<void(TRVEditRVData&)> key;
    const char* dump;
    const char* caret;
    int beeps;
  };
  const std::vector<Case> cases = {
      {"enter inside a word", ":abcd", 0, 3, Enter, "[ab s0 p0][cd s0 p0]", "1:1", 0},
      {"enter at a line end", ":ab|cd", 0, 3, Enter, "[ab s0 p0][ s0 p0][cd s0 p0]", "1:1", 0},
      {"enter at a line start", ":ab|cd", 1, 1, Enter, "[ab s0 p0][ s0 p0][cd s0 p0]", "2:1", 0},
      {"shift+enter inside a word", ":abcd", 0, 3, ShiftEnter, "[ab s0 p0][cd s0 p0 br]", "1:1", 0},
      {"enter before an item of the line", ":ab|+s1:cd", 1, 1, Enter, "[ab s0 p0][cd s1 p0]", "1:1", 0},
      {"enter refused by the paragraph", "p2:abcd", 0, 3, Enter, "[abcd s0 p2]", "0:3", 1},
      {"enter inside a modify-protected word", "s4:abcd", 0, 3, Enter, "[abcd s4 p0]", "0:3", 1},
      {"enter at the end of a modify-protected word", "s4:abcd", 0, 5, Enter, "[abcd s4 p0][ s0 p0]", "1:1", 0},
      {"backspace inside a word", ":abc", 0, 3, Back, "[ac s0 p0]", "0:2", 0},
      {"backspace at a paragraph start joins", ":ab|cd", 1, 1, Back, "[abcd s0 p0]", "0:3", 0},
      {"backspace removes only a page break", ":ab|#:cd", 1, 1, Back, "[ab s0 p0][cd s0 p0]", "1:1", 0},
      {"backspace at a paragraph start of another style", ":ab|s1:cd", 1, 1, Back, "[ab s0 p0][cd s1 p0 cont]",
       "0:3", 0},
      {"backspace in an empty paragraph", ":ab|:|cd", 1, 1, Back, "[ab s0 p0][cd s0 p0]", "0:3", 0},
      {"backspace at the document start", ":ab", 0, 1, Back, "[ab s0 p0]", "0:1", 0},
      {"backspace after a break only moves", "=:|:ab", 1, 1, Back, "[= p0][ab s0 p0]", "0:1", 0},
      {"backspace in a read-only paragraph", "p1:abc", 0, 3, Back, "[abc s0 p1]", "0:3", 1},
      {"backspace of the last character of an item in a line", ":ab|+s1:c", 1, 2, Back, "[ab s0 p0]", "0:3", 0},
      {"backspace of a delete-protected item", ":ab|+s5:c", 1, 2, Back, "[ab s0 p0][c s5 p0 cont]", "1:2", 1},
      {"ctrl+backspace takes the second word", ":one two", 0, 8, CtrlBack, "[one  s0 p0]", "0:5", 0},
      {"ctrl+backspace takes a punctuation mark alone", ":one two,", 0, 9, CtrlBack, "[one two s0 p0]", "0:8", 0},
      {"backspace removes a whole surrogate pair", "s2:a\xF0\x9F\x98\x80", 0, 4, Back, "[a s2 p0]", "0:2", 0},
      {"delete removes a whole cluster", "s2:e\xCC\x81x", 0, 1, Del, "[x s2 p0]", "0:1", 0},
      {"delete removes a whole surrogate pair", "s2:\xF0\x9F\x98\x80x", 0, 1, Del, "[x s2 p0]", "0:1", 0},
      {"delete at a line end joins", ":ab|cd", 0, 3, Del, "[abcd s0 p0]", "0:3", 0},
      {"delete before a break only moves", ":ab|=:", 0, 3, Del, "[ab s0 p0][= p0]", "1:0", 0},
      {"delete at the document end", ":ab", 0, 3, Del, "[ab s0 p0]", "0:3", 0},
      {"delete in an empty paragraph before a break", ":ab|:|=:", 1, 1, Del, "[ab s0 p0][= p0]", "1:0", 0},
      {"backspace in an empty paragraph after a break", "=:|:", 1, 1, Back, "[= p0]", "0:1", 0},
      {"shift+enter at the start of a list item", "M:|+:one", 1, 1, ShiftEnter,
       "[M 1. p0][ s0 p0 cont][one s0 p0 br]", "2:1", 0},
      {"delete of an empty paragraph before text", ":|:ab", 0, 1, Del, "[ab s0 p0]", "0:1", 0},
      {"typing into an item of the current style", ":ab", 0, 3, Type("xy"), "[abxy s0 p0]", "0:5", 0},
      {"typing at the end of a word of another style", "s1:ab", 0, 3,
       [](TRVEditRVData& d) {
         d.SetCurTextStyleNo(0);
         d.TypeChar('x');
         d.TypeChar('y');
       },
       "[ab s1 p0][xy s0 p0 cont]", "1:3", 0},
      {"typing into a concatenation-protected style makes a new item", "s3:ab", 0, 3, Type("x"),
       "[ab s3 p0][x s3 p0 cont]", "1:2", 0},
      {"typing inside a modify-protected word", "s4:ab", 0, 2, Type("x"), "[ab s4 p0]", "0:2", 1},
      {"typing in a read-only paragraph", "p1:ab", 0, 2, Type("x"), "[ab s0 p1]", "0:2", 1},
      {"typing into a Unicode style", "s2:ab", 0, 3, Type("\x9a"), "[ab\xC5\xA1 s2 p0]", "0:4", 0},
  };
  for (const Case& c : cases) {
    EditDoc doc;
    doc.Build(c.items);
    doc.At(c.item, c.offs);
    c.key(doc.data);
    EXPECT_EQ(doc.Dump(), c.dump) << c.name;
    EXPECT_EQ(doc.Caret(), c.caret) << c.name;
    EXPECT_EQ(doc.beeps, c.beeps) << c.name;
    // The layout after the partial reformat is the one a full formatting gives.
    auto partial = viewtest::DrawItems(doc.data);
    doc.data.Format();
    EXPECT_EQ(viewtest::DrawItems(doc.data), partial) << c.name;
  }
}

TEST(RVEditKeys, EveryKeyIsOneUndoStepThatRestoresTheDocument) {
  struct Case {
    const char* items;
    int32_t item, offs;
    std::function<void(TRVEditRVData&)> key;
  };
  const std::vector<Case> cases = {
      {":abcd", 0, 3, Enter},      {":ab|cd", 0, 3, Enter},     {":abcd", 0, 3, ShiftEnter},
      {":ab|cd", 1, 1, Back},      {":ab|#:cd", 1, 1, Back},    {":ab|:|cd", 1, 1, Back},
      {":one two", 0, 8, CtrlBack}, {":ab|cd", 0, 3, Del},      {":ab|+s1:c", 1, 2, Back},
      {":|:ab", 0, 1, Del},        {"s1:ab", 0, 3, [](TRVEditRVData& d) {
                                     d.SetCurTextStyleNo(0);
                                     d.TypeChar('x');
                                   }},
  };
  for (const Case& c : cases) {
    EditDoc doc;
    doc.Build(c.items);
    const std::string before = doc.Dump();
    doc.At(c.item, c.offs);
    c.key(doc.data);
    const std::string after = doc.Dump();
    ASSERT_NE(after, before) << c.items;
    doc.data.Undo();
    EXPECT_EQ(doc.Dump(), before) << c.items;
    EXPECT_EQ(doc.data.UndoList->Count(), 0) << c.items;
    doc.data.Redo();
    EXPECT_EQ(doc.Dump(), after) << c.items;
  }
}

TEST(RVEditKeys, TypingIsOneGroupGivenBackCharByChar) {
  EditDoc doc;
  doc.Build(":");
  doc.At(0, 1);
  for (char c : std::string("abc")) doc.data.TypeChar(c);
  ASSERT_EQ(doc.data.UndoList->Count(), 1);
  auto* t = dynamic_cast<TRVUndoTypingInfo*>(doc.data.UndoList->Get(0)->Get(0));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->CharCount, 3);
  for (const char* expect : {"0:3", "0:2", "0:1"}) {
    doc.data.Undo();
    EXPECT_EQ(doc.Caret(), expect);
  }
  EXPECT_EQ(doc.Dump(), "[ s0 p0]");
  for (int i = 0; i < 3; ++i) doc.data.Redo();
  EXPECT_EQ(doc.Dump(), "[abc s0 p0]");
  EXPECT_EQ(doc.Caret(), "0:4");
  EXPECT_EQ(doc.data.RedoList->Count(), 0);
}

TEST(RVEditKeys, TypingIntoAnEmptyItemOfAnotherParagraphStyleIsUndoneWithItsStyle) {
  EditDoc doc;
  doc.Build(":ab|p3:");
  doc.At(1, 1);
  doc.data.SetCurParaStyleNo(0);
  doc.data.TypeChar('x');
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][x s0 p0]");
  EXPECT_EQ(doc.Caret(), "1:2");
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][ s0 p3]");
}

TEST(RVEditKeys, ATypedStringLeavesTheCaretBehindIt) {
  EditDoc doc;
  doc.Build(":ab");
  doc.At(0, 2);
  doc.data.TypeText("xyz", 'x');
  EXPECT_EQ(doc.Dump(), "[axyzb s0 p0]");
  EXPECT_EQ(doc.Caret(), "0:5");
}

TEST(RVEditKeys, EnterInListItems) {
  // At the end of a list item: a copy of the marker with numbering continued.
  EditDoc doc;
  doc.Build("M:|+:one");
  doc.data.GetMarkers(false);
  static_cast<TRVMarkerItemInfo*>(doc.data.GetItem(0))->Reset = true;
  doc.At(1, 4);
  doc.data.EnterKey(false);
  EXPECT_EQ(doc.Dump(), "[Mr 1. p0][one s0 p0 cont][M 2. p0][ s0 p0 cont]");
  EXPECT_EQ(doc.Caret(), "3:1");
  // Enter in the new, empty list item takes it out of the list.
  doc.data.EnterKey(false);
  EXPECT_EQ(doc.Dump(), "[Mr 1. p0][one s0 p0 cont][ s0 p0][ s0 p0]");
  EXPECT_EQ(doc.beeps, 0);
  // Backspace at the start of a list item removes the marker, one Undo brings it back.
  EditDoc doc2;
  doc2.Build("M:|+:one|M:|+:two");
  doc2.At(3, 1);
  doc2.data.BackspaceKey(false, false, false);
  EXPECT_EQ(doc2.Dump(), "[M 1. p0][one s0 p0 cont][two s0 p0]");
  doc2.data.Undo();
  EXPECT_EQ(doc2.Dump(), "[M 1. p0][one s0 p0 cont][M 2. p0][two s0 p0 cont]");
}

// An edit that adds or removes a list item renumbers the items after it; a number that gets
// wider or narrower ("9." to "10.") moves its paragraph's text. The layout after the edit,
// after Undo and after Redo is the layout a full formatting gives.
TEST(RVEditKeys, RenumberedMarkersAreFormattedAgain) {
  struct Case {
    const char* name;
    int32_t item, offs;
    std::function<void(TRVEditRVData&)> edit;
    const char* last;  // the number of the last list item afterwards
    const char* first_text = "ab";
  };
  const Case cases[] = {
      {"Enter at the end of the first item", 1, 3, Enter, "11."},
      {"Backspace before the second item's text", 3, 1, Back, "9."},
      {"Delete at the end of the first item", 1, 3, Del, "9."},
      {"a selection over two items deleted", 1, 2,
       [](TRVEditRVData& d) {
         d.SetSelectionBounds(1, 2, 5, 2);
         d.DeleteSelection();
       },
       "8."},
      {"Delete in an empty first item", 1, 1, Del, "9.", ""},
      {"two lines pasted as text into the first item", 1, 3,
       [](TRVEditRVData& d) { d.InsertText("x\ny\nz", false, false); }, "12."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditDoc doc;
    std::string paragraphs;
    for (int k = 0; k < 10; ++k) paragraphs += std::string(k ? "|M:|+:ab" : "M:|+:") + (k ? "" : c.first_text);
    // A long word makes the document wider than any list item: the edits reformat only
    // the paragraphs they touch.
    doc.Build(paragraphs + "|:abcdefghijklmnop");
    // The marker is as wide as its number.
    doc.style.ListStyles()->Items(0)->Levels()->Items(0)->LeftIndent = 0;
    doc.data.Format();
    auto layout = [&] { return viewtest::DrawItems(doc.data); };
    auto full = [&] {
      doc.data.Format();
      return viewtest::DrawItems(doc.data);
    };
    doc.At(c.item, c.offs);
    c.edit(doc.data);
    auto* markers = doc.data.GetMarkers(false);
    ASSERT_NE(markers, nullptr);
    EXPECT_EQ(markers->back()->DisplayString, c.last);
    const auto edited = layout();
    EXPECT_EQ(edited, full()) << "after the edit";
    doc.data.Undo();
    const auto undone = layout();
    EXPECT_EQ(undone, full()) << "after Undo";
    doc.data.Redo();
    const auto redone = layout();
    EXPECT_EQ(redone, full()) << "after Redo";
    EXPECT_EQ(doc.beeps, 0);
  }
}

TEST(RVEditKeys, WithUndoLimitZeroEverythingWorksAndNothingIsRecorded) {
  EditDoc doc;
  doc.Build(":abcd|ef");
  doc.data.SetUndoLimit(0);
  doc.At(0, 3);
  doc.data.EnterKey(false);
  doc.data.TypeChar('x');
  doc.data.BackspaceKey(false, false, false);
  doc.data.InsertText("q\r\nr", true, false);
  doc.data.SetSelectionBounds(0, 1, 0, 2);
  doc.data.DeleteSelection();
  doc.data.SetSelectionBounds(0, 1, 0, 2);
  doc.data.StyleConversion = [](int32_t, int32_t, int32_t, bool, int32_t& n, bool) { n = 1; };
  doc.data.ApplyTextStyleConversion(1, 1, false);
  EXPECT_EQ(doc.Dump(), "[b s1 p0][q s0 p0][rcd s0 p0][ef s0 p0]");
  EXPECT_EQ(doc.data.UndoList->Count(), 0);
  EXPECT_EQ(doc.data.RedoList->Count(), 0);
}

TEST(RVEditKeys, DeleteAndBackspaceNextToATableOnlyMoveTheCaret) {
  EditDoc doc;
  doc.Build(":ab");
  auto* table = new TRVTableItemInfo(&doc.data, 1, 2);
  table->ParaNo = 0;
  doc.data.AddItemAsIs("", table);
  doc.AddItemText(":cd");
  doc.data.Format();
  const std::string before = doc.Dump();
  doc.At(0, 3);
  doc.data.DeleteKey(false);
  EXPECT_EQ(doc.Dump(), before);
  EXPECT_EQ(doc.Caret(), "1:0");
  doc.At(2, 1);
  doc.data.BackspaceKey(false, false, false);
  EXPECT_EQ(doc.Dump(), before);
  EXPECT_EQ(doc.Caret(), "1:1");
  EXPECT_EQ(doc.beeps, 0);
}

TEST(RVEditKeys, EnterTakesTheNextStyles) {
  EditDoc doc;
  doc.style.TextStyles()->Items(1)->NextStyleNo = 0;
  doc.style.ParaStyles()->Items(0)->NextParaNo = 3;
  doc.Build("s1:Title");
  doc.At(0, 6);
  doc.data.EnterKey(false);
  EXPECT_EQ(doc.Dump(), "[Title s1 p0][ s0 p3]");
  EXPECT_EQ(doc.data.CurParaStyleNo, 3);
  EXPECT_EQ(doc.data.CurTextStyleNo, 0);
}

TEST(RVEditKeys, RefusedChangesBeepAndChangeNothing) {
  EditDoc doc;
  doc.Build(":ab|cd");
  doc.data.ReadOnly = true;
  doc.At(1, 1);
  const std::string before = doc.Dump();
  doc.data.EnterKey(false);
  doc.data.BackspaceKey(false, false, false);
  doc.data.DeleteKey(false);
  doc.data.TypeChar('x');
  EXPECT_EQ(doc.Dump(), before);
  EXPECT_EQ(doc.beeps, 4);
  EXPECT_EQ(doc.data.UndoList->Count(), 0);
  // UseSound off: refusals are silent.
  doc.style.UseSound = false;
  doc.data.TypeChar('x');
  EXPECT_EQ(doc.beeps, 4);
}

}  // namespace
}  // namespace pelvar
