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


// The paragraph numbering of older writers ("pn" groups): bullets and numbers become lists.
TEST(RTFLists, OldParagraphNumbering) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1250{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset2 Symbol;}}\\f0\\fs20 "
      "{\\pard\\fi-360\\li720{\\*\\pn\\pnlvlbody\\pndec\\pnstart1\\pnindent360{\\pntxta .}}"
      "{\\pntext 1.\\tab}jedna\\par}"
      "{\\pard\\fi-360\\li720{\\*\\pn\\pnlvlbody\\pndec\\pnstart1\\pnindent360{\\pntxta .}}"
      "{\\pntext 2.\\tab}dv\\'e1\\par}"
      "{\\pard\\fi-360\\li720{\\*\\pn\\pnlvlblt\\pnf1\\pnindent360{\\pntxtb \\'b7}}"
      "{\\pntext \\'b7\\tab}te\\'e8ka\\par}"
      "\\pard konec}";
  Doc d;
  TRVRTFReaderProperties p;
  Adding(p);
  ASSERT_EQ(Import(p, d.data, rtf), rtf_ec_OK);
  EXPECT_EQ(Paragraphs(d.data), "[0.0:1.]jedna\n[0.0:2.]dvá\n[1.0:·]tečka\nkonec");
  ASSERT_EQ(d.style.ListStyles()->Count(), 2);
  TRVListLevel* numbers = d.style.ListStyles()->Items(0)->Levels()->Items(0);
  EXPECT_EQ(numbers->ListType, rvlstDecimal);
  EXPECT_EQ(numbers->FormatString, "%0:s.");
  EXPECT_EQ(numbers->LeftIndent, 48);
  EXPECT_EQ(numbers->MarkerIndent, 24);
  EXPECT_EQ(d.style.ListStyles()->Items(1)->Levels()->Items(0)->Font()->Name(), "Symbol");
}

std::string Be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
                     static_cast<char>(v)};
}
// The head of a PNG and of a JPEG file of a given size (enough for the picture classes).
std::string PngBytes(uint32_t w, uint32_t h) {
  return std::string("\x89PNG\r\n\x1a\n", 8) + Be32(13) + "IHDR" + Be32(w) + Be32(h) + std::string("\x08\x02\0\0\0", 5) +
         Be32(0x12345678);
}
std::string JpegBytes(uint16_t w, uint16_t h) {
  std::string s("\xFF\xD8\xFF\xC0\x00\x11\x08", 7);
  s += {static_cast<char>(h >> 8), static_cast<char>(h), static_cast<char>(w >> 8), static_cast<char>(w)};
  s += std::string("\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01\xFF\xD9", 12);
  return s;
}
std::unique_ptr<TGraphic> Load(std::unique_ptr<TGraphic> g, const std::string& bytes) {
  TStringStream in(bytes);
  g->LoadFromStream(in);
  return g;
}

