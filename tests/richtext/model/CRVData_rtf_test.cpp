// RTF export: the header tables, paragraph and text properties, line and paragraph breaks,
// bookmarks, selections, HTML- and RTF-code styles; and the output read by independent
// readers (pandoc, LibreOffice, unrtf) with the Czech letters intact and, for LibreOffice,
// the list numbers.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVStyle_list.h"
#include "richtext/model/RVUni.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  Doc() { data.SetRVStyle(&style); }
};

std::string Rtf(TCustomRVData& d, bool selection = false) {
  TMemoryStream m;
  EXPECT_TRUE(d.SaveRTFToStream(m, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, selection));
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

TEST(RTFExport, OneParagraphHeaderAndBody) {
  Doc d;
  d.data.AddTextItem("Hello", 0, 0);
  const std::string s = Rtf(d.data);
  EXPECT_EQ(s.rfind("{\\rtf1\\ansi\\ansicpg1250\\uc1\\deff0", 0), 0u) << s;
  // Every default style is Arial: one font entry.
  EXPECT_NE(s.find("{\\fonttbl{\\f0\\fnil\\fcharset1 Arial;}}"), std::string::npos) << s;
  EXPECT_EQ(s.find("\\f1\\fnil"), std::string::npos);
  EXPECT_NE(s.find("{\\colortbl;\\red0\\green0\\blue0;\\red0\\green0\\blue255;\\red0\\green255\\blue255;"),
            std::string::npos);
  EXPECT_NE(s.find("\\uc0\r\n\\pard\\fi0\\li0\\ql\\ri0\\sb0\\sa0 \\plain \\f0\\fs20 Hello}"), std::string::npos) << s;
}

TEST(RTFExport, ParagraphsLineBreaksAndScripts) {
  Doc d;
  TFontInfo* sup = d.style.TextStyles()->Add();
  sup->VShift = 50;
  sup->Size = 10;
  d.data.AddTextItem("one", 0, 0);
  d.data.AddTextItem("two", 0, 0);
  d.data.AddTextItem("three", 0, 0);
  d.data.GetItem(2)->SetBR(true);
  d.data.AddTextItem("x", d.style.TextStyles()->Count() - 1, -1);
  const std::string s = Rtf(d.data);
  EXPECT_NE(s.find("one\r\n\\par \\pard"), std::string::npos) << s;
  EXPECT_NE(s.find("\r\n\\line three"), std::string::npos) << s;
  // A raised 10-point style is written at 10 points (20 half points), not twice that.
  EXPECT_NE(s.find("\\super\\fs20 x"), std::string::npos) << s;
  EXPECT_EQ(s.find("\\fs40"), std::string::npos);
}

TEST(RTFExport, BookmarksAndCodeStyles) {
  Doc d;
  d.data.AddCheckpoint("my mark", false, TRVTag());
  d.data.AddTextItem("a", 0, 0);
  d.data.AddCheckpoint("", false, TRVTag());
  d.data.AddTextItem("b", 0, 0);
  TFontInfo* html = d.style.TextStyles()->Add();
  html->Options.Include(rvteoHTMLCode);
  d.data.AddTextItem("<b>html</b>", d.style.TextStyles()->Count() - 1, 0);
  TFontInfo* rtf = d.style.TextStyles()->Add();
  rtf->Options.Include(rvteoRTFCode);
  d.data.AddTextItem("{\\b raw}", d.style.TextStyles()->Count() - 1, 0);
  d.data.AddTextItem("{esc}", 0, 0);
  const std::string s = Rtf(d.data);
  EXPECT_NE(s.find("{\\*\\bkmkstart my_mark}{\\*\\bkmkend my_mark}"), std::string::npos) << s;
  EXPECT_NE(s.find("{\\*\\bkmkstart DocViewCheckpoint1}"), std::string::npos) << s;
  EXPECT_EQ(s.find("html"), std::string::npos);
  EXPECT_NE(s.find("{\\b raw}"), std::string::npos);
  EXPECT_NE(s.find("\\{esc\\}"), std::string::npos);
}

// A document whose selection is a range inside one item.
class TSelData : public TCustomRVData {
 public:
  void GetSelectionBounds(int32_t kind, int32_t& a, int32_t& ao, int32_t& b, int32_t& bo) override {
    if (kind == 0) return TCustomRVData::GetSelectionBounds(kind, a, ao, b, bo);
    a = b = 0;
    ao = 3;
    bo = 6;
  }
};

TEST(RTFExport, SelectionInsideOneItem) {
  TRVStyle style(nullptr);
  TSelData d;
  d.SetRVStyle(&style);
  d.AddTextItem("abcdefgh", 0, 0);
  const std::string s = Rtf(d, true);
  EXPECT_NE(s.find("\\fs20 cde}"), std::string::npos) << s;
}

// Czech text in several styles, read back by independent readers.
std::string CzechRtf() {
  Doc d;
  TFontInfo* bold = d.style.TextStyles()->Add();
  bold->Style.Include(fsBold);
  TFontInfo* uni = d.style.TextStyles()->Add();
  uni->Unicode = true;
  uni->FontName = "Times New Roman";
  d.data.AddTextItem(CZ("Příliš žluťoučký kůň"), 0, 0);
  d.data.AddTextItem(CZ(" úpěl"), 6, -1);
  d.data.AddTextItem(RVU_AnsiToUnicode(1250, CZ("ďábelské ódy")), 7, 0);
  // A numbered list on two levels.
  TRVListInfo* list = d.style.ListStyles()->Add();
  TRVListLevel* l0 = list->Levels()->Add();
  l0->ListType = rvlstDecimal;
  l0->FormatString = "%0:s.";
  l0->LeftIndent = 24;
  TRVListLevel* l1 = list->Levels()->Add();
  l1->ListType = rvlstLowerAlpha;
  l1->FormatString = "%1:s)";
  l1->LeftIndent = 48;
  l1->MarkerIndent = 24;
  for (int32_t level : {0, 1, 1, 0}) {
    auto* m = new TRVMarkerItemInfo(&d.data);
    m->StyleNo = rvsListMarker;
    m->ListNo = 0;
    m->Level = level;
    d.data.AddItem("", m);
    d.data.AddMarkerInList(d.data.ItemCount() - 1);
    d.data.AddTextItem(level == 0 ? CZ("položka") : CZ("vnořená"), 0, -1);
  }
  return Rtf(d.data);
}

TEST(RTFExport, ReadByPandocLibreOfficeAndUnrtf) {
  test::TempDir dir("rtfexp");
  const std::string file = dir.File("cz.rtf");
  {
    std::ofstream(file, std::ios::binary) << CzechRtf();
  }
  bool any = false;
  if (test::HaveProgram("pandoc")) {
    any = true;
    test::CommandResult r = test::RunCommand({"pandoc", "-f", "rtf", "-t", "plain", file});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("Příliš žluťoučký kůň úpěl"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("ďábelské ódy"), std::string::npos) << r.output;
  }
  if (test::HaveProgram("soffice")) {
    any = true;
    test::CommandResult r = test::RunCommand({"soffice", "--headless", "-env:UserInstallation=file://" + dir.Path() + "/lo",
                                              "--convert-to", "txt:Text (encoded):UTF8", "--outdir", dir.Path(), file});
    EXPECT_EQ(r.exit_code, 0) << r.output;
    const std::string txt = test::ReadFile(dir.File("cz.txt"));
    EXPECT_NE(txt.find("Příliš žluťoučký kůň úpěl"), std::string::npos) << txt;
    EXPECT_NE(txt.find("ďábelské ódy"), std::string::npos) << txt;
    for (const char* line : {"1. položka", "a) vnořená", "b) vnořená", "2. položka"})
      EXPECT_NE(txt.find(line), std::string::npos) << txt;
  }
  if (!any) {
    if (test::InCI()) FAIL() << "pandoc and LibreOffice are missing";
    GTEST_SKIP() << "neither pandoc nor LibreOffice is installed (scripts/deps.sh installs them)";
  }
}

}  // namespace
}  // namespace pelvar
