// The in-memory clipboard and the DIB reader of the platform layer: nested opening
// publishes one content, the text formats and the two bitmap forms stand in for each other
// as on the platform, a failed allocation gives no block, and a packed DIB is read only
// when its header, colour table and rows lie inside the block.
#include <gtest/gtest.h>

#include "platform/clipboard.h"
#include "platform/codepage.h"
#include "platform/dataobject.h"

namespace pelvar {
namespace {

void PutLe(std::string& s, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}

TEST(MemoryClipboard, NestedOpenPublishesOnceAndTextFormatsStandForEachOther) {
  TMemoryClipboard c;
  c.Open();
  c.Clear();
  c.SetAsText(CZ("Žluťoučký kůň"));
  c.SetAsHandle(42, GlobalAllocCopy(GMEM_MOVEABLE, "data"));
  EXPECT_EQ(c.PublishCount, 0);
  EXPECT_EQ(c.OpenCount(), 1);
  c.Close();
  EXPECT_EQ(c.PublishCount, 1);
  EXPECT_EQ(c.Formats(), (std::vector<uint16_t>{CF_TEXT, 42, CF_UNICODETEXT}));
  HGLOBAL w = c.GetAsHandle(CF_UNICODETEXT);
  ASSERT_TRUE(w);
  std::string expected;
  for (char16_t ch : std::u16string_view(u"Žluťoučký kůň")) PutLe(expected, ch, 2);
  expected.append(2, '\0');
  EXPECT_EQ(w->Data, expected);

  // A write outside an opening adds to what is there; Clear empties.
  c.SetAsHandle(CF_UNICODETEXT, GlobalAllocCopy(GMEM_MOVEABLE, std::string("\x0D\x01\0\0", 4)));  // "č"
  EXPECT_TRUE(c.HasFormat(42));
  EXPECT_EQ(c.AsText(), CZ("Žluťoučký kůň"));  // the real CF_TEXT is kept
  c.Clear();
  EXPECT_TRUE(c.Formats().empty());
  EXPECT_FALSE(c.GetAsHandle(CF_TEXT));
  c.SetAsHandle(CF_UNICODETEXT, GlobalAllocCopy(GMEM_MOVEABLE, std::string("\x0D\x01\0\0", 4)));
  EXPECT_EQ(c.AsText(), CZ("č"));
  c.SetAsHandle(7, nullptr);  // a missing block is ignored
  EXPECT_FALSE(c.HasFormat(7));
  c.Close();  // an extra close does nothing
  EXPECT_EQ(c.OpenCount(), 0);
}

TEST(MemoryClipboard, AllocationLimitGivesNoBlock) {
  SetGlobalAllocLimit(10);
  EXPECT_FALSE(GlobalAlloc(GMEM_MOVEABLE, 11));
  HGLOBAL b = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 10);
  ASSERT_TRUE(b);
  EXPECT_EQ(GlobalSize(b), 10u);
  SetGlobalAllocLimit(0);
  EXPECT_TRUE(GlobalAlloc(GMEM_MOVEABLE, 11));
}

// A 2x2 8-bit DIB with a 2-entry colour table.
std::string Dib8(uint32_t header = 40, int32_t width = 2, int32_t height = 2, uint32_t colors = 2) {
  std::string s;
  PutLe(s, header, 4);
  PutLe(s, static_cast<uint32_t>(width), 4);
  PutLe(s, static_cast<uint32_t>(height), 4);
  PutLe(s, 1, 2);
  PutLe(s, 8, 2);
  PutLe(s, 0, 4);
  PutLe(s, 0, 4);
  PutLe(s, 0, 4);
  PutLe(s, 0, 4);
  PutLe(s, colors, 4);
  PutLe(s, 0, 4);
  PutLe(s, 0x0000FF, 4);  // blue
  PutLe(s, 0xFF0000, 4);  // red
  s += std::string("\x00\x01\x00\x00", 4);  // bottom row: blue, red
  s += std::string("\x01\x00\x00\x00", 4);  // top row: red, blue
  return s;
}

TEST(PackedDIB, ReadsOnlyWhatLiesInsideTheBlock) {
  TDIBPixels p;
  ASSERT_TRUE(ReadPackedDIB(Dib8(), p));
  EXPECT_EQ(p.Pixels, (std::vector<uint32_t>{0xFFFF0000u, 0xFF0000FFu, 0xFF0000FFu, 0xFFFF0000u}));

  const std::string good = Dib8();
  struct Case {
    const char* name;
    std::string dib;
  } cases[] = {
      {"empty", ""},
      {"shorter than the header", good.substr(0, 39)},
      {"header size beyond the block", Dib8(4000)},
      {"header size below 40", Dib8(12)},
      {"rows cut", good.substr(0, good.size() - 1)},
      {"more rows than carried", Dib8(40, 2, 3)},
      {"huge width", Dib8(40, 0x7FFFFFFF, 1)},
      {"zero width", Dib8(40, 0, 2)},
      {"colour table beyond the block", Dib8(40, 2, 2, 256).substr(0, 60)},
  };
  for (const Case& c : cases) EXPECT_FALSE(ReadPackedDIB(c.dib, p)) << c.name;

  // A top-down 24-bit DIB made here reads back.
  TDIBPixels q;
  q.Width = 3;
  q.Height = 2;
  q.Pixels = {0xFF010203u, 0xFF040506u, 0xFF070809u, 0xFF0A0B0Cu, 0xFF0D0E0Fu, 0xFF101112u};
  TDIBPixels back;
  ASSERT_TRUE(ReadPackedDIB(MakePackedDIB(q), back));
  EXPECT_EQ(back.Pixels, q.Pixels);
}

TEST(DataObject, MemoryObjectAnswersWithCodes) {
  TMemoryDataObject d;
  d.Set(CF_TEXT, std::string("abc\0", 4));
  d.Set(CF_BITMAP, "dib", TYMED_GDI);
  FORMATETC f;
  f.cfFormat = CF_TEXT;
  EXPECT_EQ(d.QueryGetData(f), S_OK);
  f.tymed = TYMED_GDI;
  EXPECT_EQ(d.QueryGetData(f), DV_E_TYMED);
  f.cfFormat = CF_HDROP;
  EXPECT_EQ(d.QueryGetData(f), DV_E_FORMATETC);
  STGMEDIUM m;
  f.cfFormat = CF_BITMAP;
  ASSERT_EQ(d.GetData(f, m), S_OK);
  EXPECT_EQ(m.tymed, TYMED_GDI);
  std::shared_ptr<IEnumFORMATETC> e;
  ASSERT_EQ(d.EnumFormatEtc(DATADIR_GET, e), S_OK);
  std::vector<FORMATETC> all;
  uint32_t n = 0;
  EXPECT_EQ(e->Next(5, all, &n), S_FALSE);
  EXPECT_EQ(n, 2u);
  // The headless service cancels every drag.
  uint32_t effect = 99;
  struct TSource : IDropSource {
    int Asked = 0;
    HRESULT QueryContinueDrag(bool, uint32_t) override { return ++Asked, DRAGDROP_S_DROP; }
    HRESULT GiveFeedback(uint32_t) override { return S_OK; }
  } source;
  EXPECT_EQ(DoDragDrop(&d, &source, DROPEFFECT_COPY, effect), DRAGDROP_S_CANCEL);
  EXPECT_EQ(effect, DROPEFFECT_NONE);
  EXPECT_EQ(source.Asked, 1);
}

}  // namespace
}  // namespace pelvar
