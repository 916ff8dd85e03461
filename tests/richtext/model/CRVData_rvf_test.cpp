// The native document format: a document of Czech text in several styles, a tab, a break, a
// UTF-16 item, checkpoints and a hint saved in text and in binary mode loads back equal item
// for item; the record framing (joined text records, continuation lines, version-less
// streams), style-reference warnings and the layout block's length rules.
#include <gtest/gtest.h>

#include "platform/codepage.h"
#include "platform/filer.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVUni.h"

namespace pelvar {
namespace {

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  Doc() { data.SetRVStyle(&style); }
};

std::string Save(TCustomRVData& d, bool binary, TRVLayoutInfo* layout = nullptr) {
  TRVFOptions o = d.GetRVFOptions();
  o.Set(rvfoSaveBinary, binary);
  d.SetRVFOptions(o);
  TMemoryStream m;
  EXPECT_TRUE(d.SaveRVFToStream(m, false, layout, nullptr, clNone));
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

bool Load(TCustomRVData& d, const std::string& bytes, TRVLayoutInfo* layout = nullptr) {
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  TColor c = clNone;
  return d.LoadRVFFromStream(m, c, nullptr, layout);
}

void FillSample(TCustomRVData& d) {
  d.AddTextItem(CZ("Příliš žluťoučký kůň"), 0, 0);
  d.AddTextItem(CZ(" úpěl ďábelské ódy"), 1, -1);
  d.AddCheckpoint("kotva", true, TRVTag::FromInt(7));
  d.AddTextItem(CZ("Druhý odstavec"), 2, 1);
  auto tab = std::make_unique<TRVTabItemInfo>(&d);
  tab->StyleNo = rvsTab;
  tab->TextStyleNo = 3;
  tab->Leader = ".";
  tab->SetSameAsPrev(true);
  tab->ParaNo = 1;
  d.AddItem("", tab.release());
  d.AddTextItem("po tabu", 3, -1);
  auto br = std::make_unique<TRVBreakItemInfo>(&d);
  br->StyleNo = rvsBreak;
  br->LineWidth = 2;
  br->Color = clRed;
  d.AddItem("", br.release());
  d.AddTextItem("", 0, 0);  // an empty paragraph
  d.AddTextItem("line", 0, 0);
  d.GetItem(d.ItemCount() - 1)->SetBR(true);
  d.GetItem(d.ItemCount() - 1)->Hint = "a \"quoted\" hint";
  // UTF-16 in a Unicode style: a character outside Windows-1250.
  TFontInfo* u = d.GetRVStyle()->TextStyles()->Add();
  u->Unicode = true;
  d.AddTextItem(RVU_WideStringToRawUnicode(u"Ωmega"), d.GetRVStyle()->TextStyles()->Count() - 1, 0);
  d.GetItem(d.ItemCount() - 1)->ItemOptions.Include(rvioUnicodeText);
}

void ExpectSameItems(TCustomRVData& a, TCustomRVData& b) {
  ASSERT_EQ(a.ItemCount(), b.ItemCount());
  for (int32_t i = 0; i < a.ItemCount(); ++i) {
    SCOPED_TRACE(i);
    TCustomRVItemInfo* x = a.GetItem(i);
    TCustomRVItemInfo* y = b.GetItem(i);
    EXPECT_EQ(x->StyleNo, y->StyleNo);
    EXPECT_EQ(x->ParaNo, y->ParaNo);
    EXPECT_EQ(x->ItemOptions.ToBits(), y->ItemOptions.ToBits());
    EXPECT_EQ(a.GetItemTextRaw(i), b.GetItemTextRaw(i));
    EXPECT_EQ(x->Tag.Int, y->Tag.Int);
    EXPECT_EQ(x->Hint, y->Hint);
    EXPECT_EQ(x->Checkpoint != nullptr, y->Checkpoint != nullptr);
    if (x->Checkpoint && y->Checkpoint) {
      EXPECT_EQ(x->Checkpoint->Name, y->Checkpoint->Name);
      EXPECT_EQ(x->Checkpoint->RaiseEvent, y->Checkpoint->RaiseEvent);
      EXPECT_EQ(x->Checkpoint->Tag.Int, y->Checkpoint->Tag.Int);
    }
    if (auto* t = dynamic_cast<TRVTabItemInfo*>(x)) {
      auto* u = dynamic_cast<TRVTabItemInfo*>(y);
      ASSERT_NE(u, nullptr);
      EXPECT_EQ(t->TextStyleNo, u->TextStyleNo);
      EXPECT_EQ(t->Leader, u->Leader);
    }
    if (auto* t = dynamic_cast<TRVBreakItemInfo*>(x)) {
      auto* u = dynamic_cast<TRVBreakItemInfo*>(y);
      ASSERT_NE(u, nullptr);
      EXPECT_EQ(t->LineWidth, u->LineWidth);
      EXPECT_EQ(t->Color, u->Color);
    }
  }
}

TEST(RVFFormat, RoundTripInTextAndBinaryMode) {
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    Doc a;
    FillSample(a.data);
    const std::string bytes = Save(a.data, binary);
    Doc b;
    b.style.TextStyles()->Add()->Unicode = true;
    ASSERT_TRUE(Load(b.data, bytes)) << bytes;
    ExpectSameItems(a.data, b.data);
    EXPECT_EQ(b.data.GetRVFWarnings(), 0u);
    if (binary) {
      // The UTF-16 line is raw UTF-16LE ended by U+2029.
      EXPECT_NE(bytes.find(std::string("\xA9\x03m\0e\0g\0a\0\x29\x20", 12)), std::string::npos);
    } else {
      EXPECT_NE(bytes.find("0 8 3 0\r\nA9036D00650067006100\r\n"), std::string::npos) << bytes;
    }
  }
}

TEST(RVFFormat, FramingOfTextRecords) {
  Doc d;
  d.data.AddTextItem("one", 0, 0);
  d.data.AddTextItem("two", 0, 0);
  d.data.AddTextItem("cont", 0, -1);
  EXPECT_EQ(Save(d.data, false), "-8 1 3\r\n0 2 0 0 0 0\r\none\r\ntwo\r\n0 1 -1 1 0 0\r\ncont\r\n");
  Doc e;
  EXPECT_TRUE(Load(e.data, "-8 1 3\r\n0 0 0 0 0 0\r\n"));  // an empty record
  EXPECT_EQ(e.data.ItemCount(), 0);
  // Without a version record there is no options field; lone LF line ends are accepted.
  Doc f;
  ASSERT_TRUE(Load(f.data, "0 2 0 0 0\nab\ncd\n"));
  ASSERT_EQ(f.data.ItemCount(), 2);
  EXPECT_EQ(f.data.GetItemTextRaw(1), "cd");
  EXPECT_TRUE(f.data.IsParaStart(1));
  // A continuation right after a full-line item starts a paragraph with style 0.
  Doc g;
  ASSERT_TRUE(Load(g.data, "-8 1 3\r\n-1 0 0 0 0 0 -1 0 1\r\n0 1 -1 1 0 0\r\nx\r\n"));
  ASSERT_EQ(g.data.ItemCount(), 2);
  EXPECT_TRUE(g.data.IsParaStart(1));
  EXPECT_EQ(g.data.GetItemPara(1), 0);
}

TEST(RVFFormat, UnknownStylesWarnAndConvertOrFail) {
  const std::string s = "-8 1 3\r\n7 1 0 0 0 0\r\nx\r\n";
  Doc a;
  EXPECT_FALSE(Load(a.data, s));
  EXPECT_EQ(a.data.GetRVFWarnings() & rvfwConvUnknownStyles, rvfwConvUnknownStyles);
  Doc b;
  TRVFOptions o;
  o.Include(rvfoConvUnknownStylesToZero);
  b.data.SetRVFOptions(o);
  ASSERT_TRUE(Load(b.data, s));
  EXPECT_EQ(b.data.GetItemStyle(0), 0);
  EXPECT_EQ(b.data.GetRVFWarnings() & rvfwConvUnknownStyles, rvfwConvUnknownStyles);
  // UTF-16 text in a single-byte style becomes Windows-1250 text (warning 32).
  Doc u;
  ASSERT_TRUE(Load(u.data, "-8 1 3\r\n0 1 0 8 3 0\r\n61000D01\r\n"));
  EXPECT_EQ(u.data.GetItemTextRaw(0), CZ("ač"));
  EXPECT_EQ(u.data.GetRVFWarnings(), rvfwConvFromUnicode);
  // Truncated record: false, what was read stays.
  Doc c;
  EXPECT_FALSE(Load(c.data, "-8 1 3\r\n0 1 0 0 0 0\r\nok\r\n0 3 0 0 0 0\r\nx\r\n"));
  EXPECT_EQ(c.data.ItemCount(), 1);
}

TEST(RVFFormat, CheckpointAtTheEndBecomesPending) {
  Doc a;
  a.data.AddTextItem("x", 0, 0);
  a.data.AddCheckpoint("end", false, TRVTag::FromInt(0));
  const std::string bytes = Save(a.data, false);
  Doc b;
  ASSERT_TRUE(Load(b.data, bytes));
  ASSERT_NE(b.data.NotAddedCP(), nullptr);
  EXPECT_EQ(b.data.NotAddedCP()->Name, "end");
}

TEST(RVFFormat, LayoutBlockLengths) {
  Doc a;
  a.data.AddTextItem("x", 0, 0);
  TRVFOptions o;
  o.Include(rvfoSaveLayout).Include(rvfoLoadLayout);
  a.data.SetRVFOptions(o);
  TRVLayoutInfo l;
  l.LeftMargin = 5;
  l.MaxTextWidth = 600;
  l.BiDiMode = rvbdRightToLeft;
  for (bool binary : {false, true}) {
    const std::string bytes = Save(a.data, binary, &l);
    Doc b;
    b.data.SetRVFOptions(o);
    TRVLayoutInfo r;
    ASSERT_TRUE(Load(b.data, bytes, &r));
    EXPECT_TRUE(r.Loaded);
    EXPECT_EQ(r.LeftMargin, 5);
    EXPECT_EQ(r.MaxTextWidth, 600);
    EXPECT_EQ(r.BiDiMode, rvbdRightToLeft);
  }
  auto block = [](int32_t len) {
    std::string b(8, '\0');
    b[4] = static_cast<char>(len);
    b += std::string(static_cast<size_t>(std::max(len, 0)), '\0');
    b[8] = 9;
    return b;
  };
  TRVLayoutInfo r;
  r.LoadBinary(block(30));  // five unknown bytes skipped
  EXPECT_EQ(r.LeftMargin, 9);
  EXPECT_THROW(r.LoadBinary(block(24)), EDocViewError);
  TRVLayoutInfo p;
  std::string b41 = block(41);
  b41[8 + 25 + 8] = 3;  // FirstParaListNo
  p.LoadBinary(b41);
  EXPECT_EQ(p.FirstParaListNo, 3);
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

TEST(RVFFormat, StyleTablesTravelWithTheDocument) {
  Doc a;
  TFontInfo* f = a.style.TextStyles()->Add();
  f->FontName = "Georgia";
  f->Size = 17;
  f->Style.Include(fsItalic);
  TParaInfo* p = a.style.ParaStyles()->Add();
  p->LeftIndent = 33;
  a.data.AddTextItem("x", a.style.TextStyles()->Count() - 1, a.style.ParaStyles()->Count() - 1);
  TRVFOptions o;
  o.Include(rvfoSaveTextStyles).Include(rvfoSaveParaStyles);
  a.data.SetRVFOptions(o);
  a.data.SetFlags(0x100);
  for (bool binary : {false, true}) {
    const std::string bytes = Save(a.data, binary);
    Doc b;
    ASSERT_TRUE(Load(b.data, bytes)) << bytes;
    ASSERT_EQ(b.style.TextStyles()->Count(), a.style.TextStyles()->Count());
    ASSERT_EQ(b.style.ParaStyles()->Count(), a.style.ParaStyles()->Count());
    TFontInfo* g = b.style.TextStyles()->Items(b.data.GetItemStyle(0));
    EXPECT_EQ(g->FontName, "Georgia");
    EXPECT_EQ(g->Size, 17);
    EXPECT_TRUE(g->Style.Contains(fsItalic));
    EXPECT_EQ(b.style.ParaStyles()->Items(b.data.GetItemPara(0))->LeftIndent, 33);
  }
  // Inserted into another document, the styles are merged in: an equal style is reused, a
  // missing one added, and the items renumbered to them.
  {
    const std::string bytes = Save(a.data, false);
    Doc e;
    e.data.AddTextItem("before", 0, 0);
    TMemoryStream m;
    m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    m.SetPosition(0);
    int32_t index = 1;
    TColor c = clNone;
    ASSERT_TRUE(e.data.InsertRVFFromStream(m, index, nullptr, nullptr, c, false, false, false, 0));
    ASSERT_EQ(e.data.ItemCount(), 2);
    EXPECT_EQ(e.style.TextStyles()->Count(), a.style.TextStyles()->Count());
    EXPECT_EQ(e.style.TextStyles()->Items(e.data.GetItemStyle(1))->FontName, "Georgia");
    EXPECT_EQ(e.style.ParaStyles()->Items(e.data.GetItemPara(1))->LeftIndent, 33);
    // A second insertion adds nothing more.
    m.SetPosition(0);
    index = 2;
    ASSERT_TRUE(e.data.InsertRVFFromStream(m, index, nullptr, nullptr, c, false, false, false, 0));
    EXPECT_EQ(e.style.TextStyles()->Count(), a.style.TextStyles()->Count());
    EXPECT_EQ(e.style.ParaStyles()->Count(), a.style.ParaStyles()->Count());
  }
  // A style table that does not start with the collection marker fails the read.
  Doc c;
  EXPECT_FALSE(Load(c.data, "-8 1 3\r\n-9 2 0 0 0 0 1\r\nstyle\r\n0100\r\n"));
}

}  // namespace
}  // namespace pelvar

