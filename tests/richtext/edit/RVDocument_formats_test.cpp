// A whole document through its formats: Czech text in several styles, a list, a tab, a line
// break, a break line, a table with a merged cell and a picture, saved to the native format
// and loaded (equal item for item), and exported to RTF and imported (same text, styles, list
// markers, table and picture); and a LibreOffice document (built here as ODT with Python's
// zipfile: a list, a merged-cell table and a PNG picture) converted to RTF by LibreOffice and
// imported.
#include <gtest/gtest.h>

#include <fstream>

#include "platform/codepage.h"
#include "richtext/edit/RVTable.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVRTFProps.h"
#include "richtext/model/RVStyle_list.h"
#include "richtext/model/RVUni.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  Doc() {
    data.SetRVStyle(&style);
    data.SetRVFOptions(data.GetRVFOptions().Include(rvfoSavePicturesBody));
    TFontInfo* bold = style.TextStyles()->Add();  // 6
    bold->Style.Include(fsBold);
    bold->Size = 14;
    TFontInfo* italic = style.TextStyles()->Add();  // 7
    italic->Style.Include(fsItalic);
    italic->Color = clRed;
    italic->FontName = "Courier New";
    TParaInfo* right = style.ParaStyles()->Add();  // 2
    right->Alignment = rvaRight;
    TRVListLevel* l = style.ListStyles()->Add()->Levels()->Add();
    l->ListType = rvlstDecimal;
    l->FormatString = "%0:s.";
    l->LeftIndent = 24;
  }
};

