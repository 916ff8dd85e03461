// RTF import of the picture kinds a word processor writes besides PNG and JPEG: device-
// independent bitmaps of every depth (colour tables, colour masks, run-length encoding, the
// old 12-byte header), device-dependent bitmaps in the device's colours, and enhanced
// metafiles, which are kept as they came and written back unchanged. The pixels are
// checked against colours worked out by hand from the bitmap format.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <functional>
#include <tuple>

#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVRTFProps.h"

namespace pelvar {
namespace {

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  Doc() { data.SetRVStyle(&style); }
};

uint8_t Import(TRVRTFReaderProperties& p, TCustomRVData& d, const std::string& rtf) {
  TMemoryStream m;
  m.WriteBuffer(rtf.data(), static_cast<int64_t>(rtf.size()));
  m.SetPosition(0);
  int32_t index = 0;
  return p.ReadRTFFromStream(m, &d, index);
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char b[3];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

void Le(std::string& s, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A bitmap's own header (40 bytes), its colour table (0xRRGGBB entries) and its bits: what
// a "dibitmap" picture group holds.
std::string Dib(int32_t w, int32_t h, int bpp, uint32_t compression, const std::vector<uint32_t>& colours,
                const std::string& bits, const std::vector<uint32_t>& masks = {}) {
  std::string d;
  Le(d, 40, 4), Le(d, static_cast<uint32_t>(w), 4), Le(d, static_cast<uint32_t>(h), 4), Le(d, 1, 2);
  Le(d, static_cast<uint32_t>(bpp), 2), Le(d, compression, 4), Le(d, static_cast<uint32_t>(bits.size()), 4);
  Le(d, 0, 4), Le(d, 0, 4), Le(d, static_cast<uint32_t>(colours.size()), 4), Le(d, 0, 4);
  for (uint32_t m : masks) Le(d, m, 4);
  for (uint32_t c : colours) Le(d, c, 4);
  return d + bits;
}

// The same with the old 12-byte header and 3-byte colour entries.
std::string CoreDib(int32_t w, int32_t h, int bpp, const std::vector<uint32_t>& colours, const std::string& bits) {
  std::string d;
  Le(d, 12, 4), Le(d, static_cast<uint32_t>(w), 2), Le(d, static_cast<uint32_t>(h), 2), Le(d, 1, 2);
  Le(d, static_cast<uint32_t>(bpp), 2);
  for (uint32_t c : colours) Le(d, c, 3);
  return d + bits;
}

std::string Bytes(std::initializer_list<int> b) {
  std::string s;
  for (int v : b) s.push_back(static_cast<char>(v));
  return s;
}

constexpr uint32_t R = 0xFFFF0000u, G = 0xFF00FF00u, B = 0xFF0000FFu, W = 0xFFFFFFFFu, K = 0xFF000000u;
constexpr uint32_t Olive = 0xFF808000u, Silver = 0xFFC0C0C0u;

const TRVGraphicItemInfo* OnlyPicture(TCustomRVData& d) {
  const TRVGraphicItemInfo* found = nullptr;
  for (int32_t i = 0; i < d.ItemCount(); ++i)
    if (auto* g = dynamic_cast<const TRVGraphicItemInfo*>(d.GetItem(i))) {
      EXPECT_EQ(found, nullptr) << "more than one picture";
      found = g;
    }
  return found;
}

// Bitmaps arrive as bitmaps with their pixels, top row first; rows in the file run bottom-
// up unless the height is negative, and device-dependent rows run top-down.
TEST(RTFImportPictureKinds, BitmapsOfEveryDepthArriveWithTheirPixels) {
  struct Case {
    const char* name;
    std::string group;  // the picture group's words and data
    int32_t w, h;
    std::vector<uint32_t> pixels;  // row by row, top first
  } cases[] = {
      {"1-bit colour table", "\\dibitmap0\\picw2\\pich2 " +
                                 Hex(Dib(2, 2, 1, 0, {0xFF0000, 0x0000FF}, Bytes({0x80, 0, 0, 0, 0x40, 0, 0, 0}))),
       2, 2, {R, B, B, R}},
      {"4-bit colour table", "\\dibitmap0 " + Hex(Dib(3, 1, 4, 0, {0, 0xFF0000, 0x00FF00, 0x0000FF},
                                                       Bytes({0x12, 0x30, 0, 0}))),
       3, 1, {R, G, B}},
      {"8-bit colour table, top-down", "\\dibitmap0 " + Hex(Dib(2, -2, 8, 0, {0xFF0000, 0x00FF00, 0x0000FF},
                                                                 Bytes({2, 1, 0, 0, 0, 7, 0, 0}))),
       2, 2, {B, G, R, K}},
      {"8-bit run-length", "\\dibitmap0 " + Hex(Dib(4, 2, 8, 1, {0xFF0000, 0x00FF00},
                                                     Bytes({4, 1, 0, 0, 0, 3, 0, 1, 0, 0, 0, 1}))),
       4, 2, {R, G, R, K, G, G, G, G}},
      {"4-bit run-length", "\\dibitmap0 " + Hex(Dib(3, 1, 4, 2, {0xFF0000, 0x00FF00, 0x0000FF},
                                                     Bytes({3, 0x12, 0, 1}))),
       3, 1, {G, B, G}},
      {"16-bit 5-5-5", "\\dibitmap0 " + Hex(Dib(2, 1, 16, 0, {}, Bytes({0x00, 0x7C, 0x1F, 0x00}))), 2, 1, {R, B}},
      {"32-bit colour masks", "\\dibitmap0 " + Hex(Dib(2, 1, 32, 3, {}, Bytes({0xFF, 0, 0, 0, 0, 0, 0, 0xFF}),
                                                        {0x000000FF, 0x0000FF00, 0xFF000000})),
       2, 1, {R, B}},
      {"old header", "\\dibitmap0 " + Hex(CoreDib(2, 1, 1, {0x00FF00, 0xFFFFFF}, Bytes({0x40, 0, 0, 0}))), 2, 1,
       {G, W}},
      {"device 1-bit", "\\wbitmap0\\wbmbitspixel1\\wbmplanes1\\wbmwidthbytes2\\picw3\\pich2 " +
                           Hex(Bytes({0xA0, 0, 0x40, 0})),
       3, 2, {W, K, W, K, W, K}},
      {"device 4-bit", "\\wbitmap0\\wbmbitspixel4\\wbmplanes1\\wbmwidthbytes2\\picw3\\pich1 " +
                           Hex(Bytes({0x38, 0xF0})),
       3, 1, {Olive, Silver, W}},
      {"device 24-bit", "\\wbitmap0\\wbmbitspixel24\\wbmplanes1\\wbmwidthbytes4\\picw1\\pich2 " +
                            Hex(Bytes({0, 0, 0xFF, 0, 0xFF, 0, 0, 0})),
       1, 2, {R, B}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Doc d;
    TRVRTFReaderProperties p;
    ASSERT_EQ(Import(p, d.data, "{\\rtf1 a{\\pict" + c.group + "}b\\par}"), rtf_ec_OK);
    const TRVGraphicItemInfo* item = OnlyPicture(d.data);
    ASSERT_NE(item, nullptr);
    auto* bitmap = dynamic_cast<const TBitmap*>(item->Image.get());
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->Width(), c.w);
    ASSERT_EQ(bitmap->Height(), c.h);
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < c.h; ++y)
      for (int32_t x = 0; x < c.w; ++x) pixels.push_back(bitmap->Image.At(x, y));
    EXPECT_EQ(pixels, c.pixels);
  }
}

// An enhanced metafile: its header record (type 1, " EMF"), the frame in 0.01 mm, and the
// end-of-file record.
std::string Emf(int32_t frame_w, int32_t frame_h) {
  std::string e;
  Le(e, 1, 4), Le(e, 88, 4);
  Le(e, 0, 4), Le(e, 0, 4), Le(e, 99, 4), Le(e, 49, 4);  // bounds (pixels)
  Le(e, 0, 4), Le(e, 0, 4), Le(e, static_cast<uint32_t>(frame_w), 4), Le(e, static_cast<uint32_t>(frame_h), 4);
  Le(e, 0x464D4520, 4), Le(e, 0x10000, 4), Le(e, 88 + 20, 4), Le(e, 2, 4);
  Le(e, 1, 2), Le(e, 0, 2), Le(e, 0, 4), Le(e, 0, 4), Le(e, 0, 4);
  Le(e, 1920, 4), Le(e, 1080, 4), Le(e, 508, 4), Le(e, 286, 4);
  Le(e, 14, 4), Le(e, 20, 4), Le(e, 0, 4), Le(e, 16, 4), Le(e, 20, 4);  // EMR_EOF
  return e;
}

// An enhanced metafile arrives as an enhanced metafile of its frame's size and is written
// back to RTF as the same bytes; the document's goal size gives its displayed size.
TEST(RTFImportPictureKinds, EnhancedMetafilesAreKeptAndWrittenBack) {
  const std::string emf = Emf(2540, 1270);
  Doc d;
  TRVRTFReaderProperties p;
  ASSERT_EQ(Import(p, d.data, "{\\rtf1 {\\pict\\emfblip\\picw2540\\pich1270\\picwgoal2880\\pichgoal1440 " + Hex(emf) +
                                  "}\\par}"),
            rtf_ec_OK);
  const TRVGraphicItemInfo* item = OnlyPicture(d.data);
  ASSERT_NE(item, nullptr);
  auto* meta = dynamic_cast<const TMetafile*>(item->Image.get());
  ASSERT_NE(meta, nullptr);
  EXPECT_TRUE(meta->Enhanced);
  EXPECT_EQ(meta->MMWidth(), 2540);
  EXPECT_EQ(meta->MMHeight(), 1270);
  EXPECT_EQ(meta->Width(), 96);
  EXPECT_EQ(meta->Height(), 48);
  EXPECT_EQ(meta->Data, emf);
  EXPECT_EQ(item->ImageWidth, 192);
  EXPECT_EQ(item->ImageHeight, 96);

  TMemoryStream out;
  ASSERT_TRUE(d.data.SaveRTFToStream(out, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, false));
  const std::string rtf(reinterpret_cast<const char*>(out.Memory()), static_cast<size_t>(out.Size()));
  EXPECT_NE(rtf.find("\\emfblip"), std::string::npos);
  Doc back;
  TRVRTFReaderProperties q;
  ASSERT_EQ(Import(q, back.data, rtf), rtf_ec_OK);
  const TRVGraphicItemInfo* again = OnlyPicture(back.data);
  ASSERT_NE(again, nullptr);
  auto* meta2 = dynamic_cast<const TMetafile*>(again->Image.get());
  ASSERT_NE(meta2, nullptr);
  EXPECT_TRUE(meta2->Enhanced);
  EXPECT_EQ(meta2->Data, emf);
}

// Picture data that is no picture of its kind ends the import with the invalid-picture
// code; what came before stays in the document.
TEST(RTFImportPictureKinds, UndecodablePictureDataEndsTheImport) {
  const std::string cases[] = {
      "\\emfblip 0102030405060708",
      "\\wbitmap0\\wbmbitspixel1\\wbmplanes1\\picw64\\pich64 ffff",  // rows missing
      "\\wbitmap0\\wbmbitspixel3\\wbmplanes1\\picw1\\pich1 ffff",    // no such depth
      "\\dibitmap0 " + Hex(Dib(2, 2, 8, 0, {0xFF0000}, Bytes({0}))),  // rows missing
  };
  for (const std::string& c : cases) {
    SCOPED_TRACE(c);
    Doc d;
    TRVRTFReaderProperties p;
    EXPECT_EQ(Import(p, d.data, "{\\rtf1 before{\\pict" + c + "}after\\par}"), rtf_ec_InvalidPicture);
    EXPECT_EQ(OnlyPicture(d.data), nullptr);
    ASSERT_GE(d.data.ItemCount(), 1);
    EXPECT_EQ(d.data.GetItemTextRaw(0), "before");
  }
}

// A Windows metafile that only stretches one bitmap with a colour table arrives as that
// bitmap when metafile bitmaps are extracted (and as the metafile when they are not).
TEST(RTFImportPictureKinds, MetafileDrawingOneColourTableBitmapArrivesAsTheBitmap) {
  const std::string dib = Dib(2, 1, 8, 0, {0x0000FF, 0x00FF00}, Bytes({1, 0, 0, 0}));
  std::string rec;
  Le(rec, 0x00CC0020, 4), Le(rec, 0, 2);
  for (int i = 0; i < 8; ++i) Le(rec, 2, 2);
  rec += dib;
  std::string records;
  Le(records, static_cast<uint32_t>((6 + rec.size()) / 2), 4), Le(records, 0x0F43, 2);
  records += rec;
  Le(records, 3, 4), Le(records, 0, 2);
  std::string wmf;
  Le(wmf, 1, 2), Le(wmf, 9, 2), Le(wmf, 0x0300, 2), Le(wmf, static_cast<uint32_t>((18 + records.size()) / 2), 4);
  Le(wmf, 0, 2), Le(wmf, 64, 4), Le(wmf, 0, 2);
  wmf += records;
  for (bool extract : {true, false}) {
    SCOPED_TRACE(extract);
    Doc d;
    TRVRTFReaderProperties p;
    p.ExtractMetafileBitmaps = extract;
    ASSERT_EQ(Import(p, d.data, "{\\rtf1 {\\pict\\wmetafile8\\picw53\\pich26 " + Hex(wmf) + "}\\par}"), rtf_ec_OK);
    const TRVGraphicItemInfo* item = OnlyPicture(d.data);
    ASSERT_NE(item, nullptr);
    if (extract) {
      auto* bitmap = dynamic_cast<const TBitmap*>(item->Image.get());
      ASSERT_NE(bitmap, nullptr);
      EXPECT_EQ(bitmap->Image.At(0, 0), G);
      EXPECT_EQ(bitmap->Image.At(1, 0), B);
    } else {
      EXPECT_NE(dynamic_cast<const TMetafile*>(item->Image.get()), nullptr);
    }
  }
}

// The largest single allocation while f runs, through the sanitizer's allocation hooks
// (-1 when the program is built without them).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                          void (*)(const volatile void*)) __attribute__((weak));
std::atomic<size_t> largest_allocation{0};
int64_t LargestAllocation(const std::function<void()>& f) {
  static const bool hooked = __sanitizer_install_malloc_and_free_hooks &&
                             __sanitizer_install_malloc_and_free_hooks(
                                 [](const volatile void*, size_t n) {
                                   size_t seen = largest_allocation.load();
                                   while (n > seen && !largest_allocation.compare_exchange_weak(seen, n)) {
                                   }
                                 },
                                 [](const volatile void*) {}) != 0;
  largest_allocation = 0;
  f();
  return hooked ? static_cast<int64_t>(largest_allocation.load()) : -1;
}

// A Windows metafile of one record that stretches the given bitmap.
std::string WmfOfBitmap(const std::string& dib) {
  std::string rec;
  Le(rec, 0x00CC0020, 4), Le(rec, 0, 2);
  for (int i = 0; i < 8; ++i) Le(rec, 2, 2);
  rec += dib;
  if (rec.size() % 2) rec.push_back('\0');
  std::string records;
  Le(records, static_cast<uint32_t>((6 + rec.size()) / 2), 4), Le(records, 0x0F43, 2);
  records += rec;
  Le(records, 3, 4), Le(records, 0, 2);
  std::string wmf;
  Le(wmf, 1, 2), Le(wmf, 9, 2), Le(wmf, 0x0300, 2), Le(wmf, static_cast<uint32_t>((18 + records.size()) / 2), 4);
  Le(wmf, 0, 2), Le(wmf, static_cast<uint32_t>(records.size() / 2), 4), Le(wmf, 0, 2);
  return wmf + records;
}

// A bitmap header of a few bytes that claims millions of pixels is refused before any
// pixel is made: the data its size needs must be there (a run-length bitmap that large
// needs a code per row), and the size is checked in a wide type. A metafile holding such a
// bitmap stays a metafile.
TEST(RTFImportPictureKinds, TinyHeadersOfHugeBitmapsAreRefusedBeforeTheirPixelsAreMade) {
  std::string rle;  // 8192 x 8192 at 8 bits: runs of 255 pixels, then the end of the bitmap
  for (int i = 0; i < 280; ++i) rle += Bytes({255, 1});
  rle += Bytes({0, 1});
  const std::string rgb = Bytes({1, 2, 3, 4, 5, 6});
  struct Case {
    const char* name;
    std::string group;
    uint8_t result;
    bool metafile;  // the picture arrives as a metafile
  } cases[] = {
      {"24-bit 8000 x 8000", "\\dibitmap0 " + Hex(Dib(8000, 8000, 24, 0, {}, rgb)), rtf_ec_InvalidPicture, false},
      {"24-bit 16000 x 16000", "\\dibitmap0 " + Hex(Dib(16000, 16000, 24, 0, {}, rgb)), rtf_ec_InvalidPicture, false},
      {"24-bit 50000 x 50000", "\\dibitmap0 " + Hex(Dib(50000, 50000, 24, 0, {}, rgb)), rtf_ec_InvalidPicture, false},
      {"8-bit run-length 8192 x 8192", "\\dibitmap0 " + Hex(Dib(8192, 8192, 8, 1, {0xFF0000, 0x00FF00}, rle)),
       rtf_ec_InvalidPicture, false},
      {"metafile of a 24-bit 8000 x 8000", "\\wmetafile8\\picw100\\pich100 " + Hex(WmfOfBitmap(Dib(8000, 8000, 24, 0, {}, rgb))),
       rtf_ec_OK, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Doc d;
    TRVRTFReaderProperties p;
    p.ExtractMetafileBitmaps = true;
    uint8_t result = 0;
    const int64_t largest =
        LargestAllocation([&] { result = Import(p, d.data, "{\\rtf1 a{\\pict" + c.group + "}b\\par}"); });
    EXPECT_EQ(result, c.result);
    const TRVGraphicItemInfo* item = OnlyPicture(d.data);
    EXPECT_EQ(item && dynamic_cast<const TMetafile*>(item->Image.get()), c.metafile);
    EXPECT_LT(largest, 1 << 20);
  }
  // A run-length bitmap of that size with its codes loads, and small ones may end early.
  std::string rows;
  for (int row = 0; row < 2048; ++row) rows += Bytes({2, 1, 0, 0});
  rows += Bytes({0, 1});
  for (auto [w, h, data] : {std::tuple{2048, 2048, rows}, std::tuple{512, 512, Bytes({2, 1, 0, 1})}}) {
    Doc d;
    TRVRTFReaderProperties p;
    ASSERT_EQ(Import(p, d.data, "{\\rtf1 {\\pict\\dibitmap0 " + Hex(Dib(w, h, 8, 1, {0xFF0000, 0x00FF00}, data)) +
                                    "}\\par}"),
              rtf_ec_OK);
    const TRVGraphicItemInfo* item = OnlyPicture(d.data);
    ASSERT_NE(item, nullptr);
    auto* bitmap = dynamic_cast<const TBitmap*>(item->Image.get());
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->Image.At(1, h - 1), G);
    EXPECT_EQ(bitmap->Image.At(2, h - 1), K);
  }
}

}  // namespace
}  // namespace pelvar
