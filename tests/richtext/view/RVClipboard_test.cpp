// Copying a formatted document's selection to the in-memory clipboard and reading it back
// the way a paste does: the enabled formats in their order, the picture of a single
// selected item, the native block with its length prefix read back into a document,
// a clipboard closed again when memory runs out, the paste format chosen, lying length
// prefixes refused, and the folder named by "HTML Format".
#include <gtest/gtest.h>

#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "richtext/model/RVConst.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/RVClipboard.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

class TCopyDoc : public viewtest::TTestDoc {
 public:
  using TTestDoc::TTestDoc;
  bool HasOnCopy = false;
  int32_t CopyEvents = 0;
  bool IsAssignedCopy() override { return HasOnCopy; }
  void DoCopy() override {
    if (!HasOnCopy) return;
    ++CopyEvents;
    Clipboard().SetAsHandle(RegisterClipboardFormat("Own Format"), GlobalAllocCopy(GMEM_MOVEABLE, "own"));
  }
};

class ClipboardTest : public ::testing::Test {
 protected:
  TRVStyle style{nullptr};
  TMemoryClipboard clipboard;
  TClipboard* old = nullptr;
  void SetUp() override {
    style.SelectionMode = rvsmChar;
    old = SetClipboard(&clipboard);
  }
  void TearDown() override {
    SetClipboard(old);
    SetGlobalAllocLimit(0);
  }
  // "Hello world" then a 20x10 bitmap in one paragraph.
  void Fill(TCopyDoc& doc) {
    doc.AddText("Hello world", 0, 0);
    auto* pic = new TRVGraphicItemInfo(&doc, std::make_unique<TBitmap>(20, 10, 0xFF112233u), 0);
    pic->ParaNo = 0;
    pic->SetSameAsPrev(true);
    doc.AddItem("", pic);
    doc.Format();
  }
  std::string Block(uint16_t format) {
    HGLOBAL b = clipboard.GetAsHandle(format);
    return b ? b->Data : std::string("<none>");
  }
};

TEST_F(ClipboardTest, CopyWritesTheEnabledFormatsOnlyWithASelection) {
  TCopyDoc doc(&style, 400);
  Fill(doc);
  doc.SetSelectionBounds(0, 1, 0, 6);  // "Hello"

  // Every option off and no OnCopy: false, the clipboard untouched.
  doc.SetOptions(TRVOptions{rvoAllowSelection});
  EXPECT_FALSE(doc.CopyToClipboard(clWhite, nullptr));
  EXPECT_EQ(clipboard.PublishCount, 0);

  // OnCopy alone: the clipboard is cleared and the handler puts its format.
  doc.HasOnCopy = true;
  EXPECT_TRUE(doc.CopyToClipboard(clWhite, nullptr));
  EXPECT_EQ(doc.CopyEvents, 1);
  EXPECT_EQ(clipboard.Formats(), std::vector<uint16_t>{RegisterClipboardFormat("Own Format")});
  doc.HasOnCopy = false;

  // Every format: native, Unicode text (the NT family derives CF_TEXT), RTF; no picture
  // for a text selection.
  doc.SetOptions(TRVOptions{rvoAllowSelection, rvoAutoCopyText, rvoAutoCopyUnicodeText, rvoAutoCopyRVF,
                            rvoAutoCopyImage, rvoAutoCopyRTF});
  EXPECT_TRUE(doc.CopyToClipboard(clWhite, nullptr));
  EXPECT_EQ(clipboard.Formats(), (std::vector<uint16_t>{CFRV_RVF(), CF_UNICODETEXT, CFRV_RTF(), CF_TEXT}));
  EXPECT_EQ(clipboard.AsText(), "Hello");
  EXPECT_EQ(Block(CF_UNICODETEXT), std::string("H\0e\0l\0l\0o\0\0\0", 12));
  EXPECT_EQ(Block(CFRV_RTF()).substr(0, 5), "{\\rtf");
  EXPECT_EQ(clipboard.OpenCount(), 0);

  // Text alone is written as CF_TEXT.
  doc.SetOptions(TRVOptions{rvoAllowSelection, rvoAutoCopyText});
  EXPECT_TRUE(doc.CopyToClipboard(clWhite, nullptr));
  EXPECT_EQ(clipboard.Formats(), (std::vector<uint16_t>{CF_TEXT, CF_UNICODETEXT}));

  // No selection: true, and the clipboard is left as it is.
  const int32_t published = clipboard.PublishCount;
  doc.Deselect(nullptr, false);
  EXPECT_TRUE(doc.CopyToClipboard(clWhite, nullptr));
  EXPECT_EQ(clipboard.PublishCount, published);
}

