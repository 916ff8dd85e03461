// RTF import into documents: a document exported to RTF and imported again gives the same
// text, styles, tabs and breaks; styles are found or added (and not added twice);
// sub- and superscript keep their size; hidden text, hyperlinks and line breaks; and RTF
// written by independent tools (pandoc from Markdown, LibreOffice from an ODT document).
#include "richtext/model/RVRTFProps.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
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

uint8_t Import(TRVRTFReaderProperties& p, TCustomRVData& d, const std::string& rtf, int32_t index = 0) {
  TMemoryStream m;
  m.WriteBuffer(rtf.data(), static_cast<int64_t>(rtf.size()));
  m.SetPosition(0);
  return p.ReadRTFFromStream(m, &d, index);
}

// The paragraphs of a document as text, one line each ("\t" for tab items).
std::string Text(TCustomRVData& d) {
  std::string out;
  for (int32_t i = 0; i < d.ItemCount(); ++i) {
    if (i > 0 && !d.GetItem(i)->GetSameAsPrev()) out += d.GetItem(i)->GetBR() ? "|" : "\n";
    if (d.GetItem(i)->StyleNo == rvsTab)
      out += "\t";
    else if (d.GetItem(i)->ItemOptions.Contains(rvioUnicodeText))
      out += Utf16ToUtf8(RVU_RawUnicodeToWideString(d.GetItemTextRaw(i)));
    else
      out += RVU_AnsiToUTF8(d.GetStyleCodePage(d.GetItemStyle(i)), d.GetItemTextRaw(i));
  }
  return out;
}

void FillSample(TRVStyle& st, TCustomRVData& d) {
  TFontInfo* bold = st.TextStyles()->Add();  // 6
  bold->Style.Include(fsBold);
  bold->Size = 14;
  TFontInfo* it = st.TextStyles()->Add();  // 7
  it->Style.Include(fsItalic);
  it->Color = clRed;
  it->FontName = "Courier New";
  TParaInfo* right = st.ParaStyles()->Add();  // 2
  right->Alignment = rvaRight;
  right->LeftIndent = 20;
  d.AddTextItem(CZ("Příliš žluťoučký "), 0, 0);
  d.AddTextItem(CZ("kůň"), 6, -1);
  d.AddTextItem(CZ(" úpěl"), 7, -1);
  auto tab = std::make_unique<TRVTabItemInfo>(&d);
  tab->StyleNo = rvsTab;
  tab->TextStyleNo = 0;
  tab->ParaNo = -1;
  d.AddItem("", tab.release());
  d.AddTextItem(CZ("ďábelské ódy"), 0, -1);
  d.AddTextItem(CZ("na střed"), 0, 1);
  d.AddTextItem(CZ("nový řádek"), 6, 1);
  d.GetItem(d.ItemCount() - 1)->SetBR(true);
  d.AddTextItem("vpravo", 7, 2);
}

