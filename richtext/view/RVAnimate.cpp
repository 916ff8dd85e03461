#include "richtext/view/RVAnimate.h"

#include <algorithm>

#include "richtext/view/CRVFData.h"

namespace pelvar {

namespace {
// The animation's start-up: picture items ask this factory for their animators.
const bool kFactorySet = [] {
  AnimatorFactory = MakeBitmapAnimator;
  return true;
}();
}  // namespace

// ---- Animator ----------------------------------------------------------------------------------

TRVAnimator::~TRVAnimator() {
  if (List) List->Remove(this);
}

void TRVAnimator::Update(TCustomRVFormattedData* rvdata, TRVGraphicItemInfo* item) {
  if (rvdata) RVData = rvdata;
  Item = item;
}

bool TRVAnimator::ShowFrame() {
  if (!RVData) return false;
  const int32_t item_no = RVData->GetItemNo(Item);
  if (item_no < 0) return false;
  const int32_t d = RVData->FindDrawItemOfItem(item_no);
  if (d < 0 || d >= RVData->DrawLines.Count()) return false;
  TRVDrawLineInfo* dli = RVData->DrawLines[d];
  int32_t ox, oy;
  RVData->GetOriginEx(ox, oy);
  const int32_t y = oy + dli->Top - RVData->GetVOffs();
  const int32_t x = ox + dli->Left - RVData->GetHOffs();
  const int32_t h = Item->GetImageHeight() + 2 * Item->Spacing;
  if (!(y < RVData->GetAreaHeight() && y + h > 0)) return false;
  // The control repaints the frame's box (painting happens in its paint event).
  RVData->InvalidateRectangle(TRect{x, y, x + Item->GetImageWidth() + 2 * Item->Spacing, y + h});
  return true;
}

int32_t TRVBitmapAnimator::GetFrameCount() {
  auto* b = dynamic_cast<TBitmap*>(Item->Image.get());
  const int32_t w = Item->GetImageWidth(), h = Item->GetImageHeight();
  if (!b || w <= 0 || h <= 0) return 0;
  return (b->Width() / w) * (b->Height() / h);
}

void TRVBitmapAnimator::Reset() {
  TimeLeft = Item->Interval * 10;
  FrameIndex = 0;
}

void TRVBitmapAnimator::ChangeFrame() {
  TimeLeft = Item->Interval * 10;
  if (++FrameIndex >= GetFrameCount()) FrameIndex = 0;
}

void TRVBitmapAnimator::DrawFrame(int32_t x, int32_t y, TCanvas& canvas) {
  TGraphic* g = Item->ImageCopy ? Item->ImageCopy.get() : Item->Image.get();
  auto* b = dynamic_cast<TBitmap*>(g);
  const int32_t w = Item->GetImageWidth(), h = Item->GetImageHeight();
  if (!b || w <= 0 || h <= 0) return;
  const int32_t columns = std::max(b->Width() / w, 1);
  const int32_t col = FrameIndex % columns, row = FrameIndex / columns;
  canvas.StretchPixels(TRect{x, y, x + w, y + h}, b->Image, TRect{col * w, row * h, col * w + w, row * h + h});
}

// ---- List --------------------------------------------------------------------------------------

void TRVAnimatorList::Add(std::unique_ptr<TRVAnimatorBase>& slot) {
  auto* a = dynamic_cast<TRVAnimator*>(slot.get());
  if (!a) return;
  if (Count() >= MaxAnimators) {
    slot.reset();
    return;
  }
  a->Reset();
  NextDelay = std::min(NextDelay, a->TimeLeft);
  Items.push_back(a);
  a->List = this;
}

void TRVAnimatorList::Remove(TRVAnimator* a) {
  Items.erase(std::remove(Items.begin(), Items.end(), a), Items.end());
  if (Items.empty()) TimerActive = false;
}

void TRVAnimatorList::Clear() {
  for (TRVAnimator* a : Items) a->List = nullptr;
  Items.clear();
  TimerActive = false;
}

void TRVAnimatorList::FreeAll() {
  const std::vector<TRVAnimator*> all = Items;
  Clear();
  for (TRVAnimator* a : all)
    if (a->Item && a->Item->Animator.get() == a) a->Item->Animator.reset();
  NextDelay = INT_MAX;
}

void TRVAnimatorList::ResetAll() {
  NextDelay = INT_MAX;
  for (TRVAnimator* a : Items) {
    a->Reset();
    NextDelay = std::min(NextDelay, a->TimeLeft);
  }
}

void TRVAnimatorList::Tick() {
  const int32_t elapsed = NextDelay;
  NextDelay = INT_MAX;
  for (TRVAnimator* a : Items) {
    a->TimeLeft -= elapsed;
    if (a->TimeLeft < 1) {
      a->ChangeFrame();
      if (!a->ShowFrame()) a->FrameHidden();
    }
    NextDelay = std::min(NextDelay, a->TimeLeft);
  }
}

// ---- Factory and the document's list -------------------------------------------------------------

void MakeBitmapAnimator(TRVGraphicItemInfo* item, TCustomRVData* rvdata, std::unique_ptr<TRVAnimatorBase>& animator) {
  auto* fd = dynamic_cast<TCustomRVFormattedData*>(rvdata);
  if (fd && fd->AllowAnimation() && item->Interval > 0 && dynamic_cast<TBitmap*>(item->Image.get())) {
    TRVBitmapAnimator probe(fd, item);
    if (probe.GetFrameCount() > 1) {
      if (animator && !dynamic_cast<TRVBitmapAnimator*>(animator.get())) animator.reset();
      if (!animator) {
        animator = std::make_unique<TRVBitmapAnimator>(fd, item);
        fd->InsertAnimator(animator);
      } else {
        auto* a = static_cast<TRVBitmapAnimator*>(animator.get());
        a->Update(fd, item);
        a->Reset();
      }
      return;
    }
  }
  animator.reset();
}

void TCustomRVFormattedData::InsertAnimator(std::unique_ptr<TRVAnimatorBase>& animator) {
  auto* root = dynamic_cast<TCustomRVFormattedData*>(GetAbsoluteRootData());
  if (root && root != this) {
    root->InsertAnimator(animator);
    return;
  }
  if (!AnimatorList) AnimatorList = std::make_unique<TRVAnimatorList>();
  AnimatorList->Add(animator);
  if (animator) AfterAnimatorInserted();
}

void TCustomRVFormattedData::ResetAnimation() {
  auto* root = dynamic_cast<TCustomRVFormattedData*>(GetAbsoluteRootData());
  if (root && root != this) return root->ResetAnimation();
  if (AnimatorList) AnimatorList->ResetAll();
}

void TCustomRVFormattedData::ForgetAnimators() {
  if (AnimatorList) AnimatorList->Clear();
}

}  // namespace pelvar
