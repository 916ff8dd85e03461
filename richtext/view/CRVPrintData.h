// Printable documents: a viewer's document laid out a second time for a printer page and
// drawn page by page. The printing component (not part of this library: it owns the
// printer canvas, paginates and calls DrawPage per page) supplies what TRVPrintComponent
// asks; the main printable document keeps the page list and answers which draw items lie
// on a page; a rectangle document is laid out inside a rectangle of a parent printable
// document (table cells).
//
// Coordinates are device pixels of the printer; style values are screen pixels scaled by
// the stored screen-and-device record.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "richtext/model/RVGraphics.h"
#include "richtext/view/RVMultiPrint.h"
#include "richtext/view/RVRVData.h"

namespace pelvar {

class TCustomDocView;
class TRVBackground;

// What a printing component supplies to the printable documents.
class TRVPrintComponent {
 public:
  virtual ~TRVPrintComponent() = default;
  // The viewer whose document is printed (its style sheet, options and items).
  virtual TCustomDocView* SourceView() = 0;
  // The printer canvas (its font measures at the printer's resolution).
  virtual TCanvas* PrinterCanvas() = 0;
  // Pixels per inch of the printer.
  virtual void GetDeviceResolution(int32_t& ppix, int32_t& ppiy) = 0;
  // The page background (nullptr: the document colour only).
  virtual TRVBackground* GetBackground() { return nullptr; }
  // Device pixels taken from the top of the first page (a title block).
  virtual int32_t GetFirstPageOffset() { return 0; }
  // Told of every hyperlink and checkpoint printed (page coordinates).
  virtual void HyperlinkPrinted(TCustomRVData* /*rvdata*/, int32_t /*item_no*/, const TRect& /*rect*/) {}
  virtual void CheckpointPrinted(TCustomRVData* /*rvdata*/, int32_t /*item_no*/, int32_t /*x*/, int32_t /*y*/) {}
  // The picture of an inserted control to print (nullptr: the control paints itself).
  virtual std::unique_ptr<TBitmap> ControlImage(TObject* /*control*/) { return nullptr; }
};

class TRVPageInfo {
 public:
  int32_t StartY = 0;
  int32_t StartDrawItemNo = 0;
  // 1-based part of StartDrawItemNo that starts the page; 0 or 1 when it is not split.
  int32_t StartPart = 0;
  int32_t StartY2 = 0;
  void Assign(const TRVPageInfo& source) { *this = source; }
};

class TRVPageCollection {
 public:
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  // 0-based.
  TRVPageInfo* Items(int32_t index) const { return items_.at(static_cast<size_t>(index)).get(); }
  TRVPageInfo* Add() {
    items_.push_back(std::make_unique<TRVPageInfo>());
    return items_.back().get();
  }
  void Clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<TRVPageInfo>> items_;
};

class TCustomPrintableRVData : public TDocViewRVData {
 public:
  TCustomPrintableRVData(TRVPrintComponent* print_component, TCustomDocView* source);
  // What a non-text item prints as a picture: its own picture, or for an inserted control
  // the print component's image of it, else the control painted (kept in holder); nullptr
  // for other items and hidden controls.
  TGraphic* ItemImageForPrinting(TCustomRVItemInfo* item, std::unique_ptr<TBitmap>& holder);

  TRVPrintComponent* PrintComponent;
  // Only during DrawPage: the page background picture and the draw item being printed.
  TRVBitmap* PageBackBitmap = nullptr;
  TRVDrawLineInfo* CurDrawItem = nullptr;
  int32_t CurItemTop = 0;
  int32_t CurPageNo = 0;
  bool NoPageColor = false;

