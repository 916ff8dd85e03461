// Printing a viewer's document on a 600-dpi page image through a small paginator that
// cuts pages at line boundaries: the draw-item range of every page, what each page shows
// (its text lines and nothing else), page numbers outside the page list refused, and the
// page colour in the print colour modes, inserted controls printed as pictures of
// themselves. Also live spelling started by the real control.
#include "richtext/view/CRVPrintData.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <chrono>
#include <thread>

#include "platform/qt/qt_canvas.h"
#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVItem.h"
#include "richtext/view/DocView.h"
#include "tests/richtext/view/view_fixture.h"

namespace pelvar {
namespace {

constexpr int32_t kDpi = 600;
// A 3 x 2 inch page with quarter-inch margins.
constexpr int32_t kPageW = 3 * kDpi, kPageH = 2 * kDpi, kMargin = kDpi / 4;

// The printing component of the tests: a page image at 600 dpi and pagination at line
// boundaries.
class TTestPaginator : public TRVPrintComponent {
 public:
  explicit TTestPaginator(TCustomDocView* view) : view_(view), canvas_(NewPage()) {}
  TCustomDocView* SourceView() override { return view_; }
  // The image the printing offers for inserted controls (none: they paint themselves).
  std::function<std::unique_ptr<TBitmap>(TObject*)> OnControlImage;
  std::unique_ptr<TBitmap> ControlImage(TObject* control) override {
    return OnControlImage ? OnControlImage(control) : nullptr;
  }
  TCanvas* PrinterCanvas() override { return canvas_.get(); }
  void GetDeviceResolution(int32_t& ppix, int32_t& ppiy) override { ppix = ppiy = kDpi; }

  static std::unique_ptr<TQtImageCanvas> NewPage() {
    auto c = std::make_unique<TQtImageCanvas>(kPageW, kPageH, clWhite);
    c->Font().SetPixelsPerInch(kDpi);
    return c;
  }

  // Formats for the page and fills the page list: a page starts with the first line that
  // does not fit on the page before.
  void Paginate(TCustomMainPtblRVData& d) {
    d.TmpLM = d.TmpTM = kMargin;
    d.PageWidth = kPageW - 2 * kMargin;
    d.PageHeight = kPageH - 2 * kMargin;
    d.FormatForPrinting();
    d.Pages.Clear();
    TRVPageInfo* page = d.Pages.Add();
    int32_t page_top = 0;
    for (int32_t i = 0; i < d.DrawLines.Count(); ++i) {
      TRVDrawLineInfo* l = d.DrawLines[i];
      if (!l->FromNewLine || i == 0) continue;
      int32_t bottom = l->Top + l->Height;
      for (int32_t j = i + 1; j < d.DrawLines.Count() && !d.DrawLines[j]->FromNewLine; ++j)
        bottom = std::max(bottom, d.DrawLines[j]->Top + d.DrawLines[j]->Height);
      if (bottom - page_top <= d.PageHeight) continue;
      // A picture that may be split: its first part fills the page.
      if (l->InitSplit() && l->SplitAt(page_top + d.PageHeight - l->Top)) {
        auto* multi = static_cast<TRVMultiDrawItemInfo*>(l);
        page = d.Pages.Add();
        page->StartDrawItemNo = i;
        page->StartPart = 2;
        page->StartY = page->StartY2 = page_top = l->Top + multi->PartsList[0]->Height;
        continue;
      }
      page = d.Pages.Add();
      page->StartDrawItemNo = i;
      page->StartY = page->StartY2 = page_top = l->Top;
    }
  }

