#include "richtext/view/RVItemResizer.h"

#include <cmath>
#include <cstdlib>

#include "richtext/model/RVItem.h"
#include "richtext/view/DLines.h"

namespace pelvar {

bool RVProportionalCornerResize = true;

namespace {
// Which edges a handle moves.
struct TEdges {
  bool left, top, right, bottom;
};
constexpr TEdges kEdges[TRVItemResizer::kHandleCount] = {
    {true, true, false, false},  {false, true, true, false}, {false, false, true, true}, {true, false, false, true},
    {false, true, false, false}, {false, false, true, false}, {false, false, false, true}, {true, false, false, false}};

// The integer nearest to v, a tie going to the even one.
int32_t RoundEven(double v) { return static_cast<int32_t>(std::nearbyint(v)); }
}  // namespace

TRVItemResizer::TRVItemResizer(TRVDrawLineInfo* draw_item, TCustomRVItemInfo* item, int32_t draw_item_no)
    : draw_item_(draw_item), draw_item_no_(draw_item_no), item_(item) {
  Width = draw_item->Width;
  Height = draw_item->Height;
  ItemNo = draw_item->ItemNo;
}

int32_t TRVItemResizer::Shift() const { return HandlesOutside || Width < 12 || Height < 12 ? -3 : 3; }

void TRVItemResizer::GetHandlePos(int32_t handle, bool shifted, int32_t& x, int32_t& y) const {
  const int32_t w = Width, h = Height;
  static constexpr int8_t kX[kHandleCount] = {0, 2, 2, 0, 1, 2, 1, 0};  // 0 left, 1 middle, 2 right
  static constexpr int8_t kY[kHandleCount] = {0, 0, 2, 2, 0, 1, 2, 1};
  if (handle < 0 || handle >= kHandleCount) {
    x = y = 0;
    return;
  }
  const int8_t hx = kX[handle], hy = kY[handle];
  x = hx == 0 ? 0 : hx == 1 ? w / 2 : w;
  y = hy == 0 ? 0 : hy == 1 ? h / 2 : h;
  if (shifted) {
    const int32_t s = Shift();
    if (hx == 0) x += s;
    if (hx == 2) x -= s;
    if (hy == 0) y += s;
    if (hy == 2) y -= s;
  }
}

TCursor TRVItemResizer::GetHandleCursor(int32_t handle) {
  switch (handle) {
    case 0:
    case 2: return crSizeNWSE;
    case 1:
    case 3: return crSizeNESW;
    case 4:
    case 6: return crSizeNS;
    case 5:
    case 7: return crSizeWE;
    default: return crDefault;
  }
}

void TRVItemResizer::DrawHandles(TCanvas& canvas, int32_t hoffs, int32_t voffs) const {
  canvas.Pen().Width = 1;
  canvas.Pen().Color = clBlack;
  canvas.Pen().Style = psSolid;
  canvas.Brush().SetStyle(bsClear);
  for (int32_t i = 0; i < kHandleCount; ++i) {
    int32_t x, y;
    GetHandlePos(i, true, x, y);
    x += draw_item_->Left - hoffs;
    y += draw_item_->Top - voffs;
    canvas.Pen().Mode = pmCopy;
    canvas.Rectangle(TRect{x - 3, y - 3, x + 3, y + 3});
    canvas.Pen().Mode = pmNot;
    canvas.Rectangle(TRect{x - 2, y - 2, x + 2, y + 2});
    canvas.Rectangle(TRect{x - 1, y - 1, x + 1, y + 1});
  }
  canvas.Pen().Mode = pmCopy;
}

bool TRVItemResizer::HitTestHandle(int32_t x, int32_t y, int32_t hoffs, int32_t voffs, int32_t& handle) const {
  const int32_t px = x + hoffs - draw_item_->Left, py = y + voffs - draw_item_->Top;
  for (int32_t i = 0; i < kHandleCount; ++i) {
    int32_t hx, hy;
    GetHandlePos(i, true, hx, hy);
    if (std::abs(px - hx) <= 3 && std::abs(py - hy) <= 3) {
      handle = i;
      return true;
    }
  }
  return false;
}

bool TRVItemResizer::StartDrag(int32_t x, int32_t y, int32_t hoffs, int32_t voffs) {
  int32_t h;
  if (!HitTestHandle(x, y, hoffs, voffs, h)) return false;
  dragging_ = true;
  cancelled_ = false;
  handle_ = h;
  int32_t hx, hy;
  GetHandlePos(h, false, hx, hy);
  grab_x_ = x + hoffs - draw_item_->Left - hx;
  grab_y_ = y + voffs - draw_item_->Top - hy;
  frame_ = TRect{0, 0, draw_item_->Width, draw_item_->Height};
  return true;
}

void TRVItemResizer::Drag(uint32_t shift, int32_t x, int32_t y, int32_t hoffs, int32_t voffs) {
  const int32_t px = x + hoffs - grab_x_ - draw_item_->Left;
  const int32_t py = y + voffs - grab_y_ - draw_item_->Top;
  const int32_t w0 = draw_item_->Width, h0 = draw_item_->Height;
  TRect f{0, 0, w0, h0};
  const TEdges e = kEdges[handle_];
  if (e.left) f.Left = px;
  if (e.right) f.Right = px;
  if (e.top) f.Top = py;
  if (e.bottom) f.Bottom = py;
  // At least 2 pixels each way.
  if (f.Left >= f.Right - 1) {
    if (e.left) f.Left = f.Right - 2;
    if (e.right) f.Right = f.Left + 2;
  }
  if (f.Top >= f.Bottom - 1) {
    if (e.top) f.Top = f.Bottom - 2;
    if (e.bottom) f.Bottom = f.Top + 2;
  }
  const bool ctrl = shift & rvrsCtrl;
  if (ctrl) {
    if (e.left) f.Right = w0 - f.Left;
    if (e.top) f.Bottom = h0 - f.Top;
    if (e.right) f.Left = w0 - f.Right;
    if (e.bottom) f.Top = h0 - f.Bottom;
  }
  const bool proportional = (shift & rvrsShift) || (RVProportionalCornerResize && handle_ <= 3);
  if (proportional) {
    int32_t w = w0, h = h0;
    if (auto* rect = dynamic_cast<TRVRectItemInfo*>(item_)) {
      w -= 2 * rect->GetSpacing();
      h -= 2 * rect->GetSpacing();
    }
    if (w >= 1 && h >= 1) {
      const double a = static_cast<double>(f.Right - f.Left) / w;
      const double b = static_cast<double>(f.Bottom - f.Top) / h;
      if (a > b) {
        const int32_t t = RoundEven(a * h) - (f.Bottom - f.Top);
        if (ctrl) {
          f.Top -= t / 2;
          f.Bottom += t / 2;
        } else if (e.top) {
          f.Top -= t;
        } else {
          f.Bottom += t;
        }
      } else {
        const int32_t t = RoundEven(b * w) - (f.Right - f.Left);
        if (ctrl) {
          f.Left -= t / 2;
          f.Right += t / 2;
        } else if (e.left) {
          f.Left -= t;
        } else {
          f.Right += t;
        }
      }
    }
  }
  frame_ = f;
}

void TRVItemResizer::DrawRubberFrame(TCanvas& canvas, int32_t hoffs, int32_t voffs) const {
  canvas.Pen().Mode = pmNot;
  canvas.Pen().Width = 1;
  canvas.Pen().Style = psDot;
  canvas.Brush().SetStyle(bsClear);
  canvas.Rectangle(TRect{draw_item_->Left + frame_.Left - hoffs, draw_item_->Top + frame_.Top - voffs,
                         draw_item_->Left + frame_.Right - hoffs, draw_item_->Top + frame_.Bottom - voffs});
  canvas.Pen().Mode = pmCopy;
  canvas.Pen().Style = psSolid;
}

void TRVItemResizer::FinishDrag() {
  if (!cancelled_) {
    Width = frame_.Right - frame_.Left;
    Height = frame_.Bottom - frame_.Top;
  }
  dragging_ = false;
  cancelled_ = false;
}

void TRVItemResizer::Cancel() {
  dragging_ = false;
  cancelled_ = true;
}

}  // namespace pelvar
