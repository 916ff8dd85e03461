// Shared by the viewer's tests: the hand-computable test font (every glyph 7 px, a space
// 4 px, zero-width characters and combining marks 0 px, ascent 10, descent 3 at the
// default 10-point size) and a formatted document with no control around it, whose area
// width, margins and invalidated rectangles the test sets and reads.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/canvas.h"
#include "richtext/model/RVUni.h"
#include "richtext/view/CRVFData.h"
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

}  // namespace viewtest
}  // namespace pelvar
