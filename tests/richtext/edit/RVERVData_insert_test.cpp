// Insertion at the caret: text cut into paragraphs and lines by its breaks (ANSI and UTF-16),
// new list items inside a list item, items placed by the caret (splitting a word, replacing
// an empty line, a marker dropped at a picture), files with OEM text and NUL characters, and
// one Undo for each insertion.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "platform/streams.h"
#include "richtext/model/RVRTFProps.h"
#include "tests/richtext/edit/edit_fixture.h"

namespace pelvar {
namespace {

using edittest::EditDoc;

AnsiString W(const std::u16string& s) { return RVU_WideStringToRawUnicode(WideString(s)); }

TEST(RVEditInsert, TextBreaks) {
  struct Case {
    const char* name;
    std::function<void(TRVEditRVData&)> insert;
    const char* dump;
    const char* caret;
  };
  const std::vector<Case> cases = {
      {"CR LF", [](TRVEditRVData& d) { d.InsertText("a\r\nb", true, false); }, "[xa s0 p0][by s0 p0]", "1:2"},
      {"CR CR", [](TRVEditRVData& d) { d.InsertText("a\r\rb", true, false); }, "[xa s0 p0][ s0 p0][by s0 p0]", "2:2"},
      {"LF CR", [](TRVEditRVData& d) { d.InsertText("a\n\rb", true, false); }, "[xa s0 p0][by s0 p0]", "1:2"},
      {"VT stays a character in ANSI", [](TRVEditRVData& d) { d.InsertText("a\vb", true, false); },
       "[xa\vby s0 p0]", "0:5"},
      {"form feed", [](TRVEditRVData& d) { d.InsertText("a\fb", true, false); }, "[xa s0 p0][by s0 p0 pb]", "1:2"},
      {"caret before", [](TRVEditRVData& d) { d.InsertText("ab", true, true); }, "[xaby s0 p0]", "0:2"},
      {"U+2028 is a new line", [](TRVEditRVData& d) { d.InsertTextW(W(u"a\u2028b"), true, false); },
       "[xa s0 p0][by s0 p0 br]", "1:2"},
      {"U+2029 is a new paragraph", [](TRVEditRVData& d) { d.InsertTextW(W(u"a\u2029b"), true, false); },
       "[xa s0 p0][by s0 p0]", "1:2"},
      {"a byte-order mark is skipped", [](TRVEditRVData& d) { d.InsertTextW(W(u"\uFEFFab"), true, false); },
       "[xaby s0 p0]", "0:4"},
      {"only a byte-order mark", [](TRVEditRVData& d) { d.InsertTextW(W(u"\uFEFF"), true, false); }, "[xy s0 p0]",
       "0:2"},
      {"UTF-16 into an ANSI style", [](TRVEditRVData& d) { d.InsertTextW(W(u"\u0161"), true, false); },
       "[x\xC5\xA1y s0 p0]", "0:3"},
  };
  for (const Case& c : cases) {
    EditDoc doc;
    doc.Build(":xy");
    doc.At(0, 2);
    c.insert(doc.data);
    EXPECT_EQ(doc.Dump(), c.dump) << c.name;
    EXPECT_EQ(doc.Caret(), c.caret) << c.name;
    auto partial = viewtest::DrawItems(doc.data);
    doc.data.Format();
    EXPECT_EQ(viewtest::DrawItems(doc.data), partial) << c.name;
    // One Undo takes the whole insertion back.
    if (doc.data.UndoList->Count() == 0) continue;
    doc.data.Undo();
    EXPECT_EQ(doc.Dump(), "[xy s0 p0]") << c.name;
    EXPECT_EQ(doc.data.UndoList->Count(), 0) << c.name;
  }
}

TEST(RVEditInsert, OddUnicodeLengthIsRefused) {
  EditDoc doc;
  doc.Build(":xy");
  EXPECT_THROW(doc.data.InsertTextW(AnsiString("abc"), true, false), EDocViewError);
}

TEST(RVEditInsert, ANSITextIntoAUnicodeStyleUsesTheStylesCodePage) {
  EditDoc doc;
  doc.Build("s2:xy");
  doc.At(0, 2);
  doc.data.InsertText("\x9a", true, false);  // Windows-1250 s with caron
  EXPECT_EQ(doc.Dump(), "[x\xC5\xA1y s2 p0]");
}

TEST(RVEditInsert, BreaksInsideAListItemMakeNewListItems) {
  EditDoc doc;
  doc.Build("M:|+:xy");
  doc.At(1, 3);
  doc.data.InsertText("a\r\nb\r\nc", true, false);
  EXPECT_EQ(doc.Dump(), "[M 1. p0][xya s0 p0 cont][M 2. p0][b s0 p0 cont][M 3. p0][c s0 p0 cont]");
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[M 1. p0][xy s0 p0 cont]");
}

TEST(RVEditInsert, ItemsAtTheCaret) {
  // A break in the middle of a word splits it; the second half starts a new paragraph.
  EditDoc doc;
  doc.Build(":abcd");
  doc.At(0, 3);
  auto* brk = new TRVBreakItemInfo(&doc.data);
  brk->StyleNo = rvsBreak;
  AnsiString empty;
  ASSERT_TRUE(doc.data.InsertItemAtCaret(brk, empty, false, false));
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][= p0][cd s0 p0]");
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[abcd s0 p0]");