TEST(RTFPictures, PicturesTravelThroughRTF) {
  auto bitmap = std::make_unique<TBitmap>(3, 2);
  bitmap->Image.Set(1, 1, 0xFF123456u);
  struct Case {
    std::unique_ptr<TGraphic> graphic;
    int32_t width, height;
    const char* word;
  };
  std::vector<Case> cases;
  cases.push_back({Load(std::make_unique<TPNGImage>(), PngBytes(10, 5)), 20, 0, "\\pngblip"});
  cases.push_back({Load(std::make_unique<TJPEGImage>(), JpegBytes(8, 4)), 0, 0, "\\jpegblip"});
  cases.push_back({std::move(bitmap), 6, 4, "\\dibitmap0"});
  Doc a;
  a.data.AddTextItem(CZ("Obrázky:"), 0, 0);
  for (Case& c : cases) {
    auto* item = new TRVGraphicItemInfo(&a.data, RVCopyGraphic(c.graphic.get()), 0);
    item->ImageWidth = c.width;
    item->ImageHeight = c.height;
    item->ParaNo = -1;
    a.data.AddItem("", item);
  }
  const std::string rtf = Rtf(a.data);
  for (Case& c : cases) EXPECT_NE(rtf.find(c.word), std::string::npos) << c.word;
  EXPECT_NE(rtf.find("\\picscalex200"), std::string::npos);
  Doc b;
  TRVRTFReaderProperties p;
  ASSERT_EQ(Import(p, b.data, rtf), rtf_ec_OK);
  ASSERT_EQ(b.data.ItemCount(), 4);
  for (size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].word);
    auto* pic = dynamic_cast<TRVGraphicItemInfo*>(b.data.GetItem(static_cast<int32_t>(i) + 1));
    ASSERT_NE(pic, nullptr);
    EXPECT_TRUE(pic->GetSameAsPrev());
    EXPECT_EQ(RVGraphicClassName(pic->Image.get()), RVGraphicClassName(cases[i].graphic.get()));
    EXPECT_EQ(pic->ImageWidth, cases[i].width);
    EXPECT_EQ(pic->ImageHeight, cases[i].height);
    TMemoryStream x, y;
    cases[i].graphic->SaveToStream(x);
    pic->Image->SaveToStream(y);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(y.Memory()), static_cast<size_t>(y.Size())),
              std::string(reinterpret_cast<const char*>(x.Memory()), static_cast<size_t>(x.Size())));
  }
  // Sizes from the input are bounded; a picture in both forms comes once; bytes that are not
  // the picture they claim to be end the import with the picture error.
  auto hex = [](const std::string& bytes) {
    std::string h;
    for (unsigned char c : bytes) h += "0123456789abcdef"[c >> 4], h += "0123456789abcdef"[c & 15];
    return h;
  };
  Doc c;
  ASSERT_EQ(Import(p, c.data,
                   "{\\rtf1{\\*\\shppict{\\pict\\pngblip\\picscalex2000000\\picscaley-5 " + hex(PngBytes(10, 5)) +
                       "}}{\\nonshppict{\\pict\\wmetafile8\\picw100\\pich100 0100090000030c0000000000030000000000030000000000}}}"),
            rtf_ec_OK);
  ASSERT_EQ(c.data.ItemCount(), 1);
  auto* big = dynamic_cast<TRVGraphicItemInfo*>(c.data.GetItem(0));
  ASSERT_NE(big, nullptr);
  EXPECT_EQ(big->ImageWidth, RTF_MAX_PICTURE_SIZE);
  EXPECT_EQ(big->ImageHeight, 0);
  // A PNG picture whose bytes do not load comes without a graphic (a picture item showing
  // the invalid picture) and the text after it is read.
  Doc e;
  EXPECT_EQ(Import(p, e.data, "{\\rtf1{\\pict\\pngblip 0102030405}after}"), rtf_ec_OK);
  EXPECT_EQ(Paragraphs(e.data), "<-3>after");
}


// The list and image elements of an HTML page as Python's HTML parser sees them, nested.
std::string HtmlTree(const std::string& file) {
  static const char* const kScript =
      "import sys, html.parser\n"
      "class P(html.parser.HTMLParser):\n"
      "  out = ''\n"
      "  def handle_starttag(self, t, a):\n"
      "    if t in ('ul', 'ol', 'li'): self.out += '<' + t + ''.join(' %s=%s' % (k, v) for k, v in a if k == 'value') + '>'\n"
      "    if t == 'img': self.out += '<img %s>' % dict(a)['src']\n"
      "  def handle_endtag(self, t):\n"
      "    if t in ('ul', 'ol', 'li'): self.out += '</' + t + '>'\n"
      "p = P(); p.feed(open(sys.argv[1], encoding='utf-8').read()); print(p.out)\n";
  test::CommandResult r = test::RunCommand({"python3", "-c", kScript, file});
  EXPECT_EQ(r.exit_code, 0) << r.output;
  return r.output;
}