namespace pelvar {
namespace {

// Item text the line framing cannot carry as it stands (a CR or LF in single-byte text,
// U+2029 in UTF-16 text written raw) gets a record of its own that reads back unchanged;
// the items around it keep their records.
TEST(RVFFormat, TextThatBreaksTheLineFramingReadsBack) {
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    Doc a;
    TFontInfo* u = a.style.TextStyles()->Add();
    u->Unicode = true;
    const int32_t uni = a.style.TextStyles()->Count() - 1;
    a.data.AddTextItem("first", 0, 0);
    a.data.AddTextItem("line\r\nbreak", 0, 0);
    a.data.AddTextItem("lone\rcr", 0, 0);
    a.data.AddTextItem("after", 0, 0);
    a.data.AddTextItem(RVU_WideStringToRawUnicode(u"a\u2029b"), uni, 0);
    a.data.GetItem(a.data.ItemCount() - 1)->ItemOptions.Include(rvioUnicodeText);
    a.data.AddTextItem(RVU_WideStringToRawUnicode(u"end"), uni, -1);
    a.data.GetItem(a.data.ItemCount() - 1)->ItemOptions.Include(rvioUnicodeText);
    const std::string bytes = Save(a.data, binary);
    Doc b;
    b.style.TextStyles()->Add()->Unicode = true;
    ASSERT_TRUE(Load(b.data, bytes)) << bytes;
    ExpectSameItems(a.data, b.data);
  }
}


// A binary block stands only where a record takes binary data (text, style tables, a
// picture's or control's data); in place of a checkpoint's name, an item's name or one of
// its properties it is not read as one, so no line break gets into a name or a hint, and
// whatever was read writes and reads back.
TEST(RVFFormat, BlocksOnlyWhereBinaryDataGoes) {
  auto block = [](const std::string& b) {
    const uint32_t n = static_cast<uint32_t>(b.size());
    return std::string(reinterpret_cast<const char*>(&n), 4) + b;
  };
  const std::string cases[] = {
      "-8 1 3\r\n-1 1 0 0 2 0 0 0 1\r\n" + block("hint=a\r\nb"),                 // break's hint
      "-8 1 3\r\n-2 1 0 0 2 0 1 0\r\n" + block("a\r\nb") + "0 1 0 0 0 0\r\nx\r\n",  // checkpoint name
      "-8 1 3\r\n-3 1 0 0 2 0 0\r\n" + block("name\r\n"),                          // picture's name
      "-8 1 3\r\n-12 1 0 0 2 0 0\r\n" + block("hint=\r"),                           // tab's hint
  };
  for (const std::string& c : cases) {
    SCOPED_TRACE(c);
    Doc a;
    (void)Load(a.data, c);
    for (int32_t i = 0; i < a.data.ItemCount(); ++i)
      EXPECT_EQ(a.data.GetItem(i)->Hint.find_first_of("\r\n"), AnsiString::npos);
    for (bool binary : {false, true}) {
      Doc b;
      ASSERT_TRUE(Load(b.data, Save(a.data, binary)));
      EXPECT_EQ(b.data.ItemCount(), a.data.ItemCount());
    }
  }
  // A picture's data does come as a block.
  Doc p;
  p.data.AddItem("pic", new TRVGraphicItemInfo(&p.data, std::make_unique<TBitmap>(2, 2), 0));
  TRVFOptions o;
  o.Include(rvfoSavePicturesBody);
  p.data.SetRVFOptions(o);
  Doc q;
  ASSERT_TRUE(Load(q.data, Save(p.data, true)));
  auto* g = dynamic_cast<TRVGraphicItemInfo*>(q.data.GetItem(0));
  ASSERT_NE(g, nullptr);
  ASSERT_NE(g->Image, nullptr);
  EXPECT_EQ(g->Image->Width(), 2);
}

class TRVFTestControl : public TComponent {
 public:
  using TComponent::TComponent;
  int32_t Level = 0;
  AnsiString Caption;
  void DefinePublished(TPublishedProperties& p) override {
    p.Integer("Level", Level, 0);
    p.String("Caption", Caption);
  }
};

// Control items: with rvfoSaveControlsBody a streamable control is written with its class
// and properties and read back as a new control of that class; without it (or without a
// control) the name alone is written and the owner is asked for the control by name. A
// class not registered here warns (2) and fails unless rvfoIgnoreUnknownCtrls.
TEST(RVFFormat, ControlItemsTravelWithTheirControlOrByName) {
  RegisterClass<TRVFTestControl>("TRVFTestControl");
  // A new control for each document: its item owns it.
  auto make = [&](Doc& d) {
    d.data.AddTextItem("before", 0, 0);
    auto* control = new TRVFTestControl(nullptr);
    control->Level = 7;
    control->Caption = CZ("Uložit");
    auto* item = new TRVControlItemInfo(&d.data);
    item->StyleNo = rvsComponent;
    item->Control = control;
    item->VAlign = 1;
    item->ResizableFlag = true;
    item->Visible = false;
    item->Tag = TRVTag::FromInt(5);
    item->ParaNo = -1;
    d.data.AddItem("tlacitko", item);
  };
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    Doc a;
    make(a);
    TRVFOptions o;
    o.Include(rvfoSaveControlsBody);
    a.data.SetRVFOptions(o);
    Doc b;
    ASSERT_TRUE(Load(b.data, Save(a.data, binary)));
    ASSERT_EQ(b.data.ItemCount(), 2);
    auto* item = dynamic_cast<TRVControlItemInfo*>(b.data.GetItem(1));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(b.data.GetItemTextRaw(1), "tlacitko");
    EXPECT_EQ(item->VAlign, 1);
    EXPECT_TRUE(item->ResizableFlag);
    EXPECT_FALSE(item->Visible);
    EXPECT_FALSE(b.data.IsParaStart(1));
    auto* read = dynamic_cast<TRVFTestControl*>(item->Control);
    ASSERT_NE(read, nullptr);
    EXPECT_NE(read, dynamic_cast<TRVControlItemInfo*>(a.data.GetItem(1))->Control);
    EXPECT_EQ(read->Level, 7);
    EXPECT_EQ(read->Caption, CZ("Uložit"));
  }
  // By name: the owner gives the control.
  {
    Doc a;
    make(a);
    const std::string bytes = Save(a.data, false);
    EXPECT_NE(bytes.find("-5 3 -1 1 1 5 1\r\ntlacitko\r\nresizable=1\r\nvisible=0\r\n"), std::string::npos) << bytes;
    Doc b;
    AnsiString asked;
    int32_t tag = 0;
    TObject* given = nullptr;
    b.data.OnRVFControlNeeded = [&](const AnsiString& name, const TRVTag& t) -> TObject* {
      asked = name;
      tag = t.Int;
      return given = new TRVFTestControl(nullptr);
    };
    ASSERT_TRUE(Load(b.data, bytes));
    EXPECT_EQ(asked, "tlacitko");
    EXPECT_EQ(tag, 5);
    ASSERT_NE(given, nullptr);
    EXPECT_EQ(dynamic_cast<TRVControlItemInfo*>(b.data.GetItem(1))->Control, given);
  }
  // A class this program does not know.
  {
    Doc a;
    make(a);
    TRVFOptions o;
    o.Include(rvfoSaveControlsBody);
    a.data.SetRVFOptions(o);
    const std::string bytes = Save(a.data, false);
    UnRegisterClass("TRVFTestControl");
    Doc b;
    EXPECT_FALSE(Load(b.data, bytes));
    EXPECT_EQ(b.data.GetRVFWarnings() & 2, 2u);
    Doc c;
    TRVFOptions ignore;
    ignore.Include(rvfoIgnoreUnknownCtrls);
    c.data.SetRVFOptions(ignore);
    ASSERT_TRUE(Load(c.data, bytes));
    ASSERT_EQ(c.data.ItemCount(), 2);
    EXPECT_EQ(dynamic_cast<TRVControlItemInfo*>(c.data.GetItem(1))->Control, nullptr);
  }
  UnRegisterClass("TRVFTestControl");
}