  bool ShareItems() override { return true; }
  uint16_t GetFlags() override { return flags_; }
  void SetFlags(uint16_t value) override { flags_ = value; }
  TCanvas* GetCanvas() override;
  int32_t GetHOffs() override { return 0; }
  int32_t GetVOffs() override { return 0; }
  int32_t GetVSmallStep() override { return 1; }
  int32_t GetVAlignOffset() override { return 0; }
  void GetOrigin(int32_t& x, int32_t& y) override { x = y = 0; }
  int32_t GetDocumentAreaWidth() override { return DocumentWidth + GetLeftMargin() + GetRightMargin(); }
  bool SetDocumentAreaSize(int32_t, int32_t, bool) override { return false; }
  void AdjustVScrollUnits() override {}
  void ScrollTo(int32_t, bool) override {}
  void HScrollTo(int32_t) override {}
  bool IsFocused() override { return false; }
  void InvalidateRectangle(const TRect&) override {}
  void UpdateView() override {}
  bool AllowAnimation() override { return false; }
  // The printed viewer keeps its document properties.
  TStringList* GetDocProperties() override { return nullptr; }
  TRVFontInfoCache* CreateFontInfoCache(TCanvas* canvas) override;
  TRVFontInfoCache* GetFontInfoCache(TCanvas* canvas, TCustomRVFormattedData* requester) override;
  void Clear() override;

  // ---- Virtual operations of printing ----
  TRVBackground* GetBackground() override { return nullptr; }
  virtual int32_t GetTopCoord(int32_t /*page_no*/) { return 0; }
  virtual int32_t GetTopCoord2(int32_t /*page_no*/) { return 0; }
  virtual int32_t GetPrintableAreaTop() { return 0; }
  virtual void DoPagePrepaint(TCanvas& /*canvas*/, int32_t /*page_no*/, bool /*preview*/, bool /*correction*/) {}
  virtual void DoPagePostpaint(TCanvas& /*canvas*/, int32_t /*page_no*/, bool /*preview*/) {}
  virtual void GetDrawItemsRange(int32_t page_no, int32_t& first, int32_t& last, int32_t& start_part);
  virtual void CheckPageNo(int32_t /*page_no*/) {}
  virtual int32_t GetColorMode() { return 1; }
  virtual void DoHyperlinkPrinted(int32_t /*item_no*/, const TRect& /*rect*/) {}
  virtual void DoCheckpointPrinted(int32_t /*item_no*/, int32_t /*x*/, int32_t /*y*/) {}
  virtual int32_t GetPrintableAreaLeft(int32_t /*page_no*/) { return 0; }
  // Draws page page_no (1-based) onto canvas.
  virtual void DrawPage(int32_t page_no, TCanvas& canvas, bool preview, bool correction);
  // Fills bitmap with what lies under the current item at (left, top) of the page.
  virtual void DrawBackToBitmap(int32_t left, int32_t top, TRVBitmap& bitmap, const TRVScreenAndDevice& sad,
                                bool scale);

 protected:
  void DrawParaBackAndBorder(TCanvas& canvas, int32_t first_d, int32_t last_d, int32_t page_left, int32_t page_top,
                             const TRVScreenAndDevice& sad, int32_t color_mode, int32_t start_part);
  uint16_t flags_;
};

class TCustomMainPtblRVData : public TCustomPrintableRVData {
 public:
  explicit TCustomMainPtblRVData(TRVPrintComponent* print_component);

  // Device pixels.
  int32_t HeaderHeight = 0, FooterHeight = 0;
  int32_t PrintingPageNo = 0;
  TRVScreenAndDevice PrnSaD;
  TRVPageCollection Pages;
  // In the printing component's units (screen pixels).
  int32_t HeaderY = 0, FooterY = 0;
  bool NoDocColor = false;
  // The page's printable area: left and top edges, width and height (device pixels).
  int32_t TmpLM = 0, TmpTM = 0;
  int32_t PageWidth = 0, PageHeight = 0;
  // 0 colour, 1 system colours as print colours, 2 grey, other values white.
  uint8_t ColorMode = 1;
  int32_t ContinuedListNo = -1, ContinuedListLevel = -1;
  // Page margins (screen pixels).
  int32_t LM = 0, RM = 0, TM = 0, BM = 0;

  void PrepareResolutions();
  // Formats for the page (printing draw items on).
  void FormatForPrinting();