TEST(RTFImport, ExportThenImportGivesSameTextAndStyles) {
  Doc a;
  FillSample(a.style, a.data);
  const std::string rtf = Rtf(a.data);
  for (TRVReaderStyleMode mode : {rvrsUseClosest, rvrsAddIfNeeded}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Doc b;
    TRVStyle& st = b.style;
    st.TextStyles()->Add()->Style.Include(fsBold);
    st.TextStyles()->Items(6)->Size = 14;
    TFontInfo* it = st.TextStyles()->Add();
    it->Style.Include(fsItalic);
    it->Color = clRed;
    it->FontName = "Courier New";
    TParaInfo* right = st.ParaStyles()->Add();
    right->Alignment = rvaRight;
    right->LeftIndent = 20;
    TRVRTFReaderProperties p;
    p.TextStyleMode = mode;
    p.ParaStyleMode = mode;
    ASSERT_EQ(Import(p, b.data, rtf), rtf_ec_OK);
    EXPECT_EQ(Text(b.data), Text(a.data));
    ASSERT_EQ(b.data.ItemCount(), a.data.ItemCount());
    for (int32_t i = 0; i < a.data.ItemCount(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(b.data.GetItem(i)->StyleNo, a.data.GetItem(i)->StyleNo);
      EXPECT_EQ(b.data.GetItemPara(i), a.data.GetItemPara(i));
      EXPECT_EQ(b.data.GetItem(i)->ItemOptions.ToBits(), a.data.GetItem(i)->ItemOptions.ToBits());
    }
    // Every style the RTF needs exists already: nothing is added.
    EXPECT_EQ(st.TextStyles()->Count(), 8);
    EXPECT_EQ(st.ParaStyles()->Count(), 3);
  }
}

TEST(RTFImport, AddedStylesAreNotAddedTwice) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1250{\\fonttbl{\\f0\\fnil\\fcharset238 Georgia;}}{\\colortbl;\\red0\\green128\\blue0;}"
      "\\pard\\qc\\li720\\sb120 \\plain\\f0\\fs36\\b\\cf1 Zelen\\'e1\\par \\plain\\f0\\fs24\\i kurz\\'edva}";
  Doc d;
  TRVRTFReaderProperties p;
  p.TextStyleMode = rvrsAddIfNeeded;
  p.ParaStyleMode = rvrsAddIfNeeded;
  ASSERT_EQ(Import(p, d.data, rtf), rtf_ec_OK);
  EXPECT_EQ(Text(d.data), "Zelená\nkurzíva");
  const int32_t texts = d.style.TextStyles()->Count(), paras = d.style.ParaStyles()->Count();
  TFontInfo* f = d.style.TextStyles()->Items(d.data.GetItemStyle(0));
  EXPECT_EQ(f->FontName, "Georgia");
  EXPECT_EQ(f->Size, 18);
  EXPECT_TRUE(f->Style.Contains(fsBold));
  EXPECT_EQ(f->Color, clGreen);
  EXPECT_FALSE(f->Standard);
  TParaInfo* pi = d.style.ParaStyles()->Items(d.data.GetItemPara(0));
  EXPECT_EQ(pi->Alignment, rvaCenter);
  EXPECT_EQ(pi->LeftIndent, 48);
  EXPECT_EQ(pi->SpaceBefore, 8);
  ASSERT_EQ(Import(p, d.data, rtf, d.data.ItemCount()), rtf_ec_OK);
  EXPECT_EQ(d.style.TextStyles()->Count(), texts);
  EXPECT_EQ(d.style.ParaStyles()->Count(), paras);
}

TEST(RTFImport, SubAndSuperscriptKeepTheirSize) {
  Doc d;
  TRVRTFReaderProperties p;
  p.TextStyleMode = rvrsAddIfNeeded;
  ASSERT_EQ(Import(p, d.data, "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 H{\\sub 2}O{\\super 3}}"), rtf_ec_OK);
  ASSERT_EQ(d.data.ItemCount(), 4);
  TFontInfo* sub = d.style.TextStyles()->Items(d.data.GetItemStyle(1));
  TFontInfo* sup = d.style.TextStyles()->Items(d.data.GetItemStyle(3));
  EXPECT_EQ(sub->Size, 10);
  EXPECT_EQ(sub->VShift, -25);
  EXPECT_EQ(sup->Size, 10);
  EXPECT_EQ(sup->VShift, 45);
}

TEST(RTFImport, HiddenTextLineBreaksAndTabs) {
  const std::string rtf = "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0 a{\\v skryto}b\\line c\\tab d\\par e}";
  Doc d;
  TRVRTFReaderProperties p;
  ASSERT_EQ(Import(p, d.data, rtf), rtf_ec_OK);
  EXPECT_EQ(Text(d.data), "ab|c\td\ne");
  Doc e;
  p.SkipHiddenText = false;
  p.LineBreaksAsParagraphs = true;
  ASSERT_EQ(Import(p, e.data, rtf), rtf_ec_OK);
  EXPECT_EQ(Text(e.data), "askrytob\nc\td\ne");
  // With spaces in place of tabs the tab is text.
  Doc f;
  f.style.SpacesInTab = 2;
  TRVRTFReaderProperties q;
  ASSERT_EQ(Import(q, f.data, rtf), rtf_ec_OK);
  EXPECT_EQ(Text(f.data), "ab|c  d\ne");
}

