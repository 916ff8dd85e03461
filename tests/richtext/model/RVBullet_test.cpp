// Image lists and the bullet and hotspot items: images drawn transparently and blended for
// the selection; the native format naming the list by its Tag (image indexes checked against
// the list, hot images defaulting to the plain one, every extra line counted); the RTF
// picture in both of its forms and HTML images sharing one file per image and colour.
#include <gtest/gtest.h>

#include "richtext/model/CRVData.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVImageList.h"
#include "richtext/model/RVItem.h"

namespace pelvar {
namespace {

constexpr uint32_t kRed = 0xFFFF0000u, kClear = 0x00000000u;

// A 4x2 list: image i is red with a transparent right column; image 1 all blue.
std::unique_ptr<TCustomImageList> MakeList(int32_t count, intptr_t tag = 5) {
  auto list = std::make_unique<TCustomImageList>(nullptr, 4, 2);
  list->SetTag(tag);
  for (int32_t i = 0; i < count; ++i) {
    TPixelImage img(4, 2, i == 1 ? 0xFF0000FFu : kRed);
    img.Set(3, 0, kClear), img.Set(3, 1, kClear);
    list->AddPixels(img);
  }
  return list;
}

TEST(ImageList, KeepsEqualSizedImagesAndDrawsThemTransparentlyOrBlended) {
  auto list = MakeList(2);
  EXPECT_EQ(list->Count(), 2);
  EXPECT_THROW(list->Add(TBitmap(5, 2)), EInvalidOperation);
  EXPECT_THROW(list->Image(2), EListError);

  TPixelImage surface(8, 4, 0xFF00FF00u);  // green
  TRVPixelCanvas canvas(surface);
  list->Draw(canvas, 1, 1, 0);
  EXPECT_EQ(surface.At(1, 1), kRed);
  EXPECT_EQ(surface.At(4, 1), 0xFF00FF00u) << "a transparent pixel shows what lies below";
  EXPECT_EQ(surface.At(0, 0), 0xFF00FF00u);
  list->Draw(canvas, 1, 1, 0, clWhite);  // half red, half white
  EXPECT_EQ(surface.At(2, 2), 0xFFFF8080u);
  list->Draw(canvas, 0, 0, 9);  // out of range: nothing
  EXPECT_EQ(surface.At(0, 0), 0xFF00FF00u);

  TBitmap b;
  ASSERT_TRUE(list->GetBitmap(0, b));
  EXPECT_EQ(b.Image.At(0, 0), kRed);
  EXPECT_EQ(b.Image.At(3, 0), 0xFFFFFFFFu) << "transparent parts become white";
  EXPECT_FALSE(list->GetBitmap(2, b));
}

TEST(Bullet, PaintsTheHotImageWhileHoveredAndBlendsASelectionByFocus) {
  auto list = MakeList(2);
  TRVStyle style(nullptr);
  style.SelColor = clBlue;
  style.InactiveSelColor = clWhite;
  TRVHotspotItemInfo item(nullptr);
  item.ImageList = list.get();
  item.ImageIndex = 0;
  item.HotImageIndex = 1;
  struct Case {
    uint32_t state;
    uint32_t pixel;
  } cases[] = {
      {0, kRed},
      {ipsHover, 0xFF0000FFu},
      {ipsSelected, 0xFFFF8080u},                      // unfocused: InactiveSelColor (white)
      {ipsSelected | ipsControlFocused, 0xFF800080u},  // focused: SelColor (blue)
  };
  for (const Case& c : cases) {
    TPixelImage surface(8, 6, 0xFF000000u);
    TRVPixelCanvas canvas(surface);
    item.Paint(0, 0, canvas, c.state, &style, nullptr);
    EXPECT_EQ(surface.At(1, 1), c.pixel) << c.state;  // inside the spacing of 1
  }
  EXPECT_EQ(item.GetWidth(), 6);
  EXPECT_EQ(item.GetHeight(), 4);

  // The current-item frame is an outline: the image stays visible.
  style.CurrentItemColor = clLime;
  TPixelImage surface(8, 6, 0xFF000000u);
  TRVPixelCanvas canvas(surface);
  item.Paint(0, 0, canvas, ipsCurrent, &style, nullptr);
  EXPECT_EQ(surface.At(0, 0), 0xFF00FF00u);
  EXPECT_EQ(surface.At(1, 1), kRed);
}

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  std::unique_ptr<TCustomImageList> list;
  explicit Doc(int32_t images = 5) : list(MakeList(images)) {
    data.SetRVStyle(&style);
    data.OnRVFImageListNeeded = [this](int32_t tag) -> TObject* { return tag == 5 ? list.get() : nullptr; };
  }
};

std::string Save(TCustomRVData& d) {
  TMemoryStream m;
  EXPECT_TRUE(d.SaveRVFToStream(m, false, nullptr, nullptr, clNone));
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

bool Load(TCustomRVData& d, const std::string& bytes) {
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  TColor c = clNone;
  return d.LoadRVFFromStream(m, c, nullptr, nullptr);
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> r;
  size_t from = 0;
  for (size_t at; (at = s.find("\r\n", from)) != std::string::npos; from = at + 2) r.push_back(s.substr(from, at - from));
  return r;
}

TEST(Bullet, NativeFormatNamesTheListByItsTagAndCountsEveryExtraLine) {
  Doc a;
  auto* b = new TRVBulletItemInfo(&a.data);
  b->ImageList = a.list.get();
  b->ImageIndex = 3;
  b->Hint = "tip";
  b->Unremovable = true;
  b->Spacing = 2;
  b->NoHTMLImageSize = true;
  b->Alt = "alt text";
  a.data.AddItem("bullet name", b);
  auto* h = new TRVHotspotItemInfo(&a.data);
  h->ImageList = a.list.get();
  h->ImageIndex = 1;
  h->HotImageIndex = 2;
  h->ParaNo = -1;  // continues the bullet's paragraph
  a.data.AddItem("", h);
  const std::string saved = Save(a.data);
  const std::vector<std::string> lines = Lines(saved);
  // The bullet's record: header with LineCount 6, the name, then hint, unremovable,
  // spacing, nohtmlsize, alt; the header tail is "<tag> <index>".
  size_t at = 0;
  while (at < lines.size() && lines[at].rfind("-6 ", 0) != 0) ++at;
  ASSERT_LT(at + 6, lines.size());
  EXPECT_EQ(lines[at], "-6 6 0 0 0 0 5 3");
  EXPECT_EQ((std::vector<std::string>(lines.begin() + static_cast<ptrdiff_t>(at) + 1,
                                      lines.begin() + static_cast<ptrdiff_t>(at) + 7)),
            (std::vector<std::string>{"bullet name", "hint=tip", "unremovable=1", "spacing=2", "nohtmlsize=1",
                                      "alt=alt text"}));
  EXPECT_EQ(lines[at + 7], "-4 1 -1 1 0 0 5 1 2");

  Doc c;
  ASSERT_TRUE(Load(c.data, saved));
  ASSERT_EQ(c.data.ItemCount(), 2);
  auto* rb = dynamic_cast<TRVBulletItemInfo*>(c.data.GetItem(0));
  auto* rh = dynamic_cast<TRVHotspotItemInfo*>(c.data.GetItem(1));
  ASSERT_TRUE(rb && rh);
  EXPECT_EQ(rb->ImageList, c.list.get());
  EXPECT_EQ(c.data.GetItemTextRaw(0), "bullet name");
  EXPECT_EQ(rb->ImageIndex, 3);
  EXPECT_EQ(rb->Hint, "tip");
  EXPECT_TRUE(rb->Unremovable);
  EXPECT_EQ(rb->Spacing, 2);
  EXPECT_TRUE(rb->NoHTMLImageSize);
  EXPECT_EQ(rb->Alt, "alt text");
  EXPECT_EQ(rh->ImageIndex, 1);
  EXPECT_EQ(rh->HotImageIndex, 2);
  EXPECT_TRUE(rh->GetBoolValueEx(3, nullptr));
  EXPECT_TRUE(rh->GetBoolValueEx(1, nullptr) && !rb->GetBoolValueEx(1, nullptr));
}

TEST(Bullet, ReadingChecksImageIndexesAgainstTheList) {
  struct Case {
    const char* record;
    bool convert;
    bool ok;
    int32_t index, hot;
    uint32_t warning;
  } cases[] = {
      {"-6 1 0 0 0 0 5 7\r\nb\r\n", false, false, 0, 0, 8},   // 7 of 5 images: refused
      {"-6 1 0 0 0 0 5 7\r\nb\r\n", true, true, 0, 0, 8},     // or made 0
      {"-6 1 0 0 0 0 9 7\r\nb\r\n", false, true, 7, 0, 0},    // no list for tag 9: kept
      {"-4 1 0 0 0 0 5 2\r\nh\r\n", false, true, 2, 2, 0},    // no hot index: the plain one
      {"-4 1 0 0 0 0 5 2 6\r\nh\r\n", true, true, 2, 0, 8},   // hot index too large
      {"-6 1 0 0 0 0 5\r\nb\r\n", false, false, 0, 0, 0},     // index missing
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    Doc d;
    TRVFOptions o = d.data.GetRVFOptions();
    o.Set(rvfoConvLargeImageIdxToZero, c.convert);
    d.data.SetRVFOptions(o);
    EXPECT_EQ(Load(d.data, std::string("-8 1 3\r\n") + c.record), c.ok);
    EXPECT_EQ(d.data.GetRVFWarnings() & 8, c.warning);
    if (!c.ok) continue;
    auto* b = dynamic_cast<TRVBulletItemInfo*>(d.data.GetItem(0));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->ImageIndex, c.index);
    if (auto* h = dynamic_cast<TRVHotspotItemInfo*>(b)) {
      EXPECT_EQ(h->HotImageIndex, c.hot);
      EXPECT_EQ(h->GetBoolValueEx(3, nullptr), c.index != c.hot);
    }
  }
}

TEST(Bullet, RTFPictureIsABitmapOrAMetafileHoldingTheBitmap) {
  auto list = MakeList(2);
  TBitmap expected;
  list->GetBitmap(1, expected);
  const AnsiString dib_hex = RVFSavePicture(expected).substr(28);
  {
    TMemoryStream m;
    RTFImageListImage(m, list.get(), 1, TRVRTFOptions{rvrtfSaveBitmapDefault}.ToBits());
    const std::string rtf(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
    EXPECT_EQ(rtf, "{\\pict\\dibitmap0\\wbmwidthbytes12\\picw4\\pich2\\picwgoal60\\pichgoal30 " + dib_hex + "}");
  }
  {
    TMemoryStream m;
    RTFImageListImage(m, list.get(), 1, 0);
    const std::string rtf(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
    const std::string head = "{\\pict\\wmetafile1\\picw4\\pich2 ";
    ASSERT_EQ(rtf.compare(0, head.size(), head), 0);
    const std::string mf = RVFHexToString(rtf.substr(head.size(), rtf.size() - head.size() - 1));
    auto word = [&](size_t at) { return static_cast<uint32_t>(static_cast<uint8_t>(mf[at]) | static_cast<uint8_t>(mf[at + 1]) << 8); };
    auto dword = [&](size_t at) { return word(at) | word(at + 2) << 16; };
    EXPECT_EQ(word(0), 1u);
    EXPECT_EQ(word(2), 9u);
    EXPECT_EQ(dword(6) * 2, mf.size()) << "the size field counts every word";
    // Records after the header: window origin, window extent, the stretched bitmap, the end.
    std::vector<uint32_t> funcs;
    size_t at = 18;
    while (at + 6 <= mf.size()) {
      funcs.push_back(word(at + 4));
      if (word(at + 4) == 0x0F43) {
        EXPECT_EQ(RVFStringToHex(mf.substr(at + 28, dword(at) * 2 - 28)), dib_hex);
      }
      at += dword(at) * 2;
    }
    EXPECT_EQ(at, mf.size());
    EXPECT_EQ(funcs, (std::vector<uint32_t>{0x020B, 0x020C, 0x0F43, 0x0000}));
  }
  TMemoryStream none;
  RTFImageListImage(none, list.get(), 2, 0);
  RTFImageListImage(none, nullptr, 0, 0);
  EXPECT_EQ(none.Size(), 0);
}

TEST(Bullet, HTMLExportWritesOneFilePerImageAndBackgroundColour) {
  Doc d(2);
  int32_t files = 0;
  std::vector<uint32_t> backs;
  d.data.OnSaveImage2 = [&](TGraphic* g, TRVSaveFormat, const AnsiString&, const AnsiString&, int32_t&,
                            AnsiString& location, bool& do_default) {
    auto* b = dynamic_cast<TBitmap*>(g);
    ASSERT_NE(b, nullptr);
    backs.push_back(b->Image.At(3, 0));  // the transparent column shows the background
    location = "img" + std::to_string(++files) + ".bmp";
    do_default = false;
  };
  TRVHTMLBulletList bullets;
  d.data.HTMLBullets = &bullets;
  TRVBulletItemInfo b(&d.data);
  b.ImageList = d.list.get();
  b.Alt = "x";
  int32_t no = 0;
  auto html = [&](TColor back, uint32_t options) {
    TMemoryStream m;
    b.SaveToHTML(m, &d.data, 0, "", "", "", no, back, options, false);
    return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
  };
  EXPECT_EQ(html(clWhite, 0), "<img  alt=\"x\" hspace=1 vspace=1 src=\"img1.bmp\">");
  EXPECT_EQ(html(clWhite, 1u << 6), "<img width=4 height=2  alt=\"x\" hspace=1 vspace=1 src=\"img1.bmp\">");
  EXPECT_EQ(html(clRed, 1u << 5), "<img border=0  alt=\"x\" hspace=1 vspace=1 src=\"img2.bmp\">");
  EXPECT_EQ(files, 2);
  EXPECT_EQ(backs, (std::vector<uint32_t>{0xFFFFFFFFu, 0xFFFF0000u}));
  d.data.HTMLBullets = nullptr;
}

TEST(Bullet, AssignCopiesAllButTheAltTextAndAHotspotJumpsOnExecute) {
  auto list = MakeList(3);
  TRVHotspotItemInfo a(nullptr);
  a.ImageList = list.get();
  a.ImageIndex = 2;
  a.HotImageIndex = 1;
  a.NoHTMLImageSize = true;
  a.Alt = "alt";
  a.Spacing = 4;
  TRVHotspotItemInfo b(nullptr);
  b.Assign(&a);
  EXPECT_EQ(b.ImageList, list.get());
  EXPECT_EQ(b.ImageIndex, 2);
  EXPECT_EQ(b.HotImageIndex, 1);
  EXPECT_TRUE(b.NoHTMLImageSize);
  EXPECT_EQ(b.Spacing, 4);
  EXPECT_EQ(b.Alt, "");

  struct JumpDoc : TCustomRVData {
    std::vector<int32_t> jumps;
    void DoJump(int32_t id) override { jumps.push_back(id); }
  } doc;
  doc.FirstJumpNo = 10;
  b.JumpID = 3;
  b.Execute(&doc);
  EXPECT_EQ(doc.jumps, std::vector<int32_t>{13});
}

}  // namespace
}  // namespace pelvar