 private:
  TCustomDocView* view_;
  std::unique_ptr<TQtImageCanvas> canvas_;
};

class PrintTest : public viewtest::TQtSuite {
 protected:
  PrintTest() {
    view.SetStyle(&style);
    view.Color = clWindow;
  }
  void AddLines(int32_t n) {
    for (int32_t i = 1; i <= n; ++i) view.RVData->AddTextItem("Line " + std::to_string(i), 0, 0);
  }
  // Bands of rows holding dark pixels inside the page's printable area.
  static int32_t InkedBands(const TQtImageCanvas& c) {
    int32_t bands = 0;
    bool inked_before = false;
    for (int32_t y = kMargin; y < kPageH - kMargin; ++y) {
      bool inked = false;
      for (int32_t x = kMargin; x < kPageW - kMargin && !inked; ++x)
        inked = RV_GetLuminance(c.PixelAt(x, y)) < 128;
      if (inked && !inked_before) ++bands;
      inked_before = inked;
    }
    return bands;
  }
  TRVStyle style{nullptr};
  TCustomDocView view;
};

TEST_F(PrintTest, ThreePagesAt600DpiDrawTheDrawItemsOfTheirRanges) {
  AddLines(22);
  TTestPaginator pc(&view);
  TCustomMainPtblRVData doc(&pc);
  pc.Paginate(doc);
  EXPECT_EQ(doc.ItemCount(), 22);  // the viewer's own items
  // 10 points at 600 dpi.
  EXPECT_GT(doc.DrawLines[1]->Top - doc.DrawLines[0]->Top, 83);
  ASSERT_EQ(doc.Pages.Count(), 3);
  EXPECT_EQ(doc.DrawLines.Count(), 22);
  int32_t expected_first = 0;
  for (int32_t p = 1; p <= 3; ++p) {
    int32_t first, last, part;
    doc.GetDrawItemsRange(p, first, last, part);
    EXPECT_EQ(first, expected_first) << p;
    EXPECT_EQ(last, p < 3 ? doc.Pages.Items(p)->StartDrawItemNo - 1 : doc.DrawLines.Count() - 1) << p;
    EXPECT_EQ(part, -1);
    expected_first = last + 1;
    auto page = TTestPaginator::NewPage();
    doc.DrawPage(p, *page, false, false);
    EXPECT_EQ(InkedBands(*page), last - first + 1) << "page " << p;
    // The first line of the page stands at the top of the printable area.
    int32_t y = kMargin;
    while (y < kPageH && RV_GetLuminance(page->PixelAt(kMargin + 5, y)) >= 128 &&
           [&] {
             for (int32_t x = kMargin; x < kPageW - kMargin; ++x)
               if (RV_GetLuminance(page->PixelAt(x, y)) < 128) return false;
             return true;
           }())
      ++y;
    EXPECT_LT(y - kMargin, doc.DrawLines[first]->Height) << "page " << p;
  }
  // A page continued by a split item (its second part) keeps the split item on the page
  // before.
  doc.Pages.Items(2)->StartPart = 2;
  int32_t first, last, part;
  doc.GetDrawItemsRange(2, first, last, part);
  EXPECT_EQ(last, doc.Pages.Items(2)->StartDrawItemNo);
  doc.GetDrawItemsRange(3, first, last, part);
  EXPECT_EQ(part, 1);
}

TEST_F(PrintTest, ATallPictureContinuesOnTheNextPageFromWhereItWasCut) {
  AddLines(2);
  // 200 screen pixels: red above 100, green below.
  auto bmp = std::make_unique<TBitmap>(50, 200);
  for (int32_t y = 0; y < 200; ++y)
    for (int32_t x = 0; x < 50; ++x) bmp->Image.Set(x, y, y < 100 ? 0xFFFF0000u : 0xFF00FF00u);
  auto* pic = new TRVGraphicItemInfo(view.RVData.get(), std::move(bmp), 0);
  pic->MinHeightOnPage = 40;
  view.RVData->AddItem("", pic);
  view.RVData->AddTextItem("End", 0, 0);
  TTestPaginator pc(&view);
  TCustomMainPtblRVData doc(&pc);
  pc.Paginate(doc);
  ASSERT_EQ(doc.Pages.Count(), 2);
  const int32_t pic_d = doc.Pages.Items(1)->StartDrawItemNo;
  ASSERT_EQ(doc.DrawLines[pic_d]->ItemNo, 2);
  int32_t first, last, part;
  doc.GetDrawItemsRange(1, first, last, part);
  EXPECT_EQ(last, pic_d);
  doc.GetDrawItemsRange(2, first, last, part);
  EXPECT_EQ(first, pic_d);
  EXPECT_EQ(part, 1);
  auto count = [](const TQtImageCanvas& c, TColor color, int32_t y0, int32_t y1) {
    int32_t n = 0;
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = kMargin; x < kPageW - kMargin; x += 4) n += c.PixelAt(x, y) == color;
    return n;
  };
  auto page1 = TTestPaginator::NewPage(), page2 = TTestPaginator::NewPage();
  doc.DrawPage(1, *page1, false, false);
  doc.DrawPage(2, *page2, false, false);
  const TColor red = 0x0000FF, green = 0x00FF00;
  EXPECT_GT(count(*page1, red, 0, kPageH), 0);
  EXPECT_EQ(count(*page1, red, kPageH - kMargin, kPageH), 0);  // cut at the area's bottom
  EXPECT_EQ(count(*page2, red, 0, kPageH), 0);
  // Page 2 starts with the rest of the picture, then the last line.
  EXPECT_GT(count(*page2, green, kMargin, kMargin + 10), 0);
  EXPECT_EQ(InkedBands(*page2), 1);
}

// The box (left, top, width, height) of the pixels of one colour on a canvas.
TRect ColourBox(const TQtImageCanvas& c, int32_t w, int32_t h, TColor colour) {
  TRect box{w, h, -1, -1};
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      if (c.PixelAt(x, y) == colour)
        box = TRect{std::min(box.Left, x), std::min(box.Top, y), std::max(box.Right, x + 1), std::max(box.Bottom, y + 1)};
  return TRect{box.Left, box.Top, box.Right - box.Left, box.Bottom - box.Top};
}

// A picture with a display size prints at that size, as the screen shows it and as the
// layout reserves it: a 20 x 10 bitmap shown at 60 x 30 covers 375 x 188 pixels at 600 dpi.
TEST_F(PrintTest, APictureWithADisplaySizePrintsAtThatSize) {
  const TColor red = 0x0000FF;
  view.RVData->AddTextItem("Before", 0, 0);
  auto* pic = new TRVGraphicItemInfo(view.RVData.get(), std::make_unique<TBitmap>(20, 10, 0xFFFF0000u), 0);
  pic->ImageWidth = 60;
  pic->ImageHeight = 30;
  view.RVData->AddItem("", pic);

  view.resize(300, 200);
  view.HandleNeeded();
  view.Format();
  TQtImageCanvas screen(300, 200, clWhite);
  view.PaintOn(screen, TRect{0, 0, 300, 200});
  const TRect shown = ColourBox(screen, 300, 200, red);
  EXPECT_EQ(shown.Right, 60);
  EXPECT_EQ(shown.Bottom, 30);

  TTestPaginator pc(&view);
  TCustomMainPtblRVData doc(&pc);
  pc.Paginate(doc);
  auto page = TTestPaginator::NewPage();
  doc.DrawPage(1, *page, false, false);
  const TRVDrawLineInfo* l = doc.DrawLines[doc.DrawLines.Count() - 1];
  ASSERT_EQ(l->ItemNo, 1);
  const TRect printed = ColourBox(*page, kPageW, kPageH, red);
  EXPECT_EQ(printed.Right, MulDiv(60, kDpi, 96));
  EXPECT_NEAR(printed.Bottom, MulDiv(30, kDpi, 96), 1);
  // Inside the place the layout reserved (the spacing of one screen pixel around it).
  const int32_t sp = MulDiv(1, kDpi, 96);
  EXPECT_EQ(printed.Left, kMargin + l->Left + sp);
  EXPECT_NEAR(printed.Left + printed.Right + sp, kMargin + l->Left + l->Width, 1);
}

// An inserted control: a Qt widget filled with red.
class TRedPanel : public QWidget, public TObject, public TRVControlSize {
 public:
  TRedPanel() {
    resize(40, 20);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, QColor(255, 0, 0));
    setPalette(p);
  }
  int32_t ControlWidth() const override { return width(); }
  int32_t ControlHeight() const override { return height(); }
  void SetControlWidth(int32_t value) override { resize(value, height()); }
};