  // A tab at an empty line replaces the empty text item.
  EditDoc doc2;
  doc2.Build(":ab|:");
  doc2.At(1, 1);
  auto* tab = new TRVTabItemInfo(&doc2.data);
  tab->StyleNo = rvsTab;
  ASSERT_TRUE(doc2.data.InsertItemAtCaret(tab, empty, false, false));
  EXPECT_EQ(doc2.Dump(), "[ab s0 p0][tab p0]");
  EXPECT_EQ(doc2.Caret(), "1:1");

  // A list marker where the caret is at a non-text item is dropped silently.
  EditDoc doc3;
  doc3.Build(":ab|=:");
  doc3.At(1, 1);
  auto* m = new TRVMarkerItemInfo(&doc3.data);
  m->StyleNo = rvsListMarker;
  EXPECT_TRUE(doc3.data.InsertItemAtCaret(m, empty, false, false));
  EXPECT_EQ(doc3.Dump(), "[ab s0 p0][= p0]");
  EXPECT_EQ(doc3.beeps, 0);

  // Inside a modify-protected word: refused with a beep.
  EditDoc doc4;
  doc4.Build("s4:abcd");
  doc4.At(0, 3);
  auto* tab4 = new TRVTabItemInfo(&doc4.data);
  tab4->StyleNo = rvsTab;
  EXPECT_FALSE(doc4.data.InsertItemAtCaret(tab4, empty, false, false));
  EXPECT_EQ(doc4.Dump(), "[abcd s4 p0]");
  EXPECT_EQ(doc4.beeps, 1);
  EXPECT_EQ(doc4.data.UndoList->Count(), 0);
}

TEST(RVEditInsert, NothingGoesBetweenStickingItems) {
  EditDoc doc;
  doc.Build("s7:ab|+s7:cd");
  doc.At(0, 3);
  doc.data.InsertText("x", true, false);
  EXPECT_EQ(doc.Dump(), "[ab s7 p0][cd s7 p0 cont]");
  EXPECT_EQ(doc.beeps, 1);
  EXPECT_EQ(doc.data.UndoList->Count(), 0);
}

TEST(RVEditInsert, InsertedTextMergesWithTheFollowingTextOfItsStyle) {
  EditDoc doc;
  doc.Build("s1:ab|+:cd");
  doc.At(1, 1);
  doc.data.SetCurTextStyleNo(0);
  doc.data.InsertText("xy", true, false);
  EXPECT_EQ(doc.Dump(), "[ab s1 p0][xycd s0 p0 cont]");
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[ab s1 p0][cd s0 p0 cont]");
}

TEST(RVEditInsert, FilesAndStreams) {
  const std::string path = ::testing::TempDir() + "/rvedit_insert.txt";
  {
    std::ofstream f(path, std::ios::binary);
    f << std::string("a\0b\r\n\xA0", 6);  // NUL and OEM 852 "a with acute"
  }
  EditDoc doc;
  doc.Build(":");
  doc.At(0, 1);
  EXPECT_TRUE(doc.data.InsertTextFromFile(path, true, true));
  EXPECT_EQ(doc.Dump(), "[a?b s0 p0][\xC3\xA1 s0 p0]");
  EXPECT_EQ(doc.Caret(), "1:2");
  EXPECT_FALSE(doc.data.InsertTextFromFile(path + ".missing", false, true));
  std::remove(path.c_str());
  // Refused (a read-only paragraph): false, nothing changed.
  EditDoc ro;
  ro.Build("p1:ab");
  ro.At(0, 2);
  TMemoryStream s;
  s.WriteBuffer("xyz", 3);
  s.SetPosition(0);
  EXPECT_FALSE(ro.data.InsertTextFromStream(s, false, true));
  EXPECT_EQ(ro.Dump(), "[ab s0 p1]");
}

TEST(RVEditInsert, NativeFormatStreamAtTheCaret) {
  EditDoc src;
  src.Build(":one|s1:two");
  TMemoryStream stream;
  ASSERT_TRUE(src.data.SaveRVFToStream(stream, false, nullptr, nullptr, clNone));
  EditDoc doc;
  doc.Build(":ab|:cd");
  doc.At(0, 3);
  stream.SetPosition(0);
  EXPECT_TRUE(doc.data.InsertRVFAtCaret(stream));
  EXPECT_EQ(doc.data.ItemCount(), 4);
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][cd s0 p0]");
  // A stream that is not a document: false, a beep, the document unchanged.
  TMemoryStream junk;
  junk.WriteBuffer("garbage\r\n", 9);
  junk.SetPosition(0);
  EXPECT_FALSE(doc.data.InsertRVFAtCaret(junk));
  EXPECT_EQ(doc.Dump(), "[ab s0 p0][cd s0 p0]");
}