std::string PngBytes() {
  // A 2 x 1 PNG picture.
  static const unsigned char png[] = {
      0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52, 0x00, 0x00,
      0x00, 0x02, 0x00, 0x00, 0x00, 0x01, 0x08, 0x02, 0x00, 0x00, 0x00, 0x7B, 0x40, 0xE8, 0xDD, 0x00, 0x00, 0x00,
      0x0D, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9C, 0x63, 0xF8, 0xCF, 0x00, 0x04, 0xFF, 0x01, 0x07, 0x00, 0x01, 0xFF,
      0xE2, 0x23, 0x9E, 0x59, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
  return std::string(reinterpret_cast<const char*>(png), sizeof png);
}

void AddMarker(TCustomRVData& d) {
  auto* m = new TRVMarkerItemInfo(&d);
  m->StyleNo = rvsListMarker;
  m->ListNo = 0;
  m->ParaNo = 0;
  d.AddItem("", m);
  d.AddMarkerInList(d.ItemCount() - 1);
}

void FillDocument(TCustomRVData& d, bool with_break_line = true) {
  d.AddTextItem(CZ("Příliš žluťoučký "), 0, 0);
  d.AddTextItem(CZ("kůň"), 6, -1);
  d.AddTextItem(CZ(" úpěl"), 7, -1);
  auto* tab = new TRVTabItemInfo(&d);
  tab->StyleNo = rvsTab;
  tab->ParaNo = -1;
  d.AddItem("", tab);
  d.AddTextItem(CZ("ďábelské ódy"), 0, -1);
  d.AddTextItem(CZ("nový řádek"), 6, 0);
  d.GetItem(d.ItemCount() - 1)->SetBR(true);
  AddMarker(d);
  d.AddTextItem(CZ("první bod"), 0, -1);
  AddMarker(d);
  d.AddTextItem(CZ("druhý bod"), 7, -1);
  auto* t = new TRVTableItemInfo(&d, 2, 3);
  t->GetCells(0, 0)->AddTextItem(CZ("sloučená buňka"), 6, 0);
  t->GetCells(0, 2)->AddTextItem("b", 0, 0);
  t->GetCells(1, 0)->AddTextItem("c", 0, 0);
  t->GetCells(1, 1)->AddTextItem(CZ("ď"), 0, 0);
  t->GetCells(1, 2)->AddTextItem("e", 0, 0);
  t->MergeCells(0, 0, 1, 2);
  t->CellBorderWidth = 1;
  d.AddItem("", t);
  d.AddTextItem(CZ("Obrázek: "), 0, 0);
  auto png = std::make_unique<TPNGImage>();
  TStringStream in(PngBytes());
  png->LoadFromStream(in);
  auto* pic = new TRVGraphicItemInfo(&d, std::move(png), 0);
  pic->ImageWidth = 4;
  pic->ParaNo = -1;
  d.AddItem("", pic);
  if (with_break_line) {
    auto* line = new TRVBreakItemInfo(&d);
    line->StyleNo = rvsBreak;
    d.AddItem("", line);
  }
  d.AddTextItem(CZ("Závěr"), 0, 2);
}

std::string ItemText(TCustomRVData* d, int32_t i) {
  if (d->GetItem(i)->StyleNo < 0) return std::string();
  if (d->GetItem(i)->ItemOptions.Contains(rvioUnicodeText))
    return Utf16ToUtf8(RVU_RawUnicodeToWideString(d->GetItemTextRaw(i)));
  return AnsiToUtf8(d->GetItemTextRaw(i));
}

std::string CellText(TCustomRVData* cell) {
  std::string out;
  for (int32_t i = 0; cell && i < cell->ItemCount(); ++i) out += ItemText(cell, i);
  return out;
}

// The text of the paragraph from item i on.
std::string ParagraphText(TCustomRVData* d, int32_t i) {
  std::string out;
  for (int32_t k = i; k < d->ItemCount() && (k == i || d->GetItem(k)->GetSameAsPrev()); ++k) out += ItemText(d, k);
  return out;
}

// One line per item: kind, styles, flags and what the kind holds.
std::string Describe(TCustomRVData& d) {
  std::string out;
  for (int32_t i = 0; i < d.ItemCount(); ++i) {
    TCustomRVItemInfo* it = d.GetItem(i);
    out += std::to_string(it->StyleNo) + " p" + std::to_string(it->ParaNo) + " o" +
           std::to_string(it->ItemOptions.ToBits() & 7) + " ";
    if (it->StyleNo >= 0) {
      out += it->ItemOptions.Contains(rvioUnicodeText) ? Utf16ToUtf8(RVU_RawUnicodeToWideString(d.GetItemTextRaw(i)))
                                                        : AnsiToUtf8(d.GetItemTextRaw(i));
    } else if (auto* m = dynamic_cast<TRVMarkerItemInfo*>(it)) {
      out += "list" + std::to_string(m->ListNo) + "." + std::to_string(m->Level) + " " + m->DisplayString;
    } else if (auto* g = dynamic_cast<TRVGraphicItemInfo*>(it)) {
      TMemoryStream bytes;
      g->Image->SaveToStream(bytes);
      out += RVGraphicClassName(g->Image.get()) + " " + std::to_string(bytes.Size()) + "B " +
             std::to_string(g->GetImageWidth()) + "x" + std::to_string(g->GetImageHeight());
    } else if (auto* t = dynamic_cast<TRVTableItemInfo*>(it)) {
      for (int32_t r = 0; r < t->RowCount(); ++r)
        for (int32_t c = 0; c < t->ColCount(); ++c) {
          TRVTableCellData* cell = t->GetCells(r, c);
          out += cell ? "[" + CellText(cell) + " " + std::to_string(cell->ColSpan) + "]" : "-";
        }
    }
    out += "\n";
  }
  return out;
}

TEST(DocumentFormats, NativeFormatAndRTFRoundTrips) {
  Doc a;
  FillDocument(a.data);
  std::string want = Describe(a.data);
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary);
    TMemoryStream m;
    if (binary) a.data.SetRVFOptions(a.data.GetRVFOptions().Include(rvfoSaveBinary));
    ASSERT_TRUE(a.data.SaveRVFToStream(m, false, nullptr, nullptr, clNone));
    m.SetPosition(0);
    Doc b;
    TColor color = clNone;
    ASSERT_TRUE(b.data.LoadRVFFromStream(m, color, nullptr, nullptr));
    EXPECT_EQ(Describe(b.data), want);
  }
  // RTF has no break lines: the document without one goes through RTF.
  Doc r;
  FillDocument(r.data, false);
  want = Describe(r.data);
  TMemoryStream m;
  ASSERT_TRUE(r.data.SaveRTFToStream(m, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, false));
  const std::string rtf(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  Doc c;
  TRVRTFReaderProperties p;
  p.ParaStyleMode = rvrsAddIfNeeded;
  TStringStream in(rtf);
  int32_t index = 0;
  ASSERT_EQ(p.ReadRTFFromStream(in, &c.data, index), rtf_ec_OK);
  // The text styles and the list are the same; a list paragraph takes its indents from the
  // RTF paragraph, which gives it a paragraph style of its own.
  std::string got = Describe(c.data);
  for (std::string* s : {&got, &want}) {
    for (size_t at = s->find("-11 p"); at != std::string::npos; at = s->find("-11 p", at + 1)) {
      const size_t line_end = s->find('\n', at);
      const size_t next_end = s->find('\n', line_end + 1);
      for (size_t k = at; k < next_end; ++k)
        if ((*s)[k] == 'p' && k + 1 < next_end && std::isdigit(static_cast<unsigned char>((*s)[k + 1])))
          (*s)[k + 1] = 'L';
    }
  }
  EXPECT_EQ(got, want) << rtf;
  EXPECT_EQ(c.style.ListStyles()->Count(), 1);
}

