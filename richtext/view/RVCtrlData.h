// Documents between the formatted document and the concrete ones: a document shown by a
// windowed control (painting through an off-screen picture with an error text in place
// of a half-painted window, the Tab focus between focusable items), a document owned by
// an item (a table cell's) that answers the control questions neutrally, and the list of
// item-owned documents with the flag word they report.
#pragma once

#include <cstdint>
#include <memory>

#include "richtext/view/CRVFData.h"

class QWidget;

namespace pelvar {

enum TRVTabNavigationType : uint8_t { rvtnNone, rvtnTab, rvtnCtrlTab };

constexpr uint32_t rvstFocusByMouse = 1u << 11;

class TRVControlData : public TCustomRVFormattedData {
 public:
  TRVControlData() = default;

  int32_t TabNavItemNo = -1;
  TCustomRVFormattedData* TabNavRVData = nullptr;
  TRVTabNavigationType TabNavigation = rvtnTab;

  void ClearTemporal() override;
  void SetFocusedItem(int32_t item_no, TCustomRVFormattedData* inner_rvdata, int32_t inner_item_no);
  void Deselect(TCustomRVItemInfo* new_partially_selected, bool make_event) override;
  void DrawTabFocus(TCanvas& canvas);
  void ExecuteTabFocused();
  // Paints the clip rectangle of the control: background and document into an off-screen
  // picture, copied to canvas; a painting failure of the Exception family is written in
  // red at (0, 0) over what was painted.
  void PaintBuffered(TCanvas& canvas, const TRect& clip);
  // Moves the Tab focus to the next (previous) focusable item; False when the document
  // has none left in that direction.
  bool DoTabNavigation(bool backward);

 protected:
  // The off-screen picture (a Qt image by default).
  virtual std::unique_ptr<TCanvas> CreateBufferCanvas(int32_t width, int32_t height);
  bool IsFocusableItem(int32_t item_no);
};

class TRVDataList;

class TRVItemFormattedData : public TRVControlData {
 public:
  explicit TRVItemFormattedData(TRVDataList* owner) : Owner(owner) {}
  TRVDataList* Owner;

  TCustomRVData* GetParentData() override;
  TCustomRVData* GetAbsoluteParentData() override { return GetParentData(); }
  TCustomRVData* GetRootData() override;
  TCustomRVData* GetAbsoluteRootData() override;
  uint16_t GetFlags() override;
  void SetFlags(uint16_t value) override;
  int32_t GetFirstVisibleItem() override { return 0; }
  int32_t GetLastVisibleItem() override { return ItemCount() - 1; }
  void DoURLNeeded(int32_t id, AnsiString& url) override;
};

class TRVDataList {
 public:
  TRVDataList() = default;
  virtual ~TRVDataList() = default;
  uint16_t Flags = 0x0412;
  std::vector<std::unique_ptr<TRVItemFormattedData>> Items;
  virtual TCustomRVData* GetParentRVData() { return nullptr; }
};

}  // namespace pelvar
