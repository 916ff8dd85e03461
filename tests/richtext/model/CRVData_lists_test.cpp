// Lists across the formats: the list-style table of the native format (a document with two
// lists, one restarting, loads back with equal list styles, ids and markers; inserted into
// another document the lists merge by id and numbered lists stay apart), image-list markers
// in RTF, and list images in HTML (one picture file per image and colour for markers and
// bullets alike, pictures the page cannot show written as JPEG).
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "platform/sysutils.h"
#include "richtext/model/CRVData.h"
#include "richtext/model/CRVData_formats.h"
#include "richtext/model/RVFMisc.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVImageList.h"
#include "richtext/model/RVMarker.h"
#include "richtext/model/RVStyle_list.h"
#include "tests/support/process.h"

namespace pelvar {
namespace {

// Two 4x2 images, red and blue; the list is named by Tag 5 in streams.
std::shared_ptr<TCustomImageList> MakeImages() {
  auto list = std::make_shared<TCustomImageList>(nullptr, 4, 2);
  list->SetTag(5);
  list->AddPixels(TPixelImage(4, 2, 0xFFFF0000u));
  list->AddPixels(TPixelImage(4, 2, 0xFF0000FFu));
  return list;
}

struct Doc {
  TRVStyle style{nullptr};
  TCustomRVData data;
  std::shared_ptr<TCustomImageList> images;
  explicit Doc(std::shared_ptr<TCustomImageList> list = MakeImages()) : images(std::move(list)) {
    data.SetRVStyle(&style);
    data.OnRVFImageListNeeded = [this](int32_t tag) -> TObject* { return tag == 5 ? images.get() : nullptr; };
    TRVFOptions o;
    o.Include(rvfoSaveTextStyles).Include(rvfoSaveParaStyles);
    data.SetRVFOptions(o);
    data.SetFlags(0x100);
  }
  TRVMarkerItemInfo* AddMarker(int32_t list_no, int32_t level, const AnsiString& text, int32_t reset_at = 0) {
    auto* m = new TRVMarkerItemInfo(&data);
    m->StyleNo = rvsListMarker;
    m->ListNo = list_no;
    m->Level = level;
    if (reset_at > 0) m->Reset = true, m->StartFrom = reset_at;
    data.AddItem("", m);
    data.AddMarkerInList(data.ItemCount() - 1);
    data.AddTextItem(text, 0, -1);
    return m;
  }
  std::vector<TRVMarkerItemInfo*> Markers() {
    std::vector<TRVMarkerItemInfo*> r;
    for (int32_t i = 0; i < data.ItemCount(); ++i)
      if (auto* m = dynamic_cast<TRVMarkerItemInfo*>(data.GetItem(i))) r.push_back(m);
    return r;
  }
};

// List 0: numbered on two levels (a marker font on the inner one); list 1: an image of the
// image list. Markers: 1., 1.a, 5. (restarting), 6., then the image list.
void FillLists(Doc& d) {
  TRVListInfo* numbered = d.style.ListStyles()->Add();
  TRVListLevel* l0 = numbered->Levels()->Add();
  l0->ListType = rvlstDecimal;
  l0->FormatString = "%0:s.";
  l0->LeftIndent = 24;
  TRVListLevel* l1 = numbered->Levels()->Add();
  l1->ListType = rvlstLowerAlpha;
  l1->FormatString = "%0:s.%1:s";
  l1->LeftIndent = 48;
  l1->MarkerIndent = 24;
  l1->Font()->SetSize(12);
  l1->Font()->SetName("Times New Roman");
  TRVListInfo* pictures = d.style.ListStyles()->Add();
  TRVListLevel* p0 = pictures->Levels()->Add();
  p0->ListType = rvlstImageList;
  p0->SetImageList(d.images.get());
  p0->ImageIndex = 1;
  d.AddMarker(0, 0, "one");
  d.AddMarker(0, 1, "one a");
  d.AddMarker(0, 0, "five", 5);
  d.AddMarker(0, 0, "six");
  d.AddMarker(1, 0, "picture");
}

std::string Save(TCustomRVData& d, bool binary) {
  TRVFOptions o = d.GetRVFOptions();
  o.Set(rvfoSaveBinary, binary);
  d.SetRVFOptions(o);
  TMemoryStream m;
  EXPECT_TRUE(d.SaveRVFToStream(m, false, nullptr, nullptr, clNone));
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

bool Insert(TCustomRVData& d, const std::string& bytes, bool whole) {
  TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  TColor c = clNone;
  if (whole) return d.LoadRVFFromStream(m, c, nullptr, nullptr);
  int32_t index = d.ItemCount();
  return d.InsertRVFFromStream(m, index, nullptr, nullptr, c, false, false, false, 0);
}

TEST(RVFListStyles, DocumentWithTwoListsLoadsBackEqual) {
  for (bool binary : {false, true}) {
    SCOPED_TRACE(binary ? "binary" : "text");
    Doc a;
    FillLists(a);
    const std::string bytes = Save(a.data, binary);
    EXPECT_EQ(a.style.ListStyles()->RVData, nullptr);  // set only while streaming
    Doc b(a.images);
    ASSERT_TRUE(Insert(b.data, bytes, true));
    ASSERT_EQ(b.style.ListStyles()->Count(), 2);
    for (int32_t i = 0; i < 2; ++i)  // list ids included
      EXPECT_TRUE(b.style.ListStyles()->Items(i)->SameProperties(a.style.ListStyles()->Items(i), false, false)) << i;
    EXPECT_EQ(b.style.ListStyles()->Items(1)->Levels()->Items(0)->ImageList, a.images.get());
    EXPECT_EQ(b.style.ListStyles()->RVData, nullptr);
    const auto ma = a.Markers(), mb = b.Markers();
    ASSERT_EQ(mb.size(), ma.size());
    for (size_t i = 0; i < ma.size(); ++i) {
      EXPECT_EQ(mb[i]->ListNo, ma[i]->ListNo) << i;
      EXPECT_EQ(mb[i]->Level, ma[i]->Level) << i;
      EXPECT_EQ(mb[i]->Reset, ma[i]->Reset) << i;
      EXPECT_EQ(mb[i]->StartFrom, ma[i]->StartFrom) << i;
      EXPECT_EQ(mb[i]->Counter, ma[i]->Counter) << i;
      EXPECT_EQ(mb[i]->DisplayString, ma[i]->DisplayString) << i;
    }
    EXPECT_EQ(mb[2]->DisplayString, "5.");
    EXPECT_EQ(mb[3]->DisplayString, "6.");
    EXPECT_EQ(mb[1]->DisplayString, "1.a");
  }
}

TEST(RVFListStyles, InsertedListsMergeByIdAndNumberedListsStayApart) {
  Doc a;
  FillLists(a);
  const std::string bytes = Save(a.data, false);
  // A document with a bullet list of its own: the two lists are added after it and the
  // markers follow them; inserting again finds them by their ids.
  Doc e(a.images);
  e.style.ListStyles()->Add()->Levels()->Add()->FormatString = "-";
  e.AddMarker(0, 0, "own");
  ASSERT_TRUE(Insert(e.data, bytes, false));
  ASSERT_EQ(e.style.ListStyles()->Count(), 3);
  EXPECT_EQ(e.style.ListStyles()->Items(1)->GetListId(), a.style.ListStyles()->Items(0)->GetListId());
  auto lists_of = [](Doc& d) {
    std::vector<int32_t> r;
    for (auto* m : d.Markers()) r.push_back(m->ListNo);
    return r;
  };
  EXPECT_EQ(lists_of(e), (std::vector<int32_t>{0, 1, 1, 1, 1, 2}));
  EXPECT_EQ(e.Markers()[3]->DisplayString, "5.");
  ASSERT_TRUE(Insert(e.data, bytes, false));
  EXPECT_EQ(e.style.ListStyles()->Count(), 3);
  EXPECT_EQ(lists_of(e).back(), 2);
  // Mapping onto the closest lists adds none.
  Doc f(a.images);
  f.style.ListStyles()->Add()->Levels()->Add()->ListType = rvlstDecimal;
  f.data.SetRVFParaStylesReadMode(rvf_sInsertMap);
  ASSERT_TRUE(Insert(f.data, bytes, false));
  EXPECT_EQ(f.style.ListStyles()->Count(), 1);
  EXPECT_EQ(lists_of(f), (std::vector<int32_t>(5, 0)));
  // Two numbered lists that both match one list of the document do not share it.
  Doc g(a.images);
  TRVListInfo* only = g.style.ListStyles()->Add();
  only->Assign(a.style.ListStyles()->Items(0));
  only->SetListId(a.style.ListStyles()->Items(0)->GetListId());
  Doc twins(a.images);
  for (int i = 0; i < 2; ++i) {
    TRVListInfo* l = twins.style.ListStyles()->Add();
    l->Assign(a.style.ListStyles()->Items(0));
    l->SetListId(only->GetListId());
    twins.AddMarker(i, 0, "x");
  }
  ASSERT_TRUE(Insert(g.data, Save(twins.data, false), false));
  EXPECT_EQ(g.style.ListStyles()->Count(), 2);
  EXPECT_EQ(lists_of(g), (std::vector<int32_t>{0, 1}));
}

// A sub-document held by an item, as a table holds its cells: the item's data line is the
// sub-document's own native stream, read while the document reads.
class TSubDoc : public TCustomRVData {
 public:
  explicit TSubDoc(TCustomRVData* host) : host_(host) {}
  TCustomRVData* GetParentData() override { return host_; }
  TCustomRVData* GetRootData() override { return host_->GetRootData(); }
  TCustomRVData* GetAbsoluteRootData() override { return host_->GetAbsoluteRootData(); }

 private:
  TCustomRVData* host_;
};
constexpr int32_t kBoxStyle = -1000;
class TBoxItem : public TRVFullLineItemInfo {
 public:
  explicit TBoxItem(TCustomRVData* rvdata) : TRVFullLineItemInfo(rvdata) { StyleNo = kBoxStyle; }
  std::unique_ptr<TSubDoc> Sub;
  bool ReadRVFLine(const AnsiString& s, TCustomRVData* rvdata, int32_t&, bool&, AnsiString&, int32_t, int32_t,
                   int32_t) override {
    Sub = std::make_unique<TSubDoc>(rvdata);
    TMemoryStream m;
    if (!RVFHexToStream(s, m)) return false;
    m.SetPosition(0);
    TColor c = clNone;
    return Sub->LoadRVFFromStream(m, c, nullptr, nullptr);
  }
};

TEST(RVFListStyles, SubDocumentsReadDuringAnInsertionGoByItsRenumbering) {
  static const bool registered =
      (RegisterRVItemClass(kBoxStyle, "TBoxItem", [](TCustomRVData* d) -> TCustomRVItemInfo* { return new TBoxItem(d); }),
       true);
  ASSERT_TRUE(registered);
  // The source: a numbered list and a text style "Georgia"; a marker, then a box whose
  // sub-document holds a marker and Georgia text, then Georgia text after the box.
  Doc a;
  TRVListLevel* level = a.style.ListStyles()->Add()->Levels()->Add();
  level->ListType = rvlstDecimal;
  level->FormatString = "%0:s.";
  TFontInfo* georgia = a.style.TextStyles()->Add();
  georgia->FontName = "Georgia";
  const int32_t g = a.style.TextStyles()->Count() - 1;
  a.AddMarker(0, 0, "one");
  TSubDoc cell(&a.data);
  auto* m = new TRVMarkerItemInfo(&cell);
  m->StyleNo = rvsListMarker;
  m->ListNo = 0;
  cell.AddItem("", m);
  cell.AddTextItem("in the box", g, -1);
  TMemoryStream cell_stream;
  ASSERT_TRUE(cell.SaveRVFToStream(cell_stream, false, nullptr, nullptr, clNone));
  const std::string outer = Save(a.data, false);
  const std::string bytes = outer + Format("%d 1 0 0 0 0", {kBoxStyle}) + "\r\n" + RVFStreamToHex(cell_stream) +
                            "\r\n" + Format("%d 1 0 0 0 0", {g}) + "\r\nafter\r\n";
  // The receiving document has a list and a text style of its own in those places.
  Doc e(a.images);
  e.style.ListStyles()->Add()->Levels()->Add()->FormatString = "-";
  e.style.TextStyles()->Add()->FontName = "Courier New";
  const int32_t text_styles = e.style.TextStyles()->Count();
  ASSERT_TRUE(Insert(e.data, bytes, false));
  EXPECT_EQ(e.style.TextStyles()->Count(), text_styles + 1);  // Georgia added, nothing replaced
  EXPECT_EQ(e.style.TextStyles()->Items(g)->FontName, "Courier New");
  const int32_t eg = e.style.TextStyles()->Count() - 1;
  EXPECT_EQ(e.style.TextStyles()->Items(eg)->FontName, "Georgia");
  ASSERT_EQ(e.data.ItemCount(), 4);
  auto* box = dynamic_cast<TBoxItem*>(e.data.GetItem(2));
  ASSERT_NE(box, nullptr);
  ASSERT_EQ(box->Sub->ItemCount(), 2);
  EXPECT_EQ(static_cast<TRVMarkerItemInfo*>(box->Sub->GetItem(0))->ListNo, 1);
  EXPECT_EQ(box->Sub->GetItem(1)->StyleNo, eg);
  EXPECT_EQ(e.data.GetItem(3)->StyleNo, eg);
  EXPECT_EQ(e.data.GetItemTextRaw(3), "after");
}

std::string RtfOf(TCustomRVData& d) {
  TMemoryStream m;
  EXPECT_TRUE(d.SaveRTFToStream(m, "", 0, nullptr, nullptr, nullptr, nullptr, nullptr, 0, clWindow, false));
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

std::string PictOf(TCustomImageList* list, int32_t index) {
  TMemoryStream m;
  RTFImageListImage(m, list, index, 0);
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

TEST(RTFListMarkers, ImageListLevelsWriteTheirImage) {
  struct Case {
    TRVListType type;
    int32_t image_index;
    std::vector<int32_t> images;  // what the three markers show (-1: nothing)
  };
  const Case cases[] = {
      {rvlstImageList, 1, {1, 1, 1}},
      {rvlstImageListCounter, 0, {0, 1, -1}},  // the third counter lies past the list
  };
  for (const Case& c : cases) {
    Doc d;
    TRVListLevel* l = d.style.ListStyles()->Add()->Levels()->Add();
    l->ListType = c.type;
    l->SetImageList(d.images.get());
    l->ImageIndex = c.image_index;
    for (int i = 0; i < 3; ++i) d.AddMarker(0, 0, "x");
    const std::string rtf = RtfOf(d.data);
    std::string expected;
    for (int32_t i : c.images)
      if (i >= 0) expected += PictOf(d.images.get(), i);
    std::string written;
    for (size_t at = 0; (at = rtf.find("{\\pict", at)) != std::string::npos;) {
      const size_t end = rtf.find('}', at) + 1;
      written += rtf.substr(at, end - at);
      at = end;
    }
    EXPECT_EQ(written, expected) << c.type;
    EXPECT_EQ(rtf.find("{\\listtext"), std::string::npos);
  }
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> r;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') r.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(r.begin(), r.end());
  return r;
}

std::string Html(Doc& d, const std::string& dir, uint32_t options) {
  TMemoryStream m;
  TColor file_color = clNone;
  int32_t no = 0;
  EXPECT_TRUE(d.data.SaveHTMLToStreamEx(m, dir + "/", "t", "img", "", "", "", options, clWhite, file_color, no, 0, 0, 0,
                                        0, nullptr));
  EXPECT_EQ(d.data.HTMLBullets, nullptr);  // set only while exporting
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

TEST(HTMLListImages, MarkersAndBulletsShareOnePictureFilePerImage) {
  test::TempDir dir("rvlists");
  Doc d;
  TRVListLevel* l = d.style.ListStyles()->Add()->Levels()->Add();
  l->ListType = rvlstImageList;
  l->SetImageList(d.images.get());
  l->ImageIndex = 1;
  d.AddMarker(0, 0, "a");
  d.AddMarker(0, 0, "b");
  auto* bullet = new TRVBulletItemInfo(&d.data);
  bullet->ImageList = d.images.get();
  bullet->ImageIndex = 1;
  d.data.AddItem("", bullet);
  const std::string html = Html(d, dir.Path(), 0);
  const std::string li = "<li style=\"{ list-style-image: url('img1.jpg') }\">";
  EXPECT_NE(html.find(li), std::string::npos) << html;
  EXPECT_NE(html.find(li, html.find(li) + 1), std::string::npos) << html;
  EXPECT_NE(html.find("src=\"img1.jpg\""), std::string::npos) << html;
  EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"img1.jpg"}));
  // An independent reader takes it for the JPEG of the 4x2 image.
  if (test::HaveProgram("file"))
    EXPECT_NE(test::RunCommand({"file", "-b", dir.File("img1.jpg")}).output.find("JPEG image data"), std::string::npos);
  // Markers written as text show the image inline.
  const std::string inline_html = Html(d, dir.Path(), rvsoMarkersAsText);
  EXPECT_NE(inline_html.find("<span style=\"width:10px\"><img src=\"img2.jpg\">"), std::string::npos) << inline_html;
}

TEST(HTMLListImages, PictureLevelsAsJpegOrInTheirOwnFormat) {
  struct Case {
    const char* name;
    std::shared_ptr<TGraphic> picture;
    const char* file;
  };
  auto bitmap = std::make_shared<TBitmap>(3, 3, 0xFF00FF00u);
  auto png = std::make_shared<TPNGImage>();
  const std::string png_bytes = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x05\0\0\0\x06", 24) + "rest";
  {
    TMemoryStream m;
    m.WriteBuffer(png_bytes.data(), static_cast<int64_t>(png_bytes.size()));
    m.SetPosition(0);
    png->LoadFromStream(m);
  }
  const Case cases[] = {{"bitmap", bitmap, "img1.jpg"}, {"png", png, "img1.png"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir dir("rvlists");
    Doc d;
    TRVListLevel* l = d.style.ListStyles()->Add()->Levels()->Add();
    l->ListType = rvlstPicture;
    l->SetPicture(c.picture);
    d.AddMarker(0, 0, "a");
    d.AddMarker(0, 0, "b");
    const std::string html = Html(d, dir.Path(), 0);
    EXPECT_NE(html.find(std::string("list-style-image: url('") + c.file + "')"), std::string::npos) << html;
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{c.file}));
    const std::string bytes = test::ReadFile(dir.File(c.file));
    if (c.picture == png)
      EXPECT_EQ(bytes, png_bytes);
    else
      EXPECT_EQ(bytes.substr(0, 3), "\xFF\xD8\xFF");
  }
}

}  // namespace
}  // namespace pelvar
