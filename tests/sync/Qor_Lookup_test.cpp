// Named values and the text streams without a database: names looked up ignoring case,
// Null kept apart from an empty text, lines read over CR LF with control bytes dropped,
// and a tagged text file written and read back.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/exceptions.h"
#include "support/process.h"
#include "sync/Qor_Lookup.h"

namespace pelvar::test {
namespace {

TEST(TVariants, NamedValuesKeepTheirKind) {
  TVariants v;
  EXPECT_EQ(v.IndexOf("x"), -1);
  v.Add("ID_X", Variant(5));
  v.Add("NAZEV", Variant::MakeNull());
  v.Add("POZNAMKA", Variant(AnsiString()));
  v.Add("id_x", Variant(6));
  EXPECT_EQ(v.GetCount(), 4);
  EXPECT_EQ(v.IndexOf("id_x"), 0);  // the first, ignoring case
  EXPECT_EQ(v.IndexOf(CZ("ŽÁDNÝ")), -1);
  EXPECT_EQ(v.GetName(3), "id_x");
  EXPECT_TRUE(v.GetValue(1).IsNull());
  EXPECT_FALSE(v.GetValue(2).IsNull());
  EXPECT_EQ(v.GetValue(2).AsString(), "");
  EXPECT_EQ(v.GetValue(3).AsInteger(), 6);
  EXPECT_THROW(v.GetValue(4), EListError);
  v.Clear();
  EXPECT_EQ(v.GetCount(), 0);
}

TEST(TTextMemoryStream, LinesAndDelimiters) {
  TTextMemoryStream s;
  s.WriteLine("ab");
  s.WriteString("c\td");
  s.WriteLine("");
  s.WriteString(CZ("žluť;kůň"));
  s.Seek(0, TSeekOrigin::soBeginning);
  AnsiString text;
  s.ReadLine(text);
  EXPECT_EQ(text, "ab");
  s.ReadLine(text);
  EXPECT_EQ(text, "cd");  // the TAB is dropped
  s.ReadTo(";", text);
  EXPECT_EQ(text, CZ("žluť"));
  s.ReadTo(";;", text);  // a longer delimiter never matches: the rest
  EXPECT_EQ(text, CZ("kůň"));
  s.ReadLine(text);
  EXPECT_EQ(text, "");
}

TEST(TAsciTable, TaggedLinesWrittenAndReadBack) {
  TempDir dir("pelvar-asci");
  {
    TAsciTable t;
    t.FileName = dir.File("t.txt");
    t.Mode = TAsciTable::amSave;
    t.Open();
    t.WriteLine("[H] hlavicka");
    t.WriteLine("[P] polozka 1");
    t.WriteLine("bez znacky");
    t.Close();
  }
  EXPECT_EQ(ReadFile(dir.File("t.txt")), "[H] hlavicka\r\n[P] polozka 1\r\nbez znacky\r\n");
  TAsciTable t;
  t.FileName = dir.File("t.txt");
  t.Mode = TAsciTable::amLoad;
  t.TagNames().Add("[H]", Variant());
  t.TagNames().Add("[P]", Variant());
  t.Open();
  EXPECT_EQ(t.TagWidth, 3);
  EXPECT_EQ(t.CurrentLine, "[H] hlavicka");
  EXPECT_EQ(t.CurrentTag, 0);
  EXPECT_EQ(t.ReadTaggedLine(), "[P]");
  EXPECT_EQ(t.CurrentTag, 1);
  EXPECT_EQ(t.ReadTaggedLine(), "");
  EXPECT_FALSE(t.AtEnd);
  t.ReadTaggedLine();
  EXPECT_TRUE(t.AtEnd);
}

}  // namespace
}  // namespace pelvar::test
