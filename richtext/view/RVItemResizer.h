// The resize frame of the single selected picture or control of an editor: eight handles
// around the item's draw item, the handle under the mouse with its cursor, and a rubber
// frame that follows a dragged handle, optionally keeping the item's proportions or
// growing around its centre. The editable document creates it, routes the mouse to it and
// applies the finished size as one undoable step.
//
// Coordinates: the draw item's Left and Top are document coordinates; callers pass client
// points with the document's scroll offsets (document = client + offset). Handle and frame
// positions are relative to the draw item's top-left corner.
#pragma once

#include <cstdint>

#include "platform/canvas.h"
#include "platform/screen.h"

namespace pelvar {

class TRVDrawLineInfo;
class TCustomRVItemInfo;

// Shift-state bits the resizer reads (the framework's TShiftState).
constexpr uint32_t rvrsShift = 1, rvrsCtrl = 4;

// Corner handles keep the proportions without Shift too (on at start).
extern bool RVProportionalCornerResize;

class TRVItemResizer {
 public:
  // Handles: 0 top-left, 1 top-right, 2 bottom-right, 3 bottom-left, 4 top middle,
  // 5 right middle, 6 bottom middle, 7 left middle.
  static constexpr int32_t kHandleCount = 8;

  TRVItemResizer(TRVDrawLineInfo* draw_item, TCustomRVItemInfo* item, int32_t draw_item_no);

  int32_t Width = 0, Height = 0;
  TRVDrawLineInfo* DrawItem() const { return draw_item_; }
  int32_t DrawItemNo() const { return draw_item_no_; }
  int32_t ItemNo = 0;
  TCustomRVItemInfo* Item() const { return item_; }
  bool Dragging() const { return dragging_; }
  bool Cancelled() const { return cancelled_; }
  int32_t DraggedHandle() const { return handle_; }
  TRect Frame() const { return frame_; }
  // Set by the document when the item asks for its handles outside its frame.
  bool HandlesOutside = false;

  void GetHandlePos(int32_t handle, bool shifted, int32_t& x, int32_t& y) const;
  static TCursor GetHandleCursor(int32_t handle);
  void DrawHandles(TCanvas& canvas, int32_t hoffs, int32_t voffs) const;
  bool HitTestHandle(int32_t x, int32_t y, int32_t hoffs, int32_t voffs, int32_t& handle) const;
  bool StartDrag(int32_t x, int32_t y, int32_t hoffs, int32_t voffs);
  void Drag(uint32_t shift, int32_t x, int32_t y, int32_t hoffs, int32_t voffs);
  void DrawRubberFrame(TCanvas& canvas, int32_t hoffs, int32_t voffs) const;
  void FinishDrag();
  void Cancel();

 private:
  int32_t Shift() const;
  TRVDrawLineInfo* draw_item_;
  int32_t draw_item_no_;
  bool dragging_ = false;
  bool cancelled_ = false;
  int32_t grab_x_ = 0, grab_y_ = 0;
  TRect frame_;
  int32_t handle_ = 0;
  TCustomRVItemInfo* item_;
};

}  // namespace pelvar