// A style table after items (a writer puts it first): in a whole document it is merged
// into the style sheet rather than replacing it, so every item keeps a style that exists
// and the items after the table get its styles.
TEST(RVFFormat, StyleTableAfterItemsKeepsTheirStyles) {
  Doc small;
  while (small.style.TextStyles()->Count() > 1) small.style.TextStyles()->Delete(1);
  small.style.TextStyles()->Add()->FontName = "Georgia";
  small.data.AddTextItem("g", 1, 0);
  TRVFOptions o;
  o.Include(rvfoSaveTextStyles);
  small.data.SetRVFOptions(o);
  small.data.SetFlags(0x100);
  const std::string tail = Save(small.data, false);  // version, table of 2 styles, item
  Doc a;
  const int32_t last = a.style.TextStyles()->Count() - 1;
  ASSERT_GT(last, 2);
  const std::string bytes = "-8 1 3\r\n" + std::to_string(last) + " 1 0 0 0 0\r\nfirst\r\n" + tail;
  ASSERT_TRUE(Load(a.data, bytes)) << bytes;
  ASSERT_EQ(a.data.ItemCount(), 2);
  for (int32_t i = 0; i < a.data.ItemCount(); ++i) EXPECT_LT(a.data.GetItemStyle(i), a.style.TextStyles()->Count());
  EXPECT_EQ(a.data.GetItemStyle(0), last);
  EXPECT_EQ(a.style.TextStyles()->Items(a.data.GetItemStyle(1))->FontName, "Georgia");
}

// ParaNo -1 continues a line; any other negative number is an unknown paragraph style,
// for text and other items alike.
TEST(RVFFormat, NegativeParagraphOtherThanContinuationIsUnknown) {
  for (const char* s : {"-8 1 3\r\n0 1 -10 0 0 0\r\nx\r\n", "-8 1 3\r\n-1 0 -3 0 0 0 255 0 2\r\n"}) {
    SCOPED_TRACE(s);
    Doc a;
    EXPECT_FALSE(Load(a.data, s));
    EXPECT_EQ(a.data.ItemCount(), 0);
    EXPECT_EQ(a.data.GetRVFWarnings() & rvfwConvUnknownStyles, rvfwConvUnknownStyles);
    Doc b;
    TRVFOptions o;
    o.Include(rvfoConvUnknownStylesToZero);
    b.data.SetRVFOptions(o);
    ASSERT_TRUE(Load(b.data, s));
    ASSERT_EQ(b.data.ItemCount(), 1);
    EXPECT_EQ(b.data.GetItemPara(0), 0);
  }
}
}  // namespace
}  // namespace pelvar
