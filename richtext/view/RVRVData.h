// The document a viewer control owns: it answers the formatting engine's questions
// (margins, widths, scroll offsets, options, events) from its control, turns layout
// requests into scroll-bar updates and keeps the vertical range within 32000 steps, and
// owns the per-document helpers of a root document (the text-metric cache).
#pragma once

#include <memory>

#include "richtext/view/CtrlImg.h"
#include "richtext/view/RVCtrlData.h"
#include "richtext/view/RVPopup.h"

namespace pelvar {

class TCustomDocView;

class TDocViewRVData : public TRVControlData {
 public:
  explicit TDocViewRVData(TCustomDocView* control);
  ~TDocViewRVData() override;

  TCustomDocView* Control;
  TRVFontInfoCache* FontInfoCache = nullptr;
  // The cursor the mouse handling asked for last.
  TCursor ShownCursor = 0;
  // The smart-popup button shown next to an item (a child window of the control).
  std::unique_ptr<TRVSmartPopupButton> SmartPopupButton;
  // Places the button at the bottom right of its item's last draw item, within the
  // document area; frees it when the item has no draw item.
  void AdjustSmartPopupPosition();
  void AfterControlsRepositioned(TCustomRVData* rvdata) override;
  uint8_t GetCheckpointEventKind() override;
  bool IsAssignedCheckpointVisible() override;
  void DoCheckpointVisible(TRVCPInfo* cp) override;

  TRVOptions GetOptions() override;
  void SetOptions(TRVOptions value) override;
  TRVFOptions GetRVFOptions() override;
  void SetRVFOptions(TRVFOptions value) override;
  TRVRTFOptions GetRTFOptions() override;
  void SetRTFOptions(TRVRTFOptions value) override;
  TRVFReaderStyleMode GetRVFTextStylesReadMode() override;
  TRVFReaderStyleMode GetRVFParaStylesReadMode() override;
  TRVPaletteAction GetDoInPaletteMode() override;
  TRVStyle* GetRVStyle() override;
  TRVBiDiMode GetBiDiMode() override;
  AnsiString GetDelimiters() override;
  uint16_t GetFlags() override;
  void SetFlags(uint16_t value) override;
  int32_t GetMaxLength() override;
  // The viewer's window, which the controls of control items live in.
  TObject* GetParentControl() override;
  bool IsRootOfControl() override { return true; }
  TStringList* GetDocProperties() override;

  TCanvas* GetCanvas() override;
  int32_t GetLeftMargin() override;
  int32_t GetRightMargin() override;
  int32_t GetTopMargin() override;
  int32_t GetBottomMargin() override;
  int32_t GetMinTextWidth() override;
  int32_t GetMaxTextWidth() override;
  int32_t GetAreaWidth() override;
  int32_t GetAreaHeight() override;
  int32_t GetDocumentAreaWidth() override;
  int32_t GetHOffs() override;
  int32_t GetVOffs() override;
  int32_t GetVSmallStep() override;
  int32_t GetVAlignOffset() override;
  void GetOrigin(int32_t& x, int32_t& y) override;
  bool SetDocumentAreaSize(int32_t width, int32_t height, bool redraw) override;
  void AdjustVScrollUnits() override;
  void ScrollTo(int32_t y, bool redraw) override;
  void HScrollTo(int32_t x) override;
  TColor GetColor() override;
  // The cell editor's document, else the chosen sub-document the control keeps.
  TCustomRVFormattedData* GetActiveSubData() override;
  void SetActiveSubData(TCustomRVFormattedData* rvdata, TCustomRVItemInfo* item) override;
  void ClearActiveSubData() override;
  TCustomRVItemInfo* GetActiveSubDataItem() override;
  TCustomRVData* GetChosenRVData() override;
  TRVBackground* GetBackground() override;
  bool IsFocused() override;
  void InvalidateRectangle(const TRect& r) override;
  void UpdateView() override;
  void RefreshControl() override;
  void ShowItemHint(TCustomRVData* rvdata, int32_t item_no) override;
  void UpdateControl() override;

  TRVFontInfoCache* CreateFontInfoCache(TCanvas* canvas) override;
  TRVFontInfoCache* GetFontInfoCache(TCanvas* canvas, TCustomRVFormattedData* requester) override;
  void DestroyFontInfoCache(TRVFontInfoCache*& cache) override;
  void Clear() override;
  bool AllowAnimation() override;
  void AfterAnimatorInserted() override;

  // Event forwarding.
  void DoURLNeeded(int32_t id, AnsiString& url) override;
  void DoJump(int32_t id) override;
  // To the control's window; the control answers with StartOleDrag.
  void PostDragStart() override;
  // A drag may start unless rvoDisallowDrag is on or a drag runs.
  bool CanStartDragging() override;
  bool IsAssignedCopy() override;
  void DoCopy() override;
  void DoRVMouseMove(int32_t id) override;
  void DoRVMouseDown(int32_t button, uint32_t shift, int32_t item_no, int32_t x, int32_t y) override;
  void DoRVMouseUp(int32_t button, uint32_t shift, int32_t item_no, int32_t x, int32_t y) override;
  void DoRVDblClick(const AnsiString& word, int32_t style_no) override;
  bool IsAssignedOnJump() override;
  bool IsAssignedOnRVDblClick() override;
  void SetControlCursor(TCursor cursor) override;
  TCursor GetControlCursor() override;
  void DoRVRightClick(const AnsiString& word, int32_t style_no, int32_t x, int32_t y) override;
  void DoItemHint(TCustomRVData* rvdata, int32_t item_no, AnsiString& hint) override;
  // The control's events; without a handler, those of the document itself.
  TObject* DoRVFImageListNeeded(int32_t image_list_tag) override;
  TObject* DoRVFControlNeeded(const AnsiString& name, const TRVTag& tag) override;
  TGraphic* DoRVFPictureNeeded(const AnsiString& name, const TRVTag& tag) override;
  bool SaveComponentToFile(const AnsiString& path, TObject* control, TRVSaveFormat format, AnsiString& out) override;
  // A picture or bullet read as a hyperlink becomes a hot picture or hotspot for the event.
  void DoReadHyperlink(const AnsiString& target, const AnsiString& extras, TRVLoadFormat doc_format,
                       int32_t& style_no, TRVTag& item_tag, AnsiString& item_name) override;
  // The target of hyperlink id for an export: the event's, else the URL the owner gives.
  void DoWriteHyperlink(int32_t id, TCustomRVData* rvdata, int32_t item_no, TRVSaveFormat format,
                        AnsiString& target, AnsiString& extras) override;

 protected:
  void FireOnSelect() override;

 private:
  std::unique_ptr<TRVWidgetParent> parent_window_;
};

}  // namespace pelvar