TEST(HTMLLists, ListsAndPicturesInHTML) {
  if (!test::HaveProgram("python3")) {
    if (test::InCI()) FAIL() << "python3 is missing";
    GTEST_SKIP() << "python3 is not installed";
  }
  Doc a;
  FillLists(a);
  auto* pic = new TRVGraphicItemInfo(&a.data, Load(std::make_unique<TPNGImage>(), PngBytes(10, 5)), 0);
  pic->ParaNo = -1;
  a.data.AddItem("", pic);
  test::TempDir dir("htmllists");
  // A prefix with characters that must not end the attribute.
  const std::string prefix = dir.File("obr \"<&>_");
  for (bool css : {false, true}) {
    SCOPED_TRACE(css);
    TMemoryStream m;
    int32_t no = 0;
    TColor cur = clNone;
    ASSERT_TRUE(css ? a.data.SaveHTMLToStreamEx(m, "", "t", prefix, "", "", "", rvsoUTF8, clNone, cur, no, 0, 0, 0, 0,
                                                nullptr)
                    : a.data.SaveHTMLToStream(m, "", "t", prefix, rvsoUTF8, clNone, no, 0, 0, 0, 0, nullptr));
    const std::string file = dir.File(css ? "css.html" : "plain.html");
    std::ofstream(file, std::ios::binary) << std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
    EXPECT_EQ(HtmlTree(file),
              "<ol><li value=1></li><ol><li value=1></li><li value=2></li></ol><li value=2></li></ol>"
              "<ul><li></li></ul><ol><li value=5></li><li value=6></li></ol><img " + prefix + (css ? "2" : "1") +
                  ".png>\n");
    // The picture lies beside the page with its own bytes (a second page does not overwrite it).
    EXPECT_EQ(test::ReadFile(prefix + (css ? "2" : "1") + ".png"), PngBytes(10, 5));
  }
  // Markers written as text: paragraphs with the marker text, no list elements.
  TMemoryStream m;
  int32_t no = 0;
  TColor cur = clNone;
  ASSERT_TRUE(a.data.SaveHTMLToStreamEx(m, "", "t", prefix, "", "", "", rvsoUTF8 | rvsoMarkersAsText | rvsoOverrideImages,
                                        clNone, cur, no, 0, 0, 0, 0, nullptr));
  const std::string html(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  EXPECT_EQ(html.find("<li"), std::string::npos) << html;
  EXPECT_NE(html.find("b)</span>"), std::string::npos) << html;
  EXPECT_NE(html.find("5.</span>"), std::string::npos) << html;
}

// A control's text, HTML and RTF come from the owner.
TEST(ControlExport, TheOwnerWritesTheControl) {
  Doc a;
  auto* control = new TObject;  // the item's from now on
  auto* item = new TRVControlItemInfo(&a.data);
  item->StyleNo = rvsComponent;
  item->Control = control;
  item->ParaNo = 0;
  a.data.AddItem("ctl", item);
  a.data.OnSaveComponentToFile = [&](const AnsiString&, TObject* c, TRVSaveFormat f, AnsiString& out) {
    EXPECT_EQ(c, control);
    out = f == rvsfHTML ? "<button>OK</button>" : (f == rvsfRTF ? "{\\b OK}" : "[OK]");
    return true;
  };
  EXPECT_NE(Rtf(a.data).find("{\\b OK}"), std::string::npos);
  TMemoryStream h, t;
  int32_t no = 0;
  ASSERT_TRUE(a.data.SaveHTMLToStream(h, "", "t", "img", 0, clNone, no, 0, 0, 0, 0, nullptr));
  EXPECT_NE(std::string(reinterpret_cast<const char*>(h.Memory()), static_cast<size_t>(h.Size())).find("<button>OK</button>"),
            std::string::npos);
  ASSERT_TRUE(a.data.SaveTextToStream("", t, 80, false, false, false, false));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.Memory()), static_cast<size_t>(t.Size())), "[OK]");
}