TEST(DocumentFormats, LibreOfficeDocumentWithListTableAndPicture) {
  if (!test::HaveProgram("soffice")) {
    if (test::InCI()) FAIL() << "LibreOffice is missing";
    GTEST_SKIP() << "LibreOffice is not installed (scripts/deps.sh installs it)";
  }
  test::TempDir dir("lodoc");
  {
    std::ofstream(dir.File("pic.png"), std::ios::binary) << PngBytes();
  }
  // A minimal ODT: a bold word, a bulleted list, a table whose first row spans two columns,
  // and a PNG shown 2 cm x 1 cm.
  static const char* const kScript = R"PY(
import sys, zipfile
d = sys.argv[1]
content = '''<?xml version="1.0" encoding="UTF-8"?>
<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:xlink="http://www.w3.org/1999/xlink"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0" xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.2">
<office:automatic-styles>
 <style:style style:name="B" style:family="text"><style:text-properties fo:font-weight="bold"/></style:style>
 <text:list-style style:name="L1"><text:list-level-style-bullet text:level="1" text:bullet-char="•">
  <style:list-level-properties text:list-level-position-and-space-mode="label-alignment">
  <style:list-level-label-alignment text:label-followed-by="listtab" fo:text-indent="-0.25in" fo:margin-left="0.5in"/>
  </style:list-level-properties></text:list-level-style-bullet></text:list-style>
</office:automatic-styles>
<office:body><office:text>
 <text:p>Žluťoučký <text:span text:style-name="B">kůň</text:span> úpěl</text:p>
 <text:list text:style-name="L1"><text:list-item><text:p>první položka</text:p></text:list-item>
  <text:list-item><text:p>druhá položka</text:p></text:list-item></text:list>
 <table:table table:name="T"><table:table-column table:number-columns-repeated="3"/>
  <table:table-row><table:table-cell table:number-columns-spanned="2"><text:p>Sloučeno</text:p></table:table-cell>
   <table:covered-table-cell/><table:table-cell><text:p>c</text:p></table:table-cell></table:table-row>
  <table:table-row><table:table-cell><text:p>d</text:p></table:table-cell><table:table-cell><text:p>e</text:p></table:table-cell>
   <table:table-cell><text:p>f</text:p></table:table-cell></table:table-row></table:table>
 <text:p>Obrázek <draw:frame draw:name="P" text:anchor-type="as-char" svg:width="2cm" svg:height="1cm">
  <draw:image xlink:href="Pictures/pic.png" xlink:type="simple" xlink:show="embed" xlink:actuate="onLoad"/></draw:frame></text:p>
</office:text></office:body></office:document-content>'''
manifest = '''<?xml version="1.0" encoding="UTF-8"?>
<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">
 <manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.text"/>
 <manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>
 <manifest:file-entry manifest:full-path="Pictures/pic.png" manifest:media-type="image/png"/>
</manifest:manifest>'''
with zipfile.ZipFile(d + '/doc.odt', 'w') as z:
    z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.text')
    z.writestr('META-INF/manifest.xml', manifest, zipfile.ZIP_DEFLATED)
    z.writestr('content.xml', content, zipfile.ZIP_DEFLATED)
    z.write(d + '/pic.png', 'Pictures/pic.png')
)PY";
  test::CommandResult r = test::RunCommand({"python3", "-c", kScript, dir.Path()});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  r = test::RunCommand({"soffice", "--headless", "-env:UserInstallation=file://" + dir.Path() + "/lo", "--convert-to",
                        "rtf", "--outdir", dir.Path(), dir.File("doc.odt")});
  ASSERT_EQ(r.exit_code, 0) << r.output;
  Doc d;
  TRVRTFReaderProperties p;
  p.TextStyleMode = rvrsAddIfNeeded;
  p.ParaStyleMode = rvrsAddIfNeeded;
  p.UnicodeMode = rvruMixed;
  TStringStream in(test::ReadFile(dir.File("doc.rtf")));
  int32_t index = 0;
  ASSERT_EQ(p.ReadRTFFromStream(in, &d.data, index), rtf_ec_OK);
  const std::string all = Describe(d.data);
  EXPECT_EQ(ParagraphText(&d.data, 0), "Žluťoučký kůň úpěl") << all;
  std::string bold;
  int32_t markers = 0;
  TRVTableItemInfo* table = nullptr;
  TRVGraphicItemInfo* pic = nullptr;
  for (int32_t i = 0; i < d.data.ItemCount(); ++i) {
    TCustomRVItemInfo* it = d.data.GetItem(i);
    if (it->StyleNo >= 0 && d.style.TextStyles()->Items(it->StyleNo)->Style.Contains(fsBold))
      bold += ItemText(&d.data, i);
    if (auto* m = dynamic_cast<TRVMarkerItemInfo*>(it)) {
      ++markers;
      TRVListLevel* l = GetLevelInfo(m, &d.style);
      ASSERT_NE(l, nullptr);
      EXPECT_EQ(l->ListType, rvlstUnicodeBullet);
      EXPECT_EQ(l->LeftIndent, 48);
      EXPECT_EQ(l->MarkerIndent, 24);
      ASSERT_LT(i + 1, d.data.ItemCount());
      EXPECT_EQ(ParagraphText(&d.data, i + 1), markers == 1 ? "první položka" : "druhá položka");
    }
    if (!table) table = dynamic_cast<TRVTableItemInfo*>(it);
    if (!pic) pic = dynamic_cast<TRVGraphicItemInfo*>(it);
  }
  EXPECT_EQ(bold, "kůň") << all;
  EXPECT_EQ(markers, 2) << all;
  ASSERT_NE(table, nullptr) << all;
  ASSERT_EQ(table->RowCount(), 2);
  ASSERT_EQ(table->ColCount(), 3);
  EXPECT_EQ(table->GetCells(0, 0)->ColSpan, 2);
  EXPECT_EQ(CellText(table->GetCells(0, 0)), "Sloučeno");
  EXPECT_EQ(CellText(table->GetCells(1, 2)), "f");
  ASSERT_NE(pic, nullptr) << all;
  EXPECT_EQ(RVGraphicClassName(pic->Image.get()), "TPNGImage");
  // 2 cm x 1 cm at 96 pixels per inch.
  EXPECT_EQ(pic->GetImageWidth(), 76);
  EXPECT_EQ(pic->GetImageHeight(), 38);
}

}  // namespace
}  // namespace pelvar