TEST(RVEditInsert, RTFStreamAtTheCaret) {
  EditDoc doc;
  doc.Build(":abcd");
  doc.At(0, 3);
  TMemoryStream s;
  const std::string rtf = "{\\rtf1\\ansi one\\par two}";
  s.WriteBuffer(rtf.data(), static_cast<int64_t>(rtf.size()));
  s.SetPosition(0);
  EXPECT_FALSE(doc.data.InsertRTFAtCaret(s));  // no import properties
  TRVRTFReaderProperties props;
  doc.data.RTFReadProperties = &props;
  s.SetPosition(0);
  EXPECT_TRUE(doc.data.InsertRTFAtCaret(s));
  std::string all;
  for (int32_t i = 0; i < doc.data.ItemCount(); ++i) all += doc.Text(i) + "|";
  EXPECT_EQ(all, "abone|twocd|");  // the word is cut around the inserted paragraphs
  doc.data.Undo();
  EXPECT_EQ(doc.Dump(), "[abcd s0 p0]");
  // A broken stream: false, a beep.
  TMemoryStream bad;
  bad.WriteBuffer("{\\rtf1 x", 8);
  bad.SetPosition(0);
  EXPECT_FALSE(doc.data.InsertRTFAtCaret(bad));
  EXPECT_EQ(doc.beeps, 1);
}


// A stream inserted before the first item of a paragraph takes over its line start: the
// paragraph's text continues the stream's last line instead of becoming a paragraph of its
// own (a cut and a paste back at the same place give the document it was).
TEST(RVEditInsert, StreamsAtAParagraphStartJoinItsText) {
  struct Case {
    const char* name;
    const char* doc;
    int32_t item, offs;
    const char* rtf;
    const char* expected;
  } cases[] = {
      {"one line at the document start", ":abcd", 0, 1, "{\\rtf1\\ansi XY}", "[XYabcd s0 p0]"},
      {"one line at a second paragraph", ":ab|:cd", 1, 1, "{\\rtf1\\ansi XY}", "[ab s0 p0][XYcd s0 p0]"},
      {"two paragraphs", ":abcd", 0, 1, "{\\rtf1\\ansi X\\par Y}", "[X s0 p0][Yabcd s0 p0]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EditDoc doc;
    doc.Build(c.doc);
    doc.At(c.item, c.offs);
    TRVRTFReaderProperties props;
    doc.data.RTFReadProperties = &props;
    TMemoryStream s;
    const std::string rtf = c.rtf;
    s.WriteBuffer(rtf.data(), static_cast<int64_t>(rtf.size()));
    s.SetPosition(0);
    ASSERT_TRUE(doc.data.InsertRTFAtCaret(s));
    EXPECT_EQ(doc.Dump(), c.expected);
    doc.data.Undo();
    EXPECT_EQ(doc.Dump(), std::string(c.doc) == ":abcd" ? "[abcd s0 p0]" : "[ab s0 p0][cd s0 p0]");
  }
}

}  // namespace
}  // namespace pelvar