// Markers in the native format: read back into the same lists, or, where the style sheet
// lacks the lists, without a list (warning 4).
TEST(RTFLists, MarkersInTheNativeFormat) {
  Doc a;
  FillLists(a);
  TMemoryStream m;
  ASSERT_TRUE(a.data.SaveRVFToStream(m, false, nullptr, nullptr, clNone));
  Doc b;
  AddLists(b.style);
  m.SetPosition(0);
  TColor color = clNone;
  ASSERT_TRUE(b.data.LoadRVFFromStream(m, color, nullptr, nullptr));
  EXPECT_EQ(Paragraphs(b.data), kListParagraphs);
  EXPECT_EQ(b.data.GetRVFWarnings(), 0u);
  Doc c;
  m.SetPosition(0);
  ASSERT_TRUE(c.data.LoadRVFFromStream(m, color, nullptr, nullptr));
  EXPECT_EQ(c.data.GetRVFWarnings() & rvfwConvUnknownStyles, rvfwConvUnknownStyles);
  EXPECT_NE(Paragraphs(c.data).find("\n[-1.0:]první\n"), std::string::npos) << Paragraphs(c.data);
}

// A marker that restarts a bullet level has no override of its own: the next list keeps the
// next \ls number, in the table and in its paragraphs.
TEST(RTFLists, RestartedBulletsTakeNoOverride) {
  Doc a;
  AddLists(a.style);
  AddListParagraph(a.data, 0, 0, "odrážka", true, 3);
  AddListParagraph(a.data, 1, 0, "první");
  AddListParagraph(a.data, 1, 0, "od sedmi", true, 7);
  const std::string rtf = Rtf(a.data);
  EXPECT_NE(rtf.find("\\listoverridecount0\\ls2}"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\levelstartat7}\\ls3}"), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("\\tab}\\ls1\\ilvl0 "), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("1.\\tab}\\ls2\\ilvl0 "), std::string::npos) << rtf;
  EXPECT_NE(rtf.find("7.\\tab}\\ls3\\ilvl0 "), std::string::npos) << rtf;
  Doc b;
  AddLists(b.style);
  TRVRTFReaderProperties p;
  Adding(p);
  ASSERT_EQ(Import(p, b.data, rtf), rtf_ec_OK);
  EXPECT_EQ(Paragraphs(b.data), "[0.0:•]odrážka\n[1.0:1.]první\n[1.0:7.]od sedmi");
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

// A long numbered list read in one import is numbered as each marker's place says (the
// markers are numbered once, when the import ends): every paragraph has its number, and a
// bulleted paragraph between does not break the count.
TEST(RTFLists, LongListNumberedOnceByTheImport) {
  auto list = [](int from, int count) {
    std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}{\\f1\\fcharset2 Symbol;}}\\f0\\fs20 ";
    for (int i = from; i < from + count; ++i) {
      rtf += "{\\pard\\fi-360\\li720{\\*\\pn\\pnlvlbody\\pndec\\pnstart1\\pnindent360{\\pntxta .}}item " +
             std::to_string(i) + "\\par}";
      if (i == from + 5)
        rtf += "{\\pard\\fi-360\\li720{\\*\\pn\\pnlvlblt\\pnf1\\pnindent360{\\pntxtb \\'b7}}dot\\par}";
    }
    return rtf + "}";
  };
  Doc d;
  TRVRTFReaderProperties p;
  Adding(p);
  ASSERT_EQ(Import(p, d.data, list(1, 300)), rtf_ec_OK);
  std::vector<int32_t> numbers;
  int32_t bullets = 0;
  for (int32_t i = 0; i < d.data.ItemCount(); ++i)
    if (auto* m = dynamic_cast<TRVMarkerItemInfo*>(d.data.GetItem(i))) {
      if (m->ListNo == 0)
        numbers.push_back(m->Counter);
      else
        ++bullets;
    }
  std::vector<int32_t> expect(300);
  for (int32_t i = 0; i < 300; ++i) expect[static_cast<size_t>(i)] = i + 1;
  EXPECT_EQ(numbers, expect);
  EXPECT_EQ(bullets, 1);
  const std::string text = Paragraphs(d.data);
  EXPECT_NE(text.find(":300.]item 300"), std::string::npos);
  EXPECT_NE(text.find(":·]dot"), std::string::npos);
}

}  // namespace
}  // namespace pelvar
