// Picture animation: a bitmap holding frames in a grid plays frame by frame, each picture
// with its own animator; the animators of a viewer share one list that a single timer
// drives with the shortest time any animator has left.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <vector>

#include "richtext/model/RVGraphics.h"
#include "richtext/model/RVItem.h"

namespace pelvar {

class TCustomRVFormattedData;
class TRVAnimatorList;

class TRVAnimator : public TRVAnimatorBase {
 public:
  TRVAnimator(TCustomRVFormattedData* rvdata, TRVGraphicItemInfo* item) : Item(item), RVData(rvdata) {}
  // Leaves its list.
  ~TRVAnimator() override;

  TRVAnimatorList* List = nullptr;
  int32_t FrameIndex = 0;
  TRVGraphicItemInfo* Item;
  int32_t TimeLeft = 0;
  TCustomRVFormattedData* RVData;

  virtual int32_t GetFrameCount() = 0;
  virtual void FrameHidden() {}
  virtual void Reset() = 0;
  virtual void ChangeFrame() = 0;
  void Update(TCustomRVFormattedData* rvdata, TRVGraphicItemInfo* item);
  // Shows the current frame on the control when the item is in view; false when not.
  bool ShowFrame();
};

// Frames of a bitmap in columns of the item's width and rows of its height.
class TRVBitmapAnimator : public TRVAnimator {
 public:
  using TRVAnimator::TRVAnimator;
  int32_t GetFrameCount() override;
  void Reset() override;
  void ChangeFrame() override;
  void DrawFrame(int32_t x, int32_t y, TCanvas& canvas) override;
};

class TRVAnimatorList {
 public:
  static constexpr int32_t MaxAnimators = 300;
  TRVAnimatorList() = default;
  ~TRVAnimatorList() { Clear(); }

  std::vector<TRVAnimator*> Items;  // the items own their animators
  bool TimerActive = false;
  int32_t NextDelay = INT_MAX;
  int32_t TimerPeriod = INT_MAX;

  int32_t Count() const { return static_cast<int32_t>(Items.size()); }
  // Takes an animator in (reset); a full list frees it and leaves the slot empty.
  void Add(std::unique_ptr<TRVAnimatorBase>& animator);
  void Remove(TRVAnimator* animator);
  // Forgets every animator (they stay with their items).
  void Clear();
  // Frees every animator (their items lose them).
  void FreeAll();
  void ResetAll();
  // One timer period (NextDelay) elapsed.
  void Tick();
};

// The animator factory of the viewer (stored in AnimatorFactory at start-up).
void MakeBitmapAnimator(TRVGraphicItemInfo* item, TCustomRVData* rvdata, std::unique_ptr<TRVAnimatorBase>& animator);

}  // namespace pelvar
