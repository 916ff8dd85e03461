// Lists and pictures in the document formats: list styles and markers written to RTF (list
// table, overrides, restarting markers) and read back into the same lists (LibreOffice reads
// them in CRVData_rtf_test);
// the older paragraph numbering read as lists; pictures through RTF with their own bytes and
// display size (bounded); HTML lists and pictures written beside the page (checked with
// Python's HTML parser); controls that the owner writes.
#include "richtext/model/RVRTFProps.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVMarker.h"
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

std::string Rtf(TCustomRVData& d) {
  TMemoryStream m;
  EXPECT_TRUE(d.SaveRTFToStream(m, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, false));
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

uint8_t Import(TRVRTFReaderProperties& p, TCustomRVData& d, const std::string& rtf) {
  TStringStream m(rtf);
  int32_t index = d.ItemCount();
  return p.ReadRTFFromStream(m, &d, index);
}

void Adding(TRVRTFReaderProperties& p) {
  p.TextStyleMode = rvrsAddIfNeeded;
  p.ParaStyleMode = rvrsAddIfNeeded;
  p.UnicodeMode = rvruMixed;
}

std::string ItemText(TCustomRVData& d, int32_t i) {
  if (d.GetItem(i)->ItemOptions.Contains(rvioUnicodeText))
    return Utf16ToUtf8(RVU_RawUnicodeToWideString(d.GetItemTextRaw(i)));
  return RVU_AnsiToUTF8(d.GetStyleCodePage(d.GetItemStyle(i)), d.GetItemTextRaw(i));
}

// The paragraphs, one a line; a marker shows as "[list.level:text]", a tab as "\t".
std::string Paragraphs(TCustomRVData& d) {
  std::string out;
  for (int32_t i = 0; i < d.ItemCount(); ++i) {
    TCustomRVItemInfo* it = d.GetItem(i);
    if (i > 0 && !it->GetSameAsPrev()) out += it->GetBR() ? "|" : "\n";
    if (auto* m = dynamic_cast<TRVMarkerItemInfo*>(it))
      out += "[" + std::to_string(m->ListNo) + "." + std::to_string(m->Level) + ":" +
             RVU_AnsiToUTF8(1250, m->DisplayString) + "]";
    else if (it->StyleNo == rvsTab)
      out += "\t";
    else if (it->StyleNo >= 0)
      out += ItemText(d, i);
    else
      out += "<" + std::to_string(it->StyleNo) + ">";
  }
  return out;
}

// Two lists: bullets, and numbers on two levels ("1." and "a)").
void AddLists(TRVStyle& st) {
  TRVListInfo* bullets = st.ListStyles()->Add();
  TRVListLevel* b = bullets->Levels()->Add();
  b->ListType = rvlstBullet;
  b->FormatString = "\x95";
  b->LeftIndent = 24;
  b->MarkerIndent = 0;
  b->FirstIndent = 0;
  b->Font()->SetName("Arial");
  TRVListInfo* numbers = st.ListStyles()->Add();
  TRVListLevel* n0 = numbers->Levels()->Add();
  n0->ListType = rvlstDecimal;
  n0->FormatString = "%0:s.";
  n0->LeftIndent = 24;
  n0->MarkerIndent = 0;
  n0->FirstIndent = 0;
  TRVListLevel* n1 = numbers->Levels()->Add();
  n1->ListType = rvlstLowerAlpha;
  n1->FormatString = "%1:s)";
  n1->LeftIndent = 48;
  n1->MarkerIndent = 24;
  n1->FirstIndent = 0;
  n1->Font()->SetStyle(TFontStyles{fsBold});
  n1->Font()->SetColor(clRed);
}

void AddListParagraph(TCustomRVData& d, int32_t list, int32_t level, const char* text, bool reset = false,
                      int32_t start = 1) {
  auto* m = new TRVMarkerItemInfo(&d);
  m->StyleNo = rvsListMarker;
  m->ListNo = list;
  m->Level = level;
  m->Reset = reset;
  m->StartFrom = start;
  m->ParaNo = 0;
  d.AddItem("", m);
  d.AddMarkerInList(d.ItemCount() - 1);
  d.AddTextItem(CZ(text), 0, -1);
}

void FillLists(Doc& a) {
  AddLists(a.style);
  a.data.AddTextItem(CZ("Úvod"), 0, 0);
  AddListParagraph(a.data, 1, 0, "první");
  AddListParagraph(a.data, 1, 1, "vnořená");
  AddListParagraph(a.data, 1, 1, "druhá vnořená");
  AddListParagraph(a.data, 1, 0, "druhá");
  AddListParagraph(a.data, 0, 0, "odrážka");
  AddListParagraph(a.data, 1, 0, "od pěti", true, 5);
  AddListParagraph(a.data, 1, 0, "šestá");
  a.data.AddTextItem(CZ("Závěr"), 0, 0);
}

const char* const kListParagraphs =
    "Úvod\n[1.0:1.]první\n[1.1:a)]vnořená\n[1.1:b)]druhá vnořená\n[1.0:2.]druhá\n[0.0:•]odrážka\n"
    "[1.0:5.]od pěti\n[1.0:6.]šestá\nZávěr";

TEST(RTFLists, ListsTravelThroughRTF) {
  Doc a;
  FillLists(a);
  ASSERT_EQ(Paragraphs(a.data), kListParagraphs);
  const std::string rtf = Rtf(a.data);
  // One override per list and one for the marker that restarts at 5.
  EXPECT_NE(rtf.find("{\\*\\listtable"), std::string::npos);
  EXPECT_NE(rtf.find("\\listoverridestartat\\levelstartat5}\\ls3}"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("{\\leveltext\\'02\\'00.;}{\\levelnumbers\\'01;}"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("{\\leveltext\\'02\\'01);}{\\levelnumbers\\'01;}"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("5.\\tab}\\ls3\\ilvl0 "), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("6.\\tab}\\ls2\\ilvl0 "), std::string::npos) << rtf;

  // Read into an empty style sheet, the lists are made again, level by level.
  Doc b;
  TRVRTFReaderProperties p;
  Adding(p);
  ASSERT_EQ(Import(p, b.data, rtf), rtf_ec_OK);
  ASSERT_EQ(b.style.ListStyles()->Count(), 2);
  EXPECT_EQ(Paragraphs(b.data), kListParagraphs) << rtf;
  for (int32_t l = 0; l < 2; ++l) {
    TRVListLevelCollection* la = a.style.ListStyles()->Items(l)->Levels();
    TRVListLevelCollection* lb = b.style.ListStyles()->Items(l)->Levels();
    ASSERT_GE(lb->Count(), la->Count());
    for (int32_t i = 0; i < la->Count(); ++i) {
      SCOPED_TRACE(std::to_string(l) + "." + std::to_string(i));
      TRVListLevel* x = la->Items(i);
      TRVListLevel* y = lb->Items(i);
      EXPECT_EQ(y->ListType, x->ListType);
      EXPECT_EQ(y->FormatString, x->FormatString);  // "%0:s" written in full
      EXPECT_EQ(y->LeftIndent, x->LeftIndent);
      EXPECT_EQ(y->MarkerIndent, x->MarkerIndent);
      EXPECT_EQ(y->FirstIndent, x->FirstIndent);
      EXPECT_EQ(y->Font()->Style(), x->Font()->Style());
      EXPECT_EQ(y->Font()->Color(), x->Font()->Color());
    }
  }
  // Read where the same lists exist, they are used: nothing is added.
  Doc c;
  AddLists(c.style);
  TRVRTFReaderProperties q;
  Adding(q);
  ASSERT_EQ(Import(q, c.data, rtf), rtf_ec_OK);
  EXPECT_EQ(c.style.ListStyles()->Count(), 2);
  EXPECT_EQ(Paragraphs(c.data), kListParagraphs);
  // Only styles added as needed bring lists; otherwise the paragraphs come without markers.
  Doc e;
  TRVRTFReaderProperties closest;
  ASSERT_EQ(Import(closest, e.data, rtf), rtf_ec_OK);
  EXPECT_EQ(e.style.ListStyles()->Count(), 0);
  EXPECT_EQ(Paragraphs(e.data), "Úvod\nprvní\nvnořená\ndruhá vnořená\ndruhá\nodrážka\nod pěti\nšestá\nZávěr");

}

}  // namespace
}  // namespace pelvar