TEST(RTFImport, HyperlinksGetTheBasePath) {
  const std::string rtf =
      "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0 {\\field{\\*\\fldinst HYPERLINK \"doc/a b.html\" \\\\o \"tip\"}"
      "{\\fldrslt odkaz}}}";
  for (bool base : {true, false}) {
    Doc d;
    AnsiString seen;
    d.data.OnReadHyperlink = [&](const AnsiString& target, const AnsiString&, TRVLoadFormat, int32_t&, TRVTag&,
                                 AnsiString&) { seen = target; };
    TRVRTFReaderProperties p;
    p.BasePathLinks = base;
    p.ResourceBasePath = "/srv/";
    ASSERT_EQ(Import(p, d.data, rtf), rtf_ec_OK);
    EXPECT_EQ(seen, base ? "/srv/doc/a b.html" : "doc/a b.html");
    ASSERT_EQ(d.data.ItemCount(), 1);
    EXPECT_EQ(d.data.GetItemTextRaw(0), "odkaz");
    // A hyperlink takes a jump style.
    EXPECT_TRUE(d.style.TextStyles()->Items(d.data.GetItemStyle(0))->Jump);
  }
}

// A hyperlink written by the export comes back with its target, quotes and backslashes
// included.
TEST(RTFImport, HyperlinkRoundTrip) {
  Doc a;
  a.style.TextStyles()->Items(4)->Jump = true;
  a.data.AddTextItem("odkaz", 4, 0);
  a.data.OnWriteHyperlink = [](int32_t, TCustomRVData*, int32_t, TRVSaveFormat, AnsiString& target, AnsiString&) {
    target = "C:\\dir\\a \"b\".html";
  };
  const std::string rtf = Rtf(a.data);
  Doc b;
  AnsiString seen;
  b.data.OnReadHyperlink = [&](const AnsiString& target, const AnsiString&, TRVLoadFormat, int32_t&, TRVTag&,
                               AnsiString&) { seen = target; };
  TRVRTFReaderProperties p;
  ASSERT_EQ(Import(p, b.data, rtf), rtf_ec_OK);
  EXPECT_EQ(seen, "C:\\dir\\a \"b\".html") << rtf;
  ASSERT_EQ(b.data.ItemCount(), 1);
  EXPECT_EQ(b.data.GetItemTextRaw(0), "odkaz");
}

TEST(RTFImport, InsertsAtTheIndexAndReportsTheFirstItem) {
  Doc d;
  d.data.AddTextItem("start", 0, 0);
  d.data.AddTextItem("end", 0, 0);
  TRVRTFReaderProperties p;
  TMemoryStream m;
  const std::string rtf = "{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0 x\\par y}";
  m.WriteBuffer(rtf.data(), static_cast<int64_t>(rtf.size()));
  m.SetPosition(0);
  int32_t index = 1;
  ASSERT_EQ(p.ReadRTFFromStream(m, &d.data, index), rtf_ec_OK);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(p.InsertedCount(), 1);
  EXPECT_EQ(Text(d.data), "start\nx\ny\nend");
  EXPECT_THROW(p.SetTextStyleNo(-1), EDocViewError);
}