  TRVBackground* GetBackground() override;
  int32_t GetTopCoord(int32_t page_no) override;
  int32_t GetTopCoord2(int32_t page_no) override;
  int32_t GetPrintableAreaTop() override { return TmpTM; }
  int32_t GetPrintableAreaLeft(int32_t /*page_no*/) override { return TmpLM; }
  void GetDrawItemsRange(int32_t page_no, int32_t& first, int32_t& last, int32_t& start_part) override;
  void CheckPageNo(int32_t page_no) override;
  int32_t GetColorMode() override { return ColorMode; }
  TColor GetColor() override;
  void DrawPage(int32_t page_no, TCanvas& canvas, bool preview, bool correction) override;
  void GetResolutions(TCanvas& canvas, TRVScreenAndDevice& sad) override;
  void DoHyperlinkPrinted(int32_t item_no, const TRect& rect) override;
  void DoCheckpointPrinted(int32_t item_no, int32_t x, int32_t y) override;
  // Kind 2: the range of the page being prepared (PrintingPageNo).
  void GetSelectionBounds(int32_t kind, int32_t& start_item_no, int32_t& start_offs, int32_t& end_item_no,
                          int32_t& end_offs) override;
  int32_t GetLeftMargin() override { return LM; }
  int32_t GetRightMargin() override { return RM; }
  int32_t GetTopMargin() override { return 0; }
  int32_t GetBottomMargin() override { return 0; }
  int32_t GetAreaWidth() override { return PageWidth; }
  int32_t GetAreaHeight() override { return PageHeight; }
  int32_t GetMinTextWidth() override { return 0; }
  int32_t GetMaxTextWidth() override { return 0; }
  std::vector<TRVMarkerItemInfo*>* GetMarkers(bool allow_create) override;
  void DestroyMarkers() override { markers_.reset(); }
  void Clear() override;

 private:
  std::unique_ptr<std::vector<TRVMarkerItemInfo*>> markers_;
};

class TRectPtblRVData : public TCustomPrintableRVData {
 public:
  TRectPtblRVData(TRVPrintComponent* print_component, TCustomRVData* source_rvdata,
                  TCustomPrintableRVData* parent_print_data);

  TCustomRVData* SourceRVData;
  TCustomPrintableRVData* ParentPrintData;
  int32_t Left = 0, Top = 0, DX = 0, DY = 0, Width = 0, Height = 0;
  bool Transparent = false;
  TColor Color = clNone;

  TCustomRVData* GetSourceRVData() override { return SourceRVData; }
  TCustomRVData* GetParentData() override { return ParentPrintData; }
  TCustomRVData* GetRootData() override { return ParentPrintData->GetRootData(); }
  TCustomRVData* GetAbsoluteParentData() override { return ParentPrintData; }
  TCustomRVData* GetAbsoluteRootData() override { return ParentPrintData->GetAbsoluteRootData(); }
  TRVStyle* GetRVStyle() override { return SourceRVData->GetRVStyle(); }
  int32_t GetLeftMargin() override { return 0; }
  int32_t GetRightMargin() override { return 0; }
  int32_t GetTopMargin() override { return 0; }
  int32_t GetBottomMargin() override { return 0; }
  int32_t GetAreaWidth() override { return Width; }
  int32_t GetAreaHeight() override { return Height; }
  int32_t GetPrintableAreaLeft(int32_t /*page_no*/) override { return Left + DX; }
  int32_t GetPrintableAreaTop() override { return Top + DY; }
  int32_t GetTopCoord(int32_t /*page_no*/) override { return -(Top + DY); }
  void GetResolutions(TCanvas& canvas, TRVScreenAndDevice& sad) override;
  int32_t GetColorMode() override { return ParentPrintData->GetColorMode(); }
  TColor GetColor() override { return Color; }
  TCanvas* GetCanvas() override { return ParentPrintData->GetCanvas(); }
  void DoHyperlinkPrinted(int32_t item_no, const TRect& rect) override { ParentPrintData->DoHyperlinkPrinted(item_no, rect); }
  void DoCheckpointPrinted(int32_t item_no, int32_t x, int32_t y) override {
    ParentPrintData->DoCheckpointPrinted(item_no, x, y);
  }
  void DrawBackToBitmap(int32_t left, int32_t top, TRVBitmap& bitmap, const TRVScreenAndDevice& sad,
                        bool scale) override;
};

}  // namespace pelvar
