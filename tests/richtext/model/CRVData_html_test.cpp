// Plain-text and HTML export: the text export against a golden file and in UTF-16 with its
// byte-order mark; the HTML pages with and without CSS parsed by Python's HTML parser and
// loaded by headless Chromium (paragraphs, span classes, escaped title and attributes).
#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "platform/iconv_cache.h"
#include "richtext/model/RVRTFProps.h"
#include "richtext/model/RVUni.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  Doc() { data.SetRVStyle(&style); }
};

std::string Bytes(TMemoryStream& m) {
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

void FillSample(TCustomRVData& d) {
  d.AddTextItem(CZ("Příliš žluťoučký"), 0, 0);
  d.AddTextItem(CZ(" kůň"), 1, -1);
  d.AddTextItem(" a < b & c", 1, -1);
  auto tab = std::make_unique<TRVTabItemInfo>(&d);
  tab->StyleNo = rvsTab;
  tab->TextStyleNo = 0;
  tab->ParaNo = -1;
  d.AddItem("", tab.release());
  d.AddTextItem("po tabu", 0, -1);
  auto br = std::make_unique<TRVBreakItemInfo>(&d);
  br->StyleNo = rvsBreak;
  d.AddItem("", br.release());
  d.AddTextItem("", 0, 0);
  d.AddTextItem(CZ("poslední řádek"), 2, 0);
}

TEST(TextExport, EqualsGoldenFile) {
  Doc d;
  FillSample(d.data);
  TMemoryStream m;
  ASSERT_TRUE(d.data.SaveTextToStream("", m, 10, false, false, false, false));
  const std::string golden = test::ReadFile(std::string(PELVAR_SOURCE_DIR) + "/tests/richtext/model/fixtures/export_sample.txt");
  EXPECT_EQ(AnsiToUtf8(Bytes(m)), golden);
}

// A long document in a code page of its own converts every item: the converter is opened
// once, not once per item (an open costs more than the conversion of a short item).
TEST(TextExport, ConvertsItemsWithOneConverterPerCodePage) {
  Doc d;
  d.style.TextStyles()->Items(0)->Charset = 204;  // Windows-1251
  for (int i = 0; i < 300; ++i) d.data.AddTextItem("\xCF\xF0\xE8\xE2\xE5\xF2", 0, 0);  // "Привет"
  TMemoryStream first;
  ASSERT_TRUE(d.data.SaveTextToStream("", first, 0, false, false, true, false));
  const int64_t opened = IconvDescriptorsOpened();
  TMemoryStream second;
  ASSERT_TRUE(d.data.SaveTextToStream("", second, 0, false, false, true, false));
  EXPECT_EQ(IconvDescriptorsOpened(), opened);
  const std::string bytes = Bytes(second);
  ASSERT_GE(bytes.size(), 12u);
  EXPECT_EQ(bytes.substr(0, 12), std::string("\x1F\x04\x40\x04\x38\x04\x32\x04\x35\x04\x42\x04", 12));
  EXPECT_EQ(bytes, Bytes(first));
}

TEST(TextExport, Utf16StartsWithByteOrderMark) {
  Doc d;
  d.data.AddTextItem(CZ("ř"), 0, 0);
  TMemoryStream m;
  ASSERT_TRUE(d.data.SaveTextToStream("", m, 0, false, false, true, true));
  EXPECT_EQ(Bytes(m), std::string("\xFF\xFE\x59\x01", 4));
}

std::string Html(TCustomRVData& d, bool css, uint32_t options, const std::string& title) {
  TMemoryStream m;
  int32_t no = 0;
  TColor cur = clNone;
  bool ok = css ? d.SaveHTMLToStreamEx(m, "", title, "img", "", "", "", options, clWhite, cur, no, 5, 5, 5, 5, nullptr)
                : d.SaveHTMLToStream(m, "", title, "img", options, clWhite, no, 5, 5, 5, 5, nullptr);
  EXPECT_TRUE(ok);
  return Bytes(m);
}

TEST(HTMLExport, EscapesTitleTextAndAttributes) {
  Doc d;
  d.data.AddTextItem("<i>x</i>", 0, 0);
  d.data.GetItem(0)->Hint = "say \"hi\" & <go>";
  TFontInfo* code = d.style.TextStyles()->Add();
  code->Options.Include(rvteoHTMLCode);
  d.data.AddTextItem("<b>raw</b>", d.style.TextStyles()->Count() - 1, 0);
  for (bool css : {false, true}) {
    const std::string s = Html(d.data, css, rvsoUTF8, "A </title><script>x</script>");
    EXPECT_NE(s.find("<title>A &lt;/title&gt;&lt;script&gt;x&lt;/script&gt;</title>"), std::string::npos) << s;
    EXPECT_NE(s.find("&lt;i&gt;x&lt;/i&gt;"), std::string::npos);
    EXPECT_NE(s.find("title=\"say &quot;hi&quot; &amp; &lt;go&gt;\""), std::string::npos) << s;
    EXPECT_NE(s.find("<b>raw</b>"), std::string::npos);
  }
}

TEST(HTMLExport, EmptyParagraphAndSpans) {
  Doc d;
  d.data.AddTextItem("", 0, 0);
  d.data.AddTextItem("a", 1, 0);
  d.data.AddTextItem("b", 1, -1);
  d.data.AddTextItem("c", 1, -1);
  EXPECT_NE(Html(d.data, false, rvsoXHTML, "t").find("<p><br />"), std::string::npos);
  const std::string s = Html(d.data, true, 0, "t");
  EXPECT_NE(s.find("<p><span class=rvts1>abc</span></p>"), std::string::npos) << s;
  // Only the head part.
  const std::string h = Html(d.data, true, rvsoFirstOnly, "t");
  EXPECT_EQ(h.find("</body>"), std::string::npos);
  EXPECT_NE(h.find("<body>"), std::string::npos);
}

// A picture that cannot be written as a file (an empty 0 x 0 metafile, as documents carry
// for missing images) is left out, its alternative text in its place, and the page goes on
// to its end; the pictures that can be written still are.
TEST(HTMLExport, GoesOnPastAPictureThatCannotBeWritten) {
  const std::string empty_metafile =
      "{\\pict\\wmetafile8\\picw0\\pich0 0100090000030c0000000000030000000000030000000000}";
  const std::string rtf = "{\\rtf1 p\\u345?ed " + empty_metafile + " po\\par druh\\u253? " +
                          "{\\pict\\dibitmap0\\picw1\\pich1 280000000100000001000000010018000000000004000000"
                          "00000000000000000000000000000000ff000000}\\par konec\\par}";
  for (bool css : {false, true}) {
    SCOPED_TRACE(css ? "css" : "plain");
    Doc d;
    TRVRTFReaderProperties p;
    p.UnicodeMode = rvruOnlyUnicode;
    TStringStream in(rtf);
    int32_t index = 0;
    ASSERT_EQ(p.ReadRTFFromStream(in, &d.data, index), rtf_ec_OK);
    test::TempDir dir("htmlpict");
    const std::string path = dir.Path() + "/";
    TMemoryStream m;
    int32_t no = 0;
    TColor cur = clNone;
    const bool ok = css ? d.data.SaveHTMLToStreamEx(m, path, "t", "img", "", "", "", rvsoUTF8, clWhite, cur, no, 5,
                                                    5, 5, 5, nullptr)
                        : d.data.SaveHTMLToStream(m, path, "t", "img", rvsoUTF8, clWhite, no, 5, 5, 5, 5, nullptr);
    EXPECT_TRUE(ok);
    const std::string page = Bytes(m);
    EXPECT_NE(page.find("po"), std::string::npos) << page;
    EXPECT_NE(page.find("konec"), std::string::npos) << page;
    EXPECT_NE(page.find("</html>"), std::string::npos) << page;
    EXPECT_EQ(page.find("<img"), page.rfind("<img")) << page;  // one picture written: the bitmap
    EXPECT_NE(page.find("<img"), std::string::npos) << page;
  }
}

// The page read by an HTML parser: its paragraphs with their text and span classes.
TEST(HTMLExport, ParsedByPythonAndChromium) {
  Doc d;
  FillSample(d.data);
  test::TempDir dir("htmlexp");
  for (bool css : {false, true}) {
    SCOPED_TRACE(css ? "css" : "plain");
    const std::string file = dir.File(css ? "css.html" : "plain.html");
    std::ofstream(file, std::ios::binary) << Html(d.data, css, rvsoUTF8, CZ("Zkouška"));
    const char* script = R"(
import sys, html.parser
class P(html.parser.HTMLParser):
    def __init__(s):
        super().__init__(); s.out=[]; s.depth=0; s.title=False
    def handle_starttag(s, tag, attrs):
        a=dict(attrs)
        if tag=='p': s.out.append('P:')
        if tag=='span' and 'class' in a: s.out.append('[%s]' % a['class'])
        if tag=='title': s.title=True
    def handle_endtag(s, tag):
        if tag=='title': s.title=False
    def handle_data(s, data):
        if s.title: s.out.append('T:'+data)
        elif data.strip('\r\n'): s.out.append(data)
p=P(); p.feed(open(sys.argv[1], encoding='utf-8').read()); print('|'.join(p.out))
)";
    test::CommandResult r = test::RunCommand({"python3", "-c", script, file});
    ASSERT_EQ(r.exit_code, 0) << r.output;
    EXPECT_NE(r.output.find("T:Zkouška"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Příliš žluťoučký"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find(" a < b & c"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("poslední řádek"), std::string::npos) << r.output;
    if (css) {
      EXPECT_NE(r.output.find("[rvts1]| kůň a < b & c"), std::string::npos) << r.output;
    }
    const char* browser = test::HaveProgram("chromium") ? "chromium" : nullptr;
    if (browser) {
      test::CommandResult c = test::RunCommand({browser, "--headless", "--no-sandbox", "--disable-gpu",
                                                "--user-data-dir=" + dir.Path() + "/chr", "--dump-dom",
                                                "file://" + file});
      ASSERT_EQ(c.exit_code, 0) << c.output;
      EXPECT_NE(c.output.find("<title>Zkouška</title>"), std::string::npos) << c.output;
      EXPECT_NE(c.output.find("poslední řádek"), std::string::npos) << c.output;
      if (css) {
        EXPECT_NE(c.output.find("<span class=\"rvts1\"> kůň a &lt; b &amp; c</span>"), std::string::npos)
            << c.output;
      }
    }
  }
}

}  // namespace
}  // namespace pelvar
