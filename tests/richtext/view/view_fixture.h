// Shared by the viewer's tests: the hand-computable test font (every glyph 7 px, a space
// 4 px, zero-width characters and combining marks 0 px, ascent 10, descent 3 at the
// default 10-point size), a formatted document with no control around it, whose area
// width, margins and invalidated rectangles the test sets and reads, and the base of the
// offscreen GUI suites: a QApplication per suite and a formatted viewer control.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <memory>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "richtext/model/RVStyle.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/CRVFData.h"
#include "richtext/view/DocView.h"
#include "richtext/view/RVBack.h"

namespace pelvar {
namespace viewtest {

class TTestFont : public TSyntheticTextMetrics {
 public:
  std::vector<int32_t> GetAdvances(const TFont& font, std::u16string_view text) override {
    std::vector<int32_t> r;
    (void)font;
    for (char16_t ch : text) {
      if (ch == u' ')
        r.push_back(4);
      else if (RVU_IsZeroWidth(ch) || (ch >= 0x0300 && ch <= 0x036F))
        r.push_back(0);
      else
        r.push_back(7);
    }
    return r;
  }
};

class TTestDoc : public TCustomRVFormattedData {
 public:
  explicit TTestDoc(TRVStyle* style, int32_t area_width = 60)
      : Canvas(1024, 768, std::make_shared<TTestFont>()), Area(area_width) {
    SetRVStyle(style);
    SetFlags(0x0D03);
  }
  TRecordingCanvas Canvas;
  int32_t Area;
  int32_t AreaH = 400;
  int32_t LM = 0, RM = 0, TM = 0, BM = 0, MaxTW = 0;
  int32_t VOffs = 0;
  std::vector<TRect> Invalidated;
  TRVBackground* Back = nullptr;
  TRVBackground* GetBackground() override { return Back; }

  TCanvas* GetCanvas() override { return &Canvas; }
  int32_t GetAreaWidth() override { return Area; }
  int32_t GetAreaHeight() override { return AreaH; }
  int32_t GetLeftMargin() override { return LM; }
  int32_t GetRightMargin() override { return RM; }
  int32_t GetTopMargin() override { return TM; }
  int32_t GetBottomMargin() override { return BM; }
  int32_t GetMaxTextWidth() override { return MaxTW; }
  int32_t GetVOffs() override { return VOffs; }
  void InvalidateRectangle(const TRect& r) override { Invalidated.push_back(r); }

  void Format() { FormatDocument(false, true, false, 0, &Canvas, false, false, false); }
  void AddText(const std::string& s, int32_t style, int32_t para) { AddTextItem(s, style, para); }
  // A UTF-16 text item from UTF-16 text.
  void AddTextW(const std::u16string& s, int32_t style, int32_t para) {
    auto* item = new TRVTextItemInfo(this);
    item->StyleNo = style;
    item->ParaNo = para;
    item->ItemOptions.Include(rvioUnicodeText);
    AddItem(RVU_WideStringToRawUnicode(WideString(s)), item);
  }
};

// One row of a draw-item table.
struct DI {
  int32_t ItemNo, Offs, Length, Left, Top, Width;
};

inline std::vector<DI> DrawItems(TCustomRVFormattedData& d) {
  std::vector<DI> r;
  for (int32_t i = 0; i < d.DrawLines.Count(); ++i) {
    TRVDrawLineInfo* x = d.DrawLines[i];
    r.push_back({x->ItemNo, x->Offs, x->Length, x->Left, x->Top, x->Width});
  }
  return r;
}

inline bool operator==(const DI& a, const DI& b) {
  return a.ItemNo == b.ItemNo && a.Offs == b.Offs && a.Length == b.Length && a.Left == b.Left && a.Top == b.Top &&
         a.Width == b.Width;
}
inline std::ostream& operator<<(std::ostream& os, const DI& d) {
  return os << "{" << d.ItemNo << "," << d.Offs << "," << d.Length << "," << d.Left << "," << d.Top << "," << d.Width
            << "}";
}

// The base of a GUI suite: the application lives from the suite's start to its end. It is
// gone before the exit handlers run: destroyed by them, the application would delete the
// pointing device that mouse events made after Qt's own device list is gone.
class TQtSuite : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!QCoreApplication::instance()) {
      static int argc = 1;
      static char name[] = "richtext_view_guitest";
      static char* argv[] = {name, nullptr};
      app_ = new QApplication(argc, argv);
    }
  }
  static void TearDownTestSuite() {
    delete app_;
    app_ = nullptr;
  }
  static inline QApplication* app_ = nullptr;
};

// A GUI suite around viewer controls: Make gives a viewer of the given size with the test
// font, the suite's style sheet and one paragraph of text style 0 per text, formatted.
class TViewerSuite : public TQtSuite {
 protected:
  std::unique_ptr<TCustomDocView> Make(const std::vector<std::string>& paragraphs, int w = 300, int h = 200) {
    auto v = std::make_unique<TCustomDocView>();
    v->SetTextMetrics(std::make_shared<TTestFont>());
    v->SetStyle(&style);
    v->resize(w, h);
    v->HandleNeeded();
    for (const std::string& p : paragraphs) v->RVData->AddTextItem(p, 0, 0);
    v->Format();
    return v;
  }
  // A mouse event of the given type at the client point (x, y) of w.
  static void SendMouse(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButton button = Qt::NoButton,
                        Qt::MouseButtons buttons = Qt::NoButton, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    const QPointF p(x, y);
    QMouseEvent ev(type, p, w->mapToGlobal(p), button, buttons, modifiers);
    QCoreApplication::sendEvent(w, &ev);
  }
  static void Move(QWidget* w, int x, int y) { SendMouse(w, QEvent::MouseMove, x, y); }
  static void Click(QWidget* w, int x, int y, Qt::MouseButton button = Qt::LeftButton) {
    SendMouse(w, QEvent::MouseButtonPress, x, y, button, button);
    SendMouse(w, QEvent::MouseButtonRelease, x, y, button, Qt::NoButton);
  }
  TRVStyle style{nullptr};  // text styles 4 and 5 are hyperlinks
};

}  // namespace viewtest
}  // namespace pelvar