TEST_F(ClipboardTest, ASingleSelectedPictureIsCopiedAsAnImage) {
  TCopyDoc doc(&style, 400);
  Fill(doc);
  doc.SetOptions(TRVOptions{rvoAllowSelection, rvoAutoCopyImage});

  struct Case {
    int32_t si, so, ei, eo;
    bool picture;
  } cases[] = {
      {1, 0, 1, 1, true},    // the picture itself
      {0, 12, 1, 1, true},   // from the end of the text
      {0, 6, 1, 1, false},   // text and the picture
      {0, 1, 0, 12, false},  // text only
  };
  for (const Case& c : cases) {
    clipboard.Clear();
    doc.SetSelectionBounds(c.si, c.so, c.ei, c.eo);
    EXPECT_EQ(doc.GetSelectedImage() != nullptr, c.picture) << c.si << ":" << c.so;
    doc.CopyToClipboard(clWhite, nullptr);
    ASSERT_EQ(clipboard.HasFormat(CF_BITMAP), c.picture) << c.si << ":" << c.so;
    if (c.picture) {
      std::unique_ptr<TBitmap> back = RVReadClipboardBitmap(clipboard);
      ASSERT_TRUE(back);
      EXPECT_EQ(back->Width(), 20);
      EXPECT_EQ(back->Height(), 10);
      EXPECT_EQ(back->Image.At(5, 5), 0xFF112233u);
    }
  }
}

TEST_F(ClipboardTest, NativeBlockCarriesItsLengthAndPastesIntoAnotherDocument) {
  TCopyDoc doc(&style, 400);
  doc.AddText(CZ("Příliš žluťoučký"), 0, 0);
  doc.AddText(CZ("kůň úpěl"), 0, 0);
  doc.Format();
  doc.SetOptions(TRVOptions{rvoAllowSelection, rvoAutoCopyRVF});
  doc.SetSelectionBounds(0, 8, 1, 4);  // "žluťoučký" .. "kůň"
  ASSERT_TRUE(doc.CopyToClipboard(clWhite, nullptr));

  const std::string block = Block(CFRV_RVF());
  ASSERT_GE(block.size(), 4u);
  const uint32_t n = static_cast<uint8_t>(block[0]) | static_cast<uint8_t>(block[1]) << 8 |
                     static_cast<uint8_t>(block[2]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(block[3])) << 24;
  EXPECT_EQ(n, block.size() - 4);

  EXPECT_EQ(RVChoosePasteFormat(clipboard, false), rvpfRVF);
  TMemoryStream stream;
  ASSERT_TRUE(RVReadClipboardRVF(clipboard, stream));
  TCopyDoc target(&style, 400);
  TColor color = clNone;
  ASSERT_TRUE(target.LoadRVFFromStream(stream, color, nullptr, nullptr));
  ASSERT_EQ(target.ItemCount(), 2);
  EXPECT_EQ(target.GetItemTextRaw(0), CZ("žluťoučký"));
  EXPECT_EQ(target.GetItemTextRaw(1), CZ("kůň"));
}

TEST_F(ClipboardTest, NoMemoryRaisesAndClosesTheClipboard) {
  TCopyDoc doc(&style, 400);
  Fill(doc);
  doc.SetOptions(TRVOptions{rvoAllowSelection, rvoAutoCopyText, rvoAutoCopyRTF});
  doc.SetSelectionBounds(0, 1, 0, 6);
  SetGlobalAllocLimit(16);  // the RTF block does not fit
  try {
    doc.CopyToClipboard(clWhite, nullptr);
    FAIL() << "no exception";
  } catch (const EDocViewError& e) {
    EXPECT_STREQ(e.what(), "No memory");
  }
  EXPECT_EQ(clipboard.OpenCount(), 0);
  // What was written before the failure stays.
  EXPECT_EQ(clipboard.AsText(), "Hello");
  EXPECT_FALSE(clipboard.HasFormat(CFRV_RTF()));
}

TEST_F(ClipboardTest, PasteFormatFollowsThePreferenceOrder) {
  struct Case {
    std::vector<uint16_t> formats;
    bool unicode_style;
    TRVPasteFormat expected;
  } cases[] = {
      {{CF_TEXT, CFRV_RTF(), CFRV_RVF()}, false, rvpfRVF},
      {{CF_TEXT, CFRV_RTF()}, false, rvpfRTF},
      {{CF_UNICODETEXT, CFRV_RTF()}, true, rvpfRTF},
      {{CF_UNICODETEXT}, true, rvpfUnicodeText},
      {{CF_UNICODETEXT}, false, rvpfText},  // the platform offers the narrow form too
      {{CF_TEXT}, true, rvpfUnicodeText},
      {{CF_BITMAP}, false, rvpfBitmap},
      {{CF_METAFILEPICT}, false, rvpfMetafile},
      {{CF_BITMAP, CF_METAFILEPICT, CF_TEXT}, false, rvpfText},
      {{RegisterClipboardFormat("Something Else")}, false, rvpfNone},
  };
  for (const Case& c : cases) {
    clipboard.Clear();
    clipboard.Open();
    for (uint16_t f : c.formats) {
      const std::string data = f == CF_UNICODETEXT ? std::string("a\0\0\0", 4) : std::string("a\0", 2);
      clipboard.SetAsHandle(f, GlobalAllocCopy(GMEM_MOVEABLE, data));
    }
    clipboard.Close();
    EXPECT_EQ(RVChoosePasteFormat(clipboard, c.unicode_style), c.expected) << c.formats.size();
    EXPECT_EQ(RVCanPaste(clipboard), c.expected != rvpfNone);
  }
}