// A control prints as the picture it paints of itself, or as the image the print
// component offers for it; a hidden control prints nothing.
TEST_F(PrintTest, InsertedControlsPrintAsPicturesOfThemselves) {
  struct Case {
    const char* name;
    bool offered, visible;
    TColor seen;
  };
  const TColor red = 0x0000FF, green = 0x00FF00;
  for (const Case& c : {Case{"painted", false, true, red}, Case{"offered", true, true, green},
                        Case{"hidden", false, false, clNone}}) {
    SCOPED_TRACE(c.name);
    TCustomDocView v;
    v.SetStyle(&style);
    v.Color = clWindow;
    v.RVData->AddTextItem("Before", 0, 0);
    auto* item = new TRVControlItemInfo(v.RVData.get());
    item->StyleNo = rvsComponent;
    item->ParaNo = 0;
    item->Control = new TRedPanel;
    item->Visible = c.visible;
    v.RVData->AddItem("panel", item);
    TTestPaginator pc(&v);
    if (c.offered)
      pc.OnControlImage = [](TObject*) { return std::make_unique<TBitmap>(40, 20, 0xFF00FF00u); };
    TCustomMainPtblRVData doc(&pc);
    pc.Paginate(doc);
    auto page = TTestPaginator::NewPage();
    doc.DrawPage(1, *page, false, false);
    ASSERT_EQ(doc.DrawLines.Count(), 2);
    ASSERT_EQ(doc.DrawLines[1]->ItemNo, 1);
    const TRVDrawLineInfo* l = doc.DrawLines[1];
    // The middle of the control's place on the page (spacing 1 screen pixel).
    const int32_t x = kMargin + l->Left + l->Width / 2, y = kMargin + l->Top + l->Height / 2;
    const TColor seen = page->PixelAt(x, y);
    if (c.seen == clNone) {
      EXPECT_NE(seen, red);
      EXPECT_NE(seen, green);
    } else {
      EXPECT_EQ(seen, c.seen);
      // The 40 x 20 screen pixels cover 250 x 125 pixels at 600 dpi.
      EXPECT_EQ(page->PixelAt(x + 110, y), c.seen);
      EXPECT_NE(page->PixelAt(x + 140, y), c.seen);
    }
  }
}