// RTF from independent writers.
TEST(RTFImport, RtfWrittenByPandocAndLibreOffice) {
  test::TempDir dir("rtfimp");
  const std::string md = dir.File("in.md");
  std::ofstream(md) << "Příliš **žluťoučký** kůň *úpěl* ďábelské ódy.\n\n"
                       "- první položka\n- druhá položka\n\n"
                       "| Jméno | Věk |\n|-------|-----|\n| Čert  | 100 |\n\n![](" + dir.File("pic.png") + ")\n";
  // A 12 x 7 PNG picture (Python's zlib makes it).
  test::CommandResult png = test::RunCommand(
      {"python3", "-c",
       "import sys, zlib, struct\n"
       "def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d))\n"
       "rows = b''.join(b'\\0' + b''.join(bytes([x * 20, y * 30, 128]) for x in range(12)) for y in range(7))\n"
       "open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', 12, 7, 8, 2, 0, 0, 0))"
       " + chunk(b'IDAT', zlib.compress(rows)) + chunk(b'IEND', b''))\n",
       dir.File("pic.png")});
  ASSERT_EQ(png.exit_code, 0) << png.output;
  bool any = false;
  // pandoc writes list markers as text; LibreOffice writes lists (read as list markers) and
  // the picture scaled (16 x 9 at this resolution); pandoc gives only its goal size, and the
  // picture keeps its own size.
  auto check = [&](const std::string& rtf_file, bool lists, int32_t pic_w, int32_t pic_h) {
    Doc d;
    TRVRTFReaderProperties p;
    p.TextStyleMode = rvrsAddIfNeeded;
    p.ParaStyleMode = rvrsAddIfNeeded;
    p.UnicodeMode = rvruMixed;
    ASSERT_EQ(Import(p, d.data, test::ReadFile(rtf_file)), rtf_ec_OK);
    const std::string text = Text(d.data);
    EXPECT_NE(text.find("Příliš žluťoučký kůň úpěl ďábelské ódy."), std::string::npos) << text;
    EXPECT_NE(text.find("první položka"), std::string::npos) << text;
    EXPECT_NE(text.find("Čert"), std::string::npos) << text;
    int32_t markers = 0;
    TRVGraphicItemInfo* pic = nullptr;
    for (int32_t i = 0; i < d.data.ItemCount(); ++i) {
      if (auto* g = dynamic_cast<TRVGraphicItemInfo*>(d.data.GetItem(i))) pic = g;
      auto* m = dynamic_cast<TRVMarkerItemInfo*>(d.data.GetItem(i));
      if (!m || i + 1 >= d.data.ItemCount()) continue;
      ++markers;
      TRVListLevel* l = GetLevelInfo(m, &d.style);
      ASSERT_NE(l, nullptr);
      EXPECT_EQ(l->ListType, rvlstUnicodeBullet);
      EXPECT_EQ(l->FormatStringW, u"\u2022");
    }
    if (lists)
      EXPECT_EQ(markers, 2) << text;
    else
      EXPECT_NE(text.find("•\tprvní položka"), std::string::npos) << text;
    ASSERT_NE(pic, nullptr) << text;
    EXPECT_EQ(RVGraphicClassName(pic->Image.get()), "TPNGImage");
    EXPECT_EQ(pic->GetImageWidth(), pic_w);
    EXPECT_EQ(pic->GetImageHeight(), pic_h);
    // The text of the bold and of the italic items (runs may be split by code page).
    std::string bold, italic;
    for (int32_t i = 0; i < d.data.ItemCount(); ++i) {
      if (d.data.GetItem(i)->StyleNo < 0) continue;
      TFontInfo* f = d.style.TextStyles()->Items(d.data.GetItemStyle(i));
      const std::string t = d.data.GetItem(i)->ItemOptions.Contains(rvioUnicodeText)
                                ? Utf16ToUtf8(RVU_RawUnicodeToWideString(d.data.GetItemTextRaw(i)))
                                : RVU_AnsiToUTF8(d.data.GetStyleCodePage(d.data.GetItemStyle(i)), d.data.GetItemTextRaw(i));
      if (f->Style.Contains(fsBold)) bold += t;
      if (f->Style.Contains(fsItalic)) italic += t;
    }
    EXPECT_NE(bold.find("žluťoučký"), std::string::npos) << bold;
    EXPECT_EQ(bold.find("kůň"), std::string::npos) << bold;
    EXPECT_NE(italic.find("úpěl"), std::string::npos) << italic;
  };
  if (test::HaveProgram("pandoc")) {
    any = true;
    const std::string out = dir.File("pandoc.rtf");
    test::CommandResult r = test::RunCommand({"pandoc", "-s", "-f", "markdown", "-t", "rtf", "-o", out, md});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    check(out, false, 12, 7);
  }
  if (test::HaveProgram("soffice") && test::HaveProgram("pandoc")) {
    const std::string odt = dir.File("in.odt");
    test::CommandResult r = test::RunCommand({"pandoc", "-f", "markdown", "-o", odt, md});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    r = test::RunCommand({"soffice", "--headless", "-env:UserInstallation=file://" + dir.Path() + "/lo",
                          "--convert-to", "rtf", "--outdir", dir.Path(), odt});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    check(dir.File("in.rtf"), true, 16, 9);
  }
  if (!any) {
    if (test::InCI()) FAIL() << "pandoc is missing";
    GTEST_SKIP() << "pandoc is not installed (scripts/deps.sh installs it)";
  }
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

// Lengths and sizes at the ends of the 32-bit range are taken as the reader's bounds: the
// import and the export of what it made do no arithmetic that overflows (the sanitizer
// build stops at any), and the text arrives.
TEST(RTFImportBounds, HugeLengthsAndSizesAreClamped) {
  const char* cases[] = {
      "{\\rtf1 {\\sl2147483647 x}\\par}",
      "{\\rtf1 {\\sl-2147483648\\slmult1 x}\\par}",
      "{\\rtf1 {\\fs2147483647 x}\\par}",
      "{\\rtf1 {\\fs-2147483648 x}\\par}",
      "{\\rtf1 {\\li2147483647\\ri-2147483648\\fi-2147483648\\sb2147483647\\sa2147483647 x}\\par}",
      "{\\rtf1 {\\expndtw2147483647\\charscalex2147483647\\tx2147483647 x}\\par}",
      "{\\rtf1 \\trowd\\trgaph2147483647\\trleft-2147483648\\cellx2147483647 x\\cell\\row}",
  };
  for (const char* rtf : cases) {
    SCOPED_TRACE(rtf);
    Doc d;
    TRVRTFReaderProperties p;
    p.TextStyleMode = rvrsAddIfNeeded;
    p.ParaStyleMode = rvrsAddIfNeeded;
    ASSERT_EQ(Import(p, d.data, rtf), rtf_ec_OK);
    for (int32_t i = 0; i < d.style.TextStyles()->Count(); ++i)
      EXPECT_LE(d.style.TextStyles()->Items(i)->Size, RTF_MAX_FONT_HALF_POINTS / 2);
    const std::string out = Rtf(d.data);
    Doc back;
    TRVRTFReaderProperties q;
    ASSERT_EQ(Import(q, back.data, out), rtf_ec_OK);
    EXPECT_NE(Text(back.data).find('x'), std::string::npos);
  }
}

// Linked pictures (INCLUDEPICTURE) of a document read from a file come from the
// document's own folder without any setting; a link that leads out of that folder, or any
// link when the folder is not known, brings nothing; the caller's folder wins when set.
TEST(RTFImportPictures, LinkedPicturesFromTheDocumentsOwnFolder) {
  test::TempDir dir("rtflinks");
  ASSERT_EQ(system(("mkdir -p '" + dir.File("doc") + "'").c_str()), 0);
  const std::string png = test::ReadFile(std::string(PELVAR_SOURCE_DIR) + "/tests/richtext/model/fixtures/red4.png");
  std::ofstream(dir.File("doc/pic.png"), std::ios::binary) << png;
  std::ofstream(dir.File("outside.png"), std::ios::binary) << png;
  struct {
    const char* arg;
    std::string base, allowed;
    bool loaded;
  } cases[] = {
      {"pic.png", dir.File("doc/"), "", true},
      {"../outside.png", dir.File("doc/"), "", false},
      {"pic.png", "", "", false},
      {"pic.png", dir.File("doc/"), dir.Path() + "/elsewhere", false},
      {"../outside.png", dir.File("doc/"), dir.Path(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.arg) + " base " + c.base + " allowed " + c.allowed);
    Doc d;
    TRVRTFReaderProperties p;
    p.ResourceBasePath = c.base;
    p.PictureAllowedFolder = c.allowed;
    ASSERT_EQ(Import(p, d.data, std::string("{\\rtf1 a{\\field{\\*\\fldinst INCLUDEPICTURE \"") + c.arg +
                                    "\"}{\\fldrslt }}b\\par}"),
              rtf_ec_OK);
    int32_t pictures = 0;
    for (int32_t i = 0; i < d.data.ItemCount(); ++i) pictures += d.data.GetItem(i)->StyleNo == rvsPicture;
    EXPECT_EQ(pictures, c.loaded ? 1 : 0);
    EXPECT_NE(Text(d.data).find('b'), std::string::npos);
  }
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

// Runs that the reader splits at every switch between code-page and Unicode characters
// arrive as one text item per run of one style; a change of style still starts an item.
TEST(RTFImport, RunsOfOneStyleAreOneItem) {
  const std::string rtf =
      "{\\rtf1\\ansi\\ansicpg1250{\\fonttbl{\\f0\\fcharset238 Arial;}}\\f0\\uc1 "
      "P\\u345\\'f8\\u237\\'edli\\u353\\'9a {\\b \\u382\\'9elu\\u357\\'9dou\\u269\\'e8k\\u253\\'fd} k\\u367\\'f9\\u328\\'f2\\par}";
  for (TRVReaderUnicode mode : {rvruOnlyUnicode, rvruNoUnicode}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Doc d;
    TRVRTFReaderProperties p;
    p.UnicodeMode = mode;
    p.TextStyleMode = rvrsAddIfNeeded;
    ASSERT_EQ(Import(p, d.data, rtf), rtf_ec_OK);
    EXPECT_EQ(Text(d.data), "Příliš žluťoučký kůň");
    EXPECT_EQ(d.data.ItemCount(), 3);
  }
  // Czech text in a Western font, as a word processor writes it: the letters the font's
  // code page lacks come as Unicode characters, the others as code-page bytes. With mixed
  // Unicode each text of one formatting is still one item (a Unicode one), not a piece per
  // switch; text in the code page alone stays a code-page item.
  const std::string western =
      "{\\rtf1\\ansi\\ansicpg1252{\\fonttbl{\\f0\\fcharset0 Liberation Serif;}}\\f0\\uc1 "
      "P\\u345\\'3f\\'edli\\u353\\'3f {\\b \\u382\\'3flu\\u357\\'3fou\\u269\\'3fk\\'fd} "
      "k\\u367\\'3f\\u328\\'3f a dost\\par Only Western text\\par}";
  Doc d;
  TRVRTFReaderProperties p;
  p.UnicodeMode = rvruMixed;
  p.TextStyleMode = rvrsAddIfNeeded;
  ASSERT_EQ(Import(p, d.data, western), rtf_ec_OK);
  EXPECT_EQ(Text(d.data), "Příliš žluťoučký kůň a dost\nOnly Western text");
  ASSERT_EQ(d.data.ItemCount(), 4);
  for (int32_t i = 0; i < 3; ++i) EXPECT_TRUE(d.data.GetItem(i)->ItemOptions.Contains(rvioUnicodeText)) << i;
  EXPECT_FALSE(d.data.GetItem(3)->ItemOptions.Contains(rvioUnicodeText));
}

}  // namespace
}  // namespace pelvar