TEST_F(ClipboardTest, LyingLengthPrefixesAreRefused) {
  auto prefixed = [](uint32_t n, const std::string& rest) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>((n >> (8 * i)) & 0xFF);
    return s + rest;
  };
  struct Case {
    std::string block;
    bool ok;
    std::string data;
  } cases[] = {
      {"", false, ""},
      {"abc", false, ""},
      {prefixed(0, ""), true, ""},
      {prefixed(5, "hello"), true, "hello"},
      {prefixed(3, "hello"), true, "hel"},  // a larger block: the rest is ignored
      {prefixed(6, "hello"), false, ""},
      {prefixed(0xFFFFFFFFu, "hello"), false, ""},
  };
  for (const Case& c : cases) {
    std::string data;
    EXPECT_EQ(RVReadRVFBlock(c.block, data), c.ok) << c.block.size();
    if (c.ok) {
      EXPECT_EQ(data, c.data);
    }
    clipboard.Clear();
    clipboard.SetAsHandle(CFRV_RVF(), GlobalAllocCopy(GMEM_MOVEABLE, c.block));
    TMemoryStream stream;
    EXPECT_EQ(RVReadClipboardRVF(clipboard, stream), c.ok);
  }
}

TEST_F(ClipboardTest, HTMLSourceFolder) {
  struct Case {
    std::string data;
    AnsiString folder;
  } cases[] = {
      {"Version:0.9\r\nSourceURL:file://C:/d/x.html\r\n<html>", "C:\\d\\"},
      {"Version:0.9\r\nSourceURL:file:///C:/d/x.html\r\n", "C:\\d\\"},
      {"SourceURL:FILE:///C|/d/e/x.html", "C:\\d\\e\\"},
      {"SourceURL:file://server/share/x.html", "server\\share\\"},
      {"SourceURL:http://www.example.com/a/b.html\n", "http://www.example.com/a/"},
      {"SourceURL:HTTP://example.com/x.html", "http://example.com/"},
      {std::string("SourceURL:file:///C:/Dokumenty/\xC5\xBDlu\xC5\xA5ou\xC4\x8Dk\xC3\xBD/a.html\0junk", 50),
       CZ("C:\\Dokumenty\\Žluťoučký\\")},
      {"SourceURL:x.html", ""},
      {"<html>no source</html>", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(RVGetHTMLSourceFolder(c.data), c.folder) << c.data;

  clipboard.Clear();
  EXPECT_EQ(RVGetClipboardHTMLSourceFolder(clipboard), "");
  clipboard.SetAsHandle(CFRV_HTML(), GlobalAllocCopy(GMEM_MOVEABLE, cases[0].data));
  EXPECT_EQ(RVGetClipboardHTMLSourceFolder(clipboard), "C:\\d\\");
}

TEST_F(ClipboardTest, ClipboardReadersCutAtTheFirstZero) {
  clipboard.SetAsHandle(CF_UNICODETEXT, GlobalAllocCopy(GMEM_MOVEABLE, std::string("a\0b\0\0\0c\0", 8)));
  AnsiString raw;
  ASSERT_TRUE(RVReadClipboardUnicodeText(clipboard, raw));
  EXPECT_EQ(raw, std::string("a\0b\0", 4));
  // An odd-sized block without a terminator stops at its last whole character.
  clipboard.SetAsHandle(CF_UNICODETEXT, GlobalAllocCopy(GMEM_MOVEABLE, std::string("a\0b", 3)));
  ASSERT_TRUE(RVReadClipboardUnicodeText(clipboard, raw));
  EXPECT_EQ(raw, std::string("a\0", 2));
  clipboard.Clear();
  clipboard.SetAsText(CZ("kůň"));
  AnsiString text;
  ASSERT_TRUE(RVReadClipboardText(clipboard, text));
  EXPECT_EQ(text, CZ("kůň"));
  ASSERT_TRUE(RVReadClipboardUnicodeText(clipboard, raw));  // synthesised from CF_TEXT
  EXPECT_EQ(raw, std::string("k\0\x6F\x01\x48\x01", 6));

  // A metafile without units per inch gets 1440.
  TMetafile m;
  m.SetEmpty(96, 48);
  std::string data = m.Data;
  data[14] = data[15] = 0;
  clipboard.SetAsHandle(CF_METAFILEPICT, GlobalAllocCopy(GMEM_MOVEABLE, data));
  std::unique_ptr<TMetafile> back = RVReadClipboardMetafile(clipboard);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Inch, 1440);
}

}  // namespace
}  // namespace pelvar