TEST_F(PrintTest, APageNumberOutsideThePageListIsAnError) {
  AddLines(3);
  TTestPaginator pc(&view);
  TCustomMainPtblRVData doc(&pc);
  pc.Paginate(doc);
  ASSERT_EQ(doc.Pages.Count(), 1);
  auto page = TTestPaginator::NewPage();
  for (int32_t bad : {0, 2, -1}) {
    try {
      doc.DrawPage(bad, *page, false, false);
      ADD_FAILURE() << bad;
    } catch (const EDocViewError& e) {
      EXPECT_STREQ(e.what(), "Invalid page number is specified for printing");
    }
    EXPECT_THROW(doc.CheckPageNo(bad), EDocViewError);
    int32_t f, l, p;
    EXPECT_THROW(doc.GetDrawItemsRange(bad, f, l, p), EDocViewError);
  }
  EXPECT_EQ(InkedBands(*page), 0);
  EXPECT_EQ(doc.CurDrawItem, nullptr);
  // Without a style sheet nothing is drawn either.
  view.SetStyle(nullptr);
  EXPECT_THROW(doc.DrawPage(1, *page, false, false), EDocViewError);
  view.SetStyle(&style);
}

TEST_F(PrintTest, ColorModesOfThePageColour) {
  AddLines(1);
  TTestPaginator pc(&view);
  TCustomMainPtblRVData doc(&pc);
  pc.Paginate(doc);
  const TColor blue = 0xFF0000;
  struct Case {
    TColor doc;
    uint8_t mode;
    TColor expected;
  } cases[] = {{blue, 2, RV_GetGrayColor(blue)}, {blue, 0, blue},     {clWindow, 2, clWhite},
               {clBtnFace, 1, 0xC0C0C0},         {blue, 3, clWhite}};
  for (const Case& c : cases) {
    view.Color = c.doc;
    doc.ColorMode = c.mode;
    auto page = TTestPaginator::NewPage();
    page->Brush().SetColor(clBlack);
    page->Brush().SetStyle(bsSolid);
    page->FillRect(TRect{0, 0, kPageW, kPageH});
    doc.DrawPage(1, *page, false, false);
    // Bottom right of the printable area: no text there.
    EXPECT_EQ(page->PixelAt(kPageW - kMargin - 2, kPageH - kMargin - 2), c.expected) << c.doc << " " << int(c.mode);
    EXPECT_EQ(page->PixelAt(kMargin / 2, kMargin / 2), clBlack);  // outside the area
  }
  EXPECT_EQ(RV_GetGrayColor(blue), static_cast<TColor>(RGB(28, 28, 28)));
  // A document without a page colour leaves the paper as it is.
  doc.NoDocColor = true;
  auto page = TTestPaginator::NewPage();
  doc.DrawPage(1, *page, false, false);
  EXPECT_EQ(page->PixelAt(kPageW - kMargin - 2, kPageH - kMargin - 2), clWhite);
}

TEST_F(PrintTest, ThePrintedViewerIsLeftAsItWas) {
  AddLines(4);
  view.DocProperties.Add("Author=me");
  view.resize(300, 200);
  view.HandleNeeded();
  view.Format();
  // The printed document shares the viewer's items: laying it out leaves the viewer's
  // own layout look-ups as they were.
  auto first_draw_items = [&]() {
    std::vector<int32_t> r;
    for (int32_t i = 0; i < view.RVData->ItemCount(); ++i) {
      int32_t d = -1;
      view.RVData->GetFirstDrawItemOfItem(i, d);
      r.push_back(d);
    }
    return r;
  };
  const std::vector<int32_t> before = first_draw_items();
  EXPECT_EQ(before, std::vector<int32_t>({0, 1, 2, 3}));
  const uint16_t flags = view.Flags;
  {
    TTestPaginator pc(&view);
    TCustomMainPtblRVData doc(&pc);
    pc.Paginate(doc);
    EXPECT_TRUE(doc.GetFlags() & rvflPrintingDrawItems);
  }
  EXPECT_EQ(view.Flags, flags);
  EXPECT_EQ(view.RVData->ItemCount(), 4);
  EXPECT_EQ(view.DocProperties.Count(), 1);
  EXPECT_EQ(first_draw_items(), before);
}

// ---- Live spelling through the control ----------------------------------------------------------

TEST_F(PrintTest, TheControlStartsLiveSpellingAndStopsItWhenCleared) {
  view.RVData->AddTextItem("Hello wrold", 0, 0);
  view.RVData->AddTextItem("http://wrold.example", 4, 0);
  view.StartLiveSpelling();
  EXPECT_EQ(view.WordEnumThread, nullptr);  // no handler
  view.OnSpellingCheck = [](TCustomDocView*, const AnsiString& word, int32_t, bool& misspelled) {
    misspelled = word == "wrold";
  };
  view.StartLiveSpelling();
  ASSERT_NE(view.WordEnumThread, nullptr);
  bool done = false;
  for (int i = 0; i < 20000 && !done; ++i) {
    Application()->ProcessMessages();
    done = view.WordEnumThread->Suspended();
    if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  ASSERT_TRUE(done);
  int32_t s, l;
  EXPECT_TRUE(view.RVData->GetItem(0)->GetMisspelling(8, s, l));
  EXPECT_EQ(s, 7);
  EXPECT_EQ(view.RVData->GetItem(1)->WordPaintList(), nullptr);
  // Started again: the thread is reused and the marks are made anew.
  TRVWordEnumThread* thread = view.WordEnumThread.get();
  view.StartLiveSpelling();
  EXPECT_EQ(view.WordEnumThread.get(), thread);
  view.StopLiveSpelling();
  EXPECT_EQ(view.WordEnumThread, nullptr);
  EXPECT_EQ(view.RVData->GetItem(0)->WordPaintList(), nullptr);
  view.StartLiveSpelling();
  view.Clear();
  EXPECT_EQ(view.WordEnumThread, nullptr);
}

}  // namespace
}  // namespace pelvar
